// The record walk: nesting bookkeeping, the chunk's definition nodes moved
// through record by record, and the two tests (does a record start an element
// of a node's target type, does it end one) that decide where the target lies.
#include <strings.h>

#include <atomic>
#include <cstring>

#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/tablerows.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kSigText = 0xFF85;
constexpr uint16_t kSigBidiText = 0xFFE4;
constexpr uint16_t kSigTextEffect = 0xFFC3;
constexpr uint16_t kSigBidiTextEffect = 0xFFE5;
constexpr uint16_t kSigBegin = 221;
constexpr uint16_t kSigEnd = 222;
constexpr uint16_t kSigPab = 0xFF82;
constexpr uint16_t kSigPabRef = 131;
constexpr uint16_t kSigParagraph = 129;
constexpr uint16_t kSigPreTable = 0xFFFB;
constexpr uint16_t kSigLargeParagraph = 0xFF68;

// Set by the program and read by every session's walks, in any thread.
std::atomic<ChunkProgressCallback> gProgressCallback{nullptr};

using kv::cd::U16;
using kv::cd::U32;
using kv::cd::U8;

bool IsTextRecord(uint16_t sig) { return sig == kSigText || sig == kSigBidiText; }
using kv::tables::IsCell;
using kv::tables::IsTableBegin;
using kv::tables::IsTableEnd;
bool IsHotspotStart(uint16_t sig) {
  return sig == 0xFF74 || sig == 0xFF7E || sig == 0xFFA9 || sig == 0xFFAD;
}
bool IsHotspotEndSig(uint16_t sig) { return sig == 0x7F || sig == 0xAA || sig == 0xAE; }
bool IsParagraphType(uint16_t type) { return type == PARAGRAPH || type == PARAGRAPHLIST; }
// The records a paragraph opens with before its reference: its start, its
// definition, the definition's hide formula and style name, and the layout
// objects that stored forms anchor right after a paragraph start (183, 184,
// 186, 192, 194). A definition or reference right after one of them belongs
// to that paragraph: it starts none, and a reference ends none.
bool LeadsIntoReference(uint16_t prev) {
  switch (prev) {
    case kSigParagraph: case kSigPab: case 0xFFBB: case 166:
    case 183: case 184: case 186: case 192: case 194:
      return true;
    default:
      return false;
  }
}
bool IsRowOrColumn(const chunkdef_info* n) {
  return n && (n->targetType == ROW || n->targetType == COLUMN);
}
bool IsTextType(uint16_t type) {
  return type == TEXT || type == STYLIZEDTEXT || type == XML || type == HTML || type == XHTML ||
         type == NONBLANKTEXT || type == DELIMITEDHTML;
}

bool InList(uint16_t sig, const uint16_t* list, size_t n) {
  if (sig == 0) return false;
  for (size_t i = 0; i < n; ++i)
    if (list[i] == sig) return true;
  return false;
}

// The object a BEGIN or END record names (0 when the record is too short).
uint16_t BeginObject(const uint8_t* data, uint32_t len) { return U16(data, len, 4); }

const TargetTypeDescriptor* Descriptor(const chunkdef_info* node) {
  if (!node || node->targetType == 0 || node->targetType >= kTargetTypeCount) return nullptr;
  return &TargetTypeDescriptors[node->targetType];
}

bool QualifiesOccurrence(const chunkdef_info* node, uint32_t number) {
  if (node->probeFrom) {
    node->probeTested = 1;
    if (number >= node->probeFrom) node->probeHit = 1;
  }
  if (node->occurrenceCount == 0) return true;
  uint32_t n = node->occurrenceCount < kMaxOccurrences ? node->occurrenceCount : kMaxOccurrences;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t first = node->occurrences[i];
    uint32_t last = node->rangeEnds[i];
    if (number == first) return true;
    if (last > first && number >= first && number <= last) return true;
  }
  return false;
}

// Case-insensitive byte compare of n bytes.
bool SameIgnoringCase(const char* a, const char* b, size_t n) {
  return n == 0 || strncasecmp(a, b, n) == 0;
}
bool ContainsIgnoringCase(const char* text, size_t textLen, const char* pat, size_t patLen) {
  if (patLen == 0) return true;
  for (size_t i = 0; i + patLen <= textLen; ++i)
    if (strncasecmp(text + i, pat, patLen) == 0) return true;
  return false;
}

// The paragraph definition (0xFF82) that governs the paragraph at `node`:
// forward to the paragraph reference, back to the definition of its id.
const RTRecordNode* FindParagraphDefinition(const RTRecordNode* node) {
  if (!node) return nullptr;
  if (node->signature == kSigPab) return node;
  const RTRecordNode* ref = node;
  while (ref && ref->signature != kSigPabRef) ref = ref->next;
  if (!ref) return nullptr;
  uint16_t id = U16(ref->data, ref->length, 2);
  for (const RTRecordNode* p = ref; p; p = p->prev)
    if (p->signature == kSigPab && U16(p->data, p->length, 4) == id) return p;
  return nullptr;
}

uint16_t ParagraphFlags(const RTRecordNode* def) {
  return def ? U16(def->data, def->length, kv::cd::host::kPabFlags) : 0;
}

// Compares the six-string attribute record's ID (mode 6) or Name (mode 7).
bool AttributeMatches(const RTRecordNode* rec, const chunkdef_info* node) {
  const uint8_t* d = rec->data;
  uint32_t len = rec->length;
  uint32_t lens[6];
  for (int i = 0; i < 6; ++i) {
    uint16_t v = 0;
    if (!kv::cd::ReadU16(d, len, 4 + 2 * i, &v)) return false;
    lens[i] = v;
  }
  uint32_t off = 26, want = 0;
  if (node->matchMode == MATCH_NAME) {
    for (int i = 0; i < 5; ++i) off += lens[i];
    want = lens[5];
  } else {
    want = lens[0];
  }
  if (off > len || want > len - off) return false;
  size_t patLen = std::strlen(node->matchText);
  return patLen == want && std::memcmp(d + off, node->matchText, want) == 0;
}

int MatchAttributeForward(const chunkdef_info* node, const RTRecordNode* from) {
  for (const RTRecordNode* p = from; p; p = p->next) {
    uint16_t s = p->signature;
    if (p != from && (s == 209 || s == 165 || s == kSigEnd)) return 0;
    if (s == 0xFF7B || s == 0xFF7A) return AttributeMatches(p, node) ? 1 : 0;
    if (node->targetType == TABLE && s == kSigPreTable) {
      uint16_t nameLen = U16(p->data, p->length, 42);
      if (nameLen) {
        if (48u + nameLen > p->length) return 0;
        size_t patLen = std::strlen(node->matchText);
        return patLen == nameLen && std::memcmp(p->data + 48, node->matchText, nameLen) == 0;
      }
    }
    if (s == 209 || s == 165 || s == kSigEnd) return 0;
  }
  return 0;
}

// The element's first text record for the text comparisons.
const RTRecordNode* ElementText(const chunkdef_info* node, const RTRecordNode* examined) {
  if (!examined) return nullptr;
  if (node->targetType != TEXT && node->matchText && node->matchMode >= MATCH_TEXT &&
      node->matchMode <= MATCH_SUBSTR) {
    for (const RTRecordNode* p = examined; p; p = p->next)
      if (p->signature == kSigText && p->length > kv::cd::host::kTextFixed) return p;
    return nullptr;
  }
  if (IsTextRecord(examined->signature)) return examined;
  for (const RTRecordNode* p = examined->next; p; p = p->next)
    if (IsTextRecord(p->signature)) return p;
  return nullptr;
}

bool TextMatches(const chunkdef_info* node, const TargetTypeDescriptor* d,
                 const RTRecordNode* textNode) {
  if (!textNode || textNode->length < kv::cd::host::kTextFixed) return false;
  const char* text = reinterpret_cast<const char*>(textNode->data) + kv::cd::host::kTextFixed;
  size_t textLen = textNode->length - kv::cd::host::kTextFixed;
  uint16_t mode = node->matchMode;
  if (node->matchText && mode >= MATCH_TEXT && mode <= MATCH_SUBSTR) {
    size_t patLen = std::strlen(node->matchText);
    if (textLen < patLen) return false;
    switch (mode) {
      case MATCH_TEXT:
        return textLen == patLen && SameIgnoringCase(text, node->matchText, patLen);
      case MATCH_STARTS:
        return SameIgnoringCase(text, node->matchText, patLen);
      case MATCH_ENDS:
        return SameIgnoringCase(text + textLen - patLen, node->matchText, patLen);
      default:
        return ContainsIgnoringCase(text, textLen, node->matchText, patLen);
    }
  }
  if (d->leadText) {
    size_t leadLen = std::strlen(d->leadText);
    return textLen >= leadLen && SameIgnoringCase(text, d->leadText, leadLen);
  }
  return true;
}

// Does `text` (a text record) end, ignoring case, with the closing text?
bool EndsWithText(const uint8_t* data, uint32_t len, const char* closing) {
  if (!closing || len < kv::cd::host::kTextFixed) return false;
  size_t n = std::strlen(closing);
  size_t textLen = len - kv::cd::host::kTextFixed;
  if (n == 0 || textLen < n) return false;
  return SameIgnoringCase(reinterpret_cast<const char*>(data) + len - n, closing, n);
}

bool IsHeadRecord(const RTRecordNode* p, const TargetTypeDescriptor* d) {
  const uint16_t obj = p->signature == kSigBegin || p->signature == kSigEnd
                           ? BeginObject(p->data, p->length)
                           : 0;
  return InList(p->signature, d->insideEndSignatures, 7) ||
         InList(obj, d->insideEndSignatures, 7);
}

// The record that closes the element whose head is `head` (a BEGIN, or the
// start record itself) and whose start record is `start`: a hotspot's end
// (within its group, else the group's END), the END of another group, the
// record that ends a range element or a closing text; for an element of one
// record (or one run of text) the record after it. Null: the list's end.
const RTRecordNode* ElementClose(const chunkdef_info* node, const TargetTypeDescriptor* d,
                                 const RTRecordNode* head, const RTRecordNode* start) {
  // The record list's finders take the nodes they walk from as they are.
  auto* s = const_cast<RTRecordNode*>(start);
  if (head->signature == kSigBegin) {
    const RTRecordNode* end = RecordGroupEnd(const_cast<RTRecordNode*>(head));
    if (IsHotspotStart(start->signature)) {
      const RTRecordNode* own = RecordHotspotEnd(s);
      for (const RTRecordNode* q = start; own && q && q != end; q = q->next)
        if (q == own) return own;
    }
    return end;
  }
  if (IsHotspotStart(start->signature)) return RecordHotspotEnd(s);
  if (d->closeText) {
    for (const RTRecordNode* p = start; p; p = p->next)
      if (IsTextRecord(p->signature) && (EndsWithText(p->data, p->length, d->closeText) ||
                                         EndsWithText(p->data, p->length, d->closeText2)))
        return p;
    return nullptr;
  }
  if (IsTextType(node->targetType) || node->targetType == RAWTEXT ||
      InList(start->signature, d->endSignatures, 5))
    return start->next;
  for (const RTRecordNode* p = start->next; p; p = p->next) {
    const uint16_t obj = p->signature == kSigEnd ? BeginObject(p->data, p->length) : 0;
    if (InList(p->signature, d->endSignatures, 5) || InList(obj, d->endSignatures, 5)) return p;
  }
  return nullptr;
}

// The stretch inside the element met at the walk's current record (its
// head): from the first record after the head (the start record, and what
// follows it of the row's Inside end signatures, such as a section's title)
// to the record before the one that closes the element. An element with
// nothing there has no inside. Tables, rows, cells, OLE objects and
// paragraphs are left to the walk's own tests, which keep to them.
void MarkInsideStretch(chunkdef_info* node, const TargetTypeDescriptor* d,
                       const RTRecordNode* head, const RTRecordNode* start,
                       const RTProcessContext* ctx) {
  switch (node->targetType) {
    case TABLE: case ROW: case COLUMN: case OLEOBJECT: case PARAGRAPH: case PARAGRAPHLIST:
      return;
    default:
      break;
  }
  if (!head || !start) return;
  const RTRecordNode* close = ElementClose(node, d, head, start);
  uint32_t at = ctx->RecordNumber;
  const RTRecordNode* p = head;
  for (; p && p != start; p = p->next) ++at;
  if (!p) return;
  // Past the start record and the head's records after it; a group they
  // open belongs to the head whole.
  p = p->next;
  ++at;
  while (p && p != close && IsHeadRecord(p, d)) {
    const RTRecordNode* last =
        p->signature == kSigBegin ? RecordGroupEnd(const_cast<RTRecordNode*>(p)) : p;
    for (; p && p != close && p != last; p = p->next) ++at;
    if (p && p == last) {
      p = p->next;
      ++at;
    }
  }
  node->insideFirst = at;
  for (; p && p != close; p = p->next) ++at;
  node->insideClose = at;
}

// An INSIDE node whose element closes at or before this record, from `n`
// outward: what lies within it has ended too.
chunkdef_info* ClosedInside(chunkdef_info* n, const RTProcessContext* ctx) {
  for (; n; n = n->outer)
    if (n->relation == REL_INSIDE && n->insideClose && ctx->RecordNumber >= n->insideClose)
      return n;
  return nullptr;
}

// Has the hotspot that an element (not itself a hotspot) began in ended at
// this record? Its depth fell below the element's, or, in a group of a
// hotspot whose end does not lower the depth, this is the hotspot end that
// the group's END follows.
bool LeftItsHotspot(const chunkdef_info* n, uint16_t sig, const RTProcessContext* ctx) {
  const TargetTypeDescriptor* d = Descriptor(n);
  if (!d || IsHotspotStart(d->startSignatures[0]) || n->savedHotspotDepth == 0) return false;
  if (ctx->HotspotDepth < int32_t(n->savedHotspotDepth)) return true;
  const RTRecordNode* next = ctx->CurrentNode ? ctx->CurrentNode->next : nullptr;
  return IsHotspotEndSig(sig) && next && next->signature == kSigEnd &&
         IsHotspotEndSig(BeginObject(next->data, next->length)) &&
         ctx->OpenSignatureDepth == int32_t(n->savedBeginDepth) &&
         InnermostOpenObject(ctx) == 0xFFAD;
}

// Snapshot, advance inward. The counter of the inner node restarts for each
// element of this one.
void SnapshotDepths(chunkdef_info* node, const RTProcessContext* ctx) {
  node->savedHotspotDepth = uint32_t(ctx->HotspotDepth);
  node->savedLayerDepth = uint32_t(ctx->LayerDepth);
  node->savedTableDepth = uint32_t(ctx->TableBeginCount);
  node->savedFlagFF68 = ctx->FlagFF68;
  node->savedBeginDepth = uint32_t(ctx->OpenSignatureDepth);
}

void SatisfyNode(chunkdef_info* node, RTProcessContext* ctx) {
  // An inside keeps the level of its element's head: its first record may
  // open a group or hotspot of its own (a paragraph's first record).
  if (node->relation != REL_INSIDE || !node->inside) SnapshotDepths(node, ctx);
  node->satisfied = 0;
  node->inside = 0;
  ctx->LastMatchedNode = node;
  ctx->NodeUnderTest = node->inner;
  if (node->inner) node->inner->runningCount = 0;
  ++ctx->SatisfiedThisRecord;
}

enum class LoopResult { Continue, Done };

bool AtElementLevel(const chunkdef_info* lm, const uint8_t* data, uint16_t sig, uint32_t len,
                    const RTProcessContext* ctx);

// The node loop of the dispatcher. Returns Done (with *status) when the record
// was a complete single-record target and went through all three handlers.
LoopResult RunNodeLoop(uint8_t* data, uint16_t sig, uint32_t len, uint16_t prev,
                       RTProcessContext* ctx, NnStatus* status) {
  *status = 0;
  for (;;) {
    chunkdef_info* node = ctx->NodeUnderTest;
    if (!node || node->satisfied) return LoopResult::Continue;
    uint32_t single = 0;
    switch (node->relation) {
      case REL_EVERYTHING:
      case REL_ENDS_WITH:
        SatisfyNode(node, ctx);
        if (IsRowOrColumn(node->inner)) SatisfyNode(node->inner, ctx);
        continue;
      case REL_BEFORE:
        if ((node->targetType == RECORD || IsParagraphType(node->targetType)) &&
            node->occurrenceCount >= 1 && node->occurrences[0] == 1)
          return LoopResult::Continue;  // nothing lies before the first
        SatisfyNode(node, ctx);
        if (IsRowOrColumn(node->inner)) SatisfyNode(node->inner, ctx);
        continue;
      case REL_CONTAINS:
      case REL_INSIDE: {
        // The record that closes an enclosing element's inside starts
        // nothing within it.
        if (ClosedInside(node->outer, ctx)) return LoopResult::Continue;
        if (!TestChunkRecordBoundary(node, data, sig, prev, &single, ctx)) {
          if (IsCell(sig) && IsRowOrColumn(node) && IsRowOrColumn(ctx->LastMatchedNode)) {
            ctx->NodeUnderTest = node->outer;
            ctx->LastMatchedNode = node->outer ? node->outer->outer : nullptr;
          }
          return LoopResult::Continue;
        }
        if (single && !node->inner && !ctx->ElementActionPending) {
          ctx->ElementActionPending = 1;
          ctx->EndingRecordOutside = 0;
          NnStatus st = ApplyOperationAtTarget(data, sig, len, ctx);
          if (st == 0) st = ApplyOperationToRecord(data, sig, len, ctx);
          if (st == 0) st = ApplyChunkElementAction(data, sig, len, ctx);
          ctx->RecordHandled = 1;
          ctx->ElementActionPending = 0;
          if (ctx->Chunk && ctx->Chunk->stopSwitch) ctx->StopRequested = 1;
          *status = st;
          return LoopResult::Done;
        }
        SatisfyNode(node, ctx);
        continue;
      }
      case REL_OUTSIDE:
        if (node->inside) {
          // Within the excluded element: the range resumes only after its end.
          uint32_t counted = 0, outside = 0;
          if (!AtElementLevel(node, data, sig, len, ctx) ||
              !MatchRecordToTarget(node, data, sig, prev, &counted, &outside, 0, ctx))
            return LoopResult::Continue;
          node->inside = 0;
          if (!outside) return LoopResult::Continue;  // its last record is still the element's
        }
        if (TestChunkRecordBoundary(node, data, sig, prev, &single, ctx)) {
          // A single-record element skips exactly this record; a longer one
          // keeps the range closed until it ends.
          if (!single) {
            node->inside = 1;
            SnapshotDepths(node, ctx);
          }
          return LoopResult::Continue;
        }
        SatisfyNode(node, ctx);
        continue;
      case REL_AFTER: {
        uint32_t counted = 0, outside = 0;
        if (node->inside) {
          // Within the element: only its own end, at its level, opens the
          // range; an element nested in it (a table in a cell) ends nothing.
          if (!AtElementLevel(node, data, sig, len, ctx) ||
              !MatchRecordToTarget(node, data, sig, prev, &counted, &outside, 0, ctx))
            return LoopResult::Continue;
          node->inside = 0;
        } else {
          int start = TestChunkRecordBoundary(node, data, sig, prev, &single, ctx);
          if (start && single) {
            node->rearmRecord = ctx->RecordNumber + 1;
            return LoopResult::Continue;
          }
          if (start) {
            node->inside = 1;
            SnapshotDepths(node, ctx);
          }
          if (!MatchRecordToTarget(node, data, sig, prev, &counted, &outside, uint32_t(start), ctx))
            return LoopResult::Continue;
          node->inside = 0;
        }
        if (!outside) {
          node->rearmRecord = ctx->RecordNumber + 1;
          return LoopResult::Continue;
        }
        SatisfyNode(node, ctx);
        continue;
      }
      case REL_STARTS_WITH:
        if (!TestChunkRecordBoundary(node, data, sig, prev, &single, ctx))
          return LoopResult::Continue;
        SatisfyNode(node, ctx);
        continue;
      default:
        return LoopResult::Continue;  // an unknown relation selects nothing
    }
  }
}

// The level test: is this record at the level of the last matched node's
// element, so that it may end it? `tableEnd` is set when a table end passed.
bool AtElementLevel(const chunkdef_info* lm, const uint8_t* data, uint16_t sig, uint32_t len,
                    const RTProcessContext* ctx) {
  int32_t hs = int32_t(lm->savedHotspotDepth);
  uint16_t obj = (sig == kSigBegin || sig == kSigEnd) ? BeginObject(data, len) : 0;
  if (IsHotspotStart(sig)) {
    if (ctx->HotspotDepth != hs + 1) return false;
  } else if (lm->targetType != GRAPHIC &&
             ((IsHotspotEndSig(sig) && ctx->OpenSignatureDepth == int32_t(lm->savedBeginDepth)) ||
              (sig == kSigEnd && obj == 0xAE))) {
    if (ctx->HotspotDepth != hs - 1) return false;
  } else {
    if (ctx->HotspotDepth != hs) return false;
    if (ctx->LayerDepth > int32_t(lm->savedLayerDepth)) return false;
    if (sig == kSigBegin && obj == 108) return false;
    if (sig == kSigEnd && obj == 108 && !(ctx->LayerDepth < int32_t(lm->savedLayerDepth)))
      return false;
  }
  bool paragraph = IsParagraphType(lm->targetType);
  int32_t td = int32_t(lm->savedTableDepth);
  if (IsTableBegin(sig)) return paragraph;
  if (IsTableEnd(sig) || (sig == kSigEnd && IsTableEnd(obj)))
    return ctx->TableBeginCount == td - 1;
  if (!paragraph && ctx->TableBeginCount != td) return false;
  return true;
}

bool PassesLevelTest(const chunkdef_info* lm, const uint8_t* data, uint16_t sig, uint32_t len,
                     const RTProcessContext* ctx) {
  if (lm->relation != REL_CONTAINS && lm->relation != REL_INSIDE) return true;
  return AtElementLevel(lm, data, sig, len, ctx);
}

// Is the ending record still part of the element for the handler?
bool EndingRecordIsPart(const chunkdef_info* node, uint16_t sig, uint32_t endOutside) {
  if (!endOutside) return true;
  switch (node->targetType) {
    case STYLIZEDTEXT:
      // A text that ends the element is in another font: it begins the next.
      return false;
    case GRAPHIC:
      return sig >= 149 && sig <= 160 && sig != 153;
    // A paragraph's ending record begins what follows it (the next paragraph,
    // a reference that the page opens a paragraph with, the next cell, a table
    // or the table's end): none of it is the paragraph's, and what is appended
    // to the paragraph goes in front of it.
    default:
      return false;
  }
}

// What insertions need to know of the place after this record: the
// paragraph in force, per table level (a table's paragraphs start from the
// one around it, and after the table that one is in force again), which they
// reference through the composition; and the OLE objects open there.
void TrackInsertionPlace(const uint8_t* data, uint16_t sig, uint32_t len,
                           RTProcessContext* ctx) {
  constexpr int32_t kTop = int32_t(kMaxEngineTableDepth) + 1;
  int32_t level = ctx->TableBeginCount < 0 ? 0 : ctx->TableBeginCount;
  if (level > kTop) level = kTop;
  for (int32_t l = ctx->ParagraphIdLevel + 1; l <= level; ++l)
    ctx->ParagraphIdAtLevel[l] = ctx->ParagraphIdAtLevel[l - 1];
  ctx->ParagraphIdLevel = level;
  if (sig == kSigPabRef) {
    uint16_t id = U16(data, len, kv::cd::host::kPabReferenceId);
    if (id) ctx->ParagraphIdAtLevel[level] = id;
  } else if (sig == 0xFFA7) {
    ++ctx->OleDepth;
  } else if (sig == 0xFFA8 && ctx->OleDepth > 0) {
    --ctx->OleDepth;
  }
  const uint16_t id = ctx->ParagraphIdAtLevel[level];
  if (id) {
    uint8_t* ref = ctx->Compose.defaultParagraphReference;
    ref[0] = kSigPabRef;
    ref[1] = 4;
    ref[2] = uint8_t(id);
    ref[3] = uint8_t(id >> 8);
  }
}

}  // namespace

void SetChunkProgressCallback(ChunkProgressCallback callback) { gProgressCallback = callback; }
ChunkProgressCallback GetChunkProgressCallback() { return gProgressCallback; }

RTRecordNode* UnlinkRecordNode(RTProcessContext* ctx, RTRecordNode* node) {
  if (!ctx || !node) return nullptr;
  RTRecordNode* next = node->next;
  if (!ctx->Records) return next;
  LSXLsiSession* session = ctx->Session;
  uint16_t sig = node->signature;
  if (node->aux && !(node->flags & kNodeAuxHandle) &&
      (IsTextRecord(sig) || sig == 163 || sig == 164 || sig == 208 || sig == 153)) {
    PoolFree(session, node->aux);
    node->aux = nullptr;
  }
  // Composed records live in segment buffers the list owns; only a block of
  // the pool of its own is freed with the node.
  if ((node->flags & kNodeOwnsData) && node->data && session && session->pool) {
    PoolBlock* b = PoolFindBlock(session->pool, node->data);
    if (b && b->data == node->data) PoolFree(session, node->data);
  }
  if (ctx->PendingRunNode == node) ctx->PendingRunNode = next;
  if (ctx->CurrentNode == node) ctx->CurrentNode = next;
  RecordListUnlink(session, ctx->Records, node);
  return next;
}

int TestChunkRecordBoundary(chunkdef_info* node, const uint8_t* data, uint16_t sig,
                            uint16_t prev, uint32_t* singleRecord, RTProcessContext* ctx) {
  if (singleRecord) *singleRecord = 0;
  const TargetTypeDescriptor* d = Descriptor(node);
  if (!d || !data) return 0;
  const uint16_t type = node->targetType;
  const RTRecordNode* cur = ctx->CurrentNode;
  uint32_t len = cur && cur->data == data ? cur->length : 0;
  if (!cur || cur->data != data) {
    // Without the walked node only the record itself can be examined.
    uint16_t s;
    kv::cd::HeaderKind k;
    uint32_t l, h;
    if (!kv::cd::ReadHostHeader(data, 8, &s, &k, &l, &h)) return 0;
    len = l;
  }

  if (node->relation == REL_INSIDE && node->inside && node->insideClose) {
    // The element's stretch is known: it starts after the head. An element
    // that closes first has no inside; its closing record may begin the next.
    if (ctx->RecordNumber < node->insideClose) return ctx->RecordNumber >= node->insideFirst;
    node->inside = node->insideFirst = node->insideClose = 0;
  }
  // 1. A hotspot begin right after a legacy one continues it.
  if (sig == 0xFFA9 && prev == 0xFFAD) return 0;

  // 2. Paragraphs.
  if (IsParagraphType(type)) {
    if (sig == kSigPabRef && LeadsIntoReference(prev)) return 0;
    if (sig == kSigPab &&
        (LeadsIntoReference(prev) || (cur && cur->next && cur->next->signature == 166)))
      return 0;
    if (ctx->FlagFF68 && sig != kSigLargeParagraph) return 0;
    if (type == PARAGRAPHLIST && sig != kSigPab && sig != kSigPabRef && sig != kSigParagraph)
      return 0;
  }
  // 3. Page breaks.
  if (type == PAGEBREAK && sig != kSigParagraph) return 0;
  // The list and page-break masks of these rows test the flags of the
  // paragraph's definition, not the start record.
  if (type == PARAGRAPHLIST || type == PAGEBREAK) {
    const uint16_t flags = ParagraphFlags(FindParagraphDefinition(cur));
    bool any = false;
    for (uint16_t i = 0; i < d->requireCount && i < 4; ++i) any |= (flags & d->requireMasks[i]) != 0;
    if (!any) return 0;
  }
  // 4. Text continued after a text effect is no new element.
  if (IsTextType(type)) {
    bool textish = IsTextRecord(sig) ||
                   (sig == kSigBegin && IsTextRecord(BeginObject(data, len)));
    if (textish && (prev == kSigBidiTextEffect || prev == kSigTextEffect)) return 0;
  }
  // A stylized-text element is a whole stretch of text in one font: a text
  // record right after one in the same font continues it.
  if (type == STYLIZEDTEXT && sig == kSigText && prev == kSigText && cur && cur->data == data &&
      cur->prev && cur->prev->signature == kSigText &&
      U32(cur->prev->data, cur->prev->length, kv::cd::host::kTextFont) ==
          U32(data, len, kv::cd::host::kTextFont))
    return 0;
  // 5. Non-blank text: the first text ahead must have text, with no cell,
  //    hotspot end or paragraph reference on the way.
  if (type == NONBLANKTEXT) {
    const RTRecordNode* p = cur;
    for (; p; p = p->next) {
      uint16_t s = p->signature;
      if (IsTextRecord(s)) break;
      if (s == 164 || s == 208 || s == 170 || s == 174 || s == 127 || s == kSigPabRef) return 0;
    }
    if (!p || p->length <= kv::cd::host::kTextFixed) return 0;
  }
  // 6. A table begun by its extension record.
  if (type == TABLE && IsTableBegin(sig) && ctx->TableBeginFlag) return 0;

  // 7. A BEGIN announces the object examined from here on.
  const uint8_t* ex = data;
  uint16_t exSig = sig;
  uint32_t exLen = len;
  const RTRecordNode* exNode = cur;
  if (sig == kSigBegin) {
    uint16_t obj = BeginObject(data, len);
    // An element without a head of its own is its own inside: its BEGIN
    // starts it for either relation, so both count the same elements.
    if ((node->relation != REL_INSIDE || !d->insideEndSignatures[0]) &&
        !InList(obj, d->beginSignatures, 3))
      return 0;
    const RTRecordNode* found = nullptr;
    if (cur) {
      for (const RTRecordNode* p = cur->next; p; p = p->next) {
        if (p->signature == kSigBegin || p->signature == kSigEnd) break;
        if (p->signature == obj) {
          found = p;
          break;
        }
      }
      if (!found) found = cur->next;
    }
    if (!found) return 0;
    exNode = found;
    ex = found->data;
    exSig = found->signature;
    exLen = found->length;
  }

  // 8. Already inside an INSIDE element.
  // (An OUTSIDE node's inside flag marks the element it excludes instead.)
  bool inside = node->inside || (type == ROW && node->inner && node->inner->targetType == COLUMN &&
                                 node->inner->relation == REL_INSIDE && node->inner->inside);
  if (node->relation == REL_INSIDE && inside) {
    uint16_t endObj = sig == kSigEnd ? BeginObject(data, len) : 0;
    // A table whose cells hold nothing ends before anything inside it began:
    // nothing after it is inside it.
    if ((IsTableEnd(sig) || IsTableEnd(endObj)) && node->inside &&
        ctx->TableBeginCount < int32_t(node->savedTableDepth)) {
      node->inside = 0;
      return 0;
    }
    // Nor is anything inside an element that ends before anything began in
    // it (a paragraph whose reference a table follows); its ending record
    // may begin the next element.
    if (node->inside && AtElementLevel(node, data, sig, len, ctx) &&
        MatchRecordToTarget(node, data, sig, prev, nullptr, nullptr, 0, ctx)) {
      node->inside = 0;
    } else {
      if (InList(sig, d->insideEndSignatures, 7) || InList(endObj, d->insideEndSignatures, 7) ||
          InList(InnermostOpenObject(ctx), d->insideEndSignatures, 7))
        return 0;
      return 1;
    }
  }

  // 9. Within an open element of this kind only a BEGIN starts a new one.
  if (sig != kSigBegin && InList(InnermostOpenObject(ctx), d->startSignatures, 4)) return 0;

  // 10. Start signatures.
  if (type != RECORD) {
    bool skip = IsParagraphType(type) && cur && cur->sequence == 1;
    if (!skip && !InList(exSig, d->startSignatures, 4)) return 0;
  }
  if ((type == ROW || type == COLUMN) && IsCell(exSig) && node->outer &&
      int32_t(node->outer->savedTableDepth) != ctx->TableBeginCount)
    return 0;

  // 11. Selecting values and flag masks of the start record.
  if (d->selectCount) {
    uint16_t v = 0;
    if (!kv::cd::ReadU16(ex, exLen, d->selectOffset, &v)) return 0;
    bool any = false;
    for (uint16_t i = 0; i < d->selectCount && i < 4; ++i) any |= d->selectValues[i] == v;
    if (!any) return 0;
  }
  if (d->excludeCount) {
    uint32_t f = 0;
    if (!kv::cd::ReadU32(ex, exLen, d->excludeOffset, &f)) return 0;
    for (uint16_t i = 0; i < d->excludeCount && i < 3; ++i)
      if (f & d->excludeMasks[i]) return 0;
  }
  if (d->requireCount && type != PARAGRAPHLIST && type != PAGEBREAK) {
    uint32_t f = 0;
    if (!kv::cd::ReadU32(ex, exLen, d->requireOffset, &f)) return 0;
    bool any = false;
    for (uint16_t i = 0; i < d->requireCount && i < 4; ++i) any |= (f & d->requireMasks[i]) != 0;
    if (!any) return 0;
  }
  if (type == ACTIONHOTSPOT) {
    uint32_t f = 0;
    if (!kv::cd::ReadU32(ex, exLen, kv::cd::host::kHotspotFlags, &f) || (f & (0x10 | 0x100)))
      return 0;
  }

  // 12. Match texts.
  if (node->matchText && (node->matchMode == MATCH_ID || node->matchMode == MATCH_NAME)) {
    if (!MatchAttributeForward(node, cur)) return 0;
  } else if ((node->matchText && node->matchMode >= MATCH_TEXT &&
              node->matchMode <= MATCH_SUBSTR) ||
             d->leadText) {
    if (!TextMatches(node, d, ElementText(node, exNode))) return 0;
  }

  // 13. Occurrence.
  uint32_t number;
  if (type == ROW && IsCell(exSig))
    number = uint32_t(U8(ex, exLen, 2)) + 1;
  else if (type == COLUMN && IsCell(exSig))
    number = uint32_t(U8(ex, exLen, 3)) + 1;
  else if (d->occurrenceOffset)
    number = uint32_t(U8(ex, exLen, d->occurrenceOffset)) + 1;
  else
    number = node->runningCount + 1;
  node->runningCount = number;
  if (!QualifiesOccurrence(node, number)) return 0;

  // 14. Result.
  uint32_t single = d->singleRecord;
  if (sig == kSigBegin || (IsTextType(type) && exSig == kSigTextEffect)) single = 0;
  if (type == STYLIZEDTEXT && exSig == kSigText) node->stylizedFont = U32(ex, exLen, 4);
  if (node->relation == REL_INSIDE && InList(exSig, d->insideEndSignatures, 7)) {
    node->inside = 1;
    SnapshotDepths(node, ctx);  // the level at which the element ends
    if (cur && cur->data == data) MarkInsideStretch(node, d, cur, exNode, ctx);
    return 0;
  }
  if (singleRecord) *singleRecord = single;
  return 1;
}

int MatchRecordToTarget(chunkdef_info* node, const uint8_t* data, uint16_t sig, uint16_t prev,
                        uint32_t* counted, uint32_t* endOutside, uint32_t alreadyStarted,
                        RTProcessContext* ctx) {
  uint32_t c = 0, o = 0;
  if (!counted) counted = &c;
  if (!endOutside) endOutside = &o;
  *counted = 0;
  *endOutside = 0;
  const TargetTypeDescriptor* d = Descriptor(node);
  if (!d || !data) return 0;
  const uint16_t type = node->targetType;
  const RTRecordNode* cur = ctx->CurrentNode;
  uint32_t len;
  if (cur && cur->data == data) {
    len = cur->length;
  } else {
    uint16_t s;
    kv::cd::HeaderKind k;
    uint32_t h;
    if (!kv::cd::ReadHostHeader(data, 8, &s, &k, &len, &h)) return 0;
  }
  const uint16_t obj = (sig == kSigEnd || sig == kSigBegin) ? BeginObject(data, len) : 0;
  bool ended = false;
  uint32_t outside = d->endOutside;

  // 1.
  if (sig == 0xFFAD && prev == 0xFFA9) return 0;
  // 2. Text continued after a text effect.
  if (type == TEXT || type == STYLIZEDTEXT || type == NONBLANKTEXT) {
    if (IsTextRecord(sig) && prev == kSigTextEffect) return 0;
    if (sig == kSigTextEffect && prev == kSigText) {
      *endOutside = 1;
      return 1;
    }
  }
  if (d->closeText) {
    // 3. Text elements that close with a closing text.
    if (sig == kSigBegin) {
      ctx->ClosingTextSeen = 1;
      return 0;
    }
    if (!IsTextRecord(sig)) return 0;
    if (!EndsWithText(data, len, d->closeText) && !EndsWithText(data, len, d->closeText2))
      return 0;
    ended = true;
  } else if (sig == kSigEnd) {
    // 4. END records.
    if (type == OLEOBJECT) {
      if (obj != 0xFFA7) return 0;
      ended = true;
    } else if (type == GRAPHIC) {
      if (obj == 153) {
        const RTRecordNode* nx = cur && cur->data == data ? cur->next : nullptr;
        if (nx && nx->signature == kSigBegin && BeginObject(nx->data, nx->length) == 0xFFF4)
          return 0;
        outside = 0;
      } else {
        outside = 1;
      }
      ended = true;
    } else {
      if (!InList(obj, d->endSignatures, 5)) return 0;
      ended = true;
    }
  }
  if (!ended) {
    // 5. Inside an open element of this kind only INSIDE can end.
    if (InList(InnermostOpenObject(ctx), d->startSignatures, 4)) {
      if (node->relation != REL_INSIDE || !InList(sig, d->endSignatures, 5)) return 0;
      ended = true;
    }
  }
  if (!ended) {
    switch (type) {
      case RAWTEXT:
      case STYLIZEDTEXT:
        // 6.
        if (sig != kSigText)
          ended = true;
        else if (type == STYLIZEDTEXT && U32(data, len, 4) != node->stylizedFont)
          ended = true;
        else
          return 0;
        break;
      case ROW:
        // 7.
        if (IsTableEnd(sig)) {
          *endOutside = outside;
          return 1;
        }
        if (!IsCell(sig)) return 0;
        if (node->outer && int32_t(node->outer->savedTableDepth) != ctx->TableBeginCount) return 0;
        if (U8(data, len, 3) != 0) return 0;
        ended = true;
        break;
      case COLUMN:
        if (!IsCell(sig) && !IsTableEnd(sig)) return 0;
        if (IsCell(sig) && node->outer &&
            int32_t(node->outer->savedTableDepth) != ctx->TableBeginCount)
          return 0;
        ended = true;
        break;
      case GRAPHIC: {
        // 8.
        static const uint16_t kGraphicRelated[] = {0xFFC4, 0xFFF9, 0xFFF4, 0xFFF5, 0xFF7A,
                                                   0xFF76, 0xFFCA, 82,     124,    125};
        bool related = InList(sig, kGraphicRelated, sizeof kGraphicRelated / 2) ||
                       (sig >= 149 && sig <= 160);
        if (related && !(sig == 153 && !alreadyStarted)) return 0;
        ended = true;
        break;
      }
      case PARAGRAPH:
      case PARAGRAPHLIST:
        // 9.
        if (sig == kSigLargeParagraph && (U16(data, len, 6) & 0x0002)) {
          outside = 0;
          ended = true;
          break;
        }
        if (alreadyStarted) return 0;
        // A table that a BEGIN announces starts with that BEGIN.
        if (sig == kSigBegin && (obj == kSigPreTable || IsTableBegin(obj))) {
          ended = true;
          break;
        }
        if (sig == kSigParagraph ||
            (sig == kSigPabRef && !LeadsIntoReference(prev)) ||
            sig == 163 || sig == 164 || sig == 165 || sig == 207 || sig == 208 || sig == 209 ||
            sig == kSigPreTable) {
          ended = true;
          break;
        }
        return 0;
      default:
        // 10.
        if (!InList(sig, d->endSignatures, 5)) return 0;
        ended = true;
        break;
    }
  }
  // 11. Counting.
  *endOutside = outside;
  if (d->occurrenceOffset || type == ROW || type == COLUMN) return 1;
  *counted = 1;
  return QualifiesOccurrence(node, node->runningCount) ? 1 : 0;
}

NnStatus ProcessChunkRecord(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (!ctx || !data) return NN_ERR_INVALID_ARG;
  // 1.
  ctx->RecordHandled = 0;
  ctx->ElementHandled = 0;
  ctx->SatisfiedThisRecord = 0;
  ++ctx->RecordNumber;
  ctx->LastProcessedRecord = ctx->RecordNumber;
  const uint16_t prev = ctx->RecordNumber == 1 ? 0 : ctx->PreviousSignature;
  NnStatus status = 0;

  const ChunkProgressCallback progress = gProgressCallback.load();
  if (progress && ctx->RecordNumber % 100 == 1 && progress(ctx->RecordNumber)) {
    LSXLsiSession* s = ctx->Session;
    if (s && s->messageProc) s->messageProc(s->messageContext, "ZELKO: Interrupted by user!");
    NnLogMessage(0, "ZELKO: Interrupted by user!");
    ctx->PreviousSignature = sig;
    return NN_ERR_CATASTROPHIC;
  }

  // 2. Nesting bookkeeping.
  switch (sig) {
    case kSigBegin: {
      uint16_t obj = BeginObject(data, len);
      if (obj == kSigPreTable) {
        ctx->TableBeginFlag = 1;
        ++ctx->TableBeginCount;
      }
      if (ctx->OpenSignatureDepth < int32_t(kMaxBeginDepth) && !ctx->BeginOverflow) {
        ++ctx->OpenSignatureDepth;
        ctx->OpenSignatures[ctx->OpenSignatureDepth] = obj;
      } else {
        // Deeper than the stack: counted, and its object kept while there is room.
        if (ctx->BeginOverflow < kMaxOverflowObjects)
          ctx->OverflowSignatures[ctx->BeginOverflow] = obj;
        ++ctx->BeginOverflow;
      }
      if (obj == 0xFF7E || obj == 0xFFA9 || obj == 0xFFAD) ++ctx->HotspotDepth;
      if (obj == 108) ++ctx->LayerDepth;
      break;
    }
    case kSigPreTable:
      if (!ctx->TableBeginFlag) {
        ctx->TableBeginFlag = 1;
        ++ctx->TableBeginCount;
      }
      break;
    case 207:
    case 163:
      if (!ctx->TableBeginFlag) ++ctx->TableBeginCount;
      break;
    case 208:
    case 164:
      ctx->TableBeginFlag = 0;
      ctx->CurrentCellColumn = uint32_t(U8(data, len, 3)) + 1;
      break;
    case 209:
    case 165:
      if (ctx->TableBeginCount > 0) --ctx->TableBeginCount;
      ctx->CurrentCellColumn = 0;
      break;
    case kSigEnd: {
      uint16_t obj = BeginObject(data, len);
      if (ctx->BeginOverflow)
        --ctx->BeginOverflow;
      else if (ctx->OpenSignatureDepth > 0)
        --ctx->OpenSignatureDepth;
      if ((obj == 0x7F || obj == 0xAA || obj == 0xAE) && ctx->HotspotDepth > 0) --ctx->HotspotDepth;
      if (obj == 108 && ctx->LayerDepth > 0) --ctx->LayerDepth;
      break;
    }
    case 0xFFAD:
    case 0xFFA9:
      if ((sig == 0xFFAD || prev != 0xFFAD) && InnermostOpenObject(ctx) != 0xFFAD)
        ++ctx->HotspotDepth;
      break;
    case 174:
    case 170:
      if (InnermostOpenObject(ctx) != 0xFFAD && ctx->HotspotDepth > 0) --ctx->HotspotDepth;
      break;
    case kSigText:
      if (len >= kv::cd::host::kTextFixed && ctx->Item && ctx->Item->context)
        std::memcpy(&ctx->Item->context->currentFont, data + kv::cd::host::kTextFont, 4);
      break;
    case kSigPab:
      if (ctx->TableBeginCount == 0) {
        uint32_t n = len < sizeof ctx->PendingParagraphDefinition
                         ? len
                         : uint32_t(sizeof ctx->PendingParagraphDefinition);
        std::memcpy(ctx->PendingParagraphDefinition, data, n);
        ctx->PendingParagraphDefinitionLength = uint16_t(n);
        ctx->ParagraphDefinitionPending = 1;
      }
      break;
    case kSigPabRef:
      if (ctx->TableBeginCount == 0 && len >= 4) {
        std::memcpy(ctx->PendingParagraphReference, data, 4);
        ctx->ParagraphReferencePending = 1;
      }
      break;
    case kSigLargeParagraph:
      if (!ctx->ElementActionPending) {
        uint16_t f = U16(data, len, 6);
        if (f & 0x0001)
          ctx->FlagFF68 = 1;
        else if (f & 0x0002)
          ctx->FlagFF68 = 0;
      }
      break;
    default:
      break;
  }

  // 3.
  if (!ctx->StopRequested) {
    // 4. Re-arm.
    chunkdef_info* nut = ctx->NodeUnderTest;
    if (nut && nut->rearmRecord && nut->rearmRecord == ctx->RecordNumber) {
      nut->rearmRecord = 0;
      // An OUTSIDE range resumes through the node loop, which tests whether
      // another excluded element begins right here.
      if (nut->relation != REL_OUTSIDE) SatisfyNode(nut, ctx);
    }
    nut = ctx->NodeUnderTest;
    if (nut && IsParagraphType(nut->targetType) &&
        (nut->relation == REL_ENDS_WITH || nut->relation == REL_BEFORE) &&
        nut->occurrenceCount >= 1 && nut->occurrences[0] > 1 && ctx->CurrentNode &&
        ctx->CurrentNode->sequence == 1 && sig != kSigParagraph)
      nut->runningCount = 1;  // the item opens with a paragraph of its own

    // 5. Node loop.
    if (RunNodeLoop(data, sig, len, prev, ctx, &status) == LoopResult::Done) goto tail;

    // 6. Inside the target.
    if (!ctx->NodeUnderTest && !ctx->ElementActionPending) {
      ctx->ElementActionPending = 1;
      status = ApplyOperationAtTarget(data, sig, len, ctx);
      goto tail;
    }
    chunkdef_info* lm = ctx->LastMatchedNode;
    // An element's inside ends at the record that closes the element, and
    // whatever lies within it ends there too (the record lies outside).
    chunkdef_info* closed = lm && !ctx->SatisfiedThisRecord ? ClosedInside(lm, ctx) : nullptr;
    // So does an element where the hotspot it began in ends.
    if (lm && !closed && !ctx->SatisfiedThisRecord &&
        (lm->relation == REL_CONTAINS || lm->relation == REL_INSIDE) &&
        LeftItsHotspot(lm, sig, ctx))
      closed = lm;
    if (lm && !ctx->SatisfiedThisRecord &&
        (closed || PassesLevelTest(lm, data, sig, len, ctx))) {
      // A table end more than one level below the element is not its end.
      if (!closed && IsTableEnd(sig) && ctx->TableBeginCount + 1 < int32_t(lm->savedTableDepth))
        goto tail;
      chunkdef_info* endedFirst = nullptr;
      uint32_t firstOutside = 0;
      for (chunkdef_info* n = lm; n;) {
        chunkdef_info* outer = n->outer;
        bool ended = false;
        uint32_t counted = 0, outside = 0, single = 0;
        if (closed) {
          ended = true;
          outside = 1;
          if (n == closed) {
            n->insideFirst = n->insideClose = 0;
            closed = nullptr;
          }
        } else switch (n->relation) {
          case REL_EVERYTHING:
          case REL_AFTER:
          case REL_STARTS_WITH:
            n = outer;
            continue;
          case REL_CONTAINS:
          case REL_INSIDE:
            ended = MatchRecordToTarget(n, data, sig, prev, &counted, &outside, 0, ctx) != 0;
            break;
          case REL_OUTSIDE:
          case REL_BEFORE:
            ended = TestChunkRecordBoundary(n, data, sig, prev, &single, ctx) != 0;
            // The element that starts here is not part of the range: the node
            // waits for its end (a single-record one ends with this record).
            if (ended && n->relation == REL_OUTSIDE && !single) {
              n->inside = 1;
              SnapshotDepths(n, ctx);
            }
            outside = 1;
            if (ended && n->relation == REL_BEFORE) {
              n->satisfied = 1;
              if (outer) outer->satisfied = 1;
            }
            break;
          case REL_ENDS_WITH:
            ended = TestChunkRecordBoundary(n, data, sig, prev, &single, ctx) && single;
            if (!ended)
              ended = MatchRecordToTarget(n, data, sig, prev, &counted, &outside, 0, ctx) != 0;
            if (ended) n->satisfied = 1;  // the range is complete
            break;
          default:
            break;
        }
        if (!ended) break;
        ctx->NodeUnderTest = n;
        ctx->LastMatchedNode = outer;
        if (!endedFirst) {
          endedFirst = n;
          firstOutside = outside;
        }
        if (!closed && n->relation == REL_CONTAINS && outer && outer->relation == REL_INSIDE &&
            outer->targetType == n->targetType)
          break;
        n = outer;
      }
      if (endedFirst) {
        if (ctx->ElementActionPending) {
          ctx->EndingRecordOutside = firstOutside;
          uint16_t rel = endedFirst->relation;
          if (rel == REL_INSIDE || rel == REL_OUTSIDE || rel == REL_BEFORE) {
            status = ApplyChunkElementAction(data, sig, len, ctx);
          } else {
            if (EndingRecordIsPart(endedFirst, sig, firstOutside)) {
              status = ApplyOperationToRecord(data, sig, len, ctx);
              ctx->RecordHandled = 1;
            }
            if (status == 0) status = ApplyChunkElementAction(data, sig, len, ctx);
          }
          ctx->EndingRecordOutside = 0;
          ctx->ElementActionPending = 0;
          if (ctx->Chunk && ctx->Chunk->stopSwitch) ctx->StopRequested = 1;
          if (status) goto tail;
        }
        // The ending record may start the next element: a cell, a new run of
        // stylized text, or any record that lies outside the element it ended.
        bool rangeEnd = endedFirst->relation == REL_OUTSIDE || endedFirst->relation == REL_BEFORE;
        bool again = !ctx->RecordHandled && !ctx->StopRequested && !rangeEnd &&
                     (IsCell(sig) || firstOutside ||
                      (IsTextRecord(sig) && ctx->NodeUnderTest &&
                       ctx->NodeUnderTest->targetType == STYLIZEDTEXT));
        if (again) {
          if (RunNodeLoop(data, sig, len, prev, ctx, &status) == LoopResult::Done) goto tail;
          if (!ctx->NodeUnderTest && !ctx->ElementActionPending) {
            ctx->ElementActionPending = 1;
            status = ApplyOperationAtTarget(data, sig, len, ctx);
          }
        }
      }
    }
  }

tail:
  // 7.
  TrackInsertionPlace(data, sig, len, ctx);
  if (IsTableBegin(sig)) ctx->TableBeginFlag = 0;
  ctx->PreviousSignature = sig;
  if (status) return status;
  if (!ctx->RecordHandled) {
    if (ctx->ElementActionPending) return ApplyOperationToRecord(data, sig, len, ctx);
    if (ctx->WriteMode && len && !ctx->PendingRunStart) {
      ctx->PendingRunStart = ctx->RecordNumber;
      ctx->PendingRunNode = ctx->CurrentNode;
    }
  }
  return 0;
}
