#include "export/selected_pixels.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* name;
    const char* text;
    PixelRange requested;
    PixelRange lastValidBefore;
    const char* expected;
    PixelRange lastValidAfter;
};

const Case kCases[] = {
    {"MiddleFields", "a\tb\tc\td\te\t", {2, 3}, {1, 1056}, "b\tc\td\t", {2, 3}},
    {"FirstFieldOnly", "a\tb\tc\t", {1, 1}, {1, 1056}, "a\t", {1, 1}},
    {"FullRangeIsWholeText", "a\tb\r\nc\t", {1, 1056}, {5, 5}, "a\tb\r\nc\t", {1, 1056}},
    {"StartZeroUsesLastValid", "a\tb\tc\td\t", {0, 2}, {3, 2}, "c\td\t", {3, 2}},
    {"BeyondEndUsesLastValid", "a\tb\tc\td\t", {1000, 100}, {2, 1}, "b\t", {2, 1}},
    {"NoValidRangeKeepsWholeText", "a\tb\t", {0, 0}, {0, 0}, "a\tb\t", {1, 1056}},
    {"TooFewTabsKeepsWholeText", "a\tb\tc\t", {2, 5}, {1, 1056}, "a\tb\tc\t", {2, 5}},
    {"RangeAcrossLineBreak", "a\tb\t\r\nc\td\t\r\n", {2, 2}, {1, 1056}, "b\t\r\nc\t", {2, 2}},
    {"LastFieldOfFrame", "x\ty\tz\t", {3, 1}, {1, 1056}, "z\t", {3, 1}},
};

class SelectPixelsTest : public testing::TestWithParam<Case> {};

TEST_P(SelectPixelsTest, CutsTheChosenFields) {
    const Case& c = GetParam();
    PixelRange lastValid = c.lastValidBefore;
    EXPECT_EQ(SelectPixels(c.text, c.requested, lastValid), c.expected);
    EXPECT_EQ(lastValid.start, c.lastValidAfter.start);
    EXPECT_EQ(lastValid.count, c.lastValidAfter.count);
}

INSTANTIATE_TEST_SUITE_P(Ranges, SelectPixelsTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
