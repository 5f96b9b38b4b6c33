#include "device/module_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <random>

#include "device/simulated_replies.h"
#include "device/simulated_scene.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t kMaxPendingOutput = 256 * 1024;  // nobody reads: the bytes are lost, as on a wire
constexpr int kMaxFramesPerPass = 64;
// Far beyond what any line carries; a bound that keeps the stream arithmetic finite.
constexpr double kMaxFps = 1e6;
// A terminal holds far less than this for its reader: a marker written this long ago was read.
constexpr uint64_t kSurelyReadBytes = 1u << 20;
}  // namespace

// One pseudo-terminal. The simulator keeps the slave side open as well, so the line survives the
// viewer closing and reopening it, and a closed master is seen by the viewer as a hang-up.
struct CModuleSimulator::Line {
    int master = -1;
    int slave = -1;
    std::string path;

    ~Line() {
        if (master >= 0) {
            ::close(master);
        }
        if (slave >= 0) {
            ::close(slave);
        }
    }
};

namespace {
std::string OpenLine(int& master, int& slave, std::string& path) {
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        return std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    }
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    path = name;
    return {};
}

// Points `link` at `target` through a new link of a name nobody uses, renamed over `link`, so
// a program opening `link` meanwhile finds the old terminal or the new one, never nothing.
std::string UpdateLink(const std::string& link, const std::string& target) {
    if (link.empty()) {
        return {};
    }
    if (std::string refusal = CheckSimulatorLink(link); !refusal.empty()) {
        return refusal;
    }
    std::error_code error;
    std::string temporary;
    for (int attempt = 0;; ++attempt) {
        temporary = link + ".tmp" + std::to_string(static_cast<long>(::getpid())) + "." +
                    std::to_string(attempt);
        // Never replaces what is there: a name already taken is simply skipped.
        std::filesystem::create_symlink(target, temporary, error);
        if (error != std::errc::file_exists || attempt == 100) {
            break;
        }
    }
    if (!error) {
        std::filesystem::rename(temporary, link, error);
        if (error) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
        }
    }
    return error ? "cannot link " + link + ": " + error.message() : std::string();
}

// Reads whatever the terminal still holds for the reader, so that none of it can reach the
// reader any more, and returns the byte count. Each byte goes to exactly one of the two readers,
// which makes the count exact however the reader is timed.
uint64_t TakeUnreadBytes(int slave) {
    const int flags = ::fcntl(slave, F_GETFL);
    ::fcntl(slave, F_SETFL, flags | O_NONBLOCK);
    uint64_t taken = 0;
    uint8_t buffer[4096];
    for (int idlePasses = 0; idlePasses < 2;) {
        const ssize_t got = ::read(slave, buffer, sizeof buffer);
        if (got > 0) {
            taken += static_cast<uint64_t>(got);
            idlePasses = 0;
        } else if (!(got < 0 && errno == EINTR)) {
            // Written bytes may still be on their way through the terminal's buffers.
            ++idlePasses;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ::fcntl(slave, F_SETFL, flags);
    return taken;
}
}  // namespace

std::string CheckSimulatorLink(const std::string& link) {
    struct stat status {};
    if (::lstat(link.c_str(), &status) != 0) {
        return errno == ENOENT ? std::string()
                               : "cannot check " + link + ": " + std::strerror(errno);
    }
    if (S_ISLNK(status.st_mode)) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(link, error).string();
        if (!error && target.rfind(kPseudoTerminalFolder, 0) == 0) {
            return {};
        }
    }
    return "cannot link " + link + ": it exists and is not a link to a pseudo-terminal";
}

CModuleSimulator::CModuleSimulator(SimulatorOptions options) : m_options(std::move(options)) {}

CModuleSimulator::~CModuleSimulator() {
    Stop();
}

std::string CModuleSimulator::Start() {
    if (m_hThread) {
        return "the simulator is already running";
    }
    auto line = std::make_unique<Line>();
    if (std::string error = OpenLine(line->master, line->slave, line->path); !error.empty()) {
        return error;
    }
    if (std::string error = UpdateLink(m_options.linkPath, line->path); !error.empty()) {
        return error;
    }
    m_hStopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_hStopEvent < 0) {
        return std::string("cannot create an event: ") + std::strerror(errno);
    }
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_slavePath = line->path;
    }
    m_line = std::move(line);
    m_hThread = std::make_unique<std::thread>(&CModuleSimulator::Run, this);
    return {};
}

void CModuleSimulator::Stop() {
    if (!m_hThread) {
        return;
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(m_hStopEvent, &one, sizeof one);
    m_hThread->join();
    m_hThread.reset();
    ::close(m_hStopEvent);
    m_hStopEvent = -1;
    // Another simulator started with the same link may have taken it over since: the link goes
    // only while it still names our terminal, which stays open (and its name ours) until here.
    if (!m_options.linkPath.empty()) {
        std::error_code error;
        const std::filesystem::path target =
            std::filesystem::read_symlink(m_options.linkPath, error);
        if (!error && target == SlavePath()) {
            std::filesystem::remove(m_options.linkPath, error);
        }
    }
    m_line.reset();
}

std::string CModuleSimulator::SlavePath() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_slavePath;
}

SimulatorCounts CModuleSimulator::Counts() const {
    SimulatorCounts counts;
    counts.framesSent = m_framesSent.load();
    counts.framesDamaged = m_framesDamaged.load();
    counts.framesBroken = m_framesBroken.load();
    counts.framesGarbled = m_framesGarbled.load();
    counts.framesCut = m_framesCut.load();
    counts.disconnections = m_disconnections.load();
    return counts;
}

std::string CModuleSimulator::ReceivedBytes() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_received;
}

void CModuleSimulator::Run() {
    std::mt19937 rng(m_options.seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    SimulatedModuleState module;
    std::string output;  // bytes waiting for the line
    // Frames in `output`, while someone listens for frames written.
    std::vector<SimFrameBlock> notWrittenYet;
    bool isStreaming = false;  // a continuous stream runs
    bool isTemperature = true;
    uint64_t streamFrames = 0;  // frames of the current stream
    uint64_t lineFrames = 0;    // frames sent on the current line
    bool hasDisconnected = false;
    Clock::time_point streamStart;
    Clock::time_point reconnectAt;
    // Any rate a command line gives: a NaN rate streams at the default one, and the rate stays
    // within bounds where the count of frames due below converts to an integer safely.
    const double fps = std::isnan(m_options.fps) ? SimulatorOptions{}.fps
                                                 : std::clamp(m_options.fps, 0.001, kMaxFps);
    const auto period = std::chrono::duration<double>(1.0 / fps);

    // Where the frames' markers lie in the bytes of the current line, to tell at a disconnection
    // which of them the reader got. Positions count every byte queued on the line; a marker's
    // position is that of the byte after it.
    uint64_t lineWritten = 0;         // bytes written to the line; `output` holds those after it
    std::deque<uint64_t> markerEnds;  // frames whose marker may not have been read yet
    auto cutFramesNotRead = [&](uint64_t readBytes) {
        for (const uint64_t end : markerEnds) {
            if (end > readBytes) {
                ++m_framesCut;
            }
        }
        markerEnds.clear();
    };
    // The line goes down (or the simulator stops): what the reader has not read is lost.
    auto closeLineAccounts = [&] {
        if (m_line && m_line->slave >= 0) {
            cutFramesNotRead(lineWritten - TakeUnreadBytes(m_line->slave));
        } else {
            cutFramesNotRead(0);
        }
        output.clear();
        notWrittenYet.clear();
        lineWritten = 0;
    };

    auto queueFrame = [&](bool temperature) {
        const SimFrameBlock block = BuildSimulatedFrame(m_framesSent.load(), temperature, rng);
        if (m_options.garbageRate > 0 && chance(rng) < m_options.garbageRate) {
            std::uniform_int_distribution<int> size(1, 300);
            std::uniform_int_distribution<int> value(0, 255);
            for (int i = size(rng); i > 0; --i) {
                output.push_back(static_cast<char>(value(rng)));
            }
            ++m_framesGarbled;
        }
        size_t dropAt = block.size();
        size_t dropCount = 0;
        if (m_options.dropRate > 0 && chance(rng) < m_options.dropRate) {
            dropAt = std::uniform_int_distribution<size_t>(0, block.size() - 65)(rng);
            dropCount = std::uniform_int_distribution<size_t>(1, 64)(rng);
            ++m_framesDamaged;
        }
        const size_t markerEnd = kFrameMarkerOffset + sizeof kFrameMarker;
        const bool isMarkerHit = dropAt < markerEnd && dropAt + dropCount > kFrameMarkerOffset;
        const uint64_t frameStart = lineWritten + output.size();
        for (size_t i = 0; i < block.size(); ++i) {
            if (i < dropAt || i >= dropAt + dropCount) {
                output.push_back(static_cast<char>(block[i]));
            }
        }
        if (m_frameWritten) {
            notWrittenYet.push_back(block);
        }
        if (isMarkerHit) {
            ++m_framesBroken;
        } else {
            markerEnds.push_back(frameStart + markerEnd - (dropAt < markerEnd ? dropCount : 0));
        }
        ++m_framesSent;
        ++lineFrames;
    };

    auto answer = [&](uint8_t letter) {
        if (m_options.silentOn.find(static_cast<char>(letter)) != std::string::npos) {
            return;
        }
        switch (letter) {
            case 'K':
            case 't':
                isStreaming = true;
                isTemperature = letter == 'K';
                streamFrames = 0;
                streamStart = Clock::now();
                break;
            case 'k':
            case 'c':
            case 'C':
                isStreaming = false;
                queueFrame(letter != 'c');
                break;
            case 'x':
            case 'T':
                isStreaming = false;
                output += SimulatedTextReply(letter, module);
                break;
            case 'M':
                output += SimulatedInfoReply(module);
                break;
            case 'a':
            case 'A':
                module.mclkKHz += letter == 'a' ? kSimulatedMclkStepKHz : -kSimulatedMclkStepKHz;
                output += SimulatedMclkStepReply(module);
                break;
            case 'w':
                isStreaming = false;
                output += SimulatedCalibrationTable();
                break;
            default:
                output += SimulatedTextReply(letter, module);
                break;
        }
    };

    uint8_t input[4096];
    while (true) {
        const bool isLineUp = m_line && m_line->master >= 0;
        int timeoutMs = 100;
        if (!isLineUp) {
            timeoutMs = static_cast<int>(std::max<int64_t>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(reconnectAt - Clock::now())
                       .count()));
        } else if (isStreaming) {
            const auto due = streamStart + std::chrono::duration_cast<Clock::duration>(
                                               period * static_cast<double>(streamFrames + 1));
            timeoutMs = static_cast<int>(std::max<int64_t>(
                0,
                std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count()));
        }
        pollfd fds[2] = {{m_hStopEvent, POLLIN, 0},
                         {isLineUp ? m_line->master : -1,
                          static_cast<short>(POLLIN | (output.empty() ? 0 : POLLOUT)), 0}};
        if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents & POLLIN) {
            if (isLineUp) {
                closeLineAccounts();
            }
            break;
        }
        if (!isLineUp) {
            m_isDisconnectRequested = false;
            if (Clock::now() >= reconnectAt) {
                auto line = std::make_unique<Line>();
                if (OpenLine(line->master, line->slave, line->path).empty()) {
                    UpdateLink(m_options.linkPath, line->path);
                    std::lock_guard<std::mutex> lock(m_stateLock);
                    m_slavePath = line->path;
                    m_line = std::move(line);
                    lineFrames = 0;
                }
            }
            continue;
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t got = ::read(m_line->master, input, sizeof input);
            if (got > 0) {
                {
                    std::lock_guard<std::mutex> lock(m_stateLock);
                    m_received.append(reinterpret_cast<const char*>(input), got);
                }
                for (ssize_t i = 0; i < got; ++i) {
                    if (m_byteLogger) {
                        m_byteLogger(input[i]);
                    }
                    answer(input[i]);
                }
            }
        }
        if (isStreaming) {
            const auto elapsed = Clock::now() - streamStart;
            const auto due = static_cast<uint64_t>(std::chrono::duration<double>(elapsed).count() /
                                                   period.count());
            for (int n = 0; streamFrames < due && n < kMaxFramesPerPass; ++n) {
                queueFrame(isTemperature);
                ++streamFrames;
            }
            // Far behind (a very high rate on a busy machine): skip ahead rather than burst.
            if (due > streamFrames + kMaxFramesPerPass) {
                streamFrames = due;
            }
        }
        if (output.size() > kMaxPendingOutput) {
            // No reader: what the module sends meanwhile is gone.
            while (!markerEnds.empty() && markerEnds.back() > lineWritten) {
                markerEnds.pop_back();
                ++m_framesCut;
            }
            output.clear();
        }
        while (!output.empty()) {
            size_t size = output.size();
            if (m_options.chunking) {
                size = std::min(size, std::uniform_int_distribution<size_t>(1, 700)(rng));
            }
            const ssize_t put = ::write(m_line->master, output.data(), size);
            if (put <= 0) {
                break;
            }
            output.erase(0, static_cast<size_t>(put));
            lineWritten += static_cast<uint64_t>(put);
            while (!markerEnds.empty() && markerEnds.front() + kSurelyReadBytes <= lineWritten) {
                markerEnds.pop_front();
            }
            if (m_options.chunking) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        if (output.empty()) {
            for (const SimFrameBlock& block : notWrittenYet) {
                m_frameWritten(block.data());
            }
            notWrittenYet.clear();
        }
        const bool isDueToDisconnect =
            !hasDisconnected && m_options.disconnectAfter >= 0 &&
            lineFrames >= static_cast<uint64_t>(m_options.disconnectAfter);
        if (isDueToDisconnect || m_isDisconnectRequested.exchange(false)) {
            // Pull the plug; the line comes back on a fresh terminal half a second later.
            hasDisconnected = hasDisconnected || isDueToDisconnect;
            ++m_disconnections;
            closeLineAccounts();
            m_line.reset();
            isStreaming = false;
            reconnectAt = Clock::now() + std::chrono::milliseconds(500);
        }
    }
}
