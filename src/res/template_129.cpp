// Options dialog template: temperature unit and frame mirroring. The hidden controls belong to
// settings the module's firmware fixes; they are created so the dialog's state stays complete.
#include "res/aux_dialog_templates.h"
#include "res/resource.h"

namespace {

using C = DlgClass;

constexpr DlgControl kControls[] = {
    {-1, C::Static, "Options", 68, 7, 46, 29, kStyleNone},
    {-1, C::Group, "Temperatures in", 7, 47, 82, 87, kStyleNone},
    {IDC_OPT_KELVIN, C::Radio, "kelvin", 14, 68, 34, 10, kGroupStart},
    {IDC_OPT_CELSIUS, C::Radio, "degree Celsius", 14, 87, 63, 10, kStyleNone},
    {IDC_OPT_FAHRENHEIT, C::Radio, "degree fahrenheit", 14, 106, 74, 10, kStyleNone},
    {-1, C::Group, "Mirror Frame", 91, 46, 76, 88, kStyleNone},
    {IDC_OPT_MIRROR_X, C::Check, "X-Axis", 101, 66, 36, 10, kStyleNone},
    {IDC_OPT_MIRROR_Y, C::Check, "Y-Axis", 100, 90, 36, 10, kStyleNone},
    {IDC_OPT_MIRROR_BOTH, C::Check, "Both", 100, 114, 31, 10, kStyleNone},
    {IDOK, C::Button, "OK", 7, 156, 50, 14, kDefaultButton},
    {IDCANCEL, C::Button, "Cancel", 114, 156, 50, 14, kStyleNone},

    // Hidden controls.
    {-1, C::Group, "Multithreading", 3, 14, 49, 24, kHidden},
    {IDC_OPT_MULTITHREADING, C::Check, "Enabled", 7, 23, 41, 10, kHidden | kDisabled},
    {-1, C::Group, "Direct2D", 52, 14, 49, 24, kHidden},
    {IDC_OPT_DIRECT2D, C::Check, "Enabled", 56, 23, 41, 10, kHidden | kDisabled},
    {-1, C::Group, "Temperatures Calculation", 3, 14, 100, 30, kHidden},
    {IDC_OPT_CALC_HW, C::Radio, "by HW", 15, 23, 40, 10, kHidden | kGroupStart},
    {IDC_OPT_CALC_SW, C::Radio, "by GUI (SW-Thermals)", 7, 29, 90, 10, kHidden},
    {IDC_OPT_CALC_HW_CONST, C::Radio, "by GUI (HW-Const.)", 7, 29, 90, 10, kHidden},
    {-1, C::Static, "ε= ", 62, 24, 10, 8, kHidden},
    {IDC_OPT_EPSILON, C::Edit, "", 73, 22, 24, 12, kHidden},
    {-1, C::Static, "%", 99, 24, 8, 8, kHidden},
};

constexpr DlgTemplate kTemplate{IDD_OPTIONS, "Dialog", 180, 177, "Liberation Sans", 8, kControls};

}  // namespace

const DlgTemplate& Template129() {
    return kTemplate;
}
