// CStreamPlayer and its line reader against recordings written with the core's encoders, and
// against a plain reference of how a text-mode stream reads CR and LF.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frame/binary_record_reader.h"
#include "frame/text_frame.h"
#include "recording/playback_rules.h"
#include "recording/recording_files.h"
#include "recording/stream_player.h"
#include "recording/text_mode_reader.h"

namespace fs = std::filesystem;

namespace {

// A text-mode stream's lines, worked out the plain way: every CR LF becomes LF, then the text
// is split at each LF; a last piece without LF is a line if it is not empty.
std::vector<std::string> ReferenceLines(const std::string& disk) {
    const std::string text = Replaced(disk, "\r\n", "\n");
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

std::vector<std::string> ReadAllLines(const fs::path& path, std::size_t bufferSize) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    CTextModeReader reader(bufferSize);
    reader.Attach(fd);
    std::vector<std::string> lines;
    std::string line;
    while (reader.ReadLine(line) != 0) {
        lines.push_back(line);
        line.clear();
    }
    ::close(fd);
    return lines;
}

TEST(TextModeReader, ReadsLinesAsATextModeStreamDoesWhateverTheBufferSize) {
    ScratchDirectory dir("text_mode_reader");
    const fs::path path = dir.path() / "lines.txt";
    std::vector<std::string> inputs = {
        "",    "a\r\r\nb\r\r\n", "a\r\nb\r\n", "a\rb\n",  "a\n", "a", "\r\n",
        "a\r", "\r\r\r\n",       "\n\n",       "a\r\n\r", "\r",
    };
    // And random mixtures of the three bytes that matter, for CR and LF split across buffers.
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        std::string text(random() % 40, ' ');
        for (char& c : text) {
            c = "a\r\n"[random() % 3];
        }
        inputs.push_back(text);
    }
    for (const std::string& input : inputs) {
        WriteFileBytes(path, input);
        const std::vector<std::string> expected = ReferenceLines(input);
        for (const std::size_t bufferSize : {1u, 2u, 3u, 5u, 4096u}) {
            EXPECT_EQ(ReadAllLines(path, bufferSize), expected)
                << "buffer " << bufferSize << ", input of " << input.size() << " bytes";
        }
    }
}

TEST(TextModeReader, OverlongLinesAreCutSoMemoryStaysBounded) {
    ScratchDirectory dir("text_mode_reader_long");
    const fs::path path = dir.path() / "long.txt";
    WriteFileBytes(path, std::string(3 * kMaxTextLineBytes, 'x') + "\r\nnext\r\r\n");
    EXPECT_EQ(ReadAllLines(path, 1000),
              (std::vector<std::string>{std::string(kMaxTextLineBytes, 'x'), "next\r"}));
}

class StreamPlayerTest : public ::testing::Test {
  protected:
    ScratchDirectory m_dir{"stream_player"};

    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = m_dir.path() / name;
        WriteFileBytes(path, bytes);
        return path.string();
    }
};

TEST_F(StreamPlayerTest, TypeStartsAt99AndStaysAfterClosingAndReadsMatchTheType) {
    CStreamPlayer player;
    EXPECT_EQ(player.GetType(), CStreamPlayer::kNoType);
    EXPECT_EQ(player.IsOpen(), 0);
    const std::string path =
        Write("rec.bds", BinaryStreamRecord('K', SpreadFrame(3000, 2900, 3100)));
    EXPECT_EQ(player.OpenForPlay(kPlayBinaryStream, path), 2);
    EXPECT_EQ(player.IsOpen(), 1);
    EXPECT_EQ(player.GetType(), kPlayBinaryStream);
    player.ClosePlay();
    EXPECT_EQ(player.IsOpen(), 0);
    EXPECT_EQ(player.GetType(), kPlayBinaryStream);
    uint8_t record[kBinaryRecordSize];
    EXPECT_EQ(player.ReadRecord(sizeof record, record), 0);
    // Reads of the other kind, or with no room, give nothing.
    std::string text;
    ASSERT_EQ(player.OpenForPlay(kPlayRawFrames, path), 1);
    EXPECT_EQ(player.ReadTextFrame(text), 0);
    EXPECT_EQ(player.ReadRecord(-1, record), 0);
    EXPECT_EQ(player.ReadRecord(16, nullptr), 0);
    ASSERT_EQ(player.OpenForPlay(kPlayTextStream, path), 0);
    EXPECT_EQ(player.ReadRecord(16, record), 0);
    EXPECT_TRUE(text.empty());
    // A failed open closes what was open and keeps the last type.
    ASSERT_EQ(player.OpenForPlay(kPlayBinaryStream, path), 2);
    EXPECT_EQ(player.OpenForPlay(kPlayTextStream, (m_dir.path() / "none.txt").string()), 0);
    EXPECT_EQ(player.IsOpen(), 0);
    EXPECT_EQ(player.GetType(), kPlayBinaryStream);
}

TEST_F(StreamPlayerTest, OpenReturnsTheModeOfTheFirstRecord) {
    const FrameData frame = SpreadFrame(3000, 2900, 3100);
    std::string modeX = BinaryStreamRecord('K', frame);
    modeX[5] = 'X';
    const struct {
        const char* name;
        int type;
        std::string bytes;
        int result;
        int open;
    } cases[] = {
        {"t.bds", kPlayBinaryStream, BinaryStreamRecord('K', frame), 2, 1},
        {"v.bds", kPlayBinaryStream, BinaryStreamRecord('t', frame), 1, 1},
        {"x.bds", kPlayBinaryStream, modeX, 0, 1},  // opens, but nothing is played
        {"short.bds", kPlayBinaryStream, "Mode=T", 0, 1},
        {"v.txt", kPlayTextStream, TextStreamRecord(frame, 'V', 'T'), 1, 1},
        {"k.txt", kPlayTextStream, TextStreamRecord(frame, 'K'), 2, 1},
        {"c.txt", kPlayTextStream, TextStreamRecord(frame, 'C'), 2, 1},
        {"f.txt", kPlayTextStream, TextStreamRecord(frame, 'F'), 2, 1},
        {"lower.txt", kPlayTextStream, "Mode=c ElOff=F\r\r\n", 2, 1},
        {"x.txt", kPlayTextStream, "Mode=X ElOff=F\r\r\n", 0, 1},
        {"empty.txt", kPlayTextStream, "", 0, 1},
        {"raw.bin", kPlayRawFrames, "", 1, 1},
        {"bad.type", 4, BinaryStreamRecord('K', frame), 0, 0},
    };
    for (const auto& c : cases) {
        CStreamPlayer player;
        EXPECT_EQ(player.OpenForPlay(c.type, Write(c.name, c.bytes)), c.result) << c.name;
        EXPECT_EQ(player.IsOpen(), c.open) << c.name;
        // ProbeMode of another type than the open one knows nothing.
        EXPECT_EQ(player.ProbeMode(c.type == kPlayTextStream ? kPlayBinaryStream : kPlayTextStream),
                  0)
            << c.name;
    }
    CStreamPlayer player;
    EXPECT_EQ(player.OpenForPlay(kPlayBinaryStream, (m_dir.path() / "missing.bds").string()), 0);
    EXPECT_EQ(player.IsOpen(), 0);
    fs::create_directory(m_dir.path() / "folder.bds");
    EXPECT_EQ(player.OpenForPlay(kPlayBinaryStream, (m_dir.path() / "folder.bds").string()), 0);
    EXPECT_EQ(player.IsOpen(), 0);
    // A FIFO under a recording's name is refused at once rather than waiting for a writer.
    const fs::path fifo = m_dir.path() / "fifo.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(player.OpenForPlay(kPlayTextStream, fifo.string()), 0);
    EXPECT_EQ(player.IsOpen(), 0);
}

TEST_F(StreamPlayerTest, BinaryRecordsPlayFromTheStartWithTheLetterOfTheirHeader) {
    std::string file;
    const char headers[] = {'T', 'V', 'X'};
    for (int i = 0; i < 3; ++i) {
        std::string record = BinaryStreamRecord('K', SpreadFrame(static_cast<uint16_t>(i), 0, 0));
        record[5] = headers[i];
        file += record;
    }
    CStreamPlayer player;
    ASSERT_EQ(player.OpenForPlay(kPlayBinaryStream, Write("rec.bds", file)), 2);
    ASSERT_EQ(player.ProbeMode(kPlayBinaryStream), 2);  // probing twice still starts at record 1
    const char letters[] = {'K', 't', 't'};
    uint8_t record[kBinaryRecordSize];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(player.ReadRecord(sizeof record, record), 1) << i;
        EXPECT_EQ(ModeLetterOfRecord(record), letters[i]) << i;
        FrameData frame{};
        DecodeFrameBlock(record + kBinaryRecordHeaderSize, frame);
        EXPECT_EQ(frame.values[5], i);
    }
    EXPECT_EQ(player.ReadRecord(sizeof record, record), 0);
}

TEST_F(StreamPlayerTest, RawFileOf3000BytesGivesOneFrameThenAShortRead) {
    const std::string frame = RawFrameBytes(SpreadFrame(0x0102, 0x0001, 0xFF00));
    CStreamPlayer player;
    ASSERT_EQ(player.OpenForPlay(kPlayRawFrames, Write("raw.bin", frame + frame.substr(0, 1016))),
              1);
    uint8_t bytes[kRawFrameSize];
    ASSERT_EQ(player.ReadRecord(kRawFrameSize, bytes), 1);
    uint16_t values[kPixelCount];
    RawFrameToHost(bytes, values);
    EXPECT_EQ(values[0], 0x0001);
    EXPECT_EQ(values[1], 0x0102);
    EXPECT_EQ(values[kPixelCount - 1], 0xFF00);
    EXPECT_EQ(player.ReadRecord(kRawFrameSize, bytes), 0);
    EXPECT_EQ(player.ReadRecord(kRawFrameSize, bytes), 0);
}

TEST_F(StreamPlayerTest, TextFramesKeepTheirCrAndParseAsTheyWereRendered) {
    const FrameData kelvin = SpreadFrame(2981, 2731, 3731);
    const FrameData volts = SpreadFrame(1000, 10, 4000);
    const std::string records[] = {TextStreamRecord(kelvin, 'K'), TextStreamRecord(kelvin, 'C'),
                                   TextStreamRecord(volts, 'V', 'T')};
    CStreamPlayer player;
    ASSERT_EQ(
        player.OpenForPlay(kPlayTextStream, Write("rec.txt", records[0] + records[1] + records[2])),
        2);
    for (const std::string& record : records) {
        std::string text;
        ASSERT_EQ(player.ReadTextFrame(text), 1);
        // CR CR LF on disk reads as CR: every line, the header too, still ends in CR.
        EXPECT_EQ(text, Replaced(record, "\r\r\n", "\r"));
        const TextRecordParts parts = SplitTextRecord(text);
        const TextPlayMode mode = TextPlayModeOf(parts.header);
        const auto played = ParseTextFrame(parts.frameText, mode.modeChar);
        // The frame as rendered, parsed straight from its CR LF lines.
        const auto rendered = ParseTextFrame(
            SplitTextRecord(Replaced(record, "\r\r\n", "\r\n")).frameText, mode.modeChar);
        ASSERT_TRUE(played.has_value());
        ASSERT_TRUE(rendered.has_value());
        EXPECT_EQ(std::memcmp(&*played, &*rendered, sizeof(FrameData)), 0);
    }
    std::string more;
    EXPECT_EQ(player.ReadTextFrame(more), 0);
}

TEST_F(StreamPlayerTest, TextStreamCutShortStopsAtTheLastCompleteFrame) {
    const std::string record = TextStreamRecord(SpreadFrame(2981, 2900, 3100), 'C');
    const std::size_t lineLength = record.find('\n') + 1;  // the header line
    const std::size_t cuts[] = {1, lineLength, lineLength + 100, record.size() / 2,
                                record.size() - 400};
    for (const std::size_t cut : cuts) {
        CStreamPlayer player;
        ASSERT_EQ(
            player.OpenForPlay(kPlayTextStream, Write("cut.txt", record + record.substr(0, cut))),
            2);
        std::string first;
        EXPECT_EQ(player.ReadTextFrame(first), 1) << cut;
        std::string second;
        EXPECT_EQ(player.ReadTextFrame(second), 0) << cut;
    }
}

TEST_F(StreamPlayerTest, LinesEndingInASingleCrLfLoseTheirCrAndGiveNoFrame) {
    const std::string record = TextStreamRecord(SpreadFrame(2981, 2900, 3100), 'K');
    CStreamPlayer player;
    ASSERT_EQ(player.OpenForPlay(kPlayTextStream,
                                 Write("edited.txt", Replaced(record, "\r\r\n", "\r\n"))),
              2);
    std::string text;
    ASSERT_EQ(player.ReadTextFrame(text), 1);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    const TextRecordParts parts = SplitTextRecord(text);
    EXPECT_FALSE(ParseTextFrame(parts.frameText, TextPlayModeOf(parts.header).modeChar));
}

}  // namespace
