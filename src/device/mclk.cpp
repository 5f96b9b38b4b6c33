#include "device/mclk.h"

std::optional<std::string> FindMclk(std::string_view text, MclkMarker marker) {
    const std::string_view word = marker == MclkMarker::Kilohertz ? " kHz" : "\r\n";
    // The last start position: length - 5 for " kHz", length - 4 for CR LF.
    const long reserve = marker == MclkMarker::Kilohertz ? 5 : 4;
    const long lastStart = static_cast<long>(text.size()) - reserve;
    long found = -1;
    for (long pos = 0; pos <= lastStart; ++pos) {
        if (text.compare(pos, word.size(), word) == 0) {
            found = pos;
            break;
        }
    }
    if (found < 0) {
        return std::nullopt;
    }
    for (long pos = found - 1; pos >= 0; --pos) {
        if (text[pos] == ' ') {
            return std::string(text.substr(pos + 1, found - pos - 1));
        }
    }
    return std::nullopt;
}
