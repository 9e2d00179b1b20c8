// Collapsible sections hold their whole content: the script form's expanded
// block spans every paragraph of the section, and styled sections whose bars
// the walk meets follow one another and close by the end of the page.
#include <functional>

#include "elements_support.h"

namespace elements {
namespace {

Bytes Bar(const std::string& title, uint32_t flags = 0) {
  Bytes r = WordRecord(0xFFAC, 12);
  Put32(r, 4, flags);
  Put32(r, 8, 0x0A000001);
  PutText(r, 12, title + std::string(1, '\0'));
  return Sized(r);
}

Bytes PabRef(uint16_t id) {
  Bytes r = ByteRecord(0x0083, 4);
  Put16(r, 2, id);
  return r;
}

// The text inside the element with the identifier, white space left out;
// "<none>" when there is none or the fragment does not parse.
std::string TextOfId(const std::string& fragment, const std::string& id) {
  for (const kvtest::PageElement& e : kvtest::PageElements("<r>" + fragment + "</r>")) {
    if (e.Attribute("id") != id) continue;
    std::string text;
    for (const char c : e.text)
      if (static_cast<unsigned char>(c) > 0x20) text += c;
    return text;
  }
  return "<none>";
}

class SectionBlockTest : public ElementTest {
 protected:
  void Line(const std::string& text) {
    Add(Paragraph());
    Add(PabRef(1));
    Add(Text(text));
  }
  // A section hotspot; stored documents keep its bar in a group of its own.
  void Section(const std::string& title, const std::vector<std::string>& lines,
               bool grouped = true, uint32_t flags = 0) {
    Add(HotspotBegin(12, 0, ""));
    if (grouped) Add(GroupBegin(0xFFAC));
    Add(Bar(title, flags));
    if (grouped) Add(GroupEnd(0xFFAC));
    for (const std::string& line : lines) Line(line);
    Add(HotspotEnd());
  }
  // A new record list and an empty output, with the form's flags.
  void Reset(uint32_t flagsB, uint32_t flagsD, uint32_t flagsE) {
    NewList();
    Context()->renderFlagsB = flagsB;
    ctx->renderFlagsD = flagsD;
    ctx->renderFlagsE = flagsE;
    ctx->sectionCounter = 0;
  }
  // What the page closes at its end.
  std::string Finish() {
    const char* mark = ctx->outputCursor;
    CloseOpenElementsTo(ctx, 1, "", 0);
    CloseOpenElementsTo(ctx, 0, "", 0);
    return mark;
  }
};

// Sections as stored documents keep them (the bar in a group of its own), in
// a table cell before a bare bar, in a cell of a linked table (the link stays
// outside the cell), two bars to a hotspot, and the bare forms (expanded
// hotspots in a row, bars the walk meets): each section's block holds its
// content only, each closes once, and what follows stands after it.
TEST_F(SectionBlockTest, EachSectionHoldsItsContentInEveryStoredLayout) {
  struct Layout {
    const char* name;
    std::function<void()> build;
    std::vector<std::pair<std::string, std::string>> sections;  // title, content
    std::vector<std::string> order = {};  // texts of the page, in this order
    bool walk = false;                    // bars the walk meets, not in hotspots
  };
  const std::vector<Layout> layouts = {
      {"grouped bar", [&] { Line("before"), Section("T", {"in1", "in2"}), Line("after"); },
       {{"T", "in1in2"}}, {"in2</", "after"}},
      {"grouped bar in a cell, a bare bar after it",
       [&] {
         Add(TableBegin()), Add(Cell(0, 0, 1440)), Section("S", {"in1"});
         Add(Bar("B")), Line("b1"), Add(Cell(0, 1, 1440)), Line("c2"), Add(TableEnd());
         Add(Bar("C")), Line("c1");
       },
       {{"S", "in1"}, {"B", "b1"}, {"C", "c1"}}},
      {"two grouped bars in one hotspot",
       [&] {
         Add(HotspotBegin(12, 0, "")), Add(GroupBegin(0xFFAC)), Add(Bar("T1")), Add(GroupEnd(0xFFAC));
         Line("in1"), Add(GroupBegin(0xFFAC)), Add(Bar("T2")), Add(GroupEnd(0xFFAC)), Line("in2");
         Add(HotspotEnd()), Line("after");
       },
       {{"T1", "in1"}, {"T2", "in2"}}, {"in2</", "after"}},
      {"grouped bar in a cell of a table inside a link",
       [&] {
         Add(HotspotBegin(11, 0x1000, std::string("http://x/\0", 10))), Add(Text("link"));
         Add(TableBegin()), Add(Cell(0, 0, 1440)), Section("T", {"in1"}), Add(TableEnd());
         Add(HotspotEnd()), Line("after");
       },
       {{"T", "in1"}}, {"in1</", "after"}},
      {"grouped bar inside a link",
       [&] {
         Add(HotspotBegin(11, 0x1000, std::string("http://x/\0", 10))), Add(Text("link"));
         Section("T", {"in1"}), Add(HotspotEnd()), Line("after");
       },
       {{"T", "in1"}}, {"link", "in1</", "after"}},
      {"bare bar in its hotspot",
       [&] { Line("before"), Section("T", {"one", "two"}, false), Line("after"); },
       {{"T", "onetwo"}}, {"two</", "after"}},
      {"bare expanded bars in hotspots in a row",
       [&] { Section("A", {"in A", "more A"}, false, 0x10), Section("B", {"in B", "more B"}, false, 0x10); },
       {{"A", "inAmoreA"}, {"B", "inBmoreB"}}},
      {"bare bars",
       [&] { Line("before"), Add(Bar("A")), Line("one"), Line("one more"), Add(Bar("B")), Line("two"); },
       {{"A", "oneonemore"}, {"B", "two"}}, {}, true},
  };
  for (const Layout& layout : layouts) {
    for (const uint32_t form : {0x200u, 0x200u | 0x100u, 0x20u, 0x20u | 0x100u}) {
      SCOPED_TRACE(std::string(layout.name) + " form " + std::to_string(form));
      const bool script = form & 0x200;
      Reset(form & 0x200, form & 0x100, form & 0x20);
      layout.build();
      std::string out = Render();
      out += Finish();
      ASSERT_TRUE(ParsesAsXml(out)) << out;
      EXPECT_EQ(Count(out, "<div"), Count(out, "</div>")) << out;
      // No link opens inside another in the same cell (a section's own
      // links included): the HTML parser would end the first there.
      std::vector<int> links = {0};
      for (size_t a = out.find('<'); a != std::string::npos; a = out.find('<', a + 1)) {
        if (out.compare(a, 3, "<td") == 0) links.push_back(0);
        if (out.compare(a, 5, "</td>") == 0 && links.size() > 1) links.pop_back();
        links.back() += int(out.compare(a, 3, "<a ") == 0) - int(out.compare(a, 4, "</a>") == 0);
        EXPECT_LE(links.back(), 1) << out;
      }
      for (size_t i = 0; i < layout.sections.size(); ++i) {
        const auto& [title, content] = layout.sections[i];
        const std::string n = "sctn" + std::to_string(i + 1);
        // The script form's expanded block repeats the title before the
        // content; its collapsed block holds the title alone.
        EXPECT_EQ(TextOfId(out, n + (script ? "e" : "c")), (script ? title : "") + content) << out;
        if (script) {
          EXPECT_EQ(TextOfId(out, n + "c"), title) << out;
        }
      }
      size_t at = 0;
      for (const std::string& text : layout.order) {
        at = out.find(text, at);
        ASSERT_NE(at, std::string::npos) << text << " out of order: " << out;
      }
      if (layout.walk && form == 0x20u) {
        // Styled: the first section ends where the second begins, the second
        // by the page's end.
        EXPECT_NE(out.find("one more</div></div></div><div class='RTSection0' id='sctn2'>"),
                  std::string::npos)
            << out;
        EXPECT_EQ(TextOfId(out, "sctn1"), "\u25BCAoneonemore");
      }
    }
  }
}

// Grouped sections nested past the deepest level: every title shows once,
// each section inside the one before it.
TEST_F(SectionBlockTest, DeeplyNestedStoredSectionsKeepTitlesAndNesting) {
  constexpr int kLevels = 52;
  Context()->renderFlagsE = 0x20;
  for (int i = 1; i <= kLevels; ++i) {
    Add(HotspotBegin(12, 0, "")), Add(GroupBegin(0xFFAC));
    Add(Bar("T" + std::to_string(i) + "x")), Add(GroupEnd(0xFFAC));
  }
  Add(Text("core"));
  for (int i = 0; i < kLevels; ++i) Add(HotspotEnd());
  const std::string out = Render();
  ASSERT_TRUE(ParsesAsXml(out)) << out;
  for (int i = 1; i <= kLevels; ++i) EXPECT_EQ(Count(out, "T" + std::to_string(i) + "x"), 1u) << i;
  std::string closings;
  for (int i = 0; i < kLevels; ++i) closings += "</div></div>";
  EXPECT_NE(out.find("core" + closings), std::string::npos) << out;
}

TEST_F(SectionBlockTest, ExpandAndCollapseGraphicsComeFromTheirKeys) {
  ASSERT_EQ(session.PreprocessXMLProperties(
                Context(), kOutputXhtml, nullptr,
                "SectionsInCSS=Yes ExpandGraphic=/img/plus.png CollapseGraphic=/img/min&us.png"),
            NN_OK);
  Add(HotspotBegin(12, 0, ""));
  Add(Bar("T"));
  Line("c");
  Add(HotspotEnd());
  const std::string out = Render();
  EXPECT_NE(out.find("<h3><img src='/img/plus.png' alt='expand section' border='0' />"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("<h3><img src='/img/min&amp;us.png' alt='collapse section' border='0' />"),
            std::string::npos)
      << out;
  // A graphic that would run script is refused: the built-in icon stands.
  NewList();
  ASSERT_EQ(session.PreprocessXMLProperties(ctx, kOutputXhtml, nullptr,
                                            "SectionsInCSS=Yes ExpandGraphic=javascript:alert(1)"),
            NN_OK);
  Add(HotspotBegin(12, 0, ""));
  Add(Bar("T"));
  Add(HotspotEnd());
  EXPECT_NE(Render().find("<img src='/icons/expand.gif'"), std::string::npos);
}

TEST_F(SectionBlockTest, XhtmlHeadKeepsTheSectionScriptVisibleToTheBrowser) {
  for (uint16_t kind : {kOutputHtml, kOutputXhtml}) {
    if (ctx) {
      FreeOpenElements(ctx);
      RenderContextFree(ctx);
      ctx = nullptr;
    }
    Context(kind);
    SCOPED_TRACE(kind);
    ASSERT_EQ(session.PreprocessXMLProperties(ctx, kind, nullptr, "SectionsInCSS=Yes"), NN_OK);
    ASSERT_EQ(ctx->outputKind, kind);
    const size_t before = std::strlen(ctx->outputBuffer);
    ASSERT_EQ(WriteDocumentHead(ctx), NN_OK);
    const std::string head = ctx->outputBuffer;
    ASSERT_GT(head.size(), before);
    // A comment around the script would hide it in XHTML.
    EXPECT_NE(head.find(kind == kOutputXhtml
                            ? "<script language=\"javascript\" type=\"text/javascript\">\n"
                              "//<![CDATA[\nfunction expandCollapseSection(i,ch){"
                            : "<script language=\"javascript\" type=\"text/javascript\">\n"
                              "<!--\nfunction expandCollapseSection(i,ch){"),
              std::string::npos)
        << head;
    ReleaseParagraphTables(ctx);
  }
}

}  // namespace
}  // namespace elements
