#pragma once
// CAviReader: reads the video stream of an AVI 1.0 file -- the counterpart of CAviWriter, for
// video recordings of this program and for other AVI files with a video stream. Open() takes
// the file apart (the RIFF 'AVI ' chunk, the header list with avih and one strl per stream, the
// movie list, the idx1 index) and keeps one 8-byte entry per frame; ReadFrame() then reads a
// frame's compressed bytes. Nothing else of the file is held in memory.
//
// A damaged or cut-off file is read as far as it is whole: the first frame whose chunk runs
// past the end of the file, or whose chunk header is broken, ends the usable frames, and a
// problem of kind kFramesEnd says where. Every disagreement found on the way (index against
// movie list, the headers' frame counts against the frames found, sizes against the file) is
// listed as a problem too, so that a user can be told what is wrong with a file. No size field
// is trusted: every one is checked against the file before anything is read or allocated.
//
// One thread at a time; reading blocks on the file.
#include <cstdint>
#include <string>
#include <vector>

#include "recording/avi_format.h"

enum class AviProblemKind {
    kFramesEnd,   // the usable frames end here: the file is cut off or a chunk is broken
    kIndex,       // the idx1 index is missing, cut short, or disagrees with the movie list
    kFrameCount,  // a header's frame count disagrees with the frames found
    kLayout,      // a size or part of the file that does not add up, and what was done about it
};

struct AviProblem {
    AviProblemKind kind;
    uint64_t byteOffset;  // where in the file it was found
    int64_t frame;        // the frame concerned (numbered from 0), or -1 when none is
    std::string text;     // one line for the user, without the file's name
};

// Where one frame's compressed bytes are, as Frame() hands it out.
struct AviFrameEntry {
    uint64_t offset = 0;  // of the payload in the file
    uint32_t size = 0;    // payload bytes
    uint32_t flags = 0;   // kAviifKeyFrame for a frame that decodes on its own
};

// The frames of a file as the reader keeps them: 8 bytes a frame (the payload's offset in 36
// bits, its size in 27, the key-frame flag in 1), in blocks of 65536 frames, so that the table
// never costs more than one byte per byte of file (a frame's chunk has at least 8 bytes) and
// growing it never copies it: an hour at 20 frames per second takes 1 MiB, a file of 8
// million empty chunks (64 MiB) 64 MiB.
class AviFrameTable {
  public:
    // Frames must lie below this offset (64 GiB) and be at most kMaxSize bytes.
    static constexpr uint64_t kMaxOffset = uint64_t{1} << 36;
    static constexpr uint32_t kMaxSize = (uint32_t{1} << 27) - 1;

    void Clear() {
        m_blocks = {};
        m_count = 0;
    }
    std::size_t Size() const { return m_count; }
    void Append(uint64_t offset, uint32_t size);
    AviFrameEntry Get(std::size_t n) const;
    bool IsKey(std::size_t n) const { return (Word(n) & 1) != 0; }
    void SetKey(std::size_t n, bool isKey);
    // Bytes held for the entries.
    std::size_t CapacityBytes() const;

  private:
    static constexpr std::size_t kBlockShift = 16;
    static constexpr std::size_t kBlockFrames = std::size_t{1} << kBlockShift;
    uint64_t Word(std::size_t n) const {
        return m_blocks[n >> kBlockShift][n & (kBlockFrames - 1)];
    }
    std::vector<std::vector<uint64_t>> m_blocks;
    std::size_t m_count = 0;
};

// A four-character code as text for messages ("XVID"), with '?' for bytes that are not
// printable.
std::string FourCcText(uint32_t fourCc);

class CAviReader {
  public:
    CAviReader() = default;
    ~CAviReader();
    CAviReader(const CAviReader&) = delete;
    CAviReader& operator=(const CAviReader&) = delete;

    // Opens the file and reads its structure, closing a file opened before. False when the
    // file cannot be used at all; ErrorText() then says why in one line naming the file ("cannot
    // open '/a/b.avi': No such file or directory", "'/a/b.avi' is empty", "'/a/b.avi' is not an
    // AVI file (no RIFF 'AVI ' header)", "'/a/b.avi' has no video stream"). A file that opens
    // may still hold no frames; Problems() then says why.
    bool Open(const std::string& path);
    // Closes the file and forgets its frames and problems.
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }
    const std::string& ErrorText() const { return m_errorText; }

    // The video stream: the first stream of type 'vids'; its number names its chunks ('00dc').
    int StreamNumber() const { return m_streamNumber; }
    uint32_t Handler() const { return m_streamHeader.handler; }    // strh, e.g. 'xvid'
    uint32_t Compression() const { return m_format.compression; }  // strf, e.g. 'XVID'
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // rate / scale of the stream header; when those are unusable, from the main header's
    // microseconds per frame (and a problem says so); 0 when neither gives a rate.
    double FramesPerSecond() const { return m_framesPerSecond; }
    uint32_t Rate() const { return m_streamHeader.rate; }
    uint32_t Scale() const { return m_streamHeader.scale; }
    uint64_t FileBytes() const { return m_fileBytes; }

    // The frame counts as the file states them and as found.
    uint32_t MainHeaderFrames() const { return m_mainHeader.totalFrames; }
    uint32_t StreamHeaderFrames() const { return m_streamHeader.length; }
    bool HasIndex() const { return m_hasIndex; }
    // Entries of the video stream in idx1 (those present in the file); 0 without an index.
    uint64_t IndexFrames() const { return m_indexFrames; }

    // The usable frames: whole, in order, from 0 to FrameCount() - 1.
    int FrameCount() const { return static_cast<int>(m_frames.Size()); }
    // Frame n's entry; n must be below FrameCount().
    AviFrameEntry Frame(int n) const { return m_frames.Get(static_cast<std::size_t>(n)); }
    bool IsKeyFrame(int n) const { return m_frames.IsKey(static_cast<std::size_t>(n)); }
    // Bytes the frame table takes (for the memory tests).
    std::size_t FrameTableBytes() const { return m_frames.CapacityBytes(); }
    // The nearest key frame at or before n (n itself when it is one); 0 when there is none
    // before, since a decoder has nothing better to start from.
    int KeyFrameAtOrBefore(int n) const;

    // Reads frame n's compressed bytes into `out` (resized to fit; its capacity is reused).
    // False, with ErrorText() saying why, for a frame number out of range or a failed read (the
    // file shrank or the disk failed since Open). Blocks on the file.
    bool ReadFrame(int n, std::vector<uint8_t>& out);

    // Everything found wrong, in the order found; empty for a clean file.
    const std::vector<AviProblem>& Problems() const { return m_problems; }
    // The problem that ended the usable frames, or nullptr when the file is whole.
    const AviProblem* FramesEnd() const;

  private:
    struct ChunkHeader {
        uint32_t id = 0;
        uint32_t size = 0;
    };

    bool Fail(std::string text);
    void Problem(AviProblemKind kind, uint64_t at, int64_t frame, std::string text);
    bool ReadAt(uint64_t at, void* buffer, std::size_t bytes) const;
    bool ReadChunkHeader(uint64_t at, ChunkHeader& header) const;
    void ReadHeaderList(uint64_t begin, uint64_t end);
    void ReadStreamList(uint64_t begin, uint64_t end, int streamNumber);
    uint64_t WalkMovieList(uint64_t begin, uint64_t declaredEnd);
    void ReadIndex();
    void FlagKeyFramesFromPictures(std::size_t from);
    void CheckFrameCounts();
    bool IsOwnFrameChunk(uint32_t id) const;

    std::string m_path;
    std::string m_errorText;
    int m_fd = -1;
    uint64_t m_fileBytes = 0;

    AviMainHeader m_mainHeader;
    AviStreamHeader m_streamHeader;
    BitmapInfoHeader m_format;
    bool m_hasMainHeader = false;
    uint64_t m_mainHeaderAt = 0;    // file offset of the avih payload, for problems found in it
    uint64_t m_streamHeaderAt = 0;  // file offset of the video stream's strh payload
    uint64_t m_formatAt = 0;        // file offset of the video stream's strf payload
    int m_streamNumber = -1;
    int m_width = 0;
    int m_height = 0;
    double m_framesPerSecond = 0;

    uint64_t m_movieCodeAt = 0;  // file offset of the code 'movi', which idx1 offsets count from
    bool m_hasMovieList = false;
    uint64_t m_indexAt = 0;     // file offset of the idx1 entries
    uint64_t m_indexBytes = 0;  // bytes of entries present in the file
    bool m_hasIndex = false;
    uint64_t m_indexFrames = 0;

    AviFrameTable m_frames;
    std::vector<AviProblem> m_problems;
};
