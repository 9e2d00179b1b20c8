// The keys of the table field map, by the record that holds them: how each
// is written as Key=value text and how a value is set (tablekeys.cpp). The
// table operations read and set tables through them (tablefields.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "richtext/engine/tablefields.h"

namespace tablekeys {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kPreTable = 0xFFFB, kTabs = 0xFF5C, kIdName = 0xFF7A, kBegin = 163,
                   kRowCycle = 225;
constexpr uint32_t kIdNameHead = 26;

struct FieldContext {
  uint16_t naming;  // the item's colour-name set
  const TorvoRTItem* item;
};

struct TableField;
// Writes the field's key; `alone` when it was asked for by itself (its
// default value is written then).
using FieldWriter = void (*)(const uint8_t* rec, uint32_t len, PropText* out, bool alone,
                             const FieldContext& c);
// Sets the field's keys present in the change; false when a value does not
// read as one of the field's values (or the record cannot hold it).
using FieldSetter = bool (*)(Bytes& rec, const TableField& f, const TableChange& change,
                             const FieldContext& c);

struct TableField {
  const char* keys[2];     // keys[0] is the one written; the other an older name
  const char* subKeys[2];  // keys its value is written with and set from
  uint16_t record;         // the record kind that holds it (163 for 207 too)
  int16_t index;           // in the table property list; -1: set only, never written
  uint32_t alsoAsked;      // further list indices that ask for it (bits)
  FieldWriter write;
  FieldSetter set;
};

// The fields in the order the listing writes them: the pre-table record's,
// the tab record's, the attribute record's, the table begin's, the row
// cycle's.
const TableField* TableFieldMap(size_t* count);

}  // namespace tablekeys
