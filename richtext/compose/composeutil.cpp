#include "richtext/compose/composeutil.h"

#include "host/fonts.h"
#include "lsxsessi.h"
#include "richtext/engine/rtproc.h"
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
