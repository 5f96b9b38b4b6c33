#include "frame/record_header.h"

#include <algorithm>
#include <cstring>

#include "frame/conversion.h"
#include "frame/frame_block.h"

char RecordModeCharacter(char modeLetter) {
    return IsVoltageMode(modeLetter) ? 'V' : 'T';
}

bool IsKnownRecordHeader(const uint8_t header[kBinaryRecordHeaderSize]) {
    return MayStartKnownRecordHeader(header, 6);
}

bool MayStartKnownRecordHeader(const uint8_t* bytes, std::size_t size) {
    constexpr std::size_t kPrefixSize = 5;  // "Mode="
    if (std::memcmp(bytes, "Mode=", std::min(size, kPrefixSize)) != 0) {
        return false;
    }
    return size <= kPrefixSize || bytes[kPrefixSize] == 'T' || bytes[kPrefixSize] == 'V';
}

char ModeLetterOfRecord(const uint8_t header[kBinaryRecordHeaderSize]) {
    return header[5] == 'T' ? 'K' : 't';
}

int DataModeOfRecordHeader(const uint8_t header[kBinaryRecordHeaderSize]) {
    return header[5] == 'T'   ? kDataModeTemperature
           : header[5] == 'V' ? kDataModeVoltage
                              : kDataModeUnknown;
}

const char* RecordHeaderLabel(const uint8_t header[kBinaryRecordHeaderSize]) {
    if (!IsKnownRecordHeader(header)) {
        return nullptr;
    }
    return header[5] == 'T' ? "temperature (Mode=T)" : "voltage (Mode=V)";
}

char TextStreamModeChar(char modeLetter, int unit) {
    if (IsVoltageMode(modeLetter)) {
        return 'V';
    }
    if (unit == kUnitKelvin) {
        return 'K';
    }
    return unit == kUnitCelsius ? 'C' : 'F';
}

char TextStreamElOffChar(char modeLetter, bool subtractingOffsets) {
    return IsVoltageMode(modeLetter) && subtractingOffsets ? 'T' : 'F';
}

int DataModeOfTextHeader(std::string_view line) {
    if (line.size() <= 5) {
        return kDataModeUnknown;
    }
    switch (line[5]) {
        case 'V':
        case 'v':
            return kDataModeVoltage;
        case 'K':
        case 'k':
        case 'C':
        case 'c':
        case 'F':
        case 'f':
            return kDataModeTemperature;
        default:
            return kDataModeUnknown;
    }
}

bool NamesRecordedTextMode(std::string_view line) {
    return line.size() > 5 &&
           (line[5] == 'V' || line[5] == 'K' || line[5] == 'C' || line[5] == 'F');
}

bool IsRecordedTextHeader(std::string_view line) {
    return line.substr(0, 5) == "Mode=" && NamesRecordedTextMode(line);
}

bool IsWellFormedTextHeader(std::string_view line) {
    return line.size() == 14 && line.substr(0, 5) == "Mode=" && NamesRecordedTextMode(line) &&
           line.substr(6, 7) == " ElOff=" && (line[13] == 'T' || line[13] == 'F');
}

const char* TextModeLabel(char modeChar) {
    switch (modeChar) {
        case 'V':
            return "voltage (Mode=V)";
        case 'C':
            return "temperature in °C (Mode=C)";
        case 'F':
            return "temperature in °F (Mode=F)";
        default:
            return "temperature in kelvin (Mode=K)";
    }
}

TextPlayMode TextPlayModeOf(std::string_view header) {
    const char mode = header.size() > 5 ? header[5] : '\0';
    const char offset = header.size() > 13 ? header[13] : '\0';
    TextPlayMode result{'K', 0, offset == 'T' || offset == 't' ? 1 : 0};
    switch (mode) {
        case 'V':
            result.modeChar = 'V';
            break;
        case 'K':
            result.unit = kUnitKelvin;
            break;
        case 'C':
            result.modeChar = 'C';
            result.unit = kUnitCelsius;
            break;
        case 'F':
            result.modeChar = 'F';
            result.unit = kUnitFahrenheit;
            break;
        default:
            break;
    }
    return result;
}

TextRecordParts SplitTextRecord(std::string_view record) {
    const std::size_t cr = record.find('\r');
    if (cr == std::string_view::npos) {
        return {record, {}};
    }
    return {record.substr(0, cr + 1), record.substr(cr + 1)};
}
