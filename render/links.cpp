// Document links, and the text, URL and flat-rendering helpers that the element
// writers share.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/options.h"
#include "render/render.h"
#include "rtitem.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

bool XmlCharAllowed(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

size_t DecodeUtf8(const uint8_t* p, size_t n, uint32_t* cp) {
  if (n == 0) return 0;
  uint8_t b = p[0];
  size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || len > n) return 0;
  uint32_t v = len == 1 ? b : len == 2 ? (b & 0x1Fu) : len == 3 ? (b & 0x0Fu) : (b & 0x07u);
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    v = (v << 6) | (p[i] & 0x3Fu);
  }
  *cp = v;
  return len;
}

namespace {

using kv::cd::ReadU16;
using kv::cd::ReadU32;

// Escapes the one character at p (avail bytes) into out (room for 64 bytes);
// returns the bytes written and sets *used to the bytes consumed.
size_t EscapeOne(const uint8_t* p, size_t avail, char* out, size_t* used) {
  uint8_t b = p[0];
  if (b >= 0x20 && b < 0x7F) {
    *used = 1;
    const char* e = nullptr;
    switch (b) {
      case '&': e = "&amp;"; break;
      case '<': e = "&lt;"; break;
      case '>': e = "&gt;"; break;
      case '"': e = "&quot;"; break;
      case '\'': e = "&#39;"; break;
      default: out[0] = char(b); return 1;
    }
    size_t n = std::strlen(e);
    std::memcpy(out, e, n);
    return n;
  }
  if (b == 0 || b == '\t' || b == '\n' || b == '\r') {  // NUL is the platform's line break
    *used = 1;
    out[0] = ' ';
    return 1;
  }
  uint32_t size = 0;
  NnCharsetByteSize(reinterpret_cast<const char*>(p), 1, uint32_t(avail), &size, nullptr);
  if (size == 0 || size > avail) size = 1;
  *used = size;
  const std::string utf8 = NnLmbcsToUtf8(reinterpret_cast<const char*>(p), size);
  size_t written = 0;
  const auto* u = reinterpret_cast<const uint8_t*>(utf8.data());
  for (size_t i = 0; i < utf8.size() && written < 48;) {
    uint32_t cp = 0;
    size_t k = DecodeUtf8(u + i, utf8.size() - i, &cp);
    if (k == 0) break;
    i += k;
    if (!XmlCharAllowed(cp)) continue;
    if (cp == '&' || cp == '<' || cp == '>' || cp == '"' || cp == '\'' || cp >= 0x7F || cp < 0x20) {
      written += size_t(std::snprintf(out + written, 64 - written, "&#%u;", cp));
    } else {
      out[written++] = char(cp);
    }
  }
  return written;
}

bool IsUrlSafe(uint8_t c) {
  if (std::isalnum(c)) return true;
  return std::strchr("-._~:/?#[]@!$()*+,;=%", c) != nullptr && c != 0;
}

void HexId(const tagTIMEDATE& td, char* out) {
  std::snprintf(out, 17, "%08X%08X", td.Innards[1], td.Innards[0]);
}

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// A NUL-ended text at offset off of the record; its length (bounded by the
// record) in *len; the offset after its NUL returned.
uint32_t ReadCText(const uint8_t* d, uint32_t length, uint32_t off, const char** text,
                   size_t* len) {
  *text = "";
  *len = 0;
  if (off >= length) return length;
  const void* nul = std::memchr(d + off, 0, length - off);
  size_t n = nul ? size_t(static_cast<const uint8_t*>(nul) - (d + off)) : length - off;
  *text = reinterpret_cast<const char*>(d + off);
  *len = n;
  return uint32_t(off + n + (nul ? 1 : 0));
}

// The replica, view and note identifiers of entry `index` of the note's link
// table; false when the note has none or the entry is beyond it.
bool LookupLinkTable(const RenderContext* ctx, uint16_t index, uint8_t link[40]) {
  if (!ctx->item) return false;
  NnHandle hNote = RenderNote(ctx);
  if (!hNote) return false;
  NnBlockId item, value;
  uint16_t type = 0;
  uint32_t len = 0;
  if (NnItemInfo(hNote, "$Links", 6, &item, &type, &value, &len) != NN_OK) return false;
  const auto* p = static_cast<const uint8_t*>(NnBlockLock(value));
  bool ok = false;
  uint16_t count = 0;
  // The value: its type word, an entry count, then 40-byte entries.
  if (p && ReadU16(p, len, 2, &count) && index < count &&
      4 + (uint64_t(index) + 1) * 40 <= len) {
    std::memcpy(link, p + 4 + size_t(index) * 40, 40);
    ok = true;
  }
  NnBlockUnlock(value);
  return ok;
}

}  // namespace

size_t EscapeDocumentText(const char* text, size_t length, char* out, size_t outSize) {
  if (!out || outSize == 0) return 0;
  size_t w = 0;
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  char one[64];
  for (size_t i = 0; text && i < length;) {
    size_t used = 1;
    size_t n = EscapeOne(p + i, length - i, one, &used);
    if (w + n + 1 > outSize) break;
    std::memcpy(out + w, one, n);
    w += n;
    i += used;
  }
  out[w] = 0;
  return w;
}

bool AppendDocumentText(RenderContext* ctx, const char* text, size_t length) {
  char buf[1100];
  size_t w = 0;
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  for (size_t i = 0; text && i < length;) {
    size_t used = 1;
    w += EscapeOne(p + i, length - i, buf + w, &used);
    i += used;
    if (w > 1000) {
      if (!RenderAppendN(ctx, buf, w)) return false;
      w = 0;
    }
  }
  return w == 0 || RenderAppendN(ctx, buf, w);
}

bool IsRefusedUrl(const char* url, size_t length) {
  char scheme[16];
  size_t n = 0;
  for (size_t i = 0; url && i < length; ++i) {
    uint8_t c = uint8_t(url[i]);
    if (c <= 0x20) continue;  // browsers drop blanks and controls inside a scheme
    if (c == ':') {
      scheme[n] = 0;
      return std::strcmp(scheme, "javascript") == 0 || std::strcmp(scheme, "vbscript") == 0 ||
             std::strcmp(scheme, "data") == 0 || std::strcmp(scheme, "livescript") == 0;
    }
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    if (n + 1 >= sizeof scheme) return false;
    scheme[n++] = char(std::tolower(c));
  }
  return false;
}

bool AppendDocumentUrl(RenderContext* ctx, const char* url, size_t length) {
  const std::string utf8 = NnLmbcsToUtf8(url, length);
  std::string out;
  out.reserve(utf8.size() + 16);
  char hex[4];
  for (unsigned char c : utf8) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '\\') {
      out += '/';
    } else if (IsUrlSafe(c)) {
      out += char(c);
    } else {
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return RenderAppendN(ctx, out.data(), out.size());
}

bool AppendLinkUrl(RenderContext* ctx, const char* url, size_t length) {
  char value[kOptionValueMax + 1];
  const bool encode = GetOptionValue(ctx->optionString, "URLEncodeFilenames=", value) &&
                      (value[0] == 'y' || value[0] == 'Y' || value[0] == '1' ||
                       value[0] == 't' || value[0] == 'T' || strcasecmp(value, "ON") == 0);
  if (!encode) return AppendDocumentText(ctx, url, length);
  std::string rewritten;
  rewritten.reserve(length + 16);
  for (size_t i = 0; i < length; ++i) {
    if (url[i] == '\\') rewritten += '/';
    else if (url[i] == ' ') rewritten += "%20";
    else rewritten += url[i];
  }
  return AppendDocumentText(ctx, rewritten.data(), rewritten.size());
}

std::string EncodeUrlSegment(const char* text, size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string utf8 = NnLmbcsToUtf8(text, strnlen(text, length));
  std::string out;
  out.reserve(utf8.size() + 8);
  // A segment of dots alone would climb out of the path: its dots are encoded.
  const bool dots = utf8.find_first_not_of('.') == std::string::npos;
  for (unsigned char c : utf8) {
    if ((std::isalnum(c) || c == '-' || c == '_' || c == '~' || (c == '.' && !dots)) && c < 0x80) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

std::string EncodeUrlPath(const std::string& path) {
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) {
      if (!out.empty()) out += '/';
      out += EncodeUrlSegment(path.data() + start, slash - start);
    }
    start = slash + 1;
  }
  return out;
}

std::string SiteDatabasePath(const RenderContext* ctx) {
  std::string path;
  NnHandle db = ctx->item ? ctx->item->hDb : 0;
  NnHandle note = RenderNote(ctx);
  if (!db && note) NnNoteGetInfo(note, NN_NOTE_INFO_DB, &db);
  char stored[1024] = {};
  if (db && NnDbGetPath(db, stored, sizeof stored) == NN_OK) path = stored;
  else if (ctx->item) path.assign(ctx->item->dbPath, strnlen(ctx->item->dbPath, sizeof ctx->item->dbPath));
  for (char& c : path)
    if (c == '\\') c = '/';
  char directory[1024] = {};
  NnGetDataDirectory(directory, sizeof directory);
  std::string dir = directory;
  for (char& c : dir)
    if (c == '\\') c = '/';
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  if (!path.empty() && path.size() > dir.size() + 1 && path.compare(0, dir.size(), dir) == 0 &&
      path[dir.size()] == '/') {
    path.erase(0, dir.size() + 1);
  } else if (!path.empty() && (path[0] == '/' || (path.size() > 1 && path[1] == ':'))) {
    // Outside the data directory: the file name alone keeps the link on this site.
    path.erase(0, path.find_last_of('/') + 1);
    if (path.size() > 1 && path[1] == ':') path.erase(0, 2);
  }
  while (!path.empty() && path[0] == '/') path.erase(0, 1);
  return path;
}

bool RecordInRange(const RenderContext* ctx, const RTRecordNode* node) {
  if (!node) return false;
  return !ctx->lastRecord || node->sequence <= ctx->lastRecord->sequence;
}

NnStatus RenderRecordsFlat(RenderContext* ctx, RTRecordNode* stop) {
  RTRecordNode* n = ctx->currentRecord;
  for (; n && n != stop && RecordInRange(ctx, n); n = n->next) {
    const bool text = n->signature == 0xFF85 || n->signature == 0xFFE4;
    bool ok = true;
    if (text && n->length > kv::cd::host::kTextFixed)
      ok = AppendDocumentText(ctx, reinterpret_cast<const char*>(n->data) + kv::cd::host::kTextFixed,
                              n->length - kv::cd::host::kTextFixed);
    else if (n->signature == 0x0081 || n->signature == 0x00A4 || n->signature == 0x00D0)
      ok = RenderAppend(ctx, " ");
    else if (n->signature == 0xFFAC)
      ok = WriteSectionTitleText(ctx, n);  // a section's title shows even here
    if (!ok) {
      ctx->currentRecord = n;
      return NN_ERR_MEMORY;
    }
  }
  ctx->currentRecord = n;
  return NN_OK;
}

namespace {

// The href of a document link, "notes://server/replica[/view[/note]][#anchor]"
// (view "0" for a note linked without a view);
// nothing when the link names no database.
bool AppendDoclinkHref(RenderContext* ctx, const uint8_t link[40], const char* server,
                       size_t serverLen, const char* anchor, size_t anchorLen) {
  if (!link || AllZero(link, 8)) return true;
  tagTIMEDATE replica, view[2], note[2];
  std::memcpy(&replica, link, 8);
  std::memcpy(view, link + 8, 16);
  std::memcpy(note, link + 24, 16);
  char ids[16 * 5 + 8];
  char* w = ids;
  HexId(replica, w);
  w += 16;
  const bool haveView = !AllZero(link + 8, 16), haveNote = !AllZero(link + 24, 16);
  if (haveView) {
    *w++ = '/';
    HexId(view[0], w);
    HexId(view[1], w + 16);
    w += 32;
  } else if (haveNote) {
    // A document without a view of its own opens through the default one, "0".
    *w++ = '/';
    *w++ = '0';
  }
  if (haveNote) {
    *w++ = '/';
    HexId(note[0], w);
    HexId(note[1], w + 16);
    w += 32;
  }
  *w = 0;
  bool ok = RenderAppend(ctx, " href=\"notes://") && AppendDocumentUrl(ctx, server, serverLen) &&
            RenderAppend(ctx, "/") && RenderAppend(ctx, ids);
  if (ok && anchorLen) ok = RenderAppend(ctx, "#") && AppendDocumentUrl(ctx, anchor, anchorLen);
  return ok && RenderAppend(ctx, "\"");
}

// A link-target record (0xFFF6) of kind 2: the start tag "<a href=...>" of a
// link to the document it names, without its class (the caller adds the
// element's attributes and closes the tag).
NnStatus TargetDoclinkStart(RenderContext* ctx, const RTRecordNode* node) {
  const uint8_t* d = node->data;
  const uint32_t length = node->length;
  uint32_t flags = 0;
  uint16_t kind = 0, anchorLen = 0, serverLen = 0, fileLen = 0;
  if (!ReadU32(d, length, 4, &flags) || !ReadU16(d, length, 8, &kind) || kind != 2 ||
      !ReadU16(d, length, 12, &anchorLen) || !ReadU16(d, length, 14, &serverLen) ||
      !ReadU16(d, length, 16, &fileLen))
    return NN_OK;
  uint64_t at = 28ull + serverLen;
  const char* server = at <= length ? reinterpret_cast<const char*>(d + 28) : "";
  if (at > length) serverLen = 0;
  at += fileLen;
  uint8_t link[40] = {};
  bool haveLink = false;
  if (flags & 0x2) {  // the link itself, inline
    if (at + 40 <= length) {
      std::memcpy(link, d + at, 40);
      haveLink = true;
    }
    at += 40;
  } else {  // an entry of the note's link table
    uint16_t index = 0;
    if (at + 2 <= length && ReadU16(d, length, uint32_t(at), &index))
      haveLink = LookupLinkTable(ctx, index, link);
    at += 2;
  }
  const char* anchor = "";
  if (at + anchorLen <= length) anchor = reinterpret_cast<const char*>(d + at);
  else anchorLen = 0;
  anchorLen = uint16_t(strnlen(anchor, anchorLen));
  serverLen = uint16_t(strnlen(server, serverLen));
  char* mark = ctx->outputCursor;
  if (RenderAppend(ctx, "<a") &&
      AppendDoclinkHref(ctx, haveLink ? link : nullptr, server, serverLen, anchor, anchorLen))
    return NN_OK;
  if (mark) {
    ctx->outputCursor = mark;
    *mark = 0;
  }
  return NN_ERR_MEMORY;
}

}  // namespace

namespace {

// The identifiers and texts of a document link record (0xFF91, 0xFF92).
struct DoclinkParts {
  uint8_t link[40] = {};
  bool haveLink = false;
  const char* comment = "";
  const char* server = "";
  const char* anchor = "";
  size_t commentLen = 0, serverLen = 0, anchorLen = 0;
};

bool ReadDoclinkRecord(const RenderContext* ctx, const RTRecordNode* node, DoclinkParts* out) {
  const uint8_t* d = node->data;
  const uint32_t length = node->length;
  uint32_t textOffset = 0;
  if (node->signature == 0xFF92) {
    if (length >= 44) {
      std::memcpy(out->link, d + 4, 40);
      out->haveLink = true;
    }
    textOffset = 44;
  } else if (node->signature == 0xFF91) {
    uint16_t index = 0;
    if (ReadU16(d, length, 4, &index)) out->haveLink = LookupLinkTable(ctx, index, out->link);
    textOffset = 6;
  } else {
    return false;
  }
  uint32_t off = ReadCText(d, length, textOffset, &out->comment, &out->commentLen);
  off = ReadCText(d, length, off, &out->server, &out->serverLen);
  ReadCText(d, length, off, &out->anchor, &out->anchorLen);
  return true;
}

}  // namespace

NnStatus DoclinkStart(RenderContext* ctx, const RTRecordNode* node) {
  if (!node || !node->data) return NN_OK;
  if (node->signature == 0xFFF6) return TargetDoclinkStart(ctx, node);
  DoclinkParts parts;
  if (!ReadDoclinkRecord(ctx, node, &parts)) return NN_OK;
  char* mark = ctx->outputCursor;
  if (RenderAppend(ctx, "<a") &&
      AppendDoclinkHref(ctx, parts.haveLink ? parts.link : nullptr, parts.server,
                        parts.serverLen, parts.anchor, parts.anchorLen))
    return NN_OK;
  if (mark) {
    ctx->outputCursor = mark;
    *mark = 0;
  }
  return NN_ERR_MEMORY;
}

NnStatus ProcessXMLDoclink(RenderContext* ctx, uint16_t /*endType*/, uint16_t /*depth*/,
                           int /*reserved*/, void* /*hotspotState*/) {
  RTRecordNode* node = ctx->currentRecord;
  if (!node || !node->data) return NN_OK;
  if (node->signature == 0xFFF6) return TargetDoclinkStart(ctx, node);
  DoclinkParts parts;
  if (!ReadDoclinkRecord(ctx, node, &parts)) return NN_OK;
  char* mark = ctx->outputCursor;
  bool ok = RenderAppend(ctx, "<a") &&
            AppendDoclinkHref(ctx, parts.haveLink ? parts.link : nullptr, parts.server,
                              parts.serverLen, parts.anchor, parts.anchorLen) &&
            RenderAppend(ctx, " class=\"doclink\">");
  if (ok)
    ok = parts.commentLen ? AppendDocumentText(ctx, parts.comment, parts.commentLen)
                          : RenderAppend(ctx, "Link");
  if (ok) ok = RenderAppend(ctx, "</a>");
  if (ok) return NN_OK;
  if (mark) {  // nothing half-written
    ctx->outputCursor = mark;
    *mark = 0;
  }
  return NN_ERR_MEMORY;
}
