// The property get and set steps and the query operations, run through the
// engine over stored items.
#include <cstring>
#include <string>

#include "engine_fixture.h"
#include "richtext/engine/properties.h"

namespace enginetest {
namespace {

using Steps = EngineDoc;

Bytes Word(uint16_t sig, const Bytes& payload) {
  Bytes b;
  Put16(b, sig);
  Put16(b, uint16_t(4 + payload.size()));
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}
Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Button(const std::string& label) {
  Bytes p(12, 0);
  return Word(0xFFAB, Cat(p, Str(label)));
}
Bytes Pab(uint16_t id, uint16_t left, uint16_t right) {
  Bytes p;
  for (uint16_t v : {id, uint16_t(0), uint16_t(0), uint16_t(0), uint16_t(0), left, right,
                     uint16_t(1440), uint16_t(0)})
    Put16(p, v);
  p.resize(66, 0);
  return Word(0xFF82, p);
}
Bytes CellWith(uint8_t row, uint8_t col, uint8_t border, uint8_t flags, uint16_t word,
               uint16_t left = 0, uint16_t right = 0) {
  Bytes b{164, 18, row, col};
  Put16(b, left);
  Put16(b, right);
  Put16(b, 0);
  b.push_back(border);
  b.push_back(flags);
  Put16(b, word);
  b.resize(18, 0);
  return b;
}
Bytes Label(const std::string& text) {
  Bytes p(136, 0);
  std::memcpy(p.data(), text.data(), text.size() < 127 ? text.size() : 127);
  return Word(0xFFE3, p);
}

std::string Result(LSXLsiSession* s) { return std::string(s->ResultText, s->ResultTextLength); }

TEST_F(Steps, SectionTitleGetAndSetKeepTheLongHeader) {
  // Flag 0x04000000: the header carries a colour word and is 14 bytes long.
  Bytes bar;
  Put16(bar, 0xFFAC);
  Put16(bar, 14 + 4);
  Put32(bar, 0x04000000);
  Put32(bar, 0x0A000001u);
  Put16(bar, 0x0005);
  Bytes title = Str("Old");
  title.push_back(0);
  bar = Cat(bar, title);
  bar[2] = uint8_t(bar.size());
  Make({bar, Text("x")});
  session->PropertyText[0] = 0;
  ASSERT_EQ(Run(7, 2331), 0);
  EXPECT_STREQ(session->PropertyText, "Old");

  ASSERT_EQ(Run(8, 2331, 5, "Intro"), 0);
  Bytes stored = Stored();
  // Header of 14 bytes kept, "Intro", NUL; 20 bytes, already even.
  ASSERT_GE(stored.size(), 20u);
  EXPECT_EQ(stored[2], 20);
  EXPECT_EQ(stored[12], 0x05);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&stored[14]), 5), "Intro");
  EXPECT_EQ(stored[19], 0);
  session->PropertyText[0] = 0;
  ASSERT_EQ(Run(7, 2331), 0);
  EXPECT_STREQ(session->PropertyText, "Intro");
}

TEST_F(Steps, ButtonLabelOfOddLengthIsPaddedAndKeepsTheButtonSettings) {
  Bytes b = Button("Go");
  b[6] = 0x40;  // width
  Make({b});
  ASSERT_EQ(Run(23, 2303, 3, "Run"), 0);
  Bytes stored = Stored();
  ASSERT_EQ(stored.size(), 20u);
  EXPECT_EQ(stored[2], 20);  // 16 + 3, rounded up
  EXPECT_EQ(stored[6], 0x40);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&stored[16]), 3), "Run");
  EXPECT_EQ(stored[19], 0);
  session->ClearResultText();
  ASSERT_EQ(Run(22, 2303), 0);
  EXPECT_EQ(Result(session), "Run");
}

TEST_F(Steps, AnchorSetRewritesTheNameAndItsLength) {
  Bytes a;
  Put16(a, 0xFFCB);
  Put16(a, 0);
  Put16(a, 3);
  Put32(a, 0);
  a = Cat(a, Str("top"));
  a.push_back(0);
  a[2] = uint8_t(a.size());
  Make({a, Text("t")});
  session->ClearResultText();
  ASSERT_EQ(Run(16, 2302), 0);
  EXPECT_EQ(Result(session), "top");
  ASSERT_EQ(Run(17, 2302, 6, "bottom"), 0);
  session->ClearResultText();
  ASSERT_EQ(Run(16, 2302), 0);
  EXPECT_EQ(Result(session), "bottom");
}

// 1 marks the target as one pass-through region, 0 clears it; a target that
// reads as asked already keeps its records.
TEST_F(Steps, PassthruMarkingSetsOneRegionOrNone) {
  Bytes begin = Word(0xFFCC, Bytes(4, 0)), end = Word(0xFFCD, Bytes(4, 0));
  const Bytes regions = Join({begin, Text("a"), end, begin, Text("b"), end});
  Make({begin, Text("a"), end, begin, Text("b"), end});
  ASSERT_EQ(Run(48, 1), 0);
  EXPECT_EQ(Stored(), regions);
  ASSERT_EQ(Run(48, 0), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), Text("b")}));
  ASSERT_EQ(Run(48, 1), 0);
  EXPECT_EQ(Stored(), Join({begin, Text("a"), Text("b"), end}));
}

TEST_F(Steps, StatisticsCountBytesCharactersAndWords) {
  Make({Text("a-b  c"), Text(""), Para(), Text("word")});
  auto stat = [&](uint32_t which) {
    session->globals->FirstMatchRecord = 0;
    EXPECT_EQ(Run(77, which), 0);
    return session->globals->FirstMatchRecord;
  };
  EXPECT_EQ(stat(1), 10u);
  EXPECT_EQ(stat(2), 10u);
  EXPECT_EQ(stat(3), 4u);  // a, b, c, word: each record starts a word anew
}

TEST_F(Steps, MarginsReadInInches) {
  Make({Pab(1, 720, 1440), Para(), PabRef(1), Text("x"), Pab(2, 360, 0)});
  session->LinkText[0] = 0;
  ASSERT_EQ(Run(36, 2604), 0);
  EXPECT_STREQ(session->LinkText, "1.000");
  ASSERT_EQ(Run(36, 2605), 0);
  EXPECT_STREQ(session->LinkText, "0.250");
}

TEST_F(Steps, RowLabelSetStoresAtMost127Characters) {
  Make({TableBegin(), Cell(0, 0), Label("old"), Text("a"), Cell(0, 1), Text("b"), TableEnd()});
  std::string longText(200, 'x');
  ASSERT_EQ(Run(42, 2608, uint32_t(longText.size()), longText.c_str()), 0);
  session->PropertyText[0] = 0;
  ASSERT_EQ(Run(41, 2608), 0);
  EXPECT_EQ(std::string(session->PropertyText), std::string(127, 'x'));
}

TEST_F(Steps, RowLabelSetComposesALabelForARowWithout) {
  Make({TableBegin(), Cell(0, 0), Text("a"), Cell(0, 1), Text("b"), TableEnd()});
  ASSERT_EQ(Run(42, 2608, 3, "Row"), 0);
  session->PropertyText[0] = 0;
  ASSERT_EQ(Run(41, 2608), 0);
  EXPECT_STREQ(session->PropertyText, "Row");
}

TEST_F(Steps, HotspotBorderReadsAndClearsOnlyItsFlag) {
  Make({Hotspot(0xFFA9, 22, 0x0008 | 0x0200, "pop"), Text("t"), HotspotEnd()});
  session->PropertyText[0] = 0;
  ASSERT_EQ(Run(18, 2320), 0);
  EXPECT_STREQ(session->PropertyText, "FALSE");
  ASSERT_EQ(Run(19, 2320, 1), 0);
  Bytes stored = Stored();
  uint32_t flags = stored[6] | stored[7] << 8 | stored[8] << 16 | uint32_t(stored[9]) << 24;
  EXPECT_EQ(flags, 0x0200u);
  ASSERT_EQ(Run(18, 2320), 0);
  EXPECT_STREQ(session->PropertyText, "TRUE");
}

TEST_F(Steps, PopupTextGetDropsTrailingNulsAndSetReplacesTheData) {
  Make({Hotspot(0xFFA9, 1, 0, std::string("note\0\0", 6)), Text("t"), HotspotEnd()});
  session->ClearResultText();
  ASSERT_EQ(Run(5), 0);
  EXPECT_EQ(Result(session), "note");
  ASSERT_EQ(Run(6, 0, 7, "changed"), 0);
  session->ClearResultText();
  ASSERT_EQ(Run(5), 0);
  EXPECT_EQ(Result(session), "changed");
}

TEST_F(Steps, FileNamesOfAFileHotspot) {
  Make({Hotspot(0xFFA9, 4, 0, std::string("ATT1\0report.pdf", 15)), Text("t"), HotspotEnd()});
  session->PropertyText[0] = 0;
  ASSERT_EQ(Run(12, 2621), 0);
  EXPECT_STREQ(session->PropertyText, "report.pdf");
  ASSERT_EQ(Run(12, 2337), 0);
  EXPECT_STREQ(session->PropertyText, "ATT1");
}

TEST_F(Steps, OriginalFileNameOfAHotspotWithOneName) {
  Make({Hotspot(0xFFA9, 10, 0, std::string("only.txt", 8)), HotspotEnd()});
  session->PropertyText[0] = 0;
  ASSERT_EQ(Run(12, 2621), 0);
  EXPECT_STREQ(session->PropertyText, "only.txt");
}

TEST_F(Steps, LinkIdentifiersAndStringsOfADocumentLink) {
  Bytes link = Doclink();
  const uint32_t words[10] = {0x11111111, 0x22222222, 0xA, 0xB, 0xC, 0xD, 1, 2, 3, 4};
  for (int i = 0; i < 10; ++i) std::memcpy(&link[4 + 4 * i], &words[i], 4);
  link = Cat(link, Bytes{'c', 'o', 'm', 0, 's', 'r', 'v', 0, 'a', 'n', 'c', 0});
  link[2] = uint8_t(link.size());
  Make({link});
  auto get = [&](uint32_t code) {
    session->LinkText[0] = 0;
    EXPECT_EQ(Run(15, code), 0);
    return std::string(session->LinkText);
  };
  EXPECT_EQ(get(2323), "2222222211111111");
  EXPECT_EQ(get(2324), "0000000B0000000A0000000D0000000C");
  EXPECT_EQ(get(2322), "0000000200000001000000040000000" "3");
  EXPECT_EQ(get(2340), "com");
  EXPECT_EQ(get(2339), "srv");
  EXPECT_EQ(get(2338), "anc");
}

TEST_F(Steps, LinkOfAnUnresolvableIndexIsEmpty) {
  Bytes link = Word(0xFF91, Bytes{5, 0, 'x', 0});
  Make({link});
  session->LinkText[0] = 'q';
  session->LinkText[1] = 0;
  ASSERT_EQ(Run(15, 2322), 0);
  EXPECT_STREQ(session->LinkText, "q");  // nothing written; the chunk clears it first
}

TEST_F(Steps, TableFitToWindowReadAndSet) {
  Make({TableBegin(), Cell(0, 0), Text("a"), TableEnd()});
  session->PropertyText[0] = 0;
  ASSERT_EQ(Run(33, 2347), 0);
  EXPECT_STREQ(session->PropertyText, "FALSE");
  ASSERT_EQ(Run(34, 2347, 1), 0);
  ASSERT_EQ(Run(33, 2347), 0);
  EXPECT_STREQ(session->PropertyText, "TRUE");
}

TEST_F(Steps, SortKeysCollectOneEntryPerRow) {
  Make({TableBegin(), Cell(0, 0), Text("b"), Cell(0, 1), Text("x"), Cell(1, 0), Text("a"),
        Cell(1, 1), Text("y"), TableEnd()});
  ASSERT_EQ(Run(11, 0, 1, nullptr, "TEXT", 1), 0);
  ASSERT_EQ(chunk->internal->rowKeyCount, 2);
  const kv::SortKeyEntry* e = chunk->internal->rowKeys;
  EXPECT_EQ(std::string(e[0].keyText, e[0].keyLength), "b");
  EXPECT_EQ(std::string(e[1].keyText, e[1].keyLength), "a");
  EXPECT_EQ(e[0].firstRecord, 2u);
  EXPECT_EQ(e[0].lastRecord, 5u);
  EXPECT_EQ(e[1].firstRecord, 6u);
  EXPECT_EQ(e[1].lastRecord, 9u);
  EXPECT_EQ(e[0].reserved, 1);  // row 0 is a title row when asked
  EXPECT_EQ(e[1].reserved, 0);
}

TEST_F(Steps, ActionFormulaStepsCarryCompiledBytes) {
  Make({Hotspot(0xFFA9, 3, 0, "old"), Text("b"), HotspotEnd()});
  const char formula[] = "\x01\x02\x03\x04\x05";
  ASSERT_EQ(Run(21, 2301, 5, formula), 0);
  session->ClearResultText();
  ASSERT_EQ(Run(20, 2301), 0);
  EXPECT_EQ(Result(session), std::string(formula, 5));
}

TEST_F(Steps, HideFormulaOnEverythingMarksDefinitionsAndLinksReferences) {
  Make({Pab(1, 1440, 0), Pab(2, 1440, 0), Para(), PabRef(1), Text("a"), Para(), PabRef(2),
        Text("b")});
  const char formula[] = "\x09\x08\x07\x06";
  ASSERT_EQ(Run(25, 2333, 4, formula), 0);
  session->ClearResultText();
  ASSERT_EQ(Run(24, 2333), 0);
  EXPECT_EQ(Result(session), std::string(formula, 4));
  // The second paragraph refers to the formula of the first definition.
  Bytes stored = Stored();
  bool link = false;
  for (size_t i = 0; i + 6 <= stored.size(); ++i)
    if (stored[i] == 188 && stored[i + 1] == 6 && stored[i + 2] == 1 && stored[i + 4] == 2)
      link = true;
  EXPECT_TRUE(link);
  // The definitions carry the hide-by-formula bit in their first flags word;
  // the extended flags word (where 0x0800 is a circle bullet) is untouched.
  for (size_t i = 0; i + 70 <= stored.size(); ++i) {
    if (stored[i] != 0x82 || stored[i + 1] != 0xFF) continue;
    EXPECT_TRUE(stored[i + 62 + 1] & 0x08) << "flags word at " << i;
    EXPECT_FALSE(stored[i + 68 + 1] & 0x08) << "extended flags at " << i;
  }
  // Removing it drops the hide record and the links.
  ASSERT_EQ(Run(25, 2333, 0, ""), 0);
  session->ClearResultText();
  ASSERT_EQ(Run(24, 2333), 0);
  EXPECT_EQ(session->ResultTextLength, 0);
}

// ---- queries ------------------------------------------------------------------------------

TEST_F(Steps, CellBorderReadsTheWordOnlyWithItsFlag) {
  Make({TableBegin(), CellWith(0, 0, 0xE4, 0x02, 0x4321), Text("a"), TableEnd()});
  session->ClearResultText();
  ASSERT_EQ(Run(2407, 0), 0);
  EXPECT_EQ(Result(session), "1,2,3,4");
  ASSERT_EQ(Run(2407, 4), 0);
  EXPECT_EQ(Result(session), "4");
  session->SetResultText("kept", 4);
  ASSERT_EQ(Run(2407, 5), 0);
  EXPECT_EQ(Result(session), "kept");
}

TEST_F(Steps, CellBorderWithoutTheFlagUsesTwoBitsPerSide) {
  Make({TableBegin(), CellWith(0, 0, 0xE4, 0x00, 0x4321), Text("a"), TableEnd()});
  session->ClearResultText();
  ASSERT_EQ(Run(2407, 0), 0);
  EXPECT_EQ(Result(session), "0,1,2,3");
}

TEST_F(Steps, HtmlValueTakesTheOtherStringForUnknownAttributes) {
  // ID "i", class "c", style "", title "", other "o", name "n".
  Bytes rec;
  Put16(rec, 0xFF7A);
  Put16(rec, 0);
  for (uint16_t v : {1, 1, 0, 0, 1, 1}) Put16(rec, v);
  rec.resize(26, 0);
  rec = Cat(rec, Str("icon"));
  rec[2] = uint8_t(rec.size());
  Make({TableBegin(), rec, Cell(0, 0), Text("a"), TableEnd()});
  auto value = [&](uint32_t sub) {
    session->ClearResultText();
    EXPECT_EQ(Run(2421, sub), 0);
    return Result(session);
  };
  EXPECT_EQ(value(0), "o");
  EXPECT_EQ(value(6), "o");
  EXPECT_EQ(value(1), "n");
  EXPECT_EQ(value(2), "i");
  EXPECT_EQ(value(3), "c");
  session->SetResultText("kept", 4);
  EXPECT_EQ(Run(2421, 4), 0);
  EXPECT_EQ(session->ResultTextLength, 0);  // an empty string: length 0
}

TEST_F(Steps, TablePropertiesListTheTableKeysOnce) {
  Bytes begin{163, 14};
  begin.resize(14, 0);
  begin[12] = 0x80;
  begin[13] = 0x6F;  // every colour-style flag
  Make({begin, Cell(0, 0), Text("a"), TableEnd()});
  session->ClearResultText();
  ASSERT_EQ(Run(2414, 29), 0);
  EXPECT_EQ(Result(session),
            "TableWidth=FIXED RowDisplay=BASIC TableColorStyle=Solid CellBorderColor=RGB0,0,0 ");
  session->ClearResultText();
  ASSERT_EQ(Run(2414, 4), 0);
  EXPECT_EQ(Result(session), "CellBorderStyle=SOLID ");
}

TEST_F(Steps, FieldNameOfAFieldTarget) {
  Bytes field;
  Put16(field, 0xFF8A);
  Put16(field, 0);
  field.resize(36, 0);
  field[22] = 2;  // default-value formula of 2 bytes
  field[30] = 5;  // name of 5 bytes
  field = Cat(field, Bytes{0xAA, 0xBB});
  field = Cat(field, Str("Title"));
  field[2] = uint8_t(field.size());
  Make({field, Text("x")});
  session->ClearResultText();
  ASSERT_EQ(Run(2436, 0, FIELD), 0);
  EXPECT_EQ(Result(session), "Fieldname=Title");
}

}  // namespace
}  // namespace enginetest
