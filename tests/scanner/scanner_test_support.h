// Test doubles and message builders shared by the scanner tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/window_messages.h"
#include "scanner/scanner_device.h"
#include "survey/record_list.h"

namespace scanner_test {

using Bytes = std::vector<uint8_t>;

// Records every message box and answers OK; installed for its lifetime.
class RecordedMessageBoxes : public platform::MessageBoxHandler {
  public:
    struct Box {
        std::string text;
        std::string caption;
        unsigned style;
    };
    RecordedMessageBoxes() { platform::SetMessageBoxHandler(this); }
    ~RecordedMessageBoxes() override { platform::SetMessageBoxHandler(nullptr); }
    int Show(const std::string& text, const std::string& caption, unsigned style) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_boxes.push_back({text, caption, style});
        return platform::kIdOk;
    }
    std::vector<Box> Boxes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_boxes;
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const Box& box : Boxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }

  private:
    std::mutex m_mutex;
    std::vector<Box> m_boxes;
};

class RecordingWindow : public platform::WindowHandle {
  public:
    struct Post {
        platform::MessageId message;
        uintptr_t wParam;
        intptr_t lParam;
    };
    bool PostMessage(platform::MessageId message, uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_posts.push_back({message, wParam, lParam});
        return true;
    }
    std::vector<Post> Posts() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_posts;
    }

  private:
    std::mutex m_mutex;
    std::vector<Post> m_posts;
};

// Collects what the device queues for the link.
class RecordingQueue : public FrameQueue {
  public:
    int QueueFrame(const uint8_t* bytes, unsigned length) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.emplace_back(bytes, bytes + length);
        return 1;
    }
    std::vector<Bytes> Frames() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }

  private:
    std::mutex m_mutex;
    std::vector<Bytes> m_frames;
};

// The device with its sweep state within the tests' reach.
class DeviceUnderTest : public CSerialScannerDevice {
  public:
    using CScannerDevice::m_channel;
    using CScannerDevice::m_scanDisplay;
    using CScannerDevice::m_scanRequested;
    using CScannerDevice::m_sweepDone;
};

struct AccessPoint {
    uint8_t mac[6];
    int8_t rssi;
    std::string ssid;
    int16_t frequency;
};

// The 58-byte scan result block of one access point.
inline Bytes ResultBlock(const AccessPoint& ap) {
    Bytes block(wire::kResultSize, 0);
    std::memcpy(block.data(), ap.mac, 6);
    block[13] = static_cast<uint8_t>(ap.rssi);
    std::memcpy(block.data() + 15, ap.ssid.data(), std::min<size_t>(ap.ssid.size(), 33));
    block[48] = static_cast<uint8_t>(ap.frequency & 0xFF);
    block[49] = static_cast<uint8_t>((ap.frequency >> 8) & 0xFF);
    return block;
}

// A type-4 payload with the sub-code at bytes 2..5 and the block at byte 12.
inline Bytes StatusPayload(uint32_t subCode, const Bytes& block = Bytes(wire::kResultSize, 0)) {
    Bytes payload(wire::kResultOffset, 0);
    for (int i = 0; i < 4; ++i) {
        payload[2 + i] = static_cast<uint8_t>(subCode >> (8 * i));
    }
    payload.insert(payload.end(), block.begin(), block.end());
    return payload;
}

inline uint32_t ChannelResultCode(unsigned step) {
    return (step << 24) | 0x1C;
}

// The scan command frame for a channel, as it appears on the wire.
inline Bytes ScanCommandFrame(uint8_t channel) {
    return {0x11, 0x12, 0x03, 0x01, 0x00, 0x1C, 0x00, 0x00, channel,
            0x00, 0x00, 0x00, 0x00, 0x00, 0x3A, 0x11, 0x13};
}

struct ScanRecord {
    std::string macText;
    int rssi;
    int channel;
    int sampleCount;
    std::string ssid;
    bool operator==(const ScanRecord& o) const {
        return macText == o.macText && rssi == o.rssi && channel == o.channel &&
               sampleCount == o.sampleCount && ssid == o.ssid;
    }
};

inline std::ostream& operator<<(std::ostream& out, const ScanRecord& r) {
    return out << "{" << r.macText << " rssi " << r.rssi << " ch " << r.channel << " n "
               << r.sampleCount << " '" << r.ssid << "'}";
}

// g_scanList in list order, read under its lock.
inline std::vector<ScanRecord> ScanListRecords() {
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    std::vector<ScanRecord> out;
    ApRecord* pos = nullptr;
    for (int rc = g_scanList.GetAt(1, pos); rc != -2; rc = g_scanList.GetNext(pos)) {
        out.push_back({pos->macText, pos->rssi, pos->channel, pos->sampleCount, pos->ssid});
    }
    return out;
}

inline void ClearScanList() {
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    g_scanList.Clear();
}

}  // namespace scanner_test
