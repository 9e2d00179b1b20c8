// The frame of the table around a record of a walked or composed list: its
// begin and end records, its pre-table group, and whether its cells span
// rows. Tables nest; each answer is about the table at the record's own level.
#pragma once

#include <cstdint>

struct RTRecordNode;

namespace kv::tables {

inline bool IsTableBegin(uint16_t s) { return s == 163 || s == 207; }
inline bool IsTableEnd(uint16_t s) { return s == 165 || s == 209; }
inline bool IsCell(uint16_t s) { return s == 164 || s == 208; }

// The begin record of the table open right after `last` (`last` itself when
// it begins one); null when none is.
RTRecordNode* OpenTableBegin(RTRecordNode* last);
inline const RTRecordNode* OpenTableBegin(const RTRecordNode* last) {
  return OpenTableBegin(const_cast<RTRecordNode*>(last));
}
// The end record of the table begun at `begin`; null when the list ends first.
RTRecordNode* TableEndOf(RTRecordNode* begin);
// The first record of the group that announces the table (BEGIN, pre-table
// record and its parts, END) right before `begin`; `begin` when it has none.
RTRecordNode* TableFrameStart(RTRecordNode* begin);
// The pre-table record (0xFFFB, which holds the row count) of the table begun
// at `begin`; null when it has none.
RTRecordNode* PreTableRecord(RTRecordNode* begin);
// Does a cell of the table begun at `begin` (not of a table nested in it)
// span more than one row?
bool TableSpansRows(RTRecordNode* begin);
// Does a cell of that table span rows over `row` (from 0), its own first row
// included?
bool RowSpanned(RTRecordNode* begin, uint8_t row);

}  // namespace kv::tables
