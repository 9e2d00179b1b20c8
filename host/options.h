// Option strings: "Key=value" pairs separated by blanks.
//
// A key includes its "=" and matches without regard to case, at the start of
// the text or where the character before it is neither a letter or digit nor
// one of the quote characters ' " | ~. A value that begins with one of those
// quote characters runs to the next same character (to the end of the text
// when there is none) and is given without its quotes; any other value runs
// to the next blank (space, tab, CR or LF). The first occurrence that meets
// the boundary rule wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

constexpr size_t kOptionValueMax = 4095;

// Non-zero when `key` is present in `optionString`; then its value, cut to
// 4,095 characters, is copied into `out` (which must hold 4,096 bytes) with a
// NUL. When the key is absent (or an argument is null) 0 is returned and `out`
// is left as it was, so callers may preset a default there. `out` may be null
// to test presence only. A value that had to be cut is counted (see
// OptionValuesCut): a call acting on it would act on something else than the
// caller gave.
int GetOptionValue(const char* optionString, const char* key, char* out);

// As GetOptionValue with a caller-given maximum of `max` characters (`out`
// must hold max + 1 bytes).
int GetOptionValueN(const char* optionString, const char* key, char* out, size_t max);

// As GetOptionValue, the whole value however long; false when the key is
// absent (`out` then left as it was).
bool GetOptionValueString(const char* optionString, const char* key, std::string* out);

// How many values this thread's GetOptionValue and GetOptionValueN calls have
// cut so far. A write or a render compares it before and after its work and
// refuses (1028) when a value it read was cut, rather than use a part of it.
uint64_t OptionValuesCut();

// One Key=value pair of an option string: the key without its "=", and the
// value without its quotes (pointers into the string).
struct OptionPair {
  const char* key = nullptr;
  size_t keyLength = 0;
  const char* value = nullptr;
  size_t valueLength = 0;
};

// Reads the pair at *cursor (blanks before it skipped) and moves the cursor
// past it: 1 for a pair, 0 at the end of the text, -1 for a word that is no
// pair (no "=", an empty key, or a quoted value without its closing quote).
// The pairs are those GetOptionValue finds, in the order they stand.
int NextOptionPair(const char** cursor, OptionPair* pair);

// Whether `key` (`length` characters, without its "=") is one of `keys`,
// without regard to case.
bool OptionKeyAmong(const char* key, size_t length, std::initializer_list<const char*> keys);
// Whether every word of the option string is a pair whose key is one of
// `keys`, each given once: the keys its reader takes (a caller refuses the
// others, and a second value of one, rather than drop them).
bool OptionKeysAmong(const char* optionString, std::initializer_list<const char*> keys);
// Whether no key stands twice in the option string (without regard to case):
// its reader would take the first value and drop the other.
bool OptionKeysDistinct(const char* optionString);

// Whether every value of the option string fits an option value (at most
// kOptionValueMax characters): a longer one would reach its reader cut.
bool OptionValuesFit(const char* optionString);

// Pointer to the first occurrence of `pattern` in `text` without regard to
// case; null when there is none, when either is null or the text is empty.
const char* StrIStr(const char* text, const char* pattern);
