#pragma once
// The names of the files a snapshot or a calibration export writes, made from the local time of
// the request: "VELK_BMP_20210307-090502.bmp", "VELK_VT_...xls", "VELK_w_...xls". Two requests
// within one second get the same names, and the second replaces the first's files. Any thread.
#include <ctime>
#include <string>

std::string SnapshotPictureName(const std::tm& local);
std::string SnapshotWorkbookName(const std::tm& local);
std::string CalibrationWorkbookName(const std::tm& local);

// The current local time, read once.
std::tm LocalTimeNow();
