#include "device/reply_end_rules.h"

#include <cstring>

namespace {

// Byte at `position` counted from the end (the last byte is position 1).
char FromEnd(const uint8_t* data, size_t length, size_t position) {
    return static_cast<char>(data[length - position]);
}

// True when `word` stands at positions first..(first - size + 1) from the end.
bool EndsWithAt(const uint8_t* data, size_t length, size_t first, const char* word) {
    const size_t size = std::strlen(word);
    if (length < first) {
        return false;
    }
    for (size_t i = 0; i < size; ++i) {
        if (FromEnd(data, length, first - i) != word[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsFrameLetter(uint8_t letter) {
    return letter == 'C' || letter == 'c' || letter == 'k' || letter == 'K' || letter == 't';
}

bool IsTextReplyComplete(uint8_t letter, const uint8_t* data, size_t length) {
    switch (letter) {
        case 'a':
        case 'A':
            return length > 40 && EndsWithAt(data, length, 6, "to");
        case 'b':
            return length > 6 && EndsWithAt(data, length, 4, "mV");
        case 'f':
            return length > 14 && EndsWithAt(data, length, 5, "set");
        case 'J':
            return length > 13 &&
                   (EndsWithAt(data, length, 6, "high") || EndsWithAt(data, length, 5, "low"));
        case 'l':
            return length > 7 && FromEnd(data, length, 5) == '.';
        case 'm':
            return length > 10 && EndsWithAt(data, length, 7, "used.");
        case 'M':
            return length > 10 && EndsWithAt(data, length, 8, "VDM");
        case 'o':
        case 'O':
            return length > 10 && EndsWithAt(data, length, 6, "used");
        case 'V':
            return length > 10 && EndsWithAt(data, length, 5, "ed.");
        case 'X':
            return length >= 7 && EndsWithAt(data, length, 7, "STOP!");
        case 'y':
        case 'Y':
            return length > 10 &&
                   (EndsWithAt(data, length, 5, "off") || EndsWithAt(data, length, 4, "on"));
        default:
            return length >= 5 && EndsWithAt(data, length, 5, "use");
    }
}

bool IsCalibrationTableComplete(const uint8_t* data, size_t length) {
    if (length < 3 || data[length - 1] != '\n') {
        return false;
    }
    // A trailing empty line (LF CR LF) is stepped over so the line before it is judged.
    long from =
        (data[length - 3] == '\n') ? static_cast<long>(length) - 5 : static_cast<long>(length) - 3;
    long q = from;
    while (q >= 0 && data[q] != '\n') {
        --q;
    }
    if (q <= 0) {
        return false;
    }
    const size_t lineStart = static_cast<size_t>(q) + 1;
    if (lineStart + 3 > length || std::memcmp(data + lineStart, "991", 3) != 0) {
        return false;
    }
    size_t tabs = 0;
    for (size_t i = static_cast<size_t>(q) + 3; i < length; ++i) {
        tabs += data[i] == '\t';
    }
    return tabs >= 9;
}
