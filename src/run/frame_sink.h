#pragma once
// IFrameSink: an output of a run (a file of any kind, a recording, the lines of a stream, a
// broker, the window's display). A run hands every processed frame to each of its outputs in
// turn, on the run's thread, and never holds a lock of its own while it calls one. An output
// says what it needs made of a frame, creates what it writes in Begin (once a live source
// streams, so a module that never streams leaves no file), says in Failure or IsTaking when it
// can take no more, and completes its output in Finish. Written and Dropped may be read from any
// thread; everything else is called on the run's thread (or, before and after the run, on the
// thread that owns it).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"
#include "run/processed_frame.h"

// Why a run stopped taking frames.
enum class RunStop {
    kNone,          // still running
    kSourceEnded,   // the recording has no more frames
    kFrameLimit,    // the run's frame limit was reached
    kTimeLimit,     // the run's duration was up
    kStopAsked,     // a stop was asked (a signal, the window's stop)
    kSourceFailed,  // the module did not open or stream, or reading a recording failed
    kModuleLost,    // the module went away while streaming
    kSinkEnded,     // an output takes no more frames (its own limit, a reader gone)
    kSinkFailed,    // an output failed
};

class IFrameSink {
  public:
    using Clock = std::chrono::steady_clock;

    virtual ~IFrameSink() = default;

    // The output in messages: "'rec.csv'", "standard output", "mqtt://host:1883/cam".
    virtual std::string Name() const = 0;
    // FrameNeed bits.
    virtual unsigned Needs() const = 0;
    // Creates what the output writes; called once, before its first frame.
    virtual Status Begin() { return {}; }
    // Writes one frame. A failure stops a run whose output this is (or removes an optional one).
    virtual Status Write(const ProcessedFrame& frame) = 0;
    // Timed work (a video's clock, a broker's traffic), called in every pass of the run's loop,
    // also while it waits for a live source to start or stop. Returns when the output next
    // wants to be called.
    virtual Clock::time_point Serve(Clock::time_point /*now*/) { return Clock::time_point::max(); }
    // The run is about to stop its source, for `reason`; frames still on their way may follow.
    virtual void SourceStopping(RunStop /*reason*/) {}
    // False once the output takes no more frames without having failed (its own limit reached,
    // its reader gone).
    virtual bool IsTaking() const { return true; }
    // A failure found after Write returned (a writer thread of its own), or success.
    virtual Status Failure() const { return {}; }
    // Lines for the user that came up since the last call, without the program's prefix.
    virtual std::vector<std::string> TakeNotices() { return {}; }
    // Completes the output: a file gets its final name or its last header, a connection says
    // goodbye. Not called for an output that is to leave nothing behind (a conversion that
    // failed): destroying it unfinished discards what it wrote where its kind allows.
    virtual Status Finish() = 0;
    // The files written, in order (the parts of a recording split into parts).
    virtual std::vector<std::string> Files() const { return {}; }

    // Any thread: frames the output holds, and frames it had to let go.
    virtual uint64_t Written() const { return m_written.load(); }
    uint64_t Dropped() const { return m_dropped.load(); }

  protected:
    void CountWritten() { m_written.fetch_add(1, std::memory_order_relaxed); }
    void CountDropped() { m_dropped.fetch_add(1, std::memory_order_relaxed); }

  private:
    std::atomic<uint64_t> m_written{0};
    std::atomic<uint64_t> m_dropped{0};
};
