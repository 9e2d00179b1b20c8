// Colours: parsing colour texts, the 240-entry palette and colour names.
//
// Palette (PaletteRgbTable, entries of red, green, blue, 0):
// - 0..15 the standard colours: black, white, red, green, blue, magenta,
//   yellow, cyan, dark red, dark green, dark blue, dark magenta, dark yellow,
//   dark cyan, gray (128), light gray (192);
// - 16..231 a 6x6x6 colour cube of the levels 0, 51, 102, 153, 204, 255,
//   red varying slowest: entry 16 + 36*r + 6*g + b; except entry 17, which
//   is (206, 239, 255);
// - 232..239 eight greys of 28, 56, ..., 224.
// Entries 16..239 other than 17 approximate the platform's palette: where a
// colour record gives the RGB beside an index, the RGB is used.
//
// Colour names are matched without regard to case. Two naming sets exist:
// - standard: Black, White, Red, Green, Blue, Magenta, Yellow, Cyan, DarkRed,
//   DarkGreen, DarkBlue, DarkMagenta, DarkYellow, DarkCyan, Gray, LightGray;
// - web: Black, White, Red, Lime, Blue, Fuchsia, Yellow, Aqua, Maroon, Green,
//   Navy, Purple, Olive, Teal, Gray, Silver.
// Both sets are always recognised. The one name they disagree on, "Green",
// means palette 3 (0,255,0) under the standard set and palette 9 (0,128,0)
// under the web set; the parser uses the standard set unless told otherwise.
// "Grey" and "LightGrey" are accepted as spellings of Gray and LightGray.
#pragma once

#include <cstddef>
#include <cstdint>

struct ColorRGB {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  uint8_t unused = 0;
  bool operator==(const ColorRGB&) const = default;
};

enum class ColorNames : uint8_t { Web = 0, Standard = 1 };

constexpr uint16_t kPaletteSize = 240;

struct PaletteTable {
  uint8_t entries[kPaletteSize][4];
  const uint8_t* operator[](size_t index) const { return entries[index]; }
};
extern const PaletteTable PaletteRgbTable;

// 0 when `text` (blanks around it ignored) is a colour:
// - "#" with 3 or 6 hexadecimal digits ("#f00" = "#ff0000");
// - "RGB(r,g,b)", "RGB r g b" or "RGBr,g,b" (numbers 0..255, blanks or commas
//   between);
// - a colour name of either set;
// - a palette number 0..239.
// Then the palette index (for RGB forms the nearest palette entry, exact
// matches first) and the colour are written to the outputs that are not null.
// Non-zero (and outputs untouched) otherwise.
int ParseColor(const char* text, uint16_t* paletteIndexOut, ColorRGB* colorOut,
               ColorNames names = ColorNames::Standard);

// The palette entry nearest to a colour (squared distance; lowest index on ties).
uint16_t PaletteNearest(ColorRGB color);
// The palette entry's colour; black for an index beyond the palette.
ColorRGB PaletteColor(uint16_t index);

// "#rrggbb" in lower-case hexadecimal, terminated, into `out` (eight characters).
void FormatHexColor(uint8_t red, uint8_t green, uint8_t blue, char* out);

// The name of palette entries 0..15 under a naming set; null for other indices.
const char* ColorName(uint16_t paletteIndex, ColorNames names);
