#include "richtext/item/compose.h"

#include <cstring>

#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/item/cdlayout.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kSigText = 0xFF85;
constexpr uint16_t kSigBegin = 221;
constexpr uint16_t kSigEnd = 222;

bool IsHotspotBegin(uint16_t sig) {
  return sig == 0xFFA9 || sig == 0xFF7E || sig == 0xFF74 || sig == 0xFFAD;
}
bool IsHotspotEnd(uint16_t sig) { return sig == 0xAA || sig == 0x7F || sig == 0xAE; }

// Largest text payload of one text record; long texts are split below this.
constexpr uint32_t kMaxTextChunk = 60000;

// The byte length of the longest run of whole characters within `limit` bytes.
uint32_t WholeCharacters(const char* text, uint32_t length, uint32_t limit) {
  if (length <= limit) return length;
  uint32_t used = 0;
  while (used < limit) {
    uint32_t bytes = 0;
    if (NnCharsetByteSize(text + used, 1, length - used, &bytes, nullptr) != NN_OK || bytes == 0)
      bytes = 1;
    if (used + bytes > limit) break;
    used += bytes;
  }
  return used ? used : limit;
}

}  // namespace

void ComposeInit(ComposeContext* ctx, LSXLsiSession* session, TorvoRTItem* item) {
  *ctx = ComposeContext();
  ctx->session = session;
  ctx->item = item;
  if (item) {
    ctx->hNote = item->hNote;
    ctx->itemName = item->itemName;
  }
  ctx->flag = 1;
}

NnStatus ComposeBufferGrow(ComposeContext* ctx) {
  if (!ctx || !ctx->session) return NN_ERR_INVALID_ARG;
  if (!ctx->newList) {
    ctx->newList = RecordListCreate(ctx->session);
    if (!ctx->newList) return NN_ERR_MEMORY;
  }
  NnHandle h = 0;
  NnStatus st = NnMemAlloc(kComposeSegmentSize, NN_MEM_GROWABLE, &h);
  if (st != NN_OK) return NN_ERR_MEMORY;
  uint8_t* p = static_cast<uint8_t*>(NnMemLock(h));
  if (!p) {
    NnMemFree(h);
    return NN_ERR_MEMORY;
  }
  ctx->newList->segments.push_back(h);
  if (ctx->currentSegment) ctx->lastSegmentFill = ctx->segmentFill;
  ctx->currentSegment = h;
  ctx->segmentData = p;
  ctx->segmentFill = 0;
  return NN_OK;
}

NnStatus ComposeSaveFill(ComposeContext* ctx) {
  if (!ctx) return NN_ERR_INVALID_ARG;
  ctx->lastSegmentFill = ctx->segmentFill;
  return NN_OK;
}

void ComposeReleaseHandles(ComposeContext* ctx, uint16_t keepList) {
  if (!ctx) return;
  if (!keepList && ctx->newList) RecordListFreeWithAllocator(ctx->session, ctx->newList);
  ctx->newList = nullptr;
  ctx->currentSegment = 0;
  ctx->segmentData = nullptr;
  ctx->segmentFill = 0;
}

RecordList* ComposeTakeList(ComposeContext* ctx) {
  if (!ctx) return nullptr;
  if (!ctx->newList) ctx->newList = RecordListCreate(ctx->session);
  RecordList* list = ctx->newList;
  ctx->newList = nullptr;
  ctx->currentSegment = 0;
  ctx->segmentData = nullptr;
  ctx->segmentFill = 0;
  return list;
}

NnStatus AppendRecord(const void* data, uint16_t signature, uint32_t length, ComposeContext* ctx) {
  if (!ctx || !ctx->session) return NN_ERR_INVALID_ARG;
  if (!data || length > kMaxRecordLength) return NN_ERR_CD_STRUCTURE;
  const uint8_t* rec = static_cast<const uint8_t*>(data);
  uint16_t sig;
  kv::cd::HeaderKind kind;
  uint32_t storedLength, headerSize;
  if (!kv::cd::ReadHostHeader(rec, length, &sig, &kind, &storedLength, &headerSize) ||
      length < headerSize || storedLength != length || sig != signature)
    return NN_ERR_CD_STRUCTURE;

  // Records start on 8-byte boundaries within a segment, so that handlers can
  // read their fields in place.
  uint32_t start = (ctx->segmentFill + 7u) & ~7u;
  if (!ctx->segmentData || start + length > kComposeSegmentSize) {
    NnStatus st = ComposeBufferGrow(ctx);
    if (st != NN_OK) return st;
    start = 0;
  }
  uint8_t* dst = ctx->segmentData + start;
  std::memcpy(dst, rec, length);
  uint16_t flags = kNodeOwnsData;
  if (ctx->session->globals && ctx->session->globals->adoptFlag) flags |= kNodeBuiltByEngine;
  RTRecordNode* node =
      RecordListAppendNode(ctx->session, ctx->newList, signature, dst, length, flags);
  if (!node) return NN_ERR_MEMORY;
  node->segment = uint16_t(ctx->newList->segments.size());
  node->position = start;
  ctx->segmentFill = start + length;
  ++ctx->composedCount;

  // What is composed next lands at this table depth.
  if (signature == 163 || signature == 207) ++ctx->composedTables;
  if ((signature == 165 || signature == 209) && ctx->composedTables) --ctx->composedTables;
  // A legacy begin directly followed by a newer one opens one hotspot.
  const RTRecordNode* before = node->prev;
  if (IsHotspotBegin(signature) && !(signature == 0xFFA9 && before && before->signature == 0xFFAD))
    ++ctx->composedHotspots;
  if (IsHotspotEnd(signature) && ctx->composedHotspots) --ctx->composedHotspots;
  if (IsHotspotBegin(signature)) {
    uint16_t type = 0;
    kv::cd::ReadU16(rec, length, kv::cd::host::kHotspotType, &type);
    if (signature == 0xFFAD)
      ctx->linkOpen = 1;
    else
      ctx->hotspotOpen = 1;
    if (type == 4 || type == 10) ctx->attachmentHotspot = 1;
  } else if (IsHotspotEnd(signature)) {
    if (signature == 0xAE)
      ctx->linkOpen = 0;
    else
      ctx->hotspotOpen = 0;
    ctx->attachmentHotspot = 0;
  }
  return NN_OK;
}

NnStatus EmitTextRecord(const char* text, uint32_t length, const uint32_t* fontId,
                        ComposeContext* ctx) {
  if (!ctx) return NN_ERR_INVALID_ARG;
  if (!text) length = 0;
  uint32_t font = fontId ? *fontId
                         : (ctx->item && ctx->item->context ? ctx->item->context->currentFont
                                                           : 0x0A000001u);
  uint8_t rec[kv::cd::host::kTextFixed + kMaxTextChunk];
  uint32_t done = 0;
  do {
    uint32_t n = WholeCharacters(text + done, length - done, kMaxTextChunk);
    uint32_t total = kv::cd::host::kTextFixed + n;
    kv::cd::WriteHostHeader(rec, sizeof rec, kSigText, kv::cd::HeaderKind::Word, total);
    std::memcpy(rec + kv::cd::host::kTextFont, &font, 4);
    if (n) std::memcpy(rec + kv::cd::host::kTextFixed, text + done, n);
    NnStatus st = AppendRecord(rec, kSigText, total, ctx);
    if (st != NN_OK) return st;
    done += n;
  } while (done < length);
  return NN_OK;
}

static NnStatus EmitBeginEnd(uint8_t type, uint16_t signature, uint16_t flag, ComposeContext* ctx) {
  uint8_t rec[6] = {type, 6, uint8_t(flag), uint8_t(flag >> 8), uint8_t(signature),
                    uint8_t(signature >> 8)};
  return AppendRecord(rec, type, sizeof rec, ctx);
}

NnStatus EmitBeginRecord(uint16_t signature, uint16_t flag, ComposeContext* ctx) {
  return EmitBeginEnd(kSigBegin, signature, flag, ctx);
}

NnStatus EmitEndRecord(uint16_t signature, uint16_t flag, ComposeContext* ctx) {
  return EmitBeginEnd(kSigEnd, signature, flag, ctx);
}

NnStatus EmitRecord8(uint8_t type, uint32_t value24, uint16_t value16, ComposeContext* ctx) {
  uint8_t rec[8] = {type,           8, uint8_t(value16), uint8_t(value16 >> 8), uint8_t(value24),
                    uint8_t(value24 >> 8), uint8_t(value24 >> 16), 0};
  return AppendRecord(rec, type, sizeof rec, ctx);
}

NnStatus EmitTextWithRecords(const char* text, uint32_t length, const RTRecordNode* current,
                             ComposeContext* ctx, const RecordList* pending) {
  uint32_t font = 0;
  const uint32_t* fontPtr = nullptr;
  if (current && (current->signature == kSigText || current->signature == 0xFFE4) &&
      current->length >= kv::cd::host::kTextFixed) {
    std::memcpy(&font, current->data + kv::cd::host::kTextFont, 4);
    fontPtr = &font;
  }
  NnStatus st = EmitTextRecord(text, length, fontPtr, ctx);
  if (st != NN_OK || !pending) return st;
  return EmitRecordList(pending->first, ctx);
}

NnStatus EmitRecordList(const RTRecordNode* node, ComposeContext* ctx) {
  for (; node; node = node->next) {
    NnStatus st = AppendRecord(node->data, node->signature, node->length, ctx);
    if (st != NN_OK) return st;
  }
  return NN_OK;
}
