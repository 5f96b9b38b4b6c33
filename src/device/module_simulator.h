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

// What became of the frames the simulator made, for checking that a reader accounts for each.
// A frame's marker "reached the line" when its four bytes were read from the terminal by the
// reader. Every frame sent ends up in exactly one of: marker reached the line, broken on purpose,
// cut.
struct SimulatorCounts {
    uint64_t framesSent = 0;      // frames made for the line
    uint64_t framesDamaged = 0;   // frames that lost some bytes on purpose (drop rate)
    uint64_t framesBroken = 0;    // of those, the ones whose lost bytes include the marker
    uint64_t framesGarbled = 0;   // frames preceded by stray bytes on purpose (garbage rate)
    uint64_t framesCut = 0;       // marker never read: still queued or unread in the terminal
                                  // when the line went down (or the simulator stopped), or thrown
                                  // away because nobody read the line
    uint64_t disconnections = 0;  // times the line went down, not counting Stop
};

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
    // A snapshot of the frame counts; final once Stop has returned.
    SimulatorCounts Counts() const;
    // Any thread: pulls the plug as disconnectAfter does, within about 100 ms; the line comes
    // back half a second later on a fresh terminal. Nothing while the line is already down.
    void Disconnect() { m_isDisconnectRequested = true; }
    // Called on the simulator's thread for each byte received (for `thermal sim`'s log).
    void SetByteLogger(std::function<void(uint8_t)> logger) { m_byteLogger = std::move(logger); }
    // Called on the simulator's thread with each frame block once all of it has been written
    // to the line (for measuring how long a frame takes from the module to somewhere else).
    // Before Start.
    void SetFrameWrittenListener(std::function<void(const uint8_t* block)> listener) {
        m_frameWritten = std::move(listener);
    }

  private:
    struct Line;
    void Run();

    SimulatorOptions m_options;
    std::function<void(uint8_t)> m_byteLogger;
    std::function<void(const uint8_t* block)> m_frameWritten;
    std::unique_ptr<std::thread> m_hThread;
    int m_hStopEvent = -1;
    std::unique_ptr<Line> m_line;  // the current pseudo-terminal; simulator thread after Start

    mutable std::mutex m_stateLock;  // guards m_slavePath and m_received
    std::string m_slavePath;
    std::string m_received;

    std::atomic<uint64_t> m_framesSent{0};
    std::atomic<uint64_t> m_framesDamaged{0};
    std::atomic<uint64_t> m_framesBroken{0};
    std::atomic<uint64_t> m_framesGarbled{0};
    std::atomic<uint64_t> m_framesCut{0};
    std::atomic<uint64_t> m_disconnections{0};
    std::atomic<bool> m_isDisconnectRequested{false};
};
