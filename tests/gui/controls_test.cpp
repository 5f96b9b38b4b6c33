// Widget tests of the display controls: each control is painted off screen and its grabbed
// pixels are compared with what the control's rules say it must show.
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "controls/color_gradient.h"
#include "controls/color_static.h"
#include "controls/dx_static.h"
#include "controls/fill_bar.h"
#include "controls/gradient_columns.h"
#include "controls/image_utils.h"
#include "controls/poly_chart.h"
#include "processing/chart_data.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 310;

QImage Grab(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A display image whose every pixel differs from its neighbours.
std::vector<uint8_t> PatternImage() {
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(x * 7 + y * 3);
        }
    }
    return rgb;
}

QRgb PatternPixel(const std::vector<uint8_t>& rgb, int x, int y) {
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
    return qRgb(p[0], p[1], p[2]);
}

bool Near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

void SaveSolidJpeg(const QString& path, int width, int height, QColor color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QVERIFY(image.save(path, "JPG", 100));
}

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT
  private slots:
    void imageIsMidGreyBeforeFirstFrame();
    void imageIsStretchedToClientWithoutSmoothing_data();
    void imageIsStretchedToClientWithoutSmoothing();
    void imageStretchMatchesQtsScaledDrawing_data();
    void imageStretchMatchesQtsScaledDrawing();
    void imageReachesTheWindowAroundACoveringSibling();
    void imageOfWrongSizeIsIgnored();
    void imageFromProcessingThreadIsShown();
    void mainLogoIsFittedAndCentredOnWhite_data();
    void mainLogoIsFittedAndCentredOnWhite();
    void missingMainLogoKeepsGrey();
    void imageUtilitiesRoundTrip();

    void paletteBarFourOnTenPixels();
    void paletteBarGreyRampOn256Pixels();
    void paletteBarEndsOfEveryPalette_data();
    void paletteBarEndsOfEveryPalette();
    void paletteBarIgnoresUnknownNumbers();
    void colorStaticIsRedUntilSet();

    void fillBarCoversShareInDarkRed_data();
    void fillBarCoversShareInDarkRed();

    void chartWithoutDataShowsConstructionLabels();
    void chartHistogramGroupsAndScalesBars();
    void chartCountLabelsFollowLargestBar_data();
    void chartCountLabelsFollowLargestBar();
    void chartProfileMirroredOnX();
    void chartTitleAndUnitFollowFrameKind();
    void chartSurvivesRecordsReplacedDuringPaints();
    void chartDrawsOverDistributionLogo();
};

void ControlsTest::imageIsMidGreyBeforeFirstFrame() {
    CDxStatic image;
    image.resize(kWidth, kHeight);
    image.InitDisplay(kWidth, kHeight);
    const QImage shot = Grab(image);
    for (int y = 0; y < shot.height(); y += 7) {
        for (int x = 0; x < shot.width(); x += 7) {
            QCOMPARE(shot.pixel(x, y), qRgb(0x80, 0x80, 0x80));
        }
    }
}

void ControlsTest::imageIsStretchedToClientWithoutSmoothing_data() {
    QTest::addColumn<int>("xFactor");
    QTest::addColumn<int>("yFactor");
    QTest::newRow("same size") << 1 << 1;
    QTest::newRow("doubled") << 2 << 2;
    QTest::newRow("aspect not kept") << 2 << 1;
}

void ControlsTest::imageIsStretchedToClientWithoutSmoothing() {
    QFETCH(int, xFactor);
    QFETCH(int, yFactor);
    CDxStatic image;
    image.resize(kWidth * xFactor, kHeight * yFactor);
    image.InitDisplay(kWidth, kHeight);
    const std::vector<uint8_t> rgb = PatternImage();
    image.SetImage(kWidth, kHeight, rgb.data());
    const QImage shot = Grab(image);
    QCOMPARE(shot.size(), QSize(kWidth * xFactor, kHeight * yFactor));
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (shot.pixel(x, y) != PatternPixel(rgb, x / xFactor, y / yFactor)) {
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
            }
        }
    }
}

void ControlsTest::imageStretchMatchesQtsScaledDrawing_data() {
    QTest::addColumn<QSize>("target");
    for (const QSize size : {QSize(320, 310), QSize(481, 372), QSize(483, 377), QSize(640, 620),
                             QSize(959, 931), QSize(200, 150), QSize(321, 311), QSize(1, 1)}) {
        QTest::newRow(qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())))
            << size;
    }
}

void ControlsTest::imageStretchMatchesQtsScaledDrawing() {
    // The control stretches each image once and then only copies it; the picture must be the
    // one QPainter's scaled drawing without smoothing gives (what the control used to paint).
    // Rows come in runs of 7, 1 and 2 equal rows, as a display image repeats its rows.
    QFETCH(QSize, target);
    std::vector<uint8_t> rgb = PatternImage();
    for (int y = 0; y < kHeight; ++y) {
        const int run = (y / 10) * 10 + (y % 10 < 7 ? 0 : y % 10 < 8 ? 7 : 8);
        std::copy_n(&rgb[static_cast<size_t>(run) * kWidth * 3], kWidth * 3,
                    &rgb[static_cast<size_t>(y) * kWidth * 3]);
    }
    const QImage source =
        RgbToBitmap(rgb.data(), kWidth, kHeight).convertToFormat(QImage::Format_RGB32);
    QImage expected(target, QImage::Format_RGB32);
    {
        QPainter painter(&expected);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(expected.rect(), source, source.rect());
    }
    CDxStatic image;
    image.resize(target);
    image.InitDisplay(kWidth, kHeight);
    image.SetImage(kWidth, kHeight, rgb.data());
    const QImage shot = Grab(image);
    QCOMPARE(shot.size(), target);
    for (int y = 0; y < target.height(); ++y) {
        for (int x = 0; x < target.width(); ++x) {
            if (shot.pixel(x, y) != expected.pixel(x, y)) {
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
            }
        }
    }
}

void ControlsTest::imageReachesTheWindowAroundACoveringSibling() {
    // Painted into a shown window rather than grabbed: what the window buffer holds is what the
    // screen gets. A sibling over a corner of the control keeps its own pixels.
    QWidget window;
    window.setAutoFillBackground(true);
    window.setPalette(QPalette(QColor(0, 255, 0)));
    window.resize(520, 420);
    auto* image = new CDxStatic(&window);
    image->setGeometry(7, 13, 481, 372);
    auto* cover = new QWidget(&window);
    cover->setAutoFillBackground(true);
    cover->setPalette(QPalette(QColor(255, 0, 255)));
    cover->setGeometry(400, 300, 60, 40);
    image->InitDisplay(kWidth, kHeight);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const std::vector<uint8_t> rgb = PatternImage();
    image->SetImage(kWidth, kHeight, rgb.data());
    QCoreApplication::processEvents();

    QImage expected(image->size(), QImage::Format_RGB32);
    {
        const QImage source =
            RgbToBitmap(rgb.data(), kWidth, kHeight).convertToFormat(QImage::Format_RGB32);
        QPainter painter(&expected);
        painter.drawImage(expected.rect(), source, source.rect());
    }
    const QImage shot =
        window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shot.size(), window.size());
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QPoint at(x, y);
            const QRgb want = cover->geometry().contains(at) ? qRgb(255, 0, 255)
                              : image->geometry().contains(at)
                                  ? expected.pixel(at - image->geometry().topLeft())
                                  : qRgb(0, 255, 0);
            if (shot.pixel(at) != want) {
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
            }
        }
    }
}

void ControlsTest::imageOfWrongSizeIsIgnored() {
    CDxStatic image;
    image.resize(kWidth, kHeight);
    image.InitDisplay(kWidth, kHeight);
    const std::vector<uint8_t> small(32 * 31 * 3, 0xFF);
    image.SetImage(32, 31, small.data());
    QCOMPARE(Grab(image).pixel(0, 0), qRgb(0x80, 0x80, 0x80));
    QCOMPARE(Grab(image).pixel(kWidth - 1, kHeight - 1), qRgb(0x80, 0x80, 0x80));
}

void ControlsTest::imageFromProcessingThreadIsShown() {
    CDxStatic image;
    image.resize(kWidth, kHeight);
    image.InitDisplay(kWidth, kHeight);
    image.show();
    std::vector<uint8_t> red(static_cast<size_t>(kWidth) * kHeight * 3, 0);
    for (size_t i = 0; i < red.size(); i += 3) {
        red[i] = 255;
    }
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            image.SetImage(kWidth, kHeight, red.data());
        }
    });
    // Paint while the worker converts: every paint must see a whole image.
    for (int i = 0; i < 50; ++i) {
        const QRgb seen = Grab(image).pixel(kWidth / 2, kHeight / 2);
        QVERIFY(seen == qRgb(255, 0, 0) || seen == qRgb(0x80, 0x80, 0x80));
    }
    worker.join();
    QCoreApplication::processEvents();
    QCOMPARE(Grab(image).pixel(0, 0), qRgb(255, 0, 0));
}

void ControlsTest::mainLogoIsFittedAndCentredOnWhite_data() {
    QTest::addColumn<int>("logoWidth");
    QTest::addColumn<int>("logoHeight");
    QTest::addColumn<QRect>("placed");
    QTest::newRow("640x480 halves with bands of 35 rows") << 640 << 480 << QRect(0, 35, 320, 240);
    QTest::newRow("exact size fills the image") << 320 << 310 << QRect(0, 0, 320, 310);
    QTest::newRow("narrow logo centred across") << 100 << 310 << QRect(110, 0, 100, 310);
}

void ControlsTest::mainLogoIsFittedAndCentredOnWhite() {
    QFETCH(int, logoWidth);
    QFETCH(int, logoHeight);
    QFETCH(QRect, placed);
    QTemporaryDir dir;
    const QColor logoColor(40, 120, 200);
    SaveSolidJpeg(dir.filePath("MainLogo.jpg"), logoWidth, logoHeight, logoColor);

    CDxStatic image;
    image.resize(kWidth, kHeight);
    image.InitDisplay(kWidth, kHeight);
    image.ShowMainLogo(dir.path().toStdString() + "/");
    const QImage shot = Grab(image);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const QRgb expected = placed.contains(x, y) ? logoColor.rgb() : qRgb(255, 255, 255);
            if (!Near(shot.pixel(x, y), expected, 3)) {
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3")
                                     .arg(x)
                                     .arg(y)
                                     .arg(shot.pixel(x, y), 8, 16)));
            }
        }
    }
}

void ControlsTest::missingMainLogoKeepsGrey() {
    QTemporaryDir dir;
    QFile broken(dir.filePath("MainLogo.jpg"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    CDxStatic image;
    image.resize(kWidth, kHeight);
    image.InitDisplay(kWidth, kHeight);
    image.ShowMainLogo(dir.path().toStdString());
    QCOMPARE(Grab(image).pixel(5, 5), qRgb(0x80, 0x80, 0x80));
    image.ShowMainLogo("/nonexistent/");
    QCOMPARE(Grab(image).pixel(5, 5), qRgb(0x80, 0x80, 0x80));
}

void ControlsTest::imageUtilitiesRoundTrip() {
    const std::vector<uint8_t> rgb = PatternImage();
    const QImage bitmap = RgbToBitmap(rgb.data(), kWidth, kHeight);
    QCOMPARE(bitmap.size(), QSize(kWidth, kHeight));
    QCOMPARE(bitmap.pixel(3, 5), PatternPixel(rgb, 3, 5));
    std::vector<uint8_t> back(rgb.size());
    std::vector<uint8_t> grey(static_cast<size_t>(kWidth) * kHeight);
    QCOMPARE(BitmapToRgb(bitmap, back.data(), grey.data()), 0);
    QVERIFY(back == rgb);
    const uint8_t* p = &rgb[(7 * kWidth + 9) * 3];
    QCOMPARE(int(grey[7 * kWidth + 9]), (p[0] + p[1] + p[2]) / 3);
    QCOMPARE(BitmapToRgb(QImage(), back.data(), nullptr), -1);
    QVERIFY(RgbToBitmap(nullptr, 10, 10).isNull());
}

void ControlsTest::paletteBarFourOnTenPixels() {
    CColorGradient bar;
    bar.resize(10, 14);
    bar.SetPalette(4);
    const QImage shot = Grab(bar);
    const QRgb expected[] = {qRgb(51, 0, 204),  qRgb(102, 0, 153), qRgb(153, 0, 102),
                             qRgb(255, 51, 0),  qRgb(255, 102, 0), qRgb(255, 153, 0),
                             qRgb(255, 204, 0), qRgb(255, 255, 0), qRgb(255, 255, 0)};
    for (int x = 0; x < 9; ++x) {
        for (int y : {0, 7, 13}) {
            QCOMPARE(shot.pixel(x, y), expected[x]);
        }
    }
    // Column 3 is painted twice, first by the blue-to-red ramp.
    const std::vector<GradientColumn> columns = GradientColumns(10, 4);
    QCOMPARE(columns.size(), size_t(10));
    QCOMPARE(columns[3].x, 3);
    QCOMPARE(columns[3].color, 204u | 51u << 16);
    QCOMPARE(columns.back().x, 8);
}

void ControlsTest::paletteBarGreyRampOn256Pixels() {
    CColorGradient bar;
    bar.resize(256, 14);
    bar.SetPalette(3);
    const QImage shot = Grab(bar);
    for (int x = 0; x <= 254; ++x) {
        const int grey = static_cast<int>(std::floor((x + 1) * 255.0 / 256 + 0.5));
        QCOMPARE(shot.pixel(x, 7), qRgb(grey, grey, grey));
    }
    QCOMPARE(qRed(shot.pixel(0, 7)), 1);
    QCOMPARE(qRed(shot.pixel(254, 7)), 254);
    QCOMPARE(GradientColumns(256, 3).back().x, 254);
}

void ControlsTest::paletteBarEndsOfEveryPalette_data() {
    // The bar of the main dialog is 262 pixels wide at the template font.
    QTest::addColumn<int>("palette");
    QTest::addColumn<QRgb>("first");
    QTest::addColumn<QRgb>("last");
    QTest::addColumn<int>("lastColumn");
    QTest::newRow("1 black to white") << 1 << qRgb(0, 0, 4) << qRgb(255, 255, 255) << 260;
    QTest::newRow("2 black to white") << 2 << qRgb(0, 0, 8) << qRgb(255, 255, 255) << 260;
    QTest::newRow("3 grey") << 3 << qRgb(1, 1, 1) << qRgb(254, 254, 254) << 260;
    QTest::newRow("4 blue to yellow") << 4 << qRgb(2, 0, 253) << qRgb(255, 255, 0) << 260;
    QTest::newRow("5 green to white") << 5 << qRgb(4, 255, 0) << qRgb(255, 255, 255) << 260;
    QTest::newRow("6 magenta to red") << 6 << qRgb(251, 0, 255) << qRgb(255, 0, 0) << 260;
    QTest::newRow("7 stops at five parts") << 7 << qRgb(250, 0, 255) << qRgb(255, 0, 0) << 258;
    QTest::newRow("8 black to white") << 8 << qRgb(0, 0, 7) << qRgb(255, 255, 255) << 260;
}

void ControlsTest::paletteBarEndsOfEveryPalette() {
    QFETCH(int, palette);
    QFETCH(QRgb, first);
    QFETCH(QRgb, last);
    QFETCH(int, lastColumn);
    const std::vector<GradientColumn> columns = GradientColumns(262, palette);
    QVERIFY(!columns.empty());
    // Painted left to right without gaps; a column is repainted only where segments meet.
    for (size_t i = 1; i < columns.size(); ++i) {
        QVERIFY(columns[i].x == columns[i - 1].x + 1 || columns[i].x == columns[i - 1].x);
    }
    QCOMPARE(columns.front().x, 0);
    QCOMPARE(columns.back().x, lastColumn);

    CColorGradient bar;
    bar.resize(262, 14);
    bar.SetPalette(palette);
    const QImage shot = Grab(bar);
    QCOMPARE(shot.pixel(0, 7), first);
    QCOMPARE(shot.pixel(lastColumn, 7), last);
}

void ControlsTest::paletteBarIgnoresUnknownNumbers() {
    CColorGradient bar;
    QCOMPARE(bar.GetPalette(), 1);
    bar.SetPalette(5);
    bar.SetPalette(0);
    QCOMPARE(bar.GetPalette(), 5);
    bar.SetPalette(9);
    QCOMPARE(bar.GetPalette(), 5);
    QVERIFY(GradientColumns(262, 9).empty());
    QVERIFY(GradientColumns(0, 4).empty());
    // A bar narrower than its parts still paints sane channel values.
    for (int palette = 1; palette <= 8; ++palette) {
        for (const GradientColumn& column : GradientColumns(3, palette)) {
            QVERIFY(column.color <= 0xFFFFFFu);
        }
    }
}

void ControlsTest::colorStaticIsRedUntilSet() {
    CColorStatic frame;
    frame.resize(20, 10);
    QCOMPARE(Grab(frame).pixel(10, 5), qRgb(255, 0, 0));
    frame.SetColor(0xFF0000);
    QCOMPARE(frame.GetColor(), 0xFF0000u);
    QCOMPARE(Grab(frame).pixel(0, 0), qRgb(0, 0, 255));
    QCOMPARE(Grab(frame).pixel(19, 9), qRgb(0, 0, 255));
}

void ControlsTest::fillBarCoversShareInDarkRed_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("filled");
    QTest::newRow("half of 300") << 300 << 50 << 150;
    QTest::newRow("30 % of 318") << 318 << 30 << 95;  // 95.4
    QTest::newRow("empty") << 300 << 0 << 0;
    QTest::newRow("below zero") << 300 << -20 << 0;
    QTest::newRow("full") << 300 << 100 << 300;
    QTest::newRow("over full") << 300 << 150 << 300;
}

void ControlsTest::fillBarCoversShareInDarkRed() {
    QFETCH(int, width);
    QFETCH(int, percent);
    QFETCH(int, filled);
    CFillBar bar;
    bar.resize(width, 15);
    bar.SetPercent(percent);
    QCOMPARE(bar.GetPercent(), percent);
    const QImage shot = Grab(bar);
    const QRgb darkRed = qRgb(128, 0, 0);
    for (int x = 0; x < width; ++x) {
        const QRgb middle = shot.pixel(x, 7);
        if (x < filled) {
            QCOMPARE(middle, darkRed);
            QCOMPARE(shot.pixel(x, 0), darkRed);
            QCOMPARE(shot.pixel(x, 14), darkRed);
        } else if (x == 0 || x == width - 1) {
            QCOMPARE(middle, qRgb(0, 0, 0));  // the outline's left and right edges
        } else {
            QCOMPARE(middle, qRgb(255, 255, 255));
            QCOMPARE(shot.pixel(x, 0), qRgb(0, 0, 0));
            QCOMPARE(shot.pixel(x, 14), qRgb(0, 0, 0));
        }
    }
}

namespace {

struct ChartGeometry {
    int left, right;
};

// Sizes the chart so that its plot is plotWidth pixels wide.
ChartGeometry SizeChartForPlot(CPolyChart& chart, int plotWidth, int height) {
    const QFontMetrics metrics(chart.font());
    const int left = 2 + metrics.horizontalAdvance(QStringLiteral("000")) + 5;
    const int clientWidth = plotWidth + left + 2 + 10;
    chart.resize(clientWidth, height);
    return {left, left + plotWidth};
}

std::unique_ptr<CChartData> HistogramOf(const std::vector<uint16_t>& pixels) {
    auto data = std::make_unique<CChartData>();
    data->BuildHistogram(static_cast<int>(pixels.size()), pixels.data());
    return data;
}

bool IsBarBlue(QRgb pixel) {
    return pixel == qRgb(0, 0, 255);
}

}  // namespace

void ControlsTest::chartWithoutDataShowsConstructionLabels() {
    CPolyChart chart;
    const ChartGeometry plot = SizeChartForPlot(chart, 480, 150);
    QCOMPARE(chart.GetChartTitle(), QStringLiteral("Temperatures Distribution"));
    QCOMPARE(chart.GetChartUnit(), 2);
    const QImage shot = Grab(chart);
    const QFontMetrics metrics(chart.font());
    const char* texts[] = {"100", "75", "50", "25", "0"};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(chart.Label(i).m_text, QString::fromLatin1(texts[i]));
        // Right-aligned five pixels left of the plot, centred on the label's grid line.
        QCOMPARE(chart.Label(i).m_x + metrics.horizontalAdvance(chart.Label(i).m_text),
                 plot.left - 5);
        QCOMPARE(chart.Label(i).m_y, chart.Label(i).m_lineY - metrics.height() / 2);
    }
    QVERIFY(chart.Label(0).m_lineY < chart.Label(3).m_lineY);
    QCOMPARE(chart.Label(4).m_lineY, 150 - 2 - metrics.height());
    // The axes are green and nothing blue lies inside the plot.
    QCOMPARE(shot.pixel(plot.left + 100, chart.Label(4).m_lineY), qRgb(0, 150, 0));
    QVERIFY(!IsBarBlue(shot.pixel(plot.left + 100, chart.Label(4).m_lineY - 5)));
}

void ControlsTest::chartHistogramGroupsAndScalesBars() {
    // 2930..3080 with key 2930 on 450 pixels: the first bar holds that key alone.
    std::vector<uint16_t> pixels(992);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = i < 450 ? 2930 : static_cast<uint16_t>(2931 + i % 150);
    }
    CPolyChart chart;
    const ChartGeometry plot = SizeChartForPlot(chart, 480, 200);
    chart.SetChartData(HistogramOf(pixels));
    const QImage shot = Grab(chart);
    QCOMPARE(chart.Label(0).m_text, QStringLiteral("999"));
    QCOMPARE(chart.Label(4).m_text, QStringLiteral("0"));

    // Group size 5: 32 bars of 15 pixels (480 / 31 rounded) from the plot's left edge.
    const int topLine = chart.Label(0).m_lineY;
    const int axis = chart.Label(4).m_lineY;
    const int firstTop = axis - static_cast<int>(450.0 * (axis - topLine) / 999 + 0.5);
    QVERIFY(IsBarBlue(shot.pixel(plot.left + 7, firstTop + 2)));
    QVERIFY(!IsBarBlue(shot.pixel(plot.left + 7, firstTop - 2)));
    // The second bar (keys 2931..2935, about 17 pixels) is far lower than the first.
    const int secondSum = 5 * 4;  // 542 pixels over 150 values: 3 or 4 each
    QVERIFY(IsBarBlue(shot.pixel(plot.left + 22, axis - 2)));
    QVERIFY(!IsBarBlue(shot.pixel(plot.left + 22, axis - secondSum - 3)));
    // Bar 31 (keys 3076..3080, 15 pixels) is 2 pixels tall; bar 32 (3081..3085) is empty.
    QVERIFY(IsBarBlue(shot.pixel(plot.left + 30 * 15 + 7, axis - 1)));
    QVERIFY(!IsBarBlue(shot.pixel(plot.left + 30 * 15 + 7, axis - 4)));
    QVERIFY(!IsBarBlue(shot.pixel(plot.left + 31 * 15 + 7, axis - 1)));
}

void ControlsTest::chartCountLabelsFollowLargestBar_data() {
    QTest::addColumn<int>("largest");
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("150") << 150 << QStringList{"200", "150", "100", "50", "0"};
    QTest::newRow("450") << 450 << QStringList{"999", "750", "500", "250", "0"};
    QTest::newRow("60") << 60 << QStringList{"100", "75", "50", "25", "0"};
}

void ControlsTest::chartCountLabelsFollowLargestBar() {
    QFETCH(int, largest);
    QFETCH(QStringList, labels);
    std::vector<uint16_t> pixels(992);
    for (size_t i = 0; i < pixels.size(); ++i) {
        // One value holds `largest` pixels, the rest spread thinly over 992 keys.
        pixels[i] = i < static_cast<size_t>(largest) ? 3000 : static_cast<uint16_t>(4000 + i);
    }
    CPolyChart chart;
    SizeChartForPlot(chart, 480, 150);
    chart.SetChartData(HistogramOf(pixels));
    Grab(chart);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(chart.Label(i).m_text, labels[i]);
    }
}

void ControlsTest::chartProfileMirroredOnX() {
    // Hottest row 4: column 31 is hot (40.0 C), the rest of the row 20.0 C, other rows 17.0 C.
    std::vector<uint16_t> pixels(32 * 31, 2900);
    for (int c = 0; c < 32; ++c) {
        pixels[4 * 32 + c] = 2930;
    }
    pixels[4 * 32 + 31] = 3130;
    auto data = std::make_unique<CChartData>();
    data->BuildProfile(1, 32, 31, pixels.data());
    CPolyChart chart;
    const ChartGeometry plot = SizeChartForPlot(chart, 480, 200);
    chart.SetProfileMode(1);
    chart.SetChartUnit(2);
    chart.SetChartData(std::move(data));
    const QImage shot = Grab(chart);
    // Celsius from 20.0 to 40.0: top 41, bottom 19, step 6.
    QCOMPARE(chart.Label(0).m_text, QStringLiteral("43"));
    QCOMPARE(chart.Label(4).m_text, QStringLiteral("19"));
    const int topLine = chart.Label(0).m_lineY;
    const int axis = chart.Label(4).m_lineY;
    // 32 bars of 15 pixels: bar 0 is the rightmost pixel of the row (40.0 C).
    const int hotTop = axis - static_cast<int>((40.0 - 19) * (axis - topLine) / (43 - 19) + 0.5);
    const int coolTop = axis - static_cast<int>((20.0 - 19) * (axis - topLine) / (43 - 19) + 0.5);
    QVERIFY(IsBarBlue(shot.pixel(plot.left + 7, hotTop + 2)));
    QVERIFY(!IsBarBlue(shot.pixel(plot.left + 7, hotTop - 2)));
    QVERIFY(IsBarBlue(shot.pixel(plot.left + 31 * 15 + 7, coolTop + 2)));
    QVERIFY(!IsBarBlue(shot.pixel(plot.left + 31 * 15 + 7, coolTop - 2)));
}

void ControlsTest::chartTitleAndUnitFollowFrameKind() {
    CPolyChart chart;
    chart.SetChartUnit(1);
    chart.SetChartTitle(1);
    QCOMPARE(chart.GetChartTitle(), QStringLiteral("Temperature Distribution"));
    QCOMPARE(chart.GetChartUnit(), 1);
    chart.SetChartTitle(2);
    QCOMPARE(chart.GetChartTitle(), QStringLiteral("Voltage Distribution"));
    QCOMPARE(chart.GetChartUnit(), 4);
    QCOMPARE(chart.GetProfileMode(), 0);
}

void ControlsTest::chartSurvivesRecordsReplacedDuringPaints() {
    CPolyChart chart;
    SizeChartForPlot(chart, 480, 150);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        std::vector<uint16_t> pixels(992);
        for (int frame = 0; frame < 400; ++frame) {
            for (size_t i = 0; i < pixels.size(); ++i) {
                pixels[i] = static_cast<uint16_t>(2900 + (i * (frame + 1)) % 200);
            }
            chart.SetChartData(HistogramOf(pixels));
        }
        done = true;
    });
    int paints = 0;
    while (!done || paints < 5) {
        Grab(chart);
        ++paints;
    }
    worker.join();
    QVERIFY(paints >= 5);
}

void ControlsTest::chartDrawsOverDistributionLogo() {
    QTemporaryDir dir;
    const QColor logoColor(230, 200, 60);
    CPolyChart chart;
    chart.resize(400, 100);
    SaveSolidJpeg(dir.filePath("DistributionLogo.jpg"), 800, 100, logoColor);
    chart.ShowDistributionLogo(dir.path().toStdString() + "/");
    const QImage shot = Grab(chart);
    // Halved to fit the width: 400 x 50, centred in the height (rows 25 to 74).
    QVERIFY(Near(shot.pixel(398, 30), logoColor.rgb(), 3));
    QCOMPARE(shot.pixel(398, 10), qRgb(255, 255, 255));
    QCOMPARE(shot.pixel(398, 90), qRgb(255, 255, 255));
}

QTEST_MAIN(ControlsTest)
#include "controls_test.moc"
