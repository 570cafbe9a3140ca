#include "dialogs/point_info_dlg.h"

#include <QAbstractButton>
#include <QPainter>

#include "dialogs/dialog_ids.h"
#include "dialogs/point_info_lines.h"
#include "survey/site_header.h"

namespace {

// The painted layout is in device pixels for the handheld's 240-pixel-wide screen, where the
// dialog fills the screen width.
constexpr int kHandheldScreenWidth = 240;
constexpr int kFontPixelSize = 11;  // 8 points at 96 dots per inch

struct PaintItem {
    bool bar;
    QRect rect;
};

QRect TextRect(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

// Drawing order; texts take the lines of PointInfoLines in turn.
const PaintItem kPaintItems[] = {
    {false, TextRect(7, 5, 155, 19)},     // "LOCATION INFORMATION"
    {true, QRect(7, 20, 226, 2)},         // bar
    {false, TextRect(7, 25, 77, 39)},     // X
    {false, TextRect(127, 25, 197, 39)},  // Y
    {false, TextRect(7, 45, 115, 59)},    // "INFORMATION"
    {true, QRect(7, 60, 226, 2)},         // bar
    {false, TextRect(7, 65, 77, 79)},     // AP's
    {false, TextRect(7, 85, 115, 99)},    // "STRONGEST AP"
    {true, QRect(7, 100, 226, 2)},        // bar
    {false, TextRect(7, 105, 237, 119)},  // MAC Address
    {false, TextRect(7, 125, 237, 139)},  // SSID
    {false, TextRect(7, 145, 237, 169)},  // RSSI
    {true, QRect(7, 210, 226, 2)},        // bar
};

}  // namespace

CPointInfoDlg::CPointInfoDlg(QWidget* parent) : CTemplateDialog(IDD_POINT_INFO, parent) {
    if (width() < kHandheldScreenWidth) {
        setFixedSize(kHandheldScreenWidth, height());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(Control(IDC_DELETE_POINT))) {
        connect(button, &QAbstractButton::clicked, this, &CPointInfoDlg::OnDeletePoint);
    }
}

void CPointInfoDlg::OnDeletePoint() {
    if (!g_siteHeader) {
        reject();
        return;
    }
    m_deletedByDeleter = m_deleter && m_deleter();
    if (!m_deletedByDeleter) {
        g_siteHeader->DeleteSelectedPoint();
    }
    done(kDeletedResult);
}

void CPointInfoDlg::paintEvent(QPaintEvent*) {
    if (!g_siteHeader) {
        return;
    }
    const std::vector<std::string> lines = PointInfoLines(*g_siteHeader);
    QPainter painter(this);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(kFontPixelSize);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.setBackground(Qt::white);
    painter.setBackgroundMode(Qt::OpaqueMode);
    size_t next = 0;
    for (const PaintItem& item : kPaintItems) {
        if (item.bar) {
            painter.fillRect(item.rect, QColor(0, 0, 255));
        } else if (next < lines.size()) {
            painter.drawText(item.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                             QString::fromUtf8(lines[next++].c_str()));
        }
    }
}
