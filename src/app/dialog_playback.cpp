// Play-back from the main dialog: the play-back timers and their stop.
#include "app/mfc_velk_dlg.h"
#include "controls/color_static.h"
#include "res/resource.h"

void CmfcVELKDlg::StopPlayback() {
    KillTimer(IDT_PLAY_BDS);
    KillTimer(IDT_PLAY_TXT);
    KillTimer(IDT_PLAY_BIN);
    m_player.ClosePlay();
    m_playFrame->hide();
}
