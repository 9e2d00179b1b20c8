// The record handlers of the render walk: the dispatch by signature, nesting
// of begin/end blocks, paragraph marks, hotspot ends, anchors, fields, table
// cells and table ends, and the hand-offs to the element writers.
#include <cstring>

#include "nn/nn.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

using kv::cd::ReadU16;

uint16_t BlockType(const RTRecordNode* node) {
  uint16_t type = 0;
  if (node && node->data) ReadU16(node->data, node->length, 4, &type);
  return type;
}

void Trace(const RenderContext* ctx, const char* text) {
  if (ctx->debugLevel > 2) NnLogMessage(NN_OK, "%s", text);
}

void StepPast(RenderContext* ctx) {
  if (ctx->currentRecord) ctx->currentRecord = ctx->currentRecord->next;
}

// Steps past `node` when the writer left the walk on it.
void StepPastIfStill(RenderContext* ctx, const RTRecordNode* node) {
  if (ctx->currentRecord == node) StepPast(ctx);
}

// The current level of the table writer's per-level arrays (0..8).
uint16_t TableSlot(const RenderContext* ctx) {
  return ctx->tableLevel > 8 ? 8 : ctx->tableLevel;
}

// Closes the lists open inside the current cell (each close takes one list level).
void CloseCellLists(RenderContext* ctx) {
  while (ctx->listDepth > 0) {
    const char* tag = nullptr;
    if (IsElementOpenBefore(ctx, 0, "</ul>", "</td>", "</th>", nullptr))
      tag = "</ul>";
    else if (IsElementOpenBefore(ctx, 0, "</ol>", "</td>", "</th>", nullptr))
      tag = "</ol>";
    if (!tag || !CloseOpenElementsTo(ctx, 0, tag, 0)) break;
    if (ctx->listDepth <= kMaxListLevels) ctx->listDefinitions[ctx->listDepth] = nullptr;
    --ctx->listDepth;
  }
}

NnStatus ParagraphMark(RenderContext* ctx) {
  if (ctx->clearBreakPending) {
    ctx->clearBreakPending = 0;
    WriteClearBreak(ctx, 0);
  }
  if (!ctx->paragraphMarksOff) ctx->clearBreakPending = 1;
  StepPast(ctx);
  return NN_OK;
}

NnStatus ParagraphSwitch(RenderContext* ctx) {
  const RTRecordNode* node = ctx->currentRecord;
  uint16_t flags = 0;
  ReadU16(node->data, node->length, 6, &flags);
  ctx->paragraphMarksOff = (flags & 0x1) ? 1 : 0;
  StepPast(ctx);
  return NN_OK;
}

NnStatus NamedAnchor(RenderContext* ctx) {
  const RTRecordNode* node = ctx->currentRecord;
  uint16_t length = 0;
  if (ReadU16(node->data, node->length, 4, &length) && node->length > 12) {
    // The name may not reach past the record; a NUL ends it early.
    uint32_t avail = node->length - 12;
    if (length > avail) length = static_cast<uint16_t>(avail);
    const char* name = reinterpret_cast<const char*>(node->data + 12);
    length = static_cast<uint16_t>(strnlen(name, length));
    RenderAppend(ctx, "<div id=\"");
    WriteTextOrFormulaHTML(ctx, name, length, nullptr, 1, 0, 0);
    RenderAppend(ctx, "\"></div>");
  }
  StepPast(ctx);
  return NN_OK;
}

NnStatus HotspotEnd(RenderContext* ctx, RenderWalk* walk) {
  if (walk->flatHotspots > 0) {
    // The end of a hotspot too deep to nest: its content was this walk's.
    --walk->flatHotspots;
    StepPast(ctx);
    return NN_OK;
  }
  if (walk->depth > 0) {
    walk->leave = true;  // the hotspot writer above closes what its hotspot opened
    return NN_OK;
  }
  // At depth 0 the hotspot began before the range: the sections its content
  // opened here end with it.
  CloseSectionsOf(ctx, ctx->hotspot.sectionOpener);
  RTRecordNode* node = ctx->currentRecord;
  StepPast(ctx);
  if (node->signature == 0x00AA && ctx->currentRecord && ctx->currentRecord->signature == 0x00AA)
    StepPast(ctx);
  return NN_OK;
}

NnStatus CellBoundary(RenderContext* ctx, RenderWalk* walk) {
  CloseCellLists(ctx);
  if (walk->depth > 0) {
    uint16_t slot = TableSlot(ctx);
    if (ctx->table.resumeRecord[slot] && ctx->table.resumeFlag[slot]) {
      ctx->currentRecord = ctx->table.resumeRecord[slot];
      ctx->table.resumeRecord[slot] = nullptr;
      ctx->table.resumeFlag[slot] = 0;
    }
    walk->leave = true;
    return NN_OK;
  }
  // A range that starts inside a table.
  RTRecordNode* node = ctx->currentRecord;
  NnStatus status = RenderTableHTML(ctx, walk->endType, static_cast<uint16_t>(walk->depth + 1));
  StepPastIfStill(ctx, node);
  return status;
}

NnStatus TableEnd(RenderContext* ctx, RenderWalk* walk) {
  CloseCellLists(ctx);
  if (walk->depth > 0) {
    walk->leave = true;
    return NN_OK;
  }
  if (IsElementOpen(ctx, 0, "</table>", 1)) CloseOpenElementsTo(ctx, 0, "</table>", 0);
  if (ctx->table.wrappedInDiv[TableSlot(ctx)]) CloseOpenElementsTo(ctx, 0, "</div>", 0);
  StepPast(ctx);
  return NN_OK;
}

// Begin record of type 0xFF85 right after a paragraph reference: an empty
// run block that ends right before a paragraph mark stands for a blank line.
bool BlankRunBlock(RenderContext* ctx) {
  RTRecordNode* begin = ctx->currentRecord;
  if (!begin->prev || begin->prev->signature != 0x0083) return false;
  for (RTRecordNode* scan = begin->next; scan && !(ctx->lastRecord && scan->sequence >
                                                                          ctx->lastRecord->sequence);
       scan = scan->next) {
    if (scan->signature == 0xFF85 || scan->signature == 0xFFE4) return false;
    if (scan->signature != 0x00DE) continue;
    if (!scan->next || scan->next->signature != 0x0081) return false;
    RenderAppend(ctx, ctx->outputKind == kOutputXhtml ? "&#160;" : "&nbsp;");
    WriteClearBreak(ctx, 0);
    ctx->currentRecord = scan->next;
    return true;
  }
  return false;
}

NnStatus BeginRecord(RenderContext* ctx, RenderWalk* walk) {
  RTRecordNode* begin = ctx->currentRecord;
  uint16_t type = BlockType(begin);
  if (type == 108) {
    ++ctx->layerDepth;
    if ((ctx->renderFlagsA & 0x8) || walk->depth >= kRenderDepthLimit) {
      StepPast(ctx);
      return NN_OK;
    }
    return PXMLL(ctx, walk->endType, static_cast<uint16_t>(walk->depth + 1));
  }
  RTRecordNode* next = begin->next;
  if (!next) {
    // Nothing follows: the range ends here.
    ctx->currentRecord = nullptr;
    walk->leave = walk->depth > 0;
    return NN_OK;
  }
  if (next->signature == 0x00DE && BlockType(next) == type) {
    ctx->currentRecord = next->next;
    return NN_OK;
  }
  if (type == 0xFF85 && BlankRunBlock(ctx)) return NN_OK;
  if (walk->depth >= kRenderDepthLimit) {
    // Too deep to nest further: the block's content is rendered flat here,
    // and its end record is matched here rather than ending this call.
    ++walk->flatBlocks;
    ctx->currentRecord = next;
    return NN_OK;
  }
  ctx->currentRecord = next;
  NnStatus status = PrXMLStr(ctx, type, static_cast<uint16_t>(walk->depth + 1), 0);
  if (status == NN_OK && RenderNestedEndReached(ctx, walk)) walk->leave = true;
  return status;
}

NnStatus EndRecord(RenderContext* ctx, RenderWalk* walk) {
  RTRecordNode* end = ctx->currentRecord;
  uint16_t type = BlockType(end);
  if (type == 108) {
    if (ctx->layerDepth > 0) --ctx->layerDepth;
    // A paragraph of the layer closes with it; an end met inside a cell
    // closes nothing beyond that cell.
    if (!(ctx->renderFlagsA & 0x8) &&
        IsElementOpenBefore(ctx, 0, "</div>", "</td>", "</th>", nullptr))
      CloseOpenElementsTo(ctx, 0, "</div>", 0);
  }
  StepPast(ctx);
  if (type == 0xFFAC && ctx->currentRecord &&
      (ctx->currentRecord->signature == 0xFF85 || ctx->currentRecord->signature == 0xFFE4) &&
      ctx->currentRecord->length == 8)
    StepPast(ctx);
  if (walk->flatBlocks > 0) {
    --walk->flatBlocks;
    return NN_OK;
  }
  if (walk->depth > 0) walk->leave = true;
  return NN_OK;
}

NnStatus Hotspot(RenderContext* ctx, RenderWalk* walk) {
  if (ctx->hotspot.nesting >= kHotspotNestingLimit) {
    // Too deep to nest: its content follows in this walk as ordinary
    // content (section bars still show their titles), and this walk passes
    // over its end record.
    ++walk->flatHotspots;
    StepPast(ctx);
    return NN_OK;
  }
  NnStatus status = PXMLH(ctx, walk->endType, static_cast<uint16_t>(walk->depth + 1));
  if (status == NN_OK && RenderNestedEndReached(ctx, walk)) walk->leave = true;
  return status;
}

NnStatus Graphic(RenderContext* ctx, const RenderWalk* walk) {
  RTRecordNode* node = ctx->currentRecord;
  Trace(ctx, "About to enter PXMLGr");
  NnStatus status = PXMLGr(ctx, walk->endType, walk->mode);
  Trace(ctx, "After PXMLGr");
  StepPastIfStill(ctx, node);
  return status;
}

NnStatus Doclink(RenderContext* ctx, const RenderWalk* walk) {
  RTRecordNode* node = ctx->currentRecord;
  Trace(ctx, "PrXMLStr - About to ProcessXMLDoclink");
  NnStatus status = ProcessXMLDoclink(ctx, walk->endType, walk->depth, 0, nullptr);
  Trace(ctx, "PrXMLStr - Done with ProcessXMLDoclink");
  StepPastIfStill(ctx, node);
  return status;
}

NnStatus LayoutRegion(RenderContext* ctx, const RenderWalk* walk) {
  if (walk->depth >= kRenderDepthLimit) {
    StepPast(ctx);
    return NN_OK;
  }
  RTRecordNode* node = ctx->currentRecord;
  NnStatus status = RenderLayoutRegion(ctx, static_cast<uint16_t>(walk->depth + 1));
  StepPastIfStill(ctx, node);
  return status;
}

}  // namespace

NnStatus RenderHandleRecord(RenderContext* ctx, RenderWalk* walk) {
  RTRecordNode* node = ctx->currentRecord;
  if (!node->data) {
    StepPast(ctx);
    return NN_OK;
  }
  switch (node->signature) {
    case 0x00DD:
      return BeginRecord(ctx, walk);
    case 0x00DE:
      return EndRecord(ctx, walk);
    case 0xFF85:
    case 0xFFE4:
      return RenderTextRunRecord(ctx, walk);
    case 0xFFCC:
      return RenderPassthruRecord(ctx, walk);
    case 0xFFC9:
      return RenderHorizontalRule(ctx);
    case 0x00A3:
    case 0x00CF:
    case 0xFFFB:
      return RenderTableBegin(ctx, walk);
    case 0x00A4:
    case 0x00D0:
      return CellBoundary(ctx, walk);
    case 0x00A5:
    case 0x00D1:
      return TableEnd(ctx, walk);
    case 0xFF7E:
    case 0xFFA9:
    case 0xFFAD:
      return Hotspot(ctx, walk);
    case 0x0099:
      return Graphic(ctx, walk);
    case 0xFF91:
    case 0xFF92:
      return Doclink(ctx, walk);
    case 0xFFCB:
      return NamedAnchor(ctx);
    case 0xFFAC:
      return RenderSectionBarRecord(ctx);
    case 0x007F:
    case 0x00AA:
    case 0x00AE:
      return HotspotEnd(ctx, walk);
    case 0x00B7:
      return LayoutRegion(ctx, walk);
    case 0xFF68:
      return ParagraphSwitch(ctx);
    case 0xFF8A:
      RenderTextFieldHtml(ctx, walk->endType);
      StepPastIfStill(ctx, node);
      return NN_OK;
    case 0xFF8F:
      RenderChoiceFieldHtml(ctx);
      StepPastIfStill(ctx, node);
      return NN_OK;
    case 0x0081:
      return ParagraphMark(ctx);
    case 0x0083:
      if (ctx->clearBreakPending && !ctx->paragraphMarksOff) {
        NnStatus status = WriteParagraphStart(ctx, walk->endType, walk->depth);
        StepPastIfStill(ctx, node);
        if (status == NN_OK) ReopenHotspotLink(ctx);
        return status;
      }
      if (SkipHiddenParagraphPart(ctx)) return NN_OK;
      StepPast(ctx);
      return NN_OK;
    default:
      // Paragraph definitions, pass-through ends and unknown records write nothing.
      StepPast(ctx);
      return NN_OK;
  }
}
