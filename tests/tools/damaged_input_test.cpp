// `thermal info` and `thermal convert` on every kind of input they read, cut at every record
// boundary and inside records, empty, noise, and names that are not files at all. Whatever the
// input, the tool ends (every run under a time-out) with its status and a clear message, writes
// nothing when it fails, and still converts the whole records before a cut, saying where the
// file stops being whole.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "convert_test_support.h"
#include "device/capture_frames.h"
#include "frame/binary_record_reader.h"
#include "recording/avi_reader.h"
#include "recording/playback_rules.h"
#include "recording/recording_files.h"
#include "sanitizer_build.h"
#include "video/avi_test_files.h"

namespace fs = std::filesystem;

namespace {

// A capture taken at a random moment holds the module's blocks, each with its marker.
CutRecording ThreeFrameCapture() {
    CutRecording capture{".raw", {}, {}};
    for (const uint16_t base : {2981, 1200, 3050}) {
        uint8_t block[kFrameBlockSize];
        EncodeFrameBlock(SpreadFrame(base, base - 100, base + 100), block);
        PutFrameMarker(block);
        capture.bytes.append(reinterpret_cast<const char*>(block), kFrameBlockSize);
        capture.ends.push_back(capture.bytes.size());
    }
    return capture;
}

// Frames in a CSV output: one '#' line each.
std::size_t CsvFrames(const std::string& csv) {
    std::size_t frames = csv.rfind('#', 0) == 0 ? 1 : 0;
    for (std::size_t at = csv.find("\n#"); at != std::string::npos; at = csv.find("\n#", at + 1)) {
        ++frames;
    }
    return frames;
}

class DamagedInput : public ::testing::Test {
  protected:
    ScratchDirectory m_dir{"damaged_input"};

    std::string Path(const std::string& name) const { return (m_dir.path() / name).string(); }
    std::string Write(const std::string& name, const std::string& bytes) {
        WriteFileBytes(m_dir.path() / name, bytes);
        return Path(name);
    }
    // `thermal ARGUMENTS`, ended after `seconds` (status 124) should it hang, unless 0; with
    // its address space limited to `kib` KiB unless 0.
    ToolResult Thermal(const std::string& arguments, int seconds = 20, int kib = 0) {
        const std::string limit = kib > 0 ? "ulimit -v " + std::to_string(kib) + "; exec " : "";
        const std::string timeout = seconds > 0 ? "timeout " + std::to_string(seconds) + " " : "";
        return RunShell(limit + timeout + kThermalTool.string() + " " + arguments,
                        m_dir.path().parent_path() / (m_dir.path().filename().string() + "_run"));
    }
};

TEST_F(DamagedInput, CutRecordingsConvertAndReportEveryWholeRecordBeforeTheCut) {
    std::vector<CutRecording> recordings = ThreeFrameRecordings();
    recordings.push_back(ThreeFrameCapture());
    for (const CutRecording& recording : recordings) {
        const bool isCapture = recording.extension == ".raw";
        const std::string output = Path(isCapture ? "out.bds" : "out.csv");
        for (const std::size_t cut : recording.Cuts()) {
            const std::string what = recording.extension + " cut at " + std::to_string(cut);
            const std::string prefix = recording.bytes.substr(0, cut);
            const std::string input = Write("in" + recording.extension, prefix);
            const std::size_t whole = recording.WholeBefore(cut);
            const std::size_t wholeEnd = whole == 0 ? 0 : recording.ends[whole - 1];
            // What the live receive path makes of the same bytes.
            const std::size_t captured =
                isCapture ? CutCaptureIntoFrames(reinterpret_cast<const uint8_t*>(prefix.data()),
                                                 prefix.size(), 'K')
                                .size()
                          : 0;
            // A text record cut inside its last line converts when its fields are all there.
            const std::size_t mayAlsoConvert = recording.CutsInsideLastTextLine(cut) ? 1 : 0;

            const ToolResult convert = Thermal("convert " + input + " " + output);
            const std::size_t expected = isCapture ? captured : whole;
            if (convert.status != 0) {
                // Nothing whole to convert: too short to tell what it is (2), or no frame (1).
                EXPECT_EQ(expected, 0u) << what << ": " << convert.errors;
                EXPECT_TRUE(convert.status == 1 || convert.status == 2) << what;
                EXPECT_EQ(LineCount(convert.errors), 1) << what << ": " << convert.errors;
                EXPECT_FALSE(fs::exists(output)) << what;
            } else {
                const std::string written = ReadWhole(output);
                const std::size_t frames =
                    isCapture ? written.size() / kBinaryRecordSize : CsvFrames(written);
                EXPECT_GE(frames, expected) << what;
                EXPECT_LE(frames, expected + mayAlsoConvert) << what;
                if (!isCapture && cut != wholeEnd && mayAlsoConvert == 0) {
                    EXPECT_NE(convert.errors.find("at byte " + std::to_string(wholeEnd) +
                                                  ", where the file stops being whole"),
                              std::string::npos)
                        << what << ": " << convert.errors;
                }
                fs::remove(output);
            }

            if (isCapture) {
                continue;  // info reads recordings, not captures
            }
            const ToolResult info = Thermal("info " + input);
            if (mayAlsoConvert != 0) {
                EXPECT_LE(info.status, 1) << what << ": " << info.errors;
                continue;
            }
            EXPECT_EQ(info.status, cut == wholeEnd && whole > 0 ? 0 : 1)
                << what << ": " << info.out << info.errors;
            EXPECT_NE(info.out.find("  frames: " + std::to_string(whole)), std::string::npos)
                << what << ": " << info.out;
            if (cut != wholeEnd) {
                EXPECT_NE(info.out.find("byte " + std::to_string(wholeEnd) + ", frame " +
                                        std::to_string(whole + 1) + ": "),
                          std::string::npos)
                    << what << ": " << info.out;
            }
        }
    }
}

// The CSV blocks of a conversion by frame number: the '#' line and the 31 rows after it.
std::map<int, std::string> CsvBlocks(const std::string& csv) {
    std::map<int, std::string> blocks;
    for (std::size_t at = 0; at < csv.size();) {
        const std::size_t next = csv.find("\n#", at);
        const std::string block = csv.substr(at, next == std::string::npos ? next : next + 1 - at);
        blocks[std::stoi(block.substr(block.find(", frame ") + 8))] = block;
        at = next == std::string::npos ? csv.size() : next + 1;
    }
    return blocks;
}

// Damage inside a recording (a changed header byte, bytes lost or added, lines lost, a hole of
// zeros a crash left) is skipped up to the next record header, each stretch said in one line:
// every other frame converts as it does from the intact file, under its own number.
TEST_F(DamagedInput, DamageIsSkippedToTheNextHeaderAndEveryOtherFrameConverts) {
    std::string bds, txt;
    for (uint16_t i = 1; i <= 5; ++i) {
        const FrameData frame = SpreadFrame(static_cast<uint16_t>(2900 + 10 * i), 2800, 3100);
        bds += BinaryStreamRecord('K', frame);
        txt += TextStreamRecord(frame, 'C');
    }
    const std::size_t rec = kBinaryRecordSize;
    const std::size_t text3 = txt.find("Mode=", txt.find("Mode=", 1) + 1);  // text record 3
    const std::size_t text4 = txt.find("Mode=", text3 + 1);
    const std::size_t lineAt = txt.find('\n', text3) + 1;  // record 3's first frame line
    const std::size_t lost = txt.find('\n', lineAt) + 1 - lineAt;
    // What the tool says: the stretch of `bytes` from `from` where frame `frame` would be, and
    // the frames written.
    auto said = [](std::size_t bytes, std::size_t from, int frame, const std::string& why,
                   int written) {
        const std::string size = std::to_string(bytes) + " bytes";
        return "thermal convert: skipped " + std::string(why.ends_with("them") ? "the last " : "") +
               size + " from byte " + std::to_string(from) + " (frame " + std::to_string(frame) +
               "): no " + why + "\nthermal convert: " + std::to_string(written) +
               " frames written; 1 damaged stretch of " + size + " skipped\n";
    };
    const std::string header = "Mode=T or Mode=V record header ";
    const std::string line = "Mode= header line before byte ";
    struct Case {
        const char* what;
        std::string name, bytes;
        std::string frames;  // their numbers
        std::string errors;
    };
    const Case cases[] = {
        {"a header byte changed", "in.bds", bds.substr(0, 2 * rec) + "X" + bds.substr(2 * rec + 1),
         "1 2 4 5", said(2128, 4256, 3, header + "before byte 6384", 4)},
        {"bytes added", "in.bds", bds.substr(0, 2 * rec) + "0123456789" + bds.substr(2 * rec),
         "1 2 3 4 5", said(10, 4256, 3, header + "before byte 4266", 5)},
        {"bytes lost", "in.bds", bds.substr(0, 2 * rec) + bds.substr(2 * rec + 100), "1 2 4 5",
         said(2028, 4256, 3, header + "before byte 6284", 4)},
        {"a hole of zeros", "in.bds", bds.substr(0, rec) + std::string(2 * rec, '\0'), "1",
         said(4256, 2128, 2, header + "in them", 1)},
        {"a header's mode changed", "in.txt",
         txt.substr(0, text3 + 5) + "X" + txt.substr(text3 + 6), "1 2 4 5",
         said(text4 - text3, text3, 3, line + std::to_string(text4), 4)},
        {"a line lost", "in.txt", txt.substr(0, lineAt) + txt.substr(lineAt + lost), "1 2 4 5",
         said(text4 - text3 - lost, text3, 3, line + std::to_string(text4 - lost), 4)},
        {"lines added", "in.txt", txt.substr(0, text3) + "noise\r\r\n\r\r\n" + txt.substr(text3),
         "1 2 3 4 5", said(11, text3, 3, line + std::to_string(text3 + 11), 5)},
    };
    for (const Case& c : cases) {
        const std::string intact = c.name.ends_with(".bds") ? bds : txt;
        ASSERT_EQ(Thermal("convert " + Write(c.name, intact) + " " + Path("ref.csv")).status, 0);
        const std::map<int, std::string> reference = CsvBlocks(ReadWhole(Path("ref.csv")));
        const ToolResult run = Thermal("convert " + Write(c.name, c.bytes) + " " + Path("out.csv"));
        ASSERT_EQ(run.status, 0) << c.what << ": " << run.errors;
        std::string frames;
        for (const auto& [number, block] : CsvBlocks(ReadWhole(Path("out.csv")))) {
            frames += frames.empty() ? "" : " ";
            frames += std::to_string(number);
            EXPECT_EQ(block, reference.at(number)) << c.what << ": frame " << number;
        }
        EXPECT_EQ(frames, c.frames) << c.what;
        EXPECT_EQ(run.errors, c.errors) << c.what;
    }
}

// Videos cut at every frame: info counts the whole frames before the cut and says the file
// is damaged.
TEST_F(DamagedInput, CutVideosReportTheWholeFramesBeforeTheCut) {
    std::string bds;
    for (int i = 0; i < 4; ++i) {
        bds += BinaryStreamRecord('K', SpreadFrame(static_cast<uint16_t>(2900 + 40 * i), 2800,
                                                   static_cast<uint16_t>(3100 + i)));
    }
    const std::string video = Path("whole.avi");
    ASSERT_EQ(Thermal("convert " + Write("in.bds", bds) + " " + video).status, 0);
    const std::string bytes = ReadWhole(video);
    CAviReader reader;
    ASSERT_TRUE(reader.Open(video)) << reader.ErrorText();
    ASSERT_EQ(reader.FrameCount(), 4);
    std::vector<std::size_t> cuts = {0, 1, 12, 100};
    std::vector<std::size_t> frameEnds;
    for (int n = 0; n < reader.FrameCount(); ++n) {
        const std::size_t start = reader.Frame(n).offset;
        frameEnds.push_back(start + reader.Frame(n).size);
        cuts.insert(cuts.end(),
                    {start - 8, start, start + reader.Frame(n).size / 2, frameEnds.back()});
    }
    cuts.push_back(bytes.size() - 1);
    const std::size_t movieStart = reader.Frame(0).offset - 8;
    for (const std::size_t cut : cuts) {
        const std::string what = "cut at " + std::to_string(cut);
        const std::string input = Write("cut.avi", bytes.substr(0, cut));
        const ToolResult info = Thermal("info " + input);
        ASSERT_TRUE(info.status == 1 || info.status == 2) << what << ": " << info.errors;
        if (info.status == 2) {
            EXPECT_LT(cut, movieStart) << what << ": " << info.errors;
            EXPECT_EQ(LineCount(info.errors), 1) << what << ": " << info.errors;
            continue;
        }
        int whole = 0;
        while (whole < 4 && frameEnds[static_cast<std::size_t>(whole)] <= cut) {
            ++whole;
        }
        if (whole > 0) {
            EXPECT_NE(info.out.find("  frames: " + std::to_string(whole) + " whole frame"),
                      std::string::npos)
                << what << ": " << info.out;
        }
    }
}

// Empty files, noise, directories, FIFOs and devices (/dev/zero never ends) under every
// extension: never a crash, a hang or a file left behind. An empty file holds no frame (1); noise
// may happen to be frames (any bytes are raw frames) and convert; a name that is not a file is
// refused before anything is read or written (2), saying so. A refusal is one line.
TEST_F(DamagedInput, InputsThatHoldNoRecordingEndWithOneClearLine) {
    std::mt19937 random(5);
    std::string noise(10000, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    struct Input {
        const char* name;
        std::set<int> convertStatuses;
        std::set<int> infoStatuses;
        bool isNotAFile;
    };
    const Input inputs[] = {
        {"empty", {1}, {1, 2}, false}, {"noise", {0, 1, 2}, {1, 2}, false},
        {"dir", {2}, {2}, true},       {"fifo", {2}, {2}, true},
        {"zero", {2}, {2}, true},      {"null", {2}, {2}, true},
    };
    for (const std::string ext : {".bds", ".txt", ".bin", ".raw", ".avi"}) {
        Write("empty" + ext, "");
        Write("noise" + ext, noise);
        fs::create_directory(Path("dir" + ext));
        fs::create_symlink(Path("fifo"), Path("fifo" + ext));
        fs::create_symlink("/dev/zero", Path("zero" + ext));
        fs::create_symlink("/dev/null", Path("null" + ext));
        const std::string output = Path(ext == ".raw" ? "out.bds" : "out.csv");
        for (const Input& input : inputs) {
            const std::string path = Path(input.name + ext);
            // Videos are not converted, captures have no recording to describe.
            std::vector<std::pair<std::string, const std::set<int>*>> runs;
            if (ext != ".avi") {
                runs.emplace_back("convert " + path + " " + output, &input.convertStatuses);
            }
            if (ext != ".raw") {
                runs.emplace_back("info " + path, &input.infoStatuses);
            }
            for (const auto& [command, statuses] : runs) {
                const ToolResult result = Thermal(command);
                EXPECT_EQ(statuses->count(result.status), 1u)
                    << command << ": status " << result.status << ": " << result.errors;
                EXPECT_EQ(fs::exists(output), result.status == 0) << command;
                // info describes a damaged recording (1) on its standard output instead.
                const bool isConvert = command.rfind("convert", 0) == 0;
                if (result.status == 2 || (result.status == 1 && isConvert)) {
                    EXPECT_EQ(LineCount(result.errors), 1) << command << ": " << result.errors;
                }
                if (input.isNotAFile) {
                    const bool clear =
                        result.errors.find("directory") != std::string::npos ||
                        result.errors.find("not a regular file") != std::string::npos;
                    EXPECT_TRUE(clear) << command << ": " << result.errors;
                }
                fs::remove(output);
            }
        }
    }
}

// The sanitizers reserve terabytes of address space: a limit on it cannot be tested under them.
constexpr bool kAddressSpaceIsLimitable = !kSanitizerBuild;

// Files far larger than the memory the tool may use are read a record at a time: a sparse file
// of 256 MiB under a 128 MiB address space limit (a whole-file read would need twice that).
TEST_F(DamagedInput, HugeFilesAreReadInConstantMemory) {
    if (!kAddressSpaceIsLimitable) {
        GTEST_SKIP() << "built with a sanitizer";
    }
    constexpr std::uintmax_t kHuge = 256u << 20;
    const std::string record = BinaryStreamRecord('K', SpreadFrame(2981, 2900, 3100));
    const std::string bds = Write("huge.bds", record);  // then a hole of zeros
    const std::string txt = Write("huge.txt", "");      // one line without end
    const std::string bin = Write("huge.bin", "");      // raw frames of zeros
    for (const std::string& path : {bds, txt, bin}) {
        fs::resize_file(path, kHuge);
    }
    struct Case {
        std::string command;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"convert " + bds + " " + Path("out.txt"), 0, "no Mode=T or Mode=V record header in them"},
        {"convert " + txt + " " + Path("out.csv"), 2, "is not a text stream recording"},
        {"info " + bin, 1, "frames: 135300"},
    };
    for (const Case& c : cases) {
        const ToolResult result = Thermal(c.command, 60, 128 << 10);
        EXPECT_EQ(result.status, c.status) << c.command << ": " << result.errors;
        EXPECT_NE((result.out + result.errors).find(c.message), std::string::npos)
            << c.command << ": " << result.out << result.errors;
    }
}

// A failure nobody planned for (here the memory running out at start-up, or a thread that
// cannot be started) ends the tool with one line and status 2, never an abort.
TEST_F(DamagedInput, UnforeseenFailuresEndWithOneLineAndStatusTwo) {
    if (!kAddressSpaceIsLimitable) {
        GTEST_SKIP() << "built with a sanitizer";
    }
    const std::string input =
        Write("in.bds", BinaryStreamRecord('K', SpreadFrame(2981, 2900, 3100)));
    int stopped = 0;
    for (const int kib : {12288, 16384, 20480, 24576}) {
        const ToolResult result = Thermal("convert " + input + " " + Path("out.txt"), 0, kib);
        // Below what its shared libraries (libtiff and its codecs among them) need, the dynamic
        // loader fails before the tool runs: nothing of the tool's to check.
        if (result.status == 127 &&
            result.errors.find("error while loading shared libraries") != std::string::npos) {
            continue;
        }
        ASSERT_TRUE(result.status == 0 || result.status == 2)
            << kib << " KiB: status " << result.status << ": " << result.errors;
        if (result.status == 2) {
            ++stopped;
            EXPECT_EQ(result.errors.rfind("thermal: stopped by an unexpected error: ", 0), 0u)
                << result.errors;
            EXPECT_EQ(LineCount(result.errors), 1) << result.errors;
            EXPECT_FALSE(fs::exists(Path("out.txt")));
        }
        fs::remove(Path("out.txt"));
    }
    EXPECT_GT(stopped, 0);
}

// Hostile videos, small versions of those first found: frame sizes
// no recording has (the picture size overflowed int; the picture was allocated from the header:
// 2.1 GB, 1.2 GB), frames that give no picture, and a key frame followed by empty frames (each
// frame decoded again from the key frame: minutes). `info` and `info --decode` each end within
// seconds with status 1, saying what is wrong, never "stopped by an unexpected error"; under an
// address-space limit of 512 MiB where one can be set.
TEST_F(DamagedInput, CraftedVideosGiveOneClearLineQuicklyInBoundedMemory) {
    using crafted_avi::Avi;
    const std::vector<crafted_avi::Frame> ours =
        video_test::CraftedFrames(video_test::EncodeImages(video_test::DisplayImagesBgr(2)));
    const std::string larger = "larger than 4096 x 4096, the largest this program decodes";
    struct Case {
        const char* name;
        std::string bytes;
        std::string info;    // in the report of `info`
        std::string decode;  // in the report of `info --decode`
        int infoStatus = 1;  // of `info`; `info --decode` finds problems in each (1)
    };
    const Case cases[] = {
        {"32767x32767.avi", Avi(32767, 32767, ours),
         "the frame size of 32767 x 32767 pixels is " + larger,
         "decoding: not done: cannot play '" + Path("32767x32767.avi") +
             "': its pictures of 32767 x 32767 pixels are " + larger},
        {"20000x20000.avi", Avi(20000, 20000, ours),
         "the frame size of 20000 x 20000 pixels is " + larger, "pixels are " + larger},
        {"foreign.avi", Avi(4096, 4096, ours), "frame size: 4096 x 4096 pixels",
         "frame 0: the frame does not decode: the video's pictures are 320 x 310 pixels, the "
         "file states 4096 x 4096",
         0},
        {"random.avi", Avi(320, 310, crafted_avi::RandomFrames(40, 700, 3)),
         "frames: 40 whole frames",
         "frame 0: frames 0 to 39 give no picture: the decoder finds none in their bytes", 0},
        {"empty.avi", Avi(320, 310, crafted_avi::KeyFrameThenEmptyFrames(ours[0], 1000)),
         "frames: 1001 whole frames",
         "frame 1: frames 1 to 1000 are empty (0 bytes), as the recorder stores frames it could "
         "not encode",
         0},
        {"million.avi",
         Avi(320, 310, crafted_avi::KeyFrameThenEmptyFrames(ours[0], 1000000), false),
         "frames: 1000001 whole frames", "decoding: 1 of 1000001 frames decode"},
    };
    const int kib = kAddressSpaceIsLimitable ? 512 << 10 : 0;
    for (const Case& c : cases) {
        const std::string path = Write(c.name, c.bytes);
        for (const auto& [options, expected] :
             {std::pair{"", c.info}, std::pair{"--decode ", c.decode}}) {
            const std::string command = "info " + std::string(options) + path;
            const ToolResult result = Thermal(command, 20, kib);
            EXPECT_EQ(result.status, *options == '\0' ? c.infoStatus : 1)
                << command << ": " << result.out << result.errors;
            EXPECT_EQ(result.errors, "") << command;
            EXPECT_NE(result.out.find(expected), std::string::npos)
                << command << ": " << result.out;
        }
    }
}

}  // namespace
