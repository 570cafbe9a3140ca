#include "sim/unit_protocol.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace sim {

namespace {

using wire::kEnd;
using wire::kEscape;
using wire::kLiteral;
using wire::kStart;

constexpr int kLevelFloor = -100;
constexpr int kLevelCeiling = -20;
constexpr size_t kSsidField = wire::kResultSsidSize;
constexpr size_t kMaxGarbage = 16;

// A level as the unit's one signed byte reports it.
int Reported(double level) {
    return static_cast<int>(
        std::lround(std::clamp(level, double(kLevelFloor), double(kLevelCeiling))));
}

Bytes TextPayload(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

uint32_t ReadU32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string Quoted(const uint8_t* text, size_t maxLength) {
    std::string out = "\"";
    for (size_t i = 0; i < maxLength && text[i] != 0; ++i) {
        uint8_t c = text[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

std::string DescribeResultBlock(const uint8_t* block) {
    int16_t frequency = static_cast<int16_t>(block[wire::kResultFrequency] |
                                             (block[wire::kResultFrequency + 1] << 8));
    if (frequency == 0) {
        return "nothing heard (frequency 0)";
    }
    char text[160];
    std::snprintf(text, sizeof text, "MAC %02x:%02x:%02x:%02x:%02x:%02x, RSSI %d dBm, SSID ",
                  block[0], block[1], block[2], block[3], block[4], block[5],
                  static_cast<int8_t>(block[wire::kResultRssi]));
    std::string out = text;
    out += Quoted(block + wire::kResultSsid, kSsidField);
    std::snprintf(text, sizeof text, ", frequency %d MHz (channel %d)", frequency,
                  static_cast<int16_t>((frequency - 5000) / 5));
    return out + text;
}

}  // namespace

Bytes EncodeUnitFrame(uint8_t type, const Bytes& payload) {
    Bytes frame = {kEscape, kStart, type};
    if (type == kEscape) {
        frame.push_back(kLiteral);
    }
    for (uint8_t byte : payload) {
        frame.push_back(byte);
        if (byte == kEscape) {
            frame.push_back(kLiteral);
        }
    }
    frame.push_back(kEscape);
    frame.push_back(kEnd);
    return frame;
}

bool UnitFrameDecoder::Feed(uint8_t byte) {
    switch (m_state) {
        case kHunt:
            if (byte == kEscape) {
                m_state = kHuntEscape;
            }
            return false;
        case kHuntEscape:
            m_state = byte == kStart ? kType : byte == kEscape ? kHuntEscape : kHunt;
            return false;
        case kType:
            m_message.type = byte;
            m_message.payload.clear();
            m_state = byte == kEscape ? kTypeEscape : kPayload;
            return false;
        case kTypeEscape:
            m_state = byte == kLiteral ? kPayload : byte == kStart ? kType : kHunt;
            return false;
        case kPayload:
            if (byte == kEscape) {
                m_state = kPayloadEscape;
            } else if (m_message.payload.size() < kMaxPayload) {
                m_message.payload.push_back(byte);
            } else {
                m_state = kHunt;
            }
            return false;
        case kPayloadEscape:
            if (byte == kEnd) {
                m_state = kHunt;
                return true;
            }
            if (byte == kLiteral && m_message.payload.size() < kMaxPayload) {
                m_message.payload.push_back(kEscape);
                m_state = kPayload;
            } else {
                m_state = byte == kStart ? kType : kHunt;
            }
            return false;
    }
    return false;
}

std::optional<int> ScanCommandStep(const WireMessage& message) {
    const Bytes& p = message.payload;
    if (message.type != wire::kScanCommand || p.size() != wire::kScanCommandSize ||
        !std::equal(wire::kScanCommandTemplate,
                    wire::kScanCommandTemplate + wire::kScanCommandPrefixSize, p.begin())) {
        return std::nullopt;
    }
    return p[wire::kScanCommandStepOffset];
}

UnitResponder::UnitResponder(Scenario scenario)
    : m_scenario(std::move(scenario)), m_random(m_scenario.seed) {}

UnitAnswer UnitResponder::Answer(const WireMessage& message, std::optional<MapPosition> position) {
    UnitAnswer answer;
    if (message.type == wire::kFirmwareVersion) {
        Send(answer, wire::kFirmwareVersion, TextPayload(m_scenario.firmware));
        return answer;
    }
    if (message.type == wire::kSerialNumber) {
        Send(answer, wire::kSerialNumber, TextPayload(m_scenario.serial));
        return answer;
    }
    std::optional<int> step = ScanCommandStep(message);
    if (!step) {
        return answer;  // nothing else the host sends needs an answer
    }
    const ScenarioFaults& faults = m_scenario.faults;
    ++m_scanCommands;
    answer.dwellMs = m_scenario.dwellMs;
    if (faults.dropAnswerEvery != 0 && m_scanCommands % faults.dropAnswerEvery == 0) {
        answer.dropped = true;
        return answer;
    }
    if (faults.radioNotResponding) {
        Send(answer, wire::kRadioReport, {0x00});
        return answer;
    }
    if (*step == faults.restartOnStep && !m_restartSent) {
        m_restartSent = true;
        // The scan command echoed with the restart sub-code in bytes 2..5.
        Bytes status(message.payload);
        const uint8_t subCode[4] = {0xFF, 0x02, 0x00, 0x03};
        std::copy(std::begin(subCode), std::end(subCode), status.begin() + 2);
        Send(answer, wire::kStatus, status);
        return answer;
    }
    bool heard = false;
    for (const SimAccessPoint& ap : m_scenario.accessPoints) {
        if (ap.step != *step) {
            continue;
        }
        if (std::optional<int> level = Hear(ap, position)) {
            heard = true;
            Send(answer, wire::kStatus, ChannelResult(message.payload, &ap, *level));
        }
    }
    if (!heard) {
        Send(answer, wire::kStatus, ChannelResult(message.payload, nullptr, 0));
    }
    return answer;
}

void UnitResponder::Send(UnitAnswer& answer, uint8_t type, Bytes payload) {
    OutgoingMessage out;
    ++m_messagesSent;
    if (m_scenario.faults.garbageEvery != 0 &&
        m_messagesSent % m_scenario.faults.garbageEvery == 0) {
        // Never the escape byte: garbage must not swallow the frame behind it
        // (a lost frame is what the drop fault is for).
        size_t n = 1 + m_random() % kMaxGarbage;
        for (size_t i = 0; i < n; ++i) {
            uint8_t byte = static_cast<uint8_t>(m_random() % 255);
            out.garbage.push_back(byte >= kEscape ? byte + 1 : byte);
        }
    }
    out.message.type = type;
    out.message.payload = std::move(payload);
    answer.messages.push_back(std::move(out));
}

Bytes UnitResponder::ChannelResult(const Bytes& command, const SimAccessPoint* ap, int level) {
    // Header: the scan command echoed, so bytes 2..5 carry the sub-code 1C 00 00 N.
    Bytes payload(wire::kChannelResultLength, 0);
    std::copy(command.begin(), command.begin() + wire::kResultOffset, payload.begin());
    if (ap != nullptr) {
        uint8_t* block = payload.data() + wire::kResultOffset;
        std::copy(ap->mac.begin(), ap->mac.end(), block);
        block[wire::kResultRssi] = static_cast<uint8_t>(static_cast<int8_t>(level));
        std::copy(ap->ssid.begin(), ap->ssid.begin() + std::min(ap->ssid.size(), kSsidField - 1),
                  block + wire::kResultSsid);
        block[wire::kResultFrequency] = static_cast<uint8_t>(ap->frequency & 0xFF);
        block[wire::kResultFrequency + 1] = static_cast<uint8_t>((ap->frequency >> 8) & 0xFF);
    }
    return payload;
}

double UnitResponder::NoisyLevel(const SimAccessPoint& ap, std::optional<MapPosition> position) {
    double level = position ? PathLevel(m_scenario, ap, position->x, position->y) : ap.rssi;
    if (ap.noiseDb > 0) {
        level += ap.noiseDb * NextGaussian();
    }
    return level;
}

int UnitResponder::HeardLevel(const SimAccessPoint& ap, std::optional<MapPosition> position) {
    return Reported(NoisyLevel(ap, position));
}

std::optional<int> UnitResponder::Hear(const SimAccessPoint& ap,
                                       std::optional<MapPosition> position) {
    const double level = NoisyLevel(ap, position);
    if (!Audible(m_scenario, level)) {
        return std::nullopt;
    }
    return Reported(level);
}

// Box-Muller from two raw 32-bit draws, so the figures depend only on the seed
// and not on a library's distribution code.
double UnitResponder::NextGaussian() {
    constexpr double kScale = 4294967296.0;
    constexpr double kTwoPi = 6.283185307179586;
    double u1 = (static_cast<double>(m_random()) + 0.5) / kScale;
    double u2 = (static_cast<double>(m_random()) + 0.5) / kScale;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

std::string DescribeMessage(uint8_t type, const uint8_t* payload, size_t length) {
    char text[96];
    switch (type) {
        case wire::kFirmwareVersion:
            return length == 0 ? "firmware-version request"
                               : "firmware version " + Quoted(payload, length);
        case wire::kSerialNumber:
            return length == 0 ? "serial-number request"
                               : "serial number " + Quoted(payload, length);
        case wire::kScanCommand: {
            WireMessage message{wire::kScanCommand, Bytes(payload, payload + length)};
            if (std::optional<int> step = ScanCommandStep(message)) {
                std::snprintf(text, sizeof text, "scan command, channel step %d", *step);
                return text;
            }
            if (length == 0 || payload[0] == 0) {
                return "radio not responding";
            }
            std::snprintf(text, sizeof text, "radio report %02X (no action)", payload[0]);
            return text;
        }
        case wire::kStatus: {
            if (length < wire::kSubCodeOffset + 4) {
                return "status without a sub-code (shorter than 6 bytes)";
            }
            uint32_t subCode = ReadU32(payload + wire::kSubCodeOffset);
            if (subCode == wire::kRestartRadio || subCode == wire::kRestartScan) {
                std::snprintf(text, sizeof text,
                              "sub-code %08" PRIX32 ", restart: the sweep starts again at step 1",
                              subCode);
                return text;
            }
            int step = static_cast<int>(subCode >> wire::kSubCodeStepShift);
            if ((subCode & wire::kChannelResultMask) != wire::kChannelResultCode) {
                std::snprintf(text, sizeof text, "status, sub-code %08" PRIX32 " (no action)",
                              subCode);
                return text;
            }
            if (step < 1 || step > wire::kSweepSteps) {
                std::snprintf(text, sizeof text,
                              "sub-code %08" PRIX32 ", result for step %d outside 1..16 (ignored)",
                              subCode, step);
                return text;
            }
            std::snprintf(text, sizeof text,
                          "sub-code %08" PRIX32 ", channel result step %d: ", subCode, step);
            if (length < wire::kChannelResultLength) {
                return text + std::string("no result block (shorter than 70 bytes)");
            }
            return text + DescribeResultBlock(payload + wire::kResultOffset);
        }
        default:
            std::snprintf(text, sizeof text, "type %02X is not used by the unit (ignored)", type);
            return text;
    }
}

}  // namespace sim
