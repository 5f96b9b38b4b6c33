#include "platform/one_line.h"

#include <cstdint>
#include <cstdio>

namespace {

struct CodeRange {
    uint32_t first;
    uint32_t last;
};

// Characters that change how the text around them shows without being seen themselves: Unicode's
// format characters (Cf), and the line and paragraph separators (U+2028, U+2029).
constexpr CodeRange kInvisible[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

bool IsInvisible(uint32_t code) {
    if (code >= 0x80 && code < 0xA0) {
        return true;  // C1 controls: 0x9B starts a terminal escape as ESC [ does
    }
    for (const CodeRange& range : kInvisible) {
        if (code >= range.first && code <= range.last) {
            return true;
        }
    }
    return false;
}

// The length of the well-formed UTF-8 sequence at the start of `text` (not empty, first byte
// 0x80 or above) and its code point, or 0 when it is none: overlong forms, surrogates and code
// points beyond U+10FFFF are not UTF-8.
std::size_t DecodeSequence(std::string_view text, uint32_t& code) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
        return 0;
    }
    return length;
}

void AppendEscape(const char* format, unsigned value, std::string& out) {
    char escaped[12];
    std::snprintf(escaped, sizeof escaped, format, value);
    out += escaped;
}

std::string Escape(std::string_view text, bool keepsLineEnds) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out += c;
            ++at;
            continue;
        }
        if (byte < 0x80) {
            if (keepsLineEnds && (c == '\n' || c == '\r' || c == '\t')) {
                out += c;
            } else if (c == '\n') {
                out += "\\n";
            } else if (c == '\r') {
                out += "\\r";
            } else if (c == '\t') {
                out += "\\t";
            } else {
                AppendEscape("\\x%02X", byte, out);
            }
            ++at;
            continue;
        }
        uint32_t code = 0;
        const std::size_t length = DecodeSequence(text.substr(at), code);
        if (length == 0) {
            AppendEscape("\\x%02X", byte, out);
            ++at;
            continue;
        }
        if (IsInvisible(code)) {
            AppendEscape(code < 0x10000 ? "\\u%04X" : "\\U%08X", code, out);
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

}  // namespace

std::string OneLine(std::string_view text) {
    return Escape(text, false);
}

std::string PrintableLines(std::string_view text) {
    return Escape(text, true);
}
