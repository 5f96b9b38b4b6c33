#include "recording/lib_xvid_decoder.h"

#include <xvid.h>

#include <cstring>

#include "recording/mpeg4_video.h"
#include "recording/xvid_library.h"

namespace {

// Zeros kept after a frame's bytes for the library's word-sized reads.
constexpr std::size_t kTailBytes = 64;

}  // namespace

std::string TooLargeText(int width, int height) {
    return "its pictures of " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels are larger than " + std::to_string(kMaxPictureSide) + " x " +
           std::to_string(kMaxPictureSide) + ", the largest this program decodes";
}

CLib_XvidDecoder::~CLib_XvidDecoder() {
    DestroyDecoder();
}

std::string CLib_XvidDecoder::SizeMismatchText(int width, int height) const {
    return "the video's pictures are " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, the file states " + std::to_string(m_width) + " x " + std::to_string(m_height);
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
    if (width <= 0 || height <= 0) {
        return Fail("cannot decode pictures of " + std::to_string(width) + " x " +
                    std::to_string(height) + " pixels");
    }
    if (width > kMaxPictureSide || height > kMaxPictureSide) {
        return Fail(TooLargeText(width, height));
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
    // At most 4096 x 4096 x 3: well inside int.
    m_frameBytes = static_cast<int>(int64_t{width} * height * 3);
    m_layout = layout;
    m_hasPicture = false;
    m_isDecoderReady = 1;
    m_bitstream.assign(kTailBytes, 0);
    return 1;
}

int CLib_XvidDecoder::DecodeFrame(const uint8_t* bytes, int length, uint8_t* image) {
    if (image == nullptr) {
        m_frameGavePicture = false;
        if (!m_isDecoderReady || m_hDecoder == nullptr) {
            return Fail(m_errorText.empty() ? "no decoder" : m_errorText);
        }
        return Fail("no frame or no image given");
    }
    return Decode(bytes, length, image, nullptr);
}

int CLib_XvidDecoder::DecodeFrame(const uint8_t* bytes, int length, std::vector<uint8_t>& image) {
    if (!image.empty() && image.size() != static_cast<std::size_t>(m_frameBytes)) {
        image.clear();  // made for another decoder
    }
    return Decode(bytes, length, image.empty() ? nullptr : image.data(), &image);
}

int CLib_XvidDecoder::Decode(const uint8_t* bytes, int length, uint8_t* image,
                             std::vector<uint8_t>* lazy) {
    m_frameGavePicture = false;
    if (!m_isDecoderReady || m_hDecoder == nullptr) {
        return Fail(m_errorText.empty() ? "no decoder" : m_errorText);
    }
    if (length < 0 || (length > 0 && bytes == nullptr)) {
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

    // A stream header stating another size than the file's is refused before the library sees
    // it: the library would allocate its pictures at that size (up to 8191 x 8191) first.
    if (const std::optional<Mpeg4LayerSize> other =
            FirstOtherLayerSize(m_bitstream.data(), count, m_width, m_height)) {
        const std::string text = SizeMismatchText(other->width, other->height);
        DestroyDecoder();
        return Fail(text);
    }

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
        if (image != nullptr) {
            frame.output.csp = m_layout == XvidPictureLayout::kBgr ? XVID_CSP_BGR : XVID_CSP_RGB;
            frame.output.plane[0] = image;
            frame.output.stride[0] = m_width * 3;
        } else {
            frame.output.csp = XVID_CSP_NULL;  // no picture memory before the stream's size
        }
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
                    SizeMismatchText(stats.data.vol.width, stats.data.vol.height);
                DestroyDecoder();
                return Fail(text);
            }
            if (image == nullptr && lazy != nullptr) {
                // The stream has the file's size: now the picture is worth its memory.
                lazy->assign(static_cast<std::size_t>(m_frameBytes), 0);
                image = lazy->data();
            }
        } else if (stats.type > 0 && image != nullptr) {
            m_hasPicture = true;
            m_frameGavePicture = true;
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
