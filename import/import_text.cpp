// Text files as paragraphs, the MIME body lists, the import-filter look-up
// (there are no platform import filters here) and the platform-text
// translation the engine uses for short texts.
#include <cstring>
#include <new>
#include <string>

#include "import/import.h"
#include "import/importwriter.h"
#include "richtext/item/compose.h"

namespace kv::import {
NnStatus ReadWholeFile(const char* file, std::string* out);
}

namespace {

char* CopyText(const char* text) {
  if (!text) return nullptr;
  size_t n = std::strlen(text);
  char* copy = new (std::nothrow) char[n + 1];
  if (copy) std::memcpy(copy, text, n + 1);
  return copy;
}

void FreeBody(HtmlMimeBody* body) {
  delete[] body->contentType;
  delete[] body->charset;
  delete[] body->contentId;
  delete[] body->data;
  delete body;
}

// Length in bytes of the UTF-8 sequence that starts with c (1 for stray bytes).
size_t SequenceLength(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF4) return 4;
  if (c >= 0xE0 && c <= 0xEF) return 3;
  if (c >= 0xC2 && c <= 0xDF) return 2;
  return 1;
}

// Appends one line as one or more paragraphs of at most lineLength characters.
NnStatus EmitLine(kv::import::ImportWriter* w, const char* line, size_t length, uint32_t lineLength,
                  uint32_t font) {
  w->Break();
  if (length == 0) return w->ForceParagraph();
  size_t pos = 0;
  while (pos < length) {
    size_t end = length;
    if (lineLength) {
      // Walk lineLength characters; remember the last blank.
      size_t p = pos, lastBlank = 0;
      uint32_t chars = 0;
      while (p < length && chars < lineLength) {
        if (line[p] == ' ' || line[p] == '\t') lastBlank = p;
        p += SequenceLength(static_cast<unsigned char>(line[p]));
        ++chars;
      }
      if (p > length) p = length;
      if (p < length) end = (lastBlank > pos) ? lastBlank + 1 : p;
    }
    NnStatus st = w->Text(line + pos, end - pos, font, true);
    if (st == NN_OK) st = w->ForceParagraph();
    if (st != NN_OK) return st;
    pos = end;
    if (pos < length) w->Break();
  }
  return NN_OK;
}

}  // namespace

HtmlMimeBody* MimeBodyCreate(const char* contentType, const char* charset, const char* contentId,
                             const void* data, uint32_t length) {
  HtmlMimeBody* body = new (std::nothrow) HtmlMimeBody;
  if (!body) return nullptr;
  bool ok = true;
  if (contentType) {
    body->contentType = CopyText(contentType);
    ok &= body->contentType != nullptr;
    if (body->contentType)
      for (char* p = body->contentType; *p; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = char(*p - 'A' + 'a');
  }
  if (charset) ok &= (body->charset = CopyText(charset)) != nullptr;
  if (contentId) {
    // Without the angle brackets of the header form.
    std::string id = contentId;
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
    ok &= (body->contentId = CopyText(id.c_str())) != nullptr;
  }
  if (data && length) {
    body->data = new (std::nothrow) uint8_t[length];
    if (body->data) {
      std::memcpy(body->data, data, length);
      body->length = length;
    } else {
      ok = false;
    }
  }
  if (!ok) {
    FreeBody(body);
    return nullptr;
  }
  return body;
}

void MimeBodyAppend(HtmlMimeBody** head, HtmlMimeBody* body) {
  if (!head || !body) return;
  while (*head) head = &(*head)->next;
  *head = body;
}

void MimeBodyListFree(HtmlMimeBody* head) {
  while (head) {
    HtmlMimeBody* next = head->next;
    FreeBody(head);
    head = next;
  }
}

NnStatus EmitTextParagraphFromBuffer(const char* text, uint32_t length, uint32_t lineLength,
                                     ComposeContext* ctx) {
  if (!ctx || !ctx->session || (!text && length)) return NN_ERR_INVALID_ARG;
  kv::import::ImportWriter w(ctx);
  NnStatus st = NN_OK;
  try {
    const uint32_t font = w.BaseFont();
    size_t start = 0;
    // A byte-order mark is not text.
    if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) start = 3;
    for (size_t i = start; i <= length && st == NN_OK; ++i) {
      if (i < length && text[i] != '\n' && text[i] != '\r') continue;
      if (i == length && i == start) break;  // no unterminated last line
      st = EmitLine(&w, text + start, i - start, lineLength, font);
      if (i < length && text[i] == '\r' && i + 1 < length && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
    if (st == NN_OK) st = w.Finish();
  } catch (const std::bad_alloc&) {
    st = NN_ERR_MEMORY;
  }
  if (st != NN_OK) w.Rollback();
  return st;
}

NnStatus EmitTextParagraph(const char* file, uint32_t lineLength, ComposeContext* ctx) {
  if (!ctx || !ctx->session) return NN_ERR_INVALID_ARG;
  std::string text;
  NnStatus st = kv::import::ReadWholeFile(file, &text);
  if (st != NN_OK) return st;
  return EmitTextParagraphFromBuffer(text.data(), uint32_t(text.size()), lineLength, ctx);
}

int FindEditFilter(LSXLsiSession* /*session*/, const char* /*file*/, char* filterOut,
                   uint32_t filterSize, char* nameOut, uint32_t nameSize, int /*flags*/) {
  if (filterOut && filterSize) filterOut[0] = 0;
  if (nameOut && nameSize) nameOut[0] = 0;
  return 0;
}

NnStatus ImportImageViaFilter(ComposeContext* /*ctx*/, const char* /*file*/,
                              const char* /*filter*/, const char* /*name*/, char* recordFileOut,
                              uint32_t recordFileSize) {
  if (recordFileOut && recordFileSize) recordFileOut[0] = 0;
  return NN_ERR_INVALID_ARG;
}

NnStatus TranslateCharsetTextWithTable(LSXLsiSession* /*session*/, const char* text,
                                       uint32_t length, char* destination,
                                       uint32_t destinationSize, uint16_t charset) {
  if (!destination || !destinationSize) return NN_ERR_INVALID_ARG;
  destination[0] = 0;
  if (!text) return NN_ERR_INVALID_ARG;
  uint16_t target;
  switch (charset) {
    case kCharsetIdUtf8:
    case NN_CHARSET_UTF8: target = NN_CHARSET_UTF8; break;
    case NN_CHARSET_LATIN1: target = NN_CHARSET_LATIN1; break;
    case NN_CHARSET_UNICODE: target = NN_CHARSET_UNICODE; break;
    case NN_CHARSET_LMBCS: target = NN_CHARSET_LMBCS; break;
    default: return NN_ERR_CHARSET;
  }
  if (!length) length = uint32_t(strnlen(text, 0xFFFFFFFEu));
  if (!length) return NN_OK;
  NnCharsetInfo* table = nullptr;
  if (NnCharsetTableLoad(NN_CHARSET_LMBCS, target, &table) != NN_OK || !table)
    return NN_ERR_CHARSET;
  uint32_t written = 0;
  const uint32_t room = destinationSize - 1;
  NnStatus st = NnCharsetTranslate(table, 0, text, length, destination, room, &written);
  NnCharsetTableFree(table);
  if (st != NN_OK && st != NN_ERR_MEMORY) {
    destination[0] = 0;
    return st;
  }
  if (written > room) written = room;
  if (st == NN_ERR_MEMORY) {
    // Leave out a character that was cut.
    if (target == NN_CHARSET_UTF8) {
      uint32_t k = written;
      while (k > 0 && (static_cast<unsigned char>(destination[k - 1]) & 0xC0) == 0x80) --k;
      if (k > 0) {
        unsigned char lead = static_cast<unsigned char>(destination[k - 1]);
        if (lead >= 0xC0 && (k - 1) + SequenceLength(lead) > written) written = k - 1;
      }
    } else if (target == NN_CHARSET_UNICODE) {
      written &= ~1u;
    }
  }
  destination[written] = 0;
  return st;
}
