// Layout regions: a positioned container with one absolutely placed division
// per layout element, each element's content rendered nested.
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

using kv::cd::ReadU16;

constexpr uint16_t kLayout = 0x00B7, kLayoutEnd = 0x00B9;

// Layout elements: text, field, graphic, button. Each begins with its place
// (left, top, width, height in twips) after the byte header.
bool IsLayoutElement(uint16_t s) { return s == 0x00B8 || s == 0x00BA || s == 0x00C0 || s == 0x00C2; }

uint32_t Px(uint16_t twips) { return uint32_t(twips) * 96 / 1440; }

// Renders currentRecord up to (not including) stop one level deeper, the
// range's end moved to just before stop for the nested calls. The content is
// a block of its own: it starts with empty open-element lists, so that its
// paragraphs never close the divisions around it, and whatever it opens is
// closed before the division that holds it ends.
NnStatus RenderUpTo(RenderContext* ctx, RTRecordNode* stop, uint16_t depth) {
  RTRecordNode* savedLast = ctx->lastRecord;
  RTRecordNode* last = stop ? stop->prev : savedLast;
  if (stop && !RecordInRange(ctx, stop)) last = savedLast;
  NnStatus st = NN_OK;
  if (last && ctx->currentRecord && ctx->currentRecord != stop &&
      ctx->currentRecord->sequence <= last->sequence) {
    OpenElement* const blockAround = ctx->blockElementList;
    OpenElement* const inlineAround = ctx->inlineElementList;
    const uint16_t listsAround = ctx->listDepth;
    ctx->blockElementList = nullptr;
    ctx->inlineElementList = nullptr;
    ctx->lastRecord = last;
    while (st == NN_OK && RecordInRange(ctx, ctx->currentRecord)) {
      RTRecordNode* at = ctx->currentRecord;
      st = PrXMLStr(ctx, kLayout, depth, 0);
      if (st == NN_OK && ctx->currentRecord == at) ctx->currentRecord = at->next;
    }
    ctx->lastRecord = savedLast;
    CloseOpenElementsTo(ctx, 1, "", 0);
    CloseOpenElementsTo(ctx, 0, "", 0);
    ctx->blockElementList = blockAround;
    ctx->inlineElementList = inlineAround;
    if (ctx->listDepth > listsAround) ctx->listDepth = listsAround;
  }
  if (st == NN_OK) ctx->currentRecord = stop;
  return st;
}

}  // namespace

NnStatus RenderLayoutRegion(RenderContext* ctx, uint16_t depth) {
  RTRecordNode* region = ctx->currentRecord;
  if (!region || region->signature != kLayout || !region->data) {
    if (region) ctx->currentRecord = region->next;
    return NN_OK;
  }
  RTRecordNode* end = region->next;
  while (RecordInRange(ctx, end) && end->signature != kLayoutEnd) end = end->next;
  if (!RecordInRange(ctx, end)) end = nullptr;
  RTRecordNode* after = end ? end->next : nullptr;
  if (!end) {  // the region runs to the end of the range
    after = region;
    while (RecordInRange(ctx, after)) after = after->next;
  }

  // Too deep: the region's text, flat.
  if (depth > kElementDepthLimit) {
    ctx->currentRecord = region->next;
    NnStatus st = RenderRecordsFlat(ctx, end);
    if (st == NN_OK) ctx->currentRecord = after;
    return st;
  }

  CloseOpenParagraphs(ctx);
  uint16_t width = 0, height = 0;
  ReadU16(region->data, region->length, 4, &width);
  ReadU16(region->data, region->length, 6, &height);
  NnStatus st = RenderAppendf(ctx,
                              "<div class=\"layout\" style=\"position:relative;width:%upx;height:%upx;\">",
                              Px(width), Px(height))
                    ? NN_OK
                    : NN_ERR_MEMORY;

  // What comes before the first element, then each element in its place.
  ctx->currentRecord = region->next;
  RTRecordNode* n = region->next;
  while (st == NN_OK && n != end && RecordInRange(ctx, n) && !IsLayoutElement(n->signature)) n = n->next;
  if (st == NN_OK) st = RenderUpTo(ctx, n, depth);
  while (st == NN_OK && n && n != end && RecordInRange(ctx, n)) {
    RTRecordNode* element = n;
    RTRecordNode* next = element->next;
    while (next != end && RecordInRange(ctx, next) && !IsLayoutElement(next->signature)) next = next->next;
    if (!RecordInRange(ctx, next)) next = end;
    uint16_t left = 0, top = 0, w = 0, h = 0;
    const uint8_t* d = element->data;
    ReadU16(d, element->length, 2, &left);
    ReadU16(d, element->length, 4, &top);
    ReadU16(d, element->length, 6, &w);
    ReadU16(d, element->length, 8, &h);
    if (!RenderAppendf(ctx,
                       "<div style=\"position:absolute;left:%upx;top:%upx;width:%upx;height:%upx;\">",
                       Px(left), Px(top), Px(w), Px(h))) {
      st = NN_ERR_MEMORY;
      break;
    }
    ctx->currentRecord = element->next;
    st = RenderUpTo(ctx, next, depth);
    if (!RenderAppend(ctx, "</div>") && st == NN_OK) st = NN_ERR_MEMORY;
    n = next;
  }
  if (!RenderAppend(ctx, "</div>") && st == NN_OK) st = NN_ERR_MEMORY;
  if (st == NN_OK) ctx->currentRecord = after;
  return st;
}
