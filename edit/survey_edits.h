// The survey's editing core: every change a surveyor makes to the open
// survey (a point taken, deleted, moved or renamed) as one undoable step on a
// QUndoStack, each step and each undo and redo journaled before it is shown,
// so a crash after any of them recovers exactly what was on screen. Also the
// names of new points, Save As and the report export the window offers.
//
// A point is a run of consecutive records of g_surveyList at one place, as
// the view draws one circle for it; points are numbered from 0 in list order.
//
// The view reports its commits and deletions to a SurveyEdits (it is the
// view's SurveyListener), which passes them on to the journal's listener and
// makes each commit an undoable "take point". Everything runs on the
// user-interface thread.
#pragma once

#include <QObject>
#include <QUndoStack>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "report/survey_report.h"
#include "view/survey_listener.h"

class CKestrowView;

namespace edit {

// The open site as a document: carried out by the application's open and
// save commands.
class SiteDocument {
  public:
    virtual ~SiteDocument() = default;
    // Empty before the first accepted open.
    virtual const std::string& SitePath() const = 0;
    // Points taken, deleted, moved or renamed (or recovered) since the last
    // open or save.
    virtual bool HasUnsavedChanges() const = 0;
    // The save command (sign-off, then the save of the open site); answers
    // whether it saved, having told the surveyor why not.
    virtual bool Save() = 0;
    // The save written to `path` instead; its sidecar goes with it, the
    // journal follows it and `path` becomes the open site.
    virtual bool SaveAs(const std::string& path) = 0;
};

struct PointSummary {
    int index = 0;
    int32_t x = 0;
    int32_t y = 0;
    std::string name;        // bytes as stored (platform::TextFromBytes to show)
    size_t firstRecord = 0;  // 0-based position in g_surveyList
    size_t records = 0;      // a point where nothing was heard has one, of channel 0
    int16_t bestRssi = -120;
};

class SurveyEdits final : public QObject, public SurveyListener {
    Q_OBJECT

  public:
    // `view` is repainted after every change; `journal` (the survey guard)
    // is told of every change before it is shown.
    SurveyEdits(CKestrowView& view, SurveyListener* journal, QObject* parent = nullptr);
    ~SurveyEdits() override;

    void SetDocument(SiteDocument* document) { m_document = document; }

    // For the window's Undo and Redo actions (QUndoStack::createUndoAction),
    // its history and its clean state.
    QUndoStack& UndoStack() { return m_stack; }

    // A site was opened (or the survey replaced): nothing to undo.
    void Clear();

    // The survey as it is now.
    std::vector<PointSummary> Points() const;
    std::optional<PointSummary> Point(int index) const;
    // The point a press at map (x, y) selects: the nearest within the
    // handheld's reach (about 56.6 map pixels), the first of equals.
    std::optional<int> PointNear(int32_t x, int32_t y) const;

    // Each an undoable step, journaled; false (nothing changed) for an index
    // that is no point, a place off the map or a name that cannot be stored
    // (more than 31 bytes), with the reason in `error`.
    bool DeletePoint(int index, std::string* error = nullptr);
    bool MovePoint(int index, int32_t x, int32_t y, std::string* error = nullptr);
    bool RenamePoint(int index, const std::string& name, std::string* error = nullptr);
    // False when there is nothing to undo or redo.
    bool Undo();
    bool Redo();

    // The name of the next point the workspace takes: "1", "2", ... one after
    // the highest whole number already a point's name (names that are not
    // numbers are passed over). The handheld keeps "TEST".
    std::string NextPointName() const;

    // Forwarded to the document; false without one.
    bool HasUnsavedChanges() const;
    bool Save();
    bool SaveAs(const std::string& path);

    // The report `ksf report` writes of the open site as saved, to `path`
    // (PDF or HTML by its ending). Refused, with the reason, while the survey
    // has unsaved changes: the report shows the survey as signed and saved.
    bool ExportReport(const std::string& path, const report::ReportOptions& options,
                      std::string& error);

    // SurveyListener: the view's commits become undoable steps; a deletion
    // made elsewhere (the handheld's point dialog) is journaled and empties
    // the undo history, whose steps no longer fit the survey.
    void OnPointCommitted(int32_t x, int32_t y) override;
    void OnSweepDetails(int32_t x, int32_t y, const SweepDetails& details) override;
    void OnPointDeleted(int32_t x, int32_t y) override;
    // A walk's progress goes straight to the journal: its points came as commits.
    void OnWalkProgress(const walk::WalkProgress& progress) override {
        if (m_journal) {
            m_journal->OnWalkProgress(progress);
        }
    }
    // In the desktop workspace, the point dialog's deletion is DeletePoint.
    bool DeleteSelectedPoint() override;
    // The desktop workspace's ways: its point dialog deletes undoably, and a
    // point where nothing was heard keeps the name it was taken under. The
    // handheld's dialog deletes as it always did (emptying the history), and
    // such a point is named FILL.
    void SetDesktop(bool desktop) { m_desktop = desktop; }

  signals:
    // The survey changed (any step, undo or redo): the view has been
    // repainted; the window updates its panels and its modified mark.
    void surveyChanged();

  private:
    class Step;
    class TakeStep;
    class RemoveStep;
    class MoveStep;
    class RenameStep;
    // Repaints the circles about each place whose point changed, and tells.
    void Changed(const std::vector<std::pair<int32_t, int32_t>>& places);

    CKestrowView& m_view;
    SurveyListener* m_journal;
    SiteDocument* m_document = nullptr;
    QUndoStack m_stack;
    // Records of g_surveyList the steps know of: those past it at a commit
    // are the point just taken.
    size_t m_knownRecords = 0;
    bool m_desktop = false;
};

}  // namespace edit
