#pragma once
// The eight false-colour palettes of the viewer. Each palette is a chain of colour segments over a
// 256-entry table; the frame pipeline colours pixels from it and the palette bar paints the same
// ramps. Pure functions, callable from any thread on tables the caller owns.
#include <cstdint>

// Number of entries in a colour table.
inline constexpr int kPaletteSize = 256;

// Lowest and highest table entries the colour mapping ever uses.
inline constexpr int kFirstUsedEntry = 5;
inline constexpr int kLastUsedEntry = 250;

// Packs a colour as a table entry: red in the low byte, then green, then blue.
constexpr uint32_t PaletteEntry(int red, int green, int blue) {
    return static_cast<uint32_t>(red) | (static_cast<uint32_t>(green) << 8) |
           (static_cast<uint32_t>(blue) << 16);
}

// Rebuilds `table` with palette `number` (1 to 8) and returns true. Entries the palette does not
// write (255, and 254 for palette 7) keep what the previous palette left there: the table is
// never cleared between palettes. Any other number leaves the table untouched and returns false.
bool BuildPalette(int number, uint32_t table[kPaletteSize]);
