#include "app/site_commands.h"

#include <QFileDialog>
#include <memory>
#include <vector>

#include "app/survey_guard.h"
#include "coverage/coverage_map.h"
#include "dialogs/new_site_dlg.h"
#include "dialogs/report_sign_off_dlg.h"
#include "dialogs/sign_off_dlg.h"
#include "plan/plan_import.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/qt/wait_cursor.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"
#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/kestrow_view.h"
#include "view/ui_services.h"

namespace {

void ShowSiteError(const sitefile::SiteError& error) {
    platform::MessageBox(error.Text(), error.Caption(), error.Style());
}

// At most this many refused records are named in a message.
constexpr size_t kRecordsNamed = 3;

}  // namespace

void SiteCommands::WarnOfPointsNotRead(const sitefile::SiteFileReader& reader) {
    const std::string& unreadable = reader.Points().unreadable;
    const std::vector<std::string>& refused = reader.Refused();
    if (unreadable.empty() && refused.empty()) {
        return;
    }
    std::string text;
    if (!unreadable.empty()) {
        text = "Part of the stored survey cannot be read: " + unreadable + ".";
        m_pointsNotRead = unreadable;
    }
    if (!refused.empty()) {
        text += text.empty() ? "" : " ";
        text += std::to_string(refused.size()) +
                (refused.size() == 1 ? " stored record cannot be true and is"
                                     : " stored records cannot be true and are") +
                " left out of the survey: ";
        for (size_t i = 0; i < refused.size() && i < kRecordsNamed; ++i) {
            text += (i > 0 ? "; " : "") + refused[i];
        }
        text += refused.size() > kRecordsNamed
                    ? "; and " + std::to_string(refused.size() - kRecordsNamed) + " more."
                    : ".";
        if (m_pointsNotRead.empty()) {
            m_pointsNotRead = std::to_string(refused.size()) +
                              (refused.size() == 1 ? " stored record cannot be true"
                                                   : " stored records cannot be true");
        }
    }
    text +=
        " Kestrow will not save over the stored points; open the site without keeping them "
        "to survey it anew.";
    platform::MessageBox(text, platform::kApplicationTitle,
                         platform::kMbOk | platform::kMbIconExclamation);
}

namespace {}  // namespace

std::optional<std::string> ShowSiteFileDialog(QWidget* parent, bool plans) {
    // "Site Files (*.ksf)|*.ksf|All Files (*.*)|*.*||" in Qt's form; the
    // upper-case pattern too, since names on Linux are case-sensitive.
    QString filter = QStringLiteral("Site Files (*.ksf *.KSF);;All Files (*.*)");
    if (plans) {
        const QString planFilter = CNewSiteDlg::PlanFilter().section(QStringLiteral(";;"), 0, 0);
        const QString patterns = planFilter.section(QLatin1Char('('), 1).chopped(1);
        filter =
            QStringLiteral("Sites and floor plans (*.ksf *.KSF %1);;Site Files (*.ksf *.KSF);;")
                .arg(patterns) +
            planFilter + QStringLiteral(";;All Files (*.*)");
    }
    QFileDialog dialog(parent, QString(), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("KSF"));
    dialog.selectFile(QStringLiteral("SITE1"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first().toStdString();
}

SiteCommands::SiteCommands(CKestrowView& view, const UiServices& services)
    : m_view(view), m_services(services) {}

void SiteCommands::Open(std::optional<std::string> path, std::optional<bool> keep) {
    // A point still waiting to be committed belongs to the site it was taken in.
    m_view.SettlePendingPoint();
    std::optional<std::string> chosen = std::move(path);
    if (!chosen) {
        chosen = m_services.chooseSiteFile ? m_services.chooseSiteFile(&m_view)
                                           : ShowSiteFileDialog(&m_view, m_offersPlans);
    }
    if (!chosen) {
        // A cancelled dialog still leaves the map screen showing.
        m_view.m_viewMode = CKestrowView::VIEW_MAP;
        m_view.Repaint();
        return;
    }

    // The site in force (header, path, map, points) stays until the new file
    // has passed its header checks and its map has loaded. The wait cursor is
    // taken down before any message box, so the box never shows it.
    std::optional<platform::WaitCursor> wait;
    wait.emplace();
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    sitefile::SiteMap map;
    sitefile::FileIdentity identity;
    // A site that no save could write back is refused now, before any survey
    // is made on it.
    if (!reader.Open(*chosen, error) || !reader.ReadMap(map, error) || !reader.CheckLayout(error) ||
        !reader.Identify(identity, error, &map)) {
        wait.reset();
        // Not a site but a floor plan: the workspace makes a site of it.
        if (m_offersPlans && error.kind == sitefile::SiteErrorKind::kNotSiteFile &&
            plan::LooksLikePlan(*chosen)) {
            NewSiteFromPlan(*chosen);
            return;
        }
        ShowSiteError(error);
        return;
    }
    if (!m_view.ShowSiteMap(map)) {
        wait.reset();
        ShowSiteError({sitefile::SiteErrorKind::kBadMap, "the map does not fit in memory"});
        return;
    }
    m_sitePath = *chosen;
    m_opened = identity;
    // The steps of the last survey do not apply to this one.
    if (m_edits) {
        m_edits->Clear();
    }

    if (!keep) {
        wait.reset();
        keep = platform::MessageBox("Do you wish to keep existing data points?", "Tarnwick",
                                    platform::kMbYesNo) == platform::kIdYes;
        wait.emplace();
    }
    std::vector<sitefile::PointCircle> circles;
    g_siteHeader = sitefile::TakeSite(reader, *keep, g_surveyList, circles);
    wait.reset();
    m_pointsNotRead.clear();
    if (*keep) {
        WarnOfPointsNotRead(reader);
    }
    // The panes show the new site's counters (a recovery reports again).
    m_view.PostStatusUpdate(0, 0);
    if (m_guard) {
        m_guard->SiteOpened(m_sitePath, map, circles);
    }
    m_view.ShowStoredPoints(circles);
    // Coverage within 5 m of a survey point where the map's scale is known.
    sitefile::SiteMeta meta;
    std::string metaError;
    sitefile::ReadSiteMeta(m_sitePath, meta, metaError);
    m_view.SetMapScale(meta.pixelsPerMetre);
    m_view.SetSurveyExtras(meta);
    m_view.SurveyChanged();
    m_view.m_viewMode = CKestrowView::VIEW_MAP;
    m_view.Repaint();
}

bool SiteCommands::HasUnsavedChanges() const {
    return m_guard != nullptr && m_guard->HasUnsavedChanges();
}

bool SiteCommands::NewSiteFromPlan(std::optional<std::string> plan) {
    m_view.SettlePendingPoint();
    CNewSiteDlg dialog(&m_view);
    if (plan) {
        dialog.SetPlan(*plan);
    }
    if (m_services.RunModal(dialog) != QDialog::Accepted) {
        return false;
    }
    // A new site has no points to keep.
    Open(dialog.SitePath(), true);
    for (const std::string& note : dialog.Notes()) {
        platform::MessageBox(note, platform::kApplicationTitle, platform::kMbOk);
    }
    return m_sitePath == dialog.SitePath();
}

bool SiteCommands::Save() {
    return SaveTo(std::nullopt);
}

bool SiteCommands::SaveAs(const std::string& path) {
    return SaveTo(path);
}

bool SiteCommands::SaveTo(const std::optional<std::string>& newPath) {
    m_view.SettlePendingPoint();
    // The surveyor signs first; however the dialog is closed, the save goes on.
    std::unique_ptr<CSignOffDlg> signOff;
    sitefile::ReportFields fields;
    sitefile::ReportFields original;
    if (m_askReportFields) {
        sitefile::SiteMeta meta;
        std::string ignored;  // a sidecar that cannot be read is told of at the open
        if (!m_sitePath.empty() && sitefile::ReadSiteMeta(m_sitePath, meta, ignored)) {
            fields = meta.report;
        }
        original = fields;
        auto withFields = std::make_unique<CReportSignOffDlg>(&m_view);
        withFields->SetFields(fields);
        m_services.RunModal(*withFields);
        fields = withFields->Fields();
        signOff = std::move(withFields);
    } else {
        signOff = std::make_unique<CSignOffDlg>(&m_view);
        m_services.RunModal(*signOff);
    }
    sitefile::SaveError error;
    if (!g_siteHeader || m_sitePath.empty()) {
        ShowSiteError(error);
        return false;
    }
    const bool elsewhere =
        newPath && *newPath != m_sitePath && !platform::SameFile(*newPath, m_sitePath);
    // Stored points the open could not read stay in the old file, which a
    // save to another one leaves alone.
    if (!m_pointsNotRead.empty() && !elsewhere) {
        ShowSiteError({sitefile::SiteErrorKind::kPointsNotRead, m_pointsNotRead});
        return false;
    }
    const auto pad = [&signOff](int x, int y) { return signOff->PixelQuery(x, y); };
    bool saved = false;
    {
        platform::WaitCursor wait;
        saved = elsewhere ? sitefile::SaveSiteAs(m_sitePath, *newPath, *g_siteHeader, g_surveyList,
                                                 pad, m_opened, error)
                          : sitefile::SaveSite(m_sitePath, *g_siteHeader, g_surveyList, pad,
                                               m_opened, error);
    }
    if (!saved) {
        // Like the open's messages, shown without the wait cursor: the
        // program is waiting for the surveyor, not busy. The survey stays in
        // memory whatever went wrong.
        ShowSiteError(error);
        return false;
    }
    if (elsewhere) {
        // The survey now lives at the new path; the old site keeps its own
        // sidecar, and the new one starts as a copy of it.
        const std::string oldPath = m_sitePath;
        m_sitePath = *newPath;
        m_pointsNotRead.clear();
        std::string metaError;
        if (!sitefile::CopySiteMeta(oldPath, m_sitePath, metaError)) {
            platform::MessageBox(
                "The survey was saved, but what is kept beside the site "
                "(scale, walls, bands, noise) cannot be copied with it: " +
                    metaError,
                platform::kApplicationTitle, platform::kMbOk | platform::kMbIconExclamation);
        }
        if (m_guard) {
            m_guard->SiteSavedAs(m_sitePath);
        }
    } else if (m_guard) {
        m_guard->SiteSaved(m_sitePath);
    }
    if (m_askReportFields &&
        (fields.customer != original.customer || fields.surveyor != original.surveyor ||
         fields.notes != original.notes)) {
        std::string metaError, note;
        const bool stored = sitefile::UpdateSiteMeta(
            m_sitePath,
            [&fields](sitefile::SiteMeta& meta, std::string&) {
                meta.report = fields;
                return true;
            },
            metaError, &note);
        if (!stored || !note.empty()) {
            platform::MessageBox(stored ? note
                                        : "The survey was saved, but its customer, surveyor "
                                          "and notes cannot be kept beside it: " +
                                              metaError,
                                 platform::kApplicationTitle,
                                 platform::kMbOk | platform::kMbIconExclamation);
        }
    }
    // The overlay now knows the bands and noise the save put in the sidecar.
    sitefile::SiteMeta meta;
    std::string metaError;
    if (sitefile::ReadSiteMeta(m_sitePath, meta, metaError)) {
        m_view.SetSurveyExtras(meta);
    }
    return true;
}
