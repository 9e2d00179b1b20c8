#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"

namespace {

// True when the platform log keeps lines (it may still be a stand-in).
bool LogCaptures() {
  NnLogClear();
  NnLogMessage(0, "probe");
  bool ok = NnLogCaptured().find("probe") != std::string::npos;
  NnLogClear();
  return ok;
}

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override { pool = PoolCreate(); ASSERT_NE(pool, nullptr); }
  void TearDown() override { PoolRelease(pool); }
  PoolBlock* Alloc(size_t size, bool zero = false) {
    return PoolAllocBlock(pool, __LINE__, __FILE__, size, zero);
  }
  MemoryPool* pool = nullptr;
};

TEST(PoolClasses, BoundariesOfEachClass) {
  EXPECT_EQ(PoolClassSize(0), 1u);
  EXPECT_EQ(PoolClassSize(1), 1u);
  EXPECT_EQ(PoolClassSize(2), 32u);
  EXPECT_EQ(PoolClassSize(32), 32u);
  EXPECT_EQ(PoolClassSize(33), 128u);
  EXPECT_EQ(PoolClassSize(128), 128u);
  EXPECT_EQ(PoolClassSize(129), 256u);
  EXPECT_EQ(PoolClassSize(256), 256u);
  EXPECT_EQ(PoolClassSize(257), 512u);
  EXPECT_EQ(PoolClassSize(4096), 4096u);
  EXPECT_EQ(PoolClassSize(4097), 6144u);
  EXPECT_EQ(PoolClassSize(16384), 16384u);
  EXPECT_EQ(PoolClassSize(16385), 32768u);
  EXPECT_EQ(PoolClassSize(49152), 49152u);
  EXPECT_EQ(PoolClassSize(49153), 65406u);
  EXPECT_EQ(PoolClassSize(65406), 65406u);
  EXPECT_EQ(PoolClassSize(65407), 65407u);
}

TEST_F(PoolTest, BlockHasClassCapacityAndIsWritable) {
  PoolBlock* b = Alloc(300, true);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->size, 512u);
  EXPECT_EQ(b->requested, 300u);
  const char* data = static_cast<const char*>(b->data);
  for (size_t i = 0; i < b->size; i++) ASSERT_EQ(data[i], 0) << i;
  std::memset(b->data, 'x', b->size);  // the whole capacity is the caller's
  EXPECT_EQ(PoolGetStats(pool).liveBlocks, 1u);
  PoolFreeBlock(pool, b);
  EXPECT_EQ(PoolGetStats(pool).liveBlocks, 0u);
  EXPECT_EQ(PoolGetStats(pool).freeBlocks, 1u);
}

TEST_F(PoolTest, ReusesSameSizeAndUpToTwiceButNotMore) {
  PoolBlock* a = Alloc(500);  // 512
  void* aData = a->data;
  PoolFreeBlock(pool, a);
  PoolBlock* same = Alloc(400);  // class 512: the same block
  EXPECT_EQ(same->data, aData);
  PoolFreeBlock(pool, same);

  PoolBlock* big = Alloc(1024);  // 1024
  void* bigData = big->data;
  PoolFreeBlock(pool, big);
  PoolBlock* half = Alloc(512);  // 512 takes the 512 first (exact class)
  EXPECT_EQ(half->data, aData);
  PoolBlock* half2 = Alloc(512);  // then the 1024 (twice the size)
  EXPECT_EQ(half2->data, bigData);
  EXPECT_EQ(half2->size, 1024u);
  PoolFreeBlock(pool, half);
  PoolFreeBlock(pool, half2);

  PoolTrim(pool);
  PoolBlock* quad = Alloc(2048);
  void* quadData = quad->data;
  PoolFreeBlock(pool, quad);
  PoolBlock* small = Alloc(512);  // 2048 is more than twice 512: new storage
  EXPECT_NE(small->data, quadData);
  EXPECT_EQ(small->size, 512u);
  PoolFreeBlock(pool, small);
  EXPECT_EQ(PoolGetStats(pool).reuses, 3u);
}

TEST_F(PoolTest, ReusedBlockIsZeroedWhenAsked) {
  PoolBlock* a = Alloc(100);
  std::memset(a->data, 0x5A, a->size);
  PoolFreeBlock(pool, a);
  PoolBlock* b = Alloc(100, true);
  ASSERT_EQ(b, a);
  EXPECT_EQ(static_cast<unsigned char*>(b->data)[0], 0);
  EXPECT_EQ(static_cast<unsigned char*>(b->data)[99], 0);
  PoolFreeBlock(pool, b);
}

TEST_F(PoolTest, OneByteRequestsShareOneEmptyBlock) {
  PoolBlock* a = Alloc(1);
  PoolBlock* b = Alloc(1);
  PoolBlock* z = Alloc(0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, z);
  EXPECT_EQ(static_cast<char*>(a->data)[0], 0);
  EXPECT_EQ(PoolGetStats(pool).liveBlocks, 0u);
  PoolFreeBlock(pool, a);  // ignored
  PoolFreePtr(pool, b->data);
  EXPECT_EQ(Alloc(1), a);
}

TEST_F(PoolTest, LargeRequestsHaveTheirOwnStorageReleasedOnFree) {
  PoolBlock* b = Alloc(100000, true);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->own);
  EXPECT_EQ(b->size, 100000u);
  static_cast<char*>(b->data)[99999] = 1;
  PoolFreeBlock(pool, b);
  PoolStats s = PoolGetStats(pool);
  EXPECT_EQ(s.liveBlocks, 0u);
  EXPECT_EQ(s.freeBlocks, 0u);
  PoolBlock* w = Alloc(65406);
  EXPECT_FALSE(w->own);
  EXPECT_EQ(w->size, 65406u);
  PoolFreeBlock(pool, w);
}

TEST_F(PoolTest, UnknownAndDoubleFreesAreIgnored) {
  int local = 0;
  PoolFreePtr(pool, &local);
  PoolFreePtr(pool, nullptr);
  PoolBlock stranger;
  stranger.data = &local;
  stranger.inUse = true;
  PoolFreeBlock(pool, &stranger);
  PoolFreeBlock(pool, nullptr);
  PoolBlock* b = Alloc(40);
  PoolFreeBlock(pool, b);
  PoolFreeBlock(pool, b);
  PoolFreePtr(pool, b->data);
  PoolStats s = PoolGetStats(pool);
  EXPECT_EQ(s.liveBlocks, 0u);
  EXPECT_EQ(s.freeBlocks, 1u);
}

TEST_F(PoolTest, TrimReleasesOnlyFreeBlocks) {
  PoolBlock* keep = Alloc(64);
  PoolBlock* drop1 = Alloc(64);
  PoolBlock* drop2 = Alloc(5000);
  PoolFreeBlock(pool, drop1);
  PoolFreeBlock(pool, drop2);
  EXPECT_EQ(PoolTrim(pool), 2u);
  PoolStats s = PoolGetStats(pool);
  EXPECT_EQ(s.freeBlocks, 0u);
  EXPECT_EQ(s.freeBytes, 0u);
  EXPECT_EQ(s.liveBlocks, 1u);
  EXPECT_EQ(PoolFindBlock(pool, keep->data), keep);
  PoolFreeBlock(pool, keep);
}

TEST_F(PoolTest, FailureInjectionLogsAndYieldsNull) {
  PoolSetFailAfter(pool, 2);
  PoolBlock* a = Alloc(10);
  PoolBlock* b = Alloc(10);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  bool logs = LogCaptures();
  EXPECT_EQ(Alloc(777), nullptr);
  if (logs) {
    std::string log = NnLogCaptured();
    EXPECT_NE(log.find("Zelko: Unable to allocate 777 bytes of memory"), std::string::npos) << log;
  }
  EXPECT_NE(Alloc(1), nullptr);  // the shared block never fails
  EXPECT_EQ(PoolGetStats(pool).failures, 1u);
  EXPECT_EQ(PoolGetStats(pool).liveBlocks, 2u);
  PoolSetFailAfter(pool, -1);
  PoolBlock* c = Alloc(10);
  EXPECT_NE(c, nullptr);
  PoolFreeBlock(pool, a);
  PoolFreeBlock(pool, b);
  PoolFreeBlock(pool, c);
}

// The one-shot failure: only the n-th request fails, those around it succeed.
TEST_F(PoolTest, OneShotFailureHitsOnlyTheNthRequest) {
  PoolSetFailAt(pool, 3);
  EXPECT_TRUE(PoolFailPending(pool));
  PoolBlock* a = Alloc(10);
  EXPECT_NE(Alloc(1), nullptr);  // the shared block is not a request
  PoolBlock* b = Alloc(100);
  EXPECT_TRUE(PoolFailPending(pool));
  EXPECT_EQ(Alloc(200), nullptr);
  EXPECT_FALSE(PoolFailPending(pool));
  PoolBlock* c = Alloc(200);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(PoolGetStats(pool).failures, 1u);
  PoolSetFailAt(pool, 1);
  PoolSetFailAt(pool, 0);  // off again
  EXPECT_FALSE(PoolFailPending(pool));
  PoolBlock* d = Alloc(10);
  EXPECT_NE(d, nullptr);
  for (PoolBlock* x : {a, b, c, d}) PoolFreeBlock(pool, x);
}

TEST(PoolSession, AllocStrDupAndFreeThroughTheSession) {
  LSXLsiSession session;
  ASSERT_TRUE(session.IsValid());
  char* copy = POOL_STRDUP(&session, "hello pool");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "hello pool");
  char* empty = POOL_STRDUP(&session, "");
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  EXPECT_EQ(POOL_STRDUP(&session, nullptr), nullptr);
  void* p = POOL_ALLOC(&session, 70000, true);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(PoolGetStats(session.pool).liveBlocks, 2u);
  PoolFree(&session, copy);
  PoolFree(&session, empty);
  PoolFree(&session, p);
  EXPECT_EQ(PoolGetStats(session.pool).liveBlocks, 0u);
  EXPECT_EQ(PoolGetStats(session.pool).liveBytes, 0u);
  PoolSetFailAfter(session.pool, 0);
  EXPECT_EQ(POOL_STRDUP(&session, "no room"), nullptr);
  EXPECT_EQ(POOL_ALLOC(nullptr, 10, false), nullptr);
}

TEST(PoolSession, ReleaseFreesLeftoversAndReports) {
  bool logs = LogCaptures();
  {
    LSXLsiSession session;
    ASSERT_NE(POOL_ALLOC(&session, 100, false), nullptr);  // left for the release
    ASSERT_NE(POOL_ALLOC(&session, 3000, false), nullptr);
  }
  if (logs) {
    std::string log = NnLogCaptured();
    EXPECT_NE(log.find("2 blocks (3200 bytes) in use"), std::string::npos) << log;
  }
}

}  // namespace
