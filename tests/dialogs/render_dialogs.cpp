// Writes pictures of the dialogs as the program draws them (run under the offscreen platform):
//   render_dialog_pictures OUTPUT_DIR
// gives dialog-colors.png, dialog-point-info.png, dialog-help.png and dialog-about.png.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <string>

#include "dialogs/about_dlg.h"
#include "dialogs/color_ranges_dlg.h"
#include "dialogs/help_dlg.h"
#include "dialogs/point_info_dlg.h"
#include "dialogs/survey_records.h"
#include "survey/record_list.h"
#include "survey/site_header.h"

namespace {

// The client area as drawn, under a plain caption bar with the window title (what a window
// manager would add) and inside a one-pixel grey frame.
bool Save(QWidget& dialog, const QString& path) {
    constexpr int kCaption = 20;
    dialog.show();
    QApplication::processEvents();
    const QImage client = dialog.grab().toImage();
    QImage framed(client.width() + 2, client.height() + kCaption + 2, QImage::Format_RGB32);
    framed.fill(QColor(128, 128, 128));
    QPainter painter(&framed);
    painter.fillRect(1, 1, client.width(), kCaption, QColor(0, 0, 128));
    QFont font = dialog.font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(6, 1, client.width() - 10, kCaption), Qt::AlignLeft | Qt::AlignVCenter,
                     dialog.windowTitle());
    painter.drawImage(1, kCaption + 1, client);
    painter.end();
    dialog.close();
    if (!framed.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

void AddRecord(int x, int y, int channel, int rssi, const char* mac, const char* ssid) {
    AddSurveyRecord(x, y, channel, rssi, mac, ssid);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: render_dialog_pictures OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));

    g_siteHeader = std::make_unique<CSiteHeader>();
    g_siteHeader->ClearPoints();
    AddRecord(120, 160, 36, -62, "000A1B2C3D4E", "Lab");
    AddRecord(120, 160, 52, -47, "000A1B2C3D5F", "Office-5G");
    AddRecord(120, 160, 149, -71, "000A1B2C3D60", "Guest");
    g_siteHeader->SelectPointNear(120, 160);

    CColorRangesDlg colors;
    CPointInfoDlg pointInfo;
    CHelpDlg help;
    CAboutDlg about;
    bool ok = Save(colors, out.filePath("dialog-colors.png"));
    ok = Save(pointInfo, out.filePath("dialog-point-info.png")) && ok;
    ok = Save(help, out.filePath("dialog-help.png")) && ok;
    ok = Save(about, out.filePath("dialog-about.png")) && ok;
    g_siteHeader->ClearPoints();
    return ok ? 0 : 1;
}
