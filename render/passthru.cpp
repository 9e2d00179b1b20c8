// Pass-through HTML: the text between an HTML-begin and an HTML-end record
// is the designer's own markup and goes to the output as it stands. A block
// that the delimited marking made from text a document's author typed is
// typed markup instead: it goes through the typed-HTML filter, and only its
// two markers stand as they are. In XHTML a designer's block that is not XML
// is read as HTML and written again as XML.
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <strings.h>

#include <cstring>
#include <string>

#include "nn/nn.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

constexpr uint16_t kHtmlBegin = 0xFFCC, kHtmlEnd = 0xFFCD;

// The text of a block: its markers (typed blocks only) and what lies between.
struct BlockText {
  std::string before, text, after;
};

// Walks the block from its first record; returns the record after its end.
RTRecordNode* ReadBlock(const RenderContext* ctx, RTRecordNode* n, bool typed, BlockText* block) {
  bool opened = false;
  for (; RecordInRange(ctx, n) && n->signature != kHtmlEnd; n = n->next) {
    if ((n->signature == 0xFF85 || n->signature == 0xFFE4) && n->length > kv::cd::host::kTextFixed) {
      const char* t = reinterpret_cast<const char*>(n->data) + kv::cd::host::kTextFixed;
      size_t len = n->length - kv::cd::host::kTextFixed;
      if (typed && (n->flags & kNodeDelimiter)) {
        // The first delimiter is the start marker and "<", a later one ">" and the end marker.
        if (!opened) {
          block->before.assign(t, len - 1);
          t += len - 1;
        } else {
          block->after.assign(t + 1, len - 1);
        }
        len = 1;
        opened = true;
      }
      for (size_t i = 0; i < len; ++i) block->text += t[i] == 0 ? '\n' : t[i];  // NUL: a line break
    } else if (n->signature == 0x0081 && !block->text.empty()) {
      block->text += '\n';
    }
    if (block->text.size() > (size_t(1) << 26)) break;  // far beyond any output buffer
  }
  return RecordInRange(ctx, n) ? n->next : n;
}

// True when the text, in the characters the page will hold, parses as XML.
bool WellFormedOnPage(const std::string& text) {
  const std::string converted = NnLmbcsToUtf8(text.data(), text.size());
  return (!converted.empty() || text.empty()) && IsWellFormedFragment(converted);
}

// ---- HTML written again as XML -------------------------------------------------

// Text for XML: the three characters that would end it escaped (and the quote
// in attribute values), characters XML does not allow dropped.
void AppendXmlText(const char* utf8, bool attribute, std::string* out) {
  const auto* p = reinterpret_cast<const uint8_t*>(utf8 ? utf8 : "");
  for (size_t n = std::strlen(reinterpret_cast<const char*>(p)), i = 0; i < n;) {
    uint32_t code = 0;
    const size_t used = DecodeUtf8(p + i, n - i, &code);
    if (used == 0) {
      ++i;
      continue;
    }
    if (code == '&') *out += "&amp;";
    else if (code == '<') *out += "&lt;";
    else if (code == '>') *out += "&gt;";
    else if (code == '"' && attribute) *out += "&quot;";
    else if (XmlCharAllowed(code)) out->append(reinterpret_cast<const char*>(p + i), used);
    i += used;
  }
}

bool IsXmlName(const xmlChar* name) { return name && xmlValidateNCName(name, 0) == 0; }

// Elements that are empty in HTML: only these close themselves, since an
// HTML reader of the page takes "<span />" for an opening tag.
bool IsVoidElement(const char* name) {
  for (const char* v : {"area", "base", "br", "col", "embed", "hr", "img", "input", "keygen",
                        "link", "meta", "param", "source", "track", "wbr"})
    if (!strcasecmp(name, v)) return true;
  return false;
}

void AppendNodesAsXml(xmlNode* node, std::string* out);

// An element as XML: its tag when its name is one (else only its content),
// attributes with XML names (xml:lang the one prefixed name; any other prefix
// is undeclared), empty elements closed, script and style content as
// character data.
void AppendElementAsXml(xmlNode* node, std::string* out) {
  const char* name = reinterpret_cast<const char*>(node->name);
  if (!IsXmlName(node->name)) return AppendNodesAsXml(node->children, out);
  *out += "<";
  *out += name;
  for (xmlAttr* a = node->properties; a; a = a->next) {
    if (!IsXmlName(a->name) && !xmlStrEqual(a->name, BAD_CAST "xml:lang")) continue;
    if (xmlStrEqual(a->name, BAD_CAST "xmlns")) continue;  // the page's namespace stays
    xmlChar* value = xmlNodeListGetString(node->doc, a->children, 1);
    *out += " ";
    *out += reinterpret_cast<const char*>(a->name);
    *out += "=\"";
    AppendXmlText(value ? reinterpret_cast<const char*>(value) : reinterpret_cast<const char*>(a->name),
                  true, out);
    *out += "\"";
    xmlFree(value);
  }
  const bool script = !strcasecmp(name, "script"), style = !strcasecmp(name, "style");
  if (script || style) {
    xmlChar* content = xmlNodeGetContent(node);
    const std::string code = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    if (code.find("]]>") != std::string::npos) {
      *out += "></" + std::string(name) + ">";
      return;
    }
    *out += script ? ">//<![CDATA[\n" : ">/*<![CDATA[*/\n";
    *out += code;
    *out += script ? "\n//]]></" : "\n/*]]>*/</";
  } else if (!node->children && IsVoidElement(name)) {
    *out += " />";
    return;
  } else {
    *out += ">";
    AppendNodesAsXml(node->children, out);
    *out += "</";
  }
  *out += name;
  *out += ">";
}

void AppendNodesAsXml(xmlNode* node, std::string* out) {
  for (; node; node = node->next) {
    if (node->type == XML_ELEMENT_NODE) {
      const char* name = reinterpret_cast<const char*>(node->name);
      // The page has its own head: what belongs only there is left out, and
      // the document wrappers give their content.
      static const char* const kHeadOnly[] = {"title", "meta", "link", "base"};
      bool headOnly = false;
      for (const char* h : kHeadOnly) headOnly = headOnly || !strcasecmp(name, h);
      if (headOnly) continue;
      if (!strcasecmp(name, "html") || !strcasecmp(name, "head") || !strcasecmp(name, "body"))
        AppendNodesAsXml(node->children, out);
      else
        AppendElementAsXml(node, out);
    } else if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      AppendXmlText(reinterpret_cast<const char*>(node->content), false, out);
    } else if (node->type == XML_COMMENT_NODE && node->content) {
      const std::string text = reinterpret_cast<const char*>(node->content);
      if (text.find("--") == std::string::npos && (text.empty() || text.back() != '-'))
        *out += "<!--" + text + "-->";
    }
  }
}

// The block read as HTML and written as XML (in the page's characters); false
// when it cannot be.
bool HtmlBlockAsXml(const std::string& platformText, std::string* xml) {
  const std::string utf8 = NnLmbcsToUtf8(platformText.data(), platformText.size());
  if (utf8.empty() || utf8.size() > INT32_MAX) return false;
  htmlDocPtr doc = htmlReadMemory(utf8.data(), int(utf8.size()), "passthru.html", "UTF-8",
                                  HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR |
                                      HTML_PARSE_NOWARNING);
  if (!doc) return false;
  std::string out;
  AppendNodesAsXml(doc->children, &out);
  xmlFreeDoc(doc);
  if (!IsWellFormedFragment(out)) return false;
  *xml = NnUtf8ToLmbcs(out.data(), out.size());
  return !xml->empty() || out.empty();
}

}  // namespace

bool IsWellFormedFragment(const std::string& text) {
  std::string doc = "<r>" + text + "</r>";
  xmlDocPtr parsed = xmlReadMemory(doc.data(), int(doc.size()), "passthru.xml", "UTF-8",
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!parsed) return false;
  xmlFreeDoc(parsed);
  return true;
}

const RTRecordNode* EnclosingPassthruBegin(const RTRecordNode* node) {
  for (const RTRecordNode* n = node ? node->prev : nullptr; n; n = n->prev) {
    if (n->signature == kHtmlEnd) return nullptr;
    if (n->signature == kHtmlBegin) return n;
  }
  return nullptr;
}

NnStatus RenderPassthruHtml(RenderContext* ctx, uint16_t /*endType*/) {
  RTRecordNode* begin = ctx->currentRecord;
  if (!begin) return NN_OK;
  // A range may begin inside a block: the block's begin says whose markup it is.
  const RTRecordNode* opening = begin->signature == kHtmlBegin ? begin : EnclosingPassthruBegin(begin);
  const bool typed = opening && (opening->flags & kNodeTypedMarkup);
  BlockText block;
  RTRecordNode* after = ReadBlock(ctx, begin->signature == kHtmlBegin ? begin->next : begin, typed,
                                  &block);
  std::string markup = block.text;
  if (typed) markup = block.before + SanitizeTypedHtml(block.text.data(), block.text.size()) +
                      block.after;

  char* mark = ctx->outputCursor;
  bool ok = RenderAppend(ctx, "<!--PassthruStart-->");
  std::string converted;
  if (ctx->outputKind == kOutputXhtml && !WellFormedOnPage(markup) && !typed) {
    // A designer's markup is never shown as code: written as XML, or left out.
    if (HtmlBlockAsXml(markup, &converted)) ok = ok && RenderAppendN(ctx, converted.data(), converted.size());
  } else if (ctx->outputKind == kOutputXhtml && !WellFormedOnPage(markup)) {
    const std::string shown = block.before + block.text + block.after;
    ok = ok && AppendDocumentText(ctx, shown.data(), shown.size());
  } else {
    ok = ok && RenderAppendN(ctx, markup.data(), markup.size());
  }
  ok = ok && RenderAppend(ctx, "<!--PassthruEnd-->");
  if (!ok) {
    ctx->outputCursor = mark;
    if (mark) *mark = 0;
    return NN_ERR_MEMORY;
  }
  ctx->currentRecord = after;
  return NN_OK;
}
