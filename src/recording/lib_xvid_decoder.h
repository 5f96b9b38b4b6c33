#pragma once
// CLib_XvidDecoder: decodes MPEG-4 part 2 video (video recordings of this program, Xvid and
// DivX 4 and 5 files) frame by frame into 3-byte-per-pixel images with the Xvid codec library,
// the counterpart of CLib_XvidEncoder. Frames must be given in stream order from a key frame on,
// one AVI frame per call, as a player decodes them. Used by one thread at a time.
#include <cstdint>
#include <string>
#include <vector>

// Pixel layouts of the decoded image: 3 bytes per pixel, rows top to bottom, no padding.
enum class XvidPictureLayout {
    kBgr,  // blue, green, red: as display images are given to the encoder
    kRgb,  // red, green, blue: as Qt's QImage::Format_RGB888 holds them
};

// "its pictures of W x H pixels are larger than 4096 x 4096, the largest this program decodes":
// why a file of that frame size is not decoded.
std::string TooLargeText(int width, int height);

class CLib_XvidDecoder {
  public:
    CLib_XvidDecoder() = default;
    // Destroys a live decoder instance.
    ~CLib_XvidDecoder();
    CLib_XvidDecoder(const CLib_XvidDecoder&) = delete;
    CLib_XvidDecoder& operator=(const CLib_XvidDecoder&) = delete;

    // Sets the library up for this processor (once per process, shared with the encoder).
    // Returns 1, or -1 when the library refuses.
    int InitLibrary();

    // Creates a decoder instance for pictures of width x height pixels (the size the file
    // states), replacing an existing one. Allocates nothing of the picture's size: the library
    // does that when the stream's own header (its video object layer) states that size. Returns
    // 1, or -1 when the library is not set up, the size is not positive or larger than
    // kMaxPictureSide (4096) either way, or the library refuses.
    int CreateDecoder(int width, int height, XvidPictureLayout layout);

    // Decodes one frame's compressed bytes into `image`, which holds FrameBytes() bytes: pass the
    // same buffer for every frame, since a frame that carries no new picture (an empty frame, a
    // frame the encoder dropped) leaves the previous picture in place. Returns
    //   1 when `image` holds the frame's picture,
    //   0 when there is no picture yet (no key frame has been decoded; `image` may have been
    //     cleared to black),
    //  -1 when the frame cannot be decoded: no decoder, a stream whose pictures have another size
    //     than the file states, or an error of the library; ErrorText() says which.
    // FrameGavePicture() then says whether this frame's own bytes gave the picture.
    int DecodeFrame(const uint8_t* bytes, int length, uint8_t* image);
    // The same into `image`, which is empty until the stream has stated the file's picture size
    // and is then made FrameBytes() bytes (black) before the first picture is written into it:
    // a file whose frames hold no usable stream header costs no picture memory.
    int DecodeFrame(const uint8_t* bytes, int length, std::vector<uint8_t>& image);

    // True when the last DecodeFrame call decoded a picture from the frame's own bytes; false
    // for an empty frame, a frame before the first key frame, and one whose bytes hold no
    // picture the library can use (the image then keeps the picture before, if any).
    bool FrameGavePicture() const { return m_frameGavePicture; }

    // Destroys the decoder instance, if any.
    void DestroyDecoder();

    // width x height x 3 (at most 4096 x 4096 x 3): the image DecodeFrame fills.
    int FrameBytes() const { return m_frameBytes; }
    const std::string& ErrorText() const { return m_errorText; }

  private:
    int Fail(std::string text);
    std::string SizeMismatchText(int width, int height) const;
    // `image` is the picture to write, or nullptr while `lazy` is still empty.
    int Decode(const uint8_t* bytes, int length, uint8_t* image, std::vector<uint8_t>* lazy);

    int m_isLibraryReady = 0;
    int m_isDecoderReady = 0;
    int m_width = 0;
    int m_height = 0;
    int m_frameBytes = 0;
    XvidPictureLayout m_layout = XvidPictureLayout::kBgr;
    bool m_hasPicture = false;  // a picture has been decoded since CreateDecoder
    bool m_frameGavePicture = false;
    void* m_hDecoder = nullptr;  // the library's decoder instance
    // The frame's bytes with zeros after them: the library reads its input a word at a time
    // and, in a damaged frame, past its end.
    std::vector<uint8_t> m_bitstream;
    std::string m_errorText;
};
