// The full hotspot writer: version 5 hotspots, URL encoding options, scripted
// actions, popups, computed text, wiki links, attachments and deep nesting.
#include "elements_support.h"

#include "host/pool.h"
#include "nn/nn.h"

namespace elements {
namespace {

class HotspotWriterTest : public ElementTest {
 protected:
  // An event record (0xFFF9) with its script in one piece record after it.
  void AddEvent(uint16_t kind, uint16_t language, const std::string& script) {
    Bytes e = WordRecord(0xFFF9, 32);
    Put16(e, 8, kind);
    Put16(e, 10, language);
    Put32(e, 12, uint32_t(script.size()));
    Add(e);
    Bytes piece = WordRecord(0xFFDC, 18);
    Put16(piece, 6, uint16_t(script.size()));
    PutText(piece, 18, script);
    Add(Sized(piece));
  }
  // A compiled formula's bytes.
  std::string Compiled(const std::string& text) {
    NnHandle h = 0;
    uint16_t len = 0, eo = 0, el = 0;
    EXPECT_EQ(NnFormulaCompile(text.c_str(), uint16_t(text.size()), &h, &len, &eo, &el), NN_OK);
    std::string bytes(static_cast<const char*>(NnMemLock(h)), len);
    NnMemUnlock(h);
    NnMemFree(h);
    return bytes;
  }
};

TEST_F(HotspotWriterTest, VersionFiveBeginFollowedByItsEndWritesNothing) {
  Add(HotspotBegin(11, 0x1000, "http://x/", 0xFF7E));
  Add(HotspotEnd(0x007F));
  Add(Text("after"));
  EXPECT_EQ(Render(), "after");
}

TEST_F(HotspotWriterTest, VersionFiveBeginWithOnlyEmptyRunsIsSkipped) {
  Add(HotspotBegin(0, 0, "", 0xFF7E));
  Add(Text(""));
  Add(LinkTarget("http://hidden/"));
  Add(HotspotEnd(0x007F));
  Add(Text("after"));
  EXPECT_EQ(Render(), "after");
}

TEST_F(HotspotWriterTest, VersionFiveBeginTakesItsUrlFromTheLinkTarget) {
  Add(HotspotBegin(0, 0, "", 0xFF7E));
  Add(LinkTarget("http://v5/"));
  Add(Text("v5"));
  Add(HotspotEnd(0x007F));
  const std::string out = Render();
  EXPECT_EQ(out, "<a href=\"http://v5/\">v5</a>");
}

TEST_F(HotspotWriterTest, UrlWithBlanksAndAmpersandsIsEncodedForTheAttribute) {
  Context()->optionString = "URLEncodeFilenames=Yes";
  Add(HotspotBegin(11, 0x1000, "a b&c"));
  Add(Text("x"));
  Add(HotspotEnd());
  EXPECT_NE(Render().find("<a href=\"a%20b&amp;c\">"), std::string::npos);
}

TEST_F(HotspotWriterTest, SuppressLinksKeepsTheContentOnly) {
  Context()->optionString = "SuppressLinks=1";
  Add(HotspotBegin(11, 0x1000, "http://x/"));
  Add(Text("plain"));
  Add(HotspotEnd());
  EXPECT_EQ(Render(), "plain");
}

TEST_F(HotspotWriterTest, JavaScriptEventsBecomeAttributesOfOneAnchor) {
  Add(HotspotBegin(2, 0x200000, ""));
  AddEvent(15, 4, "go(\"a\")");
  AddEvent(0, 4, "x();");
  AddEvent(1, 4, "dup()");  // OnClick again: one attribute of a name
  Add(IdName({"a<1", "k", "", "", "onmouseover=\"y()\""}));  // no handler of its own
  Add(Text("act"));
  Add(HotspotEnd());
  const std::string out = Render();
  EXPECT_NE(out.find("<a href=\"\" Header=\"go(&quot;a&quot;); return false;\" "
                     "OnClick=\"x();return false;\" id=\"a&lt;1\" class=\"k\">act</a>"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("dup"), std::string::npos);
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(HotspotWriterTest, KvScriptOnlyActionWritesNoAnchor) {
  Add(HotspotBegin(2, 0x200000, ""));
  AddEvent(0, 3, "Print 1");
  Add(Text("ls"));
  Add(HotspotEnd());
  EXPECT_EQ(Render(), "ls");
}

TEST_F(HotspotWriterTest, DisabledActionsGetANoteAfterTheirText) {
  Context()->renderFlagsE = 0x80;
  Add(HotspotBegin(2, 0x200000, ""));
  AddEvent(0, 4, "a()");
  AddEvent(0, 3, "b");
  Add(Text("run"));
  Add(HotspotEnd());
  EXPECT_EQ(Render(), "run (disabled JavaScript KvScript script)");
}

TEST_F(HotspotWriterTest, PopupTextBecomesAnAcronymTitle) {
  Add(HotspotBegin(1, 0x0, "tip \"<&>\"", 0xFFA9));
  Add(Text("word"));
  Add(HotspotEnd(0x00AA));
  const std::string out = Render();
  EXPECT_EQ(out,
            "<acronym bgcolor=\"#c0c0c0\" title=\"tip &quot;&lt;&amp;&gt;&quot;\" "
            "style=\"text-decoration: none;border:1px solid black;\">word</acronym>");
  EXPECT_TRUE(ParsesAsXml(out));
}

TEST_F(HotspotWriterTest, PopupWithAnEmptyTextRendersItsContentPlainly) {
  Add(HotspotBegin(1, 0x8, "", 0xFFA9));
  Add(Text("bare"));
  Add(HotspotEnd(0x00AA));
  EXPECT_EQ(Render(), "bare");
}

TEST_F(HotspotWriterTest, ComputedTextReplacesTheRunOnlyWhenNotEmpty) {
  Add(HotspotBegin(1, 0x40010, Compiled("\"\""), 0xFFA9));
  Add(Text("kept"));
  Add(HotspotEnd(0x00AA));
  Add(HotspotBegin(1, 0x40010, Compiled("\"new <text>\""), 0xFFA9));
  Add(Text("old"));
  Add(HotspotEnd(0x00AA));
  Add(Text("|tail"));
  const std::string out = Render();
  EXPECT_EQ(out, "keptnew &lt;text&gt;|tail");
  EXPECT_EQ(ctx->sectionLevel, 0);
}

TEST_F(HotspotWriterTest, WikiLinkFromTheAttributeRecord) {
  Context()->hotspot.wikiUrlPrefix = "//wiki/page?title=";
  Add(HotspotBegin(2, 0x10, Compiled("1")));
  Add(IdName({"", "wikilink", "", "My Page"}));
  Add(Text("My Page"));
  Add(HotspotEnd());
  std::string out = Render();
  EXPECT_EQ(out, "<a href=\"http://wiki/page?title=My+Page\" class=\"WikiLink\" "
                 "target=\"_top\">My Page</a>");
  ctx->outputCursor = ctx->outputBuffer;
  *ctx->outputCursor = 0;
  ctx->optionString = "UseJavaScript=yes";
  out = Render();
  EXPECT_NE(out.find("onClick=\"var newWin = window.open(&quot;//wiki/page?title=&quot;);"),
            std::string::npos)
      << out;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(HotspotWriterTest, AttachmentModes) {
  Add(HotspotBegin(4, 0, std::string("int<1>.txt\0Shown & told.txt", 28), 0xFFA9));
  Add(Text("icon"));
  Add(HotspotEnd(0x00AA));
  RenderContext* c = Context();
  c->attachmentHandling = 0;
  EXPECT_EQ(Render(), "");

  c->outputCursor = c->outputBuffer;
  *c->outputCursor = 0;
  c->attachmentHandling = 4;
  c->renderFlagsE = 0x80;
  std::string out = Render();
  EXPECT_EQ(out, "<i>(See attached file: 'Shown &amp; told.txt')</i>icon");

  c->outputCursor = c->outputBuffer;
  *c->outputCursor = 0;
  c->renderFlagsE = 0;
  out = Render();
  EXPECT_EQ(out, "<div id=\"Shown &amp; told.txt\"></div>icon");

  c->outputCursor = c->outputBuffer;
  *c->outputCursor = 0;
  c->attachmentHandling = 1;
  c->renderFlagsB = 0x800;
  out = Render();
  EXPECT_NE(out.find("/$FILE/int%3C1%3E.txt\" title=\"Shown &amp; told.txt\"><img border=\"0\" "
                     "alt=\"Shown &amp; told.txt\" src=\"data:image/gif;base64,R0lGOD"),
            std::string::npos)
      << out;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
  EXPECT_EQ(c->hotspot.attachmentInProgress, 0u);

  c->outputCursor = c->outputBuffer;
  *c->outputCursor = 0;
  c->renderFlagsB = 0;
  out = Render();
  EXPECT_NE(out.find("/$FILE/int%3C1%3E.txt\">icon</a>"), std::string::npos) << out;
}

TEST_F(HotspotWriterTest, DiskAttachmentStaysInsideItsDirectory) {
  char dir[] = "/tmp/kv-f5-attXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string options = std::string("AttachmentDirectory=") + dir;
  RenderContext* c = Context();
  c->optionString = options.c_str();
  c->attachmentDirectory = POOL_STRDUP(&session, dir);
  c->attachmentHandling = 2;
  Add(HotspotBegin(4, 0, std::string("../../evil.txt\0", 15), 0xFFA9));
  Add(Text("f"));
  Add(HotspotEnd(0x00AA));
  NnStatus st = NN_OK;
  const std::string out = Render(&st);
  // No note holds the file: its link is written and the render goes on.
  EXPECT_EQ(st, NN_OK);
  // Separators of the stored name cannot climb out of the directory.
  EXPECT_EQ(out, "<a href=\"./.._.._evil.txt\">f</a>");
  std::string cmd = std::string("rm -rf ") + dir;
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}

TEST_F(HotspotWriterTest, NestingDeeperThanFortyNineLevelsStaysBalanced) {
  for (int i = 0; i < 60; ++i) Add(HotspotBegin(2, 0x0, ""));
  Add(Text("deep"));
  for (int i = 0; i < 60; ++i) Add(HotspotEnd());
  Add(Text("out"));
  const std::string out = Render();
  EXPECT_EQ(out, "deepout");
  EXPECT_EQ(ctx->sectionLevel, 0);
}

// Every paragraph of a link's content is linked, and no paragraph holds an
// empty link: not the one the link ends with.
TEST_F(HotspotWriterTest, ParagraphInsideAnAnchorReopensIt) {
  Add(Paragraph());
  Add(ByteRecord(0x0083, 4));
  Add(Text("lead "));
  Add(HotspotBegin(11, 0x1000, "http://r/"));
  Add(Text("one"));
  for (const char* text : {"two", "three", ""}) {
    Add(Paragraph());
    Add(ByteRecord(0x0083, 4));
    if (*text) Add(Text(text));
  }
  Add(HotspotEnd());
  Add(Text("after"));
  std::string out = Render();
  const char* closings = ctx->outputCursor;
  CloseOpenElementsTo(ctx, 0, "", 0);
  out += closings;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
  for (const char* text : {"one", "two", "three"})
    EXPECT_NE(out.find(std::string("<a href=\"http://r/\">") + text + "</a>"), std::string::npos)
        << out;
  EXPECT_EQ(Count(out, "<a "), 3u) << out;
  EXPECT_EQ(out.find("></a>"), std::string::npos) << out;
}

TEST_F(HotspotWriterTest, TruncatedRecordsAreReadWithinTheirLength) {
  Bytes cut = WordRecord(0xFFA9, 10);  // shorter than the fixed part
  Add(cut);
  Add(Text("t"));
  Add(HotspotEnd(0x00AA));
  Bytes event = WordRecord(0xFFF9, 14);  // its lengths lie beyond the record
  Add(HotspotBegin(2, 0x200000, ""));
  Add(event);
  Add(HotspotEnd());
  NnStatus st = NN_OK;
  Render(&st);
  EXPECT_EQ(st, NN_OK);
}

}  // namespace
}  // namespace elements
