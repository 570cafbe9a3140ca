#include "scanner/scanner_device.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/clock.h"
#include "scanner_test_support.h"

namespace {

using namespace scanner_test;

const Bytes kSerialNumberRequest = {0x11, 0x12, 0x02, 0x11, 0x13};

class ScannerDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearScanList();
        device.SetFrameQueue(&queue);
        device.SetViewWindow(&window);
    }
    void TearDown() override {
        ClearScanList();
        CRecordList::s_failAllocations = false;
    }

    void Deliver(uint8_t type, const Bytes& payload) {
        device.OnMessage(type, payload.data(), static_cast<uint16_t>(payload.size()));
    }
    void DeliverText(uint8_t type, const std::string& text) {
        Deliver(type, Bytes(text.begin(), text.end()));
    }
    void DeliverResult(unsigned step, const AccessPoint& ap) {
        Deliver(4, StatusPayload(ChannelResultCode(step), ResultBlock(ap)));
    }
    // Steps first..last answered, nothing heard on them.
    void AnswerSteps(unsigned first, unsigned last) {
        AccessPoint none = {};
        for (unsigned step = first; step <= last; ++step) {
            DeliverResult(step, none);
        }
    }
    std::string Firmware() {
        char text[32];
        device.GetFirmwareVersion(text);
        return text;
    }
    std::string SerialNumber() {
        char text[32];
        device.GetSerialNumber(text);
        return text;
    }

    RecordedMessageBoxes boxes;
    RecordingQueue queue;
    RecordingWindow window;
    DeviceUnderTest device;
};

const AccessPoint kLab = {{0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E}, -60, "Lab", 5180};
const AccessPoint kHall = {{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11}, -45, "Hall", 5240};

TEST_F(ScannerDeviceTest, StartsWithChannelOneAndEverythingClear) {
    EXPECT_EQ(device.m_channel, 1);
    EXPECT_EQ(device.m_sweepDone, 0);
    EXPECT_EQ(device.m_scanRequested, 0);
    EXPECT_EQ(device.m_scanDisplay, 0);
    EXPECT_FALSE(device.m_sendDone.IsSet());
    EXPECT_EQ(Firmware(), "");
    EXPECT_EQ(SerialNumber(), "");
}

TEST_F(ScannerDeviceTest, CommandsOnTheWire) {
    device.RequestFirmwareVersion();
    device.RequestSerialNumber();
    device.m_sendDone.Set();                         // so the scan request does not wait
    EXPECT_EQ(device.RequestChannelScan(0x107), 1);  // only the low byte of the channel is sent
    device.OnLinkIdle();
    std::vector<Bytes> expected = {
        {0x11, 0x12, 0x01, 0x11, 0x13}, kSerialNumberRequest, ScanCommandFrame(0x07), {0x00, 0x00}};
    EXPECT_EQ(queue.Frames(), expected);
}

TEST_F(ScannerDeviceTest, SendWaitsForTheChannelResultAndRecordsATimeOut) {
    device.BeginSweep();
    // No wait: the flag is left alone, the event still reset.
    device.m_lastWaitTimedOut = 7;
    device.m_sendDone.Set();
    device.RequestFirmwareVersion();
    EXPECT_EQ(device.m_lastWaitTimedOut, 7);
    EXPECT_FALSE(device.m_sendDone.IsSet());

    // Nothing signalled: the wait runs out, the frame goes out anyway.
    device.RequestChannelScan(1);
    EXPECT_EQ(device.m_lastWaitTimedOut, 1);
    EXPECT_EQ(queue.Frames().back(), ScanCommandFrame(1));

    // A channel result signals the event: the next request records no time-out.
    DeliverResult(1, kLab);
    EXPECT_TRUE(device.m_sendDone.IsSet());
    device.RequestChannelScan(2);
    EXPECT_EQ(device.m_lastWaitTimedOut, 0);
    EXPECT_FALSE(device.m_sendDone.IsSet());
    EXPECT_EQ(queue.Frames().back(), ScanCommandFrame(2));
}

TEST_F(ScannerDeviceTest, FrameTooLongForTheBufferIsNotQueued) {
    Bytes payload(100, 0x11);  // 200 stuffed bytes
    EXPECT_EQ(device.SendFrame(5, payload.data(), static_cast<unsigned>(payload.size()), 0), 1);
    EXPECT_TRUE(queue.Frames().empty());
}

TEST_F(ScannerDeviceTest, FirmwareAnswerStoresTextAndRequestsSerialNumber) {
    DeliverText(1, "CV-2.10");
    EXPECT_EQ(Firmware(), "CV-2.10");
    ASSERT_EQ(queue.Frames().size(), 1u);
    EXPECT_EQ(queue.Frames()[0], kSerialNumberRequest);
    EXPECT_TRUE(window.Posts().empty());

    DeliverText(2, "A1B2C3D4E5");
    EXPECT_EQ(SerialNumber(), "A1B2C3");
    DeliverText(2, "XY12");
    EXPECT_EQ(SerialNumber(), "XY12");
}

TEST_F(ScannerDeviceTest, TextsAreCutToTheirFields) {
    std::string longText(40, 'F');
    DeliverText(1, longText);
    EXPECT_EQ(Firmware(), std::string(31, 'F'));
    // Through the setters too, with a text longer than the field.
    device.SetFirmwareVersion(longText.c_str());
    EXPECT_EQ(Firmware(), std::string(31, 'F'));
    device.SetSerialNumber(longText.c_str());
    EXPECT_EQ(SerialNumber(), "FFFFFF");
}

TEST_F(ScannerDeviceTest, RadioNotRespondingShowsTheLocalTime) {
    const char* oldTz = std::getenv("TZ");
    std::string savedTz = oldTz ? oldTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    platform::SetTimeSourceForTest([] { return uint32_t{9 * 3600 + 5 * 60}; });

    Deliver(3, {0x00});
    Deliver(3, {});      // an empty payload reads as a zero byte
    Deliver(3, {0x01});  // non-zero: nothing shown

    platform::SetTimeSourceForTest({});
    if (oldTz) {
        setenv("TZ", savedTz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();

    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& box : shown) {
        EXPECT_EQ(box.text, "Intersil Not Responding at 9:5");
        EXPECT_EQ(box.caption, platform::kApplicationTitle);
        EXPECT_EQ(box.style, platform::kMbOk);
    }
    EXPECT_TRUE(window.Posts().empty());
}

TEST_F(ScannerDeviceTest, FirstChannelResultMergesAdvancesAndPosts) {
    device.BeginSweep();
    Bytes payload = StatusPayload(0x0100001C, ResultBlock(kLab));
    Deliver(4, payload);

    EXPECT_EQ(device.m_channel, 2);
    EXPECT_EQ(device.m_sweepDone, 0);
    EXPECT_TRUE(device.m_sendDone.IsSet());
    EXPECT_EQ(0, std::memcmp(device.m_results[1], payload.data() + 12, wire::kResultSize));
    EXPECT_EQ(0, std::memcmp(device.m_status, payload.data(), 16));
    auto posts = window.Posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].message, platform::RegisterWindowMessage("KORV_DRAW"));
    EXPECT_EQ(posts[0].wParam, 4u);
    EXPECT_EQ(posts[0].lParam, 0x0100001C);
    std::vector<ScanRecord> expected = {{"000a1b2c3d4e", -60, 36, 1, "Lab"}};
    EXPECT_EQ(ScanListRecords(), expected);
}

// Step 16 ends the sweep only once the line has settled: every access point
// heard on it answers with its own message, and nothing marks the last.
TEST_F(ScannerDeviceTest, LastStepEndsTheSweepOnceTheLineHasSettled) {
    device.SetSweepTiming({std::chrono::seconds(20), std::chrono::milliseconds(40)});
    device.BeginSweep();
    AnswerSteps(1, 15);
    EXPECT_EQ(device.m_channel, 16);
    EXPECT_EQ(device.m_sweepDone, 0);

    const uint8_t byte = 0;
    device.ReceiveBytes(&byte, 1);  // bytes on the line
    DeliverResult(16, kLab);
    EXPECT_EQ(device.m_channel, 17);
    EXPECT_EQ(device.m_sweepDone, 0);
    EXPECT_EQ(device.ContinueSweep(), SweepState::kRunning);  // waits for the line to settle
    DeliverResult(16, kHall);                                 // a further access point
    EXPECT_EQ(device.m_sweepDone, 0);
    device.ReceiveBytes(&byte, 1);
    SweepState state = SweepState::kRunning;
    for (int passes = 0; passes < 20 && state == SweepState::kRunning; ++passes) {
        state = device.ContinueSweep();
    }
    EXPECT_EQ(state, SweepState::kDone);
    EXPECT_EQ(device.m_sweepDone, 1);
    // Both step-16 access points are in; nothing is merged after the end.
    AccessPoint late = kHall;
    late.mac[5] = 0x77;
    DeliverResult(16, late);
    EXPECT_EQ(ScanListRecords().size(), 2u);
    // Every result was posted, and the end once more for the commit.
    EXPECT_EQ(window.Posts().size(), 18u);
    EXPECT_EQ(window.Posts().back().wParam, 0u);
    EXPECT_TRUE(queue.Frames().empty());  // the results came without being asked
}

// Answers that do not belong to the sweep running now are dropped: results
// while no sweep runs, a late step-16 answer of the last sweep, a step the
// sweep is not at, and the same access point answered twice for one step (the
// answers to a request sent twice).
TEST_F(ScannerDeviceTest, OnlyAnswersOfTheRunningSweepAndItsStepAreTaken) {
    DeliverResult(1, kLab);  // no sweep yet
    EXPECT_TRUE(ScanListRecords().empty());
    EXPECT_TRUE(window.Posts().empty());

    device.BeginSweep();
    DeliverResult(16, kHall);  // the last sweep's late answer
    DeliverResult(3, kHall);   // a step not asked yet
    EXPECT_EQ(device.m_channel, 1);
    EXPECT_TRUE(ScanListRecords().empty());
    EXPECT_FALSE(device.m_sendDone.IsSet());

    DeliverResult(1, kLab);
    DeliverResult(1, kHall);  // a further access point of step 1
    DeliverResult(1, kLab);   // step 1 answered again: the same access point
    EXPECT_EQ(device.m_channel, 2);
    auto records = ScanListRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].sampleCount + records[1].sampleCount, 2);
    EXPECT_EQ(window.Posts().size(), 2u);
}

TEST_F(ScannerDeviceTest, OtherSubCodesOnlyUpdateTheStatus) {
    device.m_channel = 4;
    for (uint32_t subCode : {0x1100001Cu, 0x0000001Cu, 0x0100001Du, 0x0101001Cu, 0x12345678u}) {
        Bytes payload = StatusPayload(subCode, ResultBlock(kLab));
        Deliver(4, payload);
        EXPECT_EQ(0, std::memcmp(device.m_status, payload.data(), 16)) << std::hex << subCode;
    }
    Deliver(4, {});                                            // too short to carry anything
    Deliver(9, StatusPayload(0x0100001C, ResultBlock(kLab)));  // unknown type
    EXPECT_EQ(device.m_channel, 4);
    EXPECT_FALSE(device.m_sendDone.IsSet());
    EXPECT_TRUE(window.Posts().empty());
    EXPECT_TRUE(queue.Frames().empty());
    EXPECT_TRUE(ScanListRecords().empty());
}

// A restart sends the sweep back to step 1, asked once: the sweep loop,
// woken, does not ask for it again. Outside a sweep there is nothing to restart.
TEST_F(ScannerDeviceTest, RestartCodesRequestChannelOneOnceAndPostNothing) {
    Deliver(4, StatusPayload(0x030002FFu));
    EXPECT_TRUE(queue.Frames().empty());
    for (uint32_t subCode : {0x030002FFu, 0x04000018u}) {
        device.BeginSweep();
        AnswerSteps(1, 8);
        const size_t before = queue.Frames().size();
        Deliver(4, StatusPayload(subCode));
        EXPECT_EQ(device.m_channel, 1);
        EXPECT_EQ(queue.Frames().size(), before + 1);
        EXPECT_EQ(queue.Frames().back(), ScanCommandFrame(1));
        EXPECT_EQ(device.ContinueSweep(), SweepState::kRunning);  // woken, asks nothing
        EXPECT_EQ(queue.Frames().size(), before + 1);
        DeliverResult(1, kLab);
        EXPECT_EQ(device.m_channel, 2);
    }
    EXPECT_EQ(window.Posts().size(), 2u * 9);  // the results only
}

TEST_F(ScannerDeviceTest, NoViewWindowMeansNoPost) {
    device.SetViewWindow(nullptr);
    device.BeginSweep();
    DeliverResult(1, kLab);
    EXPECT_EQ(device.m_channel, 2);
    EXPECT_TRUE(window.Posts().empty());
}

TEST_F(ScannerDeviceTest, RepeatedAccessPointSumsItsSamples) {
    device.BeginSweep();
    AccessPoint ap = kLab;
    ap.rssi = -60;
    DeliverResult(1, ap);
    ap.rssi = -62;
    ap.ssid = "Lab-renamed";
    ap.frequency = 5200;  // the channel stays as first stored
    DeliverResult(2, ap);
    ap.rssi = -70;
    DeliverResult(3, ap);
    std::vector<ScanRecord> expected = {{"000a1b2c3d4e", -192, 36, 3, "Lab-renamed"}};
    EXPECT_EQ(ScanListRecords(), expected);

    std::lock_guard<std::mutex> lock(g_scanListMutex);
    ApRecord* record = nullptr;
    ASSERT_EQ(g_scanList.GetAt(1, record), 0);
    const uint8_t mac[6] = {0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};
    EXPECT_EQ(0, std::memcmp(record->mac, mac, 6));
    // Packed fields: compared as copies, never bound by reference.
    int reserved1 = record->reserved1;
    int reserved2 = record->reserved2;
    EXPECT_EQ(reserved1, 0);
    EXPECT_EQ(reserved2, 1);
}

TEST_F(ScannerDeviceTest, RecordsStayInOrderOfTheirFirstSample) {
    AccessPoint a = kLab, b = kHall, c = kLab;
    c.mac[5] = 0x99;
    c.rssi = -80;
    a.rssi = -50;
    b.rssi = -70;
    device.MergeScanResult(1, ResultBlock(a).data());
    device.MergeScanResult(2, ResultBlock(b).data());
    device.MergeScanResult(3, ResultBlock(c).data());
    a.rssi = -100;  // a later, weaker sample does not move the record
    device.MergeScanResult(4, ResultBlock(a).data());
    auto records = ScanListRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].macText, "000a1b2c3d99");
    EXPECT_EQ(records[1].macText, "deadbeef0011");
    EXPECT_EQ(records[2].macText, "000a1b2c3d4e");
    EXPECT_EQ(records[2].rssi, -150);
}

TEST_F(ScannerDeviceTest, ChannelNumberFromFrequency) {
    struct Case {
        int16_t frequency;
        int channel;
    } cases[] = {{5180, 36}, {5005, 1}, {6275, 255}};
    uint8_t lastByte = 0;
    for (const auto& c : cases) {
        AccessPoint ap = kLab;
        ap.mac[5] = ++lastByte;
        ap.frequency = c.frequency;
        ClearScanList();
        device.MergeScanResult(1, ResultBlock(ap).data());
        auto records = ScanListRecords();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].channel, c.channel) << c.frequency;
    }
    // No channel a site file can hold (1 to 255; 0 marks "nothing heard"):
    // not an 802.11a access point, from a broken or hostile unit.
    for (int16_t frequency : {5000, 5004, 4996, 2412, 6280}) {
        AccessPoint ap = kLab;
        ap.frequency = frequency;
        ClearScanList();
        device.MergeScanResult(1, ResultBlock(ap).data());
        EXPECT_TRUE(ScanListRecords().empty()) << frequency;
    }
}

TEST_F(ScannerDeviceTest, LevelsNoRadioGivesAreRefusedByName) {
    device.BeginSweep();
    uint8_t lastByte = 0;
    for (int8_t rssi :
         {int8_t{21}, int8_t{1}, int8_t{-121}, int8_t{-128}, int8_t{0}, int8_t{-120}}) {
        AccessPoint ap = kLab;
        ap.mac[5] = ++lastByte;
        ap.rssi = rssi;
        device.MergeScanResult(1, ResultBlock(ap).data());
    }
    const auto records = ScanListRecords();
    ASSERT_EQ(records.size(), 2u);  // 0 and -120 dBm are the bounds, both possible
    const std::vector<std::string> refused = device.RefusedInSweep();
    ASSERT_EQ(refused.size(), 4u);
    EXPECT_EQ(refused[0],
              "access point 000a1b2c3d01: a level of +21 dBm is impossible (-120 to 0 dBm)");
    EXPECT_NE(refused[3].find("-128 dBm"), std::string::npos);
    device.BeginSweep();  // each sweep names its own
    EXPECT_TRUE(device.RefusedInSweep().empty());
}

TEST_F(ScannerDeviceTest, MergeEdgeCases) {
    // Frequency 0: the block carries no access point, but its slot is kept.
    AccessPoint none = kLab;
    none.frequency = 0;
    Bytes block = ResultBlock(none);
    device.MergeScanResult(5, block.data());
    EXPECT_TRUE(ScanListRecords().empty());
    EXPECT_EQ(0, std::memcmp(device.m_results[5], block.data(), wire::kResultSize));

    // No memory for a record: the result is dropped.
    CRecordList::s_failAllocations = true;
    device.MergeScanResult(1, ResultBlock(kLab).data());
    CRecordList::s_failAllocations = false;
    EXPECT_TRUE(ScanListRecords().empty());

    // An SSID filling all 33 bytes without a terminator is cut there.
    AccessPoint wide = kLab;
    wide.ssid = std::string(33, 'S');
    Bytes wideBlock = ResultBlock(wide);  // byte 48, the frequency, follows at once
    device.MergeScanResult(1, wideBlock.data());
    auto records = ScanListRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].ssid, std::string(33, 'S'));

    // The RSSI sum wraps as a 16-bit value.
    {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        ApRecord* record = nullptr;
        ASSERT_EQ(g_scanList.GetAt(1, record), 0);
        record->rssi = -32700;
    }
    AccessPoint again = kLab;
    again.rssi = -100;
    device.MergeScanResult(2, ResultBlock(again).data());
    EXPECT_EQ(ScanListRecords()[0].rssi, -32700 - 100 + 65536);
}

// A queue that feeds a message back into the device while it is dispatching.
class ReenteringQueue : public FrameQueue {
  public:
    CScannerDevice* device = nullptr;
    int calls = 0;
    int QueueFrame(const uint8_t*, unsigned) override {
        ++calls;
        const char serial[] = "NESTED";
        device->OnMessage(2, reinterpret_cast<const uint8_t*>(serial), 6);
        return 1;
    }
};

TEST_F(ScannerDeviceTest, MessageArrivingDuringDispatchIsDropped) {
    ReenteringQueue reentering;
    reentering.device = &device;
    device.SetFrameQueue(&reentering);
    DeliverText(1, "FW");  // queues the serial-number request from inside the dispatch
    EXPECT_EQ(reentering.calls, 1);
    EXPECT_EQ(Firmware(), "FW");
    EXPECT_EQ(SerialNumber(), "");  // the nested message was dropped

    // Outside a dispatch the same message is taken.
    device.SetFrameQueue(&queue);
    DeliverText(2, "NESTED");
    EXPECT_EQ(SerialNumber(), "NESTED");
}

TEST_F(ScannerDeviceTest, ReceivedFrameReachesTheDispatcher) {
    const Bytes stream = {0x11, 0x12, 0x01, 'V', '1', 0x11, 0x13};
    device.SetReceiveState(0);
    uint8_t byte = 0;
    int last = 0;
    size_t next = 0;
    for (int passes = 0; passes < 40; ++passes) {
        if (device.ReceiveBytes(&byte, last) == 0) {
            continue;
        }
        last = next < stream.size() ? 1 : 0;
        byte = next < stream.size() ? stream[next++] : 0;
    }
    EXPECT_EQ(Firmware(), "V1");
    EXPECT_EQ(queue.Frames().at(0), kSerialNumberRequest);
}

// The view's sweep loop, pass by pass, against results delivered by hand.
TEST_F(ScannerDeviceTest, SweepAsksOnceAStepAndAgainOnlyAfterSilence) {
    device.BeginSweep();
    const SweepState running = SweepState::kRunning;

    // First pass asks for channel 1 at once, without waiting.
    EXPECT_EQ(device.ContinueSweep(), running);
    EXPECT_EQ(queue.Frames(), (std::vector<Bytes>{ScanCommandFrame(1)}));

    // Two access points answer step 1: the first moves the sweep on and
    // channel 2 goes out at once; the second is a further result of a step
    // already past and asks nothing.
    DeliverResult(1, kLab);
    EXPECT_EQ(device.ContinueSweep(), running);
    DeliverResult(1, kHall);
    EXPECT_EQ(device.ContinueSweep(), running);  // woken by the late result...
    EXPECT_FALSE(device.m_sendDone.IsSet());     // ...which is put aside
    EXPECT_EQ(queue.Frames(), (std::vector<Bytes>{ScanCommandFrame(1), ScanCommandFrame(2)}));

    // Silence: the wait runs out and the same channel is asked again.
    EXPECT_EQ(device.ContinueSweep(), running);
    EXPECT_EQ(device.m_lastWaitTimedOut, 1);
    EXPECT_EQ(device.ContinueSweep(), running);
    EXPECT_EQ(queue.Frames().back(), ScanCommandFrame(2));
    EXPECT_EQ(queue.Frames().size(), 3u);
}

// A unit that answers but never lets the sweep end (a restart storm, a line
// that never goes quiet after step 16) meets the sweep's deadline; nothing
// is committed. Every wait of the loop stays within it.
TEST_F(ScannerDeviceTest, EverySweepEndsByItsDeadline) {
    const auto deadline = std::chrono::milliseconds(600);
    device.SetSweepTiming({deadline, std::chrono::milliseconds(40)});
    for (bool storm : {true, false}) {
        const auto start = std::chrono::steady_clock::now();  // before the sweep's own clock
        device.BeginSweep();
        SweepState state = SweepState::kRunning;
        const uint8_t byte = 0;
        while (state == SweepState::kRunning &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
            if (storm) {
                AnswerSteps(device.m_channel, std::min<int>(device.m_channel, 16));
                Deliver(4, StatusPayload(0x030002FFu));  // and again from step 1
            } else {
                AnswerSteps(device.m_channel, 16);
                device.ReceiveBytes(&byte, 1);  // chatter that never stops
            }
            state = device.ContinueSweep();
        }
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(state, SweepState::kGaveUp) << storm;
        EXPECT_FALSE(device.IsSweepRequested());
        EXPECT_FALSE(device.TakeFinishedSweep());
        EXPECT_GE(took, deadline);
        EXPECT_LT(took, deadline + std::chrono::milliseconds(400));  // a bound, not a timing
    }
}

// A dead radio answers every request of a sweep with its report: the
// surveyor is told once a sweep, not once a request.
TEST_F(ScannerDeviceTest, DeadRadioIsReportedOnceASweep) {
    for (int sweep = 0; sweep < 2; ++sweep) {
        device.BeginSweep();
        for (int request = 0; request < 5; ++request) {
            Deliver(3, {0x00});
        }
    }
    EXPECT_EQ(boxes.Boxes().size(), 2u);
}

TEST_F(ScannerDeviceTest, SweepGivesUpAfterTwentyUnansweredRequests) {
    device.BeginSweep();
    int passes = 0;
    while (device.ContinueSweep() == SweepState::kRunning) {
        ++passes;
        ASSERT_LT(passes, 100);
    }
    // Each unanswered request costs one ask and one 250 ms wait.
    EXPECT_EQ(passes, 2 * kSweepGiveUpAfter - 1);
    EXPECT_EQ(queue.Frames().size(), static_cast<size_t>(kSweepGiveUpAfter));
    EXPECT_FALSE(device.IsSweepRequested());

    // An answer in between starts the count again.
    device.BeginSweep();
    device.ContinueSweep();
    for (int i = 0; i < kSweepGiveUpAfter - 1; ++i) {
        EXPECT_EQ(device.ContinueSweep(), SweepState::kRunning);  // wait runs out
        EXPECT_EQ(device.ContinueSweep(), SweepState::kRunning);  // ask again
    }
    DeliverResult(1, kLab);
    EXPECT_EQ(device.ContinueSweep(), SweepState::kRunning);
    EXPECT_EQ(device.UnansweredRequests(), 0);

    // Short slices (the window's) block less each pass, but a request is
    // still asked again only once its answer is 250 ms overdue.
    CScannerDevice::SweepTiming timing = device.Timing();
    timing.slice = std::chrono::milliseconds(10);
    device.SetSweepTiming(timing);
    device.BeginSweep();
    const size_t before = queue.Frames().size();
    const auto start = std::chrono::steady_clock::now();
    passes = 0;
    while (queue.Frames().size() < before + 3) {
        ASSERT_EQ(device.ContinueSweep(), SweepState::kRunning);
        ++passes;
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * 250));
    EXPECT_GT(passes, 10);  // slices, not whole waits
    EXPECT_EQ(device.UnansweredRequests(), 2);
}

}  // namespace
