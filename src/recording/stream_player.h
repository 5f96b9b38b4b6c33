#pragma once
// CStreamPlayer: the recording being played back. It opens a binary stream (.bds), a text
// stream (.txt) or a raw frame file (.bin) as a frame source (recording_source.h), tells which
// data mode its first record names, and hands out one frame per play-back tick. The main dialog
// owns it and calls it from the GUI thread only; reads are buffered (text) or one read() per
// record, and never wait for anything but the disk.
#include <cstdint>
#include <memory>
#include <string>

#include "recording/recording_source.h"

class CStreamPlayer {
  public:
    // The type before any file was opened.
    static constexpr int kNoType = 99;

    CStreamPlayer() = default;
    ~CStreamPlayer();
    CStreamPlayer(const CStreamPlayer&) = delete;
    CStreamPlayer& operator=(const CStreamPlayer&) = delete;

    // Closes any open file, then opens `path` as `type` (kPlayBinaryStream, kPlayTextStream or
    // kPlayRawFrames of playback_rules.h). Returns ProbeMode(type) for binary and text
    // streams, 1 for raw frame files, and 0 when the file cannot be opened (errno says why;
    // directories and other files that are not regular ones are refused). A stream whose first
    // record names no known mode stays open, with the result 0.
    int OpenForPlay(int type, const std::string& path);

    // The data mode the open file's first record names: 1 voltage, 2 temperature, 0 unknown,
    // unreadable, or `type` not the open file's type. Binary streams: byte 5 of the first
    // record header, `V` or `T`. Text streams: character 5 of the first line, V for voltage,
    // K, C or F for temperature, without regard to case. Afterwards the file is read from its
    // start again.
    int ProbeMode(int type);

    // Why a file that opened with a known mode still cannot show a frame, or "": a text stream
    // whose lines lost the CR every recorded line keeps (saved again by an editor).
    std::string WhyNothingPlays() const;

    // The next frame of the open file, in the source's terms (frame_source.h): a block with its
    // mode letter, a text record with what its header asks, or a raw frame's values.
    SourceRead NextFrame(SourceFrame& frame);

    // Reads the next record of a binary stream or raw frame file into `buffer`; `byteCount`
    // must be the size of a record of the open type. Returns 1 only if the file is open and
    // exactly that many bytes arrived; a short last record gives 0 (its bytes are consumed).
    int ReadRecord(int byteCount, uint8_t* buffer);

    // Reads the next 34 lines of a text stream (the header line and the 33 lines of a frame)
    // and appends each, without its line feed, to `out`: lines as recorded keep their CR.
    // Returns 0 if the file ended before all 34 lines (the frame was cut short), else 1.
    int ReadTextFrame(std::string& out);

    // Closes the open file, if any. The type stays.
    void ClosePlay();

    int IsOpen() const { return m_isOpen; }
    int GetType() const { return m_type; }

  private:
    int m_type = kNoType;
    int m_isOpen = 0;
    // The open file of whichever type; null when closed.
    std::unique_ptr<CRecordingSource> m_source;
};
