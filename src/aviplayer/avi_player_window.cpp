#include "aviplayer/avi_player_window.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProxyStyle>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "aviplayer/picture_view.h"

namespace {

// For a file that gives no usable frame rate: the rate of this program's recordings.
constexpr double kAssumedFramesPerSecond = 20;
constexpr double kMinFramesPerSecond = 0.1;
constexpr double kMaxFramesPerSecond = 1000;

QPushButton* MakeButton(QWidget* parent, const char* name, const QIcon& icon, const QString& text,
                        const QString& toolTip) {
    auto* button = new QPushButton(icon, text, parent);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(toolTip);
    // The window takes the keys: arrows step, Space plays.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// The position slider's look, except that a click on its groove moves the handle to the click
// (and on into a drag while the button stays down), as in other players, instead of paging.
class CJumpClickStyle : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons) {
            return Qt::LeftButton;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

CAviPlayerWindow::CAviPlayerWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("VELKAviPlayer"));
    setFocusPolicy(Qt::StrongFocus);

    m_pView = new CPictureView(this);
    m_pView->setObjectName(QStringLiteral("pictureView"));
    m_pSlider = new QSlider(Qt::Horizontal, this);
    m_pSlider->setObjectName(QStringLiteral("positionSlider"));
    m_pSlider->setFocusPolicy(Qt::NoFocus);
    // A widget does not own the style it is given; the slider does, as its child.
    auto* sliderStyle = new CJumpClickStyle(style()->name());
    sliderStyle->setParent(m_pSlider);
    m_pSlider->setStyle(sliderStyle);

    QStyle* s = style();
    m_pBackButton = MakeButton(this, "backButton", s->standardIcon(QStyle::SP_MediaSeekBackward),
                               QString(), tr("One frame back (Left)"));
    m_pPlayButton = MakeButton(this, "playButton", s->standardIcon(QStyle::SP_MediaPlay),
                               tr("Play"), tr("Play or pause (Space)"));
    m_pForwardButton =
        MakeButton(this, "forwardButton", s->standardIcon(QStyle::SP_MediaSeekForward), QString(),
                   tr("One frame forward (Right)"));
    m_pOpenButton =
        MakeButton(this, "openButton", QIcon(), tr("Open..."), tr("Open another video (Ctrl+O)"));
    m_pSaveButton = MakeButton(this, "saveButton", QIcon(), tr("Save frame as PNG..."),
                               tr("Save the shown frame as a PNG image (Ctrl+S)"));
    m_pFrameLabel = new QLabel(this);
    m_pFrameLabel->setObjectName(QStringLiteral("frameLabel"));
    // A plain label of fixed width, wide enough for any frame number and time, so that the text
    // changing with every frame neither lays the window out again nor builds a text document.
    m_pFrameLabel->setFixedWidth(
        m_pFrameLabel->fontMetrics().horizontalAdvance(
            tr("Frame %1 / %1   %2 / %2")
                .arg(QStringLiteral("888888"), QStringLiteral("888:88.888"))) +
        8);
    m_pStatusLabel = new QLabel(this);
    m_pStatusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_pStatusLabel->setWordWrap(true);

    auto* controls = new QHBoxLayout;
    controls->addWidget(m_pBackButton);
    controls->addWidget(m_pPlayButton);
    controls->addWidget(m_pForwardButton);
    controls->addSpacing(12);
    controls->addWidget(m_pFrameLabel);
    controls->addStretch(1);
    controls->addWidget(m_pOpenButton);
    controls->addWidget(m_pSaveButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pView, 1);
    layout->addWidget(m_pSlider);
    layout->addLayout(controls);
    layout->addWidget(m_pStatusLabel);

    connect(m_pBackButton, &QPushButton::clicked, this, &CAviPlayerWindow::StepBack);
    connect(m_pForwardButton, &QPushButton::clicked, this, &CAviPlayerWindow::StepForward);
    connect(m_pPlayButton, &QPushButton::clicked, this, &CAviPlayerWindow::TogglePlay);
    connect(m_pOpenButton, &QPushButton::clicked, this, &CAviPlayerWindow::OnOpen);
    connect(m_pSaveButton, &QPushButton::clicked, this, &CAviPlayerWindow::OnSaveFrame);
    connect(m_pSlider, &QSlider::valueChanged, this, [this](int value) {
        if (value != CurrentFrame()) {
            Pause();
            ShowFrame(value);
        }
    });

    m_frameTimer.setSingleShot(true);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &CAviPlayerWindow::OnFrameDue);

    m_pStatusLabel->setText(tr("No video open."));
    UpdateControls();
}

bool CAviPlayerWindow::OpenFile(const QString& path) {
    Pause();
    m_path = path;
    setWindowTitle(QStringLiteral("%1 - VELKAviPlayer").arg(QFileInfo(path).fileName()));
    m_pView->Clear();
    m_pStatusLabel->setToolTip(QString());
    if (!m_stream.Open(path.toStdString())) {
        m_summary = QString::fromStdString(m_stream.ErrorText());
        m_pStatusLabel->setText(m_summary);
        UpdateControls();
        return false;
    }

    const CAviReader& reader = m_stream.Reader();
    const double rate = reader.FramesPerSecond();
    const bool rateKnown = rate >= kMinFramesPerSecond && rate <= kMaxFramesPerSecond;
    m_framesPerSecond = rateKnown ? rate : kAssumedFramesPerSecond;
    m_summary = tr("%1 x %2 pixels, %3 frames/s%4, %5 frames (%6 s), %7")
                    .arg(reader.Width())
                    .arg(reader.Height())
                    .arg(m_framesPerSecond, 0, 'g', 4)
                    .arg(rateKnown ? QString() : tr(" (assumed: the file gives none)"))
                    .arg(reader.FrameCount())
                    .arg(reader.FrameCount() / m_framesPerSecond, 0, 'f', 2)
                    .arg(QString::fromStdString(FourCcText(reader.Compression())));
    if (!reader.Problems().empty()) {
        QStringList problems;
        for (const AviProblem& problem : reader.Problems()) {
            problems << QString::fromStdString(problem.text);
        }
        m_pStatusLabel->setToolTip(problems.join(QLatin1Char('\n')));
        m_summary += reader.FramesEnd() != nullptr
                         ? tr(". The file is damaged; it plays as far as it is whole.")
                         : tr(". The file has %n problem(s) (see the tool tip).", nullptr,
                              static_cast<int>(problems.size()));
    }
    m_pStatusLabel->setText(m_summary);
    {
        const QSignalBlocker quiet(m_pSlider);
        m_pSlider->setRange(0, std::max(0, LastFrame()));
        m_pSlider->setPageStep(std::max(1, static_cast<int>(m_framesPerSecond)));
    }
    if (m_stream.FrameCount() > 0) {
        ShowFrame(0);
    } else if (const AviProblem* end = reader.FramesEnd()) {
        m_pStatusLabel->setText(
            tr("The file holds no whole frame: %1").arg(QString::fromStdString(end->text)));
    }
    updateGeometry();
    UpdateControls();
    return true;
}

void CAviPlayerWindow::ShowFrame(int n) {
    if (m_stream.FrameCount() == 0) {
        return;
    }
    n = std::clamp(n, 0, LastFrame());
    const bool shown = m_stream.ShowFrame(n);
    const CAviReader& reader = m_stream.Reader();
    if (m_stream.PictureFrame() >= 0) {
        if (m_stream.Picture().empty()) {
            m_pView->Clear();  // black: no frame has given a picture yet
        } else {
            m_pView->SetPicture(m_stream.Picture().data(), reader.Width(), reader.Height());
        }
    }
    if (!shown) {
        m_pStatusLabel->setText(QString::fromStdString(m_stream.ErrorText()));
    } else if (!m_stream.FrameGavePicture()) {
        const QString before = m_stream.Picture().empty() ? tr("nothing has been shown yet")
                                                          : tr("the picture before stays");
        m_pStatusLabel->setText(
            reader.Frame(n).size == 0
                ? tr("Frame %1 is empty (0 bytes), as a recording stores a frame it could not "
                     "encode: %2.")
                      .arg(n)
                      .arg(before)
                : tr("Frame %1 gives no picture: the decoder finds none in its %2 bytes; %3.")
                      .arg(n)
                      .arg(reader.Frame(n).size)
                      .arg(before));
    } else if (n == LastFrame() && reader.FramesEnd() != nullptr) {
        m_pStatusLabel->setText(tr("The file ends here, after frame %1: %2")
                                    .arg(n)
                                    .arg(QString::fromStdString(reader.FramesEnd()->text)));
    } else {
        m_pStatusLabel->setText(m_summary);
    }
    UpdateControls();
}

void CAviPlayerWindow::StepForward() {
    Pause();
    ShowFrame(CurrentFrame() + 1);
}

void CAviPlayerWindow::StepBack() {
    Pause();
    ShowFrame(CurrentFrame() - 1);
}

void CAviPlayerWindow::Play() {
    if (m_isPlaying || m_stream.FrameCount() == 0) {
        return;
    }
    if (CurrentFrame() >= LastFrame()) {
        ShowFrame(0);  // from the start again
    }
    m_isPlaying = true;
    m_playFirstFrame = std::max(0, CurrentFrame());
    m_playClock.start();
    ScheduleNextFrame();
    UpdateControls();
}

void CAviPlayerWindow::Pause() {
    if (!m_isPlaying) {
        return;
    }
    m_isPlaying = false;
    m_frameTimer.stop();
    UpdateControls();
}

void CAviPlayerWindow::TogglePlay() {
    if (m_isPlaying) {
        Pause();
    } else {
        Play();
    }
}

void CAviPlayerWindow::ScheduleNextFrame() {
    const int next = CurrentFrame() + 1;
    if (next > LastFrame()) {
        Pause();
        return;
    }
    const double dueMs = (next - m_playFirstFrame) * 1000.0 / m_framesPerSecond;
    const double waitMs = dueMs - static_cast<double>(m_playClock.elapsed());
    m_frameTimer.start(std::max(0, static_cast<int>(std::ceil(waitMs))));
}

void CAviPlayerWindow::OnFrameDue() {
    if (!m_isPlaying) {
        return;
    }
    // The frame due now; frames whose time has passed while the machine was busy are decoded
    // (the next ones depend on them) but not shown.
    const auto elapsedFrames =
        static_cast<int>(static_cast<double>(m_playClock.elapsed()) * m_framesPerSecond / 1000.0);
    const int due = std::clamp(m_playFirstFrame + elapsedFrames, CurrentFrame() + 1, LastFrame());
    ShowFrame(due);
    if (m_printFrameTimes) {
        const double dueMs = (due - m_playFirstFrame) * 1000.0 / m_framesPerSecond;
        std::printf("frame=%d late_ms=%.1f\n", due,
                    static_cast<double>(m_playClock.nsecsElapsed()) / 1e6 - dueMs);
        std::fflush(stdout);
    }
    if (CurrentFrame() != due) {
        Pause();  // the frame could not be decoded; the status line says why
    } else {
        ScheduleNextFrame();
    }
}

void CAviPlayerWindow::UpdateControls() {
    const int count = m_stream.FrameCount();
    const bool hasFrames = count > 0;
    m_pBackButton->setEnabled(hasFrames && CurrentFrame() > 0);
    m_pForwardButton->setEnabled(hasFrames && CurrentFrame() < LastFrame());
    m_pPlayButton->setEnabled(hasFrames);
    const QString playText = m_isPlaying ? tr("Pause") : tr("Play");
    if (m_pPlayButton->text() != playText) {
        m_pPlayButton->setText(playText);
        m_pPlayButton->setIcon(
            style()->standardIcon(m_isPlaying ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    }
    m_pSaveButton->setEnabled(CurrentFrame() >= 0);
    m_pSlider->setEnabled(count > 1);
    {
        const QSignalBlocker quiet(m_pSlider);
        m_pSlider->setValue(std::max(0, CurrentFrame()));
    }
    if (!hasFrames) {
        m_pFrameLabel->setText(tr("No frames"));
        return;
    }
    const int frame = std::max(0, CurrentFrame());
    m_pFrameLabel->setText(tr("Frame %1 / %2   %3 / %4")
                               .arg(frame)
                               .arg(LastFrame())
                               .arg(TimeText(frame / m_framesPerSecond))
                               .arg(TimeText(count / m_framesPerSecond)));
}

QString CAviPlayerWindow::TimeText(double seconds) const {
    const auto ms = static_cast<long long>(std::llround(seconds * 1000));
    return QStringLiteral("%1:%2.%3")
        .arg(ms / 60000, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QString CAviPlayerWindow::StatusText() const {
    return m_pStatusLabel->text();
}

bool CAviPlayerWindow::SaveFrameAsPng(const QString& path, QString* error) {
    if (CurrentFrame() < 0 || m_pView->Picture().isNull()) {
        *error = tr("There is no frame to save.");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = tr("Cannot write '%1': %2").arg(path, file.errorString());
        return false;
    }
    if (!m_pView->Picture().save(&file, "PNG")) {
        file.cancelWriting();
        *error = tr("Cannot write '%1' as a PNG image.").arg(path);
        return false;
    }
    if (!file.commit()) {
        *error = tr("Cannot write '%1': %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void CAviPlayerWindow::OnSaveFrame() {
    Pause();
    if (CurrentFrame() < 0) {
        return;
    }
    const QFileInfo video(m_path);
    const QString suggested =
        video.dir().filePath(QStringLiteral("%1-frame%2.png")
                                 .arg(video.completeBaseName())
                                 .arg(CurrentFrame(), 4, 10, QLatin1Char('0')));
    QString path = QFileDialog::getSaveFileName(this, tr("Save frame as PNG"), suggested,
                                                tr("PNG images (*.png)"));
    if (path.isEmpty()) {
        return;
    }
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
        path += QLatin1String(".png");
    }
    QString error;
    m_pStatusLabel->setText(SaveFrameAsPng(path, &error)
                                ? tr("Frame %1 saved as '%2'.").arg(CurrentFrame()).arg(path)
                                : error);
}

void CAviPlayerWindow::OnOpen() {
    Pause();
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open video"), QFileInfo(m_path).absolutePath(),
                                     tr("AVI videos (*.avi *.AVI);;All files (*)"));
    if (!path.isEmpty()) {
        OpenFile(path);
    }
}

void CAviPlayerWindow::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
        case Qt::Key_Right:
            StepForward();
            break;
        case Qt::Key_Left:
            StepBack();
            break;
        case Qt::Key_Space:
            TogglePlay();
            break;
        case Qt::Key_Home:
            Pause();
            ShowFrame(0);
            break;
        case Qt::Key_End:
            Pause();
            ShowFrame(LastFrame());
            break;
        case Qt::Key_O:
            if (!control) {
                return QWidget::keyPressEvent(event);
            }
            OnOpen();
            break;
        case Qt::Key_S:
            if (!control) {
                return QWidget::keyPressEvent(event);
            }
            OnSaveFrame();
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}
