// The view's open and save commands: the site file dialog, the header and map
// checks, the keep question, the stored points, and the signed-off save.
#include "sitefile/site_commands.h"

#include <QFileDialog>
#include <QScrollBar>
#include <vector>

#include "platform/message_box.h"
#include "platform/qt/modal_runner.h"
#include "platform/qt/wait_cursor.h"
#include "sitefile/sign_off_dlg.h"
#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"
#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/kestrow_view.h"

namespace sitefile_ui {

namespace {
SiteFileChooser& Chooser() {
    static SiteFileChooser chooser;
    return chooser;
}
std::optional<bool>& KeepAnswer() {
    static std::optional<bool> keep;
    return keep;
}
}  // namespace

void SetSiteFileChooser(SiteFileChooser chooser) {
    Chooser() = std::move(chooser);
}

void SetKeepPointsAnswer(std::optional<bool> keep) {
    KeepAnswer() = keep;
}

ScopedOpenAnswers::ScopedOpenAnswers(std::string path, bool keep)
    : m_previousChooser(Chooser()), m_previousKeep(KeepAnswer()) {
    Chooser() = [path](QWidget*) { return std::optional<std::string>(path); };
    KeepAnswer() = keep;
}

ScopedOpenAnswers::~ScopedOpenAnswers() {
    Chooser() = std::move(m_previousChooser);
    KeepAnswer() = m_previousKeep;
}

std::optional<std::string> ShowSiteFileDialog(QWidget* parent) {
    // "Site Files (*.ksf)|*.ksf|All Files (*.*)|*.*||" in Qt's form; the
    // upper-case pattern too, since names on Linux are case-sensitive.
    QFileDialog dialog(parent, QString(), QString(),
                       QStringLiteral("Site Files (*.ksf *.KSF);;All Files (*.*)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("KSF"));
    dialog.selectFile(QStringLiteral("SITE1"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first().toStdString();
}

}  // namespace sitefile_ui

void CKestrowView::OpenSite() {
    using namespace sitefile_ui;
    const std::optional<std::string> chosen =
        Chooser() ? Chooser()(this) : ShowSiteFileDialog(this);
    if (!chosen) {
        // A cancelled dialog still leaves the map screen showing.
        m_viewMode = VIEW_MAP;
        Repaint();
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
    if (!reader.Open(*chosen, error) || !reader.ReadMap(map, error)) {
        wait.reset();
        const unsigned icon =
            error.caption == platform::kApplicationTitle ? 0u : platform::kMbIconError;
        platform::MessageBox(error.text, error.caption, platform::kMbOk | icon);
        return;
    }
    // The file's rows stay in their order: a bottom-up map is read from its
    // last row upwards.
    const int64_t stride = static_cast<int64_t>(map.stride);
    if (!LoadMapImage(map.width, map.height, map.colors, map.Row(0),
                      map.bottomUp ? -stride : stride)) {
        wait.reset();
        platform::MessageBox("Error Loading Site", platform::kApplicationTitle, platform::kMbOk);
        return;
    }
    m_sitePath = *chosen;

    m_pViewport->SetMapBounds(0, 0, map.width, map.height);
    m_pViewport->SetVisibleRect(0, 0, map.width, map.height);
    verticalScrollBar()->setRange(0, map.height);
    horizontalScrollBar()->setRange(0, map.width);
    verticalScrollBar()->setValue(m_pViewport->GetCenterY());
    horizontalScrollBar()->setValue(m_pViewport->GetCenterX());

    bool keep = true;
    if (KeepAnswer()) {
        keep = *KeepAnswer();
    } else {
        wait.reset();
        keep = platform::MessageBox("Do you wish to keep existing data points?", "Tarnwick",
                                    platform::kMbYesNo) == platform::kIdYes;
        wait.emplace();
    }
    std::vector<sitefile::PointCircle> circles;
    g_siteHeader = reader.LoadPoints(keep, circles);
    for (const sitefile::PointCircle& circle : circles) {
        PaintBandCircle(circle.x, circle.y, circle.rssi);
    }
    m_viewMode = VIEW_MAP;
    wait.reset();
    Repaint();
}

void CKestrowView::SaveSite() {
    // The surveyor signs first; however the dialog is closed, the save goes on.
    CSignOffDlg signOff(this);
    platform::RunModal(signOff);
    if (!g_siteHeader || m_sitePath.empty()) {
        platform::MessageBox("Could not update site", "Site Update Error",
                             platform::kMbOk | platform::kMbIconError);
        return;
    }
    sitefile::SaveError error;
    bool saved = false;
    {
        platform::WaitCursor wait;
        saved = sitefile::SaveSite(
            m_sitePath, *g_siteHeader, g_surveyList,
            [&signOff](int x, int y) { return signOff.PixelQuery(x, y); }, error);
    }
    if (!saved) {
        // Like the open's messages, shown without the wait cursor: the
        // program is waiting for the surveyor, not busy.
        platform::MessageBox(error.text, error.caption, platform::kMbOk | platform::kMbIconError);
    }
}
