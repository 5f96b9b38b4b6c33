// The two workbooks' contents from any text: FillNumberRows (a frame's data text) and
// FillCalibrationSheet (the module's `w` reply), and the XML document rendered from them. Cells
// come row by row and left to right inside the sheet; a data text gives at most 32 number
// columns and no more rows than lines, with a text cell only for a number no spreadsheet holds;
// the document is valid UTF-8 holding only characters XML 1.0 allows.
// Input: byte 0 picks the sheet; the rest is the text.
#include <cmath>
#include <string>
#include <string_view>

#include "export/workbook_cells.h"
#include "export/xml_spreadsheet.h"
#include "fuzz_support.h"

namespace {

// True when `text` is valid UTF-8 of characters XML 1.0 allows (TAB, LF, CR and from U+0020,
// without U+FFFE and U+FFFF).
bool IsXmlText(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        const bool allowed =
            code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
            (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
        if (!allowed) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool calibration = (data[0] & 1) != 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const WorkbookSheet sheet = calibration ? FillCalibrationSheet(text) : FillNumberRows(text);

    std::size_t lines = 1;
    for (const char ch : text) {
        lines += ch == '\r' ? 1 : 0;
    }
    for (std::size_t i = 0; i < sheet.size(); ++i) {
        const WorkbookCell& cell = sheet[i];
        FUZZ_CHECK(cell.row >= 1 && cell.column >= 1);
        if (i > 0) {
            const WorkbookCell& before = sheet[i - 1];
            FUZZ_CHECK(before.row < cell.row ||
                       (before.row == cell.row && before.column < cell.column));
        }
        if (!calibration) {
            FUZZ_CHECK(cell.column <= 32);
            FUZZ_CHECK(static_cast<std::size_t>(cell.row) <= lines);
            FUZZ_CHECK(cell.isText || std::isfinite(cell.number));
            FUZZ_CHECK(!cell.isText || !cell.text.empty());
        }
    }
    const std::string document = RenderXmlSpreadsheet(sheet);
    FUZZ_CHECK(IsXmlText(document));
    return 0;
}
