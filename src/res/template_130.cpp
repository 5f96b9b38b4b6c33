// Play dialog template: the speed to play at and the recording to play.
#include "res/aux_dialog_templates.h"
#include "res/resource.h"

namespace {

using C = DlgClass;

// "Play" is the default button, so Enter in the speed edit starts the recording chosen.
constexpr DlgControl kControls[] = {
    {-1, C::Static, "Play stream with ? FPS * 10", 7, 10, 104, 8, kStyleNone},
    {IDC_PLAY_SPEED, C::Edit, "", 114, 8, 36, 12, kStyleNone},
    {IDC_PLAY_OPEN_STREAM, C::Button, "Open stream...", 7, 30, 64, 14, kStyleNone},
    {IDC_PLAY_STREAM, C::Button, "Play", 100, 30, 50, 14, kDefaultButton},
};

constexpr DlgTemplate kTemplate{IDD_PLAY, "Dialog", 157, 52, "Liberation Sans", 8, kControls};

}  // namespace

const DlgTemplate& Template130() {
    return kTemplate;
}
