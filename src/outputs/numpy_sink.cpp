// The .npy output: one NumPy array (format version 1.0) of shape
// (frames, 31, 32), little-endian float32, row 0 and column 0 first as in the CSV. Each value is
// the CSV's number read as a float32: temperatures in the unit, voltages in volts (a pixel below
// its offset negative), raw values as stored. Frames are streamed, so a recording of any length
// takes constant memory; the header is written first with room for the largest frame count and
// gets the true count at the end (a growing file after every frame, so that it always reads whole).
// An array holds numbers of one unit and says nothing of each frame, so a recording whose frames
// change between temperatures and voltages (or, in a text stream, between temperature units) is
// refused at the first frame of the other kind, rather than mixed or cut to its first part without
// a trace in the file; the TIFF and CSV outputs, which label each frame, take it whole.
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "frame/conversion.h"
#include "outputs/file_sinks.h"
#include "outputs/seekable_file.h"

namespace {

constexpr char kMagic[] = "\x93NUMPY\x01\x00";
constexpr std::size_t kMagicBytes = sizeof kMagic - 1;  // the version's zero byte included
// Magic, version, the header's length and the header itself, a multiple of 64 bytes as the
// format asks: room for a 20-digit frame count.
constexpr std::size_t kHeaderBytes = 128;

// The whole header for `frames` frames, padded with spaces to kHeaderBytes, ending in a newline.
std::string NumpyHeader(uint64_t frames) {
    std::string header(kMagic, kMagicBytes);
    const std::size_t dictionaryBytes = kHeaderBytes - kMagicBytes - 2;
    header += static_cast<char>(dictionaryBytes & 0xFF);
    header += static_cast<char>(dictionaryBytes >> 8);
    header += "{'descr': '<f4', 'fortran_order': False, 'shape': (";
    header += std::to_string(frames);
    header += ", " + std::to_string(kFrameRows) + ", " + std::to_string(kFrameColumns) + "), }";
    header.resize(kHeaderBytes - 1, ' ');
    header += '\n';
    return header;
}

// The float32 of a number as a field of the text frame writes it ("+24.3"): exactly the number a
// reader of the CSV, which holds the same digits without the sign, gets as a float32.
float FieldNumber(std::string_view text) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
    }
    float number = 0.0f;
    std::from_chars(text.data(), text.data() + text.size(), number);
    return number;
}

using NumberTable = std::vector<float>;  // the number of each of the 65536 stored values

// The numbers of a temperature or voltage frame read as `scale` says.
const NumberTable& NumbersOf(const ReadoutScale& scale) {
    // Kelvin, Celsius, Fahrenheit, volts, volts after the offsets.
    static std::array<NumberTable, 5> tables;
    const std::size_t which = scale.kind == ReadoutKind::kVoltage
                                  ? (scale.offsetsSubtracted ? 4 : 3)
                              : scale.unit == kUnitKelvin  ? 0
                              : scale.unit == kUnitCelsius ? 1
                                                           : 2;
    NumberTable& table = tables[which];
    if (table.empty()) {
        table.resize(65536);
        for (std::size_t value = 0; value < table.size(); ++value) {
            table[value] = FieldNumber(ReadoutValueText(static_cast<uint16_t>(value), scale));
        }
    }
    return table;
}

// "temperatures in °C", "voltages in V", "raw values".
std::string NumbersText(const ReadoutScale& scale) {
    switch (scale.kind) {
        case ReadoutKind::kTemperature:
            return "temperatures in " + std::string(ReadoutUnitText(scale));
        case ReadoutKind::kVoltage:
            return "voltages in V";
        default:
            return "raw values";
    }
}

class CNumpySink final : public IFrameSink {
  public:
    explicit CNumpySink(const FileSinkOptions& options) : m_file(options.place) {}

    std::string Name() const override { return "'" + m_file.FinalPath() + "'"; }
    unsigned Needs() const override { return kNeedsValues; }
    std::vector<std::string> Files() const override { return {m_file.FinalPath()}; }

    Status Begin() override {
        if (Status opened = m_file.Open(); !opened) {
            return opened;
        }
        const std::string header = NumpyHeader(0);
        return m_file.Append(header.data(), header.size());
    }

    Status Write(const ProcessedFrame& frame) override {
        float* out = m_numbers.data();
        const ReadoutScale& scale = frame.scale;
        if (m_frameCount == 0) {
            m_scale = scale;
        } else if (scale.kind != m_scale.kind ||
                   (scale.kind == ReadoutKind::kTemperature && scale.unit != m_scale.unit)) {
            return Status::Failure(
                "frame " + std::to_string(frame.number) + " holds " + NumbersText(scale) +
                ", the frames before it " + NumbersText(m_scale) +
                ": a NumPy array holds one unit (" +
                (scale.kind == m_scale.kind
                     ? std::string("--unit converts every temperature to one")
                     : std::string("the .tiff and .csv outputs label each frame")) +
                ")");
        }
        if (scale.kind == ReadoutKind::kRaw) {
            for (int i = 0; i < kPixelCount; ++i) {
                out[i] = frame.values[i];
            }
        } else {
            const NumberTable& table = NumbersOf(scale);
            for (int i = 0; i < kPixelCount; ++i) {
                out[i] = table[frame.values[i]];
            }
        }
        // The array is '<f4': the floats go out as they are in memory.
        static_assert(std::endian::native == std::endian::little && sizeof(float) == 4);
        if (Status appended = m_file.Append(out, sizeof m_numbers); !appended) {
            return appended;
        }
        ++m_frameCount;
        if (m_file.IsGrowing()) {
            if (Status kept = KeepWhole(); !kept) {
                return kept;
            }
        }
        CountWritten();
        return {};
    }

    // A growing file that failed keeps what its header counts: the frames before the failure.
    Status Finish() override {
        if (Status counted = WriteCount(m_frameCount); !counted) {
            return counted;
        }
        return m_file.Finish();
    }

  private:
    // A growing file: the frame on disk, then counted in the header, so that the file reads whole
    // whenever the recording stops.
    Status KeepWhole() {
        if (Status flushed = m_file.Flush(); !flushed) {
            return flushed;
        }
        return WriteCount(m_frameCount);
    }

    Status WriteCount(uint64_t frames) {
        const std::string header = NumpyHeader(frames);
        return m_file.WriteAt(0, header.data(), header.size());
    }

    CSeekableFile m_file;
    std::array<float, kPixelCount> m_numbers{};  // one frame's numbers, reused
    uint64_t m_frameCount = 0;
    ReadoutScale m_scale;  // how the first frame's numbers read: every other's must read so
};

}  // namespace

std::unique_ptr<IFrameSink> MakeNumpySink(const FileSinkOptions& options) {
    return std::make_unique<CNumpySink>(options);
}
