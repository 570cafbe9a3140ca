// Where a walking surveyor was at each moment. The surveyor marks the start
// and every turn; between two marks they walked the straight line at an even
// pace, so the place at any moment is found by linear interpolation in time
// between the corners around it. Time is walk time: it runs from the start
// and stands still while the walk is paused. No Qt.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace walk {

struct Place {
    double x = 0;  // map pixels
    double y = 0;
};

// Walk time (seconds) from the wall clock (milliseconds on a steady clock):
// runs from Start and stands still between Pause and Resume. Any moment since
// the start can be asked about, also one before a pause that came later.
class WalkClock {
  public:
    void Start(int64_t wallMs);
    void Pause(int64_t wallMs);
    void Resume(int64_t wallMs);
    bool Started() const { return m_started; }
    bool Paused() const { return m_paused; }
    // 0 before the start.
    double At(int64_t wallMs) const;

  private:
    struct Halt {
        int64_t from;
        int64_t to;  // INT64_MAX while it lasts
    };
    bool m_started = false;
    bool m_paused = false;
    int64_t m_startMs = 0;
    std::vector<Halt> m_pauses;
};

struct Corner {
    Place place;
    double timeS = 0;  // walk time when the surveyor was there
};

class WalkPath {
  public:
    // A corner reached at walk time `timeS`, never before the last one's
    // (an earlier time is taken as the last one's).
    void Add(Place place, double timeS);
    // A path planned in advance: the corners walked at `speed` map pixels a
    // second from walk time 0.
    static WalkPath Planned(const std::vector<Place>& corners, double speed);

    const std::vector<Corner>& Corners() const { return m_corners; }
    bool Empty() const { return m_corners.empty(); }
    // The walk time of the last corner (0 without corners).
    double EndTimeS() const { return m_corners.empty() ? 0 : m_corners.back().timeS; }
    double LengthPixels() const;

    // The place at walk time t: between the two corners around it, in
    // proportion to the time; at the first corner before it and at the last
    // after it. Several corners at one time (clicks in one instant) give the
    // last of them. Nothing without corners.
    std::optional<Place> At(double timeS) const;

  private:
    std::vector<Corner> m_corners;
};

// One scan of the walk, in wall-clock milliseconds.
struct ScanSpan {
    int64_t startMs = 0;
    int64_t endMs = 0;
};

// Where a scan is placed: the walk time halfway through it in real time
// (a pause in between keeps the clock, so the halfway moment of a scan that
// ran on into a pause is where the pause began).
double HalfwayTimeS(const WalkClock& clock, const ScanSpan& scan);

enum class Placing {
    kPlace,  // its place is known: at()
    kWait,   // halfway through it lies beyond the last corner: wait for the next one
    kDrop,   // the walk ended and it began after the last corner: no place
};

// Decides a finished scan's fate on `path` (the corners so far). While the
// walk goes on, a scan whose halfway moment lies past the last corner waits
// for the next corner; once the walk has ended, it is placed at the last
// corner if it began before that corner was reached, else dropped.
Placing PlaceScan(const WalkPath& path, const WalkClock& clock, const ScanSpan& scan, bool ended,
                  Place& at);

}  // namespace walk
