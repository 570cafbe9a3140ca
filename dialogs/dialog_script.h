// What the script command `dialog colors|help|about` and a point-information hold print.
#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class CSiteHeader;

// The lines describing an open dialog, by its template:
//   colour ranges: "SWATCH <n> #RRGGBB <label>" (the colour read back from the swatch's
//                  painted pixels, the label beside it);
//   help, about:   "DIALOG <title>", then "ITEM <text>" per list line or per text;
//   point info:    "INFO <line>" per text line, in drawing order.
// Any other dialog gives its title and the texts of its labels.
QStringList DescribeDialog(QDialog& dialog);

// "INFO <line>" for each text line of the point information dialog.
QStringList PointInfoScriptLines(const CSiteHeader& header);

// Opens the named dialog ("colors", "help" or "about"), describes it and closes it. False for
// an unknown name.
bool DescribeNamedDialog(const QString& name, QStringList& lines);
