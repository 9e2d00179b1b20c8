// Chunk definitions: the text form ("Inside Section 2; Text 'total' 1-3")
// and the chain of chunkdef_info nodes the engine walks.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <string>

#include "include/rtchunk.h"
#include "richtext/chunk/chunkdef.h"
#include "richtext/chunk/editing_util.h"
#include "richtext/engine/opcodes.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsQuote(char c) { return c == '\'' || c == '"' || c == '|'; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// A slice of the upper-cased copy: [p, end).
struct Span {
  const char* p;
  const char* end;
  bool Empty() const { return p >= end; }
  bool StartsWith(const char* word) const {
    size_t n = std::strlen(word);
    return static_cast<size_t>(end - p) >= n && std::memcmp(p, word, n) == 0;
  }
};

const char* SkipBlanks(const char* p, const char* end) {
  while (p < end && IsBlank(*p)) ++p;
  return p;
}
const char* SkipWord(const char* p, const char* end) {
  while (p < end && !IsBlank(*p)) ++p;
  return p;
}

// Keywords of the type word, tried in this order as prefixes: longer names
// come before names that prefix them (GRAPHICHOTSPOT before GRAPHIC,
// PARAGRAPHLIST before PARAGRAPH). "HR" is the written name of a rule.
constexpr DefinitionWord kTypeKeywords[] = {
    {"EVERYTHING", EVERYTHING},        {"TABLE", TABLE},
    {"HOTSPOT", HOTSPOT},              {"COLUMN", COLUMN},
    {"ROW", ROW},                      {"BUTTON", BUTTON},
    {"SECTION", SECTION},              {"DOCLINK", DOCLINK},
    {"FILE", FILE_ATTACHMENT},         {"RECORD", RECORD},
    {"STYLIZEDTEXT", STYLIZEDTEXT},    {"RAWTEXT", RAWTEXT},
    {"OLEOBJECT", OLEOBJECT},          {"ANCHOR", ANCHOR},
    {"GRAPHICHOTSPOT", GraphicHotspot}, {"GRAPHIC", GRAPHIC},
    {"HYPERLINK", HYPERLINK},          {"POPUP", POPUP},
    {"ACTIONHOTSPOT", ACTIONHOTSPOT},  {"FIELD", FIELD},
    {"EVENT", EVENT},                  {"PARAGRAPHLIST", PARAGRAPHLIST},
    {"PARAGRAPH", PARAGRAPH},          {"XML", XML},
    {"HTML", HTML},                    {"XHTML", XHTML},
    {"SUBFORM", SUBFORM},              {"COMPUTEDTEXT", COMPUTEDTEXT},
    {"HORIZONTALRULE", HORIZONTALRULE}, {"HR", HORIZONTALRULE},
    {"PASSTHRUHTML", PASSTHRUHTML},    {"LAYER", LAYER},
    {"LAYOUT", LAYOUT},                {"URLLINK", URLLink},
    {"IMAGEHOTSPOT", GraphicHotspot},  {"IMAGEMAP", ImageMap},
    {"IGNORE", IGNORE},                {"DELIMITEDHTML", DELIMITEDHTML},
    {"PAGEBREAK", PAGEBREAK},          {"TEXT", TEXT},
    {"NONBLANKTEXT", NONBLANKTEXT},    {"TAGGEDTEXT", TAGGEDTEXT},
};

constexpr DefinitionWord kRelationWords[] = {
    {"CONTAINS", REL_CONTAINS}, {"INSIDE", REL_INSIDE}, {"OUTSIDE", REL_OUTSIDE},
    {"BEFORE", REL_BEFORE},     {"AFTER", REL_AFTER},   {"START", REL_STARTS_WITH},
    {"END", REL_ENDS_WITH}};

constexpr DefinitionWord kMatchWords[] = {{"STARTS", MATCH_STARTS}, {"ENDS", MATCH_ENDS},
                                          {"SUBSTR", MATCH_SUBSTR}, {"ID", MATCH_ID},
                                          {"NAME", MATCH_NAME}};

// The first word of the table that the span starts with, or null.
template <size_t N>
const DefinitionWord* FindWord(Span span, const DefinitionWord (&words)[N]) {
  for (const DefinitionWord& w : words)
    if (span.StartsWith(w.word)) return &w;
  return nullptr;
}

bool MatchType(Span word, uint16_t* type) {
  const DefinitionWord* k = FindWord(word, kTypeKeywords);
  if (k) *type = k->value;
  return k != nullptr;
}

// A decimal number as the occurrence items give it: leading blanks, a sign,
// digits up to the first non-digit. Saturates instead of overflowing.
uint32_t ReadNumber(const char* p, const char* end) {
  p = SkipBlanks(p, end);
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  uint64_t value = 0;
  while (p < end && IsDigit(*p)) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
    ++p;
  }
  uint32_t v = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - v) : v;
}

// Fills the occurrence list of a node from `rest`; false when it holds more
// entries than a node has room for.
bool ParseOccurrences(Span rest, chunkdef_info* node) {
  if (rest.Empty()) {
    node->occurrenceCount = 1;
    node->occurrences[0] = 1;
    node->rangeEnds[0] = 0;
    return true;
  }
  if (std::memchr(rest.p, '*', static_cast<size_t>(rest.end - rest.p))) {
    node->occurrenceCount = 0;
    return true;
  }
  uint32_t count = 0;
  const char* p = rest.p;
  for (;;) {
    const char* itemEnd = p;
    while (itemEnd < rest.end && *itemEnd != ',') ++itemEnd;
    if (count >= kMaxOccurrences) return false;
    uint32_t occurrence = ReadNumber(p, itemEnd);
    uint32_t rangeEnd = 0;
    if (itemEnd - p > 1) {
      const void* dash = std::memchr(p + 1, '-', static_cast<size_t>(itemEnd - p - 1));
      if (dash) rangeEnd = ReadNumber(static_cast<const char*>(dash) + 1, itemEnd);
    }
    // A range end not above the occurrence means a single occurrence: keep
    // it as 0 so that the written text reads back to the same node.
    if (rangeEnd <= occurrence) rangeEnd = 0;
    node->occurrences[count] = occurrence;
    node->rangeEnds[count] = rangeEnd;
    ++count;
    if (itemEnd >= rest.end) break;
    p = itemEnd + 1;
  }
  node->occurrenceCount = count;
  return true;
}

char* CopyText(const char* text, size_t length) {
  char* copy = new (std::nothrow) char[length + 1];
  if (!copy) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = 0;
  return copy;
}

// Parses one part (blanks already skipped, not empty) into `node`.
// `upper` is the upper-cased copy and `original` the caller's text at the
// same offsets, for the match text.
bool ParsePart(Span part, const char* upper, const char* original, const chunkdef_info* previous,
               chunkdef_info* node) {
  const char* firstBlank = part.p;
  while (firstBlank < part.end && !IsBlank(*firstBlank)) ++firstBlank;
  bool oneWord = firstBlank >= part.end;
  if (oneWord && !part.StartsWith("EVERYTHING")) return false;
  Span second{SkipBlanks(firstBlank, part.end), part.end};

  Span typeWord = part;
  bool everything = false;
  if (part.StartsWith("EVERYTHING")) {
    node->relation = REL_EVERYTHING;
    everything = true;
  } else {
    node->relation = REL_CONTAINS;
    if (const DefinitionWord* r = FindWord(part, kRelationWords)) {
      node->relation = r->value;
      typeWord = second;
      if ((r->value == REL_STARTS_WITH || r->value == REL_ENDS_WITH) &&
          typeWord.StartsWith("WITH")) {
        typeWord.p = SkipBlanks(SkipWord(typeWord.p, typeWord.end), typeWord.end);
      }
    }
  }

  uint16_t type = 0;
  if (!MatchType(typeWord, &type)) return false;
  node->targetType = type;

  if (type == COLUMN || type == ROW) {
    uint16_t partner = type == COLUMN ? ROW : COLUMN;
    if (!previous || previous->relation != REL_CONTAINS ||
        (previous->targetType != TABLE && previous->targetType != partner)) {
      return false;
    }
  }

  if (everything) {
    node->occurrenceCount = 0;
    return true;
  }

  const char* wordEnd = SkipWord(typeWord.p, typeWord.end);
  static const char kOne[] = "1";
  Span rest{kOne, kOne + 1};
  if (wordEnd < typeWord.end) rest = Span{SkipBlanks(wordEnd, typeWord.end), typeWord.end};
  const bool restIsBuffer = rest.p != kOne;

  // Match text and mode.
  const char* quoteAt = nullptr;
  if (!rest.Empty()) {
    char c = *rest.p;
    if (c == '*' || IsDigit(c)) {
      // The occurrence list begins here.
    } else if (IsQuote(c)) {
      node->matchMode = MATCH_TEXT;
      quoteAt = rest.p;
    } else {
      const DefinitionWord* m = FindWord(rest, kMatchWords);
      node->matchMode = m ? m->value : uint16_t(MATCH_TEXT);
      const char* p = rest.p;
      while (p < rest.end && !IsQuote(*p) && !IsDigit(*p) && *p != '*') ++p;
      if (p < rest.end && IsQuote(*p)) {
        quoteAt = p;
      } else {
        node->matchMode = MATCH_NONE;
        rest.p = p;
      }
    }
  }
  if (quoteAt && restIsBuffer) {
    char q = *quoteAt;
    const char* textStart = quoteAt + 1;
    const char* textEnd = textStart;
    while (textEnd < rest.end && *textEnd != q) ++textEnd;
    size_t offset = static_cast<size_t>(textStart - upper);
    node->matchText = CopyText(original + offset, static_cast<size_t>(textEnd - textStart));
    if (!node->matchText) return false;
    const char* after = textEnd < rest.end ? textEnd + 1 : textEnd;
    rest.p = SkipBlanks(after, rest.end);
  }
  return ParseOccurrences(rest, node);
}

}  // namespace

DefinitionWords DefinitionTypeWords() { return {kTypeKeywords, std::size(kTypeKeywords)}; }
DefinitionWords DefinitionRelationWords() { return {kRelationWords, std::size(kRelationWords)}; }
DefinitionWords DefinitionMatchWords() { return {kMatchWords, std::size(kMatchWords)}; }

void FreeChunkDefinition(chunkdef_info* head) {
  while (head) {
    chunkdef_info* next = head->next;
    delete[] head->matchText;
    delete[] head->attachedText;
    delete head;
    head = next;
  }
}

chunkdef_info* ParseChunkDefinition(LSXLsiSession* session, const chunkdef_info* previous,
                                    const char* text, uint32_t* simpleFlag) {
  if (!text) return nullptr;
  size_t length = std::strlen(text);
  // The text must fit the session's 4,096-byte text buffer with its NUL.
  if (length >= kTextBufferSize) return nullptr;

  // The caller's text may be the session buffer itself: keep the original
  // (for the match texts' letter case) before the buffer is overwritten.
  std::string original(text, length);
  char local[kTextBufferSize];
  char* upper = session ? session->PropertyText : local;
  for (size_t i = 0; i < length; ++i) upper[i] = Upper(original[i]);
  upper[length] = 0;

  chunkdef_info* head = nullptr;
  chunkdef_info* tail = nullptr;
  uint32_t simple = 1;
  const char* p = upper;
  const char* end = upper + length;
  while (p <= end) {
    const char* partEnd = p;
    while (partEnd < end && *partEnd != ';') ++partEnd;
    Span part{SkipBlanks(p, partEnd), partEnd};
    if (!part.Empty()) {
      chunkdef_info* node = new (std::nothrow) chunkdef_info();
      if (!node) {
        FreeChunkDefinition(head);
        return nullptr;
      }
      if (tail) tail->next = node;
      else head = node;
      bool ok = ParsePart(part, upper, original.c_str(), tail ? tail : previous, node);
      tail = node;
      if (!ok) {
        FreeChunkDefinition(head);
        return nullptr;
      }
      if (node->relation != REL_CONTAINS || node->occurrenceCount != 1 ||
          (node->rangeEnds[0] > node->occurrences[0])) {
        simple = 0;
      }
    }
    p = partEnd + 1;
  }
  if (!head) return nullptr;
  // What cannot be written back whole would come back as another chain, or
  // as a text that does not parse: refuse it here.
  if (!ChunkDefinitionFits(head)) {
    FreeChunkDefinition(head);
    return nullptr;
  }
  if (simpleFlag) *simpleFlag = simple;
  return head;
}

namespace {

// The text of a chain, whole (the callers' buffers may cut it).
std::string DefinitionText(const chunkdef_info* chain) {
  std::string w;
  if (!chain) return "Everything";
  for (const chunkdef_info* node = chain; node; node = node->next) {
    switch (node->relation) {
      case REL_EVERYTHING: w += "Everything"; break;
      // A CONTAINS node over the whole item must not read back as the
      // EVERYTHING relation.
      case REL_CONTAINS: if (node->targetType == EVERYTHING) w += "Contains "; break;
      case REL_INSIDE: w += "Inside "; break;
      case REL_OUTSIDE: w += "Outside "; break;
      case REL_BEFORE: w += "Before "; break;
      case REL_AFTER: w += "After "; break;
      case REL_STARTS_WITH: w += "Starts With "; break;
      case REL_ENDS_WITH: w += "Ends With "; break;
      default: w += "Error "; break;
    }
    if (!(node->relation == REL_EVERYTHING && node->targetType == EVERYTHING)) {
      const char* name = GetTargetTypeName(node->targetType, "Error");
      // Page breaks and tagged text have no display name: write the
      // keywords the parser reads.
      if (!name) name = node->targetType == PAGEBREAK ? "PageBreak" : "TaggedText";
      w += name;
      w += ' ';
    }
    if (node->matchMode != MATCH_NONE && node->matchText) {
      switch (node->matchMode) {
        case MATCH_STARTS: w += "Starts "; break;
        case MATCH_ENDS: w += "Ends "; break;
        case MATCH_SUBSTR: w += "Substring "; break;
        case MATCH_ID: w += "ID "; break;
        case MATCH_NAME: w += "Name "; break;
        default: break;
      }
      // A text holding a double quote is quoted with a character it lacks.
      char quote = '"';
      if (std::strchr(node->matchText, '"')) {
        if (!std::strchr(node->matchText, '\'')) quote = '\'';
        else if (!std::strchr(node->matchText, '|')) quote = '|';
      }
      w += quote;
      w += node->matchText;
      w += quote;
      w += ' ';
    }
    if (node->relation != REL_EVERYTHING) {
      if (node->occurrenceCount == 0) {
        w += '*';
      } else {
        uint32_t count = node->occurrenceCount;
        if (count > kMaxOccurrences) count = kMaxOccurrences;
        char number[32];
        for (uint32_t i = 0; i < count; ++i) {
          if (i) w += ',';
          std::snprintf(number, sizeof number, "%" PRIu32, node->occurrences[i]);
          w += number;
          if (node->rangeEnds[i] > node->occurrences[i]) {
            std::snprintf(number, sizeof number, "-%" PRIu32, node->rangeEnds[i]);
            w += number;
          }
        }
      }
    }
    if (node->next) w += "; ";
  }
  return w;
}

}  // namespace

bool ChunkDefinitionFits(const chunkdef_info* chain) {
  return DefinitionText(chain).size() < kTextBufferSize;
}

void TorvoRTChunk::CalculateDefinition(const chunkdef_info* chain, char* out) {
  if (!out) return;
  const std::string text = DefinitionText(chain);
  const size_t n = text.size() < kTextBufferSize ? text.size() : kTextBufferSize - 1;
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}
