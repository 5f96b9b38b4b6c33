// CModuleSession without any window, against the simulated module on a real pseudo-terminal. The
// test's own thread is the session's owner: it drives the handshake's time-out and the hand-over
// of the module's answer through Tick, as a headless recorder does.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "device/module_session.h"
#include "device/module_simulator.h"
#include "device/simulated_replies.h"
#include "device/text_reply_mailbox.h"
#include "raw_pty_line.h"
#include "sanitizer_build.h"
#include "support/faulty_module.h"
#include "support/scratch_directory.h"
#include "test_frames.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A session whose reports are recorded, owned by the calling thread.
class SessionHarness {
  public:
    SessionHarness() {
        CModuleSession::Callbacks callbacks;
        callbacks.frame = [this](char letter, const uint8_t*, int count) {
            Record([&] { m_frames.push_back({letter, count}); });
        };
        callbacks.textReply = [this](const std::string& command, const std::string& text,
                                     uint64_t) {
            Record([&] { m_texts.push_back({command, text}); });
        };
        callbacks.mclk = [this](const std::string& value) { Record([&] { m_mclk = value; }); };
        callbacks.rate = [this](const std::string& rate) { Record([&] { m_rate = rate; }); };
        callbacks.deviceLost = [this] { Record([&] { ++m_losses; }); };
        callbacks.recoveryCommand = [this](uint8_t letter) {
            Record([&] { m_recovery += static_cast<char>(letter); });
        };
        callbacks.log = [this](const std::string& line) { Record([&] { m_log.push_back(line); }); };
        m_session.SetCallbacks(std::move(callbacks));
    }

    CModuleSession& Session() { return m_session; }

    // Drives the session as its owner until `predicate` holds or `limit` has passed.
    template <typename Predicate>
    bool RunUntil(Predicate predicate, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (!predicate()) {
            if (Clock::now() >= end) {
                return false;
            }
            m_session.Tick(5ms);
        }
        return true;
    }
    void RunFor(std::chrono::milliseconds span) {
        RunUntil([] { return false; }, span);
    }

    size_t FrameCount() {
        return Read([&] { return m_frames.size(); });
    }
    bool AllFramesAreWhole(char letter) {
        return Read([&] {
            return std::all_of(m_frames.begin(), m_frames.end(), [letter](const auto& frame) {
                return frame.first == letter && frame.second == kFrameBlockSize;
            });
        });
    }
    // Text replies to `command` that contain `part`.
    int TextCount(const std::string& command, const std::string& part = "") {
        return Read([&] {
            return static_cast<int>(
                std::count_if(m_texts.begin(), m_texts.end(), [&](const auto& reply) {
                    return reply.first == command && reply.second.find(part) != std::string::npos;
                }));
        });
    }
    std::string Mclk() {
        return Read([&] { return m_mclk; });
    }
    std::string Rate() {
        return Read([&] { return m_rate; });
    }
    int Losses() {
        return Read([&] { return m_losses; });
    }
    std::string Recovery() {
        return Read([&] { return m_recovery; });
    }
    int LogCount(const std::string& line) {
        return Read([&] { return static_cast<int>(std::count(m_log.begin(), m_log.end(), line)); });
    }
    std::vector<std::string> Log() {
        return Read([&] { return m_log; });
    }

  private:
    template <typename F>
    void Record(F change) {
        std::lock_guard lock(m_lock);
        change();
    }
    template <typename F>
    std::invoke_result_t<F> Read(F read) {
        std::lock_guard lock(m_lock);
        return read();
    }

    std::mutex m_lock;  // guards everything recorded below
    std::vector<std::pair<char, int>> m_frames;
    std::vector<std::pair<std::string, std::string>> m_texts;  // command, text
    std::string m_mclk;
    std::string m_rate;
    int m_losses = 0;
    std::string m_recovery;
    std::vector<std::string> m_log;
    // Declared last: destroyed first, so no callback reaches the records after they are gone.
    CModuleSession m_session;
};

SimulatorOptions Streaming(double fps) {
    SimulatorOptions options;
    options.fps = fps;
    return options;
}

TEST(ModuleSession, StartHandshakesStreamsTurnsOffAndCloses) {
    CModuleSimulator sim(Streaming(50));
    ASSERT_EQ(sim.Start(), "");
    const std::string port = sim.SlavePath();
    SessionHarness h;
    CModuleSession& session = h.Session();

    session.Start("  " + port + "\t");
    EXPECT_EQ(h.LogCount("[" + port + "] Open OK!\r\n"), 1);
    EXPECT_EQ(session.PortName(), port);
    ASSERT_TRUE(
        h.RunUntil([&] { return session.GetHandshakeState() == HandshakeState::Done; }, 3s));
    EXPECT_EQ(h.TextCount("M", "Firmware VDM1.3"), 1);
    EXPECT_EQ(h.Mclk(), "8000");
    EXPECT_EQ(sim.ReceivedBytes(), "xMK");

    ASSERT_TRUE(h.RunUntil([&] { return h.FrameCount() >= 20; }, 5s)) << h.FrameCount();
    EXPECT_TRUE(h.AllFramesAreWhole('K'));
    EXPECT_GT(std::stod(h.Rate()), 10.0);

    session.TurnOff();
    EXPECT_EQ(sim.ReceivedBytes(), "xMKTx");
    EXPECT_EQ(session.GetHandshakeState(), HandshakeState::Idle);
    EXPECT_TRUE(session.IsOpen());
    const uint64_t sent = sim.FramesSent();
    h.RunFor(300ms);
    EXPECT_EQ(sim.FramesSent(), sent);

    // START again on the open port closes and reopens it and streams once more.
    session.Start(port);
    EXPECT_EQ(h.LogCount("[" + port + "] Open OK!\r\n"), 2);
    ASSERT_TRUE(h.RunUntil([&] { return sim.FramesSent() > sent + 5; }, 3s));

    const size_t framesBeforeClose = h.FrameCount();
    session.Close();
    EXPECT_FALSE(session.IsOpen());
    EXPECT_TRUE(h.RunUntil([&] { return sim.ReceivedBytes() == "xMKTxxMKx"; }, 1s))
        << sim.ReceivedBytes();
    h.RunFor(100ms);
    EXPECT_LE(h.FrameCount(), framesBeforeClose + 1);  // at most the one being handled
    EXPECT_EQ(h.LogCount("[" + port + "]Timeout to Receive M Message.\r\n"), 0);
}

TEST(ModuleSession, SilentModuleTimesOutAndALateAnswerStillEndsTheHandshake) {
    SimulatorOptions options = Streaming(20);
    options.silentOn = "M";
    CModuleSimulator sim(options);
    ASSERT_EQ(sim.Start(), "");
    const std::string port = sim.SlavePath();
    SessionHarness h;
    CModuleSession& session = h.Session();

    const auto start = Clock::now();
    session.Start(port);
    ASSERT_TRUE(
        h.RunUntil([&] { return session.GetHandshakeState() == HandshakeState::TimedOut; }, 3s));
    EXPECT_GE(Clock::now() - start, 950ms);
    EXPECT_EQ(h.LogCount("[" + port + "]Timeout to Receive M Message.\r\n"), 1);
    EXPECT_EQ(h.Mclk(), "");
    // The time-out is only reported: the stream goes on.
    ASSERT_TRUE(h.RunUntil([&] { return h.FrameCount() >= 3; }, 3s));

    // The module stops and is asked again; its answer arrives long after the time-out.
    session.SendCommandText("x");
    h.RunFor(200ms);
    session.SendCommandText("M");
    SimulatedModuleState module;
    const std::string answer = SimulatedInfoReply(module);
    CModuleSession::OnReceive(&session, static_cast<uint32_t>(answer.size()), 0,
                              reinterpret_cast<const uint8_t*>(answer.data()));
    ASSERT_TRUE(
        h.RunUntil([&] { return session.GetHandshakeState() == HandshakeState::Done; }, 1s));
    EXPECT_EQ(h.TextCount("M", "Firmware VDM1.3"), 1);
    EXPECT_EQ(h.Mclk(), "8000");
    EXPECT_EQ(h.LogCount("[" + port + "]Timeout to Receive M Message.\r\n"), 1);
}

TEST(ModuleSession, LineErrorDropsTheBatchStopsTheModuleAndAsksAgain) {
    SimulatorOptions options;
    options.silentOn = "K";  // no stream of its own: every frame below is one the test feeds
    CModuleSimulator sim(options);
    ASSERT_EQ(sim.Start(), "");
    SessionHarness h;
    CModuleSession& session = h.Session();
    session.Start(sim.SlavePath());
    ASSERT_TRUE(
        h.RunUntil([&] { return session.GetHandshakeState() == HandshakeState::Done; }, 3s));
    ASSERT_EQ(sim.ReceivedBytes(), "xMK");

    const std::vector<uint8_t> frame = TaggedFrame(7);
    CModuleSession::OnReceive(&session, kFrameBlockSize, CE_FRAME, frame.data());
    EXPECT_EQ(h.FrameCount(), 0u);  // the damaged batch never reached the collector
    EXPECT_EQ(h.Recovery(), "xK");
    ASSERT_TRUE(h.RunUntil([&] { return sim.ReceivedBytes() == "xMKxK"; }, 1s))
        << sim.ReceivedBytes();
    // The module's answer to the stop is read as a reply to `x` when the monitor thread reads it
    // before the purge, and dropped by the purge when the thread is late (a loaded machine);
    // either way it never becomes a frame. The handshake's was the first reply to `x`.
    h.RunFor(200ms);
    EXPECT_GE(h.TextCount("x"), 1);
    EXPECT_LE(h.TextCount("x"), 2);
    EXPECT_EQ(h.FrameCount(), 0u);
    EXPECT_EQ(sim.ReceivedBytes(), "xMKxK");  // one stop, one request, nothing more

    // The stream was asked for again: a clean frame now goes through as a `K` frame.
    CModuleSession::OnReceive(&session, kFrameBlockSize, 0, frame.data());
    EXPECT_EQ(h.FrameCount(), 1u);
    EXPECT_TRUE(h.AllFramesAreWhole('K'));
    EXPECT_FALSE(h.Rate().empty());  // a new rate meter runs for the new stream
    session.Close();
}

// The recovery writes and purges from the monitor thread while the owner sends: every byte of
// both goes out whole (and, under the thread sanitizer, without a data race on the port).
TEST(ModuleSession, RecoveryOnTheMonitorThreadAndOwnerCommandsShareThePort) {
    SimulatorOptions options;
    options.silentOn = "K";
    CModuleSimulator sim(options);
    ASSERT_EQ(sim.Start(), "");
    SessionHarness h;
    CModuleSession& session = h.Session();
    session.Start(sim.SlavePath());
    ASSERT_EQ(sim.ReceivedBytes(), "xMK");

    constexpr int kRecoveries = 3;
    constexpr int kCommands = 20;
    std::thread monitor([&] {
        const uint8_t damaged[16] = {};
        for (int i = 0; i < kRecoveries; ++i) {
            CModuleSession::OnReceive(&session, sizeof damaged, CE_OVERRUN, damaged);
        }
    });
    for (int i = 0; i < kCommands; ++i) {
        session.SendCommand("b");
        std::this_thread::sleep_for(5ms);
    }
    monitor.join();
    const size_t expected = 3 + kCommands + 2 * kRecoveries;
    ASSERT_TRUE(h.RunUntil([&] { return sim.ReceivedBytes().size() >= expected; }, 2s));
    h.RunFor(100ms);
    const std::string sent = sim.ReceivedBytes().substr(3);
    EXPECT_EQ(sent.size(), expected - 3) << sent;
    EXPECT_EQ(sent.find_first_not_of("bxK"), std::string::npos) << sent;
    EXPECT_GE(std::count(sent.begin(), sent.end(), 'b'), kCommands) << sent;
    EXPECT_GE(std::count(sent.begin(), sent.end(), 'x'), kRecoveries) << sent;
    EXPECT_EQ(h.Recovery().size(), 2u * kRecoveries);
    session.Close();
}

TEST(ModuleSession, DeviceLossIsReportedOnceAndStartReopens) {
    const ScratchDirectory dir("module-session");
    const auto link = dir / "ttyTHERMAL_session";
    SimulatorOptions options = Streaming(50);
    options.disconnectAfter = 10;
    options.linkPath = link.string();
    CModuleSimulator sim(options);
    ASSERT_EQ(sim.Start(), "");
    const std::string firstTerminal = sim.SlavePath();
    SessionHarness h;
    CModuleSession& session = h.Session();
    session.Start(link.string());
    ASSERT_TRUE(h.RunUntil([&] { return h.Losses() > 0; }, 5s));
    h.RunFor(300ms);
    EXPECT_EQ(h.Losses(), 1);
    EXPECT_EQ(h.LogCount("[" + link.string() + "] Device disconnected.\r\n"), 1);
    EXPECT_TRUE(session.IsOpen());  // until the next START or Close

    ASSERT_TRUE(h.RunUntil([&] { return sim.SlavePath() != firstTerminal; }, 2s));
    const size_t frames = h.FrameCount();
    session.Start(link.string());
    EXPECT_EQ(h.LogCount("[" + link.string() + "] Open OK!\r\n"), 2);
    EXPECT_TRUE(h.RunUntil([&] { return h.FrameCount() > frames + 3; }, 3s));
    session.Close();
}

TEST(ModuleSession, WithoutAnOpenPortNothingIsSent) {
    const std::string selectInterface = "[COM?] Select a Interface.\r\n";
    const struct {
        std::string portText;
        std::string line;
    } cases[] = {
        {" \t ", selectInterface},
        {"/dev/no-such-port",
         "[/dev/no-such-port] Unable to open! open() failed: No such file or directory\r\n"},
    };
    for (const auto& c : cases) {
        SessionHarness h;
        h.Session().Start(c.portText);
        EXPECT_EQ(h.Log(), std::vector<std::string>{c.line}) << c.portText;
        EXPECT_FALSE(h.Session().IsOpen());
        EXPECT_EQ(h.Session().GetHandshakeState(), HandshakeState::Idle);
        // A command typed now only says that no port is open.
        EXPECT_EQ(h.Session().SendCommand("K"), std::nullopt);
        EXPECT_EQ(h.Log().back(), selectInterface);
        h.Session().TurnOff();  // nothing to stop
        h.Session().Close();
    }
}

// Bytes the program holds on the heap, in KiB: what a flood leaves in memory. The resident
// size would also count freed memory the allocator keeps for reuse, which grows with how the
// threads happened to interleave on a loaded machine.
long HeapInUseKiB() {
    const struct mallinfo2 heap = ::mallinfo2();
    return static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
}

// The module fails at each stage of a session. Whatever it does, START, TURN OFF and Close
// return in bounded time, the loss of the device is reported once, a silent or babbling module
// ends in the handshake's time-out, text that never ends a reply does not pile up in memory, and
// nothing of it is taken for a frame.
TEST(ModuleSession, FaultyModuleNeverHangsOrCrashesTheSession) {
    using Fault = FaultyModule::Fault;
    const struct {
        const char* name;
        Fault fault;
        bool lost;
        int frames;
    } cases[] = {
        {"unplugged during START", Fault::kUnplugOnStop, true, 0},
        {"unplugged during the handshake", Fault::kUnplugOnInfo, true, 0},
        {"unplugged during a stream", Fault::kUnplugInStream, true, 5},
        {"never answers", Fault::kSilent, false, 0},
        {"floods text", Fault::kFloodText, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FaultyModule module(c.fault);
        ASSERT_FALSE(module.Path().empty());
        const std::string& port = module.Path();
        [[maybe_unused]] const long heapBefore = HeapInUseKiB();
        auto h = std::make_unique<SessionHarness>();
        CModuleSession& session = h->Session();
        auto start = Clock::now();
        session.Start(port);
        EXPECT_LT(Clock::now() - start, 2s);
        EXPECT_EQ(h->LogCount("[" + port + "] Open OK!\r\n"), 1);
        if (c.lost) {
            EXPECT_TRUE(h->RunUntil([&] { return h->Losses() > 0; }, 3s));
            EXPECT_TRUE(h->RunUntil([&] { return h->FrameCount() >= size_t(c.frames); }, 3s));
        } else {
            EXPECT_TRUE(h->RunUntil(
                [&] { return session.GetHandshakeState() == HandshakeState::TimedOut; }, 3s));
            EXPECT_EQ(h->LogCount("[" + port + "]Timeout to Receive M Message.\r\n"), 1);
        }
        if (c.fault == Fault::kFloodText) {
            EXPECT_TRUE(h->RunUntil(
                [&] { return module.TextBytesSent() >= FaultyModule::kFloodBytes; }, 30s));
            // A text reply keeps its newest 4 MiB and the frame collector three blocks, so the
            // flood, four times that, must not stay in memory.
            if (!kSanitizerBuild) {
                EXPECT_LT(HeapInUseKiB() - heapBefore, 12 * 1024);  // 4 to 8.3 MiB measured
            }
        }
        h->RunFor(300ms);
        EXPECT_EQ(h->Losses(), c.lost ? 1 : 0);
        EXPECT_EQ(h->LogCount("[" + port + "] Device disconnected.\r\n"), c.lost ? 1 : 0);
        EXPECT_EQ(h->FrameCount(), size_t(c.frames));
        EXPECT_TRUE(h->AllFramesAreWhole('K'));

        start = Clock::now();
        session.TurnOff();
        session.Close();
        h.reset();
        EXPECT_LT(Clock::now() - start, 5s);
    }
}

// A module that answers one command with megabytes of lines that each end its reply: every
// completion reports all the collector keeps, up to 4 MiB. A consumer as slow as a window that
// lays out megabytes of text gets the replies through a CTextReplyMailbox, as the viewer's log
// does: at most one text waits, however many completions there were, memory stays bounded, and
// the last text shown is the newest, with the module's last line at its end.
TEST(ModuleSession, FloodOfCompletedRepliesKeepsOneTextWaiting) {
    FaultyModule module(FaultyModule::Fault::kFloodReplies);
    ASSERT_FALSE(module.Path().empty());
    const long heapBefore = HeapInUseKiB();
    CTextReplyMailbox mailbox;
    std::atomic<int> completions{0};
    std::atomic<int> postsWaiting{0};  // the consumer's share: one Take per post
    std::atomic<size_t> mostWaiting{0};
    CModuleSession session;
    CModuleSession::Callbacks callbacks;
    callbacks.textReply = [&](const std::string& command, const std::string& text,
                              uint64_t replySerial) {
        if (command != "q") {
            return;
        }
        ++completions;
        if (mailbox.Put(replySerial, text)) {
            ++postsWaiting;
        }
        const size_t waiting = mailbox.PendingCount();
        size_t most = mostWaiting.load();
        while (waiting > most && !mostWaiting.compare_exchange_weak(most, waiting)) {
        }
    };
    session.SetCallbacks(std::move(callbacks));
    session.Start(module.Path());
    ASSERT_TRUE(session.SendCommand("q"));

    std::string newest;
    int shown = 0;
    const std::string lastLine = FaultyModule::kLastFloodLine;
    const auto flooded = [&] {
        return module.TextBytesSent() > FaultyModule::kFloodBytes / 2 && postsWaiting == 0 &&
               newest.size() >= lastLine.size() &&
               newest.compare(newest.size() - lastLine.size(), lastLine.size(), lastLine) == 0;
    };
    const auto end = Clock::now() + 60s;
    while (!flooded() && Clock::now() < end) {
        session.Tick(100ms);  // the slow window: one post handled per 100 ms
        if (postsWaiting > 0) {
            --postsWaiting;
            std::optional<std::string> text = mailbox.Take();
            ASSERT_TRUE(text.has_value());
            newest = std::move(*text);
            ++shown;
        }
    }
    ASSERT_TRUE(flooded()) << module.TextBytesSent() << " bytes sent, " << completions
                           << " completions, " << shown << " shown";
    EXPECT_EQ(newest.size(), CCommandReply::kMaxTextReplyBytes);
    EXPECT_EQ(mostWaiting.load(), 1u);
    // Far more completions than texts handed over: they superseded each other on the way.
    EXPECT_GE(completions.load(), 50);
    EXPECT_LT(shown, completions.load() / 2);
    if (!kSanitizerBuild) {
        // The collector's 5 MiB, its reply text, the waiting text and the one shown: 4 MiB each.
        EXPECT_LT(HeapInUseKiB() - heapBefore, 32 * 1024);  // 16 to 20.5 MiB measured
    }
    session.Close();
}

}  // namespace
