#pragma once
// CModuleSimulator: a stand-in for the thermopile module on a pseudo-terminal. The viewer (or any
// serial program) opens SlavePath() like a real port; the simulator answers every command letter
// the way the module does, streams frames at a chosen rate, and can damage the stream on purpose
// (garbage, lost bytes, odd write sizes, a vanishing device, a command it never answers) so that
// the recovery paths can be seen and tested. It runs its own thread between Start and Stop; the
// accessors may be called from any thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct SimulatorOptions {
    double fps = 5.4;          // frames per second of a continuous stream (115200 baud carries 5.4)
    uint32_t seed = 1;         // makes scene, noise and faults repeatable
    double garbageRate = 0.0;  // chance per frame of stray bytes before it
    double dropRate = 0.0;     // chance per frame of losing a few bytes inside it
    bool chunking = false;     // write in random sizes instead of whole replies
    int64_t disconnectAfter = -1;  // close the line after this many frames (once), then return
    std::string silentOn;          // letters never answered
    std::string linkPath;          // a symlink kept pointing at the current slave, if not empty
};

// The folder of the pseudo-terminals the simulator's links point at.
inline constexpr char kPseudoTerminalFolder[] = "/dev/pts/";

// Whether `link` may be made to point at the simulator: it is missing, or a symbolic link into
// kPseudoTerminalFolder (one an earlier simulator left, even if its terminal is gone). Anything
// else at that name belongs to somebody else and is never replaced. Returns why not, or empty.
std::string CheckSimulatorLink(const std::string& link);

class CModuleSimulator {
  public:
    explicit CModuleSimulator(SimulatorOptions options);
    ~CModuleSimulator();
    CModuleSimulator(const CModuleSimulator&) = delete;
    CModuleSimulator& operator=(const CModuleSimulator&) = delete;

    // Opens the pseudo-terminal and starts answering. Returns an error message, empty on success.
    std::string Start();
    // Stops the thread and closes the line (the slave path disappears). Safe to call twice.
    void Stop();

    // The device path to open, e.g. /dev/pts/3. Changes when the line comes back after a
    // simulated disconnection.
    std::string SlavePath() const;
    // Every byte received so far, in order.
    std::string ReceivedBytes() const;
    uint64_t FramesSent() const { return m_framesSent.load(); }
    uint64_t Disconnections() const { return m_disconnections.load(); }
    // Called on the simulator's thread for each byte received (for `thermal sim`'s log).
    void SetByteLogger(std::function<void(uint8_t)> logger) { m_byteLogger = std::move(logger); }

  private:
    struct Line;
    void Run();

    SimulatorOptions m_options;
    std::function<void(uint8_t)> m_byteLogger;
    std::unique_ptr<std::thread> m_hThread;
    int m_hStopEvent = -1;
    std::unique_ptr<Line> m_line;  // the current pseudo-terminal; simulator thread after Start

    mutable std::mutex m_stateLock;  // guards m_slavePath and m_received
    std::string m_slavePath;
    std::string m_received;

    std::atomic<uint64_t> m_framesSent{0};
    std::atomic<uint64_t> m_disconnections{0};
};
