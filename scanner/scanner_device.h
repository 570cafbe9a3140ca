// The program's model of the scanner unit: its commands, the dispatch of every
// message it sends, the merge of channel results into g_scanList, and the
// sweep of the 16 channel steps that makes one survey point.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/manual_reset_event.h"
#include "platform/window_messages.h"
#include "scanner/frame_codec.h"
#include "scanner/scan_source.h"
#include "scanner/wire_protocol.h"

constexpr int kSendWaitMs = 250;
constexpr size_t kTextFieldSize = 32;     // m_firmware, m_serialNumber
constexpr size_t kSerialNumberChars = 6;  // characters of a serial number kept

constexpr int kSweepGiveUpAfter = 20;  // consecutive unanswered requests

// The longest a whole sweep may take before it is given up like a unit that
// does not answer. The protocol expects each step's answer within the 250 ms
// the host waits before asking again; a unit five times slower than that on
// every step (1.25 s) still finishes its 16 steps in time. Answers that never
// move the sweep on (a step repeated, restarts again and again) end here.
constexpr std::chrono::milliseconds kSweepDeadline{16 * 1250};

// How long the line must stay quiet after step 16 has answered before the
// sweep is done. Every access point heard on the last step answers with a
// message of its own and nothing marks the last of them; the unit sends them
// back to back, so the gap between two is a few byte times. Three whole
// channel-result messages' time covers a unit that pauses between them, and
// is far below a step's 250 ms: 68 ms at 38400 baud.
constexpr std::chrono::milliseconds SettleInterval(unsigned baud) {
    return std::chrono::milliseconds(
        (3 * wire::kChannelResultFrameBytes * wire::kBitsPerByte * 1000 + baud - 1) / baud);
}

// Where the device hands its frames: the serial link, or a fake in tests.
class FrameQueue {
  public:
    virtual ~FrameQueue() = default;
    virtual int QueueFrame(const uint8_t* bytes, unsigned length) = 0;
    // Bytes that have come in on the line but are not read yet (a reader
    // held up by a busy machine): the line is not quiet while there are any.
    virtual unsigned PendingInput() { return 0; }
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
    // results of a step already answered (one per access point heard there)
    // ask nothing. So each step costs one request and its answers. A channel
    // result is taken only while a sweep runs, and only for the step being
    // asked or, for its further access points, the step just answered; an
    // access point answered twice for one step (a late answer to a repeated
    // request) is taken once. After step 16 the sweep is done once the line
    // has been quiet for the settle interval, so every access point of the
    // last step is in. The sweep gives up, and is then no longer requested
    // (nothing is to be committed), once kSweepGiveUpAfter requests in a row
    // went unanswered or the sweep's deadline has passed.
    void BeginSweep();
    SweepState ContinueSweep();

    // The sweep's limits; tests shorten them.
    struct SweepTiming {
        std::chrono::milliseconds deadline = kSweepDeadline;
        std::chrono::milliseconds settle = SettleInterval(wire::kLineBaud);
        // How long one ContinueSweep may block. A window that handles its
        // events between calls asks for short slices; an answer still counts
        // as missing only kSendWaitMs after its request went out.
        std::chrono::milliseconds slice{kSendWaitMs};
    };
    void SetSweepTiming(const SweepTiming& timing) { m_timing = timing; }
    const SweepTiming& Timing() const { return m_timing; }
    // Abandons the running sweep: no longer requested, nothing to commit;
    // channel results still on the line are dropped as after a give-up.
    void CancelSweep();
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
    // The results of the sweep running now (or last run) that were refused
    // because they cannot be true, one line each naming the access point.
    std::vector<std::string> RefusedInSweep() const;

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

    // Notes that bytes came in from the unit (the reader, for the settle).
    void NoteLineActivity();
    // The dispatcher's steps of a sweep, each under m_sweepMutex.
    // TakeChannelResult answers whether the result of `step` was taken (and
    // KORV_DRAW is to be posted); Restart sends the sweep back to step 1;
    // ReportRadioNotResponding answers whether to show the report.
    bool TakeChannelResult(unsigned step, const uint8_t* result);
    void Restart();
    bool ReportRadioNotResponding();

  private:
    using Clock = std::chrono::steady_clock;
    void SendScanRequest(int16_t channel);
    void NoteRefused(const char* macText, int rssi);

    // At most this many refused results are named for one sweep.
    static constexpr size_t kMaxRefusedNamed = 16;
    Clock::time_point m_requestSent{};  // when m_requested went out
    mutable std::mutex m_refusedMutex;
    std::vector<std::string> m_refused;

    // The sweep's state, shared by the reader (results, restarts) and the
    // user-interface thread (requests); every change under m_sweepMutex. The
    // flags and counter above stay atomics so either side may read them.
    std::mutex m_sweepMutex;
    int16_t m_requested = 0;     // step of the request in flight; 0 when none
    int16_t m_lastAnswered = 0;  // step whose further access points may still come
    std::vector<std::array<uint8_t, wire::kResultMacSize>> m_heardThisStep;
    bool m_radioReported = false;  // "Intersil Not Responding" shown in this sweep
    Clock::time_point m_sweepStart;
    SweepTiming m_timing;
    std::atomic<Clock::rep> m_lastLineActivity{0};
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
