// The .csv output of a region (`thermal convert --region`): one line per frame with the region's
// minimum, mean and maximum in the frame's unit, after a '#' line naming the source and the region
// and a header line. The numbers are written as the text frame writes them (the mean with its
// number of decimals), so they match the full CSV of the same recording. UTF-8, LF line ends.
#include <string>

#include "outputs/csv_file.h"
#include "outputs/file_sinks.h"
#include "processing/frame_readout.h"

namespace {

class CRegionCsvSink final : public CCsvTableSink {
  public:
    explicit CRegionCsvSink(const FileSinkOptions& options)
        : CCsvTableSink(options.place),
          m_sourceName(options.sourceName),
          m_region(*options.region) {}

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
        m_line += RegionStatsTextOf(frame.values, m_region, frame.scale).Row();
        m_line += ',';
        m_line += ReadoutUnitText(frame.scale);
        m_line += '\n';
        return AppendFrame(m_line);
    }

  private:
    const std::string m_sourceName;
    const SensorRegion m_region;
    std::string m_line;  // one frame's line, reused
};

}  // namespace

std::unique_ptr<IFrameSink> MakeRegionCsvSink(const FileSinkOptions& options) {
    return std::make_unique<CRegionCsvSink>(options);
}
