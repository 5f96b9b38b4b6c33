#include "text_frame_fault.h"

#include <algorithm>

#include "frame/frame_block.h"
#include "frame/text_frame.h"

namespace {

std::string Counted(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string TextFrameFault(std::string_view text) {
    // A frame needs 33 lines of exactly 32 TAB-terminated fields; a last line of 6 characters or
    // fewer after the final CR is the record's end, not a line.
    int lines = 0;
    int firstBadLine = 0;
    int firstBadFields = 0;
    auto countLine = [&](std::string_view line) {
        ++lines;
        const int fields = static_cast<int>(std::count(line.begin(), line.end(), '\t'));
        if (fields != kFrameColumns && firstBadLine == 0) {
            firstBadLine = lines;
            firstBadFields = fields;
        }
    };
    std::size_t start = 0;
    for (std::size_t cr = text.find('\r'); cr != std::string_view::npos;
         cr = text.find('\r', start)) {
        countLine(text.substr(start, cr - start));
        start = cr + 1;
    }
    if (text.size() - start > 6) {
        countLine(text.substr(start));
    }
    if (lines != kTextLineCount) {
        return "it holds " + Counted(lines, "line", "lines") + " instead of " +
               std::to_string(kTextLineCount);
    }
    if (firstBadLine != 0) {
        return "its line " + std::to_string(firstBadLine) + " holds " +
               Counted(firstBadFields, "field", "fields") + " instead of " +
               std::to_string(kFrameColumns);
    }
    return "";
}
