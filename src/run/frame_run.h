#pragma once
// CFrameRun: one run of frames from a source to outputs, the loop every front end drives. It owns
// one frame source (a recording being read, the module on a serial port, a module on a broker),
// the frame pipeline and a list of outputs (IFrameSink), and runs THE loop: take the next frame,
// make it once through the one entry of its kind (CFrameEntry), hand the one ProcessedFrame to
// every output. It stops in one sequence, for one reason (RunStop): the frame or time limit, the
// end of the source, a stop asked, the module lost, an output ended or failed. A live source
// (ILiveFeed) is started first and, at the end, stopped with the frames still on their way taken
// as long as the outputs take frames. One set of counts says what became of every frame.
//
// Two ways to drive it:
// - blocking, on the caller's thread (the `thermal` commands): Run() returns once the run has
//   stopped; the stop requests are asked between frames and hooks run in every pass;
// - on a thread of its own (the viewer): Start() returns at once, RequestStop() asks the run to
//   stop without waiting for it, Join() waits for the end.
//
// Threads and ownership: the run owns its source and pipeline and shares its outputs with whoever
// added them. Outputs are called on the run's thread only, and never under a lock of the run.
// AddSink and RemoveSink may be called from any thread at any time: an output added while the run
// runs is begun before its next frame, one removed is finished on the run's thread and handed
// back through RunHooks::sinkFinished. The pipeline's settings may be changed from any thread
// (CFramePipeline); the run processes on its own thread through the pipeline's synchronous entry
// points, so nothing may queue frames to this pipeline. Counts() may be read from any thread.
// Hooks are called on the run's thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame/frame_source.h"
#include "platform/result.h"
#include "processing/frame_pipeline.h"
#include "run/frame_entry.h"
#include "run/frame_sink.h"
#include "run/live_feed.h"

struct RunLimits {
    uint64_t frames = 0;  // frames handed to the outputs before the run stops; 0: no limit
    // How long the run takes frames, from the start of a live stream (or of the run).
    std::optional<std::chrono::steady_clock::duration> duration;
};

struct RunHooks {
    // How many stops were asked so far (the tool: the SIGINT and SIGTERM caught). One stops the
    // run; one more during the stop sequence cuts the wait for the module's last frames short.
    std::function<int()> stopRequests;
    // After each frame of a recording, and in each pass of a live loop (every few milliseconds):
    // a progress line, a video clock of the front end's own.
    std::function<void()> onPass;
    // A line of the source or of an output for the user, without the program's prefix.
    std::function<void(const std::string& line)> notice;
    // A frame of the source that makes no processed frame (a text frame that does not parse).
    std::function<void(const SourceFrame& frame)> frameNotMade;
    // An output removed while the run ran (RemoveSink, or an optional output that failed), after
    // its Finish; `status` is its failure or that of its Finish.
    std::function<void(std::shared_ptr<IFrameSink> sink, const Status& status)> sinkFinished;
};

// What became of the frames, any thread. Each frame taken is handed to the outputs, made into
// none, or let go after the outputs stopped taking.
struct RunCounts {
    uint64_t taken = 0;      // from the source
    uint64_t processed = 0;  // handed to the outputs
    uint64_t notMade = 0;    // made into no frame: a text frame that does not parse
    uint64_t letGo = 0;      // taken after the outputs stopped taking, or failed with it
    uint64_t received = 0;   // a live source: every frame its link received
    uint64_t dropped = 0;    // ... and those it dropped because the run fell behind
};

struct RunEnd {
    RunStop reason = RunStop::kNone;
    Status failure;  // what failed, for kSourceFailed, kModuleLost and kSinkFailed
};

class CFrameRun {
  public:
    using Clock = std::chrono::steady_clock;
    // The longest a live loop waits for frames before it looks at stops, limits and its outputs.
    static constexpr std::chrono::milliseconds kLoopWait{10};

    // Starts the pipeline's processing thread, which the run leaves idle (std::system_error when
    // it cannot be started, as for any pipeline).
    explicit CFrameRun(std::unique_ptr<IFrameSource> source);
    // Stops the run's thread if it runs (RequestStop, Join).
    ~CFrameRun();
    CFrameRun(const CFrameRun&) = delete;
    CFrameRun& operator=(const CFrameRun&) = delete;

    CFramePipeline& Pipeline() { return m_pipeline; }
    IFrameSource& Source() { return *m_source; }
    // The source's live side, or null for a recording.
    ILiveFeed* Live() { return m_live; }
    // Whether text stream records switch the unit to their header's (on by default).
    void SetTextUnitFollowed(bool isFollowed) { m_entry.SetTextUnitFollowed(isFollowed); }
    // Before the run starts.
    void SetLimits(const RunLimits& limits) { m_limits = limits; }

    // Any thread. A required output that fails or ends stops the run; an optional one is then
    // removed, finished and handed to RunHooks::sinkFinished.
    void AddSink(std::shared_ptr<IFrameSink> sink, bool isRequired = true);
    void RemoveSink(const IFrameSink* sink);

    // Runs on the caller's thread until the run stops; then its outputs are still open (see
    // FinishSinks).
    RunEnd Run(const RunHooks& hooks);
    // Runs on a thread of its own; `ended` is called on it with the end. Fails when the thread
    // cannot be started.
    Status Start(RunHooks hooks, std::function<void(const RunEnd&)> ended);
    // Any thread, returns at once: the run stops as for a stop request.
    void RequestStop() { m_stopsAsked.fetch_add(1); }
    // Waits for the run's thread, if any.
    void Join();

    // After the run (on its thread's owner): finishes every output in the order added; the first
    // failure, after which the outputs not finished stay unfinished.
    Status FinishSinks();

    // Any thread.
    RunCounts Counts() const;
    bool IsTaking() const { return m_isTaking.load(); }
    // True once the outputs were begun (a live source streams, and every output took its start).
    bool HasBegun() const { return m_hasBegun.load(); }
    // The run's thread, or after the run: when its time began (the live stream asked for) and
    // when its stop sequence began.
    Clock::time_point StreamStart() const { return m_streamStart; }
    std::optional<Clock::time_point> StopStart() const { return m_stopStart; }
    // When the last frame was handed to the outputs.
    std::optional<Clock::time_point> LastFrameTime() const { return m_lastFrame; }

  private:
    struct SinkEntry {
        std::shared_ptr<IFrameSink> sink;
        bool isRequired = true;
        bool isBegun = false;
    };

    void ApplySinkChanges();
    Status BeginSinks();
    void Pass();
    // Takes and hands on what the source has, waiting at most `wait` for a live frame.
    void TakeFrames(std::chrono::milliseconds wait);
    void Handle(const SourceFrame& frame);
    Clock::time_point ServeSinks(Clock::time_point now);
    // Ends the run for a required output that failed or ended, removes an optional one.
    void CheckSinks();
    void DropSink(std::size_t index, const Status& failure);
    // RunHooks::sinkFinished, while the run runs.
    void HandBack(std::shared_ptr<IFrameSink> sink, const Status& status);
    // The lines of the outputs and, `withSource`, of the source.
    void PassOnNotices(bool withSource = true);
    void StopSequence();
    // The first reason ends the loop; the reasons that also end taking frames end it.
    void End(RunStop reason, const Status& failure = {});
    int StopRequests() const;

    std::unique_ptr<IFrameSource> m_source;
    ILiveFeed* m_live = nullptr;  // m_source's live side
    CFramePipeline m_pipeline;
    CFrameEntry m_entry{m_pipeline};
    RunLimits m_limits;

    std::mutex m_sinkLock;  // guards m_added and m_removed, the changes the run has not applied
    std::vector<SinkEntry> m_added;
    std::vector<const IFrameSink*> m_removed;
    std::atomic<bool> m_hasSinkChanges{false};

    std::atomic<int> m_stopsAsked{0};  // RequestStop
    std::atomic<bool> m_isTaking{true};
    std::atomic<bool> m_hasBegun{false};
    std::atomic<uint64_t> m_taken{0};
    std::atomic<uint64_t> m_processed{0};
    std::atomic<uint64_t> m_notMade{0};
    std::atomic<uint64_t> m_letGo{0};

    // The run's thread only from here on (or the caller's, for Run).
    const RunHooks* m_hooks = nullptr;
    std::vector<SinkEntry> m_sinks;  // the outputs in use
    bool m_isBegun = false;          // the outputs have been begun
    bool m_isOpen = false;           // the live source was opened
    RunStop m_reason = RunStop::kNone;
    Status m_failure;
    Clock::time_point m_streamStart;
    std::optional<Clock::time_point> m_deadline;
    std::optional<Clock::time_point> m_stopStart;
    std::optional<Clock::time_point> m_lastFrame;
    Clock::time_point m_nextServe = Clock::time_point::max();  // the earliest an output asked for

    std::thread m_thread;  // Start's; the owner's thread starts and joins it
    RunHooks m_ownHooks;   // Start's hooks, kept for its thread
};
