// The help dialog: the built-in manual as one scrolling list of short lines.
#pragma once

#include "dialogs/dialog_builder.h"

class QListWidget;

constexpr int kHelpLineCount = 162;
extern const char* const kHelpLines[kHelpLineCount];

class CHelpDlg : public CTemplateDialog {
    Q_OBJECT
  public:
    explicit CHelpDlg(QWidget* parent = nullptr);
    QListWidget* List() const { return m_list; }

  private:
    QListWidget* m_list = nullptr;  // control 1000
};
