#include "app/mfc_velk_app.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/close_on_signal.h"
#include "app/startup_report.h"
#include "platform/stop_signals.h"

bool CmfcVELKApp::InitInstance() {
    CmfcVELKDlg dlg(nullptr, m_options);
    dlg.OnInitDialog();

    // SIGINT and SIGTERM close the window through the normal close sequence, so the module is
    // told to stop and recordings are closed whole. The GUI thread learns of them from the
    // catcher's descriptor.
    CStopSignals stopSignals;
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (stopSignals.WakeFd() >= 0) {
        signalNotifier =
            std::make_unique<QSocketNotifier>(stopSignals.WakeFd(), QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &dlg,
                         [&dlg, &stopSignals] {
                             stopSignals.DrainWakeFd();
                             CloseDialogsThenWindow(&dlg);
                         });
    }

    if (m_options.startupReport) {
        QTimer::singleShot(0, &dlg, [&dlg] {
            PrintStartupReport(stdout);
            dlg.close();
        });
    }
    dlg.exec();
    signalNotifier.reset();
    return false;
}
