// The coverage overlay: a heatmap of the survey drawn translucently over the
// plan, under the circles. Its model is built on a worker thread from a copy
// of the survey list, so a survey point never waits for it; the model comes
// back as an event and only the newest one is shown.
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

#include "coverage/coverage_worker.h"
#include "coverage/requirements.h"
#include "coverage/survey_input.h"
#include "picture/coverage_image.h"
#include "sitefile/site_meta.h"
#include "survey/record_list.h"
#include "view/kestrow_view.h"

namespace {

// A built model (or why there is none), handed from the worker to the
// user-interface thread.
class CoverageReadyEvent : public QEvent {
  public:
    CoverageReadyEvent(uint64_t generation, std::shared_ptr<const coverage::CoverageModel> model,
                       std::string error)
        : QEvent(Type()),
          generation(generation),
          model(std::move(model)),
          error(std::move(error)) {}
    static QEvent::Type Type() {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    uint64_t generation;
    std::shared_ptr<const coverage::CoverageModel> model;
    std::string error;
};

// How far the build of a generation has come.
class CoverageProgressEvent : public QEvent {
  public:
    CoverageProgressEvent(uint64_t generation, coverage::BuildStage stage, double done)
        : QEvent(Type()), generation(generation), stage(stage), done(done) {}
    static QEvent::Type Type() {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    uint64_t generation;
    coverage::BuildStage stage;
    double done;
};

constexpr const char* kCancelHint = " (Esc cancels)";

coverage::Metric MetricOf(CKestrowView::Overlay overlay) {
    switch (overlay) {
        case CKestrowView::Overlay::kSecond:
            return coverage::Metric::kSecond;
        case CKestrowView::Overlay::kCount:
            return coverage::Metric::kCount;
        case CKestrowView::Overlay::kCochannel:
            return coverage::Metric::kCochannel;
        case CKestrowView::Overlay::kSnr:
            return coverage::Metric::kSnr;
        default:
            return coverage::Metric::kStrongest;
    }
}

}  // namespace

void CKestrowView::SetOverlay(Overlay overlay) {
    if (overlay == m_overlay) {
        return;
    }
    m_overlay = overlay;
    if (m_overlay == Overlay::kOff) {
        // A computation still running is of no more use.
        if (m_coverageWorker && IsOverlayPendingFor(m_coverageAsked)) {
            m_coverageWorker->Cancel();
            m_coverageShown = m_coverageAsked;
        }
        m_coverageStatus.clear();
        m_overlayCells = QImage();
        RepaintCircles();
        Repaint();
        return;
    }
    if (m_coverageModel && m_coverageShown == m_coverageAsked) {
        ShowCoverage();  // another metric of the model at hand
    } else {
        RequestCoverage();
    }
}

void CKestrowView::CycleOverlay() {
    SetOverlay(m_overlay == Overlay::kOff         ? Overlay::kStrongest
               : m_overlay == Overlay::kStrongest ? Overlay::kPassFail
                                                  : Overlay::kOff);
}

void CKestrowView::SetProfile(const coverage::Profile& profile) {
    m_profile = std::make_unique<coverage::Profile>(profile);
    if (m_overlay == Overlay::kPassFail) {
        ShowCoverage();
    }
}

void CKestrowView::SetOverlayChoices(double thresholdDbm, const coverage::ApFilter& filter) {
    m_overlayThreshold = thresholdDbm;
    m_overlayFilter = filter;
    if (m_overlay != Overlay::kOff && m_overlay != Overlay::kPassFail && m_coverageModel &&
        m_coverageShown == m_coverageAsked) {
        ShowCoverage();  // the model at hand, combined again
    }
}

void CKestrowView::SetMapScale(std::optional<double> pixelsPerMetre) {
    m_pixelsPerMetre = pixelsPerMetre;
}

void CKestrowView::SetSurveyExtras(const sitefile::SiteMeta& meta) {
    // All of it: the channels and noise, and the walls and placed access
    // points the coverage model takes into account.
    m_surveyExtras = std::make_unique<sitefile::SiteMeta>(meta);
}

void CKestrowView::SurveyChanged() {
    // The model of the old survey is of no more use, shown or not.
    m_coverageModel.reset();
    if (m_overlay != Overlay::kOff) {
        RequestCoverage();
    }
}

bool CKestrowView::IsOverlayPending() const {
    return m_overlay != Overlay::kOff && IsOverlayPendingFor(m_coverageAsked);
}

bool CKestrowView::IsOverlayPendingFor(uint64_t generation) const {
    return m_coverageShown != generation;
}

bool CKestrowView::CancelCoverage() {
    if (!IsOverlayPending()) {
        return false;
    }
    SetOverlay(Overlay::kOff);
    return true;
}

void CKestrowView::DrawOverlayStatus(QPainter& painter, const QRect& client) {
    if (m_coverageStatus.empty()) {
        return;
    }
    // One line over the bottom of the map, white on dark.
    const QString text = QString::fromStdString(m_coverageStatus);
    const QFontMetrics metrics(painter.font());
    const int height = metrics.height() + 4;
    const QRect strip(client.left(), client.bottom() + 1 - height, client.width(), height);
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.fillRect(strip, QColor(0, 0, 0, 190));
    painter.setPen(Qt::white);
    painter.drawText(strip.adjusted(4, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     metrics.elidedText(text, Qt::ElideRight, strip.width() - 8));
    painter.restore();
}

void CKestrowView::RequestCoverage() {
    if (!HasMap()) {
        return;
    }
    if (!m_coverageWorker) {
        // The view is told on its own thread.
        m_coverageWorker = std::make_unique<coverage::CoverageWorker>(
            [this](uint64_t generation, std::shared_ptr<const coverage::CoverageModel> model,
                   const std::string& error) {
                QCoreApplication::postEvent(
                    this, new CoverageReadyEvent(generation, std::move(model), error));
            },
            [this](uint64_t generation, coverage::BuildStage stage, double done) {
                QCoreApplication::postEvent(this,
                                            new CoverageProgressEvent(generation, stage, done));
            });
    }
    // The grid ksf check judges on, so the window shows the same verdicts.
    const coverage::GridSpec spec =
        coverage::DefaultGridSpec(m_mapWidth, m_mapHeight, m_pixelsPerMetre);
    coverage::Survey survey = coverage::SurveyFromRecords(g_surveyList);
    if (m_surveyExtras) {
        coverage::ApplySiteMeta(*m_surveyExtras, survey);
    }
    m_coverageAsked = m_coverageWorker->Submit(std::move(survey), spec, {});
}

void CKestrowView::ShowCoverage() {
    if (m_overlay == Overlay::kOff || !m_coverageModel) {
        return;
    }
    if (m_overlay == Overlay::kPassFail) {
        // The verdicts of ksf check: the same model, grid and profile.
        if (!m_profile) {
            m_profile = std::make_unique<coverage::Profile>();
            coverage::BuiltInProfile("voice", *m_profile);
        }
        const coverage::AreaVerdict verdict = coverage::JudgeArea(*m_coverageModel, *m_profile);
        m_overlayCells = picture::PassFailCells(verdict);
        m_overlaySpec = verdict.spec;
    } else {
        const coverage::Grid grid = m_coverageModel->Map(
            coverage::MapRequest(MetricOf(m_overlay), m_overlayThreshold, m_overlayFilter));
        m_overlayCells = picture::CoverageCells(grid);
        m_overlaySpec = grid.spec;
    }
    RepaintCircles();
    Repaint();
}

bool CKestrowView::event(QEvent* event) {
    if (event->type() == CoverageReadyEvent::Type()) {
        auto* ready = static_cast<CoverageReadyEvent*>(event);
        if (ready->generation == m_coverageAsked && m_overlay != Overlay::kOff) {
            m_coverageShown = ready->generation;
            m_coverageModel = std::move(ready->model);
            // A refused survey leaves the plan as it is and says why.
            m_coverageStatus = m_coverageModel ? "" : "No coverage overlay: " + ready->error;
            if (m_coverageModel) {
                ShowCoverage();
            } else {
                Repaint();
            }
        }
        return true;
    }
    if (event->type() == CoverageProgressEvent::Type()) {
        auto* progress = static_cast<CoverageProgressEvent*>(event);
        if (progress->generation == m_coverageAsked && IsOverlayPending()) {
            m_coverageStatus =
                progress->stage == coverage::BuildStage::kFitting
                    ? std::string("Computing coverage: fitting the survey") + kCancelHint
                    : "Computing coverage: " +
                          std::to_string(static_cast<int>(progress->done * 100 + 0.5)) + "%" +
                          kCancelHint;
            Repaint();
        }
        return true;
    }
    return QAbstractScrollArea::event(event);
}
