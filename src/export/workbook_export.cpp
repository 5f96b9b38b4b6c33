#include "export/workbook_export.h"

#include "export/atomic_file.h"
#include "export/workbook_cells.h"
#include "export/xml_spreadsheet.h"

namespace {

bool WriteWorkbook(const std::string& path, const WorkbookSheet& sheet, std::string* error) {
    const std::string document = RenderXmlSpreadsheet(sheet);
    return WriteFileAtomically(path, document.data(), document.size(), error);
}

}  // namespace

bool CWorkbookExport::ExportFrameData(const std::string& path, const std::string& dataText,
                                      const std::string& /*picturePath*/, std::string* error) {
    return WriteWorkbook(path, FillNumberRows(dataText), error);
}

bool CWorkbookExport::ExportCalibration(const std::string& path, const std::string& replyText,
                                        std::string* error) {
    return WriteWorkbook(path, FillCalibrationSheet(replyText), error);
}
