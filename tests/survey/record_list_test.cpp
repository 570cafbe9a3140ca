#include "survey/record_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

ApRecord* Make(CRecordList& list, int16_t rssi, const char* mac = "000000000000") {
    ApRecord* r = nullptr;
    EXPECT_EQ(list.AllocRecord(r), 0);
    r->rssi = rssi;
    std::snprintf(r->macText, sizeof r->macText, "%s", mac);
    return r;
}

// Walks the list with the GetAt / GetNext idiom every caller uses.
std::vector<ApRecord*> Walk(CRecordList& list) {
    std::vector<ApRecord*> out;
    ApRecord* pos = nullptr;
    for (int rc = list.GetAt(1, pos); rc != -2; rc = list.GetNext(pos)) {
        out.push_back(pos);
    }
    return out;
}

std::vector<int> Rssis(CRecordList& list) {
    std::vector<int> out;
    for (ApRecord* r : Walk(list)) {
        out.push_back(r->rssi);
    }
    return out;
}

TEST(ApRecord, IsPackedInFieldOrder) {
    const size_t p = sizeof(void*);
    EXPECT_EQ(offsetof(ApRecord, x), p);
    EXPECT_EQ(offsetof(ApRecord, pointName), p + 8);
    EXPECT_EQ(offsetof(ApRecord, macText), p + 40);
    EXPECT_EQ(offsetof(ApRecord, mac), p + 56);
    EXPECT_EQ(offsetof(ApRecord, ssid), p + 62);
    EXPECT_EQ(offsetof(ApRecord, rssi), p + 190);
    EXPECT_EQ(offsetof(ApRecord, channel), p + 192);
    EXPECT_EQ(offsetof(ApRecord, sampleCount), p + 197);
    EXPECT_EQ(sizeof(ApRecord), 2 * p + 205);
}

TEST(RecordList, NewListHasNoPositionsAndFindsNothing) {
    CRecordList list;
    ApRecord* pos = reinterpret_cast<ApRecord*>(1);
    EXPECT_EQ(list.GetAt(1, pos), -2);
    EXPECT_EQ(pos, nullptr);
    EXPECT_EQ(list.FindByMac("00a0f8123456", pos), -1);
    EXPECT_EQ(pos, list.Sentinel());
    EXPECT_TRUE(list.IsEmpty());
}

TEST(RecordList, PositionsAtAndPastTheEnd) {
    CRecordList list;
    for (int16_t v : {-10, -20, -30}) {
        list.Append(Make(list, v));
    }
    ApRecord* pos = nullptr;
    ASSERT_EQ(list.GetAt(3, pos), 0);
    EXPECT_EQ(pos->rssi, -30);
    EXPECT_EQ(list.GetNext(pos), -2);
    EXPECT_EQ(pos, nullptr);
    EXPECT_EQ(list.GetAt(4, pos), -2);
    EXPECT_EQ(pos, nullptr);
    EXPECT_EQ(list.GetAt(0, pos), -2) << "positions count from 1";
    EXPECT_EQ(Rssis(list), (std::vector<int>{-10, -20, -30})) << "Append keeps arrival order";
}

TEST(RecordList, InsertSortedKeepsAscendingRssiWithEqualValuesAfterExistingOnes) {
    CRecordList list;
    list.InsertSorted(Make(list, -60, "a"));
    EXPECT_EQ(Rssis(list), (std::vector<int>{-60}));
    list.InsertSorted(Make(list, -80));
    list.InsertSorted(Make(list, -40));
    list.InsertSorted(Make(list, -50));
    EXPECT_EQ(Rssis(list), (std::vector<int>{-80, -60, -50, -40}));
    list.InsertSorted(Make(list, -60, "b"));
    std::vector<ApRecord*> records = Walk(list);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_STREQ(records[1]->macText, "a");
    EXPECT_STREQ(records[2]->macText, "b");
    list.InsertSorted(Make(list, 5));
    list.InsertSorted(Make(list, -100));
    EXPECT_EQ(Rssis(list), (std::vector<int>{-100, -80, -60, -60, -50, -40, 5}));
}

TEST(RecordList, OtherSortModeAppends) {
    struct Unsorted : CRecordList {
        Unsorted() { m_sortMode = 0; }
    } list;
    for (int16_t v : {-40, -80, -60}) {
        list.InsertSorted(Make(list, v));
    }
    EXPECT_EQ(Rssis(list), (std::vector<int>{-40, -80, -60}));
    ApRecord a{}, b{};
    a.rssi = -90;
    b.rssi = -10;
    EXPECT_EQ(list.CompareRssi(&a, &b), 1);
}

TEST(RecordList, FindByMacIsExactAndFindsTheEarliest) {
    CRecordList list;
    ApRecord* upper = Make(list, -1, "00A0F8123456");
    ApRecord* first = Make(list, -2, "00a0f8123456");
    ApRecord* second = Make(list, -3, "00a0f8123456");
    list.Append(upper);
    list.Append(first);
    list.Append(second);
    ApRecord* pos = nullptr;
    ASSERT_EQ(list.FindByMac("00a0f8123456", pos), 0);
    EXPECT_EQ(pos, first);
    EXPECT_EQ(list.FindByMac("00a0f812345", pos), -1) << "a prefix is not a match";
}

TEST(RecordList, RemoveAndClear) {
    CRecordList list;
    ApRecord* only = Make(list, -1);
    list.Append(only);
    list.Remove(only);
    EXPECT_TRUE(list.IsEmpty());
    list.Clear();
    EXPECT_TRUE(list.IsEmpty());

    for (int16_t v : {-1, -2, -3}) {
        list.Append(Make(list, v));
    }
    ApRecord* middle = nullptr;
    ASSERT_EQ(list.GetAt(2, middle), 0);
    list.Remove(middle);
    EXPECT_EQ(Rssis(list), (std::vector<int>{-1, -3}));
    list.Clear();
    EXPECT_TRUE(list.IsEmpty());
    list.Append(Make(list, -7));
    EXPECT_EQ(Rssis(list), (std::vector<int>{-7})) << "a cleared list is usable again";
}

TEST(RecordList, InsertBeforeTheSentinelAppends) {
    CRecordList list;
    list.Append(Make(list, -1));
    list.InsertBefore(Make(list, -2), list.Sentinel());
    ApRecord* first = nullptr;
    list.GetAt(1, first);
    list.InsertBefore(Make(list, -3), first);
    EXPECT_EQ(Rssis(list), (std::vector<int>{-3, -1, -2}));
}

TEST(RecordList, AllocationFailureLeavesTheListUnchanged) {
    CRecordList list;
    list.Append(Make(list, -1));
    CRecordList::s_failAllocations = true;
    ApRecord* node = nullptr;
    EXPECT_EQ(list.AllocRecord(node), -1);
    CRecordList::s_failAllocations = false;
    EXPECT_EQ(Rssis(list), (std::vector<int>{-1}));
}

TEST(RecordList, DestructorFreesRecords) {
    // Run under ASan's leak checker: a list destroyed with records frees them all.
    auto* list = new CRecordList;
    for (int i = 0; i < 100; ++i) {
        list->Append(Make(*list, static_cast<int16_t>(-i)));
    }
    delete list;
}

TEST(RecordList, AppendingManyRecordsIsNotQuadratic) {
    // 100,000 appends would take minutes with a walk per append.
    CRecordList list;
    for (int i = 0; i < 100000; ++i) {
        list.Append(Make(list, static_cast<int16_t>(i)));
    }
    EXPECT_EQ(list.Sentinel()->prev->rssi, static_cast<int16_t>(99999));
}

}  // namespace
