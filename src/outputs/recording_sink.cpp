// Text stream, binary stream and video recordings of the live module, written as the viewer's
// "Rec" writes them, by the core's recording run: records made on the run's thread and written by
// the recording's own writer thread, split into parts, stopped on a low disk; a video samples the
// display image every kVideoFramePeriod on the run's clock and stops with the stream.
#include <mutex>
#include <vector>

#include "outputs/file_sinks.h"
#include "recording/recording_run.h"

namespace {

class CRecordingSink final : public IFrameSink {
  public:
    CRecordingSink(FileKind kind, const FileSinkOptions& options)
        : m_type(RecordingTypeOf(kind)), m_place(options.place) {
        m_rules.everyN = options.everyN;
        m_rules.frameLimit = options.frameLimit;
        m_rules.endsAtFirstStop = options.endsAtFirstStop;
        RecordingRunListener listener;
        listener.notice = [this](const std::string& notice) {
            std::lock_guard lock(m_noticeLock);
            m_notices.push_back(notice);
        };
        m_run.SetListener(std::move(listener));
    }

    std::string Name() const override { return "'" + m_place.path + "'"; }
    unsigned Needs() const override {
        return m_type == kRecordingVideo  ? kNeedsImage
               : m_type == kRecordingText ? kNeedsValues
                                          : kNeedsBlock;
    }

    Status Begin() override {
        if (m_run.OpenFile(m_type, m_place.path, m_place.creation) == 0) {
            return Status::Failure(m_run.Recorder().GetLastError());
        }
        m_run.Begin(m_rules);  // a writer that cannot start is a stop, said by Failure
        return {};
    }

    Status Write(const ProcessedFrame& frame) override {
        if (m_type == kRecordingVideo) {
            m_run.KeepDisplayImage(frame.image);
        } else {
            m_run.TakeFrame(frame);
        }
        return {};
    }

    Clock::time_point Serve(Clock::time_point now) override {
        return m_type == kRecordingVideo ? m_run.ServeVideoClock(now) : Clock::time_point::max();
    }

    // The display, and with it the video, stops with the stream.
    void SourceStopping(RunStop) override {
        if (m_type == kRecordingVideo) {
            m_run.StopTaking();
        }
    }

    bool IsTaking() const override { return m_run.IsTaking(); }

    Status Failure() const override {
        const std::string reason = m_run.FailureReason();
        return reason.empty() ? Status() : Status::Failure(reason);
    }

    // The notices of the recording (a part that took another number), which its writer thread
    // leaves here for the run's thread.
    std::vector<std::string> TakeNotices() override {
        std::lock_guard lock(m_noticeLock);
        return std::exchange(m_notices, {});
    }

    // What is queued is written, then the file closed.
    Status Finish() override {
        m_run.Stop();
        return Failure();
    }

    std::vector<std::string> Files() const override { return m_run.Parts(); }
    uint64_t Written() const override { return m_run.Written(); }

  private:
    const int m_type;
    const OutputPlace m_place;
    RecordingRunRules m_rules;
    std::mutex m_noticeLock;             // guards m_notices, added to by the recording's writer
    std::vector<std::string> m_notices;  // for the run's thread
    CRecordingRun m_run;                 // last: its writer thread uses the members above
};

}  // namespace

std::unique_ptr<IFrameSink> MakeRecordingSink(FileKind kind, const FileSinkOptions& options) {
    return std::make_unique<CRecordingSink>(kind, options);
}
