#include "recording/avi_format.h"

void AppendLe16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

std::array<uint8_t, kChunkHeaderBytes> ChunkHeader(uint32_t fourCc, uint32_t size) {
    std::array<uint8_t, kChunkHeaderBytes> header{};
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<uint8_t>(fourCc >> (8 * i));
        header[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
    return header;
}

void AppendChunkHeader(std::vector<uint8_t>& out, uint32_t fourCc, uint32_t size) {
    const auto header = ChunkHeader(fourCc, size);
    out.insert(out.end(), header.begin(), header.end());
}

namespace {

void AppendMainHeader(std::vector<uint8_t>& out, const AviMainHeader& h) {
    AppendChunkHeader(out, kFourCcMainHeader, kAviMainHeaderBytes);
    for (uint32_t value :
         {h.microSecPerFrame, h.maxBytesPerSec, h.paddingGranularity, h.flags, h.totalFrames,
          h.initialFrames, h.streams, h.suggestedBufferSize, h.width, h.height, 0u, 0u, 0u, 0u}) {
        AppendLe32(out, value);
    }
}

void AppendStreamHeader(std::vector<uint8_t>& out, const AviStreamHeader& h) {
    AppendChunkHeader(out, kFourCcStreamHeader, kAviStreamHeaderBytes);
    AppendLe32(out, h.type);
    AppendLe32(out, h.handler);
    AppendLe32(out, h.flags);
    AppendLe16(out, h.priority);
    AppendLe16(out, h.language);
    for (uint32_t value : {h.initialFrames, h.scale, h.rate, h.start, h.length,
                           h.suggestedBufferSize, h.quality, h.sampleSize}) {
        AppendLe32(out, value);
    }
    for (int16_t value : {h.frameLeft, h.frameTop, h.frameRight, h.frameBottom}) {
        AppendLe16(out, static_cast<uint16_t>(value));
    }
}

void AppendBitmapInfoHeader(std::vector<uint8_t>& out, const BitmapInfoHeader& h) {
    AppendChunkHeader(out, kFourCcStreamFormat, kBitmapInfoHeaderBytes);
    AppendLe32(out, h.size);
    AppendLe32(out, static_cast<uint32_t>(h.width));
    AppendLe32(out, static_cast<uint32_t>(h.height));
    AppendLe16(out, h.planes);
    AppendLe16(out, h.bitCount);
    AppendLe32(out, h.compression);
    AppendLe32(out, h.sizeImage);
    AppendLe32(out, static_cast<uint32_t>(h.xPelsPerMeter));
    AppendLe32(out, static_cast<uint32_t>(h.yPelsPerMeter));
    AppendLe32(out, h.clrUsed);
    AppendLe32(out, h.clrImportant);
}

void AppendStreamName(std::vector<uint8_t>& out, std::string_view name) {
    const std::size_t bytes = name.size() + 1;  // with the terminating NUL
    AppendChunkHeader(out, kFourCcStreamName, static_cast<uint32_t>(bytes));
    out.insert(out.end(), name.begin(), name.end());
    out.resize(out.size() + PaddedChunkBytes(bytes) - name.size(), 0);
}

void PatchLe32(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace

std::vector<uint8_t> BuildAviHeaderBlock(const AviMainHeader& main, const AviStreamHeader& stream,
                                         const BitmapInfoHeader& format,
                                         std::string_view streamName, uint32_t riffSize,
                                         uint32_t movieListSize) {
    std::vector<uint8_t> out;
    AppendChunkHeader(out, kFourCcRiff, riffSize);
    AppendLe32(out, kFourCcAvi);

    const std::size_t headerList = out.size();
    AppendChunkHeader(out, kFourCcList, 0);
    AppendLe32(out, kFourCcHeaderList);
    AppendMainHeader(out, main);

    const std::size_t streamList = out.size();
    AppendChunkHeader(out, kFourCcList, 0);
    AppendLe32(out, kFourCcStreamList);
    AppendStreamHeader(out, stream);
    AppendBitmapInfoHeader(out, format);
    AppendStreamName(out, streamName);

    // List sizes count from the list type to the end of the list.
    PatchLe32(out, streamList + 4, static_cast<uint32_t>(out.size() - streamList - 8));
    PatchLe32(out, headerList + 4, static_cast<uint32_t>(out.size() - headerList - 8));

    AppendChunkHeader(out, kFourCcList, movieListSize);
    AppendLe32(out, kFourCcMovieList);
    return out;
}

std::vector<uint8_t> BuildAviIndexChunk(const std::vector<AviIndexEntry>& entries) {
    std::vector<uint8_t> out;
    out.reserve(kChunkHeaderBytes + entries.size() * kAviIndexEntryBytes);
    AppendChunkHeader(out, kFourCcIndex,
                      static_cast<uint32_t>(entries.size() * kAviIndexEntryBytes));
    for (const AviIndexEntry& entry : entries) {
        AppendLe32(out, entry.chunkId);
        AppendLe32(out, entry.flags);
        AppendLe32(out, entry.offset);
        AppendLe32(out, entry.size);
    }
    return out;
}
