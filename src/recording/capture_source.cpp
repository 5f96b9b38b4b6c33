#include "recording/capture_source.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "device/command_reply.h"
#include "device/receive_batch.h"
#include "recording/read_only_file.h"

namespace {

constexpr std::size_t kCaptureReadBytes = 64 * 1024;

}  // namespace

CCaptureSource::CCaptureSource(int fd, const struct stat& status, char letter)
    : CRecordingSource(FileKind::kCapture, fd, status),
      m_letter(letter),
      m_collector(std::make_unique<CCommandReply>(std::string(1, letter),
                                                  static_cast<uint8_t>(letter),
                                                  &CCaptureSource::OnCollected, this)),
      m_readBuffer(kCaptureReadBytes) {
    m_dataMode = IsVoltageMode(letter) ? kDataModeVoltage : kDataModeTemperature;
    m_startsWithKnownHeader = true;
}

CCaptureSource::~CCaptureSource() = default;

void CCaptureSource::OnCollected(void* context, CCommandReply*, const std::string&,
                                 const uint8_t* bytes, int count) {
    auto* source = static_cast<CCaptureSource*>(context);
    if (count != kFrameBlockSize) {
        return;
    }
    std::memcpy(source->m_blocks.emplace_back().data(), bytes, kFrameBlockSize);
}

SourceRead CCaptureSource::Next(SourceFrame& frame) {
    while (m_blocks.empty() && !m_isEnded) {
        const ssize_t got = ReadFully(m_fd, m_readBuffer.data(), m_readBuffer.size());
        if (got < 0) {
            m_errorNumber = errno;
            return SourceRead::kError;
        }
        if (got == 0) {
            m_isEnded = true;
            break;
        }
        m_position += static_cast<uint64_t>(got);
        const auto size = static_cast<std::size_t>(got);
        for (std::size_t offset = 0; offset < size; offset += kReceiveChunkBytes) {
            const std::size_t chunk = std::min<std::size_t>(kReceiveChunkBytes, size - offset);
            m_collector->Collect(static_cast<int>(chunk), m_readBuffer.data() + offset);
        }
    }
    if (m_blocks.empty()) {
        return SourceRead::kEnd;
    }
    m_current = m_blocks.front();
    m_blocks.pop_front();
    frame = {};
    frame.kind = SourceFrameKind::kBlock;
    frame.number = ++m_frameCount;
    frame.modeLetter = m_letter;
    frame.block = m_current.data();
    frame.stored =
        std::string_view(reinterpret_cast<const char*>(m_current.data()), m_current.size());
    return SourceRead::kFrame;
}

bool CCaptureSource::Rewind() {
    if (!SeekToStart()) {
        return false;
    }
    m_collector =
        std::make_unique<CCommandReply>(std::string(1, m_letter), static_cast<uint8_t>(m_letter),
                                        &CCaptureSource::OnCollected, this);
    m_blocks.clear();
    return true;
}
