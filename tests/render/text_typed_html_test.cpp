// Typed bracket HTML in a text run reaches the page only as markup that
// formats, in HTML and XHTML; designer pass-through stays as it is.
#include <random>
#include <regex>

#include "elements_support.h"

namespace elements {
namespace {

class TypedHtmlTest : public ElementTest {
 protected:
  // The run rendered under the default options.
  std::string Typed(const std::string& text, uint16_t kind) {
    NewList();
    RenderContext* c = Context(kind);
    EXPECT_EQ(session.PreprocessXMLProperties(c, kind, nullptr, ""), NN_OK);
    Add(Text(text));
    return Render(nullptr, kind);
  }
};

TEST_F(TypedHtmlTest, ScriptNeverReachesThePage) {
  struct Case {
    const char* typed;
    const char* html;
  };
  const Case cases[] = {
      {"[<script>alert(1)</script>]", ""},
      {"[<SCRIPT src=//evil/x.js></SCRIPT>ok]", "ok"},
      {"[<img src=x onerror=alert(1)>]", "<img src=\"x\" />"},
      {"[<a href='javascript:alert(1)'>x</a>]", "<a>x</a>"},
      {"[<a href='jav&#x61;script:alert(1)'>x</a>]", "<a>x</a>"},
      {"[<a href=' java\tscript&colon;alert(1)'>x</a>]", "<a>x</a>"},
      {"[<a href='java&Tab;script:alert(1)'>x</a>]", "<a>x</a>"},
      {"[<a href='data:text/html,<script>alert(1)</script>'>x</a>]", "<a>x</a>"},
      {"[<img src='data:image/svg+xml;base64,PHN2Zz4='>]", "<img />"},
      {"[<div style='width:expression(alert(1))' onmouseover='alert(1)'>t</div>]", "<div>t</div>"},
      {"[<iframe src='http://e.org/'>in</iframe><object data=x></object><embed src=x>]", ""},
      {"[<form action='http://e.org/'><b>t</b><input name=q></form>]", "<b>t</b>"},
      {"[<style>body{display:none}</style><b>t</b>]", "<b>t</b>"},
      {"[<svg><script>alert(1)</script></svg>t]", "t"},
      {"[<!--><script>alert(1)</script>-->]", ""},
      {"[<p/onclick=alert(1)>t</p>]", "<p>t</p>"},
      {"[<script>x<b>after</b>]", "x<b>after</b>"},  // never closed: only its tag goes
  };
  for (const Case& c : cases) {
    for (uint16_t kind : {kOutputHtml, kOutputXhtml}) {
      SCOPED_TRACE(std::string(c.typed) + (kind == kOutputXhtml ? " xhtml" : " html"));
      const std::string out = Typed(c.typed, kind);
      std::string lower = out;
      for (char& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
      EXPECT_EQ(lower.find("<script"), std::string::npos) << out;
      EXPECT_EQ(lower.find("<iframe"), std::string::npos) << out;
      EXPECT_EQ(lower.find(" on"), std::string::npos) << out;
      EXPECT_EQ(lower.find("javascript"), std::string::npos) << out;
      if (kind == kOutputHtml) {
        EXPECT_EQ(out, c.html);
      }
    }
  }
}

TEST_F(TypedHtmlTest, FormattingMarkupPassesInHtmlAndXhtml) {
  const std::string kept =
      "<b>bold</b> <font color='red' face=\"Arial\">f</font><span class='x' "
      "style='color: blue'>s</span><a href='https://e.org/?a=1&amp;b=2' target='_top'>go</a>"
      "<img src='data:image/png;base64,iVBORw0KGgo=' alt='dot' width='1' /><table border='1'>"
      "<tr><td colspan='2'>c</td></tr></table>";
  EXPECT_EQ(Typed("[" + kept + "]", kOutputHtml), kept);
  EXPECT_EQ(Typed("[" + kept + "]", kOutputXhtml), kept);
  // Empty elements close themselves, so a typed <br> is XML too.
  EXPECT_EQ(Typed("[<i>a<br>b</i>]", kOutputXhtml), "<i>a<br />b</i>");
  // Markup that is still not XML is written as text in XHTML.
  EXPECT_EQ(Typed("[<b>open]", kOutputXhtml), "[&lt;b&gt;open]");
  EXPECT_EQ(Typed("[<b>open]", kOutputHtml), "<b>open");
  // References read the same in both: numbers where XML has no name, a bare
  // "&" escaped; a name only HTML knows stays, and XHTML writes the run as text.
  EXPECT_EQ(Typed("[<i>a&nbsp;&amp; b & c&#x41;</i>]", kOutputXhtml),
            "<i>a&#160;&amp; b &amp; c&#65;</i>");
  EXPECT_EQ(Typed("[<i>&hearts;</i>]", kOutputHtml), "<i>&hearts;</i>");
  EXPECT_EQ(Typed("[<i>&hearts;</i>]", kOutputXhtml), "[&lt;i&gt;&amp;hearts;&lt;/i&gt;]");
  // An "&" of a query starts no reference: the link keeps its address.
  EXPECT_EQ(Typed("[<a href='http://e.org/p?a=1&b=2'>q</a>]", kOutputXhtml),
            "<a href='http://e.org/p?a=1&amp;b=2'>q</a>");
  // Unknown elements lose their tags but not their text.
  EXPECT_EQ(Typed("[<blink><marquee>m</marquee></blink>]", kOutputHtml), "m");
}

TEST_F(TypedHtmlTest, DesignerPassThroughStaysAsItIs) {
  Context(kOutputHtml);
  ASSERT_EQ(session.PreprocessXMLProperties(ctx, kOutputHtml, nullptr, ""), NN_OK);
  Add(WordRecord(0xFFCC, 8));
  Add(Text("<script>var designer = 1;</script>"));
  Add(WordRecord(0xFFCD, 8));
  EXPECT_EQ(Render(nullptr, kOutputHtml),
            "<!--PassthruStart--><script>var designer = 1;</script><!--PassthruEnd-->");
}

// Pieces of markup put together at random: whatever an author types, no tag of
// the result brings script, and every tag the result holds is one it keeps.
TEST(TypedHtmlMix, NoCombinationBringsScript) {
  const char* const pieces[] = {
      "<", ">", "</", "/>", "<!--", "-->", "<!", "<?", "'", "\"", "=", " ", "\t", "&", "&#",
      "x6a;", "&colon;", ";", "a", "img", "script", "SCRIPT", "svg", "style", "iframe", "b", "p",
      "href", "src", "onerror", "ONclick", "style", "javascript:", "java\tscript:", "data:",
      "image/png", "text/html", "alert(1)", "expression(", "url(", "x", "/", "\\", "]", "["};
  std::mt19937 random(12345);
  std::uniform_int_distribution<size_t> pick(0, sizeof pieces / sizeof pieces[0] - 1);
  std::uniform_int_distribution<int> count(1, 24);
  const std::regex tag("<([a-z0-9]+)((?:\\s+[a-z]+=(?:\"[^\"]*\"|'[^']*'))*)\\s*/?>");
  const std::regex attribute("\\s+([a-z]+)=(?:\"([^\"]*)\"|'([^']*)')");
  for (int round = 0; round < 3000; ++round) {
    std::string typed;
    for (int k = count(random); k > 0; --k) typed += pieces[pick(random)];
    const std::string out = SanitizeTypedHtml(typed.data(), typed.size());
    std::string lower = out;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const char* bad : {"<script", "<svg", "<style", "<iframe", "<object", "<embed", "<form",
                            "<!doctype", "<?", "<![cdata["})
      ASSERT_EQ(lower.find(bad), std::string::npos) << typed << " -> " << out;
    // Every "<" starts a closing tag, a harmless comment or a tag the regex knows.
    for (size_t at = lower.find('<'); at != std::string::npos; at = lower.find('<', at + 1)) {
      if (lower.compare(at, 2, "</") == 0 || lower.compare(at, 4, "<!--") == 0) continue;
      std::smatch m;
      const std::string rest = lower.substr(at);
      ASSERT_TRUE(std::regex_search(rest, m, tag, std::regex_constants::match_continuous))
          << typed << " -> " << out;
      const std::string attributes = m[2];
      for (auto a = std::sregex_iterator(attributes.begin(), attributes.end(), attribute);
           a != std::sregex_iterator(); ++a) {
        const std::string name = (*a)[1];
        const std::string value = (*a)[2].matched ? (*a)[2].str() : (*a)[3].str();
        ASSERT_NE(name.rfind("on", 0), 0u) << typed << " -> " << out;
        if (name == "href" || name == "src") {
          std::string compact;
          for (char c : value)
            if (static_cast<unsigned char>(c) > 0x20) compact += c;
          ASSERT_EQ(compact.find("script"), std::string::npos) << typed << " -> " << out;
          ASSERT_TRUE(compact.rfind("data:", 0) != 0 || compact.rfind("data:image/png", 0) == 0)
              << typed << " -> " << out;
        }
      }
    }
  }
}

}  // namespace
}  // namespace elements
