#pragma once
// CAviWriter: writes compressed video frames into an AVI 1.0 file with one Xvid MPEG-4 stream
// at a fixed frame rate. The file is created by the first frame, each frame is written to disk as
// it comes, and the file is complete (index, frame counts, sizes) once the movie is closed, by
// CloseMovie or by destruction. After any failure the writer closes the file so that it still
// plays the frames written before, keeps a text saying what failed, and refuses every further
// frame. Used by one thread at a time (the recorder's); it holds no lock. File I/O blocks.
//
// A process that wants a file size limit (RLIMIT_FSIZE) reported as a failed write rather than
// being killed must ignore SIGXFSZ; the writer leaves signal handling to the program.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "recording/avi_format.h"
#include "recording/recording_file.h"

// Results of AppendFrame, with the values Windows gives S_OK and E_FAIL so that they mean the
// same to code written against either.
inline constexpr int32_t kAviOk = 0;
inline constexpr int32_t kAviFail = static_cast<int32_t>(0x80004005u);

// m_state
inline constexpr int32_t kAviStateClosed = 0;      // failed or closed: every frame is refused
inline constexpr int32_t kAviStateNotCreated = 1;  // no file yet
inline constexpr int32_t kAviStateWriting = 2;

// Readers of AVI 1.0 files commonly stop at 1 GiB; larger recordings are split long before.
inline constexpr uint64_t kAviMaxFileBytes = uint64_t{1} << 30;

class CAviWriter {
  public:
    // Nothing is created on disk yet. `handlerCode` is accepted for callers that name the codec,
    // but the stream always declares the Xvid handler, because that is what the encoder makes.
    // `maxFileBytes` is the largest file the writer produces (index included); tests lower it.
    // `creation` says what the first frame may find at `path`: by default a regular file is
    // replaced; a FIFO, a device or a directory is refused without waiting on it.
    CAviWriter(std::string path, std::string_view handlerCode, int width, int height,
               uint32_t frameRate, uint64_t maxFileBytes = kAviMaxFileBytes,
               RecordingFileCreation creation = RecordingFileCreation::kReplaceRegularFile);
    // CloseMovie: the file on disk is complete when the destructor returns.
    ~CAviWriter();
    CAviWriter(const CAviWriter&) = delete;
    CAviWriter& operator=(const CAviWriter&) = delete;

    // Writes one compressed frame of `byteCount` bytes (0 is allowed: a frame the encoder could
    // not compress) as the next frame; `isKeyFrame` non-zero marks it as decodable on its own.
    // The first call creates the file. Returns kAviOk, or kAviFail when the frame was not
    // written: the file could not be created ("Unable to Create the Movie File"; "Unable to
    // Create Video Stream in the Movie File" when not even the headers fit, and the file is
    // removed; "Unable to Set Video Stream Format" for a frame size outside 1 to 32767), a write
    // failed or the file lost its name, its directory removed, which is checked every 16 frames
    // ("Unable to Write Video Stream to the output Movie File"), the file would grow past its
    // limit ("Unable to Write Video Stream past the Movie File Size Limit") -- each of these
    // closes the movie and stores the text -- or the movie is closed, or a negative count or
    // missing bytes were given (nothing happens).
    int32_t AppendFrame(int byteCount, int isKeyFrame, const uint8_t* bytes);

    // Completes the file (index, frame counts and sizes in the headers) and closes it; a later
    // frame is refused. A file that could not take its index for lack of space gives up its last
    // frames until the index fits, so that what remains is whole. Idempotent.
    void CloseMovie();

    // kAviStateNotCreated, kAviStateWriting or kAviStateClosed.
    int32_t State() const { return m_state; }
    // "Method Succeeded" until something fails, then the text of the last failure.
    const std::string& ErrorText() const { return m_errorText; }
    // The system call and the path behind the last failure, with the system's reason, for a log
    // line: "open() failed on '/a/b.avi': Permission denied". Empty until something fails.
    const std::string& ErrorDetail() const { return m_errorDetail; }

  private:
    int32_t CreateMovie(int width, int height);
    int32_t WriteFrame(int byteCount, int isKeyFrame, const uint8_t* bytes);
    void Fail(const char* text, const char* call);
    bool WriteIndex();
    void WriteHeaders(bool hasIndex);

    std::string m_path;
    int m_width;
    int m_height;
    uint32_t m_frameRate;
    uint64_t m_maxFileBytes;
    RecordingFileCreation m_creation;

    int m_fd = -1;  // the movie file while writing
    int32_t m_state = kAviStateNotCreated;
    std::string m_errorText = "Method Succeeded";
    std::string m_errorDetail;

    AviMainHeader m_mainHeader;
    AviStreamHeader m_streamHeader;
    BitmapInfoHeader m_format;
    uint64_t m_movieListAt = 0;  // file offset of the 'LIST' header of the movie list
    uint64_t m_movieEnd = 0;     // end of the last whole frame chunk: where the index goes
    uint32_t m_largestFrame = 0;
    std::vector<AviIndexEntry> m_index;  // one entry per frame written, 16 bytes each
};
