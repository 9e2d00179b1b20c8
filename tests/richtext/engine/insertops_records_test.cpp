// Insertions at the target and after its elements, seen in the item's records.
#include <algorithm>
#include <cstdio>
#include <string>

#include "engine_fixture.h"
#include "host/noteops.h"
#include "richtext/item/recordlist.h"

using namespace enginetest;

namespace {

class InsertOps : public EngineDoc {
 protected:
  std::vector<uint16_t> Sigs() {
    std::vector<uint16_t> out;
    item->LoadRecords();
    for (RTRecordNode* n = item->context->records->first; n; n = n->next)
      out.push_back(n->signature);
    return out;
  }
  // The texts of the text records, in order.
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    item->LoadRecords();
    for (RTRecordNode* n = item->context->records->first; n; n = n->next)
      if (n->signature == 0xFF85 && n->length >= 8)
        out.emplace_back(reinterpret_cast<char*>(n->data) + 8, n->length - 8);
    return out;
  }
};

TEST_F(InsertOps, AppendAndInsertTextPlaceContentAfterAndBefore) {
  Make({Para(), PabRef(1), Text("middle")});
  ASSERT_EQ(chunk->AppendText("end", 3, nullptr), 0);
  ASSERT_EQ(chunk->InsertText("start", 5, nullptr), 0);
  EXPECT_EQ(chunk->insertPosition, 0u);
  auto texts = Texts();
  std::vector<std::string> nonEmpty;
  for (auto& t : texts)
    if (!t.empty()) nonEmpty.push_back(t);
  ASSERT_EQ(nonEmpty.size(), 3u);
  EXPECT_EQ(nonEmpty[0], "start");
  EXPECT_EQ(nonEmpty[1], "middle");
  EXPECT_EQ(nonEmpty[2], "end");
  // AppendText keeps the insert position an insert set.
  ASSERT_EQ(chunk->AppendText("x", 1, nullptr), 0);
  EXPECT_EQ(chunk->insertPosition, 0u);
}

TEST_F(InsertOps, EveryNewLineAndTabAskedForIsWritten) {
  Make({Para(), PabRef(1), Text("a")});
  ASSERT_EQ(chunk->AppendNewLines(40, 0), 0);
  ASSERT_EQ(chunk->AppendTabs(33), 0);
  size_t breaks = 0, tabs = 0;
  item->LoadRecords();
  for (RTRecordNode* n = item->context->records->first; n; n = n->next)
    for (uint32_t i = 8; n->signature == 0xFF85 && i < n->length; ++i) {
      breaks += n->data[i] == 0;
      tabs += n->data[i] == '\t';
    }
  EXPECT_EQ(breaks, 40u);
  EXPECT_EQ(tabs, 33u);
}

TEST_F(InsertOps, TextAfterTableEndStartsNewParagraph) {
  Make({Para(), PabRef(1), Text("before"), TableBegin(), Cell(0, 0), Para(), PabRef(1),
        Text("cell"), TableEnd(), Para(), PabRef(1), Text("after")},
       Chain({Node(REL_CONTAINS, TABLE, {1})}));
  ASSERT_EQ(chunk->AppendText("new", 3, nullptr), 0);
  auto sigs = Sigs();
  auto texts = Texts();
  size_t end = 0;
  for (size_t i = 0; i < sigs.size(); ++i)
    if (sigs[i] == 165) end = i;
  ASSERT_GT(end, 0u);
  ASSERT_LT(end + 1, sigs.size());
  EXPECT_EQ(sigs[end + 1], 129);  // the paragraph before the new text
  EXPECT_NE(std::find(texts.begin(), texts.end(), "new"), texts.end());
}

TEST_F(InsertOps, AnchorRecordCarriesItsName) {
  Make({Para(), PabRef(1), Text("a")});
  ASSERT_EQ(chunk->AppendAnchor("top", 0), 0);
  item->LoadRecords();
  bool found = false;
  for (RTRecordNode* n = item->context->records->first; n; n = n->next) {
    if (n->signature != 0xFFCB) continue;
    found = true;
    uint16_t len = 0;
    std::memcpy(&len, n->data + 4, 2);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(n->data) + 12, 3), "top");
  }
  EXPECT_TRUE(found);
}

TEST_F(InsertOps, AttachmentOfAnExistingNameTakesFirstFreeName) {
  Make({Para(), PabRef(1), Text("a")});
  ASSERT_EQ(NnNoteAttachData(note, "logo.gif", "GIF89a", 6), NN_OK);
  ASSERT_EQ(NnNoteAttachData(note, "Att0.gif", "GIF89a", 6), NN_OK);
  std::string path = std::string(::testing::TempDir()) + "logo.gif";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("GIF89a", f);
  std::fclose(f);
  ASSERT_EQ(chunk->AppendFileAttachment(path.c_str(), nullptr, 0, nullptr), 0);
  EXPECT_EQ(kv::NoteFindAttachmentName(note, "Att1.gif", 0, nullptr, 0), 0);
  std::remove(path.c_str());
}

TEST_F(InsertOps, SecondElementGetsItsOwnInsertion) {
  Make({Para(), PabRef(1), Text("one"), Para(), PabRef(1), Text("two")},
       Chain({Node(REL_CONTAINS, PARAGRAPH, {1, 2})}));
  chunk->insertPosition = 0;
  ASSERT_EQ(chunk->RunFrame(2361, 0, 1, 0, 0, "*", nullptr, nullptr, nullptr), 0);
  auto texts = Texts();
  int stars = 0;
  for (auto& t : texts) stars += t == "*";
  EXPECT_EQ(stars, 2);
}

TEST_F(InsertOps, FailedCompositionLeavesItemUnchanged) {
  Make({Para(), PabRef(1), Text("keep")});
  Bytes before = Stored();
  // A table of no columns is refused by the composer.
  EXPECT_NE(chunk->RunFrame(2359, 0, 2, 0, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Stored(), before);
}

TEST_F(InsertOps, TableHasCellsOfEveryRowAndColumn) {
  Make({Para(), PabRef(1), Text("a")});
  ASSERT_EQ(chunk->AppendTable(2, 3, 0, nullptr, nullptr), 0);
  int cells = 0, begins = 0, ends = 0;
  for (uint16_t s : Sigs()) {
    cells += s == 164;
    begins += s == 163;
    ends += s == 165;
  }
  EXPECT_EQ(cells, 6);
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
}

TEST_F(InsertOps, CellQueriesAnswerColumnAndRow) {
  Make({Para(), PabRef(1), TableBegin(), Cell(0, 0), Text("a"), Cell(0, 1), Text("b"),
        TableEnd()},
       Chain({Node(REL_CONTAINS, TABLE, {1}), Node(REL_CONTAINS, COLUMN, {2})}));
  ASSERT_EQ(Run(2602), 0);
  EXPECT_STREQ(session->ResultText, "2");
  ASSERT_EQ(Run(2603), 0);
  EXPECT_STREQ(session->ResultText, "1");
}

}  // namespace
