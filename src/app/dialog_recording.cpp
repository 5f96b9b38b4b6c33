// Recording from the main dialog: "Save to...", "Rec", "Stop", the recording step of each
// processed frame and the video timer. The recording itself (its writer thread, the video tick,
// files, splitting, disk checks) is CRecordingRun in the core; this file only reads controls and
// tells the user.
#include <QFileDialog>
#include <QFileInfo>

#include "app/mfc_velk_dlg.h"
#include "controls/color_static.h"
#include "recording/file_kind.h"
#include "res/resource.h"

namespace {

constexpr char kSaveStoppedLine[] =
    "[Save to File]Save to file is stopped. Maybe disk is full.\r\n";

// The save dialog's filters, in the order of the recording types 1, 2, 3.
const QString kSaveFilters[] = {QStringLiteral("Binary data streams(*.bds)"),
                                QStringLiteral("Textfiles(*.txt)"),
                                QStringLiteral("Audio Video Interleave(*.avi)")};

}  // namespace

void CmfcVELKDlg::OnSaveTo() {
    QString selectedFilter = kSaveFilters[0];
    const QString filters = kSaveFilters[0] + QStringLiteral(";;") + kSaveFilters[1] +
                            QStringLiteral(";;") + kSaveFilters[2];
    const QString path = QFileDialog::getSaveFileName(this, QString(), m_lastFolder.Folder(),
                                                      filters, &selectedFilter);
    if (path.isEmpty()) {
        return;
    }
    m_lastFolder.RememberFolderOf(path);
    int filterIndex = 3;
    for (int i = 0; i < 3; ++i) {
        if (selectedFilter == kSaveFilters[i]) {
            filterIndex = i + 1;
        }
    }
    SaveTo(path.toStdString(), filterIndex);
}

void CmfcVELKDlg::SaveTo(std::string path, int filterIndex) {
    const int type = filterIndex == 1   ? kRecordingBinary
                     : filterIndex == 2 ? kRecordingText
                                        : kRecordingVideo;
    const char* extension = ExtensionOf(FileKindOfRecordingType(type));
    if (QFileInfo(QString::fromStdString(path))
            .suffix()
            .compare(QLatin1String(extension), Qt::CaseInsensitive) != 0) {
        path += std::string(".") + extension;
    }
    m_isRecordingStopPosted = false;
    if (!m_recordingRun.OpenFile(type, path)) {
        AppendLog("Save To File Fail.\r\n");
        // The reason (missing directory, no permission, ...) helps more than the bare line.
        AppendLog("[Save to File]" + m_recordingRun.Recorder().GetLastError() + "\r\n");
    }
}

void CmfcVELKDlg::OnRec() {
    if (!m_recordingRun.Recorder().IsFileOpen()) {
        AppendLog("[Save to File]Specify a file to record to by clicking Save to...\r\n");
        return;
    }
    const int everyN = GetDlgItemInt(IDC_EVERY_FRAME);
    if (everyN > 1) {
        m_recordEveryN = everyN;
    }
    m_isRecordingStopPosted = false;
    RecordingRunRules rules;
    rules.everyN = m_recordEveryN;
    if (!m_recordingRun.Begin(rules)) {
        return;  // the run has said why, as a stop
    }
    if (m_recordingRun.Recorder().GetType() == kRecordingVideo) {
        SetTimer(IDT_AVI_FRAME, static_cast<int>(kVideoFramePeriod.count()));
    }
    m_controls.recFrame->show();
    m_statusReadouts.StartRecording();
}

void CmfcVELKDlg::OnStop() {
    if (m_recordingRun.IsTaking() && m_recordingRun.Recorder().IsFileOpen()) {
        const bool wasVideo = m_recordingRun.Recorder().GetType() == kRecordingVideo;
        m_recordingRun.Stop();
        if (wasVideo) {
            KillTimer(IDT_AVI_FRAME);
        }
        m_controls.recFrame->hide();
    }
    StopPlayback();
}

void CmfcVELKDlg::ConnectRecordingRun() {
    RecordingRunListener listener;
    listener.notice = [this](const std::string& notice) { ReportRecorderNotice(notice); };
    listener.stopped = [this](const std::string& reason) { PostRecordingStopped(reason); };
    m_recordingRun.SetListener(std::move(listener));
}

void CmfcVELKDlg::RecordProcessedFrame(char modeLetter, const std::string& text,
                                       const uint8_t* raw) {
    m_recordingRun.TakeFrame({.modeLetter = modeLetter,
                              .text = text,
                              .block = raw,
                              .unit = m_tempUnit.load(),
                              .subtractingOffsets = m_pipeline.IsElOffsetSubtraction() != 0});
}

void CmfcVELKDlg::ReportRecorderNotice(const std::string& notice) {
    PostToGui([this, notice] { AppendLog("[Save to File]" + notice + "\r\n"); });
}

void CmfcVELKDlg::OnVideoFrameTimer() {
    if (!m_recordingRun.IsTaking() || !m_recordingRun.Recorder().IsFileOpen()) {
        return;
    }
    // "Save to..." may have switched the recording to a stream file while the timer ran: that
    // is no failed write, so the timer just ends.
    if (m_recordingRun.Recorder().GetType() != kRecordingVideo) {
        KillTimer(IDT_AVI_FRAME);
        return;
    }
    {
        std::lock_guard lock(m_lastImageLock);
        if (!m_pLastImage) {
            return;
        }
        m_recordingRun.KeepDisplayImage(m_pLastImage.get());
    }
    m_recordingRun.VideoTick();
}

void CmfcVELKDlg::PostRecordingStopped(const std::string& reason) {
    // A write that failed keeps failing for the frames already on their way: the module is
    // turned off and the user told once per stop.
    if (m_isRecordingStopPosted.exchange(true)) {
        return;
    }
    PostToGui([this, reason] {
        if (m_isClosing) {
            return;
        }
        OnTurnOff();
        AppendLog(kSaveStoppedLine);
        if (!reason.empty()) {
            AppendLog("[Save to File]" + reason + "\r\n");
        }
    });
}
