// The reply collectors: any byte stream from the module, cut into chunks at points taken from the
// input, for a frame letter, the calibration table `w` or a text letter.
//
// Frame letters: the frames reported are the same whatever the chunking (the live path's
// 1024-byte chunks through CReplyList, the input's own chunk sizes, the capture rescue), each is
// a whole block with the marker that occurs in the stream, and a stream of marked blocks from
// its first byte is reported block for block.
// Text letters: a reply is reported exactly at the chunk ends where its end rule holds, and its
// text is everything collected up to there.
// Input: the stream first; the letter and the chunk sizes are taken from the input's end.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/capture_frames.h"
#include "device/command_reply.h"
#include "device/receive_batch.h"
#include "device/reply_end_rules.h"
#include "device/reply_list.h"
#include "fuzz_support.h"

namespace {

constexpr uint8_t kLetters[] = {'K', 'k', 't', 'c', 'C', 'w', 'x', 'M', 'a', 'A', 'b', 'f',
                                'J', 'l', 'm', 'o', 'O', 'V', 'X', 'y', 'Y', 'T', 'q'};

struct Reply {
    std::string text;
    std::vector<uint8_t> bytes;
};

void Record(void* context, CCommandReply*, const std::string& text, const uint8_t* bytes,
            int count) {
    FUZZ_CHECK(count >= 0);
    auto* replies = static_cast<std::vector<Reply>*>(context);
    replies->push_back({text, std::vector<uint8_t>(bytes, bytes + count)});
}

// Feeds `stream` to a fresh collector in chunks whose sizes cycle through `sizes`; returns the
// replies and, in `chunkEnds`, where each chunk ended.
std::vector<Reply> FeedInChunks(uint8_t letter, const std::vector<uint8_t>& stream,
                                const std::vector<int>& sizes,
                                std::vector<std::size_t>& chunkEnds) {
    std::vector<Reply> replies;
    CCommandReply collector(std::string(1, static_cast<char>(letter)), letter, Record, &replies);
    std::size_t offset = 0;
    for (std::size_t i = 0; offset < stream.size(); ++i) {
        const std::size_t size = std::min<std::size_t>(
            static_cast<std::size_t>(sizes[i % sizes.size()]), stream.size() - offset);
        collector.Collect(static_cast<int>(size), stream.data() + offset);
        offset += size;
        chunkEnds.push_back(offset);
    }
    return replies;
}

void CheckFrames(const std::vector<uint8_t>& stream, const std::vector<Reply>& live,
                 const std::vector<Reply>& chunked, uint8_t letter) {
    FUZZ_CHECK(live.size() == chunked.size());
    FUZZ_CHECK(live.size() <= stream.size() / kFrameBlockSize);
    for (std::size_t i = 0; i < live.size(); ++i) {
        FUZZ_CHECK(live[i].bytes == chunked[i].bytes);
        FUZZ_CHECK(live[i].text == "Frame data...");
        FUZZ_CHECK(live[i].bytes.size() == kFrameBlockSize);
        FUZZ_CHECK(IsFrameMarkerAt(live[i].bytes.data() + kFrameMarkerOffset));
        FUZZ_CHECK(std::search(stream.begin(), stream.end(), live[i].bytes.begin(),
                               live[i].bytes.end()) != stream.end());
    }
    const std::vector<CapturedFrame> captured =
        CutCaptureIntoFrames(stream.data(), stream.size(), letter);
    FUZZ_CHECK(captured.size() == live.size());
    for (std::size_t i = 0; i < captured.size(); ++i) {
        FUZZ_CHECK(std::equal(captured[i].begin(), captured[i].end(), live[i].bytes.begin()));
    }
    // A stream in step from its first byte loses nothing while the blocks carry the marker.
    std::size_t inStep = 0;
    while ((inStep + 1) * kFrameBlockSize <= stream.size() &&
           IsFrameMarkerAt(stream.data() + inStep * kFrameBlockSize + kFrameMarkerOffset)) {
        ++inStep;
    }
    FUZZ_CHECK(live.size() >= inStep);
    for (std::size_t i = 0; i < inStep; ++i) {
        FUZZ_CHECK(std::equal(live[i].bytes.begin(), live[i].bytes.end(),
                              stream.begin() + static_cast<std::ptrdiff_t>(i * kFrameBlockSize)));
    }
}

void CheckText(const std::vector<uint8_t>& stream, const std::vector<Reply>& replies,
               const std::vector<std::size_t>& chunkEnds, uint8_t letter) {
    std::vector<std::size_t> expected;
    for (std::size_t i = 0; i < chunkEnds.size(); ++i) {
        const std::size_t end = chunkEnds[i];
        const bool complete = letter == 'w'
                                  ? i > 0 && IsCalibrationTableComplete(stream.data(), end)
                                  : IsTextReplyComplete(letter, stream.data(), end);
        if (complete) {
            expected.push_back(end);
        }
    }
    FUZZ_CHECK(replies.size() == expected.size());
    for (std::size_t i = 0; i < replies.size(); ++i) {
        const std::size_t end = expected[i];
        FUZZ_CHECK(replies[i].bytes.size() == end);
        FUZZ_CHECK(std::equal(replies[i].bytes.begin(), replies[i].bytes.end(), stream.begin()));
        FUZZ_CHECK(replies[i].text.size() == end);
        FUZZ_CHECK(std::memcmp(replies[i].text.data(), stream.data(), end) == 0);
    }
    // The closing CR LF is never examined by the end rules of the text letters.
    if (letter != 'w' && stream.size() >= 2) {
        std::vector<uint8_t> changed = stream;
        changed[changed.size() - 1] ^= 0x5A;
        changed[changed.size() - 2] ^= 0xA5;
        FUZZ_CHECK(IsTextReplyComplete(letter, changed.data(), changed.size()) ==
                   IsTextReplyComplete(letter, stream.data(), stream.size()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const uint8_t letter = provider.PickValueInArray(kLetters);
    const int olderCommands = provider.ConsumeIntegralInRange<int>(0, 12);
    std::vector<int> sizes(provider.ConsumeIntegralInRange<std::size_t>(1, 8));
    for (int& chunk : sizes) {
        chunk = provider.ConsumeIntegralInRange<int>(1, 2047);
    }
    const std::vector<uint8_t> stream = provider.ConsumeRemainingBytes<uint8_t>();
    if (stream.size() > CCommandReply::kMaxTextReplyBytes) {
        return 0;
    }

    // The live path: batches into 1024-byte chunks, through the list to its newest collector.
    std::vector<Reply> live;
    CReplyList list(&live);
    list.SetCallback(Record);
    for (int i = 0; i < olderCommands; ++i) {
        list.AddCommand("x", 'x');
    }
    list.AddCommand(std::string(1, static_cast<char>(letter)), letter);
    FUZZ_CHECK(list.ReplyCount() <= CReplyList::kMaxReplies);
    FUZZ_CHECK(list.LastCommandText() == std::string(1, static_cast<char>(letter)));
    FUZZ_CHECK(
        FeedReceivedBatch(static_cast<uint32_t>(stream.size()), 0, stream.data(),
                          [&list](int count, const uint8_t* bytes) { list.Feed(count, bytes); }));
    // Once stopped, nothing more is reported.
    const std::size_t reported = live.size();
    list.Stop();
    list.Feed(static_cast<int>(std::min<std::size_t>(stream.size(), 1024)), stream.data());
    FUZZ_CHECK(live.size() == reported);

    std::vector<std::size_t> chunkEnds;
    const std::vector<Reply> chunked = FeedInChunks(letter, stream, sizes, chunkEnds);
    if (IsFrameLetter(letter)) {
        CheckFrames(stream, live, chunked, letter);
    } else {
        CheckText(stream, chunked, chunkEnds, letter);
        std::vector<std::size_t> liveEnds;
        for (std::size_t end = 0; end < stream.size();) {
            end = std::min<std::size_t>(end + kReceiveChunkBytes, stream.size());
            liveEnds.push_back(end);
        }
        CheckText(stream, live, liveEnds, letter);
    }
    return 0;
}
