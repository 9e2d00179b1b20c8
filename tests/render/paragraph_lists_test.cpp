// Paragraph and list opening at paragraph references.
#include <string>

#include "render/paragraph_support.h"
#include "richtext/item/parastring.h"

namespace {

class ParagraphTest : public textwriters::ParagraphRecordsTest {
 protected:
  // Opens every paragraph in order (text runs are written by their writer;
  // here a marker stands for them) and closes what is open at the end.
  std::string Walk() {
    StartAtFirst();
    while (ctx->currentRecord) {
      RTRecordNode* n = ctx->currentRecord;
      if (n->signature == 0x0083) {
        EXPECT_EQ(WriteParagraphStart(ctx, 0, 0), NN_OK);
        if (ctx->currentRecord == n) ctx->currentRecord = n->next;
      } else {
        if (n->signature == 0xFF85)
          RenderAppendN(ctx, reinterpret_cast<char*>(n->data) + 8, n->length - 8);
        ctx->currentRecord = n->next;
      }
    }
    CloseOpenElementsTo(ctx, 1, "", 0);
    CloseOpenElementsTo(ctx, 0, "", 0);
    return Out();
  }
};

TEST_F(ParagraphTest, SameDefinitionContinuesTheList) {
  AddText("lead");  // keeps the first paragraphs from counting as leading blanks
  AddDefinition(2, 1620, 1620, 0x0100 | kPabBullet);
  AddReference(2);
  AddText("a");
  AddReference(2);
  AddText("b");
  // The list's padding is stated once.
  EXPECT_EQ(Walk(), "lead<ul style=\"padding-left: 0.25in; margin-left: "
                    "0.88in; margin-top: 0; margin-bottom: 0; list-style-type: disc; \">"
                    "<li>a</li><li>b</li></ul>");
}

TEST_F(ParagraphTest, ListsNestByFirstLineMarginAndClose) {
  AddText("lead");
  AddDefinition(2, 1620, 1620, 0x0100 | kPabBullet);
  AddDefinition(3, 2340, 2340, 0x0100 | kPabNumbered);
  AddDefinition(4, 1440, 1440);
  AddReference(2);
  AddText("a");
  AddReference(3);
  AddText("b");
  AddReference(2);
  AddText("c");
  AddReference(4);
  AddText("d");
  const std::string out = Walk();
  const size_t ul = out.find("<ul"), ol = out.find("<ol"), olEnd = out.find("</ol>"),
               ulEnd = out.find("</ul>"), d = out.find("d</div>");
  ASSERT_NE(ul, std::string::npos) << out;
  ASSERT_NE(ol, std::string::npos) << out;
  EXPECT_LT(ul, ol);
  EXPECT_LT(ol, out.find(">b<"));
  EXPECT_LT(out.find(">b<"), olEnd);
  EXPECT_LT(olEnd, out.find(">c<"));
  EXPECT_LT(out.find(">c<"), ulEnd);
  EXPECT_LT(ulEnd, d) << out;
  EXPECT_EQ(ctx->listDepth, 0);
}

TEST_F(ParagraphTest, ListsAreNotClosedPastATableCell) {
  AddText("lead");
  AddDefinition(2, 1620, 1620, 0x0100 | kPabBullet);
  AddDefinition(4, 1440, 1440);
  AddReference(2);
  AddText("a");
  StartAtFirst();
  ctx->currentRecord = nodes[3].get();
  ASSERT_EQ(WriteParagraphStart(ctx, 0, 0), NN_OK);
  PushOpenTag(ctx, 0, "</td>");
  RTRecordNode* inner = AddReference(4);
  ctx->lastRecord = inner;
  AddText("cell");
  ctx->lastRecord = nodes.back().get();
  ctx->currentRecord = inner;
  ASSERT_EQ(WriteParagraphStart(ctx, 0, 0), NN_OK);
  const std::string out = Out();
  EXPECT_EQ(out.find("</ul>"), std::string::npos) << out;
  EXPECT_TRUE(IsElementOpen(ctx, 0, "</ul>", 1));
}

TEST_F(ParagraphTest, HiddenParagraphLeavesNothing) {
  AddText("lead");
  AddDefinition(5, 1440, 1440, 0x0100 | 0x0010);
  AddDefinition(6, 1440, 1440);
  AddReference(5);
  AddText("secret");
  AddReference(6);
  AddText("shown");
  ctx->renderFlagsB = 0x2000;
  StartAtFirst();
  ASSERT_EQ(WriteDocumentHead(ctx), NN_OK);
  EXPECT_TRUE(IsParagraphIdHidden(ctx, 5));
  ctx->outputCursor = ctx->outputBuffer;
  *ctx->outputCursor = 0;
  const std::string out = Walk();
  EXPECT_EQ(out.find("secret"), std::string::npos) << out;
  EXPECT_NE(out.find("shown"), std::string::npos) << out;
  EXPECT_EQ(out.find("pabid5"), std::string::npos) << out;
}

TEST_F(ParagraphTest, SuppressDivInfoWritesNoClass) {
  AddText("lead");
  AddDefinition(3, 2880, 2880);
  AddReference(3);
  AddText("x");
  StartAtFirst();
  ASSERT_EQ(WriteDocumentHead(ctx), NN_OK);
  ctx->outputCursor = ctx->outputBuffer;
  *ctx->outputCursor = 0;
  ctx->renderFlagsD = 0x400;
  const std::string out = Walk();
  EXPECT_EQ(out.find("pabid"), std::string::npos) << out;
  EXPECT_NE(out.find("<div style=\"margin-left: 1.00in; \">x</div>"), std::string::npos) << out;
}

TEST_F(ParagraphTest, LeadingBlankParagraphsWriteNothing) {
  AddReference(1);
  AddText("   ");
  AddReference(1);
  AddText("word");
  const std::string out = Walk();
  EXPECT_EQ(out.find("   "), std::string::npos) << out;
  EXPECT_EQ(out, "<div align='left'>word</div>");
}

}  // namespace
