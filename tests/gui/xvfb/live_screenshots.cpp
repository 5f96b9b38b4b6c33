// Screenshots of the live view on the simulated module, under a real X server, with palettes 4
// and 8, and with a region and the pointer's readout. They are kept as build artifacts (the
// README shows them) and checked for what a user would see: a false-colour image that changes
// with the palette, and the status bar reading the pixel under the pointer. The window lies whole
// on the 1280 x 800 screen, with the template's layout (ctest runs that at scale factor 1.5 too).
#include <QAbstractButton>
#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QScreen>
#include <QtTest>
#include <algorithm>

#include "controls/dx_static.h"
#include "gui/gui_test_support.h"
#include "res/dialog_builder.h"
#include "res/resource.h"

class LiveScreenshots : public QObject {
    Q_OBJECT

  private slots:
    void paletteFourAndEight();
    void regionAndPointerReadout();
    void windowFitsTheScreenWithItsLayout();
};

namespace {

// The thermal image as the window shows it.
QImage GrabImage(CmfcVELKDlg& dlg) {
    return dlg.GetDlgItem(IDC_IMAGE)->grab().toImage();
}

bool IsMidGrey(const QImage& image) {
    return image.pixelColor(image.width() / 2, image.height() / 2) == QColor(0x80, 0x80, 0x80);
}

}  // namespace

void LiveScreenshots::paletteFourAndEight() {
    const QString artifacts = QStringLiteral(THERMAL_ARTIFACT_DIR);
    QVERIFY(QDir().mkpath(artifacts));
    QTemporaryDir dir;
    ViewerOptions options;
    options.demo = true;
    options.start = true;
    auto dlg = MakeDialog(dir, options);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QTRY_VERIFY_WITH_TIMEOUT(!IsMidGrey(GrabImage(*dlg)), 10000);
    QTest::qWait(1500);
    QVERIFY(dlg->grab().save(artifacts + "/live_palette4.png"));
    const QImage four = GrabImage(*dlg);

    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_PALETTE_8))->click();
    // The next frame is coloured with palette 8: wait until the image has changed enough.
    QTRY_VERIFY_WITH_TIMEOUT(GrabImage(*dlg) != four, 5000);
    QTest::qWait(1500);
    QVERIFY(dlg->grab().save(artifacts + "/live_palette8.png"));
    dlg->close();
}

void LiveScreenshots::regionAndPointerReadout() {
    QTemporaryDir dir;
    ViewerOptions options;
    options.demo = true;
    options.start = true;
    auto dlg = MakeDialog(dir, options);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QTRY_VERIFY_WITH_TIMEOUT(!IsMidGrey(GrabImage(*dlg)), 10000);
    QWidget* image = dlg->GetDlgItem(IDC_IMAGE);
    // The pointer goes to the hottest pixel the status bar names, in a region around it.
    const QRegularExpressionMatch hottest =
        QRegularExpression(QStringLiteral("Max .* at row (\\d+), column (\\d+)$"))
            .match(dlg->StatusPaneText(0));
    QVERIFY2(hottest.hasMatch(), qPrintable(dlg->StatusPaneText(0)));
    const auto cell = [image](int row, int column) {
        const int r = std::clamp(row, 1, 31) - 1;
        const int c = std::clamp(column, 1, 32) - 1;
        return QPoint((2 * c + 1) * image->width() / 64, (2 * r + 1) * image->height() / 62);
    };
    const int row = hottest.captured(1).toInt();
    const int column = hottest.captured(2).toInt();
    QTest::mousePress(image, Qt::LeftButton, Qt::NoModifier, cell(row - 3, column - 3));
    QTest::mouseMove(image, cell(row + 3, column + 3));
    QTest::mouseRelease(image, Qt::LeftButton, Qt::NoModifier, cell(row + 3, column + 3));
    QVERIFY(dlg->Region().has_value());
    QTest::mouseMove(image, cell(row, column));
    QTRY_VERIFY(dlg->StatusPaneText(0).startsWith(QStringLiteral("Row ")));
    QTest::qWait(1000);
    QVERIFY(dlg->grab().save(QStringLiteral(THERMAL_ARTIFACT_DIR) + "/live_readout.png"));
    dlg->close();
}

void LiveScreenshots::windowFitsTheScreenWithItsLayout() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    const QRect screen = dlg->screen()->availableGeometry();
    const QSize full = DialogClientSize(Template102());
    if (full.width() + 16 <= screen.width() && full.height() + 48 <= screen.height()) {
        QCOMPARE(dlg->size(), full);  // room for it and a title bar
    }
    QVERIFY(screen.contains(dlg->frameGeometry()));
    // One scale for all: "Send", in the far corner, where the template puts it.
    const double scale = static_cast<double>(dlg->width()) / full.width();
    const QRect send = DialogUnitsForFont(TemplateFont(Template102())).Rect(554, 337, 126, 28);
    QVERIFY(qAbs(dlg->GetDlgItem(IDC_SEND)->geometry().bottom() - send.bottom() * scale) < 2);
}

QTEST_MAIN(LiveScreenshots)
#include "live_screenshots.moc"
