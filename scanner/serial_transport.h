// The scanner unit's serial line over termios: 38400 baud, 8 data bits, no
// parity, one stop bit, no flow control, DTR dropped and RTS raised. The
// settings start from the port's own and are kept, so a port that comes back
// after it went away is set up exactly as before.
#pragma once

#include <optional>
#include <string>

#include "platform/serial_port.h"
#include "scanner/transport.h"

class SerialTransport final : public Transport {
  public:
    OpenResult Open(const std::string& name, std::string& reason) override;
    void Close() override { m_port.Close(); }
    bool IsOpen() const override { return m_port.IsOpen(); }
    int Read(uint8_t* buffer, unsigned count) override { return m_port.Read(buffer, count); }
    int Write(const uint8_t* bytes, unsigned count) override { return m_port.Write(bytes, count); }
    unsigned PendingInput() const override { return m_port.PendingInput(); }

    // The settings in force once the first open has configured the port.
    const std::optional<platform::DeviceControlBlock>& Settings() const { return m_settings; }

  private:
    platform::SerialPort m_port;
    std::optional<platform::DeviceControlBlock> m_settings;
};
