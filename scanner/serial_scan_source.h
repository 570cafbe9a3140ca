// The scanner unit on a serial line as the view's scan source: the device
// and its link, brought up when the view first shows.
#pragma once

#include <memory>
#include <string>

#include "scanner/scan_source.h"
#include "scanner/scanner_device.h"
#include "scanner/serial_link.h"

class WireTrace;

class SerialScanSource : public ScanSource {
  public:
    // port: the device path; empty searches the active-driver table. trace:
    // where every byte on the line is recorded (none when null); it must
    // outlive the source.
    explicit SerialScanSource(std::string port, WireTrace* trace = nullptr);
    ~SerialScanSource() override;

    void Connect(platform::WindowHandle* view) override;
    void Disconnect() override;
    void RequestIdentity() override;
    void StartScreenTexts(std::string& left, std::string& right) override;
    void BeginSweep(int32_t x, int32_t y) override;
    SweepState ContinueSweep() override;
    bool IsSweepRequested() const override { return m_device.IsSweepRequested(); }
    bool TakeFinishedSweep() override { return m_device.TakeFinishedSweep(); }
    void CancelSweep() override { m_device.CancelSweep(); }
    SweepDetails FinishedSweepDetails() const override;
    void SetSweepSlice(std::chrono::milliseconds slice) override {
        CScannerDevice::SweepTiming timing = m_device.Timing();
        timing.slice = slice;
        m_device.SetSweepTiming(timing);
    }
    std::string ProgressText() const override;
    bool ShowsScanHeading() const override { return m_device.ShowsScanHeading(); }

    CSerialScannerDevice& Device() { return m_device; }
    CSerialLink* Link() { return m_link.get(); }

  private:
    std::string m_port;
    WireTrace* m_trace;
    CSerialScannerDevice m_device;
    std::unique_ptr<CSerialLink> m_link;
};
