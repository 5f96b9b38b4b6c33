// Frames fed into the main dialog's pipeline: what the window shows for them, and the manual
// colour scale's readouts and labels.
// ctest: RUN_SERIAL (it streams from the simulated module and waits on its timing)
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>
#include <vector>

#include "controls/poly_chart.h"
#include "dialogs/dlg_buf_status.h"
#include "gui/gui_test_support.h"
#include "res/resource.h"

namespace {

// A frame block of the given letter's kind: values rising across the frame from base, the
// marker in place, ambient and supply codes in the header.
std::vector<uint8_t> MakeBlock(uint16_t base) {
    std::vector<uint8_t> block(2112, 0);
    const auto put = [&](int word, uint16_t value) {
        block[2 * word] = static_cast<uint8_t>(value & 0xFF);
        block[2 * word + 1] = static_cast<uint8_t>(value >> 8);
    };
    for (int i = 0; i < 992; ++i) {
        put(i, static_cast<uint16_t>(base + i % 97));
    }
    put(1024, 0x789A);
    put(1025, 0xBCDE);
    put(1026, 3000);  // ambient: 12 low bits here, 4 high bits (0) in the next word
    return block;
}

void SetSlider(CmfcVELKDlg& dlg, int id, int value) {
    auto* slider = static_cast<QSlider*>(dlg.GetDlgItem(id));
    // The handler runs on every change, like the scroll messages of a moved trackbar.
    slider->setValue(value == slider->minimum() ? value + 1 : value - 1);
    slider->setValue(value);
}

// Answers the colour scale dialog of the context menu with the bounds given (none: automatic)
// and OK. Returns the bounds it showed, "|" and, if OK left it open (it is then cancelled), why.
QString ChooseColourScale(CmfcVELKDlg& dlg, const char* low = nullptr, const char* high = "") {
    QString outcome;
    QTimer::singleShot(0, &dlg, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        auto* lowEdit = dialog->findChild<QLineEdit*>("low");
        auto* highEdit = dialog->findChild<QLineEdit*>("high");
        outcome = lowEdit->text() + QLatin1Char(' ') + highEdit->text() + QLatin1Char('|');
        dialog->findChild<QRadioButton*>(low != nullptr ? "fixed" : "automatic")->click();
        lowEdit->setText(QString::fromLatin1(low));
        highEdit->setText(QString::fromLatin1(high));
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        if (dialog->isVisible()) {
            auto* message = dialog->findChild<QLabel*>(QStringLiteral("message"));
            QApplication::processEvents();  // the dialog lays itself out again
            const bool whole = dialog->rect().contains(message->geometry()) &&
                               message->height() >= message->heightForWidth(message->width());
            outcome += message->text() + (whole ? QString() : QStringLiteral(" [cut]"));
            static_cast<QDialog*>(dialog)->reject();
        }
    });
    dlg.findChild<QAction*>("colourScaleAction")->trigger();
    return outcome;
}

}  // namespace

class LiveViewTest : public QObject {
    Q_OBJECT

  private slots:
    void temperatureFrameFillsReadoutsAndLog();
    void voltageFrameSaysV();
    void selectedPixelsCutTheLoggedText();
    void scaleReadoutsInEveryUnit();
    void voltageReadoutsAndManualBounds();
    void updateScaleLabelsReportsChanges();
    void trackbarWithAutoScalingLeavesPipelineAlone();
    void colourScaleDialogSetsTheManualControls();
    void colourScaleFollowsTheUnitAndRefusesBoundsNoFrameHolds();
    void burstOfFramesShowsTheNewest();
    void bufferStatusFollowsStackFillAndSurvivesEscape();
    void imageControlShowsThePipelineImageStretched();
};

void LiveViewTest::temperatureFrameFillsReadoutsAndLog() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const std::vector<uint8_t> block = MakeBlock(2930);
    dlg->Pipeline().QueueFrame('K', 2112, block.data());
    QTRY_VERIFY(dlg->GetDlgItemText(IDC_MIN_TEXT) != QStringLiteral("Min: ???"));
    std::string minText, maxText;
    dlg->Pipeline().GetMinMaxText(minText, maxText);
    QCOMPARE(dlg->GetDlgItemText(IDC_MIN_TEXT), QString::fromStdString("Min:" + minText));
    QCOMPARE(dlg->GetDlgItemText(IDC_MAX_TEXT), QString::fromStdString("Max:" + maxText + " [T]"));
    QVERIFY(dlg->GetDlgItemText(IDC_VDD) != QStringLiteral("???"));
    QVERIFY(dlg->GetDlgItemText(IDC_AMBIENT) != QStringLiteral("???"));
    // The supply code shares its words with the frame marker: 0x89A from 0x789A, high bits 0xE
    // from 0xBCDE.
    QCOMPARE(dlg->GetDlgItemText(IDC_VDD), QString::number(0xE89A));
    QCOMPARE(dlg->GetDlgItemText(IDC_AMBIENT), QStringLiteral("3000"));
    // Full range selected: the log holds the whole frame text, and "Copy Data" has it too.
    const std::string copy = dlg->CopyText();
    QVERIFY(!copy.empty());
    QString shown = QString::fromStdString(copy);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QCOMPARE(dlg->GetDlgItemText(IDC_LOG), shown);
    auto* chart = static_cast<CPolyChart*>(dlg->GetDlgItem(IDC_CHART));
    QCOMPARE(chart->GetChartUnit(), 2);
}

void LiveViewTest::voltageFrameSaysV() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const std::vector<uint8_t> block = MakeBlock(1500);
    dlg->Pipeline().QueueFrame('t', 2112, block.data());
    QTRY_VERIFY(dlg->GetDlgItemText(IDC_MAX_TEXT).endsWith(QStringLiteral(" [V]")));
}

void LiveViewTest::selectedPixelsCutTheLoggedText() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_ALL_PIXEL))->click();
    dlg->SetDlgItemText(IDC_STARTPIXEL, QStringLiteral("2"));
    dlg->SetDlgItemText(IDC_PIXELCOUNT, QStringLiteral("3"));
    const std::vector<uint8_t> block = MakeBlock(2930);
    dlg->Pipeline().QueueFrame('K', 2112, block.data());
    QTRY_VERIFY(!dlg->CopyText().empty());
    const QString copy = QString::fromStdString(dlg->CopyText());
    QCOMPARE(copy.count(QLatin1Char('\t')), 3);
    QVERIFY(copy.endsWith(QLatin1Char('\t')));
    QTRY_COMPARE(dlg->GetDlgItemText(IDC_LOG), copy);
}

void LiveViewTest::scaleReadoutsInEveryUnit() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_SCALING_MANUAL))->click();
    // The manual bounds reach the pipeline in kelvin: K = C + 273.2, K = (F - 32) / 1.8 + 273.15.
    const struct {
        int unit;
        const char *centre, *minimum, *maximum, *letter;
        float centreK, lowerK, upperK;
    } cases[] = {{2, "26.8", "-23.2", "76.8", "C", 300.0f, 250.0f, 350.0f},
                 {1, "300", "250.0", "350.0", "K", 300.0f, 250.0f, 350.0f},
                 {3, "80.3", "30.3", "130.3", "F", 299.983f, 272.206f, 327.761f}};
    for (const auto& c : cases) {
        dlg->ApplyOptions(0, c.unit);
        SetSlider(*dlg, IDC_TCENTRE, 300);
        SetSlider(*dlg, IDC_DELTA_T, 100);
        QCOMPARE(dlg->GetDlgItemText(IDC_CENTRE_READOUT), QString::fromUtf8(c.centre));
        QCOMPARE(dlg->GetDlgItemText(IDC_MIN_READOUT), QString::fromUtf8(c.minimum));
        QCOMPARE(dlg->GetDlgItemText(IDC_MAX_READOUT), QString::fromUtf8(c.maximum));
        QCOMPARE(dlg->GetDlgItemText(IDC_SPAN_READOUT), QStringLiteral("100"));
        const QString u = QString::fromUtf8(c.letter);
        QCOMPARE(dlg->GetDlgItemText(IDC_SPAN_LABEL), QStringLiteral("ΔT[%1]").arg(u));
        QCOMPARE(dlg->GetDlgItemText(IDC_CENTRE_LABEL), QStringLiteral("Tcentre[%1]").arg(u));
        QCOMPARE(dlg->GetDlgItemText(IDC_MIN_LABEL), QStringLiteral("Tmin[%1]").arg(u));
        QCOMPARE(dlg->GetDlgItemText(IDC_MAX_LABEL), QStringLiteral("Tmax[%1]").arg(u));
        float upper = 0, lower = 0, centre = 0;
        dlg->Pipeline().GetManualScaling(upper, lower, centre);
        QVERIFY2(qAbs(centre - c.centreK) < 0.01f, qPrintable(QString::number(centre)));
        QVERIFY2(qAbs(lower - c.lowerK) < 0.01f, qPrintable(QString::number(lower)));
        QVERIFY2(qAbs(upper - c.upperK) < 0.01f, qPrintable(QString::number(upper)));
    }
}

void LiveViewTest::voltageReadoutsAndManualBounds() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_SCALING_MANUAL))->click();
    SetSlider(*dlg, IDC_VCENTRE, 250);
    SetSlider(*dlg, IDC_DELTA_V, 100);
    QCOMPARE(dlg->GetDlgItemText(IDC_CENTRE_READOUT), QStringLiteral("2.500"));
    QCOMPARE(dlg->GetDlgItemText(IDC_MIN_READOUT), QStringLiteral("2.000"));
    QCOMPARE(dlg->GetDlgItemText(IDC_MAX_READOUT), QStringLiteral("3.000"));
    // The template's voltage labels are already right, so they stay as they are.
    QCOMPARE(dlg->GetDlgItemText(IDC_SPAN_LABEL), QStringLiteral("ΔV[V]"));
    QCOMPARE(dlg->GetDlgItemText(IDC_CENTRE_LABEL), QStringLiteral("Vcentre[V]"));
    QCOMPARE(dlg->Pipeline().GetScalingMode(), 2);
    float upper = 0, lower = 0, centre = 0;
    dlg->Pipeline().GetManualScaling(upper, lower, centre);
    QVERIFY(qAbs(upper - 2457.0f) < 0.5f);
    QVERIFY(qAbs(lower - 1638.0f) < 0.5f);
    QVERIFY(qAbs(centre - 2047.5f) < 0.5f);

    // Temperature labels convert degrees Celsius to kelvin.
    SetSlider(*dlg, IDC_TCENTRE, 300);
    dlg->Pipeline().GetManualScaling(upper, lower, centre);
    QVERIFY(qAbs(centre - 300.0f) < 0.01f);
    QVERIFY(qAbs(lower - 250.0f) < 0.01f);
    QVERIFY(qAbs(upper - 350.0f) < 0.01f);

    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_SCALING_AUTO))->click();
    QCOMPARE(dlg->Pipeline().GetScalingMode(), 1);
}

void LiveViewTest::updateScaleLabelsReportsChanges() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    QCOMPARE(dlg->UpdateScaleLabels(1), 1);
    QCOMPARE(dlg->UpdateScaleLabels(1), 0);
    dlg->ApplyOptions(0, 1);
    QCOMPARE(dlg->UpdateScaleLabels(1), 1);
    QCOMPARE(dlg->GetDlgItemText(IDC_CENTRE_LABEL), QStringLiteral("Tcentre[K]"));
    QCOMPARE(dlg->UpdateScaleLabels(2), 1);
    QCOMPARE(dlg->GetDlgItemText(IDC_SPAN_LABEL), QStringLiteral("ΔV"));
    QCOMPARE(dlg->UpdateScaleLabels(2), 0);
    dlg->ApplyDataMode(1);
    QVERIFY(dlg->GetDlgItem(IDC_DELTA_T)->isEnabled());
    QVERIFY(!dlg->GetDlgItem(IDC_VCENTRE)->isEnabled());
    dlg->ApplyDataMode(2);
    QVERIFY(!dlg->GetDlgItem(IDC_TCENTRE)->isEnabled());
    QVERIFY(dlg->GetDlgItem(IDC_DELTA_V)->isEnabled());
}

void LiveViewTest::trackbarWithAutoScalingLeavesPipelineAlone() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    SetSlider(*dlg, IDC_TCENTRE, 500);
    SetSlider(*dlg, IDC_DELTA_V, 300);
    QCOMPARE(dlg->Pipeline().GetScalingMode(), 1);
}

void LiveViewTest::colourScaleDialogSetsTheManualControls() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    const auto scale = [&dlg] {
        std::vector<float> bounds(3);
        dlg->Pipeline().GetManualScaling(bounds[0], bounds[1], bounds[2]);
        return bounds;
    };
    // The reference: the same bounds, and their midpoint, typed into the hidden readouts before
    // "Manual" is clicked.
    const struct {
        int unit, dataKind;
        const char* typed[3];  // low, high, centre
    } units[] = {{kUnitCelsius, 1, {"-20.5", "36.5", "8.0"}},
                 {kUnitKelvin, 1, {"250.0", "310.4", "280.2"}},
                 {kUnitFahrenheit, 1, {"-4.0", "98.6", "47.3"}},
                 {kUnitCelsius, 2, {"0.250", "2.125", "1.188"}}};
    const int readouts[] = {IDC_MIN_READOUT, IDC_MAX_READOUT, IDC_CENTRE_READOUT};
    for (const auto& c : units) {
        dlg->ApplyOptions(0, c.unit);
        dlg->ApplyDataMode(c.dataKind);
        for (int i = 0; i < 3; ++i) {
            dlg->SetDlgItemText(readouts[i], QString::fromLatin1(c.typed[i]));
        }
        Click(*dlg, IDC_SCALING_MANUAL);
        const std::vector<float> reference = scale();
        Click(*dlg, IDC_SCALING_AUTO);
        for (int id : readouts) {
            dlg->SetDlgItemText(id, QStringLiteral("1"));
        }
        QCOMPARE(ChooseColourScale(*dlg, c.typed[0], c.typed[1]), QStringLiteral("1 1|"));
        QCOMPARE(dlg->Pipeline().GetScalingMode(), 2);
        QCOMPARE(scale(), reference);
        QCOMPARE(dlg->GetDlgItemText(IDC_CENTRE_READOUT), QString::fromLatin1(c.typed[2]));
    }

    // Refused bounds change nothing.
    const char* refused[][3] = {{"1,500", "10", "LOW is not a number: '1,500'"},
                                {"0", "inf", "HIGH is out of range: 'inf'."},
                                {"0", "1e39", "HIGH is out of range: '1e39'."},
                                {"30", "20.5", "LOW (30) is above HIGH (20.5)."}};
    const std::vector<float> before = scale();
    for (const auto& r : refused) {
        const QString outcome = ChooseColourScale(*dlg, r[0], r[1]);
        QVERIFY2(outcome.startsWith(QStringLiteral("0.250 2.125|") + r[2]), qPrintable(outcome));
        QCOMPARE(scale(), before);
    }
    ChooseColourScale(*dlg, " 1.5 ", "1.5");  // equal bounds are allowed
    QCOMPARE(dlg->GetDlgItemText(IDC_MAX_READOUT), QStringLiteral("1.500"));
    ChooseColourScale(*dlg);
    QCOMPARE(dlg->Pipeline().GetScalingMode(), 1);
}

void LiveViewTest::colourScaleFollowsTheUnitAndRefusesBoundsNoFrameHolds() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->ApplyDataMode(1);
    ChooseColourScale(*dlg, "20", "30");  // °C
    // "Options" alone: the dialog shows the same bounds in kelvin, and nothing below 0 K.
    dlg->ApplyOptions(0, kUnitKelvin);
    QCOMPARE(ChooseColourScale(*dlg, "-0.1", "300"),
             QStringLiteral("293.2 303.2|LOW is below absolute zero (0.0 K): '-0.1'."));
    // Then a data command, as START sends it: still the same bounds, now in °F.
    dlg->ApplyOptions(0, kUnitFahrenheit);
    dlg->ApplyDataMode(1);
    QCOMPARE(ChooseColourScale(*dlg, "-459.7", "1e30"),
             QStringLiteral("68.1 86.1|HIGH is above 11336.6 °F, the highest value a frame holds: "
                            "'1e30'."));
    QCOMPARE(ChooseColourScale(*dlg, "-459.7", "11336.6"), QStringLiteral("68.1 86.1|"));
    // Volts do not convert: the voltage scale's bounds. A message of two lines shows whole.
    dlg->ApplyDataMode(2);
    QCOMPARE(ChooseColourScale(*dlg, "1,500", "81"),
             QStringLiteral("0.500 1.500|LOW is not a number: '1,500'. Write it with a decimal "
                            "point, e.g. 25.5."));
}

void LiveViewTest::burstOfFramesShowsTheNewest() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    std::vector<uint8_t> last;
    for (uint16_t i = 0; i < 40; ++i) {
        last = MakeBlock(static_cast<uint16_t>(2900 + i));
        dlg->Pipeline().QueueFrame('K', 2112, last.data());
    }
    // The newest frame's text ends up in the log, whatever was skipped on the way.
    CFramePipeline reference;
    reference.SetUnit(2);
    std::string expected;
    struct Sink {
        std::string* text;
    } sink{&expected};
    reference.SetCallback(
        [](void* owner, const char*, const std::string& text, const uint8_t*, const uint8_t*,
           const uint16_t*) { *static_cast<Sink*>(owner)->text = text; },
        &sink);
    reference.SetElOffsetSubtraction(1);
    reference.ProcessFrameNow('K', 2112, last.data());
    QString shown = QString::fromStdString(expected);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTRY_COMPARE(dlg->GetDlgItemText(IDC_LOG), shown);
}

namespace {

CDlgBufStatus* FindBufferStatus() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dlg = qobject_cast<CDlgBufStatus*>(widget)) {
            return dlg;
        }
    }
    return nullptr;
}

}  // namespace

void LiveViewTest::bufferStatusFollowsStackFillAndSurvivesEscape() {
    QTemporaryDir dir;
    ViewerOptions options;
    options.demo = true;
    auto dlg = MakeDialog(dir, options);
    dlg->OnStart();
    // The handshake ends either way (answered, or timed out on a loaded machine).
    QTRY_VERIFY_WITH_TIMEOUT(dlg->HandshakeState() >= HandshakeState::TimedOut, 5000);
    // No stacking: a data command brings up no buffer status window.
    dlg->SendCommandText("K");
    QVERIFY(!FindBufferStatus());

    dlg->SetDlgItemText(IDC_FRAMESTACK, QStringLiteral("20"));
    dlg->SendCommandText("K");
    CDlgBufStatus* status = FindBufferStatus();
    QVERIFY(status);
    QVERIFY(status->isVisible());
    QCOMPARE(status->StackNameText(), QStringLiteral("Filling Frame Stack"));
    QTRY_VERIFY_WITH_TIMEOUT(status->PercentText() != QStringLiteral("Buffer filled to 0 %"), 5000);

    // Escape closes it while frames keep arriving; the next data command makes a new one.
    QTest::keyClick(status, Qt::Key_Escape);
    QTRY_VERIFY(!FindBufferStatus());
    QTest::qWait(500);
    dlg->SendCommandText("K");
    QTRY_VERIFY(FindBufferStatus());
    dlg->close();
}

void LiveViewTest::imageControlShowsThePipelineImageStretched() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    const std::vector<uint8_t> block = MakeBlock(2900);
    dlg->Pipeline().QueueFrame('K', 2112, block.data());
    QTRY_VERIFY(!dlg->CopyText().empty());
    QTest::qWait(50);

    // The same frame through a pipeline with the dialog's start-up settings.
    CFramePipeline reference;
    reference.SetUnit(2);
    reference.SetElOffsetSubtraction(1);
    reference.SetInterpolation(1);
    std::vector<uint8_t> expected;
    reference.SetCallback(
        [](void* owner, const char*, const std::string&, const uint8_t*, const uint8_t* image,
           const uint16_t*) {
            static_cast<std::vector<uint8_t>*>(owner)->assign(image, image + 320 * 310 * 3);
        },
        &expected);
    reference.ProcessFrameNow('K', 2112, block.data());
    QCOMPARE(expected.size(), size_t(320 * 310 * 3));

    // Sample the middle of every 10 x 10 block: stretching without smoothing maps it to the
    // same source pixel whatever the control's size.
    const QImage shown = dlg->GetDlgItem(IDC_IMAGE)->grab().toImage();
    int compared = 0;
    for (int y = 5; y < 310; y += 10) {
        for (int x = 5; x < 320; x += 10) {
            const int sx = (x * shown.width() + shown.width() / 2) / 320;
            const int sy = (y * shown.height() + shown.height() / 2) / 310;
            const uint8_t* rgb = &expected[(static_cast<size_t>(y) * 320 + x) * 3];
            const QColor pixel = shown.pixelColor(sx, sy);
            QCOMPARE(pixel, QColor(rgb[0], rgb[1], rgb[2]));
            ++compared;
        }
    }
    QCOMPARE(compared, 32 * 31);
}

QTEST_MAIN(LiveViewTest)
#include "live_view_test.moc"
