// RIFF wave parsing and the synthesised default sounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

struct WaveSound {
    unsigned channels = 1;
    unsigned sampleRate = 11025;
    unsigned bitsPerSample = 8;  // 8 (unsigned) or 16 (signed little-endian)
    std::vector<uint8_t> samples;
};

// Parses a RIFF/WAVE image holding PCM data of 8 or 16 bits. Answers false for
// anything else, or when a chunk runs past the end of the image.
bool ParseWave(const uint8_t* bytes, size_t size, WaveSound& out);

// A short sine tone, 8-bit mono.
WaveSound SynthesiseTone(unsigned frequencyHz, unsigned durationMs);

}  // namespace platform
