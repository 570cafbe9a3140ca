// The program's model of the scanner unit: its commands, the dispatch of every
// message it sends, the merge of channel results into g_scanList, and the
// sweep of the 16 channel steps that makes one survey point.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/manual_reset_event.h"
#include "platform/window_messages.h"
#include "scanner/frame_codec.h"
#include "scanner/scan_source.h"
#include "scanner/wire_protocol.h"

constexpr int kSendWaitMs = 250;
constexpr size_t kTextFieldSize = 32;     // m_firmware, m_serialNumber
constexpr size_t kSerialNumberChars = 6;  // characters of a serial number kept

constexpr int kSweepGiveUpAfter = 20;  // consecutive unanswered requests

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

    // The sweep of one survey point, driven from the user-interface thread.
    // BeginSweep starts it at step 1. Each ContinueSweep pass asks for the
    // step the device expects next as soon as the request in flight has been
    // answered, and asks again when 250 ms pass without an answer; further
    // results of a step already moved past (one per access point heard there)
    // ask nothing. So each step costs one request and its answers. The sweep
    // gives up once kSweepGiveUpAfter requests in a row went unanswered, and
    // then is no longer requested: nothing is to be committed.
    void BeginSweep();
    SweepState ContinueSweep();
    // Answers true once for a finished sweep and clears its flags.
    bool TakeFinishedSweep();

    bool IsSweepRequested() const { return m_scanRequested != 0; }
    bool IsSweepDone() const { return m_sweepDone != 0; }
    // The step the device expects next (17 once step 16 has answered).
    int Channel() const { return m_channel; }
    bool ShowsScanHeading() const { return m_scanDisplay == 1; }
    // Requests in a row that went unanswered in the sweep running now.
    int UnansweredRequests() const { return m_unanswered; }
    // The sweep's scan commands and the waits for an answer that ran out, for
    // benchmarks and tests.
    struct SweepCounts {
        int requests = 0;
        int timeOuts = 0;
    };
    SweepCounts Counts() const { return m_counts; }

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
    // Where KORV_DRAW goes (the view); nothing is posted while unset.
    void SetViewWindow(platform::WindowHandle* view) { m_hViewWnd = view; }

    uint8_t m_results[wire::kSweepSteps + 1][wire::kResultSize];
    uint8_t m_status[wire::kStatusCopySize];
    platform::ManualResetEvent m_sendDone;
    // How the last waiting SendFrame ended: 1 when its 250 ms wait for
    // m_sendDone ran out (no channel result came), 0 when a result ended it.
    // Sends without a wait leave it alone.
    std::atomic<uint8_t> m_lastWaitTimedOut;

  protected:
    std::atomic<int16_t> m_channel;
    std::atomic<platform::WindowHandle*> m_hViewWnd{nullptr};
    std::atomic<uint8_t> m_scanRequested;
    std::atomic<uint8_t> m_sweepDone;
    std::atomic<int32_t> m_scanDisplay;

    std::mutex m_serialNumberMutex;
    std::mutex m_firmwareMutex;
    uint16_t m_rxState = 0;
    char m_serialNumber[kTextFieldSize];
    char m_firmware[kTextFieldSize];
    std::atomic<FrameQueue*> m_frameQueue{nullptr};

  private:
    // The sweep loop's own state (user-interface thread only).
    int16_t m_requested = 0;  // step of the request in flight; 0 when none
    std::atomic<int> m_unanswered{0};
    SweepCounts m_counts;
};

class CSerialScannerDevice : public CScannerDevice {
  public:
    CSerialScannerDevice();
    int ReceiveBytes(const uint8_t* bytes, int count) override;
    void OnLinkIdle() override;
    void OnMessage(uint8_t type, const uint8_t* payload, uint16_t length) override;
};
