// Runs the built `thermal info` on clean, cut and damaged recordings of each type made with the
// core's encoders, and checks its status and the lines it prints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame_block.h"
#include "recording/recording_files.h"
#include "support/thermal_tool.h"
#include "video/avi_test_files.h"

namespace fs = std::filesystem;

namespace {

std::string Times(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += text;
    }
    return out;
}

// Temperatures from 280.0 K to 310.0 K, voltages from 0.1221 V to 4.8840 V.
const FrameData kWarm = SpreadFrame(2981, 2800, 3100);
const FrameData kVolts = SpreadFrame(1000, 100, 4000);

class InfoTest : public ::testing::Test {
  protected:
    ScratchDirectory m_dir{"info_test"};

    std::string Write(const std::string& name, const std::string& bytes) {
        WriteFileBytes(m_dir.path() / name, bytes);
        return (m_dir.path() / name).string();
    }
    ToolResult Info(const std::string& arguments) {
        return RunTool("info " + arguments, m_dir.path());
    }
};

struct Case {
    const char* name;
    std::string bytes;
    int status;
    std::vector<std::string> lines;  // each must appear in the report
    std::string options = "";
};

void ExpectReport(const ToolResult& run, const Case& c) {
    EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.out << run.errors;
    EXPECT_EQ(run.errors, "") << c.name;
    for (const std::string& line : c.lines) {
        EXPECT_NE(run.out.find(line), std::string::npos) << c.name << ": no \"" << line << "\" in\n"
                                                         << run.out;
    }
}

TEST_F(InfoTest, BinaryStreams) {
    const std::string warm = BinaryStreamRecord('K', kWarm);
    const std::string volts = BinaryStreamRecord('t', kVolts);
    std::string modeX = warm;
    modeX[5] = 'X';
    std::string noMarker = warm;
    noMarker[16 + kFrameMarkerOffset] = 0;
    const Case cases[] = {
        {"clean.bds",
         Times(warm, 3),
         0,
         {"  type: binary stream recording (.bds)\n", "  frames: 3\n",
          "  data mode: temperature (Mode=T)\n",
          "  offsets subtracted: no (frame blocks as the module sent them)\n",
          "  minimum: +280.0 K\n", "  maximum: +310.0 K\n",
          "  duration: not recorded in the file; 0.2 s when played at the default speed (53 ms a "
          "frame)\n",
          "  problems: none\n"}},
        {"volts.bds",
         volts,
         0,
         {"  data mode: voltage (Mode=V)\n", "  minimum: +0.1221 V\n", "  maximum: +4.8840 V\n"}},
        {"cut.bds",
         Times(warm, 3) + warm.substr(0, 1000),
         1,
         {"  frames: 3\n", "  problems: 1\n",
          "    byte 6384, frame 4: short last record, 1000 of 2128 bytes: the viewer stops "
          "before it\n"}},
        {"modex.bds",
         warm + modeX + volts,
         1,
         {"  data mode: mixed: 1 frame temperature (Mode=T), 1 frame unknown (the header reads "
          "'Mode=X'; read as voltage), 1 frame voltage (Mode=V)\n",
          "  minimum: +280.0 K in temperature (Mode=T), +3.4188 V in unknown (the header reads "
          "'Mode=X'; read as voltage), +0.1221 V in voltage (Mode=V)\n",
          "    byte 2128, frame 2: the record header reads 'Mode=X', not Mode=T or Mode=V: the "
          "viewer plays it as a voltage frame\n"}},
        {"firstx.bds",
         modeX + warm,
         1,
         {"  data mode: mixed: 1 frame unknown (the header reads 'Mode=X'; read as voltage), 1 "
          "frame temperature (Mode=T)\n",
          "    byte 0, frame 1: the record header reads 'Mode=X', not Mode=T or Mode=V: the "
          "viewer does not play this file\n"}},
        {"nomarker.bds",
         warm + noMarker,
         1,
         {"    byte 4192, frame 2: no frame marker in the frame block: the record is damaged or "
          "out of step\n"}},
        {"empty.bds", "", 1, {"  frames: 0\n", "    byte 0: the file is empty"}},
    };
    for (const Case& c : cases) {
        ExpectReport(Info(Write(c.name, c.bytes)), c);
    }
}

TEST_F(InfoTest, TextStreams) {
    const std::string celsius = TextStreamRecord(kWarm, 'C');
    const std::string volts = TextStreamRecord(kVolts, 'V', 'T');
    // Pixel row 4 (the frame's fifth line, after the header line) with its last field and TAB
    // dropped: 31 fields.
    std::string shortRow = celsius;
    std::size_t line = 0;
    for (int i = 0; i < 5; ++i) {
        line = shortRow.find('\n', line) + 1;
    }
    const std::size_t lineEnd = shortRow.find("\t\r\r\n", line);
    const std::size_t lastField = shortRow.rfind('\t', lineEnd - 1) + 1;
    shortRow.erase(lastField, lineEnd + 1 - lastField);
    std::string modeX = celsius;
    modeX[5] = 'X';
    const std::string edited = Replaced(celsius, "\r\r\n", "\r\n");
    const std::size_t frameBytes = celsius.size();
    const Case cases[] = {
        {"clean.txt",
         celsius + celsius,
         0,
         {"  type: text stream recording (.txt)\n", "  frames: 2\n",
          "  data mode: temperature in °C (Mode=C)\n", "  offsets subtracted: no (ElOff=F)\n",
          "  minimum: +6.9 °C\n", "  maximum: +36.9 °C\n", "  problems: none\n"}},
        {"volts.txt",
         volts,
         0,
         {"  data mode: voltage (Mode=V)\n", "  offsets subtracted: yes (ElOff=T)\n",
          "  minimum: +0.1221 V\n", "  maximum: +4.8840 V\n"}},
        {"cut.txt",
         // Cut half-way, in the 18th line: the header line (17 bytes) and 16 pixel rows of about
         // 195 bytes come before it. The part line counts as a line read.
         celsius + celsius.substr(0, frameBytes / 2),
         1,
         {"  frames: 1\n", "    byte " + std::to_string(frameBytes) +
                               ", frame 2: short last frame, 18 of 34 lines: the viewer stops "
                               "before it\n"}},
        {"row.txt",
         celsius + shortRow + celsius,
         1,
         {"  frames: 3 (2 readable by the viewer)\n",
          "    byte " + std::to_string(frameBytes) +
              ", frame 2: the frame does not parse: its line 5 holds 31 fields instead of 32\n"}},
        {"modex.txt",
         celsius + modeX,
         1,
         {"    byte " + std::to_string(frameBytes) +
          ", frame 2: the header line reads 'Mode=X ElOff=F', not Mode=<V|K|C|F> ElOff=<T|F>: "
          "the viewer reads the frame as kelvin\n"}},
        {"edited.txt",
         edited + edited,
         1,
         {"  frames: 2 (0 readable by the viewer)\n", "  problems: 1\n",
          "    byte 0, frame 1: lines end in a single CR LF: the viewer reads no frame from this "
          "file\n"}},
        {"mixed.txt",
         celsius + edited + volts,
         1,
         {"  frames: 3 (2 readable by the viewer)\n",
          "  offsets subtracted: in 1 of 2 frames (ElOff=T)\n",
          "    byte " + std::to_string(frameBytes) +
              ", frame 2: 34 lines end in a single CR LF, the first here: the viewer skips the "
              "frames holding them\n"}},
        {"unix.txt",
         Replaced(celsius, "\r\r\n", "\n"),
         1,
         {"    byte 0, frame 1: lines end in a line feed without CR: the viewer reads no frame "
          "from this file\n"}},
        {"empty.txt", "", 1, {"  frames: 0\n", "    byte 0: the file is empty"}},
        // The range is the file's own fields: 310.0 K is written as +98.3 °F, which reads back
        // as 309.9 K, or +98.1 °F.
        {"fahrenheit.txt",
         TextStreamRecord(kWarm, 'F'),
         0,
         {"  minimum: +44.3 °F\n", "  maximum: +98.3 °F\n"}},
    };
    for (const Case& c : cases) {
        ExpectReport(Info(Write(c.name, c.bytes)), c);
    }
}

TEST_F(InfoTest, RawFrameFiles) {
    const std::string frame = RawFrameBytes(SpreadFrame(1000, 0x0102, 4000));
    const Case cases[] = {
        {"clean.bin",
         frame + frame,
         0,
         {"  type: raw frame file (.bin), played as voltages\n", "  frames: 2\n",
          "  minimum: +0.3150 V (raw value 258)\n", "  maximum: +4.8840 V (raw value 4000)\n",
          "  problems: none\n"}},
        {"3000.bin",
         frame + frame.substr(0, 1016),
         1,
         {"  frames: 1\n",
          "    byte 1984, frame 2: the file size 3000 is not a multiple of 1984: a short last "
          "frame of 1016 bytes, where the viewer stops\n"}},
        {"empty.bin", "", 1, {"    byte 0: the file is empty"}},
    };
    for (const Case& c : cases) {
        ExpectReport(Info(Write(c.name, c.bytes)), c);
    }
}

std::string Le32Bytes(uint32_t value) {
    return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
            static_cast<char>(value >> 24)};
}

// Video recordings of our writer: 200 frames at 20 fps with key frames 0 and 150. Positions in
// the expected lines come from a reading of the file format independent of the reader.
TEST_F(InfoTest, VideoRecordings) {
    const video_test::Recording& recording = video_test::TwoHundredFrameRecording();
    const video_test::ParsedAvi avi = video_test::ParseAvi(recording.file);
    ASSERT_EQ(avi.problem, "");
    ASSERT_EQ(avi.frames.size(), 200u);
    const std::string whole(avi.bytes.begin(), avi.bytes.end());
    const auto chunkAt = [&](int n) { return avi.movieCode + avi.frames[n].offset; };

    // Ten bytes into frame 120, as a recording ends when the program is killed mid-write.
    const std::string cut = whole.substr(0, chunkAt(120) + 8 + 10);
    std::string counted = whole;
    counted.replace(avi.avih + 16, 4, Le32Bytes(150));
    // A stream format stating a smaller picture than the frames hold: no frame decodes.
    std::string resized = whole;
    resized.replace(avi.strf + 4, 8, Le32Bytes(160) + Le32Bytes(120));

    const Case cases[] = {
        {"clean.avi",
         whole,
         0,
         {"  type: video (AVI)\n", "  codec: XVID (stream handler 'xvid'), MPEG-4 part 2\n",
          "  frame size: 320 x 310 pixels\n", "  frame rate: 20 fps\n",
          "  frames: 200 whole frames, numbered 0 to 199 as the video player numbers them\n",
          "  key frames: 2\n", "  duration: 10.00 s at 20 fps\n", "  problems: none\n"}},
        {"decoded.avi", whole, 0, {"  decoding: every frame decodes\n"}, "--decode "},
        {"cut.avi",
         cut,
         1,
         {"  frames: 120 whole frames, numbered 0 to 119", "  key frames: 1\n",
          "  duration: 6.00 s at 20 fps\n",
          "    byte " + std::to_string(chunkAt(120)) +
              ", frame 120: the file ends inside the frame (10 of its " +
              std::to_string(avi.frames[120].size) + " bytes are there)\n",
          "the main header gives 200 frames, the file holds 120 whole frames\n"}},
        {"counted.avi",
         counted,
         1,
         {"  frames: 200 whole frames", "  problems: 1\n",
          "    byte " + std::to_string(avi.avih + 16) +
              ": the main header gives 150 frames, the file holds 200 whole frames\n"}},
        {"resized.avi",
         resized,
         1,
         {"  frame size: 160 x 120 pixels\n", "  decoding: 0 of 200 frames decode\n",
          "  problems: 2\n",
          "    byte " + std::to_string(chunkAt(0)) +
              ", frame 0: the frame does not decode: the video's pictures are 320 x 310 pixels, "
              "the file states 160 x 120; frames 1 to 149 build on it\n",
          "    byte " + std::to_string(chunkAt(150)) + ", frame 150: the frame does not decode"},
         "--decode "},
    };
    for (const Case& c : cases) {
        ExpectReport(Info(c.options + Write(c.name, c.bytes)), c);
    }
}

TEST_F(InfoTest, FilesThatCannotBeReadGiveOneLineAndStatusTwo) {
    const std::string good = Write("good.bds", BinaryStreamRecord('K', kWarm));
    fs::create_directory(m_dir.path() / "folder.bds");
    fs::create_directory(m_dir.path() / "line\nbreak.bds");
    std::mt19937 rng(3);
    std::string noise(4000, '\0');
    for (char& byte : noise) {
        byte = static_cast<char>(rng());
    }
    const struct {
        std::string arguments;
        const char* error;
    } cases[] = {
        {(m_dir.path() / "missing.bds").string(), "No such file or directory"},
        {(m_dir.path() / "folder.bds").string(), "it is a directory"},
        {"'" + (m_dir.path() / "line\nbreak.bds").string() + "'", "line\\nbreak.bds': it is a"},
        {Write("rec.dat", "x"), "unknown file type (expected .bds, .txt, .bin or .avi)"},
        {Write("movie.avi", "RIFF"), "is not an AVI file (no RIFF 'AVI ' header)"},
        {Write("noise.avi", noise), "is not an AVI file"},
        {Write("empty.avi", ""), "empty.avi' is empty"},
        {"", "missing FILE"},
        {"--bogus " + good, "unknown option '--bogus'"},
        {"--max-problems 0 " + good, "--max-problems takes a whole number"},
        {"--max-problems", "--max-problems takes a whole number"},
    };
    for (const auto& c : cases) {
        const ToolResult run = Info(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments;
        EXPECT_EQ(run.out, "") << c.arguments;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
        EXPECT_NE(run.errors.find(c.error), std::string::npos) << run.errors;
    }
}

TEST_F(InfoTest, SeveralFilesGiveTheWorstStatusAndEveryReport) {
    const std::string warm = BinaryStreamRecord('K', kWarm);
    const std::string clean = Write("a.bds", warm);
    const std::string cut = Write("b.BDS", warm + "Mode=T");
    const std::string missing = (m_dir.path() / "c.txt").string();

    const ToolResult problems = Info(clean + " " + cut);
    EXPECT_EQ(problems.status, 1);
    EXPECT_NE(problems.out.find(clean + "\n"), std::string::npos);
    EXPECT_NE(problems.out.find("\n\n" + cut + "\n"), std::string::npos);

    const ToolResult unreadable = Info(missing + " " + clean);
    EXPECT_EQ(unreadable.status, 2);
    EXPECT_EQ(unreadable.out.rfind(clean + "\n", 0), 0u) << unreadable.out;
    EXPECT_NE(unreadable.errors.find(missing), std::string::npos);
}

TEST_F(InfoTest, ProblemsBeyondTheLimitAreCounted) {
    std::string bad = BinaryStreamRecord('K', kWarm);
    bad[5] = '?';
    const ToolResult run = Info("--max-problems 2 " + Write("bad.bds", Times(bad, 5)));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("  problems: 5\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("byte 2128, frame 2: "), std::string::npos);
    EXPECT_EQ(run.out.find("byte 4256, frame 3: "), std::string::npos);
    EXPECT_NE(run.out.find("    ... and 3 more bad record headers\n"), std::string::npos);
}

TEST_F(InfoTest, HelpListsTheCommandAndItsOptions) {
    const ToolResult top = RunTool("--help", m_dir.path());
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("\n  info "), std::string::npos) << top.out;
    const ToolResult help = Info("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--max-problems N"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--decode"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("(default\n                     10)"), std::string::npos);
}

}  // namespace
