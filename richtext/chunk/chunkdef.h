// The words of the chunk-definition grammar, as the parser reads them: the
// parser's own tables, also read by the reference page's generator.
#pragma once

#include <cstddef>
#include <cstdint>

// One word and what it stands for (a target type, a relation or a match
// mode). Words are upper case; the parser compares the start of a word of
// the definition with them, without regard to case, in table order.
struct DefinitionWord {
  const char* word;
  uint16_t value;
};

struct DefinitionWords {
  const DefinitionWord* words;
  size_t count;
};

// Target-type words (a type name may have several; longer words come before
// the words that prefix them).
DefinitionWords DefinitionTypeWords();
// Relation words (ChunkRelation); a part without one is a CONTAINS part.
DefinitionWords DefinitionRelationWords();
// Words before a quoted match text (ChunkMatchMode); a quoted text without
// one is matched whole.
DefinitionWords DefinitionMatchWords();
