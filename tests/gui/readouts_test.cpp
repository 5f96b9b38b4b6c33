// The status bar's readouts: the pixel under the pointer whatever the mirroring, the frame's
// extremes, a dragged region, and what pane 1 says while recording and playing.
#include <QContextMenuEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "gui/gui_test_support.h"
#include "recording/stream_recorder.h"

namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// The centre of display cell (row, column) of the image control, in its own coordinates.
QPoint CellCentre(QWidget* image, int row, int column) {
    return {(2 * column + 1) * image->width() / 64, (2 * row + 1) * image->height() / 62};
}

void SendMouse(QWidget* image, QEvent::Type type, QPoint at, Qt::MouseButton button) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(at), QPointF(image->mapToGlobal(at)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(image, &event);
}

void Drag(QWidget* image, QPoint from, QPoint to) {
    SendMouse(image, QEvent::MouseButtonPress, from, Qt::LeftButton);
    SendMouse(image, QEvent::MouseMove, to, Qt::LeftButton);
    SendMouse(image, QEvent::MouseButtonRelease, to, Qt::LeftButton);
}

void Leave(QWidget* image) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(image, &leave);
}

// The gradient block's value at a sensor pixel (1-based), as the status bar writes it in °C.
QString GradientCelsius(int row, int column) {
    const auto value = static_cast<uint16_t>(2900 + 3 * (row - 1) + (column - 1));
    QString text = QString::fromUtf8(TemperatureFieldText(value, kUnitCelsius).data(),
                                     TemperatureFieldText(value, kUnitCelsius).size());
    return text.mid(1) + Utf8(" \u00B0C");
}

}  // namespace

class ReadoutsTest : public QObject {
    Q_OBJECT

  private slots:
    void pointerNamesTheSensorPixelUnderEveryMirroring();
    void regionIsDraggedShownAndCleared();
    void secondPaneSaysWhatIsRecordedAndPlayed();
    void paneFollowsThePointerPastMenusAndCoveringWindows();
    void messagesStayInPaneOneWhileFramesFillTheLog();
};

void ReadoutsTest::pointerNamesTheSensorPixelUnderEveryMirroring() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    QWidget* image = dlg->GetDlgItem(IDC_IMAGE);
    QCOMPARE(dlg->StatusPaneText(0), QString());  // nothing before the first frame
    const std::vector<uint8_t> block = MakeGradientBlock();
    struct Case {
        int mirror;
        int topLeftRow;  // the sensor pixel shown in the top left cell
        int topLeftColumn;
    };
    for (const Case& c : {Case{0, 1, 1}, Case{1, 1, 32}, Case{2, 31, 1}, Case{3, 31, 32}}) {
        dlg->ApplyOptions(c.mirror, kUnitCelsius);
        dlg->Pipeline().ProcessFrameNow('K', 2112, block.data());
        SendMouse(image, QEvent::MouseMove, CellCentre(image, 0, 0), Qt::NoButton);
        QTRY_COMPARE(dlg->StatusPaneText(0),
                     QStringLiteral("Row %1, column %2: ").arg(c.topLeftRow).arg(c.topLeftColumn) +
                         GradientCelsius(c.topLeftRow, c.topLeftColumn));
        // The far corner is the sensor's opposite pixel.
        SendMouse(image, QEvent::MouseMove, CellCentre(image, 30, 31), Qt::NoButton);
        QTRY_COMPARE(
            dlg->StatusPaneText(0),
            QStringLiteral("Row %1, column %2: ").arg(32 - c.topLeftRow).arg(33 - c.topLeftColumn) +
                GradientCelsius(32 - c.topLeftRow, 33 - c.topLeftColumn));
        Leave(image);
        QCOMPARE(dlg->StatusPaneText(0),
                 Utf8("Min ") + GradientCelsius(1, 1) + Utf8(" at row 1, column 1 \u00B7 Max ") +
                     GradientCelsius(31, 32) + Utf8(" at row 31, column 32"));
    }
    // A voltage frame reads in volts; a pixel below its electrical offset as negative volts.
    dlg->Pipeline().ProcessFrameNow('t', 2112, block.data());
    QTRY_VERIFY(dlg->StatusPaneText(0).contains(QStringLiteral(" V at row ")));
    std::vector<uint8_t> cold = block;
    cold[2 * 992] = 3000 & 0xFF;  // column 1's offset, 100 counts above its first pixel
    cold[2 * 992 + 1] = 3000 >> 8;
    dlg->Pipeline().ProcessFrameNow('t', 2112, cold.data());
    QTRY_COMPARE(dlg->StatusPaneText(0),
                 Utf8("Min -0.1221 V at row 1, column 1 \u00B7 Max 3.6886 V "
                      "at row 31, column 32"));
    Click(*dlg, IDC_TURN_OFF);
    QCOMPARE(dlg->StatusPaneText(0), QString());
}

void ReadoutsTest::regionIsDraggedShownAndCleared() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    QWidget* image = dlg->GetDlgItem(IDC_IMAGE);
    dlg->ApplyOptions(1, kUnitCelsius);  // left and right swapped
    const std::vector<uint8_t> block = MakeGradientBlock();
    dlg->Pipeline().ProcessFrameNow('K', 2112, block.data());
    QTRY_VERIFY(!dlg->StatusPaneText(0).isEmpty());
    // Display cells (2, 1) to (4, 3) show sensor columns 32 - 1 to 32 - 3.
    Drag(image, CellCentre(image, 4, 3), CellCentre(image, 2, 1));
    Leave(image);
    const std::optional<SensorRegion> region = dlg->Region();
    QVERIFY(region.has_value());
    QCOMPARE(*region, (SensorRegion{{3, 29}, {5, 31}}));
    // The gradient's region, rows 3 to 5 and columns 29 to 31: 293.4 K to 294.2 K, mean 293.8 K.
    QCOMPARE(dlg->StatusPaneText(0), QStringLiteral("Region 3 x 3: min %1, mean 20.7, max %2")
                                         .arg(GradientCelsius(3, 29).chopped(3))
                                         .arg(GradientCelsius(5, 31)));
    // Escape, and a click, remove it.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &escape);
    QVERIFY(!dlg->Region());
    QVERIFY(dlg->StatusPaneText(0).startsWith(QStringLiteral("Min ")));
    Drag(image, CellCentre(image, 0, 0), CellCentre(image, 1, 1));
    QVERIFY(dlg->Region());
    SendMouse(image, QEvent::MouseButtonPress, CellCentre(image, 5, 5), Qt::LeftButton);
    SendMouse(image, QEvent::MouseButtonRelease, CellCentre(image, 5, 5), Qt::LeftButton);
    QVERIFY(!dlg->Region());
}

void ReadoutsTest::secondPaneSaysWhatIsRecordedAndPlayed() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const std::string path = dir.filePath(QStringLiteral("bench.bds")).toStdString();
    const std::vector<uint8_t> block = MakeGradientBlock();
    dlg->SaveTo(path, 1);
    dlg->OnRec();
    for (int i = 0; i < 3; ++i) {
        dlg->Pipeline().ProcessFrameNow('K', 2112, block.data());
    }
    QTRY_VERIFY(
        QRegularExpression(QStringLiteral("^Recording bench\\.bds: 3 frames, 0\\.0 MB, 00:0\\d$"))
            .match(dlg->StatusPaneText(1))
            .hasMatch());
    dlg->OnStop();
    QCOMPARE(dlg->StatusPaneText(1), QString());
    dlg->PlayFile(10, path);  // one frame a second: the first tick is still to come
    QCOMPARE(dlg->StatusPaneText(1), QStringLiteral("Playing bench.bds"));
    QTRY_COMPARE_WITH_TIMEOUT(dlg->StatusPaneText(1), QStringLiteral("Playing bench.bds: frame 1"),
                              3000);
    dlg->OnStop();
    QCOMPARE(dlg->StatusPaneText(1), QString());
}

void ReadoutsTest::paneFollowsThePointerPastMenusAndCoveringWindows() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    QCursor::setPos(5000, 5000);  // off the window
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QWidget* image = dlg->GetDlgItem(IDC_IMAGE);
    dlg->Pipeline().ProcessFrameNow('K', 2112, MakeGradientBlock().data());
    // The right-click menu holds the pointer, which leaves the window before the menu closes.
    SendMouse(image, QEvent::MouseMove, CellCentre(image, 0, 0), Qt::NoButton);
    QTRY_VERIFY(dlg->StatusPaneText(0).startsWith(QStringLiteral("Row 1, column 1: ")));
    QTimer::singleShot(0, [] { QApplication::activePopupWidget()->close(); });
    QContextMenuEvent menu(QContextMenuEvent::Mouse, CellCentre(image, 0, 0),
                           image->mapToGlobal(CellCentre(image, 0, 0)));
    QApplication::sendEvent(dlg.get(), &menu);
    QTRY_VERIFY(dlg->StatusPaneText(0).startsWith(QStringLiteral("Min ")));
    // The pointer back, unmoved, where a window covered the image: only an enter says so.
    const QPointF at(CellCentre(image, 2, 4));
    QEnterEvent enter(at, at, image->mapToGlobal(at));
    QApplication::sendEvent(image, &enter);
    QTRY_VERIFY(dlg->StatusPaneText(0).startsWith(QStringLiteral("Row 3, column 5: ")));
}

void ReadoutsTest::messagesStayInPaneOneWhileFramesFillTheLog() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->SaveTo(dir.filePath(QStringLiteral("rec.bds")).toStdString(), 1);
    dlg->OnRec();
    const QString saved = QStringLiteral("[Snapshot]Saved VELK_BMP_1.bmp in /home/user/Pictures");
    dlg->AppendLog(saved.toStdString() + "\r\n");
    // Frame texts take the box.
    QTRY_VERIFY(dlg->Pipeline().ProcessFrameNow('K', 2112, MakeGradientBlock().data()) &&
                !dlg->GetDlgItemText(IDC_LOG).contains(saved));
    QCOMPARE(dlg->StatusPaneText(1), saved);
    // After five seconds the recording's line is back in its place.
    QTRY_VERIFY_WITH_TIMEOUT(dlg->StatusPaneText(1).startsWith(QStringLiteral("Recording rec")),
                             6000);
    dlg->OnStop();
}

QTEST_MAIN(ReadoutsTest)
#include "readouts_test.moc"
