#pragma once
// How one batch from the serial line reaches the reply collectors: a clean batch goes in chunks
// of at most 1024 bytes (the collectors' unit of work); a batch the line flagged as damaged is
// not parsed at all, so the caller can run its recovery instead. Serial monitor thread.
#include <cstdint>
#include <functional>

constexpr uint32_t kReceiveChunkBytes = 1024;

// Returns false, feeding nothing, when `errors` is not 0; otherwise feeds every byte in order.
bool FeedReceivedBatch(uint32_t count, uint32_t errors, const uint8_t* bytes,
                       const std::function<void(int, const uint8_t*)>& feed);
