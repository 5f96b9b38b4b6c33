// The simulated module: what it answers, and that its faults and its byte log behave.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <thread>

#include "device/capture_frames.h"
#include "device/command_reply.h"
#include "device/mclk.h"
#include "device/module_simulator.h"
#include "device/reply_end_rules.h"
#include "device/simulated_replies.h"
#include "device/simulated_scene.h"
#include "support/scratch_directory.h"

namespace {
using namespace std::chrono_literals;

// A raw client of the simulator's terminal.
class Client {
  public:
    explicit Client(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~Client() { ::close(m_fd); }
    void Send(char letter) { ASSERT_EQ(::write(m_fd, &letter, 1), 1); }
    // Reads until `enough` bytes or the time is up.
    std::string Read(size_t enough, std::chrono::milliseconds limit) {
        std::string bytes;
        const auto end = std::chrono::steady_clock::now() + limit;
        char buffer[4096];
        while (bytes.size() < enough && std::chrono::steady_clock::now() < end) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, 20) > 0) {
                const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
                if (n > 0) {
                    bytes.append(buffer, n);
                }
            }
        }
        return bytes;
    }

  private:
    int m_fd = -1;
};

bool Completes(uint8_t letter, const std::string& reply) {
    const auto* data = reinterpret_cast<const uint8_t*>(reply.data());
    return letter == 'w' ? IsCalibrationTableComplete(data, reply.size())
                         : IsTextReplyComplete(letter, data, reply.size());
}

TEST(SimulatedReplies, EveryTextReplyCompletesByItsLettersRule) {
    SimulatedModuleState state;
    EXPECT_TRUE(Completes('M', SimulatedInfoReply(state)));
    EXPECT_EQ(FindMclk(SimulatedInfoReply(state), MclkMarker::Kilohertz), "8000");
    state.mclkKHz = 8125;
    EXPECT_TRUE(Completes('a', SimulatedMclkStepReply(state)));
    EXPECT_EQ(FindMclk(SimulatedMclkStepReply(state), MclkMarker::LineEnd), "8125");
    EXPECT_TRUE(Completes('w', SimulatedCalibrationTable()));
    for (uint8_t letter : {'b', 'f', 'J', 'l', 'm', 'o', 'O', 'V', 'X', 'y', 'Y', 'x', 'T', 'q'}) {
        for (int twice = 0; twice < 2; ++twice) {  // toggles answer both ways
            EXPECT_TRUE(Completes(letter, SimulatedTextReply(letter, state))) << letter;
        }
    }
}

TEST(SimulatedReplies, CalibrationTableHasTheHeaderKeywordsAnd992Rows) {
    const std::string table = SimulatedCalibrationTable();
    for (const char* keyword : {"PTAT1 ", "ASIC-Register ", "Written ", "PTAT-gradient ",
                                "Ambient 1: ", "TObj1: ", "TObjcal1: ", "Arraytype ", "Nr.\t"}) {
        EXPECT_NE(table.find(keyword), std::string::npos) << keyword;
    }
    EXPECT_NE(table.find("\r\n0\t"), std::string::npos);
    EXPECT_NE(table.find("\r\n991\t"), std::string::npos);
    EXPECT_EQ(table.find("\r\n992\t"), std::string::npos);
}

TEST(SimulatedScene, FramesAreValidRepeatableAndShowAWarmObject) {
    std::mt19937 a(3);
    std::mt19937 b(3);
    const SimFrameBlock first = BuildSimulatedFrame(10, true, a);
    EXPECT_EQ(first, BuildSimulatedFrame(10, true, b));
    EXPECT_TRUE(IsFrameMarkerAt(first.data() + kFrameMarkerOffset));
    uint16_t low = 0xFFFF;
    uint16_t high = 0;
    for (int i = 0; i < 992; ++i) {
        const uint16_t v = static_cast<uint16_t>(first[2 * i] | first[2 * i + 1] << 8);
        low = std::min(low, v);
        high = std::max(high, v);
    }
    EXPECT_NEAR(low, 2952, 15);  // room at about 22 C in tenths of a kelvin
    EXPECT_GT(high, low + 100);  // the warm object
    std::mt19937 c(3);
    const SimFrameBlock later = BuildSimulatedFrame(200, true, c);
    const auto ambient = [](const SimFrameBlock& f) { return f[2052] | f[2053] << 8; };
    EXPECT_NE(ambient(first), ambient(later));
}

TEST(ModuleSimulator, AnswersLogsAndStreamsOnItsTerminal) {
    SimulatorOptions options;
    options.fps = 100;
    CModuleSimulator sim(options);
    ASSERT_EQ(sim.Start(), "");
    Client client(sim.SlavePath());
    client.Send('M');
    EXPECT_NE(client.Read(1000, 300ms).find("8000 kHz"), std::string::npos);
    client.Send('a');
    EXPECT_NE(client.Read(1000, 300ms).find("8125"), std::string::npos);
    client.Send('k');
    const std::string one = client.Read(kFrameBlockSize, 1s);
    ASSERT_EQ(one.size(), static_cast<size_t>(kFrameBlockSize));
    client.Send('K');
    const std::string stream = client.Read(20 * kFrameBlockSize, 2s);
    const auto frames =
        CutCaptureIntoFrames(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), 'K');
    EXPECT_EQ(frames.size(), 20u);
    client.Send('x');
    std::this_thread::sleep_for(100ms);
    client.Read(1 << 20, 100ms);
    EXPECT_TRUE(client.Read(1, 200ms).empty());  // the stream has stopped
    EXPECT_EQ(sim.ReceivedBytes(), "MakKx");
}

// The rate comes from a command line and may be anything a double holds: NaN streams at the
// default rate, a rate below the smallest waits, an infinite one streams as fast as it can.
TEST(ModuleSimulator, AnyRateGivesAStreamOfBoundedPace) {
    const struct {
        double fps;
        std::size_t fewestFrames, mostFrames;  // in one second
    } cases[] = {
        {std::numeric_limits<double>::quiet_NaN(), 2, 8},
        {-5.0, 0, 1},
        {std::numeric_limits<double>::infinity(), 20, 1000000},
    };
    for (const auto& c : cases) {
        SimulatorOptions options;
        options.fps = c.fps;
        CModuleSimulator sim(options);
        ASSERT_EQ(sim.Start(), "");
        Client client(sim.SlavePath());
        client.Send('K');
        const std::string stream = client.Read(200 * kFrameBlockSize, 1s);
        const std::size_t frames =
            CutCaptureIntoFrames(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(),
                                 'K')
                .size();
        EXPECT_GE(frames, c.fewestFrames) << c.fps;
        EXPECT_LE(frames, c.mostFrames) << c.fps;
        client.Send('x');
    }
}

TEST(ModuleSimulator, SilentLetterGetsNoAnswer) {
    SimulatorOptions options;
    options.silentOn = "M";
    CModuleSimulator sim(options);
    ASSERT_EQ(sim.Start(), "");
    Client client(sim.SlavePath());
    client.Send('M');
    EXPECT_TRUE(client.Read(1, 300ms).empty());
    client.Send('b');
    EXPECT_EQ(client.Read(14, 300ms), "VDD: 3300 mV\r\n");
}

TEST(ModuleSimulator, StoppingLeavesALinkThatANewerSimulatorTookOver) {
    const ScratchDirectory dir("thermal-link");
    SimulatorOptions options;
    options.linkPath = (dir / "tty").string();
    auto older = std::make_unique<CModuleSimulator>(options);
    ASSERT_EQ(older->Start(), "");
    CModuleSimulator newer(options);
    ASSERT_EQ(newer.Start(), "");
    older.reset();
    std::error_code error;
    EXPECT_EQ(std::filesystem::read_symlink(options.linkPath, error).string(), newer.SlavePath());
    newer.Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(options.linkPath, error));
}

TEST(ModuleSimulator, GarbageAndDropsCostFramesButTheCollectorRecovers) {
    SimulatorOptions options;
    options.fps = 400;
    options.garbageRate = 0.1;
    options.dropRate = 0.1;
    options.chunking = true;
    options.seed = 11;
    CModuleSimulator sim(options);
    ASSERT_EQ(sim.Start(), "");
    Client client(sim.SlavePath());
    client.Send('K');
    const std::string stream = client.Read(300 * kFrameBlockSize, 3s);
    const auto frames =
        CutCaptureIntoFrames(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), 'K');
    const double sent = static_cast<double>(stream.size()) / kFrameBlockSize;
    EXPECT_LT(frames.size(), sent);        // damage costs frames...
    EXPECT_GT(frames.size(), sent * 0.5);  // ...but the stream stays usable
}

}  // namespace
