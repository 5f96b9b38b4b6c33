#include "recording/avi_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr char kStreamName[] = "Video Stream";
constexpr uint32_t kStreamQuality = 10000;
constexpr int kMaxFrameSide = 32767;  // the stream header stores the frame rectangle in 16 bits

constexpr char kCreateFileFailed[] = "Unable to Create the Movie File";
constexpr char kCreateStreamFailed[] = "Unable to Create Video Stream in the Movie File";
constexpr char kSetFormatFailed[] = "Unable to Set Video Stream Format";
constexpr char kWriteFailed[] = "Unable to Write Video Stream to the output Movie File";
// Frames written between two checks that the movie file still has a name.
constexpr std::size_t kFramesPerRemovalCheck = 16;
constexpr char kSizeLimitReached[] = "Unable to Write Video Stream past the Movie File Size Limit";

// Writes all of `parts` at `at`, continuing after short writes. False with errno set when the
// system refuses (no space, file size limit, I/O error).
bool WriteAllAt(int fd, iovec* parts, int count, uint64_t at) {
    while (count > 0) {
        const ssize_t written = pwritev(fd, parts, count, static_cast<off_t>(at));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        at += static_cast<uint64_t>(written);
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<uint8_t*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
    return true;
}

bool WriteAllAt(int fd, const std::vector<uint8_t>& bytes, uint64_t at) {
    iovec part{const_cast<uint8_t*>(bytes.data()), bytes.size()};
    return WriteAllAt(fd, &part, 1, at);
}

}  // namespace

CAviWriter::CAviWriter(std::string path, [[maybe_unused]] std::string_view handlerCode, int width,
                       int height, uint32_t frameRate, uint64_t maxFileBytes,
                       RecordingFileCreation creation)
    : m_path(std::move(path)),
      m_width(width),
      m_height(height),
      m_frameRate(frameRate),
      m_maxFileBytes(maxFileBytes),
      m_creation(creation) {}

CAviWriter::~CAviWriter() {
    CloseMovie();
}

int32_t CAviWriter::AppendFrame(int byteCount, int isKeyFrame, const uint8_t* bytes) {
    if (m_state == kAviStateClosed || byteCount < 0 || (byteCount > 0 && bytes == nullptr)) {
        return kAviFail;
    }
    if (m_state == kAviStateNotCreated) {
        if (CreateMovie(m_width, m_height) != kAviOk) {
            CloseMovie();
            return kAviFail;
        }
        m_state = kAviStateWriting;
    }
    return WriteFrame(byteCount, isKeyFrame, bytes);
}

void CAviWriter::Fail(const char* text, const char* call) {
    const int error = errno;
    m_errorText = text;
    m_errorDetail = std::string(call) + " failed on '" + m_path + "': " + std::strerror(error);
}

int32_t CAviWriter::CreateMovie(int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide) {
        errno = EINVAL;
        Fail(kSetFormatFailed, "frame size");
        return kAviFail;
    }
    m_fd = CreateRecordingFile(m_path, m_creation);
    if (m_fd < 0) {
        const int error = errno;
        m_errorText = kCreateFileFailed;
        m_errorDetail = "open() failed on '" + m_path + "': " + RecordingCreateReason(error);
        return kAviFail;
    }

    const auto w = static_cast<uint32_t>(width);
    const auto h = static_cast<uint32_t>(height);
    // Players size their read buffer from this. Desktop recorders state four bytes per pixel of
    // the larger of screen and frame; there is no screen here, and four bytes per pixel of the
    // frame already exceed any frame the encoder produces (it writes at most three per pixel).
    const uint32_t suggestedBuffer = w * h * 4;

    m_mainHeader.microSecPerFrame = m_frameRate > 0 ? 1000000 / m_frameRate : 0;
    m_mainHeader.flags = kAvifHasIndex;
    m_mainHeader.streams = 1;
    m_mainHeader.suggestedBufferSize = suggestedBuffer;
    m_mainHeader.width = w;
    m_mainHeader.height = h;

    m_streamHeader.type = kFourCcVideoStream;
    m_streamHeader.handler = kFourCcXvidHandler;
    m_streamHeader.scale = 1;
    m_streamHeader.rate = m_frameRate;
    m_streamHeader.suggestedBufferSize = suggestedBuffer;
    m_streamHeader.quality = kStreamQuality;
    m_streamHeader.frameRight = static_cast<int16_t>(width);
    m_streamHeader.frameBottom = static_cast<int16_t>(height);

    m_format.width = width;
    m_format.height = height;
    m_format.planes = 1;
    m_format.bitCount = 12;
    m_format.compression = kFourCcXvidCompression;
    m_format.sizeImage = h * 6 * w;

    // Until CloseMovie writes the final sizes, the headers describe an empty movie.
    std::vector<uint8_t> header =
        BuildAviHeaderBlock(m_mainHeader, m_streamHeader, m_format, kStreamName, 0, 4);
    const auto riff = ChunkHeader(kFourCcRiff, static_cast<uint32_t>(header.size() - 8));
    std::copy(riff.begin(), riff.end(), header.begin());
    if (!WriteAllAt(m_fd, header, 0)) {
        // Not even the headers fit: leave no broken file behind.
        Fail(kCreateStreamFailed, "write()");
        ::close(m_fd);
        m_fd = -1;
        ::unlink(m_path.c_str());
        return kAviFail;
    }
    m_movieListAt = header.size() - kListHeaderBytes;
    m_movieEnd = header.size();
    return kAviOk;
}

int32_t CAviWriter::WriteFrame(int byteCount, int isKeyFrame, const uint8_t* bytes) {
    const auto payload = static_cast<uint32_t>(byteCount);
    const uint64_t chunkEnd = m_movieEnd + kChunkHeaderBytes + PaddedChunkBytes(payload);
    const uint64_t fileEnd =
        chunkEnd + kChunkHeaderBytes + (m_index.size() + 1) * kAviIndexEntryBytes;
    if (fileEnd > m_maxFileBytes) {
        m_errorText = kSizeLimitReached;
        m_errorDetail = "the movie file '" + m_path + "' would grow past " +
                        std::to_string(m_maxFileBytes) + " bytes";
        CloseMovie();
        return kAviFail;
    }

    // A movie whose last name is gone (its directory removed) would take every frame and vanish
    // when closed. Asking costs about as much as a frame's write, so it is asked every few.
    if (m_index.size() % kFramesPerRemovalCheck == 0) {
        // A movie opened without a name (a temporary reached through "/proc/self/fd/N" that
        // gets its name when complete) has none to lose: its path still reaches it.
        struct stat info {};
        struct stat byPath {};
        if (::fstat(m_fd, &info) == 0 && info.st_nlink == 0 &&
            !(::stat(m_path.c_str(), &byPath) == 0 && byPath.st_dev == info.st_dev &&
              byPath.st_ino == info.st_ino)) {
            m_errorText = kWriteFailed;
            m_errorDetail = "the movie file '" + m_path + "' was removed while recording";
            CloseMovie();
            return kAviFail;
        }
    }

    auto chunkHeader = ChunkHeader(kFourCcCompressedFrame, payload);
    uint8_t pad = 0;
    iovec parts[3] = {{chunkHeader.data(), chunkHeader.size()},
                      {const_cast<uint8_t*>(bytes), payload},
                      {&pad, payload & 1}};
    if (!WriteAllAt(m_fd, parts, 3, m_movieEnd)) {
        Fail(kWriteFailed, "write()");
        CloseMovie();
        return kAviFail;
    }

    const uint64_t movieCode = m_movieListAt + kChunkHeaderBytes;
    m_index.push_back({kFourCcCompressedFrame, isKeyFrame ? kAviifKeyFrame : 0,
                       static_cast<uint32_t>(m_movieEnd - movieCode), payload});
    m_movieEnd = chunkEnd;
    m_largestFrame = std::max(m_largestFrame, payload);
    return kAviOk;
}

bool CAviWriter::WriteIndex() {
    bool reported = false;
    for (;;) {
        // Drops whatever a failed write left after the last whole frame.
        if (::ftruncate(m_fd, static_cast<off_t>(m_movieEnd)) != 0 && !reported) {
            Fail(kWriteFailed, "ftruncate()");
            reported = true;
        }
        if (WriteAllAt(m_fd, BuildAviIndexChunk(m_index), m_movieEnd)) {
            return true;
        }
        if (!reported) {
            Fail(kWriteFailed, "write()");
            reported = true;
        }
        if (m_index.empty()) {
            ::ftruncate(m_fd, static_cast<off_t>(m_movieEnd));
            return false;
        }
        // No room for the index (disk full, file size limit): give up the last frame, whose
        // space it can take, rather than leave a file without one.
        m_movieEnd = m_movieListAt + kChunkHeaderBytes + m_index.back().offset;
        m_index.pop_back();
    }
}

void CAviWriter::WriteHeaders(bool hasIndex) {
    const auto frames = static_cast<uint32_t>(m_index.size());
    const uint64_t fileEnd =
        m_movieEnd + (hasIndex ? kChunkHeaderBytes + frames * kAviIndexEntryBytes : 0);
    m_mainHeader.totalFrames = frames;
    m_mainHeader.flags = hasIndex ? kAvifHasIndex : 0;
    const uint64_t maxBytesPerSec =
        (uint64_t{m_largestFrame} + kChunkHeaderBytes) * uint64_t{m_frameRate};
    m_mainHeader.maxBytesPerSec = static_cast<uint32_t>(std::min<uint64_t>(maxBytesPerSec, ~0u));
    m_streamHeader.length = frames;
    const std::vector<uint8_t> header =
        BuildAviHeaderBlock(m_mainHeader, m_streamHeader, m_format, kStreamName,
                            static_cast<uint32_t>(fileEnd - kChunkHeaderBytes),
                            static_cast<uint32_t>(m_movieEnd - m_movieListAt - kChunkHeaderBytes));
    if (!WriteAllAt(m_fd, header, 0)) {
        Fail(kWriteFailed, "write()");
    }
}

void CAviWriter::CloseMovie() {
    if (m_fd >= 0) {
        WriteHeaders(WriteIndex());
        if (::close(m_fd) != 0) {
            Fail(kWriteFailed, "close()");
        }
        m_fd = -1;
    }
    m_state = kAviStateClosed;
}
