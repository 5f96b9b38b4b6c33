// The manual colour scale: trackbars for span and centre of temperature and voltage, their
// readouts and labels, the conversion of the readouts into the pipeline's units, and the colour
// scale dialog of the context menu, which sets the same controls.
#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QSlider>

#include "app/mfc_velk_dlg.h"
#include "dialogs/dlg_colour_scale.h"
#include "frame/conversion.h"
#include "res/resource.h"

namespace {

// What the readouts are in, by the centre readout's label: volts ("Vcentre[V]"), or the
// temperature unit the label names ("Tcentre[C]").
int ReadoutUnitOfLabel(const QString& label) {
    if (label.isEmpty() || label.at(0).toUpper() != QLatin1Char('T')) {
        return kReadoutUnitVolts;
    }
    const QChar letter = label.size() > 8 ? label.at(8).toUpper() : QChar();
    return letter == QLatin1Char('C')   ? kUnitCelsius
           : letter == QLatin1Char('F') ? kUnitFahrenheit
                                        : kUnitKelvin;
}

// A readout's number as the readouts are written: volts to the millivolt, temperatures to a
// tenth of a degree.
QString ReadoutText(double number, int readoutUnit) {
    return QString::asprintf(readoutUnit == kReadoutUnitVolts ? "%.3f" : "%.1f", number);
}

// The number a readout starts with; 0 for text that is no finite number.
float ReadLeadingFloat(const QString& text) {
    return ReadoutNumber(text.trimmed().toStdString());
}

QChar UnitLetter(int tempUnit) {
    switch (tempUnit) {
        case kUnitKelvin:
            return QLatin1Char('K');
        case kUnitCelsius:
            return QLatin1Char('C');
        default:
            return QLatin1Char('F');
    }
}

}  // namespace

QSlider* CmfcVELKDlg::Trackbar(int id) const {
    return static_cast<QSlider*>(GetDlgItem(id));
}

void CmfcVELKDlg::ConnectScalingHandlers() {
    for (int id : {IDC_DELTA_T, IDC_TCENTRE, IDC_DELTA_V, IDC_VCENTRE}) {
        connect(Trackbar(id), &QSlider::valueChanged, this, [this, id] { OnHScroll(id); });
    }
    connect(static_cast<QAbstractButton*>(GetDlgItem(IDC_SCALING_AUTO)), &QAbstractButton::clicked,
            this, [this] {
                if (IsChecked(IDC_SCALING_AUTO)) {
                    m_pipeline.SetAutoScaling();
                }
            });
    connect(static_cast<QAbstractButton*>(GetDlgItem(IDC_SCALING_MANUAL)),
            &QAbstractButton::clicked, this, [this] { ApplyManualScaling(); });
    // The scaling controls stay hidden; the context menu reaches them through this dialog.
    auto* colourScale = new QAction(QStringLiteral("Colour scale..."), this);
    colourScale->setObjectName(QStringLiteral("colourScaleAction"));
    connect(colourScale, &QAction::triggered, this, &CmfcVELKDlg::OnColourScale);
    addAction(colourScale);
}

void CmfcVELKDlg::OnColourScale() {
    // The labels follow the unit in use only at the next data command; the dialog shows that
    // unit now, with the bounds converted to it.
    if (ReadoutUnitOfLabel(GetDlgItemText(IDC_CENTRE_LABEL)) != kReadoutUnitVolts) {
        UpdateScaleLabels(1);
    }
    const int readoutUnit = ReadoutUnitOfLabel(GetDlgItemText(IDC_CENTRE_LABEL));
    // The bounds the readouts hold now, unless they hold no number.
    const auto bound = [this](int id) {
        const QString text = GetDlgItemText(id).trimmed();
        bool isNumber = false;
        QLocale::c().toDouble(text, &isNumber);
        return isNumber ? text : QString();
    };
    QString low = bound(IDC_MIN_READOUT);
    QString high = bound(IDC_MAX_READOUT);
    // Under the automatic scale the readouts hold whatever the trackbars last said; the frame
    // shown offers a better start: its own range, in the same unit.
    const bool isAutomatic = !IsChecked(IDC_SCALING_MANUAL);
    const std::optional<ReadoutFrame>& shown = m_statusReadouts.ShownFrame();
    if (isAutomatic && shown) {
        const ReadoutScale& scale = shown->scale;
        const bool sameUnit =
            scale.kind == ReadoutKind::kVoltage
                ? readoutUnit == kReadoutUnitVolts
                : scale.kind == ReadoutKind::kTemperature && scale.unit == readoutUnit;
        if (sameUnit) {
            // The bounds go to the colour mapping, which orders the words as the offset
            // subtraction leaves them (a pixel below its offset wrapped high): so does this range.
            const ReadoutScale mapped{scale.kind, scale.unit};
            const FrameExtremes extremes = FindFrameExtremes(shown->values.data(), mapped);
            low = QString::fromStdString(ReadoutValueText(extremes.min, mapped));
            high = QString::fromStdString(ReadoutValueText(extremes.max, mapped));
        }
    }
    CDlgColourScale dialog(this, readoutUnit, isAutomatic, low, high);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    if (dialog.IsAutomatic()) {
        SetCheck(IDC_SCALING_AUTO, true);
        m_pipeline.SetAutoScaling();
    } else {
        SetFixedScale(dialog.Low(), dialog.High());
    }
}

void CmfcVELKDlg::SetFixedScale(double low, double high) {
    // The trackbars stay where they are: their handlers would write their own bounds over these.
    const int readoutUnit = ReadoutUnitOfLabel(GetDlgItemText(IDC_CENTRE_LABEL));
    SetDlgItemText(IDC_MIN_READOUT, ReadoutText(low, readoutUnit));
    SetDlgItemText(IDC_MAX_READOUT, ReadoutText(high, readoutUnit));
    SetDlgItemText(IDC_CENTRE_READOUT, ReadoutText(low / 2 + high / 2, readoutUnit));
    SetCheck(IDC_SCALING_MANUAL, true);
    ApplyManualScaling();
}

void CmfcVELKDlg::WriteTemperatureReadouts() {
    const int p = Trackbar(IDC_TCENTRE)->value();
    const int unit = m_tempUnit;
    const float centre = ReadoutOfKelvin(static_cast<float>(p), unit);
    const QString centreText =
        unit == kUnitKelvin ? QString::asprintf("%d", p) : QString::asprintf("%.1f", centre);
    const int span = Trackbar(IDC_DELTA_T)->value();
    const float halfSpan = static_cast<float>(span) / 2.0f;
    SetDlgItemText(IDC_SPAN_READOUT, QString::asprintf("%d", span));
    SetDlgItemText(IDC_CENTRE_READOUT, centreText);
    SetDlgItemText(IDC_MAX_READOUT, QString::asprintf("%.1f", centre + halfSpan));
    SetDlgItemText(IDC_MIN_READOUT, QString::asprintf("%.1f", centre - halfSpan));
}

void CmfcVELKDlg::WriteVoltageReadouts() {
    const float span = static_cast<float>(Trackbar(IDC_DELTA_V)->value()) / 100.0f;
    const float centre = static_cast<float>(Trackbar(IDC_VCENTRE)->value()) / 100.0f;
    SetDlgItemText(IDC_SPAN_READOUT, QString::asprintf("%.3f", span));
    SetDlgItemText(IDC_CENTRE_READOUT, QString::asprintf("%.3f", centre));
    SetDlgItemText(IDC_MAX_READOUT, QString::asprintf("%.3f", centre + span / 2.0f));
    SetDlgItemText(IDC_MIN_READOUT, QString::asprintf("%.3f", centre - span / 2.0f));
}

void CmfcVELKDlg::OnHScroll(int id) {
    switch (id) {
        case IDC_DELTA_T:
        case IDC_TCENTRE:
            UpdateScaleLabels(1);
            WriteTemperatureReadouts();
            break;
        case IDC_DELTA_V:
        case IDC_VCENTRE:
            UpdateScaleLabels(2);
            WriteVoltageReadouts();
            break;
        default:
            break;
    }
    ApplyManualScaling();
}

int CmfcVELKDlg::UpdateScaleLabels(int kind) {
    const QString span = GetDlgItemText(IDC_SPAN_LABEL);
    const QString centre = GetDlgItemText(IDC_CENTRE_LABEL);
    const auto charAt = [](const QString& text, int index) {
        return index < text.size() ? text.at(index).toUpper() : QChar();
    };
    if (kind == 1) {
        const QChar unit = UnitLetter(m_tempUnit);
        if (charAt(span, 1) == QLatin1Char('T') && charAt(centre, 8) == unit) {
            return 0;
        }
        ConvertReadouts(ReadoutUnitOfLabel(centre), m_tempUnit);
        SetDlgItemText(IDC_SPAN_LABEL, QStringLiteral("ΔT[%1]").arg(unit));
        SetDlgItemText(IDC_CENTRE_LABEL, QStringLiteral("Tcentre[%1]").arg(unit));
        SetDlgItemText(IDC_MIN_LABEL, QStringLiteral("Tmin[%1]").arg(unit));
        SetDlgItemText(IDC_MAX_LABEL, QStringLiteral("Tmax[%1]").arg(unit));
        return 1;
    }
    if (charAt(span, 1) == QLatin1Char('V')) {
        return 0;
    }
    ConvertReadouts(ReadoutUnitOfLabel(centre), kReadoutUnitVolts);
    SetDlgItemText(IDC_SPAN_LABEL, QStringLiteral("ΔV"));
    SetDlgItemText(IDC_CENTRE_LABEL, QStringLiteral("Vcentre[V]"));
    SetDlgItemText(IDC_MIN_LABEL, QStringLiteral("Vmin[V]"));
    SetDlgItemText(IDC_MAX_LABEL, QStringLiteral("Vmax[V]"));
    return 1;
}

void CmfcVELKDlg::ConvertReadouts(int fromUnit, int toUnit) {
    if (fromUnit == toUnit) {
        return;
    }
    if (fromUnit == kReadoutUnitVolts || toUnit == kReadoutUnitVolts) {
        // Volts and temperatures do not convert: the bounds become the trackbars' of the kind.
        if (toUnit == kReadoutUnitVolts) {
            WriteVoltageReadouts();
        } else {
            WriteTemperatureReadouts();
        }
        return;
    }
    // The same bounds in kelvin, so that the scale stays where it was.
    for (int id : {IDC_MIN_READOUT, IDC_MAX_READOUT, IDC_CENTRE_READOUT}) {
        const float kelvin = KelvinOfReadout(ReadLeadingFloat(GetDlgItemText(id)), fromUnit);
        SetDlgItemText(id, ReadoutText(ReadoutOfKelvin(kelvin, toUnit), toUnit));
    }
}

void CmfcVELKDlg::ApplyManualScaling() {
    if (!IsChecked(IDC_SCALING_MANUAL)) {
        return;
    }
    const int readoutUnit = ReadoutUnitOfLabel(GetDlgItemText(IDC_CENTRE_LABEL));
    float centre = ReadLeadingFloat(GetDlgItemText(IDC_CENTRE_READOUT));
    float upper = ReadLeadingFloat(GetDlgItemText(IDC_MAX_READOUT));
    float lower = ReadLeadingFloat(GetDlgItemText(IDC_MIN_READOUT));
    const auto convert = [&](auto toPipelineUnits) {
        centre = toPipelineUnits(centre);
        upper = toPipelineUnits(upper);
        lower = toPipelineUnits(lower);
    };
    if (readoutUnit == kReadoutUnitVolts) {
        convert(CountsOfVoltReadout);
    } else {
        convert([readoutUnit](float readout) { return KelvinOfReadout(readout, readoutUnit); });
    }
    m_pipeline.SetManualScaling(upper, lower, centre);
}

void CmfcVELKDlg::ApplyDataMode(int kind) {
    UpdateScaleLabels(kind);
    const bool temperature = kind == 1;
    EnableControl(IDC_DELTA_T, temperature);
    EnableControl(IDC_TCENTRE, temperature);
    EnableControl(IDC_DELTA_V, !temperature);
    EnableControl(IDC_VCENTRE, !temperature);
}
