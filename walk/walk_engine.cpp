#include "walk/walk_engine.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "survey/record_list.h"

namespace walk {

namespace {

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int32_t Pixel(double v) {
    return static_cast<int32_t>(std::lround(v));
}

// A copy of the current scan list, taken before the next scan empties it.
std::unique_ptr<CRecordList> CopyScanList() {
    auto copy = std::make_unique<CRecordList>();
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    for (const ApRecord* r = g_scanList.Sentinel()->next; r != g_scanList.Sentinel(); r = r->next) {
        ApRecord* record = nullptr;
        if (copy->AllocRecord(record) != 0) {
            break;  // out of memory: what was copied is the scan
        }
        ApRecord* prev = record->prev;
        ApRecord* next = record->next;
        std::memcpy(record, r, sizeof *record);
        record->prev = prev;
        record->next = next;
        copy->Append(record);
    }
    return copy;
}

}  // namespace

WalkEngine::WalkEngine(ScanSource& source, WalkSurvey& survey, double pixelsPerUnit,
                       std::function<int64_t()> nowMs)
    : m_source(source),
      m_survey(survey),
      m_pixelsPerUnit(pixelsPerUnit > 0 ? pixelsPerUnit : 1),
      m_nowMs(nowMs ? std::move(nowMs) : SteadyMs) {}

WalkEngine::~WalkEngine() {
    m_source.FollowSurveyor(nullptr);
}

int64_t WalkEngine::Now() const {
    return m_nowMs();
}

double WalkEngine::WalkTimeS() const {
    return m_clock.At(Now());
}

void WalkEngine::Start(Place first) {
    Begin(first, false);
}

void WalkEngine::StartPlanned(const std::vector<Place>& corners, double speed) {
    if (corners.empty()) {
        return;
    }
    m_plannedSpeed = speed;
    m_path = WalkPath::Planned(corners, speed * m_pixelsPerUnit);
    Begin(corners.front(), true);
}

void WalkEngine::Begin(Place first, bool planned) {
    if (m_state != WalkState::kIdle) {
        return;
    }
    m_planned = planned;
    const int64_t now = Now();
    m_clock.Start(now);
    if (!planned) {
        m_path = WalkPath();
        m_path.Add(first, 0);
    }
    {
        std::lock_guard<std::mutex> lock(m_placeMutex);
        m_placeClock = m_clock;
        m_placePath = m_path;
    }
    m_state = WalkState::kWalking;
    m_progress = WalkProgress();
    m_progress.begun = true;
    m_progress.speed = planned ? m_plannedSpeed : 0;
    m_source.FollowSurveyor([this](double& x, double& y) { return TruePlace(x, y); });
    Report();
    BeginScan();
}

bool WalkEngine::TruePlace(double& x, double& y) {
    std::lock_guard<std::mutex> lock(m_placeMutex);
    std::optional<Place> place;
    if (m_planned) {
        place = m_placePath.At(m_placeClock.At(Now()));
    } else if (m_hasPointer) {
        place = m_pointer;
    } else {
        place = m_placePath.At(m_placePath.EndTimeS());
    }
    if (!place) {
        return false;
    }
    x = place->x;
    y = place->y;
    return true;
}

void WalkEngine::SetSurveyorPlace(Place place) {
    std::lock_guard<std::mutex> lock(m_placeMutex);
    m_hasPointer = true;
    m_pointer = place;
}

void WalkEngine::BeginScan() {
    double x = 0;
    double y = 0;
    if (!TruePlace(x, y) && !m_path.Empty()) {
        x = m_path.Corners().back().place.x;
        y = m_path.Corners().back().place.y;
    }
    {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        g_scanList.Clear();
    }
    m_scanStartMs = Now();
    m_scanning = true;
    m_source.BeginSweep(Pixel(x), Pixel(y));
}

void WalkEngine::Turn(Place at) {
    if (m_planned || (m_state != WalkState::kWalking && m_state != WalkState::kPaused)) {
        return;
    }
    m_path.Add(at, m_clock.At(Now()));
    {
        std::lock_guard<std::mutex> lock(m_placeMutex);
        m_placePath = m_path;
    }
    PlaceWaiting(false);
    Report();
}

void WalkEngine::Pause() {
    if (m_state != WalkState::kWalking) {
        return;
    }
    m_clock.Pause(Now());
    {
        std::lock_guard<std::mutex> lock(m_placeMutex);
        m_placeClock = m_clock;
    }
    m_state = WalkState::kPaused;
}

void WalkEngine::Resume() {
    if (m_state != WalkState::kPaused) {
        return;
    }
    m_clock.Resume(Now());
    {
        std::lock_guard<std::mutex> lock(m_placeMutex);
        m_placeClock = m_clock;
    }
    m_state = WalkState::kWalking;
}

void WalkEngine::End() {
    if (m_state != WalkState::kWalking && m_state != WalkState::kPaused) {
        return;
    }
    if (m_state == WalkState::kPaused) {
        Resume();
    }
    m_state = WalkState::kFinishing;
    if (!m_scanning) {
        Finish();
    }
}

WalkState WalkEngine::Poll() {
    if (m_state == WalkState::kIdle || m_state == WalkState::kEnded) {
        return m_state;
    }
    if (m_planned && m_state == WalkState::kWalking && m_clock.At(Now()) >= m_path.EndTimeS()) {
        End();
        if (m_state == WalkState::kEnded) {
            return m_state;
        }
    }
    if (!m_scanning) {
        if (m_state == WalkState::kWalking && Now() >= m_retryAtMs) {
            BeginScan();
        }
        return m_state;
    }
    const SweepState sweep = m_source.ContinueSweep();
    if (sweep == SweepState::kRunning) {
        return m_state;
    }
    const int64_t now = Now();
    m_scanning = false;
    if (sweep == SweepState::kDone && m_source.TakeFinishedSweep()) {
        FinishedScan scan;
        scan.span = {m_scanStartMs, now};
        scan.records = CopyScanList();
        scan.details = m_source.FinishedSweepDetails();
        m_waiting.push_back(std::move(scan));
    } else {
        ++m_failed;
        m_lastFailure = m_source.GaveUpReason();
        if (m_lastFailure.empty()) {
            m_lastFailure = "The scanner did not respond.";
        }
        // A scanner that fails at once (no adapter) is not asked again and
        // again without pause.
        m_retryAtMs = now + kRetryMs;
    }
    if (m_state == WalkState::kWalking && now >= m_retryAtMs) {
        BeginScan();  // back to back: the next scan starts before this one is placed
    }
    if (m_state == WalkState::kFinishing) {
        Finish();
    } else {
        PlaceWaiting(false);
        Report();
    }
    return m_state;
}

void WalkEngine::PlaceWaiting(bool ended) {
    size_t done = 0;
    for (; done < m_waiting.size(); ++done) {
        FinishedScan& scan = m_waiting[done];
        Place at;
        const Placing placing = PlaceScan(m_path, m_clock, scan.span, ended, at);
        if (placing == Placing::kWait) {
            break;  // every later scan waits too
        }
        if (placing == Placing::kDrop) {
            ++m_dropped;
            continue;
        }
        const int32_t x = Pixel(at.x);
        const int32_t y = Pixel(at.y);
        const std::string name = m_survey.NextPointName();
        m_progress.points.push_back({x, y, name});
        Report();
        if (m_survey.CommitWalkPoint(x, y, name, *scan.records, scan.details)) {
            ++m_taken;
        }
    }
    m_waiting.erase(m_waiting.begin(), m_waiting.begin() + static_cast<std::ptrdiff_t>(done));
}

void WalkEngine::Finish() {
    PlaceWaiting(true);
    m_state = WalkState::kEnded;
    m_source.FollowSurveyor(nullptr);
    m_progress.ended = true;
    if (!m_planned) {
        // A walk marked by clicks: its mean pace.
        const double t = m_path.EndTimeS();
        m_progress.speed = t > 0 ? m_path.LengthPixels() / t / m_pixelsPerUnit : 0;
    }
    Report();
}

void WalkEngine::Report() {
    const std::vector<Corner>& corners = m_path.Corners();
    // A planned walk tells its corners as the surveyor reaches them.
    size_t reached = corners.size();
    if (m_planned) {
        const double now = m_clock.At(Now());
        reached = 1;
        while (reached < corners.size() && corners[reached].timeS <= now) {
            ++reached;
        }
    }
    const bool cornersNew = m_cornersReported < reached;
    if (!cornersNew && m_progress.points.empty() && !m_progress.begun && !m_progress.ended) {
        return;
    }
    m_progress.corners.assign(corners.begin() + static_cast<std::ptrdiff_t>(m_cornersReported),
                              corners.begin() + static_cast<std::ptrdiff_t>(reached));
    m_cornersReported = reached;
    m_survey.WalkProgressed(m_progress);
    const double speed = m_progress.speed;
    m_progress = WalkProgress();
    m_progress.speed = speed;
}

}  // namespace walk
