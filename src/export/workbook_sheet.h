#pragma once
// The cells of one worksheet as the workbook writers fill them: a sparse list, row by row and
// left to right within a row, rows and columns numbered from 1. Filled by pure functions so that
// the placement can be checked without reading the file format back.
#include <string>
#include <vector>

struct WorkbookCell {
    int row = 1;
    int column = 1;
    bool isText = false;
    double number = 0.0;  // the value of a number cell
    std::string text;     // the value of a text cell, UTF-8
};

using WorkbookSheet = std::vector<WorkbookCell>;

// The largest sheet spreadsheet applications open (Excel since 2007, LibreOffice since 7.4 with
// large sheets on): cells beyond it cannot be stored and are left out.
inline constexpr int kWorkbookMaxRows = 1048576;
inline constexpr int kWorkbookMaxColumns = 16384;
