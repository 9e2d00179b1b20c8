// The hotspot writer, basic form: URL links become anchors, buttons and
// embedded controls go to their writers, every other hotspot renders its
// content alone.
#include <cstring>

#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

using kv::cd::ReadU16;
using kv::cd::ReadU32;
namespace host = kv::cd::host;

constexpr uint32_t kMaxUrl = 4095;

bool IsHotspotBegin(uint16_t s) { return s == 0xFFA9 || s == 0xFFAD || s == 0xFF7E || s == 0xFF74; }
bool IsHotspotEnd(uint16_t s) { return s == 0x007F || s == 0x00AA || s == 0x00AE; }

// The end record that matches the hotspot begin (nested hotspots counted);
// null when the range ends first.
RTRecordNode* FindHotspotEnd(const RenderContext* ctx, RTRecordNode* begin) {
  int nesting = 0;
  for (RTRecordNode* n = begin->next; RecordInRange(ctx, n); n = n->next) {
    if (IsHotspotBegin(n->signature) && n->signature != 0xFF74) {
      ++nesting;
    } else if (IsHotspotEnd(n->signature)) {
      if (nesting == 0) return n;
      --nesting;
    }
  }
  return nullptr;
}

// The records of the hotspot itself (not of hotspots nested in it), in order.
template <typename Fn>
void ForOwnRecords(const RenderContext* ctx, RTRecordNode* begin, RTRecordNode* end, Fn fn) {
  int nesting = 0;
  for (RTRecordNode* n = begin->next; n != end && RecordInRange(ctx, n); n = n->next) {
    if (IsHotspotBegin(n->signature) && n->signature != 0xFF74) ++nesting;
    else if (IsHotspotEnd(n->signature)) --nesting;
    else if (nesting == 0 && !fn(n)) return;
  }
}

// The URL text of a link-target record of kind 1 (not a formula).
bool LinkTargetUrl(const RTRecordNode* n, const char** url, size_t* len) {
  uint32_t flags = 0;
  uint16_t kind = 0, textLen = 0, serverLen = 0, fileLen = 0;
  const uint8_t* d = n->data;
  if (!ReadU32(d, n->length, 4, &flags) || !ReadU16(d, n->length, 8, &kind) ||
      !ReadU16(d, n->length, 12, &textLen) || !ReadU16(d, n->length, 14, &serverLen) ||
      !ReadU16(d, n->length, 16, &fileLen))
    return false;
  if (kind != 1 || (flags & 0x1)) return false;
  const uint64_t off = 28ull + serverLen + fileLen;
  if (off + textLen > n->length) return false;
  *url = reinterpret_cast<const char*>(d + off);
  *len = textLen;
  return true;
}

}  // namespace

NnStatus PXMLH(RenderContext* ctx, uint16_t /*endType*/, uint16_t depth) {
  RTRecordNode* begin = ctx->currentRecord;
  if (!begin || !begin->data || !IsHotspotBegin(begin->signature)) {
    if (begin) ctx->currentRecord = begin->next;
    return NN_OK;
  }
  // A begin directly followed by its end stands for nothing.
  if (begin->next && IsHotspotEnd(begin->next->signature)) {
    ctx->currentRecord = begin->next->next;
    return NN_OK;
  }
  RTRecordNode* end = FindHotspotEnd(ctx, begin);
  RTRecordNode* after = end ? end->next : nullptr;

  if (depth > kElementDepthLimit) {
    ctx->currentRecord = begin->next;
    NnStatus st = RenderRecordsFlat(ctx, end);
    if (st == NN_OK && end) ctx->currentRecord = after;
    return st;
  }

  uint16_t type = 0, dataLength = 0;
  uint32_t flags = 0;
  const uint8_t* d = begin->data;
  ReadU16(d, begin->length, host::kHotspotType, &type);
  ReadU32(d, begin->length, host::kHotspotFlags, &flags);
  ReadU16(d, begin->length, host::kHotspotDataLength, &dataLength);
  if (host::kHotspotFixed + uint32_t(dataLength) > begin->length)
    dataLength = uint16_t(begin->length > host::kHotspotFixed ? begin->length - host::kHotspotFixed : 0);

  // Buttons and embedded controls: their own writers; the content is theirs.
  if (type == 3 || type == 28) {
    NnStatus st = NN_OK;
    ForOwnRecords(ctx, begin, end, [&](RTRecordNode* n) {
      if ((type == 3 && n->signature == 0xFFAB) || (type == 28 && n->signature == 0xFFF7)) {
        ctx->currentRecord = n;
        st = type == 3 ? ProcessXMLButton(ctx, begin->signature)
                       : ProcessXMLEmbeddedCtl(ctx, begin->signature);
        if (type == 28) return false;
      }
      return st == NN_OK;
    });
    if (st != NN_OK) return st;
    if (end) {
      ctx->currentRecord = after;
    } else {  // no end in the range: nothing of it is left to render
      RTRecordNode* n = begin;
      while (RecordInRange(ctx, n)) n = n->next;
      ctx->currentRecord = n;
    }
    return NN_OK;
  }

  // A URL link: the URL in the hotspot data or in a link-target record.
  const char* url = nullptr;
  size_t urlLen = 0;
  if (type == 11) {
    // A literal URL in the data (flag 0x1000, or no flag naming another form);
    // flag 0x1 keeps it in a link-target record; 0x10 makes the data a formula.
    const bool inData = (flags & 0x1000) || !(flags & 0x1);
    if (inData && !(flags & 0x10) && dataLength) {
      url = reinterpret_cast<const char*>(d + host::kHotspotFixed);
      urlLen = dataLength;
      if (const void* nul = std::memchr(url, 0, urlLen))
        urlLen = size_t(static_cast<const char*>(nul) - url);
    }
    if (urlLen == 0) {
      ForOwnRecords(ctx, begin, end, [&](RTRecordNode* n) {
        return !(n->signature == 0xFFF6 && LinkTargetUrl(n, &url, &urlLen));
      });
    }
    if (urlLen > kMaxUrl) urlLen = kMaxUrl;
    // Blanks around a typed URL are not part of it.
    while (urlLen && (url[urlLen - 1] == ' ' || url[urlLen - 1] == 0)) --urlLen;
    while (urlLen && *url == ' ') ++url, --urlLen;
    if (urlLen == 0 || IsRefusedUrl(url, urlLen)) url = nullptr;
  }

  char* mark = ctx->outputCursor;
  bool ok = true;
  bool anchor = false;
  OpenElement* inlineHead = ctx->inlineElementList;
  OpenElement* blockHead = ctx->blockElementList;
  const uint32_t savedAnchorOpen = ctx->hotspot.anchorOpen;
  if (url) {
    ok = RenderAppend(ctx, "<a href=\"") && AppendDocumentUrl(ctx, url, urlLen) &&
         RenderAppend(ctx, "\"");
    bool targetWritten = false;
    const RTRecordNode* attributes = nullptr;
    ForOwnRecords(ctx, begin, end, [&](RTRecordNode* n) {
      uint16_t len = 0, frameFlags = 0;
      if (n->signature == 0xFFF2 && !targetWritten && ReadU16(n->data, n->length, 4, &len) &&
          ReadU16(n->data, n->length, 6, &frameFlags) && !(frameFlags & 0x1) && len &&
          12u + len <= n->length) {
        size_t l = len;
        const char* frame = reinterpret_cast<const char*>(n->data + 12);
        while (l && frame[l - 1] == 0) --l;
        ok = ok && RenderAppend(ctx, " target=\"") && AppendDocumentText(ctx, frame, l) &&
             RenderAppend(ctx, "\"");
        targetWritten = true;
      }
      if (n->signature == 0xFF7A && !attributes) attributes = n;
      return true;
    });
    if (ok && attributes) WriteElementIdAttributes(attributes->data, attributes->length, ctx, 0, 0);
    ok = ok && RenderAppend(ctx, ">");
    if (!ok) {
      ctx->outputCursor = mark;
      if (mark) *mark = 0;
      return NN_ERR_MEMORY;
    }
    anchor = PushOpenElement(ctx, 0, "</a>", depth) != nullptr;
    if (!anchor) blockHead = ctx->blockElementList;
    ctx->hotspot.anchorOpen = 1;
  }

  // The content, one level deeper; a nested call that stops on a stray record
  // steps past it and goes on.
  NnStatus st = NN_OK;
  ctx->currentRecord = begin->next;
  while (st == NN_OK && RecordInRange(ctx, ctx->currentRecord) && ctx->currentRecord != end) {
    RTRecordNode* at = ctx->currentRecord;
    st = PrXMLStr(ctx, begin->signature, uint16_t(depth + 1), 0);
    if (st == NN_OK && ctx->currentRecord == at) ctx->currentRecord = at->next;
  }

  if (url) {
    if (ctx->inlineElementList != inlineHead) {
      char closing[2048] = {};
      PopOpenElementsInto(ctx, 1, inlineHead, closing, sizeof closing);
      ok = RenderAppend(ctx, closing);
    }
    if (anchor) {
      if (ctx->blockElementList != blockHead) CloseOpenElementsTo(ctx, 0, "</a>", 0);
      if (ctx->blockElementList != blockHead) ok = false;
    } else {
      ok = ok && RenderAppend(ctx, "</a>");
    }
    ctx->hotspot.anchorOpen = savedAnchorOpen;
  }
  if (st == NN_OK && ctx->currentRecord == end && end) ctx->currentRecord = after;
  if (st == NN_OK && !ok) st = NN_ERR_MEMORY;
  return st;
}
