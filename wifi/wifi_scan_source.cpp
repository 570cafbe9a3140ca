#include "wifi/wifi_scan_source.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>

#include "platform/message_box.h"
#include "platform/window_messages.h"
#include "survey/record_list.h"
#include "wifi/dump_file.h"
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

void WifiScanSource::Warn(const std::string& line) const {
    if (m_warn) {
        m_warn(m_scans->AdapterName() + ": " + line);
    }
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
    m_complete = false;
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
                const std::vector<BssEntry> running = OnePerBssid(m_scans->Heard(), nullptr);
                ShowScans(&running);
                PostDraw();
            }
            return SweepState::kRunning;
        case ScanStatus::kDone:
            break;
        case ScanStatus::kIdle:
        case ScanStatus::kFailed:
            return GiveUp(m_scans->Error());
    }

    FinishScan();
    m_runningShown = 0;
    ShowScans(nullptr);
    PostDraw();
    if (static_cast<int>(m_finished.size()) < m_scansPerPoint) {
        m_scans->Start();
        return SweepState::kRunning;
    }
    m_done = true;
    m_complete = true;
    m_endMs = Now();
    return SweepState::kDone;
}

void WifiScanSource::CancelSweep() {
    if (m_requested && !m_done) {
        m_scans->Cancel();
    }
    m_requested = false;
    m_done = false;
    m_finished.clear();
    m_runningShown = 0;
}

bool WifiScanSource::TakeFinishedSweep() {
    if (!m_requested || !m_done) {
        return false;
    }
    m_requested = false;
    m_done = false;
    return true;
}

// Takes the finished scan into the point: its warnings told, its impossible
// levels refused, saved where asked, and estimated levels told once.
void WifiScanSource::FinishScan() {
    std::vector<std::string> warnings = m_scans->Warnings();
    FinishedScan scan{OnePerBssid(m_scans->Heard(), &warnings), m_scans->Survey()};
    for (const std::string& warning : warnings) {
        Warn(warning);
    }
    std::string error;
    if (!m_savePath.empty() && !AppendDumpFile(m_savePath, m_scans->SavedScan(), error)) {
        Warn("the scan was not saved: " + error);
    }
    const bool estimated = std::any_of(scan.heard.begin(), scan.heard.end(), LevelIsEstimated);
    if (estimated && !m_toldEstimated) {
        m_toldEstimated = true;
        const std::string driver = m_scans->AdapterDriver();
        const std::string text = "The Wi-Fi adapter" + (driver.empty() ? "" : " (" + driver + ")") +
                                 " reports only a signal quality, not levels: the levels recorded "
                                 "are estimates (quality 0 to 100 as -100 to -50 dBm).";
        Warn(text);
        platform::MessageBox(text, "COVERAGE WARNING", platform::kMbOk);
    }
    m_finished.push_back(std::move(scan));
}

SweepDetails WifiScanSource::FinishedSweepDetails() const {
    SweepDetails details;
    if (!m_complete) {
        return details;
    }
    std::map<std::array<uint8_t, 6>, size_t> where;
    std::map<uint32_t, std::pair<double, int>> noise;  // frequency: sum, count
    for (const FinishedScan& scan : m_finished) {
        for (const BssEntry& e : scan.heard) {
            SweepBssChannel channel;
            std::copy(e.bssid, e.bssid + 6, channel.mac.begin());
            channel.frequencyMhz = static_cast<int>(e.frequency);
            channel.widthMhz = e.widthMhz;
            const auto [it, fresh] = where.emplace(channel.mac, details.channels.size());
            if (fresh) {
                details.channels.push_back(channel);
            } else {
                details.channels[it->second] = channel;  // the latest scan's
            }
            details.levelsEstimated = details.levelsEstimated || LevelIsEstimated(e);
        }
        for (const ChannelSurvey& c : scan.survey) {
            if (c.noiseDbm) {
                noise[c.frequency].first += *c.noiseDbm;
                noise[c.frequency].second += 1;
            }
        }
    }
    for (const auto& [frequency, sum] : noise) {
        details.noise.push_back({static_cast<int>(frequency), sum.first / sum.second});
    }
    return details;
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
    for (const FinishedScan& scan : m_finished) {
        MergeIntoScanList(scan.heard);
    }
    if (running != nullptr) {
        MergeIntoScanList(*running);
    }
}

SweepState WifiScanSource::GiveUp(const std::string& error) {
    m_scans->Cancel();
    m_finished.clear();
    m_complete = false;
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
