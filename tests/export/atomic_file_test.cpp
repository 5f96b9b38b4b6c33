#include "export/atomic_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Files that already carry a temporary's name (a part another run left, or a file of the user's
// that happens to be called so) are never truncated, renamed or removed: the temporary takes a
// name of its own.
TEST(AtomicFile, TemporariesNeverTakeANameThatExists) {
    const fs::path dir = fs::temp_directory_path() / ("atomic_file_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string target = (dir / "out.bmp").string();
    const std::string pidName = target + ".part" + std::to_string(::getpid());
    std::ofstream(pidName) << "somebody's";
    std::ofstream(pidName + ".1") << "somebody else's";

    std::string first;
    const int fd = CreateTemporaryFor(target, first);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(first, pidName + ".2");
    std::string second;
    const int other = CreateTemporaryFor(target, second);
    ASSERT_GE(other, 0);
    ::close(other);
    EXPECT_EQ(second, pidName + ".3");

    ASSERT_TRUE(WriteFileAtomically(target, "picture", 7));
    EXPECT_EQ(ReadAll(target), "picture");
    EXPECT_EQ(ReadAll(pidName), "somebody's");
    EXPECT_EQ(ReadAll(pidName + ".1"), "somebody else's");
    EXPECT_TRUE(fs::exists(first));  // still the caller's to use or remove
    EXPECT_FALSE(fs::exists(pidName + ".4"));

    std::string none;
    EXPECT_EQ(CreateTemporaryFor((dir / "missing" / "x").string(), none), -1);
    fs::remove_all(dir);
}

}  // namespace
