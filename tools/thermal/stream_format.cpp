#include "stream_format.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
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

void AppendStats(std::string& out, const RegionStats& stats, const ReadoutScale& scale,
                 const char* separator) {
    out += ReadoutValueText(stats.min, scale);
    out += separator;
    out += ReadoutMeanText(stats.mean, scale);
    out += separator;
    out += ReadoutValueText(stats.max, scale);
}

void AppendJson(const StreamedFrame& frame, const ReadoutScale& scale,
                const std::optional<SensorRegion>& region, std::string& out) {
    const RegionStats whole = ComputeRegionStats(frame.values, kWholeSensor, scale);
    out += "{\"frame\":";
    AppendNumber(out, static_cast<long long>(frame.number));
    out += ",\"time\":\"";
    out += frame.time;
    out += "\",\"mode\":\"";
    out += frame.modeLetter;
    out += "\",\"unit\":\"";
    out += UnitLetter(scale);
    out += "\",\"min\":";
    out += ReadoutValueText(whole.min, scale);
    out += ",\"max\":";
    out += ReadoutValueText(whole.max, scale);
    out += ",\"mean\":";
    out += ReadoutMeanText(whole.mean, scale);
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
        const RegionStats stats = ComputeRegionStats(frame.values, *region, scale);
        out += ",\"region\":{\"min\":";
        out += ReadoutValueText(stats.min, scale);
        out += ",\"mean\":";
        out += ReadoutMeanText(stats.mean, scale);
        out += ",\"max\":";
        out += ReadoutValueText(stats.max, scale);
        out += '}';
    }
    out += "}\n";
}

void AppendCsv(const StreamedFrame& frame, const ReadoutScale& scale,
               const std::optional<SensorRegion>& region, std::string& out) {
    const RegionStats whole = ComputeRegionStats(frame.values, kWholeSensor, scale);
    AppendNumber(out, static_cast<long long>(frame.number));
    out += ',';
    out += frame.time;
    out += ',';
    out += ReadoutValueText(whole.min, scale);
    out += ',';
    out += ReadoutValueText(whole.max, scale);
    out += ',';
    out += ReadoutMeanText(whole.mean, scale);
    if (region) {
        out += ',';
        AppendStats(out, ComputeRegionStats(frame.values, *region, scale), scale, ",");
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

void AppendStreamRecord(StreamFormat format, const StreamedFrame& frame,
                        const std::optional<SensorRegion>& region, std::string& out) {
    const ReadoutScale scale =
        ReadoutScale::OfModeLetter(frame.modeLetter, frame.unit, frame.subtractingOffsets);
    if (format == StreamFormat::kCsv) {
        AppendCsv(frame, scale, region, out);
    } else {
        AppendJson(frame, scale, region, out);
    }
}
