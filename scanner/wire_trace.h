// A record of every byte that crosses the scanner's line, for a field
// engineer's bug report: one text line per read or write,
//   12.345678 tx 11 12 01 11 13
// with the seconds since the program started, the direction and the bytes in
// upper-case hexadecimal. Lines starting with "#" are notes (a port that would
// not open, and why). `corvell decode --trace FILE` reads it back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scanner/transport.h"

class WireTrace {
  public:
    enum class Direction { kRx, kTx };

    WireTrace() = default;
    ~WireTrace();
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    // Opens FILE for appending; on failure answers false with the reason.
    bool Open(const std::string& path, std::string& reason);
    // Any thread. Each line is flushed as it is written, so a trace survives
    // a crash up to its last line.
    void Record(Direction direction, const uint8_t* bytes, size_t count);
    void Note(const std::string& text);

    // One trace line as Record writes it (without the newline).
    static std::string FormatLine(double seconds, Direction direction, const uint8_t* bytes,
                                  size_t count);

  private:
    // After a write: a trace that cannot be written is said so on standard
    // error once, and closed. Under m_mutex.
    void CheckWritten();

    std::mutex m_mutex;
    std::FILE* m_file = nullptr;
};

// One line of a trace read back.
struct TraceLine {
    double seconds = 0;
    WireTrace::Direction direction = WireTrace::Direction::kRx;
    std::vector<uint8_t> bytes;
};

// Parses one line; answers false for a note or an empty line (nothing to
// decode) and for a malformed line, which sets `error`.
bool ParseTraceLine(const std::string& line, TraceLine& out, std::string& error);

// The transport under the link with every byte recorded on its way through.
class TracedTransport final : public Transport {
  public:
    TracedTransport(std::unique_ptr<Transport> inner, WireTrace& trace)
        : m_inner(std::move(inner)), m_trace(trace) {}

    OpenResult Open(const std::string& name, std::string& reason) override;
    void Close() override { m_inner->Close(); }
    bool IsOpen() const override { return m_inner->IsOpen(); }
    int Read(uint8_t* buffer, unsigned count) override;
    int Write(const uint8_t* bytes, unsigned count) override;
    unsigned PendingInput() const override { return m_inner->PendingInput(); }

  private:
    std::unique_ptr<Transport> m_inner;
    WireTrace& m_trace;
};
