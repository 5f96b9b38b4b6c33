#include "device/handshake.h"

void CHandshake::SetState(int requested) {
    Run([this, requested] { Step(requested); });
}

void CHandshake::OnInfoReply() {
    Run([this] {
        if (m_handshakeState != 6) {
            Step(4);
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

void CHandshake::Step(int requested) {
    switch (requested) {
        case 0:
            m_handshakeState = 0;
            break;
        case 1:
            m_handshakeState = 1;
            m_actions.sendCommandText("x");
            Step(2);
            break;
        case 2:
            m_handshakeState = 2;
            m_actions.sendCommandText("M");
            Step(3);
            break;
        case 3:
            m_handshakeState = 3;
            m_actions.startTimer();
            break;
        case 4:
            m_handshakeState = 4;
            m_actions.killTimer();
            Step(6);
            break;
        case 5:
            if (m_handshakeState == 3) {
                m_handshakeState = 5;
                m_actions.logTimeout();
            }
            break;
        case 6:
            m_handshakeState = 6;
            break;
        default:
            break;
    }
}
