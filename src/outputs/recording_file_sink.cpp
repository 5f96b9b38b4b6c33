// Text stream, binary stream and video outputs of a conversion, written by the viewer's own stream
// recorder so that their bytes are what a recording of the same frames would hold: one file, no
// parts, no free-space floor (a full disk fails the write and nothing is left behind), every
// frame's picture a frame of the video.
#include <limits>
#include <optional>
#include <vector>

#include "outputs/file_sinks.h"
#include "outputs/output_file.h"
#include "processing/image_scaling.h"
#include "recording/avi_reader.h"
#include "recording/file_kind.h"
#include "recording/stream_recorder.h"
#include "recording/write_counters.h"

namespace {

class CRecordingFileSink final : public IFrameSink {
  public:
    CRecordingFileSink(FileKind kind, const FileSinkOptions& options)
        : m_type(RecordingTypeOf(kind)), m_file(options.place), m_recorder(Environment()) {}

    std::string Name() const override { return "'" + m_file.FinalPath() + "'"; }
    unsigned Needs() const override {
        return m_type == kRecordingVideo  ? kNeedsImage
               : m_type == kRecordingText ? kNeedsValues
                                          : kNeedsBlock;
    }
    std::vector<std::string> Files() const override { return {m_file.FinalPath()}; }

    Status Begin() override {
        if (Status created = m_file.Create(); !created) {
            return created;
        }
        if (m_recorder.OpenFile(m_type, m_file.OpenPath()) != 1) {
            return Status::Failure(m_file.InFinalTerms(m_recorder.GetLastError()));
        }
        if (m_type == kRecordingVideo) {
            m_bgrImage.resize(kImageBytes);
        }
        return {};
    }

    Status Write(const ProcessedFrame& frame) override {
        bool written = false;
        if (m_type == kRecordingVideo) {
            // The encoder takes blue, green, red, as the viewer's video timer hands it over.
            DisplayImageToBgr(frame.image, m_bgrImage.data());
            written = m_recorder.WriteVideoFrame(kImageWidth, kImageHeight, m_bgrImage.data()) == 1;
        } else {
            written = m_recorder.RecordFrame(frame, 1) == RecordOutcome::kWritten;
        }
        if (!written) {
            const std::string why = m_recorder.GetLastError();
            return Status::Failure(why.empty()
                                       ? "cannot record frame " + std::to_string(frame.number) +
                                             " into '" + m_file.FinalPath() + "'"
                                       : m_file.InFinalTerms(why));
        }
        ++m_frameCount;
        CountWritten();
        return {};
    }

    Status Finish() override {
        m_recorder.CloseFile();
        if (!m_recorder.GetLastError().empty()) {
            return Status::Failure(m_file.InFinalTerms(m_recorder.GetLastError()));
        }
        if (m_type == kRecordingVideo) {
            // Completing a movie on a full disk gives up frames so that the rest stays whole;
            // here that is a failure. The reader checks the index and the headers too.
            CAviReader movie;
            if (!movie.Open(m_file.OpenPath()) ||
                movie.FrameCount() != static_cast<int64_t>(m_frameCount) ||
                !movie.Problems().empty()) {
                return Status::Failure(m_file.InFinalTerms(
                    "cannot complete the video '" + m_file.FinalPath() + "': it holds " +
                    std::to_string(movie.FrameCount()) + " of " + std::to_string(m_frameCount) +
                    " frames" +
                    (movie.Problems().empty() ? "" : "; " + movie.Problems().front().text)));
            }
        }
        return m_file.Commit();
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
    COutputFile m_file;
    CStreamRecorder m_recorder;  // closes its file before m_file removes an unfinished one
    std::vector<uint8_t> m_bgrImage;
    uint64_t m_frameCount = 0;
};

}  // namespace

std::unique_ptr<IFrameSink> MakeRecordingFileSink(FileKind kind, const FileSinkOptions& options) {
    return std::make_unique<CRecordingFileSink>(kind, options);
}
