#pragma once
// CFillBar: the bar of the buffer status dialog (control 1087): a white box with a black
// outline, filled in dark red from the left over the given percentage. GUI thread only.
#include <QWidget>

class CFillBar : public QWidget {
    Q_OBJECT
  public:
    explicit CFillBar(QWidget* parent = nullptr);

    // Stores the percentage and repaints at once.
    void SetPercent(int percent);
    int GetPercent() const { return m_percent; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int m_percent = 0;
};
