#pragma once
// CModulePublisher: the module on an MQTT broker, for any number of viewers and recorders on other
// machines, as an output of a run (`thermal publish`, and the viewer's "Publish to broker..."):
// every frame goes out as received on PREFIX/frame as one binary stream record, the module's text
// replies on PREFIX/reply, and PREFIX/status keeps a retained line saying whether the module is
// served, by which run of a publisher, and whether it streams. Each run has a random id and
// numbers its frames; it starts only when no other run is online on the prefix (unless told to
// take over) and ends when another takes over. Commands from the broker reach the module only
// when the user allows it, and never retained ones. The broker may come and go: frames meanwhile
// are dropped and counted, never queued; a refusal no retry mends ends the run.
//
// Threads: network events come from the broker client's own thread and wait for the run's thread,
// which handles them in Serve; the module's replies come from the serial monitor thread
// (OnTextReply). Everything else is the run's thread's. The publisher must outlive the source
// whose replies it takes.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "device/text_reply_mailbox.h"
#include "platform/notice_limiter.h"
#include "platform/token_bucket.h"
#include "remote/frame_payload.h"
#include "remote/module_status.h"
#include "remote/mqtt_address.h"
#include "remote/mqtt_client.h"
#include "remote/run_follower.h"
#include "run/frame_sink.h"

struct PublisherOptions {
    MqttBroker broker;
    std::string topic;  // the module's topic prefix
    std::string port;   // the module's port, named in the status
    int qos = 0;        // of the frames
    bool allowCommands = false;
    bool takeOver = false;  // publish even when another run is online on the prefix
    std::string user;       // empty: no login
    std::string password;
    std::string caFile;  // TLS against this CA file
};

class CModulePublisher final : public IFrameSink {
  public:
    // How long the module waits for the broker at start, so that subscribers get its first frames.
    // A broker not reached by then is waited for while the module streams.
    static constexpr auto kFirstConnectionWait = std::chrono::seconds(5);
    // Commands from the broker reach the module at most this often (a person typing into a
    // command box, or a script); a flood would take the line from the frames. After a pause a few
    // pass at once.
    static constexpr double kCommandsPerSecond = 5;
    static constexpr double kCommandBurst = 10;

    explicit CModulePublisher(PublisherOptions options);
    ~CModulePublisher() override;

    // Starts the connection in the background.
    Status Connect();
    // Waits for the first connection and the retained status's check, serving the broker; false
    // when `isStopped` said so or the broker ended the run first (Failure, EndLine).
    bool WaitForBroker(const std::function<bool()>& isStopped);
    // Where the commands from the broker go (the module's command box), on the run's thread.
    void SetCommandTarget(std::function<void(char letter)> send) {
        m_sendCommand = std::move(send);
    }
    // Monitor thread: a text reply of the module (CModuleSession::Callbacks::textReply).
    void OnTextReply(const std::string& command, const std::string& text, uint64_t serial);

    std::string Name() const override;
    unsigned Needs() const override { return kNeedsBlock; }
    Status Begin() override;  // the module streams
    Status Write(const ProcessedFrame& frame) override;
    Clock::time_point Serve(Clock::time_point now) override;
    void SourceStopping(RunStop reason) override;
    bool IsTaking() const override { return !m_takenOverBy.has_value(); }
    Status Failure() const override;
    std::vector<std::string> TakeNotices() override;
    // The status set offline (unless another run has it) and the broker left.
    Status Finish() override;

    // After Finish: what became of the frames not published and of the commands, for the summary
    // (", 3 dropped while the broker was not connected", ...), with the `lost` frames that the
    // run fell behind on.
    std::string CountsText(uint64_t lost) const;
    // Why the broker side ended the run (a refusal, another run online at the start, another
    // taking over), or empty; and the exit status it calls for (0 when taken over).
    std::string EndLine() const;
    int EndStatus() const;

  private:
    // What the broker client's thread hands to the run's thread, in the order it happened.
    struct BrokerEvent {
        enum class Kind {
            kConnecting,       // connected: the status topic is being read
            kConnected,        // its retained status has been read
            kStatus,           // a status on PREFIX/status
            kNotice,           // a line for the user
            kCommand,          // a letter for the module
            kRetainedCommand,  // a command the broker kept from before
        };
        Kind kind;
        std::string text;
    };

    void Say(std::string line) { m_notices.push_back(std::move(line)); }
    void SayLimited(CNoticeLimiter& limiter, const std::string& line);
    std::string BrokerName() const;
    std::string StatusJson(const char* state, const char* reason) const;
    bool PublishText(const std::string& topic, const std::string& text, int qos, bool retain);
    static std::string RunName(const ModuleStatus& status);
    void SetModuleState(const char* state);

    // Network thread.
    void OnConnected();
    void OnMessage(const MqttMessage& message);
    void Refuse(Clock::time_point now, std::string line);
    void AddEvent(BrokerEvent event, bool isConnectionEvent);

    // Run's thread.
    void ServeBroker();
    void OnConnectedEvent();
    void OnStatusEvent(const std::string& text);
    void OnCommandEvent(const std::string& letter);
    void TakeRefusalCount(bool isFinal);
    bool IsEndedByBroker() const;

    const PublisherOptions m_options;
    const MqttModuleAddress m_address;
    const std::string m_frameTopic;
    const std::string m_statusTopic;
    const std::string m_replyTopic;
    const std::string m_commandTopic;

    const std::string m_runId = MakeRunId();
    mutable std::mutex m_moduleReplyLock;    // guards m_moduleReply and m_moduleState
    std::string m_moduleReply;               // the module's answer to M, without its line end
    std::string m_moduleState;               // empty until the stream starts (run's thread sets it)
    std::atomic<bool> m_isStatusDue{false};  // the online status is to be published (again)
    CTextReplyMailbox m_replies;             // the module's replies, from the monitor thread

    std::mutex m_eventLock;  // guards m_events and m_refusals, added to on the network thread
    std::deque<BrokerEvent> m_events;
    CNoticeLimiter m_refusals{"commands refused"};

    // Network thread only.
    CTokenBucket m_commandRate{kCommandsPerSecond, kCommandBurst};
    std::atomic<uint64_t> m_commandsOverRate{0};  // dropped by m_commandRate; read at the end
    int m_syncToken = -1;                         // the sync whose answer ends a connection's check

    // Run's thread only from here on.
    std::function<void(char)> m_sendCommand;
    std::vector<std::string> m_notices;
    std::string m_startRefusal;                 // another run online at the first connection
    std::optional<ModuleStatus> m_rival;        // another run online, seen while checking
    std::optional<ModuleStatus> m_takenOverBy;  // another run online since publishing began
    bool m_isChecked = false;  // this connection's retained status read: publishing may go on
    bool m_hasConnected = false;
    bool m_isStreaming = false;  // commands from the broker go to the module
    bool m_isModuleLost = false;
    uint64_t m_retainedCommands = 0;
    CNoticeLimiter m_commandsSent{"commands sent to the module"};
    std::optional<std::string> m_pendingReply;  // a reply the broker did not take yet
    uint64_t m_taken = 0;                       // frames published or dropped: their numbers
    uint64_t m_droppedAway = 0;                 // while the broker was not connected
    uint64_t m_droppedAwayBefore = 0;           // m_droppedAway at the last reconnection
    uint64_t m_droppedBehind = 0;               // while the library held too many unsent frames
    uint8_t m_payload[kBinaryRecordSize] = {};

    // Last: its network thread calls the members above.
    std::optional<CMqttClient> m_client;
};
