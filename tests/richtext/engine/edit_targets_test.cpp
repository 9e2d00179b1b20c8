// Edits on the shapes real documents hold, each read back through the
// public methods and checked in its records: paragraphs that carry style
// names, paragraphs ending in pictures, rows and cells removed from tables,
// empty runs set, tables whose cells span rows, calls on targets the item
// does not hold, and the bodies of the database's design elements.
#include <functional>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "graphicsteps_records.h"
#include "support/testutil.h"
#include "write_records_support.h"

using namespace enginetest;
using writecheck::CorpusFileItem;
using writecheck::CorpusItem;
using writecheck::Pab;
using writecheck::Record;
using writecheck::StructureProblems;
using writecheck::Workspace;

namespace {

std::string Read(TorvoRTItem* item, const std::string& definition) {
  std::vector<char> buffer(1 << 16);
  const unsigned long n = item->DefineChunk("")->GetText(definition.c_str(), buffer.data(),
                                                         buffer.size(), 1, nullptr);
  return std::string(buffer.data(), n);
}
long Count(TorvoRTItem* item, const char* definition) {
  return item->DefineChunk("")->GetCount(definition);
}

CorpusItem Built(const std::string& what, const std::vector<Bytes>& records) {
  return {what, "Body", {Join(records)}, {}};
}

// A cell whose content spans `rows` rows.
Bytes SpanningCell(uint8_t row, uint8_t column, uint8_t rows) {
  Bytes cell = Cell(row, column);
  cell[14] = rows;
  return cell;
}

// A two-column table of three rows, its first cell spanning `span` rows.
std::vector<Bytes> ThreeRows(uint8_t span) {
  std::vector<Bytes> records = {Para(), Pab(1), PabRef(1), Text("before"), TableBegin()};
  const char* texts[3][2] = {{"b", "2"}, {"c", "3"}, {"a", "1"}};
  for (uint8_t r = 0; r < 3; ++r)
    for (uint8_t c = 0; c < 2; ++c) {
      records.push_back(r == 0 && c == 0 ? SpanningCell(0, 0, span) : Cell(r, c));
      records.insert(records.end(), {Para(), PabRef(1), Text(texts[r][c])});
    }
  records.insert(records.end(), {TableEnd(), Para(), PabRef(1), Text("after")});
  return records;
}

int Signatures(const std::vector<Record>& records, uint16_t sig) {
  return writecheck::Count(records, sig);
}

struct Case {
  const char* what;
  std::function<CorpusItem()> source;
  std::function<void(Workspace&)> check;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"a paragraph with a style name is one paragraph",
       [] { return CorpusFileItem("jnx/testDbDesignForms/doc-span.xml", "Body"); },
       [](Workspace& w) {
         TorvoRTItem* item = w.item();
         ASSERT_EQ(Count(item, "Paragraph"), 7);
         ASSERT_EQ(Read(item, "Paragraph 2"), "I am anchor");
         EXPECT_EQ(Read(item, "Paragraph 5"), "I am other language");
         const std::vector<Record> before = w.Records();
         ASSERT_EQ(item->DefineChunk("Paragraph 2")->AppendText("ZQX", 3, nullptr), 0);
         const std::vector<Record> after = w.Records();
         // The text ends the paragraph in its styled division: no reference
         // or paragraph was added, and the later paragraphs keep their numbers.
         EXPECT_EQ(Read(item, "Paragraph 2"), "I am anchorZQX");
         EXPECT_EQ(Read(item, "Paragraph 5"), "I am other language");
         EXPECT_EQ(Count(item, "Paragraph"), 7);
         EXPECT_EQ(after.size(), before.size() + 1);
         EXPECT_EQ(Signatures(after, 131), Signatures(before, 131));
       }},
      {"a reference after a style name starts no paragraph",
       [] { return CorpusFileItem("jnx/testDbDesignEmbedded/embedded_date.xml", "$Body"); },
       [](Workspace& w) {
         // 129 0xFF82 166 131: the first paragraph runs on to the next start.
         TorvoRTChunk* second = w.item()->DefineChunk("Paragraph 2");
         EXPECT_EQ(second->GetPropertyNumber("FirstRecord"), 6);
         EXPECT_EQ(w.item()->DefineChunk("Paragraph 1")->GetPropertyNumber("LastRecord"), 5);
       }},
      {"text appended to a paragraph ending in a picture stays in it",
       [] {
         return Built("picture", {Para(), Pab(1), PabRef(1), Text("one"), Para(), Pab(2),
                                  PabRef(2), pictures::Graphic(10, 10), Para(), PabRef(1),
                                  Text("three")});
       },
       [](Workspace& w) {
         TorvoRTItem* item = w.item();
         ASSERT_EQ(Count(item, "Paragraph"), 3);
         const std::vector<Record> before = w.Records();
         ASSERT_EQ(item->DefineChunk("Paragraph 2")->AppendText("X", 1, nullptr), 0);
         const std::vector<Record> after = w.Records();
         EXPECT_EQ(Count(item, "Paragraph"), 3);
         EXPECT_EQ(Read(item, "Paragraph 2"), "X");
         EXPECT_EQ(Read(item, "Paragraph 3"), "three");
         // Only the text was added, right after the picture.
         ASSERT_EQ(after.size(), before.size() + 1);
         EXPECT_EQ(after[8].sig, 0xFF85);
         EXPECT_TRUE(std::equal(after.begin() + 9, after.end(), before.begin() + 8));
       }},
      {"a removed row renumbers the table; its last row takes the table",
       [] { return CorpusFileItem("jnx/testDbDesignForms/form-testls.xml", "$Body"); },
       [](Workspace& w) {
         TorvoRTItem* item = w.item();
         ASSERT_EQ(Count(item, "Table 2; Row"), 2);
         const long tables = Count(item, "Table");
         const std::string secondRow = Read(item, "Table 2; Row 2");
         ASSERT_EQ(item->DefineChunk("Table 2; Row 1")->Remove(), 0);
         EXPECT_EQ(Count(item, "Table 2; Row"), 1);
         EXPECT_EQ(Read(item, "Table 2; Row 1"), secondRow);
         EXPECT_EQ(StructureProblems(w.Records()), "");
         // A row can be added again to the table that lost one.
         ASSERT_EQ(item->DefineChunk("Table 2")->AppendRow(0, 1, nullptr), 0);
         EXPECT_EQ(Count(item, "Table 2; Row"), 2);
         for (int i = 0; i < 2; ++i) ASSERT_EQ(item->DefineChunk("Table 2; Row 1")->Remove(), 0);
         EXPECT_EQ(Count(item, "Table"), tables - 1);
         const std::vector<Record> after = w.Records();
         EXPECT_EQ(StructureProblems(after), "");
         EXPECT_EQ(w.Reload(after), "");
       }},
      {"a removed cell keeps its place in the row",
       [] { return CorpusFileItem("jnx/testDbDesignForms/form-testls.xml", "$Body"); },
       [](Workspace& w) {
         TorvoRTItem* item = w.item();
         const std::string first = Read(item, "Table 1; Row 1; Column 1");
         const std::vector<Record> before = w.Records();
         ASSERT_EQ(item->DefineChunk("Table 1; Row 1; Column 2")->Remove(), 0);
         const std::vector<Record> after = w.Records();
         EXPECT_EQ(Signatures(after, 164), Signatures(before, 164));
         EXPECT_EQ(Read(item, "Table 1; Row 1; Column 2"), "");
         EXPECT_EQ(Read(item, "Table 1; Row 1; Column 1"), first);
         EXPECT_EQ(StructureProblems(after), "");
         EXPECT_EQ(w.Reload(after), "");
       }},
      {"an empty run takes the text set on it",
       [] { return Built("empty runs", {Para(), Pab(1), PabRef(1), Text(""), Text("b")}); },
       [](Workspace& w) {
         TorvoRTItem* item = w.item();
         ASSERT_EQ(item->DefineChunk("")->SetText("Text 1", "X", 1, nullptr), 0);
         EXPECT_EQ(Read(item, "Text 1"), "X");
         EXPECT_EQ(Read(item, "Text 2"), "b");
         EXPECT_EQ(Count(item, "Text"), 2);
         EXPECT_EQ(item->DefineChunk("Text 2")->SetPropertyText("Text", "Y", 1), 1);
         EXPECT_EQ(Read(item, "Text 1-2"), "XY");
         EXPECT_EQ(w.Records().size(), 5u);
       }},
      {"a table whose cells span rows is not sorted",
       [] { return Built("spans", ThreeRows(2)); },
       [](Workspace& w) {
         const std::vector<Record> before = w.Records();
         TorvoRTChunk* table = w.item()->DefineChunk("Table 1");
         EXPECT_EQ(table->SortByRow(1, 0, 0, 0, "TitleRows=0"), NN_ERR_CD_STRUCTURE);
         EXPECT_EQ(w.item()->DefineChunk("Table 1; Row 2")->Remove(), NN_ERR_CD_STRUCTURE);
         EXPECT_TRUE(w.Records() == before);
       }},
      {"a table without spans is sorted",
       [] { return Built("no spans", ThreeRows(1)); },
       [](Workspace& w) {
         ASSERT_EQ(w.item()->DefineChunk("Table 1")->SortByRow(1, 0, 0, 0, "TitleRows=0"), 0);
         EXPECT_EQ(Read(w.item(), "Table 1; Column 1"), "abc");
       }},
  };
  return cases;
}

TEST(EditTargets, EachEditLandsOnItsTarget) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    const CorpusItem source = c.source();
    if (source.segments.empty()) continue;  // the corpus is absent
    Workspace work(source);
    ASSERT_TRUE(work.ok());
    c.check(work);
  }
}

// Every write and append method on a target the item does not hold fails,
// and leaves the item, and the note's attachments, as they were.
TEST(EditTargets, WritesOnAMissingTargetFailAndChangeNothing) {
  const std::string corpus = kvtest::CorpusDir();
  const CorpusItem source = CorpusFileItem("ukl/Forms/Badge.form", "$Body");
  if (source.segments.empty()) GTEST_SKIP() << "no corpus item";
  const std::string dir = kvtest::MakeTempDir();
  const std::string picture = dir + "/logo.gif";
  kvtest::WriteFile(picture, "GIF89a\x01\x00\x01\x00\x00\x00\x00;");
  const std::string badge = corpus + "/dxl/ukl/Forms/Badge.form";
  using Call = std::function<long(TorvoRTChunk*)>;
  const std::vector<std::pair<const char*, Call>> calls = {
      {"ChangeFont", [](TorvoRTChunk* c) { return c->ChangeFont("+Bold", nullptr, 0); }},
      {"InsertText", [](TorvoRTChunk* c) { return c->InsertText("x", 1, nullptr); }},
      {"AppendText", [](TorvoRTChunk* c) { return c->AppendText("x", 1, nullptr); }},
      {"AppendParagraph",
       [](TorvoRTChunk* c) { return c->AppendParagraph("x", nullptr, nullptr, 0); }},
      {"InsertParagraph",
       [](TorvoRTChunk* c) { return c->InsertParagraph("x", nullptr, nullptr, 0); }},
      {"Remove", [](TorvoRTChunk* c) { return c->Remove(); }},
      {"SetText",
       [](TorvoRTChunk* c) {
         return long(c->item->DefineChunk("")->SetText(c->definitionText, "x", 1, nullptr));
       }},
      {"SetPropertyText",
       [](TorvoRTChunk* c) { return c->SetPropertyText("FontColor", "Red", 0) ? 0L : 1L; }},
      {"AppendTable", [](TorvoRTChunk* c) { return c->AppendTable(1, 1, 0, nullptr, nullptr); }},
      {"AppendHTML", [](TorvoRTChunk* c) { return c->AppendHTML("IN", "<p>x</p>", nullptr); }},
      {"AppendGraphic",
       [&](TorvoRTChunk* c) { return c->AppendGraphic("FILE", picture.c_str(), "Attach=yes"); }},
      {"AppendRTChunk",
       [&](TorvoRTChunk* c) {
         return c->AppendRTChunk("", badge.c_str(), 0, "$Body", "Text 1", 0);
       }},
      {"AppendHotspot",
       [](TorvoRTChunk* c) {
         return long(c->AppendHotspot("Button JavaScript", "go()", 4, "", "Go", 2));
       }},
      {"AppendLink",
       [](TorvoRTChunk* c) {
         return c->AppendLink("", 0, "http://example.com/", "x", nullptr, nullptr, 0, nullptr, 0,
                              nullptr, 0);
       }},
      {"AppendLayer",
       [](TorvoRTChunk* c) {
         return c->AppendLayer(nullptr, nullptr, nullptr, nullptr, 0, "x", nullptr, nullptr, 0);
       }},
      {"AppendRow", [](TorvoRTChunk* c) { return c->AppendRow(0, 1, nullptr); }},
  };
  for (const char* missing : {"Text 999", "Table 99"}) {
    for (const auto& [name, call] : calls) {
      SCOPED_TRACE(std::string(name) + " on " + missing);
      Workspace work(source);
      ASSERT_TRUE(work.ok());
      const std::vector<Record> before = work.Records();
      TorvoRTChunk* chunk = work.item()->DefineChunk(missing);
      EXPECT_NE(call(chunk), 0);
      EXPECT_TRUE(work.Records() == before);
      EXPECT_NE(NnItemInfo(work.note(), "$FILE", 5, nullptr, nullptr, nullptr, nullptr), NN_OK);
    }
  }
  kvtest::RemoveTree(dir);
}

// The bodies of a subform, a form and a page, found in the item's database by
// title or alias; a name that names none of that kind changes nothing.
TEST(EditTargets, DesignBodiesComeFromTheDatabase) {
  const CorpusItem subform =
      CorpusFileItem("jnx/testDbDesignForms/subform-computedtarget.xml", "$Body");
  const CorpusItem form = CorpusFileItem("jnx/testDbDesignForms/form-testls2.xml", "$Body");
  if (subform.segments.empty() || form.segments.empty()) GTEST_SKIP() << "no corpus item";
  Workspace work(
      CorpusItem{"document", "Body", {Join({Para(), Pab(1), PabRef(1), Text("doc")})}, {}});
  ASSERT_TRUE(work.ok());
  // One title for both: the kind decides which body comes.
  auto design = [&](const CorpusItem& body, const char* flags) {
    NnHandle h = 0;
    ASSERT_EQ(NnNoteCreate(work.db(), NN_CLASS_FORM, &h), NN_OK);
    ASSERT_EQ(NnItemSetText(h, "$TITLE", "Shared|alias", 12), NN_OK);
    ASSERT_EQ(NnItemSetText(h, "$Flags", flags, uint16_t(std::strlen(flags))), NN_OK);
    for (const Bytes& s : body.segments)
      ASSERT_EQ(NnItemAppend(h, 0, "$Body", 5, NN_TYPE_COMPOSITE, s.data(), uint32_t(s.size())),
                NN_OK);
    ASSERT_EQ(NnNoteUpdate(h, 0), NN_OK);
    NnNoteClose(h);
  };
  design(form, "");
  design(subform, "CUx3N");
  TorvoRTItem* item = work.item();
  TorvoRTChunk* all = item->DefineChunk("");
  const std::vector<Record> before = work.Records();
  EXPECT_EQ(all->AppendPageBody("Shared"), NN_ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(all->AppendSubformBody("nothing"), NN_ERR_ITEM_NOT_FOUND);
  EXPECT_TRUE(work.Records() == before);
  ASSERT_EQ(all->AppendSubformBody("ALIAS"), 0);
  const std::string afterSubform = Read(item, "");
  EXPECT_NE(afterSubform.find("docHello."), std::string::npos) << afterSubform;
  ASSERT_EQ(all->AppendFormBody("shared"), 0);
  const std::vector<Record> after = work.Records();
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  EXPECT_GT(Read(item, "").size(), afterSubform.size());
  EXPECT_EQ(StructureProblems(after), "");
  EXPECT_EQ(work.Reload(after), "");
}

}  // namespace
