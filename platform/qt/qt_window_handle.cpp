#include "platform/qt/qt_window_handle.h"

#include <QCoreApplication>

namespace platform {

QEvent::Type WindowMessageEvent::Type() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool QtWindowHandle::PostMessage(MessageId message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_target == nullptr) {
        return false;
    }
    QCoreApplication::postEvent(m_target, new WindowMessageEvent(message, wParam, lParam));
    return true;
}

void QtWindowHandle::Detach() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_target = nullptr;
}

}  // namespace platform
