// "MarkDelimitedHTML=" through the chunk's generators: typed "[<" ... ">]"
// runs reach the page as filtered markup, the item's records stay as they
// were; and a page of every script vector an author can type renders with
// none of them live, under every option that changes how typed text is handled.
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <strings.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/base64.h"
#include "host/pool.h"
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

// A paragraph as stored: its end of the previous one, the reference to its
// definition, then its runs (platform characters).
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

// What in a parsed page would run script, load a document or send a form: one
// line per finding, empty when nothing is live.
void FindLive(xmlNode* node, std::string* found) {
  static const char* const kElements[] = {"script", "iframe", "frame", "frameset", "object",
                                          "embed", "applet", "form", "base", "svg", "math",
                                          "isindex", "link", nullptr};
  static const char* const kUrls[] = {"href", "src", "action", "formaction", "data", "background",
                                      "poster", "codebase", "lowsrc", "dynsrc", "srcdoc", nullptr};
  static const char* const kStyles[] = {"expression", "javascript", "behavior", "binding",
                                        "@import", nullptr};
  auto in = [](const char* name, const char* const* list) {
    for (; *list; ++list)
      if (strcasecmp(name, *list) == 0) return true;
    return false;
  };
  auto styled = [&](const std::string& css) {
    for (const char* const* bad = kStyles; *bad; ++bad)
      if (strcasestr(css.c_str(), *bad)) return true;
    return false;
  };
  for (; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    const char* name = reinterpret_cast<const char*>(node->name);
    std::string text;
    if (xmlChar* content = xmlNodeGetContent(node)) {
      text = reinterpret_cast<const char*>(content);
      xmlFree(content);
    }
    if (in(name, kElements)) *found += std::string("element ") + name + "\n";
    if (strcasecmp(name, "style") == 0 && styled(text)) *found += "style element " + text + "\n";
    for (xmlAttr* a = node->properties; a; a = a->next) {
      const char* attr = reinterpret_cast<const char*>(a->name);
      xmlChar* raw = xmlNodeListGetString(node->doc, a->children, 1);
      std::string value = raw ? reinterpret_cast<const char*>(raw) : "";
      xmlFree(raw);
      std::string scheme;  // browsers drop blanks and controls inside a scheme
      for (char c : value.substr(0, value.find(':') == std::string::npos ? 0 : value.find(':') + 1))
        if (static_cast<unsigned char>(c) > 0x20) scheme += char(std::tolower(c));
      const bool image = strcasecmp(name, "img") == 0 && strcasecmp(attr, "src") == 0 &&
                         value.rfind("data:image/", 0) == 0 && !strcasestr(value.c_str(), "svg");
      if (strncasecmp(attr, "on", 2) == 0 ||
          (in(attr, kUrls) && !image &&
           (scheme == "javascript:" || scheme == "vbscript:" || scheme == "data:")) ||
          (strcasecmp(attr, "style") == 0 && styled(value)) ||
          (strcasecmp(name, "meta") == 0 && strcasecmp(attr, "http-equiv") == 0 &&
           strcasecmp(value.c_str(), "content-type") != 0))
        *found += std::string(name) + " " + attr + "=" + value + "\n";
    }
    FindLive(node->children, found);
  }
}

// The page parsed as its readers parse it (XHTML as XML, which must succeed).
std::string LiveIn(const std::string& page, bool xhtml) {
  const int flags = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  xmlDoc* doc = xhtml ? xmlReadMemory(page.data(), int(page.size()), "p.xhtml", "UTF-8", flags)
                      : htmlReadMemory(page.data(), int(page.size()), "p.html", "UTF-8",
                                       flags | HTML_PARSE_RECOVER);
  if (!doc) return "the page does not parse";
  std::string found;
  FindLive(xmlDocGetRootElement(doc), &found);
  xmlFreeDoc(doc);
  // Belt and braces for parsers that read raw text otherwise.
  for (const char* tag : {"<script", "<iframe", "<object", "<embed"})
    if (strcasestr(page.c_str(), tag)) found += std::string("text ") + tag + "\n";
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
  std::string Page(const char* options) {
    char* text = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(chunk_->GenerateXML(nullptr, options, &text, &length), NN_OK);
    std::string page = text ? std::string(text, length) : "";
    if (text) PoolFree(&session_, text);
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

// Every vector typed as one bracketed run and as delimited runs split across
// records (and paragraphs), in body text and in a table cell.
Bytes VectorPage() {
  // The paragraph definition the paragraphs refer to, as stored (margins of an inch).
  Bytes body = {0x82, 0xFF, 70, 0, 1, 0};
  body.resize(70, 0);
  body[14] = body[18] = 0xA0, body[15] = body[19] = 0x05;
  for (const char* typed :
       {"[<script>alert(1)</script>]", "[<img src=x onerror=alert(1)>]",
        "[<a href=' jav&#x61;script:alert(1)'>a</a><a href='vbscript:x'>v</a>]",
        "[<iframe src='http://e.org/'>i</iframe><object data=x></object><embed src=x>]",
        "[<form action='javascript:alert(1)'><button formaction='javascript:alert(1)'>f</button>"
        "</form>]",
        "[<meta http-equiv='refresh' content='0;url=javascript:alert(1)'><base href='//e.org/'>]",
        "[<div style='width:expression(alert(1))'>s</div><style>p{x:url(javascript:1)}</style>]",
        "[<svg onload=alert(1)><math><a xlink:href='javascript:alert(1)'>m</a></math>]",
        "[<table background='javascript:alert(1)'><tr><td>t</td></tr></table>]",
        "[<!--<script>alert(1)</script>--><img src='data:text/html;base64,PHNjcmlwdD4='>]",
        "[<b>x &nbsp; y caf\xc3\xa9</b>]"})
    AddParagraph(&body, {typed});
  const std::vector<std::vector<std::string>> delimited = {
      {"[<", "script>alert(1)</script", ">]"},
      {"[<", "img src=x onerror=alert(1)", ">]"},
      {"[<", "a href='javascript:alert(1)'>a</a", ">]"},
      {"[<", "form action=x><button formaction='javascript:alert(1)'>f</button></form", ">]"},
      {"[<", "meta http-equiv='refresh' content='0;url=javascript:alert(1)'", ">]"},
      {"[<", "div style='x:expression(alert(1))' onmouseover=alert(1)>d</div", ">]"},
      {"[<", "svg><script>alert(1)</script></svg", ">]"},
      {"[<", "b>bold</b", ">]"}};
  for (const std::vector<std::string>& runs : delimited) AddParagraph(&body, runs);
  AddParagraph(&body, {"[<", "scr"});
  AddParagraph(&body, {"ipt>alert(1)</script", ">]"});
  // A table cell holding a delimited vector (canonical begin, cell and end).
  body.insert(body.end(), {0xA3, 14, 0, 0, 144, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  body.insert(body.end(), {0xA4, 18, 0, 0, 0, 0, 0, 0, 0x40, 0x0B, 1, 0, 0, 0, 1, 1, 0, 0});
  AddParagraph(&body, {"[<", "img src=x onerror=alert(1)", ">]"});
  body.insert(body.end(), {0xA5, 6, 0, 0, 0, 0});
  // The last: an iframe that is never closed, in a block that is never ended.
  AddParagraph(&body, {"[<", "iframe src='http://e.org/'>", "after"});
  return body;
}

TEST_F(DelimitedGenerateTest, NoScriptVectorIsLiveUnderAnyTypedTextOption) {
  Open(VectorPage());
  const char* const options[] = {
      "", "MarkDelimitedHTML=Yes",
      "MarkDelimitedHTML=Yes DelimitedHTMLStart=<!--s--> DelimitedHTMLEnd=<!--e-->",
      "SkipPassthru=Yes", "MarkDelimitedHTML=Yes SkipPassthru=Yes",
      "MarkDelimitedHTML=Yes UseXMLEntities=Yes PreserveSpaces=Yes",
      "MarkDelimitedHTML=Yes StandardFontTags=Yes", "MarkDelimitedHTML=Yes Translation=Yes"};
  for (const char* o : options) {
    for (int kind = 0; kind < 3; ++kind) {
      SCOPED_TRACE(std::string(o) + " kind " + std::to_string(kind));
      std::string page;
      char* text = nullptr;
      uint32_t length = 0;
      const NnStatus st = kind == 0   ? chunk_->GenerateHTML(nullptr, o, &text, &length)
                          : kind == 1 ? chunk_->GenerateXML(nullptr, o, &text, &length)
                                      : chunk_->GenerateHTMLToMime(o, &text, &length);
      ASSERT_EQ(st, NN_OK);
      page.assign(text, length);
      PoolFree(&session_, text);
      if (kind == 2) {  // the page is the message's first part
        const size_t start = page.find("\r\n\r\n", page.find("Content-Type: text/html"));
        std::vector<uint8_t> html;
        ASSERT_TRUE(kvtest::DecodeBase64(page.substr(start, page.find("--", start) - start), &html));
        page.assign(html.begin(), html.end());
      }
      EXPECT_EQ(LiveIn(page, kind == 1), "") << page;
      // Markup that formats still does, and a typed entity and accent read as typed.
      if (!strstr(o, "SkipPassthru")) {
        EXPECT_NE(page.find("<b>x &#160; y caf&#233;</b>"), std::string::npos) << page;
        if (strstr(o, "Mark")) {
          EXPECT_NE(page.find("<b>bold</b>"), std::string::npos) << page;
        }
      }
    }
  }
}

}  // namespace
