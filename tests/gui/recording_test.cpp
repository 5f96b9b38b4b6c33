// Recording from the main dialog against the simulated module on a real pseudo-terminal: "Save
// to...", "Rec" and "Stop" for each file type, the name rules of "Save to...", and the log lines
// of the refusals.
// ctest: RUN_SERIAL (it records a live session against the simulated module)
#include <sys/resource.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QProcess>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/close_on_signal.h"
#include "device/module_simulator.h"
#include "frame/binary_record_reader.h"
#include "frame/frame_block.h"
#include "gui/gui_test_support.h"
#include "res/resource.h"
#include "support/file_bytes.h"

namespace {

QString Log(const CmfcVELKDlg& dlg) {
    return dlg.GetDlgItemText(IDC_LOG);
}

uintmax_t FileSize(const std::string& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

}  // namespace

class RecordingTest : public QObject {
    Q_OBJECT

  private slots:
    void saveRecStopRecordsEachFileType_data();
    void saveRecStopRecordsEachFileType();
    void saveToAddsTheFilterExtensionUnlessPresent_data();
    void saveToAddsTheFilterExtensionUnlessPresent();
    void refusalsAreLogged();
    void terminationSignalClosesTheSaveDialogThenTheWindow();
    void videoStoppedBeforeItsFirstTickLeavesNoFile();
    void failedWriteTurnsTheModuleOffAndKeepsWholeRecords();
};

void RecordingTest::saveRecStopRecordsEachFileType_data() {
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("name");
    QTest::newRow("binary") << 1 << QStringLiteral("rec.bds");
    QTest::newRow("text") << 2 << QStringLiteral("rec.txt");
    QTest::newRow("video") << 3 << QStringLiteral("rec.avi");
}

void RecordingTest::saveRecStopRecordsEachFileType() {
    QFETCH(int, filter);
    QFETCH(QString, name);
    SimulatorOptions simOptions;
    simOptions.fps = 40;
    SimulatedViewer viewer(simOptions);
    QCOMPARE(viewer.startError, QString());
    const QTemporaryDir& dir = viewer.dir;
    auto& dlg = viewer.dlg;
    const std::string path = dir.filePath(name).toStdString();

    dlg->SaveTo(dir.filePath(QStringLiteral("rec")).toStdString(), filter);
    QVERIFY(dlg->Recorder().IsFileOpen());
    QCOMPARE(QString::fromStdString(dlg->Recorder().GetPath()), QString::fromStdString(path));
    Click(*dlg, IDC_REC);
    QVERIFY(!dlg->GetDlgItem(IDC_REC_FRAME)->isHidden());
    Click(*dlg, IDC_START);
    // A video needs the 50 ms timer to sample; streams need frames: wait for a second's worth.
    QTRY_VERIFY_WITH_TIMEOUT(viewer.sim.FramesSent() >= 30, 5000);
    Click(*dlg, IDC_STOP);
    QVERIFY(!dlg->Recorder().IsFileOpen());
    QVERIFY(dlg->GetDlgItem(IDC_REC_FRAME)->isHidden());
    const std::string bytes = ReadWhole(path);

    if (filter == 1) {
        QVERIFY(bytes.size() >= 10 * kBinaryRecordSize);
        QCOMPARE(bytes.size() % kBinaryRecordSize, size_t{0});
        for (size_t at = 0; at < bytes.size(); at += kBinaryRecordSize) {
            QCOMPARE(bytes.substr(at, 6), std::string("Mode=T"));
            QCOMPARE(bytes.substr(at + 6, 10), std::string(10, '\0'));
            QVERIFY(std::memcmp(bytes.data() + at + kBinaryRecordHeaderSize + kFrameMarkerOffset,
                                kFrameMarker, sizeof kFrameMarker) == 0);
        }
        // The tool reads what the viewer wrote.
        QProcess convert;
        convert.start(QStringLiteral(THERMAL_BIN_DIR "/thermal"),
                      {QStringLiteral("convert"), QString::fromStdString(path),
                       dir.filePath(QStringLiteral("back.txt"))});
        QVERIFY(convert.waitForFinished(30000));
        QCOMPARE(convert.exitCode(), 0);
        QVERIFY(FileSize(dir.filePath(QStringLiteral("back.txt")).toStdString()) > 0);
    } else if (filter == 2) {
        QVERIFY(bytes.rfind("Mode=C ElOff=F\r\r\n", 0) == 0);
        QVERIFY(bytes.size() > 10 * 8000);
        // Whole frames only: 34 lines each, every line ending in CR CR LF.
        size_t lines = 0;
        for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1)) {
            QVERIFY(at >= 2 && bytes[at - 1] == '\r' && bytes[at - 2] == '\r');
            ++lines;
        }
        QCOMPARE(bytes.back(), '\n');
        QCOMPARE(lines % 34, size_t{0});
    } else {
        QCOMPARE(bytes.substr(0, 4), std::string("RIFF"));
        QCOMPARE(bytes.substr(8, 4), std::string("AVI "));
        QVERIFY(bytes.find("00dc") != std::string::npos);
        QVERIFY(bytes.find("idx1") != std::string::npos);
    }
    dlg->close();
}

void RecordingTest::saveToAddsTheFilterExtensionUnlessPresent_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("opened");
    QTest::newRow("binary") << "data" << 1 << "data.bds";
    QTest::newRow("text") << "data" << 2 << "data.txt";
    QTest::newRow("text, upper case") << "DATA.TXT" << 2 << "DATA.TXT";
    QTest::newRow("video, any other index") << "clip" << 0 << "clip.avi";
    QTest::newRow("video, upper case") << "clip.AVI" << 3 << "clip.AVI";
    QTest::newRow("other extension kept") << "run.txt" << 1 << "run.txt.bds";
}

void RecordingTest::saveToAddsTheFilterExtensionUnlessPresent() {
    QFETCH(QString, chosen);
    QFETCH(int, filter);
    QFETCH(QString, opened);
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->SaveTo(dir.filePath(chosen).toStdString(), filter);
    QVERIFY(dlg->Recorder().IsFileOpen());
    QCOMPARE(QString::fromStdString(dlg->Recorder().GetPath()), dir.filePath(opened));
    dlg->close();
}

void RecordingTest::refusalsAreLogged() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    Click(*dlg, IDC_REC);
    QVERIFY(Log(*dlg).contains(
        QStringLiteral("[Save to File]Specify a file to record to by clicking Save to...")));
    QVERIFY(dlg->GetDlgItem(IDC_REC_FRAME)->isHidden());

    dlg->SaveTo(dir.filePath(QStringLiteral("missing/rec")).toStdString(), 1);
    QVERIFY(Log(*dlg).contains(QStringLiteral("Save To File Fail.")));
    QVERIFY(!dlg->Recorder().IsFileOpen());
    dlg->close();
}

// What SIGINT and SIGTERM do: the file dialog of "Save to..." runs a loop of its own, which must
// end before the window's close sequence can.
void RecordingTest::terminationSignalClosesTheSaveDialogThenTheWindow() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->show();
    bool wasDialogOpen = false;
    QTimer::singleShot(300, dlg.get(), [&] {
        wasDialogOpen = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr;
        CloseDialogsThenWindow(dlg.get());
    });
    dlg->OnSaveTo();
    QVERIFY(wasDialogOpen);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->isVisible(), 2000);
    QVERIFY(!dlg->Recorder().IsFileOpen());
}

void RecordingTest::videoStoppedBeforeItsFirstTickLeavesNoFile() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->SaveTo(dir.filePath(QStringLiteral("quick")).toStdString(), 3);
    Click(*dlg, IDC_REC);
    Click(*dlg, IDC_STOP);
    QVERIFY(!std::filesystem::exists(dir.filePath(QStringLiteral("quick.avi")).toStdString()));
    dlg->close();
}

void RecordingTest::failedWriteTurnsTheModuleOffAndKeepsWholeRecords() {
    SimulatorOptions simOptions;
    simOptions.fps = 40;
    SimulatedViewer viewer(simOptions);
    QCOMPARE(viewer.startError, QString());
    const QTemporaryDir& dir = viewer.dir;
    auto& dlg = viewer.dlg;
    const QString stopped =
        QStringLiteral("[Save to File]Save to file is stopped. Maybe disk is full.");
    // Each time the log gains the stop line as its newest line counts once.
    int stopLines = 0;
    auto* box = static_cast<QPlainTextEdit*>(dlg->GetDlgItem(IDC_LOG));
    connect(box, &QPlainTextEdit::textChanged, box, [&] {
        if (box->toPlainText().trimmed().endsWith(stopped)) {
            ++stopLines;
        }
    });
    dlg->SaveTo(dir.filePath(QStringLiteral("full")).toStdString(), 1);
    Click(*dlg, IDC_REC);

    // A file size limit stands in for a full disk: room for 5.5 records.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = kBinaryRecordSize * 11 / 2;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    Click(*dlg, IDC_START);
    QTRY_VERIFY_WITH_TIMEOUT(stopLines > 0, 5000);
    setrlimit(RLIMIT_FSIZE, &previous);

    // The module was turned off (T, then the bare x) and the file ends in a whole record.
    QTRY_VERIFY_WITH_TIMEOUT(QString::fromStdString(viewer.sim.ReceivedBytes()).endsWith("Tx"),
                             3000);
    QCOMPARE(FileSize(dlg->Recorder().GetPath()), uintmax_t{5 * kBinaryRecordSize});
    QTest::qWait(300);
    QCOMPARE(stopLines, 1);
    dlg->close();
}

QTEST_MAIN(RecordingTest)
#include "recording_test.moc"
