// The texts and bytes that reach a remote module's code from users and from the broker: module
// addresses, frame payloads and the status JSON.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/test_frames.h"
#include "remote/frame_payload.h"
#include "remote/module_status.h"
#include "remote/mqtt_address.h"
#include "remote/run_follower.h"

TEST(MqttAddress, ParsesBrokersAndModulesAndSaysWhatIsWrong) {
    struct Case {
        const char* text;
        const char* broker;  // "host:port", or the failure's words
        const char* module;  // "host:port/prefix", or the failure's words
    };
    const Case cases[] = {
        {"mqtt://broker", "broker:1883", "no topic prefix"},
        {"mqtt://broker:1884/", "broker:1884", "no topic prefix"},
        {"mqtt://10.0.0.5:1883/plant/line1", "has no topic", "10.0.0.5:1883/plant/line1"},
        {"mqtt://[::1]:8883/a", "has no topic", "::1:8883/a"},
        {"mqtt://h/a/b/", "has no topic", "h:1883/a/b"},
        {"mqtt://h:0/a", "has no topic", "from 1 to 65535"},
        {"mqtt://h:65536", "from 1 to 65535", "no topic prefix"},
        {"mqtt://h:99999999999999/a", "has no topic", "from 1 to 65535"},
        {"mqtt://h:/a", "has no topic", "no port after ':'"},
        {"mqtt:///a", "has no topic", "no host"},
        {"tcp://h/a", "does not start with mqtt://", "does not start with mqtt://"},
        {"mqtt://user:secret@h/a", "has no topic", "a user name does not belong"},
        {"mqtt://u:se/cret@h/a", "has no topic", "from 1 to 65535"},
        {"mqtt://u:se#cret@h", "a user name does not belong", "no topic prefix"},
        {"MQTT://Broker:1884/", "Broker:1884", "no topic prefix"},
        {"mqtts://h", "h:8883 TLS", "no topic prefix"},
        {"MqTtS://h:1883/a/b", "has no topic", "h:1883 TLS/a/b"},
        {"mqtts:/h/a", "does not start with", "does not start with"},
        {"mqtt://ho st/a", "has no topic", "host name has a character"},
        {"mqtt://[::1/a", "has no topic", "closing ']'"},
        {"mqtt://h/a/+/b", "has no topic", "wildcards"},
        {"mqtt://h/a#", "has no topic", "wildcards"},
        {"mqtt://h/a//b", "has no topic", "empty level"},
        {"mqtt://h/$SYS/x", "has no topic", "start with '$'"},
        {"mqtt://h/a\nb", "has no topic", "control character"},
        {"mqtt://h/a\xff", "has no topic", "not valid UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IsMqttAddress(c.text), std::strstr(c.broker, "does not start") == nullptr);
        const auto name = [](const MqttBroker& b) {
            return b.host + ":" + std::to_string(b.port) + (b.isTls ? " TLS" : "");
        };
        const Result<MqttBroker> broker = ParseMqttBroker(c.text);
        if (broker) {
            EXPECT_EQ(name(*broker), c.broker);
        } else {
            EXPECT_NE(broker.Message().find(c.broker), std::string::npos) << broker.Message();
            EXPECT_EQ(broker.Message().find('\n'), std::string::npos);
            EXPECT_EQ(broker.Message().find("cret"), std::string::npos) << "a password shown";
        }
        const Result<MqttModuleAddress> module = ParseMqttModuleAddress(c.text);
        if (module) {
            const MqttModuleAddress& a = *module;
            EXPECT_EQ(name(a.broker) + "/" + a.prefix, c.module);
            EXPECT_EQ(a.Topic("frame"), a.prefix + "/frame");
        } else {
            EXPECT_NE(module.Message().find(c.module), std::string::npos) << module.Message();
            EXPECT_EQ(module.Message().find("cret"), std::string::npos) << "a password shown";
        }
    }
}

TEST(FramePayload, TakesOnlyWholeRecordsOfAKnownModeWithTheMarker) {
    const std::vector<uint8_t> block = TaggedFrame(0x1234);
    // A record as a .bds file holds it, written out by hand.
    std::vector<uint8_t> record(16, 0);
    std::memcpy(record.data(), "Mode=T", 6);
    record.insert(record.end(), block.begin(), block.end());

    uint8_t made[kBinaryRecordSize];
    MakeFramePayload('K', block.data(), made);
    ASSERT_EQ(std::vector<uint8_t>(made, made + kBinaryRecordSize), record);

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        PayloadFault fault;
        char letter;
    };
    std::vector<Case> cases = {{"temperature", record, PayloadFault::kNone, 'K'}};
    cases.push_back({"voltage", record, PayloadFault::kNone, 't'});
    cases.back().bytes[5] = 'V';
    cases.push_back({"empty", {}, PayloadFault::kWrongSize, 0});
    cases.push_back({"truncated", record, PayloadFault::kWrongSize, 0});
    cases.back().bytes.pop_back();
    cases.push_back({"two records", record, PayloadFault::kWrongSize, 0});
    cases.back().bytes.insert(cases.back().bytes.end(), record.begin(), record.end());
    cases.push_back({"mode X", record, PayloadFault::kUnknownMode, 0});
    cases.back().bytes[5] = 'X';
    cases.push_back({"lower case header", record, PayloadFault::kUnknownMode, 0});
    cases.back().bytes[0] = 'm';
    cases.push_back({"marker damaged", record, PayloadFault::kNoMarker, 0});
    cases.back().bytes[16 + kFrameMarkerOffset + 3] ^= 1;

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FramePayload frame;
        EXPECT_EQ(DecodeFramePayload(c.bytes.data(), c.bytes.size(), frame), c.fault);
        if (c.fault == PayloadFault::kNone) {
            EXPECT_EQ(frame.modeLetter, c.letter);
            EXPECT_EQ(frame.block, c.bytes.data() + 16);
        } else {
            EXPECT_EQ(frame.block, nullptr);
        }
    }
}

TEST(ModuleStatus, ReadsTheStateFieldsOfOneObjectAndNothingElse) {
    struct Case {
        std::string json;
        const char* line;  // null: not read
    };
    const Case cases[] = {
        {R"({"state":"online","port":"/dev/ttyUSB0","module":"TPA32x31 V2.1\r\n"})",
         "the module is online on /dev/ttyUSB0 (TPA32x31 V2.1)"},
        {R"( { "module" : "x", "n": [1, {"a": null}, -2.5e3, true], "state" : "offline" } )",
         "the module is offline"},
        {R"({"state":"on\u006cine","port":"p\"q\\\ud83d\ude00"})",
         "the module is online on p\"q\\\xF0\x9F\x98\x80"},
        {R"({"state":"online","port":"a\nb\u001b[2J"})", "the module is online on a\\nb\\x1B[2J"},
        {R"({"state":"rebooting"})", "the module's state is 'rebooting'"},
        {R"({"state":"offline","reason":"connection-lost"})",
         "the module is offline: the broker lost its publisher, which may come back"},
        {R"({"state":"offline","reason":"ended"})", "the module is offline: its publisher ended"},
        {R"({"state":"offline","reason":"module-lost"})",
         "the module is offline: its publisher lost it"},
        {R"({"state":"online","port":"p","module_state":"stopped"})",
         "the module is online on p, stopped: no frames until it is started again"},
        {"", nullptr},
        {"{", nullptr},
        {R"({"state":1})", nullptr},
        {R"({"port":"x"})", nullptr},
        {R"(["state","online"])", nullptr},
        {R"({"state":"online"} x)", nullptr},
        {R"({"state":"on)", nullptr},
        {"{\"state\":\"on\x01line\"}", nullptr},
        {R"({"state":"online","x":01a})", nullptr},
        {std::string(100, '[') + std::string(100, ']'), nullptr},
        {"{\"state\":\"online\",\"a\":" + std::string(5000, '[') + std::string(5000, ']') + "}",
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json.substr(0, 80));
        const std::optional<ModuleStatus> status = ParseModuleStatus(c.json);
        ASSERT_EQ(status.has_value(), c.line != nullptr);
        if (status) {
            EXPECT_EQ(ModuleStatusLine(*status), c.line);
        }
    }
    // What a publisher writes reads back, every member, however its texts are made.
    const ModuleStatus written{"online", "/dev/tty\"USB\\0", "M\r\n\x01 reply", "r1",
                               "ended",  "stopped"};
    const std::optional<ModuleStatus> read = ParseModuleStatus(MakeModuleStatusJson(written));
    ASSERT_TRUE(read);
    EXPECT_EQ(MakeModuleStatusJson(*read), MakeModuleStatusJson(written));
    EXPECT_EQ(read->port, written.port);
    EXPECT_EQ(read->moduleState, written.moduleState);
    EXPECT_EQ(MakeModuleStatusJson({"offline", "", ""}), R"({"state":"offline"})");
}

// Frames of one run are taken once each and every number skipped is counted; another run's frames
// are set aside until its status makes it the run followed, whose numbers then start afresh.
TEST(RunFollower, TakesOneRunOnceEachAndCountsTheNumbersSkipped) {
    constexpr auto kTake = FrameVerdict::kTake;
    constexpr auto kAgain = FrameVerdict::kDuplicate;
    constexpr auto kOther = FrameVerdict::kOtherRun;
    const struct {
        const char* online;  // a status saying this run is online, before the frame
        const char* run;
        const char* sequence;  // as the property holds it; null: none
        FrameVerdict verdict;
        uint64_t missing, gaps;
    } steps[] = {
        {nullptr, "a", "5", kTake, 0, 0},  // joined in the middle of the run
        {nullptr, "a", "6", kTake, 0, 0},  {nullptr, "a", "6", kAgain, 0, 0},
        {nullptr, "b", "7", kOther, 0, 0}, {nullptr, "a", "10", kTake, 3, 1},
        {nullptr, "a", "9", kAgain, 3, 1}, {"a", "a", "11", kTake, 3, 1},
        {"b", "b", "40", kTake, 3, 1},     {nullptr, "a", "12", kOther, 3, 1},
        {nullptr, "b", "42", kTake, 4, 2}, {nullptr, "b", nullptr, kTake, 4, 2},
        {nullptr, "b", "4x", kTake, 4, 2}, {nullptr, "b", "43", kTake, 4, 2},
    };
    CRunFollower follower;
    std::string followed;
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.run) + " " + (step.sequence ? step.sequence : "-"));
        if (step.online != nullptr) {
            EXPECT_EQ(follower.Follow(step.online), followed != step.online);
            followed = step.online;
        }
        const std::string sequence = step.sequence ? step.sequence : "";
        EXPECT_EQ(follower.Take(step.run, ParseSequenceNumber(step.sequence ? &sequence : nullptr)),
                  step.verdict);
        EXPECT_EQ(follower.Missing(), step.missing);
        EXPECT_EQ(follower.Gaps(), step.gaps);
        followed = follower.Run();
    }
    EXPECT_EQ(MissingFramesText(4, 2), "4 frames missing in 2 gaps");
    EXPECT_EQ(MissingFramesText(1, 1), "1 frame missing in 1 gap");
}
