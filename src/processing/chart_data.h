#pragma once
// CChartData: the record the distribution chart draws, and the pure layout rules that turn it
// into bars and axis labels. The frame-ready presentation builds one record per frame (on the
// processing thread) and hands it to the chart, which owns it from then on; the layout
// functions run while the chart paints on the GUI thread. Nothing here keeps state or locks.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/conversion.h"

// Units of the chart's labels: the temperature units of the main dialog plus volts.
enum ChartUnit : int {
    kChartKelvin = kUnitKelvin,
    kChartCelsius = kUnitCelsius,
    kChartFahrenheit = kUnitFahrenheit,
    kChartVolt = 4,
};

struct CChartData {
    // Histogram: count per raw value from firstKey to lastKey. Profile: the 32 values of the
    // hottest row (keys 0 to 31).
    std::vector<int32_t> values;
    int32_t pointCount = 0;
    int32_t lastKey = 0;
    int32_t firstKey = 0;
    int32_t maximum = 0;  // largest entry of values
    int32_t minimum = 0;  // smallest entry of values

    // Counts how many of the count pixels have each raw value. A count of 0 leaves the
    // record empty.
    void BuildHistogram(int count, const uint16_t* pixels);

    // The row of the first occurrence of the frame's largest value (row 0 if all are 0),
    // reversed for mirror modes 1 (X) and 3 (both).
    void BuildProfile(int mirrorMode, int columns, int rows, const uint16_t* pixels);
};

// How keys are grouped into bars for a plot of a given width.
struct ChartGrouping {
    int groupSize = 1;    // keys per bar
    int startKey = 0;     // first key walked; forms a bar of its own
    int endKey = 0;       // last key walked
    double barWidth = 0;  // pixels per bar
};

struct ChartBar {
    int key = 0;      // the last key the bar collected, used for its label
    int64_t sum = 0;  // the entries of the collected keys that lie within the data
};

// Chooses the group size so that bars stay wider than 10 pixels. An empty or inconsistent
// record, or a plot without width (a chart squeezed too small), gives groupSize 0: no bars.
ChartGrouping ComputeGrouping(const CChartData& data, int plotWidth);

// Walks the keys of the grouping and sums the record's entries into bars.
std::vector<ChartBar> GroupBars(const CChartData& data, const ChartGrouping& grouping);

// Where each bar sits: x is the bar's left edge, x1 its right edge. Layout stops at the first
// bar that would end right of plotRight.
struct ChartBarSpan {
    int x = 0;
    int x1 = 0;
};
std::vector<ChartBarSpan> LayoutBars(size_t barCount, double barWidth, int plotLeft, int plotRight);

// Count labels of the histogram's vertical axis, top first, chosen by the largest bar sum.
std::array<int, 5> CountLabels(int64_t largestSum);

// Value labels of the profile's vertical axis, top first, from the record's extremes.
std::array<int, 5> ValueLabels(int32_t maximum, int32_t minimum, int unit);

// A raw value (tenths of a kelvin, or converter counts for volts) in the chart's unit.
double RawToUnit(double raw, int unit);

// The histogram's horizontal label of a key: one decimal, three for volts.
std::string HistogramKeyLabel(int key, int unit);

// Whether a horizontal label of labelWidth pixels may be drawn at x, given the right end of
// the last drawn label (the plot's left edge before the first one).
bool HorizontalLabelFits(int x, int labelWidth, int plotLeft, int plotRight, int lastLabelRight);

// Top edge of a histogram bar of sum S; topValue is the top label's number.
int HistogramBarTop(int64_t sum, int topValue, int topLineY, int bottomLineY);

// Top edge of a profile bar whose value in the unit is value; topValue and bottomValue are the
// top and bottom labels' numbers.
int ProfileBarTop(double value, int topValue, int bottomValue, int topLineY, int bottomLineY);
