// The keys of the render option string, as one table: what each takes, what
// holds without it and what it changes on the page. The reference page is
// written from it, and the build checks it against the renderer (tools/kvref).
#pragma once

#include <cstddef>
#include <string>

// Where a key's change shows.
enum class RenderOptionShows {
  kExamplePage,  // on the reference's example page (checked at build time)
  kElsewhere,    // on pages holding what the example page lacks (named in `effect`),
                 // or outside the page (files, events, the log)
  kNothing,      // read, but nothing on the page depends on it
};

// The kind of value a key takes. Every kind but kAny refuses the values its
// key cannot use (RenderOptionsUsable); a render given one fails.
enum class RenderOptionKind {
  kYesNo,       // Yes, True, On, 1 or No, False, Off, 0; also `words` and the range
  kWords,       // one of `words`; also a whole number in the range
  kNumber,      // a whole number in the range; also `words`
  kRgb,         // #RRGGBB, or a number up to 0xFFFFFF
  kColour,      // #RRGGBB or a colour name
  kFaceName,    // a face number up to 255, or a face name of the item
  kFamily,      // a font family: letters, digits, blanks and - _ . ,
  kUrl,         // no script URL, no control characters
  kFolder,      // a path without control characters
  kNetPath,     // a network-path reference: "//" and more
  kElementId,   // no blanks, quotes, <, > or &
  kStartTag,    // one <body ...> or <div ...> start tag
  kHeadMarkup,  // meta, link and style elements (what stands after a </head> aside)
  kStyleSheet,  // style rules, or head markup when it starts with <
  kText,        // any text
  kAny,         // any value: the key's presence counts
};

struct RenderOptionValue {
  RenderOptionKind kind;
  // Words taken beside the kind's own, without regard to case, separated by
  // "|"; a word ending in "*" takes any value that starts with it.
  const char* words = nullptr;
  long low = 0, high = -1;  // a whole number in [low, high] is taken (when low <= high)
};

struct RenderOptionKey {
  const char* key;        // with its "=", as the option string holds it
  const char* values;     // what it takes
  const char* byDefault;  // what holds without the key
  const char* effect;     // what it changes
  // An option string with the key that shows its change on the example page
  // (other keys it needs beside it included); the same without the key's
  // own pair is the page it is compared with.
  const char* example;
  RenderOptionShows shows;
  RenderOptionValue takes;  // what the validator lets through
};

// The keys, in the order the reference page lists them.
const RenderOptionKey* RenderOptionKeys(size_t* count);

// Whether `value` (`length` characters) is one that `takes` lets through.
bool RenderOptionValueUsable(const RenderOptionValue& takes, const char* value, size_t length);

// Whether every pair of the option string whose key is in the table has a
// value its key can use; keys the table lacks are passed over (the string is
// shared with other readers). On false, *refused (when given) names the first
// pair refused.
bool RenderOptionsUsable(const char* optionString, std::string* refused = nullptr);
