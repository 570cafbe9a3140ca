// The in-memory state of the open site: the file's header image, the status
// counters, the point being recorded and the point last selected on the map.
#pragma once

#include <cstdint>
#include <memory>

class CRecordList;

constexpr int kFileHeaderSize = 150;
constexpr int kPointHeaderSize = 42;
constexpr int kApEntrySize = 41;

// All operations run on the user-interface thread. Survey-list positions are
// 32-bit and reached by walking, so points beyond the 32767th record stay
// selectable and deletable.
class CSiteHeader {
  public:
    // Empties g_surveyList; both counters become 0.
    void ClearPoints();
    // Stores the position and name (cut to 31 characters) of the point about
    // to be recorded and empties g_scanList.
    void BeginPoint(int32_t x, int32_t y, const char* name);
    // Copies g_scanList into g_surveyList as one survey point with averaged
    // RSSI values; a marker record when nothing was heard (answer 0).
    int CommitPoint();
    // The same from a scan list of the caller's (a walk's finished scan,
    // kept while the next one fills g_scanList).
    int CommitPoint(const CRecordList& scan);
    void GetStrongestRssi(int16_t& rssi) const { rssi = m_strongestRssi; }
    // Selects the survey point nearest (x, y) within about 56.6 map pixels.
    int SelectPointNear(int32_t x, int32_t y);
    // Removes the run of records of the selected point.
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
