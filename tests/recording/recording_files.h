#pragma once
// Recordings for the play-back and `thermal info` tests, built with the core's own encoders: the
// frame block encoder, the binary record encoder and the text renderers. Raw frame files have no
// encoder in the core (they come from elsewhere) and are written here high byte first.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frame/binary_record.h"
#include "frame/conversion.h"
#include "frame/frame_block.h"
#include "frame/text_frame.h"
#include "support/file_bytes.h"
#include "support/scratch_directory.h"

// A frame of `base` everywhere but `low` at row 0, column 0 and `high` at row 30, column 31, with
// offsets and header words 4 to 11 set so their text is not all zeros.
inline FrameData SpreadFrame(uint16_t base, uint16_t low, uint16_t high) {
    FrameData frame{};
    for (uint16_t& v : frame.values) {
        v = base;
    }
    frame.values[0] = low;
    frame.values[kPixelCount - 1] = high;
    for (int c = 0; c < kOffsetCount; ++c) {
        frame.offsets[c] = static_cast<uint16_t>(10 + c);
    }
    for (int w = 4; w < kHeaderWordCount; ++w) {
        frame.header[w] = static_cast<uint16_t>(100 * w);
    }
    return frame;
}

// A frame block with every pixel `pixel` and every electrical offset `offset`.
inline std::string FlatBlock(uint16_t pixel, uint16_t offset = 0) {
    std::string block(kFrameBlockSize, '\0');
    for (int word = 0; word < kPixelCount + kOffsetCount; ++word) {
        const uint16_t value = word < kPixelCount ? pixel : offset;
        block[2 * word] = static_cast<char>(value & 0xFF);
        block[2 * word + 1] = static_cast<char>(value >> 8);
    }
    return block;
}

// A binary stream record written out from the file format: "Mode=", the character, ten zeros.
inline std::string HandRecord(char modeChar, const std::string& block) {
    return std::string("Mode=") + modeChar + std::string(10, '\0') + block;
}

inline const uint8_t* Bytes(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

// One .bds record of `frame` as the recorder writes it: the block as the module sends it, with
// its marker.
inline std::string BinaryStreamRecord(char modeLetter, const FrameData& frame) {
    uint8_t block[kFrameBlockSize];
    EncodeFrameBlock(frame, block);
    PutFrameMarker(block);
    const BinaryRecord record = EncodeBinaryRecord(modeLetter, block);
    return std::string(record.begin(), record.end());
}

// One .txt record of `frame` as the recorder writes it, every line ending CR CR LF on disk.
// `modeChar` V renders volts, K, C or F a temperature in that unit.
inline std::string TextStreamRecord(const FrameData& frame, char modeChar, char elOffChar = 'F') {
    const int unit = modeChar == 'K'   ? kUnitKelvin
                     : modeChar == 'C' ? kUnitCelsius
                                       : kUnitFahrenheit;
    const TextRendering text =
        modeChar == 'V' ? RenderVoltageText(frame) : RenderTemperatureText(frame, unit);
    return MakeTextStreamRecord(modeChar, elOffChar, text.text);
}

// One .bin frame: the 992 values high byte first.
inline std::string RawFrameBytes(const FrameData& frame) {
    std::string bytes;
    for (const uint16_t v : frame.values) {
        bytes += static_cast<char>(v >> 8);
        bytes += static_cast<char>(v & 0xFF);
    }
    return bytes;
}

// Every occurrence of `from` in `text` replaced by `to`.
inline std::string Replaced(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t at = text.find(from); at != std::string_view::npos;
         at = text.find(from, start)) {
        out.append(text.substr(start, at - start));
        out.append(to);
        start = at + from.size();
    }
    out.append(text.substr(start));
    return out;
}

// A recording of three frames, to be cut: its bytes and the byte after each of its records.
struct CutRecording {
    std::string extension;  // ".bds", ".txt" or ".bin"
    std::string bytes;
    std::vector<std::size_t> ends;

    // Where to cut it: at the start, one byte in, in the middle of each record and on both
    // sides of each record's end.
    std::vector<std::size_t> Cuts() const {
        std::vector<std::size_t> cuts = {0, 1};
        std::size_t start = 0;
        for (const std::size_t end : ends) {
            cuts.insert(cuts.end(), {start + (end - start) / 2, end - 1, end});
            start = end;
        }
        return cuts;
    }
    // The records wholly before `cut`.
    std::size_t WholeBefore(std::size_t cut) const {
        std::size_t whole = 0;
        while (whole < ends.size() && ends[whole] <= cut) {
            ++whole;
        }
        return whole;
    }
    // A text-mode stream reads a last line without its line feed as a line: a text record cut
    // inside its last line still has all its lines, shorter.
    bool CutsInsideLastTextLine(std::size_t cut) const {
        const std::size_t whole = WholeBefore(cut);
        return extension == ".txt" && whole < ends.size() &&
               cut > bytes.rfind('\n', ends[whole] - 2) + 1;
    }
};

// The same three frames (a temperature, a voltage and another temperature frame) as a binary
// stream, a text stream and a raw frame file.
inline std::vector<CutRecording> ThreeFrameRecordings() {
    const FrameData frames[] = {SpreadFrame(2981, 2900, 3100), SpreadFrame(1200, 1000, 1400),
                                SpreadFrame(3050, 2950, 3150)};
    CutRecording binary{".bds", {}, {}};
    CutRecording text{".txt", {}, {}};
    CutRecording raw{".bin", {}, {}};
    for (int i = 0; i < 3; ++i) {
        binary.bytes += BinaryStreamRecord(i == 1 ? 't' : 'K', frames[i]);
        text.bytes += TextStreamRecord(frames[i], i == 1 ? 'V' : "KCF"[i]);
        raw.bytes += RawFrameBytes(frames[i]);
        for (CutRecording* recording : {&binary, &text, &raw}) {
            recording->ends.push_back(recording->bytes.size());
        }
    }
    return {binary, text, raw};
}
