// A walking survey's points go into the view's survey as a tap's do.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "view/kestrow_view.h"
#include "walk/walk_engine.h"

class ViewWalkSurvey final : public walk::WalkSurvey {
  public:
    // nextName: the name of the next point (the workspace's numbering).
    ViewWalkSurvey(CKestrowView& view, std::function<std::string()> nextName)
        : m_view(view), m_nextName(std::move(nextName)) {}

    std::string NextPointName() override { return m_nextName(); }
    bool CommitWalkPoint(int32_t x, int32_t y, const std::string& name, const CRecordList& scan,
                         const SweepDetails& details) override {
        return !m_view.CommitWalkPoint(x, y, name, scan, details).empty();
    }
    void WalkProgressed(const walk::WalkProgress& progress) override {
        m_view.TellWalkProgress(progress);
    }

  private:
    CKestrowView& m_view;
    std::function<std::string()> m_nextName;
};
