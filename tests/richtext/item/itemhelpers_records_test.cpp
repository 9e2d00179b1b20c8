// Item helpers: table-cell positions, renumbered appends, attachments named by
// file hotspots, the link table, the alternate editor and the link-matching
// context's release.
#include "richtext/item/itemhelpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "host/noteops.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/linkmatch.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace {

namespace H = kv::cd::host;

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& r, uint32_t off, uint16_t v) { std::memcpy(r.data() + off, &v, 2); }
uint16_t Get16(const uint8_t* d, uint32_t off) {
  uint16_t v;
  std::memcpy(&v, d + off, 2);
  return v;
}

Bytes ByteRec(uint8_t sig, uint8_t len) {
  Bytes r(len, 0);
  r[0] = sig;
  r[1] = len;
  return r;
}
Bytes WordRec(uint16_t sig, uint16_t len) {
  Bytes r(len, 0);
  Put16(r, 0, sig);
  Put16(r, 2, len);
  return r;
}
Bytes Cell(uint8_t sig, uint8_t row, uint8_t column, uint8_t rowSpan = 1, uint8_t colSpan = 1) {
  Bytes r = ByteRec(sig, 18);
  r[2] = row;
  r[3] = column;
  r[14] = rowSpan;
  r[15] = colSpan;
  return r;
}
Bytes Text(const char* s, uint8_t face = 1) {
  Bytes r = WordRec(0xFF85, uint16_t(8 + std::strlen(s)));
  r[4] = face;
  r[7] = 10;
  std::memcpy(r.data() + 8, s, std::strlen(s));
  return r;
}
Bytes FileHotspot(const char* internal, const char* shown, uint16_t type = 4) {
  uint16_t dataLen = uint16_t(std::strlen(internal) + std::strlen(shown) + 2);
  Bytes r = WordRec(0xFFA9, uint16_t(16 + dataLen));
  Put16(r, 4, type);
  Put16(r, 12, dataLen);
  std::memcpy(r.data() + 16, internal, std::strlen(internal));
  std::memcpy(r.data() + 17 + std::strlen(internal), shown, std::strlen(shown));
  return r;
}

// A record list over test-owned host records.
class ListBuilder {
 public:
  explicit ListBuilder(LSXLsiSession* s) : session_(s), list_(RecordListCreate(s)) {}
  ~ListBuilder() { RecordListFreeWithAllocator(session_, list_); }
  RTRecordNode* Add(Bytes rec, uint16_t flags = 0) {
    store_.push_back(std::move(rec));
    Bytes& r = store_.back();
    uint16_t sig = r[1] == 0xFF ? Get16(r.data(), 0) : r[0];
    RTRecordNode* n = RecordListAppendNode(session_, list_, sig, r.data(), uint32_t(r.size()), flags);
    RecordListRenumber(list_);
    return n;
  }
  RecordList* list() { return list_; }

 private:
  LSXLsiSession* session_;
  RecordList* list_;
  std::deque<Bytes> store_;
};

TEST(ItemhelpersTableCell, SpansPushLaterCellsAndNestedTablesAreSeparateGrids) {
  LSXLsiSession session;
  ListBuilder b(&session);
  b.Add(ByteRec(163, 14));             // 1
  b.Add(Cell(164, 0, 0, 2, 1));        // 2: spans two rows
  b.Add(Text("a"));                    // 3
  b.Add(Cell(164, 0, 1, 1, 2));        // 4: spans two columns
  b.Add(Cell(164, 0, 3));              // 5
  b.Add(Cell(164, 1, 1));              // 6: column 0 is covered from above
  b.Add(Cell(164, 1, 2));              // 7
  b.Add(Cell(164, 1, 3));              // 8
  b.Add(ByteRec(165, 8));              // 9
  b.Add(Text("after"));                // 10
  b.Add(ByteRec(163, 14));             // 11
  b.Add(Cell(164, 0, 0));              // 12
  b.Add(Cell(164, 0, 1));              // 13
  b.Add(ByteRec(207, 14));             // 14: nested table in the second cell
  b.Add(Cell(208, 0, 0));              // 15
  b.Add(Cell(208, 0, 1));              // 16
  b.Add(Cell(208, 1, 0));              // 17
  b.Add(Text("inner"));                // 18
  b.Add(ByteRec(209, 8));              // 19
  b.Add(Text("outer again"));          // 20
  b.Add(ByteRec(165, 8));              // 21
  struct Want {
    uint32_t record;
    uint16_t row, column;
  } wants[] = {{2, 0, 0},  {3, 0, 0},  {4, 0, 1},  {5, 0, 3},  {6, 1, 1},  {7, 1, 2},
               {8, 1, 3},  {12, 0, 0}, {13, 0, 1}, {14, 0, 1}, {15, 0, 0}, {16, 0, 1},
               {17, 1, 0}, {18, 1, 0}, {19, 0, 1}, {20, 0, 1}};
  for (const auto& w : wants) {
    uint16_t row = 99, column = 99;
    EXPECT_EQ(LocateTableCell(w.record, b.list(), &row, &column), NN_OK) << w.record;
    EXPECT_EQ(row, w.row) << w.record;
    EXPECT_EQ(column, w.column) << w.record;
  }
  for (uint32_t outside : {1u, 9u, 10u, 21u, 22u, 0u}) {
    uint16_t row = 99, column = 99;
    EXPECT_EQ(LocateTableCell(outside, b.list(), &row, &column), NN_ERR_INVALID_ARG) << outside;
    EXPECT_EQ(row, 99);
  }
  uint16_t r, c;
  EXPECT_EQ(LocateTableCell(2, nullptr, &r, &c), NN_ERR_INVALID_ARG);
}

TEST(ItemhelpersTableCell, ShortCellRecordsAreReadWithinTheirLength) {
  LSXLsiSession session;
  ListBuilder b(&session);
  b.Add(ByteRec(163, 14));
  Bytes shortCell = ByteRec(164, 4);   // no span bytes
  shortCell[2] = 0;
  b.Add(shortCell);
  b.Add(Cell(164, 0, 1));
  uint16_t r = 9, c = 9;
  EXPECT_EQ(LocateTableCell(3, b.list(), &r, &c), NN_OK);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(c, 1);
}

class ItemhelpersNote : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NnDbOpen("mem-h6-helpers.nsf", NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
  }
  void TearDown() override {
    NnNoteClose(note);
    NnDbClose(db);
  }
  LSXLsiSession session;
  NnHandle db = 0, note = 0;
};

TEST_F(ItemhelpersNote, AppendRenumbersFontsAndParagraphIds) {
  // Target: a loaded item whose highest paragraph id is 10, with a face of its own.
  Bytes canon(70, 0);
  canon[0] = 0x82, canon[1] = 0xFF, canon[2] = 70, canon[4] = 10;
  ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, canon.data(), 70), NN_OK);
  TorvoRTItem target(&session);
  ASSERT_EQ(target.ConnectBackend(db, note, "Body"), NN_OK);
  ASSERT_EQ(target.LoadRecords(), NN_OK);
  ASSERT_EQ(target.FindFaceByName("Futura", true), 8);

  TorvoRTItem sourceItem(&session);
  ASSERT_EQ(sourceItem.FindFaceByName("Garamond", true), 8);
  ListBuilder src(&session);
  Bytes pab = WordRec(0xFF82, 72);
  Put16(pab, 4, 2);
  src.Add(pab);
  Bytes ref = ByteRec(0x83, 4);
  Put16(ref, 2, 2);
  src.Add(ref);
  src.Add(Text("garamond", 8));
  src.Add(Text("arial", 1));
  Bytes formulaRef = ByteRec(0xBC, 6);
  Put16(formulaRef, 2, 2);
  Put16(formulaRef, 4, 3);
  src.Add(formulaRef);
  Bytes hide = WordRec(0xFFBB, 14);
  Put16(hide, 4, 2);
  src.Add(hide);
  int32_t styleOff = kv::cd::HostFieldOffset(0x00A6, "pab_id");
  ASSERT_GT(styleOff, 0);
  Bytes style = ByteRec(0xA6, 48);
  Put16(style, uint32_t(styleOff), 3);
  src.Add(style);
  src.Add(Text("dropped", 8), kNodeDrop);

  ComposeContext ctx;
  ComposeInit(&ctx, &session, &target);
  ASSERT_EQ(AppendItemRecordsRenumbered(src.list(), &sourceItem, &target, &ctx), NN_OK);
  ASSERT_NE(ctx.newList, nullptr);
  ASSERT_EQ(ctx.newList->count, 7u);
  std::vector<RTRecordNode*> out;
  for (RTRecordNode* n = ctx.newList->first; n; n = n->next) out.push_back(n);
  EXPECT_EQ(Get16(out[0]->data, H::kPabId), 12);
  EXPECT_EQ(Get16(out[1]->data, 2), 12);
  EXPECT_EQ(out[2]->data[H::kTextFont], 9);  // Garamond is new to the target
  EXPECT_EQ(target.FindFaceByName("Garamond", false), 9);
  EXPECT_EQ(out[3]->data[H::kTextFont], 1);  // Arial keeps its id
  EXPECT_EQ(Get16(out[4]->data, 2), 12);
  EXPECT_EQ(Get16(out[4]->data, 4), 13);
  EXPECT_EQ(Get16(out[5]->data, 4), 12);
  EXPECT_EQ(Get16(out[6]->data, uint32_t(styleOff)), 13);
  // The source records are unchanged.
  EXPECT_EQ(Get16(src.list()->first->data, H::kPabId), 2);
  // A later default paragraph takes an id above the appended ones.
  EXPECT_EQ(NewDefaultParagraph(kNextParagraphId, 2, &ctx), 14);
  ComposeReleaseHandles(&ctx, 0);
}

TEST_F(ItemhelpersNote, AppendRefusesIdsThatWouldOverflow) {
  TorvoRTItem target(&session);
  ListBuilder src(&session);
  Bytes pab = WordRec(0xFF82, 72);
  Put16(pab, 4, 0xFFF0);
  src.Add(pab);
  ComposeContext ctx;
  ComposeInit(&ctx, &session, &target);
  ctx.nextParagraphId = 100;
  EXPECT_EQ(AppendItemRecordsRenumbered(src.list(), nullptr, &target, &ctx), NN_ERR_CD_STRUCTURE);
  EXPECT_EQ(ctx.newList, nullptr);
}

TEST_F(ItemhelpersNote, DeletesOnlyAttachmentsNoRecordOutsideStillNames) {
  ASSERT_EQ(NnNoteAttachData(note, "a.txt", "AAAA", 4), NN_OK);
  ASSERT_EQ(NnNoteAttachData(note, "b.txt", "BBBB", 4), NN_OK);
  ASSERT_EQ(NnNoteAttachData(note, "c.txt", "CCCC", 4), NN_OK);
  TorvoRTItem item(&session);
  ASSERT_EQ(item.ConnectBackend(db, note, "Body"), NN_OK);
  ListBuilder b(&session);
  b.Add(Text("x"));                            // 1
  b.Add(FileHotspot("a.txt", "Report.txt"));   // 2
  b.Add(FileHotspot("B.TXT", "b", 10));        // 3
  b.Add(FileHotspot("c.txt", "c", 2));         // 4: not a file hotspot
  b.Add(FileHotspot("b.txt", "b"));            // 5: outside the range
  EXPECT_EQ(DeleteReferencedObjects(&item, b.list(), 2, 4), 1u);
  EXPECT_EQ(kv::NoteFindAttachmentName(note, "a.txt", 0, nullptr, 0), NN_ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(kv::NoteFindAttachmentName(note, "b.txt", 0, nullptr, 0), NN_OK);
  EXPECT_EQ(kv::NoteFindAttachmentName(note, "c.txt", 0, nullptr, 0), NN_OK);
  // Now nothing outside names b.txt.
  EXPECT_EQ(DeleteReferencedObjects(&item, b.list(), 1, 5), 1u);
  EXPECT_EQ(kv::NoteFindAttachmentName(note, "b.txt", 0, nullptr, 0), NN_ERR_ITEM_NOT_FOUND);
}

TEST_F(ItemhelpersNote, HotspotNamesAreReadWithinTheRecord) {
  ASSERT_EQ(NnNoteAttachData(note, "abc", "A", 1), NN_OK);
  TorvoRTItem item(&session);
  ASSERT_EQ(item.ConnectBackend(db, note, "Body"), NN_OK);
  ListBuilder b(&session);
  Bytes h = FileHotspot("abc", "x");
  Put16(h, 12, 3);   // data length stops before the NUL: no usable name
  b.Add(h);
  Bytes big = FileHotspot("abc", "x");
  Put16(big, 12, 60000);   // overstated: bounded by the record
  b.Add(big, 0);
  EXPECT_EQ(DeleteReferencedObjects(&item, b.list(), 1, 1), 0u);
  EXPECT_EQ(DeleteReferencedObjects(&item, b.list(), 2, 2), 1u);
}

TEST_F(ItemhelpersNote, LinkTableEntriesAreBoundsChecked) {
  LinkIdentifiers ids;
  EXPECT_EQ(ResolveLinksReference(note, &ids, 0, 1, 1), NN_ERR_INVALID_ARG);  // no table
  Bytes table(2 + 2 * 40, 0);
  Put16(table, 0, 3);   // claims three entries, holds two
  for (uint32_t i = 0; i < 40; ++i) table[2 + i] = uint8_t(i + 1);
  ASSERT_EQ(NnItemAppend(note, 0, "$Links", 6, kTypeLinkTable, table.data(), uint32_t(table.size())),
            NN_OK);
  ASSERT_EQ(ResolveLinksReference(note, &ids, 0, 1, 1), NN_OK);
  EXPECT_EQ(ids.replicaId.Innards[0], 0x04030201u);
  EXPECT_EQ(ids.viewId.File.Innards[0], 0x0C0B0A09u);
  EXPECT_EQ(ids.noteId.Note.Innards[1], 0x28272625u);
  LinkIdentifiers untouched;
  untouched.replicaId.Innards[0] = 7;
  for (uint16_t index : {1, 2, 3, 0xFFFF}) {
    EXPECT_EQ(ResolveLinksReference(note, &untouched, index, 1, 1), NN_ERR_INVALID_ARG) << index;
    EXPECT_EQ(untouched.replicaId.Innards[0], 7u);
  }
  EXPECT_EQ(ResolveLinksReference(note, nullptr, 0, 1, 1), NN_ERR_INVALID_ARG);
}

TEST_F(ItemhelpersNote, AlternateEditorIsRecordedOnTheNote) {
  TorvoRTItem item(&session);
  ASSERT_EQ(item.ConnectBackend(db, note, "Body"), NN_OK);
  EXPECT_EQ(item.SetupAlternateEditor("", "Body", 4, "DefaultEditor"), NN_OK);
  EXPECT_EQ(item.SetupAlternateEditor("Fancy", "Summary", 7, "DefaultEditor"), NN_OK);
  EXPECT_EQ(item.SetupAlternateEditor("Fancy", "Body", 4, nullptr), NN_OK);  // listed once
  char buf[256];
  NnItemConvertToText(note, "$KestrelvaultEditorFields", buf, sizeof buf, ';');
  EXPECT_STREQ(buf, "Body;Summary");
  NnItemGetText(note, "$KestrelvaultEditor", buf, sizeof buf);
  EXPECT_STREQ(buf, "Fancy");
  EXPECT_EQ(item.SetupAlternateEditor("Fancy", "", 0, nullptr), NN_ERR_INVALID_ARG);
  EXPECT_EQ(item.SetupAlternateEditor("Fancy", "Body", 0, nullptr), NN_ERR_INVALID_ARG);
  // The field name is cut to the length given.
  EXPECT_EQ(item.SetupAlternateEditor(nullptr, "TitleXYZ", 5, "Plain"), NN_OK);
  NnItemConvertToText(note, "$KestrelvaultEditorFields", buf, sizeof buf, ';');
  EXPECT_STREQ(buf, "Body;Summary;Title");
  NnItemGetText(note, "$KestrelvaultEditor", buf, sizeof buf);
  EXPECT_STREQ(buf, "Plain");
}

TEST(ItemhelpersLinkMatch, DeleteReleasesHandlesAndPoolArrays) {
  LSXLsiSession session;
  size_t before = NnMemLiveCount();
  auto* ctx = new LinkMatchContext();
  ctx->session = &session;
  uint32_t size = 0;
  ASSERT_EQ(NnTextListAllocate(0, 0, &ctx->keyLists[0], &size), NN_OK);
  ASSERT_EQ(NnTextListAllocate(0, 0, &ctx->keyLists[9], &size), NN_OK);
  ASSERT_EQ(NnMemAlloc(kLinkMatchNoteIdBlock, 0, &ctx->noteIdBlock), NN_OK);
  ctx->noteIds = static_cast<uint32_t*>(NnMemLock(ctx->noteIdBlock));
  ctx->firstLetters = static_cast<uint8_t*>(POOL_ALLOC(&session, kLinkMatchFirstLetters, true));
  ctx->matchedFlags = static_cast<uint32_t*>(POOL_ALLOC(&session, 4 * 3, true));
  uint32_t liveBefore = PoolGetStats(session.pool).liveBlocks;
  EXPECT_GT(NnMemLiveCount(), before);
  LinkMatchContextDelete(ctx, 0);   // keeps the context, emptied
  EXPECT_EQ(NnMemLiveCount(), before);
  EXPECT_EQ(PoolGetStats(session.pool).liveBlocks, liveBefore - 2);
  EXPECT_EQ(ctx->keyLists[0], 0u);
  EXPECT_EQ(ctx->firstLetters, nullptr);
  LinkMatchContextDelete(ctx, 1);
  LinkMatchContextDelete(nullptr, 1);
}

}  // namespace
