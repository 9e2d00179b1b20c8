// Composers of links, popups, doc links, anchors, sections, layers, buttons and
// fields, and the helpers that apply option strings to records.
#include "richtext/compose/composers.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/fonts.h"
#include "host/options.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/compose/composeutil.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/itemhelpers.h"
#include "rtchunk.h"
#include "rtitem.h"

using namespace kv::compose;

namespace {

constexpr uint16_t kSigLinkBegin = 0xFFAD;
constexpr uint16_t kSigHotspotBegin = 0xFFA9;
constexpr uint16_t kHotspotTypePopup = 1;
constexpr uint16_t kHotspotTypeButton = 3;
constexpr uint16_t kHotspotTypeSection = 7;
constexpr uint16_t kHotspotTypeUrl = 11;
// A link hotspot whose target lies in the records it holds, not in its data.
constexpr uint32_t kHotspotTargetInRecords = 0x1;
// A hotspot's data must leave room for its header in one record.
constexpr uint32_t kMaxHotspotData = 16000;

// Opens a hotspot record with the given data (a NUL is added after it).
NnStatus EmitHotspotBegin(uint16_t signature, uint16_t type, uint32_t flags, const void* data,
                          uint32_t dataLength, bool addNul, RTProcessContext* ctx) {
  const uint32_t stored = dataLength + (addNul ? 1 : 0);
  if (stored > kMaxHotspotData) return NN_ERR_INVALID_ARG;
  RecordBuffer rec(ctx->Session, 16 + stored);
  if (!rec.ok()) return NN_ERR_MEMORY;
  PutU16(rec.data(), 0, signature);
  PutU16(rec.data(), 2, uint16_t(16 + stored));
  PutU16(rec.data(), 4, type);
  PutU32(rec.data(), 8, flags);
  PutU16(rec.data(), 12, uint16_t(stored));
  if (dataLength) std::memcpy(rec.data() + 16, data, dataLength);
  NnStatus st = AppendRecord(rec.data(), signature, 16 + stored, &ctx->Compose);
  if (st == 0) {
    ctx->Compose.hotspotOpen = 1;
    if (signature == kSigLinkBegin) ctx->Compose.linkOpen = 1;
  }
  return st;
}

// The font of a link's text: the item's current font changed by a style.
uint32_t StyledFont(RTProcessContext* ctx, const char* style) {
  uint32_t font = CurrentFont(ctx);
  if (style && *style) {
    FontState state;
    uint32_t mask = 0;
    if (ParseFontSpec(style, nullptr, ctx->Item, &state, &mask) == 0 && mask) {
      uint32_t color = 0;
      uint16_t highlight = 0;
      FontApplyChanges(&font, &color, &highlight, &state, mask);
    }
  }
  return font;
}

const char* LinkStyle(RTProcessContext* ctx) {
  TorvoRTItem* item = ctx->Item;
  return item && item->linkStyle && *item->linkStyle ? item->linkStyle : "BLUE +UNDERLINE";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 16 hex digits as a TIMEDATE (high word first, as links are written).
bool ParseHexTimeDate(const char* text, tagTIMEDATE* out) {
  uint32_t words[2] = {0, 0};
  for (int i = 0; i < 16; ++i) {
    int v = HexValue(text[i]);
    if (v < 0) return false;
    words[i / 8] = (words[i / 8] << 4) | uint32_t(v);
  }
  out->Innards[1] = words[0];
  out->Innards[0] = words[1];
  return true;
}

bool ParseHexUnid(const char* text, UNIVERSALNOTEID_tag* out) {
  tagTIMEDATE a, b;
  if (std::strlen(text) < 32 || !ParseHexTimeDate(text, &a) || !ParseHexTimeDate(text + 16, &b))
    return false;
  std::memcpy(out, &a, 8);
  std::memcpy(reinterpret_cast<uint8_t*>(out) + 8, &b, 8);
  return true;
}

// "replica[/view[/note]]" in hex, the form a rendered link shows: true when
// the whole text is one.
bool ParseBareLinkTarget(const char* text, LinkChangeBlock* change) {
  constexpr size_t kReplica = 16, kWithView = 16 + 1 + 32, kWithNote = kWithView + 1 + 32;
  const size_t n = std::strlen(text);
  if (n != kReplica && n != kWithView && n != kWithNote) return false;
  if (!ParseHexTimeDate(text, &change->replicaId)) return false;
  change->replicaSet = 'Y';
  if (n >= kWithView) {
    if (text[kReplica] != '/' || !ParseHexUnid(text + kReplica + 1, &change->viewId)) return false;
    change->viewSet = 'Y';
  }
  if (n == kWithNote) {
    if (text[kWithView] != '/' || !ParseHexUnid(text + kWithView + 1, &change->noteId))
      return false;
    change->noteSet = 'Y';
  }
  return true;
}

// Appends a NUL-ended text to a growing byte area; false when it would not fit.
bool AddCText(uint8_t* area, uint32_t capacity, uint32_t* used, const char* text) {
  size_t n = text ? std::strlen(text) : 0;
  if (*used + n + 1 > capacity) return false;
  if (n) std::memcpy(area + *used, text, n);
  area[*used + n] = 0;
  *used += uint32_t(n + 1);
  return true;
}

// A text is an option string when it opens with a key ("Server=x ...",
// "URL='...'"): an address such as "http://host/x?a=1" has "=" in it but
// opens with its scheme, and is an address; a frame name is a name.
bool IsOptionString(const char* target) {
  if (!target) return false;
  const char* p = target;
  while (*p == ' ' || *p == '\t') ++p;
  const char* key = p;
  while (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_' || *p == '$') ++p;
  return p != key && *p == '=';
}

// A doc link record (0xFF92) with its identifiers and texts.
NnStatus EmitDocLinkRecord(const uint8_t link[40], const char* comment, const char* server,
                           const char* anchor, RTProcessContext* ctx) {
  constexpr uint32_t kCapacity = 44 + 3 * 1024;
  uint8_t rec[kCapacity] = {};
  uint32_t used = 44;
  if (!AddCText(rec, kCapacity, &used, comment ? comment : "") ||
      !AddCText(rec, kCapacity, &used, server ? server : "") ||
      !AddCText(rec, kCapacity, &used, anchor ? anchor : ""))
    return NN_ERR_INVALID_ARG;
  PutU16(rec, 0, 0xFF92);
  PutU16(rec, 2, uint16_t(used));
  std::memcpy(rec + 4, link, 40);
  return AppendRecord(rec, 0xFF92, used, &ctx->Compose);
}

}  // namespace

// ---- hotspot records --------------------------------------------------------

int IsHotspotRecordSignature(uint16_t signature) {
  return signature == 0xFF74 || signature == 0xFF7E || signature == 0xFFA9 || signature == 0xFFAD;
}

int IsHotspotRecordSignatureEx(uint16_t signature) {
  return IsHotspotRecordSignature(signature) || signature == 0x007F || signature == 0x00AA ||
         signature == 0x00AE;
}

NnStatus EmitHotspotEnd(RTProcessContext* ctx, uint16_t endSignature, uint16_t flag) {
  if (!ctx) return NN_ERR_INVALID_ARG;
  if (endSignature != 0x7F && endSignature != 0xAA && endSignature != 0xAE)
    return NN_ERR_INVALID_ARG;
  // With the flag the end belongs to a hotspot this call opened; none is open
  // when the opening failed or was never made, and an end alone would leave
  // a stray record.
  if (flag && !ctx->Compose.hotspotOpen && !ctx->Compose.linkOpen) return 0;
  uint8_t rec[2] = {uint8_t(endSignature), 2};
  NnStatus st = AppendRecord(rec, endSignature, 2, &ctx->Compose);
  if (st == 0) {
    ctx->Compose.hotspotOpen = 0;
    ctx->Compose.linkOpen = 0;
  }
  return st;
}

// ---- links -------------------------------------------------------------------

NnStatus ComposeLinkHotspot(const char* text, uint32_t textLength, const char* address,
                            uint32_t addressLength, RTProcessContext* ctx) {
  return ComposeLinkHotspotWithAttributes(text, textLength, address, addressLength, nullptr,
                                          nullptr, ctx);
}

NnStatus ComposeLinkHotspotWithAttributes(const char* text, uint32_t textLength,
                                          const char* address, uint32_t addressLength,
                                          const char* cls, const char* title,
                                          RTProcessContext* ctx) {
  if (!ctx || !address || addressLength == 0) return NN_ERR_INVALID_ARG;
  if (!text) {
    text = address;
    textLength = addressLength;
  }
  // The address ends at its first NUL.
  const void* nul = std::memchr(address, 0, addressLength);
  if (nul) addressLength = uint32_t(static_cast<const char*>(nul) - address);
  if (addressLength == 0) return NN_ERR_INVALID_ARG;
  NnStatus st = EmitHotspotBegin(kSigLinkBegin, kHotspotTypeUrl, 0, address, addressLength, true,
                                 ctx);
  if (st) return st;
  if ((cls && *cls) || (title && *title)) {
    const char* strings[6] = {nullptr, cls, nullptr, title, nullptr, nullptr};
    st = ComposeHtmlAttributes(0xFF7A, strings, ctx);
    if (st) return st;
  }
  uint32_t font = StyledFont(ctx, LinkStyle(ctx));
  st = EmitTextRecord(text, textLength, &font, &ctx->Compose);
  if (st) return st;
  return EmitHotspotEnd(ctx, 0xAE, 0);
}

NnStatus ComposePopup(const char* hotspotText, const char* popupText, const char* options,
                      RTProcessContext* ctx) {
  if (!ctx || !hotspotText) return NN_ERR_INVALID_ARG;
  if (!popupText) popupText = "";
  // A mouse-over popup opens on pointing (flag 0x0100 of the hotspot), a
  // click popup by default.
  uint32_t flags = 0;
  char value[kOptionValueMax + 1] = {};
  if (GetOptionValue(options, "PopupStyle=", value) && !strncasecmp(value, "Mouse", 5))
    flags |= 0x0100;
  NnStatus st = EmitHotspotBegin(kSigHotspotBegin, kHotspotTypePopup, flags, popupText,
                                 uint32_t(std::strlen(popupText)), true, ctx);
  if (st) return st;
  st = EmitTextRecord(hotspotText, uint32_t(std::strlen(hotspotText)), nullptr, &ctx->Compose);
  if (st) return st;
  return EmitHotspotEnd(ctx, 0xAA, 0);
}

NnStatus ComposeDocLink(const char* options, uint32_t /*number*/, RTProcessContext* ctx,
                        int /*flag*/) {
  if (!ctx || !ctx->Session) return NN_ERR_INVALID_ARG;
  SessionGlobals* g = ctx->Session->globals;
  TorvoRTChunk* chunk = ctx->Chunk;
  // The texts AppendLink lends: slot 1 the target, 2 the shown text, 3 the
  // anchor. The first text names the server (link kind 3).
  const char* target = chunk ? chunk->eventReturn[1] : nullptr;
  const char* shown = chunk ? chunk->eventReturn[2] : nullptr;
  const char* anchor = chunk ? chunk->eventReturn[3] : nullptr;
  const char* server = options;
  const uint16_t kind = chunk ? chunk->linkKind : 1;
  char value[kOptionValueMax + 1];

  // An option string as the target: its keys name the parts. The address
  // and its text are taken whole, however long.
  const bool optionForm = IsOptionString(target);
  if (optionForm) {
    std::string url, text;
    if (GetOptionValueString(target, "URL=", &url)) {
      if (!GetOptionValueString(target, "Text=", &text)) text = shown && *shown ? shown : url;
      return ComposeLinkHotspot(text.data(), uint32_t(text.size()), url.data(),
                                uint32_t(url.size()), ctx);
    }
  }
  if (!optionForm && kind == 4) {
    if (!target || !*target) return NN_ERR_INVALID_ARG;
    const char* text = shown && *shown ? shown : target;
    return ComposeLinkHotspot(text, uint32_t(std::strlen(text)), target,
                              uint32_t(std::strlen(target)), ctx);
  }

  // An option string names a database (its replica), a view or a document;
  // one that names none of them (nor a URL, above) links nowhere.
  if (optionForm && !GetOptionValue(target, "ReplicaID=", nullptr) &&
      !GetOptionValue(target, "ViewID=", nullptr) && !GetOptionValue(target, "NoteID=", nullptr) &&
      !GetOptionValue(target, "UNID=", nullptr))
    return NN_ERR_INVALID_ARG;
  uint8_t link[40] = {};
  LinkChangeBlock change;
  bool any = false;
  // Identifiers parse whole: one with more or fewer digits, or a bare
  // target that is none ("foo"), names nothing and is refused.
  if (optionForm) {
    if (GetOptionValue(target, "ReplicaID=", value)) {
      if (std::strlen(value) != 16 || !ParseHexTimeDate(value, &change.replicaId))
        return NN_ERR_INVALID_ARG;
      change.replicaSet = 'Y';
      any = true;
    }
    if (GetOptionValue(target, "ViewID=", value)) {
      if (std::strlen(value) != 32 || !ParseHexUnid(value, &change.viewId))
        return NN_ERR_INVALID_ARG;
      change.viewSet = 'Y';
    }
    if (GetOptionValue(target, "NoteID=", value) || GetOptionValue(target, "UNID=", value)) {
      if (std::strlen(value) != 32 || !ParseHexUnid(value, &change.noteId))
        return NN_ERR_INVALID_ARG;
      change.noteSet = 'Y';
    }
  } else if (target && *target) {
    if (!ParseBareLinkTarget(target, &change)) return NN_ERR_INVALID_ARG;
    any = true;
  }
  // Without a replica of its own the link points into the session's database.
  if (!any) {
    if (g->replicaInfo.ID.Innards[0] == 0 && g->replicaInfo.ID.Innards[1] == 0) {
      NnHandle db = g->hDb ? g->hDb : (ctx->Item ? ctx->Item->hDb : 0);
      if (db) NnDbGetReplicaInfo(db, &g->replicaInfo);
    }
    change.replicaId = g->replicaInfo.ID;
    if (change.replicaId.Innards[0] == 0 && change.replicaId.Innards[1] == 0)
      return NN_ERR_INVALID_ARG;
  }
  std::memcpy(link, &change.replicaId, 8);
  if (change.viewSet) std::memcpy(link + 8, &change.viewId, 16);
  if (change.noteSet) std::memcpy(link + 24, &change.noteId, 16);
  if (optionForm) {
    if (GetOptionValue(target, "Server=", value)) server = nullptr;
  }
  char serverText[kOptionValueMax + 1] = {};
  if (optionForm && GetOptionValue(target, "Server=", serverText)) server = serverText;
  char anchorText[kOptionValueMax + 1] = {};
  if (optionForm && GetOptionValue(target, "Anchor=", anchorText)) anchor = anchorText;
  char comment[kOptionValueMax + 1] = {};
  if (optionForm && GetOptionValue(target, "Text=", comment)) shown = comment;
  NnStatus st = EmitDocLinkRecord(link, shown && *shown ? shown : "Link", server, anchor, ctx);
  if (st) return st;
  // What was asked for, for the operation that rewrites links.
  if (change.replicaSet) {
    g->linkChange.replicaId = change.replicaId;
    g->linkChange.replicaSet = 'Y';
  }
  if (change.viewSet) {
    g->linkChange.viewId = change.viewId;
    g->linkChange.viewSet = 'Y';
  }
  if (change.noteSet) {
    g->linkChange.noteId = change.noteId;
    g->linkChange.noteSet = 'Y';
  }
  return 0;
}

NnStatus ComposeLinkHotspotFromOptions(const char* options, uint32_t /*kind*/,
                                       RTProcessContext* ctx, int closeHere, int /*flag*/) {
  if (!ctx) return NN_ERR_INVALID_ARG;
  // The address and its text whole, however long.
  std::string url, text;
  const bool optionForm = IsOptionString(options);
  if (!optionForm) {
    // A bare address is the whole text ("http://host/x?a=1" included).
    if (!options || !*options) return NN_ERR_INVALID_ARG;
    url = options;
  } else if (!GetOptionValueString(options, "URL=", &url) &&
             !GetOptionValueString(options, "HREF=", &url)) {
    return NN_ERR_INVALID_ARG;
  }
  if (url.empty()) return NN_ERR_INVALID_ARG;
  NnStatus st = EmitHotspotBegin(kSigLinkBegin, kHotspotTypeUrl, 0, url.data(),
                                 uint32_t(url.size()), true, ctx);
  if (st) return st;
  if (optionForm && GetOptionValueString(options, "Text=", &text) && !text.empty()) {
    uint32_t font = StyledFont(ctx, LinkStyle(ctx));
    st = EmitTextRecord(text.data(), uint32_t(text.size()), &font, &ctx->Compose);
    if (st) return st;
  }
  return closeHere ? EmitHotspotEnd(ctx, 0xAE, 1) : 0;
}

NnStatus ComposeHypertextLink(const char* keyText, const char* hotspotText, NOTEID noteId,
                              const char* options, RTProcessContext* ctx) {
  if (!ctx || !ctx->Session || !keyText) return NN_ERR_INVALID_ARG;
  SessionGlobals* g = ctx->Session->globals;
  NnHandle db = g->hDb ? g->hDb : (ctx->Item ? ctx->Item->hDb : 0);
  if (!db) return NN_ERR_INVALID_ARG;
  if (g->replicaInfo.ID.Innards[0] == 0 && g->replicaInfo.ID.Innards[1] == 0)
    NnDbGetReplicaInfo(db, &g->replicaInfo);
  ORIGINATORID_tag oid = {};
  NnStatus st = NnDbGetNoteInfo(db, noteId, &oid, nullptr, nullptr);
  if (st) return st;
  uint8_t link[40] = {};
  std::memcpy(link, &g->replicaInfo.ID, 8);
  std::memcpy(link + 8, &g->viewOriginatorId, 16);  // the view's universal id
  std::memcpy(link + 24, &oid, 16);                 // the note's universal id
  char anchor[kOptionValueMax + 1] = {};
  GetOptionValue(options, "Anchor=", anchor);
  const char* shown = hotspotText && *hotspotText ? hotspotText : keyText;
  char cls[kOptionValueMax + 1] = {};
  char title[kOptionValueMax + 1] = {};
  GetOptionValue(options, "Class=", cls);
  GetOptionValue(options, "Title=", title);
  if (!*cls && !*title) return EmitDocLinkRecord(link, shown, "", anchor, ctx);
  // A class or title belongs to an element: the link becomes a link hotspot
  // whose target is the document link record (grouped, so that removing the
  // link removes its target too), with the attributes and the shown text.
  st = EmitHotspotBegin(kSigLinkBegin, kHotspotTypeUrl, kHotspotTargetInRecords, nullptr, 0,
                        false, ctx);
  if (st == 0) st = EmitBeginRecord(0xFF92, 0, &ctx->Compose);
  if (st == 0) st = EmitDocLinkRecord(link, shown, "", anchor, ctx);
  if (st == 0) st = EmitEndRecord(0xFF92, 0, &ctx->Compose);
  if (st == 0) {
    const char* strings[6] = {nullptr, cls, nullptr, title, nullptr, nullptr};
    st = ComposeHtmlAttributes(0xFF7A, strings, ctx);
  }
  if (st == 0) {
    const uint32_t font = StyledFont(ctx, LinkStyle(ctx));
    st = EmitTextRecord(shown, uint32_t(std::strlen(shown)), &font, &ctx->Compose);
  }
  if (st == 0) st = EmitHotspotEnd(ctx, 0xAE, 0);
  return st;
}

// ---- anchors, sections ---------------------------------------------------------

NnStatus ComposeAnchor(const char* name, uint32_t nameLength, RTProcessContext* ctx) {
  if (!ctx || (!name && nameLength)) return NN_ERR_INVALID_ARG;
  if (name) {
    const void* nul = std::memchr(name, 0, nameLength);
    if (nul) nameLength = uint32_t(static_cast<const char*>(nul) - name);
  }
  if (nameLength > 1024) return NN_ERR_INVALID_ARG;
  // Length: the name and a NUL after the 12-byte fixed part, kept even.
  uint32_t length = (nameLength + 12 + 1) & ~1u;
  uint8_t rec[12 + 1024 + 2] = {};
  PutU16(rec, 0, 0xFFCB);
  PutU16(rec, 2, uint16_t(length));
  PutU16(rec, 4, uint16_t(nameLength));
  if (nameLength) std::memcpy(rec + 12, name, nameLength);
  return AppendRecord(rec, 0xFFCB, length, &ctx->Compose);
}

NnStatus ComposeSection(RTProcessContext* ctx, int /*kind*/, int /*flag*/) {
  if (!ctx) return NN_ERR_INVALID_ARG;
  // The section's title is its first paragraph; the section hotspot opens
  // here and the element action closes it.
  return EmitHotspotBegin(kSigHotspotBegin, kHotspotTypeSection, 0, nullptr, 0, false, ctx);
}

NnStatus ComposeLayer(uint32_t kind, RTProcessContext* ctx, const char* text,
                      const char* position) {
  if (!ctx) return NN_ERR_INVALID_ARG;
  // "top;left;width;height;style": each part whole, the style to the end.
  std::string parts[5];
  const char* p = position ? position : "";
  for (int i = 0; i < 5 && p; ++i) {
    const char* semi = i < 4 ? std::strchr(p, ';') : nullptr;
    parts[i].assign(p, semi ? size_t(semi - p) : std::strlen(p));
    p = semi ? semi + 1 : nullptr;
  }
  // The place (top and left of the positioning record 107) and the size
  // (width and height of the box size record 106) as host length values.
  uint8_t positioning[120] = {};
  positioning[0] = 107;
  positioning[1] = 120;
  positioning[2] = 1;  // absolute placement
  PutU32(positioning, 4, kind);  // the method's number: the layer's stacking order
  uint8_t box[168] = {};
  box[0] = 106;
  box[1] = 168;
  uint8_t* const lengths[4] = {positioning + 8, positioning + 32, box + 8, box + 32};
  for (int i = 0; i < 4; ++i) {
    if (parts[i].empty() || !strcasecmp(parts[i].c_str(), "auto")) {
      lengths[i][0] = 0x1;  // auto
      continue;
    }
    if (ParseCssLength(lengths[i], 24, parts[i].c_str(), 0)) return NN_ERR_INVALID_ARG;
  }
  // The method's compiled hide formula (its length the first number, the
  // text the session's result) hides the layer's content.
  if (ctx->Number1 > ctx->Session->ResultTextLength) return NN_ERR_INVALID_ARG;
  uint8_t layer[20] = {108, 20};
  NnStatus st = EmitBeginRecord(108, 0, &ctx->Compose);
  if (st == 0) st = AppendRecord(layer, 108, sizeof layer, &ctx->Compose);
  if (st == 0) st = AppendRecord(positioning, 107, sizeof positioning, &ctx->Compose);
  if (st == 0) st = AppendRecord(box, 106, sizeof box, &ctx->Compose);
  if (st == 0 && !parts[4].empty()) {
    const char* strings[6] = {nullptr, nullptr, parts[4].c_str(), nullptr, nullptr, nullptr};
    st = ComposeHtmlAttributes(0xFF7A, strings, ctx);
  }
  uint16_t hidden = 0;
  if (st == 0 && ctx->Number1)
    st = EmitHiddenParagraphDefinition(ctx->Session->ResultText, ctx->Number1, true, ctx, &hidden);
  if (st == 0) st = EmitParagraphStart(ctx);
  if (st == 0) st = hidden ? EmitParagraphReferenceTo(hidden, ctx) : EmitParagraphReference(ctx);
  if (st == 0) st = EmitTextRecord(text ? text : "", text ? uint32_t(std::strlen(text)) : 0,
                                   nullptr, &ctx->Compose);
  if (st == 0) st = EmitEndRecord(108, 0, &ctx->Compose);
  return st;
}

NnStatus ComposeHtmlAttributes(uint16_t signature, const char* const strings[6],
                               RTProcessContext* ctx) {
  if (!ctx || !strings || (signature != 0xFF7A && signature != 0xFF7B)) return NN_ERR_INVALID_ARG;
  uint32_t total = 26;
  uint32_t lengths[6];
  for (int i = 0; i < 6; ++i) {
    lengths[i] = strings[i] ? uint32_t(std::strlen(strings[i])) : 0;
    if (lengths[i] > 4096) return NN_ERR_INVALID_ARG;
    total += lengths[i];
  }
  const uint32_t length = (total + 1) & ~1u;
  RecordBuffer rec(ctx->Session, length);
  if (!rec.ok()) return NN_ERR_MEMORY;
  PutU16(rec.data(), 0, signature);
  PutU16(rec.data(), 2, uint16_t(length));
  uint32_t at = 26;
  for (int i = 0; i < 6; ++i) {
    PutU16(rec.data(), 4 + 2 * uint32_t(i), uint16_t(lengths[i]));
    if (lengths[i]) std::memcpy(rec.data() + at, strings[i], lengths[i]);
    at += lengths[i];
  }
  return AppendRecord(rec.data(), signature, length, &ctx->Compose);
}

NnStatus ComposeHtmlAttributesFromOptions(uint16_t signature, const char* options,
                                          const char* prefix, const char* styleKey, bool always,
                                          RTProcessContext* ctx, bool* written) {
  static const char* const kParts[6] = {"HTMLID=",    "HTMLClass=", "HTMLStyle=",
                                        "HTMLTitle=", "HTMLOther=", "HTMLName="};
  *written = false;
  std::string values[6];
  const char* strings[6] = {};
  bool any = false;
  char value[kOptionValueMax + 1];
  for (int i = 0; i < 6; ++i) {
    const std::string key = std::string(prefix) + kParts[i];
    if (!GetOptionValue(options, key.c_str(), value) &&
        !(i == 2 && styleKey && GetOptionValue(options, styleKey, value)))
      continue;
    values[i] = value;
    strings[i] = values[i].c_str();
    any = any || *value;
  }
  if (!any && !always) return 0;
  NnStatus st = ComposeHtmlAttributes(signature, strings, ctx);
  *written = st == 0;
  return st;
}

// ---- buttons, fields, image maps -------------------------------------------------

namespace {

constexpr uint32_t kCodeFormula = 0x10;
constexpr uint32_t kCodeComputedText = 0x40000;
constexpr uint32_t kCodeKvScript = 0x100;
constexpr uint32_t kCodeJavaScript = 0x200000;
constexpr uint32_t kBlobPiece = 20000;  // script bytes per blob part, as stored forms use

// A click event carrying JavaScript: the event record (0xFFF9) with the
// script's length, and the script in blob parts (0xFFDC) behind it.
NnStatus EmitScriptEvent(const uint8_t* code, uint32_t length, RTProcessContext* ctx) {
  uint8_t event[32] = {};
  PutU16(event, 0, 0xFFF9);
  PutU16(event, 2, 32);
  PutU16(event, 8, 1);   // OnClick
  PutU16(event, 10, 4);  // JavaScript
  PutU32(event, 12, length);
  NnStatus st = AppendRecord(event, 0xFFF9, sizeof event, &ctx->Compose);
  for (uint32_t at = 0; st == 0 && at < length; at += kBlobPiece) {
    const uint32_t piece = length - at < kBlobPiece ? length - at : kBlobPiece;
    RecordBuffer rec(ctx->Session, 18 + piece + 1);
    if (!rec.ok()) return NN_ERR_MEMORY;
    const uint32_t recordLength = (18 + piece + 1) & ~1u;
    PutU16(rec.data(), 0, 0xFFDC);
    PutU16(rec.data(), 2, uint16_t(recordLength));
    PutU16(rec.data(), 4, 0xFFF9);
    PutU16(rec.data(), 6, uint16_t(piece));
    PutU16(rec.data(), 8, uint16_t(kBlobPiece));
    std::memcpy(rec.data() + 18, code + at, piece);
    st = AppendRecord(rec.data(), 0xFFDC, recordLength, &ctx->Compose);
  }
  return st;
}

// Opens a hotspot of `type` that carries code: JavaScript (flag 0x200000)
// as a click event behind an empty hotspot begin, any other code as the
// hotspot's data. A zero word that ends raw code is not part of the script.
// The hotspot's HTML attributes from `options` follow its begin.
NnStatus EmitCodeHotspot(uint16_t type, uint32_t flags, const uint8_t* code, uint32_t codeLength,
                         const char* options, RTProcessContext* ctx) {
  const bool script = (flags & kCodeJavaScript) != 0;
  NnStatus st = EmitHotspotBegin(kSigHotspotBegin, type, flags, code, script ? 0 : codeLength,
                                 false, ctx);
  bool written = false;
  if (st == 0 && options)
    st = ComposeHtmlAttributesFromOptions(0xFF7A, options, "Hotspot", "HotspotStyle=", false, ctx,
                                          &written);
  if (st || !script || !codeLength) return st;
  while (codeLength && code[codeLength - 1] == 0) --codeLength;
  return EmitScriptEvent(code, codeLength, ctx);
}

// The keys a hotspot's options take: its HTML attributes as EmitCodeHotspot
// reads them. "HotspotStyle=" is read only without "HotspotHTMLStyle=", so
// the two together would drop one.
bool HotspotOptionsUsable(const char* options) {
  return OptionKeysAmong(options, {"HotspotHTMLID", "HotspotHTMLClass", "HotspotHTMLStyle",
                                   "HotspotHTMLTitle", "HotspotHTMLOther", "HotspotHTMLName",
                                   "HotspotStyle"}) &&
         !(GetOptionValue(options, "HotspotHTMLStyle=", nullptr) &&
           GetOptionValue(options, "HotspotStyle=", nullptr));
}

}  // namespace

NnStatus ComposeButton(const char* label, uint32_t labelLength, const char* options,
                       uint32_t /*codeLength*/, RTProcessContext* ctx) {
  if (!ctx || !ctx->Session || !HotspotOptionsUsable(options)) return NN_ERR_INVALID_ARG;
  // A hotspot begun inside another would take the outer one's action and
  // end: where a hotspot is open, none is added.
  if (ctx->Compose.composedHotspots) return NN_ERR_CD_STRUCTURE;
  LSXLsiSession* s = ctx->Session;
  SessionGlobals* g = s->globals;
  const uint16_t type = g->hotspotType ? g->hotspotType : kHotspotTypeButton;
  // The prepared code lies 16 bytes into the result buffer (room for the
  // hotspot's fixed part in front); ResultTextLength counts the code alone.
  uint32_t codeLength = s->ResultTextLength;
  if (codeLength > kResultTextSize - 16) codeLength = kResultTextSize - 16;
  const uint8_t* code = reinterpret_cast<const uint8_t*>(s->ResultText) + 16;
  const uint32_t kind = g->codeKind;
  uint32_t flags = 0;
  if (kind & kCodeFormula) flags |= 0x10;
  if (kind & kCodeComputedText) flags |= 0x40000;
  if (kind & kCodeKvScript) flags |= 0x100;
  if (kind & kCodeJavaScript) flags |= 0x200000;
  NnStatus st = EmitCodeHotspot(type, flags, code, codeLength, options ? options : "", ctx);
  if (st) return st;
  const char* text = label && *label ? label : "Action Hotspot";
  uint32_t textLength = uint32_t(labelLength && label && *label ? strnlen(text, labelLength)
                                                                  : std::strlen(text));
  if (type == kHotspotTypeButton) {
    if (textLength > 1024) return NN_ERR_INVALID_ARG;
    uint8_t rec[16 + 1024 + 1] = {};
    const uint32_t length = 16 + textLength;
    PutU16(rec, 0, 0xFFAB);
    PutU16(rec, 2, uint16_t(length));
    PutU16(rec, 6, uint16_t(textLength * 120 + 240));  // width in twips: room for the label
    PutU16(rec, 10, 1);
    PutU32(rec, 12, CurrentFont(ctx));
    std::memcpy(rec + 16, text, textLength);
    st = AppendRecord(rec, 0xFFAB, length, &ctx->Compose);
  } else {
    st = EmitTextRecord(text, textLength, nullptr, &ctx->Compose);
  }
  if (st) return st;
  return EmitHotspotEnd(ctx, 0xAA, 0);
}

namespace {

constexpr uint32_t kFieldFixed = 40;
// Host offsets of the field record's six length words, in the order their
// texts follow the fixed part: default value, input translation, validation,
// name, description, text values.
constexpr uint32_t kFieldLengthAt[6] = {24, 26, 30, 32, 34, 36};
constexpr int kFieldNamePart = 3;

bool FieldDataType(const char* type, uint16_t* dataType) {
  if (!strcasecmp(type, "Text")) *dataType = 1280;
  else if (!strcasecmp(type, "Number")) *dataType = 768;
  else if (!strcasecmp(type, "Date") || !strcasecmp(type, "Time")) *dataType = 1024;
  else if (!strcasecmp(type, "RichText")) *dataType = 1;
  else return false;
  return true;
}

// The field record rebuilt from `base` (a whole host field record of
// `baseLength` bytes) with its name replaced by `name` (null keeps it) and its
// data type by `dataType` (0 keeps it); everything else is kept.
NnStatus EmitFieldRecord(const uint8_t* base, uint32_t baseLength, const char* name,
                         uint16_t dataType, RTProcessContext* ctx) {
  if (baseLength < kFieldFixed) return NN_ERR_CD_STRUCTURE;
  uint32_t lengths[6];
  uint32_t at = kFieldFixed;
  for (int i = 0; i < 6; ++i) {
    uint16_t n = 0;
    std::memcpy(&n, base + kFieldLengthAt[i], 2);
    lengths[i] = n;
    at += n;
  }
  if (at > baseLength) return NN_ERR_CD_STRUCTURE;
  const uint32_t trailing = baseLength - at;  // bytes stored after the texts stay
  const uint32_t newName = name ? uint32_t(std::strlen(name)) : lengths[kFieldNamePart];
  if (newName > 255) return NN_ERR_INVALID_ARG;
  const uint32_t length = baseLength - lengths[kFieldNamePart] + newName;
  if (length > 0xFFFE) return NN_ERR_INVALID_ARG;
  RecordBuffer rec(ctx->Session, length + 1);
  if (!rec.ok()) return NN_ERR_MEMORY;
  uint8_t* out = rec.data();
  std::memcpy(out, base, kFieldFixed);
  PutU16(out, 2, uint16_t(length));
  if (dataType) PutU16(out, 6, dataType);
  PutU16(out, kFieldLengthAt[kFieldNamePart], uint16_t(newName));
  uint32_t from = kFieldFixed, to = kFieldFixed;
  for (int i = 0; i < 6; ++i) {
    if (i == kFieldNamePart && name) {
      std::memcpy(out + to, name, newName);
      to += newName;
    } else {
      std::memcpy(out + to, base + from, lengths[i]);
      to += lengths[i];
    }
    from += lengths[i];
  }
  std::memcpy(out + to, base + from, trailing);
  return AppendRecord(out, 0xFF8A, length, &ctx->Compose);
}

}  // namespace

NnStatus ComposeField(const char* fieldOptions, const char* text2, int /*flag*/,
                      const char* mode, RTProcessContext* ctx) {
  if (!ctx || !mode) return NN_ERR_INVALID_ARG;
  char name[kOptionValueMax + 1] = {};
  char type[kOptionValueMax + 1] = {};
  if (!strcasecmp(mode, "Modify")) {
    // The field held in the chunk's field buffer, changed by the keys of the
    // second text (else of the first, which named the field).
    _internal_RTChunk* in = ctx->Chunk ? ctx->Chunk->internal : nullptr;
    const uint8_t* held = in ? static_cast<const uint8_t*>(in->workBlockAddress[0]) : nullptr;
    if (!held) return NN_ERR_INVALID_ARG;
    uint16_t sig = 0, heldLength = 0;
    std::memcpy(&sig, held, 2);
    std::memcpy(&heldLength, held + 2, 2);
    if (sig != 0xFF8A) return NN_ERR_INVALID_ARG;
    const char* options = text2 && *text2 ? text2 : fieldOptions;
    const bool rename = GetOptionValue(options, "Name=", name) != 0;
    if (rename && !*name) return NN_ERR_INVALID_ARG;
    uint16_t dataType = 0;
    // A type this composer does not know keeps the field's own.
    if (GetOptionValue(options, "Type=", type)) FieldDataType(type, &dataType);
    return EmitFieldRecord(held, heldLength, rename ? name : nullptr, dataType, ctx);
  }
  if (strcasecmp(mode, "Add") != 0) return NN_ERR_INVALID_ARG;
  if (!GetOptionValue(fieldOptions, "Name=", name) || !*name) return NN_ERR_INVALID_ARG;
  uint16_t dataType = 1280;  // text
  // A type this composer does not know makes a text field.
  if (GetOptionValue(fieldOptions, "Type=", type)) FieldDataType(type, &dataType);
  // A new editable field with no formulas: the fixed part (flags, data type,
  // font) and the name.
  uint8_t base[kFieldFixed] = {};
  PutU16(base, 0, 0xFF8A);
  PutU16(base, 2, uint16_t(kFieldFixed));
  PutU16(base, 4, 0x0002);  // editable
  PutU16(base, 6, dataType);
  PutU32(base, 20, CurrentFont(ctx));
  return EmitFieldRecord(base, kFieldFixed, name, 0, ctx);
}

NnStatus ComposeImageMap(const char* options, uint32_t /*codeLength*/, uint32_t kind,
                         RTProcessContext* ctx) {
  if (!ctx || !ctx->Session) return NN_ERR_INVALID_ARG;
  LSXLsiSession* s = ctx->Session;
  // The code lies at the start of the result buffer; its kind is the image
  // hotspot's language: 1 formula, 3 KvScript, 4 JavaScript.
  const uint32_t length = s->ResultTextLength < kResultTextSize ? s->ResultTextLength : 0;
  const uint32_t flags = kind == 1 ? 0x10 : kind == 3 ? 0x100 : kind == 4 ? 0x200000 : 0;
  NnStatus st = EmitCodeHotspot(2, flags, reinterpret_cast<const uint8_t*>(s->ResultText),
                                length, nullptr, ctx);
  if (st) return st;
  // The frame: "Target=" of an option string, else the text itself as the
  // frame's name ("Default" is the frame the link is in: no record).
  char target[kOptionValueMax + 1] = {};
  if (IsOptionString(options)) {
    if (!ImageTargetOptionsKnown(options)) return NN_ERR_INVALID_ARG;
    GetOptionValue(options, "Target=", target);
  } else if (options && strcasecmp(options, "Default") != 0) {
    std::snprintf(target, sizeof target, "%s", options);
  }
  if (!*target) return 0;
  // A name longer than the record holds is refused, not left out.
  const uint32_t n = uint32_t(std::strlen(target));
  if (n > 1024) return NN_ERR_INVALID_ARG;
  uint8_t rec[12 + 1024 + 1] = {};
  PutU16(rec, 0, 0xFFF2);
  PutU16(rec, 2, uint16_t(12 + n));
  PutU16(rec, 4, uint16_t(n));
  std::memcpy(rec + 12, target, n);
  return AppendRecord(rec, 0xFFF2, 12 + n, &ctx->Compose);
}

bool ImageTargetOptionsKnown(const char* options) { return OptionKeysAmong(options, {"Target"}); }
