// Operation 2419 in the engine: rendering the chunk's target. The walk only
// records where the target lies; the render driver runs when an element of
// the target ends, over the records the walk recorded.
#include "richtext/engine/render2419.h"

#include "host/pool.h"
#include "lsxsessi.h"
#include "render/render.h"
#include "render/rendercontext.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint32_t kDefinitionSlots = 2048;   // slot 0 stays empty
constexpr uint32_t kIdBitmapBytes = 0x10000 / 8;
constexpr uint16_t kSigParagraphDefinition = 0xFF82;

// The render context and its engine fields point at the call's records.
void BindContext(RTProcessContext* ctx, RenderContext* rc) {
  rc->session = ctx->Session;
  rc->item = ctx->Item;
  rc->chunk = ctx->Chunk;
  rc->records = ctx->Records;
  if (ctx->Session && ctx->Session->globals) ctx->Session->globals->renderContext = rc;
}

void ReadReplicaInfo(RTProcessContext* ctx, RenderContext* rc) {
  NnReplicaInfo info{};
  if (ctx->Item && ctx->Item->hDb && NnDbGetReplicaInfo(ctx->Item->hDb, &info) == NN_OK)
    rc->replicaInfo = info;
}

}  // namespace

RenderContext* Render2419Context(const RTProcessContext* ctx) {
  if (!ctx || !ctx->Chunk || !ctx->Chunk->internal) return nullptr;
  return ctx->Chunk->internal->renderContext;
}

NnStatus Render2419Setup(RTProcessContext* ctx, const chunkdef_info* extraDefinition) {
  RenderContext* rc = Render2419Context(ctx);
  if (!rc) return NN_ERR_INVALID_ARG;
  // The innermost node is the last of the linked chain, extra nodes included.
  const chunkdef_info* innermost = InnermostCallNode(ctx);
  rc->startsOrContainsType = 0;
  if (innermost && (innermost->relation == REL_STARTS_WITH || innermost->relation == REL_CONTAINS))
    rc->startsOrContainsType = innermost->targetType;
  rc->subChunk = extraDefinition ? 1 : 0;
  rc->rangeFirst = rc->rangeLast = nullptr;
  BindContext(ctx, rc);
  return 0;
}

NnStatus Render2419PreWalk(RTProcessContext* ctx) {
  RenderContext* rc = Render2419Context(ctx);
  if (!rc) return NN_ERR_INVALID_ARG;
  BindContext(ctx, rc);
  if (rc->definitionTable) return 0;
  auto** table = static_cast<RTRecordNode**>(
      POOL_ALLOC(ctx->Session, kDefinitionSlots * sizeof(RTRecordNode*), true));
  if (!table) return NN_ERR_MEMORY;
  // The id map lists each stored id once; ids are kept as they are stored.
  uint16_t* stored = nullptr;
  uint16_t* inForce = nullptr;
  uint8_t* bits = nullptr;
  if (!rc->paragraphIdMapStored && !rc->paragraphIdMapInForce) {
    stored = static_cast<uint16_t*>(POOL_ALLOC(ctx->Session, kDefinitionSlots * 2, true));
    inForce = static_cast<uint16_t*>(POOL_ALLOC(ctx->Session, kDefinitionSlots * 2, true));
    bits = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, kIdBitmapBytes, true));
    if (!stored || !inForce || !bits) {
      PoolFree(ctx->Session, stored);
      PoolFree(ctx->Session, inForce);
      PoolFree(ctx->Session, bits);
      PoolFree(ctx->Session, table);
      return NN_ERR_MEMORY;
    }
  }
  uint16_t count = 0;
  uint32_t mapped = 0;
  for (RTRecordNode* node = ctx->Records ? ctx->Records->first : nullptr; node; node = node->next) {
    if (node->signature != kSigParagraphDefinition) continue;
    if (count + 1u < kDefinitionSlots) table[++count] = node;
    uint16_t id = 0;
    if (!stored || !kv::cd::ReadU16(node->data, node->length, kv::cd::host::kPabId, &id)) continue;
    const bool known = (bits[id >> 3] >> (id & 7)) & 1;
    if (!known && mapped < kDefinitionSlots) {
      stored[mapped] = id;
      inForce[mapped] = id;
      bits[id >> 3] = uint8_t(bits[id >> 3] | (1u << (id & 7)));
      ++mapped;
    }
  }
  rc->definitionTable = table;
  rc->definitionCount = count;
  if (stored) {
    rc->paragraphIdMapStored = stored;
    rc->paragraphIdMapInForce = inForce;
    rc->paragraphIdMapCount = mapped;
    rc->paragraphIdMapBits = bits;
    rc->paragraphIdMapIdentity = true;
  }
  return 0;
}

NnStatus Render2419Record(RTProcessContext* ctx) {
  RenderContext* rc = Render2419Context(ctx);
  RTRecordNode* node = ctx->CurrentNode;
  if (!rc || !node) return 0;
  if (!rc->rangeFirst) rc->rangeFirst = node;
  rc->rangeLast = node;
  return 0;
}

NnStatus Render2419Element(RTProcessContext* ctx) {
  RenderContext* rc = Render2419Context(ctx);
  if (!rc) return 0;
  RTRecordNode* first = rc->rangeFirst;
  RTRecordNode* last = rc->rangeLast;
  rc->rangeFirst = rc->rangeLast = nullptr;
  if (!first || !last) return 0;  // an element without records renders nothing
  BindContext(ctx, rc);
  rc->currentRecord = first;
  rc->lastRecord = last;
  NnStatus st = BuildGraphicRecordTable(ctx, rc);
  if (st) return st;
  ReadReplicaInfo(ctx, rc);
  return PrXMLStr(rc, 0, 0, rc->subChunk ? 1 : 0);
}

NnStatus Render2419Finish(RTProcessContext* ctx) {
  RenderContext* rc = Render2419Context(ctx);
  if (!rc || !rc->subChunk) return 0;
  BindContext(ctx, rc);
  NnStatus st = BuildGraphicRecordTable(ctx, rc);
  if (st) return st;
  // A table the caller loaded stays the caller's.
  bool loadedHere = false;
  if (!rc->charsetTable) {
    if (NnCharsetTableLoad(NN_CHARSET_LMBCS, NN_CHARSET_UTF8, &rc->charsetTable) != NN_OK) {
      rc->charsetTable = nullptr;
      return 0;
    }
    loadedHere = true;
  }
  ReadReplicaInfo(ctx, rc);
  st = PrXMLStr(rc, 0, 0, 2);
  if (loadedHere) {
    NnCharsetTableFree(rc->charsetTable);
    rc->charsetTable = nullptr;
  }
  return st;
}
