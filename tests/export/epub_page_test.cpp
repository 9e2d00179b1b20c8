// The EPUB page generator: the XHTML page of an EPUB package differs from the
// plain XHTML page in where paragraph alignment goes and in the body's top
// anchor.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <atomic>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

Bytes Text(const std::string& s) {
  Bytes b;
  Put16(b, 0xFF85);
  Put16(b, uint16_t(8 + s.size()));
  Put16(b, 1);
  Put16(b, 0x0A00);
  b.insert(b.end(), s.begin(), s.end());
  if (b.size() % 2) b.push_back(0);
  return b;
}

class EpubPage : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    session = new LSXLsiSession();
    const std::string path = "mem-epub-page-" + std::to_string(++counter) + ".nsf";
    ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
    ASSERT_EQ(NnItemSetText(note, "Subject", "Chapter", 7), NN_OK);
    Bytes body = {129, 2};
    Bytes first = Text("Centred words");
    body.insert(body.end(), first.begin(), first.end());
    body.push_back(129);
    body.push_back(2);
    Bytes second = Text("Plain words");
    body.insert(body.end(), second.begin(), second.end());
    ASSERT_EQ(NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, body.data(),
                           uint32_t(body.size())),
              NN_OK);
    item = new TorvoRTItem(session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    chunk = item->DefineChunk("Everything");
    ASSERT_NE(chunk, nullptr);
  }
  void TearDown() override {
    delete session;
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
  }

  // Appends a paragraph with its own definition through the chunk, then
  // centres it.
  void AppendCentredParagraph() {
    ASSERT_EQ(chunk->AppendParagraph("Centred words", nullptr, nullptr, 0), 0);
    TorvoRTChunk* last = item->DefineChunk("Paragraph 3");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->ChangeParagraph("Alignment=Center", nullptr, 0), 0);
    delete last;
  }

  std::string Page(bool epub, NnStatus* status, const char* options = "") {
    char* text = nullptr;
    uint32_t length = 0;
    *status = epub ? chunk->GenerateHTMLToEPub(nullptr, options, &text, &length)
                   : chunk->GenerateXML(nullptr, options, &text, &length);
    std::string out;
    if (text) {
      out.assign(text, length);
      PoolFree(session, text);
    }
    return out;
  }

  static bool WellFormed(const std::string& page) { return kvtest::ParsesAsXml(page); }

  LSXLsiSession* session = nullptr;
  NnHandle db = 0, note = 0;
  TorvoRTItem* item = nullptr;
  TorvoRTChunk* chunk = nullptr;
};

TEST_F(EpubPage, BodyCarriesTheTopAnchorInsteadOfATextColour) {
  NnStatus st = 1;
  const std::string epub = Page(true, &st);
  ASSERT_EQ(st, 0);
  EXPECT_NE(epub.find("<body style='background: "), std::string::npos);
  EXPECT_NE(epub.find("><p><a id=\"_TOP_\"></a></p>"), std::string::npos);
  EXPECT_EQ(epub.find(" text='#"), std::string::npos);
  EXPECT_TRUE(WellFormed(epub));
  EXPECT_NE(epub.find("Centred words"), std::string::npos);
  EXPECT_NE(epub.find("Plain words"), std::string::npos);

  const std::string xhtml = Page(false, &st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(xhtml.find("_TOP_"), std::string::npos);
  EXPECT_NE(xhtml.find(" text='#"), std::string::npos);
}

TEST_F(EpubPage, AlignmentMovesIntoStyles) {
  AppendCentredParagraph();
  NnStatus st = 1;
  const std::string xhtml = Page(false, &st);
  ASSERT_EQ(st, 0);
  ASSERT_NE(xhtml.find("align='"), std::string::npos) << "the plain page aligns by attribute";
  const std::string epub = Page(true, &st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(epub.find("align='"), std::string::npos);
  EXPECT_EQ(epub.find("align=\""), std::string::npos);
  EXPECT_NE(epub.find("text-align: center"), std::string::npos);
  EXPECT_TRUE(WellFormed(epub));
}

TEST_F(EpubPage, FlagDoesNotOutliveTheRender) {
  // An EPUB page, then a plain one on the same chunk: the plain page is as
  // it was before.
  NnStatus st = 1;
  const std::string before = Page(false, &st);
  ASSERT_EQ(st, 0);
  Page(true, &st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(Page(false, &st), before);
}

TEST_F(EpubPage, StandardFontTagsKeepThePlainBody) {
  // Font tags write the body without colour or anchor in either page kind.
  NnStatus st = 1;
  const std::string epub = Page(true, &st, "StandardFontTags=1");
  ASSERT_EQ(st, 0);
  EXPECT_EQ(epub.find("_TOP_"), std::string::npos);
}

TEST_F(EpubPage, RefusesWithoutAPlaceForThePage) {
  EXPECT_EQ(chunk->GenerateHTMLToEPub(nullptr, "", nullptr, nullptr), NN_ERR_INVALID_ARG);
}

}  // namespace
