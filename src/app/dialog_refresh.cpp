// Per-frame presentation and the window timers of the main dialog.
//
// The processing thread prepares everything a frame needs (image copy, chart record, the
// selected text, readouts) and leaves it in a one-frame mailbox; the GUI thread shows the newest
// frame when it gets to it. Frames that arrive faster than the screen can show them are still
// processed, recorded and kept for copying; only their presentation is skipped.
#include <QTimer>
#include <cstring>

#include "app/frame_presentation.h"
#include "app/mfc_velk_dlg.h"
#include "controls/dx_static.h"
#include "controls/poly_chart.h"
#include "export/selected_pixels.h"
#include "frame/frame_block.h"
#include "frame/text_frame.h"
#include "processing/chart_data.h"
#include "res/resource.h"

std::string CmfcVELKDlg::ShowSelectedPixels(const std::string& text) {
    int first = 1;
    int count = kTextFieldCount;
    m_pipeline.GetPixelRange(first, count);
    PixelRange lastValid{m_startPixel, m_pixelCount};
    std::string selected = SelectPixels(text, PixelRange{first, count}, lastValid);
    m_startPixel = lastValid.start;
    m_pixelCount = lastValid.count;
    m_copyText.Set(selected);
    return selected;
}

void CmfcVELKDlg::OnFrameReady(void* owner, const char* modeLetter, const std::string& text,
                               const uint8_t* raw, const uint8_t* image, const uint16_t* values) {
    auto* dlg = static_cast<CmfcVELKDlg*>(owner);
    if (dlg->m_isClosing) {
        return;
    }
    const char letter = *modeLetter;

    auto frame = std::make_unique<FramePresentation>();
    std::memcpy(frame->image.get(), image, kImageBytes);
    {
        std::lock_guard lock(dlg->m_lastImageLock);
        if (dlg->m_pLastImage) {
            std::memcpy(dlg->m_pLastImage.get(), image, kImageBytes);
        }
    }
    frame->chart = std::make_unique<CChartData>();
    if (dlg->m_profileMode == 0) {
        frame->chart->BuildHistogram(kPixelCount, values);
    } else {
        frame->chart->BuildProfile(dlg->m_mirrorMode, kFrameColumns, kFrameRows, values);
    }
    frame->isTemperature = IsTemperatureMode(letter);
    frame->isVoltage = IsVoltageMode(letter);
    std::memcpy(frame->readout.values.data(), values, sizeof(uint16_t) * kPixelCount);
    frame->readout.scale = ReadoutScale::OfModeLetter(letter, dlg->m_pipeline.GetUnit(),
                                                      dlg->m_pipeline.IsElOffsetSubtraction() != 0);
    frame->readout.mirrorMode = dlg->m_pipeline.GetMirrorMode();
    frame->selectedText = dlg->ShowSelectedPixels(text);
    dlg->m_pipeline.GetMinMaxText(frame->minText, frame->maxText);
    frame->vddCode = dlg->m_pipeline.GetVddCode();
    frame->ambientCode = dlg->m_pipeline.GetAmbientCode();
    if (dlg->m_pStats && raw) {
        frame->arrival = dlg->m_pStats->ArrivalOf(raw, kFrameBlockSize);
    }

    if (dlg->m_pendingPresentation.Put(std::move(frame))) {
        dlg->PostToGui([dlg] { dlg->PresentFrame(); });
    } else if (dlg->m_pStats) {
        dlg->m_pStats->PresentationSkipped();
    }
    dlg->RecordProcessedFrame(letter, text, raw);
}

void CmfcVELKDlg::PresentFrame() {
    std::optional<std::unique_ptr<FramePresentation>> pending = m_pendingPresentation.Take();
    if (!pending || m_isClosing) {
        return;
    }
    std::unique_ptr<FramePresentation>& frame = *pending;

    CPolyChart* chart = m_controls.chart;
    if (frame->isTemperature) {
        chart->SetChartUnit(m_tempUnit);
        chart->SetChartTitle(1);
    } else {
        chart->SetChartTitle(2);
    }
    chart->SetChartData(std::move(frame->chart));
    chart->update();
    SetDlgItemText(IDC_MIN_TEXT, QString::fromStdString("Min:" + frame->minText));
    // Voltage frames say V, everything else T.
    SetDlgItemText(IDC_MAX_TEXT, QString::fromStdString("Max:" + frame->maxText +
                                                        (frame->isVoltage ? " [V]" : " [T]")));
    SetDlgItemText(IDC_VDD, QString::asprintf("%i", frame->vddCode));
    SetDlgItemText(IDC_AMBIENT, QString::asprintf("%i", frame->ambientCode));
    m_statusReadouts.ShowFrame(&frame->readout);
    // Painting the image at once also paints the chart and readouts changed above, so they
    // reach the screen in the same pass. The log's text, slow to lay out and paint, comes after
    // the image and is painted in a later pass, so it does not hold the image back.
    m_controls.image->SetImage(kImageWidth, kImageHeight, frame->image.get());
    if (m_pStats && frame->arrival) {
        m_pStats->FramePainted(*frame->arrival);
    }
    m_frameTextPacer.Show(std::move(frame->selectedText));
    UpdateBufferStatus();
}

void CmfcVELKDlg::OnTimer(int id) {
    switch (id) {
        case IDT_HANDSHAKE_TIMEOUT:
            OnHandshakeTimeout();
            break;
        case IDT_AVI_FRAME:
            OnVideoFrameTimer();
            break;
        case IDT_PLAY_BDS:
            OnPlayBinaryTick();
            break;
        case IDT_PLAY_TXT:
            OnPlayTextTick();
            break;
        case IDT_PLAY_BIN:
            OnPlayRawTick();
            break;
        default:
            break;
    }
}

int CmfcVELKDlg::TimerInterval(int id) const {
    const auto it = m_timers.find(id);
    return it == m_timers.end() ? 0 : it->second->interval();
}
