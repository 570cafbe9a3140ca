#include "app/script_host.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTimer>
#include <iterator>

#include <QMainWindow>

#include "app/survey_guard.h"
#include "dialogs/dialog_ids.h"
#include "dialogs/dialog_script.h"
#include "dialogs/new_site_dlg.h"
#include "dialogs/point_info_dlg.h"
#include "dialogs/report_sign_off_dlg.h"
#include "dialogs/sign_off_dlg.h"
#include "edit/survey_edits.h"
#include "picture/png_output.h"
#include "plan/site_prep.h"
#include "platform/text.h"
#include "sitetools/site_prep_tools.h"
#include "survey/site_header.h"
#include "view/command_ids.h"
#include "view/kestrow_view.h"
#include "view/view_walk_survey.h"
#include "walk/walk_engine.h"
#include "workspace/map_canvas.h"
#include "workspace/survey_points.h"
#include "workspace/sweep_runner.h"
#include "workspace/walk_tool.h"
#include "workspace/workspace_window.h"

namespace {

// Longest wait for a started survey point to be committed or given up.
constexpr int kSurveyWaitMs = 15000;
// Longest wait for the coverage overlay to be computed.
constexpr int kOverlayWaitMs = 60000;
// Quiet time after a point for the device's last messages to be handled.
constexpr int kSettleMs = 60;

void SendMouse(QWidget& widget, QEvent::Type type, QPoint point, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(point), QPointF(widget.mapToGlobal(point)), button, buttons,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

}  // namespace

KestrowScriptHost::KestrowScriptHost(std::ostream& out) : m_out(out) {
    platform::SetMessageBoxHandler(this);
}

KestrowScriptHost::~KestrowScriptHost() {
    platform::SetMessageBoxHandler(nullptr);
}

UiServices KestrowScriptHost::Services() {
    UiServices services;
    services.runModal = [this](QDialog& dialog) { return RunDialog(dialog); };
    services.chooseSiteFile = [this](QWidget*) {
        std::optional<std::string> chosen = std::move(m_chosenFile);
        m_chosenFile.reset();
        return chosen;
    };
    return services;
}

void KestrowScriptHost::Attach(CKestrowView* view, QMainWindow* window,
                               std::function<QString(int)> paneText,
                               std::function<void(int)> command,
                               workspace::WorkspaceWindow* workspace) {
    m_view = view;
    m_window = window;
    m_paneText = std::move(paneText);
    m_command = std::move(command);
    m_workspace = workspace;
}

bool KestrowScriptHost::SurveyRunning() const {
    return m_workspace ? m_workspace->Sweep().IsRunning() : m_view->IsSurveyPending();
}

void KestrowScriptHost::Print(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_outMutex);
    m_out << line << std::endl;
}

int KestrowScriptHost::Show(const std::string& text, const std::string& caption, unsigned style) {
    // One line per box: a text of several lines shows its line breaks as \n,
    // and what came from the air or a file cannot drive the terminal.
    std::string shown;
    for (size_t start = 0;;) {
        const size_t end = text.find('\n', start);
        shown += platform::PrintableText(text.substr(start, end - start));
        if (end == std::string::npos) {
            break;
        }
        shown += "\\n";
        start = end + 1;
    }
    Print("MSGBOX " + platform::PrintableText(caption) + " | " + shown);
    switch (style & 0x0F) {
        case platform::kMbYesNo:
            if (text.rfind(SurveyGuard::kRecoverQuestionStart, 0) == 0) {
                return m_recoverPoints ? platform::kIdYes : platform::kIdNo;
            }
            return m_keepPoints ? platform::kIdYes : platform::kIdNo;
        case platform::kMbSaveDiscardCancel:
            switch (m_closeAnswer.load()) {
                case CloseAnswer::kSave:
                    return platform::kIdYes;
                case CloseAnswer::kDiscard:
                    return platform::kIdNo;
                case CloseAnswer::kCancel:
                    break;
            }
            return platform::kIdCancel;
        default:
            return platform::kIdOk;
    }
}

void KestrowScriptHost::RunEventsFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The tap's sweep loop has returned; the device's KORV_DRAW messages wait in
// the queue. Handle them until the point is committed (or no point is being
// recorded), then let the last messages of the sweep arrive and be handled.
void KestrowScriptHost::WaitForSurvey() {
    QElapsedTimer waited;
    waited.start();
    while (SurveyRunning() && waited.elapsed() < kSurveyWaitMs) {
        RunEventsFor(5);
    }
    RunEventsFor(kSettleMs);
    WaitForOverlay();
}

// The overlay is computed off the user-interface thread; a script's next
// command (a screenshot) sees it drawn.
void KestrowScriptHost::WaitForOverlay() {
    QElapsedTimer waited;
    waited.start();
    while (m_view->IsOverlayPending() && waited.elapsed() < kOverlayWaitMs) {
        RunEventsFor(5);
    }
}

void KestrowScriptHost::Overlay(const std::string& which) {
    using Kind = CKestrowView::Overlay;
    const Kind kind = which == "strongest"   ? Kind::kStrongest
                      : which == "second"    ? Kind::kSecond
                      : which == "count"     ? Kind::kCount
                      : which == "passfail"  ? Kind::kPassFail
                      : which == "cochannel" ? Kind::kCochannel
                      : which == "snr"       ? Kind::kSnr
                                             : Kind::kOff;
    if (m_workspace) {
        // Through the Overlay panel, which the legend follows.
        static const Kind kIndex[] = {Kind::kOff,     Kind::kStrongest, Kind::kSecond,
                                      Kind::kCount,   Kind::kCochannel, Kind::kSnr,
                                      Kind::kPassFail};
        for (int i = 0; i < static_cast<int>(std::size(kIndex)); ++i) {
            if (kIndex[i] == kind) {
                m_workspace->ShowOverlay(i);
            }
        }
    } else {
        m_view->SetOverlay(kind);
    }
    WaitForOverlay();
    RunEventsFor(0);
}

void KestrowScriptHost::TakeDialogShot(QDialog& dialog) {
    if (!m_dialogShot.empty()) {
        std::string ignored;  // a failed picture of a dialog ends nothing
        picture::WritePng(m_dialogShot, dialog.grab().toImage(), ignored);
        m_dialogShot.clear();
    }
}

int KestrowScriptHost::RunDialog(QDialog& dialog) {
    dialog.show();
    QCoreApplication::processEvents();
    if (auto* signOff = dynamic_cast<CSignOffDlg*>(&dialog)) {
        CSignaturePad& pad = signOff->Pad();
        for (const Stroke& stroke : m_strokes) {
            QPoint point(stroke.front().first, stroke.front().second);
            SendMouse(pad, QEvent::MouseButtonPress, point, Qt::LeftButton, Qt::LeftButton);
            for (size_t i = 1; i < stroke.size(); ++i) {
                point = QPoint(stroke[i].first, stroke[i].second);
                SendMouse(pad, QEvent::MouseMove, point, Qt::NoButton, Qt::LeftButton);
            }
            SendMouse(pad, QEvent::MouseButtonRelease, point, Qt::LeftButton, Qt::NoButton);
        }
        m_strokes.clear();
        if (auto* fields = dynamic_cast<CReportSignOffDlg*>(signOff)) {
            if (m_customer) {
                fields->Customer().setText(QString::fromStdString(*m_customer));
            }
            if (m_surveyor) {
                fields->Surveyor().setText(QString::fromStdString(*m_surveyor));
            }
            if (m_notes) {
                fields->Notes().setPlainText(QString::fromStdString(*m_notes));
            }
        }
        m_customer.reset();
        m_surveyor.reset();
        m_notes.reset();
        TakeDialogShot(dialog);
        if (auto* save = qobject_cast<QAbstractButton*>(signOff->Control(1))) {
            save->click();
        }
    } else if (auto* newSite = dynamic_cast<CNewSiteDlg*>(&dialog)) {
        // new-site's answers; a plan opened is saved as the dialog proposes.
        if (m_newSite) {
            newSite->SetPlan(m_newSite->plan);
            newSite->SetPage(m_newSite->page);
            newSite->SetSitePath(m_newSite->site);
        }
        TakeDialogShot(dialog);
        newSite->accept();
        if (m_newSite) {
            m_newSite->problem = newSite->Problem();
            m_newSite->created = newSite->result() == QDialog::Accepted;
        } else if (!newSite->Problem().empty()) {
            Print("MSGBOX New site from floor plan | " +
                  platform::PrintableText(newSite->Problem()));
        }
    } else if (auto* templated = dynamic_cast<CTemplateDialog*>(&dialog)) {
        for (const QString& line : DescribeDialog(*templated)) {
            Print(platform::PrintableText(line.toStdString()));
        }
        auto* pointInfo = dynamic_cast<CPointInfoDlg*>(&dialog);
        if (pointInfo && m_workspace) {
            // The workspace's Point panel lists all that was heard there.
            for (const workspace::HeardEntry& entry :
                 workspace::HeardAtSelection(m_view->SurveyExtras())) {
                Print("INFO " + platform::PrintableText(workspace::DescribeEntry(entry)));
            }
        }
        TakeDialogShot(dialog);
        if (pointInfo && m_deleteNext) {
            if (auto* remove =
                    qobject_cast<QAbstractButton*>(pointInfo->Control(IDC_DELETE_POINT))) {
                remove->click();
                Print("INFO deleted");
            }
        }
    }
    if (dialog.isVisible()) {
        dialog.reject();
    }
    return dialog.result();
}

bool KestrowScriptHost::Open(const std::string& path, bool keep, bool recover,
                             std::string& reason) {
    const QFileInfo file(QString::fromStdString(path));
    if (!file.exists()) {
        // The file dialog accepts existing files only.
        reason = "no such file: " + path;
        return false;
    }
    m_chosenFile = file.absoluteFilePath().toStdString();
    m_keepPoints = keep;
    m_recoverPoints = recover;
    m_command(ID_OPEN_SITE);
    m_chosenFile.reset();
    RunEventsFor(0);
    return true;
}

void KestrowScriptHost::OpenCancel() {
    m_chosenFile.reset();
    m_command(ID_OPEN_SITE);
    RunEventsFor(0);
}

void KestrowScriptHost::Tap(int x, int y) {
    if (m_workspace) {
        // Beside the plan a tap starts nothing.
        if (m_workspace->Canvas().Tap(QPoint(x, y))) {
            WaitForSurvey();
        }
        RunEventsFor(0);
        return;
    }
    m_view->OnLButtonDown(QPoint(x, y), false);
    WaitForSurvey();
}

void KestrowScriptHost::Hold(int x, int y, bool deletePoint) {
    m_deleteNext = deletePoint;
    if (m_workspace) {
        m_workspace->Canvas().Hold(QPoint(x, y));
    } else {
        m_view->OnLButtonDown(QPoint(x, y), true);
    }
    m_deleteNext = false;
    RunEventsFor(0);
}

void KestrowScriptHost::PanMap(double mapDx, double mapDy) {
    const double scale = m_workspace->Canvas().Geometry().Scale();
    m_workspace->Canvas().Pan(QPointF(-mapDx * scale, -mapDy * scale));
}

void KestrowScriptHost::Key(unsigned code) {
    if (m_workspace) {
        // The joystick moves the view by 10 map pixels; its middle takes a
        // point at the canvas centre.
        workspace::MapCanvas& canvas = m_workspace->Canvas();
        switch (code) {
            case 0x25:
                PanMap(-10, 0);
                break;
            case 0x26:
                PanMap(0, -10);
                break;
            case 0x27:
                PanMap(10, 0);
                break;
            case 0x28:
                PanMap(0, 10);
                break;
            case 0x86:
                if (canvas.Tap(QPoint(canvas.width() / 2, canvas.height() / 2))) {
                    WaitForSurvey();
                }
                break;
            default:
                break;
        }
        RunEventsFor(0);
        return;
    }
    m_view->OnKeyDown(code);
    if (code == 0x86) {
        WaitForSurvey();
    } else {
        RunEventsFor(0);
    }
}

void KestrowScriptHost::Zoom(bool in) {
    if (m_workspace) {
        workspace::MapCanvas& canvas = m_workspace->Canvas();
        canvas.ZoomAt(QPointF(canvas.width() / 2.0, canvas.height() / 2.0), in ? 1 : -1);
    } else {
        m_view->OnCommand(in ? ID_ZOOM_IN : ID_ZOOM_OUT);
    }
    RunEventsFor(0);
}

void KestrowScriptHost::Scroll(bool horizontal, int code, int position) {
    if (m_workspace) {
        // Lines of 10 map pixels, pages of the canvas, the thumb a map position.
        const workspace::CanvasGeometry& geometry = m_workspace->Canvas().Geometry();
        const double page =
            (horizontal ? geometry.CanvasWidth() : geometry.CanvasHeight()) / geometry.Scale();
        const double step = code == 0   ? -10
                            : code == 1 ? 10
                            : code == 2 ? -page
                            : code == 3 ? page
                                        : 0;
        if (step != 0) {
            PanMap(horizontal ? step : 0, horizontal ? 0 : step);
        } else if (code == 4 || code == 5) {
            const double centreX = geometry.CanvasToMapX(geometry.CanvasWidth() / 2.0);
            const double centreY = geometry.CanvasToMapY(geometry.CanvasHeight() / 2.0);
            PanMap(horizontal ? position - centreX : 0, horizontal ? 0 : position - centreY);
        }
        RunEventsFor(0);
        return;
    }
    if (horizontal) {
        m_view->OnHScroll(code, position);
    } else {
        m_view->OnVScroll(code, position);
    }
    RunEventsFor(0);
}

bool KestrowScriptHost::Wheel(int x, int y, int steps, std::string& reason) {
    if (!m_workspace) {
        return ScriptHost::Wheel(x, y, steps, reason);
    }
    m_workspace->Canvas().ZoomAt(QPointF(x + 0.5, y + 0.5), steps);
    RunEventsFor(0);
    return true;
}

bool KestrowScriptHost::Pan(int dx, int dy, std::string& reason) {
    if (!m_workspace) {
        return ScriptHost::Pan(dx, dy, reason);
    }
    m_workspace->Canvas().Pan(QPointF(dx, dy));
    RunEventsFor(0);
    return true;
}

bool KestrowScriptHost::Fit(std::string& reason) {
    if (!m_workspace) {
        return ScriptHost::Fit(reason);
    }
    m_workspace->Canvas().FitToWindow();
    RunEventsFor(0);
    return true;
}

void KestrowScriptHost::Sign(const Stroke& stroke) {
    m_strokes.push_back(stroke);
}

void KestrowScriptHost::Save() {
    m_command(ID_SAVE_SITE);
    m_strokes.clear();
    RunEventsFor(0);
}

void KestrowScriptHost::Status() {
    std::string line = "STATUS";
    for (int pane = 0; pane < 4; ++pane) {
        line += (pane == 0 ? " " : " | ") + m_paneText(pane).toStdString();
    }
    Print(line);
}

void KestrowScriptHost::Dialog(const std::string& which) {
    const int command = which == "colors" ? ID_COLOR_RANGES : which == "help" ? ID_HELP : ID_ABOUT;
    m_view->OnCommand(command);
    RunEventsFor(0);
}

bool KestrowScriptHost::Screenshot(const std::string& path, std::string& reason) {
    const QImage shot = m_workspace ? m_workspace->Canvas().Render() : m_view->Render();
    return picture::WritePng(path, shot, reason);
}

bool KestrowScriptHost::WindowScreenshot(const std::string& path, std::string& reason) {
    return picture::WritePng(path, m_window->grab().toImage(), reason);
}

void KestrowScriptHost::Sleep(int milliseconds) {
    RunEventsFor(milliseconds);
}

bool KestrowScriptHost::Close(CloseAnswer answer) {
    m_closeAnswer = answer;
    const bool closed = m_window->close();
    m_strokes.clear();
    m_closeAnswer = CloseAnswer::kCancel;
    RunEventsFor(0);
    return closed;
}

bool KestrowScriptHost::ToMap(QPoint canvas, int32_t& x, int32_t& y) {
    if (m_workspace) {
        return m_workspace->Canvas().Geometry().CanvasToMap(canvas.x(), canvas.y(), x, y);
    }
    if (!m_view->HasMap()) {
        return false;
    }
    m_view->GetViewport()->ClientToMap(m_view->ClientRect(), canvas.x(), canvas.y(), x, y);
    return x >= 0 && y >= 0 && x < m_view->m_mapWidth && y < m_view->m_mapHeight;
}

std::optional<int> KestrowScriptHost::PointUnder(int x, int y, std::string& reason) {
    int32_t mapX = 0;
    int32_t mapY = 0;
    std::optional<int> point;
    if (ToMap(QPoint(x, y), mapX, mapY)) {
        point = m_edits->PointNear(mapX, mapY);
    }
    if (!point) {
        reason = "no survey point at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    }
    return point;
}

bool KestrowScriptHost::Undo(bool redo, std::string& reason) {
    if (!(redo ? m_edits->Redo() : m_edits->Undo())) {
        reason = redo ? "nothing to redo" : "nothing to undo";
        return false;
    }
    RunEventsFor(0);
    WaitForOverlay();
    return true;
}

bool KestrowScriptHost::Move(int x1, int y1, int x2, int y2, std::string& reason) {
    const std::optional<int> point = PointUnder(x1, y1, reason);
    int32_t mapX = 0;
    int32_t mapY = 0;
    if (!point) {
        return false;
    }
    if (!ToMap(QPoint(x2, y2), mapX, mapY)) {
        reason = "(" + std::to_string(x2) + ", " + std::to_string(y2) + ") is not on the map";
        return false;
    }
    if (!m_edits->MovePoint(*point, mapX, mapY, &reason)) {
        return false;
    }
    RunEventsFor(0);
    WaitForOverlay();
    return true;
}

bool KestrowScriptHost::Rename(int x, int y, const std::string& name, std::string& reason) {
    const std::optional<int> point = PointUnder(x, y, reason);
    if (!point || !m_edits->RenamePoint(*point, name, &reason)) {
        return false;
    }
    RunEventsFor(0);
    return true;
}

bool KestrowScriptHost::SaveAs(const std::string& path, std::string& reason) {
    // As the file dialog would hand it over: a full path.
    const std::string full =
        QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
    // Like the save command: a save that fails tells why in its message box
    // and the script goes on.
    (void)reason;
    m_edits->SaveAs(full);
    m_strokes.clear();
    RunEventsFor(0);
    return true;
}

void KestrowScriptHost::SignField(const std::string& field, const std::string& text) {
    (field == "customer" ? m_customer : field == "surveyor" ? m_surveyor : m_notes) = text;
}
bool KestrowScriptHost::Walk(const Stroke& path, double speed, std::string& reason) {
    if (!g_siteHeader || !m_view->HasMap() || m_view->Scanner() == nullptr) {
        reason = "walk: open a site first";
        return false;
    }
    std::vector<walk::Place> corners;
    for (const auto& [x, y] : path) {
        if (x < 0 || y < 0 || x >= m_view->m_mapWidth || y >= m_view->m_mapHeight) {
            reason = "walk: " + std::to_string(x) + "," + std::to_string(y) + " lies off the " +
                     std::to_string(m_view->m_mapWidth) + " x " +
                     std::to_string(m_view->m_mapHeight) + " map";
            return false;
        }
        corners.push_back({static_cast<double>(x), static_cast<double>(y)});
    }
    if (m_workspace) {
        // The window's own walk, its path drawn as it goes.
        std::vector<QPointF> points;
        for (const walk::Place& c : corners) {
            points.emplace_back(c.x, c.y);
        }
        workspace::WalkTool& tool = m_workspace->Walk();
        if (!tool.StartPlanned(points, speed)) {
            reason = "walk: a survey point or a walk is under way";
            return false;
        }
        while (tool.Walking()) {
            RunEventsFor(5);
        }
        Print("WALK " + std::to_string(tool.LastPoints()) + " points, " +
              std::to_string(tool.LastDropped()) + " scans dropped, " +
              std::to_string(tool.LastFailed()) + " failed" +
              (tool.LastFailed() > 0 ? ": " + tool.LastFailure() : std::string()));
        RunEventsFor(kSettleMs);
        WaitForOverlay();
        return true;
    }
    // The handheld frame: its points are named as its taps' are.
    m_view->SettlePendingPoint();
    ViewWalkSurvey survey(*m_view, [] { return std::string("TEST"); });
    walk::WalkEngine engine(*m_view->Scanner(), survey, m_view->MapScale().value_or(1));
    m_view->SetWalking(true);
    engine.StartPlanned(corners, speed);
    // Each pass waits on the scanner a fraction of a second at most; the
    // view's own messages are handled in between.
    while (engine.Poll() != walk::WalkState::kEnded) {
        QCoreApplication::processEvents();
        if (!engine.Scanning()) {
            RunEventsFor(20);  // waiting to try a failed scanner again
        }
    }
    m_view->SetWalking(false);
    Print("WALK " + std::to_string(engine.PointsTaken()) + " points, " +
          std::to_string(engine.ScansDropped()) + " scans dropped, " +
          std::to_string(engine.ScansFailed()) + " failed" +
          (engine.ScansFailed() > 0 ? ": " + engine.LastFailure() : std::string()));
    RunEventsFor(kSettleMs);
    WaitForOverlay();
    return true;
}

bool KestrowScriptHost::NewSite(const std::string& plan, const std::string& site, int page,
                                std::string& reason) {
    const auto absolute = [](const std::string& path) {
        return QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
    };
    m_newSite = NewSiteAnswer{absolute(plan), absolute(site), page, {}, false};
    m_command(ID_NEW_SITE);
    const NewSiteAnswer answer = *m_newSite;
    m_newSite.reset();
    RunEventsFor(0);
    if (!answer.created) {
        reason = "new-site: " + (answer.problem.empty() ? "no site made" : answer.problem);
        return false;
    }
    if (!m_sitePath || m_sitePath() != answer.site) {
        reason = "new-site: " + answer.site + " was made but could not be opened";
        return false;
    }
    return true;
}

bool KestrowScriptHost::Prepare(
    const std::function<bool(plan::SitePreparation&, std::string&)>& change, std::string& reason) {
    const std::string site = m_sitePath ? m_sitePath() : std::string();
    if (site.empty() || m_view->m_mapWidth <= 0) {
        reason = "open a site first";
        return false;
    }
    plan::SitePreparation prep;
    std::string damaged;
    prep.Load(site, m_view->m_mapWidth, m_view->m_mapHeight, damaged);
    if (!change(prep, reason)) {
        return false;
    }
    const std::string note = prep.TakeNote();
    if (!note.empty()) {
        platform::MessageBox(note, platform::kApplicationTitle,
                             platform::kMbOk | platform::kMbIconExclamation);
    }
    m_view->SetMapScale(prep.Meta().pixelsPerMetre);
    m_view->SetSurveyExtras(prep.Meta());
    m_view->SurveyChanged();
    RunEventsFor(0);
    return true;
}

// In the workspace each goes through its Site tools, as a person's would, and
// shows at once; the handheld frame has no tools and only stores them.
bool KestrowScriptHost::Scale(double x1, double y1, double x2, double y2, double metres,
                              std::string& reason) {
    if (m_workspace) {
        return Finish(
            m_workspace->Prep().SetScaleFromLine(QPointF(x1, y1), QPointF(x2, y2), metres, reason));
    }
    return Prepare(
        [&](plan::SitePreparation& prep, std::string& why) {
            return prep.SetScaleFromLine(x1, y1, x2, y2, metres, why);
        },
        reason);
}

bool KestrowScriptHost::AddWall(const sitefile::Wall& wall, std::string& reason) {
    if (m_workspace) {
        sitetools::SitePrepTools& tools = m_workspace->Prep();
        if (tools.Reviewing()) {
            reason = "wall: detected walls are under review (keep or discard them first)";
            return false;
        }
        return Finish(tools.AddWall(wall, reason));
    }
    return Prepare(
        [&](plan::SitePreparation& prep, std::string& why) { return prep.AddWall(wall, why); },
        reason);
}

bool KestrowScriptHost::DetectWalls(std::string& reason) {
    if (m_workspace) {
        // Detection proposes and the script accepts at once.
        sitetools::SitePrepTools& tools = m_workspace->Prep();
        return Finish(tools.DetectWalls(reason) && tools.KeepDetectedWalls(reason));
    }
    return Prepare(
        [&](plan::SitePreparation& prep, std::string& why) {
            sitefile::SiteFileReader reader;
            sitefile::OpenError error;
            sitefile::SiteMap map;
            if (!reader.Open(prep.SitePath(), error) || !reader.ReadMap(map, error)) {
                why = prep.SitePath() + ": " + error.Text();
                return false;
            }
            return prep.ReplaceWalls(
                plan::ProposeWalls(map, prep.Meta().pixelsPerMetre, sitefile::Material::kDrywall),
                why);
        },
        reason);
}

bool KestrowScriptHost::PlaceAccessPoint(const sitefile::MacBytes& bssid, double x, double y,
                                         std::string& reason) {
    if (m_workspace) {
        // Labelled with its network's name, as the window's chooser does.
        std::string label;
        for (const sitetools::HeardBssid& heard : sitetools::SitePrepTools::HeardBssids({x, y})) {
            if (heard.bssid == bssid) {
                label = heard.ssid;
            }
        }
        return Finish(m_workspace->Prep().PlaceAccessPoint(bssid, QPointF(x, y), label, reason));
    }
    return Prepare(
        [&](plan::SitePreparation& prep, std::string& why) {
            return prep.PlaceAccessPoint(bssid, x, y, std::string(), why);
        },
        reason);
}

bool KestrowScriptHost::Finish(bool done) {
    RunEventsFor(0);
    return done;
}
