// Message boxes raised on another thread are shown on the UI thread while the
// raising thread waits for the answer.
#include "platform/qt/qt_message_box.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>
#include <utility>

#include "qt_test_app.h"

namespace {

TEST(QtMessageBoxTest, BoxFromAnotherThreadIsShownOnTheUiThreadAndAnswered) {
    EnsureQtApplication();
    platform::QtMessageBoxHandler handler;
    std::atomic<int> answer{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        answer = handler.Show("Do you wish to keep existing data points?", "Tarnwick",
                              platform::kMbYesNo);
        done = true;
    });

    QString seenTitle;
    QString seenText;
    bool seenOnUiThread = false;
    // The box runs its own event loop; a timer inside it answers No.
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seenTitle = box->windowTitle();
            seenText = box->text();
            seenOnUiThread = box->thread() == QThread::currentThread();
            box->button(QMessageBox::No)->click();
        }
    });
    answerer.start(20);
    QElapsedTimer waited;
    waited.start();
    while (!done && waited.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    reader.join();
    EXPECT_EQ(answer, platform::kIdNo);
    EXPECT_EQ(seenTitle, "Tarnwick");
    EXPECT_EQ(seenText, "Do you wish to keep existing data points?");
    EXPECT_TRUE(seenOnUiThread);
}

TEST(QtMessageBoxTest, CloseQuestionOffersSaveDiscardAndCancel) {
    EnsureQtApplication();
    platform::QtMessageBoxHandler handler;
    const std::pair<QMessageBox::StandardButton, int> cases[] = {
        {QMessageBox::Save, platform::kIdYes},
        {QMessageBox::Discard, platform::kIdNo},
        {QMessageBox::Cancel, platform::kIdCancel}};
    for (const auto& [button, expected] : cases) {
        QMessageBox::StandardButtons offered;
        QTimer::singleShot(20, [&offered, button = button] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                offered = box->standardButtons();
                box->button(button)->click();
            }
        });
        EXPECT_EQ(handler.Show("Save the survey before closing?", "Kestrow",
                               platform::kMbSaveDiscardCancel),
                  expected);
        EXPECT_EQ(offered, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    }
}

}  // namespace
