// Play-back rules without a window: timer periods, file kinds, text headers, raw byte order.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "frame/conversion.h"
#include "recording/playback_rules.h"

namespace {

TEST(PlaybackRules, SpeedValueBecomesATimerPeriod) {
    // Periods worked out by hand: 1000 / (speed / 10), truncated, kept within 30..1000 ms.
    const struct {
        int speed;
        int period;
    } cases[] = {
        {0, 53},   {-5, 53},  {INT_MIN, 53}, {186, 53}, {10, 1000}, {1, 1000}, {3, 1000},
        {30, 333}, {70, 142}, {200, 50},     {333, 30}, {334, 30},  {500, 30}, {INT_MAX, 30},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlayPeriodMs(c.speed), c.period) << "speed " << c.speed;
    }
}

TEST(PlaybackRules, FileKindIsTheLastThreeCharactersWithoutRegardToCase) {
    const struct {
        const char* path;
        int kind;
    } cases[] = {
        {"rec.bds", kPlayBinaryStream},
        {"rec.BDS", kPlayBinaryStream},
        {"/data/Rec.Txt", kPlayTextStream},
        {"frames.bin", kPlayRawFrames},
        {"movie.AVI", kPlayVideo},
        {"rec.dat", kPlayUnknownFile},
        {"out.tif", kPlayUnknownFile},  // outputs of the tool only
        {"out.NPY", kPlayUnknownFile},
        {"rec.bdsx", kPlayUnknownFile},
        {"recbds", kPlayBinaryStream},  // only the characters count, not the dot
        {"bds", kPlayBinaryStream},
        {"ds", kPlayUnknownFile},
        {"", kPlayUnknownFile},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlayFileKindOf(c.path), c.kind) << c.path;
    }
}

TEST(PlaybackRules, TextHeaderGivesModeUnitAndOffsetFlag) {
    const struct {
        std::string header;
        char mode;
        int unit;
        int offsets;
    } cases[] = {
        {"Mode=V ElOff=T\r", 'V', 0, 1},
        {"Mode=K ElOff=F\r", 'K', kUnitKelvin, 0},
        {"Mode=C ElOff=t\r", 'C', kUnitCelsius, 1},
        {"Mode=F ElOff=F\r", 'F', kUnitFahrenheit, 0},
        // Only upper-case letters switch; anything else is kelvin without a unit change.
        {"Mode=v ElOff=T\r", 'K', 0, 1},
        {"Mode=X ElOff=F\r", 'K', 0, 0},
        {"Mode=V\r", 'V', 0, 0},
        {"Mode=", 'K', 0, 0},
        {"", 'K', 0, 0},
    };
    for (const auto& c : cases) {
        const TextPlayMode mode = TextPlayModeOf(c.header);
        EXPECT_EQ(mode.modeChar, c.mode) << c.header;
        EXPECT_EQ(mode.unit, c.unit) << c.header;
        EXPECT_EQ(mode.offsetsSubtracted, c.offsets) << c.header;
    }
}

TEST(PlaybackRules, TextRecordSplitsAfterTheFirstCr) {
    const TextRecordParts parts = SplitTextRecord("Mode=K ElOff=F\r1\t2\t\r3\t\r");
    EXPECT_EQ(parts.header, "Mode=K ElOff=F\r");
    EXPECT_EQ(parts.frameText, "1\t2\t\r3\t\r");
    const TextRecordParts noCr = SplitTextRecord("Mode=K ElOff=F1\t2\t");
    EXPECT_EQ(noCr.header, "Mode=K ElOff=F1\t2\t");
    EXPECT_TRUE(noCr.frameText.empty());
}

TEST(PlaybackRules, RawFrameValuesAreBigEndian) {
    uint8_t bytes[kRawFrameSize] = {};
    bytes[0] = 0x01;
    bytes[1] = 0x02;
    bytes[kRawFrameSize - 2] = 0xFE;
    bytes[kRawFrameSize - 1] = 0x03;
    uint16_t values[kPixelCount];
    RawFrameToHost(bytes, values);
    EXPECT_EQ(values[0], 0x0102);
    EXPECT_EQ(values[1], 0);
    EXPECT_EQ(values[kPixelCount - 1], 0xFE03);
}

}  // namespace
