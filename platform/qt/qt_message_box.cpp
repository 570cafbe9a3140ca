#include "platform/qt/qt_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace platform {

int QtMessageBoxHandler::Show(const std::string& text, const std::string& caption, unsigned style) {
    if (QThread::currentThread() == thread()) {
        return ShowOnUiThread(text, caption, style);
    }
    int answer = kIdOk;
    QMetaObject::invokeMethod(
        this, [&] { answer = ShowOnUiThread(text, caption, style); }, Qt::BlockingQueuedConnection);
    return answer;
}

int QtMessageBoxHandler::ShowOnUiThread(const std::string& text, const std::string& caption,
                                        unsigned style) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromLocal8Bit(caption.c_str()));
    box.setText(QString::fromLocal8Bit(text.c_str()));
    switch (style & 0xF0) {
        case kMbIconError:
            box.setIcon(QMessageBox::Critical);
            break;
        case 0x20:
            box.setIcon(QMessageBox::Question);
            break;
        case kMbIconExclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case 0x40:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            break;
    }
    if ((style & 0x0F) == kMbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        // Closing the box without a button reads as No.
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? kIdYes : kIdNo;
    }
    if ((style & 0x0F) == kMbSaveDiscardCancel) {
        box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Save);
        // Closing the box without a button changes nothing.
        box.setEscapeButton(QMessageBox::Cancel);
        switch (box.exec()) {
            case QMessageBox::Save:
                return kIdYes;
            case QMessageBox::Discard:
                return kIdNo;
            default:
                return kIdCancel;
        }
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return kIdOk;
}

}  // namespace platform
