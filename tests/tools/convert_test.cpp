// Runs the built `thermal convert` on recordings made here and compares its files with text and
// pixels written out by hand from the file formats.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frame/frame_block.h"

namespace fs = std::filesystem;

namespace {

const fs::path kThermal = fs::path(THERMAL_BIN_DIR) / "thermal";

struct Result {
    int status;
    std::string errors;
};

Result RunConvert(const std::string& arguments, const fs::path& dir) {
    const fs::path errors = dir / "stderr.txt";
    const std::string command =
        kThermal.string() + " convert " + arguments + " 2> " + errors.string() + " > /dev/null";
    const int raw = std::system(command.c_str());
    std::ifstream in(errors);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1,
            std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

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
    void SetUp() override {
        m_dir =
            fs::temp_directory_path() /
            ("convert_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path WriteRecording(const std::vector<uint8_t>& bytes) {
        const fs::path path = m_dir / "in.bds";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
        return path;
    }

    fs::path m_dir;
};

TEST_F(ConvertTest, WritesTheTextRecordingOfEveryFrame) {
    std::vector<uint8_t> file;
    AppendRecord(file, 'T', 2981, 0, 819);  // 298.1 K, header words 1.0000 V
    AppendRecord(file, 'V', 1000, 100, 0);  // voltage: 1000 - 100 counts = 1.0989 V
    file.insert(file.end(), 100, 0);        // a short last record is ignored
    const fs::path input = WriteRecording(file);

    const Result celsius = RunConvert(input.string() + " " + (m_dir / "out.txt").string(), m_dir);
    ASSERT_EQ(celsius.status, 0) << celsius.errors;
    const std::vector<uint8_t> text = ReadFile(m_dir / "out.txt");
    const std::string expected = ExpectedRecord("Mode=C ElOff=F", "+25.0", "+0.0000", "+1.0000") +
                                 ExpectedRecord("Mode=V ElOff=T", "+1.0989", "+0.1221", "+0.0000");
    EXPECT_EQ(std::string(text.begin(), text.end()), expected);

    const Result kelvin = RunConvert(
        input.string() + " " + (m_dir / "k.txt").string() + " --unit K --no-el-offsets --stack 2",
        m_dir);
    ASSERT_EQ(kelvin.status, 0) << kelvin.errors;
    const std::vector<uint8_t> k = ReadFile(m_dir / "k.txt");
    // The stack of 2 is not full before the third frame, so each frame shows as it came.
    EXPECT_EQ(std::string(k.begin(), k.end()),
              ExpectedRecord("Mode=K ElOff=F", "+298.1", "+0.0000", "+1.0000") +
                  ExpectedRecord("Mode=V ElOff=F", "+1.2210", "+0.1221", "+0.0000"));
}

TEST_F(ConvertTest, WritesEveryDisplayImageAsABitmap) {
    std::vector<uint8_t> file;
    AppendRecord(file, 'T', 2981, 0, 0);
    AppendRecord(file, 'T', 3000, 0, 0);
    const fs::path input = WriteRecording(file);
    const fs::path frames = m_dir / "frames" / "deeper";
    const Result result =
        RunConvert(input.string() + " --frames " + frames.string() + " --palette 3", m_dir);
    ASSERT_EQ(result.status, 0) << result.errors;
    ASSERT_TRUE(fs::exists(frames / "frame_000001.bmp"));
    ASSERT_TRUE(fs::exists(frames / "frame_000002.bmp"));
    EXPECT_FALSE(fs::exists(frames / "frame_000003.bmp"));
    const std::vector<uint8_t> bmp = ReadFile(frames / "frame_000002.bmp");
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

TEST_F(ConvertTest, BadInputGivesOneLineAndStatusTwo) {
    std::vector<uint8_t> good;
    AppendRecord(good, 'T', 2981, 0, 0);
    const fs::path input = WriteRecording(good);
    const fs::path out = m_dir / "out.txt";
    std::vector<uint8_t> notRecording(3000, 'x');
    const fs::path junk = m_dir / "junk.bds";
    std::ofstream(junk, std::ios::binary)
        .write(reinterpret_cast<const char*>(notRecording.data()), 3000);
    const std::string cases[] = {
        (m_dir / "missing.bds").string() + " " + out.string(),
        junk.string() + " " + out.string(),
        input.string() + " " + out.string() + " --palette 9",
        input.string() + " " + out.string() + " --unit X",
        input.string() + " " + out.string() + " --mirror sideways",
        input.string() + " " + out.string() + " --stack 0",
        input.string() + " " + out.string() + " --manual 300",
        input.string() + " " + out.string() + " --bogus",
        input.string(),
        "",
    };
    for (const std::string& arguments : cases) {
        const Result result = RunConvert(arguments, m_dir);
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1)
            << arguments << ": " << result.errors;
        EXPECT_FALSE(fs::exists(out)) << arguments;
    }
    // A failure while writing leaves nothing half-written behind.
    const Result unwritable =
        RunConvert(input.string() + " " + (m_dir / "no" / "out.txt").string(), m_dir);
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 3);
}

TEST_F(ConvertTest, HelpIsPrinted) {
    const std::string command =
        kThermal.string() + " convert --help > " + (m_dir / "help.txt").string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<uint8_t> help = ReadFile(m_dir / "help.txt");
    EXPECT_NE(std::string(help.begin(), help.end()).find("--frames DIR"), std::string::npos);
}

}  // namespace
