// Paces bytes to the speed of a serial line: 10 bits a byte at the given baud.
// Deadline-based: each byte's arrival is computed from the previous byte's, so
// a late wake-up never makes the line slower or faster on average.
#pragma once

#include <algorithm>
#include <chrono>

namespace sim {

class LinePacer {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // baud 0: bytes take no time at all.
    explicit LinePacer(unsigned baud)
        : m_byteTime(baud == 0 ? Clock::duration::zero()
                               : std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::nanoseconds(10'000'000'000LL / baud))) {}

    Clock::duration ByteTime() const { return m_byteTime; }

    // When a byte that may start at `ready` has wholly crossed the line, given
    // the bytes before it. Nothing changes until Commit.
    TimePoint Completion(TimePoint ready) const { return std::max(m_lineFree, ready) + m_byteTime; }
    void Commit(TimePoint completion) { m_lineFree = completion; }

    // Completion and Commit in one step.
    TimePoint Carry(TimePoint ready) {
        m_lineFree = Completion(ready);
        return m_lineFree;
    }

  private:
    Clock::duration m_byteTime;
    TimePoint m_lineFree = TimePoint::min();
};

}  // namespace sim
