#pragma once
// CColorStatic: a rectangle filled with one colour. The main dialog places two of them behind
// "Rec" and "Play" and shows them while recording or playing. GUI thread only.
#include <QWidget>
#include <cstdint>

class CColorStatic : public QWidget {
    Q_OBJECT
  public:
    explicit CColorStatic(QWidget* parent = nullptr);

    // color = red | green << 8 | blue << 16. Does not repaint: the dialog sets the colour
    // before it shows the frame.
    void SetColor(uint32_t color) { m_color = color; }
    uint32_t GetColor() const { return m_color; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    uint32_t m_color = 0x0000FF;  // pure red until the dialog chooses
};
