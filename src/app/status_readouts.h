#pragma once
// CStatusReadouts: the two panes of the main window's status bar and what they read, with the
// timers that pace them. Pane 0 reads the frame last shown: the pixel under the pointer while it
// is over the image, else the region of interest dragged on the image, else the frame's
// extremes; it follows every frame shown and every move of the pointer. Pane 1 shows the last
// log message for a few seconds, else what the program is doing (recording, playing), refreshed
// a few times a second while there is something to say. GUI thread only.
#include <QObject>
#include <QPoint>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "processing/frame_readout.h"

class CDxStatic;
class QLabel;
class QStatusBar;
class QTimer;

// What the program is doing, as pane 1 reports it when no message is shown.
struct StatusActivity {
    struct Recording {
        std::string path;                // the file named at "Save to..."
        std::vector<std::string> parts;  // the files written so far, the current one last
        uint64_t frames = 0;
    };
    std::optional<Recording> recording;  // while a recording takes frames
    bool playing = false;                // while a play-back timer runs
};

class CStatusReadouts : public QObject {
  public:
    // window: the window whose width the panes share. mirrorMode: the mirroring in use, which
    // places the pointer before the first frame. activity: what the program is doing now; asked
    // each time pane 1 is refreshed.
    CStatusReadouts(QWidget* window, std::function<int()> mirrorMode,
                    std::function<StatusActivity()> activity);

    // Adds the two panes to bar, each with its string of the template until ClearPanes.
    void AddPanes(QStatusBar* bar);
    void ClearPanes();
    // Follows the pointer, clicks and drags on image, and fixes the panes' height so that a new
    // text does not lay the bar out again.
    void Connect(CDxStatic* image);

    // The frame just shown becomes the one pane 0 reads; null: none (TURN OFF).
    void ShowFrame(const ReadoutFrame* frame);
    // The frame pane 0 reads, if any.
    const std::optional<ReadoutFrame>& ShownFrame() const { return m_readoutFrame; }

    // The region of interest, if any; setting it outlines it on the image.
    std::optional<SensorRegion> Region() const { return m_region; }
    void SetRegion(std::optional<SensorRegion> region);

    // A log message's first line in pane 1 for a few seconds, or until the next message.
    void ShowMessage(const std::string& message);
    // A recording began now, or the file at path began to play: pane 1 says so at once, then
    // every quarter second until there is nothing to say.
    void StartRecording();
    void StartPlaying(const std::string& path);
    // The number of the frame play-back has just read.
    void SetPlayedFrame(uint64_t number) { m_playedFrameNumber = number; }
    // Pane 1 again, after something it reports ended.
    void RefreshActivity();

    // The text of pane 0 or 1; empty for any other number.
    QString PaneText(int pane) const;

  private:
    int ReadoutMirrorMode() const;
    SensorPixel PixelAtImagePoint(QPoint imagePoint) const;
    void UpdateRegionOutline();
    void RefreshReadout();
    void StartActivityReadout();

    QWidget* m_window;
    std::function<int()> m_mirrorMode;
    std::function<StatusActivity()> m_activity;
    QLabel* m_panes[2] = {nullptr, nullptr};
    CDxStatic* m_image = nullptr;
    // The frame last shown (none before the first frame and after TURN OFF), the image point
    // under the pointer while it is over the image, and the region of interest.
    std::optional<ReadoutFrame> m_readoutFrame;
    std::optional<QPoint> m_pointerPoint;
    std::optional<SensorRegion> m_region;
    QTimer* m_activityTimer;
    QTimer* m_pointerReadoutTimer;  // pane 0 after pointer moves between frames
    // The log message pane 1 shows before what the program is doing, while m_paneMessageTimer
    // runs; empty when there is none.
    QString m_paneMessage;
    QTimer* m_paneMessageTimer;
    std::chrono::steady_clock::time_point m_recordingStart{};
    std::string m_playingPath;
    uint64_t m_playedFrameNumber = 0;
};
