// The re-emission of sorted table rows (2396) from keys a key collection left
// on the chunk.
#include "engine_fixture.h"
#include "host/pool.h"

namespace enginetest {
namespace {

class SortRows : public EngineDoc {
 protected:
  // Leaves keys on the chunk: {first, last, key, title flag}.
  void Keys(std::vector<std::tuple<uint32_t, uint32_t, const char*, uint16_t>> keys) {
    auto* e = static_cast<kv::SortKeyEntry*>(
        POOL_ALLOC(session, keys.size() * sizeof(kv::SortKeyEntry), true));
    ASSERT_NE(e, nullptr);
    for (size_t i = 0; i < keys.size(); ++i) {
      e[i].firstRecord = std::get<0>(keys[i]);
      e[i].lastRecord = std::get<1>(keys[i]);
      e[i].keyText = POOL_STRDUP(session, std::get<2>(keys[i]));
      e[i].keyLength = uint16_t(std::strlen(std::get<2>(keys[i])));
      e[i].reserved = std::get<3>(keys[i]);
    }
    chunk->internal->rowKeys = e;
    chunk->internal->rowKeyCount = uint16_t(keys.size());
  }
  static std::vector<Bytes> Table3() {
    // Records 1..: table begin; rows of two records each; table end; text.
    return {TableBegin(), Cell(0, 0), Text("Name"), Cell(1, 0), Text("pear"),
            Cell(2, 0),   Text("apple"), TableEnd(), Text("after")};
  }
  chunkdef_info* RowsOfTable() { return Chain({Node(REL_CONTAINS, ROW, {})}); }
};

TEST_F(SortRows, RowsComeBackInKeyOrderWithTheTitleRowInPlace) {
  Make(Table3(), RowsOfTable());
  Keys({{2, 3, "Name", 1}, {4, 5, "pear", 0}, {6, 7, "apple", 0}});
  ASSERT_EQ(Run(2396), 0);
  // The rows take the numbers of the places they sorted into.
  EXPECT_EQ(Stored(), Join({TableBegin(), Cell(0, 0), Text("Name"), Cell(1, 0), Text("apple"),
                            Cell(2, 0), Text("pear"), TableEnd(), Text("after")}));
  EXPECT_EQ(chunk->internal->rowKeys, nullptr);
}

TEST_F(SortRows, ReverseWithoutTitleRowsSortsEveryRow) {
  Make(Table3(), RowsOfTable());
  Keys({{2, 3, "Name", 0}, {4, 5, "pear", 0}, {6, 7, "apple", 0}});
  ASSERT_EQ(Run(2396, 0, 0, "Reverse"), 0);
  EXPECT_EQ(Stored(), Join({TableBegin(), Cell(0, 0), Text("pear"), Cell(1, 0), Text("Name"),
                            Cell(2, 0), Text("apple"), TableEnd(), Text("after")}));
}

TEST_F(SortRows, KeysThatDoNotMatchTheRowsLeaveTheItemAlone) {
  Make(Table3(), RowsOfTable());
  Bytes before = Stored();
  // A gap between the ranges would lose records 4 and 5.
  Keys({{2, 3, "b", 0}, {6, 7, "a", 0}});
  EXPECT_NE(Run(2396), 0);
  EXPECT_EQ(Stored(), before);
  Keys({{2, 3, "b", 0}, {4, 99, "a", 0}});
  EXPECT_NE(Run(2396), 0);
  EXPECT_EQ(Stored(), before);
}

TEST_F(SortRows, OneKeyIsNoSort) {
  Make(Table3(), RowsOfTable());
  Bytes before = Stored();
  Keys({{2, 3, "b", 0}});
  EXPECT_EQ(Run(2396), 1026);
  EXPECT_EQ(Stored(), before);
}

}  // namespace
}  // namespace enginetest
