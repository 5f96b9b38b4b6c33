// The main window on the virtual X server's 1280 x 800 screen at the scale factor ctest gives
// (QT_SCALE_FACTOR 1 and 1.5): it lies whole on the screen, with the template's layout, shrunk
// by one factor for all controls and the font only where it would not fit.
#include <QScreen>
#include <QtTest>
#include <cmath>

#include "gui/gui_test_support.h"
#include "res/dialog_builder.h"

class FittedWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void windowFitsTheScreenWithTheTemplatesLayout();
};

void FittedWindowTest::windowFitsTheScreenWithTheTemplatesLayout() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    const QRect screen = dlg->screen()->availableGeometry();
    const QSize full = DialogClientSize(Template102());
    // A screen with room for the window and a title bar keeps the template's size.
    if (full.width() + 16 <= screen.width() && full.height() + 48 <= screen.height()) {
        QCOMPARE(dlg->size(), full);
    }
    const auto where = [](const QRect& r) {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    QVERIFY2(screen.contains(dlg->frameGeometry()),
             qPrintable(where(dlg->frameGeometry()) + " on " + where(screen)));
    for (const QWidget* widget : dlg->findChildren<QWidget*>()) {
        if (widget->isVisible()) {
            const QRect onScreen(widget->mapToGlobal(QPoint()), widget->size());
            QVERIFY2(screen.contains(onScreen),
                     qPrintable(widget->objectName() + " at " + where(onScreen)));
        }
    }

    // Every control where the template puts it, scaled as the window is.
    const double scale = static_cast<double>(dlg->width()) / full.width();
    QVERIFY(std::fabs(static_cast<double>(dlg->height()) / full.height() - scale) < 0.01);
    const DialogUnits units = DialogUnitsForFont(TemplateFont(Template102()));
    for (const DlgControl& control : Template102().controls) {
        const QWidget* widget = dlg->GetDlgItem(control.id);
        if (widget == nullptr || !widget->isVisible()) {
            continue;
        }
        const QRect expected = units.Rect(control.x, control.y, control.cx, control.cy);
        const QRect actual = widget->geometry();
        // Radio buttons and check boxes widen to their captions, combo boxes take one line.
        const bool sized = control.cls == DlgClass::Radio || control.cls == DlgClass::Check ||
                           control.cls == DlgClass::Combo;
        const auto near = [scale](int shown, int at1) { return std::abs(shown - at1 * scale) < 2; };
        QVERIFY2(near(actual.x(), expected.x()) && near(actual.y(), expected.y()) &&
                     (sized || (near(actual.width(), expected.width()) &&
                                near(actual.height(), expected.height()))),
                 qPrintable(QStringLiteral("control %1 at %2, template %3 x %4")
                                .arg(control.id)
                                .arg(where(actual), where(expected))
                                .arg(scale)));
    }
}

QTEST_MAIN(FittedWindowTest)
#include "fitted_window_test.moc"
