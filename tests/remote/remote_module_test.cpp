// A remote module against a real broker: what one client publishes reaches the module byte for
// byte, hostile payloads never pass, the status and the broker's comings and goings are said
// once each, and commands go the other way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/test_frames.h"
#include "frame/binary_record.h"
#include "remote/module_status.h"
#include "remote/remote_module.h"
#include "support/mosquitto_broker.h"

namespace {

// What a remote module or a plain client reported, for the test thread to wait on.
struct Heard {
    std::mutex lock;  // guards everything below
    std::condition_variable changed;
    std::vector<std::vector<uint8_t>> frames;  // as records again
    std::vector<std::string> notices;
    std::vector<std::string> messages;  // a plain client's payloads

    void Add(std::vector<std::string>& list, std::string text) {
        {
            const std::lock_guard<std::mutex> guard(lock);
            list.push_back(std::move(text));
        }
        changed.notify_all();
    }
    // Waits up to `seconds` for `done` (called under the lock, at each report and at least
    // every 20 ms for states nothing reports).
    bool WaitFor(const std::function<bool()>& done, int seconds = 10) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        std::unique_lock<std::mutex> guard(lock);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            changed.wait_for(guard, std::chrono::milliseconds(20));
        }
        return true;
    }
    int Count(const std::string& words) {
        const std::lock_guard<std::mutex> guard(lock);
        int count = 0;
        for (const std::string& notice : notices) {
            count += notice.find(words) != std::string::npos ? 1 : 0;
        }
        return count;
    }
};

class RemoteModuleTest : public ::testing::Test {
  protected:
    RemoteModuleTest()
        : m_address(*ParseMqttModuleAddress(m_broker.Url() + "/plant/cam1")),
          m_publisher(Options(), {}),
          m_module(m_address, {}, Callbacks(m_heard), 1) {}

    MqttClientOptions Options() const {
        MqttClientOptions options;
        options.broker = m_address.broker;
        return options;
    }
    static RemoteModuleCallbacks Callbacks(Heard& heard) {
        RemoteModuleCallbacks callbacks;
        callbacks.frame = [&heard](char mode, const uint8_t* block, int) {
            const BinaryRecord record = EncodeBinaryRecord(mode, block);
            {
                const std::lock_guard<std::mutex> guard(heard.lock);
                heard.frames.emplace_back(record.begin(), record.end());
            }
            heard.changed.notify_all();
        };
        callbacks.reply = [&heard](const std::string& text) { heard.Add(heard.messages, text); };
        callbacks.notice = [&heard](const std::string& line) { heard.Add(heard.notices, line); };
        return callbacks;
    }
    // Returns once the module has made its subscriptions: the status, subscribed last, brings
    // the retained "starting".
    void StartBoth() {
        ASSERT_TRUE(m_publisher.Start());
        ASSERT_TRUE(m_heard.WaitFor([&] { return m_publisher.IsConnected(); }));
        ASSERT_TRUE(Publish("status", Bytes(MakeModuleStatusJson({"starting", "", ""})), true));
        ASSERT_TRUE(m_module.Start());
        ASSERT_TRUE(m_heard.WaitFor([&] { return m_heard.notices.size() >= 2; }));
        ASSERT_EQ(m_heard.Count("the module's state is 'starting'"), 1);
    }
    bool Publish(const std::string& leaf, const std::vector<uint8_t>& bytes, bool retain = false) {
        return m_publisher.Publish(m_address.Topic(leaf), bytes.data(), bytes.size(), 1, retain);
    }
    static std::vector<uint8_t> Record(uint16_t tag) {
        const BinaryRecord record = EncodeBinaryRecord('K', TaggedFrame(tag).data());
        return {record.begin(), record.end()};
    }
    static std::vector<uint8_t> Bytes(const std::string& text) {
        return {text.begin(), text.end()};
    }

    MosquittoBroker m_broker;
    MqttModuleAddress m_address;
    Heard m_heard;
    CMqttClient m_publisher;
    CRemoteModule m_module;
};

// Repeats `attempt` (which waits a little itself) until it succeeds, for at most 10 s.
bool Eventually(const std::function<bool()>& attempt) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!attempt()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST_F(RemoteModuleTest, PassesWholeRecordsByteForByteAndCountsTheRest) {
    StartBoth();

    std::vector<uint8_t> damaged = Record(3);
    damaged[16 + kFrameMarkerOffset] = 0;
    const std::vector<std::vector<uint8_t>> hostile = {
        {}, Bytes("Mode=T"), damaged, std::vector<uint8_t>(kBinaryRecordSize, 'Z')};
    for (uint16_t tag = 1; tag <= 3; ++tag) {
        ASSERT_TRUE(Publish("frame", hostile[tag - 1]));
        ASSERT_TRUE(Publish("frame", Record(tag)));
    }
    ASSERT_TRUE(Publish("frame", hostile[3]));
    ASSERT_TRUE(m_heard.WaitFor([&] { return m_heard.frames.size() == 3; }));
    ASSERT_TRUE(m_heard.WaitFor([&] { return m_module.PayloadsDropped() == 4; }));
    for (uint16_t tag = 1; tag <= 3; ++tag) {
        EXPECT_EQ(m_heard.frames[tag - 1], Record(tag));
    }
    EXPECT_EQ(m_module.FramesReceived(), 3u);
    // One line per kind of damage, not per payload.
    EXPECT_EQ(m_heard.Count("dropped a frame payload"), 3);
}

// Alternating kinds of bad payloads and of statuses no publisher sends: the first few lines of
// each, then a count (here at Stop: the flood is shorter than the limiter's period).
TEST_F(RemoteModuleTest, FloodsOfBadPayloadsAndStatusesGiveAFewLinesAndACount) {
    StartBoth();  // its status 'starting' was the first of the statuses said
    for (int i = 0; i < 200; ++i) {
        const std::vector<uint8_t> bad =
            i % 2 != 0 ? Bytes("x") : std::vector<uint8_t>(kBinaryRecordSize, 'Z');
        ASSERT_TRUE(Eventually([&] { return Publish("frame", bad); }));
        const std::string status = i % 10 != 0 ? "{bad" : MakeModuleStatusJson({"weird", "", ""});
        ASSERT_TRUE(i % 5 != 0 || Eventually([&] { return Publish("status", Bytes(status)); }));
    }
    ASSERT_TRUE(m_heard.WaitFor([&] { return m_module.PayloadsDropped() == 200; }));
    m_module.Stop();
    EXPECT_EQ(m_heard.Count("dropped a frame payload"), 5);
    EXPECT_EQ(m_heard.Count("... and 195 more bad payloads in "), 1);
    EXPECT_EQ(m_heard.Count("status is not understood") + m_heard.Count("state is 'weird'"), 4);
    EXPECT_EQ(m_heard.Count("... and 36 more statuses not understood in "), 1);
}

// mqtts:// speaks TLS, in any case of the scheme: a plain broker never sees it connect (and it
// never falls back to plain), while mqtt:// connects there.
TEST_F(RemoteModuleTest, MqttsSpeaksTlsOnly) {
    for (const std::string scheme : {"mqtt://", "MQTTS://"}) {
        std::atomic<bool> isConnected{false};
        const Result<MqttBroker> broker =
            ParseMqttBroker(scheme + "127.0.0.1:" + std::to_string(m_broker.Port()));
        ASSERT_TRUE(broker) << broker.Message();
        MqttClientOptions options;
        options.broker = *broker;
        MqttClientCallbacks callbacks;
        callbacks.connected = [&isConnected] { isConnected = true; };
        CMqttClient client(options, callbacks);
        ASSERT_TRUE(client.Start());
        const bool isTls = scheme == "MQTTS://";
        EXPECT_EQ(m_heard.WaitFor([&] { return isConnected.load(); }, isTls ? 2 : 10), !isTls);
    }
}

TEST_F(RemoteModuleTest, SaysEachStatusChangeOnceAndCarriesCommandsAndReplies) {
    Heard commands;
    MqttClientCallbacks plain;
    plain.message = [&](const MqttMessage& message) {
        commands.Add(commands.messages,
                     std::string(reinterpret_cast<const char*>(message.payload), message.size));
    };
    CMqttClient listener(Options(), plain);
    ASSERT_TRUE(listener.Start());
    ASSERT_TRUE(commands.WaitFor([&] { return listener.IsConnected(); }));
    ASSERT_TRUE(listener.Subscribe(m_address.Topic("command"), 1));
    StartBoth();

    const std::string online = MakeModuleStatusJson({"online", "/dev/ttyUSB0", "TPA 2.1"});
    for (const std::string& status :
         {online, online, std::string("{bad"), MakeModuleStatusJson({"offline", "", ""})}) {
        ASSERT_TRUE(Publish("status", Bytes(status), true));
    }
    ASSERT_TRUE(Publish("reply", Bytes("Version 2.1\r\n")));
    ASSERT_TRUE(m_heard.WaitFor([&] { return !m_heard.messages.empty(); }));
    EXPECT_EQ(m_heard.messages[0], "Version 2.1\r\n");
    ASSERT_TRUE(m_heard.WaitFor(
        [&] { return m_heard.notices.back().find("offline") != std::string::npos; }));
    EXPECT_EQ(m_heard.Count("the module is online on /dev/ttyUSB0 (TPA 2.1)"), 1);
    EXPECT_EQ(m_heard.Count("not understood"), 1);
    EXPECT_EQ(m_heard.Count("the module is offline"), 1);

    // The subscription above may not have reached the broker yet when the first letter goes.
    ASSERT_TRUE(Eventually([&] {
        m_module.SendCommand('K');
        return commands.WaitFor([&] { return !commands.messages.empty(); }, 1);
    }));
    EXPECT_EQ(commands.messages[0], "K");
}

TEST_F(RemoteModuleTest, ReconnectsAndSubscribesAgainAfterTheBrokerRestarts) {
    StartBoth();
    m_broker.Stop();
    // Until a client has seen the connection go, the library still takes a message and sends it
    // once connected again.
    ASSERT_TRUE(
        m_heard.WaitFor([&] { return !m_module.IsConnected() && !m_publisher.IsConnected(); }));
    EXPECT_FALSE(Publish("frame", Record(1))) << "nothing is queued while the broker is away";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    m_broker.Restart();
    ASSERT_TRUE(m_heard.WaitFor([&] { return m_module.IsConnected(); }, 15));
    ASSERT_TRUE(m_heard.WaitFor([&] { return m_publisher.IsConnected(); }, 15));
    // The module subscribes again on connecting; frames published after that arrive.
    ASSERT_TRUE(Eventually([&] {
        Publish("frame", Record(7));
        return m_heard.WaitFor([&] { return !m_heard.frames.empty(); }, 1);
    }));
    EXPECT_EQ(m_heard.frames.back(), Record(7));
    const std::string broker = "broker 127.0.0.1:" + std::to_string(m_broker.Port());
    EXPECT_EQ(m_heard.Count("lost the connection to the " + broker), 1);
    EXPECT_EQ(m_heard.Count("cannot reach the " + broker + ": Connection refused"), 1);
    EXPECT_EQ(m_heard.Count("connected to the " + broker), 2);
}
