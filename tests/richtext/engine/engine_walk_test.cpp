// Target recognition through the engine entry: which records of an item the
// locate step and the position step see as the chunk's target.
#include "engine_fixture.h"
#include "graphicsteps_records.h"

namespace enginetest {
namespace {

using Walk = EngineDoc;
using Range = std::pair<uint32_t, uint32_t>;

// Two tables, the second with a nested table inside it.
std::vector<Bytes> TwoTables() {
  return {
      Para(), Text("intro"),                                   // 1, 2
      TableBegin(), Cell(0, 0), Text("t1"), TableEnd(),        // 3-6
      Para(), Text("between"),                                 // 7, 8
      TableBegin(), Cell(0, 0), Text("t2 a"),                  // 9-11
      TableBegin(true), Cell(0, 0, true), Text("inner"),       // 12-14
      TableEnd(true),                                          // 15
      Cell(0, 1), Text("t2 b"), TableEnd(),                    // 16-18
      Para(), Text("outro"),                                   // 19, 20
  };
}

TEST_F(Walk, SecondTableIsTheTargetAndItsNestedTableDoesNotEndIt) {
  Make(TwoTables(), Chain({Node(REL_CONTAINS, TABLE, {2})}));
  EXPECT_EQ(Locate(), Range(9, 18));
  EXPECT_EQ(chunk->lastStatus, NN_ERR_READONLY_DONE);
}

TEST_F(Walk, EveryTableGivesOneRangeWithItsFirstTextAsKey) {
  Make(TwoTables(), Chain({Node(REL_CONTAINS, TABLE)}));
  // The nested table lies inside the second table's range and is not counted
  // while that range is open.
  auto ranges = Positions("TEXT");
  ASSERT_EQ(ranges, (std::vector<Range>{{3, 6}, {9, 18}}));
  EXPECT_STREQ(chunk->internal->positions[0].keyText, "t1");
  EXPECT_STREQ(chunk->internal->positions[1].keyText, "t2 a");
}

TEST_F(Walk, RowIsChosenByTheRowIndexByteNotByCounting) {
  // Row index bytes 0, 2, 5: only the cell whose byte is 2 is "Row 3".
  Make({TableBegin(), Cell(0, 0), Text("a"), Cell(0, 1), Text("b"),  // 1-5
        Cell(2, 0), Text("c"), Cell(2, 1), Text("d"),               // 6-9
        Cell(5, 0), Text("e"), TableEnd(), Para(), Text("x")},      // 10-14
       Chain({Node(REL_CONTAINS, TABLE, {1}), Node(REL_CONTAINS, ROW, {3})}));
  // The row ends where the next row's first cell starts, outside the row.
  EXPECT_EQ(Locate(), Range(6, 9));
  auto ranges = Positions();
  EXPECT_EQ(ranges, (std::vector<Range>{{6, 9}}));
}

TEST_F(Walk, LastRowEndsAtTheTableEnd) {
  Make({TableBegin(), Cell(0, 0), Text("a"), Cell(1, 0), Text("b"), TableEnd(), Para()},
       Chain({Node(REL_CONTAINS, TABLE, {1}), Node(REL_CONTAINS, ROW, {2})}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{4, 5}}));
}

TEST_F(Walk, HotspotInsideASectionDoesNotEndTheSection) {
  Make({Para(), Text("x"),                                              // 1, 2
        Hotspot(0xFFAD, 12), SectionBar("Title"), Text("s1"),           // 3-5
        Hotspot(0xFFA9, 3), Text("button"), HotspotEnd(170),            // 6-8
        Text("still section"), HotspotEnd(174),                         // 9, 10
        Text("after"),                                                  // 11
        Hotspot(0xFFAD, 12), SectionBar("Two"), Text("s2"), HotspotEnd(174)},  // 12-15
       Chain({Node(REL_CONTAINS, SECTION)}));
  EXPECT_EQ(Positions("SECTION"), (std::vector<Range>{{3, 10}, {12, 15}}));
  EXPECT_STREQ(chunk->internal->positions[0].keyText, "Title");
  EXPECT_STREQ(chunk->internal->positions[1].keyText, "Two");
}

TEST_F(Walk, HotspotTypeSelectsTheElement) {
  // A button (type 3) is not a section (types 7, 12, 13).
  Make({Hotspot(0xFFAD, 3), Text("b"), HotspotEnd(174), Hotspot(0xFFAD, 13), Text("s"),
        HotspotEnd(174)},
       Chain({Node(REL_CONTAINS, SECTION)}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{4, 6}}));
}

TEST_F(Walk, OutsideADoclinkSkipsExactlyThatRecord) {
  Make({Text("a"), Doclink(), Text("b"), Text("c"), Doclink(), Doclink(), Text("d")},
       Chain({Node(REL_OUTSIDE, DOCLINK)}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{1, 1}, {3, 4}, {7, 7}}));
}

TEST_F(Walk, NonBlankTextNeverStartsOnAnEmptyText) {
  Make({Para(), Text(""), Text("words"), Para(), Text("")},
       Chain({Node(REL_CONTAINS, NONBLANKTEXT, {1})}));
  EXPECT_EQ(Locate(), Range(3, 3));
}

TEST_F(Walk, TextOccurrenceAndMatchText) {
  Make({Text("alpha"), Text("Beta one"), Text("gamma"), Text("beta two")},
       Chain({Node(REL_CONTAINS, TEXT, {}, "BETA", MATCH_STARTS)}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{2, 2}, {4, 4}}));
}

TEST_F(Walk, ExactMatchNeedsTheWholeTextAndAShorterTextFails) {
  Make({Text("be"), Text("beta"), Text("BETA"), Text("betas")},
       Chain({Node(REL_CONTAINS, TEXT, {}, "beta", MATCH_TEXT)}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{2, 2}, {3, 3}}));
}

TEST_F(Walk, TableFoundByItsHtmlIdOrName) {
  Make({TableBegin(), IdName("first", "one"), Cell(0, 0), Text("a"), TableEnd(),
        TableBegin(), IdName("second", "two"), Cell(0, 0), Text("b"), TableEnd()},
       Chain({Node(REL_CONTAINS, TABLE, {}, "second", MATCH_ID)}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{6, 10}}));
}

TEST_F(Walk, NameComparisonIsCaseSensitiveAndLengthExact) {
  Make({TableBegin(), IdName("x", "Two"), Cell(0, 0), TableEnd(), TableBegin(),
        IdName("y", "two"), Cell(0, 0), TableEnd(), TableBegin(), IdName("z", "twos"),
        Cell(0, 0), TableEnd()},
       Chain({Node(REL_CONTAINS, TABLE, {}, "two", MATCH_NAME)}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{5, 8}}));
}

TEST_F(Walk, TruncatedAttributeRecordIsNotReadPastItsEnd) {
  // The name length claims more bytes than the record holds.
  Bytes bad = IdName("", "n");
  bad[14] = 200;
  Make({TableBegin(), bad, Cell(0, 0), TableEnd()},
       Chain({Node(REL_CONTAINS, TABLE, {}, "n", MATCH_NAME)}));
  EXPECT_TRUE(Positions().empty());
}

TEST_F(Walk, BeginNestingDeeperThanFiftyKeepsWalking) {
  std::vector<Bytes> recs;
  for (int i = 0; i < 60; ++i) recs.push_back(Begin(0xFFC9));
  recs.push_back(Text("deep"));
  for (int i = 0; i < 60; ++i) recs.push_back(End(0xFFC9));
  recs.push_back(TableBegin());   // 122
  recs.push_back(Cell(0, 0));
  recs.push_back(TableEnd());     // 124
  Make(recs, Chain({Node(REL_CONTAINS, TABLE, {1})}));
  EXPECT_EQ(Locate(), Range(122, 124));
}

// A text nested in more than fifty groups is one text; a picture in a
// hotspot stored without a BEGIN/END group ends with the hotspot, and what is
// appended to it stays there.
TEST_F(Walk, ElementsEndWithTheirRecords) {
  std::vector<Bytes> deep(55, Begin(0xFF85));
  deep.push_back(Text("deep"));
  deep.insert(deep.end(), 55, End(0xFF85));
  deep.push_back(Text("tail"));
  Make(deep, Chain({Node(REL_CONTAINS, TEXT)}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{55, 56}, {112, 112}}));
  TearDown();
  SetUp();
  Make({Para(), Text("one"), Hotspot(0xFFA9, 11), pictures::Graphic(10, 10), HotspotEnd(0xAA),
        Text("tail"), Para(), Text("three")},
       Chain({Node(REL_CONTAINS, GRAPHIC)}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{4, 4}}));
  ASSERT_EQ(item->DefineChunk("Graphic 1")->AppendText("ZQX", 3, nullptr), 0);
  const std::vector<Rec> stored = Split(Stored());
  ASSERT_GE(stored.size(), 6u);
  EXPECT_EQ(std::string(stored[4].bytes.begin() + 8, stored[4].bytes.end()), "ZQX");
  EXPECT_EQ(stored[5].sig, 0xAA);
}

TEST_F(Walk, EverythingChunkCoversTheWholeItem) {
  Make({Para(), Text("a"), TableBegin(), Cell(0, 0), TableEnd(), Text("b")});
  EXPECT_EQ(Locate(), Range(1, 6));
  EXPECT_EQ(Positions(), (std::vector<Range>{{1, 6}}));
}

TEST_F(Walk, ExistsStopsAtTheFirstRecordOfTheFirstMatch) {
  Make({Text("a"), TableBegin(), Cell(0, 0), TableEnd(), TableBegin(), TableEnd()},
       Chain({Node(REL_CONTAINS, TABLE)}));
  chunk->lastStatus = 0;
  session->globals->FirstMatchRecord = session->globals->LastMatchRecord = 0;
  EXPECT_EQ(Run(STEP_LOCATE, PROP_EXISTS), 0);
  EXPECT_EQ(session->globals->FirstMatchRecord, 2u);
  EXPECT_EQ(session->globals->LastMatchRecord, 0u);
  EXPECT_EQ(chunk->lastStatus, NN_ERR_READONLY_DONE);
}

TEST_F(Walk, AfterAndBeforeATable) {
  std::vector<Bytes> recs = {Para(), Text("a"), TableBegin(), Cell(0, 0), Text("c"), TableEnd(),
                             Para(), Text("b")};
  Make(recs, Chain({Node(REL_AFTER, TABLE, {1})}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{7, 8}}));
}

TEST_F(Walk, BeforeATableEndsWhereTheTableStarts) {
  Make({Para(), Text("a"), TableBegin(), Cell(0, 0), TableEnd(), Para(), TableBegin(),
        TableEnd()},
       Chain({Node(REL_BEFORE, TABLE, {1})}));
  EXPECT_EQ(Positions(), (std::vector<Range>{{1, 2}}));
}

TEST_F(Walk, StopSwitchEndsAfterTheFirstElement) {
  Make({Text("a"), Text("b"), Text("c")}, Chain({Node(REL_CONTAINS, TEXT)}));
  chunk->stopSwitch = 1;
  EXPECT_EQ(Positions(), (std::vector<Range>{{1, 1}}));
}

TEST_F(Walk, ProgressCallbackCanInterruptTheWalk) {
  Make({Text("a"), Text("b")});
  SetChunkProgressCallback([](uint32_t record) { return record == 1 ? 1 : 0; });
  NnLogClear();
  EXPECT_EQ(Run(STEP_TEXT_GET), NN_ERR_CATASTROPHIC);
  SetChunkProgressCallback(nullptr);
  EXPECT_NE(NnLogCaptured().find("Interrupted by user!"), std::string::npos);
  EXPECT_EQ(Run(STEP_TEXT_GET), 0);
}

TEST_F(Walk, UnlinkRecordNodeJoinsItsNeighbours) {
  Make({Text("a"), Text("b"), Text("c")});
  ASSERT_EQ(item->LoadRecords(), 0);
  RecordList* list = item->context->records;
  RTProcessContext ctx;
  ctx.Session = session;
  ctx.Records = list;
  RTRecordNode* second = list->first->next;
  RTRecordNode* third = second->next;
  ctx.PendingRunNode = second;
  EXPECT_EQ(UnlinkRecordNode(&ctx, second), third);
  EXPECT_EQ(list->count, 2u);
  EXPECT_EQ(list->first->next, third);
  EXPECT_EQ(third->prev, list->first);
  EXPECT_EQ(ctx.PendingRunNode, third);
  session->ClearResultText();
  ASSERT_EQ(Run(STEP_TEXT_GET, 0, 1, ""), 0);
  EXPECT_STREQ(session->ResultText, "ac");
}

TEST_F(Walk, ContainsTestsAnswerFromTheRecords) {
  Make({Para(), PabRef(1), Text(""), Para(), Text("")});
  session->globals->FoundCount = 0;
  EXPECT_EQ(Run(2304), 0);
  EXPECT_EQ(Run(2305), 0);
  EXPECT_EQ(session->globals->FoundCount, 0);
}

TEST_F(Walk, ContainsTextFindsText) {
  Make({Para(), Text(""), Text("x")});
  session->globals->FoundCount = 0;
  EXPECT_EQ(Run(2305), 0);
  EXPECT_EQ(session->globals->FoundCount, 1);
}

TEST_F(Walk, OnlyAttachmentsIgnoresAttachmentHotspots) {
  Make({Para(), Hotspot(0xFFA9, 4, 0, "file.txt"), Text("icon"), HotspotEnd(170), Text("")});
  session->globals->FoundCount = 0;
  EXPECT_EQ(Run(2647), 0);
  EXPECT_EQ(session->globals->FoundCount, 0);
  EXPECT_EQ(Run(2304), 0);
  EXPECT_EQ(session->globals->FoundCount, 1);
}

TEST_F(Walk, ComplexTextSeesADifferentFont) {
  Make({Para(), Text("a", 0x0A000001u), Text("b", 0x0A000001u)});
  session->globals->FoundCount = 0;
  EXPECT_EQ(Run(2644), 0);
  EXPECT_EQ(session->globals->FoundCount, 0);
}

TEST_F(Walk, ComplexTextHitOnSecondFont) {
  Make({Para(), Text("a", 0x0A000001u), Text("b", 0x0A000101u)});
  session->globals->FoundCount = 0;
  EXPECT_EQ(Run(2644), 0);
  EXPECT_EQ(session->globals->FoundCount, 1);
}

}  // namespace
}  // namespace enginetest
