// The sign-off dialog shown by the save: a signature pad, a button that clears
// it and the button that goes on to save.
#pragma once

#include <QDialog>

#include "sitefile/signature_pad.h"

constexpr int IDD_SIGN_OFF = 133;
constexpr int IDC_SIGNATURE = 1004;
constexpr int IDC_CLEAR_SIGNATURE = 1002;

class CSignOffDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CSignOffDlg(QWidget* parent = nullptr);

    CSignaturePad& Pad() { return *m_pad; }
    // The save's pixel source; valid until the dialog object is destroyed.
    uint32_t PixelQuery(int x, int y) const { return m_pad->PixelQuery(x, y); }

  private:
    CSignaturePad* m_pad;
};
