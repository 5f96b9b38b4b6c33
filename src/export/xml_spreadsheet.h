#pragma once
// The XML Spreadsheet 2003 document (the spreadsheet application's file format 46, which Excel
// and LibreOffice Calc open although the workbooks' names end in ".xls") of one worksheet.
// Pure functions, any thread.
#include <string>
#include <string_view>

#include "export/workbook_sheet.h"

// Every column of the workbooks is this many characters of the default font wide.
inline constexpr int kWorkbookColumnWidthCharacters = 12;

// The whole document: one worksheet named "Sheet1" holding `sheet`'s cells, every column 12
// characters wide. Cells outside the largest sheet are left out; of two cells in the same place
// the later one is kept. Number cells are written in the shortest form that reads back as the
// same double; a non-finite number, which no spreadsheet holds, is written as its text.
std::string RenderXmlSpreadsheet(const WorkbookSheet& sheet);

// Appends `text` as XML character data: the markup characters as entities, TAB, LF and CR as
// character references so that they survive a reader's line-end normalisation, and every
// character XML 1.0 cannot hold (other control characters, U+FFFE, U+FFFF) and every byte that is
// not part of valid UTF-8 as U+FFFD, so that no text makes the document unreadable.
void AppendXmlText(std::string_view text, std::string& out);
