#pragma once
// The text form of a frame: 33 lines of 32 TAB-terminated fields (31 sensor rows from column 31
// down to column 0, the electrical offsets in volts, then sixteen zero fields and header words 4
// to 11, each twice, in volts), every line ending in CR LF. It is what text recordings store,
// what the log box shows and what is copied to the clipboard. Pure functions, any thread; the
// frame pipeline renders on its processing thread, play-back parses on the GUI thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "frame/frame_block.h"
#include "frame/record_header.h"

// Lines of a text frame (31 pixel rows, the offset line, the header line) and the fields they
// hold together: the numbering users choose their selected pixels from.
inline constexpr int kTextLineCount = kFrameRows + 2;                   // 33
inline constexpr int kTextFieldCount = kTextLineCount * kFrameColumns;  // 1056

// One frame rendered as text, with the texts of its smallest and largest pixel (in kelvin for
// temperature frames whatever the unit, in volts for voltage frames).
struct TextRendering {
    std::string text;
    std::string minText;
    std::string maxText;
};

// "%+.1f" of a pixel of a temperature frame in `unit` (1 kelvin, 2 Celsius, other Fahrenheit),
// exactly as printf writes it in the C locale. Views into a table built on first use; valid for
// the life of the program.
std::string_view TemperatureFieldText(uint16_t value, int unit);
// "%+.4f" of a count in volts (voltage pixels, offsets, header words).
std::string_view VoltageFieldText(uint16_t counts);

// Renders a temperature frame (values in deci-kelvin) in `unit`.
TextRendering RenderTemperatureText(const FrameData& frame, int unit);
// Renders a voltage frame (values in counts).
TextRendering RenderVoltageText(const FrameData& frame);
// The same, reusing the strings' storage: the frame pipeline calls these for every frame.
void RenderTemperatureTextInto(const FrameData& frame, int unit, TextRendering& out);
void RenderVoltageTextInto(const FrameData& frame, TextRendering& out);

// Parses a text frame whose lines end in CR (with or without the LF after it). `fileMode` is the
// mode character of its recording header: `V` volts, `K`, `C` or `F` for the temperature unit,
// anything else kelvin. Returns nothing unless the text holds exactly 33 lines of exactly 32
// fields. Header words 0 to 3 are read from the first four fields of the last line.
std::optional<FrameData> ParseTextFrame(std::string_view text, char fileMode);

// The smallest and largest pixel field of a text frame (its first 31 lines), as written and as
// numbers. Nothing when no pixel field reads as a number.
struct TextFieldRange {
    double low;
    double high;
    std::string lowText;
    std::string highText;
};
std::optional<TextFieldRange> PixelFieldRange(std::string_view frameText);

// Text recordings are stored as a Windows text-mode stream stores text: every line feed written
// becomes CR LF on disk. Appends `text` to `out` in that form. The recorder and `thermal convert`
// both write through it, so their files agree byte for byte.
void AppendTextModeBytes(std::string_view text, std::string& out);

// One record of a text stream file as it lies on disk: the line "Mode=%c ElOff=%c" and the
// frame text, every line feed stored as CR LF, so each line ends in CR CR LF. Appended to `out`,
// or returned.
void AppendTextStreamRecord(char modeChar, char elOffChar, std::string_view text, std::string& out);
std::string MakeTextStreamRecord(char modeChar, char elOffChar, std::string_view text);
