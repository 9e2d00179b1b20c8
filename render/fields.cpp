// Fields, keyword fields, buttons and embedded controls as read-only HTML, and
// the element attributes of 0xFF7A records.
#include <cctype>
#include <cstring>
#include <string>

#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

using kv::cd::ReadU16;

// Puts the cursor back where a writer started when it could not finish.
NnStatus Rollback(RenderContext* ctx, char* mark) {
  if (mark) {
    ctx->outputCursor = mark;
    *mark = 0;
  }
  return NN_ERR_MEMORY;
}

bool AppendAttribute(RenderContext* ctx, const char* name, const char* value, size_t length) {
  return RenderAppend(ctx, " ") && RenderAppend(ctx, name) && RenderAppend(ctx, "=\"") &&
         AppendDocumentText(ctx, value, length) && RenderAppend(ctx, "\"");
}

bool IsAttrNameChar(char c) {
  return std::isalnum(uint8_t(c)) || c == '-' || c == '_' || c == ':' || c == '.';
}

// The record's extra attributes, "name=value" pairs typed by the author. Only
// plain names pass (no event handlers, nothing we write ourselves), each value
// escaped, URL values with a script scheme dropped.
bool AppendExtraAttributes(RenderContext* ctx, const char* text, size_t length) {
  // Names the writers set themselves stay theirs (a repeated attribute is not XML).
  static const char* const kOwn[] = {"id",   "name",   "class",   "style",    "title",
                                     "href", "src",    "target",  "alt",      "width",
                                     "height", "type", "rowspan", "colspan",  "disabled",
                                     "checked", "xmlns"};
  std::string seen = " ";
  size_t i = 0;
  while (i < length) {
    while (i < length && (std::isspace(uint8_t(text[i])) || text[i] == 0)) ++i;
    const size_t nameStart = i;
    while (i < length && IsAttrNameChar(text[i])) ++i;
    const size_t nameLen = i - nameStart;
    if (nameLen == 0) {  // not an attribute: skip the character
      ++i;
      continue;
    }
    std::string name(text + nameStart, nameLen);
    for (char& c : name) c = char(std::tolower(uint8_t(c)));
    const char* value = nullptr;
    size_t valueLen = 0;
    while (i < length && text[i] == ' ') ++i;
    if (i < length && text[i] == '=') {
      ++i;
      while (i < length && text[i] == ' ') ++i;
      if (i < length && (text[i] == '"' || text[i] == '\'')) {
        const char q = text[i++];
        value = text + i;
        while (i < length && text[i] != q) ++i;
        valueLen = size_t(text + i - value);
        if (i < length) ++i;
      } else {
        value = text + i;
        while (i < length && !std::isspace(uint8_t(text[i])) && text[i] != 0) ++i;
        valueLen = size_t(text + i - value);
      }
    }
    bool keep = !(name.size() > 2 && name[0] == 'o' && name[1] == 'n') &&
                (std::isalpha(uint8_t(name[0])) || name[0] == '_');
    for (const char* own : kOwn)
      if (name == own) keep = false;
    if (keep && value && IsRefusedUrl(value, valueLen)) keep = false;
    if (keep && name.compare(0, 6, "xmlns:") == 0) keep = false;
    // A prefix XHTML does not declare makes the page fail an XML reader
    // that reads namespaces; only xml:lang has its prefix bound.
    if (keep && ctx->outputKind == kOutputXhtml && name.find(':') != std::string::npos &&
        name != "xml:lang")
      keep = false;
    if (keep && seen.find(" " + name + " ") != std::string::npos) keep = false;
    if (!keep) continue;
    seen += name + " ";
    if (!value) {  // a minimised attribute: name="name" is valid in both syntaxes
      value = text + nameStart;
      valueLen = nameLen;
    }
    if (!AppendAttribute(ctx, name.c_str(), value, valueLen)) return false;
  }
  return true;
}

// The texts of the record's attribute lengths, bounded by the record.
struct IdTexts {
  const char* text[6] = {};
  size_t length[6] = {};
  bool ok = false;
};
IdTexts ReadIdTexts(const uint8_t* d, uint32_t length) {
  IdTexts t;
  uint32_t off = 26;
  if (!d || length < off) return t;
  for (int i = 0; i < 6; ++i) {
    uint16_t n = 0;
    if (!ReadU16(d, length, 4 + 2 * uint32_t(i), &n)) return t;
    if (off + n > length) n = uint16_t(length - off);  // a cut record keeps what it holds
    t.text[i] = reinterpret_cast<const char*>(d + off);
    t.length[i] = n;
    // A text may carry its own NUL; it is not part of the value.
    while (t.length[i] && t.text[i][t.length[i] - 1] == 0) --t.length[i];
    off += n;
  }
  t.ok = true;
  return t;
}

// The field record's item name: after the three formulas, by their lengths.
bool FieldName(const RTRecordNode* node, const char** name, size_t* len) {
  const uint8_t* d = node->data;
  uint16_t dv = 0, it = 0, iv = 0, nl = 0;
  if (!d || !ReadU16(d, node->length, 24, &dv) || !ReadU16(d, node->length, 26, &it) ||
      !ReadU16(d, node->length, 30, &iv) || !ReadU16(d, node->length, 32, &nl))
    return false;
  const uint64_t off = uint64_t(kv::cd::host::kFieldFixed) + dv + it + iv;
  if (off + nl > node->length) return false;
  *name = reinterpret_cast<const char*>(d + off);
  *len = nl;
  while (*len && (*name)[*len - 1] == 0) --*len;
  return true;
}

}  // namespace

void WriteElementIdAttributesStyled(const uint8_t* attributeRecord, uint32_t length,
                                    RenderContext* ctx, const char* extraStyle) {
  WriteElementAttributes(attributeRecord, length, ctx, extraStyle, true);
}

void WriteElementAttributes(const uint8_t* attributeRecord, uint32_t length, RenderContext* ctx,
                            const char* extraStyle, bool withTitle) {
  const IdTexts t = ReadIdTexts(attributeRecord, length);
  const bool haveExtra = extraStyle && *extraStyle;
  // Order: id, name, class, style, title, then the extra attributes.
  static const int kOrder[] = {0, 5, 1, 2, 3, 4};
  static const char* const kNames[] = {"id", "class", "style", "title", "", "name"};
  for (int i : kOrder) {
    if (i == 2) {
      const size_t own = t.ok ? t.length[2] : 0;
      if (!haveExtra && own == 0) continue;
      bool ok = RenderAppend(ctx, " style=\"");
      if (ok && haveExtra) ok = RenderAppend(ctx, extraStyle);
      if (ok && own) ok = AppendDocumentText(ctx, t.text[2], own);
      if (!ok || !RenderAppend(ctx, "\"")) return;
      continue;
    }
    if (!t.ok || t.length[i] == 0 || (i == 3 && !withTitle)) continue;
    if (i == 4) {
      if (!AppendExtraAttributes(ctx, t.text[4], t.length[4])) return;
      continue;
    }
    if (!AppendAttribute(ctx, kNames[i], t.text[i], t.length[i])) return;
  }
}

void WriteElementIdAttributes(const uint8_t* attributeRecord, uint32_t length, RenderContext* ctx,
                              int /*reserved1*/, int /*reserved2*/) {
  WriteElementIdAttributesStyled(attributeRecord, length, ctx, nullptr);
}

NnStatus RenderTextFieldHtml(RenderContext* ctx, uint16_t /*endType*/) {
  RTRecordNode* node = ctx->currentRecord;
  const char* name = nullptr;
  size_t len = 0;
  if (!node || node->signature != 0xFF8A || !FieldName(node, &name, &len)) return NN_OK;
  char* mark = ctx->outputCursor;
  if (RenderAppend(ctx, "<span class=\"field\"") && AppendAttribute(ctx, "title", name, len) &&
      RenderAppend(ctx, ">") && AppendDocumentText(ctx, name, len) && RenderAppend(ctx, "</span>"))
    return NN_OK;
  return Rollback(ctx, mark);
}

NnStatus RenderChoiceFieldHtml(RenderContext* ctx) {
  RTRecordNode* node = ctx->currentRecord;
  if (!node || node->signature != 0xFF8F || !node->data) return NN_OK;
  const uint8_t* d = node->data;
  const uint32_t length = node->length;
  uint16_t count = 0, flags = 0;
  if (!ReadU16(d, length, 8, &count) || !ReadU16(d, length, 10, &flags)) return NN_OK;
  // The on/off bytes, then the list: an entry count, the lengths, the texts.
  const uint32_t listAt = 12u + count;
  uint16_t entries = 0;
  if (!ReadU16(d, length, listAt, &entries)) return NN_OK;
  const uint64_t textsAt = uint64_t(listAt) + 2 + uint64_t(entries) * 2;
  if (textsAt > length) return NN_OK;
  const char* type = (flags & 0x1) ? "radio" : "checkbox";
  char* mark = ctx->outputCursor;
  bool ok = RenderAppend(ctx, "<span class=\"keywords\">");
  uint64_t off = textsAt;
  for (uint16_t i = 0; ok && i < entries; ++i) {
    uint16_t n = 0;
    ReadU16(d, length, listAt + 2 + 2u * i, &n);
    if (off + n > length) break;
    const bool on = i < count && d[12 + i] != 0;
    ok = RenderAppend(ctx, "<label><input type=\"") && RenderAppend(ctx, type) &&
         RenderAppend(ctx, "\" disabled=\"disabled\"") &&
         (!on || RenderAppend(ctx, " checked=\"checked\"")) && RenderAppend(ctx, " />") &&
         AppendDocumentText(ctx, reinterpret_cast<const char*>(d + off), n) &&
         RenderAppend(ctx, "</label>");
    off += n;
  }
  if (ok && RenderAppend(ctx, "</span>")) return NN_OK;
  return Rollback(ctx, mark);
}

NnStatus ProcessXMLButton(RenderContext* ctx, uint16_t /*signature*/) {
  return WriteButtonHtml(ctx, nullptr);
}

NnStatus WriteButtonHtml(RenderContext* ctx, const RTRecordNode* attributes) {
  RTRecordNode* node = ctx->currentRecord;
  if (!node || node->signature != 0xFFAB || !node->data || node->length < 16) return NN_OK;
  const char* label = reinterpret_cast<const char*>(node->data + 16);
  size_t len = node->length - 16;
  if (const void* nul = std::memchr(label, 0, len)) len = size_t(static_cast<const char*>(nul) - label);
  char* mark = ctx->outputCursor;
  if (!RenderAppend(ctx, "<button type=\"button\" disabled=\"disabled\""))
    return Rollback(ctx, mark);
  if (attributes && attributes->data)
    WriteElementIdAttributes(attributes->data, attributes->length, ctx, 0, 0);
  if (!ctx->driver.outputFull && RenderAppend(ctx, ">") && AppendDocumentText(ctx, label, len) &&
      RenderAppend(ctx, "</button>"))
    return NN_OK;
  return Rollback(ctx, mark);
}

NnStatus ProcessXMLEmbeddedCtl(RenderContext* ctx, uint16_t /*signature*/) {
  RTRecordNode* node = ctx->currentRecord;
  if (!node || node->signature != 0xFFF7) return NN_OK;
  return RenderAppend(ctx, "<input type=\"text\" disabled=\"disabled\" />") ? NN_OK : NN_ERR_MEMORY;
}
