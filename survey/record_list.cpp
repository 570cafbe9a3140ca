#include "survey/record_list.h"

#include <cstring>
#include <new>

bool CRecordList::s_failAllocations = false;

// Constructed in this order and destroyed in the reverse one.
std::mutex g_scanListMutex;
CRecordList g_scanList;
CRecordList g_surveyList;

namespace {
constexpr uint16_t kSortByRssi = 3;
}

CRecordList::CRecordList() : m_sentinel(new ApRecord()), m_sortMode(kSortByRssi) {
    m_sentinel->prev = m_sentinel;
    m_sentinel->next = m_sentinel;
}

CRecordList::~CRecordList() {
    Clear();
    delete m_sentinel;
}

int CRecordList::AllocRecord(ApRecord*& node) {
    if (s_failAllocations) {
        return -1;
    }
    // Zero-filled, so a caller that forgets a field never stores garbage.
    node = new (std::nothrow) ApRecord();
    return node ? 0 : -1;
}

void CRecordList::Append(ApRecord* node) {
    // The last record is the sentinel's prev: no walk needed.
    InsertBefore(node, m_sentinel);
}

void CRecordList::InsertSorted(ApRecord* node) {
    ApRecord* current = m_sentinel->next;
    while (current != m_sentinel) {
        if (CompareRssi(node, current) == -1) {
            break;
        }
        current = current->next;
    }
    InsertBefore(node, current);
}

void CRecordList::InsertBefore(ApRecord* node, ApRecord* at) {
    node->prev = at->prev;
    node->prev->next = node;
    node->next = at;
    at->prev = node;
}

int CRecordList::FindByMac(const char* text, ApRecord*& position) {
    for (ApRecord* r = m_sentinel->next; r != m_sentinel; r = r->next) {
        if (std::strncmp(r->macText, text, sizeof r->macText) == 0) {
            position = r;
            return 0;
        }
    }
    position = m_sentinel;
    return -1;
}

int CRecordList::GetAt(int16_t n, ApRecord*& position) {
    ApRecord* r = m_sentinel;
    for (int16_t i = 0; i < n; ++i) {
        r = r->next;
        if (r == m_sentinel) {
            position = nullptr;
            return -2;
        }
    }
    if (r == m_sentinel) {  // n below 1 is not a position
        position = nullptr;
        return -2;
    }
    position = r;
    return 0;
}

int CRecordList::GetNext(ApRecord*& position) {
    ApRecord* next = position->next;
    if (next == m_sentinel) {
        position = nullptr;
        return -2;
    }
    position = next;
    return 0;
}

void CRecordList::Remove(ApRecord* node) {
    Unlink(node);
    delete node;
}

void CRecordList::Unlink(ApRecord* node) {
    node->prev->next = node->next;
    node->next->prev = node->prev;
    node->prev = node->next = nullptr;
}

void CRecordList::Clear() {
    ApRecord* r = m_sentinel->next;
    while (r != m_sentinel) {
        ApRecord* next = r->next;
        delete r;
        r = next;
    }
    m_sentinel->prev = m_sentinel;
    m_sentinel->next = m_sentinel;
}

int CRecordList::CompareRssi(const ApRecord* a, const ApRecord* b) const {
    if (m_sortMode != kSortByRssi) {
        return 1;
    }
    if (a->rssi > b->rssi) {
        return 1;
    }
    return a->rssi < b->rssi ? -1 : 0;
}
