#pragma once
// CDxStatic: the thermal image control (1070). It keeps its own 32-bit copy of the last display
// image and presents it stretched over its whole client area through CDxRenderer. SetImage may
// be called from the processing thread or the GUI thread; painting runs on the GUI thread. One
// lock serialises a conversion with a paint, so a paint never shows a half-converted image.
//
// It also says where the pointer is and what the left button does on the image, in image
// pixels (0 to width - 1, 0 to height - 1), and draws an outline over the image (never into it,
// so recordings and snapshots of the image do not show it). What the places mean is the
// owner's business.
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QPainter;

// The presenting layer of the image control: draws a 32-bit image (0xFFRRGGBB per pixel:
// QImage::Format_RGB32) onto the control, stretched to the client area without keeping the
// aspect ratio and without smoothing, at the screen's pixel density (so a scaled screen shows
// it sharp). Where the control paints into a 32-bit window buffer (Qt's raster backing store),
// the stretch writes there directly, one pass over the control's pixels, as the image copied
// into a video surface and blitted; elsewhere (a grab into a pixmap, say) it stretches once per
// image into a surface of its own and each paint copies that. Present may only be called from
// the control's paint handler.
class CDxRenderer {
  public:
    // Binds the renderer to window for images of width x height pixels. Returns 0, or -1 for
    // a missing window or an empty size (then Present draws nothing).
    int Create(QWidget* window, int width, int height);

    // Draws one image; does nothing before a successful Create or for another image size.
    // rowRuns gives, for each image row, the first of the run of equal rows it belongs to, so
    // that equal rows are stretched once. isNewImage says the pixels changed since the last
    // call; the surface is stretched again only then, or when the control's size or pixel
    // density has changed.
    void Present(int width, int height, const uint32_t* pixels, const int* rowRuns,
                 bool isNewImage);

    void ReleaseAll();

  private:
    // Stretches straight into the buffer the painter paints on, where that buffer allows it;
    // false if it does not (nothing is drawn then).
    bool PresentInPlace(QPainter& painter, const uint32_t* pixels, int width, QSize size,
                        qreal ratio);

    QWidget* m_window = nullptr;
    QRect m_imageRect;
    QImage m_surface;  // the stretched image, control size x device pixel ratio, if needed
    bool m_isSurfaceCurrent = false;  // m_surface holds the last image
    std::vector<int> m_columns;       // image column shown in each surface column
    std::vector<int> m_rows;          // image row shown in each surface row
    std::vector<int> m_runRows;       // m_rows mapped to the first row of their runs
};

class CDxStatic : public QWidget {
    Q_OBJECT
  public:
    explicit CDxStatic(QWidget* parent = nullptr);
    ~CDxStatic() override;

    // Sizes the image buffer and fills it with mid grey (0x80 in every colour channel). GUI
    // thread, once.
    void InitDisplay(int width, int height);

    // Converts a top-down RGB image (3 bytes per pixel) of the size given to InitDisplay and
    // shows it. On the GUI thread it paints before returning; from another thread it schedules
    // a repaint and returns at once (repaints then merge, so the newest image is shown). An
    // image of another size is ignored.
    void SetImage(int width, int height, const uint8_t* rgb);

    // Shows "MainLogo.jpg" from appDir, fitted into the image and centred on white. Leaves the
    // grey fill if the file is missing or unreadable. GUI thread, after InitDisplay.
    void ShowMainLogo(const std::string& appDir);

    // An outline around `imageRect` (image pixels) over the image, or none. GUI thread.
    void SetOutline(std::optional<QRect> imageRect);

    // Says where the pointer is now, from the cursor's position: PointerMoved if it is over the
    // image, else PointerLeft. For the moments when the control may have missed its leave or
    // enter: a popup menu held the pointer meanwhile, or a modal dialog did. GUI thread.
    void SyncPointer();

  signals:
    // The pointer is over the image pixel `imagePoint`, or has left the control.
    void PointerMoved(QPoint imagePoint);
    void PointerLeft();
    // A press of the left button that moved no further than a drag's start distance.
    void Clicked(QPoint imagePoint);
    // The left button, held from `from`, is now over `to` (kept on the image), or was released
    // there.
    void Dragged(QPoint from, QPoint to);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // A pointer that comes back without moving (a window that covered the image went away)
    // brings no move event: the enter says where it is.
    void enterEvent(QEnterEvent* event) override;

  private:
    // The image pixel under a point of the control, kept on the image.
    QPoint ImagePointAt(QPointF position) const;

    std::mutex m_pixelsLock;               // guards m_pixels, m_rowRuns and m_isNewImage
    std::unique_ptr<uint32_t[]> m_pixels;  // m_imageWidth x m_imageHeight, 0xFFRRGGBB, or null
    std::vector<int> m_rowRuns;  // per row of m_pixels: the first of the equal rows it ends
    bool m_isNewImage = false;   // m_pixels changed since the last paint
    int m_imageWidth = 0;
    int m_imageHeight = 0;
    CDxRenderer m_renderer;

    // GUI thread only.
    std::optional<QRect> m_outline;      // in image pixels
    std::optional<QPoint> m_pressPoint;  // where the left button went down, in image pixels
    QPointF m_pressPosition;             // and in the control's coordinates
    bool m_isDragging = false;
};
