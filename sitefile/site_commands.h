// Seams of the open and save commands: who answers the file dialog and the
// keep question. A person gets the QFileDialog and the question box; the
// command line's --open and the script runner answer them instead.
#pragma once

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace sitefile_ui {

// Answers the chosen site file's path, or nothing when the dialog was cancelled.
using SiteFileChooser = std::function<std::optional<std::string>(QWidget* parent)>;

// Replaces the file dialog (an empty function restores it).
void SetSiteFileChooser(SiteFileChooser chooser);

// When set, the keep question is not shown and this answer is used.
void SetKeepPointsAnswer(std::optional<bool> keep);

// Answers the next opens with this file and keep answer, for as long as it
// lives (the command line's --open); the previous answers come back after.
class ScopedOpenAnswers {
  public:
    ScopedOpenAnswers(std::string path, bool keep);
    ~ScopedOpenAnswers();
    ScopedOpenAnswers(const ScopedOpenAnswers&) = delete;
    ScopedOpenAnswers& operator=(const ScopedOpenAnswers&) = delete;

  private:
    SiteFileChooser m_previousChooser;
    std::optional<bool> m_previousKeep;
};

// The file dialog of the open command: site files first, an existing file only.
std::optional<std::string> ShowSiteFileDialog(QWidget* parent);

}  // namespace sitefile_ui
