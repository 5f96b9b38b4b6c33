// `thermal record` and `thermal stream` of a module on a real Mosquitto broker, run as the user
// runs them while the test publishes as `thermal publish` does: tagged frames as .bds records,
// each after the three kinds of payload a module never sends, and the retained status.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "convert_test_support.h"
#include "device/test_frames.h"
#include "remote/frame_payload.h"
#include "remote/module_status.h"
#include "remote/mqtt_client.h"
#include "support/mosquitto_broker.h"
#include "support/scratch_directory.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The payload `thermal publish` sends for the frame tagged `tag`.
std::string Payload(uint16_t tag) {
    std::string payload(kBinaryRecordSize, '\0');
    MakeFramePayload('K', TaggedFrame(tag).data(), reinterpret_cast<uint8_t*>(payload.data()));
    return payload;
}

// What only a hostile or broken publisher sends on PREFIX/frame: a record cut short, one of no
// known mode, one whose frame lacks its marker.
std::vector<std::string> HostilePayloads() {
    std::string unknownMode = Payload(1);
    unknownMode[5] = 'X';
    std::string noMarker = Payload(1);
    noMarker[kBinaryRecordHeaderSize + kFrameMarkerOffset] ^= 0xFF;
    return {Payload(1).substr(0, kBinaryRecordSize - 1), unknownMode, noMarker};
}

class RemoteModuleCommands : public ::testing::Test {
  protected:
    RemoteModuleCommands() : m_publisher(PublisherOptions(m_broker), {}) {}

    void SetUp() override {
        ASSERT_TRUE(m_publisher.Start());
        const auto deadline = Clock::now() + 10s;
        while (!m_publisher.IsConnected() && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(m_publisher.IsConnected());
        ASSERT_TRUE(PublishStatus("online"));
    }

    static MqttClientOptions PublisherOptions(const MosquittoBroker& broker) {
        MqttClientOptions options;
        options.broker = {"127.0.0.1", broker.Port()};
        return options;
    }
    std::string Address() const { return m_broker.Url() + "/plant/cam1"; }

    // Publishes on PREFIX/leaf at QoS 1, waiting while the client has too much unsent.
    bool Publish(const std::string& leaf, const std::string& payload, bool retain = false) {
        const auto deadline = Clock::now() + 5s;
        while (
            !m_publisher.Publish("plant/cam1/" + leaf, payload.data(), payload.size(), 1, retain)) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    bool PublishStatus(const std::string& state) {
        return Publish("status", MakeModuleStatusJson({state, "/dev/ttyUSB0", "TPA"}), true);
    }

    // Runs `thermal ARGUMENTS` (killed after 30 s) while frames tagged 1, 2, ... are published,
    // about 100 a second, each after the hostile payloads. Once `isGone` says so, the status turns
    // offline and publishing ends.
    ToolResult RunWhilePublishing(const std::string& arguments,
                                  const std::function<bool()>& isGone = nullptr) {
        std::atomic<bool> hasEnded{false};
        ToolResult result;
        std::thread tool([&] {
            result = RunShell("timeout 30 " + kThermalTool.string() + " " + arguments, m_dir);
            hasEnded = true;
        });
        const std::vector<std::string> hostile = HostilePayloads();
        for (uint16_t tag = 1; !hasEnded; ++tag) {
            if (isGone && isGone()) {
                EXPECT_TRUE(PublishStatus("offline"));
                break;
            }
            for (const std::string& payload : hostile) {
                EXPECT_TRUE(Publish("frame", payload));
            }
            EXPECT_TRUE(Publish("frame", Payload(tag)));
            std::this_thread::sleep_for(10ms);
        }
        tool.join();
        return result;
    }

    MosquittoBroker m_broker;
    const ScratchDirectory m_scratch{"thermal_remote"};
    const fs::path& m_dir = m_scratch.path();
    CMqttClient m_publisher;
};

// The payloads dropped as the summary line counts them; -1 when it does not say.
long DroppedInSummary(const std::string& errors) {
    std::smatch match;
    if (!std::regex_search(errors, match, std::regex(R"((\d+) payloads dropped)"))) {
        return -1;
    }
    return std::stol(match[1]);
}

// Checks that `file` is the payloads of consecutive frames, as published; returns how many.
// The first frames may have gone out before the command had subscribed.
std::size_t ExpectConsecutivePayloads(const std::string& file) {
    EXPECT_EQ(file.size() % kBinaryRecordSize, 0u) << "a partial record";
    const std::size_t count = file.size() / kBinaryRecordSize;
    if (count == 0) {
        return 0;
    }
    const uint16_t first =
        TagOf(reinterpret_cast<const uint8_t*>(file.data()) + kBinaryRecordHeaderSize);
    std::string expected;
    for (std::size_t i = 0; i < count; ++i) {
        expected += Payload(static_cast<uint16_t>(first + i));
    }
    EXPECT_TRUE(file == expected) << "not the payloads of frames " << first << " to "
                                  << first + count - 1;
    return count;
}

}  // namespace

// The recording holds the very payloads of consecutive frames and nothing of the hostile ones,
// whether it ends at its limit or because the publisher says the module is offline (status 1,
// as a serial module that went away).
TEST_F(RemoteModuleCommands, RecordKeepsEveryWholePayloadAndNothingElse) {
    const fs::path out = m_dir / "out.bds";
    const ToolResult limited =
        RunWhilePublishing("record --port " + Address() + " " + out.string() + " --frames 5");
    ASSERT_EQ(limited.status, 0) << limited.errors;
    EXPECT_EQ(ExpectConsecutivePayloads(ReadWhole(out)), 5u);
    // At least the hostile payloads between the five frames.
    EXPECT_GE(DroppedInSummary(limited.errors), 3 * 4) << limited.errors;

    fs::remove(out);
    const ToolResult gone = RunWhilePublishing(
        "record --port " + Address() + " " + out.string(),
        [&] { return fs::exists(out) && fs::file_size(out) >= 8 * kBinaryRecordSize; });
    EXPECT_EQ(gone.status, 1) << gone.errors;
    EXPECT_NE(gone.errors.find("the module at " + Address() +
                               " went away while recording: its publisher says it is offline"),
              std::string::npos)
        << gone.errors;
    EXPECT_GE(ExpectConsecutivePayloads(ReadWhole(out)), 8u);
}

TEST_F(RemoteModuleCommands, StreamWritesOneLinePerWholeFrame) {
    const ToolResult result = RunWhilePublishing("stream --port " + Address() + " --frames 4");
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(LineCount(result.out), 4);
    for (int frame = 1; frame <= 4; ++frame) {
        EXPECT_NE(result.out.find("{\"frame\":" + std::to_string(frame) + ","), std::string::npos)
            << frame;
    }
    EXPECT_GE(DroppedInSummary(result.errors), 3 * 3) << result.errors;
}

// A module that does not stream, for whatever reason, fails within the first frame's wait with
// the reason, and leaves no file.
TEST_F(RemoteModuleCommands, NoFramesFailsSoonSayingWhy) {
    const struct {
        bool isBrokerUp;
        std::string why;
    } cases[] = {
        {true, "its publisher says it is offline"},
        {false, "cannot reach the broker 127.0.0.1:" + std::to_string(m_broker.Port()) +
                    ": Connection refused"},
    };
    ASSERT_TRUE(PublishStatus("offline"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        if (!c.isBrokerUp) {
            m_broker.Stop();
        }
        const fs::path out = m_dir / "out.bds";
        const auto start = Clock::now();
        const ToolResult result = RunShell("timeout 30 " + kThermalTool.string() +
                                               " record --port " + Address() + " " + out.string(),
                                           m_dir);
        EXPECT_LT(Clock::now() - start, 8s);
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.errors.find("the module at " + Address() + " sent no frames within 3 s (" +
                                     c.why + ")"),
                  std::string::npos)
            << result.errors;
        EXPECT_FALSE(fs::exists(out));
    }
}
