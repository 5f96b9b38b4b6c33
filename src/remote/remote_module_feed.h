#pragma once
// CRemoteModuleFeed: a module that another machine serves on an MQTT broker (`thermal publish`), as
// a live frame source of a run (IFrameSource and ILiveFeed), taken as a module on a serial port is
// (device/module_feed.h). Open connects in the background and subscribes to the module's topics;
// StartStream waits for the first frame; Stop only unsubscribes, as the module, which may have
// other viewers and recorders, goes on streaming. No command is ever sent to it. The module counts
// as lost once its publisher says it has ended or lost the module, once a publisher that the broker
// lost (its last will) has not come back within kPublisherGraceTime, once the broker has been out
// of reach for kBrokerAbsenceLimit, or at once when the broker refuses the connection for good. The
// run's thread calls every operation; frames and the broker's notices arrive from the broker
// connection's network thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/module_feed.h"
#include "remote/remote_module.h"
#include "run/live_feed.h"

class CRemoteModuleFeed final : public CQueuedModuleFeed {
  public:
    // Long enough to ride through a broker restart, or a reboot of its machine, with the client's
    // back-off (at most 30 s between attempts) still finding it again; frames published meanwhile
    // are not received, unless a persistent session kept them.
    static constexpr auto kBrokerAbsenceLimit = std::chrono::minutes(2);
    // How long a publisher that the broker lost has to come back, counted while this subscriber
    // is connected: a broker restart sends every publisher's last will, and a publisher tries the
    // broker again at least every 30 s.
    static constexpr auto kPublisherGraceTime = std::chrono::seconds(60);
    // How long the broker keeps a persistent session, and queues for it, after losing the
    // subscriber (a recorder paused or cut off); a clean end closes the session at once.
    static constexpr uint32_t kSessionExpirySeconds = 600;

    explicit CRemoteModuleFeed(ModuleFeedOptions options);

    Status Open() override;
    Result<bool> StartStream(const std::function<bool()>& isStopped) override;
    Clock::time_point StreamStart() const override { return m_streamStart; }
    // The broker connection runs on its own thread: nothing to serve here.
    void Serve() override {}
    Status CheckLink() override;
    std::vector<std::string> TakeNotices() override;
    void Stop(const std::function<bool()>& pump) override;
    void Close() override;
    std::string LossText() const override;
    uint64_t FramesMissing() const override;

  private:
    // What the module's status said last.
    enum class Publisher {
        kUnknown,  // nothing, or a state this program does not know
        kOnline,   // serving the module
        kStopped,  // serving it, but the module does not stream
        kAway,     // the broker lost the publisher (its last will): it may come back
        kOffline,  // it ended or lost the module
    };

    // Network thread: one line about the broker or the publisher, and a status of the run.
    void OnNotice(const std::string& line);
    void OnStatus(const ModuleStatus& status);
    // Why no frames came, as far as the broker and the publisher said: " (...)" or empty.
    std::string WhyNoFrames();

    const ModuleFeedOptions m_options;

    std::atomic<Publisher> m_publisher{Publisher::kUnknown};
    std::mutex m_noticeLock;             // guards m_notices, m_lastNotice and m_offlineReason
    std::vector<std::string> m_notices;  // handed to the owner by TakeNotices
    std::string m_lastNotice;            // the latest line: why, when the broker is out of reach
    std::string m_offlineReason;         // "its publisher ended", for the failure

    // Owner thread only from here on.
    std::string m_failure;  // why the module counts as lost
    std::string m_name;     // "mqtt://HOST:PORT/PREFIX", in messages
    Clock::time_point m_streamStart;
    std::optional<Clock::time_point> m_outOfReachSince;  // the broker not connected, since when
    std::optional<Clock::time_point> m_awaySince;  // the publisher lost, since when (connected)

    // Last: destroyed first, so that no callback of its network thread outlives what it uses.
    std::unique_ptr<CRemoteModule> m_remote;
};

// The live source for `options.port`: a module on a broker for "mqtt://...", else one on a serial
// port.
std::unique_ptr<IFrameSource> MakeModuleFeed(ModuleFeedOptions options);
