// End to end: items rendered through the chunk's generators, checked as pages.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <strings.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <regex>
#include <set>

#include "host/pool.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "render/render.h"
#include "render/rendercontext.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

using kvtest::Count;

std::string Example() { return std::string(KV_SOURCE_DIR) + "/examples/sample.dxl"; }

// ---- pages ----------------------------------------------------------------------

struct Page {
  NnStatus status = 0;
  std::string text;
};

Page Generate(TorvoRTChunk* chunk, bool xhtml, const char* options = "") {
  Page page;
  char* text = nullptr;
  uint32_t length = 0;
  page.status = xhtml ? chunk->GenerateXML(nullptr, options, &text, &length)
                      : chunk->GenerateHTML(nullptr, options, &text, &length);
  if (text) {
    page.text.assign(text, length);
    PoolFree(chunk->session, text);
  }
  return page;
}

using XmlDoc = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

XmlDoc ParseXml(const std::string& text) {
  return XmlDoc(xmlReadMemory(text.data(), int(text.size()), "page.xhtml", nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
                xmlFreeDoc);
}

std::string TextContent(xmlDoc* doc) {
  xmlChar* content = xmlNodeGetContent(xmlDocGetRootElement(doc));
  std::string out = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return out;
}

// The text a reader sees, in lower case: every text but that of scripts and styles.
void AppendShownText(xmlNode* node, std::string* out) {
  for (; node; node = node->next) {
    if ((node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) && node->content)
      for (const xmlChar* c = node->content; *c; ++c) *out += char(std::tolower(*c));
    else if (node->type == XML_ELEMENT_NODE && !xmlStrEqual(node->name, BAD_CAST "script") &&
             !xmlStrEqual(node->name, BAD_CAST "style"))
      AppendShownText(node->children, out);
  }
}

// Characters other than white space (a no-break space counts as white space).
std::string Visible(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c <= 0x20) continue;
    if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0xA0) {
      ++i;
      continue;
    }
    out += char(c);
  }
  return out;
}

// True when every character of `needle` appears in `hay` in the same order.
bool InOrder(const std::string& needle, const std::string& hay, size_t* stoppedAt) {
  size_t h = 0;
  for (size_t n = 0; n < needle.size(); ++n) {
    while (h < hay.size() && hay[h] != needle[n]) ++h;
    if (h == hay.size()) {
      *stoppedAt = n;
      return false;
    }
    ++h;
  }
  return true;
}

// Elements and attributes a document must never bring into the page (XHTML).
void ExpectNoScript(const std::string& page, const std::string& where) {
  for (const kvtest::PageElement& e : kvtest::PageElements(page)) {
    for (const char* live : {"script", "iframe", "object"})
      EXPECT_NE(strcasecmp(e.name.c_str(), live), 0) << where;
    for (const auto& [attr, v] : e.attributes) {
      EXPECT_NE(strncasecmp(attr.c_str(), "on", 2), 0)
          << where << ": attribute " << attr << " on " << e.name;
      std::string compact;
      for (char c : v)
        if (static_cast<unsigned char>(c) > 0x20) compact += char(std::tolower(c));
      EXPECT_NE(compact.rfind("javascript:", 0), 0u) << where << ": " << attr << "=" << v;
      EXPECT_NE(compact.rfind("vbscript:", 0), 0u) << where << ": " << attr << "=" << v;
      EXPECT_EQ(compact.find("expression("), std::string::npos) << where << ": " << v;
    }
  }
}

// ---- an open document --------------------------------------------------------------

class OpenItem {
 public:
  OpenItem(NnHandle db, NOTEID id, const std::string& name, const std::string& definition = "") {
    if (NnNoteOpen(db, id, 0, &note_) != NN_OK) return;
    item_ = std::make_unique<TorvoRTItem>(&session_);
    if (item_->ConnectBackend(db, note_, name.c_str()) != NN_OK) return;
    chunk_.reset(item_->DefineChunk(definition.c_str()));
    exists_ = chunk_ && (definition.empty() || chunk_->Exists());
  }
  ~OpenItem() {
    chunk_.reset();
    item_.reset();
    if (note_) NnNoteClose(note_);
  }
  TorvoRTChunk* chunk() { return chunk_.get(); }
  LSXLsiSession* session() { return &session_; }
  // The definition names a target of the item (the whole item always exists).
  bool exists() const { return exists_; }

  // The texts of the runs in the pass-through blocks of the item as the
  // render loaded it, as Visible().
  std::vector<std::string> PassthruRuns() {
    std::vector<std::string> out;
    bool inside = false;
    for (const RTRecordNode* n = item_->context->records ? item_->context->records->first : nullptr;
         n; n = n->next) {
      inside = n->signature == 0xFFCC || (inside && n->signature != 0xFFCD);
      if (inside && n->signature == 0xFF85 && n->length > 8)
        out.push_back(Visible(NnLmbcsToUtf8(reinterpret_cast<const char*>(n->data) + 8, n->length - 8)));
    }
    return out;
  }
  // Every text run of the item, in order, as UTF-8.
  std::string Runs() {
    std::vector<char> buffer(kResultTextSize + 1);
    unsigned long n = chunk_->GetText("", buffer.data(), buffer.size(), 1, "");
    return NnLmbcsToUtf8(buffer.data(), n);
  }

 private:
  LSXLsiSession session_;
  NnHandle note_ = 0;
  std::unique_ptr<TorvoRTItem> item_;
  std::unique_ptr<TorvoRTChunk> chunk_;
  bool exists_ = false;
};

struct ItemRef {
  std::string file;
  NOTEID id;
  std::string name;
};

std::vector<ItemRef> RichTextItems(NnHandle db, const std::string& file) {
  std::vector<ItemRef> items;
  for (const kvtest::RichTextItemRef& r : kvtest::RichTextItems(db))
    items.push_back({file, r.noteId, r.name});
  return items;
}

// Renders one item (or one of its sub-ranges) both ways and checks the pages:
// one head and one body, well-formed XHTML, no script, every text run in
// order, and each table once where the chunk's ranges split one.
void CheckRange(NnHandle db, const ItemRef& ref, const std::string& definition,
                const char* options = "") {
  const std::string where = ref.file + " note " + std::to_string(ref.id) + " item " + ref.name +
                            " [" + definition + "] " + options;
  OpenItem open(db, ref.id, ref.name, definition);
  ASSERT_NE(open.chunk(), nullptr) << where;
  if (!open.exists()) {
    // A range the item lacks fails every generator, never an empty page.
    TorvoRTChunk* c = open.chunk();
    char* text = nullptr;
    uint32_t n = 0;
    for (NnStatus st : {c->GenerateHTML(nullptr, "", &text, &n), c->GenerateXML(nullptr, "", &text, &n),
                        c->GenerateHTMLToEPub(nullptr, "", &text, &n), c->GenerateHTMLToMime("", &text, &n)})
      EXPECT_NE(st, 0) << where;
    EXPECT_EQ(text, nullptr) << where;
    return;
  }
  Page html = Generate(open.chunk(), false, options);
  EXPECT_EQ(html.status, 0) << where;
  EXPECT_NE(html.text.find("</html>"), std::string::npos) << where;
  Page xhtml = Generate(open.chunk(), true, options);
  ASSERT_EQ(xhtml.status, 0) << where;
  for (const std::string* page : {&html.text, &xhtml.text}) {
    EXPECT_EQ(Count(*page, "</head>"), 1u) << where;
    EXPECT_EQ(Count(*page, "<body"), 1u) << where;
  }
  XmlDoc doc = ParseXml(xhtml.text);
  ASSERT_TRUE(doc) << where << " does not parse as XML";
  EXPECT_TRUE(doc->properties & XML_DOC_NSVALID) << where << " is not XML read with namespaces";
  ExpectNoScript(xhtml.text, where);
  // Markup of the document is never shown to the reader as code.
  std::string shown;
  AppendShownText(xmlDocGetRootElement(doc.get()), &shown);
  for (const char* code : {"<div", "<label", "<table"})
    EXPECT_EQ(shown.find(code), std::string::npos) << where << ": shows " << code;
  std::string runs = Visible(open.Runs());
  // Pass-through runs are markup, not text: they are left out of the order.
  for (const std::string& markup : open.PassthruRuns()) {
    const size_t at = runs.find(markup);
    if (at != std::string::npos) runs.erase(at, markup.size());
  }
  std::string page = Visible(TextContent(doc.get()));
  size_t stopped = 0;
  EXPECT_TRUE(InOrder(runs, page, &stopped))
      << where << ": text runs not in the page from character " << stopped << ": "
      << runs.substr(stopped, 60);
  // Two rows, two ranges of one table: the tables of the rows' pages less
  // the one they share.
  if (definition != "Table 1; Row 1-2") return;
  size_t tables = 0;
  for (const char* row : {"Table 1; Row 1", "Table 1; Row 2"}) {
    OpenItem one(db, ref.id, ref.name, row);
    if (!one.exists()) return;  // one row only: nothing is split
    tables += Count(Generate(one.chunk(), true, options).text, "<table");
  }
  EXPECT_EQ(Count(xhtml.text, "<table"), tables - 1) << where;
}

// The whole item and each of its sub-ranges.
void CheckItem(NnHandle db, const ItemRef& ref, const char* options = "") {
  for (const std::string& definition : kvtest::PageRangeDefinitions())
    CheckRange(db, ref, definition, options);
}

// ---- the corpus ---------------------------------------------------------------------

TEST(RenderPages, EveryCorpusItemAndSubRangeRendersAsHtmlAndWellFormedXhtml) {
  std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  size_t items = 0;
  for (const std::string& file : kvtest::FilesBelow(corpus + "/dxl")) {
    NnHandle db = 0;
    if (NnDbOpen(file.c_str(), 0, &db) != NN_OK) continue;
    for (const ItemRef& ref : RichTextItems(db, file)) {
      ++items;
      CheckItem(db, ref);
    }
    NnDbClose(db);
  }
  EXPECT_GT(items, 0u);
}

TEST(RenderPages, TheExampleShowsItsTableImageAndLink) {
  NnHandle db = 0;
  ASSERT_EQ(NnDbOpen(Example().c_str(), 0, &db), NN_OK);
  std::vector<ItemRef> items = RichTextItems(db, Example());
  ASSERT_EQ(items.size(), 1u);
  CheckItem(db, items[0]);
  OpenItem open(db, items[0].id, items[0].name);
  Page html = Generate(open.chunk(), false, "");
  ASSERT_EQ(html.status, 0);
  EXPECT_EQ(html.text.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.text.find("<title>A sample document</title>"), std::string::npos);
  std::smatch table;  // narrower than a page: the page does not scroll sideways
  ASSERT_TRUE(std::regex_search(html.text, table, std::regex("<table style=\"[^\"]*width:([0-9]+)px")));
  EXPECT_LE(std::stoi(table[1]), 624);
  EXPECT_NE(html.text.find("<img"), std::string::npos);
  EXPECT_NE(html.text.find("https://example.org/kestrelvault"), std::string::npos);
  EXPECT_NE(html.text.find("A sample document"), std::string::npos);
  NnDbClose(db);
}

TEST(RenderPages, MimeMessageCarriesThePageAndItsImages) {
  NnHandle db = 0;
  ASSERT_EQ(NnDbOpen(Example().c_str(), 0, &db), NN_OK);
  std::vector<ItemRef> items = RichTextItems(db, Example());
  ASSERT_EQ(items.size(), 1u);
  OpenItem open(db, items[0].id, items[0].name);
  NnHandle renderNoteBefore = open.chunk()->item->hRenderNote;
  char* message = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(open.chunk()->GenerateHTMLToMime("", &message, &length), 0);
  std::string text(message, length);
  PoolFree(open.session(), message);
  EXPECT_EQ(open.chunk()->item->hRenderNote, renderNoteBefore);
  EXPECT_EQ(text.rfind("MIME-Version: 1.0\r\n", 0), 0u);
  EXPECT_NE(text.find("multipart/related"), std::string::npos);
  // The first part is the page, in base64.
  size_t start = text.find("Content-Transfer-Encoding: base64\r\n\r\n");
  ASSERT_NE(start, std::string::npos);
  start += 37;
  size_t end = text.find("--=_kestrelvault_related", start);
  ASSERT_NE(end, std::string::npos);
  std::vector<uint8_t> decoded;
  ASSERT_TRUE(kvtest::DecodeBase64(text.substr(start, end - start), &decoded));
  std::string html(decoded.begin(), decoded.end());
  EXPECT_NE(html.find("</html>"), std::string::npos);
  EXPECT_EQ(html.find("src=\"data:"), std::string::npos);
  // Every content id the page names is a part of the message.
  for (size_t at = html.find("cid:"); at != std::string::npos; at = html.find("cid:", at + 4)) {
    std::string id = html.substr(at + 4, html.find('"', at) - at - 4);
    EXPECT_NE(text.find("Content-ID: <" + id + ">"), std::string::npos) << id;
  }
  // The picture's is its identifier (kind, the graphic's offset, the note's) at our domain.
  std::unique_ptr<TorvoRTChunk> graphic(open.chunk()->item->DefineChunk("Graphic 1"));
  char offset[64] = {}, id[64];
  unsigned segment = 0, position = 0;
  graphic->GetPropertyText("GraphicOffset", offset, sizeof offset);
  ASSERT_EQ(std::sscanf(offset, "%u.%x", &segment, &position), 2);
  std::snprintf(id, sizeof id, "src=\"cid:_1_%.6u%.6x[0-9a-f]{16}@kestrelvault\"", segment, position);
  EXPECT_TRUE(std::regex_search(html, std::regex(id))) << html;
  NnDbClose(db);
}

// ---- hostile documents ------------------------------------------------------------

std::string U16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
std::string U32(uint32_t v) { return U16(uint16_t(v)) + U16(uint16_t(v >> 16)); }

std::string WordRecord(uint16_t sig, const std::string& payload) {
  return U16(sig) + U16(uint16_t(4 + payload.size())) + payload;
}
std::string LongRecord(uint16_t sig, const std::string& payload) {
  return U16(sig) + U32(uint32_t(6 + payload.size())) + payload;
}
std::string Stream(const std::vector<std::string>& records) {
  std::string out;
  for (const auto& r : records) {
    out += r;
    if (out.size() % 2) out += '\0';
  }
  return out;
}
std::string Font(uint8_t face, uint8_t color = 0) {
  return std::string{char(face), 0, char(color), 10};
}
std::string TextRun(uint8_t face, const std::string& text) {
  return WordRecord(0xFF85, Font(face) + text);
}
std::string Paragraph() { return std::string{char(0x81), 2}; }
std::string ParagraphRef() { return std::string{char(0x83), 4, 1, 0}; }
std::string ParagraphDefinition() {
  std::string body = U16(1) + U16(0) + U16(0) + U16(0) + U16(0) + U16(1440) + U16(0) +
                     U16(1440) + U16(0) + std::string(40, '\0') + U16(0) + U32(0) + U16(0);
  return WordRecord(0xFF82, body);
}
std::string UrlHotspot(const std::string& url) {
  std::string data = url + '\0';
  return WordRecord(0xFFA9, U16(11) + U32(0) + U16(uint16_t(data.size())) + data);
}
std::string HotspotEnd() { return std::string{char(0xAA), 2}; }
std::string AltText(const std::string& text) {
  return WordRecord(0xFFCA, U16(uint16_t(text.size())) + U16(0) + U32(0) + text);
}
std::string Picture() {
  static const unsigned char gif[] = {
      'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
      ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, ';'};
  std::string g(reinterpret_cast<const char*>(gif), sizeof gif);
  std::string graphic = LongRecord(0x99, std::string(20, '\0') + std::string{2, 0, 0, 0});
  std::string header = LongRecord(0x7D, U16(1) + U16(1) + U16(1) + U32(uint32_t(g.size())) +
                                            U32(1) + U32(0) + U32(0));
  std::string padded = g + (g.size() % 2 ? std::string(1, '\0') : "");
  std::string segment =
      LongRecord(0x7C, U16(uint16_t(g.size())) + U16(uint16_t(padded.size())) + padded);
  return graphic + std::string(graphic.size() % 2, '\0') + header + segment;
}

std::string Base64(const std::string& data) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(data[i])) << 16;
    if (i + 1 < data.size()) v |= uint32_t(uint8_t(data[i + 1])) << 8;
    if (i + 2 < data.size()) v |= uint8_t(data[i + 2]);
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += i + 1 < data.size() ? abc[(v >> 6) & 63] : '=';
    out += i + 2 < data.size() ? abc[v & 63] : '=';
  }
  return out;
}

std::string XmlText(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '<') out += "&lt;";
    else if (c == '&') out += "&amp;";
    else if (c == '\'') out += "&apos;";
    else out += c;
  }
  return out;
}

// One document note: its subject, fonts table and body as stored records.
std::string NoteDxl(const std::string& subject, const std::string& fonts, const std::string& body) {
  std::string fontItem;
  if (!fonts.empty())
    fontItem = "<item name='$Fonts'><rawitemdata type='1'>" + Base64(fonts) + "</rawitemdata></item>\n";
  return "<?xml version='1.0' encoding='utf-8'?>\n"
         "<note class='document' xmlns='http://www.lotus.com/dxl' version='12.0'>\n"
         "<noteinfo noteid='8fa' unid='0123456789ABCDEF0123456789ABCDEF'>"
         "<created><datetime>20261201T090000,00+00</datetime></created>"
         "<modified><datetime>20261201T093000,00+00</datetime></modified></noteinfo>\n"
         "<item name='Subject'><text>" + XmlText(subject) + "</text></item>\n" + fontItem +
         "<item name='Body'><rawitemdata type='1'>" + Base64(body) +
         "</rawitemdata></item>\n</note>\n";
}

std::string HostileDocument() {
  const std::string face = "x\"'><script>f</script>";
  std::string fonts = WordRecord(0xFF8B, U16(1) + std::string{6, 0x22} + face +
                                             std::string(32 - face.size(), '\0'));
  std::vector<std::string> body = {
      ParagraphDefinition(), Paragraph(), ParagraphRef(),
      TextRun(6, "<script>alert(\"x\")</script> & \"quotes\" 'apos' javascript:alert(1)"),
      Paragraph(), ParagraphRef(),
      UrlHotspot("javascript:alert(1)"), TextRun(1, "first link"), HotspotEnd(),
      TextRun(1, " and "),
      UrlHotspot("http://x/\"onmouseover=\"alert(1)\"<script>"), TextRun(1, "second link"),
      HotspotEnd(), Paragraph(), ParagraphRef(),
  };
  std::string records =
      Stream(body) + Picture() +
      Stream({AltText("\"><script>alert(2)</script>"), Paragraph(), ParagraphRef(),
              TextRun(1, "</body></html><script>")});
  return NoteDxl("<script>t</script>\"'", Stream({fonts}), records);
}

// A document of sections in the styles of a section-style record (7 to 10),
// each bar (its title a formula) in a group of its own as stored documents
// keep it, and a 2 x 2 table whose cells hold paragraphs.
std::string SectionsAndTableDocument() {
  auto group = [](uint8_t sig, uint16_t type) { return std::string{char(sig), 6} + U16(0) + U16(type); };
  std::vector<std::string> body = {ParagraphDefinition(), Paragraph(), ParagraphRef(),
                                   TextRun(1, "Before the sections")};
  for (uint32_t value = 0; value < 4; ++value) {
    const std::string n = std::to_string(value + 7);
    body.insert(body.end(),
                {Paragraph(), ParagraphRef(), WordRecord(0xFFAD, U16(12) + U32(0) + U16(0)),
                 group(0xDD, 0xFFAC),
                 WordRecord(0xFFAC, U32(0x2000) + Font(1) +
                                        kvtest::CompiledFormula("\"Style " + n + "\" + \" title\"") + '\0'),
                 std::string{0x62, 14} + U16(128) + U16(0) + U32(0) + U32(value),
                 group(0xDE, 0xFFAC), Paragraph(), ParagraphRef(), TextRun(1, "Inside style " + n),
                 std::string{char(0xAE), 2}});
  }
  body.push_back(std::string{char(0xA3), 14} + U16(1440) + std::string(8, '\0') + U16(1));
  for (char cell = 0; cell < 4; ++cell)
    body.insert(body.end(), {std::string{char(0xA4), 18, char(cell / 2), char(cell % 2)} +
                                 std::string(6, '\0') + std::string{0x55, 0, 0, 0, 1, 1, 0, 0},
                             Paragraph(), ParagraphRef(), TextRun(1, "cell " + std::to_string(cell))});
  body.insert(body.end(), {std::string{char(0xA5), 6} + U32(0), Paragraph(), ParagraphRef(),
                           TextRun(1, "After the table")});
  return NoteDxl("Sections", "", Stream(body));
}

class BuiltItem : public ::testing::Test {
 protected:
  void Open(const std::string& document) {
    dir = kvtest::MakeTempDir();
    path = dir + "/built.dxl";
    kvtest::WriteFile(path, document);
    ASSERT_EQ(NnDbOpen(path.c_str(), 0, &db), NN_OK);
    std::vector<ItemRef> items = RichTextItems(db, path);
    ASSERT_EQ(items.size(), 1u);
    ref = items[0];
  }
  void TearDown() override {
    if (db) NnDbClose(db);
    kvtest::RemoveTree(dir);
  }
  std::string dir, path;
  NnHandle db = 0;
  ItemRef ref;
};

class HostileItem : public BuiltItem {
 protected:
  void SetUp() override { Open(HostileDocument()); }
};

// Sections of styles 7 to 10 and a table split by rows, in every section
// form: each range parses and holds each table once; every form shows the
// titles' formula results.
TEST_F(BuiltItem, SectionStylesAndSplitTablesRenderInEveryForm) {
  Open(SectionsAndTableDocument());
  OpenItem open(db, ref.id, ref.name);
  for (const char* options : {"WrenlatchSections=Yes", "SectionIncludeTitle=Yes", "SectionsInCSS=Yes"}) {
    // (The script form's own script would fail the check for document script.)
    if (std::strcmp(options, "SectionsInCSS=Yes") != 0) CheckItem(db, ref, options);
    const std::string page = Generate(open.chunk(), true, options).text;
    for (int style = 7; style <= 10; ++style)
      EXPECT_NE(page.find("Style " + std::to_string(style) + " title"), std::string::npos) << page;
    EXPECT_EQ(page.find("&quot;"), std::string::npos) << page;
  }
}

TEST_F(HostileItem, NothingFromTheDocumentBecomesScriptOrAttribute) {
  CheckItem(db, ref);
  OpenItem open(db, ref.id, ref.name);
  for (const char* options : {"", "StandardFontTags=Yes", "UsePTags=Yes MoveStylesInline=No",
                              "DataImages=Yes"}) {
    Page xhtml = Generate(open.chunk(), true, options);
    ASSERT_EQ(xhtml.status, 0) << options;
    ASSERT_TRUE(kvtest::ParsesAsXml(xhtml.text)) << options;
    ExpectNoScript(xhtml.text, options);
    Page html = Generate(open.chunk(), false, options);
    ASSERT_EQ(html.status, 0) << options;
    std::string lower = html.text;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(lower.find("<script"), std::string::npos) << options;
    EXPECT_EQ(lower.find("\"onmouseover"), std::string::npos) << options;
    EXPECT_EQ(lower.find("href=\"javascript:"), std::string::npos) << options;
  }
}

// A title stays text; a script URL or a family that would leave its CSS is
// refused.
TEST_F(HostileItem, HostileOptionsStayTexts) {
  OpenItem open(db, ref.id, ref.name);
  Page xhtml = Generate(open.chunk(), true, "Title='</title><script>x</script>' AddStyleSheetInfo=x");
  ASSERT_EQ(xhtml.status, 0);
  ASSERT_TRUE(kvtest::ParsesAsXml(xhtml.text));
  ExpectNoScript(xhtml.text, "options");
  for (const char* options : {"ExportStylesheet='javascript:alert(1)'", "IconFont='a\"><script>'"})
    EXPECT_EQ(Generate(open.chunk(), true, options).status, NN_ERR_INVALID_ARG) << options;
}

// ---- output limits ---------------------------------------------------------------

// Renders the item into a context of `capacity` bytes; the text written.
NnStatus RenderWithCapacity(OpenItem& open, uint32_t capacity, std::string* text) {
  RenderContext* ctx = RenderContextCreate(open.session(), capacity);
  if (!ctx) return NN_ERR_MEMORY;
  NnStatus st = open.session()->PreprocessXMLProperties(ctx, kOutputXhtml, nullptr, "");
  if (st == 0) st = open.chunk()->RenderIntoContext(ctx);
  size_t used = size_t(ctx->outputCursor - ctx->outputBuffer);
  EXPECT_LE(used + kOutputReserve, capacity) << capacity;
  EXPECT_EQ(std::strlen(ctx->outputBuffer), used) << capacity;
  text->assign(ctx->outputBuffer, used);
  PoolFree(open.session(), ctx->definitionTable);
  PoolFree(open.session(), ctx->paragraphIdMapStored);
  PoolFree(open.session(), ctx->paragraphIdMapInForce);
  ctx->definitionTable = nullptr;
  ctx->paragraphIdMapStored = ctx->paragraphIdMapInForce = nullptr;
  RenderContextFree(ctx);
  return st;
}

TEST(RenderLimits, ASmallBufferGivesMemoryStatusNeverAnOverrun) {
  NnHandle db = 0;
  ASSERT_EQ(NnDbOpen(Example().c_str(), 0, &db), NN_OK);
  std::vector<ItemRef> items = RichTextItems(db, Example());
  ASSERT_EQ(items.size(), 1u);
  OpenItem open(db, items[0].id, items[0].name);
  std::string full;
  ASSERT_EQ(RenderWithCapacity(open, 1u << 20, &full), 0);
  EXPECT_NE(full.find("A sample document"), std::string::npos);
  // Capacities that are exact pool block sizes, so that a write past the end
  // is seen by the address checker. A render that fits is the whole render;
  // one that does not gives 263.
  for (uint32_t capacity : {512u, 1024u, 1536u, 2048u, 3072u, 4096u}) {
    std::string text;
    NnStatus st = RenderWithCapacity(open, capacity, &text);
    if (capacity <= 1024u) {
      EXPECT_EQ(st, NN_ERR_MEMORY) << capacity;
    }
    if (st == 0) {
      EXPECT_EQ(text, full) << capacity;
    } else {
      EXPECT_EQ(st, NN_ERR_MEMORY) << capacity;
    }
  }
  NnDbClose(db);
}

TEST(RenderLimits, TheChunkKeepsNoContextAfterARender) {
  NnHandle db = 0;
  ASSERT_EQ(NnDbOpen(Example().c_str(), 0, &db), NN_OK);
  std::vector<ItemRef> items = RichTextItems(db, Example());
  OpenItem open(db, items[0].id, items[0].name);
  Page first = Generate(open.chunk(), false);
  Page second = Generate(open.chunk(), false);
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.text, second.text);  // nothing carried over between renders
  EXPECT_EQ(open.chunk()->internal->renderContext, nullptr);
  EXPECT_EQ(open.session()->globals->renderContext, nullptr);
  NnDbClose(db);
}


// ---- paragraph classes, lists and hidden paragraphs on real documents ----------

// Every element's class attribute and every list's children, walked once.
void CheckBody(xmlNode* node, const std::set<std::string>& rules, const std::string& where,
               size_t* classesUsed) {
  static const std::regex pabid("pabid[0-9]+");
  for (; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    const std::string name = reinterpret_cast<const char*>(node->name);
    xmlChar* cls = xmlGetProp(node, BAD_CAST "class");
    if (cls) {
      std::string c = reinterpret_cast<const char*>(cls);
      xmlFree(cls);
      if (std::regex_match(c, pabid)) {
        ++*classesUsed;
        EXPECT_TRUE(rules.count(name + "." + c)) << where << ": <" << name << " class=" << c
                                                 << "> has no rule in the head";
      }
    }
    if (name == "ul" || name == "ol") {
      for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) {
          EXPECT_STREQ(reinterpret_cast<const char*>(child->name), "li") << where;
        }
      }
    }
    if (name == "li") {
      const std::string parent = node->parent ? reinterpret_cast<const char*>(node->parent->name) : "";
      EXPECT_TRUE(parent == "ul" || parent == "ol") << where << ": <li> inside <" << parent << ">";
    }
    CheckBody(node->children, rules, where, classesUsed);
  }
}

// The texts of runs in paragraphs whose definition hides them in a plain
// (not preview, not web) render: hide-from-read (0x0010) or from web (0x8000)
// are honoured with "RespectHiddenFormulas=".
std::vector<std::string> HiddenRuns(LSXLsiSession* session, NnHandle note, const std::string& name,
                                    std::vector<std::string>* allRuns) {
  std::vector<std::string> hidden;
  RecordList* list = RecordListLoadFromNote(session, note, name.c_str(), nullptr);
  if (!list) return hidden;
  std::map<uint16_t, uint16_t> flags;
  bool inHidden = false;
  for (const RTRecordNode* n = list->first; n; n = n->next) {
    uint16_t id = 0, f = 0;
    switch (n->signature) {
      case 0xFF82:
        if (kv::cd::ReadU16(n->data, n->length, kv::cd::host::kPabId, &id) &&
            kv::cd::ReadU16(n->data, n->length, kv::cd::host::kPabFlags, &f))
          flags[id] = f;
        break;
      case 0x0083:
        inHidden = kv::cd::ReadU16(n->data, n->length, kv::cd::host::kPabReferenceId, &id) &&
                   flags.count(id) && (flags[id] & (0x0010 | 0x8000));
        break;
      case 0x00A4: case 0x00D0: case 0x00A5: case 0x00D1:
        inHidden = false;
        break;
      case 0xFF85: {
        if (n->length <= 8) break;
        std::string text = NnLmbcsToUtf8(reinterpret_cast<const char*>(n->data) + 8, n->length - 8);
        allRuns->push_back(Visible(text));
        if (inHidden) hidden.push_back(Visible(text));
        break;
      }
      default:
        break;
    }
  }
  RecordListFreeWithAllocator(session, list);
  return hidden;
}

TEST(RenderCorpus, ClassesHaveRulesListsNestAndHiddenParagraphsLeaveNoText) {
  std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  size_t classesUsed = 0, hiddenChecked = 0, items = 0;
  for (const auto& file : kvtest::FilesBelow(corpus + "/dxl")) {
    NnHandle db = 0;
    ASSERT_EQ(NnDbOpen(file.c_str(), 0, &db), NN_OK);
    for (const ItemRef& ref : RichTextItems(db, file)) {
      const std::string where = file + " " + ref.name;
      OpenItem open(db, ref.id, ref.name);
      ASSERT_NE(open.chunk(), nullptr) << where;
      Page page = Generate(open.chunk(), true, "MoveStylesInline=No RespectHiddenFormulas=Yes");
      ASSERT_EQ(page.status, 0) << where;
      XmlDoc doc = ParseXml(page.text);
      ASSERT_TRUE(doc) << where;
      ++items;
      // The head's rules: "div.pabid3 {...}" and the like.
      std::set<std::string> rules;
      static const std::regex rule("(div|p|ol|ul)\\.(pabid[0-9]+) *\\{");
      size_t headEnd = page.text.find("</head>");
      std::string head = page.text.substr(0, headEnd == std::string::npos ? 0 : headEnd);
      for (std::sregex_iterator it(head.begin(), head.end(), rule), end; it != end; ++it)
        rules.insert((*it)[1].str() + "." + (*it)[2].str());
      CheckBody(xmlDocGetRootElement(doc.get()), rules, where, &classesUsed);
      // Hidden paragraphs: a run that occurs only in them must not show.
      NnHandle note = 0;
      ASSERT_EQ(NnNoteOpen(db, ref.id, 0, &note), NN_OK);
      std::vector<std::string> all;
      std::vector<std::string> hidden = HiddenRuns(open.session(), note, ref.name, &all);
      NnNoteClose(note);
      const std::string shown = Visible(TextContent(doc.get()));
      for (const auto& run : hidden) {
        if (run.size() < 6) continue;
        size_t occurrences = 0;
        for (const auto& other : all)
          if (other.find(run) != std::string::npos) ++occurrences;
        if (occurrences != 1) continue;
        ++hiddenChecked;
        EXPECT_EQ(shown.find(run), std::string::npos) << where << ": hidden text shows: " << run;
      }
    }
    NnDbClose(db);
  }
  EXPECT_GT(items, 0u);
  EXPECT_GT(classesUsed, 0u);
  EXPECT_GT(hiddenChecked, 0u);
  std::printf("classes checked %zu, hidden runs checked %zu\n", classesUsed, hiddenChecked);
}

}  // namespace
