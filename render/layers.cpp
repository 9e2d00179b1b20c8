// Layers: a positioned block of rich text written as one <div> whose style
// gives the layer's size, position, stacking order and background.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

using kv::cd::ReadU16;
using kv::cd::ReadU32;

constexpr uint16_t kLayerType = 108;

uint16_t GroupType(const RTRecordNode* node) {
  uint16_t type = 0;
  if (node && node->data) ReadU16(node->data, node->length, 4, &type);
  return type;
}

bool IsLayerBegin(const RTRecordNode* node) {
  return node && node->data &&
         (node->signature == 0x006C || (node->signature == 0x00DD && GroupType(node) == kLayerType));
}

bool IsLayerEnd(const RTRecordNode* node) {
  return node && node->signature == 0x00DE && GroupType(node) == kLayerType;
}

void Trace(const RenderContext* ctx, const char* text) {
  if (ctx->debugLevel > 2) NnLogMessage(NN_OK, "%s", text);
}

// A length value (flags, double, unit) at `at` of the record, as CSS.
std::string LengthText(const RTRecordNode* node, uint32_t at) {
  uint16_t flags = 0;
  double value = 0;
  std::string out;
  if (!ReadU16(node->data, node->length, at, &flags) || uint64_t(at) + 17 > node->length)
    return out;
  std::memcpy(&value, node->data + at + 8, sizeof value);
  const uint8_t unit = node->data[at + 16];
  // Stored values are untrusted: nothing that is not a number, nothing huge.
  if (!std::isfinite(value)) value = 0;
  if (value > 1e9) value = 1e9;
  if (value < -1e9) value = -1e9;
  if (flags & 0x1) out += "auto ";
  if (flags & 0x2) out += "inherit ";
  char buffer[64] = {};
  const long whole = long(value);
  switch (unit) {
    case 1: std::snprintf(buffer, sizeof buffer, "%fin", value / 1440.0); break;
    case 2: std::snprintf(buffer, sizeof buffer, "%ldpx", whole); break;
    case 3: std::snprintf(buffer, sizeof buffer, "%ld%%", whole); break;
    case 4: std::snprintf(buffer, sizeof buffer, "%ldem", whole); break;
    case 5: std::snprintf(buffer, sizeof buffer, "%ldex", whole); break;
    case 6: std::snprintf(buffer, sizeof buffer, "%ldch", whole); break;
    default: break;
  }
  out += buffer;
  if (flags && !out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

void AddDeclarations(const RTRecordNode* node, std::string* css) {
  const uint8_t* d = node->data;
  if (!d) return;
  char buffer[96];
  if (node->signature == 0x006A) {
    *css += "width: " + LengthText(node, 8) + "; ";
    *css += "height: " + LengthText(node, 32) + "; ";
  } else if (node->signature == 0x006B) {
    if (node->length < 8) return;
    const uint8_t scheme = d[2];
    uint32_t z = 0;
    ReadU32(d, node->length, 4, &z);
    *css += "position: ";
    *css += scheme == 0 ? "static; " : scheme == 2 ? "relative; " : scheme == 3 ? "fixed; "
                                                                                : "absolute; ";
    *css += "top: " + LengthText(node, 8) + "; ";
    *css += "left: " + LengthText(node, 32) + "; ";
    std::snprintf(buffer, sizeof buffer, "z-index: %ld; ", long(int32_t(z)));
    *css += buffer;
  } else if (node->signature == 0x0072) {
    uint16_t flags = 0;
    if (!ReadU16(d, node->length, 2, &flags) || node->length < 7 || !(flags & 0x1)) return;
    std::snprintf(buffer, sizeof buffer, "background-color: rgb(%d,%d,%d); ", d[4], d[5], d[6]);
    *css += buffer;
  }
}

// The attribute record without its style text (that text joins the layer's
// own style attribute: an element carries one style attribute only), and the
// style text escaped.
std::vector<uint8_t> WithoutStyle(const RTRecordNode* node, std::string* style) {
  std::vector<uint8_t> out;
  const uint8_t* d = node->data;
  const uint32_t length = node->length;
  uint16_t lengths[6] = {};
  for (int i = 0; i < 6; ++i)
    if (!ReadU16(d, length, 4 + 2 * uint32_t(i), &lengths[i])) return out;
  if (length < 26) return out;
  out.assign(d, d + 26);
  uint32_t at = 26;
  for (int i = 0; i < 6; ++i) {
    uint32_t n = lengths[i];
    if (at + n > length) n = length - at;
    if (i == 2) {
      char escaped[4096];
      size_t m = n;
      while (m && d[at + m - 1] == 0) --m;
      EscapeDocumentText(reinterpret_cast<const char*>(d + at), m, escaped, sizeof escaped);
      *style = escaped;
      const uint16_t zero = 0;
      std::memcpy(out.data() + 8, &zero, 2);
    } else {
      out.insert(out.end(), d + at, d + at + n);
    }
    at += n;
  }
  const uint16_t size = uint16_t(out.size());
  std::memcpy(out.data() + 2, &size, 2);
  return out;
}

// Records that render nothing: a layer holding only these is empty.
bool IsEmptyContent(uint16_t s) {
  return s == 0x0083 || s == 0x0081 || s == 0xFF82 || s == 0xFFC3 || s == 0x00D2 ||
         (s >= 0x006A && s <= 0x0072) || s == 0xFF7A;
}

}  // namespace

constexpr const char* kLayerClosing = "</div >";

void CloseOpenParagraphs(RenderContext* ctx) {
  for (const char* paragraph : {"</div>", "</p>"}) {
    while (IsElementOpenBefore(ctx, 0, paragraph, "</td>", "</th>", nullptr)) {
      CloseOpenElementsTo(ctx, 1, "", 0);
      if (!CloseOpenElementsTo(ctx, 0, paragraph, 0)) break;
    }
  }
}

NnStatus PXMLL(RenderContext* ctx, uint16_t /*endType*/, uint16_t depth) {
  if (!ctx) return NN_OK;
  Trace(ctx, "PXMLL - IN");
  RTRecordNode* begin = ctx->currentRecord;
  if (!IsLayerBegin(begin)) return NN_OK;
  // A layer is a block of its own: an open paragraph ends before it, so that
  // the paragraphs inside the layer never close the one around it.
  CloseOpenParagraphs(ctx);
  char* mark = ctx->outputCursor;

  // The attribute record and the layer records, up to the first end of a
  // group or paragraph.
  std::string css, ownStyle;
  std::vector<uint8_t> attributes;
  RTRecordNode* stop = begin->next;
  bool haveAttributes = false;
  for (; RecordInRange(ctx, stop); stop = stop->next) {
    if (stop->signature == 0x00DE || stop->signature == 0x0081) break;
    if (!stop->data) continue;
    if (stop->signature == 0xFF7A && !haveAttributes) {
      attributes = WithoutStyle(stop, &ownStyle);
      haveAttributes = true;
    }
    AddDeclarations(stop, &css);
  }
  // The layer's division is on the open-element list while its content
  // renders; its entry's text differs from a paragraph's "</div>", so that no
  // paragraph of the content closes it.
  OpenElement* head = ctx->blockElementList;
  bool ok = RenderAppend(ctx, "<div");
  if (ok && !attributes.empty())
    WriteElementIdAttributes(attributes.data(), uint32_t(attributes.size()), ctx, 0, 0);
  ok = ok && !ctx->driver.outputFull && RenderAppend(ctx, " style=\"") &&
       RenderAppend(ctx, ctx->styleDelimiterOpen ? ctx->styleDelimiterOpen : "") &&
       RenderAppend(ctx, css.c_str()) && RenderAppend(ctx, ownStyle.c_str()) &&
       RenderAppend(ctx, ctx->styleDelimiterClose ? ctx->styleDelimiterClose : "") &&
       RenderAppend(ctx, "\">");
  OpenElement* layer = ok ? PushOpenElement(ctx, 0, kLayerClosing, depth) : nullptr;
  if (!layer) {
    ctx->outputCursor = mark;
    if (mark) *mark = 0;
    return NN_ERR_MEMORY;
  }

  // The content follows the group that the layer records end, if any.
  RTRecordNode* content = begin->next;
  if (RecordInRange(ctx, stop) && stop->signature == 0x00DE && !IsLayerEnd(stop))
    content = stop->next;
  bool empty = true;
  RTRecordNode* layerEnd = nullptr;
  RTRecordNode* scan = content;
  {
    int nesting = 0;
    for (; RecordInRange(ctx, scan); scan = scan->next) {
      if (scan->signature == 0x00DD && GroupType(scan) == kLayerType) ++nesting;
      if (IsLayerEnd(scan)) {
        if (nesting == 0) {
          layerEnd = scan;
          break;
        }
        --nesting;
      }
      if (!IsEmptyContent(scan->signature)) empty = false;
    }
  }

  NnStatus status = NN_OK;
  if (!empty) {
    ctx->currentRecord = content;
    // The layer's content is a block of its own: its paragraphs neither
    // close the elements around the layer nor stay open past its end.
    OpenElement* const blockAround = ctx->blockElementList;
    OpenElement* const inlineAround = ctx->inlineElementList;
    const uint16_t listsAround = ctx->listDepth;
    ctx->blockElementList = nullptr;
    ctx->inlineElementList = nullptr;
    status = PrXMLStr(ctx, kLayerType, depth ? depth : 1, 0);
    CloseOpenElementsTo(ctx, 1, "", 0);
    CloseOpenElementsTo(ctx, 0, "", 0);
    ctx->blockElementList = blockAround;
    ctx->inlineElementList = inlineAround;
    // Lists opened inside the layer closed with it.
    if (ctx->listDepth > listsAround) ctx->listDepth = listsAround;
  } else {
    ctx->currentRecord = layerEnd ? layerEnd->next : scan;
    // The end record was not walked: the layer is no longer open.
    if (layerEnd && ctx->layerDepth > 0) --ctx->layerDepth;
  }
  // Everything the layer's content left open closes with the layer.
  bool listed = false;
  for (const OpenElement* e = ctx->blockElementList; e && !listed; e = e->next) listed = e == layer;
  if (listed) {
    char closing[512] = {};
    PopOpenElementsInto(ctx, 0, layer, closing, sizeof closing);
    char own[16] = {};
    PopOpenElementsInto(ctx, 0, head, own, sizeof own);
    if (!(RenderAppend(ctx, closing) && RenderAppend(ctx, "</div>")) && status == NN_OK)
      status = NN_ERR_MEMORY;
  }
  Trace(ctx, "PXMLL - OUT");
  return status;
}
