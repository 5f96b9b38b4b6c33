#include "aviplayer/picture_view.h"

#include <QPainter>
#include <algorithm>

namespace {

constexpr int kPreferredWidth = 640;

}  // namespace

CPictureView::CPictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
}

void CPictureView::SetPicture(const QImage& picture) {
    m_picture = picture;
    update();
}

QSize CPictureView::sizeHint() const {
    if (m_picture.isNull())
        return {kPreferredWidth, kPreferredWidth * 3 / 4};
    const int factor = std::max(1, (kPreferredWidth + m_picture.width() - 1) / m_picture.width());
    return m_picture.size() * factor;
}

void CPictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_picture.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const QSize size = m_picture.size().scaled(this->size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    // Black only around the picture, which covers the rest.
    const QRegion border = QRegion(rect()).subtracted(target);
    for (const QRect& part : border) {
        painter.fillRect(part, Qt::black);
    }
    painter.drawImage(target, m_picture);
}
