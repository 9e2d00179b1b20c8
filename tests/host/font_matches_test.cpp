#include <gtest/gtest.h>

#include "host/fonts.h"

namespace {

TEST(FontMatches, ComparesOnlyWhatTheMaskSelects) {
  FontState pattern;
  uint32_t mask = 0;
  ASSERT_EQ(ParseFontSpec("Bold 12pt Red Arial", nullptr, nullptr, &pattern, &mask), 0);
  uint32_t boldRedArial12 = MakeFontId(1, 0x01, 2, 12);
  EXPECT_TRUE(FontMatches(&boldRedArial12, &pattern, mask));
  uint32_t italicToo = MakeFontId(1, 0x03, 2, 12);
  EXPECT_TRUE(FontMatches(&italicToo, &pattern, mask)) << "italic is not in the mask";
  uint32_t notBold = MakeFontId(1, 0x00, 2, 12);
  EXPECT_FALSE(FontMatches(&notBold, &pattern, mask));
  uint32_t otherSize = MakeFontId(1, 0x01, 2, 10);
  EXPECT_FALSE(FontMatches(&otherSize, &pattern, mask));
  uint32_t otherFace = MakeFontId(0, 0x01, 2, 12);
  EXPECT_FALSE(FontMatches(&otherFace, &pattern, mask));

  ASSERT_EQ(ParseFontSpec("-Underline", nullptr, nullptr, &pattern, &mask), 0);
  uint32_t underlined = MakeFontId(4, 0x04, 0, 9);
  EXPECT_FALSE(FontMatches(&underlined, &pattern, mask));
  EXPECT_TRUE(FontMatches(&notBold, &pattern, mask));
  EXPECT_TRUE(FontMatches(&underlined, nullptr, 0));
  EXPECT_FALSE(FontMatches(nullptr, &pattern, mask));
}

}  // namespace
