// Table and cell operations: table options (2413), cell borders (2393), cell
// colour get (step 38) and set (2394), merging (2405) and unmerging (2406)
// cells, and one HTML attribute of a table or cell (2422). They act on the
// records of the current target; everything else passes.
#include "richtext/engine/tableops.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/options.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/propwriters.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/tablefields.h"
#include "richtext/engine/tablerows.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "rtitem.h"

thread_local uint32_t gCellColorMarker = 0;

namespace {

namespace h = kv::cd::host;

constexpr uint16_t kSigPreTable = 0xFFFB;
constexpr uint16_t kSigTableAttr = 0xFF7A;
constexpr uint16_t kSigCellAttr = 0xFF7B;
constexpr uint16_t kSigPab = 0xFF82;
constexpr uint32_t kCellLength = 18;
constexpr uint32_t kRowCycleLength = 16;
constexpr uint32_t kAttrHead = 26;
constexpr uint32_t kAttrStrings = 6;
constexpr uint8_t kCellHasColor = 0x01;
constexpr uint8_t kCellMergedBelow = 0x08;  // inside a merged range, above its last row
constexpr uint8_t kCellMergedRight = 0x04;  // in the merged range's last row, left of its last cell

// Cell record offsets (host = stored layout).
constexpr uint32_t kCellRow = 2, kCellColumn = 3, kCellLeft = 4, kCellRight = 6, kCellBorder = 10,
                   kCellFlags = 11, kCellBorderWord = 12, kCellRowSpan = 14, kCellColumnSpan = 15,
                   kCellBackground = 16;

using kv::tables::IsCell;
using kv::tables::IsTableBegin;
using kv::tables::IsTableEnd;

using kv::cd::U8;
using kv::cd::U16;
using kv::cd::Put16;
using kv::cd::Put32;

void MarkModified(RTProcessContext* ctx) {
  ctx->Item->modified = 1;
}

// A copy of a small record in the context's replacement area, emitted instead
// of the walked one (whose data belongs to the loaded list and stays as it is,
// so that a failed call leaves the item untouched). Null when it does not fit.
uint8_t* SmallCopy(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                   RecordEmission* out) {
  uint8_t* buf = ctx->TableText.Record;
  if (len > sizeof ctx->TableText.Record) return nullptr;
  std::memcpy(buf, data, len);
  out->data = buf;
  out->signature = sig;
  out->length = len;
  return buf;
}

// ---- 2413 ChangeTable ---------------------------------------------------------

// A pool copy of `rec`, emitted instead of the walked record.
NnStatus EmitInstead(const std::vector<uint8_t>& rec, uint16_t sig, RTProcessContext* ctx,
                     RecordEmission* out) {
  auto* copy = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, rec.size(), false));
  if (!copy) return NN_ERR_MEMORY;
  std::memcpy(copy, rec.data(), rec.size());
  out->data = copy;
  out->signature = sig;
  out->length = uint32_t(rec.size());
  out->replacement = copy;
  MarkModified(ctx);
  return 0;
}

// A record of the table that the change adds, appended before the record in hand.
NnStatus EmitNew(uint16_t kind, RTProcessContext* ctx) {
  std::vector<uint8_t> rec;
  if (kind == kSigTableAttr) {
    rec.assign(kAttrHead, 0);
    Put16(rec.data(), 0, kSigTableAttr);
    Put16(rec.data(), 2, uint16_t(kAttrHead));
  } else {
    rec.assign(kRowCycleLength, 0);
    rec[0] = uint8_t(kind);
    rec[1] = uint8_t(kRowCycleLength);
  }
  ApplyTableChange(kind, &rec, ctx->TableText.TableChangeNow, ctx->Item);
  NnStatus st = AppendRecord(rec.data(), kind, uint32_t(rec.size()), &ctx->Compose);
  if (st == 0) MarkModified(ctx);
  return st;
}

// The END of the pre-table group the table's 0xFFFB stands in; null when it
// stands alone.
const RTRecordNode* PreTableGroupEnd(const TableParts& parts) {
  if (!parts.preTable || !parts.preTable->prev || parts.preTable->prev->signature != 221) return nullptr;
  int depth = 0;
  for (const RTRecordNode* n = parts.preTable->next; n && n != parts.begin; n = n->next) {
    if (n->signature == 221) ++depth;
    else if (n->signature == 222 && depth-- == 0) return n;
  }
  return nullptr;
}

// A table of the target starts: what of the change it does not show yet.
// Tables nested in its cells are not started while it is open.
NnStatus StartTableChange(RTProcessContext* ctx) {
  TableTextOpsState& t = ctx->TableText;
  if (!FindTableParts(ctx->CurrentNode, &t.TableNow)) return 0;
  t.TableChangeNow = t.TableChangeAsked;
  std::vector<uint16_t> creates;
  NnStatus st = EffectiveTableChange(t.TableNow, ctx->Item, &t.TableChangeNow, &creates);
  if (st) return st;
  t.TableActive = 1;
  t.TableGroupEnd = PreTableGroupEnd(t.TableNow);
  t.TableAddsAttributes = t.TableAddsRowCycle = 0;
  for (uint16_t kind : creates) {
    if (kind == kSigTableAttr) t.TableAddsAttributes = 1;
    if (kind == 225) t.TableAddsRowCycle = 1;
  }
  // An attribute record lives in the pre-table group: a table without a
  // pre-table record has no place for one.
  if (t.TableAddsAttributes && !t.TableNow.preTable) return NN_ERR_INVALID_ARG;
  return 0;
}

// Only the table's own records change: its pre-table record, tab and
// attribute records, its begin and row-cycle record; what the change adds
// goes where such records stand.
NnStatus ChangeTable(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                     RecordEmission* out) {
  TableTextOpsState& t = ctx->TableText;
  const RTRecordNode* node = ctx->CurrentNode;
  if (!node || node->data != data) return 0;
  if (!t.TableActive && StartsTable(node)) {
    NnStatus st = StartTableChange(ctx);
    if (st) return st;
  }
  if (!t.TableActive) return 0;
  const TableParts& parts = t.TableNow;
  NnStatus st = 0;
  if (node == parts.preTable && t.TableAddsAttributes && !t.TableGroupEnd) {
    // A pre-table record without its group gets one, holding the new record.
    std::vector<uint8_t> rec(data, data + len);
    ApplyTableChange(sig, &rec, t.TableChangeNow, ctx->Item);
    st = EmitBeginRecord(kSigPreTable, 0, &ctx->Compose);
    if (st == 0) st = AppendRecord(rec.data(), sig, uint32_t(rec.size()), &ctx->Compose);
    if (st == 0) st = EmitNew(kSigTableAttr, ctx);
    if (st == 0) st = EmitEndRecord(kSigPreTable, 0, &ctx->Compose);
    if (st == 0) out->length = 0;
    return st;
  }
  if (node == t.TableGroupEnd && t.TableAddsAttributes) st = EmitNew(kSigTableAttr, ctx);
  if (st == 0 && node == parts.end && t.TableAddsRowCycle) st = EmitNew(225, ctx);
  if (st) return st;
  if (node == parts.end) {
    t.TableActive = 0;
    return 0;
  }
  if (node != parts.preTable && node != parts.tabs && node != parts.attributes &&
      node != parts.begin && node != parts.rowCycle)
    return 0;
  std::vector<uint8_t> rec(data, data + len);
  if (!ApplyTableChange(sig, &rec, t.TableChangeNow, ctx->Item)) return 0;
  return EmitInstead(rec, sig, ctx, out);
}

// Whether a record belongs to the table of the target's first cell: its
// cells and what their content ends with, and its end; not those of a table
// nested in a cell, which a cell operation leaves as they are.
bool OwnCellRecord(uint16_t sig, RTProcessContext* ctx) {
  TableTextOpsState& t = ctx->TableText;
  if (t.CellDepth < 0) {
    if (!IsCell(sig)) return false;
    t.CellDepth = ctx->TableBeginCount;
  }
  return IsTableEnd(sig) ? ctx->TableBeginCount + 1 == t.CellDepth
                         : ctx->TableBeginCount == t.CellDepth;
}

// ---- 2393 cell borders ------------------------------------------------------------

NnStatus CellBorders(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                     RecordEmission* out) {
  if (!IsCell(sig) || !ctx->Text1 || len < kCellLength || !OwnCellRecord(sig, ctx)) return 0;
  uint8_t* cell = SmallCopy(data, sig, len, ctx, out);
  if (!cell) return 0;
  // Characters in the order top, bottom, left, right; the bit positions of
  // each side in the border word (4 bits) and the border byte (2 bits).
  static constexpr uint32_t kWordShift[4] = {8, 12, 0, 4};
  static constexpr uint32_t kByteShift[4] = {4, 6, 0, 2};
  const uint16_t oldWord = U16(cell, len, kCellBorderWord);
  uint16_t word = 0;
  uint8_t border = cell[kCellBorder];
  bool ended = false;
  for (int side = 0; side < 4; ++side) {
    const char c = ended ? 0 : ctx->Text1[side];
    if (!c) ended = true;
    if (ended) {
      // A missing character changes nothing on its side.
      word = uint16_t(word | (oldWord & (0xF << kWordShift[side])));
      continue;
    }
    uint16_t value = 0;
    if (c == '1')
      value = 1;
    else if (c == '2')
      value = 2;
    else if (c >= '0' && c <= '9')
      value = uint16_t(c - '0');
    word = uint16_t(word | ((value & 0xF) << kWordShift[side]));
    if (c == '0' || c == '1' || c == '2') {
      border = uint8_t(border & ~(0x3 << kByteShift[side]));
      border = uint8_t(border | ((c - '0') << kByteShift[side]));
    }
  }
  Put16(cell, kCellBorderWord, word);
  cell[kCellBorder] = border;
  MarkModified(ctx);
  return 0;
}

// ---- step 38 CellColor get ------------------------------------------------------

// Colour record flags: the colour is none (the cell transparent), the
// system's, or the start of a gradient (a 14-byte record).
constexpr uint16_t kColorNone = 0x4, kColorSystem = 0x8, kColorGradient = 0x10;
// The cell colour a get step leaves for a cell that has none (the chunk
// reads it as an empty value).
constexpr uint16_t kNoCellColor = 0xFFFF;

uint32_t RecordRgb(const uint8_t* d) {
  return uint32_t(d[4]) | uint32_t(d[5]) << 8 | uint32_t(d[6]) << 16;
}

// A cell's colour record closes its content: the first one met before the
// table's next cell or end (nested tables stepped over); null when the cell
// has none.
const RTRecordNode* OwnColorRecord(const RTRecordNode* cell) {
  int nesting = 0;
  for (const RTRecordNode* n = cell ? cell->next : nullptr; n; n = n->next) {
    if (IsTableBegin(n->signature)) {
      ++nesting;
    } else if (IsTableEnd(n->signature)) {
      if (nesting-- == 0) return nullptr;
    } else if (nesting == 0) {
      if (IsCell(n->signature)) return nullptr;
      if (n->signature == 211) return n;
    }
  }
  return nullptr;
}

// The first cell's colour: its palette word, and its own colour record (not
// that of a later cell when it has none).
void CellColorGet(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  SessionGlobals* g = ctx->Session->globals;
  TableTextOpsState& t = ctx->TableText;
  // The colour record of a cell nested in the first one is that cell's.
  if ((IsCell(sig) || IsTableEnd(sig) || sig == 211) && !OwnCellRecord(sig, ctx)) return;
  if (IsCell(sig)) {
    t.CellColorOpen = !ctx->TargetDone;
    if (ctx->TargetDone) return;
    if (len >= kCellLength && (data[kCellFlags] & kCellHasColor))
      g->CellColorIndex = U16(data, len, kCellBackground);
    ctx->TargetDone = 1;
    gCellColorMarker = 1;
  } else if (IsTableEnd(sig)) {
    t.CellColorOpen = 0;
  } else if (sig == 211 && len >= 8 && t.CellColorOpen) {
    // A colour record marked "none" leaves the cell without a colour on the
    // page, whatever its palette word holds: it reads as none.
    t.CellColorOpen = 0;
    if (U16(data, len, 2) & kColorNone)
      g->CellColorIndex = kNoCellColor;
    else
      g->CellColorRgb = RecordRgb(data) | SessionGlobals::kCellColorRgbGiven;
    gCellColorMarker = 1;
  }
}

// ---- 2394 CellColor set --------------------------------------------------------

// Whether the cell shows the colour in the form it is set in already: an RGB
// value by its own colour record (its palette word, a stored approximation,
// stays), a palette colour by its word without a colour record. Such a cell
// is left as it is, so that a colour read and set back changes nothing.
bool CellShowsColor(const RTRecordNode* cell, bool rgbGiven, uint32_t rgb, uint16_t index) {
  if (!cell || cell->length < kCellLength || !(cell->data[kCellFlags] & kCellHasColor))
    return false;
  const RTRecordNode* color = OwnColorRecord(cell);
  if (!rgbGiven) return !color && U16(cell->data, cell->length, kCellBackground) == index;
  return color && color->length >= 8 && !(U16(color->data, color->length, 2) & kColorNone) &&
         RecordRgb(color->data) == rgb;
}

}  // namespace

// The open cell of the target ends: an RGB colour it has no record of yet
// gets one, before what follows it.
NnStatus CloseCellColor(RTProcessContext* ctx) {
  TableTextOpsState& t = ctx->TableText;
  const uint32_t given = ctx->Session->globals->CellColorRgb;
  const uint32_t rgb = given & 0xFFFFFF;
  const bool compose = t.CellColorOpen && !t.CellColorKept && !t.CellColorRecordMet &&
                       (given & SessionGlobals::kCellColorRgbGiven);
  t.CellColorOpen = 0;
  if (!compose) return 0;
  NnStatus st = EmitRecord8(211, rgb, 0, &ctx->Compose);
  if (st == 0) MarkModified(ctx);
  return st;
}

namespace {

// Every cell of the target's own table takes the colour: a palette colour
// as its word (its colour record goes), an RGB colour as its colour record,
// rewritten, or added at the cell's end.
NnStatus CellColorSet(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                      RecordEmission* out) {
  SessionGlobals* g = ctx->Session->globals;
  TableTextOpsState& t = ctx->TableText;
  const bool rgbGiven = g->CellColorRgb & SessionGlobals::kCellColorRgbGiven;
  const uint32_t rgb = g->CellColorRgb & 0xFFFFFF;
  const uint16_t index = rgbGiven ? 0 : g->CellColorIndex;
  if (!OwnCellRecord(sig, ctx)) return 0;
  if (IsTableEnd(sig)) return CloseCellColor(ctx);
  if (IsCell(sig)) {
    if (len < kCellLength) return 0;
    NnStatus st = CloseCellColor(ctx);
    if (st) return st;
    ctx->SetRecordMet = 1;
    t.CellColorOpen = 1;
    t.CellColorRecordMet = 0;
    const RTRecordNode* node = ctx->CurrentNode;
    t.CellColorKept = node && node->data == data && CellShowsColor(node, rgbGiven, rgb, index);
    if (t.CellColorKept) return 0;
    uint8_t* cell = SmallCopy(data, sig, len, ctx, out);
    if (!cell) return 0;
    cell[kCellFlags] = uint8_t(cell[kCellFlags] | kCellHasColor);
    Put16(cell, kCellBackground, index);
    MarkModified(ctx);
    return 0;
  }
  if (sig != 211 || !t.CellColorOpen) return 0;
  t.CellColorRecordMet = 1;
  if (t.CellColorKept) return 0;
  if (rgbGiven && len >= 8) {
    uint8_t* rec = SmallCopy(data, sig, len, ctx, out);
    if (!rec) return 0;
    rec[4] = uint8_t(rgb);
    rec[5] = uint8_t(rgb >> 8);
    rec[6] = uint8_t(rgb >> 16);
    rec[7] = 0;
    // The colour shows as it is given: plain, not "none" nor a gradient.
    Put16(rec, 2, uint16_t((U16(rec, len, 2) & ~(kColorNone | kColorSystem | kColorGradient)) | 1));
  } else {
    out->length = 0;  // a palette colour replaces the cell's own colour record
  }
  MarkModified(ctx);
  return 0;
}

// ---- 2405 merge cells ---------------------------------------------------------------

// The paragraph definition in force in the cell that starts at `cell`: the
// definition named by the first paragraph reference of the cell's content,
// else the composition's default. Copied into `out` (kPabFullLength bytes,
// zero-filled first); returns its length.
uint16_t CellParagraphDefinition(const RTRecordNode* cell, RTProcessContext* ctx, uint8_t* out) {
  std::memset(out, 0, kPabFullLength);
  uint16_t id = 0;
  bool found = false;
  for (const RTRecordNode* n = cell ? cell->next : nullptr; n; n = n->next) {
    if (IsCell(n->signature) || IsTableEnd(n->signature) || IsTableBegin(n->signature)) break;
    if (n->signature == 131 && n->length >= 4) {
      id = U16(n->data, n->length, h::kPabReferenceId);
      found = true;
      break;
    }
  }
  const RTRecordNode* def = nullptr;
  if (found) {
    // The definition is stored before its first use; the nearest one before
    // the cell wins over later redefinitions.
    for (const RTRecordNode* n = cell; n; n = n->prev)
      if (n->signature == kSigPab && U16(n->data, n->length, h::kPabId) == id) {
        def = n;
        break;
      }
    if (!def)
      for (const RTRecordNode* n = cell; n; n = n->next)
        if (n->signature == kSigPab && U16(n->data, n->length, h::kPabId) == id) {
          def = n;
          break;
        }
  }
  const uint8_t* src = ctx->Compose.defaultParagraphDefinition;
  uint32_t len = U16(src, kPabFullLength, 2);
  if (def && def->length >= h::kPabFixed) {
    src = def->data;
    len = def->length;
  }
  if (len > kPabFullLength) len = kPabFullLength;
  if (len < h::kPabFixed) len = h::kPabFixed;
  std::memcpy(out, src, len);
  Put16(out, 2, uint16_t(len));
  return uint16_t(len);
}

// The distance from a cell's left edge (its left margin, a position in the
// table) to where the paragraphs of its column start; 0 when the definition
// does not lie inside the cell (the item's default, say).
uint16_t ColumnOffset(const uint8_t* definition, const uint8_t* cell, uint32_t cellLength) {
  const uint16_t start = U16(definition, kPabFullLength, h::kPabLeftMargin);
  const uint16_t left = U16(cell, cellLength, kCellLeft), right = U16(cell, cellLength, kCellRight);
  return start >= left && start < right ? uint16_t(start - left) : 0;
}

NnStatus MergeCells(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                    RecordEmission* out) {
  TableTextOpsState& t = ctx->TableText;
  if (IsCell(sig)) {
    if (t.CellDepth < 0) t.CellDepth = ctx->TableBeginCount;
    if (ctx->TableBeginCount != t.CellDepth || len < kCellLength) return 0;  // a nested table's cell
    const uint32_t row = uint32_t(data[kCellRow]) + 1, col = uint32_t(data[kCellColumn]) + 1;
    const uint32_t r1 = ctx->SubCode, r2 = ctx->Number2, c1 = ctx->Number1, c2 = ctx->Number3;
    // 1.
    if (row < r1 || row > r2 || col < c1 || col > c2) {
      t.MergedContent = 0;
      return 0;
    }
    // 2.
    if ((data[kCellFlags] & (kCellMergedBelow | kCellMergedRight)) || data[kCellRowSpan] >= 2 ||
        data[kCellColumnSpan] >= 2)
      return NN_ERR_CATASTROPHIC;
    uint8_t* cell = SmallCopy(data, sig, len, ctx, out);
    if (!cell) return NN_ERR_CD_STRUCTURE;
    // 3.
    if (row < r2)
      cell[kCellFlags] = uint8_t(cell[kCellFlags] | kCellMergedBelow);
    else if (col < c2)
      cell[kCellFlags] = uint8_t(cell[kCellFlags] | kCellMergedRight);
    MarkModified(ctx);
    const bool first = row == r1 && col == c1, last = row == r2 && col == c2;
    if (first) {
      // 4. The merged cell's paragraph spans the range: it starts at the
      // first cell's left edge.
      t.MergedDefinitionLength = CellParagraphDefinition(ctx->CurrentNode, ctx, t.MergedDefinition);
      // The column's offset: how far its paragraphs start inside the cell.
      // The merged paragraph starts that far inside the first cell and ends
      // that far inside the last one.
      t.MergedColumnOffset = ColumnOffset(t.MergedDefinition, cell, len);
      const uint16_t left = uint16_t(t.MergedColumnOffset + U16(cell, len, kCellLeft));
      Put16(t.MergedDefinition, h::kPabLeftMargin, left);
      Put16(t.MergedDefinition, h::kPabFirstLineLeftMargin, left);
      t.MergedContent = 0;
    }
    if (last) {
      // 5.
      if (!first && t.MergedDefinitionLength == 0) {
        t.MergedDefinitionLength =
            CellParagraphDefinition(ctx->CurrentNode, ctx, t.MergedDefinition);
        t.MergedColumnOffset = ColumnOffset(t.MergedDefinition, cell, len);
      }
      cell[kCellRowSpan] = uint8_t(r2 - r1 + 1);
      cell[kCellColumnSpan] = uint8_t(c2 - c1 + 1);
      const uint16_t right = U16(cell, len, kCellRight);
      Put16(t.MergedDefinition, h::kPabRightMargin,
            uint16_t(right > t.MergedColumnOffset ? right - t.MergedColumnOffset : 0));
      Put16(t.MergedDefinition, h::kPabId, uint16_t(col - 1 + 1 + 1000));
      static const uint8_t paragraph[2] = {129, 2};
      uint8_t reference[4] = {131, 4};
      Put16(reference, h::kPabReferenceId, uint16_t(col - 1 + 1 + 1000));
      NnStatus st = AppendRecord(cell, sig, len, &ctx->Compose);
      if (st == 0) st = AppendRecord(paragraph, 129, 2, &ctx->Compose);
      if (st == 0)
        st = AppendRecord(t.MergedDefinition, kSigPab, t.MergedDefinitionLength, &ctx->Compose);
      if (st == 0) st = AppendRecord(reference, 131, 4, &ctx->Compose);
      if (st) return st;
      out->length = 0;
      t.MergedContent = 1;
      ctx->TargetDone = 1;
      return 0;
    }
    if (!first) {
      // 7.
      t.MergedContent = 0;
      cell[kCellRowSpan] = 1;
      cell[kCellColumnSpan] = 1;
    }
    return 0;
  }
  // 6. The merged cell's own paragraph start and first reference give way
  // to the ones written with it.
  if (t.MergedContent && ctx->TableBeginCount == t.CellDepth) {
    if (sig == 129) {
      out->length = 0;
    } else if (sig == 131) {
      out->length = 0;
      t.MergedContent = 0;
    }
  }
  return 0;
}

// ---- 2406 unmerge -----------------------------------------------------------------

void UnmergeCells(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                  RecordEmission* out) {
  if (!IsCell(sig) || len < kCellLength || !OwnCellRecord(sig, ctx)) return;
  uint8_t* cell = SmallCopy(data, sig, len, ctx, out);
  if (!cell) return;
  cell[kCellFlags] = uint8_t(cell[kCellFlags] & ~(kCellMergedBelow | kCellMergedRight));
  cell[kCellRowSpan] = 1;
  cell[kCellColumnSpan] = 1;
  MarkModified(ctx);
}

// ---- 2422 set HTML value ----------------------------------------------------------

// The string slot (0 ID, 1 Class, 2 Style, 3 Title, 4 Other, 5 Name) a
// sub-code chooses.
uint32_t AttributeSlot(uint32_t subCode) {
  switch (subCode) {
    case 1: return 5;
    case 2: return 0;
    case 3: return 1;
    case 4: return 2;
    case 5: return 3;
    default: return 4;
  }
}

// Replaces the chosen string of an attribute record. A value equal to the
// stored one leaves the record as it is.
NnStatus ReplaceAttribute(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                          RecordEmission* out) {
  const char* value = ctx->Text2 ? ctx->Text2 : "";
  std::vector<uint8_t> rec(data, data + len);
  // Lengths that overrun the record leave it as it is.
  if (!SetHtmlAttrValue(&rec, AttributeSlot(ctx->SubCode), value, std::strlen(value)) ||
      (rec.size() == len && std::memcmp(rec.data(), data, len) == 0))
    return 0;
  return EmitInstead(rec, sig, ctx, out);
}

// A new attribute record holding only the chosen string, appended before the
// record in hand.
NnStatus WriteNewAttribute(uint16_t attrSig, RTProcessContext* ctx) {
  const char* value = ctx->Text2 ? ctx->Text2 : "";
  const size_t valueLen = std::strlen(value);
  if (valueLen == 0) return 0;  // an empty value is what the missing record reads
  const size_t len = (kAttrHead + valueLen + 1) & ~size_t(1);
  if (len > kMaxRecordLength) return NN_ERR_MEMORY;
  auto* rec = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, len, true));
  if (!rec) return NN_ERR_MEMORY;
  Put16(rec, 0, attrSig);
  Put16(rec, 2, uint16_t(len));
  Put16(rec, 4 + 2 * AttributeSlot(ctx->SubCode), uint16_t(valueLen));
  std::memcpy(rec + kAttrHead, value, valueLen);
  NnStatus st = AppendRecord(rec, attrSig, uint32_t(len), &ctx->Compose);
  PoolFree(ctx->Session, rec);
  if (st) return st;
  MarkModified(ctx);
  return 0;
}

// A cell's attribute record closes its content. The cells acted on are those
// of the table the target's first cell belongs to; a cell of the target that
// had none gets one where its content ends (the last cell of the target gets
// it at the element's end, unless it had its own).
NnStatus SetCellHtmlValue(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                          RecordEmission* out) {
  TableTextOpsState& t = ctx->TableText;
  if (IsCell(sig) && t.CellDepth < 0) t.CellDepth = ctx->TableBeginCount;
  if (t.CellDepth < 0) return 0;
  const bool own = ctx->TableBeginCount == t.CellDepth;
  const bool ownEnd = IsTableEnd(sig) && ctx->TableBeginCount + 1 == t.CellDepth;
  if (sig == kSigCellAttr && own && t.HtmlCellOpen) {
    t.HtmlCellSeen = 1;
    ctx->InsertOnceDone |= 0x1;
    return ReplaceAttribute(data, sig, len, ctx, out);
  }
  if ((IsCell(sig) && own) || ownEnd) {
    NnStatus st = 0;
    if (t.HtmlCellOpen && !t.HtmlCellSeen) st = WriteNewAttribute(kSigCellAttr, ctx);
    if (st) return st;
    if (t.HtmlCellSeen) ctx->InsertOnceDone &= ~0x1u;
    t.HtmlCellOpen = IsCell(sig) ? 1 : 0;
    t.HtmlCellSeen = 0;
  }
  return 0;
}

NnStatus SetHtmlValue(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                      RecordEmission* out) {
  switch (ctx->Number1) {
    case 0: {
      // The element the target starts with: its own record, where it has one.
      TableTextOpsState& t = ctx->TableText;
      const RTRecordNode* node = ctx->CurrentNode;
      if (!node || node->data != data) return 0;
      if (!t.HtmlOwnKnown && OwnAttributes(node, 0, &t.HtmlOwn)) t.HtmlOwnKnown = 1;
      return t.HtmlOwn && node == t.HtmlOwn ? ReplaceAttribute(data, sig, len, ctx, out) : 0;
    }
    case 1:
      // The table's value is one key of its properties, set as ChangeTable sets them.
      return ChangeTable(data, sig, len, ctx, out);
    case 2:
      return SetCellHtmlValue(data, sig, len, ctx, out);
    default:
      return 0;
  }
}

// ---- the family ---------------------------------------------------------------------

bool Record(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx, RecordEmission* out,
            NnStatus* status) {
  switch (ctx->OperationCode) {
    case 2413:
      *status = ChangeTable(data, sig, len, ctx, out);
      return true;
    case 2393:
      *status = CellBorders(data, sig, len, ctx, out);
      return true;
    case kStepCellColorGet:
      CellColorGet(data, sig, len, ctx);
      return true;
    case 2394:
      *status = CellColorSet(data, sig, len, ctx, out);
      return true;
    case 2405:
      *status = MergeCells(data, sig, len, ctx, out);
      return true;
    case 2406:
      UnmergeCells(data, sig, len, ctx, out);
      return true;
    case 2422:
      *status = SetHtmlValue(data, sig, len, ctx, out);
      return true;
    default:
      return false;
  }
}

// ChangeTable reads its keys before anything is walked: a key no table
// field sets refuses the call with the item as it was.
bool Setup(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode == 2422 && ctx->Number1 == 1) {
    // The table's HTML value: its key of the table properties (19 for the ID).
    ctx->TableText.TableChangeAsked = TableKeyChange(19 + AttributeSlot(ctx->SubCode), ctx->Text2);
    *status = 0;
    return true;
  }
  if (ctx->OperationCode != 2413) return false;
  *status = ParseTableChange(ctx->Text1, true, &ctx->TableText.TableChangeAsked);
  return true;
}

// The cell colour's last cell closes with the target.
bool ElementEnd(uint8_t*, uint16_t, uint32_t, RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != 2394) return false;
  *status = CloseCellColor(ctx);
  return true;
}

const OperationFamily kTableOps = {"tables", Setup, nullptr, nullptr, Record, ElementEnd, nullptr};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kTableOps);
