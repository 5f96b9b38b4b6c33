// The main dialog's start-up state, caption, log box, key filter and close sequence.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QStatusBar>
#include <QtTest>
#include <algorithm>
#include <optional>
#include <thread>

#include "app/frame_text_pacer.h"
#include "app/port_combo.h"
#include "controls/color_gradient.h"
#include "controls/color_static.h"
#include "controls/spin_button.h"
#include "device/command_list.h"
#include "dialogs/about_dlg.h"
#include "gui/gui_test_support.h"
#include "res/dialog_template.h"
#include "res/resource.h"

namespace {

void WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray Utf16WithBom(const QString& text) {
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

QString WidgetCaption(const QWidget* widget) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->text();
    }
    return {};
}

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void everyTemplateControlExistsWithItsStyle();
    void initialStatesAfterStartUp();
    void redAndBlueFramesSurroundRecAndPlay();
    void captionFromTitleFile_data();
    void captionFromTitleFile();
    void logBoxStartsAfreshAfterFiveLines();
    void frameTextsInABurstReachTheLogAsFirstAndNewest();
    void logMessagesFromWorkerThreadsArrivePosted();
    void escapeAndEnterDoNothing();
    void typedCommandLetterIsTheOneSent_data();
    void typedCommandLetterIsTheOneSent();
    void portListShowsDeviceNamesWithTheirPaths();
    void secondCloseDuringSequenceIsIgnored();
    void closeEndsPromptlyWithoutDevice();
    void stackEditIsLimitedTo300();
    void pixelRangeEditsCorrectEachOther();
    void paletteRadioSelectsBarPalette();
    void commandListFromFileInAnyCase();
};

void MainDialogTest::everyTemplateControlExistsWithItsStyle() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    // Controls whose enabled state start-up changes on purpose.
    const QSet<int> disabledByStartUp = {IDC_MODULE_1001,    IDC_MODULE_1002,  IDC_MODULE_32X31,
                                         IDC_MODULE_80X60,   IDC_ADC_UC,       IDC_ADC_SOFT,
                                         IDC_OFFSET_THERMAL, IDC_THERMALS_REC, IDC_THERMALS_UC,
                                         IDC_THERMALS_SOFT,  IDC_PTAT_USE};
    int withId = 0;
    for (const DlgControl& control : Template102().controls) {
        if (control.id < 0) {
            continue;
        }
        ++withId;
        QWidget* widget = dlg->GetDlgItem(control.id);
        QVERIFY2(widget, qPrintable(QStringLiteral("control %1 missing").arg(control.id)));
        // The red and blue frames are hidden by start-up until a recording or play-back runs.
        const bool hidden = (control.style & kHidden) != 0 || control.id == IDC_REC_FRAME ||
                            control.id == IDC_PLAY_FRAME;
        QCOMPARE(widget->isHidden(), hidden);
        const bool enabled =
            !disabledByStartUp.contains(control.id) && (control.style & kDisabled) == 0;
        QVERIFY2(widget->isEnabled() == enabled,
                 qPrintable(QStringLiteral("control %1 enabled state").arg(control.id)));
        if (control.cls == DlgClass::Button || control.cls == DlgClass::Radio ||
            control.cls == DlgClass::Check) {
            QCOMPARE(WidgetCaption(widget), QString::fromUtf8(control.caption));
        }
    }
    QVERIFY(withId > 0);
    // Every control that the main window's handlers, timers and readouts refer to.
    for (int id :
         {1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014,
          1015, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030,
          1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038, 1039, 1040, 1041, 1042, 1043, 1044,
          1045, 1046, 1047, 1048, 1049, 1050, 1051, 1052, 1053, 1054, 1055, 1056, 1057, 1058,
          1059, 1060, 1061, 1062, 1063, 1064, 1065, 1066, 1067, 1068, 1069, 1070, 1071, 1075,
          1077, 1078, 1079, 1080, 1081, 1082, 1083, 1084, 1088, 1089, 1093, 1094}) {
        QVERIFY2(dlg->GetDlgItem(id), qPrintable(QString::number(id)));
    }
    // The visible controls users rely on, by caption.
    QCOMPARE(WidgetCaption(dlg->GetDlgItem(IDC_START)), QStringLiteral("START"));
    QCOMPARE(WidgetCaption(dlg->GetDlgItem(IDC_PICTURE_DATA)),
             QStringLiteral("Picture and Temperature Data"));
    QVERIFY(!dlg->GetDlgItem(IDC_LOG)->isHidden());
    QVERIFY(dlg->GetDlgItem(IDC_MIN_TEXT)->isHidden());
    QCOMPARE(WidgetCaption(dlg->GetDlgItem(IDC_MAX_TEXT)), QStringLiteral("Max: ??? "));
    QCOMPARE(dlg->windowTitle(), QStringLiteral("Thermal Imaging Software (Ver:1.03)"));
}

void MainDialogTest::initialStatesAfterStartUp() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const auto checked = [&](int id) {
        return static_cast<QAbstractButton*>(dlg->GetDlgItem(id))->isChecked();
    };
    QVERIFY(checked(IDC_PALETTE_4));
    for (int id : {IDC_PALETTE_1, IDC_PALETTE_2, IDC_PALETTE_3, IDC_PALETTE_5, IDC_PALETTE_6,
                   IDC_PALETTE_7, IDC_PALETTE_8}) {
        QVERIFY(!checked(id));
    }
    for (int id : {IDC_MODULE_32X31, IDC_ADC_UC, IDC_OFFSET_ELECTRICAL, IDC_SCALING_AUTO,
                   IDC_MODE_T, IDC_ALL_PIXEL, IDC_THERMALS_UC, IDC_PTAT_USE}) {
        QVERIFY2(checked(id), qPrintable(QString::number(id)));
    }
    QVERIFY(dlg->GetDlgItem(IDC_OFFSET_ELECTRICAL)->isEnabled());
    for (int id : {IDC_MCLK, IDC_VDD, IDC_AMBIENT, IDC_FPS, IDC_PTAT_V, IDC_PTAT_K}) {
        QCOMPARE(dlg->GetDlgItemText(id), QStringLiteral("???"));
    }
    for (int id :
         {IDC_MCLK, IDC_VDD, IDC_AMBIENT, IDC_FPS, IDC_PTAT_K, IDC_STARTPIXEL, IDC_PIXELCOUNT}) {
        QVERIFY(static_cast<QLineEdit*>(dlg->GetDlgItem(id))->isReadOnly());
    }
    QCOMPARE(dlg->GetDlgItemText(IDC_STARTPIXEL), QStringLiteral("1"));
    QCOMPARE(dlg->GetDlgItemText(IDC_PIXELCOUNT), QStringLiteral("1056"));
    QCOMPARE(dlg->GetDlgItemText(IDC_EVERY_FRAME), QStringLiteral("1"));
    for (int id : {IDC_FRAMESTACK_SPIN, IDC_ELOFFSTACK_SPIN, IDC_THERMALSTACK_SPIN}) {
        auto* spin = static_cast<CSpinButton*>(dlg->GetDlgItem(id));
        QCOMPARE(spin->GetLower(), 1);
        QCOMPARE(spin->GetUpper(), 300);
        QCOMPARE(spin->GetPos(), 1);
        QCOMPARE(dlg->GetDlgItemText(id + 1), QStringLiteral("1"));
    }
    const struct {
        int id, low, high, pos;
    } sliders[] = {{IDC_DELTA_T, 0, 200, 100},
                   {IDC_TCENTRE, 200, 1200, 300},
                   {IDC_DELTA_V, 0, 500, 100},
                   {IDC_VCENTRE, 0, 500, 100}};
    for (const auto& s : sliders) {
        auto* slider = static_cast<QSlider*>(dlg->GetDlgItem(s.id));
        QCOMPARE(slider->minimum(), s.low);
        QCOMPARE(slider->maximum(), s.high);
        QCOMPARE(slider->value(), s.pos);
    }
    QCOMPARE(dlg->GetDlgItemText(IDC_SPAN_READOUT), QStringLiteral("1.000"));
    QCOMPARE(dlg->GetDlgItemText(IDC_CENTRE_READOUT), QStringLiteral("1.000"));
    QCOMPARE(dlg->GetDlgItemText(IDC_MAX_READOUT), QStringLiteral("1.500"));
    QCOMPARE(dlg->GetDlgItemText(IDC_MIN_READOUT), QStringLiteral("0.500"));
    auto* ports = static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COM_PORTS));
    QCOMPARE(ports->currentIndex(), -1);

    // Status bar with two empty panes, the first 200 pixels short of the client width.
    auto* bar = dlg->findChild<QStatusBar*>();
    QVERIFY(bar);
    auto* pane0 = dlg->findChild<QLabel*>(QStringLiteral("StatusPane0"));
    auto* pane1 = dlg->findChild<QLabel*>(QStringLiteral("StatusPane1"));
    QVERIFY(pane0 && pane1);
    QCOMPARE(pane0->text(), QString());
    QCOMPARE(pane1->text(), QString());
    QCOMPARE(pane0->width(), dlg->width() - 200);
    QVERIFY(!dlg->windowIcon().isNull());
    // Without "AppIcon.ico" the built-in icon shows, in the window and in the about box.
    QVERIFY(!dlg->windowIcon().pixmap(32, 32).isNull());
    CAboutDlg about(dlg.get(), dlg->windowIcon());
    const QList<QLabel*> labels = about.findChildren<QLabel*>();
    QVERIFY(std::any_of(labels.begin(), labels.end(),
                        [](const QLabel* label) { return !label->pixmap().isNull(); }));
}

void MainDialogTest::redAndBlueFramesSurroundRecAndPlay() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const struct {
        int frame, button;
        uint32_t color;
    } frames[] = {{IDC_REC_FRAME, IDC_REC, 255u}, {IDC_PLAY_FRAME, IDC_PLAY, 0xFF0000u}};
    for (const auto& f : frames) {
        auto* frame = static_cast<CColorStatic*>(dlg->GetDlgItem(f.frame));
        const QRect button = dlg->GetDlgItem(f.button)->geometry();
        QCOMPARE(frame->geometry(), button.adjusted(-4, -4, 4, 4));
        QVERIFY(frame->isHidden());
        QCOMPARE(frame->GetColor(), f.color);
    }
}

void MainDialogTest::captionFromTitleFile_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("caption");
    const QString fallback = QStringLiteral("Thermal Imaging Software (Ver:1.03)");
    QTest::newRow("no file") << QString() << QByteArray() << fallback;
    QTest::newRow("bom and text") << "Title.txt"
                                  << Utf16WithBom(QStringLiteral("Lab 3 – Wärmebild"))
                                  << QStringLiteral("Lab 3 – Wärmebild   Ver1.03 ");
    QTest::newRow("name in other case")
        << "TITLE.TXT" << Utf16WithBom(QStringLiteral("Bench")) << "Bench   Ver1.03 ";
    QTest::newRow("stops at zero character")
        << "Title.txt" << Utf16WithBom(QStringLiteral("AB")) + QByteArray("\0\0C\0", 4)
        << "AB   Ver1.03 ";
    QTest::newRow("two bytes only") << "Title.txt" << QByteArray("\xFF\xFE", 2) << fallback;
    QTest::newRow("one byte") << "Title.txt" << QByteArray("x") << fallback;
    QTest::newRow("no byte-order mark loses first character")
        << "Title.txt" << QByteArray("H\0i\0!\0", 6) << "i!   Ver1.03 ";
}

void MainDialogTest::captionFromTitleFile() {
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, caption);
    QTemporaryDir dir;
    if (!fileName.isEmpty()) {
        WriteFile(dir, fileName, bytes);
    }
    auto dlg = MakeDialog(dir);
    QCOMPARE(dlg->windowTitle(), caption);
}

void MainDialogTest::logBoxStartsAfreshAfterFiveLines() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    for (int i = 1; i <= 5; ++i) {
        dlg->AppendLog("[Test] message " + std::to_string(i) + "\r\n");
    }
    QString text = dlg->GetDlgItemText(IDC_LOG);
    QVERIFY(text.startsWith(QStringLiteral("[Test] message 1\n")));
    QVERIFY(text.endsWith(QStringLiteral("[Test] message 5\n")));
    dlg->AppendLog("[Test] message 6\r\n");
    QCOMPARE(dlg->GetDlgItemText(IDC_LOG), QStringLiteral("[Test] message 6\n"));

    dlg->close();
    QVERIFY(dlg->IsClosing());
    dlg->AppendLog("[Test] after close\r\n");
    QCOMPARE(dlg->GetDlgItemText(IDC_LOG), QStringLiteral("[Test] message 6\n"));
}

void MainDialogTest::frameTextsInABurstReachTheLogAsFirstAndNewest() {
    QStringList written;
    CFrameTextPacer pacer(
        [&written](const std::string& text) { written.append(QString::fromStdString(text)); });
    for (const char* text : {"first", "second", "third"}) {
        pacer.Show(text);
    }
    // The first at once; the ones that follow within the interval wait, and only the newest of
    // them is written, once the interval has passed.
    QCOMPARE(written, QStringList{QStringLiteral("first")});
    QTRY_COMPARE(written, (QStringList{QStringLiteral("first"), QStringLiteral("third")}));
    QTest::qWait(2 * CFrameTextPacer::kIntervalMs);
    QCOMPARE(written.size(), 2);
}

void MainDialogTest::logMessagesFromWorkerThreadsArrivePosted() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    std::thread worker([&] { dlg->AppendLog("[COM9] from the monitor thread\r\n"); });
    worker.join();
    // Nothing reaches the widget from the worker itself; the GUI thread shows it when it runs.
    QCOMPARE(dlg->GetDlgItemText(IDC_LOG), QString());
    QTRY_COMPARE(dlg->GetDlgItemText(IDC_LOG), QStringLiteral("[COM9] from the monitor thread\n"));
}

void MainDialogTest::escapeAndEnterDoNothing() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    dlg->AppendLog("[Test] keep me\r\n");
    auto* commands = static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COMMANDS));
    commands->setEditText(QStringLiteral("M"));
    auto* log = static_cast<QPlainTextEdit*>(dlg->GetDlgItem(IDC_LOG));
    for (QWidget* target : {static_cast<QWidget*>(commands), static_cast<QWidget*>(log),
                            static_cast<QWidget*>(dlg.get())}) {
        target->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(target, key);
        }
    }
    QVERIFY(dlg->isVisible());
    QVERIFY(!dlg->IsClosing());
    QCOMPARE(commands->currentText(), QStringLiteral("M"));
    QCOMPARE(log->toPlainText(), QStringLiteral("[Test] keep me\n"));
    dlg->close();
}

void MainDialogTest::secondCloseDuringSequenceIsIgnored() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->show();
    bool nestedCloseRan = false;
    bool closingAfterNested = true;
    // The sequence pumps events before it marks itself closing; a close request dispatched by
    // that pump must return at once instead of running the sequence again.
    dlg->PostToGui([&] {
        nestedCloseRan = true;
        dlg->close();
        closingAfterNested = dlg->IsClosing();
    });
    dlg->close();
    QVERIFY(nestedCloseRan);
    QVERIFY(!closingAfterNested);
    QVERIFY(dlg->IsClosing());
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->result(), int(QDialog::Rejected));
    // Closing again afterwards does nothing either.
    dlg->close();
    QVERIFY(!dlg->isEnabled());
}

void MainDialogTest::closeEndsPromptlyWithoutDevice() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->show();
    QElapsedTimer timer;
    timer.start();
    dlg->close();
    // Without a device there is nothing to wait for: the 1000 ms reply wait is skipped.
    QVERIFY2(timer.elapsed() < 900, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!dlg->isVisible());
}

void MainDialogTest::stackEditIsLimitedTo300() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->SetDlgItemText(IDC_FRAMESTACK, QStringLiteral("500"));
    QCOMPARE(dlg->GetDlgItemText(IDC_FRAMESTACK), QStringLiteral("300"));
    dlg->SetDlgItemText(IDC_ELOFFSTACK, QStringLiteral("301"));
    QCOMPARE(dlg->GetDlgItemText(IDC_ELOFFSTACK), QStringLiteral("300"));
    dlg->SetDlgItemText(IDC_THERMALSTACK, QStringLiteral("0"));
    QCOMPARE(dlg->GetDlgItemText(IDC_THERMALSTACK), QStringLiteral("0"));
    auto* spin = static_cast<CSpinButton*>(dlg->GetDlgItem(IDC_FRAMESTACK_SPIN));
    spin->Step(1);
    QCOMPARE(dlg->GetDlgItemText(IDC_FRAMESTACK), QStringLiteral("300"));
    spin->Step(-1);
    QCOMPARE(dlg->GetDlgItemText(IDC_FRAMESTACK), QStringLiteral("299"));
}

void MainDialogTest::pixelRangeEditsCorrectEachOther() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_ALL_PIXEL))->click();
    QVERIFY(!static_cast<QLineEdit*>(dlg->GetDlgItem(IDC_STARTPIXEL))->isReadOnly());
    const struct {
        int id;
        const char* typed;
        const char* start;
        const char* count;
    } steps[] = {
        {IDC_STARTPIXEL, "1000", "1000", "57"}, {IDC_STARTPIXEL, "2000", "1056", "1"},
        {IDC_STARTPIXEL, "0", "1", "1056"},     {IDC_PIXELCOUNT, "0", "1", "1"},
        {IDC_PIXELCOUNT, "5000", "1", "1056"},  {IDC_STARTPIXEL, "abc", "1", "1056"},
    };
    for (const auto& step : steps) {
        dlg->SetDlgItemText(step.id, QString::fromUtf8(step.typed));
        QCOMPARE(dlg->GetDlgItemText(IDC_STARTPIXEL), QString::fromUtf8(step.start));
        QCOMPARE(dlg->GetDlgItemText(IDC_PIXELCOUNT), QString::fromUtf8(step.count));
    }
    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_ALL_PIXEL))->click();
    QVERIFY(static_cast<QLineEdit*>(dlg->GetDlgItem(IDC_STARTPIXEL))->isReadOnly());
    QCOMPARE(dlg->GetDlgItemText(IDC_PIXELCOUNT), QStringLiteral("1056"));
}

void MainDialogTest::paletteRadioSelectsBarPalette() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_PALETTE_7))->click();
    QVERIFY(static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_PALETTE_7))->isChecked());
    QVERIFY(!static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_PALETTE_4))->isChecked());
    auto* bar = static_cast<CColorGradient*>(dlg->GetDlgItem(IDC_PALETTE_BAR));
    QCOMPARE(bar->GetPalette(), 7);
    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_PALETTE_1))->click();
    QCOMPARE(bar->GetPalette(), 1);
}

void MainDialogTest::commandListFromFileInAnyCase() {
    QTemporaryDir withoutFile;
    auto defaults = MakeDialog(withoutFile);
    QCOMPARE(static_cast<QComboBox*>(defaults->GetDlgItem(IDC_COMMANDS))->count(), 4);

    QTemporaryDir dir;
    WriteFile(dir, QStringLiteral("cmdlist.txt"), QByteArray("  K start\r\n\r\nx stop \r\n"));
    auto dlg = MakeDialog(dir);
    auto* commands = static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COMMANDS));
    QCOMPARE(commands->count(), 2);
    QCOMPARE(commands->itemText(0), QStringLiteral("K start"));
    QCOMPARE(commands->itemText(1), QStringLiteral("x stop"));
}

void MainDialogTest::typedCommandLetterIsTheOneSent_data() {
    QTest::addColumn<QByteArray>("cmdList");  // empty: no file, the built-in entries
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("k is not K") << QByteArray() << "k"
                                << "k (Single Temperature data)";
    QTest::newRow("K") << QByteArray() << "K"
                       << "K (Continuous Temperature data)";
    QTest::newRow("T is not t") << QByteArray() << "T"
                                << "T";
    QTest::newRow("C is not c") << QByteArray() << "C"
                                << "C";
    QTest::newRow("file: k is not K") << QByteArray("K start\r\nx stop\r\n") << "k"
                                      << "k";
    QTest::newRow("file: X is not x") << QByteArray("K start\r\nx stop\r\n") << "X"
                                      << "X";
    QTest::newRow("file: x") << QByteArray("K start\r\nx stop\r\n") << "x"
                             << "x stop";
}

void MainDialogTest::typedCommandLetterIsTheOneSent() {
    QFETCH(QByteArray, cmdList);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    if (!cmdList.isEmpty()) {
        WriteFile(dir, QStringLiteral("CmdList.TXT"), cmdList);
    }
    auto dlg = MakeDialog(dir);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    auto* commands = static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COMMANDS));
    commands->setFocus();
    QTest::keyClicks(commands->lineEdit(), typed);
    QCOMPARE(commands->currentText(), shown);
    // Send writes the first character of the box's text.
    QCOMPARE(CommandByteFromText(commands->currentText().toStdString()),
             std::optional<uint8_t>(static_cast<uint8_t>(typed.at(0).toLatin1())));
    dlg->close();
}

void MainDialogTest::portListShowsDeviceNamesWithTheirPaths() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    auto* ports = static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COM_PORTS));
    const QRect box = ports->geometry();
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    FillPortCombo(ports, {"/dev/ttyUSB1", "/dev/ttyUSB0", byId, "/tmp/sim/tty", "/dev/pts/7",
                          "/dev/ttyTHERMAL-absent"});
    QCOMPARE(ports->geometry(), box);
    QCOMPARE(ports->currentIndex(), -1);
    const QStringList shown{QStringLiteral("/tmp/sim/tty"),
                            QStringLiteral("pts/7"),
                            QString::fromStdString(byId.substr(5)),
                            QStringLiteral("ttyTHERMAL-absent"),
                            QStringLiteral("ttyUSB0"),
                            QStringLiteral("ttyUSB1")};
    const QStringList paths{
        QStringLiteral("/tmp/sim/tty"), QStringLiteral("/dev/pts/7"),
        QString::fromStdString(byId),   QStringLiteral("/dev/ttyTHERMAL-absent"),
        QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB1")};
    QCOMPARE(ports->count(), shown.size());
    int widest = 0;
    for (int i = 0; i < ports->count(); ++i) {
        QCOMPARE(ports->itemText(i), shown[i]);
        QCOMPARE(ports->itemData(i).toString(), paths[i]);
        QCOMPARE(ports->itemData(i, Qt::ToolTipRole).toString(), paths[i]);
        QCOMPARE(FindPortIndex(ports, paths[i].toStdString()), i);
        widest = std::max(widest, ports->view()->fontMetrics().horizontalAdvance(shown[i]));
    }
    ports->showPopup();
    QVERIFY2(
        ports->view()->viewport()->width() >= widest,
        qPrintable(QStringLiteral("%1 < %2").arg(ports->view()->viewport()->width()).arg(widest)));
    ports->hidePopup();

    // START opens the full path of the chosen entry.
    ports->setCurrentIndex(3);
    QCOMPARE(SelectedPortPath(ports), std::string("/dev/ttyTHERMAL-absent"));
    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_START))->click();
    QVERIFY(dlg->GetDlgItemText(IDC_LOG).contains(
        QStringLiteral("[/dev/ttyTHERMAL-absent] Unable to open!")));
    // A path typed into an editable box is taken as it stands.
    ports->setEditable(true);
    ports->setEditText(QStringLiteral("/dev/ttyS9"));
    QCOMPARE(SelectedPortPath(ports), std::string("/dev/ttyS9"));
    dlg->close();
}

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
