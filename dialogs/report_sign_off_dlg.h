// The desktop workspace's sign-off: the handheld's pad and buttons, and
// beside them the report's customer, surveyor and notes, which the save keeps
// in the site's sidecar for the report's cover.
#pragma once

#include "dialogs/sign_off_dlg.h"
#include "sitefile/site_meta.h"

class QLineEdit;
class QPlainTextEdit;

class CReportSignOffDlg : public CSignOffDlg {
    Q_OBJECT
  public:
    explicit CReportSignOffDlg(QWidget* parent = nullptr);

    void SetFields(const sitefile::ReportFields& fields);
    // As typed, each cut to what a sidecar keeps.
    sitefile::ReportFields Fields() const;

    QLineEdit& Customer() { return *m_customer; }
    QLineEdit& Surveyor() { return *m_surveyor; }
    QPlainTextEdit& Notes() { return *m_notes; }

  private:
    QLineEdit* m_customer;
    QLineEdit* m_surveyor;
    QPlainTextEdit* m_notes;
};
