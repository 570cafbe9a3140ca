// The program's model of the scanner unit: its commands, the dispatch of every
// message it sends, the merge of channel results into g_scanList, and the
// flags and channel counter through which the view drives a 16-step sweep.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/manual_reset_event.h"
#include "platform/window_messages.h"
#include "scanner/frame_codec.h"

constexpr size_t kScanResultSize = 58;
constexpr size_t kScanResultOffset = 12;  // in a type-4 payload
constexpr int kSweepSteps = 16;
constexpr int kSendWaitMs = 250;
constexpr size_t kScanCommandSize = 12;
constexpr size_t kTextFieldSize = 32;     // m_firmware, m_serialNumber
constexpr size_t kSerialNumberChars = 6;  // characters of a serial number kept

constexpr int kSweepGiveUpAfter = 20;  // consecutive unanswered requests

// What a sweep loop carries between passes of ContinueSweep.
struct SweepProgress {
    int16_t requested = 0;  // channel of the request in flight; 0 when none
    int unanswered = 0;     // consecutive waits that ran out
};

// Where the device hands its frames: the serial link, or a fake in tests.
class FrameQueue {
  public:
    virtual ~FrameQueue() = default;
    virtual int QueueFrame(const uint8_t* bytes, unsigned length) = 0;
};

class CScannerDevice : public MessageSink {
  public:
    CScannerDevice();
    ~CScannerDevice() override;

    // Virtual operations, in slot order.
    virtual void RequestSerialNumber();
    virtual void RequestFirmwareVersion();
    virtual int RequestChannelScan(unsigned channel);
    virtual int SendScanCommand(const uint8_t* payload, unsigned length, unsigned wait);
    virtual void MergeScanResult(uint8_t step, const uint8_t* result);
    virtual int ReceiveBytes(const uint8_t* bytes, int count) = 0;
    virtual void OnLinkIdle() = 0;
    virtual int SendFrame(uint8_t type, const uint8_t* payload, unsigned length, unsigned wait);
    void OnMessage(uint8_t type, const uint8_t* payload, uint16_t length) override = 0;

    // One pass of the view's sweep loop. Requests the channel the device
    // expects next as soon as the request in flight has been answered, and
    // asks again when 250 ms pass without an answer; further results of a step
    // already moved past (one per access point heard there) ask nothing. So
    // each step costs one request and its answers. Answers false once
    // kSweepGiveUpAfter requests in a row went unanswered.
    bool ContinueSweep(SweepProgress& progress);

    void GetFirmwareVersion(char* out);  // out holds at least 32 bytes
    void GetSerialNumber(char* out);     // out holds at least 32 bytes
    void SetFirmwareVersion(const char* text);
    void SetSerialNumber(const char* text);
    void SetReceiveState(uint16_t state) { m_rxState = state; }

    // Where frames go (the serial link); the link sets itself when it is
    // created and clears itself when it is destroyed. Frames sent while no
    // queue is set are dropped.
    void SetFrameQueue(FrameQueue* queue) { m_frameQueue = queue; }
    FrameQueue* GetFrameQueue() const { return m_frameQueue; }

    uint8_t m_results[kSweepSteps + 1][kScanResultSize];
    uint8_t m_status[16];
    std::atomic<int16_t> m_channel;
    platform::ManualResetEvent m_sendDone;
    platform::WindowHandle* m_hViewWnd = nullptr;
    std::atomic<uint8_t> m_scanRequested;
    std::atomic<uint8_t> m_sweepDone;
    std::atomic<int32_t> m_scanDisplay;
    // How the last waiting SendFrame ended: 1 when its 250 ms wait for
    // m_sendDone ran out (no channel result came), 0 when a result ended it.
    // Sends without a wait leave it alone. The sweep loop counts consecutive
    // time-outs to give up on a unit that no longer answers.
    std::atomic<uint8_t> m_lastWaitTimedOut;

  protected:
    std::mutex m_serialNumberMutex;
    std::mutex m_firmwareMutex;
    uint16_t m_rxState = 0;
    char m_serialNumber[32];
    char m_firmware[32];
    std::atomic<FrameQueue*> m_frameQueue{nullptr};
};

class CSerialScannerDevice : public CScannerDevice {
  public:
    CSerialScannerDevice();
    int ReceiveBytes(const uint8_t* bytes, int count) override;
    void OnLinkIdle() override;
    void OnMessage(uint8_t type, const uint8_t* payload, uint16_t length) override;
};

// The program's one scanner device; null until the view creates it.
extern CScannerDevice* g_scannerDevice;
