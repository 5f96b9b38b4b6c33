#pragma once
// CRecordingRun: one recording while frames arrive, from "Rec" to "Stop" in the viewer and from
// the first frame to the end in `thermal record`. It owns the recorder; it takes the recording
// step of every processed frame, samples the display for a video every kVideoFramePeriod, and
// says what happened: a notice of the recorder, a stop (a write failed, the disk ran low, no next
// part could be made), the frames written and the files they went to.
//
// Binary and text records are written by a thread of the run's own (the recording writer), in
// the order the frames were taken, through a bounded queue of whole records: the thread that
// takes a frame only makes its record, and when the queue is full it waits for room rather than
// lose one. The writer comes every kRecordWriterPeriod, or sooner when half the queue waits, so
// the frame path seldom pays for waking it. Stopping, and opening another file, first write
// everything queued. Video frames are encoded on the controlling thread, as the viewer's timer
// does.
//
// Threads: TakeFrame on the frame processing thread (or the GUI thread for play-back), one thread
// at a time; everything else on one controlling thread (the GUI thread, or the tool's main
// thread), except the accessors, which any thread may call. The listener is called on the writer
// thread for records and on the controlling thread for video frames, never under a lock of the
// run.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "recording/stream_recorder.h"

// The viewer's video timer: the last display image becomes a video frame this often (20 a
// second, the rate the movie states).
inline constexpr std::chrono::milliseconds kVideoFramePeriod{50};

// Records made but not yet written, before the thread that takes frames waits for the writer:
// about half a megabyte of text records, a few seconds of the fastest stream at a full disk's
// pace.
inline constexpr std::size_t kRecordQueueCapacity = 64;

// The longest a record waits in the queue while fewer than half of it are waiting: the writer
// comes by this often.
inline constexpr std::chrono::milliseconds kRecordWriterPeriod{20};

// How a run reacts to what it is told, set at Begin.
struct RecordingRunRules {
    // Every `everyN`-th frame goes into a binary or text stream ("Every Frame"); 1 or less: all.
    int everyN = 1;
    // The run stops taking frames once this many records or video frames were taken; 0: never.
    uint64_t frameLimit = 0;
    // `thermal record`: the first stop ends the run, and records queued after the one that
    // stopped it are let go. The viewer instead goes on writing the frames that still come
    // while the file takes them, and reports each later stop again.
    bool endsAtFirstStop = false;
    std::size_t queueCapacity = kRecordQueueCapacity;
};

// What the run tells as it happens. Either may be empty.
struct RecordingRunListener {
    // A line of the recorder that is no failure (a part that took another number).
    std::function<void(const std::string& notice)> notice;
    // A record or video frame found the recording stopped, for `reason` (naming the call and
    // the file). Called again by every later record that finds it so.
    std::function<void(const std::string& reason)> stopped;
};

class CRecordingRun {
  public:
    using Clock = std::chrono::steady_clock;

    explicit CRecordingRun(RecorderEnvironment environment = {});
    // Stops (see Stop).
    ~CRecordingRun();
    CRecordingRun(const CRecordingRun&) = delete;
    CRecordingRun& operator=(const CRecordingRun&) = delete;

    // Before Begin.
    void SetListener(RecordingRunListener listener);

    // Writes what is queued for the file that is open, then opens `path` as
    // CStreamRecorder::OpenFile does (it returns what that returns); frames taken meanwhile wait
    // and go into the new file. It may wait for the writer to write up to a queue's worth of
    // records.
    int OpenFile(int type, const std::string& path,
                 RecordingFileCreation creation = RecordingFileCreation::kReplaceRegularFile);
    // Starts taking frames into the open file (or the file opened later) under `rules`; the
    // counts and the stop reason start again. Returns 1, or 0 when the writer thread cannot be
    // started: the run then reports a stop and takes nothing.
    int Begin(const RecordingRunRules& rules);
    // Stops taking frames (frames still on their way are let go); what is queued is still written.
    void StopTaking();
    // Stops taking frames, writes everything queued, ends the writer thread and closes the file.
    // Nothing happens to a run that never began, but the file is closed.
    void Stop();

    // The recording step of a processed frame: into a binary or text stream, when the run takes
    // frames. May wait for room in the queue.
    void TakeFrame(const ProcessedFrame& frame);
    // Keeps a copy of a display image (320 x 310, red, green, blue) for the next video frame.
    void KeepDisplayImage(const uint8_t* rgbImage);
    // The video timer's tick: the kept image becomes the next frame of a video recording. Does
    // nothing unless the run takes frames into an open video.
    void VideoTick();
    // For a caller without a timer: ticks when the next tick is due (every kVideoFramePeriod from
    // Begin; a late tick is not made up for), and says when the next one is.
    Clock::time_point ServeVideoClock(Clock::time_point now);
    Clock::time_point NextVideoTick() const { return m_nextVideoTick; }

    // Any thread.
    bool IsTaking() const;
    // Records written, or video frames, since Begin (a record that stopped the run but is in the
    // file counts).
    uint64_t Written() const;
    // Every file of the recording since the last OpenFile, in order.
    std::vector<std::string> Parts() const;
    // When the last record or video frame was written; nothing before the first.
    std::optional<Clock::time_point> LastWriteTime() const;
    // Why the run first stopped since Begin, naming the call and the file; empty when it has not.
    std::string FailureReason() const;
    // For reading only: the file and its state.
    const CStreamRecorder& Recorder() const { return m_recorder; }

  private:
    void WriterLoop();
    // After a record or video frame was written (or refused): counts it, reports what the
    // recorder says. Called without any lock of the run.
    void AfterWrite(RecordOutcome outcome, bool isKept);
    void ReportStop(const std::string& reason);

    CStreamRecorder m_recorder;
    RecordingRunListener m_listener;  // set before the writer starts, then only read

    mutable std::mutex m_queueLock;           // guards the members up to m_taken
    std::condition_variable m_recordQueued;   // or the writer is told to end
    std::condition_variable m_recordWritten;  // taken out of the queue, or written; or taking ends
    std::vector<PreparedRecord> m_queue;      // a ring of m_rules.queueCapacity records
    std::size_t m_queueHead = 0;
    std::size_t m_queued = 0;
    bool m_isTaking = false;
    bool m_isWriterEnding = false;
    bool m_isWriting = false;      // the writer has taken a record out and not yet written it
    bool m_isOpeningFile = false;  // OpenFile runs: frames wait
    RecordingRunRules m_rules;
    uint64_t m_taken = 0;  // records queued and video frames written since Begin, for the limit

    mutable std::mutex m_reportLock;  // guards the members up to m_failure
    uint64_t m_written = 0;
    std::vector<std::string> m_parts;
    std::optional<Clock::time_point> m_lastWrite;
    std::string m_failure;

    // Controlling thread only.
    std::thread m_writer;  // the recording writer
    std::vector<uint8_t> m_keptImage;
    std::vector<uint8_t> m_videoFrame;  // the kept image in blue, green, red order
    Clock::time_point m_nextVideoTick;
};
