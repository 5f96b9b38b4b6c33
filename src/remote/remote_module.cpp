#include "remote/remote_module.h"

#include <chrono>
#include <string_view>
#include <utility>

#include "frame/frame_block.h"
#include "platform/one_line.h"

// Replies and commands must arrive, and in order: a lost command letter would leave the module
// in another mode than the user chose.
namespace {
constexpr int kCommandQos = 1;
}  // namespace

CRemoteModule::CRemoteModule(MqttModuleAddress address, MqttClientOptions options,
                             RemoteModuleCallbacks callbacks, int qos)
    : m_address(std::move(address)),
      m_callbacks(std::move(callbacks)),
      m_qos(qos),
      m_frameTopic(m_address.Topic("frame")),
      m_replyTopic(m_address.Topic("reply")),
      m_statusTopic(m_address.Topic("status")),
      m_commandTopic(m_address.Topic("command")) {
    options.broker = m_address.broker;
    MqttClientCallbacks clientCallbacks;
    clientCallbacks.connected = [this] { OnConnected(); };
    clientCallbacks.disconnected = [this](const std::string& why) {
        if (m_callbacks.notice) {
            m_callbacks.notice(why);
        }
    };
    // Said once: the client makes no further attempt.
    clientCallbacks.refused = clientCallbacks.disconnected;
    clientCallbacks.message = [this](const MqttMessage& message) { OnMessage(message); };
    m_client = std::make_unique<CMqttClient>(std::move(options), std::move(clientCallbacks));
}

CRemoteModule::~CRemoteModule() {
    Stop();
}

Status CRemoteModule::Start() {
    return m_client->Start();
}

void CRemoteModule::Stop() {
    for (const std::string* topic : {&m_frameTopic, &m_replyTopic, &m_statusTopic}) {
        m_client->Unsubscribe(*topic);
    }
    m_client->Stop();
    // The network thread has ended: the counts not yet said are the owner's to say.
    const auto now = std::chrono::steady_clock::now();
    Notice(m_badPayloads.TakeCount(now, true));
    Notice(m_badStatuses.TakeCount(now, true));
}

bool CRemoteModule::SendCommand(char letter) {
    return m_client->Publish(m_commandTopic, &letter, 1, kCommandQos, false);
}

bool CRemoteModule::IsConnected() const {
    return m_client->IsConnected();
}

void CRemoteModule::OnConnected() {
    if (m_callbacks.notice) {
        std::string line = "connected to the broker ";
        line.append(m_address.broker.host);
        line.push_back(':');
        line.append(std::to_string(m_address.broker.port));
        m_callbacks.notice(line);
    }
    // A clean session forgets subscriptions, so every connection makes them again; the broker
    // then sends the retained status, which says whether a publisher serves the module.
    for (const std::string* topic : {&m_frameTopic, &m_replyTopic, &m_statusTopic}) {
        m_client->Subscribe(*topic, m_qos);
    }
}

void CRemoteModule::OnMessage(const MqttMessage& message) {
    const std::string& topic = message.topic;
    const uint8_t* payload = message.payload;
    const std::size_t size = message.size;
    if (topic == m_frameTopic) {
        FramePayload frame;
        const PayloadFault fault = DecodeFramePayload(payload, size, frame);
        if (fault != PayloadFault::kNone) {
            ++m_payloadsDropped;
            const CNoticeLimiter::Turn turn = m_badPayloads.Note(std::chrono::steady_clock::now());
            Notice(turn.countLine);
            if (turn.isSaid && fault != m_lastDropFault) {
                std::string line = "dropped a frame payload that is not a whole record (";
                line.append(PayloadFaultText(fault));
                line.append("); such payloads are counted, never shown");
                Notice(line);
            }
            m_lastDropFault = fault;
            return;
        }
        if (!IsNextOfRunFollowed(message)) {
            return;
        }
        ++m_framesReceived;
        if (m_callbacks.frame) {
            m_callbacks.frame(frame.modeLetter, frame.block, kFrameBlockSize);
        }
    } else if (topic == m_replyTopic) {
        if (size > kMaxReplyBytes) {
            const CNoticeLimiter::Turn turn = m_badPayloads.Note(std::chrono::steady_clock::now());
            Notice(turn.countLine);
            if (turn.isSaid) {
                Notice("dropped a reply of " + std::to_string(size) +
                       " bytes, more than a module sends");
            }
            return;
        }
        if (m_callbacks.reply) {
            m_callbacks.reply(std::string(reinterpret_cast<const char*>(payload), size));
        }
    } else if (topic == m_statusTopic) {
        OnStatus(payload, size);
    }
}

bool CRemoteModule::IsNextOfRunFollowed(const MqttMessage& message) {
    const std::string* run = message.Property(kRunProperty);
    const FrameVerdict verdict =
        m_follower.Take(run != nullptr ? *run : std::string(),
                        ParseSequenceNumber(message.Property(kSequenceProperty)));
    if (verdict == FrameVerdict::kOtherRun) {
        ++m_framesOfOtherRuns;
        if (!m_hasSaidOtherRun && m_callbacks.notice) {
            m_hasSaidOtherRun = true;
            m_callbacks.notice("dropped frames of another publisher run than run '" +
                               OneLine(m_follower.Run()) +
                               "', which is followed; such frames are counted, never shown");
        }
    }
    if (verdict != FrameVerdict::kTake) {
        return false;
    }
    m_framesMissing = m_follower.Missing();
    m_gaps = m_follower.Gaps();
    NoticeGaps();
    return true;
}

void CRemoteModule::NoticeGaps() {
    const uint64_t gaps = m_follower.Gaps();
    const auto now = std::chrono::steady_clock::now();
    if (gaps == m_gapsSaid || now < m_nextGapNotice || !m_callbacks.notice) {
        return;
    }
    m_gapsSaid = gaps;
    m_nextGapNotice = now + kGapNoticePeriod;
    m_callbacks.notice(MissingFramesText(m_follower.Missing(), gaps) +
                       " so far: the publisher numbered them, they never came");
}

void CRemoteModule::OnStatus(const uint8_t* payload, std::size_t size) {
    // An empty retained message is how a status is cleared from the broker: nothing to say.
    if (size == 0) {
        return;
    }
    const std::optional<ModuleStatus> status =
        ParseModuleStatus(std::string_view(reinterpret_cast<const char*>(payload), size));
    if (!status) {
        NoticeStatus("the module's status is not understood", true);
        return;
    }
    if (status->state == kStatusOnline && !status->run.empty()) {
        const std::string before = m_follower.Run();
        if (m_follower.Follow(status->run)) {
            m_hasSaidOtherRun = false;
            Notice("the module's publisher is now run '" + OneLine(status->run) +
                   (before.empty() ? "'" : "' (was run '" + OneLine(before) + "')") +
                   "; following it");
        }
    } else if (!status->run.empty() && m_follower.HasRun() && status->run != m_follower.Run()) {
        // What an earlier run left (its will, once another has taken over) is not news of the
        // run followed.
        return;
    }
    // What a publisher says is always said: subscribers act on it. Anything else may come from
    // anyone, over and over.
    const bool isPublishers = status->state == kStatusOnline || status->state == kStatusOffline;
    NoticeStatus(ModuleStatusLine(*status), !isPublishers);
    if (m_callbacks.status) {
        m_callbacks.status(*status);
    }
}

void CRemoteModule::NoticeStatus(std::string line, bool isLimited) {
    if (line == m_lastStatusLine) {
        return;
    }
    m_lastStatusLine = std::move(line);
    if (!isLimited) {
        Notice(m_lastStatusLine);
        return;
    }
    const CNoticeLimiter::Turn turn = m_badStatuses.Note(std::chrono::steady_clock::now());
    Notice(turn.countLine);
    if (turn.isSaid) {
        Notice(m_lastStatusLine);
    }
}

void CRemoteModule::Notice(const std::string& line) {
    if (!line.empty() && m_callbacks.notice) {
        m_callbacks.notice(line);
    }
}
