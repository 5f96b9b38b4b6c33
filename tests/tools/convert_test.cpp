// Runs the built `thermal convert` on recordings made here and compares its files with text and
// pixels written out by hand from the file formats.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "convert_test_support.h"
#include "frame/frame_block.h"
#include "processing/frame_pipeline.h"
#include "recording/recording_files.h"
#include "recording/stream_recorder.h"

namespace fs = std::filesystem;

namespace {

// One record: "Mode=<mode>" padded to 16 bytes, then a block of flat pixels, offsets and
// header words 4 to 11.
void AppendRecord(std::vector<uint8_t>& file, char mode, uint16_t pixel, uint16_t offset,
                  uint16_t headerWord) {
    const char header[16] = {'M', 'o', 'd', 'e', '=', mode};
    file.insert(file.end(), header, header + 16);
    FrameData frame{};
    std::fill(std::begin(frame.values), std::end(frame.values), pixel);
    std::fill(std::begin(frame.offsets), std::end(frame.offsets), offset);
    std::fill(std::begin(frame.header) + 4, std::end(frame.header), headerWord);
    std::vector<uint8_t> block(kFrameBlockSize);
    EncodeFrameBlock(frame, block.data());
    file.insert(file.end(), block.begin(), block.end());
}

std::string Repeat(const std::string& field, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += field;
    }
    return out;
}

// The text stream record of a flat frame as the format describes it, every line ending CR CR LF.
std::string ExpectedRecord(const std::string& headerLine, const std::string& pixelField,
                           const std::string& offsetField, const std::string& headerField) {
    const std::string end = "\r\r\n";
    std::string out = headerLine + end;
    for (int row = 0; row < 31; ++row) {
        out += Repeat(pixelField + "\t", 32) + end;
    }
    out += Repeat(offsetField + "\t", 32) + end;
    out += Repeat("+0.0000\t", 16) + Repeat(headerField + "\t", 16) + end;
    return out;
}

class ConvertTest : public ::testing::Test {
  protected:
    fs::path WriteRecording(const std::vector<uint8_t>& bytes) {
        const fs::path path = m_dir / "in.bds";
        WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
        return path;
    }

    const ScratchDirectory m_scratch{"convert_test"};
    const fs::path& m_dir = m_scratch.path();
};

TEST_F(ConvertTest, WritesTheTextRecordingOfEveryFrame) {
    std::vector<uint8_t> file;
    AppendRecord(file, 'T', 2981, 0, 819);  // 298.1 K, header words 1.0000 V
    AppendRecord(file, 'V', 1000, 100, 0);  // voltage: 1000 - 100 counts = 1.0989 V
    file.insert(file.end(), 100, 0);        // a short last record is ignored
    const fs::path input = WriteRecording(file);

    const ToolResult celsius =
        RunTool("convert " + input.string() + " " + (m_dir / "out.txt").string(), m_dir);
    ASSERT_EQ(celsius.status, 0) << celsius.errors;
    const std::string expected = ExpectedRecord("Mode=C ElOff=F", "+25.0", "+0.0000", "+1.0000") +
                                 ExpectedRecord("Mode=V ElOff=T", "+1.0989", "+0.1221", "+0.0000");
    EXPECT_EQ(ReadWhole(m_dir / "out.txt"), expected);

    const ToolResult kelvin =
        RunTool("convert " + input.string() + " " + (m_dir / "k.txt").string() +
                    " --unit K --no-el-offsets --stack 2",
                m_dir);
    ASSERT_EQ(kelvin.status, 0) << kelvin.errors;
    // The stack of 2 is not full before the third frame, so each frame shows as it came.
    EXPECT_EQ(ReadWhole(m_dir / "k.txt"),
              ExpectedRecord("Mode=K ElOff=F", "+298.1", "+0.0000", "+1.0000") +
                  ExpectedRecord("Mode=V ElOff=F", "+1.2210", "+0.1221", "+0.0000"));
}

// The text `thermal convert` writes of a binary recording is the text recording the viewer makes
// of the same frames through its frame path and recording step, with the settings the command
// starts with; the viewer's binary recording is the frames as received.
TEST_F(ConvertTest, TextEqualsTheViewersRecordingOfTheSameFrames) {
    // Five frames as the module sent them, in a binary stream recording written by hand.
    const struct {
        char letter;
        uint16_t pixel;
        uint16_t offset;
    } frames[] = {{'K', 2981, 0}, {'t', 1000, 100}, {'k', 3000, 5}, {'c', 700, 20}, {'K', 2500, 0}};
    std::string source;
    for (const auto& frame : frames) {
        const bool voltage = frame.letter == 't' || frame.letter == 'c';
        source += HandRecord(voltage ? 'V' : 'T', FlatBlock(frame.pixel, frame.offset));
    }
    ASSERT_EQ(source.size(), 10640u);
    WriteFileBytes(m_dir / "in.bds", source);
    const ToolResult converted = RunTool(
        "convert " + (m_dir / "in.bds").string() + " " + (m_dir / "convert.txt").string(), m_dir);
    ASSERT_EQ(converted.status, 0) << converted.errors;

    struct Sink {
        CStreamRecorder binary;
        CStreamRecorder text;
        static void OnFrameReady(void* owner, const char* letter, const std::string& text,
                                 const uint8_t* raw, const uint8_t*, const uint16_t*) {
            auto* self = static_cast<Sink*>(owner);
            const ProcessedFrame frame{.modeLetter = *letter,
                                       .text = text,
                                       .block = raw,
                                       .unit = kUnitCelsius,
                                       .subtractingOffsets = true};
            EXPECT_EQ(self->binary.RecordFrame(frame, 1), RecordOutcome::kWritten);
            EXPECT_EQ(self->text.RecordFrame(frame, 1), RecordOutcome::kWritten);
        }
    } sink;
    ASSERT_EQ(sink.binary.OpenFile(kRecordingBinary, (m_dir / "rec.bds").string()), 1);
    ASSERT_EQ(sink.text.OpenFile(kRecordingText, (m_dir / "rec.txt").string()), 1);
    CFramePipeline pipeline;
    pipeline.SetUnit(kUnitCelsius);
    pipeline.SetElOffsetSubtraction(1);
    pipeline.SetCallback(&Sink::OnFrameReady, &sink);
    for (const auto& frame : frames) {
        const std::string block = FlatBlock(frame.pixel, frame.offset);
        pipeline.ProcessFrameNow(frame.letter, kFrameBlockSize, Bytes(block));
    }
    pipeline.StopThread();
    sink.binary.CloseFile();
    sink.text.CloseFile();

    EXPECT_EQ(ReadWhole(m_dir / "rec.bds"), source);
    EXPECT_EQ(ReadWhole(m_dir / "rec.txt"), ReadWhole(m_dir / "convert.txt"));
}

TEST_F(ConvertTest, WritesEveryDisplayImageAsABitmap) {
    std::vector<uint8_t> file;
    AppendRecord(file, 'T', 2981, 0, 0);
    AppendRecord(file, 'T', 3000, 0, 0);
    const fs::path input = WriteRecording(file);
    const fs::path frames = m_dir / "frames" / "deeper";
    const ToolResult result = RunTool(
        "convert " + input.string() + " --frames " + frames.string() + " --palette 3", m_dir);
    ASSERT_EQ(result.status, 0) << result.errors;
    ASSERT_TRUE(fs::exists(frames / "frame_000001.bmp"));
    ASSERT_TRUE(fs::exists(frames / "frame_000002.bmp"));
    EXPECT_FALSE(fs::exists(frames / "frame_000003.bmp"));
    const std::string bmp = ReadWhole(frames / "frame_000002.bmp");
    ASSERT_EQ(bmp.size(), 297654u);
    // A flat frame is coloured with entry 5, grey 6 in palette 3. Both markers sit on cell (0, 0):
    // the image's top-left block, stored in the last rows of the file.
    auto pixel = [&](int x, int y) {
        const std::size_t at = 54 + static_cast<std::size_t>(309 - y) * 960 + 3 * x;
        return std::vector<uint8_t>(bmp.begin() + static_cast<long>(at),
                                    bmp.begin() + static_cast<long>(at) + 3);
    };
    EXPECT_EQ(pixel(100, 100), (std::vector<uint8_t>{6, 6, 6}));
    EXPECT_EQ(pixel(3, 0), (std::vector<uint8_t>{0, 0, 0}));        // outline, black
    EXPECT_EQ(pixel(3, 1), (std::vector<uint8_t>{255, 255, 255}));  // outline, white
    EXPECT_EQ(pixel(4, 4), (std::vector<uint8_t>{0, 0, 0}));        // cross centre
}

TEST_F(ConvertTest, BadInputGivesOneLineAndStatusTwoAndChangesNothing) {
    std::vector<uint8_t> good;
    AppendRecord(good, 'T', 2981, 0, 0);
    const std::string in = WriteRecording(good).string();
    const std::string dir = m_dir.string() + "/";
    WriteFileBytes(m_dir / "junk.bds", std::string(3000, 'x'));
    WriteFileBytes(m_dir / "in.txt", TextStreamRecord(SpreadFrame(2981, 2900, 3000), 'C'));
    WriteFileBytes(m_dir / "hello.txt", "Hello\r\r\nworld\r\r\n");
    WriteFileBytes(m_dir / "old.txt", "an earlier conversion");
    fs::create_directories(m_dir / "dir.bds");
    fs::create_directories(m_dir / "taken.txt");
    fs::create_hard_link(m_dir / "in.txt", m_dir / "hard.txt");
    fs::create_symlink(m_dir / "in.txt", m_dir / "soft.txt");
    fs::create_symlink("/dev/null", m_dir / "null.txt");
    fs::create_symlink("/dev/full", m_dir / "full.csv");
    fs::create_directories(m_dir / "line\nbreak.bds");
    const std::string out = dir + "out.txt";
    const std::string cases[] = {
        dir + "missing.bds " + out,
        dir + "junk.bds " + out,             // no Mode=T or Mode=V header
        dir + "hello.txt " + out,            // no mode in the first line
        dir + "dir.bds " + out,              // a directory
        dir + "in.dat " + out,               // an extension convert does not read
        in + " " + dir + "out.xyz",          // ... or write
        in + " " + dir + "out",              // no extension
        in + " " + dir + "out.txt.gz",       // not what it ends in
        in + " " + dir + "again.bds",        // already a binary stream
        dir + "in.txt " + dir + "in.txt",    // the output is the input
        dir + "in.txt " + dir + "hard.txt",  // ... under another name
        dir + "in.txt " + dir + "soft.txt",  // ... through a link
        in + " " + dir + "taken.txt",        // a directory in the way
        in + " " + dir + "null.txt",         // a device: never renamed over, never written
        in + " " + dir + "full.csv",
        "'" + dir + "line\nbreak.bds' " + out,  // the message stays one line
        in + " --frames " + dir + "old.txt",    // pictures into a file
        dir + "junk.bin " + dir + "out.txt",    // raw frames have no text form
        in + " " + out + " --png",              // PNG without --frames
        in + " " + out + " --letter t",         // a capture option
        in + " " + out + " --palette 9",
        in + " " + out + " --unit X",
        in + " " + out + " --mirror sideways",
        in + " " + out + " --stack 0",
        in + " " + out + " --manual 300",
        in + " " + out + " --manual nan:nan",  // bounds the colour scale cannot compute with
        in + " " + out + " --manual -inf:inf",
        in + " " + out + " --manual -1e38:1e38",
        in + " " + out + " --manual 0:1000001",
        in + " " + out + " --bogus",
        in + " " + out + " " + dir + "third.txt",
        in,
        "",
    };
    const auto before = Snapshot(m_dir);
    for (const std::string& arguments : cases) {
        const ToolResult result = RunTool("convert " + arguments, m_dir / "run");
        EXPECT_EQ(result.status, 2) << arguments << ": " << result.errors;
        EXPECT_EQ(LineCount(result.errors), 1) << arguments << ": " << result.errors;
        EXPECT_EQ(Snapshot(m_dir), before) << arguments;
    }
}

// Nothing to convert is a failure: no output appears, an earlier one stays as it was.
TEST_F(ConvertTest, NoFrameFoundFailsAndLeavesTheEarlierOutput) {
    std::string short_record = "Mode=T";
    short_record.resize(100, '\0');
    const std::string reSaved = Replaced(TextStreamRecord(SpreadFrame(2981, 2900, 3000), 'C') +
                                             TextStreamRecord(SpreadFrame(2981, 2900, 3000), 'C'),
                                         "\r\r\n", "\r\n");
    // Cut inside the last field of its last line.
    std::string cutText = TextStreamRecord(SpreadFrame(2981, 2900, 3000), 'C');
    cutText.resize(cutText.size() - 10);
    struct Case {
        const char* input;
        std::string bytes;
        const char* output;
        const char* hint;  // in the message
    };
    const Case cases[] = {
        {"empty.bds", "", "out.txt", ""},
        {"short.bds", short_record, "out.avi", "short last record of 100 bytes"},
        {"empty.txt", "", "out.csv", ""},
        {"resaved.txt", reSaved, "out.bds", "single CR LF"},
        {"cut.txt", cutText, "out.csv",
         "(1 text frame that does not parse: its line 33 holds 31 fields instead of 32)"},
        {"short.bin", std::string(1983, '\1'), "out.csv", "short last record of 1983 bytes"},
        {"noise.raw", std::string(5000, '\x55'), "out.bds", ""},
    };
    for (const Case& c : cases) {
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        WriteFileBytes(m_dir / c.input, c.bytes);
        WriteFileBytes(m_dir / c.output, "an earlier conversion");
        const bool raw = std::string(c.input).ends_with(".raw");
        const auto before = Snapshot(m_dir);
        const ToolResult result =
            RunTool("convert " + (m_dir / c.input).string() + " " + (m_dir / c.output).string() +
                        (raw ? "" : " --frames " + (m_dir / "new" / "frames").string()),
                    m_dir / "run");
        EXPECT_EQ(result.status, 1) << c.input << ": " << result.errors;
        EXPECT_NE(result.errors.find("no frame found"), std::string::npos) << result.errors;
        EXPECT_NE(result.errors.find(c.hint), std::string::npos) << result.errors;
        EXPECT_EQ(LineCount(result.errors), 1) << result.errors;
        EXPECT_EQ(Snapshot(m_dir), before) << c.input;
    }
}

// Frames that do not parse among good ones are skipped; one line counts them and names the
// first and its fault.
TEST_F(ConvertTest, TextFramesThatDoNotParseAreSkippedAndNamed) {
    const std::string good = TextStreamRecord(SpreadFrame(2981, 2900, 3000), 'C');
    std::string bad = good;  // its last line loses a field separator
    bad[bad.rfind('\t')] = ' ';
    WriteFileBytes(m_dir / "in.txt", good + bad + bad + good);
    const ToolResult result = RunTool(
        "convert " + (m_dir / "in.txt").string() + " " + (m_dir / "out.csv").string(), m_dir);
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.errors,
              "thermal convert: skipped 2 text frames that do not parse (the first is frame 2: its "
              "line 33 holds 31 fields instead of 32)\n");
    EXPECT_TRUE(fs::exists(m_dir / "out.csv"));
}

// A write that fails part-way (here a file size limit, as a full disk would) fails the
// conversion, removes what was written and keeps the earlier output.
TEST_F(ConvertTest, FailedWriteRemovesThePartAndKeepsTheEarlierOutput) {
    std::string bds;
    std::string txt;
    for (int i = 0; i < 40; ++i) {
        const FrameData frame = SpreadFrame(static_cast<uint16_t>(2900 + i), 2800, 3100);
        bds += BinaryStreamRecord('K', frame);
        txt += TextStreamRecord(frame, 'K');
    }
    WriteFileBytes(m_dir / "in.bds", bds);
    WriteFileBytes(m_dir / "in.txt", txt);
    struct Case {
        const char* input;
        const char* output;
        const char* message;
    };
    const Case cases[] = {{"in.bds", "out.txt", "File too large"},
                          {"in.bds", "out.csv", "File too large"},
                          {"in.bds", "out.avi", "cannot write the video: write() failed on"},
                          {"in.bds", "out.tiff", "File too large"},
                          {"in.bds", "out.npy", "File too large"},
                          {"in.txt", "out.bds", "File too large"}};
    for (const auto& [input, output, message] : cases) {
        WriteFileBytes(m_dir / output, "an earlier conversion");
        const auto before = Snapshot(m_dir);
        const ToolResult result =
            RunShell("bash -c 'ulimit -f 16; exec " + kThermalTool.string() + " convert " +
                         (m_dir / input).string() + " " + (m_dir / output).string() + "'",
                     m_dir / "run");
        EXPECT_EQ(result.status, 1) << output << ": " << result.errors;
        EXPECT_NE(result.errors.find(message), std::string::npos) << result.errors;
        EXPECT_EQ(LineCount(result.errors), 1) << result.errors;
        EXPECT_EQ(Snapshot(m_dir), before) << output;
        fs::remove(m_dir / output);
    }
}

// A video of a few thousand frames takes seconds: long enough to watch and to interrupt.
TEST_F(ConvertTest, LongConversionShowsProgressOnATerminalAndStopsCleanlyOnASignal) {
    std::string bds;
    for (int i = 0; i < 3000; ++i) {
        bds +=
            BinaryStreamRecord('K', SpreadFrame(static_cast<uint16_t>(2900 + i % 64), 2800, 3100));
    }
    WriteFileBytes(m_dir / "in.bds", bds);
    const std::string in = (m_dir / "in.bds").string();

    // script(1) gives the tool a terminal for its stderr.
    const ToolResult shown = RunShell("script -qec '" + kThermalTool.string() + " convert " + in +
                                          " " + (m_dir / "shown.avi").string() + "' /dev/null",
                                      m_dir / "run");
    EXPECT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find("100%  3000 frames"), std::string::npos) << shown.out;
    fs::remove(m_dir / "shown.avi");

    const fs::path out = m_dir / "out.avi";
    WriteFileBytes(out, "an earlier conversion");
    const auto before = Snapshot(m_dir);
    const std::string errorFile = m_dir.string() + ".err";
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int errors = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(errors, STDERR_FILENO);
            ::execl(kThermalTool.c_str(), "thermal", "convert", in.c_str(), out.c_str(), nullptr);
            ::_exit(127);
        }
        // Stopped once the movie has started to be written (into a file without a name).
        bool writing = false;
        for (int wait = 0; wait < 2000 && !(writing = HoldsFileIn(pid, m_dir, in)); ++wait) {
            ::usleep(10000);
        }
        EXPECT_TRUE(writing);
        ::kill(pid, signalNumber);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signalNumber);
        EXPECT_NE(ReadWhole(errorFile).find("nothing written"), std::string::npos);
        EXPECT_EQ(Snapshot(m_dir), before) << signalNumber;
    }
    fs::remove(errorFile);
}

// Temporary files never take a name that is there already (a part another run left, or a
// file that happens to be called so), and pictures never replace what is not a picture file.
TEST_F(ConvertTest, OutputsNeverReplaceFilesThatAreNotTheirs) {
    std::vector<uint8_t> bds;
    AppendRecord(bds, 'T', 2981, 0, 0);
    const std::string in = WriteRecording(bds).string();
    for (const char* output : {"out.txt", "out.csv", "out.avi"}) {
        const fs::path out = m_dir / output;
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // The process keeps its ID through exec: this is the name its first part would get.
            WriteFileBytes(out.string() + ".part" + std::to_string(::getpid()), "somebody's");
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
            ::execl(kThermalTool.c_str(), "thermal", "convert", in.c_str(), out.c_str(), nullptr);
            ::_exit(127);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
        EXPECT_EQ(ReadWhole(out.string() + ".part" + std::to_string(pid)), "somebody's") << output;
        EXPECT_GT(fs::file_size(out), 0u) << output;
    }

    fs::create_directories(m_dir / "frames");
    fs::create_symlink("/dev/null", m_dir / "frames" / "frame_000001.bmp");
    const auto before = Snapshot(m_dir);
    const ToolResult pictures =
        RunTool("convert " + in + " --frames " + (m_dir / "frames").string(), m_dir / "run");
    EXPECT_EQ(pictures.status, 1) << pictures.errors;
    EXPECT_NE(pictures.errors.find("frame_000001.bmp': it is not a regular file"),
              std::string::npos)
        << pictures.errors;
    EXPECT_EQ(Snapshot(m_dir), before);
    EXPECT_TRUE(fs::is_symlink(m_dir / "frames" / "frame_000001.bmp"));
}

TEST_F(ConvertTest, OptionsThatCannotApplyAreSaidOnce) {
    std::vector<uint8_t> bds;
    AppendRecord(bds, 'T', 2981, 0, 0);
    const std::string in = WriteRecording(bds).string();
    WriteFileBytes(m_dir / "in.txt", TextStreamRecord(SpreadFrame(2981, 2900, 3000), 'C'));
    WriteFileBytes(m_dir / "in.bin", RawFrameBytes(SpreadFrame(2981, 2900, 3000)));
    const std::string dir = m_dir.string() + "/";
    const std::pair<std::string, std::string> cases[] = {
        {dir + "in.bin out.csv --stack 3 --stack 4 --mirror x --palette 2",
         "--stack does not apply to raw frames\n--mirror does not apply to raw frames\n"
         "--palette does not apply to a CSV output\n"},
        {dir + "in.txt out.avi --offset-stack 2 --unit K",
         "--offset-stack does not apply to text streams\n"
         "--unit does not apply to a video output\n"},
        {in + " out.txt --palette 3 --no-interpolate",
         "--palette does not apply to a text stream output\n"
         "--no-interpolate does not apply to a text stream output\n"},
        {dir + "in.txt out.bds --unit K", "--unit does not apply to a binary stream output\n"},
        {in + " out.avi --frames pictures --palette 3 --stack 2 --no-el-offsets --manual 280:300",
         ""},
        {in + " out.txt --frames pictures --unit K --mirror y", ""},
        {in + " out.npy --unit K --stack 2 --mirror x --manual 280:300",
         "--mirror does not apply to a NumPy output\n--manual does not apply to a NumPy output\n"},
        {in + " out.tif --stack 2 --mirror x --palette 2",
         "--palette does not apply to a TIFF output\n"},
    };
    for (const auto& [arguments, lines] : cases) {
        const ToolResult result = RunShell(
            "cd " + m_dir.string() + " && " + kThermalTool.string() + " convert " + arguments,
            m_dir / "run");
        EXPECT_EQ(result.status, 0) << arguments << ": " << result.errors;
        EXPECT_EQ(result.errors, Replaced(lines.empty() ? "" : "thermal convert: " + lines, "\n--",
                                          "\nthermal convert: --"))
            << arguments;
    }
}

TEST_F(ConvertTest, HelpListsEveryOptionWithItsDefault) {
    const ToolResult convert = RunTool("convert --help", m_dir / "run");
    ASSERT_EQ(convert.status, 0);
    const ToolResult all = RunTool("--help", m_dir / "run");
    ASSERT_EQ(all.status, 0);
    for (const char* option :
         {"--unit", "--palette", "--mirror", "--no-interpolate", "--stack", "--offset-stack",
          "--no-el-offsets", "--manual", "--frames", "--png", "--region", "--letter"}) {
        for (const std::string& help : {convert.out, all.out}) {
            const std::size_t at = help.find(std::string("\n  ") + option + " ");
            ASSERT_NE(at, std::string::npos) << option;
            const std::size_t next = help.find("\n  -", at + 1);
            EXPECT_NE(help.substr(at, next - at).find("default"), std::string::npos) << option;
        }
    }
    for (const char* form : {".txt", ".bds", ".csv", ".avi", ".bin", ".raw"}) {
        EXPECT_NE(convert.out.find(form), std::string::npos) << form;
    }
}

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A user without privileges: nobody (65534).
constexpr uid_t kNobody = 65534;

// The command prefix that runs the tool as an ordinary user: as that user itself, or as nobody
// through setpriv(1) when the tests run as root (as here and in continuous integration). Empty
// when neither is possible.
std::string AsOrdinaryUser() {
    if (::geteuid() != 0) {
        return " ";
    }
    if (std::system("setpriv --version > /dev/null 2>&1") != 0) {
        return {};
    }
    return "setpriv --reuid=" + std::to_string(kNobody) + " --regid=" + std::to_string(kNobody) +
           " --clear-groups ";
}

// What an output may be replaced by, decided by the kernel's own rules for the user who runs the
// conversion (an ordinary user: nobody through setpriv when the tests run as root): a file they
// may write keeps its mode (and, for root, its owner), a link to one is written through and
// stays; a write-protected file, somebody else's, a link to such a file, anything in a directory
// they may not write and (with fs.protected_symlinks on) a link the kernel will not follow for
// them are refused with one line and status 2, and nothing changes.
TEST_F(ConvertTest, OutputsKeepTheirModeAndOnlyWhatTheUserMayWriteIsReplaced) {
    const std::string asUser = AsOrdinaryUser();
    if (asUser.empty()) {
        GTEST_SKIP() << "running as root without setpriv: no way to run as an ordinary user";
    }
    const bool root = ::geteuid() == 0;
    // Everything in the directory is the user's, as in their own home.
    const auto own = [&](const fs::path& path, uid_t user) {
        if (root) {
            ASSERT_EQ(::lchown(path.c_str(), user, user), 0) << path;
        }
    };
    ASSERT_EQ(::chmod(m_dir.c_str(), 0755), 0);
    own(m_dir, kNobody);
    std::vector<uint8_t> bds;
    AppendRecord(bds, 'T', 2981, 0, 0);
    const fs::path in = WriteRecording(bds);
    fs::create_directories(m_dir / "locked");
    own(m_dir / "locked", kNobody);
    const bool protectedLinks = ReadWhole("/proc/sys/fs/protected_symlinks").starts_with("1");
    struct Case {
        const char* output;  // "a>b": a is a link to b; what is there says "earlier"
        mode_t mode;         // of the file there, 0 for none
        bool isRoots;        // the file is root's (rows only run as root)
        bool byRoot;         // converted by root instead of the ordinary user
        int status;
    };
    const Case cases[] = {
        {"private.csv", 0600, false, false, 0},
        {"shared.txt", 0664, false, false, 0},
        {"odd.avi", 0751, false, false, 0},
        {"link.csv>target.csv", 0640, false, false, 0},
        {"readonly.txt", 0444, false, false, 2},
        {"readonly.avi", 0400, false, false, 2},
        {"protected.csv>theirs.csv", 0444, false, false, 2},
        {"locked/open.txt", 0666, false, false, 2},  // writable, but not replaceable
        {"locked/new.txt", 0, false, false, 2},
        {"roots.txt", 0644, true, false, 2},
        {"readonly-for-root.txt", 0444, false, true, 0},  // root keeps the owner too
        // A link in a sticky, world-writable directory, owned by neither its follower nor the
        // directory's owner: the kernel does not follow it even to a file the user may write.
        {"shared/trap.csv>../mine.csv", 0644, false, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string place = c.output;
        const std::size_t arrow = place.find('>');
        const fs::path out = m_dir / place.substr(0, arrow);
        const fs::path file =
            arrow == std::string::npos ? out : out.parent_path() / place.substr(arrow + 1);
        const bool isTrap = place.starts_with("shared/");
        if ((c.isRoots || c.byRoot || isTrap) && !root) {
            continue;
        }
        if (isTrap) {
            if (!protectedLinks) {
                std::cout << "[   NOTE   ] the protected-link row needs fs.protected_symlinks=1"
                          << std::endl;
                continue;
            }
            fs::create_directories(m_dir / "shared");
            ASSERT_EQ(::chmod((m_dir / "shared").c_str(), 01777), 0);
        }
        if (c.mode != 0) {
            WriteFileBytes(file, "earlier");
            own(file, c.isRoots ? 0 : kNobody);
            ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        }
        if (arrow != std::string::npos) {
            fs::create_symlink(place.substr(arrow + 1), out);
            own(out, isTrap ? kNobody - 1 : kNobody);
        }
        if (place.starts_with("locked/")) {
            ASSERT_EQ(::chmod((m_dir / "locked").c_str(), 0555), 0);
        }
        const auto before = Snapshot(m_dir);
        const ToolResult result =
            RunShell((c.byRoot ? std::string() : asUser) + kThermalTool.string() + " convert " +
                         in.string() + " " + out.string(),
                     m_dir / "run");
        ASSERT_EQ(::chmod((m_dir / "locked").c_str(), 0755), 0);
        EXPECT_EQ(result.status, c.status) << result.errors;
        if (c.status != 0) {
            EXPECT_EQ(LineCount(result.errors), 1) << result.errors;
            EXPECT_NE(result.errors.find("Permission denied"), std::string::npos) << result.errors;
            EXPECT_EQ(Snapshot(m_dir), before);
            continue;
        }
        EXPECT_NE(ReadWhole(file), "earlier");
        EXPECT_EQ(fs::is_symlink(out), arrow != std::string::npos);
        EXPECT_EQ(ModeOf(file), c.mode);
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, root ? kNobody : ::geteuid());
    }

    // A new file: 0666 less the umask, as any program's.
    const ToolResult fresh = RunShell("umask 027 && " + kThermalTool.string() + " convert " +
                                          in.string() + " " + (m_dir / "new.txt").string(),
                                      m_dir / "run");
    EXPECT_EQ(fresh.status, 0) << fresh.errors;
    EXPECT_EQ(ModeOf(m_dir / "new.txt"), 0640u);
}

// A conversion killed (SIGKILL, no chance to clean up) at any moment leaves no file behind:
// outputs are written without a name until complete. An earlier output is either as it was or
// the complete new one.
TEST_F(ConvertTest, KilledConversionsLeaveNothingBehind) {
    std::string bds;
    std::string txt;
    for (int i = 0; i < 4000; ++i) {
        const FrameData frame = SpreadFrame(static_cast<uint16_t>(2900 + i % 64), 2800, 3100);
        bds += BinaryStreamRecord('K', frame);
        if (i < 2000) {
            txt += TextStreamRecord(frame, 'K');
        }
    }
    WriteFileBytes(m_dir / "in.bds", bds);
    WriteFileBytes(m_dir / "in.txt", txt);
    struct Case {
        const char* input;
        const char* output;  // "pictures/" for --frames
    };
    const Case kinds[] = {{"in.bds", "out.csv"},
                          {"in.txt", "out.bds"},
                          {"in.bds", "out.txt"},
                          {"in.bds", "out.avi"},
                          {"in.bds", "pictures/"}};
    // Milliseconds after the output was opened; at the second an earlier output is there.
    const int moments[] = {0, 30, 100};
    int killedWhileWriting = 0;
    for (const auto& [input, output] : kinds) {
        const bool pictures = std::string(output).ends_with("/");
        for (const int moment : moments) {
            SCOPED_TRACE(std::string(output) + " killed after " + std::to_string(moment) + " ms");
            const fs::path out = m_dir / output;
            const bool earlier = moment == moments[1] && !pictures;
            if (earlier) {
                WriteFileBytes(out, "an earlier conversion");
            }
            const std::set<std::string> before = Names(m_dir);
            const fs::path in = m_dir / input;
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, STDERR_FILENO);
                if (pictures) {
                    ::execl(kThermalTool.c_str(), "thermal", "convert", in.c_str(), "--frames",
                            out.c_str(), nullptr);
                } else {
                    ::execl(kThermalTool.c_str(), "thermal", "convert", in.c_str(), out.c_str(),
                            nullptr);
                }
                ::_exit(127);
            }
            // Pictures are open only for a moment each: the first one is the sign.
            auto writing = [&] {
                std::error_code ec;
                return pictures ? fs::exists(out, ec) && !fs::is_empty(out, ec)
                                : HoldsFileIn(pid, m_dir, in);
            };
            for (int wait = 0; wait < 5000 && !writing(); ++wait) {
                ::usleep(1000);
            }
            ::usleep(static_cast<useconds_t>(moment) * 1000);
            ::kill(pid, SIGKILL);
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            killedWhileWriting += WIFSIGNALED(status) ? 1 : 0;

            std::set<std::string> allowed = before;
            allowed.insert(pictures ? "pictures" : output);
            for (const std::string& name : Names(m_dir)) {
                EXPECT_TRUE(allowed.count(name) != 0) << "left behind: " << name;
            }
            const fs::path whole = m_dir / ("whole" + fs::path(output).extension().string());
            if (earlier && WIFSIGNALED(status) && ReadWhole(out) != "an earlier conversion") {
                // Killed just after the new output took the name: it must be whole.
                RunTool("convert " + in.string() + " " + whole.string(), m_dir / "run");
                EXPECT_EQ(ReadWhole(out), ReadWhole(whole));
            }
            if (pictures && fs::exists(out)) {
                for (const std::string& name : Names(out)) {
                    EXPECT_TRUE(name.starts_with("frame_") && name.ends_with(".bmp"))
                        << "left behind: pictures/" << name;
                    EXPECT_EQ(fs::file_size(out / name), 297654u) << name;
                }
            }
            fs::remove_all(out);
            fs::remove(whole);
        }
    }
    // Most runs must really have been cut short, or the test shows nothing.
    EXPECT_GE(killedWhileWriting, 10);
}

}  // namespace
