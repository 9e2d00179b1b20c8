// Image sizes found in records, and record data as base64.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"
#include "richtext/item/recordutil.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A node over host-layout bytes, linked after `prev` when given.
struct Chain {
  std::vector<Bytes> data;
  std::vector<RTRecordNode> nodes;
  void Add(uint16_t, Bytes bytes) {
    data.push_back(std::move(bytes));
  }
  RTRecordNode* Link() {
    nodes.resize(data.size());
    for (size_t i = 0; i < data.size(); ++i) {
      uint16_t sig;
      kv::cd::HeaderKind kind;
      uint32_t len, hs;
      EXPECT_TRUE(kv::cd::ReadHostHeader(data[i].data(), data[i].size(), &sig, &kind, &len, &hs));
      nodes[i].signature = sig;
      nodes[i].length = uint32_t(data[i].size());
      nodes[i].data = data[i].data();
      nodes[i].next = i + 1 < data.size() ? &nodes[i + 1] : nullptr;
      nodes[i].prev = i ? &nodes[i - 1] : nullptr;
    }
    return nodes.empty() ? nullptr : &nodes[0];
  }
};

Bytes LongRecord(uint16_t sig, uint32_t fixed, const Bytes& tail = {}) {
  Bytes r(fixed, 0);
  uint32_t len = uint32_t(fixed + tail.size());
  r[0] = uint8_t(sig);
  r[1] = 0;
  std::memcpy(&r[4], &len, 4);
  r.insert(r.end(), tail.begin(), tail.end());
  return r;
}

Bytes Graphic(uint16_t w, uint16_t h, uint8_t flags) {
  Bytes g = LongRecord(0x99, kv::cd::host::kGraphicFixed);
  std::memcpy(&g[kv::cd::host::kGraphicDestWidth], &w, 2);
  std::memcpy(&g[kv::cd::host::kGraphicDestHeight], &h, 2);
  g[kv::cd::host::kGraphicFlags] = flags;
  return g;
}

Bytes Segment(const Bytes& image) {
  return LongRecord(0x7C, uint32_t(kv::cd::FindRecordLayout(0x7C)->hostFixed), image);
}

Bytes Gif(uint16_t w, uint16_t h) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8)};
  b.resize(20, 0);
  return b;
}

TEST(GraphicPixelSize, FromTheGraphicHeaderInTwipsOrPixels) {
  Chain c;
  c.Add(0x99, Graphic(1500, 3000, 0));  // twips: 100 x 200 pixels
  uint16_t w = 0, h = 0;
  GraphicPixelSize(c.Link(), &w, &h);
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 200);
  Chain p;
  p.Add(0x99, Graphic(640, 480, 1));
  GraphicPixelSize(p.Link(), &w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
}

TEST(GraphicPixelSize, FromTheImageDataWhenTheHeaderHasNone) {
  Chain gif;
  gif.Add(0x99, Graphic(0, 0, 0));
  gif.Add(0x7D, LongRecord(0x7D, kv::cd::FindRecordLayout(0x7D)->hostFixed));
  gif.Add(0x7C, Segment(Gif(33, 44)));
  uint16_t w = 0, h = 0;
  GraphicPixelSize(gif.Link(), &w, &h);
  EXPECT_EQ(w, 33);
  EXPECT_EQ(h, 44);

  Bytes bmp(30, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  int32_t bw = 12, bh = -34;  // top-down bitmap
  std::memcpy(&bmp[18], &bw, 4);
  std::memcpy(&bmp[22], &bh, 4);
  Chain b;
  b.Add(0x7C, Segment(bmp));
  GraphicPixelSize(b.Link(), &w, &h);
  EXPECT_EQ(w, 12);
  EXPECT_EQ(h, 34);

  // A JPEG with an application segment before its start-of-frame marker.
  Bytes jpg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0xFF, 0xC2, 0, 11, 8, 0x01, 0x02, 0x03, 0x04, 3};
  Chain j;
  j.Add(0x7C, Segment(jpg));
  GraphicPixelSize(j.Link(), &w, &h);
  EXPECT_EQ(h, 0x0102);
  EXPECT_EQ(w, 0x0304);
}

TEST(GraphicPixelSize, MissingOrDamagedDataGivesTheDefault) {
  uint16_t w = 0, h = 0;
  GraphicPixelSize(nullptr, &w, &h);
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 100);
  Bytes cut = {0xFF, 0xD8, 0xFF, 0xE0, 0x40, 0x00};  // a segment length past the end
  Chain j;
  j.Add(0x7C, Segment(cut));
  GraphicPixelSize(j.Link(), &w, &h);
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 100);
  Bytes sof = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8, 0x01};  // frame header cut short
  EXPECT_FALSE(ImageDataPixelSize(sof.data(), uint32_t(sof.size()), &w, &h));
}

TEST(RecordDataToBase64, EncodesTheDataAfterTheFixedPart) {
  Chain c;
  c.Add(0x7C, Segment({'M', 'a', 'n'}));
  char out[16];
  EXPECT_EQ(RecordDataToBase64(out, sizeof out, c.Link(), 0), 4u);
  EXPECT_STREQ(out, "TWFu");
  char tiny[4];
  EXPECT_EQ(RecordDataToBase64(tiny, sizeof tiny, c.Link(), 0), 0u) << "no room for text and NUL";
  EXPECT_STREQ(tiny, "");
}

}  // namespace
