// The optional files users put beside the program: "CmdList.TXT" (the command combo's entries)
// and "Title.txt" (the caption, UTF-16 after a byte-order mark). Any file gives entries that are
// trimmed, not empty, in file order and each able to send a byte, the same read from the file as
// parsed from its text; and a caption of at most one character per two bytes, without a zero, that
// reads back the same when written as a caption file.
// Input: the file, read both ways.
#include <string>
#include <string_view>
#include <vector>

#include "device/command_list.h"
#include "fuzz_support.h"
#include "platform/program_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::vector<std::string> entries = ParseCommandList(text);
    std::size_t lines = 1;
    for (const char ch : text) {
        lines += ch == '\n' ? 1 : 0;
    }
    FUZZ_CHECK(entries.size() <= lines);
    std::size_t searchFrom = 0;
    for (const std::string& entry : entries) {
        FUZZ_CHECK(!entry.empty());
        FUZZ_CHECK(TrimWhiteSpace(entry) == entry);
        FUZZ_CHECK(entry.find('\n') == std::string::npos);
        const std::size_t at = text.find(entry, searchFrom);
        FUZZ_CHECK(at != std::string_view::npos);
        searchFrom = at + entry.size();
        FUZZ_CHECK(CommandByteFromText(entry).has_value());
        FUZZ_CHECK(CommandByteFromText("  " + entry + "\t") == CommandByteFromText(entry));
    }

    const CMemoryFile file(data, size);
    FUZZ_CHECK(LoadCommandListFile(file.Path()) == entries);
    const std::optional<std::string> bytes = ReadWholeFile(file.Path());
    FUZZ_CHECK(bytes.has_value() && *bytes == text);

    const std::u16string title = DecodeTitleFile(*bytes);
    FUZZ_CHECK(title.size() <= (size > 2 ? (size - 1) / 2 : 0));
    FUZZ_CHECK(title.find(u'\0') == std::u16string::npos);
    // Written back as a caption file, the caption reads the same.
    std::string written = "\xFF\xFE";
    for (const char16_t unit : title) {
        written += static_cast<char>(unit & 0xFF);
        written += static_cast<char>(unit >> 8);
    }
    FUZZ_CHECK(DecodeTitleFile(written) == title);
    return 0;
}
