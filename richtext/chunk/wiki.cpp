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
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kStatusMissingArgument = 20017;
constexpr size_t kMaxTag = 31;
constexpr size_t kMaxFormName = 255;
constexpr size_t kShownTextMax = 1024;

void Refuse(LSXLsiSession* s, const char* text) {
  std::snprintf(s->MessageText, sizeof s->MessageText, "%s", text);
  s->MessageTextLength = uint16_t(std::strlen(s->MessageText));
  LogMessage(s, s->MessageText);
  s->globals->lookupBuildTime = {};
}

// Class values of the elements an earlier run created. Hotspots: "WikiLink",
// or "WikiLink" followed by the tag when tagged.
bool IsWikiHotspotClass(const std::string& cls, const char* tag) {
  if (!*tag) return strcasecmp(cls.c_str(), "WikiLink") == 0;
  return cls.size() > 8 && strncasecmp(cls.c_str(), "WikiLink", 8) == 0 &&
         strcasecmp(cls.c_str() + 8, tag) == 0;
}

// Links also carry the scheme they were made from.
bool IsWikiLinkClass(const std::string& cls, const char* tag) {
  if (cls.size() < 8 || strncasecmp(cls.c_str(), "WikiLink", 8) != 0) return false;
  const char* rest = cls.c_str() + 8;
  static const char* const kCommon[] = {"https", "zelko", "file", "attach"};
  for (const char* word : kCommon)
    if (!strcasecmp(rest, word)) return true;
  if (*tag) return strcasecmp(rest, tag) == 0;
  return !*rest || !strcasecmp(rest, "google") || !strcasecmp(rest, "http");
}

// The session's result text as a string (the queries leave their value there).
std::string ResultString(LSXLsiSession* s, const char* value) {
  if (!value) return "";
  uint32_t n = s->ResultTextLength;
  if (n >= kResultTextSize) n = kResultTextSize - 1;
  return std::string(value, strnlen(value, n));
}

// The delimited wiki text an element stands for, from its shown text and title.
std::string WikiTextOf(const std::string& text, const std::string& title, const char* open,
                       const char* close, const char* tag) {
  std::string out = open;
  if (*tag) {
    out += tag;
    out += ':';
  }
  if (title.empty() || title == text) {
    out += text;
  } else {
    out += title;
    const std::string page = title.substr(0, title.find('#'));
    if (!page.empty() && page != text) out += "|" + text;
  }
  out += close;
  return out;
}

// Removes the attribute records (class, title) inside the element: removing
// a hotspot or link keeps every record that is not its own frame, and an
// attribute record left behind would pass its class to whatever follows.
// An element's own records come first, so a few places are enough (a page
// link's attributes follow its begin record and its document link group).
void RemoveAttributeRecords(TorvoRTChunk* element) {
  LSXLsiSession* s = element->session;
  uint32_t n = 1;
  for (uint32_t step = 0; step < 10 && n <= 6; ++step) {
    char definition[16];
    std::snprintf(definition, sizeof definition, "Record %u", unsigned(n));
    TorvoRTChunk* record = element->DefineSubChunk(definition);
    if (!record) return;
    bool exists = record->Exists() != 0;
    // Only an attribute record answers with a class or title.
    bool attributes = exists && (!ResultString(s, record->GetHTMLValue("Class", nullptr)).empty() ||
                                 !ResultString(s, record->GetHTMLValue("Title", nullptr)).empty());
    // After a removal the next record moves up into this place.
    if (!attributes || record->Remove() != 0) ++n;
    delete record;
    if (!exists) return;
  }
}

// Turns every wiki element the definition selects back into its delimited
// text: the element's text becomes that text, then the element goes and the
// text stays. An element whose change fails keeps its form and the loop
// moves past it, so that no element is visited twice without end.
void ElementsBackToText(TorvoRTChunk* chunk, const char* definition, bool links,
                        const char* open, const char* close, const char* tag) {
  LSXLsiSession* s = chunk->session;
  TorvoRTChunk* sub = chunk->DefineSubChunk(definition);
  if (!sub) return;
  const char* element = links ? "Hyperlink" : "ActionFormula";
  // Each pass either removes an element or moves one further: the item's
  // record count bounds them.
  uint32_t budget = 1u << 16;
  if (chunk->item && chunk->item->context && chunk->item->context->records)
    budget = chunk->item->context->records->count * 2u + 4u;
  while (budget-- && sub->Exists()) {
    const std::string cls = ResultString(s, sub->GetHTMLValue("Class", element));
    if (cls.empty() || !(links ? IsWikiLinkClass(cls, tag) : IsWikiHotspotClass(cls, tag))) {
      if (!sub->GetNextTarget()) break;
      continue;
    }
    char text[kShownTextMax + 1] = {};
    sub->GetPropertyText("Text", text, sizeof text);
    const std::string title = ResultString(s, sub->GetHTMLValue("Title", element));
    const std::string wiki = WikiTextOf(text, title, open, close, tag);
    bool done = wiki.size() <= 0xFFFF &&
                sub->SetPropertyText("Text", wiki.c_str(), uint16_t(wiki.size())) == 1;
    if (done) {
      RemoveAttributeRecords(sub);
      const NnStatus st = links ? sub->RemoveLinks(1) : sub->RemoveHotspots();
      done = st == 0 || st == NN_ERR_READONLY_DONE;
      // The element stays: so does its text.
      if (!done) sub->SetPropertyText("Text", text, uint16_t(std::strlen(text)));
    }
    if (!done && !sub->GetNextTarget()) break;
  }
  delete sub;
}

}  // namespace

uint16_t TorvoRTChunk::WikiMatching(const char* server, const char* database, const char* view,
                                    const char* referenceField, const char* resultField,
                                    const char* properties) {
  if (!session || !session->globals || !item) return lastStatus = NN_ERR_INVALID_ARG;
  LSXLsiSession* s = session;
  SessionGlobals* g = s->globals;

  // 1.
  if (!database || !*database) {
    Refuse(s, "ZELKO: WikiMatching method passed an invalid database filepath.");
    return lastStatus = kStatusMissingArgument;
  }
  if (!view || !*view) {
    Refuse(s, "ZELKO: WikiMatching method passed an invalid view name.");
    return lastStatus = kStatusMissingArgument;
  }
  if (!referenceField || !*referenceField) {
    Refuse(s, "ZELKO: WikiMatching missing reference fieldname.");
    return lastStatus = kStatusMissingArgument;
  }
  const bool hasResult = resultField && *resultField;
  // A chunk whose target the item does not hold has no wiki text.
  if (!Exists()) return lastStatus = NN_ERR_ITEM_NOT_FOUND;

  // 2. A key the matching does not read, a switch other than Yes or No, or
  // a tag or form name too long to use whole is refused, not dropped or cut.
  char* value = s->OptionValue;
  if (!OptionKeysAmong(properties,
                       {"Tag", "WikiDelimiters", "OneWayOnly", "ResolveTags", "Form", "MatchFont"}) ||
      (GetOptionValue(properties, "Tag=", value) && std::strlen(value) > kMaxTag) ||
      (GetOptionValue(properties, "Form=", value) && std::strlen(value) > kMaxFormName))
    return lastStatus = NN_ERR_INVALID_ARG;
  for (const char* key : {"OneWayOnly=", "ResolveTags="})
    if (GetOptionValue(properties, key, value) && strcasecmp(value, "Yes") && strcasecmp(value, "No"))
      return lastStatus = NN_ERR_INVALID_ARG;
  if (g->propertiesText) PoolFree(s, g->propertiesText);
  g->propertiesText = POOL_STRDUP(s, properties ? properties : "");
  if (!g->propertiesText) return lastStatus = NN_ERR_MEMORY;
  const char* props = g->propertiesText;
  char tag[kMaxTag + 1] = {};
  if (GetOptionValue(props, "Tag=", value) && value[0]) {
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
  if (GetOptionValue(props, "Form=", value)) compose.form = value;

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
    return lastStatus = st;
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
      return lastStatus = st;
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

  // 5. Two-way: what an earlier run made of wiki texts becomes text again, so
  // that it can be edited and matched anew.
  // Any hotspot kind: the action-hotspot selection passes over hotspots with
  // formula code, and the new-page hotspots carry exactly that.
  if (!oneWay) {
    ElementsBackToText(this, "Hotspot 1", false, open, close, tag);
    ElementsBackToText(this, "HyperLink 1", true, open, close, tag);
  }

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
