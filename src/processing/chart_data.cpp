#include "processing/chart_data.h"

#include <algorithm>
#include <cstdio>

void CChartData::BuildHistogram(int count, const uint16_t* pixels) {
    *this = CChartData{};
    if (count <= 0 || pixels == nullptr) {
        return;
    }
    const auto [lo, hi] = std::minmax_element(pixels, pixels + count);
    firstKey = *lo;
    lastKey = *hi;
    pointCount = lastKey - firstKey + 1;
    values.assign(static_cast<size_t>(pointCount), 0);
    for (int i = 0; i < count; ++i) {
        ++values[pixels[i] - firstKey];
    }
    const auto [fewest, most] = std::minmax_element(values.begin(), values.end());
    minimum = *fewest;
    maximum = *most;
}

void CChartData::BuildProfile(int mirrorMode, int columns, int rows, const uint16_t* pixels) {
    *this = CChartData{};
    if (columns <= 0 || rows <= 0 || pixels == nullptr) {
        return;
    }
    int hottestRow = 0;
    uint16_t hottest = 0;
    for (int i = 0; i < columns * rows; ++i) {
        if (pixels[i] > hottest) {
            hottest = pixels[i];
            hottestRow = i / columns;
        }
    }
    const uint16_t* row = pixels + static_cast<size_t>(hottestRow) * columns;
    values.assign(row, row + columns);
    if (mirrorMode == 1 || mirrorMode == 3) {
        std::reverse(values.begin(), values.end());
    }
    const auto [fewest, most] = std::minmax_element(values.begin(), values.end());
    minimum = *fewest;
    maximum = *most;
    pointCount = columns;
    firstKey = 0;
    lastKey = columns - 1;
}

ChartGrouping ComputeGrouping(const CChartData& data, int plotWidth) {
    ChartGrouping grouping;
    const int n = data.pointCount;
    if (n <= 0 || plotWidth <= 0 || data.lastKey < data.firstKey) {
        grouping.groupSize = 0;
        return grouping;
    }
    int g = 0;
    for (int candidate : {1, 2, 5, 10}) {
        const int bars = n / candidate;
        if (bars == 0 || static_cast<double>(plotWidth) / bars > 10.0) {
            g = candidate;
            break;
        }
    }
    if (g == 0) {
        g = n / (plotWidth / 10 + 2);
        g = std::max(10, (g + 9) / 10 * 10);
    }
    grouping.groupSize = g;
    grouping.startKey = data.firstKey - data.firstKey % g;
    grouping.endKey = g + data.lastKey - data.lastKey % g;
    grouping.barWidth =
        static_cast<double>(plotWidth) / ((grouping.endKey - grouping.startKey) / g);
    return grouping;
}

std::vector<ChartBar> GroupBars(const CChartData& data, const ChartGrouping& grouping) {
    std::vector<ChartBar> bars;
    if (grouping.groupSize <= 0) {
        return bars;
    }
    ChartBar bar;
    int collected = 0;
    for (int key = grouping.startKey; key <= grouping.endKey; ++key) {
        if (key >= data.firstKey && key <= data.lastKey &&
            static_cast<size_t>(key - data.firstKey) < data.values.size()) {
            bar.sum += data.values[static_cast<size_t>(key - data.firstKey)];
        }
        bar.key = key;
        ++collected;
        // The first key stands alone so that the first bar's label is the start key itself.
        if (key == grouping.startKey || collected == grouping.groupSize) {
            bars.push_back(bar);
            bar = ChartBar{};
            collected = 0;
        }
    }
    return bars;
}

std::vector<ChartBarSpan> LayoutBars(size_t barCount, double barWidth, int plotLeft,
                                     int plotRight) {
    std::vector<ChartBarSpan> spans;
    const int step = static_cast<int>(barWidth + 0.5);
    int x = plotLeft;
    for (size_t i = 0; i < barCount; ++i) {
        const int x1 = x + step;
        if (x1 > plotRight) {
            break;
        }
        spans.push_back({x, x1});
        x = x1;
    }
    return spans;
}

std::array<int, 5> CountLabels(int64_t largestSum) {
    if (largestSum <= 100) {
        return {100, 75, 50, 25, 0};
    }
    if (largestSum <= 200) {
        return {200, 150, 100, 50, 0};
    }
    if (largestSum <= 400) {
        return {400, 300, 200, 100, 0};
    }
    return {999, 750, 500, 250, 0};
}

std::array<int, 5> ValueLabels(int32_t maximum, int32_t minimum, int unit) {
    int top = 0;
    int bottom = 0;
    switch (unit) {
        case kChartKelvin:
            top = maximum / 10 + 1;
            bottom = minimum / 10 - 1;
            break;
        case kChartCelsius:
            top = (maximum - 2730) / 10 + 1;
            bottom = (minimum - 2730) / 10 - 1;
            break;
        case kChartVolt:
            top = static_cast<int>(maximum * kVoltsPerCount + 1);
            bottom = static_cast<int>(minimum * kVoltsPerCount - 1);
            break;
        default:
            top = static_cast<int>((maximum - 2730) / 10.0 * 1.8 + 32) + 1;
            bottom = static_cast<int>((minimum - 2730) / 10.0 * 1.8 + 32) - 1;
            break;
    }
    const int step = std::max(1, (top - bottom) / 4 + 1);
    return {bottom + 4 * step, bottom + 3 * step, bottom + 2 * step, bottom + step, bottom};
}

double RawToUnit(double raw, int unit) {
    switch (unit) {
        case kChartKelvin:
            return raw / 10;
        case kChartCelsius:
            return (raw - 2730) / 10;
        case kChartVolt:
            return raw * kVoltsPerCount;
        default:
            return (raw - 2730) / 10 * 1.8 + 32;
    }
}

std::string HistogramKeyLabel(int key, int unit) {
    char text[32];
    std::snprintf(text, sizeof text, unit == kChartVolt ? "%.3f" : "%.1f", RawToUnit(key, unit));
    return text;
}

bool HorizontalLabelFits(int x, int labelWidth, int plotLeft, int plotRight, int lastLabelRight) {
    const bool clearOfLast = x == plotLeft || labelWidth / 3 < x - lastLabelRight;
    return clearOfLast && x + labelWidth < plotRight;
}

int HistogramBarTop(int64_t sum, int topValue, int topLineY, int bottomLineY) {
    if (topValue < sum) {
        return topLineY - 5;
    }
    return bottomLineY -
           static_cast<int>(static_cast<double>(sum) * (bottomLineY - topLineY) / topValue + 0.5);
}

int ProfileBarTop(double value, int topValue, int bottomValue, int topLineY, int bottomLineY) {
    if (value > topValue) {
        return topLineY - 5;
    }
    return bottomLineY -
           static_cast<int>(
               (value - bottomValue) * (bottomLineY - topLineY) / (topValue - bottomValue) + 0.5);
}
