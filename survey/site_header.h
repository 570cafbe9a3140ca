// The in-memory state of the open site: the file's header image, the status
// counters, the point being recorded and the point last selected on the map.
#pragma once

#include <cstdint>
#include <memory>

constexpr int kFileHeaderSize = 150;
constexpr int kPointHeaderSize = 42;
constexpr int kApEntrySize = 41;

class CSiteHeader {
  public:
    void ClearPoints();
    void BeginPoint(int32_t x, int32_t y, const char* name);
    int CommitPoint();
    void GetStrongestRssi(int16_t& rssi) const { rssi = m_strongestRssi; }
    int SelectPointNear(int32_t x, int32_t y);
    void DeleteSelectedPoint();

    int32_t m_pointCount = 0;  // status bar "L"
    int32_t m_apCount = 0;     // status bar "P"
    double m_selX = 0;
    double m_selY = 0;
    int32_t m_selApCount = 0;
    int32_t m_selBestRssi = 0;
    int32_t m_selFirstIndex = 0;
    char m_selBestMac[16] = {};
    char m_selBestSsid[256] = {};
    uint8_t m_fileHeader[kFileHeaderSize] = {};
    uint32_t m_pointHeaderSize = 0;
    uint32_t m_apEntrySize = 0;
    uint8_t m_pointBuf[kPointHeaderSize] = {};
    uint8_t m_apBuf[kApEntrySize] = {};
    int16_t m_strongestRssi = -90;
    int32_t m_curX = 0;
    int32_t m_curY = 0;
    char m_curName[32] = {};
};

// Null until the first site file is accepted.
extern std::unique_ptr<CSiteHeader> g_siteHeader;
