// URLs of links and attachments: on this site, each stored name one encoded
// path segment, and link URLs as they stand unless asked to be rewritten.
#include <memory>

#include "elements_support.h"
#include "host/pool.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace elements {
namespace {

std::string Example() { return std::string(KV_SOURCE_DIR) + "/examples/sample.dxl"; }

class LinkUrlTest : public ElementTest {
 protected:
  void TearDown() override {
    if (ctx) ctx->item = nullptr;
    item_.reset();
    if (note_) NnNoteClose(note_);
    if (db_) NnDbClose(db_);
    NnIniSet("Directory", nullptr);
    ElementTest::TearDown();
  }
  // The example document's note as the render note (its database path is absolute).
  void OpenExample() {
    ASSERT_EQ(NnDbOpen(Example().c_str(), 0, &db_), NN_OK);
    NOTEID id = 0;
    ASSERT_EQ(NnDbNoteIdAt(db_, 0, &id), NN_OK);
    ASSERT_EQ(NnNoteOpen(db_, id, 0, &note_), NN_OK);
    item_ = std::make_unique<TorvoRTItem>(&session);
    ASSERT_EQ(item_->ConnectBackend(db_, note_, "Body"), NN_OK);
    Context()->item = item_.get();
  }
  void Attachment(const std::string& internal, const std::string& display) {
    Add(HotspotBegin(4, 0, internal + std::string(1, '\0') + display, 0xFFA9));
    Add(Text("file"));
    Add(HotspotEnd(0x00AA));
  }
  void Reset() {
    ctx->outputCursor = ctx->outputBuffer;
    *ctx->outputCursor = 0;
  }
  NnHandle db_ = 0;
  NnHandle note_ = 0;
  std::unique_ptr<TorvoRTItem> item_;
};

TEST_F(LinkUrlTest, StoredFileLinksStayOnThisSiteAndInTheirFolder) {
  OpenExample();
  Attachment("../../up.txt", "up.txt");
  // The database lies outside the data directory: its file name stands for it.
  NnIniSet("Directory", "/nowhere/data");
  std::string out = Render();
  EXPECT_EQ(out.rfind("<a href=\"/sample.dxl/0/", 0), 0u) << out;
  EXPECT_NE(out.find("/$FILE/..%2F..%2Fup.txt\">file</a>"), std::string::npos) << out;
  // Inside it: the path relative to it.
  NnIniSet("Directory", KV_SOURCE_DIR);
  Reset();
  out = Render();
  EXPECT_EQ(out.rfind("<a href=\"/examples/sample.dxl/0/", 0), 0u) << out;
}

TEST_F(LinkUrlTest, ReferenceAndEpubNamesAreEncodedSegments) {
  OpenExample();
  NnIniSet("Directory", "/nowhere/data");
  Attachment("../a b.txt", "a b.txt");
  ASSERT_EQ(session.PreprocessXMLProperties(ctx, kOutputXhtml, nullptr,
                                            "AttachmentHandling=REF XPage=Yes"),
            NN_OK);
  ctx->mimeRender = 1;
  std::string out = Render();
  EXPECT_NE(out.find("<a href=\"xsp/.kvres/OpenAttachment/sample.dxl/"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("/Body/..%2Fa%20b.txt\" title=\"a b.txt\" class=\"xspLinkFileDownload\">"),
            std::string::npos)
      << out;
  // The EPUB image of an attachment.
  Reset();
  ctx->mimeRender = 0;
  ctx->attachmentHandling = 1;
  ctx->renderFlagsE |= 0x200;
  out = Render();
  EXPECT_NE(out.find("/..%2Fa%20b.gif\" alt=\"a b.txt\""), std::string::npos) << out;
}

// A file written to disk keeps its name; its link names it with "#", "?" and "%" as data.
TEST_F(LinkUrlTest, DiskAttachmentLinkEncodesItsFileName) {
  OpenExample();
  const std::string dir = kvtest::MakeTempDir(), file = dir + "/in.txt";
  kvtest::WriteFile(file, "attached text");
  std::unique_ptr<TorvoRTChunk> chunk(item_->DefineChunk(""));
  ASSERT_EQ(chunk->AppendFileAttachment(file.c_str(), "a#b?c%d.txt", 0, nullptr), 0);
  char* page = nullptr;
  uint32_t length = 0;
  const std::string options = "AttachmentHandling=DISK AttachmentDirectory=" + dir;
  ASSERT_EQ(chunk->GenerateHTML(nullptr, options.c_str(), &page, &length), NN_OK);
  EXPECT_NE(std::strstr(page, "<a href=\"./a%23b%3Fc%25d.txt\">"), nullptr) << page;
  PoolFree(&session, page);
  EXPECT_EQ(kvtest::ReadFile(dir + "/a#b?c%d.txt"), "attached text");
  // A hotspot whose file the note lacks keeps its link; the file after it is written.
  std::remove((dir + "/a#b?c%d.txt").c_str());
  Attachment("missing.txt", "missing.txt");
  Attachment("a#b?c%d.txt", "a#b?c%d.txt");
  ASSERT_EQ(session.PreprocessXMLProperties(ctx, kOutputXhtml, nullptr, options.c_str()), NN_OK);
  const std::string out = Render();
  EXPECT_NE(out.find("<a href=\"./missing.txt\">file</a><a href=\"./a%23b%3Fc%25d.txt\">"),
            std::string::npos) << out;
  EXPECT_EQ(kvtest::ReadFile(dir + "/a#b?c%d.txt"), "attached text");
  kvtest::RemoveTree(dir);
}

TEST_F(LinkUrlTest, LinkUrlsStandAsWrittenUnlessEncodingIsAsked) {
  Add(HotspotBegin(11, 0x1000, std::string("http://h/a b\\c.html?x=1&y=2\0", 28)));
  Add(Text("go"));
  Add(HotspotEnd());
  Context()->optionString = "";
  EXPECT_EQ(Render(), "<a href=\"http://h/a b\\c.html?x=1&amp;y=2\">go</a>");
  Reset();
  ctx->optionString = "URLEncodeFilenames=Yes";
  EXPECT_EQ(Render(), "<a href=\"http://h/a%20b/c.html?x=1&amp;y=2\">go</a>");
}

TEST_F(LinkUrlTest, FormActionStaysOnThisSite) {
  OpenExample();
  NnIniSet("Directory", "/nowhere/data");
  ASSERT_EQ(session.PreprocessXMLProperties(ctx, kOutputXhtml, nullptr, "FormName=Reply"), NN_OK);
  ASSERT_EQ(WriteBodyOpening(ctx), NN_OK);
  const std::string out = ctx->outputBuffer;
  EXPECT_NE(out.find("<form method=\"post\" action=\"/sample.dxl/?CreateDocument\" name=\"_Reply\">"),
            std::string::npos)
      << out;
}

// A link-target record of kind 2 holding its link inline, then an anchor name.
Bytes DocumentTarget(const std::string& anchor) {
  Bytes r = WordRecord(0xFFF6, 28);
  Put32(r, 4, 0x2);
  Put16(r, 8, 2);
  Put16(r, 12, uint16_t(anchor.size()));
  Bytes link(40, 0);
  for (int i = 0; i < 8; ++i) link[size_t(i)] = uint8_t(0x11 * (i + 1));  // replica
  link[8] = 0x01;                                                        // a view
  link[24] = 0x02;                                                       // a note
  r.insert(r.end(), link.begin(), link.end());
  PutText(r, r.size(), anchor);
  return Sized(r);
}

TEST_F(LinkUrlTest, DocumentLinkTargetWrapsTheHotspotText) {
  Add(HotspotBegin(0, 0, "", 0xFF7E));
  Add(DocumentTarget("part<2>"));
  Add(Text("see it"));
  Add(HotspotEnd(0x007F));
  Add(Text(" after"));
  std::string out = Render();
  EXPECT_EQ(out,
            "<a href=\"notes:///8877665544332211/00000000000000010000000000000000/"
            "00000000000000020000000000000000#part%3C2%3E\" class=\"doclink\">see it</a> after")
      << out;
  EXPECT_TRUE(ParsesAsXml(out));
  // The element's own class replaces the link's; a wiki class without a wiki
  // prefix is an ordinary document link.
  NewList();
  Add(HotspotBegin(0, 0, "", 0xFF7E));
  Add(DocumentTarget(""));
  Add(IdName({"", "WikiLink", "", "Home"}));
  Add(Text("Home"));
  Add(HotspotEnd(0x007F));
  out = Render();
  EXPECT_EQ(out.rfind("<a href=\"notes:///8877665544332211/", 0), 0u) << out;
  EXPECT_NE(out.find("\" class=\"WikiLink\" title=\"Home\">Home</a>"), std::string::npos) << out;
  EXPECT_TRUE(ParsesAsXml(out));
}

TEST_F(LinkUrlTest, WikiLinksResolveUnderThePrefixOption) {
  NnHandle formula = 0;
  uint16_t length = 0, errorOffset = 0, errorLength = 0;
  ASSERT_EQ(NnFormulaCompile("1", 1, &formula, &length, &errorOffset, &errorLength), NN_OK);
  const std::string compiled(static_cast<const char*>(NnMemLock(formula)), length);
  NnMemUnlock(formula);
  NnMemFree(formula);
  Add(HotspotBegin(2, 0x10, compiled));
  Add(IdName({"", "WikiLink", "", "New Page"}));
  Add(Text("New Page"));
  Add(HotspotEnd());
  // Without the option the action is shown as a disabled one (the preset),
  // its attributes on a span around its content.
  const char* disabled =
      "<span class=\"WikiLink\" title=\"New Page\">New Page (disabled script)</span>";
  ASSERT_EQ(session.PreprocessXMLProperties(Context(), kOutputXhtml, nullptr, ""), NN_OK);
  EXPECT_EQ(Render(), disabled);
  Reset();
  ASSERT_EQ(session.PreprocessXMLProperties(
                ctx, kOutputXhtml, nullptr, "WikiURLPrefix=//wiki.example/w.nsf/Page?OpenForm&Subject="),
            NN_OK);
  EXPECT_EQ(Render(),
            "<a href=\"http://wiki.example/w.nsf/Page?OpenForm&amp;Subject=New+Page\" "
            "class=\"WikiLink\" target=\"_top\">New Page</a>");
  // A prefix that is no network-path reference is not taken.
  Reset();
  ASSERT_EQ(session.PreprocessXMLProperties(ctx, kOutputXhtml, nullptr,
                                            "WikiURLPrefix=javascript:alert(1)//"),
            NN_OK);
  EXPECT_EQ(Render(), disabled);
}

TEST_F(LinkUrlTest, MimeOutputToAFileCarriesOnlyFilesOnDiskAndNames) {
  Attachment("a.txt", "a.txt");
  RenderContext* c = Context();
  c->mimeRender = 1;
  c->basePathname = POOL_STRDUP(&session, "/tmp/page.eml");
  c->attachmentHandling = 1;
  EXPECT_EQ(Render(), "");
  Reset();
  c->attachmentHandling = 8;
  EXPECT_EQ(Render(), "");
  Reset();
  c->attachmentHandling = 4;
  EXPECT_EQ(Render(), "<i>(See attached file: 'a.txt')</i>file");
  // Without an output file the link is written.
  Reset();
  PoolFree(&session, c->basePathname);
  c->basePathname = nullptr;
  c->attachmentHandling = 1;
  EXPECT_EQ(Render().rfind("<a href=\"/", 0), 0u);
}

}  // namespace
}  // namespace elements
