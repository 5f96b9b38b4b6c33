// The .csv output: for each frame a comment line naming the source, the
// frame and the mode, then 31 lines of 32 comma-separated values, row 0 and column 0 first, as
// the sensor sees them. The numbers are taken from the frame's text (same digits, without the plus
// sign), so a spreadsheet shows exactly what the text stream holds. Raw frames give their values
// as stored, and voltage frames whose offsets were subtracted the signed differences (the text
// keeps a pixel below its offset wrapped on 16 bits). UTF-8, LF line ends.
#include <bit>
#include <cstring>

#include "frame/conversion.h"
#include "outputs/csv_file.h"
#include "outputs/file_sinks.h"

namespace {

const char* ModeDescription(char modeLetter, int unit, bool subtractingOffsets) {
    if (modeLetter == 0) {
        return "raw, values as stored";
    }
    if (IsVoltageMode(modeLetter)) {
        return subtractingOffsets ? "V, voltage in volts, electrical offsets subtracted"
                                  : "V, voltage in volts";
    }
    switch (unit) {
        case kUnitKelvin:
            return "K, temperature in kelvin";
        case kUnitCelsius:
            return "C, temperature in \u00B0C";
        default:
            return "F, temperature in \u00B0F";
    }
}

class CCsvSink final : public CCsvTableSink {
  public:
    explicit CCsvSink(const FileSinkOptions& options)
        : CCsvTableSink(options.place), m_sourceName(CommentSafe(options.sourceName)) {}

    Status Write(const ProcessedFrame& frame) override {
        m_block.clear();
        m_block += "# source: ";
        m_block += m_sourceName;
        m_block += ", frame ";
        m_block += std::to_string(frame.number);
        m_block += ", mode ";
        m_block += ModeDescription(frame.modeLetter, frame.unit, frame.subtractingOffsets);
        m_block += '\n';
        if (frame.scale.kind == ReadoutKind::kRaw || frame.scale.offsetsSubtracted) {
            AppendValueRows(frame.values, frame.scale);
        } else if (!AppendTextRows(frame.text)) {
            return Status::Failure("frame " + std::to_string(frame.number) +
                                   " has no text of 31 rows");
        }
        return AppendFrame(m_block);
    }

  private:
    void AppendValueRows(const uint16_t* values, const ReadoutScale& scale) {
        for (int row = 0; row < kFrameRows; ++row) {
            for (int column = 0; column < kFrameColumns; ++column) {
                if (column > 0) {
                    m_block += ',';
                }
                m_block += ReadoutValueText(values[row * kFrameColumns + column], scale);
            }
            m_block += '\n';
        }
    }

    // The numbers of the text frame's 31 pixel lines, which hold each row from column 31 down
    // to column 0: the same digits the text recording holds, turned around. This runs for
    // every frame: the TABs are found eight bytes at a time, and each field is copied as a block
    // of kFieldCopyBytes (fields are shorter, and the text goes on well past every pixel field).
    bool AppendTextRows(std::string_view text) {
        constexpr std::ptrdiff_t kFieldCopyBytes = 16;
        const char* next = text.data();
        const char* const end = text.data() + text.size();
        const char* tabs[kFrameColumns];
        char row[kFrameColumns * kFieldCopyBytes + kFieldCopyBytes];
        for (int line = 0; line < kFrameRows; ++line) {
            const char* const lineStart = next;
            int found = 0;
            while (found < kFrameColumns && end - next >= 8) {
                uint64_t word;
                std::memcpy(&word, next, sizeof word);
                for (uint64_t marks = TabBytes(word); marks != 0 && found < kFrameColumns;
                     marks &= marks - 1) {
                    tabs[found++] = next + std::countr_zero(marks) / 8;
                }
                next += 8;
            }
            for (; found < kFrameColumns && next < end; ++next) {
                if (*next == '\t') {
                    tabs[found++] = next;
                }
            }
            // A line of exactly 32 fields ends in CR right after its last TAB.
            if (found < kFrameColumns || end - tabs[kFrameColumns - 1] < 3 ||
                tabs[kFrameColumns - 1][1] != '\r') {
                return false;
            }
            next = tabs[kFrameColumns - 1] + 3;  // past TAB, CR and LF
            char* out = row;
            // Field f of the line (column 31 - f) runs from just after TAB f - 1 to TAB f.
            for (int field = kFrameColumns - 1; field >= 0; --field) {
                const char* start = field == 0 ? lineStart : tabs[field - 1] + 1;
                start += *start == '+' ? 1 : 0;
                const std::ptrdiff_t size = tabs[field] - start;
                if (size < 0 || size >= kFieldCopyBytes) {
                    return false;
                }
                if (end - start >= kFieldCopyBytes) {
                    std::memcpy(out, start, kFieldCopyBytes);
                } else {
                    std::memcpy(out, start, static_cast<std::size_t>(size));
                }
                out += size;
                *out++ = field > 0 ? ',' : '\n';
            }
            m_block.append(row, out);
        }
        return true;
    }

    // One bit (the top bit of the byte) for every TAB among the eight bytes of `word`.
    static uint64_t TabBytes(uint64_t word) {
        constexpr uint64_t kTabs = 0x0909090909090909ULL;
        constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
        const uint64_t x = word ^ kTabs;  // zero bytes where the TABs are
        return ~(((x & kLow7) + kLow7) | x | kLow7);
    }

    const std::string m_sourceName;
    std::string m_block;  // one frame's lines, reused
};

}  // namespace

std::unique_ptr<IFrameSink> MakeCsvSink(const FileSinkOptions& options) {
    return std::make_unique<CCsvSink>(options);
}
