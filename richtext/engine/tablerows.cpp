#include "richtext/engine/tablerows.h"

#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace kv::tables {

namespace {

constexpr uint16_t kSigBegin = 221;
constexpr uint16_t kSigEnd = 222;
constexpr uint16_t kSigPreTable = 0xFFFB;
constexpr uint32_t kCellRow = 2;
constexpr uint32_t kCellRowSpan = 14;

uint16_t GroupObject(const RTRecordNode* n) {
  return n && (n->signature == kSigBegin || n->signature == kSigEnd)
             ? kv::cd::U16(n->data, n->length, 4)
             : 0;
}

// Does a cell of the table begun at `begin` (at its own level) span rows,
// over `row` when it is not negative?
bool SpansCover(RTRecordNode* begin, int row) {
  int nesting = 0;
  for (RTRecordNode* n = begin ? begin->next : nullptr; n; n = n->next) {
    if (IsTableBegin(n->signature)) ++nesting;
    if (IsTableEnd(n->signature) && nesting-- == 0) return false;
    if (nesting || !IsCell(n->signature)) continue;
    const int span = kv::cd::U8(n->data, n->length, kCellRowSpan);
    const int first = kv::cd::U8(n->data, n->length, kCellRow);
    if (span > 1 && (row < 0 || (first <= row && row < first + span))) return true;
  }
  return false;
}

}  // namespace

RTRecordNode* OpenTableBegin(RTRecordNode* last) {
  int nesting = 0;
  for (RTRecordNode* n = last; n; n = n->prev) {
    if (IsTableEnd(n->signature)) ++nesting;
    if (IsTableBegin(n->signature) && nesting-- == 0) return n;
  }
  return nullptr;
}

RTRecordNode* TableEndOf(RTRecordNode* begin) {
  int nesting = 0;
  for (RTRecordNode* n = begin ? begin->next : nullptr; n; n = n->next) {
    if (IsTableBegin(n->signature)) ++nesting;
    if (IsTableEnd(n->signature) && nesting-- == 0) return n;
  }
  return nullptr;
}

RTRecordNode* TableFrameStart(RTRecordNode* begin) {
  RTRecordNode* before = begin ? begin->prev : nullptr;
  if (before && before->signature == kSigPreTable) return before;
  if (!before || before->signature != kSigEnd || GroupObject(before) != kSigPreTable) return begin;
  RTRecordNode* group = RecordGroupBegin(before);
  return group && GroupObject(group) == kSigPreTable ? group : begin;
}

RTRecordNode* PreTableRecord(RTRecordNode* begin) {
  for (RTRecordNode* n = TableFrameStart(begin); n && n != begin; n = n->next)
    if (n->signature == kSigPreTable) return n;
  return nullptr;
}

bool TableSpansRows(RTRecordNode* begin) { return SpansCover(begin, -1); }

bool RowSpanned(RTRecordNode* begin, uint8_t row) { return SpansCover(begin, row); }

}  // namespace kv::tables
