// The chunk's method frame and navigation through TorvoRTItem / TorvoRTChunk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "navigation_fixture.h"
#include "richtext/engine/opcodes.h"

namespace {

using navtest::Def;
using navtest::Doc;
using navtest::Paragraph;
using navtest::Table;

std::vector<std::string> TablesBody(int tables) {
  std::vector<std::string> records = navtest::Body({Paragraph("Before the tables")});
  for (int t = 1; t <= tables; ++t) {
    auto table = Table({"cell " + std::to_string(t) + "a", "cell " + std::to_string(t) + "b"});
    records.insert(records.end(), table.begin(), table.end());
    auto after = Paragraph("after table " + std::to_string(t));
    records.insert(records.end(), after.begin(), after.end());
  }
  return records;
}

TEST(NavigationDefine, EverythingChunkIsTheItemsOwn) {
  Doc doc(TablesBody(1));
  uint32_t before = doc.session->RTChunkCount();
  TorvoRTChunk* all = doc.item->DefineChunk(nullptr);
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(Def(all), "Everything");
  EXPECT_EQ(doc.item->everything, all);
  // A second Everything chunk and a table chunk leave the pointer alone.
  TorvoRTChunk* again = doc.item->DefineChunk("");
  TorvoRTChunk* table = doc.item->DefineChunk("Table 1");
  ASSERT_NE(again, nullptr);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(Def(table), "Table 1");
  EXPECT_EQ(table->targetType, TABLE);
  EXPECT_EQ(doc.item->everything, all);
  EXPECT_EQ(doc.session->RTChunkCount(), before + 3);
  delete all;
  EXPECT_EQ(doc.item->everything, nullptr);
  // A text that does not parse gives no chunk and leaves nothing behind.
  EXPECT_EQ(doc.item->DefineChunk("Table"), nullptr);
  EXPECT_EQ(doc.item->DefineChunk("Row 2"), nullptr);
  EXPECT_EQ(doc.session->RTChunkCount(), before + 2);
}

TEST(NavigationExists, ExistingAndMissingTargets) {
  Doc doc(TablesBody(2));
  TorvoRTChunk* second = doc.item->DefineChunk("Table 2");
  TorvoRTChunk* third = doc.item->DefineChunk("Table 3");
  EXPECT_EQ(second->Exists(), 1);
  EXPECT_EQ(second->lastStatus, 0);
  EXPECT_EQ(third->Exists(), 0);
  EXPECT_EQ(third->lastStatus, 0);
  EXPECT_EQ(doc.item->DefineChunk(nullptr)->Exists(), 1);
}

TEST(NavigationMovers, NextAndPreviousShiftTheInnermostNode) {
  Doc doc(TablesBody(2));
  TorvoRTChunk* c = doc.item->DefineChunk("Table 1");
  EXPECT_EQ(c->GetNextTarget(), 1);
  EXPECT_EQ(Def(c), "Table 2");
  // Past the end: the chunk still moves.
  EXPECT_EQ(c->GetNextTarget(), 0);
  EXPECT_EQ(Def(c), "Table 3");
  EXPECT_EQ(c->lastStatus, 0);
  EXPECT_EQ(c->GetPreviousTarget(), 1);
  EXPECT_EQ(Def(c), "Table 2");

  TorvoRTChunk* range = doc.item->DefineChunk("Table 2-3");
  range->GetNextTarget();
  EXPECT_EQ(Def(range), "Table 3-4");
  range->GetPreviousTarget();
  range->GetPreviousTarget();
  EXPECT_EQ(Def(range), "Table 1-2");

  TorvoRTChunk* first = doc.item->DefineChunk("Table 1");
  EXPECT_EQ(first->GetPreviousTarget(), 0);
  EXPECT_EQ(Def(first), "Table 0");

  TorvoRTChunk* every = doc.item->DefineChunk("Table *");
  EXPECT_EQ(every->GetNextTarget(), 0);
  EXPECT_EQ(every->GetPreviousTarget(), 0);
  EXPECT_EQ(every->GetLastTarget(), 0);
  EXPECT_EQ(Def(every), "Table *");
}

TEST(NavigationMovers, LastTarget) {
  Doc four(TablesBody(4));
  TorvoRTChunk* c = four.item->DefineChunk("Table 1");
  EXPECT_EQ(c->GetLastTarget(), 1);
  EXPECT_EQ(Def(c), "Table 4");
  EXPECT_EQ(c->Exists(), 1);

  Doc none(TablesBody(0));
  TorvoRTChunk* n = none.item->DefineChunk("Table 1");
  EXPECT_EQ(n->GetLastTarget(), 0);
  EXPECT_EQ(Def(n), "Table 0");

  // From an occurrence far past the end the way back is as short as the item.
  TorvoRTChunk* far = four.item->DefineChunk("Table 4000000000");
  EXPECT_EQ(far->GetLastTarget(), 1);
  EXPECT_EQ(Def(far), "Table 4");
}

TEST(NavigationCount, CountsAndRestoresTheChain) {
  Doc three(TablesBody(3));
  TorvoRTChunk* all = three.item->DefineChunk(nullptr);
  EXPECT_EQ(all->GetCount("Table"), 3);
  EXPECT_EQ(all->GetCount("Table 2"), 3);  // counts on from the named occurrence
  EXPECT_EQ(all->GetCount("Graphic"), 0);
  EXPECT_EQ(all->GetCount("Nonsense"), -1);
  EXPECT_EQ(all->GetCount(nullptr), -1);
  EXPECT_EQ(Def(all), "Everything");
  EXPECT_EQ(all->internal->chain->next, nullptr);
  EXPECT_EQ(all->targetType, EVERYTHING);

  TorvoRTChunk* table = three.item->DefineChunk("Table 2");
  EXPECT_EQ(table->GetCount("Row"), 1);
  EXPECT_EQ(table->GetCount("Column"), 2);
  EXPECT_EQ(Def(table), "Table 2");
  EXPECT_EQ(table->targetType, TABLE);
  EXPECT_EQ(table->internal->chain->next, nullptr);

  Doc none(TablesBody(0));
  EXPECT_EQ(none.item->DefineChunk(nullptr)->GetCount("Table"), 0);
}

TEST(NavigationZoom, InAndOut) {
  Doc doc(TablesBody(1));
  TorvoRTChunk* c = doc.item->DefineChunk("Table 1");
  EXPECT_EQ(c->ZoomIn("Row 1"), 1);
  EXPECT_EQ(Def(c), "Table 1; Row 1");
  EXPECT_EQ(c->targetType, ROW);
  EXPECT_EQ(c->ZoomIn("Column 2"), 1);
  EXPECT_EQ(Def(c), "Table 1; Row 1; Column 2");
  EXPECT_EQ(c->Exists(), 1);
  c->ZoomOut();
  EXPECT_EQ(Def(c), "Table 1");
  EXPECT_EQ(c->targetType, TABLE);
  EXPECT_EQ(c->outerDefinitionText, nullptr);
  c->ZoomOut();  // nothing kept: nothing happens
  EXPECT_EQ(Def(c), "Table 1");

  // A text that does not parse: 0, and no definition text until the chain changes.
  EXPECT_EQ(c->ZoomIn("Table"), 0);
  EXPECT_EQ(c->definitionText, nullptr);
  c->ZoomOut();
  EXPECT_EQ(Def(c), "Table 1");
}

TEST(NavigationFrame, ReadOnlyCallsNeverSaveTheNote) {
  Doc doc(TablesBody(1));
  doc.item->autoSave = 1;
  TorvoRTChunk* all = doc.item->DefineChunk(nullptr);
  // A change of the open note that only a save would store.
  ASSERT_EQ(NnItemSetText(doc.note, "Marker", "x", 1), NN_OK);
  char buf[256];
  EXPECT_GT(all->GetText("Table 1", buf, sizeof buf, 0, nullptr), 0u);
  EXPECT_EQ(all->lastStatus, 0);
  EXPECT_EQ(all->Exists(), 1);
  EXPECT_EQ(all->GetCount("Table"), 1);
  EXPECT_FALSE(doc.StoredHas("Marker"));
  // A call that writes saves it.
  EXPECT_EQ(all->SetText("Table 1", "changed", 0, nullptr), 0);
  EXPECT_TRUE(doc.StoredHas("Marker"));
}

TEST(NavigationFrame, UnparsableSubDefinitionIsRefused) {
  Doc doc(TablesBody(2));
  TorvoRTChunk* all = doc.item->DefineChunk(nullptr);
  std::string before = doc.Body();
  char buf[256] = "untouched";
  EXPECT_EQ(all->GetText("Table", buf, sizeof buf, 1, nullptr), 0u);
  EXPECT_EQ(all->lastStatus, NN_ERR_INVALID_ARG);
  EXPECT_STREQ(buf, "");
  // Had the call widened to the whole chain, every run would be replaced.
  EXPECT_EQ(all->SetText("Nonsense 2", "gone", 0, nullptr), NN_ERR_INVALID_ARG);
  EXPECT_EQ(all->lastStatus, NN_ERR_INVALID_ARG);
  all->AlterRichText(STEP_TEXT_SET, PROP_TEXT, 4, 0, 0, "gone", nullptr, "Row 2", nullptr);
  EXPECT_EQ(all->lastStatus, NN_ERR_INVALID_ARG);
  EXPECT_EQ(doc.Body(), before);
  EXPECT_EQ(Def(all), "Everything");
  EXPECT_EQ(all->internal->chain->next, nullptr);
  // SetText needs a definition: an empty one names no target.
  EXPECT_EQ(all->SetText("", "x", 0, nullptr), NN_ERR_INVALID_ARG);
  EXPECT_EQ(all->lastStatus, NN_ERR_INVALID_ARG);
  EXPECT_EQ(doc.Body(), before);
}

// The item names of the open note in order: a commit puts the new segments
// after the old ones and deletes those, so "Body" keeps its place, once.
std::string ItemOrder(NnHandle note) {
  std::string out;
  for (uint32_t i = 0; i < NnNoteItemCount(note); ++i) {
    NnItemDesc d;
    if (NnNoteItemAt(note, i, &d) == NN_OK) out += d.name + " ";
  }
  return out;
}

TEST(NavigationFrame, CommitsOnlyWhenWriting) {
  Doc doc(TablesBody(2));
  ASSERT_EQ(NnItemSetText(doc.note, "Tail", "t", 1), NN_OK);
  ASSERT_EQ(ItemOrder(doc.note), "Body Tail ");
  TorvoRTChunk* all = doc.item->DefineChunk(nullptr);
  const std::string body = doc.Body();
  char buf[64];
  all->GetText("Table 1", buf, sizeof buf, 1, nullptr);
  all->GetCount("Table");
  all->Exists();
  all->FindTextChunk(1, "cell", 0, "substring", nullptr);
  TorvoRTChunk* table = doc.item->DefineChunk("Table 1");
  table->GetLastTarget();
  table->ZoomIn("Row 1");
  table->Exists();
  EXPECT_EQ(ItemOrder(doc.note), "Body Tail ");
  EXPECT_EQ(doc.Body(), body);
  // A target that does not exist changes no byte.
  all->SetText("Table 9", "x", 0, nullptr);
  EXPECT_EQ(doc.Body(), body);
  // A write replaces the item once: one segment, nothing left of the old one.
  EXPECT_EQ(all->SetText("Table 2", "x", 0, nullptr), 0);
  EXPECT_NE(doc.Body(), body);
  EXPECT_EQ(ItemOrder(doc.note), "Body Tail ");
}

TEST(NavigationFrame, MissingItemRunsNothingUnlessModeThree) {
  Doc doc(TablesBody(1), "Other");
  TorvoRTChunk* all = doc.item->DefineChunk(nullptr);
  EXPECT_EQ(all->Exists(), 0);
  EXPECT_EQ(all->RunFrame(STEP_LOCATE, PROP_EXISTS, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(all->lastStatus, 0);
  // Nothing is parsed when nothing runs.
  EXPECT_EQ(all->RunFrame(STEP_LOCATE, PROP_EXISTS, 0, 0, 0, nullptr, nullptr, "Table", nullptr),
            0);
  doc.item->context->modeWord = 3;
  EXPECT_EQ(all->RunFrame(STEP_LOCATE, PROP_EXISTS, 0, 0, 0, nullptr, nullptr, "Table", nullptr),
            NN_ERR_INVALID_ARG);
}

TEST(NavigationText, GetAndSetText) {
  Doc doc(TablesBody(2));
  TorvoRTChunk* all = doc.item->DefineChunk(nullptr);
  char buf[256];
  EXPECT_EQ(all->GetText(nullptr, buf, sizeof buf, 0, nullptr), std::strlen("Before the tables"));
  EXPECT_STREQ(buf, "Before the tables");
  all->GetText("Table 2", buf, sizeof buf, 1, "|");
  EXPECT_STREQ(buf, "cell 2a|cell 2b");
  // Cut to the buffer; a size of 0 writes nothing.
  char small[5];
  EXPECT_EQ(all->GetText("Table 2", small, sizeof small, 1, "|"), 4u);
  EXPECT_STREQ(small, "cell");
  EXPECT_EQ(all->GetText("Table 2", small, 0, 1, "|"), 0u);

  EXPECT_EQ(all->SetText("Table 1", "replaced text", 8, nullptr), 0);
  all->GetText("Table 1", buf, sizeof buf, 1, "|");
  EXPECT_STREQ(buf, "replaced");
  all->GetText("Table 2", buf, sizeof buf, 1, "|");
  EXPECT_STREQ(buf, "cell 2a|cell 2b");
}

}  // namespace
