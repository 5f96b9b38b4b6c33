#include "dialogs/dlg_options.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>

#include "res/aux_dialog_templates.h"
#include "res/dialog_builder.h"
#include "res/resource.h"

CDlgOptions::CDlgOptions(QWidget* parent) : QDialog(parent) {
    const DlgTemplate& dlgTemplate = Template129();
    setWindowTitle(QString::fromUtf8(dlgTemplate.caption));
    const DialogControls controls = BuildDialogControls(this, dlgTemplate, nullptr);
    const auto control = [&](int id) { return controls.byId.at(id); };
    m_multithreading = static_cast<QCheckBox*>(control(IDC_OPT_MULTITHREADING));
    m_direct2D = static_cast<QCheckBox*>(control(IDC_OPT_DIRECT2D));
    m_mirrorX = static_cast<QCheckBox*>(control(IDC_OPT_MIRROR_X));
    m_mirrorY = static_cast<QCheckBox*>(control(IDC_OPT_MIRROR_Y));
    m_mirrorBoth = static_cast<QCheckBox*>(control(IDC_OPT_MIRROR_BOTH));
    m_kelvin = static_cast<QRadioButton*>(control(IDC_OPT_KELVIN));
    m_celsius = static_cast<QRadioButton*>(control(IDC_OPT_CELSIUS));
    m_fahrenheit = static_cast<QRadioButton*>(control(IDC_OPT_FAHRENHEIT));

    connect(m_mirrorX, &QCheckBox::clicked, this, [this] { OnMirrorClicked(1); });
    connect(m_mirrorY, &QCheckBox::clicked, this, [this] { OnMirrorClicked(2); });
    connect(m_mirrorBoth, &QCheckBox::clicked, this, [this] { OnMirrorClicked(3); });
    auto* ok = static_cast<QPushButton*>(control(IDOK));
    auto* cancel = static_cast<QPushButton*>(control(IDCANCEL));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool CDlgOptions::OnInitDialog() {
    m_multithreading->setChecked(true);
    m_direct2D->setChecked(true);
    m_mirrorX->setChecked(m_mirrorMode == 1);
    m_mirrorY->setChecked(m_mirrorMode == 2);
    m_mirrorBoth->setChecked(m_mirrorMode == 3);
    if (m_tempUnit == kUnitKelvin) {
        m_kelvin->setChecked(true);
    } else if (m_tempUnit == kUnitCelsius) {
        m_celsius->setChecked(true);
    } else if (m_tempUnit == kUnitFahrenheit) {
        m_fahrenheit->setChecked(true);
    }
    return true;
}

int CDlgOptions::DoModal() {
    OnInitDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

bool CDlgOptions::EditOptions(QWidget* parent, int& mirrorMode, int& tempUnit) {
    CDlgOptions dialog(parent);
    dialog.SetMirrorMode(mirrorMode);
    dialog.SetTempUnit(tempUnit);
    if (dialog.DoModal() != IDOK) {
        return false;
    }
    mirrorMode = dialog.GetMirrorMode();
    tempUnit = dialog.GetTempUnit();
    return true;
}

void CDlgOptions::OnMirrorClicked(int clicked) {
    const bool x = m_mirrorX->isChecked();
    const bool y = m_mirrorY->isChecked();
    const bool both = m_mirrorBoth->isChecked();
    if (x && y) {
        // Mirroring along X and along Y is mirroring along both.
        m_mirrorX->setChecked(false);
        m_mirrorY->setChecked(false);
        m_mirrorBoth->setChecked(true);
    } else if (x && both) {
        (clicked == 1 ? m_mirrorBoth : m_mirrorX)->setChecked(false);
    } else if (y && both) {
        (clicked == 2 ? m_mirrorBoth : m_mirrorY)->setChecked(false);
    }
}

void CDlgOptions::accept() {
    m_mirrorMode = m_mirrorX->isChecked()      ? 1
                   : m_mirrorY->isChecked()    ? 2
                   : m_mirrorBoth->isChecked() ? 3
                                               : 0;
    m_tempUnit = m_kelvin->isChecked()    ? kUnitKelvin
                 : m_celsius->isChecked() ? kUnitCelsius
                                          : kUnitFahrenheit;
    QDialog::accept();
}
