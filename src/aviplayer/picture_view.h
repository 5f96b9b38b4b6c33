#pragma once
// CPictureView: shows one decoded video picture as large as the widget allows with its aspect
// ratio kept, pixel for pixel enlarged (no smoothing, so that the thermal image's pixels stay
// sharp), on black. GUI thread only.
#include <QImage>
#include <QWidget>

class CPictureView : public QWidget {
    Q_OBJECT

  public:
    explicit CPictureView(QWidget* parent = nullptr);

    // Shows `picture` from the next paint on. The image may share its pixels with the decoder's
    // buffer: it is only read while painting, on this thread, between two decodes.
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return m_picture; }

    // The picture enlarged by a whole factor to at least 640 pixels wide.
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage m_picture;
};
