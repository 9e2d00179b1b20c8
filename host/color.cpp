#include "host/color.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

constexpr PaletteTable MakePalette() {
  PaletteTable t{};
  const uint8_t base[16][3] = {
      {0, 0, 0},     {255, 255, 255}, {255, 0, 0},     {0, 255, 0},
      {0, 0, 255},   {255, 0, 255},   {255, 255, 0},   {0, 255, 255},
      {128, 0, 0},   {0, 128, 0},     {0, 0, 128},     {128, 0, 128},
      {128, 128, 0}, {0, 128, 128},   {128, 128, 128}, {192, 192, 192}};
  for (int i = 0; i < 16; i++) {
    for (int c = 0; c < 3; c++) t.entries[i][c] = base[i][c];
    t.entries[i][3] = 0;
  }
  int n = 16;
  for (int r = 0; r < 6; r++) {
    for (int g = 0; g < 6; g++) {
      for (int b = 0; b < 6; b++, n++) {
        t.entries[n][0] = static_cast<uint8_t>(r * 51);
        t.entries[n][1] = static_cast<uint8_t>(g * 51);
        t.entries[n][2] = static_cast<uint8_t>(b * 51);
        t.entries[n][3] = 0;
      }
    }
  }
  for (int i = 0; i < 8; i++, n++) {
    uint8_t v = static_cast<uint8_t>((i + 1) * 28);
    t.entries[n][0] = t.entries[n][1] = t.entries[n][2] = v;
    t.entries[n][3] = 0;
  }
  // The one entry beyond the standard colours whose value is known for
  // certain; the others of the cube and greys are approximations.
  t.entries[17][0] = 0xCE;
  t.entries[17][1] = 0xEF;
  t.entries[17][2] = 0xFF;
  return t;
}

const char* const kStandardNames[16] = {
    "Black",   "White",    "Red",       "Green",    "Blue",        "Magenta",
    "Yellow",  "Cyan",     "DarkRed",   "DarkGreen", "DarkBlue",   "DarkMagenta",
    "DarkYellow", "DarkCyan", "Gray",   "LightGray"};
const char* const kWebNames[16] = {"Black",  "White",  "Red",    "Lime",  "Blue", "Fuchsia",
                                   "Yellow", "Aqua",   "Maroon", "Green", "Navy", "Purple",
                                   "Olive",  "Teal",   "Gray",   "Silver"};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads a decimal 0..255 at *p, advancing it.
bool ReadByte(const char*& p, const char* end, uint8_t* out) {
  int value = 0, digits = 0;
  while (p < end && *p >= '0' && *p <= '9') {
    value = value * 10 + (*p - '0');
    if (value > 255) return false;
    p++;
    digits++;
  }
  if (!digits) return false;
  *out = static_cast<uint8_t>(value);
  return true;
}

void SkipSeparators(const char*& p, const char* end, bool allowComma) {
  while (p < end && (IsSpace(*p) || (allowComma && *p == ','))) p++;
}

bool ParseRgbForm(const char* p, const char* end, ColorRGB* out) {
  // p follows "RGB"
  bool paren = false;
  SkipSeparators(p, end, false);
  if (p < end && *p == '(') {
    paren = true;
    p++;
  } else if (p == end) {
    return false;
  }
  uint8_t v[3];
  for (int i = 0; i < 3; i++) {
    SkipSeparators(p, end, i > 0);
    if (!ReadByte(p, end, &v[i])) return false;
  }
  SkipSeparators(p, end, false);
  if (paren) {
    if (p == end || *p != ')') return false;
    p++;
    SkipSeparators(p, end, false);
  }
  if (p != end) return false;
  out->red = v[0];
  out->green = v[1];
  out->blue = v[2];
  out->unused = 0;
  return true;
}

int NameIndex(const char* p, size_t len, ColorNames names) {
  auto is = [&](const char* name) {
    return std::strlen(name) == len && strncasecmp(p, name, len) == 0;
  };
  if (is("Green")) return names == ColorNames::Web ? 9 : 3;
  for (int i = 0; i < 16; i++) {
    if (is(kStandardNames[i]) || is(kWebNames[i])) return i;
  }
  if (is("Grey")) return 14;
  if (is("LightGrey")) return 15;
  return -1;
}

}  // namespace

constinit const PaletteTable PaletteRgbTable = MakePalette();

ColorRGB PaletteColor(uint16_t index) {
  ColorRGB c;
  if (index >= kPaletteSize) return c;
  c.red = PaletteRgbTable[index][0];
  c.green = PaletteRgbTable[index][1];
  c.blue = PaletteRgbTable[index][2];
  return c;
}

uint16_t PaletteNearest(ColorRGB color) {
  uint16_t best = 0;
  long bestDist = -1;
  for (uint16_t i = 0; i < kPaletteSize; i++) {
    long dr = static_cast<long>(PaletteRgbTable[i][0]) - color.red;
    long dg = static_cast<long>(PaletteRgbTable[i][1]) - color.green;
    long db = static_cast<long>(PaletteRgbTable[i][2]) - color.blue;
    long d = dr * dr + dg * dg + db * db;
    if (bestDist < 0 || d < bestDist) {
      bestDist = d;
      best = i;
      if (d == 0) break;
    }
  }
  return best;
}

const char* ColorName(uint16_t paletteIndex, ColorNames names) {
  if (paletteIndex >= 16) return nullptr;
  return names == ColorNames::Web ? kWebNames[paletteIndex] : kStandardNames[paletteIndex];
}

int ParseColor(const char* text, uint16_t* paletteIndexOut, ColorRGB* colorOut,
               ColorNames names) {
  if (!text) return 1;
  const char* p = text;
  while (IsSpace(*p)) p++;
  const char* end = p + std::strlen(p);
  while (end > p && IsSpace(end[-1])) end--;
  size_t len = static_cast<size_t>(end - p);
  if (!len) return 1;

  ColorRGB color;
  int index = -1;
  if (*p == '#') {
    if (len != 4 && len != 7) return 1;
    int d[6];
    for (size_t i = 1; i < len; i++) {
      d[i - 1] = HexDigit(p[i]);
      if (d[i - 1] < 0) return 1;
    }
    if (len == 4) {
      color.red = static_cast<uint8_t>(d[0] * 17);
      color.green = static_cast<uint8_t>(d[1] * 17);
      color.blue = static_cast<uint8_t>(d[2] * 17);
    } else {
      color.red = static_cast<uint8_t>(d[0] * 16 + d[1]);
      color.green = static_cast<uint8_t>(d[2] * 16 + d[3]);
      color.blue = static_cast<uint8_t>(d[4] * 16 + d[5]);
    }
  } else if (len > 3 && strncasecmp(p, "RGB", 3) == 0 &&
             (p[3] == '(' || IsSpace(p[3]) || (p[3] >= '0' && p[3] <= '9'))) {
    // "RGB(r,g,b)", "RGB r g b", and "RGBr,g,b" as the property writers give it.
    if (!ParseRgbForm(p + 3, end, &color)) return 1;
  } else if (*p >= '0' && *p <= '9') {
    int value = 0;
    for (const char* q = p; q < end; q++) {
      if (*q < '0' || *q > '9') return 1;
      value = value * 10 + (*q - '0');
      if (value >= kPaletteSize) return 1;
    }
    index = value;
    color = PaletteColor(static_cast<uint16_t>(index));
  } else {
    index = NameIndex(p, len, names);
    if (index < 0) return 1;
    color = PaletteColor(static_cast<uint16_t>(index));
  }
  if (index < 0) index = PaletteNearest(color);
  if (paletteIndexOut) *paletteIndexOut = static_cast<uint16_t>(index);
  if (colorOut) *colorOut = color;
  return 0;
}

void FormatHexColor(uint8_t red, uint8_t green, uint8_t blue, char* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  const uint8_t parts[3] = {red, green, blue};
  out[0] = '#';
  for (int i = 0; i < 3; ++i) {
    out[1 + 2 * i] = kHex[parts[i] >> 4];
    out[2 + 2 * i] = kHex[parts[i] & 0xF];
  }
  out[7] = 0;
}
