#include "remote/module_publisher.h"

#include <string_view>
#include <thread>

#include "platform/one_line.h"
#include "remote/run_follower.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The longest the wait for the broker sleeps between looks at the stop.
constexpr auto kLoopWait = 10ms;
// Events from the broker waiting for the run's thread beyond which commands and the lines about
// refused payloads are let go: only someone flooding PREFIX/command gets there.
constexpr std::size_t kMaxWaitingEvents = 256;
// Replies and the status matter more than any one frame: the broker acknowledges them.
constexpr int kStatusQos = 1;
// A status longer than this is no publisher's: it is let go unread.
constexpr std::size_t kMaxStatusBytes = 64 * 1024;

// Whether the module streams after `letter`: K and t start a stream; x and T stop it, and so do
// the single-frame and calibration commands. Nothing for the others.
std::optional<bool> StreamsAfter(char letter) {
    if (letter == 'K' || letter == 't') {
        return true;
    }
    if (std::string_view("xTkcCw").find(letter) != std::string_view::npos) {
        return false;
    }
    return std::nullopt;
}
}  // namespace

CModulePublisher::CModulePublisher(PublisherOptions options)
    : m_options(std::move(options)),
      m_address{m_options.broker, m_options.topic},
      m_frameTopic(m_address.Topic("frame")),
      m_statusTopic(m_address.Topic("status")),
      m_replyTopic(m_address.Topic("reply")),
      m_commandTopic(m_address.Topic("command")) {
    MqttClientOptions client;
    client.broker = m_options.broker;
    client.user = m_options.user;
    client.password = m_options.password;
    client.caFile = m_options.caFile;
    // What the broker publishes when it loses this program: subscribers wait for it a while.
    client.will = MqttWill{m_statusTopic, StatusJson(kStatusOffline, kOfflineConnectionLost),
                           kStatusQos, true};
    MqttClientCallbacks callbacks;
    callbacks.connected = [this] { OnConnected(); };
    callbacks.disconnected = [this](const std::string& why) {
        AddEvent({BrokerEvent::Kind::kNotice, why}, true);
    };
    // A refusal is the run's thread's to see (IsRefused) and to say, once, as the failure.
    callbacks.message = [this](const MqttMessage& message) { OnMessage(message); };
    callbacks.synced = [this](int token) {
        if (token == m_syncToken) {
            AddEvent({BrokerEvent::Kind::kConnected, {}}, true);
        }
    };
    m_client.emplace(std::move(client), std::move(callbacks));
}

CModulePublisher::~CModulePublisher() {
    m_client.reset();  // its network thread ends before the members it calls go
}

Status CModulePublisher::Connect() {
    if (const Status started = m_client->Start(); !started) {
        return Status::Failure("cannot connect to the broker: " + started.Message(),
                               started.Code());
    }
    return {};
}

bool CModulePublisher::WaitForBroker(const std::function<bool()>& isStopped) {
    const Clock::time_point end = Clock::now() + kFirstConnectionWait;
    while (!m_isChecked && Clock::now() < end) {
        ServeBroker();
        if (isStopped() || IsEndedByBroker()) {
            return false;
        }
        std::this_thread::sleep_for(kLoopWait);
    }
    ServeBroker();
    if (IsEndedByBroker()) {
        return false;
    }
    if (!m_isChecked) {
        Say("starting the module without the broker " + BrokerName() +
            "; its frames are dropped until the broker is reached");
    }
    return true;
}

std::string CModulePublisher::Name() const {
    return "mqtt://" + BrokerName() + "/" + m_options.topic;
}

std::string CModulePublisher::BrokerName() const {
    return m_options.broker.host + ":" + std::to_string(m_options.broker.port);
}

// This run's status JSON: `state` with `reason` (offline) or the module's state (online).
std::string CModulePublisher::StatusJson(const char* state, const char* reason) const {
    const bool isOnline = std::string_view(state) == kStatusOnline;
    std::lock_guard lock(m_moduleReplyLock);
    return MakeModuleStatusJson({state, m_options.port, m_moduleReply, m_runId, reason,
                                 isOnline ? m_moduleState : std::string()});
}

bool CModulePublisher::PublishText(const std::string& topic, const std::string& text, int qos,
                                   bool retain) {
    return m_client->Publish(topic, text.data(), text.size(), qos, retain);
}

// Network thread. A clean session forgets subscriptions, so they are made at every connection.
// Nothing is published before the retained status has been read, which tells whether another
// run serves the module: the answer to the sync comes after it.
void CModulePublisher::OnConnected() {
    AddEvent({BrokerEvent::Kind::kConnecting, {}}, true);
    m_client->Subscribe(m_statusTopic, kStatusQos);
    if (m_options.allowCommands) {
        m_client->Subscribe(m_commandTopic, 1);
    }
    m_syncToken = m_client->Sync().value_or(-1);
}

// Network thread: PREFIX/status, and PREFIX/command when commands are allowed.
void CModulePublisher::OnMessage(const MqttMessage& message) {
    const uint8_t* payload = message.payload;
    const std::size_t size = message.size;
    if (message.topic == m_statusTopic) {
        if (size <= kMaxStatusBytes) {
            AddEvent({BrokerEvent::Kind::kStatus,
                      std::string(reinterpret_cast<const char*>(payload), size)},
                     false);
        }
        return;
    }
    if (message.topic != m_commandTopic) {
        return;
    }
    // The broker hands a retained command to every new subscription: it would run again after
    // each broker restart.
    if (message.isRetained) {
        AddEvent({BrokerEvent::Kind::kRetainedCommand, {}}, false);
        return;
    }
    const Clock::time_point now = Clock::now();
    if (size == 1 &&
        ((payload[0] >= 'A' && payload[0] <= 'Z') || (payload[0] >= 'a' && payload[0] <= 'z'))) {
        const std::string letter(1, static_cast<char>(payload[0]));
        if (m_commandRate.Take(now)) {
            AddEvent({BrokerEvent::Kind::kCommand, letter}, false);
            return;
        }
        ++m_commandsOverRate;
        Refuse(now, "dropped command '" + letter + "' from the broker: more than " +
                        std::to_string(static_cast<int>(kCommandsPerSecond)) +
                        " commands a second");
        return;
    }
    Refuse(now, "ignored a command on '" + m_commandTopic + "' that is not one letter (" +
                    std::to_string(size) + (size == 1 ? " byte)" : " bytes)"));
}

// Network thread: the line about a command not taken, unless many came lately (then a count of
// them now and then).
void CModulePublisher::Refuse(Clock::time_point now, std::string line) {
    std::lock_guard lock(m_eventLock);
    const CNoticeLimiter::Turn turn = m_refusals.Note(now);
    if (!turn.countLine.empty()) {
        m_events.push_back({BrokerEvent::Kind::kNotice, turn.countLine});
    }
    if (turn.isSaid) {
        m_events.push_back({BrokerEvent::Kind::kNotice, std::move(line)});
    }
}

// Network thread. What anyone on the broker can cause waits only while there is room; what the
// connection itself does always waits.
void CModulePublisher::AddEvent(BrokerEvent event, bool isConnectionEvent) {
    std::lock_guard lock(m_eventLock);
    if (!isConnectionEvent && m_events.size() >= kMaxWaitingEvents) {
        return;
    }
    m_events.push_back(std::move(event));
}

// Monitor thread: the answer to M is the module's name in the status; every reply also goes to
// PREFIX/reply, later reports of one reply replacing an earlier one not yet sent.
void CModulePublisher::OnTextReply(const std::string& command, const std::string& text,
                                   uint64_t serial) {
    if (command == "M") {
        std::string reply = text;
        while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n')) {
            reply.pop_back();
        }
        std::lock_guard lock(m_moduleReplyLock);
        if (reply != m_moduleReply) {
            m_moduleReply = std::move(reply);
            m_isStatusDue = true;
        }
    }
    m_replies.Put(serial, text);
}

// The count of commands refused lately once it is due (or, `isFinal`, at once).
void CModulePublisher::TakeRefusalCount(bool isFinal) {
    std::lock_guard lock(m_eventLock);
    if (std::string count = m_refusals.TakeCount(Clock::now(), isFinal); !count.empty()) {
        m_events.push_back({BrokerEvent::Kind::kNotice, std::move(count)});
    }
}

// `line`, unless many such lines came lately (then a count of them now and then).
void CModulePublisher::SayLimited(CNoticeLimiter& limiter, const std::string& line) {
    const CNoticeLimiter::Turn turn = limiter.Note(Clock::now());
    if (!turn.countLine.empty()) {
        Say(turn.countLine);
    }
    if (turn.isSaid) {
        Say(line);
    }
}

// Publishes what waits for the broker and acts on what came from it.
void CModulePublisher::ServeBroker() {
    TakeRefusalCount(false);
    std::deque<BrokerEvent> events;
    {
        std::lock_guard lock(m_eventLock);
        events.swap(m_events);
    }
    for (BrokerEvent& event : events) {
        switch (event.kind) {
            case BrokerEvent::Kind::kConnecting:
                m_isChecked = false;
                m_rival.reset();
                break;
            case BrokerEvent::Kind::kConnected:
                OnConnectedEvent();
                break;
            case BrokerEvent::Kind::kStatus:
                OnStatusEvent(event.text);
                break;
            case BrokerEvent::Kind::kNotice:
                Say(event.text);
                break;
            case BrokerEvent::Kind::kRetainedCommand:
                if (m_retainedCommands++ == 0) {
                    Say("ignored a retained command on '" + m_commandTopic +
                        "': it would run again after every broker restart; any more are counted");
                }
                break;
            case BrokerEvent::Kind::kCommand:
                OnCommandEvent(event.text);
                break;
        }
    }
    if (std::string count = m_commandsSent.TakeCount(Clock::now()); !count.empty()) {
        Say(count);
    }
    if (!m_client->IsConnected() || !m_isChecked) {
        return;
    }
    if (m_isStatusDue.exchange(false) &&
        !PublishText(m_statusTopic, StatusJson(kStatusOnline, ""), kStatusQos, true)) {
        m_isStatusDue = true;  // again on the next pass
    }
    // A reply the broker did not take waits for the next pass, ahead of later ones.
    if (!m_pendingReply) {
        m_pendingReply = m_replies.Take();
    }
    while (m_pendingReply && PublishText(m_replyTopic, *m_pendingReply, kStatusQos, false)) {
        m_pendingReply = m_replies.Take();
    }
}

void CModulePublisher::OnCommandEvent(const std::string& letter) {
    // Before the stream runs a command would come between START's own.
    if (!m_isStreaming || !m_sendCommand) {
        Say("ignored command '" + letter + "' from the broker: the module is not streaming");
        return;
    }
    SayLimited(m_commandsSent, "command '" + letter + "' from the broker sent to the module");
    m_sendCommand(letter[0]);
    if (const std::optional<bool> streams = StreamsAfter(letter[0])) {
        SetModuleState(*streams ? kModuleStreaming : kModuleStopped);
    }
}

// The retained status has been read: publishing starts, unless another run is online there.
void CModulePublisher::OnConnectedEvent() {
    if (m_rival) {
        if (m_hasConnected) {
            m_takenOverBy = std::move(m_rival);
            m_rival.reset();
            m_isChecked = false;  // not a frame more
            return;
        }
        if (!m_options.takeOver) {
            m_startRefusal = "publisher " + RunName(*m_rival) + " is online on '" +
                             m_options.topic + "'; give --take-over to replace it";
            return;
        }
        Say("taking over '" + m_options.topic + "' from publisher " + RunName(*m_rival));
        m_rival.reset();
    }
    m_isChecked = true;
    m_isStatusDue = true;
    if (!m_hasConnected) {
        m_hasConnected = true;
        Say("connected to the broker " + BrokerName() + "; publishing on '" + m_frameTopic + "'");
        return;
    }
    const uint64_t dropped = m_droppedAway - m_droppedAwayBefore;
    m_droppedAwayBefore = m_droppedAway;
    Say("connected to the broker " + BrokerName() + " again; " + std::to_string(dropped) +
        " frames dropped meanwhile");
}

// A status of another run (or of a publisher that names none), or not one at all.
void CModulePublisher::OnStatusEvent(const std::string& text) {
    std::optional<ModuleStatus> status = ParseModuleStatus(text);
    if (!status || status->run == m_runId) {
        return;
    }
    if (status->state == kStatusOnline) {
        if (m_isChecked) {
            m_takenOverBy = std::move(status);
            m_isChecked = false;  // not a frame more
        } else {
            m_rival = std::move(status);
        }
    } else if (m_isChecked) {
        // Whatever else lands there (an earlier run's last will) would hide this run.
        m_isStatusDue = true;
    }
}

std::string CModulePublisher::RunName(const ModuleStatus& status) {
    std::string name = status.run.empty() ? "without a run id" : "run '" + status.run + "'";
    if (!status.port.empty()) {
        name += " on " + status.port;
    }
    return OneLine(name);
}

void CModulePublisher::SetModuleState(const char* state) {
    std::lock_guard lock(m_moduleReplyLock);
    if (m_moduleState != state) {
        m_moduleState = state;
        m_isStatusDue = true;
    }
}

bool CModulePublisher::IsEndedByBroker() const {
    return m_client->IsRefused() || !m_startRefusal.empty() || m_takenOverBy.has_value();
}

Status CModulePublisher::Failure() const {
    if (m_client->IsRefused()) {
        return Status::Failure(m_client->Refusal());
    }
    if (!m_startRefusal.empty()) {
        return Status::Failure(m_startRefusal);
    }
    return {};
}

std::string CModulePublisher::EndLine() const {
    if (const Status failure = Failure(); !failure) {
        return failure.Message();
    }
    if (m_takenOverBy) {
        // Ended as someone asked by taking over, not failed: a service is not to start it again
        // and take the prefix back.
        return "publisher " + RunName(*m_takenOverBy) + " took over '" + m_options.topic +
               "'; this run ends and leaves the status to it";
    }
    return {};
}

int CModulePublisher::EndStatus() const {
    if (m_client->IsRefused()) {
        return 1;
    }
    return m_startRefusal.empty() ? 0 : 2;
}

Status CModulePublisher::Begin() {
    m_isStreaming = true;
    SetModuleState(kModuleStreaming);
    return {};
}

Status CModulePublisher::Write(const ProcessedFrame& frame) {
    ++m_taken;
    MakeFramePayload(frame.modeLetter, frame.block, m_payload);
    // Numbered whether it goes out or not: subscribers count the frames they lack.
    if (m_isChecked &&
        m_client->Publish(
            m_frameTopic, m_payload, sizeof m_payload, m_options.qos, false,
            {{kRunProperty, m_runId}, {kSequenceProperty, std::to_string(m_taken)}})) {
        CountWritten();
    } else {
        ++(!m_client->IsConnected() || !m_isChecked ? m_droppedAway : m_droppedBehind);
        CountDropped();
    }
    return {};
}

IFrameSink::Clock::time_point CModulePublisher::Serve(Clock::time_point) {
    ServeBroker();
    return Clock::time_point::max();
}

void CModulePublisher::SourceStopping(RunStop reason) {
    m_isStreaming = false;
    m_isModuleLost = reason == RunStop::kModuleLost || reason == RunStop::kSourceFailed;
}

std::vector<std::string> CModulePublisher::TakeNotices() {
    return std::exchange(m_notices, {});
}

Status CModulePublisher::Finish() {
    ServeBroker();
    // Only a run that has its status on the broker changes it: the status of a run that refused
    // to start, or that another took over, is that other run's.
    if (m_isChecked) {
        const char* reason = m_isModuleLost ? kOfflineModuleLost : kOfflineEnded;
        m_client->Stop(
            MqttWill{m_statusTopic, StatusJson(kStatusOffline, reason), kStatusQos, true});
    } else {
        m_client->Stop();
    }
    TakeRefusalCount(true);
    if (std::string count = m_commandsSent.TakeCount(Clock::now(), true); !count.empty()) {
        Say(count);
    }
    // Said once the connection has gone, so nothing the client says comes after it.
    std::lock_guard lock(m_eventLock);
    for (const BrokerEvent& event : m_events) {
        if (event.kind == BrokerEvent::Kind::kNotice) {
            Say(event.text);
        }
    }
    m_events.clear();
    return {};
}

std::string CModulePublisher::CountsText(uint64_t lost) const {
    std::string text;
    if (m_droppedAway > 0) {
        text +=
            ", " + std::to_string(m_droppedAway) + " dropped while the broker was not connected";
    }
    if (m_droppedBehind > 0) {
        text += ", " + std::to_string(m_droppedBehind) + " dropped while the broker fell behind";
    }
    if (lost > 0) {
        text += ", " + std::to_string(lost) + " lost: publishing fell behind the module";
    }
    if (const uint64_t overRate = m_commandsOverRate.load(); overRate > 0) {
        text += ", " + std::to_string(overRate) + " commands from the broker dropped: more than " +
                std::to_string(static_cast<int>(kCommandsPerSecond)) + " a second";
    }
    if (m_retainedCommands > 0) {
        text += ", " + std::to_string(m_retainedCommands) + " retained commands ignored";
    }
    return text;
}
