// Horizontal rules, what the walk writes before a table, and pass-through HTML.
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "host/color.h"
#include "host/options.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

using kv::cd::ReadU16;
using kv::cd::ReadU32;
using kv::cd::ReadU8;

constexpr uint32_t kRuleColour = 0x1, kRuleGradient = 0x2, kRulePercent = 0x4, kRuleNoShade = 0x8;

int TwipsToPixels(uint16_t twips) { return static_cast<int>(twips) * 96 / 1440; }

bool ReadId(const RTRecordNode* node, uint32_t offset, uint16_t* id) {
  return node && node->data && ReadU16(node->data, node->length, offset, id);
}

// The justification of the paragraph a rule stands in: the nearest paragraph
// reference before it, then its definition further back. -1 when unknown.
int RuleJustification(const RTRecordNode* rule) {
  const RTRecordNode* reference = rule->prev;
  while (reference && reference->signature != 0x0083) reference = reference->prev;
  uint16_t id = 0;
  if (!reference || !ReadId(reference, kv::cd::host::kPabReferenceId, &id)) return -1;
  for (const RTRecordNode* def = reference->prev; def; def = def->prev) {
    uint16_t defId = 0;
    if (def->signature != 0xFF82 || !ReadId(def, kv::cd::host::kPabId, &defId) || defId != id)
      continue;
    uint16_t justify = 0;
    if (!ReadId(def, kv::cd::host::kPabJustify, &justify)) return -1;
    return justify;
  }
  return -1;
}

// The colour record (0x00D2) right after the rule or one further on.
const RTRecordNode* RuleColourRecord(const RTRecordNode* rule) {
  const RTRecordNode* node = rule->next;
  for (int i = 0; i < 2 && node; ++i, node = node->next)
    if (node->signature == 0x00D2 && node->data && node->length >= 8) return node;
  return nullptr;
}

const RTRecordNode* DefinitionInForce(const RenderContext* ctx) {
  uint16_t index = ctx->currentDefinitionIndex;
  if (index == 0 || !ctx->definitionTable || index > ctx->definitionCount) return nullptr;
  return ctx->definitionTable[index];
}

bool EndsWith(const RenderContext* ctx, const char* tail) {
  size_t n = std::strlen(tail);
  size_t length = static_cast<size_t>(ctx->outputCursor - ctx->outputBuffer);
  return length >= n && std::memcmp(ctx->outputCursor - n, tail, n) == 0;
}

void BreakBeforeTable(RenderContext* ctx) {
  if (ctx->outputKind == kOutputHtml) {
    if (EndsWith(ctx, "<br>") || EndsWith(ctx, "<br clear=\"all\">") ||
        EndsWith(ctx, "<br style=\"clear:both;\">"))
      return;
    RenderAppend(ctx, "<br>");
  } else {
    if (EndsWith(ctx, "<br />") || EndsWith(ctx, "<br clear=\"all\"/>") ||
        EndsWith(ctx, "<br style=\"clear:both;\"/>"))
      return;
    RenderAppend(ctx, "<br />");
  }
}

}  // namespace

void RenderColorName(uint16_t index, char* out, size_t outSize) {
  if (!out || outSize == 0) return;
  if (index >= kPaletteSize) {
    std::snprintf(out, outSize, "rgb(0,0,0)");
    return;
  }
  const uint8_t* rgb = PaletteRgbTable[index];
  std::snprintf(out, outSize, "rgb(%d,%d,%d)", rgb[0], rgb[1], rgb[2]);
}

NnStatus RenderHorizontalRule(RenderContext* ctx) {
  const RTRecordNode* rule = ctx->currentRecord;
  ctx->outputCursor += std::strlen(ctx->outputCursor);
  uint32_t flags = 0;
  uint16_t width = 0, height = 0, colour = 0;
  ReadU32(rule->data, rule->length, 4, &flags);
  ReadU16(rule->data, rule->length, 8, &width);
  ReadU16(rule->data, rule->length, 10, &height);
  ReadU16(rule->data, rule->length, 12, &colour);
  const bool epub = (ctx->renderFlagsE & 0x200) != 0;
  const bool fontTags = (ctx->renderFlagsA & 0x8) != 0;
  const bool percent = (flags & kRulePercent) != 0;
  const int widthValue = percent ? width : TwipsToPixels(width);
  const int heightValue = TwipsToPixels(height);

  RenderAppend(ctx, "<hr");
  if (!epub) {
    switch (RuleJustification(rule)) {
      case 0: RenderAppend(ctx, " align='left'"); break;
      case 1: RenderAppend(ctx, " align='right'"); break;
      case 3: RenderAppend(ctx, " align='center'"); break;
      default: break;
    }
  }
  if (fontTags && !epub) {
    RenderAppendf(ctx, percent ? " width=\"%d%%\"" : " width=\"%d\"", widthValue);
    RenderAppendf(ctx, " size=\"%d\"", heightValue);
  }
  if ((flags & kRuleNoShade) && !epub) RenderAppend(ctx, " noshade='noshade'");

  bool styleOpen = false;
  if (flags & kRuleColour) {
    const RTRecordNode* record = RuleColourRecord(rule);
    uint16_t colourFlags = 0;
    uint8_t r = 0, g = 0, b = 0;
    if (record) {
      ReadU16(record->data, record->length, 2, &colourFlags);
      ReadU8(record->data, record->length, 4, &r);
      ReadU8(record->data, record->length, 5, &g);
      ReadU8(record->data, record->length, 6, &b);
    }
    uint8_t r2 = 0, g2 = 0, b2 = 0;
    bool gradient = (flags & kRuleGradient) && record && (colourFlags & 0x10) &&
                    ReadU8(record->data, record->length, 10, &r2) &&
                    ReadU8(record->data, record->length, 11, &g2) &&
                    ReadU8(record->data, record->length, 12, &b2);
    if (gradient) {
      RenderAppendf(ctx,
                    " style=\"background:linear-gradient(to bottom, rgb(%d,%d,%d), "
                    "rgb(%d,%d,%d));",
                    r, g, b, r2, g2, b2);
    } else {
      char name[32];
      if (record && (colourFlags & 0x1) && !(colour > 0 && r == 0 && g == 0 && b == 0))
        std::snprintf(name, sizeof name, "rgb(%d,%d,%d)", r, g, b);
      else
        RenderColorName(colour, name, sizeof name);
      RenderAppendf(ctx, " style=\"background-color:%s;", name);
    }
    styleOpen = true;
  } else if (epub || !fontTags) {
    RenderAppend(ctx, " style=\"");
    styleOpen = true;
  }
  if (epub || !fontTags) {
    RenderAppendf(ctx, percent ? "width: %d%%;" : "width: %dpx;", widthValue);
    RenderAppendf(ctx, "height: %dpx;", heightValue);
  }
  if (styleOpen) RenderAppend(ctx, "\"");
  RenderAppend(ctx, ctx->outputKind == kOutputXhtml ? " />" : ">");
  ctx->currentRecord = rule->next;
  return NN_OK;
}

NnStatus RenderTableBegin(RenderContext* ctx, RenderWalk* walk) {
  RTRecordNode* begin = ctx->currentRecord;
  if (begin->signature == 0xFFFB) {
    ctx->table.preTableBegin = begin;
  } else {
    ctx->table.tableBegin = begin;
    ctx->table.preTableBegin = nullptr;
  }
  // Nothing written by this call yet, or the paragraph writer said so: a
  // table needs no break in front of it.
  const bool noBreak = ctx->head.noBreakBeforeTable ||
                       static_cast<size_t>(ctx->outputCursor - ctx->outputBuffer) ==
                           walk->startOffset;
  // The alignment block written around the table (below) ends with it.
  const OpenElement* alignment = nullptr;
  if (ctx->renderFlagsA & 0x8) {
    if (IsElementOpen(ctx, 0, "</p>", 1)) CloseOpenElements(ctx, 0, "</p>", 0);
    const RTRecordNode* def = DefinitionInForce(ctx);
    uint16_t justify = 0;
    if (!def || !ReadId(def, kv::cd::host::kPabJustify, &justify)) {
      justify = 0;
      if (ctx->currentDefinitionIndex != 0 && !def) justify = 0xFFFF;
    }
    uint16_t flags2 = 0;
    ReadId(def, kv::cd::host::kPabFlags2, &flags2);
    const bool rtl = (flags2 & 0x4000) != 0;
    switch (justify) {
      case 0:
        if (!noBreak) BreakBeforeTable(ctx);
        break;
      case 1:
        // Only a right-to-left definition turns the direction round: under a
        // left-to-right one it would swap the table's columns.
        RenderAppend(ctx, rtl ? "<div style='direction: rtl;' align='left'>"
                              : "<div align='right'>");
        PushOpenTag(ctx, 0, "</div>");
        alignment = ctx->blockElementList;
        break;
      case 3:
      case 2:
        RenderAppend(ctx, justify == 3 ? "<div align='center'" : "<div align='justify'");
        RenderAppend(ctx, rtl ? " style='direction: rtl;'>" : ">");
        PushOpenTag(ctx, 0, "</div>");
        alignment = ctx->blockElementList;
        break;
      default:
        if (!noBreak) WriteClearBreak(ctx, 0);
        break;
    }
  }
  if (walk->depth >= kRenderDepthLimit) {
    // Too deep for another table level: its cells are rendered flat.
    ctx->currentRecord = begin->next;
    return NN_OK;
  }
  NnStatus status = RenderTableHTML(ctx, walk->endType, static_cast<uint16_t>(walk->depth + 1));
  // Left open, the block would hold every later paragraph of the page.
  if (alignment && ctx->blockElementList == alignment && !ctx->tableContinues)
    CloseOpenElementsTo(ctx, 0, "</div>", 0);
  if (ctx->currentRecord == begin) ctx->currentRecord = begin->next;
  if (status == NN_OK && RenderNestedEndReached(ctx, walk)) walk->leave = true;
  return status;
}

NnStatus RenderPassthruRecord(RenderContext* ctx, RenderWalk* walk) {
  RTRecordNode* node = ctx->currentRecord;
  ctx->outputCursor += std::strlen(ctx->outputCursor);
  char value[4096] = {};
  if (GetOptionValue(ctx->optionString, "SkipPassthru=", value) && strcasecmp(value, "Yes") == 0) {
    // The pass-through text follows as ordinary, escaped text runs.
    if (node->signature == 0xFFCC) ctx->currentRecord = node->next;
    return NN_OK;
  }
  RenderPassthruHtml(ctx, walk->endType);
  if (ctx->currentRecord == node) ctx->currentRecord = node->next;
  return NN_OK;
}
