// The smallest Qt widgets program that shows a dialog of the viewer's size: the baseline for the
// start-up benchmark. It prints when the dialog is shown and quits at once, like the viewer does
// with --startup-report.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <cstdio>

#include "app/startup_report.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setFixedSize(1044, 656);
    QLabel label(QStringLiteral("baseline"), &dialog);
    QTimer::singleShot(0, &dialog, [&dialog] {
        PrintStartupReport(stdout);
        dialog.close();
    });
    dialog.show();
    return app.exec();
}
