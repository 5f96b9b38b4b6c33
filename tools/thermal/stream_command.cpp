// `thermal stream`: the module's frames to standard output as they arrive, for other programs to
// read live. The module is driven as `thermal record` drives it (the module feed); every frame goes
// through the viewer's frame pipeline and leaves as one line, written at once. The stream ends at
// a limit, on Ctrl-C or SIGTERM, or when the reader goes away (`thermal stream | head`), and the
// module is turned off each time. A reader that stops reading holds the stream back (the module's
// frames wait, and are lost beyond IModuleFeed::kMaxWaitingFrames) but never holds up a stop.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
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
#include "stream_format.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The longest the main loop sleeps between looks at signals and limits.
constexpr auto kLoopWait = 10ms;
// Frames taken at most in one go, so that signals are served in between.
constexpr std::size_t kMaxFramesAtOnce = IModuleFeed::kMaxWaitingFrames;
// Once a stop is asked, how long a line already begun may take to get out whole to a reader that
// is slow; a line not begun is not waited for at all.
constexpr auto kBegunLineWait = 200ms;

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
    std::string port;
    StreamFormat format = StreamFormat::kNdjson;
    std::optional<uint64_t> frames;
    std::optional<double> seconds;
    std::optional<SensorRegion> region;
    bool voltage = false;
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
    table.Text("--port", "a device name", options.port);
    table.Choice("--format", {"ndjson", "csv"}, [&options](std::size_t choice) {
        options.format = choice == 0 ? StreamFormat::kNdjson : StreamFormat::kCsv;
    });
    table.Ranged<uint64_t>("--frames", 1, 1'000'000'000'000,
                           [&options](uint64_t frames) { options.frames = frames; });
    table.Ranged<double>("--duration", 0.001, 1e9,
                         [&options](double seconds) { options.seconds = seconds; });
    table.Text("--region", "R1,C1,R2,C2", regionText);
    table.Flag("--voltage", options.voltage);
    if (const std::string error = table.Parse(argc, argv, positional); !error.empty()) {
        return UsageError(error);
    }
    if (!positional.empty()) {
        return UsageError("unexpected argument '" + positional[0] + "'");
    }
    if (options.port.empty()) {
        return UsageError("missing --port NAME");
    }
    if (const std::string problem = ModuleFeedOptionsProblem({options.port, options.voltage});
        !problem.empty()) {
        return UsageError(problem);
    }
    if (!regionText.empty()) {
        std::string error;
        options.region = ParseSensorRegion(regionText, error);
        if (!options.region) {
            return UsageError("--region: " + error);
        }
    }
    if (options.frames && options.seconds) {
        return UsageError("--frames and --duration cannot be used together");
    }
    return 0;
}

// One stream from start to end, on the calling thread (the owner of the module feed).
class CStreamRun {
  public:
    explicit CStreamRun(const StreamOptions& options)
        : m_options(options), m_feed(MakeModuleFeed({options.port, options.voltage, "streaming"})) {
        ApplyProcessingOptions(options.processing, m_pipeline);
        m_pipeline.SetCallback(&CStreamRun::OnFrameReady, this);
        // Written with the first frame, so that a module that never streams leaves no output.
        m_out = StreamHeader(options.format, options.region);
    }

    // The exit status: 0 after a limit, a signal or the reader's end, 1 when the module or the
    // output failed.
    int Run() {
        if (!m_feed->Open()) {
            std::fprintf(stderr, "thermal stream: %s\n", OneLine(m_feed->Failure()).c_str());
            return 1;
        }
        if (m_feed->StartStream([this] { return IsSignalled(); }) != FeedStart::kStreaming) {
            m_failure = m_feed->Failure();
            return Finish();
        }
        if (m_options.seconds) {
            m_deadline =
                m_feed->StreamStart() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(*m_options.seconds));
        }
        while (IsTaking()) {
            m_feed->Serve();
            Clock::time_point wakeUp = Clock::now() + kLoopWait;
            if (m_deadline) {
                wakeUp = std::min(wakeUp, *m_deadline);
            }
            TakeFrames(std::max<Clock::duration>(wakeUp - Clock::now(), 0ms));
            if (IsStopAsked()) {
                break;
            }
            if (m_feed->IsLost()) {
                m_failure = m_feed->Failure();
                break;
            }
            for (const std::string& notice : m_feed->TakeNotices()) {
                std::fprintf(stderr, "thermal stream: %s\n", OneLine(notice).c_str());
            }
        }
        return Finish();
    }

  private:
    // Frames are written until the limit, or until the output has ended (its reader went away,
    // or writing failed).
    bool IsTaking() const {
        return !m_hasOutputEnded && !(m_options.frames && m_streamed >= *m_options.frames);
    }

    static void OnFrameReady(void* owner, const char* modeLetter, const std::string& /*text*/,
                             const uint8_t* /*raw*/, const uint8_t* /*image*/,
                             const uint16_t* values) {
        auto* self = static_cast<CStreamRun*>(owner);
        ++self->m_streamed;
        StreamedFrame frame{self->m_streamed, self->m_arrivalText, *modeLetter,
                            self->m_pipeline.GetUnit(), values};
        frame.subtractingOffsets = self->m_pipeline.IsElOffsetSubtraction() != 0;
        AppendStreamRecord(self->m_options.format, frame, self->m_options.region, self->m_out);
        if (!self->WriteOut()) {
            --self->m_streamed;  // not counted: its line did not get out whole
        }
    }

    // Takes what the module handed over (waiting at most `limit` for it) and streams it while the
    // stream goes on; frames after its end are let go.
    void TakeFrames(Clock::duration limit) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(limit);
        SourceFrame frame;
        for (std::size_t taken = 0; taken < kMaxFramesAtOnce &&
                                    m_feed->Frames().NextWithin(frame, wait) == SourceRead::kFrame;
             ++taken) {
            wait = 0ms;
            if (IsTaking()) {
                m_arrivalText = ArrivalTimeText(std::chrono::system_clock::now());
                m_pipeline.ProcessFrameNow(frame.modeLetter, kFrameBlockSize, frame.block);
            }
        }
    }

    // Writes the waiting line in one go, as far as the reader takes it: a reader that reads line
    // by line gets each frame the moment it is processed. False when it did not get out whole.
    bool WriteOut() {
        const Result<std::size_t> written =
            m_output.Write(m_out, [this](std::size_t done) { return MayWaitForReader(done); });
        const std::size_t size = m_out.size();
        m_out.clear();
        if (!written) {
            // A reader that went away ends the stream as a limit does; anything else fails it.
            if (written.GetStatus().Code() != EPIPE) {
                m_failure = std::string("cannot write to standard output: ") +
                            std::strerror(written.GetStatus().Code());
            }
            m_hasOutputEnded = true;
            return false;
        }
        if (*written < size) {
            // A stop came while the reader was not reading: nothing more is written.
            m_isLineCut = *written > 0;
            m_hasOutputStalled = true;
            m_hasOutputEnded = true;
            return false;
        }
        return true;
    }

    // Until a stop is asked the reader is waited for as long as it takes; then a line not begun
    // is not waited for, and one begun for kBegunLineWait at most.
    bool MayWaitForReader(std::size_t written) {
        if (!IsStopAsked()) {
            return true;
        }
        if (written == 0) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (!m_begunLineDeadline) {
            m_begunLineDeadline = now + kBegunLineWait;
        }
        return now < *m_begunLineDeadline;
    }

    // True once SIGINT or SIGTERM has arrived.
    bool IsSignalled() {
        m_signalCount = CStopSignals::Count();
        return m_signalCount > 0;
    }

    // A signal, or the end of --duration.
    bool IsStopAsked() { return IsSignalled() || (m_deadline && Clock::now() >= *m_deadline); }

    // The stop sequence: the module is turned off (the frames it sent before it stopped are still
    // streamed, unless the stream has ended), then the feed closed. Returns the exit status.
    int Finish() {
        const Clock::time_point stopStart = Clock::now();
        const int signalsBefore = m_signalCount;
        m_feed->Stop([this, signalsBefore] {
            TakeFrames(0ms);
            // A second Ctrl-C cuts the wait for the module's last frames short.
            return IsTaking() && !(IsSignalled() && m_signalCount > signalsBefore);
        });
        TakeFrames(0ms);
        m_feed->Close();
        for (const std::string& notice : m_feed->TakeNotices()) {
            std::fprintf(stderr, "thermal stream: %s\n", OneLine(notice).c_str());
        }

        const CLiveFrameSource& frames = m_feed->Frames();
        if (frames.Received() == 0 && m_failure.empty()) {
            std::fprintf(stderr,
                         "thermal stream: stopped before the first frame; nothing "
                         "streamed\n");
        } else if (frames.Received() > 0) {
            const double seconds =
                std::chrono::duration<double>(stopStart - m_feed->StreamStart()).count();
            std::string received = ", " + std::to_string(frames.Received()) + " frames received";
            if (frames.Dropped() > 0) {
                received += ", " + std::to_string(frames.Dropped()) +
                            " of them lost: the reader fell behind the stream";
            }
            received += m_feed->LossText();
            if (m_hasOutputStalled) {
                received += m_isLineCut ? ", the reader was not reading when the stream stopped: "
                                          "its last line is cut short"
                                        : ", the reader was not reading when the stream stopped";
            }
            std::fprintf(stderr, "thermal stream: %llu frames streamed in %.1f s (%.1f/s)%s\n",
                         static_cast<unsigned long long>(m_streamed), seconds,
                         seconds > 0 ? static_cast<double>(m_streamed) / seconds : 0.0,
                         received.c_str());
        }
        if (m_failure.empty() && m_feed->FramesMissing() > 0) {
            m_failure = "the stream is incomplete: frames its publisher sent never arrived";
        }
        if (!m_failure.empty()) {
            std::fprintf(stderr, "thermal stream: %s\n", OneLine(m_failure).c_str());
            return 1;
        }
        return 0;
    }

    const StreamOptions& m_options;

    // Main thread only.
    std::string m_failure;
    int m_signalCount = 0;
    uint64_t m_streamed = 0;  // frames written to the output
    bool m_hasOutputEnded = false;
    bool m_hasOutputStalled = false;              // the reader was not reading when a stop came
    bool m_isLineCut = false;                     // ... and a line had begun
    std::optional<Clock::time_point> m_deadline;  // the end of --duration
    std::optional<Clock::time_point> m_begunLineDeadline;  // once a stop has come
    std::string m_arrivalText;  // the arrival time of the frame being processed
    std::string m_out;          // the lines not yet written, reused
    CLiveOutput m_output{STDOUT_FILENO};

    CFramePipeline m_pipeline;
    // Last: destroyed first, so no callback of the module's link outlives what it uses.
    std::unique_ptr<IModuleFeed> m_feed;
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
