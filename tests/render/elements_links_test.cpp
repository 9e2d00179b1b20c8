// Hotspots (basic form), document links, element attributes, fields, buttons,
// layout regions and pass-through HTML.
#include "elements_support.h"

namespace elements {
namespace {

class LinkTest : public ElementTest {};

TEST_F(LinkTest, UrlInTheHotspotDataWrapsTheContent) {
  Add(Text("see "));
  Add(GroupBegin(0xFFAD));
  Add(HotspotBegin(11, 0x1000, std::string("http://example.com/a?b=1&c=\"2\" x<y>\0", 37)));
  Add(Text("here"));
  Add(HotspotEnd());
  Add(GroupEnd(0x00AE));
  Add(Text(" now"));
  const std::string out = Render();
  // The URL as it stands, escaped for the attribute only.
  EXPECT_NE(out.find("<a href=\"http://example.com/a?b=1&amp;c=&quot;2&quot; x&lt;y&gt;\">"),
            std::string::npos)
      << out;
  EXPECT_LT(out.find("<a "), out.find("here"));
  EXPECT_LT(out.find("here"), out.find("</a>"));
  EXPECT_LT(out.find("</a>"), out.find(" now"));
  EXPECT_EQ(Count(out, "</a>"), 1u);
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(LinkTest, UrlInALinkTargetRecordWithFrameAndAttributes) {
  Add(HotspotBegin(11, 0x1, ""));
  Add(LinkTarget("https://example.org/p q"));
  Add(WordRecord(0xFFF2, 12));  // a frame record without a name: nothing
  Bytes frame = WordRecord(0xFFF2, 12);
  Put16(frame, 4, 6);
  PutText(frame, 12, "_blank");
  Add(Sized(frame));
  Add(IdName({"l1", "", "", "T\"itle", "rel=\"nofollow\" onmouseover=\"evil()\" href=\"x\""}));
  Add(Text("go"));
  Add(HotspotEnd());
  const std::string out = Render();
  EXPECT_NE(out.find("<a href=\"https://example.org/p q\" target=\"_blank\" id=\"l1\" "
                     "title=\"T&quot;itle\" rel=\"nofollow\">"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("evil"), std::string::npos);
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(LinkTest, ScriptSchemesAreRefusedAndTheContentStays) {
  for (const char* url : {"javascript:alert(1)", " JavaScript:alert(1)", "java\tscript:alert(1)",
                          "data:text/html,<script>x</script>", "VBScript:msgbox"}) {
    SCOPED_TRACE(url);
    NewList();
    Add(HotspotBegin(11, 0x1000, url));
    Add(Text("click"));
    Add(HotspotEnd());
    const std::string out = Render();
    EXPECT_EQ(out.find("<a"), std::string::npos) << out;
    EXPECT_NE(out.find("click"), std::string::npos);
  }
  EXPECT_FALSE(IsRefusedUrl("https://x/javascript:", 21));
  EXPECT_FALSE(IsRefusedUrl("page.html", 9));
}

TEST_F(LinkTest, PlainDataUrlLinksAndFormulaDataDoesNot) {
  Add(HotspotBegin(11, 0x0, std::string("http://plain/\0", 14), 0xFFA9));
  Add(Text("p"));
  Add(HotspotEnd(0x00AA));
  Add(HotspotBegin(11, 0x10, "compiled-formula-bytes"));
  Add(Text("f"));
  Add(HotspotEnd());
  const std::string out = Render();
  EXPECT_EQ(Count(out, "<a "), 1u) << out;
  EXPECT_NE(out.find("<a href=\"http://plain/\">"), std::string::npos) << out;
  EXPECT_EQ(out.find("compiled"), std::string::npos);
}

TEST_F(LinkTest, PopupsCarryTheirTextAndUnknownTypesRenderTheirContentOnly) {
  Add(HotspotBegin(1, 0x0, "popup text", 0xFFA9));
  Add(Text("hover"));
  Add(HotspotEnd(0x00AA));
  Add(HotspotBegin(99, 0x0, "ignored", 0xFFA9));
  Add(Text("plain"));
  Add(HotspotEnd(0x00AA));
  Add(Text("next"));
  const std::string out = Render();
  EXPECT_EQ(out.find("<a "), std::string::npos) << "no link";
  EXPECT_NE(out.find("<acronym"), std::string::npos) << out;
  EXPECT_NE(out.find("title=\"popup text\""), std::string::npos) << out;
  EXPECT_EQ(out.find("ignored"), std::string::npos) << out;
  EXPECT_LT(out.find("hover"), out.find("plain"));
  EXPECT_LT(out.find("plain"), out.find("next"));
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(LinkTest, NestedHotspotsCloseInOrder) {
  Add(HotspotBegin(11, 0x1000, "http://outer/"));
  Add(Text("o1"));
  Add(HotspotBegin(2, 0x0, ""));
  Add(Text("inner"));
  Add(HotspotEnd());
  Add(Text("o2"));
  Add(HotspotEnd());
  Add(Text("tail"));
  const std::string out = Render();
  EXPECT_LT(out.find("o2"), out.find("</a>"));
  EXPECT_LT(out.find("</a>"), out.find("tail"));
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

// A popup inside a table inside a popup: the whole page, each popup closing
// its own acronym (a paragraph in the cell closes the inner one first).
TEST_F(LinkTest, APopupInATableInsideAPopupRendersWhole) {
  Add(Text("s"));
  Add(HotspotBegin(1, 0x0, "pop", 0xFFA9));
  Add(TableBegin()), Add(Cell(0, 0, 1440));
  Add(Paragraph()), Add(ByteRecord(0x0083, 4));
  Add(HotspotBegin(1, 0x0, "pop2", 0xFFA9));
  Add(Paragraph()), Add(ByteRecord(0x0083, 4)), Add(Text("c"));
  Add(HotspotEnd(0x00AA)), Add(TableEnd());
  Add(Paragraph()), Add(HotspotEnd(0x00AA)), Add(Text("final"));
  const std::string out = Render();
  ASSERT_TRUE(ParsesAsXml(out)) << out;
  EXPECT_LT(out.find("title=\"pop\""), out.find("<table"));
  EXPECT_LT(out.find("<table"), out.find("title=\"pop2\""));
  EXPECT_LT(out.find(">c<"), out.find("</table>"));
  EXPECT_LT(out.find("</table>"), out.rfind("</acronym>")) << out;
  EXPECT_GT(out.find("final"), out.rfind("</acronym>")) << out;
}

TEST_F(LinkTest, HotspotWithoutEndInTheRange) {
  Add(HotspotBegin(11, 0x1000, "http://x/"));
  Add(Text("open"));
  const std::string out = Render();
  EXPECT_NE(out.find("open"), std::string::npos);
  EXPECT_EQ(Count(out, "<a "), Count(out, "</a>"));
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(LinkTest, ButtonAndEmbeddedControlHotspots) {
  // A button as forms store it: in a group, its label record, then the
  // paragraphs of the hotspot's range (a field and help text) before its end.
  Add(GroupBegin(0xFFA9));
  Add(HotspotBegin(3, 0x0, "", 0xFFA9));
  Bytes button = WordRecord(0xFFAB, 16);
  PutText(button, 16, std::string("Save <now>\0junk", 15));
  Add(Sized(button));
  Add(Paragraph());
  Add(Text("help"));
  Bytes field = WordRecord(0xFF8A, 40);
  Put16(field, 32, 4);
  PutText(field, 40, "Name");
  Add(Sized(field));
  Add(HotspotEnd(0x00AA));
  Add(GroupEnd(0xFFA9));
  Add(Text("after"));
  Add(HotspotBegin(28, 0x0, ""));
  Add(WordRecord(0xFFF7, 36));
  Add(Text("not rendered"));
  Add(HotspotEnd());
  const std::string out = Render();
  const size_t label = out.find("<button type=\"button\" disabled=\"disabled\">Save &lt;now&gt;</button>");
  ASSERT_NE(label, std::string::npos) << out;
  EXPECT_EQ(Count(out, "<button"), 1u) << out;
  EXPECT_EQ(out.find("junk"), std::string::npos);
  // The rest of the button's range follows its label, in order.
  EXPECT_LT(label, out.find("help")) << out;
  EXPECT_LT(out.find("help"), out.find("<span class=\"field\" title=\"Name\">")) << out;
  EXPECT_LT(out.find("title=\"Name\""), out.find("after")) << out;
  EXPECT_EQ(out.find("not rendered"), std::string::npos);
  EXPECT_NE(out.find("<input type=\"text\" disabled=\"disabled\" />"), std::string::npos);
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(LinkTest, DocumentLinkWithIdentifiersAndComment) {
  Bytes link = WordRecord(0xFF92, 44);
  Put32(link, 4, 0x11223344);   // replica: ticks, then day
  Put32(link, 8, 0x55667788);
  Put32(link, 12, 0xA);         // view identifier
  Put32(link, 28, 0xB);         // note identifier
  std::string tail("Report <Q3> & \"more\"\0server/Org\0anchor1\0", 40);
  PutText(link, 44, tail);
  Add(Sized(link));
  const std::string out = Render();
  EXPECT_NE(out.find("<a href=\"notes://server/Org/5566778811223344/"
                     "000000000000000A0000000000000000/000000000000000B0000000000000000#anchor1\" "
                     "class=\"doclink\">Report &lt;Q3&gt; &amp; &quot;more&quot;</a>"),
            std::string::npos)
      << out;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

// A note linked without a view opens through the default view, "0": the
// link still reaches the document, not only its database.
TEST_F(LinkTest, DocumentLinkToANoteWithoutAView) {
  Bytes link = WordRecord(0xFF92, 44);
  Put32(link, 4, 0x11223344);
  Put32(link, 8, 0x55667788);
  Put32(link, 28, 0xB);  // note identifier, no view
  PutText(link, 44, std::string("Doc\0\0\0", 6));
  Add(Sized(link));
  const std::string out = Render();
  EXPECT_NE(out.find("<a href=\"notes:///5566778811223344/0/"
                     "000000000000000B0000000000000000\" class=\"doclink\">Doc</a>"),
            std::string::npos)
      << out;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(LinkTest, DocumentLinkCutShortAndLinkToAnUnknownTable) {
  Add(WordRecord(0xFF92, 20));  // too short for its identifiers
  Bytes link2 = WordRecord(0xFF91, 6);
  Put16(link2, 4, 3);
  PutText(link2, 6, "no terminator");
  Add(Sized(link2));
  const std::string out = Render();
  EXPECT_EQ(out, "<a class=\"doclink\">Link</a><a class=\"doclink\">no terminator</a>");
}

TEST_F(LinkTest, FieldKeywordsAndNonAsciiNames) {
  Bytes field = WordRecord(0xFF8A, 40);
  Put16(field, 24, 3);  // default-value formula
  Put16(field, 32, 6);  // name length
  PutText(field, 40, std::string("abc") + "Na<m>e");
  Add(Sized(field));
  Bytes keywords = WordRecord(0xFF8F, 12);
  Put16(keywords, 8, 2);
  Put16(keywords, 10, 0);
  keywords.push_back(1);
  keywords.push_back(0);
  Put16(keywords, 14, 2);
  Put16(keywords, 16, 3);
  Put16(keywords, 18, 2);
  PutText(keywords, 20, "Yes\xe9t");  // a byte of the platform's second half
  Add(Sized(keywords));
  const std::string out = Render();
  EXPECT_NE(out.find("<span class=\"field\" title=\"Na&lt;m&gt;e\">Na&lt;m&gt;e</span>"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("<label><input type=\"checkbox\" disabled=\"disabled\" checked=\"checked\" />"
                     "Yes</label><label><input type=\"checkbox\" disabled=\"disabled\" />"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("&#"), std::string::npos) << "non-ASCII as a numeric reference";
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(LinkTest, FieldRecordsWithLengthsBeyondTheRecordWriteNothing) {
  Bytes field = WordRecord(0xFF8A, 40);
  Put16(field, 32, 500);
  Add(field);
  Bytes keywords = WordRecord(0xFF8F, 12);
  Put16(keywords, 8, 60000);
  Add(keywords);
  EXPECT_EQ(Render(), "");
}

TEST_F(LinkTest, LayoutRegionPlacesItsElements) {
  Add(Text("above"));
  Bytes region = ByteRecord(0x00B7, 28);
  Put16(region, 4, 1440);
  Put16(region, 6, 720);
  Add(region);
  Bytes element = ByteRecord(0x00B8, 30);
  Put16(element, 2, 144);
  Put16(element, 4, 288);
  Put16(element, 6, 720);
  Put16(element, 8, 360);
  Add(element);
  Add(Text("first"));
  Add(ByteRecord(0x00BA, 30));
  Add(Text("second"));
  Add(ByteRecord(0x00B9, 18));
  Add(Text("below"));
  const std::string out = Render();
  EXPECT_NE(out.find("<div class=\"layout\" style=\"position:relative;width:96px;height:48px;\">"
                     "<div style=\"position:absolute;left:9px;top:19px;width:48px;height:24px;\">"),
            std::string::npos)
      << out;
  EXPECT_LT(out.find("first"), out.find("</div><div style=\"position:absolute;left:0px"));
  EXPECT_LT(out.find("second"), out.find("</div></div>"));
  EXPECT_GT(out.find("below"), out.find("</div></div>"));
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

// As real forms store them: every element holds paragraphs of its own, and
// a paragraph is open when the region begins. Each element's text stays in
// its own positioned division; the region holds them all.
TEST_F(LinkTest, LayoutElementsKeepTheirParagraphsInside) {
  // A paragraph mark and the reference to its definition.
  auto paragraph = [&] {
    Add(Paragraph());
    Bytes reference = ByteRecord(0x0083, 4);
    Put16(reference, 2, 1);
    Add(reference);
  };
  paragraph();
  Add(Text("above"));
  paragraph();
  Bytes region = ByteRecord(0x00B7, 28);
  Put16(region, 4, 1440);
  Put16(region, 6, 1440);
  Add(region);
  paragraph();
  auto element = [&](uint16_t sig, uint16_t left, uint16_t top) {
    Bytes e = ByteRecord(sig, 42);
    Put16(e, 2, left);
    Put16(e, 4, top);
    Put16(e, 6, 720);
    Put16(e, 8, 360);
    Add(e);
  };
  element(0x00B8, 150, 300);
  Add(Text("first"));
  paragraph();
  Add(Text("first again"));
  paragraph();
  element(0x00BA, 750, 600);
  Add(Text("second"));
  paragraph();
  Add(ByteRecord(0x00B9, 18));
  Add(Paragraph());
  Add(Text("below"));
  const std::string out = Render();
  ASSERT_TRUE(ParsesAsXml(out)) << out;
  const size_t region0 = out.find("<div class=\"layout\"");
  const size_t first = out.find("<div style=\"position:absolute;left:10px;top:20px;");
  const size_t second = out.find("<div style=\"position:absolute;left:50px;top:40px;");
  ASSERT_NE(region0, std::string::npos) << out;
  ASSERT_NE(first, std::string::npos) << out;
  ASSERT_NE(second, std::string::npos) << out;
  // Each element's division holds its text up to its own end.
  auto closesAt = [&](size_t open) {
    int depth = 0;
    for (size_t at = open; at < out.size(); ++at) {
      if (out.compare(at, 4, "<div") == 0) ++depth;
      if (out.compare(at, 6, "</div>") == 0 && --depth == 0) return at;
    }
    return std::string::npos;
  };
  const size_t firstEnd = closesAt(first), secondEnd = closesAt(second), regionEnd = closesAt(region0);
  EXPECT_LT(out.find("first again"), firstEnd) << out;
  EXPECT_LT(firstEnd, second);
  EXPECT_LT(out.find(">second<"), secondEnd) << out;
  EXPECT_LT(secondEnd, regionEnd);
  EXPECT_GT(out.find("below"), regionEnd) << out;
  EXPECT_LT(out.find("above"), region0);
}

TEST_F(LinkTest, PassthruIsCopiedVerbatimBetweenMarkers) {
  Add(WordRecord(0xFFCC, 8));
  Add(Text("<b class='x'>bold</b>"));
  Add(Paragraph());
  Add(Text("<i>it</i>"));
  Add(WordRecord(0xFFCD, 8));
  Add(Text("after"));
  const std::string out = Render();
  EXPECT_NE(out.find("<!--PassthruStart--><b class='x'>bold</b>\n<i>it</i><!--PassthruEnd-->"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("after"), std::string::npos);
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

// A designer's markup that is not XML is never shown as code in XHTML: it is
// read as HTML and written as XML, head parts left out, scripts and styles as
// character data, undeclared prefixes dropped.
TEST_F(LinkTest, PassthruThatIsNotXmlIsWrittenAsXmlInXhtmlOnly) {
  Add(WordRecord(0xFFCC, 8));
  Add(Text("<br><p>open"));
  Add(WordRecord(0xFFCD, 8));
  Add(WordRecord(0xFFCC, 8));
  Add(Text("<title>t</title><style>p > b {}</style><P x:y=1 data-a=b>i<script>a < b</script>"));
  Add(WordRecord(0xFFCD, 8));
  const std::string xhtml = Render();
  EXPECT_EQ(xhtml,
            "<!--PassthruStart--><br /><p>open</p><!--PassthruEnd--><!--PassthruStart-->"
            "<style>/*<![CDATA[*/\np > b {}\n/*]]>*/</style><p data-a=\"b\">i<script>//<![CDATA[\n"
            "a < b\n//]]></script></p><!--PassthruEnd-->");
  EXPECT_TRUE(ParsesAsXml(xhtml)) << xhtml;
  NewList();  // the first block alone, in HTML
  Add(WordRecord(0xFFCC, 8));
  Add(Text("<br><p>open"));
  Add(WordRecord(0xFFCD, 8));
  ctx->outputCursor = ctx->outputBuffer;
  *ctx->outputCursor = 0;
  const std::string html = Render(nullptr, kOutputHtml);
  EXPECT_NE(html.find("<!--PassthruStart--><br><p>open<!--PassthruEnd-->"), std::string::npos)
      << html;
}

TEST_F(LinkTest, AttributeWriterEscapesAndDropsWhatIsUnsafe) {
  const Bytes rec = IdName({"i\"d", "c<l", "color:red\"/><script>", "t", 
                            "data-x=1 ONCLICK=y 2bad=z style=w x=\"javascript:a\" x=again "
                            "foo:bar=2 xml:lang=en", "n&m"});
  RenderContext* c = Context();
  WriteElementIdAttributes(rec.data(), uint32_t(rec.size()), c, 0, 0);
  const std::string out(c->outputBuffer);
  // XHTML keeps no prefixed name but xml:lang: an undeclared prefix is not XML with namespaces.
  EXPECT_EQ(out,
            " id=\"i&quot;d\" name=\"n&amp;m\" class=\"c&lt;l\" "
            "style=\"color:red&quot;/&gt;&lt;script&gt;\" title=\"t\" data-x=\"1\" x=\"again\" "
            "xml:lang=\"en\"");
  EXPECT_TRUE(ParsesAsXml("<span" + out + "/>")) << out;
  c->outputCursor = c->outputBuffer;
  c->outputKind = kOutputHtml;
  WriteElementIdAttributes(rec.data(), uint32_t(rec.size()), c, 0, 0);
  EXPECT_NE(std::string(c->outputBuffer).find(" x=\"again\" foo:bar=\"2\" xml:lang=\"en\""),
            std::string::npos) << c->outputBuffer;
  // Lengths beyond the record are cut to it.
  Bytes cut = IdName({"abc"});
  Put16(cut, 4, 400);
  c->outputCursor = c->outputBuffer;
  *c->outputCursor = 0;
  WriteElementIdAttributes(cut.data(), uint32_t(cut.size()), c, 0, 0);
  EXPECT_STREQ(c->outputBuffer, " id=\"abc\"");
}

TEST_F(LinkTest, EscapingKeepsWholeCharactersAndFitsTheBuffer) {
  char out[8];
  EXPECT_EQ(EscapeDocumentText("a&b", 3, out, sizeof out), 7u);
  EXPECT_STREQ(out, "a&amp;b");
  EXPECT_EQ(EscapeDocumentText("a&&", 3, out, sizeof out), 6u);  // the second entity does not fit
  EXPECT_STREQ(out, "a&amp;");
  // A line break becomes a blank; a character with no XML form (a control
  // character) is dropped whole, its companion byte with it.
  EXPECT_EQ(EscapeDocumentText(std::string("x\0\x01y", 4).data(), 4, out, sizeof out), 2u);
  EXPECT_STREQ(out, "x ");
}

}  // namespace
}  // namespace elements
