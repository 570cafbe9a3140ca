// The line under the serial link: open, read with a time-out, write, close.
// The link runs over a serial port (SerialTransport), over anything else that
// can carry bytes (tests use one in memory), and through a trace that records
// both directions (TracedTransport).
#pragma once

#include <cstdint>
#include <string>

class Transport {
  public:
    enum class OpenResult {
        kOpened,
        kCannotOpen,       // the device is missing or refused
        kCannotConfigure,  // opened, but the line settings would not take
    };

    virtual ~Transport() = default;

    // Opens the line called `name` (a device path, or "COMn:") and applies
    // the link's settings. On failure `reason` says why, in the system's words.
    virtual OpenResult Open(const std::string& name, std::string& reason) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Waits a few tenths of a second at most for data, then reads up to
    // `count` bytes: answers the count read, 0 when nothing came, -1 when the
    // line has failed (hung up, removed).
    virtual int Read(uint8_t* buffer, unsigned count) = 0;
    // Writes the bytes, waiting a bounded time for a line that does not
    // drain: answers the count written, -1 when nothing could be written.
    virtual int Write(const uint8_t* bytes, unsigned count) = 0;
    // Bytes received and waiting to be read; 0 when unknown.
    virtual unsigned PendingInput() const { return 0; }
};
