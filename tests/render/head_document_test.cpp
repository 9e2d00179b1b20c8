// The document head and body opening.
#include <regex>
#include <set>
#include <string>

#include "render/paragraph_support.h"
#include "richtext/item/parastring.h"

namespace {

class HeadTest : public textwriters::ParagraphRecordsTest {
 protected:
  std::string Render() {
    StartAtFirst();
    EXPECT_EQ(WriteDocumentHead(ctx), NN_OK);
    EXPECT_EQ(WriteBodyOpening(ctx), NN_OK);
    return Out();
  }
  void Options(const char* text) { ctx->optionString = text; }
};

TEST_F(HeadTest, NoDefinitionsLeaveNoStyleElement) {
  AddText("hello");
  const std::string out = Render();
  EXPECT_EQ(out.find("<style"), std::string::npos) << out;
  EXPECT_NE(out.find("</head>"), std::string::npos);
  EXPECT_NE(out.find("<body style='background: #ffffff;' text='#000000'>"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("body {"), std::string::npos);  // default font: no global style
}

TEST_F(HeadTest, ClassRulesCoverEveryClassTheBodyUses) {
  AddDefinition(3, 2880, 2880);
  AddDefinition(4, 1620, 1620, 0x0100 | kPabBullet);
  AddReference(3);
  AddText("one");
  AddReference(4);
  AddText("two");
  const std::string out = Render();
  EXPECT_NE(out.find("<style type=\"text/css\">div.pabid3 {margin-left: 1.00in; }"
                     "ul.pabid4 {padding-left: 0.25in; margin-left: 0.88in; "
                     "margin-top: 0; margin-bottom: 0; list-style-type: disc; }</style>"),
            std::string::npos)
      << out;
  // The body's classes, opened paragraph by paragraph.
  for (auto& n : nodes)
    if (n->signature == 0x0083) {
      ctx->currentRecord = n.get();
      ASSERT_EQ(WriteParagraphStart(ctx, 0, 0), NN_OK);
    }
  const std::string all = Out();
  std::regex used("class=\"(pabid[0-9]+)\"");
  int seen = 0;
  for (std::sregex_iterator it(all.begin(), all.end(), used), end; it != end; ++it, ++seen)
    EXPECT_NE(all.find("." + (*it)[1].str() + " {"), std::string::npos) << (*it)[1];
  EXPECT_EQ(seen, 2) << all;
}

TEST_F(HeadTest, MoveStylesInlineKeepsScripts) {
  AddDefinition(3, 2880, 2880);
  ctx->renderFlagsB = 0x1 | 0x200;
  const std::string out = Render();
  EXPECT_EQ(out.find("<style"), std::string::npos) << out;
  EXPECT_NE(out.find("function expandCollapseSection(i,ch){"), std::string::npos);
}

TEST_F(HeadTest, FragmentWithAjaxId) {
  AddText("x");
  ctx->renderFlagsA = 0x2;
  ctx->renderFlagsE = 0x80;
  Options("Generation=Fragment AjaxID=box1");
  std::string out = Render();
  EXPECT_NE(out.find("<div id='box1'>"), std::string::npos) << out;
  EXPECT_EQ(out.find("</head>"), std::string::npos);
  EXPECT_EQ(out.find("<body"), std::string::npos);

  Make(65536);
  ctx->renderFlagsA = 0x2;
  ctx->renderFlagsE = 0x80;
  Options("AjaxID='box 1'");
  out = Render();
  EXPECT_EQ(out.find("<div id="), std::string::npos) << out;
  EXPECT_NE(out.find("<body>"), std::string::npos) << out;
}

TEST_F(HeadTest, BackgroundColourMustBeAColour) {
  AddText("x");
  Options("bgcolor=#12345");
  EXPECT_NE(Render().find("background: #ffffff;"), std::string::npos);

  Make(65536);
  Options("bgcolor=#00ff80");
  EXPECT_NE(Render().find("background: #00ff80;"), std::string::npos);

  Make(65536);
  Options("bgcolor=\"red;'><script>x</script>\"");
  const std::string out = Render();
  EXPECT_EQ(out.find("<script"), std::string::npos) << out;
  EXPECT_NE(out.find("background: #ffffff;"), std::string::npos) << out;
}

TEST_F(HeadTest, StyleSheetInfoCannotCloseTheStyleElement) {
  AddDefinition(3, 2880, 2880);
  Options("AddStyleSheetInfo=\"p{color:red}</style><script>alert(1)</script>\"");
  const std::string out = Render();
  EXPECT_EQ(out.find("<script"), std::string::npos) << out;
  EXPECT_EQ(out.find("</style><script"), std::string::npos);
}

TEST_F(HeadTest, TwentyFiveBorderPatternsMakeTwentyClasses) {
  AddRecord(0x00A3, 14);
  for (int i = 0; i < 25; ++i) {
    RTRecordNode* cell = AddRecord(0x00A4, 18);
    cell->data[11] = 0x02;  // four-bit widths
    Put(cell, 12, uint16_t((i % 5) | (i / 5) << 4 | 1 << 8 | 2 << 12));
  }
  AddRecord(0x00A5, 8);
  ctx->renderFlagsA = 0x4000;
  Render();
  EXPECT_EQ(ctx->borderClassCount, 20);
  EXPECT_STREQ(ctx->borderClassCodes[0], "1020");  // top, right, bottom, left
  EXPECT_STREQ(ctx->borderClassCss[0],
               "td.brdr1020 {border-top:1px solid black; border-left:none; "
               "border-right:none; border-bottom: 2px solid black }");
}

TEST_F(HeadTest, MostUsedFontBecomesTheBodyStyle) {
  for (int i = 0; i < 60; ++i) AddText("x", 4, 0, 2, 12);
  const std::string out = Render();
  EXPECT_NE(out.find("body {"), std::string::npos) << out;
  EXPECT_EQ(ctx->baseFont[0], 4);
  EXPECT_EQ(ctx->baseFont[3], 12);
  // Nothing of the formatted font stays open or in the body.
  EXPECT_EQ(ctx->inlineElementList, nullptr);
  EXPECT_EQ(ctx->blockElementList, nullptr);
}

TEST_F(HeadTest, SmallOutputGivesStatus) {
  Make(600);
  for (int i = 1; i <= 20; ++i) AddDefinition(uint16_t(i), uint16_t(1440 + 100 * i), 1440);
  StartAtFirst();
  EXPECT_EQ(WriteDocumentHead(ctx), NN_ERR_MEMORY);
  EXPECT_LE(size_t(ctx->outputCursor - ctx->outputBuffer), size_t(100));
}

}  // namespace
