#include "recording/lib_xvid_decoder.h"

#include <xvid.h>

#include <cstring>

#include "recording/xvid_library.h"

namespace {

// Zeros kept after a frame's bytes for the library's word-sized reads.
constexpr std::size_t kTailBytes = 64;

}  // namespace

CLib_XvidDecoder::~CLib_XvidDecoder() {
    DestroyDecoder();
}

int CLib_XvidDecoder::Fail(std::string text) {
    m_errorText = std::move(text);
    return -1;
}

int CLib_XvidDecoder::InitLibrary() {
    if (m_isLibraryReady) {
        return 1;
    }
    if (InitXvidLibrary() != 0) {
        return Fail("xvid_global() refused to set the codec library up");
    }
    m_isLibraryReady = 1;
    return 1;
}

int CLib_XvidDecoder::CreateDecoder(int width, int height, XvidPictureLayout layout) {
    if (!m_isLibraryReady) {
        return Fail("the codec library is not set up");
    }
    DestroyDecoder();
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767) {
        return Fail("cannot decode pictures of " + std::to_string(width) + " x " +
                    std::to_string(height) + " pixels");
    }
    // The size is left to the stream's own headers: told a size, the library would decode a
    // stream of another size at the told one without a word, into garbage. Left to the
    // stream, it reports the size before the first picture, and DecodeFrame refuses a stream
    // that does not fit the image.
    xvid_dec_create_t create{};
    create.version = kXvidInterfaceVersion;
    const int result = xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr);
    if (result != 0) {
        return Fail("xvid_decore() could not create a decoder (error " + std::to_string(result) +
                    ")");
    }
    m_hDecoder = create.handle;
    m_width = width;
    m_height = height;
    m_frameBytes = width * height * 3;
    m_layout = layout;
    m_hasPicture = false;
    m_isDecoderReady = 1;
    m_bitstream.assign(kTailBytes, 0);
    return 1;
}

int CLib_XvidDecoder::DecodeFrame(const uint8_t* bytes, int length, uint8_t* image) {
    if (!m_isDecoderReady || m_hDecoder == nullptr) {
        return Fail(m_errorText.empty() ? "no decoder" : m_errorText);
    }
    if (image == nullptr || length < 0 || (length > 0 && bytes == nullptr)) {
        return Fail("no frame or no image given");
    }
    if (length == 0) {
        return m_hasPicture ? 1 : 0;
    }

    // Everything after the frame's bytes stays zero, whatever the frame before left there.
    const std::size_t previous = m_bitstream.size() - kTailBytes;
    const auto count = static_cast<std::size_t>(length);
    if (count > previous) {
        m_bitstream.resize(count + kTailBytes, 0);
    } else {
        std::memset(m_bitstream.data() + count, 0, previous - count);
    }
    std::memcpy(m_bitstream.data(), bytes, count);

    uint8_t* at = m_bitstream.data();
    int left = length;
    while (left > 0) {
        xvid_dec_frame_t frame{};
        frame.version = kXvidInterfaceVersion;
        // One picture out for every frame in: what players of AVI files expect, and what lets
        // a frame's picture be shown when its frame is due.
        frame.general = XVID_LOWDELAY;
        frame.bitstream = at;
        frame.length = left;
        frame.output.csp = m_layout == XvidPictureLayout::kBgr ? XVID_CSP_BGR : XVID_CSP_RGB;
        frame.output.plane[0] = image;
        frame.output.stride[0] = m_width * 3;
        xvid_dec_stats_t stats{};
        stats.version = kXvidInterfaceVersion;

        const int used = xvid_decore(m_hDecoder, XVID_DEC_DECODE, &frame, &stats);
        if (used < 0) {
            return Fail("xvid_decore() failed to decode the frame (error " + std::to_string(used) +
                        ")");
        }
        if (stats.type == XVID_TYPE_VOL) {
            // The library has taken the stream's own size, and would write pictures of that size
            // into a buffer made for the file's: refuse this decoder from now on.
            if (stats.data.vol.width != m_width || stats.data.vol.height != m_height) {
                const std::string text =
                    "the video's pictures are " + std::to_string(stats.data.vol.width) + " x " +
                    std::to_string(stats.data.vol.height) + " pixels, the file states " +
                    std::to_string(m_width) + " x " + std::to_string(m_height);
                DestroyDecoder();
                return Fail(text);
            }
        } else if (stats.type > 0) {
            m_hasPicture = true;
            return 1;
        }
        if (used == 0) {
            break;
        }
        at += used;
        left -= used;
    }
    return m_hasPicture ? 1 : 0;
}

void CLib_XvidDecoder::DestroyDecoder() {
    if (!m_isDecoderReady) {
        return;
    }
    if (m_hDecoder != nullptr) {
        xvid_decore(m_hDecoder, XVID_DEC_DESTROY, nullptr, nullptr);
    }
    m_hDecoder = nullptr;
    m_isDecoderReady = 0;
    m_hasPicture = false;
}
