#pragma once
// What an AVI reader and player need to know of MPEG-4 part 2 video (Xvid, DivX 4 and 5): the
// compression codes such streams carry, and the coding type of a compressed picture, read from
// its header, for files whose index does not say which frames are key frames. Pure functions.
#include <cstddef>
#include <cstdint>
#include <optional>

// True for the compression codes (of the stream format) and handler codes (of the stream
// header) under which AVI files carry MPEG-4 part 2 video, in either letter case: XVID, DIVX,
// DX50, FMP4, MP4V, M4S2, MP4S. DivX 3 ("DIV3") is a different, older bitstream and not one of
// them.
bool IsMpeg4Part2FourCc(uint32_t fourCc);

// Coding types of a picture (a video object plane).
enum class Mpeg4PictureType {
    kIntra,          // decodes on its own: a key frame
    kPredicted,      // from the previous picture
    kBidirectional,  // from the pictures before and after it
    kSprite,         // global motion compensated
};

// The coding type of the first picture header (start code 00 00 01 B6) in `bytes`, or nullopt
// when there is none: an empty frame, or headers only.
std::optional<Mpeg4PictureType> FirstPictureType(const uint8_t* bytes, std::size_t count);
