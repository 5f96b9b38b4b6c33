// `thermal sim` and the capture form of `thermal convert`, run as the user runs them.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "device/capture_frames.h"
#include "frame/binary_record_reader.h"
#include "platform/program_version.h"
#include "recording/recording_files.h"
#include "support/thermal_tool.h"

namespace {
namespace fs = std::filesystem;

class ThermalTool : public ::testing::Test {
  protected:
    // The exit status of `thermal ARGUMENTS`, its output and errors put aside.
    int RunThermal(const std::string& arguments) const { return RunTool(arguments, m_dir).status; }

    const ScratchDirectory m_scratch{"thermal_tool"};
    const fs::path& m_dir = m_scratch.path();
};

// Captures a few seconds of `thermal sim` output through its link, the way a user would with
// `cat /dev/ttyUSB0 > capture.raw`, and returns the bytes and the simulator's log.
std::string CaptureFromSim(const fs::path& link, std::string* log) {
    FILE* sim = ::popen((kThermalTool.string() + " sim --fps 100 --seed 5 --duration 2 --link " +
                         link.string() + " --chunking")
                            .c_str(),
                        "r");
    EXPECT_NE(sim, nullptr);
    char line[256];
    EXPECT_NE(std::fgets(line, sizeof line, sim), nullptr);  // the device path
    const std::string path = std::string(line).substr(0, std::strlen(line) - 1);
    EXPECT_EQ(fs::read_symlink(link).string(), path);
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    EXPECT_EQ(::write(fd, "K", 1), 1);
    std::string bytes;
    char buffer[8192];
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    while (std::chrono::steady_clock::now() < end) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) > 0) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                bytes.append(buffer, n);
            }
        }
    }
    EXPECT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
    while (std::fgets(line, sizeof line, sim) != nullptr) {
        *log += line;
    }
    EXPECT_EQ(::pclose(sim), 0);
    return bytes;
}

TEST_F(ThermalTool, SimStreamsAndConvertRescuesTheFramesOfItsCapture) {
    std::string log;
    const std::string stream = CaptureFromSim(m_dir / "ttyTHERMAL", &log);
    EXPECT_EQ(log, "received 0x4B 'K'\nreceived 0x78 'x'\n");
    EXPECT_FALSE(fs::exists(m_dir / "ttyTHERMAL"));  // the link goes with the simulator
    // Start the capture mid-frame, as a capture taken at a random moment does.
    const std::string capture = stream.substr(700);
    std::ofstream(m_dir / "capture.raw", std::ios::binary) << capture;

    ASSERT_EQ(RunThermal("convert " + (m_dir / "capture.raw").string() + " " +
                         (m_dir / "out.bds").string()),
              0);
    const std::string recording = ReadWhole(m_dir / "out.bds");
    const auto expected =
        CutCaptureIntoFrames(reinterpret_cast<const uint8_t*>(capture.data()), capture.size(), 'K');
    ASSERT_GE(expected.size(), 20u);
    ASSERT_EQ(recording.size(), expected.size() * kBinaryRecordSize);
    for (size_t i = 0; i < expected.size(); ++i) {
        const char* record = recording.data() + i * kBinaryRecordSize;
        EXPECT_EQ(std::string(record, 16), std::string("Mode=T") + std::string(10, '\0'));
        EXPECT_EQ(std::memcmp(record + 16, expected[i].data(), kFrameBlockSize), 0);
    }

    ASSERT_EQ(RunThermal("convert " + (m_dir / "capture.raw").string() + " " +
                         (m_dir / "volts.BDS").string() + " --letter t"),
              0);
    EXPECT_EQ(ReadWhole(m_dir / "volts.BDS").substr(0, 6), "Mode=V");
}

TEST_F(ThermalTool, BadInputIsRefusedWithStatusTwo) {
    EXPECT_EQ(RunThermal("sim --fps abc"), 2);
    EXPECT_EQ(RunThermal("sim --garbage-rate 2"), 2);
    EXPECT_EQ(RunThermal("sim --bogus"), 2);
    EXPECT_EQ(RunThermal("sim --seed 1.5"), 2);
    EXPECT_EQ(RunThermal("sim --disconnect-after 2.5"), 2);
    EXPECT_EQ(RunThermal("convert " + (m_dir / "missing.raw").string() + " " +
                         (m_dir / "out.bds").string()),
              2);
    std::ofstream(m_dir / "c.raw") << "abc";
    EXPECT_EQ(RunThermal("convert " + (m_dir / "c.raw").string() + " " +
                         (m_dir / "o.bds").string() + " --letter q"),
              2);
    EXPECT_FALSE(fs::exists(m_dir / "out.bds"));
    EXPECT_FALSE(fs::exists(m_dir / "o.bds"));
}

// Every command reads its command line the same way and says what is wrong in the same words:
// a value that is missing, malformed or out of range reads "NAME takes WHAT".
TEST_F(ThermalTool, BadCommandLinesOfEveryCommandReadAlike) {
    const struct {
        const char* arguments;
        const char* error;  // between "thermal COMMAND: " and " (see 'thermal COMMAND --help')"
    } cases[] = {
        {"sim --fps abc", "--fps takes a number from 0.001 to 100000"},
        {"sim --fps", "--fps takes a number from 0.001 to 100000"},
        {"sim --garbage-rate 2", "--garbage-rate takes a number from 0 to 1"},
        {"sim --seed 1.5", "--seed takes a whole number from 0 to 4294967295"},
        {"sim --seed -1", "--seed takes a whole number from 0 to 4294967295"},
        {"sim --link ''", "--link takes a path"},
        {"sim --bogus", "unknown option '--bogus'"},
        {"sim COM3", "unexpected argument 'COM3'"},
        {"record --frames 0", "--frames takes a whole number from 1 to 1000000000000"},
        {"record --duration -1", "--duration takes a number from 0.001 to 1000000000"},
        {"record --every 1e3", "--every takes a whole number from 1 to 1000000"},
        {"record --port", "--port takes a device name"},
        {"record --bogus", "unknown option '--bogus'"},
        {"stream", "missing --port NAME"},
        {"stream --port /dev/null more", "unexpected argument 'more'"},
        {"stream --format json", "--format takes ndjson or csv"},
        {"stream --port /dev/null --frames 5 --duration 1",
         "--frames and --duration cannot be used together"},
        {"stream --port /dev/null --region 0,1,2,2",
         "--region: a region's rows are 1 to 31 and its columns 1 to 32"},
        {"publish --port /dev/null --topic a", "missing --broker mqtt://HOST[:PORT]"},
        {"publish --port /dev/null --broker mqtt://h --topic a/#",
         "--topic: the topic prefix must not hold the wildcards '+' or '#'"},
        {"publish --port mqtt://h/a --broker mqtt://h --topic a",
         "--port names the module's serial device, not a broker"},
        {"publish --port /dev/null --broker mqtt://h --topic a --user u",
         "--user needs --password-file"},
        {"publish --port /dev/null --broker mqtt://h --topic a --user u --password-file "
         "/nonexistent",
         "cannot read the password file '/nonexistent': No such file or directory"},
        {"publish --port /dev/null --broker mqtt://h --topic a --user u --password-file /dev/zero",
         "cannot read the password file '/dev/zero': it is a device"},
        {"publish --port MQTT://h/a --broker mqtt://h --topic a",
         "--port names the module's serial device, not a broker"},
        {"publish --qos 2", "--qos takes 0 or 1"},
        {"info --max-problems 0", "--max-problems takes a whole number from 1 to 1000000"},
        {"info --decode=yes", "unknown option '--decode=yes'"},
        {"convert --palette 9", "--palette takes a whole number from 1 to 8"},
        {"convert --stack ' 5'", "--stack takes a whole number from 1 to 300"},
        {"convert --manual 300", "--manual takes LOW:HIGH, two numbers from -1000000 to 1000000"},
        {"convert --manual nan:1", "--manual takes LOW:HIGH, two numbers from -1000000 to 1000000"},
        {"convert --unit", "--unit takes K, C or F"},
        {"convert --mirror X", "--mirror takes none, x, y or both"},
        {"convert --letter q", "--letter takes K, k, t or c"},
        {"convert --region", "--region takes R1,C1,R2,C2"},
        {"convert --region 1,2,3",
         "--region: a region is four numbers R1,C1,R2,C2 separated by commas"},
        {"convert --region 1,1,32,2",
         "--region: a region's rows are 1 to 31 and its columns 1 to 32"},
        {"convert in.bds out.txt --region 1,1,2,2", "--region applies only to a .csv output"},
        {"convert in.bds --frames dir --region 1,1,2,2", "--region applies only to a .csv output"},
        {"convert in.bds out.TIF --region 1,1,2,2", "--region applies only to a .csv output"},
        {"convert in.bds out.npy --region 1,1,2,2", "--region applies only to a .csv output"},
    };
    for (const auto& c : cases) {
        const std::string arguments = c.arguments;
        const std::string command = arguments.substr(0, arguments.find(' '));
        const ToolResult result = RunTool(arguments, m_dir / "run");
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_EQ(result.errors, "thermal " + command + ": " + c.error + " (see 'thermal " +
                                     command + " --help')\n");
    }
    // "--" ends the options, and help wins over anything wrong before it.
    EXPECT_NE(RunTool("info -- --decode", m_dir / "run").errors.find("cannot read '--decode'"),
              std::string::npos);
    EXPECT_EQ(RunTool("info --bogus --help", m_dir / "run").status, 0);

    const ToolResult version = RunTool("--version", m_dir / "run");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("thermal ") + ProgramVersion() + "\n");
}

// --link takes a free name or a link an earlier simulator left (even one whose terminal is
// gone), and on its way out removes only its own link; whatever else is at the name is the
// user's and stays as it was, and no temporary link is left beside it.
TEST_F(ThermalTool, SimLinkReplacesOnlyLinksToTerminals) {
    std::ofstream(m_dir / "file") << "keep me";
    fs::create_directories(m_dir / "dir");
    fs::create_symlink(m_dir / "file", m_dir / "to-file");
    fs::create_symlink("/dev/null", m_dir / "to-device");
    for (const char* taken : {"file", "dir", "to-file", "to-device"}) {
        EXPECT_EQ(RunThermal("sim --quiet --duration 0.2 --link " + (m_dir / taken).string()), 2)
            << taken;
    }
    EXPECT_EQ(ReadWhole(m_dir / "file"), "keep me");
    EXPECT_TRUE(fs::is_directory(m_dir / "dir"));
    EXPECT_EQ(fs::read_symlink(m_dir / "to-file"), m_dir / "file");
    EXPECT_EQ(fs::read_symlink(m_dir / "to-device"), "/dev/null");

    fs::create_symlink("/dev/pts/99999", m_dir / "stale");
    fs::create_symlink("/dev/pts/99999", m_dir / "stale.tmp");  // not ours either
    EXPECT_EQ(RunThermal("sim --quiet --duration 0.2 --link " + (m_dir / "stale").string()), 0);
    EXPECT_FALSE(fs::is_symlink(m_dir / "stale"));
    EXPECT_TRUE(fs::is_symlink(m_dir / "stale.tmp"));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) {
        ++entries;
    }
    EXPECT_EQ(entries, 5u);  // file, dir, to-file, to-device, stale.tmp
}

// What the tool prints on standard output is what the user ran it for (the device path, a
// report, the help): when it cannot be written, the run fails.
TEST_F(ThermalTool, LostStandardOutputFailsTheRun) {
    std::ofstream(m_dir / "clean.bds", std::ios::binary)
        << BinaryStreamRecord('K', SpreadFrame(2981, 2900, 3100));
    ASSERT_EQ(RunThermal("info " + (m_dir / "clean.bds").string()), 0);
    for (const std::string& arguments :
         {std::string("sim --quiet --duration 5"), "info " + (m_dir / "clean.bds").string(),
          std::string("--help")}) {
        const int status = std::system(
            (kThermalTool.string() + " " + arguments + " > /dev/full 2>/dev/null").c_str());
        EXPECT_TRUE(WIFEXITED(status)) << arguments;
        EXPECT_EQ(WEXITSTATUS(status), 1) << arguments;
    }
}

TEST_F(ThermalTool, UnwritableOutputFailsWithStatusOneAndLeavesNothing) {
    std::ofstream(m_dir / "c.raw") << "abc";
    EXPECT_EQ(RunThermal("convert " + (m_dir / "c.raw").string() + " " +
                         (m_dir / "no-such-dir" / "o.bds").string()),
              1);
    EXPECT_FALSE(fs::exists(m_dir / "no-such-dir"));
}

}  // namespace
