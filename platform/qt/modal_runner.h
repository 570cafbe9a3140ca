// The seam every modal dialog of the program runs through: a person gets
// QDialog::exec(); the script runner installs a runner that fills in and
// closes each dialog itself and answers its end code.
#pragma once

#include <QDialog>
#include <functional>

namespace platform {

using ModalRunner = std::function<int(QDialog&)>;

// Runs the dialog modally and answers its end code.
int RunModal(QDialog& dialog);

// Replaces the runner (an empty function restores exec()).
void SetModalRunner(ModalRunner runner);

}  // namespace platform
