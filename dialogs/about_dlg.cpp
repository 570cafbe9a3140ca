#include "dialogs/about_dlg.h"

#include "dialogs/dialog_ids.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CTemplateDialog(IDD_ABOUT, parent) {}
