#include "controls/color_gradient.h"

#include <QPainter>

#include "controls/gradient_columns.h"

CColorGradient::CColorGradient(QWidget* parent) : QWidget(parent) {}

void CColorGradient::SetPalette(int number) {
    if (number < 1 || number > 8) {
        return;
    }
    m_palette = number;
    repaint();
}

void CColorGradient::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect client = rect();
    DrawGradient(painter, client.left(), client.top(), client.right() + 1, client.bottom() + 1,
                 m_palette);
}

void CColorGradient::DrawGradient(QPainter& painter, int left, int top, int right, int bottom,
                                  int palette) {
    for (const GradientColumn& column : GradientColumns(right - left, palette)) {
        const QColor color(column.color & 0xFF, (column.color >> 8) & 0xFF,
                           (column.color >> 16) & 0xFF);
        painter.fillRect(QRect(left + column.x, top, 1, bottom - top), color);
    }
}
