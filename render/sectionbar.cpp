// A section bar met by the render driver's own walk (not inside a section
// hotspot): the section opens with the same markup as through the hotspot
// writer; the nesting level stays as it is.
#include "render/render.h"
#include "richtext/item/recordlist.h"

NnStatus RenderSectionBarRecord(RenderContext* ctx) {
  RTRecordNode* node = ctx ? ctx->currentRecord : nullptr;
  if (!node) return NN_OK;
  const NnStatus status = WriteSectionBar(ctx, node, 1);
  if (ctx->currentRecord == node) ctx->currentRecord = node->next;
  return status;
}
