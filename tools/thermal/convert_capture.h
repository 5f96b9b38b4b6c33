#pragma once
// The capture form of `thermal convert`: the bytes of a raw capture of the serial line
// (`cat /dev/ttyUSB0 > capture.raw`) cut into frame blocks exactly as the viewer cuts the live
// stream, for a binary stream recording.
#include <cstdint>
#include <functional>

#include "convert_source.h"

// Reads `source` (opened as a capture) to its end and hands every frame block the collector
// for `letter` completes to `onBlock`; stops early when `onBlock` returns false. The result is
// kEnd, or kError when a read failed.
CConvertSource::Read CutCaptureIntoBlocks(CConvertSource& source, char letter,
                                          const std::function<bool(const uint8_t*)>& onBlock);
