// The bodies of the database's design elements, and what later calls find of
// earlier edits, read back through the public methods and in the records.
#include <string>
#include <vector>

#include "corpus_items.h"
#include "engine_fixture.h"
#include "support/testutil.h"
#include "write_records_support.h"

using namespace enginetest;
using writecheck::AllText;
using corpusitems::CorpusFileItem;
using corpusitems::CorpusItem;
using writecheck::Pab;
using writecheck::Record;
using writecheck::StructureProblems;
using corpusitems::Workspace;

namespace {

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
  auto design = [&](const char* title, const CorpusItem* body, const char* flags) {
    NnHandle h = 0;
    ASSERT_EQ(NnNoteCreate(work.db(), NN_CLASS_FORM, &h), NN_OK);
    ASSERT_EQ(NnItemSetText(h, "$TITLE", title, uint16_t(std::strlen(title))), NN_OK);
    ASSERT_EQ(NnItemSetText(h, "$Flags", flags, uint16_t(std::strlen(flags))), NN_OK);
    for (const Bytes& s : body ? body->segments : std::vector<Bytes>{})
      ASSERT_EQ(NnItemAppend(h, 0, "$Body", 5, NN_TYPE_COMPOSITE, s.data(), uint32_t(s.size())),
                NN_OK);
    ASSERT_EQ(NnNoteUpdate(h, 0), NN_OK);
    NnNoteClose(h);
  };
  design("Shared|alias", &form, "");
  design("Shared|alias", &subform, "CUx3N");
  // Notes of the form class that are no form: shared actions, an image.
  design("Actions", &form, "34yQC");
  design("Icon", nullptr, "34Ci~Q");
  TorvoRTItem* item = work.item();
  TorvoRTChunk* all = item->DefineChunk("");
  const std::vector<Record> before = work.Records();
  EXPECT_EQ(all->AppendPageBody("Shared"), NN_ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(all->AppendSubformBody("nothing"), NN_ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(all->AppendFormBody("Actions"), NN_ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(all->AppendFormBody("Icon"), NN_ERR_ITEM_NOT_FOUND);
  EXPECT_TRUE(work.Records() == before);
  ASSERT_EQ(all->AppendSubformBody("ALIAS"), 0);
  const std::string afterSubform = AllText(item, "");
  EXPECT_NE(afterSubform.find("docHello."), std::string::npos) << afterSubform;
  ASSERT_EQ(all->AppendFormBody("shared"), 0);
  const std::vector<Record> after = work.Records();
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  EXPECT_GT(AllText(item, "").size(), afterSubform.size());
  EXPECT_EQ(StructureProblems(after), "");
  EXPECT_EQ(work.Reload(after), "");
}

// A copy lands as its place holds it: a table takes the signatures of its
// new depth (a top-level one in a cell, a nested one at the top), a run the
// target's face of its own face's name.
TEST(EditTargets, CopiesTakeTheirPlacesDepthAndFaces) {
  const std::string date = kvtest::CorpusDir() + "/dxl/jnx/testDbDesignEmbedded/embedded_date.xml";
  NnHandle srcDb = 0;
  NOTEID srcId = 0;
  if (kvtest::CorpusDir().empty() || NnDbOpen(date.c_str(), 0, &srcDb) != NN_OK)
    GTEST_SKIP() << "no corpus";
  ASSERT_EQ(NnDbNoteIdAt(srcDb, 0, &srcId), NN_OK);
  NnDbClose(srcDb);
  // Face 9 is "Courier New" here and "Garamond" in the copied note.
  const auto fonts = [](const std::string& face) {
    Bytes b{0x8B, 0xFF, 40, 0, 1, 0, 9, 0x22};
    b.insert(b.end(), face.begin(), face.end());
    b.resize(40);
    return b;
  };
  Workspace work(CorpusItem{"document", "Body",
                            {Join({Para(), Pab(1), PabRef(1), Text("doc"), TableBegin(),
                                   Cell(0, 0), Text("a"), TableEnd()})},
                            {fonts("Courier New")}});
  ASSERT_TRUE(work.ok());
  TorvoRTItem* item = work.item();
  ASSERT_EQ(item->DefineChunk("Table 1; Row 1; Column 1")
                ->AppendRTChunk("", date.c_str(), srcId, "$Body", "Table 1", 0),
            0);
  ASSERT_EQ(item->DefineChunk("")->AppendRTChunk("", date.c_str(), srcId, "$Body", "Table 2", 0),
            0);
  Workspace other(CorpusItem{
      "copied", "Body", {Join({Para(), Pab(1), PabRef(1), Text("g", 9)})}, {fonts("Garamond")}});
  ASSERT_TRUE(other.ok());
  ASSERT_EQ(item->DefineChunk("")->AppendRTItem(other.item()), 0);
  const std::vector<Record> after = work.Records();
  char face[64] = {};
  ASSERT_TRUE(item->FindFaceByID(after.back().bytes[4], face));
  EXPECT_STREQ(face, "Garamond");
  EXPECT_EQ(StructureProblems(after), "");  // every table at its depth
  EXPECT_EQ(work.Reload(after), "");
}
}  // namespace

namespace {

// Shapes of stored items that later calls depend on: a table that lost a
// row is counted and grows; a paragraph put in a cell starts at its edge; a
// target without a run takes the text set on it inside it (a table: before
// its end) or, where it cannot hold one (a picture), refuses it unchanged.
TEST(EditTargets, LaterCallsFindWhatEditsLeft) {
  const CorpusItem testls = CorpusFileItem("jnx/testDbDesignForms/form-testls.xml", "$Body");
  const CorpusItem form = CorpusFileItem("ukl/Forms/Attendee.form", "$Body");
  const CorpusItem date = CorpusFileItem("jnx/testDbDesignEmbedded/embedded_date.xml", "$Body");
  if (testls.segments.empty() || form.segments.empty() || date.segments.empty())
    GTEST_SKIP() << "no corpus item";
  Workspace rows(testls), cells(form), runs(date), picture(date);
  ASSERT_EQ(rows.item()->DefineChunk("Table 2; Row 1")->Remove(), 0);
  EXPECT_EQ(rows.item()->DefineChunk("")->GetCount("Table 2; Row"), 1);
  const char* texts[20] = {"new", "row"};
  ASSERT_EQ(rows.item()->DefineChunk("Table 2")->AppendRow(0, 0, texts), 0);
  EXPECT_EQ(AllText(rows.item(), "Table 2; Row 2"), "newrow");

  ASSERT_EQ(cells.item()->DefineChunk("Table 1; Row 5; Column 1; Paragraph 1")
                ->AppendParagraph("Put", nullptr, nullptr, 0), 0);
  const std::string page = writecheck::RenderXhtml(cells.item());
  const size_t at = page.find(">Put<"), div = page.rfind("<div", at);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(page.substr(div, at - div).find("margin-left"), std::string::npos);

  ASSERT_EQ(runs.item()->DefineChunk("")->SetText("Table 2", "set", 3, nullptr), 0);
  EXPECT_EQ(AllText(runs.item(), "Table 2"), "set");
  const std::vector<Record> before = picture.Records();
  EXPECT_NE(picture.item()->DefineChunk("")->SetText("Graphic 1", "set", 3, nullptr), 0);
  EXPECT_TRUE(picture.Records() == before);
  for (Workspace* w : {&rows, &cells, &runs}) {
    const std::vector<Record> after = w->Records();
    EXPECT_EQ(StructureProblems(after), "");
    EXPECT_EQ(w->Reload(after), "");
  }
}

}  // namespace
