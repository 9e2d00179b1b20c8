// The chunk's HTML generators: a render context per attempt, the option
// reader, operation 2419 through the chunk frame, and the page around the
// rendered body. The output buffer grows until the page fits, so that a page
// is either whole or not returned at all.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "host/base64.h"
#include "host/options.h"
#include "host/pool.h"
#include "host/renderoptions.h"
#include "lsxsessi.h"
#include "render/render.h"
#include "render/rendercontext.h"
#include "richtext/engine/opcodes.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint32_t kFirstCapacity = 1u << 20;      // 1 MB
constexpr uint32_t kLastCapacity = 256u << 20;     // 256 MB
constexpr uint16_t kRenderOperation = 2419;

// Text for element content or an attribute value; control characters go.
std::string Escape(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if (c >= 0x20 && c != 0x7F) out += char(c);
        else if (c == '\t') out += ' ';
    }
  }
  return out;
}

// The page title: the note's Subject (platform text).
std::string PageTitle(const TorvoRTItem* item, const char*) {
  char subject[512] = {};
  if (item && item->hNote) NnItemGetText(item->hNote, "Subject", subject, sizeof subject);
  return Escape(subject);
}

const char* MetaCharset(const RenderContext* ctx) {
  // Without "Translation=" the platform text is turned into UTF-8 at the end.
  if (!(ctx->renderFlagsA & 0x1000)) return "utf-8";
  switch (ctx->characterSet) {
    case 1: return "utf-8";
    case 160: return "utf-16";
    default: return "iso-8859-1";
  }
}

bool IsFragment(const RenderContext* ctx) { return (ctx->renderFlagsA & 0x2) != 0; }

// The prologue up to the head's own content; the head writer finishes the head.
bool WritePrologue(RenderContext* ctx, const std::string& title) {
  if (IsFragment(ctx) || ctx->outputKind == kOutputPlain) return true;
  char head[1024];
  if (ctx->outputKind == kOutputXhtml) {
    std::snprintf(head, sizeof head,
                  "<?xml version=\"1.0\" encoding=\"%s\"?>\n"
                  "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                  "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
                  "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head>"
                  "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=%s\" />",
                  MetaCharset(ctx), MetaCharset(ctx));
  } else {
    std::snprintf(head, sizeof head, "<!DOCTYPE html>\n<html><head><meta charset=\"%s\">",
                  MetaCharset(ctx));
  }
  return RenderAppend(ctx, head) && RenderAppend(ctx, "<title>") &&
         RenderAppendN(ctx, title.data(), title.size()) && RenderAppend(ctx, "</title>");
}

bool WriteEpilogue(RenderContext* ctx) {
  if (IsFragment(ctx) || ctx->outputKind == kOutputPlain) return true;
  return RenderAppend(ctx, "</body></html>\n");
}

// The tables the engine's pre-walk allocated for this context.
void FreeEngineTables(RenderContext* ctx) {
  PoolFree(ctx->session, ctx->definitionTable);
  PoolFree(ctx->session, ctx->paragraphIdMapStored);
  PoolFree(ctx->session, ctx->paragraphIdMapInForce);
  PoolFree(ctx->session, ctx->paragraphIdMapBits);
  ctx->definitionTable = nullptr;
  ctx->definitionCount = 0;
  ctx->paragraphIdMapStored = ctx->paragraphIdMapInForce = nullptr;
  ctx->paragraphIdMapBits = nullptr;
  ctx->paragraphIdMapIdentity = false;
  ctx->paragraphIdMapCount = 0;
}

void FreeContext(RenderContext* ctx) {
  if (!ctx) return;
  FreeEngineTables(ctx);
  RenderContextFree(ctx);
}

// A pool copy of text; 263 when the pool is out of memory.
NnStatus PoolText(LSXLsiSession* session, const std::string& text, char** out, uint32_t* length) {
  if (text.size() >= UINT32_MAX) return NN_ERR_MEMORY;
  char* copy = static_cast<char*>(POOL_ALLOC(session, text.size() + 1, false));
  if (!copy) return NN_ERR_MEMORY;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = 0;
  *out = copy;
  if (length) *length = uint32_t(text.size());
  return 0;
}

// Collects the parts the renderer flushes (MIME output).
struct PartCollector {
  std::string text;
};

void CollectPart(RenderContext*, const char* text, size_t length, int, void* closure) {
  if (closure && text) static_cast<PartCollector*>(closure)->text.append(text, length);
}

// An image part of a MIME message.
struct ImagePart {
  std::string id;
  std::string type;
  std::string base64;
};

// Collects the pictures the graphic writer hands over (MIME output), each once.
void CollectImage(const char* id, const char* type, const uint8_t* bytes, size_t size,
                  void* closure) {
  auto* images = static_cast<std::vector<ImagePart>*>(closure);
  for (const ImagePart& image : *images)
    if (image.id == id) return;
  images->push_back({id, type, kv::Base64Encode(bytes, size)});
}

// How a page is produced in one attempt; the MIME generator adds its parts.
struct PageRequest {
  uint16_t outputKind = kOutputHtml;
  const char* fileName = nullptr;
  const char* options = nullptr;
  TorvoCollection* collection = nullptr;
  bool mime = false;
  bool epub = false;
  std::vector<ImagePart>* images = nullptr;  // MIME: the pictures' parts
};

}  // namespace

NnStatus TorvoRTChunk::RenderIntoContext(RenderContext* ctx) {
  if (!ctx || !ctx->outputBuffer || !ctx->outputCursor || !session || !item || !internal)
    return NN_ERR_INVALID_ARG;
  SessionGlobals* g = session->globals;
  RenderContext* savedContext = internal->renderContext;
  const char* savedOptions = g->optionString;
  RenderContext* savedGlobal = g->renderContext;
  internal->renderContext = ctx;
  g->optionString = ctx->optionString;
  g->renderContext = ctx;
  ctx->session = session;
  ctx->item = item;
  ctx->chunk = this;
  // A collection's markers switch the note the page is read from: the
  // render gives back the note it found, and closes the one a marker opened.
  const NnHandle foundRenderNote = item->hRenderNote;
  ctx->markerNoteOpen = 0;
  ctx->ownMarkers.reset();  // found again in this item's records
  bool tableLoaded = false;
  if (!ctx->charsetTable &&
      NnCharsetTableLoad(NN_CHARSET_LMBCS, NN_CHARSET_UTF8, &ctx->charsetTable) == NN_OK)
    tableLoaded = true;

  // Every range of the chunk (a chunk may have several) goes into one page:
  // the first writes the head and body opening, the page ends after the last.
  ctx->head.pageOpened = 0;
  ctx->head.pageEndsLater = 1;
  NnStatus st = RunFrame(kRenderOperation, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ctx->head.pageEndsLater = 0;
  // A sub-chunk render was finished by the engine; otherwise the last part
  // still has to reach a part writer.
  if (st == 0 && !ctx->subChunk && ctx->partWriter) st = PrXMLStr(ctx, 0, 0, 2);
  if (st == 0) FinishRenderPage(ctx);
  // An append that did not fit means a truncated page, whatever a writer said.
  if (st == 0 && ctx->driver.outputFull) st = NN_ERR_MEMORY;

  if (ctx->markerNoteOpen && item->hRenderNote && item->hRenderNote != item->hNote &&
      item->hRenderNote != foundRenderNote)
    NnNoteClose(item->hRenderNote);
  ctx->markerNoteOpen = 0;
  item->hRenderNote = foundRenderNote;
  if (tableLoaded) {
    NnCharsetTableFree(ctx->charsetTable);
    ctx->charsetTable = nullptr;
  }
  internal->renderContext = savedContext;
  g->optionString = savedOptions;
  g->renderContext = savedGlobal;
  return st;
}

namespace {

// "MarkDelimitedHTML=": the render reads a copy of the item's records in which
// typed "[<" ... ">]" runs are marked as pass-through; the item keeps its own
// records unchanged (they may be written back later).
class DelimitedMarking {
 public:
  DelimitedMarking(TorvoRTChunk* chunk, const char* options) : chunk_(chunk) {
    char value[kOptionValueMax + 1];
    if (!GetOptionValue(options, "MarkDelimitedHTML=", value) ||
        !(value[0] == 'Y' || value[0] == 'y' || value[0] == '1' || value[0] == 'T' ||
          value[0] == 't'))
      return;
    TorvoRTItem* item = chunk->item;
    LSXLsiSession* session = chunk->session;
    if (!item || !item->context || item->LoadRecords() != NN_OK || !item->context->records) return;
    own_ = item->context->records;
    marked_ = RecordListCreate(session);
    if (!marked_) {
      status_ = NN_ERR_MEMORY;
      return;
    }
    for (RTRecordNode* n = own_->first; n; n = n->next) {
      if (!RecordListAppendNode(session, marked_, n->signature, n->data, n->length, 0)) {
        status_ = NN_ERR_MEMORY;
        return;
      }
    }
    std::string start, end;
    if (GetOptionValue(options, "DelimitedHTMLStart=", value)) start = value;
    if (GetOptionValue(options, "DelimitedHTMLEnd=", value)) end = value;
    status_ = ProcessDelimitedHTML(session, marked_, start.c_str(), end.c_str());
    if (status_ != NN_OK) return;
    RecordListRenumber(marked_);
    item->context->records = marked_;
  }
  ~DelimitedMarking() {
    if (own_ && chunk_->item->context->records == marked_) chunk_->item->context->records = own_;
    if (marked_) RecordListFreeWithAllocator(chunk_->session, marked_);
  }
  NnStatus status() const { return status_; }

 private:
  TorvoRTChunk* chunk_;
  RecordList* own_ = nullptr;
  RecordList* marked_ = nullptr;
  NnStatus status_ = NN_OK;
};

// A page is seldom more than twice the item's records: a buffer of that size
// mostly takes the page at the first attempt. Untouched room costs no memory.
uint32_t FirstCapacity(TorvoRTItem* item) {
  uint64_t capacity = kFirstCapacity;
  if (item && item->context && item->LoadRecords() == NN_OK && item->context->records) {
    const uint64_t wanted = 2 * uint64_t(item->context->records->loadAreaSize) + kFirstCapacity;
    while (capacity < wanted && capacity < kLastCapacity) capacity *= 4;
  }
  return uint32_t(capacity);
}

// Text whose UTF-8 form is the very same bytes: ASCII and the three controls
// of plain text.
bool SameInUtf8(const char* text, size_t length) {
  static const bool controlsKept = NnLmbcsToUtf8("\t\r\n", 3) == "\t\r\n";
  auto same = [](uint8_t b) {
    return b < 0x80 && (b >= 0x20 || (controlsKept && (b == '\t' || b == '\r' || b == '\n')));
  };
  constexpr uint64_t kHigh = 0x8080808080808080ull, kSpace = 0x2020202020202020ull;
  size_t i = 0;
#if defined(__SSE2__)
  // Thirty-two printable ASCII bytes pass at once: as signed bytes they all
  // lie above 0x1F. Anything else byte by byte.
  const __m128i controls = _mm_set1_epi8(0x1F);
  for (; i + 32 <= length; i += 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 16));
    const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(a, controls), _mm_cmpgt_epi8(b, controls));
    if (_mm_movemask_epi8(printable) == 0xFFFF) continue;
    for (size_t k = 0; k < 32; ++k)
      if (!same(uint8_t(text[i + k]))) return false;
  }
#endif
  for (uint64_t w; i + 8 <= length; i += 8) {
    std::memcpy(&w, text + i, 8);
    // Eight printable ASCII bytes pass at once; anything else byte by byte.
    if (!((w | ((w - kSpace) & ~w)) & kHigh)) continue;
    for (size_t k = 0; k < 8; ++k)
      if (!same(uint8_t(text[i + k]))) return false;
  }
  for (; i < length; ++i)
    if (!same(uint8_t(text[i]))) return false;
  return true;
}

// One page; the output buffer grows fourfold while the render runs out of room.
// With `handed` given, a page that needs no conversion is the output buffer
// itself (a pool block, NUL-terminated, the caller's to free) in *handed and
// its length in *handedLength, and `page` stays empty.
NnStatus GeneratePage(TorvoRTChunk* chunk, const PageRequest& request, std::string* page,
                      char** handed = nullptr, uint32_t* handedLength = nullptr) {
  LSXLsiSession* session = chunk->session;
  if (!session || !chunk->item) return NN_ERR_INVALID_ARG;
  const char* options = request.options ? request.options : "";
  // A render option whose value was cut would shape the page by something
  // else than the caller gave: the render is refused instead.
  const uint64_t valuesCutBefore = OptionValuesCut();
  // So would a value its key cannot use (a word it does not know, a number
  // out of its range): refused before anything is rendered.
  if (!RenderOptionsUsable(options)) return NN_ERR_INVALID_ARG;
  std::string title = PageTitle(chunk->item, options);
  const DelimitedMarking marking(chunk, options);
  if (marking.status() != NN_OK) return marking.status();
  NnStatus st = NN_ERR_MEMORY;
  for (uint32_t capacity = FirstCapacity(chunk->item);; capacity *= 4) {
    RenderContext* ctx = RenderContextCreate(session, capacity);
    if (!ctx) return NN_ERR_MEMORY;
    ctx->item = chunk->item;
    ctx->chunk = chunk;
    st = session->PreprocessXMLProperties(ctx, request.outputKind, request.fileName, options);
    ctx->collection = request.collection;
    // EPUB pages: alignment goes into styles, the body carries the top anchor.
    if (request.epub) ctx->renderFlagsE |= 0x200;
    PartCollector parts;
    if (request.mime) {
      // Images travel as parts of the message: the renderer writes them
      // inline, and the message takes them out again.
      ctx->mimeRender = 1;
      ctx->containerKind = 1;
      if (!ctx->dataImages) ctx->dataImages = UINT32_MAX;
      ctx->flushThreshold = 0;
      ctx->partWriter = CollectPart;
      ctx->partClosure = &parts;
      if (request.images) {
        request.images->clear();
        ctx->graphics.imagePart = CollectImage;
        ctx->graphics.imagePartClosure = request.images;
      }
    }
    if (st == 0 && !WritePrologue(ctx, title)) st = NN_ERR_MEMORY;
    const char* afterPrologue = ctx->outputCursor;
    if (st == 0) st = chunk->RenderIntoContext(ctx);
    // An item with nothing to render leaves the head open: close it here.
    if (st == 0 && ctx->outputCursor == afterPrologue && !IsFragment(ctx) &&
        ctx->outputKind != kOutputPlain && !RenderAppend(ctx, "</head><body>"))
      st = NN_ERR_MEMORY;
    ctx->collection = nullptr;
    if (st == 0 && !WriteEpilogue(ctx)) st = NN_ERR_MEMORY;
    if (st == 0 && OptionValuesCut() != valuesCutBefore) st = NN_ERR_INVALID_ARG;
    ctx->renderFlagsE &= ~uint32_t(0x200);
    if (st == 0) {
      // Flushed parts come first; what is left in the buffer follows them.
      const size_t used = size_t(ctx->outputCursor - ctx->outputBuffer);
      const bool translated = (ctx->renderFlagsA & 0x1000) != 0;
      if (parts.text.empty() && handed && used < UINT32_MAX &&
          (translated || SameInUtf8(ctx->outputBuffer, used))) {
        *handed = ctx->outputBuffer;
        *handedLength = uint32_t(used);
        (*handed)[used] = 0;
        ctx->outputBuffer = ctx->outputCursor = nullptr;
      } else if (parts.text.empty()) {
        *page = translated ? std::string(ctx->outputBuffer, used)
                           : NnLmbcsToUtf8(ctx->outputBuffer, used);
      } else {
        std::string raw = std::move(parts.text);
        raw.append(ctx->outputBuffer, used);
        *page = translated ? std::move(raw) : NnLmbcsToUtf8(raw.data(), raw.size());
      }
    }
    FreeContext(ctx);
    if (st != NN_ERR_MEMORY || capacity >= kLastCapacity) break;
  }
  return st;
}

// The images a page carries as data URLs in src attributes become parts of
// the message; the page refers to them by content id.
std::string ExtractImages(const std::string& page, std::vector<ImagePart>* images) {
  std::string out;
  size_t pos = 0;
  static const char kMarker[] = "src=\"data:";
  while (true) {
    size_t at = page.find(kMarker, pos);
    if (at == std::string::npos) break;
    size_t typeStart = at + sizeof kMarker - 1;
    size_t close = page.find('"', typeStart);
    size_t comma = page.find(";base64,", typeStart);
    if (close == std::string::npos || comma == std::string::npos || comma > close) {
      out.append(page, pos, typeStart - pos);
      pos = typeStart;
      continue;
    }
    std::string type = page.substr(typeStart, comma - typeStart);
    bool plainType = type.compare(0, 6, "image/") == 0 &&
                     type.find_first_of(" \r\n;\"<>") == std::string::npos;
    if (!plainType) {
      out.append(page, pos, typeStart - pos);
      pos = typeStart;
      continue;
    }
    ImagePart part;
    part.id = "image" + std::to_string(images->size() + 1) + "@" + kMimeContentDomain;
    part.type = type;
    part.base64 = page.substr(comma + 8, close - comma - 8);
    out.append(page, pos, at - pos);
    out += "src=\"cid:" + part.id;
    images->push_back(std::move(part));
    pos = close;
  }
  out.append(page, pos, std::string::npos);
  return out;
}

std::string Wrapped(const std::string& base64) {
  std::string out;
  size_t n = 0;
  for (char c : base64) {
    if (c == '\r' || c == '\n' || c == ' ') continue;
    out += c;
    if (++n % 76 == 0) out += "\r\n";
  }
  if (n % 76) out += "\r\n";
  return out;
}

}  // namespace

namespace {

// A page in a pool block the caller frees: the render buffer itself when the
// page needs no conversion, else a copy of the converted text.
NnStatus PooledPage(TorvoRTChunk* chunk, const PageRequest& request, char** page,
                    uint32_t* length) {
  if (!page) return NN_ERR_INVALID_ARG;
  *page = nullptr;
  if (length) *length = 0;
  std::string text;
  uint32_t handedLength = 0;
  NnStatus st = GeneratePage(chunk, request, &text, page, &handedLength);
  if (st == 0 && *page) {
    if (length) *length = handedLength;
    return st;
  }
  if (st == 0) st = PoolText(chunk->session, text, page, length);
  return st;
}

}  // namespace

NnStatus TorvoRTChunk::GenerateHTML(const char* fileName, const char* options, char** page,
                                    uint32_t* length, TorvoCollection* collection) {
  lastStatus = 0;
  PageRequest request{kOutputHtml, fileName, options, collection, false};
  return lastStatus = PooledPage(this, request, page, length);
}

NnStatus TorvoRTChunk::GenerateXML(const char* fileName, const char* options, char** page,
                                   uint32_t* length, TorvoCollection* collection) {
  lastStatus = 0;
  PageRequest request{kOutputXhtml, fileName, options, collection, false};
  return lastStatus = PooledPage(this, request, page, length);
}

NnStatus TorvoRTChunk::GenerateHTMLToEPub(const char* fileName, const char* options, char** page,
                                          uint32_t* length, TorvoCollection* collection) {
  lastStatus = 0;
  if (!page) return lastStatus = NN_ERR_INVALID_ARG;
  *page = nullptr;
  if (length) *length = 0;
  PageRequest request{kOutputXhtml, fileName, options, collection, false, true};
  std::string text;
  NnStatus st = GeneratePage(this, request, &text);
  if (st == 0) st = PoolText(session, text, page, length);
  return lastStatus = st;
}

NnStatus TorvoRTChunk::GenerateHTMLToMime(const char* options, char** message, uint32_t* length) {
  lastStatus = 0;
  if (!message) return lastStatus = NN_ERR_INVALID_ARG;
  *message = nullptr;
  if (length) *length = 0;
  std::vector<ImagePart> images;
  PageRequest request{kOutputHtml, nullptr, options, nullptr, true};
  request.images = &images;
  std::string page;
  NnStatus st = GeneratePage(this, request, &page);
  if (st) return lastStatus = st;
  // Pictures are parts already; images typed as data URLs join them.
  std::string html = ExtractImages(page, &images);
  // A boundary that the parts cannot contain: base64 and the page are
  // checked for it.
  std::string boundary = "=_kestrelvault_related_0";
  for (int n = 1; html.find(boundary) != std::string::npos; ++n)
    boundary = "=_kestrelvault_related_" + std::to_string(n);
  std::string out;
  out += "MIME-Version: 1.0\r\n";
  out += "Content-Type: multipart/related; type=\"text/html\"; boundary=\"" + boundary + "\"\r\n";
  out += "\r\n";
  out += "--" + boundary + "\r\n";
  out += "Content-Type: text/html; charset=utf-8\r\n";
  out += "Content-Transfer-Encoding: base64\r\n\r\n";
  out += Wrapped(kv::Base64Encode(html.data(), html.size()));
  for (const ImagePart& image : images) {
    out += "--" + boundary + "\r\n";
    out += "Content-Type: " + image.type + "\r\n";
    out += "Content-Transfer-Encoding: base64\r\n";
    out += "Content-ID: <" + image.id + ">\r\n\r\n";
    out += Wrapped(image.base64);
  }
  out += "--" + boundary + "--\r\n";
  return lastStatus = PoolText(session, out, message, length);
}
