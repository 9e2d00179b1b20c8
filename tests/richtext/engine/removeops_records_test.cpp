// Removal operations (content, hotspots, links, fields, sections) and the
// clean-up after a text insertion, as the stored item shows them.
#include <string>
#include <vector>

#include "engine_fixture.h"

namespace enginetest {
namespace {

using Removal = EngineDoc;

// A field record (canonical) with a name and no other strings.
Bytes Field(const std::string& name) {
  Bytes b;
  Put16(b, 0xFF8A);
  Put16(b, uint16_t(36 + name.size()));
  b.resize(30, 0);
  Put16(b, uint16_t(name.size()));  // name length at 30 (32 in host layout)
  Put16(b, 0);
  Put16(b, 0);
  b.insert(b.end(), name.begin(), name.end());
  return b;
}
Bytes Word(uint16_t sig, uint16_t len) {
  Bytes b;
  Put16(b, sig);
  Put16(b, len);
  b.resize(len, 0);
  return b;
}
// A paragraph definition (canonical fixed part, 70 bytes) with an id.
Bytes Pab(uint16_t id) {
  Bytes b = Word(0xFF82, 70);
  b[4] = uint8_t(id);
  b[5] = uint8_t(id >> 8);
  return b;
}

TEST_F(Removal, RemoveHotspotsKeepsThePopupTextAndDropsItsFrame) {
  Make({Text("a"), Begin(0xFFA9), Hotspot(0xFFA9, 1, 0, "popup text"), Text("shown"),
        HotspotEnd(170), End(0xFFA9), Text("z")});
  ASSERT_EQ(Run(2389), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), Text("shown"), Text("z")}));
}

TEST_F(Removal, RemoveHotspotsDropsADoclinkWithItsBeginAndEnd) {
  Make({Text("a"), Begin(0xFF92), Doclink(), Text("inside"), End(0xFF92), Text("b")});
  ASSERT_EQ(Run(2389), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), Text("b")}));
}

TEST_F(Removal, RemoveLinksKeepsTextAndLeavesOtherHotspots) {
  std::vector<Bytes> popup = {Hotspot(0xFFA9, 1, 0, "p"), Text("pop"), HotspotEnd(170)};
  std::vector<Bytes> recs = {Hotspot(0xFFAD, 11, 0, "http://x"), Text("site"), HotspotEnd(174)};
  recs.insert(recs.end(), popup.begin(), popup.end());
  Make(recs);
  ASSERT_EQ(Run(2390), 0);
  std::vector<Bytes> expected = {Text("site")};
  expected.insert(expected.end(), popup.begin(), popup.end());
  EXPECT_EQ(Stored(), Join(expected));
}

TEST_F(Removal, RemoveLinksWithItsArgumentKeepsUrlHotspots) {
  std::vector<Bytes> recs = {Hotspot(0xFFAD, 11, 0x1000, "http://x"), Text("site"),
                             HotspotEnd(174)};
  Make(recs);
  ASSERT_EQ(Run(2390, 1), 0);
  EXPECT_EQ(Stored(), Join(recs));
}

TEST_F(Removal, RemoveFieldsMatchesTheWholeName) {
  Make({Text("a"), Field("Subject"), Text("b"), Field("SubjectLine"), Text("c")});
  ASSERT_EQ(Run(2430, 0, 0, "Subject"), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), Text("b"), Field("SubjectLine"), Text("c")}));
}

TEST_F(Removal, RemoveFieldsIsCaseExactAndWithoutANameRemovesAll) {
  std::vector<Bytes> recs = {Text("a"), Field("Subject"), Text("b")};
  Make(recs);
  ASSERT_EQ(Run(2430, 0, 0, "subject"), 0);
  EXPECT_EQ(Stored(), Join(recs));
  ASSERT_EQ(Run(2430), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), Text("b")}));
}

TEST_F(Removal, RemoveFieldsTakesTheWrappingBeginAndEnd) {
  Make({Text("a"), Begin(0xFF8A), Word(0xFFB0, 20), Field("F"), Word(0xFF7A, 26), End(0xFF8A),
        Text("b")});
  ASSERT_EQ(Run(2430, 1, 0, "F"), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), Text("b")}));
}

TEST_F(Removal, RemoveSectionsKeepsTheBodyAndDropsTheTitle) {
  Make({Text("pre"), SectionBar("Title"), Hotspot(0xFFA9, 12), Text("body"),
        Hotspot(0xFFA9, 1, 0, "p"), Text("pop"), HotspotEnd(170), HotspotEnd(170),
        Text("post")});
  ASSERT_EQ(Run(2391), 0);
  // The nested popup keeps its own end record.
  EXPECT_EQ(Stored(), Join({Text("pre"), Text("body"), Hotspot(0xFFA9, 1, 0, "p"), Text("pop"),
                            HotspotEnd(170), Text("post")}));
}

TEST_F(Removal, RemoveDropsTheTargetAndKeepsTheRest) {
  Make({Text("one"), Text("two"), Text("three")}, Chain({Node(REL_CONTAINS, TEXT, {2})}));
  ASSERT_EQ(Run(2366), 0);
  EXPECT_EQ(Stored(), Join({Text("one"), Text("three")}));
}

std::vector<std::string>* gMessages = nullptr;
void Collect(void*, const char* text) {
  if (gMessages) gMessages->push_back(text);
}

TEST_F(Removal, RemovedParagraphDefinitionsAreKeptUpToAThousand) {
  std::vector<std::string> messages;
  gMessages = &messages;
  session->SetMessageProc(Collect, nullptr);
  Make({Pab(7), Text("x")});
  session->globals->deletedParaDefCount = 999;
  ASSERT_EQ(Run(2366), 0);
  EXPECT_EQ(session->globals->deletedParaDefCount, 1000);
  ASSERT_NE(session->globals->deletedParaDefs[999], nullptr);
  EXPECT_EQ(static_cast<uint8_t*>(session->globals->deletedParaDefs[999])[4], 7);
  EXPECT_TRUE(messages.empty());

  // The next one is reported and not kept.
  NnItemDelete(note, "Body", 4);
  delete chunk;
  delete item;
  Make({Pab(8)});
  ASSERT_EQ(Run(2366), 0);
  EXPECT_EQ(session->globals->deletedParaDefCount, 1000);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "ZELKO: Unable to save additional deleted PAB definitions.");
  gMessages = nullptr;
}

TEST_F(Removal, ParagraphsAfterTheRemovedChunkKeepTheirDefinition) {
  // The chunk holds the definition; the paragraph after it still refers to it.
  Make({Pab(5), PabRef(5), Text("gone"), Para(), PabRef(5), Text("kept")},
       Chain({Node(REL_CONTAINS, RECORD, {1, 3}), }));
  chunk->internal->chain->rangeEnds[0] = 3;
  chunk->internal->chain->occurrenceCount = 1;
  ASSERT_EQ(Run(2366), 0);
  EXPECT_EQ(Stored(), Join({Para(), Pab(5), PabRef(5), Text("kept")}));
}

TEST_F(Removal, CleanupJoinsEmptyRunsAndEmptyPassthrough) {
  Make({Text("a"), Text(""), Text("b"), Word(0xFFCC, 8), Word(0xFFCD, 8), Text("c"),
        Word(0xFFCD, 8), Text("d")});
  ASSERT_EQ(Run(STEP_CLEANUP_TEXT), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), Text("b"), Text("c"), Text("d")}));
}

TEST_F(Removal, CleanupKeepsTheEmptyTextBetweenPassthroughStartAndEnd) {
  Make({Text("a"), Word(0xFFCC, 8), Text(""), Word(0xFFCD, 8), Para(), Text("b")});
  ASSERT_EQ(Run(STEP_CLEANUP_TEXT), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), Text(""), Para(), Text("b")}));
}

TEST_F(Removal, CleanupRemovesAnEmptyWrappedRunOnlyWithTheSwitch) {
  std::vector<Bytes> recs = {Text("a"), Begin(0xFF85), Text(""), Para(), End(0xFF85), Text("b")};
  Make(recs);
  ASSERT_EQ(Run(STEP_CLEANUP_TEXT), 0);
  EXPECT_EQ(Stored(), Join(recs));
  item->cleanupSwitch = 1;
  ASSERT_EQ(Run(STEP_CLEANUP_TEXT), 0);
  EXPECT_EQ(Stored(), Join({Text("a"), Text("b")}));
}

}  // namespace
}  // namespace enginetest

namespace enginetest {
namespace {

TEST_F(Removal, AppendRowCountsTheNewRowInThePreTableRecord) {
  Bytes pre;
  Put16(pre, 0xFFFB);
  Put16(pre, 44);
  pre.resize(44, 0);
  pre[8] = 1;  // one row
  Make({pre, TableBegin(), Cell(0, 0), Text("cell"), TableEnd(), Text("after")},
       Chain({Node(REL_CONTAINS, TABLE, {1})}));
  // The row is records 3 and 4 (the cell and its text).
  ASSERT_EQ(Run(2355, 3, 4), 0);
  Bytes stored = Stored();
  ASSERT_GT(stored.size(), 9u);
  EXPECT_EQ(stored[0], 0xFB);
  EXPECT_EQ(stored[8], 2);
}

}  // namespace
}  // namespace enginetest
