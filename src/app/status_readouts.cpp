#include "app/status_readouts.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>
#include <algorithm>

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

QString RecordingText(const QLabel* pane, int room, const StatusActivity::Recording& recording,
                      std::chrono::steady_clock::time_point start) {
    qint64 bytes = 0;
    for (const std::string& part : recording.parts) {
        bytes += QFileInfo(QString::fromStdString(part)).size();
    }
    const uint64_t frames = recording.frames;
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    const QString rest = QString::asprintf(
        ": %llu frame%s, %.1f MB, %02lld:%02lld", static_cast<unsigned long long>(frames),
        frames == 1 ? "" : "s", static_cast<double>(bytes) / (1024.0 * 1024.0),
        static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    const std::string& current = recording.parts.empty() ? recording.path : recording.parts.back();
    return NameAndRest(pane, room, QStringLiteral("Recording "), FileNameOf(current), rest);
}

}  // namespace

CStatusReadouts::CStatusReadouts(QWidget* window, std::function<int()> mirrorMode,
                                 std::function<StatusActivity()> activity)
    : m_window(window),
      m_mirrorMode(std::move(mirrorMode)),
      m_activity(std::move(activity)),
      m_activityTimer(new QTimer(this)),
      m_pointerReadoutTimer(new QTimer(this)),
      m_paneMessageTimer(new QTimer(this)) {
    m_activityTimer->setInterval(kActivityIntervalMs);
    connect(m_activityTimer, &QTimer::timeout, this, [this] { RefreshActivity(); });
    m_paneMessageTimer->setSingleShot(true);
    m_paneMessageTimer->setInterval(kPaneMessageMs);
    connect(m_paneMessageTimer, &QTimer::timeout, this, [this] {
        m_paneMessage.clear();
        RefreshActivity();
    });
    // A moving pointer brings more events than a stream brings frames: the pane follows it with
    // the next frame shown, or after kPointerReadoutDelayMs when no frame comes sooner.
    m_pointerReadoutTimer->setSingleShot(true);
    m_pointerReadoutTimer->setInterval(kPointerReadoutDelayMs);
    connect(m_pointerReadoutTimer, &QTimer::timeout, this, [this] { RefreshReadout(); });
}

void CStatusReadouts::AddPanes(QStatusBar* bar) {
    for (int pane = 0; pane < 2; ++pane) {
        m_panes[pane] =
            new QLabel(QString::fromUtf8(pane == 0 ? kStringStatusMsg1 : kStringStatusMsg2));
        m_panes[pane]->setObjectName(QStringLiteral("StatusPane%1").arg(pane));
    }
    m_panes[0]->setFixedWidth(std::max(0, m_window->width() - kNarrowPaneWidth));
    bar->addWidget(m_panes[0]);
    bar->addWidget(m_panes[1], 1);
}

void CStatusReadouts::ClearPanes() {
    for (QLabel* pane : m_panes) {
        pane->setText(QString());
    }
}

void CStatusReadouts::Connect(CDxStatic* image) {
    // Panes of a fixed size take a new text without laying the status bar out again: pane 0
    // changes with every frame shown.
    for (QLabel* pane : m_panes) {
        pane->setFixedHeight(pane->sizeHint().height());
    }
    m_image = image;
    connect(image, &CDxStatic::PointerMoved, this, [this](QPoint point) {
        m_pointerPoint = point;
        if (!m_pointerReadoutTimer->isActive()) {
            m_pointerReadoutTimer->start();
        }
    });
    connect(image, &CDxStatic::PointerLeft, this, [this] {
        m_pointerPoint.reset();
        RefreshReadout();
    });
    connect(image, &CDxStatic::Clicked, this, [this] { SetRegion(std::nullopt); });
    connect(image, &CDxStatic::Dragged, this, [this](QPoint from, QPoint to) {
        SetRegion(MakeSensorRegion(PixelAtImagePoint(from), PixelAtImagePoint(to)));
    });
}

void CStatusReadouts::ShowFrame(const ReadoutFrame* frame) {
    if (frame == nullptr) {
        m_readoutFrame.reset();
    } else {
        m_readoutFrame = *frame;
    }
    UpdateRegionOutline();
    RefreshReadout();
}

int CStatusReadouts::ReadoutMirrorMode() const {
    return m_readoutFrame ? m_readoutFrame->mirrorMode : m_mirrorMode();
}

SensorPixel CStatusReadouts::PixelAtImagePoint(QPoint imagePoint) const {
    return SensorPixelOfCell(std::clamp(imagePoint.y() / kCellHeight, 0, kFrameRows - 1),
                             std::clamp(imagePoint.x() / kCellWidth, 0, kFrameColumns - 1),
                             ReadoutMirrorMode());
}

void CStatusReadouts::SetRegion(std::optional<SensorRegion> region) {
    m_region = region;
    UpdateRegionOutline();
    RefreshReadout();
}

void CStatusReadouts::UpdateRegionOutline() {
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

void CStatusReadouts::RefreshReadout() {
    if (m_panes[0] == nullptr) {
        return;  // before the window is built
    }
    m_pointerReadoutTimer->stop();  // this refresh reads the pointer too
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
    SetPaneText(m_panes[0], QString::fromStdString(text));
}

void CStatusReadouts::StartRecording() {
    m_recordingStart = std::chrono::steady_clock::now();
    StartActivityReadout();
}

void CStatusReadouts::StartPlaying(const std::string& path) {
    m_playingPath = path;
    m_playedFrameNumber = 0;
    StartActivityReadout();
}

void CStatusReadouts::StartActivityReadout() {
    // What starts now is news; an earlier message ("Specify a file to record to...") is not.
    m_paneMessage.clear();
    m_paneMessageTimer->stop();
    RefreshActivity();
    m_activityTimer->start();
}

void CStatusReadouts::RefreshActivity() {
    QLabel* pane = m_panes[1];
    if (pane == nullptr || m_image == nullptr) {
        return;  // before the window is built
    }
    // Pane 1 is a narrow one; what it says may take up to half the bar.
    const int room = m_window->width() / 2;
    QString text;
    if (!m_paneMessage.isEmpty()) {
        // A message goes before what the program is doing, which comes back when it has gone:
        // the red and blue frames still show a recording and a play-back meanwhile.
        text = QFontMetrics(pane->font()).elidedText(m_paneMessage, Qt::ElideMiddle, room);
    } else if (const StatusActivity activity = m_activity(); activity.recording) {
        text = RecordingText(pane, room, *activity.recording, m_recordingStart);
    } else if (activity.playing) {
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
    m_panes[0]->setFixedWidth(std::max(0, m_window->width() - std::max(kNarrowPaneWidth, needed)));
}

void CStatusReadouts::ShowMessage(const std::string& message) {
    if (m_image == nullptr) {
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

QString CStatusReadouts::PaneText(int pane) const {
    return pane == 0 || pane == 1 ? m_panes[pane]->text() : QString();
}
