#include "app/close_on_signal.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>

void CloseDialogsThenWindow(QWidget* window) {
    QWidget* top = QApplication::activePopupWidget();
    if (top == nullptr) {
        top = QApplication::activeModalWidget();
    }
    if (top == nullptr || top == window) {
        window->close();
        return;
    }
    // A message box without an Escape button ignores close(); reject() ends any dialog.
    if (auto* dialog = qobject_cast<QDialog*>(top)) {
        dialog->reject();
    } else {
        top->close();
    }
    QTimer::singleShot(20, window, [guard = QPointer<QWidget>(window)] {
        if (guard) {
            CloseDialogsThenWindow(guard);
        }
    });
}
