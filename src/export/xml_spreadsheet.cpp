#include "export/xml_spreadsheet.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// Columns of an Excel 2003 sheet.
constexpr int kExcel2003Columns = 256;

// Column widths are stored in points. Calibri 11 and Arial 10, the spreadsheet defaults, have
// digits 7 pixels wide at 96 dpi; a width of n characters is n digits plus 5 pixels of margin,
// rounded to whole pixels: 89 pixels, 66.75 points, for 12 characters.
constexpr double kColumnWidthPoints = ((kWorkbookColumnWidthCharacters * 7 + 5) * 3) / 4.0;

// The length of the valid UTF-8 sequence at the start of `text` (1 to 4), or 0 when it is not
// one: overlong forms, UTF-16 surrogates and code points beyond U+10FFFF are invalid.
std::size_t ValidSequenceLength(std::string_view text, uint32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    uint32_t lowest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(i) & 0x3Fu);
    }
    if (codePoint < lowest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

void AppendNumber(double value, std::string& out) {
    char digits[64];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    for (char* c = digits; c != result.ptr; ++c) {
        // The exponent as spreadsheet applications write it themselves.
        out += *c == 'e' ? 'E' : *c;
    }
}

void AppendCell(const WorkbookCell& cell, bool needsIndex, std::string& out) {
    out += "<Cell";
    if (needsIndex) {
        out += " ss:Index=\"";
        out += std::to_string(cell.column);
        out += '"';
    }
    if (!cell.isText && std::isfinite(cell.number)) {
        out += "><Data ss:Type=\"Number\">";
        AppendNumber(cell.number, out);
    } else {
        out += "><Data ss:Type=\"String\">";
        if (cell.isText) {
            AppendXmlText(cell.text, out);
        } else {
            out += std::isnan(cell.number) ? "nan" : cell.number > 0 ? "inf" : "-inf";
        }
    }
    out += "</Data></Cell>\n";
}

bool IsInSheet(const WorkbookCell& cell) {
    return cell.row >= 1 && cell.row <= kWorkbookMaxRows && cell.column >= 1 &&
           cell.column <= kWorkbookMaxColumns;
}

bool ComesBefore(const WorkbookCell& a, const WorkbookCell& b) {
    return a.row != b.row ? a.row < b.row : a.column < b.column;
}

}  // namespace

void AppendXmlText(std::string_view text, std::string& out) {
    std::size_t i = 0;
    while (i < text.size()) {
        uint32_t codePoint = 0;
        const std::size_t length = ValidSequenceLength(text.substr(i), codePoint);
        if (length == 0) {
            out += kReplacementCharacter;
            ++i;
            continue;
        }
        switch (codePoint) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                if (codePoint < 0x20 || codePoint == 0xFFFE || codePoint == 0xFFFF) {
                    out += kReplacementCharacter;
                } else {
                    out.append(text.substr(i, length));
                }
        }
        i += length;
    }
}

std::string RenderXmlSpreadsheet(const WorkbookSheet& sheet) {
    // The fillers give the cells in order; cells from elsewhere are put in order here, the later
    // of two in one place last, so that it is the one kept.
    std::vector<const WorkbookCell*> cells;
    cells.reserve(sheet.size());
    int lastColumn = 0;
    for (const WorkbookCell& cell : sheet) {
        if (IsInSheet(cell)) {
            cells.push_back(&cell);
            lastColumn = std::max(lastColumn, cell.column);
        }
    }
    const auto before = [](const WorkbookCell* a, const WorkbookCell* b) {
        return ComesBefore(*a, *b);
    };
    if (!std::is_sorted(cells.begin(), cells.end(), before)) {
        std::stable_sort(cells.begin(), cells.end(), before);
    }

    std::string out;
    out.reserve(512 + sheet.size() * 48);
    char width[32];
    const auto widthEnd = std::to_chars(width, width + sizeof width, kColumnWidthPoints).ptr;
    const std::string_view widthText(width, static_cast<std::size_t>(widthEnd - width));
    out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<?mso-application progid=\"Excel.Sheet\"?>\n"
        "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"\n"
        " xmlns:o=\"urn:schemas-microsoft-com:office:office\"\n"
        " xmlns:x=\"urn:schemas-microsoft-com:office:excel\"\n"
        " xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"\n"
        " xmlns:html=\"http://www.w3.org/TR/REC-html40\">\n"
        "<Worksheet ss:Name=\"Sheet1\">\n"
        "<Table ss:DefaultColumnWidth=\"";
    out += widthText;
    out += "\">\n";
    // Excel applies the default to every column; LibreOffice takes widths only from column
    // elements, so one element spans the 256 columns of an Excel 2003 sheet (which refuses a
    // wider one) or as many as are used.
    out += "<Column ss:Width=\"";
    out += widthText;
    out += "\" ss:Span=\"";
    out += std::to_string(std::max(kExcel2003Columns, lastColumn) - 1);
    out += "\"/>\n";
    int previousRow = 0;
    int previousColumn = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const WorkbookCell& cell = *cells[i];
        if (i + 1 < cells.size() && !ComesBefore(cell, *cells[i + 1])) {
            continue;  // replaced by the next cell in the same place
        }
        if (cell.row != previousRow) {
            if (previousRow != 0) {
                out += "</Row>\n";
            }
            out += "<Row";
            if (cell.row != previousRow + 1) {
                out += " ss:Index=\"";
                out += std::to_string(cell.row);
                out += '"';
            }
            out += ">\n";
            previousRow = cell.row;
            previousColumn = 0;
        }
        AppendCell(cell, cell.column != previousColumn + 1, out);
        previousColumn = cell.column;
    }
    if (previousRow != 0) {
        out += "</Row>\n";
    }
    out +=
        "</Table>\n"
        "</Worksheet>\n"
        "</Workbook>\n";
    return out;
}
