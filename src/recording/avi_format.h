#pragma once
// The on-disk structures of an AVI 1.0 file with one video stream, as video recordings store them
// and as players and other installations of this program read them: the four-character codes,
// the header records with their little-endian layouts, and pure builders of the header block
// and the index. Everything here is bytes in, bytes out; CAviWriter owns the file.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

constexpr uint32_t MakeFourCc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

inline constexpr uint32_t kFourCcRiff = MakeFourCc('R', 'I', 'F', 'F');
inline constexpr uint32_t kFourCcAvi = MakeFourCc('A', 'V', 'I', ' ');
inline constexpr uint32_t kFourCcList = MakeFourCc('L', 'I', 'S', 'T');
inline constexpr uint32_t kFourCcHeaderList = MakeFourCc('h', 'd', 'r', 'l');
inline constexpr uint32_t kFourCcMainHeader = MakeFourCc('a', 'v', 'i', 'h');
inline constexpr uint32_t kFourCcStreamList = MakeFourCc('s', 't', 'r', 'l');
inline constexpr uint32_t kFourCcStreamHeader = MakeFourCc('s', 't', 'r', 'h');
inline constexpr uint32_t kFourCcStreamFormat = MakeFourCc('s', 't', 'r', 'f');
inline constexpr uint32_t kFourCcStreamName = MakeFourCc('s', 't', 'r', 'n');
inline constexpr uint32_t kFourCcMovieList = MakeFourCc('m', 'o', 'v', 'i');
inline constexpr uint32_t kFourCcIndex = MakeFourCc('i', 'd', 'x', '1');
inline constexpr uint32_t kFourCcVideoStream = MakeFourCc('v', 'i', 'd', 's');
// A compressed frame of stream 0.
inline constexpr uint32_t kFourCcCompressedFrame = MakeFourCc('0', '0', 'd', 'c');
// Stream handler and compression of Xvid MPEG-4 video. Players pick the decoder by these.
inline constexpr uint32_t kFourCcXvidHandler = MakeFourCc('x', 'v', 'i', 'd');
inline constexpr uint32_t kFourCcXvidCompression = MakeFourCc('X', 'V', 'I', 'D');

// avih flag: the file ends in an idx1 index.
inline constexpr uint32_t kAvifHasIndex = 0x10;
// idx1 flag: the frame decodes on its own.
inline constexpr uint32_t kAviifKeyFrame = 0x10;

inline constexpr std::size_t kChunkHeaderBytes = 8;  // four-character code and 32-bit size
inline constexpr std::size_t kListHeaderBytes = 12;  // 'LIST', size, list type
inline constexpr std::size_t kAviMainHeaderBytes = 56;
inline constexpr std::size_t kAviStreamHeaderBytes = 56;
inline constexpr std::size_t kBitmapInfoHeaderBytes = 40;
inline constexpr std::size_t kAviIndexEntryBytes = 16;

// 'avih': the whole file.
struct AviMainHeader {
    uint32_t microSecPerFrame = 0;
    uint32_t maxBytesPerSec = 0;
    uint32_t paddingGranularity = 0;
    uint32_t flags = 0;
    uint32_t totalFrames = 0;
    uint32_t initialFrames = 0;
    uint32_t streams = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    // four reserved words, written as zero
};

// 'strh': one stream. The frame rectangle is stored as four signed 16-bit values.
struct AviStreamHeader {
    uint32_t type = 0;
    uint32_t handler = 0;
    uint32_t flags = 0;
    uint16_t priority = 0;
    uint16_t language = 0;
    uint32_t initialFrames = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;  // rate / scale = frames per second
    uint32_t start = 0;
    uint32_t length = 0;  // in frames
    uint32_t suggestedBufferSize = 0;
    uint32_t quality = 0;
    uint32_t sampleSize = 0;
    int16_t frameLeft = 0;
    int16_t frameTop = 0;
    int16_t frameRight = 0;
    int16_t frameBottom = 0;
};

// 'strf' of a video stream: a bitmap information header.
struct BitmapInfoHeader {
    uint32_t size = kBitmapInfoHeaderBytes;
    int32_t width = 0;
    int32_t height = 0;  // positive: rows bottom-up, as decoders expect for this codec
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};

// One idx1 entry. The offset counts from the 'movi' code of the movie list to the frame's chunk
// header, which is what common players expect.
struct AviIndexEntry {
    uint32_t chunkId = 0;
    uint32_t flags = 0;
    uint32_t offset = 0;
    uint32_t size = 0;  // payload bytes, without the chunk header and the pad byte
};

// Chunk payloads are padded to an even size.
constexpr std::size_t PaddedChunkBytes(std::size_t payload) {
    return payload + (payload & 1);
}

void AppendLe16(std::vector<uint8_t>& out, uint16_t value);
void AppendLe32(std::vector<uint8_t>& out, uint32_t value);
void AppendChunkHeader(std::vector<uint8_t>& out, uint32_t fourCc, uint32_t size);
std::array<uint8_t, kChunkHeaderBytes> ChunkHeader(uint32_t fourCc, uint32_t size);

// Everything a file with one video stream holds before its first frame: the RIFF header, the
// 'hdrl' list (avih; one strl with strh, strf and the NUL-terminated stream name in strn) and
// the header of the 'movi' list. `riffSize` and `movieListSize` are the size fields of the RIFF
// chunk and of the movie list; a file is written with provisional values and this block is
// rebuilt with the final ones when it is complete. The block's length does not depend on them.
std::vector<uint8_t> BuildAviHeaderBlock(const AviMainHeader& main, const AviStreamHeader& stream,
                                         const BitmapInfoHeader& format,
                                         std::string_view streamName, uint32_t riffSize,
                                         uint32_t movieListSize);

// The idx1 chunk with its entries.
std::vector<uint8_t> BuildAviIndexChunk(const std::vector<AviIndexEntry>& entries);
