// A source of Wi-Fi scans for a survey point: the adapter (WifiScanner) or
// saved scans played back (ScanReplay). Driven from the UI thread's loop, which
// polls with a short time-out and repaints in between:
//
//   source.Start();
//   while (source.Poll(std::chrono::milliseconds(100)) == ScanStatus::kRunning) {
//       repaint: seconds elapsed, source.Heard() so far
//   }
//   kDone: merge source.Heard(); kFailed: tell source.Error(), record nothing
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "wifi/scan_dump.h"

namespace wifi {

// Milliseconds on the steady clock: the time a scan source keeps.
inline int64_t SteadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

enum class ScanStatus { kIdle, kRunning, kDone, kFailed };

class ScanSource {
  public:
    virtual ~ScanSource() = default;

    // Makes the source ready for its first scan (chooses the adapter). False,
    // with Error(), when it cannot be; Start() tries again.
    virtual bool Open() { return true; }
    // Begins one scan (a failure shows in Status() and Error()).
    virtual void Start() = 0;
    // Carries the scan on for at most `timeout` and answers where it stands.
    virtual ScanStatus Poll(std::chrono::milliseconds timeout) = 0;
    // Gives the running scan up: it ends as failed and records nothing.
    virtual void Cancel() = 0;

    virtual ScanStatus Status() const = 0;
    // The access points heard so far by the running scan; all of them once done.
    virtual const std::vector<BssEntry>& Heard() const = 0;
    // Once done: the adapter's channel survey after the scan (each channel's
    // noise, where the driver measures it), and the scan as a file of saved
    // scans holds it (its note, its results, its survey).
    virtual const std::vector<ChannelSurvey>& Survey() const = 0;
    virtual std::vector<uint8_t> SavedScan() const = 0;
    // Why the scan failed, as one line.
    virtual const std::string& Error() const = 0;
    // Malformed messages skipped while reading the results.
    virtual const std::vector<std::string>& Warnings() const = 0;
    // For the start screen: the adapter's interface name and driver.
    virtual std::string AdapterName() const = 0;
    virtual std::string AdapterDriver() const = 0;
};

}  // namespace wifi
