// Text-run, paragraph and graphic operations: font get (step 13), font change
// (2363), highlights (2372, 2373), font test (2368), paragraph get (step 14),
// paragraph change (2364), short paragraph definitions expanded (step 69), and
// the graphic operations. The paragraph texts of 2364, 2417 and 2442 are
// parsed at set-up.
#include "richtext/engine/tablerows.h"
#include "richtext/engine/textops.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "host/fonts.h"
#include "host/logging.h"
#include "host/options.h"
#include "host/pool.h"
#include "host/textmatch.h"
#include "lsxsessi.h"
#include "render/render.h"
#include "richtext/compose/pabdef.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/propwriters.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/parastring.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

namespace h = kv::cd::host;

constexpr uint16_t kSigText = 0xFF85;
constexpr uint16_t kSigEffect = 0xFFC3;
constexpr uint16_t kSigBegin = 221;
constexpr uint16_t kSigEnd = 222;
constexpr uint16_t kSigColor = 210;
constexpr uint16_t kSigPab = 0xFF82;
constexpr uint16_t kSigPabRef = 131;
constexpr uint16_t kSigBar = 0xFFAC;
constexpr uint16_t kSigButton = 0xFFAB;
constexpr uint32_t kBarFont = 8;
// The button record keeps its font after its width, height and line count.
constexpr uint32_t kButtonFont = 12;
constexpr const char* kObsoleteFull = "ZELKO: Unable to save additional obsoleted PAB definitions.";

using kv::cd::U16;
using kv::cd::U32;
using kv::cd::Put16;
using kv::cd::Put32;

using kv::tables::IsCell;

// The element a BEGIN or END record opens or closes.
uint16_t BracketObject(const uint8_t* data, uint32_t len) { return U16(data, len, 4); }

bool IsRunRecord(const uint8_t* data, uint16_t sig, uint32_t len) {
  return sig == kSigText || sig == kSigEffect ||
         (sig == kSigBegin && BracketObject(data, len) == kSigText);
}

// A pool copy of the record emitted instead of the walked one.
uint8_t* PoolCopy(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                  RecordEmission* out) {
  auto* copy = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, len, false));
  if (!copy) return nullptr;
  std::memcpy(copy, data, len);
  out->data = copy;
  out->signature = sig;
  out->length = len;
  out->replacement = copy;
  return copy;
}

// The first text record of a run that starts at `node` (the node itself when
// it is one), and the colour record of its BEGIN/END wrapping; null when none.
void RunParts(const RTRecordNode* node, const RTRecordNode** text, const RTRecordNode** color) {
  *text = nullptr;
  *color = nullptr;
  if (!node) return;
  const RTRecordNode* n = node;
  if (n->signature == kSigBegin) n = n->next;
  if (n && n->signature == kSigText) *text = n;
  // The colour record lies inside the wrapping: after its text, before its END.
  bool wrapped = node->signature == kSigBegin ||
                 (node->prev && node->prev->signature == kSigBegin &&
                  BracketObject(node->prev->data, node->prev->length) == kSigText);
  if (!wrapped) return;
  for (int i = 0; n && i < 8; ++i, n = n->next) {
    if (n->signature == kSigEnd) break;
    if (n->signature == kSigColor) {
      *color = n;
      break;
    }
  }
}

// ---- set-up ---------------------------------------------------------------------

// The font of a text-writing call; a text that is no font leaves none.
void ParseCallFont(RTProcessContext* ctx, const char* spec) {
  FontState state;
  uint32_t mask = 0;
  if (spec && ParseFontSpec(spec, nullptr, ctx->Item, &state, &mask) == 0) {
    ctx->Font = state;
    ctx->FontMask = mask;
    ctx->FontGiven = mask != 0;
  }
}

bool Setup(RTProcessContext* ctx, NnStatus* status) {
  const uint16_t code = ctx->OperationCode;
  if (code != 2364 && code != 2417 && code != 2442) return false;
  ParagraphSpec* spec = &ctx->TableText.ParagraphChange;
  ParagraphSpecReset(spec);
  NnStatus st = 0;
  if (code == 2364) {
    // Every key of a paragraph change is one it can apply.
    st = ParseParagraphSpec(ctx->Text1, ctx->Text2, spec, kStrictFirst | kStrictSecond);
    // New identifiers are numbered from this call's base: copies of an
    // earlier call would renumber references wrongly.
    ctx->Session->globals->ObsoletedParagraphCount = 0;
  } else if (code == 2417) {
    // The second text is a font, or a paragraph string every key of which
    // the new paragraph takes.
    const bool string = ctx->Text2 && std::strchr(ctx->Text2, '=');
    st = ParseParagraphSpec(ctx->Text1, ctx->Text2, spec, string ? kStrictSecond : 0);
    ParseCallFont(ctx, ctx->Text2);
  } else {
    // The layer text "top;left;width;height;paragraph".
    const char* p = ctx->Text2;
    int semicolons = 0;
    while (p && *p && semicolons < 4)
      if (*p++ == ';') ++semicolons;
    if (semicolons == 4) {
      st = ctx->Item->ParseParagraphString(p, nullptr, spec);
      ParseCallFont(ctx, ctx->Text2);
    }
  }
  if (st == 0) ctx->ParagraphSpec = spec;
  *status = st;
  return true;
}

// ---- font get (step 13) and font test (2368) -------------------------------------

bool RunFont(const uint8_t* data, uint16_t sig, uint32_t len, const RTRecordNode* node,
             uint32_t* font) {
  if (sig == kSigText || sig == kSigEffect) return kv::cd::ReadU32(data, len, 4, font);
  const RTRecordNode *text = nullptr, *color = nullptr;
  RunParts(node, &text, &color);
  return text && kv::cd::ReadU32(text->data, text->length, h::kTextFont, font);
}

NnStatus FontGet(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  // A text effect's font is not what the page shows of the run it opens:
  // the run's own font is read.
  if (ctx->TargetDone || sig == kSigEffect || !IsRunRecord(data, sig, len)) return 0;
  uint32_t font = 0;
  if (!RunFont(data, sig, len, ctx->CurrentNode, &font)) return 0;
  const RTRecordNode *text = nullptr, *color = nullptr;
  if (sig != kSigEffect) RunParts(ctx->CurrentNode, &text, &color);
  LSXLsiSession* s = ctx->Session;
  PropText out(s->LinkText, kTextBufferSize);
  const uint32_t code = ctx->SubCode ? ctx->SubCode : 2317;
  WriteFontStyleProps(font, color ? color->data : nullptr, color ? color->length : 0, ctx->Item,
                      &out, code);
  ctx->TargetDone = 1;
  return 0;
}

void FontInUse(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
               RecordEmission* out) {
  out->length = 0;  // a read-only walk
  if (ctx->TargetDone || !IsRunRecord(data, sig, len)) return;
  uint32_t font = 0;
  if (!RunFont(data, sig, len, ctx->CurrentNode, &font)) return;
  if (FontMatches(&font, &ctx->Font, ctx->FontMask)) {
    std::strcpy(ctx->Session->PropertyText, "1");
    ctx->TargetDone = 1;
  }
}

// ---- font changes and highlights (2363, 2372, 2373) ------------------------------

// Text in the changed font: wrapped with its colour when the change has one
// and the run is not already wrapped (the wrapping's colour record is changed then).
NnStatus EmitChangedText(const char* text, uint32_t n, uint32_t font, uint32_t color,
                         uint16_t highlight, RTProcessContext* ctx) {
  ComposeContext* c = &ctx->Compose;
  const bool wrap = (color || highlight) && !ctx->TableText.InTextWrap;
  NnStatus st = wrap ? EmitBeginRecord(kSigText, 0, c) : 0;
  if (st == 0) st = EmitTextRecord(text, n, &font, c);
  if (st == 0 && wrap) st = EmitRecord8(kSigColor, color & 0xFFFFFF, highlight, c);
  if (st == 0 && wrap) st = EmitEndRecord(kSigText, 0, c);
  return st;
}

NnStatus HighlightMatches(const uint8_t* data, uint32_t len, uint32_t font, uint32_t newFont,
                          uint32_t color, uint16_t highlight, RTProcessContext* ctx,
                          RecordEmission* out) {
  if (!ctx->Text2 || len <= h::kTextFixed) return 0;
  const char* text = reinterpret_cast<const char*>(data) + h::kTextFixed;
  const uint32_t n = len - h::kTextFixed;
  uint32_t searchLen = uint32_t(std::strlen(ctx->Text2));
  if (ctx->Number2 && ctx->Number2 < searchLen) searchLen = ctx->Number2;
  if (!searchLen) return 0;
  kv::TextMatchOptions options;
  const TorvoRTChunk* chunk = ctx->Chunk;
  options.accentSensitive = chunk->AccentSensitive != 0;
  options.caseSensitive = chunk->CaseSensitive != 0;
  options.regularExpression = chunk->RegularExpression != 0;
  options.wordBoundaries = chunk->SearchWordBoundaries != 0;
  options.wildcards = ctx->TextWildcards != 0;
  uint32_t from = 0, done = 0;
  bool any = false;
  while (from < n) {
    uint32_t matchLen = 0;
    int32_t at = kv::TextFindMatchFrom(text, n, from, ctx->Text2, searchLen, options, &matchLen);
    if (at < 0 || uint32_t(at) >= n || matchLen == 0) break;
    if (uint32_t(at) + matchLen > n) matchLen = n - uint32_t(at);
    NnStatus st = 0;
    if (uint32_t(at) > done) st = EmitTextRecord(text + done, uint32_t(at) - done, &font, &ctx->Compose);
    if (st == 0) st = EmitChangedText(text + at, matchLen, newFont, color, highlight, ctx);
    if (st) return st;
    any = true;
    done = from = uint32_t(at) + matchLen;
  }
  if (!any) return 0;
  if (done < n) {
    NnStatus st = EmitTextRecord(text + done, n - done, &font, &ctx->Compose);
    if (st) return st;
  }
  out->length = 0;
  return 0;
}

void EnsureMatchPattern(RTProcessContext* ctx) {
  TableTextOpsState& t = ctx->TableText;
  if (t.MatchPatternReady) return;
  t.MatchPatternReady = 1;
  char value[kOptionValueMax + 1];
  if (GetOptionValue(ctx->Session->globals->optionString, "MatchFont=", value) && value[0]) {
    FontState state;
    uint32_t mask = 0;
    if (ParseFontSpec(value, nullptr, ctx->Item, &state, &mask) == 0) {
      t.MatchPattern = state;
      t.MatchMask = mask;
    }
  }
}

// Section titles and button labels take the font change too.
// The parts of the call's font change that the record at `node` (a run's
// text or a title) does not show yet: its colour record, when it has one,
// lies in its wrapping, after it.
uint32_t ChangeMaskAt(const RTRecordNode* node, uint32_t font, const RTProcessContext* ctx) {
  const RTRecordNode* color = nullptr;
  if (node && node->prev && node->prev->signature == kSigBegin)
    for (const RTRecordNode* n = node->next; n && n->signature != kSigEnd && !color; n = n->next)
      if (n->signature == kSigColor) color = n;
  FontState shown;
  RunFontState(font, color ? color->data : nullptr, color ? color->length : 0, ctx->Item, &shown);
  return FontChangeMask(shown, ctx->Font, ctx->FontMask);
}

NnStatus ChangeTitleFont(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                         RecordEmission* out) {
  const uint32_t offset = sig == kSigBar ? kBarFont : kButtonFont;
  uint32_t font = 0;
  if (!kv::cd::ReadU32(data, len, offset, &font)) return 0;
  EnsureMatchPattern(ctx);
  if (!FontMatches(&font, &ctx->TableText.MatchPattern, ctx->TableText.MatchMask)) return 0;
  ctx->SetRecordMet = 1;  // a section title or a button label shows the font
  const uint32_t mask = ChangeMaskAt(ctx->CurrentNode, font, ctx);
  if (!mask) return 0;
  if (mask & FONT_MASK_GRADIENT) return NN_ERR_INVALID_ARG;
  uint32_t color = 0;
  uint16_t highlight = 0;
  FontApplyChanges(&font, &color, &highlight, &ctx->Font, mask);
  SessionGlobals* g = ctx->Session->globals;
  g->fontColor = color;
  g->fontHighlight = highlight;
  const RTRecordNode* prev = RecordListPrev(ctx->Records, ctx->CurrentNode);
  if ((!color && !highlight) || (prev && prev->signature == kSigBegin)) {
    uint8_t* copy = PoolCopy(data, sig, len, ctx, out);
    if (!copy) return NN_ERR_MEMORY;
    Put32(copy, offset, font);
    return 0;
  }
  auto* copy = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, len, false));
  if (!copy) return NN_ERR_MEMORY;
  std::memcpy(copy, data, len);
  Put32(copy, offset, font);
  ComposeContext* c = &ctx->Compose;
  NnStatus st = EmitBeginRecord(sig, 0, c);
  if (st == 0) st = AppendRecord(copy, sig, len, c);
  if (st == 0) st = EmitRecord8(kSigColor, color & 0xFFFFFF, highlight, c);
  if (st == 0) st = EmitEndRecord(sig, 0, c);
  PoolFree(ctx->Session, copy);
  if (st == 0) out->length = 0;
  return st;
}

NnStatus ChangeRun(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                   RecordEmission* out) {
  TableTextOpsState& t = ctx->TableText;
  const uint16_t code = ctx->OperationCode;
  if (sig == kSigBegin) {
    if (BracketObject(data, len) == kSigText) {
      t.InTextWrap = 1;
      t.WrapMask = t.WrapColor = t.WrapHighlight = t.WrapColorMet = 0;
    }
    return 0;
  }
  if (sig == kSigEnd) {
    if (BracketObject(data, len) != kSigText) return 0;
    t.InTextWrap = 0;
    // A wrapping without a colour record takes one for what the font
    // identifier cannot hold: an RGB colour or a highlight.
    if (t.WrapMask && !t.WrapColorMet && t.WrapHighlight)
      return EmitRecord8(kSigColor, t.WrapColor, t.WrapHighlight, &ctx->Compose);
    return 0;
  }
  if (sig == kSigColor) {
    // The colour record of a wrapped run follows the change in the parts the
    // change names; the others (an RGB colour beside a new highlight, a
    // highlight beside a new colour, a gradient) stay as they are.
    if (!t.InTextWrap || len < 8) return 0;
    t.WrapColorMet = 1;
    if (!t.WrapMask) return 0;
    uint8_t* copy = PoolCopy(data, sig, len, ctx, out);
    if (!copy) return NN_ERR_MEMORY;
    uint16_t flags = U16(copy, len, 2);
    if (t.WrapMask & FONT_MASK_COLOR) {
      copy[4] = uint8_t(t.WrapColor);
      copy[5] = uint8_t(t.WrapColor >> 8);
      copy[6] = uint8_t(t.WrapColor >> 16);
      flags = uint16_t((flags & ~1u) | (t.WrapHighlight & 1u));
    }
    if (t.WrapMask & FONT_MASK_HIGHLIGHT)
      flags = uint16_t((flags & ~FONT_ALL_HIGHLIGHTS) | (t.WrapHighlight & FONT_ALL_HIGHLIGHTS));
    Put16(copy, 2, flags);
    return 0;
  }
  if (sig == kSigEffect) {
    if (code == 2373 || len < 8) return 0;
    ctx->SetRecordMet = 1;
    // The effect takes what of the change its run does not show yet: the
    // run's own font set again leaves both as they are.
    uint32_t mask = ctx->FontMask;
    const RTRecordNode* node = ctx->CurrentNode;
    if (code == 2363 && node && node->data == data) {
      const RTRecordNode* run = node->next && node->next->signature == kSigBegin ? node->next->next
                                                                                 : node->next;
      if (!run || run->signature != kSigText || run->length < h::kTextFixed) run = node;
      mask = ChangeMaskAt(run, U32(run->data, run->length, 4), ctx) & ~FONT_MASK_GRADIENT;
    }
    if (!mask) return 0;
    uint8_t* copy = PoolCopy(data, sig, len, ctx, out);
    if (!copy) return NN_ERR_MEMORY;
    uint32_t font = U32(copy, len, 4);
    FontApplyChanges(&font, nullptr, nullptr, &ctx->Font, mask);
    Put32(copy, 4, font);
    return 0;
  }
  if (sig == kSigText) {
    if (len < h::kTextFixed) return 0;
    ctx->SetRecordMet = 1;
    const uint32_t font = U32(data, len, h::kTextFont);
    uint32_t newFont = font, color = 0;
    uint16_t highlight = 0;
    // Only what the run does not show yet changes: its own font set again
    // leaves it as it is.
    const uint32_t mask = code == 2363 ? ChangeMaskAt(ctx->CurrentNode, font, ctx) : ctx->FontMask;
    // A gradient the run does not show yet is not written here: refused,
    // never dropped while the call succeeds.
    if (mask & FONT_MASK_GRADIENT) return NN_ERR_INVALID_ARG;
    FontApplyChanges(&newFont, &color, &highlight, &ctx->Font, mask);
    if (code == 2373)
      return HighlightMatches(data, len, font, newFont, color, highlight, ctx, out);
    if (t.InTextWrap) {
      t.WrapMask = mask & (FONT_MASK_COLOR | FONT_MASK_HIGHLIGHT);
      t.WrapColor = color & 0xFFFFFF;
      t.WrapHighlight = highlight;
    }
    if ((color || highlight) && !t.InTextWrap) {
      const char* text = reinterpret_cast<const char*>(data) + h::kTextFixed;
      NnStatus st = EmitChangedText(text, len - h::kTextFixed, newFont, color, highlight, ctx);
      if (st == 0) out->length = 0;
      return st;
    }
    uint8_t* copy = PoolCopy(data, sig, len, ctx, out);
    if (!copy) return NN_ERR_MEMORY;
    Put32(copy, h::kTextFont, newFont);
    return 0;
  }
  if ((sig == kSigBar || sig == kSigButton) && ctx->SubCode && code != 2373)
    return ChangeTitleFont(data, sig, len, ctx, out);
  return 0;
}

// ---- paragraphs ---------------------------------------------------------------------

// The definition with that identifier: searched backwards from `from`, then
// forwards; null when the item has none.
const RTRecordNode* FindDefinition(const RecordList* list, const RTRecordNode* from, uint16_t id) {
  for (const RTRecordNode* n = from; n; n = RecordListPrev(list, n))
    if (n->signature == kSigPab && n->length >= h::kPabFixed && U16(n->data, n->length, h::kPabId) == id)
      return n;
  for (const RTRecordNode* n = from; n; n = n->next)
    if (n->signature == kSigPab && n->length >= h::kPabFixed && U16(n->data, n->length, h::kPabId) == id)
      return n;
  return nullptr;
}

// Copies a definition into the zero-filled work copy, cut to its largest
// form (its length word says what was kept). False when it is too short.
bool CopyDefinition(const uint8_t* data, uint32_t len, uint8_t* work) {
  std::memset(work, 0, kPabFullLength);
  if (!data || len < h::kPabFixed) return false;
  const uint32_t n = len < kPabFullLength ? len : kPabFullLength;
  std::memcpy(work, data, n);
  Put16(work, 2, uint16_t(n));
  return true;
}

NnStatus ParagraphGet(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (ctx->TargetDone || (sig != kSigPabRef && sig != kSigPab)) return 0;
  uint8_t* work = ctx->TableText.ParagraphDefinition;
  std::memset(work, 0, kPabFullLength);
  if (sig == kSigPabRef) {
    const RTRecordNode* def = FindDefinition(ctx->Records, ctx->CurrentNode, U16(data, len, h::kPabReferenceId));
    if (def) CopyDefinition(def->data, def->length, work);
  } else {
    CopyDefinition(data, len, work);
  }
  FormatParagraphAttributes(0, work, ctx->Session->LinkText, ctx->Number1);
  ctx->TargetDone = 1;
  return 0;
}

// Saves the definition (work copy, old identifier) among the obsoleted
// ones; the new identifier, or 0 when the list is full. With `restore` the
// old definition also goes to the saved list, so that references after the
// target still find it. Running out of memory for that copy fails the call
// (*status), as the references after the target would lose their definition.
uint16_t SaveObsolete(RTProcessContext* ctx, const uint8_t* work, bool restore, NnStatus* status) {
  SessionGlobals* g = ctx->Session->globals;
  const uint32_t newId = uint32_t(ctx->NewParagraphId) + g->ObsoletedParagraphCount + 2;
  if (g->ObsoletedParagraphCount >= kMaxSavedParaDefs || newId > 0xFFFF) {
    LogMessage(ctx->Session, kObsoleteFull);
    return 0;
  }
  if (restore && g->savedParaDefCount < kMaxSavedParaDefs) {
    void* copy = POOL_ALLOC(ctx->Session, kParaDefCopySize, false);
    if (!copy) {
      *status = NN_ERR_MEMORY;
      return 0;
    }
    std::memcpy(copy, work, kParaDefCopySize);
    g->savedParaDefs[g->savedParaDefCount++] = copy;
  }
  std::memcpy(g->ObsoletedParagraphs[g->ObsoletedParagraphCount], work, kParaDefCopySize);
  ++g->ObsoletedParagraphCount;
  return uint16_t(newId);
}

// The requested change applied to a copy of `work`, into `changedDef`;
// false (with *status 0) when the paragraph already reads as asked, so that
// it keeps its definition and identifier.
bool ChangedDefinition(RTProcessContext* ctx, const uint8_t* work, uint8_t* changedDef,
                       NnStatus* status) {
  std::memcpy(changedDef, work, kPabFullLength);
  bool changed = false;
  *status = ApplyRequestedParagraph(ctx, changedDef, &changed);
  return *status == 0 && changed;
}

NnStatus ChangeParagraph(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                         RecordEmission* out) {
  TableTextOpsState& t = ctx->TableText;
  SessionGlobals* g = ctx->Session->globals;
  uint8_t* work = t.ParagraphDefinition;
  if (IsCell(sig)) {
    t.RememberedParagraphSet = 0;
    return 0;
  }
  if (sig == kSigPabRef) {
    if (len < 4 || !ctx->Chunk || ctx->Chunk->targetType == EVERYTHING) return 0;
    ctx->SetRecordMet = 1;  // the paragraph changes, or reads as asked already
    const uint16_t id = U16(data, len, h::kPabReferenceId);
    // 1. A reference to a definition this call replaced names its successor.
    for (uint16_t i = 0; i < g->ObsoletedParagraphCount && i < kMaxSavedParaDefs; ++i) {
      if (U16(g->ObsoletedParagraphs[i], kParaDefCopySize, h::kPabId) != id) continue;
      const uint32_t newId = uint32_t(ctx->NewParagraphId) + i + 2;
      if (newId > 0xFFFF) return 0;
      uint8_t* ref = t.Record;
      std::memcpy(ref, data, 4);
      Put16(ref, h::kPabReferenceId, uint16_t(newId));
      out->data = ref;
      out->signature = sig;
      out->length = 4;
      ctx->Item->modified = 1;
      return 0;
    }
    if (t.RememberedParagraphSet && t.RememberedParagraphId == id) return 0;
    // 2. The paragraph gets a definition of its own under a new identifier.
    const RTRecordNode* def = FindDefinition(ctx->Records, ctx->CurrentNode, id);
    if (!def || !CopyDefinition(def->data, def->length, work))
      CopyDefinition(ctx->Compose.defaultParagraphDefinition, kPabFullLength, work);
    Put16(work, h::kPabId, id);
    uint8_t changedDef[kPabFullLength];
    NnStatus st = 0;
    if (!ChangedDefinition(ctx, work, changedDef, &st)) return st;
    NnStatus saved = 0;
    const uint16_t newId = SaveObsolete(ctx, work, false, &saved);
    if (saved) return saved;
    std::memcpy(work, changedDef, kPabFullLength);
    ctx->Item->modified = 1;
    if (newId) {
      Put16(work, h::kPabId, newId);
      uint8_t* ref = t.Record;
      std::memcpy(ref, data, 4);
      Put16(ref, h::kPabReferenceId, newId);
      out->data = ref;
      out->signature = sig;
      out->length = 4;
    }
    // 3., 4.
    return AppendRecord(work, kSigPab, U16(work, kPabFullLength, 2), &ctx->Compose);
  }
  if (sig == kSigPab) {
    // 5.
    if (len > kPabFullLength || !CopyDefinition(data, len, work)) return 0;
    ctx->SetRecordMet = 1;
    const uint16_t id = U16(work, kPabFullLength, h::kPabId);
    t.RememberedParagraphId = id;
    t.RememberedParagraphSet = 1;
    ParagraphSpec* requested = &t.ParagraphChange;
    if (CompareParagraphDefinitions(work, requested->definition,
                                    uint32_t(requested->flagsSet) | uint32_t(requested->flagsClear) << 16,
                                    uint32_t(requested->flags2Set) | uint32_t(requested->flags2Clear) << 16,
                                    requested->given))
      return 0;
    uint8_t changedDef[kPabFullLength];
    NnStatus st = 0;
    if (!ChangedDefinition(ctx, work, changedDef, &st)) return st;
    NnStatus saved = 0;
    const uint16_t newId = SaveObsolete(ctx, work, true, &saved);
    if (saved) return saved;
    std::memcpy(work, changedDef, kPabFullLength);
    if (newId) Put16(work, h::kPabId, newId);
    ctx->Item->modified = 1;
    const uint16_t newLen = U16(work, kPabFullLength, 2);
    uint8_t* copy = t.Record;
    std::memcpy(copy, work, newLen);
    out->data = copy;
    out->signature = sig;
    out->length = newLen;
  }
  return 0;
}

void ExpandDefinition(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                      RecordEmission* out) {
  if (sig != kSigPab || len >= kPabFullLength || len < h::kPabFixed) return;
  uint8_t* work = ctx->TableText.ParagraphDefinition;
  std::memset(work, 0, kPabFullLength);
  std::memcpy(work, data, len);
  Put16(work, 2, uint16_t(kPabFullLength));
  Put32(work, kPabExtMoreFlags, 1);
  Put16(work, h::kPabFlags2, uint16_t(U16(work, kPabFullLength, h::kPabFlags2) | kPab2ExtraFlags));
  Put32(work, kPabExtExtraValues, 4);
  out->data = work;
  out->signature = sig;
  out->length = kPabFullLength;
  ctx->Item->modified = 1;
}

// ---- graphics --------------------------------------------------------------------

constexpr uint16_t kSigImageHeader = 125;
constexpr uint16_t kSigImageSegment = 124;
constexpr uint16_t kSigBitmapHeader = 149;
constexpr uint32_t kImageKind = 8;        // image header: 1 GIF, 2 JPEG, other PNG
constexpr uint32_t kSegmentDataSize = 8;  // image segment: bytes of data used
constexpr uint32_t kSegmentFixed = 12;

bool ContainsIgnoringCase(const std::string& text, const char* part) {
  std::string lower = text;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower.find(part) != std::string::npos;
}

// Writes the image data of the segments that follow the image header.
NnStatus ExportImageSegments(const RTRecordNode* header, const char* path) {
  std::string data;
  for (const RTRecordNode* n = header ? header->next : nullptr;
       n && n->signature == kSigImageSegment; n = n->next) {
    const uint16_t used = U16(n->data, n->length, kSegmentDataSize);
    if (n->length < kSegmentFixed || used > n->length - kSegmentFixed) return NN_ERR_CD_STRUCTURE;
    data.append(reinterpret_cast<const char*>(n->data) + kSegmentFixed, used);
  }
  if (data.empty()) return NN_ERR_CD_STRUCTURE;
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return NN_ERR_FILE_IO;
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok ? 0 : NN_ERR_FILE_IO;
}

NnStatus ExportGraphic(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (ctx->TargetDone || (sig != kSigImageHeader && sig != kSigBitmapHeader)) return 0;
  ctx->TargetDone = 1;
  LSXLsiSession* s = ctx->Session;
  std::string name = ctx->Text1 ? ctx->Text1 : "";
  NnStatus st = 0;
  if (sig == kSigImageHeader) {
    if (name.empty()) {
      name = ctx->Item->defaultExportName;
      std::string lower = name;
      for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
      const size_t cut = lower.find(".cd");
      if (cut != std::string::npos) name.resize(cut);
    }
    if (!ContainsIgnoringCase(name, ".gif") && !ContainsIgnoringCase(name, ".jpg") &&
        !ContainsIgnoringCase(name, ".jpeg") && !ContainsIgnoringCase(name, ".png")) {
      const uint16_t kind = U16(data, len, kImageKind);
      name += kind == 1 ? "gif" : kind == 2 ? "jpg" : "png";
    }
  }
  if (name.size() >= kTextBufferSize) return NN_ERR_MEMORY;
  std::memcpy(s->PropertyText, name.c_str(), name.size() + 1);
  if (sig == kSigImageHeader)
    st = ExportImageSegments(ctx->CurrentNode, s->PropertyText);
  else
    st = NN_ERR_INVALID_ARG;  // no bitmap converter in this library
  if (st == 0) s->PropertyText[0] = 0;
  return st;
}

bool GraphicRecord(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                   RecordEmission* /*out*/, NnStatus* status) {
  switch (ctx->OperationCode) {
    case 2367:
      *status = ExportGraphic(data, sig, len, ctx);
      return true;
    default:
      return false;
  }
}

// ---- 2387, 2388: text grouping removal ------------------------------------------------

// The BEGIN and END markers that group text runs (group type: the text
// record) go, and so does every colour record from the first of them on:
// the runs stay, plain.
void RemoveTextGrouping(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                        RecordEmission* out) {
  if (sig == kSigBegin || sig == kSigEnd) {
    if (BracketObject(data, len) != kSigText) return;
    out->length = 0;
    if (sig == kSigBegin) ctx->TargetDone = 1;
    ctx->Item->modified = 1;
    return;
  }
  if (sig == kSigColor && ctx->TargetDone) {
    out->length = 0;
    ctx->Item->modified = 1;
  }
}

// ---- the family ---------------------------------------------------------------------

bool Record(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx, RecordEmission* out,
            NnStatus* status) {
  switch (ctx->OperationCode) {
    case kStepFontGet:
      *status = FontGet(data, sig, len, ctx);
      return true;
    case kStepParagraphGet:
      *status = ParagraphGet(data, sig, len, ctx);
      return true;
    case kStepExpandPabDefs:
      ExpandDefinition(data, sig, len, ctx, out);
      return true;
    case 2363:
    case 2372:
    case 2373:
      *status = ChangeRun(data, sig, len, ctx, out);
      return true;
    case 2368:
      FontInUse(data, sig, len, ctx, out);
      return true;
    case 2364:
      *status = ChangeParagraph(data, sig, len, ctx, out);
      return true;
    case 2387:
    case 2388:
      RemoveTextGrouping(data, sig, len, ctx, out);
      *status = 0;
      return true;
    default:
      return GraphicRecord(data, sig, len, ctx, out, status);
  }
}

const OperationFamily kTextOps = {"text runs and paragraphs", Setup, nullptr, nullptr, Record,
                                  nullptr, nullptr};

}  // namespace

NnStatus ApplyRequestedParagraph(RTProcessContext* ctx, uint8_t* work, bool* changed) {
  *changed = false;
  ParagraphSpec* requested = &ctx->TableText.ParagraphChange;
  if (CompareParagraphDefinitions(work, requested->definition,
                                  uint32_t(requested->flagsSet) | uint32_t(requested->flagsClear) << 16,
                                  uint32_t(requested->flags2Set) | uint32_t(requested->flags2Clear) << 16,
                                  requested->given))
    return 0;
  // The builder writes into its request; each paragraph starts from the call's.
  auto* spec = new (std::nothrow) ParagraphSpec(*requested);
  if (!spec) return NN_ERR_MEMORY;
  uint8_t before[kPabFullLength];
  std::memcpy(before, work, sizeof before);
  NnStatus st = BuildParagraphDefinitionFromSpec(work, kPabFullLength, spec, 0, 0);
  delete spec;
  // A definition rebuilt to one that reads as it did is no change: the
  // paragraph keeps its record, whatever the builder would normalise.
  const uint16_t was = U16(before, kPabFullLength, 2), is = U16(work, kPabFullLength, 2);
  *changed = st == 0 && (was > kPabFullLength || is > kPabFullLength ||
                         FormatParagraphSpec(before, was) != FormatParagraphSpec(work, is));
  return st;
}

KV_REGISTER_OPERATION_FAMILY(kTextOps);
