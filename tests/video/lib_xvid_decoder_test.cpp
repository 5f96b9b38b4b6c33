// Decoding video recordings and other MPEG-4 AVI files with CLib_XvidDecoder through
// CAviVideoStream, held against FFmpeg's decoder of the same files.
//
// Both decoders turn the same bitstream into the same 4:2:0 pictures; they differ only in the
// rounding of their conversions to 8-bit RGB. Measured on the 200-frame recording (FFmpeg 5.1,
// xvidcore 1.3.7): at most 2 apart in any channel of any pixel, about three quarters of all
// channel values identical. The tests allow 3 and a mean difference of at most 0.5, well
// below what a wrong frame, a shifted row or swapped colours give (the codec alone is 16 to 27
// away from the recorded images).
#include "recording/lib_xvid_decoder.h"

#include <gtest/gtest.h>

#include <numeric>

#include "avi_test_files.h"
#include "recording/avi_video_stream.h"

namespace {

using namespace video_test;

constexpr int kMaxChannelDifference = 3;
constexpr double kMaxMeanDifference = 0.5;

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        sum += std::abs(a[i] - b[i]);
    }
    return a.empty() ? 0 : sum / static_cast<double>(a.size());
}

void ExpectLikeFfmpeg(CAviVideoStream& stream, const fs::path& file, int n,
                      const std::string& ffmpegOptions = "") {
    SCOPED_TRACE("frame " + std::to_string(n));
    ASSERT_TRUE(stream.ShowFrame(n)) << stream.ErrorText();
    EXPECT_EQ(stream.PictureFrame(), n);
    const std::vector<uint8_t> reference = FfmpegPictureBgr(file, n, ffmpegOptions);
    ASSERT_EQ(reference.size(), stream.Picture().size());
    EXPECT_LE(MaxChannelDifference(stream.Picture(), reference), kMaxChannelDifference);
    EXPECT_LE(MeanDifference(stream.Picture(), reference), kMaxMeanDifference);
}

TEST(XvidDecoder, RecordingDecodesLikeFfmpegInAnyOrder) {
    SKIP_WITHOUT_FFMPEG();
    const Recording& recording = TwoHundredFrameRecording();
    CAviVideoStream stream(XvidPictureLayout::kBgr);
    ASSERT_TRUE(stream.Open(recording.file.string())) << stream.ErrorText();
    EXPECT_EQ(stream.PictureFrame(), -1);
    // The last frame first (decoded on from the key frame 150), then the first, then one in
    // the middle reached by stepping on from frame 0.
    for (int n : {199, 0, 1, 100}) {
        ExpectLikeFfmpeg(stream, recording.file, n);
    }
}

// Seeking decodes from the key frame at or before the frame; the picture must be exactly the
// one a straight run through the file gives.
TEST(XvidDecoder, SeekingGivesTheSamePicturesAsPlayingThrough) {
    const Recording& recording = TwoHundredFrameRecording();
    CAviVideoStream straight(XvidPictureLayout::kRgb);
    CAviVideoStream seeking(XvidPictureLayout::kRgb);
    ASSERT_TRUE(straight.Open(recording.file.string()));
    ASSERT_TRUE(seeking.Open(recording.file.string()));
    std::vector<std::vector<uint8_t>> pictures;
    for (int n = 0; n < straight.FrameCount(); ++n) {
        ASSERT_TRUE(straight.ShowFrame(n)) << straight.ErrorText();
        pictures.push_back(straight.Picture());
    }
    for (int n : {199, 150, 149, 0, 151, 7, 6, 198, 199}) {
        ASSERT_TRUE(seeking.ShowFrame(n)) << seeking.ErrorText();
        EXPECT_EQ(seeking.Picture(), pictures[static_cast<std::size_t>(n)]) << "frame " << n;
    }
    // The two layouts differ in the order of red and blue, and in rounding: the library
    // converts to each with a routine of its own (measured 2 apart at most).
    CAviVideoStream bgr(XvidPictureLayout::kBgr);
    ASSERT_TRUE(bgr.Open(recording.file.string()));
    ASSERT_TRUE(bgr.ShowFrame(5));
    std::vector<uint8_t> swapped = bgr.Picture();
    for (std::size_t i = 0; i < swapped.size(); i += 3) {
        std::swap(swapped[i], swapped[i + 2]);
    }
    EXPECT_LE(MaxChannelDifference(swapped, pictures[5]), 2);
}

// AVI files of another writer (FFmpeg's) with MPEG-4 part 2 video under the codes Xvid and
// DivX 5 files carry, one with the video as the second stream behind audio, padding chunks and
// stream headers of other sizes.
TEST(XvidDecoder, OtherWritersMpeg4AvisDecodeLikeFfmpeg) {
    SKIP_WITHOUT_FFMPEG();
    struct Case {
        const char* name;
        std::string command;  // writes $OUT
        int streamNumber, width, height, frames;
        double framesPerSecond;
        const char* compression;
    };
    const Case cases[] = {
        {"libxvid, 176 x 144 at 15 frames per second",
         "-f lavfi -i testsrc=size=176x144:rate=15 -frames:v 40 -c:v libxvid", 0, 176, 144, 40, 15,
         "xvid"},
        {"DivX 5 code behind an audio stream",
         "-f lavfi -i sine=frequency=440:sample_rate=8000 -f lavfi -i testsrc=size=320x240:rate=25 "
         "-map 0:a -map 1:v -t 2.4 -c:v mpeg4 -vtag DX50 -g 25 -bf 0 -c:a pcm_s16le -shortest",
         1, 320, 240, 60, 25, "DX50"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir.path / "other.avi";
        int status = -1;
        const std::string errors = RunCommand(
            "ffmpeg -nostdin -v error -y " + c.command + " '" + file.string() + "' 2>&1", &status);
        ASSERT_EQ(status, 0) << errors;
        CAviVideoStream stream(XvidPictureLayout::kBgr);
        ASSERT_TRUE(stream.Open(file.string())) << stream.ErrorText();
        const CAviReader& reader = stream.Reader();
        EXPECT_EQ(reader.StreamNumber(), c.streamNumber);
        EXPECT_EQ(reader.Width(), c.width);
        EXPECT_EQ(reader.Height(), c.height);
        EXPECT_EQ(reader.FramesPerSecond(), c.framesPerSecond);
        EXPECT_EQ(FourCcText(reader.Compression()), c.compression);
        EXPECT_EQ(reader.FrameCount(), c.frames);
        EXPECT_TRUE(reader.Problems().empty()) << reader.Problems().front().text;
        for (int n : {c.frames - 1, 0, c.frames / 2}) {
            ExpectLikeFfmpeg(stream, file, n, "-idct xvid");
        }
    }
}

// A frame the encoder could not compress is stored empty; it shows the picture before it.
TEST(XvidDecoder, EmptyFrameShowsThePreviousPictureAgain) {
    std::vector<EncodedFrame> frames = EncodeImages(DisplayImagesBgr(4));
    frames.insert(frames.begin() + 2, EncodedFrame{});
    TempDir dir;
    WriteRecording(dir.path / "gap.avi", frames);
    CAviVideoStream stream(XvidPictureLayout::kBgr);
    ASSERT_TRUE(stream.Open((dir.path / "gap.avi").string())) << stream.ErrorText();
    ASSERT_EQ(stream.FrameCount(), 5);
    ASSERT_TRUE(stream.ShowFrame(1));
    const std::vector<uint8_t> before = stream.Picture();
    ASSERT_TRUE(stream.ShowFrame(2));
    EXPECT_EQ(stream.Picture(), before);
    ASSERT_TRUE(stream.ShowFrame(3));
    EXPECT_NE(stream.Picture(), before);
}

// Misuse, a stream whose pictures are larger than the file states, and random bytes: each is
// refused or decoded without a write outside the image.
TEST(XvidDecoder, WrongInputIsRefusedWithoutWritingOutsideTheImage) {
    const std::vector<EncodedFrame> frames = EncodeImages(DisplayImagesBgr(2));
    const std::vector<uint8_t>& key = frames[0].bytes;
    // The image between guard bytes that must survive every call.
    constexpr std::size_t kGuard = 4096;
    std::vector<uint8_t> buffer(kGuard + kImageBytes + kGuard, 0xA5);
    uint8_t* image = buffer.data() + kGuard;
    const auto guardsIntact = [&] {
        return std::all_of(buffer.begin(), buffer.begin() + kGuard,
                           [](uint8_t b) { return b == 0xA5; }) &&
               std::all_of(buffer.end() - kGuard, buffer.end(),
                           [](uint8_t b) { return b == 0xA5; });
    };

    CLib_XvidDecoder decoder;
    EXPECT_EQ(decoder.CreateDecoder(320, 310, XvidPictureLayout::kBgr), -1) << "library not set up";
    EXPECT_EQ(decoder.DecodeFrame(key.data(), static_cast<int>(key.size()), image), -1);
    ASSERT_EQ(decoder.InitLibrary(), 1);
    EXPECT_EQ(decoder.CreateDecoder(0, 310, XvidPictureLayout::kBgr), -1);
    EXPECT_EQ(decoder.DecodeFrame(key.data(), static_cast<int>(key.size()), image), -1);

    // The recording's 320 x 310 frames given to a decoder made for 160 x 120 pictures.
    ASSERT_EQ(decoder.CreateDecoder(160, 120, XvidPictureLayout::kBgr), 1);
    EXPECT_EQ(decoder.DecodeFrame(key.data(), static_cast<int>(key.size()), image), -1);
    EXPECT_EQ(decoder.ErrorText(),
              "the video's pictures are 320 x 310 pixels, the file states 160 x 120");
    EXPECT_EQ(decoder.DecodeFrame(frames[1].bytes.data(), static_cast<int>(frames[1].bytes.size()),
                                  image),
              -1)
        << "a later frame of the stream";
    EXPECT_TRUE(guardsIntact());

    // Nothing before the first key frame; then random bytes, bare and behind picture headers.
    ASSERT_EQ(decoder.CreateDecoder(320, 310, XvidPictureLayout::kRgb), 1);
    EXPECT_EQ(decoder.DecodeFrame(nullptr, 0, image), 0);
    EXPECT_EQ(decoder.DecodeFrame(key.data(), static_cast<int>(key.size()), image), 1);
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> junk(1 + rng() % 4000);
        for (uint8_t& byte : junk) {
            byte = static_cast<uint8_t>(rng());
        }
        if (round % 2 == 0) {
            const uint8_t header[] = {0, 0, 1, 0xB6, static_cast<uint8_t>(rng() % 2 << 6)};
            std::copy(std::begin(header), std::end(header), junk.begin());
        }
        const int result = decoder.DecodeFrame(junk.data(), static_cast<int>(junk.size()), image);
        EXPECT_GE(result, -1);
        EXPECT_LE(result, 1);
    }
    EXPECT_TRUE(guardsIntact());
}

TEST(XvidDecoder, VideoOfAnotherCodecIsRefusedByName) {
    const Recording& recording = TwoHundredFrameRecording();
    ParsedAvi avi = ParseAvi(recording.file);
    ASSERT_EQ(avi.problem, "");
    // DivX 3 is a different bitstream that merely shares a name.
    std::copy_n("div3", 4, avi.bytes.begin() + static_cast<std::ptrdiff_t>(avi.strh + 4));
    std::copy_n("DIV3", 4, avi.bytes.begin() + static_cast<std::ptrdiff_t>(avi.strf + 16));
    TempDir dir;
    const fs::path file = dir.path / "div3.avi";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(avi.bytes.data()),
               static_cast<std::streamsize>(avi.bytes.size()));
    CAviVideoStream stream(XvidPictureLayout::kBgr);
    EXPECT_FALSE(stream.Open(file.string()));
    EXPECT_EQ(stream.ErrorText(), "the video of '" + file.string() +
                                      "' is compressed as 'DIV3', not as MPEG-4 part 2 (Xvid, "
                                      "DivX 4 or 5), which is all this program plays");
    EXPECT_FALSE(stream.IsOpen());
}

}  // namespace
