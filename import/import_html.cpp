// HTML to rich text: the document is parsed with libtidy into a node tree,
// which is walked once, element by element, into records through the
// import writer. Only content is carried over: script and other active
// content never becomes anything, and only ordinary URL schemes make links.
#include <strings.h>
#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host/base64.h"
#include "host/color.h"
#include "host/fonts.h"
#include "host/options.h"
#include "import/import.h"
#include "import/importwriter.h"
#include "richtext/item/compose.h"
#include "richtext/item/recordutil.h"
#include "rtitem.h"

namespace kv::import {

namespace {

constexpr uint32_t kMaxPrescanDepth = 1000;   // nesting the parser is given at most
constexpr uint32_t kMaxImageBytes = 8u * 1024u * 1024u;
constexpr uint32_t kMaxTableRows = 255;
constexpr uint32_t kMaxColumns = 64;

// ---- text helpers -----------------------------------------------------------------

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= 0x20) ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= 0x20) --b;
  return s.substr(a, b - a);
}

bool IsVoidElement(const std::string& name) {
  static const char* const kVoid[] = {"area", "base", "br", "col", "embed", "hr", "img",
                                      "input", "link", "meta", "param", "source", "track",
                                      "wbr", "basefont", "frame", "isindex", "keygen"};
  for (const char* v : kVoid)
    if (name == v) return true;
  return false;
}

// Elements whose end tag may be left out: they do not count as nesting.
bool IsOptionalEnd(const std::string& name) {
  static const char* const kOptional[] = {"p", "li", "dt", "dd", "td", "th", "tr", "option",
                                          "optgroup", "thead", "tbody", "tfoot", "colgroup",
                                          "html", "head", "body", "rb", "rt", "rp", "caption"};
  for (const char* v : kOptional)
    if (name == v) return true;
  return false;
}

// Elements whose content is raw text up to their end tag.
bool IsRawText(const std::string& name) {
  return name == "script" || name == "style" || name == "textarea" || name == "title" ||
         name == "xmp" || name == "plaintext" || name == "noscript";
}

// Bounds the element nesting the parser sees: past kMaxPrescanDepth open
// elements, further start tags (and as many end tags) are left out. The
// parser recurses on nesting, and hostile input must not exhaust the stack.
std::string BoundNesting(const char* in, size_t n) {
  std::string out;
  out.reserve(n);
  uint32_t depth = 0, excess = 0;
  size_t i = 0;
  auto tagEnd = [&](size_t from) {
    char quote = 0;
    for (size_t k = from; k < n; ++k) {
      char c = in[k];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        return k;
      }
    }
    return n;
  };
  while (i < n) {
    char c = in[i];
    if (c == '\0') {  // the parser reads a NUL-terminated text
      out += ' ';
      ++i;
      continue;
    }
    if (c != '<' || i + 1 >= n) {
      out += c;
      ++i;
      continue;
    }
    char next = in[i + 1];
    if (next == '!' && i + 3 < n && in[i + 2] == '-' && in[i + 3] == '-') {
      const char* end = nullptr;
      for (size_t k = i + 4; k + 2 < n; ++k)
        if (in[k] == '-' && in[k + 1] == '-' && in[k + 2] == '>') {
          end = in + k + 3;
          break;
        }
      i = end ? size_t(end - in) : n;  // comments are dropped here already
      continue;
    }
    bool closing = next == '/';
    size_t nameStart = i + (closing ? 2 : 1);
    if (nameStart >= n || !std::isalpha(static_cast<unsigned char>(in[nameStart]))) {
      out += c;
      ++i;
      continue;
    }
    size_t k = nameStart;
    while (k < n && (std::isalnum(static_cast<unsigned char>(in[k])) || in[k] == ':' ||
                     in[k] == '-' || in[k] == '_'))
      ++k;
    std::string name = Lower(std::string(in + nameStart, k - nameStart));
    size_t end = tagEnd(k);
    size_t stop = end < n ? end + 1 : n;
    bool selfClosing = end < n && end > i && in[end - 1] == '/';
    bool counts = !IsVoidElement(name) && !IsOptionalEnd(name) && !selfClosing;
    bool keep = true;
    if (!closing && counts) {
      if (depth >= kMaxPrescanDepth) {
        ++excess;
        keep = false;
      } else {
        ++depth;
      }
    } else if (closing && counts) {
      if (excess) {
        --excess;
        keep = false;
      } else if (depth) {
        --depth;
      }
    }
    if (keep) out.append(in + i, stop - i);
    i = stop;
    if (!closing && IsRawText(name) && !selfClosing) {
      // Copy the raw content up to its end tag unchanged (it is dropped later).
      std::string endTag = "</" + name;
      size_t found = n;
      for (size_t p = i; p + endTag.size() <= n; ++p)
        if (in[p] == '<' && strncasecmp(in + p, endTag.c_str(), endTag.size()) == 0) {
          found = p;
          break;
        }
      out.append(in + i, found - i);
      i = found;
    }
  }
  return out;
}

// ---- the tidy document ------------------------------------------------------------

class TidyDocument {
 public:
  TidyDocument() {
    // Unless a language was chosen, tidy sets the process's locale from the
    // environment at every new document (setlocale): number formats and
    // character classes would change under the whole program, and under
    // other sessions' threads while they run. Its messages are not shown.
    static const bool languageChosen = tidySetLanguage("en");
    (void)languageChosen;
    tidyBufInit(&errors_);
    doc_ = tidyCreate();
  }
  ~TidyDocument() {
    if (doc_) tidyRelease(doc_);
    tidyBufFree(&errors_);
  }
  TidyDocument(const TidyDocument&) = delete;
  TidyDocument& operator=(const TidyDocument&) = delete;

  bool Parse(const std::string& text, const char* encoding) {
    if (!doc_) return false;
    tidySetErrorBuffer(doc_, &errors_);
    tidyOptSetBool(doc_, TidyQuiet, yes);
    tidyOptSetBool(doc_, TidyShowWarnings, no);
    tidyOptSetBool(doc_, TidyForceOutput, yes);
    tidyOptSetInt(doc_, TidyShowErrors, 0);
    tidyOptSetValue(doc_, TidyEmptyTags, "v:imagedata");
    tidyOptSetValue(doc_, TidyInlineTags, "w:wrap");
    tidySetInCharEncoding(doc_, encoding);
    // Parser errors are reported, never fatal: a negative result still
    // leaves whatever tree was built.
    int rc = tidyParseString(doc_, text.c_str());
    return rc >= 0 || tidyGetRoot(doc_) != nullptr;
  }
  TidyDoc doc() const { return doc_; }

 private:
  TidyDoc doc_ = nullptr;
  TidyBuffer errors_;
};

std::string NodeName(TidyNode node) {
  ctmbstr name = tidyNodeGetName(node);
  return name ? Lower(name) : std::string();
}

bool Attribute(TidyNode node, const char* name, std::string* value) {
  for (TidyAttr a = tidyAttrFirst(node); a; a = tidyAttrNext(a)) {
    ctmbstr n = tidyAttrName(a);
    if (n && strcasecmp(n, name) == 0) {
      ctmbstr v = tidyAttrValue(a);
      *value = v ? v : "";
      return true;
    }
  }
  return false;
}

// Elements dropped with all their content.
bool IsDropped(const std::string& name) {
  static const char* const kDropped[] = {
      "script", "style", "noscript", "iframe", "frame", "frameset", "object", "embed",
      "applet", "head", "title", "template", "svg", "math", "canvas", "audio", "video",
      "select", "textarea", "input", "meta", "link", "base", "param", "source", "track",
      "noembed", "noframes", "xml", "map", "area", "datalist", "option", "optgroup",
      "bgsound", "layer", "ilayer", "server", "comment", "portal", "dialog"};
  for (const char* d : kDropped)
    if (name == d) return true;
  return false;
}

bool IsBlock(const std::string& name) {
  static const char* const kBlocks[] = {
      "p", "div", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "pre", "address",
      "center", "section", "article", "header", "footer", "nav", "aside", "main", "figure",
      "figcaption", "form", "fieldset", "legend", "dt", "dd", "caption", "details", "summary",
      "listing", "hgroup", "body", "html"};
  for (const char* b : kBlocks)
    if (name == b) return true;
  return false;
}

// ---- URLs ---------------------------------------------------------------------------

// The URL as a link target, or empty when it must not become one: only
// ordinary schemes and relative references are taken.
std::string SafeUrl(const std::string& raw) {
  std::string url = Trim(raw);
  if (url.empty()) return url;
  for (char c : url)
    if (static_cast<unsigned char>(c) < 0x20) return std::string();  // hides a scheme
  size_t colon = url.find(':');
  size_t delimiter = url.find_first_of("/?#");
  if (colon == std::string::npos || (delimiter != std::string::npos && delimiter < colon))
    return url;  // relative
  std::string scheme = Lower(url.substr(0, colon));
  static const char* const kAllowed[] = {"http", "https", "ftp", "mailto", "news", "nntp",
                                         "notes", "tel"};
  for (const char* a : kAllowed)
    if (scheme == a) return url;
  return std::string();
}

// ---- images -------------------------------------------------------------------------

bool ImageKind(const std::vector<uint8_t>& b, uint16_t* type) {
  if (b.size() >= 6 && std::memcmp(b.data(), "GIF8", 4) == 0) return *type = kImageGif, true;
  if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return *type = kImageJpeg, true;
  if (b.size() >= 24 && std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8) == 0)
    return *type = kImagePng, true;
  return false;
}

void NaturalSize(const std::vector<uint8_t>& b, uint16_t type, uint16_t* w, uint16_t* h) {
  *w = *h = 0;
  if (type == kImagePng) {
    auto be32 = [&](size_t at) {
      return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
    };
    *w = uint16_t(std::min<uint32_t>(be32(16), 0xFFFF));
    *h = uint16_t(std::min<uint32_t>(be32(20), 0xFFFF));
    return;
  }
  ImageDataPixelSize(b.data(), uint32_t(b.size()), w, h);
}

uint16_t PixelAttribute(TidyNode node, const char* name) {
  std::string v;
  if (!Attribute(node, name, &v)) return 0;
  v = Trim(v);
  if (v.empty() || v.find('%') != std::string::npos) return 0;
  unsigned long n = 0;
  for (char c : v) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    n = n * 10 + unsigned(c - '0');
    if (n > 0xFFFF) return 0xFFFF;
  }
  return uint16_t(n);
}

// ---- fonts --------------------------------------------------------------------------

constexpr uint32_t kAttrBold = 0x0100, kAttrItalic = 0x0200, kAttrUnderline = 0x0400,
                   kAttrStrike = 0x0800, kAttrSuper = 0x1000, kAttrSub = 0x2000;

uint32_t WithSize(uint32_t font, uint32_t points) {
  points = std::clamp<uint32_t>(points, 1, 255);
  return (font & 0x00FFFFFFu) | points << 24;
}
uint32_t WithFace(uint32_t font, int face) {
  if (face < 0 || face > 255) return font;
  return (font & 0xFFFFFF00u) | uint32_t(face);
}
uint32_t WithColor(uint32_t font, const std::string& text) {
  uint16_t index = 0;
  if (ParseColor(Trim(text).c_str(), &index, nullptr) != 0 || index > 255) return font;
  return (font & 0xFF00FFFFu) | uint32_t(index) << 16;
}

}  // namespace

// The walk over the tree.
class HtmlConverter {
 public:
  HtmlConverter(TidyDoc doc, ImportWriter* w, ComposeContext* ctx, const char* options,
                const HtmlMimeBody* related1, const HtmlMimeBody* related2)
      : doc_(doc), w_(w), ctx_(ctx), related1_(related1), related2_(related2) {
    char value[kOptionValueMax + 1];
    ignoreImages_ = GetOptionValue(options, "IgnoreImages=", value) && value[0] == '1';
    ignoreTables_ = GetOptionValue(options, "IgnoreTables=", value) && value[0] == '1';
    ignoreLinks_ = GetOptionValue(options, "IgnoreLinks=", value) && value[0] == '1';
  }

  NnStatus Run(uint32_t font) {
    CollectStyleSheets(tidyGetRoot(doc_), 0);
    TidyNode body = tidyGetBody(doc_);
    NnStatus st = body ? Children(body, font, 1) : Children(tidyGetRoot(doc_), font, 1);
    if (st == NN_OK) st = w_->Finish();
    return st;
  }

 private:
  struct ListLevel {
    uint8_t kind;  // 1 bullet, 2 number
  };

  NnStatus Children(TidyNode node, uint32_t font, uint32_t depth) {
    for (TidyNode c = tidyGetChild(node); c; c = tidyGetNext(c)) {
      NnStatus st = Node(c, font, depth);
      if (st != NN_OK) return st;
    }
    return NN_OK;
  }

  // An input shows its value, kept as text as the labels of button elements
  // are: a push button's (or the browser's word for a submit or reset
  // without one), and that of a field a value is typed in. A password's
  // value, hidden fields and boxes to tick show no text.
  NnStatus InputLabel(TidyNode node, uint32_t font) {
    static const char* const kTyped[] = {"text", "search", "email",  "url",  "tel",
                                         "number", "date", "time", "month", "week",
                                         "datetime-local"};
    std::string type = "text", label;
    Attribute(node, "type", &type);
    type = Lower(Trim(type));
    const bool typed = std::find(std::begin(kTyped), std::end(kTyped), type) != std::end(kTyped);
    if (typed) {
      Attribute(node, "value", &label);
    } else if (type == "submit" || type == "reset" || type == "button") {
      if (!Attribute(node, "value", &label) && type != "button")
        label = type == "submit" ? "Submit" : "Reset";
    }
    if (label.empty()) return NN_OK;
    return w_->Text(label.data(), label.size(), font, false);
  }

  // A list shows its selected option, or its first when none is selected
  // (the options of a list that selects several: each selected one).
  NnStatus SelectedOptions(TidyNode select, uint32_t font) {
    std::vector<TidyNode> options, selected;
    for (TidyNode c = tidyGetChild(select); c; c = tidyGetNext(c)) {
      const std::string name = NodeName(c);
      if (name == "option") options.push_back(c);
      if (name == "optgroup")
        for (TidyNode o = tidyGetChild(c); o; o = tidyGetNext(o))
          if (NodeName(o) == "option") options.push_back(o);
    }
    std::string ignored;
    for (TidyNode o : options)
      if (Attribute(o, "selected", &ignored)) selected.push_back(o);
    if (selected.empty() && !options.empty()) selected.push_back(options.front());
    for (size_t i = 0; i < selected.size(); ++i) {
      NnStatus st = i ? w_->Text(", ", 2, font, false) : NnStatus(NN_OK);
      if (st == NN_OK) st = Children(selected[i], font, 1);
      if (st != NN_OK) return st;
    }
    return NN_OK;
  }

  NnStatus TextNode(TidyNode node, uint32_t font) {
    TidyBuffer buf;
    tidyBufInit(&buf);
    NnStatus st = NN_OK;
    if (tidyNodeGetValue(doc_, node, &buf) && buf.bp && buf.size) {
      const char* text = reinterpret_cast<const char*>(buf.bp);
      size_t size = buf.size;
      while (size && text[size - 1] == '\0') --size;
      if (preDepth_) {
        st = Preformatted(text, size, font);
      } else {
        st = w_->Text(text, size, font, false);
      }
    }
    tidyBufFree(&buf);
    return st;
  }

  NnStatus Preformatted(const char* text, size_t size, uint32_t font) {
    size_t start = 0;
    if (preFresh_ && size && text[0] == '\n') start = 1;  // the line end after <pre>
    preFresh_ = false;
    for (size_t i = start; i <= size; ++i) {
      if (i == size || text[i] == '\n') {
        std::string line(text + start, i - start);
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        NnStatus st = w_->Text(line.data(), line.size(), font, true);
        if (st == NN_OK && i < size) st = w_->LineBreak(font);
        if (st != NN_OK) return st;
        start = i + 1;
      }
    }
    return NN_OK;
  }

  // Content past the nesting bound: its text only, walked without recursion.
  NnStatus FlatText(TidyNode top, uint32_t font) {
    TidyNode node = tidyGetChild(top);
    while (node) {
      TidyNodeType type = tidyNodeGetType(node);
      bool descend = false;
      if (type == TidyNode_Text) {
        NnStatus st = TextNode(node, font);
        if (st != NN_OK) return st;
      } else if (type == TidyNode_Start || type == TidyNode_StartEnd) {
        std::string name = NodeName(node);
        if (name == "br" || IsBlock(name)) {
          NnStatus st = w_->Text(" ", 1, font, false);
          if (st != NN_OK) return st;
        }
        descend = !IsDropped(name) && tidyGetChild(node) != nullptr;
      }
      if (descend) {
        node = tidyGetChild(node);
        continue;
      }
      while (node && node != top && !tidyGetNext(node)) node = tidyGetParent(node);
      if (!node || node == top) break;
      node = tidyGetNext(node);
    }
    return NN_OK;
  }

  // ---- style sheets ----
  // The rules of the page's <style> elements that this importer can apply:
  // selectors "tag", ".class" and "tag.class" (lists of them separated by
  // commas), each with its declarations. Later rules win over earlier ones,
  // class rules over tag rules, and the element's own style over both.
  struct SheetRule {
    std::string tag, cls, declarations;
  };

  void CollectStyleSheets(TidyNode node, uint32_t depth) {
    if (!node || depth > kMaxImportDepth) return;
    for (TidyNode c = tidyGetChild(node); c; c = tidyGetNext(c)) {
      if (NodeName(c) == "style") {
        std::string css;
        for (TidyNode t = tidyGetChild(c); t; t = tidyGetNext(t)) {
          TidyBuffer buf;
          tidyBufInit(&buf);
          if (tidyNodeGetValue(doc_, t, &buf) && buf.bp)
            css.append(reinterpret_cast<const char*>(buf.bp), strnlen(reinterpret_cast<const char*>(buf.bp), buf.size));
          tidyBufFree(&buf);
        }
        ParseStyleSheet(css);
      } else {
        CollectStyleSheets(c, depth + 1);
      }
    }
  }

  void ParseStyleSheet(std::string css) {
    // Comments go first; at-rules (@media ...) and their blocks are skipped.
    for (size_t open = css.find("/*"); open != std::string::npos; open = css.find("/*", open)) {
      size_t close = css.find("*/", open + 2);
      css.erase(open, close == std::string::npos ? std::string::npos : close + 2 - open);
    }
    size_t pos = 0;
    while (pos < css.size() && sheet_.size() < kMaxSheetRules) {
      const size_t brace = css.find('{', pos);
      if (brace == std::string::npos) break;
      const std::string selectors = Trim(css.substr(pos, brace - pos));
      if (!selectors.empty() && selectors[0] == '@') {
        // Skip the at-rule's whole block, nested braces included.
        size_t at = brace + 1;
        int level = 1;
        while (at < css.size() && level) level += css[at] == '{' ? 1 : css[at] == '}' ? -1 : 0, ++at;
        pos = at;
        continue;
      }
      const size_t end = css.find('}', brace);
      const std::string declarations =
          css.substr(brace + 1, (end == std::string::npos ? css.size() : end) - brace - 1);
      pos = end == std::string::npos ? css.size() : end + 1;
      size_t from = 0;
      while (from <= selectors.size()) {
        size_t comma = selectors.find(',', from);
        if (comma == std::string::npos) comma = selectors.size();
        const std::string selector = Lower(Trim(selectors.substr(from, comma - from)));
        from = comma + 1;
        // Only simple selectors: no descendants, children, attributes or pseudo-classes.
        if (selector.empty() || selector.find_first_of(" >+~[:#*") != std::string::npos) continue;
        const size_t dot = selector.find('.');
        SheetRule rule;
        rule.tag = selector.substr(0, dot);
        if (dot != std::string::npos) {
          rule.cls = selector.substr(dot + 1);
          if (rule.cls.empty() || rule.cls.find('.') != std::string::npos) continue;
        }
        rule.declarations = declarations;
        sheet_.push_back(std::move(rule));
      }
    }
  }

  // The declarations the sheet gives the element, in the order they apply.
  std::string SheetDeclarations(TidyNode node) const {
    if (sheet_.empty()) return {};
    const std::string tag = NodeName(node);
    std::string classAttribute;
    Attribute(node, "class", &classAttribute);
    std::vector<std::string> classes;
    std::string lowered = Lower(classAttribute);
    size_t from = 0;
    while (from < lowered.size()) {
      size_t end = lowered.find_first_of(" \t\r\n", from);
      if (end == std::string::npos) end = lowered.size();
      if (end > from) classes.push_back(lowered.substr(from, end - from));
      from = end + 1;
    }
    std::string tagRules, classRules;
    for (const SheetRule& r : sheet_) {
      if (!r.tag.empty() && r.tag != tag) continue;
      if (r.cls.empty()) {
        tagRules += r.declarations + ";";
      } else if (std::find(classes.begin(), classes.end(), r.cls) != classes.end()) {
        classRules += r.declarations + ";";
      }
    }
    return tagRules + classRules;
  }

  // Each CSS declaration that applies to the element (the style sheet's
  // rules, then its own style), as a lower-case property and value.
  template <typename Apply>
  void Declarations(TidyNode node, Apply apply) const {
    std::string style = SheetDeclarations(node);
    std::string own;
    if (Attribute(node, "style", &own)) style += own;
    size_t pos = 0;
    while (pos < style.size()) {
      size_t semi = style.find(';', pos);
      if (semi == std::string::npos) semi = style.size();
      std::string decl = style.substr(pos, semi - pos);
      pos = semi + 1;
      size_t colon = decl.find(':');
      if (colon == std::string::npos) continue;
      std::string value = Lower(Trim(decl.substr(colon + 1)));
      size_t important = value.find("!important");
      if (important != std::string::npos) value = Trim(value.substr(0, important));
      apply(Lower(Trim(decl.substr(0, colon))), value);
    }
  }

  uint32_t StyledFont(TidyNode node, uint32_t font, ParaStyle* para) {
    Declarations(node, [&](const std::string& prop, const std::string& value) {
      StyleFont(prop, value, &font, para);
    });
    return font;
  }

  // One declaration's change to the font and the paragraph.
  void StyleFont(const std::string& prop, const std::string& value, uint32_t* fontOut,
                 ParaStyle* para) {
    uint32_t& font = *fontOut;
    if (prop == "font-weight") {
      int weight = std::atoi(value.c_str());
      if (value == "bold" || value == "bolder" || weight >= 600) font |= kAttrBold;
      else if (value == "normal" || value == "lighter" || (weight > 0 && weight < 600))
        font &= ~kAttrBold;
    } else if (prop == "font-style") {
      if (value == "italic" || value == "oblique") font |= kAttrItalic;
      else if (value == "normal") font &= ~kAttrItalic;
    } else if (prop == "text-decoration" || prop == "text-decoration-line") {
      if (value.find("underline") != std::string::npos) font |= kAttrUnderline;
      if (value.find("line-through") != std::string::npos) font |= kAttrStrike;
      if (value == "none") font &= ~(kAttrUnderline | kAttrStrike);
    } else if (prop == "color") {
      font = WithColor(font, value);
    } else if (prop == "font-family") {
      font = FaceFont(font, value);
    } else if (prop == "font-size") {
      font = SizeFromCss(font, value);
    } else if (prop == "vertical-align") {
      if (value == "super") font |= kAttrSuper;
      if (value == "sub") font |= kAttrSub;
    } else if (prop == "text-align" && para) {
      Justify(value, para);
    }
  }

  // A rule's width (a percentage, or pixels) and height (pixels), from its
  // width and size attributes or its style; the whole line two pixels high
  // when neither gives them.
  NnStatus Rule(TidyNode node) {
    uint16_t width = 100, height = 30;
    bool percent = true;
    // Whole pixels ("5", "5px") or a percentage ("50%"); -1 for anything else.
    auto length = [](const std::string& text, bool* isPercent) -> int {
      const std::string v = Lower(Trim(text));
      size_t end = 0;
      long n = 0;
      while (end < v.size() && std::isdigit(static_cast<unsigned char>(v[end])) && n < 100000)
        n = n * 10 + (v[end++] - '0');
      const std::string unit = Trim(v.substr(end));
      if (end == 0 || n == 0 || (unit != "" && unit != "px" && unit != "%")) return -1;
      *isPercent = unit == "%";
      return int(n);
    };
    auto setWidth = [&](const std::string& text) {
      bool p = false;
      const int n = length(text, &p);
      if (n < 0) return;
      percent = p;
      width = uint16_t(p ? std::min(n, 100) : std::min(n, 0xFFFF / 15) * 15);
    };
    auto setHeight = [&](const std::string& text) {
      bool p = false;
      const int n = length(text, &p);
      if (n > 0 && !p) height = uint16_t(std::min(n, 0xFFFF / 15) * 15);
    };
    std::string value;
    if (Attribute(node, "width", &value)) setWidth(value);
    if (Attribute(node, "size", &value)) setHeight(value);
    Declarations(node, [&](const std::string& prop, const std::string& v) {
      if (prop == "width") setWidth(v);
      if (prop == "height") setHeight(v);
    });
    return w_->HorizontalRule(width, percent, height);
  }

  static void Justify(const std::string& value, ParaStyle* para) {
    std::string v = Lower(Trim(value));
    if (v == "left" || v == "start") para->justify = 0;
    else if (v == "right" || v == "end") para->justify = 1;
    else if (v == "justify") para->justify = 2;
    else if (v == "center" || v == "middle") para->justify = 3;
  }

  uint32_t SizeFromCss(uint32_t font, const std::string& value) {
    static const struct {
      const char* word;
      uint32_t points;
    } kWords[] = {{"xx-small", 7}, {"x-small", 8}, {"small", 10}, {"medium", 12},
                  {"large", 14},   {"x-large", 18}, {"xx-large", 24}};
    for (const auto& k : kWords)
      if (value == k.word) return WithSize(font, k.points);
    double n = std::atof(value.c_str());
    if (n <= 0 || n > 1000) return font;
    if (value.find("px") != std::string::npos) return WithSize(font, uint32_t(n * 0.75 + 0.5));
    if (value.find("em") != std::string::npos || value.find('%') != std::string::npos) {
      double factor = value.find('%') != std::string::npos ? n / 100.0 : n;
      return WithSize(font, uint32_t(double(font >> 24) * factor + 0.5));
    }
    return WithSize(font, uint32_t(n + 0.5));  // points
  }

  uint32_t FaceFont(uint32_t font, const std::string& families) {
    size_t pos = 0;
    while (pos <= families.size()) {
      size_t comma = families.find(',', pos);
      if (comma == std::string::npos) comma = families.size();
      std::string name = Trim(families.substr(pos, comma - pos));
      pos = comma + 1;
      if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'')) name = name.substr(1, name.size() - 2);
      if (name.empty() || name.size() > kFaceNameMax) continue;
      std::string lower = Lower(name);
      if (lower == "serif") return WithFace(font, 0);
      if (lower == "sans-serif") return WithFace(font, 1);
      if (lower == "monospace") return WithFace(font, 4);
      int id = FontFaceIdForName(name.c_str());
      if (id < 0 && ctx_->item && name.size() < 32) id = ctx_->item->FindFaceByName(name.c_str(), true);
      if (id >= 0) return WithFace(font, id);
    }
    return font;
  }

  NnStatus Block(TidyNode node, uint32_t font, uint32_t depth, const ParaStyle& style) {
    ParaStyle saved = w_->Style();
    w_->Break();
    w_->SetStyle(style);
    NnStatus st = Children(node, font, depth + 1);
    w_->Break();
    w_->SetStyle(saved);
    return st;
  }

  NnStatus Node(TidyNode node, uint32_t font, uint32_t depth) {
    TidyNodeType type = tidyNodeGetType(node);
    if (type == TidyNode_Text) return TextNode(node, font);
    if (type != TidyNode_Start && type != TidyNode_StartEnd) return NN_OK;  // comments, PIs, code
    const std::string name = NodeName(node);
    if (name == "input") return InputLabel(node, font);
    // What a browser shows of a form's fields and of an object it does not
    // run: a text area's text, a list's selected option, the object's
    // fallback content.
    if (name == "textarea") {
      ++preDepth_;
      preFresh_ = true;
      NnStatus st = Children(node, font, depth + 1);
      --preDepth_;
      return st;
    }
    if (name == "select") return SelectedOptions(node, font);
    if (name == "object" && depth <= kMaxImportDepth) return Children(node, font, depth + 1);
    if (name.empty() || IsDropped(name)) return NN_OK;
    if (depth > kMaxImportDepth) return FlatText(node, font);

    ParaStyle para = w_->Style();
    std::string value;
    if (Attribute(node, "align", &value)) Justify(value, &para);
    font = StyledFont(node, font, &para);

    if (name == "br") return w_->LineBreak(font);
    if (name == "hr") return Rule(node);
    if (name == "img") return Image(node);
    if (name == "a") return Link(node, font, depth);
    if (name == "table") return Table(node, font, depth, para);
    if (name == "ul" || name == "ol" || name == "dir" || name == "menu") {
      lists_.push_back({uint8_t(name == "ol" ? 2 : 1)});
      NnStatus st = Block(node, font, depth, para);
      lists_.pop_back();
      return st;
    }
    if (name == "li") {
      para.list = lists_.empty() ? 1 : lists_.back().kind;
      para.level = uint8_t(std::clamp<size_t>(lists_.size(), 1, 20));
      return Block(node, font, depth, para);
    }
    if (name == "blockquote" || name == "dd") {
      para.indent = uint8_t(std::min(para.indent + 1, 20));
      return Block(node, font, depth, para);
    }
    if (name == "center") {
      para.justify = 3;
      return Block(node, font, depth, para);
    }
    if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
      static const uint32_t kHeading[] = {24, 18, 14, 12, 10, 8};
      return Block(node, WithSize(font | kAttrBold, kHeading[name[1] - '1']), depth, para);
    }
    if (name == "pre" || name == "listing" || name == "xmp" || name == "plaintext") {
      ++preDepth_;
      preFresh_ = true;
      NnStatus st = Block(node, WithFace(font, 4), depth, para);
      --preDepth_;
      return st;
    }
    if (IsBlock(name)) return Block(node, font, depth, para);

    // Inline elements.
    if (name == "b" || name == "strong") font |= kAttrBold;
    else if (name == "i" || name == "em" || name == "cite" || name == "var" || name == "dfn")
      font |= kAttrItalic;
    else if (name == "u" || name == "ins") font |= kAttrUnderline;
    else if (name == "s" || name == "strike" || name == "del") font |= kAttrStrike;
    else if (name == "sup") font |= kAttrSuper;
    else if (name == "sub") font |= kAttrSub;
    else if (name == "code" || name == "tt" || name == "kbd" || name == "samp") font = WithFace(font, 4);
    else if (name == "big") font = WithSize(font, (font >> 24) + 2);
    else if (name == "small") font = WithSize(font, (font >> 24) > 2 ? (font >> 24) - 2 : 1);
    else if (name == "font") font = FontElement(node, font);
    return Children(node, font, depth + 1);
  }

  uint32_t FontElement(TidyNode node, uint32_t font) {
    std::string value;
    if (Attribute(node, "face", &value)) font = FaceFont(font, Lower(value));
    if (Attribute(node, "color", &value)) font = WithColor(font, value);
    if (Attribute(node, "size", &value)) {
      std::string v = Trim(value);
      int n = std::atoi(v.c_str());
      if (!v.empty() && (v[0] == '+' || v[0] == '-')) n = 3 + n;
      static const uint32_t kSizes[] = {8, 10, 12, 14, 18, 24, 36};
      if (!v.empty()) font = WithSize(font, kSizes[std::clamp(n, 1, 7) - 1]);
    }
    return font;
  }

  NnStatus Link(TidyNode node, uint32_t font, uint32_t depth) {
    std::string value;
    NnStatus st = NN_OK;
    if (Attribute(node, "name", &value) || Attribute(node, "id", &value)) {
      value = Trim(value);
      if (!value.empty()) st = w_->Anchor(value);
      if (st != NN_OK) return st;
    }
    std::string url;
    if (!ignoreLinks_ && !w_->LinkOpen() && Attribute(node, "href", &value)) url = SafeUrl(value);
    if (url.empty()) return Children(node, font, depth + 1);
    st = w_->LinkBegin(url);
    if (st == NN_OK) st = Children(node, font, depth + 1);
    if (st == NN_OK) st = w_->LinkEnd();
    return st;
  }

  const HtmlMimeBody* FindPart(const std::string& cid) const {
    for (const HtmlMimeBody* list : {related1_, related2_})
      for (const HtmlMimeBody* b = list; b; b = b->next)
        if (b->contentId && strcasecmp(b->contentId, cid.c_str()) == 0) return b;
    return nullptr;
  }

  NnStatus Image(TidyNode node) {
    if (ignoreImages_) return NN_OK;
    std::string src;
    if (!Attribute(node, "src", &src)) return NN_OK;
    src = Trim(src);
    std::vector<uint8_t> bytes;
    if (src.size() > 5 && strncasecmp(src.c_str(), "data:", 5) == 0) {
      size_t comma = src.find(',');
      if (comma == std::string::npos) return NN_OK;
      std::string meta = Lower(src.substr(5, comma - 5));
      if (meta.rfind("image/", 0) != 0 || meta.find(";base64") == std::string::npos) return NN_OK;
      size_t textLength = src.size() - comma - 1;
      if (textLength / 4 * 3 > kMaxImageBytes) return NN_OK;  // a cut image is no image
      uint32_t capacity = uint32_t(textLength / 4 * 3 + 3);
      bytes.resize(capacity);
      uint32_t n = kv::Base64DecodeN(src.data() + comma + 1, textLength, bytes.data(), capacity);
      bytes.resize(n);
    } else if (src.size() > 4 && strncasecmp(src.c_str(), "cid:", 4) == 0) {
      const HtmlMimeBody* part = FindPart(src.substr(4));
      if (!part || !part->data || part->length > kMaxImageBytes) return NN_OK;
      bytes.assign(part->data, part->data + part->length);
    } else {
      return NN_OK;  // no fetching of images from elsewhere
    }
    uint16_t type = 0;
    if (!ImageKind(bytes, &type)) return NN_OK;
    uint16_t nw = 0, nh = 0;
    NaturalSize(bytes, type, &nw, &nh);
    std::string alt;
    Attribute(node, "alt", &alt);
    return w_->Graphic(bytes, type, nw, nh, PixelAttribute(node, "width"),
                       PixelAttribute(node, "height"), alt);
  }

  // ---- tables ----
  struct CellRef {
    TidyNode node;
    bool header;
  };

  void CollectRows(TidyNode table, std::vector<std::vector<CellRef>>* rows,
                   std::vector<TidyNode>* captions) {
    auto addRow = [&](TidyNode tr) {
      std::vector<CellRef> cells;
      for (TidyNode c = tidyGetChild(tr); c; c = tidyGetNext(c)) {
        std::string n = NodeName(c);
        if (n == "td" || n == "th") cells.push_back({c, n == "th"});
      }
      rows->push_back(std::move(cells));
    };
    for (TidyNode c = tidyGetChild(table); c; c = tidyGetNext(c)) {
      std::string n = NodeName(c);
      if (n == "tr") {
        addRow(c);
      } else if (n == "thead" || n == "tbody" || n == "tfoot") {
        for (TidyNode r = tidyGetChild(c); r; r = tidyGetNext(r))
          if (NodeName(r) == "tr") addRow(r);
      } else if (n == "caption") {
        captions->push_back(c);
      }
    }
  }

  NnStatus Table(TidyNode node, uint32_t font, uint32_t depth, const ParaStyle& para) {
    std::vector<std::vector<CellRef>> rows;
    std::vector<TidyNode> captions;
    CollectRows(node, &rows, &captions);
    NnStatus st = NN_OK;
    for (TidyNode caption : captions) {
      ParaStyle centered = para;
      centered.justify = 3;
      st = Block(caption, font, depth, centered);
      if (st != NN_OK) return st;
    }
    bool anyCell = false;
    for (const auto& r : rows) anyCell |= !r.empty();
    if (ignoreTables_ || tableDepth_ >= kMaxImportTableDepth || !anyCell) {
      // As paragraphs of the cell contents.
      for (const auto& r : rows)
        for (const CellRef& c : r) {
          st = Block(c.node, c.header ? font | kAttrBold : font, depth + 1, para);
          if (st != NN_OK) return st;
        }
      return NN_OK;
    }

    // Grid positions: each cell takes the first column not covered from above.
    struct Placed {
      CellRef cell;
      uint8_t row, column, rowSpan, columnSpan;
      bool merged;  // past the grid: its content joins the previous cell
    };
    std::vector<Placed> placed;
    std::vector<uint32_t> coveredUntil(kMaxColumns, 0);
    uint32_t columns = 0, firstRowColumns = 0;
    uint32_t rowNumber = 0;
    for (size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].empty()) continue;
      uint32_t row = std::min<uint32_t>(rowNumber, kMaxTableRows - 1);
      bool rowOverflow = rowNumber >= kMaxTableRows;
      uint32_t column = 0;
      for (const CellRef& c : rows[r]) {
        while (column < kMaxColumns && coveredUntil[column] > row) ++column;
        uint32_t rs = std::max<uint16_t>(PixelAttribute(c.node, "rowspan"), 1);
        uint32_t cs = std::max<uint16_t>(PixelAttribute(c.node, "colspan"), 1);
        if (rowOverflow || column >= kMaxColumns) {
          placed.push_back({c, 0, 0, 1, 1, true});
          continue;
        }
        rs = std::min<uint32_t>(rs, kMaxTableRows - row);
        cs = std::min<uint32_t>(cs, kMaxColumns - column);
        for (uint32_t k = column; k < column + cs; ++k) coveredUntil[k] = row + rs;
        placed.push_back({c, uint8_t(row), uint8_t(column), uint8_t(rs), uint8_t(cs), false});
        column += cs;
        columns = std::max(columns, column);
        if (rowNumber == 0) firstRowColumns = column;
      }
      ++rowNumber;
    }
    if (!firstRowColumns) firstRowColumns = columns ? columns : 1;

    // A table with a border draws a single line around each of its cells; a
    // table without one ("border" absent or 0) none.
    std::string borderValue;
    const bool bordered = Attribute(node, "border", &borderValue) &&
                          (Trim(borderValue).empty() || PixelAttribute(node, "border") > 0);
    const uint8_t cellBorder = bordered ? 0x55 : 0;

    ++tableDepth_;
    const uint32_t tableLevel = tableDepth_;
    st = w_->TableBegin(tableLevel);
    std::vector<ListLevel> savedLists;
    savedLists.swap(lists_);
    ParaStyle savedStyle = w_->Style();
    for (const Placed& p : placed) {
      if (st != NN_OK) break;
      if (!p.merged) {
        uint32_t width = 32768u * p.columnSpan / firstRowColumns;
        st = w_->Cell(tableLevel, p.row, p.column, p.rowSpan, p.columnSpan,
                      uint16_t(std::min<uint32_t>(width, 0xFFFF)), cellBorder);
        w_->SetStyle(ParaStyle());
      } else {
        w_->Break();
      }
      if (st == NN_OK) st = Children(p.cell.node, p.cell.header ? font | kAttrBold : font, depth + 2);
    }
    lists_.swap(savedLists);
    w_->SetStyle(savedStyle);
    if (st == NN_OK) st = w_->TableEnd(tableLevel);
    --tableDepth_;
    return st;
  }

  TidyDoc doc_;
  ImportWriter* w_;
  ComposeContext* ctx_;
  const HtmlMimeBody* related1_;
  const HtmlMimeBody* related2_;
  bool ignoreImages_ = false, ignoreTables_ = false, ignoreLinks_ = false;
  uint32_t preDepth_ = 0;
  bool preFresh_ = false;
  uint32_t tableDepth_ = 0;
  std::vector<ListLevel> lists_;
  static constexpr size_t kMaxSheetRules = 4096;
  std::vector<SheetRule> sheet_;
};

namespace {

// The parser's name for a character set, or null for one it does not read.
const char* TidyEncodingFor(std::string name) {
  name = Lower(Trim(name));
  if (name.size() >= 2 && (name.front() == '"' || name.front() == '\''))
    name = name.substr(1, name.size() - 2);
  static const struct {
    const char* name;
    const char* tidy;
  } kNames[] = {{"utf-8", "utf8"},          {"utf8", "utf8"},           {"iso-8859-1", "latin1"},
                {"latin1", "latin1"},       {"iso8859-1", "latin1"},    {"windows-1252", "win1252"},
                {"cp1252", "win1252"},      {"win1252", "win1252"},     {"us-ascii", "ascii"},
                {"ascii", "ascii"},         {"iso-8859-15", "latin0"},  {"latin-9", "latin0"},
                {"macintosh", "mac"},       {"mac", "mac"}};
  for (const auto& n : kNames)
    if (name == n.name) return n.tidy;
  return nullptr;
}

// The character set a document declares in a meta element ("<meta
// charset=...>", or "<meta http-equiv=Content-Type content='...; charset=...'>")
// before its body (within its first 64 KiB); empty when it declares none.
std::string DeclaredCharset(const char* text, size_t n) {
  const std::string head = Lower(std::string(text, std::min<size_t>(n, 65536)));
  const size_t body = head.find("<body");
  for (size_t at = head.find("<meta"); at != std::string::npos && at < body;
       at = head.find("<meta", at + 5)) {
    const size_t end = head.find('>', at);
    const std::string tag = head.substr(at, end == std::string::npos ? std::string::npos : end - at);
    size_t c = tag.find("charset=");
    if (c == std::string::npos) continue;
    c += 8;
    while (c < tag.size() && (tag[c] == '"' || tag[c] == '\'' || tag[c] == ' ')) ++c;
    size_t e = c;
    while (e < tag.size() && (std::isalnum(static_cast<unsigned char>(tag[e])) || tag[e] == '-' ||
                              tag[e] == '_' || tag[e] == ':' || tag[e] == '.'))
      ++e;
    if (e > c) return tag.substr(c, e - c);
  }
  return std::string();
}

// The input's character set: "Charset=" of the options (a name the parser
// does not read is refused: null), else the one the transport gave
// (`given`), else the one the document declares, else UTF-8.
const char* InputEncoding(const char* options, const char* given, const std::string& text) {
  std::string value;
  if (GetOptionValueString(options, "Charset=", &value)) return TidyEncodingFor(value);
  if (given && *given)
    if (const char* e = TidyEncodingFor(given)) return e;
  if (const char* e = TidyEncodingFor(DeclaredCharset(text.data(), text.size()))) return e;
  return "utf8";
}

// Every key of the options is one the import reads, with a value it can use
// (the switches 1 or 0, a font that reads as one); the character set is
// checked where it is chosen, the package where it is opened.
bool ImportOptionsUsable(const char* options, ComposeContext* ctx) {
  const char* p = options;
  OptionPair pair;
  int r;
  while ((r = NextOptionPair(&p, &pair)) != 0) {
    if (r < 0) return false;
    const std::string key = Lower(std::string(pair.key, pair.keyLength));
    const std::string value(pair.value, pair.valueLength);
    if (key == "ignoreimages" || key == "ignoretables" || key == "ignorelinks") {
      if (value != "0" && value != "1") return false;
    } else if (key == "font") {
      FontState state;
      uint32_t mask = 0;
      if (!value.empty() && ParseFontSpec(value.c_str(), nullptr, ctx->item, &state, &mask) != 0)
        return false;
    } else if (key != "charset" && key != "package") {
      return false;
    }
  }
  return true;
}

uint32_t StartFont(ImportWriter* w, const char* options, ComposeContext* ctx) {
  uint32_t font = w->BaseFont();
  char value[kOptionValueMax + 1] = {};
  if (GetOptionValue(options, "Font=", value) && value[0]) {
    FontState state;
    uint32_t mask = 0;
    if (ParseFontSpec(value, nullptr, ctx->item, &state, &mask) == 0)
      FontApplyChanges(&font, nullptr, nullptr, &state, mask);
  }
  return font;
}

NnStatus ConvertHtml(const char* text, size_t length, const char* options, ComposeContext* ctx,
                     const HtmlMimeBody* related1, const HtmlMimeBody* related2,
                     const char* charset = nullptr) {
  if (!ImportOptionsUsable(options, ctx)) return NN_ERR_INVALID_ARG;
  std::string bounded = BoundNesting(text, length);
  const char* encoding = InputEncoding(options, charset, bounded);
  if (!encoding) return NN_ERR_INVALID_ARG;
  TidyDocument doc;
  if (!doc.Parse(bounded, encoding)) return NN_ERR_INVALID_ARG;
  ImportWriter writer(ctx);
  NnStatus st;
  try {
    HtmlConverter converter(doc.doc(), &writer, ctx, options, related1, related2);
    st = converter.Run(StartFont(&writer, options, ctx));
  } catch (const std::bad_alloc&) {
    st = NN_ERR_MEMORY;
  }
  if (st != NN_OK) writer.Rollback();
  return st;
}

}  // namespace

}  // namespace kv::import

using kv::import::ConvertHtml;
using kv::import::ImportOptionsUsable;

NnStatus ImportHTMLFromBuffer(const char* text, uint32_t length, const char* options,
                              ComposeContext* ctx, const HtmlMimeBody* mimePart, int mode) {
  if (!text || !ctx || !ctx->session) return NN_ERR_INVALID_ARG;
  size_t n = length ? length : std::strlen(text);
  return ConvertHtml(text, n, options, ctx, mode == 2 ? mimePart : nullptr, nullptr);
}

namespace kv::import {
// Reads a whole file of at most kMaxImportFileSize bytes.
NnStatus ReadWholeFile(const char* file, std::string* out) {
  if (!file || !file[0]) return NN_ERR_INVALID_ARG;
  std::ifstream in(file, std::ios::binary);
  if (!in) return NN_ERR_FILE_NOT_FOUND;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0) return NN_ERR_FILE_IO;
  if (uint64_t(size) > kMaxImportFileSize) return NN_ERR_MEMORY;
  in.seekg(0, std::ios::beg);
  try {
    out->assign(size_t(size), '\0');
  } catch (const std::bad_alloc&) {
    return NN_ERR_MEMORY;
  }
  if (size && !in.read(out->data(), size)) return NN_ERR_FILE_IO;
  return NN_OK;
}
}  // namespace kv::import

NnStatus ImportHTMLFromFile(const char* file, const char* options, ComposeContext* ctx) {
  if (!ctx || !ctx->session) return NN_ERR_INVALID_ARG;
  std::string text;
  NnStatus st = kv::import::ReadWholeFile(file, &text);
  if (st != NN_OK) return st;
  return ConvertHtml(text.data(), text.size(), options, ctx, nullptr, nullptr);
}

NnStatus ImportPendingMimeBodies(const HtmlMimeBody* bodies, const HtmlMimeBody* related,
                                 const char* options, ComposeContext* ctx) {
  // Checked before the bodies: without an HTML body none would read them.
  if (!ctx || !ctx->session || !ImportOptionsUsable(options, ctx)) return NN_ERR_INVALID_ARG;
  // Either all bodies are imported or none: one writer's save point would
  // not cover several conversions, so the first failure takes back what the
  // earlier ones appended.
  RTRecordNode* before = ctx->newList ? ctx->newList->last : nullptr;
  bool hadList = ctx->newList != nullptr;
  uint32_t composed = ctx->composedCount;
  NnStatus st = NN_OK;
  for (const HtmlMimeBody* b = bodies; b && st == NN_OK; b = b->next) {
    const char* type = b->contentType ? b->contentType : "";
    if (!b->data || !b->length) continue;
    if (strncasecmp(type, "text/html", 9) == 0) {
      // The part's own character set comes before what the document declares.
      st = ConvertHtml(reinterpret_cast<const char*>(b->data), b->length, options, ctx, bodies,
                       related, b->charset);
    } else if (strncasecmp(type, "text/plain", 10) == 0) {
      st = EmitTextParagraphFromBuffer(reinterpret_cast<const char*>(b->data), b->length, 0, ctx);
    }
  }
  if (st != NN_OK && ctx->newList) {
    RTRecordNode* node = hadList ? (before ? before->next : ctx->newList->first) : ctx->newList->first;
    while (node) {
      RTRecordNode* next = node->next;
      RecordListUnlink(ctx->session, ctx->newList, node);
      node = next;
    }
    ctx->composedCount = composed;
  }
  return st;
}
