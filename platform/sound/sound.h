// Sound playback: wave resources from the Qt resource file (":/sounds/NAME",
// names matched without regard to case) played through ALSA. A name no
// resource bears plays the default sound. Without an audio device every call
// is silent and returns promptly.
#pragma once

namespace platform {

// Starts the sound and returns at once; a new sound replaces the one playing.
void PlayWaveAsync(const char* name);

// Plays the sound and returns when it has ended.
void PlayWaveSync(const char* name);

// The system beep of a message-box type (0x30 exclamation, ...); returns at once.
void MessageBeep(unsigned type);

// Silences every sound (the environment variable KESTROW_SOUND=off does the
// same at start).
void SetSoundEnabled(bool enabled);

}  // namespace platform
