// The property table and the engine steps that read and set properties of
// the target's records: titles, labels, anchors, links, passthru markers,
// formulas, paragraph values, table and graphic flags, statistics, and the
// sort-key collection. Read steps leave their value in the place the row's
// group names; set steps replace records (never change the walked records in
// place, so that a failed call leaves the item's list as it was).
#include "richtext/engine/properties.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "host/logging.h"
#include "host/pool.h"
#include "host/sortcmp.h"
#include "lsxsessi.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/tablerows.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/itemhelpers.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

// ---- the table ---------------------------------------------------------------------

#define ROW(name, type, group, code, get, set, ro, ch) \
  {name, type, group, code, get, set, ro, ch}
constexpr uint16_t N = 3, T = 5;

const ChunkPropertyRow ChunkPropertyTable[kChunkPropertyRows + 1] = {
    ROW("AccentSensitive", N, 17, 2622, 0, 0, 0, 1),
    ROW("ActionFormula", T, 0, 2301, 20, 21, 0, 1),
    ROW("AnchorText", T, 0, 2302, 16, 17, 0, 0),
    ROW("ButtonText", T, 0, 2303, 22, 23, 0, 0),
    ROW("BytesOfText", N, 15, 1, 77, 0, 1, 0),
    ROW("CaseSensitive", N, 17, 2611, 0, 0, 0, 1),
    ROW("CellColor", T, 0, 2606, 38, 2394, 0, 1),
    ROW("CellIsMerged", N, 13, 2601, 2601, 0, 1, 0),
    ROW("Chars", N, 15, 2, 77, 0, 1, 0),
    ROW("ComplexText", N, 14, 2644, 2644, 0, 1, 0),
    ROW("ContainsSomething", N, 14, 2304, 2304, 0, 1, 0),
    ROW("ContainsText", N, 14, 2305, 2305, 0, 1, 0),
    ROW("Definition", T, 0, 2306, 0, 0, 1, 1),
    ROW("Exists", N, 15, 2315, 2315, 0, 1, 1),
    ROW("FileName", T, 1, 2337, 12, 0, 1, 0),
    ROW("FileSize", N, 19, 2629, 66, 0, 1, 0),
    ROW("FirstRecord", N, 15, 2316, 1, 0, 1, 0),
    ROW("Font", T, 3, 2317, 13, 2363, 0, 1),
    ROW("FontColor", T, 3, 2318, 13, 2363, 0, 0),
    ROW("FontFace", T, 3, 2319, 13, 2363, 0, 1),
    ROW("GraphicFormat", T, 1, 2617, 50, 0, 1, 0),
    ROW("GraphicHeight", N, 19, 2345, 29, 0, 0, 0),
    ROW("GraphicOffset", T, 1, 2618, 51, 0, 1, 0),
    ROW("GraphicRatio", N, 19, 2619, 52, 0, 1, 0),
    ROW("GraphicStorage", T, 1, 2630, 67, 68, 0, 0),
    ROW("GraphicUnit", T, 1, 2620, 53, 0, 1, 0),
    ROW("GraphicWidth", N, 19, 2346, 31, 0, 0, 0),
    ROW("HideFormula", T, 0, 2333, 24, 25, 0, 0),
    ROW("HotspotBorder", N, 11, 2320, 18, 0, 0, 0),
    ROW("ImageInPixels", N, 11, 2607, 39, 0, 0, 0),
    ROW("InsideHotspot", N, 14, 2615, 0, 0, 1, 0),
    ROW("LanguageTag", T, 3, 2645, 74, 2824, 0, 1),
    ROW("LastRecord", N, 16, 2321, 1, 0, 1, 0),
    ROW("LinkAnchorText", T, 3, 2338, 15, 2362, 0, 1),
    ROW("LinkHintServer", T, 3, 2339, 15, 2362, 0, 1),
    ROW("LinkNoteUniversalID", T, 3, 2322, 15, 2362, 0, 0),
    ROW("LinkPopupText", T, 3, 2340, 15, 2362, 0, 1),
    ROW("LinkReplicaID", T, 3, 2323, 15, 2362, 0, 0),
    ROW("LinkURL", T, 3, 2341, 15, 2362, 1, 0),
    ROW("LinkViewUniversalID", T, 3, 2324, 15, 2362, 0, 1),
    ROW("MaxRightMargin", N, 19, 2604, 36, 0, 1, 0),
    ROW("MinLeftMargin", N, 19, 2605, 36, 0, 1, 0),
    ROW("OLEFileName", T, 1, 2621, 12, 0, 1, 0),
    ROW("OnlyAttachments", N, 14, 2647, 2647, 0, 1, 0),
    ROW("OriginalFileName", T, 1, 2621, 12, 0, 1, 0),
    ROW("PABID", N, 20, 2343, 26, 0, 1, 0),
    ROW("ParagraphStyle", T, 3, 2327, 14, 2364, 0, 0),
    ROW("PassthruHTML", N, 11, 2612, 47, 48, 0, 1),
    ROW("PointSize", N, 19, 2328, 13, 0, 0, 0),
    ROW("PopupText", T, 0, 2340, 15, 2362, 0, 1),
    ROW("RecordType", N, 18, 2330, 0, 0, 1, 0),
    ROW("RegularExpression", N, 17, 2632, 0, 0, 0, 1),
    ROW("RowLabel", T, 1, 2608, 41, 42, 0, 0),
    ROW("SearchWordBoundaries", N, 17, 2613, 0, 0, 0, 1),
    ROW("SectionTitle", T, 1, 2331, 7, 8, 0, 0),
    ROW("SetImpliedProperties", N, 17, 2616, 0, 0, 0, 1),
    ROW("SimpleParagraphStyle", T, 3, 2614, 14, 2364, 0, 1),
    ROW("StyleName", T, 1, 2344, 27, 0, 1, 0),
    ROW("TableFitToWindow", N, 11, 2347, 33, 0, 0, 0),
    ROW("TargetColumn", N, 19, 2602, 0, 0, 1, 1),
    ROW("TargetFrame", T, 1, 2609, 43, 44, 0, 0),
    ROW("TargetNth", N, 19, 2623, 0, 0, 1, 1),
    ROW("TargetRow", N, 19, 2603, 0, 0, 1, 1),
    ROW("TargetType", T, 1, 2348, 0, 0, 1, 1),
    ROW("Text", T, 0, 2332, 9, 10, 0, 0),
    ROW("TextAttributes", T, 3, 2333, 13, 2363, 0, 0),
    ROW("TextWildcards", N, 17, 2334, 0, 0, 0, 1),
    ROW("UnformattedText", T, 0, 2610, 9, 10, 0, 1),
    ROW("UnzoomedDefinition", T, 0, 2335, 0, 0, 1, 1),
    ROW("Words", N, 15, 3, 77, 0, 1, 0),
    ROW(nullptr, 0, 0, 0, 0, 0, 0, 0),
};
#undef ROW

const ChunkPropertyRow* FindChunkProperty(const char* name) {
  if (!name) return nullptr;
  for (size_t i = 0; i < kChunkPropertyRows && i < 999; ++i) {
    const ChunkPropertyRow& row = ChunkPropertyTable[i];
    if (!row.name) break;
    int c = strcasecmp(row.name, name);
    if (c == 0) return &row;
    if (c > 0) break;  // sorted: no later row can match
  }
  return nullptr;
}

const ChunkPropertyRow* FindChunkPropertyAnywhere(const char* name) {
  if (!name) return nullptr;
  for (size_t i = 0; i < kChunkPropertyRows && ChunkPropertyTable[i].name; ++i)
    if (strcasecmp(ChunkPropertyTable[i].name, name) == 0) return &ChunkPropertyTable[i];
  return nullptr;
}

bool RunsPropertySet(uint16_t code, uint32_t subCode) {
  // Popup text, hotspot border, table width, picture pixels, pass-through
  // marking and the URL: steps of no other method; a cell colour whatever
  // sub-code it comes with.
  switch (code) {
    case 6: case 19: case 34: case 40: case 48: case 55: case 2394:
      return true;
    default:
      break;
  }
  for (size_t i = 0; i < kChunkPropertyRows && ChunkPropertyTable[i].name; ++i)
    if (ChunkPropertyTable[i].setStep == code && ChunkPropertyTable[i].code == subCode) return true;
  return false;
}

bool PassthruAt(const RTRecordNode* node) {
  for (const RTRecordNode* n = node; n; n = n->prev) {
    if (n->signature == 0xFFCC) return true;
    if (n->signature == 0xFFCD) return false;
  }
  return false;
}

namespace {

constexpr uint32_t kMaxWordRecord = 0xFFFE;  // largest even length a word header holds
constexpr uint32_t kResultCap = kResultTextSize - 1;

constexpr auto B = kv::cd::U8;
constexpr auto W = kv::cd::U16;
constexpr auto L = kv::cd::U32;
using kv::cd::Put16;
using kv::cd::Put32;

// The bytes of a record's field [off, off + n) cut to the record.
uint32_t Avail(uint32_t len, uint32_t off, uint32_t n) {
  if (off >= len) return 0;
  return n < len - off ? n : len - off;
}
const char* At(const uint8_t* p, uint32_t len, uint32_t off) {
  return reinterpret_cast<const char*>(p) + (off < len ? off : len);
}

uint32_t RoundEven(uint32_t n) { return (n + 1) & ~1u; }

bool IsHotspotBegin(uint16_t sig) { return sig == 0xFFAD || sig == 0xFFA9; }
bool IsUrlResource(uint16_t sig) {
  return sig == 0xFF5A || sig == 0xFF78 || sig == 0xFF71 || sig == 0xFFF6;
}
using kv::tables::IsCell;
using kv::tables::IsTableBegin;
using kv::tables::IsTableEnd;

// The caller's text argument: Text1 with at most Number1 characters, never
// past its NUL.
const char* TextArg(const RTProcessContext* ctx, uint32_t* n) {
  if (!ctx->Text1) {
    *n = 0;
    return "";
  }
  *n = uint32_t(strnlen(ctx->Text1, ctx->Number1));
  return ctx->Text1;
}

// Copies text into a 4,096-byte session buffer, NUL-terminated.
void SetBuffer(char* buffer, const char* text, uint32_t n) {
  if (n > kTextBufferSize - 1) n = kTextBufferSize - 1;
  if (n) std::memmove(buffer, text, n);
  buffer[n] = 0;
}

void MarkChanged(RTProcessContext* ctx) {
  ctx->Item->modified = 1;
  ctx->Item->changed = 1;
}

// The set step met a record of its property's kind (see RunsPropertySet).
void Met(RTProcessContext* ctx) { ctx->SetRecordMet = 1; }

// A zero-filled pool block of `size` bytes (rounded up to even) that the
// handler emits instead of the record and frees after the emission.
uint8_t* Replacement(RTProcessContext* ctx, RecordEmission* out, uint32_t size,
                     NnStatus* status) {
  size = RoundEven(size);
  auto* p = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, size, true));
  if (!p) {
    *status = NN_ERR_MEMORY;
    out->length = 0;
    return nullptr;
  }
  out->data = p;
  out->length = size;
  out->replacement = p;
  return p;
}

// A copy of the record to change (same length).
uint8_t* CopyOf(const uint8_t* data, uint32_t len, RTProcessContext* ctx, RecordEmission* out,
                NnStatus* status) {
  uint8_t* p = Replacement(ctx, out, len, status);
  if (p) {
    std::memcpy(p, data, len);
    out->length = len;
  }
  return p;
}

// Appends a record the step composes (write mode only).
NnStatus Compose(RTProcessContext* ctx, const uint8_t* rec, uint16_t sig, uint32_t len) {
  if (!ctx->WriteMode) return 0;
  return AppendRecord(rec, sig, len, &ctx->Compose);
}

uint16_t InnermostTargetType(const RTProcessContext* ctx) {
  const chunkdef_info* n = InnermostCallNode(ctx);
  return n ? n->targetType : 0;
}

// ---- text-like get and set steps ---------------------------------------------------

// Whether a record's text (`have` bytes from `off`, up to a NUL) is already
// `t`: a value set again leaves its record as stored (its length word and
// padding included).
bool SameText(const uint8_t* d, uint32_t len, uint32_t off, uint32_t have, const char* t,
              uint32_t n) {
  const uint32_t stored = uint32_t(strnlen(At(d, len, off), Avail(len, off, have)));
  return stored == n && (n == 0 || std::memcmp(At(d, len, off), t, n) == 0);
}

// 7: the first section title into PropertyText.
void SectionTitleGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig != 0xFFAC || ctx->TargetDone) return;
  ctx->TargetDone = 1;
  uint32_t h = (L(d, len, 4) & 0x04000000) ? 14 : 12;
  uint32_t n = len > h ? len - h : 0;
  n = uint32_t(strnlen(At(d, len, h), n));
  SetBuffer(ctx->Session->PropertyText, At(d, len, h), n);
}

// 8: every section title becomes the header and the new title with its NUL.
NnStatus SectionTitleSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                         RecordEmission* out) {
  if (sig != 0xFFAC) return 0;
  uint32_t h = (L(d, len, 4) & 0x04000000) ? 14 : 12;
  if (len < h) return 0;  // a broken record is left as it is
  Met(ctx);
  uint32_t n;
  const char* t = TextArg(ctx, &n);
  if (h + n + 1 > kMaxWordRecord) n = kMaxWordRecord - h - 1;
  if (SameText(d, len, h, len - h, t, n)) return 0;
  NnStatus st = 0;
  uint8_t* p = Replacement(ctx, out, h + n + 1, &st);
  if (!p) return st;
  std::memcpy(p, d, h);
  std::memcpy(p + h, t, n);
  Put16(p, 2, uint16_t(out->length));
  MarkChanged(ctx);
  return 0;
}

// 16: the first anchor's name into ResultText.
void AnchorGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig != 0xFFCB || ctx->TargetDone) return;
  ctx->TargetDone = 1;
  uint32_t n = Avail(len, 12, W(d, len, 4));
  ctx->Session->SetResultText(At(d, len, 12), n);
}

// 17: the first anchor gets the new name, built in the scratch record.
NnStatus AnchorSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                   RecordEmission* out) {
  if (sig != 0xFFCB || ctx->TargetDone || len < 12) return 0;
  Met(ctx);
  if (!ctx->ScratchRecord) {
    ctx->ScratchRecord = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, kWorkBlockSize, true));
    if (!ctx->ScratchRecord) return NN_ERR_MEMORY;
  }
  uint32_t n;
  const char* t = TextArg(ctx, &n);
  if (n + 13 > kMaxWordRecord) n = kMaxWordRecord - 13;
  if (SameText(d, len, 12, W(d, len, 4), t, n)) {
    ctx->TargetDone = 1;
    return 0;
  }
  uint8_t* p = ctx->ScratchRecord;
  std::memcpy(p, d, 12);
  Put16(p, 4, uint16_t(n));
  std::memcpy(p + 12, t, n);
  p[12 + n] = 0;
  p[13 + n] = 0;
  uint32_t recLen = RoundEven(n + 12);
  Put16(p, 2, uint16_t(recLen));
  out->data = p;
  out->length = recLen;
  MarkChanged(ctx);
  ctx->TargetDone = 1;
  return 0;
}

// 22: the first button's label into ResultText.
void ButtonGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig != 0xFFAB || ctx->TargetDone) return;
  ctx->TargetDone = 1;
  uint32_t n = len > 16 ? len - 16 : 0;
  if (n > kResultCap) n = kResultCap;
  // A label stored with its NUL reads without it.
  n = uint32_t(strnlen(At(d, len, 16), n));
  ctx->Session->SetResultText(At(d, len, 16), n);
}

// 23: every button gets the new label. The button's own settings (flags,
// size, font) stay: only the label and the length change.
NnStatus ButtonSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                   RecordEmission* out) {
  if (sig != 0xFFAB) return 0;
  Met(ctx);
  uint32_t n;
  const char* t = TextArg(ctx, &n);
  if (n + 16 > kMaxWordRecord) n = kMaxWordRecord - 16;
  if (len >= 16 && SameText(d, len, 16, len - 16, t, n)) return 0;
  NnStatus st = 0;
  uint8_t* p = Replacement(ctx, out, n + 16, &st);
  if (!p) return st;
  std::memcpy(p, d, len < 16 ? len : 16);
  Put16(p, 0, 0xFFAB);
  Put16(p, 2, uint16_t(out->length));
  std::memcpy(p + 16, t, n);
  MarkChanged(ctx);
  return 0;
}

// ---- links (15) and URLs (55) ------------------------------------------------------

void FormatUnid(const uint8_t* id, char* out, size_t size) {
  uint32_t w[4];
  std::memcpy(w, id, 16);
  std::snprintf(out, size, "%.8lX%.8lX%.8lX%.8lX", static_cast<unsigned long>(w[1]),
                static_cast<unsigned long>(w[0]), static_cast<unsigned long>(w[3]),
                static_cast<unsigned long>(w[2]));
}

// The n-th NUL-ended string from `off` on (cut at the record's end).
void NthString(const uint8_t* d, uint32_t len, uint32_t off, int which, const char** s,
               uint32_t* n) {
  *s = At(d, len, off);
  *n = 0;
  for (int i = 0; i <= which; ++i) {
    if (off >= len) {
      *s = At(d, len, len);
      *n = 0;
      return;
    }
    *s = At(d, len, off);
    *n = uint32_t(strnlen(*s, len - off));
    off += *n + 1;
  }
}

// Writes the identifiers that the code asks for; false when it asks for none.
bool WriteIds(const uint8_t* link40, uint32_t code, char* out) {
  if (code == PROPC_LINK_REPLICA) {
    uint32_t w[2];
    std::memcpy(w, link40, 8);
    std::snprintf(out, kTextBufferSize, "%.8lX%.8lX", static_cast<unsigned long>(w[1]),
                  static_cast<unsigned long>(w[0]));
    return true;
  }
  if (code == PROPC_LINK_VIEW) {
    FormatUnid(link40 + 8, out, kTextBufferSize);
    return true;
  }
  if (code == PROPC_LINK_NOTE) {
    FormatUnid(link40 + 24, out, kTextBufferSize);
    return true;
  }
  return false;
}

void FormulaText(const uint8_t* formula, uint32_t n, RTProcessContext* ctx) {
  LSXLsiSession* s = ctx->Session;
  NnHandle h = 0;
  uint16_t textLen = 0;
  if (n > 0xFFFF || NnFormulaToText(formula, uint16_t(n), &h, &textLen) != NN_OK) return;
  const char* text = static_cast<const char*>(NnMemLock(h));
  if (text) {
    s->SetResultText(text, textLen);
    SetBuffer(s->LinkText, text, textLen);
    NnMemUnlock(h);
  }
  NnMemFree(h);
}

void LinkGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (ctx->TargetDone) return;
  char* out = ctx->Session->LinkText;
  const uint32_t code = ctx->SubCode;
  if (code == PROPC_LINK_URL) {
    if (IsHotspotBegin(sig) && W(d, len, 4) == 11) {
      uint32_t n = Avail(len, 16, W(d, len, 12));
      n = uint32_t(strnlen(At(d, len, 16), n));
      SetBuffer(out, At(d, len, 16), n > 4095 ? 4095 : n);
      ctx->TargetDone = 1;
    } else if (IsUrlResource(sig) && W(d, len, 8) == 1 && len >= 28) {
      uint32_t off = 28u + W(d, len, 14) + W(d, len, 16);
      uint32_t n = Avail(len, off, W(d, len, 12));
      if (L(d, len, 4) & 1) {
        FormulaText(d + (off < len ? off : len), n, ctx);
      } else {
        n = uint32_t(strnlen(At(d, len, off), n));
        SetBuffer(out, At(d, len, off), n);
        ctx->Session->SetResultText(At(d, len, off), n);
      }
      ctx->TargetDone = 1;
    }
    return;
  }
  uint8_t link[40] = {};
  bool haveLink = false;
  const char* str[3] = {"", "", ""};  // popup (comment), hint server, anchor
  uint32_t strLen[3] = {0, 0, 0};
  if (sig == 0xFF92 && len >= 44) {
    std::memcpy(link, d + 4, 40);
    haveLink = true;
    for (int i = 0; i < 3; ++i) NthString(d, len, 44, i, &str[i], &strLen[i]);
  } else if (sig == 0xFF91 && len >= 6) {
    LinkIdentifiers ids;
    if (ResolveLinksReference(ctx->NoteHandle, &ids, W(d, len, 4), 0, 0) == NN_OK) {
      std::memcpy(link, &ids.replicaId, 8);
      std::memcpy(link + 8, &ids.viewId, 16);
      std::memcpy(link + 24, &ids.noteId, 16);
      haveLink = true;
    }
    for (int i = 0; i < 3; ++i) NthString(d, len, 6, i, &str[i], &strLen[i]);
  } else if (IsUrlResource(sig) && W(d, len, 8) == 2 && len >= 28) {
    uint32_t server = W(d, len, 14), popup = W(d, len, 16);
    str[1] = At(d, len, 28);
    strLen[1] = Avail(len, 28, server);
    str[0] = At(d, len, 28 + server);
    strLen[0] = Avail(len, 28 + server, popup);
    uint32_t off = 28 + server + popup;
    LinkIdentifiers ids;
    if (off + 2 <= len &&
        ResolveLinksReference(ctx->NoteHandle, &ids, W(d, len, off), 0, 0) == NN_OK) {
      std::memcpy(link, &ids.replicaId, 8);
      std::memcpy(link + 8, &ids.viewId, 16);
      std::memcpy(link + 24, &ids.noteId, 16);
      haveLink = true;
    }
    str[2] = At(d, len, off + 2);
    strLen[2] = Avail(len, off + 2, W(d, len, 12));
    for (int i = 0; i < 3; ++i) strLen[i] = uint32_t(strnlen(str[i], strLen[i]));
  } else {
    return;
  }
  if (code == PROPC_LINK_REPLICA || code == PROPC_LINK_VIEW || code == PROPC_LINK_NOTE) {
    // An identifier that cannot be resolved gives the empty text.
    if (haveLink) WriteIds(link, code, out);
    ctx->TargetDone = 1;
    return;
  }
  int which = code == PROPC_LINK_POPUP ? 0 : code == PROPC_LINK_SERVER ? 1
            : code == PROPC_LINK_ANCHOR ? 2 : -1;
  if (which < 0) return;
  SetBuffer(out, str[which], strLen[which]);
  if (code == PROPC_LINK_POPUP) ctx->Session->SetResultText(str[which], strLen[which]);
  ctx->TargetDone = 1;
}

// 55: a new URL for URL resources of kind 1 and URL hotspots (kind 11, flag 0x1000).
NnStatus UrlSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                RecordEmission* out) {
  if (ctx->SubCode != PROPC_LINK_URL || ctx->TargetDone) return 0;
  uint32_t n;
  const char* t = TextArg(ctx, &n);
  NnStatus st = 0;
  if (IsUrlResource(sig) && len >= 28 && W(d, len, 8) == 1) {
    uint32_t keep = 28u + W(d, len, 14) + W(d, len, 16);
    if (keep > len) return 0;
    if (keep + n + 1 > kMaxWordRecord) n = kMaxWordRecord - keep - 1;
    uint8_t* p = Replacement(ctx, out, keep + n + 1, &st);
    if (!p) return st;
    std::memcpy(p, d, keep);
    std::memcpy(p + keep, t, n);
    Put16(p, 2, uint16_t(out->length));
    Put16(p, 12, uint16_t(n));
    // The new URL is plain text, no longer a formula.
    Put32(p, 4, L(p, out->length, 4) & ~1u);
  } else if (IsHotspotBegin(sig) && W(d, len, 4) == 11 && (L(d, len, 8) & 0x1000) && len >= 16) {
    if (n + 17 > kMaxWordRecord) n = kMaxWordRecord - 17;
    uint8_t* p = Replacement(ctx, out, n + 17, &st);
    if (!p) return st;
    std::memcpy(p, d, 16);
    Put16(p, 12, uint16_t(n));
    std::memcpy(p + 16, t, n);
    out->length = n + 16;
    Put16(p, 2, uint16_t(out->length));
  } else {
    return 0;
  }
  Met(ctx);
  MarkChanged(ctx);
  ctx->TargetDone = 1;
  return 0;
}

// A complete answer: the walk ends (counted as success).
constexpr NnStatus kStatusWalkDone = 546;

// 47: the target reads as pass-through HTML when its first record lies in
// a region a marker opened before it, or when it holds a marker that opens
// one on its own records. With SubCode 1 it reads so only when every record
// of it lies in a region (what marking it would leave). The answer is "TRUE"
// or "FALSE" in the result text.
constexpr uint32_t kPassthruWhole = 1;

NnStatus PassthruGetStart(RTProcessContext* ctx) {
  const bool inside = PassthruAt(ctx->CurrentNode);
  ctx->Session->SetResultText(inside ? "TRUE" : "FALSE", inside ? 4 : 5);
  if (ctx->SubCode != kPassthruWhole) return inside ? kStatusWalkDone : NnStatus(0);
  ctx->TableText.PassthruInside = inside;
  return inside ? NnStatus(0) : kStatusWalkDone;
}

// A marker opens a region of the target only when a record of the target
// follows it inside the region: one that ends the target (where clearing
// a region that goes on after it leaves one) does not.
NnStatus PassthruGetRecord(uint16_t sig, RTProcessContext* ctx) {
  uint16_t& opened = ctx->TableText.PassthruInside;
  if (sig == 0xFFCC || sig == 0xFFCD) {
    opened = sig == 0xFFCC;
    return 0;
  }
  const bool whole = ctx->SubCode == kPassthruWhole;
  if (whole == (opened != 0)) return 0;
  ctx->Session->SetResultText(whole ? "FALSE" : "TRUE", whole ? 5 : 4);
  return kStatusWalkDone;
}

// 48: pass-through marking. SubCode not 0 marks the target's records as
// pass-through HTML, 0 clears the marking. Marking keeps the regions of the
// target that touch (an end directly followed by a begin) and drops any
// other marker inside it, so that regions run through the whole target;
// clearing drops them all. A region that began before the target ends where
// it starts (clearing) or runs on into it (marking); one that goes on after
// it begins again where it ends (clearing) or runs on (marking).
constexpr uint16_t kPassthruBegin = 0xFFCC, kPassthruEnd = 0xFFCD;

// A marker, flagged as written by this call: the tidying after it stays next
// to what the call wrote.
NnStatus EmitMarker(uint16_t sig, RTProcessContext* ctx) {
  const uint8_t marker[8] = {uint8_t(sig), uint8_t(sig >> 8), 8, 0, 0, 0, 0, 0};
  NnStatus st = AppendRecord(marker, sig, sizeof marker, &ctx->Compose);
  if (st) return st;
  if (RTRecordNode* n = ctx->Compose.newList ? ctx->Compose.newList->last : nullptr)
    n->flags |= kNodeInserted;
  MarkChanged(ctx);
  return 0;
}

NnStatus PassthruAtTarget(RTProcessContext* ctx) {
  TableTextOpsState& t = ctx->TableText;
  const RTRecordNode* first = ctx->CurrentNode;
  const bool mark = ctx->SubCode != 0;
  if (!mark) Met(ctx);  // clearing reaches every target
  t.PassthruInside = PassthruAt(first ? first->prev : nullptr) ? 1 : 0;
  t.PassthruOpened = t.PassthruInside;
  t.PassthruEndHeld = 0;
  // A target that opens with a marker of its own keeps it.
  if (mark == (t.PassthruInside != 0) || (mark && first && first->signature == kPassthruBegin))
    return 0;
  t.PassthruOpened = 1;
  return EmitMarker(mark ? kPassthruBegin : kPassthruEnd, ctx);
}

NnStatus PassthruRecord(uint16_t sig, uint32_t len, RTProcessContext* ctx, RecordEmission* out) {
  TableTextOpsState& t = ctx->TableText;
  const bool mark = ctx->SubCode != 0;
  if (sig != kPassthruBegin && sig != kPassthruEnd) {
    t.PassthruEndHeld = 0;  // the region goes on through this record
    // Marking takes a target with something to pass through: a region
    // around one empty run is tidied away again and marks nothing.
    if (mark && !(sig == 0xFF85 && len <= 8)) Met(ctx);
    return 0;
  }
  t.PassthruInside = sig == kPassthruBegin ? 1 : 0;
  if (mark && sig == kPassthruBegin && (t.PassthruEndHeld || !t.PassthruOpened)) {
    // Regions that touch stay two; the target's own opening begin stays.
    const NnStatus st = t.PassthruEndHeld ? EmitMarker(kPassthruEnd, ctx) : NnStatus(0);
    t.PassthruEndHeld = 0;
    t.PassthruOpened = 1;
    return st;
  }
  t.PassthruEndHeld = mark && sig == kPassthruEnd;
  out->length = 0;
  return 0;
}

NnStatus PassthruAtEnd(RTProcessContext* ctx) {
  const bool mark = ctx->SubCode != 0;
  if (mark == (ctx->TableText.PassthruInside != 0)) return 0;
  return EmitMarker(mark ? kPassthruEnd : kPassthruBegin, ctx);
}

// ---- hotspots: popup text (5, 6), border (18, 19), action formula (20, 21) --------

bool IsTextPopup(const uint8_t* d, uint32_t len) {
  uint16_t kind = W(d, len, 4);
  return (kind == 22 || kind == 1) && !(L(d, len, 8) & 0x10);
}

void PopupGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (!IsHotspotBegin(sig) || ctx->TargetDone || len <= 16 || !IsTextPopup(d, len)) return;
  uint32_t n = Avail(len, 16, W(d, len, 12));
  while (n && d[16 + n - 1] == 0) --n;
  if (!n) return;
  ctx->Session->SetResultText(At(d, len, 16), n);
  ctx->TargetDone = 1;
}

// A hotspot begin with new data of n bytes; the signed part of the old
// record (after its data) does not fit the new data and is left out.
NnStatus HotspotWithData(const uint8_t* d, uint32_t len, const void* data, uint32_t n,
                         RTProcessContext* ctx, RecordEmission* out) {
  if (len < 16) return 0;
  if (n + 16 > kMaxWordRecord) n = kMaxWordRecord - 16;
  NnStatus st = 0;
  uint8_t* p = Replacement(ctx, out, n + 16, &st);
  if (!p) return st;
  std::memcpy(p, d, 16);
  Put16(p, 12, uint16_t(n));
  if (n) std::memcpy(p + 16, data, n);
  Put16(p, 2, uint16_t(out->length));
  MarkChanged(ctx);
  return 0;
}

NnStatus PopupSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                  RecordEmission* out) {
  if (!IsHotspotBegin(sig) || !IsTextPopup(d, len)) return 0;
  Met(ctx);
  uint32_t n;
  const char* t = TextArg(ctx, &n);
  return HotspotWithData(d, len, t, n, ctx, out);
}

void BorderGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (!IsHotspotBegin(sig) || ctx->TargetDone) return;
  ctx->TargetDone = 1;
  std::strcpy(ctx->Session->PropertyText, (L(d, len, 8) & 8) ? "FALSE" : "TRUE");
}

NnStatus BorderSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                   RecordEmission* out) {
  if (!IsHotspotBegin(sig) || len < 12) return 0;
  Met(ctx);
  NnStatus st = 0;
  uint8_t* p = CopyOf(d, len, ctx, out, &st);
  if (!p) return st;
  uint32_t f = L(p, len, 8);
  f = ctx->Number1 == 0 ? (f | 8) : (f & ~8u);
  Put32(p, 8, f);
  MarkChanged(ctx);
  return 0;
}

// A hotspot whose data is its formula: one with the formula flag, or a
// button, unless the button's action is KvScript (its data is the script).
bool IsActionHotspot(const uint8_t* d, uint32_t len) {
  const uint32_t flags = L(d, len, 8);
  return (flags & 0x10) || (W(d, len, 4) == 3 && !(flags & 0x100));
}

void ActionFormulaGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (!IsHotspotBegin(sig) || ctx->TargetDone || !IsActionHotspot(d, len)) return;
  ctx->TargetDone = 1;
  ctx->Session->SetResultText(At(d, len, 16), Avail(len, 16, W(d, len, 12)));
}

// The compiled formula of a set step: the call's text argument, else the
// result text where the chunk left it.
const uint8_t* FormulaArg(RTProcessContext* ctx, uint32_t* n) {
  if (ctx->Text1) {
    *n = ctx->Number1 < kResultTextSize ? ctx->Number1 : kResultTextSize;
    return reinterpret_cast<const uint8_t*>(ctx->Text1);
  }
  *n = ctx->Session->ResultTextLength;
  return reinterpret_cast<const uint8_t*>(ctx->Session->ResultText);
}

NnStatus ActionFormulaSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                          RecordEmission* out) {
  if (!IsHotspotBegin(sig) || ctx->TargetDone || !IsActionHotspot(d, len)) return 0;
  Met(ctx);
  uint32_t n;
  const uint8_t* f = FormulaArg(ctx, &n);
  ctx->TargetDone = 1;
  return HotspotWithData(d, len, f, n, ctx, out);
}

// ---- file names (12) -----------------------------------------------------------------

void FileNameGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (ctx->TargetDone) return;
  char* out = ctx->Session->PropertyText;
  const uint32_t code = ctx->SubCode;
  if (code == PROPC_OLE_NAME) {
    if (sig != 0xFFA7) return;
    uint32_t n = Avail(len, 20, W(d, len, 14));
    if (n) {
      SetBuffer(out, At(d, len, 20), uint32_t(strnlen(At(d, len, 20), n)));
      ctx->TargetDone = 1;
    } else {
      out[0] = 0;
    }
    return;
  }
  if (code != PROPC_FILE_NAME && code != PROPC_ORIGINAL_NAME) return;
  if (IsHotspotBegin(sig)) {
    uint16_t kind = W(d, len, 4);
    if (kind != 4 && kind != 10) return;
    uint32_t n = Avail(len, 16, W(d, len, 12));
    if (!n) {
      out[0] = 0;
      return;
    }
    const char* first = At(d, len, 16);
    uint32_t firstLen = uint32_t(strnlen(first, n));
    if (code == PROPC_ORIGINAL_NAME && n > firstLen + 1) {
      const char* second = first + firstLen + 1;
      SetBuffer(out, second, uint32_t(strnlen(second, n - firstLen - 1)));
    } else {
      SetBuffer(out, first, firstLen);
    }
    ctx->TargetDone = 1;
    return;
  }
  if (sig == 0xFFC4) {
    uint16_t type = W(d, len, 4);
    uint32_t n = Avail(len, 24, W(d, len, 10));
    n = uint32_t(strnlen(At(d, len, 24), n));
    if ((type == 6 || type == 1) && n) {
      SetBuffer(out, At(d, len, 24), n);
      ctx->TargetDone = 1;
    } else {
      out[0] = 0;
    }
  }
}

// ---- paragraphs: hide formula (24, 25), PAB id (26), style name (27) ---------------

void HideFormulaGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig != 0xFFBB || ctx->TargetDone) return;
  ctx->TargetDone = 1;
  ctx->Session->SetResultText(At(d, len, 14), len > 14 ? len - 14 : 0);
}

void ParagraphIdGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (ctx->TargetDone) return;
  uint32_t off = sig == 0xFF82 ? 4 : sig == 131 ? 2 : sig == 166 ? 8 : 0;
  if (!off) return;
  ctx->Session->globals->paraDefValue = W(d, len, off);
  ctx->TargetDone = 1;
}

void StyleNameGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig != 166 || ctx->TargetDone) return;
  ctx->TargetDone = 1;
  uint32_t n = Avail(len, 10, 36);
  SetBuffer(ctx->Session->PropertyText, At(d, len, 10), uint32_t(strnlen(At(d, len, 10), n)));
}

// Step 25 keeps the identifiers it replaced, old and new.
uint16_t MappedId(const RTProcessContext* ctx, uint16_t id) {
  for (uint16_t i = 0; i < ctx->PropIdMapCount; ++i)
    if (ctx->PropIdMap[i][0] == id) return ctx->PropIdMap[i][1];
  return 0;
}
void MapId(RTProcessContext* ctx, uint16_t from, uint16_t to) {
  if (ctx->PropIdMapCount < 32) {
    ctx->PropIdMap[ctx->PropIdMapCount][0] = from;
    ctx->PropIdMap[ctx->PropIdMapCount][1] = to;
    ++ctx->PropIdMapCount;
  }
}

bool HideEverything(const RTProcessContext* ctx) {
  return InnermostTargetType(ctx) == EVERYTHING;
}

// Before the walk: the item's highest paragraph identifier.
NnStatus HidePreWalk(RTProcessContext* ctx) {
  uint16_t highest = 0;
  for (const RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr; n; n = n->next)
    if (n->signature == 0xFF82) {
      uint16_t id = W(n->data, n->length, 4);
      if (id > highest) highest = id;
    }
  ctx->PropHighestId = highest;
  uint32_t next = uint32_t(highest) + ctx->Session->globals->ObsoletedParagraphCount + 2;
  ctx->PropNextId = uint16_t(next > 0xFFFF ? 0xFFFF : next);
  return 0;
}

// Composes a definition (a copy with the hide flag by the formula) and,
// for the first one, the hide-when record after it.
NnStatus ComposeDefinition(const uint8_t* d, uint32_t len, uint16_t id, RTProcessContext* ctx,
                           const uint8_t* formula, uint32_t formulaLen) {
  auto* copy = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, RoundEven(len), true));
  if (!copy) return NN_ERR_MEMORY;
  std::memcpy(copy, d, len);
  if (len >= 6) Put16(copy, 4, id);
  if (len >= 70) {
    // The hide-by-formula flag is bit 0x0800 of the first flags word (offset
    // 62), where the renderer reads it; the same bit of the extended flags
    // word marks a circle bullet.
    uint16_t f = W(copy, len, kv::cd::host::kPabFlags);
    f = formulaLen ? uint16_t(f | 0x800) : uint16_t(f & ~0x800);
    Put16(copy, kv::cd::host::kPabFlags, f);
  }
  NnStatus st = Compose(ctx, copy, 0xFF82, len);
  PoolFree(ctx->Session, copy);
  if (st || !formulaLen || ctx->PropHideWritten) return st;
  uint32_t n = formulaLen;
  if (n + 14 > kMaxWordRecord) n = kMaxWordRecord - 14;
  uint32_t hideLen = RoundEven(n + 14);
  auto* hide = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, hideLen, true));
  if (!hide) return NN_ERR_MEMORY;
  Put16(hide, 0, 0xFFBB);
  Put16(hide, 2, uint16_t(hideLen));
  Put16(hide, 4, id);
  std::memcpy(hide + 14, formula, n);
  st = Compose(ctx, hide, 0xFFBB, hideLen);
  PoolFree(ctx->Session, hide);
  if (st == 0) {
    ctx->PropHideWritten = 1;
    ctx->PropFormulaHolder = id;
  }
  return st;
}

// Keeps the original definition for the paragraphs outside the target: the
// engine re-emits a saved definition before a reference to it that it copies
// unchanged.
NnStatus SaveOriginal(const uint8_t* d, uint32_t len, RTProcessContext* ctx, bool* saved) {
  SessionGlobals* g = ctx->Session->globals;
  *saved = false;
  if (g->ObsoletedParagraphCount >= kMaxSavedParaDefs || g->savedParaDefCount >= kMaxSavedParaDefs) {
    LogMessage(ctx->Session, "ZELKO: Unable to save additional obsoleted PAB definitions.");
    return 0;
  }
  auto* copy = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, RoundEven(len), true));
  if (!copy) return NN_ERR_MEMORY;
  std::memcpy(copy, d, len);
  g->savedParaDefs[g->savedParaDefCount++] = copy;
  std::memcpy(g->ObsoletedParagraphs[g->ObsoletedParagraphCount], d,
              len < kParaDefCopySize ? len : kParaDefCopySize);
  ++g->ObsoletedParagraphCount;
  *saved = true;
  return 0;
}

uint16_t NextNewId(RTProcessContext* ctx) {
  uint16_t id = ctx->PropNextId;
  if (ctx->PropNextId < 0xFFFF) ++ctx->PropNextId;
  return id;
}

const RTRecordNode* FindDefinition(const RTProcessContext* ctx, uint16_t id) {
  for (const RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr; n; n = n->next)
    if (n->signature == 0xFF82 && W(n->data, n->length, 4) == id) return n;
  return nullptr;
}

NnStatus HideFormulaSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                        RecordEmission* out) {
  uint32_t formulaLen;
  const uint8_t* formula = FormulaArg(ctx, &formulaLen);
  const bool everything = HideEverything(ctx);
  if (sig == 0xFFBB || sig == 188 || sig == 0xFF82 || (sig == 131 && len >= 4)) Met(ctx);
  if (sig == 0xFFBB || sig == 188) {
    out->length = 0;
    return 0;
  }
  if (sig == 0xFF82) {
    uint16_t id = W(d, len, 4);
    if (!everything) {
      bool saved = false;
      NnStatus st = SaveOriginal(d, len, ctx, &saved);
      if (st) return st;
      if (saved) {
        uint16_t fresh = NextNewId(ctx);
        MapId(ctx, id, fresh);
        id = fresh;
      }
    }
    out->length = 0;
    MarkChanged(ctx);
    return ComposeDefinition(d, len, id, ctx, formula, formulaLen);
  }
  if (sig != 131 || len < 4) return 0;
  uint16_t id = W(d, len, 2);
  NnStatus st = 0;
  if (!everything) {
    uint16_t to = MappedId(ctx, id);
    if (!to) {
      // The paragraph's definition lies outside the target: the paragraph
      // gets a copy of its own under a new identifier.
      const RTRecordNode* def = FindDefinition(ctx, id);
      if (def) {
        to = NextNewId(ctx);
        MapId(ctx, id, to);
        st = ComposeDefinition(def->data, def->length, to, ctx, formula, formulaLen);
        if (st) return st;
      }
    }
    if (to) id = to;
  }
  uint8_t ref[4] = {131, 4, 0, 0};
  Put16(ref, 2, id);
  st = Compose(ctx, ref, 131, 4);
  if (st) return st;
  out->length = 0;
  MarkChanged(ctx);
  if (formulaLen && ctx->PropHideWritten && id != ctx->PropFormulaHolder) {
    uint8_t link[6] = {188, 6, 0, 0, 0, 0};
    Put16(link, 2, ctx->PropFormulaHolder);
    Put16(link, 4, id);
    st = Compose(ctx, link, 188, 6);
  }
  return st;
}

// ---- tables: fit to window (33, 34), margins (36), row labels (41, 42) ------------

void FitGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig != 163 || ctx->TargetDone) return;
  ctx->TargetDone = 1;
  std::strcpy(ctx->Session->PropertyText, (W(d, len, 12) & 1) ? "TRUE" : "FALSE");
}

int32_t Level(const RTProcessContext* ctx) {
  int32_t l = ctx->PropTableDepth;
  if (l < 0) return 0;
  return l > int32_t(kMaxEngineTableDepth + 1) ? int32_t(kMaxEngineTableDepth + 1) : l;
}

NnStatus FitSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                RecordEmission* out) {
  const TorvoRTItem* item = ctx->Item;
  const bool refit = item->context && item->context->cellRefit;
  NnStatus st = 0;
  // Only the target's own tables change: those nested in their cells
  // (levels below the first) keep their width and their cells.
  if (IsTableBegin(sig)) {
    ++ctx->PropTableDepth;
    int32_t l = Level(ctx);
    ctx->PropRefit[l] = refit && l == 1 ? 1 : 0;
    ctx->PropRowEdge[l] = 0;
    if (len < 14 || l != 1) return 0;
    Met(ctx);
    uint8_t* p = CopyOf(d, len, ctx, out, &st);
    if (!p) return st;
    uint16_t f = W(p, len, 12);
    f = ctx->Number1 ? uint16_t(f | 1) : uint16_t(f & ~1);
    Put16(p, 12, f);
    MarkChanged(ctx);
    return 0;
  }
  if (IsTableEnd(sig)) {
    ctx->PropRefit[Level(ctx)] = 0;
    if (ctx->PropTableDepth > 0) --ctx->PropTableDepth;
    return 0;
  }
  if (IsCell(sig)) {
    int32_t l = Level(ctx);
    if (!ctx->PropRefit[l] || len < 10) return 0;
    uint8_t* p = CopyOf(d, len, ctx, out, &st);
    if (!p) return st;
    uint32_t width = uint32_t(uint64_t(W(p, len, 8)) * item->pageWidth / 28800);
    uint32_t left = B(p, len, 3) == 0 ? W(p, len, 4) : ctx->PropRowEdge[l];
    uint32_t right = left + width;
    if (right > 0xFFFF) right = 0xFFFF;
    Put16(p, 4, uint16_t(left));
    Put16(p, 6, uint16_t(right));
    ctx->PropRowEdge[l] = uint16_t(right);
    MarkChanged(ctx);
    return 0;
  }
  if (sig == 0xFFFB && len >= 8 && Level(ctx) == 0) {
    uint8_t* p = CopyOf(d, len, ctx, out, &st);
    if (!p) return st;
    uint32_t f = L(p, len, 4);
    if (ctx->Number1 == 0)
      f &= ~(1u | 64u);
    else
      f |= 1u | (refit ? 64u : 0u);
    Put32(p, 4, f);
    MarkChanged(ctx);
  }
  return 0;
}

void MarginsStep(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  uint32_t left, right;
  if (IsCell(sig)) {
    left = W(d, len, 4);
    right = W(d, len, 6);
  } else if (sig == 0xFF82) {
    left = W(d, len, 14);
    right = W(d, len, 16);
  } else {
    return;
  }
  if (right > ctx->PropMaxRight) ctx->PropMaxRight = right;
  if (left && (ctx->PropMinLeft == 0 || left < ctx->PropMinLeft)) ctx->PropMinLeft = left;
}

// A table begins: the first one the walk meets holds the rows whose labels
// the target reads and sets (a row or cell target begins inside its table,
// at level 1); the labels of tables nested in them are theirs.
bool EntersTable(uint16_t sig, RTProcessContext* ctx) {
  if (!IsTableBegin(sig)) return false;
  ++ctx->PropTableDepth;
  if (!ctx->PropFirstLevel) ctx->PropFirstLevel = ctx->PropTableDepth;
  return true;
}

bool AtLabelLevel(const RTProcessContext* ctx) {
  return ctx->PropFirstLevel && ctx->PropTableDepth == ctx->PropFirstLevel;
}

// 41: the first label of the target's own rows.
void RowLabelGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (EntersTable(sig, ctx)) return;
  if (IsTableEnd(sig) && ctx->PropTableDepth > 0) --ctx->PropTableDepth;
  if (sig != 0xFFE3 || ctx->TargetDone || !AtLabelLevel(ctx)) return;
  ctx->TargetDone = 1;
  uint32_t n = Avail(len, 4, 128);
  SetBuffer(ctx->Session->PropertyText, At(d, len, 4), uint32_t(strnlen(At(d, len, 4), n)));
}

void FillLabel(uint8_t* p, RTProcessContext* ctx) {
  uint32_t n;
  const char* t = TextArg(ctx, &n);
  if (n > 127) n = 127;
  std::memset(p + 4, 0, 128);
  std::memcpy(p + 4, t, n);
}

// A label for the row being walked, composed ahead of the current record:
// a row's label follows its first cell's content.
NnStatus ComposeRowLabel(RTProcessContext* ctx) {
  uint8_t label[140] = {};
  Put16(label, 0, 0xFFE3);
  Put16(label, 2, 140);
  FillLabel(label, ctx);
  const NnStatus st = Compose(ctx, label, 0xFFE3, 140);
  if (st) return st;
  Met(ctx);
  MarkChanged(ctx);
  ctx->TargetDone = 1;
  return 0;
}

NnStatus RowLabelSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                     RecordEmission* out) {
  if (EntersTable(sig, ctx)) return 0;
  if (IsTableEnd(sig)) {
    // The last row of a table of one column, without a label, takes it
    // before the table ends.
    const bool first = AtLabelLevel(ctx);
    if (first && ctx->PropRowOpen && !ctx->TargetDone) {
      const NnStatus st = ComposeRowLabel(ctx);
      if (st) return st;
    }
    if (first) ctx->PropRowOpen = 0;
    if (ctx->PropTableDepth > 0) --ctx->PropTableDepth;
    return 0;
  }
  if (!AtLabelLevel(ctx)) return 0;
  if (IsCell(sig)) {
    const uint8_t column = B(d, len, 3);
    // Each row takes the label: ahead of its second cell, or, in a table of
    // one column, ahead of the next row's first cell.
    if (column == 0) {
      if (ctx->PropRowOpen && !ctx->TargetDone) {
        const NnStatus st = ComposeRowLabel(ctx);
        if (st) return st;
      }
      ctx->PropRowOpen = 1;
      ctx->TargetDone = 0;
    }
    if (column == 1 && !ctx->TargetDone) return ComposeRowLabel(ctx);
    return 0;
  }
  if (sig == 0xFFE3 && !ctx->TargetDone && len >= 132) {
    Met(ctx);
    ctx->TargetDone = 1;
    uint32_t n;
    const char* t = TextArg(ctx, &n);
    if (SameText(d, len, 4, 128, t, n > 127 ? 127 : n)) return 0;
    NnStatus st = 0;
    uint8_t* p = CopyOf(d, len, ctx, out, &st);
    if (!p) return st;
    FillLabel(p, ctx);
    MarkChanged(ctx);
  }
  return 0;
}

// ---- frames (43, 44) ------------------------------------------------------------------

void FrameGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig != 0xFFF2 || ctx->TargetDone) return;
  ctx->TargetDone = 1;
  uint32_t n = Avail(len, 12, W(d, len, 4));
  SetBuffer(ctx->Session->PropertyText, At(d, len, 12), uint32_t(strnlen(At(d, len, 12), n)));
}

// Whether the record is the hotspot end that closes the target itself: a
// frame target belongs inside its link, where the link reads it. A target
// of another kind (a run, a table, a picture in a link) has no frame of its
// own to compose.
bool ClosesLinkTarget(const uint8_t* d, uint16_t sig, uint32_t len, const RTProcessContext* ctx) {
  uint16_t type = InnermostTargetType(ctx);
  if (type == 0 || type >= kTargetTypeCount) return false;
  const TargetTypeDescriptor& desc = TargetTypeDescriptors[type];
  uint16_t which = sig == 222 ? W(d, len, 4) : sig;
  if (desc.endOutside || (which != 170 && which != 174)) return false;
  for (uint16_t s : desc.endSignatures)
    if (s && s == which) return true;
  return false;
}

NnStatus FrameSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                  RecordEmission* out) {
  uint32_t n;
  const char* t = TextArg(ctx, &n);
  if (n + 12 > kMaxWordRecord) n = kMaxWordRecord - 12;
  NnStatus st = 0;
  if (sig == 0xFFF2 && len >= 12) {
    Met(ctx);
    ctx->TargetDone = 1;
    if (SameText(d, len, 12, W(d, len, 4), t, n)) return 0;
    uint8_t* p = Replacement(ctx, out, n + 12, &st);
    if (!p) return st;
    std::memcpy(p, d, 12);
    Put16(p, 2, uint16_t(out->length));
    Put16(p, 4, uint16_t(n));
    std::memcpy(p + 12, t, n);
    MarkChanged(ctx);
    return 0;
  }
  if (!ctx->TargetDone && ClosesLinkTarget(d, sig, len, ctx)) {
    uint32_t recLen = RoundEven(n + 12);
    auto* p = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, recLen, true));
    if (!p) return NN_ERR_MEMORY;
    Put16(p, 0, 0xFFF2);
    Put16(p, 2, uint16_t(recLen));
    Put16(p, 4, uint16_t(n));
    std::memcpy(p + 12, t, n);
    st = Compose(ctx, p, 0xFFF2, recLen);
    PoolFree(ctx->Session, p);
    if (st) return st;
    Met(ctx);
    MarkChanged(ctx);
    ctx->TargetDone = 1;
  }
  return 0;
}

// ---- graphics (39, 40), blob data (61, 63), statistics (77), cell margins (35) -------

void PixelsGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig != 153 || ctx->TargetDone) return;
  ctx->TargetDone = 1;
  std::strcpy(ctx->Session->PropertyText,
              (B(d, len, kv::cd::host::kGraphicFlags) & 1) ? "TRUE" : "FALSE");
}

NnStatus PixelsSet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                   RecordEmission* out) {
  if (sig != 153 || len <= kv::cd::host::kGraphicFlags) return 0;
  Met(ctx);
  NnStatus st = 0;
  uint8_t* p = CopyOf(d, len, ctx, out, &st);
  if (!p) return st;
  uint8_t& f = p[kv::cd::host::kGraphicFlags];
  f = ctx->Number1 ? uint8_t(f | 1) : uint8_t(f & ~1);
  MarkChanged(ctx);
  return 0;
}

void BlobGet(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx, uint16_t want,
             uint16_t owner) {
  if (sig != want || ctx->TargetDone || W(d, len, 4) != owner) return;
  ctx->TargetDone = 1;
  ctx->Session->SetResultText(At(d, len, 18), Avail(len, 18, W(d, len, 6)));
}

void Statistics(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if ((sig != 0xFF85 && sig != 0xFFE4) || len < 8) return;
  const uint8_t* text = d + 8;
  const uint32_t n = len - 8;
  SessionGlobals* g = ctx->Session->globals;
  switch (ctx->SubCode) {
    case 1:
      g->FirstMatchRecord += n;
      break;
    case 2: {
      uint32_t chars = 0;
      if (NnCharsetCharCount(reinterpret_cast<const char*>(text), n, &chars, g->charsetInfo) ==
          NN_OK)
        g->FirstMatchRecord += chars;
      break;
    }
    case 3: {
      bool prevWord = false;
      for (uint32_t i = 0; i < n; ++i) {
        bool word = std::isalnum(text[i]) != 0;
        if (word && !prevWord) ++g->FirstMatchRecord;
        prevWord = word;
      }
      break;
    }
    default:
      break;
  }
}

void CellMarginStep(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (!IsCell(sig) || len < 8) return;
  uint32_t row = uint32_t(B(d, len, 2)) + 1, column = uint32_t(B(d, len, 3)) + 1;
  if (row != ctx->SubCode || column != ctx->Number1) return;
  if (row > ctx->Number2 && ctx->Number2) return;
  if (column > ctx->Number3 && ctx->Number3) return;
  SessionGlobals* g = ctx->Session->globals;
  g->CellMargins[0] = W(d, len, 4);
  g->CellMargins[1] = W(d, len, 6);
}

// ---- sort keys (11) ----------------------------------------------------------------------

constexpr uint16_t kFirstKeyRoom = 255;
constexpr uint32_t kMaxKeyLength = 1023;

NnStatus OpenKeyEntry(RTProcessContext* ctx) {
  LSXLsiSession* s = ctx->Session;
  uint16_t count = ctx->PositionCount;
  if (count == 0xFFFF) return NN_ERR_MEMORY;
  if (count && ctx->Positions) ctx->Positions[count - 1].lastRecord = ctx->RecordNumber - 1;
  if (!ctx->Positions || count >= kFirstKeyRoom) {
    uint32_t room = count < kFirstKeyRoom ? kFirstKeyRoom : uint32_t(count) + 1;
    auto* grown = static_cast<kv::SortKeyEntry*>(
        POOL_ALLOC(s, room * sizeof(kv::SortKeyEntry), true));
    if (!grown) return NN_ERR_MEMORY;
    if (ctx->Positions) {
      std::memcpy(grown, ctx->Positions, count * sizeof(kv::SortKeyEntry));
      PoolFree(s, ctx->Positions);
    }
    ctx->Positions = grown;
  }
  kv::SortKeyEntry& e = ctx->Positions[count];
  e = kv::SortKeyEntry{};
  e.firstRecord = e.lastRecord = ctx->RecordNumber;
  ctx->PositionCount = uint16_t(count + 1);
  ctx->TargetDone = 0;
  return 0;
}

bool Starts(const char* text, const char* prefix) {
  return text && strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

NnStatus SortKeyStep(const uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (IsCell(sig)) {
    uint32_t depth = ctx->Compose.tableDepth;
    if (!ctx->KeyTableDepth) ctx->KeyTableDepth = depth ? depth : 1;
    if ((depth ? depth : 1) != ctx->KeyTableDepth) return 0;
    if (B(d, len, 3) != 0) return 0;
    NnStatus st = OpenKeyEntry(ctx);
    if (st) return st;
    uint32_t row = B(d, len, 2);
    if (ctx->Number1 && (row == 0 || row < ctx->Number2))
      ctx->Positions[ctx->PositionCount - 1].reserved = 1;
    return 0;
  }
  if (IsTableEnd(sig)) {
    uint32_t depth = ctx->Compose.tableDepth;
    if (ctx->KeyTableDepth && (depth ? depth : 1) == ctx->KeyTableDepth && ctx->PositionCount &&
        ctx->Positions)
      ctx->Positions[ctx->PositionCount - 1].lastRecord = ctx->RecordNumber - 1;
    return 0;
  }
  if (ctx->TargetDone || !ctx->PositionCount || !ctx->Positions) return 0;
  // A row's label is the key of the whole row, in whichever cell it stands;
  // the sub-code counts columns from 0, the walk's cell column from 1; a
  // nested table's cells are not the sorted table's.
  const bool byLabel = Starts(ctx->Text2, "TABLABEL") || Starts(ctx->Text2, "ROWLABEL");
  const uint32_t depth = ctx->Compose.tableDepth;
  if ((depth ? depth : 1) != ctx->KeyTableDepth ||
      (!byLabel && ctx->CurrentCellColumn != ctx->SubCode + 1))
    return 0;
  const char* key = nullptr;
  uint32_t n = 0;
  if (byLabel) {
    if (sig != 0xFFE3) return 0;
    key = At(d, len, 4);
    n = uint32_t(strnlen(key, Avail(len, 4, 128)));
  } else if (sig == 0xFF85 && len > 8) {
    key = At(d, len, 8);
    n = len - 8;
  } else if (sig == 0xFFAC && Starts(ctx->Text2, "SECTION")) {
    uint32_t h = (L(d, len, 4) & 0x04000000) ? 14 : 12;
    key = At(d, len, h);
    n = len > h ? len - h : 0;
  } else {
    return 0;
  }
  while (n && key[n - 1] == 0) --n;
  if (n > kMaxKeyLength) n = kMaxKeyLength;
  auto* text = static_cast<char*>(POOL_ALLOC(ctx->Session, n + 1, false));
  if (!text) return NN_ERR_MEMORY;
  std::memcpy(text, key, n);
  text[n] = 0;
  kv::SortKeyEntry& e = ctx->Positions[ctx->PositionCount - 1];
  if (e.keyText) PoolFree(ctx->Session, const_cast<char*>(e.keyText));
  e.keyText = text;
  e.keyLength = uint16_t(n);
  ctx->TargetDone = 1;
  return 0;
}

// ---- the family ----------------------------------------------------------------------------

bool PropertyRecord(uint8_t* d, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                    RecordEmission* out, NnStatus* status) {
  NnStatus st = 0;
  switch (ctx->OperationCode) {
    case 5: PopupGet(d, sig, len, ctx); break;
    case 6: st = PopupSet(d, sig, len, ctx, out); break;
    case 7: SectionTitleGet(d, sig, len, ctx); break;
    case 8: st = SectionTitleSet(d, sig, len, ctx, out); break;
    case 11: st = SortKeyStep(d, sig, len, ctx); break;
    case 12: FileNameGet(d, sig, len, ctx); break;
    case 15: LinkGet(d, sig, len, ctx); break;
    case 16: AnchorGet(d, sig, len, ctx); break;
    case 17: st = AnchorSet(d, sig, len, ctx, out); break;
    case 18: BorderGet(d, sig, len, ctx); break;
    case 19: st = BorderSet(d, sig, len, ctx, out); break;
    case 20: ActionFormulaGet(d, sig, len, ctx); break;
    case 21: st = ActionFormulaSet(d, sig, len, ctx, out); break;
    case 22: ButtonGet(d, sig, len, ctx); break;
    case 23: st = ButtonSet(d, sig, len, ctx, out); break;
    case 24: HideFormulaGet(d, sig, len, ctx); break;
    case 25: st = HideFormulaSet(d, sig, len, ctx, out); break;
    case 26: ParagraphIdGet(d, sig, len, ctx); break;
    case 27: StyleNameGet(d, sig, len, ctx); break;
    case 33: FitGet(d, sig, len, ctx); break;
    case 34: st = FitSet(d, sig, len, ctx, out); break;
    case 35: CellMarginStep(d, sig, len, ctx); break;
    case 36: MarginsStep(d, sig, len, ctx); break;
    case 39: PixelsGet(d, sig, len, ctx); break;
    case 40: st = PixelsSet(d, sig, len, ctx, out); break;
    case 41: RowLabelGet(d, sig, len, ctx); break;
    case 42: st = RowLabelSet(d, sig, len, ctx, out); break;
    case 43: FrameGet(d, sig, len, ctx); break;
    case 44: st = FrameSet(d, sig, len, ctx, out); break;
    case 47: st = PassthruGetRecord(sig, ctx); break;
    case 48: st = PassthruRecord(sig, len, ctx, out); break;
    case 55: st = UrlSet(d, sig, len, ctx, out); break;
    case 61: BlobGet(d, sig, len, ctx, 0xFF65, 0xFF66); break;
    case 63: BlobGet(d, sig, len, ctx, 0xFFDC, 0xFFF9); break;
    case 62:
    case 64: break;
    case 77: Statistics(d, sig, len, ctx); break;
    default: return false;
  }
  *status = st;
  return true;
}

// Step 19 sets the hotspot border flag but is not among the steps that
// rebuild the item: run it in write mode, or the change would be lost while
// the call reports success.
bool PropertySetup(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != 19) return false;
  ctx->WriteMode = 1;
  *status = 0;
  return true;
}

bool PropertyPreWalk(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != 25) return false;
  *status = HidePreWalk(ctx);
  return true;
}

bool PropertyAtTarget(uint8_t*, uint16_t, uint32_t, RTProcessContext* ctx, NnStatus* status) {
  switch (ctx->OperationCode) {
    case 47:
      *status = PassthruGetStart(ctx);
      return true;
    case 48:
      *status = PassthruAtTarget(ctx);
      return true;
    default:
      return false;
  }
}

bool PropertyElementEnd(uint8_t*, uint16_t, uint32_t, RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != 48) return false;
  *status = PassthruAtEnd(ctx);
  return true;
}

const OperationFamily kPropertySteps = {"properties",     PropertySetup,
                                        PropertyPreWalk,  PropertyAtTarget,
                                        PropertyRecord,   PropertyElementEnd,
                                        nullptr};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kPropertySteps);
