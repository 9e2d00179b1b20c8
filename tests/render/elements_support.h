// Shared fixture of the element-writer tests: host-layout record builders, a
// record list, a render context, and an XML well-formedness check.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "render/render.h"
#include "richtext/item/recordlist.h"
#include "support/testutil.h"

namespace elements {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& r, size_t at, uint16_t v) {
  if (r.size() < at + 2) r.resize(at + 2);
  std::memcpy(r.data() + at, &v, 2);
}
inline void Put32(Bytes& r, size_t at, uint32_t v) {
  if (r.size() < at + 4) r.resize(at + 4);
  std::memcpy(r.data() + at, &v, 4);
}
inline void PutText(Bytes& r, size_t at, const std::string& t) {
  if (r.size() < at + t.size()) r.resize(at + t.size());
  std::memcpy(r.data() + at, t.data(), t.size());
}
inline Bytes WordRecord(uint16_t sig, size_t size) {
  Bytes r(size, 0);
  Put16(r, 0, sig);
  Put16(r, 2, uint16_t(size));
  return r;
}
inline Bytes ByteRecord(uint16_t sig, size_t size) {
  Bytes r(size, 0);
  r[0] = uint8_t(sig);
  r[1] = uint8_t(size);
  return r;
}
inline Bytes LongRecord(uint16_t sig, size_t size) {
  Bytes r(size, 0);
  Put16(r, 0, sig);
  Put32(r, 4, uint32_t(size));
  return r;
}
// Fixes the header length after the record grew.
inline Bytes Sized(Bytes r) {
  uint16_t sig = 0;
  std::memcpy(&sig, r.data(), 2);
  if ((sig & 0xFF00) == 0xFF00) Put16(r, 2, uint16_t(r.size()));
  else if ((sig & 0xFF00) == 0 && r[1] == 0) Put32(r, 4, uint32_t(r.size()));
  else r[1] = uint8_t(r.size());
  return r;
}
inline Bytes Text(const std::string& text) {
  Bytes r = WordRecord(0xFF85, 8 + text.size());
  Put32(r, 4, 0x0A000001);
  PutText(r, 8, text);
  return r;
}
inline Bytes Paragraph() { return ByteRecord(0x0081, 2); }
inline Bytes GroupBegin(uint16_t type) {
  Bytes r = ByteRecord(0x00DD, 6);
  Put16(r, 4, type);
  return r;
}
inline Bytes GroupEnd(uint16_t type) {
  Bytes r = ByteRecord(0x00DE, 6);
  Put16(r, 4, type);
  return r;
}
// Flags 1: the table fits the window (its widths are fractions).
inline Bytes TableBegin(bool nested = false, uint16_t leftMargin = 1440, uint16_t flags = 1) {
  Bytes r = ByteRecord(nested ? 0x00CF : 0x00A3, 14);
  Put16(r, 2, leftMargin);
  Put16(r, 12, flags);
  return r;
}
inline Bytes Cell(uint8_t row, uint8_t col, uint16_t width, bool nested = false, uint8_t rowSpan = 1,
                  uint8_t colSpan = 1, uint8_t border = 0, uint16_t v42 = 0) {
  Bytes r = ByteRecord(nested ? 0x00D0 : 0x00A4, 18);
  r[2] = row;
  r[3] = col;
  Put16(r, 8, width);
  r[10] = border;
  Put16(r, 12, v42);
  r[14] = rowSpan;
  r[15] = colSpan;
  return r;
}
inline Bytes TableEnd(bool nested = false) { return ByteRecord(nested ? 0x00D1 : 0x00A5, 8); }
inline Bytes CellColor(uint8_t red, uint8_t green, uint8_t blue, uint16_t flags = 1) {
  Bytes r = ByteRecord(0x00D3, 8);
  Put16(r, 2, flags);
  r[4] = red, r[5] = green, r[6] = blue;
  return r;
}
// Element attributes (0xFF7A, or 0xFF7B for cells): id, class, style, title, extra, name.
inline Bytes IdName(const std::vector<std::string>& texts, uint16_t sig = 0xFF7A) {
  Bytes r = WordRecord(sig, 26);
  size_t at = 26;
  for (size_t i = 0; i < 6; ++i) {
    const std::string t = i < texts.size() ? texts[i] : "";
    Put16(r, 4 + 2 * i, uint16_t(t.size()));
    PutText(r, at, t);
    at += t.size();
  }
  return Sized(r);
}
inline Bytes HotspotBegin(uint16_t type, uint32_t flags, const std::string& data,
                          uint16_t sig = 0xFFAD) {
  Bytes r = WordRecord(sig, 16);
  Put16(r, 4, type);
  Put32(r, 8, flags);
  Put16(r, 12, uint16_t(data.size()));
  PutText(r, 16, data);
  return Sized(r);
}
inline Bytes HotspotEnd(uint16_t sig = 0x00AE) { return ByteRecord(sig, 2); }
inline Bytes LinkTarget(const std::string& url, uint32_t flags = 0, uint16_t kind = 1) {
  Bytes r = WordRecord(0xFFF6, 28);
  Put32(r, 4, flags);
  Put16(r, 8, kind);
  Put16(r, 12, uint16_t(url.size()));
  PutText(r, 28, url);
  return Sized(r);
}

class ElementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.IsValid());
    list = RecordListCreate(&session);
    ASSERT_NE(list, nullptr);
  }
  void TearDown() override {
    if (ctx) {
      FreeOpenElements(ctx);
      RenderContextFree(ctx);
    }
    RecordListFreeWithAllocator(&session, list);
  }

  RTRecordNode* Add(Bytes record) {
    records.push_back(std::make_unique<Bytes>(std::move(record)));
    Bytes& r = *records.back();
    uint16_t sig = 0;
    std::memcpy(&sig, r.data(), 2);
    if ((sig & 0xFF00) != 0xFF00 && r[1] != 0) sig = r[0];
    return RecordListAppendNode(&session, list, sig, r.data(), uint32_t(r.size()), 0);
  }

  // Starts over: a new record list, and an empty output when there is a context.
  void NewList() {
    RecordListFreeWithAllocator(&session, list);
    records.clear();
    list = RecordListCreate(&session);
    if (ctx) {
      ctx->outputCursor = ctx->outputBuffer;
      *ctx->outputCursor = 0;
    }
  }

  RenderContext* Context(uint16_t kind = kOutputXhtml, uint32_t capacity = 1 << 20) {
    if (!ctx) ctx = RenderContextCreate(&session, capacity);
    EXPECT_NE(ctx, nullptr);
    ctx->outputKind = kind;
    return ctx;
  }

  // Renders the whole list as a nested range (no document head).
  std::string Render(NnStatus* statusOut = nullptr, uint16_t kind = kOutputXhtml) {
    RenderContext* c = Context(kind);
    c->currentRecord = list->first;
    c->lastRecord = list->last;
    const size_t before = std::strlen(c->outputBuffer);
    const NnStatus st = PrXMLStr(c, 0, 1, 0);
    if (statusOut) *statusOut = st;
    else EXPECT_EQ(st, NN_OK);
    if (std::getenv("KV_SHOW_RENDER")) std::printf("%s\n", c->outputBuffer + before);
    return std::string(c->outputBuffer + before);
  }

  LSXLsiSession session;
  RecordList* list = nullptr;
  RenderContext* ctx = nullptr;
  std::vector<std::unique_ptr<Bytes>> records;
};

// True when the text parses as the content of one XML element.
inline bool ParsesAsXml(const std::string& fragment) {
  return kvtest::ParsesAsXml("<r>" + fragment + "</r>");
}

using kvtest::Count;

}  // namespace elements
