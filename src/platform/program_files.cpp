#include "platform/program_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
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
    const auto isRegularFile = [&dir](const char* entryName) {
        struct stat info {};
        return ::stat((dir + entryName).c_str(), &info) == 0 && S_ISREG(info.st_mode);
    };
    std::optional<std::string> found;
    while (const dirent* entry = readdir(listing.get())) {
        if (strcasecmp(name.c_str(), entry->d_name) != 0 || !isRegularFile(entry->d_name)) {
            continue;
        }
        if (name == entry->d_name) {
            return dir + entry->d_name;
        }
        if (!found) {
            found = dir + entry->d_name;
        }
    }
    return found;
}

std::string UserConfigDirectory() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/thermal-viewer/";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.config/thermal-viewer/";
    }
    return {};
}

std::optional<std::string> FindProgramFile(const std::string& programDir, const std::string& name) {
    if (auto beside = FindFileNoCase(programDir, name)) {
        return beside;
    }
    const std::string configDir = UserConfigDirectory();
    if (configDir.empty()) {
        return std::nullopt;
    }
    return FindFileNoCase(configDir, name);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    // Plain reads: a directory found under the file's name makes the standard file buffer throw,
    // and the open must not wait for a writer when the name is a FIFO.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat status {};
    std::optional<std::string> bytes;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<uint64_t>(status.st_size) <= kMaxProgramFileBytes) {
        bytes.emplace();
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 || bytes->size() + static_cast<std::size_t>(n) > kMaxProgramFileBytes) {
                bytes.reset();
                break;
            }
            if (n == 0) {
                break;
            }
            bytes->append(chunk, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
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
