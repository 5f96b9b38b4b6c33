#include "recording/stream_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "frame/binary_record.h"
#include "frame/text_frame.h"
#include "processing/image_scaling.h"

namespace {

constexpr uint64_t kMiB = 1048576;
// Writes of a binary or text file between two checks that the file still has a name.
constexpr uint64_t kWritesPerRemovalCheck = 16;
// Taken names a split skips before it gives up: other files in the way are the user's, and a
// directory that full of them is no place to go on searching.
constexpr int kPartNamesTried = 1000;

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

}  // namespace

std::optional<uint64_t> QueryFreeSpaceMiB(const std::string& directory) {
    struct statvfs info {};
    if (::statvfs(directory.empty() ? "." : directory.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(info.f_bfree) * info.f_frsize / kMiB;
}

CStreamRecorder::CStreamRecorder(RecorderEnvironment environment) : m_env(std::move(environment)) {}

CStreamRecorder::~CStreamRecorder() {
    CloseFile();
}

int CStreamRecorder::OpenFile(int type, const std::string& path, RecordingFileCreation creation) {
    std::lock_guard<std::mutex> lock(m_lock);
    return OpenFileLocked(type, path, creation);
}

int CStreamRecorder::OpenFileLocked(int type, const std::string& path,
                                    RecordingFileCreation creation) {
    m_partCounter = 0;
    const std::size_t slash = path.rfind('/');
    m_directoryPart = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string fileName = path.substr(m_directoryPart.size());
    const std::size_t dot = fileName.rfind('.');
    m_namePart = fileName.substr(0, dot);
    m_extensionPart = dot == std::string::npos ? std::string() : fileName.substr(dot);
    return OpenPartLocked(type, path, creation);
}

int CStreamRecorder::OpenPartLocked(int type, const std::string& path,
                                    RecordingFileCreation creation) {
    m_type = type;
    m_path = path;
    CloseFileLocked();
    m_wholeBytes = 0;
    m_writesToFile = 0;
    m_encodedByteTotal = 0;
    m_hasWriteFailed = false;
    m_lastError.clear();

    if (type == kRecordingBinary || type == kRecordingText) {
        m_fd = CreateRecordingFile(path, creation);
        if (m_fd < 0) {
            const int error = errno;
            m_lastError = RecordingCreateError(path, error);
            errno = error;  // the split looks at it
            return 0;
        }
    } else if (type == kRecordingVideo) {
        if (!m_env.videoSinkFactory) {
            m_lastError = "cannot record " + Quoted(path) + ": no video encoder in this program";
            return 0;
        }
        m_pEncodeBuffer = std::make_unique<uint8_t[]>(kImageBytes);
        m_pVideoSink = m_env.videoSinkFactory(path, creation);
        if (!m_pVideoSink) {
            m_pEncodeBuffer.reset();
            m_lastError = "cannot set up the video encoder for " + Quoted(path);
            return 0;
        }
    } else {
        m_lastError =
            "cannot record " + Quoted(path) + ": unknown recording type " + std::to_string(type);
        return 0;
    }
    m_isOpen = 1;
    return 1;
}

void CStreamRecorder::CloseFile() {
    std::lock_guard<std::mutex> lock(m_lock);
    CloseFileLocked();
}

void CStreamRecorder::CloseFileLocked() {
    if (!m_isOpen) {
        return;
    }
    m_isOpen = 0;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_pVideoSink.reset();
    m_pEncodeBuffer.reset();
}

int CStreamRecorder::WriteRecord(int byteCount, const uint8_t* bytes) {
    if (byteCount < 0 || (byteCount > 0 && bytes == nullptr)) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    return WriteBytesLocked(kRecordingBinary, bytes, static_cast<std::size_t>(byteCount));
}

int CStreamRecorder::WriteText(std::string_view text) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_textBuffer.clear();
    AppendTextModeBytes(text, m_textBuffer);
    return WriteBytesLocked(kRecordingText, m_textBuffer.data(), m_textBuffer.size());
}

int CStreamRecorder::WriteVideoFrame(int width, int height, const uint8_t* bgrImage) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_lastWriteKept = false;
    if (!m_isOpen || m_type != kRecordingVideo || m_hasWriteFailed) {
        return 0;
    }
    // The encoder was made for the display image and reads that many bytes.
    if (width != kImageWidth || height != kImageHeight || bgrImage == nullptr) {
        return 0;
    }
    int length = 0;
    int isKeyFrame = 0;
    if (m_pVideoSink->EncodeFrame(bgrImage, m_pEncodeBuffer.get(), &length, &isKeyFrame) != 1) {
        length = 0;  // the movie still gets a frame: an empty one keeps its timing
        isKeyFrame = 0;
    }
    if (m_pVideoSink->AppendFrame(length, isKeyFrame, m_pEncodeBuffer.get()) < 0) {
        m_hasWriteFailed = true;
        const std::string reason = m_pVideoSink->FailureReason();
        m_lastError = reason.empty() ? "cannot write the video " + Quoted(m_path)
                                     : "cannot write the video: " + reason;
        return 0;
    }
    m_encodedByteTotal += static_cast<uint64_t>(length);
    m_lastWriteKept = true;
    return AfterWriteLocked();
}

RecordOutcome CStreamRecorder::RecordFrame(const ProcessedFrame& frame, int everyN) {
    // A peek without the lock first: while a video is open the GUI thread may hold the lock
    // for an encoding, and this runs on the processing thread.
    const int peekedType = m_type;
    if (!m_isOpen || (peekedType != kRecordingBinary && peekedType != kRecordingText)) {
        return RecordOutcome::kNotRecorded;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    const RecordOutcome prepared = PrepareFrame(frame, everyN, m_frameRecord);
    if (prepared != RecordOutcome::kPrepared) {
        return prepared;
    }
    bool isKept = false;
    return WritePreparedLocked(m_frameRecord, isKept);
}

RecordOutcome CStreamRecorder::PrepareFrame(const ProcessedFrame& frame, int everyN,
                                            PreparedRecord& record) {
    const int type = m_type;
    if (!m_isOpen || (type != kRecordingBinary && type != kRecordingText) ||
        (type == kRecordingBinary && frame.block == nullptr)) {
        return RecordOutcome::kNotRecorded;
    }
    const int seen = m_decimationCount;
    if (seen % (everyN > 1 ? everyN : 1) != 0) {
        m_decimationCount = seen + 1;
        return RecordOutcome::kSkipped;
    }
    m_decimationCount = 1;
    record.type = type;
    if (type == kRecordingBinary) {
        // Resized in place: a buffer that held a record before is written over, not cleared.
        record.bytes.resize(kBinaryRecordSize);
        EncodeBinaryRecordInto(frame.modeLetter, frame.block,
                               reinterpret_cast<uint8_t*>(record.bytes.data()));
    } else {
        record.bytes.clear();
        AppendTextStreamRecord(TextStreamModeChar(frame.modeLetter, frame.unit),
                               TextStreamElOffChar(frame.modeLetter, frame.subtractingOffsets),
                               frame.text, record.bytes);
    }
    return RecordOutcome::kPrepared;
}

RecordOutcome CStreamRecorder::WritePrepared(const PreparedRecord& record, bool& isKept) {
    std::lock_guard<std::mutex> lock(m_lock);
    return WritePreparedLocked(record, isKept);
}

RecordOutcome CStreamRecorder::WritePreparedLocked(const PreparedRecord& record, bool& isKept) {
    isKept = false;
    if (!m_isOpen || m_type != record.type) {
        return RecordOutcome::kNotRecorded;
    }
    const int written = WriteBytesLocked(record.type, record.bytes.data(), record.bytes.size());
    isKept = m_lastWriteKept;
    return written ? RecordOutcome::kWritten : RecordOutcome::kStopped;
}

int CStreamRecorder::WriteBytesLocked(int type, const void* bytes, std::size_t size) {
    m_lastWriteKept = false;
    if (!m_isOpen || m_type != type || m_hasWriteFailed) {
        return 0;
    }
    if (!AppendWholeLocked(bytes, size)) {
        return 0;
    }
    m_lastWriteKept = true;
    return AfterWriteLocked();
}

bool CStreamRecorder::AppendWholeLocked(const void* bytes, std::size_t size) {
    // A file whose last name is gone (its directory removed) would swallow the recording
    // silently. Asking costs about as much as the write, so it is asked every few writes.
    if (m_writesToFile++ % kWritesPerRemovalCheck == 0) {
        struct stat info {};
        if (::fstat(m_fd, &info) != 0) {
            const int error = errno;
            FailLocked("fstat() failed on " + Quoted(m_path) + ": " + std::strerror(error));
            return false;
        }
        // A file opened without a name (a temporary reached through "/proc/self/fd/N" that
        // gets its name when complete) has none to lose: its path still reaches it.
        struct stat byPath {};
        if (info.st_nlink == 0 && !(::stat(m_path.c_str(), &byPath) == 0 &&
                                    byPath.st_dev == info.st_dev && byPath.st_ino == info.st_ino)) {
            FailLocked(Quoted(m_path) + " was removed while recording");
            return false;
        }
    }
    const auto* next = static_cast<const uint8_t*>(bytes);
    std::size_t left = size;
    while (left > 0) {
        const ssize_t done = ::write(m_fd, next, left);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            const int error = done < 0 ? errno : EIO;
            FailLocked("cannot write " + Quoted(m_path) + ": " + std::strerror(error));
            return false;
        }
        next += done;
        left -= static_cast<std::size_t>(done);
    }
    m_wholeBytes += size;
    return true;
}

void CStreamRecorder::FailLocked(std::string message) {
    m_hasWriteFailed = true;
    m_lastError = std::move(message);
    // Readers take the file record by record (frame by frame for text): cut off what a short
    // write left of the failed one.
    if (::ftruncate(m_fd, static_cast<off_t>(m_wholeBytes)) != 0) {
        const int error = errno;
        m_lastError += "; ftruncate() failed too: " + std::string(std::strerror(error));
    }
}

int CStreamRecorder::AfterWriteLocked() {
    if (!m_env.pWriteCounters->CountWrite(m_type)) {
        return 1;
    }
    if (!CheckDiskSpaceLocked()) {
        return 0;
    }
    if (NeedsSplitLocked() && !ContinueInNewFileLocked()) {
        return 0;  // the recording cannot go on: tell the user, unlike a silent stop
    }
    return 1;
}

int CStreamRecorder::CheckDiskSpace() {
    std::lock_guard<std::mutex> lock(m_lock);
    return CheckDiskSpaceLocked();
}

int CStreamRecorder::CheckDiskSpaceLocked() {
    const std::optional<uint64_t> freeMiB = m_env.freeSpaceMiB(m_directoryPart);
    if (!freeMiB) {
        m_lastError = "cannot ask the free space of the disk of " + Quoted(m_path);
        return 0;
    }
    if (*freeMiB < kMinFreeSpaceMiB) {
        m_lastError =
            "only " + std::to_string(*freeMiB) + " MiB free on the disk of " + Quoted(m_path);
        return 0;
    }
    return 1;
}

int CStreamRecorder::NeedsSplit() {
    std::lock_guard<std::mutex> lock(m_lock);
    return NeedsSplitLocked();
}

int CStreamRecorder::NeedsSplitLocked() const {
    if (!m_isOpen) {
        return 0;
    }
    if (m_type == kRecordingVideo) {
        return m_encodedByteTotal / kMiB > m_env.videoSplitMiB ? 1 : 0;
    }
    return m_wholeBytes / kMiB > m_env.streamSplitMiB ? 1 : 0;
}

int CStreamRecorder::ContinueInNewFile() {
    std::lock_guard<std::mutex> lock(m_lock);
    return ContinueInNewFileLocked();
}

int CStreamRecorder::ContinueInNewFileLocked() {
    if (!m_isOpen) {
        return 0;
    }
    const int type = m_type;
    std::string firstTaken;
    for (int attempt = 0; attempt < kPartNamesTried; ++attempt) {
        ++m_partCounter;
        char part[16];
        std::snprintf(part, sizeof part, "_%03d", m_partCounter);
        const std::string path = m_directoryPart + m_namePart + part + m_extensionPart;
        // A video's file is made by its first frame, so the name is only looked at here; the
        // writer then creates it as a new file and fails rather than replace one made meanwhile.
        struct stat existing {};
        const bool taken = type == kRecordingVideo
                               ? ::lstat(path.c_str(), &existing) == 0 || errno != ENOENT
                               : false;
        if (!taken) {
            if (OpenPartLocked(type, path, RecordingFileCreation::kNewFileOnly) == 1) {
                if (!firstTaken.empty()) {
                    m_notice =
                        Quoted(firstTaken) + " exists: the recording continues in " + Quoted(path);
                    m_hasNotice = true;
                }
                return 1;
            }
            if (errno != EEXIST) {
                return 0;
            }
        }
        if (firstTaken.empty()) {
            firstTaken = path;
        }
    }
    CloseFileLocked();
    m_lastError = "cannot continue the recording: " + std::to_string(kPartNamesTried) +
                  " part names from " + Quoted(firstTaken) + " on are taken";
    return 0;
}

int CStreamRecorder::IsFileOpen() const {
    return m_isOpen;
}

int CStreamRecorder::GetType() const {
    return m_type;
}

std::string CStreamRecorder::GetPath() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_path;
}

std::string CStreamRecorder::GetLastError() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lastError;
}

int CStreamRecorder::LastWriteKept() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lastWriteKept ? 1 : 0;
}

std::string CStreamRecorder::TakeNotice() {
    if (!m_hasNotice) {
        return {};
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_hasNotice = false;
    return std::exchange(m_notice, std::string());
}
