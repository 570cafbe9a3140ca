// How the window's questions are answered: by a person at the screen, or by
// a script that fills in and closes each dialog itself. The application makes
// one set and hands it to the view and to its own commands. (Message boxes go
// through platform::MessageBox, which the scanner's threads use too.)
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

struct UiServices {
    // Runs a modal dialog and answers its end code; QDialog::exec when unset.
    std::function<int(QDialog&)> runModal;
    // The open command's file dialog: the chosen site file, or nothing when
    // it was cancelled. The application's own file dialog when unset.
    std::function<std::optional<std::string>(QWidget* parent)> chooseSiteFile;

    int RunModal(QDialog& dialog) const { return runModal ? runModal(dialog) : dialog.exec(); }
};
