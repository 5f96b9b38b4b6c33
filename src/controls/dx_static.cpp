#include "controls/dx_static.h"

#include <QPainter>

CDxStatic::CDxStatic(QWidget* parent) : QWidget(parent) {}

void CDxStatic::InitDisplay(int, int) { update(); }

void CDxStatic::ShowMainLogo(const std::string&) { update(); }

void CDxStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
}
