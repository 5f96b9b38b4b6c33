#pragma once
// The two spreadsheet workbooks the viewer saves: the numbers of the last frame's data text
// beside a picture snapshot (GUI thread), and the module's calibration constants table after
// its `w` reply (serial monitor thread). Each is written as an XML Spreadsheet 2003 document
// through a temporary file renamed over the target when complete, so a failed write leaves
// nothing half-written at the path. Without state: any thread, any number of calls at once.
// Both calls take a few milliseconds for the largest texts the module sends.
#include <string>

class CWorkbookExport {
  public:
    // Writes the frame-data workbook to path. picturePath is accepted and not used.
    // Returns false and fills *error (one line, e.g. "cannot write '/x/y.xls': No space left on
    // device") when the file could not be written; nothing half-written is left under path.
    bool ExportFrameData(const std::string& path, const std::string& dataText,
                         const std::string& picturePath, std::string* error = nullptr);
    // Writes the calibration workbook from the complete text of the `w` reply.
    bool ExportCalibration(const std::string& path, const std::string& replyText,
                           std::string* error = nullptr);
};
