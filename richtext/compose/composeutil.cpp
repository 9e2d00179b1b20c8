#include "richtext/compose/composeutil.h"

#include <cstring>

#include "host/fonts.h"
#include "lsxsessi.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/itemhelpers.h"
#include "richtext/item/parastring.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace kv::compose {

RecordBuffer::RecordBuffer(LSXLsiSession* session, uint32_t size) : session_(session) {
  if (session && size)
    data_ = static_cast<uint8_t*>(POOL_ALLOC(session, size, true));
  if (data_) size_ = size;
}

RecordBuffer::~RecordBuffer() {
  if (data_) PoolFree(session_, data_);
}

uint32_t CurrentFont(const RTProcessContext* ctx) {
  const TorvoRTItem* item = ctx ? ctx->Item : nullptr;
  if (item && item->context && item->context->currentFont) return item->context->currentFont;
  if (item) return MakeFontId(item->defaultFace, 0, item->defaultColor, item->defaultPointSize);
  return MakeFontId(1, 0, 0, 10);
}

NnStatus EmitParagraphStart(RTProcessContext* ctx) {
  return AppendRecord(ctx->ParagraphRecord, 129, 2, &ctx->Compose);
}

NnStatus EmitParagraphReference(RTProcessContext* ctx) {
  uint8_t* ref = ctx->Compose.defaultParagraphReference;
  if (ref[0] != 131) {
    static const uint8_t kDefault[4] = {131, 4, 1, 0};
    return AppendRecord(kDefault, 131, 4, &ctx->Compose);
  }
  return AppendRecord(ref, 131, 4, &ctx->Compose);
}

NnStatus EmitParagraphReferenceTo(uint16_t id, RTProcessContext* ctx) {
  uint8_t ref[4] = {131, 4, 0, 0};
  PutU16(ref, 2, id);
  return AppendRecord(ref, 131, 4, &ctx->Compose);
}

NnStatus EmitHideWhenRecord(uint16_t id, const void* formula, uint32_t length,
                            RTProcessContext* ctx) {
  constexpr uint32_t kHead = 14;
  if (!formula || length == 0) return NN_ERR_INVALID_ARG;
  const uint32_t size = (length + kHead + 1) & ~1u;
  if (size > kMaxRecordLength) return NN_ERR_INVALID_ARG;
  RecordBuffer rec(ctx->Session, size);
  if (!rec.ok()) return NN_ERR_MEMORY;
  PutU16(rec.data(), 0, 0xFFBB);
  PutU16(rec.data(), 2, uint16_t(size));
  PutU16(rec.data(), 4, id);
  std::memcpy(rec.data() + kHead, formula, length);
  return AppendRecord(rec.data(), 0xFFBB, size, &ctx->Compose);
}

NnStatus EmitHiddenParagraphDefinition(const void* formula, uint32_t length, bool inBox,
                                       RTProcessContext* ctx, uint16_t* id) {
  namespace h = kv::cd::host;
  uint8_t def[sizeof ctx->Compose.defaultParagraphDefinition];
  std::memcpy(def, ctx->Compose.defaultParagraphDefinition, sizeof def);
  // The item's own definition of the default reference, when it has one:
  // the content looks as it would without the formula.
  const uint16_t inForce = kv::cd::U16(ctx->Compose.defaultParagraphReference, 4, 2);
  for (const RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr; n; n = n->next)
    if (n->signature == 0xFF82 && n->length >= h::kPabFixed && n->length <= sizeof def &&
        kv::cd::U16(n->data, n->length, h::kPabId) == inForce) {
      std::memset(def, 0, sizeof def);
      std::memcpy(def, n->data, n->length);
      break;
    }
  const uint16_t fresh = NewDefaultParagraph(kNextParagraphId, 2, &ctx->Compose);
  if (!fresh) return NN_ERR_MEMORY;
  uint16_t defLength = kv::cd::U16(def, sizeof def, 2);
  if (defLength < h::kPabFixed || defLength > sizeof def) defLength = uint16_t(h::kPabFixed);
  PutU16(def, 2, defLength);
  PutU16(def, h::kPabId, fresh);
  PutU16(def, h::kPabFlags, uint16_t(kv::cd::U16(def, sizeof def, h::kPabFlags) | kPabHideFormula));
  if (inBox && defLength >= kPabExtFirstTwips + 2) {
    PutU16(def, kPabExtLeftTwips, 0);
    PutU16(def, kPabExtFirstTwips, 0);
  }
  NnStatus st = AppendRecord(def, 0xFF82, defLength, &ctx->Compose);
  if (st == 0) st = EmitHideWhenRecord(fresh, formula, length, ctx);
  if (st == 0) *id = fresh;
  return st;
}

NnStatus EmitEmptyText(RTProcessContext* ctx) {
  uint32_t font = CurrentFont(ctx);
  return EmitTextRecord("", 0, &font, &ctx->Compose);
}

const char* FileExtension(const char* path) {
  if (!path) return "";
  const char* base = FileBaseName(path);
  const char* dot = std::strrchr(base, '.');
  return dot ? dot : base + std::strlen(base);
}

const char* FileBaseName(const char* path) {
  if (!path) return "";
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  return base;
}

}  // namespace kv::compose
