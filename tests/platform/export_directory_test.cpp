#include "platform/export_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

class ExportDirectoryTest : public testing::Test {
  protected:
    const ScratchDirectory m_scratch{"export-directory"};
    const std::string m_root = m_scratch.path().string();
};

// Directories no user can create files in: the read-only mode bits stop everyone but the
// superuser, and /proc refuses new files to the superuser too, so the check is exercised for
// real whoever runs the test.
TEST_F(ExportDirectoryTest, WritableCheckCreatesAFileForReal) {
    std::ofstream(m_root + "/file") << "x";
    fs::create_directory(m_root + "/locked");
    fs::permissions(m_root + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_TRUE(IsWritableDirectory(m_root));
    EXPECT_TRUE(IsWritableDirectory(m_root + "/"));
    EXPECT_FALSE(IsWritableDirectory(m_root + "/missing/"));
    EXPECT_FALSE(IsWritableDirectory(m_root + "/file/"));
    EXPECT_FALSE(IsWritableDirectory("/proc/"));
    EXPECT_FALSE(IsWritableDirectory(""));
    if (::geteuid() != 0) {
        EXPECT_FALSE(IsWritableDirectory(m_root + "/locked/"));
    }
    // The probe leaves nothing behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_root), fs::directory_iterator()), 2);
}

TEST_F(ExportDirectoryTest, ProgramDirectoryWhenWritableElseTheCreatedFallback) {
    std::ofstream(m_root + "/file") << "x";
    const std::string pictures = m_root + "/home/Pictures";
    struct Case {
        std::string programDir, fallbackDir, path;
        const char* errorPart;
    };
    const Case cases[] = {
        {m_root + "/", pictures, m_root + "/", nullptr},
        {m_root, pictures, m_root + "/", nullptr},
        {"/proc/", pictures, pictures + "/", nullptr},  // created with its parent
        {"/proc/", pictures + "/", pictures + "/", nullptr},
        {"/proc/", "", "", "no pictures folder"},
        {"/proc/", m_root + "/file/Pictures", "", "cannot create"},
        {"/proc/", "/proc/Pictures", "", "cannot create"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.programDir + " / " + c.fallbackDir);
        const ExportDirectory chosen = ChooseExportDirectory(c.programDir, c.fallbackDir);
        EXPECT_EQ(chosen.path, c.path);
        if (c.errorPart == nullptr) {
            EXPECT_EQ(chosen.error, "");
        } else {
            EXPECT_NE(chosen.error.find(c.errorPart), std::string::npos) << chosen.error;
        }
    }
    EXPECT_TRUE(fs::is_directory(pictures));
}

}  // namespace
