// The open and save commands: the site file dialog, the header and map
// checks, the keep question, the stored points, and the signed-off save. They
// act on the open site (its path) and show it through the view.
#pragma once

#include <optional>
#include <string>

#include "edit/survey_edits.h"
#include "sitefile/site_layout.h"

class CKestrowView;
class QWidget;
class SurveyGuard;
namespace sitefile {
class SiteFileReader;
}
struct UiServices;

class SiteCommands final : public edit::SiteDocument {
  public:
    SiteCommands(CKestrowView& view, const UiServices& services);

    // The open command. Without `path` the file dialog chooses the site;
    // with `keep` the keep question is answered without being asked (the
    // command line's --open).
    void Open(std::optional<std::string> path = std::nullopt,
              std::optional<bool> keep = std::nullopt);
    // File → New site from floor plan: the new-site dialog (with `plan`
    // chosen when given), then the new site opened. False when no site was
    // made (the dialog cancelled).
    bool NewSiteFromPlan(std::optional<std::string> plan = std::nullopt);
    // Whether the open command takes floor plans too (the workspace's does):
    // a plan chosen goes to the new-site dialog instead of being refused as
    // not a site file.
    void SetOffersPlans(bool offers) { m_offersPlans = offers; }

    // The save command: the sign-off dialog, then the save of the open site.
    // Answers whether the site was saved.
    bool Save() override;
    // The same save written to `path` (Save As): the sidecar is copied with
    // it, the journal follows it and `path` is the open site from then on.
    // The old file is never changed.
    bool SaveAs(const std::string& path) override;

    // Told of every accepted open and every successful save.
    void SetSurveyGuard(SurveyGuard* guard) { m_guard = guard; }
    // Its undo history is emptied by every accepted open.
    void SetSurveyEdits(edit::SurveyEdits* edits) { m_edits = edits; }
    // The desktop workspace's sign-off asks for the report's customer,
    // surveyor and notes too, and keeps them in the sidecar; the handheld's
    // is the pad alone.
    void SetReportFieldsAtSignOff(bool ask) { m_askReportFields = ask; }

    // The open site's path; empty before the first accepted open.
    const std::string& SitePath() const override { return m_sitePath; }
    void SetSitePath(std::string path) { m_sitePath = std::move(path); }
    bool HasUnsavedChanges() const override;

  private:
    // The save to m_sitePath, or to `newPath`.
    bool SaveTo(const std::optional<std::string>& newPath);

    // Tells of stored points the open could not take (unreadable, or not
    // true) and keeps the save from writing over them.
    void WarnOfPointsNotRead(const sitefile::SiteFileReader& reader);

    CKestrowView& m_view;
    const UiServices& m_services;
    SurveyGuard* m_guard = nullptr;
    edit::SurveyEdits* m_edits = nullptr;
    bool m_askReportFields = false;
    std::string m_sitePath;
    // The file at m_sitePath as the open (or the last save) left it: a save
    // replaces only that file.
    sitefile::FileIdentity m_opened;
    // Why the stored points cannot all be written back; empty when they can.
    std::string m_pointsNotRead;
    bool m_offersPlans = false;
};

// The file dialog of the open command: site files first, an existing file
// only; with `plans`, floor plans too.
std::optional<std::string> ShowSiteFileDialog(QWidget* parent, bool plans = false);
