// Replacement of the operation's find text in one text, under the chunk's
// search options.
#pragma once

#include <cstdint>

struct RTProcessContext;

constexpr uint32_t kTextReplaceFailed = 0xFFFFFFFFu;

// Replaces every match of the operation's find text (second text, its length
// the first number or, when 0, its own length) by its replacement (first
// text, its length the sub-code) in text[0, length), under the chunk's
// AccentSensitive, CaseSensitive, RegularExpression, SearchWordBoundaries and
// TextWildcards. The new text is left NUL-terminated in the session's
// option-value buffer and its length returned. kTextReplaceFailed, with the
// buffer emptied, when the search cannot run or the new text does not fit the
// buffer.
uint32_t TextReplaceMatches(const char* text, uint32_t length, RTProcessContext* ctx);
