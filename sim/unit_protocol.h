// The simulated unit's side of the wire protocol, without any I/O: its own
// frame decoder for what the host sends, its own frame encoder (the unit's
// messages are longer than the host's 128-byte frames allow), and the
// responder that turns each host message into the unit's answer.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "scanner/wire_protocol.h"
#include "sim/scenario.h"

namespace sim {

using Bytes = std::vector<uint8_t>;

struct WireMessage {
    uint8_t type = 0;
    Bytes payload;
};

// Frames the unit sends: 11 12 T [14] payload (every 11 followed by 14) 11 13.
Bytes EncodeUnitFrame(uint8_t type, const Bytes& payload);

// Decodes the host's frames one byte at a time. Bytes outside a frame (the
// keep-alive 00 00, line noise) are skipped; a start marker anywhere begins a
// new frame; a bad byte after an escape drops the frame in progress.
class UnitFrameDecoder {
  public:
    static constexpr size_t kMaxPayload = 4096;

    // Answers true when this byte completed a frame, now in Message().
    bool Feed(uint8_t byte);
    const WireMessage& Message() const { return m_message; }

  private:
    enum State { kHunt, kHuntEscape, kType, kTypeEscape, kPayload, kPayloadEscape };
    State m_state = kHunt;
    WireMessage m_message;
};

// The step of a type-3 scan command (01 00 1C 00 00 N 00 00 00 00 00 3A), or
// nothing when the payload is not one.
std::optional<int> ScanCommandStep(const WireMessage& message);

struct OutgoingMessage {
    Bytes garbage;  // raw bytes sent just before the frame (the garbage fault)
    WireMessage message;
};

struct UnitAnswer {
    unsigned dwellMs = 0;  // time on the channel before the first message leaves
    bool dropped = false;  // a scan command left unanswered by the drop fault
    std::vector<OutgoingMessage> messages;
};

struct MapPosition {
    int x = 0;
    int y = 0;
};

// The unit's brain. Deterministic: the same scenario (and seed) and the same
// sequence of host messages and positions give the same answers, byte for byte.
class UnitResponder {
  public:
    explicit UnitResponder(Scenario scenario);

    // The answer to one host message. position is where the surveyor stands,
    // when known; it weakens distant access points and those behind walls.
    UnitAnswer Answer(const WireMessage& message, std::optional<MapPosition> position);

    // The level one hearing of ap reports (path loss, walls, shadowing, noise,
    // clamp to -100..-20), heard or not.
    int HeardLevel(const SimAccessPoint& ap, std::optional<MapPosition> position);
    // One hearing as a scan reports it: that level, or nothing when the level
    // (noise included) is below the scenario's sensitivity. Draws the same
    // noise as HeardLevel.
    std::optional<int> Hear(const SimAccessPoint& ap, std::optional<MapPosition> position);

    unsigned ScanCommandsSeen() const { return m_scanCommands; }

  private:
    void Send(UnitAnswer& answer, uint8_t type, Bytes payload);
    Bytes ChannelResult(const Bytes& command, const SimAccessPoint* ap, int level);
    double NoisyLevel(const SimAccessPoint& ap, std::optional<MapPosition> position);
    double NextGaussian();

    Scenario m_scenario;
    std::mt19937 m_random;
    unsigned m_scanCommands = 0;
    unsigned m_messagesSent = 0;
    bool m_restartSent = false;
};

// A person's reading of one message, either direction: texts, scan commands
// and their step, radio reports, sub-codes with step, MAC, RSSI, SSID,
// frequency and channel, restart codes by name.
std::string DescribeMessage(uint8_t type, const uint8_t* payload, size_t length);

}  // namespace sim
