#pragma once
// The picture-and-data snapshot: the display image as a BMP file and the frame's data text as a
// workbook, side by side in one directory and named after one local time. The picture is written
// first and does not depend on the workbook. Called on the GUI thread, where both files together
// take a few milliseconds (bench/bench_snapshot.cpp); safe on any thread.
#include <cstdint>
#include <ctime>
#include <string>

struct SnapshotFiles {
    std::string pictureName;    // "VELK_BMP_....bmp"
    std::string workbookName;   // "VELK_VT_....xls"
    std::string pictureError;   // why the picture was not written; empty when it was
    std::string workbookError;  // why the workbook was not written; empty when it was
};

// Writes the display image of width x height pixels (3 bytes red, green, blue each, top row
// first) and the data text into dir (ending in '/'), named after `local`. Files of the same names
// are replaced only by complete new ones.
SnapshotFiles WriteSnapshotFiles(const std::string& dir, const std::tm& local, const uint8_t* image,
                                 int width, int height, const std::string& dataText);
