// Whole renders of built records with render options: every element the page
// opens is closed, and each option shows in the page.

#include <string>
#include <vector>

#include "render/paragraph_support.h"
#include "richtext/item/parastring.h"
#include "host/color.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

using kvtest::Count;

bool WellFormed(const std::string& body) {
  return kvtest::ParsesAsXml("<html><head>" + body + "</body></html>");
}

class PageOptions : public textwriters::ParagraphRecordsTest {
 protected:
  void TearDown() override {
    if (ctx) ctx->definitionTable = nullptr;
    ParagraphRecordsTest::TearDown();
  }
  // Renders the records as XHTML with the options, as the page's body part
  // (head content, body, closings).
  std::string Render(const char* options) {
    EXPECT_EQ(session.PreprocessXMLProperties(ctx, kOutputXhtml, nullptr, options), 0);
    if (item) ctx->item = item.get();
    // The definitions in force, by index from 1, as the engine lists them.
    table.assign(1, nullptr);
    for (auto& n : nodes)
      if (n->signature == 0xFF82) table.push_back(n.get());
    ctx->definitionTable = table.data();
    ctx->definitionCount = uint16_t(table.size() - 1);
    StartAtFirst();
    EXPECT_EQ(PrXMLStr(ctx, 0, 0, 0), NN_OK);
    return Out();
  }
  RTRecordNode* Definition(uint16_t id, uint16_t justify = 0, uint16_t flags2 = 0,
                           uint16_t flags = 0x0100) {
    RTRecordNode* d = AddDefinition(id, 1440, 1440, flags);
    Put(d, 6, justify);
    Put(d, 68, flags2);
    return d;
  }
  void Paragraph(uint16_t id, const std::string& text, uint8_t face = 1) {
    AddRecord(0x0081, 2);
    AddReference(id);
    AddText(text, face);
  }
  void Table(uint8_t border = 0) {
    RTRecordNode* begin = AddRecord(0x00A3, 14);
    begin->data[1] = 14;
    RTRecordNode* cell = AddRecord(0x00A4, 18);
    cell->data[1] = 18;
    cell->data[10] = border;
    AddText("cell");
    RTRecordNode* end = AddRecord(0x00A5, 8);
    end->data[1] = 6;
  }
  RTRecordNode* HideFormula(uint16_t id, const std::string& formula) {
    RTRecordNode* n = AddRecord(0xFFBB, 14 + formula.size());
    Put(n, 0, 0xFFBB);
    Put(n, 2, uint16_t(14 + formula.size()));
    Put(n, 4, id);
    std::memcpy(n->data + 14, formula.data(), formula.size());
    return n;
  }
  std::vector<RTRecordNode*> table;
  std::unique_ptr<TorvoRTItem> item;
};

// ---- elements opened and closed --------------------------------------------------

TEST_F(PageOptions, FormAndFragmentOpeningsCloseAtTheEnd) {
  Definition(1);
  Paragraph(1, "text");
  std::string out = Render("FormName=Order");
  EXPECT_NE(out.find("name=\"_Order\">"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 13), "</div></form>") << out;
  EXPECT_TRUE(WellFormed(out)) << out;

  Make(65536);
  out = Render("Generation=Fragment AjaxID=box1");
  EXPECT_EQ(out.rfind("<div id='box1'>", 0), 0u) << out;
  EXPECT_EQ(out.substr(out.size() - 12), "</div></div>") << out;
  Make(65536);
  out = Render("Generation=Fragment");
  EXPECT_EQ(out.rfind("<body>", 0), 0u) << out;
  EXPECT_EQ(out.substr(out.size() - 13), "</div></body>") << out;
  // A form inside a fragment's division closes first.
  Make(65536);
  out = Render("Generation=Fragment AjaxID=box1 FormName=F");
  EXPECT_EQ(out.substr(out.size() - 19), "</div></form></div>") << out;
}

TEST_F(PageOptions, HeadTagAddsItsMarkupAndKeepsTheScripts) {
  Definition(1);
  Paragraph(1, "text");
  for (const char* scripts : {"SectionsInCSS=Yes", "TabbedTablesInCSS=Yes"}) {
    Make(65536);
    const std::string out =
        Render((std::string("HeadTag='<meta name=\"robots\" content=\"none\"/>' ") + scripts).c_str());
    const size_t meta = out.find("<meta name=\"robots\" content=\"none\" />");
    const size_t script = out.find(scripts[0] == 'S' ? "function expandCollapseSection(i,ch){"
                                                     : "function switchTab(numberOfTabs, tbl, i){");
    EXPECT_LT(meta, script) << out;
    EXPECT_LT(script, out.find("</head>")) << out;
    EXPECT_EQ(Count(out, "</head>"), 1u) << out;
    EXPECT_TRUE(WellFormed(out)) << out;
  }
  Make(65536);
  const std::string out = Render("HeadTag='<script>alert(1)</script>'");
  EXPECT_EQ(out.find("<script"), std::string::npos) << out;
  EXPECT_EQ(Count(out, "</head>"), 1u) << out;
}

TEST_F(PageOptions, AnAlignedParagraphHoldingATableEndsWithIt) {
  Definition(1, 3);
  Definition(2, 0);
  Paragraph(1, "centred");
  Table();
  Paragraph(2, "after");
  Paragraph(2, "last");
  const std::string out = Render("StandardFontTags=Yes");
  EXPECT_NE(out.find("<div align='center'><table"), std::string::npos) << out;
  EXPECT_NE(out.find("</table></div></div><div align='left'>after</div>"), std::string::npos)
      << out;
  EXPECT_EQ(Count(out, "<div"), Count(out, "</div>")) << out;
}

TEST_F(PageOptions, ListsDeeperThanTheDepthLimitCloseAgain) {
  for (uint16_t i = 0; i < 40; ++i) {
    RTRecordNode* d = AddDefinition(uint16_t(i + 1), uint16_t(1800 + 100 * i),
                                    uint16_t(1800 + 100 * i), kPabBullet);
    (void)d;
  }
  Definition(60);
  for (uint16_t i = 0; i < 40; ++i) Paragraph(uint16_t(i + 1), "level");
  Paragraph(60, "end");
  const std::string out = Render("");
  EXPECT_EQ(Count(out, "<ul"), kMaxListLevels) << out;
  EXPECT_EQ(Count(out, "</ul>"), kMaxListLevels);
  EXPECT_EQ(Count(out, "<li"), 40u);
  // The paragraph after the lists stands outside every one of them.
  EXPECT_NE(out.find("</li></ul><div align='left'>end</div>"), std::string::npos) << out;
  EXPECT_EQ(ctx->listDepth, 0u);
}

TEST_F(PageOptions, ListsInsideATableCellEndWithTheCell) {
  AddDefinition(1, 1800, 1800, kPabBullet);
  Definition(2);
  RTRecordNode* begin = AddRecord(0x00A3, 14);
  begin->data[1] = 14;
  RTRecordNode* cell = AddRecord(0x00A4, 18);
  cell->data[1] = 18;
  Paragraph(1, "in cell");
  RTRecordNode* end = AddRecord(0x00A5, 8);
  end->data[1] = 6;
  Paragraph(1, "outside");
  Paragraph(2, "after");
  const std::string out = Render("");
  EXPECT_NE(out.find("in cell</li></ul></td>"), std::string::npos) << out;
  EXPECT_NE(out.find("<li type=\"disc\">outside</li></ul><div align='left'>after</div>"),
            std::string::npos)
      << out;
  EXPECT_EQ(Count(out, "<ul"), 2u) << out;
  EXPECT_EQ(ctx->listDepth, 0u);
}

// ---- hide-when formulas --------------------------------------------------------------

TEST_F(PageOptions, HideFormulasThatFillTheirRecordOrComeFirstHide) {
  Definition(1);
  Definition(2, 0, 0, 0x0100 | 0x0800);
  HideFormula(2, "1");  // no NUL: the formula fills its record
  HideFormula(3, "1+1");
  Definition(3, 0, 0, 0x0100 | 0x0800);
  Definition(4, 0, 0, 0x0100 | 0x0800);
  HideFormula(4, "0");
  Paragraph(1, "shown");
  Paragraph(2, "hidden after");
  Paragraph(3, "hidden before");
  Paragraph(4, "zero");
  const std::string out = Render("RespectHiddenFormulas=Yes");
  EXPECT_NE(out.find("shown"), std::string::npos) << out;
  EXPECT_EQ(out.find("hidden after"), std::string::npos) << out;
  EXPECT_EQ(out.find("hidden before"), std::string::npos) << out;
  EXPECT_NE(out.find("zero"), std::string::npos) << out;
}

// ---- options that write -----------------------------------------------------------------

TEST_F(PageOptions, AddStyleSheetInfoIsStyleOrHeadMarkupNeverText) {
  Definition(1);
  Paragraph(1, "text");
  std::string out = Render("AddStyleSheetInfo='p {margin:0}'");
  EXPECT_EQ(out.rfind("<style type=\"text/css\">p {margin:0}</style>", 0), 0u) << out;
  Make(65536);
  out = Render("AddStyleSheetInfo=\"<link rel='stylesheet' href='site.css'>\"");
  EXPECT_EQ(out.rfind("<link rel=\"stylesheet\" href=\"site.css\" />", 0), 0u) << out;
  Make(65536);
  out = Render("AddStyleSheetInfo='<script>alert(1)</script>'");
  EXPECT_EQ(out.find("script"), std::string::npos) << out;
  EXPECT_EQ(out.find("alert"), std::string::npos) << out;
  // Style text keeps its child combinators; what could end the element goes.
  Make(65536);
  out = Render("AddStyleSheetInfo='ul > li {margin:0} </style><b>'");
  EXPECT_EQ(out.rfind("<style type=\"text/css\">ul > li {margin:0} \\3c /style>\\3c b></style>", 0),
            0u)
      << out;
  // Inside the page's own style element the value stays style text.
  Make(65536);
  out = Render("MoveStylesInline=No AddStyleSheetInfo='p {margin:0}'");
  EXPECT_EQ(out.rfind("<style type=\"text/css\">p {margin:0}div.pabid1 {}</style>", 0), 0u) << out;
}

TEST_F(PageOptions, CssBordersWritesItsClassesAndCellsUseThem) {
  Definition(1);
  Paragraph(1, "before");
  Table(0x55);  // every side one pixel
  const std::string out = Render("CSSBorders=Yes");
  EXPECT_NE(out.find("<style type=\"text/css\">td.brdr1111 {border:1px solid black}</style>"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("<td class=\"brdr1111\">"), std::string::npos) << out;
  EXPECT_EQ(out.find("border-left:1px"), std::string::npos) << out;
  Make(65536);
  const std::string plain = Render("");
  EXPECT_NE(plain.find("border-left:1px solid #000;"), std::string::npos) << plain;
}

TEST_F(PageOptions, AStyleRecordNamingAClassGivesTheParagraphThatClass) {
  Definition(1);
  RTRecordNode* style = AddRecord(0x00A6, 48);
  Put(style, 8, 1);
  std::memcpy(style->data + 10, ".note", 5);
  Paragraph(1, "styled");
  std::string out = Render("");
  EXPECT_NE(out.find("<div class=\"note\">styled</div>"), std::string::npos) << out;
  Make(65536);
  out = Render("RestoreCSSRefs=No");
  EXPECT_EQ(out.find("class=\"note\""), std::string::npos) << out;
}

TEST_F(PageOptions, ForcedFontsAndRelativeSizesShow) {
  Definition(1);
  Paragraph(1, "text");
  std::string out = Render("ForceFontSize=12");
  EXPECT_NE(out.find("<div style=\"font-size: 12pt; \">"), std::string::npos) << out;
  EXPECT_NE(out.find("<span style=\"font-size:12pt;\">text</span>"), std::string::npos) << out;
  Make(65536);
  out = Render("ForceFontColor=#ff0000");
  EXPECT_NE(out.find("<div style=\"color: rgb(255,0,0); \">"), std::string::npos) << out;
  EXPECT_NE(out.find("color:#ff0000;"), std::string::npos) << out;
  Make(65536);
  out = Render("ForceFontFace=4");
  EXPECT_NE(out.find("<div style=\"font-family: &#39;Courier New&#39;; \"><span "
                     "style=\"font-family:'Courier New';\">text</span></div>"),
            std::string::npos)
      << out;
  Make(65536);
  out = Render("RelativePtSize=E");
  EXPECT_NE(out.find("<div style=\"font-size: 1.0em; \">"), std::string::npos) << out;
  Make(65536);
  out = Render("RelativePtSize=P ForceFontSize=Yes");
  EXPECT_NE(out.find("<div style=\"font-size: 100%; \">"), std::string::npos) << out;
  Make(65536);
  EXPECT_EQ(Render("").find("font-size"), std::string::npos);
}

TEST_F(PageOptions, LeftToRightIsStatedOnlyAfterTheFirstRightToLeftParagraph) {
  Definition(1, 0, 0);
  Definition(2, 0, kPab2RightToLeft);
  Definition(3, 0, 0x0004);  // extended below: its own margins
  Paragraph(1, "before");
  Paragraph(2, "rtl");
  Paragraph(1, "after");
  const std::string out = Render("");
  const size_t rtl = out.find("direction: rtl;");
  ASSERT_NE(rtl, std::string::npos) << out;
  EXPECT_EQ(out.find("direction: ltr;"), out.rfind("direction: ltr;")) << out;
  EXPECT_GT(out.find("direction: ltr;"), rtl) << out;

  // Class rules stand before every paragraph: none states left to right.
  Make(65536);
  const std::string classes = Render("MoveStylesInline=No");
  EXPECT_NE(classes.find("div.pabid2 {direction: rtl;}"), std::string::npos) << classes;
  EXPECT_EQ(classes.find("direction: ltr;"), std::string::npos) << classes;
  Make(65536);
  const std::string forced = Render("MoveStylesInline=No ForceDirection=RTL");
  EXPECT_NE(forced.find("div.pabid1 {direction: ltr;}"), std::string::npos) << forced;
}

TEST_F(PageOptions, ExtendedMarginsReplaceLeftAndFirstLineTogether) {
  // Plain margins 1440 and 1440; extended left and first-line margins 2880.
  RTRecordNode* d = AddRecord(0xFF82, 90);
  Put(d, 0, 0xFF82);
  Put(d, 2, 90);
  Put(d, 4, 1);
  Put(d, 14, 1440);
  Put(d, 18, 1440);
  Put(d, 62, 0x0100);
  Put(d, 68, 0x0004);
  Put(d, 72, 2880);
  Put(d, 76, 2880);
  Paragraph(1, "indented");
  const std::string out = Render("");
  EXPECT_NE(out.find("<div style=\"margin-left: 1.00in; \">indented"), std::string::npos) << out;
  EXPECT_EQ(out.find("text-indent"), std::string::npos) << out;
}

TEST_F(PageOptions, FaceThreeIsATextFace) {
  item = std::make_unique<TorvoRTItem>(&session);
  char name[64] = {};
  ASSERT_TRUE(item->FindFaceByID(3, name));
  EXPECT_STREQ(name, "Arial");
  Definition(1);
  Paragraph(1, "label", 3);
  AddText("serif", 0);
  AddText("code", 4);
  const std::string out = Render("");
  EXPECT_EQ(out.find("Symbol"), std::string::npos) << out;
  EXPECT_NE(out.find("<span style=\"font-family:'Arial';\">label</span>"), std::string::npos)
      << out;
  EXPECT_NE(out.find("font-family:'Times New Roman';"), std::string::npos) << out;
  EXPECT_NE(out.find("font-family:'Courier New';"), std::string::npos) << out;
}

TEST_F(PageOptions, ColoursAboveFifteenComeFromThePalette) {
  Definition(1);
  AddRecord(0x0081, 2);
  AddReference(1);
  AddText("tinted", 1, 0, 17);
  const std::string out = Render("");
  char colour[32];
  std::snprintf(colour, sizeof colour, "color:#%02x%02x%02x;", PaletteRgbTable[17][0],
                PaletteRgbTable[17][1], PaletteRgbTable[17][2]);
  EXPECT_NE(out.find(std::string("<span style=\"") + colour + "\">tinted</span>"),
            std::string::npos)
      << out;
}

TEST_F(PageOptions, HeadMarkupOptionsNeverBringScriptOrBreakThePage) {
  Definition(1);
  Paragraph(1, "text");
  const char* const values[] = {
      "'<link href=\"x\"'",
      "'<style>a{}'",
      "'<style>a</b></style>'",
      "'<link href=\"javascript:alert(1)\"/>'",
      "'<link onload=\"alert(1)\" href=\"x\"/>'",
      "'<meta content=\"a\"/>text'",
      "'<link/ >'",
      "'<iframe src=\"x\"></iframe>'",
      "'<meta http-equiv=\"refresh\" content=\"0;url=data:text/html,x\"/>'",
      "'<style>a{}</style><script>x</script>'",
      "'<'",
      "'< link href=\"x\"/>'",
  };
  for (const char* key : {"AddStyleSheetInfo=", "HeadTag="}) {
    for (const char* value : values) {
      Make(65536);
      const std::string options = std::string(key) + value;
      const std::string out = Render(options.c_str());
      EXPECT_EQ(out.find("<script"), std::string::npos) << options << ": " << out;
      EXPECT_EQ(out.find("<iframe"), std::string::npos) << options << ": " << out;
      EXPECT_EQ(out.find("onload"), std::string::npos) << options << ": " << out;
      EXPECT_EQ(out.find("javascript:"), std::string::npos) << options << ": " << out;
      EXPECT_EQ(out.find("url=data:"), std::string::npos) << options << ": " << out;
      EXPECT_TRUE(WellFormed(out)) << options << ": " << out;
    }
  }
}

}  // namespace
