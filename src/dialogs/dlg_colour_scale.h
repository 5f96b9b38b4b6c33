#pragma once
// CDlgColourScale: the small modal dialog behind "Colour scale..." in the main window's context
// menu. The user chooses between an automatic scale (each frame's minimum to maximum) and a
// fixed one from LOW to HIGH in the unit the scale is shown in. OK checks the bounds first: text
// that is no finite number, a bound no pixel of a frame can reach in that unit (below absolute
// zero or 0 V, above the largest 16-bit value) or LOW above HIGH is named in the dialog, which
// then stays open. The caller reads the choice after OK and applies it; the dialog changes
// nothing itself. GUI thread.
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QRadioButton;

class CDlgColourScale : public QDialog {
    Q_OBJECT
  public:
    // `readoutUnit` is the unit of the bound fields: a temperature unit of frame/conversion.h,
    // or kReadoutUnitVolts; `low` and `high` fill them as given (empty when there are no bounds
    // to show).
    CDlgColourScale(QWidget* parent, int readoutUnit, bool automatic, const QString& low,
                    const QString& high);

    // The unit's name beside the bound fields: "K", "°C", "°F" or "V".
    static QString UnitName(int readoutUnit);

    bool IsAutomatic() const;
    // The fixed scale's bounds, valid after OK with the fixed scale chosen.
    double Low() const { return m_low; }
    double High() const { return m_high; }

    void accept() override;

  private:
    // Reads the bound typed in `edit` into `value`; false, with the reason in the message line,
    // when it is no number the scale can hold.
    bool ReadBound(const QLineEdit* edit, const QString& name, double& value);
    // Why `value` lies beyond what a frame can hold, or empty.
    QString OutOfRange(const QString& name, double value, const QString& text) const;
    void ShowMessage(const QString& text);
    void UpdateEnabled();

    const int m_readoutUnit;
    QRadioButton* m_pAutomatic;
    QRadioButton* m_pFixed;
    QLineEdit* m_pLowEdit;
    QLineEdit* m_pHighEdit;
    QLabel* m_pMessage;  // why OK did not close the dialog; hidden until then
    double m_low = 0;
    double m_high = 0;
};
