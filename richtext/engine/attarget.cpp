// Where an element of the target begins: the run of untouched records before
// it is written out, then what the operation does at that position.
#include <cstring>

#include "host/pool.h"
#include "host/sortcmp.h"
#include "lsxsessi.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/opfamily.h"
#include "rtchunk.h"

namespace {

// Step 2: one more position entry, its range starting at this record.
NnStatus AddPositionEntry(RTProcessContext* ctx) {
  if (ctx->PositionCount == UINT16_MAX) return NN_ERR_MEMORY;
  size_t count = size_t(ctx->PositionCount) + 1;
  auto* grown = static_cast<kv::SortKeyEntry*>(
      POOL_ALLOC(ctx->Session, count * sizeof(kv::SortKeyEntry), true));
  if (!grown) return NN_ERR_MEMORY;
  if (ctx->Positions) {
    std::memcpy(grown, ctx->Positions, ctx->PositionCount * sizeof(kv::SortKeyEntry));
    PoolFree(ctx->Session, ctx->Positions);
  }
  kv::SortKeyEntry& e = grown[ctx->PositionCount];
  e.firstRecord = ctx->RecordNumber;
  e.lastRecord = ctx->RecordNumber;
  e.keyText = nullptr;
  e.keyLength = 0;
  e.reserved = 0;
  e.originalIndex = ctx->PositionCount;
  ctx->Positions = grown;
  ctx->PositionCount = uint16_t(count);
  ctx->TargetDone = 0;
  return 0;
}

bool IsParagraphHead(uint16_t s) { return s == 0xFF82 || s == 131 || s == 0xFFBB || s == 166; }

// The record a paragraph inserted in front of the target goes before: the
// target's first record, or, when the target is the first content of its
// paragraph, that paragraph's start. The paragraph's head (its start,
// definition, reference, hide formula and style name) then stays with its
// content, and the new paragraph stands before it whole. Only records not
// yet written can be moved behind the new one.
RTRecordNode* ParagraphInsertionPlace(RTProcessContext* ctx) {
  RTRecordNode* at = ctx->CurrentNode;
  if (ctx->OperationCode != 2417 || !at || !ctx->Chunk || ctx->Chunk->insertPosition != 0 ||
      at->signature == 129 || IsParagraphHead(at->signature))
    return at;
  RTRecordNode* head = at;
  RTRecordNode* n = at->prev;
  for (; n && IsParagraphHead(n->signature); n = n->prev) head = n;
  if (n && n->signature == 129) head = n;
  else if (n) return at;  // content precedes: the target lies within its paragraph
  if (head == at || !ctx->PendingRunStart || ctx->PendingRunStart > head->sequence) return at;
  return head;
}

}  // namespace

NnStatus ApplyOperationAtTarget(uint8_t* data, uint16_t signature, uint32_t length,
                                RTProcessContext* ctx) {
  // 1.
  ctx->AtTarget = 1;
  ctx->TargetReached = 1;
  // 2. Records before the target, or before the place a paragraph goes, are
  // copied before anything is inserted.
  RTRecordNode* place = ctx->WriteMode ? ParagraphInsertionPlace(ctx) : ctx->CurrentNode;
  const uint32_t placeNumber = place && place != ctx->CurrentNode ? place->sequence
                                                                  : ctx->RecordNumber;
  ctx->InsertionPlace = place;
  if (ctx->WriteMode && ctx->PendingRunStart && ctx->PendingRunStart < placeNumber) {
    NnStatus st = FlushPendingRun(ctx, placeNumber);
    if (st) return st;
  }
  if (placeNumber != ctx->RecordNumber) {
    // The paragraph's head waits behind the new paragraph.
    ctx->PendingRunStart = placeNumber;
    ctx->PendingRunNode = place;
    NnStatus st = 0;
    FamilyAtTarget(data, signature, length, ctx, &st);
    if (st == 0) st = FlushPendingRun(ctx, ctx->RecordNumber);
    return st;
  }
  // 3.
  switch (ctx->OperationCode) {
    case STEP_LOCATE:
      if (ctx->SubCode == PROP_EXISTS && ctx->Chunk) ctx->Chunk->lastStatus = NN_ERR_READONLY_DONE;
      return 0;
    case STEP_POSITIONS:
      return AddPositionEntry(ctx);
    // The insertions (2351 to 2448), the paragraph steps (25, 42, 47, 48, 54)
    // and the cell queries (2601 to 2603) act here with their families.
    default: {
      NnStatus st = 0;
      FamilyAtTarget(data, signature, length, ctx, &st);
      return st;
    }
  }
}
