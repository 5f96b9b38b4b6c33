// Buffer status dialog template: how far the frame and offset stacks have filled.
#include "res/aux_dialog_templates.h"
#include "res/resource.h"

namespace {

using C = DlgClass;

constexpr DlgControl kControls[] = {
    {IDC_BUF_PERCENT, C::Static, "Buffer filled to 100 %", 8, 8, 88, 8, kStyleNone},
    {IDC_BUF_STACK_NAME, C::Static, "Filling el. Offset Stack", 132, 8, 88, 8, kStyleNone},
    {IDC_BUF_FILL_BAR, C::Custom, "", 8, 24, 212, 10, kStyleNone},
};

constexpr DlgTemplate kTemplate{IDD_BUF_STATUS, "Buffer Status", 228, 44, "Liberation Sans", 8,
                                kControls};

}  // namespace

const DlgTemplate& Template131() {
    return kTemplate;
}
