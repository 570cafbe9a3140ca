// A scan source for the view's tests: no scanner behind it, just the states
// the view asks about, set by the test. A sweep finishes on its first pass
// unless the test says otherwise.
#pragma once

#include <string>

#include "platform/window_messages.h"
#include "scanner/scan_source.h"

class FakeScanSource : public ScanSource {
  public:
    void Connect(platform::WindowHandle* view) override {
        this->view = view;
        ++connects;
    }
    void Disconnect() override { view = nullptr; }
    void RequestIdentity() override { ++identityRequests; }
    void StartScreenTexts(std::string& left, std::string& right) override {
        left = "(Firmware " + firmware + ")";
        right = "(SN " + serial + ")";
    }
    void BeginSweep(int32_t x, int32_t y) override {
        requested = true;
        finished = false;
        heading = true;
        sweepX = x;
        sweepY = y;
        ++sweeps;
    }
    SweepState ContinueSweep() override {
        finished = outcome == SweepState::kDone;
        if (outcome == SweepState::kGaveUp) {
            requested = false;
        }
        return outcome;
    }
    bool IsSweepRequested() const override { return requested; }
    bool TakeFinishedSweep() override {
        if (!requested || !finished) {
            return false;
        }
        requested = false;
        finished = false;
        return true;
    }
    void CancelSweep() override {
        requested = false;
        finished = false;
        ++cancels;
    }
    std::string GaveUpReason() const override { return gaveUpReason; }
    SweepDetails FinishedSweepDetails() const override { return details; }
    std::string ProgressText() const override { return progress; }
    bool ShowsScanHeading() const override { return heading; }

    platform::WindowHandle* view = nullptr;
    int connects = 0;
    int identityRequests = 0;
    int sweeps = 0;
    int cancels = 0;
    int32_t sweepX = 0;
    int32_t sweepY = 0;
    std::string firmware;
    std::string serial;
    std::string progress = "1";
    bool heading = false;
    bool requested = false;
    bool finished = false;
    SweepState outcome = SweepState::kDone;
    std::string gaveUpReason;
    SweepDetails details;
};
