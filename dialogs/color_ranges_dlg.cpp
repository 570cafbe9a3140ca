#include "dialogs/color_ranges_dlg.h"

#include <QColor>
#include <QPainter>

#include "coverage/rssi_bands.h"
#include "dialogs/dialog_ids.h"

CColorSwatch::CColorSwatch(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CColorSwatch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgb(ColorRefToRgb(m_color)));
}

CColorRangesDlg::CColorRangesDlg(QWidget* parent) : CTemplateDialog(IDD_COLOR_RANGES, parent) {
    static_assert(kSwatchCount == kRssiBandCount, "one swatch per RSSI band");
    for (int i = 0; i < kSwatchCount; ++i) {
        auto* swatch = new CColorSwatch;
        swatch->SetColor(kRssiBands[i].colorRef);
        if (TakeOverControl(*this, IDC_SWATCH1 + i, swatch)) {
            m_swatch[i] = swatch;
        } else {
            delete swatch;
        }
    }
}

CColorSwatch* CColorRangesDlg::Swatch(int n) const {
    return n >= 1 && n <= kSwatchCount ? m_swatch[n - 1] : nullptr;
}
