// Keeps a survey from being lost: every commit and deletion of the open site
// goes to its journal before it is shown, an open offers the points a
// journal holds that were never saved, and closing with unsaved points asks
// first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "journal/survey_journal.h"
#include "view/survey_listener.h"

class QWidget;
namespace sitefile {
struct PointCircle;
struct SiteMap;
}  // namespace sitefile

class SurveyGuard final : public SurveyListener {
  public:
    // The recovery question begins so, the close question is this.
    static constexpr const char* kRecoverQuestionStart = "Recover ";
    static constexpr const char* kCloseQuestion = "Save the survey before closing?";
    static constexpr const char* kUnprotected =
        "Survey points can no longer be protected against loss: ";

    // Status updates for recovered points go to the view's window.
    explicit SurveyGuard(QWidget* view) : m_view(view) {}

    // The open command accepted the site at `path`, showed its map and
    // loaded its own points (if kept) with their circles. A journal found
    // beside it is offered; accepted, it is replayed into g_surveyList and
    // `circles` become those of the whole list.
    void SiteOpened(const std::string& path, const sitefile::SiteMap& map,
                    std::vector<sitefile::PointCircle>& circles);
    // The save command wrote g_surveyList into the site at `sitePath`: what
    // the sweeps learnt goes to its sidecar, then the journal goes. A
    // sidecar that cannot be written is reported; its findings stay for
    // the next save.
    void SiteSaved(const std::string& sitePath);
    // The save command wrote g_surveyList to `newPath` (Save As), whose
    // sidecar is already a copy of the old one's: what the sweeps learnt
    // goes to it, the old site's journal goes and the new site's is kept
    // from now on (one found there first is set aside).
    void SiteSavedAs(const std::string& newPath);

    // Points committed or deleted, or recovered, since the last open or save.
    bool HasUnsavedChanges() const { return m_unsaved; }
    // The close question, when there is something to lose: Save runs `save`
    // (answering whether it saved), Discard sets the journal aside, Cancel
    // stays. True when the window may close.
    bool ConfirmClose(const std::function<bool()>& save);

    // A walking survey grew (after the commits it reports): journaled, and
    // with the next save written to the sidecar's walks.
    void OnWalkProgress(const walk::WalkProgress& progress) override;

    void OnPointCommitted(int32_t x, int32_t y) override;
    void OnPointDeleted(int32_t x, int32_t y) override;
    void OnSweepDetails(int32_t x, int32_t y, const SweepDetails& details) override;
    void OnRecordsRemoved(size_t first, size_t count, int32_t x, int32_t y) override;
    void OnRecordsMoved(size_t first, size_t count, int32_t x, int32_t y, int32_t toX,
                        int32_t toY) override;
    void OnRecordsRenamed(size_t first, size_t count, int32_t x, int32_t y,
                          const char* name) override;

  private:
    void Offer(const journal::Finding& found, const journal::SiteIdentity& site,
               std::vector<sitefile::PointCircle>& circles);
    // Replays the journal into g_surveyList, as unsaved points.
    journal::ReplayOutcome RecoverInto(const journal::Finding& found,
                                       std::vector<sitefile::PointCircle>& circles);
    // Sets the journal aside and tells the surveyor why and where it is.
    void SetAside(const std::string& sitePath, journal::Aside kind, const std::string& why);
    void Unprotected(const std::string& reason);
    // What the sweeps learnt, into the sidecar of the site just saved.
    void StoreFindings(const std::string& sitePath);
    void Edited(journal::Entry::Kind kind, size_t first, size_t count, int32_t x, int32_t y,
                int32_t toX = 0, int32_t toY = 0, const std::string& name = std::string());

    QWidget* m_view;
    journal::SurveyJournal m_journal;
    journal::SweepFindings m_findings;  // not yet in the sidecar
    bool m_unsaved = false;
    bool m_warned = false;  // the surveyor knows the journal stopped
    uint32_t m_walk = 0;    // the journal number of the walk under way
};
