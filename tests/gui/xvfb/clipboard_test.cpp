// The clipboard under a real X server, read back by another program (xclip) the way a paste in
// another application reads it: "Copy data" gives the frame's text exactly, "Copy image" a
// picture that is the display image pixel for pixel, top row first and not mirrored; before the
// first frame, an empty text and a black picture.
#include <QAction>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include "gui/gui_test_support.h"

class ClipboardTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void beforeTheFirstFrameEmptyTextAndBlackPicture();
    void copiesAreTheFrameTextAndTheDisplayImage();
};

namespace {

// What a paste of the clipboard in `target` gives. The clipboard is served from this thread's
// event loop, so the loop spins while xclip reads.
QByteArray Paste(const QString& target) {
    QProcess xclip;
    QSignalSpy finished(&xclip, &QProcess::finished);
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                 QStringLiteral("-t"), target});
    if (!finished.wait(10000) || xclip.exitCode() != 0) {
        qWarning() << "xclip:" << xclip.readAllStandardError();
        return QByteArray("xclip failed");
    }
    return xclip.readAllStandardOutput();
}

void Trigger(CmfcVELKDlg& dlg, const QString& item) {
    for (QAction* action : dlg.actions()) {
        if (action->text() == item) {
            action->trigger();
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no menu item ") + item));
}

QImage PastedImage() {
    return QImage::fromData(Paste(QStringLiteral("image/png")), "PNG")
        .convertToFormat(QImage::Format_RGB888);
}

}  // namespace

void ClipboardTest::initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        QSKIP(
            "xclip is not installed (scripts/install-deps.sh --test installs it): clipboard not "
            "checked");
    }
}

void ClipboardTest::beforeTheFirstFrameEmptyTextAndBlackPicture() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    Trigger(*dlg, QStringLiteral("Copy data"));
    QCOMPARE(Paste(QStringLiteral("UTF8_STRING")), QByteArray());
    Trigger(*dlg, QStringLiteral("Copy image"));
    const QImage image = PastedImage();
    QCOMPARE(image.size(), QSize(320, 310));
    QImage black(320, 310, QImage::Format_RGB888);
    black.fill(Qt::black);
    QCOMPARE(image, black);
    dlg->close();
}

void ClipboardTest::copiesAreTheFrameTextAndTheDisplayImage() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const std::vector<uint8_t> block = MakeGradientBlock();
    dlg->Pipeline().QueueFrame('K', 2112, block.data());
    QTRY_VERIFY(!dlg->CopyText().empty());

    Trigger(*dlg, QStringLiteral("Copy data"));
    const QByteArray text = Paste(QStringLiteral("UTF8_STRING"));
    QCOMPARE(text, QByteArray::fromStdString(dlg->CopyText()));
    QVERIFY(text.contains("\t") && text.contains("\r\n"));

    Trigger(*dlg, QStringLiteral("Copy image"));
    const QImage image = PastedImage();
    QCOMPARE(image.size(), QSize(320, 310));
    const std::vector<uint8_t> expected = ReferenceImage(block);
    for (int y = 0; y < 310; ++y) {
        const uint8_t* row = &expected[static_cast<size_t>(y) * 320 * 3];
        if (std::memcmp(image.constScanLine(y), row, 320 * 3) != 0) {
            QFAIL(qPrintable(QStringLiteral("row %1 differs from the display image").arg(y)));
        }
    }
    dlg->close();
}

QTEST_MAIN(ClipboardTest)
#include "clipboard_test.moc"
