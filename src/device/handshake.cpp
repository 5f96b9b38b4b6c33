#include "device/handshake.h"

void CHandshake::SetState(HandshakeState requested) {
    Run([this, requested] { Step(requested); });
}

void CHandshake::OnInfoReply() {
    Run([this] {
        if (m_handshakeState != HandshakeState::Done) {
            Step(HandshakeState::Answered);
        }
    });
}

void CHandshake::Run(std::function<void()> request) {
    if (m_isRunning) {
        m_pending.push_back(std::move(request));
        return;
    }
    m_isRunning = true;
    request();
    while (!m_pending.empty()) {
        auto next = std::move(m_pending.front());
        m_pending.pop_front();
        next();
    }
    m_isRunning = false;
}

void CHandshake::Step(HandshakeState requested) {
    switch (requested) {
        case HandshakeState::Idle:
            m_handshakeState = HandshakeState::Idle;
            break;
        case HandshakeState::Stopping:
            m_handshakeState = HandshakeState::Stopping;
            m_actions.sendCommandText("x");
            Step(HandshakeState::Asking);
            break;
        case HandshakeState::Asking:
            m_handshakeState = HandshakeState::Asking;
            m_actions.sendCommandText("M");
            Step(HandshakeState::Waiting);
            break;
        case HandshakeState::Waiting:
            m_handshakeState = HandshakeState::Waiting;
            m_actions.startTimer();
            break;
        case HandshakeState::Answered:
            m_handshakeState = HandshakeState::Answered;
            m_actions.killTimer();
            Step(HandshakeState::Done);
            break;
        case HandshakeState::TimedOut:
            if (m_handshakeState == HandshakeState::Waiting) {
                m_handshakeState = HandshakeState::TimedOut;
                m_actions.logTimeout();
            }
            break;
        case HandshakeState::Done:
            m_handshakeState = HandshakeState::Done;
            break;
    }
}
