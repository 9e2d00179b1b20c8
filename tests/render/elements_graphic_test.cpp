// The graphic writer: image sources as data URIs, files and content ids; alt
// text; graphics without usable image data; images of real documents.
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "elements_support.h"
#include "host/base64.h"
#include "richtext/item/cdlayout.h"
#include "support/testutil.h"

namespace elements {
namespace {

namespace fs = std::filesystem;

Bytes Graphic(uint16_t w, uint16_t h) {
  Bytes g = LongRecord(0x0099, 32);
  Put16(g, 8, w);
  Put16(g, 10, h);
  g[27] = 1;  // sizes in pixels
  return g;
}
Bytes ImageHeader(uint16_t type, uint32_t size) {
  Bytes r = LongRecord(0x007D, 32);
  Put16(r, 8, type);
  Put32(r, 16, size);
  Put32(r, 20, 1);
  return r;
}
Bytes Segment(const Bytes& data) {
  Bytes r = LongRecord(0x007C, 12);
  Put16(r, 8, uint16_t(data.size()));
  Put16(r, 10, uint16_t(data.size()));
  r.insert(r.end(), data.begin(), data.end());
  return Sized(r);
}
Bytes AltText(const std::string& t) {
  Bytes r = WordRecord(0xFFCA, 12);
  Put16(r, 4, uint16_t(t.size()));
  PutText(r, 12, t);
  return Sized(r);
}
Bytes Caption(const std::string& t, uint8_t position) {
  Bytes r = WordRecord(0xFF76, 32);
  Put16(r, 4, uint16_t(t.size()));
  r[6] = position;  // 1 over the middle, others below
  PutText(r, 32, t);
  return Sized(r);
}
Bytes SmallGif() {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 3, 0};
  for (int i = 0; i < 30; ++i) b.push_back(uint8_t(i * 7));
  return b;
}

class GraphicTest : public ElementTest {
 protected:
  // Renders the graphic node alone through the writer.
  std::string Draw(RTRecordNode* graphic, NnStatus* status = nullptr) {
    RenderContext* c = Context();
    c->currentRecord = graphic;
    c->lastRecord = list->last;
    const size_t before = std::strlen(c->outputBuffer);
    const NnStatus st = PXMLGr(c, 0, 0);
    if (status) *status = st;
    else EXPECT_EQ(st, NN_OK);
    EXPECT_EQ(c->currentRecord, graphic) << "the driver steps past the graphic";
    return std::string(c->outputBuffer + before);
  }
  // The first src attribute's value. Found by hand: a regex's repetition over
  // a data URI recurses once per character and overflows the stack on large
  // images.
  std::string Src(const std::string& out) {
    const size_t start = out.find("src=\"");
    if (start == std::string::npos) return "";
    const size_t end = out.find('"', start + 5);
    return end == std::string::npos ? "" : out.substr(start + 5, end - start - 5);
  }
};

TEST_F(GraphicTest, DataUriWhenTheImageFitsTheLimit) {
  RTRecordNode* g = Add(Graphic(20, 30));
  Add(ImageHeader(1, uint32_t(SmallGif().size())));
  Add(Segment(SmallGif()));
  Add(AltText("a \"quoted\" <b>&</b> name"));
  Context()->dataImages = 100000;
  const std::string out = Draw(g);
  const std::string src = Src(out);
  ASSERT_EQ(src.rfind("data:image/gif;base64,", 0), 0u) << out;
  Bytes decoded;
  ASSERT_TRUE(kvtest::DecodeBase64(src.substr(22), &decoded));
  EXPECT_EQ(decoded, SmallGif());
  EXPECT_NE(out.find(" width=\"20\" height=\"30\""), std::string::npos) << out;
  EXPECT_NE(out.find("alt=\"a &quot;quoted&quot; &lt;b&gt;&amp;&lt;/b&gt; name\""),
            std::string::npos)
      << out;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
}

TEST_F(GraphicTest, FileInTheImageDirectoryWhenTooLargeForInline) {
  RTRecordNode* g = Add(Graphic(2, 3));
  Add(ImageHeader(2, 0));
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 4, 5, 6};
  Add(Segment(jpeg));
  const std::string dir = kvtest::MakeTempDir();
  RenderContext* c = Context();
  c->dataImages = 4;  // smaller than the image
  std::string imageDir = dir + "/deeper/images";
  c->imageDirectory = imageDir.data();
  std::string urlDir = "http://host/img";
  c->imageURLDirectory = urlDir.data();
  const std::string out = Draw(g);
  const std::string src = Src(out);
  ASSERT_EQ(src.rfind("http://host/img/_", 0), 0u) << out;
  ASSERT_EQ(src.substr(src.size() - 4), ".jpg");
  const std::string file = imageDir + "/" + src.substr(std::strlen("http://host/img/"));
  EXPECT_EQ(kvtest::ReadFile(file), std::string(jpeg.begin(), jpeg.end()));
  EXPECT_EQ(c->imageDirectoryMade, 1u);
  // The identifier: kind 2 for JPEG, then the position pair and the originator.
  EXPECT_TRUE(std::regex_match(src.substr(16), std::regex("_2_[0-9]{6}[0-9a-f]{6}[0-9a-f]{16}\\.jpg")))
      << src;
  EXPECT_TRUE(ParsesAsXml(out)) << out;
  kvtest::RemoveTree(dir);
}

TEST_F(GraphicTest, ContentIdInMimeOutputAndDistinctNamesPerImage) {
  RTRecordNode* g1 = Add(Graphic(2, 3));
  Add(ImageHeader(1, 0));
  Add(Segment(SmallGif()));
  RTRecordNode* g2 = Add(Graphic(2, 3));
  Add(ImageHeader(1, 0));
  Add(Segment(SmallGif()));
  Context()->mimeRender = 1;  // and no inline data allowed: the parts go by content id
  const std::string a = Src(Draw(g1)), b = Src(Draw(g2));
  EXPECT_EQ(a.rfind("cid:_1_", 0), 0u) << a;
  EXPECT_NE(a, b);
}

TEST_F(GraphicTest, BitmapsAndMetafilesGiveAltTextOrNothing) {
  RTRecordNode* bare = Add(Graphic(10, 10));
  Add(LongRecord(0x0095, 40));
  Add(LongRecord(0x0096, 20));
  Add(Text("x"));
  RTRecordNode* withAlt = Add(Graphic(10, 10));
  Add(LongRecord(0x009B, 12));
  Add(AltText("chart"));
  EXPECT_EQ(Draw(bare), "");
  const std::string out = Draw(withAlt);
  EXPECT_EQ(out, "<img alt=\"chart\" width=\"10\" height=\"10\" />");
}

// A picture's attributes and caption, in its group as documents store them
// (after a record no reader knows, 0xDF) or following it, go with the
// picture: on its img, not on the link around it.
TEST_F(GraphicTest, AttributesAndCaptionGoWithTheirPicture) {
  Add(HotspotBegin(11, 0x1000, "http://x/"));
  Add(GroupBegin(0x0099));
  Add(Graphic(20, 30));
  Add(ByteRecord(0x00DF, 8));
  Add(AltText("a"));
  Add(IdName({"pic", "", "", "t", "onerror=\"x()\" src=\"y\" data-a=\"1\""}));
  Add(Caption("A<b>", 1));
  Add(GroupEnd(0x0099));
  Add(HotspotEnd());
  Add(Graphic(5, 5));
  Add(AltText("b"));
  Add(Caption("below", 2));
  Add(IdName({"second"}));
  Add(Text("after"));
  const std::string out = Render();
  EXPECT_TRUE(ParsesAsXml(out)) << out;
  EXPECT_NE(out.find("<a href=\"http://x/\"><span style=\"display:inline-block;position:relative;\">"
                     "<img alt=\"a\" width=\"20\" height=\"30\" id=\"pic\" title=\"t\" data-a=\"1\" />"
                     "<span style=\"position:absolute;left:0;right:0;top:50%;"
                     "transform:translateY(-50%);text-align:center;\">A&lt;b&gt;</span></span></a>"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("id=\"second\" /><span style=\"display:block;\">below</span></span>after"),
            std::string::npos)
      << out;
}

// A named image resource (a link target of kind 3 after the graphic) stored
// with its alias: the source is its name, encoded, in HTML and XHTML.
TEST_F(GraphicTest, AnAliasedImageResourceIsFoundByItsName) {
  for (const auto& [stored, src] : std::vector<std::pair<std::string, std::string>>{
           {"instructions.gif|instructions.gif", "instructions.gif"}, {"a b.gif|Alias", "a%20b.gif"},
           {"plain.gif", "plain.gif"}, {"|alias only", ""}}) {
    for (uint16_t kind : {kOutputHtml, kOutputXhtml}) {
      NewList();
      Context(kind);
      RTRecordNode* g = Add(Graphic(10, 10));
      Bytes resource = WordRecord(0xFFF6, 36);
      Put16(resource, 8, 3);
      Put16(resource, 12, uint16_t(stored.size()));
      PutText(resource, 36, stored);
      Add(Sized(resource));
      EXPECT_EQ(Src(Draw(g)), src) << stored;
    }
  }
}

TEST_F(GraphicTest, SegmentLengthsBeyondTheirRecordAreCut) {
  RTRecordNode* g = Add(Graphic(1, 1));
  Add(ImageHeader(1, 0));
  Bytes seg = Segment(SmallGif());
  Put16(seg, 8, 60000);  // claims far more than the record holds
  Add(seg);
  Context()->dataImages = 100000;
  const std::string src = Src(Draw(g));
  Bytes decoded;
  ASSERT_TRUE(kvtest::DecodeBase64(src.substr(src.find(',') + 1), &decoded));
  EXPECT_EQ(decoded, SmallGif());
}

TEST_F(GraphicTest, InlineImageLargerThanTheOutputRoomFails) {
  RTRecordNode* g = Add(Graphic(1, 1));
  Bytes big = SmallGif();
  big.resize(3000, 1);
  Add(ImageHeader(1, 0));
  Add(Segment(big));
  RenderContext* c = Context(kOutputXhtml, 2000);
  c->dataImages = 100000;
  NnStatus st = NN_OK;
  EXPECT_EQ(Draw(g, &st), "");
  EXPECT_EQ(st, NN_ERR_MEMORY);
}

TEST_F(GraphicTest, GraphicTableListsTheRangesGraphics) {
  Add(Text("a"));
  Add(Graphic(1, 1));
  Add(Text("b"));
  Add(Graphic(1, 1));
  RenderContext* c = Context();
  c->currentRecord = list->first;
  c->lastRecord = list->last;
  ASSERT_EQ(BuildGraphicRecordTable(nullptr, c), NN_OK);
  ASSERT_EQ(c->graphics.graphicCount, 2u);
  auto** table = static_cast<RTRecordNode**>(c->graphics.graphicTable);
  EXPECT_EQ(table[0], list->first->next);
  EXPECT_EQ(table[1], list->last);
  c->lastRecord = list->first->next->next;  // a narrower range: one graphic
  ASSERT_EQ(BuildGraphicRecordTable(nullptr, c), NN_OK);
  EXPECT_EQ(c->graphics.graphicCount, 1u);
}

// Images of the corpus documents, converted to host layout, as data URIs.
TEST_F(GraphicTest, CorpusImagesRenderAsDataUris) {
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const fs::path root = fs::path(corpus) / "dxl";
  size_t images = 0;
  for (const std::string& file : kvtest::FilesBelow(root.string())) {
    const std::string text = kvtest::ReadFile(file);
    for (const char* open : {"<rawitemdata type='1'>", "<rawitemdata type=\"1\">"}) {
      for (size_t pos = text.find(open); pos != std::string::npos; pos = text.find(open, pos)) {
        pos += std::strlen(open);
        const size_t end = text.find("</rawitemdata>", pos);
        if (end == std::string::npos) break;
        Bytes item;
        if (!kvtest::DecodeBase64(text.substr(pos, end - pos), &item)) continue;
        // Host records of the item; only items with image headers are kept.
        std::vector<std::unique_ptr<Bytes>> host;
        RecordList* l = RecordListCreate(&session);
        bool hasImage = false;
        for (size_t off = 0; off < item.size();) {
          uint16_t sig = 0;
          kv::cd::HeaderKind kind{};
          uint32_t length = 0, hs = 0;
          if (!kv::cd::ReadCanonicalHeader(&item[off], item.size() - off, &sig, &kind, &length, &hs) ||
              length < hs || off + length > item.size())
            break;
          auto out = std::make_unique<Bytes>();
          if (kv::cd::CanonicalToHost(&item[off], length, out.get()) != NN_OK) break;
          if (sig == 0x007D) hasImage = true;
          RecordListAppendNode(&session, l, sig, out->data(), uint32_t(out->size()), 0);
          host.push_back(std::move(out));
          off += length + (length & 1);
        }
        if (hasImage) {
          RenderContext* c = Context(kOutputXhtml, 4 << 20);
          c->dataImages = 1 << 20;
          for (RTRecordNode* n = l->first; n; n = n->next) {
            if (n->signature != 0x0099 || !n->next || n->next->signature != 0x007D) continue;
            c->outputCursor = c->outputBuffer;
            *c->outputCursor = 0;
            c->currentRecord = n;
            c->lastRecord = l->last;
            ASSERT_EQ(PXMLGr(c, 0, 0), NN_OK) << file;
            const std::string out(c->outputBuffer);
            EXPECT_TRUE(ParsesAsXml(out)) << file;
            const std::string src = Src(out);
            if (src.rfind("data:image/", 0) != 0) continue;  // a resource, not inline data
            Bytes data;
            ASSERT_TRUE(kvtest::DecodeBase64(src.substr(src.find(',') + 1), &data)) << file;
            const bool known = (data.size() > 4 && std::memcmp(data.data(), "GIF8", 4) == 0) ||
                               (data.size() > 3 && data[0] == 0xFF && data[1] == 0xD8) ||
                               (data.size() > 8 && data[0] == 0x89 && data[1] == 'P');
            EXPECT_TRUE(known) << file;
            ++images;
          }
        }
        RecordListFreeWithAllocator(&session, l);
        pos = end;
      }
    }
  }
  if (images == 0) GTEST_SKIP() << "no inline images in the corpus";
}

}  // namespace
}  // namespace elements
