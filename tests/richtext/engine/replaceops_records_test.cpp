// Text replacement (2392), find (2398) and their scopes, as the stored item
// shows them.
#include <cstring>
#include <string>
#include <vector>

#include "engine_fixture.h"

namespace enginetest {
namespace {

using Replace = EngineDoc;

// ReplaceTextQuick's arguments: replacement and its length as sub-code, the
// find length as first number (0: its own), the scope bits as second.
struct QuickFixture : EngineDoc {
  NnStatus Q(const char* find, const char* replace, uint32_t scope) {
    return ProcessChunkOperation(chunk, note, "Body", 2392, uint32_t(std::strlen(replace)), 0,
                                 scope, 0, replace, find, 0, nullptr, nullptr);
  }
};
using ReplaceQ = QuickFixture;

TEST_F(ReplaceQ, TextRunsWithTheDefaultScope) {
  Make({Text("hello world", 0x0C000004u), Para(), Text("no match")});
  ASSERT_EQ(Q("world", "there", 0), 0);
  EXPECT_EQ(Stored(), Join({Text("hello there", 0x0C000004u), Para(), Text("no match")}));
}

TEST_F(ReplaceQ, PopupTextGrowsItsRecordByOneByte) {
  Make({Hotspot(0xFFA9, 1, 0, "ab cd"), Text("ab"), HotspotEnd(170)});
  ASSERT_EQ(Q("ab", "xyz", 2), 0);
  // Only the hotspot's data changes with scope 2; the run keeps its text.
  Bytes stored = Stored();
  Bytes expected = Join({Hotspot(0xFFA9, 1, 0, "xyz cd"), Text("ab"), HotspotEnd(170)});
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(stored[2], 12 + 6);  // length word one above the old 17
  EXPECT_EQ(stored.size() % 2, 0u);
}

TEST_F(ReplaceQ, UrlOfAUrlHotspotOnlyWithScopeUrl) {
  std::vector<Bytes> recs = {Hotspot(0xFFAD, 11, 0x1000, "http://old"), Text("site"),
                             HotspotEnd(174)};
  Make(recs);
  ASSERT_EQ(Q("old", "new", 2), 0);
  EXPECT_EQ(Stored(), Join(recs));
  ASSERT_EQ(Q("old", "new", 16), 0);
  EXPECT_EQ(Stored(),
            Join({Hotspot(0xFFAD, 11, 0x1000, "http://new"), Text("site"), HotspotEnd(174)}));
}

Bytes Label(const std::string& text) {
  Bytes b;
  Put16(b, 0xFFE3);
  Put16(b, 140);
  b.insert(b.end(), text.begin(), text.end());
  b.resize(140, 0);
  return b;
}

TEST_F(ReplaceQ, CaptionLabelTakesItsWholeReplacementOrTheCallFails) {
  Make({Label("abc")});
  ASSERT_EQ(Q("b", std::string(125, 'x').c_str(), 2), 0);
  EXPECT_EQ(Stored(), Join({Label("a" + std::string(125, 'x') + "c")}));
  // One character more would be cut: the call fails and the label stays.
  EXPECT_NE(Q("a", "yy", 2), 0);
  EXPECT_EQ(Stored(), Join({Label("a" + std::string(125, 'x') + "c")}));
}

Bytes HideWhen(const std::string& formula) {
  NnHandle h = 0;
  uint16_t len = 0, eo = 0, el = 0;
  EXPECT_EQ(NnFormulaCompile(formula.data(), uint16_t(formula.size()), &h, &len, &eo, &el), 0);
  Bytes b;
  Put16(b, 0xFFBB);
  Put16(b, uint16_t(14 + len));
  b.resize(14, 0);
  const uint8_t* p = static_cast<const uint8_t*>(NnMemLock(h));
  b.insert(b.end(), p, p + len);
  NnMemUnlock(h);
  NnMemFree(h);
  return b;
}

TEST_F(ReplaceQ, HideWhenFormulaOnlyWithScopeHideWhen) {
  std::vector<Bytes> recs = {Para(), HideWhen("Status = \"abc\""), Text("abc")};
  Make(recs);
  ASSERT_EQ(Q("abc", "xyz", 1 | 2 | 4 | 16), 0);
  EXPECT_EQ(Stored(), Join({Para(), HideWhen("Status = \"abc\""), Text("xyz")}));
  ASSERT_EQ(Q("abc", "xyz", 8), 0);
  EXPECT_EQ(Stored(), Join({Para(), HideWhen("Status = \"xyz\""), Text("xyz")}));
}

TEST_F(ReplaceQ, NoFindTextChangesNothing) {
  std::vector<Bytes> recs = {Text("abc")};
  Make(recs);
  ASSERT_EQ(Q("", "x", 1), 0);
  EXPECT_EQ(Stored(), Join(recs));
}

TEST_F(Replace, FindCopiesEachMatchAndLeavesTheItem) {
  std::vector<Bytes> recs = {Text("one Two two"), Text("three two")};
  Make(recs);
  ASSERT_EQ(Run(2398, 0, 0, nullptr, "two"), 0);
  EXPECT_EQ(std::string(session->MessageText, session->MessageTextLength), "Twotwotwo");
  EXPECT_EQ(Stored(), Join(recs));
}

}  // namespace
}  // namespace enginetest
