// Operation 2386: link matching. Finds the keys of the session's
// LinkMatchContext in delimited text runs and performs one action per match
// (a document link, a URL link or popup, appended, inserted or replacing
// content, a highlight, or a keyword collected), as the sub-code asks.
#include "richtext/engine/matchops.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "host/fonts.h"
#include "host/options.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/linkmatch.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

thread_local char MatchKeyBuffer[kMatchKeyMax + 1];
thread_local uint32_t MatchedNoteId = 0;
thread_local uint32_t MatchPassChanged = 0;

namespace {

constexpr uint16_t kSigText = 0xFF85;
constexpr uint32_t kFixed = kv::cd::host::kTextFixed;  // characters start here

bool IsLetter(uint8_t c) { return std::isalpha(c) != 0; }
uint8_t Lower(uint8_t c) { return uint8_t(std::tolower(c)); }

// True when `text` (n bytes) holds `part` (k bytes) anywhere.
bool Holds(const uint8_t* text, uint32_t n, const char* part, uint32_t k) {
  if (k == 0 || n < k) return false;
  for (uint32_t i = 0; i + k <= n; ++i)
    if (std::memcmp(text + i, part, k) == 0) return true;
  return false;
}

bool SameIgnoringCase(const uint8_t* a, const char* b, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    if (Lower(a[i]) != Lower(uint8_t(b[i]))) return false;
  return true;
}

constexpr auto ReadU32At = kv::cd::U32;

}  // namespace

// ---- shared helpers ------------------------------------------------------------

char* MatchedTextBuffer() {
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) buffer.reset(new (std::nothrow) char[kMatchedTextSize]);
  return buffer.get();
}

ComposeMark MarkComposition(const RTProcessContext* ctx) {
  ComposeMark m;
  const ComposeContext& c = ctx->Compose;
  m.last = c.newList ? c.newList->last : nullptr;
  m.composedCount = c.composedCount;
  m.hotspotOpen = c.hotspotOpen;
  m.linkOpen = c.linkOpen;
  m.attachmentHotspot = c.attachmentHotspot;
  return m;
}

void RollBackComposition(RTProcessContext* ctx, const ComposeMark& mark) {
  ComposeContext& c = ctx->Compose;
  if (c.newList) {
    // The records' bytes stay in the segment buffer, unused; only the nodes go.
    while (c.newList->last && c.newList->last != mark.last)
      RecordListUnlink(ctx->Session, c.newList, c.newList->last);
  }
  c.composedCount = mark.composedCount;
  c.hotspotOpen = mark.hotspotOpen;
  c.linkOpen = mark.linkOpen;
  c.attachmentHotspot = mark.attachmentHotspot;
}

void TrackHotspotState(uint16_t sig, RTProcessContext* ctx) {
  if (ctx->WriteMode) return;  // the appender keeps it
  ComposeContext& c = ctx->Compose;
  switch (sig) {
    case 0xFFAD: c.linkOpen = 1; break;
    case 0xFFA9: case 0xFF7E: case 0xFF74: c.hotspotOpen = 1; break;
    case 0xAE: c.linkOpen = 0; break;
    case 0xAA: case 0x7F: c.hotspotOpen = 0; break;
    default: break;
  }
}

bool InsideHotspot(const RTProcessContext* ctx) {
  return ctx->Compose.hotspotOpen || ctx->Compose.linkOpen;
}

bool WrittenByMatching(const RTProcessContext* ctx) {
  return ctx->CurrentNode && (ctx->CurrentNode->flags & kNodeBuiltByEngine);
}

AdoptScope::AdoptScope(RTProcessContext* ctx)
    : flag_(&ctx->Session->globals->adoptFlag), saved_(*flag_) {
  *flag_ = 1;
}
AdoptScope::~AdoptScope() { *flag_ = saved_; }

bool EvaluateComputationToText(NnHandle hCompute, NnHandle hNote, uint32_t maximum,
                               std::string* out) {
  out->clear();
  if (!hCompute) return false;
  NnHandle hResult = 0;
  uint32_t resultLen = 0;
  if (NnComputeEvaluate(hCompute, hNote, &hResult, &resultLen) != NN_OK || !hResult) return false;
  bool known = true;
  const uint8_t* v = static_cast<const uint8_t*>(NnMemLock(hResult));
  uint32_t size = NnMemSize(hResult);
  if (resultLen < size) size = resultLen;
  if (v && size >= 2) {
    uint16_t type = uint16_t(v[0] | v[1] << 8);
    const uint8_t* p = v + 2;
    const uint32_t n = size - 2;
    char num[64];
    auto timeText = [](const uint8_t* at, std::string* s) {
      tagTIMEDATE td;
      std::memcpy(&td.Innards[0], at, 4);
      std::memcpy(&td.Innards[1], at + 4, 4);
      char buf[81];
      uint16_t len = 0;
      if (NnTimeToText(&td, buf, sizeof buf, &len) == NN_OK) s->append(buf, len);
    };
    switch (type) {
      case NN_TYPE_TEXT:
        out->assign(reinterpret_cast<const char*>(p), n);
        break;
      case NN_TYPE_TEXT_LIST: {
        uint16_t count = 0;
        if (NnTextListCountChecked(p, n, &count) != NN_OK) break;
        for (uint16_t i = 0; i < count; ++i) {
          const char* t = nullptr;
          uint16_t tl = 0;
          if (NnTextListGetEntryChecked(p, n, i, &t, &tl) != NN_OK) break;
          if (i) out->push_back(';');
          out->append(t, tl);
        }
        break;
      }
      case NN_TYPE_NUMBER:
        if (n >= 8) {
          double d;
          std::memcpy(&d, p, 8);
          std::snprintf(num, sizeof num, "%g", d);
          out->assign(num);
        }
        break;
      case NN_TYPE_NUMBER_RANGE:
        if (n >= 12 && (p[0] | p[1] << 8) > 0) {
          double d;
          std::memcpy(&d, p + 4, 8);
          std::snprintf(num, sizeof num, "%g", d);
          out->assign(num);
        }
        break;
      case NN_TYPE_TIME:
        if (n >= 8) timeText(p, out);
        break;
      case NN_TYPE_TIME_RANGE: {
        if (n < 4) break;
        const uint32_t times = uint32_t(p[0] | p[1] << 8), ranges = uint32_t(p[2] | p[3] << 8);
        const uint32_t avail = (n - 4) / 8;
        uint32_t i = 0;
        for (; i < times && i < avail; ++i) {
          if (i) out->push_back(';');
          timeText(p + 4 + 8 * i, out);
        }
        for (uint32_t r = 0; r < ranges && 4 + 8 * (times + 2 * r + 2) <= n; ++r) {
          tagTIMEDATE a, b;
          const uint8_t* at = p + 4 + 8 * (times + 2 * r);
          std::memcpy(&a, at, 8);
          std::memcpy(&b, at + 8, 8);
          char buf[164];
          uint16_t len = 0;
          if (NnTimeRangeToText(&a, &b, buf, sizeof buf, &len) == NN_OK) {
            if (!out->empty()) out->push_back(';');
            out->append(buf, len);
          }
        }
        break;
      }
      default:
        known = false;  // an error value, or a type no text stands for
        break;
    }
  } else {
    known = false;
  }
  if (v) NnMemUnlock(hResult);
  NnMemFree(hResult);
  if (!known) out->clear();
  if (out->size() > maximum) out->resize(maximum);
  return known;
}

namespace {

// ---- set-up of the matching operations (2386, 2816) ---------------------------

bool MatchSetup(RTProcessContext* ctx, NnStatus* status) {
  const ChunkOperationCode code = ctx->OperationCode;
  if (code != 2386 && code != 2816) return false;
  *status = 0;
  SessionGlobals* g = ctx->Session->globals;
  TorvoRTItem* item = ctx->Item;
  ctx->LinkMatch = g->linkMatch;
  // The delimiters and the font pattern come with the matching's properties.
  const char* props = g->propertiesText ? g->propertiesText : g->optionString;
  char* value = ctx->Session->OptionValue;
  value[0] = 0;
  if (GetOptionValue(props, "WikiDelimiters=", value) && std::strlen(value) == 4) {
    ctx->WikiOpen[0] = value[0];
    ctx->WikiOpen[1] = value[1];
    ctx->WikiClose[0] = value[2];
    ctx->WikiClose[1] = value[3];
  }
  value[0] = 0;
  if (GetOptionValue(props, "MatchFont=", value) && value[0]) {
    FontState pattern;
    uint32_t mask = 0;
    if (ParseFontSpec(value, nullptr, item, &pattern, &mask) == 0) {
      ctx->MatchFontPattern = pattern;
      ctx->MatchFontMask = mask;
    }
  }
  if (ctx->WriteMode) {
    const char* style = nullptr;
    if (g->linkStyleSwitch)
      style = item->linkStyle;
    else if (ctx->SubCode == 2386 || ctx->SubCode == 2816 || ctx->SubCode == 2819)
      style = item->linkStyle2;
    else
      style = item->highlightStyle;
    if (!style || !*style) style = g->linkStyleSwitch || ctx->SubCode == 2386 ||
                                           ctx->SubCode == 2816 || ctx->SubCode == 2819
                                       ? "BLUE +UNDERLINE"
                                       : "RED +BOLD";
    FontState state;
    uint32_t mask = 0;
    if (ParseFontSpec(style, nullptr, item, &state, &mask) == 0) {
      ctx->Font = state;
      ctx->FontMask = mask;
      ctx->FontGiven = mask != 0;
    }
  }
  return true;
}

// ---- one text run -------------------------------------------------------------

struct Run {
  const uint8_t* data;
  uint32_t R;        // record length: characters are data[kFixed .. R)
  uint32_t font;
  uint32_t openLen, closeLen;
};

// The word starts of each letter in a run, in order, with a cursor per
// letter that only moves forward: after a match the letter index is brought
// past it without reading the run again, so that a run costs time in
// proportion to its length however many matches it holds.
class WordStarts {
 public:
  WordStarts(const Run& run, uint32_t from, uint32_t last) {
    for (uint32_t p = from; p <= last && p < run.R; ++p) {
      const uint8_t c = run.data[p];
      if (!IsLetter(c) || (p > kFixed && IsLetter(run.data[p - 1]))) continue;
      const uint8_t l = Lower(c);
      if (l >= 'a' && l <= 'z') starts_[l - 'a'].push_back(p);
    }
  }
  // The letter index: per letter its first word start from `from` up to
  // `last`, else `none`.
  void Fill(LinkMatchContext* lm, uint32_t from, uint32_t last, uint16_t none) {
    for (int i = 0; i < 26; ++i) {
      const std::vector<uint32_t>& at = starts_[i];
      size_t& c = cursor_[i];
      while (c < at.size() && at[c] < from) ++c;
      lm->LetterIndex[i] = c < at.size() && at[c] <= last ? uint16_t(at[c]) : none;
    }
  }

 private:
  std::vector<uint32_t> starts_[26];
  size_t cursor_[26] = {};
};

NnStatus WriteText(RTProcessContext* ctx, const Run& run, uint32_t from, uint32_t to) {
  if (!ctx->WriteMode || to <= from) return 0;
  uint32_t font = run.font;
  return EmitTextRecord(reinterpret_cast<const char*>(run.data + from), to - from, &font,
                        &ctx->Compose);
}

// Copies the rich text of the matched document's item named by the result
// field into the output.
NnStatus CopyMatchedItem(RTProcessContext* ctx) {
  SessionGlobals* g = ctx->Session->globals;
  if (!ctx->Text1 || !*ctx->Text1 || !g->hMatchedNote) return NN_ERR_ITEM_NOT_FOUND;
  NnStatus st = 0;
  RecordList* list = RecordListLoadFromNote(ctx->Session, g->hMatchedNote, ctx->Text1, &st);
  if (!list) return st ? st : NnStatus(NN_ERR_ITEM_NOT_FOUND);
  if (!list->first) st = NN_ERR_ITEM_NOT_FOUND;
  for (RTRecordNode* n = list->first; st == 0 && n; n = n->next)
    st = AppendRecord(n->data, n->signature, n->length, &ctx->Compose);
  RecordListFreeWithAllocator(ctx->Session, list);
  return st;
}

bool FieldIsFormula(const char* field) {
  return field && std::strpbrk(field, " @\"+") != nullptr;
}

// Writes the result for Append, Insert and Replace.
NnStatus WriteResult(RTProcessContext* ctx, const Run& run) {
  if (!ctx->WriteMode) return 0;
  LSXLsiSession* s = ctx->Session;
  if (s->globals->resultFormula && FieldIsFormula(ctx->Text1)) {
    uint32_t font = run.font;
    return EmitTextRecord(s->ResultText, s->ResultTextLength, &font, &ctx->Compose);
  }
  RTRecordNode* savedNode = ctx->CurrentNode;
  const uint32_t savedNumber = ctx->RecordNumber;
  NnStatus st = CopyMatchedItem(ctx);
  ctx->CurrentNode = savedNode;
  ctx->RecordNumber = savedNumber;
  return st;
}

NnStatus AppendKeyword(RTProcessContext* ctx) {
  char* buffer = const_cast<char*>(ctx->Text2);
  if (!buffer) return 0;
  size_t have = strnlen(buffer, kKeywordBufferSize - 1);
  if (have >= kKeywordBufferLimit) return 0;
  char sep[kOptionValueMax + 1] = ",";
  const char* props = ctx->Session->globals->propertiesText;
  if (have) {
    GetOptionValue(props, "Separator=", sep);
    size_t n = std::strlen(sep);
    if (have + n >= kKeywordBufferSize) return 0;
    std::memcpy(buffer + have, sep, n);
    have += n;
  }
  size_t n = ctx->Session->ResultTextLength;
  if (have + n >= kKeywordBufferSize) n = kKeywordBufferSize - 1 - have;
  std::memcpy(buffer + have, ctx->Session->ResultText, n);
  buffer[have + n] = 0;
  return 0;
}

// The action of the sub-code for one match of `length` characters.
NnStatus PerformAction(RTProcessContext* ctx, const Run& run, uint32_t length) {
  LSXLsiSession* s = ctx->Session;
  SessionGlobals* g = s->globals;
  const uint32_t mode = ctx->SubCode;
  const char* props = g->propertiesText;
  const bool hasResultFormula = g->resultFormula != 0;
  const char* matched = MatchedTextBuffer();  // filled by PrepareResult
  uint32_t font = run.font;
  switch (mode) {
    case 2804:
      return AppendKeyword(ctx);
    case 2801: {
      NnStatus st = ctx->WriteMode ? EmitTextRecord(matched, length, &font, &ctx->Compose) : 0;
      return st ? st : WriteResult(ctx, run);
    }
    case 2803: {
      NnStatus st = WriteResult(ctx, run);
      if (st == 0 && ctx->WriteMode)
        st = EmitTextRecord(matched, length, &font, &ctx->Compose);
      return st;
    }
    case 2806:
      return WriteResult(ctx, run);
    case 2802: {
      if (!ctx->WriteMode) return 0;
      uint32_t color = 0;
      uint16_t highlight = 0;
      FontApplyChanges(&font, &color, &highlight, &ctx->Font, ctx->FontMask);
      bool colored = color != 0 || highlight != 0;
      NnStatus st = colored ? EmitBeginRecord(kSigText, 0, &ctx->Compose) : 0;
      if (st == 0) st = EmitTextRecord(s->ResultText, s->ResultTextLength, &font, &ctx->Compose);
      if (st == 0 && colored) st = EmitRecord8(210, color & 0xFFFFFF, highlight, &ctx->Compose);
      if (st == 0 && colored) st = EmitEndRecord(kSigText, 0, &ctx->Compose);
      return st;
    }
    default:
      break;
  }
  // Link (2386) and Popup (2805).
  if (!ctx->WriteMode) return 0;
  if (!hasResultFormula)
    return ComposeHypertextLink(MatchKeyBuffer, matched, MatchedNoteId, nullptr, ctx);
  char kind[kOptionValueMax + 1] = "URL";
  if (mode == 2805)
    std::strcpy(kind, "POPUP");
  else
    GetOptionValue(props, "Hotspot=", kind);
  if (strcasecmp(kind, "URL") != 0)
    return ComposePopup(matched, s->ResultText, props, ctx);
  // A sibling product's variant: a profile link named by the document.
  char twitterProps[128] = {};
  if (mode == 2386 && (!props || !*props) && g->hMatchedNote) {
    char ini[133] = {};
    char id[65] = {};
    if (NnIniGetText("Quillantor", ini, sizeof ini) && std::strncmp(ini, "Twitter", 7) == 0 &&
        NnItemGetText(g->hMatchedNote, "TwitterID", id, sizeof id) > 0)
      std::snprintf(twitterProps, sizeof twitterProps,
                    "HTMLClass='twitter-anywhere-user' HTMLName='%s'", id);
  }
  const char* savedOptions = ctx->Compose.optionString;
  if (twitterProps[0]) ctx->Compose.optionString = twitterProps;
  NnStatus st = ComposeLinkHotspot(matched, length, s->ResultText, s->ResultTextLength,
                                   ctx);
  ctx->Compose.optionString = savedOptions;
  return st;
}

// Step 4: the matched text, the key's document and the formulas' results.
// *evaluated is false when a formula did not give a value (its evaluation
// failed, or gave an error): the match then has no result to act with.
NnStatus PrepareResult(RTProcessContext* ctx, const Run& run, uint32_t p, uint32_t length,
                       bool* evaluated) {
  *evaluated = true;
  LSXLsiSession* s = ctx->Session;
  SessionGlobals* g = s->globals;
  char* matched = MatchedTextBuffer();
  if (!matched) return NN_ERR_MEMORY;
  if (length >= kMatchedTextSize) length = kMatchedTextSize - 1;
  std::memcpy(matched, run.data + p, length);
  matched[length] = 0;
  g->hMatchedNote = 0;
  if (g->resultFormula || g->propertiesFormula) {
    NnHandle hNote = 0;
    if (g->hDb && NnNoteOpen(g->hDb, MatchedNoteId, 0, &hNote) == NN_OK) g->hMatchedNote = hNote;
  }
  std::string text;
  if (g->propertiesFormula) {
    *evaluated = EvaluateComputationToText(g->propertiesFormula, g->hMatchedNote,
                                           kOptionValueMax, &text);
    char* copy = nullptr;
    if (!text.empty()) {
      copy = POOL_STRDUP(s, text.c_str());
      if (!copy) return NN_ERR_MEMORY;
    }
    if (g->propertiesText) PoolFree(s, g->propertiesText);
    g->propertiesText = copy;
  }
  s->ClearResultText();
  if (g->resultFormula) {
    if (!EvaluateComputationToText(g->resultFormula, g->hMatchedNote, kResultTextSize - 1, &text))
      *evaluated = false;
    s->SetResultText(text.data(), uint32_t(text.size()));
  } else {
    s->SetResultText(matched, length);
  }
  return 0;
}

void CloseMatchedNote(SessionGlobals* g) {
  if (g->hMatchedNote) NnNoteClose(g->hMatchedNote);
  g->hMatchedNote = 0;
}

NnStatus ScanRun(RTProcessContext* ctx, const Run& run, bool* consumed) {
  *consumed = false;
  LinkMatchContext* lm = ctx->LinkMatch;
  SessionGlobals* g = ctx->Session->globals;
  const uint32_t R = run.R;
  const uint32_t S = kFixed + run.openLen;
  const uint32_t shortest = lm->shortestKeyLength;
  uint32_t E = S;
  bool matched = false;
  const uint16_t none = uint16_t(R > 0xFFFF ? 0xFFFF : R);

  // A word can hold a key when the key ends before the close delimiter (the
  // run's own, until a match has taken it).
  WordStarts words(run, S, R >= shortest ? R - shortest : 0);
  words.Fill(lm, S, R >= shortest + run.closeLen ? R - shortest - run.closeLen : 0, none);

  uint32_t k = 0;  // the key's index over all lists
  for (uint32_t list = 0; list < kLinkMatchKeyLists && lm->keyLists[list]; ++list) {
    const void* entries = NnMemLock(lm->keyLists[list]);
    if (!entries) continue;
    const uint32_t size = NnMemSize(lm->keyLists[list]);
    uint16_t count = 0;
    if (NnTextListCountChecked(entries, size, &count) != NN_OK) count = 0;
    NnStatus failure = 0;
    for (uint16_t i = 0; i < count && !failure; ++i, ++k) {
      if (k >= lm->keyCount) break;
      const uint8_t first = k < kLinkMatchFirstLetters && lm->firstLetters ? lm->firstLetters[k] : 0;
      // Ends and substring keys may start inside a word: the first-letter
      // index (which lists word starts) neither skips nor places them.
      const bool inWord = lm->MatchMode == 3 || lm->MatchMode == 4;
      if (!inWord && first >= 'a' && first <= 'z' && lm->LetterIndex[first - 'a'] == none)
        continue;
      if (lm->matchedFlags && lm->matchedFlags[k] && lm->singleMatch) continue;
      const char* key = nullptr;
      uint16_t keyLen = 0;
      if (NnTextListGetEntryChecked(entries, size, i, &key, &keyLen) != NN_OK) continue;
      if (S + keyLen > R - run.closeLen) continue;
      const uint32_t L0 = keyLen > kMatchKeyMax ? kMatchKeyMax : keyLen;
      std::memcpy(MatchKeyBuffer, key, L0);
      MatchKeyBuffer[L0] = 0;
      if (L0 < 2) continue;
      const uint8_t k0 = Lower(uint8_t(MatchKeyBuffer[0]));
      uint32_t p = inWord ? E : (k0 >= 'a' && k0 <= 'z') ? lm->LetterIndex[k0 - 'a'] : S;
      if (p < S) p = S;
      while (p + L0 <= R) {
        if (Lower(run.data[p]) != k0 || !SameIgnoringCase(run.data + p, MatchKeyBuffer, L0)) {
          ++p;
          continue;
        }
        uint32_t L = L0;
        const bool notFirst = p > kFixed;
        bool refused = false;
        switch (lm->MatchMode) {
          case 4:
            break;
          case 2:
            if (notFirst && IsLetter(run.data[p - 1])) refused = true;
            else if (lm->replaceExtra)
              while (p + L < R && IsLetter(run.data[p + L])) ++L;
            break;
          case 3:
            if (p + L < R && IsLetter(run.data[p + L])) refused = true;
            else if (lm->replaceExtra)
              while (p > kFixed && p > S && p > E && IsLetter(run.data[p - 1])) {
                --p;
                ++L;
              }
            break;
          default:
            if ((p + L < R && IsLetter(run.data[p + L])) || (notFirst && IsLetter(run.data[p - 1])))
              refused = true;
            break;
        }
        if (refused) break;  // the next key follows
        MatchedNoteId = lm->noteIds && k < kLinkMatchNoteIdBlock / 4 ? lm->noteIds[k] : 0;
        bool evaluated = true;
        NnStatus st = PrepareResult(ctx, run, p, L, &evaluated);
        if (st) {
          CloseMatchedNote(g);
          failure = st;
          break;
        }
        // A formula without a value is a failed action: the run keeps its
        // text and the search goes on one character further.
        if (!evaluated) {
          CloseMatchedNote(g);
          ++p;
          continue;
        }
        // The text before the match is written first; a failed action takes
        // it back with its own records, for the next match or the rest of
        // the run to write.
        const uint32_t writtenTo = E;
        const ComposeMark start = MarkComposition(ctx);
        {
          AdoptScope adopt(ctx);
          if (E < p) {
            st = WriteText(ctx, run, E, p);
            if (st) {
              CloseMatchedNote(g);
              failure = st;
              break;
            }
            E = p;
          }
          g->MatchActionFlag = 1;
          st = PerformAction(ctx, run, L);
          g->MatchActionFlag = 0;
          if (st) {
            RollBackComposition(ctx, start);
            E = writtenTo;
          }
        }
        if (lm->matchedFlags) lm->matchedFlags[k] = 1;
        CloseMatchedNote(g);
        if (st) {
          ++p;  // a failed action: the search goes on one character further
          continue;
        }
        if (ctx->WriteMode && ctx->SubCode != 2804) ctx->Item->modified = 1;
        MatchPassChanged = 1;
        matched = true;
        E = p + L;
        // A close delimiter right after the key goes with it.
        if (run.closeLen && E + run.closeLen <= R &&
            std::memcmp(run.data + E, ctx->WikiClose, run.closeLen) == 0)
          E += run.closeLen;
        words.Fill(lm, E, R >= shortest ? R - shortest : 0, none);
        p = E;
      }
    }
    NnMemUnlock(lm->keyLists[list]);
    if (failure) return failure;
  }
  if (!matched) return 0;
  // The rest of the run, without a close delimiter that ends it: that one
  // closes the run's own opening, which went with the match. When the rest
  // opens a text of its own, the closing is that text's, and stays.
  uint32_t end = R;
  if (run.closeLen && E + run.closeLen <= R &&
      std::memcmp(run.data + R - run.closeLen, ctx->WikiClose, run.closeLen) == 0 &&
      !Holds(run.data + E, R - run.closeLen - E, ctx->WikiOpen, run.openLen))
    end = R - run.closeLen;
  if (ctx->WriteMode) {
    AdoptScope adopt(ctx);
    NnStatus st = WriteText(ctx, run, E, end);
    if (st) return st;
    *consumed = true;
  }
  return 0;
}

bool MatchRecord(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                 RecordEmission* out, NnStatus* status) {
  if (ctx->OperationCode != 2386) return false;
  *status = 0;
  TrackHotspotState(sig, ctx);
  LinkMatchContext* lm = ctx->LinkMatch;
  if (sig != kSigText || !lm || !data || WrittenByMatching(ctx)) return true;
  Run run{data, len, 0, uint32_t(std::strlen(ctx->WikiOpen)), uint32_t(std::strlen(ctx->WikiClose))};
  if (len < kFixed + run.openLen + run.closeLen + lm->shortestKeyLength) return true;
  if (InsideHotspot(ctx)) return true;
  if (run.openLen && std::memcmp(data + kFixed, ctx->WikiOpen, run.openLen) != 0) return true;
  run.font = ReadU32At(data, len, kv::cd::host::kTextFont);
  if (!FontMatches(&run.font, &ctx->MatchFontPattern, ctx->MatchFontMask)) return true;
  if (ctx->WriteMode) {
    // Untouched records before this one reach the output first.
    NnStatus st = FlushPendingRun(ctx, ctx->RecordNumber);
    if (st) {
      *status = st;
      return true;
    }
  }
  bool consumed = false;
  *status = ScanRun(ctx, run, &consumed);
  if (*status == 0 && consumed) out->length = 0;  // the run was written in pieces
  return true;
}

const OperationFamily kLinkMatching = {
    "link matching", MatchSetup, nullptr, nullptr, MatchRecord, nullptr, nullptr,
};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kLinkMatching)

// Stand-ins until the composition provides its composers; the composition's
// own definitions replace them at link time.
__attribute__((weak)) NnStatus ComposeHypertextLink(const char*, const char*, NOTEID, const char*,
                                                    RTProcessContext*) {
  return NN_ERR_INVALID_ARG;
}
__attribute__((weak)) NnStatus ComposeLinkHotspot(const char*, uint32_t, const char*, uint32_t,
                                                  RTProcessContext*) {
  return NN_ERR_INVALID_ARG;
}
__attribute__((weak)) NnStatus ComposePopup(const char*, const char*, const char*,
                                            RTProcessContext*) {
  return NN_ERR_INVALID_ARG;
}
__attribute__((weak)) NnStatus ComposeAttachmentIcon(const char*, const char*, const char*, int,
                                                     const char*, RTProcessContext*) {
  return NN_ERR_INVALID_ARG;
}
