// The composers' option parsers and signature tests.
#include <gtest/gtest.h>

#include <cstring>

#include "lsxsessi.h"
#include "richtext/compose/composers.h"

namespace {

double LengthOf(const uint8_t* v) {
  double d;
  std::memcpy(&d, v + 8, 8);
  return d;
}

TEST(ComposersParsing, CssLengthUnits) {
  uint8_t v[24] = {};
  ASSERT_EQ(ParseCssLength(v, sizeof v, "12px", 0), 0);
  EXPECT_EQ(v[16], 2);
  EXPECT_DOUBLE_EQ(LengthOf(v), 12.0);
  ASSERT_EQ(ParseCssLength(v, sizeof v, "40%", 0), 0);
  EXPECT_EQ(v[16], 3);
  ASSERT_EQ(ParseCssLength(v, sizeof v, "1.5in", 0), 0);
  EXPECT_EQ(v[16], 1);
  EXPECT_DOUBLE_EQ(LengthOf(v), 2160.0);
  ASSERT_EQ(ParseCssLength(v, sizeof v, "7", 0), 0);
  EXPECT_EQ(v[16], 2);
}

TEST(ComposersParsing, CssLengthRefusalsLeaveValue) {
  uint8_t v[24] = {};
  ASSERT_EQ(ParseCssLength(v, sizeof v, "3em", 0), 0);
  uint8_t copy[24];
  std::memcpy(copy, v, sizeof v);
  EXPECT_NE(ParseCssLength(v, sizeof v, "wide", 0), 0);
  EXPECT_NE(ParseCssLength(v, sizeof v, "10furlongs", 0), 0);
  EXPECT_NE(ParseCssLength(v, 8, "10px", 0), 0);  // too small a structure
  EXPECT_NE(ParseCssLength(v, sizeof v, "nan", 0), 0);
  EXPECT_EQ(std::memcmp(copy, v, sizeof v), 0);
}

TEST(ComposersParsing, BorderKeysFillTheRecord) {
  LSXLsiSession s;
  uint8_t rec[60] = {};
  ASSERT_EQ(ParseBorderProperties(&s, 0xFFFC, rec, sizeof rec,
                                  "BorderStyle=double BorderThickness=1,2,3,4 BorderColor=#ff0000",
                                  1),
            0);
  uint16_t v;
  std::memcpy(&v, rec, 2);
  EXPECT_EQ(v, 0xFFFC);
  std::memcpy(&v, rec + 2, 2);
  EXPECT_EQ(v, 60);
  std::memcpy(&v, rec + 8, 2);
  EXPECT_EQ(v, 2);
  std::memcpy(&v, rec + 16, 2);
  EXPECT_EQ(v, 4);
  EXPECT_EQ(rec[46], 0xFF);
  EXPECT_EQ(rec[47], 0);
}

TEST(ComposersParsing, BorderRefusalsChangeNothing) {
  LSXLsiSession s;
  uint8_t rec[60] = {};
  ASSERT_EQ(ParseBorderProperties(&s, 0xFFFC, rec, sizeof rec, "BorderThickness=2", 1), 0);
  uint8_t copy[60];
  std::memcpy(copy, rec, sizeof rec);
  EXPECT_NE(ParseBorderProperties(&s, 0xFFFC, rec, sizeof rec, "Nothing=1", 0), 0);
  EXPECT_NE(ParseBorderProperties(&s, 0xFFFC, rec, sizeof rec, "BorderThickness=x", 0), 0);
  EXPECT_NE(ParseBorderProperties(&s, 0xFFFC, rec, sizeof rec, "BorderColor=notacolour", 0), 0);
  EXPECT_NE(ParseBorderProperties(&s, 0xFFFC, rec, 40, "BorderThickness=2", 0), 0);
  EXPECT_EQ(std::memcmp(copy, rec, sizeof rec), 0);
  uint8_t wrong[60] = {0x85, 0xFF, 60, 0};
  EXPECT_NE(ParseBorderProperties(&s, 0xFFFC, wrong, sizeof wrong, "BorderThickness=2", 0), 0);
}

TEST(ComposersParsing, HotspotSignatures) {
  for (uint16_t s : {0xFF74, 0xFF7E, 0xFFA9, 0xFFAD}) {
    EXPECT_TRUE(IsHotspotRecordSignature(s));
    EXPECT_TRUE(IsHotspotRecordSignatureEx(s));
  }
  for (uint16_t s : {0x7F, 0xAA, 0xAE}) {
    EXPECT_FALSE(IsHotspotRecordSignature(s));
    EXPECT_TRUE(IsHotspotRecordSignatureEx(s));
  }
  EXPECT_FALSE(IsHotspotRecordSignatureEx(0xFF85));
}

TEST(ComposersParsing, TableBeginPropsStayInsideRecord) {
  uint8_t begin[14] = {163, 14};
  ASSERT_EQ(ComposeTableProps(nullptr, nullptr, 163, begin, sizeof begin,
                              "LeftMargin=1 Spacing=0.5 Fit=Window", 0),
            0);
  uint16_t v;
  std::memcpy(&v, begin + 2, 2);
  EXPECT_EQ(v, 1440);
  std::memcpy(&v, begin + 4, 2);
  EXPECT_EQ(v, 720);
  std::memcpy(&v, begin + 12, 2);
  EXPECT_EQ(v & 1, 1);
  uint8_t shortRec[6] = {163, 6};
  EXPECT_NE(ComposeTableProps(nullptr, nullptr, 163, shortRec, sizeof shortRec, "Spacing=1", 0),
            0);
}

}  // namespace
