// The about box: application icon, product line and version.
#pragma once

#include "dialogs/dialog_builder.h"

class CAboutDlg : public CTemplateDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
