#include "dialogs/dlg_colour_scale.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cfloat>
#include <cmath>

CDlgColourScale::CDlgColourScale(QWidget* parent, const QString& unit, bool automatic,
                                 const QString& low, const QString& high)
    : QDialog(parent) {
    setWindowTitle(tr("Colour scale"));
    setModal(true);
    m_pAutomatic = new QRadioButton(tr("Automatic (each frame's minimum to maximum)"), this);
    m_pAutomatic->setObjectName(QStringLiteral("automatic"));
    m_pFixed = new QRadioButton(tr("Fixed from"), this);
    m_pFixed->setObjectName(QStringLiteral("fixed"));
    m_pLowEdit = new QLineEdit(low, this);
    m_pLowEdit->setObjectName(QStringLiteral("low"));
    m_pHighEdit = new QLineEdit(high, this);
    m_pHighEdit->setObjectName(QStringLiteral("high"));
    m_pMessage = new QLabel(this);
    m_pMessage->setObjectName(QStringLiteral("message"));
    m_pMessage->setWordWrap(true);
    m_pMessage->hide();

    auto* fixedRow = new QHBoxLayout;
    fixedRow->addWidget(m_pFixed);
    fixedRow->addWidget(m_pLowEdit);
    fixedRow->addWidget(new QLabel(tr("to"), this));
    fixedRow->addWidget(m_pHighEdit);
    fixedRow->addWidget(new QLabel(unit, this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pAutomatic);
    layout->addLayout(fixedRow);
    layout->addWidget(m_pMessage);
    layout->addWidget(buttons);

    (automatic ? m_pAutomatic : m_pFixed)->setChecked(true);
    UpdateEnabled();
    connect(m_pFixed, &QRadioButton::toggled, this, &CDlgColourScale::UpdateEnabled);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgColourScale::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgColourScale::reject);
}

bool CDlgColourScale::IsAutomatic() const {
    return m_pAutomatic->isChecked();
}

void CDlgColourScale::UpdateEnabled() {
    m_pLowEdit->setEnabled(m_pFixed->isChecked());
    m_pHighEdit->setEnabled(m_pFixed->isChecked());
    if (m_pFixed->isChecked() && m_pLowEdit->text().isEmpty()) {
        m_pLowEdit->setFocus();
    }
}

bool CDlgColourScale::ReadBound(const QLineEdit* edit, const QString& name, double& value) {
    // The C locale whatever the desktop's, so that a decimal point is one everywhere, and without
    // thousands separators, so that "1,500" typed for 1.5 is refused rather than read as 1500.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    const QString text = edit->text().trimmed();
    bool ok = false;
    value = c.toDouble(text, &ok);
    QString problem;
    if (text.isEmpty()) {
        problem = tr("Enter a number for %1.").arg(name);
    } else if (!ok) {
        problem = tr("%1 is not a number: '%2'. Write it with a decimal point, e.g. 25.5.")
                      .arg(name, text);
    } else if (!std::isfinite(value) || std::fabs(value) > FLT_MAX) {
        // The scale holds its bounds as floats.
        problem = tr("%1 is out of range: '%2'.").arg(name, text);
    }
    if (!problem.isEmpty()) {
        m_pMessage->setText(problem);
        m_pMessage->show();
        return false;
    }
    return true;
}

void CDlgColourScale::accept() {
    if (m_pFixed->isChecked()) {
        double low = 0;
        double high = 0;
        if (!ReadBound(m_pLowEdit, tr("LOW"), low) || !ReadBound(m_pHighEdit, tr("HIGH"), high)) {
            return;
        }
        // Equal bounds are allowed: every pixel is then drawn in the scale's lowest or highest
        // colour, a threshold picture.
        if (low > high) {
            m_pMessage->setText(
                tr("LOW (%1) is above HIGH (%2).")
                    .arg(m_pLowEdit->text().trimmed(), m_pHighEdit->text().trimmed()));
            m_pMessage->show();
            return;
        }
        m_low = low;
        m_high = high;
    }
    QDialog::accept();
}
