#include "device/module_session.h"

#include <unistd.h>

#include <thread>
#include <utility>

#include "device/command_list.h"
#include "device/mclk.h"
#include "device/port_holders.h"
#include "device/receive_batch.h"

namespace {
using namespace std::chrono_literals;

bool IsContinuousStream(uint8_t letter) {
    return letter == 'K' || letter == 't';
}

bool IsFrameCommand(const std::string& command) {
    return command == "k" || command == "K" || command == "c" || command == "t";
}

}  // namespace

CModuleSession::CModuleSession()
    : m_pReplyList(std::make_unique<CReplyList>(this)),
      m_handshake(CHandshake::Actions{
          [this](const std::string& text) { SendText(text); },
          [this] { StartHandshakeTimer(); },
          [this] { StopHandshakeTimer(); },
          [this] { Log("[" + m_comPortName + "]Timeout to Receive M Message.\r\n"); },
      }) {
    m_serialPort.SetCallbackContext(this);
    m_serialPort.m_receiveCallback = &CModuleSession::OnReceive;
    m_serialPort.m_disconnectCallback = &CModuleSession::OnDeviceGone;
    m_pReplyList->SetCallback(&CModuleSession::OnReply);
}

CModuleSession::~CModuleSession() {
    m_serialPort.Close();
}

void CModuleSession::Start(const std::string& portText) {
    SetHandshakeState(HandshakeState::Idle);
    const std::string name = TrimWhiteSpace(portText);
    if (!name.empty()) {
        OpenSession(name);
    } else {
        Log("[COM?] Select a Interface.\r\n");
    }
    SendText("K");
}

uint32_t CModuleSession::OpenSession(const std::string& name) {
    if (m_serialPort.IsOpen()) {
        m_serialPort.Close();
    }
    if (const uint32_t error = m_serialPort.Open(name); error != 0) {
        // The call that failed and why, so a busy port, a missing permission and a device that
        // is no tty can be told apart.
        std::string line = "[" + name + "] Unable to open! ";
        line.append(PortOpenFailure());
        line.append("\r\n");
        Log(line);
        return error;
    }
    Log("[" + name + "] Open OK!\r\n");
    // The exclusive open cannot keep out a program that had the port open before.
    if (const std::string line = PortHoldersLogLine(name, FindPortHolders(name, ::getpid()));
        !line.empty()) {
        Log(line);
    }
    m_comPortName = name;
    SetHandshakeState(HandshakeState::Stopping);
    return 0;
}

void CModuleSession::SetHandshakeState(HandshakeState state) {
    m_handshake.SetState(state);
}

std::optional<uint8_t> CModuleSession::SendCommand(const std::string& fieldText) {
    if (!m_serialPort.IsOpen()) {
        Log("[COM?] Select a Interface.\r\n");
        return std::nullopt;
    }
    const std::optional<uint8_t> letter = CommandByteFromText(fieldText);
    if (letter) {
        IssueCommand(*letter);
    }
    return letter;
}

void CModuleSession::SendCommandText(const std::string& text) {
    if (!m_serialPort.IsOpen()) {
        return;
    }
    SendCommand(text);
    for (int pass = 0; pass < 50; ++pass) {
        Tick();
        std::this_thread::sleep_for(1ms);
    }
}

void CModuleSession::IssueCommand(uint8_t letter) {
    // The collector is registered before the byte goes out: a module (or a pseudo-terminal)
    // can answer within microseconds, and an answer that beat the registration would be fed to
    // the previous command's collector and lost. A failed write is not reported: the reply
    // simply never completes.
    {
        std::lock_guard lock(m_commandLock);
        m_pReplyList->AddCommand(std::string(1, static_cast<char>(letter)), letter);
        uint32_t written = 0;
        m_serialPort.Write(1, &letter, &written);
    }
    if (IsContinuousStream(letter)) {
        std::lock_guard lock(m_fpsMeterLock);
        m_pFpsMeter = std::make_unique<CFpsMeter>();
        m_pRateGuard = std::make_unique<CLineRateGuard>(kLineBaudRate, Clock::now());
    }
}

void CModuleSession::TurnOff(const std::function<bool()>& pump) {
    if (!m_serialPort.IsOpen()) {
        return;
    }
    SendText("T");
    const uint8_t stop = 'x';
    uint32_t written = 0;
    m_serialPort.Write(1, &stop, &written);
    for (int pass = 0; pass < 100; ++pass) {
        if (pump) {
            if (!pump()) {
                break;
            }
        } else {
            Tick();
        }
        std::this_thread::sleep_for(10ms);
    }
    SetHandshakeState(HandshakeState::Idle);
}

void CModuleSession::Close(const std::function<bool()>& pump) {
    m_isClosing = true;
    m_pReplyList->Stop();
    if (m_serialPort.IsOpen()) {
        const uint8_t stop = 'x';
        uint32_t written = 0;
        m_serialPort.Write(1, &stop, &written);
        // Wait for the reply handler and the receive callback to go idle.
        const auto deadline = Clock::now() + 1000ms;
        while (!(m_hHandlerIdle.IsSet() && m_hReceiveDone.IsSet()) && Clock::now() < deadline) {
            if (pump && !pump()) {
                break;
            }
            m_hHandlerIdle.WaitFor(2ms);
        }
        m_serialPort.Close();
    }
    std::lock_guard lock(m_fpsMeterLock);
    m_pFpsMeter.reset();
    m_pRateGuard.reset();
}

void CModuleSession::Tick(std::chrono::milliseconds limit) {
    auto until = Clock::now() + limit;
    if (m_handshakeEnd && *m_handshakeEnd < until) {
        until = *m_handshakeEnd;
    }
    std::deque<std::function<void()>> tasks;
    {
        std::unique_lock lock(m_taskLock);
        m_taskAdded.wait_until(lock, until, [this] { return !m_tasks.empty(); });
        tasks.swap(m_tasks);
    }
    for (auto& task : tasks) {
        task();
    }
    if (m_handshakeEnd && Clock::now() >= *m_handshakeEnd) {
        m_handshakeEnd.reset();
        SetHandshakeState(HandshakeState::TimedOut);
    }
}

void CModuleSession::StartHandshakeTimer() {
    if (m_callbacks.handshakeTimer) {
        m_callbacks.handshakeTimer(true);
    } else {
        m_handshakeEnd = Clock::now() + kHandshakeTimeout;
    }
}

void CModuleSession::StopHandshakeTimer() {
    if (m_callbacks.handshakeTimer) {
        m_callbacks.handshakeTimer(false);
    } else {
        m_handshakeEnd.reset();
    }
}

void CModuleSession::SendText(const std::string& text) {
    if (m_callbacks.sendCommandText) {
        m_callbacks.sendCommandText(text);
    } else {
        SendCommandText(text);
    }
}

void CModuleSession::Log(const std::string& line) {
    if (m_callbacks.log) {
        m_callbacks.log(line);
    }
}

void CModuleSession::Post(std::function<void()> task) {
    if (m_callbacks.post) {
        m_callbacks.post(std::move(task));
        return;
    }
    {
        std::lock_guard lock(m_taskLock);
        m_tasks.push_back(std::move(task));
    }
    m_taskAdded.notify_one();
}

void CModuleSession::ShowMclk(const std::string& text, bool isStepReply) {
    const auto mclk = FindMclk(text, isStepReply ? MclkMarker::LineEnd : MclkMarker::Kilohertz);
    if (mclk && m_callbacks.mclk) {
        m_callbacks.mclk(*mclk);
    }
}

void CModuleSession::OnReceive(void* context, uint32_t count, uint32_t errors,
                               const uint8_t* bytes) {
    auto* session = static_cast<CModuleSession*>(context);
    if (session->m_isClosing) {
        return;
    }
    session->m_hReceiveDone.Reset();
    const bool isClean = FeedReceivedBatch(
        count, errors, bytes,
        [session](int n, const uint8_t* p) { session->m_pReplyList->Feed(n, p); });
    if (!isClean) {
        session->RecoverStream();
    }
    session->m_hReceiveDone.Set();
}

void CModuleSession::RecoverStream() {
    const std::string last = m_pReplyList->LastCommandText();
    const auto send = [this](uint8_t letter) {
        IssueCommand(letter);
        if (m_callbacks.recoveryCommand) {
            m_callbacks.recoveryCommand(letter);
        }
    };
    send('x');
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    m_serialPort.Purge(1, 1);
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    send(static_cast<uint8_t>(last[0]));
}

void CModuleSession::OnReply(void* context, CCommandReply* reply, const std::string& text,
                             const uint8_t* bytes, int count) {
    auto* session = static_cast<CModuleSession*>(context);
    if (session->m_isClosing) {
        return;
    }
    const Callbacks& callbacks = session->m_callbacks;
    session->m_hHandlerIdle.Reset();
    const std::string& command = reply->CommandText();
    if (IsFrameCommand(command)) {
        if (callbacks.frame) {
            callbacks.frame(command[0], bytes, count);
        }
        if (IsContinuousStream(static_cast<uint8_t>(command[0]))) {
            std::optional<std::string> rate;
            std::optional<std::string> warning;
            {
                const auto now = Clock::now();
                std::lock_guard lock(session->m_fpsMeterLock);
                if (session->m_pFpsMeter) {
                    rate = session->m_pFpsMeter->Tick(now);
                }
                if (session->m_pRateGuard) {
                    warning = session->m_pRateGuard->OnFrame(now);
                }
            }
            if (rate && callbacks.rate) {
                callbacks.rate(*rate);
            }
            if (warning) {
                session->Log("[" + session->m_serialPort.PortName() + "] " + *warning + ".\r\n");
                if (callbacks.rateWarning) {
                    callbacks.rateWarning(*warning);
                }
            }
        }
    } else {
        if (callbacks.textReply) {
            callbacks.textReply(command, text, reply->Serial());
        }
        if (command == "M") {
            session->ShowMclk(text, false);
            session->Post([session] {
                if (!session->m_isClosing) {
                    session->m_handshake.OnInfoReply();
                }
            });
        } else if (command == "a" || command == "A") {
            session->ShowMclk(text, true);
        }
    }
    session->m_hHandlerIdle.Set();
}

void CModuleSession::OnDeviceGone(void* context) {
    auto* session = static_cast<CModuleSession*>(context);
    if (session->m_isClosing) {
        return;
    }
    // The port's name is fixed while its monitor runs, unlike m_comPortName.
    session->Log("[" + session->m_serialPort.PortName() + "] Device disconnected.\r\n");
    if (session->m_callbacks.deviceLost) {
        session->m_callbacks.deviceLost();
    }
}
