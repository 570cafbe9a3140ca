// The colour legend: six swatches in the RSSI band colours, each beside its range.
#pragma once

#include <QWidget>
#include <cstdint>

#include "dialogs/dialog_builder.h"

// A plain block of colour that takes over an empty static of a dialog.
class CColorSwatch : public QWidget {
    Q_OBJECT
  public:
    explicit CColorSwatch(QWidget* parent = nullptr);
    void SetColor(uint32_t colorRef) { m_color = colorRef; }  // 0x00BBGGRR
    uint32_t Color() const { return m_color; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    uint32_t m_color = 0;
};

class CColorRangesDlg : public CTemplateDialog {
    Q_OBJECT
  public:
    static constexpr int kSwatchCount = 6;

    explicit CColorRangesDlg(QWidget* parent = nullptr);
    // Swatch n (1 to 6), or null if the template lacked its control.
    CColorSwatch* Swatch(int n) const;

  private:
    CColorSwatch* m_swatch[kSwatchCount] = {};
};
