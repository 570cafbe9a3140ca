// Posting registered window messages to a QObject as custom events.
#pragma once

#include <QEvent>
#include <QObject>
#include <mutex>

#include "platform/window_messages.h"

namespace platform {

// The event a QtWindowHandle delivers: one (message, wParam, lParam) post.
class WindowMessageEvent : public QEvent {
  public:
    WindowMessageEvent(MessageId message, uintptr_t wParam, intptr_t lParam)
        : QEvent(Type()), m_message(message), m_wParam(wParam), m_lParam(lParam) {}

    static QEvent::Type Type();

    MessageId Message() const { return m_message; }
    uintptr_t WParam() const { return m_wParam; }
    intptr_t LParam() const { return m_lParam; }

  private:
    MessageId m_message;
    uintptr_t m_wParam;
    intptr_t m_lParam;
};

// A window handle any thread may post to; the events arrive on the target's
// thread in posting order. Detach() before the target is destroyed: posts
// after that are dropped and answer false.
class QtWindowHandle : public WindowHandle {
  public:
    explicit QtWindowHandle(QObject* target) : m_target(target) {}

    bool PostMessage(MessageId message, uintptr_t wParam, intptr_t lParam) override;
    void Detach();

  private:
    std::mutex m_mutex;
    QObject* m_target;
};

}  // namespace platform
