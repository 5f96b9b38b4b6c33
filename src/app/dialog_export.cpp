// Snapshots and the clipboard: "Picture and Temperature Data", "Copy Data", "Screenshot" (hidden
// in the window, also in the context menu) and the context menu item that asks the module for
// its calibration table (CCalibrationExport writes it).
#include <QAbstractButton>
#include <QAction>
#include <QString>

#include "app/clipboard_writer.h"
#include "app/mfc_velk_dlg.h"
#include "export/snapshot_files.h"
#include "export/snapshot_names.h"
#include "processing/image_scaling.h"
#include "res/resource.h"

void CmfcVELKDlg::ConnectExportHandlers() {
    const auto onClick = [this](int id, void (CmfcVELKDlg::*handler)()) {
        connect(static_cast<QAbstractButton*>(GetDlgItem(id)), &QAbstractButton::clicked, this,
                handler);
    };
    onClick(IDC_PICTURE_DATA, &CmfcVELKDlg::OnSavePictureAndData);
    onClick(IDC_COPY_DATA, &CmfcVELKDlg::OnCopyData);
    onClick(IDC_SCREENSHOT, &CmfcVELKDlg::OnScreenshot);

    // The buttons of these stay hidden as the window has always had them; the context menu
    // shows the dialog's actions above its about item.
    const auto addItem = [this](const char* text, void (CmfcVELKDlg::*handler)()) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
    };
    addItem("Copy data", &CmfcVELKDlg::OnCopyData);
    addItem("Copy image", &CmfcVELKDlg::OnScreenshot);
    addItem("Export calibration constants", &CmfcVELKDlg::OnCalibrationConstants);
}

std::vector<uint8_t> CmfcVELKDlg::LastImage() {
    std::lock_guard lock(m_lastImageLock);
    if (!m_pLastImage) {
        return {};
    }
    return std::vector<uint8_t>(m_pLastImage.get(), m_pLastImage.get() + kImageBytes);
}

void CmfcVELKDlg::OnSavePictureAndData() {
    // Copies, so that frames arriving meanwhile do not change what is saved.
    const std::string text = CopyText();
    if (text.empty()) {
        return;  // no frame yet
    }
    const std::vector<uint8_t> image = LastImage();
    if (image.empty()) {
        return;
    }
    const std::tm now = LocalTimeNow();
    const ExportDirectory dir = m_calibrationExport.DirectoryNow();
    if (!dir.error.empty()) {
        AppendLog("[Snapshot]Nothing saved: " + dir.error + "\r\n");
        return;
    }
    const SnapshotFiles files =
        WriteSnapshotFiles(dir.path, now, image.data(), kImageWidth, kImageHeight, text);
    std::string saved;
    if (files.pictureError.empty()) {
        saved = files.pictureName;
    }
    if (files.workbookError.empty()) {
        saved += (saved.empty() ? "" : " and ") + files.workbookName;
    }
    std::string errors = files.pictureError;
    if (!files.workbookError.empty()) {
        errors += (errors.empty() ? "" : "; ") + files.workbookError;
    }
    if (!saved.empty()) {
        AppendLog("[Snapshot]Saved " + saved + " in " + dir.path + "\r\n");
    }
    if (!errors.empty()) {
        AppendLog("[Snapshot]" + errors + "\r\n");
    }
}

void CmfcVELKDlg::OnCopyData() {
    CClipboardWriter().CopyText(CopyText());
}

void CmfcVELKDlg::OnScreenshot() {
    const std::vector<uint8_t> image = LastImage();
    if (!image.empty()) {
        CClipboardWriter().CopyImage(kImageWidth, kImageHeight, image.data());
    }
}
