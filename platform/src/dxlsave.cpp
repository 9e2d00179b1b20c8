// DXL (XML) documents: writing a database back. What its file held is
// written back as it stood, unless the database changed it since.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "dxl.h"
#include "xmllog.h"

namespace nnstore {

namespace {

using namespace dxl;

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

// The item's value as a typed DXL element; nullopt when only raw data keeps it exact.
std::optional<std::string> typedValue(const Note& note, const Item& it) {
  const uint8_t* d = it.value.data() + 2;
  size_t n = it.value.size() - 2;
  std::string out;
  switch (it.type) {
    case NN_TYPE_TEXT:
    case NN_TYPE_FORMULA: {
      auto t = xmlText(std::string(reinterpret_cast<const char*>(d), n));
      if (!t) return std::nullopt;
      // A formula keeps its line ends as they are; a text writes them as <break/>.
      const bool text = it.type == NN_TYPE_TEXT;
      out = text ? "<text>" : "<formula>";
      escapeText(*t, out, text);
      return out + (text ? "</text>" : "</formula>");
    }
    case NN_TYPE_TEXT_LIST: {
      std::vector<std::string> entries;
      size_t used = 0;
      if (!textListEntries(d, n, &entries, &used) || used != n) return std::nullopt;
      out = "<textlist>";
      for (const std::string& e : entries) {
        auto t = xmlText(e);
        if (!t) return std::nullopt;
        out += "<text>";
        escapeText(*t, out, true);
        out += "</text>";
      }
      return out + "</textlist>";
    }
    case NN_TYPE_NUMBER: {
      if (n != 8 || !std::isfinite(rdDouble(d))) return std::nullopt;
      return "<number>" + numberText(rdDouble(d)) + "</number>";
    }
    case NN_TYPE_NUMBER_RANGE: {
      if (n < 4 || rd16(d + 2) != 0 || n != 4 + size_t(rd16(d)) * 8) return std::nullopt;
      out = "<numberlist>";
      for (size_t i = 0; i < rd16(d); ++i) {
        double x = rdDouble(d + 4 + i * 8);
        if (!std::isfinite(x)) return std::nullopt;
        out += "<number>" + numberText(x) + "</number>";
      }
      return out + "</numberlist>";
    }
    case NN_TYPE_TIME: {
      if (n != 8) return std::nullopt;
      auto t = dxlTime(rdTime(d));
      if (!t) return std::nullopt;
      return "<datetime>" + *t + "</datetime>";
    }
    case NN_TYPE_TIME_RANGE: {
      if (n < 4) return std::nullopt;
      size_t list = rd16(d), ranges = rd16(d + 2);
      if (n != 4 + list * 8 + ranges * 16) return std::nullopt;
      std::string body;
      for (size_t i = 0; i < list; ++i) {
        auto t = dxlTime(rdTime(d + 4 + i * 8));
        if (!t) return std::nullopt;
        body += "<datetime>" + *t + "</datetime>";
      }
      for (size_t i = 0; i < ranges; ++i) {
        const uint8_t* p = d + 4 + list * 8 + i * 16;
        auto a = dxlTime(rdTime(p)), b = dxlTime(rdTime(p + 8));
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

// The bytes of the attachment an item names; null when it holds none.
const std::vector<uint8_t>* attachmentBytes(const Note& note, const Item& it) {
  NnFileObject fo{};
  if (it.type != NN_TYPE_OBJECT || !parseFileValue(it.value, &fo, nullptr)) return nullptr;
  auto obj = note.objects.find(fo.objectId);
  return obj == note.objects.end() ? nullptr : &obj->second.bytes;
}

// The item's content as its file wrote it, while its value is what it was read to.
bool writeSource(const Note& note, const Item& it, std::string& out) {
  const ItemSource& s = it.source;
  if (!s.present || it.value != s.value) return false;
  if (s.dataAt == std::string::npos) {
    out += s.xml;
    return true;
  }
  const std::vector<uint8_t>* bytes = attachmentBytes(note, it);
  if (!bytes) return false;
  out.append(s.xml, 0, s.dataAt);
  out += '\n';
  encodeBase64(*bytes, out);
  out.append(s.xml, s.dataAt, std::string::npos);
  return true;
}

void writeItem(const Note& note, const Item& it, std::string& out) {
  // A structured <body> stands as the element it was.
  if (it.source.element && writeSource(note, it, out)) {
    out += '\n';
    return;
  }
  out += "<item name='";
  std::string name = fromLmbcs(it.name);
  if (!validUtf8(name))
    for (char& c : name)
      if (uint8_t(c) < 0x20 || uint8_t(c) >= 0x80) c = '?';
  escapeAttr(name, out);
  out += "'";
  for (const auto& f : kItemFlags)
    if (it.flags & f.value) out += std::string(" ") + f.name + "='true'";
  out += it.otherAttributes;
  out += ">";
  std::optional<std::string> typed;
  if (writeSource(note, it, out)) {
  } else if (!it.source.raw && (typed = typedValue(note, it))) {
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

bool sameTime(const tagTIMEDATE& a, const tagTIMEDATE& b) {
  return a.Innards[0] == b.Innards[0] && a.Innards[1] == b.Innards[1];
}

void writeTime(const char* element, const tagTIMEDATE& t, std::string& out) {
  auto text = dxlTime(t);
  if (!text || isZero(t)) return;
  out += std::string("<") + element + "><datetime>" + *text + "</datetime></" + element + ">";
}

// The note's <noteinfo>: as the file gave it while the note's identity is
// the one read; written anew for a new note or one stored since.
void writeNoteInfo(const Note& n, std::string& out) {
  const NoteSource& s = n.source;
  const bool same = s.fromFile && n.id == s.id && sameTime(n.oid.File, s.oid.File) &&
                    sameTime(n.oid.Note, s.oid.Note) && n.oid.Sequence == s.oid.Sequence &&
                    sameTime(n.created, s.created) && sameTime(n.modified, s.modified);
  if (same) {
    if (s.hadInfo) out += s.info + "\n";
    return;
  }
  char buf[96];
  std::snprintf(buf, sizeof buf, "<noteinfo noteid='%x' unid='%.8X%.8X%.8X%.8X' sequence='%u'", unsigned(n.id),
                unsigned(n.oid.File.Innards[1]), unsigned(n.oid.File.Innards[0]), unsigned(n.oid.Note.Innards[1]),
                unsigned(n.oid.Note.Innards[0]), unsigned(n.oid.Sequence));
  out += buf;
  out += s.infoAttributes + ">";
  if (!s.infoCreated.empty() && sameTime(n.created, s.created))
    out += s.infoCreated;
  else
    writeTime("created", n.created, out);
  writeTime("modified", n.modified, out);
  out += s.infoRest + "</noteinfo>\n";
}

// Kept content of `content` that stood before position `before`, from *next on.
void writeKept(const std::vector<KeptXml>& content, size_t before, size_t* next, std::string& out) {
  for (; *next < content.size() && content[*next].after < before; ++*next) out += content[*next].xml + "\n";
}

void writeNote(const Note& n, const std::string& namespaces, std::string& out) {
  const NoteSource& s = n.source;
  out += "<" + n.rootElement + namespaces;
  if (s.fromFile) {
    out += s.attributes;
  } else {
    const char* cls = nameOf(kClasses, n.noteClass);
    out += " class='";
    escapeAttr(!n.dxlClass.empty() ? n.dxlClass : cls ? cls : "document", out);
    out += "'";
    if (n.isDefault) out += " default='true'";
  }
  out += ">\n";
  writeNoteInfo(n, out);
  size_t next = 0;
  for (size_t i = 0; i < n.items.size(); ++i) {
    writeKept(s.content, i + 1, &next, out);
    writeItem(n, n.items[i], out);
  }
  writeKept(s.content, SIZE_MAX, &next, out);
  out += "</" + n.rootElement + ">\n";
}

}  // namespace

NnStatus saveDxl(const Database& db, const std::string& path) {
  XmlLogScope quiet;
  const DxlSource& s = db.source;
  std::string out = "<?xml version='1.0' encoding='utf-8'?>\n";
  const std::string namespaces = s.root.empty() ? std::string(" xmlns='") + kNamespace + "'" : s.namespaces;
  // A file of one note is written as one note while the database holds just that one.
  const bool oneNote = !s.root.empty() && s.root != "database" && s.content.empty() &&
                       db.notes.size() == 1 && db.notes[0]->source.fromFile &&
                       db.notes[0]->rootElement == s.root;
  if (!s.doctype.empty() && (oneNote || s.root == "database")) out += s.doctype + "\n";
  if (oneNote) {
    writeNote(*db.notes[0], namespaces, out);
  } else {
    out += "<database" + namespaces;
    if (s.root == "database") {
      out += s.attributes;
    } else {
      char rep[24];
      std::snprintf(rep, sizeof rep, "%.8X%.8X", unsigned(db.replica.ID.Innards[1]),
                    unsigned(db.replica.ID.Innards[0]));
      out += std::string(" version='12.0' replicaid='") + rep + "'";
    }
    out += ">\n";
    size_t next = 0;
    for (size_t i = 0; i < db.notes.size(); ++i) {
      writeKept(s.content, i + 1, &next, out);
      writeNote(*db.notes[i], "", out);
    }
    writeKept(s.content, SIZE_MAX, &next, out);
    out += "</database>\n";
  }

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
