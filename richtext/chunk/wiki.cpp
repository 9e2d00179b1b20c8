// Wiki matching on a chunk: delimited wiki texts become document links to
// existing pages, URL links, attachment icons, or hotspots that compose the
// pages that do not exist yet.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/logging.h"
#include "host/noteops.h"
#include "host/options.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/engine/matchops.h"
#include "richtext/item/linkmatch.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kStatusMissingArgument = 20017;
constexpr size_t kMaxTag = 31;

void Refuse(LSXLsiSession* s, const char* text) {
  std::snprintf(s->MessageText, sizeof s->MessageText, "%s", text);
  s->MessageTextLength = uint16_t(std::strlen(s->MessageText));
  LogMessage(s, s->MessageText);
  s->globals->lookupBuildTime = {};
}

}  // namespace

uint16_t TorvoRTChunk::WikiMatching(const char* server, const char* database, const char* view,
                                    const char* referenceField, const char* resultField,
                                    const char* properties) {
  if (!session || !session->globals || !item) return NN_ERR_INVALID_ARG;
  LSXLsiSession* s = session;
  SessionGlobals* g = s->globals;

  // 1.
  if (!database || !*database) {
    Refuse(s, "ZELKO: WikiMatching method passed an invalid database filepath.");
    return kStatusMissingArgument;
  }
  if (!view || !*view) {
    Refuse(s, "ZELKO: WikiMatching method passed an invalid view name.");
    return kStatusMissingArgument;
  }
  if (!referenceField || !*referenceField) {
    Refuse(s, "ZELKO: WikiMatching missing reference fieldname.");
    return kStatusMissingArgument;
  }
  const bool hasResult = resultField && *resultField;

  // 2.
  if (g->propertiesText) PoolFree(s, g->propertiesText);
  g->propertiesText = POOL_STRDUP(s, properties ? properties : "");
  if (!g->propertiesText) return NN_ERR_MEMORY;
  const char* props = g->propertiesText;
  char* value = s->OptionValue;
  char tag[kMaxTag + 1] = {};
  if (GetOptionValue(props, "Tag=", value) && value[0] && std::strlen(value) <= kMaxTag) {
    std::strcpy(tag, value);
    size_t n = std::strlen(tag);
    if (n && tag[n - 1] == ':') tag[n - 1] = 0;
  }
  char open[3] = "((", close[3] = "))";
  if (GetOptionValue(props, "WikiDelimiters=", value) && std::strlen(value) == 4) {
    open[0] = value[0];
    open[1] = value[1];
    close[0] = value[2];
    close[1] = value[3];
  }
  const bool oneWay = GetOptionValue(props, "OneWayOnly=", value) && !strcasecmp(value, "yes");
  bool resolve = true;
  if (GetOptionValue(props, "ResolveTags=", value) && strcasecmp(value, "yes") != 0)
    resolve = false;
  WikiComposeSettings& compose = CurrentWikiComposeSettings();
  compose.server = server ? server : "";
  compose.database = database;
  compose.form.clear();
  if (GetOptionValueN(props, "Form=", value, 255)) compose.form = value;

  auto freeProperties = [&]() {
    if (g->propertiesText) PoolFree(s, g->propertiesText);
    g->propertiesText = nullptr;
  };

  // 3.
  NnHandle hDb = 0;
  const char* serverName = server && server[0] != '@' ? server : "";
  NnStatus st = kv::OpenDatabaseByName(s, serverName, database, &hDb);
  if (st != NN_OK) {
    lastStatus = st;
    g->lookupBuildTime = {};
    freeProperties();
    return st;
  }
  if (!hasResult) {
    NOTEID viewId = 0;
    st = NnDbGetReplicaInfo(hDb, &g->replicaInfo);
    if (st == NN_OK)
      st = NnDesignFindByNameFlags(hDb, NN_CLASS_VIEW, view, uint16_t(strnlen(view, 0xFFFF)),
                                   "-G40n^", &viewId);
    if (st == NN_OK) st = NnDbGetNoteInfo(hDb, viewId, &g->viewOriginatorId, nullptr, nullptr);
    if (st != NN_OK) {
      NnDbClose(hDb);
      if (g->linkMatch) {
        LinkMatchContextDelete(g->linkMatch, 1);
        g->linkMatch = nullptr;
      }
      lastStatus = st;
      freeProperties();
      return st;
    }
    g->lookupViewId = viewId;
  }
  g->hDb = hDb;

  // 4.
  lastStatus = 0;
  const uint16_t savedDefer = item->DeferCommitFlag;
  const uint16_t savedFollowUp = item->secondFlag;
  const uint16_t savedWildcards = TextWildcards;
  item->DeferCommitFlag = 1;
  item->secondFlag = 0;

  // 6. Every delimited text becomes a text run of its own.
  {
    char pattern[8];
    std::snprintf(pattern, sizeof pattern, "%s*%s", open, close);
    TextWildcards = 1;
    char* savedStyle = item->highlightStyle;
    item->highlightStyle = const_cast<char*>("-Underline Black");
    RunFrame(2373, 0, 0, 5, 0, nullptr, pattern, nullptr, nullptr);
    item->highlightStyle = savedStyle;
  }

  // 7, 8. Existing pages and addresses.
  const char* viewArg = view;
  if (oneWay || resolve) {
    MatchPassChanged = 0;
    RunFrame(2816, 2816, 0, 0, 0, viewArg, tag, nullptr, nullptr);
  }
  // 9. The wiki texts still standing compose their pages.
  if (!oneWay && resolve) {
    MatchPassChanged = 0;
    RunFrame(2816, kWikiNewPages, 0, 0, 0, viewArg, tag, nullptr, nullptr);
  }

  // 10.
  item->secondFlag = savedFollowUp;
  TextWildcards = savedWildcards;
  item->Commit();
  item->DeferCommitFlag = savedDefer;
  if (g->hViewCollection) NnCollectionClose(g->hViewCollection);
  g->hViewCollection = 0;
  NnDbClose(hDb);
  g->hDb = 0;
  freeProperties();
  return 0;
}
