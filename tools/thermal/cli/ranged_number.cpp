#include "cli/ranged_number.h"

#include <cstdio>

std::string BoundText(double bound) {
    char text[32];
    // Fifteen digits print every bound of the tool's ranges without an exponent.
    std::snprintf(text, sizeof text, "%.15g", bound);
    return text;
}
