#include "workspace/workspace_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QUndoStack>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "coverage/requirements.h"
#include "coverage/rssi_bands.h"
#include "edit/point_names.h"
#include "picture/coverage_image.h"
#include "platform/message_box.h"
#include "platform/qt/qt_window_handle.h"
#include "platform/text.h"
#include "sitetools/site_prep_tools.h"
#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/command_ids.h"
#include "view/kestrow_view.h"
#include "workspace/map_canvas.h"
#include "workspace/survey_panels.h"
#include "workspace/sweep_runner.h"
#include "workspace/walk_tool.h"

namespace workspace {

namespace {

constexpr const char* kOpenSiteFirst = "Open a site file first.";
const QString kGeometryKey = QStringLiteral("workspace/geometry");
const QString kStateKey = QStringLiteral("workspace/state");
// The live-scan panel is refilled at most this often while a sweep runs.
constexpr int kLiveScanRefreshMs = 100;

// The metric combo's entries, in order, as the view's overlays.
constexpr CKestrowView::Overlay kOverlays[] = {
    CKestrowView::Overlay::kOff,       CKestrowView::Overlay::kStrongest,
    CKestrowView::Overlay::kSecond,    CKestrowView::Overlay::kCount,
    CKestrowView::Overlay::kCochannel, CKestrowView::Overlay::kSnr,
    CKestrowView::Overlay::kPassFail};
const char* const kOverlayNames[] = {"Off",
                                     "Strongest signal",
                                     "Second strongest radio",
                                     "Radios at the threshold",
                                     "Co-channel radios",
                                     "Signal to noise",
                                     "Pass / fail of the profile"};

QIcon Icon(const char* name) {
    return QIcon(QStringLiteral(":/icons/ws/%1").arg(QLatin1String(name)));
}

// Changes whenever the survey does: a point taken, deleted, moved or
// renamed (FNV-1a over what the window shows of each record).
size_t SurveyFingerprint() {
    uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](const void* bytes, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            hash = (hash ^ static_cast<const uint8_t*>(bytes)[i]) * 1099511628211ull;
        }
    };
    const ApRecord* sentinel = g_surveyList.Sentinel();
    for (const ApRecord* r = sentinel->next; r != sentinel; r = r->next) {
        const int32_t place[2] = {r->x, r->y};
        const int16_t heard[2] = {r->rssi, r->channel};
        mix(place, sizeof place);
        mix(r->pointName, strnlen(r->pointName, sizeof r->pointName));
        mix(r->mac, sizeof r->mac);
        mix(heard, sizeof heard);
    }
    return static_cast<size_t>(hash);
}

}  // namespace

WorkspaceWindow::WorkspaceWindow(CKestrowView* core, CommandHandler commands, QWidget* parent)
    : QMainWindow(parent),
      m_core(core),
      m_commands(std::move(commands)),
      m_statusUpdateMessage(platform::RegisterWindowMessage("KORV_STATUS_UPDATE")) {
    setObjectName(QStringLiteral("WorkspaceWindow"));
    setDockNestingEnabled(true);
    // The view keeps the site's map, overlay and scanner; the canvas shows them.
    m_core->setParent(this);
    m_core->hide();
    m_core->SetCirclesInMap(false);
    m_canvas = new MapCanvas(*m_core, this);
    setCentralWidget(m_canvas);
    m_sweep = new SweepRunner(*m_core, this);
    m_walk = new WalkTool(
        *m_core,
        [this] { return m_edits.nextPointName ? m_edits.nextPointName() : NextNumericName(); },
        this);

    m_canvas->onTap = [this](int32_t x, int32_t y) { Click(x, y); };
    m_canvas->onDoubleTap = [this](int32_t x, int32_t y) {
        if (m_walk->Walking()) {
            m_walk->End();  // its first click marked the last corner
        } else {
            Click(x, y);
        }
    };
    m_canvas->onHold = [this](int32_t x, int32_t y, QPoint) { OpenPointAt(x, y); };
    m_canvas->onSelect = [this](int32_t x, int32_t y) { SelectPointAt(x, y); };
    m_canvas->onCursor = [this](std::optional<QPointF> at) {
        ShowCursor(at);
        m_walk->PointerAt(at);
    };
    m_canvas->onEscape = [this] { CancelSweep(); };
    m_core->SetRepaintHook([this] { Refresh(); });
    connect(m_walk, &WalkTool::Changed, this, &WorkspaceWindow::ShowWalk);
    connect(m_walk, &WalkTool::Ended, this, [this] {
        statusBar()->showMessage(m_walk->Summary(), 10000);
        SetWalkTool(false);
        Refresh();
    });
    connect(m_sweep, &SweepRunner::Progressed, this, [this] {
        static QElapsedTimer shown;
        if (!shown.isValid() || shown.elapsed() >= kLiveScanRefreshMs) {
            shown.restart();
            ShowSweepProgress();
        }
    });
    connect(m_sweep, &SweepRunner::Finished, this, [this](bool) {
        m_canvas->SetSweeping(std::nullopt);
        ShowSweepProgress();
        Refresh();
    });

    BuildDocks();
    BuildMenus();
    BuildStatusBar();
    SetEditHooks(SurveyEditHooks{});
    m_prep = new sitetools::SitePrepTools(*this, *m_canvas, *m_core);
    m_canvas->drawOverPlan = [this](QPainter& painter, QSize size) { m_prep->Draw(painter, size); };
    UpdateTitle();
}

WorkspaceWindow::~WorkspaceWindow() {
    m_walk->Finish();
    m_core->SetRepaintHook(nullptr);
    // The site tools watch the canvas's events: gone before the canvas is,
    // which as the window's older child is destroyed first.
    m_canvas->drawOverPlan = nullptr;
    delete m_prep;
    m_prep = nullptr;
}

QDockWidget* WorkspaceWindow::AddDock(const QString& title, const QString& name, QWidget* panel,
                                      Qt::DockWidgetArea area) {
    auto* dock = new QDockWidget(title, this);
    dock->setObjectName(name);
    dock->setWidget(panel);
    addDockWidget(area, dock);
    return dock;
}

void WorkspaceWindow::BuildDocks() {
    m_liveScan = new LiveScanPanel(this);
    m_accessPoints = new AccessPointsPanel(this);
    m_pointPanel = new PointPanel(this);
    m_overlayPanel = new OverlayPanel(this);
    QDockWidget* live = AddDock(tr("Live scan"), QStringLiteral("LiveScanDock"), m_liveScan,
                                Qt::RightDockWidgetArea);
    QDockWidget* point =
        AddDock(tr("Point"), QStringLiteral("PointDock"), m_pointPanel, Qt::RightDockWidgetArea);
    QDockWidget* aps = AddDock(tr("Access points"), QStringLiteral("AccessPointsDock"),
                               m_accessPoints, Qt::RightDockWidgetArea);
    QDockWidget* overlay = AddDock(tr("Overlay"), QStringLiteral("OverlayDock"), m_overlayPanel,
                                   Qt::RightDockWidgetArea);
    tabifyDockWidget(live, point);
    live->raise();
    tabifyDockWidget(aps, overlay);
    aps->raise();

    m_pointPanel->onDelete = [this] { DeleteSelected(); };
    connect(m_accessPoints, &AccessPointsPanel::SelectionChanged, this,
            &WorkspaceWindow::ApplyOverlay);
    connect(m_overlayPanel, &OverlayPanel::Changed, this, &WorkspaceWindow::ApplyOverlay);
}

void WorkspaceWindow::BuildMenus() {
    auto command = [this](int id) { return [this, id] { AfterWalk(id); }; };
    QToolBar* tools = addToolBar(tr("Tools"));
    tools->setObjectName(QStringLiteral("ToolsBar"));
    tools->setIconSize(QSize(24, 24));
    auto add = [this](QMenu* menu, const char* icon, const QString& text, const QString& tip,
                      auto&& slot) {
        QAction* action = menu->addAction(text, this, slot);
        if (icon) {
            action->setIcon(Icon(icon));
        }
        action->setToolTip(tip);
        action->setStatusTip(tip);
        return action;
    };

    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* newSite =
        add(file, "new_site", tr("&New Site from Floor Plan…"),
            tr("Make a new site from a floor plan (picture, SVG or PDF)"), command(ID_NEW_SITE));
    newSite->setShortcut(QKeySequence::New);
    QAction* open = add(file, "open", tr("&Open…"),
                        tr("Open a site file, or a floor plan to make a site of (Ctrl+O)"),
                        command(ID_OPEN_SITE));
    open->setShortcut(QKeySequence::Open);
    QAction* save = add(file, "save", tr("&Save"), tr("Sign off and save the survey (Ctrl+S)"),
                        command(ID_SAVE_SITE));
    save->setShortcut(QKeySequence::Save);
    m_saveAs =
        add(file, "save_as", tr("Save &As…"),
            tr("Save the survey as another site file, its sidecar with it"), [this] { SaveAs(); });
    m_saveAs->setShortcut(QKeySequence::SaveAs);
    file->addSeparator();
    m_export = add(file, "report", tr("&Export Report…"),
                   tr("Write the survey report (PDF or HTML), as ksf report does"),
                   [this] { ExportReport(); });
    file->addSeparator();
    QAction* quit = add(file, nullptr, tr("&Quit"), tr("Close Kestrow"), [this] { close(); });
    quit->setShortcut(QKeySequence::Quit);

    m_editMenu = menuBar()->addMenu(tr("&Edit"));
    m_undo = add(m_editMenu, "undo", tr("&Undo"), tr("Undo the last change to the survey"), [this] {
        if (m_edits.undoStack) {
            m_edits.undoStack->undo();
        }
    });
    m_undo->setShortcut(QKeySequence::Undo);
    m_redo = add(m_editMenu, "redo", tr("&Redo"), tr("Redo the change undone last"), [this] {
        if (m_edits.undoStack) {
            m_edits.undoStack->redo();
        }
    });
    m_redo->setShortcut(QKeySequence::Redo);
    m_editMenu->addSeparator();
    QAction* rename = add(m_editMenu, nullptr, tr("Re&name Point…"),
                          tr("Give the selected point another name"), [this] { RenameSelected(); });
    rename->setShortcut(QKeySequence(Qt::Key_F2));
    QAction* remove = add(m_editMenu, nullptr, tr("&Delete Point"), tr("Delete the selected point"),
                          [this] { DeleteSelected(); });
    remove->setShortcut(QKeySequence::Delete);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    auto centre = [this] { return QPointF(m_canvas->width() / 2.0, m_canvas->height() / 2.0); };
    QAction* zoomIn = add(view, "zoom_in", tr("Zoom &In"), tr("Zoom in (+, or the wheel)"),
                          [this, centre] { m_canvas->ZoomAt(centre(), 1); });
    zoomIn->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::Key_Plus)});
    QAction* zoomOut = add(view, "zoom_out", tr("Zoom &Out"), tr("Zoom out (-, or the wheel)"),
                           [this, centre] { m_canvas->ZoomAt(centre(), -1); });
    zoomOut->setShortcuts({QKeySequence::ZoomOut, QKeySequence(Qt::Key_Minus)});
    QAction* fit = add(view, "fit", tr("&Fit the Plan"), tr("Show the whole plan (0)"),
                       [this] { m_canvas->FitToWindow(); });
    fit->setShortcuts({QKeySequence(Qt::Key_0), QKeySequence(Qt::CTRL | Qt::Key_0)});
    view->addSeparator();
    QMenu* overlays = view->addMenu(Icon("overlay"), tr("&Overlay"));
    m_overlayGroup = new QActionGroup(this);
    for (int i = 0; i < static_cast<int>(std::size(kOverlayNames)); ++i) {
        QAction* action = overlays->addAction(tr(kOverlayNames[i]));
        action->setCheckable(true);
        action->setChecked(i == 0);
        action->setData(i);
        m_overlayGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, i] { ShowOverlay(i); });
    }
    QAction* cycle = add(view, "overlay", tr("Next Overlay"),
                         tr("Coverage overlay: off, strongest signal, pass/fail (O)"), [this] {
                             const int now = m_overlayPanel->MetricIndex();
                             ShowOverlay(now == 0 ? 1 : now == 1 ? 6 : 0);
                         });
    cycle->setShortcut(QKeySequence(Qt::Key_O));
    view->addSeparator();
    QMenu* panels = view->addMenu(tr("&Panels"));
    for (QDockWidget* dock : findChildren<QDockWidget*>()) {
        panels->addAction(dock->toggleViewAction());
    }

    QMenu* survey = menuBar()->addMenu(tr("&Survey"));
    m_scannerAction = survey->addAction(tr("Scanner: none"));
    m_scannerAction->setEnabled(false);
    m_scannerAction->setToolTip(
        tr("Start kestrow with --wifi, --wifi-replay, --port or --simulate for another scanner"));
    m_scansMenu = survey->addMenu(tr("Scans per &Point"));
    m_scansMenu->setToolTipsVisible(true);
    SetScanner(tr("none"), 1, nullptr);
    QAction* cancel =
        add(survey, nullptr, tr("&Cancel Survey Point"),
            tr("Stop the point being taken; nothing is recorded (Esc)"), [this] { CancelSweep(); });
    cancel->setShortcut(QKeySequence(Qt::Key_Escape));
    cancel->setShortcutContext(Qt::WindowShortcut);

    survey->addSeparator();
    m_walkAction = survey->addAction(tr("&Walk"), this, [this](bool on) { SetWalkTool(on); });
    m_walkAction->setIcon(Icon("walk"));
    m_walkAction->setToolTip(tr("A walking survey along a path (W)"));
    m_walkAction->setCheckable(true);
    m_walkAction->setShortcut(QKeySequence(Qt::Key_W));
    m_walkAction->setStatusTip(
        tr("Scan while walking: click where you start and at every turn, double-click or Esc "
           "at the end"));
    m_pauseAction = survey->addAction(tr("&Pause Walk"), this, [this] { m_walk->TogglePause(); });
    m_pauseAction->setShortcut(QKeySequence(Qt::Key_P));
    m_pauseAction->setEnabled(false);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QAction* guide = add(help, "guide", tr("Surveyor's &Guide"),
                         tr("Open the surveyor's guide (F1)"), [this] { ShowGuide(); });
    guide->setShortcut(QKeySequence::HelpContents);
    add(help, nullptr, tr("&About Kestrow"), tr("About Kestrow"), command(ID_ABOUT));

    for (QAction* action : {newSite, open, save, m_saveAs}) {
        tools->addAction(action);
    }
    tools->addSeparator();
    tools->addAction(m_undo);
    tools->addAction(m_redo);
    tools->addSeparator();
    for (QAction* action : {zoomIn, zoomOut, fit, cycle}) {
        tools->addAction(action);
    }
    tools->addAction(m_walkAction);
    tools->addSeparator();
    tools->addAction(m_export);
    tools->addAction(guide);
}

void WorkspaceWindow::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    const char* initial[kPaneCount] = {"L: 0", "P: 0", "X: 0", "Y: 0"};
    m_cursorLabel = new QLabel(bar);
    m_cursorLabel->setObjectName(QStringLiteral("cursor"));
    m_cursorLabel->setMinimumWidth(130);
    m_cursorLabel->setToolTip(tr("Where the cursor is on the plan"));
    m_sweepLabel = new QLabel(bar);
    m_sweepLabel->setObjectName(QStringLiteral("sweep"));
    bar->addWidget(m_sweepLabel, 1);
    bar->addPermanentWidget(m_cursorLabel);
    const char* tips[kPaneCount] = {"Survey points taken", "Access-point records",
                                    "Last point's column", "Last point's row"};
    for (int i = 0; i < kPaneCount; ++i) {
        m_panes[i] = new QLabel(QString::fromLatin1(initial[i]), bar);
        m_panes[i]->setObjectName(QStringLiteral("pane%1").arg(i));
        m_panes[i]->setMinimumWidth(60);
        m_panes[i]->setToolTip(tr(tips[i]));
        bar->addPermanentWidget(m_panes[i]);
    }
}

void WorkspaceWindow::SetEditHooks(SurveyEditHooks hooks) {
    m_edits = std::move(hooks);
    if (m_edits.undoStack) {
        connect(m_edits.undoStack, &QUndoStack::canUndoChanged, this,
                &WorkspaceWindow::UpdateActions);
        connect(m_edits.undoStack, &QUndoStack::canRedoChanged, this,
                &WorkspaceWindow::UpdateActions);
        connect(m_edits.undoStack, &QUndoStack::indexChanged, this, [this] { Refresh(); });
    }
    m_canvas->onMove = nullptr;
    if (m_edits.movePoint) {
        m_canvas->onMove = [this](int32_t x, int32_t y, int32_t toX, int32_t toY) {
            std::string error;
            if (!m_edits.movePoint(x, y, toX, toY, error) && !error.empty()) {
                statusBar()->showMessage(QString::fromStdString(error), 5000);
            } else if (m_selected && m_selected->x() == x && m_selected->y() == y) {
                m_selected = QPoint(toX, toY);
            }
            Refresh();
        };
    }
    m_pointPanel->onRename =
        m_edits.renamePoint ? std::function<void()>([this] { RenameSelected(); }) : nullptr;
    UpdateActions();
}

void WorkspaceWindow::UpdateActions() {
    m_undo->setEnabled(m_edits.undoStack && m_edits.undoStack->canUndo());
    m_redo->setEnabled(m_edits.undoStack && m_edits.undoStack->canRedo());
    m_saveAs->setEnabled(static_cast<bool>(m_edits.saveAs));
    m_export->setEnabled(static_cast<bool>(m_edits.exportReport));
}

void WorkspaceWindow::SetScanner(const QString& description, int scansPerPoint,
                                 std::function<void(int)> setScans) {
    m_scannerAction->setText(tr("Scanner: %1").arg(description));
    m_scansMenu->clear();
    auto* group = new QActionGroup(m_scansMenu);
    std::vector<int> choices = {1, 2, 3, 5, 10};
    if (std::find(choices.begin(), choices.end(), scansPerPoint) == choices.end()) {
        choices.insert(std::lower_bound(choices.begin(), choices.end(), scansPerPoint),
                       scansPerPoint);
    }
    for (const int n : choices) {
        QAction* choice = m_scansMenu->addAction(n == 1 ? tr("1 scan") : tr("%1 scans").arg(n));
        choice->setCheckable(true);
        choice->setChecked(n == scansPerPoint);
        choice->setActionGroup(group);
        choice->setEnabled(static_cast<bool>(setScans));
        choice->setToolTip(setScans ? tr("Merge %1 scans into each survey point: steadier "
                                         "levels, a longer wait at each point")
                                          .arg(n)
                                    : tr("This scanner takes one sweep a point"));
        connect(choice, &QAction::triggered, this, [setScans, n] { setScans(n); });
    }
}

void WorkspaceWindow::SetStartProfile(const std::string& name) {
    m_profileShown = name;
}

std::string WorkspaceWindow::NextNumericName() {
    std::vector<std::string> names;
    const ApRecord* sentinel = g_surveyList.Sentinel();
    for (const ApRecord* r = sentinel->next; r != sentinel; r = r->next) {
        names.emplace_back(r->pointName, strnlen(r->pointName, sizeof r->pointName));
    }
    return edit::NextPointName(names);
}

void WorkspaceWindow::AfterWalk(int command) {
    // An open or a save takes the walk's last scan first.
    m_walk->Finish();
    if (m_commands) {
        m_commands(command);
    }
    Refresh();
}

void WorkspaceWindow::SetWalkTool(bool on) {
    if (!on && m_walk->Walking()) {
        m_walk->End();
        return;  // the tool goes off once the walk has ended
    }
    m_walkAction->setChecked(on);
    ShowWalk();
}

bool WorkspaceWindow::WalkToolOn() const {
    return m_walkAction->isChecked();
}

void WorkspaceWindow::Click(int32_t x, int32_t y) {
    if (m_walk->Walking()) {
        m_walk->Turn(QPointF(x, y));
    } else if (!WalkToolOn()) {
        TakePointAt(x, y);
    } else if (m_sweep->IsRunning()) {
        statusBar()->showMessage(tr("A survey point is being taken; Esc cancels it."), 3000);
    } else if (!m_core->SiteLoaded()) {
        platform::MessageBox(kOpenSiteFirst, platform::kApplicationTitle,
                             platform::kMbOk | platform::kMbIconExclamation);
    } else {
        m_walk->Start(QPointF(x, y));
    }
}

void WorkspaceWindow::ShowWalk() {
    m_canvas->SetWalkPath(m_walk->Corners(), m_walk->Pointer());
    m_pauseAction->setEnabled(m_walk->Walking());
    if (m_walk->Walking()) {
        m_sweepLabel->setText(m_walk->StatusText());
    } else if (WalkToolOn()) {
        m_sweepLabel->setText(tr("Walk: click where you start"));
    } else if (!m_sweep->IsRunning()) {
        m_sweepLabel->clear();
    }
}

bool WorkspaceWindow::TakePointAt(int32_t x, int32_t y) {
    if (m_walk->Walking()) {
        return false;
    }
    if (m_sweep->IsRunning()) {
        statusBar()->showMessage(tr("A survey point is being taken; Esc cancels it."), 3000);
        return false;
    }
    if (!m_core->SiteLoaded()) {
        platform::MessageBox(kOpenSiteFirst, platform::kApplicationTitle,
                             platform::kMbOk | platform::kMbIconExclamation);
        return false;
    }
    const std::string name = m_edits.nextPointName ? m_edits.nextPointName() : NextNumericName();
    if (!m_sweep->Start(x, y, name)) {
        return false;
    }
    m_canvas->SetSweeping(QPoint(m_sweep->PointX(), m_sweep->PointY()));
    findChild<QDockWidget*>(QStringLiteral("LiveScanDock"))->raise();
    ShowSweepProgress();
    return true;
}

void WorkspaceWindow::SelectPointAt(int32_t x, int32_t y) {
    if (!g_siteHeader || g_siteHeader->SelectPointNear(x, y) == 0) {
        m_selected.reset();
    } else {
        m_selected = QPoint(static_cast<int>(std::lround(g_siteHeader->m_selX)),
                            static_cast<int>(std::lround(g_siteHeader->m_selY)));
        findChild<QDockWidget*>(QStringLiteral("PointDock"))->raise();
    }
    ShowSelectedPoint();
}

void WorkspaceWindow::ShowSelectedPoint() {
    m_canvas->SetSelection(m_selected);
    if (!m_selected || !g_siteHeader ||
        g_siteHeader->SelectPointNear(m_selected->x(), m_selected->y()) == 0 ||
        std::lround(g_siteHeader->m_selX) != m_selected->x() ||
        std::lround(g_siteHeader->m_selY) != m_selected->y()) {
        m_selected.reset();
        m_canvas->SetSelection(std::nullopt);
        m_pointPanel->Show(QString(), {});
        return;
    }
    // The point's name as stored, and where it is.
    const ApRecord* r = g_surveyList.Sentinel()->next;
    for (int32_t i = 1; i < g_siteHeader->m_selFirstIndex; ++i) {
        r = r->next;
    }
    const std::string name =
        platform::TextFromBytes(r->pointName, strnlen(r->pointName, sizeof r->pointName));
    const std::vector<HeardEntry> heard = HeardAtSelection(m_core->SurveyExtras());
    QString where = tr("(%1, %2) px").arg(m_selected->x()).arg(m_selected->y());
    const std::optional<double> scale = m_core->MapScale();
    if (scale && *scale > 0) {
        where = tr("(%1 m, %2 m)")
                    .arg(m_selected->x() / *scale, 0, 'f', 1)
                    .arg(m_selected->y() / *scale, 0, 'f', 1);
    }
    m_pointPanel->Show(
        tr("Point %1 at %2: %n access point(s) heard", nullptr, static_cast<int>(heard.size()))
            .arg(QString::fromStdString(name), where),
        heard);
}

bool WorkspaceWindow::OpenPointAt(int32_t x, int32_t y) {
    SelectPointAt(x, y);
    if (!m_selected) {
        return false;
    }
    const bool shown = m_core->HoldAtMap(x, y);
    Refresh();
    ShowSelectedPoint();
    return shown;
}

void WorkspaceWindow::DeleteSelected() {
    if (!m_selected) {
        return;
    }
    if (m_edits.deletePoint) {
        std::string error;
        if (!m_edits.deletePoint(m_selected->x(), m_selected->y(), error) && !error.empty()) {
            statusBar()->showMessage(QString::fromStdString(error), 5000);
        }
    } else {
        // The handheld's way: its point dialog, whose delete button deletes.
        m_core->HoldAtMap(m_selected->x(), m_selected->y());
    }
    Refresh();
    ShowSelectedPoint();
}

void WorkspaceWindow::RenameSelected() {
    if (!m_selected || !m_edits.renamePoint) {
        return;
    }
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("Rename Point"), tr("New name:"),
                                               QLineEdit::Normal, QString(), &ok);
    if (!ok) {
        return;
    }
    std::string error;
    if (!m_edits.renamePoint(m_selected->x(), m_selected->y(), name.toStdString(), error) &&
        !error.empty()) {
        platform::MessageBox(error, platform::kApplicationTitle,
                             platform::kMbOk | platform::kMbIconExclamation);
    }
    Refresh();
    ShowSelectedPoint();
}

void WorkspaceWindow::SaveAs() {
    if (!m_edits.saveAs) {
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Site As"), QString(),
                                                      tr("Site files (*.ksf);;All files (*)"));
    if (!path.isEmpty()) {
        m_edits.saveAs(path.toStdString());
        Refresh();
    }
}

void WorkspaceWindow::ExportReport() {
    if (!m_edits.exportReport) {
        return;
    }
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export Report"), QString(), tr("PDF (*.pdf);;HTML (*.html);;All files (*)"));
    if (path.isEmpty()) {
        return;
    }
    std::string error;
    if (!m_edits.exportReport(path.toStdString(), error)) {
        platform::MessageBox(error.empty() ? "The report could not be written." : error,
                             platform::kApplicationTitle,
                             platform::kMbOk | platform::kMbIconExclamation);
    } else {
        statusBar()->showMessage(tr("Report written to %1").arg(path), 5000);
    }
}

void WorkspaceWindow::CancelSweep() {
    if (m_walk->Walking()) {
        m_walk->End();
        return;
    }
    if (WalkToolOn()) {
        SetWalkTool(false);
        return;
    }
    if (m_sweep->IsRunning()) {
        m_sweep->Cancel();
        statusBar()->showMessage(tr("Survey point cancelled: nothing was recorded."), 5000);
    } else if (m_core->CancelCoverage()) {
        ShowOverlay(0);  // a long computation of the overlay, abandoned
    }
}

void WorkspaceWindow::ShowSweepProgress() {
    const bool running = m_sweep->IsRunning();
    m_liveScan->Update(m_sweep->Progress(), running, m_core->SurveyExtras());
    if (running) {
        m_sweepLabel->setText(tr("Taking survey point at (%1, %2)… %3 (Esc cancels)")
                                  .arg(m_sweep->PointX())
                                  .arg(m_sweep->PointY())
                                  .arg(QString::fromStdString(m_sweep->Progress())));
    } else {
        m_sweepLabel->clear();
    }
}

void WorkspaceWindow::ShowCursor(std::optional<QPointF> at) {
    if (!at) {
        m_cursorLabel->clear();
        return;
    }
    const std::optional<double> scale = m_core->MapScale();
    if (scale && *scale > 0) {
        m_cursorLabel->setText(
            tr("%1 m, %2 m").arg(at->x() / *scale, 0, 'f', 1).arg(at->y() / *scale, 0, 'f', 1));
    } else {
        m_cursorLabel->setText(tr("%1, %2 px")
                                   .arg(static_cast<int>(std::floor(at->x())))
                                   .arg(static_cast<int>(std::floor(at->y()))));
    }
}

void WorkspaceWindow::ShowOverlay(int metricIndex) {
    if (metricIndex < 0 || metricIndex >= static_cast<int>(std::size(kOverlays))) {
        return;
    }
    if (m_overlayPanel->MetricIndex() != metricIndex) {
        m_overlayPanel->SetMetricIndex(metricIndex);  // applies it
    } else {
        ApplyOverlay();
    }
}

void WorkspaceWindow::ApplyOverlay() {
    const int index = m_overlayPanel->MetricIndex();
    const std::string profileName = m_overlayPanel->ProfileName();
    if (!m_profileShown.empty() && profileName != m_profileShown) {
        coverage::Profile profile;
        if (coverage::BuiltInProfile(profileName, profile)) {
            m_core->SetProfile(profile);
        }
    }
    m_profileShown = profileName;
    coverage::ApFilter filter;
    bool all = true;
    const std::vector<coverage::Bssid> checked = m_accessPoints->Checked(all);
    if (!all) {
        filter.bssids = checked;
        if (checked.empty()) {
            filter.bssids.push_back(coverage::Bssid{});  // none: nothing is mapped
        }
    }
    filter.bands = m_overlayPanel->Bands();
    m_core->SetOverlayChoices(m_overlayPanel->ThresholdDbm(), filter);
    m_core->SetOverlay(kOverlays[index]);
    m_overlayShown = index;
    for (QAction* action : m_overlayGroup->actions()) {
        action->setChecked(action->data().toInt() == index);
    }
    UpdateLegend();
    Refresh();
}

// The legend's rows: the colours the overlay's cells take, with their range.
void WorkspaceWindow::UpdateLegend() {
    using coverage::Metric;
    const CKestrowView::Overlay overlay = kOverlays[m_overlayShown];
    std::vector<MapCanvas::LegendRow> rows;
    QString title;
    auto row = [&](Metric metric, float value, const QString& label) {
        rows.push_back({picture::CellColour(metric, value) & 0xFFFFFFu, label});
    };
    const int threshold = m_overlayPanel->ThresholdDbm();
    switch (overlay) {
        case CKestrowView::Overlay::kOff:
            break;
        case CKestrowView::Overlay::kStrongest:
        case CKestrowView::Overlay::kSecond: {
            const Metric metric =
                overlay == CKestrowView::Overlay::kStrongest ? Metric::kStrongest : Metric::kSecond;
            title = overlay == CKestrowView::Overlay::kStrongest
                        ? tr("Strongest signal (dBm)")
                        : tr("Second strongest radio (dBm)");
            for (int i = 0; i < kRssiBandCount; ++i) {
                const int floor = kRssiBands[i].above;
                QString label = i == 0 ? tr("above %1").arg(floor)
                                : i == kRssiBandCount - 1
                                    ? tr("%1 and below").arg(kRssiBands[i - 1].above)
                                    : tr("%1 to %2").arg(floor + 1).arg(kRssiBands[i - 1].above);
                row(metric, i == kRssiBandCount - 1 ? -95.0f : floor + 1.0f, label);
            }
            break;
        }
        case CKestrowView::Overlay::kCount:
        case CKestrowView::Overlay::kCochannel: {
            const Metric metric =
                overlay == CKestrowView::Overlay::kCount ? Metric::kCount : Metric::kCochannel;
            title = overlay == CKestrowView::Overlay::kCount
                        ? tr("Radios at %1 dBm or above (radios)").arg(threshold)
                        : tr("Co-channel radios at %1 dBm (radios)").arg(threshold);
            for (int n = 0; n <= 5; ++n) {
                row(metric, static_cast<float>(n), n == 5 ? tr("5 or more") : QString::number(n));
            }
            break;
        }
        case CKestrowView::Overlay::kSnr: {
            title = tr("Signal to noise (dB)");
            for (int i = 0; i < kRssiBandCount; ++i) {
                const int floor = i < kRssiBandCount - 1 ? kSnrBandFloorsDb[i] : 0;
                QString label = i == 0 ? tr("%1 and above").arg(floor)
                                : i == kRssiBandCount - 1
                                    ? tr("below %1").arg(kSnrBandFloorsDb[i - 1])
                                    : tr("%1 to %2").arg(floor).arg(kSnrBandFloorsDb[i - 1] - 1);
                row(Metric::kSnr, static_cast<float>(i == kRssiBandCount - 1 ? 0 : floor), label);
            }
            break;
        }
        case CKestrowView::Overlay::kPassFail: {
            const coverage::Profile* profile = m_core->CurrentProfile();
            title =
                tr("Profile %1")
                    .arg(QString::fromStdString(profile ? profile->name : std::string("voice")));
            rows.push_back({picture::kPassColour & 0xFFFFFFu, tr("meets it")});
            rows.push_back({picture::kFailColour & 0xFFFFFFu, tr("fails it")});
            break;
        }
    }
    m_canvas->SetLegend(title, std::move(rows));
}

void WorkspaceWindow::Refresh() {
    bool repaint = false;
    if (m_core->MapLoadCount() != m_shownMapLoad) {
        m_shownMapLoad = m_core->MapLoadCount();
        m_canvas->MapOpened();
        m_walk->Forget();
        ShowWalk();
        m_selected.reset();
        m_shownRecords = static_cast<size_t>(-1);
        repaint = true;
    }
    if (m_core->MapGeneration() != m_shownMapGeneration) {
        m_shownMapGeneration = m_core->MapGeneration();
        repaint = true;
    }
    // The survey changed: its circles, the panels that list it. The scanner's
    // messages during a sweep change neither, and repaint nothing here.
    const size_t records = SurveyFingerprint();
    if (records != m_shownRecords) {
        m_shownRecords = records;
        m_canvas->SurveyChanged();
        m_accessPoints->Rebuild(SiteAccessPoints(m_core->SurveyExtras()));
        m_prep->SurveyChanged();
        if (m_selected) {
            ShowSelectedPoint();
        }
        repaint = true;
    }
    // Another site: its sidecar's scale, walls and access points (the tools
    // repaint what they change).
    m_prep->SiteShown(m_sitePath ? m_sitePath() : std::string(), m_core->m_mapWidth,
                      m_core->m_mapHeight, m_shownMapLoad);
    if (repaint) {
        m_canvas->update();
    }
    UpdateTitle();
}

void WorkspaceWindow::UpdateTitle() {
    const std::string path = m_sitePath ? m_sitePath() : std::string();
    const QString name =
        path.empty() ? tr("No site open") : QFileInfo(QString::fromStdString(path)).fileName();
    setWindowTitle(name + QStringLiteral("[*] — Kestrow"));
    setWindowModified(m_modifiedQuery && m_modifiedQuery());
}

QString WorkspaceWindow::GuidePath() {
    const QString dir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        dir + QStringLiteral("/../share/doc/kestrow/guide.md"),
#ifdef KESTROW_SOURCE_DIR
        QStringLiteral(KESTROW_SOURCE_DIR "/docs/guide.md"),
#endif
    };
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate)) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return QString();
}

bool WorkspaceWindow::ShowGuide() {
    const QString path = GuidePath();
    if (path.isEmpty()) {
        platform::MessageBox(
            "The surveyor's guide is not installed: it is looked for in "
            "share/doc/kestrow/guide.md beside the program.",
            platform::kApplicationTitle, platform::kMbOk | platform::kMbIconExclamation);
        return false;
    }
    if (!m_guide) {
        auto* window = new QDialog(this, Qt::Window);
        window->setObjectName(QStringLiteral("GuideWindow"));
        window->setWindowTitle(tr("Kestrow — Surveyor's Guide"));
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        m_guide = new QTextBrowser(window);
        m_guide->setOpenExternalLinks(false);
        m_guide->setOpenLinks(true);
        layout->addWidget(m_guide);
        window->resize(900, 760);
        m_guide->setSource(QUrl::fromLocalFile(path), QTextDocument::MarkdownResource);
    }
    m_guide->window()->show();
    m_guide->window()->raise();
    return true;
}

QString WorkspaceWindow::PaneText(int pane) const {
    return pane >= 0 && pane < kPaneCount ? m_panes[pane]->text() : QString();
}

void WorkspaceWindow::RestoreLayout(std::optional<QSize> canvasSize, bool remembered) {
    QSettings settings;
    const bool restored = remembered &&
                          restoreGeometry(settings.value(kGeometryKey).toByteArray()) &&
                          restoreState(settings.value(kStateKey).toByteArray());
    if (!restored) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
        resize(available.size() * 0.85);
        move(available.center() - rect().center());
        // The panels a third of the window: SSIDs and BSSIDs read in full.
        QList<QDockWidget*> docks = findChildren<QDockWidget*>();
        QList<int> widths;
        for (int i = 0; i < docks.size(); ++i) {
            widths << std::max(420, width() / 3);
        }
        resizeDocks(docks, widths, Qt::Horizontal);
    }
    if (canvasSize) {
        // The canvas is sized exactly, whatever the docks take.
        for (int attempt = 0; attempt < 4; ++attempt) {
            QCoreApplication::processEvents();
            const QSize now = m_canvas->size();
            if (now == *canvasSize) {
                break;
            }
            resize(size() + (*canvasSize - now));
        }
    }
}

void WorkspaceWindow::SaveLayout() const {
    QSettings settings;
    settings.setValue(kGeometryKey, saveGeometry());
    settings.setValue(kStateKey, saveState());
}

void WorkspaceWindow::StatusUpdate(uintptr_t wParam, intptr_t lParam) {
    char text[64];
    if (g_siteHeader) {
        std::snprintf(text, sizeof text, "L: %d", g_siteHeader->m_pointCount);
        m_panes[0]->setText(QString::fromLatin1(text));
        std::snprintf(text, sizeof text, "P: %d", g_siteHeader->m_apCount);
        m_panes[1]->setText(QString::fromLatin1(text));
    }
    std::snprintf(text, sizeof text, "X: %d", static_cast<int16_t>(wParam & 0xFFFF));
    m_panes[2]->setText(QString::fromLatin1(text));
    std::snprintf(text, sizeof text, "Y: %d", static_cast<int16_t>(lParam & 0xFFFF));
    m_panes[3]->setText(QString::fromLatin1(text));
}

void WorkspaceWindow::customEvent(QEvent* event) {
    if (event->type() == platform::WindowMessageEvent::Type()) {
        auto* message = static_cast<platform::WindowMessageEvent*>(event);
        if (message->Message() == m_statusUpdateMessage) {
            StatusUpdate(message->WParam(), message->LParam());
            UpdateTitle();
        }
        return;
    }
    QMainWindow::customEvent(event);
}

void WorkspaceWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && (m_sweep->IsRunning() || WalkToolOn())) {
        CancelSweep();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void WorkspaceWindow::closeEvent(QCloseEvent* event) {
    m_walk->Finish();
    if (m_sweep->IsRunning()) {
        m_sweep->Cancel();
    }
    if (m_closeQuery && !m_closeQuery()) {
        event->ignore();
        return;
    }
    if (m_guide) {
        m_guide->window()->close();
    }
    QMainWindow::closeEvent(event);
}

}  // namespace workspace
