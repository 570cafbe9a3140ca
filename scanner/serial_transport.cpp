#include "scanner/serial_transport.h"

#include "scanner/wire_protocol.h"

namespace {

// Clears CTS/DSR/XON/XOFF flow, DTR, DSR sensitivity, null stripping and
// RTS; then RTS is raised.
constexpr uint32_t kKeepFlags = 0xFFFFD483;
constexpr uint32_t kRtsEnable = 0x1000;
constexpr uint32_t kInputBufferSize = 4096;
constexpr uint32_t kOutputBufferSize = 1024;

}  // namespace

Transport::OpenResult SerialTransport::Open(const std::string& name, std::string& reason) {
    if (!m_port.Open(name)) {
        reason = m_port.LastError();
        return OpenResult::kCannotOpen;
    }
    if (!m_settings) {
        platform::DeviceControlBlock block;
        m_port.GetCommState(block);
        block.BaudRate = wire::kLineBaud;
        block.ByteSize = 8;
        block.Parity = platform::kNoParity;
        block.StopBits = platform::kOneStopBit;
        block.flags = (block.flags & kKeepFlags) | kRtsEnable;
        m_settings = block;
    }
    m_port.SetupComm(kInputBufferSize, kOutputBufferSize);
    if (!m_port.SetCommState(*m_settings)) {
        reason = m_port.LastError();
        m_port.Close();
        return OpenResult::kCannotConfigure;
    }
    m_port.PurgeComm(platform::kPurgeTxClear);
    m_port.PurgeComm(platform::kPurgeRxClear);
    return OpenResult::kOpened;
}
