// Stepping through targets (next, previous, last, count) gives exactly what a
// fresh chunk gets for each occurrence on its own: the same match records, the
// same item font afterwards, the same definition texts; and a change of the
// item between the steps is seen at once.
#include <gtest/gtest.h>
#include <strings.h>

#include <string>
#include <vector>

#include "navigation_fixture.h"
#include "richtext/engine/opcodes.h"
#include "richtext/item/recordlist.h"
#include "support/testutil.h"

namespace navtest {
namespace {

// What one locate left behind.
struct Seen {
  uint32_t first = 0, last = 0, font = 0;
  bool operator==(const Seen& o) const {
    return first == o.first && last == o.last && font == o.font;
  }
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << s.first << "-" << s.last << " font " << std::hex << s.font << std::dec;
}

Seen Observe(TorvoRTItem* item) {
  const SessionGlobals* g = item->session->globals;
  return {g->FirstMatchRecord, g->LastMatchRecord, item->context->currentFont};
}

Seen RunLocate(TorvoRTChunk* chunk, uint32_t subCode) {
  SessionGlobals* g = chunk->session->globals;
  g->FirstMatchRecord = g->LastMatchRecord = 0;
  EXPECT_EQ(chunk->RunFrame(STEP_LOCATE, subCode, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), 0);
  return Observe(chunk->item);
}

std::string Numbered(const std::string& type, size_t number) {
  return type + " " + std::to_string(number);
}

// The definition text a chunk defined so shows.
std::string Shown(TorvoRTItem* item, const std::string& definition) {
  TorvoRTChunk* c = item->DefineChunk(definition.c_str());
  std::string text = Def(c);
  delete c;
  return text;
}

// A chunk of its own for every question: nothing learnt before can answer.
Seen Fresh(TorvoRTItem* item, const std::string& type, uint32_t number, uint32_t subCode) {
  TorvoRTChunk* c = item->DefineChunk(Numbered(type, number).c_str());
  EXPECT_NE(c, nullptr);
  if (!c) return {};
  Seen s = RunLocate(c, subCode);
  delete c;
  return s;
}

// Compares every way of stepping through `type` (inside the `outer` chunk,
// when given) with the fresh answers, for up to `cap` occurrences. Returns how
// many targets were compared.
size_t CompareSteps(TorvoRTItem* item, const std::string& inner, uint32_t cap,
                    const std::string& outer = "") {
  const std::string type = outer.empty() ? inner : outer + "; " + inner;
  SCOPED_TRACE(type);
  std::vector<Seen> finds, exists;  // index k - 1
  uint32_t k = 1;
  for (; k <= cap; ++k) {
    Seen e = Fresh(item, type, k, PROP_EXISTS);
    Seen f = Fresh(item, type, k, PROP_FIND);
    exists.push_back(e);
    finds.push_back(f);
    if (!e.first) break;
  }
  const bool complete = k <= cap;  // the last entry is the first missing number
  const size_t found = complete ? exists.size() - 1 : exists.size();

  // Walking forward: a find of each target, then on to the next.
  TorvoRTChunk* c = item->DefineChunk(Numbered(type, 1).c_str());
  EXPECT_EQ(c->Exists(), exists[0].first ? 1 : 0);
  EXPECT_EQ(Observe(item), exists[0]);
  for (size_t i = 0; i < exists.size(); ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(RunLocate(c, PROP_FIND), finds[i]);
    if (i + 1 == exists.size()) break;
    item->session->globals->FirstMatchRecord = item->session->globals->LastMatchRecord = 0;
    EXPECT_EQ(c->GetNextTarget(), exists[i + 1].first ? 1 : 0);
    EXPECT_EQ(Observe(item), exists[i + 1]);
    EXPECT_EQ(Def(c), Shown(item, Numbered(type, i + 2)));
  }
  delete c;
  if (!complete) return found;

  // Counting.
  TorvoRTChunk* all = item->DefineChunk(outer.empty() ? nullptr : outer.c_str());
  EXPECT_EQ(all->GetCount(inner.c_str()), long(found));
  delete all;

  // The last target, then back to the first.
  TorvoRTChunk* back = item->DefineChunk(Numbered(type, 1).c_str());
  EXPECT_EQ(back->GetLastTarget(), found ? 1 : 0);
  EXPECT_EQ(Def(back), Shown(item, Numbered(type, found)));
  for (size_t n = found; n > 1; --n) {
    SCOPED_TRACE(n - 1);
    item->session->globals->FirstMatchRecord = item->session->globals->LastMatchRecord = 0;
    EXPECT_EQ(back->GetPreviousTarget(), 1);
    EXPECT_EQ(Observe(item), exists[n - 2]);
  }
  delete back;
  return found;
}

TEST(NavigationRepeat, SteppingAgreesWithFreshChunks) {
  std::vector<std::string> records = {PabDef(1)};
  for (int i = 0; i < 7; ++i) {
    for (const auto& r : Paragraph("Paragraph " + std::to_string(i))) records.push_back(r);
    if (i % 3 == 1)
      for (const auto& r : Table({"a", "b", "c"})) records.push_back(r);
  }
  records.push_back(Text(Font(4, 12), "closing run"));
  Doc doc(records);
  for (const char* type : {"Paragraph", "Text", "Table", "Graphic"})
    EXPECT_EQ(CompareSteps(doc.item, type, 40) > 0, std::string(type) != "Graphic");
  for (const char* type : {"Row", "Column", "Paragraph", "Text"})
    EXPECT_GT(CompareSteps(doc.item, type, 40, "Table 2"), 0u);
  EXPECT_EQ(CompareSteps(doc.item, "Paragraph", 3), 3u);  // stops early: only forward
}

TEST(NavigationRepeat, ChangesBetweenStepsAreSeen) {
  Doc doc(Body({Paragraph("one"), Paragraph("two"), Paragraph("three")}));
  TorvoRTChunk* c = doc.item->DefineChunk("Paragraph 3");
  ASSERT_EQ(c->Exists(), 1);
  const Seen before = RunLocate(c, PROP_FIND);
  TorvoRTChunk* all = doc.item->DefineChunk(nullptr);
  const long count = all->GetCount("Paragraph");

  // A new paragraph before the third one moves it.
  TorvoRTChunk* first = doc.item->DefineChunk("Paragraph 1");
  ASSERT_EQ(first->AppendParagraph("one and a half", nullptr, nullptr, 0), 0);
  const Seen after = RunLocate(c, PROP_FIND);
  EXPECT_EQ(after, Fresh(doc.item, "Paragraph", 3, PROP_FIND));
  EXPECT_FALSE(after == before) << after;
  EXPECT_EQ(all->GetCount("Paragraph"), count + 1);

  // Reloading the records (as a reconnect does) gives the same answers again.
  doc.item->ReleaseRecords();
  EXPECT_EQ(RunLocate(c, PROP_FIND), after);
  EXPECT_EQ(all->GetCount("Paragraph"), count + 1);
}

// Every rich-text item of the corpus, under the target types scripts step
// through most.
TEST(NavigationRepeat, CorpusItemsStepAsFreshChunksFind) {
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  LSXLsiSession session;
  size_t items = 0, targets = 0;
  for (const auto& file : kvtest::FilesBelow(corpus + "/dxl")) {
    NnHandle db = 0;
    if (NnDbOpen(file.c_str(), 0, &db) != NN_OK) continue;
    for (uint32_t i = 0; i < NnDbNoteCount(db); ++i) {
      NOTEID id = 0;
      NnHandle note = 0;
      if (NnDbNoteIdAt(db, i, &id) != NN_OK || NnNoteOpen(db, id, 0, &note) != NN_OK) continue;
      std::vector<std::string> names;
      for (uint32_t k = 0; k < NnNoteItemCount(note); ++k) {
        NnItemDesc d;
        if (NnNoteItemAt(note, k, &d) != NN_OK || d.type != NN_TYPE_COMPOSITE) continue;
        bool known = strcasecmp(d.name.c_str(), "$Fonts") == 0;
        for (const auto& n : names) known |= strcasecmp(n.c_str(), d.name.c_str()) == 0;
        if (!known) names.push_back(d.name);
      }
      for (const auto& name : names) {
        SCOPED_TRACE(file + " " + name);
        auto* item = new TorvoRTItem(&session);
        if (item->ConnectBackend(db, note, name.c_str()) == NN_OK && item->LoadRecords() == NN_OK &&
            item->context->records->count <= 4000) {
          for (const char* type : {"Paragraph", "Text", "Table", "Hotspot", "Graphic", "Section"})
            targets += CompareSteps(item, type, 12);
          targets += CompareSteps(item, "Row", 12, "Table 1");
          ++items;
        }
        delete item;
      }
      NnNoteClose(note);
    }
    NnDbClose(db);
  }
  EXPECT_GT(items, 0u);
  EXPECT_GT(targets, 0u);
}

}  // namespace
}  // namespace navtest
