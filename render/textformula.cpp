// The text-or-formula writers: platform text, or the result of a compiled
// formula, written as HTML text with character references.
#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "lsxsessi.h"
#include "render/render.h"
#include "rtitem.h"

namespace {

constexpr uint32_t kJoinMaximum = 65342;

// Translation tables, loaded on first use and freed with the loop.
class Tables {
 public:
  ~Tables() {
    if (latin1_) NnCharsetTableFree(latin1_);
    if (unicode_) NnCharsetTableFree(unicode_);
  }
  NnCharsetInfo* Latin1() { return Load(&latin1_, &latin1Tried_, NN_CHARSET_LATIN1); }
  NnCharsetInfo* Unicode() { return Load(&unicode_, &unicodeTried_, NN_CHARSET_UNICODE); }

 private:
  static NnCharsetInfo* Load(NnCharsetInfo** slot, bool* tried, uint16_t to) {
    if (!*tried) {
      *tried = true;
      if (NnCharsetTableLoad(NN_CHARSET_LMBCS, to, slot) != NN_OK) *slot = nullptr;
    }
    return *slot;
  }
  NnCharsetInfo* latin1_ = nullptr;
  NnCharsetInfo* unicode_ = nullptr;
  bool latin1Tried_ = false;
  bool unicodeTried_ = false;
};

// Bounded output: each character's text goes in whole or not at all.
struct Sink {
  char* out;
  size_t capacity;  // bytes usable before the NUL
  size_t used = 0;
  bool full = false;
  bool Put(const char* text, size_t n) {
    if (full) return false;
    if (n > capacity - used) {
      full = true;
      return false;
    }
    std::memcpy(out + used, text, n);
    used += n;
    return true;
  }
  bool Put(const char* text) { return Put(text, std::strlen(text)); }
  bool Reference(uint32_t code) {
    char buffer[16];
    int n = std::snprintf(buffer, sizeof buffer, "&#%u;", code);
    return Put(buffer, size_t(n));
  }
};

// Characters that go out as they stand: printable ASCII but for the markup
// characters, with the ampersand and the space by the caller's choice.
struct PlainTables {
  bool byte[4][256];
  constexpr PlainTables() : byte() {
    for (int t = 0; t < 4; ++t) {
      for (int c = 33; c <= 126; ++c) byte[t][c] = true;
      byte[t][uint8_t('&')] = (t & 1) != 0;
      byte[t][uint8_t('<')] = byte[t][uint8_t('>')] = false;
      byte[t][uint8_t('"')] = byte[t][uint8_t('\'')] = false;
      byte[t][uint8_t(' ')] = (t & 2) != 0;
    }
  }
};
constexpr PlainTables kPlain;

// Where the stretch of plain characters from `from` ends. Text is mostly
// plain: sixteen bytes are tested at once where the processor allows.
size_t PlainEnd(const char* text, size_t from, size_t length, bool ampersand, bool space) {
  const bool* plain = kPlain.byte[(ampersand ? 1 : 0) | (space ? 2 : 0)];
  size_t i = from;
#if defined(__SSE2__)
  // Signed bytes: one comparison keeps 0x21..0x7F (0x20..0x7F with the
  // space), then the delete and the markup characters are taken out.
  const __m128i above = _mm_set1_epi8(space ? 0x1F : 0x20);
  const __m128i del = _mm_set1_epi8(0x7F), lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>');
  const __m128i quot = _mm_set1_epi8('"'), apos = _mm_set1_epi8('\'');
  const __m128i amp = _mm_set1_epi8(ampersand ? '<' : '&');  // '<' again: no ampersand test
  // A bit for each of the sixteen bytes at `at` that is not plain.
  const auto others = [&](size_t at) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    const __m128i special =
        _mm_or_si128(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, del), _mm_cmpeq_epi8(x, lt)),
                                  _mm_or_si128(_mm_cmpeq_epi8(x, gt), _mm_cmpeq_epi8(x, quot))),
                     _mm_or_si128(_mm_cmpeq_epi8(x, apos), _mm_cmpeq_epi8(x, amp)));
    const __m128i ok = _mm_andnot_si128(special, _mm_cmpgt_epi8(x, above));
    return ~unsigned(_mm_movemask_epi8(ok)) & 0xFFFFu;
  };
  for (; i + 16 <= length; i += 16)
    if (const unsigned mask = others(i)) return i + size_t(std::countr_zero(mask));
  if (i < length && length >= 16) {
    // The last bytes: the sixteen that end the text, those already seen left out.
    const size_t at = length - 16;
    const unsigned mask = others(at) & (0xFFFFu << (i - at));
    return mask ? at + size_t(std::countr_zero(mask)) : length;
  }
#endif
  while (i < length && plain[uint8_t(text[i])]) ++i;
  return i;
}

uint32_t ReadSettingsU16(const void* settings, size_t offset) {
  uint16_t value = 0;
  std::memcpy(&value, static_cast<const uint8_t*>(settings) + offset, 2);
  return value;
}

// A character from 0x80 on, of more than one byte, or a control character.
bool PutOther(const RenderContext* ctx, Tables& tables, Sink& sink, const char* ch,
              uint32_t size) {
  const auto* b = reinterpret_cast<const uint8_t*>(ch);
  if (size == 1 && b[0] < 0x80) {
    // Controls: only those XML allows are written, as references.
    return XmlCharAllowed(b[0]) ? sink.Reference(b[0]) : true;
  }
  const bool xmlEntities = (ctx->renderFlagsC & 0x800) || ctx->outputKind == kOutputXhtml;
  if (!xmlEntities) {
    const char* name = GetEntityNameForNotesChar(nullptr, ch, size);
    if (name != nullptr) {
      char buffer[24];
      int n = std::snprintf(buffer, sizeof buffer, "&%s;", name);
      return sink.Put(buffer, size_t(n));
    }
  }
  char result[8] = {};
  uint32_t n = 0;
  NnCharsetInfo* latin1 = tables.Latin1();
  NnStatus st = latin1 ? NnCharsetTranslate(latin1, 144, ch, size, result, sizeof result, &n)
                       : NnStatus(NN_ERR_CHARSET);
  if (st == NN_OK && n == 1 && result[0] != '?') {
    const uint32_t code = uint8_t(result[0]);
    return XmlCharAllowed(code) ? sink.Reference(code) : true;
  }
  if (st == NN_OK) {
    NnCharsetInfo* unicode = tables.Unicode();
    uint8_t units[8] = {};
    uint32_t m = 0;
    if (unicode && NnCharsetTranslate(unicode, 144, ch, size, reinterpret_cast<char*>(units),
                                      sizeof units, &m) == NN_OK) {
      uint32_t code = 0;
      if (m == 2) {
        code = uint32_t(units[1]) * 256 + units[0];
      } else if (m == 4) {
        // A character beyond the basic plane comes as a surrogate pair.
        const uint32_t hi = uint32_t(units[1]) * 256 + units[0];
        const uint32_t lo = uint32_t(units[3]) * 256 + units[2];
        if (hi >= 0xD800 && hi < 0xDC00 && lo >= 0xDC00 && lo < 0xE000)
          code = 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00);
      }
      if (code != 0) return XmlCharAllowed(code) ? sink.Reference(code) : true;
    }
    // Nothing better: the platform bytes as they stand (group bytes dropped
    // so the output never carries a stray control byte).
    for (uint32_t k = 0; k < size; ++k)
      if (b[k] >= 0x20 && !sink.Put(ch + k, 1)) return false;
    return true;
  }
  if (size == 3 && b[0] == 0x14 && b[1] == 0x20 && b[2] == 0xAC)
    return sink.Put(xmlEntities ? "&#8364;" : "&euro;");
  if (size == 2 && b[0] == 0x01 && b[1] == 'v' && !(ctx->renderFlagsB & 0x400))
    return sink.Put(xmlEntities ? "&#8482;" : "&trade;");
  if (n >= 1) {
    const uint32_t code = uint8_t(result[0]);
    return XmlCharAllowed(code) ? sink.Reference(code) : true;
  }
  return true;
}

}  // namespace

bool RenderTextCharacters(const RenderContext* ctx, const char* text, size_t length,
                          const void* settings, int keepLineBreaks, int allSpaces,
                          int keepAmpersands, int nulAsBreak, char* out, size_t outSize,
                          size_t* written) {
  if (written) *written = 0;
  if (out == nullptr || outSize == 0) return length == 0;
  Sink sink{out, outSize - 1};
  out[0] = 0;
  if (ctx == nullptr || text == nullptr) return true;

  uint32_t tabWidth = ctx->tabSpaces;
  bool preserve = (ctx->renderFlagsA & 0x40) != 0;
  if (settings != nullptr) {
    const uint32_t width = ReadSettingsU16(settings, 624);
    if (width >= 1 && width <= 80) tabWidth = width;
    if (ReadSettingsU16(settings, 626) & 0x80) preserve = false;
  }
  const bool xmlEntities = (ctx->renderFlagsC & 0x800) || ctx->outputKind == kOutputXhtml;
  const char* nbsp = xmlEntities ? "&#160;" : "&nbsp;";
  const char* lineBreak = ctx->outputKind == kOutputXhtml ? "<br />" : "<br>";
  Tables tables;

  // Characters that go out as they stand are copied a stretch at a time;
  // which they are depends on how ampersands and spaces are written.
  const bool plainSpace = keepAmpersands || (!allSpaces && !preserve);

  size_t i = 0;
  while (i < length && !sink.full) {
    const size_t plain = PlainEnd(text, i, length, keepAmpersands != 0, plainSpace);
    if (plain > i) {
      size_t n = plain - i;
      const size_t room = sink.capacity - sink.used;
      if (n > room) {
        n = room;
        sink.full = true;
      }
      std::memcpy(sink.out + sink.used, text + i, n);
      sink.used += n;
      i += n;
      continue;
    }
    uint32_t size = 1;
    if (NnCharsetByteSize(text + i, 1, uint32_t(length - i < 0xFFFFFFFFu ? length - i : 0xFFFFFFFFu),
                          &size, nullptr) != NN_OK ||
        size == 0)
      size = 1;
    if (size > length - i) size = uint32_t(length - i);
    // A character beyond the basic plane is two Unicode-group characters (a
    // unit with a zero low byte is spelt 0xF6 and its high byte).
    auto unitHigh = [&](size_t at) {
      return uint8_t(text[at + 1]) == 0xF6 ? uint8_t(text[at + 2]) : uint8_t(text[at + 1]);
    };
    if (size == 3 && i + 6 <= length && uint8_t(text[i]) == 0x14 && text[i + 3] == 0x14 &&
        (unitHigh(i) & 0xFC) == 0xD8 && (unitHigh(i + 3) & 0xFC) == 0xDC)
      size = 6;
    const char c = text[i];
    if (size == 1 && uint8_t(c) < 0x80) {
      switch (c) {
        case 0:
          if (nulAsBreak)
            sink.Put(lineBreak);
          else if (!keepLineBreaks)
            sink.Put("\r\n", 2);
          break;  // kept line breaks: a NUL is a control character, not written
        case '&': sink.Put(keepAmpersands ? "&" : "&amp;"); break;
        case '<': sink.Put("&lt;"); break;
        case '>': sink.Put("&gt;"); break;
        case '"': sink.Put("&quot;"); break;
        case '\'': sink.Put("&#39;"); break;  // safe in attributes of either quote
        case '\t':
          if (tabWidth == 0) {
            sink.Put(" ", 1);
          } else {
            for (uint32_t k = 0; k < tabWidth; ++k) sink.Put(nbsp);
          }
          break;
        case ' ': {
          bool plain;
          if (keepAmpersands)
            plain = true;
          else if (allSpaces)
            plain = false;
          else if (!preserve)
            plain = true;
          else
            plain = i + 1 < length && text[i + 1] != ' ';
          if (plain) {
            sink.Put(" ", 1);
          } else {
            while (i < length && text[i] == ' ' && sink.Put(nbsp)) ++i;
            continue;
          }
          break;
        }
        case '\r':
        case '\n':
          if (!keepLineBreaks) PutOther(ctx, tables, sink, text + i, 1);
          break;
        default:
          if (c >= 33 && c <= 126)
            sink.Put(&text[i], 1);
          else
            PutOther(ctx, tables, sink, text + i, 1);
          break;
      }
    } else {
      PutOther(ctx, tables, sink, text + i, size);
    }
    if (sink.full) break;
    i += size;
  }
  out[sink.used] = 0;
  if (written) *written = sink.used;
  return !sink.full;
}

bool EvaluateRenderFormula(RenderContext* ctx, const char* compiled, uint32_t length,
                           std::string* result) {
  result->clear();
  if (ctx->session == nullptr || ctx->session->globals == nullptr) return false;
  char* scratch = ctx->session->globals->workBuffer1;
  if (length > kFormulaCut + 1) length = kFormulaCut;
  std::memmove(scratch, compiled, length);
  scratch[length] = 0;  // the platform reads the formula up to its NUL
  const NnHandle note = RenderNote(ctx);
  NnHandle compute = 0;
  if (NnComputeStart(scratch, &compute) != NN_OK) return false;
  NnHandle hResult = 0;
  uint32_t resultLength = 0;
  if (NnComputeEvaluate(compute, note, &hResult, &resultLength) != NN_OK) {
    NnComputeStop(compute);
    return false;
  }
  const auto* value = static_cast<const uint8_t*>(NnMemLock(hResult));
  if (value != nullptr && resultLength >= 2) {
    // As the platform shows a value: every entry of a list (text, numbers,
    // times and their ranges) joined with ";", numbers "%g", times as text.
    std::string text(kJoinMaximum + 1, '\0');
    result->assign(text.data(), NnValueConvertToText(value, resultLength, text.data(),
                                                     uint16_t(text.size()), ';'));
  }
  if (value != nullptr) NnMemUnlock(hResult);
  NnMemFree(hResult);
  NnComputeStop(compute);
  if (result->size() > kJoinMaximum) result->resize(kJoinMaximum);
  // The result stays in the scratch block for the text-run writer.
  const uint16_t stored = uint16_t(result->size() < kWorkBlockSize - 19 ? result->size()
                                                                        : kWorkBlockSize - 19);
  std::memcpy(scratch + 16, &stored, 2);
  std::memcpy(scratch + 18, result->data(), stored);
  scratch[18 + stored] = 0;
  return true;
}

namespace {

void WriteTextOrFormula(RenderContext* ctx, const char* text, uint16_t length,
                        const void* settings, char* out, size_t outSize, size_t* written,
                        bool* fitted, int keepLineBreaks, int allSpaces, int formula,
                        int keepAmpersands) {
  *written = 0;
  *fitted = true;
  if (length == 0 || text == nullptr) return;
  std::string result;
  const char* source = text;
  size_t sourceLength = length;
  if (formula) {
    if (!EvaluateRenderFormula(ctx, text, length, &result)) return;
    source = result.data();
    sourceLength = result.size();
  }
  *fitted = RenderTextCharacters(ctx, source, sourceLength, settings, keepLineBreaks, allSpaces,
                                 keepAmpersands, 0, out, outSize, written);
}

}  // namespace

void WriteTextOrFormulaHTML(RenderContext* ctx, const char* text, uint16_t length,
                            const void* settings, int keepLineBreaks, int allSpaces,
                            int formula) {
  if (ctx == nullptr || ctx->outputCursor == nullptr) return;
  size_t written = 0;
  bool fitted = true;
  WriteTextOrFormula(ctx, text, length, settings, ctx->outputCursor, RenderRoom(ctx) + 1,
                     &written, &fitted, keepLineBreaks, allSpaces, formula, 0);
  if (!fitted) {
    // A text cut short is never left behind.
    *ctx->outputCursor = 0;
    ctx->driver.outputFull = 1;
    return;
  }
  ctx->outputCursor += written;
}

void WriteTextOrFormulaHTMLTo(RenderContext* ctx, const char* text, uint16_t length,
                              const void* settings, char* destination, size_t destinationSize,
                              int keepLineBreaks, int allSpaces, int formula,
                              int keepAmpersands) {
  if (ctx == nullptr || destination == nullptr || destinationSize == 0) return;
  const size_t already = strnlen(destination, destinationSize - 1);
  destination[already] = 0;
  size_t written = 0;
  bool fitted = true;
  WriteTextOrFormula(ctx, text, length, settings, destination + already,
                     destinationSize - already, &written, &fitted, keepLineBreaks, allSpaces,
                     formula, keepAmpersands);
  if (!fitted) destination[already] = 0;
}
