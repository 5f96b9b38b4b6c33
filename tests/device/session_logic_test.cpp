// The pieces of the live session that need no window: reply list, command list, MCLK readout,
// handshake states, batch splitting and the frame-rate meter.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "device/command_list.h"
#include "device/fps_meter.h"
#include "device/handshake.h"
#include "device/line_rate_guard.h"
#include "device/mclk.h"
#include "device/receive_batch.h"
#include "device/reply_list.h"
#include "support/scratch_directory.h"
#include "test_frames.h"

namespace {

void FeedText(CReplyList& list, const std::string& text) {
    list.Feed(static_cast<int>(text.size()), reinterpret_cast<const uint8_t*>(text.data()));
}

TEST(ReplyList, BytesBelongToTheNewestCommand) {
    ReplyRecorder recorder;
    CReplyList list(&recorder);
    list.SetCallback(ReplyRecorder::Callback);
    FeedText(list, "pause\r\n");  // no command yet: dropped
    list.AddCommand("x", 'x');
    FeedText(list, "pause\r\n");
    list.AddCommand("M", 'M');
    FeedText(list, "MCLK: 8000 kHz\r\nFirmware VDM1.3\r\n");
    EXPECT_EQ(recorder.commands, (std::vector<std::string>{"x", "M"}));
    EXPECT_EQ(list.LastCommandText(), "M");
}

TEST(ReplyList, EleventhCommandDropsTheFirstCollector) {
    CReplyList list(nullptr);
    EXPECT_EQ(list.LastCommandText(), "x");
    for (int i = 0; i < 11; ++i) {
        list.AddCommand(std::string(1, static_cast<char>('a' + i)), static_cast<uint8_t>('a' + i));
        EXPECT_EQ(list.ReplyCount(), std::min(i + 1, 10));
    }
    EXPECT_EQ(list.LastCommandText(), "k");
}

TEST(ReplyList, StopEndsAllFeeding) {
    ReplyRecorder recorder;
    CReplyList list(&recorder);
    list.SetCallback(ReplyRecorder::Callback);
    list.AddCommand("x", 'x');
    list.Stop();
    FeedText(list, "pause\r\n");
    list.AddCommand("x", 'x');
    FeedText(list, "pause\r\n");
    EXPECT_TRUE(recorder.texts.empty());
}

// Commands registered on one thread while another feeds frames: no crash, no torn frame (run
// under the thread sanitizer build to check the locking).
TEST(ReplyList, AddCommandIsSafeAgainstAConcurrentFeed) {
    struct Counter {
        std::atomic<int> frames{0};
        static void Callback(void* context, CCommandReply*, const std::string&, const uint8_t* data,
                             int count) {
            if (count == kFrameBlockSize && IsFrameMarkerAt(data + kFrameMarkerOffset)) {
                static_cast<Counter*>(context)->frames++;
            }
        }
    } counter;
    CReplyList list(&counter);
    list.SetCallback(Counter::Callback);
    list.AddCommand("K", 'K');
    std::atomic<bool> isDone{false};
    std::thread feeder([&] {
        const auto frame = TaggedFrame(1);
        while (!isDone) {
            list.Feed(1024, frame.data());
            list.Feed(1024, frame.data() + 1024);
            list.Feed(64, frame.data() + 2048);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        list.AddCommand(i % 2 ? "K" : "x", i % 2 ? 'K' : 'x');
    }
    isDone = true;
    feeder.join();
    EXPECT_LE(list.ReplyCount(), CReplyList::kMaxReplies);
}

TEST(CommandList, ParsesTrimsAndSkipsBlankLines) {
    EXPECT_EQ(ParseCommandList("K (Continuous)\r\n  \r\n\tt\r\nx stop"),
              (std::vector<std::string>{"K (Continuous)", "t", "x stop"}));
    EXPECT_TRUE(ParseCommandList("  \r\n\r\n \t\n").empty());
}

TEST(CommandList, DefaultsOnlyWhenTheFileIsMissing) {
    const ScratchDirectory dir("cmdlist");
    const std::string path = (dir / "CmdList.TXT").string();
    EXPECT_EQ(LoadCommandListFile(path), DefaultCommandList());
    EXPECT_EQ(DefaultCommandList().front(), "K (Continuous Temperature data)");
    std::ofstream(path) << "\r\n   \r\n";
    EXPECT_TRUE(LoadCommandListFile(path).empty());
    std::ofstream(path) << "M info\r\nw table\r\n";
    EXPECT_EQ(LoadCommandListFile(path), (std::vector<std::string>{"M info", "w table"}));
    // A FIFO or a directory under the name: no entries, at once (a FIFO is never waited on).
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_TRUE(LoadCommandListFile(path).empty());
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_TRUE(LoadCommandListFile(path).empty());
}

TEST(CommandList, FirstCharacterOfTheTrimmedTextIsTheByte) {
    EXPECT_EQ(CommandByteFromText("  k (Single Temperature data)"), uint8_t{0x6B});
    EXPECT_EQ(CommandByteFromText("t"), CommandByteFromText("t (Continuous Voltage data)"));
    EXPECT_EQ(CommandByteFromText(" \t "), std::nullopt);
    EXPECT_EQ(CommandByteFromText("\xC3\xA4x"), uint8_t{0xE4});    // a Latin-1 letter
    EXPECT_EQ(CommandByteFromText("\xE2\x82\xAC"), uint8_t{'?'});  // outside Latin-1
}

TEST(Mclk, InformationReplyGivesTheWordBeforeKilohertz) {
    EXPECT_EQ(FindMclk("Thermopile array\r\nMCLK: 8000 kHz\r\nFirmware VDM1.3\r\n",
                       MclkMarker::Kilohertz),
              "8000");
    EXPECT_EQ(
        FindMclk("Thermopile array\r\nMCLK: 8000\r\nFirmware VDM1.3\r\n", MclkMarker::Kilohertz),
        std::nullopt);
    EXPECT_EQ(FindMclk("8000 kHz\r\n", MclkMarker::Kilohertz), std::nullopt);  // no space before
    EXPECT_EQ(FindMclk("at 8000 kHz", MclkMarker::Kilohertz), std::nullopt);   // marker at the end
}

TEST(Mclk, StepReplyGivesTheEndOfItsFirstLine) {
    EXPECT_EQ(FindMclk("MCLK step 5\r\nClock divider set to 1\r\n", MclkMarker::LineEnd), "5");
    EXPECT_EQ(FindMclk("MCLK step 5\r\n", MclkMarker::LineEnd), std::nullopt);  // one line
}

struct HandshakeHarness {
    std::vector<std::string> events;
    std::function<void()> duringSend;  // runs inside a send, as a pumped event would
    CHandshake handshake{{
        [this](const std::string& text) {
            events.push_back("send " + text);
            if (duringSend) {
                auto f = std::move(duringSend);
                duringSend = nullptr;
                f();
            }
        },
        [this] { events.push_back("start timer"); },
        [this] { events.push_back("kill timer"); },
        [this] { events.push_back("timeout"); },
    }};
};

TEST(Handshake, OpeningSendsStopAndInfoThenWaits) {
    HandshakeHarness h;
    h.handshake.SetState(HandshakeState::Stopping);
    EXPECT_EQ(h.events, (std::vector<std::string>{"send x", "send M", "start timer"}));
    EXPECT_EQ(h.handshake.State(), HandshakeState::Waiting);
    h.handshake.OnInfoReply();
    EXPECT_EQ(h.handshake.State(), HandshakeState::Done);
    EXPECT_EQ(h.events.back(), "kill timer");
    h.handshake.OnInfoReply();  // a second reply once done changes nothing
    EXPECT_EQ(h.events.size(), 4u);
}

TEST(Handshake, TimeOutIsLoggedOnlyWhileWaiting) {
    HandshakeHarness h;
    h.handshake.SetState(HandshakeState::TimedOut);
    EXPECT_TRUE(h.events.empty());
    h.handshake.SetState(HandshakeState::Stopping);
    h.handshake.SetState(HandshakeState::TimedOut);
    EXPECT_EQ(h.handshake.State(), HandshakeState::TimedOut);
    EXPECT_EQ(h.events.back(), "timeout");
    h.handshake.SetState(HandshakeState::TimedOut);
    EXPECT_EQ(std::count(h.events.begin(), h.events.end(), "timeout"), 1);
}

TEST(Handshake, LateInfoReplyAfterTimeOutStillEndsTheHandshake) {
    HandshakeHarness h;
    h.handshake.SetState(HandshakeState::Stopping);
    h.handshake.SetState(HandshakeState::TimedOut);
    h.handshake.OnInfoReply();
    EXPECT_EQ(h.handshake.State(), HandshakeState::Done);
    EXPECT_EQ(h.events.back(), "kill timer");
}

TEST(Handshake, ReplyArrivingDuringTheSendsWaitsUntilTheTimerRuns) {
    HandshakeHarness h;
    h.duringSend = [&h] { h.handshake.OnInfoReply(); };
    h.handshake.SetState(HandshakeState::Stopping);
    EXPECT_EQ(h.events,
              (std::vector<std::string>{"send x", "send M", "start timer", "kill timer"}));
    EXPECT_EQ(h.handshake.State(), HandshakeState::Done);
}

TEST(ReceiveBatch, SplitsIntoKilobyteChunks) {
    std::vector<uint8_t> batch(2500);
    for (size_t i = 0; i < batch.size(); ++i) {
        batch[i] = static_cast<uint8_t>(i);
    }
    std::vector<int> sizes;
    std::vector<uint8_t> fed;
    EXPECT_TRUE(FeedReceivedBatch(2500, 0, batch.data(), [&](int n, const uint8_t* p) {
        sizes.push_back(n);
        fed.insert(fed.end(), p, p + n);
    }));
    EXPECT_EQ(sizes, (std::vector<int>{1024, 1024, 452}));
    EXPECT_EQ(fed, batch);
}

TEST(ReceiveBatch, BatchWithLineErrorsIsNotParsed) {
    std::vector<uint8_t> batch(100, 1);
    bool isFed = false;
    EXPECT_FALSE(FeedReceivedBatch(100, 0x0008 /* framing */, batch.data(),
                                   [&](int, const uint8_t*) { isFed = true; }));
    EXPECT_FALSE(isFed);
}

TEST(FpsMeter, AverageRateOverTheStream) {
    const auto start = CFpsMeter::Clock::time_point{} + std::chrono::seconds(100);
    CFpsMeter meter(start);
    std::string text;
    for (int i = 1; i <= 10; ++i) {
        text = meter.Tick(start + std::chrono::milliseconds(200 * i));
    }
    EXPECT_EQ(text, "5.0");
    EXPECT_EQ(CFpsMeter(start).Tick(start), "0.0");  // no time has passed yet
}

// Frames faster than 115200 baud can carry (5.45 a second) by more than twice are reported once,
// after a second of them; the module's own rate never is.
TEST(LineRateGuard, WarnsOnceOfFramesFasterThanTheLineCarries) {
    using namespace std::chrono_literals;
    const struct {
        double framesPerSecond;
        int warningAtFrame;  // 0: never within 5 s
    } cases[] = {{5.4, 0}, {10.8, 0}, {11.5, 12}, {100, 100}, {18000, 18000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.framesPerSecond);
        const auto start = CLineRateGuard::Clock::time_point{};
        CLineRateGuard guard(115200, start);
        int warnedAt = 0;
        int warnings = 0;
        for (int frame = 1; frame <= c.framesPerSecond * 5; ++frame) {
            const auto at = start + std::chrono::duration_cast<CLineRateGuard::Clock::duration>(
                                        std::chrono::duration<double>(frame / c.framesPerSecond));
            if (const auto warning = guard.OnFrame(at)) {
                warnedAt = warnedAt == 0 ? frame : warnedAt;
                ++warnings;
                EXPECT_NE(warning->find("more than 115200 baud can carry (5.5)"), std::string::npos)
                    << *warning;
            }
        }
        EXPECT_EQ(warnedAt, c.warningAtFrame);
        EXPECT_LE(warnings, 1);
    }
}

}  // namespace
