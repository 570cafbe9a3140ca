// The main window: the view in the middle, the status panes above the tool
// bar, and the tool bar with the seven command buttons at the bottom.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <functional>

#include "platform/window_messages.h"

class QLabel;
class QStatusBar;
class QVBoxLayout;
class QToolBar;
class QAction;
class QMenu;

class CMainFrame : public QMainWindow {
    Q_OBJECT
  public:
    static constexpr int kPaneCount = 4;
    static constexpr int kPaneWidth = 50;

    explicit CMainFrame(QWidget* parent = nullptr);

    // Makes the view the frame's content; the tool buttons' commands go to it.
    void SetView(QWidget* view, std::function<void(int command)> commandHandler);
    // Asked whenever the window is to close (its close button, the window
    // manager, Ctrl+Q): false keeps it open.
    void SetCloseQuery(std::function<bool()> query) { m_closeQuery = std::move(query); }

    // Refreshes the four panes: counters from g_siteHeader, coordinates as the
    // low 16 bits of each parameter read as a signed number.
    void OnStatusUpdate(uintptr_t wParam, intptr_t lParam);

    QString PaneText(int pane) const;
    QToolBar* CommandBar() const { return m_commandBar; }
    QStatusBar* StatusBar() const { return m_statusBar; }

    // No context menu anywhere on the frame: the one Qt offers would hide the
    // command bar for good, and with it the save button.
    QMenu* createPopupMenu() override { return nullptr; }

  protected:
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildCommandBar();
    void BuildStatusBar();

    platform::MessageId m_statusUpdateMessage;
    QToolBar* m_commandBar = nullptr;
    QStatusBar* m_statusBar = nullptr;
    QVBoxLayout* m_contentLayout = nullptr;
    std::array<QLabel*, kPaneCount> m_panes{};
    std::function<void(int)> m_commandHandler;
    std::function<bool()> m_closeQuery;
};
