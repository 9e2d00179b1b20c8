// Pages of documents built record by record the way stored documents hold
// them: a section hotspot keeps its bar inside a group of its own, sections
// sit in table cells and inside one another, popups hold tables holding
// popups. Each is rendered through the chunk's generator as a whole page,
// parsed, and each section's content is looked for inside its own block.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/base64.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

using kvtest::Count;

using Bytes = std::vector<uint8_t>;
using Records = std::vector<Bytes>;

// ---- records in the stored layout -----------------------------------------------

void Put(Bytes* r, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  r->insert(r->end(), p, p + n);
}
void U16(Bytes* r, uint16_t v) { Put(r, &v, 2); }
void U32(Bytes* r, uint32_t v) { Put(r, &v, 4); }

Bytes ByteRecord(uint8_t sig, const Bytes& payload = {}) {
  Bytes r = {sig, uint8_t(2 + payload.size())};
  Put(&r, payload.data(), payload.size());
  return r;
}
Bytes WordRecord(uint16_t sig, const Bytes& payload) {
  Bytes r;
  U16(&r, sig);
  U16(&r, uint16_t(4 + payload.size()));
  Put(&r, payload.data(), payload.size());
  return r;
}
Bytes Words(std::initializer_list<uint16_t> words) {
  Bytes r;
  for (uint16_t w : words) U16(&r, w);
  return r;
}

const uint8_t kFont[4] = {1, 0, 0, 10};

Bytes Text(const std::string& text) {
  Bytes p(kFont, kFont + 4);
  Put(&p, text.data(), text.size());
  return WordRecord(0xFF85, p);
}
Records Line(const std::string& text) {
  return {ByteRecord(0x81), ByteRecord(0x83, Words({1})), Text(text)};
}
Bytes Definition() {
  Bytes p = Words({1, 0, 0, 0, 0, 1440, 0, 1440, 0});
  p.resize(p.size() + 40);
  U16(&p, 0);
  U32(&p, 0);
  U16(&p, 0);
  return WordRecord(0xFF82, p);
}
Bytes Bar(const std::string& title) {
  Bytes p;
  U32(&p, 0);
  Put(&p, kFont, 4);
  Put(&p, title.c_str(), title.size() + 1);
  return WordRecord(0xFFAC, p);
}
Bytes HotspotBegin(uint16_t sig, uint16_t type, const std::string& data = "") {
  Bytes p = Words({type});
  U32(&p, 0);
  U16(&p, uint16_t(data.empty() ? 0 : data.size() + 1));
  if (!data.empty()) Put(&p, data.c_str(), data.size() + 1);
  return WordRecord(sig, p);
}
Bytes Group(uint8_t sig, uint16_t type) { return ByteRecord(sig, Words({0, type})); }
Bytes TableBegin() { return ByteRecord(0xA3, Words({0, 144, 0, 0, 0, 0})); }
Bytes Cell(uint8_t column) {
  Bytes p = {0, column};
  U16(&p, 0);
  U16(&p, 0);
  U16(&p, 0x4000);
  p.push_back(1);
  p.push_back(0);
  U16(&p, 0);
  p.push_back(1);
  p.push_back(1);
  U16(&p, 0);
  return ByteRecord(0xA4, p);
}
Bytes TableEnd() { return ByteRecord(0xA5, Words({0, 0})); }

Records operator+(Records a, const Records& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A section hotspot as stored documents keep it: the bar in a group of its
// own, then the content, then the hotspot end. `grouped` false: the bare form.
Records Section(const std::string& title, const Records& content, bool grouped = true) {
  Records r = {HotspotBegin(0xFFAD, 12)};
  if (grouped) r = r + Records{Group(0xDD, 0xFFAC), Bar(title), Group(0xDE, 0xFFAC)};
  else r.push_back(Bar(title));
  return r + content + Records{ByteRecord(0xAE)};
}

std::string Dxl(const Records& records) {
  Bytes body;
  Records all = Records{Definition()} + records;
  for (const Bytes& r : all) {
    Put(&body, r.data(), r.size());
    if (body.size() % 2) body.push_back(0);
  }
  return "<?xml version='1.0' encoding='utf-8'?>\n"
         "<note class='document' xmlns='http://www.lotus.com/dxl' version='12.0'>\n"
         "<noteinfo noteid='8fa' unid='5A1B2C3D4E5F60718293A4B5C6D7E8F3'/>\n"
         "<item name='Body'><rawitemdata type='1'>" +
         kv::Base64Encode(body.data(), body.size()) + "</rawitemdata></item>\n</note>\n";
}

// ---- the page ---------------------------------------------------------------------

using XmlDoc = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

struct Rendered {
  NnStatus status = 0;
  std::string text;
  XmlDoc doc{nullptr, xmlFreeDoc};
};

Rendered RenderPage(const Records& records, const std::string& options, bool xhtml = true) {
  Rendered out;
  const std::string dir = kvtest::MakeTempDir();
  const std::string file = dir + "/page.dxl";
  kvtest::WriteFile(file, Dxl(records));
  NnHandle db = 0, note = 0;
  NOTEID id = 0;
  if (NnDbOpen(file.c_str(), 0, &db) == NN_OK && NnDbNoteIdAt(db, 0, &id) == NN_OK &&
      NnNoteOpen(db, id, 0, &note) == NN_OK) {
    LSXLsiSession session;
    TorvoRTItem item(&session);
    if (item.ConnectBackend(db, note, "Body") == NN_OK) {
      std::unique_ptr<TorvoRTChunk> chunk(item.DefineChunk(""));
      char* text = nullptr;
      uint32_t length = 0;
      out.status = xhtml ? chunk->GenerateXML(nullptr, options.c_str(), &text, &length)
                         : chunk->GenerateHTML(nullptr, options.c_str(), &text, &length);
      if (text) out.text.assign(text, length);
      PoolFree(&session, text);
    }
    NnNoteClose(note);
  }
  if (db) NnDbClose(db);
  kvtest::RemoveTree(dir);
  if (xhtml)
    out.doc.reset(xmlReadMemory(out.text.data(), int(out.text.size()), "page.xhtml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  return out;
}

std::string Attribute(xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, BAD_CAST name);
  std::string out = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return out;
}

xmlNode* FindId(xmlNode* node, const std::string& id) {
  for (; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (Attribute(node, "id") == id) return node;
    if (xmlNode* found = FindId(node->children, id)) return found;
  }
  return nullptr;
}

// The text of an element, white space left out; "<none>" without the element.
std::string TextOf(xmlDoc* doc, const std::string& id) {
  xmlNode* node = doc ? FindId(xmlDocGetRootElement(doc), id) : nullptr;
  if (!node) return "<none>";
  xmlChar* content = xmlNodeGetContent(node);
  std::string text;
  for (const char* c = content ? reinterpret_cast<const char*>(content) : ""; *c; ++c)
    if (static_cast<unsigned char>(*c) > 0x20) text += *c;
  xmlFree(content);
  return text;
}

// The text equals the pattern, whose one "*" stands for any text.
bool Matches(const std::string& text, const std::string& pattern) {
  const size_t star = pattern.find('*');
  if (star == std::string::npos) return text == pattern;
  const std::string head = pattern.substr(0, star), tail = pattern.substr(star + 1);
  return text.size() >= head.size() + tail.size() && text.compare(0, head.size(), head) == 0 &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// ---- sections -----------------------------------------------------------------------

struct Layout {
  const char* name;
  Records records;
  // Per section, in the order of its bar: the title and the content (a "*"
  // stands for a nested section's markup, which differs by form).
  std::vector<std::pair<std::string, std::string>> sections;
};

std::vector<Layout> Layouts() {
  const Records section = Section("T", Line("in1") + Line("in2"));
  return {
      {"stored bar", Line("before") + section + Line("after"), {{"T", "in1in2"}}},
      {"stored bar in a cell, a bare bar after it",
       Records{TableBegin(), Cell(0)} + Section("S", Line("in1")) +
           Records{Bar("B")} + Line("b1") + Records{Cell(1)} + Line("c2") + Records{TableEnd()} +
           Records{Bar("C")} + Line("c1"),
       {{"S", "in1"}, {"B", "b1"}, {"C", "c1"}}},
      {"two stored bars in one hotspot",
       Line("before") + Records{HotspotBegin(0xFFAD, 12), Group(0xDD, 0xFFAC), Bar("T1"),
                                Group(0xDE, 0xFFAC)} +
           Line("in1") + Records{Group(0xDD, 0xFFAC), Bar("T2"), Group(0xDE, 0xFFAC)} +
           Line("in2") + Records{ByteRecord(0xAE)} + Line("after"),
       {{"T1", "in1"}, {"T2", "in2"}}},
      {"stored sections inside each other",
       Section("O", Line("o1") + Section("I", Line("i1")) + Line("o2")) + Line("after"),
       {{"O", "o1*o2"}, {"I", "i1"}}},
      {"bare bar in its hotspot", Section("T", Line("in1"), false) + Line("after"),
       {{"T", "in1"}}},
      {"bare bars the walk meets", Records{Bar("A")} + Line("a1") + Records{Bar("B")} + Line("b1"),
       {{"A", "a1"}, {"B", "b1"}}},
  };
}

TEST(StoredSections, EachSectionHoldsItsContentAndClosesOnce) {
  for (const Layout& layout : Layouts()) {
    for (const char* options : {"SectionsInCSS=Yes", "WrenlatchSections=Yes",
                                "WrenlatchSections=Yes UsePTags=Yes", ""}) {
      SCOPED_TRACE(std::string(layout.name) + " with " + options);
      const Rendered page = RenderPage(layout.records, options);
      ASSERT_EQ(page.status, 0);
      ASSERT_TRUE(page.doc) << page.text;
      EXPECT_EQ(Count(page.text, "</head>"), 1u);
      const bool script = options[0] == 'S', styled = options[0] == 'W';
      for (size_t i = 0; i < layout.sections.size(); ++i) {
        const auto& [title, content] = layout.sections[i];
        const std::string n = "sctn" + std::to_string(i + 1);
        // The script form's expanded block repeats the title before the
        // content; the styled form's content block holds the content only.
        if (script) {
          EXPECT_TRUE(Matches(TextOf(page.doc.get(), n + "e"), title + content)) << page.text;
        } else if (styled) {
          EXPECT_TRUE(Matches(TextOf(page.doc.get(), n + "c"), content)) << page.text;
          EXPECT_NE(TextOf(page.doc.get(), n + "h").find(title), std::string::npos);
        }
      }
      // No section is left without its bar, and what follows stays outside.
      EXPECT_EQ(TextOf(page.doc.get(), "sctn" + std::to_string(layout.sections.size() + 1) + "c"),
                "<none>");
      const Rendered html = RenderPage(layout.records, options, false);
      EXPECT_EQ(html.status, 0);
      EXPECT_EQ(Count(html.text, "<div"), Count(html.text, "</div>")) << html.text;
    }
  }
}

// Sections nested to the deepest level the writers keep, and past it: every
// title shows, each section inside the one before it down to that level.
TEST(StoredSections, DeeplyNestedSectionsKeepEveryTitleAndTheirNesting) {
  constexpr int kLevels = 52;
  Records inner = Line("core");
  for (int i = kLevels; i >= 1; --i)
    inner = Section("T" + std::to_string(i) + "x", Line("in" + std::to_string(i)) + inner);
  for (const char* options : {"WrenlatchSections=Yes", "SectionsInCSS=Yes", "SectionIncludeTitle=Yes"}) {
    SCOPED_TRACE(options);
    const Rendered page = RenderPage(inner + Line("after"), options);
    ASSERT_EQ(page.status, 0);
    ASSERT_TRUE(page.doc);
    // The script form writes a title in both of its blocks.
    const size_t times = std::string(options) == "SectionsInCSS=Yes" ? 2 : 1;
    for (int i = 1; i <= kLevels; ++i)
      EXPECT_EQ(Count(page.text, "T" + std::to_string(i) + "x"), times) << "title " << i;
    if (options[0] != 'W') continue;
    // The innermost section sits inside every other one.
    xmlNode* node = FindId(xmlDocGetRootElement(page.doc.get()), "sctn" + std::to_string(kLevels) + "c");
    ASSERT_NE(node, nullptr);
    int enclosing = 0;
    for (xmlNode* p = node->parent; p; p = p->parent)
      if (p->type == XML_ELEMENT_NODE && Attribute(p, "class").rfind("sctnc", 0) == 0) ++enclosing;
    EXPECT_EQ(enclosing, kLevels - 1);
    EXPECT_EQ(TextOf(page.doc.get(), "sctn" + std::to_string(kLevels) + "c"),
              "in" + std::to_string(kLevels) + "core");
  }
}

// ---- popups ---------------------------------------------------------------------------

TEST(StoredPopups, APopupInATableInsideAPopupRendersWhole) {
  const Records records =
      Line("s") + Records{HotspotBegin(0xFFA9, 1, "pop"), TableBegin(), Cell(0)} +
      Records{ByteRecord(0x81), ByteRecord(0x83, Words({1})), HotspotBegin(0xFFA9, 1, "pop2")} +
      Line("c") + Records{ByteRecord(0xAA), TableEnd()} + Line("o") +
      Records{ByteRecord(0xAA)} + Line("final");
  for (const bool xhtml : {true, false}) {
    const Rendered page = RenderPage(records, "", xhtml);
    ASSERT_EQ(page.status, 0) << page.text;
    if (xhtml) {
      ASSERT_TRUE(page.doc) << page.text;
    }
    const size_t outer = page.text.find("title=\"pop\"");
    const size_t inner = page.text.find("title=\"pop2\"");
    ASSERT_NE(outer, std::string::npos) << page.text;
    ASSERT_NE(inner, std::string::npos) << page.text;
    // The table and the inner popup are inside the outer one, the rest follows.
    EXPECT_LT(outer, page.text.find("<table"));
    EXPECT_LT(page.text.find("<table"), inner);
    EXPECT_LT(page.text.find("</table>"), page.text.find("</acronym>", page.text.find("</table>")));
    EXPECT_LT(page.text.find(">c<"), page.text.find("</table>"));
    EXPECT_NE(page.text.find("final"), std::string::npos);
    EXPECT_EQ(Count(page.text, "<acronym"), Count(page.text, "</acronym>"));
  }
}

}  // namespace
