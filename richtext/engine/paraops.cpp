// Paragraph steps that act where an element of the target begins: the
// hide-when formula of a paragraph the target starts inside (step 25),
// clearing the engine-built mark of a record
// (step 54), and the paragraph change of a paragraph the target starts
// inside (2364). The records of the target themselves are handled by the
// property and paragraph families; what is done here gives the paragraph a
// definition of its own before them, so that the part of the paragraph
// outside the target keeps its old one.
#include <cstring>
#include <new>

#include "host/logging.h"
#include "lsxsessi.h"
#include "render/render.h"
#include "richtext/compose/composeutil.h"
#include "richtext/compose/pabdef.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/tablerows.h"
#include "richtext/engine/textops.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/parastring.h"
#include "rtchunk.h"
#include "rtitem.h"

using namespace kv::compose;

namespace {

namespace h = kv::cd::host;
using kv::cd::U16;

constexpr uint16_t kSigText = 0xFF85;
constexpr uint16_t kSigPab = 0xFF82;
constexpr uint16_t kSigPabRef = 131;
constexpr uint16_t kSigParagraph = 129;
constexpr uint16_t kSigHide = 0xFFBB;
constexpr uint16_t kHideFormulaFlag = 0x0800;
constexpr uint32_t kHideFixed = 14;
constexpr const char* kObsoleteFull = "ZELKO: Unable to save additional obsoleted PAB definitions.";

using kv::tables::IsCell;
using kv::tables::IsTableBegin;

// Cells note their column and row for the current table level.
void RememberCell(const uint8_t* data, uint32_t len, RTProcessContext* ctx) {
  if (len < 4) return;
  int32_t level = ctx->TableBeginCount;
  if (level < 0) level = 0;
  if (level > int32_t(kMaxEngineTableDepth + 1)) level = int32_t(kMaxEngineTableDepth + 1);
  ctx->InsertCellColumn[level] = data[3];
  ctx->InsertCellRow[level] = data[2];
}

// The paragraph reference in force at the current record: the last one
// before it within its cell (null when a cell or the item's start comes first).
const RTRecordNode* ReferenceInForce(const RTProcessContext* ctx) {
  for (const RTRecordNode* n = ctx->CurrentNode ? ctx->CurrentNode->prev : nullptr; n; n = n->prev) {
    if (n->signature == kSigPabRef) return n;
    if (IsCell(n->signature) || IsTableBegin(n->signature)) break;
  }
  return nullptr;
}

// The definition the paragraph around the current record uses, copied into
// `work` (92 bytes, zero-filled): the one its last reference names, searched
// backwards then forwards; the composition's default when the paragraph has
// no reference of its own (a cell or the item's start comes first).
void CurrentDefinition(const RTProcessContext* ctx, uint8_t* work) {
  std::memset(work, 0, kPabFullLength);
  const RTRecordNode* ref = ReferenceInForce(ctx);
  const RTRecordNode* def = nullptr;
  if (ref && ref->length >= 4) {
    const uint16_t id = U16(ref->data, ref->length, h::kPabReferenceId);
    for (const RTRecordNode* n = ref; n && !def; n = n->prev)
      if (n->signature == kSigPab && n->length >= h::kPabFixed && U16(n->data, n->length, h::kPabId) == id)
        def = n;
    for (const RTRecordNode* n = ref; n && !def; n = n->next)
      if (n->signature == kSigPab && n->length >= h::kPabFixed && U16(n->data, n->length, h::kPabId) == id)
        def = n;
  }
  const uint8_t* from = def ? def->data : ctx->Compose.defaultParagraphDefinition;
  uint32_t n = def ? def->length : U16(from, kPabFullLength, 2);
  if (n < h::kPabFixed) n = h::kPabFixed;
  if (n > kPabFullLength) n = kPabFullLength;
  std::memcpy(work, from, n);
  const uint16_t sig = kSigPab, length = uint16_t(n);
  std::memcpy(work, &sig, 2);
  std::memcpy(work + 2, &length, 2);
}

uint16_t DefinitionLength(const uint8_t* work) { return U16(work, kPabFullLength, 2); }

// Removes the last record of the composition when it has that signature (and,
// for a text, is empty).
bool DropComposed(RTProcessContext* ctx, uint16_t sig) {
  RecordList* list = ctx->Compose.newList;
  RTRecordNode* last = list ? list->last : nullptr;
  if (!last || last->signature != sig) return false;
  if (sig == kSigText && last->length != h::kTextFixed) return false;
  RecordListUnlink(ctx->Session, list, last);
  if (ctx->Compose.composedCount) --ctx->Compose.composedCount;
  return true;
}

// ---- step 25: the hide-when formula ------------------------------------------------

// The compiled formula: the call's text, else the session's result text.
const uint8_t* Formula(const RTProcessContext* ctx, uint32_t* n) {
  if (ctx->Text1) {
    *n = ctx->Number1 < kResultTextSize ? ctx->Number1 : kResultTextSize;
    return reinterpret_cast<const uint8_t*>(ctx->Text1);
  }
  *n = ctx->Session->ResultTextLength;
  return reinterpret_cast<const uint8_t*>(ctx->Session->ResultText);
}

// The next new paragraph identifier of the walk (the property family counts
// from the item's highest identifier; the same counter keeps them apart).
uint16_t NextHideId(RTProcessContext* ctx) {
  if (!ctx->PropNextId) {
    uint16_t highest = 0;
    for (const RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr; n; n = n->next)
      if (n->signature == kSigPab) {
        const uint16_t id = U16(n->data, n->length, h::kPabId);
        if (id > highest) highest = id;
      }
    const uint32_t next = uint32_t(highest) + ctx->Session->globals->ObsoletedParagraphCount + 2;
    ctx->PropNextId = uint16_t(next > 0xFFFF ? 0xFFFF : next);
  }
  const uint16_t id = ctx->PropNextId;
  if (ctx->PropNextId < 0xFFFF) ++ctx->PropNextId;
  return id;
}

// The hide-when record of the paragraph the current record lies in; null
// when that paragraph has no formula.
const RTRecordNode* HideRecordInForce(const RTProcessContext* ctx) {
  const RTRecordNode* ref = ReferenceInForce(ctx);
  if (!ref || ref->length < 4) return nullptr;
  const uint16_t id = U16(ref->data, ref->length, h::kPabReferenceId);
  for (const RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr; n; n = n->next)
    if (n->signature == kSigHide && n->length >= kHideFixed && U16(n->data, n->length, 4) == id)
      return n;
  return nullptr;
}

NnStatus HideAtTarget(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (IsCell(sig)) {
    RememberCell(data, len, ctx);
    return 0;
  }
  // A paragraph start, a definition or a reference is the paragraph's own
  // beginning: the record block gives it its formula.
  if (sig == kSigParagraph || sig == kSigPab || sig == kSigPabRef || !ctx->WriteMode) return 0;
  uint32_t n = 0;
  const uint8_t* formula = Formula(ctx, &n);
  if (!n) {
    // No formula for a paragraph without one is what it holds already;
    // one it has stays, as the target is only part of it.
    if (!HideRecordInForce(ctx)) ctx->SetRecordMet = 1;
    return 0;
  }
  // A compiled formula cut short would be a different formula: refused.
  const uint32_t hideLength = (n + kHideFixed + 1) & ~1u;
  if (hideLength > kMaxRecordLength) return NN_ERR_INVALID_ARG;
  // A hotspot starting here would leave the empty paragraph the insertion
  // before it composed; the new reference takes its place.
  if (sig == 0xFFA9 || sig == 0xFFAD) {
    if (DropComposed(ctx, kSigText)) DropComposed(ctx, kSigPabRef);
  }
  uint8_t work[kPabFullLength];
  CurrentDefinition(ctx, work);
  const uint16_t id = NextHideId(ctx);
  PutU16(work, h::kPabId, id);
  PutU16(work, h::kPabFlags, uint16_t(U16(work, kPabFullLength, h::kPabFlags) | kHideFormulaFlag));
  RecordBuffer hide(ctx->Session, hideLength);
  if (!hide.ok()) return NN_ERR_MEMORY;
  PutU16(hide.data(), 0, kSigHide);
  PutU16(hide.data(), 2, uint16_t(hideLength));
  PutU16(hide.data(), 4, id);
  std::memcpy(hide.data() + kHideFixed, formula, n);
  NnStatus st = AppendRecord(work, kSigPab, DefinitionLength(work), &ctx->Compose);
  if (st == 0) st = AppendRecord(hide.data(), kSigHide, hideLength, &ctx->Compose);
  uint8_t ref[4] = {uint8_t(kSigPabRef), 4, 0, 0};
  PutU16(ref, 2, id);
  if (st == 0) st = AppendRecord(ref, kSigPabRef, sizeof ref, &ctx->Compose);
  if (st == 0) st = EmitEmptyText(ctx);
  if (st) return st;
  // References later in the target point at this formula instead of
  // writing another.
  ctx->PropHideWritten = 1;
  ctx->PropFormulaHolder = id;
  ctx->SetRecordMet = 1;
  ctx->Item->modified = 1;
  ctx->Item->changed = 1;
  return 0;
}

// Step 24 where the target starts inside a paragraph (a picture, a field, a
// run of text): the formula is the paragraph's, which step 25 writes in
// front of the target, so the value set is the value read.
NnStatus HideFormulaOfParagraph(uint16_t sig, RTProcessContext* ctx) {
  if (ctx->TargetDone || sig == kSigParagraph || sig == kSigPab || sig == kSigPabRef ||
      sig == kSigHide || IsCell(sig))
    return 0;
  if (const RTRecordNode* n = HideRecordInForce(ctx)) {
    ctx->Session->SetResultText(reinterpret_cast<const char*>(n->data) + kHideFixed,
                                n->length - kHideFixed);
    ctx->TargetDone = 1;
  }
  return 0;
}

// ---- 2364: the paragraph change where the target begins -----------------------------

// True when `sig` is a pass-through marker that the paragraph's own start,
// definition or reference follows: those records take the change, and the
// definition in force before them is another paragraph's.
bool MarksParagraphAhead(uint16_t sig, const RTRecordNode* node) {
  constexpr uint16_t kSigHtmlBegin = 0xFFCC, kSigHtmlEnd = 0xFFCD;
  if (sig != kSigHtmlBegin && sig != kSigHtmlEnd) return false;
  for (const RTRecordNode* n = node ? node->next : nullptr; n; n = n->next) {
    if (n->signature == kSigHtmlBegin || n->signature == kSigHtmlEnd) continue;
    return n->signature == kSigParagraph || n->signature == kSigPab ||
           n->signature == kSigPabRef;
  }
  return false;
}

// Between a table's begin and its first cell nothing is shown, and nothing
// is written there.
bool InTableHead(const RTRecordNode* node) {
  for (const RTRecordNode* n = node ? node->prev : nullptr; n; n = n->prev) {
    if (IsTableBegin(n->signature)) return true;
    if (IsCell(n->signature) || kv::tables::IsTableEnd(n->signature)) return false;
  }
  return false;
}

NnStatus ApplyChange(RTProcessContext* ctx, uint8_t* work, bool* changed) {
  const uint16_t id = U16(work, kPabFullLength, h::kPabId);
  NnStatus st = ApplyRequestedParagraph(ctx, work, changed);
  if (st || !*changed) return st;
  PutU16(work, h::kPabId, id);
  uint16_t n = DefinitionLength(work);
  if (n < h::kPabFixed || n > kPabFullLength) PutU16(work, 2, uint16_t(kPabFullLength));
  return 0;
}

NnStatus ChangeAtTarget(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (IsCell(sig)) {
    RememberCell(data, len, ctx);
    return 0;
  }
  if (!ctx->Chunk || ctx->Chunk->targetType == EVERYTHING || !ctx->WriteMode) return 0;
  if (sig == kSigPab || sig == kSigPabRef || sig == kSigParagraph) return 0;
  if (MarksParagraphAhead(sig, ctx->CurrentNode)) return 0;
  // A table's paragraphs are its cells', which the record handler changes: a
  // definition written in front of the table would be a paragraph of its own.
  const uint16_t table = sig == 221 ? U16(data, len, 4) : sig;
  if (IsTableBegin(table) || table == 0xFFFB || InTableHead(ctx->CurrentNode)) return 0;
  SessionGlobals* g = ctx->Session->globals;
  const uint32_t newId = uint32_t(ctx->NewParagraphId) + g->ObsoletedParagraphCount + 2;
  if (g->ObsoletedParagraphCount >= kMaxSavedParaDefs || newId > 0xFFFF) {
    // Without a saved copy the old identifier cannot be told from the new
    // one: the paragraph keeps its definition rather than changing the
    // paragraphs outside the target that share it.
    LogMessage(ctx->Session, kObsoleteFull);
    return 0;
  }
  uint8_t work[kPabFullLength];
  CurrentDefinition(ctx, work);
  uint8_t saved[kPabFullLength];
  std::memcpy(saved, work, sizeof saved);
  PutU16(work, h::kPabId, uint16_t(newId));
  bool changed = false;
  NnStatus st = ApplyChange(ctx, work, &changed);
  if (st == 0) ctx->SetRecordMet = 1;
  // A paragraph that already reads as asked keeps its definition.
  if (st == 0 && !changed) return 0;
  if (st == 0) st = AppendRecord(work, kSigPab, DefinitionLength(work), &ctx->Compose);
  uint8_t ref[4] = {uint8_t(kSigPabRef), 4, 0, 0};
  PutU16(ref, 2, uint16_t(newId));
  if (st == 0) st = AppendRecord(ref, kSigPabRef, sizeof ref, &ctx->Compose);
  if (st) return st;
  // The old definition joins the obsoleted ones: references to it inside the
  // target are renumbered to the new identifier by the record block.
  std::memcpy(g->ObsoletedParagraphs[g->ObsoletedParagraphCount], saved, kParaDefCopySize);
  ++g->ObsoletedParagraphCount;
  ctx->Item->modified = 1;
  return 0;
}

bool AtTarget(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx, NnStatus* status) {
  switch (ctx->OperationCode) {
    case 24:
      *status = HideFormulaOfParagraph(sig, ctx);
      return true;
    case 25:
      *status = HideAtTarget(data, sig, len, ctx);
      return true;
    case 54:
      if (ctx->CurrentNode) ctx->CurrentNode->flags &= uint16_t(~kNodeBuiltByEngine);
      *status = 0;
      return true;
    case 2364:
      *status = ChangeAtTarget(data, sig, len, ctx);
      return true;
    default:
      return false;
  }
}

const OperationFamily kParagraphSteps = {"paragraph steps at the target", nullptr, nullptr,
                                         AtTarget, nullptr, nullptr, nullptr};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kParagraphSteps);
