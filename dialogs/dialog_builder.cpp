#include "dialogs/dialog_builder.h"

#include <QFile>
#include <QFontMetricsF>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <cmath>

#include "res/resources.h"

// The resources of a static library are registered by hand: nothing else refers to them.
// Templates refer to the program's pictures (the application icon), so those come too.
static void InitDialogResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(dialogs);
        InitKestrowResources();
        return true;
    }();
    (void)done;
}

namespace {

constexpr int kHandheldDpi = 96;
const char kSystemFontFamily[] = "Liberation Sans";

// A list box as the platform draws it: no sorting, no eliding, and no horizontal scroll range
// unless one is set, so text beyond the width is cut off. With LBS_DISABLENOSCROLL the scroll
// bars stay visible and are disabled when there is nothing to scroll.
class CListBoxControl : public QListWidget {
  public:
    CListBoxControl(QWidget* parent, bool keepScrollBars) : QListWidget(parent) {
        setSortingEnabled(false);
        setTextElideMode(Qt::ElideNone);
        setWordWrap(false);
        setUniformItemSizes(true);
        setSelectionMode(QAbstractItemView::SingleSelection);
        setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        const Qt::ScrollBarPolicy policy =
            keepScrollBars ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded;
        setVerticalScrollBarPolicy(policy);
        setHorizontalScrollBarPolicy(policy);
    }

  protected:
    void updateGeometries() override {
        QListWidget::updateGeometries();
        horizontalScrollBar()->setRange(0, 0);
        horizontalScrollBar()->setEnabled(false);
        verticalScrollBar()->setEnabled(verticalScrollBar()->maximum() > 0);
    }
};

bool ReadRect(const QJsonValue& value, QRect& rect) {
    const QJsonArray a = value.toArray();
    if (a.size() != 4) {
        return false;
    }
    for (const QJsonValue& v : a) {
        if (!v.isDouble()) {
            return false;
        }
    }
    rect = QRect(a[0].toInt(), a[1].toInt(), a[2].toInt(), a[3].toInt());
    return rect.width() >= 0 && rect.height() >= 0;
}

QStringList ReadStrings(const QJsonValue& value) {
    QStringList out;
    for (const QJsonValue& v : value.toArray()) {
        out.append(v.toString());
    }
    return out;
}

bool Fail(QString* error, const QString& reason) {
    if (error) {
        *error = reason;
    }
    return false;
}

QWidget* MakeControl(const DialogControlTemplate& c, QDialog& dialog) {
    if (c.className == QLatin1String("button")) {
        auto* button = new QPushButton(c.text, &dialog);
        button->setDefault(c.HasStyle("BS_DEFPUSHBUTTON"));
        if (c.id == 1) {
            QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::accept);
        } else if (c.id == 2) {
            QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::reject);
        }
        if (!c.HasStyle("WS_TABSTOP")) {
            button->setFocusPolicy(Qt::ClickFocus);
        }
        return button;
    }
    if (c.className == QLatin1String("listbox")) {
        auto* list = new CListBoxControl(&dialog, c.HasStyle("LBS_DISABLENOSCROLL"));
        if (!c.HasStyle("WS_BORDER")) {
            list->setFrameShape(QFrame::NoFrame);
        }
        return list;
    }
    if (c.HasStyle("SS_BLACKFRAME") || c.HasStyle("SS_GRAYFRAME") || c.HasStyle("SS_ETCHEDFRAME")) {
        // A frame static draws only its outline.
        auto* frame = new QFrame(&dialog);
        frame->setFrameShape(QFrame::Box);
        frame->setFrameShadow(c.HasStyle("SS_ETCHEDFRAME") ? QFrame::Sunken : QFrame::Plain);
        return frame;
    }
    auto* label = new QLabel(&dialog);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (c.HasStyle("SS_ICON")) {
        // An icon static shows the picture at its own size from the control's top left.
        InitDialogResources();
        QPixmap picture(c.image);
        if (picture.isNull()) {
            picture.load(c.image + QStringLiteral(".png"));
        }
        if (!picture.isNull()) {
            label->setPixmap(picture);
        }
    } else {
        label->setText(c.text);
        label->setWordWrap(!c.HasStyle("SS_LEFTNOWORDWRAP"));
    }
    return label;
}

}  // namespace

bool ParseDialogTemplate(const QByteArray& json, DialogTemplate& tpl, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull() || !doc.isObject()) {
        return Fail(error, QStringLiteral("not a JSON object: ") + parseError.errorString());
    }
    const QJsonObject o = doc.object();
    DialogTemplate t;
    t.id = o.value("id").toInt();
    t.name = o.value("name").toString();
    t.title = o.value("title").toString();
    if (!ReadRect(o.value("rect"), t.rect)) {
        return Fail(error, QStringLiteral("dialog rect must be four numbers"));
    }
    const QJsonObject font = o.value("font").toObject();
    t.fontFace = font.value("face").toString(QStringLiteral("System"));
    t.fontPoints = font.value("points").toInt(8);
    if (t.fontPoints <= 0) {
        return Fail(error, QStringLiteral("font size must be positive"));
    }
    t.styles = ReadStrings(o.value("styles"));
    for (const QJsonValue& v : o.value("controls").toArray()) {
        const QJsonObject co = v.toObject();
        DialogControlTemplate c;
        c.className = co.value("class").toString();
        if (c.className != QLatin1String("static") && c.className != QLatin1String("button") &&
            c.className != QLatin1String("listbox")) {
            return Fail(error, QStringLiteral("unknown control class '%1'").arg(c.className));
        }
        c.id = co.value("id").toInt(-1);
        c.name = co.value("name").toString();
        c.text = co.value("text").toString();
        c.image = co.value("image").toString();
        if (!ReadRect(co.value("rect"), c.rect)) {
            return Fail(error, QStringLiteral("control rect must be four numbers"));
        }
        c.styles = ReadStrings(co.value("styles"));
        t.controls.push_back(c);
    }
    tpl = t;
    return true;
}

bool LoadDialogTemplate(int id, DialogTemplate& tpl) {
    InitDialogResources();
    QFile file(QStringLiteral(":/dialogs/%1.json").arg(id));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    return ParseDialogTemplate(file.readAll(), tpl);
}

QFont DialogFont(const QString& face, int points) {
    QFont font(face.compare(QLatin1String("System"), Qt::CaseInsensitive) == 0
                   ? QString::fromLatin1(kSystemFontFamily)
                   : face);
    font.setPixelSize(MulDivRound(points, kHandheldDpi, 72));
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetricsF metrics(font);
    const int alphabetWidth = static_cast<int>(std::lround(metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"))));
    DialogBaseUnits units;
    units.cx = (alphabetWidth / 26 + 1) / 2;
    units.cy = static_cast<int>(std::ceil(metrics.ascent()) + std::ceil(metrics.descent()));
    return units;
}

int MulDivRound(int a, int b, int c) {
    if (c == 0) {
        return -1;  // the platform's answer for a zero divisor
    }
    const long long product = static_cast<long long>(a) * b;
    const bool negative = (product < 0) != (c < 0);
    const long long magnitude = product < 0 ? -product : product;
    const long long divisor = c < 0 ? -static_cast<long long>(c) : c;
    const long long quotient = (magnitude + divisor / 2) / divisor;  // halves round away from 0
    return static_cast<int>(negative ? -quotient : quotient);
}

QRect DialogUnitsToPixels(const QRect& du, const DialogBaseUnits& units) {
    return QRect(MulDivRound(du.x(), units.cx, 4), MulDivRound(du.y(), units.cy, 8),
                 MulDivRound(du.width(), units.cx, 4), MulDivRound(du.height(), units.cy, 8));
}

void BuildDialog(QDialog& dialog, const DialogTemplate& tpl) {
    const QFont font = DialogFont(tpl.fontFace, tpl.fontPoints);
    const DialogBaseUnits units = BaseUnitsOf(font);

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (tpl.styles.contains(QLatin1String("WS_CAPTION"))) {
        flags |= Qt::WindowTitleHint;
    }
    if (tpl.styles.contains(QLatin1String("WS_SYSMENU"))) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    dialog.setWindowFlags(flags);
    dialog.setWindowTitle(tpl.title);
    dialog.setFont(font);

    // Dialogs on the handheld are black on white.
    QPalette palette = dialog.palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    dialog.setPalette(palette);
    dialog.setAutoFillBackground(true);

    const QRect client = DialogUnitsToPixels(tpl.rect, units);
    dialog.setFixedSize(client.size());

    for (const DialogControlTemplate& c : tpl.controls) {
        QWidget* widget = MakeControl(c, dialog);
        widget->setGeometry(DialogUnitsToPixels(c.rect, units));
        widget->setProperty("controlId", c.id);
        if (c.id != -1) {
            widget->setObjectName(QString::number(c.id));
        }
        widget->setVisible(c.HasStyle("WS_VISIBLE"));
    }
}

QWidget* FindControl(const QWidget& dialog, int id) {
    if (id == -1) {
        return nullptr;
    }
    return dialog.findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

QWidget* TakeOverControl(QWidget& dialog, int id, QWidget* replacement) {
    QWidget* original = FindControl(dialog, id);
    if (!original || !replacement) {
        return nullptr;
    }
    replacement->setParent(&dialog);
    replacement->setGeometry(original->geometry());
    replacement->setObjectName(original->objectName());
    replacement->setProperty("controlId", id);
    replacement->setVisible(!original->isHidden());
    replacement->stackUnder(original);
    delete original;
    return replacement;
}

CTemplateDialog::CTemplateDialog(int templateId, QWidget* parent)
    : QDialog(parent), m_templateId(templateId) {
    m_built = LoadDialogTemplate(templateId, m_template);
    if (m_built) {
        BuildDialog(*this, m_template);
    }
}
