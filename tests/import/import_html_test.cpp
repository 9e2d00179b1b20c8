// The HTML importer through the public classes: HTML imported into an item,
// then rendered through the chunk's generator.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "host/base64.h"
#include "host/pool.h"
#include "import/import.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/compose.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

using kvtest::Count;

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NnDbOpen("mem-import-html.nsf", NN_DB_CREATE, &db), NN_OK);
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
    item = std::make_unique<TorvoRTItem>(&session);
    ASSERT_EQ(item->ConnectBackend(db, note, "Body"), NN_OK);
    ComposeInit(&compose, &session, item.get());
  }
  void TearDown() override {
    ComposeReleaseHandles(&compose, 0);
    chunk.reset();
    item.reset();
    if (note) NnNoteClose(note);
    if (db) NnDbClose(db);
  }

  NnStatus Import(const std::string& html, const char* options = "",
                  const HtmlMimeBody* part = nullptr) {
    return ImportHTMLFromBuffer(html.data(), uint32_t(html.size()), options, &compose, part,
                                part ? 2 : 0);
  }

  // The records composed so far, as signatures.
  std::vector<uint16_t> Signatures() const {
    std::vector<uint16_t> out;
    if (compose.newList)
      for (const RTRecordNode* n = compose.newList->first; n; n = n->next) out.push_back(n->signature);
    return out;
  }
  size_t CountSig(uint16_t sig) const {
    size_t n = 0;
    for (uint16_t s : Signatures()) n += s == sig;
    return n;
  }
  // A fresh composition for the next import.
  void Restart() {
    ComposeReleaseHandles(&compose, 0);
    ComposeInit(&compose, &session, item.get());
  }
  // Every text run, converted to UTF-8.
  std::string Runs() const {
    std::string out;
    if (!compose.newList) return out;
    for (const RTRecordNode* n = compose.newList->first; n; n = n->next)
      if (n->signature == 0xFF85 && n->length >= 8)
        out += NnLmbcsToUtf8(reinterpret_cast<const char*>(n->data + 8), n->length - 8) + "|";
    return out;
  }
  const RTRecordNode* First(uint16_t sig) const {
    for (const RTRecordNode* n = compose.newList ? compose.newList->first : nullptr; n; n = n->next)
      if (n->signature == sig) return n;
    return nullptr;
  }

  // Installs what was composed and renders it as HTML.
  std::string Render() {
    item->InstallRecords(ComposeTakeList(&compose));
    EXPECT_EQ(item->Commit(), NN_OK);
    item->ReleaseRecords();
    chunk.reset(item->DefineChunk(""));
    EXPECT_NE(chunk, nullptr);
    if (!chunk) return std::string();
    char* page = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(chunk->GenerateHTML(nullptr, "", &page, &length), 0);
    std::string out = page ? std::string(page, length) : std::string();
    if (page) PoolFree(&session, page);
    return out;
  }

  LSXLsiSession session;
  NnHandle db = 0, note = 0;
  std::unique_ptr<TorvoRTItem> item;
  std::unique_ptr<TorvoRTChunk> chunk;
  ComposeContext compose;
};

TEST_F(ImportTest, ParagraphsAndStyledRunsRoundTrip) {
  ASSERT_EQ(Import("<p>First <b>bold</b> and <i>italic</i> words.</p>"
                   "<p style='text-align:center'>Second &amp; <u>last</u></p>"),
            NN_OK);
  EXPECT_EQ(CountSig(0x0081), 2u);
  EXPECT_EQ(CountSig(0x0083), 2u);
  EXPECT_EQ(CountSig(0xFF82), 2u);  // left and centred
  EXPECT_EQ(Runs(), "First |bold| and |italic| words.|Second & |last|");
  // The bold run carries the bold attribute.
  std::vector<uint32_t> fonts;
  for (const RTRecordNode* n = compose.newList->first; n; n = n->next)
    if (n->signature == 0xFF85) {
      uint32_t f;
      std::memcpy(&f, n->data + 4, 4);
      fonts.push_back(f);
    }
  ASSERT_EQ(fonts.size(), 7u);
  EXPECT_EQ((fonts[1] >> 8) & 0x01u, 1u);
  EXPECT_EQ((fonts[3] >> 8) & 0x02u, 2u);
  EXPECT_EQ((fonts[6] >> 8) & 0x04u, 4u);
  EXPECT_EQ(fonts[0] & 0xFF00u, 0u);
  std::string page = Render();
  EXPECT_NE(page.find("First "), std::string::npos) << page;
  EXPECT_NE(page.find("bold"), std::string::npos);
  EXPECT_NE(page.find("Second &amp; "), std::string::npos) << page;
  EXPECT_LT(page.find("First"), page.find("Second"));
}

// What a browser shows of form fields and objects stays as text: button
// labels (push buttons written as inputs too), typed values, a text area's
// lines, a list's selected (or first) option, an object's fallback; a
// password, a hidden field and boxes to tick show none.
TEST_F(ImportTest, ButtonLabelsStayAsText) {
  ASSERT_EQ(Import("<p>a <button>Cancel</button> b <button type=\"button\" disabled=\"disabled\">"
                   "<b>Print</b></button></p>"
                   "<p>c <input type=\"SUBMIT\" value=\"Send &amp; go\"> <input type=\"reset\">"
                   " <input type=\"button\"> <input type=\"text\" value=\"typed\"> d</p>"),
            NN_OK);
  EXPECT_EQ(Runs(), "a Cancel b |Print|c Send & go Reset typed d|");
  const std::pair<const char*, std::string> fields[] = {
      {"<p><input value=\"plain\"> <input type=\"password\" value=\"secret\">"
       "<input type=\"hidden\" value=\"h\"><input type=\"checkbox\" value=\"c\"></p>",
       "plain |"},
      {"<p><textarea>line one\nline two</textarea></p>", std::string("line one\0line two|", 18)},
      {"<p><select><option>first</option><option selected>chosen</option></select></p>",
       "chosen|"},
      {"<p><select><optgroup><option>first</option></optgroup><option>next</option></select></p>",
       "first|"},
      {"<p><object data=\"x.swf\"><param name=\"a\" value=\"b\">fallback</object></p>",
       "fallback|"},
  };
  for (const auto& [html, runs] : fields) {
    Restart();
    ASSERT_EQ(Import(html), NN_OK) << html;
    EXPECT_EQ(Runs(), runs) << html;
  }
}

// The document's declared character set reads its bytes, unless the options
// name one ("Charset=", a name it does not know refused); UTF-8 without either.
TEST_F(ImportTest, DeclaredCharsetReadsTheBytes) {
  const std::string latin = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                            "charset=iso-8859-1\"></head><body><p>caf\xe9</p></body></html>";
  const std::tuple<std::string, const char*, NnStatus, const char*> cases[] = {
      {latin, "", NN_OK, "caf\xc3\xa9|"},
      {"<meta charset=\"windows-1252\"><p>\x80 5</p>", "", NN_OK, "\xe2\x82\xac 5|"},
      {"<p>caf\xc3\xa9</p>", "", NN_OK, "caf\xc3\xa9|"},
      {"<meta charset=\"iso-8859-1\"><p>caf\xc3\xa9</p>", "Charset=utf-8", NN_OK, "caf\xc3\xa9|"},
      {"<p>x</p>", "Charset=klingon", NN_ERR_INVALID_ARG, ""},
  };
  for (const auto& [html, options, status, runs] : cases) {
    Restart();
    ASSERT_EQ(Import(html, options), status) << html;
    EXPECT_EQ(Runs(), runs) << html;
  }
  // The same from a file.
  const std::string dir = kvtest::MakeTempDir();
  kvtest::WriteFile(dir + "/latin.htm", latin);
  Restart();
  EXPECT_EQ(ImportHTMLFromFile((dir + "/latin.htm").c_str(), "", &compose), NN_OK);
  kvtest::RemoveTree(dir);
  EXPECT_EQ(Runs(), "caf\xc3\xa9|");
}

// A rule keeps its width (a percentage, or pixels as twips) and its size;
// the record's flag 0x4 marks a percentage. The page shows both again.
TEST_F(ImportTest, RulesKeepTheirWidthAndSize) {
  ASSERT_EQ(Import("<hr width=\"50%\" size=\"5\"><hr width=\"300px\" size=\"1\">"
                   "<hr style=\"width: 40%; height: 3px\"><hr width=\"2em\"><hr>"),
            NN_OK);
  std::vector<std::vector<uint32_t>> rules;  // flags, width, height
  for (const RTRecordNode* n = compose.newList->first; n; n = n->next)
    if (n->signature == 0xFFC9) {
      uint32_t flags = 0;
      uint16_t width = 0, height = 0;
      std::memcpy(&flags, n->data + 4, 4);
      std::memcpy(&width, n->data + 8, 2);
      std::memcpy(&height, n->data + 10, 2);
      rules.push_back({flags & 0x4, width, height});
    }
  EXPECT_EQ(rules, (std::vector<std::vector<uint32_t>>{
                       {4, 50, 75}, {0, 4500, 15}, {4, 40, 45}, {4, 100, 30}, {4, 100, 30}}));
  const std::string page = Render();
  EXPECT_NE(page.find("width: 50%;height: 5px;"), std::string::npos) << page;
  EXPECT_NE(page.find("width: 300px;height: 1px;"), std::string::npos) << page;
}

TEST_F(ImportTest, WhiteSpaceCollapsesAndBreaksBecomeNuls) {
  ASSERT_EQ(Import("<div>  one\n\n   two <br> three  </div>"), NN_OK);
  std::string runs = Runs();
  EXPECT_EQ(runs, std::string("one two\0three|", 14));
  std::string page = Render();
  EXPECT_NE(page.find("<br"), std::string::npos) << page;
}

TEST_F(ImportTest, ListsBecomeBulletAndNumberParagraphs) {
  ASSERT_EQ(Import("<ul><li>apples</li><li>pears</li></ul><ol><li>open</li><li>close</li></ol>"),
            NN_OK);
  // One definition per list kind, reused by its items.
  EXPECT_EQ(CountSig(0xFF82), 2u);
  std::string page = Render();
  ASSERT_NE(page.find("<ul"), std::string::npos) << page;
  ASSERT_NE(page.find("<ol"), std::string::npos) << page;
  EXPECT_EQ(Count(page, "<li"), 4u) << page;
  EXPECT_LT(page.find("<ul"), page.find("apples"));
  EXPECT_LT(page.find("pears"), page.find("<ol"));
  EXPECT_LT(page.find("<ol"), page.find("close"));
}

TEST_F(ImportTest, TablesKeepRowsColumnsAndSpans) {
  ASSERT_EQ(Import("<p>before</p><table><tr><th>Name</th><th>Value</th></tr>"
                   "<tr><td colspan=2>wide</td></tr><tr><td rowspan=2>tall</td><td>a</td></tr>"
                   "<tr><td>b</td></tr></table><p>after</p>"),
            NN_OK);
  EXPECT_EQ(CountSig(0x00A3), 1u);
  EXPECT_EQ(CountSig(0x00A4), 6u);
  EXPECT_EQ(CountSig(0x00A5), 1u);
  std::vector<std::vector<uint8_t>> cells;
  for (const RTRecordNode* n = compose.newList->first; n; n = n->next)
    if (n->signature == 0x00A4) cells.emplace_back(n->data, n->data + n->length);
  ASSERT_EQ(cells.size(), 6u);
  // row, column, row span, column span
  auto check = [&](size_t i, int row, int col, int rs, int cs) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cells[i][2], row);
    EXPECT_EQ(cells[i][3], col);
    EXPECT_EQ(cells[i][14], rs);
    EXPECT_EQ(cells[i][15], cs);
  };
  check(0, 0, 0, 1, 1);
  check(1, 0, 1, 1, 1);
  check(2, 1, 0, 1, 2);
  check(3, 2, 0, 2, 1);
  check(4, 2, 1, 1, 1);
  check(5, 3, 1, 1, 1);  // column 0 is covered by the cell above
  std::string page = Render();
  // The table fits the window, its columns in the shares the HTML gave.
  EXPECT_NE(page.find("<table style=\"border-collapse:collapse;width:100%;\""), std::string::npos)
      << page;
  EXPECT_EQ(Count(page, "<td"), 6u) << page;
  EXPECT_LT(page.find("before"), page.find("<table"));
  EXPECT_LT(page.find("</table>"), page.find("after"));
  EXPECT_NE(page.find("wide"), std::string::npos);
}

TEST_F(ImportTest, NestedTablesUseNestedRecords) {
  ASSERT_EQ(Import("<table><tr><td>outer<table><tr><td>inner</td></tr></table></td></tr></table>"),
            NN_OK);
  EXPECT_EQ(CountSig(0x00A3), 1u);
  EXPECT_EQ(CountSig(0x00CF), 1u);
  EXPECT_EQ(CountSig(0x00D0), 1u);
  EXPECT_EQ(CountSig(0x00D1), 1u);
  std::string page = Render();
  EXPECT_EQ(Count(page, "<table"), 2u) << page;
  EXPECT_LT(page.find("outer"), page.find("inner"));
}

TEST_F(ImportTest, LinksBecomeUrlHotspots) {
  ASSERT_EQ(Import("<p>see <a href='https://example.org/a?b=1&amp;c=2'>the page</a> now "
                   "<a name='here'>target</a></p>"),
            NN_OK);
  const RTRecordNode* hotspot = First(0xFFA9);
  ASSERT_NE(hotspot, nullptr);
  uint16_t type = 0, dataLength = 0;
  std::memcpy(&type, hotspot->data + 4, 2);
  std::memcpy(&dataLength, hotspot->data + 12, 2);
  EXPECT_EQ(type, 11);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(hotspot->data + 16), dataLength),
            std::string("https://example.org/a?b=1&c=2\0", 30));
  EXPECT_EQ(CountSig(0x00AA), 1u);
  EXPECT_EQ(CountSig(0xFFCB), 1u);
  std::string page = Render();
  EXPECT_NE(page.find("<a href=\"https://example.org/a?b=1&amp;c=2\""), std::string::npos) << page;
  EXPECT_LT(page.find("<a href"), page.find("the page"));
  EXPECT_LT(page.find("the page"), page.find("</a>"));
}

TEST_F(ImportTest, HostileHtmlGivesNoActiveContent) {
  const std::string html =
      "<p onclick='evil()'>text<script>alert('s')</script><style>p{color:red}</style>"
      "<a href='javascript:alert(1)'>js</a> <a href=' JaVaScRiPt:alert(2)'>js2</a>"
      "<a href='java&#09;script:alert(3)'>js3</a><a href='vbscript:msgbox'>vb</a>"
      "<a href='data:text/html,<script>x</script>'>data</a>"
      "<iframe src='http://evil/'>frame</iframe><object data='x'>obj</object>"
      "<img src='javascript:alert(4)' onerror='alert(5)'>"
      "<span style='background:url(javascript:alert(6))'>styled</span></p>";
  ASSERT_EQ(Import(html), NN_OK);
  EXPECT_EQ(CountSig(0xFFA9), 0u);
  EXPECT_EQ(CountSig(0x0099), 0u);
  std::string runs = Runs();
  EXPECT_EQ(runs.find("alert"), std::string::npos) << runs;
  EXPECT_EQ(runs.find("color:red"), std::string::npos) << runs;
  EXPECT_EQ(runs.find("frame"), std::string::npos) << runs;
  EXPECT_NE(runs.find("js2"), std::string::npos) << runs;  // the link text stays as text
  std::string page = Render();
  EXPECT_EQ(page.find("<script"), std::string::npos) << page;
  EXPECT_EQ(page.find("javascript"), std::string::npos) << page;
  EXPECT_EQ(page.find("onclick"), std::string::npos) << page;
  EXPECT_EQ(page.find("<iframe"), std::string::npos) << page;
}

TEST_F(ImportTest, DeepNestingIsBoundedAndKeepsTheText) {
  std::string html;
  for (int i = 0; i < 60000; ++i) html += "<table><tr><td>";
  html += "deep";
  ASSERT_EQ(Import(html), NN_OK);
  EXPECT_NE(Runs().find("deep"), std::string::npos);
  std::string spans;
  for (int i = 0; i < 20000; ++i) spans += "<span><b>";
  spans += "bottom";
  ComposeReleaseHandles(&compose, 0);
  ComposeInit(&compose, &session, item.get());
  ASSERT_EQ(Import(spans), NN_OK);
  EXPECT_NE(Runs().find("bottom"), std::string::npos);
}

TEST_F(ImportTest, DataUriImagesBecomeGraphics) {
  // A 1x1 GIF and a PNG of 3x2 (its header is enough for the size).
  const std::string gif = "R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7";
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13,
                              'I', 'H', 'D', 'R', 0, 0, 0, 3, 0, 0, 0, 2, 8, 6, 0, 0, 0};
  std::string html = "<p>pic <img src='data:image/gif;base64," + gif + "' alt='dot'>" +
                     "<img src='data:image/png;base64," + kv::Base64Encode(png.data(), png.size()) +
                     "' width=30><img src='http://remote/x.png'><img src='data:image/gif;base64,!!'></p>";
  ASSERT_EQ(Import(html), NN_OK);
  EXPECT_EQ(CountSig(0x0099), 2u);
  EXPECT_EQ(CountSig(0x007D), 2u);
  EXPECT_EQ(CountSig(0x007C), 2u);
  EXPECT_EQ(CountSig(0xFFCA), 1u);
  // The second image: type 4 (PNG), natural 3x2, shown 30x20.
  const RTRecordNode* n = compose.newList->first;
  std::vector<const RTRecordNode*> headers, graphics;
  for (; n; n = n->next) {
    if (n->signature == 0x007D) headers.push_back(n);
    if (n->signature == 0x0099) graphics.push_back(n);
  }
  uint16_t v = 0;
  std::memcpy(&v, headers[1]->data + 8, 2);
  EXPECT_EQ(v, 4);
  std::memcpy(&v, headers[1]->data + 10, 2);
  EXPECT_EQ(v, 3);
  std::memcpy(&v, graphics[1]->data + 8, 2);
  EXPECT_EQ(v, 30);
  std::memcpy(&v, graphics[1]->data + 10, 2);
  EXPECT_EQ(v, 20);
  std::string page = Render();
  EXPECT_EQ(Count(page, "<img"), 2u) << page;
  EXPECT_NE(page.find("dot"), std::string::npos);
}

TEST_F(ImportTest, CidImagesComeFromTheMimePart) {
  const std::string gif64 = "R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7";
  std::vector<uint8_t> gif(64);
  gif.resize(kv::Base64DecodeBuffer(gif64.c_str(), gif.data(), uint32_t(gif.size())));
  HtmlMimeBody* part = MimeBodyCreate("image/GIF", nullptr, "<img1@x>", gif.data(), uint32_t(gif.size()));
  ASSERT_NE(part, nullptr);
  EXPECT_STREQ(part->contentType, "image/gif");
  EXPECT_STREQ(part->contentId, "img1@x");
  ASSERT_EQ(Import("<p><img src='cid:img1@x'><img src='cid:other'></p>", "", part), NN_OK);
  EXPECT_EQ(CountSig(0x0099), 1u);
  // Without the part (mode 0) the reference is left out.
  ASSERT_EQ(ImportHTMLFromBuffer("<p><img src='cid:img1@x'></p>", 0, "", &compose, part, 0), NN_OK);
  EXPECT_EQ(CountSig(0x0099), 1u);
  MimeBodyListFree(part);
}

TEST_F(ImportTest, PendingMimeBodiesImportHtmlAndText) {
  HtmlMimeBody* bodies = nullptr;
  const char html[] = "<p>from <b>html</b></p>";
  const char text[] = "plain line\nsecond";
  MimeBodyAppend(&bodies, MimeBodyCreate("text/html", "utf-8", nullptr, html, sizeof html - 1));
  MimeBodyAppend(&bodies, MimeBodyCreate("text/plain", nullptr, nullptr, text, sizeof text - 1));
  MimeBodyAppend(&bodies, MimeBodyCreate("application/pdf", nullptr, nullptr, "x", 1));
  ASSERT_EQ(ImportPendingMimeBodies(bodies, nullptr, "", &compose), NN_OK);
  EXPECT_EQ(Runs(), "from |html|plain line|second|");
  MimeBodyListFree(bodies);
  // Nothing importable: nothing appended.
  ComposeReleaseHandles(&compose, 0);
  ComposeInit(&compose, &session, item.get());
  EXPECT_EQ(ImportPendingMimeBodies(nullptr, nullptr, "", &compose), NN_OK);
  EXPECT_TRUE(Signatures().empty());
}

TEST_F(ImportTest, FailuresLeaveTheCompositionAsItWas) {
  ASSERT_EQ(Import("<p>kept</p>"), NN_OK);
  const size_t before = Signatures().size();
  EXPECT_EQ(ImportHTMLFromFile("/nonexistent/file.htm", "", &compose), NN_ERR_FILE_NOT_FOUND);
  EXPECT_EQ(ImportHTMLFromBuffer(nullptr, 0, "", &compose, nullptr, 0), NN_ERR_INVALID_ARG);
  EXPECT_EQ(ImportHTMLFromBuffer("<p>x</p>", 0, "", nullptr, nullptr, 0), NN_ERR_INVALID_ARG);
  EXPECT_EQ(Signatures().size(), before);
  EXPECT_EQ(Runs(), "kept|");
}

TEST_F(ImportTest, FilesAreReadAndFontsFollowOptions) {
  std::string dir = kvtest::MakeTempDir();
  std::string file = dir + "/page.htm";
  kvtest::WriteFile(file, "<html><head><title>T</title></head><body><h1>Head</h1>"
                          "<pre>a  b\n c</pre><font face='Courier New' size=5 color='#ff0000'>red</font>"
                          "</body></html>");
  ASSERT_EQ(ImportHTMLFromFile(file.c_str(), "Font=Arial", &compose), NN_OK);
  kvtest::RemoveTree(dir);
  EXPECT_EQ(Runs(), std::string("Head|a  b\0 c|red|", 17));
  std::vector<uint32_t> fonts;
  for (const RTRecordNode* n = compose.newList->first; n; n = n->next)
    if (n->signature == 0xFF85) {
      uint32_t f;
      std::memcpy(&f, n->data + 4, 4);
      fonts.push_back(f);
    }
  ASSERT_EQ(fonts.size(), 3u);
  EXPECT_EQ(fonts[0] & 0xFFu, 1u);          // Arial from the options
  EXPECT_EQ(fonts[0] >> 24, 24u);           // h1
  EXPECT_EQ((fonts[0] >> 8) & 1u, 1u);      // bold
  EXPECT_EQ(fonts[1] & 0xFFu, 4u);          // pre: Courier
  EXPECT_EQ(fonts[2] & 0xFFu, 4u);
  EXPECT_EQ(fonts[2] >> 24, 18u);           // size 5
  EXPECT_NE((fonts[2] >> 16) & 0xFFu, 0u);  // a colour
}

}  // namespace

namespace {

// Every prefix of a document with every kind of construct, and scrambled
// markup: whatever is cut or broken imports without a fault.
TEST_F(ImportTest, BrokenAndTruncatedMarkupImportsSafely) {
  const std::string doc =
      "<!DOCTYPE html><html><head><style>x{}</style><script>var a='</p>';</script></head><body>"
      "<!-- note --><p align=right>a<b>b<i>c</b>d</i><a href=\"http://x/?q='1'\" name=n>e</a>"
      "<table><caption>cap</caption><tr><td colspan=300 rowspan=999>f<td>g</tr></table>"
      "<ul><li>h<ol><li>i</ol></ul><pre>\n j\r\n k</pre><img src=\"data:image/gif;base64,R0lGOD"
      "lhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7\" width=5000000><hr><br/>"
      "<font size=+9 color=rgb(1,2,3) face=\"'Fancy Face', serif\">l</font>&#x10FFFF;&#0;&bogus;"
      "<span style=\"font-size:1000px;font-weight:900;color:#zzz\">m</span></body></html>";
  for (size_t n = 0; n <= doc.size(); n += 7) {
    ComposeReleaseHandles(&compose, 0);
    ComposeInit(&compose, &session, item.get());
    ASSERT_EQ(Import(doc.substr(0, n)), NN_OK) << n;
  }
  uint32_t seed = 12345;
  std::string junk;
  const char alphabet[] = "<>/=\"' abtdrlipx-!&#;:\n\0\xC3\xFF";
  for (int round = 0; round < 30; ++round) {
    junk.clear();
    for (int i = 0; i < 400; ++i) {
      seed = seed * 1103515245u + 12345u;
      junk += alphabet[(seed >> 16) % (sizeof alphabet - 1)];
    }
    ComposeReleaseHandles(&compose, 0);
    ComposeInit(&compose, &session, item.get());
    ASSERT_EQ(Import(junk), NN_OK) << round;
  }
}

}  // namespace
