// The document head and the body opening (depth-0 start of an HTML or XHTML
// render): paragraph classes, the global font, style-sheet link, scripts,
// "</head>", the body tag or a fragment's division, the form, and the style
// mappings of the fonts in use.
//
// Option values and document texts that land here are validated or escaped:
// text inside the style element cannot close it, colours must parse as
// colours, identifiers and URLs are restricted or percent-encoded.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <unordered_set>

#include "host/color.h"
#include "host/options.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/parastring.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace {

constexpr char kStyleOpen[] = "<style type=\"text/css\">";

bool PastRange(const RenderContext* ctx, const RTRecordNode* node) {
  return node == nullptr || (ctx->lastRecord && node->sequence > ctx->lastRecord->sequence);
}

uint16_t Word(const RTRecordNode* node, uint32_t offset) {
  uint16_t v = 0;
  if (node && node->data) kv::cd::ReadU16(node->data, node->length, offset, &v);
  return v;
}

bool IsText(const RTRecordNode* n) {
  return n && (n->signature == 0xFF85 || n->signature == 0xFFE4);
}

// The font of a text record longer than 8 bytes; a text-effect record before
// it (directly or before a begin record) takes precedence.
bool TextRunFont(const RTRecordNode* node, uint8_t font[4]) {
  if (!IsText(node) || node->length <= 8 || !node->data) return false;
  const RTRecordNode* source = node;
  const RTRecordNode* p = node->prev;
  if (p && p->signature == 0x00DD) p = p->prev;
  if (p && p->signature == 0xFFC3 && p->data && p->length >= 8) source = p;
  std::memcpy(font, source->data + 4, 4);
  return true;
}

uint32_t FontIdWord(const uint8_t font[4]) {
  return uint32_t{font[0]} | uint32_t{font[1]} << 8 | uint32_t{font[2]} << 16 |
         uint32_t{font[3]} << 24;
}

bool OutputEndsWith(const RenderContext* ctx, const char* text) {
  const size_t n = std::strlen(text);
  if (static_cast<size_t>(ctx->outputCursor - ctx->outputBuffer) < n) return false;
  return std::memcmp(ctx->outputCursor - n, text, n) == 0;
}

void CutOutput(RenderContext* ctx, size_t n) {
  ctx->outputCursor -= n;
  *ctx->outputCursor = 0;
}

// Text placed inside a style element: nothing in it may end the element or,
// in XHTML, start markup or an entity. CSS escapes keep the meaning.
std::string CssText(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    // '>' is a child combinator: it stays, except after "]]" (XML's "]]>").
    if (*p == '<') out += "\\3c ";
    else if (*p == '>' && out.size() >= 2 && out.compare(out.size() - 2, 2, "]]") == 0)
      out += "\\3e ";
    else if (*p == '&') out += "\\26 ";
    else if (static_cast<unsigned char>(*p) < 0x20 && *p != '\t' && *p != '\n' && *p != '\r')
      continue;
    else out += *p;
  }
  return out;
}

// Attribute value text (quotes, angle brackets and ampersands as references).
std::string AttributeText(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if (static_cast<unsigned char>(*p) >= 0x20) out += *p;
    }
  }
  return out;
}

}  // namespace

// Head markup an option brings ("AddStyleSheetInfo=", "HeadTag="): only
// meta and link elements and style elements holding style text are taken,
// rewritten so that every element is closed; anything else (scripts, event
// attributes, script URLs, stray text) refuses the whole value.
bool SafeHeadMarkup(const char* value, std::string* out) {
  out->clear();
  const char* p = value;
  auto skipBlanks = [&]() {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
  };
  skipBlanks();
  if (!*p) return false;
  while (*p) {
    if (*p != '<') return false;
    ++p;
    std::string name;
    while (std::isalpha(static_cast<unsigned char>(*p)))
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(*p++)));
    if (name != "meta" && name != "link" && name != "style") return false;
    std::string element = "<" + name;
    // Attributes: name="value" or name='value'.
    while (true) {
      skipBlanks();
      if (*p == '>' || (p[0] == '/' && p[1] == '>')) break;
      std::string attribute;
      while (std::isalnum(static_cast<unsigned char>(*p)) || *p == '-' || *p == ':')
        attribute += static_cast<char>(std::tolower(static_cast<unsigned char>(*p++)));
      // Event attributes run script; a meta element's http-equiv can
      // redirect the page.
      if (attribute.empty() || attribute.compare(0, 2, "on") == 0 || attribute == "http-equiv")
        return false;
      skipBlanks();
      if (*p != '=') return false;
      ++p;
      skipBlanks();
      const char quote = *p;
      if (quote != '"' && quote != '\'') return false;
      const char* start = ++p;
      while (*p && *p != quote) ++p;
      if (!*p) return false;
      const std::string text(start, static_cast<size_t>(p - start));
      ++p;
      std::string compact;
      for (char c : text)
        if (static_cast<unsigned char>(c) > 0x20)
          compact += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (compact.find("script:") != std::string::npos ||
          compact.find("data:") != std::string::npos ||
          compact.find("expression(") != std::string::npos)
        return false;
      element += " " + attribute + "=\"" + AttributeText(text.c_str()) + "\"";
    }
    const bool selfClosed = *p == '/';
    p += selfClosed ? 2 : 1;
    if (name == "style") {
      if (selfClosed) return false;
      const char* end = strcasestr(p, "</style>");
      if (!end) return false;
      const std::string css(p, static_cast<size_t>(end - p));
      if (css.find('<') != std::string::npos) return false;
      *out += element + ">" + CssText(css.c_str()) + "</style>";
      p = end + 8;
    } else {
      *out += element + " />";
      skipBlanks();
      // An explicit end tag of an empty element is taken too.
      const std::string endTag = "</" + name + ">";
      if (strncasecmp(p, endTag.c_str(), endTag.size()) == 0) p += endTag.size();
    }
    skipBlanks();
  }
  return true;
}

namespace {

// A path for a URL: backslashes become slashes; anything outside the
// unreserved set and "/" is percent-encoded.
std::string UrlPath(const char* text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : ""); *p;
       ++p) {
    unsigned char c = *p == '\\' ? '/' : *p;
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~')
      out += static_cast<char>(c);
    else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

bool IsHexColour(const char* v) {
  if (v[0] != '#' || std::strlen(v) != 7) return false;
  for (int i = 1; i < 7; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(v[i]))) return false;
  return true;
}

}  // namespace

bool ColourOption(const char* value, char out[8]) {
  if (!value || !value[0]) return false;
  if (IsHexColour(value)) {
    std::snprintf(out, 8, "%s", value);
    return true;
  }
  ColorRGB rgb;
  // A '#' value must have passed the exact form above.
  if (value[0] == '#' || ParseColor(value, nullptr, &rgb) != 0) return false;
  std::snprintf(out, 8, "#%02x%02x%02x", rgb.red, rgb.green, rgb.blue);
  return true;
}

bool OpeningBodyTag(const char* value, bool* body) {
  const size_t n = std::strlen(value);
  const bool isBody = strncasecmp(value, "<body", 5) == 0 &&
                      (value[5] == '>' || value[5] == ' ' || value[5] == '\t');
  const bool division = strncasecmp(value, "<div", 4) == 0 &&
                        (value[4] == '>' || value[4] == ' ' || value[4] == '\t');
  const bool tagOnly = n > 2 && value[0] == '<' && value[n - 1] == '>' && (isBody || division) &&
                       std::strchr(value + 1, '<') == nullptr &&
                       std::strchr(value, '>') == value + n - 1 && value[n - 2] != '/';
  size_t quotes = 0, apostrophes = 0;
  for (const char* p = value; *p; ++p) quotes += *p == '"', apostrophes += *p == '\'';
  if (body) *body = isBody;
  return tagOnly && quotes % 2 == 0 && apostrophes % 2 == 0;
}

namespace {

bool Fragment(const RenderContext* ctx) { return (ctx->renderFlagsA & 0x2) != 0; }

bool NewlinesWanted(const RenderContext* ctx) {
  return (ctx->renderFlagsA & 0xC00) != 0 && (ctx->encodingFlags & 0x1) == 0;
}

// The hide-when formula of a definition: the 0xFFBB record with its
// identifier next to it (after it, or before it as the paragraph layout
// operation writes it); true when it evaluates to a non-zero number.
const RTRecordNode* HideFormulaRecord(const RenderContext* ctx, const RTRecordNode* definition,
                                      uint16_t id) {
  for (const RTRecordNode* n = definition->next; !PastRange(ctx, n); n = n->next) {
    if (n->signature == 0xFFBB && Word(n, 4) == id) return n;
    if (n->signature == 0xFF82 || n->signature == 0x0083 || n->signature == 0x0081) break;
  }
  for (const RTRecordNode* n = definition->prev; n; n = n->prev) {
    if (n->signature == 0xFFBB && Word(n, 4) == id) return n;
    if (n->signature == 0xFF82 || n->signature == 0x0083 || n->signature == 0x0081) break;
  }
  return nullptr;
}

bool HiddenByFormula(RenderContext* ctx, const RTRecordNode* definition, uint16_t id) {
  const RTRecordNode* hide = HideFormulaRecord(ctx, definition, id);
  if (!hide || !hide->data || hide->length <= 14) return false;
  // The formula runs to the end of the record (or a NUL before it); the
  // formula operations want it NUL-terminated, so it is copied out.
  const char* text = reinterpret_cast<const char*>(hide->data) + 14;
  const std::string formula(text, strnlen(text, hide->length - 14));
  if (formula.empty()) return false;
  const NnHandle note = RenderNote(ctx);
  NnHandle compute = 0;
  if (NnComputeStart(formula.c_str(), &compute) != NN_OK) return false;
  NnHandle result = 0;
  uint32_t resultLen = 0;
  bool hidden = false;
  if (NnComputeEvaluate(compute, note, &result, &resultLen) == NN_OK && result) {
    const uint8_t* value = static_cast<const uint8_t*>(NnMemLock(result));
    const uint32_t size = NnMemSize(result);
    const uint32_t avail = resultLen < size ? resultLen : size;
    if (value && avail >= 2) {
      uint16_t type = 0;
      std::memcpy(&type, value, 2);
      double number = 0;
      if (type == NN_TYPE_NUMBER && avail >= 10) {
        std::memcpy(&number, value + 2, 8);
        hidden = number != 0;
      } else if (type == NN_TYPE_NUMBER_RANGE && avail >= 2 + 4 + 8) {
        // Range header (list count, range count), then the first number.
        uint16_t count = 0;
        std::memcpy(&count, value + 2, 2);
        if (count) {
          std::memcpy(&number, value + 6, 8);
          hidden = number != 0;
        }
      }
    }
    if (value) NnMemUnlock(result);
    NnMemFree(result);
  }
  NnComputeStop(compute);
  return hidden;
}

bool DefinitionHidden(RenderContext* ctx, const RTRecordNode* node, uint16_t id) {
  const uint16_t flags = Word(node, kv::cd::host::kPabFlags);
  const uint16_t x2 = node->length > kv::cd::host::kPabFlags2 + 1 ? Word(node, kv::cd::host::kPabFlags2) : 0;
  const bool preview = (ctx->renderFlagsC & 0x100) != 0;
  const bool web = (ctx->renderFlagsC & 0x200) != 0;
  if (!preview && (flags & 0x0010)) return true;
  if (preview && (flags & 0x0040)) return true;
  if (!web && (flags & 0x8000)) return true;
  if (web && (x2 & 0x0001)) return true;
  if (flags & 0x0800) return HiddenByFormula(ctx, node, id);
  return false;
}

// The border code of a table cell: four digits, top, right, bottom, left.
void BorderCode(const RTRecordNode* cell, int widths[4], char code[5]) {
  uint8_t flags = 0, packed = 0;
  uint16_t wide = 0;
  kv::cd::ReadU8(cell->data, cell->length, 11, &flags);
  kv::cd::ReadU8(cell->data, cell->length, 10, &packed);
  kv::cd::ReadU16(cell->data, cell->length, 12, &wide);
  int left, right, top, bottom;
  if (flags & 0x02) {
    left = wide & 0xF, right = (wide >> 4) & 0xF, top = (wide >> 8) & 0xF, bottom = wide >> 12;
  } else {
    left = packed & 3, right = (packed >> 2) & 3, top = (packed >> 4) & 3, bottom = packed >> 6;
  }
  widths[0] = top, widths[1] = right, widths[2] = bottom, widths[3] = left;
  for (int i = 0; i < 4; ++i) code[i] = static_cast<char>('0' + (widths[i] > 9 ? 9 : widths[i]));
  code[4] = 0;
}

void CollectBorderClass(RenderContext* ctx, const RTRecordNode* cell, uint16_t* codesThisPass) {
  int w[4];
  char code[5];
  BorderCode(cell, w, code);
  for (uint16_t i = 0; i < ctx->borderClassCount; ++i)
    if (std::strcmp(ctx->borderClassCodes[i], code) == 0) return;
  if (*codesThisPass >= 20 || ctx->borderClassCount >= kBorderClassSlots) return;
  std::string css = std::string("td.brdr") + code + " {";
  char part[64];
  if (w[0] == 0 && w[1] == 0 && w[2] == 0 && w[3] == 0) {
    css += "border:none; ";
  } else if (w[0] == w[1] && w[1] == w[2] && w[2] == w[3]) {
    std::snprintf(part, sizeof part, "border:%dpx solid black", w[0]);
    css += part;
  } else {
    static const char* const kNone[] = {"border-top:none; ", "border-left:none; ",
                                        "border-right:none; ", "border-bottom:none; "};
    static const char* const kWidth[] = {"border-top:%dpx solid black; ",
                                         "border-left:%dpx solid black; ",
                                         "border-right: %dpx solid black; ",
                                         "border-bottom: %dpx solid black; "};
    const int order[] = {w[0], w[3], w[1], w[2]};  // top, left, right, bottom
    for (int i = 0; i < 4; ++i) {
      if (order[i] == 0) {
        css += kNone[i];
      } else {
        std::snprintf(part, sizeof part, kWidth[i], order[i]);
        css += part;
      }
    }
    const size_t semi = css.rfind(';');
    if (semi != std::string::npos) css.erase(semi, 1);
  }
  css += "}";
  std::snprintf(ctx->scratchText, kScratchTextSize, "%s", css.c_str());
  // A pool failure leaves a null entry; the code still counts as seen.
  ctx->borderClassCss[ctx->borderClassCount] = POOL_STRDUP(ctx->session, ctx->scratchText);
  std::memcpy(ctx->borderClassCodes[ctx->borderClassCount], code, 5);
  ++ctx->borderClassCount;
  ++*codesThisPass;
}

// Formats a font with the font writer, takes the markup it wrote back out of
// the output, and collects the closing texts of what it opened.
void CaptureFontMarkup(RenderContext* ctx, const uint8_t font[4], const uint8_t* colorRecord,
                       int rightToLeft, std::string* markup, std::string* closing) {
  char* const start = ctx->outputCursor;
  OpenElement* const inlineHead = ctx->inlineElementList;
  OpenElement* const blockHead = ctx->blockElementList;
  WriteFontChangeHTML(ctx, font, colorRecord, 1, rightToLeft, 0, nullptr, 0);
  markup->assign(start, static_cast<size_t>(ctx->outputCursor - start));
  ctx->outputCursor = start;
  *start = 0;
  char buffer[1024] = {};
  PopOpenElementsInto(ctx, 1, inlineHead, buffer, sizeof buffer);
  PopOpenElementsInto(ctx, 0, blockHead, buffer, sizeof buffer);
  closing->assign(buffer);
}

// The declarations inside a formatted font's style attribute.
std::string StyleDeclarations(const RenderContext* ctx, const std::string& markup) {
  const char* open = ctx->styleDelimiterOpen ? ctx->styleDelimiterOpen : "";
  const char* close = ctx->styleDelimiterClose ? ctx->styleDelimiterClose : "";
  if (open[0] == '{' && close[0]) {
    size_t a = markup.find(open);
    if (a != std::string::npos) {
      a += std::strlen(open);
      size_t b = markup.find(close, a);
      if (b != std::string::npos) return markup.substr(a, b - a);
    }
  }
  size_t a = markup.find_first_of("\"'");
  if (a == std::string::npos) return {};
  size_t b = markup.find(markup[a], a + 1);
  if (b == std::string::npos) return {};
  return markup.substr(a + 1, b - a - 1);
}

// "OpeningGlobalStyle=": a complete style element is taken as it is when it
// holds no other markup; anything else is taken as body declarations.
bool WriteOpeningGlobalStyle(RenderContext* ctx, const char* value) {
  const size_t n = std::strlen(value);
  const char* close = "</style>";
  if (n > 16 && strncasecmp(value, "<style", 6) == 0 &&
      strcasecmp(value + n - std::strlen(close), close) == 0) {
    const char* gt = std::strchr(value, '>');
    const char* lastLt = std::strrchr(value, '<');
    const char* secondLt = std::strchr(value + 1, '<');
    if (gt && secondLt == lastLt && gt < secondLt) return RenderAppend(ctx, value);
  }
  std::string css = std::string(kStyleOpen) + "body {" + CssText(value) + "}</style>";
  return RenderAppend(ctx, css.c_str());
}

bool Line(RenderContext* ctx, const char* text) {
  return RenderAppend(ctx, text) && RenderAppend(ctx, "\n");
}

// A tab colour option: used when it is a colour, else the default.
std::string TabColour(const RenderContext* ctx, int index, const char* fallback) {
  char colour[8];
  if (ColourOption(ctx->tabColours[index], colour)) return colour;
  return fallback;
}

bool WriteScripts(RenderContext* ctx) {
  bool ok = true;
  // In XHTML a comment would hide the script from the browser: its text is
  // character data there instead.
  const bool xml = ctx->outputKind == kOutputXhtml;
  const char* const scriptOpen = xml ? "//<![CDATA[" : "<!--";
  const char* const scriptClose = xml ? "//]]>" : "-->";
  char value[kOptionValueMax + 1];
  if ((ctx->renderFlagsE & 0x1) && !GetOptionValue(ctx->optionString, "RicoHeader=", value)) {
    ok &= RenderAppend(ctx,
                       "<script type=\"text/javascript\" "
                       "src=\"prototype-1.4.0/dist/prototype.js\"></script>"
                       "<script type=\"text/javascript\" src=\"rico.js\"></script>");
  }
  ok &= RenderAppend(ctx, "\n");
  if ((ctx->renderFlagsB & 0x200) &&
      !GetOptionValue(ctx->optionString, "SectionCSSHeader=", value)) {
    const char* const kLines[] = {
        "<script language=\"javascript\" type=\"text/javascript\">",
        scriptOpen,
        "function expandCollapseSection(i,ch){",
        "  if (document.getElementById){",
        "    document.getElementById('sctn'+i+'e').style.display='none';",
        "    document.getElementById('sctn'+i+'c').style.display='none';",
        "    document.getElementById('sctn'+i+ch).style.display='block';",
        "  }",
        "}",
        scriptClose,
        "</script>"};
    for (const char* l : kLines) ok &= Line(ctx, l);
  }
  if ((ctx->renderFlagsB & 0x100) &&
      !GetOptionValue(ctx->optionString, "TabbedCSSHeader=", value)) {
    const std::string noSelBack = TabColour(ctx, 0, "#999966");
    const std::string noSelText = TabColour(ctx, 1, "#333333");
    const std::string selBack = TabColour(ctx, 2, "#cccc99");
    const std::string selText = TabColour(ctx, 3, "#ffffcc");
    char line[256];
    ok &= Line(ctx, "<script language=\"javascript\" type=\"text/javascript\">");
    ok &= Line(ctx, scriptOpen);
    ok &= Line(ctx, "function switchTab(numberOfTabs, tbl, i){");
    ok &= Line(ctx, "  if (document.getElementById){");
    ok &= Line(ctx, "    for (f=1;f<numberOfTabs+1;f++){");
    ok &= Line(ctx, "      document.getElementById('ttbl'+tbl+'row'+f).style.display='none';");
    std::snprintf(line, sizeof line,
                  "      document.getElementById('t'+tbl+'link'+f).style.background='%s';",
                  noSelBack.c_str());
    ok &= Line(ctx, line);
    std::snprintf(line, sizeof line,
                  "      document.getElementById('t'+tbl+'link'+f).style.color='%s';",
                  noSelText.c_str());
    ok &= Line(ctx, line);
    ok &= Line(ctx, "    }");
    ok &= Line(ctx, "    document.getElementById('ttbl'+tbl+'row'+i).style.display='block';");
    std::snprintf(line, sizeof line,
                  "    document.getElementById('t'+tbl+'link'+i).style.background='%s';",
                  selBack.c_str());
    ok &= Line(ctx, line);
    std::snprintf(line, sizeof line,
                  "    document.getElementById('t'+tbl+'link'+i).style.color='%s';",
                  selText.c_str());
    ok &= Line(ctx, line);
    const char* const kTail[] = {
        "  }", "}", scriptClose, "</script>", kStyleOpen, "ul#tabnav {",
        "font: bold 11px verdana, arial, sans-serif;", "list-style-type: none;",
        "padding-bottom: 24px;", "border-bottom:1px solid #6c6;", "margin: 0;", "}",
        "ul#tabnav li {", "float: left;", "height: 21px;", "background-color: #cfc;",
        "margin: 2px 2px 0 2px;", "border: 1px solid #6c6;", "}",
        "body#tab1 li.tab1, body#tab2 li.tab2,", "body#tab3 li.tab3, body#tab4 li.tab4 {",
        "border-bottom: 1px solid #fff;", "background-color: #fff;", "}",
        "body#tab1 li.tab1 a, body#tab2 li.tab2 a,", "body#tab3 li.tab3 a, body#tab4 li.tab4 a {",
        "color: #000;", "}", "", "#tabnav a {", "float: left;", "display: block;",
        "color: #666;", "text-decoration: none;", "padding: 4px;", "}", "#tabnav a:hover {",
        "background: #fff;", "}", "</style>"};
    for (const char* l : kTail) ok &= Line(ctx, l);
  }
  ok &= Line(ctx, "</head>");
  return ok;
}

}  // namespace

void WritePaperColor(NnHandle hNote, char* buffer) {
  if (!buffer) return;
  std::snprintf(buffer, 8, "#ffffff");
  if (!hNote) return;
  // The document's own page colour (a palette number) wins over its form's.
  char text[32] = {};
  uint16_t type = 0;
  if (NnItemInfo(hNote, "$PaperColor", 11, nullptr, &type, nullptr, nullptr) == NN_OK &&
      type == NN_TYPE_NUMBER &&
      NnItemConvertToText(hNote, "$PaperColor", text, sizeof text, ',') > 0) {
    char* end = nullptr;
    const long index = std::strtol(text, &end, 10);
    if (end != text && index >= 0 && index < kPaletteSize) {
      const uint8_t* rgb = PaletteRgbTable[static_cast<size_t>(index)];
      std::snprintf(buffer, 8, "#%.2x%.2x%.2x", rgb[0], rgb[1], rgb[2]);
      return;
    }
  }
  NnBlockId value;
  uint32_t valueLen = 0;
  if (NnItemInfo(hNote, "$Info", 5, nullptr, &type, &value, &valueLen) != NN_OK) return;
  const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
  if (!p || valueLen <= 2) {
    if (p) NnBlockUnlock(value);
    return;
  }
  const void* cursor = p + 2;
  NnDocumentRecord record{};
  // The RGB bytes count only when their colour flags say the colour is RGB;
  // otherwise (and in old records that end before them or hold other data
  // there) the palette index names the page colour.
  uint16_t index = 0xFFFF;
  if (NnOdsRead(&cursor, valueLen - 2, NN_ODS_DOCUMENT, &record) == NN_OK) {
    // Bits no colour value defines mean an old record with other data there.
    const bool colourValue = (record.paperColorFlags & ~0xF01Fu) == 0;
    if (colourValue && (record.paperColorFlags & 0x1)) {
      std::snprintf(buffer, 8, "#%.2x%.2x%.2x", record.paperColorRed, record.paperColorGreen,
                    record.paperColorBlue);
    } else {
      index = record.paperColor;
    }
  } else if (valueLen >= 2 + 4 && p[2] == 0x86) {
    index = static_cast<uint16_t>(p[4] | p[5] << 8);
  }
  if (index < kPaletteSize) {
    const uint8_t* rgb = PaletteRgbTable[index];
    std::snprintf(buffer, 8, "#%.2x%.2x%.2x", rgb[0], rgb[1], rgb[2]);
  }
  NnBlockUnlock(value);
}

void CollectClassRules(RenderContext* ctx) {
  if (!ctx || !ctx->session) return;
  ClassRule** tail = &ctx->classRules;
  while (*tail) tail = &(*tail)->next;
  for (RTRecordNode* n = ctx->currentRecord; !PastRange(ctx, n); n = n->next) {
    if (n->signature != 0x00A6 || !n->data || n->length <= 10) continue;
    // The style name (36 bytes at offset 10) beginning with "." names a class.
    char name[37] = {};
    const uint32_t avail = n->length - 10 < 36 ? n->length - 10 : 36;
    std::memcpy(name, n->data + 10, avail);
    if (name[0] != '.' || !name[1]) continue;
    bool valid = true;
    for (const char* p = name + 1; *p; ++p)
      if (!std::isalnum(static_cast<unsigned char>(*p)) && *p != '-' && *p != '_') valid = false;
    if (!valid) continue;
    bool known = false;
    for (ClassRule* r = ctx->classRules; r && !known; r = r->next)
      known = r->selector && std::strcmp(r->selector, name) == 0;
    if (known) continue;
    auto* rule = static_cast<ClassRule*>(POOL_ALLOC(ctx->session, sizeof(ClassRule), true));
    if (!rule) return;
    rule->selector = POOL_STRDUP(ctx->session, name);
    if (!rule->selector) {
      PoolFree(ctx->session, rule);
      return;
    }
    rule->paragraphId = Word(n, 8);
    *tail = rule;
    tail = &rule->next;
  }
}

NnStatus WriteDocumentHead(RenderContext* ctx) {
  if (!ctx || !ctx->outputBuffer || !ctx->outputCursor) return NN_ERR_INVALID_ARG;
  bool ok = true;
  const bool fragment = Fragment(ctx);
  const bool standardFonts = (ctx->renderFlagsA & 0x8) != 0;
  ReleaseParagraphTables(ctx);

  // 1.
  ctx->tableLevel = 0;
  ctx->layerDepth = 0;
  bool styleOpen = false;
  if (!(ctx->renderFlagsB & 0x1)) styleOpen = ok = RenderAppend(ctx, kStyleOpen);
  const size_t styleEnd = static_cast<size_t>(ctx->outputCursor - ctx->outputBuffer);

  // 2. Seeded counts make face 1, size 10 and colour 0 the defaults.
  ctx->faceUsage[1] = ctx->faceUsage[1] > 50 ? ctx->faceUsage[1] : 50;
  ctx->pointSizeUsage[10] = ctx->pointSizeUsage[10] > 50 ? ctx->pointSizeUsage[10] : 50;
  ctx->colourUsage[0] = ctx->colourUsage[0] > 50 ? ctx->colourUsage[0] : 50;

  if ((ctx->renderFlagsE & 0x800) && !ctx->classRules) CollectClassRules(ctx);

  // 3. Pre-pass. Formatting the class texts may meet a right-to-left
  // definition; paragraphs state "direction: ltr;" only after the first
  // right-to-left one the walk writes.
  const uint32_t rightToLeftSeen = ctx->rightToLeftSeen;
  uint16_t codesThisPass = 0;
  const RTRecordNode* cells[9] = {};
  for (RTRecordNode* n = ctx->currentRecord; !PastRange(ctx, n); n = n->next) {
    const uint16_t sig = n->signature;
    uint8_t font[4];
    if (TextRunFont(n, font)) {
      if (ctx->faceUsage[font[0]] < 255) ++ctx->faceUsage[font[0]];
      if (ctx->colourUsage[font[2]] < 255) ++ctx->colourUsage[font[2]];
      if (ctx->pointSizeUsage[font[3]] < 255) ++ctx->pointSizeUsage[font[3]];
    } else if (sig == 0x00A3 || sig == 0x00CF) {
      if (ctx->tableLevel < 8) ++ctx->tableLevel;
      ctx->tableLevelValues[0][ctx->tableLevel] = Word(n, 8);
      ctx->tableLevelValues[1][ctx->tableLevel] = Word(n, 10);
      cells[ctx->tableLevel] = nullptr;
    } else if (sig == 0x00A5 || sig == 0x00D1) {
      if (ctx->tableLevel > 0) --ctx->tableLevel;
    } else if (sig == 0x00A4 || sig == 0x00D0) {
      cells[ctx->tableLevel] = n;
      if (ctx->renderFlagsA & 0x4000) CollectBorderClass(ctx, n, &codesThisPass);
    } else if (sig == 0x00DD && (Word(n, 4) & 0xFF) == 108) {
      ++ctx->layerDepth;
    } else if (sig == 0x00DE && (Word(n, 4) & 0xFF) == 108) {
      if (ctx->layerDepth > 0) --ctx->layerDepth;
    } else if (sig == 0xFF82 && n->data && n->length >= kv::cd::host::kPabFixed) {
      if ((ctx->renderFlagsE & 0x800) && n->next && n->next->signature == 0x00A6) continue;
      const uint16_t id = Word(n, kv::cd::host::kPabId);
      if (!IsParagraphIdMapped(ctx, id)) continue;
      if ((ctx->renderFlagsB & 0x2000) && DefinitionHidden(ctx, n, id)) {
        AddHiddenParagraphId(ctx, id);
        continue;
      }
      if (Word(n, kv::cd::host::kPabFlags) & (kPabBullet | kPabNumbered))
        CollectParagraphDefinition(ctx, n);
      if (FindParagraphClassCss(ctx, id)) continue;  // one class per identifier
      std::memset(ctx->scratchText, 0, 2048);
      ctx->head.cellInForce = cells[ctx->tableLevel];
      FormatParagraphCss(ctx, n, ctx->scratchText, 2048);
      // Classes come before every paragraph: none states "direction: ltr;"
      // unless "ForceDirection=" asked for it from the start.
      ctx->rightToLeftSeen = rightToLeftSeen;
      const char* interned = InternRenderString(ctx, ctx->scratchText);
      if (!interned || !AddParagraphClass(ctx, id, interned)) return NN_ERR_MEMORY;
    }
  }
  ctx->head.cellInForce = nullptr;
  ctx->rightToLeftSeen = rightToLeftSeen;

  // 4.
  char value[kOptionValueMax + 1];
  // Inside the open style element the value is style text. Without one it is
  // head markup (a link or style element), or style text that gets a style
  // element of its own; it never lands as text of the page.
  // The value lands whole, however long.
  std::string sheet;
  if (GetOptionValueString(ctx->optionString, "AddStyleSheetInfo=", &sheet) && !sheet.empty()) {
    const char* value = sheet.c_str();
    if (styleOpen) {
      ok &= RenderAppend(ctx, CssText(value).c_str());
    } else {
      const char* first = value;
      while (*first == ' ' || *first == '\t' || *first == '\r' || *first == '\n') ++first;
      std::string markup;
      if (*first != '<')
        ok &= RenderAppendf(ctx, "%s%s</style>", kStyleOpen, CssText(value).c_str());
      else if (SafeHeadMarkup(first, &markup))
        ok &= RenderAppend(ctx, markup.c_str());
    }
  }

  // 5. Class rules.
  const uint32_t classes = ParagraphClassTotal(ctx);
  const char* newline = NewlinesWanted(ctx) ? "\n" : "";
  auto cutEmptyStyle = [&]() {
    if (styleOpen && OutputEndsWith(ctx, kStyleOpen) &&
        static_cast<size_t>(ctx->outputCursor - ctx->outputBuffer) == styleEnd) {
      CutOutput(ctx, std::strlen(kStyleOpen));
      styleOpen = false;
    }
  };
  if (!standardFonts) {
    if (classes == 0) {
      cutEmptyStyle();
    } else if (styleOpen) {
      ok &= RenderAppend(ctx, newline);
      for (uint32_t i = 0; i < classes && ok; ++i) {
        const uint16_t id = ParagraphClassIdAt(ctx, i);
        const char* css = ParagraphClassCssAt(ctx, i);
        const char* element = FindNumberedListDefinition(ctx, id) ? "ol"
                              : FindBulletListDefinition(ctx, id) ? "ul"
                              : (ctx->renderFlagsD & 0x100)       ? "p"
                                                                  : "div";
        ok &= RenderAppendf(ctx, "%s.pabid%d {%s}", element, id, CssText(css).c_str());
        ok &= RenderAppend(ctx, newline);
      }
    }
  } else if ((ctx->renderFlagsD & 0x1000) || !ctx->scratchText[0]) {
    // "HybridFontTags=" (or no class text at all): no empty style element.
    cutEmptyStyle();
  }
  // The cell border classes ("CSSBorders="): in the open style element, or
  // in one of their own.
  if (ctx->borderClassCount) {
    if (!styleOpen) ok &= RenderAppend(ctx, kStyleOpen);
    styleOpen = true;
    for (uint16_t i = 0; i < ctx->borderClassCount && ok; ++i) {
      if (!ctx->borderClassCss[i]) continue;
      ok &= RenderAppend(ctx, ctx->borderClassCss[i]);
      ok &= RenderAppend(ctx, newline);
    }
  }
  // Whatever was opened is closed: the head must stay well-formed.
  if (styleOpen) {
    ok &= RenderAppend(ctx, "</style>");
    styleOpen = false;
  }

  // 6. Global font.
  uint8_t face = 1, colour = 0, size = 10;
  for (int i = 1; i < 256; ++i)
    if (ctx->faceUsage[i] > ctx->faceUsage[face]) face = static_cast<uint8_t>(i);
  for (int i = 0; i < 256; ++i)
    if (ctx->colourUsage[i] > ctx->colourUsage[colour]) colour = static_cast<uint8_t>(i);
  for (int i = 0; i < 256; ++i)
    if (ctx->pointSizeUsage[i] > ctx->pointSizeUsage[size]) size = static_cast<uint8_t>(i);
  if (ctx->item) {
    ctx->item->defaultFace = 1;
    ctx->item->defaultColor = 0;
    ctx->item->defaultPointSize = 10;
  }
  ctx->baseFont[0] = std::strchr(ctx->faceNames[5], ',') ? 0xFF : 1;
  ctx->baseFont[1] = 0;
  ctx->baseFont[2] = 0;
  ctx->baseFont[3] = 10;
  const bool hasOpening = GetOptionValue(ctx->optionString, "OpeningGlobalStyle=", value) != 0;
  if (face == 1 && colour == 0 && size == 10 && ctx->styleVariant != 4) {
    if (!fragment && hasOpening) ok &= WriteOpeningGlobalStyle(ctx, value);
  } else {
    const uint8_t font[4] = {face, 0, colour, size};
    std::string markup, closing;
    ctx->globalStyleActive = 1;
    CaptureFontMarkup(ctx, font, nullptr, 0, &markup, &closing);
    ctx->globalStyleActive = 0;
    if (ctx->item) ctx->item->CreateInternalStyleMapping(markup.c_str(), closing.c_str(),
                                                         FontIdWord(font));
    if (!standardFonts && !fragment) {
      if (hasOpening) {
        ok &= WriteOpeningGlobalStyle(ctx, value);
      } else if (markup.size() > 20) {
        const std::string css = CssText(StyleDeclarations(ctx, markup).c_str());
        ok &= RenderAppendf(ctx, "%sbody {%s}</style>", kStyleOpen, css.c_str());
      }
      std::memcpy(ctx->baseFont, font, 4);
    } else if (standardFonts && fragment && markup.size() > 6) {
      // The formatted font stays open for the fragment: the body opening
      // opens it inside the fragment's element, and the page end closes it.
      std::memcpy(ctx->baseFont, font, 4);
      ctx->head.fragmentFontOpen = 1;
    }
  }

  if (!fragment) {
    // 7.
    if (ctx->stylesheetUrl && ctx->stylesheetUrl[0])
      ok &= RenderAppendf(ctx, "<link rel=\"stylesheet\" type=\"text/css\" href=\"%s\"/>",
                          AttributeText(ctx->stylesheetUrl).c_str());
    // 8. "HeadTag=" adds the caller's head markup (up to its own "</head>");
    // the scripts that the body's section and tab handlers call still
    // follow, and the head closes once, so the page stays well-formed.
    if (GetOptionValue(ctx->optionString, "HeadTag=", value)) {
      char* close = strcasestr(value, "</head>");
      if (close) *close = 0;
      std::string markup;
      if (SafeHeadMarkup(value, &markup)) ok &= RenderAppend(ctx, markup.c_str());
    }
    ok &= WriteScripts(ctx);
    // 9.
    if (NewlinesWanted(ctx)) ok &= RenderAppend(ctx, "\n");
  }
  return ok ? NN_OK : NN_ERR_MEMORY;
}

bool CellBorderClass(const RenderContext* ctx, const RTRecordNode* cell, char* name, size_t size) {
  if (!ctx || !cell || !cell->data || !name || size == 0 || !(ctx->renderFlagsA & 0x4000))
    return false;
  int widths[4];
  char code[5];
  BorderCode(cell, widths, code);
  for (uint16_t i = 0; i < ctx->borderClassCount; ++i) {
    if (!ctx->borderClassCss[i] || std::strcmp(ctx->borderClassCodes[i], code) != 0) continue;
    std::snprintf(name, size, "brdr%s", code);
    return true;
  }
  return false;
}

bool WritePageClosings(RenderContext* ctx) {
  if (!ctx || !ctx->head.pageClosing[0]) return true;
  const bool ok = RenderAppend(ctx, ctx->head.pageClosing);
  ctx->head.pageClosing[0] = 0;
  return ok;
}

NnStatus WriteBodyOpening(RenderContext* ctx) {
  if (!ctx || !ctx->outputBuffer || !ctx->outputCursor) return NN_ERR_INVALID_ARG;
  bool ok = true;
  const bool fragment = Fragment(ctx);
  char value[kOptionValueMax + 1];

  // What the opening leaves open is closed at the end of the page, innermost
  // first (WritePageClosings).
  std::string closings;
  bool opened = false;
  // 1. "OpeningBody=": a single body or div start tag, nothing else.
  if (GetOptionValue(ctx->optionString, "OpeningBody=", value)) {
    bool body = false;
    if (OpeningBodyTag(value, &body)) {
      const bool division = !body;
      // A division opening a whole page stands inside a body of its own.
      if (division && !fragment) ok &= RenderAppend(ctx, "<body>");
      ok &= RenderAppend(ctx, value);
      closings = body ? "</body>" : "</div>";
      opened = true;
    }
  }
  if (!opened && !fragment) {
    // 2.
    char colour[8] = {};
    const bool given = GetOptionValue(ctx->optionString, "bgcolor=", value) != 0;
    if (!given || !ColourOption(value, colour))
      WritePaperColor(ctx->item ? ctx->item->hNote : 0, colour);
    ok &= RenderAppendf(ctx, "<body style='background: %s;'", colour);
    if (!(ctx->renderFlagsA & 0x8)) {
      if (!(ctx->renderFlagsE & 0x200)) {
        const uint8_t c = ctx->baseFont[2];
        if (c == 0 || c >= kPaletteSize) {
          ok &= RenderAppend(ctx, " text='#000000'>");
        } else {
          const uint8_t* rgb = PaletteRgbTable[c];
          ok &= RenderAppendf(ctx, " text='#%.2x%.2x%.2x'>", rgb[0], rgb[1], rgb[2]);
        }
      } else {
        ok &= RenderAppend(ctx, "><p><a id=\"_TOP_\"></a></p>");
      }
    } else {
      ok &= RenderAppend(ctx, ">");
    }
    std::snprintf(ctx->head.pageColor, sizeof ctx->head.pageColor, "#ffffff");
  } else if (fragment) {
    // 3.
    bool division = false;
    if (GetOptionValue(ctx->optionString, "AjaxID=", value) && value[0]) {
      bool clean = true;
      for (const unsigned char* p = reinterpret_cast<unsigned char*>(value); *p; ++p)
        if (*p <= 0x20 || *p == '"' || *p == '\'' || *p == '&' || *p == '<' || *p == '>')
          clean = false;
      if (clean) {
        ok &= RenderAppendf(ctx, "<div id='%s'>", value);
        closings.insert(0, "</div>");
        division = true;
      }
    }
    // 4.
    if (!division && !opened && (ctx->renderFlagsE & 0x80)) {
      ok &= RenderAppend(ctx, "<body>");
      closings.insert(0, "</body>");
    }
  }

  // 5.
  if (ctx->formName && ctx->formName[0]) {
    const std::string db = EncodeUrlPath(SiteDatabasePath(ctx));
    const std::string form = UrlPath(ctx->formPath ? ctx->formPath : "");
    ok &= RenderAppendf(ctx, "<form method=\"post\" action=\"/%s/%s?CreateDocument\" name=\"_%s\">",
                        db.c_str(), form.c_str(), AttributeText(ctx->formName).c_str());
    closings.insert(0, "</form>");
  }
  // The fragment's global font, inside its element: the including page's
  // text after the fragment keeps its own font.
  if (fragment && ctx->head.fragmentFontOpen) {
    std::string markup, closing;
    ctx->globalStyleActive = 1;
    CaptureFontMarkup(ctx, ctx->baseFont, nullptr, 0, &markup, &closing);
    ctx->globalStyleActive = 0;
    ok &= RenderAppend(ctx, markup.c_str());
    closings.insert(0, closing);
    ctx->head.fragmentFontOpen = 0;
  }
  // The epilogue of a whole page closes its body itself.
  if (!fragment && closings.size() >= 7 && closings.compare(closings.size() - 7, 7, "</body>") == 0)
    closings.resize(closings.size() - 7);
  std::snprintf(ctx->head.pageClosing, sizeof ctx->head.pageClosing, "%s", closings.c_str());

  // 6. Style mappings of the fonts in use.
  if (ctx->item) {
    // Fonts already known to have their mapping are not looked up again.
    std::unordered_set<uint32_t> mapped;
    bool anyRun = false;
    uint32_t lastId = 0;  // runs mostly repeat the font before them
    for (RTRecordNode* n = ctx->currentRecord; !PastRange(ctx, n); n = n->next) {
      uint8_t font[4];
      if (!TextRunFont(n, font)) continue;
      const uint32_t id = FontIdWord(font);
      if (anyRun && id == lastId) continue;
      anyRun = true;
      lastId = id;
      if (!mapped.insert(id).second || ctx->item->GetStyleMappingByFontID(id, 1)) continue;
      const uint8_t* colorRecord = nullptr;
      if (n->next && n->next->signature == 0x00D2 && n->next->data && n->next->length >= 8)
        colorRecord = n->next->data;
      std::string markup, closing;
      CaptureFontMarkup(ctx, font, colorRecord, n->signature == 0xFFE4, &markup, &closing);
      if (!ctx->item->CreateInternalStyleMapping(markup.c_str(), closing.c_str(), id)) break;
    }
  }

  // 7.
  ctx->tableLevel = 0;
  ctx->sectionCounter = 0;
  std::memset(ctx->nestingCounters16, 0, sizeof ctx->nestingCounters16);
  std::memset(ctx->nestingCountersA, 0, sizeof ctx->nestingCountersA);
  std::memset(ctx->nestingCountersB, 0, sizeof ctx->nestingCountersB);
  return ok ? NN_OK : NN_ERR_MEMORY;
}
