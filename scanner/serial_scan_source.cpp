#include "scanner/serial_scan_source.h"

#include <cstring>

#include "platform/text.h"

#include "scanner/serial_transport.h"
#include "scanner/wire_trace.h"

SerialScanSource::SerialScanSource(std::string port, WireTrace* trace)
    : m_port(std::move(port)), m_trace(trace) {}

SerialScanSource::~SerialScanSource() {
    Disconnect();
}

void SerialScanSource::Connect(platform::WindowHandle* view) {
    if (m_link) {
        return;  // brought up once for the program's life
    }
    m_device.SetViewWindow(view);
    std::unique_ptr<Transport> line = std::make_unique<SerialTransport>();
    if (m_trace != nullptr) {
        line = std::make_unique<TracedTransport>(std::move(line), *m_trace);
    }
    m_link = std::make_unique<CSerialLink>(&m_device, m_port, nullptr, true, std::move(line));
}

void SerialScanSource::Disconnect() {
    if (m_link) {
        m_link->Stop();
    }
    m_device.SetViewWindow(nullptr);
}

void SerialScanSource::RequestIdentity() {
    m_device.RequestFirmwareVersion();
}

void SerialScanSource::StartScreenTexts(std::string& left, std::string& right) {
    char value[kTextFieldSize] = {};
    m_device.GetFirmwareVersion(value);
    left = "(Firmware " + platform::TextFromBytes(value, sizeof value) + ")";
    std::memset(value, 0, sizeof value);
    m_device.GetSerialNumber(value);
    right = "(SN " + platform::TextFromBytes(value, sizeof value) + ")";
}

void SerialScanSource::BeginSweep(int32_t, int32_t) {
    m_device.BeginSweep();
}

SweepState SerialScanSource::ContinueSweep() {
    return m_device.ContinueSweep();
}

SweepDetails SerialScanSource::FinishedSweepDetails() const {
    SweepDetails details;
    details.refused = m_device.RefusedInSweep();
    return details;
}

std::string SerialScanSource::ProgressText() const {
    return std::to_string(m_device.Channel());
}
