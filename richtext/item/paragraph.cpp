// Default paragraph definitions and the next free paragraph id.
#include <cstring>

#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/itemhelpers.h"
#include "richtext/item/parastring.h"
#include "rtitem.h"

namespace {

namespace H = kv::cd::host;

constexpr uint16_t kSigPab = 0xFF82;
constexpr uint8_t kSigPabReference = 131;

using kv::cd::Put16;

// The defaults every new paragraph starts from: one-inch left and first-line
// margins, no right margin, default tab stops every half inch.
void WriteDefaultDefinition(uint8_t* d, uint16_t id) {
  std::memset(d, 0, kPabFullLength);
  Put16(d, 0, kSigPab);
  Put16(d, 2, uint16_t(kPabMarginLength));
  Put16(d, H::kPabId, id);
  Put16(d, H::kPabLeftMargin, 1440);
  Put16(d, H::kPabRightMargin, 0);
  Put16(d, H::kPabFirstLineLeftMargin, 1440);
  Put16(d, H::kPabTabCount, 0);
  Put16(d, H::kPabTabs, 720);
  Put16(d, H::kPabFlags, 0x0100);
  Put16(d, H::kPabFlags2, 0x0494);
  Put16(d, kPabExtLeftTwips, 1440);
  Put16(d, kPabExtLeftPercent, 0);
  Put16(d, kPabExtFirstTwips, 1440);
  Put16(d, kPabExtFirstPercent, 0);
  Put16(d, kPabExtRightTwips, 0);
  Put16(d, kPabExtRightPercent, 100);
}

}  // namespace

uint16_t HighestParagraphId(const RecordList* list) {
  uint16_t highest = 0;
  if (!list) return 0;
  // A reference counts as well: an item may reference a paragraph it does
  // not define, and a new definition of that id would change its paragraphs.
  for (const RTRecordNode* n = list->first; n; n = n->next) {
    if ((n->signature != kSigPab && n->signature != kSigPabReference) || !n->data) continue;
    uint16_t id = 0;
    const uint32_t at = n->signature == kSigPab ? H::kPabId : H::kPabReferenceId;
    if (kv::cd::ReadU16(n->data, n->length, at, &id) && id > highest) highest = id;
  }
  return highest;
}

void ComposePrimeParagraphRecords(ComposeContext* ctx) {
  if (!ctx) return;
  WriteDefaultDefinition(ctx->defaultParagraphDefinition, 1);
  ctx->defaultParagraphReference[0] = kSigPabReference;
  ctx->defaultParagraphReference[1] = 4;
  Put16(ctx->defaultParagraphReference, H::kPabReferenceId, 1);
}

uint16_t NewDefaultParagraph(uint16_t identifier, uint16_t /*kind*/, ComposeContext* ctx) {
  if (!ctx) return 0;
  uint16_t id = identifier;
  if (identifier == kNextParagraphId) {
    uint16_t highest = HighestParagraphId(ctx->newList);
    if (ctx->item && ctx->item->context) {
      uint16_t loaded = HighestParagraphId(ctx->item->context->records);
      if (loaded > highest) highest = loaded;
    }
    id = highest == 0xFFFF ? highest : uint16_t(highest + 1);
    if (ctx->nextParagraphId > id) id = ctx->nextParagraphId;
    if (id < 0xFFFF) ctx->nextParagraphId = uint16_t(id + 1);
  }
  WriteDefaultDefinition(ctx->paragraphDefinition, id);
  ctx->paragraphDefinitionLength = uint16_t(kPabMarginLength);
  return id;
}
