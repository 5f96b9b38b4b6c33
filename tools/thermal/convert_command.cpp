// `thermal convert`: plays a recording through the viewer's own frame pipeline, as play-back
// does, and hands every processed frame to the chosen outputs (text or binary stream, CSV,
// video, pictures). Inputs are read a record at a time; outputs appear only when complete.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/option_table.h"
#include "commands.h"
#include "convert_options.h"
#include "convert_output_file.h"
#include "convert_progress.h"
#include "convert_sink.h"
#include "frame/conversion.h"
#include "frame/frame_block.h"
#include "frame/text_frame.h"
#include "platform/one_line.h"
#include "platform/stop_signals.h"
#include "processing/frame_pipeline.h"
#include "processing/image_scaling.h"
#include "recording/playback_rules.h"
#include "recording/recording_source.h"
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

// Hands each finished frame to every output and remembers the first failure.
class CFrameFanOut {
  public:
    explicit CFrameFanOut(std::vector<IConvertSink*> sinks) : m_sinks(std::move(sinks)) {}

    // What the pipeline does not know about the frame it is about to finish.
    void Expect(uint64_t sourceNumber, const uint8_t* block, int unit, bool subtractingOffsets) {
        m_sourceNumber = sourceNumber;
        m_block = block;
        m_unit = unit;
        m_subtractingOffsets = subtractingOffsets;
    }

    static void OnFrameReady(void* owner, const char* modeLetter, const std::string& text,
                             const uint8_t* raw, const uint8_t* image, const uint16_t* values) {
        auto* fanOut = static_cast<CFrameFanOut*>(owner);
        fanOut->Deliver({fanOut->m_sourceNumber, *modeLetter, text,
                         fanOut->m_block != nullptr ? fanOut->m_block : raw, image, values,
                         fanOut->m_unit, fanOut->m_subtractingOffsets});
    }

    void Deliver(const ConvertedFrame& frame) {
        if (!m_error.empty()) {
            return;
        }
        for (IConvertSink* sink : m_sinks) {
            if (!sink->Write(frame, m_error)) {
                return;
            }
        }
        ++m_frameCount;
    }

    uint64_t FrameCount() const { return m_frameCount; }
    const std::string& Error() const { return m_error; }

  private:
    std::vector<IConvertSink*> m_sinks;
    uint64_t m_sourceNumber = 0;
    const uint8_t* m_block = nullptr;
    int m_unit = kUnitCelsius;
    bool m_subtractingOffsets = false;
    uint64_t m_frameCount = 0;
    std::string m_error;
};

// Everything one conversion reads, processes and writes.
class CConversion {
  public:
    CConversion(const ConvertOptions& options, CRecordingSource& source, CFrameFanOut& fanOut)
        : m_options(options),
          m_source(source),
          m_fanOut(fanOut),
          m_progress(source.Size()),
          m_isUnitGiven(HasOption("--unit")),
          m_needsBlocks(options.outputKind == FileKind::kBinaryStream) {
        ApplyProcessingOptions(options.processing, m_pipeline);
        m_pipeline.SetCallback(&CFrameFanOut::OnFrameReady, &fanOut);
        source.SetProblemListener([this](const SourceProblem& problem) { Note(problem); });
    }
    ~CConversion() { m_pipeline.StopThread(); }

    // Reads and processes until the input ends, an output fails or a signal asks to stop.
    // Returns false when a read failed.
    bool Run() {
        SourceFrame frame;
        SourceRead read = SourceRead::kEnd;
        while (KeepGoing() && (read = m_source.Next(frame)) == SourceRead::kFrame) {
            switch (frame.kind) {
                case SourceFrameKind::kBlock:
                    if (m_options.inputKind == FileKind::kCapture) {
                        ProcessCapturedBlock(frame.number, frame.block);
                    } else {
                        ProcessRecord(frame);
                    }
                    break;
                case SourceFrameKind::kText:
                    ProcessTextRecord(frame);
                    break;
                case SourceFrameKind::kRawValues:
                    ProcessRawFrame(frame.number, frame.values);
                    break;
            }
            SayHeldStretches();
        }
        m_progress.Finish(m_source.Position(), m_fanOut.FrameCount());
        return read != SourceRead::kError;
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
    bool HasOption(const char* name) const {
        for (const std::string& given : m_options.processingGiven) {
            if (given == name) {
                return true;
            }
        }
        return false;
    }

    bool KeepGoing() {
        m_progress.Update(m_source.Position(), m_fanOut.FrameCount());
        return PendingStopSignal() == 0 && m_fanOut.Error().empty();
    }

    // Each stretch of damage skipped is said as it is found once a frame has been written.
    // Stretches before that are said with the first frame written, so that an input without a
    // frame fails with one line. The end of the input is said after the run.
    void Note(const SourceProblem& problem) {
        if (problem.kind != SourceProblemKind::kSkipped) {
            if (m_endNote.empty()) {
                m_endNote = EndNoteOf(problem, m_options.inputKind);
            }
            return;
        }
        ++m_skippedStretches;
        m_skippedBytes += problem.count;
        if (m_fanOut.FrameCount() != 0) {
            Say(SkippedStretchLine(problem, m_options.inputKind, m_source.Size()));
            return;
        }
        if (m_heldStretches++ == 0) {
            m_firstHeld = problem;
        }
        m_heldBytes += problem.count;
    }

    void SayHeldStretches() {
        if (m_heldStretches == 0 || m_fanOut.FrameCount() == 0) {
            return;
        }
        Say(m_heldStretches == 1
                ? SkippedStretchLine(m_firstHeld, m_options.inputKind, m_source.Size())
                : "skipped " + SkippedStretches(m_heldStretches, m_heldBytes) + " from byte " +
                      std::to_string(m_firstHeld.byteOffset) + " (frame " +
                      std::to_string(m_firstHeld.frameNumber) +
                      ") on, before the first frame that converts");
        m_heldStretches = 0;
    }

    void Say(const std::string& line) {
        m_progress.ClearLine();
        PrintError(line);
    }

    void Expect(uint64_t number, const uint8_t* block) {
        m_fanOut.Expect(number, block, m_pipeline.GetUnit(),
                        m_pipeline.IsElOffsetSubtraction() != 0);
    }

    // A binary stream record: queued as play-back queues it, processed like a live frame.
    void ProcessRecord(const SourceFrame& frame) {
        Expect(frame.number, nullptr);
        m_pipeline.ProcessFrameNow(frame.modeLetter, kFrameBlockSize, frame.block);
    }

    // A text stream record: its header switches the unit (unless the user chose one) and says
    // how to read the frame, as in play-back.
    void ProcessTextRecord(const SourceFrame& frame) {
        const TextPlayMode& mode = frame.textMode;
        if (!m_isUnitGiven && mode.unit != 0) {
            m_pipeline.SetUnit(mode.unit);
        }
        const uint8_t* block = m_needsBlocks ? RebuildBlock(frame.frameText, mode) : nullptr;
        Expect(frame.number, block);
        if (m_pipeline.ProcessTextFrame(mode.offsetsSubtracted, mode.modeChar, frame.frameText) ==
            0) {
            if (m_unparsedCount++ == 0) {
                m_firstUnparsed = frame.number;
                // Lines re-saved by an editor lose the CR the frame's lines are cut at.
                m_firstUnparsedFault = frame.frameText.find('\r') == std::string_view::npos
                                           ? "its lines end in a single CR LF?"
                                           : TextFrameFault(frame.frameText);
            }
        }
    }

    // The frame block a text frame was rendered from, as far as its digits tell: the inverse
    // conversions, the offsets added back when they were subtracted, and the marker the module
    // puts on every block. Null when the text does not parse.
    const uint8_t* RebuildBlock(std::string_view frameText, const TextPlayMode& mode) {
        const std::optional<FrameData> parsed = ParseTextFrame(frameText, mode.modeChar);
        if (!parsed) {
            return nullptr;
        }
        m_frame = *parsed;
        if (mode.offsetsSubtracted != 0) {
            AddElOffsets(m_frame.values, m_frame.offsets);
        }
        EncodeFrameBlock(m_frame, m_block);
        PutFrameMarker(m_block);
        return m_block;
    }

    // A raw frame: coloured straight into an image, as play-back shows it.
    void ProcessRawFrame(uint64_t number, const uint16_t* values) {
        m_pipeline.MapRawFrame(values, m_smallImage, m_image.data());
        m_fanOut.Deliver(
            {number, 0, {}, nullptr, m_image.data(), values, m_pipeline.GetUnit(), false});
    }

    void ProcessCapturedBlock(uint64_t number, const uint8_t* block) {
        m_fanOut.Deliver({number,
                          m_options.captureLetter,
                          {},
                          block,
                          nullptr,
                          nullptr,
                          m_pipeline.GetUnit(),
                          false});
    }

    const ConvertOptions& m_options;
    CRecordingSource& m_source;
    CFrameFanOut& m_fanOut;
    CConvertProgress m_progress;
    const bool m_isUnitGiven;
    const bool m_needsBlocks;
    CFramePipeline m_pipeline;
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
    FrameData m_frame{};
    uint8_t m_block[kFrameBlockSize] = {};
    uint8_t m_smallImage[kSmallImageBytes] = {};
    std::vector<uint8_t> m_image = std::vector<uint8_t>(kImageBytes);
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

// The file output, or null when there is none; status 2 or 1 in `status` on failure.
std::unique_ptr<IConvertSink> CreateFileSink(const ConvertOptions& options,
                                             const CRecordingSource& source, int& status) {
    if (options.outputKind == FileKind::kUnknown) {
        return nullptr;
    }
    std::string error;
    const std::string path = ResolveOutputPath(options.output, source.Status(), error);
    if (path.empty()) {
        status = 2;
        PrintError(error);
        return nullptr;
    }
    std::unique_ptr<IConvertSink> sink;
    switch (options.outputKind) {
        case FileKind::kCsv:
            sink = options.region ? CreateRegionCsvSink(path, source.Status(), options.input,
                                                        *options.region, error)
                                  : CreateCsvSink(path, source.Status(), options.input, error);
            break;
        case FileKind::kTiff:
            // Raw frames are shown unmirrored, and so are their pages.
            sink = CreateTiffSink(
                path, source.Status(),
                options.inputKind == FileKind::kRawFrames ? 0 : options.processing.mirror, error);
            break;
        case FileKind::kNumpy:
            sink = CreateNumpySink(path, source.Status(), error);
            break;
        default:
            sink = CreateRecordingSink(options.outputKind, path, source.Status(), error);
            break;
    }
    if (!sink) {
        status = 1;
        PrintError(error);
    }
    return sink;
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
    std::unique_ptr<IConvertSink> fileSink = CreateFileSink(options, source, status);
    if (status != 0) {
        return status;
    }
    std::unique_ptr<IConvertSink> imageSink;
    if (!options.framesDir.empty()) {
        std::error_code ec;
        if (std::filesystem::exists(options.framesDir, ec) &&
            !std::filesystem::is_directory(options.framesDir, ec)) {
            PrintError("cannot write into '" + options.framesDir + "': it is not a directory");
            return 2;
        }
        std::string error;
        imageSink = CreateImageFilesSink(options.framesDir, options.png, error);
        if (!imageSink) {
            PrintError(error);
            return 1;
        }
    }
    std::vector<IConvertSink*> sinks;
    for (IConvertSink* sink : {fileSink.get(), imageSink.get()}) {
        if (sink != nullptr) {
            sinks.push_back(sink);
        }
    }

    CFrameFanOut fanOut(sinks);
    CConversion conversion(options, source, fanOut);
    const bool readAll = conversion.Run();

    if (const int signalNumber = PendingStopSignal(); signalNumber != 0) {
        PrintError(std::string("stopped by ") + (signalNumber == SIGINT ? "SIGINT" : "SIGTERM") +
                   "; nothing written");
        return 128 + signalNumber;
    }
    if (!fanOut.Error().empty()) {
        PrintError(fanOut.Error());
        return 1;
    }
    if (!readAll) {
        PrintError("cannot read '" + options.input + "': " + std::strerror(source.ErrorNumber()));
        return 1;
    }
    if (fanOut.FrameCount() == 0) {
        std::vector<std::string> causes;
        if (conversion.SkippedStretchCount() != 0) {
            causes.push_back(
                SkippedStretches(conversion.SkippedStretchCount(), conversion.SkippedBytes()) +
                " skipped");
        }
        if (conversion.UnparsedCount() != 0) {
            std::string cause = UnparsedFrames(conversion.UnparsedCount());
            if (!conversion.FirstUnparsedFault().empty()) {
                cause += (conversion.UnparsedCount() == 1 ? ": " : ", the first: ") +
                         conversion.FirstUnparsedFault();
            }
            causes.push_back(cause);
        }
        if (causes.empty() && !conversion.EndNote().empty()) {
            causes.push_back("it holds only " + conversion.EndNote());
        }
        std::string why = "no frame found in '" + options.input + "'";
        for (std::size_t i = 0; i < causes.size(); ++i) {
            why += (i == 0 ? " (" : "; ") + causes[i];
        }
        PrintError(causes.empty() ? why : why + ")");
        return 1;
    }
    for (IConvertSink* sink : sinks) {
        std::string error;
        if (!sink->Finish(error)) {
            PrintError(error);
            return 1;
        }
    }
    if (!conversion.EndNote().empty()) {
        PrintError("ignored " + conversion.EndNote());
    }
    if (options.inputKind == FileKind::kCapture) {
        std::printf("%llu frames from %llu bytes written to %s\n",
                    static_cast<unsigned long long>(fanOut.FrameCount()),
                    static_cast<unsigned long long>(source.Position()),
                    OneLine(options.output).c_str());
    }
    if (conversion.UnparsedCount() != 0) {
        PrintError("skipped " + UnparsedFrames(conversion.UnparsedCount()) +
                   " (the first is frame " + std::to_string(conversion.FirstUnparsed()) +
                   (conversion.FirstUnparsedFault().empty()
                        ? std::string()
                        : ": " + conversion.FirstUnparsedFault()) +
                   ")");
    }
    // Damage does not fail the conversion: every frame that could be read was written, and
    // `thermal info` is the check whose status says whether a recording is whole.
    if (conversion.SkippedStretchCount() != 0) {
        PrintError(std::to_string(fanOut.FrameCount()) + " frames written; " +
                   SkippedStretches(conversion.SkippedStretchCount(), conversion.SkippedBytes()) +
                   " skipped");
    }
    return 0;
}
