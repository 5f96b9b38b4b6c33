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

#include "frame/conversion.h"

CDlgColourScale::CDlgColourScale(QWidget* parent, int readoutUnit, bool automatic,
                                 const QString& low, const QString& high)
    : QDialog(parent), m_readoutUnit(readoutUnit) {
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
    auto* unit = new QLabel(UnitName(readoutUnit), this);
    unit->setObjectName(QStringLiteral("unit"));
    fixedRow->addWidget(unit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    // The dialog grows with the message line when it shows, so that its lines are never cut.
    layout->setSizeConstraint(QLayout::SetFixedSize);
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

QString CDlgColourScale::UnitName(int readoutUnit) {
    switch (readoutUnit) {
        case kReadoutUnitVolts:
            return QStringLiteral("V");
        case kUnitKelvin:
            return QStringLiteral("K");
        case kUnitCelsius:
            return QStringLiteral("°C");
        default:
            return QStringLiteral("°F");
    }
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
    } else {
        problem = OutOfRange(name, value, text);
    }
    if (!problem.isEmpty()) {
        ShowMessage(problem);
        return false;
    }
    return true;
}

QString CDlgColourScale::OutOfRange(const QString& name, double value, const QString& text) const {
    const bool isVolts = m_readoutUnit == kReadoutUnitVolts;
    // Half a last digit of the readouts to spare: a limit typed as the readouts show it is taken.
    const int decimals = isVolts ? 3 : 1;
    const double slack = 0.5 * std::pow(10.0, -decimals);
    const ReadoutRange range = ReadoutRangeOf(m_readoutUnit);
    const QString unit = UnitName(m_readoutUnit);
    const auto limit = [&](float number) { return QString::number(number, 'f', decimals); };
    if (value < range.lowest - slack) {
        return isVolts ? tr("%1 is below %2 %3, the lowest value a frame holds: '%4'.")
                             .arg(name, limit(range.lowest), unit, text)
                       : tr("%1 is below absolute zero (%2 %3): '%4'.")
                             .arg(name, limit(range.lowest), unit, text);
    }
    if (value > range.highest + slack) {
        return tr("%1 is above %2 %3, the highest value a frame holds: '%4'.")
            .arg(name, limit(range.highest), unit, text);
    }
    return {};
}

void CDlgColourScale::ShowMessage(const QString& text) {
    m_pMessage->setText(text);
    m_pMessage->show();
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
            ShowMessage(tr("LOW (%1) is above HIGH (%2).")
                            .arg(m_pLowEdit->text().trimmed(), m_pHighEdit->text().trimmed()));
            return;
        }
        m_low = low;
        m_high = high;
    }
    QDialog::accept();
}
