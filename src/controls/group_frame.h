#pragma once
// CGroupFrame: the classic group box, an etched frame with its caption on the top line. Painted
// directly, as a style sheet on every group box would cost a style sheet engine at start-up.
// GUI thread only.
#include <QString>
#include <QWidget>

class CGroupFrame : public QWidget {
    Q_OBJECT
  public:
    CGroupFrame(const QString& caption, QWidget* parent = nullptr);
    QString Caption() const { return m_caption; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString m_caption;
};
