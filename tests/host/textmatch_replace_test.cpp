// Replacement of every match: order, overlap, options and the output bound.
#include <gtest/gtest.h>

#include <string>

#include "host/textmatch.h"

using namespace kv;

namespace {

NnStatus Replace(const std::string& text, const std::string& find, const std::string& with,
                 const TextMatchOptions& o, std::string* out, uint32_t* count = nullptr) {
  return TextReplaceAll(text.data(), uint32_t(text.size()), find.data(), uint32_t(find.size()),
                        with.data(), uint32_t(with.size()), o, out, count);
}

}  // namespace

TEST(TextMatchReplace, EveryMatchLeftToRight) {
  TextMatchOptions o;
  std::string out;
  uint32_t n = 0;
  ASSERT_EQ(Replace("a Cat and a cat.", "cat", "dog", o, &out, &n), NN_OK);
  EXPECT_EQ(out, "a dog and a dog.");
  EXPECT_EQ(n, 2u);
  // Non-overlapping: "aaa" holds one "aa".
  ASSERT_EQ(Replace("aaa", "aa", "X", o, &out, &n), NN_OK);
  EXPECT_EQ(out, "Xa");
  EXPECT_EQ(n, 1u);
  // A replacement that contains the find text is not searched again.
  ASSERT_EQ(Replace("aa", "a", "aa", o, &out), NN_OK);
  EXPECT_EQ(out, "aaaa");
  // Deleting.
  ASSERT_EQ(Replace("x-y-z", "-", "", o, &out), NN_OK);
  EXPECT_EQ(out, "xyz");
}

TEST(TextMatchReplace, NoMatchCopiesAndEmptyText) {
  TextMatchOptions o;
  std::string out = "old";
  uint32_t n = 9;
  ASSERT_EQ(Replace("hello", "zz", "y", o, &out, &n), NN_OK);
  EXPECT_EQ(out, "hello");
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(Replace("", "zz", "y", o, &out, &n), NN_OK);
  EXPECT_EQ(out, "");
}

TEST(TextMatchReplace, OptionsAndMultiByteText) {
  TextMatchOptions o;
  o.accentSensitive = false;
  std::string out;
  // e-acute (0x82) folds to e; the whole accented word is replaced.
  ASSERT_EQ(Replace("caf\x82 and CAF\x90", "cafe", "tea", o, &out), NN_OK);
  EXPECT_EQ(out, "tea and tea");
  o = TextMatchOptions{};
  o.wordBoundaries = true;
  ASSERT_EQ(Replace("cat concat cat", "cat", "dog", o, &out), NN_OK);
  EXPECT_EQ(out, "dog concat dog");
  o = TextMatchOptions{};
  o.wildcards = true;
  ASSERT_EQ(Replace("a ((b)) c ((d))", "((*))", "[]", o, &out), NN_OK);
  EXPECT_EQ(out, "a [] c []");
  o = TextMatchOptions{};
  o.regularExpression = true;
  ASSERT_EQ(Replace("v1.2.10", "[0-9]+", "N", o, &out), NN_OK);
  EXPECT_EQ(out, "vN.N.N");
  // The bytes between matches, euro signs included, are copied unchanged.
  ASSERT_EQ(Replace("\x14\x20\xAC" "1 \x14\x20\xAC" "22", "[0-9]+", "#", o, &out), NN_OK);
  EXPECT_EQ(out, "\x14\x20\xAC#\x20\x14\x20\xAC#");
}

TEST(TextMatchReplace, RefusalsLeaveOutputAlone) {
  TextMatchOptions o;
  o.regularExpression = true;
  std::string out = "keep";
  uint32_t n = 5;
  EXPECT_EQ(Replace("abc", "(", "x", o, &out, &n), NN_ERR_INVALID_ARG);
  EXPECT_EQ(Replace("abc", "", "x", TextMatchOptions{}, &out, &n), NN_ERR_INVALID_ARG);
  EXPECT_EQ(out, "keep");
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(TextReplaceAll("abc", 3, "a", 1, "x", 1, TextMatchOptions{}, nullptr), NN_ERR_INVALID_ARG);
}

TEST(TextMatchReplace, OutputBound) {
  TextMatchOptions o;
  std::string out = "keep";
  // Exactly at the bound is fine.
  std::string text(kTextReplaceMaxBytes - 1, 'a');
  text += 'b';
  ASSERT_EQ(Replace(text, "b", "c", o, &out), NN_OK);
  EXPECT_EQ(out.size(), kTextReplaceMaxBytes);
  ASSERT_EQ(Replace(text, "b", "", o, &out), NN_OK);
  EXPECT_EQ(out.size(), kTextReplaceMaxBytes - 1);
  // One byte over is refused, and nothing changes.
  out = "keep";
  EXPECT_EQ(Replace(text, "b", "cd", o, &out), NN_ERR_MEMORY);
  EXPECT_EQ(out, "keep");
  // Growth in many small steps is refused too.
  std::string many(40000, 'x');
  EXPECT_EQ(Replace(many, "x", "yy", o, &out), NN_ERR_MEMORY);
  EXPECT_EQ(out, "keep");
}
