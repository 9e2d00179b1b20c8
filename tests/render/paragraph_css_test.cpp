// Paragraph style CSS and the paragraph tables.
#include <cstdio>
#include <string>
#include <vector>

#include "render/text_support.h"
#include "richtext/item/parastring.h"
#include "support/testutil.h"

namespace {

class ParagraphCssTest : public textwriters::TextWriterTest {
 protected:
  // A paragraph definition of `length` bytes: id, left, right, first, flags, flags2.
  RTRecordNode* AddDefinition(uint16_t id, uint16_t left, uint16_t right, uint16_t first,
                              uint16_t flags = 0x0100, uint16_t flags2 = 0,
                              uint16_t length = 72) {
    RTRecordNode* n = AddRecord(0xFF82, length);
    Put(n, 0, 0xFF82);
    Put(n, 2, length);
    Put(n, 4, id);
    Put(n, 14, left);
    Put(n, 16, right);
    Put(n, 18, first);
    Put(n, 62, flags);
    Put(n, 68, flags2);
    return n;
  }
  static void Put(RTRecordNode* n, uint32_t off, uint16_t v) {
    n->data[off] = uint8_t(v);
    n->data[off + 1] = uint8_t(v >> 8);
  }
  std::string Css(const RTRecordNode* d) {
    char out[2048];
    FormatParagraphCss(ctx, d, out, sizeof out);
    return out;
  }
};

TEST_F(ParagraphCssTest, PlainAndBulletedForms) {
  EXPECT_EQ(Css(AddDefinition(1, 1440, 0, 1440)), "");
  EXPECT_EQ(Css(AddDefinition(2, 1620, 0, 1620, 0x0100 | kPabBullet)),
            "padding-left: 0.25in; margin-left: 0.88in; margin-top: 0; margin-bottom: 0; "
            "list-style-type: disc; ");
  EXPECT_EQ(Css(AddDefinition(3, 2880, 0, 2160)),
            "margin-left: 1.00in; text-indent: -0.50in; ");
  RTRecordNode* roman = AddDefinition(4, 1800, 0, 1800, 0x0100 | kPabNumbered, 0x1002);
  EXPECT_NE(Css(roman).find("list-style-type: lower-roman; "), std::string::npos);
}

TEST_F(ParagraphCssTest, RightMarginPercentTakesTheSmallerSide) {
  RTRecordNode* a = AddDefinition(1, 1440, 0, 1440, 0x0100, kPab2RightPercent, 84);
  Put(a, 82, 95);
  EXPECT_EQ(Css(a), "margin-right:5%; ");
  Put(a, 82, 5);
  EXPECT_EQ(Css(a), "margin-right:5%; ");
}

TEST_F(ParagraphCssTest, LeftToRightOnlyAfterTheFirstRightToLeft) {
  RTRecordNode* ltr = AddDefinition(1, 1440, 0, 1440);
  RTRecordNode* rtl = AddDefinition(2, 1440, 0, 1440, 0x0100, kPab2RightToLeft);
  EXPECT_EQ(Css(ltr).find("direction"), std::string::npos);
  EXPECT_EQ(Css(rtl), "direction: rtl;");
  EXPECT_EQ(Css(ltr), "direction: ltr;");
}

TEST_F(ParagraphCssTest, CheckBoxBulletImages) {
  RTRecordNode* checked = AddDefinition(1, 1620, 0, 1620, 0x0100 | kPabBullet, 0x0002);
  ctx->renderFlagsE = 0x80;
  const std::string css = Css(checked);
  const std::string prefix = "list-style-type: disc; list-style-image: url('data:image/gif;base64,";
  ASSERT_NE(css.find(prefix), std::string::npos) << css;
  const size_t start = css.find(prefix) + prefix.size();
  const std::string b64 = css.substr(start, css.find('\'', start) - start);
  EXPECT_EQ(b64.size(), 328u);
  std::vector<uint8_t> gif;
  ASSERT_TRUE(kvtest::DecodeBase64(b64, &gif));
  ASSERT_EQ(gif.size(), 245u);
  EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
  EXPECT_EQ(gif[6], 7);
  EXPECT_EQ(gif[8], 7);

  RTRecordNode* unchecked = AddDefinition(2, 1620, 0, 1620, 0x0100 | kPabBullet, 0x2000);
  const std::string u = Css(unchecked);
  const size_t s = u.find("base64,") + 7;
  EXPECT_EQ(u.substr(s, u.find('\'', s) - s).size(), 72u);

  ctx->renderFlagsE = 0x80 | 0x100;  // server icons
  EXPECT_NE(Css(unchecked).find("url('/icons/vwicn200.gif')"), std::string::npos);
}

TEST_F(ParagraphCssTest, BulletImageUrlCannotLeaveTheDeclaration) {
  RTRecordNode* bullet = AddDefinition(1, 1620, 0, 1620, 0x0100 | kPabBullet);
  ctx->renderFlagsB = 0x800;
  char evil[] = "x.gif');}</style><script>alert(1)</script>";
  ctx->bulletGraphics[0] = evil;
  const std::string css = Css(bullet);
  ctx->bulletGraphics[0] = nullptr;
  EXPECT_EQ(css.find('<'), std::string::npos) << css;
  EXPECT_EQ(css.find("x.gif'"), std::string::npos) << css;
  EXPECT_NE(css.find("url('x.gif%27%29;%7D%3C/style%3E"), std::string::npos) << css;
}

TEST_F(ParagraphCssTest, InchFiguresRoundAsTwoDecimals) {
  // Every left margin of a wide range, halfway cases (180 twips is 0.125 in)
  // and negative ones included, reads as a two-decimal figure of inches.
  RTRecordNode* d = AddDefinition(1, 1440, 0, 1440);
  for (uint32_t left = 0; left <= 6000; ++left) {
    if (left == 1440) continue;
    Put(d, 14, uint16_t(left));
    Put(d, 18, uint16_t(left));
    char expected[64];
    std::snprintf(expected, sizeof expected, "margin-left: %4.2fin; ",
                  (int32_t(left) - 1440) / 1440.0);
    ASSERT_EQ(Css(d), expected) << left;
  }
  Put(d, 14, 1620);
  Put(d, 18, 1620);
  EXPECT_EQ(Css(d), "margin-left: 0.12in; ");
  Put(d, 14, 1260);
  Put(d, 18, 1260);
  EXPECT_EQ(Css(d), "margin-left: -0.12in; ");
  Put(d, 14, 1439);
  Put(d, 18, 1439);
  EXPECT_EQ(Css(d), "margin-left: -0.00in; ");
}

TEST_F(ParagraphCssTest, SameDefinitionFollowsItsContext) {
  RTRecordNode* d = AddDefinition(1, 2880, 0, 2880);
  EXPECT_EQ(Css(d), "margin-left: 1.00in; ");
  // Under the options that move alignment into the CSS, the same bytes
  // write more; back without them, the first text again.
  Put(d, 6, 3);
  ctx->renderFlagsE |= 0x200;
  EXPECT_EQ(Css(d), "margin-left: 1.00in; text-align: center;");
  ctx->renderFlagsE &= ~0x200u;
  EXPECT_EQ(Css(d), "margin-left: 1.00in; ");
  // A small buffer keeps whole declarations only, every time.
  char small[16];
  EXPECT_EQ(FormatParagraphCss(ctx, d, small, sizeof small), 0u);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(FormatParagraphCss(ctx, d, small, sizeof small), 0u);
  char room[32];
  EXPECT_EQ(FormatParagraphCss(ctx, d, room, sizeof room), 21u);
  EXPECT_STREQ(room, "margin-left: 1.00in; ");
}

TEST_F(ParagraphCssTest, ShortRecordsReadNothingPastTheirEnd) {
  RTRecordNode* d = AddDefinition(1, 2880, 0, 2880, 0x0100, kPab2LeftPercent | kPab2RightPercent, 74);
  // Percent words lie past the record: they read as 0, nothing percent is written.
  EXPECT_EQ(Css(d).find('%'), std::string::npos);
  RTRecordNode* tiny = AddRecord(0xFF82, 20);
  EXPECT_EQ(Css(tiny), "");
}

TEST_F(ParagraphCssTest, TablesHoldEveryDefinitionBeyondTheFixedSlots) {
  for (uint32_t id = 1; id <= 3000; ++id) ASSERT_TRUE(AddParagraphClass(ctx, uint16_t(id), "x"));
  EXPECT_EQ(ParagraphClassTotal(ctx), 3000u);
  EXPECT_NE(FindParagraphClassCss(ctx, 2999), nullptr);
  EXPECT_EQ(FindParagraphClassCss(ctx, 3001), nullptr);
  for (uint16_t id = 1; id <= 700; ++id) AddHiddenParagraphId(ctx, id);
  EXPECT_TRUE(IsParagraphIdHidden(ctx, 1));
  EXPECT_TRUE(IsParagraphIdHidden(ctx, 700));
  EXPECT_FALSE(IsParagraphIdHidden(ctx, 701));
  std::vector<RTRecordNode*> lists;
  for (uint16_t id = 1; id <= 600; ++id)
    lists.push_back(AddDefinition(id, 1800, 0, 1800, 0x0100 | kPabNumbered));
  for (RTRecordNode* n : lists) CollectParagraphDefinition(ctx, n);
  CollectParagraphDefinition(ctx, lists[0]);  // once only
  EXPECT_EQ(FindNumberedListDefinition(ctx, 600), lists.back());
  EXPECT_EQ(FindBulletListDefinition(ctx, 600), nullptr);
  ReleaseParagraphTables(ctx);
  EXPECT_EQ(ParagraphClassTotal(ctx), 0u);
  EXPECT_FALSE(IsParagraphIdHidden(ctx, 700));
}

TEST_F(ParagraphCssTest, IdentifierMap) {
  uint16_t stored[] = {5, 6};
  uint16_t inForce[] = {50, 60};
  ctx->paragraphIdMapStored = stored;
  ctx->paragraphIdMapInForce = inForce;
  ctx->paragraphIdMapCount = 2;
  EXPECT_EQ(MapParagraphId(ctx, 6), 60);
  EXPECT_EQ(MapParagraphId(ctx, 7), 7);
  EXPECT_TRUE(IsParagraphIdMapped(ctx, 50));
  EXPECT_FALSE(IsParagraphIdMapped(ctx, 5));
  ctx->paragraphIdMapStored = ctx->paragraphIdMapInForce = nullptr;
  ctx->paragraphIdMapCount = 0;
}

}  // namespace
