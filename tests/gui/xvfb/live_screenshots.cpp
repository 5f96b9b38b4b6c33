// Screenshots of the live view on the simulated module, under a real X server, with palettes 4
// and 8. They are kept as build artifacts (the README shows one) and checked for what a user
// would see: a false-colour image that changes with the palette.
#include <QAbstractButton>
#include <QDir>
#include <QImage>
#include <QtTest>

#include "controls/dx_static.h"
#include "gui/gui_test_support.h"
#include "res/resource.h"

class LiveScreenshots : public QObject {
    Q_OBJECT

  private slots:
    void paletteFourAndEight();
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

QTEST_MAIN(LiveScreenshots)
#include "live_screenshots.moc"
