#include "app/calibration_export.h"

#include <QStandardPaths>
#include <QString>

#include "export/snapshot_names.h"
#include "export/workbook_export.h"

CCalibrationExport::CCalibrationExport(std::string programDir, std::function<void(std::string)> log)
    : m_programDir(std::move(programDir)),
      m_picturesDir(
          QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString()),
      m_log(std::move(log)) {
    // One workbook at a time, in the order the tables came.
    m_threads.setMaxThreadCount(1);
}

ExportDirectory CCalibrationExport::DirectoryNow() const {
    return ChooseExportDirectory(m_programDir, m_picturesDir);
}

void CCalibrationExport::ExportLater(std::string replyText) {
    // Named after the time the table arrived, not the time the thread gets to it.
    const std::tm arrived = LocalTimeNow();
    m_threads.start([this, arrived, text = std::move(replyText)] {
        const ExportDirectory dir = DirectoryNow();
        if (!dir.error.empty()) {
            m_log("[Calibration]Nothing saved: " + dir.error + "\r\n");
            return;
        }
        const std::string name = CalibrationWorkbookName(arrived);
        // The module writes single-byte text; the workbook holds UTF-8.
        const std::string utf8 =
            QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())).toStdString();
        std::string error;
        if (CWorkbookExport().ExportCalibration(dir.path + name, utf8, &error)) {
            m_log("[Calibration]Saved " + name + " in " + dir.path + "\r\n");
        } else {
            m_log("[Calibration]" + error + "\r\n");
        }
    });
}
