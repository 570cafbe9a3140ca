#include "walk/walk_path.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace walk {

void WalkClock::Start(int64_t wallMs) {
    m_started = true;
    m_paused = false;
    m_startMs = wallMs;
    m_pauses.clear();
}

void WalkClock::Pause(int64_t wallMs) {
    if (m_started && !m_paused) {
        m_paused = true;
        m_pauses.push_back({std::max(wallMs, m_startMs), INT64_MAX});
    }
}

void WalkClock::Resume(int64_t wallMs) {
    if (m_paused) {
        m_paused = false;
        m_pauses.back().to = std::max(wallMs, m_pauses.back().from);
    }
}

double WalkClock::At(int64_t wallMs) const {
    if (!m_started || wallMs <= m_startMs) {
        return 0;
    }
    int64_t stood = 0;
    for (const Halt& p : m_pauses) {
        if (wallMs <= p.from) {
            break;
        }
        stood += std::min(wallMs, p.to) - p.from;
    }
    return static_cast<double>(wallMs - m_startMs - stood) / 1000.0;
}

void WalkPath::Add(Place place, double timeS) {
    if (!m_corners.empty()) {
        timeS = std::max(timeS, m_corners.back().timeS);
    }
    m_corners.push_back({place, timeS});
}

WalkPath WalkPath::Planned(const std::vector<Place>& corners, double speed) {
    WalkPath path;
    double t = 0;
    for (size_t i = 0; i < corners.size(); ++i) {
        if (i > 0 && speed > 0) {
            t += std::hypot(corners[i].x - corners[i - 1].x, corners[i].y - corners[i - 1].y) /
                 speed;
        }
        path.Add(corners[i], t);
    }
    return path;
}

double WalkPath::LengthPixels() const {
    double length = 0;
    for (size_t i = 1; i < m_corners.size(); ++i) {
        length += std::hypot(m_corners[i].place.x - m_corners[i - 1].place.x,
                             m_corners[i].place.y - m_corners[i - 1].place.y);
    }
    return length;
}

std::optional<Place> WalkPath::At(double timeS) const {
    if (m_corners.empty()) {
        return std::nullopt;
    }
    if (timeS < m_corners.front().timeS) {
        return m_corners.front().place;
    }
    // The first corner later than t; the one before it is the last reached.
    const auto next =
        std::upper_bound(m_corners.begin(), m_corners.end(), timeS,
                         [](double t, const Corner& corner) { return t < corner.timeS; });
    if (next == m_corners.end()) {
        return m_corners.back().place;
    }
    const Corner& a = *(next - 1);
    const Corner& b = *next;
    const double f = (timeS - a.timeS) / (b.timeS - a.timeS);  // b is strictly later
    return Place{a.place.x + f * (b.place.x - a.place.x), a.place.y + f * (b.place.y - a.place.y)};
}

double HalfwayTimeS(const WalkClock& clock, const ScanSpan& scan) {
    return clock.At(scan.startMs + (scan.endMs - scan.startMs) / 2);
}

Placing PlaceScan(const WalkPath& path, const WalkClock& clock, const ScanSpan& scan, bool ended,
                  Place& at) {
    if (path.Empty()) {
        return ended ? Placing::kDrop : Placing::kWait;
    }
    const double halfway = HalfwayTimeS(clock, scan);
    if (halfway <= path.EndTimeS()) {
        at = *path.At(halfway);
        return Placing::kPlace;
    }
    if (!ended) {
        return Placing::kWait;
    }
    if (clock.At(scan.startMs) <= path.EndTimeS()) {
        at = path.Corners().back().place;
        return Placing::kPlace;
    }
    return Placing::kDrop;
}

}  // namespace walk
