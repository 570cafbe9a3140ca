#include "workspace/walk_tool.h"

#include <QCoreApplication>

#include "view/kestrow_view.h"
#include "view/view_walk_survey.h"

namespace workspace {

WalkTool::WalkTool(CKestrowView& view, std::function<std::string()> nextName, QObject* parent)
    : QObject(parent), m_view(view), m_nextName(std::move(nextName)) {
    // Each pass waits on the scanner a fraction of a second at most; between
    // passes every waiting event is handled.
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &WalkTool::Pass);
}

WalkTool::~WalkTool() {
    Finish();
}

bool WalkTool::Start(QPointF first) {
    return StartPlanned({first}, 0);
}

bool WalkTool::StartPlanned(const std::vector<QPointF>& corners, double speed) {
    if (m_engine || corners.empty() || !m_view.SiteLoaded() || m_view.IsSurveyPending()) {
        return false;
    }
    m_view.SettlePendingPoint();
    m_survey = std::make_unique<ViewWalkSurvey>(m_view, m_nextName);
    m_view.Scanner()->SetSweepSlice(std::chrono::milliseconds(15));
    m_engine = std::make_unique<walk::WalkEngine>(*m_view.Scanner(), *m_survey,
                                                  m_view.MapScale().value_or(1));
    m_view.SetWalking(true);
    m_summary.clear();
    if (speed > 0) {
        std::vector<walk::Place> places;
        for (const QPointF& c : corners) {
            places.push_back({c.x(), c.y()});
        }
        m_engine->StartPlanned(places, speed);
    } else {
        m_engine->Start({corners.front().x(), corners.front().y()});
        m_pointer = corners.front();
        m_engine->SetSurveyorPlace({corners.front().x(), corners.front().y()});
    }
    m_timer.start();
    emit Changed();
    return true;
}

void WalkTool::Turn(QPointF at) {
    if (m_engine) {
        m_engine->Turn({at.x(), at.y()});
        emit Changed();
    }
}

bool WalkTool::Paused() const {
    return m_engine && m_engine->State() == walk::WalkState::kPaused;
}

void WalkTool::TogglePause() {
    if (!m_engine) {
        return;
    }
    if (Paused()) {
        m_engine->Resume();
    } else {
        m_engine->Pause();
    }
    emit Changed();
}

void WalkTool::End() {
    if (m_engine) {
        m_engine->End();
        emit Changed();
    }
}

void WalkTool::Finish() {
    End();
    while (m_engine) {
        Pass();
    }
}

void WalkTool::PointerAt(std::optional<QPointF> at) {
    if (at) {
        m_pointer = at;
        if (m_engine) {
            m_engine->SetSurveyorPlace({at->x(), at->y()});
        }
    }
    if (m_engine) {
        emit Changed();
    }
}

std::vector<QPointF> WalkTool::Corners() const {
    if (!m_engine) {
        return m_lastCorners;
    }
    std::vector<QPointF> out;
    for (const walk::Corner& c : m_engine->Path().Corners()) {
        out.emplace_back(c.place.x, c.place.y);
    }
    return out;
}

QString WalkTool::StatusText() const {
    if (!m_engine) {
        return m_summary;
    }
    const walk::WalkEngine& e = *m_engine;
    QString text =
        (Paused() ? tr("Walk paused: %1 points") : tr("Walking: %1 points")).arg(e.PointsTaken());
    if (e.ScansWaiting() > 0) {
        text += tr(", %1 placed at the next click").arg(e.ScansWaiting());
    }
    if (e.ScansFailed() > 0) {
        text += tr(", %1 scans failed (%2)")
                    .arg(e.ScansFailed())
                    .arg(QString::fromStdString(e.LastFailure()));
    }
    if (e.State() == walk::WalkState::kFinishing) {
        return text + tr(" — finishing the last scan…");
    }
    return text + (Paused() ? tr(" — P carries on, double-click or Esc ends")
                            : tr(" — click at each turn, P pauses, double-click or Esc ends"));
}

void WalkTool::Pass() {
    if (!m_engine) {
        m_timer.stop();
        return;
    }
    if (m_engine->Poll() != walk::WalkState::kEnded) {
        // A pass waits on a running scan; without one (paused, or waiting to
        // try a failed scanner again) the timer does not spin.
        m_timer.setInterval(m_engine->Scanning() ? 0 : 20);
        emit Changed();
        return;
    }
    m_timer.stop();
    m_view.SetWalking(false);
    const walk::WalkEngine& e = *m_engine;
    m_summary = tr("Walk ended: %1 points").arg(e.PointsTaken());
    if (e.ScansDropped() > 0) {
        m_summary += tr(", %1 scans after the last click left out").arg(e.ScansDropped());
    }
    if (e.ScansFailed() > 0) {
        m_summary += tr(", %1 scans failed (%2)")
                         .arg(e.ScansFailed())
                         .arg(QString::fromStdString(e.LastFailure()));
    }
    m_lastCorners = Corners();
    m_lastPoints = e.PointsTaken();
    m_lastDropped = e.ScansDropped();
    m_lastFailed = e.ScansFailed();
    m_lastFailure = e.LastFailure();
    m_engine.reset();
    m_survey.reset();
    m_pointer.reset();
    emit Changed();
    emit Ended();
}

}  // namespace workspace
