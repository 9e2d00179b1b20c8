// Searches over the records of a chunk's item: text runs and named elements.
//
// Both finders work on the item's loaded record list (loaded for the call
// when it is not) and count records from 1 in list order, the numbering of
// SessionGlobals::FirstMatchRecord / LastMatchRecord. With `inside` not 0 they
// search the records first..last (the located target); with `inside` 0 the
// records after `last`. A `first` of 0 means that nothing was located: both
// return 0 then.
#pragma once

#include <cstdint>

#include "host/fonts.h"
#include "host/textmatch.h"

class TorvoRTChunk;

// The text-search options a chunk asks for: AccentSensitive, CaseSensitive,
// RegularExpression, SearchWordBoundaries and TextWildcards.
kv::TextMatchOptions ChunkSearchOptions(const TorvoRTChunk* chunk);

// Match modes of the finders (the words EXACT/ENTIRE, STARTS, ENDS, SUBSTR).
enum : uint16_t {
  kFindEntire = 1,     // the whole run (or name)
  kFindStarts = 2,
  kFindEnds = 3,
  kFindSubstring = 4,  // anywhere; also what 0 and 5 do
};

// Where a text search matched (filled only on a match).
struct ChunkFindDetail {
  uint32_t record = 0;  // record number of the text record
  uint32_t offset = 0;  // byte offset of the match within the run's text
  uint32_t length = 0;  // byte length of the match
};

// Finds `text` (`length` bytes; 0: up to its NUL) in the text runs (0xFF85)
// of the searched records, under the chunk's AccentSensitive, CaseSensitive,
// RegularExpression, SearchWordBoundaries and TextWildcards and the match
// mode. With a font pattern (`fontMask` not 0) only runs whose font matches
// (FontMatches) are searched. Returns 0 when nothing matches (also for an
// empty text or an invalid regular expression), else the record number of the
// first text record that holds a match. `detail` may be null.
uint32_t FindTextInChunk(TorvoRTChunk* chunk, int inside, uint32_t first, uint32_t last,
                         const char* text, uint16_t length, uint16_t mode, const FontState* font,
                         uint32_t fontMask, ChunkFindDetail* detail);

// Finds an element of `targetType` whose HTML attribute record (0xFF7A or
// 0xFF7B, which follows the element's start record) carries the name as its
// Name or, failing that, its ID, compared under the mode and the chunk's
// CaseSensitive. The attribute record must lie in the searched records. With
// a font pattern the element's first text run after the attribute record must
// match it. Returns 0 when nothing matches, else the record number of the
// element's start record (of the attribute record itself when the type has no
// start records, e.g. EVERYTHING).
uint32_t FindNamedElementInChunk(TorvoRTChunk* chunk, int inside, uint32_t first, uint32_t last,
                                 const char* name, uint16_t length, uint16_t mode,
                                 uint16_t targetType, const FontState* font, uint32_t fontMask);
