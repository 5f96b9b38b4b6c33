#include "run/frame_entry.h"

#include <chrono>
#include <optional>

#include "frame/conversion.h"
#include "frame/text_frame.h"

CFrameEntry::CFrameEntry(CFramePipeline& pipeline) : m_pipeline(pipeline) {
    m_pipeline.SetCallback(&CFrameEntry::OnFrameReady, this);
}

void CFrameEntry::OnFrameReady(void* owner, const char* modeLetter, const std::string& text,
                               const uint8_t* raw, const uint8_t* image, const uint16_t* values) {
    auto* self = static_cast<CFrameEntry*>(owner);
    ProcessedFrame& frame = self->m_frame;
    frame.modeLetter = *modeLetter;
    frame.text = text;
    if (raw != nullptr) {
        frame.block = raw;
    }
    frame.values = values;
    frame.image = image;
    self->TakeDetails();
    self->m_isMade = true;
}

void CFrameEntry::TakeDetails() {
    const MadeFrameDetails details = m_pipeline.CallerFrameDetails();
    m_frame.unit = details.settings.unit;
    m_frame.subtractingOffsets = details.settings.subtractingOffsets;
    m_frame.mirrorMode = details.settings.mirrorMode;
    m_frame.scale =
        ReadoutScale::OfModeLetter(m_frame.modeLetter, m_frame.unit, m_frame.subtractingOffsets);
    m_frame.minText = details.minText;
    m_frame.maxText = details.maxText;
    m_frame.vddCode = details.vddCode;
    m_frame.ambientCode = details.ambientCode;
}

const ProcessedFrame* CFrameEntry::Make(const SourceFrame& frame, unsigned needs) {
    m_frame = ProcessedFrame{};
    m_frame.kind = frame.kind;
    m_frame.number = frame.number;
    m_frame.arrival = std::chrono::steady_clock::now();
    m_frame.arrivalWall = std::chrono::system_clock::now();
    m_frame.stored = frame.stored;
    m_isMade = false;
    if ((needs & kNeedsImage) != 0) {
        needs |= kNeedsValues;
    }
    switch (frame.kind) {
        case SourceFrameKind::kBlock:
            return MakeBlock(frame, needs);
        case SourceFrameKind::kText:
            return MakeText(frame, needs);
        case SourceFrameKind::kRawValues:
            return MakeRaw(frame, needs);
    }
    return nullptr;
}

const ProcessedFrame* CFrameEntry::MakeBlock(const SourceFrame& frame, unsigned needs) {
    m_frame.block = frame.block;
    if ((needs & kNeedsValues) == 0) {
        // Handed on as received (a binary recording, a broker): the settings are the pipeline's
        // as they stand.
        m_frame.modeLetter = frame.modeLetter;
        m_frame.unit = m_pipeline.GetUnit();
        m_frame.subtractingOffsets = m_pipeline.IsElOffsetSubtraction() != 0;
        m_frame.mirrorMode = m_pipeline.GetMirrorMode();
        m_frame.scale = ReadoutScale::OfModeLetter(m_frame.modeLetter, m_frame.unit,
                                                   m_frame.subtractingOffsets);
        return frame.block != nullptr ? &m_frame : nullptr;
    }
    const DisplayImage image =
        (needs & kNeedsImage) != 0 ? DisplayImage::kMake : DisplayImage::kSkip;
    m_pipeline.ProcessFrameNow(frame.modeLetter, kFrameBlockSize, frame.block, image);
    return m_isMade ? &m_frame : nullptr;
}

const ProcessedFrame* CFrameEntry::MakeText(const SourceFrame& frame, unsigned needs) {
    const TextPlayMode& mode = frame.textMode;
    if (m_isTextUnitFollowed && mode.unit != 0) {
        m_pipeline.SetUnit(mode.unit);
    }
    if ((needs & kNeedsBlock) != 0 && RebuildBlock(frame) == nullptr) {
        return nullptr;
    }
    if ((needs & kNeedsValues) == 0) {
        // Only whether it parses, and the block when asked.
        if ((needs & kNeedsBlock) == 0 && !ParseTextFrame(frame.frameText, mode.modeChar)) {
            return nullptr;
        }
        m_frame.modeLetter = mode.modeChar == 'V' ? 't' : 'k';
        m_frame.unit = m_pipeline.GetUnit();
        m_frame.subtractingOffsets = m_pipeline.IsElOffsetSubtraction() != 0;
        m_frame.mirrorMode = m_pipeline.GetMirrorMode();
        m_frame.scale = ReadoutScale::OfModeLetter(m_frame.modeLetter, m_frame.unit,
                                                   m_frame.subtractingOffsets);
        return &m_frame;
    }
    const DisplayImage image =
        (needs & kNeedsImage) != 0 ? DisplayImage::kMake : DisplayImage::kSkip;
    m_pipeline.ProcessTextFrame(mode.offsetsSubtracted, mode.modeChar, frame.frameText, image);
    return m_isMade ? &m_frame : nullptr;
}

const uint8_t* CFrameEntry::RebuildBlock(const SourceFrame& frame) {
    const std::optional<FrameData> parsed =
        ParseTextFrame(frame.frameText, frame.textMode.modeChar);
    if (!parsed) {
        return nullptr;
    }
    m_parsed = *parsed;
    if (frame.textMode.offsetsSubtracted != 0) {
        AddElOffsets(m_parsed.values, m_parsed.offsets);
    }
    EncodeFrameBlock(m_parsed, m_block);
    // The marker the module puts on every block, which text streams do not hold.
    PutFrameMarker(m_block);
    m_frame.block = m_block;
    return m_block;
}

const ProcessedFrame* CFrameEntry::MakeRaw(const SourceFrame& frame, unsigned needs) {
    // Raw frames are shown as stored: no offsets, stacks or mirroring.
    m_frame.values = frame.values;
    m_frame.unit = m_pipeline.GetUnit();
    m_frame.scale = ReadoutScale{ReadoutKind::kRaw, m_frame.unit};
    if ((needs & kNeedsImage) != 0) {
        m_rawImage.resize(kImageBytes);
        m_pipeline.MapRawFrame(frame.values, m_smallImage, m_rawImage.data());
        m_frame.image = m_rawImage.data();
    }
    return &m_frame;
}
