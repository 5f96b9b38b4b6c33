#include "export/xml_spreadsheet.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "support/scratch_directory.h"

namespace {

// Reads a workbook back with Python's XML parser, which refuses any document that is not
// well-formed: one line with the column widths, then one line per cell with its row, column,
// data type and text in hexadecimal UTF-8.
constexpr const char* kReaderScript = R"(
import sys, xml.etree.ElementTree as E
ns = '{urn:schemas-microsoft-com:office:spreadsheet}'
table = E.parse(sys.argv[1]).getroot().find(ns + 'Worksheet').find(ns + 'Table')
column = table.find(ns + 'Column')
print('widths', table.get(ns + 'DefaultColumnWidth'), column.get(ns + 'Width'), column.get(ns + 'Span'))
row = 0
for r in table.findall(ns + 'Row'):
    row = int(r.get(ns + 'Index', row + 1))
    col = 0
    for c in r.findall(ns + 'Cell'):
        col = int(c.get(ns + 'Index', col + 1))
        d = c.find(ns + 'Data')
        print(row, col, d.get(ns + 'Type'), (d.text or '').encode('utf-8').hex() or '-')
)";

std::string Hex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

struct ReadBack {
    std::string widths;
    std::map<std::pair<int, int>, std::pair<std::string, std::string>> cells;  // type, text
};

// Writes the document of `sheet` and reads it back; false when Python is missing or refused it.
bool RenderAndReadBack(const WorkbookSheet& sheet, ReadBack& result, std::string& failure) {
    const ScratchDirectory scratch("xml_spreadsheet");
    const std::filesystem::path& dir = scratch.path();
    const std::string document = RenderXmlSpreadsheet(sheet);
    std::ofstream(dir / "read.py") << kReaderScript;
    std::ofstream(dir / "sheet.xml", std::ios::binary) << document;
    const std::string command =
        "python3 " + (dir / "read.py").string() + " " + (dir / "sheet.xml").string() + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    const int status = pipe != nullptr ? ::pclose(pipe) : -1;
    if (status != 0) {
        failure = "python3 could not read the document: " + output;
        return false;
    }
    std::istringstream lines(output);
    std::string line;
    std::getline(lines, result.widths);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        int row = 0;
        int column = 0;
        std::string type;
        std::string hex;
        fields >> row >> column >> type >> hex;
        result.cells[{row, column}] = {type, hex == "-" ? "" : Hex(hex)};
    }
    return true;
}

WorkbookCell Text(int row, int column, std::string text) {
    WorkbookCell cell;
    cell.row = row;
    cell.column = column;
    cell.isText = true;
    cell.text = std::move(text);
    return cell;
}

WorkbookCell Number(int row, int column, double number) {
    WorkbookCell cell;
    cell.row = row;
    cell.column = column;
    cell.number = number;
    return cell;
}

bool HavePython() {
    return std::system("python3 -c pass >/dev/null 2>&1") == 0;
}

// Hostile texts, every kind of double and cells given out of order all come back from a strict
// XML parser: markup escaped, line breaks and TABs kept, characters XML cannot hold and bytes
// that are not UTF-8 replaced by U+FFFD, numbers to the last bit, non-finite numbers as text,
// cells in their places, the later of two in one place kept and cells outside the sheet left out.
TEST(XmlSpreadsheet, StrictParserReadsBackEveryCell) {
    if (!HavePython()) {
        GTEST_SKIP() << "python3 is not installed: the document is not read back";
    }
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    const std::pair<std::string, std::string> texts[] = {
        {"<a&b>\"' ]]>", "<a&b>\"' ]]>"},
        {"ctl\x01\x08\x0B\x0C\x1F\x7F.", "ctl" + r + r + r + r + r + "\x7F."},
        {std::string("nul\0.", 5), "nul" + r + "."},
        {"tab\tlf\ncr\r.", "tab\tlf\ncr\r."},
        {"\xFF\xFE \xC0\xAF \xE2\x82 \xED\xA0\x80 \xF4\x90\x80\x80 \xE2\x82",
         r + r + " " + r + r + " " + r + r + " " + r + r + r + " " + r + r + r + r + " " + r + r},
        {"ok \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "ok \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\xEF\xBF\xBE\xEF\xBF\xBF", r + r},
    };
    const double numbers[] = {
        0.1, 1.0 / 3.0, -0.0, 1e-300, 5e-324, DBL_MAX, -2.5e-7, 123456789012345678.0, 25.3};

    WorkbookSheet sheet;
    int column = 1;
    for (const auto& text : texts) {
        sheet.push_back(Text(1, column++, text.first));
    }
    column = 1;
    for (const double number : numbers) {
        sheet.push_back(Number(3, column++, number));
    }
    sheet.push_back(Number(4, 1, std::numeric_limits<double>::infinity()));
    sheet.push_back(Number(4, 2, -std::numeric_limits<double>::infinity()));
    sheet.push_back(Number(4, 3, std::nan("")));
    sheet.push_back(Text(9, 7, "late"));
    sheet.push_back(Text(2, 5, "out of order"));
    sheet.push_back(Text(9, 2, "first"));
    sheet.push_back(Text(9, 2, "second"));
    sheet.push_back(Text(0, 1, "row 0"));
    sheet.push_back(Text(1, kWorkbookMaxColumns + 1, "beyond the last column"));
    sheet.push_back(Text(kWorkbookMaxRows + 1, 1, "beyond the last row"));
    sheet.push_back(Text(kWorkbookMaxRows, kWorkbookMaxColumns, "last cell"));

    ReadBack back;
    std::string failure;
    ASSERT_TRUE(RenderAndReadBack(sheet, back, failure)) << failure;

    EXPECT_EQ(back.widths, "widths 66.75 66.75 16383");
    const auto expectText = [&](int row, int col, const std::string& text) {
        const auto it = back.cells.find({row, col});
        ASSERT_NE(it, back.cells.end()) << "no cell at " << row << ", " << col;
        EXPECT_EQ(it->second.first, "String") << row << ", " << col;
        EXPECT_EQ(it->second.second, text) << row << ", " << col;
    };
    column = 1;
    for (const auto& text : texts) {
        expectText(1, column++, text.second);
    }
    column = 1;
    for (const double number : numbers) {
        const auto it = back.cells.find({3, column++});
        ASSERT_NE(it, back.cells.end());
        EXPECT_EQ(it->second.first, "Number");
        const double read = std::strtod(it->second.second.c_str(), nullptr);
        EXPECT_EQ(read, number) << it->second.second;
        EXPECT_EQ(std::signbit(read), std::signbit(number)) << it->second.second;
    }
    expectText(4, 1, "inf");
    expectText(4, 2, "-inf");
    expectText(4, 3, "nan");
    expectText(2, 5, "out of order");
    expectText(9, 2, "second");
    expectText(9, 7, "late");
    expectText(kWorkbookMaxRows, kWorkbookMaxColumns, "last cell");
    const std::size_t expectedCount = std::size(texts) + std::size(numbers) + 3 + 4;
    EXPECT_EQ(back.cells.size(), expectedCount);
}

}  // namespace
