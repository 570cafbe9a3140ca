#include "platform/sound/sound.h"

#include <alsa/asoundlib.h>

#include <QFile>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/sound/wave.h"

namespace platform {

namespace {

std::atomic<bool> g_soundEnabled{[] {
    const char* setting = std::getenv("KESTROW_SOUND");
    return setting == nullptr || std::strcmp(setting, "off") != 0;
}()};

// Keeps ALSA's own error printing off standard error: a machine without audio
// is not an error for us.
void SilentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

WaveSound LoadSound(const char* name) {
    static const WaveSound fallback = SynthesiseTone(880, 200);
    QFile file(QStringLiteral(":/sounds/") + QString::fromLatin1(name).toUpper());
    if (!file.open(QIODevice::ReadOnly)) {
        return fallback;
    }
    const QByteArray bytes = file.readAll();
    WaveSound sound;
    if (!ParseWave(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size(), sound)) {
        return fallback;
    }
    return sound;
}

// Writes the sound to the default ALSA device; stops early when the
// generation counter moves on (a newer sound replaces this one). The device
// stays in non-blocking mode and every wait is bounded, so a device that
// stalls costs at most the sound's length and a second, never a hang.
void PlayOnDevice(const WaveSound& sound, const std::atomic<unsigned>& generation,
                  unsigned myGeneration) {
    if (sound.samples.empty()) {
        return;
    }
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(&SilentAlsaErrors); });

    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        return;
    }
    const snd_pcm_format_t format =
        sound.bitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    if (snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED, sound.channels,
                           sound.sampleRate, 1, 100000) < 0) {
        snd_pcm_close(pcm);
        return;
    }
    const size_t frameBytes = sound.channels * sound.bitsPerSample / 8;
    const size_t totalFrames = sound.samples.size() / frameBytes;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(totalFrames * 1000 / sound.sampleRate + 1000);
    auto replaced = [&] { return generation.load() != myGeneration; };
    auto late = [&] { return std::chrono::steady_clock::now() > deadline; };

    size_t done = 0;
    while (done < totalFrames && !replaced() && !late()) {
        snd_pcm_sframes_t written =
            snd_pcm_writei(pcm, sound.samples.data() + done * frameBytes, totalFrames - done);
        if (written == -EAGAIN) {
            snd_pcm_wait(pcm, 50);
        } else if (written < 0) {
            if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0) {
                break;
            }
        } else {
            done += static_cast<size_t>(written);
        }
    }
    // Let what was written play out, then stop the device.
    while (done == totalFrames && !replaced() && !late()) {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm, &delay) < 0 || delay <= 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(
            std::min<long>(50, static_cast<long>(delay) * 1000 / sound.sampleRate + 1)));
    }
    snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
}

// One worker thread plays the asynchronous sounds; synchronous ones play on
// the caller's thread. Only one sound reaches the device at a time.
class Player {
  public:
    Player() : m_worker([this] { Run(); }) {}
    ~Player() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
            ++m_generation;
        }
        m_wake.notify_all();
        m_worker.join();
    }

    void PlayAsync(WaveSound sound) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pending = std::make_unique<WaveSound>(std::move(sound));
            ++m_generation;
        }
        m_wake.notify_all();
    }

    void PlaySync(const WaveSound& sound) {
        unsigned mine;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pending.reset();
            mine = ++m_generation;
        }
        std::lock_guard<std::mutex> device(m_deviceMutex);
        PlayOnDevice(sound, m_generation, mine);
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (true) {
            m_wake.wait(lock, [this] { return m_stopping || m_pending; });
            if (m_stopping) {
                return;
            }
            std::unique_ptr<WaveSound> sound = std::move(m_pending);
            const unsigned mine = m_generation.load();
            lock.unlock();
            {
                std::lock_guard<std::mutex> device(m_deviceMutex);
                PlayOnDevice(*sound, m_generation, mine);
            }
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::unique_ptr<WaveSound> m_pending;
    std::atomic<unsigned> m_generation{0};
    bool m_stopping = false;
    std::mutex m_deviceMutex;
    std::thread m_worker;
};

Player& ThePlayer() {
    static Player player;
    return player;
}

}  // namespace

void PlayWaveAsync(const char* name) {
    if (g_soundEnabled) {
        ThePlayer().PlayAsync(LoadSound(name));
    }
}

void PlayWaveSync(const char* name) {
    if (g_soundEnabled) {
        ThePlayer().PlaySync(LoadSound(name));
    }
}

void MessageBeep(unsigned type) {
    if (g_soundEnabled) {
        ThePlayer().PlayAsync(SynthesiseTone(type == 0x10 ? 440 : 660, 120));
    }
}

void SetSoundEnabled(bool enabled) {
    g_soundEnabled = enabled;
}

}  // namespace platform
