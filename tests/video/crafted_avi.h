#pragma once
// AVI files built byte by byte from the file format, for the damaged and hostile files no writer
// of ours makes: headers stating any frame size, frames of any bytes, with or without an idx1
// index. Plain C++ (no test framework), for the GoogleTest and the QtTest programs alike; the
// fuzzing seeds of fuzz/corpus/avi_decode/ come from the same layout (scripts/gen-fuzz-corpus.sh).
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace crafted_avi {

struct Frame {
    std::string bytes;
    bool isKeyFrame = false;
};

inline void PutLe32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>(value >> shift);
    }
}

inline void PutChunk(std::string& out, const char* id, const std::string& payload) {
    out.append(id, 4);
    PutLe32(out, static_cast<uint32_t>(payload.size()));
    out += payload;
    if (payload.size() % 2 != 0) {
        out += '\0';
    }
}

inline std::string List(const char* type, const std::string& body) {
    std::string list = "LIST";
    PutLe32(list, static_cast<uint32_t>(4 + body.size()));
    return list + type + body;
}

// One 'XVID' video stream at 20 frames per second whose main header and stream format state
// width x height; the frames as '00dc' chunks; an idx1 index with their key flags unless
// `withIndex` is false.
inline std::string Avi(uint32_t width, uint32_t height, const std::vector<Frame>& frames,
                       bool withIndex = true) {
    const auto count = static_cast<uint32_t>(frames.size());
    std::string avih;
    for (uint32_t v : {50000u, 0u, 0u, withIndex ? 0x10u : 0u, count, 0u, 1u, 0u, width, height, 0u,
                       0u, 0u, 0u}) {
        PutLe32(avih, v);
    }
    std::string strh = "vidsxvid";
    for (uint32_t v : {0u, 0u, 0u, 1u, 20u, 0u, count, 0u, 0xFFFFFFFFu, 0u, 0u, 0u}) {
        PutLe32(strh, v);
    }
    std::string strf;
    PutLe32(strf, 40);
    PutLe32(strf, width);
    PutLe32(strf, height);
    PutLe32(strf, 1 | 24u << 16);  // planes, bits per pixel
    strf += "XVID";
    for (int i = 0; i < 5; ++i) {
        PutLe32(strf, 0);
    }
    std::string strl;
    PutChunk(strl, "strh", strh);
    PutChunk(strl, "strf", strf);
    std::string hdrl;
    PutChunk(hdrl, "avih", avih);
    hdrl += List("strl", strl);

    std::string movi, index;
    for (const Frame& frame : frames) {
        index += "00dc";
        PutLe32(index, frame.isKeyFrame ? 0x10 : 0);
        PutLe32(index, static_cast<uint32_t>(4 + movi.size()));  // from the code 'movi'
        PutLe32(index, static_cast<uint32_t>(frame.bytes.size()));
        PutChunk(movi, "00dc", frame.bytes);
    }
    std::string body = "AVI " + List("hdrl", hdrl) + List("movi", movi);
    if (withIndex) {
        PutChunk(body, "idx1", index);
    }
    std::string file = "RIFF";
    PutLe32(file, static_cast<uint32_t>(body.size()));
    return file + body;
}

// `count` frames of `bytes` random bytes each (seeded), none a key frame.
inline std::vector<Frame> RandomFrames(int count, std::size_t bytes, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<Frame> frames(static_cast<std::size_t>(count));
    for (Frame& frame : frames) {
        frame.bytes.resize(bytes);
        for (char& c : frame.bytes) {
            c = static_cast<char>(random());
        }
    }
    return frames;
}

// `key` followed by `count` empty frames: what a recording holds where the encoder failed.
inline std::vector<Frame> KeyFrameThenEmptyFrames(const Frame& key, int count) {
    std::vector<Frame> frames(static_cast<std::size_t>(count) + 1);
    frames[0] = key;
    return frames;
}

}  // namespace crafted_avi
