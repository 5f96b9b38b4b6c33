// `thermal publish`: the module on an MQTT broker, for any number of viewers and recorders on other
// machines: a run over the module on a serial port into the core's publisher (remote/), which
// serves PREFIX/frame, PREFIX/status, PREFIX/reply and, when allowed, PREFIX/command. The broker
// is reached first, so that subscribers get the module's first frames; then the module starts.
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/option_table.h"
#include "commands.h"
#include "device/module_feed.h"
#include "live_command.h"
#include "platform/one_line.h"
#include "remote/module_publisher.h"
#include "remote/mqtt_address.h"
#include "remote/password_file.h"

namespace {

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
    LiveOptions live;
    PublisherOptions publisher;
};

int UsageError(const std::string& message) {
    return CommandLineError("publish", message);
}

// Returns 0 when the options are good, else the exit status after printing why.
int ParseOptions(int argc, char** argv, PublishOptions& options) {
    std::vector<std::string> positional;
    std::string brokerText;
    std::string passwordFile;
    PublisherOptions& publisher = options.publisher;
    COptionTable table;
    AddLiveOptions(table, options.live);
    table.Text("--broker", "mqtt[s]://HOST[:PORT]", brokerText);
    table.Text("--topic", "a topic prefix", publisher.topic);
    table.Choice("--qos", {"0", "1"},
                 [&publisher](std::size_t choice) { publisher.qos = static_cast<int>(choice); });
    table.Flag("--allow-commands", publisher.allowCommands);
    table.Flag("--take-over", publisher.takeOver);
    table.Text("--user", "a user name", publisher.user);
    table.Text("--password-file", "a file", passwordFile);
    table.Text("--cafile", "a file", publisher.caFile);
    if (const std::string error = table.Parse(argc, argv, positional); !error.empty()) {
        return UsageError(error);
    }
    if (!positional.empty()) {
        return UsageError("unexpected argument '" + positional[0] + "'");
    }
    if (options.live.port.empty()) {
        return UsageError("missing --port NAME");
    }
    if (IsMqttAddress(options.live.port)) {
        return UsageError("--port names the module's serial device, not a broker");
    }
    if (brokerText.empty()) {
        return UsageError("missing --broker mqtt://HOST[:PORT]");
    }
    const Result<MqttBroker> broker = ParseMqttBroker(brokerText);
    if (!broker) {
        return UsageError("--broker: " + broker.Message());
    }
    publisher.broker = *broker;
    publisher.port = options.live.port;
    if (publisher.topic.empty()) {
        return UsageError("missing --topic PREFIX");
    }
    if (const Status topic = CheckTopicPrefix(publisher.topic); !topic) {
        return UsageError("--topic: " + topic.Message());
    }
    if (publisher.user.empty() != passwordFile.empty()) {
        return UsageError(publisher.user.empty() ? "--password-file needs --user"
                                                 : "--user needs --password-file");
    }
    if (const std::string problem = LiveOptionsProblem(options.live); !problem.empty()) {
        return UsageError(problem);
    }
    if (!passwordFile.empty()) {
        const Result<std::string> password = ReadPasswordFile(passwordFile);
        if (!password) {
            return UsageError(password.Message());
        }
        publisher.password = *password;
    }
    return 0;
}

void Say(const std::string& line) {
    std::fprintf(stderr, "thermal publish: %s\n", OneLine(line).c_str());
}

// One publishing run from start to end, on the calling thread (the owner of the run).
class CPublishRun {
  public:
    explicit CPublishRun(const PublishOptions& options)
        : m_publisher(std::make_shared<CModulePublisher>(options.publisher)) {
        CModuleSession::Callbacks replies;
        replies.textReply = [this](const std::string& command, const std::string& text,
                                   uint64_t serial) {
            m_publisher->OnTextReply(command, text, serial);
        };
        auto feed = std::make_unique<CModuleFeed>(
            ModuleFeedOptions{options.live.port, options.live.voltage, "publishing"},
            std::move(replies));
        CModuleFeed* module = feed.get();
        m_run.emplace(std::move(feed));
        m_publisher->SetCommandTarget([module](char letter) { module->SendCommand(letter); });
        m_run->AddSink(m_publisher);
        m_run->SetLimits(LimitsOf(options.live));
    }

    // The exit status: 0 after a limit, a signal or another run taking over; 1 when the module
    // or the broker connection could not be had, or the module was lost; 2 when another run was
    // online on the prefix at the start.
    int Run() {
        if (const Status connected = m_publisher->Connect(); !connected) {
            Say(connected.Message());
            return 1;
        }
        RunEnd end;
        const bool isBrokerReady = m_publisher->WaitForBroker([this] {
            SayNotices();
            return CStopSignals::Count() > 0;
        });
        if (isBrokerReady) {
            end = m_run->Run(LiveHooks("publish"));
        }
        static_cast<void>(m_publisher->Finish());
        SayNotices();

        const RunCounts counts = m_run->Counts();
        const bool isEndedByBroker = !isBrokerReady || end.reason == RunStop::kSinkFailed ||
                                     end.reason == RunStop::kSinkEnded;
        const std::string failure =
            isEndedByBroker ? m_publisher->EndLine() : end.failure.Message();
        if (counts.received > 0) {
            Say(std::to_string(m_publisher->Written()) + " frames published, " +
                std::to_string(counts.received) + " received" +
                m_publisher->CountsText(counts.dropped));
        } else if (failure.empty()) {
            Say("stopped before the first frame; nothing published");
        }
        if (failure.empty()) {
            return 0;
        }
        Say(failure);
        return isEndedByBroker ? m_publisher->EndStatus() : 1;
    }

  private:
    void SayNotices() {
        for (const std::string& line : m_publisher->TakeNotices()) {
            Say(line);
        }
    }

    // Destroyed after the run, whose module hands it its replies until then.
    std::shared_ptr<CModulePublisher> m_publisher;
    std::optional<CFrameRun> m_run;
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
