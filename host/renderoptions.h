// The keys of the render option string, as one table: what each takes, what
// holds without it and what it changes on the page. The reference page is
// written from it, and the build checks it against the renderer (tools/kvref).
#pragma once

#include <cstddef>

// Where a key's change shows.
enum class RenderOptionShows {
  kExamplePage,  // on the reference's example page (checked at build time)
  kElsewhere,    // on pages holding what the example page lacks (named in `effect`),
                 // or outside the page (files, events, the log)
  kNothing,      // read, but nothing on the page depends on it
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
};

// The keys, in the order the reference page lists them.
const RenderOptionKey* RenderOptionKeys(size_t* count);
