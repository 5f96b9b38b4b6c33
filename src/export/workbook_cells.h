#pragma once
// What goes into the two workbooks: the numbers of a frame's data text and the text of the
// module's calibration constants table, placed in rows and columns. Pure functions, any thread.
#include <string_view>

#include "export/workbook_sheet.h"

// The data text cut into lines at CR and into fields at TAB: field j of line k becomes the number
// in row k + 1, column j + 1, for at most 32 TAB-terminated fields per line (text after a line's
// last TAB is not a field). After the last CR the rest counts as a line only when it holds more
// than 6 characters. A field reads as strtod reads it in the C locale, whatever the process's
// locale: leading white space skipped, the number ends at the first character that cannot
// belong to it, no number gives 0. A field that reads as infinite or not a number (from "1e999"
// or "inf") becomes a text cell holding the characters that were read, because spreadsheets
// hold no such numbers.
WorkbookSheet FillNumberRows(std::string_view dataText);

// The `w` reply cut into lines at CR, each trimmed of white space. Header lines (up to and
// including the first line whose first token is "Nr.") are cut into tokens at spaces and TABs;
// lines starting with a known keyword (any case) put token j in row k + 1, column j + 1, "Ambient"
// lines after joining each "<c>:" token to the one before it, the "Nr." line without its tokens
// of fewer than two characters. Table lines after it are cut at TABs; field j of line k goes to
// row k + 2, column j + 1, leaving an empty row before the table. Empty tokens and fields leave
// their cell empty but keep their column.
WorkbookSheet FillCalibrationSheet(std::string_view replyText);
