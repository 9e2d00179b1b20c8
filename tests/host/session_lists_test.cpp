#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/logging.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"

namespace {

std::vector<std::string>* g_deleted = nullptr;

// Stands in for the listed classes: adds itself on construction, unlinks on
// destruction, may own another listed object (as an item owns a chunk).
struct Listed : SessionListed {
  enum Kind { kItem, kChunk, kCollection };
  Listed(LSXLsiSession* s, Kind k, std::string n) : session(s), kind(k), name(std::move(n)) {
    sessionDelete = [](SessionListed* self) { delete static_cast<Listed*>(self); };
    switch (kind) {
      case kItem: session->AddToRTITEMList(this); break;
      case kChunk: session->AddToRTCHUNKList(this); break;
      case kCollection: session->AddToCollectionList(this); break;
    }
  }
  ~Listed() {
    if (g_deleted) g_deleted->push_back(name);
    delete owned;
    switch (kind) {
      case kItem: session->RemoveFromRTITEMList(this); break;
      case kChunk: session->RemoveFromRTCHUNKList(this); break;
      case kCollection: session->RemoveFromCollectionList(this); break;
    }
  }
  LSXLsiSession* session;
  Kind kind;
  std::string name;
  Listed* owned = nullptr;
};

TEST(SessionLists, PushAtHeadAndUnlink) {
  LSXLsiSession s;
  Listed* a = new Listed(&s, Listed::kItem, "a");
  Listed* b = new Listed(&s, Listed::kItem, "b");
  Listed* c = new Listed(&s, Listed::kItem, "c");
  EXPECT_EQ(s.FirstRTItem(), c);
  EXPECT_EQ(s.RTItemCount(), 3u);
  delete b;  // middle
  EXPECT_EQ(s.RTItemCount(), 2u);
  EXPECT_EQ(s.FirstRTItem(), c);
  EXPECT_EQ(c->sessionNext, a);
  s.RemoveFromRTCHUNKList(a);  // wrong list: nothing happens
  s.RemoveFromRTITEMList(nullptr);
  EXPECT_EQ(s.RTItemCount(), 2u);
  s.RemoveFromRTITEMList(c);
  s.RemoveFromRTITEMList(c);  // not on the list any more: nothing happens
  EXPECT_EQ(s.RTItemCount(), 1u);
  delete c;
  delete a;
  EXPECT_EQ(s.FirstRTItem(), nullptr);
}

TEST(SessionLists, DestructorDeletesLeftoversIncludingOwned) {
  std::vector<std::string> deleted;
  g_deleted = &deleted;
  {
    LSXLsiSession s;
    new Listed(&s, Listed::kChunk, "loose chunk");
    Listed* item = new Listed(&s, Listed::kItem, "item");
    item->owned = new Listed(&s, Listed::kChunk, "owned chunk");
    Listed* coll = new Listed(&s, Listed::kCollection, "collection");
    coll->owned = new Listed(&s, Listed::kItem, "owned item");
    EXPECT_EQ(s.RTChunkCount(), 2u);
    EXPECT_EQ(s.RTItemCount(), 2u);
    EXPECT_EQ(s.CollectionCount(), 1u);
  }
  g_deleted = nullptr;
  // Every object once (ASan would catch a double delete); owners first.
  ASSERT_EQ(deleted.size(), 5u);
  EXPECT_EQ(deleted[0], "collection");
  EXPECT_EQ(deleted[1], "owned item");
  EXPECT_EQ(deleted[2], "item");
  EXPECT_EQ(deleted[3], "owned chunk");
  EXPECT_EQ(deleted[4], "loose chunk");
}

TEST(SessionBasics, DefaultsBuffersAndResultText) {
  LSXLsiSession s;
  ASSERT_TRUE(s.IsValid());
  EXPECT_DOUBLE_EQ(s.Version(), 5.31);
  EXPECT_STREQ(s.ProductName(), "Zelko");
  EXPECT_EQ(s.TextBuffer(1), s.PropertyText);
  EXPECT_EQ(s.TextBuffer(2), s.OptionValue);
  EXPECT_EQ(s.TextBuffer(3), s.LinkText);
  EXPECT_EQ(s.TextBuffer(0), nullptr);
  EXPECT_EQ(s.TextBuffer(4), nullptr);
  EXPECT_EQ(sizeof s.ResultText, 65342u);
  EXPECT_EQ(sizeof s.PropertyText, 4096u);

  s.SetResultText("TRUE", 4);
  EXPECT_EQ(s.ResultTextLength, 4u);
  EXPECT_STREQ(s.ResultText, "TRUE");
  std::string big(70000, 'x');
  s.SetResultText(big.c_str(), static_cast<uint32_t>(big.size()));
  EXPECT_EQ(s.ResultTextLength, 65341u);
  EXPECT_EQ(s.ResultText[65341], 0);
  s.ClearResultText();
  EXPECT_EQ(s.ResultTextLength, 0u);

  s.SetProductName("TARN");
  EXPECT_STREQ(s.ProductName(), "TARN");
  s.SetProductName(std::string(200, 'P').c_str());
  EXPECT_EQ(std::string(s.ProductName()).size(), 63u);
  s.SetProductName(nullptr);
  EXPECT_STREQ(s.ProductName(), "Zelko");
}

TEST(SessionLogging, MessagesGoToTheRoutineOrAreDropped) {
  LSXLsiSession s;
  LogMessage(&s, "dropped: no routine");
  LogMessage(nullptr, "dropped: no session");
  std::vector<std::string> seen;
  s.SetMessageProc(
      [](void* ctx, const char* text) {
        static_cast<std::vector<std::string>*>(ctx)->push_back(text);
      },
      &seen);
  LogMessage(&s, "ZELKO: Table cell outside of table.  Operation failed!");
  LogMessage(&s, nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "ZELKO: Table cell outside of table.  Operation failed!");
}

TEST(SessionDebugLevel, ReadsProductSettingAndMasks) {
  NnIniSet("ZelkoDebug", "2");
  if (NnIniGetNumber("ZelkoDebug") != 2) GTEST_SKIP() << "settings not available";
  EXPECT_EQ(GetDebugLevel(nullptr), 2u);
  LSXLsiSession s;
  EXPECT_EQ(GetDebugLevel(&s), 2u);
  struct Case { const char* value; uint16_t level; };
  for (Case c : {Case{"0", 0}, Case{"3", 3}, Case{"4", 4}, Case{"5", 1}, Case{"6", 2},
                 Case{"7", 3}, Case{"8", 0}, Case{"-3", 0}}) {
    NnIniSet("ZelkoDebug", c.value);
    EXPECT_EQ(GetDebugLevel(&s), c.level) << c.value;
  }
  s.SetProductName("TARN");
  NnIniSet("TARNDebug", "3");
  EXPECT_EQ(GetDebugLevel(&s), 3u);
  EXPECT_EQ(GetDebugLevel(nullptr), 0u);  // still "ZelkoDebug" = -3
  NnIniSet("TARNDebug", nullptr);
  NnIniSet("ZelkoDebug", nullptr);
  EXPECT_EQ(GetDebugLevel(&s), 0u);
}

}  // namespace
