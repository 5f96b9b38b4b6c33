#pragma once
// CAviPlayerWindow: the video player's window. Plays an AVI file's MPEG-4 video at the file's
// frame rate, with play/pause, a position slider, frame-by-frame stepping (buttons and the arrow
// keys), the frame number and time, and saving the shown frame as PNG. A damaged file plays as
// far as it is whole; the status line then says where it ends.
//
// Everything runs on the GUI thread: a frame of 320 x 310 decodes in about a millisecond, so a
// single-shot timer due at each frame's time decodes it and repaints. Reaching a frame out of
// order decodes forward from the key frame before it (at most the key-frame interval of frames).
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "recording/avi_video_stream.h"

class CPictureView;
class QLabel;
class QPushButton;
class QSlider;

class CAviPlayerWindow : public QWidget {
    Q_OBJECT

  public:
    explicit CAviPlayerWindow(QWidget* parent = nullptr);

    // Opens the file and shows its first frame. False, with the reason in the status line, when
    // the file cannot be played; the controls are then disabled.
    bool OpenFile(const QString& path);

    // Shows frame n (clamped to the file's frames). Stepping and the slider stop play-back.
    void ShowFrame(int n);
    void StepForward();
    void StepBack();
    void Play();
    void Pause();
    void TogglePlay();
    bool IsPlaying() const { return m_isPlaying; }
    int CurrentFrame() const { return m_stream.PictureFrame(); }
    // The status line: what the file is, where a damaged file ends, or what went wrong.
    QString StatusText() const;

    // While playing, print one line per frame shown to standard output: "frame=N late_ms=X",
    // how long after its due time it was shown (for the benchmark).
    void SetPrintFrameTimes(bool print) { m_printFrameTimes = print; }

    // Writes the shown frame as a PNG image at `path` (through a temporary file, so that a
    // failure leaves no half-written image). False with `*error` set when there is no frame or
    // the file cannot be written.
    bool SaveFrameAsPng(const QString& path, QString* error);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void OnOpen();
    void OnSaveFrame();
    void OnFrameDue();
    void ScheduleNextFrame();
    void UpdateControls();
    QString TimeText(double seconds) const;
    int LastFrame() const { return m_stream.FrameCount() - 1; }

    CAviVideoStream m_stream{XvidPictureLayout::kBgr};
    QString m_path;
    double m_framesPerSecond = 0;  // of the file, or an assumed rate when it gives none
    QString m_summary;             // the status line while nothing else is to be said

    // Play-back: frame m_playFirstFrame was shown when m_playClock started; frame k is due
    // (k - m_playFirstFrame) / m_framesPerSecond seconds later.
    bool m_isPlaying = false;
    int m_playFirstFrame = 0;
    QElapsedTimer m_playClock;
    QTimer m_frameTimer;
    bool m_printFrameTimes = false;

    CPictureView* m_pView;
    QSlider* m_pSlider;
    QPushButton* m_pPlayButton;
    QPushButton* m_pBackButton;
    QPushButton* m_pForwardButton;
    QPushButton* m_pOpenButton;
    QPushButton* m_pSaveButton;
    QLabel* m_pFrameLabel;
    QLabel* m_pStatusLabel;
};
