// Text search and replacement over platform (LMBCS) text.
//
// Every search is compiled into one ICU regular expression and run over the
// UTF-16 form of the text; positions and lengths handed back are byte
// positions in the original LMBCS text, so callers can cut records with them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "nn/nn.h"

namespace kv {

// Option flag bits of TextFindMatch.
enum : uint32_t {
  kTextMatchWildcards = 0x0001,  // "*" any run (possibly empty), "?" one character
};

// Results below zero.
enum : int32_t {
  kTextNoMatch = -1,        // nothing matched
  kTextBadPattern = -2,     // an invalid regular expression, or an empty search
  kTextMatchTooLong = -3,   // the search ran out of its work allowance
};

// The search options of a chunk, gathered.
struct TextMatchOptions {
  bool accentSensitive = true;   // false folds accented letters to their base letter
  bool caseSensitive = false;
  bool regularExpression = false;
  bool wordBoundaries = false;   // a match needs a non letter/digit (or the text end) on each side
  bool wildcards = false;        // ignored when regularExpression is set
};

// Finds the first match of search in text[0, len).
// - accent / caseSensitive / regex / wordBoundaries: non-zero switches the option on.
// - flags: kTextMatchWildcards.
// - matchLen: when given, receives the byte length of the match.
// - charset: accepted for the callers' sake; the text is always read as LMBCS.
// Returns the byte position of the match, or a negative value (kTextNoMatch, or
// kTextBadPattern / kTextMatchTooLong for searches that cannot be run). A match
// is never empty. Wildcard "*" takes the shortest run that lets the match succeed.
int32_t TextFindMatch(const char* text, uint32_t len, const char* search, uint32_t searchLen,
                      uint32_t flags, int accent, int caseSensitive, int regex,
                      int wordBoundaries, uint32_t* matchLen, const NnCharsetInfo* charset);

// The same with gathered options, starting the search at byte `from` (the text
// before it still counts for word boundaries and look-behind).
int32_t TextFindMatchFrom(const char* text, uint32_t len, uint32_t from, const char* search,
                          uint32_t searchLen, const TextMatchOptions& options,
                          uint32_t* matchLen);

// Largest text a replacement may produce.
constexpr uint32_t kTextReplaceMaxBytes = 65342;

// Replaces every match of find in text, left to right and without overlap, by
// replace (literal bytes, no group references). The new text goes to *out and
// the number of replacements to *count (count may be null).
// Returns 0 (also when nothing matched: *out is then a copy of the text);
// NN_ERR_MEMORY when the result would exceed kTextReplaceMaxBytes; 1028 for a
// search that cannot be run (invalid regular expression, empty find text).
// On failure *out and *count are left untouched.
NnStatus TextReplaceAll(const char* text, uint32_t len, const char* find, uint32_t findLen,
                        const char* replace, uint32_t replaceLen,
                        const TextMatchOptions& options, std::string* out,
                        uint32_t* count = nullptr);

// The byte ranges [first, second) of every match of find in text, left to
// right and without overlap (as TextReplaceAll replaces them). 0, or 1028 for
// a search that cannot be run (invalid regular expression, empty find text).
NnStatus TextFindAllMatches(const char* text, uint32_t len, const char* find, uint32_t findLen,
                            const TextMatchOptions& options,
                            std::vector<std::pair<uint32_t, uint32_t>>* matches);

}  // namespace kv
