// The coverage overlay: a heatmap of the survey drawn translucently over the
// plan, under the circles. Its model is built on a worker thread from a copy
// of the survey list, so a survey point never waits for it; the model comes
// back as an event and only the newest one is shown.
#include <QCoreApplication>
#include <QEvent>

#include "coverage/coverage_worker.h"
#include "coverage/requirements.h"
#include "coverage/survey_input.h"
#include "picture/coverage_image.h"
#include "sitefile/site_meta.h"
#include "survey/record_list.h"
#include "view/kestrow_view.h"

namespace {

// A built model, handed from the worker to the user-interface thread.
class CoverageReadyEvent : public QEvent {
  public:
    CoverageReadyEvent(uint64_t generation, std::shared_ptr<const coverage::CoverageModel> model)
        : QEvent(Type()), generation(generation), model(std::move(model)) {}
    static QEvent::Type Type() {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    uint64_t generation;
    std::shared_ptr<const coverage::CoverageModel> model;
};

coverage::Metric MetricOf(CKestrowView::Overlay overlay) {
    switch (overlay) {
        case CKestrowView::Overlay::kSecond:
            return coverage::Metric::kSecond;
        case CKestrowView::Overlay::kCount:
            return coverage::Metric::kCount;
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
        m_overlayImage = QImage();
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

void CKestrowView::SetMapScale(std::optional<double> pixelsPerMetre) {
    m_pixelsPerMetre = pixelsPerMetre;
}

void CKestrowView::SetSurveyExtras(const sitefile::SiteMeta& meta) {
    m_surveyExtras = std::make_unique<sitefile::SiteMeta>();
    m_surveyExtras->bssids = meta.bssids;
    m_surveyExtras->noise = meta.noise;
}

void CKestrowView::SurveyChanged() {
    // The model of the old survey is of no more use, shown or not.
    m_coverageModel.reset();
    if (m_overlay != Overlay::kOff) {
        RequestCoverage();
    }
}

bool CKestrowView::IsOverlayPending() const {
    return m_overlay != Overlay::kOff && m_coverageShown != m_coverageAsked;
}

void CKestrowView::RequestCoverage() {
    if (!HasMap()) {
        return;
    }
    if (!m_coverageWorker) {
        m_coverageWorker = std::make_unique<coverage::CoverageWorker>(
            [this](uint64_t generation, std::shared_ptr<const coverage::CoverageModel> model,
                   const std::string&) {
                // A refused grid leaves the overlay as it was; the view is
                // told only of models, on its own thread.
                QCoreApplication::postEvent(this,
                                            new CoverageReadyEvent(generation, std::move(model)));
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
    const QSize mapSize(m_mapWidth, m_mapHeight);
    if (m_overlay == Overlay::kPassFail) {
        // The verdicts of ksf check: the same model, grid and profile.
        if (!m_profile) {
            m_profile = std::make_unique<coverage::Profile>();
            coverage::BuiltInProfile("voice", *m_profile);
        }
        m_overlayImage =
            picture::PassFailOverlay(coverage::JudgeArea(*m_coverageModel, *m_profile), mapSize);
    } else {
        const coverage::Grid grid = m_coverageModel->Map(coverage::MapRequest(MetricOf(m_overlay)));
        m_overlayImage = picture::CoverageOverlay(grid, mapSize);
    }
    RepaintCircles();
    Repaint();
}

bool CKestrowView::event(QEvent* event) {
    if (event->type() == CoverageReadyEvent::Type()) {
        auto* ready = static_cast<CoverageReadyEvent*>(event);
        if (ready->generation == m_coverageAsked) {
            m_coverageShown = ready->generation;
            m_coverageModel = std::move(ready->model);
            ShowCoverage();
        }
        return true;
    }
    return QAbstractScrollArea::event(event);
}
