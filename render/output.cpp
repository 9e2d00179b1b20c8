// Output parts: the pending output translated to the output character set,
// given its transfer encoding and handed to the part writer.
//
// The buffer holds, from its start: text already encoded, text translated but
// not yet encoded, and raw text. The part state keeps the two boundaries so a
// flush that keeps the output in the buffer never processes text twice.
#include <cstring>
#include <string>

#include "host/base64.h"
#include "render/render.h"

namespace {

size_t OutputLength(const RenderContext* ctx) {
  return size_t(ctx->outputCursor - ctx->outputBuffer);
}

size_t OutputLimit(const RenderContext* ctx) {
  // Room for the text and its NUL below the reserve.
  return ctx->outputCapacity > kOutputReserve + 1 ? ctx->outputCapacity - kOutputReserve - 1 : 0;
}

bool Usable(const RenderContext* ctx) {
  return ctx != nullptr && ctx->outputBuffer != nullptr && ctx->outputCursor != nullptr &&
         ctx->outputCursor >= ctx->outputBuffer;
}

// Replaces the buffer from `from` on by `text` when it fits; false (nothing
// changed, the render marked as cut short) when not.
bool ReplaceTail(RenderContext* ctx, size_t from, const std::string& text) {
  if (from + text.size() > OutputLimit(ctx)) {
    ctx->driver.outputFull = 1;
    return false;
  }
  std::memcpy(ctx->outputBuffer + from, text.data(), text.size());
  ctx->outputCursor = ctx->outputBuffer + from + text.size();
  *ctx->outputCursor = 0;
  return true;
}

uint16_t OutputCharset(uint16_t characterSet) {
  switch (characterSet) {
    case 1: return NN_CHARSET_UTF8;
    case 160: return NN_CHARSET_UNICODE;
    default: return NN_CHARSET_LATIN1;  // 32 and anything unknown
  }
}

void QuotedPrintable(const char* in, size_t n, bool finalPart, std::string* out) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t column = 0;
  auto emit = [&](const char* text, size_t len) {
    if (column + len > 75) {
      out->append("=\r\n");
      column = 0;
    }
    out->append(text, len);
    column += len;
  };
  for (size_t i = 0; i < n; ++i) {
    const auto c = uint8_t(in[i]);
    if (c == '\r' && i + 1 < n && in[i + 1] == '\n') {
      out->append("\r\n");
      column = 0;
      ++i;
      continue;
    }
    const bool lineEnd = i + 1 == n || in[i + 1] == '\r' || in[i + 1] == '\n';
    if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !lineEnd)) {
      const char ch = char(c);
      emit(&ch, 1);
    } else {
      const char code[3] = {'=', kHex[c >> 4], kHex[c & 15]};
      emit(code, 3);
    }
  }
  // A part that ends inside a line ends with a soft break; the next part
  // starts a fresh line.
  if (!finalPart && column > 0) out->append("=\r\n");
}

}  // namespace

void TranslateTextForOutput(RenderContext* ctx, int finalPart) {
  if (!Usable(ctx)) return;
  ctx->outputPart.finalPart = finalPart ? 1 : 0;
  const size_t length = OutputLength(ctx);
  size_t from = ctx->outputPart.translatedEnd;
  if (from > length) from = length;
  if (from == length) return;
  NnCharsetInfo* table = nullptr;
  if (NnCharsetTableLoad(NN_CHARSET_LMBCS, OutputCharset(ctx->characterSet), &table) != NN_OK)
    return;
  const uint32_t inLength = uint32_t(length - from);
  // Four bytes of output per input byte cover every set we translate to.
  std::string translated(size_t(inLength) * 4 + 8, '\0');
  uint32_t outLength = 0;
  NnStatus st = NnCharsetTranslate(table, 144, ctx->outputBuffer + from, inLength,
                                   translated.data(), uint32_t(translated.size()), &outLength);
  NnCharsetTableFree(table);
  if (st != NN_OK) return;
  translated.resize(outLength);
  if (ReplaceTail(ctx, from, translated)) ctx->outputPart.translatedEnd = uint32_t(OutputLength(ctx));
}

void EncodeTextForOutput(RenderContext* ctx, int finalPart) {
  if (!Usable(ctx)) return;
  ctx->outputPart.finalPart = finalPart ? 1 : 0;
  const size_t length = OutputLength(ctx);
  size_t from = ctx->outputPart.encodedEnd;
  if (from > length) from = length;
  const char* in = ctx->outputBuffer + from;
  size_t n = length - from;
  std::string encoded;
  size_t consumed = n;
  if (ctx->encodingFlags & 0x1) {
    // Whole 57-byte groups make whole 76-character lines; the rest waits for
    // the next part unless this is the last.
    if (!finalPart) consumed = n - n % 57;
    if (consumed > 0) {
      encoded.resize(size_t(kv::Base64EncodedLength(consumed, 76)) + 1);
      const uint32_t written =
          kv::Base64EncodeOut(encoded.data(), in, uint32_t(consumed), 76);
      encoded.resize(written);
      if (!finalPart) encoded.append("\r\n");
    }
  } else if (ctx->encodingFlags & 0x2) {
    QuotedPrintable(in, n, finalPart != 0, &encoded);
  } else {
    return;
  }
  const std::string rest(in + consumed, n - consumed);
  if (!ReplaceTail(ctx, from, encoded + rest)) return;
  ctx->outputPart.encodedEnd = uint32_t(from + encoded.size());
  // What is still raw here was translated already (the flush translates first).
  if (ctx->outputPart.translatedEnd != 0 || (ctx->renderFlagsA & 0x1000))
    ctx->outputPart.translatedEnd = uint32_t(OutputLength(ctx));
}

NnStatus WriteMIMEHTMLPart(RenderContext* ctx) {
  if (!Usable(ctx)) return NN_OK;
  if (ctx->partWriter == nullptr) return NN_OK;  // the output stays in the buffer
  const size_t length = OutputLength(ctx);
  size_t ready = length;
  if (ctx->encodingFlags & 0x3) {
    ready = ctx->outputPart.encodedEnd;
    if (ready > length) ready = length;
  }
  ctx->partWriter(ctx, ctx->outputBuffer, ready, ctx->outputPart.finalPart ? 1 : 0,
                  ctx->partClosure);
  ++ctx->mimePartCount;
  // What was not ready yet moves to the buffer start.
  const size_t rest = length - ready;
  std::memmove(ctx->outputBuffer, ctx->outputBuffer + ready, rest);
  ctx->outputCursor = ctx->outputBuffer + rest;
  *ctx->outputCursor = 0;
  ctx->outputPart.encodedEnd = 0;
  ctx->outputPart.translatedEnd =
      ctx->outputPart.translatedEnd > ready ? uint32_t(ctx->outputPart.translatedEnd - ready) : 0;
  ctx->outputPart.finalPart = 0;
  return NN_OK;
}
