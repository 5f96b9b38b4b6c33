#pragma once
// CAviVideoStream: the pictures of an AVI file's MPEG-4 video by frame number, for a player or
// a converter. Reads frames with CAviReader and decodes them with CLib_XvidDecoder; the next
// frame after the one shown is decoded on its own, a frame asked for out of order is reached by
// decoding forward from the key frame at or before it, as the frames between depend on each
// other, so that frames asked for in order are each decoded once. One picture buffer, reused,
// allocated when the first frame states the picture size. One thread at a time;
// decoding blocks on the file and takes about a millisecond per frame of 320 x 310.
#include <string>
#include <vector>

#include "recording/avi_reader.h"
#include "recording/lib_xvid_decoder.h"

class CAviVideoStream {
  public:
    explicit CAviVideoStream(XvidPictureLayout layout) : m_layout(layout) {}

    // Opens the file and sets a decoder up for its video. False when the file cannot be read
    // (see CAviReader::Open), its video is not MPEG-4 part 2, or the codec library refuses;
    // ErrorText() says why in one line. A file that opens may still be damaged: Reader()
    // lists its problems, and only its whole frames are shown.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_reader.IsOpen(); }

    const CAviReader& Reader() const { return m_reader; }
    int FrameCount() const { return m_reader.FrameCount(); }

    // Makes Picture() show frame n. True when it does (a frame before the first key frame
    // shows black). False, with ErrorText() saying which frame failed and why, when a frame
    // on the way cannot be read or decoded; PictureFrame() then tells what Picture() shows
    // (-1: nothing usable; the next call starts again from a key frame).
    bool ShowFrame(int n);

    // Width() x Height() x 3 bytes in the layout given at construction, rows top to bottom, or
    // empty (black) while no frame has stated the file's picture size: the buffer is allocated
    // only then, so that a file whose frames hold no picture costs no picture memory. Once
    // allocated it stays in place until the next Open or Close.
    const std::vector<uint8_t>& Picture() const { return m_picture; }
    // True when frame PictureFrame() gave its picture from its own bytes; false when it gave
    // none (an empty frame, a frame before the first key frame, bytes holding no picture) and
    // Picture() shows the picture before it, or black.
    bool FrameGavePicture() const { return m_frameGavePicture; }
    // The frame Picture() shows, or -1 before the first.
    int PictureFrame() const { return m_pictureFrame; }
    const std::string& ErrorText() const { return m_errorText; }
    // Frames handed to the decoder since Open: one per frame when frames are shown in order.
    int64_t FramesDecoded() const { return m_framesDecoded; }

  private:
    bool Fail(std::string text);

    XvidPictureLayout m_layout;
    CAviReader m_reader;
    CLib_XvidDecoder m_decoder;
    std::vector<uint8_t> m_frameBytes;  // the compressed frame being decoded
    std::vector<uint8_t> m_picture;
    int m_pictureFrame = -1;
    bool m_frameGavePicture = false;
    int64_t m_framesDecoded = 0;
    std::string m_errorText;
};
