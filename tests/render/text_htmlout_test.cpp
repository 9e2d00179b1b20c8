// The HTML text writer's cursors and its two helpers.
#include "text_support.h"

namespace textwriters {
namespace {

using HtmlOutTest = TextWriterTest;

TEST_F(HtmlOutTest, StartTagByOutputKind) {
  ctx->outputKind = kOutputXhtml;
  HtmlOutStartTag(ctx, "input", "type=\"text\"", "width:10em", 1);
  EXPECT_EQ(Out(), "<input type=\"text\" style=\"width:10em\"/>");
  ctx->outputCursor = ctx->outputBuffer;
  ctx->outputKind = kOutputHtml;
  HtmlOutStartTag(ctx, "input", "type=\"text\"", "width:10em", 1);
  EXPECT_EQ(Out(), "<input type=\"text\" style=\"width:10em\">");
  ctx->outputCursor = ctx->outputBuffer;
  HtmlOutStartTag(ctx, "div", "", nullptr, 0);
  HtmlOutEndTag(ctx, "div");
  HtmlOutEndTag(ctx, "");
  EXPECT_EQ(Out(), "<div></div>");
}

TEST_F(HtmlOutTest, StyleValueCannotLeaveItsAttribute) {
  HtmlOutStartTag(ctx, "span", nullptr, "x\"><script>", 0);
  EXPECT_EQ(Out(), "<span style=\"x&quot;&gt;&lt;script&gt;\">");
  HtmlOutReset(ctx, 3, 100);
  HtmlOutStartTag(ctx, "a onclick=x", nullptr, nullptr, 0);  // not a tag name
  EXPECT_EQ(Out(), "");
}

TEST_F(HtmlOutTest, WorkTextCursors) {
  HtmlOutReset(ctx, 1, 4096);
  HtmlOutPuts(ctx, 1, "ab");
  char* cursor = HtmlOutPrintf(ctx, 1, "%d", 42);
  EXPECT_STREQ(ctx->workText1, "ab42");
  EXPECT_EQ(cursor, ctx->workText1 + 4);
  EXPECT_EQ(HtmlOutFormatAt(ctx, 1, "%s", "zz"), 2);
  EXPECT_EQ(ctx->workCursor1, ctx->workText1 + 4);  // not advanced
  HtmlOutAppend(ctx, 1, "!");
  EXPECT_STREQ(ctx->workText1, "ab42zz!");
  EXPECT_EQ(ctx->workCursor1, ctx->workText1 + 7);
  HtmlOutCopyN(ctx, 1, "abcdef", 3);
  EXPECT_STREQ(ctx->workText1 + 7, "abc");
  EXPECT_EQ(HtmlOutPrintf(ctx, 9, "x"), nullptr);  // no such cursor
  HtmlOutPuts(ctx, 2, nullptr);
  EXPECT_STREQ(ctx->workText2, "");
}

TEST_F(HtmlOutTest, WorkTextsNeverOverflow) {
  HtmlOutReset(ctx, 2, 0);
  std::string big(5000, 'x');
  HtmlOutPuts(ctx, 2, big.c_str());
  EXPECT_STREQ(ctx->workText2, "");
  EXPECT_EQ(HtmlOutFormatAt(ctx, 2, "%s", big.c_str()), -1);
  std::string fits(4095, 'y');
  HtmlOutPuts(ctx, 2, fits.c_str());
  EXPECT_EQ(std::strlen(ctx->workText2), 4095u);
  HtmlOutPuts(ctx, 2, "z");
  EXPECT_EQ(std::strlen(ctx->workText2), 4095u);
  HtmlOutCopyN(ctx, 2, "abc", 100);  // clipped to the room left
  EXPECT_EQ(ctx->workText2[4095], 0);
}

TEST_F(HtmlOutTest, ResetOfTheOutput) {
  RenderAppend(ctx, "something");
  EXPECT_EQ(HtmlOutReset(ctx, 3, 65407), ctx->outputBuffer);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(ctx->outputBuffer[1], 'o');  // an empty text, not a clear
  HtmlOutReset(ctx, 3, 20);
  EXPECT_EQ(ctx->outputBuffer[1], 0);
}

TEST_F(HtmlOutTest, OutputCursorRespectsTheReserve) {
  Make(kOutputReserve + 10);
  HtmlOutPuts(ctx, 3, "0123456789ABC");
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(ctx->driver.outputFull, 1u);
  HtmlOutPrintf(ctx, 3, "%s", "012345678");
  EXPECT_EQ(Out(), "012345678");
  HtmlOutEndTag(ctx, "b");
  EXPECT_EQ(Out(), "012345678");
}

TEST(HtmlOutHelpers, ConvertPathToFileURL) {
  char path[64] = "C:\\Export\\Files\\";
  char scratch[64];
  ConvertPathToFileURL(path, scratch);
  EXPECT_STREQ(path, "file:///C:/Export/Files");
  std::strcpy(path, "images\\");
  ConvertPathToFileURL(path, scratch);
  EXPECT_STREQ(path, "images");
  path[0] = 0;
  ConvertPathToFileURL(path, scratch);
  EXPECT_STREQ(path, "");
}

TEST(HtmlOutHelpers, FormBackgroundColourWithoutInfo) {
  char colour[16] = "junk";
  GetFormBackgroundColor(0, colour);
  EXPECT_STREQ(colour, "#ffffff");
  GetFormBackgroundColor(0, nullptr);
}

}  // namespace
}  // namespace textwriters
