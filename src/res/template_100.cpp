// About box template.
#include "res/dialog_template.h"
#include "res/resource.h"

namespace {

using C = DlgClass;

constexpr DlgControl kControls[] = {
    {IDC_ABOUT_ICON, C::Custom, "", 14, 14, 21, 20, kStyleNone},
    {IDC_ABOUT_TEXT, C::Static, "Thermal Imaging Software (Ver:1.03)", 42, 14, 150, 8, kStyleNone},
    {IDOK, C::Button, "確定", 153, 40, 50, 14, kDefaultButton},
};

constexpr DlgTemplate kTemplate{IDD_ABOUTBOX, "關於 mfcVELK", 210, 62, "Liberation Sans", 8,
                                kControls};

}  // namespace

const DlgTemplate& Template100() {
    return kTemplate;
}
