// The host's serial link and scanner device against the simulated unit on a
// pseudo-terminal: the same termios code and threads as with real hardware.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box.h"
#include "platform/window_messages.h"
#include "scanner/scanner_device.h"
#include "scanner/scanner_test_support.h"
#include "scanner/serial_link.h"
#include "sim/scenario.h"
#include "sim/simulated_unit.h"
#include "survey/record_list.h"

namespace {

using scanner_test::RecordedMessageBoxes;
using scanner_test::RecordingWindow;

class UnitLog {
  public:
    void Add(const sim::UnitEvent& e) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(e);
    }
    std::vector<sim::UnitEvent> Events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    // The channel steps of the scan commands the unit received, in order.
    std::vector<int> RequestedSteps() {
        std::vector<int> steps;
        for (const sim::UnitEvent& e : Events()) {
            if (e.kind == sim::UnitEvent::kHostMessage) {
                if (std::optional<int> step = sim::ScanCommandStep(e.message)) {
                    steps.push_back(*step);
                }
            }
        }
        return steps;
    }

  private:
    std::mutex m_mutex;
    std::vector<sim::UnitEvent> m_events;
};

struct ScanEntry {
    std::string ssid;
    int channel;
    int samples;
    int averageRssi;
};

std::map<std::string, ScanEntry> ScanListByMac() {
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    std::map<std::string, ScanEntry> entries;
    for (ApRecord* r = g_scanList.Sentinel()->next; r != g_scanList.Sentinel(); r = r->next) {
        entries[r->macText] = {r->ssid, r->channel, r->sampleCount,
                               r->sampleCount ? r->rssi / r->sampleCount : 0};
    }
    return entries;
}

std::string MacText(const std::array<uint8_t, 6>& mac) {
    char text[13];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return text;
}

struct SweepOutcome {
    bool done = false;
    int requests = 0;
    int timeOuts = 0;
};

// The view's sweep loop: the device's ContinueSweep from BeginSweep until the
// sweep is done or the device gives up after 20 consecutive unanswered
// requests. Counts the scan commands sent and the waits that ran out.
SweepOutcome SweepLikeTheView(CScannerDevice& device) {
    device.BeginSweep();
    SweepState state = SweepState::kRunning;
    while (state == SweepState::kRunning) {
        state = device.ContinueSweep();
    }
    SweepOutcome outcome;
    outcome.done = state == SweepState::kDone;
    outcome.requests = device.Counts().requests;
    outcome.timeOuts = device.Counts().timeOuts;
    return outcome;
}

template <typename Predicate>
bool Eventually(Predicate ready) {
    // A bound against hanging, not a timing requirement.
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetMessageBoxHandler(&m_boxes);
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        g_scanList.Clear();
    }
    void TearDown() override {
        if (m_link) {
            m_link->Stop();
        }
        m_link.reset();
        if (m_unit) {
            m_unit->Stop();
        }
        platform::SetMessageBoxHandler(nullptr);
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        g_scanList.Clear();
    }

    // Starts the unit with this scenario and the host's link to it.
    void Connect(const sim::Scenario& scenario) {
        std::string error;
        m_unit = sim::SimulatedUnit::Start(scenario, error,
                                           [this](const sim::UnitEvent& e) { m_log.Add(e); });
        ASSERT_TRUE(m_unit) << error;
        m_device.SetViewWindow(&m_window);
        m_link = std::make_unique<CSerialLink>(&m_device, m_unit->SlavePath());
        ASSERT_TRUE(m_link->IsPortOpen()) << m_unit->SlavePath();
    }

    static sim::Scenario Example(const char* name) {
        sim::Scenario scenario;
        std::string error;
        std::string path = std::string(KESTROW_SOURCE_DIR) + "/examples/" + name;
        EXPECT_TRUE(sim::LoadScenario(path, scenario, error)) << error;
        return scenario;
    }

    static sim::Scenario FastOffice() {
        sim::Scenario office = sim::BuiltInOfficeScenario();
        office.dwellMs = 0;
        return office;
    }

    void ExpectEveryOfficeAccessPointHeard(const sim::Scenario& office) {
        std::map<std::string, ScanEntry> heard = ScanListByMac();
        ASSERT_EQ(office.accessPoints.size(), heard.size());
        for (const sim::SimAccessPoint& ap : office.accessPoints) {
            auto it = heard.find(MacText(ap.mac));
            ASSERT_NE(heard.end(), it) << MacText(ap.mac);
            EXPECT_EQ(ap.ssid, it->second.ssid);
            EXPECT_EQ((ap.frequency - 5000) / 5, it->second.channel);
            EXPECT_GE(it->second.samples, 1);
            EXPECT_GE(it->second.averageRssi, -100);
            EXPECT_LE(it->second.averageRssi, -20);
        }
    }

    // Waits until each channel result the unit has sent has been posted by
    // the device (answers to a sweep's last requests land after it ends).
    bool EveryResultDelivered() {
        auto sent = [this] {
            std::vector<sim::UnitEvent> events = m_log.Events();
            return std::count_if(events.begin(), events.end(), [](const sim::UnitEvent& e) {
                return e.kind == sim::UnitEvent::kUnitMessage && e.message.type == 4 &&
                       e.message.payload[2] == 0x1C;
            });
        };
        auto posted = [this] {
            std::vector<RecordingWindow::Post> posts = m_window.Posts();
            // Each result is posted with its type; the sweep's end with none.
            return std::count_if(posts.begin(), posts.end(),
                                 [](const RecordingWindow::Post& p) { return p.wParam == 4; });
        };
        return Eventually([&] { return posted() == sent(); });
    }

    RecordedMessageBoxes m_boxes;
    RecordingWindow m_window;
    UnitLog m_log;
    CSerialScannerDevice m_device;
    std::unique_ptr<sim::SimulatedUnit> m_unit;
    std::unique_ptr<CSerialLink> m_link;
};

TEST_F(LinkTest, StartUpHandshakeFetchesFirmwareThenSerialNumber) {
    Connect(FastOffice());
    m_device.RequestFirmwareVersion();
    char serial[32] = {};
    ASSERT_TRUE(Eventually([&] {
        m_device.GetSerialNumber(serial);
        return serial[0] != 0;
    }));
    char firmware[32] = {};
    m_device.GetFirmwareVersion(firmware);
    EXPECT_STREQ("CV-2.10", firmware);
    EXPECT_STREQ("A1B2C3", serial) << "the host keeps six characters";

    std::vector<std::pair<sim::UnitEvent::Kind, int>> frames;
    for (const sim::UnitEvent& e : m_log.Events()) {
        frames.push_back({e.kind, e.message.type});
    }
    using K = sim::UnitEvent;
    EXPECT_EQ((std::vector<std::pair<K::Kind, int>>{{K::kHostMessage, 1},
                                                    {K::kUnitMessage, 1},
                                                    {K::kHostMessage, 2},
                                                    {K::kUnitMessage, 2}}),
              frames);
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(LinkTest, FullSweepOfTheOfficeHearsEveryAccessPointAndPostsEachResult) {
    sim::Scenario office = Example("office.json");
    office.sensitivityDbm = -128;  // every access point heard, however far
    Connect(office);
    m_unit->SetSurveyorPosition(90, 90);  // beside the first access point
    SweepOutcome sweep = SweepLikeTheView(m_device);
    ASSERT_TRUE(sweep.done);
    EXPECT_EQ(17, m_device.Channel());
    ExpectEveryOfficeAccessPointHeard(office);

    std::map<std::string, ScanEntry> heard = ScanListByMac();
    int nearby = heard.at("001d7e4a1001").averageRssi;   // at (90, 90)
    int farAway = heard.at("001d7e4a3009").averageRssi;  // at (550, 390)
    EXPECT_NEAR(-42, nearby, 6);
    EXPECT_LT(farAway, nearby - 30);

    // Every channel result was posted to the view as KORV_DRAW (4, sub-code),
    // and every step from 1 to 16 was among them; the sweep's end last (0, 0).
    platform::MessageId draw = platform::RegisterWindowMessage("KORV_DRAW");
    std::vector<RecordingWindow::Post> posts = m_window.Posts();
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ(0u, posts.back().wParam);
    posts.pop_back();
    std::set<int> steps;
    for (const RecordingWindow::Post& post : posts) {
        EXPECT_EQ(draw, post.message);
        EXPECT_EQ(4u, post.wParam);
        EXPECT_EQ(0x1C, post.lParam & 0x00FFFFFF);
        steps.insert(static_cast<int>(post.lParam >> 24));
    }
    EXPECT_EQ(16u, steps.size());
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(LinkTest, FullSweepOfTheQuietScenarioHearsNothing) {
    Connect(Example("quiet.json"));
    SweepOutcome sweep = SweepLikeTheView(m_device);
    ASSERT_TRUE(sweep.done);
    EXPECT_TRUE(ScanListByMac().empty());
    std::set<int> requested;
    for (int step : m_log.RequestedSteps()) {
        requested.insert(step);
    }
    EXPECT_EQ(16u, requested.size());
}

TEST_F(LinkTest, DroppedAnswerIsRequestedAgainAfterTheWaitRunsOut) {
    sim::Scenario office = FastOffice();
    office.faults.dropAnswerEvery = 5;
    Connect(office);
    SweepOutcome sweep = SweepLikeTheView(m_device);
    ASSERT_TRUE(sweep.done);
    EXPECT_GE(sweep.timeOuts, 1);
    ExpectEveryOfficeAccessPointHeard(office);

    // A dropped request for a step not yet answered is followed by another
    // request for that step.
    std::vector<sim::UnitEvent> events = m_log.Events();
    std::set<int> answered;
    int dropped = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const sim::UnitEvent& e = events[i];
        if (e.kind == sim::UnitEvent::kUnitMessage && e.message.type == 4) {
            answered.insert(e.message.payload[5]);
        }
        if (e.kind != sim::UnitEvent::kAnswerDropped) {
            continue;
        }
        ++dropped;
        int step = *sim::ScanCommandStep(e.message);
        if (answered.count(step) != 0) {
            continue;
        }
        bool askedAgain = std::any_of(events.begin() + i + 1, events.end(), [&](const auto& later) {
            return later.kind == sim::UnitEvent::kHostMessage &&
                   sim::ScanCommandStep(later.message) == step;
        });
        EXPECT_TRUE(askedAgain) << "step " << step;
    }
    EXPECT_GE(dropped, 3);
}

TEST_F(LinkTest, RestartSubCodeSendsTheSweepBackToChannelOne) {
    sim::Scenario office = FastOffice();
    office.faults.restartOnStep = 6;
    Connect(office);
    SweepOutcome sweep = SweepLikeTheView(m_device);
    ASSERT_TRUE(sweep.done);
    ExpectEveryOfficeAccessPointHeard(office);

    // After the restart message the host asks for step 1 again.
    std::vector<sim::UnitEvent> events = m_log.Events();
    auto restart = std::find_if(events.begin(), events.end(), [](const sim::UnitEvent& e) {
        return e.kind == sim::UnitEvent::kUnitMessage && e.message.type == 4 &&
               e.message.payload[2] == 0xFF && e.message.payload[5] == 0x03;
    });
    ASSERT_NE(events.end(), restart);
    EXPECT_TRUE(std::any_of(restart, events.end(), [](const sim::UnitEvent& e) {
        return e.kind == sim::UnitEvent::kHostMessage && sim::ScanCommandStep(e.message) == 1;
    }));
    platform::MessageId draw = platform::RegisterWindowMessage("KORV_DRAW");
    for (const RecordingWindow::Post& post : m_window.Posts()) {
        EXPECT_EQ(draw, post.message);
        EXPECT_NE(0x030002FF, post.lParam) << "a restart is not posted";
    }
}

TEST_F(LinkTest, GarbageBetweenMessagesCostsNoResult) {
    sim::Scenario office = FastOffice();
    office.faults.garbageEvery = 2;
    Connect(office);
    SweepOutcome sweep = SweepLikeTheView(m_device);
    ASSERT_TRUE(sweep.done);
    ExpectEveryOfficeAccessPointHeard(office);
    // Every channel result the unit sent reached the device, garbage or not.
    EXPECT_TRUE(EveryResultDelivered());
    std::vector<sim::UnitEvent> events = m_log.Events();
    EXPECT_GE(std::count_if(events.begin(), events.end(),
                            [](const auto& e) { return e.kind == sim::UnitEvent::kGarbage; }),
              8);
}

TEST_F(LinkTest, RadioNotRespondingIsReportedAndTheSweepGivesUp) {
    sim::Scenario office = FastOffice();
    office.faults.radioNotResponding = true;
    Connect(office);
    SweepOutcome sweep = SweepLikeTheView(m_device);
    EXPECT_FALSE(sweep.done);
    EXPECT_EQ(kSweepGiveUpAfter, sweep.timeOuts);
    ASSERT_TRUE(Eventually([&] { return !m_boxes.Texts().empty(); }));
    const std::regex report("Intersil Not Responding at ([0-9]|1[0-9]|2[0-3]):([0-9]|[1-5][0-9])");
    for (const std::string& text : m_boxes.Texts()) {
        EXPECT_TRUE(std::regex_match(text, report)) << text;
    }
    EXPECT_TRUE(ScanListByMac().empty());
    EXPECT_TRUE(m_window.Posts().empty());
}

TEST_F(LinkTest, UnitThatStopsAnsweringMidSweepIsGivenUpOn) {
    sim::Scenario office = FastOffice();
    Connect(office);
    // The unit goes silent (powered off) once step 5 has answered.
    m_device.BeginSweep();
    bool stopped = false;
    bool gaveUp = false;
    for (int passes = 0; passes < 400 && !m_device.IsSweepDone(); ++passes) {
        if (!stopped && m_device.Channel() > 5) {
            m_unit->Stop();
            stopped = true;
        }
        if (m_device.ContinueSweep() == SweepState::kGaveUp) {
            gaveUp = true;
            break;
        }
    }
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(gaveUp);
    EXPECT_FALSE(m_device.IsSweepDone());
    EXPECT_GE(m_device.Channel(), 6);
}

TEST_F(LinkTest, UnitThatNeverAnswersIsGivenUpOnAfterTwentyRequests) {
    sim::Scenario office = FastOffice();
    office.faults.dropAnswerEvery = 1;
    Connect(office);
    SweepOutcome sweep = SweepLikeTheView(m_device);
    EXPECT_FALSE(sweep.done);
    EXPECT_EQ(kSweepGiveUpAfter, sweep.requests);
    ASSERT_TRUE(Eventually([&] { return m_log.RequestedSteps().size() >= kSweepGiveUpAfter - 1; }));
    for (int step : m_log.RequestedSteps()) {
        EXPECT_EQ(1, step) << "channel 1 is asked again and again";
    }
}

}  // namespace
