// The open-element lists and the small helpers beside them.
#include <string>
#include <vector>

#include "text_support.h"

namespace textwriters {
namespace {

using ElementListTest = TextWriterTest;

TEST_F(ElementListTest, ClosesInReverseOrderDownToTheNamedElement) {
  PushOpenTag(ctx, 0, "</div>");
  PushOpenTag(ctx, 0, "</p>");
  PushOpenTag(ctx, 0, "</span>");
  EXPECT_TRUE(IsElementOpen(ctx, 0, "</span>", 0));
  EXPECT_FALSE(IsElementOpen(ctx, 0, "</p>", 0));
  EXPECT_TRUE(IsElementOpen(ctx, 0, "</p>", 1));
  EXPECT_FALSE(IsElementOpen(ctx, 1, "</p>", 1));  // the other list

  EXPECT_TRUE(CloseOpenElements(ctx, 0, "</p>", 0));
  EXPECT_EQ(Out(), "</span></p>");
  EXPECT_TRUE(IsElementOpen(ctx, 0, "</div>", 0));

  // A name that is not open closes nothing.
  EXPECT_FALSE(CloseOpenElementsTo(ctx, 0, "</table>", 0));
  EXPECT_EQ(Out(), "</span></p>");

  // The empty name closes everything.
  PushOpenTag(ctx, 0, "</ul>");
  EXPECT_TRUE(CloseOpenElementsTo(ctx, 0, "", 0));
  EXPECT_EQ(Out(), "</span></p></ul></div>");
  EXPECT_EQ(ctx->blockElementList, nullptr);
  EXPECT_FALSE(CloseOpenElementsTo(ctx, 0, "", 0));
}

TEST_F(ElementListTest, ClosingTextsAreCopies) {
  char text[] = "</em>";
  PushOpenElement(ctx, 1, text, 0);
  text[2] = 'x';
  CloseOpenElements(ctx, 1, "</em>", 0);
  EXPECT_EQ(Out(), "</em>");
}

TEST_F(ElementListTest, BarriersAndLevels) {
  PushOpenElement(ctx, 0, "</div>", 3);
  PushOpenTag(ctx, 0, "</td>");
  PushOpenElement(ctx, 0, "</div>", 5);
  PushOpenTag(ctx, 0, "</p>");
  EXPECT_TRUE(IsElementOpenAbove(ctx, 0, "</div>", "</td>", "</th>"));
  EXPECT_FALSE(IsElementOpenAbove(ctx, 0, "</ul>", "</td>", nullptr));
  EXPECT_FALSE(IsElementOpenBefore(ctx, 0, "</div>", "</p>", nullptr, nullptr));
  EXPECT_TRUE(IsElementOpenBefore(ctx, 0, "</div>", "</td>", nullptr, "</th>"));
  EXPECT_EQ(FindOpenElementLevel(ctx, 0, "</div>", 0), 5u);  // the newest one
  EXPECT_EQ(FindOpenElementLevel(ctx, 0, "</ol>", 0), 0u);
}

TEST_F(ElementListTest, PopIntoCollectsClosingTextsWithinTheBuffer) {
  PushOpenTag(ctx, 1, "</a>");
  OpenElement* saved = ctx->inlineElementList;
  PushOpenTag(ctx, 1, "</font>");
  PushOpenTag(ctx, 1, "</b>");
  char buffer[10] = "";
  PopOpenElementsInto(ctx, 1, saved, buffer, sizeof buffer);
  // "</b>" fits, "</font>" would pass the buffer and is left out whole.
  EXPECT_STREQ(buffer, "</b>");
  EXPECT_EQ(ctx->inlineElementList, saved);
  EXPECT_EQ(Out(), "");  // nothing written to the output

  // A saved head no longer on the list empties it.
  PopOpenElementsInto(ctx, 1, reinterpret_cast<OpenElement*>(buffer), nullptr, 0);
  EXPECT_EQ(ctx->inlineElementList, nullptr);
}

TEST_F(ElementListTest, UnknownListsAndNullTextsDoNothing) {
  EXPECT_EQ(PushOpenElement(ctx, 2, "</div>", 0), nullptr);
  EXPECT_EQ(PushOpenElement(ctx, 0, nullptr, 0), nullptr);
  EXPECT_FALSE(IsElementOpen(ctx, 7, "</div>", 1));
  EXPECT_FALSE(CloseOpenElementsTo(ctx, -1, "", 0));
  EXPECT_FALSE(IsElementOpen(nullptr, 0, "</div>", 1));
}

TEST_F(ElementListTest, FullOutputStopsClosingAndKeepsTheListTrue) {
  Make(kOutputReserve + 8);  // 7 bytes of text
  PushOpenTag(ctx, 0, "</div>");
  PushOpenTag(ctx, 0, "</p>");
  EXPECT_FALSE(CloseOpenElementsTo(ctx, 0, "", 0));
  EXPECT_EQ(Out(), "</p>");  // "</div>" did not fit and is still open
  EXPECT_TRUE(IsElementOpen(ctx, 0, "</div>", 0));
  EXPECT_EQ(ctx->driver.outputFull, 1u);
  FreeOpenElements(ctx);
  EXPECT_EQ(ctx->blockElementList, nullptr);
}

TEST_F(ElementListTest, ClearBreakByOutputKind) {
  WriteClearBreak(ctx, 0);
  EXPECT_EQ(Out(), "<br style=\"clear:both;\">");
  ctx->outputCursor = ctx->outputBuffer;
  ctx->outputKind = kOutputXhtml;
  WriteClearBreak(ctx, 0);
  EXPECT_EQ(Out(), "<br style=\"clear:both;\" />");
  ctx->outputCursor = ctx->outputBuffer;
  ctx->outputKind = kOutputHtml;
  ctx->renderFlagsA = 0x8;
  WriteClearBreak(ctx, 0);
  EXPECT_EQ(Out(), "<br clear=\"all\">");
}

TEST(TextHelpers, SignaturesMatch) {
  EXPECT_TRUE(SignaturesMatch(0xFF85, 0xFF85));
  EXPECT_TRUE(SignaturesMatch(0xFFAD, 0x00AE));
  EXPECT_TRUE(SignaturesMatch(0x00AE, 0xFFAD));
  EXPECT_FALSE(SignaturesMatch(0xFFA9, 0x00AE));
  EXPECT_FALSE(SignaturesMatch(0x00DD, 0x00DE));
}

TEST(TextHelpers, EscapeHtmlTextIsBoundedAndNeverSplitsAReference) {
  char out[64];
  const char* hostile = "<script>alert(\"x\" & 'y')</script>";
  EscapeHtmlText(hostile, std::strlen(hostile), out, sizeof out);
  EXPECT_STREQ(out, "&lt;script&gt;alert(&quot;x&quot; &amp; &#39;y&#39;)&lt;/script");
  char small[8];
  EXPECT_EQ(EscapeHtmlText("a&b", 3, small, sizeof small), 7u);
  EXPECT_STREQ(small, "a&amp;b");
  EXPECT_EQ(EscapeHtmlText("ab&", 3, small, 6), 2u);  // "&amp;" would not fit
  EXPECT_STREQ(small, "ab");
  EXPECT_EQ(EscapeHtmlText("abc", 3, small, 0), 0u);
  EXPECT_EQ(EscapeHtmlText("a\0b", 3, small, sizeof small), 1u);  // a NUL ends the text
}

TEST_F(ElementListTest, InternedStringsAreSharedAndGrowPastTheTable) {
  const char* a = InternRenderString(ctx, "color:red;");
  EXPECT_EQ(InternRenderString(ctx, "color:red;"), a);
  EXPECT_EQ(ctx->stringTableCount, 1u);
  for (int i = 1; i < 1023; ++i) InternRenderString(ctx, std::to_string(i).c_str());
  EXPECT_EQ(ctx->stringTableCount, 1023u);
  // Past the table's 1,023 entries the strings are still kept, and shared.
  std::vector<const char*> more;
  for (int i = 0; i < 600; ++i)
    more.push_back(InternRenderString(ctx, ("more " + std::to_string(i)).c_str()));
  for (int i = 0; i < 600; ++i) {
    ASSERT_NE(more[size_t(i)], nullptr);
    EXPECT_EQ(std::string(more[size_t(i)]), "more " + std::to_string(i));
    EXPECT_EQ(InternRenderString(ctx, ("more " + std::to_string(i)).c_str()), more[size_t(i)]);
  }
  EXPECT_EQ(ctx->stringTableCount, 1023u);
  EXPECT_EQ(InternRenderString(ctx, "color:red;"), a);  // still found
  EXPECT_EQ(InternRenderString(ctx, nullptr), nullptr);
}

TEST_F(ElementListTest, BlankRunsStopAtTheNextParagraph) {
  RTRecordNode* run = AddText(" \t ");
  AddRecord(0xFFC3, 8);  // a text effect shows nothing
  AddText("  ");
  AddRecord(0x0081, 2);  // the next paragraph
  AddText("visible");
  EXPECT_TRUE(RecordRunIsBlank(run));
  EXPECT_TRUE(RecordRunIsBlank(nullptr));
  EXPECT_FALSE(RecordRunIsBlank(nodes.back().get()));
  nodes.clear();
  datas.clear();
  RTRecordNode* withGraphic = AddText(" ");
  AddRecord(0x0099, 30);  // a graphic is visible
  EXPECT_FALSE(RecordRunIsBlank(withGraphic));
}

TEST(TextHelpers, JoinTextListIsBounded) {
  // u16 count, u16 lengths, then the texts.
  std::vector<uint8_t> list = {3, 0, 2, 0, 1, 0, 3, 0, 'a', 'b', 'c', 'd', 'e', 'f'};
  char out[32];
  EXPECT_EQ(JoinTextList(list.data(), uint32_t(list.size()), out, ";", 31), 8u);
  EXPECT_STREQ(out, "ab;c;def");
  EXPECT_EQ(JoinTextList(list.data(), uint32_t(list.size()), out, ";", 4), 4u);
  EXPECT_STREQ(out, "ab;c");
  // A length that runs past the list is refused.
  EXPECT_EQ(JoinTextList(list.data(), 10, out, ";", 31), 0u);
  EXPECT_STREQ(out, "");
}

TEST(TextHelpers, EntityNamesForLatinCharacters) {
  const std::string eacute = NnUtf8ToLmbcs("\xC3\xA9", 2);
  EXPECT_STREQ(GetEntityNameForNotesChar(nullptr, eacute.data(), uint32_t(eacute.size())),
               "eacute");
  const std::string copy = NnUtf8ToLmbcs("\xC2\xA9", 2);
  EXPECT_STREQ(GetEntityNameForNotesChar(nullptr, copy.data(), uint32_t(copy.size())), "copy");
  const std::string euro = NnUtf8ToLmbcs("\xE2\x82\xAC", 3);
  EXPECT_STREQ(GetEntityNameForNotesChar(nullptr, euro.data(), uint32_t(euro.size())), "euro");
  EXPECT_EQ(GetEntityNameForNotesChar(nullptr, "a", 1), nullptr);
  const std::string han = NnUtf8ToLmbcs("\xE6\xBC\xA2", 3);
  EXPECT_EQ(GetEntityNameForNotesChar(nullptr, han.data(), uint32_t(han.size())), nullptr);
}

}  // namespace
}  // namespace textwriters
