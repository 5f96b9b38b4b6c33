#include "export/bitmap_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/scratch_directory.h"

namespace {

uint32_t Read32(const std::vector<uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint16_t Read16(const std::vector<uint8_t>& b, std::size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST(BitmapFile, ColourSnapshotLayout) {
    std::vector<uint8_t> image(320 * 310 * 3, 0);
    image[0] = 255;                        // top-left pixel red
    image[(309 * 320 + 1) * 3 + 1] = 200;  // bottom row, second pixel green
    const std::vector<uint8_t> bytes = EncodeBitmapFile(image.data(), 320, 310, true, 0, 0);
    ASSERT_EQ(bytes.size(), 297654u);
    EXPECT_EQ(Read16(bytes, 0), 0x4D42);
    EXPECT_EQ(Read32(bytes, 2), 297654u);
    EXPECT_EQ(Read32(bytes, 10), 54u);
    EXPECT_EQ(Read32(bytes, 14), 40u);
    EXPECT_EQ(Read32(bytes, 18), 320u);
    EXPECT_EQ(Read32(bytes, 22), 310u);
    EXPECT_EQ(Read16(bytes, 26), 1);
    EXPECT_EQ(Read16(bytes, 28), 24);
    EXPECT_EQ(Read32(bytes, 34), 297600u);
    EXPECT_EQ(Read32(bytes, 46), 0u);
    // First stored row is the bottom row; pixels are blue, green, red.
    EXPECT_EQ(bytes[54 + 3 + 1], 200);
    const std::size_t topRow = 54 + 309 * 960;
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + topRow, bytes.begin() + topRow + 3),
              (std::vector<uint8_t>{0, 0, 255}));
}

TEST(BitmapFile, GreyImageHasPaletteAndPaddedRows) {
    std::vector<uint8_t> image(10 * 2);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i + 1);
    }
    const std::vector<uint8_t> bytes = EncodeBitmapFile(image.data(), 10, 2, false, 3780, 3780);
    EXPECT_EQ(Read32(bytes, 10), 1078u);
    EXPECT_EQ(Read16(bytes, 28), 8);
    EXPECT_EQ(Read32(bytes, 34), 24u);  // rows padded from 10 to 12 bytes
    EXPECT_EQ(Read32(bytes, 38), 3780u);
    EXPECT_EQ(Read32(bytes, 46), 256u);
    EXPECT_EQ(Read32(bytes, 54 + 4 * 200), 0x00C8C8C8u);  // grey entry 200
    ASSERT_EQ(bytes.size(), 1078u + 24u);
    EXPECT_EQ(bytes[1078], 11);  // bottom row first
    EXPECT_EQ(bytes[1078 + 10], 0);
    EXPECT_EQ(bytes[1078 + 12], 1);
}

TEST(BitmapFile, ReusedBufferKeepsNothingOfTheLastPicture) {
    // Larger than any picture below and full of bytes none of them has: padding, reserved
    // header fields and palette gaps must all be written, and the size cut to the new picture.
    std::vector<uint8_t> buffer(2000, 0xAA);
    const std::vector<uint8_t> grey(10 * 2, 77);
    const std::vector<uint8_t> colour(5 * 3 * 3, 200);
    EncodeBitmapFileInto(grey.data(), 10, 2, false, 0, 0, buffer);
    EXPECT_EQ(buffer, EncodeBitmapFile(grey.data(), 10, 2, false, 0, 0));
    EncodeBitmapFileInto(colour.data(), 5, 3, true, 0, 0, buffer);
    EXPECT_EQ(buffer, EncodeBitmapFile(colour.data(), 5, 3, true, 0, 0));
    EXPECT_EQ(buffer[54 + 15], 0);  // the first row's padding, from 15 to 16 bytes
    EncodeBitmapFileInto(nullptr, 5, 3, true, 0, 0, buffer);
    EXPECT_TRUE(buffer.empty());
}

TEST(BitmapFile, SaveReportsFailuresAndLeavesNoPartialFile) {
    const ScratchDirectory scratch("bitmap_file");
    const std::filesystem::path& dir = scratch.path();
    std::vector<uint8_t> image(4 * 3 * 3, 9);
    EXPECT_EQ(SaveBitmapFile(nullptr, 4, 3, 3, (dir / "a.bmp").string(), 0, 0), kBitmapNullBuffer);
    EXPECT_EQ(SaveBitmapFile(image.data(), 4, 3, 2, (dir / "a.bmp").string(), 0, 0),
              kBitmapBadChannels);
    std::string error;
    const std::string unwritable = (dir / "missing" / "a.bmp").string();
    EXPECT_EQ(SaveBitmapFile(image.data(), 4, 3, 3, unwritable, 0, 0, &error), kBitmapWriteFailed);
    EXPECT_EQ(error, "cannot write '" + unwritable + "': No such file or directory");
    // An older picture of the same name is replaced whole.
    std::ofstream(dir / "a.bmp") << "an older picture that is longer than the new one will be";
    ASSERT_EQ(SaveBitmapFile(image.data(), 4, 3, 3, (dir / "a.bmp").string(), 0, 0), kBitmapSaved);
    std::ifstream in(dir / "a.bmp", std::ios::binary);
    const std::vector<uint8_t> onDisk((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
    EXPECT_EQ(onDisk, EncodeBitmapFile(image.data(), 4, 3, true, 0, 0));
    in.close();
    // The pieces the writer takes, written for a grey picture, give the same bytes as the
    // encoder's whole file.
    const std::vector<uint8_t> grey(10 * 2, 77);
    ASSERT_TRUE(WriteBitmapFile((dir / "a.bmp").string(), EncodeBitmapInfo(10, 2, false, 0, 0),
                                EncodeBitmapRows(grey.data(), 10, 2, false), &error));
    in.open(dir / "a.bmp", std::ios::binary);
    const std::vector<uint8_t> greyOnDisk((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    EXPECT_EQ(greyOnDisk, EncodeBitmapFile(grey.data(), 10, 2, false, 0, 0));
    EXPECT_EQ(greyOnDisk.size(), 1078u + 24u);
    // Only the finished file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace
