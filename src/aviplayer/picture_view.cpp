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

void CPictureView::SetPicture(const uint8_t* bgr, int width, int height) {
    if (m_picture.width() != width || m_picture.height() != height) {
        m_picture = QImage(width, height, QImage::Format_RGB32);
        updateGeometry();
    }
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_picture.scanLine(y));
        const uint8_t* in = bgr + static_cast<std::ptrdiff_t>(y) * width * 3;
        for (int x = 0; x < width; ++x, in += 3) {
            line[x] = qRgb(in[2], in[1], in[0]);
        }
    }
    update();
}

void CPictureView::Clear() {
    m_picture = QImage();
    update();
}

QSize CPictureView::sizeHint() const {
    if (m_picture.isNull()) {
        return {kPreferredWidth, kPreferredWidth * 3 / 4};
    }
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
