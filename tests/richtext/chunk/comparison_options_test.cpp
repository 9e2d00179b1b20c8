// The comparison options object: its initial values and what its destructor
// leaves alive.
#include <gtest/gtest.h>

#include <cstring>

#include "lsxsessi.h"
#include "rtcomparison.h"
#include "rtitem.h"

namespace {

TEST(ComparisonOptions, NewObjectHoldsTheDefaults) {
  LSXLsiSession session;
  ASSERT_TRUE(session.IsValid());
  auto* c = new TorvoRTComparison(&session);
  EXPECT_EQ(c->session, &session);
  EXPECT_EQ(c->limit, 999u);
  EXPECT_STREQ(c->deletionStyle, "RED +STRIKETHROUGH");
  EXPECT_STREQ(c->insertionStyle, "BLUE");
  EXPECT_STREQ(c->secondDeletionStyle, "RED +Strikethrough");
  EXPECT_STREQ(c->secondInsertionStyle, "Blue");
  EXPECT_STREQ(c->deletionSymbol, "(-)");
  EXPECT_STREQ(c->insertionSymbol, "(+)");
  EXPECT_EQ(std::memcmp(c->deletionMarker, "(\x02-)", 5), 0);
  EXPECT_EQ(std::memcmp(c->insertionMarker, "(\x02+)", 5), 0);
  EXPECT_EQ(std::memcmp(c->secondDeletionMarker, "(\x01-)", 5), 0);
  EXPECT_EQ(std::memcmp(c->secondInsertionMarker, "(\x01+)", 5), 0);
  EXPECT_STREQ(c->fewerColumnsNote, "** The number of columns has decreased **");
  EXPECT_STREQ(c->moreColumnsNote, "** The number of columns has increased **");
  EXPECT_STREQ(c->fewerRowsNote, "** The number of rows has decreased **");
  EXPECT_STREQ(c->moreRowsNote, "** The number of rows has increased **");
  EXPECT_EQ(c->option2, 1);
  EXPECT_EQ(c->option4, 1u);
  EXPECT_EQ(c->options1[0] | c->options1[1] | c->options1[2] | c->options3[0] | c->options3[1], 0);
  EXPECT_EQ(c->words[0] | c->words[1] | c->words[2] | c->words[3], 0u);
  EXPECT_EQ(c->extraText, nullptr);
  EXPECT_EQ(c->reserved1, nullptr);
  delete c;
}

TEST(ComparisonOptions, DestroyingLeavesTheThreeItemsRegistered) {
  LSXLsiSession session;
  ASSERT_TRUE(session.IsValid());
  uint32_t before = session.RTItemCount();
  auto* c = new TorvoRTComparison(&session);
  TorvoRTItem* items[3] = {c->firstItem, c->secondItem, c->resultItem};
  for (TorvoRTItem* it : items) ASSERT_NE(it, nullptr);
  EXPECT_NE(items[0], items[1]);
  EXPECT_EQ(session.RTItemCount(), before + 3);
  // A text set by the caller is released with the object.
  c->extraText = new char[8]{"extra"};
  delete c;
  EXPECT_EQ(session.RTItemCount(), before + 3);
  for (TorvoRTItem* it : items) EXPECT_EQ(it->session, &session);
  // The session deletes them with itself.
}

}  // namespace
