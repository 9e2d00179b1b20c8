// Chunk methods on real documents, checked by what the user gets: the
// records left in the item, the values read back, and the item saved,
// reloaded and rendered.
#include <algorithm>

#include "corpus_fixture.h"

namespace corpustest {
namespace {


std::string Text(TorvoRTChunk* c, const char* definition) {
  char buffer[512] = {};
  c->GetText(definition, buffer, sizeof buffer, 0, nullptr);
  return buffer;
}

size_t CountOf(const std::vector<Record>& records, uint16_t sig) {
  return size_t(std::count_if(records.begin(), records.end(),
                              [&](const Record& r) { return r.signature == sig; }));
}

uint16_t GroupType(const Record& r) {
  return r.bytes.size() >= 6 ? uint16_t(uint8_t(r.bytes[4]) | uint8_t(r.bytes[5]) << 8) : 0;
}

// BEGIN and END markers pair up, and every table record lies inside a table.
void ExpectBalanced(const std::vector<Record>& records) {
  int groups = 0, tables = 0;
  for (const Record& r : records) {
    const uint16_t s = r.signature;
    if (s == 221) ++groups;
    if (s == 222) --groups;
    if (s == 163 || s == 207) ++tables;
    if (s == 165 || s == 209) --tables;
    if (s == 164 || s == 208) {
      EXPECT_GT(tables, 0) << "a cell outside its table";
    }
    EXPECT_GE(groups, 0);
    EXPECT_GE(tables, 0);
  }
  EXPECT_EQ(groups, 0);
  EXPECT_EQ(tables, 0);
}

using ChunkMethods = CorpusDoc;

// ---- graphics ---------------------------------------------------------------------

TEST_F(ChunkMethods, StoringABitmapIsRefusedAndChangesNothing) {
  if (!Open("jnx/testDbDesign/page-importnav.xml", "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* graphic = Chunk("Graphic 1");
  ASSERT_EQ(Prop(graphic, "GraphicFormat"), "Native Bitmap");
  const auto before = Records();
  EXPECT_EQ(graphic->SetPropertyText("GraphicStorage", "storage", 0), 0);
  EXPECT_EQ(graphic->lastStatus, NN_ERR_INVALID_ARG);
  EXPECT_EQ(graphic->SetPropertyText("GraphicStorage", "elsewhere", 0), 0);
  EXPECT_EQ(Records(), before);
  EXPECT_EQ(Prop(graphic, "GraphicStorage"), "Inline");
}

// ---- text groupings ---------------------------------------------------------------

TEST_F(ChunkMethods, TextGroupingRemovalDropsMarkersAndColours) {
  if (!Open("jnx/testDbDesign/subform-footer.xml", "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* all = Chunk("Everything");
  const auto before = Records();
  ASSERT_GT(CountOf(before, 210), 0u);
  const std::string textBefore = Text(all, "Everything");
  // Colour records before the first text grouping stay.
  size_t coloursBefore = 0;
  for (const Record& r : before) {
    if (r.signature == 221 && GroupType(r) == 0xFF85) break;
    coloursBefore += r.signature == 210;
  }
  all->AlterRichText(2388, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(all->lastStatus, 0);
  const auto after = Records();
  for (const Record& r : after) {
    if (r.signature == 221 || r.signature == 222) {
      EXPECT_NE(GroupType(r), 0xFF85);
    }
  }
  EXPECT_EQ(CountOf(after, 210), coloursBefore);
  EXPECT_LT(CountOf(after, 210), CountOf(before, 210));
  ExpectBalanced(after);
  EXPECT_EQ(Text(all, "Everything"), textBefore);  // the runs stay
  EXPECT_TRUE(ParsesAsXml(SaveReloadRender()));
}

// ---- tables -----------------------------------------------------------------------

TEST_F(ChunkMethods, TableWidthSetIsTheOneReadBack) {
  if (!Open("jnx/testDbDesignForms/form-activityreport.xml", "$Body")) GTEST_SKIP();
  TorvoRTChunk* table = Chunk("Table 1");
  EXPECT_STREQ(table->GetTableProperties("TableWidth"), "TableWidth=FIT_WITH_MARGINS ");
  ASSERT_EQ(table->ChangeTable("TableWidth=FIXED", 0), 0);
  EXPECT_STREQ(table->GetTableProperties("TableWidth"), "TableWidth=FIXED ");
  EXPECT_EQ(Prop(table, "TableFitToWindow"), "FALSE");
  // Fixed, the table is as wide as its cells' edges (1,539 to 6,812 twips),
  // not the window.
  const std::string fixedPage = SaveReloadRender();
  EXPECT_NE(fixedPage.find("width:351px;"), std::string::npos) << fixedPage;
  EXPECT_NE(fixedPage.find("width:55px;"), std::string::npos);   // 1,539 to 2,365
  EXPECT_NE(fixedPage.find("width:283px;"), std::string::npos);  // 2,563 to 6,812
  EXPECT_EQ(fixedPage.find("width:100%;"), std::string::npos);
  // This table has no pre-table record: its begin record knows only fixed
  // and relative widths.
  ASSERT_EQ(table->ChangeTable("TableWidth=FIT_WITH_MARGINS", 0), 0);
  EXPECT_STREQ(table->GetTableProperties("TableWidth"), "TableWidth=FIT_WITH_MARGINS ");
  EXPECT_EQ(Prop(table, "TableFitToWindow"), "TRUE");
  ExpectBalanced(Records());
  const std::string fitPage = SaveReloadRender();
  EXPECT_TRUE(ParsesAsXml(fitPage));
  EXPECT_NE(fitPage.find("width:100%;"), std::string::npos);
}

TEST_F(ChunkMethods, ColumnOptionsGiveEachCellItsWidth) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* all = Chunk("Everything");
  const char* specs[] = {"Width=-50px", "Width=25%", nullptr};
  ASSERT_EQ(all->AppendTable(2, 2, 0, "", specs), 0);
  const auto records = Records();
  ExpectBalanced(records);
  // One attribute record per cell of the two columns that have options.
  std::vector<std::string> others;
  for (const Record& r : records) {
    if (r.signature != 0xFF7B || r.bytes.size() < 26) continue;
    uint32_t at = 26;
    for (int i = 0; i < 4; ++i)
      at += uint8_t(r.bytes[4 + 2 * i]) | uint8_t(r.bytes[5 + 2 * i]) << 8;
    const uint32_t n = uint8_t(r.bytes[12]) | uint8_t(r.bytes[13]) << 8;
    others.push_back(r.bytes.substr(at, n));
  }
  EXPECT_EQ(others, (std::vector<std::string>{"width='50'", "width='25%'", "width='50'",
                                               "width='25%'"}));
  EXPECT_EQ(Text(all, "Table 1; Row 1; Column 1"), "");  // the options are no cell text
  // The page gives the columns their widths: the fixed one its 50 pixels
  // (750 twips), the other all that is left (its 2,340 twips are all the
  // table's columns that are not fixed).
  const std::string page = SaveReloadRender();
  EXPECT_TRUE(ParsesAsXml(page));
  EXPECT_EQ(kvtest::Count(page, "<td style=\"width:50px;min-width:50px;"), 2u) << page;
  EXPECT_EQ(kvtest::Count(page, "<td style=\"width:100%;"), 2u) << page;
}

// Column 2 is given texts first: the corpus tables hold text in column 1 only.
TEST_F(ChunkMethods, RowsSortByTheAskedColumnAndAreRenumbered) {
  if (!Open(kAttendee, "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* table = Chunk("Table 1");
  const char* keys[] = {"d", "b", "e", "a", "c"};
  for (int r = 0; r < 5; ++r) {
    const std::string cell = "Row " + std::to_string(r + 1) + "; Column 2";
    ASSERT_EQ(table->SetText(cell.c_str(), keys[r], 1, nullptr), 0) << cell;
  }
  const std::string firstLabelBefore = Text(table, "Row 1; Column 1");
  ASSERT_EQ(firstLabelBefore, "First Name");
  ASSERT_EQ(table->SortByRow(2, 0, 0, 0, "TitleRows=0"), 0);
  // Rows 1-5 are in key order; the later rows (empty keys) sort first.
  std::vector<std::string> column2;
  for (int r = 1; r <= 9; ++r)
    column2.push_back(Text(table, ("Row " + std::to_string(r) + "; Column 2").c_str()));
  EXPECT_EQ(column2, (std::vector<std::string>{"", "", "", "", "a", "b", "c", "d", "e"}));
  // Row 5 answers the row that sorted there: "a" stood in row 4 (Company).
  EXPECT_EQ(Text(table, "Row 5; Column 1"), "Company");
  // The cells carry the numbers of their new places.
  const auto records = Records();
  int expected = 0;
  bool inTable = false;
  for (const Record& r : records) {
    if (r.signature == 163) inTable = true;
    if (r.signature == 165) break;
    if (inTable && r.signature == 164 && r.bytes[3] == 0) {
      EXPECT_EQ(int(uint8_t(r.bytes[2])), expected);
      ++expected;
    }
  }
  EXPECT_EQ(expected, 9);
  ExpectBalanced(records);
  EXPECT_TRUE(ParsesAsXml(SaveReloadRender()));
}

// After a sort, the title row of the next sort is the row now at the top.
TEST_F(ChunkMethods, TitleRowOfALaterSortIsTheTopRow) {
  if (!Open(kAttendee, "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* table = Chunk("Table 1");
  ASSERT_EQ(table->SortByRow(1, 0, 0, 0, "TitleRows=0"), 0);
  const std::string top = Text(table, "Row 1; Column 1");
  ASSERT_EQ(top, "Approved");
  ASSERT_EQ(table->SortByRow(1, 1, 0, 1, "TitleRows=1"), 0);
  EXPECT_EQ(Text(table, "Row 1; Column 1"), top);
  EXPECT_EQ(Text(table, "Row 2; Column 1"), "Twitter ID");
  EXPECT_EQ(Text(table, "Row 9; Column 1"), "Authors");
}

TEST_F(ChunkMethods, SecondaryKeysSortTheirOwnColumns) {
  if (!Open(kAttendee, "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* table = Chunk("Table 1");
  // Column 2 groups rows 1-4 in two pairs; column 1 orders within a pair.
  const char* keys[] = {"y", "x", "y", "x"};
  for (int r = 0; r < 4; ++r) {
    const std::string cell = "Row " + std::to_string(r + 1) + "; Column 2";
    ASSERT_EQ(table->SetText(cell.c_str(), keys[r], 1, nullptr), 0);
  }
  for (int r = 5; r <= 9; ++r) {
    const std::string cell = "Row " + std::to_string(r) + "; Column 2";
    ASSERT_EQ(table->SetText(cell.c_str(), "z", 1, nullptr), 0);
  }
  ASSERT_EQ(table->SortByRow(2, 0, 0, 0, "TitleRows=0 SecondaryCol1=1"), 0);
  std::vector<std::string> labels;
  for (int r = 1; r <= 4; ++r)
    labels.push_back(Text(table, ("Row " + std::to_string(r) + "; Column 1").c_str()));
  EXPECT_EQ(labels, (std::vector<std::string>{"Company", "Last Name", "Email", "First Name"}));
}

// ---- definitions and lifecycle ------------------------------------------------------

TEST_F(ChunkMethods, SubChunkKeepsTheParentsMatchText) {
  if (!Open("ukl/Forms/Session.form", "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* title = Chunk("Field 'Title' 1");
  ASSERT_TRUE(title->Exists());
  std::unique_ptr<TorvoRTChunk> sub(title->DefineSubChunk("Record 1"));
  ASSERT_TRUE(sub);
  EXPECT_STREQ(sub->definitionText, "Field \"Title\" 1; Record 1");
  // The sub-chunk lies in the named field, not in the item's first field.
  const long first = std::stol(Prop(sub.get(), "FirstRecord"));
  EXPECT_GE(first, std::stol(Prop(title, "FirstRecord")));
  EXPECT_LE(first, std::stol(Prop(title, "LastRecord")));
  EXPECT_GT(std::stol(Prop(title, "FirstRecord")), std::stol(Prop(Chunk("Field 1"), "LastRecord")));
}

TEST_F(ChunkMethods, DefinitionsThatCannotBeWrittenBackAreRefused) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "Hr ;";
  EXPECT_EQ(item->DefineChunk(many.c_str()), nullptr);
  // A chain that fits is written back to a text that reads back to it.
  std::string some;
  for (int i = 0; i < 100; ++i) some += "Hr ;";
  TorvoRTChunk* fits = Chunk(some.c_str());
  ASSERT_NE(fits, nullptr);
  ASSERT_LT(std::strlen(fits->definitionText), 4096u);
  TorvoRTChunk* again = Chunk(fits->definitionText);
  ASSERT_NE(again, nullptr);
  EXPECT_STREQ(again->definitionText, fits->definitionText);
  // A sub-chunk whose whole chain would not fit is refused too.
  std::string half;
  for (int i = 0; i < 400; ++i) half += "Hr ;";
  TorvoRTChunk* parent = Chunk(half.c_str());
  ASSERT_NE(parent, nullptr);
  const size_t chunks = session->RTChunkCount();
  EXPECT_EQ(parent->DefineSubChunk(half.c_str()), nullptr);
  EXPECT_EQ(session->RTChunkCount(), chunks);
}

// Run under the leak checker: answers left in the slots go with the chunk.
TEST_F(ChunkMethods, EventAnswersGoWithTheChunk) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* text = Chunk("Text 1");
  for (uint16_t slot = 1; slot <= 6; ++slot) text->SetEventRetString(slot, "answer", 6);
  text->SetEventRetString(3, "again", 5);
  delete text;
}

// ---- appending --------------------------------------------------------------------

// A form stores its body as "$BODY": bound by another spelling, edited and
// saved, it is still "$BODY", with the new text.
TEST_F(ChunkMethods, AnEditedItemKeepsItsStoredName) {
  if (!Open("jnx/testV1discuss/2194.xml", "$Body")) GTEST_SKIP() << "no corpus";
  ASSERT_EQ(Chunk("Everything")->AppendText("Appended words", 0, ""), 0);
  std::string dxl;
  EXPECT_NE(SaveReloadRender("", &dxl).find("Appended words"), std::string::npos);
  EXPECT_NE(dxl.find("<item name='$BODY'"), std::string::npos);
  EXPECT_EQ(dxl.find("<item name='$Body'"), std::string::npos);
}

TEST_F(ChunkMethods, AppendingAMissingSubformFails) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* all = Chunk("Everything");
  const auto before = Records();
  EXPECT_EQ(all->AppendSubformBody("NoSuchSubform"), NN_ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(Records(), before);
}

TEST_F(ChunkMethods, AppendedLayerIsPositionedAndHoldsItsText) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* all = Chunk("Everything");
  ASSERT_EQ(all->AppendLayer(nullptr, "20px", nullptr, nullptr, 0, "Layer words", nullptr,
                             nullptr, 0),
            0);
  ExpectBalanced(Records());
  const std::string page = SaveReloadRender();
  ASSERT_TRUE(ParsesAsXml(page));
  EXPECT_EQ(page.find("top: ;"), std::string::npos);
  EXPECT_NE(page.find("top: auto;"), std::string::npos);
  EXPECT_NE(page.find("left: 20px;"), std::string::npos);
  // The text lies inside the positioned division.
  const size_t div = page.find("position: absolute;");
  ASSERT_NE(div, std::string::npos);
  const size_t words = page.find("Layer words", div);
  ASSERT_NE(words, std::string::npos);
  const std::string between = page.substr(div, words - div);
  EXPECT_EQ(between.find("</div>"), std::string::npos) << page.substr(div, 600);
}

TEST_F(ChunkMethods, LayerThatCannotBeAddedReportsTheFailure) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* all = Chunk("Everything");
  const auto before = Records();
  // A length the layer's position cannot hold.
  EXPECT_NE(all->AppendLayer("1e999px", nullptr, nullptr, nullptr, 0, "x", nullptr, nullptr, 0),
            0);
  EXPECT_EQ(Records(), before);
  // A chunk whose target does not exist adds nothing.
  EXPECT_EQ(Chunk("Table 9")->AppendLayer(nullptr, nullptr, nullptr, nullptr, 0, "x", nullptr,
                                          nullptr, 0),
            NN_ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(Records(), before);
}

TEST_F(ChunkMethods, ARowCopiedAloneArrivesInATable) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* all = Chunk("Everything");
  const std::string source = CorpusFile(kAttendee);
  NnHandle srcDb = 0;
  ASSERT_EQ(NnDbOpen(source.c_str(), 0, &srcDb), NN_OK);
  NOTEID srcId = 0;
  ASSERT_EQ(NnDbNoteIdAt(srcDb, 0, &srcId), NN_OK);
  NnDbClose(srcDb);
  const long tablesBefore = all->GetCount("Table");
  ASSERT_EQ(all->AppendRTChunk("", source.c_str(), srcId, "$Body", "Table 1; Row 3", 0), 0);
  const auto records = Records();
  ExpectBalanced(records);
  EXPECT_EQ(all->GetCount("Table"), tablesBefore + 1);
  const std::string last = "Table " + std::to_string(tablesBefore + 1);
  EXPECT_EQ(Text(all, (last + "; Row 1; Column 1").c_str()), "Email");
  EXPECT_EQ(all->GetCount((last + "; Row").c_str()), 1);
  EXPECT_TRUE(ParsesAsXml(SaveReloadRender()));
}

}  // namespace
}  // namespace corpustest
