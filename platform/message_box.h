// The message-box seam: the UI shows a QMessageBox on the UI thread (blocking
// the calling thread until it is closed); tests and the script runner record
// the text and answer it.
#pragma once

#include <string>

namespace platform {

constexpr const char* kApplicationTitle = "Kestrow";

enum MessageBoxStyle : unsigned {
    kMbOk = 0x00,
    kMbYesNo = 0x04,
    // Save, Discard and Cancel buttons, answered kIdYes, kIdNo and kIdCancel.
    kMbSaveDiscardCancel = 0x07,
    kMbIconError = 0x10,
    kMbIconExclamation = 0x30,
};

enum MessageBoxAnswer : int {
    kIdOk = 1,
    kIdCancel = 2,
    kIdYes = 6,
    kIdNo = 7,
};

class MessageBoxHandler {
  public:
    virtual ~MessageBoxHandler() = default;
    virtual int Show(const std::string& text, const std::string& caption, unsigned style) = 0;
};

// Installs the handler every MessageBox call goes to (nullptr restores the
// default, which writes the box to standard error and answers OK, Yes or
// Cancel).
void SetMessageBoxHandler(MessageBoxHandler* handler);

// Shows a box from any thread and answers the button chosen.
int MessageBox(const std::string& text, const std::string& caption, unsigned style);

}  // namespace platform
