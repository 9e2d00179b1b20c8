// DXL (XML) documents: loading a file into a database and writing one back.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

#include "store.h"
#include "xmllog.h"

namespace nnstore {

namespace {

// ---- Small helpers ---------------------------------------------------------------

const char* kDxlNamespace = "http://www.lotus.com/dxl";

bool isElement(const xmlNode* n, const char* name) {
  return n && n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

std::string elementName(const xmlNode* n) { return reinterpret_cast<const char*>(n->name); }

std::optional<std::string> attr(xmlNode* n, const char* name) {
  xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
  if (!v) return std::nullopt;
  std::string s(reinterpret_cast<const char*>(v));
  xmlFree(v);
  return s;
}

bool attrTrue(xmlNode* n, const char* name) {
  auto v = attr(n, name);
  return v && *v == "true";
}

xmlNode* firstElement(xmlNode* n, const char* name = nullptr) {
  for (xmlNode* c = n->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE && (!name || isElement(c, name))) return c;
  return nullptr;
}

// Text content; <break/> stands for a line break.
void gatherText(const xmlNode* n, std::string& out) {
  for (const xmlNode* c = n->children; c; c = c->next) {
    if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
      if (c->content) out += reinterpret_cast<const char*>(c->content);
    } else if (isElement(c, "break")) {
      out += '\n';
    } else if (c->type == XML_ELEMENT_NODE) {
      gatherText(c, out);
    }
  }
}

std::string textOf(const xmlNode* n) {
  std::string s;
  gatherText(n, s);
  return s;
}

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseHex(const std::string& s, size_t maxDigits, uint32_t* out) {
  if (s.empty() || s.size() > maxDigits) return false;
  uint32_t v = 0;
  for (char c : s) {
    int d = hexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | uint32_t(d);
  }
  *out = v;
  return true;
}

// Strict: whitespace is skipped, anything else outside the alphabet, a length
// that is not a multiple of four, or misplaced padding fails.
constexpr uint8_t kB64Pad = 64, kB64Space = 65, kB64Bad = 66;

struct Base64Table {
  uint8_t v[256];
  constexpr Base64Table() : v() {
    for (int c = 0; c < 256; ++c) v[c] = kB64Bad;
    for (int c = 'A'; c <= 'Z'; ++c) v[c] = uint8_t(c - 'A');
    for (int c = 'a'; c <= 'z'; ++c) v[c] = uint8_t(c - 'a' + 26);
    for (int c = '0'; c <= '9'; ++c) v[c] = uint8_t(c - '0' + 52);
    v[int('+')] = 62;
    v[int('/')] = 63;
    v[int('=')] = kB64Pad;
    v[int(' ')] = v[int('\t')] = v[int('\r')] = v[int('\n')] = kB64Space;
  }
};
constexpr Base64Table kB64;

bool decodeBase64Strict(const char* text, size_t n, std::vector<uint8_t>* out, std::string* why,
                        size_t at);

// One pass over well-formed text (whole groups, then at most one group with
// its padding); anything else goes to the strict decoder for its verdict. The
// bytes go into out from `at` on; what lies before stays.
bool decodeBase64(const char* text, size_t n, std::vector<uint8_t>* out, std::string* why,
                  size_t at = 0) {
  out->resize(at + n / 4 * 3 + 3);
  uint8_t* o = out->data() + at;
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  uint32_t acc = 0;
  int k = 0;
  size_t i = 0;
  for (; i < n; ++i) {
    // A whole group of four at once when it starts here.
    while (k == 0 && i + 4 <= n) {
      const uint8_t a = kB64.v[p[i]], b = kB64.v[p[i + 1]], c = kB64.v[p[i + 2]],
                    d = kB64.v[p[i + 3]];
      if ((a | b | c | d) >= 64) break;
      const uint32_t bits = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | d;
      o[0] = uint8_t(bits >> 16);
      o[1] = uint8_t(bits >> 8);
      o[2] = uint8_t(bits);
      o += 3;
      i += 4;
    }
    if (i >= n) break;
    const uint8_t x = kB64.v[p[i]];
    if (x < 64) {
      acc = (acc << 6) | x;
      if (++k == 4) {
        o[0] = uint8_t(acc >> 16);
        o[1] = uint8_t(acc >> 8);
        o[2] = uint8_t(acc);
        o += 3;
        k = 0;
        acc = 0;
      }
    } else if (x != kB64Space) {
      break;
    }
  }
  bool done = i == n && k == 0;
  if (i < n && kB64.v[p[i]] == kB64Pad && (k == 2 || k == 3)) {
    size_t pads = 0;
    bool clean = true;
    for (size_t j = i; j < n && clean; ++j) {
      const uint8_t y = kB64.v[p[j]];
      if (y == kB64Pad)
        ++pads;
      else
        clean = y == kB64Space;
    }
    if (clean && size_t(k) + pads == 4) {
      acc <<= 6 * pads;
      *o++ = uint8_t(acc >> 16);
      if (k == 3) *o++ = uint8_t(acc >> 8);
      done = true;
    }
  }
  if (!done) return decodeBase64Strict(text, n, out, why, at);
  out->resize(size_t(o - out->data()));
  return true;
}

bool decodeBase64(const std::string& in, std::vector<uint8_t>* out, std::string* why) {
  return decodeBase64(in.data(), in.size(), out, why);
}

bool decodeBase64Strict(const char* text, size_t size, std::vector<uint8_t>* out, std::string* why,
                        size_t at) {
  // The values of the characters that count, whitespace left out.
  std::vector<uint8_t> v(size);
  size_t n = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t x = kB64.v[uint8_t(text[i])];
    if (x == kB64Space) continue;
    if (x == kB64Bad) {
      *why = "bad base64 character";
      return false;
    }
    v[n++] = x;
  }
  if (n % 4) {
    *why = "truncated base64 data";
    return false;
  }
  out->resize(at + n / 4 * 3);
  uint8_t* o = out->data() + at;
  size_t i = 0;
  // Every group but the last is whole: no padding.
  for (; i + 4 < n; i += 4) {
    const uint8_t a = v[i], b = v[i + 1], c = v[i + 2], d = v[i + 3];
    if ((a | b | c | d) & kB64Pad) {
      *why = "bad base64 padding";
      return false;
    }
    const uint32_t bits = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | d;
    o[0] = uint8_t(bits >> 16);
    o[1] = uint8_t(bits >> 8);
    o[2] = uint8_t(bits);
    o += 3;
  }
  if (i < n) {
    // The last group: up to two "=" at its end.
    int pad = 0;
    uint32_t bits = 0;
    for (int k = 0; k < 4; ++k) {
      const uint8_t x = v[i + size_t(k)];
      if (x == kB64Pad) {
        ++pad;
      } else if (pad) {
        *why = "bad base64 padding";
        return false;
      }
      bits = (bits << 6) | (x == kB64Pad ? 0u : x);
    }
    if (pad > 2) {
      *why = "bad base64 padding";
      return false;
    }
    *o++ = uint8_t(bits >> 16);
    if (pad < 2) *o++ = uint8_t(bits >> 8);
    if (pad < 1) *o++ = uint8_t(bits);
  }
  out->resize(size_t(o - out->data()));
  return true;
}

void encodeBase64(const std::vector<uint8_t>& in, std::string& out) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t col = 0;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t b = uint32_t(in[i]) << 16;
    if (i + 1 < in.size()) b |= uint32_t(in[i + 1]) << 8;
    if (i + 2 < in.size()) b |= in[i + 2];
    char q[4] = {a[(b >> 18) & 63], a[(b >> 12) & 63], i + 1 < in.size() ? a[(b >> 6) & 63] : '=',
                 i + 2 < in.size() ? a[b & 63] : '='};
    out.append(q, 4);
    col += 4;
    if (col == 72) {
      out += '\n';
      col = 0;
    }
  }
  if (col) out += '\n';
}

// ---- Note classes and file-object fields ---------------------------------------------

struct Named {
  const char* name;
  uint16_t value;
};

const Named kClasses[] = {
    {"document", NN_CLASS_DOCUMENT},      {"helpaboutdocument", NN_CLASS_INFO},
    {"form", NN_CLASS_FORM},              {"view", NN_CLASS_VIEW},
    {"icon", NN_CLASS_ICON},              {"design", NN_CLASS_DESIGN},
    {"acl", NN_CLASS_ACL},                {"helpindex", NN_CLASS_HELP_INDEX},
    {"helpusingdocument", NN_CLASS_HELP}, {"filter", NN_CLASS_FILTER},
    {"sharedfield", NN_CLASS_FIELD},      {"replicationformula", NN_CLASS_REPLFORMULA},
    // Element names of design notes that share a class.
    {"subform", NN_CLASS_FORM},           {"page", NN_CLASS_FORM},
    {"frameset", NN_CLASS_FORM},          {"imageresource", NN_CLASS_FORM},
    {"fileresource", NN_CLASS_FORM},      {"stylesheetresource", NN_CLASS_FORM},
    {"sharedactions", NN_CLASS_FORM},     {"scriptlibrary", NN_CLASS_FILTER},
    {"agent", NN_CLASS_FILTER},           {"folder", NN_CLASS_VIEW},
    {"helpaboutdoc", NN_CLASS_INFO},      {"helpusingdoc", NN_CLASS_HELP},
};

uint16_t classFromName(const std::string& s) {
  for (const auto& c : kClasses)
    if (s == c.name) return c.value;
  return NN_CLASS_DOCUMENT;
}

const char* classToName(uint16_t v) {
  for (const auto& c : kClasses)
    if (c.value == v) return c.name;
  return "document";
}

const Named kHostTypes[] = {{"msdos", 0},          {"ole", 1},           {"mac", 2},
                            {"unknown", 3},        {"hpfs", 4},          {"olelib", 5},
                            {"bytearrayext", 6},   {"bytearraypage", 7}, {"cdstorage", 8},
                            {"stream", 9},         {"link", 10}};
const Named kCompressions[] = {{"none", 0}, {"huff", 1}, {"lzw", 2}, {"lz1", 3}};
const Named kFileFlags[] = {{"sign", 0x0001}, {"storedindoc", 0x0002}, {"mime", 0x0004}};

template <size_t N>
std::optional<uint16_t> lookup(const Named (&t)[N], const std::string& s) {
  for (const auto& e : t)
    if (s == e.name) return e.value;
  return std::nullopt;
}

template <size_t N>
const char* nameOf(const Named (&t)[N], uint16_t v) {
  for (const auto& e : t)
    if (e.value == v) return e.name;
  return nullptr;
}

// ---- Loading ---------------------------------------------------------------------------

struct Loader {
  std::string path;
  std::string error;
  uint32_t maxObjectId = 0;

  bool fail(const xmlNode* n, const std::string& msg) {
    error = path + ":" + std::to_string(n ? xmlGetLineNo(n) : 0) + ": " + msg;
    return false;
  }
};

struct Pending {
  std::shared_ptr<Note> note;
  bool hasId = false, hasUnid = false;
};

void setValue(Item& it, uint16_t type, const uint8_t* data, size_t len) {
  it.type = type;
  it.value.clear();
  wr16(it.value, type);
  if (len) it.value.insert(it.value.end(), data, data + len);
}

void setVerbatim(Item& it, xmlNode* el) {
  xmlBufferPtr buf = xmlBufferCreate();
  xmlNodeDump(buf, el->doc, el, 0, 0);
  it.verbatimXml.assign(reinterpret_cast<const char*>(xmlBufferContent(buf)), size_t(xmlBufferLength(buf)));
  xmlBufferFree(buf);
  setValue(it, NN_TYPE_INVALID_OR_UNKNOWN, nullptr, 0);
}

bool parseNumber(const std::string& text, double* out) {
  std::string t = trimmed(text);
  if (t.empty()) return false;
  char* end = nullptr;
  double d = std::strtod(t.c_str(), &end);
  if (!end || *end) return false;
  *out = d;
  return true;
}

void putDouble(std::vector<uint8_t>& v, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  wr32(v, uint32_t(bits));
  wr32(v, uint32_t(bits >> 32));
}

void putTime(std::vector<uint8_t>& v, const tagTIMEDATE& t) {
  wr32(v, t.Innards[0]);
  wr32(v, t.Innards[1]);
}

bool parseTime(xmlNode* el, tagTIMEDATE* out) {
  std::string t = trimmed(textOf(el));
  return !t.empty() && NnTimeFromDxl(t.c_str(), out);
}

bool parsePair(xmlNode* el, std::vector<uint8_t>& v) {
  tagTIMEDATE t[2];
  int k = 0;
  for (xmlNode* c = el->children; c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    if (!isElement(c, "datetime") || k == 2 || !parseTime(c, &t[k])) return false;
    ++k;
  }
  if (k != 2) return false;
  putTime(v, t[0]);
  putTime(v, t[1]);
  return true;
}

// Reads one typed value element into the item. Returns false only for a
// malformed file; content we cannot interpret is kept verbatim instead.
bool parseValue(Loader& L, Note& note, Item& it, xmlNode* v) {
  std::string kind = elementName(v);
  if (kind == "text") {
    std::string s = toLmbcs(textOf(v));
    setValue(it, NN_TYPE_TEXT, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    return true;
  }
  if (kind == "textlist") {
    std::vector<std::string> entries;
    for (xmlNode* c = v->children; c; c = c->next) {
      if (c->type != XML_ELEMENT_NODE) continue;
      if (!isElement(c, "text")) return setVerbatim(it, v), true;
      entries.push_back(toLmbcs(textOf(c)));
      if (entries.back().size() > 0xFFFF || entries.size() > 0xFFFF) return setVerbatim(it, v), true;
    }
    std::vector<uint8_t> d;
    wr16(d, uint16_t(entries.size()));
    for (const auto& e : entries) wr16(d, uint16_t(e.size()));
    for (const auto& e : entries) d.insert(d.end(), e.begin(), e.end());
    setValue(it, NN_TYPE_TEXT_LIST, d.data(), d.size());
    return true;
  }
  if (kind == "number") {
    double x;
    if (!parseNumber(textOf(v), &x)) return setVerbatim(it, v), true;
    std::vector<uint8_t> d;
    putDouble(d, x);
    setValue(it, NN_TYPE_NUMBER, d.data(), d.size());
    return true;
  }
  if (kind == "numberlist") {
    std::vector<uint8_t> nums;
    uint32_t count = 0;
    for (xmlNode* c = v->children; c; c = c->next) {
      if (c->type != XML_ELEMENT_NODE) continue;
      double x;
      if (!isElement(c, "number") || !parseNumber(textOf(c), &x) || count == 0xFFFF)
        return setVerbatim(it, v), true;
      putDouble(nums, x);
      ++count;
    }
    std::vector<uint8_t> d;
    wr16(d, uint16_t(count));
    wr16(d, 0);
    d.insert(d.end(), nums.begin(), nums.end());
    setValue(it, NN_TYPE_NUMBER_RANGE, d.data(), d.size());
    return true;
  }
  if (kind == "datetime") {
    tagTIMEDATE t;
    if (!parseTime(v, &t)) return setVerbatim(it, v), true;
    std::vector<uint8_t> d;
    putTime(d, t);
    setValue(it, NN_TYPE_TIME, d.data(), d.size());
    return true;
  }
  if (kind == "datetimelist" || kind == "datetimepair") {
    std::vector<uint8_t> list, ranges;
    uint32_t nList = 0, nRanges = 0;
    if (kind == "datetimepair") {
      if (!parsePair(v, ranges)) return setVerbatim(it, v), true;
      nRanges = 1;
    } else {
      for (xmlNode* c = v->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        tagTIMEDATE t;
        if (isElement(c, "datetime") && parseTime(c, &t) && nList < 0xFFFF) {
          putTime(list, t);
          ++nList;
        } else if (isElement(c, "datetimepair") && nRanges < 0xFFFF && parsePair(c, ranges)) {
          ++nRanges;
        } else {
          return setVerbatim(it, v), true;
        }
      }
    }
    std::vector<uint8_t> d;
    wr16(d, uint16_t(nList));
    wr16(d, uint16_t(nRanges));
    d.insert(d.end(), list.begin(), list.end());
    d.insert(d.end(), ranges.begin(), ranges.end());
    setValue(it, NN_TYPE_TIME_RANGE, d.data(), d.size());
    return true;
  }
  if (kind == "formula") {
    // A formula compiled by another system is not in our compiled form.
    if (attrTrue(v, "compiled")) return setVerbatim(it, v), true;
    std::string s = toLmbcs(textOf(v));
    setValue(it, NN_TYPE_FORMULA, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    return true;
  }
  if (kind == "rawitemdata") {
    uint32_t type = 0;
    auto t = attr(v, "type");
    if (!t || !parseHex(trimmed(*t), 4, &type)) return L.fail(v, "bad item type '" + t.value_or("") + "'");
    // The value is its type word and the data, decoded in place behind it.
    std::vector<uint8_t> value(2);
    std::string why;
    // Text in one piece is decoded where the parser left it.
    const xmlNode* only = v->children;
    const bool single = only && !only->next && only->content &&
                        (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE);
    const std::string joined = single ? std::string() : textOf(v);
    const char* text = single ? reinterpret_cast<const char*>(only->content) : joined.data();
    const size_t length = single ? std::strlen(text) : joined.size();
    if (!decodeBase64(text, length, &value, &why, 2))
      return L.fail(v, why + " in item '" + it.name + "'");
    if (type == NN_TYPE_COMPOSITE && !checkRecordStream(value.data() + 2, value.size() - 2, &why))
      return L.fail(v, "broken rich text in item '" + it.name + "': " + why);
    setValue(it, uint16_t(type), nullptr, 0);
    value[0] = it.value[0];
    value[1] = it.value[1];
    it.value.swap(value);
    return true;
  }
  if (kind == "object") {
    xmlNode* f = firstElement(v, "file");
    auto name = f ? attr(f, "name") : std::nullopt;
    if (!f || !name) return setVerbatim(it, v), true;
    NnFileObject fo{};
    fo.objectType = 2;
    std::string lname = toLmbcs(*name);
    if (lname.size() > 0xFFFF) return setVerbatim(it, v), true;
    if (auto s = attr(f, "size")) fo.fileSize = uint32_t(std::strtoul(s->c_str(), nullptr, 10));
    if (auto h = attr(f, "hosttype")) fo.hostType = lookup(kHostTypes, *h).value_or(3);
    if (auto c = attr(f, "compression")) fo.compressionType = lookup(kCompressions, *c).value_or(0);
    if (auto fl = attr(f, "flags")) {
      size_t a = 0;
      while (a < fl->size()) {
        size_t b = fl->find(' ', a);
        if (b == std::string::npos) b = fl->size();
        fo.flags |= lookup(kFileFlags, fl->substr(a, b - a)).value_or(0);
        a = b + 1;
      }
    }
    if (xmlNode* c = firstElement(f, "created"))
      if (xmlNode* d = firstElement(c, "datetime")) parseTime(d, &fo.fileCreated);
    if (xmlNode* m = firstElement(f, "modified"))
      if (xmlNode* d = firstElement(m, "datetime")) parseTime(d, &fo.fileModified);
    FileData fd;
    if (xmlNode* fdEl = firstElement(f, "filedata")) {
      std::string why;
      if (!decodeBase64(textOf(fdEl), &fd.bytes, &why))
        return L.fail(fdEl, why + " in attachment '" + *name + "'");
    }
    // Keep the id the file was written with when this note does not use it yet.
    uint32_t id = 0;
    if (auto o = attr(f, "objectid")) id = uint32_t(std::strtoul(o->c_str(), nullptr, 10));
    if (id == 0 || note.objects.count(id)) id = ++L.maxObjectId;
    L.maxObjectId = std::max(L.maxObjectId, id);
    fo.objectId = id;
    note.objects[id] = std::move(fd);
    it.value = makeFileValue(fo, lname);
    it.type = NN_TYPE_OBJECT;
    return true;
  }
  setVerbatim(it, v);
  return true;
}

bool holdsItems(xmlNode* el) { return firstElement(el, "item") != nullptr; }

bool parseUnid(const std::string& s, UNIVERSALNOTEID_tag* u) {
  if (s.size() != 32) return false;
  uint32_t w[4];
  for (int i = 0; i < 4; ++i)
    if (!parseHex(s.substr(size_t(i) * 8, 8), 8, &w[i])) return false;
  u->File.Innards[1] = w[0];
  u->File.Innards[0] = w[1];
  u->Note.Innards[1] = w[2];
  u->Note.Innards[0] = w[3];
  return true;
}

bool parseNote(Loader& L, xmlNode* el, Pending* out) {
  auto note = std::make_shared<Note>();
  note->rootElement = elementName(el);
  if (note->rootElement == "note") {
    note->dxlClass = attr(el, "class").value_or("document");
  } else {
    note->dxlClass = note->rootElement;
  }
  note->noteClass = classFromName(note->dxlClass);
  note->isDefault = attrTrue(el, "default");
  for (xmlNode* c = el->children; c; c = c->next) {
    if (isElement(c, "noteinfo")) {
      uint32_t id;
      if (auto s = attr(c, "noteid"); s && parseHex(*s, 8, &id) && id) {
        note->id = id;
        out->hasId = true;
      }
      UNIVERSALNOTEID_tag u{};
      if (auto s = attr(c, "unid"); s && parseUnid(*s, &u)) {
        note->oid.File = u.File;
        note->oid.Note = u.Note;
        out->hasUnid = true;
      }
      if (auto s = attr(c, "sequence")) note->oid.Sequence = uint32_t(std::strtoul(s->c_str(), nullptr, 10));
      if (xmlNode* cr = firstElement(c, "created"))
        if (xmlNode* d = firstElement(cr, "datetime")) parseTime(d, &note->created);
      if (xmlNode* m = firstElement(c, "modified"))
        if (xmlNode* d = firstElement(m, "datetime")) parseTime(d, &note->modified);
      note->oid.SequenceTime = note->modified;
    } else if (isElement(c, "item")) {
      auto name = attr(c, "name");
      if (!name) continue;
      Item it;
      it.name = toLmbcs(*name);
      if (attrTrue(c, "summary")) it.flags |= NN_ITEM_SUMMARY;
      if (attrTrue(c, "sign")) it.flags |= NN_ITEM_SIGN;
      if (attrTrue(c, "seal")) it.flags |= NN_ITEM_SEAL;
      if (attrTrue(c, "placeholder")) it.flags |= NN_ITEM_PLACEHOLDER;
      if (attrTrue(c, "names")) it.flags |= NN_ITEM_NAMES;
      if (attrTrue(c, "readers")) it.flags |= NN_ITEM_READERS;
      if (attrTrue(c, "authors")) it.flags |= kItemAuthors;
      if (attrTrue(c, "protected")) it.flags |= NN_ITEM_PROTECTED;
      xmlNode* v = firstElement(c);
      if (v) {
        if (!parseValue(L, *note, it, v)) return false;
      } else {
        setValue(it, NN_TYPE_INVALID_OR_UNKNOWN, nullptr, 0);
      }
      note->items.push_back(std::move(it));
    }
  }
  out->note = note;
  return true;
}

}  // namespace

std::shared_ptr<Database> loadDxl(const std::string& path, std::string* error) {
  XmlLogScope quiet;
  Loader L;
  L.path = path;
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (!ctxt) {
    *error = path + ":0: out of memory";
    return nullptr;
  }
  xmlDocPtr doc = xmlCtxtReadFile(ctxt, path.c_str(), nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                      XML_PARSE_BIG_LINES | XML_PARSE_HUGE);
  if (!doc) {
    const xmlError* e = xmlCtxtGetLastError(ctxt);
    std::string msg = e && e->message ? trimmed(e->message) : "not well-formed XML";
    *error = path + ":" + std::to_string(e ? e->line : 0) + ": " + msg;
    xmlFreeParserCtxt(ctxt);
    return nullptr;
  }
  xmlFreeParserCtxt(ctxt);

  auto db = std::make_shared<Database>();
  std::vector<Pending> pending;
  bool ok = true;
  xmlNode* root = xmlDocGetRootElement(doc);
  if (!root) {
    ok = L.fail(nullptr, "no root element");
  } else {
    std::optional<std::string> rep = attr(root, "replicaid");
    uint32_t hi, lo;
    if (rep && rep->size() == 16 && parseHex(rep->substr(0, 8), 8, &hi) && parseHex(rep->substr(8), 8, &lo)) {
      db->replica.ID.Innards[1] = hi;
      db->replica.ID.Innards[0] = lo;
    } else {
      std::string key = path;
      uint64_t h = hash64(key);
      db->replica.ID.Innards[0] = uint32_t(h);
      db->replica.ID.Innards[1] = uint32_t(h >> 32);
    }
    std::vector<xmlNode*> noteElements;
    if (isElement(root, "database")) {
      for (xmlNode* c = root->children; c; c = c->next)
        if (isElement(c, "note") || (c->type == XML_ELEMENT_NODE && holdsItems(c))) noteElements.push_back(c);
    } else if (isElement(root, "note") || holdsItems(root)) {
      noteElements.push_back(root);
    }
    for (xmlNode* el : noteElements) {
      Pending p;
      if (!parseNote(L, el, &p)) {
        ok = false;
        break;
      }
      pending.push_back(std::move(p));
    }
  }
  xmlFreeDoc(doc);
  if (!ok) {
    *error = L.error;
    return nullptr;
  }

  // Generated ids must not collide with the ids the file gives.
  std::set<NOTEID> used;
  NOTEID maxId = 0;
  for (auto& p : pending) {
    if (p.hasId && !used.insert(p.note->id).second) p.hasId = false;
    if (p.hasId) maxId = std::max(maxId, p.note->id);
  }
  db->nextNoteId = std::max<NOTEID>(0x10, (maxId + 4) & ~NOTEID(3));
  for (auto& p : pending) {
    Note& n = *p.note;
    if (!p.hasId) {
      while (used.count(db->nextNoteId)) db->nextNoteId += 4;
      n.id = db->nextNoteId;
      db->nextNoteId += 4;
      used.insert(n.id);
    }
    UNIVERSALNOTEID_tag u{n.oid.File, n.oid.Note};
    if (p.hasUnid && db->findNoteByUnid(u)) p.hasUnid = false;
    if (!p.hasUnid) {
      // Derived from the file and the note id, so a reload gives the same ids.
      uint64_t h = hash64(path + "#" + std::to_string(n.id));
      n.oid.File = db->replica.ID;
      n.oid.Note.Innards[0] = uint32_t(h);
      n.oid.Note.Innards[1] = uint32_t(h >> 32) ^ n.id;
      UNIVERSALNOTEID_tag g{n.oid.File, n.oid.Note};
      while (db->findNoteByUnid(g)) {
        ++n.oid.Note.Innards[0];
        g.Note = n.oid.Note;
      }
    }
    db->notes.push_back(p.note);
  }
  db->nextObjectId = L.maxObjectId + 1;
  return db;
}

// ---- Writing ---------------------------------------------------------------------------

namespace {

bool validUtf8(const std::string& s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = uint8_t(s[i]);
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
      ++i;
      continue;
    }
    size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (!len || (c >= 0xF5)) return false;
    if (i + len > n) return false;
    uint32_t cp = c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      unsigned char d = uint8_t(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF)
      return false;
    i += len;
  }
  return true;
}

void escapeText(const std::string& s, std::string& out, bool breaks) {
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += breaks ? "<break/>" : "\n"; break;
      default: out += c;
    }
  }
}

void escapeAttr(const std::string& s, std::string& out) {
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += "&#10;"; break;
      case '\t': out += "&#9;"; break;
      default: out += c;
    }
  }
}

// Stored text as XML text when it reads back to the same bytes.
std::optional<std::string> xmlText(const std::string& lmbcs) {
  std::string u = fromLmbcs(lmbcs);
  if (!validUtf8(u) || toLmbcs(u) != lmbcs) return std::nullopt;
  return u;
}

std::optional<std::string> dxlTime(const tagTIMEDATE& t) {
  std::string s = NnTimeToDxl(t);
  tagTIMEDATE back{};
  if (s.empty() || !NnTimeFromDxl(s.c_str(), &back) || back.Innards[0] != t.Innards[0] ||
      back.Innards[1] != t.Innards[1])
    return std::nullopt;
  return s;
}

bool isZero(const tagTIMEDATE& t) { return t.Innards[0] == 0 && t.Innards[1] == 0; }

std::string numberText(double d) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

double readDouble(const uint8_t* p) {
  uint64_t bits = uint64_t(rd32(p)) | (uint64_t(rd32(p + 4)) << 32);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

tagTIMEDATE readTime(const uint8_t* p) { return tagTIMEDATE{{rd32(p), rd32(p + 4)}}; }

// The item's value as a typed DXL element; nullopt when only raw data keeps it exact.
std::optional<std::string> typedValue(const Note& note, const Item& it) {
  const uint8_t* d = it.value.data() + 2;
  size_t n = it.value.size() - 2;
  std::string out;
  switch (it.type) {
    case NN_TYPE_TEXT: {
      auto t = xmlText(std::string(reinterpret_cast<const char*>(d), n));
      if (!t) return std::nullopt;
      out = "<text>";
      escapeText(*t, out, true);
      return out + "</text>";
    }
    case NN_TYPE_FORMULA: {
      auto t = xmlText(std::string(reinterpret_cast<const char*>(d), n));
      if (!t) return std::nullopt;
      out = "<formula>";
      escapeText(*t, out, false);
      return out + "</formula>";
    }
    case NN_TYPE_TEXT_LIST: {
      if (n < 2) return std::nullopt;
      size_t count = rd16(d), off = 2 + count * 2;
      if (off > n) return std::nullopt;
      out = "<textlist>";
      for (size_t i = 0; i < count; ++i) {
        size_t len = rd16(d + 2 + 2 * i);
        if (len > n - off) return std::nullopt;
        auto t = xmlText(std::string(reinterpret_cast<const char*>(d + off), len));
        if (!t) return std::nullopt;
        out += "<text>";
        escapeText(*t, out, true);
        out += "</text>";
        off += len;
      }
      if (off != n) return std::nullopt;
      return out + "</textlist>";
    }
    case NN_TYPE_NUMBER: {
      if (n != 8 || !std::isfinite(readDouble(d))) return std::nullopt;
      return "<number>" + numberText(readDouble(d)) + "</number>";
    }
    case NN_TYPE_NUMBER_RANGE: {
      if (n < 4 || rd16(d + 2) != 0 || n != 4 + size_t(rd16(d)) * 8) return std::nullopt;
      out = "<numberlist>";
      for (size_t i = 0; i < rd16(d); ++i) {
        double x = readDouble(d + 4 + i * 8);
        if (!std::isfinite(x)) return std::nullopt;
        out += "<number>" + numberText(x) + "</number>";
      }
      return out + "</numberlist>";
    }
    case NN_TYPE_TIME: {
      if (n != 8) return std::nullopt;
      auto t = dxlTime(readTime(d));
      if (!t) return std::nullopt;
      return "<datetime>" + *t + "</datetime>";
    }
    case NN_TYPE_TIME_RANGE: {
      if (n < 4) return std::nullopt;
      size_t list = rd16(d), ranges = rd16(d + 2);
      if (n != 4 + list * 8 + ranges * 16) return std::nullopt;
      std::string body;
      for (size_t i = 0; i < list; ++i) {
        auto t = dxlTime(readTime(d + 4 + i * 8));
        if (!t) return std::nullopt;
        body += "<datetime>" + *t + "</datetime>";
      }
      for (size_t i = 0; i < ranges; ++i) {
        const uint8_t* p = d + 4 + list * 8 + i * 16;
        auto a = dxlTime(readTime(p)), b = dxlTime(readTime(p + 8));
        if (!a || !b) return std::nullopt;
        body += "<datetimepair><datetime>" + *a + "</datetime><datetime>" + *b + "</datetime></datetimepair>";
      }
      if (list == 0 && ranges == 1) return body;
      return "<datetimelist>" + body + "</datetimelist>";
    }
    case NN_TYPE_OBJECT: {
      NnFileObject fo{};
      std::string name;
      if (!parseFileValue(it.value, &fo, &name) || it.value.size() != 2 + kFileObjectSize + name.size() ||
          fo.fileAttributes != 0)
        return std::nullopt;
      auto obj = note.objects.find(fo.objectId);
      const char* host = nameOf(kHostTypes, fo.hostType);
      const char* comp = nameOf(kCompressions, fo.compressionType);
      auto uname = xmlText(name);
      if (obj == note.objects.end() || !host || !comp || !uname || fo.objectId == 0) return std::nullopt;
      std::string flags;
      uint16_t known = 0;
      for (const auto& f : kFileFlags) {
        if (!(fo.flags & f.value)) continue;
        known |= f.value;
        if (!flags.empty()) flags += ' ';
        flags += f.name;
      }
      if (known != fo.flags) return std::nullopt;
      std::optional<std::string> created, modified;
      if (!isZero(fo.fileCreated) && !(created = dxlTime(fo.fileCreated))) return std::nullopt;
      if (!isZero(fo.fileModified) && !(modified = dxlTime(fo.fileModified))) return std::nullopt;
      out = "<object><file hosttype='";
      out += host;
      out += "' compression='";
      out += comp;
      out += "' flags='" + flags + "' encoding='none' name='";
      escapeAttr(*uname, out);
      out += "' size='" + std::to_string(fo.fileSize) + "' objectid='" + std::to_string(fo.objectId) + "'>\n";
      if (created) out += "<created><datetime>" + *created + "</datetime></created>\n";
      if (modified) out += "<modified><datetime>" + *modified + "</datetime></modified>\n";
      out += "<filedata>\n";
      encodeBase64(obj->second.bytes, out);
      out += "</filedata></file></object>";
      return out;
    }
    default:
      return std::nullopt;
  }
}

void writeItem(const Note& note, const Item& it, std::string& out) {
  out += "<item name='";
  std::string name = fromLmbcs(it.name);
  if (!validUtf8(name))
    for (char& c : name)
      if (uint8_t(c) < 0x20 || uint8_t(c) >= 0x80) c = '?';
  escapeAttr(name, out);
  out += "'";
  static const Named kFlags[] = {{"summary", NN_ITEM_SUMMARY},    {"sign", NN_ITEM_SIGN},
                                 {"seal", NN_ITEM_SEAL},          {"placeholder", NN_ITEM_PLACEHOLDER},
                                 {"names", NN_ITEM_NAMES},        {"readers", NN_ITEM_READERS},
                                 {"authors", kItemAuthors},       {"protected", NN_ITEM_PROTECTED}};
  for (const auto& f : kFlags)
    if (it.flags & f.value) out += std::string(" ") + f.name + "='true'";
  out += ">";
  if (!it.verbatimXml.empty()) {
    out += it.verbatimXml;
  } else if (auto typed = typedValue(note, it)) {
    out += *typed;
  } else {
    char t[8];
    std::snprintf(t, sizeof t, "%x", unsigned(it.type));
    out += "<rawitemdata type='";
    out += t;
    out += "'>\n";
    encodeBase64(std::vector<uint8_t>(it.value.begin() + 2, it.value.end()), out);
    out += "</rawitemdata>";
  }
  out += "</item>\n";
}

void writeNote(const Note& n, std::string& out) {
  out += "<note class='";
  escapeAttr(n.dxlClass.empty() ? classToName(n.noteClass) : n.dxlClass, out);
  out += "'";
  if (n.isDefault) out += " default='true'";
  out += ">\n";
  char buf[96];
  std::snprintf(buf, sizeof buf, "<noteinfo noteid='%x' unid='%.8X%.8X%.8X%.8X' sequence='%u'>", unsigned(n.id),
                unsigned(n.oid.File.Innards[1]), unsigned(n.oid.File.Innards[0]), unsigned(n.oid.Note.Innards[1]),
                unsigned(n.oid.Note.Innards[0]), unsigned(n.oid.Sequence));
  out += buf;
  if (auto t = dxlTime(n.created); t && !isZero(n.created)) out += "<created><datetime>" + *t + "</datetime></created>";
  if (auto t = dxlTime(n.modified); t && !isZero(n.modified))
    out += "<modified><datetime>" + *t + "</datetime></modified>";
  out += "</noteinfo>\n";
  for (const Item& it : n.items) writeItem(n, it, out);
  out += "</note>\n";
}

}  // namespace

NnStatus saveDxl(const Database& db, const std::string& path) {
  XmlLogScope quiet;
  std::string out = "<?xml version='1.0' encoding='utf-8'?>\n<database xmlns='";
  out += kDxlNamespace;
  char rep[24];
  std::snprintf(rep, sizeof rep, "%.8X%.8X", unsigned(db.replica.ID.Innards[1]), unsigned(db.replica.ID.Innards[0]));
  out += "' version='12.0' replicaid='";
  out += rep;
  out += "'>\n";
  for (const auto& n : db.notes) writeNote(*n, out);
  out += "</database>\n";

  // Written beside the target and renamed, so a failed save leaves any old file whole.
  std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return NN_ERR_FILE_IO;
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return NN_ERR_FILE_IO;
  }
  return NN_OK;
}

}  // namespace nnstore
