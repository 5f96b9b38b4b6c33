#include "controls/color_static.h"

#include <QPainter>

CColorStatic::CColorStatic(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CColorStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(m_color & 0xFF, (m_color >> 8) & 0xFF, (m_color >> 16) & 0xFF));
}
