// A section bar met by the render driver's own walk: the section opens with
// the same markup as through the hotspot writer; the nesting level stays as
// it is. Stored documents keep a section hotspot's bar inside a group of its
// own, so the walk, not the hotspot writer, meets it: it is still that
// hotspot's bar, written as the hotspot writer would and closed at the
// hotspot's end. Any other bar opens a section of its own.
#include "render/render.h"
#include "richtext/item/recordlist.h"

NnStatus RenderSectionBarRecord(RenderContext* ctx) {
  RTRecordNode* node = ctx ? ctx->currentRecord : nullptr;
  if (!node) return NN_OK;
  const uint16_t level = ctx->sectionLevel;
  const bool hotspotBar = level > 0 && level < kMaxSectionLevels && ctx->sectionSlots[level] == node;
  const NnStatus status = WriteSectionBar(ctx, node, hotspotBar ? 0 : 1);
  if (ctx->currentRecord == node) ctx->currentRecord = node->next;
  return status;
}
