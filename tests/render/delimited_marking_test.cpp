// Delimited HTML marking over record lists: pass-through blocks around "[<"
// ">]" runs before a render, and escaped text between delimiters before an
// HTML import.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "render/render.h"
#include "richtext/item/recordlist.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes HostText(const std::string& s) {
  Bytes b(8 + s.size());
  uint16_t sig = 0xFF85, len = uint16_t(b.size());
  std::memcpy(b.data(), &sig, 2);
  std::memcpy(b.data() + 2, &len, 2);
  b[4] = 1;
  b[7] = 10;
  std::memcpy(b.data() + 8, s.data(), s.size());
  return b;
}
Bytes Marker(uint16_t sig) {
  Bytes b(8, 0);
  std::memcpy(b.data(), &sig, 2);
  b[2] = 8;
  return b;
}

class Delimited : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.IsValid());
    list = RecordListCreate(&session);
    ASSERT_NE(list, nullptr);
  }
  void TearDown() override { RecordListFreeWithAllocator(&session, list); }

  void Add(Bytes b) {
    store.push_back(std::move(b));
    Bytes& kept = store.back();
    uint16_t sig = 0;
    std::memcpy(&sig, kept.data(), 2);
    ASSERT_NE(RecordListAppendNode(&session, list, sig, kept.data(), uint32_t(kept.size()), 0),
              nullptr);
  }
  // The list as text: markers as <CC>/<CD>, text runs as their text in quotes.
  std::vector<std::string> Dump() {
    std::vector<std::string> out;
    uint32_t n = 0;
    const RTRecordNode* prev = nullptr;
    for (const RTRecordNode* node = list->first; node; node = node->next) {
      EXPECT_EQ(node->prev, prev);
      prev = node;
      ++n;
      EXPECT_EQ(node->sequence, n);
      if (node->signature == 0xFFCC) {
        out.push_back("<CC>");
      } else if (node->signature == 0xFFCD) {
        out.push_back("<CD>");
      } else {
        uint16_t len = 0;
        std::memcpy(&len, node->data + 2, 2);
        EXPECT_EQ(len, node->length);
        out.push_back(std::string(reinterpret_cast<const char*>(node->data) + 8,
                                  node->length - 8));
      }
    }
    EXPECT_EQ(list->last, prev);
    EXPECT_EQ(list->count, n);
    return out;
  }

  LSXLsiSession session;
  RecordList* list = nullptr;
  std::vector<Bytes> store{};

 public:
  Delimited() { store.reserve(64); }
};

using V = std::vector<std::string>;

TEST_F(Delimited, BracketRunsBecomeAPassthruBlock) {
  Add(HostText("[<"));
  Add(HostText("b"));
  Add(HostText(">]"));
  ASSERT_EQ(ProcessDelimitedHTML(&session, list, nullptr, nullptr), 0);
  EXPECT_EQ(Dump(), (V{"<CC>", "<!--DelimitedStart--><", "b", "><!--DelimitedEnd-->", "<CD>"}));
}

// A designer's block open at the end is closed after the last record; a typed
// "[<" whose ">]" is not in its paragraph's text (or never comes) stays text.
TEST_F(Delimited, AnOpenBlockIsClosedAfterTheLastRecordAnUnendedTypedOneStaysText) {
  Add(HostText("x"));
  Add(HostText("[<"));
  Add(HostText("p"));
  Add(Marker(0x0081));  // the paragraph ends
  Add(HostText(">]"));
  Add(HostText("[<"));
  Add(Marker(0xFFCC));
  Add(HostText("q"));
  ASSERT_EQ(ProcessDelimitedHTML(&session, list, "S", "E"), 0);
  EXPECT_EQ(Dump(), (V{"x", "[<", "p", "", ">]", "[<", "<CC>", "q", "<CD>"}));
}

TEST_F(Delimited, OnlyTwoCharacterRunsAreDelimiters) {
  Add(HostText("[<b"));
  Add(HostText(">]"));
  Add(HostText("[<>"));
  ASSERT_EQ(ProcessDelimitedHTML(&session, list, nullptr, nullptr), 0);
  EXPECT_EQ(Dump(), (V{"[<b", ">]", "[<>"}));
}

TEST_F(Delimited, ExistingPassthruIsRespectedAndTooLongDelimitersRefused) {
  Add(Marker(0xFFCC));
  Add(HostText("[<"));  // already inside: not a new start
  Add(Marker(0xFFCD));
  ASSERT_EQ(ProcessDelimitedHTML(&session, list, nullptr, nullptr), 0);
  EXPECT_EQ(Dump(), (V{"<CC>", "[<", "<CD>"}));
  std::string longer(56, 'x');
  EXPECT_EQ(ProcessDelimitedHTML(&session, list, longer.c_str(), nullptr), NN_ERR_INVALID_ARG);
  EXPECT_EQ(Dump(), (V{"<CC>", "[<", "<CD>"}));
}

TEST_F(Delimited, AFailedAllocationLeavesTheListAsItWas) {
  Add(HostText("[<"));
  Add(HostText("b"));
  Add(HostText(">]"));
  PoolSetFailAfter(session.pool, 2);
  EXPECT_EQ(ProcessDelimitedHTML(&session, list, nullptr, nullptr), NN_ERR_MEMORY);
  PoolSetFailAfter(session.pool, -1);
  EXPECT_EQ(Dump(), (V{"[<", "b", ">]"}));
}

TEST_F(Delimited, EscapingBetweenDelimitersInOneRecord) {
  Add(HostText("x[[a<b]]y"));
  ASSERT_EQ(EscapeTextRecordsAsHTML(&session, list, "[[", "]]"), 0);
  EXPECT_EQ(Dump(), (V{"x[<!-- -->a&lt;b]y"}));
}

TEST_F(Delimited, EscapingCarriesTheRegionAcrossRecordsAndClosesPassthru) {
  Add(Marker(0xFFCC));
  Add(HostText("p [[<i>"));
  Add(HostText("a&\"b\""));
  Add(HostText("]] q"));
  Add(Marker(0xFFCD));
  Add(HostText("plain <b>"));
  ASSERT_EQ(EscapeTextRecordsAsHTML(&session, list, "[[", "]]"), 0);
  // The open pass-through ends before the region's first text and opens again
  // after the text of the end delimiter; the region itself runs on (only a
  // repeated start delimiter ends it), so later text is escaped too.
  EXPECT_EQ(Dump(), (V{"<CC>", "<CD>", "p [&lt;i&gt;", "a&amp;&quot;b&quot;", "] q", "<CC>",
                       "<CD>", "plain &lt;b&gt;"}));
}

TEST_F(Delimited, EscapingLeavesTextWithoutDelimitersAlone) {
  Add(HostText("a<b"));
  Add(HostText("[["));
  ASSERT_EQ(EscapeTextRecordsAsHTML(&session, list, "[[[[", "]]"), 0);
  EXPECT_EQ(Dump(), (V{"a<b", "[["}));
  ASSERT_EQ(EscapeTextRecordsAsHTML(&session, list, "", "]]"), 0);
  EXPECT_EQ(Dump(), (V{"a<b", "[["}));
}

}  // namespace
