// Current time, replaceable in tests.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>

namespace platform {

// Seconds since 1 January 1970, as the platform's calendar time.
uint32_t CurrentTimeSeconds();

// Local broken-down time of CurrentTimeSeconds().
std::tm LocalTimeNow();

// Replaces the time source (nullptr-equivalent: an empty function restores the system clock).
void SetTimeSourceForTest(std::function<uint32_t()> source);

}  // namespace platform
