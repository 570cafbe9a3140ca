// One access point, either in the current scan or stored at a survey point.
#pragma once

#include <cstdint>

#pragma pack(push, 1)
struct ApRecord {
    ApRecord* prev;
    int32_t x;           // map column of the survey point
    int32_t y;           // map row of the survey point
    char pointName[32];  // zero-terminated unless all 32 bytes are used
    char macText[16];    // 12 hexadecimal digits and a NUL
    uint8_t mac[6];      // first transmitted byte first
    char ssid[128];      // NUL-terminated
    int16_t rssi;        // scan list: sum of samples; survey list: average, dBm
    int16_t channel;     // 0 marks a survey point where nothing was heard
    uint8_t reserved1;
    uint16_t reserved2;
    int32_t sampleCount;  // scan list only: number of samples summed in rssi
    uint32_t reserved3;
    ApRecord* next;
};
#pragma pack(pop)
