// Handlers of the main dialog's own controls: palettes, interpolation, stack sizes, the pixel
// range, "Every Frame", offset subtraction and the chart mode.
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <cstdlib>

#include "app/mfc_velk_dlg.h"
#include "controls/color_gradient.h"
#include "controls/poly_chart.h"
#include "dialogs/dlg_buf_status.h"
#include "dialogs/dlg_options.h"
#include "frame/text_frame.h"
#include "res/resource.h"

namespace {

constexpr int kMaxStackSize = 300;

}  // namespace

int CmfcVELKDlg::GetDlgItemInt(int id) const {
    const std::string text = GetDlgItemText(id).toStdString();
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

QString CmfcVELKDlg::GetDlgItemText(int id) const {
    const QWidget* widget = GetDlgItem(id);
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->text();
    }
    if (const auto* log = qobject_cast<const QPlainTextEdit*>(widget)) {
        return log->toPlainText();
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    return {};
}

void CmfcVELKDlg::SetDlgItemText(int id, const QString& text) {
    QWidget* widget = GetDlgItem(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        // The readouts are rewritten at every frame, mostly with the text they already show,
        // and setting it again would lay it out again.
        if (edit->text() != text) {
            edit->setText(text);
        }
    } else if (auto* log = qobject_cast<QPlainTextEdit*>(widget)) {
        log->setPlainText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    }
}

void CmfcVELKDlg::ConnectHandlers() {
    const auto onClick = [this](int id, void (CmfcVELKDlg::*handler)()) {
        connect(static_cast<QAbstractButton*>(GetDlgItem(id)), &QAbstractButton::clicked, this,
                handler);
    };
    const auto onTextChange = [this](int id, auto handler) {
        connect(Edit(id), &QLineEdit::textChanged, this, handler);
    };
    const auto onKillFocus = [this](int id, auto handler) {
        connect(Edit(id), &QLineEdit::editingFinished, this, handler);
    };

    for (int id : {IDC_PALETTE_1, IDC_PALETTE_2, IDC_PALETTE_3, IDC_PALETTE_4, IDC_PALETTE_5,
                   IDC_PALETTE_6, IDC_PALETTE_7, IDC_PALETTE_8}) {
        onClick(id, &CmfcVELKDlg::ApplyPalette);
    }
    onClick(IDC_INTERPOLATE, &CmfcVELKDlg::OnInterpolate);
    for (int id : {IDC_FRAMESTACK, IDC_ELOFFSTACK, IDC_THERMALSTACK}) {
        onTextChange(id, [this, id] { OnStackSizeChange(id); });
        onKillFocus(id, [this] { ApplyStackSizes(); });
    }
    onClick(IDC_ALL_PIXEL, &CmfcVELKDlg::OnAllPixel);
    onTextChange(IDC_STARTPIXEL, [this] { OnStartPixelChange(); });
    onTextChange(IDC_PIXELCOUNT, [this] { OnPixelCountChange(); });
    onTextChange(IDC_EVERY_FRAME, [this] { OnEveryFrameChange(); });
    onClick(IDC_OFFSET_ELECTRICAL, &CmfcVELKDlg::OnElectrical);
    onClick(IDC_HIST_MODE, &CmfcVELKDlg::OnHistMode);
    onClick(IDC_OPTIONS, &CmfcVELKDlg::OnOptions);
    onClick(IDC_SAVE_TO, &CmfcVELKDlg::OnSaveTo);
    onClick(IDC_REC, &CmfcVELKDlg::OnRec);
    onClick(IDC_STOP, &CmfcVELKDlg::OnStop);
    onClick(IDC_PLAY, &CmfcVELKDlg::OnPlay);
    ConnectScalingHandlers();
    ConnectExportHandlers();
    ConnectSessionHandlers();
}

void CmfcVELKDlg::ApplyPalette() {
    // The highest checked button from "8" down to "2" wins; none of them means "1".
    static constexpr int kButtons[] = {IDC_PALETTE_2, IDC_PALETTE_3, IDC_PALETTE_4, IDC_PALETTE_5,
                                       IDC_PALETTE_6, IDC_PALETTE_7, IDC_PALETTE_8};
    int palette = 1;
    for (int i = 0; i < 7; ++i) {
        if (IsChecked(kButtons[i])) {
            palette = i + 2;
        }
    }
    m_controls.paletteBar->SetPalette(palette);
    m_pipeline.SelectPalette(palette);
}

void CmfcVELKDlg::OnInterpolate() {
    m_interpolate = !m_interpolate;
    m_pipeline.SetInterpolation(m_interpolate);
}

void CmfcVELKDlg::OnStackSizeChange(int editId) {
    if (GetDlgItemInt(editId) > kMaxStackSize) {
        // Setting the text raises this handler again with 300, which applies the sizes.
        SetDlgItemText(editId, QString::number(kMaxStackSize));
        return;
    }
    if (editId == IDC_FRAMESTACK) {
        ApplyStackSizes();
    }
}

void CmfcVELKDlg::ApplyStackSizes() {
    m_pipeline.SetStackSizes(GetDlgItemInt(IDC_FRAMESTACK), GetDlgItemInt(IDC_ELOFFSTACK),
                             GetDlgItemInt(IDC_THERMALSTACK));
}

void CmfcVELKDlg::OnAllPixel() {
    const bool all = IsChecked(IDC_ALL_PIXEL);
    if (all) {
        SetDlgItemText(IDC_STARTPIXEL, QStringLiteral("1"));
        SetDlgItemText(IDC_PIXELCOUNT, QString::number(kTextFieldCount));
    }
    Edit(IDC_STARTPIXEL)->setReadOnly(all);
    Edit(IDC_PIXELCOUNT)->setReadOnly(all);
    m_pipeline.SetPixelRange(1, kTextFieldCount);
}

void CmfcVELKDlg::OnStartPixelChange() {
    int start = GetDlgItemInt(IDC_STARTPIXEL);
    if (start > kTextFieldCount) {
        start = kTextFieldCount;
        SetDlgItemText(IDC_STARTPIXEL, QString::number(start));
    } else if (start <= 0) {
        start = 1;
        SetDlgItemText(IDC_STARTPIXEL, QStringLiteral("1"));
    }
    // The range always reaches the last value.
    SetDlgItemText(IDC_PIXELCOUNT, QString::number(kTextFieldCount + 1 - start));
    m_pipeline.SetPixelRange(start, kTextFieldCount + 1 - start);
}

void CmfcVELKDlg::OnPixelCountChange() {
    const int start = GetDlgItemInt(IDC_STARTPIXEL);
    int count = GetDlgItemInt(IDC_PIXELCOUNT);
    if (count > 0) {
        if (count > kTextFieldCount + 1 - start) {
            count = kTextFieldCount + 1 - start;
            SetDlgItemText(IDC_PIXELCOUNT, QString::number(count));
        }
    } else {
        count = 1;
        SetDlgItemText(IDC_PIXELCOUNT, QStringLiteral("1"));
    }
    m_pipeline.SetPixelRange(start, count);
}

void CmfcVELKDlg::OnEveryFrameChange() {
    if (GetDlgItemInt(IDC_EVERY_FRAME) < 1) {
        SetDlgItemText(IDC_EVERY_FRAME, QStringLiteral("1"));
    }
}

void CmfcVELKDlg::OnElectrical() {
    m_pipeline.SetElOffsetSubtraction(IsChecked(IDC_OFFSET_ELECTRICAL) ? 1 : 0);
}

void CmfcVELKDlg::OnHistMode() {
    m_profileMode = !m_profileMode;
    m_controls.chart->SetProfileMode(m_profileMode);
}

void CmfcVELKDlg::OnOptions() {
    int mirrorMode = m_mirrorMode;
    int tempUnit = m_tempUnit;
    if (CDlgOptions::EditOptions(nullptr, mirrorMode, tempUnit)) {
        ApplyOptions(mirrorMode, tempUnit);
    }
}

void CmfcVELKDlg::ApplyOptions(int mirrorMode, int tempUnit) {
    m_mirrorMode = mirrorMode;
    m_pipeline.SetMirrorMode(mirrorMode);
    m_tempUnit = tempUnit;
    m_controls.chart->SetChartUnit(tempUnit);
    m_pipeline.SetUnit(tempUnit);
}

namespace {

StackFill ReadStackFill(const CFramePipeline& pipeline) {
    StackFill fill;
    int thermal = 0;
    pipeline.GetStackSizes(fill.frameSize, fill.offsetSize, thermal);
    pipeline.GetStackCounts(fill.frameCount, fill.offsetCount, thermal);
    return fill;
}

}  // namespace

void CmfcVELKDlg::ShowBufferStatus() {
    CDlgBufStatus::ShowBufferStatus(this, m_pBufStatusDlg, m_bufStatusLock,
                                    ReadStackFill(m_pipeline));
}

void CmfcVELKDlg::UpdateBufferStatus() {
    CDlgBufStatus::UpdateBufferStatus(m_pBufStatusDlg, m_bufStatusLock, ReadStackFill(m_pipeline));
}

void CmfcVELKDlg::CloseBufferStatusDialog() {
    CDlgBufStatus* dlg = nullptr;
    {
        std::lock_guard lock(m_bufStatusLock);
        dlg = m_pBufStatusDlg;
    }
    // Cancelling clears m_pBufStatusDlg under the lock and deletes the window.
    if (dlg) {
        dlg->reject();
    }
}
