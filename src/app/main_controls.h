#pragma once
// MainControls: the controls of the main dialog's template 102, built once on the GUI thread at
// the scale the window fits. Every control is found by its ID; the owner-drawn ones, which most
// parts of the dialog draw into, are also kept by name. The widgets belong to the dialog they
// are built into and go with it.
#include <map>

class CColorGradient;
class CColorStatic;
class CDxStatic;
class CPolyChart;
class QWidget;

struct MainControls {
    CColorGradient* paletteBar = nullptr;
    CPolyChart* chart = nullptr;
    CDxStatic* image = nullptr;
    CColorStatic* recFrame = nullptr;   // the red frame behind "Rec"
    CColorStatic* playFrame = nullptr;  // the blue frame behind "Play"
    std::map<int, QWidget*> byId;

    // The widget of a control of template 102, or nullptr.
    QWidget* Item(int id) const;
};

// Builds every control of template 102 into dialog at `scale` (1: as designed).
MainControls BuildMainControls(QWidget* dialog, double scale);
