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
    if (m_reader.Width() > kMaxPictureSide || m_reader.Height() > kMaxPictureSide) {
        const std::string text =
            "cannot play '" + path + "': " + TooLargeText(m_reader.Width(), m_reader.Height());
        m_reader.Close();
        return Fail(text);
    }
    if (m_decoder.InitLibrary() != 1 ||
        m_decoder.CreateDecoder(m_reader.Width(), m_reader.Height(), m_layout) != 1) {
        m_reader.Close();
        return Fail("cannot decode '" + path + "': " + m_decoder.ErrorText());
    }
    m_picture = {};  // allocated by the decoder once a frame states the picture size
    return true;
}

void CAviVideoStream::Close() {
    m_reader.Close();
    m_decoder.DestroyDecoder();
    m_picture = {};
    m_pictureFrame = -1;
    m_frameGavePicture = false;
    m_framesDecoded = 0;
    m_errorText.clear();
}

bool CAviVideoStream::ShowFrame(int n) {
    if (!IsOpen() || n < 0 || n >= FrameCount()) {
        return Fail("frame " + std::to_string(n) + " is not in the file");
    }
    if (n == m_pictureFrame) {
        return true;
    }
    int from;
    if (m_pictureFrame >= 0 && m_pictureFrame < n) {
        // The frames up to the one shown are decoded already: go on from there unless a key
        // frame lies between. Looking only as far back as the frame shown keeps playing and
        // stepping forward at one frame's work each, however far the last key frame is.
        from = m_pictureFrame + 1;
        for (int k = n; k > m_pictureFrame + 1; --k) {
            if (m_reader.IsKeyFrame(k)) {
                from = k;
                break;
            }
        }
    } else {
        from = m_reader.KeyFrameAtOrBefore(n);
    }
    for (int k = from; k <= n; ++k) {
        if (!m_reader.ReadFrame(k, m_frameBytes)) {
            return Fail(m_reader.ErrorText());
        }
        ++m_framesDecoded;
        if (m_decoder.DecodeFrame(m_frameBytes.data(), static_cast<int>(m_frameBytes.size()),
                                  m_picture) < 0) {
            // What the decoder holds now is unknown: start again from a key frame next time.
            m_pictureFrame = -1;
            m_frameGavePicture = false;
            return Fail("frame " + std::to_string(k) +
                        " cannot be decoded: " + m_decoder.ErrorText());
        }
        m_pictureFrame = k;
        m_frameGavePicture = m_decoder.FrameGavePicture();
    }
    return true;
}
