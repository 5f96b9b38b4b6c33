#include "convert_capture.h"

#include <algorithm>
#include <cstddef>

#include "device/command_reply.h"
#include "device/receive_batch.h"

namespace {

struct CaptureContext {
    const std::function<bool(const uint8_t*)>* onBlock;
    bool isStopped = false;
};

void OnCollected(void* context, CCommandReply* reply, const std::string&, const uint8_t* bytes,
                 int count) {
    auto* capture = static_cast<CaptureContext*>(context);
    if (count != kFrameBlockSize || capture->isStopped) {
        return;
    }
    if (!(*capture->onBlock)(bytes)) {
        capture->isStopped = true;
        reply->MarkDone();
    }
}

}  // namespace

CConvertSource::Read CutCaptureIntoBlocks(CConvertSource& source, char letter,
                                          const std::function<bool(const uint8_t*)>& onBlock) {
    CaptureContext context{&onBlock};
    CCommandReply collector(std::string(1, letter), static_cast<uint8_t>(letter), OnCollected,
                            &context);
    for (;;) {
        const CConvertSource::Read read = source.NextBytes();
        if (read != CConvertSource::Read::kRecord) {
            return read;
        }
        // In the receive path's chunks, so the collector regains step exactly as it does live.
        const uint8_t* bytes = source.Bytes();
        const std::size_t size = source.ByteCount();
        for (std::size_t offset = 0; offset < size && !context.isStopped;
             offset += kReceiveChunkBytes) {
            const std::size_t chunk = std::min<std::size_t>(kReceiveChunkBytes, size - offset);
            collector.Collect(static_cast<int>(chunk), bytes + offset);
        }
        if (context.isStopped) {
            return CConvertSource::Read::kEnd;
        }
    }
}
