#include "recording/lib_xvid_encoder.h"

#include <xvid.h>

#include "recording/xvid_library.h"

namespace {

constexpr int kMaxKeyFrameInterval = 150;

}  // namespace

CLib_XvidEncoder::~CLib_XvidEncoder() {
    DestroyEncoder();
}

int CLib_XvidEncoder::InitLibrary() {
    if (m_isLibraryReady) {
        return 1;
    }
    if (InitXvidLibrary() != 0) {
        return -1;
    }
    m_isLibraryReady = 1;
    return 1;
}

int CLib_XvidEncoder::CreateEncoder(int width, int height, int colourSpaceSelector) {
    if (!m_isLibraryReady) {
        return -1;
    }
    DestroyEncoder();
    if (colourSpaceSelector < kXvidColourSpaceBgr || colourSpaceSelector > kXvidColourSpaceYuy2) {
        return -1;
    }
    m_width = width;
    m_height = height;
    m_frameBytes = width * height * 3;
    m_colourSpaceSelector = colourSpaceSelector;

    // Everything not set stays 0: no zones, no plug-ins (so no rate control), no threads, no
    // B-frames, no global flags, the library's default time base and quantiser limits.
    xvid_enc_create_t create{};
    create.version = kXvidInterfaceVersion;
    create.profile = XVID_PROFILE_S_L0;
    create.width = width;
    create.height = height;
    create.max_key_interval = kMaxKeyFrameInterval;
    if (xvid_encore(nullptr, XVID_ENC_CREATE, &create, nullptr) != 0) {
        return -1;
    }
    m_hEncoder = create.handle;
    m_isEncoderReady = 1;
    return 1;
}

int CLib_XvidEncoder::EncodeFrame(const uint8_t* image, uint8_t* out, int* outLength,
                                  int* isKeyFrame) {
    *outLength = 0;
    *isKeyFrame = 0;
    if (!m_isEncoderReady || m_hEncoder == nullptr || image == nullptr || out == nullptr) {
        return -1;
    }

    xvid_enc_frame_t frame{};
    frame.version = kXvidInterfaceVersion;
    xvid_enc_stats_t stats{};
    stats.version = kXvidInterfaceVersion;

    // The library reads the image without changing it; its record has no const plane.
    frame.input.plane[0] = const_cast<uint8_t*>(image);
    switch (m_colourSpaceSelector) {
        case kXvidColourSpaceBgr:
            frame.input.csp = XVID_CSP_BGR;
            frame.input.stride[0] = m_width * 3;
            break;
        case kXvidColourSpaceUyvy:
            frame.input.csp = XVID_CSP_UYVY;
            frame.input.stride[0] = m_width * 2;
            break;
        default:
            frame.input.csp = XVID_CSP_YUY2;
            frame.input.stride[0] = m_width * 2;
            break;
    }
    frame.bitstream = out;
    frame.length = -1;
    frame.type = XVID_TYPE_AUTO;
    frame.quant = 0;

    const int written = xvid_encore(m_hEncoder, XVID_ENC_ENCODE, &frame, &stats);
    if (written <= 0) {
        return -1;
    }
    *outLength = written;
    *isKeyFrame = (frame.out_flags & XVID_KEYFRAME) ? 1 : 0;
    return 1;
}

void CLib_XvidEncoder::DestroyEncoder() {
    if (!m_isEncoderReady) {
        return;
    }
    if (m_hEncoder != nullptr) {
        xvid_encore(m_hEncoder, XVID_ENC_DESTROY, nullptr, nullptr);
    }
    m_hEncoder = nullptr;
    m_isEncoderReady = 0;
}
