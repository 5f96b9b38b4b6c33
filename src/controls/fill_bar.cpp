#include "controls/fill_bar.h"

#include <QPainter>
#include <algorithm>

CFillBar::CFillBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CFillBar::SetPercent(int percent) {
    m_percent = percent;
    repaint();
}

void CFillBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect client = rect();
    painter.setPen(Qt::black);
    painter.setBrush(Qt::white);
    painter.drawRect(client.adjusted(0, 0, -1, -1));
    if (m_percent <= 0) {
        return;
    }
    const float share = static_cast<float>(client.width() * m_percent / 100.0);
    const int fill = std::clamp(static_cast<int>(share + 0.5f), 0, client.right() + 1);
    // The fill covers the outline's left, top and bottom edges.
    painter.fillRect(QRect(client.left(), client.top(), fill, client.height()), QColor(128, 0, 0));
}
