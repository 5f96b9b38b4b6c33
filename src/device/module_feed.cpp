#include "device/module_feed.h"

#include "device/capture_frames.h"

namespace {
using namespace std::chrono_literals;

// The longest a wait sleeps between looks at the owner's stop.
constexpr auto kLoopWait = 10ms;

// `mine`, then `theirs`, for one callback of the session.
template <typename Function>
Function Both(Function mine, Function theirs) {
    if (!theirs) {
        return mine;
    }
    return [mine = std::move(mine), theirs = std::move(theirs)](const auto&... args) {
        mine(args...);
        theirs(args...);
    };
}
}  // namespace

CModuleFeed::CModuleFeed(ModuleFeedOptions options, CModuleSession::Callbacks owner)
    : m_options(std::move(options)) {
    CModuleSession::Callbacks callbacks = owner;
    callbacks.frame = Both<decltype(callbacks.frame)>(
        [this](char modeLetter, const uint8_t* bytes, int count) {
            m_source.Push(modeLetter, bytes, count);
        },
        owner.frame);
    callbacks.textReply = Both<decltype(callbacks.textReply)>(
        [this](const std::string& command, const std::string& text, uint64_t) {
            if (command == "T" && !m_hasStopReply) {
                OnStopReply(text);
            }
        },
        owner.textReply);
    callbacks.deviceLost =
        Both<decltype(callbacks.deviceLost)>([this] { m_isDeviceLost = true; }, owner.deviceLost);
    callbacks.rateWarning = Both<decltype(callbacks.rateWarning)>(
        [this](const std::string& warning) {
            std::lock_guard lock(m_rateWarningLock);
            m_rateWarning = warning;
        },
        owner.rateWarning);
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

Status CModuleFeed::Open() {
    m_session.SetHandshakeState(HandshakeState::Idle);
    if (m_session.OpenSession(m_options.port) != 0) {
        return Status::Failure("cannot open '" + m_options.port +
                               "': " + m_session.PortOpenFailure());
    }
    return {};
}

bool CModuleFeed::IsReadyForStream() const {
    const HandshakeState state = m_session.GetHandshakeState();
    return state == HandshakeState::Done || state == HandshakeState::TimedOut || m_isDeviceLost;
}

void CModuleFeed::RequestStream() {
    m_streamStart = Clock::now();
    m_session.SendCommandText(m_options.voltage ? "t" : "K");
}

Result<bool> CModuleFeed::StartStream(const std::function<bool()>& isStopped) {
    // The stream is asked for once the module has answered M (or its second is up), the order
    // START sends them in. An answer still on its way when the stream starts would be taken for
    // frame bytes and cost the first frames on a slow or busy line.
    const auto handshakeEnd = Clock::now() + 2 * CModuleSession::kHandshakeTimeout;
    while (!IsReadyForStream() && Clock::now() < handshakeEnd) {
        if (isStopped()) {
            return false;
        }
        m_session.Tick(kLoopWait);
    }
    RequestStream();

    const auto firstFrameDeadline = Clock::now() + kFirstFrameWait;
    while (m_source.Received() == 0) {
        m_session.Tick();
        if (isStopped()) {
            return false;
        }
        if (m_isDeviceLost) {
            return Status::Failure("the module on '" + m_options.port + "' went away");
        }
        if (Clock::now() >= firstFrameDeadline) {
            return Status::Failure(
                "the module on '" + m_options.port + "' sent no frames within 3 s" +
                (m_session.GetHandshakeState() == HandshakeState::TimedOut ? " and did not answer M"
                                                                           : ""));
        }
        m_source.WaitForFrame(kLoopWait);
    }
    return true;
}

Status CModuleFeed::CheckLink() {
    if (m_isDeviceLost) {
        return Status::Failure("the module on '" + m_options.port + "' went away while " +
                               m_options.activity);
    }
    return {};
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

void CModuleFeed::Close() {
    m_session.Close();
    m_source.Close();
}
