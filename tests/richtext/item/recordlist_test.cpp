// The record layer: loading an item's segments into host-layout records,
// composing new records and writing them back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WordRecord(uint16_t sig, const Bytes& body) {
  uint16_t len = uint16_t(4 + body.size());
  Bytes r = {uint8_t(sig), uint8_t(sig >> 8), uint8_t(len), uint8_t(len >> 8)};
  r.insert(r.end(), body.begin(), body.end());
  return r;
}

Bytes TextRecord(const std::string& text, uint32_t font = 0x0A000001) {
  Bytes body = {uint8_t(font), uint8_t(font >> 8), uint8_t(font >> 16), uint8_t(font >> 24)};
  body.insert(body.end(), text.begin(), text.end());
  return WordRecord(0xFF85, body);
}

// Records in the stored layout, odd lengths padded.
Bytes Stream(const std::vector<Bytes>& records) {
  Bytes out;
  for (const auto& r : records) {
    out.insert(out.end(), r.begin(), r.end());
    if (r.size() % 2) out.push_back(0);
  }
  return out;
}

class RecordLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    handlesBefore = NnMemLiveCount();
    ASSERT_EQ(NnDbOpen(("mem-recordlist-" + std::to_string(++counter) + ".nsf").c_str(),
                       NN_DB_CREATE, &db),
              NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
    session = new LSXLsiSession();
    ASSERT_TRUE(session->IsValid());
  }
  void TearDown() override {
    delete session;
    NnNoteClose(note);
    NnDbClose(db);
    EXPECT_EQ(NnMemLiveCount(), handlesBefore) << "memory handles left behind";
  }
  void AddSegment(const Bytes& data, const char* name = "Body") {
    ASSERT_EQ(NnItemAppend(note, 0, name, uint16_t(std::strlen(name)), NN_TYPE_COMPOSITE,
                           data.data(), uint32_t(data.size())),
              NN_OK);
  }
  // The data of every segment of the item, in order.
  std::vector<Bytes> Segments(const char* name = "Body") {
    std::vector<Bytes> out;
    NnBlockId item, value;
    uint16_t type;
    uint32_t len;
    uint16_t n = uint16_t(std::strlen(name));
    for (NnStatus st = NnItemInfo(note, name, n, &item, &type, &value, &len); st == NN_OK;
         st = NnItemInfoNext(note, item, name, n, &item, &type, &value, &len)) {
      const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
      out.emplace_back(p + 2, p + len);
      NnBlockUnlock(value);
    }
    return out;
  }

  static int counter;
  size_t handlesBefore = 0;
  NnHandle db = 0, note = 0;
  LSXLsiSession* session = nullptr;
};
int RecordLayer::counter = 0;

TEST_F(RecordLayer, LoadsSegmentsAsOneListInHostLayout) {
  AddSegment(Stream({TextRecord("Hello"), {0x81, 2}}));
  AddSegment(Stream({{0x83, 4, 1, 0}, TextRecord("World!")}));
  NnStatus st = 1;
  RecordList* list = RecordListLoadFromNote(session, note, "body", &st);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(st, NN_OK);
  ASSERT_EQ(list->count, 4u);
  EXPECT_EQ(list->storedSegments, 2);
  const RTRecordNode* n = RecordListNext(list, nullptr);
  EXPECT_EQ(n->signature, 0xFF85);
  EXPECT_EQ(n->length, 13u);
  EXPECT_EQ(n->flags & kNodeOwnsData, 0) << "loaded records point into the load area";
  EXPECT_EQ(std::string(reinterpret_cast<char*>(n->data) + 8, 5), "Hello");
  n = RecordListNext(list, n);
  EXPECT_EQ(n->signature, 0x81);
  n = RecordListNext(list, n);
  EXPECT_EQ(n->signature, 0x83);
  EXPECT_EQ(n->segment, 1);
  EXPECT_EQ(n->position, 0u);
  EXPECT_EQ(n->sequence, 3u);
  EXPECT_EQ(RecordListPrev(list, n)->signature, 0x81);
  EXPECT_EQ(RecordListPrev(list, nullptr), nullptr);
  EXPECT_EQ(RecordListNext(list, list->last), nullptr);
  RecordListFreeWithAllocator(session, list);
}

// Short records take more room aligned in host layout than stored: the load
// area grows on the way, and every record still lands whole, aligned and in
// order; unlinking single nodes leaves the rest alone.
TEST_F(RecordLayer, ManySmallRecordsLoadAlignedAndInOrder) {
  std::vector<Bytes> records;
  for (int i = 0; i < 3000; ++i) {
    records.push_back({0x81, 2});
    records.push_back({0x83, 4, uint8_t(i), uint8_t(i >> 8)});
    if (i % 100 == 0) records.push_back(TextRecord("run " + std::to_string(i)));
  }
  AddSegment(Stream(records));
  NnStatus st = 1;
  RecordList* list = RecordListLoadFromNote(session, note, "Body", &st);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(st, NN_OK);
  ASSERT_EQ(list->count, records.size());
  size_t i = 0;
  const uint8_t* previous = nullptr;
  for (const RTRecordNode* n = list->first; n; n = n->next, ++i) {
    ASSERT_LT(i, records.size());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(n->data) % 8, 0u);
    EXPECT_GT(n->data, previous);
    EXPECT_LE(size_t(n->data - list->loadArea) + n->length, list->loadAreaSize);
    EXPECT_EQ(n->sequence, i + 1);
    Bytes host;
    ASSERT_EQ(kv::cd::CanonicalToHost(records[i].data(), uint32_t(records[i].size()), &host), NN_OK);
    EXPECT_EQ(Bytes(n->data, n->data + n->length), host) << i;
    previous = n->data;
  }
  EXPECT_EQ(i, records.size());
  RecordListUnlink(session, list, list->first->next);
  EXPECT_EQ(list->count, records.size() - 1);
  EXPECT_EQ(list->first->next->signature, 0xFF85);
  RecordListFreeWithAllocator(session, list);
}

TEST_F(RecordLayer, LongHeaderRecordsGrowInHostLayoutAndComeBackTheSame) {
  // A graphic header (long header, 28 bytes stored, 32 in host layout).
  Bytes graphic = {0x99, 0x00, 28, 0, 0, 0};
  for (int i = 6; i < 28; ++i) graphic.push_back(uint8_t(i));
  AddSegment(Stream({graphic, TextRecord("x")}));
  TorvoRTItem item(session);
  ASSERT_EQ(item.ConnectBackend(db, note, "Body"), NN_OK);
  ASSERT_EQ(item.LoadRecords(), NN_OK);
  const RTRecordNode* g = item.context->records->first;
  EXPECT_EQ(g->signature, 0x99);
  EXPECT_EQ(g->length, 32u);
  uint16_t destWidth = 0;
  ASSERT_TRUE(kv::cd::ReadU16(g->data, g->length, kv::cd::host::kGraphicDestWidth, &destWidth));
  EXPECT_EQ(destWidth, 6 | (7 << 8));
  Bytes before = Segments()[0];
  ASSERT_EQ(item.Commit(), NN_OK);
  ASSERT_EQ(Segments().size(), 1u);
  EXPECT_EQ(Segments()[0], before);
}

TEST_F(RecordLayer, BrokenStreamsAreRefusedAndTheItemStaysAsItWas) {
  struct Case {
    const char* what;
    Bytes data;
  };
  Bytes runsPast = TextRecord("abc");
  runsPast[2] = 40;  // states 40 bytes, holds 11
  Bytes belowHeader = {0x85, 0xFF, 2, 0};
  Bytes belowFixed = {0xA3, 6, 0, 0, 0, 0};  // a table begin needs 14 bytes
  std::vector<Case> cases = {{"runs past its item", Stream({TextRecord("ok"), runsPast})},
                             {"length below its header", belowHeader},
                             {"shorter than its fixed part", belowFixed},
                             {"a header cut short", {0x85}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = std::string("Broken") + std::to_string(&c - &cases[0]);
    AddSegment(c.data, name.c_str());
    NnLogClear();
    NnStatus st = NN_OK;
    EXPECT_EQ(RecordListLoadFromNote(session, note, name.c_str(), &st), nullptr);
    EXPECT_EQ(st, NN_ERR_CD_STRUCTURE);
    EXPECT_NE(NnLogCaptured().find(name), std::string::npos) << NnLogCaptured();
    // Through the item: the load fails and a commit writes nothing.
    TorvoRTItem item(session);
    ASSERT_EQ(item.ConnectBackend(db, note, name.c_str()), NN_OK);
    EXPECT_EQ(item.LoadRecords(), NN_ERR_CD_STRUCTURE);
    EXPECT_EQ(item.Commit(), NN_OK);
    ASSERT_EQ(Segments(name.c_str()).size(), 1u);
    EXPECT_EQ(Segments(name.c_str())[0], c.data);
  }
}

TEST_F(RecordLayer, CommitSplitsIntoSegmentsWithoutStraddling) {
  // About 200 KB of odd-length text records.
  std::vector<Bytes> records;
  for (int i = 0; i < 700; ++i) records.push_back(TextRecord(std::string(301, char('a' + i % 26))));
  Bytes all = Stream(records);
  // Stored in uneven pieces, as another writer might have left it.
  size_t cut = 0;
  Bytes piece;
  for (size_t r = 0; r < records.size(); ++r) {
    Bytes one = Stream({records[r]});
    if (piece.size() + one.size() > 20000) {
      AddSegment(piece);
      piece.clear();
    }
    piece.insert(piece.end(), one.begin(), one.end());
    cut += one.size();
  }
  AddSegment(piece);
  TorvoRTItem item(session);
  ASSERT_EQ(item.ConnectBackend(db, note, "Body"), NN_OK);
  ASSERT_EQ(item.LoadRecords(), NN_OK);
  EXPECT_EQ(item.context->records->count, 700u);
  ASSERT_EQ(item.Commit(), NN_OK);
  std::vector<Bytes> segs = Segments();
  EXPECT_EQ(segs.size(), 4u);
  Bytes joined;
  for (const auto& s : segs) {
    EXPECT_LE(s.size(), kMaxItemSegment);
    // Each segment holds whole records.
    size_t pos = 0;
    while (pos < s.size()) {
      uint32_t len = s[pos + 2] | (s[pos + 3] << 8);
      ASSERT_LE(pos + len, s.size());
      pos += len + (len & 1);
    }
    EXPECT_EQ(pos, s.size());
    joined.insert(joined.end(), s.begin(), s.end());
  }
  EXPECT_EQ(joined, all);
}

TEST_F(RecordLayer, CompositionBuildsOwnedRecordsAndTracksHotspots) {
  TorvoRTItem item(session);
  ASSERT_EQ(item.ConnectBackend(db, note, "Body"), NN_OK);
  ComposeContext ctx;
  ComposeInit(&ctx, session, &item);
  ASSERT_EQ(ComposeBufferGrow(&ctx), NN_OK);
  // Malformed records are refused.
  uint8_t shortRec[3] = {0x85, 0xFF, 3};
  EXPECT_EQ(AppendRecord(shortRec, 0xFF85, 3, &ctx), NN_ERR_CD_STRUCTURE);
  uint8_t para[2] = {0x81, 2};
  EXPECT_EQ(AppendRecord(para, 0x83, 2, &ctx), NN_ERR_CD_STRUCTURE) << "signature disagrees";
  EXPECT_EQ(AppendRecord(nullptr, 0x81, 2, &ctx), NN_ERR_CD_STRUCTURE);
  ASSERT_EQ(AppendRecord(para, 0x81, 2, &ctx), NN_OK);

  // A file hotspot (kind 4) raises the attachment flag until its end.
  uint8_t hotspot[16] = {0xA9, 0xFF, 16, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(AppendRecord(hotspot, 0xFFA9, 16, &ctx), NN_OK);
  EXPECT_EQ(ctx.hotspotOpen, 1);
  EXPECT_EQ(ctx.attachmentHotspot, 1);
  ASSERT_EQ(EmitTextRecord("inside", 6, nullptr, &ctx), NN_OK);
  uint8_t end[2] = {0xAA, 2};
  ASSERT_EQ(AppendRecord(end, 0xAA, 2, &ctx), NN_OK);
  EXPECT_EQ(ctx.hotspotOpen, 0);
  EXPECT_EQ(ctx.attachmentHotspot, 0);

  ASSERT_EQ(EmitBeginRecord(0xFF85, 0, &ctx), NN_OK);
  ASSERT_EQ(EmitRecord8(210, 0x00FF8040, 3, &ctx), NN_OK);
  ASSERT_EQ(EmitEndRecord(0xFF85, 0, &ctx), NN_OK);
  session->globals->adoptFlag = 1;
  ASSERT_EQ(EmitTextRecord("", 0, nullptr, &ctx), NN_OK);
  session->globals->adoptFlag = 0;
  ASSERT_EQ(ComposeSaveFill(&ctx), NN_OK);
  RecordList* list = ComposeTakeList(&ctx);
  ASSERT_NE(list, nullptr);
  std::vector<uint16_t> sigs;
  for (const RTRecordNode* n = list->first; n; n = n->next) {
    sigs.push_back(n->signature);
    EXPECT_TRUE(n->flags & kNodeOwnsData);
  }
  EXPECT_EQ(sigs, (std::vector<uint16_t>{0x81, 0xFFA9, 0xFF85, 0xAA, 221, 210, 222, 0xFF85}));
  const RTRecordNode* color = list->first->next->next->next->next->next;
  EXPECT_EQ(Bytes(color->data, color->data + 8), (Bytes{210, 8, 3, 0, 0x40, 0x80, 0xFF, 0}));
  const RTRecordNode* begin = color->prev;
  EXPECT_EQ(Bytes(begin->data, begin->data + 6), (Bytes{221, 6, 0, 0, 0x85, 0xFF}));
  EXPECT_TRUE(list->last->flags & kNodeBuiltByEngine);
  EXPECT_EQ(list->last->length, 8u);
  EXPECT_FALSE(list->first->flags & kNodeBuiltByEngine);

  // Installed and committed, the item holds exactly these records.
  item.InstallRecords(list);
  ASSERT_EQ(item.Commit(), NN_OK);
  RecordList* back = RecordListLoadFromNote(session, note, "Body", nullptr);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->count, 8u);
  RecordListFreeWithAllocator(session, back);
}

TEST_F(RecordLayer, LongTextIsSplitBetweenCharacters) {
  TorvoRTItem item(session);
  ASSERT_EQ(item.ConnectBackend(db, note, "Body"), NN_OK);
  ComposeContext ctx;
  ComposeInit(&ctx, session, &item);
  // 70,000 bytes of three-byte characters (the euro sign) do not fit one record.
  std::string text;
  for (int i = 0; i < 70000 / 3; ++i) text += "\x14\x20\xAC";
  ASSERT_EQ(EmitTextRecord(text.data(), uint32_t(text.size()), nullptr, &ctx), NN_OK);
  RecordList* list = ComposeTakeList(&ctx);
  ASSERT_EQ(list->count, 2u);
  std::string joined;
  for (const RTRecordNode* n = list->first; n; n = n->next) {
    EXPECT_EQ((n->length - 8) % 3, 0u) << "a character was split";
    joined.append(reinterpret_cast<char*>(n->data) + 8, n->length - 8);
  }
  EXPECT_EQ(joined, text);
  RecordListFreeWithAllocator(session, list);
  ComposeReleaseHandles(&ctx, 0);
}

TEST_F(RecordLayer, FailedCompositionReleasesEverything) {
  TorvoRTItem item(session);
  ASSERT_EQ(item.ConnectBackend(db, note, "Body"), NN_OK);
  ComposeContext ctx;
  ComposeInit(&ctx, session, &item);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(EmitTextRecord("abc", 3, nullptr, &ctx), NN_OK);
  ComposeReleaseHandles(&ctx, 0);
  EXPECT_EQ(ctx.newList, nullptr);
}

TEST_F(RecordLayer, FontTableComesFromTheNote) {
  Bytes fonts = WordRecord(0xFF8B, {1, 0, 9, 0x22});
  std::string face = "Segoe UI";
  face.resize(32, '\0');
  fonts.insert(fonts.end(), face.begin(), face.end());
  fonts[2] = uint8_t(fonts.size());
  AddSegment(fonts, "$Fonts");
  TorvoRTItem item(session);
  ASSERT_EQ(item.ConnectBackend(db, note, "Body"), NN_OK);
  char name[64] = "untouched";
  EXPECT_EQ(item.FindFaceByID(200, name), 0);
  EXPECT_STREQ(name, "untouched");
  ASSERT_EQ(item.FindFaceByID(9, name), 1);
  EXPECT_STREQ(name, "Segoe UI");
  ASSERT_EQ(item.FindFaceByID(1, name), 1);
  EXPECT_STREQ(name, "Arial");
  EXPECT_EQ(item.FindFaceByName("segoe ui", false), 9);
  int added = item.FindFaceByName("Gill Sans", true);
  EXPECT_GE(added, int(kBuiltinFaces));
  // A commit writes the added face into "$Fonts".
  ASSERT_EQ(item.LoadRecords(), NN_OK);
  ASSERT_EQ(item.Commit(), NN_OK);
  TorvoRTItem again(session);
  ASSERT_EQ(again.ConnectBackend(db, note, "Body"), NN_OK);
  ASSERT_EQ(again.FindFaceByID(uint8_t(added), name), 1);
  EXPECT_STREQ(name, "Gill Sans");
  EXPECT_EQ(again.FindFaceByName("Segoe UI", false), 9);
}

TEST(RecordLayerSession, NothingIsLeftAfterTheSessionGoes) {
  size_t handles = NnMemLiveCount();
  NnHandle db = 0, note = 0;
  ASSERT_EQ(NnDbOpen("mem-recordlist-session.nsf", NN_DB_CREATE, &db), NN_OK);
  ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
  Bytes data = Stream({TextRecord("some text"), {0x81, 2}});
  ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, data.data(), uint32_t(data.size())),
            NN_OK);
  {
    LSXLsiSession session;
    // Items left undeleted are deleted by the session, with their records.
    TorvoRTItem* item = new TorvoRTItem(&session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    ASSERT_EQ(item->LoadRecords(), NN_OK);
    ComposeContext ctx;
    ComposeInit(&ctx, &session, item);
    ASSERT_EQ(EmitTextRecord("x", 1, nullptr, &ctx), NN_OK);
    item->InstallRecords(ComposeTakeList(&ctx));
    EXPECT_GT(PoolGetStats(session.pool).liveBlocks, 0u);
  }
  EXPECT_EQ(NnMemLiveCount(), handles);
  NnNoteClose(note);
  NnDbClose(db);
}

// Fields read at host offsets hold sensible values on real documents.
TEST(RecordLayerCorpus, HostFieldsAreSensible) {
  std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  LSXLsiSession session;
  size_t definitions = 0, hotspots = 0, graphics = 0;
  for (const auto& file : kvtest::FilesBelow(corpus + "/dxl")) {
    SCOPED_TRACE(file);
    NnHandle db = 0;
    ASSERT_EQ(NnDbOpen(file.c_str(), 0, &db), NN_OK) << NnDbLastLoadError();
    for (uint32_t i = 0; i < NnDbNoteCount(db); ++i) {
      NOTEID id;
      NnHandle note;
      ASSERT_EQ(NnDbNoteIdAt(db, i, &id), NN_OK);
      ASSERT_EQ(NnNoteOpen(db, id, 0, &note), NN_OK);
      for (uint32_t k = 0; k < NnNoteItemCount(note); ++k) {
        NnItemDesc d;
        ASSERT_EQ(NnNoteItemAt(note, k, &d), NN_OK);
        if (d.type != NN_TYPE_COMPOSITE) continue;
        RecordList* list = RecordListLoadFromNote(&session, note, d.name.c_str(), nullptr);
        ASSERT_NE(list, nullptr) << d.name;
        for (const RTRecordNode* n = list->first; n; n = n->next) {
          if (n->signature == 0xFF82) {
            uint16_t left, first, tabs;
            ASSERT_TRUE(kv::cd::ReadU16(n->data, n->length, kv::cd::host::kPabLeftMargin, &left));
            ASSERT_TRUE(kv::cd::ReadU16(n->data, n->length, kv::cd::host::kPabFirstLineLeftMargin, &first));
            ASSERT_TRUE(kv::cd::ReadU16(n->data, n->length, kv::cd::host::kPabTabCount, &tabs));
            EXPECT_LE(left, 14400) << "margins are twips within ten inches";
            EXPECT_LE(first, 14400);
            EXPECT_LE(tabs, 20);
            ++definitions;
          } else if (n->signature == 0xFFA9 || n->signature == 0xFFAD) {
            uint16_t dataLength;
            ASSERT_TRUE(kv::cd::ReadU16(n->data, n->length, kv::cd::host::kHotspotDataLength, &dataLength));
            EXPECT_LE(kv::cd::host::kHotspotFixed + dataLength, n->length);
            ++hotspots;
          } else if (n->signature == 0x99) {
            uint16_t w, h;
            ASSERT_TRUE(kv::cd::ReadU16(n->data, n->length, kv::cd::host::kGraphicDestWidth, &w));
            ASSERT_TRUE(kv::cd::ReadU16(n->data, n->length, kv::cd::host::kGraphicDestHeight, &h));
            EXPECT_LT(w, 20000);
            EXPECT_LT(h, 20000);
            ++graphics;
          }
        }
        RecordListFreeWithAllocator(&session, list);
      }
      NnNoteClose(note);
    }
    NnDbClose(db);
  }
  EXPECT_GT(definitions, 100u);
  EXPECT_GT(hotspots, 20u);
  EXPECT_GT(graphics, 10u);
}

}  // namespace
