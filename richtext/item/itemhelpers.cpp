// Table-cell positions, attachments named by file hotspots, appending another
// item's records, the note's link table and the alternate editor settings.
#include "richtext/item/itemhelpers.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/noteops.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace {

namespace H = kv::cd::host;

constexpr uint16_t kSigTableBegin = 163, kSigTableCell = 164, kSigTableEnd = 165;
constexpr uint16_t kSigNestedBegin = 207, kSigNestedCell = 208, kSigNestedEnd = 209;
constexpr uint16_t kSigPab = 0xFF82, kSigPabRef = 0x0083, kSigPabFormulaRef = 0x00BC;
constexpr uint16_t kSigPabHide = 0xFFBB, kSigStyleName = 0x00A6;
constexpr uint32_t kCellRow = 2, kCellRowSpan = 14, kCellColumnSpan = 15;
constexpr uint32_t kLinkEntrySize = 40;

// The grid of one table as its cells arrive in record order.
struct TableGrid {
  bool haveCell = false;
  uint8_t storedRow = 0;
  uint32_t row = 0;
  uint32_t nextColumn = 0;
  uint32_t cellRow = 0, cellColumn = 0;   // the last cell placed
  std::vector<uint32_t> coveredUntil;     // per column: first row no longer covered
};

void PlaceCell(TableGrid* g, const RTRecordNode* n) {
  uint8_t storedRow = 0, rowSpan = 1, columnSpan = 1;
  kv::cd::ReadU8(n->data, n->length, kCellRow, &storedRow);
  kv::cd::ReadU8(n->data, n->length, kCellRowSpan, &rowSpan);
  kv::cd::ReadU8(n->data, n->length, kCellColumnSpan, &columnSpan);
  if (rowSpan < 1) rowSpan = 1;
  if (columnSpan < 1) columnSpan = 1;
  uint32_t column = 0;
  if (!g->haveCell) {
    g->row = 0;
  } else if (storedRow != g->storedRow) {
    ++g->row;
  } else {
    column = g->nextColumn;
  }
  while (column < g->coveredUntil.size() && g->coveredUntil[column] > g->row) ++column;
  if (g->coveredUntil.size() < column + columnSpan) g->coveredUntil.resize(column + columnSpan, 0);
  for (uint32_t c = column; c < column + columnSpan; ++c)
    g->coveredUntil[c] = std::max(g->coveredUntil[c], g->row + rowSpan);
  g->haveCell = true;
  g->storedRow = storedRow;
  g->cellRow = g->row;
  g->cellColumn = column;
  g->nextColumn = column + columnSpan;
}

bool IsFileHotspot(const RTRecordNode* n, std::string* name) {
  if ((n->signature != 0xFFA9 && n->signature != 0xFFAD) || !n->data) return false;
  uint16_t type = 0, dataLength = 0;
  if (!kv::cd::ReadU16(n->data, n->length, H::kHotspotType, &type) ||
      !kv::cd::ReadU16(n->data, n->length, H::kHotspotDataLength, &dataLength))
    return false;
  if (type != 4 && type != 10) return false;
  if (n->length <= H::kHotspotFixed) return false;
  uint32_t end = std::min<uint32_t>(n->length, H::kHotspotFixed + uint32_t(dataLength));
  const char* p = reinterpret_cast<const char*>(n->data + H::kHotspotFixed);
  uint32_t avail = end > H::kHotspotFixed ? end - H::kHotspotFixed : 0;
  const void* nul = std::memchr(p, 0, avail);
  if (!nul) return false;
  size_t len = static_cast<const char*>(nul) - p;
  if (len == 0) return false;
  name->assign(p, len);
  return true;
}

bool ContainsName(const std::vector<std::string>& names, const std::string& name) {
  for (const auto& n : names)
    if (strcasecmp(n.c_str(), name.c_str()) == 0) return true;
  return false;
}

uint32_t Sequence(const RTRecordNode* n, uint32_t ordinal) { return n->sequence ? n->sequence : ordinal; }

// Host offsets of the paragraph ids a record carries (up to two).
uint32_t ParagraphIdOffsets(uint16_t sig, int32_t offsets[2]) {
  switch (sig) {
    case kSigPab:
      offsets[0] = int32_t(H::kPabId);
      return 1;
    case kSigPabRef:
      offsets[0] = int32_t(H::kPabReferenceId);
      return 1;
    case kSigPabFormulaRef:
      offsets[0] = kv::cd::HostFieldOffset(sig, "source_pab_id");
      offsets[1] = kv::cd::HostFieldOffset(sig, "dest_pab_id");
      return 2;
    case kSigPabHide:
    case kSigStyleName:
      offsets[0] = kv::cd::HostFieldOffset(sig, "pab_id");
      return 1;
    default:
      return 0;
  }
}

// Calls fn(offset) for the face byte of every font identifier of the record.
template <typename Fn>
void ForEachFaceByte(const RTRecordNode* n, Fn fn) {
  const kv::cd::RecordLayout* layout = kv::cd::FindRecordLayout(n->signature);
  if (!layout) return;
  for (const auto& f : layout->Fields()) {
    if (f.type != kv::cd::FieldType::FontId) continue;
    for (uint32_t k = 0; k < f.count; ++k) {
      uint32_t off = uint32_t(f.hostOffset) + 4u * k;
      if (off + 4 <= n->length) fn(off);
    }
  }
}

}  // namespace

NnStatus LocateTableCell(uint32_t recordNumber, const RecordList* list, uint16_t* row,
                         uint16_t* column) {
  if (!list || !row || !column || recordNumber == 0) return NN_ERR_INVALID_ARG;
  std::vector<TableGrid> tables;
  uint32_t ordinal = 0;
  for (const RTRecordNode* n = list->first; n; n = n->next) {
    ++ordinal;
    bool target = Sequence(n, ordinal) == recordNumber;
    uint16_t sig = n->signature;
    if (sig == kSigTableBegin || sig == kSigNestedBegin) {
      if (!target) tables.emplace_back();
    } else if ((sig == kSigTableCell || sig == kSigNestedCell) && n->data && !tables.empty()) {
      PlaceCell(&tables.back(), n);
    } else if (sig == kSigTableEnd || sig == kSigNestedEnd) {
      if (!tables.empty()) tables.pop_back();
    }
    if (!target) continue;
    // A table's begin or end record belongs to the cell that holds the table.
    if (tables.empty() || !tables.back().haveCell) return NN_ERR_INVALID_ARG;
    const TableGrid& g = tables.back();
    if (g.cellRow > 0xFFFF || g.cellColumn > 0xFFFF) return NN_ERR_INVALID_ARG;
    *row = uint16_t(g.cellRow);
    *column = uint16_t(g.cellColumn);
    return NN_OK;
  }
  return NN_ERR_INVALID_ARG;
}

// The file names that hotspots of the note's other composite items show
// (their stored, canonical records: a hotspot's type at 4, its data length
// at 10, its data from 12).
static void NamesShownElsewhere(const TorvoRTItem* item, std::vector<std::string>* names) {
  const uint32_t count = NnNoteItemCount(item->hNote);
  for (uint32_t i = 0; i < count; ++i) {
    NnItemDesc d;
    if (NnNoteItemAt(item->hNote, i, &d) != NN_OK || d.type != NN_TYPE_COMPOSITE ||
        strcasecmp(d.name.c_str(), item->itemName) == 0)
      continue;
    const uint8_t* v = static_cast<const uint8_t*>(NnBlockLock(d.value));
    if (!v || d.valueLen < 2) {
      if (v) NnBlockUnlock(d.value);
      continue;
    }
    const uint8_t* p = v + 2;
    size_t avail = d.valueLen - 2;
    while (avail > 0) {
      uint16_t sig = 0;
      kv::cd::HeaderKind kind;
      uint32_t len = 0, header = 0;
      if (!kv::cd::ReadCanonicalHeader(p, avail, &sig, &kind, &len, &header) || len < header ||
          len > avail)
        break;
      uint16_t type = 0, dataLength = 0;
      if ((sig == 0xFFA9 || sig == 0xFFAD) && kv::cd::ReadU16(p, len, 4, &type) &&
          (type == 4 || type == 10) && kv::cd::ReadU16(p, len, 10, &dataLength) && len > 12) {
        const uint32_t n = std::min<uint32_t>(len - 12, dataLength);
        const char* text = reinterpret_cast<const char*>(p + 12);
        const void* nul = std::memchr(text, 0, n);
        std::string name(text, nul ? size_t(static_cast<const char*>(nul) - text) : n);
        if (!name.empty() && !ContainsName(*names, name)) names->push_back(name);
      }
      const size_t step = len + (len % 2);
      if (step >= avail) break;
      p += step;
      avail -= step;
    }
    NnBlockUnlock(d.value);
  }
}

uint32_t DeleteReferencedObjects(TorvoRTItem* item, const RecordList* list, uint32_t first,
                                 uint32_t last) {
  if (!item || !item->hNote || !list || first > last) return 0;
  std::vector<std::string> inside, outside;
  uint32_t ordinal = 0;
  std::string name;
  for (const RTRecordNode* n = list->first; n; n = n->next) {
    ++ordinal;
    if (!IsFileHotspot(n, &name)) continue;
    uint32_t seq = Sequence(n, ordinal);
    auto& set = (seq >= first && seq <= last) ? inside : outside;
    if (!ContainsName(set, name)) set.push_back(name);
  }
  // An object another rich-text item of the note still shows stays.
  if (!inside.empty()) NamesShownElsewhere(item, &outside);
  uint32_t deleted = 0;
  for (const auto& file : inside) {
    if (ContainsName(outside, file)) continue;
    char stored[1024];
    if (kv::NoteFindAttachmentName(item->hNote, file.c_str(), 0, stored, sizeof stored) != NN_OK)
      continue;
    NnBlockId block;
    if (kv::NoteFindAttachmentInfo(item->hNote, stored, &block, nullptr, nullptr) != NN_OK)
      continue;
    if (NnItemDeleteByBlock(item->hNote, block) == NN_OK) ++deleted;
  }
  return deleted;
}

NnStatus AppendItemRecordsRenumbered(const RecordList* source, const TorvoRTItem* sourceItem,
                                     TorvoRTItem* target, ComposeContext* ctx,
                                     NnHandle sourceNote) {
  if (!source || !ctx) return NN_ERR_INVALID_ARG;
  // Paragraph ids go above every id the target already uses.
  uint32_t base = HighestParagraphId(ctx->newList);
  if (target && target->context)
    base = std::max<uint32_t>(base, HighestParagraphId(target->context->records));
  if (ctx->nextParagraphId) base = std::max<uint32_t>(base, ctx->nextParagraphId - 1u);
  uint32_t highestSource = 0;
  bool used[256] = {};
  for (const RTRecordNode* n = source->first; n; n = n->next) {
    if (!n->data || (n->flags & kNodeDrop)) continue;
    int32_t offs[2] = {-1, -1};
    uint32_t k = ParagraphIdOffsets(n->signature, offs);
    for (uint32_t i = 0; i < k; ++i) {
      uint16_t id = 0;
      if (offs[i] >= 0 && kv::cd::ReadU16(n->data, n->length, uint32_t(offs[i]), &id))
        highestSource = std::max<uint32_t>(highestSource, id);
    }
    ForEachFaceByte(n, [&](uint32_t off) { used[n->data[off]] = true; });
  }
  if (base + highestSource > 0xFFFF) return NN_ERR_CD_STRUCTURE;

  // Fonts: the same face name in the target, added there when absent.
  for (uint32_t id = 0; id < 256; ++id) ctx->faceMap[id] = uint8_t(id);
  if ((sourceItem || sourceNote) && target) {
    std::vector<FontFace> faces(kFontTableSize + 1);
    if (sourceItem && sourceItem->context)
      std::copy(sourceItem->context->faces, sourceItem->context->faces + kFontTableSize + 1,
                faces.begin());
    else
      ReadFaceTable(sourceNote, faces.data());
    for (uint32_t id = 0; id < 256; ++id) {
      if (!used[id] || !faces[id].inUse) continue;
      int mapped = target->FindFaceByName(faces[id].name, true);
      if (mapped >= 0) ctx->faceMap[id] = uint8_t(mapped);
    }
  }
  ctx->faceMapActive = 1;

  std::vector<uint8_t> copy;
  uint16_t depth = ctx->composedTables;  // where the copy lands
  for (const RTRecordNode* n = source->first; n; n = n->next) {
    if (!n->data || (n->flags & kNodeDrop)) continue;
    copy.assign(n->data, n->data + n->length);
    // A table copied to another depth takes that depth's signatures: a top
    // level table in a cell nests, a nested one on its own stands at the top.
    uint16_t sig = n->signature;
    const bool begins = sig == 163 || sig == 207, ends = sig == 165 || sig == 209;
    if (begins) ++depth;
    if (begins || ends || sig == 164 || sig == 208) {
      const bool nested = depth > 1;
      sig = begins ? (nested ? 207 : 163) : ends ? (nested ? 209 : 165) : (nested ? 208 : 164);
      copy[0] = uint8_t(sig);
    }
    if (ends && depth) --depth;
    ForEachFaceByte(n, [&](uint32_t off) { copy[off] = ctx->faceMap[copy[off]]; });
    int32_t offs[2] = {-1, -1};
    uint32_t k = ParagraphIdOffsets(n->signature, offs);
    for (uint32_t i = 0; i < k; ++i) {
      uint16_t id = 0;
      if (offs[i] < 0 || !kv::cd::ReadU16(copy.data(), copy.size(), uint32_t(offs[i]), &id) ||
          id == 0)
        continue;
      uint16_t renumbered = uint16_t(id + base);
      std::memcpy(copy.data() + offs[i], &renumbered, 2);
    }
    NnStatus st = AppendRecord(copy.data(), sig, n->length, ctx);
    if (st != NN_OK) return st;
  }
  uint32_t next = base + highestSource + 1;
  if (next <= 0xFFFF && next > ctx->nextParagraphId) ctx->nextParagraphId = uint16_t(next);
  return NN_OK;
}

NnStatus ResolveLinksReference(NnHandle hNote, LinkIdentifiers* out, uint16_t index, int, int) {
  if (!hNote || !out) return NN_ERR_INVALID_ARG;
  NnBlockId value;
  uint16_t type = 0;
  uint32_t len = 0;
  if (NnItemInfo(hNote, "$Links", 6, nullptr, &type, &value, &len) != NN_OK ||
      type != kTypeLinkTable || len < 4)
    return NN_ERR_INVALID_ARG;
  const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
  if (!p) return NN_ERR_INVALID_ARG;
  const uint8_t* table = p + 2;   // past the type word
  uint32_t size = len - 2;
  uint16_t count = uint16_t(table[0] | (table[1] << 8));
  NnStatus st = NN_ERR_INVALID_ARG;
  uint64_t end = 2 + (uint64_t(index) + 1) * kLinkEntrySize;
  if (index < count && end <= size) {
    const uint8_t* e = table + 2 + uint32_t(index) * kLinkEntrySize;
    bool allZero = true;
    for (uint32_t i = 0; i < kLinkEntrySize; ++i)
      if (e[i]) allZero = false;
    if (!allZero) {
      auto word = [e](uint32_t off) {
        return uint32_t(e[off]) | uint32_t(e[off + 1]) << 8 | uint32_t(e[off + 2]) << 16 |
               uint32_t(e[off + 3]) << 24;
      };
      out->replicaId.Innards[0] = word(0);
      out->replicaId.Innards[1] = word(4);
      out->viewId.File.Innards[0] = word(8);
      out->viewId.File.Innards[1] = word(12);
      out->viewId.Note.Innards[0] = word(16);
      out->viewId.Note.Innards[1] = word(20);
      out->noteId.File.Innards[0] = word(24);
      out->noteId.File.Innards[1] = word(28);
      out->noteId.Note.Innards[0] = word(32);
      out->noteId.Note.Innards[1] = word(36);
      st = NN_OK;
    }
  }
  NnBlockUnlock(value);
  return st;
}

NnStatus TorvoRTItem::SetupAlternateEditor(const char* editorName, const char* fieldName,
                                           uint16_t fieldNameLength,
                                           const char* defaultEditorName) {
  if (!hNote || !fieldName) return NN_ERR_INVALID_ARG;
  size_t len = strnlen(fieldName, fieldNameLength);
  if (len == 0) return NN_ERR_INVALID_ARG;
  const char* editor = (editorName && *editorName) ? editorName
                       : defaultEditorName         ? defaultEditorName
                                                   : "";
  size_t editorLen = std::strlen(editor);
  if (editorLen > 0xFFFF) return NN_ERR_INVALID_ARG;
  NnStatus st = NnItemAppendTextList(hNote, "$KestrelvaultEditorFields", fieldName,
                                     uint16_t(len), false);
  if (st != NN_OK) return st;
  return NnItemSetText(hNote, "$KestrelvaultEditor", editor, uint16_t(editorLen));
}
