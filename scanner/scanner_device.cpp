#include "scanner/scanner_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "survey/plausible.h"
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
    std::lock_guard<std::mutex> lock(m_sweepMutex);
    m_scanRequested = 1;
    // The scan screen shows its heading during every sweep.
    m_scanDisplay = 1;
    m_channel = 1;
    m_requested = 0;
    m_lastAnswered = 0;
    m_heardThisStep.clear();
    m_radioReported = false;
    m_unanswered = 0;
    m_counts = SweepCounts{};
    m_sweepStart = Clock::now();
    m_sweepDone = 0;
    std::lock_guard<std::mutex> refusedLock(m_refusedMutex);
    m_refused.clear();
}

void CScannerDevice::SendScanRequest(int16_t channel) {
    uint8_t command[wire::kScanCommandSize];
    BuildScanCommand(static_cast<uint8_t>(channel), command);
    SendScanCommand(command, wire::kScanCommandSize, 0);
    m_requested = channel;
    m_requestSent = Clock::now();
    ++m_counts.requests;
}

void CScannerDevice::NoteLineActivity() {
    m_lastLineActivity = Clock::now().time_since_epoch().count();
}

SweepState CScannerDevice::ContinueSweep() {
    std::unique_lock<std::mutex> lock(m_sweepMutex);
    if (m_scanRequested == 0) {
        return SweepState::kGaveUp;
    }
    if (m_sweepDone != 0) {
        return SweepState::kDone;
    }
    const Clock::time_point now = Clock::now();
    if (now - m_sweepStart >= m_timing.deadline) {
        m_scanRequested = 0;  // given up: nothing is to be committed
        return SweepState::kGaveUp;
    }
    const int16_t channel = m_channel;
    if (channel > wire::kSweepSteps) {
        // Step 16 has answered; its further access points may still be on
        // the line. Done once the line has been quiet for the settle interval.
        const Clock::time_point lastActivity{Clock::duration(m_lastLineActivity.load())};
        const Clock::duration quiet = now - lastActivity;
        // Bytes waiting in the driver came in meanwhile: the reader, held up,
        // has not seen them yet, but the line was not quiet.
        FrameQueue* queue = m_frameQueue;
        const bool waiting = queue != nullptr && queue->PendingInput() != 0;
        if (quiet >= m_timing.settle && !waiting) {
            m_sweepDone = 1;
            lock.unlock();
            // The commit waits for a KORV_DRAW: make sure one follows. It
            // carries no message (type 0): the sweep's end, not a result.
            platform::WindowHandle* view = m_hViewWnd;
            if (view != nullptr) {
                view->PostMessage(platform::RegisterWindowMessage("KORV_DRAW"), 0, 0);
            }
            return SweepState::kDone;
        }
        lock.unlock();
        std::this_thread::sleep_for(
            std::clamp<Clock::duration>(m_timing.settle - quiet, std::chrono::milliseconds(1),
                                        std::min(m_timing.settle, m_timing.slice)));
        return SweepState::kRunning;
    }
    if (channel != m_requested) {
        // Nothing in flight, or its answer moved the counter on: ask now.
        if (m_requested != 0) {
            m_unanswered = 0;
        }
        SendScanRequest(channel);
        return SweepState::kRunning;
    }
    const bool sliced = m_timing.slice < std::chrono::milliseconds(kSendWaitMs);
    Clock::duration wait = std::chrono::milliseconds(kSendWaitMs);
    if (sliced) {
        // Up to the slice, and no longer than the answer is still due.
        wait = std::clamp<Clock::duration>(
            m_requestSent + std::chrono::milliseconds(kSendWaitMs) - now, Clock::duration::zero(),
            m_timing.slice);
    }
    wait = std::min<Clock::duration>(wait, m_sweepStart + m_timing.deadline - now);
    lock.unlock();
    const bool answered =
        m_sendDone.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(wait));
    lock.lock();
    if (!answered && sliced &&
        Clock::now() - m_requestSent < std::chrono::milliseconds(kSendWaitMs) &&
        Clock::now() - m_sweepStart < m_timing.deadline) {
        return SweepState::kRunning;  // not yet due: waited for on the next call
    }
    if (answered) {
        m_lastWaitTimedOut = 0;
        m_unanswered = 0;
        if (m_channel == m_requested) {
            m_sendDone.Reset();  // woken by a restart: channel 1 is already asked
        }
        return SweepState::kRunning;
    }
    if (Clock::now() - m_sweepStart >= m_timing.deadline) {
        m_scanRequested = 0;
        return SweepState::kGaveUp;
    }
    m_lastWaitTimedOut = 1;
    m_requested = 0;  // ask again
    ++m_counts.timeOuts;
    if (++m_unanswered < kSweepGiveUpAfter) {
        return SweepState::kRunning;
    }
    m_scanRequested = 0;
    return SweepState::kGaveUp;
}

void CScannerDevice::CancelSweep() {
    std::lock_guard<std::mutex> lock(m_sweepMutex);
    m_scanRequested = 0;
    m_sweepDone = 0;
}

bool CScannerDevice::TakeFinishedSweep() {
    std::lock_guard<std::mutex> lock(m_sweepMutex);
    if (m_scanRequested == 0 || m_sweepDone == 0) {
        return false;
    }
    m_scanRequested = 0;
    m_sweepDone = 0;
    return true;
}

bool CScannerDevice::TakeChannelResult(unsigned step, const uint8_t* result) {
    std::lock_guard<std::mutex> lock(m_sweepMutex);
    if (m_scanRequested == 0 || m_sweepDone != 0) {
        return false;  // no sweep is running: a late answer to an earlier one
    }
    std::array<uint8_t, wire::kResultMacSize> mac;
    std::memcpy(mac.data(), result + kResultMac, mac.size());
    const bool first = static_cast<int16_t>(step) == m_channel;
    if (first) {
        m_lastAnswered = static_cast<int16_t>(step);
        m_heardThisStep.clear();
    } else if (static_cast<int16_t>(step) != m_lastAnswered ||
               std::find(m_heardThisStep.begin(), m_heardThisStep.end(), mac) !=
                   m_heardThisStep.end()) {
        // Answers a step this sweep is not at, or repeats an access point of
        // the step just answered (the answer to a request sent twice).
        return false;
    }
    m_heardThisStep.push_back(mac);
    MergeScanResult(static_cast<uint8_t>(step), result);
    if (first) {
        m_channel = static_cast<int16_t>(step + 1);
        m_sendDone.Set();
    }
    return true;
}

void CScannerDevice::Restart() {
    std::lock_guard<std::mutex> lock(m_sweepMutex);
    if (m_scanRequested == 0 || m_sweepDone != 0) {
        return;  // no sweep to start again
    }
    m_channel = 1;
    m_lastAnswered = 0;
    m_heardThisStep.clear();
    // Asked here, once; the sweep loop, woken, sees channel 1 in flight.
    SendScanRequest(1);
    m_sendDone.Set();
}

bool CScannerDevice::ReportRadioNotResponding() {
    std::lock_guard<std::mutex> lock(m_sweepMutex);
    if (m_scanRequested == 0 || m_sweepDone != 0) {
        return true;
    }
    const bool first = !m_radioReported;
    m_radioReported = true;
    return first;
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

void CScannerDevice::NoteRefused(const char* macText, int rssi) {
    std::lock_guard<std::mutex> lock(m_refusedMutex);
    const std::string line =
        "access point " + std::string(macText) + ": " + survey::ImplausibleLevel(rssi);
    if (m_refused.size() < kMaxRefusedNamed &&
        std::find(m_refused.begin(), m_refused.end(), line) == m_refused.end()) {
        m_refused.push_back(line);
    }
}

std::vector<std::string> CScannerDevice::RefusedInSweep() const {
    std::lock_guard<std::mutex> lock(m_refusedMutex);
    return m_refused;
}

void CScannerDevice::MergeScanResult(uint8_t step, const uint8_t* result) {
    if (g_mergeBusy.exchange(true)) {
        return;
    }
    uint8_t block[kResultSize];
    std::memcpy(block, result, kResultSize);
    if (step <= kSweepSteps) {
        std::memcpy(m_results[step], block, kResultSize);
    }

    const int16_t frequency =
        static_cast<int16_t>(block[kResultFrequency] | block[kResultFrequency + 1] << 8);
    const int16_t channel = static_cast<int16_t>(static_cast<int16_t>(frequency - 5000) / 5);
    // A frequency that gives no 802.11a channel the site file can hold (1 to
    // 255; 5000 to 5004 MHz would give 0, the "nothing heard" marker) comes
    // from a broken or hostile unit: not merged.
    if (frequency != 0 && channel >= 1 && channel <= 255) {
        char macText[13];
        std::snprintf(macText, sizeof macText, "%02x%02x%02x%02x%02x%02x", block[kResultMac],
                      block[kResultMac + 1], block[kResultMac + 2], block[kResultMac + 3],
                      block[kResultMac + 4], block[kResultMac + 5]);
        int16_t rssi = static_cast<int8_t>(block[kResultRssi]);
        const char* ssid = reinterpret_cast<const char*>(block + kResultSsid);
        if (!survey::IsPlausibleLevel(rssi)) {
            // No radio is heard so loud, none so faint: a broken or hostile
            // unit. Not merged; the sweep's details name it.
            NoteRefused(macText, rssi);
            g_mergeBusy = false;
            return;
        }

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
            record->channel = channel;
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
    if (count > 0) {
        NoteLineActivity();
    }
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
            // A dead radio answers every request of a sweep: told once a sweep.
            if (bytes[0] == 0 && ReportRadioNotResponding()) {
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
                post = TakeChannelResult(step, bytes + wire::kResultOffset);
            } else if (subCode == wire::kRestartRadio || subCode == wire::kRestartScan) {
                Restart();
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
