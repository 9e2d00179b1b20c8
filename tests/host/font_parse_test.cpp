#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/fonts.h"
#include "nn/nn.h"

namespace {

struct Parsed {
  uint16_t status = 0;
  FontState state;
  uint32_t mask = 0;
};
Parsed Parse(const char* spec, const char* spec2 = nullptr, void* item = nullptr,
             ColorNames names = ColorNames::Standard) {
  Parsed p;
  p.status = ParseFontSpec(spec, spec2, item, &p.state, &p.mask, names);
  return p;
}

TEST(FontSpec, CallerExamples) {
  Parsed p = Parse("BLUE +UNDERLINE");
  ASSERT_EQ(p.status, 0);
  EXPECT_EQ(p.mask, FONT_MASK_COLOR | FONT_UNDERLINE);
  EXPECT_EQ(p.state.colorIndex, 4);
  EXPECT_EQ(p.state.styles, FONT_UNDERLINE);

  p = Parse("-Underline Black");
  ASSERT_EQ(p.status, 0);
  EXPECT_EQ(p.mask, FONT_MASK_COLOR | FONT_UNDERLINE);
  EXPECT_EQ(p.state.styles, 0);
  EXPECT_EQ(p.state.colorIndex, 0);

  p = Parse("Bold Italic DarkBlue 12pt Arial");
  ASSERT_EQ(p.status, 0);
  EXPECT_EQ(p.mask, FONT_MASK_COLOR | FONT_MASK_SIZE | FONT_MASK_FACE | FONT_BOLD | FONT_ITALIC);
  EXPECT_EQ(p.state.styles, FONT_BOLD | FONT_ITALIC);
  EXPECT_EQ(p.state.colorIndex, 10);
  EXPECT_EQ(p.state.pointSize, 12);
  EXPECT_EQ(p.state.faceId, 1);
  EXPECT_STREQ(p.state.faceName, "Arial");
}

TEST(FontSpec, FaceNames) {
  Parsed p = Parse("Times New Roman 10 bold");
  ASSERT_EQ(p.status, 0);
  EXPECT_STREQ(p.state.faceName, "Times New Roman");
  EXPECT_EQ(p.state.faceId, 0);
  EXPECT_EQ(p.state.pointSize, 10);
  p = Parse("'Courier New' 9PT");
  EXPECT_EQ(p.state.faceId, 4);
  EXPECT_EQ(p.state.pointSize, 9);
  p = Parse("\"Bold\"");  // quoted: a face, not a style
  EXPECT_EQ(p.mask, FONT_MASK_FACE);
  EXPECT_STREQ(p.state.faceName, "Bold");
  p = Parse("Verdana");
  EXPECT_EQ(p.state.faceId, kFaceUnresolved);
  EXPECT_STREQ(p.state.faceName, "Verdana");
  p = Parse("'Gill Sans' Verdana");
  EXPECT_STREQ(p.state.faceName, "Verdana");
}

int ResolveFace(void* item, const char* name) {
  EXPECT_NE(item, nullptr);
  return std::strcmp(name, "Verdana") == 0 ? 9 : -1;
}

TEST(FontSpec, ResolverIsAskedOnlyWithAnItem) {
  const FontFaceResolver library = SetFontFaceResolver(ResolveFace);
  int item = 0;
  EXPECT_EQ(Parse("Verdana", nullptr, &item).state.faceId, 9);
  EXPECT_EQ(Parse("Tahoma", nullptr, &item).state.faceId, kFaceUnresolved);
  EXPECT_EQ(Parse("Verdana").state.faceId, kFaceUnresolved);
  SetFontFaceResolver(library);
}

TEST(FontSpec, PlainSecondSpecAndColourForms) {
  Parsed p = Parse("Bold Underline", "Plain +Italic");
  ASSERT_EQ(p.status, 0);
  EXPECT_EQ(p.mask, FONT_MASK_STYLES | FONT_MASK_HIGHLIGHT);
  EXPECT_EQ(p.state.styles, FONT_ITALIC);
  p = Parse("RGB( 1, 2, 3 ) 8");
  ASSERT_EQ(p.status, 0);
  EXPECT_EQ(p.state.color.red, 1);
  EXPECT_EQ(p.state.color.blue, 3);
  EXPECT_EQ(p.state.pointSize, 8);
  p = Parse("RGB 255 0 0 14pt");
  EXPECT_EQ(p.state.colorIndex, 2);
  EXPECT_EQ(p.state.pointSize, 14);
  p = Parse("#008000 green", nullptr, nullptr, ColorNames::Web);
  EXPECT_EQ(p.state.colorIndex, 9);
  EXPECT_EQ(Parse("").mask, 0u);
  EXPECT_EQ(ParseFontSpec(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(FontSpec, ErrorsLeaveOutputsAlone) {
  FontState state;
  state.pointSize = 33;
  uint32_t mask = 0xABCD;
  for (const char* bad : {"0pt", "256", "Bold 300pt", "'Unterminated face", "+Arial",
                          "-Red"}) {
    EXPECT_EQ(ParseFontSpec(bad, nullptr, nullptr, &state, &mask), NN_ERR_INVALID_ARG) << bad;
  }
  EXPECT_EQ(ParseFontSpec("Bold", "999", nullptr, &state, &mask), NN_ERR_INVALID_ARG);
  std::string longFace(200, 'F');
  EXPECT_EQ(ParseFontSpec(longFace.c_str(), nullptr, nullptr, &state, &mask),
            NN_ERR_INVALID_ARG);
  EXPECT_EQ(state.pointSize, 33);
  EXPECT_EQ(mask, 0xABCDu);
}

TEST(FontApply, ChangesOnlyTheMaskedParts) {
  uint32_t id = MakeFontId(4, 0x01 | 0x04, 3, 10);  // Courier, bold underline, green, 10pt
  Parsed p = Parse("-Bold +Italic Red 12pt Arial");
  uint32_t color = 123;
  uint16_t highlight = 7;
  FontApplyChanges(&id, &color, &highlight, &p.state, p.mask);
  EXPECT_EQ(FontIdFace(id), 1);
  EXPECT_EQ(FontIdAttrib(id), 0x02 | 0x04);
  EXPECT_EQ(FontIdColor(id), 2);
  EXPECT_EQ(FontIdSize(id), 12);
  EXPECT_EQ(color, 0x010000FFu);
  EXPECT_EQ(highlight, 0);

  id = MakeFontId(0, 0, 5, 9);
  p = Parse("Verdana +Strikeout");  // unresolved face: face byte kept
  FontApplyChanges(&id, &color, &highlight, &p.state, p.mask);
  EXPECT_EQ(id, MakeFontId(0, 0x08, 5, 9));
  EXPECT_EQ(color, 0u);  // no colour change

  p = Parse("Black");
  FontApplyChanges(&id, &color, nullptr, &p.state, p.mask);
  EXPECT_EQ(color, 0x01000000u);  // black, told apart from no change
  p.state.highlight = 6;
  FontApplyChanges(&id, nullptr, &highlight, &p.state, FONT_MASK_HIGHLIGHT);
  EXPECT_EQ(highlight, 6);
}

// 0x80 marks an effect; superscript's and subscript's bits then name it.
TEST(FontApply, EffectsShareOneField) {
  uint32_t id = MakeFontId(1, 0x01 | 0x10, 0, 10);
  Parsed p = Parse("+Shadow");
  FontApplyChanges(&id, nullptr, nullptr, &p.state, p.mask);
  EXPECT_EQ(FontIdAttrib(id), 0x81);
  p = Parse("+Extrude");
  FontApplyChanges(&id, nullptr, nullptr, &p.state, p.mask);
  EXPECT_EQ(FontIdAttrib(id), 0xA1);
  p = Parse("-Emboss");  // not the current effect: kept
  FontApplyChanges(&id, nullptr, nullptr, &p.state, p.mask);
  EXPECT_EQ(FontIdAttrib(id), 0xA1);
  p = Parse("+Subscript");  // a position ends the effect
  FontApplyChanges(&id, nullptr, nullptr, &p.state, p.mask);
  EXPECT_EQ(FontIdAttrib(id), 0x21);
  p = Parse("Plain");
  FontApplyChanges(&id, nullptr, nullptr, &p.state, p.mask);
  EXPECT_EQ(FontIdAttrib(id), 0x00);
  EXPECT_EQ(FontIdFace(id), 1);
}

void ExpectRoundTrip(const char* spec, ColorNames names = ColorNames::Standard) {
  Parsed first = Parse(spec, nullptr, nullptr, names);
  ASSERT_EQ(first.status, 0) << spec;
  char text[512];
  ASSERT_EQ(FontSpecToText(&first.state, first.mask, text, sizeof text, names), 0) << spec;
  Parsed second = Parse(text, nullptr, nullptr, names);
  ASSERT_EQ(second.status, 0) << text;
  EXPECT_EQ(second.mask, first.mask) << spec << " -> " << text;
  EXPECT_EQ(second.state.styles, first.state.styles) << text;
  EXPECT_EQ(second.state.pointSize, first.state.pointSize) << text;
  EXPECT_EQ(second.state.colorIndex, first.state.colorIndex) << text;
  EXPECT_EQ(second.state.color, first.state.color) << text;
  EXPECT_EQ(second.state.faceId, first.state.faceId) << text;
  EXPECT_STREQ(second.state.faceName, first.state.faceName) << text;
}

TEST(FontSpecWriter, RoundTrips) {
  ExpectRoundTrip("Bold Italic DarkBlue 12pt Arial");
  ExpectRoundTrip("-Underline Black");
  ExpectRoundTrip("BLUE +UNDERLINE");
  ExpectRoundTrip("Plain Bold Shadow 'Times New Roman'");
  ExpectRoundTrip("#FE0102 +Sub -Super 72 \"Bold\"");
  ExpectRoundTrip("RGB(51,102,153) Gill Sans MT");
  ExpectRoundTrip("Green", ColorNames::Web);
  ExpectRoundTrip("Green");
  ExpectRoundTrip("\"O'Neil Face\" +Emboss -Extrude");
  ExpectRoundTrip("");
}

TEST(FontSpecWriter, TextAndErrors) {
  Parsed p = Parse("Bold Italic DarkBlue 12pt Arial");
  char text[64];
  ASSERT_EQ(FontSpecToText(&p.state, p.mask, text, sizeof text), 0);
  EXPECT_STREQ(text, "+Bold +Italic DarkBlue 12pt 'Arial'");
  char tiny[8] = "junk";
  EXPECT_EQ(FontSpecToText(&p.state, p.mask, tiny, sizeof tiny), NN_ERR_MEMORY);
  EXPECT_STREQ(tiny, "");
  FontState both;
  std::strcpy(both.faceName, "a'b\"c");
  EXPECT_EQ(FontSpecToText(&both, FONT_MASK_FACE, text, sizeof text), NN_ERR_INVALID_ARG);
  EXPECT_EQ(FontSpecToText(nullptr, 0, text, sizeof text), NN_ERR_INVALID_ARG);
}

}  // namespace
