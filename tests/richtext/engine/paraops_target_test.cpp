// Paragraph steps where an element of the target begins: the hide-when
// formula and the paragraph change of a paragraph the target starts inside,
// the pass-through test and the engine-built mark.
#include <string>

#include "engine_fixture.h"
#include "richtext/item/cdlayout.h"

namespace enginetest {
namespace {

uint16_t Word(const Rec& r, size_t at) { return uint16_t(r.bytes[at] | r.bytes[at + 1] << 8); }
std::string TextOf(const Rec& r) { return std::string(r.bytes.begin() + 8, r.bytes.end()); }

// A stored paragraph definition (82 bytes, with the margin words).
Bytes Pab(uint16_t id, uint16_t left = 1440) {
  Bytes b;
  Put16(b, 0xFF82);
  Put16(b, 82);
  Put16(b, id);
  b.resize(82, 0);
  b[14] = uint8_t(left);
  b[15] = uint8_t(left >> 8);
  b[63] = 0x01;
  return b;
}
Bytes Passthru(bool start) {
  Bytes b;
  Put16(b, start ? 0xFFCC : 0xFFCD);
  Put16(b, 8);
  Put32(b, 0);
  return b;
}

// Canonical offset of the definition's flags word.
constexpr size_t kFlags = 62;

class ParaOps : public EngineDoc {
 protected:
  // A paragraph "one two" split in two text records, then a second paragraph;
  // the target is the second text record (inside the first paragraph).
  void MakeSplitParagraph() {
    Make({Pab(1), Para(), PabRef(1), Text("one "), Text("two"), Para(), PabRef(1), Text("three")},
         Chain({Node(REL_CONTAINS, TEXT, {2})}));
    chunk->targetType = TEXT;
  }
  std::vector<uint16_t> Sigs(const std::vector<Rec>& recs) {
    std::vector<uint16_t> out;
    for (const Rec& r : recs) out.push_back(r.sig);
    return out;
  }
};

TEST_F(ParaOps, HideFormulaInsideAParagraphGivesItsRestADefinitionOfItsOwn) {
  MakeSplitParagraph();
  const std::string formula = "FORMULA!";  // stands for compiled bytes
  ASSERT_EQ(chunk->RunFrame(25, 2333, uint32_t(formula.size()), 0, 0, formula.c_str(), nullptr,
                            nullptr, nullptr),
            0);
  auto recs = Split(Stored());
  EXPECT_EQ(Sigs(recs), (std::vector<uint16_t>{0xFF82, 129, 131, 0xFF85, 0xFF82, 0xFFBB, 131,
                                               0xFF85, 0xFF85, 129, 131, 0xFF85}));
  const uint16_t newId = Word(recs[4], 4);
  EXPECT_NE(newId, 1);
  EXPECT_TRUE(Word(recs[4], kFlags) & 0x0800);         // hidden by formula
  EXPECT_EQ(Word(recs[4], 14), 1440);                   // otherwise the old definition
  EXPECT_EQ(Word(recs[5], 4), newId);                   // the formula names its definition
  EXPECT_EQ(std::string(recs[5].bytes.begin() + 14, recs[5].bytes.begin() + 14 + 8), formula);
  EXPECT_EQ(Word(recs[6], 2), newId);
  EXPECT_EQ(TextOf(recs[7]), "");
  EXPECT_EQ(TextOf(recs[8]), "two");
  // The paragraphs outside keep theirs.
  EXPECT_EQ(Word(recs[0], 4), 1);
  EXPECT_FALSE(Word(recs[0], kFlags) & 0x0800);
  EXPECT_EQ(Word(recs[2], 2), 1);
  EXPECT_EQ(Word(recs[10], 2), 1);
}

TEST_F(ParaOps, EmptyHideFormulaAddsNothingInsideAParagraph) {
  MakeSplitParagraph();
  const Bytes before = Stored();
  ASSERT_EQ(chunk->RunFrame(25, 2333, 0, 0, 0, "", nullptr, nullptr, nullptr), 0);
  auto recs = Split(Stored());
  for (const Rec& r : recs) EXPECT_NE(r.sig, 0xFFBB);
  EXPECT_EQ(Stored(), before);
}

TEST_F(ParaOps, HideFormulaFromAParagraphStartLeavesTheWorkToItsReference) {
  Make({Pab(1), Para(), PabRef(1), Text("one"), Para(), PabRef(1), Text("two")},
       Chain({Node(REL_CONTAINS, PARAGRAPH, {2})}));
  chunk->targetType = PARAGRAPH;
  ASSERT_EQ(chunk->RunFrame(25, 2333, 3, 0, 0, "abc", nullptr, nullptr, nullptr), 0);
  auto recs = Split(Stored());
  size_t hides = 0, definitions = 0;
  for (const Rec& r : recs) {
    hides += r.sig == 0xFFBB;
    definitions += r.sig == 0xFF82;
  }
  EXPECT_EQ(hides, 1u);        // one formula record, not one from each block
  EXPECT_EQ(definitions, 2u);  // the old one and the target paragraph's
}

TEST_F(ParaOps, ChangeParagraphInsideAParagraphKeepsTheOldDefinitionOutside) {
  MakeSplitParagraph();
  session->globals->ObsoletedParagraphCount = 0;
  ASSERT_EQ(chunk->ChangeParagraph("LeftMargin=2in", nullptr, 0), 0);
  auto recs = Split(Stored());
  EXPECT_EQ(Sigs(recs), (std::vector<uint16_t>{0xFF82, 129, 131, 0xFF85, 0xFF82, 131, 0xFF85,
                                               129, 131, 0xFF85}));
  const uint16_t newId = Word(recs[4], 4);
  EXPECT_NE(newId, 1);
  EXPECT_EQ(Word(recs[4], 14), 2880);
  EXPECT_EQ(Word(recs[5], 2), newId);
  EXPECT_EQ(TextOf(recs[6]), "two");
  EXPECT_EQ(Word(recs[0], 14), 1440);
  EXPECT_EQ(Word(recs[8], 2), 1);
  // The replaced definition is kept among the obsoleted ones.
  EXPECT_EQ(session->globals->ObsoletedParagraphCount, 1);
}

TEST_F(ParaOps, ChangeParagraphOverEverythingAddsNoDefinitionAtTheStart) {
  Make({Pab(1), Para(), PabRef(1), Text("one")});
  ASSERT_EQ(chunk->ChangeParagraph("LeftMargin=2in", nullptr, 0), 0);
  auto recs = Split(Stored());
  size_t definitions = 0;
  for (const Rec& r : recs) definitions += r.sig == 0xFF82;
  EXPECT_EQ(definitions, 1u);
}

TEST_F(ParaOps, PassthruTestLooksForAStartBeforeAnEnd) {
  Make({Para(), Text("a"), Passthru(true), Text("<b>"), Passthru(false), Text("z")});
  ASSERT_EQ(chunk->RunFrame(47, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(session->ResultText, "TRUE");
}

// A target that starts after a region's end and holds no start is not in one.
TEST_F(ParaOps, PassthruTestAnswersFalseAfterAnEndOrWithoutMarkers) {
  Make({Passthru(true), Text("<i>"), Passthru(false), Para(), Text("a"), Passthru(true),
        Text("b")},
       Chain({Node(REL_CONTAINS, TEXT, {2})}));
  ASSERT_EQ(chunk->RunFrame(47, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(session->ResultText, "FALSE");
}

TEST_F(ParaOps, PassthruTestWithoutMarkersIsFalse) {
  Make({Para(), Text("a")});
  ASSERT_EQ(chunk->RunFrame(47, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(session->ResultText, "FALSE");
}

TEST_F(ParaOps, ClearingTheEngineMarkKeepsTheRecords) {
  Make({Para(), PabRef(1), Text("a"), Text("b")}, Chain({Node(REL_CONTAINS, TEXT, {2})}));
  ASSERT_EQ(item->LoadRecords(), 0);
  const Bytes before = Stored();
  ASSERT_EQ(chunk->RunFrame(54, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Stored(), before);
}

}  // namespace
}  // namespace enginetest
