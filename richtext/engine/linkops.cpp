// Records of the target rewritten in place or by a changed copy: the data of
// document links (2362), the display properties of graphics, rules, layers and
// URL links (2437), fields (2416) and the two field switches (steps 71, 72).
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/color.h"
#include "host/fonts.h"
#include "host/options.h"
#include "host/pool.h"
#include "host/textmatch.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/properties.h"
#include "richtext/engine/propwriters.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/itemhelpers.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kSigBegin = 221;
constexpr uint16_t kSigEnd = 222;
constexpr uint16_t kSigLink = 0xFF92;
constexpr uint16_t kSigLegacyLink = 0xFF91;
constexpr uint16_t kSigField = 0xFF8A;
constexpr uint16_t kSigFieldExt = 0xFFB0;
constexpr uint16_t kSigAttributes = 0xFF7A;
constexpr uint32_t kLinkFixed = 44;
constexpr uint32_t kLinkIds = 40;
constexpr uint32_t kResultCap = 65340;
constexpr uint16_t kStepSwitchEditor = 71;
constexpr uint16_t kStepNotMime = 72;

using kv::cd::U16;
using kv::cd::U32;
void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

bool IsUrlRecord(uint16_t sig) {
  return sig == 0xFF5A || sig == 0xFF71 || sig == 0xFF78 || sig == 0xFFF6;
}

uint8_t* NewBlock(RTProcessContext* ctx, uint32_t size) {
  return static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, size, true));
}

// Emits `rec` (a pool block of `len` bytes with its header set) in place of
// the record; the item changes.
void Replace(RTProcessContext* ctx, RecordEmission* out, uint8_t* rec, uint16_t sig, uint32_t len) {
  out->data = rec;
  out->signature = sig;
  out->length = len;
  out->replacement = rec;
  ctx->Item->modified = 1;
}

// A changed copy of the record, same length.
uint8_t* CopyOf(RTProcessContext* ctx, const uint8_t* data, uint32_t len) {
  uint8_t* c = NewBlock(ctx, len);
  if (c) std::memcpy(c, data, len);
  return c;
}

// Reads a NUL-ended string at *off within len (the record's end ends it too).
void NextString(const uint8_t* d, uint32_t len, uint32_t* off, const char** s, uint32_t* n) {
  uint32_t start = *off < len ? *off : len;
  uint32_t end = start;
  while (end < len && d[end]) ++end;
  *s = reinterpret_cast<const char*>(d) + start;
  *n = end - start;
  *off = end < len ? end + 1 : len;
}

// ---- 2362 -------------------------------------------------------------------

// The identifier a call sets, parsed from its value: exactly 16 hex digits for
// a replica identifier, 32 for a universal identifier (each 8-byte half
// written high word first, as the getters write it). Nothing of an earlier
// call is used.
struct CallLinkChange {
  uint8_t replica[8] = {};
  uint8_t view[16] = {};
  uint8_t note[16] = {};
  bool replicaSet = false, viewSet = false, noteSet = false;
};

// `digits` hex digits (a multiple of 16) into words, each 8-byte half stored
// low word first.
bool ParseHexHalves(const char* text, uint32_t length, uint32_t digits, uint8_t* out) {
  if (!text || length != digits) return false;
  for (uint32_t half = 0; half < digits / 16; ++half) {
    uint32_t words[2] = {0, 0};
    for (uint32_t i = 0; i < 16; ++i) {
      const char c = text[half * 16 + i];
      uint32_t v;
      if (c >= '0' && c <= '9')
        v = uint32_t(c - '0');
      else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
        v = uint32_t((c | 0x20) - 'a' + 10);
      else
        return false;
      words[i / 8] = (words[i / 8] << 4) | v;
    }
    std::memcpy(out + half * 8, &words[1], 4);
    std::memcpy(out + half * 8 + 4, &words[0], 4);
  }
  return true;
}

// False when the value does not parse; a sub-code that names no identifier
// changes none.
bool ParseCallLinkChange(const RTProcessContext* ctx, CallLinkChange* c) {
  const char* text = ctx->Text1;
  const uint32_t length = text ? (ctx->Number1 ? ctx->Number1 : uint32_t(std::strlen(text))) : 0;
  switch (ctx->SubCode) {
    case PROPC_LINK_REPLICA:
      return c->replicaSet = ParseHexHalves(text, length, 16, c->replica);
    case PROPC_LINK_VIEW:
      return c->viewSet = ParseHexHalves(text, length, 32, c->view);
    case PROPC_LINK_NOTE:
      return c->noteSet = ParseHexHalves(text, length, 32, c->note);
    default:
      return true;
  }
}

void ApplyLinkChanges(const CallLinkChange& lc, uint8_t* ids /* 40 bytes */) {
  if (lc.replicaSet) std::memcpy(ids, lc.replica, 8);
  if (lc.viewSet) std::memcpy(ids + 8, lc.view, 16);
  if (lc.noteSet) std::memcpy(ids + 24, lc.note, 16);
}

// A link record's strings follow its fixed part in the order display
// comment, server hint, anchor (the anchor may be left out); the rewrite
// keeps them in that order.
NnStatus RewriteLink(const uint8_t* data, uint16_t sig, uint32_t len, const CallLinkChange& lc,
                     RTProcessContext* ctx, RecordEmission* out) {
  uint8_t ids[kLinkIds] = {};
  uint32_t off;
  if (sig == kSigLink) {
    if (len < kLinkFixed) return 0;
    std::memcpy(ids, data + 4, kLinkIds);
    off = kLinkFixed;
  } else {
    if (len < 6) return 0;
    LinkIdentifiers li;
    if (ResolveLinksReference(ctx->NoteHandle, &li, U16(data, len, 4), 1, 1) != 0) return 0;
    std::memcpy(ids, &li.replicaId, 8);
    std::memcpy(ids + 8, &li.viewId, 16);
    std::memcpy(ids + 24, &li.noteId, 16);
    off = 6;
  }
  ctx->SetRecordMet = 1;  // the link takes the change, or holds it already
  const char *comment, *server, *anchor;
  uint32_t commentLen, serverLen, anchorLen;
  NextString(data, len, &off, &comment, &commentLen);
  NextString(data, len, &off, &server, &serverLen);
  const bool anchorPresent = off < len;  // an empty anchor may still be written
  NextString(data, len, &off, &anchor, &anchorLen);
  const uint32_t textLen = kLinkFixed + commentLen + 1 + serverLen + 1 +
                           (anchorLen || anchorPresent ? anchorLen + 1 : 0);
  const uint32_t newLen = (textLen + 1) & ~1u;
  if (newLen > kMaxRecordLength) return NN_ERR_CD_STRUCTURE;
  uint8_t* rec = NewBlock(ctx, newLen);
  if (!rec) return NN_ERR_MEMORY;
  ApplyLinkChanges(lc, ids);
  Put16(rec, kSigLink);
  Put16(rec + 2, uint16_t(textLen));
  std::memcpy(rec + 4, ids, kLinkIds);
  uint8_t* p = rec + kLinkFixed;
  std::memcpy(p, comment, commentLen);
  p += commentLen + 1;
  std::memcpy(p, server, serverLen);
  p += serverLen + 1;
  if (anchorLen) std::memcpy(p, anchor, anchorLen);
  if (sig == kSigLink && textLen == len && std::memcmp(rec, data, len) == 0) {
    PoolFree(ctx->Session, rec);  // nothing changes
    return 0;
  }
  Replace(ctx, out, rec, kSigLink, textLen);
  ++ctx->LinkRewriteCount;
  return 0;
}

// URL records of kind 2 carry the link identifiers after their 28-byte head,
// the link type in the word at 10.
NnStatus RewriteUrlLink(const uint8_t* data, uint32_t len, uint16_t sig, const CallLinkChange& lc,
                        RTProcessContext* ctx, RecordEmission* out) {
  constexpr uint32_t kHead = 28;
  if (U16(data, len, 8) != 2 || len < kHead + kLinkIds) return 0;
  if (!lc.replicaSet && !lc.viewSet && !lc.noteSet) return 0;
  ctx->SetRecordMet = 1;
  uint8_t* rec = CopyOf(ctx, data, len);
  if (!rec) return NN_ERR_MEMORY;
  ApplyLinkChanges(lc, rec + kHead);
  uint16_t type = U16(rec, len, 10);
  if (lc.viewSet) {
    bool viewZero = U32(rec, len, kHead + 8) == 0 && U32(rec, len, kHead + 12) == 0 &&
                    U32(rec, len, kHead + 16) == 0 && U32(rec, len, kHead + 20) == 0;
    if (viewZero && (type == 1 || type == 2))
      type = 5;
    else if (type == 5)
      type = 2;
  }
  if (lc.noteSet) {
    bool docZero = true;
    for (uint32_t i = 0; i < 16; ++i) docZero &= rec[kHead + 24 + i] == 0;
    if (docZero && type == 1)
      type = 2;
    else if (!docZero && type == 2)
      type = 1;
  }
  Put16(rec + 10, type);
  Replace(ctx, out, rec, sig, len);
  return 0;
}

NnStatus LinkSet(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                 RecordEmission* out) {
  CallLinkChange lc;
  // A value that does not parse is refused before anything is written.
  if (!ParseCallLinkChange(ctx, &lc)) return NN_ERR_INVALID_ARG;
  if (sig == kSigLink || sig == kSigLegacyLink) return RewriteLink(data, sig, len, lc, ctx, out);
  if ((sig == kSigBegin || sig == kSigEnd) && U16(data, len, 4) == kSigLegacyLink && len >= 6) {
    uint8_t* rec = CopyOf(ctx, data, len);
    if (!rec) return NN_ERR_MEMORY;
    Put16(rec + 4, kSigLink);
    Replace(ctx, out, rec, sig, len);
    return 0;
  }
  if (IsUrlRecord(sig)) return RewriteUrlLink(data, len, sig, lc, ctx, out);
  return 0;
}

// ---- 2437 -------------------------------------------------------------------

// The value of `key` in the option text, or null.
const char* Option(RTProcessContext* ctx, const char* key) {
  char* buf = ctx->Session->OptionValue;
  if (!ctx->Text1 || !GetOptionValue(ctx->Text1, key, buf)) return nullptr;
  return buf;
}

bool Contains(const char* text, const char* word) { return text && StrIStr(text, word); }

// A record with a text after a fixed head (alternate text, target): the head
// copied, the text length at 4, the record length text + head.
NnStatus RebuildHeadAndText(const uint8_t* data, uint16_t sig, uint32_t len, uint32_t head,
                            const char* text, RTProcessContext* ctx, RecordEmission* out) {
  if (len < head) return 0;
  uint32_t n = uint32_t(std::strlen(text));
  if (head + n > kMaxRecordLength) return NN_ERR_CD_STRUCTURE;
  uint8_t* rec = NewBlock(ctx, head + n);
  if (!rec) return NN_ERR_MEMORY;
  std::memcpy(rec, data, head);
  Put16(rec + 2, uint16_t(head + n));
  Put16(rec + 4, uint16_t(n));
  std::memcpy(rec + head, text, n);
  Replace(ctx, out, rec, sig, head + n);
  return 0;
}

// The six strings of an attribute record rebuilt from the keys that carry
// `prefix` (ID, Class, Style, Title, Other, Name); a missing key keeps the
// old string. The new record is assembled in the property text.
NnStatus RebuildAttributes(const uint8_t* data, uint32_t len, const char* prefix,
                           RTProcessContext* ctx, RecordEmission* out) {
  constexpr uint32_t kHead = 26;
  static const char* const kNames[6] = {"ID=", "Class=", "Style=", "Title=", "Other=", "Name="};
  if (len < kHead) return 0;
  LSXLsiSession* s = ctx->Session;
  char* work = s->PropertyText;
  uint32_t used = 0;
  uint16_t lens[6];
  uint32_t off = kHead;
  bool same = true;
  for (int i = 0; i < 6; ++i) {
    uint32_t oldLen = U16(data, len, 4 + 2 * i);
    const char* oldText = reinterpret_cast<const char*>(data) + (off <= len ? off : len);
    if (off > len || oldLen > len - off) oldLen = off <= len ? len - off : 0;
    off += oldLen;
    char key[32];
    std::snprintf(key, sizeof key, "%s%s", prefix, kNames[i]);
    const char* value = Option(ctx, key);
    const char* text = value ? value : oldText;
    uint32_t n = value ? uint32_t(std::strlen(value)) : oldLen;
    same = same && n == oldLen && std::memcmp(text, oldText, n) == 0;
    if (kHead + used + n > kTextBufferSize) return NN_ERR_MEMORY;
    std::memmove(work + kHead + used, text, n);
    lens[i] = uint16_t(n);
    used += n;
  }
  ctx->HtmlAttributesWritten = 1;
  if (same) return 0;  // the values it holds: the record stays as it is
  // Rounded up to even with a zero pad byte, as the composers write it.
  const uint32_t newLen = (kHead + used + 1) & ~1u;
  uint8_t* rec = NewBlock(ctx, newLen);
  if (!rec) return NN_ERR_MEMORY;
  std::memcpy(rec, data, kHead);
  Put16(rec + 2, uint16_t(newLen));
  for (int i = 0; i < 6; ++i) Put16(rec + 4 + 2 * i, lens[i]);
  std::memcpy(rec + kHead, work + kHead, used);
  Replace(ctx, out, rec, kSigAttributes, newLen);
  return 0;
}

NnStatus ChangeCaption(const uint8_t* data, uint32_t len, RTProcessContext* ctx,
                       RecordEmission* out) {
  constexpr uint32_t kHead = 32;
  if (ctx->CaptionWritten || len < kHead) return 0;
  const char* caption = Option(ctx, "Caption=");
  char text[kTextBufferSize];
  uint32_t textLen;
  if (caption) {
    textLen = uint32_t(std::strlen(caption));
    std::memcpy(text, caption, textLen);
  } else {
    textLen = U16(data, len, 4);
    if (textLen > len - kHead) textLen = len - kHead;
    if (textLen > sizeof text) textLen = sizeof text;
    std::memcpy(text, data + kHead, textLen);
  }
  uint32_t newLen = kHead + textLen;
  uint8_t* rec = NewBlock(ctx, newLen);
  if (!rec) return NN_ERR_MEMORY;
  std::memcpy(rec, data, kHead);
  Put16(rec + 2, uint16_t(newLen));
  Put16(rec + 4, uint16_t(textLen));
  std::memcpy(rec + kHead, text, textLen);
  if (const char* pos = Option(ctx, "CaptionPosition=")) {
    if (strncasecmp(pos, "Center", 6) == 0)
      rec[6] = 1;
    else if (strncasecmp(pos, "Bottom", 6) == 0)
      rec[6] = 0;
  }
  if (const char* fontSpec = Option(ctx, "CaptionFont=")) {
    FontState state;
    uint32_t mask = 0;
    char spec[kTextBufferSize];
    std::snprintf(spec, sizeof spec, "%s", fontSpec);
    if (ParseFontSpec(spec, nullptr, ctx->Item, &state, &mask) == 0) {
      uint32_t font = U32(rec, newLen, 8), color = 0;
      uint16_t highlight = 0;
      FontApplyChanges(&font, &color, &highlight, &state, mask);
      Put32(rec + 8, font);
      uint8_t index = FontIdColor(font);
      if (index >= 16 || (color & 0x01000000u)) {
        // Colours beyond the standard sixteen travel as RGB.
        if (color & 0x01000000u) {
          rec[14] = uint8_t(color);
          rec[15] = uint8_t(color >> 8);
          rec[16] = uint8_t(color >> 16);
        } else {
          rec[14] = PaletteRgbTable[index][0];
          rec[15] = PaletteRgbTable[index][1];
          rec[16] = PaletteRgbTable[index][2];
        }
        if (index >= 16 || color) {
          rec[17] = 0;
          Put16(rec + 12, 1);
        }
      }
    }
  }
  Replace(ctx, out, rec, 0xFF76, newLen);
  ctx->CaptionWritten = 1;
  return 0;
}

bool HasBorderKey(const char* t) {
  return Contains(t, "BorderStyle=") || Contains(t, "BorderColor=") ||
         Contains(t, "BorderEffects=") || Contains(t, "BorderThickness") ||
         Contains(t, "BorderInner=") || Contains(t, "BorderOuter=") || Contains(t, "BorderShadow=");
}

NnStatus BorderInPlace(const uint8_t* data, uint32_t len, RTProcessContext* ctx,
                       RecordEmission* out) {
  constexpr uint32_t kBorder = 60;
  if (len < kBorder || !HasBorderKey(ctx->Text1)) return 0;
  uint8_t* rec = CopyOf(ctx, data, len);
  if (!rec) return NN_ERR_MEMORY;
  NnStatus st = ParseBorderProperties(ctx->Session, 0xFFFC, rec, len, ctx->Text1, 0);
  if (st) {
    PoolFree(ctx->Session, rec);
    return st;
  }
  Replace(ctx, out, rec, 0xFFFC, len);
  ctx->BorderWritten = 1;
  return 0;
}

// Lengths of layer records take the structure of a CSS length (24 bytes).
NnStatus SetLength(uint8_t* rec, uint32_t len, uint32_t off, const char* value) {
  if (!value || off + 24 > len) return 0;
  ParseCssLength(rec + off, 24, value, 0);  // a value that is no length leaves it
  return 0;
}

bool SetDouble(uint8_t* rec, uint32_t len, uint32_t off, const char* value) {
  if (!value || off + 8 > len) return false;
  char* end = nullptr;
  double d = std::strtod(value, &end);
  if (end == value) return false;
  std::memcpy(rec + off, &d, 8);
  return true;
}

// Whether the attribute record in hand is the element's own: it lies
// directly inside the first group of the target that the element opens
// (a begin record of `elementSig`), not inside a table, field or other
// element nested in it.
bool OwnAttributes(RTProcessContext* ctx, uint16_t elementSig) {
  const int32_t d = ctx->OpenSignatureDepth;
  if (d <= 0 || d > int32_t(kMaxBeginDepth)) return false;
  return ctx->TableText.ElementGroupDepth == d && ctx->OpenSignatures[d] == elementSig;
}

// The element's group is the first one of the target that it opens.
void NoteElementGroup(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig != kSigBegin || ctx->TableText.ElementGroupDepth) return;
  const uint16_t object = U16(data, len, 4);
  const uint16_t want = ctx->SubCode == GRAPHIC ? 153
                        : ctx->SubCode == LAYER ? 108
                        : ctx->SubCode == HORIZONTALRULE ? 0xFFC9
                                                          : 0;
  if (want && object == want) ctx->TableText.ElementGroupDepth = ctx->OpenSignatureDepth;
}

// A layer's background image is a resource record (0xFFF6) in the layer's
// head naming an image resource (type 3, a named element; class 8, an
// image): its 28-byte head, the server and file hints, the 8-byte replica of
// the database (zero: this one) and the name.
constexpr uint32_t kResourceHead = 28;
constexpr uint16_t kResourceNamed = 3, kResourceImage = 8;

NnStatus BuildBackgroundImage(const uint8_t* old, uint32_t oldLen, const char* name,
                              RTProcessContext* ctx, uint8_t** rec, uint32_t* recLen) {
  const uint32_t n = uint32_t(std::strlen(name));
  uint32_t hints = 0;
  uint16_t type = kResourceNamed;
  if (old) {
    hints = uint32_t(U16(old, oldLen, 14)) + U16(old, oldLen, 16);
    if (kResourceHead + hints > oldLen) hints = 0;
    type = U16(old, oldLen, 8);
  }
  const uint32_t replica = type == kResourceNamed ? 8 : 0;
  const uint32_t total = kResourceHead + hints + replica + n;
  if (total > kMaxRecordLength || n > 0xFFFF) return NN_ERR_INVALID_ARG;
  uint8_t* r = NewBlock(ctx, total + 1);
  if (!r) return NN_ERR_MEMORY;
  if (old) {
    std::memcpy(r, old, kResourceHead + hints);
    if (replica && kResourceHead + hints + replica <= oldLen)
      std::memcpy(r + kResourceHead + hints, old + kResourceHead + hints, replica);
    if (!hints) Put32(r + 14, 0);  // hints that ran past the record are dropped
  } else {
    Put16(r, 0xFFF6);
    Put16(r + 8, kResourceNamed);
    Put16(r + 10, kResourceImage);
  }
  Put16(r + 2, uint16_t(total));
  Put16(r + 12, uint16_t(n));
  std::memcpy(r + kResourceHead + hints + replica, name, n);
  *rec = r;
  *recLen = total;
  return 0;
}

constexpr uint16_t kSigLayerColor = 0x0072;
// Colour flags that keep a colour off the page: none, the system's, a gradient.
constexpr uint16_t kLayerColorNotShown = 0x4 | 0x8 | 0x10;

// The layer's head (its records before its first paragraph): its background
// image is replaced, and what the head lacks is added at its end.
NnStatus LayerHead(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                   RecordEmission* out) {
  TableTextOpsState& t = ctx->TableText;
  if (t.LayerHeadDone || !t.ElementGroupDepth) return 0;
  const char* name = Option(ctx, "BackgroundImage=");
  const bool own = ctx->OpenSignatureDepth == t.ElementGroupDepth;
  const bool headEnds = (own && sig == 129) ||
                        (sig == kSigEnd && ctx->OpenSignatureDepth < t.ElementGroupDepth);
  // The layer's background colour (the record its division reads): an RGB
  // colour, shown as given (neither "none" nor the system's).
  ColorRGB colour{};
  uint16_t index = 0;
  const char* colourText = Option(ctx, "BackgroundColor=");
  if (colourText && ParseColor(colourText, &index, &colour) != 0) return NN_ERR_INVALID_ARG;
  const uint32_t rgb = colourText ? uint32_t(colour.red) | uint32_t(colour.green) << 8 |
                                        uint32_t(colour.blue) << 16
                                  : 0;
  if (sig == kSigLayerColor && own && len >= 8) {
    t.LayerColorSeen = 1;
    if (!colourText) return 0;
    uint8_t* rec = CopyOf(ctx, data, len);
    if (!rec) return NN_ERR_MEMORY;
    Put16(rec + 2, uint16_t((U16(rec, len, 2) & ~kLayerColorNotShown) | 1));
    rec[4] = colour.red, rec[5] = colour.green, rec[6] = colour.blue;
    Replace(ctx, out, rec, sig, len);
    return 0;
  }
  if (sig == 0xFFF6 && own) {
    t.LayerBackgroundSeen = 1;
    if (!name) return 0;
    uint8_t* rec = nullptr;
    uint32_t recLen = 0;
    NnStatus st = BuildBackgroundImage(data, len, name, ctx, &rec, &recLen);
    if (st) return st;
    Replace(ctx, out, rec, sig, recLen);
    return 0;
  }
  if (!headEnds) return 0;
  t.LayerHeadDone = 1;
  // A layer without an attribute record of its own gets one at the end of
  // its head, inside its group, where its listing and the page read it (not
  // after its end, where nothing does).
  if (Contains(ctx->Text1, "LayerHTML") && !ctx->HtmlAttributesWritten) {
    bool written = false;
    NnStatus st = ComposeHtmlAttributesFromOptions(kSigAttributes, ctx->Text1, "Layer", nullptr,
                                                   true, ctx, &written);
    if (st) return st;
    ctx->HtmlAttributesWritten = 1;
    ctx->Item->modified = 1;
  }
  if (colourText && !t.LayerColorSeen) {
    NnStatus st = EmitRecord8(uint8_t(kSigLayerColor), rgb, 1, &ctx->Compose);
    if (st) return st;
    ctx->Item->modified = 1;
  }
  if (!name || t.LayerBackgroundSeen) return 0;
  uint8_t* rec = nullptr;
  uint32_t recLen = 0;
  NnStatus st = BuildBackgroundImage(nullptr, 0, name, ctx, &rec, &recLen);
  if (st == 0) st = AppendRecord(rec, 0xFFF6, recLen, &ctx->Compose);
  if (rec) PoolFree(ctx->Session, rec);
  if (st == 0) ctx->Item->modified = 1;
  return st;
}

NnStatus LayerRecord(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                     RecordEmission* out) {
  const char* t = ctx->Text1;
  if (sig == 107) {  // position
    if (len < 120) return 0;
    uint8_t* rec = CopyOf(ctx, data, len);
    if (!rec) return NN_ERR_MEMORY;
    if (const char* z = Option(ctx, "ZIndex=")) {
      int32_t v = int32_t(std::strtol(z, nullptr, 10));
      std::memcpy(rec + 4, &v, 4);
    }
    SetLength(rec, len, 8, Option(ctx, "Top="));
    SetLength(rec, len, 32, Option(ctx, "Left="));
    if (const char* scheme = Option(ctx, "Scheme=")) {
      static const char* const kSchemes[4] = {"static", "absolute", "relative", "fixed"};
      uint8_t i = 0;
      while (i < 4 && strcasecmp(scheme, kSchemes[i]) != 0) ++i;
      if (i == 4) {  // a word that names no scheme is refused, not ignored
        PoolFree(ctx->Session, rec);
        return NN_ERR_INVALID_ARG;
      }
      rec[2] = i;
    }
    SetDouble(rec, len, 104, Option(ctx, "BrowserLeftOffset="));
    SetDouble(rec, len, 112, Option(ctx, "BrowserRightOffset="));
    Replace(ctx, out, rec, sig, len);
    return 0;
  }
  if (sig == 106) {  // size
    if (len < 56) return 0;
    uint8_t* rec = CopyOf(ctx, data, len);
    if (!rec) return NN_ERR_MEMORY;
    SetLength(rec, len, 8, Option(ctx, "Width="));
    SetLength(rec, len, 32, Option(ctx, "Height="));
    Replace(ctx, out, rec, sig, len);
    return 0;
  }
  if (sig == 99) {  // background properties: the repeat byte
    const char* r = Option(ctx, "BackgroundRepeat=");
    if (!r || len < 4) return 0;
    uint8_t v = 0;
    if (strcasecmp(r, "once") == 0) v = 1;
    else if (strcasecmp(r, "tile") == 0) v = 4;
    else if (strncasecmp(r, "vert", 4) == 0) v = 2;
    else if (strncasecmp(r, "horiz", 5) == 0) v = 3;
    else if (strncasecmp(r, "center", 5) == 0) v = 6;
    else if (strncasecmp(r, "size", 4) == 0) v = 5;
    if (!v) return NN_ERR_INVALID_ARG;
    uint8_t* rec = CopyOf(ctx, data, len);
    if (!rec) return NN_ERR_MEMORY;
    rec[2] = v;
    Replace(ctx, out, rec, sig, len);
    return 0;
  }
  if (sig == kSigAttributes && Contains(t, "LayerHTML") && OwnAttributes(ctx, 108))
    return RebuildAttributes(data, len, "LayerHTML", ctx, out);
  return LayerHead(data, sig, len, ctx, out);
}

NnStatus ElementProperties(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                           RecordEmission* out) {
  const char* t = ctx->Text1;
  NoteElementGroup(data, sig, len, ctx);
  switch (ctx->SubCode) {
    case GRAPHIC:
      if (sig == 0xFFCA) {
        const char* alt = Option(ctx, "AltText=");
        if (!alt || ctx->AltTextWritten) return 0;
        ctx->AltTextWritten = 1;
        return RebuildHeadAndText(data, sig, len, 12, alt, ctx, out);
      }
      if (sig == 0xFF76) {
        if (!Option(ctx, "Caption=") && !Option(ctx, "CaptionPosition=") &&
            !Option(ctx, "CaptionFont="))
          return 0;
        return ChangeCaption(data, len, ctx, out);
      }
      if (sig == kSigAttributes && Contains(t, "GraphicHTML") && OwnAttributes(ctx, 153))
        return RebuildAttributes(data, len, "GraphicHTML", ctx, out);
      if (sig == 0xFFFC) return BorderInPlace(data, len, ctx, out);
      if (sig == kSigEnd && U16(data, len, 4) == 153 && t && !ctx->GraphicBeginOpen &&
          ctx->TableText.ElementGroupDepth == ctx->OpenSignatureDepth + 1)
        // The records a graphic in a group of its own lacks go inside it,
        // before its end: where its readers and the page look for them.
        return ComposeElementOptions(GRAPHIC, t, ctx);
      if (sig == 153 && t && std::strchr(t, '=') && !ctx->GraphicBeginOpen) {
        int32_t d = ctx->OpenSignatureDepth;
        if (d > 0 && d <= int32_t(kMaxBeginDepth) && ctx->OpenSignatures[d] == 153) {
          ctx->TableText.ElementGroupDepth = d;
          return 0;
        }
        NnStatus st = EmitBeginRecord(153, 1, &ctx->Compose);
        if (st) return st;
        ctx->GraphicBeginOpen = 1;
        ctx->Item->modified = 1;
      }
      return 0;
    case PARAGRAPH:
    case PARAGRAPHLIST:
      if (sig == 0xFFFC) return BorderInPlace(data, len, ctx, out);
      if (sig == 131) {
        const RTRecordNode* n = ctx->CurrentNode;
        const RTRecordNode* next = n && n->data == data ? n->next : nullptr;
        bool hasBorder = next && (next->signature == 0xFFFC ||
                                  (next->signature == kSigBegin &&
                                   U16(next->data, next->length, 4) == 0xFFFC));
        if (hasBorder || !HasBorderKey(t)) return 0;
        uint8_t border[60] = {};
        Put16(border, 0xFFFC);
        Put16(border + 2, 60);
        NnStatus st = ParseBorderProperties(ctx->Session, 0xFFFC, border, sizeof border, t, 1);
        if (st == 0) st = AppendRecord(border, 0xFFFC, sizeof border, &ctx->Compose);
        if (st == 0) ctx->Item->modified = 1;
        return st;
      }
      return 0;
    case HORIZONTALRULE:
      if (sig == 0xFFC9) {
        uint8_t* rec = CopyOf(ctx, data, len);
        if (!rec) return NN_ERR_MEMORY;
        int st = WriteImageProps(sig, rec, len, t, 0);
        if (st) {
          PoolFree(ctx->Session, rec);
          return NnStatus(st);
        }
        Replace(ctx, out, rec, sig, len);
        return 0;
      }
      if (sig == kSigAttributes && Contains(t, "HRHTML") && OwnAttributes(ctx, 0xFFC9))
        return RebuildAttributes(data, len, "HRHTML", ctx, out);
      return 0;
    case LAYER:
      return LayerRecord(data, sig, len, ctx, out);
    case URLLink: {
      const char* target = Option(ctx, "Target=");
      if (!target) return 0;
      if (sig == 0xFFF2) return RebuildHeadAndText(data, sig, len, 12, target, ctx, out);
      if (sig == 0xFFAD) {
        const RTRecordNode* n = ctx->CurrentNode;
        const RTRecordNode* next = n && n->data == data ? n->next : nullptr;
        if (next && next->signature == 0xFFF2) return 0;
        uint32_t tl = uint32_t(std::strlen(target));
        if (12 + tl > kMaxRecordLength) return NN_ERR_CD_STRUCTURE;
        uint8_t* rec = NewBlock(ctx, 12 + tl);
        if (!rec) return NN_ERR_MEMORY;
        Put16(rec, 0xFFF2);
        Put16(rec + 2, uint16_t(12 + tl));
        Put16(rec + 4, uint16_t(tl));
        std::memcpy(rec + 12, target, tl);
        NnStatus st = AppendRecord(data, sig, len, &ctx->Compose);
        if (st == 0) st = AppendRecord(rec, 0xFFF2, 12 + tl, &ctx->Compose);
        PoolFree(ctx->Session, rec);
        if (st) return st;
        out->length = 0;  // written above
        ctx->Item->modified = 1;
      }
      return 0;
    }
    default:
      return 0;
  }
}

// ---- 2416 -------------------------------------------------------------------

bool FieldName(const uint8_t* d, uint32_t len, const char** name, uint32_t* nameLen,
               uint32_t* nameOff) {
  uint32_t off = kv::cd::host::kFieldFixed + uint32_t(U16(d, len, 24)) + U16(d, len, 26) +
                 U16(d, len, 30);
  uint32_t n = U16(d, len, 32);
  if (len < kv::cd::host::kFieldFixed || off > len || n > len - off) return false;
  *name = reinterpret_cast<const char*>(d) + off;
  *nameLen = n;
  if (nameOff) *nameOff = off;
  return true;
}

const char* EventName(uint16_t code) {
  static const char* const kNames[] = {
      "OnClick",   "OnDblClick", "OnMouseDown", "OnMouseUp", "OnMouseOver", "OnMouseMove",
      "OnMouseOut", "OnKeyPress", "OnKeyDown", "OnKeyUp",    "OnFocus",     "OnBlur",
      "OnLoad",    "OnUnload",   "Header",      "OnSubmit",  "OnReset",     "OnChange",
      "OnError",   "OnHelp",     "OnSelect"};
  return code >= 1 && code <= 21 ? kNames[code - 1] : "UNDEFINED_EVENT";
}

void AppendResult(LSXLsiSession* s, const char* text, uint32_t n) {
  uint32_t have = s->ResultTextLength;
  if (have >= kResultCap) return;
  if (n > kResultCap - have) n = kResultCap - have;
  std::memcpy(s->ResultText + have, text, n);
  s->ResultTextLength = uint16_t(have + n);
  s->ResultText[s->ResultTextLength] = 0;
}

// The JavaScript of the field's events: "JavaScript:" name ":" code for each
// event record of language 4 followed by its script. The script is the
// event's action length of the blob parts that follow it, up to its first
// NUL (the parts carry a closing NUL and pad bytes).
void CollectFieldScripts(const RTRecordNode* field, _internal_RTChunk* in, LSXLsiSession* s) {
  for (const RTRecordNode* n = field ? field->next : nullptr; n; n = n->next) {
    if (n->signature != 0xFFF9) {
      if (n->signature == 0xFFDC || n->signature == kSigBegin || n->signature == kSigEnd) continue;
      break;
    }
    ++in->fieldEventCount;
    const RTRecordNode* script = n->next;
    if (U16(n->data, n->length, 10) != 4 || !script || script->signature != 0xFFDC) continue;
    const uint32_t actionLength = U32(n->data, n->length, 12);
    std::string code;
    for (const RTRecordNode* p = script; p && p->signature == 0xFFDC && code.size() < actionLength;
         p = p->next) {
      if (p->length < 18) break;
      uint32_t piece = U16(p->data, p->length, 6);
      if (piece > p->length - 18) piece = p->length - 18;
      code.append(reinterpret_cast<const char*>(p->data) + 18, piece);
    }
    if (code.size() > actionLength) code.resize(actionLength);
    code.resize(strnlen(code.c_str(), code.size()));
    const char* name = EventName(U16(n->data, n->length, 8));
    AppendResult(s, "JavaScript:", 11);
    AppendResult(s, name, uint32_t(std::strlen(name)));
    AppendResult(s, ":", 1);
    AppendResult(s, code.data(), uint32_t(code.size()));
  }
}

// The work block a field companion goes into when the chunk asks for it.
int CompanionBlock(uint16_t sig) {
  switch (sig) {
    case 0xFFB0: return 1;
    case 0xFFFE: return 2;
    case 0xFFF7: return 3;
    case 0xFF7A: return 4;
    default: return 0;
  }
}

NnStatus ModifyField(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                     RecordEmission* out) {
  _internal_RTChunk* in = ctx->Chunk ? ctx->Chunk->internal : nullptr;
  if (!in || in->fieldBusy) return 0;
  if (const int block = CompanionBlock(sig)) {
    // A companion asked for is held in its own block and leaves the item.
    if (!(in->fieldBufferMask & (1u << block)) || !in->workBlockAddress[block]) return 0;
    if (len > kWorkBlockSize) return NN_ERR_CD_STRUCTURE;
    std::memcpy(in->workBlockAddress[block], data, len);
    ctx->Item->modified = 1;
    out->length = 0;
    return 0;
  }
  if (sig != kSigField || !(in->fieldBufferMask & 0x1) || !in->workBlockAddress[0]) return 0;
  if (ctx->Text1 && *ctx->Text1) {
    const char* name;
    uint32_t nameLen;
    if (!FieldName(data, len, &name, &nameLen, nullptr)) return 0;
    uint32_t want = ctx->SubCode ? ctx->SubCode : uint32_t(std::strlen(ctx->Text1));
    if (want > std::strlen(ctx->Text1)) want = uint32_t(std::strlen(ctx->Text1));
    uint32_t matchLen = 0;
    int32_t pos = kv::TextFindMatch(name, nameLen, ctx->Text1, want, 0, 1, 0, 0, 0, &matchLen,
                                    nullptr);
    if (pos != 0 || matchLen != nameLen) return 0;
  }
  if (len > kWorkBlockSize) return NN_ERR_CD_STRUCTURE;
  std::memcpy(in->workBlockAddress[0], data, len);
  in->fieldEventCount = 0;
  in->fieldBusy = 1;
  ctx->Session->ClearResultText();
  CollectFieldScripts(ctx->CurrentNode && ctx->CurrentNode->data == data ? ctx->CurrentNode
                                                                          : nullptr,
                      in, ctx->Session);
  NnStatus st = ComposeField(ctx->Text1, ctx->Text2, 1, "Modify", ctx);
  in->fieldEventCount = 0;
  in->fieldBusy = 0;
  if (st) return st;
  ctx->Item->modified = 1;
  out->length = 0;
  return 0;
}

bool FieldSetup(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode == 2437) {
    // Element properties: a value longer than an option value holds (a
    // caption of 5,000 characters) would be stored cut; it is refused.
    *status = OptionValuesFit(ctx->Text1) ? NnStatus(0) : NnStatus(NN_ERR_INVALID_ARG);
    return true;
  }
  if (ctx->OperationCode != 2416) return false;
  *status = 0;
  _internal_RTChunk* in = ctx->Chunk ? ctx->Chunk->internal : nullptr;
  if (!in) return true;
  for (int i = 0; i < 5; ++i) {
    if (in->workBlocks[i]) continue;  // kept from an earlier call
    NnHandle h = 0;
    NnStatus st = NnMemAlloc(kWorkBlockSize, 0x8000, &h);
    if (st) {
      *status = st;
      continue;
    }
    void* p = NnMemLock(h);
    if (p) std::memset(p, 0, kWorkBlockSize);
    in->workBlocks[i] = h;
    in->workBlockAddress[i] = p;
    *status = 0;
  }
  return true;
}

// ---- steps 71, 72 ---------------------------------------------------------------

NnStatus NotSaveAsMime(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                       RecordEmission* out) {
  if (sig != kSigField || U16(data, len, 6) != 25 || !ctx->Text1) return 0;
  const char* name;
  uint32_t nameLen;
  if (!FieldName(data, len, &name, &nameLen, nullptr) || nameLen != ctx->SubCode ||
      std::strlen(ctx->Text1) < nameLen || strncasecmp(name, ctx->Text1, nameLen) != 0)
    return 0;
  uint8_t* rec = CopyOf(ctx, data, len);
  if (!rec) return NN_ERR_MEMORY;
  Put16(rec + 6, 1);
  Replace(ctx, out, rec, sig, len);
  return 0;
}

NnStatus SwitchToHtmlEditor(const uint8_t* data, uint16_t sig, uint32_t len,
                            RTProcessContext* ctx, RecordEmission* out) {
  if (sig == kSigFieldExt) {
    uint32_t flags = U32(data, len, 8);
    if (!(flags & 0x10000)) {
      ctx->FieldSwitchMark = 0;
      return 0;
    }
    ctx->FieldSwitchMark = 1;
    if (ctx->SubCode) {
      uint8_t* rec = CopyOf(ctx, data, len);
      if (!rec) return NN_ERR_MEMORY;
      Put32(rec + 8, flags & ~(0x10000u | 0x40u));
      Replace(ctx, out, rec, sig, len);
    }
    return 0;
  }
  if (sig != kSigField || !ctx->FieldSwitchMark) return 0;
  ctx->FieldSwitchMark = 0;
  const char* name;
  uint32_t nameLen, nameOff;
  if (!FieldName(data, len, &name, &nameLen, &nameOff)) return 0;
  LSXLsiSession* s = ctx->Session;
  char fieldName[kTextBufferSize];
  if (nameLen + 4 > sizeof fieldName) return NN_ERR_CD_STRUCTURE;
  std::memcpy(fieldName, name, nameLen);
  fieldName[nameLen] = 0;
  if (ctx->SubCode) {
    // The field keeps its data under a new name; "_WK" follows the old one.
    constexpr uint32_t kSuffix = 3;
    uint32_t newLen = len + kSuffix;
    if (newLen > kMaxRecordLength) return NN_ERR_CD_STRUCTURE;
    uint8_t* rec = NewBlock(ctx, newLen);
    if (!rec) return NN_ERR_MEMORY;
    uint32_t nameEnd = nameOff + nameLen;
    std::memcpy(rec, data, nameEnd);
    std::memcpy(rec + nameEnd, "_WK", kSuffix);
    std::memcpy(rec + nameEnd + kSuffix, data + nameEnd, len - nameEnd);
    Put16(rec + 2, uint16_t(newLen));
    Put16(rec + 32, uint16_t(nameLen + kSuffix));
    std::memcpy(fieldName + nameLen, "_WK", kSuffix + 1);
    nameLen += kSuffix;
    NnStatus st = NnItemAppendTextList(ctx->NoteHandle, "$Fields", fieldName, uint16_t(nameLen),
                                       false);
    if (st) {
      PoolFree(s, rec);
      return st;
    }
    Replace(ctx, out, rec, sig, newLen);
  }
  std::snprintf(s->PropertyText, sizeof s->PropertyText, "%s", fieldName);
  return ctx->Item->SetupAlternateEditor("CKeditor", fieldName, uint16_t(nameLen),
                                         "KestrelvaultDefault");
}

// ---- the family ---------------------------------------------------------------

bool Owns(uint16_t code) {
  return code == 2362 || code == 2437 || code == 2416 || code == kStepSwitchEditor ||
         code == kStepNotMime;
}

bool LinkOpsAtTarget(uint8_t*, uint16_t, uint32_t, RTProcessContext* ctx, NnStatus*) {
  // Each element of the target is changed once; the insertion blocks may act
  // here too, so the call is not taken.
  if (ctx->OperationCode == 2437) {
    ctx->AltTextWritten = 0;
    ctx->CaptionWritten = 0;
    ctx->HtmlAttributesWritten = 0;
    ctx->BorderWritten = 0;
  }
  return false;
}

bool LinkOpsRecord(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                   RecordEmission* out, NnStatus* status) {
  const uint16_t code = ctx->OperationCode;
  if (!Owns(code)) return false;
  switch (code) {
    case 2362: *status = LinkSet(data, sig, len, ctx, out); break;
    case 2437: *status = ElementProperties(data, sig, len, ctx, out); break;
    case 2416: *status = ModifyField(data, sig, len, ctx, out); break;
    case kStepSwitchEditor: *status = SwitchToHtmlEditor(data, sig, len, ctx, out); break;
    case kStepNotMime: *status = NotSaveAsMime(data, sig, len, ctx, out); break;
    default: break;
  }
  if (*status && out->replacement) {
    PoolFree(ctx->Session, out->replacement);
    out->replacement = nullptr;
  }
  return true;
}

const OperationFamily kLinkOps = {"link data and element properties", FieldSetup, nullptr,
                                  LinkOpsAtTarget, LinkOpsRecord, nullptr, nullptr};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kLinkOps);
