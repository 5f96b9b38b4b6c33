// The dialog's side of the status bar readouts (CStatusReadouts): what the program is doing,
// for pane 1, and the region of interest and pane texts that tests and the key filter reach
// through the dialog.
#include "app/mfc_velk_dlg.h"
#include "res/resource.h"

StatusActivity CmfcVELKDlg::ActivityNow() const {
    StatusActivity activity;
    if (m_recordingRun.IsTaking() && m_recordingRun.Recorder().IsFileOpen()) {
        activity.recording = StatusActivity::Recording{
            m_recordingRun.Recorder().GetPath(), m_recordingRun.Parts(), m_recordingRun.Written()};
    }
    activity.playing =
        IsTimerActive(IDT_PLAY_BDS) || IsTimerActive(IDT_PLAY_TXT) || IsTimerActive(IDT_PLAY_BIN);
    return activity;
}

std::optional<SensorRegion> CmfcVELKDlg::Region() const {
    return m_statusReadouts.Region();
}

void CmfcVELKDlg::SetRegion(std::optional<SensorRegion> region) {
    m_statusReadouts.SetRegion(region);
}

QString CmfcVELKDlg::StatusPaneText(int pane) const {
    return m_statusReadouts.PaneText(pane);
}
