// A picture's click action (2447, TorvoRTChunk::SetImageHotspot): the
// picture's records end up inside an action hotspot that carries the code.
// The walk runs over the whole item with the picture's first and last
// record (sub-code and first number); a hotspot that an earlier call put
// around the picture is replaced, never stacked.
#include <cstring>

#include "host/options.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/compose/composeutil.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace {

using kv::compose::RecordBuffer;

constexpr uint16_t kOpImageHotspot = 2447;
constexpr uint16_t kSigBegin = 221, kSigEnd = 222;
constexpr uint16_t kSigHotspotEnd = 170;
constexpr uint16_t kSigHotspot = 0xFFA9;
constexpr uint16_t kSigLinkHotspot = 0xFFAD, kSigLinkHotspotEnd = 174;
constexpr uint16_t kSigTarget = 0xFFF2;
constexpr uint16_t kSigEvent = 0xFFF9;
constexpr uint16_t kActionType = 2;


using kv::cd::U16;


RTRecordNode* NodeAt(RTProcessContext* ctx, uint32_t sequence) {
  RTRecordNode* n = ctx->Records ? ctx->Records->first : nullptr;
  while (n && n->sequence != sequence) n = n->next;
  return n;
}

// Records that carry a picture's data after its graphic header.
bool IsPictureData(uint16_t sig) {
  return sig == 82 || sig == 124 || sig == 125 || (sig >= 149 && sig <= 152) ||
         (sig >= 154 && sig <= 160) || sig == 197 || sig == 0xFFC4;
}

bool PlanImageHotspot(RTProcessContext* ctx) {
  TableTextOpsState& t = ctx->TableText;
  RTRecordNode* n = NodeAt(ctx, ctx->SubCode);
  // The picture: the first graphic header of the range and the data after
  // it, with the group around them when there is one.
  while (n && n->sequence <= ctx->Number1 && n->signature != 153) n = n->next;
  if (!n || n->sequence > ctx->Number1) return false;
  RTRecordNode* first = n;
  RTRecordNode* last = n;
  while (last->next && IsPictureData(last->next->signature)) last = last->next;
  if (first->prev && first->prev->signature == kSigBegin &&
      U16(first->prev->data, first->prev->length, 4) == 153 && last->next &&
      last->next->signature == kSigEnd && U16(last->next->data, last->next->length, 4) == 153) {
    first = first->prev;
    last = last->next;
  }
  t.ImageFirst = first->sequence;
  t.ImageLast = last->sequence;
  // An action hotspot that holds exactly the picture (put there by an
  // earlier call, or a designer's picture button in either hotspot form)
  // gets the new action: its begin (with its event and target records)
  // goes, so that hotspots never nest.
  RTRecordNode* before = first->prev;
  while (before && (before->signature == kSigEvent || before->signature == kSigTarget ||
                    before->signature == 0xFFDC))
    before = before->prev;
  const uint16_t endSig = last->next ? last->next->signature : 0;
  if (before &&
      ((before->signature == kSigHotspot && endSig == kSigHotspotEnd) ||
       (before->signature == kSigLinkHotspot && endSig == kSigLinkHotspotEnd)) &&
      U16(before->data, before->length, kv::cd::host::kHotspotType) == kActionType)
    t.ImageOldBegin = before->sequence;
  return true;
}

// The new hotspot's begin, composed as every image hotspot is: the action's
// code (a compiled formula, a LotusScript module, or a JavaScript click
// event), then the target frame: "Target=" of the options, else the frame the
// caller named ("Default" is the frame the picture is in: no record).
NnStatus EmitImageHotspotBegin(RTProcessContext* ctx) {
  const char* frame = ctx->Text2;
  char target[kOptionValueMax + 1] = {};
  if (ctx->Text1 && GetOptionValue(ctx->Text1, "Target=", target) && *target) frame = ctx->Text1;
  return ComposeImageMap(frame, 0, ctx->Session->globals->codeKind, ctx);
}

NnStatus ImageHotspotRecord(uint16_t sig, RTProcessContext* ctx, RecordEmission* out) {
  TableTextOpsState& t = ctx->TableText;
  const RTRecordNode* node = ctx->CurrentNode;
  if (!node) return 0;
  const uint32_t seq = node->sequence;
  if (t.ImageOldBegin) {
    if (seq == t.ImageOldBegin) {
      RecordList* built = ctx->Compose.newList;
      RTRecordNode* mark = built ? built->last : nullptr;
      NnStatus st = EmitImageHotspotBegin(ctx);
      if (st) return st;
      // The new begin takes the old one's form, so that the old end record
      // (and a group around the hotspot) still closes it.
      if (sig == kSigLinkHotspot && built) {
        for (RTRecordNode* n = mark ? mark->next : built->first; n; n = n->next) {
          if (n->signature != kSigHotspot || n->length < 2) continue;
          n->signature = kSigLinkHotspot;
          n->data[0] = uint8_t(kSigLinkHotspot);
          n->data[1] = uint8_t(kSigLinkHotspot >> 8);
          ctx->Compose.hotspotOpen = 0;
          ctx->Compose.linkOpen = 1;
          break;
        }
      }
      out->length = 0;
      t.ImageWritten = 1;
      ctx->Item->modified = 1;
    } else if (seq > t.ImageOldBegin && seq < t.ImageFirst) {
      out->length = 0;  // the old action's event and target records
    }
    return 0;
  }
  if (seq == t.ImageFirst) {
    NnStatus st = EmitImageHotspotBegin(ctx);
    if (st) return st;
  }
  if (seq == t.ImageLast) {
    NnStatus st = AppendRecord(out->data, sig, out->length, &ctx->Compose);
    uint8_t end[2] = {uint8_t(kSigHotspotEnd), 2};
    if (st == 0) st = AppendRecord(end, kSigHotspotEnd, 2, &ctx->Compose);
    if (st) return st;
    out->length = 0;
    t.ImageWritten = 1;
    ctx->Item->modified = 1;
  }
  return 0;
}

bool ImagePreWalk(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != kOpImageHotspot) return false;
  *status = PlanImageHotspot(ctx) ? 0 : NN_ERR_INVALID_ARG;
  return true;
}

bool ImageRecord(uint8_t* data, uint16_t sig, uint32_t length, RTProcessContext* ctx,
                 RecordEmission* out, NnStatus* status) {
  if (ctx->OperationCode != kOpImageHotspot) return false;
  *status = 0;
  if (!ctx->CurrentNode || ctx->CurrentNode->data != data || !length) return true;
  *status = ImageHotspotRecord(sig, ctx, out);
  return true;
}

bool ImagePostWalk(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != kOpImageHotspot) return false;
  // A walk that never reached the picture gave it no action: nothing is kept.
  *status = ctx->TableText.ImageWritten ? 0 : NN_ERR_CATASTROPHIC;
  return true;
}

const OperationFamily kImageHotspot = {"image hotspot", nullptr,     ImagePreWalk, nullptr,
                                       ImageRecord,     nullptr,     ImagePostWalk};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kImageHotspot);
