// One QApplication for the whole test program (offscreen platform).
#pragma once

#include <QApplication>

inline void EnsureQtApplication() {
    if (QApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "test_app";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
}

// A base constructed before a fixture's own widgets.
struct QtApplicationFirst {
    QtApplicationFirst() { EnsureQtApplication(); }
};
