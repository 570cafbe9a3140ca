// The script language: one command a line, each carried out through the same
// handlers as a person's input. ScriptRunner reads and checks the commands;
// a ScriptHost carries them out.
#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sitefile/site_meta.h"

using Stroke = std::vector<std::pair<int, int>>;

// How the close question is answered.
enum class CloseAnswer { kSave, kDiscard, kCancel };

class ScriptHost {
  public:
    virtual ~ScriptHost() = default;
    // Each answers false with a reason when the command cannot run. `keep`
    // answers the keep question, `recover` the offer of a journal's points.
    virtual bool Open(const std::string& path, bool keep, bool recover, std::string& reason) = 0;
    virtual void OpenCancel() = 0;
    virtual void Tap(int x, int y) = 0;
    virtual void Hold(int x, int y, bool deletePoint) = 0;
    virtual void Key(unsigned code) = 0;
    virtual void Zoom(bool in) = 0;
    virtual void Scroll(bool horizontal, int code, int position) = 0;
    virtual void Sign(const Stroke& stroke) = 0;
    virtual void Save() = 0;
    virtual void Status() = 0;
    virtual void Dialog(const std::string& which) = 0;
    virtual bool Screenshot(const std::string& path, std::string& reason) = 0;
    // The whole main window, tool bar and status panes included.
    virtual bool WindowScreenshot(const std::string& path, std::string& reason) = 0;
    // The next modal dialog, as the script has filled it in, just before it closes.
    virtual void DialogScreenshot(const std::string& path) = 0;
    virtual void Sleep(int milliseconds) = 0;
    // The map overlay: "off", a metric's heatmap ("strongest", "second",
    // "count") or the profile's pass/fail map ("passfail"); returns once it
    // is drawn.
    virtual void Overlay(const std::string& which) = 0;
    // A walking survey along `path` (map pixels) at `speed` (metres a
    // second; pixels a second on a site without scale); returns once its
    // last scan is placed.
    virtual bool Walk(const Stroke& path, double speed, std::string& reason) {
        (void)path;
        (void)speed;
        reason = "walk: not available in this window";
        return false;
    }
    // The window's close request, its question answered so if it comes;
    // true when the window closed, which ends the program.
    virtual bool Close(CloseAnswer answer) = 0;
    // The survey's edits: the last change undone or done again, the point
    // under canvas pixel (x1, y1) dragged to (x2, y2) or renamed, the save
    // written to another path. Each false with the reason when it cannot run.
    virtual bool Undo(bool redo, std::string& reason) = 0;
    virtual bool Move(int x1, int y1, int x2, int y2, std::string& reason) = 0;
    virtual bool Rename(int x, int y, const std::string& name, std::string& reason) = 0;
    virtual bool SaveAs(const std::string& path, std::string& reason) = 0;
    // A field of the next sign-off that asks for the report's customer,
    // surveyor and notes ("customer", "surveyor", "notes").
    virtual void SignField(const std::string& field, const std::string& text) = 0;
    // The workspace's map canvas, in canvas pixels: `steps` wheel steps at
    // (x, y), a drag by (dx, dy), the whole plan again. The handheld frame
    // has none of them (false with the reason).
    virtual bool Wheel(int x, int y, int steps, std::string& reason) {
        (void)x, (void)y, (void)steps;
        reason = "wheel: the handheld frame has no wheel zoom";
        return false;
    }
    virtual bool Pan(int dx, int dy, std::string& reason) {
        (void)dx, (void)dy;
        reason = "pan: the handheld frame pans with the scroll bars (hscroll, vscroll)";
        return false;
    }
    virtual bool Fit(std::string& reason) {
        reason = "fit: the handheld frame shows the whole plan after an open only";
        return false;
    }

    // Site preparation, in map pixels, each written to the open site's
    // sidecar at once. `new-site` makes SITE from the floor plan PLAN (page
    // PAGE of a PDF) and opens it; `detect-walls` keeps the walls found in
    // the plan in place of those there were. A host without them refuses.
    virtual bool NewSite(const std::string& plan, const std::string& site, int page,
                         std::string& reason);
    virtual bool Scale(double x1, double y1, double x2, double y2, double metres,
                       std::string& reason);
    virtual bool AddWall(const sitefile::Wall& wall, std::string& reason);
    virtual bool DetectWalls(std::string& reason);
    virtual bool PlaceAccessPoint(const sitefile::MacBytes& bssid, double x, double y,
                                  std::string& reason);
};

class ScriptRunner {
  public:
    // The longest script line, in bytes, without its end.
    static constexpr size_t kMaxScriptLine = 4096;

    ScriptRunner(ScriptHost& host, std::ostream& errors) : m_host(host), m_errors(errors) {}

    // Runs every command; answers the exit status: 0 when the script ran to
    // its end or to "quit", 2 after "script line N: <reason>" on the error
    // stream for a command that cannot run or a line longer than
    // kMaxScriptLine.
    int Run(std::istream& script);

  private:
    enum class Outcome { kNext, kQuit, kFail };
    Outcome Execute(const std::vector<std::string>& words, std::string& reason);
    // The site-preparation commands; nothing when `words` is none of them.
    std::optional<Outcome> ExecutePreparation(const std::vector<std::string>& words,
                                              std::string& reason);

    ScriptHost& m_host;
    std::ostream& m_errors;
};
