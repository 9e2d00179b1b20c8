// The render driver's walk, record handlers, text-run branch and rules, over
// record lists built in memory.
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "collection.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "render/render.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

// Host-layout record builders.
void Put16(std::vector<uint8_t>& r, size_t at, uint16_t v) {
  if (r.size() < at + 2) r.resize(at + 2);
  std::memcpy(r.data() + at, &v, 2);
}
void Put32(std::vector<uint8_t>& r, size_t at, uint32_t v) {
  if (r.size() < at + 4) r.resize(at + 4);
  std::memcpy(r.data() + at, &v, 4);
}

// A word-header record (0xFFNN) of `size` bytes.
std::vector<uint8_t> WordRecord(uint16_t sig, size_t size) {
  std::vector<uint8_t> r(size, 0);
  Put16(r, 0, sig);
  Put16(r, 2, static_cast<uint16_t>(size));
  return r;
}
// A byte-header record (0x00NN).
std::vector<uint8_t> ByteRecord(uint16_t sig, size_t size) {
  std::vector<uint8_t> r(size, 0);
  r[0] = static_cast<uint8_t>(sig);
  r[1] = static_cast<uint8_t>(size);
  return r;
}
std::vector<uint8_t> Text(const std::string& text, uint32_t font = 0x0A000001) {
  std::vector<uint8_t> r = WordRecord(0xFF85, 8 + text.size());
  Put32(r, 4, font);
  std::memcpy(r.data() + 8, text.data(), text.size());
  return r;
}
std::vector<uint8_t> Begin(uint16_t type) {
  auto r = ByteRecord(0x00DD, 6);
  Put16(r, 4, type);
  return r;
}
std::vector<uint8_t> End(uint16_t type) {
  auto r = ByteRecord(0x00DE, 6);
  Put16(r, 4, type);
  return r;
}
std::vector<uint8_t> Rule(uint32_t flags, uint16_t width, uint16_t height, uint16_t colour) {
  auto r = WordRecord(0xFFC9, 16);
  Put32(r, 4, flags);
  Put16(r, 8, width);
  Put16(r, 10, height);
  Put16(r, 12, colour);
  return r;
}
std::vector<uint8_t> Colour(uint16_t flags, uint8_t r, uint8_t g, uint8_t b, uint8_t r2 = 0,
                            uint8_t g2 = 0, uint8_t b2 = 0) {
  auto c = ByteRecord(0x00D2, (flags & 0x10) ? 14 : 8);
  Put16(c, 2, flags);
  c[4] = r, c[5] = g, c[6] = b;
  if (flags & 0x10) c[10] = r2, c[11] = g2, c[12] = b2;
  return c;
}
std::vector<uint8_t> ParagraphRef(uint16_t id) {
  auto r = ByteRecord(0x0083, 4);
  Put16(r, 2, id);
  return r;
}
std::vector<uint8_t> ParagraphDef(uint16_t id, uint16_t justify) {
  auto r = WordRecord(0xFF82, 72);
  Put16(r, 4, id);
  Put16(r, 6, justify);
  return r;
}
std::vector<uint8_t> Anchor(const std::string& name) {
  auto r = WordRecord(0xFFCB, 12 + name.size() + 1);
  Put16(r, 4, static_cast<uint16_t>(name.size()));
  std::memcpy(r.data() + 12, name.data(), name.size());
  return r;
}
std::vector<uint8_t> ParagraphSwitch(bool off) {
  auto r = WordRecord(0xFF68, 16);
  Put16(r, 6, off ? 1 : 0);
  return r;
}

class RenderWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session_.IsValid());
    list_ = RecordListCreate(&session_);
    ASSERT_NE(list_, nullptr);
  }
  void TearDown() override {
    if (ctx_) RenderContextFree(ctx_);
    RecordListFreeWithAllocator(&session_, list_);
  }

  void Add(std::vector<uint8_t> record) {
    records_.push_back(std::make_unique<std::vector<uint8_t>>(std::move(record)));
    auto& r = *records_.back();
    uint16_t sig = 0;
    std::memcpy(&sig, r.data(), 2);
    if ((sig & 0xFF00) != 0xFF00) sig = r[0];
    ASSERT_NE(RecordListAppendNode(&session_, list_, sig, r.data(), static_cast<uint32_t>(r.size()),
                                   0),
              nullptr);
  }

  RenderContext* Context(uint16_t kind = kOutputHtml, uint32_t capacity = 65536) {
    if (!ctx_) ctx_ = RenderContextCreate(&session_, capacity);
    EXPECT_NE(ctx_, nullptr);
    ctx_->outputKind = kind;
    return ctx_;
  }

  // Walks the whole list as a nested range (no document head), returning the text written.
  std::string Walk(RenderContext* ctx, NnStatus* statusOut = nullptr) {
    ctx->currentRecord = list_->first;
    ctx->lastRecord = list_->last;
    size_t before = std::strlen(ctx->outputBuffer);
    NnStatus status = PrXMLStr(ctx, 0, 1, 0);
    if (statusOut) *statusOut = status;
    else EXPECT_EQ(status, NN_OK);
    return std::string(ctx->outputBuffer + before);
  }

  LSXLsiSession session_;
  RecordList* list_ = nullptr;
  RenderContext* ctx_ = nullptr;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> records_;
};

using kvtest::Count;

// ---- output helpers -------------------------------------------------------------

TEST_F(RenderWalkTest, AppendStopsAtTheReserveAndStaysFailed) {
  RenderContext* ctx = Context(kOutputHtml, 600);
  // 600 less the 500-byte reserve less the terminating NUL.
  EXPECT_EQ(RenderRoom(ctx), 99u);
  std::string fill(99, 'x');
  EXPECT_TRUE(RenderAppend(ctx, fill.c_str()));
  EXPECT_EQ(RenderRoom(ctx), 0u);
  EXPECT_FALSE(RenderAppend(ctx, "y"));
  EXPECT_EQ(std::string(ctx->outputBuffer), fill);
  EXPECT_EQ(*ctx->outputCursor, 0);
  EXPECT_TRUE(ctx->driver.outputFull);
}

TEST_F(RenderWalkTest, FormattedAppendThatDoesNotFitWritesNothing) {
  RenderContext* ctx = Context(kOutputHtml, 520);
  ASSERT_TRUE(RenderAppend(ctx, "ab"));
  EXPECT_FALSE(RenderAppendf(ctx, "%s-%d", "a long piece of text", 12345));
  EXPECT_STREQ(ctx->outputBuffer, "ab");
  EXPECT_EQ(ctx->outputCursor, ctx->outputBuffer + 2);
  // Once a piece was lost, later pieces are refused too.
  EXPECT_FALSE(RenderAppend(ctx, "c"));
  EXPECT_STREQ(ctx->outputBuffer, "ab");
}

TEST_F(RenderWalkTest, ContextWithoutRoomRefusesEverything) {
  RenderContext* ctx = Context(kOutputHtml, 400);  // below the reserve
  EXPECT_EQ(RenderRoom(ctx), 0u);
  EXPECT_FALSE(RenderAppend(ctx, "a"));
  EXPECT_TRUE(RenderAppendN(ctx, "a", 0));
  EXPECT_EQ(PrXMLStr(ctx, 0, 1, 0), NN_ERR_MEMORY);
}

// ---- horizontal rules -------------------------------------------------------------

TEST_F(RenderWalkTest, RuleInPercentWithStyle) {
  Add(Rule(0x4, 50, 144, 0));
  EXPECT_EQ(Walk(Context()), "<hr style=\"width: 50%;height: 9px;\">");
}

TEST_F(RenderWalkTest, RuleWithStandardFontTags) {
  Add(Rule(0x4, 50, 144, 0));
  RenderContext* ctx = Context();
  ctx->renderFlagsA |= 0x8;
  EXPECT_EQ(Walk(ctx), "<hr width=\"50%\" size=\"9\">");
}

TEST_F(RenderWalkTest, RuleUnderCentredParagraphInXhtml) {
  Add(ParagraphDef(7, 3));
  Add(ParagraphRef(7));
  Add(Rule(0x4, 50, 144, 0));
  EXPECT_EQ(Walk(Context(kOutputXhtml)),
            "<hr align='center' style=\"width: 50%;height: 9px;\" />");
}

TEST_F(RenderWalkTest, RuleWidthInTwipsAndNoShade) {
  Add(Rule(0x8, 1440, 15, 0));  // one inch wide, 15 twips high: 96 px, 1 px
  RenderContext* ctx = Context();
  ctx->renderFlagsA |= 0x8;
  EXPECT_EQ(Walk(ctx), "<hr width=\"96\" size=\"1\" noshade='noshade'>");
}

TEST_F(RenderWalkTest, RuleColourFromRgbRecordOrPalette) {
  Add(Rule(0x1 | 0x4, 100, 144, 0));
  Add(Colour(0x1, 255, 0, 0));
  std::string out = Walk(Context());
  EXPECT_NE(out.find(" style=\"background-color:rgb(255,0,0);width: 100%;height: 9px;\""),
            std::string::npos)
      << out;
}

TEST_F(RenderWalkTest, RuleBlackRgbWithPaletteIndexUsesTheIndex) {
  Add(Rule(0x1 | 0x4, 100, 144, 4));  // palette 4 is blue
  Add(Colour(0x1, 0, 0, 0));
  std::string out = Walk(Context());
  EXPECT_NE(out.find("background-color:rgb(0,0,255);"), std::string::npos) << out;
}

TEST_F(RenderWalkTest, GradientRuleInEpubHasNoPresentationalAttributes) {
  Add(ParagraphDef(2, 3));
  Add(ParagraphRef(2));
  Add(Rule(0x1 | 0x2 | 0x4 | 0x8, 100, 144, 0));
  Add(Colour(0x1 | 0x10, 1, 2, 3, 4, 5, 6));
  RenderContext* ctx = Context();
  ctx->renderFlagsE |= 0x200;
  ctx->renderFlagsA |= 0x8;
  EXPECT_EQ(Walk(ctx),
            "<hr style=\"background:linear-gradient(to bottom, rgb(1,2,3), rgb(4,5,6));"
            "width: 100%;height: 9px;\">");
}

TEST_F(RenderWalkTest, ShortRuleRecordIsReadSafely) {
  Add(WordRecord(0xFFC9, 6));  // flags cut off, no width or height
  EXPECT_EQ(Walk(Context()), "<hr style=\"width: 0px;height: 0px;\">");
}

// ---- record handlers ----------------------------------------------------------------

TEST_F(RenderWalkTest, NamedAnchorWritesAnEmptyDivision) {
  Add(Anchor("top"));
  EXPECT_EQ(Walk(Context()), "<div id=\"top\"></div>");
}

TEST_F(RenderWalkTest, AnchorNameIsEscapedAndBoundedByTheRecord) {
  auto r = Anchor("a\"><x");
  Put16(r, 4, 400);  // states more than the record holds
  Add(r);
  std::string out = Walk(Context(kOutputXhtml));
  EXPECT_EQ(out.find("\"><x"), std::string::npos) << out;
  EXPECT_EQ(out.rfind("\"></div>"), out.size() - 8) << out;
}

TEST_F(RenderWalkTest, UnknownAndDefinitionRecordsWriteNothing) {
  Add(WordRecord(0xFF93, 10));
  Add(ParagraphDef(1, 0));
  Add(WordRecord(0xFFCD, 8));
  Add(ByteRecord(0x0042, 4));
  EXPECT_EQ(Walk(Context()), "");
}

TEST_F(RenderWalkTest, ThreeParagraphMarksGiveThreeBreaksBeforeText) {
  RenderContext* ctx = Context();
  // The form of one break, as the break writer writes it.
  WriteClearBreak(ctx, 0);
  std::string brk(ctx->outputBuffer);
  ctx->outputCursor = ctx->outputBuffer;
  *ctx->outputCursor = 0;
  ASSERT_FALSE(brk.empty());
  for (int i = 0; i < 3; ++i) Add(ByteRecord(0x0081, 2));
  Add(Text("hello"));
  std::string out = Walk(ctx);
  EXPECT_EQ(Count(out, brk), 3u) << out;
  EXPECT_LT(out.rfind(brk), out.find("hello"));
  EXPECT_EQ(ctx->clearBreakPending, 0u);
}

TEST_F(RenderWalkTest, ParagraphSwitchTurnsMarksOffAndOn) {
  RenderContext* ctx = Context();
  Add(ParagraphSwitch(true));
  Add(ByteRecord(0x0081, 2));
  Add(ByteRecord(0x0081, 2));
  std::string out = Walk(ctx);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ctx->clearBreakPending, 0u);
  EXPECT_EQ(ctx->paragraphMarksOff, 1u);

  Add(ParagraphSwitch(false));
  Add(ByteRecord(0x0081, 2));
  ctx->currentRecord = list_->last->prev;
  ctx->lastRecord = list_->last;
  ASSERT_EQ(PrXMLStr(ctx, 0, 1, 0), NN_OK);
  EXPECT_EQ(ctx->paragraphMarksOff, 0u);
  EXPECT_EQ(ctx->clearBreakPending, 1u);
}

TEST_F(RenderWalkTest, BeginFollowedByItsEndWritesNothing) {
  Add(Begin(0x00AB));
  Add(End(0x00AB));
  Add(Text("after"));
  std::string out = Walk(Context());
  EXPECT_NE(out.find("after"), std::string::npos);
  EXPECT_EQ(out.find("<"), std::string::npos) << out;
}

TEST_F(RenderWalkTest, NestedCallReturnsAtAnEndOfAnotherType) {
  RenderContext* ctx = Context();
  Add(Text("one"));
  Add(End(0x1234));
  Add(Text("two"));
  ctx->currentRecord = list_->first;
  ctx->lastRecord = list_->last;
  ASSERT_EQ(PrXMLStr(ctx, 0x00AB, 1, 0), NN_OK);
  std::string out(ctx->outputBuffer);
  EXPECT_NE(out.find("one"), std::string::npos);
  EXPECT_EQ(out.find("two"), std::string::npos);
  // Stepped past the end record.
  EXPECT_EQ(ctx->currentRecord, list_->last);
}

TEST_F(RenderWalkTest, DeepNestingIsRenderedWithoutUnboundedRecursion) {
  const int levels = 5000;
  for (int i = 0; i < levels; ++i) Add(Begin(0x00AB));
  Add(Text("core"));
  for (int i = 0; i < levels; ++i) {
    Add(End(0x00AB));
    if (i == levels - 10) Add(Text("inner"));  // belongs to a block beyond the limit
  }
  Add(Text("tail"));
  RenderContext* ctx = Context();
  ctx->currentRecord = list_->first;
  ctx->lastRecord = list_->last;
  ASSERT_EQ(PrXMLStr(ctx, 0, 0, 0), NN_OK);
  std::string out(ctx->outputBuffer);
  EXPECT_NE(out.find("core"), std::string::npos);
  EXPECT_NE(out.find("inner"), std::string::npos);
  EXPECT_NE(out.find("tail"), std::string::npos);
}

TEST_F(RenderWalkTest, DeepNestingIsLoggedAboveDebugLevelTwo) {
  NnIniSet("ZelkoDebug", "3");
  NnLogClear();
  for (int i = 0; i < 10; ++i) Add(Begin(0x00AB));
  Add(Text("x"));
  for (int i = 0; i < 10; ++i) Add(End(0x00AB));
  Walk(Context());
  NnIniSet("ZelkoDebug", nullptr);
  std::string log = NnLogCaptured();
  EXPECT_NE(log.find("PrXMLStr - Nesting deep at 9"), std::string::npos);
  EXPECT_NE(log.find("PrXMLStr - Nesting deep at 11"), std::string::npos);
}

TEST_F(RenderWalkTest, BeginWithNothingAfterItEndsTheRange) {
  Add(Text("a"));
  Add(Begin(0x00AB));
  std::string out = Walk(Context());
  EXPECT_NE(out.find("a"), std::string::npos);
}

TEST_F(RenderWalkTest, TableEndAtDepthZeroWithoutTableWritesNothing) {
  RenderContext* ctx = Context();
  Add(ByteRecord(0x00A5, 4));
  ctx->currentRecord = list_->first;
  ctx->lastRecord = list_->last;
  // Nested: the end is left for the table writer.
  ASSERT_EQ(PrXMLStr(ctx, 0x00A3, 1, 0), NN_OK);
  EXPECT_EQ(ctx->currentRecord, list_->first);
  EXPECT_STREQ(ctx->outputBuffer, "");
}

TEST_F(RenderWalkTest, HotspotEndAtDepthZeroWithoutSectionOptionsWritesNothing) {
  Add(ByteRecord(0x007F, 2));
  Add(ByteRecord(0x00AA, 2));
  Add(ByteRecord(0x00AA, 2));
  RenderContext* ctx = Context();
  ctx->currentRecord = list_->first;
  ctx->lastRecord = list_->last;
  // At a nested depth the hotspot end is left for the hotspot writer.
  ASSERT_EQ(PrXMLStr(ctx, 0xFFAD, 1, 0), NN_OK);
  EXPECT_STREQ(ctx->outputBuffer, "");
  EXPECT_EQ(ctx->currentRecord, list_->first);
}

TEST_F(RenderWalkTest, CellBoundaryInNestedCallResumesWhereTheTableWriterSaid) {
  Add(ByteRecord(0x00A4, 4));
  Add(Text("resume here"));
  RenderContext* ctx = Context();
  ctx->table.resumeRecord[0] = list_->last;
  ctx->table.resumeFlag[0] = 1;
  ctx->currentRecord = list_->first;
  ctx->lastRecord = list_->last;
  ASSERT_EQ(PrXMLStr(ctx, 0x00A3, 1, 0), NN_OK);
  EXPECT_EQ(ctx->currentRecord, list_->last);
  EXPECT_EQ(ctx->table.resumeRecord[0], nullptr);
  EXPECT_EQ(ctx->table.resumeFlag[0], 0u);
  EXPECT_STREQ(ctx->outputBuffer, "");
}

TEST_F(RenderWalkTest, EmptyRunBlockBeforeParagraphMarkIsABlankLine) {
  RenderContext* ctx = Context(kOutputXhtml);
  WriteClearBreak(ctx, 0);
  std::string brk(ctx->outputBuffer);
  ctx->outputCursor = ctx->outputBuffer;
  *ctx->outputCursor = 0;
  Add(ParagraphRef(1));
  Add(Begin(0xFF85));
  Add(WordRecord(0xFFC3, 8));
  Add(End(0xFF85));
  Add(ByteRecord(0x0081, 2));
  EXPECT_EQ(Walk(ctx), "&#160;" + brk);
  EXPECT_EQ(ctx->clearBreakPending, 1u);
}

TEST_F(RenderWalkTest, TableBeginRecordsItsRecordsForTheTableWriter) {
  Add(WordRecord(0xFFFB, 12));
  Add(ByteRecord(0x00A3, 8));
  RenderContext* ctx = Context();
  ctx->currentRecord = list_->first;
  ctx->lastRecord = list_->first;
  ASSERT_EQ(PrXMLStr(ctx, 0, 1, 0), NN_OK);
  EXPECT_EQ(ctx->table.preTableBegin, list_->first);
  ctx->currentRecord = list_->last;
  ctx->lastRecord = list_->last;
  ASSERT_EQ(PrXMLStr(ctx, 0, 1, 0), NN_OK);
  EXPECT_EQ(ctx->table.tableBegin, list_->last);
  EXPECT_EQ(ctx->table.preTableBegin, nullptr);
}

TEST_F(RenderWalkTest, TableAfterABreakGetsNoSecondBreak) {
  Add(Text("[<br />]"));
  Add(ByteRecord(0x00A3, 8));
  RenderContext* ctx = Context(kOutputXhtml);
  ctx->renderFlagsA |= 0x8;
  ctx->renderFlagsE |= 0x80;
  std::string out = Walk(ctx);
  EXPECT_EQ(out.find("<br />"), 0u) << out;
  EXPECT_EQ(Count(out, "<br />"), 1u) << out;
}

TEST_F(RenderWalkTest, TableAfterTextGetsABreakAndRightAlignedTableADivision) {
  Add(Text("x"));
  Add(ByteRecord(0x00A3, 8));
  RenderContext* ctx = Context(kOutputHtml);
  ctx->renderFlagsA |= 0x8;
  std::string out = Walk(ctx);
  EXPECT_NE(out.find("x"), std::string::npos);
  EXPECT_NE(out.find("<br>"), std::string::npos) << out;

  // Under a right-aligned paragraph the table is wrapped in a division.
  auto def = ParagraphDef(5, 1);
  RTRecordNode node;
  node.signature = 0xFF82;
  node.data = def.data();
  node.length = static_cast<uint32_t>(def.size());
  RTRecordNode* table[2] = {nullptr, &node};
  ctx->definitionTable = table;
  ctx->definitionCount = 1;
  ctx->currentDefinitionIndex = 1;
  std::string second = Walk(ctx);
  EXPECT_NE(second.find("x<div align='right'>"), std::string::npos) << second;
  EXPECT_EQ(second.find("direction"), std::string::npos) << second;
  EXPECT_EQ(second.find("<br>"), std::string::npos) << second;
  // The division ends with its table; later paragraphs are not inside it.
  EXPECT_FALSE(IsElementOpen(ctx, 0, "</div>", 1));
  EXPECT_NE(second.find("</table></div>"), std::string::npos) << second;
  ctx->definitionTable = nullptr;
  ctx->definitionCount = 0;
}

// ---- text runs and markers ----------------------------------------------------------

TEST_F(RenderWalkTest, TypedBracketHtmlIsCopiedVerbatimInHtml) {
  Add(Text("[<b>]"));
  RenderContext* ctx = Context();
  ctx->renderFlagsE |= 0x80;
  NnIniSet("ZelkoDebug", "3");
  NnLogClear();
  std::string out = Walk(ctx);
  NnIniSet("ZelkoDebug", nullptr);
  EXPECT_EQ(out, "<b>");
  EXPECT_EQ(NnLogCaptured().find("PrXMLStr - Step 5b - after"), std::string::npos);
}

TEST_F(RenderWalkTest, TypedBracketHtmlThatIsNotWellFormedIsTextInXhtml) {
  Add(Text("[<b>]"));
  RenderContext* ctx = Context(kOutputXhtml);
  ctx->renderFlagsE |= 0x80;
  std::string out = Walk(ctx);
  EXPECT_EQ(out.find("<b>"), std::string::npos) << out;
  EXPECT_NE(out.find("&lt;b&gt;"), std::string::npos) << out;
}

TEST_F(RenderWalkTest, BracketsAreOrdinaryTextWhenRecognitionIsOff) {
  Add(Text("[<b>]"));
  std::string out = Walk(Context());
  EXPECT_EQ(out.find("<b>"), std::string::npos) << out;
}

TEST_F(RenderWalkTest, BracketRunWithoutClosingBracketIsOrdinaryText) {
  Add(Text("[<i>x"));
  RenderContext* ctx = Context();
  ctx->renderFlagsE |= 0x80;
  std::string out = Walk(ctx);
  EXPECT_EQ(out.find("<i>"), std::string::npos) << out;
}

TEST_F(RenderWalkTest, NulInsideBracketTextBecomesBlank) {
  Add(Text(std::string("[<!-- a\0b -->]", 14)));
  RenderContext* ctx = Context();
  ctx->renderFlagsE |= 0x80;
  EXPECT_EQ(Walk(ctx), "<!-- a b -->");
}

using kvtest::UnidText;

class RenderMarkerTest : public RenderWalkTest {
 protected:
  void SetUp() override {
    RenderWalkTest::SetUp();
    dir_ = ::testing::TempDir() + "render_marker_" + std::to_string(::getpid());
    ::mkdir(dir_.c_str(), 0700);
    ASSERT_EQ(NnDbOpen((dir_ + ".nsf").c_str(), NN_DB_CREATE, &db_), NN_OK);
    for (NnHandle* note : {&noteA_, &noteB_}) {
      ASSERT_EQ(NnNoteCreate(db_, NN_CLASS_DOCUMENT, note), NN_OK);
      ASSERT_EQ(NnNoteUpdate(*note, 0), NN_OK);
    }
    item_ = std::make_unique<TorvoRTItem>(&session_);
  }
  void TearDown() override {
    if (ctx_ && ctx_->markerNoteOpen && item_->hRenderNote) NnNoteClose(item_->hRenderNote);
    item_.reset();
    RenderWalkTest::TearDown();
    NnNoteClose(noteA_);
    NnNoteClose(noteB_);
    NnDbClose(db_);
    std::remove((dir_ + "/rivuvedevuviz.jpg").c_str());
    ::rmdir(dir_.c_str());
  }
  std::string Marker(NnHandle note, int n) { return kvtest::DocumentMarker(db_, note, n); }
  // A context rendering for a collection that wrote `own` (each its first run of that text).
  RenderContext* MarkerContext(const std::vector<std::string>& own = {}) {
    RenderContext* ctx = Context();
    ctx->item = item_.get();
    ctx->basePathname = nullptr;
    for (const std::string& m : own) collection_.RecordOwnMarker(m.data(), m.size(), 0);
    ctx->collection = &collection_;
    return ctx;
  }

  TorvoCollection collection_{nullptr};
  std::string dir_;
  NnHandle db_ = 0, noteA_ = 0, noteB_ = 0;
  std::unique_ptr<TorvoRTItem> item_;
};

TEST_F(RenderMarkerTest, DatabaseMarkerTheCollectionWroteOpensTheNote) {
  std::string marker = Marker(noteA_, 3);
  Add(Text(marker));
  RenderContext* ctx = MarkerContext({marker});
  std::string out = Walk(ctx);
  EXPECT_EQ(out, marker.substr(1, marker.size() - 2));
  EXPECT_EQ(ctx->markerNoteOpen, 1u);
  EXPECT_EQ(ctx->markerDatabase, db_);
  ASSERT_NE(item_->hRenderNote, 0u);
  EXPECT_EQ(UnidText(item_->hRenderNote), UnidText(noteA_));
}

TEST_F(RenderMarkerTest, SecondMarkerClosesTheFirstNoteAndImageIsWrittenOnce) {
  Add(Text(Marker(noteA_, 1)));
  Add(Text("between"));
  Add(ByteRecord(0x0081, 2));  // the text writer joins adjacent runs; a paragraph ends this one
  Add(Text(Marker(noteB_, 2)));
  RenderContext* ctx = MarkerContext({Marker(noteA_, 1), Marker(noteB_, 2)});
  char dir[512];
  std::snprintf(dir, sizeof dir, "%s", dir_.c_str());
  ctx->basePathname = dir;  // borrowed: cleared before the context is freed
  std::string out = Walk(ctx);
  ctx->basePathname = nullptr;
  EXPECT_EQ(ctx->navigationImageWritten, 1u);
  EXPECT_EQ(ctx->markerNoteOpen, 1u);
  EXPECT_EQ(UnidText(item_->hRenderNote), UnidText(noteB_)) << out;
  std::FILE* f = std::fopen((dir_ + "/rivuvedevuviz.jpg").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char head[3] = {};
  EXPECT_EQ(std::fread(head, 1, 3, f), 3u);
  std::fclose(f);
  EXPECT_EQ(head[0], 0xFF);
  EXPECT_EQ(head[1], 0xD8);
  EXPECT_EQ(head[2], 0xFF);
}

// A marker the collection did not write is the author's text: its copy of
// the collection's own (which comes later in the item), the note form (which
// the collection never writes), and any marker of a MIME or plain render.
TEST_F(RenderMarkerTest, AMarkerTheCollectionDidNotWriteIsTextAndOpensNothing) {
  const std::string marker = Marker(noteA_, 3);
  Add(Text(marker));
  Add(ByteRecord(0x0081, 2));
  Add(Text("[<!--$hNote=" + std::to_string(noteA_) + "-->]"));
  RenderContext* ctx = MarkerContext();
  collection_.RecordOwnMarker(marker.data(), marker.size(), 1);
  ctx->renderFlagsE |= 0x80;  // recognition of typed HTML
  for (int render = 0; render < 2; ++render) {
    const std::string out = Walk(ctx);
    EXPECT_NE(out.find("[&lt;!--$hDB="), std::string::npos) << out;
    EXPECT_NE(out.find("[&lt;!--$hNote="), std::string::npos) << out;
    EXPECT_EQ(out.find("<!--$h"), std::string::npos) << out;
    EXPECT_EQ(ctx->markerNoteOpen, 0u);
    EXPECT_EQ(item_->hRenderNote, 0u);
    EXPECT_EQ(ctx->navigationImageWritten, 0u);
    ctx->collection = nullptr;
    ctx->mimeRender = 1;
  }
}

TEST_F(RenderMarkerTest, MarkerNotInItsExactFormOpensNothing) {
  std::string marker = Marker(noteA_, 3);
  // The two anchor numbers differ.
  std::string bad = marker;
  bad.replace(bad.rfind("zavedodAvu3"), 11, "zavedodAvu4");
  Add(Text(bad));
  RenderContext* ctx = MarkerContext({bad});
  Walk(ctx);
  EXPECT_EQ(ctx->markerNoteOpen, 0u);
  EXPECT_EQ(item_->hRenderNote, 0u);
}

TEST_F(RenderMarkerTest, MarkerOfUnknownNoteIsCopiedAndOpensNothing) {
  std::string marker =
      "[<!--$hDB=" + std::to_string(db_) + "$unid=" + std::string(32, '0') +
      "--><a name='zavedodAvu1'></a><div id='zavedodAvu1'></div>]";
  Add(Text(marker));
  RenderContext* ctx = MarkerContext({marker});
  EXPECT_EQ(Walk(ctx), marker.substr(1, marker.size() - 2));
  EXPECT_EQ(ctx->markerNoteOpen, 0u);
  EXPECT_EQ(item_->hRenderNote, 0u);
}

// ---- pass-through -------------------------------------------------------------------

TEST_F(RenderWalkTest, SkipPassthruShowsTheMarkupAsText) {
  Add(WordRecord(0xFFCC, 8));
  Add(Text("<i>x</i>"));
  Add(WordRecord(0xFFCD, 8));
  RenderContext* ctx = Context();
  ctx->optionString = "SkipPassthru=yes";
  std::string out = Walk(ctx);
  EXPECT_EQ(out.find("<i>"), std::string::npos) << out;
  EXPECT_NE(out.find("&lt;i&gt;x"), std::string::npos) << out;
}

// ---- failures ----------------------------------------------------------------------

TEST_F(RenderWalkTest, FullOutputIsNeverReportedAsSuccess) {
  for (int i = 0; i < 40; ++i) Add(Text(std::string(50, 'a' + i % 26)));
  RenderContext* ctx = Context(kOutputHtml, 1500);
  NnStatus status = NN_OK;
  Walk(ctx, &status);
  EXPECT_EQ(status, NN_ERR_MEMORY);
  EXPECT_LE(std::strlen(ctx->outputBuffer), 1500u - kOutputReserve);
}

TEST_F(RenderWalkTest, FullOutputAtTopLevelIsReported) {
  for (int i = 0; i < 40; ++i) Add(Text(std::string(50, 'a' + i % 26)));
  RenderContext* ctx = Context(kOutputHtml, 1500);
  ctx->currentRecord = list_->first;
  ctx->lastRecord = list_->last;
  EXPECT_EQ(PrXMLStr(ctx, 0, 0, 0), NN_ERR_MEMORY);
  EXPECT_LE(std::strlen(ctx->outputBuffer), 1500u - kOutputReserve);
  EXPECT_EQ(ctx->stringTableCount, 0u);
}

TEST_F(RenderWalkTest, ContinuedTableLosesItsClosingForTheNextRange) {
  RenderContext* ctx = Context(kOutputPlain);
  ASSERT_TRUE(RenderAppend(ctx, "<table><tr><td>a</td></tr></table>"));
  ctx->tableContinues = 1;
  ctx->currentRecord = nullptr;
  ctx->lastRecord = nullptr;
  ASSERT_EQ(PrXMLStr(ctx, 0, 0, 1), NN_OK);
  EXPECT_STREQ(ctx->outputBuffer, "<table><tr><td>a</td></tr>");
  EXPECT_EQ(ctx->tableContinues, 1u);
}

// ---- plain text ----------------------------------------------------------------------

TEST_F(RenderWalkTest, PlainTextTabsNulsAndParagraphs) {
  Add(Text(std::string("a\tb\0c", 5)));
  Add(ByteRecord(0x0081, 2));
  Add(Text("d"));
  RenderContext* ctx = Context(kOutputPlain);
  ctx->tabSpaces = 3;
  ctx->newlineOnParagraph = 1;
  EXPECT_EQ(Walk(ctx), "a   b\r\nc\r\nd");
}

TEST_F(RenderWalkTest, PlainTextGraphicAltText) {
  Add(WordRecord(0xFF85, 8));
  auto graphic = ByteRecord(0x0099, 32);
  graphic[1] = 0;  // long header records carry their length elsewhere; the walk does not read it
  Add(graphic);
  auto alt = WordRecord(0xFFCA, 12 + 9);
  Put16(alt, 4, 9);
  std::memcpy(alt.data() + 12, "Logo <1>!", 9);
  Add(alt);
  RenderContext* ctx = Context(kOutputPlain);
  EXPECT_EQ(Walk(ctx), "[Logo 1]");
}

TEST_F(RenderWalkTest, EmptyRangeLeavesTheCursor) {
  RenderContext* ctx = Context(kOutputPlain);
  ASSERT_TRUE(RenderAppend(ctx, "keep"));
  ctx->currentRecord = nullptr;
  ctx->lastRecord = nullptr;
  ASSERT_EQ(PrXMLStr(ctx, 0, 1, 0), NN_OK);
  EXPECT_STREQ(ctx->outputBuffer, "keep");
  EXPECT_EQ(ctx->outputCursor, ctx->outputBuffer + 4);
}

}  // namespace
