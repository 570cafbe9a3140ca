#include "app/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPixmap>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdio>

#include "platform/qt/qt_window_handle.h"
#include "survey/site_header.h"
#include "view/command_ids.h"

namespace {

struct ToolButton {
    int command;
    const char* prompt;
};

// Left to right, one 16-pixel cell of the tool-bar strip each.
constexpr ToolButton kToolButtons[] = {
    {ID_OPEN_SITE, "Open a Site File"},
    {ID_SAVE_SITE, "Save a Site File"},
    {ID_COLOR_RANGES, "Color Ranges"},
    {ID_ZOOM_IN, "Zoom In"},
    {ID_ZOOM_OUT, "Zoom Out"},
    {ID_HELP, "Help"},
    {ID_ABOUT, "About"},
};

// The tool-tip strings are handed to the bar as one list of six, which lands
// on the first six buttons in order; the seventh gets none.
constexpr const char* kToolTips[] = {"File", "Help", "Cut", "Copy", "Paste", "About"};

}  // namespace

CMainFrame::CMainFrame(QWidget* parent)
    : QMainWindow(parent),
      m_statusUpdateMessage(platform::RegisterWindowMessage("KORV_STATUS_UPDATE")) {
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(QStringLiteral("Kestrow"));
    BuildCommandBar();
    BuildStatusBar();

    // Ctrl+Q closes the window (asking first when points are unsaved), which
    // ends the program. Ctrl+N, Ctrl+O and Ctrl+S have no command of their
    // own: site files are opened and saved only through the view's buttons.
    auto* exitAction = new QAction(this);
    exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    exitAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    addAction(exitAction);
}

void CMainFrame::BuildCommandBar() {
    m_commandBar = new QToolBar(this);
    m_commandBar->setObjectName(QStringLiteral("0xE800"));
    m_commandBar->setMovable(false);
    m_commandBar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_commandBar->setFloatable(false);
    m_commandBar->setIconSize(QSize(16, 16));
    m_commandBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::BottomToolBarArea, m_commandBar);

    const QPixmap strip(QStringLiteral(":/bitmaps/128"));
    int index = 0;
    for (const ToolButton& button : kToolButtons) {
        auto* action = new QAction(QString::fromLatin1(button.prompt), m_commandBar);
        action->setObjectName(QString::number(button.command));
        action->setData(button.command);
        if (strip.width() >= 16 * (index + 1)) {
            action->setIcon(QIcon(strip.copy(16 * index, 0, 16, 16)));
        }
        const int command = button.command;
        connect(action, &QAction::triggered, this, [this, command] {
            if (m_commandHandler) {
                m_commandHandler(command);
            }
        });
        m_commandBar->addAction(action);
        if (QWidget* widget = m_commandBar->widgetForAction(action)) {
            widget->setObjectName(QString::number(button.command));
            widget->setToolTip(index < 6 ? QString::fromLatin1(kToolTips[index]) : QString());
        }
        ++index;
    }
}

// The status panes lie directly above the command bar: they sit at the foot
// of the frame's content, under the view, and the bar is docked below it.
void CMainFrame::BuildStatusBar() {
    auto* content = new QWidget(this);
    m_contentLayout = new QVBoxLayout(content);
    m_contentLayout->setContentsMargins(0, 0, 0, 0);
    m_contentLayout->setSpacing(0);
    m_statusBar = new QStatusBar(content);
    QStatusBar* bar = m_statusBar;
    m_contentLayout->addWidget(bar);
    setCentralWidget(content);
    bar->setObjectName(QStringLiteral("0xE802"));
    bar->setSizeGripEnabled(false);
    const char* initial[kPaneCount] = {"L: 0", "P: 0", "X: 0", "Y: 0"};
    for (int i = 0; i < kPaneCount; ++i) {
        m_panes[i] = new QLabel(QString::fromLatin1(initial[i]), bar);
        m_panes[i]->setObjectName(QStringLiteral("pane%1").arg(i));
        m_panes[i]->setFixedWidth(kPaneWidth);
        bar->addWidget(m_panes[i]);
    }
}

void CMainFrame::SetView(QWidget* view, std::function<void(int)> commandHandler) {
    m_contentLayout->insertWidget(0, view, 1);
    m_commandHandler = std::move(commandHandler);
}

void CMainFrame::OnStatusUpdate(uintptr_t wParam, intptr_t lParam) {
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
    for (QLabel* pane : m_panes) {
        pane->repaint();
    }
}

QString CMainFrame::PaneText(int pane) const {
    return pane >= 0 && pane < kPaneCount ? m_panes[pane]->text() : QString();
}

void CMainFrame::customEvent(QEvent* event) {
    if (event->type() == platform::WindowMessageEvent::Type()) {
        auto* message = static_cast<platform::WindowMessageEvent*>(event);
        if (message->Message() == m_statusUpdateMessage) {
            OnStatusUpdate(message->WParam(), message->LParam());
        }
        return;
    }
    QMainWindow::customEvent(event);
}

// Minimising only minimises; closing may first ask whether to save.
void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_closeQuery && !m_closeQuery()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
