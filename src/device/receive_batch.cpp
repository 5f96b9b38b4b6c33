#include "device/receive_batch.h"

bool FeedReceivedBatch(uint32_t count, uint32_t errors, const uint8_t* bytes,
                       const std::function<void(int, const uint8_t*)>& feed) {
    if (errors != 0) {
        return false;
    }
    for (uint32_t offset = 0; offset < count; offset += kReceiveChunkBytes) {
        const uint32_t size =
            count - offset < kReceiveChunkBytes ? count - offset : kReceiveChunkBytes;
        feed(static_cast<int>(size), bytes + offset);
    }
    return true;
}
