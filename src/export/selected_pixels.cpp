#include "export/selected_pixels.h"

bool IsValidPixelRange(const PixelRange& range) {
    return range.start >= 1 && range.start <= kTextFieldCount && range.count >= 1 &&
           static_cast<long>(range.start) + range.count - 1 <= kTextFieldCount;
}

std::string SelectPixels(std::string_view text, const PixelRange& requested,
                         PixelRange& lastValid) {
    if (IsValidPixelRange(requested)) {
        lastValid = requested;
    } else if (!IsValidPixelRange(lastValid)) {
        lastValid = PixelRange{};
    }
    const PixelRange range = lastValid;
    if (range.start == 1 && range.count == kTextFieldCount) {
        return std::string(text);
    }

    // Field n ends at tab n; the range runs from just after tab start - 1 through tab
    // start + count - 1.
    size_t begin = std::string_view::npos;
    int tabs = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\t') {
            continue;
        }
        ++tabs;
        if (tabs == range.start - 1) {
            begin = i + 1;
        }
        if (tabs == range.start && range.start == 1) {
            begin = 0;
        }
        if (tabs == range.start + range.count - 1) {
            if (begin == std::string_view::npos || begin > i) {
                break;
            }
            return std::string(text.substr(begin, i + 1 - begin));
        }
    }
    return std::string(text);
}
