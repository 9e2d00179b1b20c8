// The engine in write mode (Text set) and read mode (Text get): what reaches
// the stored item, and that refused or read-only calls leave it alone.
#include "engine_fixture.h"
#include "host/pool.h"

namespace enginetest {
namespace {

using Write = EngineDoc;

std::vector<Bytes> Sample() {
  return {Para(),    PabRef(1),    Text("before"), TableBegin(), Cell(0, 0), Text("cell"),
          TableEnd(), Para(),      Text("target"), Text("more"), Para(),     Text("after")};
}

TEST_F(Write, TextSetReplacesOneTargetAndKeepsEveryOtherRecord) {
  // Text 3 is "target" (the cell's text is text 2); its neighbours must come
  // back byte for byte.
  Make(Sample(), Chain({Node(REL_CONTAINS, TEXT, {3})}));
  const char* fresh = "new words";
  ASSERT_EQ(Run(STEP_TEXT_SET, 0, uint32_t(std::strlen(fresh)), fresh), 0);
  std::vector<Bytes> expected = Sample();
  expected[8] = Text(fresh);
  EXPECT_EQ(Stored(), Join(expected));
  EXPECT_EQ(item->modified, 1);  // changed since bound (and committed into the note)
  EXPECT_NE(chunk->lastStatus, NN_ERR_READONLY_DONE);
}

TEST_F(Write, TextSetOverSeveralRunsKeepsOneRunInTheFirstFont) {
  Make({Para(), Text("one", 0x0C000004u), Text(""), Text("two"), Para(), Text("three")});
  ASSERT_EQ(Run(STEP_TEXT_SET, 0, 3, "all"), 0);
  // Empty runs of the target survive; the other runs go.
  EXPECT_EQ(Stored(), Join({Para(), Text("all", 0x0C000004u), Text(""), Para()}));
}

TEST_F(Write, TextSetWithAFontSpecWrapsTheTextInAColour) {
  Make({Text("x")});
  ASSERT_EQ(Run(STEP_TEXT_SET, 0, 1, "y", "BOLD RED"), 0);
  Bytes stored = Stored();
  // BEGIN, the bold text, a colour record, END.
  ASSERT_GE(stored.size(), 6u + 9u + 1u + 8u + 6u);
  EXPECT_EQ(stored[0], 221);
  EXPECT_EQ(stored[6], 0x85);
  EXPECT_EQ(stored[11] & 0x01, 0x01);  // bold attribute byte of the font
  EXPECT_EQ(stored[16], 210);
  EXPECT_EQ(stored[24], 222);
}

TEST_F(Write, EmptyItemChangedInWriteModeEndsWithOneEmptyText) {
  Make({Text("gone")});
  // Sort-drop of every record: nothing is composed.
  chunk->internal->rowKeyCount = 0;
  ASSERT_EQ(ProcessChunkOperation(chunk, note, "Body", 2397, 0, 0, 0, 0, nullptr, nullptr, 0,
                                  nullptr, nullptr),
            0);
  EXPECT_EQ(Stored(), Join({Text("")}));
}

TEST_F(Write, ReadOnlyCallNeverCommits) {
  Make(Sample());
  Bytes before = Stored();
  session->ClearResultText();
  chunk->lastStatus = 0;
  ASSERT_EQ(Run(STEP_TEXT_GET), 0);
  EXPECT_STREQ(session->ResultText, "before");
  EXPECT_EQ(chunk->lastStatus, NN_ERR_READONLY_DONE);
  EXPECT_EQ(Stored(), before);
}

TEST_F(Write, DeferredCommitInstallsWithoutStoring) {
  Make(Sample(), Chain({Node(REL_CONTAINS, TEXT, {1})}));
  Bytes before = Stored();
  item->DeferCommitFlag = 1;
  ASSERT_EQ(Run(STEP_TEXT_SET, 0, 3, "new"), 0);
  EXPECT_EQ(Stored(), before);
  EXPECT_EQ(item->modified, 1);
  ASSERT_EQ(item->Commit(), 0);
  std::vector<Bytes> expected = Sample();
  expected[2] = Text("new");
  EXPECT_EQ(Stored(), Join(expected));
}

TEST_F(Write, RecordTypeBelowTheLowestIsRefusedInWriteMode) {
  // A byte-header record of type 16 is not a rich-text record.
  std::vector<Bytes> recs = {Text("a"), {16, 4, 0, 0}, Text("b")};
  Make(recs);
  Bytes before = Stored();
  NnLogClear();
  EXPECT_EQ(Run(STEP_TEXT_SET, 0, 1, "z"), NN_ERR_CATASTROPHIC);
  EXPECT_EQ(Stored(), before);
  EXPECT_NE(NnLogCaptured().find("Invalid RT record type of 16"), std::string::npos);
  // The records in memory are the old ones: a read still sees them.
  session->ClearResultText();
  ASSERT_EQ(Run(STEP_TEXT_GET, 0, 1, "+"), 0);
  EXPECT_STREQ(session->ResultText, "a+b");
}

TEST_F(Write, ZeroLengthRecordEndsAReadButRefusesAWrite) {
  Make({Text("a"), Text("b"), Text("c")});
  ASSERT_EQ(item->LoadRecords(), 0);
  item->context->records->first->next->length = 0;  // damaged in memory
  session->ClearResultText();
  ASSERT_EQ(Run(STEP_TEXT_GET, 0, 1, ","), 0);
  EXPECT_STREQ(session->ResultText, "a");
  Bytes before = Stored();
  NnLogClear();
  EXPECT_EQ(Run(STEP_TEXT_SET, 0, 1, "z"), NN_ERR_CATASTROPHIC);
  EXPECT_EQ(Stored(), before);
  EXPECT_NE(NnLogCaptured().find("Invalid RT record length of 0"), std::string::npos);
}

TEST_F(Write, FailedLoadReturnsItsStatusAndWritesNothing) {
  // The second record claims more bytes than the item holds.
  Bytes broken = Join({Text("a")});
  Bytes tail = Text("bbbb");
  tail[2] = 60;
  broken.insert(broken.end(), tail.begin(), tail.end());
  MakeSegments({broken});
  Bytes before = Stored();
  EXPECT_EQ(Run(STEP_TEXT_SET, 0, 1, "z"), NN_ERR_CD_STRUCTURE);
  EXPECT_EQ(Stored(), before);
  EXPECT_EQ(Run(STEP_TEXT_GET), NN_ERR_CD_STRUCTURE);
}

TEST_F(Write, TextGetJoinsRunsWithTheSeparatorBetweenThem) {
  Make({Para(), Text("ab"), Text(""), Text("cd"), Para(), Text("ef")});
  session->ClearResultText();
  ASSERT_EQ(Run(STEP_TEXT_GET, 0, 1, ", "), 0);
  EXPECT_STREQ(session->ResultText, "ab, cd, ef");
  EXPECT_EQ(session->ResultTextLength, 10);
}

TEST_F(Write, TextGetStopsAtTheCapAndCutsTheCrossingRun) {
  std::string big(40000, 'x');
  MakeSegments({Join({Text(big)}), Join({Text(std::string(40000, 'y'))}), Join({Text("zz")})});
  session->ClearResultText();
  ASSERT_EQ(Run(STEP_TEXT_GET, 0, 1, "|"), 0);
  ASSERT_EQ(session->ResultTextLength, 65340);
  EXPECT_EQ(session->ResultText[40000], '|');
  EXPECT_EQ(session->ResultText[65339], 'y');
  EXPECT_EQ(session->ResultText[65340], 0);
}

TEST_F(Write, TextGetOfOneRunTakesTheFirstTextOnly) {
  Make({Para(), Text(""), Text("first"), Text("second")});
  session->ClearResultText();
  ASSERT_EQ(Run(STEP_TEXT_GET), 0);
  EXPECT_STREQ(session->ResultText, "first");
}

TEST_F(Write, SortWithOneKeyIsRefusedAndChangesNothing) {
  Make(Sample());
  Bytes before = Stored();
  EXPECT_EQ(Run(2396), 1026);
  EXPECT_EQ(Stored(), before);
}

TEST_F(Write, TextSetInsideASecondTableKeepsTheFirst) {
  std::vector<Bytes> recs = {TableBegin(), Cell(0, 0), Text("one"), TableEnd(),
                             TableBegin(), Cell(0, 0), Text("two"), Text("2b"), TableEnd(),
                             Para(), Text("tail")};
  Make(recs, Chain({Node(REL_CONTAINS, TABLE, {2}), Node(REL_CONTAINS, TEXT, {1})}));
  ASSERT_EQ(Run(STEP_TEXT_SET, 0, 3, "TWO"), 0);
  recs[6] = Text("TWO");
  EXPECT_EQ(Stored(), Join(recs));
}

TEST_F(Write, OutOfMemoryDuringTheWalkLeavesTheItemAsItWas) {
  Make(Sample());
  ASSERT_EQ(item->LoadRecords(), 0);
  Bytes before = Stored();
  PoolSetFailAfter(session->pool, 4);
  EXPECT_EQ(Run(STEP_TEXT_SET, 0, 3, "new"), NN_ERR_MEMORY);
  PoolSetFailAfter(session->pool, -1);
  EXPECT_EQ(Stored(), before);
  EXPECT_EQ(item->modified, 0);
  session->ClearResultText();
  ASSERT_EQ(Run(STEP_TEXT_GET, 0, 1, "/"), 0);
  EXPECT_STREQ(session->ResultText, "before/cell/target/more/after");
}

TEST_F(Write, NullChunkIsRefused) {
  EXPECT_EQ(ProcessChunkOperation(nullptr, 0, "Body", STEP_TEXT_GET, 0, 0, 0, 0, nullptr, nullptr,
                                  0, nullptr, nullptr),
            NN_ERR_INVALID_ARG);
}

}  // namespace
}  // namespace enginetest
