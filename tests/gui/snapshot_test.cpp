// "Picture and Temperature Data", the context menu's export items and the calibration workbook:
// where the files go (program directory, else the pictures folder), what they hold, and that the
// module's stream goes on while a calibration table is written.
// ctest: RUN_SERIAL (it streams from the simulated module and waits on its timing)
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPlainTextEdit>
#include <QSemaphore>
#include <QtTest>
#include <vector>

#include "device/module_simulator.h"
#include "device/simulated_replies.h"
#include "export/workbook_cells.h"
#include "export/xml_spreadsheet.h"
#include "gui/gui_test_support.h"
#include "platform/export_directory.h"
#include "res/resource.h"

namespace {

void ShowOneFrame(CmfcVELKDlg& dlg, const std::vector<uint8_t>& block) {
    dlg.Pipeline().QueueFrame('K', 2112, block.data());
    QTRY_VERIFY(!dlg.CopyText().empty());
}

QStringList Files(const QString& dir, const QString& pattern) {
    return QDir(dir).entryList({pattern}, QDir::Files, QDir::Name);
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QAction* MenuItem(CmfcVELKDlg& dlg, const QString& text) {
    for (QAction* action : dlg.actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

// The picture pixel for pixel against the reference image, read by Qt's own BMP reader.
void CompareBitmap(const QString& path, const std::vector<uint8_t>& expected) {
    const QByteArray bytes = ReadAll(path);
    QCOMPARE(bytes.size(), 297654);
    const QImage picture = QImage::fromData(bytes, "BMP");
    QCOMPARE(picture.size(), QSize(320, 310));
    for (int y = 0; y < 310; ++y) {
        for (int x = 0; x < 320; ++x) {
            const uint8_t* rgb = &expected[(static_cast<size_t>(y) * 320 + x) * 3];
            if (picture.pixelColor(x, y) != QColor(rgb[0], rgb[1], rgb[2])) {
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
            }
        }
    }
}

}  // namespace

class SnapshotTest : public QObject {
    Q_OBJECT

  private slots:
    void snapshotWritesPictureAndWorkbookBesideTheProgram();
    void unwritableProgramDirectoryFallsBackToPictures();
    void calibrationTableIsWrittenWhileFramesFlow();
};

void SnapshotTest::snapshotWritesPictureAndWorkbookBesideTheProgram() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    LogHistory log(*dlg);
    auto* button = static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_PICTURE_DATA));

    // The clipboard buttons and the calibration request stay hidden, as the window has always
    // had them; their context menu items run the same handlers.
    for (int id : {IDC_COPY_DATA, IDC_SCREENSHOT, IDC_CALIBRATION}) {
        QVERIFY(dlg->GetDlgItem(id)->isHidden());
    }
    // Before the first frame the button does nothing.
    button->click();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(log.All(), QString());

    const std::vector<uint8_t> block = MakeGradientBlock();
    ShowOneFrame(*dlg, block);
    button->click();
    const QStringList pictures = Files(dir.path(), QStringLiteral("VELK_BMP_*.bmp"));
    const QStringList workbooks = Files(dir.path(), QStringLiteral("VELK_VT_*.xls"));
    QCOMPARE(pictures.size(), 1);
    QCOMPARE(workbooks.size(), 1);
    // Both named after the same second: VELK_BMP_yyyymmdd-hhmmss.bmp.
    const QString stamp = pictures[0].mid(9, 15);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{8}-\\d{6}$")).match(stamp).hasMatch());
    QCOMPARE(workbooks[0], QStringLiteral("VELK_VT_%1.xls").arg(stamp));
    QVERIFY(log.Contains(QStringLiteral("[Snapshot]Saved %1 and %2 in %3/")
                             .arg(pictures[0], workbooks[0], dir.path())));

    CompareBitmap(dir.filePath(pictures[0]), ReferenceImage(block));
    // The workbook holds the numbers of the text "Copy Data" has, all 33 lines of them.
    const std::string text = dlg->CopyText();
    const WorkbookSheet sheet = FillNumberRows(text);
    QCOMPARE(sheet.back().row, 33);
    QCOMPARE(ReadAll(dir.filePath(workbooks[0])),
             QByteArray::fromStdString(RenderXmlSpreadsheet(sheet)));
    dlg->close();
}

void SnapshotTest::unwritableProgramDirectoryFallsBackToPictures() {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    QTemporaryDir program;
    QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::ExeOwner);
    ViewerOptions options;
    options.appDir = program.path().toStdString() + "/";
    if (IsWritableDirectory(options.appDir)) {
        // The superuser writes through mode bits; /proc takes no new file from anybody, so the
        // check is still the real one.
        qInfo("mode bits do not stop this user: /proc stands for the read-only directory");
        options.appDir = "/proc/";
    }
    const std::vector<uint8_t> block = MakeGradientBlock();
    {
        auto dlg = std::make_unique<CmfcVELKDlg>(nullptr, options);
        dlg->OnInitDialog();
        LogHistory log(*dlg);
        ShowOneFrame(*dlg, block);
        static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_PICTURE_DATA))->click();
        const QString pictures = home.path() + QStringLiteral("/Pictures");
        const QStringList written = Files(pictures, QStringLiteral("VELK_*"));
        QCOMPARE(written.size(), 2);
        QVERIFY(log.Contains(QStringLiteral("[Snapshot]Saved %1 and %2 in %3/")
                                 .arg(written[0], written[1], pictures)));
        CompareBitmap(pictures + QLatin1Char('/') + written[0], ReferenceImage(block));
        QCOMPARE(Files(program.path(), QStringLiteral("VELK_*")), QStringList());
        dlg->close();
    }
    {
        // No pictures folder can be made either: one line says so, nothing is written.
        qputenv("HOME", "/proc/no-such-home");
        auto dlg = std::make_unique<CmfcVELKDlg>(nullptr, options);
        dlg->OnInitDialog();
        LogHistory log(*dlg);
        ShowOneFrame(*dlg, block);
        static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_PICTURE_DATA))->click();
        QVERIFY2(log.Contains(QStringLiteral("[Snapshot]Nothing saved: cannot create "
                                             "'/proc/no-such-home/Pictures'")),
                 qPrintable(log.All()));
        dlg->close();
    }
    QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", home.path().toUtf8());
}

void SnapshotTest::calibrationTableIsWrittenWhileFramesFlow() {
    SimulatorOptions simOptions;
    simOptions.fps = 20;
    SimulatedViewer viewer(simOptions);
    QVERIFY(viewer.startError.isEmpty());
    const QTemporaryDir& dir = viewer.dir;
    auto& dlg = viewer.dlg;
    LogHistory log(*dlg);
    dlg->OnStart();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->CopyText().empty(), 5000);

    // The export thread is held busy, so the table can only wait in its queue: frames coming
    // in meanwhile show that reception does not wait for the workbook.
    QSemaphore gate;
    dlg->ExportThreads().start([&gate] { gate.acquire(); });
    QAction* exportItem = MenuItem(*dlg, QStringLiteral("Export calibration constants"));
    QVERIFY(exportItem);
    exportItem->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(log.Contains(QStringLiteral("Arraytype 32x31 TA-3231")), 5000);
    dlg->SendCommandText("K");
    const std::string before = dlg->CopyText();
    QTRY_VERIFY_WITH_TIMEOUT(dlg->CopyText() != before, 3000);
    QCOMPARE(Files(dir.path(), QStringLiteral("VELK_w_*.xls")), QStringList());

    gate.release();
    QTRY_COMPARE_WITH_TIMEOUT(Files(dir.path(), QStringLiteral("VELK_w_*.xls")).size(), 1, 5000);
    const QString name = Files(dir.path(), QStringLiteral("VELK_w_*.xls"))[0];
    QTRY_VERIFY(log.Contains(QStringLiteral("[Calibration]Saved %1 in %2/").arg(name, dir.path())));
    // The whole table reached the writer: header values beside their keywords, the joined
    // "Ambient" tokens and the last of the 992 pixel rows.
    const QByteArray xml = ReadAll(dir.filePath(name));
    QCOMPARE(xml, QByteArray::fromStdString(
                      RenderXmlSpreadsheet(FillCalibrationSheet(SimulatedCalibrationTable()))));
    for (const char* cell : {">PTAT1<", ">Ambient1:<", ">3002:<", ">991<", ">Flags<"}) {
        QVERIFY2(xml.contains(cell), cell);
    }

    // The request covers one table: a "w" typed later is only logged.
    QTest::qWait(1100);  // a later second would give the file another name
    log.Clear();
    dlg->SendCommandText("w");
    QTRY_VERIFY_WITH_TIMEOUT(log.Contains(QStringLiteral("Arraytype 32x31 TA-3231")), 5000);
    dlg->ExportThreads().waitForDone();
    QCOMPARE(Files(dir.path(), QStringLiteral("VELK_w_*.xls")).size(), 1);
    dlg->close();
}

QTEST_MAIN(SnapshotTest)
#include "snapshot_test.moc"
