#include "dialogs/dialog_script.h"

#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <limits>
#include <memory>

#include "dialogs/about_dlg.h"
#include "dialogs/color_ranges_dlg.h"
#include "dialogs/dialog_ids.h"
#include "dialogs/help_dlg.h"
#include "dialogs/point_info_dlg.h"
#include "dialogs/point_info_lines.h"
#include "survey/site_header.h"

namespace {

// The text label to the right of `control` whose vertical centre is nearest to its own.
QString LabelBeside(const QWidget& dialog, const QWidget& control) {
    const QRect r = control.geometry();
    const QLabel* best = nullptr;
    int bestDistance = std::numeric_limits<int>::max();
    for (const QLabel* label : dialog.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        const QRect l = label->geometry();
        if (label->text().isEmpty() || l.left() < r.right()) {
            continue;
        }
        const int distance = qAbs(l.center().y() - r.center().y());
        if (distance < bestDistance) {
            bestDistance = distance;
            best = label;
        }
    }
    return best ? best->text() : QString();
}

QStringList DescribeSwatches(CColorRangesDlg& dialog) {
    QStringList lines;
    for (int n = 1; n <= CColorRangesDlg::kSwatchCount; ++n) {
        CColorSwatch* swatch = dialog.Swatch(n);
        if (!swatch) {
            continue;
        }
        const QImage image = swatch->grab().toImage();
        const QColor color =
            image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
        lines << QStringLiteral("SWATCH %1 %2 %3")
                     .arg(n)
                     .arg(color.name(QColor::HexRgb).toUpper())
                     .arg(LabelBeside(dialog, *swatch));
    }
    return lines;
}

QStringList DescribeHelp(CHelpDlg& dialog) {
    QStringList lines{QStringLiteral("DIALOG ") + dialog.windowTitle()};
    if (const QListWidget* list = dialog.List()) {
        for (int i = 0; i < list->count(); ++i) {
            lines << QStringLiteral("ITEM ") + list->item(i)->text();
        }
    }
    return lines;
}

// Title, then every text of the dialog's labels in template order.
QStringList DescribeTexts(QDialog& dialog) {
    QStringList lines{QStringLiteral("DIALOG ") + dialog.windowTitle()};
    for (const QLabel* label : dialog.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (!label->text().isEmpty()) {
            lines << QStringLiteral("ITEM ") + label->text();
        }
    }
    return lines;
}

}  // namespace

QStringList PointInfoScriptLines(const CSiteHeader& header) {
    QStringList lines;
    for (const std::string& line : PointInfoLines(header)) {
        lines << QStringLiteral("INFO ") + QString::fromUtf8(line.c_str());
    }
    return lines;
}

QStringList DescribeDialog(QDialog& dialog) {
    if (auto* colors = qobject_cast<CColorRangesDlg*>(&dialog)) {
        return DescribeSwatches(*colors);
    }
    if (auto* help = qobject_cast<CHelpDlg*>(&dialog)) {
        return DescribeHelp(*help);
    }
    if (qobject_cast<CPointInfoDlg*>(&dialog)) {
        return g_siteHeader ? PointInfoScriptLines(*g_siteHeader) : QStringList();
    }
    return DescribeTexts(dialog);
}

bool DescribeNamedDialog(const QString& name, QStringList& lines) {
    std::unique_ptr<CTemplateDialog> dialog;
    if (name == QLatin1String("colors")) {
        dialog = std::make_unique<CColorRangesDlg>();
    } else if (name == QLatin1String("help")) {
        dialog = std::make_unique<CHelpDlg>();
    } else if (name == QLatin1String("about")) {
        dialog = std::make_unique<CAboutDlg>();
    } else {
        return false;
    }
    dialog->show();
    lines = DescribeDialog(*dialog);
    dialog->close();
    return true;
}
