#include "platform/program_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

TEST(ProgramFiles, LookupIgnoresCaseButPrefersTheExactName) {
    const ScratchDirectory scratch("program-files");
    const std::string dir = scratch.path().string() + "/";
    for (const char* name : {"cmdlist.txt", "CmdList.TXT", "TITLE.TXT"}) {
        std::ofstream(dir + name) << name;
    }
    EXPECT_EQ(FindFileNoCase(dir, "CmdList.TXT"), dir + "CmdList.TXT");
    EXPECT_EQ(FindFileNoCase(dir, "Title.txt"), dir + "TITLE.TXT");
    EXPECT_EQ(ReadWholeFile(dir + "TITLE.TXT"), "TITLE.TXT");
    EXPECT_EQ(FindFileNoCase(dir, "AppIcon.ico"), std::nullopt);
    EXPECT_EQ(FindFileNoCase(dir + "missing/", "Title.txt"), std::nullopt);
    EXPECT_EQ(ReadWholeFile(dir + "missing"), std::nullopt);
}

// Whatever carries the name where a small file is expected is refused without throwing, waiting
// for a writer or reading without end.
TEST(ProgramFiles, OnlyRegularFilesOfAtMostOneMebibyteAreRead) {
    const ScratchDirectory scratch("program-files");
    const std::string dir = scratch.path().string() + "/";
    fs::create_directory(dir + "Title.txt");
    ASSERT_EQ(::mkfifo((dir + "fifo").c_str(), 0600), 0);
    std::ofstream(dir + "large", std::ios::binary) << std::string(kMaxProgramFileBytes + 1, 'x');
    std::ofstream(dir + "largest", std::ios::binary) << std::string(kMaxProgramFileBytes, 'x');
    for (const std::string& path :
         {dir + "Title.txt", dir + "fifo", std::string("/dev/zero"), dir + "large"}) {
        EXPECT_EQ(ReadWholeFile(path), std::nullopt) << path;
    }
    EXPECT_EQ(ReadWholeFile(dir + "largest").value_or("").size(), kMaxProgramFileBytes);
}

TEST(ProgramFiles, TitleTextIsUtf16AfterTheByteOrderMarkUpToTheFirstZero) {
    using namespace std::string_literals;
    const std::string mark = "\xFF\xFE";
    EXPECT_EQ(DecodeTitleFile(mark + "A\0\xE9\0"s), u"A\u00E9");
    EXPECT_EQ(DecodeTitleFile(mark + "A\0\0\0B\0"s), u"A");
    EXPECT_EQ(DecodeTitleFile(mark + "A"s), u"A");  // an odd last byte is a whole unit
    EXPECT_EQ(DecodeTitleFile(mark), u"");
}

// What users may leave beside the program by mistake: a directory, a FIFO or a device under an
// optional file's name. None is found as the file, so nothing (the picture loader included)
// waits on the FIFO or reads the device without end.
TEST(ProgramFiles, LookupFindsOnlyRegularFiles) {
    const ScratchDirectory scratch("program-files");
    const std::string dir = scratch.path().string() + "/";
    fs::create_directory(dir + "Title.txt");
    ASSERT_EQ(::mkfifo((dir + "CmdList.TXT").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir + "AppIcon.ico");
    std::ofstream(dir + "mainlogo.jpg") << "jpeg";
    fs::create_symlink(dir + "mainlogo.jpg", dir + "DistributionLogo.jpg");
    for (const char* name : {"Title.txt", "CmdList.TXT", "AppIcon.ico"}) {
        EXPECT_EQ(FindFileNoCase(dir, name), std::nullopt) << name;
    }
    EXPECT_EQ(FindFileNoCase(dir, "MainLogo.jpg"), dir + "mainlogo.jpg");
    EXPECT_EQ(FindFileNoCase(dir, "DistributionLogo.jpg"), dir + "DistributionLogo.jpg");
}

// An installed program's directory is not the user's to write to: the optional files are also
// found in the configuration folder, after the program directory and by the same lookup.
TEST(ProgramFiles, OptionalFilesAreFoundBesideTheProgramThenInTheConfigurationFolder) {
    const ScratchDirectory scratch("program-files");
    const std::string root = scratch.path().string();
    const std::string program = root + "/bin/";
    const std::string xdg = root + "/xdg/thermal-viewer/";
    const std::string home = root + "/home/.config/thermal-viewer/";
    for (const std::string& dir : {program, xdg, home}) {
        fs::create_directories(dir);
    }
    std::ofstream(program + "Title.txt") << "beside";
    std::ofstream(xdg + "title.txt") << "xdg";
    std::ofstream(xdg + "cmdlist.txt") << "xdg";
    std::ofstream(home + "CmdList.TXT") << "home";
    const struct {
        std::optional<std::string> xdgConfigHome;  // nullopt: unset
        std::optional<std::string> home;
        const char* name;
        std::optional<std::string> found;
    } cases[] = {
        {root + "/xdg", root + "/home", "Title.txt", program + "Title.txt"},
        {root + "/xdg", root + "/home", "CmdList.TXT", xdg + "cmdlist.txt"},
        {root + "/xdg", root + "/home", "AppIcon.ico", std::nullopt},
        // A relative XDG_CONFIG_HOME is ignored, as is one that is unset.
        {"xdg", root + "/home", "CmdList.TXT", home + "CmdList.TXT"},
        {std::nullopt, root + "/home", "CmdList.TXT", home + "CmdList.TXT"},
        {std::nullopt, std::nullopt, "CmdList.TXT", std::nullopt},
        {std::nullopt, std::nullopt, "Title.txt", program + "Title.txt"},
    };
    const auto setOrUnset = [](const char* variable, const std::optional<std::string>& value) {
        value ? ::setenv(variable, value->c_str(), 1) : ::unsetenv(variable);
    };
    for (const auto& c : cases) {
        setOrUnset("XDG_CONFIG_HOME", c.xdgConfigHome);
        setOrUnset("HOME", c.home);
        EXPECT_EQ(FindProgramFile(program, c.name), c.found)
            << c.name << " XDG_CONFIG_HOME=" << c.xdgConfigHome.value_or("(unset)")
            << " HOME=" << c.home.value_or("(unset)");
    }
}

}  // namespace
