// Chunk definitions: parsing the text form and writing chains back.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "include/lsxsessi.h"
#include "include/rtchunk.h"
#include "richtext/engine/opcodes.h"

namespace {

struct ChainDeleter {
  void operator()(chunkdef_info* c) const { FreeChunkDefinition(c); }
};
using Chain = std::unique_ptr<chunkdef_info, ChainDeleter>;

class ChunkDefinitionTest : public ::testing::Test {
 protected:
  LSXLsiSession session;
  uint32_t simple = 99;

  Chain Parse(const std::string& text, const chunkdef_info* previous = nullptr) {
    simple = 99;
    return Chain(ParseChunkDefinition(&session, previous, text.c_str(), &simple));
  }
  static std::string Write(const chunkdef_info* chain) {
    char out[kTextBufferSize];
    std::memset(out, 'x', sizeof out);
    TorvoRTChunk::CalculateDefinition(chain, out);
    return out;
  }
  std::string RoundText(const std::string& text) {
    Chain c = Parse(text);
    return c ? Write(c.get()) : std::string("<null>");
  }
};

size_t Length(const chunkdef_info* c) {
  size_t n = 0;
  for (; c; c = c->next) ++n;
  return n;
}

TEST_F(ChunkDefinitionTest, EverythingForms) {
  Chain c = Parse("Everything");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->relation, REL_EVERYTHING);
  EXPECT_EQ(c->targetType, EVERYTHING);
  EXPECT_EQ(c->occurrenceCount, 0u);
  EXPECT_EQ(c->next, nullptr);
  EXPECT_EQ(simple, 0u);
  EXPECT_EQ(Write(c.get()), "Everything");
  EXPECT_EQ(Write(nullptr), "Everything");
  EXPECT_EQ(RoundText("  everything ;; "), "Everything");
}

TEST_F(ChunkDefinitionTest, OneWordAndEmptyTextsFail) {
  EXPECT_FALSE(Parse("Table"));
  EXPECT_FALSE(Parse("Inside"));
  EXPECT_FALSE(Parse(""));
  EXPECT_FALSE(Parse(";;;"));
  EXPECT_FALSE(Parse(" ; ;"));
  EXPECT_FALSE(Parse("Widget 1"));
  EXPECT_FALSE(Parse("Inside Widget 1"));
  EXPECT_FALSE(Parse("Table 1; Nothing 2"));
  EXPECT_EQ(ParseChunkDefinition(&session, nullptr, nullptr, &simple), nullptr);
}

TEST_F(ChunkDefinitionTest, DefaultOccurrenceIsOne) {
  EXPECT_EQ(RoundText("Table "), "Table 1");
  EXPECT_EQ(RoundText("Inside Table"), "Inside Table 1");
  EXPECT_EQ(RoundText("Table *"), "Table *");
  EXPECT_EQ(RoundText("Table 1,3-5,7"), "Table 1,3-5,7");
  EXPECT_EQ(RoundText("inside section 2;text 'Total' 1-3"), "Inside Section 2; Text \"Total\" 1-3");
}

TEST_F(ChunkDefinitionTest, RelationsAndWithWord) {
  struct Case {
    const char* text;
    uint16_t relation;
    uint16_t type;
  } cases[] = {
      {"Contains Table 1", REL_CONTAINS, TABLE},    {"Inside Section 2", REL_INSIDE, SECTION},
      {"Outside Field 1", REL_OUTSIDE, FIELD},      {"Before Graphic 1", REL_BEFORE, GRAPHIC},
      {"After Anchor 1", REL_AFTER, ANCHOR},        {"Starts With Table 1", REL_STARTS_WITH, TABLE},
      {"Start Table 1", REL_STARTS_WITH, TABLE},    {"Ends With Field 1", REL_ENDS_WITH, FIELD},
      {"End Field 1", REL_ENDS_WITH, FIELD},        {"Inside   Layer 3", REL_INSIDE, LAYER},
  };
  for (const Case& k : cases) {
    Chain c = Parse(k.text);
    ASSERT_TRUE(c) << k.text;
    EXPECT_EQ(c->relation, k.relation) << k.text;
    EXPECT_EQ(c->targetType, k.type) << k.text;
  }
  EXPECT_FALSE(Parse("Starts With"));
  EXPECT_FALSE(Parse("Starts With "));
}

TEST_F(ChunkDefinitionTest, TypeKeywordsArePrefixesInOrder) {
  struct Case {
    const char* text;
    uint16_t type;
  } cases[] = {
      {"Tables 1", TABLE},           {"LayoutRegion 1", LAYOUT},
      {"Ignored 1", IGNORE},         {"GraphicHotspot 1", GraphicHotspot},
      {"ImageHotspot 1", GraphicHotspot}, {"Graphic 1", GRAPHIC},
      {"ImageMap 1", ImageMap},      {"ParagraphList 1", PARAGRAPHLIST},
      {"Paragraph 1", PARAGRAPH},    {"HTML 1", HTML},
      {"XHTML 1", XHTML},            {"XML 1", XML},
      {"HorizontalRule 1", HORIZONTALRULE}, {"HR 1", HORIZONTALRULE},
      {"PageBreak 1", PAGEBREAK},    {"TaggedText 1", TAGGEDTEXT},
      {"File 1", FILE_ATTACHMENT},   {"Field 1", FIELD},
      {"Event 1", EVENT},            {"URLLink 1", URLLink},
      {"NonBlankText 1", NONBLANKTEXT}, {"DelimitedHTML 1", DELIMITEDHTML},
      {"Everything 1", EVERYTHING},
  };
  for (const Case& k : cases) {
    Chain c = Parse(k.text);
    ASSERT_TRUE(c) << k.text;
    EXPECT_EQ(c->targetType, k.type) << k.text;
  }
}

TEST_F(ChunkDefinitionTest, RowsAndColumnsNeedATablePartner) {
  EXPECT_TRUE(Parse("Table 1;Row 2;Column 3"));
  EXPECT_TRUE(Parse("Table 1; Column 3; Row 2"));
  EXPECT_FALSE(Parse("Row 2"));
  EXPECT_FALSE(Parse("Column 1"));
  EXPECT_FALSE(Parse("Inside Table 1; Row 2"));
  EXPECT_FALSE(Parse("Section 1; Row 2"));
  EXPECT_FALSE(Parse("Table 1; Row 1; Row 2"));
  // Relative to a given node.
  Chain table = Parse("Table 1");
  ASSERT_TRUE(table);
  Chain row = Parse("Row 2", table.get());
  ASSERT_TRUE(row);
  EXPECT_EQ(row->targetType, ROW);
  Chain inside = Parse("Inside Table 1");
  EXPECT_FALSE(Parse("Row 2", inside.get()));
}

TEST_F(ChunkDefinitionTest, MatchTextsAndModes) {
  Chain c = Parse("Text 'abc' 2");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->matchMode, MATCH_TEXT);
  EXPECT_STREQ(c->matchText, "abc");
  ASSERT_EQ(c->occurrenceCount, 1u);
  EXPECT_EQ(c->occurrences[0], 2u);

  c = Parse("Text Starts 'Ab'");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->matchMode, MATCH_STARTS);
  EXPECT_STREQ(c->matchText, "Ab");  // the caller's case
  EXPECT_EQ(c->occurrences[0], 1u);

  c = Parse("Text abc");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->matchMode, MATCH_NONE);
  EXPECT_EQ(c->matchText, nullptr);
  EXPECT_EQ(c->occurrences[0], 1u);

  c = Parse("Field ID 5");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->matchMode, MATCH_NONE);
  EXPECT_EQ(c->occurrences[0], 5u);

  c = Parse("Field Name |Subject|");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->matchMode, MATCH_NAME);
  EXPECT_STREQ(c->matchText, "Subject");

  c = Parse("Text Ends \"x'y\" *");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->matchMode, MATCH_ENDS);
  EXPECT_STREQ(c->matchText, "x'y");
  EXPECT_EQ(c->occurrenceCount, 0u);

  c = Parse("Text Substr 'mid'");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->matchMode, MATCH_SUBSTR);
  c = Parse("Section ID 'S1'");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->matchMode, MATCH_ID);
  EXPECT_STREQ(c->matchText, "S1");

  // An unterminated quote runs to the end of its part only.
  c = Parse("Text 'open; Table 2");
  ASSERT_TRUE(c);
  EXPECT_STREQ(c->matchText, "open");
  EXPECT_EQ(c->occurrences[0], 1u);
  ASSERT_TRUE(c->next);
  EXPECT_EQ(c->next->targetType, TABLE);

  // A star inside the quoted text does not select every occurrence.
  c = Parse("Text 'a*b' 3");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->occurrenceCount, 1u);
  EXPECT_EQ(c->occurrences[0], 3u);

  c = Parse("Text abc *");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->matchMode, MATCH_NONE);
  EXPECT_EQ(c->occurrenceCount, 0u);
}

TEST_F(ChunkDefinitionTest, OccurrenceLists) {
  Chain c = Parse("Table 1,3-5,7");
  ASSERT_TRUE(c);
  ASSERT_EQ(c->occurrenceCount, 3u);
  EXPECT_EQ(c->occurrences[0], 1u);
  EXPECT_EQ(c->rangeEnds[0], 0u);
  EXPECT_EQ(c->occurrences[1], 3u);
  EXPECT_EQ(c->rangeEnds[1], 5u);
  EXPECT_EQ(c->occurrences[2], 7u);

  c = Parse("Table 1, 2 - 4");
  ASSERT_TRUE(c);
  ASSERT_EQ(c->occurrenceCount, 2u);
  EXPECT_EQ(c->occurrences[1], 2u);
  EXPECT_EQ(c->rangeEnds[1], 4u);

  // A range end not above the occurrence is a single occurrence.
  c = Parse("Table 5-3");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->rangeEnds[0], 0u);
  EXPECT_EQ(Write(c.get()), "Table 5");
  EXPECT_EQ(simple, 1u);

  // Huge numbers saturate instead of overflowing.
  c = Parse("Table 99999999999999999999");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->occurrences[0], 0xFFFFFFFFu);
}

TEST_F(ChunkDefinitionTest, AtMostOneHundredEntries) {
  std::string list = "Table 1";
  for (int i = 2; i <= 100; ++i) list += "," + std::to_string(i);
  Chain c = Parse(list);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->occurrenceCount, 100u);
  EXPECT_EQ(c->occurrences[99], 100u);
  EXPECT_EQ(Parse(list + ",101"), nullptr);
  EXPECT_EQ(Parse("Section 1; " + list + ",101"), nullptr);
}

TEST_F(ChunkDefinitionTest, TextMustFitTheSessionBuffer) {
  // Written back as Text "a...a" 1: exactly 4,095 characters.
  std::string text = "Text '" + std::string(4095 - 9, 'a') + "' 1";
  ASSERT_EQ(text.size(), 4095u);
  Chain c = Parse(text);
  ASSERT_TRUE(c);
  EXPECT_EQ(std::strlen(c->matchText), 4095u - 9);
  EXPECT_EQ(Parse(text + " "), nullptr);
  // A text that fits but whose written form would not is refused: it would
  // come back cut.
  std::string tight = "Text '" + std::string(4095 - 8, 'a') + "'1";
  ASSERT_EQ(tight.size(), 4095u);
  EXPECT_EQ(Parse(tight), nullptr);
  // Without a session the parse works on its own buffer.
  Chain alone(ParseChunkDefinition(nullptr, nullptr, "Table 2", nullptr));
  ASSERT_TRUE(alone);
  EXPECT_EQ(alone->occurrences[0], 2u);
}

TEST_F(ChunkDefinitionTest, SessionBufferAsInputKeepsMatchCase) {
  std::strcpy(session.PropertyText, "Text 'MiXeD' 1");
  Chain c(ParseChunkDefinition(&session, nullptr, session.PropertyText, nullptr));
  ASSERT_TRUE(c);
  EXPECT_STREQ(c->matchText, "MiXeD");
}

TEST_F(ChunkDefinitionTest, SimpleFlag) {
  struct Case {
    const char* text;
    uint32_t simple;
  } cases[] = {
      {"Table 2; Row 3", 1},   {"Table 1", 1},        {"Text 'a' 2", 1},
      {"Inside Table 1", 0},   {"Table *", 0},        {"Table 1,2", 0},
      {"Table 2-4", 0},        {"Table 1; Inside Section 1", 0},
  };
  for (const Case& k : cases) {
    EXPECT_TRUE(Parse(k.text)) << k.text;
    EXPECT_EQ(simple, k.simple) << k.text;
  }
  // A failed parse leaves the flag alone.
  simple = 7;
  EXPECT_EQ(ParseChunkDefinition(&session, nullptr, "Row 1", &simple), nullptr);
  EXPECT_EQ(simple, 7u);
}

TEST_F(ChunkDefinitionTest, WrittenNamesReadBack) {
  EXPECT_EQ(RoundText("HorizontalRule 1"), "HR 1");
  EXPECT_EQ(RoundText("HR 1"), "HR 1");
  EXPECT_EQ(RoundText("PageBreak 2"), "PageBreak 2");
  EXPECT_EQ(RoundText("TaggedText *"), "TaggedText *");
  EXPECT_EQ(RoundText("Contains Everything 2"), "Contains Everything 2");
  EXPECT_EQ(RoundText("Inside Everything 1"), "Inside Everything 1");
  EXPECT_EQ(RoundText("Field Name |Sub\"ject|"), "Field Name 'Sub\"ject' 1");
  EXPECT_EQ(RoundText("Field Name |Sub\"j'ect|"), "Field Name |Sub\"j'ect| 1");
  EXPECT_EQ(RoundText("Text ''"), "Text \"\" 1");
}

TEST_F(ChunkDefinitionTest, WriterMarksBadValuesAndStaysInBounds) {
  chunkdef_info node;
  node.relation = 42;
  node.targetType = 77;
  node.occurrenceCount = 1;
  node.occurrences[0] = 3;
  EXPECT_EQ(Write(&node), "Error Error 3");

  // A long chain is cut at the buffer's end, still terminated.
  std::vector<chunkdef_info> nodes(500);
  for (size_t i = 0; i < nodes.size(); ++i) {
    nodes[i].relation = REL_INSIDE;
    nodes[i].targetType = SECTION;
    nodes[i].occurrenceCount = 1;
    nodes[i].occurrences[0] = 1234567;
    nodes[i].next = i + 1 < nodes.size() ? &nodes[i + 1] : nullptr;
  }
  char out[kTextBufferSize + 16];
  std::memset(out, 'Z', sizeof out);
  TorvoRTChunk::CalculateDefinition(nodes.data(), out);
  EXPECT_EQ(std::strlen(out), kTextBufferSize - 1);
  EXPECT_EQ(out[kTextBufferSize], 'Z');
}

// Every chain the parser can give writes a text that parses back to it.
bool SameChain(const chunkdef_info* a, const chunkdef_info* b, std::string* why) {
  for (int i = 0; a || b; a = a->next, b = b->next, ++i) {
    if (!a || !b) return *why = "length", false;
    std::string at = " at node " + std::to_string(i);
    if (a->relation != b->relation) return *why = "relation" + at, false;
    if (a->targetType != b->targetType) return *why = "type" + at, false;
    if (a->matchMode != b->matchMode) return *why = "mode" + at, false;
    if ((a->matchText == nullptr) != (b->matchText == nullptr) ||
        (a->matchText && std::strcmp(a->matchText, b->matchText) != 0)) {
      return *why = "match text" + at, false;
    }
    if (a->occurrenceCount != b->occurrenceCount) return *why = "count" + at, false;
    for (uint32_t k = 0; k < a->occurrenceCount; ++k) {
      if (a->occurrences[k] != b->occurrences[k] || a->rangeEnds[k] != b->rangeEnds[k]) {
        return *why = "entry" + at, false;
      }
    }
  }
  return true;
}

TEST_F(ChunkDefinitionTest, RoundTripOverManyChains) {
  std::mt19937 rng(20240607);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  const char* relations[] = {"", "Contains ", "Inside ", "Outside ", "Before ",
                             "After ", "Starts With ", "Start ", "Ends With ", "End "};
  const char* typeWords[] = {"Table", "Hotspot", "Button", "Section", "File", "Doclink",
                             "Text", "StylizedText", "RawText", "Record", "OleObject",
                             "Anchor", "Graphic", "Hyperlink", "ActionHotspot", "Popup",
                             "Field", "Event", "Paragraph", "XML", "Subform",
                             "ComputedText", "HTML", "XHTML", "HorizontalRule", "HR",
                             "PassthruHTML", "Layer", "LayoutRegion", "URLLink", "ImageMap",
                             "GraphicHotspot", "ImageHotspot", "Ignored", "NonBlankText",
                             "ParagraphList", "DelimitedHTML", "PageBreak", "TaggedText",
                             "Everything"};
  const char* modes[] = {"", "Starts ", "Ends ", "Substr ", "ID ", "Name "};
  const char alphabet[] = "abcXYZ 09*,-'\"|#é";
  int checked = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    int parts = 1 + static_cast<int>(pick(4));
    for (int p = 0; p < parts; ++p) {
      if (p) text += pick(2) ? "; " : ";";
      if (pick(15) == 0) {
        text += "Everything";
        continue;
      }
      bool tableLike = p > 0 && pick(4) == 0;
      text += tableLike ? "" : relations[pick(10)];
      text += tableLike ? (pick(2) ? "Row" : "Column") : typeWords[pick(40)];
      text += " ";
      if (pick(3) == 0) {
        text += modes[pick(6)];
        char quote = "'\"|"[pick(3)];
        text += quote;
        int n = static_cast<int>(pick(8));
        for (int k = 0; k < n; ++k) {
          char ch = alphabet[pick(sizeof alphabet - 1)];
          if (ch != quote) text += ch;
        }
        if (pick(10)) text += quote;
        text += " ";
      }
      switch (pick(4)) {
        case 0: text += "*"; break;
        case 1: break;
        default: {
          int n = 1 + static_cast<int>(pick(4));
          for (int k = 0; k < n; ++k) {
            if (k) text += ",";
            text += std::to_string(pick(20));
            if (pick(3) == 0) text += "-" + std::to_string(pick(30));
          }
        }
      }
    }
    Chain first = Parse(text);
    if (!first) continue;  // e.g. a row with no table before it
    std::string written = Write(first.get());
    Chain second = Parse(written);
    ASSERT_TRUE(second) << text << " -> " << written;
    std::string why;
    EXPECT_TRUE(SameChain(first.get(), second.get(), &why)) << text << " -> " << written << ": " << why;
    EXPECT_EQ(Write(second.get()), written);
    EXPECT_EQ(Length(first.get()), Length(second.get()));
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST_F(ChunkDefinitionTest, ArbitraryTextsParseSafelyAndRoundTrip) {
  std::mt19937 rng(77);
  const std::string pieces[] = {"Table", "Row", "Column", "Inside", "Starts", "With", "Text",
                                "ID", "Name", "Everything", "HR", " ", " ", ";", ",", "-",
                                "*", "'", "\"", "|", "1", "23", "x", "\t", "\xff"};
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    int n = static_cast<int>(rng() % 14);
    for (int k = 0; k < n; ++k) text += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    Chain first = Parse(text);
    if (!first) continue;
    std::string written = Write(first.get());
    Chain second = Parse(written);
    ASSERT_TRUE(second) << text << " -> " << written;
    std::string why;
    EXPECT_TRUE(SameChain(first.get(), second.get(), &why)) << text << " -> " << written << ": " << why;
  }
}

}  // namespace
