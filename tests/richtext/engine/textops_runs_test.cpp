// Text-run and paragraph operations through the engine entry: font changes,
// highlights, font tests and reads, paragraph changes and reads, and the
// expansion of short paragraph definitions.
#include "engine_fixture.h"
#include "richtext/engine/textops.h"
#include "richtext/item/cdlayout.h"
#include "support/testutil.h"

namespace enginetest {
namespace {

using TextOps = EngineDoc;

uint32_t FontOf(const Rec& r, size_t offset = 4) {
  return uint32_t(r.bytes[offset] | r.bytes[offset + 1] << 8 | r.bytes[offset + 2] << 16 |
                  r.bytes[offset + 3] << 24);
}
std::string TextOf(const Rec& r) { return std::string(r.bytes.begin() + 8, r.bytes.end()); }
uint16_t Word(const Rec& r, size_t offset) { return uint16_t(r.bytes[offset] | r.bytes[offset + 1] << 8); }

// A paragraph definition in its stored form (82 bytes: with the margin words).
Bytes Pab(uint16_t id, uint16_t left = 1440, uint16_t length = 82) {
  Bytes b;
  Put16(b, 0xFF82);
  Put16(b, length);
  Put16(b, id);
  b.resize(length, 0);
  b[14] = uint8_t(left);
  b[15] = uint8_t(left >> 8);
  b[18] = uint8_t(left);
  b[19] = uint8_t(left >> 8);
  b[62] = 0x00;
  b[63] = 0x01;  // flags 0x0100
  return b;
}

Bytes Button(const std::string& label, uint32_t font) {
  Bytes b;
  Put16(b, 0xFFAB);
  Put16(b, uint16_t(16 + label.size()));
  Put16(b, 0);
  Put16(b, 100);  // width
  Put16(b, 30);   // height
  Put16(b, 1);    // lines
  Put32(b, font);
  b.insert(b.end(), label.begin(), label.end());
  return b;
}

constexpr uint32_t kPlain = 0x0A000001u;  // Arial 10pt

TEST_F(TextOps, ChangeFontRebuildsEveryRunOfTheTarget) {
  Make({Para(), Text("one"), Text("two", 0x0C000004u), Para(), Text("three")},
       Chain({Node(REL_CONTAINS, PARAGRAPH, {1})}));
  ASSERT_EQ(Run(2363, 0, 0, "+Bold"), 0);
  auto recs = Split(Stored());
  ASSERT_EQ(recs.size(), 5u);
  EXPECT_EQ(FontOf(recs[1]), kPlain | 0x0100);
  EXPECT_EQ(FontOf(recs[2]), 0x0C000004u | 0x0100);
  EXPECT_EQ(TextOf(recs[2]), "two");
  EXPECT_EQ(FontOf(recs[4]), kPlain);  // the next paragraph is not the target
}

TEST_F(TextOps, ChangeFontWithAColourWrapsTheRun) {
  Make({Text("red")});
  ASSERT_EQ(Run(2363, 0, 0, "#FF0000"), 0);
  auto recs = Split(Stored());
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs[0].sig, 221);
  EXPECT_EQ(recs[1].sig, 0xFF85);
  EXPECT_EQ(TextOf(recs[1]), "red");
  EXPECT_EQ(recs[2].sig, 210);
  EXPECT_EQ(recs[2].bytes[4], 0xFF);
  EXPECT_EQ(recs[2].bytes[5], 0);
  EXPECT_EQ(recs[3].sig, 222);
}

TEST_F(TextOps, ChangeFontOfAWrappedRunChangesItsColourRecord) {
  Make({Begin(0xFF85), Text("x"), Bytes{210, 8, 0, 0, 1, 2, 3, 0}, End(0xFF85)});
  ASSERT_EQ(Run(2363, 0, 0, "#0000FF"), 0);
  auto recs = Split(Stored());
  ASSERT_EQ(recs.size(), 4u);  // no second wrapping
  EXPECT_EQ(recs[2].sig, 210);
  EXPECT_EQ(recs[2].bytes[4], 0);
  EXPECT_EQ(recs[2].bytes[6], 0xFF);
}

TEST_F(TextOps, ChangeFontLeavesTitlesAndLabelsAloneWithSubCodeZero) {
  Make({SectionBar("Title"), Text("body"), Button("Go", kPlain)});
  Bytes before = Stored();
  ASSERT_EQ(Run(2363, 0, 0, "+Italic"), 0);
  auto recs = Split(Stored());
  EXPECT_EQ(FontOf(recs[0], 8), kPlain);
  EXPECT_EQ(FontOf(recs[2], 12), kPlain);
  EXPECT_EQ(FontOf(recs[1]), kPlain | 0x0200);
}

TEST_F(TextOps, ChangeFontWithSubCodeChangesTitlesAndLabels) {
  Make({SectionBar("Title"), Button("Go", kPlain)});
  ASSERT_EQ(Run(2363, 1, 0, "+Italic"), 0);
  auto recs = Split(Stored());
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(FontOf(recs[0], 8), kPlain | 0x0200);
  // The button's font follows its width, height and line count.
  EXPECT_EQ(FontOf(recs[1], 12), kPlain | 0x0200);
  EXPECT_EQ(Word(recs[1], 8), 30);
}

TEST_F(TextOps, TitleInAnotherFontThanTheMatchPatternPassesUnchanged) {
  Make({SectionBar("Title")});
  Bytes before = Stored();
  session->globals->optionString = "MatchFont='Courier New'";
  EXPECT_EQ(Run(2363, 1, 0, "+Bold"), 0);
  session->globals->optionString = nullptr;
  EXPECT_EQ(Stored(), before);
}

TEST_F(TextOps, TitleWithAColourChangeIsWrapped) {
  Make({SectionBar("Title")});
  ASSERT_EQ(Run(2363, 1, 0, "#00FF00"), 0);
  auto recs = Split(Stored());
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs[0].sig, 221);
  EXPECT_EQ(Word(recs[0], 4), 0xFFAC);
  EXPECT_EQ(recs[1].sig, 0xFFAC);
  EXPECT_EQ(recs[2].sig, 210);
  EXPECT_EQ(recs[2].bytes[5], 0xFF);
  EXPECT_EQ(recs[3].sig, 222);
}

TEST_F(TextOps, HighlightTextSplitsTheRunAroundEachMatch) {
  Make({Text("one two one")});
  ASSERT_EQ(Run(2373, 0, 0, nullptr, "one", 3), 0);
  auto recs = Split(Stored());
  // [BEGIN one 210 END] " two " [BEGIN one 210 END]
  std::vector<std::string> texts;
  int begins = 0;
  for (const Rec& r : recs) {
    if (r.sig == 0xFF85) texts.push_back(TextOf(r));
    begins += r.sig == 221;
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"one", " two ", "one"}));
  EXPECT_EQ(begins, 2);
  // The text between keeps its font; the matches are highlighted (bold).
  for (const Rec& r : recs) {
    if (r.sig == 0xFF85) {
      EXPECT_EQ(FontOf(r) & 0x0100, TextOf(r) == "one" ? 0x0100u : 0u) << TextOf(r);
    }
  }
}

TEST_F(TextOps, HighlightTextWithoutMatchLeavesTheItem) {
  Make({Text("nothing here")});
  Bytes before = Stored();
  ASSERT_EQ(Run(2373, 0, 0, nullptr, "absent", 6), 0);
  EXPECT_EQ(Stored(), before);
}

TEST_F(TextOps, FontInUseFindsAMatchingRun) {
  Make({Text("a"), Text("b", 0x0C000104u)});
  std::strcpy(session->PropertyText, "0");
  Bytes before = Stored();
  ASSERT_EQ(Run(2368, 0, 0, "Courier New 12pt +Bold"), 0);
  EXPECT_STREQ(session->PropertyText, "1");
  EXPECT_EQ(Stored(), before);  // read only
  std::strcpy(session->PropertyText, "0");
  ASSERT_EQ(Run(2368, 0, 0, "Courier New 14pt"), 0);
  EXPECT_STREQ(session->PropertyText, "0");
}

TEST_F(TextOps, FontGetWritesTheFirstRunsFont) {
  Make({Text("a", 0x0C000101u), Text("b")});
  session->LinkText[0] = 0;
  ASSERT_EQ(Run(kStepFontGet, 2328), 0);  // PointSize
  EXPECT_STREQ(session->LinkText, "12pt");
  ASSERT_EQ(Run(kStepFontGet, 2333), 0);  // TextAttributes
  EXPECT_STREQ(session->LinkText, "Bold");
}

// A run opened by a text effect (0xFFC3, a font of its own) reads its own
// font, which set back changes nothing; a change reaches both records.
TEST_F(TextOps, ARunAfterATextEffectReadsAndSetsItsOwnFont) {
  const Bytes effect = {0xC3, 0xFF, 8, 0, 0x01, 0xA1, 0xC0, 0x12};  // Bold Extruded COLOR192 18pt
  Make({Pab(1), Para(), PabRef(1), effect, Text("About", 0x12080101u), Para(), Text("next")},
       Chain({Node(REL_CONTAINS, TEXT, {1})}));
  ASSERT_EQ(Run(kStepFontGet, 2317), 0);
  const std::string font = session->LinkText;
  EXPECT_EQ(font.substr(0, 16), "Bold DarkRed 18p") << font;
  const Bytes before = Stored();
  ASSERT_EQ(Run(2363, 0, 0, font.c_str()), 0);
  EXPECT_EQ(Stored(), before);
  ASSERT_EQ(Run(2363, 0, 0, "+Italic"), 0);
  EXPECT_EQ(FontOf(Split(Stored())[3]), 0x12C0A301u);
  EXPECT_EQ(FontOf(Split(Stored())[4]), 0x12080301u);
}

TEST_F(TextOps, ParagraphGetFindsTheDefinitionOfTheReference) {
  Make({Pab(3, 2880), Para(), PabRef(3), Text("x")}, Chain({Node(REL_CONTAINS, PARAGRAPH, {1})}));
  session->LinkText[0] = 0;
  ASSERT_EQ(Run(kStepParagraphGet), 0);
  EXPECT_NE(std::strstr(session->LinkText, "LeftMargin=2"), nullptr) << session->LinkText;
}

TEST_F(TextOps, ExpandPabDefsGrowsShortDefinitionsOnly) {
  Bytes full = Pab(2, 1440, 90);  // the largest stored form
  full[68] = 0x00;
  full[69] = 0x80;
  full[82] = 1;
  full[86] = 4;
  Make({Pab(1, 720, 82), full, Para(), PabRef(1), Text("x")});
  ASSERT_EQ(Run(kStepExpandPabDefs), 0);
  auto recs = Split(Stored());
  ASSERT_GE(recs.size(), 2u);
  EXPECT_EQ(recs[0].bytes.size(), 90u);
  EXPECT_EQ(Word(recs[0], 14), 720);
  EXPECT_EQ(Word(recs[0], 68) & 0x8000, 0x8000);
  EXPECT_EQ(FontOf(recs[0], 82), 1u);
  EXPECT_EQ(FontOf(recs[0], 86), 4u);
  EXPECT_EQ(recs[1].bytes, full);  // byte for byte
}

TEST_F(TextOps, ChangeParagraphGivesTheTargetParagraphANewDefinition) {
  Make({Pab(1, 1440), Para(), PabRef(1), Text("one"), Para(), PabRef(1), Text("two"), Para(),
        PabRef(1), Text("three")},
       Chain({Node(REL_CONTAINS, PARAGRAPH, {3})}));  // the definition opens paragraph 1
  chunk->targetType = PARAGRAPH;
  ASSERT_EQ(Run(2364, 0, 0, "LeftMargin=2in"), 0);
  auto recs = Split(Stored());
  std::vector<uint16_t> refs;
  uint16_t newId = 0;
  for (size_t i = 0; i < recs.size(); ++i) {
    if (recs[i].sig == 131) refs.push_back(Word(recs[i], 2));
    if (recs[i].sig == 0xFF82 && Word(recs[i], 4) != 1) {
      newId = Word(recs[i], 4);
      EXPECT_EQ(Word(recs[i], 14), 2880);
      EXPECT_EQ(recs[i + 1].sig, 131);  // right before the paragraph's reference
    }
  }
  ASSERT_NE(newId, 0);
  EXPECT_EQ(refs, (std::vector<uint16_t>{1, newId, 1}));
  // The old definition is kept for the other paragraphs.
  EXPECT_EQ(Word(recs[0], 4), 1);
  EXPECT_EQ(Word(recs[0], 14), 1440);
}

TEST_F(TextOps, ChangeParagraphWithABadParagraphStringChangesNothing) {
  Make({Pab(1), Para(), PabRef(1), Text("one")}, Chain({Node(REL_CONTAINS, PARAGRAPH, {1})}));
  Bytes before = Stored();
  EXPECT_NE(Run(2364, 0, 0, "LeftMargin=lots"), 0);
  EXPECT_EQ(Stored(), before);
}

}  // namespace
}  // namespace enginetest

namespace enginetest {
namespace {

// A graphic in its stored form: header 153, image header 125 of the kind, one
// image segment with the bytes.
std::vector<Bytes> Graphic(uint16_t kind, const std::string& bytes) {
  Bytes g;
  Put16(g, 0x0099);
  Put32(g, 28);
  g.resize(28, 0);
  Bytes h;
  Put16(h, 0x007D);
  Put32(h, 28);
  Put16(h, kind);
  Put16(h, 1);
  Put16(h, 1);
  Put32(h, uint32_t(bytes.size()));
  Put32(h, 1);
  h.resize(28, 0);
  Bytes s;
  Put16(s, 0x007C);
  Put32(s, uint32_t(10 + bytes.size()));
  Put16(s, uint16_t(bytes.size()));
  Put16(s, uint16_t(bytes.size()));
  s.insert(s.end(), bytes.begin(), bytes.end());
  return {g, h, s};
}

using GraphicOps = EngineDoc;

TEST_F(GraphicOps, ExportGraphicAppendsTheKindToANameWithoutExtension) {
  std::vector<Bytes> recs{Para(), Text("x")};
  for (Bytes& b : Graphic(2, "JPEGDATA")) recs.push_back(b);
  Make(recs);
  const std::string dir = kvtest::MakeTempDir();
  const std::string base = dir + "/picture";
  ASSERT_EQ(Run(2367, 0, 0, base.c_str()), 0);
  EXPECT_EQ(kvtest::ReadFile(base + "jpg"), "JPEGDATA");
  EXPECT_STREQ(session->PropertyText, "");
  const std::string png = dir + "/Named.PNG";
  ASSERT_EQ(Run(2367, 0, 0, png.c_str()), 0);
  EXPECT_EQ(kvtest::ReadFile(png), "JPEGDATA");
  kvtest::RemoveTree(dir);
}

TEST_F(GraphicOps, ExportGraphicThatCannotWriteKeepsTheName) {
  std::vector<Bytes> recs{Para()};
  for (Bytes& b : Graphic(1, "GIF8")) recs.push_back(b);
  Make(recs);
  EXPECT_NE(Run(2367, 0, 0, "/nonexistent-dir/x.gif"), 0);
  EXPECT_STREQ(session->PropertyText, "/nonexistent-dir/x.gif");
}

}  // namespace
}  // namespace enginetest
