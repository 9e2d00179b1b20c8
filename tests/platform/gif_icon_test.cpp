// The icon GIF: decoded here by a small reader of our own to prove the file
// is a real GIF and the picture has the size reported.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "nn/nn.h"

namespace {

struct DecodedGif {
  uint16_t width = 0, height = 0;
  std::vector<uint32_t> palette;  // 0xRRGGBB
  std::vector<uint8_t> pixels;
  bool trailer = false;
};

// A plain reader: header, global table, one image, LZW, trailer. Returns false
// (with a message) on anything unexpected.
bool decodeGif(const std::vector<uint8_t>& g, DecodedGif* out, std::string* why) {
  size_t pos = 0;
  auto need = [&](size_t n) { return pos + n <= g.size(); };
  auto u16 = [&](size_t at) { return uint16_t(g[at] | (g[at + 1] << 8)); };
  if (!need(13) || std::memcmp(g.data(), "GIF89a", 6) != 0) return *why = "header", false;
  out->width = u16(6);
  out->height = u16(8);
  uint8_t flags = g[10];
  pos = 13;
  if (flags & 0x80) {
    size_t entries = size_t(2) << (flags & 7);
    if (!need(entries * 3)) return *why = "palette", false;
    for (size_t i = 0; i < entries; ++i, pos += 3)
      out->palette.push_back(uint32_t(g[pos]) << 16 | uint32_t(g[pos + 1]) << 8 | g[pos + 2]);
  }
  while (need(1) && g[pos] == 0x21) {  // skip extensions
    pos += 2;
    while (need(1) && g[pos] != 0) pos += 1 + g[pos];
    ++pos;
  }
  if (!need(10) || g[pos] != 0x2C) return *why = "descriptor", false;
  uint16_t w = u16(pos + 5), h = u16(pos + 7);
  if (w != out->width || h != out->height) return *why = "image size", false;
  if (g[pos + 9] & 0x80) return *why = "local table", false;
  pos += 10;
  if (!need(1)) return *why = "code size", false;
  int minSize = g[pos++];
  std::vector<uint8_t> data;
  while (true) {
    if (!need(1)) return *why = "sub-block", false;
    uint8_t n = g[pos++];
    if (n == 0) break;
    if (!need(n)) return *why = "sub-block data", false;
    data.insert(data.end(), g.begin() + long(pos), g.begin() + long(pos + n));
    pos += n;
  }
  out->trailer = need(1) && g[pos] == 0x3B && pos + 1 == g.size();

  const int clear = 1 << minSize, end = clear + 1;
  std::vector<std::vector<uint8_t>> dict;
  auto resetDict = [&] {
    dict.assign(size_t(clear + 2), {});
    for (int i = 0; i < clear; ++i) dict[size_t(i)] = {uint8_t(i)};
  };
  resetDict();
  int size = minSize + 1;
  size_t bitPos = 0;
  int prev = -1;
  while (true) {
    if (bitPos + size_t(size) > data.size() * 8) return *why = "ran out of codes", false;
    int code = 0;
    for (int b = 0; b < size; ++b, ++bitPos)
      if (data[bitPos / 8] & (1 << (bitPos % 8))) code |= 1 << b;
    if (code == clear) {
      resetDict();
      size = minSize + 1;
      prev = -1;
      continue;
    }
    if (code == end) break;
    std::vector<uint8_t> entry;
    if (code < int(dict.size()) && !(code >= clear && code <= end)) {
      entry = dict[size_t(code)];
    } else if (code == int(dict.size()) && prev >= 0) {
      entry = dict[size_t(prev)];
      entry.push_back(dict[size_t(prev)][0]);
    } else {
      return *why = "bad code " + std::to_string(code), false;
    }
    out->pixels.insert(out->pixels.end(), entry.begin(), entry.end());
    if (prev >= 0 && dict.size() < 4096) {
      std::vector<uint8_t> added = dict[size_t(prev)];
      added.push_back(entry[0]);
      dict.push_back(added);
      if (dict.size() == (size_t(1) << size) && size < 12) ++size;
    }
    prev = code;
  }
  return true;
}

std::vector<uint8_t> draw(const char* caption, uint16_t pointSize, const char* ext,
                          uint16_t* w, uint16_t* h, uint32_t background = 0xFFFFFF) {
  std::vector<uint8_t> buf(8u << 20);
  uint32_t size = uint32_t(buf.size());
  NnStatus s = AnnotateGifToBuffer(caption, "Default Sans Serif", pointSize, ext, background,
                                   buf.data(), &size, w, h);
  EXPECT_EQ(s, NN_OK);
  buf.resize(s == NN_OK ? size : 0);
  return buf;
}

TEST(GifIcon, DecodesToThePictureReported) {
  uint16_t w = 0, h = 0;
  std::vector<uint8_t> gif = draw("report.pdf", 12, "pdf", &w, &h, 0x123456);
  ASSERT_FALSE(gif.empty());
  DecodedGif d;
  std::string why;
  ASSERT_TRUE(decodeGif(gif, &d, &why)) << why;
  EXPECT_EQ(d.width, w);
  EXPECT_EQ(d.height, h);
  EXPECT_TRUE(d.trailer);
  EXPECT_EQ(d.pixels.size(), size_t(w) * h);
  ASSERT_GE(d.palette.size(), 4u);
  EXPECT_EQ(d.palette[0], 0x123456u);  // the background colour given
  EXPECT_GE(w, 10 * 6);                // wide enough for the caption
  EXPECT_GE(h, 32 + 7);                // the icon and a line of text
  // There is ink: black pixels both in the icon and in the caption rows.
  bool inkIcon = false, inkCaption = false;
  for (size_t i = 0; i < d.pixels.size(); ++i) {
    ASSERT_LT(d.pixels[i], d.palette.size());
    if (d.palette[d.pixels[i]] != 0x000000) continue;
    (i / w < 34 ? inkIcon : inkCaption) = true;
  }
  EXPECT_TRUE(inkIcon);
  EXPECT_TRUE(inkCaption);
  // Small enough for the 4,095-byte buffer of inline icons.
  EXPECT_LT(gif.size(), 4095u);
}

TEST(GifIcon, PointSizeScalesTheCaption) {
  uint16_t w12 = 0, h12 = 0, w72 = 0, h72 = 0;
  draw("abc", 12, "txt", &w12, &h12);
  draw("abc", 72, "txt", &w72, &h72);
  EXPECT_GT(h72, h12);
  // "abc" is narrower than the icon at 12 points but not at 72 (scale 9).
  EXPECT_EQ(w72, 3 * 6 * 9 + 4);
}

TEST(GifIcon, LongAndOddCaptionsStayBoundedAndDecodable) {
  std::string longCaption(1000, 'W');
  uint16_t w = 0, h = 0;
  std::vector<uint8_t> gif = draw(longCaption.c_str(), 65535, nullptr, &w, &h);
  ASSERT_FALSE(gif.empty());
  DecodedGif d;
  std::string why;
  ASSERT_TRUE(decodeGif(gif, &d, &why)) << why;  // long enough to fill the code table
  EXPECT_EQ(d.pixels.size(), size_t(w) * h);
  EXPECT_LE(w, 255 * 6 * 16 + 4);

  // UTF-8, controls and stray bytes each draw as one character.
  uint16_t wu = 0, wa = 0;
  std::vector<uint8_t> q1 = draw("\xC3\xA9t\xE2\x82\xAC\x01\xFF", 8, "", &wu, &h);
  std::vector<uint8_t> q2 = draw("?t???", 8, "", &wa, &h);
  EXPECT_EQ(q1, q2);
  EXPECT_EQ(wu, wa);

  std::vector<uint8_t> none = draw(nullptr, 0, nullptr, &w, &h);
  ASSERT_TRUE(decodeGif(none, &d, &why)) << why;
  EXPECT_EQ(w, 36);
  EXPECT_EQ(h, 36);
}

TEST(GifIcon, TooSmallBufferReportsTheSizeNeeded) {
  uint8_t small[16];
  uint32_t size = sizeof small;
  uint16_t w = 7, h = 7;
  EXPECT_EQ(AnnotateGifToBuffer("a file.doc", "", 12, "doc", 0xFFFFFF, small, &size, &w, &h),
            NN_ERR_MEMORY);
  EXPECT_GT(size, sizeof small);
  std::vector<uint8_t> exact(size);
  uint32_t exactSize = size;
  EXPECT_EQ(AnnotateGifToBuffer("a file.doc", "", 12, "doc", 0xFFFFFF, exact.data(), &exactSize,
                                &w, &h),
            NN_OK);
  EXPECT_EQ(exactSize, size);
  uint32_t zero = 0;
  EXPECT_EQ(AnnotateGifToBuffer("x", "", 12, "", 0, nullptr, &zero, &w, &h), NN_ERR_MEMORY);
  EXPECT_GT(zero, 0u);
  EXPECT_EQ(AnnotateGifToBuffer("x", "", 12, "", 0, exact.data(), nullptr, &w, &h),
            NN_ERR_INVALID_ARG);
}

TEST(GifIcon, ImageSizeFromUrlIsUnknown) {
  uint16_t w = 5, h = 5;
  EXPECT_EQ(GetImageSizeFromURL("http://example.invalid/a.png", &w, &h), NN_OK);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
}

}  // namespace
