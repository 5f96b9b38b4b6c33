#include "recording/recording_run.h"

#include <cstring>
#include <system_error>
#include <utility>

#include "processing/image_scaling.h"

CRecordingRun::CRecordingRun(RecorderEnvironment environment)
    : m_recorder(std::move(environment)) {}

CRecordingRun::~CRecordingRun() {
    Stop();
}

void CRecordingRun::SetListener(RecordingRunListener listener) {
    m_listener = std::move(listener);
}

int CRecordingRun::OpenFile(int type, const std::string& path, RecordingFileCreation creation) {
    // Frames that come meanwhile wait, as they would for the recorder: one the closing file
    // would refuse is not lost, and each record goes into the file it was taken for.
    {
        std::unique_lock lock(m_queueLock);
        m_isOpeningFile = true;
        if (m_writer.joinable()) {
            m_recordQueued.notify_one();
            m_recordWritten.wait(lock, [this] { return m_queued == 0 && !m_isWriting; });
        }
    }
    const int opened = m_recorder.OpenFile(type, path, creation);
    {
        std::lock_guard lock(m_reportLock);
        m_parts.clear();
        if (opened) {
            m_parts.push_back(path);
        }
    }
    {
        std::lock_guard lock(m_queueLock);
        m_isOpeningFile = false;
    }
    m_recordWritten.notify_all();
    return opened;
}

int CRecordingRun::Begin(const RecordingRunRules& rules) {
    {
        std::lock_guard lock(m_reportLock);
        m_written = 0;
        m_lastWrite.reset();
        m_failure.clear();
    }
    {
        std::lock_guard lock(m_queueLock);
        m_rules = rules;
        // The ring keeps its size while the writer runs: records may be waiting in it.
        if (!m_writer.joinable()) {
            m_queue.resize(rules.queueCapacity > 0 ? rules.queueCapacity : 1);
            m_queueHead = 0;
            m_queued = 0;
        }
        m_taken = 0;
        m_isTaking = true;
    }
    m_nextVideoTick = Clock::now() + kVideoFramePeriod;
    if (m_writer.joinable()) {
        return 1;
    }
    try {
        m_writer = std::thread(&CRecordingRun::WriterLoop, this);
    } catch (const std::system_error& error) {
        StopTaking();
        ReportStop("cannot start the recording writer thread: " + error.code().message());
        return 0;
    }
    return 1;
}

void CRecordingRun::StopTaking() {
    {
        std::lock_guard lock(m_queueLock);
        m_isTaking = false;
    }
    m_recordWritten.notify_all();  // a frame waiting for room is let go
}

void CRecordingRun::Stop() {
    StopTaking();
    if (m_writer.joinable()) {
        {
            std::lock_guard lock(m_queueLock);
            m_isWriterEnding = true;
        }
        m_recordQueued.notify_one();
        m_writer.join();
        std::lock_guard lock(m_queueLock);
        m_isWriterEnding = false;
    }
    m_recorder.CloseFile();
}

void CRecordingRun::TakeFrame(const ProcessedFrame& frame) {
    std::unique_lock lock(m_queueLock);
    m_recordWritten.wait(
        lock, [this] { return !m_isTaking || (!m_isOpeningFile && m_queued < m_queue.size()); });
    if (!m_isTaking) {
        return;
    }
    PreparedRecord& slot = m_queue[(m_queueHead + m_queued) % m_queue.size()];
    if (m_recorder.PrepareFrame(frame, m_rules.everyN, slot) != RecordOutcome::kPrepared) {
        return;
    }
    ++m_queued;
    if (m_rules.frameLimit > 0 && ++m_taken >= m_rules.frameLimit) {
        m_isTaking = false;  // exactly the limit: later frames are not written
    }
    // Waking the writer costs the frame path a system call: it is woken only once half the
    // queue is waiting, and otherwise comes by itself.
    const bool isWriterDue = m_queued >= (m_queue.size() + 1) / 2;
    lock.unlock();
    if (isWriterDue) {
        m_recordQueued.notify_one();
    }
}

void CRecordingRun::WriterLoop() {
    PreparedRecord record;
    for (;;) {
        {
            std::unique_lock lock(m_queueLock);
            m_isWriting = false;
            m_recordWritten.notify_all();
            if (m_queued == 0) {
                if (m_isWriterEnding) {
                    return;  // everything queued is written
                }
                m_recordQueued.wait_for(lock, kRecordWriterPeriod, [this] {
                    return m_isWriterEnding ||
                           (m_queued > 0 &&
                            (m_isOpeningFile || m_queued >= (m_queue.size() + 1) / 2));
                });
                continue;
            }
            // The emptied slot gets this thread's buffer back: capacities go round, no record
            // is allocated once the ring has seen a few.
            std::swap(record, m_queue[m_queueHead]);
            m_queueHead = (m_queueHead + 1) % m_queue.size();
            --m_queued;
            m_isWriting = true;
        }
        m_recordWritten.notify_all();
        bool isKept = false;
        const RecordOutcome outcome = m_recorder.WritePrepared(record, isKept);
        AfterWrite(outcome, isKept);
    }
}

void CRecordingRun::KeepDisplayImage(const uint8_t* rgbImage) {
    m_keptImage.resize(kImageBytes);
    std::memcpy(m_keptImage.data(), rgbImage, kImageBytes);
}

void CRecordingRun::VideoTick() {
    if (!IsTaking() || !m_recorder.IsFileOpen() || m_recorder.GetType() != kRecordingVideo) {
        return;
    }
    // Before the first frame the display is black.
    m_keptImage.resize(kImageBytes);
    m_videoFrame.resize(kImageBytes);
    DisplayImageToBgr(m_keptImage.data(), m_videoFrame.data());
    const bool isWritten =
        m_recorder.WriteVideoFrame(kImageWidth, kImageHeight, m_videoFrame.data()) != 0;
    const bool isKept = isWritten || m_recorder.LastWriteKept() != 0;
    if (isKept) {
        std::lock_guard lock(m_queueLock);
        if (m_rules.frameLimit > 0 && ++m_taken >= m_rules.frameLimit) {
            m_isTaking = false;
        }
    }
    AfterWrite(isWritten ? RecordOutcome::kWritten : RecordOutcome::kStopped, isKept);
}

CRecordingRun::Clock::time_point CRecordingRun::ServeVideoClock(Clock::time_point now) {
    if (now >= m_nextVideoTick) {
        m_nextVideoTick += kVideoFramePeriod;
        if (m_nextVideoTick <= now) {
            m_nextVideoTick = now + kVideoFramePeriod;
        }
        VideoTick();
    }
    return m_nextVideoTick;
}

void CRecordingRun::AfterWrite(RecordOutcome outcome, bool isKept) {
    if (outcome == RecordOutcome::kNotRecorded) {
        return;
    }
    if (isKept) {
        const std::string path = m_recorder.GetPath();
        std::lock_guard lock(m_reportLock);
        ++m_written;
        m_lastWrite = Clock::now();
        // A split has opened the next part.
        if (m_parts.empty() || m_parts.back() != path) {
            m_parts.push_back(path);
        }
    }
    if (outcome == RecordOutcome::kStopped) {
        ReportStop(m_recorder.GetLastError());
    }
    if (const std::string notice = m_recorder.TakeNotice(); !notice.empty() && m_listener.notice) {
        m_listener.notice(notice);
    }
}

void CRecordingRun::ReportStop(const std::string& reason) {
    {
        std::lock_guard lock(m_reportLock);
        if (m_failure.empty()) {
            m_failure = reason;
        }
    }
    bool isEnding = false;
    {
        std::lock_guard lock(m_queueLock);
        if (m_rules.endsAtFirstStop) {
            isEnding = true;
            m_isTaking = false;
            m_queued = 0;  // what came after the record that stopped it is let go
        }
    }
    if (isEnding) {
        m_recordWritten.notify_all();
    }
    if (m_listener.stopped) {
        m_listener.stopped(reason);
    }
}

bool CRecordingRun::IsTaking() const {
    std::lock_guard lock(m_queueLock);
    return m_isTaking;
}

uint64_t CRecordingRun::Written() const {
    std::lock_guard lock(m_reportLock);
    return m_written;
}

std::vector<std::string> CRecordingRun::Parts() const {
    std::lock_guard lock(m_reportLock);
    return m_parts;
}

std::optional<CRecordingRun::Clock::time_point> CRecordingRun::LastWriteTime() const {
    std::lock_guard lock(m_reportLock);
    return m_lastWrite;
}

std::string CRecordingRun::FailureReason() const {
    std::lock_guard lock(m_reportLock);
    return m_failure;
}
