#pragma once
// CRemoteModuleFeed: a module that another machine serves on an MQTT broker (`thermal publish`),
// taken by `thermal record` and `thermal stream` as they take a module on a serial port. Open
// connects in the background and subscribes to the module's topics; StartStream waits for the
// first frame; Stop only unsubscribes, as the module, which may have other viewers and
// recorders, goes on streaming. No command is ever sent to it. The module counts as lost once its
// publisher says it is offline, or once the broker has been out of reach for
// kBrokerAbsenceLimit. The command's main thread calls every operation; frames and the broker's
// notices arrive from the broker connection's network thread.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "module_feed.h"
#include "remote/remote_module.h"

class CRemoteModuleFeed final : public IModuleFeed {
  public:
    // Long enough to ride through a broker restart, or a reboot of its machine, with the client's
    // back-off (at most 30 s between attempts) still finding it again; frames published meanwhile
    // are not received.
    static constexpr auto kBrokerAbsenceLimit = std::chrono::minutes(2);

    explicit CRemoteModuleFeed(ModuleFeedOptions options);

    bool Open() override;
    FeedStart StartStream(const std::function<bool()>& isStopped) override;
    Clock::time_point StreamStart() const override { return m_streamStart; }
    // The broker connection runs on its own thread: nothing to serve here.
    void Serve() override {}
    CLiveFrameSource& Frames() override { return m_source; }
    bool IsLost() override;
    std::vector<std::string> TakeNotices() override;
    void Stop(const std::function<bool()>& pump) override;
    void Close() override { Stop({}); }
    const std::string& Failure() const override { return m_failure; }
    uint64_t PayloadsDropped() const override;

  private:
    // Network thread: one line about the broker or the publisher.
    void OnNotice(const std::string& line);
    // Why no frame came, as far as the broker and the publisher said: ", as ..." or empty.
    std::string WhyNoFrames();

    const ModuleFeedOptions m_options;

    // The module's frames, every one kept in order until the owner takes it.
    CLiveFrameSource m_source{kMaxWaitingFrames};
    // What the module's status topic said last: offline, or anything at all.
    std::atomic<bool> m_isOffline{false};
    std::atomic<bool> m_hasStatus{false};
    std::mutex m_noticeLock;             // guards m_notices and m_lastNotice
    std::vector<std::string> m_notices;  // handed to the owner by TakeNotices
    std::string m_lastNotice;            // the latest line: why, when the broker is out of reach

    // Owner thread only from here on.
    std::string m_failure;
    bool m_isLost = false;
    std::string m_name;  // "mqtt://HOST:PORT/PREFIX", in messages
    Clock::time_point m_streamStart;
    std::optional<Clock::time_point> m_outOfReachSince;  // the broker not connected, since when

    // Last: destroyed first, so that no callback of its network thread outlives what it uses.
    std::unique_ptr<CRemoteModule> m_remote;
};
