#include "processing/palette.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

struct CheckRow {
    int palette;
    std::array<uint32_t, 5> entries;  // entries 5, 64, 128, 192, 250
};

// The reference colours published with the palettes, as (red, green, blue).
constexpr CheckRow kCheckValues[] = {
    {1,
     {PaletteEntry(0, 0, 24), PaletteEntry(12, 0, 243), PaletteEntry(255, 12, 0),
      PaletteEntry(255, 255, 12), PaletteEntry(255, 255, 243)}},
    {2,
     {PaletteEntry(0, 0, 48), PaletteEntry(139, 0, 255), PaletteEntry(255, 0, 108),
      PaletteEntry(255, 155, 0), PaletteEntry(255, 255, 255)}},
    {3,
     {PaletteEntry(6, 6, 6), PaletteEntry(65, 65, 65), PaletteEntry(128, 128, 128),
      PaletteEntry(192, 192, 192), PaletteEntry(250, 250, 250)}},
    {4,
     {PaletteEntry(12, 0, 243), PaletteEntry(129, 0, 126), PaletteEntry(255, 6, 0),
      PaletteEntry(255, 133, 0), PaletteEntry(255, 249, 0)}},
    {5,
     {PaletteEntry(24, 255, 0), PaletteEntry(255, 243, 0), PaletteEntry(255, 0, 12),
      PaletteEntry(255, 12, 255), PaletteEntry(255, 243, 255)}},
    {6,
     {PaletteEntry(231, 0, 255), PaletteEntry(0, 12, 243), PaletteEntry(12, 255, 0),
      PaletteEntry(255, 243, 0), PaletteEntry(255, 12, 0)}},
    {7,
     {PaletteEntry(225, 0, 255), PaletteEntry(0, 80, 255), PaletteEntry(0, 255, 110),
      PaletteEntry(210, 255, 0), PaletteEntry(255, 10, 0)}},
    {8,
     {PaletteEntry(0, 0, 43), PaletteEntry(0, 220, 255), PaletteEntry(163, 255, 0),
      PaletteEntry(255, 0, 106), PaletteEntry(255, 255, 255)}},
};

TEST(Palette, MatchesReferenceColoursOfEveryPalette) {
    constexpr int kEntries[] = {5, 64, 128, 192, 250};
    for (const CheckRow& row : kCheckValues) {
        uint32_t table[kPaletteSize] = {};
        ASSERT_TRUE(BuildPalette(row.palette, table));
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(table[kEntries[i]], row.entries[i])
                << "palette " << row.palette << " entry " << kEntries[i];
        }
    }
}

TEST(Palette, SegmentsJoinOnTheirSharedEntry) {
    // Palette 1: entry 62 is rewritten by the blue-to-red segment with its first colour, one step
    // of red in and one step of blue out; entry 254 ends the last ramp one step short of white.
    uint32_t table[kPaletteSize] = {};
    ASSERT_TRUE(BuildPalette(1, table));
    EXPECT_EQ(table[0], PaletteEntry(0, 0, 4));
    EXPECT_EQ(table[61], PaletteEntry(0, 0, 247));
    EXPECT_EQ(table[62], PaletteEntry(4, 0, 251));
    EXPECT_EQ(table[254], PaletteEntry(255, 255, 255));
    // Palette 3 is a grey ramp: entry i is i + 1 rounded, 255 at the top.
    ASSERT_TRUE(BuildPalette(3, table));
    EXPECT_EQ(table[0], PaletteEntry(1, 1, 1));
    EXPECT_EQ(table[254], PaletteEntry(254, 254, 254));
}

TEST(Palette, UnwrittenEntriesKeepThePreviousPalette) {
    uint32_t table[kPaletteSize];
    for (uint32_t& entry : table) {
        entry = 0xABCDEFu;
    }
    ASSERT_TRUE(BuildPalette(7, table));
    EXPECT_EQ(table[254], 0xABCDEFu);
    EXPECT_EQ(table[255], 0xABCDEFu);
    EXPECT_NE(table[253], 0xABCDEFu);
    ASSERT_TRUE(BuildPalette(4, table));
    EXPECT_EQ(table[255], 0xABCDEFu);
    EXPECT_NE(table[254], 0xABCDEFu);
}

TEST(Palette, UnknownNumbersLeaveTheTableUnchanged) {
    uint32_t table[kPaletteSize];
    ASSERT_TRUE(BuildPalette(2, table));
    uint32_t before[kPaletteSize];
    std::copy(std::begin(table), std::end(table), before);
    for (int number : {0, 9, -1, 100}) {
        EXPECT_FALSE(BuildPalette(number, table));
        EXPECT_TRUE(std::equal(std::begin(table), std::end(table), before)) << number;
    }
}

}  // namespace
