// The .tiff output: one page per frame, 32 x 31 pixels of 16-bit grey, each
// pixel the frame's value as the module counts it (tenths of a kelvin for temperature frames,
// converter counts for voltage frames, raw values as stored). Voltage frames whose offsets were
// subtracted hold signed differences: their pages are signed 16-bit, whose bits are the very
// words the subtraction leaves (a pixel below its offset reads as negative counts). Pages are in
// sensor orientation, row 1 at the top and column 1 at the left as the CSV numbers them, mirrored
// as the display is when --mirror asks for it. Each page's description is a line of JSON that says
// how its values become kelvin or volts, so analysis programs (ImageJ/Fiji opens the pages as a
// stack, Python's tifffile reads every page) can recover the temperatures. Written with libtiff
// through CSeekableFile, so its writes are buffered and its failures are ours to report; a growing
// file gets each page on disk as it is written.
#include <tiffio.h>

#include <array>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "frame/conversion.h"
#include "outputs/file_sinks.h"
#include "outputs/seekable_file.h"
#include "processing/frame_readout.h"

namespace {

constexpr uint32_t kLastNumberedPage = 65536;

// The values' scale in the description: value * scale + offset is the quantity in the unit.
struct PageScale {
    const char* unit;
    double scale;
};

PageScale ScaleOf(char modeLetter) {
    if (modeLetter == 0) {
        return {"raw", 1.0};
    }
    if (IsVoltageMode(modeLetter)) {
        return {"V", kVoltsPerCount};
    }
    return {"K", 0.1};  // tenths of a kelvin
}

void AppendNumber(std::string& out, double number) {
    char digits[32];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
}

// {"frame":12,"mode":"K","unit":"K","scale":0.1,"offset":0}, with "offsets_subtracted" for
// voltage frames, whose values then lie below the converter's own counts.
std::string PageDescription(const ProcessedFrame& frame) {
    const PageScale scale = ScaleOf(frame.modeLetter);
    std::string text = "{\"frame\":";
    text += std::to_string(frame.number);
    text += ",\"mode\":\"";
    text += frame.modeLetter == 0 ? std::string("raw") : std::string(1, frame.modeLetter);
    text += "\",\"unit\":\"";
    text += scale.unit;
    text += "\",\"scale\":";
    AppendNumber(text, scale.scale);
    text += ",\"offset\":0";
    if (IsVoltageMode(frame.modeLetter)) {
        text += frame.subtractingOffsets ? ",\"offsets_subtracted\":true"
                                         : ",\"offsets_subtracted\":false";
    }
    text += '}';
    return text;
}

class CTiffSink final : public IFrameSink {
  public:
    explicit CTiffSink(const FileSinkOptions& options)
        : m_file(options.place), m_isBig(options.isBigTiff) {}

    ~CTiffSink() override {
        if (m_tiff != nullptr) {
            TIFFClose(m_tiff);  // the file is discarded with m_file
        }
    }

    std::string Name() const override { return "'" + m_file.FinalPath() + "'"; }
    unsigned Needs() const override { return kNeedsValues; }
    std::vector<std::string> Files() const override { return {m_file.FinalPath()}; }

    Status Begin() override {
        if (Status opened = m_file.Open(); !opened) {
            return opened;
        }
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, &CTiffSink::OnError, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, &CTiffSink::OnWarning, this);
        // "m": no memory mapping; "8": BigTIFF.
        m_tiff = TIFFClientOpenExt(m_file.FinalPath().c_str(), m_isBig ? "w8m" : "wm", this,
                                   &CTiffSink::Read, &CTiffSink::Write, &CTiffSink::Seek,
                                   &CTiffSink::Close, &CTiffSink::Size, &CTiffSink::Map,
                                   &CTiffSink::Unmap, options);
        TIFFOpenOptionsFree(options);
        if (m_tiff == nullptr) {
            return WriteFailure("cannot create");
        }
        return {};
    }

    Status Write(const ProcessedFrame& frame) override {
        if (frame.mirrorMode != m_mirrorMode) {
            MapPixels(frame.mirrorMode);
        }
        for (int i = 0; i < kPixelCount; ++i) {
            m_page[i] = frame.values[m_sourceIndex[i]];
        }
        ++m_pageCount;
        const std::string description = PageDescription(frame);
        TIFF* const tiff = m_tiff;
        const bool written =
            TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) == 1 &&
            TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kFrameColumns) == 1 &&
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kFrameRows) == 1 &&
            TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16) == 1 &&
            TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
            TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT,
                         frame.scale.offsetsSubtracted ? SAMPLEFORMAT_INT : SAMPLEFORMAT_UINT) ==
                1 &&
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) == 1 &&
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == 1 &&
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kFrameRows) == 1 &&
            // Page N of a count not known until the input ends (0); the tag counts on 16 bits.
            (m_pageCount > kLastNumberedPage ||
             TIFFSetField(tiff, TIFFTAG_PAGENUMBER, m_pageCount - 1, 0) == 1) &&
            TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str()) == 1 &&
            TIFFWriteEncodedStrip(tiff, 0, m_page.data(), sizeof m_page) ==
                static_cast<tmsize_t>(sizeof m_page) &&
            TIFFWriteDirectory(tiff) == 1 && (!m_file.IsGrowing() || m_file.Flush().IsOk());
        if (!written) {
            return WriteFailure("cannot write");
        }
        CountWritten();
        return {};
    }

    Status Finish() override {
        TIFF* const tiff = m_tiff;
        m_tiff = nullptr;
        TIFFClose(tiff);  // writes nothing more: every page was completed in Write
        if (!m_libraryError.empty() || !m_file.FirstFailure()) {
            return WriteFailure("cannot write");
        }
        return m_file.Finish();
    }

  private:
    // The value each pixel of a page shows, in sensor orientation mirrored as the display is.
    void MapPixels(int mirrorMode) {
        m_mirrorMode = mirrorMode;
        for (int row = 0; row < kFrameRows; ++row) {
            for (int column = 0; column < kFrameColumns; ++column) {
                const SensorPixel pixel = SensorPixelOfCell(row, column, mirrorMode);
                m_sourceIndex[row * kFrameColumns + column] =
                    (pixel.row - 1) * kFrameColumns + (pixel.column - 1);
            }
        }
    }

    // Our own write failure first (it names the cause), else what libtiff said.
    Status WriteFailure(const char* what) const {
        if (!m_file.FirstFailure()) {
            return m_file.FirstFailure();
        }
        std::string message = what;
        message += " '";
        message += m_file.FinalPath();
        message += "': ";
        message += m_libraryError.empty() ? "libtiff failed" : m_libraryError;
        return Status::Failure(message);
    }

    static CTiffSink& Of(thandle_t handle) { return *static_cast<CTiffSink*>(handle); }

    static tmsize_t Read(thandle_t handle, void* data, tmsize_t size) {
        CTiffSink& sink = Of(handle);
        const Result<std::size_t> got =
            sink.m_file.ReadAt(sink.m_position, data, static_cast<size_t>(size));
        if (!got) {
            return -1;
        }
        sink.m_position += *got;
        return static_cast<tmsize_t>(*got);
    }

    static tmsize_t Write(thandle_t handle, void* data, tmsize_t size) {
        CTiffSink& sink = Of(handle);
        if (!sink.m_file.WriteAt(sink.m_position, data, static_cast<size_t>(size)).IsOk()) {
            return -1;
        }
        sink.m_position += static_cast<uint64_t>(size);
        return size;
    }

    static toff_t Seek(thandle_t handle, toff_t offset, int whence) {
        CTiffSink& sink = Of(handle);
        switch (whence) {
            case SEEK_SET:
                sink.m_position = offset;
                break;
            case SEEK_CUR:
                sink.m_position += offset;
                break;
            case SEEK_END:
                sink.m_position = sink.m_file.Size() + offset;
                break;
            default:
                return static_cast<toff_t>(-1);
        }
        return sink.m_position;
    }

    static toff_t Size(thandle_t handle) { return Of(handle).m_file.Size(); }
    static int Close(thandle_t) { return 0; }  // the file is closed by m_file
    static int Map(thandle_t, void**, toff_t*) { return 0; }
    static void Unmap(thandle_t, void*, toff_t) {}

    // libtiff's messages go into the sink, never to the terminal behind the tool's back.
    static int OnError(TIFF*, void* owner, const char* module, const char* format, va_list args) {
        auto* sink = static_cast<CTiffSink*>(owner);
        if (sink->m_libraryError.empty()) {
            char text[512];
            std::vsnprintf(text, sizeof text, format, args);
            sink->m_libraryError = module != nullptr && *module != '\0'
                                       ? std::string(module) + ": " + text
                                       : std::string(text);
        }
        return 1;
    }
    static int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

    CSeekableFile m_file;
    const bool m_isBig;
    int m_mirrorMode = -1;  // the mirroring m_sourceIndex was made for
    TIFF* m_tiff = nullptr;
    uint64_t m_position = 0;  // where libtiff reads and writes next
    uint32_t m_pageCount = 0;
    std::array<int, kPixelCount> m_sourceIndex{};  // the value each pixel of a page shows
    std::array<uint16_t, kPixelCount> m_page{};    // one page's pixels, reused
    std::string m_libraryError;                    // libtiff's first error message
};

}  // namespace

std::unique_ptr<IFrameSink> MakeTiffSink(const FileSinkOptions& options) {
    return std::make_unique<CTiffSink>(options);
}
