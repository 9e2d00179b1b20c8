// Removal operations: the chunk's content (2366), hotspots (2389), links
// (2390), fields (2430) and sections (2391) leave the output of the walk, and
// a table gains a row (2355). The clean-up after a text insertion (step 49)
// also lives here: one pass over the list before the walk.
//
// Each record of the target is kept, dropped, or marks records ahead of it
// for dropping (kNodeDrop); a marked record is dropped whenever it is reached,
// inside the target or in a run of untouched records.
#include <cstring>
#include <new>

#include "host/logging.h"
#include "host/pool.h"
#include "host/textmatch.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/compose/composeutil.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/removeframes.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/tablerows.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/itemhelpers.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kSigBegin = 221;
constexpr uint16_t kSigEnd = 222;
constexpr uint16_t kSigText = 0xFF85;
constexpr uint16_t kSigBidiText = 0xFFE4;
constexpr uint16_t kSigPab = 0xFF82;
constexpr uint16_t kSigField = 0xFF8A;
constexpr uint16_t kSigSection = 0xFFAC;
constexpr uint16_t kSigPassthruStart = 0xFFCC;
constexpr uint16_t kSigPassthruEnd = 0xFFCD;
constexpr uint32_t kEmptyText = kv::cd::host::kTextFixed;

using kv::cd::U16;
using kv::cd::U32;

using kv::removal::IsHotspotBegin;
using kv::removal::IsHotspotEnd;
bool IsDocLink(uint16_t sig) { return sig == 0xFF91 || sig == 0xFF92; }
bool IsEventRecord(uint16_t sig) {
  return sig == 0xFF5A || sig == 0xFF78 || sig == 0xFF71 || sig == 0xFFF6;
}
bool IsFieldRecord(uint16_t sig) {
  return sig == 0xFFF7 || sig == 0xFFFE || sig == 0xFFB0 || sig == kSigField;
}
bool IsTextSig(uint16_t sig) { return sig == kSigText || sig == kSigBidiText; }
// The records a cell holds of its own after its content: its colour (211 and
// the record stored after it), identifiers and links.
bool IsCellAttribute(uint16_t sig) {
  return sig == 211 || sig == 0xFFEE || sig == 0xFF7B || sig == 0xFF78 || sig == 0xFF5A;
}

uint16_t Wrapped(const RTRecordNode* n) {
  return n && (n->signature == kSigBegin || n->signature == kSigEnd) ? U16(n->data, n->length, 4)
                                                                      : 0;
}
uint16_t HotspotType(const RTRecordNode* n) {
  return U16(n->data, n->length, kv::cd::host::kHotspotType);
}
bool IsEmptyText(const RTRecordNode* n) {
  return n && n->signature == kSigText && n->length == kEmptyText;
}

void MarkDrop(RTProcessContext* ctx, RTRecordNode* n) {
  if (!n) return;
  n->flags |= kNodeDrop;
  ctx->DropMarks.item = ctx->Item;
  ctx->DropMarks.list = ctx->Records;
}

// Marks every record after `from` up to and including the next END.
void MarkThroughNextEnd(RTProcessContext* ctx, RTRecordNode* from) {
  for (RTRecordNode* n = from ? from->next : nullptr; n; n = n->next) {
    MarkDrop(ctx, n);
    if (n->signature == kSigEnd) return;
  }
}


// The object a BEGIN announces: the first record after it, before the next
// BEGIN or END, that the BEGIN names; else the record right after it.
RTRecordNode* AnnouncedObject(RTRecordNode* begin) {
  uint16_t obj = Wrapped(begin);
  for (RTRecordNode* n = begin->next; n; n = n->next) {
    if (n->signature == kSigBegin || n->signature == kSigEnd) break;
    if (n->signature == obj) return n;
  }
  return begin->next;
}

// ---- 2366 -------------------------------------------------------------------

void KeepDeletedParagraphDefinition(const uint8_t* data, uint32_t len, RTProcessContext* ctx) {
  LSXLsiSession* s = ctx->Session;
  SessionGlobals* g = s->globals;
  if (g->deletedParaDefCount >= kMaxSavedParaDefs) {
    LogMessage(s, "ZELKO: Unable to save additional deleted PAB definitions.");
  } else {
    auto* copy = static_cast<uint8_t*>(POOL_ALLOC(s, kParaDefCopySize, true));
    if (copy) {
      std::memcpy(copy, data, len < kParaDefCopySize ? len : kParaDefCopySize);
      g->deletedParaDefs[g->deletedParaDefCount++] = copy;
    }
  }
  // Paragraphs after the chunk that still refer to this definition get it
  // back when the untouched records are written (the engine's saved list).
  if (g->savedParaDefCount < kMaxSavedParaDefs && len >= 6) {
    auto* saved = static_cast<uint8_t*>(POOL_ALLOC(s, len, false));
    if (saved) {
      std::memcpy(saved, data, len);
      g->savedParaDefs[g->savedParaDefCount++] = saved;
    }
  }
}

bool RemoveContent(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig == kSigPab) KeepDeletedParagraphDefinition(data, len, ctx);
  const chunkdef_info* inner = InnermostCallNode(ctx);
  // A removed cell loses its content, not its place in the row, nor its own
  // attribute records (colour, identifiers, links) that follow its content.
  if (inner && inner->targetType == COLUMN &&
      ((ctx->AtTarget && kv::tables::IsCell(sig)) ||
       (IsCellAttribute(sig) && ctx->TableBeginCount == int32_t(inner->savedTableDepth))))
    return false;
  // A stretch that lies between its element's head and end (insideClose)
  // holds none of the element's frame: an element of its kind nested there
  // goes whole, begin and end alike.
  if (inner && inner->relation == REL_INSIDE && !inner->insideClose && inner->targetType > 0 &&
      inner->targetType < kTargetTypeCount) {
    const TargetTypeDescriptor& d = TargetTypeDescriptors[inner->targetType];
    for (uint16_t s : d.beginSignatures)
      if (s && s == sig) return false;  // the element's own frame stays
  }
  return true;
}

// A removed row: its table's begin record, which the composition already
// holds, and its index are noted for the renumbering after the walk. A row a
// cell spans (from it or over it) is refused: the span would cover other rows.
NnStatus NoteRemovedRow(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  const chunkdef_info* inner = InnermostCallNode(ctx);
  if (!inner || inner->targetType != ROW || !kv::tables::IsCell(sig) || !ctx->CurrentNode ||
      ctx->CurrentNode->data != data || !ctx->Compose.newList)
    return 0;
  RTRecordNode* begin = kv::tables::OpenTableBegin(ctx->CurrentNode->prev);
  RTRecordNode* composed = kv::tables::OpenTableBegin(ctx->Compose.newList->last);
  if (!begin || !composed || kv::tables::RowSpanned(begin, kv::cd::U8(data, len, 2)) ||
      ctx->RemovedRowCount >= RTProcessContext::kMaxRemovedRows)
    return NN_ERR_CD_STRUCTURE;
  ctx->RemovedRows[ctx->RemovedRowCount++] = {composed, kv::cd::U8(data, len, 2)};
  return 0;
}

// The later rows of each table that lost rows move up, and its row count
// follows; a table left without rows goes, with its pre-table group.
void RenumberRowsAfterRemoval(RTProcessContext* ctx) {
  RecordList* list = ctx->Compose.newList;
  for (uint16_t i = 0; i < ctx->RemovedRowCount && list; ++i) {
    RTRecordNode* begin = ctx->RemovedRows[i].composedTableBegin;
    if (!begin) continue;  // done with an earlier row of its table
    bool removed[256] = {};
    for (uint16_t j = i; j < ctx->RemovedRowCount; ++j) {
      if (ctx->RemovedRows[j].composedTableBegin != begin) continue;
      removed[ctx->RemovedRows[j].row] = true;
      ctx->RemovedRows[j].composedTableBegin = nullptr;
    }
    RTRecordNode* end = kv::tables::TableEndOf(begin);
    uint32_t rows = 0;
    int nesting = 0;
    for (RTRecordNode* n = begin->next; n && n != end; n = n->next) {
      if (kv::tables::IsTableBegin(n->signature)) ++nesting;
      if (kv::tables::IsTableEnd(n->signature) && nesting > 0) --nesting;
      if (nesting || !kv::tables::IsCell(n->signature) || n->length <= 2) continue;
      uint8_t above = 0;
      for (uint32_t r = 0; r < n->data[2]; ++r) above += removed[r];
      n->data[2] = uint8_t(n->data[2] - above);
      if (uint32_t(n->data[2]) + 1 > rows) rows = uint32_t(n->data[2]) + 1;
    }
    if (rows == 0 && end) {
      for (RTRecordNode* n = kv::tables::TableFrameStart(begin); n;) {
        RTRecordNode* next = n->next;
        const bool last = n == end;
        RecordListUnlink(ctx->Session, list, n);
        if (last) break;
        n = next;
      }
    } else if (RTRecordNode* pre = kv::tables::PreTableRecord(begin); pre && pre->length > 8) {
      pre->data[8] = uint8_t(rows);
    }
  }
}

// ---- 2389 -------------------------------------------------------------------

bool RemoveHotspotRecord(RTRecordNode* node, uint16_t sig, RTProcessContext* ctx) {
  const uint8_t* data = node->data;
  uint32_t len = node->length;
  if (IsHotspotBegin(sig) || IsHotspotEnd(sig)) return true;
  if (IsEventRecord(sig)) {
    uint16_t kind = U16(data, len, 8);
    return kind == 1 || kind == 2 || kind == 5;
  }
  if (IsDocLink(sig) || sig == 0xFFAB || sig == kSigSection) return true;
  if (sig == kSigBegin) {
    uint16_t obj = Wrapped(node);
    if (IsHotspotBegin(obj)) return true;
    if (IsDocLink(obj) || obj == kSigSection) {
      MarkThroughNextEnd(ctx, node);
      return true;
    }
    return false;
  }
  if (sig == kSigEnd) {
    uint16_t obj = Wrapped(node);
    return IsHotspotBegin(obj) || IsHotspotEnd(obj) || IsDocLink(obj);
  }
  if (sig == 0xFF7B || sig == 0xFF7A || sig == 0xFFF2) {
    for (RTRecordNode* p = node->prev; p; p = p->prev) {
      if (p->signature == kSigBegin) {
        uint16_t obj = Wrapped(p);
        return IsHotspotBegin(obj) || IsDocLink(obj);
      }
    }
  }
  return false;
}

// ---- 2390 -------------------------------------------------------------------

// Does the hotspot begun at `begin` count as a link? `strict` (the operation's
// argument) also excludes URL hotspots and events of kind 1.
bool HotspotIsLink(RTRecordNode* begin, bool strict) {
  for (RTRecordNode* n = begin; n; n = n->next) {
    uint16_t s = n->signature;
    if (IsHotspotBegin(s)) {
      uint16_t type = HotspotType(n);
      uint32_t flags = U32(n->data, n->length, kv::cd::host::kHotspotFlags);
      if (type == 11 && (flags & 0x1000) && strict) return false;
      if (type != 11 && type != 32) return false;
    } else if (IsEventRecord(s)) {
      uint16_t kind = U16(n->data, n->length, 8);
      if (kind == 1 && strict) return false;
      if (kind != 1 && kind != 2) return false;
    } else if (IsHotspotEnd(s)) {
      return true;
    }
  }
  return true;  // the last record closes it
}

// Marks the link's end record, the doclink BEGIN/END pairs inside it and the
// END of a BEGIN that wraps the hotspot.
void MarkLinkRecords(RTRecordNode* begin, RTProcessContext* ctx) {
  RTRecordNode* end = RecordHotspotEnd(begin);
  for (RTRecordNode* n = begin->next; n && n != end; n = n->next) {
    if (n->signature == kSigBegin && IsDocLink(Wrapped(n))) {
      MarkDrop(ctx, n);
      MarkThroughNextEnd(ctx, n);
    }
  }
  if (!end) return;
  MarkDrop(ctx, end);
  RTRecordNode* after = end->next;
  if (after && after->signature == kSigEnd &&
      (IsHotspotBegin(Wrapped(after)) || IsHotspotEnd(Wrapped(after))))
    MarkDrop(ctx, after);
}

bool RemoveLinkRecord(RTRecordNode* node, uint16_t sig, RTProcessContext* ctx) {
  const bool strict = ctx->SubCode != 0;
  if (IsHotspotBegin(sig)) {
    if (!HotspotIsLink(node, strict)) return false;
    MarkLinkRecords(node, ctx);
    return true;
  }
  if (sig == kSigBegin) {
    uint16_t obj = Wrapped(node);
    if (IsDocLink(obj)) {
      MarkThroughNextEnd(ctx, node);
      return true;
    }
    // A BEGIN that wraps a link goes with it.
    if (IsHotspotBegin(obj)) {
      RTRecordNode* h = AnnouncedObject(node);
      if (h && IsHotspotBegin(h->signature) && HotspotIsLink(h, strict)) return true;
    }
  }
  return false;
}

// ---- 2430 -------------------------------------------------------------------

// The field's name (0xFF8A): at 40 plus the lengths at 24, 26 and 30, with
// the length at 32. False when it does not lie inside the record.
bool FieldName(const RTRecordNode* f, const char** name, uint32_t* nameLen) {
  const uint8_t* d = f->data;
  uint32_t len = f->length;
  uint32_t off = kv::cd::host::kFieldFixed + uint32_t(U16(d, len, 24)) + U16(d, len, 26) +
                 U16(d, len, 30);
  uint32_t n = U16(d, len, 32);
  if (len < kv::cd::host::kFieldFixed || off > len || n > len - off) return false;
  *name = reinterpret_cast<const char*>(d) + off;
  *nameLen = n;
  return true;
}

bool RemoveFieldRecord(RTRecordNode* node, uint16_t sig, RTProcessContext* ctx) {
  bool begin = sig == kSigBegin && IsFieldRecord(Wrapped(node));
  if (!begin && !IsFieldRecord(sig)) return false;
  RTRecordNode* field = nullptr;
  RTRecordNode* stop = begin ? RecordGroupEnd(node) : nullptr;
  for (RTRecordNode* n = node; n; n = n->next) {
    if (n->signature == kSigField) {
      field = n;
      break;
    }
    if (n != node && (n == stop || (!begin && !IsFieldRecord(n->signature)))) break;
  }
  if (!field) return false;
  const char* want = ctx->Text1;
  if (want && *want) {
    uint32_t wantLen = ctx->SubCode ? ctx->SubCode : uint32_t(std::strlen(want));
    if (wantLen > std::strlen(want)) wantLen = uint32_t(std::strlen(want));
    const char* name = nullptr;
    uint32_t nameLen = 0;
    if (!FieldName(field, &name, &nameLen) || nameLen != wantLen) return false;
    uint32_t matchLen = 0;
    int32_t pos = kv::TextFindMatch(name, nameLen, want, wantLen, 0, 1, 1, 0, 0, &matchLen,
                                    nullptr);
    if (pos != 0 || matchLen != wantLen) return false;
  }
  RTRecordNode* last = begin ? stop : field;
  for (RTRecordNode* n = node == last ? nullptr : node->next; n; n = n->next) {
    MarkDrop(ctx, n);
    if (n == last) break;
  }
  return true;
}

// ---- 2391 -------------------------------------------------------------------

bool IsSectionHotspot(const RTRecordNode* n) {
  if (!n || !IsHotspotBegin(n->signature)) return false;
  uint16_t type = HotspotType(n);
  return type == 12 || type == 13;
}

bool RemoveSectionRecord(RTRecordNode* node, uint16_t sig, RTProcessContext* ctx) {
  if (sig == kSigSection) return true;
  if (sig == kSigBegin) {
    uint16_t obj = Wrapped(node);
    if (obj == kSigSection) {
      MarkThroughNextEnd(ctx, node);
      return true;
    }
    if (IsHotspotBegin(obj) && IsSectionHotspot(AnnouncedObject(node))) {
      MarkDrop(ctx, RecordGroupEnd(node));
      return true;
    }
    return false;
  }
  if (sig == kSigEnd) return Wrapped(node) == kSigSection;
  if (IsSectionHotspot(node)) {
    MarkDrop(ctx, RecordHotspotEnd(node));
    return true;
  }
  return false;
}

// ---- 2355 -------------------------------------------------------------------
//
// The walk runs over the whole item with the addressed row's first and last
// record numbers (sub-code and first number). The row's table is found
// around them before the walk: its pre-table record gains one in its row
// count, and a copy of the row, its cells renumbered as the table's new last
// row and the caller's cell texts in place of theirs, is written before the
// table's end record.

using kv::tables::IsCell;
using kv::tables::IsTableBegin;
using kv::tables::IsTableEnd;

NnStatus PlanAppendRow(RTProcessContext* ctx) {
  TableTextOpsState& t = ctx->TableText;
  const uint32_t first = ctx->SubCode, last = ctx->Number1;
  RTRecordNode* row = ctx->Records ? ctx->Records->first : nullptr;
  while (row && row->sequence != first) row = row->next;
  if (!row || !IsCell(row->signature) || last < first) return NN_ERR_INVALID_ARG;
  RTRecordNode* begin = kv::tables::OpenTableBegin(row->prev);
  if (!begin) return NN_ERR_INVALID_ARG;
  if (const RTRecordNode* pre = kv::tables::PreTableRecord(begin)) t.RowPreTable = pre->sequence;
  // Its end, and the rows its own cells name.
  const RTRecordNode* end = kv::tables::TableEndOf(begin);
  if (end) t.RowTableEnd = end->sequence;
  uint32_t rows = 0;
  int nest = 0;
  for (const RTRecordNode* n = begin->next; n && n != end; n = n->next) {
    if (IsTableBegin(n->signature)) ++nest;
    if (IsTableEnd(n->signature) && nest > 0) --nest;
    if (nest == 0 && IsCell(n->signature) && n->length > 2 && uint32_t(n->data[2]) + 1 > rows)
      rows = uint32_t(n->data[2]) + 1;
  }
  if (!t.RowTableEnd || last >= t.RowTableEnd || rows == 0 || rows >= 0xFF)
    return NN_ERR_INVALID_ARG;
  // As for a removal or a sort, spans refuse the row: a template that a
  // cell spans into (or whose own cell spans) would leave columns out or
  // reach past the table, and a span reaching the new row would lie over it.
  if (row->length < 3 || kv::tables::RowSpanned(begin, row->data[2]) ||
      kv::tables::RowSpanned(begin, uint8_t(rows)))
    return NN_ERR_CD_STRUCTURE;
  t.RowNewIndex = uint8_t(rows);
  return 0;
}

// The copy of the row: cells of the row's own table renumbered, the first
// text of each cell replaced by the caller's text for it (its other texts
// go), everything else as it is. A cell without a text run takes the text
// at its end.
NnStatus WriteRowCopy(RTProcessContext* ctx) {
  TableTextOpsState& t = ctx->TableText;
  SessionGlobals* g = ctx->Session->globals;
  int32_t cell = -1;
  int nest = 0;
  bool textDone = false;
  auto finishCell = [&]() -> NnStatus {
    const char* text = cell >= 0 && cell < int32_t(kCellTextSlots) ? g->cellText[cell] : nullptr;
    if (textDone || !text || !*text) return 0;
    return EmitTextRecord(text, uint32_t(std::strlen(text)), nullptr, &ctx->Compose);
  };
  for (RTRecordNode* n = ctx->Records->first; n; n = n->next) {
    if (n->sequence < ctx->SubCode) continue;
    if (n->sequence > ctx->Number1) break;
    const uint16_t s = n->signature;
    if (IsTableBegin(s)) ++nest;
    if (IsTableEnd(s) && nest > 0) --nest;
    NnStatus st = 0;
    if (nest == 0 && IsCell(s)) {
      if ((st = finishCell()) != 0) return st;
      ++cell;
      textDone = false;
      uint8_t copy[64];
      if (n->length > sizeof copy || n->length < 4) return NN_ERR_CD_STRUCTURE;
      std::memcpy(copy, n->data, n->length);
      copy[2] = t.RowNewIndex;
      st = AppendRecord(copy, s, n->length, &ctx->Compose);
      if (st) return st;
      continue;
    }
    const char* text = cell >= 0 && cell < int32_t(kCellTextSlots) ? g->cellText[cell] : nullptr;
    if (nest == 0 && text && IsTextSig(s)) {
      if (textDone) continue;
      uint32_t font = U32(n->data, n->length, kv::cd::host::kTextFont);
      st = EmitTextRecord(text, uint32_t(std::strlen(text)), &font, &ctx->Compose);
      textDone = true;
    } else {
      st = AppendRecord(n->data, s, n->length, &ctx->Compose);
    }
    if (st) return st;
  }
  if (NnStatus st = finishCell()) return st;
  t.RowWritten = 1;
  return 0;
}

NnStatus AppendRowRecord(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                         RecordEmission* out) {
  TableTextOpsState& t = ctx->TableText;
  const uint32_t seq = ctx->CurrentNode->sequence;
  if (seq == t.RowPreTable && sig == 0xFFFB && len > 8) {
    auto* copy = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, len, false));
    if (!copy) return NN_ERR_MEMORY;
    std::memcpy(copy, data, len);
    copy[8] = uint8_t(t.RowNewIndex + 1);
    out->data = copy;
    out->replacement = copy;
    ctx->Item->modified = 1;
    return 0;
  }
  if (seq == t.RowTableEnd && !t.RowWritten) {
    NnStatus st = WriteRowCopy(ctx);
    if (st) return st;
    ctx->Item->modified = 1;
  }
  return 0;
}

// ---- step 49 ----------------------------------------------------------------

bool AnnouncesText(const RTRecordNode* n) {
  return n && n->signature == kSigBegin && IsTextSig(Wrapped(n));
}

// Is the record, or one within two places of it, one that the text
// insertion before this clean-up wrote?
bool NearInserted(const RTRecordNode* n) {
  const RTRecordNode* p = n;
  for (int i = 0; i < 3 && p; ++i, p = p->prev)
    if (p->flags & kNodeInserted) return true;
  p = n ? n->next : nullptr;
  for (int i = 0; i < 2 && p; ++i, p = p->next)
    if (p->flags & kNodeInserted) return true;
  return false;
}

void CleanupAfterTextInsertion(RTProcessContext* ctx) {
  const bool cleanupSwitch = ctx->Item && ctx->Item->cleanupSwitch;
  bool passthruOpen = false;
  // After a text insertion only what lies next to the inserted text is
  // tidied; the rest of the item keeps its records as they are. Callers
  // whose writes are spread over the item (link matching, pass-through
  // switches) mark nothing and have the whole item tidied.
  bool marked = false;
  for (const RTRecordNode* m = ctx->Records ? ctx->Records->first : nullptr; m && !marked;
       m = m->next)
    marked = (m->flags & kNodeInserted) != 0;
  RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr;
  while (n) {
    RTRecordNode* next = n->next;
    const uint16_t sig = n->signature;
    if (marked && !NearInserted(n)) {
      if (sig == kSigPassthruStart)
        passthruOpen = true;
      else if (sig == kSigPassthruEnd)
        passthruOpen = false;
      n = next;
      continue;
    }
    if (AnnouncesText(n) && IsEmptyText(next) && next->next && !IsTextSig(next->next->signature)) {
      RTRecordNode* other = next->next;
      const RTRecordNode* before = n->prev;
      const RTRecordNode* twoAfter = other->next ? other->next->next : nullptr;
      bool textBefore = before && (IsTextSig(before->signature) ||
                                   (before->signature == kSigEnd && IsTextSig(Wrapped(before))));
      bool textAfter = twoAfter && (IsTextSig(twoAfter->signature) || AnnouncesText(twoAfter));
      if (cleanupSwitch && (textBefore || textAfter)) {
        RTRecordNode* p = n;
        while (p) {
          bool wasEnd = p->signature == kSigEnd;
          p = UnlinkRecordNode(ctx, p);
          if (wasEnd) break;
        }
        n = p;
        continue;
      }
    }
    // An empty run next to inserted text stays: it is one of the item's runs,
    // and dropping it would move every later "Text n" one place on.
    if (!marked && sig == kSigText && next && next->signature == kSigText) {
      if (n->length == kEmptyText) {
        n = UnlinkRecordNode(ctx, n);
        continue;
      }
      if (next->length == kEmptyText) {
        UnlinkRecordNode(ctx, next);
        continue;  // the record after it may be empty too
      }
    }
    if (sig == kSigPassthruStart) {
      if (passthruOpen || !next) {
        n = UnlinkRecordNode(ctx, n);
        continue;
      }
      if (next->signature == kSigPassthruEnd) {
        UnlinkRecordNode(ctx, next);
        n = UnlinkRecordNode(ctx, n);
        continue;
      }
      if (IsEmptyText(next)) {
        if (next->next && next->next->signature == kSigPassthruEnd) {
          UnlinkRecordNode(ctx, next->next);
          n = UnlinkRecordNode(ctx, n);
          continue;
        }
        if (!next->next) {
          n = UnlinkRecordNode(ctx, n);
          continue;
        }
      }
      passthruOpen = true;
    } else if (sig == kSigPassthruEnd) {
      bool wasOpen = passthruOpen;
      passthruOpen = false;
      if (!wasOpen) {
        n = UnlinkRecordNode(ctx, n);
        continue;
      }
    }
    n = next;
  }
}

// ---- the family ---------------------------------------------------------------

bool IsRemoval(uint16_t code) {
  return code == 2366 || code == 2389 || code == 2390 || code == 2430 || code == 2391;
}

bool RemovalPreWalk(RTProcessContext* ctx, NnStatus* status) {
  uint16_t code = ctx->OperationCode;
  if (code == STEP_CLEANUP_TEXT) {
    CleanupAfterTextInsertion(ctx);
    for (RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr; n; n = n->next)
      n->flags &= uint16_t(~kNodeInserted);
    *status = 0;
    return true;
  }
  if (!IsRemoval(code) && code != 2355) return false;
  // No mark from an earlier call may survive into this one.
  for (RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr; n; n = n->next)
    n->flags &= uint16_t(~kNodeDrop);
  *status = code == 2355 ? PlanAppendRow(ctx) : 0;
  if (code == 2366 && !ctx->RemovalFrames.frames) {
    ctx->RemovalFrames.frames = new (std::nothrow) kv::removal::CutFrames();
    if (!ctx->RemovalFrames.frames) *status = NN_ERR_MEMORY;
  }
  return true;
}

bool RemovalRecord(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                   RecordEmission* out, NnStatus* status) {
  const uint16_t code = ctx->OperationCode;
  if (!IsRemoval(code) && code != 2355) return false;
  *status = 0;
  RTRecordNode* node = ctx->CurrentNode;
  if (!node || node->data != data) {
    // Only the walked record can be judged with its neighbours.
    if (code == 2366) out->length = 0;
    return true;
  }
  if (code == 2355) {
    *status = AppendRowRecord(data, sig, len, ctx, out);
    return true;
  }
  bool drop = (node->flags & kNodeDrop) != 0;
  if (!drop && code == 2366 && RemoveContent(data, sig, len, ctx)) {
    // The frame of a structure the range may only cut through is written
    // for now; the walk's end decides.
    bool written = false;
    kv::removal::CutFrames* frames = ctx->RemovalFrames.frames;
    *status = frames ? frames->Take(node, &ctx->Compose, &written) : 0;
    out->length = 0;
    if (written) ctx->Item->modified = 1;
    return true;
  }
  if (!drop) {
    switch (code) {
      case 2389: drop = RemoveHotspotRecord(node, sig, ctx); break;
      case 2390: drop = RemoveLinkRecord(node, sig, ctx); break;
      case 2430: drop = RemoveFieldRecord(node, sig, ctx); break;
      case 2391: drop = RemoveSectionRecord(node, sig, ctx); break;
      default: break;
    }
  }
  if (drop) out->length = 0;
  return true;
}

bool RemovalAtTarget(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                     NnStatus* status) {
  if (ctx->OperationCode != 2366) return false;
  *status = NoteRemovedRow(data, sig, len, ctx);
  return true;
}

bool RemovalPostWalk(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode == 2355) {
    // A walk that never reached the table's end wrote no row: nothing is kept.
    *status = ctx->TableText.RowWritten ? 0 : NN_ERR_CATASTROPHIC;
    return true;
  }
  if (ctx->OperationCode != 2366) return false;
  const chunkdef_info* inner = InnermostCallNode(ctx);
  if (ctx->RemovalFrames.frames)
    ctx->RemovalFrames.frames->Settle(ctx->Session, ctx->Records, ctx->Compose.newList,
                                      inner && inner->targetType == ROW);
  RenumberRowsAfterRemoval(ctx);
  // An item whose every record went keeps an empty text.
  const bool emptied = ctx->Compose.newList && ctx->Compose.newList->count == 0;
  *status = emptied ? kv::compose::EmitEmptyText(ctx) : 0;
  if (*status) return true;
  // The attachments that the removed records named go with them; the range
  // comes from the locate step that the removal follows.
  SessionGlobals* g = ctx->Session->globals;
  if (g->FirstMatchRecord && g->LastMatchRecord >= g->FirstMatchRecord && ctx->Records) {
    ctx->RangeFirst = g->FirstMatchRecord;
    ctx->RangeLast = g->LastMatchRecord;
    DeleteReferencedObjects(ctx->Item, ctx->Records, ctx->RangeFirst, ctx->RangeLast);
  }
  return true;
}

const OperationFamily kRemovals = {"removals",    nullptr, RemovalPreWalk, RemovalAtTarget,
                                   RemovalRecord, nullptr, RemovalPostWalk};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kRemovals);

RTProcessContext::CutFramesOwner::~CutFramesOwner() { delete frames; }

RTProcessContext::DropMarkGuard::~DropMarkGuard() {
  // Still the item's list: the call failed, and its marks must not outlive it.
  if (!list || !item || !item->context || item->context->records != list) return;
  for (RTRecordNode* n = list->first; n; n = n->next) n->flags &= uint16_t(~kNodeDrop);
}
