#pragma once
// CPictureView: shows one decoded video picture as large as the widget allows with its aspect
// ratio kept, pixel for pixel enlarged (no smoothing, so that the thermal image's pixels stay
// sharp), on black. GUI thread only.
#include <QImage>
#include <QWidget>
#include <cstdint>

class CPictureView : public QWidget {
    Q_OBJECT

  public:
    explicit CPictureView(QWidget* parent = nullptr);

    // Shows a picture of width x height pixels, 3 bytes each in blue, green, red order, rows top
    // to bottom, from the next paint on. The pixels are copied into an image of the layout the
    // painter scales fastest (32 bits per pixel), reused from frame to frame.
    void SetPicture(const uint8_t* bgr, int width, int height);
    // Shows nothing.
    void Clear();
    const QImage& Picture() const { return m_picture; }

    // The picture enlarged by a whole factor to at least 640 pixels wide.
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage m_picture;  // Format_RGB32; null while nothing is shown
};
