// The simulated unit on its pseudo-terminal, talked to as a raw serial port.
#include "sim/simulated_unit.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace {

using sim::Bytes;

// The slave side opened as a host opens a serial port: raw, 8 bits, no echo.
class RawPort {
  public:
    explicit RawPort(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~RawPort() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    bool ok() const { return m_fd >= 0; }
    void Write(const Bytes& bytes) {
        ASSERT_EQ(ssize_t(bytes.size()), ::write(m_fd, bytes.data(), bytes.size()));
    }
    // Reads exactly n bytes; the 10-second bound only keeps a broken unit from hanging the run.
    Bytes Read(size_t n) {
        Bytes out;
        auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (out.size() < n && std::chrono::steady_clock::now() < give_up) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                uint8_t buffer[256];
                ssize_t got = ::read(m_fd, buffer, std::min(sizeof buffer, n - out.size()));
                if (got > 0) {
                    out.insert(out.end(), buffer, buffer + got);
                }
            }
        }
        return out;
    }
    // True when nothing at all arrives within the given time.
    bool Silent(int ms) {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, ms) == 0;
    }

  private:
    int m_fd = -1;
};

Bytes ScanFrame(int step) {
    return sim::EncodeUnitFrame(
        3, {0x01, 0x00, 0x1C, 0x00, 0x00, static_cast<uint8_t>(step), 0, 0, 0, 0, 0, 0x3A});
}

sim::Scenario SmallScenario() {
    sim::Scenario s;
    s.baud = 0;
    s.firmware = "CV-3.01";
    sim::SimAccessPoint ap;
    ap.mac = {0x00, 0x0a, 0x1b, 0x2c, 0x3d, 0x4e};
    ap.ssid = "Lab";
    ap.step = 2;
    ap.rssi = -40;
    ap.hasPosition = true;
    ap.x = 100;
    ap.y = 100;
    ap.pathLoss = 3.0;
    s.accessPoints = {ap};
    return s;
}

class EventLog {
  public:
    void Add(const sim::UnitEvent& e) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(e);
    }
    std::vector<sim::UnitEvent> Events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

  private:
    std::mutex m_mutex;
    std::vector<sim::UnitEvent> m_events;
};

TEST(SimulatedUnit, AnswersOverThePseudoTerminalIgnoringKeepAlive) {
    EventLog log;
    std::string error;
    auto unit = sim::SimulatedUnit::Start(SmallScenario(), error,
                                          [&log](const sim::UnitEvent& e) { log.Add(e); });
    ASSERT_TRUE(unit) << error;
    EXPECT_EQ(0u, unit->SlavePath().find("/dev/pts/"));
    RawPort port(unit->SlavePath());
    ASSERT_TRUE(port.ok());

    Bytes request = {0x00, 0x00, 0x11, 0x12, 0x01, 0x11, 0x13};
    port.Write(request);
    Bytes expected = sim::EncodeUnitFrame(1, {'C', 'V', '-', '3', '.', '0', '1'});
    EXPECT_EQ(expected, port.Read(expected.size()));

    // Every byte value crosses the terminal untouched (raw both ways): the
    // result holds 0x0a, 0x11, 0x1b, 0x3d and the 0xD8 of -40 dBm.
    port.Write(ScanFrame(2));
    sim::UnitResponder reference(SmallScenario());
    Bytes scan = ScanFrame(2);
    sim::WireMessage command{3, Bytes(scan.begin() + 3, scan.end() - 2)};
    Bytes payload = reference.Answer(command, std::nullopt).messages.at(0).message.payload;
    expected = sim::EncodeUnitFrame(4, payload);
    EXPECT_EQ(expected, port.Read(expected.size()));
    EXPECT_TRUE(port.Silent(50));

    unit->Stop();
    std::vector<sim::UnitEvent> events = log.Events();
    ASSERT_EQ(4u, events.size());
    EXPECT_EQ(sim::UnitEvent::kHostMessage, events[0].kind);
    EXPECT_EQ(1, events[0].message.type);
    EXPECT_EQ(sim::UnitEvent::kUnitMessage, events[1].kind);
    EXPECT_EQ(sim::UnitEvent::kHostMessage, events[2].kind);
    EXPECT_EQ(3, events[2].message.type);
    EXPECT_EQ(payload, events[3].message.payload);
}

TEST(SimulatedUnit, KeepsServingAcrossHostSessionsAndStopsWithAnswersPending) {
    sim::Scenario s = SmallScenario();
    std::string error;
    auto unit = sim::SimulatedUnit::Start(s, error);
    ASSERT_TRUE(unit) << error;
    Bytes expected = sim::EncodeUnitFrame(2, {'A', '1', 'B', '2', 'C', '3', 'D', '4'});
    {
        RawPort first(unit->SlavePath());
        first.Write({0x11, 0x12, 0x02, 0x11, 0x13});
        EXPECT_EQ(expected, first.Read(expected.size()));
    }
    {
        RawPort second(unit->SlavePath());
        second.Write({0x11, 0x12, 0x02, 0x11, 0x13});
        EXPECT_EQ(expected, second.Read(expected.size()));
    }

    // A minute's dwell: Stop must not wait for the answer.
    s.dwellMs = 60000;
    auto slow = sim::SimulatedUnit::Start(s, error);
    ASSERT_TRUE(slow) << error;
    RawPort port(slow->SlavePath());
    port.Write(ScanFrame(2));
    EXPECT_TRUE(port.Silent(100));
    slow->Stop();
    slow->Stop();  // idempotent
}

}  // namespace
