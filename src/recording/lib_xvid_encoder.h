#pragma once
// CLib_XvidEncoder: compresses display images into MPEG-4 simple-profile frames with the Xvid
// codec library, one frame per call, for video recordings. Used by one thread at a time (the
// recorder's); the library's own process-wide set-up is done once, whichever thread comes first.
#include <cstdint>

// Input layouts of EncodeFrame.
inline constexpr int kXvidColourSpaceBgr = 1;   // 3 bytes per pixel: blue, green, red
inline constexpr int kXvidColourSpaceUyvy = 2;  // packed 4:2:2, U Y V Y
inline constexpr int kXvidColourSpaceYuy2 = 3;  // packed 4:2:2, Y U Y V

class CLib_XvidEncoder {
  public:
    CLib_XvidEncoder() = default;
    // Destroys a live encoder instance.
    virtual ~CLib_XvidEncoder();
    CLib_XvidEncoder(const CLib_XvidEncoder&) = delete;
    CLib_XvidEncoder& operator=(const CLib_XvidEncoder&) = delete;

    // Sets the library up for this processor. Returns 1, or -1 when the library refuses.
    int InitLibrary();

    // Creates an encoder instance for frames of width x height pixels in one of the
    // kXvidColourSpace layouts, replacing an existing one: simple profile, a key frame at least
    // every 150 frames, no B-frames, the library's default quantiser. Returns 1, or -1 when the
    // library is not set up, the layout is unknown or the library refuses.
    int CreateEncoder(int width, int height, int colourSpaceSelector);

    // Compresses one image (rows top to bottom, no padding, in the layout given to
    // CreateEncoder) into `out`, which must hold FrameBytes() bytes: the library is not told the
    // buffer's size, and a frame never comes near it. Sets `*outLength` to the bytes written and
    // `*isKeyFrame` to 1 for a frame that decodes on its own, 0 otherwise (both must be given).
    // Returns 1, or -1 with a length of 0 and no key frame when there is no encoder or the
    // library fails.
    int EncodeFrame(const uint8_t* image, uint8_t* out, int* outLength, int* isKeyFrame);

    // Destroys the encoder instance, if any.
    void DestroyEncoder();

    // width x height x 3: the output buffer EncodeFrame needs.
    int FrameBytes() const { return m_frameBytes; }

  private:
    int m_isLibraryReady = 0;
    int m_isEncoderReady = 0;
    int m_width = 0;
    int m_height = 0;
    int m_frameBytes = 0;
    int m_colourSpaceSelector = 0;
    void* m_hEncoder = nullptr;  // the library's encoder instance
};
