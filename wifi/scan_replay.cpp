#include "wifi/scan_replay.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "wifi/dump_file.h"

namespace wifi {

std::unique_ptr<ScanReplay> ScanReplay::Load(const std::string& path, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadDumpFile(path, bytes, error)) {
        return nullptr;
    }
    const size_t slash = path.find_last_of('/');
    auto replay = FromBytes(std::move(bytes),
                            slash == std::string::npos ? path : path.substr(slash + 1), error);
    if (!replay) {
        error = path + ": " + error;
    }
    return replay;
}

std::unique_ptr<ScanReplay> ScanReplay::FromBytes(std::vector<uint8_t> bytes,
                                                  const std::string& name, std::string& error) {
    std::unique_ptr<ScanReplay> replay(new ScanReplay());
    replay->m_name = name;
    size_t offset = 0;
    std::string cutMessage;
    while (offset < bytes.size()) {
        bool cut = false;
        const ScanDump dump = ParseSavedScan(bytes.data(), bytes.size(), offset, cut, cutMessage);
        if (cut) {
            replay->m_loadWarnings.push_back(cutMessage + "; that last scan is left out");
            break;
        }
        if (dump.error < 0) {
            replay->m_loadWarnings.push_back("scan " + std::to_string(replay->m_scans.size() + 1) +
                                             " ended with an error from the kernel; left out");
        } else {
            replay->m_scans.push_back({dump.begin, dump.end});
        }
        offset = dump.end;  // past at least one 16-byte message
    }
    if (replay->m_scans.empty()) {
        error = !cutMessage.empty() ? cutMessage + ", and no whole scan comes before it"
                                    : "no scan in it";
        return nullptr;
    }
    replay->m_bytes = std::move(bytes);
    return replay;
}

void ScanReplay::SetPace(int ms, std::function<int64_t()> nowMs) {
    m_paceMs = std::max(0, ms);
    m_nowMs = std::move(nowMs);
}

void ScanReplay::Start() {
    m_current = m_scans[m_next];
    m_next = (m_next + 1) % m_scans.size();
    bool cut = false;
    std::string cutMessage;
    ScanDump dump =
        ParseSavedScan(m_bytes.data(), m_bytes.size(), m_current.begin, cut, cutMessage);
    DropStaleEntries(dump);
    m_all = std::move(dump.entries);
    m_survey = std::move(dump.survey);
    m_warnings = std::move(dump.warnings);
    m_status = ScanStatus::kRunning;
    m_error.clear();
    m_heard.clear();
    m_startMs = m_nowMs ? m_nowMs() : SteadyNowMs();
}

std::vector<uint8_t> ScanReplay::SavedScan() const {
    if (m_status != ScanStatus::kDone) {
        return {};
    }
    return std::vector<uint8_t>(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_current.begin),
                                m_bytes.begin() + static_cast<std::ptrdiff_t>(m_current.end));
}

ScanStatus ScanReplay::Poll(std::chrono::milliseconds timeout) {
    if (m_status != ScanStatus::kRunning) {
        return m_status;
    }
    const std::vector<BssEntry>& all = m_all;
    if (m_paceMs == 0) {
        m_heard = all;
        m_status = ScanStatus::kDone;
        return m_status;
    }
    auto now = [this] { return m_nowMs ? m_nowMs() : SteadyNowMs(); };
    const int64_t end = m_startMs + m_paceMs;
    if (!m_nowMs) {
        // A real clock: wait as a scan would, but never past the scan's end.
        const int64_t wait = std::min<int64_t>(timeout.count(), end - now());
        if (wait > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        }
    }
    const int64_t elapsed = std::min<int64_t>(now() - m_startMs, m_paceMs);
    const size_t count = all.size() * static_cast<size_t>(std::max<int64_t>(0, elapsed)) /
                         static_cast<size_t>(m_paceMs);
    m_heard.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count));
    if (elapsed >= m_paceMs) {
        m_status = ScanStatus::kDone;
    }
    return m_status;
}

void ScanReplay::Cancel() {
    if (m_status == ScanStatus::kRunning) {
        m_status = ScanStatus::kFailed;
        m_error = "the scan was cancelled";
        m_heard.clear();
        m_survey.clear();
    }
}

}  // namespace wifi
