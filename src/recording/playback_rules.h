#pragma once
// The rules of play-back that need no window: the timer period for the speed typed in the play
// dialog, which kind of file a path names, what a text recording's header line switches, and
// the byte order of raw frame files. The mode letter a binary stream record is played with is
// ModeLetterOfRecord in frame/binary_record_reader.h. Pure functions, any thread.
#include <cstdint>
#include <string_view>

#include "frame/frame_block.h"
#include "frame/record_header.h"
#include "frame/text_frame.h"

// The kinds of file play-back knows by the last three characters of their path. The first
// three are the types CStreamPlayer::OpenForPlay takes.
inline constexpr int kPlayUnknownFile = 0;
inline constexpr int kPlayBinaryStream = 1;  // .bds
inline constexpr int kPlayTextStream = 2;    // .txt
inline constexpr int kPlayRawFrames = 3;     // .bin
inline constexpr int kPlayVideo = 4;         // .avi, handed to the video player

// Which of the above `path` names: its last three characters compared with BDS, TXT, BIN and
// AVI without regard to case.
int PlayFileKindOf(std::string_view path);

// The play dialog's speed is frames per second times ten; below 1 it means 186 (18.6 fps).
inline constexpr int kDefaultPlaySpeed = 186;
inline constexpr int kMinPlayPeriodMs = 30;
inline constexpr int kMaxPlayPeriodMs = 1000;

// Timer period in milliseconds for a speed value: 1000 / (speed / 10) with the frame rate held
// as a float, truncated, then kept between 30 and 1000 ms. 186 gives 53 ms.
int PlayPeriodMs(int speedValue);

// A text stream record is its header line and the 33 lines of the frame.
inline constexpr int kTextRecordLineCount = kTextLineCount + 1;  // 34

// Raw frame files (.bin): 992 values of 16 bits, high byte first, no header.
inline constexpr int kRawFrameSize = kPixelCount * 2;  // 1984

// The values of one raw frame in host order.
void RawFrameToHost(const uint8_t bytes[kRawFrameSize], uint16_t values[kPixelCount]);
