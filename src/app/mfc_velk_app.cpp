#include "app/mfc_velk_app.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "app/close_on_signal.h"
#include "app/startup_report.h"

namespace {

// SIGINT and SIGTERM close the window through the normal close sequence, so the module is
// told to stop and recordings are closed whole. The handler only writes a byte; the GUI thread
// reads it.
int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
}

}  // namespace

bool CmfcVELKApp::InitInstance() {
    CmfcVELKDlg dlg(nullptr, m_options);
    dlg.OnInitDialog();

    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &dlg, [&dlg] {
            char byte = 0;
            [[maybe_unused]] const ssize_t n = read(g_signalPipe[0], &byte, 1);
            CloseDialogsThenWindow(&dlg);
        });
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }

    if (m_options.startupReport) {
        QTimer::singleShot(0, &dlg, [&dlg] {
            PrintStartupReport(stdout);
            dlg.close();
        });
    }
    dlg.exec();

    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signalNotifier.reset();
    for (int& fd : g_signalPipe) {
        if (fd >= 0) {
            close(fd);
        }
        fd = -1;
    }
    return false;
}
