// The computer's Wi-Fi adapter, or saved scans played back, as the survey
// view's scan source. A survey point is one or more whole scans merged into
// g_scanList as the scanner unit's channel steps are merged: one record per
// MAC (one access point per BSSID and scan), its levels summed and counted.
// Only finished scans are merged; while a scan runs, the scan screen shows
// the finished scans of the point together with what the running scan has
// heard so far, rebuilt each time, so nothing is counted twice. What the
// records cannot hold (each BSSID's frequency and channel width, each
// channel's noise, whether the levels were estimated) comes with
// FinishedSweepDetails(). Everything runs on the caller's (the UI) thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scanner/scan_source.h"
#include "wifi/scan_source.h"

namespace wifi {

class WifiScanSource final : public ::ScanSource {
  public:
    // How long one pass of the sweep loop waits on the scan at most.
    static constexpr std::chrono::milliseconds kPassMs{100};

    // scansPerPoint: the scans merged into each survey point (1 or more).
    // warn: told each message skipped while reading a scan, as one line.
    // nowMs: the clock of the seconds shown (steady by default).
    WifiScanSource(std::unique_ptr<wifi::ScanSource> scans, int scansPerPoint,
                   std::function<void(const std::string&)> warn = nullptr,
                   std::function<int64_t()> nowMs = nullptr);
    ~WifiScanSource() override;

    // Chooses the adapter; one that cannot be used is reported in a message
    // box, and each survey point then tries again and says why it failed.
    void Connect(platform::WindowHandle* view) override;
    void Disconnect() override;
    // Nothing to ask: the adapter's name and driver are known once connected.
    void RequestIdentity() override {}
    // The adapter's interface name and driver (for replayed scans, the
    // file's name and "replayed scans").
    void StartScreenTexts(std::string& left, std::string& right) override;

    void BeginSweep(int32_t x, int32_t y) override;
    SweepState ContinueSweep() override;
    bool IsSweepRequested() const override { return m_requested; }
    void CancelSweep() override;
    bool TakeFinishedSweep() override;
    std::string GaveUpReason() const override { return m_gaveUpReason; }

    // Each BSSID of the point with the frequency and width it was last heard
    // on, each channel's noise averaged over the point's scans, and whether
    // any level was estimated from a signal quality.
    SweepDetails FinishedSweepDetails() const override;

    // The whole seconds since the survey point began, e.g. "3 s".
    std::string ProgressText() const override;
    bool ShowsScanHeading() const override { return true; }

    // Appends every finished scan to this file of saved scans (a write that
    // fails is warned about; the survey goes on).
    void SaveScansTo(const std::string& path) { m_savePath = path; }
    // The scans merged into each survey point from the next one on (1 to 100).
    void SetScansPerPoint(int scans) { m_scansPerPoint = std::clamp(scans, 1, 100); }
    int ScansPerPoint() const { return m_scansPerPoint; }

  private:
    struct FinishedScan {
        std::vector<BssEntry> heard;  // one per BSSID
        std::vector<ChannelSurvey> survey;
    };

    int64_t Now() const;
    void Warn(const std::string& line) const;
    void FinishScan();
    // Empties g_scanList and merges the point's finished scans into it, and
    // `running` (the running scan's access points so far) when given.
    void ShowScans(const std::vector<BssEntry>* running);
    SweepState GiveUp(const std::string& error);
    void PostDraw();

    std::unique_ptr<wifi::ScanSource> m_scans;
    int m_scansPerPoint;
    std::function<void(const std::string&)> m_warn;
    std::function<int64_t()> m_nowMs;
    platform::WindowHandle* m_view = nullptr;

    std::vector<FinishedScan> m_finished;  // the point's finished scans
    size_t m_runningShown = 0;             // access points of the running scan on the scan screen
    bool m_requested = false;
    bool m_done = false;
    bool m_complete = false;  // the point's scans are all in, until the next BeginSweep
    int64_t m_startMs = 0;
    int64_t m_endMs = -1;  // the elapsed seconds stop when the sweep ends
    std::string m_gaveUpReason;
    std::string m_savePath;
    bool m_toldEstimated = false;
};

}  // namespace wifi
