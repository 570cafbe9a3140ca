// The desktop workspace: a main window sized for the screen, with the map
// canvas in the middle, menus, a tool bar, docks and a status bar. It drives
// the same survey view as the handheld frame (kept hidden inside it: the
// view holds the site's map, overlay and scanner), the same open and save
// commands, journal and dialogs.
#pragma once

#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <string>

#include "platform/window_messages.h"

class CKestrowView;
class QAction;
class QLabel;

namespace sitetools {
class SitePrepTools;
}

namespace workspace {

class MapCanvas;
class SweepRunner;

// The window's commands that live outside it (the application's open, save
// and the view's dialogs), by the view's command identifiers.
using CommandHandler = std::function<void(int command)>;

class WorkspaceWindow : public QMainWindow {
    Q_OBJECT
  public:
    static constexpr int kPaneCount = 4;

    // `core` becomes a hidden child of the window.
    WorkspaceWindow(CKestrowView* core, CommandHandler commands, QWidget* parent = nullptr);
    ~WorkspaceWindow() override;

    CKestrowView& Core() { return *m_core; }
    MapCanvas& Canvas() { return *m_canvas; }
    SweepRunner& Sweep() { return *m_sweep; }
    // The Site menu's tools: scale, walls, access points.
    sitetools::SitePrepTools& Prep() { return *m_prep; }

    // Asked whenever the window is to close: false keeps it open.
    void SetCloseQuery(std::function<bool()> query) { m_closeQuery = std::move(query); }
    // Whether the survey has changes not saved yet (the title's mark).
    void SetModifiedQuery(std::function<bool()> query) { m_modifiedQuery = std::move(query); }
    // The open site's path (the title's file name).
    void SetSitePathQuery(std::function<std::string()> query) { m_sitePath = std::move(query); }
    // The name of the next point taken; "1", "2", ... by default.
    void SetPointNamer(std::function<std::string()> namer) { m_pointNamer = std::move(namer); }

    // A click at map (x, y): starts a survey point there (nothing while a
    // sweep runs). False when no sweep was started.
    bool TakePointAt(int32_t x, int32_t y);
    // A hold at map (x, y): selects the point near it and opens it.
    bool OpenPointAt(int32_t x, int32_t y);
    // Esc: the running sweep is abandoned, nothing recorded.
    void CancelSweep();

    // Sizes the window: the canvas exactly `canvasSize` when given, else
    // the size, state and docks remembered from the last time (with
    // `remembered`), else most of the screen.
    void RestoreLayout(std::optional<QSize> canvasSize, bool remembered);
    // Remembers the size, state and docks for the next time.
    void SaveLayout() const;

    // The status panes as the handheld frame has them: L, P, X, Y.
    QString PaneText(int pane) const;
    // Refreshes the title, the panes and the canvas from the survey.
    void Refresh();

    // The next point's default name: one more than the highest whole-number
    // name in the survey (1 in an empty one).
    static std::string NextNumericName();

  protected:
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildMenus();
    void BuildStatusBar();
    void ShowCursor(std::optional<QPointF> mapPoint);
    void ShowSweepProgress();
    void UpdateTitle();
    void StatusUpdate(uintptr_t wParam, intptr_t lParam);

    CKestrowView* m_core;
    MapCanvas* m_canvas = nullptr;
    SweepRunner* m_sweep = nullptr;
    sitetools::SitePrepTools* m_prep = nullptr;
    CommandHandler m_commands;
    std::function<bool()> m_closeQuery;
    std::function<bool()> m_modifiedQuery;
    std::function<std::string()> m_sitePath;
    std::function<std::string()> m_pointNamer;
    platform::MessageId m_statusUpdateMessage;
    std::array<QLabel*, kPaneCount> m_panes{};
    QLabel* m_cursorLabel = nullptr;
    QLabel* m_sweepLabel = nullptr;
    uint64_t m_shownMapLoad = 0;
};

}  // namespace workspace
