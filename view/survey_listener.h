// What the view tells about each change to the survey list, the moment it is
// made and before the surveyor sees it (the survey journal listens).
#pragma once

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
    // A walking survey grew, after the commits of the points it reports.
    virtual void OnWalkProgress(const walk::WalkProgress& progress) { (void)progress; }
};
