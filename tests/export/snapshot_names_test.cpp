#include "export/snapshot_names.h"

#include <gtest/gtest.h>

namespace {

std::tm Time(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(SnapshotNames, LocalTimeFillsEveryNameWithLeadingZeros) {
    struct Case {
        std::tm time;
        const char *picture, *workbook, *calibration;
    };
    const Case cases[] = {
        {Time(2021, 3, 7, 9, 5, 2), "VELK_BMP_20210307-090502.bmp", "VELK_VT_20210307-090502.xls",
         "VELK_w_20210307-090502.xls"},
        {Time(1999, 12, 31, 23, 59, 59), "VELK_BMP_19991231-235959.bmp",
         "VELK_VT_19991231-235959.xls", "VELK_w_19991231-235959.xls"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SnapshotPictureName(c.time), c.picture);
        EXPECT_EQ(SnapshotWorkbookName(c.time), c.workbook);
        EXPECT_EQ(CalibrationWorkbookName(c.time), c.calibration);
    }
}

}  // namespace
