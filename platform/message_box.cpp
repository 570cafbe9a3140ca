#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

namespace platform {

namespace {
std::mutex g_handlerMutex;
MessageBoxHandler* g_handler = nullptr;
std::mutex g_stderrMutex;

int DefaultMessageBox(const std::string& text, const std::string& caption, unsigned style) {
    {
        std::lock_guard<std::mutex> lock(g_stderrMutex);
        std::fprintf(stderr, "%s | %s\n", caption.c_str(), text.c_str());
        std::fflush(stderr);
    }
    switch (style & 0x0F) {
        case kMbYesNo:
            return kIdYes;
        case kMbSaveDiscardCancel:
            return kIdCancel;
        default:
            return kIdOk;
    }
}
}  // namespace

void SetMessageBoxHandler(MessageBoxHandler* handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_handler = handler;
}

int MessageBox(const std::string& text, const std::string& caption, unsigned style) {
    MessageBoxHandler* handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_handler;
    }
    // The handler may block until the box is closed: never call it under the lock.
    if (handler) {
        return handler->Show(text, caption, style);
    }
    return DefaultMessageBox(text, caption, style);
}

}  // namespace platform
