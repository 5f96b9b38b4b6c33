// The display controls on a screen scaled by two (QT_SCALE_FACTOR=2, set before Qt starts):
// what they paint must use every device pixel, not a doubled picture of the logical size.
#include <QApplication>
#include <QImage>
#include <QtTest>
#include <memory>
#include <vector>

#include "controls/dx_static.h"
#include "controls/poly_chart.h"
#include "processing/chart_data.h"

namespace {

QImage Grab(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class ScaledDisplayTest : public QObject {
    Q_OBJECT
  private slots:
    void chartIsDrawnAtTheScreensPixelDensity();
    void imageFillsEveryDevicePixelWithoutSmoothing();
};

void ScaledDisplayTest::chartIsDrawnAtTheScreensPixelDensity() {
    std::vector<uint16_t> pixels(992);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint16_t>(2930 + i % 150);
    }
    auto data = std::make_unique<CChartData>();
    data->BuildHistogram(static_cast<int>(pixels.size()), pixels.data());
    CPolyChart chart;
    chart.resize(300, 200);
    chart.SetChartData(std::move(data));
    const QImage shot = Grab(chart);
    QCOMPARE(shot.size(), QSize(600, 400));
    // A buffer of the logical size doubled onto the screen turns every 2 x 2 block of device
    // pixels into one colour; text and lines drawn at the screen's density do not.
    int detailedBlocks = 0;
    for (int y = 0; y < shot.height(); y += 2) {
        for (int x = 0; x < shot.width(); x += 2) {
            const QRgb corner = shot.pixel(x, y);
            if (shot.pixel(x + 1, y) != corner || shot.pixel(x, y + 1) != corner ||
                shot.pixel(x + 1, y + 1) != corner) {
                ++detailedBlocks;
            }
        }
    }
    QVERIFY2(detailedBlocks > 100, qPrintable(QString::number(detailedBlocks)));
}

void ScaledDisplayTest::imageFillsEveryDevicePixelWithoutSmoothing() {
    constexpr int kWidth = 320;
    constexpr int kHeight = 310;
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    for (size_t i = 0; i < rgb.size(); ++i) {
        rgb[i] = static_cast<uint8_t>(i * 7 + i / 960);
    }
    CDxStatic image;
    image.resize(kWidth, kHeight);
    image.InitDisplay(kWidth, kHeight);
    image.SetImage(kWidth, kHeight, rgb.data());
    const QImage shot = Grab(image);
    QCOMPARE(shot.size(), QSize(2 * kWidth, 2 * kHeight));
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const uint8_t* p = &rgb[(static_cast<size_t>(y / 2) * kWidth + x / 2) * 3];
            if (shot.pixel(x, y) != qRgb(p[0], p[1], p[2])) {
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
            }
        }
    }
}

int main(int argc, char** argv) {
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    ScaledDisplayTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "scaled_display_test.moc"
