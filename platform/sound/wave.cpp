#include "platform/sound/wave.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {

namespace {
uint32_t Read32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
}  // namespace

bool ParseWave(const uint8_t* bytes, size_t size, WaveSound& out) {
    if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) {
        return false;
    }
    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= size) {
        const uint8_t* chunk = bytes + pos;
        const uint32_t length = Read32(chunk + 4);
        if (length > size - pos - 8) {
            return false;
        }
        const uint8_t* body = chunk + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || Read16(body) != 1) {
                return false;  // not PCM
            }
            out.channels = Read16(body + 2);
            out.sampleRate = Read32(body + 4);
            out.bitsPerSample = Read16(body + 14);
            if (out.channels < 1 || out.channels > 2 || out.sampleRate == 0 ||
                (out.bitsPerSample != 8 && out.bitsPerSample != 16)) {
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                return false;
            }
            out.samples.assign(body, body + length);
            return true;
        }
        pos += 8 + length + (length & 1);
    }
    return false;
}

WaveSound SynthesiseTone(unsigned frequencyHz, unsigned durationMs) {
    WaveSound tone;
    tone.sampleRate = 11025;
    const size_t count = tone.sampleRate * durationMs / 1000;
    tone.samples.resize(count);
    const double step = 2.0 * M_PI * frequencyHz / tone.sampleRate;
    for (size_t i = 0; i < count; ++i) {
        // A short fade at both ends keeps the tone from clicking.
        const double fade =
            std::min({1.0, static_cast<double>(i) / 200.0, static_cast<double>(count - i) / 200.0});
        tone.samples[i] = static_cast<uint8_t>(128 + 90 * fade * std::sin(step * i));
    }
    return tone;
}

}  // namespace platform
