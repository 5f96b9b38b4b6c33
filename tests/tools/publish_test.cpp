// `thermal publish` run as the user runs it, from the simulated module on a real pseudo-terminal
// to a Mosquitto broker of the test's own, watched by a subscriber in this process as a viewer on
// another machine would watch it.
#include <gtest/gtest.h>

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
    void Send(const std::string& leaf, const std::string& payload) {
        m_client.Publish(std::string(kPrefix) + "/" + leaf, payload.data(), payload.size(), 1,
                         false);
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
    std::future<ToolResult> Publish(const CModuleSimulator& sim, const std::string& options) {
        const std::string arguments = "publish --port " + sim.SlavePath() + " --broker " +
                                      m_broker.Url() + " --topic " + kPrefix + " " + options;
        return std::async(std::launch::async,
                          [this, arguments] { return RunTool(arguments, m_dir / "publish"); });
    }

    const ScratchDirectory m_scratch{"thermal_publish"};
    const fs::path& m_dir = m_scratch.path();
    MosquittoBroker m_broker;
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
// is ignored with one line.
TEST_F(ThermalPublish, CommandsReachTheModuleOnlyWhenAllowed) {
    const struct {
        const char* options;
        const char* wire;  // every byte the module receives
    } cases[] = {
        {"--duration 1.5 --allow-commands", "xMKKTxx"},
        {"--duration 1.5", "xMKTxx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        Subscriber subscriber(m_broker);
        CModuleSimulator sim(Module(7, 50));
        ASSERT_EQ(sim.Start(), "");
        std::future<ToolResult> run = Publish(sim, c.options);
        ASSERT_TRUE(Subscriber::WaitFor([&] { return subscriber.FrameCount() > 0; }));
        subscriber.Send("command", "Mx");
        subscriber.Send("command", "K");
        const ToolResult result = run.get();
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(sim.ReceivedBytes(), c.wire);
        const bool isAllowed = std::string(c.wire) == "xMKKTxx";
        for (const char* line : {"thermal publish: ignored a command on 'plant/cam1/command' "
                                 "that is not one letter (2 bytes)\n",
                                 "thermal publish: command 'K' from the broker sent to the "
                                 "module\n"}) {
            EXPECT_EQ(result.errors.find(line) != std::string::npos, isAllowed) << result.errors;
        }
    }
}

// The broker stopped and started again: publishing goes on, the frames meanwhile are dropped and
// counted, and the status is back for subscribers of the new broker.
TEST_F(ThermalPublish, KeepsPublishingThroughABrokerRestart) {
    Subscriber subscriber(m_broker);
    CModuleSimulator sim(Module(3, 50));
    ASSERT_EQ(sim.Start(), "");
    std::future<ToolResult> run = Publish(sim, "--duration 5 --qos 1");
    ASSERT_TRUE(Subscriber::WaitFor([&] { return subscriber.FrameCount() >= 20; }));
    m_broker.Stop();
    const std::size_t before = subscriber.FrameCount();
    const std::size_t statusesBefore = subscriber.Heard("status").size();
    std::this_thread::sleep_for(500ms);
    m_broker.Restart();
    EXPECT_TRUE(Subscriber::WaitFor([&] { return subscriber.FrameCount() >= before + 20; }));
    EXPECT_GT(subscriber.Heard("status").size(), statusesBefore);
    const ToolResult result = run.get();
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.errors.find("lost the connection to the broker"), std::string::npos);
    EXPECT_NE(result.errors.find(" again; "), std::string::npos) << result.errors;
    EXPECT_EQ(result.errors.find(" again; 0 frames dropped"), std::string::npos);
    EXPECT_NE(result.errors.find(" dropped while the broker was not connected"), std::string::npos)
        << result.errors;
}

}  // namespace
