// The .csv output of `thermal convert --region`: one line per frame with the region's minimum,
// mean and maximum in the frame's unit, after a '#' line naming the source and the region and a
// header line. The numbers are written as the text frame writes them (the mean with its number of
// decimals), so they match the full CSV of the same recording. UTF-8, LF line ends.
#include <string>

#include "convert_csv_file.h"
#include "convert_sink.h"
#include "processing/frame_readout.h"

namespace {

class CRegionCsvSink final : public IConvertSink {
  public:
    CRegionCsvSink(const std::string& path, const struct stat& input, SensorRegion region)
        : m_file(path, input), m_region(region) {}

    bool Open(const std::string& sourceName, std::string& error) {
        if (!m_file.Open(error)) {
            return false;
        }
        std::string head = "# source: ";
        head += CommentSafe(sourceName);
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
        return m_file.Append(head, error);
    }

    bool Write(const ConvertedFrame& frame, std::string& error) override {
        const ReadoutScale scale = ReadoutScaleOf(frame);
        const RegionStats stats = ComputeRegionStats(frame.values, m_region, scale);
        m_line = std::to_string(frame.sourceNumber);
        m_line += ',';
        m_line += ReadoutValueText(stats.min, scale);
        m_line += ',';
        m_line += ReadoutMeanText(stats.mean, scale);
        m_line += ',';
        m_line += ReadoutValueText(stats.max, scale);
        m_line += ',';
        m_line += ReadoutUnitText(scale);
        m_line += '\n';
        return m_file.Append(m_line, error);
    }

    bool Finish(std::string& error) override { return m_file.Finish(error); }

  private:
    CConvertCsvFile m_file;
    const SensorRegion m_region;
    std::string m_line;  // one frame's line, reused
};

}  // namespace

std::unique_ptr<IConvertSink> CreateRegionCsvSink(const std::string& path, const struct stat& input,
                                                  const std::string& sourceName,
                                                  const SensorRegion& region, std::string& error) {
    auto sink = std::make_unique<CRegionCsvSink>(path, input, region);
    if (!sink->Open(sourceName, error)) {
        return nullptr;
    }
    return sink;
}
