// The sibling library's icon drawing: a file icon (a page with a folded corner,
// the file extension on it) above a caption, written as a GIF89a picture.
// One built-in 5x7 bitmap font serves every font name.

#include <algorithm>
#include <array>
#include <new>
#include <cstring>
#include <string>
#include <vector>

#include "nn/nn.h"

namespace {

// Columns of each glyph, bit 0 the top row, for ' ' (0x20) to '~' (0x7E).
constexpr uint8_t kFont5x7[95][5] = {
    {0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x5F, 0x00, 0x00}, {0x00, 0x07, 0x00, 0x07, 0x00},
    {0x14, 0x7F, 0x14, 0x7F, 0x14}, {0x24, 0x2A, 0x7F, 0x2A, 0x12}, {0x23, 0x13, 0x08, 0x64, 0x62},
    {0x36, 0x49, 0x55, 0x22, 0x50}, {0x00, 0x05, 0x03, 0x00, 0x00}, {0x00, 0x1C, 0x22, 0x41, 0x00},
    {0x00, 0x41, 0x22, 0x1C, 0x00}, {0x08, 0x2A, 0x1C, 0x2A, 0x08}, {0x08, 0x08, 0x3E, 0x08, 0x08},
    {0x00, 0x50, 0x30, 0x00, 0x00}, {0x08, 0x08, 0x08, 0x08, 0x08}, {0x00, 0x60, 0x60, 0x00, 0x00},
    {0x20, 0x10, 0x08, 0x04, 0x02}, {0x3E, 0x51, 0x49, 0x45, 0x3E}, {0x00, 0x42, 0x7F, 0x40, 0x00},
    {0x42, 0x61, 0x51, 0x49, 0x46}, {0x21, 0x41, 0x45, 0x4B, 0x31}, {0x18, 0x14, 0x12, 0x7F, 0x10},
    {0x27, 0x45, 0x45, 0x45, 0x39}, {0x3C, 0x4A, 0x49, 0x49, 0x30}, {0x01, 0x71, 0x09, 0x05, 0x03},
    {0x36, 0x49, 0x49, 0x49, 0x36}, {0x06, 0x49, 0x49, 0x29, 0x1E}, {0x00, 0x36, 0x36, 0x00, 0x00},
    {0x00, 0x56, 0x36, 0x00, 0x00}, {0x08, 0x14, 0x22, 0x41, 0x00}, {0x14, 0x14, 0x14, 0x14, 0x14},
    {0x00, 0x41, 0x22, 0x14, 0x08}, {0x02, 0x01, 0x51, 0x09, 0x06}, {0x32, 0x49, 0x79, 0x41, 0x3E},
    {0x7E, 0x11, 0x11, 0x11, 0x7E}, {0x7F, 0x49, 0x49, 0x49, 0x36}, {0x3E, 0x41, 0x41, 0x41, 0x22},
    {0x7F, 0x41, 0x41, 0x22, 0x1C}, {0x7F, 0x49, 0x49, 0x49, 0x41}, {0x7F, 0x09, 0x09, 0x09, 0x01},
    {0x3E, 0x41, 0x49, 0x49, 0x7A}, {0x7F, 0x08, 0x08, 0x08, 0x7F}, {0x00, 0x41, 0x7F, 0x41, 0x00},
    {0x20, 0x40, 0x41, 0x3F, 0x01}, {0x7F, 0x08, 0x14, 0x22, 0x41}, {0x7F, 0x40, 0x40, 0x40, 0x40},
    {0x7F, 0x02, 0x0C, 0x02, 0x7F}, {0x7F, 0x04, 0x08, 0x10, 0x7F}, {0x3E, 0x41, 0x41, 0x41, 0x3E},
    {0x7F, 0x09, 0x09, 0x09, 0x06}, {0x3E, 0x41, 0x51, 0x21, 0x5E}, {0x7F, 0x09, 0x19, 0x29, 0x46},
    {0x46, 0x49, 0x49, 0x49, 0x31}, {0x01, 0x01, 0x7F, 0x01, 0x01}, {0x3F, 0x40, 0x40, 0x40, 0x3F},
    {0x1F, 0x20, 0x40, 0x20, 0x1F}, {0x3F, 0x40, 0x38, 0x40, 0x3F}, {0x63, 0x14, 0x08, 0x14, 0x63},
    {0x07, 0x08, 0x70, 0x08, 0x07}, {0x61, 0x51, 0x49, 0x45, 0x43}, {0x00, 0x7F, 0x41, 0x41, 0x00},
    {0x02, 0x04, 0x08, 0x10, 0x20}, {0x00, 0x41, 0x41, 0x7F, 0x00}, {0x04, 0x02, 0x01, 0x02, 0x04},
    {0x40, 0x40, 0x40, 0x40, 0x40}, {0x00, 0x01, 0x02, 0x04, 0x00}, {0x20, 0x54, 0x54, 0x54, 0x78},
    {0x7F, 0x48, 0x44, 0x44, 0x38}, {0x38, 0x44, 0x44, 0x44, 0x20}, {0x38, 0x44, 0x44, 0x48, 0x7F},
    {0x38, 0x54, 0x54, 0x54, 0x18}, {0x08, 0x7E, 0x09, 0x01, 0x02}, {0x0C, 0x52, 0x52, 0x52, 0x3E},
    {0x7F, 0x08, 0x04, 0x04, 0x78}, {0x00, 0x44, 0x7D, 0x40, 0x00}, {0x20, 0x40, 0x44, 0x3D, 0x00},
    {0x7F, 0x10, 0x28, 0x44, 0x00}, {0x00, 0x41, 0x7F, 0x40, 0x00}, {0x7C, 0x04, 0x18, 0x04, 0x78},
    {0x7C, 0x08, 0x04, 0x04, 0x78}, {0x38, 0x44, 0x44, 0x44, 0x38}, {0x7C, 0x14, 0x14, 0x14, 0x08},
    {0x08, 0x14, 0x14, 0x18, 0x7C}, {0x7C, 0x08, 0x04, 0x04, 0x08}, {0x48, 0x54, 0x54, 0x54, 0x20},
    {0x04, 0x3F, 0x44, 0x40, 0x20}, {0x3C, 0x40, 0x40, 0x20, 0x7C}, {0x1C, 0x20, 0x40, 0x20, 0x1C},
    {0x3C, 0x40, 0x30, 0x40, 0x3C}, {0x44, 0x28, 0x10, 0x28, 0x44}, {0x0C, 0x50, 0x50, 0x50, 0x3C},
    {0x44, 0x64, 0x54, 0x4C, 0x44}, {0x00, 0x08, 0x36, 0x41, 0x00}, {0x00, 0x00, 0x7F, 0x00, 0x00},
    {0x00, 0x41, 0x36, 0x08, 0x00}, {0x02, 0x01, 0x02, 0x04, 0x02},
};

constexpr int kCellWidth = 6;   // 5 columns and a gap
constexpr int kCellHeight = 8;  // 7 rows and a gap
constexpr int kIconSize = 32;
constexpr int kMargin = 2;
constexpr int kGap = 2;            // between the icon and the caption
constexpr size_t kMaxCaption = 255;  // characters drawn at most
constexpr int kMaxScale = 16;

enum Colour : uint8_t { kBackground = 0, kBlack = 1, kWhite = 2, kGrey = 3 };

struct Canvas {
  int width, height;
  std::vector<uint8_t> pixels;
  Canvas(int w, int h) : width(w), height(h), pixels(size_t(w) * size_t(h), kBackground) {}
  void set(int x, int y, uint8_t c) {
    if (x >= 0 && y >= 0 && x < width && y < height) pixels[size_t(y) * size_t(width) + size_t(x)] = c;
  }
};

// Printable ASCII draws itself; anything else (each UTF-8 character, or each
// stray byte) draws as '?'.
std::string captionGlyphs(const char* caption) {
  std::string glyphs;
  if (caption == nullptr) return glyphs;
  const auto* p = reinterpret_cast<const uint8_t*>(caption);
  while (*p != 0 && glyphs.size() < kMaxCaption) {
    uint8_t b = *p++;
    if (b >= 0x20 && b < 0x7F) {
      glyphs.push_back(char(b));
      continue;
    }
    glyphs.push_back('?');
    if (b >= 0xC0) {  // skip the continuation bytes of one UTF-8 character
      int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
      while (more-- > 0 && (*p & 0xC0) == 0x80) ++p;
    }
  }
  return glyphs;
}

void drawGlyph(Canvas& c, int x0, int y0, char ch, int scale, uint8_t colour) {
  unsigned index = static_cast<unsigned char>(ch) - 0x20;
  if (index >= 95) index = '?' - 0x20;
  for (int col = 0; col < 5; ++col) {
    uint8_t bits = kFont5x7[index][col];
    for (int row = 0; row < 7; ++row) {
      if (!(bits & (1u << row))) continue;
      for (int dy = 0; dy < scale; ++dy)
        for (int dx = 0; dx < scale; ++dx) c.set(x0 + col * scale + dx, y0 + row * scale + dy, colour);
    }
  }
}

void drawIcon(Canvas& c, int x0, int y0, const char* extension) {
  const int left = 5, right = 26, top = 1, bottom = 30, fold = 7;
  const int foldX = right - fold;  // where the folded corner begins
  for (int y = top; y <= bottom; ++y) {
    for (int x = left; x <= right; ++x) {
      bool cut = x > foldX + (y - top);  // outside the page, beyond the fold
      if (cut) continue;
      bool inFold = x >= foldX && y <= top + fold;
      uint8_t colour = inFold ? kGrey : kWhite;
      bool edge = x == left || x == right || y == top || y == bottom ||
                  x == foldX + (y - top) || (inFold && (x == foldX || y == top + fold));
      c.set(x0 + x, y0 + y, edge ? uint8_t(kBlack) : colour);
    }
  }
  // Up to three characters of the extension, upper case, on the page.
  std::string ext;
  if (extension != nullptr) {
    const char* e = extension;
    if (*e == '.') ++e;
    for (; *e != 0 && ext.size() < 3; ++e) {
      unsigned char ch = static_cast<unsigned char>(*e);
      ext.push_back(ch >= 'a' && ch <= 'z' ? char(ch - 32) : (ch >= 0x20 && ch < 0x7F ? char(ch) : '?'));
    }
  }
  if (ext.empty()) {
    for (int y = 13; y <= 25; y += 3)
      for (int x = left + 4; x <= right - 4; ++x) c.set(x0 + x, y0 + y, kGrey);
    return;
  }
  int textWidth = int(ext.size()) * kCellWidth - 1;
  int tx = left + 1 + (right - left - 1 - textWidth) / 2;
  for (size_t i = 0; i < ext.size(); ++i) drawGlyph(c, x0 + tx + int(i) * kCellWidth, y0 + 17, ext[i], 1, kBlack);
}

// ---- GIF writing -----------------------------------------------------------------

struct BitWriter {
  std::vector<uint8_t>& out;
  std::vector<uint8_t> block;  // the data sub-block being filled
  uint32_t acc = 0;
  int bits = 0;
  explicit BitWriter(std::vector<uint8_t>& o) : out(o) {}
  void flushBlock() {
    if (block.empty()) return;
    out.push_back(uint8_t(block.size()));
    out.insert(out.end(), block.begin(), block.end());
    block.clear();
  }
  void byte(uint8_t b) {
    block.push_back(b);
    if (block.size() == 255) flushBlock();
  }
  void code(uint32_t value, int size) {
    acc |= value << bits;
    bits += size;
    while (bits >= 8) {
      byte(uint8_t(acc & 0xFF));
      acc >>= 8;
      bits -= 8;
    }
  }
  void finish() {
    if (bits > 0) byte(uint8_t(acc & 0xFF));
    acc = 0;
    bits = 0;
    flushBlock();
    out.push_back(0);  // block terminator
  }
};

// Variable-length LZW as GIF wants it: codes grow from minCodeSize + 1 bits up
// to 12, and the table restarts with a clear code when it is full.
void lzwEncode(const std::vector<uint8_t>& pixels, std::vector<uint8_t>& out) {
  constexpr int kMinCodeSize = 2;
  constexpr uint32_t kClear = 1u << kMinCodeSize, kEnd = kClear + 1;
  constexpr uint32_t kMaxCode = 4095;
  out.push_back(kMinCodeSize);
  // next[code][pixel]: the code for that string plus that pixel, 0 when none.
  std::vector<std::array<uint16_t, 4>> next(kMaxCode + 1);
  BitWriter w(out);
  int codeSize = kMinCodeSize + 1;
  uint32_t lastCode = kEnd;
  auto reset = [&] {
    for (auto& n : next) n.fill(0);
    codeSize = kMinCodeSize + 1;
    lastCode = kEnd;
  };
  w.code(kClear, codeSize);
  if (pixels.empty()) {
    w.code(kEnd, codeSize);
    w.finish();
    return;
  }
  uint32_t current = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    uint8_t px = pixels[i];
    if (next[current][px] != 0) {
      current = next[current][px];
      continue;
    }
    w.code(current, codeSize);
    next[current][px] = uint16_t(++lastCode);
    if (lastCode >= (1u << codeSize) && codeSize < 12) ++codeSize;
    if (lastCode == kMaxCode) {
      w.code(kClear, codeSize);
      reset();
    }
    current = px;
  }
  w.code(current, codeSize);
  // The reader adds one more entry after that last code and may widen then.
  if (lastCode + 1 >= (1u << codeSize) && codeSize < 12) ++codeSize;
  w.code(kEnd, codeSize);
  w.finish();
}

void put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x & 0xFF));
  v.push_back(uint8_t(x >> 8));
}

std::vector<uint8_t> writeGif(const Canvas& c, uint32_t backgroundRgb) {
  std::vector<uint8_t> g;
  g.reserve(c.pixels.size() / 4 + 64);
  const char* sig = "GIF89a";
  g.insert(g.end(), sig, sig + 6);
  put16(g, uint16_t(c.width));
  put16(g, uint16_t(c.height));
  g.push_back(0xF1);  // global colour table of 4 entries, 8-bit colour resolution
  g.push_back(kBackground);
  g.push_back(0);     // square pixels
  const uint32_t palette[4] = {backgroundRgb & 0xFFFFFF, 0x000000, 0xFFFFFF, 0xC0C0C0};
  for (uint32_t rgb : palette) {
    g.push_back(uint8_t(rgb >> 16));
    g.push_back(uint8_t(rgb >> 8));
    g.push_back(uint8_t(rgb));
  }
  g.push_back(0x2C);  // image descriptor: the whole screen, no local table
  put16(g, 0);
  put16(g, 0);
  put16(g, uint16_t(c.width));
  put16(g, uint16_t(c.height));
  g.push_back(0);
  lzwEncode(c.pixels, g);
  g.push_back(0x3B);
  return g;
}

}  // namespace

NnStatus AnnotateGifToBuffer(const char* caption, const char* /*fontName*/, uint16_t pointSize,
                             const char* extension, uint32_t backgroundRgb, uint8_t* buf,
                             uint32_t* bufSize, uint16_t* width, uint16_t* height) {
  if (bufSize == nullptr || (buf == nullptr && *bufSize != 0)) return NN_ERR_INVALID_ARG;
  try {
    const std::string glyphs = captionGlyphs(caption);
    const int scale = std::clamp(pointSize / 8, 1, kMaxScale);
    const int captionWidth = int(glyphs.size()) * kCellWidth * scale;
    const int captionHeight = glyphs.empty() ? 0 : kCellHeight * scale;
    const int w = std::max(kIconSize, captionWidth) + 2 * kMargin;
    const int h = kIconSize + (glyphs.empty() ? 0 : kGap + captionHeight) + 2 * kMargin;

    Canvas canvas(w, h);
    drawIcon(canvas, (w - kIconSize) / 2, kMargin, extension);
    int x = (w - captionWidth) / 2 + scale / 2;  // centre the ink, not the trailing gap
    const int y = kMargin + kIconSize + kGap;
    for (char ch : glyphs) {
      drawGlyph(canvas, x, y, ch, scale, kBlack);
      x += kCellWidth * scale;
    }
    const std::vector<uint8_t> gif = writeGif(canvas, backgroundRgb);
    if (gif.size() > *bufSize) {
      *bufSize = uint32_t(gif.size());
      return NN_ERR_MEMORY;
    }
    std::memcpy(buf, gif.data(), gif.size());
    *bufSize = uint32_t(gif.size());
    if (width != nullptr) *width = uint16_t(w);
    if (height != nullptr) *height = uint16_t(h);
    return NN_OK;
  } catch (const std::bad_alloc&) {
    return NN_ERR_MEMORY;
  }
}

NnStatus GetImageSizeFromURL(const char* /*url*/, uint16_t* width, uint16_t* height) {
  if (width != nullptr) *width = 0;
  if (height != nullptr) *height = 0;
  return NN_OK;
}
