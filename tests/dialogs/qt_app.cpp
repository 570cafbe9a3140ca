// main() of the dialog tests: the QApplication lives on main's stack, so it is gone before
// static destructors run.
#include "dialogs/qt_app.h"

#include <gtest/gtest.h>

#include <QApplication>

QApplication& TestApp() {
    return *qApp;
}

int main(int argc, char** argv) {
    // Listing the tests runs without the test environment; the dialogs never need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
