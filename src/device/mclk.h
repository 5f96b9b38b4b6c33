#pragma once
// Finds the module clock (MCLK, in kHz) in a text reply: the word just before a marker. The
// information reply (`M`) carries it as "... 8000 kHz"; the step replies (`a`, `A`) at the end of
// their first line. Pure function; the serial monitor thread calls it.
#include <optional>
#include <string>
#include <string_view>

enum class MclkMarker {
    Kilohertz,  // " kHz", looked for anywhere except the reply's last character
    LineEnd,    // CR LF, never the reply's closing one
};

// The characters strictly between the last space before the first marker and that marker, or
// nothing when the marker or the space is missing.
std::optional<std::string> FindMclk(std::string_view text, MclkMarker marker);
