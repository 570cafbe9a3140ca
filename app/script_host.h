// Carries out script commands in the running application: each goes through
// the view's own handlers, with the file dialog, the message boxes and the
// modal dialogs answered here and their contents printed.
#pragma once

#include <QPoint>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/script_runner.h"
#include "platform/message_box.h"
#include "view/ui_services.h"

class CKestrowView;
namespace edit {
class SurveyEdits;
}
class QDialog;
class QMainWindow;
class QString;
namespace plan {
class SitePreparation;
}
namespace workspace {
class WorkspaceWindow;
}

class KestrowScriptHost : public ScriptHost, public platform::MessageBoxHandler {
  public:
    // Installs itself as the message-box handler until destroyed.
    KestrowScriptHost(std::ostream& out);
    ~KestrowScriptHost() override;
    KestrowScriptHost(const KestrowScriptHost&) = delete;
    KestrowScriptHost& operator=(const KestrowScriptHost&) = delete;

    // The modal-dialog runner and the site file chooser the script answers.
    UiServices Services();
    // The window to drive: the handheld frame or the workspace (then
    // `workspace`); `paneText` reads its status panes, `command` carries out
    // a tool button's command.
    void Attach(CKestrowView* view, QMainWindow* window, std::function<QString(int)> paneText,
                std::function<void(int)> command, workspace::WorkspaceWindow* workspace = nullptr);
    // The open site's path: what the site-preparation commands act on.
    void SetSitePath(std::function<std::string()> path) { m_sitePath = std::move(path); }

    bool Open(const std::string& path, bool keep, bool recover, std::string& reason) override;
    void OpenCancel() override;
    void Tap(int x, int y) override;
    void Hold(int x, int y, bool deletePoint) override;
    void Key(unsigned code) override;
    void Zoom(bool in) override;
    void Scroll(bool horizontal, int code, int position) override;
    void Sign(const Stroke& stroke) override;
    void Save() override;
    void Status() override;
    void Dialog(const std::string& which) override;
    bool Screenshot(const std::string& path, std::string& reason) override;
    bool WindowScreenshot(const std::string& path, std::string& reason) override;
    void DialogScreenshot(const std::string& path) override { m_dialogShot = path; }
    void Sleep(int milliseconds) override;
    void Overlay(const std::string& which) override;
    bool Close(CloseAnswer answer) override;
    bool Undo(bool redo, std::string& reason) override;
    bool Move(int x1, int y1, int x2, int y2, std::string& reason) override;
    bool Rename(int x, int y, const std::string& name, std::string& reason) override;
    bool SaveAs(const std::string& path, std::string& reason) override;
    void SignField(const std::string& field, const std::string& text) override;

    // The survey's edits the undo, move, rename and save-as commands drive.
    void SetEdits(edit::SurveyEdits* edits) { m_edits = edits; }
    bool Walk(const Stroke& path, double speed, std::string& reason) override;
    bool Wheel(int x, int y, int steps, std::string& reason) override;
    bool Pan(int dx, int dy, std::string& reason) override;
    bool Fit(std::string& reason) override;
    bool NewSite(const std::string& plan, const std::string& site, int page,
                 std::string& reason) override;
    bool Scale(double x1, double y1, double x2, double y2, double metres,
               std::string& reason) override;
    bool AddWall(const sitefile::Wall& wall, std::string& reason) override;
    bool DetectWalls(std::string& reason) override;
    bool PlaceAccessPoint(const sitefile::MacBytes& bssid, double x, double y,
                          std::string& reason) override;

    // Message boxes: printed as "MSGBOX <caption> | <text>"; the keep and
    // recovery questions are answered as the last open command asked, the
    // close question as the last close command asked. Any thread.
    int Show(const std::string& text, const std::string& caption, unsigned style) override;

  private:
    int RunDialog(QDialog& dialog);
    void TakeDialogShot(QDialog& dialog);
    void Print(const std::string& line);
    void WaitForSurvey();
    bool SurveyRunning() const;
    // The workspace's joystick and scroll-bar requests: moves of its canvas.
    void PanMap(double mapDx, double mapDy);
    void WaitForOverlay();
    void RunEventsFor(int milliseconds);
    // The point under canvas pixel (x, y) (the handheld's client pixel), or
    // why there is none; where a canvas pixel lies on the map, false off it.
    std::optional<int> PointUnder(int x, int y, std::string& reason);
    bool ToMap(QPoint canvas, int32_t& x, int32_t& y);
    // One change of the open site's preparation, then the view told of it.
    bool Prepare(const std::function<bool(plan::SitePreparation&, std::string&)>& change,
                 std::string& reason);
    // A tool's change made (or refused), and shown.
    bool Finish(bool done);

    std::ostream& m_out;
    std::mutex m_outMutex;
    CKestrowView* m_view = nullptr;
    QMainWindow* m_window = nullptr;
    std::function<QString(int)> m_paneText;
    workspace::WorkspaceWindow* m_workspace = nullptr;
    std::function<void(int)> m_command;
    std::optional<std::string> m_chosenFile;
    std::atomic<bool> m_keepPoints{true};
    std::atomic<bool> m_recoverPoints{true};
    std::atomic<CloseAnswer> m_closeAnswer{CloseAnswer::kCancel};
    bool m_deleteNext = false;
    std::vector<Stroke> m_strokes;
    edit::SurveyEdits* m_edits = nullptr;
    std::optional<std::string> m_customer, m_surveyor, m_notes;
    std::string m_dialogShot;
    std::function<std::string()> m_sitePath;
    // The new-site dialog's answers while `new-site` runs it.
    struct NewSiteAnswer {
        std::string plan;
        std::string site;
        int page = 1;
        std::string problem;
        bool created = false;
    };
    std::optional<NewSiteAnswer> m_newSite;
};
