#include "export/workbook_cells.h"

#include <locale.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Fields per line of the frame-data workbook: one sensor row, or the offsets, or a header line.
constexpr int kNumberFieldsPerLine = 32;
// Text after the last CR shorter than this is a left-over, not a line of numbers.
constexpr std::size_t kShortestUnterminatedLine = 7;

constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// Characters rather than bytes: the module's texts are ASCII, but a count of UTF-8 bytes would
// treat one accented letter as two characters.
std::size_t CharacterCount(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

// The viewer runs in the user's locale, where strtod may expect a decimal comma; the module
// always writes a point.
locale_t CLocale() {
    static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// Reads a number from the start of `field` as strtod does in the C locale and sets `used` to the
// characters it took (0 when there was no number). The field is copied so that strtod stops at
// its end.
double ReadNumber(std::string_view field, std::size_t& used) {
    char small[128];
    std::string large;
    const char* start = small;
    if (field.size() < sizeof small) {
        std::memcpy(small, field.data(), field.size());
        small[field.size()] = '\0';
    } else {
        large.assign(field);
        start = large.c_str();
    }
    char* end = nullptr;
    const locale_t locale = CLocale();
    const double value =
        locale != nullptr ? ::strtod_l(start, &end, locale) : std::strtod(start, &end);
    used = static_cast<std::size_t>(end - start);
    return value;
}

void AddNumberCell(int row, int column, std::string_view field, WorkbookSheet& sheet) {
    WorkbookCell& cell = sheet.emplace_back();
    cell.row = row;
    cell.column = column;
    std::size_t used = 0;
    const double value = ReadNumber(field, used);
    if (std::isfinite(value)) {
        cell.number = value;
        return;
    }
    // Infinite or not a number: kept as the text that was read.
    const std::size_t first = std::min(field.find_first_not_of(kWhiteSpace), used);
    cell.isText = true;
    cell.text.assign(field.substr(first, used - first));
}

void AddNumberLine(int row, std::string_view line, WorkbookSheet& sheet) {
    std::size_t start = 0;
    for (int column = 1; column <= kNumberFieldsPerLine; ++column) {
        const std::size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            return;
        }
        AddNumberCell(row, column, line.substr(start, tab - start), sheet);
        start = tab + 1;
    }
}

}  // namespace

WorkbookSheet FillNumberRows(std::string_view dataText) {
    WorkbookSheet sheet;
    // One cell per field of a whole text frame, without reserving much for a text that is not one.
    sheet.reserve(std::min<std::size_t>(dataText.size() / 4, 2048));
    std::size_t start = 0;
    int row = 1;
    for (; row <= kWorkbookMaxRows; ++row) {
        const std::size_t cr = dataText.find('\r', start);
        if (cr == std::string_view::npos) {
            break;
        }
        AddNumberLine(row, dataText.substr(start, cr - start), sheet);
        start = cr + 1;
    }
    const std::string_view rest = dataText.substr(start);
    if (row <= kWorkbookMaxRows && CharacterCount(rest) >= kShortestUnterminatedLine) {
        AddNumberLine(row, rest, sheet);
    }
    return sheet;
}

namespace {

// How a header line of the calibration table is written, by its first token.
enum class HeaderLineKind { kSkipped, kPlain, kAmbient, kColumnNames };

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
               return lower(x) == lower(y);
           });
}

HeaderLineKind KindOfHeaderLine(std::string_view firstToken) {
    static constexpr std::string_view kPlainKeywords[] = {
        "PTAT1", "ASIC-Register", "Written", "PTAT-gradient", "TObj1:", "TObjcal1:", "Arraytype"};
    for (const std::string_view keyword : kPlainKeywords) {
        if (EqualsIgnoringCase(firstToken, keyword)) {
            return HeaderLineKind::kPlain;
        }
    }
    if (EqualsIgnoringCase(firstToken, "Ambient")) {
        return HeaderLineKind::kAmbient;
    }
    if (EqualsIgnoringCase(firstToken, "Nr.")) {
        return HeaderLineKind::kColumnNames;
    }
    return HeaderLineKind::kSkipped;
}

// Every space and TAB ends a token, so neighbouring separators give an empty token. An empty
// line has no tokens.
std::vector<std::string> CutTokens(std::string_view line) {
    std::vector<std::string> tokens;
    if (line.empty()) {
        return tokens;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t separator = line.find_first_of(" \t", start);
        tokens.emplace_back(line.substr(start, separator - start));
        if (separator == std::string_view::npos) {
            return tokens;
        }
        start = separator + 1;
    }
}

// The module writes the ambient sensor numbers as "1: 300 2: 301": each label of one character
// and a colon joins the value before it, repeatedly, leftmost first, until none is left.
std::vector<std::string> JoinAmbientLabels(const std::vector<std::string>& tokens) {
    std::vector<std::string> joined;
    joined.reserve(tokens.size());
    for (const std::string& token : tokens) {
        joined.push_back(token);
        while (joined.size() >= 2 && CharacterCount(joined.back()) == 2 &&
               joined.back().back() == ':') {
            std::string label = std::move(joined.back());
            joined.pop_back();
            joined.back() += label;
        }
    }
    return joined;
}

void AddTextCell(int row, int column, std::string_view text, WorkbookSheet& sheet) {
    if (text.empty() || column > kWorkbookMaxColumns) {
        return;
    }
    WorkbookCell& cell = sheet.emplace_back();
    cell.row = row;
    cell.column = column;
    cell.isText = true;
    cell.text.assign(text);
}

void AddTokens(int row, const std::vector<std::string>& tokens, WorkbookSheet& sheet) {
    int column = 1;
    for (const std::string& token : tokens) {
        AddTextCell(row, column++, token, sheet);
        if (column > kWorkbookMaxColumns) {
            return;
        }
    }
}

// Writes header line `line` into `row`; returns true when it ends the header.
bool AddHeaderLine(int row, std::string_view line, WorkbookSheet& sheet) {
    std::vector<std::string> tokens = CutTokens(line);
    if (tokens.empty()) {
        return false;
    }
    switch (KindOfHeaderLine(tokens.front())) {
        case HeaderLineKind::kSkipped:
            return false;
        case HeaderLineKind::kPlain:
            AddTokens(row, tokens, sheet);
            return false;
        case HeaderLineKind::kAmbient:
            AddTokens(row, JoinAmbientLabels(tokens), sheet);
            return false;
        case HeaderLineKind::kColumnNames:
            std::erase_if(
                tokens, [](const std::string& token) { return CharacterCount(Trim(token)) <= 1; });
            AddTokens(row, tokens, sheet);
            return true;
    }
    return false;
}

void AddTableLine(int row, std::string_view line, WorkbookSheet& sheet) {
    std::size_t start = 0;
    for (int column = 1; column <= kWorkbookMaxColumns; ++column) {
        const std::size_t tab = line.find('\t', start);
        AddTextCell(row, column, line.substr(start, tab - start), sheet);
        if (tab == std::string_view::npos) {
            return;
        }
        start = tab + 1;
    }
}

}  // namespace

WorkbookSheet FillCalibrationSheet(std::string_view replyText) {
    WorkbookSheet sheet;
    // Ten columns for each of the 992 pixels in the module's table.
    sheet.reserve(std::min<std::size_t>(replyText.size() / 4, 10240));
    bool inHeader = true;
    std::size_t start = 0;
    // Line k fills row k + 1 in the header and row k + 2 in the table.
    for (int line = 0; start < replyText.size() && line + 2 <= kWorkbookMaxRows; ++line) {
        std::size_t cr = replyText.find('\r', start);
        if (cr == std::string_view::npos) {
            cr = replyText.size();
        }
        const std::string_view text = Trim(replyText.substr(start, cr - start));
        start = cr + 1;
        if (inHeader) {
            inHeader = !AddHeaderLine(line + 1, text, sheet);
        } else {
            AddTableLine(line + 2, text, sheet);
        }
    }
    return sheet;
}
