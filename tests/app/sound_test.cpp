#include <gtest/gtest.h>

#include <QFile>
#include <cstring>

#include "platform/sound/sound.h"
#include "platform/sound/wave.h"
#include "qt_test_app.h"
#include "res/resources.h"

namespace {

std::vector<uint8_t> MakeWave(uint16_t format, uint16_t channels, uint16_t bits,
                              const std::vector<uint8_t>& samples, bool withFmt = true) {
    std::vector<uint8_t> out;
    auto put32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    };
    auto put16 = [&out](uint16_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto tag = [&out](const char* t) { out.insert(out.end(), t, t + 4); };
    tag("RIFF");
    put32(0);
    tag("WAVE");
    tag("LIST");  // a chunk to skip, odd-sized with its pad byte
    put32(3);
    out.insert(out.end(), {'a', 'b', 'c', 0});
    if (withFmt) {
        tag("fmt ");
        put32(16);
        put16(format);
        put16(channels);
        put32(11025);
        put32(11025u * channels * bits / 8);
        put16(static_cast<uint16_t>(channels * bits / 8));
        put16(bits);
    }
    tag("data");
    put32(static_cast<uint32_t>(samples.size()));
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

TEST(WaveTest, ReadsPcmAndSkipsOtherChunks) {
    const std::vector<uint8_t> bytes = MakeWave(1, 1, 8, {1, 2, 3, 4, 5});
    platform::WaveSound sound;
    ASSERT_TRUE(platform::ParseWave(bytes.data(), bytes.size(), sound));
    EXPECT_EQ(sound.channels, 1u);
    EXPECT_EQ(sound.sampleRate, 11025u);
    EXPECT_EQ(sound.bitsPerSample, 8u);
    EXPECT_EQ(sound.samples, std::vector<uint8_t>({1, 2, 3, 4, 5}));
}

TEST(WaveTest, RefusesWhatItCannotPlaySafely) {
    platform::WaveSound sound;
    const std::vector<uint8_t> compressed = MakeWave(2, 1, 8, {1, 2});
    EXPECT_FALSE(platform::ParseWave(compressed.data(), compressed.size(), sound));
    const std::vector<uint8_t> noFormat = MakeWave(1, 1, 8, {1, 2}, false);
    EXPECT_FALSE(platform::ParseWave(noFormat.data(), noFormat.size(), sound));
    const std::vector<uint8_t> oddBits = MakeWave(1, 1, 12, {1, 2});
    EXPECT_FALSE(platform::ParseWave(oddBits.data(), oddBits.size(), sound));
    // A data chunk that claims more bytes than the file holds.
    std::vector<uint8_t> truncated = MakeWave(1, 1, 8, {1, 2, 3, 4});
    truncated.resize(truncated.size() - 2);
    EXPECT_FALSE(platform::ParseWave(truncated.data(), truncated.size(), sound));
    EXPECT_FALSE(platform::ParseWave(truncated.data(), 3, sound));
}

TEST(WaveTest, ProgramSoundsAreReadableWaves) {
    EnsureQtApplication();
    InitKestrowResources();
    for (const char* name : {":/sounds/PING", ":/sounds/REDALERT"}) {
        QFile file(QString::fromLatin1(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        const QByteArray bytes = file.readAll();
        platform::WaveSound sound;
        EXPECT_TRUE(platform::ParseWave(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                        static_cast<size_t>(bytes.size()), sound))
            << name;
        EXPECT_FALSE(sound.samples.empty()) << name;
    }
}

TEST(WaveTest, TonesStayInsideTheSampleRange) {
    const platform::WaveSound tone = platform::SynthesiseTone(880, 100);
    EXPECT_EQ(tone.samples.size(), 1102u);
    for (uint8_t sample : tone.samples) {
        EXPECT_GE(sample, 128 - 91);
        EXPECT_LE(sample, 128 + 91);
    }
}

// Whatever the machine has for audio, playing returns: unknown names play
// the default sound, and muting makes every call silent.
TEST(SoundTest, PlayingAlwaysReturns) {
    EnsureQtApplication();
    platform::SetSoundEnabled(true);
    platform::PlayWaveAsync("ping");
    platform::PlayWaveAsync("no-such-sound");
    platform::MessageBeep(0x30);
    platform::PlayWaveSync("NO-SUCH-SOUND");
    platform::SetSoundEnabled(false);
    platform::PlayWaveSync("redalert");
}

}  // namespace
