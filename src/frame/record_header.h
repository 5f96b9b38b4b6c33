#pragma once
// The headers of recorded frames and what their mode characters mean, for every reader and
// writer of recordings. A binary stream record starts with 16 bytes: "Mode=", `T` (temperature)
// or `V` (voltage), then zero bytes. A text stream record starts with the line
// "Mode=%c ElOff=%c": `V` (voltage) or `K`, `C`, `F` (temperature in that unit), then `T` when
// the electrical offsets were subtracted from a voltage frame, else `F`. Play-back is lenient
// with headers it does not know, and every reader must be lenient the same way, so the rules
// live here and nowhere else. Pure functions; any thread.
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::size_t kBinaryRecordHeaderSize = 16;

// The data modes a recording's first header names, as play-back reports them.
inline constexpr int kDataModeUnknown = 0;
inline constexpr int kDataModeVoltage = 1;
inline constexpr int kDataModeTemperature = 2;

// --- Binary stream records ---

// The mode character written for a frame's mode letter: `V` for `t` and `c`, else `T`.
char RecordModeCharacter(char modeLetter);

// True when a record header names a known mode ("Mode=T" or "Mode=V"). Play-back takes any
// other header as a voltage frame; readers that must not guess use this to tell a record from
// bytes out of step.
bool IsKnownRecordHeader(const uint8_t header[kBinaryRecordHeaderSize]);
// True when the `size` bytes at `bytes` agree with a known header as far as they go: where a
// reader looking for the next record in bytes out of step must look further.
bool MayStartKnownRecordHeader(const uint8_t* bytes, std::size_t size);

// The mode letter a record's frame is processed with: `K` for a "Mode=T" record, `t` for every
// other header.
char ModeLetterOfRecord(const uint8_t header[kBinaryRecordHeaderSize]);

// The data mode the first record of a file names: byte 5 `T` or `V`; anything else is unknown
// and the file is not played.
int DataModeOfRecordHeader(const uint8_t header[kBinaryRecordHeaderSize]);

// "temperature (Mode=T)" or "voltage (Mode=V)"; null for a header naming no known mode.
const char* RecordHeaderLabel(const uint8_t header[kBinaryRecordHeaderSize]);

// --- Text stream records ---

// The mode character of a text record's header: `V` for voltage frames, else `K`, `C` or `F` by
// unit (1 kelvin, 2 Celsius, other Fahrenheit).
char TextStreamModeChar(char modeLetter, int unit);

// The offset character: `T` when the electrical offsets were subtracted from a voltage frame,
// else `F`.
char TextStreamElOffChar(char modeLetter, bool subtractingOffsets);

// The data mode the first line of a text recording names: character 5 `V` for voltage, `K`, `C`
// or `F` for temperature, without regard to case. Anything else is unknown.
int DataModeOfTextHeader(std::string_view line);

// True when character 5 of a header line names a mode a recording writes: `V`, `K`, `C` or `F`,
// upper case. Play-back still reads other characters (as kelvin), but the header is then damaged.
bool NamesRecordedTextMode(std::string_view line);

// True when a line starts a text record as a recording writes it: "Mode=" and `V`, `K`, `C` or
// `F`. Frame lines never start so; a reader that must not guess starts records only at such a
// line.
bool IsRecordedTextHeader(std::string_view line);

// True when a header line (without its CR) is exactly "Mode=%c ElOff=%c" with a known mode
// (upper case) and `T` or `F`.
bool IsWellFormedTextHeader(std::string_view line);

// "voltage (Mode=V)", "temperature in kelvin (Mode=K)", ... for a mode character as play-back
// reads it (`V`, `K`, `C` or `F`).
const char* TextModeLabel(char modeChar);

// What a header line asks of play-back.
struct TextPlayMode {
    char modeChar;          // `V`, `K`, `C` or `F`: the file mode for the frame's parsing
    int unit;               // kUnitKelvin, kUnitCelsius or kUnitFahrenheit to switch to; 0 keeps it
    int offsetsSubtracted;  // 1 when the offset character is T or t
};
// Mode character at index 5: V stays V; K, C and F also switch the unit; anything else (lower
// case too) is read as kelvin without a unit change.
TextPlayMode TextPlayModeOf(std::string_view header);

// A text record as read back (each line without its line feed, keeping the CR it was recorded
// with), cut after the first CR: the header line (with its CR) and the frame text for the
// pipeline. Without a CR the whole text is the header and the frame text is empty.
struct TextRecordParts {
    std::string_view header;
    std::string_view frameText;
};
TextRecordParts SplitTextRecord(std::string_view record);
