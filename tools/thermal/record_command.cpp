// `thermal record`: records the module's stream without a window, as a run over the module
// (a serial port, or a broker) into one output named by its extension: a binary or text stream or
// a video, written by the viewer's own recording run, so that the files are byte for byte those
// that "Rec" writes with the same settings (split into parts and checked for disk space the same
// way), or a table, TIFF stack or NumPy array as `thermal convert` writes them.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/option_table.h"
#include "cli/processing_options.h"
#include "commands.h"
#include "live_command.h"
#include "outputs/live_output.h"
#include "outputs/output_table.h"
#include "platform/one_line.h"
#include "recording/file_kind.h"
#include "recording/stream_recorder.h"
#include "remote/mqtt_address.h"
#include "remote/remote_module_feed.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kProgressPeriod = 250ms;

constexpr char kUsageHead[] =
    "Usage: thermal record --port NAME OUTPUT [options]\n"
    "\n"
    "Starts the module on the serial port NAME as the viewer's START does (x, M, then K) and\n"
    "records its stream into OUTPUT, chosen by its extension (any case):\n"
    "  .bds   binary stream, the frames as received, as the viewer's \"Rec\" writes it\n"
    "  .txt   text stream, the processed values, as \"Rec\" writes it\n"
    "  .avi   video of the display, 20 frames a second, as \"Rec\" writes it\n"
    "  .csv   31 rows x 32 columns per frame, .tiff (or .tif) one 16-bit page per frame, .npy\n"
    "         one NumPy array: the files 'thermal convert' writes of the same frames (see\n"
    "         'thermal convert --help'), growing as the frames come\n"
    "A long .bds, .txt or .avi recording continues in OUTPUT_001.bds, OUTPUT_002.bds, ... (a\n"
    "number whose name is taken is skipped: no file is ever replaced); recording stops when its\n"
    "disk has less than 256 MiB free. At the limit, on Ctrl-C or on SIGTERM the module is\n"
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
    "Processing options (they shape every output but .bds, which keeps the frames as received):\n";

struct RecordOptions {
    LiveOptions live;
    std::string output;
    FileKind kind = FileKind::kUnknown;
    int everyN = 1;
    bool hasEvery = false;
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

// Written by the recorder, which has rules of its own for --frames and --every.
bool IsRecorded(FileKind kind) {
    return RecordingTypeOf(kind) != 0;
}

// Returns 0 when the options are good, else the exit status after printing why.
int ParseOptions(int argc, char** argv, RecordOptions& options) {
    std::vector<std::string> positional;
    COptionTable table;
    AddProcessingOptions(table, options.processing);
    AddLiveOptions(table, options.live);
    table.Ranged<int>("--every", 1, 1'000'000, [&options](int every) {
        options.everyN = every;
        options.hasEvery = true;
    });
    table.Flag("--overwrite", options.overwrite);
    table.Text("--client-id", "a client id", options.clientId);
    if (const std::string error = table.Parse(argc, argv, positional); !error.empty()) {
        return UsageError(error);
    }
    const bool isRemote = IsMqttAddress(options.live.port);
    if (!options.clientId.empty() && !isRemote) {
        return UsageError("--client-id applies to a module on a broker (--port mqtt://...) only");
    }
    if (options.clientId.empty() && isRemote) {
        options.clientId = DefaultClientId();
    }
    if (const std::string problem = LiveOptionsProblem(options.live); !problem.empty()) {
        return UsageError(problem);
    }
    if (positional.empty()) {
        return UsageError("missing OUTPUT");
    }
    if (positional.size() > 1) {
        return UsageError("one output file only, got '" + positional[0] + "' and '" +
                          positional[1] + "'");
    }
    options.output = positional[0];
    options.kind = FileKindOf(options.output);
    const auto rows = OutputRows();
    if (std::none_of(rows.begin(), rows.end(),
                     [&](const OutputRow& row) { return row.kind == options.kind; })) {
        return UsageError("cannot record into '" + options.output +
                          "': the name must end in .bds, .txt, .avi, .csv, .tiff, .tif or .npy");
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
    if (options.hasEvery && options.kind == FileKind::kVideo) {
        return UsageError(
            "--every does not apply to a video, which samples the display 20 times "
            "a second");
    }
    if (options.hasEvery && !IsRecorded(options.kind)) {
        return UsageError("--every applies to .bds and .txt recordings only");
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

// One recording from start to end, on the calling thread (the owner of the run).
class CRecordRun {
  public:
    explicit CRecordRun(const RecordOptions& options)
        : m_options(options),
          m_isProgressShown(::isatty(STDERR_FILENO) != 0),
          m_run(MakeModuleFeed(
              {options.live.port, options.live.voltage, "recording", options.clientId})) {
        if (m_isProgressShown) {
            m_progressOutput.emplace(STDERR_FILENO);
        }
        ApplyProcessingOptions(options.processing, m_run.Pipeline());
        FileSinkOptions sink;
        sink.place = {options.output,
                      OutputFileMode::kGrowing,
                      {},
                      options.overwrite ? RecordingFileCreation::kReplaceRegularFile
                                        : RecordingFileCreation::kNewFileOnly};
        sink.sourceName = options.live.port;
        sink.everyN = options.everyN;
        RunLimits limits = LimitsOf(options.live);
        if (IsRecorded(options.kind)) {
            // The recorder counts what it writes: records, or video frames.
            sink.frameLimit = limits.frames;
            limits.frames = 0;
        }
        m_sink = MakeFileSink(options.kind, sink);
        m_run.AddSink(m_sink);
        m_run.SetLimits(limits);
    }

    // The exit status: 0 after a limit or a signal, 1 when the module or the file failed.
    int Run() {
        RunHooks hooks = LiveHooks("record");
        hooks.notice = [this](const std::string& notice) { PrintNotice(notice); };
        hooks.onPass = [this] { ShowProgress(false); };
        const RunEnd end = m_run.Run(hooks);
        Status finished = m_run.FinishSinks();
        // The recording ends with its last frame, if the module's last frames came after the stop
        // began; the wait for the module's answer does not count.
        const auto stopStart = m_run.StopStart().value_or(Clock::now());
        const auto lastFrame = m_run.LastFrameTime();
        m_recordEnd = lastFrame ? std::max(stopStart, *lastFrame) : stopStart;
        ShowProgress(true);

        std::string failure = end.failure.Message();
        if (failure.empty() && !finished) {
            failure = finished.Message();
        }
        const bool wasRecording = m_run.HasBegun();
        if (!wasRecording && failure.empty()) {
            std::fprintf(stderr,
                         "thermal record: stopped before the first frame; nothing recorded\n");
        }
        if (wasRecording) {
            const double seconds = SecondsRecording();
            const std::vector<std::string> parts = m_sink->Files();
            const uint64_t written = m_sink->Written();
            std::string files = "'" + parts.front() + "'";
            if (parts.size() > 1) {
                files += " and " + std::to_string(parts.size() - 1) + " more part" +
                         (parts.size() > 2 ? "s" : "");
            }
            // What the module delivered beside what was written tells frames left out on
            // purpose (--every, after --frames) and losses on the line from the recorder's own.
            std::fprintf(stderr, "thermal record: %llu %s written to %s (%s)%s%s\n",
                         static_cast<unsigned long long>(written),
                         m_options.kind == FileKind::kVideo ? "video frames" : "frames",
                         OneLine(files).c_str(), SizeText(BytesWritten(parts)).c_str(),
                         RateText(written, seconds).c_str(),
                         ReceivedText(m_run, "recording").c_str());
        }
        return LiveStatus("record", m_run, failure, "the recording");
    }

  private:
    using Clock = std::chrono::steady_clock;

    // A line of the module or of the recording, after the progress line is cleared.
    void PrintNotice(const std::string& notice) {
        ShowProgress(true);
        const std::string line = "thermal record: " + OneLine(notice) + "\n";
        if (!m_progressOutput) {
            std::fputs(line.c_str(), stderr);
            return;
        }
        // A terminal whose output is stopped (Ctrl-S) is waited for, but not past a stop.
        static_cast<void>(
            m_progressOutput->Write(line, [](std::size_t) { return CStopSignals::Count() == 0; }));
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
        return std::chrono::duration<double>(end - m_run.StreamStart()).count();
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
        if (!m_run.HasBegun() || now < m_nextProgress) {
            return;
        }
        m_nextProgress = now + kProgressPeriod;
        const double seconds = SecondsRecording();
        const std::vector<std::string> parts = m_sink->Files();
        const uint64_t written = m_sink->Written();
        char counts[128];
        std::snprintf(counts, sizeof counts, ": %llu frames, %.1f frames/s, %s",
                      static_cast<unsigned long long>(written),
                      seconds > 0 ? static_cast<double>(written) / seconds : 0.0,
                      SizeText(BytesWritten(parts)).c_str());
        WriteProgress("\r\033[K" + OneLine(parts.empty() ? m_options.output : parts.back()) +
                      counts);
        m_hasProgressLine = true;
    }

    // The progress line goes out only as far as the terminal takes it at once: a terminal whose
    // output is stopped (Ctrl-S) must not hold up the recording, nor a stop.
    void WriteProgress(const std::string& text) {
        static_cast<void>(m_progressOutput->Write(text, [](std::size_t) { return false; }));
    }

    const RecordOptions& m_options;
    const bool m_isProgressShown;
    std::optional<CLiveOutput> m_progressOutput;  // standard error, when it is a terminal
    bool m_hasProgressLine = false;
    std::optional<Clock::time_point> m_recordEnd;
    Clock::time_point m_nextProgress;
    std::shared_ptr<IFrameSink> m_sink;
    CFrameRun m_run;
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
