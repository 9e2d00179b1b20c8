// The HTML text writer: three text cursors (1 and 2 the context's work texts,
// 3 the output) for the form-field and button writers, and two small helpers.
// No write passes the end of its buffer (for the output, the capacity less
// the reserve); a text that does not fit is not written at all.
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "render/render.h"

namespace {

constexpr size_t kWorkClearLimit = sizeof(RenderContext::workText1);
constexpr size_t kOutputClearLimit = 65406;

struct Cursor {
  char* start = nullptr;   // buffer start
  char** at = nullptr;     // the cursor field
  size_t size = 0;         // usable bytes, the NUL included
  size_t clearLimit = 0;
};

bool GetCursor(RenderContext* ctx, int cursor, Cursor* c) {
  if (ctx == nullptr) return false;
  switch (cursor) {
    case 1:
      *c = {ctx->workText1, &ctx->workCursor1, sizeof ctx->workText1, kWorkClearLimit};
      break;
    case 2:
      *c = {ctx->workText2, &ctx->workCursor2, sizeof ctx->workText2, kWorkClearLimit};
      break;
    case 3:
      if (ctx->outputBuffer == nullptr || ctx->outputCapacity <= kOutputReserve) return false;
      *c = {ctx->outputBuffer, &ctx->outputCursor, ctx->outputCapacity - kOutputReserve,
            kOutputClearLimit};
      break;
    default:
      return false;
  }
  // A cursor never set (or set outside its buffer) starts at the buffer start.
  if (*c->at == nullptr || *c->at < c->start || *c->at >= c->start + c->size) *c->at = c->start;
  return true;
}

size_t Room(const Cursor& c) { return c.size - size_t(*c.at - c.start); }  // NUL included

void MarkFull(RenderContext* ctx, int cursor) {
  if (cursor == 3) ctx->driver.outputFull = 1;
}

// Formats at the cursor; the count, or -1 (nothing written) when it does not fit.
int FormatAt(RenderContext* ctx, int cursor, const Cursor& c, const char* format, va_list args) {
  va_list probe;
  va_copy(probe, args);
  const int need = std::vsnprintf(nullptr, 0, format, probe);
  va_end(probe);
  if (need < 0) return -1;
  if (size_t(need) >= Room(c)) {
    MarkFull(ctx, cursor);
    return -1;
  }
  return std::vsnprintf(*c.at, Room(c), format, args);
}

bool ValidTagName(const char* tag) {
  for (const char* p = tag; *p; ++p)
    if (!std::isalnum(static_cast<unsigned char>(*p)) && *p != '-' && *p != ':') return false;
  return true;
}

}  // namespace

char* HtmlOutPrintf(RenderContext* ctx, int cursor, const char* format, ...) {
  Cursor c;
  if (!GetCursor(ctx, cursor, &c) || format == nullptr) return nullptr;
  va_list args;
  va_start(args, format);
  const int n = FormatAt(ctx, cursor, c, format, args);
  va_end(args);
  if (n > 0) *c.at += n;
  return *c.at;
}

int HtmlOutFormatAt(RenderContext* ctx, int cursor, const char* format, ...) {
  Cursor c;
  if (!GetCursor(ctx, cursor, &c) || format == nullptr) return -1;
  va_list args;
  va_start(args, format);
  const int n = FormatAt(ctx, cursor, c, format, args);
  va_end(args);
  return n;
}

void HtmlOutPuts(RenderContext* ctx, int cursor, const char* text) {
  Cursor c;
  if (text == nullptr || !GetCursor(ctx, cursor, &c)) return;
  const size_t n = std::strlen(text);
  if (n >= Room(c)) {
    MarkFull(ctx, cursor);
    return;
  }
  std::memmove(*c.at, text, n);
  *c.at += n;
  **c.at = 0;
}

void HtmlOutAppend(RenderContext* ctx, int cursor, const char* text) {
  Cursor c;
  if (!GetCursor(ctx, cursor, &c)) return;
  // Past the text that already stands at the cursor.
  *c.at += strnlen(*c.at, Room(c) - 1);
  **c.at = 0;
  HtmlOutPuts(ctx, cursor, text);
}

void HtmlOutCopyN(RenderContext* ctx, int cursor, const char* text, size_t n) {
  Cursor c;
  if (text == nullptr || !GetCursor(ctx, cursor, &c)) return;
  const size_t room = Room(c) - 1;
  if (n > room) n = room;
  const size_t length = strnlen(text, n);
  std::memmove(*c.at, text, length);
  std::memset(*c.at + length, 0, n - length);
  // A copy that filled all n bytes still ends the text after them.
  if (length == n) (*c.at)[n] = 0;
}

char* HtmlOutReset(RenderContext* ctx, int cursor, size_t n) {
  Cursor c;
  if (!GetCursor(ctx, cursor, &c)) return nullptr;
  *c.at = c.start;
  const size_t bufferSize = cursor == 3 ? ctx->outputCapacity : c.size;
  if (n >= 1 && n <= c.clearLimit && n <= bufferSize)
    std::memset(c.start, 0, n);
  else
    c.start[0] = 0;
  return c.start;
}

void HtmlOutStartTag(RenderContext* ctx, const char* tag, const char* attributes,
                     const char* style, int selfClosing) {
  Cursor c;
  if (!GetCursor(ctx, 3, &c)) return;
  if (tag != nullptr && tag[0] != 0 && ValidTagName(tag)) {
    const bool hasAttributes = attributes != nullptr && attributes[0] != 0;
    const bool hasStyle = style != nullptr && style[0] != 0;
    // The style value is escaped for its double-quoted attribute.
    char escapedStyle[2048] = {};
    if (hasStyle) EscapeHtmlText(style, std::strlen(style), escapedStyle, sizeof escapedStyle);
    HtmlOutPrintf(ctx, 3, "<%s%s%s%s%s%s%s>", tag, hasAttributes ? " " : "",
                  hasAttributes ? attributes : "", hasStyle ? " style=\"" : "",
                  hasStyle ? escapedStyle : "", hasStyle ? "\"" : "",
                  selfClosing && ctx->outputKind != kOutputHtml ? "/" : "");
  }
  *c.at += strnlen(*c.at, Room(c) - 1);
}

void HtmlOutEndTag(RenderContext* ctx, const char* tag) {
  if (tag == nullptr || tag[0] == 0 || !ValidTagName(tag)) return;
  HtmlOutPrintf(ctx, 3, "</%s>", tag);
}

void GetFormBackgroundColor(NnHandle hNote, char* buffer) {
  if (buffer == nullptr) return;
  std::strcpy(buffer, "#ffffff");
  NnBlockId value;
  uint16_t type = 0;
  uint32_t length = 0;
  if (hNote == 0 || NnItemInfo(hNote, "$Info", 5, nullptr, &type, &value, &length) != NN_OK)
    return;
  const auto* block = static_cast<const uint8_t*>(NnBlockLock(value));
  if (block == nullptr || length < 2) return;
  const void* p = block + 2;  // past the type word
  NnDocumentRecord record{};
  if (NnOdsRead(&p, length - 2, NN_ODS_DOCUMENT, &record) != NN_OK) return;
  std::snprintf(buffer, 8, "#%.2x%.2x%.2x", record.paperColorRed, record.paperColorGreen,
                record.paperColorBlue);
}

void ConvertPathToFileURL(char* path, char* scratch) {
  if (path == nullptr || path[0] == 0) return;
  size_t length = std::strlen(path);
  if (path[1] == ':' && scratch != nullptr) {
    // A drive path; both buffers hold eight bytes more than the path.
    std::memcpy(scratch, "file:///", 8);
    std::memcpy(scratch + 8, path, length + 1);
    length += 8;
    std::memcpy(path, scratch, length + 1);
  }
  if (length > 0 && (path[length - 1] == '\\' || path[length - 1] == '/')) path[--length] = 0;
  for (char* p = path; *p; ++p)
    if (*p == '\\') *p = '/';
}
