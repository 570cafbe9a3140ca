#include "survey/site_header.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "survey/record_list.h"

std::unique_ptr<CSiteHeader> g_siteHeader;

namespace {

constexpr int16_t kStrongestStart = -90;
constexpr int64_t kNearestStart = 5000;  // squared map pixels
constexpr int64_t kReach = 3200;         // about 56.6 map pixels

// Copies a NUL-terminated text into a fixed field, always terminating it.
template <size_t N>
void CopyText(char (&field)[N], const char* text) {
    std::snprintf(field, N, "%s", text ? text : "");
}

// The record at a 1-based position, walking by pointer so that every record
// of a long list is reachable (a 16-bit position would stop at 32767).
ApRecord* RecordAt(CRecordList& list, int32_t position) {
    if (position < 1) {
        return nullptr;
    }
    ApRecord* r = nullptr;
    if (list.GetAt(1, r) != 0) {
        return nullptr;
    }
    for (int32_t i = 1; i < position; ++i) {
        if (list.GetNext(r) != 0) {
            return nullptr;
        }
    }
    return r;
}

// Squared distance without overflow: anything far beyond the start value is
// reported as the start value, which never wins.
int64_t SquaredDistance(int32_t ax, int32_t ay, int32_t bx, int32_t by) {
    const int64_t dx = static_cast<int64_t>(ax) - bx;
    const int64_t dy = static_cast<int64_t>(ay) - by;
    if (std::llabs(dx) > kNearestStart || std::llabs(dy) > kNearestStart) {
        return kNearestStart;
    }
    return dx * dx + dy * dy;
}

bool AtPoint(const ApRecord* r, double x, double y) {
    return static_cast<double>(r->x) == x && static_cast<double>(r->y) == y;
}

}  // namespace

void CSiteHeader::ClearPoints() {
    g_surveyList.Clear();
    m_pointCount = 0;
    m_apCount = 0;
}

void CSiteHeader::BeginPoint(int32_t x, int32_t y, const char* name) {
    m_curX = x;
    m_curY = y;
    CopyText(m_curName, name);
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    g_scanList.Clear();
}

int CSiteHeader::CommitPoint() {
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    return CommitPoint(g_scanList);
}

int CSiteHeader::CommitPoint(const CRecordList& scanList) {
    m_strongestRssi = kStrongestStart;
    ++m_pointCount;

    const ApRecord* scan = scanList.Sentinel()->next;
    if (scan == scanList.Sentinel()) {
        // Nothing heard: one marker record keeps the point in the survey.
        ApRecord* marker = nullptr;
        if (g_surveyList.AllocRecord(marker) != 0) {
            return 0;
        }
        marker->channel = 0;
        CopyText(marker->macText, "000000000000");
        std::memset(marker->mac, 0, sizeof marker->mac);
        CopyText(marker->ssid, "FILL");
        marker->rssi = 0;
        marker->x = m_curX;
        marker->y = m_curY;
        CopyText(marker->pointName, "FILL");
        g_surveyList.Append(marker);
        return 0;
    }

    for (; scan != scanList.Sentinel(); scan = scan->next) {
        ApRecord* record = nullptr;
        if (g_surveyList.AllocRecord(record) != 0) {
            break;  // out of memory: keep what was copied so far
        }
        record->channel = scan->channel;
        std::memcpy(record->macText, scan->macText, sizeof record->macText);
        std::memcpy(record->mac, scan->mac, sizeof record->mac);
        std::memcpy(record->ssid, scan->ssid, sizeof record->ssid);
        const int32_t samples = scan->sampleCount != 0 ? scan->sampleCount : 1;
        record->rssi = static_cast<int16_t>(scan->rssi / samples);
        record->x = m_curX;
        record->y = m_curY;
        std::memcpy(record->pointName, m_curName, sizeof record->pointName);
        g_surveyList.Append(record);
        ++m_apCount;
        if (m_strongestRssi < record->rssi) {
            m_strongestRssi = record->rssi;
        }
    }
    return 1;
}

int CSiteHeader::SelectPointNear(int32_t x, int32_t y) {
    int64_t nearest = kNearestStart;
    int32_t nearestX = 0;
    int32_t nearestY = 0;
    int32_t nearestPosition = 0;

    ApRecord* r = nullptr;
    int32_t position = 1;
    for (int rc = g_surveyList.GetAt(1, r); rc != -2; rc = g_surveyList.GetNext(r), ++position) {
        const int64_t d = SquaredDistance(r->x, r->y, x, y);
        if (d < nearest) {
            nearest = d;
            nearestX = r->x;
            nearestY = r->y;
            nearestPosition = position;
        }
    }
    if (nearestPosition == 0 || nearest > kReach) {
        return 0;
    }

    m_selX = nearestX;
    m_selY = nearestY;
    m_selApCount = 0;
    m_selBestRssi = -120;
    m_selFirstIndex = nearestPosition;
    m_selBestMac[0] = '\0';
    m_selBestSsid[0] = '\0';

    for (r = RecordAt(g_surveyList, m_selFirstIndex); r != nullptr && AtPoint(r, m_selX, m_selY);) {
        ++m_selApCount;
        if (r->rssi > m_selBestRssi) {
            std::memcpy(m_selBestMac, r->macText, sizeof m_selBestMac);
            m_selBestMac[sizeof m_selBestMac - 1] = '\0';
            std::memcpy(m_selBestSsid, r->ssid, sizeof r->ssid);
            m_selBestSsid[sizeof r->ssid - 1] = '\0';
            m_selBestRssi = r->rssi;
        }
        if (g_surveyList.GetNext(r) != 0) {
            break;
        }
    }
    return 1;
}

void CSiteHeader::DeleteSelectedPoint() {
    ApRecord* r = RecordAt(g_surveyList, m_selFirstIndex);
    while (r != nullptr && AtPoint(r, m_selX, m_selY)) {
        ApRecord* next = r->next;
        g_surveyList.Remove(r);
        r = next != g_surveyList.Sentinel() ? next : nullptr;
    }
}
