// The chunk object: session registration, destruction of what it owns,
// sub-chunks and the rewritten definition text.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "host/pool.h"
#include "host/sortcmp.h"
#include "include/lsxsessi.h"
#include "include/rtchunk.h"
#include "include/rtitem.h"
#include "nn/nn.h"
#include "richtext/engine/opcodes.h"

namespace {

// Gives a chunk the chain of a definition text, as DefineChunk does.
void Define(TorvoRTChunk* chunk, const char* text) {
  uint32_t simple = 0;
  FreeChunkDefinition(chunk->internal->chain);
  chunk->internal->chain = ParseChunkDefinition(chunk->session, nullptr, text, &simple);
  ASSERT_NE(chunk->internal->chain, nullptr) << text;
  chunk->internal->simpleDefinition = simple;
  chunk->targetType = chunk->InnermostNode()->targetType;
  chunk->RewriteDefinition();
}

TEST(ChunkLifecycle, NewChunkDefaults) {
  LSXLsiSession session;
  TorvoRTChunk chunk(&session, nullptr);
  EXPECT_EQ(chunk.AccentSensitive, 1);
  EXPECT_EQ(chunk.CaseSensitive, 0);
  EXPECT_EQ(chunk.RegularExpression, 0);
  EXPECT_EQ(chunk.SearchWordBoundaries, 0);
  EXPECT_EQ(chunk.SetImpliedProperties, 0);
  EXPECT_EQ(chunk.TextWildcards, 0);
  EXPECT_EQ(chunk.insertPosition, 1u);
  EXPECT_EQ(chunk.definitionText, nullptr);
  ASSERT_NE(chunk.internal, nullptr);
  EXPECT_EQ(chunk.internal->marker, kChunkBlockMarker);
  EXPECT_EQ(chunk.internal->chain, nullptr);
  EXPECT_EQ(chunk.InnermostNode(), nullptr);
  EXPECT_EQ(session.RTChunkCount(), 1u);
  EXPECT_EQ(session.FirstRTChunk(), static_cast<SessionListed*>(&chunk));
}

TEST(ChunkLifecycle, NullSessionIsListedNowhere) {
  auto* chunk = new TorvoRTChunk(nullptr, nullptr);
  EXPECT_EQ(chunk->sessionNext, nullptr);
  Define(chunk, "Table 2");
  EXPECT_STREQ(chunk->definitionText, "Table 2");
  TorvoRTChunk* sub = chunk->DefineSubChunk("Row 1");
  ASSERT_NE(sub, nullptr);
  EXPECT_STREQ(sub->definitionText, "Table 2; Row 1");
  delete sub;
  delete chunk;
}

TEST(ChunkLifecycle, EverythingPointerClearedOnlyByItsOwnChunk) {
  LSXLsiSession session;
  auto* item = new TorvoRTItem(&session);
  auto* everything = new TorvoRTChunk(&session, item);
  auto* other = new TorvoRTChunk(&session, item);
  item->everything = everything;
  delete other;
  EXPECT_EQ(item->everything, everything);
  delete everything;
  EXPECT_EQ(item->everything, nullptr);
  EXPECT_EQ(session.RTChunkCount(), 0u);
  delete item;
}

TEST(ChunkLifecycle, SessionDeletesLeftoverChunksAfterTheirItem) {
  // Items go before chunks: a chunk that outlives its item must not reach it.
  auto session = std::make_unique<LSXLsiSession>();
  auto* item = new TorvoRTItem(session.get());
  auto* chunk = new TorvoRTChunk(session.get(), item);
  item->everything = chunk;
  Define(chunk, "Table 1; Row 2");
  chunk->internal->chain->attachedText = new char[4]{'a', 'b', 'c', 0};
  TorvoRTChunk* sub = chunk->DefineSubChunk("Column 1");
  ASSERT_NE(sub, nullptr);
  new TorvoRTChunk(session.get(), item);
  EXPECT_EQ(session->RTChunkCount(), 3u);
  session.reset();  // the sanitizer reports any leak or stale access
}

TEST(ChunkLifecycle, DefineSubChunkAppendsToACopy) {
  LSXLsiSession session;
  TorvoRTChunk parent(&session, nullptr);
  Define(&parent, "Table 1");
  parent.internal->chain->attachedText = new char[6]{'w', 'i', 'k', 'i', '!', 0};
  parent.internal->chain->matchText = new char[2]{'m', 0};
  parent.internal->chain->matchMode = MATCH_TEXT;
  parent.internal->chain->runningCount = 9;

  std::unique_ptr<TorvoRTChunk> sub(parent.DefineSubChunk("Row 2"));
  ASSERT_TRUE(sub);
  // The parent's match text comes along: the sub-chunk addresses what the
  // parent does.
  EXPECT_STREQ(sub->definitionText, "Table \"m\" 1; Row 2");
  EXPECT_STREQ(parent.definitionText, "Table 1");  // parent unchanged
  EXPECT_EQ(sub->targetType, ROW);
  EXPECT_EQ(sub->session, &session);
  EXPECT_EQ(session.RTChunkCount(), 2u);

  chunkdef_info* copied = sub->internal->chain;
  ASSERT_NE(copied, parent.internal->chain);
  EXPECT_EQ(copied->relation, REL_CONTAINS);
  EXPECT_EQ(copied->targetType, TABLE);
  ASSERT_NE(copied->attachedText, nullptr);
  EXPECT_NE(copied->attachedText, parent.internal->chain->attachedText);
  EXPECT_STREQ(copied->attachedText, "wiki!");
  ASSERT_NE(copied->matchText, nullptr);
  EXPECT_NE(copied->matchText, parent.internal->chain->matchText);
  EXPECT_STREQ(copied->matchText, "m");
  EXPECT_EQ(copied->matchMode, MATCH_TEXT);
  EXPECT_EQ(copied->runningCount, 0u);    // nor engine fields
  ASSERT_NE(copied->next, nullptr);
  EXPECT_EQ(copied->next->targetType, ROW);
  EXPECT_EQ(parent.internal->chain->next, nullptr);
  EXPECT_EQ(sub->InnermostNode(), copied->next);
  EXPECT_EQ(sub->internal->simpleDefinition, 1u);

  // A sub-chunk of a sub-chunk.
  std::unique_ptr<TorvoRTChunk> cell(sub->DefineSubChunk("Inside Column 3"));
  ASSERT_TRUE(cell);
  EXPECT_STREQ(cell->definitionText, "Table \"m\" 1; Row 2; Inside Column 3");
  EXPECT_EQ(cell->internal->simpleDefinition, 0u);
  EXPECT_EQ(cell->targetType, COLUMN);
}

TEST(ChunkLifecycle, SimpleFlagNeedsBothParentAndPart) {
  LSXLsiSession session;
  TorvoRTChunk parent(&session, nullptr);
  Define(&parent, "Table 1,2");
  EXPECT_EQ(parent.internal->simpleDefinition, 0u);
  std::unique_ptr<TorvoRTChunk> sub(parent.DefineSubChunk("Row 1"));
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->internal->simpleDefinition, 0u);
}

TEST(ChunkLifecycle, FailedSubDefinitionLeavesNothing) {
  LSXLsiSession session;
  TorvoRTChunk parent(&session, nullptr);
  Define(&parent, "Inside Table 1");
  SessionListed* head = session.FirstRTChunk();
  EXPECT_EQ(parent.DefineSubChunk("Row 2"), nullptr);  // previous is not CONTAINS
  EXPECT_EQ(parent.DefineSubChunk("Gadget 1"), nullptr);
  EXPECT_EQ(parent.DefineSubChunk(""), nullptr);
  EXPECT_EQ(parent.DefineSubChunk(nullptr), nullptr);
  EXPECT_EQ(session.RTChunkCount(), 1u);
  EXPECT_EQ(session.FirstRTChunk(), head);
  EXPECT_STREQ(parent.definitionText, "Inside Table 1");
  EXPECT_EQ(parent.internal->chain->next, nullptr);
}

TEST(ChunkLifecycle, SubChunkOfAnUndefinedChunk) {
  LSXLsiSession session;
  TorvoRTChunk parent(&session, nullptr);
  std::unique_ptr<TorvoRTChunk> sub(parent.DefineSubChunk("Section 2"));
  ASSERT_TRUE(sub);
  EXPECT_STREQ(sub->definitionText, "Section 2");
  EXPECT_EQ(sub->internal->simpleDefinition, 0u);  // the parent was not simple
  EXPECT_EQ(parent.DefineSubChunk("Row 1"), nullptr);
}

TEST(ChunkLifecycle, RewriteDefinitionFollowsTheChain) {
  LSXLsiSession session;
  TorvoRTChunk chunk(&session, nullptr);
  chunk.RewriteDefinition();
  EXPECT_STREQ(chunk.definitionText, "Everything");
  Define(&chunk, "inside section 2;text 'Total' 1-3");
  EXPECT_STREQ(chunk.definitionText, "Inside Section 2; Text \"Total\" 1-3");
  chunk.InnermostNode()->occurrences[0] = 4;
  chunk.InnermostNode()->rangeEnds[0] = 0;
  chunk.RewriteDefinition();
  EXPECT_STREQ(chunk.definitionText, "Inside Section 2; Text \"Total\" 4");
}

TEST(ChunkLifecycle, DestructorReleasesEngineLeftovers) {
  LSXLsiSession session;
  PoolStats before = PoolGetStats(session.pool);
  size_t handlesBefore = NnMemLiveCount();
  auto* chunk = new TorvoRTChunk(&session, nullptr);
  _internal_RTChunk* block = chunk->internal;
  block->workBuffer1 = new char[16];
  block->workBuffer2 = new char[16];
  auto* held = new HeldBuffers;
  held->buffers[0] = new char[8];
  held->buffers[3] = new char[8];
  held->next = new HeldBuffers;
  held->next->buffers[1] = new char[8];
  block->held = held;
  block->rowKeyCount = 2;
  block->rowKeys = static_cast<kv::SortKeyEntry*>(
      PoolAlloc(&session, __LINE__, __FILE__, 2 * sizeof(kv::SortKeyEntry), true));
  ASSERT_NE(block->rowKeys, nullptr);
  block->rowKeys[0].keyText = PoolStrDup(&session, __LINE__, __FILE__, "alpha");
  block->rowKeys[1].keyText = nullptr;
  block->positionCount = 1;
  block->positions = static_cast<kv::SortKeyEntry*>(
      PoolAlloc(&session, __LINE__, __FILE__, sizeof(kv::SortKeyEntry), true));
  ASSERT_EQ(NnMemAlloc(kWorkBlockSize, 0x8000, &block->workBlocks[0]), NN_OK);
  block->workBlockAddress[0] = NnMemLock(block->workBlocks[0]);
  ASSERT_EQ(NnMemAlloc(kWorkBlockSize, 0x8000, &block->workBlocks[4]), NN_OK);
  chunk->outerDefinitionText = new char[3]{'x', 'y', 0};
  Define(chunk, "Table 1");
  delete chunk;
  EXPECT_EQ(PoolGetStats(session.pool).liveBlocks, before.liveBlocks);
  EXPECT_EQ(NnMemLiveCount(), handlesBefore);
  EXPECT_EQ(session.RTChunkCount(), 0u);
}

TEST(ChunkLifecycle, ReleaseChunkContextKeepingTheBlock) {
  auto* block = new _internal_RTChunk();
  block->marker = 1;
  block->held = new HeldBuffers;
  block->held->buffers[2] = new char[4];
  ReleaseChunkContext(block, 0);
  EXPECT_EQ(block->held, nullptr);
  EXPECT_EQ(block->marker, kChunkBlockMarker);
  ReleaseChunkContext(block, 1);
  ReleaseChunkContext(nullptr, 1);
}

TEST(ChunkLifecycle, TracesAboveDebugLevelTwo) {
  LSXLsiSession session;
  NnIniSet("KestrelvaultDebug", "3");
  NnLogClear();
  {
    TorvoRTChunk chunk(&session, nullptr);
  }
  std::string log = NnLogCaptured();
  NnIniSet("KestrelvaultDebug", nullptr);
  const char* steps[] = {"inside new TorvoRTChunk", "inside new _internal_RTChunk",
                         "leaving new _internal_RTChunk", "step 2 new TorvoRTChunk",
                         "step 3 new TorvoRTChunk", "step 4 new TorvoRTChunk",
                         "step 5 new TorvoRTChunk", "step 8 new TorvoRTChunk"};
  size_t at = 0;
  for (const char* step : steps) {
    size_t found = log.find(std::string("Kestrelvault ") + step + " at ", at);
    ASSERT_NE(found, std::string::npos) << step << "\n" << log;
    at = found + 1;
  }
  EXPECT_NE(log.find(" in rtchunki"), std::string::npos);
  EXPECT_NE(log.find("_internal_RTChunk at "), std::string::npos);
  EXPECT_NE(log.find(" in rtchunk\n"), std::string::npos);

  NnLogClear();
  NnIniSet("KestrelvaultDebug", "2");
  { TorvoRTChunk quiet(nullptr, nullptr); }
  NnIniSet("KestrelvaultDebug", nullptr);
  EXPECT_EQ(NnLogCaptured().find("Kestrelvault inside"), std::string::npos);
}

}  // namespace
