// `thermal publish`: a module on an MQTT broker, for any number of viewers and recorders on other
// machines. The module is driven as `thermal record` drives it (the module feed); every frame goes
// out as received on PREFIX/frame as one binary stream record, the module's text replies on
// PREFIX/reply, and PREFIX/status keeps a retained line saying whether the module is served, by
// which run of a publisher, and whether it streams. Each run has a random id and numbers its
// frames; it starts only when no other run is online on the prefix (unless told to take over)
// and ends when another takes over. Commands from the broker reach the module only when the user
// allows it, and never retained ones. The broker may come and go: frames meanwhile are dropped
// and counted, never queued; a refusal no retry mends ends the run. Network events come from the
// broker client's own thread and are handled here on the main thread, which owns the module.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/option_table.h"
#include "commands.h"
#include "device/text_reply_mailbox.h"
#include "live_command.h"
#include "module_feed.h"
#include "platform/notice_limiter.h"
#include "platform/one_line.h"
#include "platform/token_bucket.h"
#include "remote/frame_payload.h"
#include "remote/module_status.h"
#include "remote/mqtt_address.h"
#include "remote/mqtt_client.h"
#include "remote/password_file.h"
#include "remote/run_follower.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The longest the main loop sleeps between looks at signals, limits and the broker.
constexpr auto kLoopWait = 10ms;
// Frames taken at most in one go, so that signals and the broker are served in between.
constexpr std::size_t kMaxFramesAtOnce = CModuleFeed::kMaxWaitingFrames;
// How long the module waits for the broker at start, so that subscribers get its first frames.
// A broker not reached by then is waited for while the module streams.
constexpr auto kFirstConnectionWait = 5s;
// Events from the broker waiting for the main loop beyond which commands and the lines about
// refused payloads are let go: only someone flooding PREFIX/command gets there.
constexpr std::size_t kMaxWaitingEvents = 256;
// Replies and the status matter more than any one frame: the broker acknowledges them.
constexpr int kStatusQos = 1;
// Commands from the broker reach the module at most this often (a person typing into a command
// box, or a script); a flood would take the line from the frames. After a pause a few pass at once.
constexpr double kCommandsPerSecond = 5;
constexpr double kCommandBurst = 10;
// A status longer than this is no publisher's: it is let go unread.
constexpr std::size_t kMaxStatusBytes = 64 * 1024;

constexpr char kUsage[] =
    "Usage: thermal publish --port NAME --broker mqtt[s]://HOST[:PORT] --topic PREFIX "
    "[options]\n"
    "\n"
    "Starts the module on the serial port NAME as the viewer's START does (x, M, then K) and\n"
    "publishes it on an MQTT broker for viewers and recorders elsewhere:\n"
    "  PREFIX/frame    every frame as received, one binary stream record each (the 2128 bytes a\n"
    "                  .bds file holds for it: a subscriber that appends them has a .bds), with\n"
    "                  the MQTT v5 user properties \"run\" (this run's id) and \"seq\" (1, 2, "
    "...,\n"
    "                  frames dropped on the way included)\n"
    "  PREFIX/status   retained JSON: {\"state\":\"online\",\"port\":...,\"module\":<its M "
    "reply>,\n"
    "                  \"module_state\":\"streaming\" or \"stopped\",\"run\":...} while the "
    "module is\n"
    "                  served; {\"state\":\"offline\",\"reason\":...} with \"ended\" at the "
    "end,\n"
    "                  \"module-lost\" when the module is lost, or \"connection-lost\" (the "
    "broker's\n"
    "                  last will) when the broker loses this program\n"
    "  PREFIX/reply    the module's text replies\n"
    "  PREFIX/command  with --allow-commands only: a payload of one letter is sent to the\n"
    "                  module as the viewer's command box sends it, at most 5 a second (10 at\n"
    "                  once after a pause); more are dropped and counted; retained ones are\n"
    "                  ignored\n"
    "Another run online on PREFIX (its status read before anything is published) is refused with\n"
    "status 2, unless --take-over is given; a run that another takes over ends at once with\n"
    "status 0, leaving the status to the new run. The broker may go away: frames meanwhile are\n"
    "dropped and counted, and publishing goes on once it is back. A refusal no retry mends (a\n"
    "wrong password or user, not authorised, a certificate that does not check out, TLS against\n"
    "a port without it) ends the run at once with the broker's or the TLS library's reason and\n"
    "status 1. At the limit, on Ctrl-C or on SIGTERM the module is turned off and the status set\n"
    "offline (status 0); a module lost on the way ends with status 1. Messages go to standard\n"
    "error.\n"
    "\n"
    "Options:\n"
    "  --port NAME           serial device of the module, e.g. /dev/ttyUSB0 (required)\n"
    "  --broker URL          the broker, mqtt://HOST or mqtt://HOST:PORT (default port 1883),\n"
    "                        or mqtts://HOST[:PORT] for TLS (default port 8883), checked\n"
    "                        against the system's CA certificates unless --cafile is given\n"
    "                        (required)\n"
    "  --topic PREFIX        the module's topics, e.g. plant/line1/cam3 (required)\n"
    "  --frames N            stop after N frames (default: until interrupted)\n"
    "  --duration SECONDS    stop after this long (default: until interrupted)\n"
    "  --qos 0|1             delivery of frames: 0 at most once, 1 at least once (default 0)\n"
    "  --allow-commands      take commands from PREFIX/command (default: nothing on the broker\n"
    "                        reaches the module)\n"
    "  --take-over           publish even when another run is online on PREFIX; that run ends\n"
    "  --user USER           log in to the broker as USER (needs --password-file)\n"
    "  --password-file FILE  the password is the first line of FILE, at most 1024 bytes (needs\n"
    "                        --user); FILE must be a regular file that neither its group nor\n"
    "                        others may read or write (chmod 600)\n"
    "  --cafile FILE         TLS: the broker's certificate is checked against this CA file\n"
    "  --voltage             publish voltage frames (t) instead of temperatures (K) (default:\n"
    "                        temperatures)\n";

struct PublishOptions {
    std::string port;
    MqttBroker broker;
    std::string topic;
    std::optional<uint64_t> frames;
    std::optional<double> seconds;
    int qos = 0;
    bool allowCommands = false;
    bool takeOver = false;
    std::string user;
    std::string password;
    std::string caFile;
    bool voltage = false;
};

int UsageError(const std::string& message) {
    return CommandLineError("publish", message);
}

// Returns 0 when the options are good, else the exit status after printing why.
int ParseOptions(int argc, char** argv, PublishOptions& options) {
    std::vector<std::string> positional;
    std::string brokerText;
    std::string passwordFile;
    COptionTable table;
    table.Text("--port", "a device name", options.port);
    table.Text("--broker", "mqtt[s]://HOST[:PORT]", brokerText);
    table.Text("--topic", "a topic prefix", options.topic);
    table.Ranged<uint64_t>("--frames", 1, 1'000'000'000'000,
                           [&options](uint64_t frames) { options.frames = frames; });
    table.Ranged<double>("--duration", 0.001, 1e9,
                         [&options](double seconds) { options.seconds = seconds; });
    table.Choice("--qos", {"0", "1"},
                 [&options](std::size_t choice) { options.qos = static_cast<int>(choice); });
    table.Flag("--allow-commands", options.allowCommands);
    table.Flag("--take-over", options.takeOver);
    table.Text("--user", "a user name", options.user);
    table.Text("--password-file", "a file", passwordFile);
    table.Text("--cafile", "a file", options.caFile);
    table.Flag("--voltage", options.voltage);
    if (const std::string error = table.Parse(argc, argv, positional); !error.empty()) {
        return UsageError(error);
    }
    if (!positional.empty()) {
        return UsageError("unexpected argument '" + positional[0] + "'");
    }
    if (options.port.empty()) {
        return UsageError("missing --port NAME");
    }
    if (IsMqttAddress(options.port)) {
        return UsageError("--port names the module's serial device, not a broker");
    }
    if (brokerText.empty()) {
        return UsageError("missing --broker mqtt://HOST[:PORT]");
    }
    const Result<MqttBroker> broker = ParseMqttBroker(brokerText);
    if (!broker) {
        return UsageError("--broker: " + broker.Message());
    }
    options.broker = *broker;
    if (options.topic.empty()) {
        return UsageError("missing --topic PREFIX");
    }
    if (const Status topic = CheckTopicPrefix(options.topic); !topic) {
        return UsageError("--topic: " + topic.Message());
    }
    if (options.user.empty() != passwordFile.empty()) {
        return UsageError(options.user.empty() ? "--password-file needs --user"
                                               : "--user needs --password-file");
    }
    if (options.frames && options.seconds) {
        return UsageError("--frames and --duration cannot be used together");
    }
    if (!passwordFile.empty()) {
        const Result<std::string> password = ReadPasswordFile(passwordFile);
        if (!password) {
            return UsageError(password.Message());
        }
        options.password = *password;
    }
    return 0;
}

// What the broker client's thread hands to the main loop, in the order it happened.
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

// Whether the module streams after `letter`: K and t start a stream; x and T stop it, and so do
// the single-frame and calibration commands. Nothing for the others.
std::optional<bool> StreamsAfter(char letter) {
    if (letter == 'K' || letter == 't') {
        return true;
    }
    if (std::string_view("xTkcCw").find(letter) != std::string_view::npos) {
        return false;
    }
    return std::nullopt;
}

// One publishing run from start to end, on the calling thread (the owner of the module feed).
class CPublishRun {
  public:
    explicit CPublishRun(const PublishOptions& options)
        : m_options(options),
          m_address{options.broker, options.topic},
          m_frameTopic(m_address.Topic("frame")),
          m_statusTopic(m_address.Topic("status")),
          m_replyTopic(m_address.Topic("reply")),
          m_commandTopic(m_address.Topic("command")),
          m_feed({options.port, options.voltage, "publishing"}) {
        m_feed.SetTextReplyListener(
            [this](const std::string& command, const std::string& text, uint64_t serial) {
                OnTextReply(command, text, serial);
            });
        MqttClientOptions client;
        client.broker = options.broker;
        client.user = options.user;
        client.password = options.password;
        client.caFile = options.caFile;
        // What the broker publishes when it loses this program: subscribers wait for it a while.
        client.will = MqttWill{m_statusTopic, StatusJson(kStatusOffline, kOfflineConnectionLost),
                               kStatusQos, true};
        MqttClientCallbacks callbacks;
        callbacks.connected = [this] { OnConnected(); };
        callbacks.disconnected = [this](const std::string& why) {
            AddEvent({BrokerEvent::Kind::kNotice, why}, true);
        };
        // A refusal is the main loop's to see (IsRefused) and to say, once, as the failure.
        callbacks.message = [this](const MqttMessage& message) { OnMessage(message); };
        callbacks.synced = [this](int token) {
            if (token == m_syncToken) {
                AddEvent({BrokerEvent::Kind::kConnected, {}}, true);
            }
        };
        m_client.emplace(std::move(client), std::move(callbacks));
    }

    // The exit status: 0 after a limit, a signal or another run taking over; 1 when the module
    // or the broker connection could not be had, or the module was lost; 2 when another run was
    // online on the prefix at the start.
    int Run() {
        if (const Status started = m_client->Start(); !started) {
            Say("cannot connect to the broker: " + started.Message());
            return 1;
        }
        if (!WaitForBroker()) {
            return Finish();
        }
        if (!m_feed.Open()) {
            m_failure = m_feed.Failure();
            m_isModuleLost = true;
            return Finish();
        }
        const FeedStart start = m_feed.StartStream([this] {
            ServeBroker();
            return IsSignalled() || IsEndedByBroker();
        });
        if (start == FeedStart::kFailed) {
            m_failure = m_feed.Failure();
            m_isModuleLost = true;
        }
        if (start != FeedStart::kStreaming) {
            return Finish();
        }
        m_isStreaming = true;
        SetModuleState(kModuleStreaming);
        std::optional<Clock::time_point> deadline;
        if (m_options.seconds) {
            deadline =
                m_feed.StreamStart() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(*m_options.seconds));
        }
        while (IsTaking()) {
            m_feed.Serve();
            Clock::time_point wakeUp = Clock::now() + kLoopWait;
            if (deadline) {
                wakeUp = std::min(wakeUp, *deadline);
            }
            TakeFrames(std::max<Clock::duration>(wakeUp - Clock::now(), 0ms));
            ServeBroker();
            if (IsSignalled() || (deadline && Clock::now() >= *deadline) || IsEndedByBroker()) {
                break;
            }
            if (m_feed.IsLost()) {
                m_failure = m_feed.Failure();
                m_isModuleLost = true;
                break;
            }
            for (const std::string& notice : m_feed.TakeNotices()) {
                Say(notice);
            }
        }
        return Finish();
    }

  private:
    static void Say(const std::string& line) {
        std::fprintf(stderr, "thermal publish: %s\n", OneLine(line).c_str());
    }

    std::string BrokerName() const {
        std::string name = m_options.broker.host;
        name.push_back(':');
        name.append(std::to_string(m_options.broker.port));
        return name;
    }

    // This run's status JSON: `state` with `reason` (offline) or the module's state (online).
    std::string StatusJson(const char* state, const char* reason) const {
        const bool isOnline = std::string_view(state) == kStatusOnline;
        std::lock_guard lock(m_moduleReplyLock);
        return MakeModuleStatusJson({state, m_options.port, m_moduleReply, m_runId, reason,
                                     isOnline ? m_moduleState : std::string()});
    }

    // Network thread. A clean session forgets subscriptions, so they are made at every
    // connection. Nothing is published before the retained status has been read, which tells
    // whether another run serves the module: the answer to the sync comes after it.
    void OnConnected() {
        AddEvent({BrokerEvent::Kind::kConnecting, {}}, true);
        m_client->Subscribe(m_statusTopic, kStatusQos);
        if (m_options.allowCommands) {
            m_client->Subscribe(m_commandTopic, 1);
        }
        m_syncToken = m_client->Sync().value_or(-1);
    }

    // Network thread: PREFIX/status, and PREFIX/command with --allow-commands.
    void OnMessage(const MqttMessage& message) {
        const uint8_t* payload = message.payload;
        const std::size_t size = message.size;
        if (message.topic == m_statusTopic) {
            if (size <= kMaxStatusBytes) {
                AddEvent({BrokerEvent::Kind::kStatus,
                          std::string(reinterpret_cast<const char*>(payload), size)},
                         false);
            }
            return;
        }
        if (message.topic != m_commandTopic) {
            return;
        }
        // The broker hands a retained command to every new subscription: it would run again
        // after each broker restart.
        if (message.isRetained) {
            AddEvent({BrokerEvent::Kind::kRetainedCommand, {}}, false);
            return;
        }
        const Clock::time_point now = Clock::now();
        if (size == 1 && ((payload[0] >= 'A' && payload[0] <= 'Z') ||
                          (payload[0] >= 'a' && payload[0] <= 'z'))) {
            const std::string letter(1, static_cast<char>(payload[0]));
            if (m_commandRate.Take(now)) {
                AddEvent({BrokerEvent::Kind::kCommand, letter}, false);
                return;
            }
            ++m_commandsOverRate;
            Refuse(now, "dropped command '" + letter + "' from the broker: more than " +
                            std::to_string(static_cast<int>(kCommandsPerSecond)) +
                            " commands a second");
            return;
        }
        std::string line = "ignored a command on '";
        line.append(m_commandTopic);
        line.append("' that is not one letter (");
        line.append(std::to_string(size));
        line.append(size == 1 ? " byte)" : " bytes)");
        Refuse(now, std::move(line));
    }

    // Network thread: the line about a command not taken, unless many came lately (then a count
    // of them now and then).
    void Refuse(Clock::time_point now, std::string line) {
        std::lock_guard lock(m_eventLock);
        const CNoticeLimiter::Turn turn = m_refusals.Note(now);
        if (!turn.countLine.empty()) {
            m_events.push_back({BrokerEvent::Kind::kNotice, turn.countLine});
        }
        if (turn.isSaid) {
            m_events.push_back({BrokerEvent::Kind::kNotice, std::move(line)});
        }
    }

    // Main thread: the count of commands refused lately once it is due (or, `isFinal`, at once).
    void TakeRefusalCount(bool isFinal) {
        std::lock_guard lock(m_eventLock);
        if (std::string count = m_refusals.TakeCount(Clock::now(), isFinal); !count.empty()) {
            m_events.push_back({BrokerEvent::Kind::kNotice, std::move(count)});
        }
    }

    // Network thread. What anyone on the broker can cause waits only while there is room; what
    // the connection itself does always waits.
    void AddEvent(BrokerEvent event, bool isConnectionEvent) {
        std::lock_guard lock(m_eventLock);
        if (!isConnectionEvent && m_events.size() >= kMaxWaitingEvents) {
            return;
        }
        m_events.push_back(std::move(event));
    }

    // Monitor thread: the answer to M is the module's name in the status; every reply also goes
    // to PREFIX/reply, later reports of one reply replacing an earlier one not yet sent.
    void OnTextReply(const std::string& command, const std::string& text, uint64_t serial) {
        if (command == "M") {
            std::string reply = text;
            while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n')) {
                reply.pop_back();
            }
            std::lock_guard lock(m_moduleReplyLock);
            if (reply != m_moduleReply) {
                m_moduleReply = std::move(reply);
                m_isStatusDue = true;
            }
        }
        m_replies.Put(serial, text);
    }

    // Main thread: publishes what waits for the broker and acts on what came from it.
    void ServeBroker() {
        TakeRefusalCount(false);
        std::deque<BrokerEvent> events;
        {
            std::lock_guard lock(m_eventLock);
            events.swap(m_events);
        }
        for (BrokerEvent& event : events) {
            switch (event.kind) {
                case BrokerEvent::Kind::kConnecting:
                    m_isChecked = false;
                    m_rival.reset();
                    break;
                case BrokerEvent::Kind::kConnected:
                    OnConnectedEvent();
                    break;
                case BrokerEvent::Kind::kStatus:
                    OnStatusEvent(event.text);
                    break;
                case BrokerEvent::Kind::kNotice:
                    Say(event.text);
                    break;
                case BrokerEvent::Kind::kRetainedCommand:
                    if (m_retainedCommands++ == 0) {
                        Say("ignored a retained command on '" + m_commandTopic +
                            "': it would run again after every broker restart; any more are "
                            "counted");
                    }
                    break;
                case BrokerEvent::Kind::kCommand:
                    // Before the stream runs a command would come between START's own.
                    if (m_isStreaming) {
                        SayLimited(m_commandsSent, "command '" + event.text +
                                                       "' from the broker sent to the module");
                        m_feed.SendCommand(event.text[0]);
                        if (const std::optional<bool> streams = StreamsAfter(event.text[0])) {
                            SetModuleState(*streams ? kModuleStreaming : kModuleStopped);
                        }
                    } else {
                        Say("ignored command '" + event.text +
                            "' from the broker: the module is not streaming");
                    }
                    break;
            }
        }
        if (std::string count = m_commandsSent.TakeCount(Clock::now()); !count.empty()) {
            Say(count);
        }
        if (!m_client->IsConnected() || !m_isChecked) {
            return;
        }
        if (m_isStatusDue.exchange(false) &&
            !PublishText(m_statusTopic, StatusJson(kStatusOnline, ""), kStatusQos, true)) {
            m_isStatusDue = true;  // again on the next pass
        }
        // A reply the broker did not take waits for the next pass, ahead of later ones.
        if (!m_pendingReply) {
            m_pendingReply = m_replies.Take();
        }
        while (m_pendingReply && PublishText(m_replyTopic, *m_pendingReply, kStatusQos, false)) {
            m_pendingReply = m_replies.Take();
        }
    }

    // The retained status has been read: publishing starts, unless another run is online there.
    void OnConnectedEvent() {
        if (m_rival) {
            if (m_hasConnected) {
                m_takenOverBy = std::move(m_rival);
                return;
            }
            if (!m_options.takeOver) {
                m_startRefusal = "publisher " + RunName(*m_rival) + " is online on '" +
                                 m_options.topic + "'; give --take-over to replace it";
                return;
            }
            Say("taking over '" + m_options.topic + "' from publisher " + RunName(*m_rival));
            m_rival.reset();
        }
        m_isChecked = true;
        m_isStatusDue = true;
        if (!m_hasConnected) {
            m_hasConnected = true;
            Say("connected to the broker " + BrokerName() + "; publishing on '" + m_frameTopic +
                "'");
            return;
        }
        const uint64_t dropped = m_droppedAway - m_droppedAwayBefore;
        m_droppedAwayBefore = m_droppedAway;
        Say("connected to the broker " + BrokerName() + " again; " + std::to_string(dropped) +
            " frames dropped meanwhile");
    }

    // A status of another run (or of a publisher that names none), or not one at all.
    void OnStatusEvent(const std::string& text) {
        std::optional<ModuleStatus> status = ParseModuleStatus(text);
        if (!status || status->run == m_runId) {
            return;
        }
        if (status->state == kStatusOnline) {
            if (m_isChecked) {
                m_takenOverBy = std::move(status);
            } else {
                m_rival = std::move(status);
            }
        } else if (m_isChecked) {
            // Whatever else lands there (an earlier run's last will) would hide this run.
            m_isStatusDue = true;
        }
    }

    static std::string RunName(const ModuleStatus& status) {
        std::string name = status.run.empty() ? "without a run id" : "run '" + status.run + "'";
        if (!status.port.empty()) {
            name += " on " + status.port;
        }
        return OneLine(name);
    }

    void SetModuleState(const char* state) {
        std::lock_guard lock(m_moduleReplyLock);
        if (m_moduleState != state) {
            m_moduleState = state;
            m_isStatusDue = true;
        }
    }

    // True once the broker side ends the run: a refusal no retry mends, another run online at
    // the start, or another run taking over; m_failure and m_failureStatus say so.
    bool IsEndedByBroker() {
        if (!m_failure.empty()) {
            return true;
        }
        if (m_client->IsRefused()) {
            m_failure = m_client->Refusal();
        } else if (!m_startRefusal.empty()) {
            m_failure = m_startRefusal;
            m_failureStatus = 2;
        } else if (m_takenOverBy) {
            // Ended as someone asked by taking over, not failed: a service is not to start it
            // again and take the prefix back.
            m_failureStatus = 0;
            m_isChecked = false;  // not a frame more
            m_failure = "publisher " + RunName(*m_takenOverBy) + " took over '" + m_options.topic +
                        "'; this run ends and leaves the status to it";
        }
        return !m_failure.empty();
    }

    // Main thread: `line`, unless many such lines came lately (then a count of them now and
    // then).
    static void SayLimited(CNoticeLimiter& limiter, const std::string& line) {
        const CNoticeLimiter::Turn turn = limiter.Note(Clock::now());
        if (!turn.countLine.empty()) {
            Say(turn.countLine);
        }
        if (turn.isSaid) {
            Say(line);
        }
    }

    bool PublishText(const std::string& topic, const std::string& text, int qos, bool retain) {
        return m_client->Publish(topic, text.data(), text.size(), qos, retain);
    }

    // Waits for the first connection (serving signals meanwhile), so that the module's first
    // frames reach the subscribers. False when a signal ended the wait.
    bool WaitForBroker() {
        const Clock::time_point end = Clock::now() + kFirstConnectionWait;
        while (!m_isChecked && Clock::now() < end) {
            ServeBroker();
            if (IsSignalled() || IsEndedByBroker()) {
                return false;
            }
            std::this_thread::sleep_for(kLoopWait);
        }
        ServeBroker();
        if (IsEndedByBroker()) {
            return false;
        }
        if (!m_isChecked) {
            Say("starting the module without the broker " + BrokerName() +
                "; its frames are dropped until the broker is reached");
        }
        return true;
    }

    bool IsTaking() const { return !(m_options.frames && m_taken >= *m_options.frames); }

    // Takes what the module handed over (waiting at most `limit` for it) and publishes it while
    // the run goes on; frames after its end are let go.
    void TakeFrames(Clock::duration limit) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(limit);
        SourceFrame frame;
        for (std::size_t taken = 0; taken < kMaxFramesAtOnce &&
                                    m_feed.Frames().NextWithin(frame, wait) == SourceRead::kFrame;
             ++taken) {
            wait = 0ms;
            if (!IsTaking()) {
                continue;
            }
            ++m_taken;
            MakeFramePayload(frame.modeLetter, frame.block, m_payload);
            // Numbered whether it goes out or not: subscribers count the frames they lack.
            if (m_isChecked &&
                m_client->Publish(
                    m_frameTopic, m_payload, sizeof m_payload, m_options.qos, false,
                    {{kRunProperty, m_runId}, {kSequenceProperty, std::to_string(m_taken)}})) {
                ++m_published;
            } else if (!m_client->IsConnected() || !m_isChecked) {
                ++m_droppedAway;
            } else {
                ++m_droppedBehind;
            }
        }
    }

    // True once SIGINT or SIGTERM has arrived.
    bool IsSignalled() {
        m_signalCount = CStopSignals::Count();
        return m_signalCount > 0;
    }

    // The stop sequence: the module is turned off (the frames it sent before it stopped are still
    // published unless the limit was reached), the feed closed, the status set offline and the
    // broker left. Returns the exit status.
    int Finish() {
        const int signalsBefore = m_signalCount;
        m_isStreaming = false;
        m_feed.Stop([this, signalsBefore] {
            TakeFrames(0ms);
            ServeBroker();
            // A second Ctrl-C cuts the wait for the module's last frames short.
            return IsTaking() && !(IsSignalled() && m_signalCount > signalsBefore);
        });
        TakeFrames(0ms);
        m_feed.Close();
        ServeBroker();
        // Only a run that has its status on the broker changes it: the status of a run that
        // refused to start, or that another took over, is that other run's.
        if (m_isChecked) {
            const char* reason = m_isModuleLost ? kOfflineModuleLost : kOfflineEnded;
            m_client->Stop(
                MqttWill{m_statusTopic, StatusJson(kStatusOffline, reason), kStatusQos, true});
        } else {
            m_client->Stop();
        }
        TakeRefusalCount(true);
        if (std::string count = m_commandsSent.TakeCount(Clock::now(), true); !count.empty()) {
            Say(count);
        }
        {
            // Said once the connection has gone, so nothing the client says comes after it.
            std::lock_guard lock(m_eventLock);
            for (const BrokerEvent& event : m_events) {
                if (event.kind == BrokerEvent::Kind::kNotice) {
                    Say(event.text);
                }
            }
            m_events.clear();
        }

        const CLiveFrameSource& frames = m_feed.Frames();
        if (frames.Received() > 0) {
            std::string summary = std::to_string(m_published) + " frames published, " +
                                  std::to_string(frames.Received()) + " received";
            if (m_droppedAway > 0) {
                summary += ", " + std::to_string(m_droppedAway) +
                           " dropped while the broker was not connected";
            }
            if (m_droppedBehind > 0) {
                summary += ", " + std::to_string(m_droppedBehind) +
                           " dropped while the broker fell behind";
            }
            if (frames.Dropped() > 0) {
                summary += ", " + std::to_string(frames.Dropped()) +
                           " lost: publishing fell behind the module";
            }
            if (const uint64_t overRate = m_commandsOverRate.load(); overRate > 0) {
                summary += ", " + std::to_string(overRate) +
                           " commands from the broker dropped: more than " +
                           std::to_string(static_cast<int>(kCommandsPerSecond)) + " a second";
            }
            if (m_retainedCommands > 0) {
                summary += ", " + std::to_string(m_retainedCommands) + " retained commands ignored";
            }
            Say(summary);
        } else if (m_failure.empty()) {
            Say("stopped before the first frame; nothing published");
        }
        if (!m_failure.empty()) {
            Say(m_failure);
            return m_failureStatus;
        }
        return 0;
    }

    const PublishOptions& m_options;
    const MqttModuleAddress m_address;
    const std::string m_frameTopic;
    const std::string m_statusTopic;
    const std::string m_replyTopic;
    const std::string m_commandTopic;

    const std::string m_runId = MakeRunId();
    mutable std::mutex m_moduleReplyLock;    // guards m_moduleReply and m_moduleState
    std::string m_moduleReply;               // the module's answer to M, without its line end
    std::string m_moduleState;               // empty until the stream starts (main thread sets it)
    std::atomic<bool> m_isStatusDue{false};  // the online status is to be published (again)
    CTextReplyMailbox m_replies;             // the module's replies, from the monitor thread

    std::mutex m_eventLock;  // guards m_events and m_refusals, added to on the network thread
    std::deque<BrokerEvent> m_events;
    CNoticeLimiter m_refusals{"commands refused"};

    // Network thread only.
    CTokenBucket m_commandRate{kCommandsPerSecond, kCommandBurst};
    std::atomic<uint64_t> m_commandsOverRate{0};  // dropped by m_commandRate; read at the end

    int m_syncToken = -1;  // network thread: the sync whose answer ends a connection's check

    // Main thread only from here on.
    std::string m_failure;
    int m_failureStatus = 1;  // the exit status when m_failure is set
    bool m_isModuleLost = false;
    std::string m_startRefusal;                 // another run online at the first connection
    std::optional<ModuleStatus> m_rival;        // another run online, seen while checking
    std::optional<ModuleStatus> m_takenOverBy;  // another run online since publishing began
    bool m_isChecked = false;  // this connection's retained status read: publishing may go on
    uint64_t m_retainedCommands = 0;
    int m_signalCount = 0;
    bool m_hasConnected = false;
    bool m_isStreaming = false;  // commands from the broker go to the module
    CNoticeLimiter m_commandsSent{"commands sent to the module"};
    std::optional<std::string> m_pendingReply;  // a reply the broker did not take yet
    uint64_t m_taken = 0;                       // frames published or dropped
    uint64_t m_published = 0;
    uint64_t m_droppedAway = 0;        // while the broker was not connected
    uint64_t m_droppedAwayBefore = 0;  // m_droppedAway at the last reconnection
    uint64_t m_droppedBehind = 0;      // while the library held too many unsent frames
    uint8_t m_payload[kBinaryRecordSize] = {};

    // Both threads of these two call the members above, so they go first: the client's network
    // thread, then the module's monitor thread.
    CModuleFeed m_feed;
    std::optional<CMqttClient> m_client;
};

}  // namespace

int RunPublish(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    PublishOptions options;
    if (const int status = ParseOptions(argc, argv, options); status != 0) {
        return status;
    }

    // A broker that closes the connection mid-write must not kill the process.
    return RunLiveCommand<CPublishRun>("publish", options, {SIGPIPE});
}
