#include "dialogs/report_sign_off_dlg.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>
#include <algorithm>

#include "platform/text.h"

namespace {

constexpr int kMargin = 10;
constexpr int kFieldsWidth = 300;

std::string Cut(const QString& text) {
    const std::string utf8 = text.toStdString();
    return utf8.substr(
        0, platform::FittingPrefixLength(utf8.data(), utf8.size(), sitefile::kMaxReportFieldBytes));
}

}  // namespace

CReportSignOffDlg::CReportSignOffDlg(QWidget* parent) : CSignOffDlg(parent) {
    // The template's controls keep their places; the fields take a column
    // to their right, as high as the dialog.
    const QSize pad = size();
    auto* panel = new QWidget(this);
    auto* form = new QFormLayout(panel);
    form->setContentsMargins(0, 0, 0, 0);
    m_customer = new QLineEdit(panel);
    m_customer->setObjectName(QStringLiteral("customer"));
    m_customer->setToolTip(tr("The customer named on the report's cover"));
    m_surveyor = new QLineEdit(panel);
    m_surveyor->setObjectName(QStringLiteral("surveyor"));
    m_surveyor->setToolTip(tr("Who made the survey, named on the report's cover"));
    m_notes = new QPlainTextEdit(panel);
    m_notes->setObjectName(QStringLiteral("notes"));
    m_notes->setToolTip(tr("Notes printed on the report's cover"));
    m_notes->setTabChangesFocus(true);
    form->addRow(tr("&Customer:"), m_customer);
    form->addRow(tr("S&urveyor:"), m_surveyor);
    form->addRow(tr("&Notes:"), m_notes);
    const int height = std::max(pad.height() - 2 * kMargin, form->sizeHint().height());
    panel->setGeometry(pad.width(), kMargin, kFieldsWidth, height);
    setFixedSize(pad.width() + kFieldsWidth + kMargin, height + 2 * kMargin);
}

void CReportSignOffDlg::SetFields(const sitefile::ReportFields& fields) {
    m_customer->setText(QString::fromStdString(fields.customer));
    m_surveyor->setText(QString::fromStdString(fields.surveyor));
    m_notes->setPlainText(QString::fromStdString(fields.notes));
}

sitefile::ReportFields CReportSignOffDlg::Fields() const {
    return {Cut(m_customer->text()), Cut(m_surveyor->text()), Cut(m_notes->toPlainText())};
}
