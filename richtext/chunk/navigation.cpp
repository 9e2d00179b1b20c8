// The chunk's method frame, the methods that move or narrow its selection,
// the text finders' entries, and TorvoRTItem::DefineChunk.
#include <strings.h>

#include <cstring>

#include "host/fonts.h"
#include "richtext/chunk/finders.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/rtproc.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

// A locate walks the whole item; a selection can never have more targets than
// the item has records, so the counting loops stop there at the latest.
constexpr uint32_t kDefaultLocateLimit = 1u << 16;

uint32_t LocateLimit(const TorvoRTItem* item) {
  if (item && item->context && item->context->records)
    return item->context->records->count + 2;
  return kDefaultLocateLimit;
}

// Match-mode words of the finders (prefix tests without regard to case).
uint16_t FindModeOf(const char* mode) {
  if (!mode) return 0;
  if (!strncasecmp(mode, "EXACT", 5) || !strncasecmp(mode, "ENTIRE", 6)) return kFindEntire;
  if (!strncasecmp(mode, "STARTS", 6)) return kFindStarts;
  if (!strncasecmp(mode, "ENDS", 4)) return kFindEnds;
  if (!strncasecmp(mode, "SUBSTR", 6)) return kFindSubstring;
  if (!strncasecmp(mode, "EVENT", 5)) return MATCH_EVENT;
  return 0;
}

// The finders support chains that name one place: Everything, single
// occurrences of contains/after, and inside with a node after it.
bool FindableChain(const chunkdef_info* node) {
  if (node && node->relation == REL_EVERYTHING && !node->next) return true;
  for (; node; node = node->next) {
    switch (node->relation) {
      case REL_EVERYTHING:
        break;
      case REL_CONTAINS:
      case REL_AFTER:
        if (node->occurrenceCount != 1) return false;
        break;
      case REL_INSIDE:
        if (node->occurrenceCount != 1 || !node->next) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

chunkdef_info* LastNode(chunkdef_info* node) {
  while (node && node->next) node = node->next;
  return node;
}

}  // namespace

// ---- the frame --------------------------------------------------------------

NnStatus TorvoRTChunk::RunFrame(uint16_t code, uint32_t subCode, uint32_t n1, uint32_t n2,
                                uint32_t n3, const char* text, const char* text2,
                                const char* definition, void* extra) {
  lastStatus = 0;
  if (!item || !session) return lastStatus = NN_ERR_INVALID_ARG;
  const bool itemPresent =
      NnItemInfo(item->hNote, item->itemName, uint16_t(std::strlen(item->itemName)), nullptr,
                 nullptr, nullptr, nullptr) == NN_OK;
  const bool runAnyway = item->context && item->context->modeWord == 3;
  // A write on an item the note does not hold (a misspelt name) would
  // otherwise succeed and store nothing: it fails, unless the item's mode
  // asks to run without the item (the write then creates it).
  if (!itemPresent && !runAnyway && ChunkOperationWriteMode(code, subCode))
    return lastStatus = NN_ERR_ITEM_NOT_FOUND;
  if (itemPresent || runAnyway) {
    const uint32_t savedSimple = internal ? internal->simpleDefinition : 0;
    chunkdef_info* innermost = InnermostNode();
    chunkdef_info* extraNodes = nullptr;
    if (definition && *definition) {
      uint32_t simple = 0;
      extraNodes = ParseChunkDefinition(session, innermost, definition, &simple);
      // A sub-definition that does not parse must not widen the call to the
      // whole chain: refuse it.
      if (!extraNodes) return lastStatus = NN_ERR_INVALID_ARG;
      if (internal) internal->simpleDefinition = (savedSimple && simple) ? 1 : 0;
    }
    NnStatus st = ProcessChunkOperation(this, item->hNote, item->itemName, code, subCode, n1, n2,
                                        n3, text, text2, 0, extraNodes, extra);
    if (internal) internal->simpleDefinition = savedSimple;
    // The extra nodes lived for this call only; never leave them on the chain.
    if (extraNodes) {
      if (innermost && innermost->next == extraNodes) innermost->next = nullptr;
      if (internal && internal->chain == extraNodes) internal->chain = nullptr;
      FreeChunkDefinition(extraNodes);
    }
    if (st != NN_OK && st != NN_ERR_READONLY_DONE) return lastStatus = st;
    if (st == NN_ERR_READONLY_DONE) lastStatus = st;
  }
  if (lastStatus != 0) {
    // A completed read-only call: success, and nothing to save.
    lastStatus = 0;
    return 0;
  }
  if (item->autoSave) NnNoteUpdate(item->hNote, 1);
  return lastStatus;
}

void TorvoRTChunk::AlterRichText(uint16_t code, uint32_t n1, uint32_t n2, uint32_t n3, uint32_t n4,
                                 const char* text, const char* text2, const char* definition,
                                 TorvoRTChunk* other) {
  // A code the engine has no operation or step for would walk the item,
  // change nothing and report success.
  const bool known = (code >= 1 && code <= 77) || (code >= 2351 && code <= 2449) ||
                     (code >= 2801 && code <= 2827);
  if (!known) {
    lastStatus = NN_ERR_INVALID_ARG;
    return;
  }
  RunFrame(code, n1, n2, n3, n4, text, text2, definition, other);
}

// ---- locate and the target movers ---------------------------------------------

namespace {

// Runs the locate step; true when the target exists. `subCode` 2315 asks for
// existence only, 2427 for the target's whole record range.
bool Locate(TorvoRTChunk* chunk, uint32_t subCode) {
  SessionGlobals* g = chunk->session ? chunk->session->globals : nullptr;
  if (!g) return false;
  g->FirstMatchRecord = 0;
  g->LastMatchRecord = 0;
  if (chunk->RunFrame(STEP_LOCATE, subCode, 0, 0, 0, nullptr, nullptr, nullptr, nullptr) != 0)
    return false;
  return g->FirstMatchRecord != 0;
}

}  // namespace

int TorvoRTChunk::Exists() {
  int found = Locate(this, PROP_EXISTS) ? 1 : 0;
  lastStatus = 0;
  return found;
}

int TorvoRTChunk::GetNextTarget(int) {
  chunkdef_info* node = InnermostNode();
  if (!node || node->occurrenceCount == 0) return 0;
  const uint32_t count = node->occurrenceCount < kMaxOccurrences ? node->occurrenceCount
                                                                  : kMaxOccurrences;
  for (uint32_t i = 0; i < count; ++i)
    if (node->occurrences[i] == UINT32_MAX || node->rangeEnds[i] == UINT32_MAX) return 0;
  for (uint32_t i = 0; i < count; ++i) {
    ++node->occurrences[i];
    if (node->rangeEnds[i] >= node->occurrences[i]) ++node->rangeEnds[i];
  }
  RewriteDefinition();
  return Locate(this, PROP_EXISTS) ? 1 : 0;
}

int TorvoRTChunk::GetPreviousTarget(int) {
  chunkdef_info* node = InnermostNode();
  if (!node || node->occurrenceCount == 0) return 0;
  const uint32_t count = node->occurrenceCount < kMaxOccurrences ? node->occurrenceCount
                                                                  : kMaxOccurrences;
  for (uint32_t i = 0; i < count; ++i) {
    if (node->occurrences[i] > 0) --node->occurrences[i];
    if (node->rangeEnds[i] != 0 && node->rangeEnds[i] >= node->occurrences[i])
      --node->rangeEnds[i];
  }
  RewriteDefinition();
  return Locate(this, PROP_EXISTS) ? 1 : 0;
}

int TorvoRTChunk::GetLastTarget(int) {
  chunkdef_info* node = InnermostNode();
  if (!node || node->occurrenceCount == 0) return 0;
  const uint32_t count = node->occurrenceCount < kMaxOccurrences ? node->occurrenceCount
                                                                  : kMaxOccurrences;
  auto shift = [&](bool up) {
    for (uint32_t i = 0; i < count; ++i) {
      if (up && node->occurrences[i] < UINT32_MAX) ++node->occurrences[i];
      if (!up && node->occurrences[i] > 0) --node->occurrences[i];
    }
  };
  // Up past the last existing occurrence ...
  uint32_t limit = LocateLimit(item);
  bool found = true;
  for (uint32_t steps = 0; found; ++steps) {
    if (steps > limit || node->occurrences[0] == UINT32_MAX) break;
    shift(true);
    found = Locate(this, PROP_EXISTS);
    limit = LocateLimit(item);
  }
  // ... and back down to it, from no further up than an element can be
  // numbered (each has a record of its own): a definition may name an
  // occurrence far past the item's end.
  limit = LocateLimit(item);
  if (node->occurrences[0] > limit + 1) {
    const uint32_t excess = node->occurrences[0] - (limit + 1);
    for (uint32_t i = 0; i < count; ++i)
      node->occurrences[i] = node->occurrences[i] > excess ? node->occurrences[i] - excess : 0;
  }
  found = false;
  while (!found) {
    shift(false);
    if (node->occurrences[0] == 0) break;
    found = Locate(this, PROP_EXISTS);
    if (lastStatus != 0) break;  // an engine failure ends the search
  }
  RewriteDefinition();
  return found ? 1 : 0;
}

long TorvoRTChunk::GetCount(const char* definition) {
  if (!session || !definition) return -1;
  size_t len = std::strlen(definition);
  if (len + 3 > kTextBufferSize) return -1;
  char* buffer = session->TextBuffer(2);
  std::memmove(buffer, definition, len);  // the caller may pass this very buffer
  std::memcpy(buffer + len, " 1", 3);

  chunkdef_info* innermost = InnermostNode();
  uint32_t simple = 0;
  chunkdef_info* added = ParseChunkDefinition(session, innermost, buffer, &simple);
  if (!added) return -1;
  const uint16_t savedType = targetType;
  const uint32_t savedSimple = internal ? internal->simpleDefinition : 0;
  if (innermost) innermost->next = added;
  else if (internal) internal->chain = added;
  chunkdef_info* last = LastNode(added);
  targetType = last->targetType;
  if (internal) internal->simpleDefinition = (savedSimple && simple) ? 1 : 0;

  long result = 0;
  if (last->occurrenceCount != 0) {
    const uint32_t count = last->occurrenceCount < kMaxOccurrences ? last->occurrenceCount
                                                                    : kMaxOccurrences;
    uint32_t limit = LocateLimit(item);
    for (uint32_t steps = 0; steps <= limit && Locate(this, PROP_EXISTS); ++steps) {
      result = long(last->occurrences[0]);
      if (last->occurrences[0] == UINT32_MAX) break;
      for (uint32_t i = 0; i < count; ++i) ++last->occurrences[i];
      limit = LocateLimit(item);
    }
  }

  if (innermost) innermost->next = nullptr;
  else if (internal) internal->chain = nullptr;
  FreeChunkDefinition(added);
  targetType = savedType;
  if (internal) internal->simpleDefinition = savedSimple;
  return result;
}

int TorvoRTChunk::ZoomIn(const char* definition) {
  if (!session || !internal) return 0;
  if (!outerDefinitionText) {
    delete[] definitionText;
    definitionText = nullptr;
    char* buffer = session->TextBuffer(1);
    CalculateDefinition(internal->chain, buffer);
    size_t n = std::strlen(buffer);
    outerDefinitionText = new char[n + 1];
    std::memcpy(outerDefinitionText, buffer, n + 1);
  }
  if (!definition) return 0;
  chunkdef_info* innermost = InnermostNode();
  uint32_t simple = 0;
  chunkdef_info* added = ParseChunkDefinition(session, innermost, definition, &simple);
  if (!added) return 0;
  internal->simpleDefinition = (internal->simpleDefinition && simple) ? 1 : 0;
  if (innermost) innermost->next = added;
  else internal->chain = added;
  targetType = LastNode(added)->targetType;
  RewriteDefinition();
  return 1;
}

void TorvoRTChunk::ZoomOut() {
  if (!outerDefinitionText) return;
  if (definitionText && std::strcmp(definitionText, outerDefinitionText) == 0) {
    delete[] outerDefinitionText;
    outerDefinitionText = nullptr;
    return;
  }
  if (!session || !internal) return;
  FreeChunkDefinition(internal->chain);
  internal->chain = nullptr;
  uint32_t simple = 0;
  internal->chain = ParseChunkDefinition(session, nullptr, outerDefinitionText, &simple);
  internal->simpleDefinition = simple;
  if (internal->chain) {
    RewriteDefinition();
    targetType = LastNode(internal->chain)->targetType;
  } else {
    delete[] definitionText;
    definitionText = new char[1];
    definitionText[0] = 0;
  }
  delete[] outerDefinitionText;
  outerDefinitionText = nullptr;
}

// ---- finders -------------------------------------------------------------------

unsigned long TorvoRTChunk::FindTextChunk(int inside, const char* text, uint16_t length,
                                          const char* mode, const char* font) {
  lastStatus = 0;
  if (!internal || !FindableChain(internal->chain)) {
    lastStatus = 20017;
    return 0;
  }
  uint16_t findMode = FindModeOf(mode);
  FontState state;
  uint32_t mask = 0;
  if (font && *font && ParseFontSpec(font, nullptr, item, &state, &mask) != 0) return 0;
  Locate(this, PROP_FIND);
  if (lastStatus != 0) return 0;
  const SessionGlobals* g = session->globals;
  return FindTextInChunk(this, inside, g->FirstMatchRecord, g->LastMatchRecord, text, length,
                         findMode, &state, mask, nullptr);
}

unsigned long TorvoRTChunk::FindNamedChunk(int inside, const char* typeName, const char* name,
                                           uint16_t length, const char* mode, const char* font) {
  lastStatus = 0;
  if (!internal || !FindableChain(internal->chain)) {
    lastStatus = 20017;
    return 0;
  }
  uint16_t findMode = FindModeOf(mode);
  uint16_t type = FindTargetTypeByName(typeName ? typeName : "");
  FontState state;
  uint32_t mask = 0;
  if (font && *font && ParseFontSpec(font, nullptr, item, &state, &mask) != 0) return 0;
  if (!Locate(this, PROP_FIND)) return 0;
  const SessionGlobals* g = session->globals;
  return FindNamedElementInChunk(this, inside, g->FirstMatchRecord, g->LastMatchRecord, name,
                                 length, findMode, type, &state, mask);
}

// ---- text -----------------------------------------------------------------------

uint16_t TorvoRTChunk::SetText(const char* definition, const char* text, uint16_t length,
                               const char* options) {
  // A definition that names no target sets nothing: a failure, not a success.
  if (!definition || !*definition || !session) return lastStatus = NN_ERR_INVALID_ARG;
  if (!text) text = "";
  const uint32_t available = uint32_t(std::strlen(text));
  uint32_t bytes = available;
  if (length != 0) {
    const NnCharsetInfo* info = session->globals ? session->globals->charsetInfo : nullptr;
    NnStatus st = NnCharsetByteSize(text, length, available, &bytes, info);
    if (st != NN_OK) return lastStatus = st;
    if (bytes > available) bytes = available;
  }
  return RunFrame(STEP_TEXT_SET, PROP_TEXT, bytes, 0, 0, text, options, definition, nullptr);
}

unsigned long TorvoRTChunk::GetText(const char* definition, char* buffer, unsigned long size,
                                    int flag, const char* options) {
  if (!buffer || size == 0 || !session || !session->IsValid()) return 0;
  buffer[0] = 0;
  session->TextBuffer(1)[0] = 0;
  session->ClearResultText();
  session->globals->textCut = 0;
  if (RunFrame(STEP_TEXT_GET, PROP_TEXT, uint32_t(flag), 0, 0, options, nullptr, definition,
               nullptr) != 0)
    return 0;
  unsigned long n = session->ResultTextLength;
  if (n > kResultTextSize) n = kResultTextSize;
  // A text cut short, by the caller's buffer or the result text, fills what
  // it can and says so.
  if (n > size - 1 || session->globals->textCut) lastStatus = kStatusTextCut;
  if (n > size - 1) n = size - 1;
  std::memcpy(buffer, session->ResultText, n);
  buffer[n] = 0;
  return n;
}

// ---- the item's chunks ----------------------------------------------------------

TorvoRTChunk* TorvoRTItem::DefineChunk(const char* definition) {
  if (!session) return nullptr;
  const char* text = (definition && *definition) ? definition : "Everything";
  uint32_t simple = 0;
  chunkdef_info* chain = ParseChunkDefinition(session, nullptr, text, &simple);
  if (!chain) return nullptr;
  TorvoRTChunk* chunk = new TorvoRTChunk(session, this);
  if (!chunk->internal) {
    FreeChunkDefinition(chain);
    delete chunk;
    return nullptr;
  }
  chunk->internal->chain = chain;
  chunk->internal->simpleDefinition = simple;
  chunk->targetType = LastNode(chain)->targetType;
  chunk->RewriteDefinition();
  // The item remembers its own Everything chunk (the chunk clears the
  // pointer when it goes); any other chunk belongs to the caller.
  const bool isEverything =
      !chain->next && chain->relation == REL_EVERYTHING && chain->targetType == EVERYTHING;
  if (isEverything && !everything) everything = chunk;
  return chunk;
}
