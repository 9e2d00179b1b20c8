#include "richtext/engine/locatecache.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "lsxsessi.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kSigText = 0xFF85;

// The engine fields of one definition node.
struct NodeState {
  uint32_t runningCount, satisfied, inside, rearmRecord;
  uint32_t savedHotspotDepth, savedLayerDepth, savedTableDepth, savedFlagFF68, savedBeginDepth;
  uint32_t stylizedFont, insideFirst, insideClose;
};

NodeState SaveNode(const chunkdef_info* n) {
  return {n->runningCount,      n->satisfied,       n->inside,          n->rearmRecord,
          n->savedHotspotDepth, n->savedLayerDepth, n->savedTableDepth, n->savedFlagFF68,
          n->savedBeginDepth,   n->stylizedFont,    n->insideFirst,     n->insideClose};
}

void RestoreNode(chunkdef_info* n, const NodeState& s) {
  n->runningCount = s.runningCount;
  n->satisfied = s.satisfied;
  n->inside = s.inside;
  n->rearmRecord = s.rearmRecord;
  n->savedHotspotDepth = s.savedHotspotDepth;
  n->savedLayerDepth = s.savedLayerDepth;
  n->savedTableDepth = s.savedTableDepth;
  n->savedFlagFF68 = s.savedFlagFF68;
  n->savedBeginDepth = s.savedBeginDepth;
  n->stylizedFont = s.stylizedFont;
  n->insideFirst = s.insideFirst;
  n->insideClose = s.insideClose;
}

// What one occurrence number gave: found or not, its records and the item's
// current font after the call, for the existence test and the find apart.
struct Result {
  uint8_t existsKnown = 0, findKnown = 0;
  uint32_t existsFirst = 0, existsLast = 0, existsFont = 0;
  uint32_t findFirst = 0, findLast = 0, findFont = 0;
};

}  // namespace

struct LocateCache {
  std::vector<uint8_t> key;      // the chunk, its definition and options, the list
  uint32_t generation = 0;
  std::vector<Result> results;   // by occurrence number

  // The walk state kept for continuing: valid for occurrence numbers from
  // snapshotFrom on.
  bool haveSnapshot = false;
  uint32_t snapshotFrom = 0;
  std::unique_ptr<unsigned char[]> context;  // the engine context's bytes
  std::vector<NodeState> nodes;
  uint32_t font = 0;

  // Where a full walk of the list ends and the last text font it meets.
  bool endKnown = false;
  uint32_t walkable = 0;         // records before the first one without length
  uint32_t lastTextRecord = 0;   // its number, 0 none
  uint32_t lastTextFont = 0;

  // The call under way.
  chunkdef_info* target = nullptr;
  uint32_t number = 0;
  bool diverged = false;
  bool mayStop = false;          // the find may end once its element ended
  bool canSnapshot = false;
};

namespace {

void Put(std::vector<uint8_t>* key, const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  key->insert(key->end(), b, b + n);
}
template <typename T>
void PutValue(std::vector<uint8_t>* key, const T& v) {
  Put(key, &v, sizeof v);
}
void PutText(std::vector<uint8_t>* key, const char* text) {
  uint32_t n = text ? uint32_t(std::strlen(text)) : UINT32_MAX;
  PutValue(key, n);
  if (text) Put(key, text, n);
}

// The context owns nothing the walk state could share with another call.
bool OwnsNothing(const RTProcessContext* ctx) {
  return !ctx->ScratchRecord && !ctx->Positions && !ctx->ParagraphSpec && !ctx->LinkMatch &&
         !ctx->SavedParagraphDefinitions && !ctx->DropMarks.list && !ctx->GraphicAttachments.list &&
         !ctx->GraphicAttachments.names && !ctx->RemovalFrames.frames && !ctx->Compose.newList &&
         !ctx->Compose.currentSegment;
}

chunkdef_info* Innermost(chunkdef_info* first) {
  chunkdef_info* n = first;
  while (n && n->inner) n = n->inner;
  return n;
}

void FindEnd(LocateCache* cache, const RecordList* list) {
  cache->endKnown = true;
  uint32_t number = 0;
  for (const RTRecordNode* n = list ? list->first : nullptr; n; n = n->next) {
    if (n->length == 0) break;
    ++number;
    if (n->signature == kSigText && n->length >= kv::cd::host::kTextFixed) {
      cache->lastTextRecord = number;
      std::memcpy(&cache->lastTextFont, n->data + kv::cd::host::kTextFont, 4);
    }
  }
  cache->walkable = number;
}

}  // namespace

void LocateCacheInvalidate(RTItemContext* itemContext) {
  if (itemContext) ++itemContext->recordsGeneration;
}

LocateCache* LocateCacheBegin(RTProcessContext* ctx) {
  if (!ctx || ctx->OperationCode != STEP_LOCATE || ctx->WriteMode) return nullptr;
  if (ctx->SubCode != PROP_EXISTS && ctx->SubCode != PROP_FIND) return nullptr;
  TorvoRTChunk* chunk = ctx->Chunk;
  TorvoRTItem* item = ctx->Item;
  SessionGlobals* g = ctx->Session ? ctx->Session->globals : nullptr;
  if (!chunk || !chunk->internal || !item || !item->context || !g || !ctx->Records) return nullptr;
  if (g->FirstMatchRecord || g->LastMatchRecord || GetChunkProgressCallback()) return nullptr;
  if (!OwnsNothing(ctx)) return nullptr;
  chunkdef_info* target = Innermost(ctx->FirstNode);
  if (!target || (target->relation != REL_CONTAINS && target->relation != REL_INSIDE) ||
      target->occurrenceCount != 1 || target->occurrences[0] == 0 ||
      target->occurrences[0] == UINT32_MAX || target->rangeEnds[0] > target->occurrences[0])
    return nullptr;

  // The key: everything a locate walk reads besides the records and the
  // innermost occurrence number.
  std::vector<uint8_t> key;
  PutValue(&key, chunk);
  PutValue(&key, item);
  PutValue(&key, ctx->Records);
  PutValue(&key, ctx->Records->count);
  for (const chunkdef_info* n = ctx->FirstNode; n; n = n->inner) {
    PutValue(&key, n);
    PutValue(&key, n->relation);
    PutValue(&key, n->targetType);
    PutValue(&key, n->matchMode);
    PutValue(&key, n->occurrenceCount);
    PutText(&key, n->matchText);
    PutText(&key, n->attachedText);
    if (n != target) {
      uint32_t count = n->occurrenceCount < kMaxOccurrences ? n->occurrenceCount : kMaxOccurrences;
      Put(&key, n->occurrences, count * sizeof(uint32_t));
      Put(&key, n->rangeEnds, count * sizeof(uint32_t));
    }
  }
  const uint16_t options[] = {chunk->targetType,         chunk->AccentSensitive,
                              chunk->CaseSensitive,      chunk->RegularExpression,
                              chunk->SearchWordBoundaries, chunk->SetImpliedProperties,
                              chunk->TextWildcards,      chunk->linkKind,
                              chunk->stopSwitch,         item->context->modeWord};
  Put(&key, options, sizeof options);
  PutValue(&key, chunk->insertPosition);
  PutValue(&key, chunk->internal->simpleDefinition);
  PutValue(&key, ctx->TextWildcards);
  PutText(&key, g->optionString);

  auto* held = static_cast<LocateCache*>(chunk->internal->locateCache.get());
  if (!held || held->generation != item->context->recordsGeneration || held->key != key) {
    auto fresh = std::shared_ptr<LocateCache>(new (std::nothrow) LocateCache());
    if (!fresh) return nullptr;
    fresh->key.swap(key);
    fresh->generation = item->context->recordsGeneration;
    chunk->internal->locateCache = fresh;
    held = fresh.get();
  }

  // The find stops early only where its element provably cannot come again:
  // a plain counted element under Everything.
  bool plainChain = target->relation == REL_CONTAINS;
  for (const chunkdef_info* n = ctx->FirstNode; n && n != target; n = n->inner)
    plainChain &= n->relation == REL_EVERYTHING;
  const uint16_t type = target->targetType;
  plainChain &= type != ROW && type != COLUMN && type < kTargetTypeCount &&
                TargetTypeDescriptors[type].occurrenceOffset == 0;
  held->target = target;
  held->number = target->occurrences[0];
  held->diverged = false;
  held->mayStop = plainChain && ctx->SubCode == PROP_FIND;
  held->canSnapshot = true;
  target->probeFrom = held->number;
  target->probeTested = target->probeHit = 0;
  return held;
}

bool LocateCacheStart(RTProcessContext* ctx, LocateCache* cache) {
  if (!cache) return false;
  SessionGlobals* g = ctx->Session->globals;
  const uint32_t k = cache->number;
  if (k < cache->results.size()) {
    const Result& r = cache->results[k];
    const bool find = ctx->SubCode == PROP_FIND;
    // A number that is not there is not there for either question.
    const bool missing = (r.existsKnown && !r.existsFirst) || (r.findKnown && !r.findFirst);
    if (missing || (find ? r.findKnown : r.existsKnown)) {
      if (missing) {
        g->FirstMatchRecord = g->LastMatchRecord = 0;
        ctx->Item->context->currentFont = r.existsKnown ? r.existsFont : r.findFont;
      } else if (find) {
        g->FirstMatchRecord = r.findFirst;
        g->LastMatchRecord = r.findLast;
        ctx->Item->context->currentFont = r.findFont;
      } else {
        g->FirstMatchRecord = r.existsFirst;
        g->LastMatchRecord = r.existsLast;
        ctx->Item->context->currentFont = r.existsFont;
        if (ctx->Chunk) ctx->Chunk->lastStatus = NN_ERR_READONLY_DONE;
      }
      return true;
    }
  }
  if (!cache->haveSnapshot || cache->snapshotFrom > k) return false;

  // Continue from the kept state, with this call's own arguments.
  const RTProcessContext* kept = reinterpret_cast<const RTProcessContext*>(cache->context.get());
  if (kept->FirstNode != ctx->FirstNode || kept->Records != ctx->Records) return false;
  const uint32_t subCode = ctx->SubCode;
  const char* optionString = ctx->Compose.optionString;
  std::memcpy(static_cast<void*>(ctx), cache->context.get(), sizeof(RTProcessContext));
  ctx->SubCode = subCode;
  ctx->Compose.optionString = optionString;
  size_t i = 0;
  for (chunkdef_info* n = ctx->FirstNode; n && i < cache->nodes.size(); n = n->inner, ++i)
    RestoreNode(n, cache->nodes[i]);
  ctx->Item->context->currentFont = cache->font;
  return false;
}

bool LocateCacheAfterRecord(RTProcessContext* ctx, LocateCache* cache) {
  if (!cache) return false;
  chunkdef_info* target = cache->target;
  if (!cache->diverged) {
    if (target->probeHit) {
      cache->diverged = true;
    } else if (target->probeTested && cache->canSnapshot) {
      // Every walk for this number or a higher one passes this state.
      if (!OwnsNothing(ctx)) {
        cache->canSnapshot = false;
      } else {
        if (!cache->context) {
          cache->context.reset(new (std::nothrow) unsigned char[sizeof(RTProcessContext)]);
          if (!cache->context) {
            cache->canSnapshot = false;
            return false;
          }
        }
        std::memcpy(cache->context.get(), static_cast<const void*>(ctx), sizeof(RTProcessContext));
        cache->nodes.clear();
        for (const chunkdef_info* n = ctx->FirstNode; n; n = n->inner)
          cache->nodes.push_back(SaveNode(n));
        cache->font = ctx->Item->context->currentFont;
        cache->haveSnapshot = true;
        cache->snapshotFrom = cache->number;
      }
    }
    target->probeTested = 0;
  }
  // A find whose element has ended: no later element can qualify again, the
  // match records stay as they are and only the current font would change.
  if (cache->mayStop && cache->diverged && !ctx->ElementActionPending &&
      ctx->Session->globals->FirstMatchRecord && ctx->NodeUnderTest == target &&
      !target->satisfied && target->runningCount >= cache->number && !ctx->StopRequested) {
    if (!cache->endKnown) FindEnd(cache, ctx->Records);
    if (ctx->RecordNumber >= cache->walkable) return false;  // the walk ends here anyway
    if (cache->lastTextRecord > ctx->RecordNumber)
      ctx->Item->context->currentFont = cache->lastTextFont;
    return true;
  }
  return false;
}

void LocateCacheEnd(RTProcessContext* ctx, LocateCache* cache, NnStatus status) {
  if (!cache) return;
  chunkdef_info* target = cache->target;
  target->probeFrom = target->probeTested = target->probeHit = 0;
  cache->target = nullptr;
  if (status != 0) return;
  const uint32_t k = cache->number;
  const uint32_t bound = ctx->Records ? ctx->Records->count + 2 : 0;
  if (k > bound) return;
  if (cache->results.size() <= k) cache->results.resize(size_t(k) + 1);
  Result& r = cache->results[k];
  const SessionGlobals* g = ctx->Session->globals;
  const uint32_t font = ctx->Item->context->currentFont;
  if (ctx->SubCode == PROP_FIND) {
    r.findKnown = 1;
    r.findFirst = g->FirstMatchRecord;
    r.findLast = g->LastMatchRecord;
    r.findFont = font;
  } else {
    r.existsKnown = 1;
    r.existsFirst = g->FirstMatchRecord;
    r.existsLast = g->LastMatchRecord;
    r.existsFont = font;
  }
}
