// Sorting the rows of a table: the chunk method SortByRow, which runs one key
// collection (step 11) and one sort (operation 2396) per key, and the
// engine's re-emission of the sorted rows at the target.
//
// Key entries (kv::SortKeyEntry) name a row by its record range; an entry
// whose `reserved` word is 1 is a title row, which keeps its place.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/options.h"
#include "host/sortcmp.h"
#include "lsxsessi.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/tablerows.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kOpSortRows = 2396;
constexpr uint16_t kOpSortDrop = 2397;
constexpr NnStatus kStatusNotTable = 20020;
constexpr NnStatus kStatusNoSortKeys = 1026;
constexpr uint16_t kTitleRowFlag = 1;

const char* ModeWord(bool numeric, bool reverse) {
  if (numeric && reverse) return "Reverse Numeric";
  if (reverse) return "Reverse";
  if (numeric) return "Numeric";
  return "";
}

bool OptionIsYes(const char* options, const char* key) {
  char value[kOptionValueMax + 1];
  return GetOptionValue(options, key, value) && strcasecmp(value, "Yes") == 0;
}

bool Digits(const std::string& v) {
  return !v.empty() && v.size() < 6 && v.find_first_not_of("0123456789") == std::string::npos;
}

// Every key of the options is one SortByRow reads, with a value it can use:
// a sort word, a number of title rows, a column from 1, Yes or No.
bool SortOptionsUsable(const char* options) {
  const char* p = options;
  OptionPair pair;
  int r;
  while ((r = NextOptionPair(&p, &pair)) != 0) {
    if (r < 0) return false;
    const std::string key(pair.key, pair.keyLength), v(pair.value, pair.valueLength);
    auto is = [&](const char* word) { return strcasecmp(v.c_str(), word) == 0; };
    auto numbered = [&](const char* prefix) {
      const size_t n = std::strlen(prefix);
      return key.size() == n + 1 && strncasecmp(key.c_str(), prefix, n) == 0 && key[n] >= '1' &&
             key[n] <= '5';
    };
    bool usable;
    if (!strcasecmp(key.c_str(), "SortBy"))
      usable = is("TEXT") || is("TabLabel") || is("RowLabel");
    else if (!strcasecmp(key.c_str(), "TitleRows"))
      usable = Digits(v);
    else if (numbered("SecondaryCol") || numbered("SecondaryRow"))
      usable = Digits(v) && std::strtoul(v.c_str(), nullptr, 10) >= 1;
    else if (numbered("SecondaryReverse") || numbered("SecondaryNumeric"))
      usable = is("Yes") || is("No");
    else
      usable = false;
    if (!usable) return false;
  }
  return true;
}

// Whether the chunk's table has the column (from 1) in its first row.
bool HasColumn(TorvoRTChunk* table, uint32_t column) {
  const std::string cell = "Row 1; Column " + std::to_string(column);
  std::unique_ptr<TorvoRTChunk> sub(table->DefineSubChunk(cell.c_str()));
  return sub && sub->Exists();
}

// ---- the engine side: re-emission at the target ------------------------------

// The final order: title rows stay at their own index, the other rows follow
// the sorted order into the remaining places.
std::vector<const kv::SortKeyEntry*> FinalOrder(const kv::SortKeyEntry* keys, uint16_t count) {
  std::vector<const kv::SortKeyEntry*> byIndex(count, nullptr), order;
  std::vector<const kv::SortKeyEntry*> movable;
  for (uint16_t i = 0; i < count; ++i) {
    if (keys[i].reserved == kTitleRowFlag && keys[i].originalIndex < count)
      byIndex[keys[i].originalIndex] = &keys[i];
    else
      movable.push_back(&keys[i]);
  }
  size_t next = 0;
  for (uint16_t i = 0; i < count; ++i) {
    if (byIndex[i])
      order.push_back(byIndex[i]);
    else if (next < movable.size())
      order.push_back(movable[next++]);
  }
  while (next < movable.size()) order.push_back(movable[next++]);
  return order;
}

// The rows must be what the walk drops: disjoint ranges inside the list that,
// in their original order, follow one another without a gap and begin at the
// first record of the target. Anything else would lose or repeat records.
bool RangesAreSound(const kv::SortKeyEntry* keys, uint16_t count, uint32_t listCount,
                    uint32_t firstTargetRecord) {
  std::vector<const kv::SortKeyEntry*> byIndex(count, nullptr);
  for (uint16_t i = 0; i < count; ++i) {
    const kv::SortKeyEntry& e = keys[i];
    if (e.originalIndex >= count || byIndex[e.originalIndex]) return false;
    if (e.firstRecord == 0 || e.firstRecord > e.lastRecord || e.lastRecord > listCount)
      return false;
    byIndex[e.originalIndex] = &e;
  }
  if (count == 0 || byIndex[0]->firstRecord != firstTargetRecord) return false;
  for (uint16_t i = 1; i < count; ++i)
    if (byIndex[i]->firstRecord != byIndex[i - 1]->lastRecord + 1) return false;
  return true;
}

using kv::tables::IsCell;
using kv::tables::IsTableBegin;
using kv::tables::IsTableEnd;
constexpr uint32_t kCellRow = 2, kCellFixed = 16;

const RTRecordNode* RecordAt(const RTProcessContext* ctx, uint32_t number) {
  uint32_t n = 1;
  for (const RTRecordNode* node = ctx->Records ? ctx->Records->first : nullptr; node;
       node = node->next, ++n)
    if (n == number) return node;
  return nullptr;
}

// The row number the cells of a row carry (that of its first cell).
uint8_t RowNumberOf(const RTProcessContext* ctx, const kv::SortKeyEntry* e) {
  const RTRecordNode* node = RecordAt(ctx, e->firstRecord);
  return node && IsCell(node->signature) && node->length > kCellRow ? node->data[kCellRow] : 0;
}

// Appends the records numbered first..last (from 1) of the walked list; the
// cells of the row itself (not those of a table nested in it) take the row
// number `row`, so that a row is addressed by the place it sorted into.
NnStatus CopyRecordRange(RTProcessContext* ctx, uint32_t first, uint32_t last, uint8_t row) {
  uint32_t number = 1;
  int nesting = 0;
  for (RTRecordNode* node = ctx->Records ? ctx->Records->first : nullptr; node && number <= last;
       node = node->next, ++number) {
    if (number < first) continue;
    const uint16_t sig = node->signature;
    NnStatus st;
    if (IsCell(sig) && nesting == 0 && node->length >= kCellFixed &&
        node->data[kCellRow] != row) {
      std::vector<uint8_t> cell(node->data, node->data + node->length);
      cell[kCellRow] = row;
      st = AppendRecord(cell.data(), sig, node->length, &ctx->Compose);
    } else {
      st = AppendRecord(node->data, sig, node->length, &ctx->Compose);
    }
    if (st) return st;
    if (IsTableBegin(sig)) ++nesting;
    if (IsTableEnd(sig) && nesting > 0) --nesting;
  }
  return 0;
}

bool SortAtTarget(uint8_t*, uint16_t, uint32_t, RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != kOpSortRows && ctx->OperationCode != kOpSortDrop) return false;
  if (!ctx->WriteMode || !ctx->Positions || ctx->PositionCursor >= ctx->PositionCount) return true;
  const uint32_t listCount = ctx->Records ? ctx->Records->count : 0;
  if (!RangesAreSound(ctx->Positions, ctx->PositionCount, listCount, ctx->RecordNumber)) {
    *status = NN_ERR_CD_STRUCTURE;
    return true;
  }
  // A cell spanning rows would cover rows it never spanned once they move:
  // such a table is left as it is.
  RTRecordNode* begin =
      ctx->CurrentNode ? kv::tables::OpenTableBegin(ctx->CurrentNode->prev) : nullptr;
  if (!begin || kv::tables::TableSpansRows(begin)) {
    *status = NN_ERR_CD_STRUCTURE;
    return true;
  }
  // Every row is emitted at the first one: the target's rows are dropped as
  // the walk passes them. The row in place i takes the number of the row
  // that stood there.
  std::vector<uint8_t> rowNumbers(ctx->PositionCount, 0);
  for (uint16_t i = 0; i < ctx->PositionCount; ++i)
    rowNumbers[ctx->Positions[i].originalIndex] = RowNumberOf(ctx, &ctx->Positions[i]);
  size_t place = 0;
  for (const kv::SortKeyEntry* e : FinalOrder(ctx->Positions, ctx->PositionCount)) {
    NnStatus st = CopyRecordRange(ctx, e->firstRecord, e->lastRecord, rowNumbers[place++]);
    if (st) {
      *status = st;
      return true;
    }
  }
  ctx->PositionCursor = ctx->PositionCount;
  ctx->Item->modified = 1;
  return true;
}

const OperationFamily kSortFamily = {"sorting", nullptr, nullptr, SortAtTarget,
                                     nullptr,   nullptr, nullptr};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kSortFamily)

// ---- the chunk method -------------------------------------------------------------

uint16_t TorvoRTChunk::SortByRow(uint16_t column, int flag, int numeric, int reverse,
                                 const char* options) {
  // 1.
  lastStatus = 0;
  if (!session || !session->IsValid() || !item) return lastStatus = NN_ERR_INVALID_ARG;
  if (targetType != TABLE) return lastStatus = kStatusNotTable;
  // A table the item does not hold has no rows to sort: that is a failure,
  // not a sort that found no key.
  if (!Exists()) return lastStatus = NN_ERR_ITEM_NOT_FOUND;
  const char* opts = options ? options : "";
  // An option or a column that cannot be used is refused rather than read
  // as another: nothing is sorted then.
  if (column == 0 || !SortOptionsUsable(opts)) return lastStatus = NN_ERR_INVALID_ARG;
  // A column the table does not have holds no key: sorting by it would
  // change nothing and report success.
  if (!HasColumn(this, column)) return lastStatus = NN_ERR_INVALID_ARG;
  for (int i = 1; i <= 5; ++i)
    for (const char* form : {"SecondaryCol%d=", "SecondaryRow%d="}) {
      char key[32], value[kOptionValueMax + 1];
      std::snprintf(key, sizeof key, form, i);
      if (GetOptionValue(opts, key, value) &&
          !HasColumn(this, uint32_t(std::strtoul(value, nullptr, 10))))
        return lastStatus = NN_ERR_INVALID_ARG;
    }

  // 2.
  char value[kOptionValueMax + 1];
  const char* property = "TEXT";
  if (GetOptionValue(opts, "SortBy=", value) &&
      (strcasecmp(value, "TabLabel") == 0 || strcasecmp(value, "RowLabel") == 0))
    property = "TabLabel";
  uint32_t titleRows = 1;
  if (GetOptionValue(opts, "TitleRows=", value)) titleRows = uint32_t(std::strtoul(value, nullptr, 10));
  if (titleRows == 0) flag = 0;

  // One pass: collect the keys of a column, then reorder the rows by them.
  auto pass = [&](uint32_t col, bool passNumeric, bool passReverse) -> NnStatus {
    NnStatus st = RunFrame(STEP_SORT_KEYS, col ? col - 1 : 0, uint32_t(flag), titleRows, 0,
                           nullptr, property, nullptr, nullptr);
    if (st == 0)
      st = RunFrame(kOpSortRows, 0, 0, 0, 0, ModeWord(passNumeric, passReverse), opts, "Row *",
                    this);
    return lastStatus = st;
  };

  // 3. Least significant key first: a later pass decides, an earlier one
  // orders the rows whose later keys are equal (equal keys keep their order).
  for (int i = 5; i >= 1; --i) {
    char key[32];
    std::snprintf(key, sizeof key, "SecondaryCol%d=", i);
    bool present = GetOptionValue(opts, key, value);
    if (!present) {
      std::snprintf(key, sizeof key, "SecondaryRow%d=", i);
      present = GetOptionValue(opts, key, value);
    }
    if (!present) continue;
    uint32_t col = uint32_t(std::strtoul(value, nullptr, 10));
    std::snprintf(key, sizeof key, "SecondaryReverse%d=", i);
    bool passReverse = OptionIsYes(opts, key);
    std::snprintf(key, sizeof key, "SecondaryNumeric%d=", i);
    bool passNumeric = OptionIsYes(opts, key);
    NnStatus st = pass(col, passNumeric, passReverse);
    if (st == kStatusNoSortKeys) return lastStatus = 0;
    if (st) return lastStatus = st;
  }

  // 4, 5.
  NnStatus st = pass(column, numeric != 0, reverse != 0);
  if (st == kStatusNoSortKeys) st = 0;
  return lastStatus = st;
}
