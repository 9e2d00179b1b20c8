// The table field map's operations (tablefields.h): finding a table's own
// records, writing its listing, and reading and applying a change through
// the keys of tablekeys.h.
#include "richtext/engine/tablefields.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "host/options.h"
#include "richtext/engine/propwriters.h"
#include "richtext/engine/tablekeys.h"
#include "richtext/engine/tablerows.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace {

using namespace tablekeys;
using kv::tables::IsCell;
using kv::tables::IsTableBegin;
using kv::tables::IsTableEnd;

constexpr auto W = kv::cd::U16;
uint16_t Kind(uint16_t sig) { return sig == 207 ? kBegin : sig; }
constexpr uint32_t Bit(int i) { return 1u << i; }

// The map and its size (its fields fit a 64-bit set).
size_t FieldCount() {
  size_t n = 0;
  TableFieldMap(&n);
  return n;
}
const TableField* FieldMap() {
  size_t n = 0;
  return TableFieldMap(&n);
}

bool Asks(const TableField& f, uint32_t selector) {
  if (f.index < 0) return false;
  return selector == kTableListingAll || selector == uint32_t(f.index) ||
         (selector < 32 && (f.alsoAsked & Bit(int(selector))));
}

bool Names(const TableField& f, const char* key, size_t n) {
  for (const char* const* list : {f.keys, f.subKeys})
    for (int i = 0; i < 2; ++i)
      if (list[i] && std::strlen(list[i]) == n && strncasecmp(list[i], key, n) == 0) return true;
  return false;
}

// The rows of one key: every row with the field's index (a set-only row alone).
bool SameKey(const TableField& a, const TableField& b) {
  return &a == &b || (a.index >= 0 && a.index == b.index);
}

// A record of the kind, new: the attribute and row-cycle records a table
// may be given; null for the kinds a table cannot be given.
bool NewRecord(uint16_t kind, Bytes* rec) {
  if (kind == kIdName) {
    rec->assign(kIdNameHead, 0);
    kv::cd::Put16(rec->data(), 0, kIdName);
    kv::cd::Put16(rec->data(), 2, uint16_t(kIdNameHead));
    return true;
  }
  if (kind == kRowCycle) {
    rec->assign(16, 0);
    (*rec)[0] = uint8_t(kRowCycle);
    (*rec)[1] = 16;
    return true;
  }
  return false;
}

// The field's value as the record shows it (its key asked alone).
std::string Reading(const TableField& f, const uint8_t* rec, uint32_t len, const FieldContext& c) {
  char text[kOptionValueMax + 1];
  PropText out(text, sizeof text);
  if (f.write) f.write(rec, len, &out, true, c);
  return std::string(text, out.length);
}

FieldContext ContextOf(const TorvoRTItem* item) {
  return FieldContext{ItemColorNaming(item), item};
}

const RTRecordNode* PartOf(const TableParts& parts, uint16_t kind) {
  switch (kind) {
    case kPreTable: return parts.preTable;
    case kTabs: return parts.tabs;
    case kIdName: return parts.attributes;
    case kBegin: return parts.begin;
    case kRowCycle: return parts.rowCycle;
    default: return nullptr;
  }
}

}  // namespace

// ---- finding a table's parts ------------------------------------------------------

bool StartsTable(const RTRecordNode* node) {
  if (!node) return false;
  if (node->signature == kPreTable || IsTableBegin(node->signature)) return true;
  return node->signature == 221 && W(node->data, node->length, 4) == kPreTable;
}

bool FindTableParts(const RTRecordNode* first, TableParts* parts) {
  *parts = TableParts();
  if (!StartsTable(first)) return false;
  const RTRecordNode* n = first;
  if (IsTableBegin(n->signature)) {
    // A begin may follow its pre-table group: up to its 0xFFFB.
    int steps = 0;
    for (const RTRecordNode* p = n->prev; p && steps < 16 && !parts->preTable;
         p = p->prev, ++steps) {
      const uint16_t s = p->signature;
      if (s == kPreTable)
        n = parts->preTable = p;
      else if (s != 221 && s != 222 && s != kTabs && s != kIdName && s != 0xFFFC)
        break;
    }
  }
  // The pre-table group: its records up to the begin.
  int steps = 0;
  for (; n && steps < 64 && !IsTableBegin(n->signature); n = n->next, ++steps) {
    const uint16_t s = n->signature;
    if (s == kPreTable && !parts->preTable)
      parts->preTable = n;
    else if (s == kTabs && !parts->tabs)
      parts->tabs = n;
    else if (s == kIdName && !parts->attributes)
      parts->attributes = n;
    else if (s == 164 || s == 208 || IsTableEnd(s))
      return false;
  }
  if (!n || !IsTableBegin(n->signature)) return false;
  parts->begin = n;
  // The cells, down to the table's own end; nested tables are passed over.
  // An attribute record between the begin and the first cell is the table's
  // too (where an item without a pre-table group keeps it).
  int depth = 0;
  bool inCells = false;
  for (n = n->next; n; n = n->next) {
    const uint16_t s = n->signature;
    if (s == 164 || s == 208) inCells = true;
    if (!inCells && s == kIdName && !parts->attributes) parts->attributes = n;
    if (IsTableBegin(s)) {
      ++depth;
    } else if (IsTableEnd(s)) {
      if (depth-- == 0) {
        parts->end = n;
        break;
      }
    } else if (s == kRowCycle && depth == 0) {
      parts->rowCycle = n;
    }
  }
  return true;
}

namespace {

// The attribute record (0xFF7B) of the cell that `cell` opens: the one that
// closes its content, not one of a table nested in it.
const RTRecordNode* CellAttributes(const RTRecordNode* cell) {
  int depth = 0;
  for (const RTRecordNode* n = cell ? cell->next : nullptr; n; n = n->next) {
    const uint16_t s = n->signature;
    if (IsTableBegin(s)) ++depth;
    else if (IsTableEnd(s) && depth-- == 0) break;
    else if (depth == 0 && IsCell(s)) break;
    else if (depth == 0 && s == 0xFF7B) return n;
  }
  return nullptr;
}

}  // namespace

bool OwnAttributes(const RTRecordNode* node, uint32_t kind, const RTRecordNode** record) {
  *record = nullptr;
  if (!node) return false;
  const bool table = StartsTable(node), cell = IsCell(node->signature);
  const bool attributes = node->signature == 0xFF7A || node->signature == 0xFF7B;
  if (kind == 1 ? !table && !cell : kind == 2 ? !cell : !table && !cell && !attributes)
    return false;
  if (kind == 0 && attributes) {
    *record = node;
  } else if (cell && kind != 1) {
    *record = CellAttributes(node);
  } else {
    TableParts parts;
    if (FindTableParts(cell ? kv::tables::OpenTableBegin(node) : node, &parts)) *record = parts.attributes;
  }
  return true;
}

// ---- reading -------------------------------------------------------------------------

void WriteTableRecordFields(uint16_t signature, const uint8_t* rec, uint32_t len, PropText* out,
                            uint32_t selector, WrittenFlags* flags, const TorvoRTItem* item) {
  if (!rec || !out) return;
  const FieldContext c = ContextOf(item);
  for (size_t i = 0; i < FieldCount(); ++i) {
    const TableField& f = FieldMap()[i];
    if (f.record != Kind(signature) || !f.write || !Asks(f, selector)) continue;
    if (flags && flags->Test(uint32_t(f.index))) continue;
    f.write(rec, len, out, selector != kTableListingAll, c);
    if (flags) {
      flags->Set(uint32_t(f.index));
      for (int i = 0; i < 32; ++i)
        if (f.alsoAsked & Bit(i)) flags->Set(uint32_t(i));
    }
  }
}

void WriteTableListing(const TableParts& parts, PropText* out, uint32_t selector, bool withTabs,
                       const TorvoRTItem* item) {
  uint8_t block[kWrittenFlagCount] = {};
  WrittenFlags flags(block);
  for (uint16_t kind : {kPreTable, kTabs, kIdName, kBegin, kRowCycle}) {
    const RTRecordNode* n = PartOf(parts, kind);
    if (!n || (kind == kTabs && !withTabs)) continue;
    WriteTableRecordFields(kind, n->data, n->length, out, selector, &flags, item);
  }
}

// ---- setting -------------------------------------------------------------------------

TableChange TableKeyChange(uint32_t index, const char* value) {
  TableChange change;
  change.value = value ? value : "";
  change.valueIndex = int32_t(index);
  for (size_t i = 0; i < FieldCount(); ++i)
    if (FieldMap()[i].index == int32_t(index)) change.fields |= uint64_t(1) << i;
  return change;
}

NnStatus ParseTableChange(const char* options, bool strict, TableChange* change) {
  *change = TableChange();
  change->options = options;
  if (!options) return strict ? NnStatus(NN_ERR_INVALID_ARG) : NnStatus(0);
  const char* p = options;
  OptionPair pair;
  int r;
  while ((r = NextOptionPair(&p, &pair)) != 0) {
    if (r < 0) {
      if (strict) return NN_ERR_INVALID_ARG;
      continue;
    }
    bool known = false;
    for (size_t i = 0; i < FieldCount(); ++i)
      if (Names(FieldMap()[i], pair.key, pair.keyLength)) {
        change->fields |= uint64_t(1) << i;
        known = true;
      }
    if (!known && strict) return NN_ERR_INVALID_ARG;
  }
  return strict && !change->fields ? NnStatus(NN_ERR_INVALID_ARG) : NnStatus(0);
}

NnStatus EffectiveTableChange(const TableParts& parts, const TorvoRTItem* item, TableChange* change,
                              std::vector<uint16_t>* creates) {
  const FieldContext c = ContextOf(item);
  const uint64_t asked = change->fields;
  uint64_t effective = 0, decided = 0;
  for (size_t i = 0; i < FieldCount(); ++i) {
    const TableField& f = FieldMap()[i];
    if (!(asked & (uint64_t(1) << i)) || (decided & (uint64_t(1) << i))) continue;
    // The key is decided on its first record the table holds (the listing
    // reads it there), else on a new one where the table can be given one.
    uint64_t rows = 0;
    size_t first = FieldCount();
    for (size_t j = i; j < FieldCount(); ++j) {
      if (!SameKey(f, FieldMap()[j]) || !(asked & (uint64_t(1) << j))) continue;
      rows |= uint64_t(1) << j;
      if (first == FieldCount() && PartOf(parts, FieldMap()[j].record)) first = j;
    }
    decided |= rows;
    Bytes rec;
    bool made = false;
    if (first < FieldCount()) {
      const RTRecordNode* n = PartOf(parts, FieldMap()[first].record);
      rec.assign(n->data, n->data + n->length);
    } else if (NewRecord(f.record, &rec)) {
      first = i;
      made = true;
    } else {
      return NN_ERR_INVALID_ARG;
    }
    const TableField& key = FieldMap()[first];
    const Bytes old = rec;
    const std::string before = Reading(key, rec.data(), uint32_t(rec.size()), c);
    if (!key.set(rec, key, *change, c)) return NN_ERR_INVALID_ARG;
    // A key the table already reads with that value changes nothing.
    const bool differs =
        key.index < 0 ? rec != old : before != Reading(key, rec.data(), uint32_t(rec.size()), c);
    if (!differs) continue;
    effective |= rows;
    if (made && creates) creates->push_back(f.record);
  }
  change->fields = effective;
  return 0;
}

bool ApplyTableChange(uint16_t signature, std::vector<uint8_t>* rec, const TableChange& change,
                      const TorvoRTItem* item) {
  const FieldContext c = ContextOf(item);
  const Bytes old = *rec;
  for (size_t i = 0; i < FieldCount(); ++i) {
    const TableField& f = FieldMap()[i];
    if (f.record != Kind(signature) || !(change.fields & (uint64_t(1) << i))) continue;
    Bytes work = *rec;
    // A record that cannot take a value (a table begin asked for a tabbed
    // display its pre-table record holds) keeps its own.
    if (f.set(work, f, change, c)) *rec = std::move(work);
  }
  return *rec != old;
}

NnStatus ApplyTableOptions(uint16_t signature, uint8_t* record, uint32_t capacity,
                           const char* options, const TorvoRTItem* item) {
  if (!record || !options) return NN_ERR_INVALID_ARG;
  const uint32_t len = IsTableBegin(signature)  ? record[1]
                       : signature == kPreTable ? W(record, capacity, 2)
                                                : 0;
  if (len == 0 || len > capacity || (IsTableBegin(signature) && len < 14) ||
      (signature == kPreTable && len < 44))
    return NN_ERR_CD_STRUCTURE;
  TableChange change;
  ParseTableChange(options, false, &change);
  Bytes rec(record, record + len);
  ApplyTableChange(signature, &rec, change, item);
  if (rec.size() == len) std::memcpy(record, rec.data(), len);
  return 0;
}

NnStatus ApplyNewTableOptions(const char* options, const TorvoRTItem* item,
                              NewTableRecords* records) {
  TableChange change;
  ParseTableChange(options, false, &change);
  const FieldContext c = ContextOf(item);
  uint64_t taken = 0;
  for (size_t i = 0; i < FieldCount(); ++i) {
    const TableField& f = FieldMap()[i];
    if (!(change.fields & (uint64_t(1) << i))) continue;
    Bytes* rec = f.record == kPreTable   ? &records->preTable
                 : f.record == kBegin    ? &records->begin
                 : f.record == kIdName   ? &records->attributes
                 : f.record == kRowCycle ? &records->rowCycle
                                         : nullptr;
    if (!rec) continue;
    Bytes work = *rec;
    if (work.empty() && !NewRecord(f.record, &work)) continue;
    if (!f.set(work, f, change, c)) continue;
    *rec = std::move(work);
    taken |= uint64_t(1) << i;
  }
  // A key stands in several records (the width, the row display): one of
  // them taking it is enough.
  for (size_t i = 0; i < FieldCount(); ++i) {
    if (!(change.fields & (uint64_t(1) << i))) continue;
    bool anywhere = false;
    for (size_t j = 0; j < FieldCount() && !anywhere; ++j)
      anywhere = (taken & (uint64_t(1) << j)) && SameKey(FieldMap()[i], FieldMap()[j]);
    if (!anywhere) return NN_ERR_INVALID_ARG;
  }
  return 0;
}

bool IsTableKey(const char* key, size_t length) {
  for (size_t i = 0; i < FieldCount(); ++i)
    if (Names(FieldMap()[i], key, length)) return true;
  return false;
}
