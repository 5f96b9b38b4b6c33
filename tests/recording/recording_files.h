#pragma once
// Recordings for the play-back and `thermal info` tests, built with the core's own encoders: the
// frame block encoder, the binary record encoder and the text renderers. Raw frame files have no
// encoder in the core (they come from elsewhere) and are written here high byte first.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "frame/binary_record.h"
#include "frame/conversion.h"
#include "frame/frame_block.h"
#include "frame/text_frame.h"

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

inline void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh directory under the system's temporary directory, removed with the object.
class ScratchDirectory {
  public:
    explicit ScratchDirectory(const std::string& name)
        : m_path(std::filesystem::temp_directory_path() /
                 (name + "_" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& path() const { return m_path; }

  private:
    std::filesystem::path m_path;
};
