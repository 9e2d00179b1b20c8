// The chunk's text and named-element searches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "navigation_fixture.h"
#include "richtext/chunk/finders.h"
#include "richtext/engine/opcodes.h"

namespace {

using navtest::Doc;
using navtest::Font;
using navtest::Paragraph;
using navtest::Table;
using navtest::Text;

// Record numbers: 1 pabdef, 2-4 first paragraph, 5-7 second, 8-10 third.
std::vector<std::string> Runs() {
  std::vector<std::string> r = navtest::Body(
      {Paragraph("The quick brown fox"), Paragraph("jumps over the lazy dog")});
  r.push_back(navtest::Para());
  r.push_back(navtest::PabRef(1));
  r.push_back(Text(Font(4, 12, 0x01), "Courier bold Fox"));
  return r;
}

TEST(FindersText, ModesOverTheSearchedRange) {
  Doc doc(Runs());
  TorvoRTChunk* c = doc.item->DefineChunk(nullptr);
  auto find = [&](int inside, uint32_t first, uint32_t last, const char* text, uint16_t mode) {
    return FindTextInChunk(c, inside, first, last, text, 0, mode, nullptr, 0, nullptr);
  };
  EXPECT_EQ(find(1, 1, 10, "fox", kFindSubstring), 4u);
  EXPECT_EQ(find(1, 5, 10, "fox", kFindSubstring), 10u);
  EXPECT_EQ(find(1, 1, 9, "lazy", 0), 7u);          // 0 searches anywhere
  EXPECT_EQ(find(1, 1, 6, "lazy", kFindSubstring), 0u);  // outside the range
  EXPECT_EQ(find(0, 4, 4, "fox", kFindSubstring), 10u);  // after the range
  EXPECT_EQ(find(0, 1, 10, "fox", kFindSubstring), 0u);
  EXPECT_EQ(find(1, 0, 10, "fox", kFindSubstring), 0u);  // nothing located

  EXPECT_EQ(find(1, 1, 10, "the quick brown fox", kFindEntire), 4u);
  EXPECT_EQ(find(1, 1, 10, "the quick brown", kFindEntire), 0u);
  EXPECT_EQ(find(1, 1, 10, "jumps", kFindStarts), 7u);
  EXPECT_EQ(find(1, 1, 10, "lazy", kFindStarts), 0u);
  EXPECT_EQ(find(1, 1, 10, "lazy dog", kFindEnds), 7u);
  EXPECT_EQ(find(1, 1, 10, "lazy", kFindEnds), 0u);
  // Punctuation is literal outside regular expressions.
  EXPECT_EQ(find(1, 1, 10, "fox.", kFindSubstring), 0u);
  EXPECT_EQ(find(1, 1, 10, "", kFindSubstring), 0u);

  ChunkFindDetail detail;
  EXPECT_EQ(FindTextInChunk(c, 1, 1, 10, "brown", 0, kFindSubstring, nullptr, 0, &detail), 4u);
  EXPECT_EQ(detail.record, 4u);
  EXPECT_EQ(detail.offset, 10u);
  EXPECT_EQ(detail.length, 5u);
  // An explicit length cuts the search.
  EXPECT_EQ(FindTextInChunk(c, 1, 1, 10, "lazyXYZ", 4, kFindSubstring, nullptr, 0, nullptr), 7u);
}

TEST(FindersText, ChunkOptionsApply) {
  Doc doc(Runs());
  TorvoRTChunk* c = doc.item->DefineChunk(nullptr);
  auto find = [&](const char* text, uint16_t mode) {
    return FindTextInChunk(c, 1, 1, 10, text, 0, mode, nullptr, 0, nullptr);
  };
  EXPECT_EQ(find("FOX", kFindSubstring), 4u);
  c->CaseSensitive = 1;
  EXPECT_EQ(find("Fox", kFindSubstring), 10u);
  c->CaseSensitive = 0;
  c->SearchWordBoundaries = 1;
  EXPECT_EQ(find("ump", kFindSubstring), 0u);
  EXPECT_EQ(find("jumps", kFindSubstring), 7u);
  c->SearchWordBoundaries = 0;
  c->TextWildcards = 1;
  EXPECT_EQ(find("l?zy", kFindSubstring), 7u);
  EXPECT_EQ(find("jumps*dog", kFindEntire), 7u);
  EXPECT_EQ(find("the*", kFindEntire), 4u);  // the run reaches the end
  EXPECT_EQ(find("*bold fox", kFindEnds), 10u);
  c->TextWildcards = 0;
  c->RegularExpression = 1;
  EXPECT_EQ(find("q[a-z]+k", kFindSubstring), 4u);
  EXPECT_EQ(find("d.g", kFindEnds), 7u);
  EXPECT_EQ(find("(", kFindSubstring), 0u);  // an invalid expression finds nothing
}

TEST(FindersText, FontFilter) {
  Doc doc(Runs());
  TorvoRTChunk* c = doc.item->DefineChunk(nullptr);
  FontState bold;
  uint32_t mask = 0;
  ASSERT_EQ(ParseFontSpec("+Bold", nullptr, nullptr, &bold, &mask), 0);
  EXPECT_EQ(FindTextInChunk(c, 1, 1, 10, "fox", 0, kFindSubstring, &bold, mask, nullptr), 10u);
  FontState size;
  ASSERT_EQ(ParseFontSpec("10pt", nullptr, nullptr, &size, &mask), 0);
  EXPECT_EQ(FindTextInChunk(c, 1, 1, 10, "fox", 0, kFindSubstring, &size, mask, nullptr), 4u);
}

TEST(FindersText, UntrustedRecordsStayInBounds) {
  // A text record that is nothing but its header, and one whose font bytes
  // are all there but no text.
  std::vector<std::string> r = navtest::Body({Paragraph("x")});
  r.push_back(navtest::WordRec(0xFF85, Font(1, 10)));
  r.push_back(navtest::IdName("", ""));
  Doc doc(r);
  TorvoRTChunk* c = doc.item->DefineChunk(nullptr);
  EXPECT_EQ(FindTextInChunk(c, 1, 1, 100, "y", 0, kFindSubstring, nullptr, 0, nullptr), 0u);
  EXPECT_EQ(FindNamedElementInChunk(c, 1, 1, 100, "y", 0, kFindEntire, EVERYTHING, nullptr, 0),
            0u);
}

TEST(FindersNamed, AttributeRecordsOfTheType) {
  // 1 pabdef, 2-4 paragraph, 5 table begin, 6 attributes "prices", 7-12 cells, 13 end,
  // 14-16 paragraph, 17 table begin, 18 attributes "totals", ...
  std::vector<std::string> r = navtest::Body({Paragraph("intro")});
  for (const auto& part : {Table({"a", "b"}, "prices"), Paragraph("between"),
                           Table({"c", "d"}, "totals")})
    r.insert(r.end(), part.begin(), part.end());
  Doc doc(r);
  TorvoRTChunk* c = doc.item->DefineChunk(nullptr);
  auto named = [&](int inside, uint32_t first, uint32_t last, const char* name, uint16_t mode,
                   uint16_t type) {
    return FindNamedElementInChunk(c, inside, first, last, name, 0, mode, type, nullptr, 0);
  };
  EXPECT_EQ(named(1, 1, 100, "prices", kFindEntire, TABLE), 5u);
  EXPECT_EQ(named(1, 1, 100, "TOTALS", kFindEntire, TABLE), 17u);
  EXPECT_EQ(named(1, 1, 100, "tot", kFindStarts, TABLE), 17u);
  EXPECT_EQ(named(1, 1, 100, "ices", kFindEnds, TABLE), 5u);
  EXPECT_EQ(named(1, 1, 100, "ice", kFindSubstring, TABLE), 5u);
  EXPECT_EQ(named(1, 1, 100, "ice", kFindEntire, TABLE), 0u);
  EXPECT_EQ(named(0, 5, 13, "prices", kFindEntire, TABLE), 0u);  // after the first table
  EXPECT_EQ(named(0, 5, 13, "totals", kFindEntire, TABLE), 17u);
  EXPECT_EQ(named(1, 1, 100, "prices", kFindEntire, SECTION), 0u);  // not a section
  c->CaseSensitive = 1;
  EXPECT_EQ(named(1, 1, 100, "TOTALS", kFindEntire, TABLE), 0u);
}

TEST(FindersChunk, ThroughTheChunkMethods) {
  std::vector<std::string> r = navtest::Body({Paragraph("intro fox")});
  for (const auto& part : {Table({"red fox", "blue"}, "prices"), Paragraph("tail fox")})
    r.insert(r.end(), part.begin(), part.end());
  Doc doc(r);
  TorvoRTChunk* all = doc.item->DefineChunk(nullptr);
  EXPECT_EQ(all->FindTextChunk(1, "fox", 0, "SUBSTR", ""), 4u);
  TorvoRTChunk* table = doc.item->DefineChunk("Table 1");
  EXPECT_EQ(table->FindTextChunk(1, "fox", 0, "substring", nullptr), 9u);
  EXPECT_EQ(table->FindTextChunk(0, "fox", 0, "substring", nullptr), 16u);
  EXPECT_EQ(table->FindTextChunk(1, "red fox", 0, "Exact", nullptr), 9u);
  EXPECT_EQ(table->FindTextChunk(1, "fox", 0, "substring", "+Bogus"), 0u);
  EXPECT_EQ(all->FindNamedChunk(1, "Table", "prices", 0, "exact", nullptr), 5u);
  EXPECT_EQ(all->FindNamedChunk(1, "Table", "nothing", 0, "exact", nullptr), 0u);
  // Chains that name more than one place are refused.
  TorvoRTChunk* every = doc.item->DefineChunk("Table *");
  EXPECT_EQ(every->FindTextChunk(1, "fox", 0, "substring", nullptr), 0u);
  EXPECT_EQ(every->lastStatus, 20017);
  TorvoRTChunk* before = doc.item->DefineChunk("Before Table 1");
  EXPECT_EQ(before->FindNamedChunk(1, "Table", "prices", 0, "exact", nullptr), 0u);
  EXPECT_EQ(before->lastStatus, 20017);
}

}  // namespace
