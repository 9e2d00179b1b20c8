// SortByRow on chunks that do and do not address a table.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

class SortByRowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    ASSERT_TRUE(session.IsValid());
    std::string path = "mem-sorting-" + std::to_string(++counter) + ".nsf";
    ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
    std::string s;
    auto add = [&](std::string r) {
      s += r;
      if (r.size() % 2) s.push_back('\0');
    };
    add(std::string{char(0xA3), 14} + std::string(12, '\0'));
    for (int row = 0; row < 2; ++row) {
      add(std::string{char(0xA4), 18, char(row), 0} + std::string(14, '\0'));
      add(std::string("\x85\xFF\x09\x00\x01\x00\x00\x0A", 8) + char('a' + row));
    }
    add(std::string{char(0xA5), 6, 0, 0, 0, 0});
    ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, s.data(), uint32_t(s.size())),
              NN_OK);
    item = new TorvoRTItem(&session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
  }
  void TearDown() override {
    NnNoteClose(note);
    NnDbClose(db);
  }
  LSXLsiSession session;
  NnHandle db = 0, note = 0;
  TorvoRTItem* item = nullptr;
};

TEST_F(SortByRowTest, AChunkThatIsNotATableIsRefused) {
  TorvoRTChunk* text = item->DefineChunk("Text 1");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->SortByRow(1, 1, 0, 0, ""), 20020);
}

TEST_F(SortByRowTest, AColumnTheTableLacksIsRefused) {
  TorvoRTChunk* table = item->DefineChunk("Table 1");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->SortByRow(1, 1, 0, 0, "TitleRows=0 SecondaryCol2=1 SecondaryNumeric2=yes"), 0);
  EXPECT_EQ(table->lastStatus, 0);
  // The table is one column wide.
  EXPECT_EQ(table->SortByRow(2, 1, 0, 0, "TitleRows=0"), NN_ERR_INVALID_ARG);
  EXPECT_EQ(table->SortByRow(1, 1, 0, 0, "TitleRows=0 SecondaryCol1=2"), NN_ERR_INVALID_ARG);
  EXPECT_EQ(table->lastStatus, NN_ERR_INVALID_ARG);
}

}  // namespace

namespace {

// Rows keyed "cherry", "apple", "banana" in the first column come back in
// order, each row whole (its second cell travels with it), the item otherwise
// unchanged; the reverse sort gives the opposite order.
class SortByRowOrderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NnDbOpen("mem-sorting-order.nsf", NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
    std::string s;
    auto add = [&](std::string r) {
      s += r;
      if (r.size() % 2) s.push_back('\0');
    };
    auto text = [&](const std::string& t) {
      std::string r("\x85\xFF", 2);
      r += char(8 + t.size());
      r += std::string("\x00\x01\x00\x00\x0A", 5);
      r += t;
      add(r);
    };
    text("before");
    add(std::string{char(0xA3), 14} + std::string(12, '\0'));
    const char* keys[] = {"cherry", "apple", "banana"};
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 2; ++col) {
        // Byte 14 of a cell: the rows it spans (the first cell's is `span`).
        add(std::string{char(0xA4), 18, char(row), char(col)} + std::string(10, '\0') +
            char(row == 0 && col == 0 ? span : 0) + std::string(3, '\0'));
        text(col == 0 ? keys[row] : std::string(keys[row]) + "-2");
      }
    }
    add(std::string{char(0xA5), 6, 0, 0, 0, 0});
    text("after");
    ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, s.data(), uint32_t(s.size())),
              NN_OK);
    item = new TorvoRTItem(&session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
  }
  void TearDown() override {
    NnNoteClose(note);
    NnDbClose(db);
  }
  std::string Text() {
    TorvoRTChunk* all = item->DefineChunk("");
    char buffer[1024] = {};
    all->GetText("", buffer, sizeof buffer, 1, "|");
    delete all;
    return buffer;
  }
  LSXLsiSession session;
  NnHandle db = 0, note = 0;
  TorvoRTItem* item = nullptr;
  char span = 0;
};

TEST_F(SortByRowOrderTest, RowsComeBackInKeyOrderWhole) {
  TorvoRTChunk* table = item->DefineChunk("Table 1");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->SortByRow(1, 0, 0, 0, ""), 0);
  EXPECT_EQ(Text(), "before|apple|apple-2|banana|banana-2|cherry|cherry-2|after");
  EXPECT_EQ(table->SortByRow(1, 0, 0, 1, ""), 0);
  EXPECT_EQ(Text(), "before|cherry|cherry-2|banana|banana-2|apple|apple-2|after");
  delete table;
}

// A cell spanning rows would cover rows it never spanned once they move: the
// table is not sorted, and a row the span covers is not taken out; a row
// beyond the span is.
class SortSpannedRowsTest : public SortByRowOrderTest {
 protected:
  void SetUp() override {
    span = 2;
    SortByRowOrderTest::SetUp();
  }
};

TEST_F(SortSpannedRowsTest, TheTableIsLeftAsItIs) {
  const std::string before = Text();
  EXPECT_EQ(item->DefineChunk("Table 1")->SortByRow(1, 0, 0, 0, ""), NN_ERR_CD_STRUCTURE);
  EXPECT_EQ(item->DefineChunk("Table 1; Row 2")->Remove(), NN_ERR_CD_STRUCTURE);
  EXPECT_EQ(Text(), before);
  EXPECT_EQ(item->DefineChunk("Table 1; Row 3")->Remove(), 0);
  EXPECT_EQ(Text(), "before|cherry|cherry-2|apple|apple-2|after");
}

}  // namespace
