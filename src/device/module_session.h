#pragma once
// CModuleSession: one session with the sensor module, without any window. It owns the serial
// port, the reply collectors and the handshake. START opens the port, stops the module (`x`),
// asks for its information (`M`) and starts the temperature stream (`K`); TURN OFF stops the
// module (`T` and a bare `x`); Close stops it for good and closes the port. What the module sends
// comes back through the callbacks: frame blocks, text replies, the clock readout, the frame rate,
// log lines and the loss of the device. The viewer's main dialog and a headless recorder drive the
// same class.
//
// Threads: one owner thread (the viewer's GUI thread, or a tool's main thread) calls every
// operation unless it says otherwise. The serial monitor thread delivers the received bytes and
// runs the callbacks marked "monitor thread"; they must not wait for the owner thread. What the
// monitor thread hands to the owner thread (the arrival of the information reply) goes through
// the `post` callback, or, for an owner without an event loop, waits in the session until the
// owner calls Tick.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "device/command_reply.h"
#include "device/fps_meter.h"
#include "device/handshake.h"
#include "device/line_rate_guard.h"
#include "device/manual_reset_event.h"
#include "device/reply_list.h"
#include "device/serial_port.h"

class CModuleSession {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kHandshakeTimeout{1000};

    // Every callback may be left empty.
    struct Callbacks {
        // Monitor thread: a frame block of a data command, with its mode letter (`K`, `k`, `t`,
        // `c`). The bytes are valid during the call only.
        std::function<void(char modeLetter, const uint8_t* bytes, int count)> frame;
        // Monitor thread: a complete text reply (a `C` frame only says "Frame data..."), as the
        // module sent it (one byte per character, Latin-1). A collector reports again at every
        // line that matches its end rule, each text holding the one before (up to the kept 4 MiB);
        // `replySerial` tells whose text it is (CCommandReply::Serial).
        std::function<void(const std::string& command, const std::string& text,
                           uint64_t replySerial)>
            textReply;
        // Monitor thread: the module clock in kHz as the replies to `M`, `a` and `A` print it.
        std::function<void(const std::string& mclk)> mclk;
        // Monitor thread: the average rate of the running continuous stream ("%.1f" frames per
        // second), after each of its frames.
        std::function<void(const std::string& rate)> rate;
        // Monitor thread, once per open: the device went away. The port stays open (reading
        // nothing) until the next START or Close.
        std::function<void()> deviceLost;
        // Monitor thread, at most once per continuous stream: frames arrive far faster than the
        // line's baud rate can carry them (the line for the user, also logged).
        std::function<void(const std::string& warning)> rateWarning;
        // Monitor thread: a command the line-error recovery sent by itself.
        std::function<void(uint8_t letter)> recoveryCommand;
        // Owner or monitor thread: a line for the user, ending in "\r\n".
        std::function<void(const std::string& line)> log;
        // Any thread: runs a task on the owner thread later, after those posted before it,
        // without waiting. Without it tasks wait for Tick.
        std::function<void(std::function<void()> task)> post;
        // Owner thread: how START, the handshake and TURN OFF send a command (the viewer shows it
        // in its command field and keeps its window responsive meanwhile). Without it they call
        // SendCommandText.
        std::function<void(const std::string& text)> sendCommandText;
        // Owner thread: the handshake's one-second wait starts (true) or ends (false). An owner
        // that times it with its own timer sets this and calls SetHandshakeState(TimedOut) when
        // the timer fires; without it the session times the wait in Tick.
        std::function<void(bool isRunning)> handshakeTimer;
    };

    CModuleSession();
    // Closes the port first, so the monitor thread has stopped before anything it uses goes.
    ~CModuleSession();
    CModuleSession(const CModuleSession&) = delete;
    CModuleSession& operator=(const CModuleSession&) = delete;

    // Set once, before the first Start.
    void SetCallbacks(Callbacks callbacks) { m_callbacks = std::move(callbacks); }

    // "START": the handshake goes back to idle; the port named by `portText` (white space at
    // both ends ignored) is opened, or "[COM?] Select a Interface." logged when it is blank; then
    // the continuous temperature stream is asked for if a port is open.
    void Start(const std::string& portText);
    // Closes the open port, opens `name` and logs the outcome (a failure with the call that
    // failed and why); on success the handshake begins. Returns 0 or the port's error.
    uint32_t OpenSession(const std::string& name);
    // Moves the handshake on (TimedOut counts only while it waits for the answer).
    void SetHandshakeState(HandshakeState state);
    HandshakeState GetHandshakeState() const { return m_handshake.State(); }

    // Sends the first character of `fieldText` (white space at both ends ignored) and registers
    // its reply collector; a continuous stream (`K`, `t`) starts a new rate meter. Logs "[COM?]
    // Select a Interface." when no port is open. Returns the byte sent, if any.
    std::optional<uint8_t> SendCommand(const std::string& fieldText);
    // SendCommand, then 50 passes of Tick and a 1 ms pause, as the viewer keeps its window
    // responsive after a send: the module's answer to one command of a sequence (the handshake's
    // `M`) arrives before the next command (START's `K`) takes over the bytes. Nothing without an
    // open port.
    void SendCommandText(const std::string& text);

    // "TURN OFF": `T`, then a bare `x` without a reply collector, then about a second for the
    // last replies: up to 100 passes of `pump` (false ends the wait early) each followed by a
    // 10 ms pause; the handshake goes back to idle. The port stays open. Nothing without an open
    // port. An empty `pump` runs Tick.
    void TurnOff(const std::function<bool()>& pump = {});

    // Closing: from here the callbacks stay silent; the collectors stop, the stop byte `x` goes
    // out, and the port closes once the callbacks in flight have finished (at most 1000 ms,
    // calling `pump` meanwhile until it returns false). The session cannot be started again.
    void Close(const std::function<bool()>& pump = {});
    // Closes the port without sending anything (an owner going away without Close).
    void ClosePort() { m_serialPort.Close(); }

    // For an owner without an event loop: waits at most `limit` for work the monitor thread
    // handed over, runs it, and ends the handshake's wait once its second is up.
    void Tick(std::chrono::milliseconds limit = std::chrono::milliseconds(0));

    bool IsOpen() const { return m_serialPort.IsOpen() != 0; }
    // Any thread: what the frame collectors have seen and reported since the session was made.
    FrameCollectorCounts CollectorCounts() const { return m_pReplyList->Counts(); }
    // The port of the current session; set when an open succeeds.
    const std::string& PortName() const { return m_comPortName; }
    // After OpenSession failed: the call that failed, with the system's reason ("open() failed:
    // Permission denied").
    std::string PortOpenFailure() const { return m_serialPort.LastStatus().Message(); }

    // The port's receive callback (context: the session). Monitor thread: a clean batch goes to
    // the reply collectors in chunks of at most 1024 bytes; a batch with line errors is dropped
    // whole and RecoverStream runs.
    static void OnReceive(void* context, uint32_t count, uint32_t errors, const uint8_t* bytes);
    // Line-error recovery, monitor thread: `x`, 100 ms, both directions purged, 100 ms, then the
    // last command again. Reception waits meanwhile.
    void RecoverStream();

  private:
    static void OnReply(void* context, CCommandReply* reply, const std::string& text,
                        const uint8_t* bytes, int count);
    static void OnDeviceGone(void* context);
    // Registers the collector and writes the byte as one step, in the order the bytes go out.
    void IssueCommand(uint8_t letter);
    void SendText(const std::string& text);
    void Log(const std::string& line);
    void Post(std::function<void()> task);
    void ShowMclk(const std::string& text, bool isStepReply);
    void StartHandshakeTimer();
    void StopHandshakeTimer();

    Callbacks m_callbacks;
    std::string m_comPortName;  // owner thread
    CSerialPort m_serialPort;
    std::unique_ptr<CReplyList> m_pReplyList;
    CHandshake m_handshake;                           // owner thread
    std::optional<Clock::time_point> m_handshakeEnd;  // owner thread; the wait timed by Tick
    std::atomic<bool> m_isClosing{false};

    // Keeps the registration of a collector and the write of its byte together, so collectors
    // follow the order of the bytes when the owner and the recovery send at the same time.
    std::mutex m_commandLock;

    // Replaced at each continuous-stream command (owner or monitor thread), ticked on the monitor
    // thread.
    std::unique_ptr<CFpsMeter> m_pFpsMeter;
    std::unique_ptr<CLineRateGuard> m_pRateGuard;  // the same stream's rate against the line's
    std::mutex m_fpsMeterLock;                     // guards m_pFpsMeter and m_pRateGuard

    // Reset while a reply is handled, and while a batch is fed; Close waits for both.
    CManualResetEvent m_hHandlerIdle{true};
    CManualResetEvent m_hReceiveDone{true};

    std::mutex m_taskLock;  // guards m_tasks, the work waiting for Tick
    std::condition_variable m_taskAdded;
    std::deque<std::function<void()>> m_tasks;
};
