#include "richtext/engine/textreplace.h"

#include <cstring>
#include <string>

#include "host/textmatch.h"
#include "lsxsessi.h"
#include "richtext/engine/rtproc.h"
#include "rtchunk.h"

uint32_t TextReplaceMatches(const char* text, uint32_t length, RTProcessContext* ctx) {
  if (!ctx || !ctx->Session) return kTextReplaceFailed;
  char* out = ctx->Session->OptionValue;
  out[0] = 0;
  if (!ctx->Text2 || (!text && length)) return kTextReplaceFailed;
  // The method frame passes the find length as the first number (the
  // replacement's length is the sub-code, the scope the second number).
  uint32_t findLen = ctx->Number1 ? ctx->Number1 : uint32_t(std::strlen(ctx->Text2));
  const char* replace = ctx->Text1 ? ctx->Text1 : "";
  uint32_t replaceLen = ctx->Text1 ? ctx->SubCode : 0;
  kv::TextMatchOptions options;
  if (const TorvoRTChunk* chunk = ctx->Chunk) {
    options.accentSensitive = chunk->AccentSensitive != 0;
    options.caseSensitive = chunk->CaseSensitive != 0;
    options.regularExpression = chunk->RegularExpression != 0;
    options.wordBoundaries = chunk->SearchWordBoundaries != 0;
  }
  options.wildcards = ctx->TextWildcards != 0;
  std::string result;
  if (kv::TextReplaceAll(text ? text : "", length, ctx->Text2, findLen, replace, replaceLen,
                         options, &result) != NN_OK ||
      result.size() >= sizeof ctx->Session->OptionValue)
    return kTextReplaceFailed;
  std::memcpy(out, result.data(), result.size());
  out[result.size()] = 0;
  return uint32_t(result.size());
}
