#include "workspace/workspace_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <cmath>
#include <cstdio>

#include "platform/message_box.h"
#include "platform/qt/qt_window_handle.h"
#include "sitetools/site_prep_tools.h"
#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/command_ids.h"
#include "view/kestrow_view.h"
#include "workspace/map_canvas.h"
#include "workspace/sweep_runner.h"

namespace workspace {

namespace {

constexpr const char* kOpenSiteFirst = "Open a site file first.";
const QString kGeometryKey = QStringLiteral("workspace/geometry");
const QString kStateKey = QStringLiteral("workspace/state");

}  // namespace

WorkspaceWindow::WorkspaceWindow(CKestrowView* core, CommandHandler commands, QWidget* parent)
    : QMainWindow(parent),
      m_core(core),
      m_commands(std::move(commands)),
      m_statusUpdateMessage(platform::RegisterWindowMessage("KORV_STATUS_UPDATE")) {
    setObjectName(QStringLiteral("WorkspaceWindow"));
    // The view keeps the site's map, overlay and scanner; the canvas shows them.
    m_core->setParent(this);
    m_core->hide();
    m_core->SetCirclesInMap(false);
    m_canvas = new MapCanvas(*m_core, this);
    setCentralWidget(m_canvas);
    m_sweep = new SweepRunner(*m_core, this);

    m_canvas->onTap = [this](int32_t x, int32_t y) { TakePointAt(x, y); };
    m_canvas->onHold = [this](int32_t x, int32_t y, QPoint) { OpenPointAt(x, y); };
    m_canvas->onCursor = [this](std::optional<QPointF> at) { ShowCursor(at); };
    m_canvas->onEscape = [this] { CancelSweep(); };
    m_core->SetRepaintHook([this] { Refresh(); });
    connect(m_sweep, &SweepRunner::Progressed, this, &WorkspaceWindow::ShowSweepProgress);
    connect(m_sweep, &SweepRunner::Finished, this, [this](bool) {
        m_canvas->SetSweeping(std::nullopt);
        ShowSweepProgress();
        Refresh();
    });

    BuildMenus();
    BuildStatusBar();
    m_prep = new sitetools::SitePrepTools(*this, *m_canvas, *m_core);
    m_canvas->drawOverPlan = [this](QPainter& painter, QSize size) { m_prep->Draw(painter, size); };
    UpdateTitle();
}

WorkspaceWindow::~WorkspaceWindow() {
    m_core->SetRepaintHook(nullptr);
}

void WorkspaceWindow::BuildMenus() {
    auto command = [this](int id) {
        return [this, id] {
            if (m_commands) {
                m_commands(id);
            }
            Refresh();
        };
    };
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&New Site from Floor Plan…"), this, command(ID_NEW_SITE))
        ->setShortcut(QKeySequence::New);
    QAction* open = file->addAction(tr("&Open…"), this, command(ID_OPEN_SITE));
    open->setShortcut(QKeySequence::Open);
    QAction* save = file->addAction(tr("&Save"), this, command(ID_SAVE_SITE));
    save->setShortcut(QKeySequence::Save);
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    QAction* zoomIn = view->addAction(tr("Zoom &In"), this, [this] {
        m_canvas->ZoomAt(QPointF(m_canvas->width() / 2.0, m_canvas->height() / 2.0), 1);
    });
    zoomIn->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::Key_Plus)});
    QAction* zoomOut = view->addAction(tr("Zoom &Out"), this, [this] {
        m_canvas->ZoomAt(QPointF(m_canvas->width() / 2.0, m_canvas->height() / 2.0), -1);
    });
    zoomOut->setShortcuts({QKeySequence::ZoomOut, QKeySequence(Qt::Key_Minus)});
    QAction* fit = view->addAction(tr("&Fit the Plan"), this, [this] { m_canvas->FitToWindow(); });
    fit->setShortcuts({QKeySequence(Qt::Key_0), QKeySequence(Qt::CTRL | Qt::Key_0)});

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&About Kestrow"), this, command(ID_ABOUT));
}

void WorkspaceWindow::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    const char* initial[kPaneCount] = {"L: 0", "P: 0", "X: 0", "Y: 0"};
    m_cursorLabel = new QLabel(bar);
    m_cursorLabel->setObjectName(QStringLiteral("cursor"));
    m_sweepLabel = new QLabel(bar);
    m_sweepLabel->setObjectName(QStringLiteral("sweep"));
    bar->addWidget(m_sweepLabel, 1);
    bar->addPermanentWidget(m_cursorLabel);
    for (int i = 0; i < kPaneCount; ++i) {
        m_panes[i] = new QLabel(QString::fromLatin1(initial[i]), bar);
        m_panes[i]->setObjectName(QStringLiteral("pane%1").arg(i));
        m_panes[i]->setMinimumWidth(60);
        bar->addPermanentWidget(m_panes[i]);
    }
}

std::string WorkspaceWindow::NextNumericName() {
    long long highest = 0;
    const ApRecord* sentinel = g_surveyList.Sentinel();
    for (const ApRecord* r = sentinel->next; r != sentinel; r = r->next) {
        char name[sizeof r->pointName + 1] = {};
        std::copy(r->pointName, r->pointName + sizeof r->pointName, name);
        char* end = nullptr;
        const long long number = std::strtoll(name, &end, 10);
        if (name[0] >= '0' && name[0] <= '9' && *end == '\0' && number > highest) {
            highest = number;
        }
    }
    return std::to_string(highest + 1);
}

bool WorkspaceWindow::TakePointAt(int32_t x, int32_t y) {
    if (m_sweep->IsRunning()) {
        statusBar()->showMessage(tr("A survey point is being taken; Esc cancels it."), 3000);
        return false;
    }
    if (!m_core->SiteLoaded()) {
        platform::MessageBox(kOpenSiteFirst, platform::kApplicationTitle,
                             platform::kMbOk | platform::kMbIconExclamation);
        return false;
    }
    const std::string name = m_pointNamer ? m_pointNamer() : NextNumericName();
    if (!m_sweep->Start(x, y, name)) {
        return false;
    }
    m_canvas->SetSweeping(QPoint(m_sweep->PointX(), m_sweep->PointY()));
    return true;
}

bool WorkspaceWindow::OpenPointAt(int32_t x, int32_t y) {
    if (!g_siteHeader || g_siteHeader->SelectPointNear(x, y) == 0) {
        m_canvas->SetSelection(std::nullopt);
        return false;
    }
    m_canvas->SetSelection(QPoint(static_cast<int>(std::lround(g_siteHeader->m_selX)),
                                  static_cast<int>(std::lround(g_siteHeader->m_selY))));
    const bool shown = m_core->HoldAtMap(x, y);
    Refresh();
    return shown;
}

void WorkspaceWindow::CancelSweep() {
    if (m_sweep->IsRunning()) {
        m_sweep->Cancel();
        statusBar()->showMessage(tr("Survey point cancelled: nothing was recorded."), 5000);
    }
}

void WorkspaceWindow::ShowSweepProgress() {
    if (m_sweep->IsRunning()) {
        m_sweepLabel->setText(tr("Taking a survey point… %1 (Esc cancels)")
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

void WorkspaceWindow::Refresh() {
    if (m_core->MapLoadCount() != m_shownMapLoad) {
        m_shownMapLoad = m_core->MapLoadCount();
        m_canvas->MapOpened();
    }
    m_prep->SiteShown(m_sitePath ? m_sitePath() : std::string(), m_core->m_mapWidth,
                      m_core->m_mapHeight, m_shownMapLoad);
    m_canvas->update();
    UpdateTitle();
}

void WorkspaceWindow::UpdateTitle() {
    const std::string path = m_sitePath ? m_sitePath() : std::string();
    const QString name =
        path.empty() ? tr("No site open") : QFileInfo(QString::fromStdString(path)).fileName();
    setWindowTitle(name + QStringLiteral("[*] — Kestrow"));
    setWindowModified(m_modifiedQuery && m_modifiedQuery());
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

QString WorkspaceWindow::PaneText(int pane) const {
    return pane >= 0 && pane < kPaneCount ? m_panes[pane]->text() : QString();
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
    if (event->key() == Qt::Key_Escape && m_sweep->IsRunning()) {
        CancelSweep();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void WorkspaceWindow::closeEvent(QCloseEvent* event) {
    if (m_sweep->IsRunning()) {
        m_sweep->Cancel();
    }
    if (m_closeQuery && !m_closeQuery()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

}  // namespace workspace
