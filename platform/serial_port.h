// A serial port over termios, driven through the handheld platform's
// communication calls: a device-control block read from and written to the
// driver, buffer sizes, purges, and reads that wait a few tenths of a second.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The platform's device-control block. The flag word keeps the platform's bit
// layout, so masks written against it apply unchanged.
struct DeviceControlBlock {
    uint32_t DCBlength = sizeof(DeviceControlBlock);
    uint32_t BaudRate = 0;
    uint32_t flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;    // kNoParity, kOddParity, kEvenParity
    uint8_t StopBits = 0;  // kOneStopBit, kOne5StopBits, kTwoStopBits
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;
};

// Bits of DeviceControlBlock::flags.
namespace dcb {
constexpr uint32_t kBinary = 1u << 0;
constexpr uint32_t kParity = 1u << 1;  // parity checking
constexpr uint32_t kOutxCtsFlow = 1u << 2;
constexpr uint32_t kOutxDsrFlow = 1u << 3;
constexpr uint32_t kDtrControlShift = 4;  // 2 bits: 0 disable, 1 enable, 2 handshake
constexpr uint32_t kDtrControlMask = 3u << 4;
constexpr uint32_t kDsrSensitivity = 1u << 6;
constexpr uint32_t kTXContinueOnXoff = 1u << 7;
constexpr uint32_t kOutX = 1u << 8;  // XON/XOFF output flow control
constexpr uint32_t kInX = 1u << 9;   // XON/XOFF input flow control
constexpr uint32_t kErrorChar = 1u << 10;
constexpr uint32_t kNull = 1u << 11;       // discard null bytes
constexpr uint32_t kRtsControlShift = 12;  // 2 bits: 0 disable, 1 enable, 2 handshake, 3 toggle
constexpr uint32_t kRtsControlMask = 3u << 12;
constexpr uint32_t kAbortOnError = 1u << 14;

constexpr uint32_t kControlDisable = 0;
constexpr uint32_t kControlEnable = 1;
constexpr uint32_t kControlHandshake = 2;
}  // namespace dcb

constexpr uint8_t kNoParity = 0;
constexpr uint8_t kOddParity = 1;
constexpr uint8_t kEvenParity = 2;
constexpr uint8_t kOneStopBit = 0;
constexpr uint8_t kTwoStopBits = 2;

// PurgeComm flags.
constexpr unsigned kPurgeTxClear = 0x0004;
constexpr unsigned kPurgeRxClear = 0x0008;

// How long a read waits for its first byte, in tenths of a second (timed by
// poll(), see SerialPort::Read).
constexpr int kReadTimeoutTenths = 3;
// How long a write waits in all for a line that does not drain.
constexpr int kWriteTimeoutMs = 1000;

// "COM1:" names /dev/ttyS0, "COMn:" /dev/ttyS(n-1); any other name is a path.
std::string SerialDevicePath(const std::string& portName);

class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the port for reading and writing, exclusively where the system allows.
    bool Open(const std::string& portName);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    // Why the last Open or SetCommState failed, in the system's words with a
    // hint where there is an obvious fix, e.g. "Permission denied: add
    // yourself to the dialout group".
    const std::string& LastError() const { return m_lastError; }
    const std::string& Path() const { return m_path; }
    int Descriptor() const { return m_fd; }

    bool GetCommState(DeviceControlBlock& block);
    // Raw mode with the block's speed, framing and flow control; DTR and RTS
    // follow their control fields (a line that cannot be set is left alone).
    bool SetCommState(const DeviceControlBlock& block);
    // The driver's buffers are its own on Linux: the sizes are accepted.
    bool SetupComm(uint32_t inputSize, uint32_t outputSize);
    bool PurgeComm(unsigned flags);

    // Waits at most kReadTimeoutTenths for data, then reads up to count bytes.
    // Answers the count read (0 when nothing came), or -1 when the device has
    // failed (hung up, removed, closed).
    int Read(uint8_t* buffer, unsigned count);
    // Bytes the driver has received that no read has taken yet.
    unsigned PendingInput() const;
    // Writes all count bytes, waiting at most kWriteTimeoutMs for the line to
    // take them. Answers the count written (fewer on a line that stopped
    // draining), or -1 on failure before anything went out.
    int Write(const uint8_t* bytes, unsigned count);

  private:
    int m_fd = -1;
    std::string m_path;
    std::string m_lastError;
};

}  // namespace platform
