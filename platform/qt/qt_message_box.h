// Message boxes as QMessageBox windows, shown on the UI thread.
#pragma once

#include <QObject>
#include <string>

#include "platform/message_box.h"

namespace platform {

// Install with SetMessageBoxHandler once the QApplication exists. A call from
// another thread blocks that thread until the box has been closed on the UI
// thread.
class QtMessageBoxHandler : public QObject, public MessageBoxHandler {
  public:
    QtMessageBoxHandler() = default;
    int Show(const std::string& text, const std::string& caption, unsigned style) override;

  private:
    int ShowOnUiThread(const std::string& text, const std::string& caption, unsigned style);
};

}  // namespace platform
