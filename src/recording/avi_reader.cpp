#include "recording/avi_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "recording/mpeg4_video.h"
#include "recording/read_only_file.h"

namespace {

// No frame of any video this reader is meant for comes near this; a chunk header claiming more
// is broken, and nothing that large is allocated on its word.
constexpr uint32_t kMaxFrameBytes = uint32_t{1} << 26;
static_assert(kMaxFrameBytes <= AviFrameTable::kMaxSize);
// Idx1 entries are read in batches of this many, so that reading the index takes constant
// memory however long the file.
constexpr std::size_t kIndexBatchEntries = 4096;
// Enough of a frame to hold the picture header after the headers a key frame may begin with.
constexpr std::size_t kPicturePrefixBytes = 256;
// Frame sizes a stream format may give.
constexpr int64_t kMaxFrameSide = 32767;
// The two streams a chunk id can name are numbered in two decimal digits.
constexpr int kMaxStreamNumber = 99;

constexpr uint32_t kFourCcRecordList = MakeFourCc('r', 'e', 'c', ' ');
constexpr uint32_t kFourCcUncompressedFrame = MakeFourCc('0', '0', 'd', 'b');

uint32_t Le32(const uint8_t* b) {
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

uint16_t Le16(const uint8_t* b) {
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

uint64_t Padded(uint64_t end, uint32_t size) {
    return end + (size & 1);
}

bool IsPrintableFourCc(uint32_t id) {
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<uint8_t>(id >> shift);
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// '01wb', '00dc', '02tx': data of some stream, which a reader of one stream steps over.
bool IsStreamDataChunk(uint32_t id) {
    const auto c0 = static_cast<uint8_t>(id), c1 = static_cast<uint8_t>(id >> 8);
    const auto c2 = static_cast<uint8_t>(id >> 16), c3 = static_cast<uint8_t>(id >> 24);
    return c0 >= '0' && c0 <= '9' && c1 >= '0' && c1 <= '9' && c2 >= 'a' && c2 <= 'z' &&
           c3 >= 'a' && c3 <= 'z';
}

std::string Num(uint64_t value) {
    return std::to_string(value);
}

}  // namespace

void AviFrameTable::Append(uint64_t offset, uint32_t size) {
    if (m_blocks.empty() || m_blocks.back().size() == kBlockFrames) {
        m_blocks.emplace_back();
        if (m_blocks.size() > 1) {
            m_blocks.back().reserve(kBlockFrames);  // the first grows with a short file
        }
    }
    m_blocks.back().push_back(offset << 28 | uint64_t{size} << 1);
    ++m_count;
}

AviFrameEntry AviFrameTable::Get(std::size_t n) const {
    const uint64_t word = Word(n);
    AviFrameEntry entry;
    entry.offset = word >> 28;
    entry.size = static_cast<uint32_t>(word >> 1) & kMaxSize;
    entry.flags = (word & 1) != 0 ? kAviifKeyFrame : 0;
    return entry;
}

void AviFrameTable::SetKey(std::size_t n, bool isKey) {
    uint64_t& word = m_blocks[n >> kBlockShift][n & (kBlockFrames - 1)];
    word = (word & ~uint64_t{1}) | (isKey ? 1 : 0);
}

std::size_t AviFrameTable::CapacityBytes() const {
    std::size_t bytes = m_blocks.capacity() * sizeof(m_blocks[0]);
    for (const std::vector<uint64_t>& block : m_blocks) {
        bytes += block.capacity() * sizeof(uint64_t);
    }
    return bytes;
}

std::string FourCcText(uint32_t fourCc) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<char>(fourCc >> shift);
        text += (c >= 0x20 && c <= 0x7E) ? c : '?';
    }
    return text;
}

CAviReader::~CAviReader() {
    Close();
}

void CAviReader::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = -1;
    m_frames.Clear();
    m_problems.clear();
}

bool CAviReader::Fail(std::string text) {
    m_errorText = std::move(text);
    Close();
    return false;
}

void CAviReader::Problem(AviProblemKind kind, uint64_t at, int64_t frame, std::string text) {
    // A header field the file is cut off before is missing where the file ends.
    m_problems.push_back({kind, std::min(at, m_fileBytes), frame, std::move(text)});
}

const AviProblem* CAviReader::FramesEnd() const {
    for (const AviProblem& problem : m_problems) {
        if (problem.kind == AviProblemKind::kFramesEnd) {
            return &problem;
        }
    }
    return nullptr;
}

bool CAviReader::ReadAt(uint64_t at, void* buffer, std::size_t bytes) const {
    auto* out = static_cast<uint8_t*>(buffer);
    while (bytes > 0) {
        const ssize_t got = ::pread(m_fd, out, bytes, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            if (got == 0) {
                errno = 0;  // the file ended early
            }
            return false;
        }
        out += got;
        at += static_cast<uint64_t>(got);
        bytes -= static_cast<std::size_t>(got);
    }
    return true;
}

bool CAviReader::ReadChunkHeader(uint64_t at, ChunkHeader& header) const {
    uint8_t bytes[kChunkHeaderBytes];
    if (at + kChunkHeaderBytes > m_fileBytes || !ReadAt(at, bytes, sizeof bytes)) {
        return false;
    }
    header.id = Le32(bytes);
    header.size = Le32(bytes + 4);
    return true;
}

bool CAviReader::IsOwnFrameChunk(uint32_t id) const {
    if (m_streamNumber < 0) {
        return false;
    }
    const auto tens = static_cast<uint32_t>('0' + m_streamNumber / 10);
    const auto ones = static_cast<uint32_t>('0' + m_streamNumber % 10) << 8;
    const uint32_t number = tens | ones;
    return id == ((kFourCcCompressedFrame & 0xFFFF0000u) | number) ||
           id == ((kFourCcUncompressedFrame & 0xFFFF0000u) | number);
}

bool CAviReader::Open(const std::string& path) {
    Close();
    m_path = path;
    m_errorText.clear();
    m_fileBytes = 0;
    m_mainHeader = {};
    m_streamHeader = {};
    m_format = {};
    m_hasMainHeader = false;
    m_mainHeaderAt = m_streamHeaderAt = m_formatAt = 0;
    m_streamNumber = -1;
    m_width = m_height = 0;
    m_framesPerSecond = 0;
    m_movieCodeAt = 0;
    m_hasMovieList = false;
    m_indexAt = m_indexBytes = 0;
    m_hasIndex = false;
    m_indexFrames = 0;
    m_frames.Clear();
    m_problems.clear();

    const std::string name = "'" + path + "'";
    // Never waits for a writer: a FIFO under a video's name is refused, not opened.
    m_fd = OpenRecordingForReading(path);
    if (m_fd < 0) {
        if (errno == EISDIR) {
            return Fail(name + " is a directory");
        }
        if (errno == EINVAL) {
            return Fail(name + " is not a regular file");
        }
        return Fail("cannot open " + name + ": " + std::strerror(errno));
    }
    struct stat status {};
    if (::fstat(m_fd, &status) != 0) {
        return Fail("cannot read " + name + ": " + std::strerror(errno));
    }
    m_fileBytes = static_cast<uint64_t>(status.st_size);
    if (m_fileBytes == 0) {
        return Fail(name + " is empty");
    }

    uint8_t riff[kListHeaderBytes];
    if (m_fileBytes < sizeof riff || !ReadAt(0, riff, sizeof riff) || Le32(riff) != kFourCcRiff ||
        Le32(riff + 8) != kFourCcAvi) {
        return Fail(name + " is not an AVI file (no RIFF 'AVI ' header)");
    }
    const uint64_t riffEnd = kChunkHeaderBytes + uint64_t{Le32(riff + 4)};
    if (riffEnd != m_fileBytes) {
        Problem(AviProblemKind::kLayout, 4, -1,
                "the RIFF header gives a file of " + Num(riffEnd) + " bytes, the file has " +
                    Num(m_fileBytes));
    }

    bool hasHeaderList = false;
    uint64_t at = kListHeaderBytes;
    while (at + kChunkHeaderBytes <= m_fileBytes) {
        ChunkHeader chunk;
        if (!ReadChunkHeader(at, chunk)) {
            return Fail("cannot read " + name + ": " + std::strerror(errno));
        }
        const uint64_t payload = at + kChunkHeaderBytes;
        const uint64_t chunkEnd = payload + chunk.size;
        if (chunk.id == kFourCcList) {
            uint8_t type[4];
            if (payload + 4 > m_fileBytes || !ReadAt(payload, type, 4)) {
                break;
            }
            const uint64_t listEnd = std::min(chunkEnd, m_fileBytes);
            if (Le32(type) == kFourCcHeaderList && !hasHeaderList) {
                hasHeaderList = true;
                ReadHeaderList(payload + 4, listEnd);
            } else if (Le32(type) == kFourCcMovieList) {
                if (m_streamNumber < 0) {
                    break;  // no video stream to read frames of
                }
                if (m_hasMovieList) {
                    Problem(AviProblemKind::kLayout, at, -1,
                            "a second movie list at byte " + Num(at) + " is not read");
                } else {
                    m_hasMovieList = true;
                    m_movieCodeAt = payload;
                    at = WalkMovieList(payload + 4, chunkEnd);
                    continue;
                }
            }
        } else if (chunk.id == kFourCcIndex) {
            if (!m_hasIndex) {
                m_hasIndex = true;
                m_indexAt = payload;
                const uint64_t present = std::min(chunkEnd, m_fileBytes) - payload;
                m_indexBytes = present - present % kAviIndexEntryBytes;
                if (present < chunk.size) {
                    Problem(AviProblemKind::kIndex, m_fileBytes, -1,
                            "the idx1 index is cut short: " + Num(present / kAviIndexEntryBytes) +
                                " of its " + Num(chunk.size / kAviIndexEntryBytes) +
                                " entries are in the file");
                }
            }
        } else if (chunk.id == kFourCcRiff) {
            Problem(AviProblemKind::kLayout, at, -1,
                    "the file goes on in a further RIFF chunk at byte " + Num(at) +
                        " (an OpenDML extension), which is not read");
            break;
        } else if (!IsPrintableFourCc(chunk.id)) {
            Problem(AviProblemKind::kLayout, at, -1,
                    "unreadable data at byte " + Num(at) + "; the rest of the file is not read");
            break;
        }
        at = Padded(chunkEnd, chunk.size);
    }

    if (!hasHeaderList) {
        return Fail(name + " has no stream headers (no 'hdrl' list)");
    }
    if (m_streamNumber < 0) {
        return Fail(name + " has no video stream");
    }

    // The frame size: the stream format's, or else the main header's.
    int64_t width = m_format.width;
    int64_t height = m_format.height < 0 ? -int64_t{m_format.height} : m_format.height;
    uint64_t sizeAt = m_formatAt + 4;
    if (width <= 0 || height <= 0) {
        width = m_mainHeader.width;
        height = m_mainHeader.height;
        sizeAt = m_mainHeaderAt + 32;
    }
    if (width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide) {
        return Fail(name + " gives its video a frame size of " + Num(static_cast<uint64_t>(width)) +
                    " x " + Num(static_cast<uint64_t>(height)) + " pixels, which cannot be");
    }
    m_width = static_cast<int>(width);
    m_height = static_cast<int>(height);
    if (m_width > kMaxPictureSide || m_height > kMaxPictureSide) {
        Problem(AviProblemKind::kLayout, sizeAt, -1,
                "the frame size of " + Num(width) + " x " + Num(height) +
                    " pixels is larger than " + Num(kMaxPictureSide) + " x " +
                    Num(kMaxPictureSide) +
                    ", the largest this program decodes: the video player does not play it");
    }

    if (m_streamHeader.rate > 0 && m_streamHeader.scale > 0) {
        m_framesPerSecond = static_cast<double>(m_streamHeader.rate) / m_streamHeader.scale;
    } else if (m_mainHeader.microSecPerFrame > 0) {
        m_framesPerSecond = 1e6 / m_mainHeader.microSecPerFrame;
        Problem(AviProblemKind::kLayout, m_streamHeaderAt + 20, -1,
                "the stream header gives no frame rate (rate " + Num(m_streamHeader.rate) +
                    ", scale " + Num(m_streamHeader.scale) + "); the main header's " +
                    Num(m_mainHeader.microSecPerFrame) + " microseconds per frame are used");
    } else {
        Problem(AviProblemKind::kLayout, m_streamHeaderAt + 20, -1,
                "neither header gives a frame rate");
    }

    if (!m_hasMovieList) {
        Problem(AviProblemKind::kFramesEnd, m_fileBytes, 0,
                "the file has no movie list ('movi'), so it holds no frames");
    }
    ReadIndex();
    CheckFrameCounts();
    return true;
}

void CAviReader::ReadHeaderList(uint64_t begin, uint64_t end) {
    int streamNumber = 0;
    for (uint64_t at = begin; at + kChunkHeaderBytes <= end;) {
        ChunkHeader chunk;
        if (!ReadChunkHeader(at, chunk)) {
            return;
        }
        const uint64_t payload = at + kChunkHeaderBytes;
        const uint64_t chunkEnd = std::min(payload + chunk.size, end);
        const auto present = static_cast<std::size_t>(chunkEnd - payload);
        if (chunk.id == kFourCcMainHeader && !m_hasMainHeader) {
            uint8_t b[kAviMainHeaderBytes] = {};
            if (!ReadAt(payload, b, std::min(present, sizeof b))) {
                return;
            }
            if (present < sizeof b) {
                Problem(
                    AviProblemKind::kLayout, at, -1,
                    "the main header has " + Num(present) + " bytes instead of " + Num(sizeof b));
            }
            m_hasMainHeader = true;
            m_mainHeaderAt = payload;
            m_mainHeader.microSecPerFrame = Le32(b);
            m_mainHeader.maxBytesPerSec = Le32(b + 4);
            m_mainHeader.paddingGranularity = Le32(b + 8);
            m_mainHeader.flags = Le32(b + 12);
            m_mainHeader.totalFrames = Le32(b + 16);
            m_mainHeader.initialFrames = Le32(b + 20);
            m_mainHeader.streams = Le32(b + 24);
            m_mainHeader.suggestedBufferSize = Le32(b + 28);
            m_mainHeader.width = Le32(b + 32);
            m_mainHeader.height = Le32(b + 36);
        } else if (chunk.id == kFourCcList && present >= 4) {
            uint8_t type[4];
            if (!ReadAt(payload, type, 4)) {
                return;
            }
            if (Le32(type) == kFourCcStreamList) {
                ReadStreamList(payload + 4, chunkEnd, streamNumber++);
            }
        }
        at = Padded(payload + chunk.size, chunk.size);
    }
}

void CAviReader::ReadStreamList(uint64_t begin, uint64_t end, int streamNumber) {
    AviStreamHeader header;
    BitmapInfoHeader format;
    format.size = 0;
    bool hasHeader = false;
    uint64_t headerAt = 0;
    uint64_t formatAt = 0;
    for (uint64_t at = begin; at + kChunkHeaderBytes <= end;) {
        ChunkHeader chunk;
        if (!ReadChunkHeader(at, chunk)) {
            return;
        }
        const uint64_t payload = at + kChunkHeaderBytes;
        const auto present =
            static_cast<std::size_t>(std::min(payload + chunk.size, end) - payload);
        if (chunk.id == kFourCcStreamHeader && !hasHeader) {
            uint8_t b[kAviStreamHeaderBytes] = {};
            if (!ReadAt(payload, b, std::min(present, sizeof b))) {
                return;
            }
            hasHeader = true;
            headerAt = payload;
            header.type = Le32(b);
            header.handler = Le32(b + 4);
            header.flags = Le32(b + 8);
            header.priority = Le16(b + 12);
            header.language = Le16(b + 14);
            header.initialFrames = Le32(b + 16);
            header.scale = Le32(b + 20);
            header.rate = Le32(b + 24);
            header.start = Le32(b + 28);
            header.length = Le32(b + 32);
            header.suggestedBufferSize = Le32(b + 36);
            header.quality = Le32(b + 40);
            header.sampleSize = Le32(b + 44);
            header.frameLeft = static_cast<int16_t>(Le16(b + 48));
            header.frameTop = static_cast<int16_t>(Le16(b + 50));
            header.frameRight = static_cast<int16_t>(Le16(b + 52));
            header.frameBottom = static_cast<int16_t>(Le16(b + 54));
            // Older writers leave out the frame rectangle.
            if (present < 48) {
                Problem(AviProblemKind::kLayout, at, -1,
                        "the header of stream " + Num(static_cast<uint64_t>(streamNumber)) +
                            " has " + Num(present) + " bytes instead of " + Num(sizeof b));
            }
        } else if (chunk.id == kFourCcStreamFormat && format.size == 0 &&
                   present >= kBitmapInfoHeaderBytes) {
            uint8_t b[kBitmapInfoHeaderBytes];
            if (!ReadAt(payload, b, sizeof b)) {
                return;
            }
            format.size = Le32(b);
            formatAt = payload;
            format.width = static_cast<int32_t>(Le32(b + 4));
            format.height = static_cast<int32_t>(Le32(b + 8));
            format.planes = Le16(b + 12);
            format.bitCount = Le16(b + 14);
            format.compression = Le32(b + 16);
            format.sizeImage = Le32(b + 20);
            format.xPelsPerMeter = static_cast<int32_t>(Le32(b + 24));
            format.yPelsPerMeter = static_cast<int32_t>(Le32(b + 28));
            format.clrUsed = Le32(b + 32);
            format.clrImportant = Le32(b + 36);
        }
        at = Padded(payload + chunk.size, chunk.size);
    }
    if (!hasHeader || header.type != kFourCcVideoStream) {
        return;
    }
    if (m_streamNumber >= 0 || streamNumber > kMaxStreamNumber) {
        Problem(AviProblemKind::kLayout, begin, -1,
                "stream " + Num(static_cast<uint64_t>(streamNumber)) +
                    " is a further video stream and is not read");
        return;
    }
    m_streamNumber = streamNumber;
    m_streamHeaderAt = headerAt;
    m_streamHeader = header;
    m_format = format;
    m_formatAt = formatAt;
    if (format.size == 0) {
        Problem(AviProblemKind::kLayout, begin, -1,
                "the video stream has no usable format ('strf'); the main header's frame size "
                "is used");
    }
}

uint64_t CAviReader::WalkMovieList(uint64_t begin, uint64_t declaredEnd) {
    bool readingOn = false;  // past the movie list's stated end, where frames follow
    uint64_t at = begin;
    const auto frameNumber = [this] { return static_cast<int64_t>(m_frames.Size()); };
    const auto cut = [&](const std::string& text) {
        Problem(AviProblemKind::kFramesEnd, at, frameNumber(),
                "frame " + Num(m_frames.Size()) + " at byte " + Num(at) + ": " + text);
        // An index after the movie list may still be whole; past its stated end there is
        // nothing more to find.
        return readingOn ? m_fileBytes : std::max(at, declaredEnd + (declaredEnd & 1));
    };
    for (;;) {
        if (at >= declaredEnd && !readingOn) {
            // A recording that stopped before its headers were completed states an empty movie
            // list, yet its frames follow: read on while they do.
            ChunkHeader next;
            if (!ReadChunkHeader(at, next) || !IsOwnFrameChunk(next.id)) {
                return at;
            }
            readingOn = true;
            Problem(AviProblemKind::kLayout, declaredEnd, -1,
                    "the movie list's size ends it at byte " + Num(declaredEnd) +
                        ", but frames follow; they are read on");
        }
        if (at >= m_fileBytes) {
            if (at < declaredEnd) {
                Problem(AviProblemKind::kFramesEnd, m_fileBytes, frameNumber(),
                        "frame " + Num(m_frames.Size()) + ": the file ends at byte " +
                            Num(m_fileBytes) + ", but its movie list runs to byte " +
                            Num(declaredEnd));
            }
            return at;
        }
        ChunkHeader chunk;
        if (at + kChunkHeaderBytes > m_fileBytes) {
            return cut("the file ends inside the chunk header");
        }
        if (!ReadChunkHeader(at, chunk)) {
            return cut(std::string("the chunk header cannot be read: ") + std::strerror(errno));
        }
        const uint64_t payload = at + kChunkHeaderBytes;
        const uint64_t payloadEnd = payload + chunk.size;
        if (IsOwnFrameChunk(chunk.id)) {
            if (chunk.size > kMaxFrameBytes) {
                return cut("the chunk header gives " + Num(chunk.size) +
                           " bytes, more than any frame has");
            }
            if (payloadEnd > m_fileBytes) {
                return cut("the file ends inside the frame (" + Num(m_fileBytes - payload) +
                           " of its " + Num(chunk.size) + " bytes are there)");
            }
            if (payload >= AviFrameTable::kMaxOffset) {
                return cut("the frame lies past byte " + Num(AviFrameTable::kMaxOffset) +
                           ", beyond what this reader reads");
            }
            if (m_frames.Size() >= static_cast<std::size_t>(INT_MAX)) {
                return cut("the file holds more frames than this reader counts");
            }
            m_frames.Append(payload, chunk.size);
            at = Padded(payloadEnd, chunk.size);
            continue;
        }
        if (readingOn && !IsStreamDataChunk(chunk.id)) {
            return at;
        }
        if (chunk.id == kFourCcList) {
            uint8_t type[4];
            if (payload + 4 > m_fileBytes || !ReadAt(payload, type, 4)) {
                return cut("the file ends inside a list header");
            }
            if (Le32(type) == kFourCcRecordList) {
                at = payload + 4;  // its chunks follow in line
                continue;
            }
        } else if (chunk.id == kFourCcIndex || chunk.id == kFourCcRiff) {
            Problem(AviProblemKind::kLayout, at, -1,
                    "the movie list's size runs past the '" + FourCcText(chunk.id) +
                        "' chunk at byte " + Num(at));
            return at;
        } else if (!IsPrintableFourCc(chunk.id)) {
            return cut("the chunk header is broken");
        }
        if (payloadEnd > m_fileBytes) {
            return cut("the '" + FourCcText(chunk.id) + "' chunk of " + Num(chunk.size) +
                       " bytes runs past the end of the file");
        }
        at = Padded(payloadEnd, chunk.size);
    }
}

void CAviReader::ReadIndex() {
    if (!m_hasIndex) {
        Problem(AviProblemKind::kIndex, m_fileBytes, -1,
                "the file has no idx1 index; its frames were found by walking the movie list");
        FlagKeyFramesFromPictures(0);
        return;
    }
    // Offsets count from the code 'movi' in most files, from the start of the file in some.
    uint64_t base = m_movieCodeAt;
    bool consistent = true;
    std::size_t flagged = 0;  // frames whose key-frame flag comes from the index
    uint64_t own = 0;
    std::vector<uint8_t> batch(kIndexBatchEntries * kAviIndexEntryBytes);
    const uint64_t entries = m_indexBytes / kAviIndexEntryBytes;
    for (uint64_t first = 0; first < entries; first += kIndexBatchEntries) {
        const auto count =
            static_cast<std::size_t>(std::min<uint64_t>(kIndexBatchEntries, entries - first));
        if (!ReadAt(m_indexAt + first * kAviIndexEntryBytes, batch.data(),
                    count * kAviIndexEntryBytes)) {
            Problem(AviProblemKind::kIndex, m_indexAt + first * kAviIndexEntryBytes, -1,
                    std::string("the idx1 index cannot be read: ") + std::strerror(errno));
            consistent = false;
            break;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const uint8_t* e = batch.data() + i * kAviIndexEntryBytes;
            if (!IsOwnFrameChunk(Le32(e))) {
                continue;
            }
            const uint32_t flags = Le32(e + 4), offset = Le32(e + 8), size = Le32(e + 12);
            if (consistent && own < m_frames.Size()) {
                const AviFrameEntry frame = m_frames.Get(own);
                const uint64_t header = frame.offset - kChunkHeaderBytes;
                if (own == 0 && m_movieCodeAt + offset != header && offset == header) {
                    base = 0;
                }
                if (base + offset == header && size == frame.size) {
                    m_frames.SetKey(own, (flags & kAviifKeyFrame) != 0);
                    flagged = own + 1;
                } else {
                    consistent = false;
                    Problem(AviProblemKind::kIndex, m_indexAt + (first + i) * kAviIndexEntryBytes,
                            static_cast<int64_t>(own),
                            "the idx1 entry of frame " + Num(own) + " gives byte " +
                                Num(base + offset) + " and " + Num(size) +
                                " bytes, the movie list has it at byte " + Num(header) + " with " +
                                Num(frame.size) + " bytes; key frames are found from the pictures");
                }
            }
            ++own;
        }
    }
    m_indexFrames = own;
    if (own != m_frames.Size()) {
        Problem(AviProblemKind::kIndex, m_indexAt, -1,
                "the idx1 index lists " + Num(own) + " frames, the file holds " +
                    Num(m_frames.Size()) + " whole frames");
    }
    FlagKeyFramesFromPictures(flagged);
}

void CAviReader::FlagKeyFramesFromPictures(std::size_t from) {
    // Without a word from the index, an MPEG-4 frame is a key frame when its picture is coded
    // on its own; frames of other codecs are taken to stand alone.
    const bool isMpeg4 =
        IsMpeg4Part2FourCc(m_format.compression) || IsMpeg4Part2FourCc(m_streamHeader.handler);
    uint8_t prefix[kPicturePrefixBytes];
    for (std::size_t n = from; n < m_frames.Size(); ++n) {
        const AviFrameEntry frame = m_frames.Get(n);
        bool isKey = !isMpeg4;
        if (isMpeg4) {
            const std::size_t bytes = std::min<std::size_t>(frame.size, sizeof prefix);
            if (ReadAt(frame.offset, prefix, bytes)) {
                isKey = FirstPictureType(prefix, bytes) == Mpeg4PictureType::kIntra;
            }
        }
        m_frames.SetKey(n, isKey);
    }
}

void CAviReader::CheckFrameCounts() {
    const uint64_t found = m_frames.Size();
    if (m_hasMainHeader && m_mainHeader.totalFrames != found) {
        Problem(AviProblemKind::kFrameCount, m_mainHeaderAt + 16, -1,
                "the main header gives " + Num(m_mainHeader.totalFrames) +
                    " frames, the file holds " + Num(found) + " whole frames");
    }
    if (m_streamHeader.length != found) {
        Problem(AviProblemKind::kFrameCount, m_streamHeaderAt + 32, -1,
                "the stream header gives " + Num(m_streamHeader.length) +
                    " frames, the file holds " + Num(found) + " whole frames");
    }
}

int CAviReader::KeyFrameAtOrBefore(int n) const {
    for (int k = std::min(n, FrameCount() - 1); k > 0; --k) {
        if (IsKeyFrame(k)) {
            return k;
        }
    }
    return 0;
}

bool CAviReader::ReadFrame(int n, std::vector<uint8_t>& out) {
    if (m_fd < 0 || n < 0 || n >= FrameCount()) {
        m_errorText = "frame " + std::to_string(n) + " is not in '" + m_path + "'";
        return false;
    }
    const AviFrameEntry& frame = Frame(n);
    out.resize(frame.size);
    if (!ReadAt(frame.offset, out.data(), out.size())) {
        m_errorText = "cannot read frame " + std::to_string(n) + " of '" + m_path +
                      "': " + (errno != 0 ? std::strerror(errno) : "the file ends early");
        return false;
    }
    return true;
}
