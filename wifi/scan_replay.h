// Saved scans played back as if the adapter heard them: each scan request
// takes the next scan of a dump file (kscan --save-dump), starting again at
// the first after the last.
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
    // Reads the file. A file that ends inside a scan keeps the scans before it
    // (with a warning in LoadWarnings()); one without a single whole scan, or
    // one that cannot be read, gives null and a one-line reason.
    static std::unique_ptr<ScanReplay> Load(const std::string& path, std::string& error);
    // The same from bytes already in memory; `name` stands for the adapter.
    static std::unique_ptr<ScanReplay> FromBytes(const std::vector<uint8_t>& bytes,
                                                 const std::string& name, std::string& error);

    // A scan that lasts `ms` (access points coming in evenly over it) instead
    // of ending at the first poll; `nowMs` is the clock (steady by default).
    void SetPace(int ms, std::function<int64_t()> nowMs = nullptr);

    void Start() override;
    ScanStatus Poll(std::chrono::milliseconds timeout) override;
    void Cancel() override;

    ScanStatus Status() const override { return m_status; }
    const std::vector<BssEntry>& Heard() const override { return m_heard; }
    const std::string& Error() const override { return m_error; }
    const std::vector<std::string>& Warnings() const override { return m_warnings; }
    std::string AdapterName() const override { return m_name; }
    std::string AdapterDriver() const override { return "replayed scans"; }

    size_t ScanCount() const { return m_scans.size(); }
    const std::vector<std::string>& LoadWarnings() const { return m_loadWarnings; }

  private:
    ScanReplay() = default;

    std::string m_name;
    std::vector<ScanDump> m_scans;
    std::vector<std::string> m_loadWarnings;
    size_t m_next = 0;
    const ScanDump* m_current = nullptr;

    ScanStatus m_status = ScanStatus::kIdle;
    std::vector<BssEntry> m_heard;
    std::vector<std::string> m_warnings;
    std::string m_error;
    int m_paceMs = 0;
    std::function<int64_t()> m_nowMs;
    int64_t m_startMs = 0;
};

}  // namespace wifi
