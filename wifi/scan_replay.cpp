#include "wifi/scan_replay.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

namespace wifi {

namespace {

constexpr std::streamoff kMaxDumpFileBytes = 256 << 20;

}  // namespace

std::unique_ptr<ScanReplay> ScanReplay::Load(const std::string& path, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode) || info.st_size > kMaxDumpFileBytes) {
        error = path + " is not a scan dump (not a regular file of at most 256 MB)";
        return nullptr;
    }
    std::ifstream in(path, std::ios::binary);
    const std::streamoff size = info.st_size;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        error = "cannot read " + path;
        return nullptr;
    }
    const size_t slash = path.find_last_of('/');
    auto replay =
        FromBytes(bytes, slash == std::string::npos ? path : path.substr(slash + 1), error);
    if (!replay) {
        error = path + ": " + error;
    }
    return replay;
}

std::unique_ptr<ScanReplay> ScanReplay::FromBytes(const std::vector<uint8_t>& bytes,
                                                  const std::string& name, std::string& error) {
    ScanDumps parsed = ParseScanDumps(bytes.data(), bytes.size());
    std::unique_ptr<ScanReplay> replay(new ScanReplay());
    replay->m_name = name;
    for (ScanDump& dump : parsed.dumps) {
        if (dump.error < 0) {
            replay->m_loadWarnings.push_back("scan " + std::to_string(replay->m_scans.size() + 1) +
                                             " ended with an error from the kernel; left out");
            continue;
        }
        replay->m_scans.push_back(std::move(dump));
    }
    if (parsed.cut) {
        replay->m_loadWarnings.push_back(parsed.cutMessage + "; that last scan is left out");
    }
    if (replay->m_scans.empty()) {
        error = parsed.cut ? parsed.cutMessage + ", and no whole scan comes before it"
                           : "no scan in it";
        return nullptr;
    }
    return replay;
}

void ScanReplay::SetPace(int ms, std::function<int64_t()> nowMs) {
    m_paceMs = std::max(0, ms);
    m_nowMs = std::move(nowMs);
}

void ScanReplay::Start() {
    m_current = &m_scans[m_next];
    m_next = (m_next + 1) % m_scans.size();
    m_status = ScanStatus::kRunning;
    m_error.clear();
    m_heard.clear();
    m_warnings = m_current->warnings;
    m_startMs = m_nowMs ? m_nowMs() : SteadyNowMs();
}

ScanStatus ScanReplay::Poll(std::chrono::milliseconds timeout) {
    if (m_status != ScanStatus::kRunning) {
        return m_status;
    }
    const std::vector<BssEntry>& all = m_current->entries;
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
    }
}

}  // namespace wifi
