#pragma once
// CModuleFeed: the module on a serial port as a live frame source of a run (IFrameSource and
// ILiveFeed), driven through the module session as START and TURN OFF drive it: connect, START's
// handshake (x, M) and stream (K or t), the first frame, device loss and rate warnings, TURN OFF
// keeping the frames still on their way, close. Every frame is kept in order until the run takes
// it (CLiveFrameSource), up to ILiveFeed::kMaxWaitingFrames.
//
// The steps are also there one by one for an owner that must never block (the viewer's START):
// Open, IsReadyForStream (or the owner's own handshake timer, through the session's callbacks),
// RequestStream; StartStream runs them in a row, waiting. The owner's own session callbacks (log
// lines, replies, the clock, the rate, recovery commands, posting, the handshake timer) are called
// besides the feed's.
//
// Threads: the run's thread (the owner of the session) calls every operation; the frames and
// the session's callbacks arrive on the serial monitor thread.
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
#include "run/live_feed.h"

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

// What the live sources of a module share: its frames, every one kept in order until the run
// takes it, handed out as a frame source (Next waits until one comes or the feed is closed) and
// as a live feed.
class CQueuedModuleFeed : public IFrameSource, public ILiveFeed {
  public:
    SourceRead Next(SourceFrame& frame) override { return m_source.Next(frame); }
    uint64_t Position() const override { return m_source.Position(); }
    int ErrorNumber() const override { return 0; }
    SourceRead NextWithin(SourceFrame& frame, std::chrono::milliseconds wait) override {
        return m_source.NextWithin(frame, wait);
    }
    uint64_t Received() const override { return m_source.Received(); }
    uint64_t Dropped() const override { return m_source.Dropped(); }

  protected:
    CLiveFrameSource m_source{kMaxWaitingFrames};
};

class CModuleFeed final : public CQueuedModuleFeed {
  public:
    // `owner`: the owner's own session callbacks, called after the feed's (each may be empty).
    explicit CModuleFeed(ModuleFeedOptions options, CModuleSession::Callbacks owner = {});

    Status Open() override;
    Result<bool> StartStream(const std::function<bool()>& isStopped) override;
    Clock::time_point StreamStart() const override { return m_streamStart; }
    void Serve() override { m_session.Tick(); }
    Status CheckLink() override;
    std::vector<std::string> TakeNotices() override;
    void Stop(const std::function<bool()>& pump) override;
    void Close() override;

    // The steps of StartStream, for an owner that must not wait: the module has answered M (or
    // its second is up), so the stream may be asked for; then asks for it.
    bool IsReadyForStream() const;
    void RequestStream();

    // Sends `letter` to the module as the viewer's command box sends it.
    void SendCommand(char letter) { m_session.SendCommand(std::string(1, letter)); }
    CModuleSession& Session() { return m_session; }

  private:
    void OnStopReply(const std::string& text);

    const ModuleFeedOptions m_options;

    // The module answered the T of the stop sequence and the frames in its answer were handed
    // over (written on the monitor thread; Stop ends its wait on it).
    std::atomic<bool> m_hasStopReply{false};
    std::atomic<bool> m_isDeviceLost{false};
    std::mutex m_rateWarningLock;  // guards m_rateWarning, set on the monitor thread
    std::string m_rateWarning;     // handed to the owner by TakeNotices

    // Owner thread only from here on.
    bool m_hasWarnedOfHandshake = false;
    Clock::time_point m_streamStart;

    // Last: destroyed first, so no callback of its monitor thread outlives what it uses.
    CModuleSession m_session;
};
