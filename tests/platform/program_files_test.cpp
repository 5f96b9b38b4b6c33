#include "platform/program_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(ProgramFiles, LookupIgnoresCaseButPrefersTheExactName) {
    char pattern[] = "/tmp/program-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = std::string(pattern) + "/";
    for (const char* name : {"cmdlist.txt", "CmdList.TXT", "TITLE.TXT"}) {
        std::ofstream(dir + name) << name;
    }
    EXPECT_EQ(FindFileNoCase(dir, "CmdList.TXT"), dir + "CmdList.TXT");
    EXPECT_EQ(FindFileNoCase(dir, "Title.txt"), dir + "TITLE.TXT");
    EXPECT_EQ(ReadWholeFile(dir + "TITLE.TXT"), "TITLE.TXT");
    EXPECT_EQ(FindFileNoCase(dir, "AppIcon.ico"), std::nullopt);
    EXPECT_EQ(FindFileNoCase(dir + "missing/", "Title.txt"), std::nullopt);
    EXPECT_EQ(ReadWholeFile(dir + "missing"), std::nullopt);
    fs::remove_all(pattern);
}

TEST(ProgramFiles, TitleTextIsUtf16AfterTheByteOrderMarkUpToTheFirstZero) {
    using namespace std::string_literals;
    const std::string mark = "\xFF\xFE";
    EXPECT_EQ(DecodeTitleFile(mark + "A\0\xE9\0"s), u"A\u00E9");
    EXPECT_EQ(DecodeTitleFile(mark + "A\0\0\0B\0"s), u"A");
    EXPECT_EQ(DecodeTitleFile(mark + "A"s), u"A");  // an odd last byte is a whole unit
    EXPECT_EQ(DecodeTitleFile(mark), u"");
}

}  // namespace
