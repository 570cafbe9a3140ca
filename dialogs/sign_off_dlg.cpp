#include "dialogs/sign_off_dlg.h"

#include <QAbstractButton>

CSignOffDlg::CSignOffDlg(QWidget* parent) : CTemplateDialog(IDD_SIGN_OFF, parent) {
    m_pad = new CSignaturePad(this);
    // The pad takes the place of the template's empty static and starts white
    // at that control's client size.
    const QWidget* placeholder = Control(IDC_SIGNATURE);
    const QRect geometry = placeholder ? placeholder->geometry() : QRect(10, 11, 188, 75);
    if (!TakeOverControl(*this, IDC_SIGNATURE, m_pad)) {
        m_pad->setObjectName(QString::number(IDC_SIGNATURE));
    }
    m_pad->TakeOver(geometry);
    m_pad->show();
    if (auto* clear = qobject_cast<QAbstractButton*>(Control(IDC_CLEAR_SIGNATURE))) {
        connect(clear, &QAbstractButton::clicked, m_pad, &CSignaturePad::Clear);
    }
}
