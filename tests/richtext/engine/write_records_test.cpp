// Write paths of the engine seen in the records they leave: target matching
// of the walk, insertions at and after the target, element actions, and the
// clean-up after inserted text. Every write is checked for its record list,
// the records outside the target, its structure, and the item reloaded from
// saved DXL and rendered.
#include <cstdio>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "graphicsteps_records.h"
#include "support/testutil.h"
#include "write_records_support.h"

using namespace enginetest;
using writecheck::Pab;
using writecheck::Record;
using writecheck::StructureProblems;
using namespace enginetest::pictures;

namespace {

std::string TextOf(const Record& r) {
  return r.sig == 0xFF85 && r.bytes.size() >= 8
             ? std::string(r.bytes.begin() + 8, r.bytes.end())
             : std::string();
}

class WriteRecords : public EngineDoc {
 protected:
  std::vector<Record> Now() { return writecheck::ItemRecords(item); }

  // The call's records are sound, reload from saved DXL and render.
  void ExpectSound() {
    const std::vector<Record> now = Now();
    EXPECT_EQ(StructureProblems(now), "");
    EXPECT_EQ(writecheck::ReloadAndRender(db, note, "Body", now), "");
  }

  TorvoRTChunk* Define(const char* definition) {
    TorvoRTChunk* c = item->DefineChunk(definition);
    EXPECT_NE(c, nullptr) << definition;
    return c;
  }

  std::string TextIn(TorvoRTChunk* c, const char* definition) {
    char buf[512] = {};
    c->GetText(definition, buf, sizeof buf, 1, "");
    return buf;
  }
};

// ---- target matching --------------------------------------------------------------

TEST_F(WriteRecords, ListParagraphsAndPageBreaksAreFoundByTheirDefinitionFlags) {
  // Each definition where the item first uses it, as stored items have them.
  Make({Pab(1), PabRef(1), enginetest::Text("plain"), Para(), Pab(2, 0x0400), PabRef(2),
        enginetest::Text("bullet"), Para(), PabRef(2), enginetest::Text("bullet 2"), Para(),
        Pab(3, 0x1000), PabRef(3), enginetest::Text("number"), Para(), Pab(4, 0x0001),
        PabRef(4), enginetest::Text("after break"), Para(), PabRef(1), enginetest::Text("end")});
  EXPECT_EQ(chunk->GetCount("ParagraphList"), 3);
  EXPECT_EQ(chunk->GetCount("PageBreak"), 1);
  EXPECT_EQ(TextIn(chunk, "ParagraphList 2"), "bullet 2");
  EXPECT_EQ(TextIn(chunk, "PageBreak 1"), "");
}

TEST_F(WriteRecords, AppendedPageBreakIsCountedAndWellFormed) {
  Make({Pab(1), Para(), PabRef(1), enginetest::Text("a")});
  const std::vector<Record> before = Now();
  ASSERT_EQ(chunk->GetCount("PageBreak"), 0);
  ASSERT_EQ(chunk->AppendPageBreak(), 0);
  const std::vector<Record> after = Now();
  ASSERT_EQ(after.size(), before.size() + 5);
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], before[i]) << i;
  EXPECT_EQ(writecheck::Signatures({after.begin() + long(before.size()), after.end()}),
            (std::vector<uint16_t>{129, 0xFF82, 131, 0xFF85, 129}));
  const Record& def = after[before.size() + 1];
  EXPECT_EQ(writecheck::Word(def.bytes, 4), 2);  // a new id
  EXPECT_EQ(writecheck::Word(def.bytes, 62) & 0x0001, 1);
  EXPECT_EQ(chunk->GetCount("PageBreak"), 1);
  ExpectSound();
}

TEST_F(WriteRecords, NewDefinitionsTakeNoIdTheItemAlreadyReferences) {
  // The item references paragraph 3 without defining it: a page break's new
  // definition must not take that id, or those paragraphs would break pages.
  Make({Para(), PabRef(3), enginetest::Text("a")});
  ASSERT_EQ(chunk->AppendPageBreak(), 0);
  uint16_t defined = 0;
  for (const Record& r : Now())
    if (r.sig == 0xFF82) defined = writecheck::Word(r.bytes, 4);
  EXPECT_EQ(defined, 4);
  EXPECT_EQ(chunk->GetCount("PageBreak"), 1);
}

TEST_F(WriteRecords, StylizedTextIsAWholeStretchInOneFont) {
  const uint32_t plain = 0x0A000001u, bold = 0x0A000101u;
  Make({Pab(1), Para(), PabRef(1), enginetest::Text("ab", plain), enginetest::Text("cd", plain),
        enginetest::Text("ef", bold), enginetest::Text("gh", bold), Para(), PabRef(1),
        enginetest::Text("ij", plain)});
  EXPECT_EQ(chunk->GetCount("StylizedText"), 3);
  EXPECT_EQ(TextIn(chunk, "StylizedText 1"), "abcd");
  EXPECT_EQ(TextIn(chunk, "StylizedText 2"), "efgh");
  EXPECT_EQ(TextIn(chunk, "StylizedText 3"), "ij");
  // A font change of a stretch touches its two runs only; the second begins
  // at the record that ended the first.
  const std::pair<const char*, std::vector<size_t>> stretches[] = {{"StylizedText 1", {3, 4}},
                                                                  {"StylizedText 2", {5, 6}}};
  for (const auto& [definition, runs] : stretches) {
    TorvoRTChunk* stretch = Define(definition);
    const std::vector<Record> before = Now();
    ASSERT_EQ(stretch->ChangeFont("+Italic", nullptr, 0), 0);
    EXPECT_EQ(writecheck::ChangedRecords(before, Now()), runs) << definition;
  }
  ExpectSound();
}

TEST_F(WriteRecords, OutsideATableLeavesItsInteriorOut) {
  Make({Pab(1), Para(), PabRef(1), enginetest::Text("before"), TableBegin(), Cell(0, 0), Para(),
        PabRef(1), enginetest::Text("inside"), TableBegin(true), Cell(0, 0, true),
        enginetest::Text("nested"), TableEnd(true), Cell(0, 1), enginetest::Text("inside 2"),
        TableEnd(), Para(), PabRef(1), enginetest::Text("after")});
  char buf[256] = {};
  chunk->GetText("Outside Table 1", buf, sizeof buf, 1, "|");
  EXPECT_EQ(std::string(buf), "before|after");
  // Removing what lies outside keeps the whole table.
  TorvoRTChunk* outside = Define("Outside Table 1");
  ASSERT_EQ(outside->Remove(), 0);
  std::string texts;
  for (const Record& r : Now()) texts += TextOf(r) + ",";
  EXPECT_NE(texts.find("inside"), std::string::npos);
  EXPECT_NE(texts.find("nested"), std::string::npos);
  EXPECT_NE(texts.find("inside 2"), std::string::npos);
  EXPECT_EQ(texts.find("before"), std::string::npos);
  EXPECT_EQ(texts.find("after"), std::string::npos);
  EXPECT_EQ(StructureProblems(Now()), "");
}

// ---- insertion and element actions ------------------------------------------------

TEST_F(WriteRecords, NewParagraphsReferenceTheParagraphInForce) {
  Make({Pab(2), Pab(5), Para(), PabRef(2), enginetest::Text("top"), TableBegin(), Cell(0, 0),
        Para(), PabRef(5), enginetest::Text("cell"), Cell(0, 1), Para(), PabRef(5),
        enginetest::Text("cell 2"), TableEnd(), Para(), PabRef(2), enginetest::Text("end")});
  ASSERT_EQ(chunk->AppendNewLines(2, 1), 0);
  std::vector<Record> after = Now();
  ASSERT_GE(after.size(), 2u);
  EXPECT_EQ(after[after.size() - 2].sig, 129);
  EXPECT_EQ(after.back().sig, 131);
  EXPECT_EQ(writecheck::Word(after.back().bytes, 2), 2);
  ExpectSound();

  // Inside a cell, the cell's own paragraph.
  TorvoRTChunk* cell = Define("Table 1; Row 1; Column 1");
  const std::vector<Record> before = Now();
  ASSERT_EQ(cell->AppendNewLines(1, 1), 0);
  after = Now();
  ASSERT_EQ(after.size(), before.size() + 3);
  size_t k = 0;
  while (k < before.size() && after[k] == before[k]) ++k;
  ASSERT_EQ(before[k].sig, 164);  // the next cell: the lines go before it
  EXPECT_EQ(writecheck::Signatures({after.begin() + long(k), after.begin() + long(k + 3)}),
            (std::vector<uint16_t>{0xFF85, 129, 131}));
  EXPECT_EQ(writecheck::Word(after[k + 2].bytes, 2), 5);
  for (size_t i = k; i < before.size(); ++i) EXPECT_EQ(after[i + 3], before[i]) << i;
  ExpectSound();
}

TEST_F(WriteRecords, TextJoinsTheParagraphItIsAddedTo) {
  Make({Para(), Pab(1), PabRef(1), enginetest::Text("one"), Para(), PabRef(1),
        enginetest::Text("two"), Para(), PabRef(1), enginetest::Text("three")});
  // Appended to the second paragraph: at its end, before the third begins.
  TorvoRTChunk* second = Define("Paragraph 2");
  std::vector<Record> before = Now();
  ASSERT_EQ(second->AppendText("+", 1, nullptr), 0);
  std::vector<Record> after = Now();
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(TextOf(after[7]), "+");
  EXPECT_EQ(after[8].sig, 129);
  // Inserted at the third: at its start, after its paragraph records, and
  // no paragraph more.
  TorvoRTChunk* third = Define("Paragraph 3");
  before = Now();
  ASSERT_EQ(third->InsertText("-", 1, nullptr), 0);
  after = Now();
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(writecheck::Signatures({after.begin() + 8, after.begin() + 12}),
            (std::vector<uint16_t>{129, 131, 0xFF85, 0xFF85}));
  EXPECT_EQ(TextOf(after[10]), "-");
  EXPECT_EQ(TextOf(after[11]), "three");
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(after[i], before[i]) << i;
  // At the item's first paragraph, behind its definition and reference.
  before = Now();
  ASSERT_EQ(Define("Paragraph 1")->InsertText("^", 1, nullptr), 0);
  after = Now();
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(TextOf(after[3]), "^");
  EXPECT_EQ(TextOf(after[4]), "one");
  ExpectSound();
}

TEST_F(WriteRecords, TextAppendedToAnItemEndingInATableBeginsAParagraph) {
  Make({Para(), Pab(1), PabRef(1), enginetest::Text("a"), TableBegin(), Cell(0, 0),
        enginetest::Text("b"), TableEnd()});
  const std::vector<Record> before = Now();
  ASSERT_EQ(chunk->AppendText("after", 5, nullptr), 0);
  const std::vector<Record> after = Now();
  ASSERT_EQ(after.size(), before.size() + 3);
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], before[i]);
  EXPECT_EQ(writecheck::Signatures({after.end() - 3, after.end()}),
            (std::vector<uint16_t>{129, 131, 0xFF85}));
  ExpectSound();
}

TEST_F(WriteRecords, TextInsertedAtACellGoesIntoThatCell) {
  Make({Para(), Pab(1), PabRef(1), enginetest::Text("x"), TableBegin(), Cell(0, 0), Para(),
        PabRef(1), enginetest::Text("a"), Cell(0, 1), Para(), PabRef(1), enginetest::Text("b"),
        Cell(1, 0), enginetest::Text("c"), Cell(1, 1), TableEnd()});
  TorvoRTChunk* column = Define("Table 1; Column 2");
  const std::vector<Record> before = Now();
  ASSERT_EQ(column->InsertText("+", 1, nullptr), 0);
  const std::vector<Record> after = Now();
  // Before the text of the first row's second cell, after its paragraph
  // records; at the end of the empty second cell of the second row.
  ASSERT_EQ(after.size(), before.size() + 2);
  std::vector<std::string> texts;
  for (const Record& r : after)
    if (r.sig == 0xFF85) texts.push_back(TextOf(r));
  EXPECT_EQ(texts, (std::vector<std::string>{"x", "a", "+", "b", "c", "+"}));
  EXPECT_EQ(writecheck::Signatures({after.begin() + 9, after.begin() + 14}),
            (std::vector<uint16_t>{164, 129, 131, 0xFF85, 0xFF85}));
  EXPECT_EQ(writecheck::Signatures({after.end() - 3, after.end()}),
            (std::vector<uint16_t>{164, 0xFF85, 165}));
  ExpectSound();
}

TEST_F(WriteRecords, AnItemWithoutTheDefinitionInForceGetsIt) {
  Make({Para(), enginetest::Text("bare")});
  ASSERT_EQ(chunk->AppendNewLines(1, 1), 0);
  EXPECT_EQ(StructureProblems(Now()), "");
  int definitions = 0;
  for (const Record& r : Now()) definitions += r.sig == 0xFF82;
  EXPECT_EQ(definitions, 1);
  ASSERT_EQ(chunk->AppendNewLines(1, 1), 0);
  definitions = 0;
  for (const Record& r : Now()) definitions += r.sig == 0xFF82;
  EXPECT_EQ(definitions, 1);  // never twice
  ExpectSound();
}

TEST_F(WriteRecords, TextAroundAWrappedRunStaysInItsParagraph) {
  const Bytes color = {210, 8, 0, 0, 0, 0, 0xFF, 0};
  Make({Pab(1), Para(), PabRef(1), Begin(0xFF85), enginetest::Text("red"), color, End(0xFF85),
        Para(), PabRef(1), enginetest::Text("next")},
       Chain({Node(REL_CONTAINS, TEXT, {1})}));
  std::vector<Record> before = Now();
  ASSERT_EQ(chunk->AppendText("!", 1, nullptr), 0);
  std::vector<Record> after = Now();
  // The END lies outside the text element: the text goes before it, into
  // the same run and paragraph, and no paragraph is begun.
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(TextOf(after[6]), "!");
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(after[i], before[i]);
  for (size_t i = 6; i < before.size(); ++i) EXPECT_EQ(after[i + 1], before[i]);

  TorvoRTChunk* wrapped = Define("Text 1");
  before = Now();
  ASSERT_EQ(wrapped->InsertText("<", 1, nullptr), 0);
  after = Now();
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(TextOf(after[3]), "<");
  EXPECT_EQ(after[4], before[3]);
  ExpectSound();
}

TEST_F(WriteRecords, AnchorKeepsItsWholeNameWhateverTheFlag) {
  Make({Pab(1), Para(), PabRef(1), enginetest::Text("a")});
  ASSERT_EQ(chunk->AppendAnchor("chapter", 1), 0);
  ASSERT_EQ(chunk->AppendAnchor("end", 0), 0);
  std::vector<std::string> names;
  for (const Record& r : Now())
    if (r.sig == 0xFFCB) {
      const uint16_t n = writecheck::Word(r.bytes, 4);
      ASSERT_LE(12u + n, r.bytes.size());
      names.emplace_back(r.bytes.begin() + 12, r.bytes.begin() + 12 + n);
    }
  EXPECT_EQ(names, (std::vector<std::string>{"chapter", "end"}));
  ExpectSound();
}

class ImportFiles : public WriteRecords {
 protected:
  std::string Write(const std::string& name, const Bytes& data) {
    std::string path = std::string(::testing::TempDir()) + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
      std::fwrite(data.data(), 1, data.size(), f);
      std::fclose(f);
    }
    paths.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const std::string& p : paths) std::remove(p.c_str());
    WriteRecords::TearDown();
  }
  int Count(uint16_t sig) { return writecheck::Count(Now(), sig); }
  std::vector<std::string> paths;
};

TEST_F(ImportFiles, PicturesComeInWithoutTheImageSwitch) {
  Make({Pab(1), Para(), PabRef(1), enginetest::Text("a")});
  ASSERT_EQ(item->imageSwitch, 0);
  const std::string png = Write("import-pic.png", Png(4, 3));
  const std::string jpg = Write("import-pic.jpg", Jpeg(5, 6));
  const std::string gif = Write("import-pic.gif", Gif("x"));
  ASSERT_EQ(chunk->AppendGraphic("FILE", png.c_str(), nullptr), 0);
  EXPECT_EQ(Count(153), 1);
  ASSERT_EQ(chunk->AppendImportFile(jpg.c_str(), nullptr), 0);
  EXPECT_EQ(Count(153), 2);
  ASSERT_EQ(chunk->AppendImportFile(gif.c_str(), nullptr), 0);
  EXPECT_EQ(Count(153), 3);
  EXPECT_EQ(item->imageSwitch, 0);  // left as the caller had it
  ExpectSound();
  // The pictures show at their own size.
  const std::string page = writecheck::RenderXhtml(item);
  EXPECT_NE(page.find("width=\"4\" height=\"3\""), std::string::npos);
  EXPECT_NE(page.find("width=\"5\" height=\"6\""), std::string::npos);
}

TEST_F(ImportFiles, RecordFilesAreAppendedWithTheirParagraphsRenumbered) {
  Make({Pab(1), Para(), PabRef(1), enginetest::Text("a")});
  const std::vector<Record> before = Now();
  Bytes cd = {1, 0};  // the composite type word may lead
  for (const Bytes& r : {Pab(1, 0x0400), Para(), PabRef(1), enginetest::Text("imported")})
    cd.insert(cd.end(), r.begin(), r.end());
  const std::string path = Write("import-records.cd", cd);
  ASSERT_EQ(chunk->AppendImportFile(path.c_str(), nullptr), 0);
  const std::vector<Record> after = Now();
  ASSERT_EQ(after.size(), before.size() + 4);
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], before[i]);
  EXPECT_EQ(writecheck::Word(after[before.size()].bytes, 4), 2);  // above the item's ids
  EXPECT_EQ(writecheck::Word(after[before.size() + 2].bytes, 2), 2);
  EXPECT_EQ(TextOf(after.back()), "imported");
  ExpectSound();

  // A file that breaks off inside a record is refused and changes nothing.
  Bytes cut(cd.begin(), cd.end() - 3);
  const std::string bad = Write("import-cut.cd", cut);
  const Bytes stored = Stored();
  EXPECT_NE(chunk->AppendImportFile(bad.c_str(), nullptr), 0);
  EXPECT_EQ(Stored(), stored);
}

// A text file's paragraphs open as stored ones do (start, definition,
// reference) and, in a cell, keep to the cell's own margins; a record file
// whose structures do not close is refused and the item stays as it was.
TEST_F(ImportFiles, ImportsKeepTheItemsStructure) {
  using enginetest::Text;
  const std::string txt = Write("import-lines.txt", Bytes{'h', 'i', '\n'});
  Make({Para(), Pab(1, 0), PabRef(1), Text("one"), TableBegin(), Cell(0, 0), Para(), PabRef(1),
        Text("a"), TableEnd()});
  ASSERT_EQ(chunk->AppendImportFile(txt.c_str(), "LineLength=80"), 0);
  ASSERT_EQ(Define("Table 1; Row 1; Column 1")->AppendImportFile(txt.c_str(), "LineLength=80"), 0);
  const std::vector<Record> after = Now();
  const std::vector<uint16_t> imported = {129, 0xFF82, 131, 0xFF85};
  EXPECT_EQ(writecheck::Signatures({after.end() - 4, after.end()}), imported);
  EXPECT_EQ(writecheck::Signatures({after.begin() + 9, after.begin() + 13}), imported);
  EXPECT_EQ(writecheck::Word(after[10].bytes, 14), 0);  // the cell's left margin, not 1 inch
  EXPECT_EQ(TextIn(Define(""), "Paragraph 4"), "hi");
  ExpectSound();
  const Bytes stored = Stored();
  for (const Bytes& file : {Join({TableBegin(), Cell(0, 0), Text("x")}),
                            Join({Text("imp"), TableEnd(), End(0xFF85), HotspotEnd(0xAE)})}) {
    const std::string cd = Write("import-unbalanced.cd", file);
    EXPECT_EQ(Define("Table 1; Row 1; Column 1")->AppendImportFile(cd.c_str(), nullptr),
              NN_ERR_CD_STRUCTURE);
    EXPECT_EQ(Stored(), stored);
  }
}

// Each cell of the target gets one colour record, closing its content
// (the cells of "Column 2" in both rows); the other cells none.
TEST_F(WriteRecords, CellColourIsWrittenOncePerCell) {
  Make({Pab(1), Para(), PabRef(1), TableBegin(), Cell(0, 0), enginetest::Text("a"), Cell(0, 1),
        enginetest::Text("b"), Cell(1, 0), enginetest::Text("c"), Cell(1, 1),
        enginetest::Text("d"), TableEnd()},
       Chain({Node(REL_CONTAINS, TABLE, {1}), Node(REL_CONTAINS, COLUMN, {2})}));
  session->globals->CellColorRgb = 0x00FF00 | SessionGlobals::kCellColorRgbGiven;
  session->globals->CellColorIndex = 0;
  ASSERT_EQ(Run(2394), 0);
  std::string closed;  // the text each colour record follows
  const std::vector<Record> now = Now();
  for (size_t i = 1; i < now.size(); ++i)
    if (now[i].sig == 211) closed += TextOf(now[i - 1]);
  EXPECT_EQ(closed, "bd");
  EXPECT_EQ(StructureProblems(Now()), "");
}

TEST_F(WriteRecords, TooLongHideWhenFormulaIsRefusedAndChangesNothing) {
  Make({Pab(1), Para(), PabRef(1), enginetest::Text("a")});
  const Bytes before = Stored();
  std::string paragraph = "HideWhen=\"" + std::string(5000, 'x') + "\"";
  EXPECT_NE(chunk->AppendParagraph(paragraph.c_str(), nullptr, nullptr, 0), 0);
  EXPECT_EQ(Stored(), before);
  EXPECT_NE(chunk->ChangeParagraph(paragraph.c_str(), nullptr, 0), 0);
  EXPECT_EQ(Stored(), before);
  // One that fits is written whole.
  const std::string fits = "HideWhen=\"" + std::string(300, 'y') + "\"";
  ASSERT_EQ(chunk->AppendParagraph(fits.c_str(), nullptr, nullptr, 0), 0);
  int hides = 0;
  for (const Record& r : Now())
    if (r.sig == 0xFFBB) {
      ++hides;
      EXPECT_EQ(std::string(r.bytes.begin() + 14, r.bytes.begin() + 14 + 300), std::string(300, 'y'));
    }
  EXPECT_EQ(hides, 1);
}

TEST_F(WriteRecords, MarginsArriveWhereTheirReadersLook) {
  Bytes cell = Cell(0, 0);
  cell[4] = 0x40;  // left edge 576
  cell[5] = 0x02;
  cell[6] = 0x40;  // right edge 2880
  cell[7] = 0x0B;
  Make({Pab(1), Para(), PabRef(1), enginetest::Text("a"), TableBegin(), cell,
        enginetest::Text("b"), TableEnd()});
  TorvoRTChunk* table = Define("Table 1");
  char buf[32] = {};
  ASSERT_GT(table->GetPropertyText("MaxRightMargin", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "2.000");
  EXPECT_EQ(table->GetPropertyNumber("MinLeftMargin"), 0.4);
  // The element's end leaves the answer in the result text as well.
  session->ClearResultText();
  ASSERT_EQ(ProcessChunkOperation(table, note, "Body", 36, 2604, 0, 0, 0, nullptr, nullptr, 0,
                                  nullptr, nullptr),
            0);
  EXPECT_STREQ(session->ResultText, "2.000");
}

TEST_F(WriteRecords, RowLabelOfARowIsOneRecordAtItsEndOrItsOwnReplaced) {
  Bytes pre;
  Put16(pre, 0xFFFB);
  Put16(pre, 44);
  pre.resize(44, 0);
  pre[8] = 3;  // rows
  pre[9] = 1;  // columns
  Make({Pab(1), Para(), PabRef(1), Begin(0xFFFB), pre, End(0xFFFB), TableBegin(), Cell(0, 0),
        enginetest::Text("one"), Cell(1, 0), enginetest::Text("two"), Cell(2, 0),
        enginetest::Text("three"), TableEnd()});
  TorvoRTChunk* row = Define("Table 1; Row 2");
  std::vector<Record> before = Now();
  ASSERT_EQ(row->SetPropertyText("RowLabel", "Second", 6), 1);
  std::vector<Record> after = Now();
  ASSERT_EQ(after.size(), before.size() + 1);
  // The label closes the row: it stands before the third row's cell.
  size_t k = 0;
  while (k < before.size() && after[k] == before[k]) ++k;
  EXPECT_EQ(after[k].sig, 0xFFE3);
  ASSERT_EQ(after[k].bytes.size(), 140u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(after[k].bytes.data()) + 4), "Second");
  EXPECT_EQ(before[k].sig, 164);
  EXPECT_EQ(before[k].bytes[2], 2);
  for (size_t i = k; i < before.size(); ++i) EXPECT_EQ(after[i + 1], before[i]);
  char buf[64] = {};
  row->GetPropertyText("RowLabel", buf, sizeof buf);
  EXPECT_STREQ(buf, "Second");
  // A second call changes that record, and adds none.
  before = Now();
  ASSERT_EQ(row->SetPropertyText("RowLabel", "Renamed", 7), 1);
  after = Now();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    if (i == k) continue;
    EXPECT_EQ(after[i], before[i]) << i;
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(after[k].bytes.data()) + 4), "Renamed");
  ExpectSound();
}

// On the table, every row of one column takes its label where a row's label
// stands: before the next row's cell, the last before the table's end.
TEST_F(WriteRecords, RowLabelOfAOneColumnTableLabelsEachRowInsideTheTable) {
  Make({Pab(1), Para(), PabRef(1), TableBegin(), Cell(0, 0), enginetest::Text("one"), Cell(1, 0),
        enginetest::Text("two"), TableEnd(), Para(), PabRef(1), enginetest::Text("after")});
  TorvoRTChunk* table = Define("Table 1");
  const std::vector<Record> before = Now();
  ASSERT_EQ(table->SetPropertyText("RowLabel", "L", 1), 1);
  const std::vector<Record> after = Now();
  std::vector<uint16_t> kinds;
  for (const Record& r : after) kinds.push_back(r.sig);
  const std::vector<uint16_t> expected = {0xFF82, 129, 131, 163, 164, 0xFF85, 0xFFE3, 164,
                                          0xFF85, 0xFFE3, 165, 129, 131, 0xFF85};
  EXPECT_EQ(kinds, expected);
  for (size_t i = 0, j = 0; i < after.size(); ++i) {
    if (after[i].sig != 0xFFE3) {
      EXPECT_EQ(after[i], before[j++]) << i;
    }
  }
  for (const char* row : {"Table 1; Row 1", "Table 1; Row 2"}) {
    char buf[64] = {};
    Define(row)->GetPropertyText("RowLabel", buf, sizeof buf);
    EXPECT_STREQ(buf, "L") << row;
  }
  ExpectSound();
}

// The last row alone: one label, before the table's end.
TEST_F(WriteRecords, RowLabelOfTheLastRowOfOneColumnStandsBeforeTheTableEnd) {
  Make({Pab(1), Para(), PabRef(1), TableBegin(), Cell(0, 0), enginetest::Text("one"), Cell(1, 0),
        enginetest::Text("two"), TableEnd(), Para(), PabRef(1), enginetest::Text("after")});
  ASSERT_EQ(Define("Table 1; Row 2")->SetPropertyText("RowLabel", "L", 1), 1);
  std::vector<uint16_t> kinds;
  for (const Record& r : Now()) kinds.push_back(r.sig);
  EXPECT_EQ(kinds, std::vector<uint16_t>({0xFF82, 129, 131, 163, 164, 0xFF85, 164, 0xFF85, 0xFFE3,
                                          165, 129, 131, 0xFF85}));
}

// ---- clean-up after inserted text -----------------------------------------------

TEST_F(WriteRecords, CleanUpStaysNextToTheInsertedText) {
  // Empty runs far from the insertion are not the insertion's to tidy.
  Make({Para(), Pab(1), PabRef(1), enginetest::Text(""), enginetest::Text("far"), Para(),
        PabRef(1), enginetest::Text("x"), enginetest::Text(""), Para(), PabRef(1),
        enginetest::Text("last"), enginetest::Text("")});
  const std::vector<Record> before = Now();
  TorvoRTChunk* last = Define("Paragraph 3");
  ASSERT_EQ(last->AppendText("+", 1, nullptr), 0);
  const std::vector<Record> after = Now();
  // The records of the first two paragraphs are untouched.
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(after[i], before[i]) << i;
  std::string texts;
  for (size_t i = 10; i < after.size(); ++i) texts += TextOf(after[i]) + "|";
  // The paragraph's runs stay, its empty last one too; the text follows them.
  EXPECT_EQ(texts.substr(texts.find("last|")), "last||+|");
  ExpectSound();
}

TEST_F(WriteRecords, NoParagraphIsStartedInsideAnObjectOrGroup) {
  Bytes ole;
  Put16(ole, 0xFFA7);
  Put16(ole, 40);
  ole.resize(40, 0);
  const Bytes oleEnd = {0xA8, 0xFF, 8, 0, 0, 0, 0, 0};
  Bytes graphic = Graphic(10, 10);
  Make({Pab(1), Para(), PabRef(1), enginetest::Text("a"), ole, Begin(153), graphic, End(153),
        oleEnd, Para(), PabRef(1), enginetest::Text("b")},
       Chain({Node(REL_CONTAINS, GRAPHIC, {1})}));
  const std::vector<Record> before = Now();
  chunk->insertPosition = 0;
  ASSERT_EQ(chunk->RunFrame(2361, 0, 1, 0, 0, "x", nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(chunk->AppendText("y", 1, nullptr), 0);
  const std::vector<Record> after = Now();
  int paragraphs = 0, depth = 0;
  for (const Record& r : after) {
    if (r.sig == 0xFFA7) ++depth;
    if (r.sig == 0xFFA8) --depth;
    if (r.sig == 129 && depth > 0) ++paragraphs;
  }
  EXPECT_EQ(paragraphs, 0);
  EXPECT_EQ(after.size(), before.size() + 2);
  ExpectSound();
}

}  // namespace
