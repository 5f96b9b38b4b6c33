#include "export/atomic_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/file_bytes.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

// Files that already carry a temporary's name (a part another run left, or a file of the user's
// that happens to be called so) are never truncated, renamed or removed: the temporary takes a
// name of its own.
TEST(AtomicFile, TemporariesNeverTakeANameThatExists) {
    const ScratchDirectory scratch("atomic_file");
    const fs::path& dir = scratch.path();
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
    EXPECT_EQ(ReadWhole(target), "picture");
    EXPECT_EQ(ReadWhole(pidName), "somebody's");
    EXPECT_EQ(ReadWhole(pidName + ".1"), "somebody else's");
    EXPECT_TRUE(fs::exists(first));  // still the caller's to use or remove
    EXPECT_FALSE(fs::exists(pidName + ".4"));

    std::string none;
    EXPECT_EQ(CreateTemporaryFor((dir / "missing" / "x").string(), none), -1);
}

// A pending file has no name until it is published (where the file system has unnamed files),
// so a process killed while writing leaves nothing; published, it takes a free name or
// replaces a file, and leaves no other name behind.
TEST(AtomicFile, PendingFilesHaveNoNameUntilPublished) {
    const ScratchDirectory scratch("pending_file");
    const fs::path& dir = scratch.path();
    const std::string target = (dir / "out.csv").string();
    for (const bool replacing : {false, true}) {
        SCOPED_TRACE(replacing);
        if (replacing) {
            std::ofstream(target) << "earlier";
        }
        CPendingFile file;
        ASSERT_TRUE(file.Create(target));
        if (!file.IsUnnamed()) {
            GTEST_SKIP() << "no unnamed files on this file system";
        }
        EXPECT_EQ(file.Path(), "/proc/self/fd/" + std::to_string(file.Descriptor()));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
                  replacing ? 1 : 0);
        // A writer reopens it by its path.
        std::ofstream(file.Path()) << "new";
        EXPECT_EQ(ReadWhole(target), replacing ? "earlier" : "");
        ASSERT_TRUE(file.Publish(target));
        EXPECT_EQ(file.Descriptor(), -1);
        EXPECT_EQ(ReadWhole(target), "new");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    }
    {
        CPendingFile discarded;
        ASSERT_TRUE(discarded.Create((dir / "other.csv").string()));
        std::ofstream(discarded.Path()) << "never seen";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    ASSERT_TRUE(WriteFileAtomically(target, "whole", 5));
    EXPECT_EQ(ReadWhole(target), "whole");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

}  // namespace
