// The test program's QApplication is created by its main() (qt_app_main.cpp);
// these only make sure of it.
#pragma once

#include <QApplication>
#include <cassert>

inline void EnsureQtApplication() {
    assert(QApplication::instance() != nullptr);
}

// A base constructed before a fixture's own widgets.
struct QtApplicationFirst {
    QtApplicationFirst() { EnsureQtApplication(); }
};
