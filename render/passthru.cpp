// Pass-through HTML: the text between an HTML-begin and an HTML-end record
// is the designer's own markup and goes to the output as it stands. A block
// that the delimited marking made from text a document's author typed is
// typed markup instead: it goes through the typed-HTML filter, and only its
// two markers stand as they are.
#include <libxml/parser.h>

#include <cstring>
#include <string>

#include "nn/nn.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

constexpr uint16_t kHtmlBegin = 0xFFCC, kHtmlEnd = 0xFFCD;

// The text of a block: its markers (typed blocks only) and what lies between.
struct BlockText {
  std::string before, text, after;
};

// Walks the block from its first record; returns the record after its end.
RTRecordNode* ReadBlock(const RenderContext* ctx, RTRecordNode* n, bool typed, BlockText* block) {
  bool opened = false;
  for (; RecordInRange(ctx, n) && n->signature != kHtmlEnd; n = n->next) {
    if ((n->signature == 0xFF85 || n->signature == 0xFFE4) && n->length > kv::cd::host::kTextFixed) {
      const char* t = reinterpret_cast<const char*>(n->data) + kv::cd::host::kTextFixed;
      size_t len = n->length - kv::cd::host::kTextFixed;
      if (typed && (n->flags & kNodeDelimiter)) {
        // The first delimiter is the start marker and "<", a later one ">" and the end marker.
        if (!opened) {
          block->before.assign(t, len - 1);
          t += len - 1;
        } else {
          block->after.assign(t + 1, len - 1);
        }
        len = 1;
        opened = true;
      }
      for (size_t i = 0; i < len; ++i) block->text += t[i] == 0 ? '\n' : t[i];  // NUL: a line break
    } else if (n->signature == 0x0081 && !block->text.empty()) {
      block->text += '\n';
    }
    if (block->text.size() > (size_t(1) << 26)) break;  // far beyond any output buffer
  }
  return RecordInRange(ctx, n) ? n->next : n;
}

// True when the text, in the characters the page will hold, parses as XML.
bool WellFormedOnPage(const std::string& text) {
  const std::string converted = NnLmbcsToUtf8(text.data(), text.size());
  return (!converted.empty() || text.empty()) && IsWellFormedFragment(converted);
}

}  // namespace

bool IsWellFormedFragment(const std::string& text) {
  std::string doc = "<r>" + text + "</r>";
  xmlDocPtr parsed = xmlReadMemory(doc.data(), int(doc.size()), "passthru.xml", "UTF-8",
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!parsed) return false;
  xmlFreeDoc(parsed);
  return true;
}

NnStatus RenderPassthruHtml(RenderContext* ctx, uint16_t /*endType*/) {
  RTRecordNode* begin = ctx->currentRecord;
  if (!begin) return NN_OK;
  const bool typed = begin->signature == kHtmlBegin && (begin->flags & kNodeTypedMarkup);
  BlockText block;
  RTRecordNode* after = ReadBlock(ctx, begin->signature == kHtmlBegin ? begin->next : begin, typed,
                                  &block);
  std::string markup = block.text;
  if (typed) markup = block.before + SanitizeTypedHtml(block.text.data(), block.text.size()) +
                      block.after;

  char* mark = ctx->outputCursor;
  bool ok = RenderAppend(ctx, "<!--PassthruStart-->");
  if (ctx->outputKind == kOutputXhtml && !WellFormedOnPage(markup)) {
    const std::string shown = block.before + block.text + block.after;
    ok = ok && AppendDocumentText(ctx, shown.data(), shown.size());
  } else {
    ok = ok && RenderAppendN(ctx, markup.data(), markup.size());
  }
  ok = ok && RenderAppend(ctx, "<!--PassthruEnd-->");
  if (!ok) {
    ctx->outputCursor = mark;
    if (mark) *mark = 0;
    return NN_ERR_MEMORY;
  }
  ctx->currentRecord = after;
  return NN_OK;
}
