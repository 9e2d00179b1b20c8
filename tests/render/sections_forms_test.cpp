// Collapsible sections: the plain, script and styled-header forms, bars met
// by the hotspot writer and by the driver, titles, options and deep nesting.
#include "elements_support.h"

namespace elements {
namespace {

Bytes Bar(const std::string& title, uint32_t flags = 0, uint32_t font = 0x0A000001,
          bool terminator = true) {
  Bytes r = WordRecord(0xFFAC, 12);
  Put32(r, 4, flags);
  Put32(r, 8, font);
  if (!title.empty() || terminator) PutText(r, 12, title + std::string(terminator ? 1 : 0, '\0'));
  return Sized(r);
}

Bytes Colour(uint8_t red, uint8_t green, uint8_t blue, uint16_t flags) {
  Bytes r = ByteRecord(0x00D2, 8);
  Put16(r, 2, flags);
  r[4] = red, r[5] = green, r[6] = blue;
  return r;
}

class SectionTest : public ElementTest {
 protected:
  void Section(const Bytes& bar, const std::string& body, const Bytes* colour = nullptr) {
    Add(HotspotBegin(12, 0, ""));
    Add(bar);
    if (colour) Add(*colour);
    Add(Text(body));
    Add(HotspotEnd());
  }
};

TEST_F(SectionTest, PlainFormWithAndWithoutTitle) {
  Section(Bar("Ti<tle"), "body");
  EXPECT_EQ(Render(), "<hr />body");
  ctx->outputCursor = ctx->outputBuffer;
  *ctx->outputCursor = 0;
  ctx->optionString = "SectionIncludeTitle=yes";
  EXPECT_EQ(Render(), "<hr /><h3>Ti&lt;tle</h3>body");
  EXPECT_EQ(ctx->sectionCounter, 2);
}

TEST_F(SectionTest, ScriptFormFirstCollapsedSection) {
  Context()->renderFlagsB = 0x200;
  Section(Bar("T"), "inside");
  Add(Text("after"));
  const std::string out = Render();
  EXPECT_NE(out.find("\n<div id=\"sctn1c\" style=\"display: block\">\n<a href=\"#\" "
                     "onclick=\"expandCollapseSection(1,'e')\">\n<h3><img src='/icons/expand.gif' "
                     "alt='expand section' border='0' />\nT</h3></a></div>\n"
                     "<div id=\"sctn1e\" style=\"display: none\">\n"),
            std::string::npos)
      << out;
  EXPECT_LT(out.find("inside"), out.rfind("</div>"));
  EXPECT_GT(out.find("after"), out.rfind("</div>"));
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(SectionTest, NestedScriptSectionsCloseTheirOwnBlocks) {
  Context()->renderFlagsB = 0x200;
  ctx->localIcons = 1;
  Add(HotspotBegin(12, 0, ""));
  Add(Bar("outer", 0x10));
  Section(Bar("inner"), "in");
  Add(Text("outer-tail"));
  Add(HotspotEnd());
  const std::string out = Render();
  EXPECT_NE(out.find("src='icons/collapse.gif'"), std::string::npos);
  EXPECT_NE(out.find("<div id=\"sctn1c\" style=\"display: none\">"), std::string::npos);
  // The outer expanded block is still open when its own text is written.
  EXPECT_LT(out.find("outer-tail"), out.rfind("</div>")) << out;
  EXPECT_EQ(Count(out, "<div"), Count(out, "</div>"));
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(SectionTest, BarsMetByTheWalkCountOnAndWriteTheSameMarkup) {
  Context()->renderFlagsB = 0x200;
  Add(Bar("a"));
  Add(Bar("b"));
  const std::string out = Render();
  EXPECT_NE(out.find("id=\"sctn1c\" style=\"display: block\""), std::string::npos) << out;
  EXPECT_NE(out.find("id=\"sctn2c\""), std::string::npos);
  EXPECT_EQ(ctx->sectionCounter, 2);
  EXPECT_EQ(ctx->sectionLevel, 0);
}

TEST_F(SectionTest, BarWithoutTitleWritesNoTitleInAnyForm) {
  for (uint32_t b : {0u, 0x200u}) {
    NewList();
    Context()->renderFlagsB = b;
    ctx->optionString = "SectionIncludeTitle=Yes";
    Section(Bar("", 0, 0x0A000001, false), "x");
    const std::string out = Render();
    EXPECT_TRUE(b ? out.find("border='0' />\n</h3>") != std::string::npos
                  : out.find("<hr /><h3></h3>") != std::string::npos)
        << out;
  }
}

TEST_F(SectionTest, CallerTagsReplaceTheSectionMarkup) {
  Context()->optionString = "SectionOpenTag=<details> SectionCloseTag=</details>";
  Section(Bar("T"), "c");
  EXPECT_EQ(Render(), "<details></details>c");
  ctx->outputCursor = ctx->outputBuffer;
  *ctx->outputCursor = 0;
  ctx->optionString = "SectionCloseTag='</h3><hr />' SectionIncludeTitle=Yes";
  EXPECT_EQ(Render(), "<hr /><h3>T</h3><hr />c");
}

TEST_F(SectionTest, StyledHeaderClassWithoutAnRgbColour) {
  Context()->renderFlagsE = 0x20;
  const Bytes grey = Colour(1, 2, 3, 0);
  Section(Bar("Head", 0x20000000, 0x0A000001), "body", &grey);
  const std::string out = Render();
  EXPECT_NE(out.find("<div id='sctn1h' class='sctnh-000000167772161'"), std::string::npos) << out;
  EXPECT_NE(out.find("<div class='sctnc2' id='sctn1c' style=\"border-style:solid none solid "
                     "none; border-color:#010203;"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("body</div></div>"), std::string::npos) << out;
  EXPECT_EQ(ctx->sectionSlots[1], nullptr);
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(SectionTest, StyledHeaderWithAnRgbColour) {
  Context()->renderFlagsE = 0x20;
  const Bytes red = Colour(0xff, 0, 0x10, 1);
  Section(Bar("H"), "b", &red);
  const std::string out = Render();
  EXPECT_NE(out.find("class='sctnh-ff0010167772161'  bgcolor='#ff0010' style=\"border-style:solid;"), std::string::npos) << out;
  EXPECT_NE(out.find("<font color=\"#ff0010\">&#x25BC;</font>H"), std::string::npos) << out;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(SectionTest, StyleNineBorderWidthFollowsTheTitleSize) {
  Context()->renderFlagsE = 0x20;
  Bytes style = ByteRecord(0x0062, 16);
  Put16(style, 2, 128);
  Put32(style, 12, 2);  // style 9
  Add(HotspotBegin(12, 0, ""));
  Add(Bar(std::string(199, 'x')));
  Add(style);
  Add(HotspotEnd());
  Add(HotspotBegin(12, 0, ""));
  Add(Bar(std::string(9, 'y')));
  Add(style);
  Add(HotspotEnd());
  const std::string out = Render();
  EXPECT_NE(out.find("border-bottom: 6.0em solid"), std::string::npos) << out;
  EXPECT_NE(out.find("border-bottom: 1.5em solid"), std::string::npos) << out;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(SectionTest, StyleTenSplitsTheTitle) {
  Context()->renderFlagsE = 0x20;
  Bytes style = ByteRecord(0x0062, 16);
  Put16(style, 2, 128);
  Put32(style, 12, 3);
  Add(HotspotBegin(12, 0, ""));
  Add(Bar("one---two---three"));
  Add(style);
  Add(HotspotEnd());
  const std::string out = Render();
  EXPECT_LT(out.find(">one</td>"), out.find("three</span>"));
  EXPECT_LT(out.find("three</span>"), out.find("two</span>"));
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(SectionTest, FiftyNestedSectionsStayBalanced) {
  Context()->renderFlagsE = 0x20;
  for (int i = 0; i < 52; ++i) {
    Add(HotspotBegin(12, 0, ""));
    Add(Bar("s"));
  }
  Add(Text("core"));
  for (int i = 0; i < 52; ++i) Add(HotspotEnd());
  const std::string out = Render();
  EXPECT_EQ(ctx->sectionLevel, 0);
  EXPECT_EQ(Count(out, "<div"), Count(out, "</div>")) << out;
  EXPECT_TRUE(ParsesAsXml(out));
}

TEST_F(SectionTest, FullOutputEndsTheRenderWithAStatus) {
  RenderContext* c = Context(kOutputXhtml, 700);
  c->renderFlagsE = 0x20;
  Section(Bar(std::string(150, 't')), "body");
  NnStatus st = NN_OK;
  Render(&st);
  EXPECT_EQ(st, NN_ERR_MEMORY);
  EXPECT_LE(std::strlen(c->outputBuffer), 200u);
}

}  // namespace
}  // namespace elements
