#include "device/link_trace.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

constexpr size_t kBytesPerLine = 16;

// "14:03:07.123456": the local time of day, so the trace lines up with the log box and a
// terminal's clock.
std::string TimeStamp() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06ld", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<long>(now.tv_usec));
    return text;
}

}  // namespace

std::unique_ptr<CLinkTrace> CLinkTrace::FromEnvironment() {
    const char* value = std::getenv("THERMAL_TRACE");
    if (value == nullptr || *value == '\0' || std::string_view(value) == "0") {
        return nullptr;
    }
    return std::make_unique<CLinkTrace>();
}

void CLinkTrace::Failed(std::string_view message) {
    std::string line = TimeStamp();
    line.append(" !! ");
    line.append(message);
    line.push_back('\n');
    Emit(line);
}

void CLinkTrace::Bytes(std::string_view direction, const uint8_t* bytes, size_t count) {
    static const char kHexDigits[] = "0123456789abcdef";
    const std::string stamp = TimeStamp();
    std::string lines;
    for (size_t start = 0; start < count; start += kBytesPerLine) {
        const size_t end = std::min(count, start + kBytesPerLine);
        lines.append(stamp);
        lines.push_back(' ');
        lines.append(direction);
        lines.push_back(' ');
        std::string printable;
        for (size_t i = start; i < end; ++i) {
            lines.push_back(kHexDigits[bytes[i] >> 4]);
            lines.push_back(kHexDigits[bytes[i] & 0x0F]);
            lines.push_back(' ');
            const bool isPrintable = bytes[i] >= 0x20 && bytes[i] < 0x7F;
            printable.push_back(isPrintable ? static_cast<char>(bytes[i]) : '.');
        }
        // The printable column starts at the same place on every line.
        lines.append(3 * (start + kBytesPerLine - end) + 1, ' ');
        lines.append(printable);
        lines.push_back('\n');
    }
    Emit(lines);
}

void CLinkTrace::Emit(const std::string& lines) {
    std::lock_guard lock(m_outputLock);
    std::fwrite(lines.data(), 1, lines.size(), stderr);
}
