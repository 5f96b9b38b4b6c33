#include "module_feed.h"

#include "device/capture_frames.h"
#include "remote/mqtt_address.h"
#include "remote_module_feed.h"

namespace {
using namespace std::chrono_literals;

// The longest a wait sleeps between looks at the owner's stop.
constexpr auto kLoopWait = 10ms;
}  // namespace

CModuleFeed::CModuleFeed(ModuleFeedOptions options) : m_options(std::move(options)) {
    CModuleSession::Callbacks callbacks;
    callbacks.frame = [this](char modeLetter, const uint8_t* bytes, int count) {
        m_source.Push(modeLetter, bytes, count);
    };
    callbacks.textReply = [this](const std::string& command, const std::string& text,
                                 uint64_t serial) {
        if (command == "T" && !m_hasStopReply) {
            OnStopReply(text);
        }
        if (m_textReplyListener) {
            m_textReplyListener(command, text, serial);
        }
    };
    callbacks.deviceLost = [this] { m_isDeviceLost = true; };
    callbacks.rateWarning = [this](const std::string& warning) {
        std::lock_guard lock(m_rateWarningLock);
        m_rateWarning = warning;
    };
    m_session.SetCallbacks(std::move(callbacks));
}

// Frames the module sent before it took in the stop command reach us after the stop command took
// over the incoming bytes, so they open its answer. Whole frames there are handed on like the
// others; a frame cut in two by the switch is lost.
void CModuleFeed::OnStopReply(const std::string& text) {
    const char letter = m_options.voltage ? 't' : 'K';
    for (const CapturedFrame& frame :
         CutCaptureIntoFrames(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                              static_cast<uint8_t>(letter))) {
        m_source.Push(letter, frame.data(), kFrameBlockSize);
    }
    m_hasStopReply = true;  // after its frames, which Stop still takes
}

bool CModuleFeed::Open() {
    m_session.SetHandshakeState(HandshakeState::Idle);
    if (m_session.OpenSession(m_options.port) != 0) {
        m_failure = "cannot open '" + m_options.port + "': " + m_session.PortOpenFailure();
        return false;
    }
    return true;
}

FeedStart CModuleFeed::StartStream(const std::function<bool()>& isStopped) {
    // The stream is asked for once the module has answered M (or its second is up), the order
    // START sends them in. An answer still on its way when the stream starts would be taken for
    // frame bytes and cost the first frames on a slow or busy line.
    const auto handshakeEnd = Clock::now() + 2 * CModuleSession::kHandshakeTimeout;
    while (m_session.GetHandshakeState() != HandshakeState::Done &&
           m_session.GetHandshakeState() != HandshakeState::TimedOut &&
           Clock::now() < handshakeEnd && !m_isDeviceLost) {
        if (isStopped()) {
            return FeedStart::kStopped;
        }
        m_session.Tick(kLoopWait);
    }
    m_streamStart = Clock::now();
    m_session.SendCommandText(m_options.voltage ? "t" : "K");

    const auto firstFrameDeadline = Clock::now() + kFirstFrameWait;
    while (m_source.Received() == 0) {
        m_session.Tick();
        if (isStopped()) {
            return FeedStart::kStopped;
        }
        if (m_isDeviceLost) {
            m_failure = "the module on '" + m_options.port + "' went away";
            return FeedStart::kFailed;
        }
        if (Clock::now() >= firstFrameDeadline) {
            m_failure =
                "the module on '" + m_options.port + "' sent no frames within 3 s" +
                (m_session.GetHandshakeState() == HandshakeState::TimedOut ? " and did not answer M"
                                                                           : "");
            return FeedStart::kFailed;
        }
        m_source.WaitForFrame(kLoopWait);
    }
    return FeedStart::kStreaming;
}

bool CModuleFeed::IsLost() {
    if (m_isDeviceLost && m_failure.empty()) {
        m_failure = "the module on '" + m_options.port + "' went away while " + m_options.activity;
    }
    return m_isDeviceLost;
}

std::vector<std::string> CModuleFeed::TakeNotices() {
    std::vector<std::string> notices;
    if (!m_hasWarnedOfHandshake && m_session.GetHandshakeState() == HandshakeState::TimedOut) {
        m_hasWarnedOfHandshake = true;
        notices.push_back("the module on '" + m_options.port + "' did not answer M within 1 s; " +
                          m_options.activity + " its frames anyway");
    }
    std::string warning;
    {
        std::lock_guard lock(m_rateWarningLock);
        warning.swap(m_rateWarning);
    }
    if (!warning.empty()) {
        notices.push_back("'" + m_options.port + "': " + warning);
    }
    return notices;
}

void CModuleFeed::Stop(const std::function<bool()>& pump) {
    if (m_isDeviceLost) {
        return;
    }
    m_session.TurnOff([this, &pump] {
        m_session.Tick();
        const bool isWaiting = pump();
        return isWaiting && !m_hasStopReply;
    });
}

std::string ModuleFeedOptionsProblem(const ModuleFeedOptions& options) {
    if (!IsMqttAddress(options.port)) {
        return {};
    }
    const Result<MqttModuleAddress> address = ParseMqttModuleAddress(options.port);
    if (!address) {
        return address.Message();
    }
    if (const Status plain = CheckNoTls((*address).broker); !plain) {
        return plain.Message();
    }
    if (options.voltage) {
        return "--voltage does not apply to a module on a broker: it streams what its publisher "
               "asked the module for";
    }
    return {};
}

std::unique_ptr<IModuleFeed> MakeModuleFeed(ModuleFeedOptions options) {
    if (IsMqttAddress(options.port)) {
        return std::make_unique<CRemoteModuleFeed>(std::move(options));
    }
    return std::make_unique<CModuleFeed>(std::move(options));
}
