#pragma once
// The records `thermal stream` writes to standard output, one line per frame: a JSON object
// (newline-delimited JSON) or a CSV line after a header line. The values are the processed frame's
// in its unit, row 1 and column 1 first as the sensor sees them, with the digits of the text frame
// as `thermal convert`'s CSV writes them; the numbers never depend on the locale. Pure functions,
// any thread.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "processing/frame_readout.h"

enum class StreamFormat { kNdjson, kCsv };

// One processed frame as it is streamed.
struct StreamedFrame {
    uint64_t number = 0;               // 1 for the first frame streamed
    std::string_view time;             // ArrivalTimeText of its arrival
    char modeLetter = 'K';             // `K`, `k` temperature, `t`, `c` voltage
    int unit = 2;                      // the unit of temperatures (kUnitKelvin, ...)
    const uint16_t* values = nullptr;  // kPixelCount processed values, sensor order
    bool subtractingOffsets = false;   // the pipeline subtracts the offsets from voltage frames
};

// "2026-12-08T15:04:05.123+01:00": local time with milliseconds and its offset from UTC.
std::string ArrivalTimeText(std::chrono::system_clock::time_point time);

// The CSV's header line, "frame,time,min,max,mean,[region_min,region_mean,region_max,]r1c1,...,
// r31c32", with its line feed; nothing for newline-delimited JSON.
std::string StreamHeader(StreamFormat format, const std::optional<SensorRegion>& region);

// Appends the frame's line, with its line feed, to `out`. With `region`, the region's minimum,
// mean and maximum are part of it.
void AppendStreamRecord(StreamFormat format, const StreamedFrame& frame,
                        const std::optional<SensorRegion>& region, std::string& out);
