// Play-back in the main dialog: the play dialog, PlayFile's choice of timer, period and data
// mode, what each kind of recording shows while it plays and how it ends, and a recording of
// the simulated module played back into the same display.
// ctest: RUN_SERIAL (one case records a live session against the simulated module)
#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "app/latency_stats.h"
#include "controls/poly_chart.h"
#include "device/module_simulator.h"
#include "dialogs/dlg_play.h"
#include "frame/binary_record.h"
#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "gui/gui_test_support.h"
#include "recording/playback_rules.h"
#include "res/aux_dialog_templates.h"
#include "res/resource.h"
#include "support/file_bytes.h"

namespace {

bool BlueFrameShown(const CmfcVELKDlg& dlg) {
    return !dlg.GetDlgItem(IDC_PLAY_FRAME)->isHidden();
}

bool VoltageMode(const CmfcVELKDlg& dlg) {
    return dlg.GetDlgItem(IDC_DELTA_V)->isEnabled() && !dlg.GetDlgItem(IDC_DELTA_T)->isEnabled();
}

bool AnyPlayTimer(const CmfcVELKDlg& dlg) {
    return dlg.IsTimerActive(IDT_PLAY_BDS) || dlg.IsTimerActive(IDT_PLAY_TXT) ||
           dlg.IsTimerActive(IDT_PLAY_BIN);
}

int StackedFrames(CmfcVELKDlg& dlg) {
    int frames = 0, offsets = 0, thermal = 0;
    dlg.Pipeline().GetStackCounts(frames, offsets, thermal);
    return frames;
}

// A frame whose values differ from those of any other seed: temperatures around 20 degrees
// Celsius (deci-kelvin), or counts for voltage frames, with offsets and header words.
FrameData MakeFrame(int seed) {
    FrameData frame{};
    for (int i = 0; i < kPixelCount; ++i) {
        frame.values[i] = static_cast<uint16_t>(2850 + (i * 7 + seed * 13) % 190);
    }
    for (int c = 0; c < kOffsetCount; ++c) {
        frame.offsets[c] = static_cast<uint16_t>(30 + c + seed);
    }
    for (int w = 0; w < kHeaderWordCount; ++w) {
        frame.header[w] = static_cast<uint16_t>(100 + w * 3 + seed);
    }
    return frame;
}

std::string BinaryRecordBytes(char modeLetter, const FrameData& frame) {
    uint8_t block[kFrameBlockSize];
    EncodeFrameBlock(frame, block);
    PutFrameMarker(block);
    const BinaryRecord record = EncodeBinaryRecord(modeLetter, block);
    return {reinterpret_cast<const char*>(record.data()), record.size()};
}

int UnitOfModeChar(char modeChar) {
    return modeChar == 'K' ? kUnitKelvin : modeChar == 'C' ? kUnitCelsius : kUnitFahrenheit;
}

// A text recording's record of a frame, as the recorder stores it.
std::string TextRecordBytes(char modeChar, char elOffChar, const FrameData& frame) {
    const std::string text = modeChar == 'V'
                                 ? RenderVoltageText(frame).text
                                 : RenderTemperatureText(frame, UnitOfModeChar(modeChar)).text;
    return MakeTextStreamRecord(modeChar, elOffChar, text);
}

// What a reference pipeline with the viewer's start-up settings delivers for frames: the last
// frame's text and display image.
struct Reference {
    std::string text;
    std::vector<uint8_t> image;
};

void ConfigureLikeTheViewer(CFramePipeline& pipeline, int unit) {
    pipeline.SetUnit(unit);
    pipeline.SetElOffsetSubtraction(1);
    pipeline.SetInterpolation(1);
    pipeline.SelectPalette(4);
}

Reference ProcessReference(int unit, const std::function<void(CFramePipeline&)>& feed) {
    Reference result;
    CFramePipeline pipeline;
    ConfigureLikeTheViewer(pipeline, unit);
    pipeline.SetCallback(
        [](void* owner, const char*, const std::string& text, const uint8_t*, const uint8_t* image,
           const uint16_t*) {
            auto* out = static_cast<Reference*>(owner);
            out->text = text;
            out->image.assign(image, image + kImageBytes);
        },
        &result);
    feed(pipeline);
    return result;
}

// Pixels of the image control that differ from `expected`, sampled in the middle of every 10 x 10
// block: stretching without smoothing maps it to the same source pixel whatever the control's
// size.
int ShownImageMismatches(CmfcVELKDlg& dlg, const std::vector<uint8_t>& expected) {
    const QImage shown = dlg.GetDlgItem(IDC_IMAGE)->grab().toImage();
    int mismatches = 0;
    for (int y = 5; y < kImageHeight; y += 10) {
        for (int x = 5; x < kImageWidth; x += 10) {
            const int sx = (x * shown.width() + shown.width() / 2) / kImageWidth;
            const int sy = (y * shown.height() + shown.height() / 2) / kImageHeight;
            const uint8_t* rgb = &expected[(static_cast<size_t>(y) * kImageWidth + x) * 3];
            if (shown.pixelColor(sx, sy) != QColor(rgb[0], rgb[1], rgb[2])) {
                ++mismatches;
            }
        }
    }
    return mismatches;
}

// The frame text of a text stream record as play-back reads it: the header line goes, and every
// CR LF on disk is read as a line feed, which the line reader drops.
std::string FrameTextAsRead(const std::string& record) {
    const std::string onDisk = record.substr(record.find('\n') + 1);
    std::string text;
    for (size_t at = 0; at < onDisk.size(); ++at) {
        const bool crBeforeLf =
            onDisk[at] == '\r' && at + 1 < onDisk.size() && onDisk[at + 1] == '\n';
        if (!crBeforeLf && onDisk[at] != '\n') {
            text += onDisk[at];
        }
    }
    return text;
}

// Answers the next modal window (a message box, a file dialog) with `answer`, again every 20 ms
// while it stays open (a file dialog may still be loading its directory), and closes it after
// five seconds, so that a test fails instead of hanging. *seen tells whether one opened. The
// answering stops when the returned timer goes, at the latest.
std::unique_ptr<QTimer> AnswerNextModal(std::function<void(QWidget*)> answer, bool* seen) {
    auto poll = std::make_unique<QTimer>();
    poll->setInterval(20);
    QTimer* timer = poll.get();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer, seen, rounds = 0]() mutable {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            *seen = true;
            answer(modal);
            if (!modal->isVisible()) {
                timer->stop();
                return;
            }
        }
        if (++rounds > 250) {
            timer->stop();
            if (QWidget* stuck = QApplication::activeModalWidget()) {
                stuck->close();
            }
        }
    });
    timer->start();
    return poll;
}

// Receives what the desktop would open when no video player is installed.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.append(url); }
};

}  // namespace

class PlaybackTest : public QObject {
    Q_OBJECT

  private slots:
    void playFileChoosesTimerAndDataMode_data();
    void playFileChoosesTimerAndDataMode();
    void binaryStreamPlaysLikeLiveFrames_data();
    void binaryStreamPlaysLikeLiveFrames();
    void textStreamFollowsItsHeaderToItsLastWholeFrame_data();
    void textStreamFollowsItsHeaderToItsLastWholeFrame();
    void recordingDuringTextPlayBack_data();
    void recordingDuringTextPlayBack();
    void rawFrameFileShowsOneFrameThenStops();
    void videoGoesToThePlayerOrTheDesktop_data();
    void videoGoesToThePlayerOrTheDesktop();
    void stopAndPlayEndPlayBack();
    void playDialogPlaysOrRefuses_data();
    void playDialogPlaysOrRefuses();
    void playDialogOpenStreamAsksForExistingRecording();
    void playbackTicksAreSummarised();
    void recordedSessionPlaysBackIntoTheSameDisplay();
};

void PlaybackTest::playFileChoosesTimerAndDataMode_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");  // empty: no file
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("timer");     // 0: none runs
    QTest::addColumn<int>("periodMs");  // of the timer that runs
    QTest::addColumn<bool>("voltage");
    QTest::addColumn<bool>("frameShown");
    QTest::addColumn<QString>("logged");

    const auto bytes = [](const std::string& s) { return QByteArray::fromStdString(s); };
    std::string modeX = BinaryRecordBytes('K', MakeFrame(1));
    modeX[5] = 'X';
    const std::string rawFrame(kRawFrameSize, '\x10');

    const QByteArray temperature = bytes(BinaryRecordBytes('K', MakeFrame(1)));
    QTest::newRow("speed 0: 18.6 fps, upper-case extension")
        << "rec.BDS" << temperature << 0 << IDT_PLAY_BDS << 53 << false << true << "";
    QTest::newRow("speed -5: 18.6 fps, voltage stream")
        << "volts.bds" << bytes(BinaryRecordBytes('t', MakeFrame(1))) << -5 << IDT_PLAY_BDS << 53
        << true << true << "";
    QTest::newRow("Mode=X opens but does not play")
        << "odd.bds" << bytes(modeX) << 186 << 0 << 0 << false << true << "no known data mode";
    QTest::newRow("speed 10: 1 fps, text stream in kelvin")
        << "rec.Txt" << bytes(TextRecordBytes('K', 'F', MakeFrame(1))) << 10 << IDT_PLAY_TXT << 1000
        << false << true << "";
    QTest::newRow("speed 3 is held at 1000 ms, voltage text stream")
        << "volts.txt" << bytes(TextRecordBytes('V', 'T', MakeFrame(1))) << 3 << IDT_PLAY_TXT
        << 1000 << true << true << "";
    QTest::newRow("speed 500 is held at 30 ms, raw frames are voltage")
        << "frames.BIN" << bytes(rawFrame) << 500 << IDT_PLAY_BIN << 30 << true << true << "";
    QTest::newRow("text lines saved again with a single CR LF do not play")
        << "edited.txt" << bytes(TextRecordBytes('K', 'F', MakeFrame(1))).replace("\r\r\n", "\r\n")
        << 186 << 0 << 0 << false << true << "its lines end in a single CR LF";
    QTest::newRow("missing file shows the frame all the same")
        << "gone.bds" << QByteArray() << 186 << 0 << 0 << false << true
        << "No such file or directory";
    QTest::newRow("unknown extension")
        << "rec.dat" << temperature << 186 << 0 << 0 << false << false << "Unkown File format!";
}

void PlaybackTest::playFileChoosesTimerAndDataMode() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, speed);
    QFETCH(int, timer);
    QFETCH(int, periodMs);
    QFETCH(bool, voltage);
    QFETCH(bool, frameShown);
    QFETCH(QString, logged);
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const std::string path = dir.filePath(name).toStdString();
    if (!content.isEmpty()) {
        WriteFileBytes(path, content.toStdString());
    }
    // The opposite data mode first, so a switch shows.
    dlg->ApplyDataMode(voltage ? 1 : 2);
    const bool voltageBefore = VoltageMode(*dlg);
    dlg->SetDlgItemText(IDC_LOG, QString());

    dlg->PlayFile(speed, path);
    for (int id : {IDT_PLAY_BDS, IDT_PLAY_TXT, IDT_PLAY_BIN}) {
        QCOMPARE(dlg->IsTimerActive(id), id == timer);
    }
    if (timer != 0) {
        QCOMPARE(dlg->TimerInterval(timer), periodMs);
    }
    QCOMPARE(VoltageMode(*dlg), timer != 0 ? voltage : voltageBefore);
    QCOMPARE(BlueFrameShown(*dlg), frameShown);
    const QString log = dlg->GetDlgItemText(IDC_LOG);
    if (logged.isEmpty()) {
        QCOMPARE(log, QString());
    } else {
        QVERIFY2(log.contains(logged), qPrintable(log));
    }
    dlg->StopPlayback();
    QVERIFY(!BlueFrameShown(*dlg));
}

void PlaybackTest::binaryStreamPlaysLikeLiveFrames_data() {
    QTest::addColumn<char>("letter");
    QTest::addColumn<QString>("maxSuffix");
    QTest::newRow("Mode=T plays as K") << 'K' << " [T]";
    QTest::newRow("Mode=V plays as t") << 't' << " [V]";
}

void PlaybackTest::binaryStreamPlaysLikeLiveFrames() {
    QFETCH(char, letter);
    QFETCH(QString, maxSuffix);
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const std::string path = dir.filePath(QStringLiteral("rec.bds")).toStdString();
    std::string bytes;
    for (int seed = 1; seed <= 4; ++seed) {
        bytes += BinaryRecordBytes(letter, MakeFrame(seed));
    }
    // A record cut off while being written ends the play-back.
    bytes += bytes.substr(0, 100);
    WriteFileBytes(path, bytes);
    // A stack of two: queued frames are stacked like live ones.
    dlg->SetDlgItemText(IDC_FRAMESTACK, QStringLiteral("2"));

    dlg->PlayFile(500, path);
    QTRY_VERIFY(!dlg->IsTimerActive(IDT_PLAY_BDS));
    QVERIFY(!BlueFrameShown(*dlg));

    const Reference expected = ProcessReference(kUnitCelsius, [&](CFramePipeline& pipeline) {
        pipeline.SetStackSizes(2, 1, 1);
        for (int seed = 1; seed <= 4; ++seed) {
            uint8_t block[kFrameBlockSize];
            EncodeFrameBlock(MakeFrame(seed), block);
            PutFrameMarker(block);
            pipeline.ProcessFrameNow(letter, kFrameBlockSize, block);
        }
    });
    QTRY_COMPARE(QString::fromStdString(dlg->CopyText()), QString::fromStdString(expected.text));
    QTRY_VERIFY(dlg->GetDlgItemText(IDC_MAX_TEXT).endsWith(maxSuffix));
}

void PlaybackTest::textStreamFollowsItsHeaderToItsLastWholeFrame_data() {
    QTest::addColumn<char>("modeChar");
    QTest::addColumn<char>("elOffChar");
    QTest::addColumn<int>("unitBefore");
    QTest::addColumn<int>("unitAfter");
    QTest::addColumn<QString>("damage");
    QTest::newRow("Mode=F switches to fahrenheit; last frame cut short")
        << 'F' << 'F' << 2 << 3 << "cut";
    QTest::newRow("Mode=K switches to kelvin") << 'K' << 'F' << 3 << 1 << "";
    QTest::newRow("Mode=C switches to Celsius; a frame that does not parse is skipped")
        << 'C' << 'F' << 1 << 2 << "bad";
    QTest::newRow("Mode=V keeps the unit") << 'V' << 'F' << 1 << 1 << "";
    QTest::newRow("Mode=V, offsets subtracted; last frame cut short")
        << 'V' << 'T' << 3 << 3 << "cut";
}

void PlaybackTest::textStreamFollowsItsHeaderToItsLastWholeFrame() {
    QFETCH(char, modeChar);
    QFETCH(char, elOffChar);
    QFETCH(int, unitBefore);
    QFETCH(int, unitAfter);
    QFETCH(QString, damage);
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->ApplyOptions(0, unitBefore);
    const std::string path = dir.filePath(QStringLiteral("rec.txt")).toStdString();
    std::string first = TextRecordBytes(modeChar, elOffChar, MakeFrame(2));
    const std::string last = TextRecordBytes(modeChar, elOffChar, MakeFrame(3));
    std::string after;
    // The nth line feed of a record, counting the header line.
    const auto lineEnd = [](const std::string& record, int n) {
        size_t at = 0;
        for (int line = 0; line < n; ++line) {
            at = record.find('\n', at) + 1;
        }
        return at;
    };
    if (damage == "cut") {
        after = last.substr(0, lineEnd(last, 10));
    } else if (damage == "bad") {
        // The fifth pixel line loses its first field: 31 fields make no frame.
        const size_t at = lineEnd(first, 5);
        first.erase(at, first.find('\t', at) + 1 - at);
        QCOMPARE(CFramePipeline().ProcessTextFrame(0, modeChar, FrameTextAsRead(first)), 0);
    }
    WriteFileBytes(path, first + last + after);

    dlg->PlayFile(500, path);
    QTRY_VERIFY(!dlg->IsTimerActive(IDT_PLAY_TXT));
    QVERIFY(!BlueFrameShown(*dlg));
    QCOMPARE(dlg->TempUnit(), unitAfter);

    // The last whole frame as the pipeline's text path shows it in the file's unit: offsets
    // added back when the header says they were subtracted.
    const Reference expected = ProcessReference(unitAfter, [&](CFramePipeline& pipeline) {
        QCOMPARE(pipeline.ProcessTextFrame(elOffChar == 'T', modeChar, FrameTextAsRead(last)), 1);
    });
    QCOMPARE(QString::fromStdString(dlg->CopyText()), QString::fromStdString(expected.text));
    if (modeChar != 'V') {
        auto* chart = static_cast<CPolyChart*>(dlg->GetDlgItem(IDC_CHART));
        QTRY_COMPARE(chart->GetChartUnit(), unitAfter);
        QVERIFY(!VoltageMode(*dlg));
    } else {
        QVERIFY(VoltageMode(*dlg));
        QTRY_VERIFY(dlg->GetDlgItemText(IDC_MAX_TEXT).endsWith(QStringLiteral(" [V]")));
    }
}

void PlaybackTest::recordingDuringTextPlayBack_data() {
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("name");
    QTest::newRow("a text recording writes the frames again") << 2 << "again.txt";
    QTest::newRow("a binary recording has no blocks to write") << 1 << "again.bds";
}

void PlaybackTest::recordingDuringTextPlayBack() {
    QFETCH(int, filter);
    QFETCH(QString, name);
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const std::string played = dir.filePath(QStringLiteral("played.txt")).toStdString();
    std::vector<std::string> records;
    std::string bytes;
    for (int seed = 1; seed <= 3; ++seed) {
        records.push_back(TextRecordBytes('F', 'F', MakeFrame(seed)));
        bytes += records.back();
    }
    WriteFileBytes(played, bytes);
    const std::string recorded = dir.filePath(name).toStdString();
    dlg->SaveTo(recorded, filter);
    Click(*dlg, IDC_REC);

    dlg->PlayFile(500, played);
    QTRY_VERIFY(!dlg->IsTimerActive(IDT_PLAY_TXT));
    Click(*dlg, IDC_STOP);
    QVERIFY(!dlg->Recorder().IsFileOpen());
    if (filter == 2) {
        // Every frame again, as shown: in the file's unit, under its header.
        std::string expected;
        for (const std::string& record : records) {
            const Reference shown = ProcessReference(kUnitFahrenheit, [&](CFramePipeline& p) {
                p.ProcessTextFrame(0, 'F', FrameTextAsRead(record));
            });
            AppendTextStreamRecord('F', 'F', shown.text, expected);
        }
        QCOMPARE(QByteArray::fromStdString(ReadWhole(recorded)),
                 QByteArray::fromStdString(expected));
    } else {
        QCOMPARE(ReadWhole(recorded).size(), size_t{0});
    }
}

void PlaybackTest::rawFrameFileShowsOneFrameThenStops() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    const QString minBefore = dlg->GetDlgItemText(IDC_MIN_TEXT);
    // 992 values high byte first, then 1016 bytes of a second frame that never completes.
    std::string bytes(3000, '\x7F');
    uint16_t values[kPixelCount];
    for (int i = 0; i < kPixelCount; ++i) {
        values[i] = static_cast<uint16_t>(0x0102 + (i * 37) % 900);
        bytes[2 * i] = static_cast<char>(values[i] >> 8);
        bytes[2 * i + 1] = static_cast<char>(values[i] & 0xFF);
    }
    const std::string path = dir.filePath(QStringLiteral("frames.bin")).toStdString();
    WriteFileBytes(path, bytes);

    dlg->PlayFile(500, path);
    QVERIFY(BlueFrameShown(*dlg));
    QTRY_VERIFY(!dlg->IsTimerActive(IDT_PLAY_BIN));
    QVERIFY(!BlueFrameShown(*dlg));

    CFramePipeline reference;
    reference.SelectPalette(4);
    std::vector<uint8_t> small(kSmallImageBytes);
    std::vector<uint8_t> image(kImageBytes);
    reference.MapRawFrame(values, small.data(), image.data());
    QCOMPARE(ShownImageMismatches(*dlg, image), 0);
    // Shown directly: no readouts, nothing for "Copy Data".
    QCOMPARE(dlg->GetDlgItemText(IDC_MIN_TEXT), minBefore);
    QVERIFY(dlg->CopyText().empty());
}

void PlaybackTest::videoGoesToThePlayerOrTheDesktop_data() {
    QTest::addColumn<QString>("playerPath");  // beside the viewer; empty: no player installed
    QTest::addColumn<QString>("options");     // what the player is told before the path
    QTest::newRow("the player built with the viewer") << "VELKAviPlayer/VELKAviPlayer"
                                                      << "3|--play|--|";
    QTest::newRow("a player with the Windows name") << "VELKAviPlayer/VELKAviPlayer.exe"
                                                    << "1|";
    QTest::newRow("the installed player, a program beside the viewer") << "VELKAviPlayer"
                                                                       << "3|--play|--|";
    QTest::newRow("no player: the desktop opens it") << ""
                                                     << "";
}

void PlaybackTest::videoGoesToThePlayerOrTheDesktop() {
    QFETCH(QString, playerPath);
    QFETCH(QString, options);
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const QString video = dir.filePath(QStringLiteral("clip with space.AVI"));
    WriteFileBytes(video.toStdString(), "RIFF");
    const QString argsFile = dir.filePath(QStringLiteral("args"));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    if (!playerPath.isEmpty()) {
        const QString player = dir.filePath(playerPath);
        QVERIFY(QDir().mkpath(QFileInfo(player).path()));
        WriteFileBytes(player.toStdString(), "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '" +
                                                 argsFile.toStdString() + ".tmp'\n" + "mv '" +
                                                 argsFile.toStdString() + ".tmp' '" +
                                                 argsFile.toStdString() + "'\n");
        QFile::setPermissions(player, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    dlg->PlayFile(186, video.toStdString());
    QVERIFY(!AnyPlayTimer(*dlg));
    QVERIFY(!BlueFrameShown(*dlg));
    if (!playerPath.isEmpty()) {
        QTRY_VERIFY(QFile::exists(argsFile));
        QCOMPARE(QString::fromStdString(ReadWhole(argsFile.toStdString())),
                 options + video + QStringLiteral("|"));
        QVERIFY(catcher.urls.isEmpty());
    } else {
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(video)});
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void PlaybackTest::stopAndPlayEndPlayBack() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const std::string path = dir.filePath(QStringLiteral("long.bds")).toStdString();
    std::string bytes;
    for (int seed = 0; seed < 20; ++seed) {
        bytes += BinaryRecordBytes('K', MakeFrame(seed));
    }
    WriteFileBytes(path, bytes);
    dlg->SetDlgItemText(IDC_FRAMESTACK, QStringLiteral("4"));
    const std::string live = BinaryRecordBytes('K', MakeFrame(30)).substr(kBinaryRecordHeaderSize);

    // START ends a play-back too; each run starts from empty stacks, never mixing frames.
    for (int button : {IDC_STOP, IDC_PLAY, IDC_START}) {
        dlg->Pipeline().ProcessFrameNow('K', kFrameBlockSize,
                                        reinterpret_cast<const uint8_t*>(live.data()));
        dlg->PlayFile(10, path);
        QCOMPARE(StackedFrames(*dlg), 0);
        QVERIFY(dlg->IsTimerActive(IDT_PLAY_BDS));
        QVERIFY(BlueFrameShown(*dlg));
        dlg->Pipeline().ProcessFrameNow('K', kFrameBlockSize,
                                        reinterpret_cast<const uint8_t*>(live.data()));
        Click(*dlg, button);
        QVERIFY(!AnyPlayTimer(*dlg));
        QVERIFY(!BlueFrameShown(*dlg));
    }
    QCOMPARE(StackedFrames(*dlg), 0);
    // "Play" also brought up the play dialog; a second "Play" brings the same one forward.
    QPointer<CDlgPlay> play = dlg->PlayDialog();
    QVERIFY(play);
    QVERIFY(play->isVisible());
    QCOMPARE(play->SpeedText(), QStringLiteral("186"));
    QCOMPARE(play->PlayPath(), std::string());
    play->SetSpeedText(QStringLiteral("50"));
    Click(*dlg, IDC_PLAY);
    QCOMPARE(dlg->PlayDialog(), play.data());
    QCOMPARE(play->SpeedText(), QStringLiteral("50"));
    // Esc (or the close box) closes it, and the next "Play" makes a new one.
    QTest::keyClick(play, Qt::Key_Escape);
    QCOMPARE(dlg->PlayDialog(), nullptr);
    QTRY_VERIFY(play.isNull());
    Click(*dlg, IDC_PLAY);
    QVERIFY(dlg->PlayDialog() != nullptr);
    QCOMPARE(dlg->PlayDialog()->SpeedText(), QStringLiteral("186"));
}

void PlaybackTest::playDialogPlaysOrRefuses_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("plays");
    QTest::newRow("no file chosen") << "" << false;
    QTest::newRow("the file has gone") << "gone.bds" << false;
    QTest::newRow("a directory") << "." << false;
    QTest::newRow("a recording") << "rec.bds" << true;
}

void PlaybackTest::playDialogPlaysOrRefuses() {
    QFETCH(QString, path);
    QFETCH(bool, plays);
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    WriteFileBytes(dir.filePath(QStringLiteral("rec.bds")).toStdString(),
                   BinaryRecordBytes('K', MakeFrame(1)) + BinaryRecordBytes('K', MakeFrame(2)));
    Click(*dlg, IDC_PLAY);
    QPointer<CDlgPlay> play = dlg->PlayDialog();
    QVERIFY(play);
    QCOMPARE(play->windowTitle(), QStringLiteral("Dialog"));
    if (!path.isEmpty()) {
        play->SetPlayPath(dir.filePath(path).toStdString());
    }
    play->SetSpeedText(QStringLiteral("10"));
    QString text;
    QString caption;
    bool seen = false;
    const auto answering = AnswerNextModal(
        [&](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                text = box->text();
                caption = box->windowTitle();
            }
            modal->close();
        },
        &seen);
    // Enter in the speed edit presses "Play", the default button.
    QTest::keyClick(play->findChild<QLineEdit*>(QStringLiteral("IDC_%1").arg(IDC_PLAY_SPEED)),
                    Qt::Key_Return);
    if (plays) {
        QVERIFY(!seen);
        QVERIFY(dlg->IsTimerActive(IDT_PLAY_BDS));
        QCOMPARE(dlg->TimerInterval(IDT_PLAY_BDS), 1000);
        QCOMPARE(dlg->PlayDialog(), nullptr);
        QTRY_VERIFY(play.isNull());
    } else {
        QVERIFY(seen);
        QCOMPARE(text, QStringLiteral("Please select file!"));
        QCOMPARE(caption, QStringLiteral("Error"));
        QVERIFY(play && play->isVisible());
        QCOMPARE(dlg->PlayDialog(), play.data());
        QVERIFY(!AnyPlayTimer(*dlg));
    }
}

void PlaybackTest::playDialogOpenStreamAsksForExistingRecording() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const QString path = dir.filePath(QStringLiteral("pick.txt"));
    WriteFileBytes(path.toStdString(), TextRecordBytes('C', 'F', MakeFrame(1)));
    Click(*dlg, IDC_PLAY);
    CDlgPlay* play = dlg->PlayDialog();
    QStringList filters;
    int fileMode = -1;
    bool seen = false;
    const auto answering = AnswerNextModal(
        [&](QWidget* modal) {
            auto* chooser = qobject_cast<QFileDialog*>(modal);
            if (chooser == nullptr) {
                modal->close();
                return;
            }
            filters = chooser->nameFilters();
            fileMode = chooser->fileMode();
            // Typed into the name box: selectFile() is lost when the directory is still loading.
            if (auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                name->setText(path);
            } else {
                chooser->selectFile(path);
            }
            static_cast<QDialog*>(chooser)->accept();
        },
        &seen);
    QTest::mouseClick(play->findChild<QAbstractButton*>(QStringLiteral("IDC_%1").arg(1071)),
                      Qt::LeftButton);
    QVERIFY(seen);
    QCOMPARE(filters, QStringList{QStringLiteral("VELK Files(*.bds *.txt *.avi *.bin)")});
    QCOMPARE(fileMode, int(QFileDialog::ExistingFile));
    QCOMPARE(QString::fromStdString(play->PlayPath()), path);

    // "Save to..." starts where the recording was just picked.
    QDir startedIn;
    const auto looking = AnswerNextModal(
        [&](QWidget* modal) {
            if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
                startedIn = chooser->directory();
            }
            modal->close();
        },
        &seen);
    dlg->OnSaveTo();
    QCOMPARE(startedIn.canonicalPath(), QDir(dir.path()).canonicalPath());
}

void PlaybackTest::playbackTicksAreSummarised() {
    FILE* out = std::tmpfile();
    QVERIFY(out != nullptr);
    {
        CLatencyStats stats(out);
        for (int tick : {400, 100, 300, 200, 9000}) {
            stats.PlaybackTick(tick / 10, tick);
        }
    }
    std::rewind(out);
    std::string printed;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr) {
        printed += buffer;
    }
    std::fclose(out);
    // No painted frames: the play-back summary still comes, with its worst tick.
    QCOMPARE(QString::fromStdString(printed),
             QStringLiteral("playback_tick_us=400 read_us=40\n"
                            "playback_tick_us=100 read_us=10\n"
                            "playback_tick_us=300 read_us=30\n"
                            "playback_tick_us=200 read_us=20\n"
                            "playback_tick_us=9000 read_us=900\n"
                            "playback_summary ticks=5 read_median_us=30 read_p99_us=900 "
                            "read_max_us=900 tick_median_us=300 tick_p99_us=9000 "
                            "tick_max_us=9000\n"));
}

void PlaybackTest::recordedSessionPlaysBackIntoTheSameDisplay() {
    SimulatorOptions simOptions;
    simOptions.fps = 40;
    SimulatedViewer viewer(simOptions);
    QCOMPARE(viewer.startError, QString());
    auto& dlg = viewer.dlg;
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    const std::string path = viewer.dir.filePath(QStringLiteral("session.bds")).toStdString();

    dlg->SaveTo(path, 1);
    Click(*dlg, IDC_REC);
    Click(*dlg, IDC_START);
    QTRY_VERIFY_WITH_TIMEOUT(viewer.sim.FramesSent() >= 20, 5000);
    // "Play" turns the module off and ends the recording before the dialog comes up.
    Click(*dlg, IDC_PLAY);
    QVERIFY(!dlg->Recorder().IsFileOpen());
    const std::string recorded = ReadWhole(path);
    QVERIFY(recorded.size() >= 10 * kBinaryRecordSize);
    QCOMPARE(recorded.size() % kBinaryRecordSize, size_t{0});
    // Frames still on their way from the module are shown before the recording plays.
    QTest::qWait(300);

    CDlgPlay* play = dlg->PlayDialog();
    play->SetPlayPath(path);
    play->SetSpeedText(QStringLiteral("500"));
    play->OnPlayStream();
    QVERIFY(dlg->IsTimerActive(IDT_PLAY_BDS));
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->IsTimerActive(IDT_PLAY_BDS), 10000);
    QVERIFY(!BlueFrameShown(*dlg));

    const Reference expected = ProcessReference(kUnitCelsius, [&](CFramePipeline& pipeline) {
        for (size_t at = 0; at < recorded.size(); at += kBinaryRecordSize) {
            const auto* record = reinterpret_cast<const uint8_t*>(recorded.data() + at);
            pipeline.ProcessFrameNow(ModeLetterOfRecord(record), kFrameBlockSize,
                                     record + kBinaryRecordHeaderSize);
        }
    });
    QTRY_COMPARE(QString::fromStdString(dlg->CopyText()), QString::fromStdString(expected.text));
    QTest::qWait(50);
    QCOMPARE(ShownImageMismatches(*dlg, expected.image), 0);
    dlg->close();
}

QTEST_MAIN(PlaybackTest)
#include "playback_test.moc"
