#include "recording/stream_player.h"

#include <unistd.h>

#include "frame/binary_record_reader.h"
#include "recording/playback_rules.h"
#include "recording/read_only_file.h"

CStreamPlayer::~CStreamPlayer() {
    ClosePlay();
}

int CStreamPlayer::OpenForPlay(int type, const std::string& path) {
    ClosePlay();
    if (type != kPlayBinaryStream && type != kPlayTextStream && type != kPlayRawFrames) {
        return 0;
    }
    const int fd = OpenRecordingForReading(path);
    if (fd < 0) {
        return 0;
    }
    m_fd = fd;
    m_isOpen = 1;
    m_type = type;
    if (type == kPlayTextStream) {
        m_textReader.Attach(fd);
    }
    return type == kPlayRawFrames ? 1 : ProbeMode(type);
}

int CStreamPlayer::ProbeMode(int type) {
    if (m_isOpen == 0 || type != m_type) {
        return 0;
    }
    int mode = 0;
    if (type == kPlayBinaryStream) {
        uint8_t header[kBinaryRecordHeaderSize];
        if (::lseek(m_fd, 0, SEEK_SET) == 0 &&
            ReadFully(m_fd, header, sizeof header) == static_cast<ssize_t>(sizeof header)) {
            mode = header[5] == 'T' ? 2 : header[5] == 'V' ? 1 : 0;
        }
        ::lseek(m_fd, 0, SEEK_SET);
    } else if (type == kPlayTextStream) {
        std::string line;
        if (m_textReader.Rewind() != 0 && m_textReader.ReadLine(line) != 0 && line.size() > 5) {
            switch (line[5]) {
                case 'V':
                case 'v':
                    mode = 1;
                    break;
                case 'K':
                case 'k':
                case 'C':
                case 'c':
                case 'F':
                case 'f':
                    mode = 2;
                    break;
                default:
                    break;
            }
        }
        m_textReader.Rewind();
    }
    return mode;
}

int CStreamPlayer::ReadRecord(int byteCount, uint8_t* buffer) {
    if (m_isOpen == 0 || (m_type != kPlayBinaryStream && m_type != kPlayRawFrames) ||
        byteCount < 0 || (buffer == nullptr && byteCount > 0)) {
        return 0;
    }
    return ReadFully(m_fd, buffer, static_cast<std::size_t>(byteCount)) == byteCount ? 1 : 0;
}

int CStreamPlayer::ReadTextFrame(std::string& out) {
    if (m_isOpen == 0 || m_type != kPlayTextStream) {
        return 0;
    }
    for (int line = 0; line < kTextRecordLineCount; ++line) {
        if (m_textReader.ReadLine(out) == 0) {
            return 0;
        }
    }
    return 1;
}

void CStreamPlayer::ClosePlay() {
    if (m_isOpen == 0) {
        return;
    }
    m_textReader.Detach();
    ::close(m_fd);
    m_fd = -1;
    m_isOpen = 0;
}
