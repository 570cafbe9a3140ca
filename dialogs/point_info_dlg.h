// The point information dialog: position, access-point count and strongest access point of
// the point selected on the map, with a button that deletes the point.
#pragma once

#include <functional>

#include "dialogs/dialog_builder.h"

class CPointInfoDlg : public CTemplateDialog {
    Q_OBJECT
  public:
    static constexpr int kDeletedResult = -2;

    explicit CPointInfoDlg(QWidget* parent = nullptr);

    // The delete button: removes the selected point from the survey list and ends with -2.
    void OnDeletePoint();
    // Who removes it instead (an undoable deletion); one that answers false
    // leaves it to the dialog.
    void SetDeleter(std::function<bool()> deleter) { m_deleter = std::move(deleter); }
    bool DeletedByDeleter() const { return m_deletedByDeleter; }

  private:
    std::function<bool()> m_deleter;
    bool m_deletedByDeleter = false;

  protected:
    void paintEvent(QPaintEvent* event) override;
};
