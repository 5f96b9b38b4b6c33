// Video recordings as players see them: files written by CAviWriter from frames compressed by
// CLib_XvidEncoder, checked against the AVI layout read back independently and against FFmpeg.
#include "recording/avi_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "video_test_support.h"

namespace {

using namespace video_test;

// Every frame must be accepted; returns the file.
fs::path WriteMovie(const fs::path& file, const std::vector<EncodedFrame>& frames) {
    CAviWriter writer(file.string(), "xvid", kImageWidth, kImageHeight, 20);
    for (const EncodedFrame& frame : frames) {
        EXPECT_EQ(writer.AppendFrame(static_cast<int>(frame.bytes.size()), frame.isKeyFrame,
                                     frame.bytes.data()),
                  kAviOk);
    }
    EXPECT_EQ(writer.State(), kAviStateWriting);
    EXPECT_EQ(writer.ErrorText(), "Method Succeeded");
    return file;
}

// 200 display images of the moving scene recorded as the viewer records them.
class TwoHundredFrameMovie : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_frames = EncodeImages(DisplayImagesBgr(200));
        WriteMovie(s_dir.path() / "scene.avi", s_frames);
    }
    static inline ScratchDirectory s_dir;
    static inline std::vector<EncodedFrame> s_frames;
};

TEST_F(TwoHundredFrameMovie, HeadersAndIndexDescribeTenSecondsOfXvidWithKeyFrames) {
    const fs::path file = s_dir.path() / "scene.avi";
    EXPECT_EQ(ExpectWholeAvi(file), 200u);
    const ParsedAvi avi = ParseAvi(file);
    ASSERT_EQ(avi.problem, "");
    struct Field {
        const char* name;
        std::size_t at;
        uint32_t value;
    };
    const Field fields[] = {
        {"avih microseconds per frame", avi.avih, 50000},
        {"avih flags: has index", avi.avih + 12, 0x10},
        {"avih streams", avi.avih + 24, 1},
        {"avih buffer size", avi.avih + 28, 320 * 310 * 4},
        {"avih width", avi.avih + 32, 320},
        {"avih height", avi.avih + 36, 310},
        {"strh type", avi.strh, 0x73646976},         // vids
        {"strh handler", avi.strh + 4, 0x64697678},  // xvid
        {"strh scale", avi.strh + 20, 1},
        {"strh rate", avi.strh + 24, 20},
        {"strh buffer size", avi.strh + 36, 320 * 310 * 4},
        {"strh quality", avi.strh + 40, 10000},
        {"strh rectangle left, top", avi.strh + 48, 0},
        {"strh rectangle right, bottom", avi.strh + 52, 320 | 310 << 16},
        {"strf chunk size", avi.strf - 4, 40},
        {"strf header size", avi.strf, 40},
        {"strf width", avi.strf + 4, 320},
        {"strf height", avi.strf + 8, 310},
        {"strf planes, bits per pixel", avi.strf + 12, 1 | 12 << 16},
        {"strf compression", avi.strf + 16, 0x44495658},  // XVID
        {"strf image size", avi.strf + 20, 310 * 6 * 320},
        {"strf last word", avi.strf + 36, 0},
    };
    for (const Field& field : fields) {
        EXPECT_EQ(Le32(avi.bytes, field.at), field.value) << field.name;
    }
    EXPECT_EQ(std::string(avi.bytes.begin() + avi.strn - 4, avi.bytes.begin() + avi.strn + 14),
              std::string("\x0d\0\0\0Video Stream\0\0", 18));

    // idx1 carries the encoder's key frames: the first frame, then at most 150 frames apart.
    ASSERT_TRUE(s_frames[0].isKeyFrame);
    int lastKey = -1;
    for (std::size_t i = 0; i < std::min(avi.index.size(), s_frames.size()); ++i) {
        EXPECT_EQ(avi.index[i].flags, s_frames[i].isKeyFrame ? 0x10u : 0u) << i;
        if (s_frames[i].isKeyFrame) {
            EXPECT_LE(static_cast<int>(i) - lastKey, 150) << "key frame " << i;
            lastKey = static_cast<int>(i);
        }
    }
    EXPECT_GT(lastKey, 0) << "no second key frame";
}

TEST_F(TwoHundredFrameMovie, FfmpegPlaysTenSecondsOf320By310Mpeg4) {
    SKIP_WITHOUT_FFMPEG();
    const fs::path file = s_dir.path() / "scene.avi";
    const std::map<std::string, std::string> expected = {
        {"codec_name", "mpeg4"}, {"codec_tag_string", "XVID"}, {"width", "320"},
        {"height", "310"},       {"r_frame_rate", "20/1"},     {"duration", "10.000000"},
        {"nb_frames", "200"},    {"nb_read_frames", "200"}};
    EXPECT_EQ(ProbeVideoStream(file), expected);
    int status = -1;
    EXPECT_EQ(DecodeAllErrors(file, &status), "");
    EXPECT_EQ(status, 0);
    // The decoder finds key pictures exactly where the index says.
    std::string keys;
    for (const EncodedFrame& frame : s_frames) {
        keys += frame.isKeyFrame ? "1\n" : "0\n";
    }
    EXPECT_EQ(RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=key_frame "
                         "-of csv=p=0 '" +
                         file.string() + "'"),
              keys);
}

// Images given in each input layout come back in their colours, the right way up.
TEST(AviWriter, ColoursSurviveEncodingInEveryInputLayout) {
    SKIP_WITHOUT_FFMPEG();
    struct Case {
        const char* name;
        int colourSpace;
        std::vector<uint8_t> top, bottom;  // one pixel (BGR) or one pixel pair (4:2:2)
        uint8_t topRgb[3], bottomRgb[3];
    };
    // Red in the studio-range YCbCr of MPEG-4 is Y 81, Cb 90, Cr 240.
    const Case cases[] = {
        {"red", kXvidColourSpaceBgr, {0, 0, 255}, {0, 0, 255}, {255, 0, 0}, {255, 0, 0}},
        {"green over blue",
         kXvidColourSpaceBgr,
         {0, 255, 0},
         {255, 0, 0},
         {0, 255, 0},
         {0, 0, 255}},
        {"UYVY red",
         kXvidColourSpaceUyvy,
         {90, 81, 240, 81},
         {90, 81, 240, 81},
         {255, 0, 0},
         {255, 0, 0}},
        {"YUY2 red",
         kXvidColourSpaceYuy2,
         {81, 90, 81, 240},
         {81, 90, 81, 240},
         {255, 0, 0},
         {255, 0, 0}},
    };
    ScratchDirectory dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int rowBytes = kImageWidth * (c.colourSpace == kXvidColourSpaceBgr ? 3 : 2);
        std::vector<uint8_t> image;
        for (int row = 0; row < kImageHeight; ++row) {
            const std::vector<uint8_t>& unit = row < kImageHeight / 2 ? c.top : c.bottom;
            for (int i = 0; i < rowBytes; i += static_cast<int>(unit.size())) {
                image.insert(image.end(), unit.begin(), unit.end());
            }
        }
        const fs::path file =
            WriteMovie(dir.path() / "colour.avi", EncodeImages({image, image}, c.colourSpace));
        const std::string rgb = RunCommand("ffmpeg -nostdin -v error -i '" + file.string() +
                                           "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
        ASSERT_EQ(rgb.size(), static_cast<std::size_t>(kImageBytes));
        int worst = 0;
        for (int row = 0; row < kImageHeight; ++row) {
            if (std::abs(row - kImageHeight / 2) < 16) {
                continue;  // the codec's 16-pixel blocks blur the border between the halves
            }
            const uint8_t* want = row < kImageHeight / 2 ? c.topRgb : c.bottomRgb;
            for (int i = 0; i < kImageWidth * 3; ++i) {
                const auto got = static_cast<uint8_t>(rgb[row * kImageWidth * 3 + i]);
                worst = std::max(worst, std::abs(got - want[i % 3]));
            }
        }
        EXPECT_LE(worst, 12);
    }
}

// The movie file appears with the first frame: a writer closed or destroyed before leaves none.
TEST(AviWriter, NoFileBeforeTheFirstFrame) {
    ScratchDirectory dir;
    {
        CAviWriter writer((dir.path() / "destroyed.avi").string(), "xvid", 320, 310, 20);
        EXPECT_EQ(writer.State(), kAviStateNotCreated);
        EXPECT_EQ(writer.ErrorText(), "Method Succeeded");
    }
    CAviWriter writer((dir.path() / "closed.avi").string(), "xvid", 320, 310, 20);
    writer.CloseMovie();
    const uint8_t frame[3] = {1, 2, 3};
    EXPECT_EQ(writer.AppendFrame(3, 1, frame), kAviFail);
    EXPECT_EQ(writer.State(), kAviStateClosed);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// Tests run as root here, where a directory without write permission stops nothing: the first
// two rows fail in open() for reasons root cannot override. The permission row needs a user.
TEST(AviWriter, UncreatableFileFailsTheFirstFrameAndRefusesTheRest) {
    ScratchDirectory dir;
    std::FILE* plain = std::fopen((dir.path() / "plain.txt").c_str(), "w");
    ASSERT_NE(plain, nullptr);
    std::fclose(plain);
    fs::create_directory(dir.path() / "locked");
    fs::permissions(dir.path() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const fs::path files[] = {dir.path() / "plain.txt" / "movie.avi",
                              dir.path() / "missing" / "movie.avi",
                              dir.path() / "locked" / "movie.avi"};
    const std::vector<EncodedFrame> frames = EncodeImages(DisplayImagesBgr(2));
    for (const fs::path& file : files) {
        SCOPED_TRACE(file);
        if (file.parent_path().filename() == "locked" && geteuid() == 0) {
            std::printf("[ NOTE     ] not run as root: %s\n", file.c_str());
            continue;
        }
        CAviWriter writer(file.string(), "xvid", kImageWidth, kImageHeight, 20);
        for (const EncodedFrame& frame : frames) {
            EXPECT_EQ(writer.AppendFrame(static_cast<int>(frame.bytes.size()), frame.isKeyFrame,
                                         frame.bytes.data()),
                      kAviFail);
            EXPECT_EQ(writer.State(), kAviStateClosed);
            EXPECT_EQ(writer.ErrorText(), "Unable to Create the Movie File");
        }
        EXPECT_EQ(writer.ErrorDetail().rfind("open() failed on '" + file.string() + "': ", 0), 0u)
            << writer.ErrorDetail();
        EXPECT_FALSE(fs::exists(file));
    }
}

// A recording that runs into a limit keeps the frames written before as a whole, playable file:
// the process's file size limit (where, as on a full disk, a write comes up short and then
// fails) or the writer's own size limit. In a child process, since the limit is per process.
TEST(AviWriter, FileThatHitsALimitKeepsTheWholeFramesBeforeIt) {
    const std::vector<EncodedFrame> frames = EncodeImages(DisplayImagesBgr(40));
    std::vector<uint64_t> end = {246};  // file size after n frames: headers, then padded chunks
    for (const EncodedFrame& frame : frames) {
        end.push_back(end.back() + 8 + (frame.bytes.size() + 1) / 2 * 2);
    }
    const auto index = [](uint64_t frameCount) { return 8 + 16 * frameCount; };
    const std::string writeFailed = "Unable to Write Video Stream to the output Movie File";
    struct Case {
        const char* name;
        bool processLimit;  // RLIMIT_FSIZE, or else the writer's maxFileBytes
        uint64_t limit;
        int framesKept;
        std::string text;
    };
    const Case cases[] = {
        {"frame 21 cut short, room for the index", true, end[20] + index(20) + 100, 20,
         writeFailed},
        {"frame 21 cut short, no room for the index: frame 20 makes room", true, end[20] + 100, 19,
         writeFailed},
        {"the writer's limit", false, end[20] + index(21) + 100, 20,
         "Unable to Write Video Stream past the Movie File Size Limit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory dir;
        const fs::path file = dir.path() / "limited.avi";
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.limit, c.limit};
            if (c.processLimit && setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                _exit(10);
            }
            int accepted = 0;
            bool refusedAfter = false;
            std::string text;
            {
                CAviWriter writer(file.string(), "xvid", kImageWidth, kImageHeight, 20,
                                  c.processLimit ? kAviMaxFileBytes : c.limit);
                for (const EncodedFrame& frame : frames) {
                    if (writer.AppendFrame(static_cast<int>(frame.bytes.size()), frame.isKeyFrame,
                                           frame.bytes.data()) != kAviOk) {
                        break;
                    }
                    ++accepted;
                }
                refusedAfter = writer.AppendFrame(0, 0, nullptr) == kAviFail &&
                               writer.State() == kAviStateClosed;
                text = writer.ErrorText();
            }
            // Exit status: the frames accepted, or 11 and 12 for a wrong ending.
            _exit(text != c.text ? 11 : !refusedAfter ? 12 : accepted);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 20) << "frames accepted (11: wrong text, 12: not refused)";
        EXPECT_LE(fs::file_size(file), c.limit);
        EXPECT_EQ(ExpectWholeAvi(file), static_cast<std::size_t>(c.framesKept));
        if (HaveFfmpegTools()) {
            EXPECT_EQ(ProbeVideoStream(file)["nb_read_frames"], std::to_string(c.framesKept));
            EXPECT_EQ(DecodeAllErrors(file), "");
        }
    }
}

}  // namespace
