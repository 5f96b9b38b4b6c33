#include "remote_module_feed.h"

#include <utility>

#include "remote/module_status.h"

namespace {
using namespace std::chrono_literals;

// The longest a wait sleeps between looks at the owner's stop.
constexpr auto kLoopWait = 10ms;
// What the subscriptions ask of the broker. A recording or a stream wants every frame, so it takes
// them at least once wherever the publisher sends them so (`thermal publish --qos 1`).
constexpr int kSubscriptionQos = 1;

// "mqtt://HOST:PORT/PREFIX" with the port always given, so messages name the very broker.
std::string AddressName(const MqttModuleAddress& address) {
    const std::string& host = address.broker.host;
    std::string name = "mqtt://";
    name.append(host.find(':') == std::string::npos ? host : "[" + host + "]");
    name.push_back(':');
    name.append(std::to_string(address.broker.port));
    name.push_back('/');
    name.append(address.prefix);
    return name;
}
}  // namespace

CRemoteModuleFeed::CRemoteModuleFeed(ModuleFeedOptions options)
    : m_options(std::move(options)), m_name(m_options.port) {}

bool CRemoteModuleFeed::Open() {
    Result<MqttModuleAddress> address = ParseMqttModuleAddress(m_options.port);
    if (!address) {
        m_failure = address.Message();
        return false;
    }
    m_name = AddressName(*address);
    RemoteModuleCallbacks callbacks;
    callbacks.frame = [this](char modeLetter, const uint8_t* block, int count) {
        // A publisher's status comes before its frames and "offline" after its last: a frame
        // after an "offline" (a stale one kept by the broker) says the module is back.
        m_isOffline = false;
        m_source.Push(modeLetter, block, count);
    };
    callbacks.notice = [this](const std::string& line) { OnNotice(line); };
    m_remote = std::make_unique<CRemoteModule>(std::move(address).Value(), MqttClientOptions{},
                                               std::move(callbacks), kSubscriptionQos);
    if (const Status started = m_remote->Start(); !started) {
        m_failure = "cannot connect to '" + m_name + "': " + started.Message();
        return false;
    }
    return true;
}

void CRemoteModuleFeed::OnNotice(const std::string& line) {
    // The status lines all speak of "the module"; the others of the broker or of a payload.
    static const std::string offline = ModuleStatusLine({"offline", "", ""});
    if (line.rfind("the module", 0) == 0) {
        m_isOffline = line == offline;
        m_hasStatus = true;
    }
    std::lock_guard lock(m_noticeLock);
    m_notices.push_back(line);
    m_lastNotice = line;
}

std::string CRemoteModuleFeed::WhyNoFrames() {
    std::string why;
    if (!m_remote->IsConnected()) {
        std::lock_guard lock(m_noticeLock);
        why = m_lastNotice.empty() ? "the broker did not answer" : m_lastNotice;
    } else if (m_isOffline) {
        why = "its publisher says it is offline";
    } else if (!m_hasStatus) {
        why = "nothing has been published on its status topic: is a publisher serving it?";
    }
    const uint64_t dropped = m_remote->PayloadsDropped();
    if (dropped > 0) {
        why += (why.empty() ? "" : "; ") + std::to_string(dropped) +
               " payloads were dropped as not whole frame records";
    }
    return why.empty() ? why : " (" + why + ")";
}

FeedStart CRemoteModuleFeed::StartStream(const std::function<bool()>& isStopped) {
    // The subscriptions were asked for at Open; the connection, the retained status and the
    // first frame all count into the one wait.
    m_streamStart = Clock::now();
    const auto firstFrameDeadline = m_streamStart + kFirstFrameWait;
    while (m_source.Received() == 0) {
        if (isStopped()) {
            return FeedStart::kStopped;
        }
        if (Clock::now() >= firstFrameDeadline) {
            m_failure = "the module at " + m_name + " sent no frames within " +
                        std::to_string(kFirstFrameWait.count()) + " s" + WhyNoFrames();
            return FeedStart::kFailed;
        }
        m_source.WaitForFrame(kLoopWait);
    }
    return FeedStart::kStreaming;
}

bool CRemoteModuleFeed::IsLost() {
    if (m_isLost) {
        return true;
    }
    const std::string wentAway =
        "the module at " + m_name + " went away while " + m_options.activity;
    if (m_isOffline) {
        m_failure = wentAway + ": its publisher says it is offline";
        m_isLost = true;
        return true;
    }
    if (m_remote->IsConnected()) {
        m_outOfReachSince.reset();
        return false;
    }
    const Clock::time_point now = Clock::now();
    if (!m_outOfReachSince) {
        m_outOfReachSince = now;
    } else if (now - *m_outOfReachSince >= kBrokerAbsenceLimit) {
        m_failure =
            wentAway + ": its broker has been out of reach for " +
            std::to_string(
                std::chrono::duration_cast<std::chrono::seconds>(kBrokerAbsenceLimit).count()) +
            " s";
        m_isLost = true;
        return true;
    }
    return false;
}

std::vector<std::string> CRemoteModuleFeed::TakeNotices() {
    std::vector<std::string> notices;
    std::lock_guard lock(m_noticeLock);
    notices.swap(m_notices);
    return notices;
}

void CRemoteModuleFeed::Stop(const std::function<bool()>& /*pump*/) {
    // The frames already received stay in Frames(); nothing else is on its way once the
    // subscriptions are gone.
    if (m_remote) {
        m_remote->Stop();
    }
}

uint64_t CRemoteModuleFeed::PayloadsDropped() const {
    return m_remote ? m_remote->PayloadsDropped() : 0;
}
