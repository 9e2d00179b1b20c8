// The editing and appending methods: argument refusals, the arguments they
// hand to the engine, and the insert position.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "../engine/engine_fixture.h"
#include "richtext/item/recordlist.h"

using namespace enginetest;

namespace {

class EditingMethods : public EngineDoc {
 protected:
  void SetUp() override {
    EngineDoc::SetUp();
    Make({Para(), PabRef(1), Text("body")});
    session->SetMessageProc(
        [](void* c, const char* t) { static_cast<std::vector<std::string>*>(c)->push_back(t); },
        &messages);
  }
  std::vector<std::string> messages;
};

TEST_F(EditingMethods, RefusedArguments) {
  EXPECT_EQ(chunk->HighlightText(nullptr, 0), 20017);
  EXPECT_EQ(chunk->ReplaceTextQuick(nullptr, 0, "x", 1, nullptr), 20017);
  EXPECT_EQ(chunk->ReplaceTextQuick("x", 1, nullptr, 0, nullptr), 20017);
  EXPECT_EQ(chunk->SwitchRTFieldToNotSaveAsMIME(""), 1028);
  EXPECT_EQ(chunk->SwitchRTFieldToNotSaveAsMIME(nullptr), 1028);
  EXPECT_EQ(chunk->ExportGraphic(nullptr, nullptr), 1028);
  EXPECT_EQ(chunk->AppendLink("", 0, "", nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0),
            1028);
  EXPECT_EQ(chunk->AppendRTItem(static_cast<TorvoRTItem*>(nullptr)), 20017);
  EXPECT_EQ(chunk->AppendRTItem("", nullptr, 1, "Body"), 20017);
  EXPECT_EQ(chunk->AppendSubformBody(nullptr), 1028);
  EXPECT_EQ(chunk->FontInUse(nullptr), 0);
}

TEST_F(EditingMethods, TableAndLayerRefusals) {
  Bytes before = Stored();
  EXPECT_EQ(chunk->AppendTable(0, 3, 0, nullptr, nullptr), 20017);
  EXPECT_EQ(chunk->AppendTable(2, 65, 0, nullptr, nullptr), 20017);
  EXPECT_EQ(chunk->AppendLayer("10 px", nullptr, nullptr, nullptr, 0, "t", nullptr, nullptr, 0),
            20017);
  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages.back().find("Invalid 'top' for AppendLayer"), std::string::npos);
  EXPECT_EQ(chunk->AppendLayer(nullptr, nullptr, "1;2", nullptr, 0, "t", nullptr, nullptr, 0),
            20017);
  EXPECT_NE(messages.back().find("'height'"), std::string::npos);
  EXPECT_EQ(chunk->AppendHTML("XML", "<p>x</p>", nullptr), 1028);
  EXPECT_EQ(chunk->AppendHTML("URL", "http://x", nullptr), 1028);
  EXPECT_EQ(chunk->AppendGraphic("PICTURE", "x.gif", nullptr), 1028);
  EXPECT_EQ(chunk->AppendGraphic("BUFFER", "x.gif", nullptr), 1028);
  EXPECT_EQ(chunk->AppendGraphic("ATTACHMENT", "x.gif", nullptr), 1028);
  EXPECT_EQ(chunk->ReplaceTextQuick("a", 1, "b", 1, "TEXT BOGUS"), 1028);
  chunk->AlterRichText(9999, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(chunk->lastStatus, 1028);
  // Everything is neither a table nor a row.
  EXPECT_EQ(chunk->AppendRow(0, 1, nullptr), 20016);
  EXPECT_EQ(Stored(), before);
}

TEST_F(EditingMethods, ReplaceScopeBits) {
  EXPECT_EQ(TorvoRTChunk::ReplaceScopeBits(nullptr), 1u);
  EXPECT_EQ(TorvoRTChunk::ReplaceScopeBits(""), 1u);
  EXPECT_EQ(TorvoRTChunk::ReplaceScopeBits("NONTEXT"), 2u);
  EXPECT_EQ(TorvoRTChunk::ReplaceScopeBits("TEXT NONTEXT"), 3u);
  EXPECT_EQ(TorvoRTChunk::ReplaceScopeBits("EVERYTHING"), 31u);
  EXPECT_EQ(TorvoRTChunk::ReplaceScopeBits("URL HIDEWHEN FORMULA"), 28u);
}

TEST_F(EditingMethods, InsertPositionFollowsTheMethods) {
  EXPECT_EQ(chunk->insertPosition, 1u);
  chunk->InsertText("a", 1, nullptr);
  EXPECT_EQ(chunk->insertPosition, 0u);
  chunk->AppendText("b", 1, nullptr);
  EXPECT_EQ(chunk->insertPosition, 0u);
  chunk->AppendParagraph("c", nullptr, nullptr, 0);
  EXPECT_EQ(chunk->insertPosition, 1u);
  chunk->InsertParagraph("d", nullptr, nullptr, 0);
  EXPECT_EQ(chunk->insertPosition, 0u);
  chunk->AppendParagraphInternal("e", nullptr, nullptr, 0, 1);
  EXPECT_EQ(chunk->insertPosition, 1u);
}

TEST_F(EditingMethods, PixelColumnWidthIsFixedAndWritesCellOption) {
  const char* specs[4] = {"Width=-50px", "Width=25%", nullptr, nullptr};
  item->tableWidth = 10080;
  ASSERT_EQ(chunk->AppendTable(1, 3, 0, nullptr, specs), 0);
  item->LoadRecords();
  std::vector<uint16_t> widths;
  for (RTRecordNode* n = item->context->records->first; n; n = n->next)
    if (n->signature == 164) {
      uint16_t w = 0;
      std::memcpy(&w, n->data + 8, 2);
      widths.push_back(w);
    }
  ASSERT_EQ(widths.size(), 3u);
  EXPECT_EQ(widths[0], 750);
  EXPECT_EQ(widths[1], 2520);
  EXPECT_EQ(widths[2], 3360);
  // The column texts are released and the slots cleared.
  for (uint32_t i = 0; i < kCellTextSlots; ++i) EXPECT_EQ(session->globals->cellText[i], nullptr);
}

TEST_F(EditingMethods, LinkKindFollowsTarget) {
  // A URL target (with a colon) becomes a URL link hotspot.
  EXPECT_EQ(chunk->AppendLink("", 0, "http://example.com/", "Example", nullptr, nullptr, 0,
                              nullptr, 0, nullptr, 0),
            0);
  EXPECT_EQ(chunk->linkKind, 4);
  EXPECT_EQ(chunk->lastStatus, 0);
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(chunk->eventReturn[i], nullptr);
  item->LoadRecords();
  bool link = false;
  for (RTRecordNode* n = item->context->records->first; n; n = n->next)
    if (n->signature == 0xFFAD &&
        std::string(reinterpret_cast<char*>(n->data) + 16) == "http://example.com/")
      link = true;
  EXPECT_TRUE(link);
  chunk->AppendLink("", 0, "notalink", nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0);
  EXPECT_EQ(chunk->linkKind, 1);
}

TEST_F(EditingMethods, AppendFieldAllocatesWorkBlocks) {
  ASSERT_EQ(chunk->AppendField(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_NE(chunk->internal->workBlocks[i], 0u);
  EXPECT_NE(chunk->internal->workBlockAddress[0], nullptr);
}

}  // namespace

namespace {

// Replacement lengths of 0 stand for the texts' own lengths; an empty
// replacement deletes the matches.
TEST_F(EditingMethods, ReplaceTextQuickReplacesAndDeletes) {
  Make({Para(), PabRef(1), Text("apples and apples")});
  auto text = [&] {
    char buffer[256] = {};
    chunk->GetText("", buffer, sizeof buffer, 1, "|");
    return std::string(buffer);
  };
  ASSERT_EQ(chunk->ReplaceTextQuick("apples", 0, "pears", 0, ""), 0);
  EXPECT_EQ(text(), "body|pears and pears");
  ASSERT_EQ(chunk->ReplaceTextQuick("pears", 0, "figs", 2, "TEXT"), 0);
  EXPECT_EQ(text(), "body|fi and fi");
  ASSERT_EQ(chunk->ReplaceTextQuick(" and fi", 0, "", 0, ""), 0);
  EXPECT_EQ(text(), "body|fi");
}

}  // namespace
