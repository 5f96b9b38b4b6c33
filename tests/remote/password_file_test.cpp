// The broker password is read from a private regular file, one bounded line of it, and nothing
// else is taken: the reasons name the file and never block on a FIFO.
#include "remote/password_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "support/file_bytes.h"
#include "support/scratch_directory.h"

TEST(PasswordFile, TakesTheFirstLineOfAPrivateRegularFileOnly) {
    const ScratchDirectory dir("thermal_password");
    const std::string longest(kMaxPasswordBytes, 'p');
    const struct {
        const char* name;
        std::string bytes;  // the file's, or "" for what the name already is
        mode_t mode;
        std::string result;  // the password, or words of the failure
    } cases[] = {
        {"plain", "s3cret\r\nsecond line", 0600, "s3cret"},
        {"owner-only", "s3cret", 0400, "s3cret"},
        {"longest", longest + "\n", 0600, longest},
        {"too-long", longest + "pq", 0600, "its first line is longer than 1024 bytes"},
        {"others", "s3cret\n", 0644, "permissions 0644 for '"},
        {"group", "s3cret\n", 0640, "are too open"},
        {"group-writable", "s3cret\n", 0620, "permissions 0620"},
        {"/dev/zero", "", 0, "'/dev/zero': it is a device"},
        {"fifo", "", 0, "it is a FIFO"},
        {"dir", "", 0, "it is a directory"},
        {"missing", "", 0, "missing': No such file or directory"},
    };
    ::mkfifo((dir / "fifo").c_str(), 0600);
    ::mkdir((dir / "dir").c_str(), 0700);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = c.name[0] == '/' ? c.name : (dir / c.name).string();
        if (!c.bytes.empty()) {
            WriteFileBytes(path, c.bytes);
            ::chmod(path.c_str(), c.mode);
        }
        const Result<std::string> password = ReadPasswordFile(path);
        if (password) {
            EXPECT_EQ(*password, c.result);
        } else {
            EXPECT_NE(password.Message().find(c.result), std::string::npos) << password.Message();
            EXPECT_EQ(password.Message().find("s3cret"), std::string::npos);
        }
    }
}
