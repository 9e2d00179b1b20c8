// AppendRow through the chunk, checked by the records: the new row lies
// before its table's end, the table counts it, its cells carry the new row
// index and the caller's texts, and everything else stays as it was.
#include <string>
#include <vector>

#include "rewrite_fixture.h"

namespace enginetest {
namespace {

using AppendRow = RewriteDoc;

constexpr const char* kForm = "jnx/testDbDesignForms/form-testls.xml";

size_t Nth(const std::vector<Rec>& r, uint16_t sig, int n) {
  for (size_t i = 0; i < r.size(); ++i)
    if (r[i].sig == sig && --n == 0) return i;
  return r.size();
}

size_t Find(const std::vector<Rec>& r, uint16_t sig, size_t from) {
  for (size_t i = from; i < r.size(); ++i)
    if (r[i].sig == sig) return i;
  return r.size();
}

// The second table of the form: its records (pre-table group, begin, rows,
// end) by index.
struct TableAt {
  size_t preTable, end, row2;
};
TableAt SecondTable(const std::vector<Rec>& r) {
  TableAt t{Nth(r, 0xFFFB, 2), 0, 0};
  size_t begin = Find(r, 163, t.preTable);
  int nest = 0;
  for (size_t i = begin + 1; i < r.size(); ++i) {
    if (r[i].sig == 163 || r[i].sig == 207) ++nest;
    if ((r[i].sig == 165 || r[i].sig == 209) && nest-- == 0) {
      t.end = i;
      break;
    }
    if (nest == 0 && r[i].sig == 164 && r[i].bytes[2] == 1 && !t.row2) t.row2 = i;
  }
  return t;
}

TEST_F(AppendRow, TableChunkCopiesTheRowBeforeTheTablesEnd) {
  if (!OpenCorpus(kForm, "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  const TableAt t = SecondTable(before);
  ASSERT_LT(t.end, before.size());
  ASSERT_GT(t.row2, 0u);
  ASSERT_EQ(before[t.preTable].bytes[8], 2);  // two rows

  TorvoRTChunk* table = Define("Table 2");
  ASSERT_TRUE(table);
  const char* texts[20] = {"left", "right"};
  ASSERT_EQ(table->AppendRow(0, 2, texts), 0);
  const std::vector<Rec> after = Records();
  const size_t rowLength = t.end - t.row2;  // row 2 runs up to the table end
  ASSERT_EQ(after.size(), before.size() + rowLength);
  // Before the pre-table record, between it and the end, and after: unchanged.
  EXPECT_TRUE(SameRecords(after, 0, before, 0, t.preTable));
  EXPECT_EQ(after[t.preTable].bytes[8], 3);
  EXPECT_TRUE(SameRecords(after, t.preTable + 1, before, t.preTable + 1, t.end - t.preTable - 1));
  EXPECT_TRUE(SameRecords(after, t.end + rowLength, before, t.end, before.size() - t.end));
  // The copy: cells of row 3, the caller's texts, the rest as row 2 had it.
  std::vector<std::string> texts2;
  for (size_t i = 0; i < rowLength; ++i) {
    const Rec& n = after[t.end + i];
    const Rec& o = before[t.row2 + i];
    ASSERT_EQ(n.sig, o.sig) << i;
    if (n.sig == 164) {
      EXPECT_EQ(n.bytes[2], 2);
      EXPECT_EQ(n.bytes[3], o.bytes[3]);
    } else if (n.sig == 0xFF85) {
      texts2.emplace_back(n.bytes.begin() + 8, n.bytes.end());
    } else {
      EXPECT_EQ(n.bytes, o.bytes) << i;
    }
  }
  EXPECT_EQ(texts2, (std::vector<std::string>{"left", "right"}));
  EXPECT_EQ(after[t.end + rowLength].sig, 165);
  ExpectSound();
  const std::string page = ReloadAndRender();
  EXPECT_NE(page.find("right"), std::string::npos);
}

TEST_F(AppendRow, RowChunkRaisesTheCountAndKeepsTheTexts) {
  if (!OpenCorpus(kForm, "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  const TableAt t = SecondTable(before);
  TorvoRTChunk* row = Define("Table 2; Row 1");
  ASSERT_TRUE(row);
  ASSERT_EQ(row->AppendRow(1, 0, nullptr), 0);
  const std::vector<Rec> after = Records();
  const size_t rowLength = t.row2 - Find(before, 164, Find(before, 163, t.preTable));
  ASSERT_EQ(after.size(), before.size() + rowLength);
  EXPECT_EQ(after[t.preTable].bytes[8], 3);
  EXPECT_EQ(after[t.end].sig, 164);
  EXPECT_EQ(after[t.end].bytes[2], 2);
  EXPECT_EQ(after[t.end + rowLength].sig, 165);
  ExpectSound();
  ReloadAndRender();
}

TEST_F(AppendRow, MissingTableOrRowIsAFailureAndChangesNothing) {
  if (!OpenCorpus(kForm, "$Body")) GTEST_SKIP() << "no corpus";
  const std::vector<Rec> before = Records();
  TorvoRTChunk* table = Define("Table 9");
  ASSERT_TRUE(table);
  EXPECT_NE(table->AppendRow(1, 1, nullptr), 0);
  TorvoRTChunk* row = Define("Table 2; Row 7");
  ASSERT_TRUE(row);
  EXPECT_NE(row->AppendRow(1, 0, nullptr), 0);
  TorvoRTChunk* table2 = Define("Table 2");
  EXPECT_NE(table2->AppendRow(1, 5, nullptr), 0);
  const std::vector<Rec> after = Records();
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(SameRecords(after, 0, before, 0, before.size()));
}

}  // namespace
}  // namespace enginetest
