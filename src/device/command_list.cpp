#include "device/command_list.h"

#include <filesystem>
#include <system_error>

#include "platform/program_files.h"

namespace {
bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
}  // namespace

std::string TrimWhiteSpace(std::string_view text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsWhiteSpace(text[first])) {
        ++first;
    }
    while (last > first && IsWhiteSpace(text[last - 1])) {
        --last;
    }
    return std::string(text.substr(first, last - first));
}

std::vector<std::string> ParseCommandList(std::string_view fileText) {
    std::vector<std::string> entries;
    size_t pos = 0;
    while (pos <= fileText.size()) {
        size_t end = fileText.find('\n', pos);
        if (end == std::string_view::npos) {
            end = fileText.size();
        }
        std::string entry = TrimWhiteSpace(fileText.substr(pos, end - pos));
        if (!entry.empty()) {
            entries.push_back(std::move(entry));
        }
        pos = end + 1;
    }
    return entries;
}

std::vector<std::string> DefaultCommandList() {
    return {"K (Continuous Temperature data)", "k (Single Temperature data)",
            "t (Continuous Voltage data)", "c (Single Voltage data)"};
}

std::vector<std::string> LoadCommandListFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return DefaultCommandList();
    }
    const std::optional<std::string> text = ReadWholeFile(path);
    if (!text) {
        return {};
    }
    return ParseCommandList(*text);
}

std::optional<uint8_t> CommandByteFromText(std::string_view text) {
    const std::string trimmed = TrimWhiteSpace(text);
    if (trimmed.empty()) {
        return std::nullopt;
    }
    const auto lead = static_cast<uint8_t>(trimmed[0]);
    if (lead < 0x80) {
        return lead;
    }
    // Two-byte UTF-8 sequences up to U+00FF map onto Latin-1.
    if ((lead == 0xC2 || lead == 0xC3) && trimmed.size() > 1) {
        return static_cast<uint8_t>(((lead & 0x1F) << 6) |
                                    (static_cast<uint8_t>(trimmed[1]) & 0x3F));
    }
    return static_cast<uint8_t>('?');
}
