// The hotspot writer: URL, wiki and scripted-action anchors, text popups,
// attachments (links, stored files, names and icons), buttons, embedded
// controls and section hotspots. It opens what the hotspot stands for,
// renders the hotspot's content one level deeper and closes what it opened
// at the hotspot's end record.
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "collection.h"
#include "host/base64.h"
#include "host/noteops.h"
#include "host/options.h"
#include "import/import.h"
#include "lsxsessi.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

NnHandle RenderNote(const RenderContext* ctx) {
  if (!ctx->item) return 0;
  return ctx->item->hRenderNote ? ctx->item->hRenderNote : ctx->item->hNote;
}

namespace {

using kv::cd::ReadU16;
using kv::cd::ReadU32;
namespace host = kv::cd::host;

constexpr uint16_t kMaxLevel = kMaxSectionLevels - 1;

bool IsHotspotBegin(uint16_t s) { return s == 0xFFA9 || s == 0xFFAD || s == 0xFF7E; }
bool IsHotspotEnd(uint16_t s) { return s == 0x007F || s == 0x00AA || s == 0x00AE; }
bool IsTextRun(uint16_t s) { return s == 0xFF85 || s == 0xFFE4; }

void Trace(const RenderContext* ctx, const char* text) {
  if (ctx->debugLevel > 2) NnLogMessage(NN_OK, "%s", text);
}

// The end record that matches the hotspot begin (nested hotspots counted);
// null when the range ends first.
RTRecordNode* FindHotspotEnd(const RenderContext* ctx, RTRecordNode* begin) {
  int nesting = 0;
  for (RTRecordNode* n = begin->next; RecordInRange(ctx, n); n = n->next) {
    if (IsHotspotBegin(n->signature)) {
      ++nesting;
    } else if (IsHotspotEnd(n->signature)) {
      if (nesting == 0) return n;
      --nesting;
    }
  }
  return nullptr;
}

// The records of the hotspot itself (not of hotspots nested in it), in order.
// A picture's attribute record is the picture's (its img carries it).
template <typename Fn>
void ForOwnRecords(const RenderContext* ctx, RTRecordNode* begin, RTRecordNode* end, Fn fn) {
  int nesting = 0;
  bool inPicture = false;
  const RTRecordNode* pictureEnd = nullptr;
  for (RTRecordNode* n = begin->next; n != end && RecordInRange(ctx, n); n = n->next) {
    const uint16_t s = n->signature;
    if (n == pictureEnd) inPicture = false;
    if (s == 0x0099) {
      inPicture = true;
      pictureEnd = PictureRecordsEnd(ctx, n);
    }
    if (IsHotspotBegin(s)) ++nesting;
    else if (IsHotspotEnd(s)) --nesting;
    else if (nesting == 0 && n->data && !(inPicture && s == 0xFF7A) && !fn(n)) return;
  }
}

bool IsYesText(const char* v) {
  if (!v || !*v) return false;
  const char c = char(v[0] | 0x20);
  return c == 'y' || c == 't' || c == '1' || strcasecmp(v, "ON") == 0;
}

bool OptionOn(const RenderContext* ctx, const char* key) {
  char value[kOptionValueMax + 1];
  return GetOptionValue(ctx->optionString, key, value) && IsYesText(value);
}

bool OptionText(const RenderContext* ctx, const char* key, std::string* out) {
  char value[kOptionValueMax + 1];
  if (!GetOptionValue(ctx->optionString, key, value)) return false;
  out->assign(value);
  return true;
}

bool Xhtml(const RenderContext* ctx) { return ctx->outputKind == kOutputXhtml; }

// Runs a compiled formula on the render note; its result as text. False (and
// an empty text) when it does not start or evaluate.
bool FormulaText(RenderContext* ctx, const uint8_t* compiled, uint32_t length, std::string* out) {
  out->clear();
  if (length == 0) return true;
  if (length > kFormulaCut) length = kFormulaCut;
  return EvaluateRenderFormula(ctx, reinterpret_cast<const char*>(compiled), length, out);
}

// A text of the hotspot data up to its first NUL.
std::string CText(const uint8_t* data, size_t length) {
  const char* text = reinterpret_cast<const char*>(data);
  return std::string(text, strnlen(text, length));
}

// The texts of an attribute record (0xFF7A): id, class, style, title, extra, name.
bool IdText(const RTRecordNode* n, int index, std::string* out) {
  uint32_t at = 26;
  for (int i = 0; i <= index; ++i) {
    uint16_t len = 0;
    if (!ReadU16(n->data, n->length, 4 + 2 * uint32_t(i), &len)) return false;
    if (i == index) {
      if (at + len > n->length) return false;
      *out = CText(n->data + at, len);
      return true;
    }
    at += len;
  }
  return false;
}

// JavaScript string text (the attribute escaping follows separately).
std::string ScriptString(const std::string& text) {
  std::string out;
  char buffer[8];
  for (unsigned char c : text) {
    if (c == '\\' || c == '"' || c == '\'') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
      std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
      out += buffer;
    } else {
      out += char(c);
    }
  }
  return out;
}

// The attribute name of an event kind.
const char* EventAttribute(uint16_t kind) {
  static const char* const kNames[] = {
      "OnClick",   "OnClick",   "OnDblClick", "OnMouseDown", "OnMouseUp", "OnMouseOver",
      "OnMouseMove", "OnMouseOut", "OnKeyPress", "OnKeyDown", "OnKeyUp",  "OnFocus",
      "OnBlur",    "OnLoad",    "OnUnload",   "Header",      "OnSubmit",  "OnReset",
      "OnChange",  "OnError",   "OnHelp",     "OnSelect"};
  return kind < sizeof kNames / sizeof kNames[0] ? kNames[kind] : "OnClick";
}

// A file name that stays inside the directory it is written to.
std::string SafeFileName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (c < 0x20 || c == '/' || c == '\\' || c == ':') out += '_';
    else out += char(c);
  }
  if (out.empty() || out == "." || out == "..") out = "_" + out;
  return out;
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at == path.size() || path[at] == '/' || path[at] == '\\') {
      const std::string part = path.substr(0, at);
      if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A BEGIN or END (0x00DD, 0x00DE) around a document link record.
bool WrapsDoclink(const RTRecordNode* n) {
  uint16_t wrapped = 0;
  return n->data && ReadU16(n->data, n->length, 4, &wrapped) &&
         (wrapped == 0xFF91 || wrapped == 0xFF92);
}

// The state of one call.
struct Call {
  RTRecordNode* begin = nullptr;
  RTRecordNode* end = nullptr;
  uint16_t type = 0;
  uint32_t flags = 0;
  const uint8_t* data = nullptr;
  uint16_t dataLength = 0;
  uint16_t depth = 0;
  uint32_t anchor = 0;      // the serial of the "</a>" this call pushed; 0: none
  uint32_t acronym = 0;     // the serial of its "</acronym>"; 0: none
  uint32_t span = 0;        // the serial of the "</span>" that carries its attributes; 0: none
  const RTRecordNode* attributes = nullptr;  // its own attribute record (0xFF7A)
  std::string openTag;      // the anchor's start tag, for re-opening
  NnStatus status = NN_OK;  // a step's failure, returned after the end
};

// Pushes a closing text this call owns and closes itself; its serial, or 0
// when there was no memory to keep it open (it is then closed at once).
uint32_t PushOwn(RenderContext* ctx, const Call& c, const char* closing) {
  const OpenElement* entry = PushOpenElement(ctx, 0, closing, c.depth);
  if (entry) return entry->serial;
  RenderAppend(ctx, closing);
  return 0;
}

void PushAnchor(RenderContext* ctx, Call* c, size_t startOffset) {
  c->openTag.assign(ctx->outputBuffer + startOffset,
                    size_t(ctx->outputCursor - ctx->outputBuffer) - startOffset);
  c->anchor = PushOwn(ctx, *c, "</a>");
  ctx->hotspot.anchorOpen = 1;
}

size_t Offset(const RenderContext* ctx) { return size_t(ctx->outputCursor - ctx->outputBuffer); }

// The hotspot's attribute record: the first of its own (an element carries
// an attribute once).
const RTRecordNode* OwnAttributes(const RenderContext* ctx, const Call& c) {
  const RTRecordNode* attributes = nullptr;
  ForOwnRecords(ctx, c.begin, c.end, [&](RTRecordNode* n) {
    if (n->signature == 0xFF7A) attributes = n;
    return attributes == nullptr;
  });
  return attributes;
}

void WriteOwnAttributes(RenderContext* ctx, const Call& c) {
  if (c.attributes) WriteElementIdAttributes(c.attributes->data, c.attributes->length, ctx, 0, 0);
}

// The frame target and element attributes of the hotspot (the first frame:
// an element carries an attribute once).
void WriteFrameAndAttributes(RenderContext* ctx, const Call& c) {
  bool frame = false;
  ForOwnRecords(ctx, c.begin, c.end, [&](RTRecordNode* n) {
    uint16_t len = 0, frameFlags = 0;
    if (n->signature == 0xFFF2 && !frame && ReadU16(n->data, n->length, 4, &len) &&
        ReadU16(n->data, n->length, 6, &frameFlags) && !(frameFlags & 0x1) && len &&
        12u + len <= n->length) {
      const std::string name = CText(n->data + 12, len);
      if (!name.empty()) {
        RenderAppend(ctx, " target=\"");
        AppendDocumentText(ctx, name.data(), name.size());
        RenderAppend(ctx, "\"");
        frame = true;
      }
    }
    return !frame;
  });
  WriteOwnAttributes(ctx, c);
}

// The owner of the render answers the link event: the collection of a
// multi-document render (its answer field), else the chunk (its event return
// string 1). "" when nobody answers.
std::string RaiseLinkEvent(RenderContext* ctx, const std::string& url) {
  if (ctx->collection) {
    std::vector<char> answer(kCollectionAnswerSize, 0);
    if (!ctx->collection->RaiseQueryLinkData(url.c_str(), nullptr, 2, url.c_str(), 0,
                                             answer.data(), uint32_t(answer.size()), nullptr,
                                             nullptr))
      return {};
    return answer.data();
  }
  TorvoRTChunk* chunk = ctx->chunk;
  if (!chunk || !chunk->internal || !chunk->internal->QueryLinkData) return {};
  if (chunk->eventReturn[1]) chunk->eventReturn[1][0] = 0;
  chunk->RaiseQueryLinkData(nullptr, 0, 2, nullptr, nullptr, nullptr, url.c_str(), nullptr,
                            nullptr);
  return chunk->eventReturn[1] ? chunk->eventReturn[1] : "";
}

// The owner of the render (collection, else chunk) is asked for the path and
// URL of an exported file; false when nobody listens. Answers replace the
// texts in the buffers.
bool RaiseNamesEvent(RenderContext* ctx, const std::string& kind, std::vector<char>* path,
                     std::vector<char>* url) {
  if (ctx->collection) {
    if (!ctx->collection->QueryExportNames) return false;
    ctx->collection->RaiseQueryExportNames(kind.c_str(), path->data(), uint32_t(path->size()),
                                           url->data(), uint32_t(url->size()));
    return true;
  }
  TorvoRTChunk* chunk = ctx->chunk;
  if (!chunk || !chunk->internal || !chunk->internal->QueryExportNames) return false;
  chunk->RaiseQueryExportNames(kind.c_str(), path->data(), url->data());
  path->back() = url->back() = 0;
  return true;
}

// The URL anchor, the stored URL whole. An empty or refused URL writes none.
void WriteUrlAnchor(RenderContext* ctx, Call* c, std::string url) {
  while (!url.empty() && (url.back() == ' ' || url.back() == 0)) url.pop_back();
  size_t lead = 0;
  while (lead < url.size() && url[lead] == ' ') ++lead;
  url.erase(0, lead);
  if (url.empty()) return;
  char value[kOptionValueMax + 1];
  if (GetOptionValue(ctx->optionString, "RaiseLinkEvent=", value) && strcasestr(value, "URL")) {
    // The owner answers with the URL to write; no answer, no anchor.
    url = RaiseLinkEvent(ctx, url);
    if (url.empty()) return;
  }
  if (IsRefusedUrl(url.data(), url.size())) return;
  const size_t start = Offset(ctx);
  RenderAppend(ctx, "<a href=\"");
  AppendLinkUrl(ctx, url.data(), url.size());
  RenderAppend(ctx, "\"");
  WriteFrameAndAttributes(ctx, *c);
  RenderAppend(ctx, ">");
  PushAnchor(ctx, c, start);
}

// The URL of the hotspot's first link-target record of kind 1.
bool LinkTargetUrl(RenderContext* ctx, const Call& c, std::string* url, bool* kind2) {
  bool found = false;
  ForOwnRecords(ctx, c.begin, c.end, [&](RTRecordNode* n) {
    if (n->signature != 0xFFF6) return true;
    uint32_t flags = 0;
    uint16_t kind = 0, textLen = 0, serverLen = 0, fileLen = 0;
    const uint8_t* d = n->data;
    if (!ReadU32(d, n->length, 4, &flags) || !ReadU16(d, n->length, 8, &kind) ||
        !ReadU16(d, n->length, 12, &textLen) || !ReadU16(d, n->length, 14, &serverLen) ||
        !ReadU16(d, n->length, 16, &fileLen))
      return true;
    if (kind == 2) {
      *kind2 = true;
      return true;
    }
    if (kind != 1) return true;
    const uint64_t off = 28ull + serverLen + fileLen;
    if (off + textLen > n->length) return true;
    if (flags & 0x1) {
      if (!FormulaText(ctx, d + off, textLen, url)) return true;
    } else {
      *url = CText(d + off, textLen);
    }
    found = true;
    return false;
  });
  return found;
}

// A wiki link, when the prefix is set and the hotspot's first attribute
// record names the wiki link class and a title.
bool WriteWikiLink(RenderContext* ctx, Call* c) {
  const char* prefix = ctx->hotspot.wikiUrlPrefix;
  if (!prefix || !*prefix) return false;
  const RTRecordNode* attributes = nullptr;
  ForOwnRecords(ctx, c->begin, c->end, [&](RTRecordNode* n) {
    if (n->signature == 0xFF7A) attributes = n;
    return attributes == nullptr;
  });
  std::string cls, title;
  if (!attributes || !IdText(attributes, 1, &cls) || !IdText(attributes, 3, &title)) return false;
  if (cls.empty() || cls.size() > 8 || strncasecmp(cls.c_str(), "WikiLink", cls.size()) != 0 ||
      title.empty())
    return false;
  const size_t start = Offset(ctx);
  char value[kOptionValueMax + 1];
  if (GetOptionValue(ctx->optionString, "UseJavaScript=", value) && strcasecmp(value, "no") != 0) {
    const std::string script = "var newWin = window.open(\"" + ScriptString(prefix) +
                               "\"); newWin.document.getElementsByName(\"Subject\")[0].value = \"" +
                               ScriptString(title) + "\";";
    RenderAppend(ctx, "<a href=\"\" class=\"WikiLink\" onClick=\"");
    AppendDocumentText(ctx, script.data(), script.size());
    RenderAppend(ctx, "; return false;\">");
  } else {
    std::string tail = title;
    for (size_t i = 1; i < tail.size(); ++i)
      if (tail[i] == ' ') tail[i] = '+';
    const std::string url = std::string("http:") + prefix + tail;
    RenderAppend(ctx, "<a href=\"");
    AppendDocumentUrl(ctx, url.data(), url.size());
    RenderAppend(ctx, "\" class=\"WikiLink\" target=\"_top\">");
  }
  PushAnchor(ctx, c, start);
  ctx->hotspot.wikiLinkWritten = 1;
  return true;
}

// A link-target record of kind 2 that is no wiki link (and, with
// `linkRecords`, a document link record of a link hotspot that keeps its
// target in records): a link to the document it names, around the hotspot's
// content.
void WriteTargetDoclink(RenderContext* ctx, Call* c, bool linkRecords = false) {
  RTRecordNode* target = nullptr;
  bool ownClass = false;
  ForOwnRecords(ctx, c->begin, c->end, [&](RTRecordNode* n) {
    uint16_t kind = 0;
    if (!target && n->signature == 0xFFF6 && ReadU16(n->data, n->length, 8, &kind) && kind == 2)
      target = n;
    if (!target && linkRecords && (n->signature == 0xFF91 || n->signature == 0xFF92)) target = n;
    std::string cls;
    if (n->signature == 0xFF7A && IdText(n, 1, &cls) && !cls.empty()) ownClass = true;
    return true;
  });
  if (!target) return;
  const size_t start = Offset(ctx);
  const NnStatus st = DoclinkStart(ctx, target);
  if (st != NN_OK || Offset(ctx) == start) {
    if (st != NN_OK) c->status = st;
    return;
  }
  // The element's own attributes; its own class stands in for the link's.
  WriteFrameAndAttributes(ctx, *c);
  if (!ownClass) RenderAppend(ctx, " class=\"doclink\"");
  RenderAppend(ctx, ">");
  PushAnchor(ctx, c, start);
}

// The script text of an event: inline after the record, or in the script
// pieces that follow it.
std::string EventScript(const RTRecordNode* event, uint32_t length) {
  std::string script;
  if (uint64_t(32) + length <= event->length && length) {
    script.assign(reinterpret_cast<const char*>(event->data + 32), length);
  } else {
    for (const RTRecordNode* n = event->next; n && n->signature == 0xFFDC && script.size() < length;
         n = n->next) {
      uint16_t piece = 0;
      if (!n->data || !ReadU16(n->data, n->length, 6, &piece)) break;
      if (18u + piece > n->length) piece = uint16_t(n->length > 18 ? n->length - 18 : 0);
      script.append(reinterpret_cast<const char*>(n->data + 18), piece);
    }
    if (script.size() > length) script.resize(length);
  }
  script.resize(strnlen(script.c_str(), script.size()));
  return script;
}

void WriteAction(RenderContext* ctx, Call* c) {
  const bool events = c->flags & 0x200000;
  // A formula action that is a wiki link runs no script: it stays a link when
  // script actions are shown disabled (the preset), so that wiki links appear.
  if (!events && !(c->flags & 0x100) && (ctx->renderFlagsE & 0x80) && WriteWikiLink(ctx, c))
    return;
  if (ctx->renderFlagsE & 0x80) {
    std::string note = " (disabled ";
    if (events) {
      ForOwnRecords(ctx, c->begin, c->end, [&](RTRecordNode* n) {
        uint16_t language = 0;
        if (n->signature == 0xFFF9 && ReadU16(n->data, n->length, 10, &language)) {
          if (language == 4) note += "JavaScript ";
          else if (language == 3) note += "KvScript ";
        }
        return true;
      });
    } else if (c->flags & 0x100) {
      note += "KvScript ";
    }
    note += "script)";
    std::snprintf(ctx->hotspot.disabledActionNote, sizeof ctx->hotspot.disabledActionNote, "%s",
                  note.c_str());
    return;
  }
  if (events) {
    const size_t start = Offset(ctx);
    bool opened = false;
    std::string written = " ";
    ForOwnRecords(ctx, c->begin, c->end, [&](RTRecordNode* n) {
      uint16_t kind = 0, language = 0;
      uint32_t length = 0;
      if (n->signature != 0xFFF9 || !ReadU16(n->data, n->length, 8, &kind) ||
          !ReadU16(n->data, n->length, 10, &language) || !ReadU32(n->data, n->length, 12, &length) ||
          language != 4)
        return true;
      const char* name = EventAttribute(kind);
      // One attribute of a name: a repeated one is not XML.
      if (written.find(std::string(" ") + name + " ") != std::string::npos) return true;
      written += std::string(name) + " ";
      RenderAppend(ctx, opened ? " " : "<a href=\"\" ");
      opened = true;
      RenderAppend(ctx, name);
      RenderAppend(ctx, "=\"");
      std::string script = EventScript(n, length);
      while (!script.empty() && script.back() == ' ') script.pop_back();
      AppendDocumentText(ctx, script.data(), script.size());
      if (script.empty() || script.back() != ';') RenderAppend(ctx, "; ");
      RenderAppend(ctx, "return false;\"");
      return true;
    });
    if (opened) {
      WriteOwnAttributes(ctx, *c);
      RenderAppend(ctx, ">");
      PushAnchor(ctx, c, start);
    }
    return;
  }
  if (!(c->flags & 0x100)) WriteWikiLink(ctx, c);
}

// Popups: returns true when the hotspot is finished (nothing more renders).
bool WritePopup(RenderContext* ctx, Call* c) {
  std::string text;
  const bool formula = c->flags & 0x10;
  bool evaluated = true;
  if (formula) {
    evaluated = FormulaText(ctx, c->data, c->dataLength, &text);  // else the empty text
  } else {
    text = CText(c->data, c->dataLength);
  }
  if (formula && (c->flags & 0x40000)) {
    // A computed text whose formula cannot be evaluated shows nothing: the
    // text the hotspot holds is its stand-in (a default label where the
    // composer had none), never a value.
    if (!evaluated) return true;
    if (text.empty()) return false;
    RTRecordNode* run = nullptr;
    ForOwnRecords(ctx, c->begin, c->end, [&](RTRecordNode* n) {
      if (IsTextRun(n->signature)) run = n;
      return run == nullptr;
    });
    if (!run) {
      AppendDocumentText(ctx, text.data(), text.size());
      return false;
    }
    // The computed text stands in for the run's text, in the run's font.
    if (ctx->session && ctx->session->globals) {
      char* block = ctx->session->globals->workBuffer1;
      const uint16_t n = uint16_t(text.size() < kWorkBlockSize - 19 ? text.size() : kWorkBlockSize - 19);
      std::memcpy(block + 16, &n, 2);
      std::memcpy(block + 18, text.data(), n);
      block[18 + n] = 0;
      ctx->currentRecord = run;
      ctx->substituteText = 1;
      ProcessXMLText(ctx, 0, 0);
      ctx->substituteText = 0;
    }
    return true;
  }
  if (c->flags & 0x40000) return c->type == 1;
  if (!formula && text.empty()) return false;
  const bool highlight = c->flags & 0x100000;
  const bool border = !(c->flags & 0x8);
  RenderAppend(ctx, "<acronym");
  if (highlight) RenderAppend(ctx, " bgcolor=\"#ffff00\"");
  else if (border) RenderAppend(ctx, " bgcolor=\"#c0c0c0\"");
  RenderAppend(ctx, " title=\"");
  AppendDocumentText(ctx, text.data(), text.size());
  RenderAppend(ctx, "\"");
  // The popup's own style first, then the hotspot's attributes (its title
  // is the popup text's).
  std::string style;
  if (!(ctx->renderFlagsA & 0x8)) {
    style = "text-decoration: none;";
    if (highlight) style += "background-color:#ffff00;";
    else if (border) style += "border:1px solid black;";
  }
  if (c->attributes) {
    WriteElementAttributes(c->attributes->data, c->attributes->length, ctx, style.c_str(), false);
  } else if (!style.empty()) {
    RenderAppend(ctx, " style=\"");
    RenderAppend(ctx, style.c_str());
    RenderAppend(ctx, "\"");
  }
  RenderAppend(ctx, ">");
  c->acronym = PushOwn(ctx, *c, "</acronym>");
  return false;
}

// ---- attachments ----------------------------------------------------------------

std::string Unid(const RenderContext* ctx) {
  ORIGINATORID_tag oid{};
  char text[40] = "00000000000000000000000000000000";
  if (NnHandle note = RenderNote(ctx); note && NnNoteGetInfo(note, NN_NOTE_INFO_OID, &oid) == NN_OK)
    std::snprintf(text, sizeof text, "%08X%08X%08X%08X", oid.File.Innards[1], oid.File.Innards[0],
                  oid.Note.Innards[1], oid.Note.Innards[0]);
  return text;
}

// "ExtraFileHotspotParams=": attribute text of the caller, filtered as an
// element's extra attributes are.
void WriteExtraParams(RenderContext* ctx) {
  std::string extra;
  if (!OptionText(ctx, "ExtraFileHotspotParams=", &extra) || extra.empty()) return;
  if (extra.size() > 4000) extra.resize(4000);
  std::vector<uint8_t> record(26, 0);
  const uint16_t len = uint16_t(extra.size());
  std::memcpy(record.data() + 12, &len, 2);
  record.insert(record.end(), extra.begin(), extra.end());
  const uint16_t size = uint16_t(record.size());
  const uint16_t sig = 0xFF7A;
  std::memcpy(record.data(), &sig, 2);
  std::memcpy(record.data() + 2, &size, 2);
  WriteElementIdAttributes(record.data(), uint32_t(record.size()), ctx, 0, 0);
}

// The file icon with the display name under it, as an inline GIF; closes the anchor.
void WriteInlineIcon(RenderContext* ctx, Call* c) {
  const char* display = ctx->hotspot.attachmentDisplayName;
  char caption[256] = {};
  // A caption cut at the buffer is still drawn.
  TranslateCharsetTextWithTable(ctx->session, display, 0, caption, sizeof caption,
                                kCharsetIdUtf8);
  const char* dot = std::strrchr(display, '.');
  std::vector<uint8_t> gif(4095);
  uint32_t size = uint32_t(gif.size());
  uint16_t width = 0, height = 0;
  const NnStatus st = AnnotateGifToBuffer(caption, ctx->iconFont, ctx->iconPointSize,
                                          dot ? dot + 1 : "", 0xFFFFFF, gif.data(), &size, &width,
                                          &height);
  if (st != NN_OK) {
    c->status = st;
    RenderAppend(ctx, "</a>");
    return;
  }
  if (size > gif.size()) size = uint32_t(gif.size());
  const std::string data = kv::Base64Encode(gif.data(), size);
  const char* alt = ctx->hotspot.attachmentDisplayNameEscaped;
  if (width > 0 && height > 0)
    RenderAppendf(ctx,
                  "<img border=\"0\" alt=\"%s\" src=\"data:image/gif;base64,%s\" width=\"%u\" "
                  "height=\"%u\" /></a>",
                  alt, data.c_str(), unsigned(width), unsigned(height));
  else
    RenderAppendf(ctx, "<img border=\"0\" alt=\"%s\" src=\"data:image/gif;base64,%s\" /></a>", alt,
                  data.c_str());
}

void WriteAttachmentNote(RenderContext* ctx, const char* fallback) {
  std::string message;
  if (!OptionText(ctx, "SeeAttachedMsg=", &message) || message.empty()) message = fallback;
  RenderAppend(ctx, "<i>(");
  AppendDocumentText(ctx, message.data(), message.size());
  RenderAppend(ctx, "'");
  RenderAppend(ctx, ctx->hotspot.attachmentDisplayNameEscaped);
  RenderAppend(ctx, "')</i>");
}

void WriteGraphicAndText(RenderContext* ctx) {
  std::string graphic;
  if (OptionText(ctx, "AttachmentGraphic=", &graphic) && !graphic.empty() &&
      !IsRefusedUrl(graphic.data(), graphic.size())) {
    RenderAppend(ctx, "<img src=\"");
    AppendDocumentUrl(ctx, graphic.data(), graphic.size());
    RenderAppendf(ctx, "\" alt=\" %s \" border=\"0\"%s", ctx->hotspot.attachmentDisplayNameEscaped,
                  Xhtml(ctx) ? " />" : ">");
  }
  if (OptionOn(ctx, "AttachmentTextInLink=")) RenderAppend(ctx, ctx->hotspot.attachmentDisplayNameEscaped);
}

// Mode 2: the file goes to the attachment directory and the link points there.
void WriteAttachmentToDisk(RenderContext* ctx, Call* c) {
  const std::string name = ctx->hotspot.attachmentName;
  const std::string unid = Unid(ctx);
  const bool asFolder = OptionOn(ctx, "AttachmentUNIDAsFolder=");
  const bool asPrefix = !asFolder && OptionOn(ctx, "AttachmentUNIDAsPrefix=");
  std::string unidPart = asFolder ? unid + "/" : asPrefix ? unid + "_" : std::string();
  const std::string safe = SafeFileName(name);
  std::string dir = ctx->attachmentDirectory ? ctx->attachmentDirectory : "";
  std::string path = dir.empty() ? std::string() : dir + "/" + unidPart + safe;
  // A name another note's file took in this render: this note's file goes
  // under its identifier, so that each link opens its own document's file.
  const auto written = ctx->hotspot.filesWritten.find(path);
  if (!path.empty() && written != ctx->hotspot.filesWritten.end() && written->second != unid) {
    unidPart = unid + "_";
    path = dir + "/" + unidPart + safe;
  }
  std::string url = ctx->attachmentURLDirectory ? ctx->attachmentURLDirectory : ".";
  if (!url.empty()) url += "/";
  // The file name is one segment of the link: "#", "?" and "%" in it are data.
  const std::string segment = EncodeUrlSegment(safe.data(), safe.size());
  url += unidPart + segment;

  char value[kOptionValueMax + 1];
  const char* dot = std::strrchr(name.c_str(), '.');
  std::string kind = std::string("File,") + (dot ? dot + 1 : "");
  if (std::strcmp(ctx->hotspot.attachmentDisplayName, name.c_str()) != 0)
    kind += std::string(",") + ctx->hotspot.attachmentDisplayName;
  std::vector<char> answerPath(kOptionValueMax + 1, 0), answerUrl(kOptionValueMax + 1, 0);
  std::snprintf(answerPath.data(), answerPath.size(), "%s", path.c_str());
  std::snprintf(answerUrl.data(), answerUrl.size(), "%s", url.c_str());
  if (GetOptionValue(ctx->optionString, "RaiseNamesEvent=", value) &&
      (strcasestr(value, "File") || strcasestr(value, "Att")) &&
      RaiseNamesEvent(ctx, kind, &answerPath, &answerUrl)) {
    path = answerPath.data();
    url = answerUrl.data();
    const size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) dir = path.substr(0, slash);
  } else if (asFolder && !dir.empty()) {
    dir += "/" + unid;
  }

  bool linked = false;
  if (!dir.empty() && !path.empty() && MakeDirectories(dir)) {
    ctx->hotspot.attachmentDirectoryMade = 1;
    std::remove(path.c_str());
    char stored[1024] = {};
    // A hotspot whose file the note lacks still shows its link; the files
    // after it are written all the same.
    if (kv::NoteFindAttachmentName(RenderNote(ctx), name.c_str(), 0, stored, sizeof stored) !=
        NN_OK) {
      NnLogMessage(NN_ERR_ITEM_NOT_FOUND, "Attachment '%s' is not in the note: not written",
                   name.c_str());
    } else if (const NnStatus st = NnNoteExtractFile(RenderNote(ctx), stored, path.c_str())) {
      c->status = st;
    } else {
      ctx->hotspot.filesWritten[path] = unid;
    }
    std::string extra;
    if (OptionText(ctx, "ExtraFileHotspotParams=", &extra) && !extra.empty()) {
      RenderAppend(ctx, "<a");
      WriteExtraParams(ctx);
      RenderAppend(ctx, " href=\"");
    } else {
      RenderAppend(ctx, "<a href=\"");
    }
    if (url.size() > 1 && url[1] == ':' && url.compare(0, 7, "file://") != 0) url = "file://" + url;
    if (IsRefusedUrl(url.data(), url.size())) url = segment;
    AppendLinkUrl(ctx, url.data(), url.size());
    RenderAppend(ctx, "\">");
    linked = true;
  }
  WriteGraphicAndText(ctx);
  if (linked) {
    c->anchor = PushOwn(ctx, *c, "</a>");
  }
}

// Returns true when the hotspot is finished (its content is not rendered).
bool WriteAttachment(RenderContext* ctx, Call* c) {
  HotspotWriterState& h = ctx->hotspot;
  const std::string internal = CText(c->data, c->dataLength);
  std::string display;
  if (internal.size() + 1 < c->dataLength)
    display = CText(c->data + internal.size() + 1, c->dataLength - internal.size() - 1);
  if (display.empty()) display = internal;
  std::snprintf(h.attachmentName, sizeof h.attachmentName, "%s", internal.c_str());
  std::snprintf(h.attachmentDisplayName, sizeof h.attachmentDisplayName, "%s", display.c_str());
  EscapeDocumentText(h.attachmentName, std::strlen(h.attachmentName), h.attachmentNameEscaped,
                     sizeof h.attachmentNameEscaped);
  EscapeDocumentText(h.attachmentDisplayName, std::strlen(h.attachmentDisplayName),
                     h.attachmentDisplayNameEscaped, sizeof h.attachmentDisplayNameEscaped);
  h.attachmentInProgress = 1;
  // MIME output written to a file carries only files on disk and names.
  if (ctx->mimeRender && ctx->basePathname && ctx->basePathname[0] &&
      ctx->attachmentHandling != 2 && ctx->attachmentHandling != 4)
    return true;
  if (OptionOn(ctx, "SuppressAttachments=")) {
    if (ctx->debugLevel >= 1)
      NnLogMessage(NN_OK, "Attachment suppressed due to SuppressAttachments setting");
    return true;
  }
  const bool mime = ctx->mimeRender != 0;
  const uint32_t mode = ctx->attachmentHandling;
  if (mode == 0) return true;
  if (ctx->renderFlagsE & 0x2) ++h.elementCounter;
  if (mode == 2) {
    WriteAttachmentToDisk(ctx, c);
    return false;
  }
  if (mode == 4) {
    if (!mime && !(ctx->renderFlagsE & 0x80) && !(ctx->renderFlagsE & 0x200)) {
      RenderAppendf(ctx, "<div id=\"%s\"></div>", h.attachmentDisplayNameEscaped);
      WriteGraphicAndText(ctx);
    } else {
      WriteAttachmentNote(ctx, "See attached file: ");
    }
    return false;
  }
  if (mode == 8) {
    const bool xpage = (ctx->renderFlagsE & 0x100) != 0;
    const bool links = OptionOn(ctx, "AttachmentLinks=");
    if (!(mime && xpage)) {
      WriteAttachmentNote(ctx, "Attached file: ");
      if (mime && (ctx->renderFlagsE & 0x80) && !links) ++h.attachmentCounter;
      return false;
    }
    ++h.attachmentCounter;
    if ((ctx->renderFlagsE & 0x80) && !(ctx->renderFlagsB & 0x800) && links) {
      RenderAppend(ctx, "<a href=\"");
      RenderAppend(ctx, EncodeUrlSegment(internal.data(), internal.size()).c_str());
      RenderAppendf(ctx, "\" title=\"%s\">", h.attachmentDisplayNameEscaped);
    } else {
      RenderAppend(ctx, "<a href=\"xsp/.kvres/OpenAttachment/");
      RenderAppend(ctx, EncodeUrlPath(SiteDatabasePath(ctx)).c_str());
      RenderAppendf(ctx, "/%s/", Unid(ctx).c_str());
      const char* item = ctx->item && ctx->item->itemName[0] ? ctx->item->itemName : "Body";
      RenderAppend(ctx, EncodeUrlSegment(item, std::strlen(item)).c_str());
      RenderAppend(ctx, "/");
      RenderAppend(ctx, EncodeUrlSegment(internal.data(), internal.size()).c_str());
      RenderAppendf(ctx, "\" title=\"%s\" class=\"xspLinkFileDownload\">",
                    h.attachmentDisplayNameEscaped);
    }
    WriteInlineIcon(ctx, c);
    return false;
  }
  // Mode 1: a link into the note's stored file.
  const std::string unid = Unid(ctx);
  if (ctx->renderFlagsE & 0x200) {
    std::string file = internal;
    const char* ownDot = std::strrchr(internal.c_str(), '.');
    const char* displayDot = std::strrchr(display.c_str(), '.');
    if (internal != display && displayDot) {
      file = internal.substr(0, ownDot ? size_t(ownDot - internal.c_str()) : internal.size()) +
             displayDot;
    }
    const size_t dot = file.find_last_of('.');
    if (dot == std::string::npos) file += ".gif";
    else file = file.substr(0, dot) + ".gif";
    RenderAppendf(ctx, "<img src=\"%s/", unid.c_str());
    RenderAppend(ctx, EncodeUrlSegment(file.data(), file.size()).c_str());
    RenderAppendf(ctx, "\" alt=\"%s\" style=\"border:none;\" />", h.attachmentDisplayNameEscaped);
    return false;
  }
  // The base stays on this site: the caller's directory, else the database
  // path relative to the data directory (never "//", a link to another host).
  const size_t start = Offset(ctx);
  RenderAppend(ctx, "<a href=\"");
  if (ctx->inPlaceAttachmentURLDirectory) {
    const char* base = ctx->inPlaceAttachmentURLDirectory;
    AppendDocumentUrl(ctx, base, std::strlen(base));
  } else {
    RenderAppend(ctx, "/");
    RenderAppend(ctx, EncodeUrlPath(SiteDatabasePath(ctx)).c_str());
  }
  RenderAppendf(ctx, "/0/%s/$FILE/", unid.c_str());
  RenderAppend(ctx, EncodeUrlSegment(internal.data(), internal.size()).c_str());
  RenderAppend(ctx, "\"");
  WriteExtraParams(ctx);
  std::string field;
  if (OptionText(ctx, "FileNamesFld=", &field) && !field.empty() && RenderNote(ctx))
    NnItemAppendTextList(RenderNote(ctx), field.c_str(), internal.c_str(),
                         uint16_t(internal.size() < 0xFFFF ? internal.size() : 0xFFFF), true);
  if (ctx->renderFlagsB & 0x800) {
    RenderAppendf(ctx, " title=\"%s\">", h.attachmentDisplayNameEscaped);
    WriteInlineIcon(ctx, c);
    return false;
  }
  RenderAppend(ctx, ">");
  PushAnchor(ctx, c, start);
  return false;
}

// Closes the elements this call opened that are still open: its own entries,
// never an enclosing hotspot's of the same name (a paragraph inside the
// content may have closed its own already).
void CloseOwn(RenderContext* ctx, Call* c) {
  for (const uint32_t serial : {c->acronym, c->anchor, c->span}) {
    if (!IsOpenElementListed(ctx, 0, serial)) continue;
    CloseOpenElementsTo(ctx, 1, "", 0);
    CloseOpenElementsThrough(ctx, 0, serial);
  }
  c->acronym = c->anchor = c->span = 0;
}

// A hotspot that writes no element of its own (an action shown with its
// scripts disabled, a formula action, a popup without text, a computed
// text, a subform or a file upload) carries its attributes on a span
// around its content.
bool CarriesSpan(const Call& c) {
  return c.attributes && !c.anchor && !c.acronym && !c.span &&
         (c.type == 1 || c.type == 2 || c.type == 14 || c.type == 22 || c.type == 24);
}

void OpenAttributeSpan(RenderContext* ctx, Call* c) {
  RenderAppend(ctx, "<span");
  WriteOwnAttributes(ctx, *c);
  RenderAppend(ctx, ">");
  c->span = PushOwn(ctx, *c, "</span>");
}

// Skips to the record after the end (and a group end right after it).
RTRecordNode* AfterEnd(RTRecordNode* end) {
  if (!end) return nullptr;
  RTRecordNode* n = end->next;
  if (end->signature == 0x00AA && n && n->signature == 0x00AA) n = n->next;
  if (n && n->signature == 0x00DE) n = n->next;
  return n;
}

// Buttons and embedded controls: their own writers; the content is theirs.
void WriteControls(RenderContext* ctx, Call* c) {
  ForOwnRecords(ctx, c->begin, c->end, [&](RTRecordNode* n) {
    if ((c->type == 3 && n->signature == 0xFFAB) || (c->type == 28 && n->signature == 0xFFF7)) {
      ctx->currentRecord = n;
      const NnStatus st = c->type == 3 ? WriteButtonHtml(ctx, c->attributes)
                                       : ProcessXMLEmbeddedCtl(ctx, c->begin->signature);
      if (st != NN_OK) c->status = st;
      if ((ctx->renderFlagsE & 0x2) && c->type == 3) ++ctx->hotspot.elementCounter;
      if (c->type == 28) return false;
    }
    return c->status == NN_OK;
  });
}

// Whether a version 5 hotspot begin renders: true when something before its
// end would show.
bool V5HotspotRenders(const RenderContext* ctx, const RTRecordNode* begin) {
  for (const RTRecordNode* n = begin->next; RecordInRange(ctx, n); n = n->next) {
    const uint16_t s = n->signature;
    if (IsHotspotEnd(s)) return false;
    if (s == 0xFFAD) {
      uint16_t type = 0;
      if (n->data) ReadU16(n->data, n->length, host::kHotspotType, &type);
      if (type == 3 || type == 12 || type == 13) return true;
      continue;
    }
    if (IsTextRun(s)) {
      if (n->length > 8) return true;
      continue;
    }
    if (s == 0x00DD || s == 0x00DE) {
      uint16_t type = 0;
      if (n->data) ReadU16(n->data, n->length, 4, &type);
      if (type != 0xFF85 && type != 0xFFE4) return true;
      continue;
    }
    if (s == 0xFFF6 || s == 0x00D2 || s == 0xFF7E || s == 0xFFF2 || s == 0xFFA9) continue;
    return true;
  }
  return false;
}

}  // namespace

void ReopenHotspotLink(RenderContext* ctx) {
  auto* c = ctx ? static_cast<Call*>(ctx->hotspot.linkCall) : nullptr;
  if (!c || !c->anchor || c->openTag.empty() || IsOpenElementListed(ctx, 0, c->anchor)) return;
  // Inside a hotspot of its content (a section that closed the link before
  // its header) the link stays closed; its own content takes it up again.
  if (ctx->hotspot.sectionOpener != c->begin) return;
  // A link whose content ends here would open empty.
  if (!RecordInRange(ctx, ctx->currentRecord) || ctx->currentRecord == c->end) return;
  if (RenderAppend(ctx, c->openTag.c_str())) c->anchor = PushOwn(ctx, *c, "</a>");
}

NnStatus PXMLH(RenderContext* ctx, uint16_t /*endType*/, uint16_t depth) {
  RTRecordNode* first = ctx->currentRecord;
  if (!first || !first->data || !IsHotspotBegin(first->signature)) {
    if (first) ctx->currentRecord = first->next;
    return NN_OK;
  }
  Trace(ctx, "PXMLH - IN");
  // A begin directly followed by its end stands for nothing.
  if (first->next && IsHotspotEnd(first->next->signature)) {
    ctx->currentRecord = first->next->next;
    Trace(ctx, "PXMLH - OUT");
    return NN_OK;
  }
  if (first->signature == 0xFF7E && !V5HotspotRenders(ctx, first)) {
    RTRecordNode* end = FindHotspotEnd(ctx, first);
    RTRecordNode* n = first;
    while (RecordInRange(ctx, n)) n = n->next;
    ctx->currentRecord = end ? AfterEnd(end) : n;
    Trace(ctx, "PXMLH - OUT");
    return NN_OK;
  }
  RTRecordNode* begin = first;
  RTRecordNode* end = FindHotspotEnd(ctx, begin);

  Call c;
  c.begin = begin;
  c.end = end;
  c.depth = depth;
  const uint8_t* d = begin->data;
  ReadU16(d, begin->length, host::kHotspotType, &c.type);
  ReadU32(d, begin->length, host::kHotspotFlags, &c.flags);
  ReadU16(d, begin->length, host::kHotspotDataLength, &c.dataLength);
  if (host::kHotspotFixed + uint32_t(c.dataLength) > begin->length)
    c.dataLength =
        uint16_t(begin->length > host::kHotspotFixed ? begin->length - host::kHotspotFixed : 0);
  c.data = d + (begin->length >= host::kHotspotFixed ? host::kHotspotFixed : begin->length);
  c.attributes = OwnAttributes(ctx, c);

  // The nesting level: one per hotspot, at most 49.
  if (ctx->sectionLevel < kMaxLevel) ++ctx->sectionLevel;
  const uint16_t level = ctx->sectionLevel;
  ctx->sectionSlots[level] = nullptr;
  const uint32_t savedAnchorOpen = ctx->hotspot.anchorOpen;
  // This hotspot opens the sections of its content (bars met by the walk in
  // its groups included) and closes them at its end.
  const void* savedOpener = ctx->hotspot.sectionOpener;
  ctx->hotspot.sectionOpener = begin;
  ++ctx->hotspot.nesting;
  void* const savedLinkCall = ctx->hotspot.linkCall;

  bool finished = false;  // nothing of the content renders
  const bool suppressLinks = OptionOn(ctx, "SuppressLinks=");
  switch (c.type) {
    case 3:
      // The button from its label; the rest of the hotspot (fields, texts)
      // renders as ordinary content after it.
      WriteControls(ctx, &c);
      break;
    case 28:
      WriteControls(ctx, &c);
      finished = true;
      break;
    case 12:
    case 13:
      ForOwnRecords(ctx, begin, end, [&](RTRecordNode* n) {
        if (n->signature == 0xFFAC) ctx->sectionSlots[level] = n;
        return n->signature != 0xFFAC;
      });
      break;
    case 1:
    case 22:
      // A computed text stands in for the content: its span comes first.
      if ((c.flags & 0x40010) == 0x40010 && CarriesSpan(c)) OpenAttributeSpan(ctx, &c);
      finished = WritePopup(ctx, &c);
      break;
    case 4:
    case 10:
      finished = WriteAttachment(ctx, &c);
      break;
    case 11:
      if (!suppressLinks && !ctx->hotspot.anchorOpen) {
        std::string url;
        bool kind2 = false;
        const bool inData = (c.flags & 0x1000) || !(c.flags & 0x1);
        if (inData && c.dataLength) {
          if (c.flags & 0x10) FormulaText(ctx, c.data, c.dataLength, &url);
          else url = CText(c.data, c.dataLength);
        }
        if (url.empty()) LinkTargetUrl(ctx, c, &url, &kind2);
        // A link hotspot whose target records name a document.
        if (url.empty() && !inData) WriteTargetDoclink(ctx, &c, true);
        else WriteUrlAnchor(ctx, &c, url);
      }
      break;
    case 2:
      if (!suppressLinks && !ctx->hotspot.anchorOpen) WriteAction(ctx, &c);
      break;
    default:
      break;
  }
  // Link-target records of any other hotspot: a URL, or a wiki link.
  if (!finished && !c.anchor && c.type != 11 && c.type != 2 && c.type != 3 && c.type != 4 &&
      c.type != 10 &&
      !suppressLinks && !ctx->hotspot.anchorOpen) {
    std::string url;
    bool kind2 = false;
    if (LinkTargetUrl(ctx, c, &url, &kind2)) WriteUrlAnchor(ctx, &c, url);
    else if (kind2 && !WriteWikiLink(ctx, &c)) WriteTargetDoclink(ctx, &c);
  }
  if (!finished && CarriesSpan(c)) OpenAttributeSpan(ctx, &c);

  // The paragraphs of its content open this call's link again.
  if (c.anchor) ctx->hotspot.linkCall = &c;

  // The content, one level deeper.
  NnStatus st = NN_OK;
  ctx->currentRecord = finished ? end : begin->next;
  if (finished && !end) {
    RTRecordNode* n = begin;
    while (RecordInRange(ctx, n)) n = n->next;
    ctx->currentRecord = n;
  }
  while (st == NN_OK && RecordInRange(ctx, ctx->currentRecord) && ctx->currentRecord != end &&
         !ctx->driver.outputFull) {
    RTRecordNode* at = ctx->currentRecord;
    if (at->signature == 0xFFAC) {
      Trace(ctx, "PXMLH - section bar");
      st = WriteSectionBar(ctx, at, 0);
      ctx->currentRecord = at->next;
      continue;
    }
    if ((at->signature == 0xFF91 || at->signature == 0xFF92) && c.anchor) {
      ctx->currentRecord = at->next;  // a link inside this call's anchor would nest anchors
      continue;
    }
    if (at->signature == 0x00DD && c.anchor && WrapsDoclink(at)) {
      // The group of the link's own target: passed over as a whole.
      RTRecordNode* n = at->next;
      while (RecordInRange(ctx, n) && n != end && !(n->signature == 0x00DE && WrapsDoclink(n)))
        n = n->next;
      ctx->currentRecord = RecordInRange(ctx, n) && n != end ? n->next : n;
      continue;
    }
    const bool anchorOnTop =
        c.anchor && ctx->blockElementList && ctx->blockElementList->serial == c.anchor;
    st = PrXMLStr(ctx, begin->signature, uint16_t(depth + 1), 0);
    if (st == NN_OK && ctx->currentRecord == at) ctx->currentRecord = at->next;
    if (st == NN_OK && anchorOnTop && !IsOpenElementListed(ctx, 0, c.anchor) &&
        !c.openTag.empty() && ctx->currentRecord != end) {
      // A paragraph closed the anchor: the rest of the hotspot stays linked.
      const size_t len = c.openTag.size();
      if (Offset(ctx) >= len + 4 &&
          std::memcmp(ctx->outputCursor - 4 - len, c.openTag.data(), len) == 0 &&
          std::memcmp(ctx->outputCursor - 4, "</a>", 4) == 0) {
        ctx->outputCursor -= 4;
        *ctx->outputCursor = 0;
      } else {
        RenderAppend(ctx, c.openTag.c_str());
      }
      c.anchor = PushOwn(ctx, c, "</a>");
    }
  }

  // The hotspot end.
  if (ctx->currentRecord == end && end) Trace(ctx, "PXMLH - #5");
  // The sections its content opened end first (with what is open inside
  // them), then what this call opened itself.
  CloseSectionsOf(ctx, begin);
  ctx->sectionSlots[level] = nullptr;
  if (ctx->sectionLevel > 0) --ctx->sectionLevel;
  // A wiki link needs nothing more than its anchor.
  ctx->hotspot.wikiLinkWritten = 0;
  ctx->hotspot.linkCall = savedLinkCall;
  CloseOwn(ctx, &c);
  ctx->hotspot.sectionOpener = savedOpener;
  --ctx->hotspot.nesting;
  ctx->hotspot.attachmentInProgress = 0;
  ctx->hotspot.anchorOpen = savedAnchorOpen;
  if (st == NN_OK && end && ctx->currentRecord == end) ctx->currentRecord = AfterEnd(end);
  if (st == NN_OK && ctx->driver.outputFull) st = NN_ERR_MEMORY;
  if (st == NN_OK) st = c.status;
  Trace(ctx, "PXMLH - OUT");
  return st;
}
