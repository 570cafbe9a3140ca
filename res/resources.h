// Kestrow's own resources, compiled into the interface library:
//   :/bitmaps/136          start screen, 240 x 290
//   :/bitmaps/137          target mark, 32 x 32
//   :/bitmaps/139 .. 142   radar animation frames, 104 x 104
//   :/bitmaps/128          toolbar strip, seven 16 x 16 cells in button order
//   :/icons/kestrow32, :/icons/kestrow16   application icon
//   :/sounds/PING, :/sounds/REDALERT       8-bit mono 11025 Hz RIFF waves
#pragma once

// Registers the resources with Qt. A static library's resources are only
// linked in when something calls this; calling it again does no harm.
void InitKestrowResources();
