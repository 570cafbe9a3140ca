#include "dialogs/help_dlg.h"

#include <QListWidget>

#include "dialogs/dialog_ids.h"

CHelpDlg::CHelpDlg(QWidget* parent) : CTemplateDialog(IDD_HELP, parent) {
    m_list = qobject_cast<QListWidget*>(Control(IDC_HELP_LIST));
    if (!m_list) {
        return;
    }
    // Rebuilt on every opening: the list starts at the top with nothing selected.
    for (const char* line : kHelpLines) {
        m_list->addItem(QString::fromUtf8(line));
    }
}
