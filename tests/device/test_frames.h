#pragma once
// Helpers for device tests: recognisable frame blocks and a reply recorder.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/command_reply.h"
#include "device/frame_sync.h"

// A frame block whose pixel words all hold `tag`, with the marker in place.
inline std::vector<uint8_t> TaggedFrame(uint16_t tag) {
    std::vector<uint8_t> block(kFrameBlockSize);
    for (int i = 0; i < kFrameMarkerOffset / 2; ++i) {
        block[2 * i] = static_cast<uint8_t>(tag & 0xFF);
        block[2 * i + 1] = static_cast<uint8_t>(tag >> 8);
    }
    std::memcpy(block.data() + kFrameMarkerOffset, kFrameMarker, 4);
    return block;
}

inline uint16_t TagOf(const uint8_t* block) {
    return static_cast<uint16_t>(block[0] | (block[1] << 8));
}

// Records every reply a collector or list reports.
struct ReplyRecorder {
    std::vector<std::string> commands;
    std::vector<std::string> texts;
    std::vector<std::vector<uint8_t>> bytes;

    static void Callback(void* context, CCommandReply* reply, const std::string& text,
                         const uint8_t* data, int count) {
        auto* self = static_cast<ReplyRecorder*>(context);
        self->commands.push_back(reply->CommandText());
        self->texts.push_back(text);
        self->bytes.emplace_back(data, data + count);
    }
};
