// The table properties as one field map: each field names its keys, its index
// in the table's property list, the record that holds it, how it is written
// as Key=value text and how a value is set. The table listing
// (GetTableProperties, GetTargetProperties), ChangeTable and the table
// composer all go through it, so a key the listing writes is a key ChangeTable
// reads, and a key no field knows is refused in one place.
#pragma once

#include <cstdint>
#include <vector>

#include "nn/nn.h"

class TorvoRTItem;
struct PropText;
struct RTRecordNode;
struct WrittenFlags;

// Index that asks the listing for every key of a table.
constexpr uint32_t kTableListingAll = 29;

// The records that hold one table's own properties: those of its pre-table
// group and its begin, its own row-cycle record and its end; never those of
// a table nested in its cells. A part the table lacks is null.
struct TableParts {
  const RTRecordNode* preTable = nullptr;    // 0xFFFB
  const RTRecordNode* attributes = nullptr;  // 0xFF7A in the pre-table group
  const RTRecordNode* tabs = nullptr;        // 0xFF5C in the pre-table group
  const RTRecordNode* begin = nullptr;       // 163 or 207
  const RTRecordNode* rowCycle = nullptr;    // 225 between the begin and the end
  const RTRecordNode* end = nullptr;         // 165 or 209
};

// The parts of the table whose first record (its group's BEGIN, its 0xFFFB
// or its begin) is `first`; false when `first` starts no table.
bool FindTableParts(const RTRecordNode* first, TableParts* parts);

// Whether a record starts a table: a table begin, a pre-table record, or the
// BEGIN of a pre-table group.
bool StartsTable(const RTRecordNode* node);

// The attribute record of the element a target starts with at `node`, for
// an element kind (1 table, 2 cell, 0 whichever the node starts): a table's
// in its pre-table group (or right after its begin), a cell's where its
// content ends (a cell's table's for kind 1 at a cell), an attribute record
// standing alone (kind 0) itself; never one of an element nested in it.
// False when the node starts no element of the kind; *record then null, and
// null too when the element has no record of its own.
bool OwnAttributes(const RTRecordNode* node, uint32_t kind, const RTRecordNode** record);

// The table's Key=value listing: the keys of `selector` (an index of the
// table property list, or kTableListingAll), each written once, in the
// order of the records that hold them. Tab keys only `withTabs`.
void WriteTableListing(const TableParts& parts, PropText* out, uint32_t selector, bool withTabs,
                       const TorvoRTItem* item);

// The keys one record kind holds (0xFFFB, 0xFF5C, 0xFF7A, 163/207, 225), as
// the listing writes them; `flags` keep a key to its first record.
void WriteTableRecordFields(uint16_t signature, const uint8_t* rec, uint32_t len, PropText* out,
                            uint32_t selector, WrittenFlags* flags, const TorvoRTItem* item);

// A change of table properties read from an option string.
struct TableChange {
  const char* options = nullptr;
  uint64_t fields = 0;  // the fields its keys name (bits by field row)
  // A value given to one key alone (the key of list index valueIndex),
  // whatever characters it holds; null when the options give them all.
  const char* value = nullptr;
  int32_t valueIndex = -1;
};

// The change that gives the key of list index `index` the value `value`.
TableChange TableKeyChange(uint32_t index, const char* value);

// Reads the keys of `options`. Strict: every key must be one a table field
// sets, else 1028 (the caller refuses the call); lenient: other keys are
// left to others (the composer's options hold cell and border keys too).
NnStatus ParseTableChange(const char* options, bool strict, TableChange* change);

// What of the change the table does not show already: fields whose value it
// holds are dropped. 1028 when a field's value cannot be set on this table
// (its record is missing and cannot be made, or the value does not read).
// `creates` gets the record kinds the change must add (0xFF7A, 225).
NnStatus EffectiveTableChange(const TableParts& parts, const TorvoRTItem* item, TableChange* change,
                              std::vector<uint16_t>* creates);

// Applies the change's fields of the record's kind to `rec` (host layout; it
// may grow). True when the record changed.
bool ApplyTableChange(uint16_t signature, std::vector<uint8_t>* rec, const TableChange& change,
                      const TorvoRTItem* item);

// The composer's form: every table key of `options` that the record kind
// holds is applied to the record in place (`capacity` bytes); others are
// left alone. 0, or 1028 for a record too short.
NnStatus ApplyTableOptions(uint16_t signature, uint8_t* record, uint32_t capacity,
                           const char* options, const TorvoRTItem* item);

// The records of a new table that its options set: the pre-table record and
// the begin (given), the attribute and row-cycle records (made when a key
// asks for them, else left empty).
struct NewTableRecords {
  std::vector<uint8_t> preTable, begin, attributes, rowCycle;
};
// Sets every table key of `options` on the new table's records: 1028 when a
// key's value is taken by none of the records that hold it (a value it does
// not read as, or the tab record, which a new table does not have).
NnStatus ApplyNewTableOptions(const char* options, const TorvoRTItem* item,
                              NewTableRecords* records);

// Whether `key` (`length` characters, without its "=") names a table field.
bool IsTableKey(const char* key, size_t length);
