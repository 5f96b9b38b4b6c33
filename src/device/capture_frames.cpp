#include "device/capture_frames.h"

#include <algorithm>
#include <cstring>

#include "device/command_reply.h"
#include "device/receive_batch.h"

namespace {
void KeepFrame(void* context, CCommandReply*, const std::string&, const uint8_t* bytes, int count) {
    if (count != kFrameBlockSize) {
        return;
    }
    auto* frames = static_cast<std::vector<CapturedFrame>*>(context);
    CapturedFrame& frame = frames->emplace_back();
    std::memcpy(frame.data(), bytes, kFrameBlockSize);
}
}  // namespace

std::vector<CapturedFrame> CutCaptureIntoFrames(const uint8_t* bytes, size_t size, uint8_t letter) {
    std::vector<CapturedFrame> frames;
    CCommandReply collector(std::string(1, static_cast<char>(letter)), letter, KeepFrame, &frames);
    for (size_t offset = 0; offset < size; offset += kReceiveChunkBytes) {
        const size_t chunk = std::min<size_t>(kReceiveChunkBytes, size - offset);
        collector.Collect(static_cast<int>(chunk), bytes + offset);
    }
    return frames;
}
