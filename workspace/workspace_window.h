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
class QActionGroup;
class QMenu;
class QDockWidget;
class QLabel;
class QTextBrowser;
class QUndoStack;

namespace sitetools {
class SitePrepTools;
}

namespace workspace {

class AccessPointsPanel;
class LiveScanPanel;
class MapCanvas;
class OverlayPanel;
class PointPanel;
class SweepRunner;
class WalkTool;

// What the survey's editing core offers the window: undo and redo, deleting,
// moving and renaming points, Save As, the report export and new points'
// names. Whatever is unset is left out of the window (its actions disabled),
// except deletion, which then goes the handheld's way.
struct SurveyEditHooks {
    QUndoStack* undoStack = nullptr;
    // The point at map (x, y): deleted, moved to (toX, toY), renamed; false
    // with the reason (empty when the surveyor was already told).
    std::function<bool(int32_t x, int32_t y, std::string& error)> deletePoint;
    std::function<bool(int32_t x, int32_t y, int32_t toX, int32_t toY, std::string& error)>
        movePoint;
    std::function<bool(int32_t x, int32_t y, const std::string& name, std::string& error)>
        renamePoint;
    std::function<bool(const std::string& path)> saveAs;
    std::function<bool(const std::string& path, std::string& error)> exportReport;
    std::function<std::string()> nextPointName;
};

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
    WalkTool& Walk() { return *m_walk; }
    // The Site menu's tools: scale, walls, access points.
    sitetools::SitePrepTools& Prep() { return *m_prep; }

    // Asked whenever the window is to close: false keeps it open.
    void SetCloseQuery(std::function<bool()> query) { m_closeQuery = std::move(query); }
    // Whether the survey has changes not saved yet (the title's mark).
    void SetModifiedQuery(std::function<bool()> query) { m_modifiedQuery = std::move(query); }
    // The open site's path (the title's file name).
    void SetSitePathQuery(std::function<std::string()> query) { m_sitePath = std::move(query); }
    // The editing core's actions; the window's menus follow what is set.
    void SetEditHooks(SurveyEditHooks hooks);
    // Opens the site at `path` as the open command does (File → New site).
    void SetSiteOpener(std::function<void(const std::string&)> open) {
        m_openSite = std::move(open);
    }
    // The profile the pass/fail overlay started with (--profile).
    void SetStartProfile(const std::string& name);
    // The Survey menu's scanner: what it is, and how many scans each point
    // merges where the scanner lets that be chosen (`setScans` unset: the
    // choice is shown, not offered).
    void SetScanner(const QString& description, int scansPerPoint,
                    std::function<void(int)> setScans);

    // A click at map (x, y): starts a survey point there (nothing while a
    // sweep runs). False when no sweep was started.
    bool TakePointAt(int32_t x, int32_t y);
    // A hold at map (x, y): selects the point near it and opens it.
    bool OpenPointAt(int32_t x, int32_t y);
    // Esc: the running sweep is abandoned, nothing recorded; a walk ends.
    void CancelSweep();
    // A click on a point's circle: selects it and lists what was heard there.
    void SelectPointAt(int32_t x, int32_t y);
    // The overlay as the Overlay panel and the View menu choose it.
    void ShowOverlay(int metricIndex);
    // The panels, for tests and the script.
    LiveScanPanel& LiveScan() { return *m_liveScan; }
    AccessPointsPanel& AccessPoints() { return *m_accessPoints; }
    PointPanel& PointInfo() { return *m_pointPanel; }
    OverlayPanel& OverlayChoices() { return *m_overlayPanel; }
    // The surveyor's guide, in a window of its own; false when it is not
    // installed (the surveyor is told where it was looked for).
    bool ShowGuide();
    // Where the guide is: installed beside the program, or in the source tree.
    static QString GuidePath();
    // The walk tool (W): a click starts a walk and marks each turn.
    void SetWalkTool(bool on);
    bool WalkToolOn() const;

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
    void BuildDocks();
    void BuildStatusBar();
    void UpdateActions();
    void UpdateLegend();
    void ApplyOverlay();
    void ShowSelectedPoint();
    void DeleteSelected();
    void RenameSelected();
    void SaveAs();
    void ExportReport();
    QDockWidget* AddDock(const QString& title, const QString& name, QWidget* panel,
                         Qt::DockWidgetArea area);
    void ShowCursor(std::optional<QPointF> mapPoint);
    void ShowSweepProgress();
    void ShowWalk();
    void Click(int32_t x, int32_t y);
    // Runs `command` once a walk under way has ended.
    void AfterWalk(int command);
    void UpdateTitle();
    void StatusUpdate(uintptr_t wParam, intptr_t lParam);

    CKestrowView* m_core;
    MapCanvas* m_canvas = nullptr;
    SweepRunner* m_sweep = nullptr;
    WalkTool* m_walk = nullptr;
    QAction* m_walkAction = nullptr;
    QAction* m_scannerAction = nullptr;
    QMenu* m_scansMenu = nullptr;
    QAction* m_pauseAction = nullptr;
    sitetools::SitePrepTools* m_prep = nullptr;
    CommandHandler m_commands;
    std::function<bool()> m_closeQuery;
    std::function<bool()> m_modifiedQuery;
    std::function<std::string()> m_sitePath;
    std::function<void(const std::string&)> m_openSite;
    SurveyEditHooks m_edits;
    LiveScanPanel* m_liveScan = nullptr;
    AccessPointsPanel* m_accessPoints = nullptr;
    PointPanel* m_pointPanel = nullptr;
    OverlayPanel* m_overlayPanel = nullptr;
    QTextBrowser* m_guide = nullptr;
    QAction* m_undo = nullptr;
    QAction* m_redo = nullptr;
    QAction* m_saveAs = nullptr;
    QAction* m_export = nullptr;
    QActionGroup* m_overlayGroup = nullptr;
    QMenu* m_editMenu = nullptr;
    std::optional<QPoint> m_selected;  // map position of the selected point
    uint64_t m_shownMapGeneration = 0;
    size_t m_shownRecords = static_cast<size_t>(-1);
    int m_overlayShown = 0;
    std::string m_profileShown;
    platform::MessageId m_statusUpdateMessage;
    std::array<QLabel*, kPaneCount> m_panes{};
    QLabel* m_cursorLabel = nullptr;
    QLabel* m_sweepLabel = nullptr;
    uint64_t m_shownMapLoad = 0;
};

}  // namespace workspace
