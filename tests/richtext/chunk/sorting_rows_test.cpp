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

TEST_F(SortByRowTest, ATableChunkSucceedsEvenWhenNoKeyIsFound) {
  TorvoRTChunk* table = item->DefineChunk("Table 1");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->SortByRow(2, 1, 0, 0, "TitleRows=0 SecondaryCol2=1 SecondaryNumeric2=yes"), 0);
  EXPECT_EQ(table->lastStatus, 0);
}

}  // namespace
