#include "dialogs/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "res/dialog_builder.h"
#include "res/resource.h"

CAboutDlg::CAboutDlg(QWidget* parent, const QIcon& icon) : QDialog(parent) {
    const DlgTemplate& dlgTemplate = Template100();
    setWindowTitle(QString::fromUtf8(dlgTemplate.caption));
    const auto factory = [&icon](const DlgControl& control, QWidget* parentWidget) -> QWidget* {
        if (control.id != IDC_ABOUT_ICON) {
            return nullptr;
        }
        auto* label = new QLabel(parentWidget);
        label->setPixmap(icon.pixmap(32, 32));
        return label;
    };
    const DialogControls controls = BuildDialogControls(this, dlgTemplate, factory);
    connect(static_cast<QPushButton*>(controls.byId.at(IDOK)), &QPushButton::clicked, this,
            &QDialog::accept);
}
