// Record rewrites through the public chunk methods, checked by the records
// they leave: HTML values of tables and cells, element properties, link
// identifiers, picture hotspots, encoded pictures and merged cells.
#include <cstring>
#include <string>
#include <vector>

#include "rewrite_fixture.h"

namespace enginetest {
namespace {

using Rewrite = RewriteDoc;

// An attribute record (0xFF7A table, 0xFF7B cell) holding one string: slot
// 0 ID, 1 Class, 2 Style, 3 Title, 4 Other, 5 Name.
Bytes Attr(uint16_t sig, int slot, const std::string& value) {
  Bytes b;
  Put16(b, sig);
  Put16(b, uint16_t(26 + value.size()));
  for (int i = 0; i < 6; ++i) Put16(b, i == slot ? uint16_t(value.size()) : 0);
  b.resize(26, 0);
  b.insert(b.end(), value.begin(), value.end());
  if (b.size() % 2) {
    b.push_back(0);
    b[2] = uint8_t(b.size());
  }
  return b;
}

std::string AttrString(const Bytes& rec, int slot) {
  size_t at = 26;
  for (int i = 0; i < slot; ++i) at += Word(rec, 4 + 2 * i);
  const size_t n = Word(rec, 4 + 2 * slot);
  return at + n <= rec.size() ? std::string(rec.begin() + long(at), rec.begin() + long(at + n)) : "";
}

size_t Find(const std::vector<Rec>& r, uint16_t sig, size_t from = 0) {
  for (size_t i = from; i < r.size(); ++i)
    if (r[i].sig == sig) return i;
  return r.size();
}

constexpr const char* kEmbeddedDate = "jnx/testDbDesignEmbedded/embedded_date.xml";

// ---- HTML values of tables and cells (2422) -----------------------------------------

// The first table of the form has no attribute record and holds a nested
// table in its first cell.
TEST_F(Rewrite, TableHtmlValueGoesIntoTheTablesOwnGroupOnce) {
  if (!OpenCorpus(kEmbeddedDate, "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  const size_t pre = Find(before, 0xFFFB);
  ASSERT_EQ(before[pre - 1].sig, 221);
  const size_t groupEnd = Find(before, 222, pre);
  ASSERT_LT(groupEnd, Find(before, 163));

  TorvoRTChunk* table = Define("Table 1");
  ASSERT_TRUE(table);
  table->AlterRichText(2422, 3, 1, 0, 0, nullptr, "wide", nullptr, nullptr);
  ASSERT_EQ(table->lastStatus, 0);
  std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), before.size() + 1);
  // Everything before the group's end and from it on is as it was.
  EXPECT_TRUE(SameRecords(after, 0, before, 0, groupEnd));
  EXPECT_EQ(after[groupEnd].bytes, Attr(0xFF7A, 1, "wide"));
  EXPECT_TRUE(SameRecords(after, groupEnd + 1, before, groupEnd, before.size() - groupEnd));
  EXPECT_STREQ(table->GetHTMLValue("Class", "Table"), "wide");

  // The same value again changes nothing; another replaces the record.
  const std::vector<Rec> once = Records();
  table->AlterRichText(2422, 3, 1, 0, 0, nullptr, "wide", nullptr, nullptr);
  EXPECT_EQ(table->lastStatus, 0);
  EXPECT_TRUE(SameRecords(Records(), 0, once, 0, once.size()));
  EXPECT_EQ(Records().size(), once.size());
  table->AlterRichText(2422, 2, 1, 0, 0, nullptr, "t1", nullptr, nullptr);
  after = Records();
  ASSERT_EQ(after.size(), once.size());
  EXPECT_EQ(AttrString(after[groupEnd].bytes, 0), "t1");
  EXPECT_EQ(AttrString(after[groupEnd].bytes, 1), "wide");
  EXPECT_TRUE(SameRecords(after, groupEnd + 1, once, groupEnd + 1, once.size() - groupEnd - 1));
  ExpectSound();
  const std::string page = ReloadAndRender();
  EXPECT_NE(page.find("t1"), std::string::npos);
}

// A table with its own record (class ColorKey) that holds nested tables and
// fields with records of their own: only the table's record changes.
TEST_F(Rewrite, TableHtmlValueReplacesOnlyTheTablesRecord) {
  if (!OpenCorpus(kEmbeddedDate, "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  size_t own = before.size();
  for (size_t i = 0; i < before.size(); ++i)
    if (before[i].sig == 0xFF7A && AttrString(before[i].bytes, 1) == "ColorKey") {
      own = i;
      break;
    }
  ASSERT_LT(own, before.size());
  TorvoRTChunk* table = Define("Table 7");
  ASSERT_TRUE(table);
  EXPECT_STREQ(table->GetHTMLValue("Class", "Table"), "ColorKey");
  table->AlterRichText(2422, 3, 1, 0, 0, nullptr, "Key2", nullptr, nullptr);
  ASSERT_EQ(table->lastStatus, 0);
  const std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    if (i == own) continue;
    EXPECT_EQ(after[i].bytes, before[i].bytes) << "record " << i + 1;
  }
  EXPECT_EQ(AttrString(after[own].bytes, 1), "Key2");
  EXPECT_EQ(after[own].bytes.size(), before[own].bytes.size() - 4);  // "ColorKey" to "Key2"
  ExpectSound();
  ReloadAndRender();
}

TEST_F(Rewrite, CellHtmlValueReplacesTheCellsRecordOrAddsOne) {
  if (!OpenCorpus(kEmbeddedDate, "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  // The nested table's only cell ends with its record (class AppletTable).
  const size_t cellAttr = Find(before, 0xFF7B);
  ASSERT_EQ(AttrString(before[cellAttr].bytes, 1), "AppletTable");
  TorvoRTChunk* cell = Define("Table 2; Row 1; Column 1");
  ASSERT_TRUE(cell);
  cell->AlterRichText(2422, 3, 2, 0, 0, nullptr, "AppletTable", nullptr, nullptr);
  EXPECT_EQ(cell->lastStatus, 0);
  std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(SameRecords(after, 0, before, 0, before.size()));

  cell->AlterRichText(2422, 3, 2, 0, 0, nullptr, "Applet", nullptr, nullptr);
  after = Records();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    if (i == cellAttr) continue;
    EXPECT_EQ(after[i].bytes, before[i].bytes) << "record " << i + 1;
  }
  EXPECT_EQ(AttrString(after[cellAttr].bytes, 1), "Applet");

  // The outer table's first cell holds that nested table and has no record of
  // its own: one is written where its content ends, before the next cell.
  const std::vector<Rec> mid = Records();
  const size_t outerBegin = Find(mid, 163);
  size_t nextCell = Find(mid, 164, Find(mid, 164, outerBegin) + 1);
  ASSERT_LT(nextCell, mid.size());
  TorvoRTChunk* outer = Define("Table 1; Row 1; Column 1");
  outer->AlterRichText(2422, 2, 2, 0, 0, nullptr, "first", nullptr, nullptr);
  EXPECT_EQ(outer->lastStatus, 0);
  after = Records();
  ASSERT_EQ(after.size(), mid.size() + 1);
  EXPECT_TRUE(SameRecords(after, 0, mid, 0, nextCell));
  EXPECT_EQ(after[nextCell].bytes, Attr(0xFF7B, 0, "first"));
  EXPECT_TRUE(SameRecords(after, nextCell + 1, mid, nextCell, mid.size() - nextCell));
  // Again: the cell now has its record and keeps one.
  outer->AlterRichText(2422, 2, 2, 0, 0, nullptr, "first", nullptr, nullptr);
  EXPECT_EQ(Records().size(), after.size());
  ExpectSound();
  ReloadAndRender();
}

Bytes PreTable(uint8_t rows, uint8_t columns) {
  Bytes b;
  Put16(b, 0xFFFB);
  Put16(b, 44);
  b.resize(44, 0);
  b[8] = rows;
  b[9] = columns;
  return b;
}

// A table written without the group around its pre-table record gets one
// with the new record inside it.
TEST_F(Rewrite, TableHtmlValueWithoutAGroupWrapsThePreTableRecord) {
  const std::vector<Bytes> recs = {Para(), PabRef(1), Text("before"), PreTable(1, 2),
                                   TableBegin(), Cell(0, 0), Para(), PabRef(1), Text("a"),
                                   Cell(0, 1), Para(), PabRef(1), Text("b"), TableEnd(),
                                   Para(), PabRef(1), Text("after")};
  ASSERT_TRUE(OpenBuilt(recs));
  TorvoRTChunk* table = Define("Table 1");
  table->AlterRichText(2422, 2, 1, 0, 0, nullptr, "grid", nullptr, nullptr);
  ASSERT_EQ(table->lastStatus, 0);
  std::vector<Bytes> expected = recs;
  expected.insert(expected.begin() + 3, Begin(0xFFFB));
  expected.insert(expected.begin() + 5, Attr(0xFF7A, 0, "grid"));
  expected.insert(expected.begin() + 6, End(0xFFFB));
  const std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(after[i].bytes, expected[i]) << i + 1;
  EXPECT_STREQ(table->GetHTMLValue("ID", "Table"), "grid");
  ExpectSound();
  EXPECT_NE(ReloadAndRender().find("id=\"grid\""), std::string::npos);
}

// ---- link identifiers (2362) ----------------------------------------------------------

constexpr const char* kReplica1 = "0123456789ABCDEF";
constexpr const char* kReplica2 = "FEDCBA9876543210";
constexpr const char* kView1 = "11111111222222223333333344444444";
constexpr const char* kView2 = "55555555666666667777777788888888";
constexpr const char* kNote1 = "AAAAAAAABBBBBBBBCCCCCCCCDDDDDDDD";
constexpr const char* kNote2 = "EEEEEEEEFFFFFFFF0000000099999999";

std::string Property(TorvoRTChunk* c, const char* name) {
  char buffer[512] = {};
  c->GetPropertyText(name, buffer, sizeof buffer);
  return buffer;
}

// Strings after the link's identifiers, in the order the record holds them.
std::vector<std::string> LinkStrings(const Bytes& rec) {
  std::vector<std::string> out;
  size_t at = 44;
  const size_t end = Word(rec, 2);
  while (at < end && at < rec.size()) {
    size_t n = 0;
    while (at + n < end && rec[at + n]) ++n;
    out.emplace_back(rec.begin() + long(at), rec.begin() + long(at + n));
    at += n + 1;
  }
  return out;
}

TEST_F(Rewrite, LinkIdentifierSetterTakesItsOwnValueOnly) {
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text("links: ")}));
  TorvoRTChunk* all = Define("");
  const std::string target1 = std::string(kReplica1) + "/" + kView1 + "/" + kNote1;
  const std::string target2 = std::string(kReplica2) + "/" + kView2 + "/" + kNote2;
  all->AppendLink("", 0, target1.c_str(), nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0);
  ASSERT_EQ(all->lastStatus, 0);
  all->AppendLink("", 0, target2.c_str(), nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0);
  ASSERT_EQ(all->lastStatus, 0);
  const std::vector<Rec> before = Records();
  const size_t link1 = Find(before, 0xFF92), link2 = Find(before, 0xFF92, link1 + 1);
  ASSERT_LT(link2, before.size());

  TorvoRTChunk* first = Define("Doclink 1");
  ASSERT_TRUE(first);
  ASSERT_EQ(Property(first, "LinkReplicaID"), kReplica1);
  const char* replica = "00112233445566AA";
  EXPECT_EQ(first->SetPropertyText("LinkReplicaID", replica, 0), 1);
  std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    if (i == link1) continue;
    EXPECT_EQ(after[i].bytes, before[i].bytes) << "record " << i + 1;
  }
  // Only the replica changed: view, document and strings are link 1's.
  EXPECT_EQ(Property(first, "LinkReplicaID"), replica);
  EXPECT_EQ(Property(first, "LinkNoteUniversalID"), kNote1);
  EXPECT_TRUE(std::equal(after[link1].bytes.begin() + 12, after[link1].bytes.end(),
                         before[link1].bytes.begin() + 12, before[link1].bytes.end()));

  EXPECT_EQ(first->SetPropertyText("LinkNoteUniversalID", kNote2, 0), 1);
  EXPECT_EQ(Property(first, "LinkNoteUniversalID"), kNote2);
  EXPECT_EQ(Property(first, "LinkReplicaID"), replica);
  TorvoRTChunk* second = Define("Doclink 2");
  EXPECT_EQ(Property(second, "LinkReplicaID"), kReplica2);

  // Values that do not parse are refused and change nothing.
  const std::vector<Rec> kept = Records();
  for (const char* bad : {"0123", "0123456789ABCDEFG", "0123456789ABCDEX", ""})
    EXPECT_EQ(first->SetPropertyText("LinkReplicaID", bad, 0), 0) << bad;
  EXPECT_EQ(first->SetPropertyText("LinkNoteUniversalID", kReplica1, 0), 0);
  after = Records();
  ASSERT_EQ(after.size(), kept.size());
  EXPECT_TRUE(SameRecords(after, 0, kept, 0, kept.size()));
  ExpectSound();
  const std::string page = ReloadAndRender();
  EXPECT_NE(page.find(std::string("notes:///00112233445566AA/") + kView1 + "/" + kNote2),
            std::string::npos)
      << page;
}

// Display comment, server hint and anchor keep their places when a link is
// rewritten, and its length word covers the optional anchor.
TEST_F(Rewrite, LinkRewriteKeepsTheStringOrder) {
  auto link = [](const std::vector<std::string>& strings) {
    Bytes b;
    Put16(b, 0xFF92);
    Put16(b, 0);
    b.resize(44, 0);
    for (int i = 0; i < 8; ++i) b[4 + i] = uint8_t(i + 1);
    for (const std::string& s : strings) {
      b.insert(b.end(), s.begin(), s.end());
      b.push_back(0);
    }
    b[2] = uint8_t(b.size());
    return b;
  };
  const Bytes withAnchor = link({"Shown", "CN=Srv", "Part2"});
  const Bytes without = link({"Other", ""});
  ASSERT_TRUE(OpenBuilt({Para(), PabRef(1), Text("a"), withAnchor, Text("b"), without}));
  TorvoRTChunk* all = Define("");
  EXPECT_EQ(all->SetPropertyText("LinkReplicaID", "0000000100000002", 0), 1);
  const std::vector<Rec> after = Records();
  const size_t l1 = Find(after, 0xFF92), l2 = Find(after, 0xFF92, l1 + 1);
  ASSERT_LT(l2, after.size());
  EXPECT_EQ(LinkStrings(after[l1].bytes), (std::vector<std::string>{"Shown", "CN=Srv", "Part2"}));
  EXPECT_EQ(LinkStrings(after[l2].bytes), (std::vector<std::string>{"Other", ""}));
  EXPECT_EQ(Word(after[l2].bytes, 2), 44 + 5 + 1 + 1);
  EXPECT_EQ(Word(after[l1].bytes, 4), 2);  // high word first in the text
  EXPECT_EQ(Word(after[l1].bytes, 8), 1);
  ExpectSound();
  const std::string page = ReloadAndRender();
  EXPECT_NE(page.find("notes://CN=Srv/0000000100000002#Part2\" class=\"doclink\">Shown</a>"),
            std::string::npos)
      << page;
}

// ---- element properties (2437) ------------------------------------------------------

// The first layer of the form has its own record (ID Layer_1) and holds a
// table and a field with records of their own.
TEST_F(Rewrite, LayerHtmlKeysChangeOnlyTheLayersOwnRecord) {
  if (!OpenCorpus("jnx/testDbDesignEmbedded/embedded_view.xml", "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  const size_t layer = Find(before, 108);
  ASSERT_LT(layer, before.size());
  const size_t own = Find(before, 0xFF7A, layer);
  ASSERT_EQ(AttrString(before[own].bytes, 0), "Layer_1");
  size_t others = 0;
  for (size_t i = own + 1; i < before.size() && before[i].sig != 108; ++i)
    others += before[i].sig == 0xFF7A;
  ASSERT_GE(others, 2u);

  TorvoRTChunk* chunk = Define("Layer 1");
  ASSERT_TRUE(chunk);
  chunk->AlterRichText(2437, LAYER, 0, 0, 0, "LayerHTMLClass=boxed LayerHTMLTitle=Top", nullptr,
                       nullptr, nullptr);
  ASSERT_EQ(chunk->lastStatus, 0);
  const std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    if (i == own) continue;
    EXPECT_EQ(after[i].bytes, before[i].bytes) << "record " << i + 1;
  }
  EXPECT_EQ(AttrString(after[own].bytes, 0), "Layer_1");
  EXPECT_EQ(AttrString(after[own].bytes, 1), "boxed");
  EXPECT_EQ(AttrString(after[own].bytes, 3), "Top");
  ExpectSound();
  const std::string page = ReloadAndRender();
  EXPECT_NE(page.find("class=\"boxed\""), std::string::npos);
}

// The name in a stored (canonical) resource record: data after its 26-byte head.
std::string ResourceName(const Bytes& rec) {
  const size_t at = 26 + Word(rec, 14) + Word(rec, 16) + (Word(rec, 8) == 3 ? 8 : 0);
  const size_t n = Word(rec, 12);
  return at + n <= rec.size() ? std::string(rec.begin() + long(at), rec.begin() + long(at + n)) : "";
}

// A background image goes into the layer's head (before its first
// paragraph) once; a second call renames it.
TEST_F(Rewrite, LayerBackgroundImageIsWrittenOnceThenRenamed) {
  if (!OpenCorpus("jnx/testDbDesignEmbedded/embedded_view.xml", "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  const size_t layer = Find(before, 108);
  const size_t para = Find(before, 129, layer);
  ASSERT_GT(Find(before, 0xFFF6, layer), para);  // none in the head
  TorvoRTChunk* chunk = Define("Layer 1");
  chunk->AlterRichText(2437, LAYER, 0, 0, 0, "BackgroundImage=sky.gif", nullptr, nullptr, nullptr);
  ASSERT_EQ(chunk->lastStatus, 0);
  std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_TRUE(SameRecords(after, 0, before, 0, para));
  EXPECT_EQ(after[para].sig, 0xFFF6);
  EXPECT_EQ(ResourceName(after[para].bytes), "sky.gif");
  EXPECT_TRUE(SameRecords(after, para + 1, before, para, before.size() - para));

  chunk->AlterRichText(2437, LAYER, 0, 0, 0, "BackgroundImage=night.png", nullptr, nullptr,
                       nullptr);
  ASSERT_EQ(chunk->lastStatus, 0);
  after = Records();
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(ResourceName(after[para].bytes), "night.png");
  EXPECT_TRUE(SameRecords(after, para + 1, before, para, before.size() - para));
  ExpectSound();
  ReloadAndRender();
}

// ---- encoded picture (2825) -----------------------------------------------------------

TEST_F(Rewrite, EncodedValueOfAPictureIsItsSegmentsData) {
  if (!OpenCorpus("ukl/Forms/Badge.form", "$Body")) GTEST_SKIP() << "no corpus";
  // The picture's bytes as stored: the used part of each segment after the
  // image header (canonical segment: used size at 6, data from 10).
  const std::vector<Rec> recs = Records();
  const size_t header = Find(recs, 125);
  ASSERT_LT(header, recs.size());
  Bytes picture;
  for (size_t i = header + 1; i < recs.size() && recs[i].sig == 124; ++i) {
    const Bytes& seg = recs[i].bytes;
    picture.insert(picture.end(), seg.begin() + 10, seg.begin() + 10 + Word(seg, 6));
  }
  ASSERT_GT(picture.size(), 2u);
  ASSERT_EQ(picture[0], 0xFF);  // a JPEG
  ASSERT_EQ(picture[1], 0xD8);

  TorvoRTChunk* graphic = Define("Graphic 1");
  ASSERT_TRUE(graphic);
  const char* text = graphic->GetEncodedValue(60000, 0, 0);
  ASSERT_NE(text, nullptr);
  std::vector<uint8_t> decoded;
  ASSERT_TRUE(kvtest::DecodeBase64(text, &decoded));
  EXPECT_EQ(decoded, picture);
  // Too small a size gives nothing.
  EXPECT_EQ(graphic->GetEncodedValue(200, 0, 0), nullptr);
  EXPECT_TRUE(SameRecords(Records(), 0, recs, 0, recs.size()));
}

// ---- merged cells (2405) ----------------------------------------------------------------

// The form's second table: cells whose paragraphs start 15 twips inside
// them. Merging the first row's two cells gives one paragraph from 15 twips
// inside the first cell to 15 twips inside the last.
TEST_F(Rewrite, MergedCellsParagraphKeepsTheColumnOffset) {
  if (!OpenCorpus("jnx/testDbDesignForms/form-testls.xml", "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  size_t pre = 0;
  for (int seen = 0; pre < before.size(); ++pre)
    if (before[pre].sig == 0xFFFB && ++seen == 2) break;
  const size_t cell1 = Find(before, 164, pre), cell2 = Find(before, 164, cell1 + 1);
  ASSERT_LT(cell2, before.size());
  const uint16_t left1 = Word(before[cell1].bytes, 4), right2 = Word(before[cell2].bytes, 6);
  const Bytes& def1 = before[Find(before, 0xFF82, cell1)].bytes;
  const uint16_t offset = uint16_t(Word(def1, 14) - left1);
  ASSERT_EQ(offset, 15);

  TorvoRTChunk* table = Define("Table 2");
  table->AlterRichText(2405, 1, 1, 1, 2, nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(table->lastStatus, 0);
  const std::vector<Rec> after = Records();
  // The first cell is merged to the right, the last spans both columns and
  // is followed by the merged paragraph (its own paragraph start and first
  // reference give way to it).
  EXPECT_EQ(after[cell1].bytes[11] & 0x0C, 0x04);
  EXPECT_EQ(after[cell2].bytes[14], 1);
  EXPECT_EQ(after[cell2].bytes[15], 2);
  ASSERT_EQ(after[cell2 + 1].sig, 129);
  ASSERT_EQ(after[cell2 + 2].sig, 0xFF82);
  ASSERT_EQ(after[cell2 + 3].sig, 131);
  const Bytes& merged = after[cell2 + 2].bytes;
  EXPECT_EQ(Word(merged, 14), left1 + offset);
  EXPECT_EQ(Word(merged, 18), left1 + offset);
  EXPECT_EQ(Word(merged, 16), right2 - offset);
  EXPECT_EQ(Word(after[cell2 + 3].bytes, 2), Word(merged, 4));
  EXPECT_TRUE(SameRecords(after, 0, before, 0, cell1));
  // The cell's own definition stays; its paragraph start and reference went.
  ASSERT_EQ(after.size(), before.size() + 1);
  ASSERT_EQ(before[cell2 + 2].sig, 0xFF82);
  EXPECT_TRUE(SameRecords(after, cell2 + 4, before, cell2 + 2, 1));
  EXPECT_TRUE(SameRecords(after, cell2 + 5, before, cell2 + 4, before.size() - cell2 - 4));
  ExpectSound();
  ReloadAndRender();
}

}  // namespace
}  // namespace enginetest
