// The video player: a 200-frame recording stepped through with the keys and the buttons, the
// picture on the screen and in a saved PNG held against the decoder's own pictures, a cut-off
// recording played to where it ends, files it cannot play, and its command line.
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

#include "aviplayer/avi_player_window.h"
#include "aviplayer/picture_view.h"
#include "platform/program_version.h"
#include "recording/avi_reader.h"
#include "recording/avi_writer.h"
#include "recording/lib_xvid_decoder.h"
#include "recording/lib_xvid_encoder.h"
#include "video/crafted_avi.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 310;

// A recording of `frames` images of a pattern that moves and changes colour from frame to frame,
// so that a wrong frame, a shifted row or swapped colours cannot pass for the right one.
bool WriteMovingPattern(const QString& path, int frames) {
    CLib_XvidEncoder encoder;
    if (encoder.InitLibrary() != 1 ||
        encoder.CreateEncoder(kWidth, kHeight, kXvidColourSpaceBgr) != 1) {
        return false;
    }
    CAviWriter writer(path.toStdString(), "xvid", kWidth, kHeight, 20);
    std::vector<uint8_t> image(kWidth * kHeight * 3), out(image.size());
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                uint8_t* pixel = &image[(y * kWidth + x) * 3];
                const bool inSquare = std::abs(x - 40 - f) < 24 && std::abs(y - 60 - f / 2) < 24;
                pixel[0] = static_cast<uint8_t>(inSquare ? 30 : (x + 2 * f) % 256);   // blue
                pixel[1] = static_cast<uint8_t>(inSquare ? 220 : y * 255 / kHeight);  // green
                pixel[2] = static_cast<uint8_t>(inSquare ? 250 : (f * 5) % 256);      // red
            }
        }
        int length = 0, isKeyFrame = 0;
        if (encoder.EncodeFrame(image.data(), out.data(), &length, &isKeyFrame) != 1 ||
            writer.AppendFrame(length, isKeyFrame, out.data()) != kAviOk) {
            return false;
        }
    }
    return true;
}

// Frame n decoded by the decoder alone, straight through from frame 0, as an image.
QImage DecodedFrame(const QString& path, int n) {
    CAviReader reader;
    CLib_XvidDecoder decoder;
    if (!reader.Open(path.toStdString()) || decoder.InitLibrary() != 1 ||
        decoder.CreateDecoder(reader.Width(), reader.Height(), XvidPictureLayout::kRgb) != 1) {
        return {};
    }
    QImage picture(reader.Width(), reader.Height(), QImage::Format_RGB888);
    std::vector<uint8_t> rgb(static_cast<std::size_t>(decoder.FrameBytes()));
    std::vector<uint8_t> bytes;
    for (int k = 0; k <= n; ++k) {
        if (!reader.ReadFrame(k, bytes) ||
            decoder.DecodeFrame(bytes.data(), static_cast<int>(bytes.size()), rgb.data()) != 1) {
            return {};
        }
    }
    for (int y = 0; y < picture.height(); ++y) {
        std::copy_n(&rgb[static_cast<std::size_t>(y * picture.width() * 3)], picture.width() * 3,
                    picture.scanLine(y));
    }
    return picture;
}

// The largest difference of one colour channel of one pixel; 256 for images of other sizes.
int MaxChannelDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) {
        return 256;
    }
    const QImage ra = a.convertToFormat(QImage::Format_RGB888);
    const QImage rb = b.convertToFormat(QImage::Format_RGB888);
    int worst = 0;
    for (int y = 0; y < ra.height(); ++y) {
        for (int i = 0; i < ra.width() * 3; ++i) {
            worst = std::max(worst, std::abs(ra.constScanLine(y)[i] - rb.constScanLine(y)[i]));
        }
    }
    return worst;
}

QString PlayerPath() {
    return QStringLiteral(THERMAL_BIN_DIR "/VELKAviPlayer/VELKAviPlayer");
}

}  // namespace

class AviPlayerTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void stepsToTheLastFrameAndShowsTheDecodedPicture();
    void grooveClickJumpsThereAndDraggingSeeks();
    void savesTheShownFrameAsPng();
    void cutOffRecordingPlaysToItsEndAndSaysWhereItEnds();
    void fileItCannotPlayIsNamedInTheStatusLine();
    void craftedFileSaysWhyInTheStatusLine_data();
    void craftedFileSaysWhyInTheStatusLine();
    void commandLine_data();
    void commandLine();

  private:
    QTemporaryDir m_dir;
    QString m_movie;
};

void AviPlayerTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_movie = m_dir.filePath(QStringLiteral("pattern.avi"));
    QVERIFY(WriteMovingPattern(m_movie, 200));
}

void AviPlayerTest::stepsToTheLastFrameAndShowsTheDecodedPicture() {
    CAviPlayerWindow window;
    auto* view = window.findChild<CPictureView*>(QStringLiteral("pictureView"));
    auto* label = window.findChild<QLabel*>(QStringLiteral("frameLabel"));
    auto* slider = window.findChild<QSlider*>(QStringLiteral("positionSlider"));
    auto* back = window.findChild<QPushButton*>(QStringLiteral("backButton"));
    auto* forward = window.findChild<QPushButton*>(QStringLiteral("forwardButton"));
    QVERIFY(view && label && slider && back && forward);
    // The picture one to one on the screen, so that the screen's pixels can be compared.
    view->setFixedSize(kWidth, kHeight);
    QVERIFY(window.OpenFile(m_movie));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(label->text(), QStringLiteral("Frame 0 / 199   00:00.000 / 00:10.000"));
    QCOMPARE(window.StatusText(),
             QStringLiteral("320 x 310 pixels, 20 frames/s, 200 frames (10.00 s), XVID"));
    QVERIFY(!back->isEnabled());
    for (int i = 0; i < 199; ++i) {
        QTest::keyClick(&window, Qt::Key_Right);
    }
    QCOMPARE(window.CurrentFrame(), 199);
    QCOMPARE(label->text(), QStringLiteral("Frame 199 / 199   00:09.950 / 00:10.000"));
    QCOMPARE(slider->value(), 199);
    QVERIFY(!forward->isEnabled());
    const QImage decoded = DecodedFrame(m_movie, 199);
    QVERIFY(!decoded.isNull());
    // The decoder's two colour layouts round differently by up to 2 (the player shows blue,
    // green, red; the reference is red, green, blue).
    QVERIFY(MaxChannelDifference(view->grab().toImage(), decoded) <= 2);
    QVERIFY(MaxChannelDifference(view->grab().toImage(), DecodedFrame(m_movie, 198)) > 20);

    // A step back with the button, then a jump with the slider, which seeks from a key frame.
    QTest::mouseClick(back, Qt::LeftButton);
    QCOMPARE(window.CurrentFrame(), 198);
    QCOMPARE(label->text(), QStringLiteral("Frame 198 / 199   00:09.900 / 00:10.000"));
    QVERIFY(MaxChannelDifference(view->grab().toImage(), DecodedFrame(m_movie, 198)) <= 2);
    slider->setValue(75);
    QCOMPARE(window.CurrentFrame(), 75);
    QVERIFY(MaxChannelDifference(view->grab().toImage(), DecodedFrame(m_movie, 75)) <= 2);
    QTest::keyClick(&window, Qt::Key_Home);
    QCOMPARE(window.CurrentFrame(), 0);
}

void AviPlayerTest::grooveClickJumpsThereAndDraggingSeeks() {
    CAviPlayerWindow window;
    auto* slider = window.findChild<QSlider*>(QStringLiteral("positionSlider"));
    QVERIFY(window.OpenFile(m_movie));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Frames 0 to 199 across the groove: three quarters of the way is about frame 149 (give or
    // take the handle's half width); paging would have gone 20 frames.
    const auto at = [slider](int quarters) {
        return QPoint(slider->width() * quarters / 4, slider->height() / 2);
    };
    QTest::mouseClick(slider, Qt::LeftButton, {}, at(3));
    QVERIFY2(std::abs(window.CurrentFrame() - 149) <= 8,
             qPrintable(QString::number(window.CurrentFrame())));
    QTest::mousePress(slider, Qt::LeftButton, {}, at(3));
    QTest::mouseMove(slider, at(1));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, at(1));
    QVERIFY2(std::abs(window.CurrentFrame() - 50) <= 8,
             qPrintable(QString::number(window.CurrentFrame())));
}

void AviPlayerTest::savesTheShownFrameAsPng() {
    CAviPlayerWindow window;
    QVERIFY(window.OpenFile(m_movie));
    window.ShowFrame(123);
    const QString png = m_dir.filePath(QStringLiteral("frame123.png"));
    QString error;
    QVERIFY2(window.SaveFrameAsPng(png, &error), qPrintable(error));
    QImage saved(png);
    QCOMPARE(saved.size(), QSize(kWidth, kHeight));
    QVERIFY(MaxChannelDifference(saved, DecodedFrame(m_movie, 123)) <= 2);
    QCOMPARE(MaxChannelDifference(saved, window.findChild<CPictureView*>()->Picture()), 0);

    const QString nowhere = m_dir.filePath(QStringLiteral("missing/frame.png"));
    QVERIFY(!window.SaveFrameAsPng(nowhere, &error));
    QVERIFY2(error.startsWith(QStringLiteral("Cannot write '%1'").arg(nowhere)), qPrintable(error));
    QVERIFY(!QFile::exists(nowhere));
}

void AviPlayerTest::cutOffRecordingPlaysToItsEndAndSaysWhereItEnds() {
    // Twenty frames, cut in the middle of frame 12 (a recording the machine lost power in).
    const QString whole = m_dir.filePath(QStringLiteral("short.avi"));
    QVERIFY(WriteMovingPattern(whole, 20));
    CAviReader reader;
    QVERIFY(reader.Open(whole.toStdString()));
    const AviFrameEntry frame12 = reader.Frame(12);
    reader.Close();
    const QString cut = m_dir.filePath(QStringLiteral("cut.avi"));
    QVERIFY(QFile::copy(whole, cut));
    QVERIFY(QFile::resize(cut, static_cast<qint64>(frame12.offset + frame12.size / 2)));

    CAviPlayerWindow window;
    QVERIFY(window.OpenFile(cut));
    QVERIFY2(window.StatusText().endsWith(
                 QStringLiteral("The file is damaged; it plays as far as it is whole.")),
             qPrintable(window.StatusText()));
    QElapsedTimer clock;
    clock.start();
    window.Play();
    QVERIFY(window.IsPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsPlaying(), 10000);
    // Twelve frames at 20 per second take 0.55 s from the first to the last; the player keeps
    // to the file's rate rather than racing through.
    QVERIFY2(clock.elapsed() >= 500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(window.CurrentFrame(), 11);
    const QString expected =
        QStringLiteral(
            "The file ends here, after frame 11: frame 12 at byte %1: the file ends "
            "inside the frame (%2 of its %3 bytes are there)")
            .arg(frame12.offset - 8)
            .arg(frame12.size / 2)
            .arg(frame12.size);
    QCOMPARE(window.StatusText(), expected);
}

// Hostile videos: frame sizes no recording has (the player used to end with "stopped by an
// unexpected error"), frames of another size, frames that give no picture. The status line says
// why, at opening (%1 is the file) and at the frame given.
void AviPlayerTest::craftedFileSaysWhyInTheStatusLine_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("frames");  // ours, random or key-empty
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("frame");  // shown after opening
    QTest::addColumn<QString>("status");
    QTest::newRow("32767x32767")
        << 32767 << 32767 << "ours" << false << 0
        << QStringLiteral(
               "cannot play '%1': its pictures of 32767 x 32767 pixels are larger than "
               "4096 x 4096, the largest this program decodes");
    QTest::newRow("random frames")
        << kWidth << kHeight << "random" << true << 39
        << QStringLiteral(
               "Frame 39 gives no picture: the decoder finds none in its 700 bytes; "
               "nothing has been shown yet.");
    QTest::newRow("key frame, then empty frames")
        << kWidth << kHeight << "key-empty" << true << 1000
        << QStringLiteral(
               "Frame 1000 is empty (0 bytes), as a recording stores a frame it could "
               "not encode: the picture before stays.");
}

void AviPlayerTest::craftedFileSaysWhyInTheStatusLine() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QString, frames);
    QFETCH(bool, opens);
    QFETCH(int, frame);
    QFETCH(QString, status);
    CAviReader reader;
    QVERIFY(reader.Open(m_movie.toStdString()));
    std::vector<uint8_t> bytes;
    QVERIFY(reader.ReadFrame(0, bytes));
    const crafted_avi::Frame key{std::string(bytes.begin(), bytes.end()), true};
    std::vector<crafted_avi::Frame> content;
    if (frames == QLatin1String("ours")) {
        content = {key, key};
    } else if (frames == QLatin1String("random")) {
        content = crafted_avi::RandomFrames(40, 700, 9);
    } else {
        content = crafted_avi::KeyFrameThenEmptyFrames(key, 1000);
    }
    const QString path = m_dir.filePath(QStringLiteral("crafted.avi"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const std::string avi =
        crafted_avi::Avi(static_cast<uint32_t>(width), static_cast<uint32_t>(height), content);
    file.write(avi.data(), static_cast<qint64>(avi.size()));
    file.close();

    CAviPlayerWindow window;
    QCOMPARE(window.OpenFile(path), opens);
    if (opens) {
        window.ShowFrame(frame);
    }
    QCOMPARE(window.StatusText(), status.contains(QLatin1String("%1")) ? status.arg(path) : status);
}

void AviPlayerTest::fileItCannotPlayIsNamedInTheStatusLine() {
    const QString junk = m_dir.filePath(QStringLiteral("junk.avi"));
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(5000, 'x'));
    file.close();
    CAviPlayerWindow window;
    QVERIFY(window.OpenFile(m_movie));
    QVERIFY(!window.OpenFile(junk));
    QCOMPARE(window.StatusText(),
             QStringLiteral("'%1' is not an AVI file (no RIFF 'AVI ' header)").arg(junk));
    QCOMPARE(window.CurrentFrame(), -1);
    QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("playButton"))->isEnabled());
    QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("saveButton"))->isEnabled());
    window.Play();
    QVERIFY(!window.IsPlaying());
    QString error;
    QVERIFY(!window.SaveFrameAsPng(m_dir.filePath(QStringLiteral("none.png")), &error));
}

void AviPlayerTest::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("stdoutHas");
    QTest::addColumn<QString>("stderrIs");
    QTest::newRow("help") << QStringList{"--help"} << 0
                          << "Usage: VELKAviPlayer [--play] [--stats] [FILE.avi]"
                          << "";
    QTest::newRow("version") << QStringList{"--version"} << 0
                             << QStringLiteral("VELKAviPlayer %1\n").arg(ProgramVersion()) << "";
    QTest::newRow("two files") << QStringList{"a.avi", "b.avi"} << 2 << ""
                               << "VELKAviPlayer: one video at a time: 'b.avi' is one too many "
                                  "(see 'VELKAviPlayer --help')\n";
    QTest::newRow("unknown option")
        << QStringList{"--loop"} << 2 << ""
        << "VELKAviPlayer: unknown option '--loop' (see 'VELKAviPlayer --help')\n";
}

void AviPlayerTest::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, stdoutHas);
    QFETCH(QString, stderrIs);
    QProcess player;
    player.start(PlayerPath(), args);
    QVERIFY(player.waitForFinished(20000));
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(player.exitCode(), status);
    QVERIFY(QString::fromUtf8(player.readAllStandardOutput()).contains(stdoutHas));
    QCOMPARE(QString::fromUtf8(player.readAllStandardError()), stderrIs);
}

QTEST_MAIN(AviPlayerTest)
#include "avi_player_test.moc"
