// Shared fixture of the text-writer tests: a session, a render context and
// text records built in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lsxsessi.h"
#include "render/render.h"
#include "richtext/item/recordlist.h"

namespace textwriters {

class TextWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { Make(65536); }
  void TearDown() override { Drop(); }

  void Make(uint32_t capacity) {
    Drop();
    ctx = RenderContextCreate(&session, capacity);
    ASSERT_NE(ctx, nullptr);
  }
  void Drop() {
    if (ctx != nullptr) {
      FreeOpenElements(ctx);
      RenderContextFree(ctx);
      ctx = nullptr;
    }
  }
  std::string Out() const { return std::string(ctx->outputBuffer, ctx->outputCursor); }

  // A text record (0xFF85 unless given) in the font {face, attrs, colour, size}.
  RTRecordNode* AddText(const std::string& text, uint8_t face = 1, uint8_t attrs = 0,
                        uint8_t colour = 0, uint8_t size = 10, uint16_t sig = 0xFF85) {
    auto data = std::make_unique<std::vector<uint8_t>>(8 + text.size());
    auto& r = *data;
    std::memcpy(r.data(), &sig, 2);
    const uint16_t len = uint16_t(r.size());
    std::memcpy(r.data() + 2, &len, 2);
    r[4] = face;
    r[5] = attrs;
    r[6] = colour;
    r[7] = size;
    std::memcpy(r.data() + 8, text.data(), text.size());
    return AddNode(sig, std::move(data));
  }
  RTRecordNode* AddRecord(uint16_t sig, size_t size) {
    auto data = std::make_unique<std::vector<uint8_t>>(size);
    return AddNode(sig, std::move(data));
  }
  RTRecordNode* AddNode(uint16_t sig, std::unique_ptr<std::vector<uint8_t>> data) {
    auto node = std::make_unique<RTRecordNode>();
    node->signature = sig;
    node->length = uint32_t(data->size());
    node->data = data->data();
    node->sequence = uint32_t(nodes.size() + 1);
    if (!nodes.empty()) {
      nodes.back()->next = node.get();
      node->prev = nodes.back().get();
    }
    datas.push_back(std::move(data));
    nodes.push_back(std::move(node));
    return nodes.back().get();
  }
  void StartAtFirst() {
    ctx->currentRecord = nodes.front().get();
    ctx->lastRecord = nodes.back().get();
  }

  LSXLsiSession session;
  RenderContext* ctx = nullptr;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> datas;
  std::vector<std::unique_ptr<RTRecordNode>> nodes;
};

}  // namespace textwriters
