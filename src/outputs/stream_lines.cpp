#include "outputs/stream_lines.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "frame/conversion.h"

namespace {

const SensorRegion kWholeSensor{{1, 1}, {kFrameRows, kFrameColumns}};

// The unit in plain ASCII, for programs that read the stream: "K", "C", "F" or "V".
const char* UnitLetter(const ReadoutScale& scale) {
    if (scale.kind == ReadoutKind::kVoltage) {
        return "V";
    }
    switch (scale.unit) {
        case kUnitKelvin:
            return "K";
        case kUnitCelsius:
            return "C";
        default:
            return "F";
    }
}

void AppendNumber(std::string& out, long long number, int width = 1) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out.append(static_cast<std::size_t>(std::max<long long>(width - (end - digits), 0)), '0');
    out.append(digits, end);
}

void AppendJson(const ProcessedFrame& frame, uint64_t line, std::string_view time,
                const std::optional<SensorRegion>& region, std::string& out) {
    const ReadoutScale& scale = frame.scale;
    const RegionStatsText whole = RegionStatsTextOf(frame.values, kWholeSensor, scale);
    out += "{\"frame\":";
    AppendNumber(out, static_cast<long long>(line));
    out += ",\"time\":\"";
    out += time;
    out += "\",\"mode\":\"";
    out += frame.modeLetter;
    out += "\",\"unit\":\"";
    out += UnitLetter(scale);
    out += "\",\"min\":";
    out += whole.min;
    out += ",\"max\":";
    out += whole.max;
    out += ",\"mean\":";
    out += whole.mean;
    out += ",\"values\":[";
    for (int row = 0; row < kFrameRows; ++row) {
        out += row > 0 ? ",[" : "[";
        for (int column = 0; column < kFrameColumns; ++column) {
            if (column > 0) {
                out += ',';
            }
            out += ReadoutValueText(frame.values[row * kFrameColumns + column], scale);
        }
        out += ']';
    }
    out += ']';
    if (region) {
        const RegionStatsText stats = RegionStatsTextOf(frame.values, *region, scale);
        out += ",\"region\":{\"min\":";
        out += stats.min;
        out += ",\"mean\":";
        out += stats.mean;
        out += ",\"max\":";
        out += stats.max;
        out += '}';
    }
    out += "}\n";
}

void AppendCsv(const ProcessedFrame& frame, uint64_t line, std::string_view time,
               const std::optional<SensorRegion>& region, std::string& out) {
    const ReadoutScale& scale = frame.scale;
    const RegionStatsText whole = RegionStatsTextOf(frame.values, kWholeSensor, scale);
    AppendNumber(out, static_cast<long long>(line));
    out += ',';
    out += time;
    out += ',';
    out += whole.min;
    out += ',';
    out += whole.max;
    out += ',';
    out += whole.mean;
    if (region) {
        out += ',';
        out += RegionStatsTextOf(frame.values, *region, scale).Row();
    }
    for (int i = 0; i < kPixelCount; ++i) {
        out += ',';
        out += ReadoutValueText(frame.values[i], scale);
    }
    out += '\n';
}

}  // namespace

std::string ArrivalTimeText(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(time.time_since_epoch());
    // Whole seconds rounded down, so that a time before 1970 keeps its milliseconds positive.
    auto seconds = duration_cast<std::chrono::seconds>(sinceEpoch);
    if (seconds > sinceEpoch) {
        seconds -= std::chrono::seconds(1);
    }
    const long long millis = (sinceEpoch - seconds).count();
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm local{};
    ::localtime_r(&whole, &local);
    std::string text;
    text.reserve(32);
    AppendNumber(text, local.tm_year + 1900LL, 4);
    text += '-';
    AppendNumber(text, local.tm_mon + 1, 2);
    text += '-';
    AppendNumber(text, local.tm_mday, 2);
    text += 'T';
    AppendNumber(text, local.tm_hour, 2);
    text += ':';
    AppendNumber(text, local.tm_min, 2);
    text += ':';
    AppendNumber(text, local.tm_sec, 2);
    text += '.';
    AppendNumber(text, millis, 3);
    const long offsetMinutes = local.tm_gmtoff / 60;
    text += offsetMinutes < 0 ? '-' : '+';
    AppendNumber(text, std::labs(offsetMinutes) / 60, 2);
    text += ':';
    AppendNumber(text, std::labs(offsetMinutes) % 60, 2);
    return text;
}

std::string StreamHeader(StreamFormat format, const std::optional<SensorRegion>& region) {
    if (format != StreamFormat::kCsv) {
        return {};
    }
    std::string header = "frame,time,min,max,mean";
    if (region) {
        header += ",region_min,region_mean,region_max";
    }
    for (int row = 1; row <= kFrameRows; ++row) {
        for (int column = 1; column <= kFrameColumns; ++column) {
            header += ",r";
            AppendNumber(header, row);
            header += 'c';
            AppendNumber(header, column);
        }
    }
    header += '\n';
    return header;
}

void AppendStreamRecord(StreamFormat format, const ProcessedFrame& frame, uint64_t line,
                        const std::optional<SensorRegion>& region, std::string& out) {
    const std::string time = ArrivalTimeText(frame.arrivalWall);
    if (format == StreamFormat::kCsv) {
        AppendCsv(frame, line, time, region, out);
    } else {
        AppendJson(frame, line, time, region, out);
    }
}

CStreamLinesSink::CStreamLinesSink(int fd, StreamFormat format, std::optional<SensorRegion> region,
                                   std::function<bool()> isStopDue)
    : m_output(fd),
      m_format(format),
      m_region(std::move(region)),
      m_isStopDue(std::move(isStopDue)),
      // Written with the first frame, so that a module that never streams leaves no output.
      m_out(StreamHeader(format, m_region)) {}

Status CStreamLinesSink::Write(const ProcessedFrame& frame) {
    if (m_hasEnded) {
        return {};
    }
    AppendStreamRecord(m_format, frame, m_lines + 1, m_region, m_out);
    // In one go, as far as the reader takes it: a reader that reads line by line gets each frame
    // the moment it is made.
    const Result<std::size_t> written =
        m_output.Write(m_out, [this](std::size_t done) { return MayWaitForReader(done); });
    const std::size_t size = m_out.size();
    m_out.clear();
    if (!written) {
        m_hasEnded = true;
        // A reader that went away ends the stream as a limit does; anything else fails it.
        if (written.GetStatus().Code() != EPIPE) {
            return Status::Failure(std::string("cannot write to standard output: ") +
                                       std::strerror(written.GetStatus().Code()),
                                   written.GetStatus().Code());
        }
        return {};
    }
    if (*written < size) {
        // A stop came while the reader was not reading: nothing more is written.
        m_isLineCut = *written > 0;
        m_hasStalled = true;
        m_hasEnded = true;
        return {};
    }
    ++m_lines;
    CountWritten();
    return {};
}

bool CStreamLinesSink::MayWaitForReader(std::size_t written) {
    if (!m_isStopDue()) {
        return true;
    }
    if (written == 0) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!m_begunLineDeadline) {
        m_begunLineDeadline = now + kBegunLineWait;
    }
    return now < *m_begunLineDeadline;
}
