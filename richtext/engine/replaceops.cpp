// Text replacement in the chunk's records (2392, 2399): text runs, the texts
// and formulas of hotspots, buttons, section titles and captions, hide-when
// formulas and URLs, as the scope bits allow; the find-only walk (2398); and
// plain text turned into document links (2385).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/textmatch.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/chunk/finders.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kSigText = 0xFF85;
constexpr uint32_t kTextFixed = kv::cd::host::kTextFixed;

enum : uint32_t {
  kScopeText = 1,
  kScopeNonText = 2,
  kScopeFormula = 4,
  kScopeHideWhen = 8,
  kScopeUrl = 16,
};

using kv::cd::U16;
using kv::cd::U32;
void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

// The caller's lengths, each clamped to its text: the find text (first
// number, 0 meaning its own length) and the replacement (sub-code).
uint32_t FindLength(const RTProcessContext* ctx) {
  if (!ctx->Text2) return 0;
  uint32_t own = uint32_t(std::strlen(ctx->Text2));
  return ctx->Number1 && ctx->Number1 < own ? ctx->Number1 : own;
}
uint32_t ReplacementLength(const RTProcessContext* ctx) {
  return ctx->Text1 ? uint32_t(strnlen(ctx->Text1, ctx->SubCode)) : 0;
}

// The chunk's search options; wildcards are the call's own.
kv::TextMatchOptions SearchOptions(const RTProcessContext* ctx) {
  kv::TextMatchOptions o;
  if (ctx->Chunk) o = ChunkSearchOptions(ctx->Chunk);
  o.wildcards = ctx->TextWildcards != 0;
  return o;
}

// The new text for text[0, n): true with the result when something changed.
bool ReplaceText(const char* text, uint32_t n, RTProcessContext* ctx, std::string* result) {
  std::string out;
  if (kv::TextReplaceAll(text, n, ctx->Text2, FindLength(ctx), ctx->Text1 ? ctx->Text1 : "",
                         ReplacementLength(ctx), SearchOptions(ctx), &out) != NN_OK)
    return false;
  if (out.size() == n && std::memcmp(out.data(), text, n) == 0) return false;
  *result = std::move(out);
  return true;
}

// The same inside a compiled formula: to text, replaced, compiled again.
// False (the record stays) when nothing changed or a platform call failed.
bool ReplaceFormula(const uint8_t* compiled, uint32_t n, RTProcessContext* ctx,
                    std::string* result) {
  if (n == 0 || n > 0xFFFF) return false;
  NnHandle hText = 0;
  uint16_t textLen = 0;
  if (NnFormulaToText(compiled, uint16_t(n), &hText, &textLen) != 0) return false;
  std::string source;
  if (const char* p = static_cast<const char*>(NnMemLock(hText))) {
    source.assign(p, textLen);
    NnMemUnlock(hText);
  }
  NnMemFree(hText);
  std::string replaced;
  if (source.empty() || !ReplaceText(source.data(), uint32_t(source.size()), ctx, &replaced) ||
      replaced.size() > 0xFFFF)
    return false;
  NnHandle hFormula = 0;
  uint16_t compiledLen = 0, errOff = 0, errLen = 0;
  if (NnFormulaCompile(replaced.data(), uint16_t(replaced.size()), &hFormula, &compiledLen,
                       &errOff, &errLen) != 0)
    return false;
  bool ok = false;
  if (const char* p = static_cast<const char*>(NnMemLock(hFormula))) {
    result->assign(p, compiledLen);
    NnMemUnlock(hFormula);
    ok = true;
  }
  NnMemFree(hFormula);
  return ok;
}

// Puts `data` in place of record[off, off + n); `lengthField` (0 for none)
// is a u16 offset that receives the new data length. The record is emitted
// changed; the old one's place in the output goes to it.
NnStatus EmitWithNewData(const uint8_t* rec, uint16_t sig, uint32_t len, uint32_t off, uint32_t n,
                         const std::string& data, uint32_t lengthField, RTProcessContext* ctx,
                         RecordEmission* out) {
  uint32_t newLen = len - n + uint32_t(data.size());
  if (newLen > kMaxRecordLength || (lengthField && data.size() > 0xFFFF))
    return NN_ERR_CD_STRUCTURE;
  auto* copy = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, newLen, false));
  if (!copy) return NN_ERR_MEMORY;
  std::memcpy(copy, rec, off);
  std::memcpy(copy + off, data.data(), data.size());
  std::memcpy(copy + off + data.size(), rec + off + n, len - off - n);
  if (!kv::cd::SetHostRecordLength(copy, newLen, newLen)) {
    PoolFree(ctx->Session, copy);
    return NN_ERR_CD_STRUCTURE;
  }
  if (lengthField) Put16(copy + lengthField, uint16_t(data.size()));
  out->data = copy;
  out->signature = sig;
  out->length = newLen;
  out->replacement = copy;
  ctx->Item->modified = 1;
  return 0;
}

// Replaces in record[off, off + n): a text, or a compiled formula.
NnStatus ReplaceIn(const uint8_t* rec, uint16_t sig, uint32_t len, uint32_t off, uint32_t n,
                   bool formula, uint32_t lengthField, RTProcessContext* ctx,
                   RecordEmission* out) {
  if (off > len || n > len - off) return 0;
  std::string result;
  bool changed = formula ? ReplaceFormula(rec + off, n, ctx, &result)
                         : ReplaceText(reinterpret_cast<const char*>(rec) + off, n, ctx, &result);
  if (!changed) return 0;
  return EmitWithNewData(rec, sig, len, off, n, result, lengthField, ctx, out);
}

// ---- text runs ------------------------------------------------------------------
//
// A run is a stretch of consecutive text records (0xFF85, with the text
// effects 0xFFC3 among them) in any fonts. Its records are gathered as the
// walk delivers them and replaced as one text when the run ends, so that a
// match may span records. Each record keeps its font and takes the new text
// of its own stretch; a replacement goes where its match begins.

bool IsRunRecord(uint16_t sig) { return sig == kSigText || sig == 0xFFC3; }

std::string_view RecordText(const RTRecordNode* n) {
  if (n->signature != kSigText || n->length <= kTextFixed) return {};
  return {reinterpret_cast<const char*>(n->data) + kTextFixed, n->length - kTextFixed};
}

NnStatus EmitRunText(const std::string& text, uint32_t font, RTProcessContext* ctx) {
  if (!text.empty())
    return EmitTextRecord(text.data(), uint32_t(text.size()), &font, &ctx->Compose);
  uint8_t empty[kTextFixed] = {0x85, 0xFF, uint8_t(kTextFixed), 0};
  std::memcpy(empty + kv::cd::host::kTextFont, &font, 4);
  return AppendRecord(empty, kSigText, kTextFixed, &ctx->Compose);
}

NnStatus FlushRun(RTProcessContext* ctx) {
  TableTextOpsState& t = ctx->TableText;
  const RTRecordNode* first = t.RunFirst;
  const uint32_t count = t.RunCount;
  t.RunFirst = nullptr;
  t.RunCount = 0;
  if (!first || !count) return 0;
  std::string joined;
  const RTRecordNode* n = first;
  for (uint32_t i = 0; i < count && n; ++i, n = n->next) joined.append(RecordText(n));
  std::vector<std::pair<uint32_t, uint32_t>> matches;
  NnStatus st = kv::TextFindAllMatches(joined.data(), uint32_t(joined.size()), ctx->Text2,
                                       FindLength(ctx), SearchOptions(ctx), &matches);
  if (st) return st;
  const char* replace = ctx->Text1 ? ctx->Text1 : "";
  const uint32_t replaceLen = ReplacementLength(ctx);
  uint32_t at = 0;  // start of the current record's stretch in the joined text
  bool wroteText = false;
  n = first;
  for (uint32_t i = 0; i < count && n; ++i, n = n->next) {
    const uint32_t size = uint32_t(RecordText(n).size());
    const uint32_t a = at, b = at + size;
    at = b;
    if (matches.empty() || n->signature != kSigText || n->length <= kTextFixed) {
      st = AppendRecord(n->data, n->signature, n->length, &ctx->Compose);
      if (st) return st;
      continue;
    }
    std::string text;
    uint32_t pos = a;
    for (const auto& m : matches) {
      if (m.second <= a) continue;
      if (m.first >= b) break;
      if (m.first > pos) text.append(joined, pos, m.first - pos);
      if (m.first >= a) text.append(replace, replaceLen);
      pos = std::max(pos, std::min(m.second, b));
    }
    if (pos < b) text.append(joined, pos, b - pos);
    const bool last = i + 1 == count || !n->next;
    // A record whose whole text went is left out, unless the run would be
    // left without any text record.
    if (text.empty() && (wroteText || !last)) continue;
    st = EmitRunText(text, kv::cd::U32(n->data, n->length, kv::cd::host::kTextFont), ctx);
    if (st) return st;
    wroteText = true;
  }
  if (!matches.empty()) ctx->Item->modified = 1;
  return 0;
}

// Takes a record of a run into the gathered stretch (it is written when the
// run ends); false when the record cannot be gathered.
bool GatherRunRecord(const uint8_t* data, RTProcessContext* ctx, RecordEmission* out) {
  TableTextOpsState& t = ctx->TableText;
  const RTRecordNode* node = ctx->CurrentNode;
  if (!node || node->data != data) return false;
  if (t.RunCount) {
    const RTRecordNode* last = t.RunFirst;
    for (uint32_t i = 1; i < t.RunCount && last; ++i) last = last->next;
    if (!last || last->next != node) return false;
  } else {
    t.RunFirst = node;
  }
  ++t.RunCount;
  out->length = 0;
  return true;
}

NnStatus ReplaceRecord(const uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                       RecordEmission* out) {
  const uint32_t scope = ctx->Number2 ? ctx->Number2 : kScopeText;
  if ((scope & kScopeText) && IsRunRecord(sig)) {
    if (GatherRunRecord(data, ctx, out)) return 0;
    NnStatus st = FlushRun(ctx);  // the record starts a run of its own
    if (st == 0 && GatherRunRecord(data, ctx, out)) return 0;
    return st;
  }
  if (NnStatus st = FlushRun(ctx)) return st;
  switch (sig) {
    case 0xFFA9:
    case 0xFFAD: {
      uint16_t type = U16(data, len, kv::cd::host::kHotspotType);
      uint32_t flags = U32(data, len, kv::cd::host::kHotspotFlags);
      uint32_t n = U16(data, len, kv::cd::host::kHotspotDataLength);
      constexpr uint32_t off = kv::cd::host::kHotspotFixed;
      constexpr uint32_t lf = kv::cd::host::kHotspotDataLength;
      if ((scope & kScopeUrl) && type == 11 && (flags & 0x1000) && !(flags & 0x10))
        return ReplaceIn(data, sig, len, off, n, false, lf, ctx, out);
      if ((scope & kScopeNonText) && (type == 1 || type == 11 || type == 22) &&
          !(flags & (0x1000 | 0x10)))
        return ReplaceIn(data, sig, len, off, n, false, lf, ctx, out);
      if ((scope & kScopeFormula) && (type == 3 || (flags & 0x10)))
        return ReplaceIn(data, sig, len, off, n, true, lf, ctx, out);
      return 0;
    }
    case 0xFFAC: {
      uint32_t flags = U32(data, len, 4);
      uint32_t off = (flags & 0x4000000) ? 14 : 12;
      bool formula = (flags & 0x2000) != 0;
      if (len < off) return 0;
      if ((formula && (scope & kScopeFormula)) || (!formula && (scope & kScopeNonText)))
        return ReplaceIn(data, sig, len, off, len - off, formula, 0, ctx, out);
      return 0;
    }
    case 0xFFBB:
      if (!(scope & kScopeHideWhen) || len < 14) return 0;
      return ReplaceIn(data, sig, len, 14, len - 14, true, 0, ctx, out);
    case 0xFFAB:
      if (!(scope & kScopeNonText) || len < 16) return 0;
      return ReplaceIn(data, sig, len, 16, len - 16, false, 0, ctx, out);
    case 0xFFE3: {
      // The label is replaced in place; one that would pass its record's 127
      // characters fails the call rather than be cut.
      constexpr uint32_t kMaxLabel = 127;
      if (!(scope & kScopeNonText) || len <= 4) return 0;
      uint32_t n = 0;
      while (4 + n < len && data[4 + n]) ++n;
      std::string result;
      if (!ReplaceText(reinterpret_cast<const char*>(data) + 4, n, ctx, &result)) return 0;
      if (result.size() > kMaxLabel) return NN_ERR_INVALID_ARG;
      uint32_t room = len - 4;
      auto* copy = static_cast<uint8_t*>(POOL_ALLOC(ctx->Session, len, false));
      if (!copy) return NN_ERR_MEMORY;
      std::memcpy(copy, data, len);
      uint32_t keep = uint32_t(result.size()) < room ? uint32_t(result.size()) : room - 1;
      std::memcpy(copy + 4, result.data(), keep);
      // The rest of the old label goes: zero up to the old text's end.
      for (uint32_t i = 4 + keep; i < 4 + n + 1 && i < len; ++i) copy[i] = 0;
      out->data = copy;
      out->replacement = copy;
      ctx->Item->modified = 1;
      return 0;
    }
    case 0xFF5A:
    case 0xFF78:
    case 0xFF71:
    case 0xFFF6: {
      if (U16(data, len, 8) != 1 || !(scope & (kScopeNonText | kScopeUrl))) return 0;
      uint32_t off = 28 + uint32_t(U16(data, len, 14)) + U16(data, len, 16);
      uint32_t n = U16(data, len, 12);
      bool formula = (U32(data, len, 4) & 1) != 0;
      return ReplaceIn(data, sig, len, off, n, formula, 12, ctx, out);
    }
    default:
      return 0;
  }
}

// ---- 2398 -------------------------------------------------------------------

void FindInTextRun(const uint8_t* data, uint32_t len, RTProcessContext* ctx) {
  if (len <= kTextFixed) return;
  const char* text = reinterpret_cast<const char*>(data) + kTextFixed;
  const uint32_t n = len - kTextFixed;
  const uint32_t findLen = FindLength(ctx);
  kv::TextMatchOptions o = SearchOptions(ctx);
  LSXLsiSession* s = ctx->Session;
  uint32_t from = 0;
  while (from < n) {
    uint32_t matchLen = 0;
    int32_t pos = kv::TextFindMatchFrom(text, n, from, ctx->Text2, findLen, o, &matchLen);
    if (pos < 0 || uint32_t(pos) < from || matchLen == 0) break;
    uint32_t copy = findLen < n - uint32_t(pos) ? findLen : n - uint32_t(pos);
    if (s->MessageTextLength + copy >= kMessageTextSize) break;
    std::memcpy(s->MessageText + s->MessageTextLength, text + pos, copy);
    s->MessageTextLength = uint16_t(s->MessageTextLength + copy);
    s->MessageText[s->MessageTextLength] = 0;
    ++s->globals->FoundCount;
    ctx->TargetDone = 1;
    from = uint32_t(pos) + matchLen;
  }
}

// ---- 2385 -------------------------------------------------------------------

char QuoteFor(const std::string& text) {
  for (char q : {'\'', '"', '|'})
    if (text.find(q) == std::string::npos) return q;
  return '~';
}

NnStatus LinkMatches(const uint8_t* data, uint32_t len, RTProcessContext* ctx,
                     RecordEmission* out) {
  if (len <= kTextFixed || ctx->HotspotDepth > 0) return 0;
  const char* text = reinterpret_cast<const char*>(data) + kTextFixed;
  const uint32_t n = len - kTextFixed;
  const uint32_t findLen = FindLength(ctx);
  kv::TextMatchOptions o = SearchOptions(ctx);
  uint32_t font = U32(data, len, kv::cd::host::kTextFont);
  uint32_t from = 0, written = 0;
  bool any = false;
  while (from < n) {
    uint32_t matchLen = 0;
    int32_t pos = kv::TextFindMatchFrom(text, n, from, ctx->Text2, findLen, o, &matchLen);
    if (pos < 0 || uint32_t(pos) < from || matchLen == 0 || matchLen > n - uint32_t(pos)) break;
    NnStatus st = 0;
    if (uint32_t(pos) > written)
      st = EmitTextRecord(text + written, uint32_t(pos) - written, &font, &ctx->Compose);
    if (st) return st;
    std::string match(text + pos, matchLen);
    char q = QuoteFor(match);
    std::string options = std::string("Text=") + q + match + q;
    if (ctx->Text1 && *ctx->Text1) options += std::string(" ") + ctx->Text1;
    st = ComposeDocLink(options.c_str(), ctx->Chunk ? ctx->Chunk->linkKind : 0, ctx, 1);
    if (st) return st;
    any = true;
    written = from = uint32_t(pos) + matchLen;
  }
  if (!any) return 0;
  if (written < n) {
    NnStatus st = EmitTextRecord(text + written, n - written, &font, &ctx->Compose);
    if (st) return st;
  }
  out->length = 0;
  ctx->Item->modified = 1;
  return 0;
}

// ---- the family ---------------------------------------------------------------

bool ReplaceRecordBlock(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                        RecordEmission* out, NnStatus* status) {
  const uint16_t code = ctx->OperationCode;
  if (code != 2392 && code != 2399 && code != 2398 && code != 2385) return false;
  *status = 0;
  if (!ctx->Text2 || FindLength(ctx) < 1) return true;
  switch (code) {
    case 2392:
    case 2399:
      *status = ReplaceRecord(data, sig, len, ctx, out);
      break;
    case 2398:
      if (sig == kSigText) FindInTextRun(data, len, ctx);
      break;
    case 2385:
      if (sig == kSigText) *status = LinkMatches(data, len, ctx, out);
      break;
    default:
      break;
  }
  if (*status && out->replacement) {
    PoolFree(ctx->Session, out->replacement);
    out->replacement = nullptr;
  }
  return true;
}

// A gathered run is written when the element ends.
bool ReplaceElementEnd(uint8_t*, uint16_t, uint32_t, RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != 2392 && ctx->OperationCode != 2399) return false;
  *status = FlushRun(ctx);
  return true;
}

bool ReplacePostWalk(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != 2392 && ctx->OperationCode != 2399) return false;
  *status = FlushRun(ctx);
  return true;
}

// A search that cannot run (an invalid regular expression) is refused
// before anything is written, whatever the scope.
bool ReplacePreWalk(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != 2392 && ctx->OperationCode != 2399) return false;
  *status = 0;
  if (ctx->Text2 && FindLength(ctx) > 0) {
    std::vector<std::pair<uint32_t, uint32_t>> none;
    *status =
        kv::TextFindAllMatches("", 0, ctx->Text2, FindLength(ctx), SearchOptions(ctx), &none);
  }
  return true;
}

bool ReplaceSetup(RTProcessContext* ctx, NnStatus* status) {
  if (ctx->OperationCode != 2398) return false;
  // The matches of this call are gathered afresh.
  ctx->Session->MessageTextLength = 0;
  ctx->Session->MessageText[0] = 0;
  *status = 0;
  return true;
}

const OperationFamily kReplacements = {"text replacement", ReplaceSetup,     ReplacePreWalk,
                                       nullptr,            ReplaceRecordBlock, ReplaceElementEnd,
                                       ReplacePostWalk};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kReplacements);
