// Tests of the options dialog and the buffer status dialog, driven through their widgets.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "controls/fill_bar.h"
#include "dialogs/dlg_buf_status.h"
#include "dialogs/dlg_options.h"
#include "res/aux_dialog_templates.h"
#include "res/dialog_builder.h"

namespace {

template <typename T>
T* Control(QWidget& dialog, int id) {
    T* widget = dialog.findChild<T*>(QStringLiteral("IDC_%1").arg(id));
    if (widget == nullptr) {
        qFatal("control %d missing", id);
    }
    return widget;
}

QCheckBox* MirrorX(QWidget& d) {
    return Control<QCheckBox>(d, 1061);
}
QCheckBox* MirrorY(QWidget& d) {
    return Control<QCheckBox>(d, 1062);
}
QCheckBox* MirrorBoth(QWidget& d) {
    return Control<QCheckBox>(d, 1063);
}

void Click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void templatesGiveDialogsTheirLayout();
    void optionsShowsCallerSettings_data();
    void optionsShowsCallerSettings();
    void optionsMirrorBoxesStayConsistent_data();
    void optionsMirrorBoxesStayConsistent();
    void optionsCancelKeepsSettings();
    void optionsUnitChoiceReachesCaller();

    void bufferStatusComputation_data();
    void bufferStatusComputation();
    void bufferStatusNotShownWithoutStacking();
    void bufferStatusShowsAndUpdatesFill();
    void bufferStatusHidesWhenBothStacksFull();
    void bufferStatusEscClearsOwnerPointer();
    void bufferStatusUpdatedFromProcessingThread();
};

void DialogsTest::templatesGiveDialogsTheirLayout() {
    QCOMPARE(FindDialogTemplate(129), &Template129());
    QCOMPARE(FindDialogTemplate(130), &Template130());
    QCOMPARE(FindDialogTemplate(131), &Template131());
    CDlgOptions options;
    const DialogUnits units = DialogUnitsForFont(TemplateFont(Template129()));
    QCOMPARE(options.size(), QSize(units.X(180), units.Y(177)));
    QCOMPARE(Control<QPushButton>(options, 1)->geometry(), units.Rect(7, 156, 50, 14));
    QVERIFY(Control<QPushButton>(options, 1)->isDefault());
    CDlgBufStatus* status = nullptr;
    std::mutex lock;
    CDlgBufStatus dialog(nullptr, &status, &lock);
    QCOMPARE(dialog.FillBar()->geometry(), units.Rect(8, 24, 212, 10));
    // Before the first fill the texts are the template's.
    QCOMPARE(dialog.PercentText(), QStringLiteral("Buffer filled to 100 %"));
    QCOMPARE(dialog.StackNameText(), QStringLiteral("Filling el. Offset Stack"));
}

void DialogsTest::optionsShowsCallerSettings_data() {
    QTest::addColumn<int>("mirror");
    QTest::addColumn<int>("unit");
    QTest::newRow("no mirror, kelvin") << 0 << 1;
    QTest::newRow("X, Celsius") << 1 << 2;
    QTest::newRow("Y, fahrenheit") << 2 << 3;
    QTest::newRow("both, Celsius") << 3 << 2;
}

void DialogsTest::optionsShowsCallerSettings() {
    QFETCH(int, mirror);
    QFETCH(int, unit);
    CDlgOptions dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    dialog.SetMirrorMode(mirror);
    dialog.SetTempUnit(unit);
    QVERIFY(dialog.OnInitDialog());
    dialog.show();
    QCOMPARE(MirrorX(dialog)->isChecked(), mirror == 1);
    QCOMPARE(MirrorY(dialog)->isChecked(), mirror == 2);
    QCOMPARE(MirrorBoth(dialog)->isChecked(), mirror == 3);
    QCOMPARE(Control<QRadioButton>(dialog, 1055)->isChecked(), unit == 1);
    QCOMPARE(Control<QRadioButton>(dialog, 1056)->isChecked(), unit == 2);
    QCOMPARE(Control<QRadioButton>(dialog, 1064)->isChecked(), unit == 3);
    // The firmware-fixed settings are checked, hidden and disabled.
    for (int id : {1053, 1054}) {
        QCheckBox* box = Control<QCheckBox>(dialog, id);
        QVERIFY(box->isChecked());
        QVERIFY(!box->isVisible());
        QVERIFY(!box->isEnabled());
    }
    // OK without changes gives back what the caller set.
    Click(Control<QPushButton>(dialog, 1));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.GetMirrorMode(), mirror);
    QCOMPARE(dialog.GetTempUnit(), unit);
}

void DialogsTest::optionsMirrorBoxesStayConsistent_data() {
    // Start mode, boxes clicked in order (1 X, 2 Y, 3 Both), checked boxes after, mode on OK.
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QList<bool>>("checked");
    QTest::addColumn<int>("result");
    QTest::newRow("X then Y is both")
        << 0 << QList<int>{1, 2} << QList<bool>{false, false, true} << 3;
    QTest::newRow("Y then X is both")
        << 0 << QList<int>{2, 1} << QList<bool>{false, false, true} << 3;
    QTest::newRow("X over both") << 3 << QList<int>{1} << QList<bool>{true, false, false} << 1;
    QTest::newRow("both over X") << 1 << QList<int>{3} << QList<bool>{false, false, true} << 3;
    QTest::newRow("Y over both") << 3 << QList<int>{2} << QList<bool>{false, true, false} << 2;
    QTest::newRow("both over Y") << 2 << QList<int>{3} << QList<bool>{false, false, true} << 3;
    QTest::newRow("unchecking the only box")
        << 1 << QList<int>{1} << QList<bool>{false, false, false} << 0;
    QTest::newRow("X alone") << 0 << QList<int>{1} << QList<bool>{true, false, false} << 1;
}

void DialogsTest::optionsMirrorBoxesStayConsistent() {
    QFETCH(int, start);
    QFETCH(QList<int>, clicks);
    QFETCH(QList<bool>, checked);
    QFETCH(int, result);
    CDlgOptions dialog;
    dialog.SetMirrorMode(start);
    dialog.SetTempUnit(2);
    dialog.OnInitDialog();
    dialog.show();
    QCheckBox* boxes[] = {MirrorX(dialog), MirrorY(dialog), MirrorBoth(dialog)};
    for (int box : clicks) {
        Click(boxes[box - 1]);
    }
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(boxes[i]->isChecked(), checked[i]);
    }
    Click(Control<QPushButton>(dialog, 1));
    QCOMPARE(dialog.GetMirrorMode(), result);
    QCOMPARE(dialog.GetTempUnit(), 2);
}

void DialogsTest::optionsCancelKeepsSettings() {
    for (bool useEscape : {false, true}) {
        CDlgOptions dialog;
        dialog.SetMirrorMode(2);
        dialog.SetTempUnit(3);
        dialog.OnInitDialog();
        dialog.show();
        Click(MirrorX(dialog));
        Click(Control<QRadioButton>(dialog, 1055));
        if (useEscape) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        } else {
            Click(Control<QPushButton>(dialog, 2));
        }
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.GetMirrorMode(), 2);
        QCOMPARE(dialog.GetTempUnit(), 3);
    }
}

void DialogsTest::optionsUnitChoiceReachesCaller() {
    int mirror = 0;
    int unit = 2;
    // The modal loop runs until the queued clicks choose fahrenheit, Y and OK.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<CDlgOptions*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        Click(Control<QRadioButton>(*dialog, 1064));
        Click(MirrorY(*dialog));
        Click(Control<QPushButton>(*dialog, 1));
    });
    QVERIFY(CDlgOptions::EditOptions(nullptr, mirror, unit));
    QCOMPARE(unit, 3);
    QCOMPARE(mirror, 2);

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<CDlgOptions*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        Click(Control<QRadioButton>(*dialog, 1055));
        Click(Control<QPushButton>(*dialog, 2));
    });
    QVERIFY(!CDlgOptions::EditOptions(nullptr, mirror, unit));
    QCOMPARE(unit, 3);
    QCOMPARE(mirror, 2);
}

void DialogsTest::bufferStatusComputation_data() {
    QTest::addColumn<int>("frameSize");
    QTest::addColumn<int>("frameCount");
    QTest::addColumn<int>("offsetSize");
    QTest::addColumn<int>("offsetCount");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("bothFull");
    QTest::newRow("frame stack 3 of 10") << 10 << 3 << 4 << 4 << 30 << "Frame Stack" << false;
    QTest::newRow("offset stack 2 of 8") << 10 << 10 << 8 << 2 << 25 << "el. Offset Stack" << false;
    QTest::newRow("tie names the frame stack") << 4 << 2 << 2 << 1 << 50 << "Frame Stack" << false;
    QTest::newRow("rounds half up") << 8 << 1 << 1 << 0 << 0 << "el. Offset Stack" << false;
    QTest::newRow("12.5 % rounds to 13") << 8 << 1 << 1 << 2 << 13 << "Frame Stack" << false;
    QTest::newRow("full means one more than size")
        << 10 << 10 << 1 << 2 << 100 << "Frame Stack" << false;
    QTest::newRow("both full") << 10 << 11 << 4 << 5 << 100 << "Frame Stack" << true;
    QTest::newRow("size 0 counts as full") << 0 << 0 << 0 << 0 << 100 << "Frame Stack" << true;
    QTest::newRow("size 0 beside a filling stack")
        << 0 << 0 << 5 << 1 << 20 << "el. Offset Stack" << false;
}

void DialogsTest::bufferStatusComputation() {
    QFETCH(int, frameSize);
    QFETCH(int, frameCount);
    QFETCH(int, offsetSize);
    QFETCH(int, offsetCount);
    QFETCH(int, percent);
    QFETCH(QString, name);
    QFETCH(bool, bothFull);
    const BufferStatusView view =
        ComputeBufferStatus({frameSize, offsetSize, frameCount, offsetCount});
    QCOMPARE(view.percent, percent);
    QCOMPARE(view.stackName, name);
    QCOMPARE(view.bothFull, bothFull);
}

void DialogsTest::bufferStatusNotShownWithoutStacking() {
    QWidget owner;
    CDlgBufStatus* dlg = nullptr;
    std::mutex lock;
    CDlgBufStatus::ShowBufferStatus(&owner, dlg, lock, {1, 1, 0, 0});
    QVERIFY(dlg == nullptr);
    CDlgBufStatus::UpdateBufferStatus(dlg, lock, {1, 1, 5, 5});
    QVERIFY(dlg == nullptr);
}

void DialogsTest::bufferStatusShowsAndUpdatesFill() {
    QWidget owner;
    owner.resize(800, 600);
    CDlgBufStatus* dlg = nullptr;
    std::mutex lock;
    CDlgBufStatus::ShowBufferStatus(&owner, dlg, lock, {10, 4, 0, 0});
    QVERIFY(dlg != nullptr);
    QPointer<CDlgBufStatus> guard(dlg);
    QVERIFY(dlg->isVisible());
    QCOMPARE(dlg->windowTitle(), QStringLiteral("Buffer Status"));
    QCOMPARE(dlg->PercentText(), QStringLiteral("Buffer filled to 0 %"));
    QCOMPARE(dlg->StackNameText(), QStringLiteral("Filling Frame Stack"));
    QCOMPARE(dlg->pos(), QPoint(800 - dlg->width(), 600 - dlg->height()));

    CDlgBufStatus::UpdateBufferStatus(dlg, lock, {10, 4, 3, 4});
    QCOMPARE(dlg->PercentText(), QStringLiteral("Buffer filled to 30 %"));
    QCOMPARE(dlg->StackNameText(), QStringLiteral("Filling Frame Stack"));
    CFillBar* bar = dlg->FillBar();
    QCOMPARE(bar->GetPercent(), 30);
    QImage shot = bar->grab().toImage();
    const int filled = static_cast<int>(bar->width() * 0.30f + 0.5f);
    QCOMPARE(shot.pixel(filled - 1, bar->height() / 2), qRgb(128, 0, 0));
    QCOMPARE(shot.pixel(filled, bar->height() / 2), qRgb(255, 255, 255));

    CDlgBufStatus::UpdateBufferStatus(dlg, lock, {10, 8, 10, 2});
    QCOMPARE(dlg->PercentText(), QStringLiteral("Buffer filled to 25 %"));
    QCOMPARE(dlg->StackNameText(), QStringLiteral("Filling el. Offset Stack"));
    QCOMPARE(bar->GetPercent(), 25);

    // A second data command reuses the dialog and starts it over.
    CDlgBufStatus::ShowBufferStatus(&owner, dlg, lock, {10, 8, 0, 0});
    QCOMPARE(dlg, guard.data());
    QCOMPARE(dlg->PercentText(), QStringLiteral("Buffer filled to 0 %"));
    delete dlg;
}

void DialogsTest::bufferStatusHidesWhenBothStacksFull() {
    QWidget owner;
    CDlgBufStatus* dlg = nullptr;
    std::mutex lock;
    CDlgBufStatus::ShowBufferStatus(&owner, dlg, lock, {3, 2, 0, 0});
    QVERIFY(dlg->isVisible());
    CDlgBufStatus::UpdateBufferStatus(dlg, lock, {3, 2, 3, 2});  // full, not yet averaging
    QVERIFY(dlg->isVisible());
    QCOMPARE(dlg->PercentText(), QStringLiteral("Buffer filled to 100 %"));
    CDlgBufStatus::UpdateBufferStatus(dlg, lock, {3, 2, 4, 3});
    QVERIFY(!dlg->isVisible());
    QVERIFY(dlg != nullptr);
    // Sent while the stacks are already full, the command keeps the dialog hidden.
    CDlgBufStatus::ShowBufferStatus(&owner, dlg, lock, {3, 2, 4, 3});
    QVERIFY(!dlg->isVisible());
    delete dlg;
}

void DialogsTest::bufferStatusEscClearsOwnerPointer() {
    QWidget owner;
    CDlgBufStatus* dlg = nullptr;
    std::mutex lock;
    CDlgBufStatus::ShowBufferStatus(&owner, dlg, lock, {10, 1, 0, 0});
    QPointer<CDlgBufStatus> first(dlg);
    QTest::keyClick(dlg, Qt::Key_Escape);
    QVERIFY(dlg == nullptr);
    QTRY_VERIFY(first.isNull());  // deleted itself
    CDlgBufStatus::UpdateBufferStatus(dlg, lock, {10, 1, 5, 1});
    QVERIFY(dlg == nullptr);
    // The next data command brings up a new dialog.
    CDlgBufStatus::ShowBufferStatus(&owner, dlg, lock, {10, 1, 0, 0});
    QVERIFY(dlg != nullptr);
    QVERIFY(dlg->isVisible());
    QPointer<CDlgBufStatus> second(dlg);
    dlg->close();  // the close box
    QVERIFY(dlg == nullptr);
    QTRY_VERIFY(second.isNull());
}

void DialogsTest::bufferStatusUpdatedFromProcessingThread() {
    QWidget owner;
    CDlgBufStatus* dlg = nullptr;
    std::mutex lock;
    CDlgBufStatus::ShowBufferStatus(&owner, dlg, lock, {10, 1, 0, 0});
    std::thread worker([&] { CDlgBufStatus::UpdateBufferStatus(dlg, lock, {10, 1, 7, 2}); });
    worker.join();
    QTRY_COMPARE(dlg->PercentText(), QStringLiteral("Buffer filled to 70 %"));

    // Frames keep arriving while the user presses Esc: nothing touches the closed dialog.
    std::atomic<bool> stop{false};
    std::thread frames([&] {
        for (int count = 0; !stop; count = (count + 1) % 10) {
            CDlgBufStatus::UpdateBufferStatus(dlg, lock, {10, 1, count, 2});
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    QTest::qWait(20);
    QPointer<CDlgBufStatus> guard(dlg);
    QTest::keyClick(dlg, Qt::Key_Escape);
    QTRY_VERIFY(guard.isNull());
    QTest::qWait(20);
    stop = true;
    frames.join();
    QCoreApplication::processEvents();
    std::lock_guard held(lock);
    QVERIFY(dlg == nullptr);
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
