// The frame block layout and the binary record around it, checked against the word positions
// of the module's block written out by hand, and the manual-scale readout conversions against
// known temperatures.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frame/binary_record.h"
#include "frame/conversion.h"
#include "frame/frame_block.h"

namespace {

uint16_t WordAt(const std::vector<uint8_t>& block, int word) {
    return static_cast<uint16_t>(block[2 * word] | (block[2 * word + 1] << 8));
}

FrameData RandomFrame(uint32_t seed) {
    std::mt19937 random(seed);
    FrameData frame{};
    for (uint16_t& v : frame.values) {
        v = static_cast<uint16_t>(random());
    }
    for (uint16_t& v : frame.offsets) {
        v = static_cast<uint16_t>(random());
    }
    for (uint16_t& v : frame.header) {
        v = static_cast<uint16_t>(random());
    }
    return frame;
}

TEST(FrameBlock, EncodeWritesTheModuleLayoutAndDecodeReadsItBack) {
    const FrameData frame = RandomFrame(5);
    std::vector<uint8_t> block(kFrameBlockSize, 0xEE);
    EncodeFrameBlock(frame, block.data());

    // Pixels on words 0 to 991; the offset row interleaved on words 992 to 1023 (even words
    // columns 0 to 15, odd words 16 to 31); header words 0 to 3 on 1024 to 1027 and 4 to 11 on
    // every second word from 1040; every other word zero.
    std::vector<bool> used(kFrameBlockSize / 2, false);
    const auto expect = [&](int word, uint16_t value) {
        EXPECT_EQ(WordAt(block, word), value) << "word " << word;
        used[word] = true;
    };
    for (int i = 0; i < 992; ++i) {
        expect(i, frame.values[i]);
    }
    for (int c = 0; c < 16; ++c) {
        expect(992 + 2 * c, frame.offsets[c]);
        expect(993 + 2 * c, frame.offsets[16 + c]);
    }
    for (int h = 0; h < 4; ++h) {
        expect(1024 + h, frame.header[h]);
    }
    for (int h = 4; h < 12; ++h) {
        expect(1040 + 2 * (h - 4), frame.header[h]);
    }
    for (int word = 0; word < kFrameBlockSize / 2; ++word) {
        if (!used[word]) {
            EXPECT_EQ(WordAt(block, word), 0) << "unused word " << word;
        }
    }

    FrameData decoded{};
    DecodeFrameBlock(block.data(), decoded);
    EXPECT_EQ(std::vector<uint16_t>(std::begin(decoded.values), std::end(decoded.values)),
              std::vector<uint16_t>(std::begin(frame.values), std::end(frame.values)));
    EXPECT_EQ(std::vector<uint16_t>(std::begin(decoded.offsets), std::end(decoded.offsets)),
              std::vector<uint16_t>(std::begin(frame.offsets), std::end(frame.offsets)));
    EXPECT_EQ(std::vector<uint16_t>(std::begin(decoded.header), std::end(decoded.header)),
              std::vector<uint16_t>(std::begin(frame.header), std::end(frame.header)));

    // The marker lies on header words 0 and 1 and leaves the ambient code alone.
    PutFrameMarker(block.data());
    EXPECT_EQ(WordAt(block, 1024), 0x789A);
    EXPECT_EQ(WordAt(block, 1025), 0xBCDE);
    DecodeFrameBlock(block.data(), decoded);
    EXPECT_EQ(AmbientCodeFromHeader(decoded.header), AmbientCodeFromHeader(frame.header));
}

TEST(BinaryRecord, RecordsCarryTheModeAndTheBlockAndACutRecordIsLeftOut) {
    std::vector<uint8_t> blocks[2] = {std::vector<uint8_t>(kFrameBlockSize),
                                      std::vector<uint8_t>(kFrameBlockSize)};
    EncodeFrameBlock(RandomFrame(1), blocks[0].data());
    EncodeFrameBlock(RandomFrame(2), blocks[1].data());
    std::vector<uint8_t> file;
    for (const auto& [letter, block] : {std::pair{'t', &blocks[0]}, std::pair{'K', &blocks[1]}}) {
        const BinaryRecord record = EncodeBinaryRecord(letter, block->data());
        file.insert(file.end(), record.begin(), record.end());
    }
    ASSERT_EQ(file.size(), 2u * 2128u);
    const std::vector<uint8_t> firstHeader(file.begin(), file.begin() + 16);
    EXPECT_EQ(firstHeader,
              (std::vector<uint8_t>{'M', 'o', 'd', 'e', '=', 'V', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(file[2128 + 5], 'T');

    file.resize(file.size() + 100);  // a third record cut off while being written
    std::size_t trailing = 0;
    const std::vector<BinaryRecordView> records =
        SplitBinaryRecords(file.data(), file.size(), &trailing);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(trailing, 100u);
    EXPECT_EQ(records[0].modeLetter, 't');
    EXPECT_EQ(records[1].modeLetter, 'K');
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(std::equal(blocks[i].begin(), blocks[i].end(), records[i].block)) << i;
    }
}

TEST(ManualScale, ReadoutsAndKelvinConvertBothWaysInEveryUnit) {
    struct Case {
        int unit;
        float kelvin;
        float readout;
    };
    // Fahrenheit and Kelvin against the physical fixed points; Celsius readouts count from
    // 273.2 K; any unit number other than 1 and 2 is Fahrenheit.
    const Case cases[] = {
        {kUnitKelvin, 300.0f, 300.0f},
        {kUnitCelsius, 300.0f, 26.8f},
        {kUnitCelsius, 273.2f, 0.0f},
        {kUnitFahrenheit, 273.15f, 32.0f},
        {kUnitFahrenheit, 373.15f, 212.0f},
        {kUnitFahrenheit, 300.0f, 80.33f},
        {7, 373.15f, 212.0f},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(ReadoutOfKelvin(c.kelvin, c.unit), c.readout, 1e-3)
            << c.unit << " " << c.kelvin;
        EXPECT_NEAR(KelvinOfReadout(c.readout, c.unit), c.kelvin, 1e-3)
            << c.unit << " " << c.readout;
    }
    EXPECT_NEAR(CountsOfVoltReadout(1.221f), 1000.0f, 1e-2);
    EXPECT_EQ(CountsOfVoltReadout(0.0f), 0.0f);
}

// The manual scale's edit boxes: whatever is typed, a bound is a finite float. Text that is no
// number, and numbers that are not finite or do not fit a float, read as 0.
TEST(ManualScale, ReadoutTextGivesAFiniteNumber) {
    const struct {
        const char* text;
        float number;
    } cases[] = {
        {"310.5", 310.5f}, {"  +25.0 ", 25.0f}, {"-40.0C", -40.0f},  {"1e3", 1000.0f},
        {"", 0.0f},        {"abc", 0.0f},       {"+-1", 0.0f},       {"nan", 0.0f},
        {"-nan", 0.0f},    {"inf", 0.0f},       {"-INFINITY", 0.0f}, {"1e39", 0.0f},
        {"-1e39", 0.0f},   {"3.4e38", 3.4e38f},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadoutNumber(c.text), c.number) << '"' << c.text << '"';
    }
}

}  // namespace
