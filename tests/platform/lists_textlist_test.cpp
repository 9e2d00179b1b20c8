// Text lists built in memory handles and read back, including lists from
// untrusted bytes through the length-checked readers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "nn/nn.h"

namespace {

std::vector<std::string> entries(NnHandle h) {
  std::vector<std::string> out;
  const void* p = NnMemLock(h);
  uint32_t size = NnMemSize(h);
  uint16_t n = NnTextListCount(p);
  for (uint16_t i = 0; i < n; ++i) {
    const char* t = nullptr;
    uint16_t len = 0;
    EXPECT_EQ(NnTextListGetEntryChecked(p, size, i, &t, &len), NN_OK);
    out.emplace_back(t, len);
  }
  NnMemUnlock(h);
  return out;
}

TEST(ListsTextList, AllocateEmptyAndPresized) {
  NnHandle h = 0;
  uint32_t size = 0;
  ASSERT_EQ(NnTextListAllocate(0, 100, &h, &size), NN_OK);
  EXPECT_EQ(size, 2u);
  EXPECT_TRUE(entries(h).empty());
  NnMemFree(h);

  ASSERT_EQ(NnTextListAllocate(3, 0, &h, &size), NN_OK);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(entries(h), (std::vector<std::string>{"", "", ""}));
  // A presized list keeps its empty entries; new ones follow them.
  ASSERT_EQ(NnTextListAddEntry(h, "x", 1, &size), NN_OK);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(entries(h), (std::vector<std::string>{"", "", "", "x"}));
  NnMemFree(h);
  EXPECT_EQ(NnTextListAllocate(0, 0, nullptr, &size), NN_ERR_INVALID_ARG);
}

TEST(ListsTextList, AddEntriesGrowsAndKeepsLayout) {
  NnHandle h = 0;
  uint32_t size = 0;
  ASSERT_EQ(NnTextListAllocate(0, 0, &h, &size), NN_OK);
  ASSERT_EQ(NnTextListAddEntry(h, "alpha", 5, &size), NN_OK);
  ASSERT_EQ(NnTextListAddEntry(h, nullptr, 0, &size), NN_OK);
  ASSERT_EQ(NnTextListAddEntry(h, "be", 2, &size), NN_OK);
  EXPECT_EQ(size, 2u + 6u + 7u);
  EXPECT_EQ(NnMemSize(h), size);
  const uint8_t expect[] = {3, 0, 5, 0, 0, 0, 2, 0, 'a', 'l', 'p', 'h', 'a', 'b', 'e'};
  const void* p = NnMemLock(h);
  ASSERT_EQ(std::memcmp(p, expect, sizeof expect), 0);
  const char* t = nullptr;
  uint16_t len = 9;
  EXPECT_EQ(NnTextListGetEntry(p, 2, &t, &len), NN_OK);
  EXPECT_EQ(std::string(t, len), "be");
  EXPECT_EQ(NnTextListGetEntry(p, 3, &t, &len), NN_ERR_INVALID_ARG);
  NnMemUnlock(h);
  EXPECT_EQ(NnTextListAddEntry(h, nullptr, 4, &size), NN_ERR_INVALID_ARG);
  NnMemFree(h);
}

TEST(ListsTextList, AddEntryCopiesTextFromTheListItself) {
  // The source text lies in the block that the add moves.
  NnHandle h = 0;
  ASSERT_EQ(NnTextListAllocate(0, 0, &h, nullptr), NN_OK);
  ASSERT_EQ(NnTextListAddEntry(h, "selfcopy", 8, nullptr), NN_OK);
  const char* t = nullptr;
  uint16_t len = 0;
  ASSERT_EQ(NnTextListGetEntry(NnMemLock(h), 0, &t, &len), NN_OK);
  ASSERT_EQ(NnTextListAddEntry(h, t, len, nullptr), NN_OK);
  NnMemUnlock(h);
  EXPECT_EQ(entries(h), (std::vector<std::string>{"selfcopy", "selfcopy"}));
  NnMemFree(h);
}

TEST(ListsTextList, AddEntryRefusesBadHandleAndCorruptList) {
  EXPECT_EQ(NnTextListAddEntry(0, "a", 1, nullptr), NN_ERR_BAD_HANDLE);
  NnHandle h = 0;
  ASSERT_EQ(NnTextListAllocate(1, 0, &h, nullptr), NN_OK);
  NnHandle freed = h;
  NnMemFree(freed);
  EXPECT_EQ(NnTextListAddEntry(freed, "a", 1, nullptr), NN_ERR_BAD_HANDLE);

  // A block whose lengths run past its end is refused and left alone.
  ASSERT_EQ(NnMemAlloc(6, 0, &h), NN_OK);
  const uint8_t bad[] = {1, 0, 9, 0, 'a', 'b'};
  std::memcpy(NnMemLock(h), bad, sizeof bad);
  NnMemUnlock(h);
  EXPECT_EQ(NnTextListAddEntry(h, "c", 1, nullptr), NN_ERR_BAD_ITEM);
  EXPECT_EQ(NnMemSize(h), 6u);
  EXPECT_EQ(std::memcmp(NnMemLock(h), bad, sizeof bad), 0);
  NnMemUnlock(h);
  NnMemFree(h);
}

TEST(ListsTextList, FullListRefusesAnotherEntry) {
  NnHandle h = 0;
  uint32_t size = 0;
  ASSERT_EQ(NnTextListAllocate(0xFFFE, 0, &h, &size), NN_OK);
  ASSERT_EQ(NnTextListAddEntry(h, "z", 1, &size), NN_OK);
  EXPECT_EQ(NnTextListAddEntry(h, "z", 1, &size), NN_ERR_MEMORY);
  EXPECT_EQ(NnMemSize(h), size);
  const void* p = NnMemLock(h);
  EXPECT_EQ(NnTextListCount(p), 0xFFFF);
  const char* t = nullptr;
  uint16_t len = 0;
  ASSERT_EQ(NnTextListGetEntryChecked(p, size, 0xFFFE, &t, &len), NN_OK);
  EXPECT_EQ(std::string(t, len), "z");
  NnMemUnlock(h);
  NnMemFree(h);
}

TEST(ListsTextList, CheckedReadersStayInsideTheBuffer) {
  const uint8_t good[] = {2, 0, 1, 0, 2, 0, 'a', 'b', 'c'};
  uint16_t n = 0;
  const char* t = nullptr;
  uint16_t len = 0;
  EXPECT_EQ(NnTextListCountChecked(good, sizeof good, &n), NN_OK);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(NnTextListGetEntryChecked(good, sizeof good, 1, &t, &len), NN_OK);
  EXPECT_EQ(std::string(t, len), "bc");
  EXPECT_EQ(NnTextListGetEntryChecked(good, sizeof good, 2, &t, &len), NN_ERR_INVALID_ARG);

  // Every truncation of a good list is refused; each is copied into an exact
  // heap buffer so a read past it would be caught.
  for (uint32_t cut = 0; cut < sizeof good; ++cut) {
    std::vector<uint8_t> part(good, good + cut);
    const uint8_t* p = cut ? part.data() : good;
    EXPECT_EQ(NnTextListCountChecked(p, cut, &n), NN_ERR_BAD_ITEM) << cut;
    EXPECT_EQ(NnTextListGetEntryChecked(p, cut, 0, &t, &len), NN_ERR_BAD_ITEM) << cut;
  }
  // A count far past the bytes, and a huge length.
  const uint8_t manyEntries[] = {0xFF, 0xFF, 0, 0};
  EXPECT_EQ(NnTextListCountChecked(manyEntries, sizeof manyEntries, &n), NN_ERR_BAD_ITEM);
  const uint8_t longEntry[] = {1, 0, 0xFF, 0xFF, 'a'};
  EXPECT_EQ(NnTextListGetEntryChecked(longEntry, sizeof longEntry, 0, &t, &len), NN_ERR_BAD_ITEM);
  EXPECT_EQ(NnTextListCountChecked(nullptr, 4, &n), NN_ERR_INVALID_ARG);
  EXPECT_EQ(NnTextListCount(nullptr), 0);
  EXPECT_EQ(NnTextListGetEntry(nullptr, 0, &t, &len), NN_ERR_INVALID_ARG);
}

}  // namespace
