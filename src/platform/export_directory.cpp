#include "platform/export_directory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') {
        dir.push_back('/');
    }
    return dir;
}

}  // namespace

bool IsWritableDirectory(const std::string& dir) {
    if (dir.empty()) {
        return false;
    }
    std::string probe = WithSlash(dir) + ".velk-write-check-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

ExportDirectory ChooseExportDirectory(const std::string& programDir,
                                      const std::string& fallbackDir) {
    if (IsWritableDirectory(programDir)) {
        return {WithSlash(programDir), {}};
    }
    if (fallbackDir.empty()) {
        return {{}, "cannot write to '" + programDir + "' and no pictures folder is known"};
    }
    std::error_code code;
    std::filesystem::create_directories(fallbackDir, code);
    if (code) {
        return {{}, "cannot create '" + fallbackDir + "': " + code.message()};
    }
    if (!IsWritableDirectory(fallbackDir)) {
        return {{}, "cannot write to '" + programDir + "' nor to '" + fallbackDir + "'"};
    }
    return {WithSlash(fallbackDir), {}};
}
