#include "app/mfc_velk_app.h"

#include <QTimer>
#include <cstdio>

#include "app/startup_report.h"

bool CmfcVELKApp::InitInstance() {
    CmfcVELKDlg dlg(nullptr, m_options);
    dlg.OnInitDialog();
    if (m_options.startupReport) {
        QTimer::singleShot(0, &dlg, [&dlg] {
            PrintStartupReport(stdout);
            dlg.close();
        });
    }
    dlg.exec();
    return false;
}
