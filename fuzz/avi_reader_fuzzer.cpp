// Video recordings (.avi) as `thermal info`, `thermal convert` and the video player read them:
// CAviReader takes any file apart without trusting a size field. Every frame it lists lies
// inside the file and reads back at its listed size, and the frames past the last are refused;
// key frame lookups stay in range.
// Input: the file.
#include <cmath>
#include <vector>

#include "fuzz_support.h"
#include "recording/avi_reader.h"

namespace {
// Enough to reach every frame of the small files the fuzzer makes, without letting one input
// read a long video frame by frame.
constexpr int kMaxFramesRead = 2000;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const CMemoryFile file(data, size);
    CAviReader reader;
    if (!reader.Open(file.Path())) {
        FUZZ_CHECK(!reader.IsOpen());
        FUZZ_CHECK(!reader.ErrorText().empty());
        return 0;
    }
    FUZZ_CHECK(reader.FileBytes() == size);
    FUZZ_CHECK(reader.StreamNumber() >= 0);
    FUZZ_CHECK(std::isfinite(reader.FramesPerSecond()) && reader.FramesPerSecond() >= 0);
    for (const AviProblem& problem : reader.Problems()) {
        FUZZ_CHECK(!problem.text.empty());
        FUZZ_CHECK(problem.byteOffset <= size);
        FUZZ_CHECK(problem.frame >= -1);
    }
    std::vector<uint8_t> bytes;
    const int frames = reader.FrameCount();
    for (int n = 0; n < frames && n < kMaxFramesRead; ++n) {
        const AviFrameEntry& entry = reader.Frame(n);
        FUZZ_CHECK(entry.offset <= size && entry.size <= size - entry.offset);
        const int key = reader.KeyFrameAtOrBefore(n);
        FUZZ_CHECK(key >= 0 && key <= n);
        FUZZ_CHECK(key == 0 || reader.IsKeyFrame(key));
        FUZZ_CHECK(reader.ReadFrame(n, bytes));
        FUZZ_CHECK(bytes.size() == entry.size);
    }
    FUZZ_CHECK(!reader.ReadFrame(frames, bytes));
    FUZZ_CHECK(!reader.ReadFrame(-1, bytes));
    reader.Close();
    FUZZ_CHECK(!reader.IsOpen() && reader.FrameCount() == 0 && reader.Problems().empty());
    return 0;
}
