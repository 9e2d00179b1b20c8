// Operation 2816: wiki link resolution. A text run that holds one delimited
// wiki text, such as ((Home Page)), is replaced by what it names: a URL link,
// an attachment icon, or a document link to the page of that name in the
// wiki view. Runs that name nothing known stay as they are.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "collection.h"
#include "host/logging.h"
#include "host/noteops.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/engine/matchops.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/opfamily.h"
#include "richtext/engine/rtproc.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/linkmatch.h"
#include "rtitem.h"

WikiComposeSettings& CurrentWikiComposeSettings() {
  // Set by the wiki matching and read by its passes, within one call.
  thread_local WikiComposeSettings settings;
  return settings;
}

namespace {

constexpr uint16_t kSigText = 0xFF85;
constexpr uint32_t kFixed = kv::cd::host::kTextFixed;
constexpr uint32_t kMaxFileName = 255;
// Fixed addresses of the web search and of the product's help topics.
constexpr const char* kSearchAddress = "https://www.google.com/search?q=";
// The product has no help site of its own here: a placeholder address.
constexpr const char* kHelpAddress = "https://help.example.org/search?q=";

bool StartsWithIgnoringCase(const std::string& text, const char* prefix) {
  const size_t n = std::strlen(prefix);
  return text.size() >= n && strncasecmp(text.data(), prefix, n) == 0;
}

// The text after a scheme word, without the ':' and '/' characters after it.
std::string AfterScheme(const std::string& target, size_t wordLength) {
  size_t i = wordLength;
  while (i < target.size() && (target[i] == ':' || target[i] == '/')) ++i;
  return target.substr(i);
}

// The query of a search or help address: blanks become `blank`, quotes "%22".
std::string EncodeQuery(const std::string& text, const char* blank) {
  std::string out;
  for (char c : text) {
    if (c == ' ')
      out += blank;
    else if (c == '"' || c == '\'')
      out += "%22";
    else
      out.push_back(c);
  }
  return out;
}

struct WikiText {
  std::string target;   // before '|'
  std::string display;  // after '|', or the page name
  std::string page;     // the target up to its anchor
  std::string anchor;   // after the last '#' of the target, or empty
  bool piped = false;
};

WikiText ParseWikiText(const char* inner, size_t length, const char* close) {
  WikiText w;
  size_t anchorAt = std::string::npos, pipeAt = std::string::npos;
  for (size_t i = 0; i < length; ++i) {
    if (inner[i] == '|') {
      pipeAt = i;
      break;
    }
    if (inner[i] == '#') anchorAt = i;
  }
  if (pipeAt != std::string::npos) {
    w.piped = true;
    w.target.assign(inner, pipeAt);
    w.display.assign(inner + pipeAt + 1, length - pipeAt - 1);
    while (!w.display.empty() && std::strchr(close, w.display.back()) && w.display.back())
      w.display.pop_back();
  } else {
    w.target.assign(inner, length);
  }
  if (anchorAt != std::string::npos) {
    w.page = w.target.substr(0, anchorAt);
    w.anchor = w.target.substr(anchorAt + 1);
  } else {
    w.page = w.target;
  }
  if (!w.piped) w.display = w.page;
  return w;
}

// A value of the link option text between the delimiter the property texts
// use: the first of ', " and | that it does not hold, else ~ (a ~ within is
// dropped, as the value could not be read back whole).
std::string DelimitedOption(const char* key, const std::string& text) {
  const char delimiter = ChooseDelimiterChar(text.c_str(), long(text.size()));
  std::string out = key;
  out += delimiter;
  for (char c : text)
    if (c != delimiter) out.push_back(c);
  out += delimiter;
  return out;
}

// A URL link that a later two-way run can turn back into its wiki text: its
// class names the scheme word it was made from ("WikiLinkhttps"), its title
// is the whole target.
NnStatus UrlLink(RTProcessContext* ctx, const std::string& shown, const std::string& address,
                 const std::string& word, const std::string& target) {
  const std::string cls = "WikiLink" + word;
  return ComposeLinkHotspotWithAttributes(shown.data(), uint32_t(shown.size()), address.data(),
                                          uint32_t(address.size()), cls.c_str(), target.c_str(),
                                          ctx);
}

// Resolves one run; *composed tells whether something replaced it.
NnStatus ResolveWikiText(RTProcessContext* ctx, const WikiText& w, bool* composed) {
  *composed = false;
  const std::string& t = w.target;
  static const char* const kSchemes[] = {"http:", "https:", "file:", "mailto:"};
  for (const char* scheme : kSchemes) {
    const size_t n = std::strlen(scheme);
    if (t.size() > n && StartsWithIgnoringCase(t, scheme)) {
      *composed = true;
      std::string word(scheme, n - 1);
      return UrlLink(ctx, w.piped ? w.display : AfterScheme(t, n - 1), t, word, t);
    }
  }
  if (t.size() > 7 && StartsWithIgnoringCase(t, "attach:")) {
    const std::string path = t.substr(7);
    size_t cut = path.find_last_of('\\');
    if (cut == std::string::npos) cut = path.find_last_of('/');
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (name.size() > kMaxFileName) name.resize(kMaxFileName);
    if (name.empty() || !kv::NoteFindAttachmentByDisplayName(ctx->NoteHandle, name.c_str(), 0, 1))
      return 0;
    *composed = true;
    const std::string caption = w.piped ? w.display : name;
    return ComposeAttachmentIcon(path.c_str(), name.c_str(), caption.c_str(), 1,
                                 "AlreadyAttached='Yes'", ctx);
  }
  if (t.size() > 7 && StartsWithIgnoringCase(t, "google:")) {
    *composed = true;
    return UrlLink(ctx, w.piped ? w.display : AfterScheme(t, 6),
                   kSearchAddress + EncodeQuery(t.substr(7), "%20"), "google", t);
  }
  if (t.size() > 6 && StartsWithIgnoringCase(t, "zelko:")) {
    *composed = true;
    return UrlLink(ctx, w.piped ? w.display : AfterScheme(t, 5),
                   kHelpAddress + EncodeQuery(t.substr(6), "+"), "zelko", t);
  }

  // A page name: the first document of the wiki view with that key.
  if (w.page.empty() || w.page.size() > kMatchKeyMax) return 0;
  std::memcpy(MatchKeyBuffer, w.page.data(), w.page.size());
  MatchKeyBuffer[w.page.size()] = 0;
  LSXLsiSession* s = ctx->Session;
  SessionGlobals* g = s->globals;
  NnHandle hDb = g->hDb;
  if (!hDb) return 0;
  const char* view = ctx->Text1 && *ctx->Text1 ? ctx->Text1 : "$QNWL";
  NnHandle table = 0;
  FindViewAndCompileSelection(s, hDb, view, MatchKeyBuffer, 0, &table, 0);
  if (g->hViewCollection) {
    NnCollectionClose(g->hViewCollection);
    g->hViewCollection = 0;
  }
  if (!table) return 0;
  NOTEID id = 0;
  const bool found = NnIdTableScan(table, true, &id);
  NnIdTableFree(table);
  if (!found) return 0;
  MatchedNoteId = id;
  // The link shows the display text (the page name without a '|').
  char* matched = MatchedTextBuffer();
  if (!matched) return NN_ERR_MEMORY;
  const size_t shown = w.display.size() < kMatchedTextSize ? w.display.size() : kMatchedTextSize - 1;
  std::memcpy(matched, w.display.data(), shown);
  matched[shown] = 0;

  const char* tag = ctx->Text2 ? ctx->Text2 : "";
  std::string options = DelimitedOption("Class=", std::string("WikiLink") + tag) + " ";
  options += DelimitedOption("Title=", t) + " ";
  if (!w.anchor.empty()) {
    std::string anchor = w.anchor;
    for (char& c : anchor)
      if (c == ' ' || c == ':' || c == '"') c = '_';
    options += DelimitedOption("Anchor=", anchor);
  }
  *composed = true;
  return ComposeHypertextLink(MatchKeyBuffer, matched, MatchedNoteId, options.c_str(),
                              ctx);
}

// ---- new pages: compose hotspots -------------------------------------------------

// A value inside a formula string literal: the backslash is the literal's
// escape character, so backslashes and double quotes are escaped with it.
// Text from a document must stay text, never become formula code.
std::string FormulaLiteral(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}


// The formula that composes a new page named `page`.
std::string ComposeFormula(RTProcessContext* ctx, const std::string& page) {
  const WikiComposeSettings& set = CurrentWikiComposeSettings();
  const char* tag = ctx->Text2 ? ctx->Text2 : "";
  std::string form = set.form;
  if (form.empty()) {
    if (*tag) {
      form = tag;
    } else {
      char buf[256] = {};
      NnItemGetText(ctx->NoteHandle, "Form", buf, sizeof buf);
      form = buf[0] ? buf : "Document";
    }
  }
  // A server beginning with '@' is the caller's formula (such as @DbName)
  // and goes in as it stands; every other value is a string literal.
  std::string f = "@Command([Compose]; ";
  if (!set.server.empty() && set.server[0] == '@') {
    f += set.server;
  } else {
    f += '"';
    f += FormulaLiteral(set.server);
    f += "\":\"";
    f += FormulaLiteral(set.database);
    f += '"';
  }
  f += "; \"";
  f += FormulaLiteral(form);
  f += "\"); @Command([EditGoToField]; \"Subject\"); @Command([EditInsertText]; \"";
  f += FormulaLiteral(page);
  f += "\");";
  return f;
}

// An action hotspot (type 2, formula data) with the wiki class and title,
// shown as the display text.
NnStatus ComposeNewPageHotspot(RTProcessContext* ctx, const WikiText& w, const void* formula,
                               uint32_t formulaLength) {
  constexpr uint32_t kMaxHotspotData = 16000;
  if (formulaLength > kMaxHotspotData) return NN_ERR_INVALID_ARG;
  std::string rec(16 + formulaLength, '\0');
  auto put16 = [&](size_t at, uint32_t v) {
    rec[at] = char(v & 0xFF);
    rec[at + 1] = char((v >> 8) & 0xFF);
  };
  put16(0, 0xFFA9);
  put16(2, uint32_t(rec.size()));
  put16(4, 2);      // action
  put16(8, 0x10);   // the data is a compiled formula
  put16(12, formulaLength);
  std::memcpy(&rec[16], formula, formulaLength);
  NnStatus st = AppendRecord(rec.data(), 0xFFA9, uint32_t(rec.size()), &ctx->Compose);
  if (st) return st;
  const char* tag = ctx->Text2 ? ctx->Text2 : "";
  const std::string cls = std::string("WikiLink") + tag;
  const char* strings[6] = {nullptr, cls.c_str(), nullptr, w.target.c_str(), nullptr, nullptr};
  st = ComposeHtmlAttributes(0xFF7A, strings, ctx);
  if (st) return st;
  const std::string& text = w.display.empty() ? std::string("Action Hotspot") : w.display;
  st = EmitTextRecord(text.data(), uint32_t(text.size()), nullptr, &ctx->Compose);
  if (st) return st;
  const uint8_t end[2] = {0xAA, 2};
  return AppendRecord(end, 0xAA, 2, &ctx->Compose);
}

NnStatus ComposeNewPage(RTProcessContext* ctx, const WikiText& w, bool* composed) {
  *composed = false;
  if (!ctx->WriteMode) return 0;
  const std::string formula = ComposeFormula(ctx, w.page);
  NnHandle hFormula = 0;
  uint16_t compiledLen = 0, errorOffset = 0, errorLength = 0;
  NnStatus st = formula.size() > 0xFFFF
                    ? NnStatus(NN_ERR_FORMULA_SYNTAX)
                    : NnFormulaCompile(formula.data(), uint16_t(formula.size()), &hFormula,
                                       &compiledLen, &errorOffset, &errorLength);
  if (st != NN_OK) {
    // This one text is skipped; the others go on.
    char text[1025] = "Zelko: ";
    NnLoadStatusText(st, text + 7, uint16_t(sizeof text - 7));
    LogMessage(ctx->Session, text);
    return 0;
  }
  const void* compiled = NnMemLock(hFormula);
  st = compiled ? ComposeNewPageHotspot(ctx, w, compiled, compiledLen) : NnStatus(NN_ERR_BAD_HANDLE);
  if (compiled) NnMemUnlock(hFormula);
  NnMemFree(hFormula);
  if (st == 0) *composed = true;
  return st;
}

bool WikiRecord(uint8_t* data, uint16_t sig, uint32_t len, RTProcessContext* ctx,
                RecordEmission* out, NnStatus* status) {
  if (ctx->OperationCode != 2816) return false;
  *status = 0;
  TrackHotspotState(sig, ctx);
  if (sig != kSigText || !data || WrittenByMatching(ctx) || InsideHotspot(ctx)) return true;
  const char* tag = ctx->Text2 ? ctx->Text2 : "";
  const size_t tagLen = std::strlen(tag);
  const size_t openLen = std::strlen(ctx->WikiOpen), closeLen = std::strlen(ctx->WikiClose);
  if (len < 13 + (tagLen ? tagLen + 1 : 0) || len < kFixed + openLen + closeLen + tagLen) return true;
  const char* text = reinterpret_cast<const char*>(data + kFixed);
  const size_t n = len - kFixed;
  if (std::memcmp(text, ctx->WikiOpen, openLen) != 0 ||
      std::memcmp(text + n - closeLen, ctx->WikiClose, closeLen) != 0)
    return true;
  size_t innerStart = openLen;
  if (tagLen) {
    // A tagged text is the tag and ':' before the page: ((TopicIntro)) is
    // not the page Intro of the tag Topic.
    if (strncasecmp(text + openLen, tag, tagLen) != 0) return true;
    innerStart += tagLen;
    if (innerStart >= n - closeLen || text[innerStart] != ':') return true;
    ++innerStart;
  }
  if (innerStart >= n - closeLen) return true;
  const WikiText w = ParseWikiText(text + innerStart, n - closeLen - innerStart, ctx->WikiClose);

  if (ctx->WriteMode) {
    NnStatus st = FlushPendingRun(ctx, ctx->RecordNumber);
    if (st) {
      *status = st;
      return true;
    }
  }
  bool composed = false;
  {
    AdoptScope adopt(ctx);
    const ComposeMark mark = MarkComposition(ctx);
    *status = ctx->SubCode == kWikiNewPages ? ComposeNewPage(ctx, w, &composed)
                                            : ResolveWikiText(ctx, w, &composed);
    if (*status) RollBackComposition(ctx, mark);
  }
  if (composed && *status == 0) {
    ctx->Item->modified = 1;
    MatchPassChanged = 1;
    out->length = 0;
  }
  return true;
}

const OperationFamily kWikiLinks = {
    "wiki links", nullptr, nullptr, nullptr, WikiRecord, nullptr, nullptr,
};

}  // namespace

KV_REGISTER_OPERATION_FAMILY(kWikiLinks)
