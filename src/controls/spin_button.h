#pragma once
// CSpinButton: an up-down control with a buddy edit. The arrows step the position within the
// range and write it into the buddy as a decimal number, which raises the buddy's change
// handler as typing would. GUI thread only.
#include <QWidget>

class QLineEdit;
class QToolButton;

class CSpinButton : public QWidget {
    Q_OBJECT
  public:
    explicit CSpinButton(QWidget* parent = nullptr);

    void SetBuddy(QLineEdit* buddy) { m_pBuddy = buddy; }
    void SetRange(int lower, int upper);
    void SetPos(int pos);
    int GetPos() const { return m_pos; }
    int GetLower() const { return m_lower; }
    int GetUpper() const { return m_upper; }

    // Presses an arrow: +1 up, -1 down.
    void Step(int delta);

  signals:
    // Sent before the position changes, with the current position and the requested step.
    void deltaPos(int pos, int delta);

  private:
    void SyncFromBuddy();

    QLineEdit* m_pBuddy = nullptr;
    QToolButton* m_pUp;
    QToolButton* m_pDown;
    int m_lower = 0;
    int m_upper = 100;
    int m_pos = 0;
};
