#include <gtest/gtest.h>

#include "host/color.h"

namespace {

struct Parsed {
  int status;
  uint16_t index;
  ColorRGB rgb;
};
Parsed Parse(const char* text, ColorNames names = ColorNames::Standard) {
  Parsed p{0, 999, {}};
  p.rgb.unused = 77;
  p.status = ParseColor(text, &p.index, &p.rgb, names);
  return p;
}
ColorRGB Rgb(uint8_t r, uint8_t g, uint8_t b) {
  ColorRGB c;
  c.red = r;
  c.green = g;
  c.blue = b;
  return c;
}

TEST(Palette, StandardColoursCubeAndGreys) {
  EXPECT_EQ(PaletteColor(0), Rgb(0, 0, 0));
  EXPECT_EQ(PaletteColor(1), Rgb(255, 255, 255));
  EXPECT_EQ(PaletteColor(3), Rgb(0, 255, 0));
  EXPECT_EQ(PaletteColor(9), Rgb(0, 128, 0));
  EXPECT_EQ(PaletteColor(12), Rgb(128, 128, 0));
  EXPECT_EQ(PaletteColor(15), Rgb(192, 192, 192));
  EXPECT_EQ(PaletteColor(16), Rgb(0, 0, 0));
  EXPECT_EQ(PaletteColor(16 + 36 * 1 + 6 * 2 + 3), Rgb(51, 102, 153));
  EXPECT_EQ(PaletteColor(231), Rgb(255, 255, 255));
  EXPECT_EQ(PaletteColor(232), Rgb(28, 28, 28));
  EXPECT_EQ(PaletteColor(239), Rgb(224, 224, 224));
  EXPECT_EQ(PaletteColor(240), Rgb(0, 0, 0));
  for (int i = 0; i < kPaletteSize; i++) EXPECT_EQ(PaletteRgbTable[i][3], 0) << i;
}

TEST(ParseColorTest, HexForms) {
  Parsed p = Parse("#FF0000");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.index, 2u);
  EXPECT_EQ(p.rgb, Rgb(255, 0, 0));
  p = Parse(" #0f0 ");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.index, 3u);
  EXPECT_EQ(p.rgb, Rgb(0, 255, 0));
  p = Parse("#336699");
  EXPECT_EQ(p.index, 16 + 36 * 1 + 6 * 2 + 3);
  p = Parse("#FE0102");  // not in the palette: nearest entry, exact colour kept
  EXPECT_EQ(p.index, 2u);
  EXPECT_EQ(p.rgb, Rgb(254, 1, 2));
  EXPECT_NE(Parse("#12345").status, 0);
  EXPECT_NE(Parse("#GGGGGG").status, 0);
  EXPECT_NE(Parse("#").status, 0);
  EXPECT_NE(Parse("#1234567").status, 0);
}

TEST(ParseColorTest, RgbForms) {
  EXPECT_EQ(Parse("RGB(0,0,128)").index, 10u);
  Parsed p = Parse("rgb( 10 , 20 , 30 )");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.rgb, Rgb(10, 20, 30));
  p = Parse("RGB 255 255 0");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.index, 6u);
  EXPECT_NE(Parse("RGB(256,0,0)").status, 0);
  EXPECT_NE(Parse("RGB(1,2)").status, 0);
  EXPECT_NE(Parse("RGB(1,2,3").status, 0);
  EXPECT_NE(Parse("RGB(1,2,3) x").status, 0);
  EXPECT_NE(Parse("RGB").status, 0);
  EXPECT_NE(Parse("RGBA(1,2,3,4)").status, 0);
}

TEST(ParseColorTest, NamesOfBothSetsAndTheGreenRule) {
  EXPECT_EQ(Parse("darkblue").index, 10u);
  EXPECT_EQ(Parse("BLUE").index, 4u);
  EXPECT_EQ(Parse("Fuchsia").index, 5u);
  EXPECT_EQ(Parse("Navy").index, 10u);
  EXPECT_EQ(Parse("silver").index, 15u);
  EXPECT_EQ(Parse("LightGrey").index, 15u);
  EXPECT_EQ(Parse("Green").index, 3u);
  EXPECT_EQ(Parse("Green", ColorNames::Web).index, 9u);
  EXPECT_EQ(Parse("Green", ColorNames::Web).rgb, Rgb(0, 128, 0));
  EXPECT_EQ(Parse("Lime", ColorNames::Web).index, 3u);
  EXPECT_NE(Parse("Greenish").status, 0);
  EXPECT_NE(Parse("").status, 0);
  EXPECT_NE(Parse("   ").status, 0);
  EXPECT_NE(ParseColor(nullptr, nullptr, nullptr), 0);
}

TEST(ParseColorTest, PaletteNumbersAndUntouchedOutputsOnFailure) {
  Parsed p = Parse("239");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.index, 239u);
  EXPECT_EQ(p.rgb, Rgb(224, 224, 224));
  p = Parse("240");
  EXPECT_NE(p.status, 0);
  EXPECT_EQ(p.index, 999u);
  EXPECT_EQ(p.rgb.unused, 77);
  EXPECT_NE(Parse("12a").status, 0);
  EXPECT_EQ(ParseColor("Red", nullptr, nullptr), 0);
}

TEST(ColorNameTest, NamesWriteBackUnderEitherSet) {
  for (uint16_t i = 0; i < 16; i++) {
    for (ColorNames set : {ColorNames::Standard, ColorNames::Web}) {
      const char* name = ColorName(i, set);
      ASSERT_NE(name, nullptr);
      uint16_t index = 0;
      ASSERT_EQ(ParseColor(name, &index, nullptr, set), 0) << name;
      EXPECT_EQ(index, i) << name;
    }
  }
  EXPECT_STREQ(ColorName(9, ColorNames::Web), "Green");
  EXPECT_STREQ(ColorName(9, ColorNames::Standard), "DarkGreen");
  EXPECT_EQ(ColorName(16, ColorNames::Standard), nullptr);
}

}  // namespace
