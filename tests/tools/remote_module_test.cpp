// `thermal record` and `thermal stream` of a module on a real Mosquitto broker, run as the user
// runs them (killed after 30 s) while the test publishes as `thermal publish` does: tagged frames
// as .bds records, each after three payloads a module never sends, and the retained status.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "convert_test_support.h"
#include "device/test_frames.h"
#include "remote/frame_payload.h"
#include "remote/module_status.h"
#include "remote/mqtt_client.h"
#include "support/mosquitto_broker.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Payload(uint16_t tag) {
    std::string payload(kBinaryRecordSize, '\0');
    MakeFramePayload('K', TaggedFrame(tag).data(), reinterpret_cast<uint8_t*>(payload.data()));
    return payload;
}

class RemoteModuleCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_publisher.Start());
        ASSERT_TRUE(PublishStatus("online"));
    }

    // At QoS 1 on PREFIX/leaf, waiting while the client connects or has too much unsent.
    bool Publish(const std::string& leaf, const std::string& payload, bool retain = false) {
        for (int i = 0; i < 5000; ++i, std::this_thread::sleep_for(1ms)) {
            if (m_publisher.Publish("plant/cam1/" + leaf, payload.data(), payload.size(), 1,
                                    retain)) {
                return true;
            }
        }
        return false;
    }
    bool PublishStatus(const std::string& state) {
        return Publish("status", MakeModuleStatusJson({state, "/dev/ttyUSB0", "TPA"}), true);
    }

    // Runs `thermal COMMAND --port ADDRESS ARGUMENTS` while frames tagged 1, 2, ... are
    // published, each after a record cut short, one of no known mode and one without its frame
    // marker. Once `isGone` says so, the status turns offline and publishing ends.
    ToolResult Run(const std::string& command, const std::string& arguments,
                   const std::function<bool()>& isGone = nullptr) {
        std::string unknownMode = Payload(1), noMarker = Payload(1);
        unknownMode[5] = 'X';
        noMarker[kBinaryRecordHeaderSize + kFrameMarkerOffset] ^= 0xFF;
        const std::string hostile[] = {Payload(1).substr(1), unknownMode, noMarker};
        std::atomic<bool> hasEnded{false};
        ToolResult result;
        std::thread tool([&] {
            result = RunShell("timeout 30 " + kThermalTool.string() + " " + command + " --port " +
                                  Address() + " " + arguments,
                              m_dir);
            hasEnded = true;
        });
        for (uint16_t tag = 1; !hasEnded; ++tag, std::this_thread::sleep_for(10ms)) {
            if (isGone && isGone()) {
                EXPECT_TRUE(PublishStatus("offline"));
                break;
            }
            for (const std::string& payload : hostile) {
                EXPECT_TRUE(Publish("frame", payload));
            }
            EXPECT_TRUE(Publish("frame", Payload(tag)));
        }
        tool.join();
        return result;
    }
    std::string Address() const { return m_broker.Url() + "/plant/cam1"; }

    MosquittoBroker m_broker;
    CMqttClient m_publisher{[this] {
                                MqttClientOptions options;
                                options.broker = {"127.0.0.1", m_broker.Port()};
                                return options;
                            }(),
                            {}};
    const ScratchDirectory m_scratch{"thermal_remote"};
    const fs::path m_dir = m_scratch.path();
};

// The payloads of the frames that follow the first one in `file`, as many as it holds: the
// first frames may have gone out before the command had subscribed.
std::string ConsecutivePayloads(const std::string& file) {
    std::string payloads;
    for (std::size_t at = 0; at + kBinaryRecordSize <= file.size(); at += kBinaryRecordSize) {
        payloads += Payload(static_cast<uint16_t>(
            TagOf(reinterpret_cast<const uint8_t*>(file.data()) + kBinaryRecordHeaderSize) +
            at / kBinaryRecordSize));
    }
    return payloads;
}

}  // namespace

// A recording holds the very payloads of consecutive frames and nothing of the hostile ones,
// which the summary counts, whether it ends at its limit or because the publisher says the
// module is offline (status 1, as a serial module that went away); a stream writes a line per
// frame.
TEST_F(RemoteModuleCommands, TakeEveryWholePayloadAndNothingElse) {
    const fs::path out = m_dir / "out.bds";
    const ToolResult limited = Run("record", out.string() + " --frames 5");
    ASSERT_EQ(limited.status, 0) << limited.errors;
    EXPECT_EQ(fs::file_size(out), 5 * kBinaryRecordSize);
    EXPECT_TRUE(ReadWhole(out) == ConsecutivePayloads(ReadWhole(out)));
    EXPECT_NE(limited.errors.find(" payloads dropped: not whole frame records"), std::string::npos)
        << limited.errors;

    fs::remove(out);
    const ToolResult gone = Run("record", out.string(), [&] {
        return fs::exists(out) && fs::file_size(out) >= 8 * kBinaryRecordSize;
    });
    EXPECT_EQ(gone.status, 1) << gone.errors;
    EXPECT_NE(gone.errors.find(" went away while recording: its publisher says it is offline"),
              std::string::npos)
        << gone.errors;
    EXPECT_GE(fs::file_size(out), 8 * kBinaryRecordSize);
    EXPECT_TRUE(ReadWhole(out) == ConsecutivePayloads(ReadWhole(out)));

    // The broker still keeps the "offline" of the run before; the frames show the module is back.
    const ToolResult stream = Run("stream", "--frames 4");
    ASSERT_EQ(stream.status, 0) << stream.errors;
    EXPECT_EQ(LineCount(stream.out), 4);
    EXPECT_NE(stream.out.find("\n{\"frame\":4,"), std::string::npos) << stream.out;
}

// A module that does not stream fails within the first frame's wait, saying why, leaving no file.
TEST_F(RemoteModuleCommands, NoFramesFailsSoonSayingWhy) {
    ASSERT_TRUE(PublishStatus("offline"));
    const std::string refused =
        "cannot reach the broker 127.0.0.1:" + std::to_string(m_broker.Port()) +
        ": Connection refused";
    for (const std::string& why : {std::string("its publisher says it is offline"), refused}) {
        const auto start = std::chrono::steady_clock::now();
        const ToolResult result =
            RunTool("record --port " + Address() + " " + (m_dir / "a.bds").string(), m_dir);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(
            result.errors.find("the module at " + Address() + " sent no frames within 3 s (" + why),
            std::string::npos)
            << result.errors;
        EXPECT_FALSE(fs::exists(m_dir / "a.bds"));
        m_broker.Stop();
    }
}
