// Text runs in their fonts, font changes, and the output parts.
#include "host/base64.h"
#include "text_support.h"

namespace textwriters {
namespace {

class TextRunTest : public TextWriterTest {
 protected:
  void SetUp() override {
    TextWriterTest::SetUp();
    std::strcpy(ctx->faceNames[1], "Helvetica");
    std::strcpy(ctx->faceNames[4], "Courier New, monospace");
  }
};

TEST_F(TextRunTest, BaseFontRunIsBareText) {
  AddText("plain & simple");
  StartAtFirst();
  EXPECT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out(), "plain &amp; simple");
  EXPECT_EQ(ctx->currentRecord, nullptr);
}

TEST_F(TextRunTest, SpanCarriesOnlyWhatDiffersFromTheBaseFont) {
  AddText("big red", 4, 0x01 | 0x04, 2, 14);
  AddText("next");
  StartAtFirst();
  EXPECT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out(),
            "<span style=\"font-family:'Courier New',monospace;font-size:14pt;color:#ff0000;"
            "font-weight:bold;text-decoration:underline;\">big red</span>");
  EXPECT_EQ(ctx->currentRecord, nodes[1].get());
}

TEST_F(TextRunTest, ConsecutiveRunsInOneFontShareOneElement) {
  AddText("a", 1, 0x02);
  AddText("b", 1, 0x02);
  AddText("c", 1, 0x01);
  StartAtFirst();
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out(),
            "<span style=\"font-style:italic;\">ab</span>"
            "<span style=\"font-weight:bold;\">c</span>");
}

TEST_F(TextRunTest, RunsStopAtTheRangeEnd) {
  AddText("a", 1, 0x02);
  AddText("b", 1, 0x02);
  StartAtFirst();
  ctx->lastRecord = nodes[0].get();
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out(), "<span style=\"font-style:italic;\">a</span>");
  EXPECT_EQ(ctx->currentRecord, nodes[1].get());
}

TEST_F(TextRunTest, StandardFontTags) {
  ctx->renderFlagsA = 0x8;
  AddText("x", 4, 0x01 | 0x02 | 0x10, 4, 18);
  StartAtFirst();
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out(),
            "<font face=\"Courier New, monospace\" size=\"6\" color=\"#0000ff\">"
            "<b><i><sup>x</sup></i></b></font>");
}

TEST_F(TextRunTest, HostileFaceNamesAreEscaped) {
  std::strcpy(ctx->faceNames[7], "x'\"><script>");
  AddText("t", 7);
  StartAtFirst();
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out(), "<span style=\"font-family:'x\\27 \\22 \\3e \\3c script\\3e ';\">t</span>");
  ctx->outputCursor = ctx->outputBuffer;
  ctx->renderFlagsA = 0x8;
  ctx->currentRecord = nodes[0].get();
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out(), "<font face=\"x&#39;&quot;&gt;&lt;script&gt;\">t</font>");
}

TEST_F(TextRunTest, LineSeparatorIsABreakElement) {
  AddText(std::string("a\0b", 3));
  StartAtFirst();
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out(), "a<br>b");
  ctx->outputKind = kOutputXhtml;
  ctx->outputCursor = ctx->outputBuffer;
  ctx->currentRecord = nodes[0].get();
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out(), "a<br />b");
}

TEST_F(TextRunTest, SubstitutionWritesTheScratchTextInTheRunFont) {
  AddText("original", 1, 0x01);
  AddText("also original", 1, 0x01);
  StartAtFirst();
  const char replacement[] = "<new>";
  const uint16_t length = 5;
  std::memcpy(session.globals->workBuffer1 + 16, &length, 2);
  std::memcpy(session.globals->workBuffer1 + 18, replacement, length);
  ctx->substituteText = 1;
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out(), "<span style=\"font-weight:bold;\">&lt;new&gt;</span>");
  EXPECT_EQ(ctx->currentRecord, nodes[1].get());  // one run consumed
}

TEST_F(TextRunTest, BlankAsEmpty) {
  AddText("  \t", 4);
  StartAtFirst();
  ASSERT_EQ(ProcessXMLText(ctx, 0, 1), NN_OK);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(ctx->currentRecord, nullptr);
  ctx->currentRecord = nodes[0].get();
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_NE(Out(), "");
}

TEST_F(TextRunTest, DisabledActionNoteFollowsTheRunOnce) {
  AddText("a");
  AddText("b", 4);
  StartAtFirst();
  std::strcpy(ctx->hotspot.disabledActionNote, " [action <off>]");
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  ASSERT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(Out().find(" [action &lt;off&gt;]"), 1u);
  EXPECT_EQ(Out().find("action", 10), std::string::npos);
}

TEST_F(TextRunTest, FullOutputLeavesEverythingAsItWas) {
  Make(kOutputReserve + 40);
  std::strcpy(ctx->faceNames[4], "Courier");
  AddText("0123456789012345678901234567890123456789", 4);
  StartAtFirst();
  EXPECT_EQ(ProcessXMLText(ctx, 0, 0), NN_ERR_MEMORY);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(ctx->currentRecord, nodes[0].get());
  EXPECT_EQ(ctx->driver.outputFull, 1u);
}

TEST_F(TextRunTest, NonTextRecordIsSteppedOver) {
  AddRecord(0x0081, 2);
  StartAtFirst();
  EXPECT_EQ(ProcessXMLText(ctx, 0, 0), NN_OK);
  EXPECT_EQ(ctx->currentRecord, nullptr);
  EXPECT_EQ(Out(), "");
}

TEST_F(TextRunTest, FontChangePushesItsClosingTexts) {
  const uint8_t font[4] = {4, 0x01, 0, 12};
  WriteFontChangeHTML(ctx, font, nullptr, 0, 0, 0, nullptr, 0);
  EXPECT_EQ(Out(),
            "<span style=\"font-family:'Courier New',monospace;font-size:12pt;"
            "font-weight:bold;\">");
  EXPECT_TRUE(IsElementOpen(ctx, 1, "</span>", 0));
  CloseOpenElementsTo(ctx, 1, "", 0);
  EXPECT_EQ(Out().substr(Out().size() - 7), "</span>");

  // Style text only, every part, colour from a colour record.
  const uint8_t colour[8] = {0xD2, 8, 0, 0, 0x12, 0x34, 0x56, 0};
  char style[200];
  const uint8_t base[4] = {1, 0, 0, 10};
  WriteFontChangeHTML(ctx, base, colour, 1, 1, 1, style, sizeof style);
  EXPECT_STREQ(style,
               "font-family:'Helvetica';font-size:10pt;color:#123456;direction:rtl;");
  ctx->renderFlagsA = 0x8;
  ctx->outputCursor = ctx->outputBuffer;
  WriteFontChangeHTML(ctx, font, nullptr, 0, 0, 0, nullptr, 0);
  EXPECT_EQ(Out(), "<font face=\"Courier New, monospace\" size=\"4\"><b>");
  EXPECT_TRUE(IsElementOpen(ctx, 1, "</b>", 0));
  EXPECT_TRUE(IsElementOpen(ctx, 1, "</font>", 1));
}

// ---- output parts ----------------------------------------------------------------

struct Parts {
  std::vector<std::string> texts;
  std::vector<int> finals;
};
void CollectPart(RenderContext*, const char* text, size_t length, int finalPart, void* closure) {
  auto* parts = static_cast<Parts*>(closure);
  parts->texts.emplace_back(text, length);
  parts->finals.push_back(finalPart);
}

TEST_F(TextRunTest, PartsWithoutAWriterStayInTheBuffer) {
  RenderAppend(ctx, "abc");
  EXPECT_EQ(WriteMIMEHTMLPart(ctx), NN_OK);
  EXPECT_EQ(Out(), "abc");
}

TEST_F(TextRunTest, TranslationToUtf8AndLatin1) {
  const std::string lmbcs = NnUtf8ToLmbcs("caf\xC3\xA9", 5);
  ctx->characterSet = 1;
  RenderAppend(ctx, lmbcs.c_str());
  TranslateTextForOutput(ctx, 0);
  EXPECT_EQ(Out(), "caf\xC3\xA9");
  TranslateTextForOutput(ctx, 1);  // what is translated is not translated again
  EXPECT_EQ(Out(), "caf\xC3\xA9");
  Make(1000);
  RenderAppend(ctx, lmbcs.c_str());
  TranslateTextForOutput(ctx, 1);
  EXPECT_EQ(Out(), "caf\xE9");
}

TEST_F(TextRunTest, Base64PartsJoinToTheWholeText) {
  Parts parts;
  ctx->partWriter = CollectPart;
  ctx->partClosure = &parts;
  ctx->encodingFlags = 0x1;
  std::string whole;
  for (int part = 0; part < 3; ++part) {
    std::string text(100 + part * 7, char('a' + part));
    whole += text;
    RenderAppend(ctx, text.c_str());
    EncodeTextForOutput(ctx, part == 2);
    EXPECT_EQ(WriteMIMEHTMLPart(ctx), NN_OK);
  }
  EXPECT_EQ(Out(), "");
  ASSERT_EQ(parts.texts.size(), 3u);
  EXPECT_EQ(parts.finals.back(), 1);
  std::string joined;
  for (const std::string& t : parts.texts) joined += t;
  std::vector<uint8_t> decoded(whole.size() + 16);
  const uint32_t n = kv::Base64DecodeN(joined.data(), joined.size(), decoded.data(),
                                       uint32_t(decoded.size()));
  EXPECT_EQ(std::string(decoded.begin(), decoded.begin() + n), whole);
  for (const std::string& t : parts.texts)
    for (size_t at = 0, next; at < t.size(); at = next + 2) {
      next = t.find("\r\n", at);
      if (next == std::string::npos) next = t.size();
      EXPECT_LE(next - at, 76u);
    }
}

TEST_F(TextRunTest, QuotedPrintable) {
  Parts parts;
  ctx->partWriter = CollectPart;
  ctx->partClosure = &parts;
  ctx->encodingFlags = 0x2;
  RenderAppend(ctx, "a=b \r\n\xE9");
  EncodeTextForOutput(ctx, 1);
  WriteMIMEHTMLPart(ctx);
  ASSERT_EQ(parts.texts.size(), 1u);
  EXPECT_EQ(parts.texts[0], "a=3Db=20\r\n=E9");
  std::string longLine(200, 'x');
  RenderAppend(ctx, longLine.c_str());
  EncodeTextForOutput(ctx, 0);
  WriteMIMEHTMLPart(ctx);
  ASSERT_EQ(parts.texts.size(), 2u);
  EXPECT_EQ(parts.texts[1].substr(parts.texts[1].size() - 3), "=\r\n");
  EXPECT_EQ(parts.texts[1].find("=\r\n"), 75u);  // 76 characters with the "="
}

TEST_F(TextRunTest, EncodingThatDoesNotFitChangesNothing) {
  Make(kOutputReserve + 120);
  ctx->encodingFlags = 0x1;
  std::string text(100, 'z');
  ASSERT_TRUE(RenderAppend(ctx, text.c_str()));
  EncodeTextForOutput(ctx, 1);
  EXPECT_EQ(Out(), text);
  EXPECT_EQ(ctx->driver.outputFull, 1u);
}

}  // namespace
}  // namespace textwriters
