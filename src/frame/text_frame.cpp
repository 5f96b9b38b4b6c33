#include "frame/text_frame.h"

#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "frame/conversion.h"

namespace {

// A rendered field: the number and its TAB, padded to 16 bytes so a frame is assembled with
// fixed-size copies.
struct Field {
    char text[15];
    uint8_t length;  // including the TAB
};

using FieldTable = std::array<Field, 65536>;

// Formats like printf's "%+.Nf". std::to_chars is exact and, unlike printf, ignores the locale
// that a GUI may have switched to.
Field MakeField(double number, int decimals) {
    Field field{};
    char* begin = field.text;
    char* end = field.text + sizeof field.text - 1;
    if (!std::signbit(number)) {
        *begin++ = '+';
    }
    const std::to_chars_result result =
        std::to_chars(begin, end, number, std::chars_format::fixed, decimals);
    *result.ptr = '\t';
    field.length = static_cast<uint8_t>(result.ptr + 1 - field.text);
    return field;
}

template <typename Convert>
std::unique_ptr<FieldTable> BuildTable(int decimals, Convert convert) {
    auto table = std::make_unique<FieldTable>();
    for (int value = 0; value < 65536; ++value) {
        (*table)[value] = MakeField(convert(static_cast<uint16_t>(value)), decimals);
    }
    return table;
}

const FieldTable& VoltageTable() {
    static const std::unique_ptr<FieldTable> table =
        BuildTable(4, [](uint16_t counts) { return VoltsOf(counts); });
    return *table;
}

const FieldTable& TemperatureTable(int unit) {
    auto make = [](int u) {
        return BuildTable(1, [u](uint16_t value) { return TemperatureForOutput(value, u); });
    };
    static const std::unique_ptr<FieldTable> kelvin = make(kUnitKelvin);
    static const std::unique_ptr<FieldTable> celsius = make(kUnitCelsius);
    static const std::unique_ptr<FieldTable> fahrenheit = make(kUnitFahrenheit);
    if (unit == kUnitKelvin) {
        return *kelvin;
    }
    return unit == kUnitCelsius ? *celsius : *fahrenheit;
}

std::string_view WithoutTab(const Field& field) {
    return std::string_view(field.text, field.length - 1u);
}

// Longest possible text: 33 lines of 32 fields of at most 15 characters, and the line ends.
constexpr std::size_t kMaxTextBytes = kTextLineCount * (kFrameColumns * 15 + 2);

char* Put(char* out, const Field& field) {
    std::memcpy(out, field.text, sizeof(Field));  // may copy padding; the next field overwrites it
    return out + field.length;
}

char* EndLine(char* out) {
    out[0] = '\r';
    out[1] = '\n';
    return out + 2;
}

void RenderInto(const FrameData& frame, const FieldTable& pixels, const FieldTable& minMax,
                TextRendering& out) {
    // sizeof(Field) bytes of slack: the last field's padding is copied past its end.
    out.text.resize(kMaxTextBytes + sizeof(Field));
    char* p = out.text.data();
    uint16_t minimum = 65535;
    uint16_t maximum = 0;
    for (int r = 0; r < kFrameRows; ++r) {
        const uint16_t* row = frame.values + r * kFrameColumns;
        for (int c = kFrameColumns - 1; c >= 0; --c) {
            const uint16_t value = row[c];
            minimum = value < minimum ? value : minimum;
            maximum = value > maximum ? value : maximum;
            p = Put(p, pixels[value]);
        }
        p = EndLine(p);
    }
    const FieldTable& volts = VoltageTable();
    for (int c = kOffsetCount - 1; c >= 0; --c) {
        p = Put(p, volts[frame.offsets[c]]);
    }
    p = EndLine(p);
    // Header words 0 to 3 are not written; their places and the rest of the first half hold zeros.
    for (int i = 0; i < 16; ++i) {
        p = Put(p, volts[0]);
    }
    for (int word = 4; word < kHeaderWordCount; ++word) {
        p = Put(p, volts[frame.header[word]]);
        p = Put(p, volts[frame.header[word]]);
    }
    p = EndLine(p);
    out.text.resize(static_cast<std::size_t>(p - out.text.data()));
    // The conversions are monotonic, so the extreme values give the extreme temperatures and
    // voltages, and the minimum and maximum are always in kelvin or volts.
    out.minText.assign(WithoutTab(minMax[minimum]));
    out.maxText.assign(WithoutTab(minMax[maximum]));
}

bool IsSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// strtod in the C locale, whatever locale a GUI has switched the process to.
double StrtodInCLocale(const char* text) {
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    return ::strtod_l(text, nullptr, cLocale);
}

// A decimal number at the start of `field` exactly as the C library's strtod reads it: leading
// white space skipped, one optional sign, trailing text ignored, 0 when there is no number (so
// "+-1.0" and "--5" read 0), and the forms only strtod knows (exponents, hexadecimal, infinity,
// overflow to infinity). Plain fixed-point fields, the only ones this program writes, take an
// exact fast path: an integer of at most 15 digits divided by an exact power of ten rounds the
// same as strtod. Everything else goes to strtod itself.
double ParseNumber(std::string_view field) {
    std::size_t i = 0;
    while (i < field.size() && IsSpace(field[i])) {
        ++i;
    }
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }
    int64_t mantissa = 0;
    int digits = 0;
    int decimals = 0;
    bool seenPoint = false;
    for (; i < field.size(); ++i) {
        const char ch = field[i];
        if (ch >= '0' && ch <= '9') {
            if (digits < 18) {
                mantissa = mantissa * 10 + (ch - '0');
            }
            ++digits;
            decimals += seenPoint ? 1 : 0;
        } else if (ch == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    // An exponent or the x of a hexadecimal number continues the number for strtod.
    const bool plainEnd = i == field.size() || (field[i] != 'e' && field[i] != 'E' &&
                                                field[i] != 'x' && field[i] != 'X');
    if (digits > 0 && digits <= 15 && plainEnd) {
        static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const double magnitude = static_cast<double>(mantissa) / kPowers[decimals];
        return negative ? -magnitude : magnitude;
    }
    // strtod stops at a NUL byte, as the copy's c_str() does.
    return StrtodInCLocale(std::string(field).c_str());
}

// One field read from a text frame. A plain fixed-point field (white space, a sign, at most
// kFixedDigits digits with an optional point, directly followed by its TAB: every field this
// program writes) is kept as its integer mantissa and count of decimals; any other field as the
// number ParseNumber reads from it.
struct FieldNumber {
    bool fixed;
    bool negative;
    int decimals;
    int64_t mantissa;  // signed
    double number;     // fields that are not fixed point
};

constexpr int kFixedDigits = 8;
constexpr int64_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The number strtod reads from the field: for fixed point the same division ParseNumber makes.
double NumberOf(const FieldNumber& field) {
    if (!field.fixed) {
        return field.number;
    }
    static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    const double magnitude =
        static_cast<double>(field.negative ? -field.mantissa : field.mantissa) /
        kPowers[field.decimals];
    return field.negative ? -magnitude : magnitude;
}

uint64_t DigitsAt(const char*& p, const char* end, int& count) {
    uint64_t value = 0;  // wraps harmlessly for overlong digit strings, which are rejected
    for (; p != end; ++p, ++count) {
        const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit > 9) {
            break;
        }
        value = value * 10 + digit;
    }
    return value;
}

// Reads a plain fixed-point field starting at `p`; returns its TAB, or null when the field has
// another form (exponent, more digits, text) or no TAB follows.
inline const char* ReadFixed(const char* p, const char* end, FieldNumber& field) {
    // White space other than the TAB, such as the line feed left at the start of a line.
    while (p != end && (*p == ' ' || static_cast<unsigned char>(*p - '\n') <= '\r' - '\n')) {
        ++p;
    }
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    int digits = 0;
    uint64_t mantissa = DigitsAt(p, end, digits);
    int decimals = 0;
    if (p != end && *p == '.') {
        ++p;
        const uint64_t fraction = DigitsAt(p, end, decimals);
        digits += decimals;
        if (digits <= kFixedDigits) {
            mantissa = mantissa * static_cast<uint64_t>(kPowersOfTen[decimals]) + fraction;
        }
    }
    if (p == end || *p != '\t' || digits == 0 || digits > kFixedDigits) {
        return nullptr;
    }
    field.fixed = true;
    field.negative = negative;
    field.decimals = decimals;
    field.mantissa = negative ? -static_cast<int64_t>(mantissa) : static_cast<int64_t>(mantissa);
    return p;
}

// Counts of a field in volts. For a fixed-point field m / 10^d the exact quotient x / 0.001221 is
// m * 10^(6 - d) / 1221. Unless that is a whole number it lies at least 1/1221 away from one,
// while the two double divisions err by less than 1e-4 for mantissas of at most eight digits, so
// the integer division truncates to the same count. Whole quotients, where the doubles may land
// just below, take the double arithmetic.
uint16_t CountsOfField(const FieldNumber& field) {
    if (field.fixed && field.decimals <= 6) {
        const int64_t magnitude = field.mantissa < 0 ? -field.mantissa : field.mantissa;
        const int64_t scaled = magnitude * kPowersOfTen[6 - field.decimals];
        if (scaled == 0) {
            return 0;
        }
        if (scaled % 1221 != 0) {
            const int64_t counts = scaled / 1221;
            return static_cast<uint16_t>(field.mantissa < 0 ? -counts : counts);
        }
    }
    return CountsFromVolts(NumberOf(field));
}

// Deci-kelvin of a Celsius field. For m tenths, (x + 273.15) * 10 is m + 2731.5 give or take far
// less than the half, so truncated toward zero it is m + 2731 above zero and m + 2732 below.
uint16_t DeciKelvinOfCelsiusField(const FieldNumber& field) {
    if (field.fixed && field.decimals <= 1) {
        const int64_t tenths = field.mantissa * (field.decimals == 0 ? 10 : 1);
        return static_cast<uint16_t>(tenths >= -2731 ? tenths + 2731 : tenths + 2732);
    }
    return ValueFromText(NumberOf(field), 'C');
}

// Splits one line into exactly 32 fields and converts each; text after the last TAB is ignored.
template <typename Convert>
bool ParseLine(std::string_view line, uint16_t values[32], Convert convert) {
    const char* p = line.data();
    const char* const end = p + line.size();
    for (int count = 0; count < 32; ++count) {
        FieldNumber field{};
        const char* tab = ReadFixed(p, end, field);
        if (tab == nullptr) {
            tab = static_cast<const char*>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)));
            if (tab == nullptr) {
                return false;
            }
            field = {false, false, 0, 0,
                     ParseNumber(std::string_view(p, static_cast<std::size_t>(tab - p)))};
        }
        values[count] = convert(field);
        p = tab + 1;
    }
    return std::memchr(p, '\t', static_cast<std::size_t>(end - p)) == nullptr;
}

template <typename Convert>
bool ParseRows(const std::string_view* lines, FrameData& frame, Convert convert) {
    uint16_t fields[32];
    for (int r = 0; r < kFrameRows; ++r) {
        if (!ParseLine(lines[r], fields, convert)) {
            return false;
        }
        for (int c = 0; c < kFrameColumns; ++c) {
            frame.values[r * kFrameColumns + c] = fields[31 - c];
        }
    }
    return true;
}

bool ParsePixelRows(const std::string_view* lines, char fileMode, FrameData& frame) {
    switch (fileMode) {
        case 'V':
            return ParseRows(lines, frame,
                             [](const FieldNumber& field) { return CountsOfField(field); });
        case 'C':
            return ParseRows(lines, frame, [](const FieldNumber& field) {
                return DeciKelvinOfCelsiusField(field);
            });
        default:
            return ParseRows(lines, frame, [fileMode](const FieldNumber& field) {
                return ValueFromText(NumberOf(field), fileMode);
            });
    }
}

}  // namespace

std::string_view TemperatureFieldText(uint16_t value, int unit) {
    return WithoutTab(TemperatureTable(unit)[value]);
}

std::string_view VoltageFieldText(uint16_t counts) {
    return WithoutTab(VoltageTable()[counts]);
}

void RenderTemperatureTextInto(const FrameData& frame, int unit, TextRendering& out) {
    RenderInto(frame, TemperatureTable(unit), TemperatureTable(kUnitKelvin), out);
}

void RenderVoltageTextInto(const FrameData& frame, TextRendering& out) {
    RenderInto(frame, VoltageTable(), VoltageTable(), out);
}

TextRendering RenderTemperatureText(const FrameData& frame, int unit) {
    TextRendering out;
    RenderTemperatureTextInto(frame, unit, out);
    return out;
}

TextRendering RenderVoltageText(const FrameData& frame) {
    TextRendering out;
    RenderVoltageTextInto(frame, out);
    return out;
}

std::optional<FrameData> ParseTextFrame(std::string_view text, char fileMode) {
    std::array<std::string_view, kTextLineCount> lines;
    int count = 0;
    std::size_t start = 0;
    for (std::size_t cr = text.find('\r'); cr != std::string_view::npos;
         cr = text.find('\r', start)) {
        if (count == kTextLineCount) {
            return std::nullopt;
        }
        lines[count++] = text.substr(start, cr - start);
        start = cr + 1;
    }
    // A last line without its CR still counts when it is longer than a stray line end.
    if (text.size() - start > 6) {
        if (count == kTextLineCount) {
            return std::nullopt;
        }
        lines[count++] = text.substr(start);
    }
    if (count != kTextLineCount) {
        return std::nullopt;
    }
    FrameData frame{};
    if (!ParsePixelRows(lines.data(), fileMode, frame)) {
        return std::nullopt;
    }
    uint16_t fields[32];
    if (!ParseLine(lines[kFrameRows], fields, CountsOfField)) {
        return std::nullopt;
    }
    for (int c = 0; c < kOffsetCount; ++c) {
        frame.offsets[c] = fields[31 - c];
    }
    if (!ParseLine(lines[kFrameRows + 1], fields, CountsOfField)) {
        return std::nullopt;
    }
    for (int word = 0; word < 4; ++word) {
        frame.header[word] = fields[word];
    }
    for (int word = 4; word < kHeaderWordCount; ++word) {
        frame.header[word] = fields[16 + 2 * (word - 4)];
    }
    return frame;
}

std::optional<TextFieldRange> PixelFieldRange(std::string_view frameText) {
    std::optional<TextFieldRange> range;
    std::size_t lineStart = 0;
    for (int row = 0; row < kFrameRows && lineStart < frameText.size(); ++row) {
        std::size_t lineEnd = frameText.find('\r', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = frameText.size();
        }
        const std::string_view line = frameText.substr(lineStart, lineEnd - lineStart);
        for (std::size_t start = 0; start < line.size();) {
            std::size_t tab = line.find('\t', start);
            if (tab == std::string_view::npos) {
                tab = line.size();
            }
            std::string_view field = line.substr(start, tab - start);
            start = tab + 1;
            while (!field.empty() && (field.front() == ' ' || field.front() == '\n')) {
                field.remove_prefix(1);
            }
            const std::string_view digits = field.substr(!field.empty() && field[0] == '+');
            double value = 0;
            const auto parsed =
                std::from_chars(digits.data(), digits.data() + digits.size(), value);
            if (digits.empty() || parsed.ec != std::errc() ||
                parsed.ptr != digits.data() + digits.size()) {
                continue;
            }
            if (!range) {
                range = TextFieldRange{value, value, std::string(field), std::string(field)};
            } else if (value < range->low) {
                range->low = value;
                range->lowText = field;
            } else if (value > range->high) {
                range->high = value;
                range->highText = field;
            }
        }
        lineStart = lineEnd + 1;
    }
    return range;
}

void AppendTextModeBytes(std::string_view text, std::string& out) {
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t lineFeed = text.find('\n', from);
        if (lineFeed == std::string_view::npos) {
            out.append(text.substr(from));
            break;
        }
        out.append(text.substr(from, lineFeed - from));
        out.append("\r\n");
        from = lineFeed + 1;
    }
}

void AppendTextStreamRecord(char modeChar, char elOffChar, std::string_view text,
                            std::string& out) {
    const char header[] = {'M', 'o', 'd', 'e', '=', modeChar,  ' ',  'E',
                           'l', 'O', 'f', 'f', '=', elOffChar, '\r', '\n'};
    AppendTextModeBytes(std::string_view(header, sizeof header), out);
    AppendTextModeBytes(text, out);
}

std::string MakeTextStreamRecord(char modeChar, char elOffChar, std::string_view text) {
    std::string record;
    record.reserve(32 + text.size() + text.size() / 16);
    AppendTextStreamRecord(modeChar, elOffChar, text, record);
    return record;
}
