// What the survey view needs of a scanner, whatever it is: the serial unit,
// the simulated unit, or the computer's own Wi-Fi adapter. The application
// builds one at start-up and hands it to the view, which brings it up, asks
// for its identity after the start-up pause, and runs one sweep per survey
// point. A sweep fills g_scanList; the view commits the point once the
// source says the sweep is finished.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {
class WindowHandle;
}

enum class SweepState {
    kRunning,  // call ContinueSweep again
    kDone,     // everything heard is in g_scanList; TakeFinishedSweep commits it
    kGaveUp,   // the scanner did not respond: nothing is to be committed
};

// What a finished sweep learnt beyond the scan list, where the scanner knows
// it: the Wi-Fi adapter reports each BSSID's frequency and channel width and
// can measure each channel's noise; the scanner unit reports neither.
struct SweepBssChannel {
    std::array<uint8_t, 6> mac{};
    int frequencyMhz = 0;
    int widthMhz = 0;  // 0 where not known
};
struct SweepNoise {
    int frequencyMhz = 0;
    double noiseDbm = 0;
};
struct SweepDetails {
    std::vector<SweepBssChannel> channels;
    std::vector<SweepNoise> noise;
    // The levels were derived from a signal-quality figure, not measured.
    bool levelsEstimated = false;
    // What the scanner reported that cannot be true and was left out, one
    // line each naming the access point.
    std::vector<std::string> refused;
};

// Where the surveyor is right now, in map pixels; false when not known.
// Asked from any thread.
using SurveyorPlace = std::function<bool(double& x, double& y)>;

class ScanSource {
  public:
    virtual ~ScanSource() = default;

    // Brings the scanner up (opens its port, starts its threads). Progress
    // messages (KORV_DRAW) go to `view`. A scanner that cannot be reached is
    // reported to the surveyor here; the program carries on without it.
    virtual void Connect(platform::WindowHandle* view) = 0;
    // Stops the scanner's threads and its posts to the view (program exit).
    virtual void Disconnect() = 0;

    // The first request after the start-up pause (the unit's firmware version).
    virtual void RequestIdentity() = 0;
    // The two texts of the start screen, e.g. "(Firmware CV-2.10)" and "(SN A1B2C3)".
    virtual void StartScreenTexts(std::string& left, std::string& right) = 0;

    // Starts the sweep of a survey point taken at map position (x, y);
    // g_scanList has just been emptied.
    virtual void BeginSweep(int32_t x, int32_t y) = 0;
    // One pass of the sweep loop; waits a fraction of a second at most, so
    // the caller can repaint between passes.
    virtual SweepState ContinueSweep() = 0;
    // A sweep has been begun and neither committed nor given up.
    virtual bool IsSweepRequested() const = 0;
    // When the sweep has finished and is waiting to be committed, marks it
    // committed and answers true; otherwise answers false.
    virtual bool TakeFinishedSweep() = 0;
    // Abandons the sweep running now (the surveyor cancelled it): nothing is
    // to be committed, and results still on their way are dropped.
    virtual void CancelSweep() = 0;
    // After kGaveUp: why, as one sentence, where the source knows more than
    // that the scanner did not respond; empty otherwise.
    virtual std::string GaveUpReason() const { return std::string(); }
    // After kDone and until the next BeginSweep: what else the sweep learnt.
    virtual SweepDetails FinishedSweepDetails() const { return SweepDetails(); }

    // A walking survey: a scanner that models what is heard where (the
    // simulated unit) hears at the place `where` answers at each moment,
    // rather than where the sweep was begun; empty stops it. Real scanners
    // hear where they are and ignore it.
    virtual void FollowSurveyor(SurveyorPlace where) { (void)where; }

    // The longest one ContinueSweep may block: a window that handles its
    // events between calls keeps it short. Scanners that never block ignore it.
    virtual void SetSweepSlice(std::chrono::milliseconds slice) { (void)slice; }

    // The scan screen: the progress figure shown beside the radar (the
    // channel step), and whether the list heading shows.
    virtual std::string ProgressText() const = 0;
    virtual bool ShowsScanHeading() const = 0;
};
