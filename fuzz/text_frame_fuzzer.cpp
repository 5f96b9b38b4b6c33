// Text frames, the form text recordings store: ParseTextFrame on any text, and rendering any
// frame. Whatever the parser accepts renders to a text that parses back to the same values, and
// every rendered frame parses back: kelvin exactly; Celsius, Fahrenheit (a tenth of a degree,
// printed from a value half a tenth off the grid) and volts (four decimals of a 1.221 mV count)
// as the value or one below, since reading truncates.
// Input: byte 0 picks the path (text or frame bytes) and the file mode; the rest is the text, or
// the values, offsets and header words of a frame.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "fuzz_support.h"

namespace {

constexpr char kModes[] = {'K', 'C', 'F', 'V', 'k', 'x'};

// Renders `frame` the way a recording in `mode` holds it.
std::string Render(const FrameData& frame, char mode) {
    switch (mode) {
        case 'V':
            return RenderVoltageText(frame).text;
        case 'C':
            return RenderTemperatureText(frame, kUnitCelsius).text;
        case 'F':
            return RenderTemperatureText(frame, kUnitFahrenheit).text;
        default:  // the parser reads every other mode as kelvin
            return RenderTemperatureText(frame, kUnitKelvin).text;
    }
}

// A value written as text reads back as itself or, where the text is rounded, one less.
bool ReadsBackAs(uint16_t written, uint16_t read, bool exact) {
    return read == written || (!exact && read + 1 == written);
}

// Renders `frame` and parses the text back; the pixels, offsets and header words 4 to 11 must
// come back, header words 0 to 3 (not written) as zeros.
void CheckRoundTrip(const FrameData& frame, char mode) {
    const std::string text = Render(frame, mode);
    const std::optional<FrameData> back = ParseTextFrame(text, mode);
    FUZZ_CHECK(back.has_value());
    const bool exact = mode != 'V' && mode != 'C' && mode != 'F';
    for (int i = 0; i < kPixelCount; ++i) {
        FUZZ_CHECK(ReadsBackAs(frame.values[i], back->values[i], exact));
    }
    for (int c = 0; c < kOffsetCount; ++c) {
        FUZZ_CHECK(ReadsBackAs(frame.offsets[c], back->offsets[c], false));
    }
    for (int word = 0; word < 4; ++word) {
        FUZZ_CHECK(back->header[word] == 0);
    }
    for (int word = 4; word < kHeaderWordCount; ++word) {
        FUZZ_CHECK(ReadsBackAs(frame.header[word], back->header[word], false));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool fromBytes = (data[0] & 0x80) != 0;
    const char mode = kModes[(data[0] & 0x7F) % sizeof kModes];
    ++data;
    --size;
    if (fromBytes) {
        FrameData frame{};
        std::memcpy(&frame, data, std::min(size, sizeof frame));
        CheckRoundTrip(frame, mode);
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<FrameData> parsed = ParseTextFrame(text, mode);
    if (parsed) {
        CheckRoundTrip(*parsed, mode);
    }
    return 0;
}
