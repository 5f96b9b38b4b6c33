#pragma once
// CHandshake: the short exchange that opens a session. It stops the module (`x`), asks for its
// information (`M`) and waits up to a second for the answer; the answer or the time-out ends it.
// Owner thread only (the session's): the monitor thread hands the arrival of the answer over.
// Requests made while a step is still running (the viewer's sends pump its event loop, which may
// dispatch a handed-over answer or the timer) wait until that step has finished, so the timer is
// always started before it is killed.
#include <deque>
#include <functional>
#include <string>

enum class HandshakeState {
    Idle = 0,
    Stopping = 1,  // `x` being sent
    Asking = 2,    // `M` being sent
    Waiting = 3,   // waiting for the `M` reply; the one-second timer runs
    Answered = 4,  // reply received; the timer is being stopped
    TimedOut = 5,  // the time-out line has been logged
    Done = 6,
};

class CHandshake {
  public:
    struct Actions {
        std::function<void(const std::string&)> sendCommandText;  // may pump the event loop
        std::function<void()> startTimer;                         // the 1000 ms time-out
        std::function<void()> killTimer;
        std::function<void()> logTimeout;
    };

    explicit CHandshake(Actions actions) : m_actions(std::move(actions)) {}

    // Requests a state; runs its action and the states it leads to.
    void SetState(HandshakeState requested);
    // The module's information reply arrived: ends the wait unless the handshake is done.
    void OnInfoReply();
    HandshakeState State() const { return m_handshakeState; }

  private:
    void Run(std::function<void()> request);
    void Step(HandshakeState requested);

    Actions m_actions;
    HandshakeState m_handshakeState = HandshakeState::Idle;
    bool m_isRunning = false;
    std::deque<std::function<void()>> m_pending;  // requests made while a step runs
};
