#pragma once
// CDxStatic: the thermal image control (1070). It keeps its own 32-bit copy of the last display
// image and presents it stretched over its whole client area through CDxRenderer. SetImage may
// be called from the processing thread or the GUI thread; painting runs on the GUI thread. One
// lock serialises a conversion with a paint, so a paint never shows a half-converted image.
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// The presenting layer of the image control: draws a 32-bit image (bytes blue, green, red,
// 0xFF per pixel: QImage::Format_RGB32 on little-endian machines) onto the control, stretched to
// the client area without keeping the aspect ratio and without smoothing. Present may only be
// called from the control's paint handler.
class CDxRenderer {
  public:
    // Binds the renderer to window for images of width x height pixels. Returns 0, or -1 for
    // a missing window or an empty size (then Present draws nothing).
    int Create(QWidget* window, int width, int height);

    // Draws one image; does nothing before a successful Create or for another image size.
    void Present(int width, int height, const uint8_t* pixels);

    void ReleaseAll();

  private:
    QWidget* m_window = nullptr;
    QRect m_imageRect;
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

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::mutex m_pixelsLock;  // guards the content of m_pixels between SetImage and painting
    std::unique_ptr<uint8_t[]> m_pixels;  // m_imageWidth x m_imageHeight x 4 bytes, or null
    int m_imageWidth = 0;
    int m_imageHeight = 0;
    CDxRenderer m_renderer;
};
