// Survey-list records as the site-file open or a commit leaves them, for the
// dialog tests and the picture tool.
#pragma once

#include <cstdint>
#include <cstdio>

#include "survey/record_list.h"

inline bool AddSurveyRecord(int x, int y, int channel, int rssi, const char* mac,
                            const char* ssid) {
    ApRecord* r = nullptr;
    if (g_surveyList.AllocRecord(r) != 0) {
        return false;
    }
    r->x = x;
    r->y = y;
    std::snprintf(r->pointName, sizeof r->pointName, "TEST");
    std::snprintf(r->macText, sizeof r->macText, "%s", mac);
    std::snprintf(r->ssid, sizeof r->ssid, "%s", ssid);
    r->rssi = static_cast<int16_t>(rssi);
    r->channel = static_cast<int16_t>(channel);
    g_surveyList.Append(r);
    return true;
}
