// CSerialPort against the simulated module on a real pseudo-terminal, and the port list and
// /dev watcher on a stand-in directory.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <thread>

#include "device/dev_watcher.h"
#include "device/module_simulator.h"
#include "device/port_enumerator.h"
#include "device/reply_list.h"
#include "device/serial_port.h"
#include "device/tty_monitor.h"
#include "raw_pty_line.h"
#include "support/scratch_directory.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the port's callbacks saw.
struct Receiver {
    std::mutex lock;  // guards bytes, batches and errors
    std::string bytes;
    int batches = 0;
    uint32_t errors = 0;
    std::atomic<int> disconnects{0};

    static void OnReceive(void* context, uint32_t count, uint32_t errors, const uint8_t* data) {
        auto* self = static_cast<Receiver*>(context);
        std::lock_guard<std::mutex> guard(self->lock);
        self->bytes.append(reinterpret_cast<const char*>(data), count);
        self->batches++;
        self->errors |= errors;
    }
    static void OnDisconnect(void* context) { static_cast<Receiver*>(context)->disconnects++; }

    std::string Bytes() {
        std::lock_guard<std::mutex> guard(lock);
        return bytes;
    }
};

template <typename Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (predicate()) {
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return predicate();
}

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

uint32_t SendByte(CSerialPort& port, char letter) {
    const auto byte = static_cast<uint8_t>(letter);
    uint32_t written = 0;
    const uint32_t result = port.Write(1, &byte, &written);
    EXPECT_EQ(written, result == 0 ? 1u : written);
    return result;
}

TEST(SerialPort, OpensWritesReceivesAndCloses) {
    CModuleSimulator sim({});
    ASSERT_EQ(sim.Start(), "");
    Receiver receiver;
    CSerialPort port;
    port.SetCallbackContext(&receiver);
    port.m_receiveCallback = Receiver::OnReceive;

    EXPECT_EQ(port.Open(sim.SlavePath()), 0u);
    EXPECT_EQ(port.IsOpen(), 1);
    EXPECT_EQ(port.Open(sim.SlavePath()), 0u);  // already open: kept as it is
    EXPECT_EQ(SendByte(port, 'M'), 0u);
    ASSERT_TRUE(WaitFor([&] { return receiver.Bytes().find("VDM") != std::string::npos; }, 2s));
    EXPECT_NE(receiver.Bytes().find("8000 kHz"), std::string::npos);
    EXPECT_EQ(receiver.errors, 0u);  // a pseudo-terminal reports no line errors
    EXPECT_TRUE(WaitFor([&] { return sim.ReceivedBytes() == "M"; }, 1s));

    const auto start = Clock::now();
    port.Close();
    const auto took = Clock::now() - start;
    EXPECT_EQ(port.IsOpen(), 0);
    // No fixed pauses: the monitor wakes on the stop request and ends at once. START closes the
    // previous port on the GUI thread, where the two former 100 ms pauses froze the window.
    EXPECT_LT(took, 150ms);
    EXPECT_EQ(SendByte(port, 'x'), kErrorInvalidHandle);
}

TEST(SerialPort, CloseWithoutOpenReturnsAtOnceAndBadNamesStayClosed) {
    CSerialPort port;
    const auto start = Clock::now();
    port.Close();
    EXPECT_LT(Clock::now() - start, 50ms);
    EXPECT_EQ(port.Open("/dev/does-not-exist-here"), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(port.IsOpen(), 0);
    // A regular file is no serial port.
    const ScratchDirectory dir("serial-port");
    const std::string file = dir / "not_a_tty";
    std::ofstream(file) << "x";
    EXPECT_NE(port.Open(file), 0u);
    EXPECT_EQ(port.IsOpen(), 0);
}

TEST(SerialPort, SecondOpenOfTheSameDeviceIsRefused) {
    CModuleSimulator sim({});
    ASSERT_EQ(sim.Start(), "");
    CSerialPort first;
    CSerialPort second;
    ASSERT_EQ(first.Open(sim.SlavePath()), 0u);
    EXPECT_NE(second.Open(sim.SlavePath()), 0u);
    EXPECT_EQ(second.IsOpen(), 0);
    EXPECT_FALSE(ProbeComPort(sim.SlavePath()));
    first.Close();
    EXPECT_TRUE(ProbeComPort(sim.SlavePath()));
    EXPECT_EQ(second.Open(sim.SlavePath()), 0u);  // free again once closed
    second.Close();
}

TEST(SerialPort, StreamsFramesIntoTheCollector) {
    SimulatorOptions options;
    options.fps = 200;
    options.chunking = true;
    CModuleSimulator sim(options);
    ASSERT_EQ(sim.Start(), "");
    struct Frames {
        std::atomic<int> count{0};
        static void OnReply(void* context, CCommandReply*, const std::string&, const uint8_t*,
                            int n) {
            if (n == kFrameBlockSize) {
                static_cast<Frames*>(context)->count++;
            }
        }
        static void OnReceive(void* context, uint32_t count, uint32_t, const uint8_t* data) {
            auto* list = static_cast<CReplyList*>(context);
            for (uint32_t pos = 0; pos < count; pos += 1024) {
                list->Feed(static_cast<int>(std::min<uint32_t>(1024, count - pos)), data + pos);
            }
        }
    } frames;
    CReplyList list(&frames);
    list.SetCallback(Frames::OnReply);
    CSerialPort port;
    port.SetCallbackContext(&list);
    port.m_receiveCallback = Frames::OnReceive;
    ASSERT_EQ(port.Open(sim.SlavePath()), 0u);
    list.AddCommand("K", 'K');
    SendByte(port, 'K');
    EXPECT_TRUE(WaitFor([&] { return frames.count >= 40; }, 5s)) << frames.count;
    SendByte(port, 'x');
    list.AddCommand("x", 'x');
    std::this_thread::sleep_for(100ms);
    const uint64_t sent = sim.FramesSent();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(sim.FramesSent(), sent);  // `x` stopped the stream
    port.Close();
}

TEST(SerialPort, DisconnectIsReportedOnceAndCostsNoCpu) {
    SimulatorOptions options;
    options.fps = 100;
    options.disconnectAfter = 10;
    CModuleSimulator sim(options);
    ASSERT_EQ(sim.Start(), "");
    const std::string path = sim.SlavePath();
    Receiver receiver;
    CSerialPort port;
    port.SetCallbackContext(&receiver);
    port.m_receiveCallback = Receiver::OnReceive;
    port.m_disconnectCallback = Receiver::OnDisconnect;
    ASSERT_EQ(port.Open(path), 0u);
    SendByte(port, 'K');
    ASSERT_TRUE(WaitFor([&] { return receiver.disconnects.load() > 0; }, 3s));
    EXPECT_TRUE(port.IsDisconnected());
    EXPECT_EQ(port.IsOpen(), 1);  // stays open until closed
    const double cpuBefore = ThreadCpuSeconds();
    std::this_thread::sleep_for(1s);
    const double cpuUsed = ThreadCpuSeconds() - cpuBefore;
    EXPECT_LT(cpuUsed, 0.1) << "the monitor must not spin on a vanished device";
    EXPECT_EQ(receiver.disconnects.load(), 1);
    EXPECT_EQ(SendByte(port, 'x') == 0, false);  // writing to a vanished line fails
    port.Close();
    EXPECT_EQ(port.IsOpen(), 0);
    // The simulated line comes back on a new terminal; the port opens it cleanly.
    ASSERT_TRUE(WaitFor([&] { return sim.SlavePath() != path; }, 2s));
    EXPECT_EQ(port.Open(sim.SlavePath()), 0u);
    EXPECT_FALSE(port.IsDisconnected());
    SendByte(port, 'M');
    EXPECT_TRUE(WaitFor([&] { return receiver.Bytes().find("VDM") != std::string::npos; }, 2s));
    port.Close();
}

class TempDevDir : public ::testing::Test {
  protected:
    const ScratchDirectory m_scratch{"devdir"};
    const std::filesystem::path& m_dir = m_scratch.path();
};

TEST_F(TempDevDir, PortListHoldsTheFreeSerialDevicesOnly) {
    CModuleSimulator simA({});
    CModuleSimulator simB({});
    ASSERT_EQ(simA.Start(), "");
    ASSERT_EQ(simB.Start(), "");
    std::filesystem::create_symlink(simA.SlavePath(), m_dir / "ttyUSB0");
    std::filesystem::create_symlink(simB.SlavePath(), m_dir / "ttyACM1");
    std::ofstream(m_dir / "ttyUSB9") << "a regular file is no port";
    std::ofstream(m_dir / "video0") << "";
    const std::string usb = (m_dir / "ttyUSB0").string();
    const std::string acm = (m_dir / "ttyACM1").string();
    EXPECT_EQ(EnumerateComPorts(m_dir.string(), {}), (std::vector<std::string>{acm, usb}));
    // Named ports join the list; one this program holds open fails the probe.
    CModuleSimulator simC({});
    ASSERT_EQ(simC.Start(), "");
    CSerialPort port;
    ASSERT_EQ(port.Open(usb), 0u);
    const auto ports = EnumerateComPorts(m_dir.string(), {simC.SlavePath(), "/dev/nonexistent"});
    EXPECT_EQ(ports, (std::vector<std::string>{simC.SlavePath(), acm}));
    port.Close();
}

TEST_F(TempDevDir, WatcherSeesTtyEntriesComeAndGo) {
    CDevWatcher watcher(m_dir.string());
    ASSERT_TRUE(watcher.IsValid());
    EXPECT_FALSE(watcher.DrainEvents());
    std::ofstream(m_dir / "notes.txt") << "";
    EXPECT_FALSE(watcher.DrainEvents());  // not a port name
    std::ofstream(m_dir / "ttyUSB3") << "";
    EXPECT_TRUE(watcher.DrainEvents());
    EXPECT_FALSE(watcher.DrainEvents());  // drained
    std::filesystem::remove(m_dir / "ttyUSB3");
    EXPECT_TRUE(watcher.DrainEvents());
}

// Every failure says which call failed and the system's reason, with the error as its code.
TEST_F(TempDevDir, PortFailuresNameTheCallAndTheReason) {
    std::ofstream(m_dir / "ttyUSB9") << "a regular file is no port";
    RawPtyLine line;
    ASSERT_GE(line.Master(), 0);
    const auto open = [](const std::filesystem::path& path) {
        return [path](CSerialPort& port) { return port.Open(path.string()); };
    };
    const struct {
        const char* name;
        std::function<uint32_t(CSerialPort&)> act;
        uint32_t code;
        const char* message;
    } cases[] = {
        {"no such device", open(m_dir / "ttyUSB0"), ENOENT,
         "open() failed: No such file or directory"},
        {"a directory", open(m_dir), EISDIR, "open() failed: Is a directory"},
        {"a regular file", open(m_dir / "ttyUSB9"), ENOTTY,
         "ioctl(TIOCEXCL) failed: Inappropriate ioctl for device"},
        {"write without open", [](CSerialPort& port) { return SendByte(port, 'x'); },
         kErrorInvalidHandle, "the port is not open"},
        {"write after the line went away",
         [&line](CSerialPort& port) {
             const uint32_t opened = port.Open(line.Path());
             line.Unplug();
             return opened != 0 ? opened : SendByte(port, 'x');
         },
         EIO, "write() failed: Input/output error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CSerialPort port;
        EXPECT_EQ(c.act(port), c.code);
        EXPECT_EQ(port.LastError(), c.code);
        EXPECT_EQ(port.LastStatus().Message(), c.message);
    }
}

// THERMAL_TRACE puts both directions of the link on standard error, time-stamped, in hex and
// as text.
TEST(SerialPort, TraceShowsBothDirectionsWhenAskedFor) {
    RawPtyLine line;
    ASSERT_GE(line.Master(), 0);
    Receiver receiver;
    ::setenv("THERMAL_TRACE", "1", 1);
    testing::internal::CaptureStderr();
    {
        CSerialPort port;  // reads the environment once, here
        ::unsetenv("THERMAL_TRACE");
        port.SetCallbackContext(&receiver);
        port.m_receiveCallback = Receiver::OnReceive;
        if (port.Open(line.Path()) == 0) {
            SendByte(port, 'M');
            const std::atomic<bool> stop{false};
            line.WriteAll("ok\r\n", 4, stop);
            WaitFor([&] { return receiver.Bytes() == "ok\r\n"; }, 2s);
        }
    }
    const std::string trace = testing::internal::GetCapturedStderr();
    ASSERT_EQ(receiver.Bytes(), "ok\r\n") << trace;
    const std::string stamp = R"(\d\d:\d\d:\d\d\.\d{6})";
    EXPECT_TRUE(std::regex_search(trace, std::regex(stamp + " tx 4d {47}M\n"))) << trace;
    EXPECT_TRUE(std::regex_search(trace, std::regex(stamp + " rx 6f 6b 0d 0a {38}ok\\.\\.\n")))
        << trace;
}

TEST(TtyMonitor, OpensWithOrWithoutAUdevDaemon) {
    CTtyMonitor monitor;
    if (monitor.IsValid()) {
        EXPECT_GE(monitor.Fd(), 0);
        EXPECT_FALSE(monitor.DrainEvents());  // nothing plugged in during the test
    } else {
        EXPECT_EQ(monitor.Fd(), -1);
    }
}

}  // namespace
