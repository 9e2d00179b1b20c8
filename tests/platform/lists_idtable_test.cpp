// ID tables: sorted unique ids, scans, and handle checks.
#include <gtest/gtest.h>

#include <vector>

#include "nn/nn.h"

namespace {

std::vector<NOTEID> scanAll(NnHandle h) {
  std::vector<NOTEID> out;
  NOTEID id = 0;
  for (bool first = true; NnIdTableScan(h, first, &id); first = false) out.push_back(id);
  return out;
}

TEST(ListsIdTable, InsertKeepsIdsSortedAndUnique) {
  NnHandle h = 0;
  ASSERT_EQ(NnIdTableCreate(&h), NN_OK);
  EXPECT_EQ(scanAll(h), std::vector<NOTEID>{});
  for (NOTEID id : {0x30u, 0x10u, 0x20u, 0x10u, 0xFFFFFFFFu, 0x20u}) EXPECT_EQ(NnIdTableInsert(h, id), NN_OK);
  EXPECT_EQ(NnIdTableEntries(h), 4u);
  EXPECT_EQ(scanAll(h), (std::vector<NOTEID>{0x10, 0x20, 0x30, 0xFFFFFFFF}));
  // A finished scan stays finished until restarted.
  NOTEID id = 0;
  EXPECT_FALSE(NnIdTableScan(h, false, &id));
  EXPECT_TRUE(NnIdTableScan(h, true, &id));
  EXPECT_EQ(id, 0x10u);
  EXPECT_EQ(NnIdTableFree(h), NN_OK);
}

TEST(ListsIdTable, ScanContinuesPastIdsInsertedMeanwhile) {
  NnHandle h = 0;
  ASSERT_EQ(NnIdTableCreate(&h), NN_OK);
  NnIdTableInsert(h, 10);
  NnIdTableInsert(h, 30);
  NOTEID id = 0;
  ASSERT_TRUE(NnIdTableScan(h, true, &id));
  EXPECT_EQ(id, 10u);
  NnIdTableInsert(h, 5);   // before the position: not visited now
  NnIdTableInsert(h, 20);  // after it: visited next
  ASSERT_TRUE(NnIdTableScan(h, false, &id));
  EXPECT_EQ(id, 20u);
  ASSERT_TRUE(NnIdTableScan(h, false, &id));
  EXPECT_EQ(id, 30u);
  EXPECT_FALSE(NnIdTableScan(h, false, &id));
  NnIdTableFree(h);
}

TEST(ListsIdTable, BadHandlesAreRefused) {
  NnHandle h = 0;
  ASSERT_EQ(NnIdTableCreate(&h), NN_OK);
  ASSERT_EQ(NnIdTableFree(h), NN_OK);
  NOTEID id = 0;
  for (NnHandle bad : {NnHandle(0), h, NnHandle(0x01000001), NnHandle(0x04FFFFFF)}) {
    EXPECT_EQ(NnIdTableInsert(bad, 1), NN_ERR_BAD_HANDLE);
    EXPECT_EQ(NnIdTableEntries(bad), 0u);
    EXPECT_FALSE(NnIdTableScan(bad, true, &id));
    EXPECT_EQ(NnIdTableFree(bad), NN_ERR_BAD_HANDLE);
  }
  // A memory handle is of another kind, even when its serial matches.
  NnHandle mem = 0;
  ASSERT_EQ(NnMemAlloc(4, 0, &mem), NN_OK);
  EXPECT_EQ(NnIdTableFree(mem), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnMemFree(mem), NN_OK);
  EXPECT_EQ(NnIdTableCreate(nullptr), NN_ERR_INVALID_ARG);
}

}  // namespace
