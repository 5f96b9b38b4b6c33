#include "export/snapshot_names.h"

#include <cstdio>

namespace {

std::string TimestampedName(const char* prefix, const std::tm& local, const char* extension) {
    char name[96];
    std::snprintf(name, sizeof name, "%s%04d%02d%02d-%02d%02d%02d%s", prefix, local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  extension);
    return name;
}

}  // namespace

std::string SnapshotPictureName(const std::tm& local) {
    return TimestampedName("VELK_BMP_", local, ".bmp");
}

std::string SnapshotWorkbookName(const std::tm& local) {
    return TimestampedName("VELK_VT_", local, ".xls");
}

std::string CalibrationWorkbookName(const std::tm& local) {
    return TimestampedName("VELK_w_", local, ".xls");
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}
