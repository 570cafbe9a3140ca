// Registered window messages and the handles they are posted to.
#pragma once

#include <cstdint>

namespace platform {

using MessageId = uint32_t;

// Answers the same number for the same name for the life of the process;
// numbers start at 0xC000. Thread-safe.
MessageId RegisterWindowMessage(const char* name);

// Something a thread can post (message, wParam, lParam) to. The UI posts a
// custom QEvent to the view or frame; tests record the posts.
class WindowHandle {
  public:
    virtual ~WindowHandle() = default;
    virtual bool PostMessage(MessageId message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace platform
