#pragma once
// Creates the widgets of a dialog template on a parent widget, converting dialog units to pixels
// from the template font the way dialog units are defined (a quarter of the average character
// width, an eighth of the character height). GUI thread only.
#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <map>

#include "res/dialog_template.h"

class QButtonGroup;
class QComboBox;
class QWidget;

struct DialogUnits {
    double baseX = 6.0;   // average character width in pixels
    double baseY = 13.0;  // character height in pixels

    int X(int du) const;
    int Y(int du) const;
    QRect Rect(int x, int y, int cx, int cy) const;
};

DialogUnits DialogUnitsForFont(const QFont& font);
QFont TemplateFont(const DlgTemplate& dlgTemplate);

// Makes the widget of a control of class Custom; returning nullptr leaves a blank placeholder.
using CustomControlFactory = std::function<QWidget*(const DlgControl&, QWidget* parent)>;

// The widgets built from one template, by control ID.
struct DialogControls {
    std::map<int, QWidget*> byId;
    DialogUnits units;
};

// The client area the template takes in its own font.
QSize DialogClientSize(const DlgTemplate& dlgTemplate);

// The scale, at most 1, at which a client area of `size` fits into `room`; never below
// kMinDialogScale, where the template font could no longer be read.
inline constexpr double kMinDialogScale = 0.5;
double ScaleToFit(QSize size, QSize room);

// Creates every control of the template as a child of parent, sizes parent's client area to the
// template and applies the template's font. Hidden controls exist but are never shown. A `scale`
// below 1 shrinks the dialog units and the font alike, so that the layout keeps its proportions.
DialogControls BuildDialogControls(QWidget* parent, const DlgTemplate& dlgTemplate,
                                   const CustomControlFactory& customFactory, double scale = 1.0);

// The ID a widget was built for, or -1.
int DialogControlId(const QWidget* widget);

// Adds an item to a combo box; a combo built with the sorted style keeps its items in ascending
// case-insensitive order (so "COM10" comes before "COM2"). Returns the item's index.
int ComboAddString(QComboBox* combo, const QString& text);
