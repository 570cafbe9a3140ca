// The PDF's creation date: set to the survey's save time without breaking the
// file's cross-reference table, whatever the time zone Qt wrote it in.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <cstdlib>
#include <ctime>
#include <string>

#include "report/survey_report.h"

namespace {

// Every object the cross-reference table lists starts where it says, and
// so does the table itself.
void ExpectOffsetsRight(const QByteArray& pdf) {
    const int xref = pdf.lastIndexOf("\nxref\n") + 1;
    const int startxref = pdf.lastIndexOf("startxref\n");
    ASSERT_GT(xref, 0);
    ASSERT_GT(startxref, xref);
    EXPECT_EQ(pdf.mid(startxref + 10).split('\n')[0].toInt(), xref);
    const QList<QByteArray> lines = pdf.mid(xref, startxref - xref).split('\n');
    const int count = lines[1].split(' ')[1].toInt();
    ASSERT_GT(count, 1);
    for (int i = 1; i < count; ++i) {
        const QByteArray entry = lines[2 + i];
        if (entry.size() > 17 && entry[17] == 'n') {
            const int offset = entry.left(10).toInt();
            EXPECT_TRUE(pdf.mid(offset).startsWith(QByteArray::number(i) + " 0 obj"))
                << "object " << i << " at " << offset << ": " << pdf.mid(offset, 12).constData();
        }
    }
}

TEST(PdfCreationDate, TheSaveTimeReplacesTheTimeOfWritingAndOffsetsFollow) {
    // A zone east of UTC, so Qt writes the date with an offset ("+05'30'"),
    // longer than the UTC form that replaces it.
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    static int argc = 1;
    static char name[] = "test_coverage_image";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);

    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        QPainter painter(&writer);
        painter.fillRect(QRect(10, 10, 100, 100), Qt::red);
        writer.newPage();
        painter.fillRect(QRect(20, 20, 100, 100), Qt::blue);
    }
    ASSERT_TRUE(pdf.contains("/CreationDate (D:")) << "Qt writes a creation date";
    ASSERT_TRUE(pdf.contains("+05'30')")) << "in the local zone";
    ExpectOffsetsRight(pdf);

    QByteArray fixed = pdf;
    ASSERT_TRUE(report::SetPdfCreationDate(fixed, 1796646496));
    EXPECT_TRUE(fixed.contains("/CreationDate (D:20261207122816Z)"));
    ExpectOffsetsRight(fixed);
    QByteArray again = fixed;
    ASSERT_TRUE(report::SetPdfCreationDate(again, 1796646496));
    EXPECT_EQ(again, fixed);

    // Something else is left as it is.
    QByteArray other = "%PDF-1.4\n/CreationDate (D:2026) no table";
    EXPECT_FALSE(report::SetPdfCreationDate(other, 0));
    EXPECT_EQ(other, QByteArray("%PDF-1.4\n/CreationDate (D:2026) no table"));
    unsetenv("TZ");
    tzset();
}

}  // namespace
