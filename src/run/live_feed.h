#pragma once
// ILiveFeed: the side of a live frame source (the module on a serial port, or one that another
// machine publishes on a broker) that a run drives besides taking its frames: connect, start the
// stream and wait for its first frame, serve the link, notice the module lost, stop the stream
// keeping the frames still on their way, disconnect. A live source implements it beside
// IFrameSource (frame/frame_source.h); a run finds it there and goes through its steps. The
// run's thread calls every operation; the frames arrive from the link's own thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame/frame_source.h"
#include "platform/result.h"

class ILiveFeed {
  public:
    using Clock = std::chrono::steady_clock;

    // A module that has sent no frame this long after the stream was asked for is not answering.
    static constexpr auto kFirstFrameWait = std::chrono::seconds(3);
    // Frames received but not yet taken, before newer ones are dropped: about 9 MB, seconds of
    // the fastest stream. Only a run far too slow for the stream ever fills it.
    static constexpr std::size_t kMaxWaitingFrames = 4096;

    virtual ~ILiveFeed() = default;

    // Connects to the module ("cannot open '/dev/ttyUSB0': ...").
    virtual Status Open() = 0;
    // Asks for the stream once the module is ready for it, then waits for its first frame:
    // true once it came, false when `isStopped` (asked every few milliseconds meanwhile) said
    // true first, or why the module did not stream.
    virtual Result<bool> StartStream(const std::function<bool()>& isStopped) = 0;
    // When the stream was asked for: the start of the run's time (its duration, its rate).
    virtual Clock::time_point StreamStart() const = 0;
    // Runs what the link handed over to the run's thread. Called in every pass of the run.
    virtual void Serve() = 0;
    // The next frame, waiting at most `wait` (zero: not at all): kFrame, or kTimedOut.
    virtual SourceRead NextWithin(SourceFrame& frame, std::chrono::milliseconds wait) = 0;
    // A failure once the module has gone while streaming ("the module on '/dev/ttyUSB0' went
    // away while recording").
    virtual Status CheckLink() = 0;
    // Lines for the user that came up since the last call (a handshake not answered, a rate the
    // line cannot carry, the broker's news), without the program's prefix.
    virtual std::vector<std::string> TakeNotices() = 0;
    // Stops the stream. Frames already on their way still arrive; `pump` is called every few
    // milliseconds while they are awaited (the run takes them there) and ends the wait early by
    // returning false.
    virtual void Stop(const std::function<bool()>& pump) = 0;
    // Disconnects for good; nothing arrives after it.
    virtual void Close() = 0;

    // Any thread: every frame received, and those of them dropped because the run fell behind.
    virtual uint64_t Received() const = 0;
    virtual uint64_t Dropped() const = 0;
    // What never arrived although the module or its publisher sent it, for a summary line
    // (", N payloads dropped: ..., M frames missing in G gaps"), or empty. A serial link finds
    // the frames in its bytes and says nothing here.
    virtual std::string LossText() const { return {}; }
    // Frames the module's publisher numbered that never arrived.
    virtual uint64_t FramesMissing() const { return 0; }
};
