#include "platform/clock.h"

#include <mutex>

namespace platform {

namespace {
std::mutex g_sourceMutex;
std::function<uint32_t()> g_source;
}  // namespace

uint32_t CurrentTimeSeconds() {
    {
        std::lock_guard<std::mutex> lock(g_sourceMutex);
        if (g_source) {
            return g_source();
        }
    }
    return static_cast<uint32_t>(std::time(nullptr));
}

std::tm LocalTimeNow() {
    std::time_t t = static_cast<std::time_t>(CurrentTimeSeconds());
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

void SetTimeSourceForTest(std::function<uint32_t()> source) {
    std::lock_guard<std::mutex> lock(g_sourceMutex);
    g_source = std::move(source);
}

}  // namespace platform
