// What the view tells about each change to the survey list, the moment it is
// made and before the surveyor sees it (the survey journal listens).
#pragma once

#include <cstddef>
#include <cstdint>

#include "scanner/scan_source.h"
#include "walk/walk_engine.h"

class SurveyListener {
  public:
    virtual ~SurveyListener() = default;
    // A point taken at (x, y) was committed: its records are the last ones
    // of g_surveyList.
    virtual void OnPointCommitted(int32_t x, int32_t y) = 0;
    // Right after OnPointCommitted: what that point's sweep learnt beyond the
    // scan list (BSSIDs' channels, noise), where the scanner knows any.
    virtual void OnSweepDetails(int32_t x, int32_t y, const SweepDetails& details) {
        (void)x;
        (void)y;
        (void)details;
    }
    // The point at (x, y) was deleted: the run of records that began at the
    // site header's selection (m_selFirstIndex) is gone from g_surveyList.
    virtual void OnPointDeleted(int32_t x, int32_t y) = 0;
    // The point information dialog's delete button: the listener may delete
    // the point the site header selected itself (undoably, telling and
    // repainting as it does), answering true; false leaves it to the view.
    virtual bool DeleteSelectedPoint() { return false; }

    // The changes of the survey's edits (edit/survey_edits.h), each told the
    // moment it is made. Positions are 0-based records of g_surveyList, as
    // the list was just before the change.
    // `count` records from `first` were removed (a deletion, an undone take).
    virtual void OnRecordsRemoved(size_t first, size_t count, int32_t x, int32_t y) {
        (void)first;
        (void)count;
        (void)x;
        (void)y;
    }
    // They now lie at (toX, toY) instead of (x, y).
    virtual void OnRecordsMoved(size_t first, size_t count, int32_t x, int32_t y, int32_t toX,
                                int32_t toY) {
        (void)first;
        (void)count;
        (void)x;
        (void)y;
        (void)toX;
        (void)toY;
    }
    // They, at (x, y), are now named `name` (at most 31 bytes).
    virtual void OnRecordsRenamed(size_t first, size_t count, int32_t x, int32_t y,
                                  const char* name) {
        (void)first;
        (void)count;
        (void)x;
        (void)y;
        (void)name;
    }
    // A walking survey grew, after the commits of the points it reports.
    virtual void OnWalkProgress(const walk::WalkProgress& progress) { (void)progress; }
};
