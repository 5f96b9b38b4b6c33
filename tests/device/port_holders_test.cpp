// Other processes holding the module's port: found through /proc by device number, named in the
// session's log. The holders are child processes of the test on real pseudo-terminals.
#include "device/port_holders.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/module_session.h"
#include "device/module_simulator.h"
#include "raw_pty_line.h"
#include "support/scratch_directory.h"

namespace {

// A child process that opens `path` and keeps it open until the object goes away. Of what it
// inherits it keeps only the descriptors in `keep`.
class HoldingChild {
  public:
    HoldingChild(const std::string& path, std::vector<int> keep) {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            for (int fd = 3; fd < 1024; ++fd) {
                if (fd != ready[1] && fd != release[0] &&
                    std::find(keep.begin(), keep.end(), fd) == keep.end()) {
                    ::close(fd);
                }
            }
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
            const char result = fd >= 0 ? 'y' : 'n';
            [[maybe_unused]] ssize_t ignored = ::write(ready[1], &result, 1);
            char end = 0;
            ignored = ::read(release[0], &end, 1);  // returns once the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        char result = 0;
        m_isHolding = ::read(ready[0], &result, 1) == 1 && result == 'y';
        ::close(ready[0]);
    }
    ~HoldingChild() {
        if (m_release >= 0) {
            ::close(m_release);
        }
        if (m_pid > 0) {
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    pid_t Pid() const { return m_pid; }
    bool IsHolding() const { return m_isHolding; }

  private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_isHolding = false;
};

std::vector<pid_t> Pids(const std::vector<PortHolder>& holders) {
    std::vector<pid_t> pids;
    for (const PortHolder& holder : holders) {
        pids.push_back(holder.pid);
    }
    return pids;
}

TEST(PortHolders, OtherOpenersAreFoundByDeviceButNotTheFarEndOrThisProcess) {
    const RawPtyLine line;
    const RawPtyLine otherLine;
    ASSERT_GE(line.Master(), 0);
    ASSERT_GE(otherLine.Master(), 0);
    const std::string& name = line.Path();
    const ScratchDirectory dir("port-holders");
    const auto link = dir / "ttyTHERMAL_holders";
    std::filesystem::create_symlink(name, link);

    // A terminal program on the line; one on another line; and the far end of the line (a
    // simulated module holds the master and the slave, as `thermal sim` does).
    HoldingChild reader(name, {});
    HoldingChild elsewhere(otherLine.Path(), {});
    HoldingChild farEnd(name, {line.Master()});
    ASSERT_TRUE(reader.IsHolding() && elsewhere.IsHolding() && farEnd.IsHolding());

    for (const std::string& path : {name, link.string()}) {
        const std::vector<PortHolder> holders = FindPortHolders(path, ::getpid());
        EXPECT_EQ(Pids(holders), std::vector<pid_t>{reader.Pid()}) << path;
        if (!holders.empty()) {
            // The child is a fork of this test: its command line is this program's.
            EXPECT_NE(holders[0].command.find("test_device"), std::string::npos)
                << holders[0].command;
        }
    }
    // This process holds the line too, and counts when asked about another.
    EXPECT_EQ(Pids(FindPortHolders(name, ::getpid() + 1000000)), std::vector<pid_t>{reader.Pid()});
    EXPECT_TRUE(FindPortHolders("/nonexistent/tty", ::getpid()).empty());

    EXPECT_EQ(PortHoldersLogLine("/dev/ttyUSB0", {}), "");
    EXPECT_EQ(PortHoldersLogLine("/dev/ttyUSB0", {{12, "minicom -D /dev/ttyUSB0"}, {34, "cat"}}),
              "[/dev/ttyUSB0] Also open in PID 12 (minicom -D /dev/ttyUSB0), PID 34 (cat): they "
              "may take the module's bytes.\r\n");
}

TEST(PortHolders, SessionNamesAProgramThatHadThePortOpenBefore) {
    CModuleSimulator sim({});
    ASSERT_EQ(sim.Start(), "");
    const std::string port = sim.SlavePath();
    std::mutex logLock;  // guards log: lines come from the owner and the monitor thread
    std::vector<std::string> log;
    const auto takeLog = [&] {
        std::lock_guard lock(logLock);
        return std::exchange(log, {});
    };
    CModuleSession session;
    CModuleSession::Callbacks callbacks;
    callbacks.log = [&](const std::string& line) {
        std::lock_guard lock(logLock);
        log.push_back(line);
    };
    session.SetCallbacks(std::move(callbacks));

    // The simulator runs in this process: nobody else holds the line.
    ASSERT_EQ(session.OpenSession(port), 0u);
    session.ClosePort();
    std::vector<std::string> lines = takeLog();
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0], "[" + port + "] Open OK!\r\n");
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("Also open"), std::string::npos) << line;
    }

    HoldingChild other(port, {});
    ASSERT_TRUE(other.IsHolding());
    ASSERT_EQ(session.OpenSession(port), 0u);
    session.ClosePort();
    lines = takeLog();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[" + port + "] Open OK!\r\n");
    EXPECT_EQ(
        lines[1].rfind("[" + port + "] Also open in PID " + std::to_string(other.Pid()) + " (", 0),
        0u)
        << lines[1];
}

}  // namespace
