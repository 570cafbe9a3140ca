#include "wifi/wifi_scan_source.h"

#include <algorithm>
#include <mutex>

#include "platform/message_box.h"
#include "platform/window_messages.h"
#include "survey/record_list.h"
#include "wifi/scan_merge.h"

namespace wifi {

WifiScanSource::WifiScanSource(std::unique_ptr<wifi::ScanSource> scans, int scansPerPoint,
                               std::function<void(const std::string&)> warn,
                               std::function<int64_t()> nowMs)
    : m_scans(std::move(scans)),
      m_scansPerPoint(std::max(1, scansPerPoint)),
      m_warn(std::move(warn)),
      m_nowMs(std::move(nowMs)) {}

WifiScanSource::~WifiScanSource() {
    Disconnect();
}

int64_t WifiScanSource::Now() const {
    return m_nowMs ? m_nowMs() : SteadyNowMs();
}

void WifiScanSource::Connect(platform::WindowHandle* view) {
    m_view = view;
    if (!m_scans->Open()) {
        platform::MessageBox("Wi-Fi: " + m_scans->Error(), platform::kApplicationTitle,
                             platform::kMbOk);
    }
}

void WifiScanSource::Disconnect() {
    m_scans->Cancel();
    m_view = nullptr;
}

void WifiScanSource::StartScreenTexts(std::string& left, std::string& right) {
    const std::string name = m_scans->AdapterName();
    const std::string driver = m_scans->AdapterDriver();
    left = "(" + (name.empty() ? std::string("Wi-Fi") : name) + ")";
    right = "(" + (driver.empty() ? std::string("not ready") : driver) + ")";
}

void WifiScanSource::BeginSweep(int32_t, int32_t) {
    m_scans->Cancel();  // nothing should be running; if it is, it is not this point's
    m_finished.clear();
    m_runningShown = 0;
    m_requested = true;
    m_done = false;
    m_gaveUpReason.clear();
    m_startMs = Now();
    m_endMs = -1;
    m_scans->Start();
}

SweepState WifiScanSource::ContinueSweep() {
    if (m_done) {
        return SweepState::kDone;
    }
    if (!m_requested) {
        return SweepState::kGaveUp;
    }
    switch (m_scans->Poll(kPassMs)) {
        case ScanStatus::kRunning:
            if (m_scans->Heard().size() != m_runningShown) {
                m_runningShown = m_scans->Heard().size();
                ShowScans(&m_scans->Heard());
                PostDraw();
            }
            return SweepState::kRunning;
        case ScanStatus::kDone:
            break;
        case ScanStatus::kIdle:
        case ScanStatus::kFailed:
            return GiveUp(m_scans->Error());
    }

    if (m_warn) {
        for (const std::string& warning : m_scans->Warnings()) {
            m_warn(m_scans->AdapterName() + ": " + warning);
        }
    }
    m_finished.push_back(m_scans->Heard());
    m_runningShown = 0;
    ShowScans(nullptr);
    PostDraw();
    if (static_cast<int>(m_finished.size()) < m_scansPerPoint) {
        m_scans->Start();
        return SweepState::kRunning;
    }
    m_done = true;
    m_endMs = Now();
    return SweepState::kDone;
}

bool WifiScanSource::TakeFinishedSweep() {
    if (!m_requested || !m_done) {
        return false;
    }
    m_requested = false;
    m_done = false;
    return true;
}

std::string WifiScanSource::ProgressText() const {
    const int64_t end = m_endMs >= 0 ? m_endMs : Now();
    return std::to_string(std::max<int64_t>(0, end - m_startMs) / 1000) + " s";
}

void WifiScanSource::ShowScans(const std::vector<BssEntry>* running) {
    {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        g_scanList.Clear();
    }
    for (const std::vector<BssEntry>& scan : m_finished) {
        MergeIntoScanList(scan);
    }
    if (running != nullptr) {
        MergeIntoScanList(*running);
    }
}

SweepState WifiScanSource::GiveUp(const std::string& error) {
    m_scans->Cancel();
    m_finished.clear();
    ShowScans(nullptr);  // nothing of this point is to be recorded
    m_requested = false;
    m_endMs = Now();
    m_gaveUpReason = "The Wi-Fi scan failed: " + (error.empty() ? "it did not start" : error) + ".";
    return SweepState::kGaveUp;
}

void WifiScanSource::PostDraw() {
    if (m_view != nullptr) {
        static const platform::MessageId draw = platform::RegisterWindowMessage("KORV_DRAW");
        m_view->PostMessage(draw, 0, 0);
    }
}

}  // namespace wifi
