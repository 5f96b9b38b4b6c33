#pragma once
// CStreamRecorder: the open recording of the viewer (and of `thermal record`), of one of three
// types: 1 a binary stream (.bds: 2128-byte records, the frame blocks as received), 2 a text
// stream (.txt: header line and text frame per frame, stored as a Windows text-mode stream stores
// them), 3 a video (.avi, through an IVideoSink). Every 1024 writes of a type it checks the free
// space of the recording's disk and the size of the file, continues a long recording in a new
// file (rec.bds, rec_001.bds, rec_002.bds, ...) and stops writing when the disk runs low or a
// write fails. A write that fails leaves the file ending in its last whole record or frame. A
// part never takes a name that exists: it takes the next free number and says so in a notice.
//
// Threads: binary and text frames are written on the frame processing thread, or on the writer
// thread of a recording run (recording_run.h); OpenFile, CloseFile and video frames come from the
// GUI thread. One lock keeps them apart; any operation
// may wait for one file operation on the other thread (an open, a write, a close that completes a
// video). RecordFrame never waits while a video is open.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "recording/recording_file.h"
#include "recording/video_sink.h"
#include "recording/write_counters.h"
#include "recording/xvid_avi_sink.h"
#include "run/processed_frame.h"

inline constexpr int kRecordingBinary = 1;
inline constexpr int kRecordingText = 2;
inline constexpr int kRecordingVideo = 3;

// Below this much free space (MiB) on the recording's disk a check stops the recording.
inline constexpr uint64_t kMinFreeSpaceMiB = 256;

// Free space of the file system holding `directory` ("" is the working directory) in MiB,
// counting the blocks kept for the superuser too; nothing when it cannot be asked.
using FreeSpaceQuery = std::function<std::optional<uint64_t>(const std::string& directory)>;
std::optional<uint64_t> QueryFreeSpaceMiB(const std::string& directory);

// What a recorder relies on besides its file; tests replace parts of it.
struct RecorderEnvironment {
    CWriteCounters* pWriteCounters = &CWriteCounters::Process();
    FreeSpaceQuery freeSpaceMiB = QueryFreeSpaceMiB;
    // A file splits when its size in whole MiB is above these: binary and text, and the encoded
    // bytes of a video.
    uint64_t streamSplitMiB = 16;
    uint64_t videoSplitMiB = 48;
    // Makes the encoder and movie of a video recording; without one, video cannot be recorded.
    VideoSinkFactory videoSinkFactory = CreateXvidAviSink;
};

enum class RecordOutcome {
    kNotRecorded,  // no binary or text file open, or a binary recording and no frame block
    kSkipped,      // left out by "Every Frame"
    kWritten,
    kStopped,   // disk low, write failed or no next part: turn the device off, tell the user
    kPrepared,  // PrepareFrame only: the record is made, for WritePrepared
};

// A frame's record as it goes to disk, made on the thread that takes the frame and written on
// another.
struct PreparedRecord {
    int type = 0;       // kRecordingBinary or kRecordingText: the file it was made for
    std::string bytes;  // keeps its capacity from record to record
};

class CStreamRecorder {
  public:
    explicit CStreamRecorder(RecorderEnvironment environment = {});
    // Closes any open file.
    ~CStreamRecorder();
    CStreamRecorder(const CStreamRecorder&) = delete;
    CStreamRecorder& operator=(const CStreamRecorder&) = delete;

    // Closes any open file, then creates `path` for recording of `type`, as `creation` allows
    // (by default a regular file of that name is truncated; anything else is refused without
    // waiting on it); a video also gets its encoder, and its file is created by the first frame.
    // Returns 1, or 0 (recorder closed, GetLastError says why).
    int OpenFile(int type, const std::string& path,
                 RecordingFileCreation creation = RecordingFileCreation::kReplaceRegularFile);
    // Closes the file; a video's file is completed. Nothing happens when none is open.
    void CloseFile();

    // The write operations return 0 when no file of their type is open, when the check due at
    // this write finds the disk low, and when the file cannot be written (also every later
    // write of that file; GetLastError says why). Otherwise 1.
    // `byteCount` bytes as one record of a binary stream.
    int WriteRecord(int byteCount, const uint8_t* bytes);
    // Text (lines ending in CR LF) into a text stream, each line feed stored as CR LF.
    int WriteText(std::string_view text);
    // One 320 x 310 image, 3 bytes per pixel blue, green, red, as the next frame of a video.
    int WriteVideoFrame(int width, int height, const uint8_t* bgrImage);

    // The recording step for a frame the pipeline finished: writes every `everyN`-th frame into
    // an open binary or text stream (its block with its mode letter, or its text frame with the
    // header line its mode, unit and offsets make). Frames of a video come from its timer instead.
    // The count behind "Every Frame" is the recorder's, kept across files and types.
    RecordOutcome RecordFrame(const ProcessedFrame& frame, int everyN);
    // RecordFrame in two halves, for a writer on a thread of its own. PrepareFrame decides as
    // RecordFrame does whether the open file takes `frame` and, if so, makes its record in
    // `record` (kPrepared). It takes no lock, so it never waits for a write; frames come from one
    // thread at a time. WritePrepared writes the record, unless the file it was made for has been
    // closed or replaced by one of another type since (kNotRecorded); `isKept` says, as
    // LastWriteKept does, whether the record is in the file.
    RecordOutcome PrepareFrame(const ProcessedFrame& frame, int everyN, PreparedRecord& record);
    RecordOutcome WritePrepared(const PreparedRecord& record, bool& isKept);

    // 1 when the recording's disk has at least kMinFreeSpaceMiB free, else 0.
    int CheckDiskSpace();
    // 1 when the open file has grown past its limit.
    int NeedsSplit();
    // Closes the file and goes on in the next part: the name OpenFile was given with "_001",
    // "_002", ... added before the extension, the first number whose name is free. Returns what
    // OpenFile returns.
    int ContinueInNewFile();

    int IsFileOpen() const;
    // 1 binary, 2 text, 3 video: the type of the last OpenFile (1 before any).
    int GetType() const;
    // The path of the last OpenFile.
    std::string GetPath() const;
    // Why the last open or write failed or stopped, naming the call and the file.
    std::string GetLastError() const;
    // 1 when the last write operation stored its record or frame, even if the recording stopped
    // right after it (the disk check that followed found the disk low, or no next part could be
    // made): that frame is in the file.
    int LastWriteKept() const;
    // Any thread: what the user should hear of that is no failure (a part that took another
    // number because its name was taken), one line; empty when nothing new. Each notice is
    // handed out once. Cheap when there is none.
    std::string TakeNotice();

  private:
    int OpenFileLocked(int type, const std::string& path, RecordingFileCreation creation);
    // Opens `path` as the next file of the recording; the names of its parts stay.
    int OpenPartLocked(int type, const std::string& path, RecordingFileCreation creation);
    void CloseFileLocked();
    int WriteBytesLocked(int type, const void* bytes, std::size_t size);
    RecordOutcome WritePreparedLocked(const PreparedRecord& record, bool& isKept);
    bool AppendWholeLocked(const void* bytes, std::size_t size);
    // Marks the file failed and cuts it back to its last whole record.
    void FailLocked(std::string message);
    int AfterWriteLocked();
    int CheckDiskSpaceLocked();
    int NeedsSplitLocked() const;
    int ContinueInNewFileLocked();

    const RecorderEnvironment m_env;

    mutable std::mutex m_lock;  // guards every member below; the first three atomics are
                                // written under it and may be read without it
    std::atomic<int> m_type{kRecordingBinary};
    std::atomic<int> m_isOpen{0};
    std::atomic<bool> m_hasNotice{false};
    std::string m_path;
    std::string m_directoryPart;  // with its trailing '/', or empty
    std::string m_namePart;
    std::string m_extensionPart;  // with its dot, or empty
    int m_partCounter = 0;
    int m_fd = -1;                             // binary and text
    uint64_t m_wholeBytes = 0;                 // binary and text: the file's length, whole records
    uint64_t m_writesToFile = 0;               // binary and text
    bool m_hasWriteFailed = false;             // the open file takes no more writes
    std::unique_ptr<IVideoSink> m_pVideoSink;  // video
    std::unique_ptr<uint8_t[]> m_pEncodeBuffer;  // video: one encoded frame
    uint64_t m_encodedByteTotal = 0;             // video
    // "Every Frame": frames seen since the last one written. Counted by PrepareFrame without
    // the lock, by one frame-taking thread at a time.
    std::atomic<int> m_decimationCount{0};
    std::string m_textBuffer;      // WriteText's bytes as they go to disk, reused
    PreparedRecord m_frameRecord;  // RecordFrame's record, reused
    std::string m_lastError;
    std::string m_notice;
    bool m_lastWriteKept = false;
};
