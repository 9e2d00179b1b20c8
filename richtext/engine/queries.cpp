// The engine's query operations: cell borders (2407), an encoded value
// (2825), one HTML attribute (2421), the properties of a table (2414) and of
// the current target (2436). They only read: each fills the session's result
// text and lets every record pass.
#include <cstdio>
#include <cstring>

#include "host/base64.h"
#include "host/noteops.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/propwriters.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/tablefields.h"
#include "richtext/engine/tablerows.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"
#include "richtext/item/recordutil.h"
#include "rtitem.h"

namespace {

constexpr auto B = kv::cd::U8;
constexpr auto W = kv::cd::U16;
constexpr auto L = kv::cd::U32;

using kv::tables::IsCell;
bool IsHotspotBegin(uint16_t sig) { return sig == 0xFFAD || sig == 0xFFA9; }

// The result text as a writer's output, and back.
struct ResultOut {
  LSXLsiSession* s;
  PropText out;
  explicit ResultOut(LSXLsiSession* session)
      : s(session), out(session->ResultText, kResultTextSize, session->ResultTextLength) {}
  ~ResultOut() { s->ResultTextLength = uint16_t(out.length); }
};

// 2407: the borders of the first cell: two bits per side, or four bits per
// side from the border word when flag 0x02 says it is there.
void CellBorder(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (!IsCell(sig) || ctx->TargetDone) return;
  ctx->TargetDone = 1;
  int side[4];
  if (B(data, len, 11) & 0x02) {
    uint16_t w = W(data, len, 12);
    for (int i = 0; i < 4; ++i) side[i] = (w >> (4 * i)) & 0x0F;
  } else {
    uint8_t b = B(data, len, 10);
    for (int i = 0; i < 4; ++i) side[i] = (b >> (2 * i)) & 0x03;
  }
  char text[64];
  int n = 0;
  if (ctx->SubCode == 0)
    n = std::snprintf(text, sizeof text, "%d,%d,%d,%d", side[0], side[1], side[2], side[3]);
  else if (ctx->SubCode <= 4)
    n = std::snprintf(text, sizeof text, "%d", side[ctx->SubCode - 1]);
  else
    return;
  ctx->Session->SetResultText(text, uint32_t(n));
}

// The bytes of the image segments (124) after an image header, at most
// `limit` of them (the header's data size), copied to `out` when it is given.
// Returns their count.
uint32_t PictureBytes(const RTRecordNode* header, uint32_t limit, uint8_t* out) {
  constexpr uint32_t kSegmentHead = 12;  // host layout: used size at 8
  uint32_t total = 0;
  for (const RTRecordNode* n = header->next; n && n->signature == 124 && total < limit;
       n = n->next) {
    if (!n->data || n->length < kSegmentHead) break;
    uint32_t used = W(n->data, n->length, 8);
    if (used > n->length - kSegmentHead) used = n->length - kSegmentHead;
    if (used > limit - total) used = limit - total;
    if (out) std::memcpy(out + total, n->data + kSegmentHead, used);
    total += used;
  }
  return total;
}

// 2825: the base64 text of the hotspot's attachment (Number1 not 0) or of an
// image header's data, when it fits in the asked size (SubCode).
void EncodedValue(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  if (ctx->TargetDone) return;
  LSXLsiSession* s = ctx->Session;
  if (ctx->Number1) {
    if (!IsHotspotBegin(sig)) return;
    ctx->TargetDone = 1;
    uint32_t n = W(data, len, 12);
    if (len < 16) n = 0;
    else if (n > len - 16) n = len - 16;
    n = uint32_t(strnlen(reinterpret_cast<const char*>(data) + (len < 16 ? len : 16), n));
    if (n > kTextBufferSize - 1) n = kTextBufferSize - 1;
    std::snprintf(s->OptionValue, kTextBufferSize, "%.*s", int(n),
                  reinterpret_cast<const char*>(data) + (len < 16 ? len : 16));
    uint32_t got = kv::AttachmentToBase64(ctx->NoteHandle, s->ResultText, kResultTextSize,
                                      s->OptionValue, ctx->Number2 ? kv::kBase64MimeLines : 0);
    if (got && got <= ctx->SubCode && got < kResultTextSize) {
      s->ResultTextLength = uint16_t(got);
    } else {
      s->ClearResultText();
    }
    return;
  }
  if (sig != 125) return;
  ctx->TargetDone = 1;
  uint64_t size = L(data, len, 16);
  uint64_t estimate = (size >= 4 ? (size - 4) / 4 * 3 : 0) + 1;
  if (estimate >= ctx->SubCode || !ctx->CurrentNode) return;
  uint32_t room = ctx->SubCode < kResultTextSize ? ctx->SubCode : kResultTextSize;
  // The picture is the data of the image segments that follow the header
  // (the header itself holds none), joined in order.
  uint32_t bytes = PictureBytes(ctx->CurrentNode, uint32_t(size), nullptr);
  if (bytes == 0) return;
  auto* picture = static_cast<uint8_t*>(POOL_ALLOC(s, bytes, false));
  if (!picture) return;
  PictureBytes(ctx->CurrentNode, bytes, picture);
  uint32_t got = 0;
  if (kv::Base64EncodeChecked(s->ResultText, room, picture, bytes, ctx->Number2 ? 76 : 0, &got) ==
          NN_OK &&
      got < kResultTextSize)
    s->ResultTextLength = uint16_t(got);
  else
    s->ClearResultText();
  PoolFree(s, picture);
}

// 2421: one string of the addressed element's own attribute record: 1 Name,
// 2 ID, 3 Class, 4 Style, 5 Title, any other Other. Number1 1 asks for the
// table's record, 2 for the cell's, 0 for the element the target starts
// with (OwnAttributes).
void HtmlValue(const uint8_t* data, RTProcessContext* ctx) {
  const RTRecordNode* node = ctx->CurrentNode;
  if (ctx->TargetDone || !node || node->data != data) return;
  const RTRecordNode* record = nullptr;
  if (!OwnAttributes(node, ctx->Number1, &record)) return;
  ctx->TargetDone = 1;
  uint32_t which;  // position among ID, Class, Style, Title, Other, Name
  switch (ctx->SubCode) {
    case 1: which = 5; break;
    case 2: which = 0; break;
    case 3: which = 1; break;
    case 4: which = 2; break;
    case 5: which = 3; break;
    default: which = 4; break;
  }
  const uint8_t* d = record ? record->data : nullptr;
  const uint32_t n = record ? record->length : 0;
  uint32_t off = 26, count = 0;
  if (d && n >= 26) {
    for (uint32_t i = 0; i < which; ++i) off += W(d, n, 4 + 2 * i);
    count = W(d, n, 4 + 2 * which);
    if (off >= n) count = 0;
    else if (count > n - off) count = n - off;
  }
  if (count == 0) {
    ctx->Session->ResultTextLength = 0;
    return;
  }
  ctx->Session->SetResultText(reinterpret_cast<const char*>(d) + off, count);
}

// 2414, and 2436 for tables: the listing of the first table the target
// starts, read from that table's own records only.
void TableListing(const uint8_t* data, RTProcessContext* ctx, bool withTabs) {
  const RTRecordNode* node = ctx->CurrentNode;
  if (ctx->TargetDone || !node || node->data != data) return;
  TableParts parts;
  if (!FindTableParts(node, &parts)) return;
  ctx->TargetDone = 1;
  ResultOut r(ctx->Session);
  WriteTableListing(parts, &r.out, ctx->SubCode, withTabs, ctx->Item);
}

void TargetProperties(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx) {
  const uint32_t type = ctx->Number1;
  const uint32_t sel = ctx->SubCode;
  if (type == TABLE) {
    TableListing(data, ctx, false);
    return;
  }
  ResultOut r(ctx->Session);
  WrittenFlags flags(ctx->PropWritten);
  switch (type) {
    case SECTION:
      if (sig == 0xFF7A && InnermostOpenObject(ctx) == 0xFFAD)
        WriteHtmlAttrProps(data, len, &r.out, "Section", sel, 11, 17, &flags);
      break;
    case GRAPHIC:
      if (sig == 0xFFCA) WriteAltTextProp(data, len, &r.out, sel, &flags);
      if (sig == 0xFF76) WriteCaptionProp(data, len, &r.out, sel, &flags);
      if (sig == 0xFF7A) WriteHtmlAttrProps(data, len, &r.out, "Graphic", sel, 2, 17, &flags);
      break;
    case FIELD:
      if (sig == 0xFF8A && !ctx->TargetDone && len >= 40) {
        uint32_t off = 40u + W(data, len, 24) + W(data, len, 26) + W(data, len, 30);
        uint32_t n = W(data, len, 32);
        if (off >= len) n = 0;
        else if (n > len - off) n = len - off;
        r.out.Append("Fieldname=");
        r.out.Append(reinterpret_cast<const char*>(data) + (off < len ? off : len), n);
        ctx->TargetDone = 1;
      }
      break;
    case HORIZONTALRULE:
      if (sig == 0xFFC9) {
        const RTRecordNode* next = ctx->CurrentNode ? ctx->CurrentNode->next : nullptr;
        const uint8_t* color = next && next->signature == 210 ? next->data : nullptr;
        WriteImageFlagProps(data, len, color, color ? next->length : 0, &r.out, sel, &flags,
                            ItemColorNaming(ctx->Item));
      }
      break;
    case LAYER:
      if (sig == 107) WriteLayerPositionProps(data, len, &r.out, sel, &flags);
      if (sig == 106) WriteLayerSizeProps(data, len, &r.out, sel, &flags);
      // Its background colour, in the form its setter takes; a colour that
      // does not show (none, the system's, a gradient) is not listed.
      if (sig == 0x0072 && InnermostOpenObject(ctx) == 108 && len >= 8 && (W(data, len, 2) & 0x1D) == 1 &&
          (sel == 14 || sel == 17) && !flags.Test(14)) {
        r.out.Format("BackgroundColor='#%02x%02x%02x' ", data[4], data[5], data[6]);
        flags.Set(14);
      }
      // Its own attribute record, not that of a table or field inside it.
      if (sig == 0xFF7A && InnermostOpenObject(ctx) == 108)
        WriteHtmlAttrProps(data, len, &r.out, "Layer", sel, 2, 17, &flags);
      break;
    case URLLink:
      if (sig == 0xFFF2 && len >= 12) {
        uint32_t n = W(data, len, 4);
        if (n > len - 12) n = len - 12;
        r.out.Format("Target=%.*s", int(n), reinterpret_cast<const char*>(data) + 12);
      }
      break;
    case ImageMap:
      if (sig == 0xFFF4) WriteMapNameProp(data, len, &r.out, sel, &flags);
      break;
    case GraphicHotspot:
      if (sig == 0xFFF5) WriteShapeProps(data, len, &r.out, sel, &flags);
      break;
    default:
      break;
  }
}

bool QueryRecord(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                 RecordEmission* /*out*/, NnStatus* status) {
  switch (ctx->OperationCode) {
    case 2407: CellBorder(data, sig, len, ctx); break;
    case 2825: EncodedValue(data, sig, len, ctx); break;
    case 2421: HtmlValue(data, ctx); break;
    case 2414: TableListing(data, ctx, true); break;
    case 2436: TargetProperties(data, sig, len, ctx); break;
    default: return false;
  }
  *status = 0;
  return true;
}

const OperationFamily kQueryOperations = {"queries", nullptr, nullptr, nullptr,
                                          QueryRecord, nullptr, nullptr};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kQueryOperations);
