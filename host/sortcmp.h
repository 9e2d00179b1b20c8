// Comparators of the engine's sort operations over the collected key entries.
#pragma once

#include <cstdint>

namespace kv {

// One collected position with its sort key (24 bytes on this host).
struct SortKeyEntry {
  uint32_t firstRecord;    // first record number of the range
  uint32_t lastRecord;     // last record number of the range
  const char* keyText;     // key in platform text, not necessarily NUL-terminated; may be null
  uint16_t keyLength;      // bytes of keyText
  uint16_t reserved;
  uint32_t originalIndex;  // position before sorting: equal keys keep their order
};
static_assert(sizeof(SortKeyEntry) == 24, "sort entries are 24 bytes");

// The sort flag word the comparators read (the calling thread's): set it
// before sorting.
enum : uint32_t {
  kSortAccentSensitive = 0x0001,  // bit 0: accents tell keys apart
  kSortCaseSensitive = 0x0002,    // bit 1: case tells keys apart
};
void SortSetFlags(uint32_t flags);
uint32_t SortGetFlags();

// qsort-style comparators over SortKeyEntry: negative, zero or positive.
//
// Numeric: each key is read as a decimal number (leading blanks skipped,
// optional sign, fraction and exponent; what follows the number is ignored).
// Keys that are not numbers come after all numbers ascending and before them
// descending. Equal numbers, and two keys that are not numbers, are ordered
// by the text comparison.
//
// Text: ICU root collation; without kSortAccentSensitive accents are ignored,
// without kSortCaseSensitive case is ignored. A null or empty key sorts first
// ascending. Equal keys are ordered by originalIndex, in both directions, so
// the result does not depend on the sort being stable.
int SortCompareNumAsc(const void* a, const void* b);
int SortCompareNumDesc(const void* a, const void* b);
int SortCompareTextAsc(const void* a, const void* b);
int SortCompareTextDesc(const void* a, const void* b);

}  // namespace kv
