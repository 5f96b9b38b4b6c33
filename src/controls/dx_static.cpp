#include "controls/dx_static.h"

#include <QImage>
#include <QMetaObject>
#include <QPainter>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <vector>

#include "controls/image_utils.h"

int CDxRenderer::Create(QWidget* window, int width, int height) {
    ReleaseAll();
    if (window == nullptr || width <= 0 || height <= 0) {
        return -1;
    }
    m_window = window;
    m_imageRect = QRect(0, 0, width, height);
    return 0;
}

void CDxRenderer::Present(int width, int height, const uint8_t* pixels) {
    if (m_window == nullptr || pixels == nullptr || width != m_imageRect.width() ||
        height != m_imageRect.height()) {
        return;
    }
    const QImage image(pixels, width, height, width * 4, QImage::Format_RGB32);
    QPainter painter(m_window);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(m_window->rect(), image, m_imageRect);
}

void CDxRenderer::ReleaseAll() {
    m_window = nullptr;
    m_imageRect = QRect();
}

CDxStatic::CDxStatic(QWidget* parent) : QWidget(parent) {
    // The image covers the whole client area: no background erase before a paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

CDxStatic::~CDxStatic() {
    m_renderer.ReleaseAll();
}

void CDxStatic::InitDisplay(int width, int height) {
    m_renderer.Create(this, width, height);
    {
        std::lock_guard lock(m_pixelsLock);
        m_imageWidth = std::max(width, 0);
        m_imageHeight = std::max(height, 0);
        const size_t count = static_cast<size_t>(m_imageWidth) * m_imageHeight;
        m_pixels = std::make_unique<uint8_t[]>(count * 4);
        // Mid grey until the first image; the fourth byte stays opaque (see SetImage).
        for (size_t i = 0; i < count; ++i) {
            const uint8_t grey[4] = {0x80, 0x80, 0x80, 0xFF};
            std::memcpy(&m_pixels[4 * i], grey, 4);
        }
    }
    update();
}

void CDxStatic::SetImage(int width, int height, const uint8_t* rgb) {
    {
        std::lock_guard lock(m_pixelsLock);
        if (!m_pixels || rgb == nullptr || width != m_imageWidth || height != m_imageHeight) {
            return;
        }
        const size_t count = static_cast<size_t>(width) * height;
        uint8_t* out = m_pixels.get();
        for (size_t i = 0; i < count; ++i) {
            out[4 * i] = rgb[3 * i + 2];
            out[4 * i + 1] = rgb[3 * i + 1];
            out[4 * i + 2] = rgb[3 * i];
            // Qt requires the unused byte of a 32-bit RGB image to be 0xFF; with 0 the image
            // turns transparent when drawn onto a surface that keeps alpha.
            out[4 * i + 3] = 0xFF;
        }
    }
    if (QThread::currentThread() == thread()) {
        repaint();
    } else {
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
    }
}

void CDxStatic::ShowMainLogo(const std::string& appDir) {
    const std::vector<uint8_t> canvas =
        LoadFittedLogo(appDir, "MainLogo.jpg", m_imageWidth, m_imageHeight);
    if (!canvas.empty()) {
        SetImage(m_imageWidth, m_imageHeight, canvas.data());
    }
}

void CDxStatic::paintEvent(QPaintEvent*) {
    std::lock_guard lock(m_pixelsLock);
    if (m_pixels) {
        m_renderer.Present(m_imageWidth, m_imageHeight, m_pixels.get());
    }
}
