// `thermal publish` run as the user runs it, from the simulated module on a real pseudo-terminal
// to a Mosquitto broker of the test's own, watched by a subscriber in this process as a viewer on
// another machine would watch it.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convert_test_support.h"
#include "device/module_simulator.h"
#include "frame/binary_record_reader.h"
#include "remote/module_status.h"
#include "remote/mqtt_client.h"
#include "support/mosquitto_broker.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kPrefix[] = "plant/cam1";

// Every payload published under kPrefix, by the topic's last level, in the order it came.
class Subscriber {
  public:
    explicit Subscriber(const MosquittoBroker& broker) : m_client(Options(broker), Callbacks()) {
        EXPECT_TRUE(m_client.Start());
        // Subscribed once a message of its own comes back.
        EXPECT_TRUE(WaitFor([this] {
            Send("probe", "1");
            return !Heard("probe").empty();
        }));
    }

    // Asks `done` every 20 ms for up to 10 s.
    static bool WaitFor(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(20ms);
        }
        return done();
    }
    bool Send(const std::string& leaf, const std::string& payload, bool retain = false) {
        return m_client.Publish(std::string(kPrefix) + "/" + leaf, payload.data(), payload.size(),
                                1, retain);
    }
    std::vector<std::string> Heard(const std::string& leaf) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_heard[leaf];
    }
    std::size_t FrameCount() { return Heard("frame").size(); }
    // The last status but `back` ones.
    ModuleStatus Status(std::size_t back = 0) {
        const std::vector<std::string> statuses = Heard("status");
        return statuses.size() > back ? ParseModuleStatus(statuses[statuses.size() - 1 - back])
                                            .value_or(ModuleStatus{})
                                      : ModuleStatus{};
    }

  private:
    static MqttClientOptions Options(const MosquittoBroker& broker) {
        MqttClientOptions options;
        options.broker = {"127.0.0.1", broker.Port()};
        return options;
    }
    MqttClientCallbacks Callbacks() {
        MqttClientCallbacks callbacks;
        callbacks.connected = [this] { m_client.Subscribe(std::string(kPrefix) + "/#", 1); };
        callbacks.message = [this](const MqttMessage& message) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_heard[message.topic.substr(message.topic.rfind('/') + 1)].emplace_back(
                reinterpret_cast<const char*>(message.payload), message.size);
        };
        return callbacks;
    }

    std::mutex m_lock;  // guards m_heard
    std::map<std::string, std::vector<std::string>> m_heard;
    CMqttClient m_client;  // last: its thread goes first
};

SimulatorOptions Module(uint32_t seed, double fps) {
    SimulatorOptions options;
    options.seed = seed;
    options.fps = fps;
    return options;
}

class ThermalPublish : public ::testing::Test {
  protected:
    // `thermal publish` from `sim` with `options`, on a thread of its own.
    std::future<ToolResult> Publish(const CModuleSimulator& sim, const std::string& options,
                                    const std::string& name = "publish") {
        return Start("publish --port " + sim.SlavePath() + " --broker " + m_broker.Url() +
                         " --topic " + kPrefix + " " + options,
                     name);
    }
    // `thermal ARGUMENTS` on a thread of its own, its PID in the file NAME.pid once it runs and
    // its standard output in NAME.out.
    std::future<ToolResult> Start(const std::string& arguments, const std::string& name) {
        const fs::path dir = m_dir / name;
        return std::async(std::launch::async, [dir, arguments] {
            return RunShell("{ " + kThermalTool.string() + " " + arguments + " & echo $! > " +
                                dir.string() + ".pid; wait $!; }",
                            dir);
        });
    }
    pid_t Pid(const std::string& name) {
        std::string pid;
        Subscriber::WaitFor([&] { return !(pid = ReadWhole(m_dir / (name + ".pid"))).empty(); });
        return static_cast<pid_t>(std::stol(pid));
    }
    std::string Address() const { return m_broker.Url() + "/" + kPrefix; }

    const ScratchDirectory m_scratch{"thermal_publish"};
    const fs::path& m_dir = m_scratch.path();
    // As Debian's broker is set up: retained messages and sessions outlive a restart.
    MosquittoBroker m_broker{"allow_anonymous true\npersistence true\npersistence_location " +
                             m_dir.string() + "/\n"};
};

// The payloads, appended, are the very .bds `thermal record` writes of the same frames, whether
// the run ends at its limit or by losing the module; the status says online with the module's M
// reply, then (retained for later subscribers) offline; the M reply reaches PREFIX/reply.
TEST_F(ThermalPublish, PublishesTheRecordsThatRecordWritesAndTheModuleStatus) {
    const struct {
        const char* options;
        int frames;  // 0: the module goes away after 10 frames
        bool isVoltage;
    } cases[] = {
        {"--frames 30 --qos 1", 30, false},
        {"--frames 12 --voltage", 12, true},
        {"--qos 1", 0, false},
    };
    uint32_t seed = 40;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        Subscriber subscriber(m_broker);
        const bool isLost = c.frames == 0;
        CModuleSimulator sim(Module(++seed, isLost ? 50 : 300));
        ASSERT_EQ(sim.Start(), "");
        const std::string port = sim.SlavePath();  // the module comes back on another
        std::future<ToolResult> run = Publish(sim, c.options);
        if (isLost) {
            ASSERT_TRUE(Subscriber::WaitFor([&] { return subscriber.FrameCount() >= 10; }));
            sim.Disconnect();
        }
        const ToolResult result = run.get();
        EXPECT_EQ(result.status, isLost ? 1 : 0) << result.errors;
        EXPECT_EQ(result.errors.find("went away while publishing") != std::string::npos, isLost)
            << result.errors;
        ASSERT_TRUE(Subscriber::WaitFor([&] { return subscriber.Status().state == "offline"; }));
        EXPECT_EQ(subscriber.Status().reason, isLost ? "module-lost" : "ended");

        CModuleSimulator again(Module(seed, 300));
        ASSERT_EQ(again.Start(), "");
        ASSERT_EQ(
            RunTool("record --port " + again.SlavePath() + " " + (m_dir / "same.bds").string() +
                        " --overwrite --frames " + std::to_string(isLost ? 100 : c.frames) +
                        (c.isVoltage ? " --voltage" : ""),
                    m_dir / "record")
                .status,
            0);
        std::string frames;
        for (const std::string& payload : subscriber.Heard("frame")) {
            frames += payload;
        }
        const std::string recorded = ReadWhole(m_dir / "same.bds");
        ASSERT_GE(frames.size(), 10 * kBinaryRecordSize);
        EXPECT_EQ(frames, isLost ? recorded.substr(0, frames.size()) : recorded);

        const ModuleStatus online = subscriber.Status(1);
        EXPECT_EQ(online.state, "online");
        EXPECT_EQ(online.port, port);
        EXPECT_EQ(online.module.find("Thermopile array 32x31"), 0u);
        // The replies to the x and the M of START come first.
        const std::vector<std::string> replies = subscriber.Heard("reply");
        ASSERT_GE(replies.size(), 2u);
        EXPECT_EQ(replies[1].find("Thermopile array 32x31"), 0u);
        Subscriber later(m_broker);
        EXPECT_TRUE(Subscriber::WaitFor([&] { return later.Status().state == "offline"; }));
    }
}

// A letter on PREFIX/command reaches the module only with --allow-commands; anything else there
// is ignored with one line. The status says when the module stops streaming and when it streams
// again.
TEST_F(ThermalPublish, CommandsReachTheModuleOnlyWhenAllowed) {
    const struct {
        const char* options;
        const char* wire;  // every byte the module receives
    } cases[] = {
        {"--duration 3 --allow-commands", "xMKxKTxx"},
        {"--duration 1.5", "xMKTxx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        Subscriber subscriber(m_broker);
        CModuleSimulator sim(Module(7, 50));
        ASSERT_EQ(sim.Start(), "");
        std::future<ToolResult> run = Publish(sim, c.options);
        ASSERT_TRUE(Subscriber::WaitFor([&] { return subscriber.FrameCount() > 0; }));
        const bool isAllowed = std::string(c.wire) != "xMKTxx";
        subscriber.Send("command", "Mx");
        for (const char* state : {"stopped", "streaming"}) {
            subscriber.Send("command", std::string(state) == "stopped" ? "x" : "K");
            EXPECT_TRUE(!isAllowed || Subscriber::WaitFor([&] {
                return subscriber.Status().moduleState == state;
            }));
        }
        const ToolResult result = run.get();
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(sim.ReceivedBytes(), c.wire);
        for (const char* line : {"thermal publish: ignored a command on 'plant/cam1/command' "
                                 "that is not one letter (2 bytes)\n",
                                 "thermal publish: command 'K' from the broker sent to the "
                                 "module\n"}) {
            EXPECT_EQ(result.errors.find(line) != std::string::npos, isAllowed) << result.errors;
        }
    }
}

// A flood on PREFIX/command reaches the module at the bounded rate (10 at once, then 5 a
// second), and what is dropped or refused is counted in a few lines, not said line by line.
TEST_F(ThermalPublish, CommandFloodsAreBoundedAndCountedInAFewLines) {
    Subscriber subscriber(m_broker);
    CModuleSimulator sim(Module(8, 20));
    ASSERT_EQ(sim.Start(), "");
    std::future<ToolResult> run = Publish(sim, "--duration 2 --allow-commands");
    ASSERT_TRUE(Subscriber::WaitFor([&] { return subscriber.FrameCount() > 0; }));
    for (int i = 0; i < 400; ++i) {
        while (!subscriber.Send("command", i % 2 != 0 ? "M" : "MM")) {
            std::this_thread::sleep_for(1ms);
        }
    }
    const ToolResult result = run.get();
    EXPECT_EQ(result.status, 0) << result.errors;
    const std::string wire = sim.ReceivedBytes();
    const auto commands = std::count(wire.begin(), wire.end(), 'M') - 1;  // START's M
    EXPECT_GE(commands, 10) << wire;
    EXPECT_LE(commands, 20) << wire;
    EXPECT_LE(LineCount(result.errors), 16) << result.errors;
    EXPECT_NE(result.errors.find(" commands from the broker dropped: more than 5 a second"),
              std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find("thermal publish: ... and "), std::string::npos);
}

// A broker restart: the publisher goes on (the frames meanwhile dropped and counted) and ignores
// the command the broker kept for it. The broker sends the publisher's last will as it stops: the
// recorder and the stream wait for the publisher, which comes back, and go on, counting the
// frames it could not publish meanwhile.
TEST_F(ThermalPublish, EveryoneRidesThroughABrokerRestart) {
    Subscriber subscriber(m_broker);
    CModuleSimulator sim(Module(3, 50));
    ASSERT_EQ(sim.Start(), "");
    std::future<ToolResult> run = Publish(sim, "--duration 8 --qos 1 --allow-commands");
    ASSERT_TRUE(Subscriber::WaitFor([&] { return subscriber.FrameCount() >= 20; }));
    const fs::path out = m_dir / "out.bds";
    std::future<ToolResult> takers[] = {
        Start("record --port " + Address() + " " + out.string() + " --duration 6", "record"),
        Start("stream --port " + Address() + " --duration 6", "stream")};
    subscriber.Send("command", "K", true);
    ASSERT_TRUE(Subscriber::WaitFor([&] {
        return ReadWhole(m_dir / "publish.err").find("command 'K'") != std::string::npos &&
               fs::exists(m_dir / "stream.out") && fs::exists(out) && fs::file_size(out) > 0;
    }));
    m_broker.Stop();
    const std::size_t before = subscriber.FrameCount();
    const std::size_t statusesBefore = subscriber.Heard("status").size();
    const std::size_t taken[] = {
        fs::file_size(out) / kBinaryRecordSize,
        static_cast<std::size_t>(LineCount(ReadWhole(m_dir / "stream.out")))};
    std::this_thread::sleep_for(500ms);
    m_broker.Restart();
    EXPECT_TRUE(Subscriber::WaitFor([&] { return subscriber.FrameCount() >= before + 20; }));
    EXPECT_GT(subscriber.Heard("status").size(), statusesBefore);
    const ToolResult result = run.get();
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(sim.ReceivedBytes(), "xMKKTxx");
    EXPECT_NE(result.errors.find("lost the connection to the broker"), std::string::npos);
    EXPECT_NE(result.errors.find(" again; "), std::string::npos) << result.errors;
    EXPECT_EQ(result.errors.find(" again; 0 frames dropped"), std::string::npos);
    EXPECT_NE(result.errors.find(" dropped while the broker was not connected"), std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find("ignored a retained command on 'plant/cam1/command'"),
              std::string::npos);
    for (int i = 0; i < 2; ++i) {
        const ToolResult done = takers[i].get();
        EXPECT_EQ(done.status, 1) << done.errors;
        EXPECT_EQ(done.errors.find("went away"), std::string::npos) << done.errors;
        EXPECT_NE(done.errors.find("the broker lost its publisher, which may come back"),
                  std::string::npos);
        EXPECT_NE(done.errors.find(" frames missing in "), std::string::npos);
        EXPECT_GT(i == 0 ? fs::file_size(out) / kBinaryRecordSize
                         : static_cast<std::size_t>(LineCount(done.out)),
                  taken[i] + 20);
    }
}

// One run per prefix: a second publisher refuses to start (status 2) unless told to take over;
// the run taken over ends at once and leaves the status to the new run, which a recorder follows
// after one line.
TEST_F(ThermalPublish, AnotherRunOnThePrefixIsRefusedOrTakesOver) {
    Subscriber subscriber(m_broker);
    CModuleSimulator first(Module(5, 50));
    CModuleSimulator second(Module(6, 50));
    ASSERT_EQ(first.Start(), "");
    ASSERT_EQ(second.Start(), "");
    std::future<ToolResult> takenOver = Publish(first, "--duration 20", "first");
    ASSERT_TRUE(Subscriber::WaitFor([&] { return subscriber.FrameCount() >= 5; }));
    std::future<ToolResult> record =
        Start("record --port " + Address() + " " + (m_dir / "out.bds").string(), "record");
    const ToolResult refused = Publish(second, "--frames 5").get();
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.errors.find(" is online on 'plant/cam1'; give --take-over to replace it"),
              std::string::npos)
        << refused.errors;
    EXPECT_EQ(second.ReceivedBytes(), "");
    const ToolResult takes = Publish(second, "--take-over --duration 2").get();
    EXPECT_EQ(takes.status, 0) << takes.errors;
    const ToolResult ended = takenOver.get();
    EXPECT_EQ(ended.status, 0);
    EXPECT_NE(ended.errors.find(" took over 'plant/cam1'; this run ends"), std::string::npos)
        << ended.errors;
    EXPECT_EQ(first.ReceivedBytes(), "xMKTxx");
    const ToolResult recorded = record.get();
    EXPECT_NE(recorded.errors.find("the module's publisher is now run '"), std::string::npos)
        << recorded.errors;
    EXPECT_NE(recorded.errors.find("went away while recording: its publisher ended"),
              std::string::npos);
    EXPECT_NE(ParseModuleStatus(subscriber.Heard("status").front())->run, subscriber.Status().run);
}

// A recorder paused (SIGSTOP) for longer than the broker waits for it takes up its persistent
// session again and misses none of the frames published at QoS 1; a paused stream keeps no
// session, counts the frames it lacks and ends with status 1.
TEST_F(ThermalPublish, PausedRecorderMissesNothingAndAPausedStreamCountsWhatItLacks) {
    Subscriber subscriber(m_broker);
    CModuleSimulator sim(Module(9, 50));
    ASSERT_EQ(sim.Start(), "");
    std::future<ToolResult> run = Publish(sim, "--duration 34 --qos 1");
    ASSERT_TRUE(Subscriber::WaitFor([&] { return subscriber.FrameCount() >= 5; }));
    const fs::path out = m_dir / "paused.bds";
    std::future<ToolResult> record =
        Start("record --port " + Address() + " " + out.string() + " --duration 30", "record");
    std::future<ToolResult> stream =
        Start("stream --port " + Address() + " --duration 30", "stream");
    const pid_t pids[] = {Pid("record"), Pid("stream")};
    std::this_thread::sleep_for(1s);
    for (const pid_t pid : pids) {
        ::kill(pid, SIGSTOP);
    }
    // The broker drops a client silent for 1.5 keep-alive times (15 s), looking every 5 s or so.
    std::this_thread::sleep_for(25s);
    for (const pid_t pid : pids) {
        ::kill(pid, SIGCONT);
    }
    const ToolResult recorded = record.get();
    EXPECT_EQ(recorded.status, 0) << recorded.errors;
    const std::string file = ReadWhole(out);
    const std::vector<std::string> frames = subscriber.Heard("frame");
    auto next = std::find(frames.begin(), frames.end(), file.substr(0, kBinaryRecordSize));
    std::string published;
    for (; next != frames.end() && published.size() < file.size(); ++next) {
        published += *next;
    }
    EXPECT_GT(file.size(), 25 * 50 * kBinaryRecordSize);
    EXPECT_TRUE(file == published) << "the recording is not a run of the frames published";
    const ToolResult streamed = stream.get();
    EXPECT_EQ(streamed.status, 1);
    EXPECT_NE(streamed.errors.find(" frames missing in 1 gap"), std::string::npos)
        << streamed.errors;
    EXPECT_EQ(run.get().status, 0);
}

// Refusals no retry mends end a publisher at once, before its module is started, and a recorder
// too, with the broker's or the TLS library's reason and status 1.
TEST_F(ThermalPublish, RefusalsNoRetryMendsEndAtOnceWithTheReason) {
    ASSERT_EQ(RunShell("{ cd " + m_dir.string() + R"( && set -e && umask 077
        printf 'nope\n' >wrong && : >empty && mosquitto_passwd -c -b users cam secret
        k="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
        openssl req -x509 $k -keyout ca.key -out ca.crt -days 2 -subj /CN=test-ca
        openssl req -x509 $k -keyout other.key -out other.crt -days 2 -subj /CN=other-ca
        openssl req $k -keyout server.key -out server.csr -subj /CN=test-broker
        for c in "good 2 IP:127.0.0.1" "expired -1 IP:127.0.0.1" "named 2 DNS:elsewhere.invalid"
        do set -- $c && printf 'subjectAltName=%s\n' $3 >$1.ext
          openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days $2 \
            -extfile $1.ext -out $1.crt; done; })",
                       m_dir / "certificates")
                  .status,
              0);
    const std::string dir = m_dir.string() + "/";
    const std::string users = "allow_anonymous false\npassword_file " + dir + "users\n";
    const std::string tls = "keyfile " + dir + "server.key\ncertfile " + dir;
    const struct {
        std::string listener;
        std::string options;  // "record" for a recorder
        const char* reason;
    } cases[] = {
        {users, "--user cam --password-file " + dir + "wrong",
         "refused the connection: not authorized"},
        {users, "", "refused the connection: not authorized"},
        {users, "--user cam --password-file " + dir + "empty",
         "refused the connection: not authorized"},
        {users, "record", "refused the connection: not authorized"},
        {tls + "good.crt\n", "--cafile " + dir + "other.crt",
         "failed: certificate verify failed (unable to get local issuer certificate)"},
        {tls + "expired.crt\n", "--cafile " + dir + "ca.crt", "(certificate has expired)"},
        {tls + "named.crt\n", "--cafile " + dir + "ca.crt",
         "failed: host name verification failed"},
        {"allow_anonymous true\n", "--cafile " + dir + "ca.crt", "unexpected eof while reading"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        MosquittoBroker broker(c.listener);
        CModuleSimulator sim(Module(2, 50));
        ASSERT_EQ(sim.Start(), "");
        const ToolResult result =
            RunTool(c.options == "record"
                        ? "record --port " + broker.Url() + "/plant/cam1 " + dir + "refused.bds"
                        : "publish --port " + sim.SlavePath() + " --broker " + broker.Url() +
                              " --topic plant/cam1 --duration 10 " + c.options,
                    m_dir / "refused");
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.errors.find(c.reason), std::string::npos) << result.errors;
        EXPECT_EQ(sim.ReceivedBytes(), "");
    }
}

}  // namespace
