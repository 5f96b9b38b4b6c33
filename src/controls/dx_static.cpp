#include "controls/dx_static.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QImage>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QRegion>
#include <QThread>
#include <QTransform>
#include <algorithm>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "controls/image_stretch.h"
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

void CDxRenderer::Present(int width, int height, const uint32_t* pixels, const int* rowRuns,
                          bool isNewImage) {
    if (m_window == nullptr || pixels == nullptr || rowRuns == nullptr ||
        width != m_imageRect.width() || height != m_imageRect.height()) {
        return;
    }
    const qreal ratio = m_window->devicePixelRatioF();
    const QSize size = (QSizeF(m_window->size()) * ratio).toSize();
    if (size.isEmpty()) {
        return;
    }
    if (m_columns.size() != static_cast<size_t>(size.width()) ||
        m_rows.size() != static_cast<size_t>(size.height())) {
        m_columns = StretchIndices(width, size.width());
        m_rows = StretchIndices(height, size.height());
        isNewImage = true;
    }
    if (isNewImage) {
        // Rows of the control whose image rows are alike come out alike: StretchPixels copies
        // them instead of stretching them again.
        m_runRows.resize(m_rows.size());
        for (size_t y = 0; y < m_rows.size(); ++y) {
            m_runRows[y] = rowRuns[m_rows[y]];
        }
        m_isSurfaceCurrent = false;
    }
    QPainter painter(m_window);
    if (PresentInPlace(painter, pixels, width, size, ratio)) {
        return;
    }
    if (m_surface.size() != size) {
        m_surface = QImage(size, QImage::Format_RGB32);
        m_isSurfaceCurrent = false;
    }
    if (!m_isSurfaceCurrent) {
        StretchPixels(
            pixels, static_cast<size_t>(width), reinterpret_cast<uint32_t*>(m_surface.bits()),
            static_cast<size_t>(m_surface.bytesPerLine()) / sizeof(uint32_t), m_columns, m_runRows);
        m_isSurfaceCurrent = true;
    }
    m_surface.setDevicePixelRatio(ratio);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPointF(0, 0), m_surface);
}

bool CDxRenderer::PresentInPlace(QPainter& painter, const uint32_t* pixels, int width, QSize size,
                                 qreal ratio) {
    QPaintEngine* engine = painter.paintEngine();
    QPaintDevice* device = engine != nullptr ? engine->paintDevice() : nullptr;
    if (device == nullptr || device->devType() != QInternal::Image) {
        return false;
    }
    auto* buffer = static_cast<QImage*>(device);
    const QImage::Format format = buffer->format();
    // An image shared with another would be copied away from the painter by writing to it.
    if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
         format != QImage::Format_ARGB32_Premultiplied) ||
        !buffer->isDetached()) {
        return false;
    }
    const QTransform transform = painter.deviceTransform();
    const QPoint origin(qRound(transform.dx()), qRound(transform.dy()));
    if (transform.type() > QTransform::TxScale || transform.m11() != ratio ||
        transform.m22() != ratio || origin != QPointF(transform.dx(), transform.dy())) {
        return false;
    }
    // Only the part of the control being painted is written: outside it the buffer may hold
    // other widgets (ones covering the control, or whose paint is not done yet).
    const QRect deviceRect = QRect(origin, size) & buffer->rect();
    QRegion region = engine->systemClip();
    region = region.isEmpty() ? QRegion(deviceRect) : region & deviceRect;
    const size_t stride = static_cast<size_t>(buffer->bytesPerLine()) / sizeof(uint32_t);
    uint32_t* bits = reinterpret_cast<uint32_t*>(buffer->bits());
    const std::span<const int> columns(m_columns);
    const std::span<const int> rows(m_runRows);
    for (const QRect& part : region) {
        const QRect local = part.translated(-origin);
        StretchPixels(
            pixels, static_cast<size_t>(width),
            bits + static_cast<size_t>(part.top()) * stride + part.left(), stride,
            columns.subspan(static_cast<size_t>(local.left()), static_cast<size_t>(local.width())),
            rows.subspan(static_cast<size_t>(local.top()), static_cast<size_t>(local.height())));
    }
    return true;
}

void CDxRenderer::ReleaseAll() {
    m_window = nullptr;
    m_imageRect = QRect();
    m_surface = QImage();
    m_isSurfaceCurrent = false;
    m_columns.clear();
    m_rows.clear();
    m_runRows.clear();
}

CDxStatic::CDxStatic(QWidget* parent) : QWidget(parent) {
    // The image covers the whole client area: no background erase before a paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
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
        m_pixels = std::make_unique<uint32_t[]>(count);
        // Mid grey until the first image; the top byte stays opaque (see SetImage).
        std::fill_n(m_pixels.get(), count, 0xFF808080u);
        m_rowRuns.assign(static_cast<size_t>(m_imageHeight), 0);
        m_isNewImage = true;
    }
    update();
}

void CDxStatic::SetImage(int width, int height, const uint8_t* rgb) {
    {
        std::lock_guard lock(m_pixelsLock);
        if (!m_pixels || rgb == nullptr || width != m_imageWidth || height != m_imageHeight) {
            return;
        }
        // A display image repeats each of its rows several times (a sensor pixel is a block of
        // them): a row like the one above is copied, and only the others are converted, with
        // one 32-bit store per pixel. Qt requires the unused top byte of a 32-bit RGB image to
        // be 0xFF; with 0 the image turns transparent when drawn onto a surface that keeps
        // alpha.
        const size_t rowBytes = static_cast<size_t>(width) * 3;
        for (int y = 0; y < height; ++y) {
            const uint8_t* in = rgb + static_cast<size_t>(y) * rowBytes;
            uint32_t* out = m_pixels.get() + static_cast<size_t>(y) * width;
            if (y > 0 && std::memcmp(in, in - rowBytes, rowBytes) == 0) {
                std::memcpy(out, out - width, static_cast<size_t>(width) * sizeof(uint32_t));
                m_rowRuns[static_cast<size_t>(y)] = m_rowRuns[static_cast<size_t>(y) - 1];
                continue;
            }
            m_rowRuns[static_cast<size_t>(y)] = y;
            for (int x = 0; x < width; ++x, in += 3) {
                out[x] = 0xFF000000u | static_cast<uint32_t>(in[0]) << 16 |
                         static_cast<uint32_t>(in[1]) << 8 | in[2];
            }
        }
        m_isNewImage = true;
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

void CDxStatic::SetOutline(std::optional<QRect> imageRect) {
    if (imageRect != m_outline) {
        m_outline = imageRect;
        update();
    }
}

void CDxStatic::paintEvent(QPaintEvent*) {
    {
        std::lock_guard lock(m_pixelsLock);
        if (m_pixels) {
            m_renderer.Present(m_imageWidth, m_imageHeight, m_pixels.get(), m_rowRuns.data(),
                               std::exchange(m_isNewImage, false));
        }
    }
    if (!m_outline || m_imageWidth <= 0 || m_imageHeight <= 0) {
        return;
    }
    // The outline follows the stretch: image pixel x starts at x * width / imageWidth.
    const auto toControl = [this](int x, int y) {
        return QPoint(x * width() / m_imageWidth, y * height() / m_imageHeight);
    };
    const QRect area(toControl(m_outline->left(), m_outline->top()),
                     toControl(m_outline->right() + 1, m_outline->bottom() + 1) - QPoint(1, 1));
    // White around black: visible on every palette.
    QPainter painter(this);
    painter.setPen(Qt::white);
    painter.drawRect(area);
    painter.setPen(Qt::black);
    painter.drawRect(area.adjusted(1, 1, -1, -1));
}

QPoint CDxStatic::ImagePointAt(QPointF position) const {
    if (width() <= 0 || height() <= 0) {
        return {};
    }
    const int x = static_cast<int>(position.x() * m_imageWidth / width());
    const int y = static_cast<int>(position.y() * m_imageHeight / height());
    return {std::clamp(x, 0, std::max(m_imageWidth - 1, 0)),
            std::clamp(y, 0, std::max(m_imageHeight - 1, 0))};
}

void CDxStatic::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = ImagePointAt(event->position());
    if (m_pressPoint) {
        m_isDragging = m_isDragging || (event->position() - m_pressPosition).manhattanLength() >=
                                           QApplication::startDragDistance();
        if (m_isDragging) {
            emit Dragged(*m_pressPoint, point);
        }
    }
    if (rect().contains(event->position().toPoint())) {
        emit PointerMoved(point);
    } else {
        emit PointerLeft();
    }
}

void CDxStatic::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressPoint = ImagePointAt(event->position());
    m_pressPosition = event->position();
    m_isDragging = false;
}

void CDxStatic::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pressPoint) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const QPoint from = *std::exchange(m_pressPoint, std::nullopt);
    if (m_isDragging) {
        emit Dragged(from, ImagePointAt(event->position()));
    } else {
        emit Clicked(from);
    }
    m_isDragging = false;
}

void CDxStatic::leaveEvent(QEvent* event) {
    emit PointerLeft();
    QWidget::leaveEvent(event);
}

void CDxStatic::enterEvent(QEnterEvent* event) {
    emit PointerMoved(ImagePointAt(event->position()));
    QWidget::enterEvent(event);
}

void CDxStatic::SyncPointer() {
    const QPoint global = QCursor::pos();
    const QPoint local = mapFromGlobal(global);
    // Another of the program's windows over the image has the pointer, not the image.
    if (isVisible() && rect().contains(local) && QApplication::widgetAt(global) == this) {
        emit PointerMoved(ImagePointAt(local));
    } else {
        emit PointerLeft();
    }
}
