// Paragraph strings: each key, relative and percent forms, the second
// string's precedence, refusals, and the writer's round trip.
#include "richtext/item/parastring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "lsxsessi.h"
#include "richtext/item/cdlayout.h"
#include "rtitem.h"

namespace {

namespace H = kv::cd::host;

uint16_t W(const ParagraphSpec& p, uint32_t off) {
  uint16_t v;
  std::memcpy(&v, p.definition + off, 2);
  return v;
}

std::unique_ptr<ParagraphSpec> Parse(const char* spec, const char* spec2 = nullptr,
                                     NnStatus* status = nullptr) {
  auto p = std::make_unique<ParagraphSpec>();
  NnStatus st = ParseParagraphSpec(spec, spec2, p.get());
  if (status) *status = st;
  else
    EXPECT_EQ(st, NN_OK) << spec;
  return p;
}

TEST(ParastringParse, AbsoluteLengthsInEveryUnit) {
  auto p = Parse("LeftMargin=1.5in RightMargin=2.54cm FirstLineLeftMargin=720tw");
  EXPECT_EQ(W(*p, H::kPabLeftMargin), 2160);
  EXPECT_EQ(W(*p, H::kPabRightMargin), 1440);
  EXPECT_EQ(W(*p, H::kPabFirstLineLeftMargin), 720);
  EXPECT_EQ(p->given[kGivenLeftMargin], 1);
  EXPECT_EQ(p->given[kGivenRightMargin], 1);
  EXPECT_EQ(p->given[kGivenFirstLine], 1);
  EXPECT_EQ(p->given[kGivenLeftRelative], 0);
  p = Parse("leftmargin=1 RIGHTMARGIN=10mm firstlineleftmargin=36pt");
  EXPECT_EQ(W(*p, H::kPabLeftMargin), 1440);
  EXPECT_EQ(W(*p, H::kPabRightMargin), 567);
  EXPECT_EQ(W(*p, H::kPabFirstLineLeftMargin), 720);
}

TEST(ParastringParse, RelativeAndPercentForms) {
  auto p = Parse("LeftMargin=+0.25in RightMargin=-720tw");
  EXPECT_EQ(p->given[kGivenLeftRelative], 1);
  EXPECT_EQ(p->leftDelta, 360);
  EXPECT_EQ(p->given[kGivenLeftMargin], 0);
  EXPECT_EQ(p->given[kGivenRightRelative], 1);
  EXPECT_EQ(p->rightDelta, -720);

  p = Parse("LeftMargin=50% RightMargin=90% FirstLineLeftMargin=55%");
  EXPECT_EQ(p->given[kGivenLeftExtension], 1);
  EXPECT_EQ(p->given[kGivenRightExtension], 1);
  EXPECT_EQ(p->given[kGivenFirstLineExtension], 1);
  EXPECT_EQ(W(*p, kPabExtLeftPercent), 50);
  EXPECT_EQ(W(*p, kPabExtRightPercent), 90);
  EXPECT_EQ(W(*p, kPabExtFirstPercent), 55);
  EXPECT_EQ(W(*p, H::kPabFlags2) & (kPab2LeftPercent | kPab2RightPercent | kPab2FirstPercent),
            kPab2LeftPercent | kPab2RightPercent | kPab2FirstPercent);

  p = Parse("LeftMargin=+3% RightMargin=-5%");
  EXPECT_EQ(p->given[kGivenPercentRelative], 1);
  EXPECT_EQ(p->percentDelta, 3);
  EXPECT_EQ(p->rightPercentDelta, -5);

  // A relative first line shares the left delta; a different amount is refused.
  p = Parse("FirstLineLeftMargin=+0.5in LeftMargin=+0.5in");
  EXPECT_EQ(p->leftDelta, 720);
  NnStatus st;
  Parse("LeftMargin=+0.5in FirstLineLeftMargin=+1in", nullptr, &st);
  EXPECT_EQ(st, NN_ERR_INVALID_ARG);
}

TEST(ParastringParse, SpacingAlignmentTabsAndFlags) {
  auto p = Parse(
      "SpacingAbove=Double SpacingBelow=OneAndHalf LineSpacing=Single Alignment=Center "
      "Tabs='L0.5in R3in, C4in D5in' KeepWithNext=Yes KeepTogether='No' PageBreakBefore=true "
      "Direction=RTL");
  EXPECT_EQ(W(*p, H::kPabSpaceBefore), 2);
  EXPECT_EQ(W(*p, H::kPabSpaceAfter), 1);
  EXPECT_EQ(W(*p, H::kPabLineSpacing), 0);
  EXPECT_EQ(W(*p, H::kPabJustify), 3);
  for (uint32_t m : {kGivenSpaceBefore, kGivenSpaceAfter, kGivenLineSpacing, kGivenJustify,
                     kGivenTabs})
    EXPECT_EQ(p->given[m], 1) << m;
  EXPECT_EQ(W(*p, H::kPabTabCount), 4);
  EXPECT_EQ(W(*p, H::kPabTabs), 720);
  EXPECT_EQ(W(*p, H::kPabTabs + 2), 4320);
  uint32_t types;
  std::memcpy(&types, p->definition + H::kPabTabTypes, 4);
  EXPECT_EQ(types, 0u | 1u << 2 | 3u << 4 | 2u << 6);
  EXPECT_EQ(p->flagsSet, kPabKeepWithNext | kPabPageBreakBefore);
  EXPECT_EQ(p->flagsClear, kPabKeepTogether);
  EXPECT_EQ(p->flags2Set, kPab2RightToLeft);
  EXPECT_EQ(W(*p, H::kPabFlags) & 0x0107, kPabAlways | kPabKeepWithNext | kPabPageBreakBefore);

  p = Parse("Alignment=Full TabInterval=0.25in Hide='Read Web' Direction=ltr");
  EXPECT_EQ(W(*p, H::kPabJustify), 2);
  EXPECT_EQ(p->given[kGivenFirstTabOnly], 1);
  EXPECT_EQ(p->given[kGivenTabs], 0);
  EXPECT_EQ(W(*p, H::kPabTabs), 360);
  EXPECT_EQ(p->flagsSet, kPabHideRead);
  EXPECT_TRUE(p->flagsClear & kPabHidePrint);
  EXPECT_EQ(p->flags2Set, kPab2HideWeb);
  EXPECT_TRUE(p->flags2Clear & kPab2RightToLeft);
}

TEST(ParastringParse, ListsRemovalAndHideWhen) {
  struct Case {
    const char* name;
    uint16_t selector, flags, flags2;
  } cases[] = {{"Bullet", kListBullet, kPabBullet, 0},
               {"Circle", kListCircle, kPabBullet, 0x0800},
               {"Checkmark", kListChecked, kPabBullet, 0x0002},
               {"Number", kListNumber, kPabNumbered, 0},
               {"Alpha", kListAlpha, kPabNumbered, 0x1802},
               {"UpperRoman", kListUpperRoman, kPabNumbered, 0x0802}};
  for (const auto& c : cases) {
    std::string spec = std::string("List=") + c.name;
    auto p = Parse(spec.c_str());
    EXPECT_EQ(p->listStyle, c.selector) << c.name;
    EXPECT_EQ(p->given[kGivenListStyle], 1);
    EXPECT_EQ(W(*p, H::kPabFlags) & 0x1400, c.flags) << c.name;
    EXPECT_EQ(W(*p, H::kPabFlags2) & kPab2ListBits, c.flags2) << c.name;
  }
  auto p = Parse("List=None");
  EXPECT_EQ(p->listRemoval, kListAny);
  EXPECT_EQ(p->given[kGivenListRemoval], 1);
  p = Parse("RemoveList=Roman");
  EXPECT_EQ(p->listRemoval, kListRoman);

  p = Parse("HideWhen=\"@IsNewDoc & Form = 'A'\"");
  EXPECT_EQ(p->hasHideWhen, 1);
  EXPECT_STREQ(p->hideWhen, "@IsNewDoc & Form = 'A'");
  EXPECT_TRUE(p->flagsSet & kPabHideFormula);
  p = Parse("HideWhen=''");
  EXPECT_EQ(p->hasHideWhen, 1);
  EXPECT_EQ(p->hideWhenLength, 0);
  EXPECT_TRUE(p->flagsClear & kPabHideFormula);
}

TEST(ParastringParse, SecondSpecWinsAndUnknownKeysAreIgnored) {
  auto p = Parse("LeftMargin=+1in Alignment=Right Colour=Red", "LeftMargin=2in");
  EXPECT_EQ(p->given[kGivenLeftMargin], 1);
  EXPECT_EQ(p->given[kGivenLeftRelative], 0);
  EXPECT_EQ(W(*p, H::kPabLeftMargin), 2880);
  EXPECT_EQ(W(*p, H::kPabJustify), 1);
  p = Parse(nullptr, "Alignment=Left");
  EXPECT_EQ(p->given[kGivenJustify], 1);
  p = Parse("Nothing=here");
  for (int32_t g : p->given) EXPECT_EQ(g, 0);
}

TEST(ParastringParse, MalformedValueLeavesOutputsUntouched) {
  const char* bad[] = {"LeftMargin=abc",         "LeftMargin=1.5furlongs", "RightMargin=150%",
                       "LeftMargin=46in",        "Alignment=Sideways",     "LineSpacing=Triple",
                       "Tabs='X1in'",            "List=Stars",             "KeepWithNext=Maybe",
                       "Direction=Up",           "Hide='Read Sometimes'",  "RemoveList=Nope",
                       "Tabs='1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21'",
                       "TabInterval=-1in",       "LeftMargin=+"};
  for (const char* spec : bad) {
    ParagraphSpec p;
    p.given[0] = 77;
    p.leftDelta = 5;
    EXPECT_EQ(ParseParagraphSpec(spec, nullptr, &p), NN_ERR_INVALID_ARG) << spec;
    EXPECT_EQ(p.given[0], 77) << spec;
    EXPECT_EQ(p.leftDelta, 5) << spec;
  }
  // The second string is checked as well.
  ParagraphSpec p;
  EXPECT_EQ(ParseParagraphSpec("Alignment=Left", "Alignment=Nowhere", &p), NN_ERR_INVALID_ARG);
}

TEST(ParastringParse, ItemMemberParsesIntoOutputs) {
  LSXLsiSession session;
  TorvoRTItem item(&session);
  auto p = std::make_unique<ParagraphSpec>();
  EXPECT_EQ(item.ParseParagraphString("Alignment=Center", "LeftMargin=1in", p.get()), NN_OK);
  EXPECT_EQ(W(*p, H::kPabJustify), 3);
  EXPECT_EQ(W(*p, H::kPabLeftMargin), 1440);
  EXPECT_EQ(item.ParseParagraphString("Alignment=Center", nullptr, nullptr), NN_ERR_INVALID_ARG);
}

// A definition with every property the writer knows set to an unusual value.
void MakeDefinition(uint8_t* d, bool percent) {
  std::memset(d, 0, kPabFullLength);
  auto put = [d](uint32_t off, uint16_t v) { std::memcpy(d + off, &v, 2); };
  put(0, 0xFF82);
  put(2, percent ? 84 : 72);
  put(H::kPabJustify, 1);
  put(H::kPabLineSpacing, 2);
  put(H::kPabSpaceBefore, 1);
  put(H::kPabSpaceAfter, 2);
  put(H::kPabLeftMargin, 1001);    // not a round number of inches
  put(H::kPabRightMargin, 7);
  put(H::kPabFirstLineLeftMargin, 65535);
  put(H::kPabTabCount, 3);
  put(H::kPabTabs, 100);
  put(H::kPabTabs + 2, 2000);
  put(H::kPabTabs + 4, 13001);
  uint32_t types = 3u | 2u << 2 | 1u << 4;
  std::memcpy(d + H::kPabTabTypes, &types, 4);
  put(H::kPabFlags, kPabAlways | kPabKeepWithNext | kPabPageBreakBefore | kPabNumbered |
                        kPabHidePrint | kPabHideClient);
  uint16_t f2 = 0x1002 | kPab2RightToLeft | kPab2HideWeb;
  if (percent) {
    f2 |= kPab2LeftPercent | kPab2RightPercent;
    put(kPabExtLeftPercent, 12);
    put(kPabExtRightPercent, 80);
  }
  put(H::kPabFlags2, f2);
}

TEST(ParastringParse, WriterOutputReadsBackToTheSameDefinition) {
  for (bool percent : {false, true}) {
    uint8_t def[kPabFullLength];
    MakeDefinition(def, percent);
    std::string text = FormatParagraphSpec(def, percent ? 84 : 72);
    SCOPED_TRACE(text);
    auto p = Parse(text.c_str());
    for (uint32_t off : {H::kPabJustify, H::kPabLineSpacing, H::kPabSpaceBefore,
                         H::kPabSpaceAfter, H::kPabFirstLineLeftMargin, H::kPabTabCount})
      EXPECT_EQ(W(*p, off), [&] { uint16_t v; std::memcpy(&v, def + off, 2); return v; }()) << off;
    EXPECT_EQ(std::memcmp(p->definition + H::kPabTabs, def + H::kPabTabs, 40), 0);
    EXPECT_EQ(std::memcmp(p->definition + H::kPabTabTypes, def + H::kPabTabTypes, 4), 0);
    uint16_t flags, flags2;
    std::memcpy(&flags, def + H::kPabFlags, 2);
    std::memcpy(&flags2, def + H::kPabFlags2, 2);
    EXPECT_EQ(W(*p, H::kPabFlags), flags);
    EXPECT_EQ(p->listStyle, kListRoman);
    if (percent) {
      EXPECT_EQ(W(*p, kPabExtLeftPercent), 12);
      EXPECT_EQ(W(*p, kPabExtRightPercent), 80);
      EXPECT_EQ(W(*p, H::kPabFlags2), flags2);
    } else {
      EXPECT_EQ(W(*p, H::kPabLeftMargin), 1001);
      EXPECT_EQ(W(*p, H::kPabRightMargin), 7);
      EXPECT_EQ(W(*p, H::kPabFlags2), flags2);
    }
    // Writing the parsed source again gives the same text.
    EXPECT_EQ(FormatParagraphSpec(p->definition, kPabFullLength), text);
  }
  EXPECT_EQ(FormatParagraphSpec(nullptr, 92), "");
  uint8_t shortDef[40] = {};
  EXPECT_EQ(FormatParagraphSpec(shortDef, sizeof shortDef), "");
}

}  // namespace
