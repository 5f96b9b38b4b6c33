#include "recording/stream_player.h"

#include <cerrno>
#include <cstring>

#include "recording/playback_rules.h"

namespace {

FileKind FileKindOfPlayType(int type) {
    switch (type) {
        case kPlayBinaryStream:
            return FileKind::kBinaryStream;
        case kPlayTextStream:
            return FileKind::kTextStream;
        case kPlayRawFrames:
            return FileKind::kRawFrames;
        default:
            return FileKind::kUnknown;
    }
}

}  // namespace

CStreamPlayer::~CStreamPlayer() {
    ClosePlay();
}

int CStreamPlayer::OpenForPlay(int type, const std::string& path) {
    ClosePlay();
    const FileKind kind = FileKindOfPlayType(type);
    if (kind == FileKind::kUnknown) {
        return 0;
    }
    Result<std::unique_ptr<CRecordingSource>> opening = OpenRecordingSource(path, kind);
    if (!opening) {
        errno = opening.GetStatus().Code();
        return 0;
    }
    m_source = std::move(opening).Value();
    m_isOpen = 1;
    m_type = type;
    return type == kPlayRawFrames ? 1 : ProbeMode(type);
}

int CStreamPlayer::ProbeMode(int type) {
    if (m_isOpen == 0 || type != m_type || type == kPlayRawFrames) {
        return 0;
    }
    return m_source->Rewind() ? m_source->DataMode() : 0;
}

std::string CStreamPlayer::WhyNothingPlays() const {
    if (m_isOpen == 0 || !m_source->FirstLineEndLost()) {
        return {};
    }
    return *m_source->FirstLineEndLost() == TextLineEnd::kCrLf
               ? "its lines end in a single CR LF, not in the CR CR LF a recording's lines end "
                 "in (was it saved again by an editor?), so no frame of it can be read"
               : "its lines end in a line feed without CR, not in the CR CR LF a recording's "
                 "lines end in (was it saved again by an editor?), so no frame of it can be read";
}

SourceRead CStreamPlayer::NextFrame(SourceFrame& frame) {
    return m_isOpen != 0 ? m_source->Next(frame) : SourceRead::kEnd;
}

int CStreamPlayer::ReadRecord(int byteCount, uint8_t* buffer) {
    if (m_isOpen == 0 || (m_type != kPlayBinaryStream && m_type != kPlayRawFrames) ||
        byteCount < 0 || (buffer == nullptr && byteCount > 0)) {
        return 0;
    }
    SourceFrame frame;
    if (m_source->Next(frame) != SourceRead::kFrame ||
        frame.stored.size() != static_cast<std::size_t>(byteCount)) {
        return 0;
    }
    std::memcpy(buffer, frame.stored.data(), frame.stored.size());
    return 1;
}

int CStreamPlayer::ReadTextFrame(std::string& out) {
    if (m_isOpen == 0 || m_type != kPlayTextStream) {
        return 0;
    }
    SourceFrame frame;
    if (m_source->Next(frame) != SourceRead::kFrame) {
        return 0;
    }
    out.append(frame.stored);
    return 1;
}

void CStreamPlayer::ClosePlay() {
    m_source.reset();
    m_isOpen = 0;
}
