// Recording from the main dialog: "Save to...", "Rec", "Stop", the recording step of each
// processed frame and the video timer. The recorder itself (files, splitting, disk checks) is
// CStreamRecorder in the core; this file only reads controls and tells the user.
#include <QFileDialog>
#include <QFileInfo>

#include "app/mfc_velk_dlg.h"
#include "controls/color_static.h"
#include "processing/image_scaling.h"
#include "recording/file_kind.h"
#include "res/resource.h"

namespace {

constexpr int kVideoFramePeriodMs = 50;
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
    const QString path =
        QFileDialog::getSaveFileName(this, QString(), QString(), filters, &selectedFilter);
    if (path.isEmpty()) {
        return;
    }
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
    if (!m_recorder.OpenFile(type, path)) {
        AppendLog("Save To File Fail.\r\n");
        // The reason (missing directory, no permission, ...) helps more than the bare line.
        AppendLog("[Save to File]" + m_recorder.GetLastError() + "\r\n");
    }
}

void CmfcVELKDlg::OnRec() {
    if (!m_recorder.IsFileOpen()) {
        AppendLog("[Save to File]Specify a file to record to by clicking Save to...\r\n");
        return;
    }
    const int everyN = GetDlgItemInt(IDC_EVERY_FRAME);
    if (everyN > 1) {
        m_recordEveryN = everyN;
    }
    m_isRecordingStopPosted = false;
    m_isRecording = 1;
    if (m_recorder.GetType() == kRecordingVideo) {
        SetTimer(IDT_AVI_FRAME, kVideoFramePeriodMs);
    }
    m_recFrame->show();
}

void CmfcVELKDlg::OnStop() {
    if (m_isRecording && m_recorder.IsFileOpen()) {
        const bool wasVideo = m_recorder.GetType() == kRecordingVideo;
        m_recorder.CloseFile();
        m_isRecording = 0;
        if (wasVideo) {
            KillTimer(IDT_AVI_FRAME);
        }
        m_recFrame->hide();
    }
    StopPlayback();
}

void CmfcVELKDlg::RecordProcessedFrame(char modeLetter, const std::string& text,
                                       const uint8_t* raw) {
    if (!m_isRecording) {
        return;
    }
    const RecordableFrame frame{modeLetter, text, raw, m_tempUnit.load(),
                                m_pipeline.IsElOffsetSubtraction() != 0};
    if (m_recorder.RecordFrame(frame, m_recordEveryN) == RecordOutcome::kStopped) {
        PostRecordingStopped();
    }
    ReportRecorderNotice();
}

void CmfcVELKDlg::ReportRecorderNotice() {
    if (std::string notice = m_recorder.TakeNotice(); !notice.empty()) {
        PostToGui(
            [this, notice = std::move(notice)] { AppendLog("[Save to File]" + notice + "\r\n"); });
    }
}

void CmfcVELKDlg::OnVideoFrameTimer() {
    if (!m_isRecording || !m_recorder.IsFileOpen()) {
        return;
    }
    // "Save to..." may have switched the recording to a stream file while the timer ran: that
    // is no failed write, so the timer just ends.
    if (m_recorder.GetType() != kRecordingVideo) {
        KillTimer(IDT_AVI_FRAME);
        return;
    }
    if (!m_pVideoFrame) {
        m_pVideoFrame = std::make_unique<uint8_t[]>(kImageBytes);
    }
    {
        std::lock_guard lock(m_lastImageLock);
        if (!m_pLastImage) {
            return;
        }
        DisplayImageToBgr(m_pLastImage.get(), m_pVideoFrame.get());
    }
    if (!m_recorder.WriteVideoFrame(kImageWidth, kImageHeight, m_pVideoFrame.get())) {
        PostRecordingStopped();
    }
    ReportRecorderNotice();
}

void CmfcVELKDlg::PostRecordingStopped() {
    // A write that failed keeps failing for the frames already on their way: the module is
    // turned off and the user told once per stop.
    if (m_isRecordingStopPosted.exchange(true)) {
        return;
    }
    PostToGui([this] {
        if (m_isClosing) {
            return;
        }
        OnTurnOff();
        AppendLog(kSaveStoppedLine);
        const std::string reason = m_recorder.GetLastError();
        if (!reason.empty()) {
            AppendLog("[Save to File]" + reason + "\r\n");
        }
    });
}
