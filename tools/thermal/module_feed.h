#pragma once
// The module as the commands that take its live frames (`thermal record`, `thermal stream`) drive
// it: connect, start the stream once the module is ready for it, wait for the first frame, hand
// every frame over in order, say what goes wrong on the way, and stop it again, keeping the frames
// that were still on their way. IModuleFeed is what such a command sees; CModuleFeed is the module
// on a serial port, driven through the viewer's module session, and CRemoteModuleFeed
// (remote_module_feed.h) a module served on an MQTT broker. The command's main thread calls every
// operation; the frames arrive in Frames() from the link's own thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/live_frame_source.h"
#include "device/module_session.h"

enum class FeedStart {
    kStreaming,  // the first frame has arrived
    kStopped,    // the owner asked to stop before it did
    kFailed,     // the module did not stream; Failure() says why
};

class IModuleFeed {
  public:
    using Clock = std::chrono::steady_clock;

    // A module that has sent no frame this long after the stream was asked for is not answering.
    static constexpr auto kFirstFrameWait = std::chrono::seconds(3);
    // Frames received but not yet taken, before newer ones are dropped: about 9 MB, seconds of
    // the fastest stream. Only an owner far too slow for the stream ever fills it.
    static constexpr std::size_t kMaxWaitingFrames = 4096;

    virtual ~IModuleFeed() = default;

    // Connects to the module. False with Failure() set ("cannot open '/dev/ttyUSB0': ...").
    virtual bool Open() = 0;
    // Asks for the stream once the module is ready for it, then waits for its first frame.
    // `isStopped` is asked every few milliseconds meanwhile; true ends the wait with kStopped.
    virtual FeedStart StartStream(const std::function<bool()>& isStopped) = 0;
    // When the stream was asked for: the start of the command's time (its duration, its rate).
    virtual Clock::time_point StreamStart() const = 0;
    // Runs what the link handed over to the owner's thread. Call it in the main loop, often.
    virtual void Serve() = 0;
    // The frames, every one kept in order until the owner takes it.
    virtual CLiveFrameSource& Frames() = 0;
    // True once the module has gone while streaming; Failure() then says so.
    virtual bool IsLost() = 0;
    // Lines for the user that came up since the last call (a handshake not answered, a rate the
    // line cannot carry), without the program's prefix.
    virtual std::vector<std::string> TakeNotices() = 0;
    // Stops the stream. Frames already on their way still arrive in Frames(); `pump` is called
    // every few milliseconds while they are awaited (the owner takes them there) and ends the
    // wait early by returning false.
    virtual void Stop(const std::function<bool()>& pump) = 0;
    // Disconnects for good; nothing arrives after it.
    virtual void Close() = 0;
    // Why the module failed, or empty.
    virtual const std::string& Failure() const = 0;
    // What never reached Frames() although the module or its publisher sent it, for a summary
    // line (", N payloads dropped: ..., M frames missing in G gaps"), or empty. A serial link
    // says nothing here: it finds the frames in its bytes and counts what it loses itself.
    virtual std::string LossText() const { return {}; }
    // Frames the module's publisher numbered that never arrived: the recording or the stream
    // lacks them.
    virtual uint64_t FramesMissing() const { return 0; }
};

struct ModuleFeedOptions {
    std::string port;
    bool voltage = false;  // the voltage stream (t) instead of temperatures (K)
    // What the frames are taken for, in messages: "recording its frames anyway", "went away
    // while recording".
    std::string activity = "recording";
    // A module on a broker: the client id of a persistent session, in which the broker keeps
    // what the subscriber misses while it is away (a recorder); empty for a clean session.
    std::string clientId{};
};

// Why `options` name no module the commands can take, or empty: a broker address that does not
// parse, or the voltage stream asked of a module on a broker (it streams what its publisher
// asked the module for).
std::string ModuleFeedOptionsProblem(const ModuleFeedOptions& options);
// The feed for `options.port`: a module on a broker for "mqtt://...", else one on a serial port.
std::unique_ptr<IModuleFeed> MakeModuleFeed(ModuleFeedOptions options);

// The module on a serial port: START's handshake (x, M) and stream (K or t), TURN OFF and close,
// as the viewer does them.
class CModuleFeed final : public IModuleFeed {
  public:
    explicit CModuleFeed(ModuleFeedOptions options);

    bool Open() override;
    FeedStart StartStream(const std::function<bool()>& isStopped) override;
    Clock::time_point StreamStart() const override { return m_streamStart; }
    void Serve() override { m_session.Tick(); }
    CLiveFrameSource& Frames() override { return m_source; }
    bool IsLost() override;
    std::vector<std::string> TakeNotices() override;
    void Stop(const std::function<bool()>& pump) override;
    void Close() override { m_session.Close(); }
    const std::string& Failure() const override { return m_failure; }

    // Every text reply of the module as the session reports it (CModuleSession::Callbacks::
    // textReply), called on the monitor thread. Set before Open.
    void SetTextReplyListener(
        std::function<void(const std::string& command, const std::string& text, uint64_t serial)>
            listener) {
        m_textReplyListener = std::move(listener);
    }
    // Sends `letter` to the module as the viewer's command box sends it.
    void SendCommand(char letter) { m_session.SendCommand(std::string(1, letter)); }

  private:
    void OnStopReply(const std::string& text);

    const ModuleFeedOptions m_options;

    // The module's frames, every one kept in order until the owner takes it.
    CLiveFrameSource m_source{kMaxWaitingFrames};
    // The module answered the T of the stop sequence and the frames in its answer were handed
    // over (written on the monitor thread; Stop ends its wait on it).
    std::atomic<bool> m_hasStopReply{false};
    std::atomic<bool> m_isDeviceLost{false};
    std::mutex m_rateWarningLock;  // guards m_rateWarning, set on the monitor thread
    std::string m_rateWarning;     // handed to the owner by TakeNotices

    // Set before the monitor thread starts, called on it.
    std::function<void(const std::string&, const std::string&, uint64_t)> m_textReplyListener;

    // Owner thread only from here on.
    std::string m_failure;
    bool m_hasWarnedOfHandshake = false;
    Clock::time_point m_streamStart;

    // Last: destroyed first, so no callback of its monitor thread outlives what it uses.
    CModuleSession m_session;
};
