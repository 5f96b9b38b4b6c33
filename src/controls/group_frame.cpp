#include "controls/group_frame.h"

#include <QPainter>

CGroupFrame::CGroupFrame(const QString& caption, QWidget* parent)
    : QWidget(parent), m_caption(caption) {}

void CGroupFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    const QRect frame = rect().adjusted(0, top, -1, -1);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.translated(1, 1).adjusted(0, 0, -1, -1));
    if (m_caption.isEmpty()) {
        return;
    }
    const int textWidth = metrics.horizontalAdvance(m_caption);
    const QRect text(6, 0, textWidth + 4, metrics.height());
    painter.fillRect(text, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(text, Qt::AlignCenter, m_caption);
}
