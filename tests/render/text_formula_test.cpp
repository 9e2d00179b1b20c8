// The text-or-formula writers: character references, spaces, tabs, formulas
// and the output bounds.
#include "text_support.h"

namespace textwriters {
namespace {

using TextOrFormulaTest = TextWriterTest;

std::string Lmbcs(const char* utf8) { return NnUtf8ToLmbcs(utf8, std::strlen(utf8)); }

TEST_F(TextOrFormulaTest, EscapesMarkupCharacters) {
  const std::string text = "<script>alert(\"x\")</script> & 'q'";
  WriteTextOrFormulaHTML(ctx, text.data(), uint16_t(text.size()), nullptr, 0, 0, 0);
  EXPECT_EQ(Out(),
            "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;q&#39;");
  EXPECT_EQ(*ctx->outputCursor, 0);
}

TEST_F(TextOrFormulaTest, ZeroLengthWritesNothing) {
  WriteTextOrFormulaHTML(ctx, "abc", 0, nullptr, 0, 0, 0);
  WriteTextOrFormulaHTML(ctx, "abc", 0, nullptr, 0, 0, 1);
  EXPECT_EQ(Out(), "");
}

TEST_F(TextOrFormulaTest, PreservedSpaces) {
  ctx->renderFlagsA = 0x40;
  WriteTextOrFormulaHTML(ctx, "a  b", 4, nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "a&nbsp;&nbsp;b");
  ctx->outputCursor = ctx->outputBuffer;
  WriteTextOrFormulaHTML(ctx, "a b ", 4, nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "a b&nbsp;");
  // Without the option blanks stay blanks; the all-spaces flag makes them all hard.
  ctx->renderFlagsA = 0;
  ctx->outputCursor = ctx->outputBuffer;
  WriteTextOrFormulaHTML(ctx, "a  b", 4, nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "a  b");
  ctx->outputCursor = ctx->outputBuffer;
  WriteTextOrFormulaHTML(ctx, "a b", 3, nullptr, 0, 1, 0);
  EXPECT_EQ(Out(), "a&nbsp;b");
}

TEST_F(TextOrFormulaTest, SettingsRecordTurnsPreservedSpacesOffAndSetsTabs) {
  ctx->renderFlagsA = 0x40;
  std::vector<uint8_t> settings(700, 0);
  const uint16_t width = 2, flags = 0x80;
  std::memcpy(settings.data() + 624, &width, 2);
  std::memcpy(settings.data() + 626, &flags, 2);
  WriteTextOrFormulaHTML(ctx, "a  \tb", 5, settings.data(), 0, 0, 0);
  EXPECT_EQ(Out(), "a  &nbsp;&nbsp;b");
}

TEST_F(TextOrFormulaTest, TabsAndXmlReferences) {
  ctx->renderFlagsC = 0x800;
  ctx->tabSpaces = 3;
  WriteTextOrFormulaHTML(ctx, "\t", 1, nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "&#160;&#160;&#160;");
  ctx->tabSpaces = 0;
  ctx->outputCursor = ctx->outputBuffer;
  WriteTextOrFormulaHTML(ctx, "a\tb", 3, nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "a b");
}

TEST_F(TextOrFormulaTest, NonAsciiCharactersByOutputKind) {
  const std::string text = Lmbcs("caf\xC3\xA9 \xE2\x82\xAC \xE6\xBC\xA2");
  WriteTextOrFormulaHTML(ctx, text.data(), uint16_t(text.size()), nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "caf&eacute; &euro; &#28450;");
  // XHTML: numeric references only, never a named HTML entity.
  ctx->outputKind = kOutputXhtml;
  ctx->outputCursor = ctx->outputBuffer;
  WriteTextOrFormulaHTML(ctx, text.data(), uint16_t(text.size()), nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "caf&#233; &#8364; &#28450;");
}

TEST_F(TextOrFormulaTest, CharacterBeyondTheBasicPlane) {
  ctx->outputKind = kOutputXhtml;
  const std::string text = Lmbcs("\xF0\x9F\x98\x80");  // U+1F600
  WriteTextOrFormulaHTML(ctx, text.data(), uint16_t(text.size()), nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "&#128512;");
}

// U+10000: both surrogates have a zero low byte, spelt in the zero form.
TEST_F(TextOrFormulaTest, SurrogatesWithZeroLowBytes) {
  ctx->outputKind = kOutputXhtml;
  const std::string text = Lmbcs("\xF0\x90\x80\x80");
  ASSERT_EQ(text, std::string("\x14\xF6\xD8\x14\xF6\xDC"));
  WriteTextOrFormulaHTML(ctx, text.data(), uint16_t(text.size()), nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "&#65536;");
}

TEST_F(TextOrFormulaTest, LineSeparatorsAndControls) {
  WriteTextOrFormulaHTML(ctx, "a\0b", 3, nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "a\r\nb");
  ctx->outputCursor = ctx->outputBuffer;
  // Kept line breaks: CR and LF dropped, NUL not written.
  WriteTextOrFormulaHTML(ctx, "a\r\nb\0c", 6, nullptr, 1, 0, 0);
  EXPECT_EQ(Out(), "abc");
  ctx->outputCursor = ctx->outputBuffer;
  // A control character XML does not allow is never written, not even as a reference.
  WriteTextOrFormulaHTML(ctx, "a\x1b" "b", 3, nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "ab");
}

TEST_F(TextOrFormulaTest, ToBufferAppendsAndKeepsAmpersands) {
  char out[64] = "x=";
  WriteTextOrFormulaHTMLTo(ctx, "&amp; <b>", 9, nullptr, out, sizeof out, 0, 0, 0, 1);
  EXPECT_STREQ(out, "x=&amp; &lt;b&gt;");
  EXPECT_EQ(Out(), "");  // the output cursor does not move
  char small[8] = "ab";
  WriteTextOrFormulaHTMLTo(ctx, "<<<", 3, nullptr, small, sizeof small, 0, 0, 0, 0);
  EXPECT_STREQ(small, "ab");  // did not fit: left as it was
}

TEST_F(TextOrFormulaTest, NeverPassesTheOutputCapacity) {
  Make(kOutputReserve + 10);
  std::string text(40, '<');
  WriteTextOrFormulaHTML(ctx, text.data(), uint16_t(text.size()), nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(ctx->driver.outputFull, 1u);
  WriteTextOrFormulaHTML(ctx, "abc", 3, nullptr, 0, 0, 0);
  EXPECT_EQ(Out(), "abc");
}

class FormulaTest : public TextWriterTest {
 protected:
  void SetUp() override { Make(200000); }
  void Run(const char* source) {
    NnHandle h = 0;
    uint16_t length = 0, errorOffset = 0, errorLength = 0;
    ASSERT_EQ(NnFormulaCompile(source, uint16_t(std::strlen(source)), &h, &length, &errorOffset,
                               &errorLength),
              NN_OK);
    const char* compiled = static_cast<const char*>(NnMemLock(h));
    WriteTextOrFormulaHTML(ctx, compiled, length, nullptr, 0, 0, 1);
    NnMemUnlock(h);
    NnMemFree(h);
  }
};

TEST_F(FormulaTest, ResultsByType) {
  Run("2.5");
  EXPECT_EQ(Out(), "2.5");
  ctx->outputCursor = ctx->outputBuffer;
  Run("\"x\" : \"y\"");
  EXPECT_EQ(Out(), "x;y");
  ctx->outputCursor = ctx->outputBuffer;
  Run("\"<b>\"");
  EXPECT_EQ(Out(), "&lt;b&gt;");
  // The result stays in the session scratch block.
  uint16_t stored = 0;
  std::memcpy(&stored, session.globals->workBuffer1 + 16, 2);
  EXPECT_EQ(std::string(session.globals->workBuffer1 + 18, stored), "<b>");
}

TEST_F(FormulaTest, GarbageFormulaWritesNothing) {
  const char junk[] = "\xff\xff\xff\xff garbage";
  WriteTextOrFormulaHTML(ctx, junk, sizeof junk - 1, nullptr, 0, 0, 1);
  EXPECT_EQ(Out(), "");
}

}  // namespace
}  // namespace textwriters

namespace textwriters {
namespace {

TEST_F(FormulaTest, LongFormulaIsCutBeforeItRuns) {
  // 65,535 bytes: a text constant whose closing quote lies past the cut, so
  // the cut formula no longer parses and writes nothing.
  std::string source = "\"" + std::string(65533, 'a') + "\"";
  WriteTextOrFormulaHTML(ctx, source.data(), uint16_t(source.size()), nullptr, 0, 0, 1);
  EXPECT_EQ(Out(), "");
  // Just under the limit it runs whole.
  source = "\"" + std::string(65340, 'a') + "\"";
  WriteTextOrFormulaHTML(ctx, source.data(), uint16_t(source.size()), nullptr, 0, 0, 1);
  EXPECT_EQ(Out(), std::string(65340, 'a'));
}

}  // namespace
}  // namespace textwriters
