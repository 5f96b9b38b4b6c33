#include "app/main_controls.h"

#include "controls/color_gradient.h"
#include "controls/color_static.h"
#include "controls/dx_static.h"
#include "controls/poly_chart.h"
#include "res/dialog_builder.h"
#include "res/resource.h"

QWidget* MainControls::Item(int id) const {
    const auto it = byId.find(id);
    return it == byId.end() ? nullptr : it->second;
}

MainControls BuildMainControls(QWidget* dialog, double scale) {
    MainControls controls;
    const CustomControlFactory factory = [&controls](const DlgControl& control,
                                                     QWidget* parent) -> QWidget* {
        switch (control.id) {
            case IDC_PALETTE_BAR:
                return controls.paletteBar = new CColorGradient(parent);
            case IDC_CHART:
                return controls.chart = new CPolyChart(parent);
            case IDC_IMAGE:
                return controls.image = new CDxStatic(parent);
            case IDC_REC_FRAME:
                return controls.recFrame = new CColorStatic(parent);
            case IDC_PLAY_FRAME:
                return controls.playFrame = new CColorStatic(parent);
            default:
                return nullptr;
        }
    };
    controls.byId = BuildDialogControls(dialog, Template102(), factory, scale).byId;
    return controls;
}
