#include "sitefile/sign_off_dlg.h"

#include <QFont>
#include <QFontMetrics>
#include <QPushButton>

namespace {

// Dialog units to pixels with the dialog font's average character width and
// height, as dialog templates are laid out.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const QString sample =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        m_charWidth = (metrics.horizontalAdvance(sample) / 26 + 1) / 2;
        m_charHeight = metrics.height();
    }
    QRect Rect(int x, int y, int cx, int cy) const { return QRect(X(x), Y(y), X(cx), Y(cy)); }
    int X(int units) const { return units * m_charWidth / 4; }
    int Y(int units) const { return units * m_charHeight / 8; }

  private:
    int m_charWidth;
    int m_charHeight;
};

}  // namespace

CSignOffDlg::CSignOffDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QString::number(IDD_SIGN_OFF));
    setWindowTitle(QStringLiteral("Sign Off On Survey"));
    QFont font = this->font();
    font.setPointSize(8);
    setFont(font);
    const DialogUnits units(font);
    setFixedSize(units.X(139), units.Y(109));

    m_pad = new CSignaturePad(this);
    m_pad->setObjectName(QString::number(IDC_SIGNATURE));
    m_pad->TakeOver(units.Rect(7, 7, 125, 46));

    auto* clear = new QPushButton(QStringLiteral("CLEAR SIGNATURE"), this);
    clear->setObjectName(QString::number(IDC_CLEAR_SIGNATURE));
    clear->setGeometry(units.Rect(7, 69, 125, 14));
    clear->setAutoDefault(false);
    connect(clear, &QPushButton::clicked, m_pad, &CSignaturePad::Clear);

    auto* save = new QPushButton(QStringLiteral("SAVE SITE SURVEY"), this);
    save->setObjectName(QStringLiteral("1"));
    save->setGeometry(units.Rect(7, 88, 125, 14));
    save->setDefault(true);
    connect(save, &QPushButton::clicked, this, &QDialog::accept);
}
