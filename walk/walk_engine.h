// The walking survey: scans run back to back on any scan source while the
// surveyor walks, and each finished scan becomes a survey point at the place
// on the path where the surveyor was halfway through it (walk_path.h).
//
//   walk::WalkEngine engine(scanner, survey);   // survey: commits and journals
//   engine.Start({120, 200});                   // the first click
//   ...every pass of the event loop: engine.Poll();
//   engine.Turn({300, 200});                    // a click at a turn
//   engine.End();                               // double-click or Esc
//   ...Poll() until it answers kEnded
//
// A walk planned in advance (a script's path and speed) knows every corner
// from the start and ends by itself at the last. Poll runs on one thread (the
// user interface's); the surveyor's place it gives the scan source is asked
// from the scanner's own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scanner/scan_source.h"
#include "walk/walk_path.h"

class CRecordList;

namespace walk {

struct WalkPoint {
    int32_t x = 0;
    int32_t y = 0;
    std::string name;
};

// What a walk added since it last told: corners reached and points taken.
struct WalkProgress {
    bool begun = false;  // the first report of this walk
    bool ended = false;  // the last
    double speed = 0;    // metres a second (pixels without a scale); 0 not known yet
    std::vector<Corner> corners;
    std::vector<WalkPoint> points;
};

// The survey a walk adds to: the same commit path as a tap's.
class WalkSurvey {
  public:
    virtual ~WalkSurvey() = default;
    // The name the next point will have.
    virtual std::string NextPointName() = 0;
    // Commits `scan` as the survey point `name` at (x, y), as a tap's
    // finished sweep is committed (journaled, shown); false when it was not.
    virtual bool CommitWalkPoint(int32_t x, int32_t y, const std::string& name,
                                 const CRecordList& scan, const SweepDetails& details) = 0;
    // The walk grew. A point is told before it is committed, so that a
    // journal never holds a walk's point without knowing it for one.
    virtual void WalkProgressed(const WalkProgress& progress) = 0;
};

enum class WalkState {
    kIdle,       // not started
    kWalking,    // scanning back to back
    kPaused,     // clock and scanning stopped; a scan under way finishes
    kFinishing,  // ended; the scan under way finishes and is placed or dropped
    kEnded,
};

class WalkEngine {
  public:
    // After a scan the scanner gave up on, the next begins this much later.
    static constexpr int64_t kRetryMs = 1000;

    // nowMs: the steady clock in milliseconds (platform's by default).
    // pixelsPerUnit: map pixels a metre where the site has a scale, else 1;
    // speeds are given and reported in its units a second.
    WalkEngine(ScanSource& source, WalkSurvey& survey, double pixelsPerUnit = 1,
               std::function<int64_t()> nowMs = nullptr);
    ~WalkEngine();
    WalkEngine(const WalkEngine&) = delete;
    WalkEngine& operator=(const WalkEngine&) = delete;

    // A walk marked by clicks, from its first corner. Until the next corner
    // a scanner that models the air hears at `SetSurveyorPlace`'s place (the
    // last corner when none is given).
    void Start(Place first);
    // A walk along `corners` at `speed` (units a second): its scanner hears
    // at the true place at each moment, and it ends by itself at the last
    // corner.
    void StartPlanned(const std::vector<Place>& corners, double speed);

    void Turn(Place at);
    void Pause();
    void Resume();
    // Ends the walk at its last corner.
    void End();
    // One pass: carries the scan under way on (waiting a fraction of a
    // second at most), places finished scans, starts the next one.
    WalkState Poll();

    // Where the surveyor is said to be now, for a scanner that models the
    // air during a walk marked by clicks (e.g. the pointer on the plan).
    void SetSurveyorPlace(Place place);

    WalkState State() const { return m_state; }
    const WalkPath& Path() const { return m_path; }
    bool Scanning() const { return m_scanning; }
    size_t PointsTaken() const { return m_taken; }
    // Finished scans whose place waits for the next corner.
    size_t ScansWaiting() const { return m_waiting.size(); }
    // Scans that began after the last corner of an ended walk.
    size_t ScansDropped() const { return m_dropped; }
    // Scans the scanner gave up on, and why the last one failed.
    size_t ScansFailed() const { return m_failed; }
    const std::string& LastFailure() const { return m_lastFailure; }
    // Walk time now, seconds.
    double WalkTimeS() const;

  private:
    struct FinishedScan {
        ScanSpan span;
        std::unique_ptr<CRecordList> records;
        SweepDetails details;
    };

    int64_t Now() const;
    void Begin(Place first, bool planned);
    void BeginScan();
    void PlaceWaiting(bool ended);
    void Finish();
    void Report();
    bool TruePlace(double& x, double& y);

    ScanSource& m_source;
    WalkSurvey& m_survey;
    double m_pixelsPerUnit;
    std::function<int64_t()> m_nowMs;

    WalkState m_state = WalkState::kIdle;
    bool m_planned = false;
    double m_plannedSpeed = 0;  // units a second
    WalkClock m_clock;
    WalkPath m_path;
    bool m_scanning = false;
    int64_t m_scanStartMs = 0;
    int64_t m_retryAtMs = 0;
    std::vector<FinishedScan> m_waiting;
    size_t m_taken = 0;
    size_t m_dropped = 0;
    size_t m_failed = 0;
    std::string m_lastFailure;

    // Not yet reported.
    WalkProgress m_progress;
    size_t m_cornersReported = 0;

    // What the scanner's thread reads to know the surveyor's place.
    std::mutex m_placeMutex;
    WalkClock m_placeClock;
    WalkPath m_placePath;  // planned walks
    bool m_hasPointer = false;
    Place m_pointer;
};

}  // namespace walk
