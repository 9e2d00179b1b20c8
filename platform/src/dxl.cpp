// DXL (XML) documents: loading a file into a database. What the loader does
// not interpret is kept as it stood, and the writer (dxlsave.cpp) puts it back.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <set>

#include "dxl.h"
#include "xmllog.h"

namespace nnstore {

namespace {

using namespace dxl;

// ---- Small helpers ---------------------------------------------------------------

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

bool isBlankText(const xmlNode* n) {
  if (n->type != XML_TEXT_NODE) return false;
  for (const xmlChar* p = n->content; p && *p; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
  return true;
}

// The node as XML text.
std::string dump(xmlNode* n) {
  xmlBufferPtr buf = xmlBufferCreate();
  if (!buf) throw std::bad_alloc();
  xmlNodeDump(buf, n->doc, n, 0, 0);
  std::string s(reinterpret_cast<const char*>(xmlBufferContent(buf)), size_t(xmlBufferLength(buf)));
  xmlBufferFree(buf);
  return s;
}

// A child of a note or of <database> kept as it stood; the writer puts each
// on a line of its own, so text loses the white space around it.
KeptXml keptChild(xmlNode* n, size_t after) {
  return KeptXml{after, n->type == XML_TEXT_NODE ? trimmed(dump(n)) : dump(n)};
}

// The element's attributes that `skip` does not take, as " name='value'".
template <typename Skip>
std::string attributesOf(xmlNode* n, Skip skip) {
  std::string out;
  for (xmlAttr* a = n->properties; a; a = a->next) {
    const std::string name = reinterpret_cast<const char*>(a->name);
    xmlChar* v = xmlNodeListGetString(n->doc, a->children, 1);
    const std::string value = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    if (skip(name, value)) continue;
    out += ' ';
    if (a->ns && a->ns->prefix) out += std::string(reinterpret_cast<const char*>(a->ns->prefix)) + ':';
    out += name + "='";
    escapeAttr(value, out);
    out += '\'';
  }
  return out;
}

std::string attributesOf(xmlNode* n) {
  return attributesOf(n, [](const std::string&, const std::string&) { return false; });
}

// The namespaces the element declares, as " xmlns='...'".
std::string namespacesOf(const xmlNode* n) {
  std::string out;
  for (const xmlNs* ns = n->nsDef; ns; ns = ns->next) {
    out += " xmlns";
    if (ns->prefix) out += std::string(":") + reinterpret_cast<const char*>(ns->prefix);
    out += "='";
    escapeAttr(ns->href ? reinterpret_cast<const char*>(ns->href) : "", out);
    out += '\'';
  }
  return out;
}

// ---- Loading ---------------------------------------------------------------------------

// How an item's value element was read.
enum class ValueRead {
  Malformed,    // the file is broken: it is refused
  Typed,        // a typed value
  Kept,         // content not interpreted
  Regenerated,  // raw item data, written back from the value
  Attachment,   // an attachment, whose bytes the database holds as an object
};

struct Loader {
  std::string path;
  std::string error;
  uint32_t maxObjectId = 0;

  bool fail(const xmlNode* n, const std::string& msg) {
    error = path + ":" + std::to_string(n ? xmlGetLineNo(n) : 0) + ": " + msg;
    return false;
  }
  ValueRead malformed(const xmlNode* n, const std::string& msg) {
    fail(n, msg);
    return ValueRead::Malformed;
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

// Content not interpreted: type 0, an empty value, and its XML kept.
ValueRead kept(Item& it) {
  setValue(it, NN_TYPE_INVALID_OR_UNKNOWN, nullptr, 0);
  return ValueRead::Kept;
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
  wrTime(v, t[0]);
  wrTime(v, t[1]);
  return true;
}

// Reads one value element into the item.
ValueRead parseValue(Loader& L, Note& note, Item& it, xmlNode* v) {
  std::string kind = elementName(v);
  if (kind == "text") {
    std::string s = toLmbcs(textOf(v));
    setValue(it, NN_TYPE_TEXT, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    return ValueRead::Typed;
  }
  if (kind == "textlist") {
    std::vector<std::string> entries;
    for (xmlNode* c = v->children; c; c = c->next) {
      if (c->type != XML_ELEMENT_NODE) continue;
      if (!isElement(c, "text")) return kept(it);
      entries.push_back(toLmbcs(textOf(c)));
      if (entries.back().size() > 0xFFFF || entries.size() > 0xFFFF) return kept(it);
    }
    it.type = NN_TYPE_TEXT_LIST;
    it.value = textListValue(entries);
    return ValueRead::Typed;
  }
  if (kind == "number") {
    double x;
    if (!parseNumber(textOf(v), &x)) return kept(it);
    std::vector<uint8_t> d;
    wrDouble(d, x);
    setValue(it, NN_TYPE_NUMBER, d.data(), d.size());
    return ValueRead::Typed;
  }
  if (kind == "numberlist") {
    std::vector<uint8_t> nums;
    uint32_t count = 0;
    for (xmlNode* c = v->children; c; c = c->next) {
      if (c->type != XML_ELEMENT_NODE) continue;
      double x;
      if (!isElement(c, "number") || !parseNumber(textOf(c), &x) || count == 0xFFFF)
        return kept(it);
      wrDouble(nums, x);
      ++count;
    }
    std::vector<uint8_t> d;
    wr16(d, uint16_t(count));
    wr16(d, 0);
    d.insert(d.end(), nums.begin(), nums.end());
    setValue(it, NN_TYPE_NUMBER_RANGE, d.data(), d.size());
    return ValueRead::Typed;
  }
  if (kind == "datetime") {
    tagTIMEDATE t;
    if (!parseTime(v, &t)) return kept(it);
    std::vector<uint8_t> d;
    wrTime(d, t);
    setValue(it, NN_TYPE_TIME, d.data(), d.size());
    return ValueRead::Typed;
  }
  if (kind == "datetimelist" || kind == "datetimepair") {
    std::vector<uint8_t> list, ranges;
    uint32_t nList = 0, nRanges = 0;
    if (kind == "datetimepair") {
      if (!parsePair(v, ranges)) return kept(it);
      nRanges = 1;
    } else {
      for (xmlNode* c = v->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        tagTIMEDATE t;
        if (isElement(c, "datetime") && parseTime(c, &t) && nList < 0xFFFF) {
          wrTime(list, t);
          ++nList;
        } else if (isElement(c, "datetimepair") && nRanges < 0xFFFF && parsePair(c, ranges)) {
          ++nRanges;
        } else {
          return kept(it);
        }
      }
    }
    std::vector<uint8_t> d;
    wr16(d, uint16_t(nList));
    wr16(d, uint16_t(nRanges));
    d.insert(d.end(), list.begin(), list.end());
    d.insert(d.end(), ranges.begin(), ranges.end());
    setValue(it, NN_TYPE_TIME_RANGE, d.data(), d.size());
    return ValueRead::Typed;
  }
  if (kind == "formula") {
    // A formula compiled by another system is not in our compiled form.
    if (attrTrue(v, "compiled")) return kept(it);
    std::string s = toLmbcs(textOf(v));
    setValue(it, NN_TYPE_FORMULA, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    return ValueRead::Typed;
  }
  if (kind == "rawitemdata") {
    uint32_t type = 0;
    auto t = attr(v, "type");
    if (!t || !parseHex(trimmed(*t), 4, &type)) return L.malformed(v, "bad item type '" + t.value_or("") + "'");
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
      return L.malformed(v, why + " in item '" + it.name + "'");
    if (type == NN_TYPE_COMPOSITE && !checkRecordStream(value.data() + 2, value.size() - 2, &why))
      return L.malformed(v, "broken rich text in item '" + it.name + "': " + why);
    setValue(it, uint16_t(type), nullptr, 0);
    value[0] = it.value[0];
    value[1] = it.value[1];
    it.value.swap(value);
    return ValueRead::Regenerated;
  }
  if (kind == "object") {
    xmlNode* f = firstElement(v, "file");
    auto name = f ? attr(f, "name") : std::nullopt;
    if (!f || !name) return kept(it);
    NnFileObject fo{};
    fo.objectType = 2;
    std::string lname = toLmbcs(*name);
    if (lname.size() > 0xFFFF) return kept(it);
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
      std::string why, text = textOf(fdEl);
      if (!decodeBase64(text.data(), text.size(), &fd.bytes, &why))
        return L.malformed(fdEl, why + " in attachment '" + *name + "'");
      // The bytes are the object's now; the element keeps only its place.
      xmlNodeSetContent(fdEl, nullptr);
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
    return ValueRead::Attachment;
  }
  if (kind == "richtext") {
    setValue(it, NN_TYPE_STRUCTURED_RICHTEXT, nullptr, 0);
    return ValueRead::Kept;
  }
  return kept(it);
}

// The value of an item element as the file wrote it, kept with the value it
// was read to. An attachment's base64 is left out and written from the
// object; the place it goes is remembered.
void keepSource(Item& it, std::string xml, bool attachment) {
  ItemSource& s = it.source;
  s.present = true;
  s.value = it.value;
  if (attachment) {
    // The emptied <filedata> (or its absence) tells where the bytes go.
    const size_t at = xml.find("<filedata/>");
    if (at != std::string::npos) {
      xml.replace(at, 11, "<filedata></filedata>");
      s.dataAt = at + 10;
    }
  }
  s.xml = std::move(xml);
}

bool isFlagAttribute(const std::string& name, const std::string& value) {
  return value == "true" && lookup(kItemFlags, name).has_value();
}

// Reads an <item>; false only for a malformed file.
bool parseItem(Loader& L, Note& note, xmlNode* el, const std::string& name) {
  Item it;
  it.name = toLmbcs(name);
  for (const Named& f : kItemFlags)
    if (attrTrue(el, f.name)) it.flags |= f.value;
  it.otherAttributes = namespacesOf(el) + attributesOf(el, [](const std::string& a, const std::string& v) {
    return a == "name" || isFlagAttribute(a, v);
  });
  // One value element, white space around it; anything else is kept whole.
  xmlNode* value = nullptr;
  bool single = true;
  for (xmlNode* c = el->children; c; c = c->next) {
    if (isBlankText(c)) continue;
    single = single && !value && c->type == XML_ELEMENT_NODE;
    value = c;
  }
  if (!single || !value) {
    kept(it);
    std::string xml;
    for (xmlNode* c = el->children; c; c = c->next) xml += dump(c);
    keepSource(it, std::move(xml), false);
  } else {
    const ValueRead read = parseValue(L, note, it, value);
    if (read == ValueRead::Malformed) return false;
    if (read == ValueRead::Regenerated)
      it.source.raw = true;
    else
      keepSource(it, dump(value), read == ValueRead::Attachment);
  }
  note.items.push_back(std::move(it));
  return true;
}

// A <body> of rich text in its structured form (forms, pages, about
// documents): listed as the note's "$Body", not read, and written back as
// the element it was.
void parseStructuredBody(Note& note, xmlNode* el) {
  Item it;
  it.name = "$Body";
  setValue(it, NN_TYPE_STRUCTURED_RICHTEXT, nullptr, 0);
  keepSource(it, dump(el), false);
  it.source.element = true;
  note.items.push_back(std::move(it));
}

void parseNoteInfo(xmlNode* c, Note& note, Pending* out) {
  NoteSource& s = note.source;
  s.hadInfo = true;
  s.info = dump(c);
  s.infoAttributes = namespacesOf(c) + attributesOf(c, [](const std::string& a, const std::string&) {
    return a == "noteid" || a == "unid" || a == "sequence";
  });
  uint32_t id;
  if (auto v = attr(c, "noteid"); v && parseHex(*v, 8, &id) && id) {
    note.id = id;
    out->hasId = true;
  }
  UNIVERSALNOTEID_tag u{};
  if (auto v = attr(c, "unid"); v && parseUnid(*v, &u)) {
    note.oid.File = u.File;
    note.oid.Note = u.Note;
    out->hasUnid = true;
  }
  if (auto v = attr(c, "sequence")) note.oid.Sequence = uint32_t(std::strtoul(v->c_str(), nullptr, 10));
  for (xmlNode* k = c->children; k; k = k->next) {
    if (isBlankText(k)) continue;
    xmlNode* d = firstElement(k, "datetime");
    if (isElement(k, "created")) {
      if (d) parseTime(d, &note.created);
      s.infoCreated = dump(k);
    } else if (isElement(k, "modified")) {
      if (d) parseTime(d, &note.modified);
    } else {
      s.infoRest += dump(k);
    }
  }
  note.oid.SequenceTime = note.modified;
}

bool parseNote(Loader& L, xmlNode* el, Pending* out) {
  auto note = std::make_shared<Note>();
  note->rootElement = elementName(el);
  note->dxlClass = note->rootElement == "note" ? attr(el, "class").value_or("document") : note->rootElement;
  note->noteClass = lookup(kClasses, note->dxlClass).value_or(NN_CLASS_DOCUMENT);
  note->isDefault = attrTrue(el, "default");
  note->source.fromFile = true;
  // The declarations of the file's root element are the database's.
  const bool root = el->parent && el->parent->type == XML_DOCUMENT_NODE;
  note->source.attributes = (root ? std::string() : namespacesOf(el)) + attributesOf(el);
  for (xmlNode* c = el->children; c; c = c->next) {
    if (isBlankText(c)) continue;
    std::optional<std::string> name;
    if (isElement(c, "noteinfo") && !note->source.hadInfo) {
      parseNoteInfo(c, *note, out);
    } else if (isElement(c, "item") && (name = attr(c, "name"))) {
      if (!parseItem(L, *note, c, *name)) return false;
    } else if (isElement(c, "body") && firstElement(c, "richtext")) {
      parseStructuredBody(*note, c);
    } else {
      note->source.content.push_back(keptChild(c, note->items.size()));
    }
  }
  out->note = note;
  return true;
}

// Every note element of the format, whatever its class; an element of
// another name that holds items is read as a note too.
bool isNoteElement(xmlNode* el) {
  if (el->type != XML_ELEMENT_NODE) return false;
  const std::string name = elementName(el);
  return name == "note" || lookup(kClasses, name) || firstElement(el, "item");
}

// The notes of the document; what else <database> holds is kept in the
// database's source. False when the root is not DXL.
bool noteElements(Loader& L, xmlDocPtr doc, Database& db, std::vector<xmlNode*>* notes) {
  xmlNode* root = xmlDocGetRootElement(doc);
  if (!root) return L.fail(nullptr, "no root element");
  DxlSource& s = db.source;
  s.namespaces = namespacesOf(root);
  if (doc->intSubset) s.doctype = dump(reinterpret_cast<xmlNode*>(doc->intSubset));
  if (isElement(root, "database")) {
    s.root = "database";
    s.attributes = attributesOf(root);
    for (xmlNode* c = root->children; c; c = c->next) {
      if (isBlankText(c)) continue;
      if (isNoteElement(c))
        notes->push_back(c);
      else
        s.content.push_back(keptChild(c, notes->size()));
    }
    return true;
  }
  if (!isNoteElement(root))
    return L.fail(root, "<" + elementName(root) + "> is neither a DXL database nor a note");
  s.root = elementName(root);
  notes->push_back(root);
  return true;
}

void readReplicaId(xmlDocPtr doc, const std::string& path, Database& db) {
  xmlNode* root = xmlDocGetRootElement(doc);
  std::optional<std::string> rep = root ? attr(root, "replicaid") : std::nullopt;
  uint32_t hi, lo;
  if (rep && rep->size() == 16 && parseHex(rep->substr(0, 8), 8, &hi) && parseHex(rep->substr(8), 8, &lo)) {
    db.replica.ID.Innards[1] = hi;
    db.replica.ID.Innards[0] = lo;
  } else {
    uint64_t h = hash64(path);
    db.replica.ID.Innards[0] = uint32_t(h);
    db.replica.ID.Innards[1] = uint32_t(h >> 32);
  }
}

// Notes without ids in the file get ids that do not collide with those it
// gives, and universal ids derived from the file, so a reload gives the same.
void assignIdentities(const std::string& path, std::vector<Pending>& pending, Database& db) {
  std::set<NOTEID> used;
  NOTEID maxId = 0;
  for (auto& p : pending) {
    if (p.hasId && !used.insert(p.note->id).second) p.hasId = false;
    if (p.hasId) maxId = std::max(maxId, p.note->id);
  }
  db.nextNoteId = std::max<NOTEID>(0x10, (maxId + 4) & ~NOTEID(3));
  for (auto& p : pending) {
    Note& n = *p.note;
    if (!p.hasId) {
      while (used.count(db.nextNoteId)) db.nextNoteId += 4;
      n.id = db.nextNoteId;
      db.nextNoteId += 4;
      used.insert(n.id);
    }
    UNIVERSALNOTEID_tag u{n.oid.File, n.oid.Note};
    if (p.hasUnid && db.findNoteByUnid(u)) p.hasUnid = false;
    if (!p.hasUnid) {
      uint64_t h = hash64(path + "#" + std::to_string(n.id));
      n.oid.File = db.replica.ID;
      n.oid.Note.Innards[0] = uint32_t(h);
      n.oid.Note.Innards[1] = uint32_t(h >> 32) ^ n.id;
      UNIVERSALNOTEID_tag g{n.oid.File, n.oid.Note};
      while (db.findNoteByUnid(g)) {
        ++n.oid.Note.Innards[0];
        g.Note = n.oid.Note;
      }
    }
    // The identity as read: the writer gives a note whose identity changed
    // a new <noteinfo>.
    n.source.id = n.id;
    n.source.oid = n.oid;
    n.source.created = n.created;
    n.source.modified = n.modified;
    db.notes.push_back(p.note);
  }
}

bool loadNotes(Loader& L, xmlDocPtr doc, Database& db) {
  readReplicaId(doc, L.path, db);
  std::vector<xmlNode*> elements;
  if (!noteElements(L, doc, db, &elements)) return false;
  std::vector<Pending> pending;
  for (xmlNode* el : elements) {
    Pending p;
    if (!parseNote(L, el, &p)) return false;
    pending.push_back(std::move(p));
  }
  assignIdentities(L.path, pending, db);
  db.nextObjectId = L.maxObjectId + 1;
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
  bool ok;
  try {
    ok = loadNotes(L, doc, *db);
  } catch (const std::bad_alloc&) {
    ok = L.fail(nullptr, "out of memory");
  }
  xmlFreeDoc(doc);
  if (!ok) {
    *error = L.error;
    return nullptr;
  }
  return db;
}

}  // namespace nnstore
