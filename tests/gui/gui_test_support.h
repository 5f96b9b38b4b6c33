#pragma once
// Helpers shared by the GUI tests: a main dialog on a private program directory.
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "app/mfc_velk_dlg.h"

// A started-up main dialog whose optional files are looked up in dir.
inline std::unique_ptr<CmfcVELKDlg> MakeDialog(const QTemporaryDir& dir,
                                               ViewerOptions options = {}) {
    options.appDir = dir.path().toStdString() + "/";
    auto dlg = std::make_unique<CmfcVELKDlg>(nullptr, options);
    dlg->OnInitDialog();
    return dlg;
}
