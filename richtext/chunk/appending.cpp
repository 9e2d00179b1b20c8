// The chunk's appending methods that prepare more than the frame's arguments:
// tables, rows, layers, HTML, graphics and copies of another note's chunk.
#include <strings.h>

#include <cmath>
#include <string>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/fileops.h"
#include "host/logging.h"
#include "host/noteops.h"
#include "host/options.h"
#include "host/pool.h"
#include "host/zip/zipstor.h"
#include "richtext/chunk/editing_util.h"
#include "richtext/compose/composeutil.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/rtproc.h"
#include "rtchunk.h"
#include "rtitem.h"

using namespace kv::chunkedit;

namespace {

constexpr NnStatus kStatusMissingText = 20017;
constexpr NnStatus kStatusWrongTarget = 20016;

bool Usable(const TorvoRTChunk* c) { return c->session && c->item && c->session->globals; }

void ReleaseCellTexts(LSXLsiSession* s) {
  SessionGlobals* g = s->globals;
  for (uint32_t i = 0; i < kCellTextSlots; ++i) {
    if (g->cellText[i]) PoolFree(s, g->cellText[i]);
    g->cellText[i] = nullptr;
  }
}

// A pool copy of a text with room for `extra` more bytes.
char* CopyText(LSXLsiSession* s, const char* text, uint32_t extra) {
  const size_t n = std::strlen(text);
  char* copy = static_cast<char*>(POOL_ALLOC(s, n + 1 + extra, true));
  if (copy) std::memcpy(copy, text, n + 1);
  return copy;
}

// The whole-word source kinds of AppendHTML and AppendGraphic.
bool WordIs(const char* text, const char* word) { return text && !strcasecmp(text, word); }

void CloseSessionPackage(SessionGlobals* g) {
  if (g->package) {
    if (g->packageRelease) g->packageRelease(g->package);
    else delete g->package;
  }
  g->package = nullptr;
  g->packageFileName[0] = 0;
}

void DeletePackage(zipstorage* zip) { delete zip; }

}  // namespace

namespace {

// A column's width from its "Width=" value: a number and a unit ("px",
// "%", "in", or `defaultUnit` when it has none); below 0 the column is
// fixed at the number's size. The cell option for the page goes to `html`.
// False for a value that is no width.
bool ColumnWidth(const char* value, const std::string& defaultUnit, uint16_t base,
                 long multiplier, double* twips, bool* fixed, std::string* html) {
  char* end = nullptr;
  double w = std::strtod(value, &end);
  if (end == value || !std::isfinite(w)) return false;
  const std::string unit = *end ? std::string(end) : defaultUnit;
  *fixed = w <= 0;
  w = std::fabs(w);
  const bool whole = w == std::floor(w) && w <= 65535;
  char text[64];
  if (!strcasecmp(unit.c_str(), "px") && whole) {
    std::snprintf(text, sizeof text, " CellHTMLOther=\"width='%ld'\"", long(w));
    *twips = w / double(multiplier) * 1440.0;
  } else if (unit == "%" && whole) {
    std::snprintf(text, sizeof text, " CellHTMLOther=\"width='%ld%%'\"", long(w));
    *twips = double(base) * w / 100.0;
  } else if (unit.empty() || !strcasecmp(unit.c_str(), "in")) {
    text[0] = 0;
    *twips = w * 1440.0;
  } else {
    return false;
  }
  *html = text;
  return *twips <= 65535;
}

// A column's option text takes its width and its cells' HTML attributes.
bool ColumnKeysKnown(const char* spec) {
  return OptionKeysAmong(spec, {"Width", "CellHTMLID", "CellHTMLClass", "CellHTMLStyle",
                                "CellHTMLTitle", "CellHTMLOther", "CellHTMLName"});
}

}  // namespace

NnStatus TorvoRTChunk::AppendTable(uint16_t rows, uint16_t columns, int flag, const char* options,
                                   const char* const* columnSpecs) {
  lastStatus = 0;
  if (rows < 1 || rows > 255 || columns < 1 || columns > kMaxTableColumns)
    return lastStatus = kStatusMissingText;
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  LSXLsiSession* s = session;
  SessionGlobals* g = s->globals;
  g->tableMethodFlag = uint32_t(flag);
  // The values are read whole; a key no table takes, or a value that is
  // none of the key's, is refused (1028) before anything is appended.
  NnStatus st = OptionValuesFit(options) ? 0 : NN_ERR_INVALID_ARG;
  long multiplier = 96;
  char value[kOptionValueMax + 1] = {};
  if (st == 0 && GetOptionValue(options, "PixelMultiplier=", value)) {
    char* end = nullptr;
    multiplier = std::strtol(value, &end, 10);
    if (end == value || *end) st = NN_ERR_INVALID_ARG;
    if (multiplier <= 0 || multiplier > 999) multiplier = 96;
  }
  std::string defaultUnit;
  if (st == 0 && GetOptionValue(options, "DefaultWidthUnit=", value)) {
    defaultUnit = value;
    if (strcasecmp(value, "in") && strcasecmp(value, "px") && defaultUnit != "%")
      st = NN_ERR_INVALID_ARG;
  }
  const uint16_t base = item->tableWidth ? item->tableWidth : 9360;
  g->tableBaseWidth = base;
  for (uint32_t c = 0; c < kMaxTableColumns; ++c) {
    g->columnWidths[c] = c < columns ? uint16_t(base / columns) : 0;
    g->columnFixed[c] = 0;
  }
  for (uint32_t c = 0; st == 0 && c < columns && c < kCellTextSlots && columnSpecs; ++c) {
    const char* spec = columnSpecs[c];
    if (!spec) continue;
    if (!OptionValuesFit(spec) || !ColumnKeysKnown(spec)) {
      st = NN_ERR_INVALID_ARG;
      break;
    }
    double twips = 0;
    bool fixed = false;
    std::string html;
    if (GetOptionValue(spec, "Width=", value) &&
        !ColumnWidth(value, defaultUnit, base, multiplier, &twips, &fixed, &html)) {
      st = NN_ERR_INVALID_ARG;
      break;
    }
    char* text = CopyText(s, spec, uint32_t(html.size()));
    if (!text) {
      st = NN_ERR_MEMORY;
      break;
    }
    std::strcat(text, html.c_str());
    g->cellText[c] = text;
    if (!GetOptionValue(spec, "Width=", nullptr)) continue;
    g->columnWidths[c] = uint16_t(std::lround(twips));
    g->columnFixed[c] = fixed ? 1 : 0;
  }
  if (st == 0) {
    s->ClearResultText();
    if (GetOptionValue(options, "HideFormula=", value) && *value) {
      if (CompileToResult(s, value, uint16_t(std::strlen(value))) == 0) {
        g->tableHideFormulaFlag = 1;
      } else {
        lastInternalError = kStatusMissingText;
        st = NN_ERR_CATASTROPHIC;
      }
    }
    // The column option texts stay in the cell-text slots for the table's
    // cells to take their attributes from.
    if (st == 0) st = RunFrame(2359, columns, rows, 0, 0, options, nullptr, nullptr, nullptr);
  }
  g->tableHideFormulaFlag = 0;
  g->tableBaseWidth = 0;
  std::memset(g->columnWidths, 0, sizeof g->columnWidths);
  std::memset(g->columnFixed, 0, sizeof g->columnFixed);
  ReleaseCellTexts(s);
  s->ClearResultText();
  return lastStatus = st;
}

NnStatus TorvoRTChunk::AppendRow(int flag, uint16_t row, const char* const* cellTexts) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  LSXLsiSession* s = session;
  SessionGlobals* g = s->globals;
  for (int i = 1; i <= 6; ++i) {
    delete[] eventReturn[i];
    eventReturn[i] = nullptr;
  }
  ReleaseCellTexts(s);
  if (flag == 0 && cellTexts) {
    // A null entry is an empty cell: its copied texts go.
    for (uint32_t i = 0; i < kCellTextSlots; ++i) {
      g->cellText[i] = CopyText(s, cellTexts[i] ? cellTexts[i] : "", 0);
      if (!g->cellText[i]) {
        ReleaseCellTexts(s);
        return lastStatus = NN_ERR_MEMORY;
      }
    }
  }
  char sub[32] = {};
  if (targetType == TABLE) {
    std::snprintf(sub, sizeof sub, "Row %u", row ? unsigned(row) : 1u);
  } else if (targetType != ROW) {
    ReleaseCellTexts(s);
    lastInternalError = kStatusWrongTarget;
    return lastStatus = kStatusWrongTarget;
  }
  g->FirstMatchRecord = 0;
  g->LastMatchRecord = 0;
  RunFrame(STEP_LOCATE, PROP_FIND, 0, 0, 0, nullptr, nullptr, *sub ? sub : nullptr, nullptr);
  lastStatus = 0;
  const uint32_t first = g->FirstMatchRecord, last = g->LastMatchRecord;
  if (!first) {
    // No such table or row: nothing to copy, and the caller hears of it.
    ReleaseCellTexts(s);
    lastStatus = NN_ERR_NOT_FOUND;
    return lastStatus;
  }
  // The row is copied to the end of its table, which may reach beyond this
  // chunk (a row chunk): the operation walks the whole item.
  TorvoRTChunk* whole = item->DefineChunk("");
  if (!whole) {
    ReleaseCellTexts(s);
    lastStatus = NN_ERR_MEMORY;
    return lastStatus;
  }
  NnStatus st = whole->RunFrame(2355, first, last, uint32_t(flag), 0, nullptr, nullptr, nullptr,
                                nullptr);
  delete whole;
  ReleaseCellTexts(s);
  lastStatus = st;
  return lastStatus = st;
}

NnStatus TorvoRTChunk::AppendLayer(const char* top, const char* left, const char* height,
                                   const char* width, uint16_t number, const char* text,
                                   const char* style, const char* formula,
                                   uint16_t formulaLength) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  LSXLsiSession* s = session;
  const char* values[4] = {top && *top ? top : "auto", left && *left ? left : "auto",
                           height && *height ? height : "150px",
                           width && *width ? width : "250px"};
  static const char* const kNames[4] = {"top", "left", "height", "width"};
  for (int i = 0; i < 4; ++i) {
    if (std::strpbrk(values[i], " ;")) {
      char message[128];
      std::snprintf(message, sizeof message,
                    "ZELKO: Invalid '%s' for AppendLayer. No spaces or semicolons!", kNames[i]);
      LogMessage(s, message);
      lastInternalError = kStatusMissingText;
      return lastStatus = kStatusMissingText;
    }
  }
  s->ClearResultText();
  lastStatus = 0;
  NnStatus formulaStatus = 0;
  if (formula && formulaLength > 0) {
    if (CompileToResult(s, formula, formulaLength) != 0) {
      lastInternalError = kStatusMissingText;
      lastStatus = NN_ERR_CATASTROPHIC;
      s->ClearResultText();
      formulaStatus = NN_ERR_CATASTROPHIC;
    }
  }
  const char* st = style ? style : "";
  const size_t size = std::strlen(values[0]) + std::strlen(values[1]) + std::strlen(values[2]) +
                      std::strlen(values[3]) + std::strlen(st) + 8;
  char* position = static_cast<char*>(POOL_ALLOC(s, size, true));
  if (!position) return lastStatus = NN_ERR_MEMORY;
  std::snprintf(position, size, "%s;%s;%s;%s;%s", values[0], values[1], values[3], values[2], st);
  // The engine's failure is the caller's too: a layer that was not added
  // must not read as added.
  NnStatus engineStatus = 0;
  if (formulaStatus == 0)
    engineStatus = RunFrame(2442, number, s->ResultTextLength, 0, 0, text, position, nullptr,
                            nullptr);
  PoolFree(s, position);
  s->ClearResultText();
  return formulaStatus ? formulaStatus : engineStatus;
}

NnStatus TorvoRTChunk::AppendHTML(const char* source, const char* html, const char* options) {
  uint32_t kind;
  if (!source || !*source || WordIs(source, "FILE")) kind = 1;
  else if (WordIs(source, "URL")) kind = 2;
  else if (WordIs(source, "BodyContext")) kind = 4;
  else if (!strncasecmp(source, "IN", 2)) kind = 3;
  else if (WordIs(source, "NONE")) kind = 0;
  else return lastStatus = NN_ERR_INVALID_ARG;
  // An address is not fetched here: refused rather than reported as imported.
  if (kind == 2 || !Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  SessionGlobals* g = session->globals;
  lastStatus = 0;
  // With nothing to import only the package is read;
  // an import's own keys are the importer's to check.
  if ((kind == 0 || kind == 2) && !OptionKeysAmong(options, {"Package"}))
    return lastStatus = NN_ERR_INVALID_ARG;
  char* packageName = session->OptionValue;
  if (!GetOptionValue(options, "Package=", packageName)) {
    CloseSessionPackage(g);
  } else if (!g->package || std::strcmp(g->packageFileName, packageName) != 0) {
    CloseSessionPackage(g);
    // A package that does not open (or whose name the session cannot keep
    // whole) is refused: its pages would be looked for elsewhere.
    if (std::strlen(packageName) >= sizeof g->packageFileName)
      return lastStatus = NN_ERR_INVALID_ARG;
    zipstorage* zip = nullptr;
    NnStatus st = ZipStorageLoadFile(session, packageName, &zip);
    if (st == 0 && zip && (st = ZipStorageOpenForRead(zip)) == 0) {
      g->package = zip;
      g->packageRelease = DeletePackage;
      std::strcpy(g->packageFileName, packageName);
    } else {
      delete zip;
      return lastStatus = st ? st : NnStatus(NN_ERR_INVALID_ARG);
    }
  }
  if (kind == 0 || kind == 2) return lastStatus;
  g->stepResult = 0;
  return RunFrame(OP_APPEND_HTML, kind, 0, 0, 0, html, options, nullptr, nullptr);
}

namespace {

// The keys AppendGraphic's sources read: a file "Attach=" (Yes or No, here)
// and, as an address does, "AltText=" (the picture's, read by ImportFile or
// ComposeImage). The sources that add nothing read none.
bool GraphicOptionsUsable(const char* options, uint32_t kind) {
  std::string attach;
  if (kind == 1)
    return OptionKeysAmong(options, {"Attach", "AltText"}) &&
           (!GetOptionValueString(options, "Attach=", &attach) ||
            !strcasecmp(attach.c_str(), "Yes") || !strcasecmp(attach.c_str(), "No"));
  return kind == 2 ? OptionKeysAmong(options, {"AltText"}) : OptionKeysAmong(options, {});
}

}  // namespace

NnStatus TorvoRTChunk::AppendGraphic(const char* source, const char* file, const char* options) {
  uint32_t kind;
  if (!source || !*source || WordIs(source, "FILE")) kind = 1;
  else if (WordIs(source, "URL")) kind = 2;
  else if (WordIs(source, "ATTACHMENT")) kind = 4;
  else if (WordIs(source, "BUFFER")) kind = 5;
  else return lastStatus = NN_ERR_INVALID_ARG;
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  // Pictures from an attachment or a buffer are not read here: refused
  // rather than reported as appended.
  if (kind == 4 || kind == 5 || !GraphicOptionsUsable(options, kind))
    return lastStatus = NN_ERR_INVALID_ARG;
  if (kind == 2) return RunFrame(2438, 2, 0, 0, 0, file, options, nullptr, nullptr);
  char attach[kOptionValueMax + 1] = {};
  if (!GetOptionValue(options, "Attach=", attach) || !strcasecmp(attach, "no")) {
    session->globals->stepResult = 0;
    // A GIF, JPEG or PNG file comes in as a picture.
    const uint16_t imageSwitch = item->imageSwitch;
    item->imageSwitch = 1;
    NnStatus st = RunWithOptions(this, options, [&] {
      return RunFrame(2352, 1, 0, 0, 1, file, nullptr, nullptr, nullptr);
    });
    item->imageSwitch = imageSwitch;
    return lastStatus = st;
  }
  if (!file || !*file) return lastStatus = NN_ERR_INVALID_ARG;
  char name[256] = {};
  if (!kv::NoteFreeAttachmentName(item->hNote, kv::compose::FileBaseName(file),
                                  kv::compose::FileExtension(file), name, sizeof name))
    return lastStatus = NN_ERR_INVALID_ARG;
  FILE* f = std::fopen(file, "rb");
  if (!f) return lastStatus = NN_ERR_FILE_NOT_FOUND;
  std::string bytes;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  const bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) return lastStatus = NN_ERR_FILE_IO;
  NnStatus st = NnNoteAttachData(item->hNote, name, bytes.data(), uint32_t(bytes.size()));
  if (st) return lastStatus = st;
  st = RunFrame(2438, 1, 0, 0, 0, name, options, nullptr, nullptr);
  // A picture that found no place in the item leaves no attachment behind.
  if (st) kv::NoteRemoveAttachment(item->hNote, name);
  return lastStatus = st;
}

NnStatus TorvoRTChunk::AppendRTChunk(const char* server, const char* database,
                                     unsigned long noteId, const char* itemName,
                                     const char* definition, int flag) {
  if (!Usable(this)) return lastStatus = NN_ERR_INVALID_ARG;
  TorvoRTItem* source = new (std::nothrow) TorvoRTItem(session);
  if (!source) return lastStatus = NN_ERR_MEMORY;
  NnStatus st = source->Connect(server ? server : "", database, NOTEID(noteId), itemName, 0);
  if (st) {
    delete source;
    return lastStatus = st;
  }
  TorvoRTChunk* other = source->DefineChunk(definition);
  if (!other) {
    delete source;
    return lastStatus = NN_ERR_INVALID_ARG;
  }
  linkKind = 0;
  SessionGlobals* g = session->globals;
  g->FirstMatchRecord = 0;
  g->LastMatchRecord = 0;
  if (!flag) RunFrame(STEP_NEXT_PARAGRAPH_ID, 3, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  other->RunFrame(STEP_LOCATE, PROP_FIND, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (g->FirstMatchRecord != 0) {
    RunFrame(2356, g->stepResult, uint32_t(flag), 0, 0, nullptr, nullptr, nullptr, other);
  } else {
    lastStatus = NN_ERR_ITEM_NOT_FOUND;
  }
  if (other != source->everything) delete other;
  delete source;
  return lastStatus;
}
