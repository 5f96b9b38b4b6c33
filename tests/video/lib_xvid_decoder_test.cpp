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

#include <chrono>
#include <numeric>

#include "avi_test_files.h"
#include "recording/avi_video_stream.h"
#include "recording/mpeg4_video.h"

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
    ScratchDirectory dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir.path() / "other.avi";
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
    ScratchDirectory dir;
    WriteRecording(dir.path() / "gap.avi", frames);
    CAviVideoStream stream(XvidPictureLayout::kBgr);
    ASSERT_TRUE(stream.Open((dir.path() / "gap.avi").string())) << stream.ErrorText();
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

// A video object layer header as encoders write it (ISO/IEC 14496-2 6.2.3), with the optional
// fields before the size switched on or off, followed by a few fields after it.
struct LayerHeader {
    int width = 320, height = 310;
    int shape = 0;  // 0 rectangular
    bool layerIdentifier = false, extendedAspect = false, controlParameters = false,
         vbvParameters = false, fixedRate = false;
    uint32_t resolution = 20;
};

std::string LayerHeaderBytes(const LayerHeader& h) {
    std::string bits;
    const auto put = [&bits](uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            bits += static_cast<char>('0' + ((value >> i) & 1));
        }
    };
    put(0, 1), put(1, 8);  // random_accessible_vol, video_object_type_indication
    put(h.layerIdentifier, 1);
    if (h.layerIdentifier) {
        put(2, 4), put(1, 3);
    }
    put(h.extendedAspect ? 15 : 1, 4);
    if (h.extendedAspect) {
        put(12, 8), put(11, 8);
    }
    put(h.controlParameters, 1);
    if (h.controlParameters) {
        put(1, 2), put(1, 1), put(h.vbvParameters, 1);
        if (h.vbvParameters) {
            for (int field : {15, 1, 15, 1, 15, 1, 3, 11, 1, 15, 1}) {
                put(field == 1 ? 1 : 0x5A5A & ((1u << field) - 1), field);
            }
        }
    }
    put(static_cast<uint32_t>(h.shape), 2), put(1, 1), put(h.resolution, 16), put(1, 1);
    put(h.fixedRate, 1);
    if (h.fixedRate) {
        int bits_ = 1;
        while ((h.resolution - 1) >> bits_ != 0) {
            ++bits_;
        }
        put(1, bits_);
    }
    put(1, 1), put(static_cast<uint32_t>(h.width), 13), put(1, 1);
    put(static_cast<uint32_t>(h.height), 13), put(1, 1), put(0b0100011, 7);
    while (bits.size() % 8 != 0) {
        bits += '1';
    }
    std::string bytes = {0, 0, 1, 0x20};
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        bytes += static_cast<char>(std::stoi(bits.substr(i, 8), nullptr, 2));
    }
    return bytes;
}

// The size check before the library reads a stream header: the library itself would allocate
// its pictures at the stated size (up to 8191 x 8191) before the decoder could refuse it.
TEST(Mpeg4Video, LayerHeadersOfAnotherSizeAreFoundAsTheLibraryReadsThem) {
    const std::vector<EncodedFrame> frames = EncodeImages(DisplayImagesBgr(1));
    const std::vector<uint8_t>& key = frames[0].bytes;
    EXPECT_FALSE(FirstOtherLayerSize(key.data(), key.size(), 320, 310)) << "our own encoder";
    const auto other = FirstOtherLayerSize(key.data(), key.size(), 160, 120);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->width, 320);
    EXPECT_EQ(other->height, 310);

    struct Case {
        const char* name;
        LayerHeader header;
        int width, height;  // found; 0 x 0: nothing found
    };
    const Case cases[] = {
        {"plain", {8191, 8191}, 8191, 8191},
        {"the file's size", {320, 310}, 0, 0},
        {"layer identifier", {4000, 3000, 0, true}, 4000, 3000},
        {"extended aspect", {641, 481, 0, false, true}, 641, 481},
        {"control, vbv", {800, 600, 0, false, false, true, true}, 800, 600},
        {"fixed rate",
         {.width = 1000, .height = 7, .fixedRate = true, .resolution = 30000},
         1000,
         7},
        {"fixed rate of resolution 1",
         {.width = 9, .height = 9, .fixedRate = true, .resolution = 1},
         9,
         9},
        {"not rectangular: no size", {.width = 8191, .height = 8191, .shape = 2}, 0, 0},
    };
    for (const Case& c : cases) {
        const std::string bytes = "junk" + LayerHeaderBytes(c.header) + "more";
        const auto found = FirstOtherLayerSize(reinterpret_cast<const uint8_t*>(bytes.data()),
                                               bytes.size(), 320, 310);
        EXPECT_EQ(found ? found->width : 0, c.width) << c.name;
        EXPECT_EQ(found ? found->height : 0, c.height) << c.name;
    }
    // Cut off after the start code: the library reads zeros, a size of 0 x 0.
    const uint8_t cut[] = {0, 0, 1, 0x2F};
    const auto zeros = FirstOtherLayerSize(cut, sizeof cut, 320, 310);
    ASSERT_TRUE(zeros);
    EXPECT_EQ(zeros->width, 0);
}

// Hostile files: frame sizes no recording has, frames that hold no picture, stream headers of
// another size, a key frame and many empty frames. Each gives one clear reason; no memory of the
// picture's size is taken before a frame states the file's size; frames shown in order are each
// decoded once (not again from the key frame for each, which took minutes for a million).
TEST(XvidDecoder, CraftedFilesGiveOneClearReasonAndPictureMemoryOnlyForAPicture) {
    const std::vector<crafted_avi::Frame> ours = CraftedFrames(EncodeImages(DisplayImagesBgr(3)));
    crafted_avi::Frame hugeLayer = ours[0];
    LayerHeader huge;
    huge.width = huge.height = 8191;
    hugeLayer.bytes = LayerHeaderBytes(huge) + hugeLayer.bytes;
    const std::string tooLarge =
        ": its pictures of %s pixels are larger than 4096 x 4096, "
        "the largest this program decodes";
    struct Case {
        const char* name;
        uint32_t width, height;
        std::vector<crafted_avi::Frame> frames;
        std::string openError;   // after "cannot play 'PATH'"; empty: opens
        std::string frameError;  // of the first frame that fails; empty: none fails
        int pictures;            // frames that give a picture of their own
        int decoded;             // frames decoded showing them in order
    };
    const auto large = [&](const char* size) {
        std::string text = tooLarge;
        return text.replace(text.find("%s"), 2, size);
    };
    const Case cases[] = {
        {"32767x32767", 32767, 32767, ours, large("32767 x 32767"), "", 0, 0},
        {"32767x21846", 32767, 21846, ours, large("32767 x 21846"), "", 0, 0},
        {"20000x20000", 20000, 20000, ours, large("20000 x 20000"), "", 0, 0},
        {"4097x310", 4097, 310, ours, large("4097 x 310"), "", 0, 0},
        {"4096x4096, frames of 320 x 310", 4096, 4096, ours, "",
         "frame 0 cannot be decoded: the video's pictures are 320 x 310 pixels, the file states "
         "4096 x 4096",
         0, 1},
        {"4096x4096, random frames", 4096, 4096, crafted_avi::RandomFrames(40, 700, 1), "", "", 0,
         40},
        {"320x310, random frames", 320, 310, crafted_avi::RandomFrames(40, 700, 2), "", "", 0, 40},
        {"320x310, a stream header of 8191 x 8191",
         320,
         310,
         {hugeLayer},
         "",
         "frame 0 cannot be decoded: the video's pictures are 8191 x 8191 pixels, the file "
         "states 320 x 310",
         0,
         1},
        {"key frame, then empty frames", 320, 310,
         crafted_avi::KeyFrameThenEmptyFrames(ours[0], 100000), "", "", 1, 100001},
        {"ours", 320, 310, ours, "", "", 3, 3},
    };
    ScratchDirectory dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir.path() / "crafted.avi";
        WriteCrafted(file, crafted_avi::Avi(c.width, c.height, c.frames));
        CAviVideoStream stream(XvidPictureLayout::kBgr);
        if (!c.openError.empty()) {
            EXPECT_FALSE(stream.Open(file.string()));
            EXPECT_EQ(stream.ErrorText(), "cannot play '" + file.string() + "'" + c.openError);
            continue;
        }
        ASSERT_TRUE(stream.Open(file.string())) << stream.ErrorText();
        EXPECT_TRUE(stream.Picture().empty()) << "nothing allocated at opening";
        std::string frameError;
        int pictures = 0;
        for (int n = 0; n < stream.FrameCount() && frameError.empty(); ++n) {
            if (!stream.ShowFrame(n)) {
                frameError = stream.ErrorText();
            } else {
                pictures += stream.FrameGavePicture() ? 1 : 0;
            }
        }
        EXPECT_EQ(frameError, c.frameError);
        EXPECT_EQ(pictures, c.pictures);
        EXPECT_EQ(stream.FramesDecoded(), c.decoded);
        EXPECT_EQ(stream.Picture().size(), pictures > 0 ? 320u * 310 * 3 : 0u);
    }
}

TEST(XvidDecoder, VideoOfAnotherCodecIsRefusedByName) {
    const Recording& recording = TwoHundredFrameRecording();
    ParsedAvi avi = ParseAvi(recording.file);
    ASSERT_EQ(avi.problem, "");
    // DivX 3 is a different bitstream that merely shares a name.
    std::copy_n("div3", 4, avi.bytes.begin() + static_cast<std::ptrdiff_t>(avi.strh + 4));
    std::copy_n("DIV3", 4, avi.bytes.begin() + static_cast<std::ptrdiff_t>(avi.strf + 16));
    ScratchDirectory dir;
    const fs::path file = dir.path() / "div3.avi";
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
