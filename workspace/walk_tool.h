// The workspace's walking survey on the event loop: the engine's passes run
// from a timer, so the window repaints, the path grows under the pointer
// and keys are heard while scans run back to back. A walk of clicks (the
// window's walk tool) or one planned in advance (the script's walk).
#pragma once

#include <QObject>
#include <QPointF>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "walk/walk_engine.h"

class CKestrowView;
class ViewWalkSurvey;

namespace workspace {

class WalkTool : public QObject {
    Q_OBJECT
  public:
    // nextName: the name of each new point.
    WalkTool(CKestrowView& view, std::function<std::string()> nextName, QObject* parent = nullptr);
    ~WalkTool() override;

    // A walk from map `first`; false when one runs already or the view
    // cannot survey (no site, no scanner).
    bool Start(QPointF first);
    // A walk along `corners` (map pixels) at `speed` (metres a second, pixels
    // without a scale).
    bool StartPlanned(const std::vector<QPointF>& corners, double speed);
    // A click: the surveyor is here now.
    void Turn(QPointF at);
    // P: stops the clock and the scanning, or carries on.
    void TogglePause();
    // Double-click or Esc: the walk ends at its last corner; the scan under
    // way finishes first. Finish also waits for it.
    void End();
    void Finish();
    // Where the pointer is on the plan: a simulated scanner hears there.
    void PointerAt(std::optional<QPointF> at);

    bool Walking() const { return m_engine != nullptr; }
    bool Paused() const;
    const walk::WalkEngine* Engine() const { return m_engine.get(); }
    // The corners so far (the last walk's once it ended, until Forget), and
    // the pointer while walking.
    std::vector<QPointF> Corners() const;
    void Forget() { m_lastCorners.clear(); }
    std::optional<QPointF> Pointer() const { return m_pointer; }
    // One line for the status bar.
    QString StatusText() const;
    // The last walk's figures once it ended.
    QString Summary() const { return m_summary; }
    size_t LastPoints() const { return m_lastPoints; }
    size_t LastDropped() const { return m_lastDropped; }
    size_t LastFailed() const { return m_lastFailed; }
    const std::string& LastFailure() const { return m_lastFailure; }

  signals:
    // After every pass that changed anything, and at the end.
    void Changed();
    void Ended();

  private:
    void Pass();

    CKestrowView& m_view;
    std::function<std::string()> m_nextName;
    std::unique_ptr<ViewWalkSurvey> m_survey;
    std::unique_ptr<walk::WalkEngine> m_engine;
    QTimer m_timer;
    std::optional<QPointF> m_pointer;
    std::vector<QPointF> m_lastCorners;
    QString m_summary;
    size_t m_lastPoints = 0;
    size_t m_lastDropped = 0;
    size_t m_lastFailed = 0;
    std::string m_lastFailure;
};

}  // namespace workspace
