// Style mappings: internal mappings created per font and lookups in both lists.
#include <gtest/gtest.h>

#include <new>

#include "host/pool.h"
#include "lsxsessi.h"
#include "rtitem.h"

namespace {

TEST(StylemapLookup, CreatedMappingsAreFoundByFontInTheInternalList) {
  LSXLsiSession session;
  TorvoRTItem item(&session);
  EXPECT_EQ(item.GetStyleMappingByFontID(0x0A000001u, 1), nullptr);
  _StyleMapping_Info* a = item.CreateInternalStyleMapping("<span class='f1'>", "</span>", 0x0A000001u);
  _StyleMapping_Info* b = item.CreateInternalStyleMapping("<b>", nullptr, 0x0C010004u);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(a->elementName, "<span class='f1'>");
  EXPECT_STREQ(a->closingTags, "</span>");
  EXPECT_STREQ(b->closingTags, "");
  EXPECT_EQ(item.GetStyleMappingByFontID(0x0A000001u, 1), a);
  EXPECT_EQ(item.GetStyleMappingByFontID(0x0C010004u, 1), b);
  EXPECT_EQ(item.GetStyleMappingByFontID(0x0C010005u, 1), nullptr);
  // Kept in creation order.
  EXPECT_EQ(item.context->internalStyleMappings, a);
  EXPECT_EQ(a->next, b);
  // The item's own list is separate.
  EXPECT_EQ(item.GetStyleMappingByFontID(0x0A000001u, 0), nullptr);
}

TEST(StylemapLookup, OwnListLookupSkipsMappingsWithoutFont) {
  LSXLsiSession session;
  TorvoRTItem item(&session);
  auto* noFont = new (POOL_ALLOC(&session, sizeof(_StyleMapping_Info), true)) _StyleMapping_Info();
  auto* withFont = new (POOL_ALLOC(&session, sizeof(_StyleMapping_Info), true)) _StyleMapping_Info();
  noFont->fontId = 0x10;
  withFont->fontId = 0x10;
  withFont->hasFont = 1;
  withFont->elementName = POOL_STRDUP(&session, "h1");
  noFont->next = withFont;
  item.context->styleMappings = noFont;
  EXPECT_EQ(item.GetStyleMappingByFontID(0x10, 0), withFont);
  EXPECT_EQ(item.GetStyleMappingByFontID(0x10, 1), nullptr);
}

TEST(StylemapLookup, OutOfMemoryGivesNullAndLeavesTheListAlone) {
  LSXLsiSession session;
  TorvoRTItem item(&session);
  ASSERT_NE(item.CreateInternalStyleMapping("<i>", "</i>", 1), nullptr);
  for (long n : {0L, 1L, 2L}) {
    PoolSetFailAfter(session.pool, n);
    EXPECT_EQ(item.CreateInternalStyleMapping("<u>", "</u>", 2), nullptr) << n;
    PoolSetFailAfter(session.pool, -1);
    EXPECT_EQ(item.GetStyleMappingByFontID(2, 1), nullptr);
    EXPECT_EQ(item.context->internalStyleMappings->next, nullptr);
  }
}

}  // namespace
