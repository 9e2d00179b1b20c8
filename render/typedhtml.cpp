// Typed bracket HTML: markup an author typed into a text run between "[<" and
// ">]". It reaches the page as markup, but only markup that formats: anyone
// who can write a document's text must not be able to run script in its
// readers' browsers. Elements outside a list of formatting elements lose their
// tags (their text stays); script-like elements lose their content too (up to
// their closing tag: one that is never closed loses its tag only); event
// attributes and URLs that run script or carry a document are dropped.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "nn/nn.h"
#include "render/render.h"

namespace {

bool NameIn(const std::string& name, const char* const* list) {
  for (const char* const* p = list; *p; ++p)
    if (strcasecmp(name.c_str(), *p) == 0) return true;
  return false;
}

// Elements that format, kept with their allowed attributes.
const char* const kKeptElements[] = {
    "a",      "abbr",    "acronym", "address", "b",      "big",      "blockquote", "br",
    "caption", "center", "cite",    "code",    "col",    "colgroup", "dd",         "del",
    "dfn",    "div",     "dl",      "dt",      "em",     "font",     "h1",         "h2",
    "h3",     "h4",      "h5",      "h6",      "hr",     "i",        "img",        "ins",
    "kbd",    "li",      "nobr",    "ol",      "p",      "pre",      "q",          "s",
    "samp",   "small",   "span",    "strike",  "strong", "sub",      "sup",        "table",
    "tbody",  "td",      "tfoot",   "th",      "thead",  "tr",       "tt",         "u",
    "ul",     "var",     "wbr",     nullptr};

// Elements dropped with everything inside them: their content is script,
// style, a nested document or markup parsed by other rules.
const char* const kDroppedWithContent[] = {
    "script", "style",   "iframe", "object", "embed",    "applet", "noscript", "noembed",
    "noframes", "template", "textarea", "title", "xmp", "plaintext", "svg", "math",
    "frameset", "frame", "head", nullptr};

// Attributes kept on the kept elements (URL attributes are checked apart).
const char* const kKeptAttributes[] = {
    "abbr",   "align",   "alt",     "bgcolor", "border",  "cellpadding", "cellspacing", "class",
    "clear",  "color",   "cols",    "colspan", "compact", "datetime",    "dir",         "face",
    "headers", "height", "hspace",  "id",      "lang",    "name",        "noshade",     "nowrap",
    "rel",    "rows",    "rowspan", "rules",   "scope",   "size",        "span",        "start",
    "summary", "target", "title",   "type",    "valign",  "value",       "vspace",      "width",
    "style",  nullptr};

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':' ||
         c == '.';
}
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == 0;
}

// The character references of an attribute value decoded the way a browser
// reads them before it looks at a URL's scheme. A named reference ("&name;")
// other than the five XML ones stays as written, and *unknown is the position
// in the result of the first such (npos: none): the caller cannot tell what it
// stands for. An "&" that starts no reference ("?a=1&b=2") is text.
std::string DecodeReferences(const std::string& value, size_t* unknown) {
  *unknown = std::string::npos;
  std::string out;
  for (size_t i = 0; i < value.size();) {
    if (value[i] != '&') {
      out += value[i++];
      continue;
    }
    size_t end = value.find(';', i);
    const size_t next = i + 1 < value.size() ? i + 1 : value.size();
    if (next < value.size() && value[next] == '#') {
      size_t j = next + 1;
      const bool hex = j < value.size() && (value[j] == 'x' || value[j] == 'X');
      if (hex) ++j;
      unsigned long code = 0;
      const size_t digitsStart = j;
      while (j < value.size() && (hex ? std::isxdigit(static_cast<unsigned char>(value[j]))
                                      : std::isdigit(static_cast<unsigned char>(value[j])))) {
        const char d = char(std::tolower(static_cast<unsigned char>(value[j])));
        if (code < 0x110000) code = code * (hex ? 16 : 10) + unsigned(d <= '9' ? d - '0' : d - 'a' + 10);
        ++j;
      }
      if (j == digitsStart) {
        out += value[i++];
        continue;
      }
      if (j < value.size() && value[j] == ';') ++j;
      // Only the ASCII range matters to a scheme; others stand for themselves.
      out += code > 0 && code < 0x80 ? char(code) : '?';
      i = j;
      continue;
    }
    bool named = end != std::string::npos && end > next &&
                 std::isalpha(static_cast<unsigned char>(value[next]));
    for (size_t k = next; named && k < end; ++k)
      named = std::isalnum(static_cast<unsigned char>(value[k])) != 0;
    if (!named) {
      out += value[i++];
      continue;
    }
    const std::string name = value.substr(next, end - next);
    static const char* const kNames[] = {"amp", "lt", "gt", "quot", "apos"};
    static const char kChars[] = {'&', '<', '>', '"', '\''};
    bool known = false;
    for (size_t k = 0; k < 5; ++k) {
      if (name == kNames[k]) {
        out += kChars[k];
        known = true;
      }
    }
    if (known) {
      i = end + 1;
      continue;
    }
    if (*unknown == std::string::npos) *unknown = out.size();
    out += value[i++];
  }
  return out;
}

// A URL attribute's value is kept when it cannot run script or bring in a
// document: no script schemes, and data URLs only for raster images (img).
bool UrlAllowed(const std::string& value, bool image) {
  size_t unknown = std::string::npos;
  const std::string url = DecodeReferences(value, &unknown);
  // A reference the filter cannot read may still make the scheme ("&colon;"),
  // unless what precedes it has settled the scheme already.
  if (unknown != std::string::npos && url.find_first_of(":/?#") >= unknown) return false;
  std::string compact;  // browsers drop blanks and controls inside a scheme
  for (char c : url)
    if (static_cast<unsigned char>(c) > 0x20) compact += char(std::tolower(static_cast<unsigned char>(c)));
  if (compact.rfind("data:", 0) == 0) {
    if (!image) return false;
    for (const char* type : {"data:image/png", "data:image/gif", "data:image/jpeg",
                             "data:image/jpg", "data:image/webp", "data:image/bmp"}) {
      const size_t n = std::strlen(type);
      if (compact.compare(0, n, type) == 0 && (compact[n] == ';' || compact[n] == ',')) return true;
    }
    return false;
  }
  return !IsRefusedUrl(url.data(), url.size());
}

// A style value that cannot load or run anything.
bool StyleAllowed(const std::string& value) {
  size_t unknown = std::string::npos;
  std::string css = DecodeReferences(value, &unknown);
  if (unknown != std::string::npos || css.find('\\') != std::string::npos) return false;
  for (char& c : css) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const char* bad : {"expression", "script", "url(", "@import", "binding", "behavior"})
    if (css.find(bad) != std::string::npos) return false;
  return true;
}

// The character reference that starts at text[at] ('&') in the form every
// reader takes where it can: a number, or one of the five names XML knows; an
// HTML name the renderer knows becomes its number. Any other name stays as
// written: an HTML reader knows it, and XHTML output then finds the markup is
// not XML. Returns the bytes it stands for in the text, 0 when no reference
// starts there (the '&' is then text).
size_t AppendReference(const std::string& text, size_t at, std::string* out) {
  size_t j = at + 1;
  if (j < text.size() && text[j] == '#') {
    ++j;
    const bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
    if (hex) ++j;
    const size_t digits = j;
    uint32_t code = 0;
    while (j < text.size() && j - digits < 8 &&
           (hex ? std::isxdigit(static_cast<unsigned char>(text[j]))
                : std::isdigit(static_cast<unsigned char>(text[j])))) {
      const char d = char(std::tolower(static_cast<unsigned char>(text[j++])));
      code = code * (hex ? 16 : 10) + uint32_t(d <= '9' ? d - '0' : d - 'a' + 10);
    }
    if (j == digits || j >= text.size() || text[j] != ';' || !XmlCharAllowed(code)) return 0;
    *out += "&#" + std::to_string(code) + ";";
    return j + 1 - at;
  }
  const size_t name = j;
  while (j < text.size() && j - name < 32 && std::isalnum(static_cast<unsigned char>(text[j]))) ++j;
  if (j == name || j >= text.size() || text[j] != ';' ||
      !std::isalpha(static_cast<unsigned char>(text[name])))
    return 0;
  const std::string word = text.substr(name, j - name);
  const uint32_t code = HtmlEntityCode(word.data(), word.size());  // 0 for the XML names too
  *out += code ? "&#" + std::to_string(code) + ";" : "&" + word + ";";
  return j + 1 - at;
}

// An attribute value for an attribute quoted with `quote`: references the
// author wrote stay (in the form every reader takes), everything else that
// could end the value is escaped.
void AppendValue(const std::string& value, char quote, std::string* out) {
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == quote) *out += quote == '"' ? "&quot;" : "&#39;";
    else if (c == '<') *out += "&lt;";
    else if (c == '>') *out += "&gt;";
    else if (c == 0) *out += ' ';
    else if (c == '&') {
      const size_t used = AppendReference(value, i, out);
      if (used == 0) *out += "&amp;";
      else i += used - 1;
    } else *out += c;
  }
}

// The UTF-8 text as ASCII: characters beyond it as numeric references, and
// characters that XML does not allow dropped, so that the markup reads the
// same whatever the page's character set and is XML where it is well-formed.
std::string AsciiWithReferences(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t i = 0; i < text.size();) {
    if (p[i] < 0x7F) {
      if (XmlCharAllowed(p[i])) out += char(p[i]);
      ++i;
      continue;
    }
    uint32_t code = 0;
    const size_t used = DecodeUtf8(p + i, text.size() - i, &code);
    if (used == 0) {
      ++i;
      continue;
    }
    if (XmlCharAllowed(code)) out += "&#" + std::to_string(code) + ";";
    i += used;
  }
  return out;
}

struct Tag {
  std::string name;
  bool closing = false;
  bool selfClosing = false;
  size_t end = 0;  // the position after ">"
  std::string attributes;  // the kept attributes, each with its leading blank
};

// Parses the tag that starts at text[at] ('<'); false when no tag starts there.
bool ReadTag(const std::string& text, size_t at, Tag* tag) {
  size_t i = at + 1;
  if (i < text.size() && text[i] == '/') {
    tag->closing = true;
    ++i;
  }
  if (i >= text.size() || !std::isalpha(static_cast<unsigned char>(text[i]))) return false;
  const size_t nameStart = i;
  while (i < text.size() && IsNameChar(text[i])) ++i;
  tag->name = text.substr(nameStart, i - nameStart);
  const bool image = strcasecmp(tag->name.c_str(), "img") == 0;
  std::string seen = " ";
  for (;;) {
    while (i < text.size() && (IsSpace(text[i]) || text[i] == '/')) {
      tag->selfClosing = text[i] == '/';
      ++i;
    }
    if (i >= text.size()) return false;
    if (text[i] == '>') {
      tag->end = i + 1;
      return true;
    }
    tag->selfClosing = false;
    const size_t attrStart = i;
    while (i < text.size() && !IsSpace(text[i]) && text[i] != '/' && text[i] != '>' &&
           text[i] != '=')
      ++i;
    if (i == attrStart) ++i;  // a stray character: passed over
    std::string name = text.substr(attrStart, i - attrStart);
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    while (i < text.size() && IsSpace(text[i])) ++i;
    std::string value;
    bool hasValue = false;
    char quote = '"';
    if (i < text.size() && text[i] == '=') {
      hasValue = true;
      ++i;
      while (i < text.size() && IsSpace(text[i])) ++i;
      if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
        quote = text[i++];
        const size_t close = text.find(quote, i);
        if (close == std::string::npos) return false;
        value = text.substr(i, close - i);
        i = close + 1;
      } else {
        const size_t valueStart = i;
        while (i < text.size() && !IsSpace(text[i]) && text[i] != '>') ++i;
        value = text.substr(valueStart, i - valueStart);
      }
    }
    if (tag->closing || name.empty() || !IsNameChar(name[0])) continue;
    // One attribute of a name (a repeated one is not XML).
    if (seen.find(" " + name + " ") != std::string::npos) continue;
    bool keep = false;
    if (name == "href") keep = hasValue && !image && UrlAllowed(value, false);
    else if (name == "src") keep = hasValue && image && UrlAllowed(value, true);
    else if (name == "style") keep = hasValue && StyleAllowed(value);
    else keep = NameIn(name, kKeptAttributes);
    if (!keep) continue;
    seen += name + " ";
    // The author's quotes stay (document markers are matched as written).
    tag->attributes += " " + name + "=" + quote;
    AppendValue(hasValue ? value : name, quote, &tag->attributes);
    tag->attributes += quote;
  }
}

// Where the element that starts before `from` ends: after its closing tag;
// `from` when it has none (its tag goes, the text after it stays).
size_t AfterClosingTag(const std::string& text, size_t from, const std::string& name) {
  for (size_t at = text.find("</", from); at != std::string::npos; at = text.find("</", at + 2)) {
    if (strncasecmp(text.c_str() + at + 2, name.c_str(), name.size()) == 0 &&
        !IsNameChar(text[at + 2 + name.size()])) {
      const size_t gt = text.find('>', at);
      return gt == std::string::npos ? text.size() : gt + 1;
    }
  }
  return from;
}

}  // namespace

std::string SanitizeTypedHtml(const char* html, size_t length) {
  // NULs become blanks, so the text stays one string.
  std::string platform(html, length);
  for (char& c : platform)
    if (c == 0) c = ' ';
  // The markup is read in the characters a browser will see: a character of
  // the platform set may take the byte of a quote or an angle bracket.
  std::string text = NnLmbcsToUtf8(platform.data(), platform.size());
  if (text.empty()) text = platform;  // not the platform's set: its ASCII part is kept below
  // Control characters are not text in XML, nor in the markup around them.
  size_t kept = 0;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 || b == '\t' || b == '\n' || b == '\r') text[kept++] = c;
  }
  text.resize(kept);
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '&') {
      const size_t used = AppendReference(text, i, &out);
      if (used == 0) out += "&amp;";
      i += used ? used : 1;
      continue;
    }
    if (c == '>') {
      out += "&gt;";
      ++i;
      continue;
    }
    if (c != '<') {
      out += c;
      ++i;
      continue;
    }
    if (text.compare(i, 4, "<!--") == 0) {
      // A comment stays when nothing in it could end it early or open markup.
      const size_t close = text.find("-->", i + 4);
      const size_t end = close == std::string::npos ? text.size() : close + 3;
      const std::string body =
          close == std::string::npos ? std::string() : text.substr(i + 4, close - i - 4);
      if (close != std::string::npos && body.find("--") == std::string::npos &&
          body.find('<') == std::string::npos && body.find('>') == std::string::npos &&
          (body.empty() || body[0] != '-'))
        out += text.substr(i, end - i);
      i = end;
      continue;
    }
    if (i + 1 < text.size() && (text[i + 1] == '!' || text[i + 1] == '?')) {
      // Declarations, CDATA and processing instructions never reach the page.
      const size_t gt = text.find('>', i);
      i = gt == std::string::npos ? text.size() : gt + 1;
      continue;
    }
    Tag tag;
    if (!ReadTag(text, i, &tag)) {
      out += "&lt;";
      ++i;
      continue;
    }
    if (NameIn(tag.name, kDroppedWithContent)) {
      i = tag.closing || tag.selfClosing ? tag.end : AfterClosingTag(text, tag.end, tag.name);
      continue;
    }
    i = tag.end;
    if (!NameIn(tag.name, kKeptElements)) continue;
    std::string name = tag.name;
    for (char& ch : name) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    // Empty elements close themselves, so that they are XML as well.
    static const char* const kEmpty[] = {"br", "hr", "img", "col", "wbr", nullptr};
    const bool empty = NameIn(name, kEmpty);
    if (tag.closing && empty) continue;
    out += tag.closing ? "</" : "<";
    out += name;
    if (!tag.closing) out += tag.attributes;
    out += tag.selfClosing || empty ? " />" : ">";
  }
  return AsciiWithReferences(out);
}
