// Dialog templates and the builder that lays them out as Qt widgets.
//
// A template lives in res/dialogs/<id>-<name>.json and is reached as ":/dialogs/<id>.json":
//   {"id", "name", "title", "rect": [x, y, width, height], "font": {"face", "points"},
//    "styles": [...], "controls": [{"class": "static|button|listbox", "id", "name", "text",
//    "image", "rect": [x, y, width, height], "styles": [...]}, ...]}
// Positions and sizes are dialog units. The builder converts them to pixels the way the
// handheld's dialog manager does: x * average character width / 4 and y * character
// height / 8 of the dialog's font, each value rounded on its own.
//
// Every control keeps its numeric identifier as its object name ("1001"); controls without an
// identifier (-1) have no object name. All controls carry the identifier in the dynamic
// property "controlId".
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>
#include <vector>

struct DialogControlTemplate {
    QString className;  // "static", "button" or "listbox"
    int id = -1;
    QString name;   // symbolic name, e.g. "IDC_SWATCH1" (informational)
    QString text;   // caption; empty for none
    QString image;  // icon statics: resource path of the picture
    QRect rect;     // dialog units
    QStringList styles;

    bool HasStyle(const char* style) const { return styles.contains(QLatin1String(style)); }
};

struct DialogTemplate {
    int id = 0;
    QString name;
    QString title;
    QRect rect;  // dialog units; width and height are the client area
    QString fontFace;
    int fontPoints = 8;
    QStringList styles;
    std::vector<DialogControlTemplate> controls;
};

// The dialog units of a font: the platform's "dialog base units".
struct DialogBaseUnits {
    int cx = 0;  // average character width of "A".."Z" "a".."z", rounded
    int cy = 0;  // character height (ascent + descent, each rounded up)
};

// Parses a template; false (and a reason in *error) when the text is not a valid template.
bool ParseDialogTemplate(const QByteArray& json, DialogTemplate& tpl, QString* error = nullptr);
// Loads template `id` from the resources; false when it is missing or malformed.
bool LoadDialogTemplate(int id, DialogTemplate& tpl);

// The concrete font for a template font. "System" is the handheld's dialog font: it maps to
// Liberation Sans; the size is converted at the handheld's 96 dots per inch (8 points ->
// 11-pixel em), which gives the handheld's base units of 6 x 13.
QFont DialogFont(const QString& face, int points);
DialogBaseUnits BaseUnitsOf(const QFont& font);
// Rounded a * b / c, as the platform's MulDiv.
int MulDivRound(int a, int b, int c);
QRect DialogUnitsToPixels(const QRect& du, const DialogBaseUnits& units);

// Lays the template out on `dialog`: title, window flags, font, fixed client size and one child
// widget per control. Push button 1 accepts and 2 rejects the dialog.
void BuildDialog(QDialog& dialog, const DialogTemplate& tpl);

// The control with identifier `id` among the dialog's children, or null.
QWidget* FindControl(const QWidget& dialog, int id);

// Puts `replacement` in the place of control `id`: it is re-parented to the dialog and takes the
// control's geometry, object name, identifier and visibility; the original control is deleted.
// This is how custom windows (colour swatches, the signature pad) take over a template's
// placeholder statics. Returns `replacement`, or null (and deletes nothing) when there is no
// such control.
QWidget* TakeOverControl(QWidget& dialog, int id, QWidget* replacement);

// A dialog built from a template. Run it with UiServices::RunModal (or exec()).
class CTemplateDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CTemplateDialog(int templateId, QWidget* parent = nullptr);

    int TemplateId() const { return m_templateId; }
    bool IsBuilt() const { return m_built; }
    QWidget* Control(int id) const { return FindControl(*this, id); }
    const DialogTemplate& Template() const { return m_template; }

  private:
    int m_templateId;
    bool m_built = false;
    DialogTemplate m_template;
};
