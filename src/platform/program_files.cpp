#include "platform/program_files.h"

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <memory>

std::string ProgramDirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) {
        return "./";
    }
    std::string exe(path, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "./" : exe.substr(0, slash + 1);
}

std::optional<std::string> FindFileNoCase(const std::string& dir, const std::string& name) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(dir.c_str()), closedir);
    if (!listing) {
        return std::nullopt;
    }
    std::optional<std::string> found;
    while (const dirent* entry = readdir(listing.get())) {
        if (name == entry->d_name) {
            return dir + entry->d_name;
        }
        if (!found && strcasecmp(name.c_str(), entry->d_name) == 0) {
            found = dir + entry->d_name;
        }
    }
    return found;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

std::u16string DecodeTitleFile(const std::string& bytes) {
    if (bytes.size() <= 2) {
        return {};
    }
    std::u16string text;
    for (size_t i = 2; i < bytes.size(); i += 2) {
        const auto low = static_cast<unsigned char>(bytes[i]);
        const auto high = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0u;
        const auto unit = static_cast<char16_t>(low | (high << 8));
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return text;
}
