// The chunk object: construction and destruction with the session's chunk
// list, the internal block, sub-chunks and the definition text.
#include "include/rtchunk.h"

#include <cstring>
#include <new>

#include "host/pool.h"
#include "host/sortcmp.h"
#include "include/rtitem.h"
#include "richtext/chunk/editing_util.h"

namespace {

const char kChunkFile[] = "rtchunki";
const char kBlockFile[] = "rtchunk";

bool TraceOn() { return static_cast<int16_t>(NnIniGetNumber("KestrelvaultDebug")) > 2; }

void Trace(bool on, const char* step, int line, const char* file) {
  if (on) NnLogMessage(0, "Kestrelvault %s at %d in %s", step, line, file);
}

_internal_RTChunk* NewInternalBlock() {
  bool trace = TraceOn();
  Trace(trace, "inside new _internal_RTChunk", __LINE__, kBlockFile);
  _internal_RTChunk* block = new _internal_RTChunk();
  block->marker = kChunkBlockMarker;
  Trace(trace, "leaving new _internal_RTChunk", __LINE__, kBlockFile);
  return block;
}

char* CopyText(const char* text) {
  if (!text) return nullptr;
  size_t n = std::strlen(text);
  char* copy = new char[n + 1];
  std::memcpy(copy, text, n + 1);
  return copy;
}

// Frees pool-held key entries: each entry's text, then the array.
void FreeKeyArray(LSXLsiSession* session, kv::SortKeyEntry*& entries, uint16_t& count) {
  if (entries && session) {
    for (uint16_t i = 0; i < count; ++i) {
      if (entries[i].keyText) PoolFree(session, const_cast<char*>(entries[i].keyText));
    }
    PoolFree(session, entries);
  }
  entries = nullptr;
  count = 0;
}

// A heap copy of a text into *to (nothing for null); false when memory runs out.
bool CopyOwned(const char* text, char** to) {
  if (!text) return true;
  const size_t n = std::strlen(text);
  *to = new (std::nothrow) char[n + 1];
  if (!*to) return false;
  std::memcpy(*to, text, n + 1);
  return true;
}

// A copy of a chain for a new chunk: positions, match texts and modes, and
// attached texts, but not the engine fields. Without its match text a node
// such as Field Name "Subject" would address whichever field comes first.
// Null (nothing left behind) when memory runs out.
chunkdef_info* CopyChain(const chunkdef_info* from, chunkdef_info** last) {
  chunkdef_info* head = nullptr;
  chunkdef_info* tail = nullptr;
  *last = nullptr;
  for (; from; from = from->next) {
    chunkdef_info* node = new (std::nothrow) chunkdef_info();
    if (!node) {
      FreeChunkDefinition(head);
      return nullptr;
    }
    node->relation = from->relation;
    node->targetType = from->targetType;
    uint32_t count = from->occurrenceCount;
    if (count > kMaxOccurrences) count = kMaxOccurrences;
    node->occurrenceCount = count;
    for (uint32_t i = 0; i < count; ++i) {
      node->occurrences[i] = from->occurrences[i];
      node->rangeEnds[i] = from->rangeEnds[i];
    }
    if (tail) tail->next = node;
    else head = node;
    tail = node;
    node->matchMode = from->matchMode;
    if (!CopyOwned(from->matchText, &node->matchText) ||
        !CopyOwned(from->attachedText && *from->attachedText ? from->attachedText : nullptr,
                   &node->attachedText)) {
      FreeChunkDefinition(head);
      return nullptr;
    }
  }
  *last = tail;
  return head;
}

// The item of a chunk, when it still exists: the session deletes items
// before chunks, so a chunk that outlives its item must not reach it.
TorvoRTItem* LiveItem(LSXLsiSession* session, TorvoRTItem* item) {
  if (!item || !session) return item;
  for (SessionListed* p = session->FirstRTItem(); p; p = p->sessionNext) {
    if (p == static_cast<SessionListed*>(item)) return item;
  }
  return nullptr;
}

}  // namespace

void ReleaseChunkContext(_internal_RTChunk* block, int freeBlock) {
  if (!block) return;
  HeldBuffers* held = block->held;
  while (held) {
    HeldBuffers* next = held->next;
    for (void* buffer : held->buffers) delete[] static_cast<char*>(buffer);
    delete held;
    held = next;
  }
  block->held = nullptr;
  if (freeBlock) {
    delete block;
    return;
  }
  // Kept for further use: only the marker is set again; what the block
  // still owns (chain, work buffers and blocks, keys) goes with the chunk.
  block->marker = kChunkBlockMarker;
}

TorvoRTChunk::TorvoRTChunk(LSXLsiSession* s, TorvoRTItem* i) : session(s), item(i) {
  sessionDelete = [](SessionListed* self) { delete static_cast<TorvoRTChunk*>(self); };
  bool trace = TraceOn();
  Trace(trace, "inside new TorvoRTChunk", __LINE__, kChunkFile);
  internal = NewInternalBlock();
  Trace(trace, "step 2 new TorvoRTChunk", __LINE__, kChunkFile);
  internal->marker = kChunkBlockMarker;
  internal->chain = nullptr;
  internal->renderContext = nullptr;
  internal->simpleDefinition = 0;
  internal->ActOnText = nullptr;
  internal->QueryLinkData = nullptr;
  internal->QueryExportNames = nullptr;
  Trace(trace, "step 3 new TorvoRTChunk", __LINE__, kChunkFile);
  if (session) {
    Trace(trace, "step 4 new TorvoRTChunk", __LINE__, kChunkFile);
    session->AddToRTCHUNKList(this);
    Trace(trace, "step 5 new TorvoRTChunk", __LINE__, kChunkFile);
  }
  Trace(trace, "step 8 new TorvoRTChunk", __LINE__, kChunkFile);
}

TorvoRTChunk::~TorvoRTChunk() {
  if (TorvoRTItem* owner = LiveItem(session, item)) {
    if (owner->everything == this) owner->everything = nullptr;
  }
  if (internal) {
    FreeChunkDefinition(internal->chain);
    internal->chain = nullptr;
    delete[] internal->workBuffer1;
    internal->workBuffer1 = nullptr;
  }
  delete[] definitionText;
  definitionText = nullptr;
  delete[] outerDefinitionText;
  outerDefinitionText = nullptr;
  if (internal) {
    delete[] internal->workBuffer2;
    internal->workBuffer2 = nullptr;
    FreeKeyArray(session, internal->rowKeys, internal->rowKeyCount);
    FreeKeyArray(session, internal->positions, internal->positionCount);
    // Platform blocks the engine left on the chunk.
    for (int b = 0; b < 5; ++b) {
      if (internal->workBlocks[b]) {
        if (internal->workBlockAddress[b]) NnMemUnlock(internal->workBlocks[b]);
        NnMemFree(internal->workBlocks[b]);
      }
    }
    ReleaseChunkContext(internal, 1);
    internal = nullptr;
  }
  // Answers an event handler left and nobody collected.
  for (char*& text : eventReturn) {
    delete[] text;
    text = nullptr;
  }
  if (session) session->RemoveFromRTCHUNKList(this);
}

TorvoRTChunk* TorvoRTChunk::DefineSubChunk(const char* definition) {
  if (!definition) return nullptr;
  chunkdef_info* last = nullptr;
  chunkdef_info* copy = CopyChain(internal ? internal->chain : nullptr, &last);
  if (!copy && internal && internal->chain) return nullptr;
  uint32_t simple = 0;
  chunkdef_info* parsed = ParseChunkDefinition(session, last, definition, &simple);
  if (!parsed) {
    FreeChunkDefinition(copy);
    return nullptr;
  }
  // Built only once the definition parsed: a failure leaves no chunk in the
  // session's list.
  TorvoRTChunk* sub = new (std::nothrow) TorvoRTChunk(session, item);
  if (!sub) {
    FreeChunkDefinition(copy);
    FreeChunkDefinition(parsed);
    return nullptr;
  }
  sub->internal->simpleDefinition =
      (simple == 1 && internal && internal->simpleDefinition == 1) ? 1 : 0;
  if (last) last->next = parsed;
  else copy = parsed;
  sub->internal->chain = copy;
  // The whole chain must read back from its text.
  if (!ChunkDefinitionFits(copy)) {
    delete sub;
    return nullptr;
  }
  chunkdef_info* inner = parsed;
  while (inner->next) inner = inner->next;
  sub->targetType = inner->targetType;

  char local[kTextBufferSize];
  char* text = session ? session->PropertyText : local;
  CalculateDefinition(copy, text);
  sub->definitionText = CopyText(text);
  return sub;
}

chunkdef_info* TorvoRTChunk::InnermostNode() const {
  chunkdef_info* node = internal ? internal->chain : nullptr;
  while (node && node->next) node = node->next;
  return node;
}

void TorvoRTChunk::RewriteDefinition() {
  delete[] definitionText;
  definitionText = nullptr;
  char local[kTextBufferSize];
  char* text = session ? session->PropertyText : local;
  CalculateDefinition(internal ? internal->chain : nullptr, text);
  definitionText = CopyText(text);
}
