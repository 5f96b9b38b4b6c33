// `thermal record`: records the module's stream without a window. The port, the handshake and the
// stop sequence are the viewer's module session, driven by the module feed; every frame goes
// through the viewer's frame pipeline into the viewer's recording run, so the files are byte for
// byte those that "Rec" writes with the same settings, split into parts and checked for disk space
// the same way.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/option_table.h"
#include "cli/processing_options.h"
#include "commands.h"
#include "live_command.h"
#include "live_output.h"
#include "module_feed.h"
#include "platform/one_line.h"
#include "processing/frame_pipeline.h"
#include "recording/file_kind.h"
#include "recording/recording_run.h"
#include "remote/mqtt_address.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kProgressPeriod = 250ms;
// The longest the main loop sleeps between looks at signals, limits and the video timer.
constexpr auto kLoopWait = 10ms;
// Frames taken at most in one go, so signals and the video clock are served in between.
constexpr std::size_t kMaxFramesAtOnce = IModuleFeed::kMaxWaitingFrames;

constexpr char kUsageHead[] =
    "Usage: thermal record --port NAME OUTPUT.bds|OUTPUT.txt|OUTPUT.avi [options]\n"
    "\n"
    "Starts the module on the serial port NAME as the viewer's START does (x, M, then K) and\n"
    "records its stream as the viewer's \"Rec\" does: a binary stream (.bds, the frames as\n"
    "received), a text stream (.txt, the processed values) or a video of the display (.avi,\n"
    "20 frames a second). A long recording continues in OUTPUT_001.bds, OUTPUT_002.bds, ...\n"
    "(a number whose name is taken is skipped: no file is ever replaced); recording stops when\n"
    "its disk has less than 256 MiB free. At the limit, on Ctrl-C or on SIGTERM the module is\n"
    "turned off and the file closed. An existing OUTPUT is refused unless --overwrite is given.\n"
    "\n"
    "With --port mqtt://HOST[:PORT]/PREFIX the frames come from a module that 'thermal publish'\n"
    "serves on an MQTT broker (port 1883 unless given): the recording subscribes to its\n"
    "PREFIX/frame and at the end only unsubscribes, as the module may have other viewers.\n"
    "Payloads that are not whole frame records are dropped and counted, and so are frames of\n"
    "another publisher run (a publisher that took over the module is followed, said in one\n"
    "line). The recording keeps a persistent session at QoS 1 under its client id: the broker\n"
    "queues the frames it misses while away (up to its max_queued_messages) for up to 10\n"
    "minutes, and forgets the session at the end. Frames the publisher numbered that never came\n"
    "are counted in the summary and end the recording with status 1. The module counts as gone\n"
    "once its publisher says it ended or lost the module, once a publisher the broker lost (its\n"
    "last will, which a broker restart sends too) is not back within 60 s, once the broker has\n"
    "been out of reach for 2 minutes, or at once when the broker refuses the connection for\n"
    "good (a wrong password, not authorised).\n"
    "\n"
    "Options:\n"
    "  --port NAME           serial device of the module, e.g. /dev/ttyUSB0, or\n"
    "                        mqtt://HOST[:PORT]/PREFIX for a module on a broker (required;\n"
    "                        mqtts://, TLS, is not supported here yet)\n"
    "  --frames N            stop after N frames written; for .avi N video frames\n"
    "                        (default: until interrupted)\n"
    "  --duration SECONDS    stop after this long (default: until interrupted)\n"
    "  --every N             write every N-th frame, as \"Every Frame\" (default 1; .bds and\n"
    "                        .txt only)\n"
    "  --voltage             record voltage frames (t) instead of temperatures (K) (default:\n"
    "                        temperatures; not for a module on a broker)\n"
    "  --overwrite           replace OUTPUT if it exists (a regular file only)\n"
    "  --client-id ID        a module on a broker: the client id of the persistent session\n"
    "                        (default thermal-record-HOST-PID, HOST this machine's name); give\n"
    "                        the same one again to take up what the broker kept for a recorder\n"
    "                        that did not end cleanly, never to two recorders at once\n"
    "\n"
    "Processing options (they shape .txt and .avi; a .bds keeps the frames as received):\n";

struct RecordOptions {
    std::string port;
    std::string output;
    int type = 0;  // kRecordingBinary, kRecordingText or kRecordingVideo
    std::optional<uint64_t> frames;
    std::optional<double> seconds;
    int everyN = 1;
    bool hasEvery = false;
    bool voltage = false;
    bool overwrite = false;
    std::string clientId;  // a module on a broker: the persistent session's client id
    ProcessingOptions processing;
};

int UsageError(const std::string& message) {
    return CommandLineError("record", message);
}

// "thermal-record-HOST-PID": the same for every reconnection of this recording, another for
// every recording, so that no two share a session.
std::string DefaultClientId() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        std::strcpy(host, "localhost");
    }
    return "thermal-record-" + std::string(host) + "-" + std::to_string(::getpid());
}

// Returns 0 when the options are good, else the exit status after printing why.
int ParseOptions(int argc, char** argv, RecordOptions& options) {
    std::vector<std::string> positional;
    COptionTable table;
    AddProcessingOptions(table, options.processing);
    table.Text("--port", "a device name", options.port);
    table.Ranged<uint64_t>("--frames", 1, 1'000'000'000'000,
                           [&options](uint64_t frames) { options.frames = frames; });
    table.Ranged<double>("--duration", 0.001, 1e9,
                         [&options](double seconds) { options.seconds = seconds; });
    table.Ranged<int>("--every", 1, 1'000'000, [&options](int every) {
        options.everyN = every;
        options.hasEvery = true;
    });
    table.Flag("--voltage", options.voltage);
    table.Flag("--overwrite", options.overwrite);
    table.Text("--client-id", "a client id", options.clientId);
    if (const std::string error = table.Parse(argc, argv, positional); !error.empty()) {
        return UsageError(error);
    }
    if (options.port.empty()) {
        return UsageError("missing --port NAME");
    }
    if (!options.clientId.empty() && !IsMqttAddress(options.port)) {
        return UsageError("--client-id applies to a module on a broker (--port mqtt://...) only");
    }
    if (options.clientId.empty() && IsMqttAddress(options.port)) {
        options.clientId = DefaultClientId();
    }
    if (const std::string problem = ModuleFeedOptionsProblem({options.port, options.voltage});
        !problem.empty()) {
        return UsageError(problem);
    }
    if (positional.empty()) {
        return UsageError("missing OUTPUT.bds, OUTPUT.txt or OUTPUT.avi");
    }
    if (positional.size() > 1) {
        return UsageError("one output file only, got '" + positional[0] + "' and '" +
                          positional[1] + "'");
    }
    options.output = positional[0];
    options.type = RecordingTypeOf(FileKindOf(options.output));
    if (options.type == 0) {
        return UsageError("cannot record into '" + options.output +
                          "': the name must end in .bds, .txt or .avi");
    }
    // Checked before the module is started; the file itself is created only with the first
    // frame, and then just as strictly.
    struct stat existing {};
    if (::lstat(options.output.c_str(), &existing) == 0) {
        if (!options.overwrite) {
            return UsageError("'" + options.output + "' exists; give --overwrite to replace it");
        }
        if (::stat(options.output.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
            return UsageError("cannot record into '" + options.output +
                              "': it is not a regular file");
        }
    }
    if (options.frames && options.seconds) {
        return UsageError("--frames and --duration cannot be used together");
    }
    if (options.hasEvery && options.type == kRecordingVideo) {
        return UsageError(
            "--every does not apply to a video, which samples the display 20 times "
            "a second");
    }
    return 0;
}

std::string SizeText(uint64_t bytes) {
    char text[32];
    if (bytes < 1024 * 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024 * 1024));
    }
    return text;
}

// One recording from start to end, on the calling thread (the owner of the session).
class CRecordRun {
  public:
    explicit CRecordRun(const RecordOptions& options)
        : m_options(options),
          m_isProgressShown(::isatty(STDERR_FILENO) != 0),
          m_feed(MakeModuleFeed({options.port, options.voltage, "recording", options.clientId})) {
        if (m_isProgressShown) {
            m_progressOutput.emplace(STDERR_FILENO);
        }
        ApplyProcessingOptions(options.processing, m_pipeline);
        m_pipeline.SetCallback(&CRecordRun::OnFrameReady, this);
        RecordingRunListener listener;
        listener.notice = [this](const std::string& notice) {
            std::lock_guard lock(m_noticeLock);
            m_notices.push_back(notice);
        };
        m_run.SetListener(std::move(listener));
    }

    // The exit status: 0 after a limit or a signal, 1 when the module or the file failed.
    int Run() {
        if (!m_feed->Open()) {
            std::fprintf(stderr, "thermal record: %s\n", OneLine(m_feed->Failure()).c_str());
            return 1;
        }
        // The file is made only once the module streams, so a silent module or an interrupted
        // start leaves no empty file behind (nor truncates an old one).
        const FeedStart start = m_feed->StartStream([this] { return IsSignalled(); });
        // The recording's time (its duration, its rate) runs from the stream's start.
        m_recordStart = m_feed->StreamStart();
        if (start != FeedStart::kStreaming) {
            m_failure = m_feed->Failure();
            return Finish(false);
        }
        if (m_run.OpenFile(m_options.type, m_options.output,
                           m_options.overwrite ? RecordingFileCreation::kReplaceRegularFile
                                               : RecordingFileCreation::kNewFileOnly) == 0) {
            m_failure = m_run.Recorder().GetLastError();
            return Finish(false);
        }
        RecordingRunRules rules;
        rules.everyN = m_options.everyN;
        rules.frameLimit = m_options.frames.value_or(0);
        rules.endsAtFirstStop = true;
        m_run.Begin(rules);
        m_nextProgress = Clock::now();
        std::optional<Clock::time_point> deadline;
        if (m_options.seconds) {
            deadline = m_recordStart + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(*m_options.seconds));
        }

        while (m_run.IsTaking()) {
            m_feed->Serve();
            Clock::time_point wakeUp = Clock::now() + kLoopWait;
            if (m_options.type == kRecordingVideo) {
                wakeUp = std::min(wakeUp, m_run.NextVideoTick());
            }
            if (deadline) {
                wakeUp = std::min(wakeUp, *deadline);
            }
            const Clock::duration wait = std::max<Clock::duration>(wakeUp - Clock::now(), 0ms);
            TakeFrames(wait);
            if (m_options.type == kRecordingVideo) {
                m_run.ServeVideoClock(Clock::now());
            }
            if (IsSignalled() || (deadline && Clock::now() >= *deadline)) {
                break;
            }
            if (m_feed->IsLost()) {
                m_failure = m_feed->Failure();
                break;
            }
            PrintNotices(m_feed->TakeNotices());
            ShowProgress(false);
        }
        return Finish(true);
    }

  private:
    static void OnFrameReady(void* owner, const char* modeLetter, const std::string& text,
                             const uint8_t* raw, const uint8_t* image, const uint16_t* /*values*/) {
        auto* self = static_cast<CRecordRun*>(owner);
        if (self->m_options.type == kRecordingVideo) {
            self->m_run.KeepDisplayImage(image);
            return;
        }
        self->m_run.TakeFrame({*modeLetter, text, raw, self->m_pipeline.GetUnit(),
                               self->m_pipeline.IsElOffsetSubtraction() != 0});
    }

    // Takes what the monitor thread handed over (waiting at most `limit` for it) and, while
    // recording, processes it as the viewer's processing thread does; frames that come after the
    // end of the recording are let go.
    void TakeFrames(Clock::duration limit) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(limit);
        SourceFrame frame;
        for (std::size_t taken = 0; taken < kMaxFramesAtOnce &&
                                    m_feed->Frames().NextWithin(frame, wait) == SourceRead::kFrame;
             ++taken) {
            wait = 0ms;
            if (m_run.IsTaking()) {
                m_pipeline.ProcessFrameNow(frame.modeLetter, kFrameBlockSize, frame.block);
            }
        }
    }

    // `notices` of the module (a handshake not answered, a rate the line cannot carry), then those
    // of the recording (a part that took another number), which the writer thread leaves for this
    // thread: it owns standard error.
    void PrintNotices(std::vector<std::string> notices = {}) {
        {
            std::lock_guard lock(m_noticeLock);
            notices.insert(notices.end(), m_notices.begin(), m_notices.end());
            m_notices.clear();
        }
        for (const std::string& notice : notices) {
            ShowProgress(true);
            const std::string line = "thermal record: " + OneLine(notice) + "\n";
            if (!m_progressOutput) {
                std::fputs(line.c_str(), stderr);
                continue;
            }
            // A terminal whose output is stopped (Ctrl-S) is waited for, but not past a stop.
            static_cast<void>(
                m_progressOutput->Write(line, [this](std::size_t) { return !IsSignalled(); }));
        }
    }

    // True once SIGINT or SIGTERM has arrived.
    bool IsSignalled() {
        m_signalCount = CStopSignals::Count();
        return m_signalCount > 0;
    }

    static uint64_t BytesWritten(const std::vector<std::string>& parts) {
        uint64_t total = 0;
        for (const std::string& part : parts) {
            struct stat info {};
            if (::stat(part.c_str(), &info) == 0) {
                total += static_cast<uint64_t>(info.st_size);
            }
        }
        return total;
    }

    // From the start of the stream to now, or to the end of the recording once it has ended.
    double SecondsRecording() const {
        const Clock::time_point end = m_recordEnd ? *m_recordEnd : Clock::now();
        return std::chrono::duration<double>(end - m_recordStart).count();
    }

    // On a terminal only: one line, rewritten a few times a second. `isClearing` ends it so that
    // other text can follow.
    void ShowProgress(bool isClearing) {
        if (!m_isProgressShown) {
            return;
        }
        if (isClearing) {
            if (m_hasProgressLine) {
                WriteProgress("\r\033[K");
                m_hasProgressLine = false;
            }
            return;
        }
        const auto now = Clock::now();
        if (now < m_nextProgress) {
            return;
        }
        m_nextProgress = now + kProgressPeriod;
        const double seconds = SecondsRecording();
        const std::vector<std::string> parts = m_run.Parts();
        const uint64_t written = m_run.Written();
        char counts[128];
        std::snprintf(counts, sizeof counts, ": %llu frames, %.1f frames/s, %s",
                      static_cast<unsigned long long>(written),
                      seconds > 0 ? static_cast<double>(written) / seconds : 0.0,
                      SizeText(BytesWritten(parts)).c_str());
        WriteProgress("\r\033[K" + OneLine(parts.back()) + counts);
        m_hasProgressLine = true;
    }

    // The progress line goes out only as far as the terminal takes it at once: a terminal whose
    // output is stopped (Ctrl-S) must not hold up the recording, nor a stop.
    void WriteProgress(const std::string& text) {
        static_cast<void>(m_progressOutput->Write(text, [](std::size_t) { return false; }));
    }

    // The stop sequence: the module is turned off (the frames it sent before it stopped are still
    // recorded, unless the limit or a failure ended the recording), the session closed, then the
    // file. Returns the exit status.
    int Finish(bool wasRecording) {
        const Clock::time_point stopStart = Clock::now();
        ShowProgress(true);
        if (m_options.type == kRecordingVideo) {
            m_run.StopTaking();  // the display stops with the stream
        }
        const int signalsBefore = m_signalCount;
        m_feed->Stop([this, signalsBefore] {
            TakeFrames(0ms);
            // A second Ctrl-C cuts the wait for the module's last frames short.
            return !(IsSignalled() && m_signalCount > signalsBefore);
        });
        TakeFrames(0ms);
        m_run.Stop();  // what is queued is written, then the file closed
        // The recording ends with its last frame, if the module's last frames came after the stop
        // began; the wait for the module's answer does not count.
        const std::optional<Clock::time_point> lastWrite = m_run.LastWriteTime();
        m_recordEnd = lastWrite ? std::max(stopStart, *lastWrite) : stopStart;
        m_feed->Close();
        TakeFrames(0ms);
        PrintNotices(m_feed->TakeNotices());
        if (m_failure.empty()) {
            m_failure = m_run.FailureReason();
        }

        const uint64_t dropped = m_feed->Frames().Dropped();
        if (!wasRecording && m_failure.empty()) {
            std::fprintf(stderr,
                         "thermal record: stopped before the first frame; nothing "
                         "recorded\n");
        }
        if (wasRecording) {
            const double seconds = SecondsRecording();
            const std::vector<std::string> parts = m_run.Parts();
            const uint64_t written = m_run.Written();
            std::string files = "'" + parts.front() + "'";
            if (parts.size() > 1) {
                files += " and " + std::to_string(parts.size() - 1) + " more part" +
                         (parts.size() > 2 ? "s" : "");
            }
            // What the module delivered beside what was written tells frames left out on
            // purpose (--every, after --frames) and losses on the line from the recorder's own.
            std::string received =
                ", " + std::to_string(m_feed->Frames().Received()) + " frames received";
            if (dropped > 0) {
                received += ", " + std::to_string(dropped) +
                            " of them lost: the recording fell behind the stream";
            }
            received += m_feed->LossText();
            std::fprintf(
                stderr, "thermal record: %llu %s written to %s (%s) in %.1f s (%.1f/s)%s\n",
                static_cast<unsigned long long>(written),
                m_options.type == kRecordingVideo ? "video frames" : "frames",
                OneLine(files).c_str(), SizeText(BytesWritten(parts)).c_str(), seconds,
                seconds > 0 ? static_cast<double>(written) / seconds : 0.0, received.c_str());
        }
        if (m_failure.empty() && m_feed->FramesMissing() > 0) {
            m_failure = "the recording is incomplete: frames its publisher sent never arrived";
        }
        if (!m_failure.empty()) {
            std::fprintf(stderr, "thermal record: %s\n", OneLine(m_failure).c_str());
            return 1;
        }
        return 0;
    }

    const RecordOptions& m_options;
    const bool m_isProgressShown;
    std::optional<CLiveOutput> m_progressOutput;  // standard error, when it is a terminal

    std::mutex m_noticeLock;             // guards m_notices, added to by the recording's writer
    std::vector<std::string> m_notices;  // printed by the main loop

    // Main thread only from here on.
    std::string m_failure;
    int m_signalCount = 0;
    bool m_hasProgressLine = false;
    Clock::time_point m_recordStart;
    std::optional<Clock::time_point> m_recordEnd;
    Clock::time_point m_nextProgress;

    // Takes the processed frames and writes them; its writer thread reports to the members above.
    CRecordingRun m_run;
    CFramePipeline m_pipeline;
    // Last: destroyed first, so no callback of the module's link outlives what it uses.
    std::unique_ptr<IModuleFeed> m_feed;
};

}  // namespace

int RunRecord(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::fputs(kUsageHead, stdout);
        std::fputs(kProcessingOptionsHelp, stdout);
        return 0;
    }
    RecordOptions options;
    if (const int status = ParseOptions(argc, argv, options); status != 0) {
        return status;
    }

    // A file size limit must fail a write, not kill the process before the file is closed.
    return RunLiveCommand<CRecordRun>("record", options, {SIGXFSZ});
}
