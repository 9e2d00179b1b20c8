// The property text writers on host-layout records built here.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/color.h"
#include "host/fonts.h"
#include "lsxsessi.h"
#include "richtext/engine/propwriters.h"
#include "richtext/engine/tablefields.h"
#include "rtitem.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t off, uint16_t v) { std::memcpy(&b[off], &v, 2); }
void Put32(Bytes& b, size_t off, uint32_t v) { std::memcpy(&b[off], &v, 4); }

struct Out {
  char buffer[4096] = {};
  PropText text{buffer, sizeof buffer};
  uint8_t block[kWrittenFlagCount] = {};
  WrittenFlags flags{block};
  std::string str() const { return std::string(buffer, text.length); }
};

Bytes IdName(const std::vector<std::string>& six) {
  Bytes b(26, 0);
  Put16(b, 0, 0xFF7A);
  std::string all;
  for (int i = 0; i < 6; ++i) {
    Put16(b, 4 + 2 * i, uint16_t(six[i].size()));
    all += six[i];
  }
  b.insert(b.end(), all.begin(), all.end());
  Put16(b, 2, uint16_t(b.size()));
  return b;
}

Bytes Caption(const std::string& text) {
  Bytes b(32, 0);
  Put16(b, 0, 0xFF76);
  Put16(b, 4, uint16_t(text.size()));
  b.insert(b.end(), text.begin(), text.end());
  Put16(b, 2, uint16_t(b.size()));
  return b;
}

TEST(PropWriters, HtmlKeysListOnlyNonEmptyValuesButAnAskedKeyAlways) {
  Bytes rec = IdName({"", "grid", "", "", "", ""});
  Out all;
  WriteHtmlAttrProps(rec.data(), uint32_t(rec.size()), &all.text, "Table", 29, 19, 29, &all.flags);
  EXPECT_EQ(all.str(), "TableHTMLClass='grid' ");
  // A second record of the same listing writes nothing.
  WriteHtmlAttrProps(rec.data(), uint32_t(rec.size()), &all.text, "Table", 29, 19, 29, &all.flags);
  EXPECT_EQ(all.str(), "TableHTMLClass='grid' ");
  Out one;
  WriteHtmlAttrProps(rec.data(), uint32_t(rec.size()), &one.text, "Table", 19, 19, 29, &one.flags);
  EXPECT_EQ(one.str(), "TableHTMLId='' ");
}

TEST(PropWriters, HtmlKeysOfARecordWhoseLengthsOverrunIt) {
  Bytes rec = IdName({"abc", "", "", "", "", ""});
  Put16(rec, 4, 5000);  // the ID claims more than the record holds
  Out out;
  WriteHtmlAttrProps(rec.data(), uint32_t(rec.size()), &out.text, "Graphic", 17, 2, 17,
                     &out.flags);
  EXPECT_EQ(out.str(), "GraphicHTMLId='abc' ");
}

TEST(PropWriters, CaptionDelimiterAvoidsTheCharactersOfTheText) {
  Out a, b, c;
  Bytes plain = Caption("A cat");
  Bytes quotes = Caption("it's \"here\"");
  Bytes every = Caption("' \" |");
  WriteCaptionProp(plain.data(), uint32_t(plain.size()), &a.text, 17, &a.flags);
  WriteCaptionProp(quotes.data(), uint32_t(quotes.size()), &b.text, 1, &b.flags);
  WriteCaptionProp(every.data(), uint32_t(every.size()), &c.text, 1, &c.flags);
  EXPECT_EQ(a.str(), "Caption='A cat' ");
  EXPECT_EQ(b.str(), "Caption=|it's \"here\"| ");
  EXPECT_EQ(c.str(), "Caption=~' \" |~ ");
  // Asked for another key, the caption is not written.
  Out d;
  WriteCaptionProp(plain.data(), uint32_t(plain.size()), &d.text, 0, &d.flags);
  EXPECT_EQ(d.str(), "");
}

TEST(PropWriters, TableBeginStylesAndBorders) {
  Bytes begin(14, 0);
  begin[0] = 163;
  begin[1] = 14;
  Put16(begin, 12, 0x0400 | 0x0100 | 0x0008 | 0x0001);
  Out out;
  WriteTableRecordFields(163, begin.data(), 14, &out.text, 29, &out.flags, nullptr);
  EXPECT_EQ(out.str(),
            "TableWidth=FIT_WITH_MARGINS RowDisplay=BASIC TableColorStyle=Alternating_Columns "
            "CellBorderStyle=RIDGE CellBorderColor=RGB0,0,0 ");
  Put16(begin, 12, 0x6F80);
  Out solid;
  WriteTableRecordFields(163, begin.data(), 14, &solid.text, 6, &solid.flags, nullptr);
  EXPECT_EQ(solid.str(), "TableColorStyle=Solid ");
}

TEST(PropWriters, PreTableViewerTypesColoursAndEffects) {
  Bytes pre(48, 0);
  Put16(pre, 0, 0xFFFB);
  Put16(pre, 2, 48);
  Put32(pre, 4, 0x1 | 0x40 | 0x4 | 0x200);
  pre[20] = 4;                  // tabbed
  Put32(pre, 28, 0x0000FF);     // red: palette 2
  Put32(pre, 32, 0x030201);     // no palette entry
  Out out;
  WriteTableRecordFields(0xFFFB, pre.data(), 48, &out.text, 29, &out.flags, nullptr);
  EXPECT_EQ(out.str(),
            "TableWidth=FIT_TO_WINDOW RowDisplay=TABBED TabSide=BOTTOM TableBodyColor=Red "
            "TableColor=RGB1,2,3 BorderEffects=DROP_SHADOW ");
  pre[20] = 2;
  Out anim;
  WriteTableRecordFields(0xFFFB, pre.data(), 48, &anim.text, 1, &anim.flags, nullptr);
  EXPECT_EQ(anim.str(), "RowDisplay=ANIMATED Transition=CONTINUALLY ");
  EXPECT_TRUE(anim.flags.Test(3));  // Transition was written with it
  Out border;
  WriteTableRecordFields(0xFFFB, pre.data(), 48, &border.text, 5, &border.flags, nullptr);
  EXPECT_EQ(border.str(), "CellBorderColor=RGB0,0,0 ");
}

TEST(PropWriters, TabKeys) {
  Bytes tab(48, 0);
  Put16(tab, 0, 0xFF5C);
  Put16(tab, 2, 48);
  Put16(tab, 14, 720);
  Out all;
  WriteTableRecordFields(0xFF5C, tab.data(), 48, &all.text, 29, &all.flags, nullptr);
  EXPECT_EQ(all.str(), "TabIndent=\"0.50\" ");
  Out equal;
  WriteTableRecordFields(0xFF5C, tab.data(), 48, &equal.text, 26, &equal.flags, nullptr);
  EXPECT_EQ(equal.str(), "TabsEqual=No ");
}

TEST(PropWriters, HorizontalRuleDefaults) {
  uint8_t rule[16] = {};
  ASSERT_EQ(WriteImageProps(0xFFC9, rule, sizeof rule, "", 1), 0);
  Out all;
  WriteImageFlagProps(rule, 16, nullptr, 0, &all.text, 12, &all.flags);
  EXPECT_EQ(all.str(), "Width='100%' Height='0.0' ");
  Out fit;
  WriteImageFlagProps(rule, 16, nullptr, 0, &fit.text, 0, &fit.flags);
  EXPECT_EQ(fit.str(), "FitToWindow='Yes' ");
  Out color;
  WriteImageFlagProps(rule, 16, nullptr, 0, &color.text, 8, &color.flags);
  EXPECT_EQ(color.str(), "Color='none' ");
}

TEST(PropWriters, HorizontalRuleOptionsAndColourRecord) {
  uint8_t rule[16] = {};
  ASSERT_EQ(WriteImageProps(0xFFC9, rule, sizeof rule,
                            "FitToWindow=No No3DShadow=Yes Color=Blue GradientColor=Red", 1),
            0);
  Out all;
  WriteImageFlagProps(rule, 16, nullptr, 0, &all.text, 12, &all.flags);
  EXPECT_EQ(all.str(),
            "FitToWindow='No' No3DShadow='Yes' Color='Blue' GradientColor='Red' Width='0.1' "
            "Height='0.0' ");
  uint8_t color[14] = {};
  ASSERT_EQ(WriteImageProps(210, color, sizeof color, "Color=system", 1), 0);
  Out sys;
  WriteImageFlagProps(rule, 16, color, color[1], &sys.text, 8, &sys.flags);
  EXPECT_EQ(sys.str(), "Color='system' ");
  EXPECT_NE(WriteImageProps(0xFFC9, rule, 8, "", 1), 0);  // too small a record
}

TEST(PropWriters, ColourNamesInEachStyle) {
  auto name = [](uint32_t index, uint32_t style, uint16_t naming = 1) {
    char b[64];
    PropText t(b, sizeof b);
    WriteColorName(index, &t, style, naming);
    return std::string(b);
  };
  const uint8_t* e = PaletteRgbTable[17];
  char hex[16], rgb[32];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", e[0], e[1], e[2]);
  std::snprintf(rgb, sizeof rgb, "rgb(%d,%d,%d)", e[0], e[1], e[2]);
  EXPECT_EQ(name(17, 0), hex);
  EXPECT_EQ(name(17, 1), rgb);
  EXPECT_EQ(name(3, 0), "Green");
  EXPECT_EQ(name(3, 0, 0), "Lime");
  EXPECT_EQ(name(15, 1), "rgb(192,192,192)");
  EXPECT_EQ(name(15, 2), "#C0C0C0");
  EXPECT_EQ(name(240, 0), "#000000");
  EXPECT_EQ(name(300, 1), "rgb(0,0,0)");
}

TEST(PropWriters, LengthsByUnit) {
  auto length = [](uint16_t flags, double v, uint8_t unit) {
    char b[64];
    PropText t(b, sizeof b);
    WriteLengthProp(flags, v, unit, &t);
    return std::string(b);
  };
  EXPECT_EQ(length(0, 2.5, 2), "2.5px");  // a fraction in full: it sets back as it was
  EXPECT_EQ(length(0, 2, 2), "2px");
  EXPECT_EQ(length(1, 0, 0), "auto");
  EXPECT_EQ(length(0, 50, 3), "50%");
  EXPECT_EQ(length(0, 1440, 1), "1.000000in");
  EXPECT_EQ(length(0, 1e300, 4), "2147483647em");  // out of range: cut, never undefined
  EXPECT_EQ(length(0, 5, 9), "");
}

TEST(PropWriters, LayerPosition) {
  Bytes pos(120, 0);
  pos[0] = 107;
  pos[1] = 120;
  pos[2] = 2;
  Put32(pos, 4, 7);
  double top = 10.9, off = -3.7;
  Put16(pos, 8, 0);
  std::memcpy(&pos[16], &top, 8);
  pos[24] = 2;
  Put16(pos, 32, 1);
  std::memcpy(&pos[104], &off, 8);
  Out out;
  WriteLayerPositionProps(pos.data(), 120, &out.text, 17, &out.flags);
  // Fractions in full: the listing sets back as it was.
  EXPECT_EQ(out.str(),
            "ZIndex=7 Scheme=relative BrowserLeftOffset=-3.7 BrowserRightOffset=0 Top='10.9px' "
            "Left='auto' ");
}

TEST(PropWriters, ImageMapShapesAndNames) {
  Bytes area(32, 0);
  Put16(area, 0, 0xFFF5);
  Put16(area, 2, 32);
  Put16(area, 8, 2);
  Put16(area, 10, 4);
  Out a;
  WriteShapeProps(area.data(), 32, &a.text, 8, &a.flags);
  EXPECT_EQ(a.str(), "Shape=circle TabIndex=4 ");
  Bytes map(36, 0);
  Put16(map, 0, 0xFFF4);
  Put16(map, 8, 4);
  map.insert(map.end(), {'m', 'a', 'p', '1'});
  Put16(map, 2, uint16_t(map.size()));
  Out m;
  WriteMapNameProp(map.data(), uint32_t(map.size()), &m.text, 1, &m.flags);
  EXPECT_EQ(m.str(), "MapName='map1' ");
  Out cut;  // a name length past the record reads only what is there
  WriteMapNameProp(map.data(), 30, &cut.text, 0, &cut.flags);
  EXPECT_EQ(cut.str(), "MapName='' ");
}

TEST(PropWriters, FontWordsOfAnItemFont) {
  LSXLsiSession session;
  TorvoRTItem item(&session);
  int face = item.FindFaceByName("Arial", true);
  ASSERT_GT(face, 0);
  uint32_t font = uint32_t(face) | 0x03u << 8 | 10u << 16 | 12u << 24;
  char b[256];
  PropText t(b, sizeof b);
  WriteFontStyleProps(font, nullptr, 0, &item, &t, 2317);
  EXPECT_STREQ(b, "Bold Italic DarkBlue 12pt Arial");
  WriteFontStyleProps(font & 0xFFFF00FFu, nullptr, 0, &item, &t, 2333);
  EXPECT_STREQ(b, "Plain");
  // An RGB colour record that is not the palette's colour, with a gradient.
  uint8_t color[14] = {210, 14, 0x11, 0x80, 1, 2, 3, 0, 1, 0, 4, 5, 6, 0};
  WriteFontStyleProps(font, color, 14, &item, &t, 2318);
  EXPECT_STREQ(b, "RGB1,2,3 GRADIENT4,5,6");
  WriteFontStyleProps(font, color, 14, &item, &t, 2333);
  EXPECT_STREQ(b, "Bold Italic HighlightYellow");
  // Effects use the position bits.
  WriteFontStyleProps(font | 0x90u << 8, nullptr, 0, &item, &t, 2333);
  EXPECT_STREQ(b, "Bold Italic Embossed");
}

// Every font the writer gives reads back through the font parser as the font
// it came from (the parts a run shows left to change are none), and a word
// shaped like a font word that does not read is refused, never a face.
TEST(PropWriters, FontParserReadsEveryWordTheWriterGives) {
  LSXLsiSession session;
  TorvoRTItem item(&session);
  const int face = item.FindFaceByName("Helvetica Neue", true);
  ASSERT_GT(face, 0);
  const uint8_t attributes[] = {0, 0x01, 0x0F, 0x10, 0x21, 0x80, 0x93, 0xA4};
  const uint8_t colours[] = {0, 3, 15, 16, 77, 239};
  const std::vector<std::vector<uint8_t>> records = {
      {},
      {210, 8, 0x01, 0x00, 127, 96, 79, 0},                  // an RGB colour
      {210, 8, 0x01, 0xE0, 0, 0, 0, 0},                      // black with three highlights
      {210, 8, 0x00, 0x80, 9, 9, 9, 0},                      // a highlight, no RGB
      {210, 14, 0x11, 0x40, 1, 2, 3, 0, 1, 0, 4, 5, 6, 0}};  // RGB, gradient, pink
  size_t fonts = 0;
  for (uint8_t a : attributes)
    for (uint8_t c : colours)
      for (const auto& rec : records) {
        const uint32_t font = uint32_t(face) | uint32_t(a) << 8 | uint32_t(c) << 16 | 11u << 24;
        char b[256];
        PropText t(b, sizeof b);
        WriteFontStyleProps(font, rec.data(), uint32_t(rec.size()), &item, &t, 2317);
        FontState parsed, shown;
        uint32_t mask = 0;
        ASSERT_EQ(ParseFontSpec(b, nullptr, &item, &parsed, &mask), 0) << b;
        RunFontState(font, rec.data(), uint32_t(rec.size()), &item, &shown);
        EXPECT_EQ(FontChangeMask(shown, parsed, mask), 0u) << b;
        EXPECT_STREQ(parsed.faceName, "Helvetica Neue") << b;
        ++fonts;
      }
  EXPECT_EQ(fonts, 240u);
  FontState state;
  uint32_t mask = 0;
  for (const char* bad : {"Bold RGB127,96 10pt Arial", "COLOR240", "12px Arial", "HighlightGreen",
                          "GRADIENT1,2,3", "#12345 Arial", "RGB127,96,79 Arial +Bolder"})
    EXPECT_EQ(ParseFontSpec(bad, nullptr, &item, &state, &mask), NN_ERR_INVALID_ARG) << bad;
}

TEST(PropWriters, OutputNeverOverflows) {
  char small[8];
  PropText t(small, sizeof small);
  t.Format("%s", "a long text that does not fit");
  EXPECT_TRUE(t.overflow);
  EXPECT_EQ(t.length, 7u);
  EXPECT_STREQ(small, "a long ");
  std::string big(2000, 'z');
  char mid[1000];
  PropText u(mid, sizeof mid);
  u.Format("%s", big.c_str());
  EXPECT_EQ(u.length, 999u);
  EXPECT_EQ(mid[999], 0);
}

}  // namespace
