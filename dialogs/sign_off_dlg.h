// The sign-off dialog shown by the save (template 133): a signature pad, a
// button that clears it and the button that goes on to save.
#pragma once

#include "dialogs/dialog_builder.h"
#include "dialogs/signature_pad.h"

constexpr int IDD_SIGN_OFF = 133;
constexpr int IDC_SIGNATURE = 1004;
constexpr int IDC_CLEAR_SIGNATURE = 1002;

class CSignOffDlg : public CTemplateDialog {
    Q_OBJECT
  public:
    explicit CSignOffDlg(QWidget* parent = nullptr);

    CSignaturePad& Pad() { return *m_pad; }
    // The save's pixel source; valid until the dialog object is destroyed.
    uint32_t PixelQuery(int x, int y) const { return m_pad->PixelQuery(x, y); }

  private:
    CSignaturePad* m_pad;
};
