// Text stream, binary stream and video outputs of `thermal convert`, written by the viewer's own
// stream recorder so that their bytes are what a recording of the same frames would hold.
#include <limits>
#include <optional>
#include <vector>

#include "convert_output_file.h"
#include "convert_sink.h"
#include "processing/image_scaling.h"
#include "recording/avi_reader.h"
#include "recording/file_kind.h"
#include "recording/stream_recorder.h"
#include "recording/write_counters.h"

namespace {

class CRecordingSink final : public IConvertSink {
  public:
    CRecordingSink(FileKind kind, const std::string& path, const struct stat& input)
        : m_type(RecordingTypeOf(kind)), m_file(path, input), m_recorder(Environment()) {}

    bool Open(std::string& error) {
        if (!m_file.CreateTemporary(error)) {
            return false;
        }
        if (m_recorder.OpenFile(m_type, m_file.TemporaryPath()) != 1) {
            error = m_file.InFinalTerms(m_recorder.GetLastError());
            return false;
        }
        if (m_type == kRecordingVideo) {
            m_bgrImage.resize(kImageBytes);
        }
        return true;
    }

    bool Write(const ConvertedFrame& frame, std::string& error) override {
        bool written = false;
        if (m_type == kRecordingVideo) {
            // The encoder takes blue, green, red, as the viewer's video timer hands it over.
            DisplayImageToBgr(frame.image, m_bgrImage.data());
            written = m_recorder.WriteVideoFrame(kImageWidth, kImageHeight, m_bgrImage.data()) == 1;
        } else {
            const RecordableFrame recordable{frame.modeLetter, frame.text, frame.block, frame.unit,
                                             frame.subtractingOffsets};
            written = m_recorder.RecordFrame(recordable, 1) == RecordOutcome::kWritten;
        }
        if (!written) {
            const std::string why = m_recorder.GetLastError();
            error = why.empty() ? "cannot record frame " + std::to_string(frame.sourceNumber) +
                                      " into '" + m_file.FinalPath() + "'"
                                : m_file.InFinalTerms(why);
            return false;
        }
        ++m_frameCount;
        return true;
    }

    bool Finish(std::string& error) override {
        m_recorder.CloseFile();
        if (!m_recorder.GetLastError().empty()) {
            error = m_file.InFinalTerms(m_recorder.GetLastError());
            return false;
        }
        if (m_type == kRecordingVideo) {
            // Completing a movie on a full disk gives up frames so that the rest stays whole;
            // here that is a failure. The reader checks the index and the headers too.
            CAviReader movie;
            if (!movie.Open(m_file.TemporaryPath()) ||
                movie.FrameCount() != static_cast<int64_t>(m_frameCount) ||
                !movie.Problems().empty()) {
                error = m_file.InFinalTerms(
                    "cannot complete the video '" + m_file.FinalPath() + "': it holds " +
                    std::to_string(movie.FrameCount()) + " of " + std::to_string(m_frameCount) +
                    " frames" +
                    (movie.Problems().empty() ? "" : "; " + movie.Problems().front().text));
                return false;
            }
        }
        return m_file.Commit(error);
    }

  private:
    // One output file: no splitting into parts, no free-space floor (a full disk fails the
    // write and nothing is left behind), counters of its own.
    RecorderEnvironment Environment() {
        RecorderEnvironment environment;
        environment.pWriteCounters = &m_counters;
        environment.freeSpaceMiB = [](const std::string&) {
            return std::optional<uint64_t>(std::numeric_limits<uint64_t>::max());
        };
        environment.streamSplitMiB = std::numeric_limits<uint64_t>::max();
        environment.videoSplitMiB = std::numeric_limits<uint64_t>::max();
        return environment;
    }

    const int m_type;
    CWriteCounters m_counters;
    CConvertOutputFile m_file;
    CStreamRecorder m_recorder;  // closes its file before m_file removes an unfinished one
    std::vector<uint8_t> m_bgrImage;
    uint64_t m_frameCount = 0;
};

}  // namespace

std::unique_ptr<IConvertSink> CreateRecordingSink(FileKind kind, const std::string& path,
                                                  const struct stat& input, std::string& error) {
    auto sink = std::make_unique<CRecordingSink>(kind, path, input);
    if (!sink->Open(error)) {
        return nullptr;
    }
    return sink;
}
