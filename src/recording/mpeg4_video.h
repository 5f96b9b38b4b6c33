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

// The largest picture side this program decodes (its own recordings are 320 x 310): a file
// stating a larger frame is refused before anything of its size is allocated.
constexpr int kMaxPictureSide = 4096;

// The picture size a video object layer header (start code 00 00 01 20 to 2F) states.
struct Mpeg4LayerSize {
    int width = 0;
    int height = 0;
};

// The first video object layer header in `bytes` that states a rectangular picture of another
// size than width x height, read as the Xvid library reads it (bytes past the end read as
// zeros), or nullopt when there is none. A decoder that takes its size from the stream
// allocates its pictures at that size on reading such a header.
std::optional<Mpeg4LayerSize> FirstOtherLayerSize(const uint8_t* bytes, std::size_t count,
                                                  int width, int height);

// The coding type of the first picture header (start code 00 00 01 B6) in `bytes`, or nullopt
// when there is none: an empty frame, or headers only.
std::optional<Mpeg4PictureType> FirstPictureType(const uint8_t* bytes, std::size_t count);
