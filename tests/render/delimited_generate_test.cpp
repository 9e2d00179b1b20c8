// "MarkDelimitedHTML=" through the chunk's generators: typed "[<" ... ">]"
// runs reach the page as filtered markup, none of it live script, the item's
// records stay as they were; and a hostile document (script vectors, markers,
// unended and crossing delimiters, hostile attachment names) changes only its
// own page, in every output.
#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "collection.h"
#include "host/base64.h"
#include "host/pool.h"
#include "host/zip/zipstor.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A text run in the stored layout, padded to an even length.
void AddRun(Bytes* body, const std::string& text) {
  const uint16_t length = uint16_t(8 + text.size());
  const uint8_t header[8] = {0x85, 0xFF, uint8_t(length & 0xFF), uint8_t(length >> 8), 1, 0, 0, 10};
  body->insert(body->end(), header, header + 8);
  body->insert(body->end(), text.begin(), text.end());
  if (body->size() % 2) body->push_back(0);
}

// A paragraph as stored: a paragraph mark, the reference to definition 1, its runs.
void AddParagraph(Bytes* body, const std::vector<std::string>& runs) {
  body->insert(body->end(), {0x81, 0x02, 0x83, 0x04, 0x01, 0x00});
  for (const std::string& run : runs) AddRun(body, NnUtf8ToLmbcs(run.data(), run.size()));
}

std::string Dxl(const Bytes& body) {
  return "<?xml version='1.0' encoding='utf-8'?>\n"
         "<note class='document' xmlns='http://www.lotus.com/dxl' version='12.0'>\n"
         "<noteinfo noteid='8fa' unid='5A1B2C3D4E5F60718293A4B5C6D7E8F1'/>\n"
         "<item name='Body'><rawitemdata type='1'>" +
         kv::Base64Encode(body.data(), body.size()) + "</rawitemdata></item>\n</note>\n";
}

// What in the page, parsed as its readers parse it (XHTML as XML, which must
// succeed), would run script, load a document or send a form.
std::string LiveIn(const std::string& page, bool xhtml) {
  using std::regex;
  static const regex element("script|i?frame|frameset|object|embed|applet|form|base|svg|math|link"),
      url("href|src|action|formaction|data|background|poster|srcdoc"),
      scheme("^(javascript|vbscript|data):", regex::icase),
      style("expression|javascript|behavior|binding|@import", regex::icase);
  if (xhtml && !kvtest::ParsesAsXml(page)) return "the page does not parse";
  std::string found;
  for (const kvtest::PageElement& e : kvtest::PageElements(page, !xhtml)) {
    if (regex_match(e.name, element) || (e.name == "style" && regex_search(e.text, style)))
      found += e.name + "\n";
    for (const auto& [attr, raw] : e.attributes) {
      std::string value;  // browsers drop blanks and controls inside a scheme
      for (const char c : raw)
        if (static_cast<unsigned char>(c) > 0x20) value += c;
      if (attr.rfind("on", 0) == 0 || (attr == "style" && regex_search(value, style)) ||
          (regex_match(attr, url) && regex_search(value, scheme) &&
           !(e.name == "img" && regex_search(value, regex("^data:image/(png|gif|jpeg);")))) ||
          (attr == "http-equiv" && strcasecmp(value.c_str(), "content-type")))
        found += e.name + " " + attr + "=" + value + "\n";
    }
  }
  return found;
}

class DelimitedGenerateTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = kvtest::MakeTempDir(); }
  void Open(const Bytes& body) {
    path_ = dir_ + "/delimited.dxl";
    kvtest::WriteFile(path_, Dxl(body));
    ASSERT_EQ(NnDbOpen(path_.c_str(), 0, &db_), NN_OK);
    NOTEID id = 0;
    ASSERT_EQ(NnDbNoteIdAt(db_, 0, &id), NN_OK);
    ASSERT_EQ(NnNoteOpen(db_, id, 0, &note_), NN_OK);
    item_ = std::make_unique<TorvoRTItem>(&session_);
    ASSERT_EQ(item_->ConnectBackend(db_, note_, "Body"), NN_OK);
    chunk_.reset(item_->DefineChunk(""));
    ASSERT_NE(chunk_, nullptr);
  }
  void TearDown() override {
    chunk_.reset();
    item_.reset();
    if (note_) NnNoteClose(note_);
    if (db_) NnDbClose(db_);
    kvtest::RemoveTree(dir_);
  }
  // The page as XHTML (kind 1), HTML (0), the page part of a MIME message (2)
  // or a package's page (3); HTML and XHTML for `collection` when given.
  std::string Page(const char* options, int kind = 1, TorvoCollection* collection = nullptr) {
    char* text = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(kind == 0   ? chunk_->GenerateHTML(nullptr, options, &text, &length, collection)
              : kind == 1 ? chunk_->GenerateXML(nullptr, options, &text, &length, collection)
              : kind == 2 ? chunk_->GenerateHTMLToMime(options, &text, &length)
                          : chunk_->GenerateHTMLToEPub(nullptr, options, &text, &length),
              NN_OK);
    std::string page = text ? std::string(text, length) : "";
    PoolFree(&session_, text);
    std::vector<uint8_t> html;
    const size_t at = page.find("\r\n\r\n", page.find("Content-Type: text/html"));
    if (kind == 2 && kvtest::DecodeBase64(page.substr(at, page.find("--", at) - at), &html))
      page.assign(html.begin(), html.end());
    return page;
  }
  std::string Records() {
    std::string out;
    for (RTRecordNode* n = item_->context->records ? item_->context->records->first : nullptr; n;
         n = n->next)
      out += std::to_string(n->signature) + ":" +
             std::string(reinterpret_cast<char*>(n->data), n->length) + "|";
    return out;
  }
  LSXLsiSession session_;
  std::string dir_, path_;
  NnHandle db_ = 0, note_ = 0;
  std::unique_ptr<TorvoRTItem> item_;
  std::unique_ptr<TorvoRTChunk> chunk_;
};

TEST_F(DelimitedGenerateTest, MarkedRunsBecomePassThroughMarkup) {
  Bytes body = {0x81, 0x02};
  for (const char* run : {"before ", "[<", "b>bold</b", ">]", " after"}) AddRun(&body, run);
  Open(body);
  const std::string plain = Page("");
  EXPECT_NE(plain.find("[&lt;b&gt;bold&lt;/b&gt;]"), std::string::npos) << plain;
  const std::string before = Records();
  const std::string page = Page("MarkDelimitedHTML=Yes");
  EXPECT_NE(page.find("<!--PassthruStart--><!--DelimitedStart--><b>bold</b><!--DelimitedEnd-->"
                      "<!--PassthruEnd-->"),
            std::string::npos)
      << page;
  EXPECT_EQ(Records(), before);
  const std::string own =
      Page("MarkDelimitedHTML=Yes DelimitedHTMLStart=<!--s--> DelimitedHTMLEnd=<!--e-->");
  EXPECT_NE(own.find("<!--PassthruStart--><!--s--><b>bold</b><!--e--><!--PassthruEnd-->"),
            std::string::npos)
      << own;
  // A delimiter too long for the work area is refused.
  char* text = nullptr;
  uint32_t length = 0;
  const std::string longer = "MarkDelimitedHTML=Yes DelimitedHTMLStart=" + std::string(60, 'x');
  EXPECT_NE(chunk_->GenerateXML(nullptr, longer.c_str(), &text, &length), NN_OK);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(Records(), before);
}

// A hotspot (word header, type, flags, data) holding one run.
void AddHotspot(Bytes* body, uint16_t type, uint32_t flags, const std::string& data) {
  const uint16_t length = uint16_t(12 + data.size());
  body->insert(body->end(), {0xA9, 0xFF, uint8_t(length), uint8_t(length >> 8), uint8_t(type), 0,
                             uint8_t(flags), uint8_t(flags >> 8), uint8_t(flags >> 16), 0,
                             uint8_t(data.size()), uint8_t(data.size() >> 8)});
  body->insert(body->end(), data.begin(), data.end());
  if (body->size() % 2) body->push_back(0);
  AddRun(body, "shown");
  body->insert(body->end(), {0xAA, 2});
}

// Every script vector, typed as one bracketed run and as delimited runs split
// across records (and paragraphs), in body text and in a table cell; markers
// naming a note of another database (`markers`), a computed text and a file
// that note holds; a "[<" its paragraph never ends and one whose ">]" comes
// after a table; attachment names that climb out of a folder or break markup.
Bytes VectorPage(const std::vector<std::string>& markers = {}) {
  Bytes body = {0x82, 0xFF, 70, 0, 1, 0};  // definition 1: margins of an inch
  body.resize(70, 0);
  body[14] = body[18] = 0xA0, body[15] = body[19] = 0x05;
  for (const char* typed :
       {"script>alert(1)</script", "img src=x onerror=alert(1)",
        "a href=' jav&#x61;script:alert(1)'>a</a><a href='vbscript:x'>v</a",
        "iframe src='http://e.org/'>i</iframe><object data=x></object><embed src=x",
        "form action='javascript:alert(1)'><button formaction='javascript:alert(1)'>f</button></form",
        "meta http-equiv='refresh' content='0;url=javascript:alert(1)'><base href='//e.org/'",
        "div style='x:expression(alert(1))' onmouseover=alert(1)>s</div><style>p{x:expression(1)}</style",
        "svg onload=alert(1)><math><a xlink:href='javascript:alert(1)'>m</a></math",
        "table background='javascript:alert(1)'><tr><td>t</td></tr></table",
        "!--<script>alert(1)</script>--><img src='data:text/html;base64,PHNjcmlwdD4='",
        "b>x &nbsp; y caf\xc3\xa9</b", "b>bold</b"}) {
    AddParagraph(&body, {std::string("[<") + typed + ">]"});
    AddParagraph(&body, {"[<", typed, ">]"});
  }
  for (const std::string& marker : markers) {
    AddParagraph(&body, {marker});
    AddParagraph(&body, {"[<", marker.substr(2, marker.size() - 4), ">]"});
    AddHotspot(&body, 1, 0x40010, kvtest::CompiledFormula("Secret"));
    for (const char* name : {"secret.txt", "a\"b<c&d.pdf", "../../../evil.pdf"})
      AddHotspot(&body, 4, 0, std::string(name) + '\0' + name + '\0');
  }
  AddParagraph(&body, {"[<", "scr"});
  AddParagraph(&body, {"ipt>alert(1)</script", ">]"});
  AddParagraph(&body, {"a ", "[<", "script>x"});
  AddParagraph(&body, {"second paragraph", "[<", "b>x"});
  body.insert(body.end(), {0xA3, 14, 0, 0, 144, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // a table, two cells
  for (const char* cell : {"cellA", "cellB"}) {
    body.insert(body.end(), {0xA4, 18, 0, 0, 0, 0, 0, 0, 0x40, 0x0B, 1, 0, 0, 0, 1, 1, 0, 0});
    AddParagraph(&body, {"[<", "img src=x onerror=alert(1)", ">]", cell});
  }
  body.insert(body.end(), {0xA5, 6, 0, 0, 0, 0});
  AddParagraph(&body, {">]", "last paragraph"});
  AddParagraph(&body, {"[<", "iframe src='http://e.org/'>", "after"});  // never closed
  return body;
}

// The hostile-document sweep: under every option that changes typed text, in
// HTML, XHTML, MIME and package output, for a collection too: nothing is
// live, nothing of another note shows or is written, every text stays in its
// place, every page parses and every package entry stays in its folder.
TEST_F(DelimitedGenerateTest, NoScriptVectorIsLiveUnderAnyTypedTextOption) {
  NnHandle otherDb = 0, other = 0;
  ASSERT_EQ(NnDbOpen((dir_ + "/other.nsf").c_str(), NN_DB_CREATE, &otherDb), NN_OK);
  ASSERT_EQ(NnNoteCreate(otherDb, NN_CLASS_DOCUMENT, &other), NN_OK);
  ASSERT_EQ(NnItemSetText(other, "Secret", "TOPSECRET", 9), NN_OK);
  ASSERT_EQ(NnNoteAttachData(other, "secret.txt", "TOPSECRET", 9), NN_OK);
  ASSERT_EQ(NnNoteUpdate(other, 0), NN_OK);
  ASSERT_EQ(kvtest::UnidText(other).size(), 32u);
  Open(VectorPage({kvtest::DocumentMarker(otherDb, other, 1),
                   "[<!--$hNote=" + std::to_string(other) + "-->]"}));
  TorvoCollection collection(nullptr);
  const std::string disk = "AttachmentHandling=DISK AttachmentDirectory=" + dir_ + "/files";
  for (const std::string& o : std::vector<std::string>{"", "MarkDelimitedHTML=Yes", "SkipPassthru=Yes",
                              "MarkDelimitedHTML=Yes DelimitedHTMLStart=<!--s--> DelimitedHTMLEnd=<!--e-->",
                              "MarkDelimitedHTML=Yes SkipPassthru=Yes StandardFontTags=Yes " + disk,
                              "MarkDelimitedHTML=Yes UseXMLEntities=Yes PreserveSpaces=Yes Translation=Yes"}) {
    for (int kind = 0; kind < 4; ++kind) {
      SCOPED_TRACE(o + " kind " + std::to_string(kind));
      const std::string page = Page(o.c_str(), kind, &collection);
      EXPECT_EQ(LiveIn(page, kind % 2), "") << page;
      EXPECT_EQ(page.find("TOPSECRET"), std::string::npos);
      EXPECT_EQ(item_->hRenderNote, 0u);
      const std::vector<kvtest::PageElement> shown = kvtest::PageElements(page, kind % 2 == 0);
      const std::string text = shown.empty() ? "" : shown[0].text;
      EXPECT_LT(text.find("[<script>x"), text.find("second paragraph")) << text;
      EXPECT_LT(text.find("cellB"), text.find("last paragraph")) << text;
      EXPECT_NE(text.find("last paragraph"), std::string::npos) << text;
      EXPECT_EQ(std::count_if(shown.begin(), shown.end(), [](const kvtest::PageElement& e) {
                  return e.name == "td" && e.text.find("cell") != std::string::npos;
                }), 2) << page;
      // Markup that formats still does; a typed entity and accent read as typed.
      EXPECT_NE(page.find("<b>x &#160; y caf&#233;</b>"), std::string::npos) << page;
      EXPECT_EQ(page.find("--><b>bold</b><!--") != std::string::npos,
                strstr(o.c_str(), "Mark") && !strstr(o.c_str(), "Skip"));
    }
  }
  EXPECT_TRUE(kvtest::FilesBelow(dir_ + "/files").empty());
  // The package: the attachment icons, each entry inside its folder.
  zipstorage zip(&session_);
  session_.globals->epubManifest = static_cast<char*>(POOL_ALLOC(&session_, 4096, true));
  ASSERT_EQ(chunk_->RunFrame(76, 0, 0, 0, 0, "OEBPS/files", nullptr, nullptr, &zip), NN_OK);
  EXPECT_TRUE(kvtest::ParsesAsXml("<m>" + std::string(session_.globals->epubManifest) + "</m>"));
  std::vector<std::string> entries;
  ASSERT_EQ(ZipStorageFinish(&zip), NN_OK);
  ASSERT_EQ(ZipStorageListEntries(&zip, &entries), NN_OK);
  EXPECT_EQ(entries.size(), 6u);
  for (const std::string& entry : entries)
    EXPECT_TRUE(entry.rfind("OEBPS/files/", 0) == 0 && entry.find("/../") == std::string::npos) << entry;
  NnNoteClose(other);
  NnDbClose(otherDb);
}
}  // namespace
