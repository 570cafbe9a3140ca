// Circular doubly linked list of ApRecord nodes around a sentinel node.
// Results: 0 success, -1 not found / no memory, -2 no such position / end of list.
#pragma once

#include <cstdint>
#include <mutex>

#include "survey/ap_record.h"

class CRecordList {
  public:
    CRecordList();
    virtual ~CRecordList();
    CRecordList(const CRecordList&) = delete;
    CRecordList& operator=(const CRecordList&) = delete;

    int AllocRecord(ApRecord*& node);
    void Append(ApRecord* node);
    void InsertSorted(ApRecord* node);
    void InsertBefore(ApRecord* node, ApRecord* at);
    int FindByMac(const char* text, ApRecord*& position);
    int GetAt(int16_t n, ApRecord*& position);
    int GetNext(ApRecord*& position);
    void Remove(ApRecord* node);
    // Takes the node out of the list without freeing it: the caller owns it
    // until it is appended again or deleted.
    void Unlink(ApRecord* node);
    void Clear();
    int CompareRssi(const ApRecord* a, const ApRecord* b) const;

    ApRecord* Sentinel() const { return m_sentinel; }
    bool IsEmpty() const { return m_sentinel->next == m_sentinel; }

    // Test seam: when set, AllocRecord reports -1 as if memory were exhausted.
    static bool s_failAllocations;

  protected:
    ApRecord* m_sentinel;
    uint16_t m_sortMode;  // 3 orders by RSSI; any other value makes InsertSorted append
};

// The current scan: one record per MAC address heard in the running sweep,
// ascending by RSSI. Extended by the serial reader thread, read by the UI:
// every change and every walk holds g_scanListMutex.
extern CRecordList g_scanList;
// All survey-point records of the open site; records of one point are consecutive.
extern CRecordList g_surveyList;
extern std::mutex g_scanListMutex;
