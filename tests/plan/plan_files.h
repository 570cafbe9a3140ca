// Plans written as a drawing program would, for the tests of reading them,
// and the application drawing them needs.
#pragma once

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <functional>
#include <string>
#include <vector>

// The application drawing needs (text needs fonts): one for the whole test
// program, made by the first test that needs it.
inline void NeedGuiApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "kestrow_test";
        static char* argv[] = {name, nullptr};
        static QGuiApplication app(argc, argv);
    }
}

// A PDF of pages `points` large (1 unit a point), each drawn by its function.
inline void WritePdf(const std::string& path, QSizeF points,
                     const std::vector<std::function<void(QPainter&)>>& pages) {
    QPdfWriter writer(QString::fromStdString(path));
    writer.setPageSize(QPageSize(points, QPageSize::Point));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(72);
    QPainter p(&writer);
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i > 0) {
            writer.newPage();
        }
        pages[i](p);
    }
}
