// The .csv output of a region (`thermal convert --region`): one line per frame with the region's
// minimum, mean and maximum in the frame's unit, after a '#' line naming the source and the region
// and a header line. The numbers are written as the text frame writes them (the mean with its
// number of decimals), so they match the full CSV of the same recording. UTF-8, LF line ends.
#include <string>

#include "outputs/csv_file.h"
#include "outputs/file_sinks.h"
#include "processing/frame_readout.h"

namespace {

class CRegionCsvSink final : public IFrameSink {
  public:
    explicit CRegionCsvSink(const FileSinkOptions& options)
        : m_file(options.place),
          m_path(options.place.path),
          m_sourceName(options.sourceName),
          m_region(*options.region) {}

    std::string Name() const override { return "'" + m_path + "'"; }
    unsigned Needs() const override { return kNeedsValues; }

    Status Begin() override {
        if (Status opened = m_file.Open(); !opened) {
            return opened;
        }
        std::string head = "# source: ";
        head += CommentSafe(m_sourceName);
        head += ", region rows ";
        head += std::to_string(m_region.first.row);
        head += '-';
        head += std::to_string(m_region.last.row);
        head += ", columns ";
        head += std::to_string(m_region.first.column);
        head += '-';
        head += std::to_string(m_region.last.column);
        head += " (";
        head += std::to_string(m_region.Width());
        head += " x ";
        head += std::to_string(m_region.Height());
        head += " pixels)\nframe,min,mean,max,unit\n";
        return m_file.Append(head);
    }

    Status Write(const ProcessedFrame& frame) override {
        m_line = std::to_string(frame.number);
        m_line += ',';
        const RegionStatsText stats = RegionStatsTextOf(frame.values, m_region, frame.scale);
        m_line += stats.min;
        m_line += ',';
        m_line += stats.mean;
        m_line += ',';
        m_line += stats.max;
        m_line += ',';
        m_line += ReadoutUnitText(frame.scale);
        m_line += '\n';
        if (Status appended = m_file.Append(m_line); !appended) {
            return appended;
        }
        CountWritten();
        return {};
    }

    Status Finish() override { return m_file.Finish(); }
    std::vector<std::string> Files() const override { return {m_path}; }

  private:
    CCsvFile m_file;
    const std::string m_path;
    const std::string m_sourceName;
    const SensorRegion m_region;
    std::string m_line;  // one frame's line, reused
};

}  // namespace

std::unique_ptr<IFrameSink> MakeRegionCsvSink(const FileSinkOptions& options) {
    return std::make_unique<CRegionCsvSink>(options);
}
