// Pass-through HTML: the text between an HTML-begin and an HTML-end record
// is the author's own markup and goes to the output as it stands.
#include <libxml/parser.h>

#include <cstring>
#include <string>

#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

constexpr uint16_t kHtmlBegin = 0xFFCC, kHtmlEnd = 0xFFCD;

// True when the text parses as XML content (the XHTML output must stay XML).
bool IsWellFormedFragment(const std::string& text) {
  std::string doc = "<r>" + text + "</r>";
  xmlDocPtr parsed = xmlReadMemory(doc.data(), int(doc.size()), "passthru.xml", "UTF-8",
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!parsed) return false;
  xmlFreeDoc(parsed);
  return true;
}

}  // namespace

NnStatus RenderPassthruHtml(RenderContext* ctx, uint16_t /*endType*/) {
  RTRecordNode* begin = ctx->currentRecord;
  if (!begin) return NN_OK;
  std::string text;
  RTRecordNode* n = begin->signature == kHtmlBegin ? begin->next : begin;
  for (; RecordInRange(ctx, n) && n->signature != kHtmlEnd; n = n->next) {
    if ((n->signature == 0xFF85 || n->signature == 0xFFE4) && n->length > kv::cd::host::kTextFixed) {
      const char* t = reinterpret_cast<const char*>(n->data) + kv::cd::host::kTextFixed;
      const size_t len = n->length - kv::cd::host::kTextFixed;
      for (size_t i = 0; i < len; ++i) text += t[i] == 0 ? '\n' : t[i];  // NUL: a line break
    } else if (n->signature == 0x0081 && !text.empty()) {
      text += '\n';
    }
    if (text.size() > (size_t(1) << 26)) break;  // far beyond any output buffer
  }
  RTRecordNode* after = RecordInRange(ctx, n) ? n->next : n;

  char* mark = ctx->outputCursor;
  bool ok = RenderAppend(ctx, "<!--PassthruStart-->");
  if (ctx->outputKind == kOutputXhtml && !IsWellFormedFragment(text))
    ok = ok && AppendDocumentText(ctx, text.data(), text.size());
  else
    ok = ok && RenderAppendN(ctx, text.data(), text.size());
  ok = ok && RenderAppend(ctx, "<!--PassthruEnd-->");
  if (!ok) {
    ctx->outputCursor = mark;
    if (mark) *mark = 0;
    return NN_ERR_MEMORY;
  }
  ctx->currentRecord = after;
  return NN_OK;
}
