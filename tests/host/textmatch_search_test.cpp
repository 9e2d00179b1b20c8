// Matching over LMBCS text: byte positions, each option and their mixes.
#include <gtest/gtest.h>

#include <string>

#include "host/textmatch.h"

using namespace kv;

namespace {

// LMBCS bytes used below: 0x82 is e-acute and 0x90 E-acute (group 1);
// 0x14 0x20 0xAC is the euro sign and 0x14 0x01 0x5B s-acute (Unicode group).
const std::string kCafe = "caf\x82";

struct Found {
  int32_t pos;
  uint32_t len;
};

Found Find(const std::string& text, const std::string& search, uint32_t flags = 0, int accent = 1,
           int cs = 0, int re = 0, int wb = 0) {
  uint32_t len = 99;
  int32_t pos = TextFindMatch(text.data(), uint32_t(text.size()), search.data(),
                              uint32_t(search.size()), flags, accent, cs, re, wb, &len, nullptr);
  return {pos, len};
}

}  // namespace

TEST(TextMatchFind, LiteralAndCase) {
  Found f = Find("Hello World", "world");
  EXPECT_EQ(f.pos, 6);
  EXPECT_EQ(f.len, 5u);
  EXPECT_EQ(Find("Hello World", "world", 0, 1, 1).pos, kTextNoMatch);
  EXPECT_EQ(Find("Hello World", "World", 0, 1, 1).pos, 6);
  // Characters that mean something in a pattern are literal without regex.
  EXPECT_EQ(Find("x (a+b)*c", "(a+b)*c").pos, 2);
  EXPECT_EQ(Find("aab", "a.b").pos, kTextNoMatch);
  EXPECT_EQ(Find("a\\Eb", "\\E").pos, 1);
}

TEST(TextMatchFind, InvalidArguments) {
  uint32_t len = 7;
  EXPECT_LT(TextFindMatch(nullptr, 5, "a", 1, 0, 1, 0, 0, 0, &len, nullptr), 0);
  EXPECT_EQ(len, 0u);
  EXPECT_LT(Find("abc", "").pos, 0);
  EXPECT_LT(Find("", "a").pos, 0);
  EXPECT_LT(TextFindMatch("abc", 3, nullptr, 3, 0, 1, 0, 0, 0, nullptr, nullptr), 0);
  // Only the given length is searched, not up to a NUL.
  EXPECT_EQ(TextFindMatch("abcdef", 3, "de", 2, 0, 1, 0, 0, 0, nullptr, nullptr), kTextNoMatch);
}

TEST(TextMatchFind, PositionsAreLmbcsBytes) {
  std::string text = "\x14\x20\xAC" "5 price";
  Found f = Find(text, "price");
  EXPECT_EQ(f.pos, 5);
  EXPECT_EQ(f.len, 5u);
  // A three-byte character inside the match counts three bytes.
  f = Find("pay \x14\x20\xAC" "5 now", "\x14\x20\xAC" "5");
  EXPECT_EQ(f.pos, 4);
  EXPECT_EQ(f.len, 4u);
  // A trail byte that looks like ASCII is not a match on its own: the second
  // byte of s-acute is 0x01 and of the euro 0x20 (a blank).
  EXPECT_EQ(Find("\x14\x20\xAC", " ").pos, kTextNoMatch);
}

TEST(TextMatchFind, Accents) {
  // Accent-sensitive: only the accented spelling matches.
  EXPECT_EQ(Find("le " + kCafe, "cafe").pos, kTextNoMatch);
  EXPECT_EQ(Find("le " + kCafe, kCafe).pos, 3);
  // Accent-insensitive folds both sides.
  Found f = Find("le " + kCafe + "!", "cafe", 0, 0);
  EXPECT_EQ(f.pos, 3);
  EXPECT_EQ(f.len, 4u);
  EXPECT_EQ(Find("le cafe", kCafe, 0, 0).pos, 3);
  // Upper-case accented letter, with and without case sensitivity.
  EXPECT_EQ(Find("CAF\x90", "cafe", 0, 0, 0).pos, 0);
  EXPECT_EQ(Find("CAF\x90", "cafe", 0, 0, 1).pos, kTextNoMatch);
  EXPECT_EQ(Find("CAF\x90", "CAFE", 0, 0, 1).pos, 0);
  EXPECT_EQ(Find("CAF\x90", kCafe, 0, 1, 0).pos, 0);
  // A letter from the Unicode group folds too: s-acute is three bytes.
  f = Find("x \x14\x01\x5B" "ta", "sta", 0, 0);
  EXPECT_EQ(f.pos, 2);
  EXPECT_EQ(f.len, 5u);
  // Letters with a stroke fold to their base letter.
  EXPECT_EQ(Find("\x14\x01\x42" "odz", "lodz", 0, 0).pos, 0);
}

TEST(TextMatchFind, WordBoundaries) {
  EXPECT_EQ(Find("cat", "cat", 0, 1, 0, 0, 1).pos, 0);
  EXPECT_EQ(Find("concat cat", "cat", 0, 1, 0, 0, 1).pos, 7);
  EXPECT_EQ(Find("catalog cat", "cat", 0, 1, 0, 0, 1).pos, 8);
  EXPECT_EQ(Find("concatenate", "cat", 0, 1, 0, 0, 1).pos, kTextNoMatch);
  EXPECT_EQ(Find("cat1 cat2", "cat", 0, 1, 0, 0, 1).pos, kTextNoMatch);
  EXPECT_EQ(Find("(cat),", "cat", 0, 1, 0, 0, 1).pos, 1);
  // An accented letter is a letter: no boundary between it and the word.
  EXPECT_EQ(Find("\x82" "cat", "cat", 0, 1, 0, 0, 1).pos, kTextNoMatch);
  EXPECT_EQ(Find("\x82" "cat", "cat", 0, 1, 0, 0, 0).pos, 1);
  // Mixed with case and accent folding.
  EXPECT_EQ(Find("un CAF\x90 noir", "cafe", 0, 0, 0, 0, 1).pos, 3);
  EXPECT_EQ(Find("CAF\x90S", "cafe", 0, 0, 0, 0, 1).pos, kTextNoMatch);
}

TEST(TextMatchFind, Wildcards) {
  // "*" takes the shortest run: each delimited text is its own match.
  Found f = Find("x ((one)) and ((two))", "((*))", kTextMatchWildcards);
  EXPECT_EQ(f.pos, 2);
  EXPECT_EQ(f.len, 7u);
  // An empty run is allowed.
  f = Find("(())", "((*))", kTextMatchWildcards);
  EXPECT_EQ(f.pos, 0);
  EXPECT_EQ(f.len, 4u);
  // "?" is one character, however many bytes it takes.
  f = Find("bt b\x14\x01\x5Bt", "b?t", kTextMatchWildcards);
  EXPECT_EQ(f.pos, 3);
  EXPECT_EQ(f.len, 5u);
  EXPECT_EQ(Find("bt", "b?t", kTextMatchWildcards).pos, kTextNoMatch);
  // Without the flag both are plain characters.
  EXPECT_EQ(Find("aXb a*b", "a*b").pos, 4);
  EXPECT_EQ(Find("aXb", "a?b").pos, kTextNoMatch);
  // Other pattern characters stay literal under wildcards.
  EXPECT_EQ(Find("a.b [x] a+b", "[?]", kTextMatchWildcards).pos, 4);
  // With word boundaries and case folding.
  EXPECT_EQ(Find("Xbook book", "B*K", kTextMatchWildcards, 1, 0, 0, 1).pos, 6);
  EXPECT_EQ(Find("Xbook", "B*K", kTextMatchWildcards, 1, 1, 0, 0).pos, kTextNoMatch);
  // The regular-expression option wins over wildcards.
  EXPECT_EQ(Find("ab", "a*b", kTextMatchWildcards, 1, 0, 1).pos, 0);
}

TEST(TextMatchFind, RegularExpressions) {
  Found f = Find("the cut", "c[aeiou]t", 0, 1, 0, 1);
  EXPECT_EQ(f.pos, 4);
  EXPECT_EQ(f.len, 3u);
  EXPECT_EQ(Find("the CUT", "c.t", 0, 1, 0, 1).pos, 4);
  EXPECT_EQ(Find("the CUT", "c.t", 0, 1, 1, 1).pos, kTextNoMatch);
  f = Find("id 12345 x", "\\d+", 0, 1, 0, 1);
  EXPECT_EQ(f.pos, 3);
  EXPECT_EQ(f.len, 5u);
  // Word boundaries around an alternation apply to the whole of it.
  EXPECT_EQ(Find("cats dog", "cat|dog", 0, 1, 0, 1, 1).pos, 5);
  // A pattern that can only match empty text has no match.
  EXPECT_EQ(Find("abc", "x*", 0, 1, 0, 1).pos, kTextNoMatch);
  // Positions still count LMBCS bytes.
  EXPECT_EQ(Find("\x14\x20\xAC" "42", "[0-9]+", 0, 1, 0, 1).pos, 3);
}

TEST(TextMatchFind, HostilePatterns) {
  EXPECT_EQ(Find("abc", "a(b", 0, 1, 0, 1).pos, kTextBadPattern);
  EXPECT_EQ(Find("abc", "[z-a]", 0, 1, 0, 1).pos, kTextBadPattern);
  EXPECT_EQ(Find("abc", "*", 0, 1, 0, 1).pos, kTextBadPattern);
  // Catastrophic backtracking gives up instead of running away.
  std::string text(4000, 'a');
  text += '!';
  Found f = Find(text, "(a+)+$", 0, 1, 0, 1);
  EXPECT_LT(f.pos, 0);
  f = Find(text, "(a|aa)*(b|c)", 0, 1, 0, 1);
  EXPECT_LT(f.pos, 0);
}

TEST(TextMatchFind, FromOffsetKeepsContext) {
  TextMatchOptions o;
  o.wordBoundaries = true;
  uint32_t len = 0;
  std::string text = "concat cat";
  // Starting inside "concat" at "cat": the letters before still count.
  EXPECT_EQ(TextFindMatchFrom(text.data(), uint32_t(text.size()), 3, "cat", 3, o, &len), 7);
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(TextFindMatchFrom(text.data(), uint32_t(text.size()), 8, "cat", 3, o, &len),
            kTextNoMatch);
  EXPECT_EQ(TextFindMatchFrom(text.data(), uint32_t(text.size()), 99, "cat", 3, o, &len),
            kTextNoMatch);
}
