#pragma once
// CHandshake: the short exchange that opens a session. It stops the module (`x`), asks for its
// information (`M`) and waits up to a second for the answer; the answer or the time-out ends it.
// States: 0 idle, 1 stopping, 2 asking, 3 waiting (timer runs), 4 answered, 5 timed out, 6 done.
// Dialog thread only: the monitor thread posts the arrival of the answer. Requests made while a
// step is still running (the sends pump the event loop, which may dispatch a posted answer or the
// timer) wait until that step has finished, so the timer is always started before it is killed.
#include <deque>
#include <functional>
#include <string>

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
    void SetState(int requested);
    // The module's information reply arrived: ends the wait unless the handshake is done.
    void OnInfoReply();
    int State() const { return m_handshakeState; }

  private:
    void Run(std::function<void()> request);
    void Step(int requested);

    Actions m_actions;
    int m_handshakeState = 0;
    bool m_isRunning = false;
    std::deque<std::function<void()>> m_pending;  // requests made while a step runs
};
