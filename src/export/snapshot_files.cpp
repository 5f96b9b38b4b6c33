#include "export/snapshot_files.h"

#include "export/bitmap_file.h"
#include "export/snapshot_names.h"
#include "export/workbook_export.h"

SnapshotFiles WriteSnapshotFiles(const std::string& dir, const std::tm& local, const uint8_t* image,
                                 int width, int height, const std::string& dataText) {
    SnapshotFiles files{SnapshotPictureName(local), SnapshotWorkbookName(local), {}, {}};
    const std::string picturePath = dir + files.pictureName;
    if (SaveBitmapFile(image, width, height, 3, picturePath, 0, 0, &files.pictureError) !=
            kBitmapSaved &&
        files.pictureError.empty()) {
        files.pictureError = "no picture to save in '" + picturePath + "'";
    }
    CWorkbookExport workbook;
    workbook.ExportFrameData(dir + files.workbookName, dataText, picturePath, &files.workbookError);
    return files;
}
