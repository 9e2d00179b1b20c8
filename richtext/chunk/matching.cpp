// Link matching on a chunk: builds the session's key list from the documents
// of a view, reads the matching options and drives the engine's operation
// 2386 pass after pass until nothing more matches.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "collection.h"
#include "host/fonts.h"
#include "host/logging.h"
#include "host/noteops.h"
#include "host/options.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/engine/opcodes.h"
#include "richtext/item/linkmatch.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kStatusMissingArgument = 20017;
constexpr uint16_t kStatusFormula = 20014;
constexpr uint32_t kMaxTableIds = 16350;
constexpr uint32_t kKeyTextMax = 65341;
constexpr uint32_t kListBlockLimit = 65406;  // a key list holds at most this many bytes
constexpr uint32_t kMaxPasses = 50;
constexpr char kValueSeparator = '`';

bool IsFormulaText(const char* text) {
  return text && (text[0] == '"' || text[0] == '@' || text[0] == '(');
}

void TrimEnd(std::string* s) {
  while (!s->empty() && (s->back() == ' ' || s->back() == '\t' || s->back() == '\n' ||
                         s->back() == '\r'))
    s->pop_back();
}

void SendMessage(LSXLsiSession* session, const char* format, const char* name) {
  std::snprintf(session->MessageText, sizeof session->MessageText, format, name);
  session->MessageTextLength = uint16_t(std::strlen(session->MessageText));
  LogMessage(session, session->MessageText);
}

// Compiles formula text and starts a computation of it.
NnStatus CompileAndStart(const char* text, NnHandle* hCompute) {
  *hCompute = 0;
  const size_t len = std::strlen(text);
  if (len > 0xFFFF) return NN_ERR_FORMULA_SYNTAX;
  NnHandle hFormula = 0;
  uint16_t compiledLen = 0, errorOffset = 0, errorLength = 0;
  NnStatus st = NnFormulaCompile(text, uint16_t(len), &hFormula, &compiledLen, &errorOffset,
                                 &errorLength);
  if (st != NN_OK) return st;
  const void* compiled = NnMemLock(hFormula);
  st = compiled ? NnComputeStart(compiled, hCompute) : NnStatus(NN_ERR_BAD_HANDLE);
  if (compiled) NnMemUnlock(hFormula);
  NnMemFree(hFormula);
  return st;
}

void StopComputation(NnHandle* h) {
  if (*h) NnComputeStop(*h);
  *h = 0;
}

bool SameIgnoringCase(const char* a, const char* b) {
  return strcasecmp(a ? a : "", b ? b : "") == 0;
}

void CopyName(char (&slot)[256], const char* text) {
  std::snprintf(slot, sizeof slot, "%s", text ? text : "");
}

bool SameHour(const tagTIMEDATE& a, const tagTIMEDATE& b) {
  return (a.Innards[1] & 0xFFFFFF) == (b.Innards[1] & 0xFFFFFF) &&
         a.Innards[0] / 360000 == b.Innards[0] / 360000;
}

bool CacheTimeSet(const SessionGlobals* g) {
  return g->lookupBuildTime.Innards[0] || g->lookupBuildTime.Innards[1];
}

// The keys of the view's documents into the context (steps 10 to 12).
struct KeyBuilder {
  LSXLsiSession* session;
  LinkMatchContext* lm;
  uint32_t minLength;
  bool wordBoundaries;
  uint32_t listsUsed = 1;
  uint32_t total = 0;        // keys in the lists before the current one
  uint32_t currentCount = 0; // keys in the current list

  NnStatus Add(const char* text, uint32_t len, NOTEID id) {
    const uint32_t k = total + currentCount;
    if (k >= kLinkMatchFirstLetters || k >= kLinkMatchNoteIdBlock / 4) return 0;  // full
    NnHandle& list = lm->keyLists[listsUsed - 1];
    uint32_t size = NnMemSize(list);
    NnStatus st = size + 2 + len > kListBlockLimit
                      ? NnStatus(NN_ERR_MEMORY)
                      : NnTextListAddEntry(list, text, uint16_t(len), &size);
    if (st != NN_OK) {
      if (listsUsed >= kLinkMatchKeyLists) return 0;  // every list is full
      total += currentCount;
      currentCount = 0;
      NnHandle next = 0;
      uint32_t nextSize = 0;
      st = NnTextListAllocate(0, 0, &next, &nextSize);
      if (st != NN_OK) return st;
      lm->keyLists[listsUsed++] = next;
      st = NnTextListAddEntry(next, text, uint16_t(len), &nextSize);
      if (st != NN_OK) return st;
    }
    ++currentCount;
    const uint8_t c = uint8_t(text[0]);
    lm->firstLetters[k] = std::isalpha(c) ? uint8_t(std::tolower(c)) : 0;
    lm->noteIds[k] = id;
    if (lm->shortestKeyLength == 0 || len < lm->shortestKeyLength)
      lm->shortestKeyLength = uint16_t(len);
    return 0;
  }

  // Splits one document's key text at the value separator.
  NnStatus AddValues(std::string text, NOTEID id) {
    TrimEnd(&text);
    if (text.size() < minLength) return 0;
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find(kValueSeparator, start);
      if (end == std::string::npos) end = text.size();
      std::string piece = text.substr(start, end - start);
      if (piece.size() > kMatchKeyMax) piece.resize(kMatchKeyMax);
      TrimEnd(&piece);
      start = end + 1;
      if (piece.size() < minLength || piece.empty()) continue;
      if (wordBoundaries && (!std::isalnum(uint8_t(piece.front())) ||
                             !std::isalnum(uint8_t(piece.back()))))
        continue;
      NnStatus st = Add(piece.data(), uint32_t(piece.size()), id);
      if (st) return st;
    }
    return 0;
  }
};

bool YesOrNo(const std::string& v) { return !strcasecmp(v.c_str(), "Yes") || !strcasecmp(v.c_str(), "No"); }

// Every key of the matching's option string is one it reads, with a value it
// can use; a value it would read as another is refused. "WikiDelimiters="
// keeps its own rule (a length to ignore).
bool MatchOptionsUsable(const char* props, TorvoRTItem* item) {
  if (!OptionKeysAmong(props, {"MinLength", "WikiDelimiters", "MatchText", "ReplaceExtra",
                               "SingleMatch", "Separator", "Hotspot", "MatchFont"}))
    return false;
  std::string v;
  // A key is at most 132 characters: a longer least length would be read as
  // the default.
  if (GetOptionValueString(props, "MinLength=", &v) &&
      (v.empty() || v.size() > 3 || v.find_first_not_of("0123456789") != std::string::npos ||
       std::stoul(v) > 132))
    return false;
  if (GetOptionValueString(props, "MatchText=", &v)) {
    bool known = false;
    for (const char* word : {"Starts", "Ends", "Substr", "Whole", "Word"})
      known |= strncasecmp(v.c_str(), word, std::strlen(word)) == 0;
    if (!known) return false;
  }
  for (const char* key : {"ReplaceExtra=", "SingleMatch="})
    if (GetOptionValueString(props, key, &v) && !YesOrNo(v)) return false;
  if (GetOptionValueString(props, "Hotspot=", &v) && strcasecmp(v.c_str(), "URL") &&
      strcasecmp(v.c_str(), "Popup"))
    return false;
  FontState font;
  uint32_t mask = 0;
  return !GetOptionValueString(props, "MatchFont=", &v) || v.empty() ||
         ParseFontSpec(v.c_str(), nullptr, item, &font, &mask) == 0;
}

const char* MethodName(uint16_t mode) {
  switch (mode) {
    case 2801: return "AppendMatching";
    case 2802: return "HighlightMatching";
    case 2803: return "InsertMatching";
    case 2804: return "KeywordMatching";
    case 2805: return "PopupMatching";
    case 2806: return "ReplaceMatching";
    default: return "LinkMatching";
  }
}

}  // namespace

uint16_t TorvoRTChunk::LinkMatching(const char* server, const char* database, const char* view,
                                    const char* referenceField, const char* resultField,
                                    const char* properties, uint16_t mode) {
  if (!session || !session->globals || !item) return lastStatus = NN_ERR_INVALID_ARG;
  LSXLsiSession* s = session;
  SessionGlobals* g = s->globals;

  // 1.
  if (mode < 2801 || mode > 2806) mode = 2386;
  const char* name = MethodName(mode);
  char* keywords = nullptr;
  if (mode == 2804) {
    keywords = static_cast<char*>(POOL_ALLOC(s, kKeywordBufferSize, true));
    if (!keywords) return lastStatus = NN_ERR_MEMORY;
  }
  NnHandle hReference = 0;
  // Everything a failure before the passes must release.
  auto release = [&]() {
    StopComputation(&hReference);
    StopComputation(&g->resultFormula);
    StopComputation(&g->propertiesFormula);
    if (g->propertiesText) PoolFree(s, g->propertiesText);
    g->propertiesText = nullptr;
    if (keywords) PoolFree(s, keywords);
    keywords = nullptr;
  };
  auto refuse = [&](const char* format) {
    SendMessage(s, format, name);
    g->lookupBuildTime = {};
    release();
    return lastStatus = kStatusMissingArgument;
  };

  // 2.
  if (!database || !*database) return refuse("ZELKO: %s method passed an invalid database filepath.");
  if (!view || !*view) return refuse("ZELKO: %s method passed an invalid view name.");
  if (!referenceField || !*referenceField) return refuse("ZELKO: %s missing reference fieldname.");
  const bool hasResult = resultField && *resultField;
  // A chunk whose target the item does not hold has nothing to match.
  if (!Exists()) {
    release();
    return lastStatus = NN_ERR_ITEM_NOT_FOUND;
  }

  // A formula left by an earlier call that did not end is not ours to keep.
  StopComputation(&g->resultFormula);
  StopComputation(&g->propertiesFormula);
  if (g->propertiesText) PoolFree(s, g->propertiesText);
  g->propertiesText = nullptr;

  // 3.
  if (IsFormulaText(referenceField)) {
    NnStatus st = CompileAndStart(referenceField, &hReference);
    if (st != NN_OK) {
      SendMessage(s,
                  mode == 2386 ? "ZELKO: %s URL fieldname formula failed to compile."
                               : "ZELKO: %s result fieldname formula failed to compile.",
                  name);
      NnLogMessage(st, "ZELKO: ");
      lastStatus = st;
      g->lookupBuildTime = {};
      release();
      return lastStatus = kStatusMissingArgument;
    }
  }
  // 4.
  if (hasResult) {
    NnStatus st = CompileAndStart(resultField, &g->resultFormula);
    if (st != NN_OK) {
      SendMessage(s, "ZELKO: %s properties formula failed to compile.", name);
      lastStatus = st;
      release();
      return lastStatus = kStatusFormula;
    }
  }
  // 5.
  if (properties && *properties) {
    if (IsFormulaText(properties)) {
      NnStatus st = CompileAndStart(properties, &g->propertiesFormula);
      if (st != NN_OK) {
        LogMessage(s, "ZELKO: LinkMatching properties formula failed to compile.");
        lastStatus = st;
        release();
        return lastStatus = kStatusFormula;
      }
    } else {
      g->propertiesText = POOL_STRDUP(s, properties);
      if (!g->propertiesText) {
        release();
        return lastStatus = NN_ERR_MEMORY;
      }
    }
  }
  const char* props = g->propertiesText;
  char* value = s->OptionValue;
  // Append, Insert and Replace write the result: without a result field
  // every match would be a failed action, the call a success that did
  // nothing.
  if (!MatchOptionsUsable(props, item) ||
      (!hasResult && (mode == 2801 || mode == 2803 || mode == 2806))) {
    release();
    return lastStatus = NN_ERR_INVALID_ARG;
  }

  // 6.
  uint32_t minLength = 3;
  if (GetOptionValue(props, "MinLength=", value)) {
    uint16_t n = uint16_t(std::strtoul(value, nullptr, 10));
    minLength = n == 0 ? 1 : n > 132 ? 3 : n;
  }

  // 7. Each delimited text becomes a run of its own. The item's changes wait
  // for the end of the passes from here on: the split must not be written
  // before it (KeywordMatching writes nothing at all).
  const uint16_t savedWildcards = TextWildcards;
  const uint16_t savedDefer = item->DeferCommitFlag;
  const bool modifiedBefore = item->modified != 0;
  const RecordList* recordsBefore = item->context ? item->context->records : nullptr;
  item->DeferCommitFlag = 1;
  if (GetOptionValue(props, "WikiDelimiters=", value) && std::strlen(value) == 4) {
    char pattern[8];
    std::snprintf(pattern, sizeof pattern, "%.2s*%.2s", value, value + 2);
    TextWildcards = 1;
    char* savedStyle = item->highlightStyle;
    item->highlightStyle = const_cast<char*>("-Underline Black");
    RunFrame(2373, 0, 0, 5, 0, nullptr, pattern, nullptr, nullptr);
    item->highlightStyle = savedStyle;
  }

  // 8. The lookup cache.
  LinkMatchContext* lm = g->linkMatch;
  bool useCache = item->LookupCacheFlag && lm && CacheTimeSet(g) && lm->keyLists[0] &&
                  lm->noteIdBlock && SameIgnoringCase(g->lookupServer, server) &&
                  SameIgnoringCase(g->lookupDbPath, database) &&
                  SameIgnoringCase(g->lookupViewName, view) &&
                  SameIgnoringCase(g->lookupRefField, referenceField) &&
                  (!hasResult || SameIgnoringCase(g->lookupResultField, resultField)) &&
                  SameHour(NnTimeNow(), g->lookupBuildTime);
  if (!useCache) {
    if (lm) LinkMatchContextDelete(lm, 0);
    g->lookupServer[0] = g->lookupDbPath[0] = g->lookupViewName[0] = 0;
    g->lookupRefField[0] = g->lookupResultField[0] = 0;
    g->lookupBuildTime = {};
  }

  // The item as the call found it, for every way out before the passes:
  // nothing of the split is written, and for keywords nothing stays.
  auto restoreItem = [&]() {
    item->DeferCommitFlag = savedDefer;
    if (!modifiedBefore && item->context && item->context->records != recordsBefore) {
      item->ReleaseRecords();  // read again from the note when next used
      item->modified = 0;
    }
  };

  // 9.
  const char* serverName = server && std::strcmp(server, "@DbName") != 0 ? server : "";
  NnHandle hDb = 0;
  NnStatus st = kv::OpenDatabaseByName(s, serverName, database, &hDb);
  if (st != NN_OK) {
    lastStatus = st;
    g->lookupBuildTime = {};
    TextWildcards = savedWildcards;
    restoreItem();
    release();
    return lastStatus = st;
  }
  g->hDb = hDb;
  auto fail = [&](NnStatus status) {
    NnDbClose(hDb);
    g->hDb = 0;
    if (g->linkMatch) {
      LinkMatchContextDelete(g->linkMatch, 1);
      g->linkMatch = nullptr;
    }
    lastStatus = status;
    g->lookupBuildTime = {};
    TextWildcards = savedWildcards;
    restoreItem();
    release();
    return lastStatus = status;
  };

  // 10.
  if (useCache) {
    NnDbGetReplicaInfo(hDb, &g->replicaInfo);
  } else {
    // The view's documents go through the process-wide selection table: held
    // from their collection until their keys are read, then freed.
    SelectionTableHold hold;
    st = FindViewAndCompileSelection(s, hDb, view, nullptr, 0, nullptr, 1);
    if (st != NN_OK) return fail(st);
    if (!g->linkMatch) {
      g->linkMatch = new LinkMatchContext();
      g->linkMatch->session = s;
    }
    lm = g->linkMatch;
    lm->session = s;
    lm->firstLetters = static_cast<uint8_t*>(POOL_ALLOC(s, kLinkMatchFirstLetters, true));
    if (!lm->firstLetters) return fail(NN_ERR_MEMORY);
    st = NnMemAlloc(kLinkMatchNoteIdBlock, 0, &lm->noteIdBlock);
    if (st != NN_OK) return fail(st);
    lm->noteIds = static_cast<uint32_t*>(NnMemLock(lm->noteIdBlock));
    if (!lm->noteIds) return fail(NN_ERR_MEMORY);
    std::memset(lm->noteIds, 0, kLinkMatchNoteIdBlock);
    uint32_t listSize = 0;
    st = NnTextListAllocate(0, 0, &lm->keyLists[0], &listSize);
    if (st != NN_OK) return fail(st);
    lm->shortestKeyLength = 0;
    g->keyTotal = 0;

    // 11.
    KeyBuilder keys{s, lm, minLength, SearchWordBoundaries != 0};
    std::string text;
    std::string buffer(kKeyTextMax + 1, '\0');
    const NnHandle table = SelectionTable();
    NOTEID id = 0;
    uint32_t seen = 0;
    for (bool first = true; table && seen < kMaxTableIds && NnIdTableScan(table, first, &id);
         first = false, ++seen) {
      NnHandle hNote = 0;
      if (NnNoteOpen(hDb, id, 0, &hNote) != NN_OK) continue;
      if (hReference) {
        EvaluateComputationToText(hReference, hNote, kKeyTextMax, &text);
      } else {
        uint16_t n = NnItemConvertToText(hNote, referenceField, buffer.data(),
                                         uint16_t(buffer.size()), kValueSeparator);
        text.assign(buffer.data(), n);
      }
      st = keys.AddValues(text, id);
      NnNoteClose(hNote);
      if (st != NN_OK) return fail(st);
    }
    // 12.
    const uint32_t total = keys.total + keys.currentCount;
    g->keyTotal = uint16_t(total);
    lm->keyCount = uint16_t(total);
    StopComputation(&hReference);
    if (!hasResult) {
      st = NnDbGetReplicaInfo(hDb, &g->replicaInfo);
      NOTEID viewId = 0;
      if (st == NN_OK)
        st = NnDesignFindByNameFlags(hDb, NN_CLASS_VIEW, view, uint16_t(strnlen(view, 0xFFFF)),
                                     "-G40n^", &viewId);
      if (st == NN_OK) st = NnDbGetNoteInfo(hDb, viewId, &g->viewOriginatorId, nullptr, nullptr);
      if (st != NN_OK) return fail(st);
      g->lookupViewId = viewId;
    }
  }
  StopComputation(&hReference);

  // 13.
  if (lm->matchedFlags) PoolFree(s, lm->matchedFlags);
  lm->matchedFlags =
      static_cast<uint32_t*>(POOL_ALLOC(s, 4 * size_t(lm->keyCount ? lm->keyCount : 1), true));
  if (!lm->matchedFlags) return fail(NN_ERR_MEMORY);
  lm->MatchMode = 1;
  lm->replaceExtra = 0;
  lm->singleMatch = mode == 2804 ? 1 : 0;
  if (props) {
    if (GetOptionValue(props, "MatchText=", value)) {
      if (!strncasecmp(value, "Starts", 6)) lm->MatchMode = 2;
      else if (!strncasecmp(value, "Ends", 4)) lm->MatchMode = 3;
      else if (!strncasecmp(value, "Substr", 6)) lm->MatchMode = 4;
    }
    lm->replaceExtra = GetOptionValue(props, "ReplaceExtra=", value) && !strcasecmp(value, "Yes");
    if (GetOptionValue(props, "SingleMatch=", value)) lm->singleMatch = !strcasecmp(value, "Yes");
  }

  // 14. The passes.
  lastStatus = 0;
  const uint16_t savedFollowUp = item->secondFlag;
  item->secondFlag = 0;
  uint32_t passes = 0;
  do {
    MatchPassChanged = 0;
    RunFrame(2386, mode, 0, 0, 0, hasResult ? resultField : nullptr, keywords, nullptr, nullptr);
    ++passes;
  } while (MatchPassChanged && !lm->singleMatch && passes < kMaxPasses);

  // 15.
  item->secondFlag = savedFollowUp;
  TextWildcards = savedWildcards;
  if (mode != 2804 && savedFollowUp)
    RunFrame(STEP_CLEANUP_TEXT, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (mode == 2804) {
    restoreItem();
  } else {
    item->DeferCommitFlag = savedDefer;
    if (savedDefer == 0) item->Commit();
  }

  // 16.
  if (g->hViewCollection) NnCollectionClose(g->hViewCollection);
  g->hViewCollection = 0;
  StopComputation(&g->resultFormula);
  StopComputation(&g->propertiesFormula);
  if (!useCache && item->LookupCacheFlag) {
    g->lookupBuildTime = NnTimeNow();
    CopyName(g->lookupServer, server);
    CopyName(g->lookupDbPath, database);
    CopyName(g->lookupViewName, view);
    CopyName(g->lookupRefField, referenceField);
    CopyName(g->lookupResultField, hasResult ? resultField : "");
  } else {
    LinkMatchContextDelete(g->linkMatch, 1);
    g->linkMatch = nullptr;
    g->lookupBuildTime = {};
  }
  NnDbClose(hDb);
  g->hDb = 0;
  if (g->propertiesText) PoolFree(s, g->propertiesText);
  g->propertiesText = nullptr;

  // 17.
  if (keywords) {
    const uint32_t bytes = uint32_t(strnlen(keywords, kKeywordBufferSize - 1));
    uint32_t chars = 0;
    NnCharsetCharCount(keywords, bytes, &chars, g->charsetInfo);
    s->SetResultText(keywords, bytes);
    PoolFree(s, keywords);
    keywords = nullptr;
  }
  return 0;
}

uint16_t TorvoRTChunk::AppendMatching(const char* server, const char* database, const char* view,
                                      const char* referenceField, const char* resultField,
                                      const char* properties) {
  return LinkMatching(server, database, view, referenceField, resultField, properties, 2801);
}
uint16_t TorvoRTChunk::HighlightMatching(const char* server, const char* database,
                                         const char* view, const char* referenceField,
                                         const char* resultField, const char* properties) {
  return LinkMatching(server, database, view, referenceField, resultField, properties, 2802);
}
uint16_t TorvoRTChunk::InsertMatching(const char* server, const char* database, const char* view,
                                      const char* referenceField, const char* resultField,
                                      const char* properties) {
  return LinkMatching(server, database, view, referenceField, resultField, properties, 2803);
}
uint16_t TorvoRTChunk::KeywordMatching(const char* server, const char* database,
                                       const char* view, const char* referenceField,
                                       const char* resultField, const char* properties) {
  return LinkMatching(server, database, view, referenceField, resultField, properties, 2804);
}
uint16_t TorvoRTChunk::PopupMatching(const char* server, const char* database, const char* view,
                                     const char* referenceField, const char* resultField,
                                     const char* properties) {
  return LinkMatching(server, database, view, referenceField, resultField, properties, 2805);
}
uint16_t TorvoRTChunk::ReplaceMatching(const char* server, const char* database,
                                       const char* view, const char* referenceField,
                                       const char* resultField, const char* properties) {
  return LinkMatching(server, database, view, referenceField, resultField, properties, 2806);
}

uint16_t TorvoRTChunk::RegexLink(const char*, const char*, const char*, uint16_t) { return 0; }
uint16_t TorvoRTChunk::RegexHighlight(const char*, const char*, const char*) { return 0; }
uint16_t TorvoRTChunk::RegexKeywords(const char*, const char*, const char*) { return 0; }
uint16_t TorvoRTChunk::RegexPopup(const char*, const char*, const char*) { return 0; }
uint16_t TorvoRTChunk::RegexReplace(const char*, const char*, const char*) { return 0; }
int TorvoRTChunk::RaiseReplaceHTMLScripting(const char*, const char*, const char*, const char*,
                                            const char*) {
  return 0;
}
