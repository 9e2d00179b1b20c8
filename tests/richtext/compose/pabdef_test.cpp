// The paragraph-definition builder: list indentation, removal by variant,
// percent margins and record growth.
#include <gtest/gtest.h>

#include <cstring>

#include "richtext/compose/pabdef.h"
#include "richtext/item/parastring.h"

namespace {

struct Def {
  uint8_t b[92] = {};
  explicit Def(uint16_t length = 72) {
    Set(0, 0xFF82);
    Set(2, length);
    Set(4, 1);
    Set(14, 1440);
    Set(18, 1440);
    Set(62, 0x0100);
  }
  uint16_t Get(uint32_t off) const { return uint16_t(b[off] | b[off + 1] << 8); }
  void Set(uint32_t off, uint16_t v) {
    b[off] = uint8_t(v);
    b[off + 1] = uint8_t(v >> 8);
  }
};

struct Request {
  Def source{92};
  int32_t given[kGivenCount] = {};
  uint16_t listStyle = 0, listRemoval = 0;
  uint32_t extraSet = 0;
  NnStatus Apply(Def& t, size_t capacity = 92, int tracking = 1) {
    return BuildParagraphDefinition(t.b, capacity, source.b, sizeof source.b, 0, 0, 0, 0,
                                    extraSet, 0, listStyle, listRemoval, 0, 0, 0, 0, given,
                                    tracking, 0);
  }
};

TEST(ParagraphDefinitionBuilder, AddingABulletIndentsBy360AndRestoresMarkers) {
  Def t;
  Request r;
  r.given[kGivenListStyle] = 1;
  r.listStyle = kListBullet;
  ASSERT_EQ(r.Apply(t), NN_OK);
  EXPECT_EQ(t.Get(14), 1800);
  EXPECT_EQ(t.Get(18), 1800);
  EXPECT_EQ(t.Get(62) & 0x1500, 0x0500);
  EXPECT_EQ(r.given[kGivenLeftRelative], 0);
  EXPECT_EQ(r.given[kGivenPercentRelative], 0);

  // A record already in percent form moves by 3 percent.
  Def p(84);
  p.Set(68, kPab2LeftPercent);
  p.Set(74, 10);
  Request r2;
  r2.given[kGivenListStyle] = 1;
  r2.listStyle = kListNumber;
  ASSERT_EQ(r2.Apply(p), NN_OK);
  EXPECT_EQ(p.Get(74), 13);
  EXPECT_EQ(p.Get(62) & 0x1400, 0x1000);
}

TEST(ParagraphDefinitionBuilder, RemovalOnlyForTheMatchingVariant) {
  Def t;
  t.Set(14, 1800);
  t.Set(18, 1800);
  t.Set(62, 0x0100 | 0x1000);
  t.Set(68, 0x1002);  // lower roman
  Def before = t;

  Request wrong;
  wrong.given[kGivenListRemoval] = 1;
  wrong.listRemoval = kListAlpha;
  ASSERT_EQ(wrong.Apply(t), NN_OK);
  EXPECT_EQ(t.Get(62), before.Get(62));
  EXPECT_EQ(t.Get(68), before.Get(68));
  EXPECT_EQ(t.Get(14), 1800);

  Request right;
  right.given[kGivenListRemoval] = 1;
  right.listRemoval = kListRoman;
  ASSERT_EQ(right.Apply(t), NN_OK);
  EXPECT_EQ(t.Get(62) & 0x1400, 0);
  EXPECT_EQ(t.Get(68) & 0x3802, 0);
  EXPECT_EQ(t.Get(14), 1440);
  EXPECT_EQ(t.Get(18), 1440);
}

TEST(ParagraphDefinitionBuilder, LeftPercentOfFiftySetsTheMargins) {
  Def t;
  Request r;
  r.given[kGivenLeftExtension] = 1;
  r.source.Set(68, kPab2LeftPercent);
  r.source.Set(74, 50);
  ASSERT_EQ(r.Apply(t, 92, 0), NN_OK);
  EXPECT_EQ(t.Get(14), 6012);
  EXPECT_EQ(t.Get(18), 6012);
  EXPECT_EQ(t.Get(74), 50);
  EXPECT_EQ(t.Get(2), 84);  // the extension is now in use
}

TEST(ParagraphDefinitionBuilder, GrowsToTheSmallestFormAndRefusesPastCapacity) {
  Def t;
  Request r;
  r.given[kGivenRightMargin] = 1;
  r.source.Set(16, 2880);
  ASSERT_EQ(r.Apply(t), NN_OK);
  EXPECT_EQ(t.Get(2), 84);
  EXPECT_EQ(t.Get(16), 2880);
  EXPECT_EQ(t.Get(80), 2880);
  EXPECT_EQ(t.Get(68) & 0x8000, 0);  // no extra flags in an 84-byte record

  Def e;
  Request x;
  x.extraSet = 0x10;
  ASSERT_EQ(x.Apply(e), NN_OK);
  EXPECT_EQ(e.Get(2), 92);
  EXPECT_NE(e.Get(68) & 0x8000, 0);
  EXPECT_EQ(e.Get(84) & 1, 1);

  // Too small a buffer: a status, and the record as it was.
  Def small;
  Def copy = small;
  Request y;
  y.extraSet = 0x10;
  EXPECT_EQ(y.Apply(small, 72), NN_ERR_MEMORY);
  EXPECT_EQ(std::memcmp(small.b, copy.b, sizeof small.b), 0);

  // A length that runs past the buffer is refused.
  Def bad;
  bad.Set(2, 200);
  Request z;
  EXPECT_EQ(z.Apply(bad), NN_ERR_CD_STRUCTURE);
}

TEST(ParagraphDefinitionBuilder, FromParsedParagraphString) {
  ParagraphSpec spec;
  ASSERT_EQ(ParseParagraphSpec("LeftMargin=2in Alignment=Center List=Square", nullptr, &spec),
            NN_OK);
  Def t;
  ASSERT_EQ(BuildParagraphDefinitionFromSpec(t.b, sizeof t.b, &spec, 1, 0), NN_OK);
  EXPECT_EQ(t.Get(14), 2880);
  EXPECT_EQ(t.Get(18), 2880);  // follows the left margin
  EXPECT_EQ(t.Get(6), 3);
  EXPECT_EQ(t.Get(62) & 0x0400, 0x0400);
  EXPECT_EQ(t.Get(68) & 0x3802, 0x1000);
}

}  // namespace
