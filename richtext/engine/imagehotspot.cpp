// A picture's click action (2447, TorvoRTChunk::SetImageHotspot): the
// picture's records end up inside an action hotspot that carries the code.
// The walk runs over the whole item with the picture's first and last
// record (sub-code and first number); an action hotspot already around the
// picture (an earlier call's, or a form's picture button) takes the new
// action: hotspots are never stacked.
#include <strings.h>

#include <cstring>
#include <string>

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

// Records that belong to a picture after its data: alternate text, caption,
// the image resource it names, its HTML attributes and border.
bool IsPictureCompanion(uint16_t sig) {
  return sig == 0xFFCA || sig == 0xFF76 || sig == 0xFFF6 || sig == 0xFF71 || sig == 0xFF78 ||
         sig == 0xFF5A || sig == 0xFF7A || sig == 0xFFFC;
}

bool IsHotspotBegin(uint16_t sig) {
  return sig == kSigHotspot || sig == kSigLinkHotspot || sig == 0xFF7E;
}
bool IsHotspotEnd(uint16_t sig) {
  return sig == kSigHotspotEnd || sig == kSigLinkHotspotEnd || sig == 127;
}

// Records of a hotspot's action that follow its begin: events with their
// script parts, and the target frame.
bool IsActionRecord(uint16_t sig) { return sig == kSigEvent || sig == 0xFFDC || sig == kSigTarget; }

// A BEGIN or END record whose group is of element `element` (0: any).
bool IsGroup(const RTRecordNode* n, uint16_t sig, uint16_t element) {
  return n && n->signature == sig && (!element || U16(n->data, n->length, 4) == element);
}

// The graphic header of the picture whose image map begins at `map` (the
// map's BEGIN or its 0xFFF4): the picture's records stand right before it.
RTRecordNode* PictureOfMap(RTRecordNode* map) {
  if (map && map->signature == 0xFFF4 && IsGroup(map->prev, kSigBegin, 0xFFF4)) map = map->prev;
  RTRecordNode* n = map ? map->prev : nullptr;
  if (IsGroup(n, kSigEnd, 153)) {
    RTRecordNode* begin = RecordGroupBegin(n);
    for (n = begin ? begin->next : nullptr; n && n->signature != 153 && n->signature != kSigEnd;)
      n = n->next;
    return n && n->signature == 153 ? n : nullptr;
  }
  while (n && n->signature != 153 &&
         (IsPictureData(n->signature) || IsPictureCompanion(n->signature)))
    n = n->prev;
  return n && n->signature == 153 ? n : nullptr;
}

// The hotspot the records before `first` leave open (null for none): its
// begin, walking back over whole hotspots. Collapsible sections are passed
// by: an action inside one does not nest in another action.
RTRecordNode* EnclosingHotspot(RTRecordNode* first) {
  int closed = 0;
  for (RTRecordNode* n = first->prev; n; n = n->prev) {
    if (IsHotspotEnd(n->signature)) ++closed;
    if (!IsHotspotBegin(n->signature)) continue;
    if (closed > 0) {
      --closed;
      continue;
    }
    const uint16_t type = U16(n->data, n->length, kv::cd::host::kHotspotType);
    if (type != 12 && type != 13) return n;
  }
  return nullptr;
}

// The picture of the range: the first graphic header in it, else the picture
// whose image map the range begins with. Its records are the graphic's
// BEGIN/END group when it has one, else the header with its data and
// companions; an image map right after them goes with them, so that the map
// stays next to its picture. A picture that already sits in an action
// hotspot gets that hotspot's action replaced; inside a hotspot of another
// kind it would nest and is refused.
NnStatus PlanImageHotspot(RTProcessContext* ctx) {
  TableTextOpsState& t = ctx->TableText;
  RTRecordNode* start = NodeAt(ctx, ctx->SubCode);
  RTRecordNode* n = start;
  while (n && n->sequence <= ctx->Number1 && n->signature != 153) n = n->next;
  if (!n || n->sequence > ctx->Number1) n = start ? PictureOfMap(start) : nullptr;
  if (!n) return NN_ERR_NOT_FOUND;
  RTRecordNode* first = n;
  RTRecordNode* last = n;
  if (IsGroup(first->prev, kSigBegin, 153) && RecordGroupEnd(first->prev)) {
    first = first->prev;
    last = RecordGroupEnd(first);
  } else {
    while (last->next && (IsPictureData(last->next->signature) ||
                          IsPictureCompanion(last->next->signature)))
      last = last->next;
  }
  // A map without its group has no end to keep the hotspot's end behind.
  if (last->next && last->next->signature == 0xFFF4) return NN_ERR_INVALID_ARG;
  if (IsGroup(last->next, kSigBegin, 0xFFF4)) {
    RTRecordNode* mapEnd = RecordGroupEnd(last->next);
    if (!mapEnd) return NN_ERR_INVALID_ARG;
    last = mapEnd;
  }
  t.ImageFirst = first->sequence;
  t.ImageLast = last->sequence;
  RTRecordNode* around = EnclosingHotspot(first);
  if (!around) return 0;
  if ((around->signature != kSigHotspot && around->signature != kSigLinkHotspot) ||
      U16(around->data, around->length, kv::cd::host::kHotspotType) != kActionType)
    return NN_ERR_INVALID_ARG;
  // The action's own records after the begin go with the old action; what
  // else the hotspot holds (its attributes, its other content) stays.
  t.ImageOldBegin = around->sequence;
  t.ImageOldActionLast = around->sequence;
  for (RTRecordNode* r = around->next; r && r != first; r = r->next) {
    if (IsActionRecord(r->signature)) t.ImageOldActionLast = r->sequence;
    else if (r->signature != 0xFF7A) break;
  }
  return 0;
}

// The new hotspot's begin, composed as every image hotspot is: the action's
// code (a compiled formula, a KvScript module, or a JavaScript click
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
    } else if (seq > t.ImageOldBegin && seq <= t.ImageOldActionLast && IsActionRecord(sig)) {
      out->length = 0;  // the old action's events and target
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

// The options name the frame alone ("Target="); a frame named there and
// another by the argument would leave one of them unused.
bool ImageOptionsUsable(const RTProcessContext* ctx) {
  std::string target;
  if (!ImageTargetOptionsKnown(ctx->Text1)) return false;
  if (!GetOptionValueString(ctx->Text1, "Target=", &target) || target.empty()) return true;
  const char* given = ctx->Text2 ? ctx->Text2 : "";
  return !*given || !strcasecmp(given, "Default") || target == given;
}

bool ImagePreWalk(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != kOpImageHotspot) return false;
  *status = ImageOptionsUsable(ctx) ? PlanImageHotspot(ctx) : NnStatus(NN_ERR_INVALID_ARG);
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
