#include "scanner/serial_link.h"
#include "scanner/wire_trace.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

#include "memory_transport.h"
#include "platform/active_drivers.h"
#include "platform/clock.h"
#include "scanner_test_support.h"

namespace {

using namespace scanner_test;
using namespace std::chrono_literals;

// ---------------------------------------------------------------------------
// Finding the port in the active-driver table.

TEST(PortSearch, NoEntriesFallsBackToCom1) {
    platform::InMemoryDriverTable drivers;
    EXPECT_EQ(CSerialLink::FindPortName(drivers), "COM1:");
    drivers.SetValue(3, "PnpId", "Generic Serial");
    drivers.SetValue(3, "Name", "/dev/ttyUSB0");
    EXPECT_EQ(CSerialLink::FindPortName(drivers), "COM1:");
    EXPECT_EQ(drivers.OpenKeyCount(), 0);
}

TEST(PortSearch, QuatechBeatsSocketAtALowerIndex) {
    platform::InMemoryDriverTable drivers;
    drivers.SetValue(2, "PnpId", "Socket-CF-Serial");
    drivers.SetValue(2, "Name", "COM2:");
    drivers.SetValue(7, "PnpId", "Quatech-SSP-100");
    drivers.SetValue(7, "Name", "COM7:");
    EXPECT_EQ(CSerialLink::FindPortName(drivers), "COM7:");

    // Without the Quatech entry the Socket pass finds its port.
    platform::InMemoryDriverTable socketOnly;
    socketOnly.SetValue(2, "PnpId", "Socket");
    socketOnly.SetValue(2, "Name", "COM2:");
    EXPECT_EQ(CSerialLink::FindPortName(socketOnly), "COM2:");
    EXPECT_EQ(drivers.OpenKeyCount(), 0);
    EXPECT_EQ(socketOnly.OpenKeyCount(), 0);
}

TEST(PortSearch, LowestIndexWinsAndPrefixIsCaseSensitive) {
    platform::InMemoryDriverTable drivers;
    drivers.SetValue(0, "PnpId", "quatech lower case");
    drivers.SetValue(0, "Name", "COM1:");
    drivers.SetValue(4, "PnpId", "Quatec");  // too short
    drivers.SetValue(4, "Name", "COM4:");
    drivers.SetValue(9, "PnpId", "QuatechXYZ dual port");
    drivers.SetValue(9, "Name", "/dev/ttyUSB3");
    drivers.SetValue(12, "PnpId", "Quatech");
    drivers.SetValue(12, "Name", "/dev/ttyUSB4");
    EXPECT_EQ(CSerialLink::FindPortName(drivers), "/dev/ttyUSB3");
}

TEST(PortSearch, EntriesThatCannotBeReadAreSkipped) {
    platform::InMemoryDriverTable drivers;
    drivers.SetValue(1, "PnpId", "Quatech no name");  // "Name" query fails
    drivers.SetValue(2, "Name", "/dev/ttyS9");        // "PnpId" query fails
    drivers.SetValue(3, "PnpId", "Socket at 3");
    drivers.SetValue(3, "Name", "/dev/ttyUSB1");
    drivers.SetValue(51, "PnpId", "Quatech beyond the last key");
    drivers.SetValue(51, "Name", "/dev/ttyUSB9");
    EXPECT_EQ(CSerialLink::FindPortName(drivers), "/dev/ttyUSB1");
    EXPECT_EQ(drivers.OpenKeyCount(), 0);
}

TEST(PortSearch, OverlongValuesAreCut) {
    platform::InMemoryDriverTable drivers;
    drivers.SetValue(5, "PnpId", "Quatech" + std::string(600, 'p'));
    drivers.SetValue(5, "Name", "/dev/" + std::string(600, 'n'));
    // 128-byte name buffer: 127 characters and the terminator.
    EXPECT_EQ(CSerialLink::FindPortName(drivers), "/dev/" + std::string(122, 'n'));

    // A value queried with the search's 511-byte offer keeps 254 characters.
    platform::RegistryKey key;
    ASSERT_TRUE(drivers.OpenKey("Drivers\\Active\\05", key));
    std::u16string buffer(512, u'#');
    uint32_t size = 511;
    ASSERT_TRUE(drivers.QueryValue(key, "PnpId", &buffer[0], size));
    drivers.CloseKey(key);
    EXPECT_EQ(size, 510u);
    EXPECT_EQ(buffer[254], u'\0');
    EXPECT_EQ(buffer[255], u'#');  // nothing written past the offered size
}

// ---------------------------------------------------------------------------
// The link over a pseudo-terminal: the test holds the master side, the link
// opens the slave by name.

class PseudoTerminal {
  public:
    PseudoTerminal() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(m_master, 0);
        grantpt(m_master);
        unlockpt(m_master);
        char name[128] = {};
        ptsname_r(m_master, name, sizeof name);
        m_slavePath = name;
    }
    ~PseudoTerminal() { CloseMaster(); }

    const std::string& SlavePath() const { return m_slavePath; }
    int Master() const { return m_master; }
    void CloseMaster() {
        if (m_master >= 0) {
            close(m_master);
            m_master = -1;
        }
    }
    void Write(const Bytes& bytes) {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until count bytes have arrived or nothing arrives for quietMs.
    Bytes Read(size_t count, int quietMs = 3000) {
        Bytes out;
        while (out.size() < count) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, quietMs) <= 0) {
                break;
            }
            uint8_t buffer[256];
            ssize_t n = read(m_master, buffer, std::min(sizeof buffer, count - out.size()));
            if (n <= 0) {
                break;
            }
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    // Reads until the stream ends with the expected bytes (or times out).
    Bytes ReadUntil(const Bytes& tail, int quietMs = 3000) {
        Bytes out;
        while (out.size() < tail.size() ||
               !std::equal(tail.begin(), tail.end(), out.end() - tail.size())) {
            Bytes more = Read(1, quietMs);
            if (more.empty()) {
                break;
            }
            out.push_back(more[0]);
        }
        return out;
    }

  private:
    int m_master = -1;
    std::string m_slavePath;
};

bool EndsWith(const Bytes& bytes, const Bytes& tail) {
    return bytes.size() >= tail.size() &&
           std::equal(tail.begin(), tail.end(), bytes.end() - tail.size());
}

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = 5000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class SerialLinkTest : public ::testing::Test {
  protected:
    void TearDown() override { platform::SetTimeSourceForTest({}); }
    std::string Firmware() {
        char text[32];
        device.GetFirmwareVersion(text);
        return text;
    }

    RecordedMessageBoxes boxes;
    PseudoTerminal pty;
    DeviceUnderTest device;
};

TEST_F(SerialLinkTest, AppliesThePortSettings) {
    int slave = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    {
        CSerialLink link(&device, pty.SlavePath());
        ASSERT_TRUE(link.IsPortOpen());
        EXPECT_EQ(device.GetFrameQueue(), &link);
        termios tio{};
        ASSERT_EQ(tcgetattr(slave, &tio), 0);
        EXPECT_EQ(cfgetospeed(&tio), B38400);
        EXPECT_EQ(cfgetispeed(&tio), B38400);
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        EXPECT_EQ(tio.c_cc[VMIN], 0);
        EXPECT_EQ(tio.c_cc[VTIME], 3);
    }
    EXPECT_EQ(device.GetFrameQueue(), nullptr);
    close(slave);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(SerialLinkTest, PortThatCannotBeOpenedOrConfigured) {
    {
        CSerialLink link(&device, "/nonexistent/kestrow-port");
        EXPECT_FALSE(link.IsPortOpen());
        EXPECT_EQ(link.QueueFrame(reinterpret_cast<const uint8_t*>("ab"), 2), 1);
    }
    char path[] = "/tmp/kestrow-not-a-tty-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        CSerialLink link(&device, path);
        EXPECT_FALSE(link.IsPortOpen());
    }
    unlink(path);
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "Com Port Error");
    EXPECT_EQ(shown[0].caption, platform::kApplicationTitle);
    EXPECT_EQ(shown[0].style, platform::kMbOk);
    EXPECT_EQ(shown[1].text, "Could not SetCommState");
}

TEST_F(SerialLinkTest, FrameFromTheUnitIsDeliveredAndAnswered) {
    CSerialLink link(&device, pty.SlavePath());
    // The line starts idle: the keep-alive goes out first.
    EXPECT_EQ(pty.Read(2), (Bytes{0x00, 0x00}));
    pty.Write({0x11, 0x12, 0x01, 'C', 'V', '-', '2', '.', '1', '0', 0x11, 0x13});
    Bytes answer = pty.ReadUntil({0x11, 0x12, 0x02, 0x11, 0x13});
    EXPECT_TRUE(EndsWith(answer, {0x11, 0x12, 0x02, 0x11, 0x13}));
    EXPECT_EQ(Firmware(), "CV-2.10");
}

// A wire trace written to a temporary file, removed afterwards.
struct TraceFile {
    TraceFile() {
        const int fd = mkstemp(path);
        close(fd);
        std::string error;
        EXPECT_TRUE(trace.Open(path, error)) << error;
    }
    ~TraceFile() { unlink(path); }
    char path[32] = "/tmp/kestrow-trace-XXXXXX";
    WireTrace trace;
};

// The link over a line in memory, traced: the firmware answer comes in, the
// serial-number request goes out, and the trace holds both directions as
// lines a field engineer (and corvell decode --trace) can read.
TEST_F(SerialLinkTest, TracedLineInMemoryRecordsBothDirections) {
    TraceFile file;
    WireTrace& trace = file.trace;
    std::string error;
    auto line = std::make_shared<MemoryTransport::Line>();
    {
        CSerialLink link(
            &device, "memory", nullptr, true,
            std::make_unique<TracedTransport>(std::make_unique<MemoryTransport>(line), trace));
        line->Feed({0x11, 0x12, 0x01, 'V', '1', 0x11, 0x13});
        const Bytes request = {0x11, 0x12, 0x02, 0x11, 0x13};
        EXPECT_TRUE(EndsWith(line->WrittenUpTo(request), request));
        EXPECT_EQ(Firmware(), "V1");
    }
    std::ifstream in(file.path);
    std::vector<std::string> rx;
    std::vector<std::string> tx;
    std::string text;
    double last = 0;
    while (std::getline(in, text)) {
        TraceLine parsed;
        if (!ParseTraceLine(text, parsed, error)) {
            EXPECT_EQ(text.rfind("# ", 0), 0u) << text;  // a note
            continue;
        }
        EXPECT_GE(parsed.seconds, last);
        last = parsed.seconds;
        EXPECT_EQ(text, WireTrace::FormatLine(parsed.seconds, parsed.direction, parsed.bytes.data(),
                                              parsed.bytes.size()));
        (parsed.direction == WireTrace::Direction::kRx ? rx : tx)
            .push_back(text.substr(text.find(' ') + 1));
    }
    // The reader takes one byte a read; the writer a whole frame a write.
    EXPECT_EQ(rx, (std::vector<std::string>{"rx 11", "rx 12", "rx 01", "rx 56", "rx 31", "rx 11",
                                            "rx 13"}));
    EXPECT_EQ(tx.back(), "tx 11 12 02 11 13");
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(SerialLinkTest, PortRefusedIsReportedOnceWithTheSystemsReasonInTheTrace) {
    TraceFile file;
    WireTrace& trace = file.trace;
    auto line = std::make_shared<MemoryTransport::Line>();
    line->refuseOpen = true;
    {
        CSerialLink link(
            &device, "/dev/ttyUSB0", nullptr, true,
            std::make_unique<TracedTransport>(std::make_unique<MemoryTransport>(line), trace));
        EXPECT_FALSE(link.IsPortOpen());
    }
    ASSERT_EQ(boxes.Texts(), std::vector<std::string>{"Com Port Error"});
    std::ifstream in(file.path);
    std::string note;
    std::getline(in, note);
    EXPECT_NE(note.find("cannot open /dev/ttyUSB0: Permission denied: add yourself to the "
                        "dialout group"),
              std::string::npos)
        << note;
}

TEST_F(SerialLinkTest, OnlyTheLastQueuedFrameIsSent) {
    CSerialLink link(&device, pty.SlavePath(), nullptr, false);
    ASSERT_TRUE(link.IsPortOpen());
    const Bytes first = {0x11, 0x12, 0x01, 0x11, 0x13};
    const Bytes second = {0x11, 0x12, 0x02, 0x11, 0x13};
    link.QueueFrame(first.data(), static_cast<unsigned>(first.size()));
    link.QueueFrame(second.data(), static_cast<unsigned>(second.size()));
    link.StartWriter();
    EXPECT_EQ(pty.Read(5), second);
    EXPECT_TRUE(pty.Read(1, 300).empty());
}

TEST_F(SerialLinkTest, QueuedFrameIsCutTo128Bytes) {
    CSerialLink link(&device, pty.SlavePath(), nullptr, false);
    link.StartWriter();
    Bytes frame(200);
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(i);
    }
    link.QueueFrame(frame.data(), static_cast<unsigned>(frame.size()));
    EXPECT_EQ(pty.Read(200, 500), Bytes(frame.begin(), frame.begin() + 128));
}

TEST_F(SerialLinkTest, KeepAliveAfterTheIdleInterval) {
    std::atomic<uint32_t> now{100000};
    platform::SetTimeSourceForTest([&now] { return now.load(); });
    CSerialLink link(&device, pty.SlavePath());
    EXPECT_EQ(pty.Read(2), (Bytes{0x00, 0x00}));  // idle since the start
    // Ten seconds later the line is not yet idle ...
    now += 10;
    EXPECT_TRUE(pty.Read(1, 700).empty());
    // ... past ten it is, and again after each further interval.
    now += 1;
    EXPECT_EQ(pty.Read(2), (Bytes{0x00, 0x00}));
    now += 11;
    EXPECT_EQ(pty.Read(2), (Bytes{0x00, 0x00}));
    // A byte moving resets the interval: a frame arrives 8 s into it ...
    now += 8;
    pty.Write({0x11, 0x12, 0x02, 'S', 'N', '1', 0x11, 0x13});
    ASSERT_TRUE(WaitFor([&] {
        char serial[32];
        device.GetSerialNumber(serial);
        return std::string(serial) == "SN1";
    }));
    // ... so 8 s later the line has been quiet for 8 s only.
    now += 8;
    EXPECT_TRUE(pty.Read(1, 700).empty());
    now += 3;
    EXPECT_EQ(pty.Read(2), (Bytes{0x00, 0x00}));
}

// A unit gone mad: noise, escape storms, a frame far over the receive
// buffer and a frame cut off mid-way. Nothing of it is delivered, nothing is
// overrun, and the next good frame still gets through.
TEST_F(SerialLinkTest, HostileByteStreamsCostOnlyTheFramesTheyBreak) {
    RecordingWindow view;
    device.SetViewWindow(&view);
    CSerialLink link(&device, pty.SlavePath());
    EXPECT_EQ(pty.Read(2), (Bytes{0x00, 0x00}));

    Bytes noise;
    uint32_t seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        noise.push_back(static_cast<uint8_t>(seed >> 16));
    }
    noise.insert(noise.end(), 5000, 0x11);          // escape storm
    noise.insert(noise.end(), {0x11, 0x12, 0x04});  // a status frame ...
    noise.insert(noise.end(), 9000, 0x41);          // ... over 8192 bytes
    noise.insert(noise.end(), {0x11, 0x13});
    noise.insert(noise.end(), {0x11, 0x12, 0x01, 'H', 'A', 'L', 'F'});  // cut off
    for (size_t at = 0; at < noise.size(); at += 2048) {
        pty.Write(Bytes(noise.begin() + at, noise.begin() + std::min(at + 2048, noise.size())));
        pty.Read(4096, 1);  // take whatever the link answers meanwhile
    }
    // The line goes quiet mid-frame: the read time-out abandons it.
    std::this_thread::sleep_for(500ms);
    pty.Write({0x11, 0x12, 0x01, 'G', 'O', 'O', 'D', 0x11, 0x13});
    EXPECT_TRUE(WaitFor([&] { return Firmware() == "GOOD"; }, 20000ms)) << Firmware();
    EXPECT_TRUE(link.IsPortOpen());
    EXPECT_EQ(link.FailedReads(), 0u);
    for (const auto& post : view.Posts()) {
        EXPECT_NE(post.wParam, 4u) << "a status from noise reached the view";
    }
}

// A unit that stops taking bytes must not hold up whoever queues a frame: the
// sweep queues from the user-interface thread.
TEST_F(SerialLinkTest, QueueingNeverWaitsForAUnitThatStopsReading) {
    CSerialLink link(&device, pty.SlavePath());
    EXPECT_EQ(pty.Read(2), (Bytes{0x00, 0x00}));
    std::atomic<bool> done{false};
    std::thread sender([&] {
        Bytes frame(128, 0x5A);
        for (int i = 0; i < 2000; ++i) {  // far more than the line's buffers hold
            link.QueueFrame(frame.data(), static_cast<unsigned>(frame.size()));
            std::this_thread::sleep_for(1ms);
        }
        done = true;
    });
    bool finished = WaitFor([&] { return done.load(); }, 30000ms);
    if (!finished) {
        // Let the writer drain so the test can end.
        std::thread drain([&] {
            while (!done) {
                pty.Read(65536, 50);
            }
        });
        drain.join();
    }
    sender.join();
    EXPECT_TRUE(finished) << "QueueFrame blocked behind a full line";
    // Once the unit reads again, frames flow.
    pty.Read(1 << 20, 200);
    device.RequestFirmwareVersion();
    EXPECT_TRUE(
        EndsWith(pty.ReadUntil({0x11, 0x12, 0x01, 0x11, 0x13}), {0x11, 0x12, 0x01, 0x11, 0x13}));
}

TEST_F(SerialLinkTest, ReaderBacksOffWhenThePortGoesAway) {
    CSerialLink link(&device, pty.SlavePath());
    EXPECT_EQ(pty.Read(2), (Bytes{0x00, 0x00}));
    pty.CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return link.FailedReads() >= 1; }));
    unsigned before = link.FailedReads();
    std::this_thread::sleep_for(1500ms);
    // Each failed attempt waits half a second: a few, not thousands. The
    // pseudo-terminal's name is not tried again: it may already be another's.
    EXPECT_LE(link.FailedReads() - before, 5u);
    EXPECT_FALSE(link.IsPortOpen());
    EXPECT_TRUE(boxes.Boxes().empty());
    // The device still accepts frames; they go nowhere.
    device.RequestFirmwareVersion();
}

TEST_F(SerialLinkTest, ReaderReopensTheSameDeviceWhenItComesBack) {
    char dir[] = "/tmp/kestrow-port-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string portPath = std::string(dir) + "/scanner";
    ASSERT_EQ(symlink(pty.SlavePath().c_str(), portPath.c_str()), 0);
    {
        CSerialLink link(&device, portPath);
        EXPECT_EQ(pty.Read(2), (Bytes{0x00, 0x00}));
        pty.CloseMaster();
        ASSERT_TRUE(WaitFor([&] { return link.FailedReads() >= 1; }));

        // The adapter comes back under the same name.
        PseudoTerminal replacement;
        unlink(portPath.c_str());
        ASSERT_EQ(symlink(replacement.SlavePath().c_str(), portPath.c_str()), 0);
        ASSERT_TRUE(WaitFor([&] { return link.IsPortOpen(); }));
        replacement.Write({0x11, 0x12, 0x01, 'B', 'A', 'C', 'K', 0x11, 0x13});
        EXPECT_TRUE(WaitFor([&] { return Firmware() == "BACK"; }));
        Bytes answer = replacement.ReadUntil({0x11, 0x12, 0x02, 0x11, 0x13});
        EXPECT_TRUE(EndsWith(answer, {0x11, 0x12, 0x02, 0x11, 0x13}));
    }
    unlink(portPath.c_str());
    rmdir(dir);
    EXPECT_TRUE(boxes.Boxes().empty());
}

// ---------------------------------------------------------------------------
// A whole sweep against a scripted unit on the far end of the pseudo-terminal.

struct ScriptedAp {
    unsigned step;
    AccessPoint ap;
};

// Answers every scan command once with the access points of its step (one
// type-4 message each, or one empty block). Repeats of a step already
// answered are ignored, as a unit that has moved on would: the sweep loop
// reads the channel before its wait, so it asks for each step a second time
// right after that step's answer.
class ScriptedUnit {
  public:
    ScriptedUnit(PseudoTerminal& pty, std::vector<ScriptedAp> script)
        : m_pty(pty), m_script(std::move(script)), m_thread([this] { Run(); }) {}
    ~ScriptedUnit() {
        m_stop = true;
        m_thread.join();
    }
    int ScanCommandsSeen() const { return m_commands; }

  private:
    void Run() {
        Bytes pending;
        while (!m_stop) {
            Bytes more = m_pty.Read(64, 50);
            pending.insert(pending.end(), more.begin(), more.end());
            Bytes payload;
            uint8_t type;
            while (TakeFrame(pending, type, payload)) {
                if (type == 3 && payload.size() == 12 && payload[2] == 0x1C) {
                    ++m_commands;
                    Answer(payload[5]);
                }
            }
        }
    }
    // Removes the first complete frame from the stream (skipping anything
    // before its start marker).
    static bool TakeFrame(Bytes& stream, uint8_t& type, Bytes& payload) {
        for (size_t start = 0; start + 1 < stream.size(); ++start) {
            if (stream[start] != 0x11 || stream[start + 1] != 0x12) {
                continue;
            }
            if (start + 2 >= stream.size()) {
                return false;
            }
            type = stream[start + 2];
            payload.clear();
            for (size_t i = start + 3; i + 1 < stream.size(); ++i) {
                if (stream[i] == 0x11 && stream[i + 1] == 0x13) {
                    stream.erase(stream.begin(), stream.begin() + i + 2);
                    return true;
                }
                payload.push_back(stream[i]);
                if (stream[i] == 0x11) {
                    ++i;  // skip the stuffing byte
                }
            }
            return false;
        }
        return false;
    }
    void Answer(unsigned step) {
        if (step == m_lastAnswered) {
            return;
        }
        m_lastAnswered = step;
        std::vector<AccessPoint> heard;
        for (const auto& entry : m_script) {
            if (entry.step == step) {
                heard.push_back(entry.ap);
            }
        }
        if (heard.empty()) {
            heard.push_back(AccessPoint{{0, 0, 0, 0, 0, 0}, 0, "", 0});
        }
        for (const auto& ap : heard) {
            Bytes payload = StatusPayload(ChannelResultCode(step), ResultBlock(ap));
            uint8_t frame[kFrameBufferSize];
            unsigned n =
                EncodeFrame(4, payload.data(), static_cast<unsigned>(payload.size()), frame);
            m_pty.Write(Bytes(frame, frame + n));
        }
    }

    PseudoTerminal& m_pty;
    std::vector<ScriptedAp> m_script;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_commands{0};
    unsigned m_lastAnswered = 0;
    std::thread m_thread;
};

// The view's sweep loop, from its start to its end.
bool RunSweep(DeviceUnderTest& device) {
    device.BeginSweep();
    SweepState state = SweepState::kRunning;
    while (state == SweepState::kRunning) {
        state = device.ContinueSweep();
    }
    return state == SweepState::kDone;
}

TEST_F(SerialLinkTest, CompleteSweepFillsTheScanList) {
    ClearScanList();
    const std::vector<ScriptedAp> script = {
        {1, {{0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E}, -60, "Lab", 5180}},
        {5, {{0x00, 0x0B, 0x00, 0x00, 0x00, 0x01}, -45, "Hall", 5220}},
        {5, {{0x00, 0x0B, 0x00, 0x00, 0x00, 0x02}, -80, "Store", 5220}},
        {9, {{0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E}, -70, "Lab", 5200}},
        {16, {{0x02, 0x00, 0x00, 0x00, 0x00, 0x10}, -55, "Roof", 5805}},
    };
    RecordingWindow window;
    device.SetViewWindow(&window);
    CSerialLink link(&device, pty.SlavePath());
    ScriptedUnit unit(pty, script);

    ASSERT_TRUE(RunSweep(device));
    EXPECT_EQ(device.m_channel, 17);
    EXPECT_GE(unit.ScanCommandsSeen(), 16);
    // Every channel result is posted (step 5 answered twice), then the end.
    EXPECT_TRUE(WaitFor([&] { return window.Posts().size() == 18; }));

    std::vector<ScanRecord> expected = {
        {"000b00000002", -80, 44, 1, "Store"},
        {"000a1b2c3d4e", -130, 36, 2, "Lab"},
        {"020000000010", -55, 161, 1, "Roof"},
        {"000b00000001", -45, 44, 1, "Hall"},
    };
    EXPECT_EQ(ScanListRecords(), expected);
    ClearScanList();
}

}  // namespace
