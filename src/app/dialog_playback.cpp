// Play-back from the main dialog: "Play", the play dialog's PlayFile, the three play-back timers
// and their stop. The files are read by CStreamPlayer in the core; binary stream frames go
// through the pipeline's queue like live frames, text frames through its text path on this
// thread, raw frames straight into the image control.
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QUrl>
#include <cerrno>
#include <cstring>

#include "app/mfc_velk_dlg.h"
#include "controls/color_static.h"
#include "controls/dx_static.h"
#include "controls/poly_chart.h"
#include "dialogs/dlg_play.h"
#include "recording/playback_rules.h"
#include "res/resource.h"

namespace {

constexpr char kDefaultSpeedText[] = "186";
// ApplyDataMode's kinds.
constexpr int kTemperatureData = 1;
constexpr int kVoltageData = 2;

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

void CmfcVELKDlg::OnPlay() {
    OnTurnOff();
    OnStop();
    if (m_pPlayDlg != nullptr) {
        m_pPlayDlg->show();
        m_pPlayDlg->raise();
        m_pPlayDlg->activateWindow();
        return;
    }
    m_pPlayDlg = new CDlgPlay(
        this, &m_pPlayDlg,
        [this](int speedValue, const std::string& path) { PlayFile(speedValue, path); },
        &m_lastFolder);
    m_pPlayDlg->SetSpeedText(QString::fromLatin1(kDefaultSpeedText));
    m_pPlayDlg->SetPlayPath({});
    m_pPlayDlg->show();
}

void CmfcVELKDlg::PlayFile(int speedValue, const std::string& path) {
    const int periodMs = PlayPeriodMs(speedValue);
    const int kind = PlayFileKindOf(path);
    if (kind == kPlayVideo) {
        OpenVideoPlayer(path);
        return;
    }
    int timerId = 0;
    switch (kind) {
        case kPlayBinaryStream:
            timerId = IDT_PLAY_BDS;
            break;
        case kPlayTextStream:
            timerId = IDT_PLAY_TXT;
            break;
        case kPlayRawFrames:
            timerId = IDT_PLAY_BIN;
            break;
        default:
            AppendLog("Unkown File format!\r\n");
            return;
    }
    // Only one file plays at a time: a timer of another kind left running would read the new
    // file as the wrong type and end at once.
    KillTimer(IDT_PLAY_BDS);
    KillTimer(IDT_PLAY_TXT);
    KillTimer(IDT_PLAY_BIN);
    const int result = m_player.OpenForPlay(kind, path);
    const int openError = errno;
    const std::string whyNothingPlays = m_player.WhyNothingPlays();
    if (result != 0 && whyNothingPlays.empty()) {
        m_pipeline.StartRun();
        SetTimer(timerId, periodMs);
        ApplyDataMode(result == 1 ? kVoltageData : kTemperatureData);
        m_statusReadouts.StartPlaying(path);
    } else {
        // The bare blue frame would leave the user guessing why nothing plays.
        const std::string reason =
            !whyNothingPlays.empty() ? whyNothingPlays
            : m_player.IsOpen() ? "its first record names no known data mode (T or V, or K, C, F)"
                                : std::strerror(openError);
        AppendLog("[Play]cannot play '" + path + "': " + reason + "\r\n");
    }
    m_controls.playFrame->show();
}

void CmfcVELKDlg::OpenVideoPlayer(const std::string& path) {
    // The player built with the viewer lies in a folder beside it; a player copied over from
    // Windows keeps its .exe name and takes nothing but the path; an installed player is a
    // program beside the viewer (/usr/bin/VELKAviPlayer), where the build tree has the folder.
    // Ours starts playing at once, as the other recordings do after "Play".
    const QStringList ours = {QStringLiteral("--play"), QStringLiteral("--")};
    const struct {
        const char* name;
        QStringList options;
    } players[] = {{"VELKAviPlayer/VELKAviPlayer", ours},
                   {"VELKAviPlayer/VELKAviPlayer.exe", {}},
                   {"VELKAviPlayer", ours}};
    for (const auto& [name, options] : players) {
        const QString player = FromPath(m_appDir + name);
        if (!QFileInfo(player).isFile()) {
            continue;
        }
        if (!QProcess::startDetached(player, options + QStringList{FromPath(path)})) {
            AppendLog("[Play]cannot start '" + m_appDir + name + "'\r\n");
        }
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(FromPath(path)))) {
        AppendLog("[Play]no program opens '" + path + "'\r\n");
    }
}

void CmfcVELKDlg::StopPlayback() {
    KillTimer(IDT_PLAY_BDS);
    KillTimer(IDT_PLAY_TXT);
    KillTimer(IDT_PLAY_BIN);
    m_player.ClosePlay();
    m_controls.playFrame->hide();
    m_statusReadouts.RefreshActivity();
}

void CmfcVELKDlg::EndPlaybackTick(int timerId) {
    KillTimer(timerId);
    m_controls.playFrame->hide();
    m_statusReadouts.RefreshActivity();
}

void CmfcVELKDlg::SetPlaybackUnit(int unit) {
    // The pipeline renders the frame's texts in its own unit, and a text recording made while
    // playing names m_tempUnit in its header: both follow the file, so the readouts, the log,
    // the chart and such a recording all say the same unit.
    m_tempUnit = unit;
    m_controls.chart->SetChartUnit(unit);
    m_pipeline.SetUnit(unit);
}

void CmfcVELKDlg::NotePlaybackTick(std::chrono::steady_clock::time_point start,
                                   std::chrono::steady_clock::time_point read) {
    using namespace std::chrono;
    const auto end = steady_clock::now();
    m_pStats->PlaybackTick(duration_cast<microseconds>(read - start).count(),
                           duration_cast<microseconds>(end - start).count());
}

void CmfcVELKDlg::OnPlayBinaryTick() {
    const auto start = std::chrono::steady_clock::now();
    SourceFrame frame;
    if (m_player.NextFrame(frame) != SourceRead::kFrame) {
        EndPlaybackTick(IDT_PLAY_BDS);
        return;
    }
    m_statusReadouts.SetPlayedFrame(frame.number);
    const auto read = std::chrono::steady_clock::now();
    if (m_pStats) {
        m_pStats->FrameArrived(frame.block, kFrameBlockSize);
    }
    m_pipeline.QueueFrame(frame.modeLetter, kFrameBlockSize, frame.block);
    if (m_pStats) {
        NotePlaybackTick(start, read);
    }
}

void CmfcVELKDlg::OnPlayTextTick() {
    const auto start = std::chrono::steady_clock::now();
    SourceFrame frame;
    if (m_player.NextFrame(frame) != SourceRead::kFrame) {
        EndPlaybackTick(IDT_PLAY_TXT);
        return;
    }
    m_statusReadouts.SetPlayedFrame(frame.number);
    const auto read = std::chrono::steady_clock::now();
    if (frame.textMode.unit != 0) {
        SetPlaybackUnit(frame.textMode.unit);
    }
    // A frame that does not parse is skipped; the next tick reads the next 34 lines.
    m_pipeline.ProcessTextFrame(frame.textMode.offsetsSubtracted, frame.textMode.modeChar,
                                frame.frameText);
    if (m_pStats) {
        NotePlaybackTick(start, read);
    }
}

void CmfcVELKDlg::OnPlayRawTick() {
    const auto start = std::chrono::steady_clock::now();
    SourceFrame frame;
    if (m_player.NextFrame(frame) != SourceRead::kFrame) {
        EndPlaybackTick(IDT_PLAY_BIN);
        return;
    }
    m_statusReadouts.SetPlayedFrame(frame.number);
    const auto read = std::chrono::steady_clock::now();
    m_playImage.resize(kImageBytes);
    m_pipeline.MapRawFrame(frame.values, m_playSmallImage.data(), m_playImage.data());
    // Raw frames are shown as stored, without mirroring.
    ReadoutFrame readout;
    std::copy_n(frame.values, kPixelCount, readout.values.begin());
    readout.scale.kind = ReadoutKind::kRaw;
    m_statusReadouts.ShowFrame(&readout);
    m_controls.image->SetImage(kImageWidth, kImageHeight, m_playImage.data());
    if (m_pStats) {
        NotePlaybackTick(start, read);
    }
}
