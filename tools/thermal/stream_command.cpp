// `thermal stream`: the module's frames to standard output as they arrive, for other programs to
// read live: a run over the module (a serial port, or a broker) into the core's stream lines, one
// line per frame, written at once. The stream ends at a limit, on Ctrl-C or SIGTERM, or when the
// reader goes away (`thermal stream | head`), and the module is turned off each time. A reader
// that stops reading holds the stream back (the module's frames wait, and are lost beyond
// ILiveFeed::kMaxWaitingFrames) but never holds up a stop.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/option_table.h"
#include "cli/processing_options.h"
#include "commands.h"
#include "live_command.h"
#include "outputs/stream_lines.h"
#include "platform/one_line.h"
#include "remote/remote_module_feed.h"

namespace {
constexpr char kUsageHead[] =
    "Usage: thermal stream --port NAME [options]\n"
    "\n"
    "Starts the module on the serial port NAME as the viewer's START does (x, M, then K) and\n"
    "writes each frame to standard output as it arrives, one line per frame, processed as the\n"
    "viewer shows it. At the limit, on Ctrl-C, on SIGTERM or when the reader of the output goes\n"
    "away (thermal stream ... | head -n 5) the module is turned off. A reader that stops reading\n"
    "holds the stream back, but not a stop: a line that cannot be written by then is left out\n"
    "and not counted. Messages go to standard error.\n"
    "\n"
    "  ndjson  one JSON object per frame: \"frame\" (1, 2, ...), \"time\" (its arrival, local\n"
    "          time with milliseconds and the offset from UTC), \"mode\" (K or t), \"unit\" (K,\n"
    "          C, F or V), \"min\", \"max\", \"mean\", \"values\" (31 rows of 32 numbers, row 1\n"
    "          and column 1 first as the sensor sees them, as the CSV of thermal convert), and\n"
    "          \"region\" (min, mean, max) with --region\n"
    "  csv     a header line, then per frame: frame, time, min, max, mean, with --region\n"
    "          region_min, region_mean, region_max, then the 992 values row after row\n"
    "\n"
    "With --port mqtt://HOST[:PORT]/PREFIX the frames come from a module that 'thermal publish'\n"
    "serves on an MQTT broker (port 1883 unless given): the stream subscribes to PREFIX/frame and\n"
    "at its end only unsubscribes, as the module may have other viewers. Payloads that are not\n"
    "whole frame records are dropped and counted, and so are frames of another publisher run (a\n"
    "publisher that took over the module is followed, said in one line). Frames the publisher\n"
    "numbered that never came are counted in the summary and end the stream with status 1. The\n"
    "module counts as gone once its publisher says it ended or lost the module, once a\n"
    "publisher the broker lost (its last will, which a broker restart sends too) is not back\n"
    "within 60 s, once the broker has been out of reach for 2 minutes, or at once when the\n"
    "broker refuses the connection for good (a wrong password, not authorised).\n"
    "\n"
    "Options:\n"
    "  --port NAME           serial device of the module, e.g. /dev/ttyUSB0, or\n"
    "                        mqtt://HOST[:PORT]/PREFIX for a module on a broker (required;\n"
    "                        mqtts://, TLS, is not supported here yet)\n"
    "  --format ndjson|csv   what each line holds (default ndjson)\n"
    "  --frames N            stop after N frames (default: until interrupted)\n"
    "  --duration SECONDS    stop after this long (default: until interrupted)\n"
    "  --region R1,C1,R2,C2  add the minimum, mean and maximum of a rectangle of pixels (rows\n"
    "                        1 to 31, columns 1 to 32, corners in any order)\n"
    "  --voltage             stream voltage frames (t) instead of temperatures (K) (default:\n"
    "                        temperatures; not for a module on a broker)\n"
    "\n"
    "Processing options:\n";

struct StreamOptions {
    LiveOptions live;
    StreamFormat format = StreamFormat::kNdjson;
    std::optional<SensorRegion> region;
    ProcessingOptions processing;
};

int UsageError(const std::string& message) {
    return CommandLineError("stream", message);
}

// Returns 0 when the options are good, else the exit status after printing why.
int ParseOptions(int argc, char** argv, StreamOptions& options) {
    std::vector<std::string> positional;
    std::string regionText;
    COptionTable table;
    AddProcessingOptions(table, options.processing);
    AddLiveOptions(table, options.live);
    table.Choice("--format", {"ndjson", "csv"}, [&options](std::size_t choice) {
        options.format = choice == 0 ? StreamFormat::kNdjson : StreamFormat::kCsv;
    });
    table.Text("--region", "R1,C1,R2,C2", regionText);
    if (const std::string error = table.Parse(argc, argv, positional); !error.empty()) {
        return UsageError(error);
    }
    if (!positional.empty()) {
        return UsageError("unexpected argument '" + positional[0] + "'");
    }
    if (const std::string problem = LiveOptionsProblem(options.live); !problem.empty()) {
        return UsageError(problem);
    }
    if (!regionText.empty()) {
        std::string error;
        options.region = ParseSensorRegion(regionText, error);
        if (!options.region) {
            return UsageError("--region: " + error);
        }
    }
    return 0;
}

// One stream from start to end, on the calling thread (the owner of the run).
class CStreamRun {
  public:
    explicit CStreamRun(const StreamOptions& options)
        : m_run(MakeModuleFeed({options.live.port, options.live.voltage, "streaming"})),
          m_sink(std::make_shared<CStreamLinesSink>(STDOUT_FILENO, options.format, options.region,
                                                    [this] { return IsStopDue(); })) {
        ApplyProcessingOptions(options.processing, m_run.Pipeline());
        m_run.AddSink(m_sink);
        m_limits = LimitsOf(options.live);
        m_run.SetLimits(m_limits);
    }

    // The exit status: 0 after a limit, a signal or the reader's end, 1 when the module or the
    // output failed.
    int Run() {
        const RunEnd end = m_run.Run(LiveHooks("stream"));
        const RunCounts counts = m_run.Counts();
        std::string failure = end.failure.Message();
        if (counts.received == 0 && failure.empty()) {
            std::fprintf(stderr,
                         "thermal stream: stopped before the first frame; nothing streamed\n");
        } else if (counts.received > 0) {
            const double seconds =
                std::chrono::duration<double>(*m_run.StopStart() - m_run.StreamStart()).count();
            std::string received = ReceivedText(m_run, "reader");
            if (m_sink->HasStalled()) {
                received += m_sink->IsLineCut()
                                ? ", the reader was not reading when the stream stopped: its last "
                                  "line is cut short"
                                : ", the reader was not reading when the stream stopped";
            }
            const uint64_t streamed = m_sink->Written();
            std::fprintf(stderr, "thermal stream: %llu frames streamed%s%s\n",
                         static_cast<unsigned long long>(streamed),
                         RateText(streamed, seconds).c_str(), received.c_str());
        }
        return LiveStatus("stream", m_run, failure, "the stream");
    }

  private:
    // A signal, or the end of --duration: a slow reader is no longer waited for.
    bool IsStopDue() const {
        return CStopSignals::Count() > 0 ||
               (m_limits.duration &&
                std::chrono::steady_clock::now() >= m_run.StreamStart() + *m_limits.duration);
    }

    CFrameRun m_run;
    std::shared_ptr<CStreamLinesSink> m_sink;
    RunLimits m_limits;
};

}  // namespace

int RunStream(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::fputs(kUsageHead, stdout);
        std::fputs(kProcessingOptionsHelp, stdout);
        return 0;
    }
    StreamOptions options;
    if (const int status = ParseOptions(argc, argv, options); status != 0) {
        return status;
    }

    // A reader that goes away shows as EPIPE on the next write, which ends the stream.
    return RunLiveCommand<CStreamRun>("stream", options, {SIGPIPE});
}
