#include "sim/unit_protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "scanner/frame_codec.h"
#include "sim/line_pacer.h"

namespace {

using sim::Bytes;
using sim::WireMessage;

WireMessage ScanCommand(int step) {
    return {3,
            {0x01, 0x00, 0x1C, 0x00, 0x00, static_cast<uint8_t>(step), 0x00, 0x00, 0x00, 0x00, 0x00,
             0x3A}};
}

sim::SimAccessPoint Ap(int step, uint8_t last, int rssi = -45) {
    sim::SimAccessPoint ap;
    ap.mac = {0x00, 0x1d, 0x7e, 0x4a, 0x11, last};
    ap.ssid = "Lab";
    ap.step = step;
    ap.frequency = 5180;
    ap.rssi = rssi;
    return ap;
}

sim::Scenario TwoStepScenario() {
    sim::Scenario s;
    s.accessPoints = {Ap(1, 0x01, -45), Ap(1, 0x02, -60), Ap(3, 0x03, -30)};
    return s;
}

// Runs the unit's bytes through the host's own receive machine, driven as the
// reader thread drives it, and collects what it delivers.
class HostReceiver : public MessageSink {
  public:
    std::vector<WireMessage> messages;
    void OnMessage(uint8_t type, const uint8_t* payload, uint16_t length) override {
        messages.push_back({type, Bytes(payload, payload + length)});
    }
    void Read(const Bytes& stream) {
        uint16_t state = 0;
        uint8_t byte = 0;
        int count = 0;
        size_t next = 0;
        for (int guard = 0; guard < 100000; ++guard) {
            if (ReceiveStep(state, &byte, count, *this) == 0) {
                continue;
            }
            if (next == stream.size()) {
                return;
            }
            byte = stream[next++];
            count = 1;
        }
        FAIL() << "receive machine did not consume the stream";
    }
};

TEST(UnitResponder, AnswersTheTextRequestsWithTheScenarioTexts) {
    sim::Scenario s;
    s.firmware = "CV-9.99";
    s.serial = "0123456789";
    sim::UnitResponder unit(s);
    sim::UnitAnswer firmware = unit.Answer({1, {}}, std::nullopt);
    ASSERT_EQ(1u, firmware.messages.size());
    EXPECT_EQ(1, firmware.messages[0].message.type);
    EXPECT_EQ(Bytes({'C', 'V', '-', '9', '.', '9', '9'}), firmware.messages[0].message.payload);
    sim::UnitAnswer serial = unit.Answer({2, {}}, std::nullopt);
    ASSERT_EQ(1u, serial.messages.size());
    EXPECT_EQ(2, serial.messages[0].message.type);
    EXPECT_EQ(10u, serial.messages[0].message.payload.size());
    EXPECT_EQ(0u, firmware.dwellMs) << "only channel steps dwell";

    // Nothing else the host may send asks for an answer.
    EXPECT_TRUE(unit.Answer({3, {0x01, 0x02}}, std::nullopt).messages.empty());
    EXPECT_TRUE(unit.Answer({9, {}}, std::nullopt).messages.empty());
    EXPECT_TRUE(unit.Answer({4, Bytes(70, 0)}, std::nullopt).messages.empty());
    EXPECT_EQ(0u, unit.ScanCommandsSeen());
}

TEST(UnitResponder, ChannelResultCarriesTheSubCodeEchoAndTheResultBlock) {
    sim::Scenario s = TwoStepScenario();
    s.accessPoints[0].ssid = "Halloway-Corp";
    s.accessPoints[0].frequency = 5745;
    s.dwellMs = 12;
    sim::UnitResponder unit(s);
    sim::UnitAnswer answer = unit.Answer(ScanCommand(1), std::nullopt);
    EXPECT_EQ(12u, answer.dwellMs);
    ASSERT_EQ(2u, answer.messages.size()) << "one message per access point, in scenario order";

    Bytes expected(70, 0);
    const uint8_t header[12] = {0x01, 0x00, 0x1C, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0x3A};
    std::copy(header, header + 12, expected.begin());
    const uint8_t mac[6] = {0x00, 0x1d, 0x7e, 0x4a, 0x11, 0x01};
    std::copy(mac, mac + 6, expected.begin() + 12);
    expected[12 + 13] = static_cast<uint8_t>(-45);
    std::string ssid = "Halloway-Corp";
    std::copy(ssid.begin(), ssid.end(), expected.begin() + 12 + 15);
    expected[12 + 48] = 5745 & 0xFF;
    expected[12 + 49] = 5745 >> 8;
    EXPECT_EQ(4, answer.messages[0].message.type);
    EXPECT_EQ(expected, answer.messages[0].message.payload);
    EXPECT_TRUE(answer.messages[0].garbage.empty());
    EXPECT_EQ(0x02, answer.messages[1].message.payload[12 + 5]);
    EXPECT_EQ(static_cast<uint8_t>(-60), answer.messages[1].message.payload[12 + 13]);

    // A step where nothing is heard: one block whose frequency is 0.
    sim::UnitAnswer empty = unit.Answer(ScanCommand(2), std::nullopt);
    ASSERT_EQ(1u, empty.messages.size());
    Bytes nothing(70, 0);
    std::copy(header, header + 12, nothing.begin());
    nothing[5] = 0x02;
    EXPECT_EQ(nothing, empty.messages[0].message.payload);
    EXPECT_EQ(2u, unit.ScanCommandsSeen());
}

TEST(UnitResponder, HostReceiveMachineReadsTheUnitsFramesBackIncludingStuffedBytes) {
    sim::UnitResponder unit(TwoStepScenario());  // every MAC holds an 0x11 byte
    Bytes stream = {0x00, 0x00};
    std::vector<WireMessage> sent;
    for (const WireMessage& request : {WireMessage{1, {}}, ScanCommand(1), ScanCommand(3)}) {
        for (const sim::OutgoingMessage& out : unit.Answer(request, std::nullopt).messages) {
            Bytes frame = sim::EncodeUnitFrame(out.message.type, out.message.payload);
            stream.insert(stream.end(), frame.begin(), frame.end());
            sent.push_back(out.message);
        }
    }
    HostReceiver host;
    host.Read(stream);
    ASSERT_EQ(4u, host.messages.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].type, host.messages[i].type);
        EXPECT_EQ(sent[i].payload, host.messages[i].payload);
    }
    // The unit's encoder and the host's agree wherever the host's 128 bytes suffice.
    uint8_t hostFrame[kFrameBufferSize];
    const Bytes& payload = sent[1].payload;
    unsigned n = EncodeFrame(4, payload.data(), static_cast<unsigned>(payload.size()), hostFrame);
    EXPECT_EQ(Bytes(hostFrame, hostFrame + n), sim::EncodeUnitFrame(4, payload));
    // ...and the unit's has no 128-byte limit.
    EXPECT_EQ(3u + 2 * 100 + 2, sim::EncodeUnitFrame(4, Bytes(100, 0x11)).size());
}

TEST(UnitFrameDecoder, SkipsKeepAliveAndNoiseAndRecoversFromBrokenFrames) {
    sim::UnitFrameDecoder decoder;
    std::vector<WireMessage> got;
    auto feed = [&](const Bytes& bytes) {
        for (uint8_t b : bytes) {
            if (decoder.Feed(b)) {
                got.push_back(decoder.Message());
            }
        }
    };
    feed({0x00, 0x00, 0x11, 0x12, 0x01, 0x11, 0x13});              // keep-alive, then type 1
    feed({0x11, 0x12, 0x03, 0x41, 0x11, 0x14, 0x42, 0x11, 0x13});  // stuffed 0x11
    feed({0x11, 0x12, 0x11, 0x14, 0x11, 0x13});                    // type 0x11, empty
    feed({0x11, 0x12, 0x05, 0x41, 0x11, 0x15, 0x11, 0x13});        // bad escape: dropped
    feed({0x11, 0x12, 0x05, 0x41, 0x11, 0x12, 0x02, 0x11, 0x13});  // restart mid-frame
    feed({0x11, 0x11, 0x12, 0x06, 0x11, 0x13});                    // doubled escape before start
    ASSERT_EQ(5u, got.size());
    EXPECT_EQ(1, got[0].type);
    EXPECT_TRUE(got[0].payload.empty());
    EXPECT_EQ(Bytes({0x41, 0x11, 0x42}), got[1].payload);
    EXPECT_EQ(0x11, got[2].type);
    EXPECT_TRUE(got[2].payload.empty());
    EXPECT_EQ(2, got[3].type);
    EXPECT_TRUE(got[3].payload.empty());
    EXPECT_EQ(6, got[4].type);

    // An endless payload is dropped, and the next frame is still read.
    got.clear();
    feed({0x11, 0x12, 0x03});
    feed(Bytes(sim::UnitFrameDecoder::kMaxPayload + 10, 0x41));
    feed({0x11, 0x13, 0x11, 0x12, 0x02, 0x11, 0x13});
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(2, got[0].type);
}

TEST(UnitResponder, LevelFallsWithDistanceAndStaysWithinRange) {
    sim::Scenario s;
    sim::UnitResponder unit(s);
    sim::SimAccessPoint ap = Ap(1, 1, -45);
    ap.hasPosition = true;
    ap.x = 100;
    ap.y = 100;
    ap.pathLoss = 3.0;
    EXPECT_EQ(-45, unit.HeardLevel(ap, std::nullopt)) << "no surveyor position: no path loss";
    EXPECT_EQ(-45, unit.HeardLevel(ap, sim::MapPosition{106, 108})) << "within 10 pixels";
    EXPECT_EQ(-75, unit.HeardLevel(ap, sim::MapPosition{160, 180})) << "100 px: 30 dB down";
    EXPECT_EQ(-54, unit.HeardLevel(ap, sim::MapPosition{100, 120})) << "20 px: 9 dB down";
    EXPECT_EQ(-100, unit.HeardLevel(ap, sim::MapPosition{5000, 5000}));
    ap.hasPosition = false;
    EXPECT_EQ(-45, unit.HeardLevel(ap, sim::MapPosition{5000, 5000}));
    ap.rssi = -5;
    EXPECT_EQ(-20, unit.HeardLevel(ap, std::nullopt));
}

// Every wall on the straight line from the access point to the surveyor costs
// the wall loss, once; the noise-free level is what a hearing without noise
// reports.
TEST(UnitResponder, WallsBetweenAccessPointAndSurveyorCostTheirLossOnce) {
    sim::Scenario s;
    s.walls = {{150, 0, 150, 100},  // two pieces of one wall at x = 150 ...
               {150, 100, 150, 200},
               {250, 0, 250, 90},  // ... a wall at x = 250 with a door at y 90..110
               {250, 110, 250, 200},
               {0, 300, 400, 300}};  // a wall the line may run along
    s.wallLossDb = 6;
    sim::SimAccessPoint ap = Ap(1, 1, -45);
    ap.hasPosition = true;
    ap.x = 100;
    ap.y = 100;
    ap.pathLoss = 3.0;
    s.accessPoints = {ap};
    sim::UnitResponder unit(s);
    const double open = -45 - 30 * std::log10(100.0 / 10);  // 100 px away, no wall
    EXPECT_DOUBLE_EQ(open, sim::ExactLevel(s, ap, 100, 200)) << "nothing in between";
    EXPECT_DOUBLE_EQ(open - 6, sim::ExactLevel(s, ap, 200, 100))
        << "through the joint of two pieces: one wall";
    EXPECT_DOUBLE_EQ(-45 - 30 * std::log10(20.0) - 6, sim::ExactLevel(s, ap, 300, 100))
        << "through the door: only the first wall";
    EXPECT_DOUBLE_EQ(-45 - 30 * std::log10(std::hypot(200.0, 50.0) / 10) - 12,
                     sim::ExactLevel(s, ap, 300, 150))
        << "two walls";
    EXPECT_EQ(0, sim::WallsCrossed(s.walls, 50, 300, 350, 300)) << "along a wall";
    EXPECT_EQ(static_cast<int>(std::lround(open - 6)),
              unit.HeardLevel(ap, sim::MapPosition{200, 100}));
    EXPECT_DOUBLE_EQ(-100, sim::ExactLevel(s, ap, 5000, 100)) << "kept within -100 .. -20";
    ap.hasPosition = false;
    EXPECT_DOUBLE_EQ(-45, sim::ExactLevel(s, ap, 200, 100)) << "no position: no walls";
}

// An access point below the sensitivity is not heard at all: the step's
// answer says nothing was heard, where the level alone would be reported at
// the -100 dBm limit.
TEST(UnitResponder, SensitivityHidesAFarAccessPoint) {
    sim::Scenario s;
    sim::SimAccessPoint ap = Ap(1, 1, -40);
    ap.hasPosition = true;
    ap.pathLoss = 3;
    s.accessPoints = {ap};
    const auto heardLevel = [&](const sim::Scenario& scenario, int x) -> std::optional<int> {
        sim::UnitResponder unit(scenario);
        const sim::UnitAnswer answer = unit.Answer(ScanCommand(1), sim::MapPosition{x, 0});
        EXPECT_EQ(1u, answer.messages.size());
        const Bytes& p = answer.messages.at(0).message.payload;
        if (p[wire::kResultOffset + wire::kResultFrequency] == 0) {
            EXPECT_EQ(std::nullopt, unit.Hear(ap, sim::MapPosition{x, 0}));
            return std::nullopt;
        }
        const int level = static_cast<int8_t>(p[wire::kResultOffset + wire::kResultRssi]);
        EXPECT_EQ(level, unit.HeardLevel(ap, sim::MapPosition{x, 0}));
        return level;
    };
    ASSERT_DOUBLE_EQ(-97, std::round(sim::ExactLevel(s, ap, 794, 0)));
    EXPECT_EQ(-70, heardLevel(s, 100));
    EXPECT_EQ(std::nullopt, heardLevel(s, 794)) << "below the default -95 dBm";
    EXPECT_EQ(std::nullopt, heardLevel(s, 5000));
    s.sensitivityDbm = -100;
    EXPECT_EQ(-97, heardLevel(s, 794));
    s.sensitivityDbm = -128;
    EXPECT_EQ(-100, heardLevel(s, 5000)) << "heard, at the level's limit";
}

TEST(UnitResponder, NoiseIsGaussianWithTheGivenDeviationAndRepeatsForASeed) {
    sim::Scenario s;
    s.seed = 42;
    sim::SimAccessPoint ap = Ap(1, 1, -60);
    ap.noiseDb = 4.0;
    sim::UnitResponder a(s), b(s);
    double sum = 0, squares = 0;
    const int n = 4000;
    for (int i = 0; i < n; ++i) {
        int level = a.HeardLevel(ap, std::nullopt);
        ASSERT_EQ(level, b.HeardLevel(ap, std::nullopt)) << "draw " << i;
        sum += level + 60;
        squares += (level + 60) * (level + 60);
    }
    double mean = sum / n;
    double deviation = std::sqrt(squares / n - mean * mean);
    EXPECT_NEAR(0.0, mean, 0.3);
    EXPECT_NEAR(4.0, deviation, 0.3);  // rounding to whole dB adds ~0.08

    s.seed = 43;
    sim::UnitResponder c(s);
    int differ = 0;
    for (int i = 0; i < 50; ++i) {
        differ += c.HeardLevel(ap, std::nullopt) != a.HeardLevel(ap, std::nullopt);
    }
    EXPECT_GT(differ, 10) << "another seed gives other noise";
}

std::vector<Bytes> Sweep(sim::UnitResponder& unit, std::vector<Bytes>* garbage = nullptr) {
    std::vector<Bytes> payloads;
    for (int step = 1; step <= 16; ++step) {
        for (const sim::OutgoingMessage& out :
             unit.Answer(ScanCommand(step), sim::MapPosition{30, 40}).messages) {
            payloads.push_back(out.message.payload);
            if (garbage) {
                garbage->push_back(out.garbage);
            }
        }
    }
    return payloads;
}

TEST(UnitResponder, SameSeedSameAnswersByteForByte) {
    sim::Scenario s = sim::BuiltInOfficeScenario();
    s.faults.garbageEvery = 3;
    sim::UnitResponder a(s), b(s);
    std::vector<Bytes> garbageA, garbageB;
    for (int sweep = 0; sweep < 3; ++sweep) {
        EXPECT_EQ(Sweep(a, &garbageA), Sweep(b, &garbageB));
    }
    EXPECT_EQ(garbageA, garbageB);
}

TEST(UnitResponder, DropFaultLeavesEveryNthScanCommandUnanswered) {
    sim::Scenario s = TwoStepScenario();
    s.faults.dropAnswerEvery = 3;
    sim::UnitResponder unit(s);
    std::vector<int> dropped;
    for (int i = 1; i <= 9; ++i) {
        sim::UnitAnswer answer = unit.Answer(ScanCommand(2), std::nullopt);
        EXPECT_EQ(answer.dropped, answer.messages.empty());
        if (answer.dropped) {
            dropped.push_back(i);
        }
        unit.Answer({1, {}}, std::nullopt);  // other requests do not count
    }
    EXPECT_EQ(std::vector<int>({3, 6, 9}), dropped);
}

TEST(UnitResponder, GarbageFaultPrecedesEveryNthMessageAndSparesTheFrameBehind) {
    sim::Scenario s = sim::BuiltInOfficeScenario();
    s.faults.garbageEvery = 2;
    sim::UnitResponder unit(s);
    Bytes stream;
    std::vector<Bytes> garbage;
    std::vector<Bytes> payloads = Sweep(unit, &garbage);
    ASSERT_EQ(17u, payloads.size());  // 10 access points, 7 quiet steps
    for (size_t i = 0; i < garbage.size(); ++i) {
        EXPECT_EQ(i % 2 == 1, !garbage[i].empty()) << "message " << i + 1;
        EXPECT_LE(garbage[i].size(), 16u);
        EXPECT_EQ(garbage[i].end(), std::find(garbage[i].begin(), garbage[i].end(), 0x11));
        stream.insert(stream.end(), garbage[i].begin(), garbage[i].end());
        Bytes frame = sim::EncodeUnitFrame(4, payloads[i]);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    HostReceiver host;
    host.Read(stream);
    ASSERT_EQ(payloads.size(), host.messages.size()) << "garbage must cost the host no message";
    for (size_t i = 0; i < payloads.size(); ++i) {
        EXPECT_EQ(payloads[i], host.messages[i].payload);
    }
}

TEST(UnitResponder, RestartFaultAnswersItsStepOnceWithTheRestartSubCode) {
    sim::Scenario s = TwoStepScenario();
    s.faults.restartOnStep = 3;
    sim::UnitResponder unit(s);
    EXPECT_EQ(2u, unit.Answer(ScanCommand(1), std::nullopt).messages.size());
    sim::UnitAnswer restart = unit.Answer(ScanCommand(3), std::nullopt);
    ASSERT_EQ(1u, restart.messages.size());
    EXPECT_EQ(4, restart.messages[0].message.type);
    EXPECT_EQ(Bytes({0x01, 0x00, 0xFF, 0x02, 0x00, 0x03, 0, 0, 0, 0, 0, 0x3A}),
              restart.messages[0].message.payload);
    sim::UnitAnswer second = unit.Answer(ScanCommand(3), std::nullopt);
    ASSERT_EQ(1u, second.messages.size());
    EXPECT_EQ(0x03, second.messages[0].message.payload[5]);
    EXPECT_EQ(70u, second.messages[0].message.payload.size());
}

TEST(UnitResponder, RadioNotRespondingAnswersEveryScanWithTheType3Report) {
    sim::Scenario s = TwoStepScenario();
    s.faults.radioNotResponding = true;
    sim::UnitResponder unit(s);
    for (int step : {1, 2, 16}) {
        sim::UnitAnswer answer = unit.Answer(ScanCommand(step), std::nullopt);
        ASSERT_EQ(1u, answer.messages.size());
        EXPECT_EQ(3, answer.messages[0].message.type);
        EXPECT_EQ(Bytes({0x00}), answer.messages[0].message.payload);
    }
    EXPECT_EQ(1, unit.Answer({1, {}}, std::nullopt).messages.at(0).message.type)
        << "the texts still answer";
}

std::string Describe(uint8_t type, const Bytes& payload) {
    return sim::DescribeMessage(type, payload.data(), payload.size());
}

TEST(DescribeMessage, ReadsEveryMessageAPersonMeetsOnTheLine) {
    EXPECT_EQ("firmware-version request", Describe(1, {}));
    EXPECT_EQ("firmware version \"CV-2.10\"", Describe(1, {'C', 'V', '-', '2', '.', '1', '0'}));
    EXPECT_EQ("serial number \"A1\\x01\"", Describe(2, {'A', '1', 0x01}));
    EXPECT_EQ("scan command, channel step 7", Describe(3, ScanCommand(7).payload));
    EXPECT_EQ("radio not responding", Describe(3, {0x00}));
    EXPECT_EQ("radio not responding", Describe(3, {}));
    EXPECT_EQ("radio report 05 (no action)", Describe(3, {0x05}));
    EXPECT_EQ("sub-code 030002FF, restart: the sweep starts again at step 1",
              Describe(4, {0, 0, 0xFF, 0x02, 0x00, 0x03}));
    EXPECT_EQ("sub-code 04000018, restart: the sweep starts again at step 1",
              Describe(4, {0, 0, 0x18, 0x00, 0x00, 0x04}));
    EXPECT_EQ("status, sub-code 00000001 (no action)", Describe(4, {0, 0, 1, 0, 0, 0}));
    EXPECT_EQ("sub-code 1100001C, result for step 17 outside 1..16 (ignored)",
              Describe(4, {0, 0, 0x1C, 0, 0, 0x11}));
    EXPECT_EQ("status without a sub-code (shorter than 6 bytes)", Describe(4, {1, 2}));
    EXPECT_EQ("sub-code 0200001C, channel result step 2: no result block (shorter than 70 bytes)",
              Describe(4, {0, 0, 0x1C, 0, 0, 2}));
    EXPECT_EQ("type 09 is not used by the unit (ignored)", Describe(9, {}));

    sim::UnitResponder unit(TwoStepScenario());
    Bytes result = unit.Answer(ScanCommand(3), std::nullopt).messages.at(0).message.payload;
    EXPECT_EQ(
        "sub-code 0300001C, channel result step 3: MAC 00:1d:7e:4a:11:03, RSSI -30 dBm, "
        "SSID \"Lab\", frequency 5180 MHz (channel 36)",
        Describe(4, result));
    Bytes quiet = unit.Answer(ScanCommand(4), std::nullopt).messages.at(0).message.payload;
    EXPECT_EQ("sub-code 0400001C, channel result step 4: nothing heard (frequency 0)",
              Describe(4, quiet));
}

TEST(LinePacer, BytesFollowEachOtherAtTheLinesPaceAndIdleLinesStartAfresh) {
    using std::chrono::microseconds;
    sim::LinePacer line(38400);
    EXPECT_EQ(std::chrono::nanoseconds(260416), line.ByteTime());
    sim::LinePacer::TimePoint t0{};
    auto first = line.Carry(t0);
    EXPECT_EQ(t0 + line.ByteTime(), first);
    // Bytes handed over together queue behind each other.
    EXPECT_EQ(t0 + 2 * line.ByteTime(), line.Carry(t0));
    EXPECT_EQ(t0 + 3 * line.ByteTime(), line.Completion(t0));
    EXPECT_EQ(t0 + 3 * line.ByteTime(), line.Completion(t0)) << "Completion alone moves nothing";
    // After a pause the line starts from the moment the byte is ready.
    auto later = t0 + microseconds(10000);
    EXPECT_EQ(later + line.ByteTime(), line.Carry(later));

    sim::LinePacer unpaced(0);
    EXPECT_EQ(later, unpaced.Carry(later));
    EXPECT_EQ(later, unpaced.Carry(later));
}

}  // namespace
