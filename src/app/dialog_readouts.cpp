// The status bar's readouts: what lies under the pointer, the frame's extremes or the region's
// statistics in pane 0, and in pane 1 the last log message for a few seconds, else what the
// program is doing (recording, playing). Pane 0 is read off the frame last shown, on the GUI
// thread; it changes with each shown frame and each move of the pointer, pane 1 at most
// kActivityIntervalMs apart and with each message.
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>
#include <QTimer>

#include "app/mfc_velk_dlg.h"
#include "controls/dx_static.h"
#include "processing/image_scaling.h"
#include "res/resource.h"

namespace {

constexpr int kActivityIntervalMs = 250;
// How long a log message stays in pane 1 when no other message follows: frame texts replace the
// log box's content a few times a second.
constexpr int kPaneMessageMs = 5000;
// The longest the pane lags a moving pointer: less than a frame at 100 frames a second.
constexpr int kPointerReadoutDelayMs = 8;
// Pane 1's width when it has nothing to say, and the room its frame and padding take.
constexpr int kNarrowPaneWidth = 200;
constexpr int kPaneMargin = 16;
constexpr int kCellWidth = kImageWidth / kFrameColumns;
constexpr int kCellHeight = kImageHeight / kFrameRows;

QString FileNameOf(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).fileName();
}

// Sets a pane's text only when it changes: a label that is given its own text again still lays
// itself out, and pane 0 is set for every frame and every move of the pointer.
void SetPaneText(QLabel* pane, const QString& text) {
    if (pane->text() != text) {
        pane->setText(text);
    }
}

// "LEAD NAME: rest" in at most `room` pixels of the pane's font: the name is shortened in its
// middle so that the numbers stay in view.
QString NameAndRest(const QLabel* pane, int room, const QString& lead, const QString& name,
                    const QString& rest) {
    const QFontMetrics metrics(pane->font());
    const int nameRoom = room - metrics.horizontalAdvance(lead + rest);
    return lead + metrics.elidedText(name, Qt::ElideMiddle, std::max(nameRoom, 0)) + rest;
}

}  // namespace

void CmfcVELKDlg::ConnectReadouts() {
    // Panes of a fixed size take a new text without laying the status bar out again: pane 0
    // changes with every frame shown.
    for (QLabel* pane : m_statusPanes) {
        pane->setFixedHeight(pane->sizeHint().height());
    }
    m_activityTimer = new QTimer(this);
    m_activityTimer->setInterval(kActivityIntervalMs);
    connect(m_activityTimer, &QTimer::timeout, this, [this] { RefreshActivity(); });
    m_paneMessageTimer = new QTimer(this);
    m_paneMessageTimer->setSingleShot(true);
    m_paneMessageTimer->setInterval(kPaneMessageMs);
    connect(m_paneMessageTimer, &QTimer::timeout, this, [this] {
        m_paneMessage.clear();
        RefreshActivity();
    });
    // A moving pointer brings more events than a stream brings frames: the pane follows it with
    // the next frame shown, or after kPointerReadoutDelayMs when no frame comes sooner.
    m_pointerReadoutTimer = new QTimer(this);
    m_pointerReadoutTimer->setSingleShot(true);
    m_pointerReadoutTimer->setInterval(kPointerReadoutDelayMs);
    connect(m_pointerReadoutTimer, &QTimer::timeout, this, [this] { RefreshReadout(); });
    connect(m_image, &CDxStatic::PointerMoved, this, [this](QPoint point) {
        m_pointerPoint = point;
        if (!m_pointerReadoutTimer->isActive()) {
            m_pointerReadoutTimer->start();
        }
    });
    connect(m_image, &CDxStatic::PointerLeft, this, [this] {
        m_pointerPoint.reset();
        RefreshReadout();
    });
    connect(m_image, &CDxStatic::Clicked, this, [this] { SetRegion(std::nullopt); });
    connect(m_image, &CDxStatic::Dragged, this, [this](QPoint from, QPoint to) {
        SetRegion(MakeSensorRegion(PixelAtImagePoint(from), PixelAtImagePoint(to)));
    });
}

void CmfcVELKDlg::ShowReadoutFrame(const ReadoutFrame* frame) {
    if (frame == nullptr) {
        m_readoutFrame.reset();
    } else {
        m_readoutFrame = *frame;
    }
    UpdateRegionOutline();
    RefreshReadout();
}

int CmfcVELKDlg::ReadoutMirrorMode() const {
    return m_readoutFrame ? m_readoutFrame->mirrorMode : m_mirrorMode.load();
}

SensorPixel CmfcVELKDlg::PixelAtImagePoint(QPoint imagePoint) const {
    return SensorPixelOfCell(std::clamp(imagePoint.y() / kCellHeight, 0, kFrameRows - 1),
                             std::clamp(imagePoint.x() / kCellWidth, 0, kFrameColumns - 1),
                             ReadoutMirrorMode());
}

void CmfcVELKDlg::SetRegion(std::optional<SensorRegion> region) {
    m_region = region;
    UpdateRegionOutline();
    RefreshReadout();
}

void CmfcVELKDlg::UpdateRegionOutline() {
    if (m_image == nullptr) {
        return;
    }
    if (!m_region) {
        m_image->SetOutline(std::nullopt);
        return;
    }
    // The region stays on its sensor pixels: under mirroring its corners swap places.
    const DisplayCell a = DisplayCellOf(m_region->first, ReadoutMirrorMode());
    const DisplayCell b = DisplayCellOf(m_region->last, ReadoutMirrorMode());
    m_image->SetOutline(QRect(
        QPoint(std::min(a.column, b.column) * kCellWidth, std::min(a.row, b.row) * kCellHeight),
        QPoint((std::max(a.column, b.column) + 1) * kCellWidth - 1,
               (std::max(a.row, b.row) + 1) * kCellHeight - 1)));
}

void CmfcVELKDlg::RefreshReadout() {
    if (m_statusPanes[0] == nullptr) {
        return;  // before the window is built
    }
    if (m_pointerReadoutTimer != nullptr) {
        m_pointerReadoutTimer->stop();  // this refresh reads the pointer too
    }
    std::string text;
    if (m_readoutFrame) {
        const uint16_t* values = m_readoutFrame->values.data();
        const ReadoutScale& scale = m_readoutFrame->scale;
        if (m_pointerPoint) {
            text = PixelReadoutText(values, scale, PixelAtImagePoint(*m_pointerPoint));
        } else if (m_region) {
            text = RegionReadoutText(values, scale, *m_region);
        } else {
            text = ExtremesReadoutText(values, scale);
        }
    }
    SetPaneText(m_statusPanes[0], QString::fromStdString(text));
}

void CmfcVELKDlg::StartActivityReadout() {
    // What starts now is news; an earlier message ("Specify a file to record to...") is not.
    m_paneMessage.clear();
    m_paneMessageTimer->stop();
    RefreshActivity();
    m_activityTimer->start();
}

void CmfcVELKDlg::RefreshActivity() {
    QLabel* pane = m_statusPanes[1];
    if (pane == nullptr || m_activityTimer == nullptr) {
        return;  // before the window is built
    }
    // Pane 1 is a narrow one; what it says may take up to half the bar.
    const int room = width() / 2;
    const bool playing =
        IsTimerActive(IDT_PLAY_BDS) || IsTimerActive(IDT_PLAY_TXT) || IsTimerActive(IDT_PLAY_BIN);
    QString text;
    if (!m_paneMessage.isEmpty()) {
        // A message goes before what the program is doing, which comes back when it has gone:
        // the red and blue frames still show a recording and a play-back meanwhile.
        text = QFontMetrics(pane->font()).elidedText(m_paneMessage, Qt::ElideMiddle, room);
    } else if (m_recordingRun.IsTaking() && m_recordingRun.Recorder().IsFileOpen()) {
        const std::vector<std::string> parts = m_recordingRun.Parts();
        qint64 bytes = 0;
        for (const std::string& part : parts) {
            bytes += QFileInfo(QString::fromStdString(part)).size();
        }
        const uint64_t frames = m_recordingRun.Written();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - m_recordingStart)
                                 .count();
        const QString rest = QString::asprintf(
            ": %llu frame%s, %.1f MB, %02lld:%02lld", static_cast<unsigned long long>(frames),
            frames == 1 ? "" : "s", static_cast<double>(bytes) / (1024.0 * 1024.0),
            static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
        const std::string current =
            parts.empty() ? m_recordingRun.Recorder().GetPath() : parts.back();
        text = NameAndRest(pane, room, QStringLiteral("Recording "), FileNameOf(current), rest);
    } else if (playing) {
        // Until the first tick has read a frame, the name alone.
        const QString rest = m_playedFrameNumber == 0
                                 ? QString()
                                 : QStringLiteral(": frame %1").arg(m_playedFrameNumber);
        text = NameAndRest(pane, room, QStringLiteral("Playing "), FileNameOf(m_playingPath), rest);
    } else {
        m_activityTimer->stop();
    }
    SetPaneText(pane, text);
    // Pane 0 keeps its width (the bar's less 200 pixels) unless pane 1 needs more to say this.
    const int needed = QFontMetrics(pane->font()).horizontalAdvance(text) + kPaneMargin;
    m_statusPanes[0]->setFixedWidth(std::max(0, width() - std::max(kNarrowPaneWidth, needed)));
}

void CmfcVELKDlg::ShowPaneMessage(const std::string& message) {
    if (m_paneMessageTimer == nullptr) {
        return;  // before the window is built
    }
    // The first line; the box holds the rest.
    QString text = QString::fromUtf8(message);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QStringList lines = text.trimmed().split(QLatin1Char('\n'));
    if (lines.front().isEmpty()) {
        return;
    }
    m_paneMessage = lines.size() > 1 ? lines.front() + QStringLiteral(" …") : lines.front();
    m_paneMessageTimer->start();
    RefreshActivity();
}

std::optional<SensorRegion> CmfcVELKDlg::Region() const {
    return m_region;
}

QString CmfcVELKDlg::StatusPaneText(int pane) const {
    return pane == 0 || pane == 1 ? m_statusPanes[pane]->text() : QString();
}
