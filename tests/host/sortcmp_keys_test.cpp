// The sort comparators over 24-byte key entries, under the sort flag word.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/sortcmp.h"

using namespace kv;

namespace {

class SortCmp : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = SortGetFlags(); }
  void TearDown() override { SortSetFlags(saved_); }

  // Sorts the keys with the comparator and gives the keys back in order,
  // each followed by "#" and its original index.
  std::vector<std::string> Sorted(const std::vector<std::string>& keys,
                                  int (*cmp)(const void*, const void*)) {
    std::vector<SortKeyEntry> e(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      e[i] = SortKeyEntry{uint32_t(i), uint32_t(i), keys[i].data(), uint16_t(keys[i].size()), 0,
                          uint32_t(i)};
    }
    std::qsort(e.data(), e.size(), sizeof(SortKeyEntry), cmp);
    std::vector<std::string> out;
    for (const auto& x : e) out.push_back(keys[x.originalIndex] + "#" + std::to_string(x.originalIndex));
    return out;
  }

 private:
  uint32_t saved_ = 0;
};

using V = std::vector<std::string>;

}  // namespace

TEST_F(SortCmp, NumericAscendingAndDescending) {
  SortSetFlags(0);
  V keys = {"10", " 9", "-2.5", "1e2", "abc", "3 apples", "9"};
  EXPECT_EQ(Sorted(keys, SortCompareNumAsc),
            (V{"-2.5#2", "3 apples#5", " 9#1", "9#6", "10#0", "1e2#3", "abc#4"}));
  // Descending reverses the numbers and the text order of equal numbers.
  EXPECT_EQ(Sorted(keys, SortCompareNumDesc),
            (V{"abc#4", "1e2#3", "10#0", "9#6", " 9#1", "3 apples#5", "-2.5#2"}));
  // Fully equal keys keep their original order in both directions.
  EXPECT_EQ(Sorted(V{"7", "7", "7"}, SortCompareNumDesc), (V{"7#0", "7#1", "7#2"}));
}

TEST_F(SortCmp, NumericTiesFallBackToText) {
  SortSetFlags(0);
  V keys = {"5 pears", "5 apples", "5 apples"};
  EXPECT_EQ(Sorted(keys, SortCompareNumAsc), (V{"5 apples#1", "5 apples#2", "5 pears#0"}));
}

TEST_F(SortCmp, TextIgnoresCaseAndAccentsByDefault) {
  SortSetFlags(0);
  // 0x82 is e-acute in the platform text.
  V keys = {"pear", "Apple", "caf\x82", "apple", "cafe", "", "banana"};
  EXPECT_EQ(Sorted(keys, SortCompareTextAsc),
            (V{"#5", "Apple#1", "apple#3", "banana#6", "caf\x82#2", "cafe#4", "pear#0"}));
  EXPECT_EQ(Sorted(keys, SortCompareTextDesc),
            (V{"pear#0", "caf\x82#2", "cafe#4", "banana#6", "Apple#1", "apple#3", "#5"}));
}

TEST_F(SortCmp, FlagsMakeCaseAndAccentsCount) {
  V keys = {"cafe", "Cafe", "caf\x82"};
  SortSetFlags(kSortAccentSensitive);
  // Accents count, case does not: "cafe" and "Cafe" tie and keep their order.
  EXPECT_EQ(Sorted(keys, SortCompareTextAsc), (V{"cafe#0", "Cafe#1", "caf\x82#2"}));
  SortSetFlags(kSortCaseSensitive);
  // Case counts (lower first), accents do not.
  EXPECT_EQ(Sorted(keys, SortCompareTextAsc), (V{"cafe#0", "caf\x82#2", "Cafe#1"}));
  SortSetFlags(kSortCaseSensitive | kSortAccentSensitive);
  EXPECT_EQ(Sorted(keys, SortCompareTextAsc), (V{"cafe#0", "Cafe#1", "caf\x82#2"}));
  EXPECT_EQ(SortGetFlags(), kSortCaseSensitive | kSortAccentSensitive);
}

TEST_F(SortCmp, NullKeysAndConsistency) {
  SortSetFlags(0);
  SortKeyEntry a{0, 0, nullptr, 5, 0, 0};
  SortKeyEntry b{0, 0, "x", 1, 0, 1};
  EXPECT_LT(SortCompareTextAsc(&a, &b), 0);
  EXPECT_GT(SortCompareTextAsc(&b, &a), 0);
  EXPECT_LT(SortCompareNumAsc(&a, &b), 0);
  EXPECT_EQ(SortCompareTextAsc(&a, &a), 0);
  // The key length bounds the read: the text after it does not count.
  SortKeyEntry c{0, 0, "12345", 2, 0, 2};
  SortKeyEntry d{0, 0, "13", 2, 0, 3};
  EXPECT_LT(SortCompareNumAsc(&c, &d), 0);
}
