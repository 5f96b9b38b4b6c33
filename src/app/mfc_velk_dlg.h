#pragma once
// CmfcVELKDlg: the main window. It owns every long-lived object of the program (serial port,
// reply list, frame pipeline, recorder, player, display controls), builds its controls from
// template 102 and takes them apart in the close sequence. Its member functions are spread over
// the files of app/ by concern: dialog_lifecycle.cpp (start-up, log, timers, close),
// dialog_handlers.cpp (the handlers of its own controls), dialog_scaling.cpp (the manual colour
// scale), dialog_session.cpp (the port list and the device session), dialog_commands.cpp (the
// commands to the module), dialog_refresh.cpp (per-frame presentation and the timer dispatch),
// dialog_readouts.cpp (what the status bar is told), dialog_recording.cpp ("Save to...", "Rec",
// "Stop"), dialog_playback.cpp ("Play" and the play-back timers) and dialog_export.cpp
// (snapshot, clipboard). State that only the window needs lives in small classes of one concern
// each, which own their timers: MainControls, CStatusReadouts, CFrameTextPacer,
// CCalibrationExport and CDeviceChangeWatch.
//
// Threads: everything here runs on the GUI thread except the callbacks named as such. Worker
// threads (serial monitor, frame processing) never touch widgets and never wait for the GUI
// thread: they hand work over with PostToGui, which queues it in order. The GUI thread is the
// owner thread of the module session.
#include <QDialog>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/calibration_export.h"
#include "app/device_change_watch.h"
#include "app/frame_text_pacer.h"
#include "app/guarded_text.h"
#include "app/latency_stats.h"
#include "app/main_controls.h"
#include "app/status_readouts.h"
#include "device/fps_meter.h"
#include "device/module_session.h"
#include "device/module_simulator.h"
#include "device/text_reply_mailbox.h"
#include "dialogs/last_folder.h"
#include "frame/binary_record_reader.h"
#include "frame/text_frame.h"
#include "platform/latest_value_mailbox.h"
#include "processing/frame_pipeline.h"
#include "processing/frame_readout.h"
#include "recording/recording_run.h"
#include "recording/stream_player.h"
#include "remote/remote_module.h"

class CDlgBufStatus;
class CDlgPlay;
struct FramePresentation;
class QComboBox;
class QIcon;
class QLineEdit;
class QPlainTextEdit;
class QSlider;
class QStatusBar;
class QTimer;

// Start-up choices from the command line.
struct ViewerOptions {
    bool demo = false;           // run the simulated module and select its port
    std::string port;            // add this port to the list and select it
    bool start = false;          // press START once the dialog is up
    bool stats = false;          // print per-frame latency figures (diagnostics)
    bool startupReport = false;  // print the start-up figures once shown, then close
    std::string appDir;          // where the optional files are looked up; empty: the program's
};

class CmfcVELKDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CmfcVELKDlg(QWidget* parent = nullptr, ViewerOptions options = {});
    ~CmfcVELKDlg() override;

    // Start-up, after construction and before the dialog is shown; returns true.
    bool OnInitDialog();
    void InitMainWindow();

    // Shows a message in the log box, and its first line in status bar pane 1 for a few
    // seconds (frame texts soon replace it in the box); callable from any thread (off the GUI
    // thread it is posted). Dropped once the close sequence has begun.
    void AppendLog(std::string message);

    // Runs fn on the GUI thread, after everything posted before it. Never blocks.
    void PostToGui(std::function<void()> fn);

    // Dispatches every pending event of the GUI thread; returns 0 once the application has been
    // asked to quit, 1 otherwise.
    int PumpPendingMessages();

    // The widget of a control of template 102, or nullptr.
    QWidget* GetDlgItem(int id) const;

    // Reads an edit as a decimal integer with an optional sign; text that does not start with a
    // number reads as 0.
    int GetDlgItemInt(int id) const;
    // Sets a control's text; an edit's change handler runs as if the user had typed it.
    void SetDlgItemText(int id, const QString& text);
    QString GetDlgItemText(int id) const;

    // Window timers by IDT_ constant, dispatched to OnTimer.
    void SetTimer(int id, int periodMs);
    void KillTimer(int id);
    bool IsTimerActive(int id) const;
    // The period a timer was last started with, in milliseconds; 0 for one never started.
    int TimerInterval(int id) const;
    void OnTimer(int id);

    // The program directory, ending in '/'.
    const std::string& AppDir() const { return m_appDir; }
    const std::string& Title() const { return m_title; }
    bool IsClosing() const { return m_isClosing.load(); }

    // The about box, as the about item of the window menu does.
    void OnSysCommand(int command);

    // The close sequence; runs at most once.
    void RunCloseSequence();

    // Recording (dialog_recording.cpp).
    // "Save to...": asks for a file and opens it for recording.
    void OnSaveTo();
    // The file chosen in "Save to..." with the dialog's filter (1 binary, 2 text, other video):
    // the filter's extension is added unless the name already ends in it (any case).
    void SaveTo(std::string path, int filterIndex);
    void OnRec();
    // Ends the recording and any play-back.
    void OnStop();
    const CStreamRecorder& Recorder() const { return m_recordingRun.Recorder(); }

    // Play-back (dialog_playback.cpp).
    // "Play": turns the module off, ends any recording and play-back, then brings up the play
    // dialog (a new one with the speed "186" unless one is open).
    void OnPlay();
    // Plays a recording at speedValue (frames per second times ten; below 1 means 18.6): binary
    // and text streams and raw frame files through the play-back timers (from empty stacks),
    // videos in the video player. Shows the blue frame for every file it tried to open.
    void PlayFile(int speedValue, const std::string& path);
    // Stops the play-back timers, closes the played file and hides the blue frame.
    void StopPlayback();
    // The play dialog while it is open, else nullptr.
    CDlgPlay* PlayDialog() const { return m_pPlayDlg; }

    // Manual colour scale (dialog_scaling.cpp).
    // Relabels the scale readouts for temperature (1, in the unit in use) or voltage (2), and
    // converts the readouts' bounds along; 1 if it changed them.
    int UpdateScaleLabels(int kind);
    // With "Manual" checked, gives the pipeline the readouts' bounds in its own units.
    void ApplyManualScaling();
    // The data-mode switch of a data command or an opened recording: labels and trackbars for
    // temperature (1) or voltage (2) data.
    void ApplyDataMode(int kind);
    // "Colour scale..." of the context menu: asks for an automatic or a fixed scale and sets it
    // through the manual scaling controls, as a user setting those would.
    void OnColourScale();

    // The options dialog's OK: mirroring and temperature unit for the pipeline and the chart.
    void ApplyOptions(int mirrorMode, int tempUnit);
    int MirrorMode() const { return m_mirrorMode; }
    int TempUnit() const { return m_tempUnit; }

    // The frame pipeline, for play-back and for tests that feed frames.
    CFramePipeline& Pipeline() { return m_pipeline; }
    // The module session, for its frame counts.
    const CModuleSession& Session() const { return m_session; }
    // The text "Copy Data" copies: the selected part of the last frame's text.
    std::string CopyText() const { return m_copyText.Get(); }
    // A copy of the last display image (black before the first frame); empty once the close
    // sequence has released it.
    std::vector<uint8_t> LastImage();

    // Snapshot and clipboard (dialog_export.cpp), GUI thread.
    // "Picture and Temperature Data": the last image as a BMP file and the last frame's data as
    // a workbook, named after the local time, in the program directory or else the pictures
    // folder; one log line says where they went, one more if writing failed. Nothing before the
    // first frame.
    void OnSavePictureAndData();
    // "Copy Data" and "Screenshot": the last frame's data text and image to the clipboard.
    void OnCopyData();
    void OnScreenshot();
    // The thread that writes calibration workbooks, so that the serial monitor thread never
    // waits for the disk. The close sequence waits for it.
    QThreadPool& ExportThreads() { return m_calibrationExport.Threads(); }

    // Status bar readouts (dialog_readouts.cpp).
    // The region of interest the user dragged on the image, if any.
    std::optional<SensorRegion> Region() const;
    void SetRegion(std::optional<SensorRegion> region);
    // The text of status bar pane 0 or 1.
    QString StatusPaneText(int pane) const;

    // Device session (dialog_session.cpp, dialog_commands.cpp).
    // "START": ends any play-back, opens the port chosen in the list (or subscribes to the
    // broker address), runs the handshake and starts the stream; the stacks start empty.
    void OnStart();
    // Refills the port list (after a device came or went) and logs that it did.
    void ReloadComPorts();
    // Puts text into the command field and sends it, then keeps the window responsive for a
    // moment. Does nothing while no port is open.
    void SendCommandText(const std::string& text);
    // Sends the first character of the command field ("Send").
    void SendCommand();
    ::HandshakeState HandshakeState() const { return m_session.GetHandshakeState(); }
    // The simulated module of --demo, or nullptr.
    CModuleSimulator* DemoModule() const { return m_pDemoModule.get(); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // The scale the template is built at: 1, or less where the window would not fit the screen
    // (a small screen, or a large scale factor), so that every control stays reachable.
    double FitScale() const;
    void BuildControls();
    void LoadIcon();
    void LoadTitle();

    // Control handlers (dialog_handlers.cpp).
    void ConnectHandlers();
    void ApplyPalette();
    void OnInterpolate();
    void OnStackSizeChange(int editId);
    void ApplyStackSizes();
    void OnAllPixel();
    void OnStartPixelChange();
    void OnPixelCountChange();
    void OnEveryFrameChange();
    void OnElectrical();
    void OnHistMode();
    void OnOptions();
    void CloseBufferStatusDialog();
    // The buffer status window after a data command, and its update after every frame.
    void ShowBufferStatus();
    void UpdateBufferStatus();

    // Device session (dialog_session.cpp, dialog_commands.cpp).
    // Hands the session what it reports to: the presenters below, the log, the GUI queue, the
    // command field and timer 8789.
    void ConnectSession();
    void ConnectSessionHandlers();
    std::vector<std::string> EnumerateComPorts();
    void FillComPortList();
    void SetHandshakeState(::HandshakeState state);
    void LoadCommandList();
    // Timer 8789: the module's information did not come within a second.
    void OnHandshakeTimeout();
    // "TURN OFF": stops the local module's stream, or only unsubscribes from a remote module.
    void OnTurnOff();
    // Keeps the window responsive until the frames a stopped source handed over have been
    // processed and shown (at most half a second), so that none reaches the display after the
    // readout has been emptied.
    void ShowFramesOnTheirWay();
    void OnCalibrationConstants();
    void OnToggleBuffer();
    void OnToggleAmpl();
    void OnMclkDeltaPos(int pos, int delta);
    // Puts a letter into the command field and sends it (no pumping).
    void SendLetter(char letter);
    // What sending a command changes in the controls; GUI thread.
    void ApplyCommandToControls(uint8_t letter);
    // What the session reports from the serial monitor thread: a frame block goes to the
    // pipeline, the rest is posted to the controls.
    void OnFrameReceived(char letter, const uint8_t* bytes, int count);
    // A text reply: to the log, and a calibration table asked for by "Calibration - constants"
    // to a workbook as well (handed to the export thread).
    void OnReply(const std::string& command, const std::string& text, uint64_t replySerial);
    // GUI thread: the oldest text reply waiting in m_textReplies goes to the log.
    void ShowNextTextReply();
    void ShowMclk(const std::string& value);
    void ShowRate(const std::string& rate);
    void OnRecoveryCommand(uint8_t letter);

    // A module on an MQTT broker (dialog_remote.cpp): START with an "mqtt://" address subscribes
    // to it, TURN OFF and closing unsubscribe.
    void StartRemote(const std::string& addressText);
    // Unsubscribes from the remote module, if any, and logs that it did.
    void StopRemote();
    // Remote module's network thread: a frame, to the pipeline as a local one.
    void OnRemoteFrame(char letter, const uint8_t* block, int count);
    // The command box's first letter to the remote module; false when it was not sent.
    bool SendRemoteCommand(const std::string& text);
    // A module is there to send commands to: a local port is open or a remote module subscribed.
    bool IsModuleReachable() const;

    // Snapshot, clipboard and calibration export (dialog_export.cpp).
    // The clipboard buttons, the snapshot button and their items in the context menu.
    void ConnectExportHandlers();

    // Manual colour scale (dialog_scaling.cpp).
    QSlider* Trackbar(int id) const;
    void ConnectScalingHandlers();
    void OnHScroll(int id);
    void WriteTemperatureReadouts();
    void WriteVoltageReadouts();
    // The colour scale dialog's fixed bounds into the readouts, then the "Manual" scale.
    void SetFixedScale(double low, double high);
    // The readouts from one readout unit into another as the labels change: the same bounds in
    // another temperature unit, or the trackbars' bounds when volts and temperatures trade
    // places (they do not convert).
    void ConvertReadouts(int fromUnit, int toUnit);

    // Refresh cycle (dialog_refresh.cpp).
    // Shows the newest posted frame on the GUI thread; older ones not yet shown are skipped.
    void PresentFrame();
    // The log box's own rule: a box of more than five lines starts afresh with the text. GUI
    // thread; nothing once the close sequence has begun.
    void WriteLogBox(const std::string& text);
    // Cuts the frame text to the selected pixels, keeps the result in m_copyText for "Copy
    // Data" and returns it for the log; shows nothing itself. Processing thread, or the GUI
    // thread for play-back.
    std::string ShowSelectedPixels(const std::string& text);
    // Recording steps, through the recording run: a processed frame into a binary or text
    // recording (processing thread, or the GUI thread for play-back), the video timer's sample
    // of the last image (GUI thread), and the reaction to a stopped recording (any thread:
    // posted).
    void ConnectRecordingRun();
    void RecordProcessedFrame(char modeLetter, const std::string& text, const uint8_t* raw);
    void OnVideoFrameTimer();
    void PostRecordingStopped(const std::string& reason);
    // Any thread: a notice of the recorder (a part that took another number) to the log box.
    void ReportRecorderNotice(const std::string& notice);
    static void OnFrameReady(void* owner, const char* modeLetter, const std::string& text,
                             const uint8_t* raw, const uint8_t* image, const uint16_t* values);

    // Play-back ticks (dialog_playback.cpp): one record or frame each, on the GUI thread.
    void OnPlayBinaryTick();
    void OnPlayTextTick();
    void OnPlayRawTick();
    // The file ended (or its last record is short): the timer stops and the blue frame goes;
    // the file stays open until the next "Stop" or "Play".
    void EndPlaybackTick(int timerId);
    // A text recording's unit applies to everything the frame shows and records.
    void SetPlaybackUnit(int unit);
    void OpenVideoPlayer(const std::string& path);
    // --stats: how long one tick took to read its record and in all.
    void NotePlaybackTick(std::chrono::steady_clock::time_point start,
                          std::chrono::steady_clock::time_point read);

    // Status bar readouts (dialog_readouts.cpp): what pane 1 reports when no message is shown.
    StatusActivity ActivityNow() const;

    // Typed access to the controls.
    QLineEdit* Edit(int id) const;
    QPlainTextEdit* LogBox() const;
    QComboBox* Combo(int id) const;
    void SetCheck(int id, bool checked);
    bool IsChecked(int id) const;
    void EnableControl(int id, bool enable);

    // State members, in the order of the data model.
    QIcon* m_hIcon = nullptr;
    std::string m_title;
    QStatusBar* m_statusBar = nullptr;
    CFramePipeline m_pipeline;
    // The recording from "Rec" to "Stop" and its file; it writes binary and text records on a
    // thread of its own.
    CRecordingRun m_recordingRun;
    CStreamPlayer m_player;
    // A stopped recording's turn-off and log line are queued; later failing frames add nothing.
    std::atomic<bool> m_isRecordingStopPosted{false};
    // The open play dialog; it clears this itself as it closes. GUI thread only.
    CDlgPlay* m_pPlayDlg = nullptr;
    // Where "Save to..." and the play dialog's "Open stream..." start. GUI thread only.
    CLastFolder m_lastFolder;
    std::string m_appDir;
    std::atomic<int> m_profileMode{0};
    std::atomic<int> m_isClosing{0};
    std::atomic<int> m_mirrorMode{0};
    std::atomic<int> m_tempUnit{2};
    int m_interpolate = 1;
    // The last display image, copied on every frame; the video recording samples it.
    std::unique_ptr<uint8_t[]> m_pLastImage;
    std::mutex m_lastImageLock;  // guards the bytes of m_pLastImage
    // A raw frame's small and display images during play-back, reused by every tick; GUI thread
    // only.
    std::vector<uint8_t> m_playSmallImage = std::vector<uint8_t>(kSmallImageBytes);
    std::vector<uint8_t> m_playImage;  // sized by the first raw frame played, not at start-up
    // The last valid pixel range of the log and "Copy Data"; used by the frame-ready callback,
    // one frame at a time.
    std::atomic<int> m_startPixel{1};
    std::atomic<int> m_pixelCount{kTextFieldCount};
    // "Every Frame": every n-th processed frame is recorded; "Rec" hands it to the recording
    // run. GUI thread only.
    int m_recordEveryN = 1;
    // Written by the frame-ready callback, read by "Copy Data" and the snapshot.
    CGuardedText m_copyText;
    // The letter of the last data command (`K`, `k`, `t`, `c`). Not read yet: recordings take
    // their mode from it.
    std::atomic<char> m_modeLetter{' '};
    // Set by "Calibration - constants": the next `w` reply is exported to a workbook, and the
    // flag drops, so a table asked for by typing "w" is only logged.
    std::atomic<int> m_exportCalibration{0};
    CDlgBufStatus* m_pBufStatusDlg = nullptr;
    std::mutex m_bufStatusLock;  // guards m_pBufStatusDlg and keeps the dialog alive in use
    // The newest rate the session reported, waiting for the FPS box; one update is queued for
    // it at a time.
    CLatestValueMailbox<std::string> m_pendingRate;
    // Text replies waiting for the log; a module that floods one reply keeps one text waiting.
    CTextReplyMailbox m_textReplies;

    // The controls of template 102, and the window timers by IDT_ constant.
    MainControls m_controls;
    std::map<int, QTimer*> m_timers;

    // What the status bar reads.
    CStatusReadouts m_statusReadouts;
    // Frame texts on their way to the log box.
    CFrameTextPacer m_frameTextPacer;

    // Latency figures of --stats, or null.
    std::unique_ptr<CLatencyStats> m_pStats;

    // The newest frame waiting for the GUI thread, handed over by the processing thread; one
    // PresentFrame is queued for it at a time.
    CLatestValueMailbox<std::unique_ptr<FramePresentation>> m_pendingPresentation;

    ViewerOptions m_options;
    // Where snapshots go, and the thread that writes calibration workbooks. The close sequence
    // waits for its jobs, and so does the destructor before the members they report to go.
    CCalibrationExport m_calibrationExport;
    // The close sequence runs once; its own message pumps may bring another close meanwhile.
    enum class CloseSequence { kNotRun, kRunning, kDone };
    CloseSequence m_closeSequence = CloseSequence::kNotRun;

    // Hot-plug: the port list follows adapters coming and going.
    CDeviceChangeWatch m_deviceChanges;
    std::unique_ptr<CModuleSimulator> m_pDemoModule;
    // The remote module while one is subscribed (GUI thread), with what its network thread
    // keeps: the mode letter of its last frame, its frame rate, and the last command letter
    // sent with a serial for each reply, so that its replies are logged as a local module's.
    // Destroyed before the pipeline it feeds.
    std::atomic<char> m_remoteModeLetter{0};
    std::mutex m_remoteRateLock;  // guards m_remoteRate
    CFpsMeter m_remoteRate;
    std::atomic<char> m_remoteCommand{' '};
    std::atomic<uint64_t> m_remoteReplySerial{0};
    std::unique_ptr<CRemoteModule> m_pRemoteModule;
    // The serial port, the reply list and the handshake. Declared last, so destroyed first: the
    // monitor thread is stopped before anything it calls into (pipeline, simulated module) goes
    // away, even without a close sequence.
    CModuleSession m_session;
};
