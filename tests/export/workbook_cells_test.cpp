#include "export/workbook_cells.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

struct ExpectedCell {
    int row;
    int column;
    bool isText;
    double number;
    std::string text;
};

ExpectedCell Num(int row, int column, double number) {
    return {row, column, false, number, {}};
}

ExpectedCell Txt(int row, int column, std::string text) {
    return {row, column, true, 0.0, std::move(text)};
}

struct CellCase {
    const char* name;
    bool isCalibration;  // FillCalibrationSheet, else FillNumberRows
    std::string input;
    std::vector<ExpectedCell> expected;
};

std::string Fields(int count) {
    std::string line;
    for (int i = 1; i <= count; ++i) {
        line += std::to_string(i);
        line += '\t';
    }
    return line;
}

std::vector<ExpectedCell> NumberRow(int row, int count) {
    std::vector<ExpectedCell> cells;
    for (int i = 1; i <= count; ++i) {
        cells.push_back(Num(row, i, i));
    }
    return cells;
}

std::vector<CellCase> CellCases() {
    return {
        {"TwoLinesOfNumbers",
         false,
         "1.5\t2\t\r\n3\t\r\n",
         {Num(1, 1, 1.5), Num(1, 2, 2.0), Num(2, 1, 3.0)}},
        {"FortyFieldsFillThirtyTwoColumns", false, Fields(40) + "\r\n", NumberRow(1, 32)},
        // The LF after the last CR counts among the characters of the rest.
        {"ShortUnterminatedLastLineLeftOut", false, "1\t2\t\r\n1\t2\t3", NumberRow(1, 2)},
        {"SevenCharacterLastLineKept",
         false,
         "1\t2\t\r\n1\t255\t",
         {Num(1, 1, 1.0), Num(1, 2, 2.0), Num(2, 1, 1.0), Num(2, 2, 255.0)}},
        // Characters, not bytes: LF, three accented letters and TAB are eight bytes but five
        // characters.
        {"ShortLastLineCountsCharacters",
         false,
         "1\t\r\n\xC3\xA9\xC3\xA9\xC3\xA9\t",
         {Num(1, 1, 1.0)}},
        {"TextAfterLastTabIsNoField", false, "1\t2\t3\r\n", NumberRow(1, 2)},
        {"EmptyLinesKeepTheirRow", false, "\r\n\r\n5\t\r\n", {Num(3, 1, 5.0)}},
        {"FieldsReadLikeStrtod",
         false,
         " +25.3\tabc\t\t12abc\t0x10\t-1e-3\t1,5\t.5e1\t\r\n",
         {Num(1, 1, 25.3), Num(1, 2, 0.0), Num(1, 3, 0.0), Num(1, 4, 12.0), Num(1, 5, 16.0),
          Num(1, 6, -0.001), Num(1, 7, 1.0), Num(1, 8, 5.0)}},
        {"EmptyFieldDoesNotReadTheNextOne", false, "\t7\t\r\n", {Num(1, 1, 0.0), Num(1, 2, 7.0)}},
        {"NonFiniteNumbersBecomeText",
         false,
         "1e999\t -inf\tnan\tInfinityX\t\r\n",
         {Txt(1, 1, "1e999"), Txt(1, 2, "-inf"), Txt(1, 3, "nan"), Txt(1, 4, "Infinity")}},
        {"AmbientLabelsJoinTheTokenBefore",
         true,
         "Ambient 1: 300 2: 301\r\n",
         {Txt(1, 1, "Ambient1:"), Txt(1, 2, "3002:"), Txt(1, 3, "301")}},
        // The label first joins the empty token, which then is a label itself; a label is two
        // characters, however many bytes.
        {"AmbientJoinRepeatsUntilNoLabelIsLeft",
         true,
         "AMBIENT  1: x: 300 \xC3\xA9:\r\n",
         {Txt(1, 1, "AMBIENT1:x:"), Txt(1, 2, "300\xC3\xA9:")}},
        {"LowerCaseNrEndsTheHeader",
         true,
         "PTAT1 1\r\nnr. Row\r\nPTAT1 2\r\n",
         {Txt(1, 1, "PTAT1"), Txt(1, 2, "1"), Txt(2, 1, "nr."), Txt(2, 2, "Row"),
          Txt(4, 1, "PTAT1 2")}},
        {"NrLineDropsTokensOfOneCharacter",
         true,
         "Nr. X ab\t\tc \xC3\xA9 Gain\r\n",
         {Txt(1, 1, "Nr."), Txt(1, 2, "ab"), Txt(1, 3, "Gain")}},
        {"TableLineIsTrimmedBeforeCutting",
         true,
         "Nr.\r\n  \t0\t1\t\t2  \r\n",
         {Txt(1, 1, "Nr."), Txt(3, 1, "0"), Txt(3, 2, "1"), Txt(3, 4, "2")}},
        {"UnknownFirstTokenWritesNothingButTakesItsRow",
         true,
         "Module 7\r\n\r\nptat-GRADIENT  0.5\r\nArraytype\r\n",
         {Txt(3, 1, "ptat-GRADIENT"), Txt(3, 3, "0.5"), Txt(4, 1, "Arraytype")}},
        {"LastLineWithoutCrBelongsToTheTable",
         true,
         "Nr.\r\n\r\n991\t31\t31",
         {Txt(1, 1, "Nr."), Txt(4, 1, "991"), Txt(4, 2, "31"), Txt(4, 3, "31")}},
        {"NoNrLineKeepsEverythingHeader",
         true,
         "Written x\r\n5\t6\r\n",
         {Txt(1, 1, "Written"), Txt(1, 2, "x")}},
    };
}

std::string Describe(const WorkbookCell& cell) {
    std::ostringstream out;
    out << "cell (" << cell.row << ", " << cell.column << ") ";
    if (cell.isText) {
        out << "text '" << cell.text << "'";
    } else {
        out << "number " << cell.number;
    }
    return out.str();
}

TEST(WorkbookCells, PlacesEveryExampleInItsCell) {
    for (const CellCase& c : CellCases()) {
        SCOPED_TRACE(c.name);
        const WorkbookSheet sheet =
            c.isCalibration ? FillCalibrationSheet(c.input) : FillNumberRows(c.input);
        ASSERT_EQ(sheet.size(), c.expected.size());
        for (std::size_t i = 0; i < sheet.size(); ++i) {
            const WorkbookCell& cell = sheet[i];
            const ExpectedCell& expected = c.expected[i];
            SCOPED_TRACE(Describe(cell));
            EXPECT_EQ(cell.row, expected.row);
            EXPECT_EQ(cell.column, expected.column);
            EXPECT_EQ(cell.isText, expected.isText);
            if (expected.isText) {
                EXPECT_EQ(cell.text, expected.text);
            } else {
                EXPECT_EQ(cell.number, expected.number);
            }
        }
    }
}

}  // namespace
