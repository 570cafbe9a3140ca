#include "scanner/scanner_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "survey/record_list.h"

namespace {

// Re-entry guards: a message (or result) that arrives while another one is
// being handled is dropped. Atomic so the check-and-set is one step.
std::atomic<bool> g_dispatchBusy{false};
std::atomic<bool> g_mergeBusy{false};

using wire::kChannelResultLength;
using wire::kResultFrequency;
using wire::kResultMac;
using wire::kResultRssi;
using wire::kResultSize;
using wire::kResultSsid;
using wire::kResultSsidSize;
using wire::kSweepSteps;

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Copies text up to its terminator, at most maxChars characters, into a field
// of fieldSize bytes; the rest of the field is zeroed.
void CopyTextField(char* field, size_t fieldSize, const char* text, size_t maxChars) {
    size_t n = strnlen(text, std::min(maxChars, fieldSize - 1));
    std::memset(field, 0, fieldSize);
    std::memcpy(field, text, n);
}

// A payload as the receive buffer presents it: the delivered bytes followed by
// zeros. Handlers read fixed offsets, so they read a zero-padded copy and
// never look past what the caller handed in.
struct PaddedPayload {
    uint8_t bytes[kChannelResultLength + 1] = {};
    PaddedPayload(const uint8_t* payload, uint16_t length) {
        if (payload != nullptr) {
            std::memcpy(bytes, payload, std::min<size_t>(length, kChannelResultLength));
        }
    }
};

}  // namespace

CScannerDevice::CScannerDevice()
    : m_lastWaitTimedOut(0), m_channel(1), m_scanRequested(0), m_sweepDone(0), m_scanDisplay(0) {
    std::memset(m_results, 0, sizeof m_results);
    std::memset(m_status, 0, sizeof m_status);
    std::memset(m_serialNumber, 0, sizeof m_serialNumber);
    std::memset(m_firmware, 0, sizeof m_firmware);
}

CScannerDevice::~CScannerDevice() = default;

void CScannerDevice::RequestSerialNumber() {
    SendFrame(wire::kSerialNumber, nullptr, 0, 0);
}

void CScannerDevice::RequestFirmwareVersion() {
    SendFrame(wire::kFirmwareVersion, nullptr, 0, 0);
}

namespace {
void BuildScanCommand(unsigned channel, uint8_t (&command)[wire::kScanCommandSize]) {
    std::memcpy(command, wire::kScanCommandTemplate, sizeof command);
    command[wire::kScanCommandStepOffset] = static_cast<uint8_t>(channel);
}
}  // namespace

int CScannerDevice::RequestChannelScan(unsigned channel) {
    uint8_t command[wire::kScanCommandSize];
    BuildScanCommand(channel, command);
    SendScanCommand(command, wire::kScanCommandSize, 1);
    return 1;
}

void CScannerDevice::BeginSweep() {
    m_scanRequested = 1;
    // The scan screen shows its heading during every sweep.
    m_scanDisplay = 1;
    m_channel = 1;
    m_requested = 0;
    m_unanswered = 0;
    m_counts = SweepCounts{};
    m_sweepDone = 0;
}

SweepState CScannerDevice::ContinueSweep() {
    if (m_sweepDone != 0) {
        return SweepState::kDone;
    }
    const int16_t channel = m_channel;
    if (channel > kSweepSteps) {
        // Step 16 has answered and its done flag follows at once: ask for no
        // channel beyond the sweep meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return m_sweepDone != 0 ? SweepState::kDone : SweepState::kRunning;
    }
    if (channel != m_requested) {
        // Nothing in flight, or its answer moved the counter on: ask now.
        if (m_requested != 0) {
            m_unanswered = 0;
        }
        uint8_t command[wire::kScanCommandSize];
        BuildScanCommand(static_cast<uint8_t>(channel), command);
        SendScanCommand(command, wire::kScanCommandSize, 0);
        m_requested = channel;
        ++m_counts.requests;
        return SweepState::kRunning;
    }
    if (m_sendDone.Wait(std::chrono::milliseconds(kSendWaitMs))) {
        m_lastWaitTimedOut = 0;
        m_unanswered = 0;
        if (m_channel == m_requested) {
            m_sendDone.Reset();  // a further result of the step before
        }
        return m_sweepDone != 0 ? SweepState::kDone : SweepState::kRunning;
    }
    m_lastWaitTimedOut = 1;
    m_requested = 0;  // ask again
    ++m_counts.timeOuts;
    if (++m_unanswered < kSweepGiveUpAfter) {
        return SweepState::kRunning;
    }
    m_scanRequested = 0;  // given up: nothing is to be committed
    return SweepState::kGaveUp;
}

bool CScannerDevice::TakeFinishedSweep() {
    if (m_scanRequested == 0 || m_sweepDone == 0) {
        return false;
    }
    m_scanRequested = 0;
    m_sweepDone = 0;
    return true;
}

int CScannerDevice::SendScanCommand(const uint8_t* payload, unsigned length, unsigned wait) {
    return SendFrame(wire::kScanCommand, payload, length, wait & 0xFF);
}

int CScannerDevice::SendFrame(uint8_t type, const uint8_t* payload, unsigned length,
                              unsigned wait) {
    uint8_t frame[kFrameBufferSize];
    unsigned frameLength = EncodeFrame(type, payload, length, frame);
    if ((wait & 0xFF) != 0) {
        // A time-out is not an error: the frame goes out either way.
        bool signalled = m_sendDone.Wait(std::chrono::milliseconds(kSendWaitMs));
        m_lastWaitTimedOut = signalled ? 0 : 1;
    }
    m_sendDone.Reset();
    FrameQueue* queue = m_frameQueue;
    if (frameLength != 0 && queue != nullptr) {
        queue->QueueFrame(frame, frameLength);
    }
    return 1;
}

void CScannerDevice::GetFirmwareVersion(char* out) {
    std::lock_guard<std::mutex> lock(m_firmwareMutex);
    std::memcpy(out, m_firmware, sizeof m_firmware);
}

void CScannerDevice::GetSerialNumber(char* out) {
    std::lock_guard<std::mutex> lock(m_serialNumberMutex);
    std::memcpy(out, m_serialNumber, sizeof m_serialNumber);
}

void CScannerDevice::SetFirmwareVersion(const char* text) {
    std::lock_guard<std::mutex> lock(m_firmwareMutex);
    CopyTextField(m_firmware, sizeof m_firmware, text, sizeof m_firmware - 1);
}

void CScannerDevice::SetSerialNumber(const char* text) {
    std::lock_guard<std::mutex> lock(m_serialNumberMutex);
    CopyTextField(m_serialNumber, sizeof m_serialNumber, text, kSerialNumberChars);
}

void CScannerDevice::MergeScanResult(uint8_t step, const uint8_t* result) {
    if (g_mergeBusy.exchange(true)) {
        return;
    }
    uint8_t block[kResultSize];
    std::memcpy(block, result, kResultSize);
    // Steps beyond the table (a result after the sweep's last step) have no
    // slot but are still merged.
    if (step <= kSweepSteps) {
        std::memcpy(m_results[step], block, kResultSize);
    }

    int16_t frequency =
        static_cast<int16_t>(block[kResultFrequency] | block[kResultFrequency + 1] << 8);
    if (frequency != 0) {
        char macText[13];
        std::snprintf(macText, sizeof macText, "%02x%02x%02x%02x%02x%02x", block[kResultMac],
                      block[kResultMac + 1], block[kResultMac + 2], block[kResultMac + 3],
                      block[kResultMac + 4], block[kResultMac + 5]);
        int16_t rssi = static_cast<int8_t>(block[kResultRssi]);
        const char* ssid = reinterpret_cast<const char*>(block + kResultSsid);

        std::lock_guard<std::mutex> lock(g_scanListMutex);
        ApRecord* record = nullptr;
        if (g_scanList.FindByMac(macText, record) == 0) {
            record->sampleCount = record->sampleCount + 1;
            record->rssi = static_cast<int16_t>(static_cast<uint16_t>(record->rssi) +
                                                static_cast<uint16_t>(rssi));
            CopyTextField(record->ssid, sizeof record->ssid, ssid, kResultSsidSize);
        } else if (g_scanList.AllocRecord(record) == 0) {
            std::memcpy(record->macText, macText, sizeof macText);
            std::memcpy(record->mac, block + kResultMac, sizeof record->mac);
            record->rssi = rssi;
            int16_t offset = static_cast<int16_t>(frequency - 5000);
            record->channel = static_cast<int16_t>(offset / 5);
            record->reserved1 = 0;
            record->reserved2 = 1;
            record->sampleCount = 1;
            CopyTextField(record->ssid, sizeof record->ssid, ssid, kResultSsidSize);
            g_scanList.InsertSorted(record);
        }
    }
    g_mergeBusy = false;
}

CSerialScannerDevice::CSerialScannerDevice() = default;

int CSerialScannerDevice::ReceiveBytes(const uint8_t* bytes, int count) {
    return ReceiveStep(m_rxState, bytes, count, *this);
}

void CSerialScannerDevice::OnLinkIdle() {
    FrameQueue* queue = m_frameQueue;
    if (queue != nullptr) {
        queue->QueueFrame(wire::kKeepAlive, sizeof wire::kKeepAlive);
    }
}

void CSerialScannerDevice::OnMessage(uint8_t type, const uint8_t* payload, uint16_t length) {
    if (g_dispatchBusy.exchange(true)) {
        return;
    }
    PaddedPayload message(payload, length);
    const uint8_t* bytes = message.bytes;
    // Texts are cut to the 32-byte fields by their setters; the padded copy
    // keeps them terminated whatever the sender put on the wire.
    char text[kTextFieldSize] = {};
    std::memcpy(text, bytes, std::min<size_t>(length, kTextFieldSize - 1));

    bool post = false;
    uint32_t subCode = 0;
    switch (type) {
        case wire::kFirmwareVersion:
            SetFirmwareVersion(text);
            RequestSerialNumber();
            break;
        case wire::kSerialNumber:
            SetSerialNumber(text);
            break;
        case wire::kRadioReport:
            if (bytes[0] == 0) {
                std::tm local = platform::LocalTimeNow();
                char notice[64];
                std::snprintf(notice, sizeof notice, "Intersil Not Responding at %d:%d",
                              local.tm_hour, local.tm_min);
                platform::MessageBox(notice, platform::kApplicationTitle, platform::kMbOk);
            }
            break;
        case wire::kStatus: {
            std::memcpy(m_status, bytes, wire::kStatusCopySize);
            subCode = ReadLe32(bytes + wire::kSubCodeOffset);
            const unsigned step = subCode >> wire::kSubCodeStepShift;
            if ((subCode & wire::kChannelResultMask) == wire::kChannelResultCode && step >= 1 &&
                step <= kSweepSteps) {
                MergeScanResult(static_cast<uint8_t>(m_channel.load()),
                                bytes + wire::kResultOffset);
                m_channel = static_cast<int16_t>(step + 1);
                if (step + 1 > kSweepSteps) {
                    m_sweepDone = 1;
                }
                m_sendDone.Set();
                post = true;
            } else if (subCode == wire::kRestartRadio || subCode == wire::kRestartScan) {
                m_channel = 1;
                RequestChannelScan(1);
            }
            break;
        }
        default:
            break;
    }
    platform::WindowHandle* view = m_hViewWnd;
    if (post && view != nullptr) {
        view->PostMessage(platform::RegisterWindowMessage("KORV_DRAW"), type,
                          static_cast<intptr_t>(subCode));
    }
    g_dispatchBusy = false;
}
