// Checking and repairing graphics (VerifyGraphics, FixupGraphics) and the
// refused bitmap conversion, seen in the item's stored records and in the
// rendered page.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine_fixture.h"
#include "host/base64.h"
#include "host/pool.h"
#include "richtext/item/cdlayout.h"
#include "support/testutil.h"

namespace enginetest {
namespace {

uint16_t Word(const Rec& r, size_t at) { return uint16_t(r.bytes[at] | r.bytes[at + 1] << 8); }
uint32_t Long(const Rec& r, size_t at) { return Word(r, at) | uint32_t(Word(r, at + 2)) << 16; }

// A 20-byte GIF of 16 x 8 pixels (only its header matters here).
Bytes Gif() {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', 16, 0, 8, 0, 0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, ';'};
  return b;
}

// Canonical graphic records (long headers: signature word, 32-bit length).
Bytes Graphic(uint16_t w = 240, uint16_t h = 120) {
  Bytes b;
  Put16(b, 153);
  Put32(b, 28);
  Put16(b, w);
  Put16(b, h);
  b.resize(28, 0);
  return b;
}
Bytes ImageHeader(uint32_t dataSize, uint32_t segCount, uint16_t w = 16, uint16_t h = 8) {
  Bytes b;
  Put16(b, 125);
  Put32(b, 28);
  Put16(b, 1);  // GIF
  Put16(b, w);
  Put16(b, h);
  Put32(b, dataSize);
  Put32(b, segCount);
  b.resize(28, 0);
  return b;
}
Bytes Segment(const Bytes& data, size_t from, size_t n, int dataSize = -1, int segSize = -1) {
  Bytes b;
  Put16(b, 124);
  Put32(b, uint32_t(10 + n));
  Put16(b, uint16_t(dataSize >= 0 ? dataSize : int(n)));
  Put16(b, uint16_t(segSize >= 0 ? segSize : int(n)));
  b.insert(b.end(), data.begin() + long(from), data.begin() + long(from + n));
  return b;
}
Bytes BitmapHeader(uint16_t segments) {
  Bytes b;
  Put16(b, 149);
  Put32(b, 38);
  b.resize(32, 0);
  Put16(b, segments);  // segment count at 32
  Put16(b, 0);
  Put16(b, 0);
  return b;
}
Bytes BitmapSegment() {
  Bytes b;
  Put16(b, 150);
  Put32(b, 22);
  b.resize(14, 0);
  Put16(b, 1);  // scan lines
  Put16(b, 4);  // data size
  b.insert(b.end(), {1, 2, 3, 4});
  return b;
}

// A paragraph, a sound two-segment GIF in its BEGIN/END, and a text after it.
std::vector<Bytes> SoundItem() {
  const Bytes gif = Gif();
  return {Para(), PabRef(1), Begin(153), Graphic(), ImageHeader(20, 2), Segment(gif, 0, 10),
          Segment(gif, 10, 10), End(153), Text("after")};
}

class GraphicRepair : public EngineDoc {
 protected:
  std::string Page() {
    char* text = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(chunk->GenerateXML(nullptr, "", &text, &length), 0);
    std::string page = text ? std::string(text, length) : "";
    if (text) PoolFree(session, text);
    return page;
  }
  static std::string GifData() {
    const Bytes gif = Gif();
    std::string out(kv::Base64EncodedLength(gif.size()) + 1, '\0');
    out.resize(kv::Base64EncodeOut(out.data(), gif.data(), uint32_t(gif.size())));
    return "data:image/gif;base64," + out;
  }
  const Rec* Find(const std::vector<Rec>& recs, uint16_t sig) {
    for (const Rec& r : recs)
      if (r.sig == sig) return &r;
    return nullptr;
  }
};

TEST_F(GraphicRepair, SoundGraphicIsReportedSoundAndFixupKeepsItByteForByte) {
  Make(SoundItem());
  const Bytes before = Stored();
  EXPECT_EQ(chunk->VerifyGraphics(0), 0);
  EXPECT_EQ(chunk->FixupGraphics(0, nullptr), 0);
  EXPECT_EQ(Stored(), before);
  EXPECT_NE(Page().find(GifData()), std::string::npos);
}

TEST_F(GraphicRepair, WrongImageHeaderCountsAreFoundAndRepairedSoTheWholePictureRenders) {
  const Bytes gif = Gif();
  Make({Para(), PabRef(1), Begin(153), Graphic(), ImageHeader(12, 5), Segment(gif, 0, 10),
        Segment(gif, 10, 10), End(153), Text("after")});
  // The header claims 12 bytes: the picture shown is cut short.
  EXPECT_EQ(Page().find(GifData()), std::string::npos);
  const Bytes before = Stored();
  EXPECT_EQ(chunk->VerifyGraphics(0), NN_ERR_CD_STRUCTURE);
  EXPECT_EQ(Stored(), before);  // verifying writes nothing

  ASSERT_EQ(chunk->FixupGraphics(0, nullptr), 0);
  auto recs = Split(Stored());
  const Rec* header = Find(recs, 125);
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(Long(*header, 12), 20u);  // data size
  EXPECT_EQ(Long(*header, 16), 2u);   // segment count
  EXPECT_EQ(CountRecords(recs, 124), 2u);
  EXPECT_EQ(CountRecords(recs, 153), 1u);  // nothing doubled
  EXPECT_EQ(CountRecords(recs, 222), 1u);
  EXPECT_EQ(recs.back().sig, 0xFF85);  // the records after the graphic stay
  EXPECT_EQ(chunk->VerifyGraphics(0), 0);
  EXPECT_NE(Page().find(GifData()), std::string::npos);
}

TEST_F(GraphicRepair, SegmentClaimingMoreDataThanItHoldsIsCutToItsRecord) {
  const Bytes gif = Gif();
  Make({Para(), Begin(153), Graphic(), ImageHeader(20, 2), Segment(gif, 0, 10, 400, 400),
        Segment(gif, 10, 10), End(153)});
  EXPECT_EQ(chunk->VerifyGraphics(0), NN_ERR_CD_STRUCTURE);
  ASSERT_EQ(chunk->FixupGraphics(0, nullptr), 0);
  auto recs = Split(Stored());
  const Rec* seg = Find(recs, 124);
  ASSERT_NE(seg, nullptr);
  EXPECT_EQ(Word(*seg, 6), 10);
  EXPECT_EQ(Word(*seg, 8), 10);
  EXPECT_EQ(Long(*Find(recs, 125), 12), 20u);
  EXPECT_NE(Page().find(GifData()), std::string::npos);
}

TEST_F(GraphicRepair, MissingImageHeaderIsMadeFromTheDataAndMissingEndIsAdded) {
  const Bytes gif = Gif();
  Make({Para(), Begin(153), Graphic(0, 0), Segment(gif, 0, 20), Para(), Text("next")});
  EXPECT_EQ(chunk->VerifyGraphics(0), NN_ERR_CD_STRUCTURE);
  ASSERT_EQ(chunk->FixupGraphics(0, nullptr), 0);
  auto recs = Split(Stored());
  std::vector<uint16_t> sigs;
  for (const Rec& r : recs) sigs.push_back(r.sig);
  EXPECT_EQ(sigs, (std::vector<uint16_t>{129, 221, 153, 125, 124, 222, 129, 0xFF85}));
  const Rec* header = Find(recs, 125);
  EXPECT_EQ(Word(*header, 6), 1);   // GIF
  EXPECT_EQ(Word(*header, 8), 16);  // width and height from the picture
  EXPECT_EQ(Word(*header, 10), 8);
  const Rec* graphic = Find(recs, 153);
  EXPECT_EQ(Word(*graphic, 6), 0);  // a size of nothing shows the picture's own
  EXPECT_EQ(chunk->VerifyGraphics(0), 0);
  const std::string page = Page();
  EXPECT_NE(page.find(GifData()), std::string::npos);
  EXPECT_NE(page.find("width=\"16\" height=\"8\""), std::string::npos);
}

TEST_F(GraphicRepair, GraphicWithoutPictureCannotBeRepairedAndTheItemStays) {
  Make({Para(), Begin(153), Graphic(), End(153), Text("x")});
  const Bytes before = Stored();
  EXPECT_EQ(chunk->VerifyGraphics(0), NN_ERR_CD_STRUCTURE);
  EXPECT_EQ(chunk->FixupGraphics(0, nullptr), NN_ERR_CD_STRUCTURE);
  EXPECT_EQ(Stored(), before);
}

TEST_F(GraphicRepair, EmptySegmentsAreDroppedAndBitmapCountsFollowTheirSegments) {
  const Bytes gif = Gif();
  Make({Para(), Graphic(), ImageHeader(20, 3), Segment(gif, 0, 10), Segment(gif, 0, 0),
        Segment(gif, 10, 10), Para(), Graphic(), BitmapHeader(3), BitmapSegment(), Text("t")});
  ASSERT_EQ(chunk->FixupGraphics(0, nullptr), 0);
  auto recs = Split(Stored());
  EXPECT_EQ(CountRecords(recs, 124), 2u);
  EXPECT_EQ(Long(*Find(recs, 125), 16), 2u);
  EXPECT_EQ(Word(*Find(recs, 149), 32), 1);  // one bitmap segment present
  EXPECT_EQ(CountRecords(recs, 150), 1u);
  EXPECT_EQ(chunk->VerifyGraphics(0), 0);
}

TEST_F(GraphicRepair, OnlyTheTargetGraphicIsRepaired) {
  const Bytes gif = Gif();
  Make({Para(), Graphic(), ImageHeader(1, 9), Segment(gif, 0, 20), Para(), Graphic(),
        ImageHeader(2, 9), Segment(gif, 0, 20), Para(), Text("end")},
       Chain({Node(REL_CONTAINS, GRAPHIC, {2})}));
  ASSERT_EQ(chunk->FixupGraphics(0, nullptr), 0);
  auto recs = Split(Stored());
  std::vector<uint32_t> sizes;
  for (const Rec& r : recs)
    if (r.sig == 125) sizes.push_back(Long(r, 12));
  EXPECT_EQ(sizes, (std::vector<uint32_t>{1, 20}));
  EXPECT_EQ(CountRecords(recs, 124), 2u);
  EXPECT_EQ(CountRecords(recs, 153), 2u);
  EXPECT_EQ(recs.back().sig, 0xFF85);
}

TEST_F(GraphicRepair, BitmapConversionIsRefusedWithTheItemUnchanged) {
  Make({Para(), Graphic(), BitmapHeader(1), BitmapSegment(), Text("t")});
  const Bytes before = Stored();
  NnLogClear();
  EXPECT_EQ(chunk->RunFrame(2807, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
            NN_ERR_INVALID_ARG);
  EXPECT_EQ(Stored(), before);
  EXPECT_NE(NnLogCaptured().find("Unable to convert bitmap graphic"), std::string::npos);
}

TEST_F(GraphicRepair, BitmapConversionWithoutBitmapsChangesNothing) {
  Make(SoundItem());
  const Bytes before = Stored();
  EXPECT_EQ(chunk->RunFrame(2807, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Stored(), before);
}

// The graphics of real documents: a sound one is reported sound and a fixup
// leaves its item byte for byte; one reported damaged is sound after a fixup.
TEST_F(GraphicRepair, CorpusGraphicsVerifyAndFixupAgree) {
  namespace fs = std::filesystem;
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const fs::path root = fs::path(corpus) / "dxl";
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  size_t graphics = 0, sound = 0;
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    // The segments of each item, in order: an item's graphic may run on
    // from one segment into the next.
    std::vector<std::pair<std::string, std::vector<Bytes>>> itemsByName;
    for (const char* open : {"<rawitemdata type='1'>", "<rawitemdata type=\"1\">"}) {
      for (size_t pos = 0; (pos = text.find(open, pos)) != std::string::npos;) {
        const size_t named = text.rfind("<item name=", pos);
        std::string name;
        if (named != std::string::npos) {
          const size_t q = named + 11;
          const size_t close = text.find(text[q], q + 1);
          if (close != std::string::npos) name = text.substr(q + 1, close - q - 1);
        }
        pos += std::strlen(open);
        const size_t end = text.find("</rawitemdata>", pos);
        if (end == std::string::npos) break;
        Bytes data;
        const bool decoded = kvtest::DecodeBase64(text.substr(pos, end - pos), &data);
        pos = end;
        if (!decoded || data.empty()) continue;
        auto at = std::find_if(itemsByName.begin(), itemsByName.end(),
                               [&](const auto& e) { return e.first == name; });
        if (at == itemsByName.end()) {
          itemsByName.push_back({name, {}});
          at = itemsByName.end() - 1;
        }
        at->second.push_back(std::move(data));
      }
    }
    for (const auto& [name, segments] : itemsByName) {
      bool hasGraphic = false;
      for (const Bytes& seg : segments) {
        const auto recs = Split(seg);
        hasGraphic |= std::any_of(recs.begin(), recs.end(), [](const Rec& r) { return r.sig == 153; });
      }
      if (!hasGraphic) continue;
      SCOPED_TRACE(f.filename().string() + " " + name);
      NnHandle itemNote = 0;
      ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &itemNote), NN_OK);
      for (const Bytes& seg : segments)
        ASSERT_EQ(NnItemAppend(itemNote, 0, "Body", 4, NN_TYPE_COMPOSITE, seg.data(),
                               uint32_t(seg.size())),
                  NN_OK);
      auto* it = new TorvoRTItem(session);
      ASSERT_EQ(it->ConnectBackend(db, itemNote, "Body"), NN_OK);
      if (it->LoadRecords() == 0) {
        auto* ch = new TorvoRTChunk(session, it);
        ++graphics;
        // The records of every segment (pad bytes and segment boundaries aside).
        auto records = [&] {
          std::vector<Bytes> out;
          NnBlockId item, value;
          uint16_t type = 0;
          uint32_t len = 0;
          NnStatus st = NnItemInfo(itemNote, "Body", 4, &item, &type, &value, &len);
          while (st == NN_OK) {
            const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
            for (const Rec& r : Split(Bytes(p + 2, p + len))) out.push_back(r.bytes);
            NnBlockUnlock(value);
            const NnBlockId prev = item;
            st = NnItemInfoNext(itemNote, prev, "Body", 4, &item, &type, &value, &len);
          }
          return out;
        };
        const auto before = records();
        const NnStatus verified = ch->VerifyGraphics(0);
        const NnStatus fixed = ch->FixupGraphics(0, nullptr);
        if (verified == 0) {
          ++sound;
          EXPECT_EQ(fixed, 0);
          EXPECT_TRUE(records() == before);
        } else if (fixed == 0) {
          EXPECT_EQ(ch->VerifyGraphics(0), 0);
        } else {
          EXPECT_TRUE(records() == before);
        }
        delete ch;
      }
      delete it;
      NnNoteClose(itemNote);
    }
  }
  EXPECT_GT(graphics, 0u);
  EXPECT_EQ(sound, graphics);  // the documents' graphics are sound
}

}  // namespace
}  // namespace enginetest
