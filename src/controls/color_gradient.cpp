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
    for (const GradientColumn& column : GradientColumns(client.width(), m_palette)) {
        const QColor color(column.color & 0xFF, (column.color >> 8) & 0xFF,
                           (column.color >> 16) & 0xFF);
        painter.fillRect(QRect(client.left() + column.x, client.top(), 1, client.height()), color);
    }
}
