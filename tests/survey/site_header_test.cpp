#include "survey/site_header.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "survey/record_list.h"

namespace {

class SiteHeaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_scanList.Clear();
        header.ClearPoints();
    }
    void TearDown() override {
        CRecordList::s_failAllocations = false;
        g_scanList.Clear();
        g_surveyList.Clear();
    }

    // A scan record as the merge leaves it: the sum of `samples` samples.
    static void Heard(const char* mac, int rssiSum, int samples, int channel = 36,
                      const char* ssid = "net") {
        ApRecord* r = nullptr;
        ASSERT_EQ(g_scanList.AllocRecord(r), 0);
        std::snprintf(r->macText, sizeof r->macText, "%s", mac);
        std::snprintf(r->ssid, sizeof r->ssid, "%s", ssid);
        r->rssi = static_cast<int16_t>(rssiSum);
        r->sampleCount = samples;
        r->channel = static_cast<int16_t>(channel);
        g_scanList.InsertSorted(r);
    }

    // A survey record appended directly.
    static void Stored(int32_t x, int32_t y, int rssi, const char* mac = "aabbccddeeff",
                       const char* ssid = "net", int channel = 36) {
        ApRecord* r = nullptr;
        ASSERT_EQ(g_surveyList.AllocRecord(r), 0);
        r->x = x;
        r->y = y;
        r->rssi = static_cast<int16_t>(rssi);
        r->channel = static_cast<int16_t>(channel);
        std::snprintf(r->macText, sizeof r->macText, "%s", mac);
        std::snprintf(r->ssid, sizeof r->ssid, "%s", ssid);
        g_surveyList.Append(r);
    }

    static std::vector<ApRecord*> Survey() {
        std::vector<ApRecord*> out;
        ApRecord* pos = nullptr;
        for (int rc = g_surveyList.GetAt(1, pos); rc != -2; rc = g_surveyList.GetNext(pos)) {
            out.push_back(pos);
        }
        return out;
    }

    int Commit(int x, int y, const char* name = "TEST") {
        header.BeginPoint(x, y, name);
        return header.CommitPoint();
    }

    CSiteHeader header;
};

TEST_F(SiteHeaderTest, NothingHeardLeavesOneMarkerRecord) {
    header.m_strongestRssi = -10;
    header.BeginPoint(12, 34, "TEST");
    EXPECT_EQ(header.CommitPoint(), 0);

    std::vector<ApRecord*> survey = Survey();
    ASSERT_EQ(survey.size(), 1u);
    const ApRecord* m = survey[0];
    EXPECT_EQ(m->channel, 0);
    EXPECT_STREQ(m->macText, "000000000000");
    EXPECT_STREQ(m->pointName, "FILL");
    EXPECT_STREQ(m->ssid, "FILL");
    EXPECT_EQ(m->rssi, 0);
    EXPECT_EQ(m->x, 12);
    EXPECT_EQ(m->y, 34);
    for (uint8_t b : m->mac) {
        EXPECT_EQ(b, 0);
    }
    EXPECT_EQ(header.m_pointCount, 1);
    EXPECT_EQ(header.m_apCount, 0);
    int16_t strongest = 0;
    header.GetStrongestRssi(strongest);
    EXPECT_EQ(strongest, -90);
}

TEST_F(SiteHeaderTest, CommitCopiesTheScanInOrderWithTruncatedAverages) {
    header.BeginPoint(100, 200, "TEST");
    Heard("000000000001", -91, 2);               // -45.5 truncates to -45
    Heard("000000000002", -200, 3, 149, "far");  // -66.67 truncates to -66
    Heard("000000000003", -30, 1);
    EXPECT_EQ(header.CommitPoint(), 1);

    std::vector<ApRecord*> survey = Survey();
    ASSERT_EQ(survey.size(), 3u);
    // Scan list order: ascending by the first sample's value.
    EXPECT_STREQ(survey[0]->macText, "000000000002");
    EXPECT_EQ(survey[0]->rssi, -66);
    EXPECT_EQ(survey[0]->channel, 149);
    EXPECT_STREQ(survey[0]->ssid, "far");
    EXPECT_STREQ(survey[1]->macText, "000000000001");
    EXPECT_EQ(survey[1]->rssi, -45);
    EXPECT_EQ(survey[2]->rssi, -30);
    for (const ApRecord* r : survey) {
        EXPECT_EQ(r->x, 100);
        EXPECT_EQ(r->y, 200);
        EXPECT_STREQ(r->pointName, "TEST");
    }
    EXPECT_EQ(header.m_apCount, 3);
    EXPECT_EQ(header.m_pointCount, 1);
    int16_t strongest = 0;
    header.GetStrongestRssi(strongest);
    EXPECT_EQ(strongest, -30);

    // The scan stays until the next point begins.
    ApRecord* pos = nullptr;
    EXPECT_EQ(g_scanList.GetAt(3, pos), 0);
    header.BeginPoint(0, 0, "TEST");
    EXPECT_TRUE(g_scanList.IsEmpty());
}

TEST_F(SiteHeaderTest, StrongestStartsAtMinus90AndTakesOnlyGreaterValues) {
    header.BeginPoint(0, 0, "TEST");
    Heard("000000000001", -95, 1);
    Heard("000000000002", -92, 1);
    header.CommitPoint();
    int16_t strongest = 0;
    header.GetStrongestRssi(strongest);
    EXPECT_EQ(strongest, -90);

    header.BeginPoint(0, 0, "TEST");
    Heard("000000000001", -70, 1);
    Heard("000000000002", -140, 2);
    header.CommitPoint();
    header.GetStrongestRssi(strongest);
    EXPECT_EQ(strongest, -70);
    EXPECT_EQ(header.m_pointCount, 2);
    EXPECT_EQ(header.m_apCount, 4);
}

TEST_F(SiteHeaderTest, LongNamesAreCutToTheField) {
    const std::string longName(80, 'N');
    header.BeginPoint(1, 2, longName.c_str());
    EXPECT_EQ(std::strlen(header.m_curName), sizeof header.m_curName - 1);
}

TEST_F(SiteHeaderTest, OutOfMemoryStopsTheCommitCleanly) {
    header.BeginPoint(5, 5, "TEST");
    Heard("000000000001", -50, 1);
    CRecordList::s_failAllocations = true;
    EXPECT_EQ(header.CommitPoint(), 1);
    EXPECT_TRUE(g_surveyList.IsEmpty());
    EXPECT_EQ(header.m_apCount, 0);

    header.BeginPoint(5, 5, "TEST");
    EXPECT_EQ(header.CommitPoint(), 0);
    EXPECT_TRUE(g_surveyList.IsEmpty());
}

TEST_F(SiteHeaderTest, SelectionReachIsSquaredDistance3200Inclusive) {
    Stored(100, 100, -50);
    EXPECT_EQ(header.SelectPointNear(140, 140), 1);  // 40^2 + 40^2 = 3200
    EXPECT_EQ(header.m_selX, 100.0);
    EXPECT_EQ(header.m_selY, 100.0);
    // 3201 is no sum of two squares; 41^2 + 39^2 = 3202 is the next distance.
    header.m_selX = -1;
    EXPECT_EQ(header.SelectPointNear(141, 139), 0);
    EXPECT_EQ(header.m_selX, -1.0);  // nothing changed
}

TEST_F(SiteHeaderTest, EquallyNearPointsSelectTheEarliest) {
    Stored(10, 0, -50, "000000000001");
    Stored(-10, 0, -40, "000000000002");
    ASSERT_EQ(header.SelectPointNear(0, 0), 1);
    EXPECT_EQ(header.m_selX, 10.0);
    EXPECT_EQ(header.m_selFirstIndex, 1);
    EXPECT_STREQ(header.m_selBestMac, "000000000001");
}

TEST_F(SiteHeaderTest, SelectionSummarisesTheRunOfThePoint) {
    Stored(5, 5, -80, "00000000000a");
    Stored(50, 60, -60, "000000000001", "one");
    Stored(50, 60, -50, "000000000002", "two");
    Stored(50, 60, -50, "000000000003", "three");
    Stored(50, 60, -70, "000000000004", "four");
    Stored(90, 90, -30, "00000000000b");
    Stored(50, 60, -20, "00000000000c");  // a later visit: not part of the run

    ASSERT_EQ(header.SelectPointNear(52, 61), 1);
    EXPECT_EQ(header.m_selFirstIndex, 2);
    EXPECT_EQ(header.m_selApCount, 4);
    EXPECT_EQ(header.m_selBestRssi, -50);
    EXPECT_STREQ(header.m_selBestMac, "000000000002");
    EXPECT_STREQ(header.m_selBestSsid, "two");
}

TEST_F(SiteHeaderTest, SelectingAPointWithoutAccessPointsShowsItsMarker) {
    Commit(30, 40);
    ASSERT_EQ(header.SelectPointNear(30, 40), 1);
    EXPECT_EQ(header.m_selApCount, 1);
    EXPECT_EQ(header.m_selBestRssi, 0);
    EXPECT_STREQ(header.m_selBestMac, "000000000000");
    EXPECT_STREQ(header.m_selBestSsid, "FILL");
}

TEST_F(SiteHeaderTest, EmptySurveyKeepsThePreviousSelection) {
    Stored(1, 1, -40);
    ASSERT_EQ(header.SelectPointNear(1, 1), 1);
    g_surveyList.Clear();
    EXPECT_EQ(header.SelectPointNear(1, 1), 0);
    EXPECT_EQ(header.m_selApCount, 1);
    EXPECT_EQ(header.m_selFirstIndex, 1);
}

TEST_F(SiteHeaderTest, FarCoordinatesNeverWrapIntoReach) {
    // In 32-bit arithmetic 65536^2 wraps to 0; such a record is far away.
    Stored(65536, 0, -40);
    EXPECT_EQ(header.SelectPointNear(0, 0), 0);
    Stored(INT32_MAX, INT32_MIN, -40);
    EXPECT_EQ(header.SelectPointNear(INT32_MIN, INT32_MAX), 0);
}

TEST_F(SiteHeaderTest, DeleteRemovesOnlyTheSelectedRun) {
    Commit(10, 10);
    header.BeginPoint(200, 200, "TEST");
    Heard("000000000001", -50, 1);
    Heard("000000000002", -60, 1);
    header.CommitPoint();
    Commit(400, 400);
    Stored(200, 200, -30);  // a later visit to the same spot
    ASSERT_EQ(Survey().size(), 5u);

    ASSERT_EQ(header.SelectPointNear(200, 201), 1);
    header.DeleteSelectedPoint();
    std::vector<ApRecord*> survey = Survey();
    ASSERT_EQ(survey.size(), 3u);
    EXPECT_EQ(survey[0]->x, 10);
    EXPECT_EQ(survey[1]->x, 400);
    EXPECT_EQ(survey[2]->x, 200);
    EXPECT_EQ(header.m_pointCount, 3);
    EXPECT_EQ(header.m_apCount, 2);
    EXPECT_EQ(header.m_selApCount, 2);  // the selection keeps its values

    // The last run of the list is removed up to the end.
    ASSERT_EQ(header.SelectPointNear(200, 200), 1);
    header.DeleteSelectedPoint();
    EXPECT_EQ(Survey().size(), 2u);
}

TEST_F(SiteHeaderTest, PointsBeyond32767RecordsAreSelectableAndDeletable) {
    for (int i = 0; i < 40000; ++i) {
        Stored(i * 200, 0, -60);
    }
    Stored(40000 * 200, 0, -55);
    Stored(40000 * 200, 0, -45, "0000000000ff");
    ASSERT_EQ(header.SelectPointNear(40000 * 200, 3), 1);
    EXPECT_EQ(header.m_selFirstIndex, 40001);
    EXPECT_EQ(header.m_selApCount, 2);
    EXPECT_STREQ(header.m_selBestMac, "0000000000ff");
    header.DeleteSelectedPoint();
    std::vector<ApRecord*> survey = Survey();
    ASSERT_EQ(survey.size(), 40000u);
    EXPECT_EQ(survey.back()->x, 39999 * 200);
}

}  // namespace
