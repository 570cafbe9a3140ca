// The scanner unit's wire protocol in numbers, written once for the device,
// the simulated unit and the tools.
//
// Framing: 11 12 T [14 if T is 11] payload, every 11 followed by 14, 11 13.
// The host sends the firmware-version (type 1, no payload), serial-number
// (type 2, no payload) and scan (type 3, the 12-byte command below) requests;
// the unit answers types 1 and 2 with texts, reports a dead radio with a
// type-3 message whose first payload byte is 0, and sends every status and
// channel result as type 4. A type-4 payload carries its sub-code
// (little-endian) at bytes 2..5; a channel result's sub-code echoes bytes 2..5
// of the scan command (1C 00 00 N for step N) and its 58-byte result block
// starts at byte 12.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wire {

// Framing bytes.
constexpr uint8_t kEscape = 0x11;
constexpr uint8_t kStart = 0x12;
constexpr uint8_t kEnd = 0x13;
constexpr uint8_t kLiteral = 0x14;  // after kEscape: the escape byte itself

// Message types.
constexpr uint8_t kFirmwareVersion = 1;
constexpr uint8_t kSerialNumber = 2;
constexpr uint8_t kScanCommand = 3;  // host to unit
constexpr uint8_t kRadioReport = 3;  // unit to host; first payload byte 0: not responding
constexpr uint8_t kStatus = 4;

// The line: 38400 baud, 8 data bits, no parity, one stop bit (10 bits a byte).
constexpr unsigned kLineBaud = 38400;
constexpr unsigned kBitsPerByte = 10;

// The channel sweep.
constexpr int kSweepSteps = 16;

// The scan command (type 3): the step goes into byte 5.
constexpr size_t kScanCommandSize = 12;
constexpr uint8_t kScanCommandTemplate[kScanCommandSize] = {0x01, 0x00, 0x1C, 0x00, 0x00, 0x00,
                                                            0x00, 0x00, 0x00, 0x00, 0x00, 0x3A};
constexpr size_t kScanCommandStepOffset = 5;
constexpr size_t kScanCommandPrefixSize = 5;  // bytes before the step that never change

// Status messages (type 4).
constexpr size_t kStatusCopySize = 16;  // payload bytes the device keeps as its status
constexpr size_t kSubCodeOffset = 2;
constexpr uint32_t kChannelResultMask = 0x00FFFFFF;
constexpr uint32_t kChannelResultCode = 0x0000001C;  // low bytes of a channel result's sub-code
constexpr unsigned kSubCodeStepShift = 24;           // the step is the sub-code's top byte
constexpr uint32_t kRestartRadio = 0x030002FF;       // the sweep starts again from step 1
constexpr uint32_t kRestartScan = 0x04000018;        // likewise

constexpr uint32_t ChannelResultSubCode(unsigned step) {
    return (step << kSubCodeStepShift) | kChannelResultCode;
}

// The scan result block of one access point, inside a channel result.
constexpr size_t kResultOffset = 12;
constexpr size_t kResultSize = 58;
constexpr size_t kChannelResultLength = kResultOffset + kResultSize;  // 70
constexpr size_t kResultMac = 0;                                      // 6 bytes
constexpr size_t kResultMacSize = 6;
constexpr size_t kResultRssi = 13;  // signed 8-bit dBm
constexpr size_t kResultSsid = 15;  // zero-terminated, bytes 15..47
constexpr size_t kResultSsidSize = 33;
constexpr size_t kResultFrequency = 48;  // signed 16-bit MHz; 0: no access point

// A channel result on the wire: start, type, the 70 payload bytes and end,
// with room for a few escaped bytes among them.
constexpr size_t kChannelResultFrameBytes = 2 + 1 + kChannelResultLength + 2 + 11;

// The host's keep-alive on an idle line: two raw bytes, no frame.
constexpr uint8_t kKeepAlive[2] = {0x00, 0x00};

}  // namespace wire
