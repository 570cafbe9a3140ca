// The serial link to the scanner unit: finds the adapter's port through the
// active-driver table, opens and configures it, and runs a reader thread
// (one-byte reads into the device's receive machine, keep-alive on an idle
// line) and a writer thread (sends the frame waiting in the one-frame slot).
// A port that fails under the reader (adapter pulled) is closed and, twice a
// second, opened again under the same name, silently; until it is back,
// queued frames are dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/manual_reset_event.h"
#include "scanner/scanner_device.h"
#include "scanner/transport.h"

namespace platform {
class ActiveDriverTable;
}

// Seconds without a byte moving either way before the reader sends the keep-alive.
constexpr uint32_t kIdleSeconds = 10;

class CSerialLink : public FrameQueue {
  public:
    // portOverride: a device path (or "COMn:") that replaces the search
    // through the active-driver table. drivers: the table to search (the
    // system's when null). startThreads false leaves both threads to the
    // caller's StartReader / StartWriter (tests). transport: the line (a
    // serial port when null).
    explicit CSerialLink(CScannerDevice* device, const std::string& portOverride = std::string(),
                         platform::ActiveDriverTable* drivers = nullptr, bool startThreads = true,
                         std::unique_ptr<Transport> transport = nullptr);
    ~CSerialLink() override;
    CSerialLink(const CSerialLink&) = delete;
    CSerialLink& operator=(const CSerialLink&) = delete;

    // Finds, opens and configures the port; 1 on success, 0 after a message box.
    uint8_t OpenPort();
    int StartReader();
    int StartWriter();

    // Copies the first min(length, 128) bytes into the send slot, replacing a
    // frame still waiting there, and wakes the writer. Always 1.
    int QueueFrame(const uint8_t* bytes, unsigned length) override;
    unsigned PendingInput() override;

    // Asks both threads to end, waits for them and closes the port.
    void Stop();

    bool IsPortOpen() const;
    // The name the port was opened under (or tried last).
    const std::string& PortName() const { return m_portName; }
    // Reads that failed because the device went away (hung up, removed).
    unsigned FailedReads() const;

    // The port name the active-driver search gives: the first "Quatech" entry,
    // else the first "Socket" entry, else "COM1:".
    static std::string FindPortName(platform::ActiveDriverTable& drivers);

    struct Shared;  // state shared with the threads

  private:
    // Joins a thread once it has ended; answers false when it had to be left
    // running (detached).
    bool FinishThread(std::thread& thread, platform::ManualResetEvent& ended);

    std::shared_ptr<Shared> m_shared;
    std::string m_portOverride;
    platform::ActiveDriverTable* m_drivers;
    std::string m_portName;
    std::thread m_writerThread;
    std::thread m_readerThread;
    bool m_stopped = false;
};
