#include "recording/avi_video_stream.h"

#include "recording/mpeg4_video.h"

bool CAviVideoStream::Fail(std::string text) {
    m_errorText = std::move(text);
    return false;
}

bool CAviVideoStream::Open(const std::string& path) {
    Close();
    if (!m_reader.Open(path)) {
        return Fail(m_reader.ErrorText());
    }
    if (!IsMpeg4Part2FourCc(m_reader.Compression()) && !IsMpeg4Part2FourCc(m_reader.Handler())) {
        const std::string code = FourCcText(m_reader.Compression());
        m_reader.Close();
        return Fail("the video of '" + path + "' is compressed as '" + code +
                    "', not as MPEG-4 part 2 (Xvid, DivX 4 or 5), which is all this program plays");
    }
    if (m_decoder.InitLibrary() != 1 ||
        m_decoder.CreateDecoder(m_reader.Width(), m_reader.Height(), m_layout) != 1) {
        m_reader.Close();
        return Fail("cannot decode '" + path + "': " + m_decoder.ErrorText());
    }
    m_picture.assign(static_cast<std::size_t>(m_decoder.FrameBytes()), 0);
    return true;
}

void CAviVideoStream::Close() {
    m_reader.Close();
    m_decoder.DestroyDecoder();
    m_picture.clear();
    m_pictureFrame = -1;
    m_errorText.clear();
}

bool CAviVideoStream::ShowFrame(int n) {
    if (!IsOpen() || n < 0 || n >= FrameCount()) {
        return Fail("frame " + std::to_string(n) + " is not in the file");
    }
    if (n == m_pictureFrame) {
        return true;
    }
    int from = m_reader.KeyFrameAtOrBefore(n);
    if (m_pictureFrame >= from && m_pictureFrame < n) {
        from = m_pictureFrame + 1;  // the frames before are decoded already
    }
    for (int k = from; k <= n; ++k) {
        if (!m_reader.ReadFrame(k, m_frameBytes)) {
            return Fail(m_reader.ErrorText());
        }
        if (m_decoder.DecodeFrame(m_frameBytes.data(), static_cast<int>(m_frameBytes.size()),
                                  m_picture.data()) < 0) {
            // What the decoder holds now is unknown: start again from a key frame next time.
            m_pictureFrame = -1;
            return Fail("frame " + std::to_string(k) +
                        " cannot be decoded: " + m_decoder.ErrorText());
        }
        m_pictureFrame = k;
    }
    return true;
}
