#pragma once
// The column rules of the palette bar: for a bar of a given width and one of the eight palette
// numbers, the solid colour of every column in the order the columns are painted. Some columns
// are painted twice (a segment starts on the last column of the one before it) and the
// rightmost columns may stay unpainted. Pure and Qt-free; the bar's paint handler walks the list
// on the GUI thread.
#include <cstdint>
#include <vector>

struct GradientColumn {
    int x = 0;
    uint32_t color = 0;  // red | green << 8 | blue << 16
};

// Empty for a palette number outside 1 to 8 or a width of 0 or less.
std::vector<GradientColumn> GradientColumns(int width, int palette);
