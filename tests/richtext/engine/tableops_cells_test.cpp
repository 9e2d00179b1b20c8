// Table and cell operations through the engine entry: borders, colours,
// merging and unmerging, table options and HTML attribute values, checked on
// the stored item.
#include "engine_fixture.h"
#include "richtext/engine/tableops.h"
#include "richtext/item/cdlayout.h"

namespace enginetest {
namespace {

using TableOps = EngineDoc;

std::vector<uint16_t> Sigs(const std::vector<Rec>& recs) {
  std::vector<uint16_t> s;
  for (const Rec& r : recs) s.push_back(r.sig);
  return s;
}

const Rec* NthCell(const std::vector<Rec>& recs, int n) {
  for (const Rec& r : recs)
    if ((r.sig == 164 || r.sig == 208) && n-- == 0) return &r;
  return nullptr;
}

Bytes CellWith(uint8_t row, uint8_t col, uint8_t border, uint8_t flags, uint16_t word,
               uint8_t rowSpan = 0, uint8_t colSpan = 0) {
  Bytes b = Cell(row, col);
  b[4] = 100;  // left edge
  b[6] = 200;  // right edge
  b[10] = border;
  b[11] = flags;
  b[12] = uint8_t(word);
  b[13] = uint8_t(word >> 8);
  b[14] = rowSpan;
  b[15] = colSpan;
  return b;
}

Bytes RowCycle(uint32_t ms) {
  Bytes b{225, 14};
  Put32(b, ms);
  b.resize(14, 0);
  return b;
}

Bytes PreTable() {
  Bytes b;
  Put16(b, 0xFFFB);
  Put16(b, 44);
  b.resize(44, 0);
  return b;
}

// A 2 x 2 table, each cell holding a paragraph in definition 1 and a text.
std::vector<Bytes> Grid(std::vector<Bytes> cells) {
  std::vector<Bytes> r{Para(), PabRef(1), Text("before"), TableBegin()};
  const char* texts[] = {"a", "b", "c", "d"};
  for (size_t i = 0; i < cells.size(); ++i) {
    r.push_back(cells[i]);
    r.push_back(Para());
    r.push_back(PabRef(1));
    r.push_back(Text(texts[i % 4]));
  }
  r.push_back(TableEnd());
  r.push_back(Para());
  r.push_back(Text("after"));
  return r;
}

std::vector<Bytes> PlainGrid() {
  return Grid({Cell(0, 0), Cell(0, 1), Cell(1, 0), Cell(1, 1)});
}

TEST_F(TableOps, BordersFollowTheFourCharacters) {
  Make(Grid({CellWith(0, 0, 0xFF, 0x02, 0x3333), Cell(0, 1), Cell(1, 0), Cell(1, 1)}),
       Chain({Node(REL_CONTAINS, TABLE, {1})}));
  ASSERT_EQ(Run(2393, 0, 0, "12N0"), 0);
  auto recs = Split(Stored());
  const Rec* c = NthCell(recs, 0);
  ASSERT_NE(c, nullptr);
  // Word: top 1 (bits 8-11), bottom 2 (12-15), left and right 0.
  EXPECT_EQ(c->bytes[12] | c->bytes[13] << 8, 0x2100);
  // Byte: top 1 (bits 4-5), bottom 2 (6-7), left kept (3), right 0.
  EXPECT_EQ(c->bytes[10], 0x93);
  EXPECT_EQ(c->bytes[11], 0x02);  // the border-word flag is not touched
  // Every other cell of the target gets the same borders.
  EXPECT_EQ(NthCell(recs, 3)->bytes[12] | NthCell(recs, 3)->bytes[13] << 8, 0x2100);
}

TEST_F(TableOps, BordersWithAShortTextKeepTheMissingSides) {
  Make(Grid({CellWith(0, 0, 0xFF, 0, 0xFFFF), Cell(0, 1), Cell(1, 0), Cell(1, 1)}),
       Chain({Node(REL_CONTAINS, TABLE, {1})}));
  ASSERT_EQ(Run(2393, 0, 0, "0"), 0);
  auto recs = Split(Stored());
  const Rec* c = NthCell(recs, 0);
  EXPECT_EQ(c->bytes[12] | c->bytes[13] << 8, 0xF0FF);  // only the top side changed
  EXPECT_EQ(c->bytes[10], 0xCF);
}

TEST_F(TableOps, BordersWithoutTextLeaveTheItemAlone) {
  Make(PlainGrid(), Chain({Node(REL_CONTAINS, TABLE, {1})}));
  Bytes before = Stored();
  ASSERT_EQ(Run(2393), 0);
  EXPECT_EQ(Stored(), before);
}

TEST_F(TableOps, MergeTwoByTwoSetsSpansFlagsAndTheMergedParagraph) {
  Make(PlainGrid(), Chain({Node(REL_CONTAINS, TABLE, {1})}));
  // Rows 1 to 2, columns 1 to 2.
  ASSERT_EQ(Run(2405, 1, 1, nullptr, nullptr, 2, 2), 0);
  auto recs = Split(Stored());
  EXPECT_EQ(NthCell(recs, 0)->bytes[11] & 0x0C, 0x08);
  EXPECT_EQ(NthCell(recs, 1)->bytes[11] & 0x0C, 0x08);
  EXPECT_EQ(NthCell(recs, 2)->bytes[11] & 0x0C, 0x04);
  const Rec* last = NthCell(recs, 3);
  EXPECT_EQ(last->bytes[11] & 0x0C, 0);
  EXPECT_EQ(last->bytes[14], 2);
  EXPECT_EQ(last->bytes[15], 2);
  // The last cell is followed by its paragraph, the merged definition and a
  // reference to it; the cell's own paragraph start and reference are gone.
  size_t i = 0;
  while (&recs[i] != last) ++i;
  ASSERT_LT(i + 5, recs.size());
  EXPECT_EQ(recs[i + 1].sig, 129);
  EXPECT_EQ(recs[i + 2].sig, 0xFF82);
  const uint16_t id = uint16_t(recs[i + 2].bytes[4] | recs[i + 2].bytes[5] << 8);
  EXPECT_EQ(id, 1002);  // column 1 (0-based) + 1 + 1000
  EXPECT_EQ(recs[i + 3].sig, 131);
  EXPECT_EQ(recs[i + 3].bytes[2] | recs[i + 3].bytes[3] << 8, 1002);
  EXPECT_EQ(recs[i + 4].sig, 0xFF85);  // the cell's text
  // Left edge of the first cell, right edge of the last.
  EXPECT_EQ(recs[i + 2].bytes[14] | recs[i + 2].bytes[15] << 8, 0);
  EXPECT_EQ(recs[i + 2].bytes[16] | recs[i + 2].bytes[17] << 8, 0);
  // The text "before" and "after" and all four cell texts survive.
  int texts = 0;
  for (const Rec& r : recs) texts += r.sig == 0xFF85;
  EXPECT_EQ(texts, 6);
}

TEST_F(TableOps, MergeUsesTheEdgesOfTheFirstAndLastCells) {
  Make(Grid({CellWith(0, 0, 0, 0, 0), CellWith(0, 1, 0, 0, 0), Cell(1, 0), Cell(1, 1)}),
       Chain({Node(REL_CONTAINS, TABLE, {1})}));
  ASSERT_EQ(Run(2405, 1, 1, nullptr, nullptr, 1, 2), 0);  // one row, two columns
  auto recs = Split(Stored());
  EXPECT_EQ(NthCell(recs, 0)->bytes[11] & 0x0C, 0x04);
  EXPECT_EQ(NthCell(recs, 1)->bytes[15], 2);
  EXPECT_EQ(NthCell(recs, 1)->bytes[14], 1);
  for (const Rec& r : recs)
    if (r.sig == 0xFF82) {
      EXPECT_EQ(r.bytes[14] | r.bytes[15] << 8, 100);  // first cell's left edge
      EXPECT_EQ(r.bytes[18] | r.bytes[19] << 8, 100);
      EXPECT_EQ(r.bytes[16] | r.bytes[17] << 8, 200);  // last cell's right edge
    }
}

TEST_F(TableOps, MergeOverAMergedCellFailsAndKeepsTheItem) {
  Make(Grid({Cell(0, 0), Cell(0, 1), CellWith(1, 0, 0, 0x04, 0), Cell(1, 1)}),
       Chain({Node(REL_CONTAINS, TABLE, {1})}));
  Bytes before = Stored();
  EXPECT_EQ(Run(2405, 1, 1, nullptr, nullptr, 2, 2), NN_ERR_CATASTROPHIC);
  EXPECT_EQ(Stored(), before);
}

TEST_F(TableOps, MergeOutsideTheTableFindsNothingAndFails) {
  Make(PlainGrid(), Chain({Node(REL_CONTAINS, TABLE, {1})}));
  Bytes before = Stored();
  EXPECT_EQ(Run(2405, 5, 5, nullptr, nullptr, 6, 6), NN_ERR_CATASTROPHIC);
  EXPECT_EQ(Stored(), before);
}

TEST_F(TableOps, UnmergeResetsFlagsAndSpans) {
  Make(Grid({CellWith(0, 0, 0, 0x08 | 0x01, 0), CellWith(0, 1, 0, 0x08, 0),
             CellWith(1, 0, 0, 0x04, 0), CellWith(1, 1, 0, 0, 0, 2, 2)}),
       Chain({Node(REL_CONTAINS, TABLE, {1})}));
  ASSERT_EQ(Run(2406), 0);
  auto recs = Split(Stored());
  for (int i = 0; i < 4; ++i) {
    const Rec* c = NthCell(recs, i);
    EXPECT_EQ(c->bytes[11] & 0x0C, 0) << i;
    EXPECT_EQ(c->bytes[14], 1);
    EXPECT_EQ(c->bytes[15], 1);
  }
  EXPECT_EQ(NthCell(recs, 0)->bytes[11] & 0x01, 0x01);  // other flags stay
}

TEST_F(TableOps, CellColorRgbWritesColourRecordsButNotForTheTopLeftCell) {
  Make(PlainGrid(), Chain({Node(REL_CONTAINS, TABLE, {1})}));
  session->globals->CellColorIndex = 0;
  session->globals->CellColorRgb = 0x30201F | SessionGlobals::kCellColorRgbGiven;  // R 0x1F, G 0x20, B 0x30
  ASSERT_EQ(Run(2394), 0);
  auto recs = Split(Stored());
  auto sigs = Sigs(recs);
  // Top-left cell: no colour record before it.
  size_t first = 0;
  while (sigs[first] != 164) ++first;
  EXPECT_NE(sigs[first - 1], 211);
  int colours = 0;
  for (size_t i = 0; i < recs.size(); ++i) {
    if (recs[i].sig != 211) continue;
    ++colours;
    EXPECT_EQ(recs[i].bytes[4], 0x1F);
    EXPECT_EQ(recs[i].bytes[5], 0x20);
    EXPECT_EQ(recs[i].bytes[6], 0x30);
    EXPECT_TRUE(recs[i + 1].sig == 164 || recs[i + 1].sig == 165);
  }
  EXPECT_EQ(colours, 4);  // three cells and the table end
  for (int i = 0; i < 4; ++i) EXPECT_EQ(NthCell(recs, i)->bytes[11] & 0x01, 0x01);
}

TEST_F(TableOps, CellColorIndexDropsOldColourRecordsAndSetsTheIndex) {
  std::vector<Bytes> g = PlainGrid();
  g.insert(g.begin() + 8, Bytes{211, 8, 0, 0, 1, 2, 3, 0});  // before the second cell
  Make(g, Chain({Node(REL_CONTAINS, TABLE, {1})}));
  session->globals->CellColorIndex = 5;
  session->globals->CellColorRgb = 0;
  ASSERT_EQ(Run(2394), 0);
  auto recs = Split(Stored());
  for (const Rec& r : recs) EXPECT_NE(r.sig, 211);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(NthCell(recs, i)->bytes[16], 5);
    EXPECT_EQ(NthCell(recs, i)->bytes[11] & 0x01, 0x01);
  }
}

TEST_F(TableOps, CellColorGetReadsTheFirstCell) {
  // Background colour word 7 of the first cell; the colour record that
  // closes the second cell is that cell's.
  std::vector<Bytes> g = Grid({CellWith(0, 0, 0, 0x01, 0), Cell(0, 1), Cell(1, 0), Cell(1, 1)});
  g[4][16] = 7;
  g.insert(g.begin() + 12, Bytes{211, 8, 1, 0, 1, 2, 3, 0});
  Make(g, Chain({Node(REL_CONTAINS, TABLE, {1})}));
  session->globals->CellColorIndex = 0;
  session->globals->CellColorRgb = 0;
  gCellColorMarker = 0;
  ASSERT_EQ(Run(kStepCellColorGet), 0);
  EXPECT_EQ(session->globals->CellColorIndex, 7);
  EXPECT_EQ(session->globals->CellColorRgb, 0u);
  EXPECT_EQ(gCellColorMarker, 1u);
}

TEST_F(TableOps, RowCycleIsReplacedOrAddedOnce) {
  std::vector<Bytes> g = PlainGrid();
  g.insert(g.end() - 3, RowCycle(100));  // just before the table end
  Make(g, Chain({Node(REL_CONTAINS, TABLE, {1})}));
  ASSERT_EQ(Run(2413, 0, 0, "RowCycleMilliseconds=2500"), 0);
  auto recs = Split(Stored());
  int cycles = 0;
  for (const Rec& r : recs)
    if (r.sig == 225) {
      ++cycles;
      EXPECT_EQ(r.bytes[2] | r.bytes[3] << 8, 2500);
    }
  EXPECT_EQ(cycles, 1);
}

TEST_F(TableOps, RowCycleIsAddedBeforeTheEndWhenMissing) {
  Make(PlainGrid(), Chain({Node(REL_CONTAINS, TABLE, {1})}));
  ASSERT_EQ(Run(2413, 0, 0, "RowCycleMilliseconds=70000"), 0);
  auto recs = Split(Stored());
  auto sigs = Sigs(recs);
  size_t end = 0;
  while (sigs[end] != 165) ++end;
  ASSERT_EQ(sigs[end - 1], 225);
  const Bytes& r = recs[end - 1].bytes;
  EXPECT_EQ(uint32_t(r[2] | r[3] << 8 | r[4] << 16 | r[5] << 24), 70000u);
  // The top-level table keeps its own begin signature.
  EXPECT_EQ(std::count(sigs.begin(), sigs.end(), 163), 1);
  EXPECT_EQ(std::count(sigs.begin(), sigs.end(), 207), 0);
}

TEST_F(TableOps, HtmlValueEqualToTheStoredOneLeavesTheItemAsItWas) {
  std::vector<Bytes> g = PlainGrid();
  g.insert(g.begin() + 3, PreTable());
  g.insert(g.begin() + 4, IdName("main", "tbl"));
  Make(g, Chain({Node(REL_CONTAINS, TABLE, {1})}));
  Bytes before = Stored();
  ASSERT_EQ(Run(2422, 2, 1, nullptr, "main"), 0);
  EXPECT_EQ(Stored(), before);
}

TEST_F(TableOps, HtmlValueReplacesTheChosenString) {
  std::vector<Bytes> g = PlainGrid();
  g.insert(g.begin() + 3, PreTable());
  g.insert(g.begin() + 4, IdName("main", "tbl"));
  Make(g, Chain({Node(REL_CONTAINS, TABLE, {1})}));
  ASSERT_EQ(Run(2422, 1, 1, nullptr, "other-name"), 0);  // sub-code 1: Name
  for (const Rec& r : Split(Stored()))
    if (r.sig == 0xFF7A) {
      EXPECT_EQ(r.bytes[4], 4);    // ID length
      EXPECT_EQ(r.bytes[14], 10);  // Name length
      EXPECT_EQ(std::string(r.bytes.begin() + 26, r.bytes.begin() + 30), "main");
      EXPECT_EQ(std::string(r.bytes.begin() + 30, r.bytes.begin() + 40), "other-name");
      EXPECT_EQ(r.bytes.size() % 2, 0u);
    }
}

TEST_F(TableOps, HtmlValueWritesANewTableRecordAfterThePreTable) {
  std::vector<Bytes> g = PlainGrid();
  g.insert(g.begin() + 3, PreTable());
  Make(g, Chain({Node(REL_CONTAINS, TABLE, {1})}));
  ASSERT_EQ(Run(2422, 3, 1, nullptr, "wide"), 0);  // sub-code 3: Class
  auto recs = Split(Stored());
  bool found = false;
  for (const Rec& r : recs)
    if (r.sig == 0xFF7A) {
      found = true;
      EXPECT_EQ(r.bytes[6], 4);  // Class length
      EXPECT_EQ(std::string(r.bytes.begin() + 26, r.bytes.begin() + 30), "wide");
    }
  EXPECT_TRUE(found);
}

TEST_F(TableOps, HtmlValueOfACellRecordWithStringsPastItsEndIsLeftAlone) {
  std::vector<Bytes> g = PlainGrid();
  Bytes bad = IdName("x", "y");
  bad[4] = 200;  // ID length past the record
  g.insert(g.begin() + 6, bad);
  Make(g, Chain({Node(REL_CONTAINS, TABLE, {1})}));
  ASSERT_EQ(Run(2422, 2, 0, nullptr, "new"), 0);
  bool kept = false;
  for (const Rec& r : Split(Stored())) kept |= r.sig == 0xFF7A && r.bytes == bad;
  EXPECT_TRUE(kept);
}

}  // namespace
}  // namespace enginetest
