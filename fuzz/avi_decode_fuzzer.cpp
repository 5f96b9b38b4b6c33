// Videos (.avi) as the video player and `thermal info --decode` play them: CAviVideoStream opens
// any file (CAviReader takes it apart, CLib_XvidDecoder is set up for its frame size) and shows
// its frames in order, then a few out of order, as the slider and the arrow keys ask for them.
// Checks besides crashes: a file opens only with a frame size within 4096 x 4096; the picture is
// empty until a frame gives one and then exactly width x height x 3 bytes; a frame shown is the
// frame asked for, and a frame that gives a picture leaves one; every failure says why.
// Input: the file.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "recording/avi_video_stream.h"
#include "recording/mpeg4_video.h"

namespace {
// Frames decoded per input: enough for the small files the fuzzer makes, while a file of many
// frames or large pictures stays quick (pixels decoded per input are bounded too).
constexpr int kMaxFramesShown = 300;
constexpr int64_t kMaxPixelsShown = int64_t{1} << 25;

void CheckShown(const CAviVideoStream& stream, int n, bool shown, std::size_t pictureBytes) {
    FUZZ_CHECK(stream.Picture().empty() || stream.Picture().size() == pictureBytes);
    if (shown) {
        FUZZ_CHECK(stream.PictureFrame() == n);
        FUZZ_CHECK(!stream.FrameGavePicture() || stream.Picture().size() == pictureBytes);
    } else {
        FUZZ_CHECK(!stream.ErrorText().empty());
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const CMemoryFile file(data, size);
    CAviVideoStream stream(XvidPictureLayout::kBgr);
    if (!stream.Open(file.Path())) {
        FUZZ_CHECK(!stream.IsOpen());
        FUZZ_CHECK(!stream.ErrorText().empty());
        return 0;
    }
    const CAviReader& reader = stream.Reader();
    FUZZ_CHECK(reader.Width() > 0 && reader.Width() <= kMaxPictureSide);
    FUZZ_CHECK(reader.Height() > 0 && reader.Height() <= kMaxPictureSide);
    FUZZ_CHECK(stream.Picture().empty() && stream.PictureFrame() == -1);
    const auto pictureBytes = static_cast<std::size_t>(reader.Width()) * reader.Height() * 3;
    const int64_t perFrame = int64_t{reader.Width()} * reader.Height();
    const int frames = static_cast<int>(std::min<int64_t>(
        {stream.FrameCount(), kMaxFramesShown, std::max<int64_t>(1, kMaxPixelsShown / perFrame)}));

    // In order, as playing and `info --decode` go; a frame that fails is left for the next.
    for (int n = 0; n < frames; ++n) {
        CheckShown(stream, n, stream.ShowFrame(n), pictureBytes);
    }
    // Out of order: the last, the first, the middle, one back, as a user seeks.
    if (frames > 0) {
        for (const int n : {frames - 1, 0, frames / 2, std::max(0, frames / 2 - 1)}) {
            CheckShown(stream, n, stream.ShowFrame(n), pictureBytes);
        }
    }
    FUZZ_CHECK(!stream.ShowFrame(stream.FrameCount()));
    FUZZ_CHECK(!stream.ShowFrame(-1));
    stream.Close();
    FUZZ_CHECK(!stream.IsOpen() && stream.Picture().empty() && stream.PictureFrame() == -1);
    return 0;
}
