#pragma once
// The lines of a live stream to other programs (`thermal stream`), one per frame, written the
// moment the frame is made: a JSON object (newline-delimited JSON) or a CSV line after a header
// line. The values are the processed frame's in its unit, row 1 and column 1 first as the sensor
// sees them, with the digits of the text frame as the CSV output writes them; the numbers never
// depend on the locale. The formats are pure functions; the sink writes them through CLiveOutput,
// so that a reader who stops reading holds the stream back but never a stop.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "outputs/live_output.h"
#include "processing/frame_readout.h"
#include "run/frame_sink.h"

enum class StreamFormat { kNdjson, kCsv };

// "2026-12-08T15:04:05.123+01:00": local time with milliseconds and its offset from UTC.
std::string ArrivalTimeText(std::chrono::system_clock::time_point time);

// The CSV's header line, "frame,time,min,max,mean,[region_min,region_mean,region_max,]r1c1,...,
// r31c32", with its line feed; nothing for newline-delimited JSON.
std::string StreamHeader(StreamFormat format, const std::optional<SensorRegion>& region);

// Appends the line of `frame`, numbered `line` (1 for the first streamed), with its line feed, to
// `out`. With `region`, the region's minimum, mean and maximum are part of it.
void AppendStreamRecord(StreamFormat format, const ProcessedFrame& frame, uint64_t line,
                        const std::optional<SensorRegion>& region, std::string& out);

// The stream's output on descriptor `fd`. A reader that goes away (EPIPE) ends it as a limit
// does, without failure; any other write error fails it. Until `isStopDue` says true the reader
// is waited for as long as it takes; then a line not begun is not waited for, one begun for
// kBegunLineWait at most, and the output ends: a line that did not get out whole is not counted.
class CStreamLinesSink final : public IFrameSink {
  public:
    // Once a stop is due, how long a line already begun may take to get out whole to a reader
    // that is slow.
    static constexpr std::chrono::milliseconds kBegunLineWait{200};

    CStreamLinesSink(int fd, StreamFormat format, std::optional<SensorRegion> region,
                     std::function<bool()> isStopDue);

    std::string Name() const override { return "standard output"; }
    unsigned Needs() const override { return kNeedsValues; }
    Status Write(const ProcessedFrame& frame) override;
    bool IsTaking() const override { return !m_hasEnded; }
    Status Finish() override { return {}; }

    // The reader was not reading when the stream stopped, and whether a line had begun then.
    bool HasStalled() const { return m_hasStalled; }
    bool IsLineCut() const { return m_isLineCut; }

  private:
    bool MayWaitForReader(std::size_t written);

    CLiveOutput m_output;
    const StreamFormat m_format;
    const std::optional<SensorRegion> m_region;
    const std::function<bool()> m_isStopDue;
    std::string m_out;  // the lines not yet written, reused
    uint64_t m_lines = 0;
    bool m_hasEnded = false;
    bool m_hasStalled = false;
    bool m_isLineCut = false;
    std::optional<std::chrono::steady_clock::time_point> m_begunLineDeadline;
};
