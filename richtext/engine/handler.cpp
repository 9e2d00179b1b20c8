// The per-record worker: each record of the target passes through one block
// chosen by the operation code, which reads it into a result, passes it,
// drops it or writes records in its place. In write mode what survives is
// appended to the composition at the exit.
#include <strings.h>

#include <cstring>

#include "host/fonts.h"
#include "host/pool.h"
#include "host/sortcmp.h"
#include "lsxsessi.h"
#include "richtext/engine/render2419.h"  // operation 2419
#include "richtext/engine/rtproc.h"
#include "richtext/engine/opfamily.h"
#include "richtext/item/cdlayout.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr NnStatus kStatusWalkDone = 546;
constexpr uint16_t kSigText = 0xFF85;
constexpr uint32_t kTextFixed = kv::cd::host::kTextFixed;
constexpr uint32_t kResultCap = 65340;
constexpr uint32_t kMaxKeyLength = 1023;

using kv::cd::U16;

bool StartsWithIgnoringCase(const char* text, const char* prefix) {
  return text && strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// What a block decided for the record.
struct Emission {
  const uint8_t* data;
  uint16_t signature;
  uint32_t length;  // 0: dropped
};

// ---- locate and tests -------------------------------------------------------

NnStatus LocateStep(RTProcessContext* ctx) {
  SessionGlobals* g = ctx->Session->globals;
  if (g->FirstMatchRecord == 0) {
    g->FirstMatchRecord = ctx->RecordNumber;
    if (ctx->SubCode == PROP_EXISTS || ctx->SubCode == PROP_FIRST_RECORD) return kStatusWalkDone;
  }
  g->LastMatchRecord = ctx->RecordNumber;
  return 0;
}

NnStatus Hit(RTProcessContext* ctx) {
  ++ctx->Session->globals->FoundCount;
  return kStatusWalkDone;
}

bool CountsAsContent(uint16_t sig, uint32_t len) {
  if (sig == kSigText) return len != kTextFixed;
  switch (sig) {
    case 129: case 221: case 222: case 210: case 131: case 0xFF82: case 0xFFBB: case 188:
      return false;
    default:
      return true;
  }
}

bool IsHotspotBegin(uint16_t sig) {
  return sig == 0xFFA9 || sig == 0xFFAD || sig == 0xFF7E || sig == 0xFF74;
}

// OnlyAttachments: records of an attachment hotspot (kinds 4 and 10), its
// begin and end included, are not content. The walk of a read-only call
// appends nothing, so the hotspot state is kept here.
NnStatus OnlyAttachmentsTest(const uint8_t* data, uint16_t sig, uint32_t len,
                             RTProcessContext* ctx) {
  ComposeContext& c = ctx->Compose;
  if (IsHotspotBegin(sig)) {
    uint16_t kind = U16(data, len, kv::cd::host::kHotspotType);
    if (kind == 4 || kind == 10) {
      c.attachmentHotspot = 1;
      return 0;
    }
  }
  if (c.attachmentHotspot) {
    if (sig == 170 || sig == 174 || sig == 127) c.attachmentHotspot = 0;
    return 0;
  }
  return CountsAsContent(sig, len) ? Hit(ctx) : 0;
}

NnStatus ComplexTextTest(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig == kSigText && len >= kTextFixed + 1) {
    uint32_t font = 0;
    kv::cd::ReadU32(data, len, kv::cd::host::kTextFont, &font);
    if (!ctx->ReferenceFontSet) {
      uint8_t size = FontIdSize(font);
      if (size >= 8 && size <= 13) {
        ctx->ReferenceFont = font;
        ctx->ReferenceFontSet = 1;
        return 0;
      }
      return Hit(ctx);  // no reference font can have this size
    }
    return font != ctx->ReferenceFont ? Hit(ctx) : 0;
  }
  if (sig == 0xFF82) {
    uint16_t flags = 0, first = 1440, left = 1440;
    kv::cd::ReadU16(data, len, kv::cd::host::kPabFlags, &flags);
    kv::cd::ReadU16(data, len, kv::cd::host::kPabFirstLineLeftMargin, &first);
    kv::cd::ReadU16(data, len, kv::cd::host::kPabLeftMargin, &left);
    return (flags & 0x1400) || first != 1440 || left != 1440 ? Hit(ctx) : 0;
  }
  if (sig == kSigText || sig == 129 || sig == 131) return 0;
  return Hit(ctx);
}

// ---- text get and set ----------------------------------------------------------

void AppendResult(LSXLsiSession* s, const char* text, uint32_t n) {
  std::memcpy(s->ResultText + s->ResultTextLength, text, n);
  s->ResultTextLength = uint16_t(s->ResultTextLength + n);
  s->ResultText[s->ResultTextLength] = 0;
}

void TextGet(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (sig != kSigText || len <= kTextFixed || ctx->TargetDone) return;
  LSXLsiSession* s = ctx->Session;
  const char* text = reinterpret_cast<const char*>(data) + kTextFixed;
  uint32_t n = len - kTextFixed;
  if (ctx->Number1 == 0) {
    if (n > kResultCap) {
      n = kResultCap;
      s->globals->textCut = 1;
    }
    s->ResultTextLength = 0;
    AppendResult(s, text, n);
    ctx->TargetDone = 1;
    return;
  }
  uint32_t have = s->ResultTextLength;
  if (have > kResultCap) have = s->ResultTextLength = uint16_t(kResultCap);
  uint32_t sepLen = (have && ctx->Text1) ? uint32_t(std::strlen(ctx->Text1)) : 0;
  if (have + sepLen > kResultCap) {
    ctx->TargetDone = 1;
    s->globals->textCut = 1;
    return;
  }
  if (sepLen) AppendResult(s, ctx->Text1, sepLen);
  have += sepLen;
  if (have + n > kResultCap) {
    n = kResultCap - have;
    ctx->TargetDone = 1;
    s->globals->textCut = 1;
  }
  AppendResult(s, text, n);
}

NnStatus TextSet(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                 Emission* out) {
  if (sig != kSigText) return 0;
  if (ctx->TargetDone) {
    if (len >= kTextFixed + 1) out->length = 0;  // later runs of the target go
    return 0;
  }
  TorvoRTItem* item = ctx->Item;
  SessionGlobals* g = ctx->Session->globals;
  ComposeContext* c = &ctx->Compose;
  uint32_t font = item->context->currentFont;
  if (len >= kTextFixed) std::memcpy(&font, data + kv::cd::host::kTextFont, 4);
  uint32_t color = 0;
  uint16_t highlight = 0;
  if (item->fontOverride || ctx->FontGiven)
    FontApplyChanges(&font, &color, &highlight, &ctx->Font, ctx->FontMask);
  g->fontColor = color;
  g->fontHighlight = highlight;

  // The addressed run itself takes the text, an empty one too: keeping it
  // and writing the text after it would move every later run one place on.
  NnStatus st = 0;
  if (ctx->ComposeParagraphPending) {
    const uint8_t paragraph[2] = {129, 2};
    st = AppendRecord(paragraph, 129, 2, c);
    if (st == 0) st = AppendRecord(c->defaultParagraphReference, 131, 4, c);
    if (st == 0) ctx->ComposeParagraphPending = 0;
  }
  if (st) return st;
  bool colored = color != 0 || highlight != 0;
  if (colored) st = EmitBeginRecord(kSigText, 0, c);
  if (st == 0) st = EmitTextRecord(ctx->Text1, ctx->Text1 ? ctx->Number1 : 0, &font, c);
  if (st == 0 && colored) st = EmitRecord8(210, color & 0xFFFFFF, highlight, c);
  if (st == 0 && colored) st = EmitEndRecord(kSigText, 0, c);
  if (st) return st;
  item->modified = 1;
  item->changed = 1;
  ctx->TargetDone = 1;
  ctx->SetRecordMet = 1;
  out->length = 0;
  return 0;
}

// ---- key collection (step 2) ------------------------------------------------------

NnStatus CollectPositionKey(const uint8_t* data, uint16_t sig, uint32_t len,
                            RTProcessContext* ctx) {
  if (ctx->TargetDone || !ctx->PositionCount || !ctx->Positions || !ctx->Text2) return 0;
  if (ctx->SubCode && ctx->CurrentCellColumn != ctx->SubCode) return 0;
  const char* kind = ctx->Text2;
  const uint8_t* key = nullptr;
  uint32_t keyLen = 0;
  if (sig == kSigText && strcasecmp(kind, "TEXT") == 0) {
    if (len <= kTextFixed) return 0;
    key = data + kTextFixed;
    keyLen = len - kTextFixed;
  } else if (sig == 0xFFAC && StartsWithIgnoringCase(kind, "SECTION")) {
    uint32_t flags = 0;
    kv::cd::ReadU32(data, len, 4, &flags);
    uint32_t header = (flags & 0x04000000) ? 14 : 12;
    if (len < header) return 0;
    key = data + header;
    keyLen = len - header;
  } else if (sig == 0xFFA7 && StartsWithIgnoringCase(kind, "OLEFileName")) {
    uint16_t nameLen = U16(data, len, 14);
    if (len < 20 || nameLen > len - 20) return 0;
    key = data + 20;
    keyLen = nameLen;
  } else if (sig == 0xFFAB && StartsWithIgnoringCase(kind, "BUTTON")) {
    if (len < 16) return 0;
    key = data + 16;
    keyLen = len - 16;
  } else {
    return 0;
  }
  // Stored titles and labels may carry their terminating NUL.
  while (keyLen && key[keyLen - 1] == 0) --keyLen;
  if (keyLen > kMaxKeyLength) keyLen = kMaxKeyLength;
  char* text = static_cast<char*>(POOL_ALLOC(ctx->Session, keyLen + 1, false));
  if (!text) return NN_ERR_MEMORY;
  std::memcpy(text, key, keyLen);
  text[keyLen] = 0;
  kv::SortKeyEntry& e = ctx->Positions[ctx->PositionCount - 1];
  if (e.keyText) PoolFree(ctx->Session, const_cast<char*>(e.keyText));
  e.keyText = text;
  e.keyLength = uint16_t(keyLen);
  ctx->TargetDone = 1;
  return 0;
}

}  // namespace

NnStatus ApplyOperationToRecord(uint8_t* data, uint16_t signature, uint32_t length,
                                RTProcessContext* ctx) {
  if (!ctx || !data) return NN_ERR_INVALID_ARG;
  Emission out{data, signature, length};
  NnStatus st = 0;
  void* replacement = nullptr;  // a pool block a block emits instead of the record

  // Entry: records a repair routine already emitted are dropped.
  const RTRecordNode* node = ctx->CurrentNode;
  if (node && ctx->SkipThroughRecord && node->sequence <= ctx->SkipThroughRecord) {
    out.length = 0;
  } else {
    ctx->SkipThroughRecord = 0;
    switch (ctx->OperationCode) {
      case STEP_TEXT_GET:
        TextGet(data, signature, length, ctx);
        break;
      case STEP_TEXT_SET:
        st = TextSet(data, signature, length, ctx, &out);
        break;
      case STEP_LOCATE:
        st = LocateStep(ctx);
        break;
      case 2304:
        if (CountsAsContent(signature, length)) st = Hit(ctx);
        break;
      case 2647:
        st = OnlyAttachmentsTest(data, signature, length, ctx);
        break;
      case 2305:
        if ((signature == kSigText || signature == 0xFFE4) && length > kTextFixed) st = Hit(ctx);
        break;
      case 2644:
        st = ComplexTextTest(data, signature, length, ctx);
        break;
      case 2396:
      case 2397:
        // The sorted rows are emitted from the sort table at the target.
        out.length = 0;
        break;
      case STEP_POSITIONS:
        st = CollectPositionKey(data, signature, length, ctx);
        break;
      case 2419:  // the render range: its first and last record
        st = Render2419Record(ctx);
        break;
      // The queries and the rewriting families act here with their operations.
      default: {
        RecordEmission em{out.data, out.signature, out.length, nullptr};
        if (FamilyRecord(data, signature, length, ctx, &em, &st)) {
          out.data = em.data;
          out.signature = em.signature;
          out.length = em.length;
          replacement = em.replacement;
        }
        break;
      }
    }
  }

  // Exit.
  ctx->AtTarget = 0;
  if (st == 0 && ctx->WriteMode) {
    if (out.length) {
      SessionGlobals* g = ctx->Session->globals;
      bool adopt = (ctx->OperationCode == 2816 || ctx->OperationCode == 2386) && node &&
                   out.data == node->data && (node->flags & kNodeBuiltByEngine);
      uint16_t savedAdopt = g->adoptFlag;
      if (adopt) g->adoptFlag = 1;
      st = AppendRecord(out.data, out.signature, out.length, &ctx->Compose);
      g->adoptFlag = savedAdopt;
    } else if (ctx->OperationCode != 2372 && ctx->OperationCode != 2373) {
      ctx->Item->modified = 1;
    }
  }
  if (replacement) PoolFree(ctx->Session, replacement);
  return st;
}
