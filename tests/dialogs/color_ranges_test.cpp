#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>

#include "coverage/rssi_bands.h"
#include "dialogs/color_ranges_dlg.h"
#include "dialogs/dialog_script.h"
#include "dialogs/qt_app.h"

namespace {

TEST(ColorRangesTest, SwatchesFillTheirStaticsEdgeToEdgeInTheBandColours) {
    TestApp();
    CColorRangesDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "Color of RSSI Values");
    dialog.show();
    for (int n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        CColorSwatch* swatch = dialog.Swatch(n);
        ASSERT_NE(swatch, nullptr);
        EXPECT_EQ(swatch->objectName(), QString::number(1000 + n));
        // 11, 14 + 19 (n - 1), 26 x 8 dialog units
        EXPECT_EQ(swatch->geometry(), QRect(17, MulDivRound(14 + 19 * (n - 1), 13, 8), 39, 13));
        const QImage image = swatch->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(image.size(), swatch->size());
        const QRgb expected = 0xFF000000u | ColorRefToRgb(kRssiBands[n - 1].colorRef);
        int wrong = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                wrong += image.pixel(x, y) != expected ? 1 : 0;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
    // The empty statics were taken over: only the six labels remain as labels.
    EXPECT_EQ(dialog.findChildren<QLabel*>().size(), 6);
}

TEST(ColorRangesTest, ScriptReadsTheColoursBackFromThePaintedSwatches) {
    TestApp();
    QStringList out;
    ASSERT_TRUE(DescribeNamedDialog("colors", out));
    EXPECT_EQ(out, QStringList({
                       "SWATCH 1 #FF0000 greater than -39 dBm",
                       "SWATCH 2 #FF8000 -40 thru -49 dBm",
                       "SWATCH 3 #FFFF00 -50 thru -59 dBm",
                       "SWATCH 4 #00FF00 -60 thru -69 dBm",
                       "SWATCH 5 #0000FF -70 thru -79 dBm",
                       "SWATCH 6 #000000 -80 thru -89 dBm",
                   }));

    // A swatch that paints another colour is reported as painted, not as configured.
    CColorRangesDlg dialog;
    dialog.Swatch(3)->SetColor(0x00123456);
    dialog.show();
    EXPECT_EQ(DescribeDialog(dialog).at(2), "SWATCH 3 #563412 -50 thru -59 dBm");
}

}  // namespace
