// Saved scans played back as if the adapter heard them: each scan request
// takes the next scan of a dump file (kscan --save-dump), starting again at
// the first after the last. A scan saved with its note hands back only what
// was heard after it started, and its channel survey.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wifi/scan_source.h"

namespace wifi {

class ScanReplay : public ScanSource {
  public:
    // Reads the file (at most kMaxDumpFileBytes). A file that ends inside a
    // scan keeps the scans before it (with a warning in LoadWarnings()); one
    // without a single whole scan, or one that cannot be read, gives null and
    // a one-line reason. Each scan is read again when it is played, so only
    // the file and the scan playing are held.
    static std::unique_ptr<ScanReplay> Load(const std::string& path, std::string& error);
    // The same from bytes already in memory; `name` stands for the adapter.
    static std::unique_ptr<ScanReplay> FromBytes(std::vector<uint8_t> bytes,
                                                 const std::string& name, std::string& error);

    // A scan that lasts `ms` (access points coming in evenly over it) instead
    // of ending at the first poll; `nowMs` is the clock (steady by default).
    void SetPace(int ms, std::function<int64_t()> nowMs = nullptr);

    void Start() override;
    ScanStatus Poll(std::chrono::milliseconds timeout) override;
    void Cancel() override;

    ScanStatus Status() const override { return m_status; }
    const std::vector<BssEntry>& Heard() const override { return m_heard; }
    const std::vector<ChannelSurvey>& Survey() const override { return m_survey; }
    std::vector<uint8_t> SavedScan() const override;
    const std::string& Error() const override { return m_error; }
    const std::vector<std::string>& Warnings() const override { return m_warnings; }
    std::string AdapterName() const override { return m_name; }
    std::string AdapterDriver() const override { return "replayed scans"; }

    size_t ScanCount() const { return m_scans.size(); }
    const std::vector<std::string>& LoadWarnings() const { return m_loadWarnings; }

  private:
    ScanReplay() = default;

    struct Span {
        size_t begin;
        size_t end;
    };

    std::string m_name;
    std::vector<uint8_t> m_bytes;
    std::vector<Span> m_scans;
    std::vector<std::string> m_loadWarnings;
    size_t m_next = 0;
    Span m_current{0, 0};
    std::vector<BssEntry> m_all;  // the playing scan's

    ScanStatus m_status = ScanStatus::kIdle;
    std::vector<BssEntry> m_heard;
    std::vector<ChannelSurvey> m_survey;
    std::vector<std::string> m_warnings;
    std::string m_error;
    int m_paceMs = 0;
    std::function<int64_t()> m_nowMs;
    int64_t m_startMs = 0;
};

}  // namespace wifi
