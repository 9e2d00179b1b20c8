// What a caller of the public classes reads beside each method's own work:
// GetText says when it cut the text, TorvoRTItem::modified follows the item,
// writes into an empty item land, and AppendRow's 20 cell texts land in
// their cells.
#include <cstring>
#include <functional>

#include "corpus_fixture.h"
#include "navigation_fixture.h"

namespace {

using navtest::Body;
using navtest::Doc;
using navtest::Paragraph;
using navtest::Table;

TEST(CallerText, GetTextSaysWhenTheTextWasCut) {
  Doc doc(Body({Paragraph("Comments"), Paragraph("more")}));
  TorvoRTChunk* all = doc.item->DefineChunk(nullptr);
  char buf[9];
  // An exact fit, then one byte short: the buffer is filled either way.
  EXPECT_EQ(all->GetText("", buf, 9, 0, nullptr), 8u);
  EXPECT_STREQ(buf, "Comments");
  EXPECT_EQ(all->lastStatus, 0);
  EXPECT_EQ(all->GetText("", buf, 8, 0, nullptr), 7u);
  EXPECT_STREQ(buf, "Comment");
  EXPECT_EQ(all->lastStatus, kStatusTextCut);
  EXPECT_EQ(all->GetText("", buf, 9, 1, " "), 8u);
  EXPECT_EQ(all->lastStatus, kStatusTextCut);

  // More text than one call gathers (runs and separators): cut, whatever the
  // buffer.
  std::vector<std::string> runs;
  for (int i = 0; i < 10; ++i) runs.push_back(navtest::Text(std::string(6000, char('a' + i))));
  Doc big(Body({runs}));
  TorvoRTChunk* whole = big.item->DefineChunk(nullptr);
  std::vector<char> large(100000);
  const std::string separator(1000, '-');
  EXPECT_EQ(whole->GetText("", large.data(), large.size(), 1, separator.c_str()), 65340u);
  EXPECT_EQ(whole->lastStatus, kStatusTextCut);
  EXPECT_EQ(whole->GetText("", large.data(), large.size(), 1, nullptr), 60000u);
  EXPECT_EQ(whole->lastStatus, 0);
}

TEST(CallerItem, ModifiedFollowsTheItem) {
  struct Write {
    const char* name;
    const char* definition;
    std::function<NnStatus(TorvoRTChunk*)> call;
  };
  const Write writes[] = {
      {"SetText", nullptr, [](TorvoRTChunk* c) { return c->SetText("Text 1", "x", 0, nullptr); }},
      {"AppendText", "Text 1", [](TorvoRTChunk* c) { return c->AppendText("x", 0, nullptr); }},
      {"AppendParagraph", "Text 1",
       [](TorvoRTChunk* c) { return c->AppendParagraph("x", nullptr, nullptr, 0); }},
      {"ChangeFont", "Text 1", [](TorvoRTChunk* c) { return c->ChangeFont("+Bold", "", 0); }},
      {"ReplaceTextQuick", nullptr,
       [](TorvoRTChunk* c) { return c->ReplaceTextQuick("cell", 0, "CELL", 0, ""); }},
      {"Remove", "Text 1", [](TorvoRTChunk* c) { return c->Remove(); }},
      {"AppendRow", "Table 1", [](TorvoRTChunk* c) { return c->AppendRow(1, 1, nullptr); }},
      {"AppendTable", nullptr,
       [](TorvoRTChunk* c) { return c->AppendTable(2, 2, 0, "", nullptr); }},
      {"SetPropertyText", "Paragraph 1",
       [](TorvoRTChunk* c) {
         return NnStatus(c->SetPropertyText("HideFormula", "@True", 0) == 1 ? 0 : 1);
       }},
  };
  for (const Write& w : writes) {
    SCOPED_TRACE(w.name);
    Doc doc(Body({Paragraph("first"), Table({"cell", "cell"})}));
    TorvoRTChunk* chunk = doc.item->DefineChunk(w.definition);
    ASSERT_NE(chunk, nullptr);
    // Reads and a refused write change nothing.
    char buf[64];
    chunk->GetText("", buf, sizeof buf, 1, nullptr);
    EXPECT_NE(chunk->SetText("Nothing 1", "x", 0, nullptr), 0);
    EXPECT_EQ(doc.item->modified, 0);
    const std::string before = doc.Body();
    ASSERT_EQ(w.call(chunk), 0);
    EXPECT_NE(doc.Body(), before);
    EXPECT_EQ(doc.item->modified, 1);
    // It stays raised through later reads and failures.
    chunk->GetText("", buf, sizeof buf, 1, nullptr);
    chunk->SetText("Nothing 1", "x", 0, nullptr);
    EXPECT_EQ(doc.item->modified, 1);
  }
}

// A new document's body holds no record yet: what is written at the whole
// item lands there, and a part it does not hold is still missing. On a note
// without the bound item (a misspelt name) the same write fails with 546 and
// changes nothing, unless the item's mode runs it without the item: then it
// creates the item, which a saved database holds.
TEST(CallerItem, WritesIntoAnEmptyItemLand) {
  struct Write {
    const char* name;
    std::function<NnStatus(TorvoRTChunk*)> call;
    const char* text;
  };
  const Write writes[] = {
      {"AppendText", [](TorvoRTChunk* c) { return c->AppendText("hello", 0, nullptr); }, "hello"},
      {"AppendParagraph",
       [](TorvoRTChunk* c) { return c->AppendParagraph("hello", nullptr, nullptr, 0); }, "hello"},
      {"AppendHTML",
       [](TorvoRTChunk* c) { return c->AppendHTML("IN", "<p>a <button>OK</button></p>", ""); },
       "a OK"},
      {"AppendTable", [](TorvoRTChunk* c) { return c->AppendTable(1, 2, 0, "", nullptr); }, ""},
  };
  for (const Write& w : writes) {
    SCOPED_TRACE(w.name);
    Doc doc({});
    TorvoRTChunk* all = doc.item->DefineChunk("");
    EXPECT_EQ(all->SetText("Text 1", "x", 0, nullptr), NN_ERR_ITEM_NOT_FOUND);
    ASSERT_EQ(w.call(all), 0);
    char text[64];
    all->GetText("", text, sizeof text, 1, "");
    EXPECT_STREQ(text, w.text);
    EXPECT_EQ(all->GetCount("Table"), *w.text ? 0 : 1);

    for (const uint16_t mode : {0, 3}) {
      Doc missing(Body({Paragraph("kept")}), "Other");
      missing.item->context->modeWord = mode;
      TorvoRTChunk* none = missing.item->DefineChunk("");
      const std::string kept = navtest::StoredItem(missing.note, "Other");
      const NnStatus st = w.call(none);
      EXPECT_EQ(st, mode == 3 ? 0 : NN_ERR_ITEM_NOT_FOUND) << mode;
      EXPECT_EQ(none->lastStatus, st);
      EXPECT_EQ(missing.item->modified, mode == 3 ? 1 : 0);
      EXPECT_EQ(navtest::StoredItem(missing.note, "Other"), kept);
      ASSERT_EQ(NnNoteUpdate(missing.note, 0), NN_OK);
      const std::string dir = kvtest::MakeTempDir(), saved = dir + "/saved.dxl";
      ASSERT_EQ(NnDbSaveDxl(missing.db, saved.c_str()), NN_OK);
      EXPECT_EQ(kvtest::Count(kvtest::ReadFile(saved), "<item name='Body'>"), mode == 3 ? 1u : 0u);
      kvtest::RemoveTree(dir);
    }
  }
}

// ---- AppendRow's cell texts, on real forms: rows of a label and a field
// between empty runs, and a row whose cell holds no text run at all.

using CallerRows = corpustest::CorpusDoc;

std::string CellText(TorvoRTChunk* table, long row, int column) {
  char buf[256] = {};
  const std::string def = "Row " + std::to_string(row) + "; Column " + std::to_string(column);
  table->GetText(def.c_str(), buf, sizeof buf, 1, "|");
  return buf;
}

std::vector<std::string> RowTexts(TorvoRTChunk* table, long rows, int columns) {
  std::vector<std::string> out;
  for (long r = 1; r <= rows; ++r)
    for (int c = 1; c <= columns; ++c) out.push_back(CellText(table, r, c));
  return out;
}

TEST_F(CallerRows, TwentyCellTextsNullForAnEmptyCell) {
  struct Case {
    const char* file;
    const char* table;
    int columns;
    bool rendered;  // a tabbed table shows its first row only
  };
  for (const Case& k : {Case{"ukl/Forms/Attendee.form", "Table 1", 2, true},
                        Case{"jnx/testDbDesignEmbedded/embedded_view.xml", "Table 5", 1, false}}) {
    SCOPED_TRACE(k.file);
    if (!Open(k.file, "$Body")) GTEST_SKIP() << "no corpus";
    TorvoRTChunk* table = Chunk(k.table);
    const long rows = table->GetCount("Row");
    ASSERT_GE(rows, 2);
    const std::vector<std::string> before = RowTexts(table, rows, k.columns);
    const std::string greeting = NnUtf8ToLmbcs("Grüße", std::strlen("Grüße"));
    const char* texts[kCellTextSlots] = {greeting.c_str()};  // the other cells get none
    ASSERT_EQ(table->AppendRow(0, 2, texts), 0);
    EXPECT_EQ(table->GetCount("Row"), rows + 1);
    EXPECT_EQ(RowTexts(table, rows, k.columns), before);
    EXPECT_EQ(CellText(table, rows + 1, 1), greeting);
    for (int c = 2; c <= k.columns; ++c) EXPECT_EQ(CellText(table, rows + 1, c), "") << c;
    const std::string page = SaveReloadRender();
    EXPECT_TRUE(ParsesAsXml(page));
    if (k.rendered) {
      EXPECT_NE(page.find("Gr&#252;&#223;e"), std::string::npos);
    }
  }
}

}  // namespace
