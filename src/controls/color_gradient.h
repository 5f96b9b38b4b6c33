#pragma once
// CColorGradient: the palette bar (control 1067) under the thermal image. It paints the colour
// scale of the selected palette from its own column rules, coldest on the left. GUI thread
// only.
#include <QWidget>

class QPainter;

class CColorGradient : public QWidget {
    Q_OBJECT
  public:
    explicit CColorGradient(QWidget* parent = nullptr);

    // Palette numbers 1 to 8 are stored and painted at once; any other number is ignored.
    void SetPalette(int number);
    int GetPalette() const { return m_palette; }

    // Paints the ramps of palette into the rectangle, one solid column at a time; a palette
    // number outside 1 to 8 paints nothing.
    static void DrawGradient(QPainter& painter, int left, int top, int right, int bottom,
                             int palette);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int m_palette = 1;
};
