#include "remote/remote_module_feed.h"

#include <utility>

#include "remote/module_status.h"
#include "remote/mqtt_address.h"

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

// Why an offline publisher is offline, as a clause after "went away while recording: ".
std::string OfflineReason(const ModuleStatus& status) {
    const std::string reason = OfflineReasonText(status);
    return reason.empty() ? "its publisher says it is offline" : reason;
}

uint64_t Seconds(std::chrono::steady_clock::duration duration) {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}
}  // namespace

CRemoteModuleFeed::CRemoteModuleFeed(ModuleFeedOptions options)
    : m_options(std::move(options)), m_name(m_options.port) {}

Status CRemoteModuleFeed::Open() {
    Result<MqttModuleAddress> address = ParseMqttModuleAddress(m_options.port);
    if (!address) {
        return address.GetStatus();
    }
    m_name = AddressName(*address);
    RemoteModuleCallbacks callbacks;
    callbacks.frame = [this](char modeLetter, const uint8_t* block, int count) {
        // A publisher's status comes before its frames and "offline" after its last: a frame
        // after an "offline" (a stale one kept by the broker) says the module is back.
        m_publisher = Publisher::kOnline;
        m_source.Push(modeLetter, block, count);
    };
    callbacks.notice = [this](const std::string& line) { OnNotice(line); };
    callbacks.status = [this](const ModuleStatus& status) { OnStatus(status); };
    MqttClientOptions client;
    if (!m_options.clientId.empty()) {
        client.clientId = m_options.clientId;
        client.sessionExpirySeconds = kSessionExpirySeconds;
    }
    m_remote = std::make_unique<CRemoteModule>(std::move(address).Value(), std::move(client),
                                               std::move(callbacks), kSubscriptionQos);
    if (const Status started = m_remote->Start(); !started) {
        return Status::Failure("cannot connect to '" + m_name + "': " + started.Message(),
                               started.Code());
    }
    return {};
}

void CRemoteModuleFeed::OnNotice(const std::string& line) {
    std::lock_guard lock(m_noticeLock);
    m_notices.push_back(line);
    m_lastNotice = line;
}

void CRemoteModuleFeed::OnStatus(const ModuleStatus& status) {
    if (status.state == kStatusOnline) {
        m_publisher =
            status.moduleState == kModuleStopped ? Publisher::kStopped : Publisher::kOnline;
    } else if (status.state == kStatusOffline) {
        {
            std::lock_guard lock(m_noticeLock);
            m_offlineReason = OfflineReason(status);
        }
        m_publisher =
            status.reason == kOfflineConnectionLost ? Publisher::kAway : Publisher::kOffline;
    } else {
        m_publisher = Publisher::kUnknown;
    }
}

std::string CRemoteModuleFeed::WhyNoFrames() {
    std::string why;
    const Publisher publisher = m_publisher.load();
    if (!m_remote->IsConnected()) {
        std::lock_guard lock(m_noticeLock);
        why = m_lastNotice.empty() ? "the broker did not answer" : m_lastNotice;
    } else if (publisher == Publisher::kOffline || publisher == Publisher::kAway) {
        std::lock_guard lock(m_noticeLock);
        why = m_offlineReason;
    } else if (publisher == Publisher::kStopped) {
        why = "its publisher says the module is stopped";
    } else if (publisher == Publisher::kUnknown) {
        why = "nothing has been published on its status topic: is a publisher serving it?";
    }
    const uint64_t dropped = m_remote->PayloadsDropped();
    if (dropped > 0) {
        why += (why.empty() ? "" : "; ") + std::to_string(dropped) +
               " payloads were dropped as not whole frame records";
    }
    return why.empty() ? why : " (" + why + ")";
}

Result<bool> CRemoteModuleFeed::StartStream(const std::function<bool()>& isStopped) {
    // The subscriptions were asked for at Open; the connection, the retained status and the
    // first frame all count into the one wait.
    m_streamStart = Clock::now();
    const auto firstFrameDeadline = m_streamStart + kFirstFrameWait;
    while (m_source.Received() == 0) {
        if (isStopped()) {
            return false;
        }
        if (m_remote->IsRefused()) {
            return Status::Failure("cannot take the module at " + m_name + ": " +
                                   m_remote->Refusal());
        }
        if (Clock::now() >= firstFrameDeadline) {
            return Status::Failure("the module at " + m_name + " sent no frames within " +
                                   std::to_string(kFirstFrameWait.count()) + " s" + WhyNoFrames());
        }
        m_source.WaitForFrame(kLoopWait);
    }
    return true;
}

Status CRemoteModuleFeed::CheckLink() {
    if (!m_failure.empty()) {
        return Status::Failure(m_failure);
    }
    const std::string wentAway =
        "the module at " + m_name + " went away while " + m_options.activity;
    const Publisher publisher = m_publisher.load();
    const Clock::time_point now = Clock::now();
    if (m_remote->IsRefused()) {
        m_failure = "cannot take the module at " + m_name + " any more: " + m_remote->Refusal();
    } else if (publisher == Publisher::kOffline) {
        std::lock_guard lock(m_noticeLock);
        m_failure = wentAway + ": " + m_offlineReason;
    } else if (!m_remote->IsConnected()) {
        // The publisher's grace runs only while this side can see it come back.
        m_awaySince.reset();
        if (!m_outOfReachSince) {
            m_outOfReachSince = now;
        } else if (now - *m_outOfReachSince >= kBrokerAbsenceLimit) {
            m_failure = wentAway + ": its broker has been out of reach for " +
                        std::to_string(Seconds(kBrokerAbsenceLimit)) + " s";
        }
    } else {
        m_outOfReachSince.reset();
        if (publisher != Publisher::kAway) {
            m_awaySince.reset();
        } else if (!m_awaySince) {
            m_awaySince = now;
        } else if (now - *m_awaySince >= kPublisherGraceTime) {
            m_failure = wentAway +
                        ": the broker lost its publisher, which did not come back within " +
                        std::to_string(Seconds(kPublisherGraceTime)) + " s";
        }
    }
    return m_failure.empty() ? Status() : Status::Failure(m_failure);
}

std::vector<std::string> CRemoteModuleFeed::TakeNotices() {
    std::vector<std::string> notices;
    std::lock_guard lock(m_noticeLock);
    notices.swap(m_notices);
    return notices;
}

void CRemoteModuleFeed::Stop(const std::function<bool()>& /*pump*/) {
    // The frames already received stay waiting; nothing else is on its way once the
    // subscriptions are gone.
    if (m_remote) {
        m_remote->Stop();
    }
}

void CRemoteModuleFeed::Close() {
    Stop({});
    m_source.Close();
}

std::string CRemoteModuleFeed::LossText() const {
    if (!m_remote) {
        return {};
    }
    std::string text;
    if (const uint64_t dropped = m_remote->PayloadsDropped(); dropped > 0) {
        text += ", " + std::to_string(dropped) + " payloads dropped: not whole frame records";
    }
    if (const uint64_t others = m_remote->FramesOfOtherRuns(); others > 0) {
        text += ", " + std::to_string(others) + " frames of another publisher run dropped";
    }
    if (const uint64_t missing = m_remote->FramesMissing(); missing > 0) {
        text += ", " + MissingFramesText(missing, m_remote->Gaps());
    }
    return text;
}

uint64_t CRemoteModuleFeed::FramesMissing() const {
    return m_remote ? m_remote->FramesMissing() : 0;
}

std::unique_ptr<IFrameSource> MakeModuleFeed(ModuleFeedOptions options) {
    if (IsMqttAddress(options.port)) {
        return std::make_unique<CRemoteModuleFeed>(std::move(options));
    }
    return std::make_unique<CModuleFeed>(std::move(options));
}
