#pragma once
// CDlgOptions: the modal options dialog (template 129) behind the main dialog's "Options"
// button: temperature unit and frame mirroring. The caller sets both values, runs the dialog
// and reads them back after OK; Cancel, Esc and the close box leave them as set. GUI thread.
#include <QDialog>

#include "frame/conversion.h"

class QAbstractButton;
class QCheckBox;
class QRadioButton;

class CDlgOptions : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgOptions(QWidget* parent = nullptr);

    void SetMirrorMode(int mode) { m_mirrorMode = mode; }  // 0 none, 1 X, 2 Y, 3 both
    int GetMirrorMode() const { return m_mirrorMode; }
    void SetTempUnit(int unit) { m_tempUnit = unit; }  // kUnitKelvin, kUnitCelsius, ...
    int GetTempUnit() const { return m_tempUnit; }

    // Sets the check marks from the values; DoModal runs it before the dialog shows.
    bool OnInitDialog();

    // Runs the dialog modally. Returns 1 (OK) or 2 (Cancel).
    int DoModal();

    // The main dialog's "Options" step: shows the dialog with the given settings and, on OK,
    // writes the chosen ones back. Returns true on OK.
    static bool EditOptions(QWidget* parent, int& mirrorMode, int& tempUnit);

    void accept() override;

  private:
    void OnMirrorClicked(int clicked);  // 1 X-Axis, 2 Y-Axis, 3 Both

    int m_mirrorMode = 0;
    int m_tempUnit = kUnitCelsius;
    QCheckBox* m_multithreading = nullptr;
    QCheckBox* m_direct2D = nullptr;
    QCheckBox* m_mirrorX = nullptr;
    QCheckBox* m_mirrorY = nullptr;
    QCheckBox* m_mirrorBoth = nullptr;
    QRadioButton* m_kelvin = nullptr;
    QRadioButton* m_celsius = nullptr;
    QRadioButton* m_fahrenheit = nullptr;
};
