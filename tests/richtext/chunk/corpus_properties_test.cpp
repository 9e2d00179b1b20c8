// Every property of the chunk's property table, read through GetPropertyText
// on a real document that holds the element it describes. Elements the
// corpus holds none of (file attachments, document links) are added to a real
// item through the chunk's own methods first. The corpus holds no section
// (SectionTitle is read on a built item in properties_methods_test.cpp), and
// no record gives a language tag.
#include <regex>

#include "corpus_fixture.h"

namespace corpustest {
namespace {

constexpr const char* kCert = "jnx/testCertStore/certstore-exportable.xml";
constexpr const char* kSpan = "jnx/testDbDesignForms/doc-span.xml";
constexpr const char* kDefault = "jnx/testDbDesignForms/form-default.xml";
constexpr const char* kLsForm = "jnx/testCompileLotusScript/Test_LS_Form.xml";

struct Case {
  const char* property;
  const char* file;
  const char* item;
  const char* definition;
  const char* value;  // a regular expression the whole value matches
};

std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.property << " of " << c.definition << " in " << c.file;
}

const Case kCases[] = {
    {"AccentSensitive", kCert, "Comments", "Text 1", "1\\.000000"},
    {"AnchorText", kSpan, "Body", "Anchor 1", "dsfdf"},
    {"ButtonText", "jnx/testDbDesignForms/form-buttonform.xml", "$Body", "Hotspot 1",
     "I am a button"},
    {"BytesOfText", kStyled, "Body", "Text 1", "20"},
    {"CaseSensitive", kCert, "Comments", "Text 1", "0\\.000000"},
    {"CellColor", kDate, "$Body", "Table 2; Row 1; Column 1", "RGB255,255,255"},
    {"CellIsMerged", kDate, "$Body", "Table 1; Row 1; Column 1", "FALSE"},
    {"Chars", kStyled, "Body", "Text 1", "20"},
    {"ComplexText", kCert, "Comments", "Paragraph 1", "[01]"},
    {"ContainsSomething", kLsForm, "$HTMLCode", "Paragraph 1", "[1-9][0-9]*"},
    {"ContainsText", kStyled, "Body", "Text 1", "1"},
    {"Definition", kStyled, "Body", "Text 1", "Text 1"},
    {"Exists", kStyled, "Body", "Text 1", "1"},
    {"FirstRecord", kCert, "Comments", "Text 1", "3"},
    {"Font", kCert, "Comments", "Text 1", "Plain Black 9pt Helvetica Neue"},
    {"FontColor", kCert, "Comments", "Text 1", "Black"},
    {"FontFace", kCert, "Comments", "Text 1", "Helvetica Neue"},
    {"GraphicFormat", kBadge, "$Body", "Graphic 1", "JPEG"},
    {"GraphicHeight", kBadge, "$Body", "Graphic 1", "2\\.104"},
    // The graphic stands in the item's first stored segment (number 0).
    {"GraphicOffset", kBadge, "$Body", "Graphic 1", "0\\.[0-9a-f]+"},
    {"GraphicRatio", kBadge, "$Body", "Graphic 1", "1\\.5545"},
    {"GraphicStorage", kBadge, "$Body", "Graphic 1", "Inline"},
    {"GraphicUnit", kBadge, "$Body", "Graphic 1", "inches"},
    {"GraphicWidth", kBadge, "$Body", "Graphic 1", "3\\.271"},
    {"HotspotBorder", kSpan, "Body", "Hotspot 1", "TRUE"},
    {"ImageInPixels", kBadge, "$Body", "Graphic 1", "FALSE"},
    {"InsideHotspot", kSpan, "Body", "Popup 1; Text 1", "1"},
    {"LastRecord", kCert, "Comments", "Text 1", "3"},
    {"LinkURL", kDefault, "$RegionFrameset", "Paragraph 1", "HeaderRegion"},
    {"MaxRightMargin", kCert, "Comments", "Paragraph 1", "10\\.800"},
    {"MinLeftMargin", kCert, "Comments", "Paragraph 1", "1\\.170"},
    {"OnlyAttachments", kLsForm, "$HTMLCode", "Paragraph 1", "[1-9][0-9]*"},
    {"PABID", kCert, "Comments", "Paragraph 1", "[1-9][0-9]*"},
    {"ParagraphStyle", kCert, "Comments", "Paragraph 1", "Alignment=Left .*LeftMargin=.*"},
    {"PassthruHTML", kDefault, "$Body", "PassthruHTML 1", "TRUE"},
    {"PointSize", kCert, "Comments", "Text 1", "9pt"},
    {"RecordType", kCert, "Comments", "Text 1", "65413"},  // a text record, 0xFF85
    {"RegularExpression", kCert, "Comments", "Text 1", "0\\.000000"},
    {"RowLabel", "jnx/testDbDesignForms/form-testls.xml", "$Body", "Table 2", "tab 1"},
    {"SearchWordBoundaries", kCert, "Comments", "Text 1", "0\\.000000"},
    {"SetImpliedProperties", kCert, "Comments", "Text 1", "0\\.000000"},
    {"SimpleParagraphStyle", kCert, "Comments", "Paragraph 1", "Alignment=Left .*"},
    {"StyleName", kDate, "$Body", "Paragraph 1", "TabStyle"},
    {"TableFitToWindow", kDate, "$Body", "Table 1", "FALSE"},
    {"TargetColumn", kDate, "$Body", "Table 1; Row 1; Column 2", "2"},
    {"TargetFrame", "jnx/testDbDesignCollections/view-actions.xml", "$V5ACTIONS", "Paragraph 1",
     "NotesView"},
    {"TargetNth", kStyled, "Body", "Text 1", "0"},  // the chunk has no count of its own
    {"TargetRow", kDate, "$Body", "Table 1; Row 1; Column 2", "1"},
    {"TargetType", kStyled, "Body", "Text 1", "Text"},
    {"Text", kStyled, "Body", "Text 1", "This is normal text\\."},
    {"TextAttributes", kCert, "Comments", "Text 1", "Plain"},
    {"TextWildcards", kCert, "Comments", "Text 1", "0\\.000000"},
    {"UnformattedText", kStyled, "Body", "Text 1", "This is normal text\\."},
    {"UnzoomedDefinition", kStyled, "Body", "Text 1", "Text 1"},
    {"Words", kStyled, "Body", "Text 1", "4"},
};

class PropertyOfCorpusItem : public CorpusDoc, public ::testing::WithParamInterface<Case> {};

TEST_P(PropertyOfCorpusItem, ReadsAPlausibleValue) {
  const Case& c = GetParam();
  if (!Open(c.file, c.item)) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* chunk = Chunk(c.definition);
  ASSERT_NE(chunk, nullptr);
  ASSERT_TRUE(chunk->Exists());
  const std::string value = Prop(chunk, c.property);
  EXPECT_FALSE(value.empty());
  EXPECT_TRUE(std::regex_match(value, std::regex(c.value))) << value;
}

INSTANTIATE_TEST_SUITE_P(Table, PropertyOfCorpusItem, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.property);
                         });

// ---- properties whose element is added to a real item first ----------------------

using AddedElement = CorpusDoc;

// A formula set on the corpus item's hotspot reads back as its text (the
// stored formulas of the corpus are compiled by another platform).
TEST_F(AddedElement, ActionFormula) {
  if (!Open("jnx/testDbDesignForms/form-alias.xml", "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* hotspot = Chunk("Hotspot 1");
  // The stored, foreign-compiled formula has no text here: the property
  // says so, never showing its bytes up to the first NUL as text.
  EXPECT_EQ(Prop(hotspot, "ActionFormula").rfind("*** Error: ", 0), 0u);
  const char* formula = "@Command([FileSave])";
  ASSERT_EQ(hotspot->SetPropertyText("ActionFormula", formula, 0), 1);
  EXPECT_EQ(Prop(hotspot, "ActionFormula"), formula);
  EXPECT_TRUE(ParsesAsXml(SaveReloadRender()));
}

TEST_F(AddedElement, HideFormula) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* paragraph = Chunk("Paragraph 1");
  ASSERT_EQ(paragraph->SetPropertyText("HideFormula", "Status = \"Draft\"", 0), 1);
  EXPECT_EQ(Prop(paragraph, "HideFormula"), "Status = \"Draft\"");
  // The first paragraph has no paragraph mark before it: honoured, a formula
  // that holds hides it all the same.
  ASSERT_EQ(paragraph->SetPropertyText("HideFormula", "@True", 0), 1);
  const std::string page = SaveReloadRender("RespectHiddenFormulas=1");
  EXPECT_EQ(page.find("This is normal text."), std::string::npos) << page;
  EXPECT_NE(page.find("This is monospace text"), std::string::npos) << page;
  EXPECT_NE(SaveReloadRender().find("This is normal text."), std::string::npos);
}

// A picture or a run of text has no paragraph of its own: the formula set on
// it goes to the paragraph it sits in, from the target on, and reads back
// from there.
TEST_F(AddedElement, HideFormulaOfAPictureOrARun) {
  if (!Open(kBadge, "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* graphic = Chunk("Graphic 1");
  EXPECT_EQ(Prop(graphic, "HideFormula"), "");
  ASSERT_EQ(graphic->SetPropertyText("HideFormula", "@True", 0), 1);
  EXPECT_EQ(Prop(graphic, "HideFormula"), "@True");
  int hides = 0;
  for (const Record& r : Records()) hides += r.signature == 0xFFBB;
  EXPECT_EQ(hides, 1);
  EXPECT_TRUE(ParsesAsXml(SaveReloadRender()));
  // Honoured, the formula hides the picture; the page without it shows it.
  const std::string hidden = SaveReloadRender("RespectHiddenFormulas=1");
  EXPECT_TRUE(ParsesAsXml(hidden));
  EXPECT_EQ(hidden.find("<img"), std::string::npos);
  EXPECT_NE(SaveReloadRender().find("<img"), std::string::npos);

  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* run = Chunk("Text 1");
  ASSERT_EQ(run->SetPropertyText("HideFormula", "1", 0), 1);
  EXPECT_EQ(Prop(run, "HideFormula"), "1");
  EXPECT_EQ(Prop(Chunk("Paragraph 3"), "HideFormula"), "");  // the others keep theirs
  const std::string page = SaveReloadRender("RespectHiddenFormulas=1");
  EXPECT_TRUE(ParsesAsXml(page));
  EXPECT_EQ(page.find("This is normal text."), std::string::npos) << page;
  EXPECT_NE(page.find("This is monospace text"), std::string::npos) << page;
}

class FileHotspot : public CorpusDoc {
 protected:
  // Attaches a small file to the corpus note through the chunk and returns
  // the chunk of its icon.
  TorvoRTChunk* Attach() {
    dir = kvtest::MakeTempDir();
    const std::string file = dir + "/report.txt";
    kvtest::WriteFile(file, std::string(1234, 'x'));
    TorvoRTChunk* everything = Chunk("Everything");
    EXPECT_EQ(everything->AppendFileAttachment(file.c_str(), "report.txt", 0, ""), 0);
    return Chunk("File 1");
  }
  void TearDown() override {
    if (!dir.empty()) kvtest::RemoveTree(dir);
    CorpusDoc::TearDown();
  }
  std::string dir;
};

TEST_F(FileHotspot, FileName) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* file = Attach();
  ASSERT_TRUE(file->Exists());
  EXPECT_EQ(Prop(file, "FileName"), "report.txt");
}

TEST_F(FileHotspot, FileSize) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* file = Attach();
  EXPECT_EQ(Prop(file, "FileSize"), "1234");
}

TEST_F(FileHotspot, OriginalFileName) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* file = Attach();
  EXPECT_EQ(Prop(file, "OriginalFileName"), "report.txt");
}

// The row of OLEFileName reads what OriginalFileName reads (the same code).
TEST_F(FileHotspot, OLEFileName) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* file = Attach();
  EXPECT_EQ(Prop(file, "OLEFileName"), "report.txt");
}

class DocLink : public CorpusDoc {
 protected:
  static constexpr const char* kReplica = "85255E01001356A8";
  static constexpr const char* kView = "0123456789ABCDEF0123456789ABCDEF";
  static constexpr const char* kNote = "FEDCBA9876543210FEDCBA9876543210";
  TorvoRTChunk* Link() {
    TorvoRTChunk* everything = Chunk("Everything");
    const std::string target = std::string("ReplicaID=") + kReplica + " ViewID=" + kView +
                               " NoteID=" + kNote + " Server='Hub/Acme' Anchor='Part 2'" +
                               " Text='See the report'";
    EXPECT_EQ(everything->AppendLink(nullptr, 0, target.c_str(), nullptr, nullptr, nullptr, 0,
                                     nullptr, 0, nullptr, 0),
              0);
    EXPECT_EQ(everything->lastStatus, 0);
    return Chunk("Doclink 1");
  }
};

// Linked without a view, the note is still the page's link target.
TEST_F(DocLink, NoteWithoutAViewRendersAsALinkToTheNote) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  const std::string target =
      std::string("ReplicaID=") + kReplica + " NoteID=" + kNote + " Text='The note'";
  ASSERT_EQ(Chunk("Everything")->AppendLink(nullptr, 0, target.c_str(), nullptr, nullptr, nullptr,
                                            0, nullptr, 0, nullptr, 0),
            0);
  const std::string page = SaveReloadRender();
  EXPECT_TRUE(ParsesAsXml(page));
  EXPECT_NE(page.find(std::string("/0/") + kNote + "\" class=\"doclink\">The note</a>"),
            std::string::npos)
      << page;
}

TEST_F(DocLink, LinkReplicaID) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* link = Link();
  ASSERT_TRUE(link->Exists());
  const std::string id = Prop(link, "LinkReplicaID");
  EXPECT_NE(id.find("85255E01"), std::string::npos) << id;
  EXPECT_NE(id.find("001356A8"), std::string::npos) << id;
}

TEST_F(DocLink, LinkViewUniversalID) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  EXPECT_EQ(Prop(Link(), "LinkViewUniversalID"), kView);
}

TEST_F(DocLink, LinkNoteUniversalID) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  EXPECT_EQ(Prop(Link(), "LinkNoteUniversalID"), kNote);
}

TEST_F(DocLink, LinkHintServer) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  EXPECT_EQ(Prop(Link(), "LinkHintServer"), "Hub/Acme");
}

TEST_F(DocLink, LinkAnchorText) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  EXPECT_EQ(Prop(Link(), "LinkAnchorText"), "Part 2");
}

TEST_F(DocLink, LinkPopupText) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  EXPECT_EQ(Prop(Link(), "LinkPopupText"), "See the report");
}

TEST_F(DocLink, PopupText) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  EXPECT_EQ(Prop(Link(), "PopupText"), "See the report");
}

// ---- values the issue named --------------------------------------------------------

using CorpusProperties = CorpusDoc;

TEST_F(CorpusProperties, FontWordsAreThoseOfThePropertyWriters) {
  if (!Open(kCert, "Comments")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* text = Chunk("Text 1");
  const std::string font = Prop(text, "Font");
  // The whole font holds its colour, size and face words.
  EXPECT_NE(font.find(Prop(text, "FontColor")), std::string::npos);
  EXPECT_NE(font.find(Prop(text, "FontFace")), std::string::npos);
  EXPECT_NE(font.find(Prop(text, "PointSize")), std::string::npos);
}

TEST_F(CorpusProperties, TextOutsideAHotspotIsNotInsideOne) {
  if (!Open(kSpan, "Body")) GTEST_SKIP() << "no corpus";
  EXPECT_EQ(Prop(Chunk("Text 1"), "InsideHotspot"), "0");
  EXPECT_EQ(Chunk("Popup 1; Text 1")->GetPropertyNumber("InsideHotspot"), 1);
  EXPECT_EQ(Chunk("Graphic 1")->GetPropertyNumber("RecordType"), 0);  // no graphic there
  if (!Open(kBadge, "$Body")) GTEST_SKIP();
  EXPECT_EQ(Chunk("Graphic 1")->GetPropertyNumber("RecordType"), 153);
}

TEST_F(CorpusProperties, UnzoomedDefinitionIsTheOneBeforeTheZoom) {
  if (!Open(kDate, "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* table = Chunk("Table 1");
  ASSERT_TRUE(table->ZoomIn("Row 1"));
  EXPECT_EQ(Prop(table, "Definition"), "Table 1; Row 1");
  EXPECT_EQ(Prop(table, "UnzoomedDefinition"), "Table 1");
}

// Palette entry 17 is (206, 239, 255): a table colour of that value is
// written by its palette form, under the key it was given with.
TEST_F(CorpusProperties, PaletteSeventeenIsItsOwnColour) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  ASSERT_EQ(Chunk("Everything")->AppendTable(2, 2, 0, "TableColor=RGB(206,239,255)", nullptr), 0);
  EXPECT_STREQ(Chunk("Table 1")->GetTableProperties("TableColor"), "TableColor=#ceefff ");
}

// The first table's first cell holds a table whose cell has a class: the
// outer cell and table read their own records, which they have none of.
TEST_F(CorpusProperties, HtmlValuesAreTheAddressedElementsOwn) {
  if (!Open(kDate, "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* outer = Chunk("Table 1; Row 1; Column 1");
  EXPECT_STREQ(outer->GetHTMLValue("Class", "Cell"), "");
  EXPECT_STREQ(outer->GetHTMLValue("Class", "Table"), "");
  EXPECT_STREQ(Chunk("Table 2; Row 1; Column 1")->GetHTMLValue("Class", "Cell"), "AppletTable");
  EXPECT_EQ(std::string(Chunk("Table 1")->GetTableProperties("")).find("HTML"), std::string::npos);
  // A cell's ID set reads back from that cell; its neighbour and the nested
  // cell keep theirs.
  outer->AlterRichText(2422, 2, 2, 0, 0, nullptr, "first", nullptr, nullptr);
  ASSERT_EQ(outer->lastStatus, 0);
  EXPECT_STREQ(Chunk("Table 1; Row 1; Column 1")->GetHTMLValue("ID", "Cell"), "first");
  EXPECT_STREQ(Chunk("Table 1; Row 1; Column 2")->GetHTMLValue("ID", "Cell"), "");
  EXPECT_STREQ(Chunk("Table 2; Row 1; Column 1")->GetHTMLValue("ID", "Cell"), "");
  EXPECT_NE(SaveReloadRender().find("id=\"first\""), std::string::npos);
}

// Each key the table listing writes is one ChangeTable sets, under that key;
// a key no table field sets is refused with the item as it was.
TEST_F(CorpusProperties, TableKeysReadBackUnderTheKeyTheyWereSetWith) {
  if (!Open("jnx/testDbDesignForms/form-alias.xml", "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* table = Chunk("Table 1");
  const std::string body = table->GetTableProperties("TableBodyColor");
  ASSERT_EQ(table->ChangeTable("TableColor=Red", 0), 0);
  EXPECT_STREQ(Chunk("Table 1")->GetTableProperties("TableColor"), "TableColor=Red ");
  EXPECT_EQ(Chunk("Table 1")->GetTableProperties("TableBodyColor"), body);
  const char* keys =
      "TableBodyColor=Blue RowDisplay=TABBED TabSide=LEFT TableColorStyle=Alternating_Rows "
      "CellBorderColor=RGB1,2,3 BorderEffects=DROP_SHADOW";
  ASSERT_EQ(Chunk("Table 1")->ChangeTable(keys, 0), 0);
  const std::string listing = Chunk("Table 1")->GetTableProperties("");
  for (const char* key : {"TableBodyColor=Blue ", "RowDisplay=TABBED TabSide=LEFT ",
                          "TableColorStyle=Alternating_Rows ", "CellBorderColor=RGB1,2,3 ",
                          "BorderEffects=DROP_SHADOW "})
    EXPECT_NE(listing.find(key), std::string::npos) << key << " in " << listing;
  const auto before = Records();
  for (const char* refused : {"TableColour=Red", "TableColor=Reddish", "RowDisplay=SIDEWAYS",
                              "BorderStyle=DOUBLE", "TableWidth"})
    EXPECT_EQ(Chunk("Table 1")->ChangeTable(refused, 0), NN_ERR_INVALID_ARG) << refused;
  EXPECT_EQ(Records(), before);
  EXPECT_TRUE(ParsesAsXml(SaveReloadRender()));
}

// The font of one run, given to another, is that font: its colour word
// never becomes a face, and its RGB colour shows on the page.
TEST_F(CorpusProperties, AFontCopiedToAnotherRunIsThatFont) {
  if (!Open(kStyled, "Body")) GTEST_SKIP() << "no corpus";
  ASSERT_EQ(Chunk("Text 1")->ChangeFont("Bold RGB127,96,79 10pt Arial", nullptr, 0), 0);
  const std::string font = Prop(Chunk("Text 1"), "Font");
  EXPECT_EQ(font, "Bold RGB127,96,79 10pt Arial");
  ASSERT_EQ(Chunk("Text 3")->ChangeFont(font.c_str(), nullptr, 0), 0);
  EXPECT_EQ(Prop(Chunk("Text 3"), "Font"), font);
  EXPECT_EQ(Chunk("Text 3")->ChangeFont("Bold RGB127,96 Arial", nullptr, 0), NN_ERR_INVALID_ARG);
  EXPECT_EQ(Chunk("Text 2")->SetPropertyNumber("FontColor", 2), 1);
  EXPECT_EQ(Prop(Chunk("Text 2"), "FontColor"), "Red");
  EXPECT_EQ(Chunk("Text 2")->SetPropertyNumber("FontColor", 240), 0);
  const std::string page = SaveReloadRender();
  EXPECT_TRUE(ParsesAsXml(page));
  EXPECT_EQ(page.find("RGB127"), std::string::npos) << page;
  char* html = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(Chunk("Everything")->GenerateHTML(nullptr, "", &html, &length), NN_OK);
  const std::string pages[2] = {page, std::string(html, length)};
  PoolFree(session, html);
  const std::string one = Prop(Chunk("Text 1"), "Text"), three = Prop(Chunk("Text 3"), "Text");
  int coloured = 0;  // the copied runs' spans, in either page
  for (int asHtml = 0; asHtml < 2; ++asHtml)
    for (const kvtest::PageElement& e : kvtest::PageElements(pages[asHtml], asHtml))
      coloured += e.name == "span" && (e.text == one || e.text == three) &&
                  e.Attribute("style").find("color:#7f604f;") != std::string::npos;
  EXPECT_EQ(coloured, 4);
}

// A fixed table whose columns hold no share of the window, made to fit it:
// the page's table fills the window, its cells share it by their edges.
TEST_F(CorpusProperties, AFixedTableMadeToFitFillsTheWindow) {
  if (!Open("ukl/Forms/Evaluation.form", "$Body")) GTEST_SKIP() << "no corpus";
  ASSERT_EQ(Chunk("Table 1")->ChangeTable("TableWidth=FIT_TO_WINDOW", 0), 0);
  std::vector<std::string> styles;  // the table's, then its first row's cells'
  for (const kvtest::PageElement& e : kvtest::PageElements(SaveReloadRender()))
    if ((e.name == "table" || e.name == "td") && styles.size() < 3)
      styles.push_back(e.Attribute("style"));
  ASSERT_EQ(styles.size(), 3u);
  EXPECT_NE(styles[0].find("width:100%;"), std::string::npos) << styles[0];
  EXPECT_EQ(styles[1].substr(0, 10) + styles[2].substr(0, 10), "width:50%;width:50%;");
}

TEST_F(CorpusProperties, CellColorSetIsReadBackAndRendered) {
  if (!Open("jnx/testDbDesignForms/form-activityreport.xml", "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* cell = Chunk("Table 1; Row 1; Column 2");
  const auto before = Records();
  ASSERT_EQ(cell->SetPropertyText("CellColor", "Red", 0), 1);
  EXPECT_EQ(Prop(cell, "CellColor"), "Red");
  EXPECT_NE(Records(), before);
  // Black given as RGB is a colour record as any other RGB, and set back
  // it stays one; named, it is the palette's.
  ASSERT_EQ(cell->SetPropertyText("CellColor", "RGB0,0,0", 0), 1);
  EXPECT_EQ(Prop(cell, "CellColor"), "RGB0,0,0");
  const auto black = Records();
  ASSERT_EQ(cell->SetPropertyText("CellColor", "RGB0,0,0", 0), 1);
  EXPECT_EQ(Records(), black);
  ASSERT_EQ(cell->SetPropertyText("CellColor", "Black", 0), 1);
  EXPECT_EQ(Prop(cell, "CellColor"), "Black");
  ASSERT_EQ(cell->SetPropertyText("CellColor", "#123456", 0), 1);
  EXPECT_EQ(Prop(cell, "CellColor"), "RGB18,52,86");
  // A text that is no colour is refused and changes nothing.
  const auto set = Records();
  EXPECT_EQ(cell->SetPropertyText("CellColor", "no colour", 0), 0);
  EXPECT_EQ(Records(), set);
  const std::string page = SaveReloadRender();
  EXPECT_TRUE(ParsesAsXml(page));
  EXPECT_NE(page.find("background-color:#123456"), std::string::npos) << page;
}

// A standard colour is kept as the cell's palette index, with no colour
// record: the page still shows it, in that one cell.
TEST_F(CorpusProperties, StandardCellColourShowsInThePage) {
  if (!Open("ukl/Forms/ControlPanel.form", "$Body")) GTEST_SKIP() << "no corpus";
  TorvoRTChunk* cell = Chunk("Table 1; Row 3; Column 2");
  const auto before = Records();
  ASSERT_EQ(cell->SetPropertyText("CellColor", "Yellow", 0), 1);
  EXPECT_EQ(Prop(cell, "CellColor"), "Yellow");
  const auto after = Records();
  ASSERT_EQ(after.size(), before.size()) << "no record added";
  size_t changed = 0;
  for (size_t i = 0; i < after.size(); ++i) {
    if (after[i] == before[i]) continue;
    ++changed;
    ASSERT_EQ(after[i].signature, 164);
    const std::string& c = after[i].bytes;
    EXPECT_EQ(int(c[2]), 2) << "row 3";
    EXPECT_EQ(int(c[3]), 1) << "column 2";
    EXPECT_EQ(c[11] & 0x01, 0x01);
    EXPECT_EQ(uint8_t(c[16]) | uint8_t(c[17]) << 8, 6) << "yellow's palette index";
  }
  EXPECT_EQ(changed, 1u);
  const std::string page = SaveReloadRender();
  EXPECT_TRUE(ParsesAsXml(page));
  const size_t at = page.find("background-color:#ffff00;");
  ASSERT_NE(at, std::string::npos) << page;
  EXPECT_EQ(page.find("background-color", at + 1), std::string::npos) << "one cell only";
  // In the third row's second cell.
  size_t rows = 0, cells = 0;
  for (size_t p = page.find("<tr>"); p != std::string::npos && p < at; p = page.find("<tr>", p + 1))
    ++rows;
  for (size_t p = page.rfind("<tr>", at); (p = page.find("<td", p + 1)) != std::string::npos &&
                                          p < at;)
    ++cells;
  EXPECT_EQ(rows, 3u);
  EXPECT_EQ(cells, 2u);
}

}  // namespace
}  // namespace corpustest
