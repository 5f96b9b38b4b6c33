// `thermal convert`: a run over a recording, its frames made through the viewer's own frame
// pipeline, as play-back makes them, and handed to the outputs the command line names by their
// extensions (the core's output table) and to pictures. Inputs are read a record at a time;
// outputs appear only when complete. This file says what the run met on the way.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/option_table.h"
#include "commands.h"
#include "convert_options.h"
#include "convert_progress.h"
#include "frame/text_frame.h"
#include "outputs/output_table.h"
#include "platform/one_line.h"
#include "platform/stop_signals.h"
#include "recording/playback_rules.h"
#include "recording/recording_source.h"
#include "run/frame_run.h"
#include "text_frame_fault.h"

namespace {

// "1 text frame that does not parse", "2 text frames that do not parse".
std::string UnparsedFrames(uint64_t count) {
    return std::to_string(count) +
           (count == 1 ? " text frame that does not parse" : " text frames that do not parse");
}

void PrintError(const std::string& message) {
    std::fprintf(stderr, "thermal convert: %s\n", OneLine(message).c_str());
}

// "1 damaged stretch of 2128 bytes", "2 damaged stretches of 4256 bytes in all".
std::string SkippedStretches(uint64_t count, uint64_t bytes) {
    return std::to_string(count) +
           (count == 1 ? " damaged stretch of " : " damaged stretches of ") +
           std::to_string(bytes) + (count == 1 ? " bytes" : " bytes in all");
}

// The line that reports bytes skipped up to the next record header of a `fileSize`-byte input.
std::string SkippedStretchLine(const SourceProblem& problem, FileKind input, uint64_t fileSize) {
    const uint64_t next = problem.byteOffset + problem.count;
    const char* header =
        input == FileKind::kBinaryStream ? "Mode=T or Mode=V record header" : "Mode= header line";
    std::string line = next >= fileSize ? "skipped the last " : "skipped ";
    line += std::to_string(problem.count) + " bytes from byte " +
            std::to_string(problem.byteOffset) + " (frame " + std::to_string(problem.frameNumber) +
            "): no " + header;
    line += next >= fileSize ? " in them" : " before byte " + std::to_string(next);
    return line;
}

// What the end of the input held that is not a frame, for the message after the conversion.
std::string EndNoteOf(const SourceProblem& problem, FileKind input) {
    if (problem.kind != SourceProblemKind::kShortEnd) {
        return {};
    }
    const std::string at = std::to_string(problem.byteOffset);
    if (input == FileKind::kTextStream) {
        return "a short last frame of " + std::to_string(problem.count) + " of " +
               std::to_string(kTextRecordLineCount) + " lines at byte " + at +
               ", where the file stops being whole";
    }
    return "a short last record of " + std::to_string(problem.count) + " bytes at byte " + at +
           ", where the file stops being whole";
}

// What a conversion met besides frames: damage skipped, text frames that do not parse, the end
// of the input. Each stretch of damage skipped is said as it is found once a frame has been
// written; stretches before that are said with the first frame written, so that an input without
// a frame fails with one line. The end of the input is said after the run.
class CConversionNotes {
  public:
    CConversionNotes(FileKind input, uint64_t inputSize, CConvertProgress& progress)
        : m_input(input), m_inputSize(inputSize), m_progress(progress) {}

    // The source's problem listener; `written` frames so far.
    void Note(const SourceProblem& problem, uint64_t written) {
        if (problem.kind != SourceProblemKind::kSkipped) {
            if (m_endNote.empty()) {
                m_endNote = EndNoteOf(problem, m_input);
            }
            return;
        }
        ++m_skippedStretches;
        m_skippedBytes += problem.count;
        if (written != 0) {
            Say(SkippedStretchLine(problem, m_input, m_inputSize));
            return;
        }
        if (m_heldStretches++ == 0) {
            m_firstHeld = problem;
        }
        m_heldBytes += problem.count;
    }

    // After each frame.
    void SayHeldStretches(uint64_t written) {
        if (m_heldStretches == 0 || written == 0) {
            return;
        }
        Say(m_heldStretches == 1 ? SkippedStretchLine(m_firstHeld, m_input, m_inputSize)
                                 : "skipped " + SkippedStretches(m_heldStretches, m_heldBytes) +
                                       " from byte " + std::to_string(m_firstHeld.byteOffset) +
                                       " (frame " + std::to_string(m_firstHeld.frameNumber) +
                                       ") on, before the first frame that converts");
        m_heldStretches = 0;
    }

    // A text frame that does not parse.
    void NotMade(const SourceFrame& frame) {
        if (m_unparsedCount++ == 0) {
            m_firstUnparsed = frame.number;
            // Lines re-saved by an editor lose the CR the frame's lines are cut at.
            m_firstUnparsedFault = frame.frameText.find('\r') == std::string_view::npos
                                       ? "its lines end in a single CR LF?"
                                       : TextFrameFault(frame.frameText);
        }
    }

    uint64_t UnparsedCount() const { return m_unparsedCount; }
    uint64_t SkippedStretchCount() const { return m_skippedStretches; }
    uint64_t SkippedBytes() const { return m_skippedBytes; }
    // What the end of the input held that is not a frame, or "".
    const std::string& EndNote() const { return m_endNote; }
    uint64_t FirstUnparsed() const { return m_firstUnparsed; }
    // Why the first of them does not parse, or "" when a field is at fault.
    const std::string& FirstUnparsedFault() const { return m_firstUnparsedFault; }

  private:
    void Say(const std::string& line) {
        m_progress.ClearLine();
        PrintError(line);
    }

    const FileKind m_input;
    const uint64_t m_inputSize;
    CConvertProgress& m_progress;
    uint64_t m_unparsedCount = 0;
    uint64_t m_skippedStretches = 0;
    uint64_t m_skippedBytes = 0;
    // Stretches found before the first frame was written, not said yet.
    uint64_t m_heldStretches = 0;
    uint64_t m_heldBytes = 0;
    SourceProblem m_firstHeld{};
    std::string m_endNote;
    std::string m_firstUnparsedFault;
    uint64_t m_firstUnparsed = 0;
};

// Why the opened input cannot be converted, or "". Play-back plays a stream whose first record
// names no known mode as voltages; a conversion refuses it.
std::string WhyNotConvertible(const std::string& path,
                              const Result<std::unique_ptr<CRecordingSource>>& opening) {
    if (!opening) {
        if (opening.GetStatus().Code() == EINVAL) {
            return "cannot read '" + path + "': it is not a regular file";
        }
        return "cannot open '" + path + "': " + std::strerror(opening.GetStatus().Code());
    }
    const CRecordingSource& source = **opening;
    if (source.Size() == 0 || source.StartsWithKnownHeader()) {
        return {};
    }
    if (source.Kind() == FileKind::kBinaryStream) {
        return "'" + path + "' is not a binary stream recording (no Mode=T or Mode=V header)";
    }
    return "'" + path +
           "' is not a text stream recording (its first line is not Mode=V, K, C or F)";
}

// A classic TIFF addresses 4 GiB. A page takes about 2.3 KB against at least 1984 input bytes a
// frame (raw frames), so from this input size on the file may grow past that and is written as a
// BigTIFF, which ImageJ's own reader does not open but Fiji's and tifffile do.
constexpr off_t kBigTiffInputBytes = 3'500'000'000;

// The file output, or null when there is none; status 2 in `status` when it may not be written.
std::unique_ptr<IFrameSink> MakeFileOutput(const ConvertOptions& options,
                                           const CRecordingSource& source, int& status) {
    if (options.outputKind == FileKind::kUnknown) {
        return nullptr;
    }
    const Result<std::string> path = ResolveOutputPath(options.output, source.Status());
    if (!path) {
        status = 2;
        PrintError(path.Message());
        return nullptr;
    }
    FileSinkOptions sink;
    sink.place = {*path, OutputFileMode::kAppearsWhenComplete, source.Status()};
    sink.sourceName = options.input;
    sink.region = options.region;
    sink.isBigTiff = source.Status().st_size >= kBigTiffInputBytes;
    return MakeFileSink(options.outputKind, sink);
}

}  // namespace

int RunConvert(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::fputs(ConvertHelpText().c_str(), stdout);
        return 0;
    }
    ConvertOptions options;
    if (const std::string error = ParseConvertOptions(argc, argv, options); !error.empty()) {
        return CommandLineError("convert", error);
    }
    for (const std::string& line : InapplicableOptions(options)) {
        PrintError(line);
    }
    const CStopSignals stopSignals(DiscardTemporariesAndExit);
    if (!stopSignals.Error().empty()) {
        PrintError("cannot catch SIGINT and SIGTERM: " + stopSignals.Error());
        return 1;
    }
    // A file size limit is then an ordinary write error, reported and cleaned up.
    std::signal(SIGXFSZ, SIG_IGN);

    RecordingSourceOptions sourceOptions;
    sourceOptions.skipToNextHeader = true;
    sourceOptions.captureLetter = options.captureLetter;
    Result<std::unique_ptr<CRecordingSource>> opening =
        OpenRecordingSource(options.input, options.inputKind, sourceOptions);
    if (const std::string error = WhyNotConvertible(options.input, opening); !error.empty()) {
        PrintError(error);
        return 2;
    }
    CRecordingSource& source = **opening;
    int status = 0;
    std::shared_ptr<IFrameSink> fileSink = MakeFileOutput(options, source, status);
    if (status != 0) {
        return status;
    }
    std::shared_ptr<IFrameSink> pictureSink;
    if (!options.framesDir.empty()) {
        std::error_code ec;
        if (std::filesystem::exists(options.framesDir, ec) &&
            !std::filesystem::is_directory(options.framesDir, ec)) {
            PrintError("cannot write into '" + options.framesDir + "': it is not a directory");
            return 2;
        }
        pictureSink = MakePictureSink(options.framesDir, options.png);
    }

    CConvertProgress progress(source.Size());
    CConversionNotes notes(options.inputKind, source.Size(), progress);
    CFrameRun run(std::move(*opening));
    ApplyProcessingOptions(options.processing, run.Pipeline());
    // Text streams keep the unit of their own header lines unless the user chose one.
    run.SetTextUnitFollowed(std::find(options.processingGiven.begin(),
                                      options.processingGiven.end(),
                                      "--unit") == options.processingGiven.end());
    for (const std::shared_ptr<IFrameSink>& sink : {fileSink, pictureSink}) {
        if (sink) {
            run.AddSink(sink);
        }
    }
    source.SetProblemListener([&notes, &run](const SourceProblem& problem) {
        notes.Note(problem, run.Counts().processed);
    });
    RunHooks hooks;
    hooks.stopRequests = [] { return CStopSignals::Count(); };
    hooks.onPass = [&] {
        progress.Update(source.Position(), run.Counts().processed);
        notes.SayHeldStretches(run.Counts().processed);
    };
    hooks.frameNotMade = [&notes](const SourceFrame& frame) { notes.NotMade(frame); };
    const RunEnd end = run.Run(hooks);
    const uint64_t written = run.Counts().processed;
    progress.Finish(source.Position(), written);

    if (const int signalNumber = CStopSignals::First(); signalNumber != 0) {
        PrintError(std::string("stopped by ") + (signalNumber == SIGINT ? "SIGINT" : "SIGTERM") +
                   "; nothing written");
        return 128 + signalNumber;
    }
    if (end.reason == RunStop::kSinkFailed) {
        PrintError(end.failure.Message());
        return 1;
    }
    if (end.reason == RunStop::kSourceFailed) {
        PrintError("cannot read '" + options.input + "': " + std::strerror(source.ErrorNumber()));
        return 1;
    }
    if (written == 0) {
        std::vector<std::string> causes;
        if (notes.SkippedStretchCount() != 0) {
            causes.push_back(SkippedStretches(notes.SkippedStretchCount(), notes.SkippedBytes()) +
                             " skipped");
        }
        if (notes.UnparsedCount() != 0) {
            std::string cause = UnparsedFrames(notes.UnparsedCount());
            if (!notes.FirstUnparsedFault().empty()) {
                cause += (notes.UnparsedCount() == 1 ? ": " : ", the first: ") +
                         notes.FirstUnparsedFault();
            }
            causes.push_back(cause);
        }
        if (causes.empty() && !notes.EndNote().empty()) {
            causes.push_back("it holds only " + notes.EndNote());
        }
        std::string why = "no frame found in '" + options.input + "'";
        for (std::size_t i = 0; i < causes.size(); ++i) {
            why += (i == 0 ? " (" : "; ") + causes[i];
        }
        PrintError(causes.empty() ? why : why + ")");
        return 1;
    }
    if (const Status finished = run.FinishSinks(); !finished) {
        PrintError(finished.Message());
        return 1;
    }
    if (!notes.EndNote().empty()) {
        PrintError("ignored " + notes.EndNote());
    }
    if (options.inputKind == FileKind::kCapture) {
        std::printf(
            "%llu frames from %llu bytes written to %s\n", static_cast<unsigned long long>(written),
            static_cast<unsigned long long>(source.Position()), OneLine(options.output).c_str());
    }
    if (notes.UnparsedCount() != 0) {
        PrintError("skipped " + UnparsedFrames(notes.UnparsedCount()) + " (the first is frame " +
                   std::to_string(notes.FirstUnparsed()) +
                   (notes.FirstUnparsedFault().empty() ? std::string()
                                                       : ": " + notes.FirstUnparsedFault()) +
                   ")");
    }
    // Damage does not fail the conversion: every frame that could be read was written, and
    // `thermal info` is the check whose status says whether a recording is whole.
    if (notes.SkippedStretchCount() != 0) {
        PrintError(std::to_string(written) + " frames written; " +
                   SkippedStretches(notes.SkippedStretchCount(), notes.SkippedBytes()) +
                   " skipped");
    }
    return 0;
}
