// The chunk's properties by name, its query methods and its events. A
// property's row names the engine step that reads or sets it and the place
// (a session buffer or number) where the value travels.
#include <strings.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "host/color.h"
#include "host/fonts.h"
#include "host/logging.h"
#include "host/options.h"
#include "lsxsessi.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/properties.h"
#include "richtext/engine/propwriters.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr uint16_t kModeText = 0;
constexpr uint16_t kModeNumber = 1;
constexpr uint32_t kStatusTextMax = 1024;

// The option of a search-option row, null for other rows.
uint16_t* OptionField(TorvoRTChunk* c, uint16_t code) {
  switch (code) {
    case 2622: return &c->AccentSensitive;
    case 2611: return &c->CaseSensitive;
    case 2632: return &c->RegularExpression;
    case 2613: return &c->SearchWordBoundaries;
    case 2616: return &c->SetImpliedProperties;
    case 2334: return &c->TextWildcards;
    default: return nullptr;
  }
}

// The text buffer of a group (1, 2, 3, and the boolean and numeric groups
// that read them), null for the others.
char* GroupBuffer(LSXLsiSession* s, uint16_t group) {
  switch (group) {
    case 1:
    case 11: return s->PropertyText;
    case 2: return s->OptionValue;
    case 3:
    case 13:
    case 19: return s->LinkText;
    default: return nullptr;
  }
}

void ClearGroup(LSXLsiSession* s, uint16_t group) {
  SessionGlobals* g = s->globals;
  switch (group) {
    case 0:
    case 10: s->ClearResultText(); break;
    case 14: g->FoundCount = 0; break;
    case 15:
    case 16:
      g->FirstMatchRecord = 0;
      g->LastMatchRecord = 0;
      break;
    case 18: g->recordTypeValue = 0; break;
    case 20: g->paraDefValue = 0; break;
    default:
      if (char* b = GroupBuffer(s, group)) b[0] = 0;
      break;
  }
}

// Copies `n` bytes of text into the caller's buffer, cut to size - 1.
uint16_t CopyOut(const char* text, uint32_t n, char* buffer, uint16_t size) {
  if (!buffer || size == 0) return 0;
  if (n > uint32_t(size - 1)) n = size - 1u;
  if (n) std::memmove(buffer, text, n);
  buffer[n] = 0;
  return uint16_t(n);
}

// The byte length of a text group's value, as the platform counts it.
uint32_t TextLength(LSXLsiSession* s, const char* text, uint32_t capacity) {
  uint32_t bytes = 0;
  if (NnCharsetByteSize(text, 65535, capacity, &bytes, s->globals->charsetInfo) != NN_OK)
    return uint32_t(strnlen(text, capacity));
  if (bytes && bytes <= capacity && text[bytes - 1] == 0) --bytes;
  return bytes;
}

void StatusText(NnStatus status, const char* prefix, char* out, size_t outSize) {
  char text[kStatusTextMax + 1] = {};
  NnLoadStatusText(NnStatus(status & 0x3FFF), text, uint16_t(sizeof text - 1));
  text[kStatusTextMax] = 0;
  std::snprintf(out, outSize, "%s%s", prefix, text);
}

// Turns the compiled formula in the result text back into formula text.
void DecompileResult(LSXLsiSession* s) {
  if (s->ResultTextLength == 0) return;
  NnHandle h = 0;
  uint16_t len = 0;
  NnStatus st = NnFormulaToText(s->ResultText, s->ResultTextLength, &h, &len);
  if (st != NN_OK) {
    char message[kStatusTextMax + 16];
    StatusText(st, "*** Error: ", message, sizeof message);
    s->SetResultText(message, uint32_t(std::strlen(message)));
    return;
  }
  const char* text = static_cast<const char*>(NnMemLock(h));
  if (text)
    s->SetResultText(text, len);
  else
    s->ClearResultText();
  NnMemUnlock(h);
  NnMemFree(h);
}

void Refuse(LSXLsiSession* s, const char* format, const char* name) {
  char message[kTextBufferSize];
  std::snprintf(message, sizeof message, format, s->ProductName(), name);
  s->SetResultText(message, uint32_t(std::strlen(message)));
  LogMessage(s, message);
}

// A double as the 16-bit number the engine takes: truncated, cut to the range.
uint16_t To16(double value) {
  if (!std::isfinite(value)) return 0;
  if (value >= 2147483647.0) value = 2147483647.0;
  if (value <= -2147483648.0) value = -2147483648.0;
  return uint16_t(int32_t(value));
}

// The formula rows whose values the chunk compiles and decompiles: the
// action formula, and the hide formula, whose step also works on compiled
// bytes (a formula text stored as compiled bytes would corrupt the item).
bool IsHideFormula(const ChunkPropertyRow* row) {
  return row->code == 2333 && row->getStep == 24;
}

uint32_t ParseHex(const char* text, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n && text[i]; ++i) {
    int c = std::tolower(static_cast<unsigned char>(text[i]));
    if (c >= '0' && c <= '9')
      v = v << 4 | uint32_t(c - '0');
    else if (c >= 'a' && c <= 'f')
      v = v << 4 | uint32_t(c - 'a' + 10);
  }
  return v;
}

void ParseUnid(const char* text, UNIVERSALNOTEID_tag* out) {
  if (!text || std::strlen(text) != 32) return;
  out->File.Innards[1] = ParseHex(text, 8);
  out->File.Innards[0] = ParseHex(text + 8, 8);
  out->Note.Innards[1] = ParseHex(text + 16, 8);
  out->Note.Innards[0] = ParseHex(text + 24, 8);
}

uint32_t Len(const char* t) { return t ? uint32_t(std::strlen(t)) : 0; }

constexpr uint16_t kCodeCellColor = 2606;
constexpr size_t kRowLabelMax = 127;
constexpr uint16_t kTextValue = 5;  // a row's valueType for a text
constexpr uint16_t kCodeFontColor = 2318;
constexpr uint16_t kCodeTextAttributes = 2333;
constexpr uint16_t kCodeExists = 2315;
constexpr uint16_t kCodeCellIsMerged = 2601;
constexpr uint16_t kCodeTargetColumn = 2602;
constexpr uint16_t kCodeTargetRow = 2603;
constexpr uint16_t kCodeInsideHotspot = 2615;
constexpr uint16_t kCodeRecordType = 2330;
constexpr uint16_t kCodeTargetType = 2348;
constexpr uint16_t kCodeUnzoomed = 2335;
constexpr uint16_t kCodeGraphicStorage = 2630;
constexpr uint16_t kCodeUnformattedText = 2610;
constexpr uint16_t kCodeRowLabel = 2608;
constexpr uint16_t kStepUrlSet = 55;

// A run stores each line break as a NUL among its characters; the text
// properties carry it as "\n" both ways, so that a run read and set back is
// the run it was (a NUL would end the value at its first line break).
bool IsRunText(const ChunkPropertyRow* row) {
  return row->code == PROP_TEXT || row->code == kCodeUnformattedText;
}

void LineBreaksToNewlines(LSXLsiSession* s) {
  for (uint32_t i = 0; i < s->ResultTextLength; ++i)
    if (s->ResultText[i] == 0) s->ResultText[i] = '\n';
}

// The engine code that reads a row: its get step, or for the cell position
// rows the engine's own position query.
uint16_t ReadCode(const ChunkPropertyRow* row) {
  if (row->code == kCodeTargetColumn || row->code == kCodeTargetRow) return row->code;
  return row->getStep;
}

// Rows the chunk handles whose value the engine still reads: the chunk's
// share of them is only where the value is set.
bool EngineReads(const ChunkPropertyRow* row) {
  return row->chunkHandled && ReadCode(row) && row->code != PROPC_ACTION_FORMULA &&
         row->code != kCodeExists;
}

// Steps that answer in the result text while their row reads a text buffer:
// the value is carried over to the buffer the row names.
bool AnswersInResultText(uint16_t code) {
  return code == kCodeCellIsMerged || code == PROPC_PASSTHRU || code == kCodeTargetColumn ||
         code == kCodeTargetRow;
}

// The cell colour step leaves a palette index (kNoCellColor when the cell
// has none) or an RGB value in the session; the property reads it as a
// colour text, in the form the table properties write colours.
constexpr uint16_t kNoCellColor = 0xFFFF;

void CellColorText(LSXLsiSession* s) {
  SessionGlobals* g = s->globals;
  char text[64] = {};
  const uint32_t rgb = g->CellColorRgb & 0xFFFFFF;
  if (g->CellColorRgb & SessionGlobals::kCellColorRgbGiven) {
    std::snprintf(text, sizeof text, "RGB%u,%u,%u", unsigned(rgb & 0xFF),
                  unsigned(rgb >> 8 & 0xFF), unsigned(rgb >> 16 & 0xFF));
  } else if (g->CellColorIndex < kPaletteSize) {
    const uint16_t i = g->CellColorIndex;
    if (const char* name = ColorName(i, ColorNames::Standard))
      std::snprintf(text, sizeof text, "%s", name);
    else
      std::snprintf(text, sizeof text, "#%02x%02x%02x", PaletteRgbTable[i][0],
                    PaletteRgbTable[i][1], PaletteRgbTable[i][2]);
  }
  if (g->CellColorIndex == kNoCellColor) g->CellColorIndex = 0;
  s->SetResultText(text, uint32_t(std::strlen(text)));
}

// The first record of the chunk's target in the item's list; null when the
// target does not exist.
const RTRecordNode* FirstTargetRecord(TorvoRTChunk* c) {
  SessionGlobals* g = c->session->globals;
  g->FirstMatchRecord = 0;
  g->LastMatchRecord = 0;
  c->RunFrame(STEP_LOCATE, PROP_FIND, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  const uint32_t first = g->FirstMatchRecord;
  g->FirstMatchRecord = 0;
  g->LastMatchRecord = 0;
  if (!first || !c->item || !c->item->context || !c->item->context->records) return nullptr;
  const RecordList* list = c->item->context->records;
  for (const RTRecordNode* n = RecordListNext(list, nullptr); n; n = RecordListNext(list, n))
    if (n->sequence == first) return n;
  return nullptr;
}

// 1 when the target begins inside a hotspot or link: one was opened before
// its first record and not closed yet.
uint16_t InsideHotspotAt(const RecordList* list, const RTRecordNode* target) {
  bool hotspot = false, link = false;
  for (const RTRecordNode* n = RecordListNext(list, nullptr); n && n != target;
       n = RecordListNext(list, n)) {
    switch (n->signature) {
      case 0xFFAD: link = true; break;
      case 0xFFA9: case 0xFF7E: case 0xFF74: hotspot = true; break;
      case 0xAE: link = false; break;
      case 0xAA: case 0x7F: hotspot = false; break;
      default: break;
    }
  }
  return hotspot || link ? 1 : 0;
}

// The two numbers the engine has no step for, from the target's first record.
void AnswerFromTarget(TorvoRTChunk* c, uint16_t code) {
  SessionGlobals* g = c->session->globals;
  const RTRecordNode* first = FirstTargetRecord(c);
  if (!first) return;
  if (code == kCodeInsideHotspot)
    g->FoundCount = InsideHotspotAt(c->item->context->records, first);
  else
    g->recordTypeValue = first->signature;
}

// The cell colour: a colour text the colour parser reads. A standard colour
// is stored as its palette index, any other as its RGB value.
int SetCellColor(TorvoRTChunk* c, const char* value, uint16_t length) {
  char text[kTextBufferSize];
  const size_t n = strnlen(value, length < sizeof text - 1 ? length : sizeof text - 1);
  std::memcpy(text, value, n);
  text[n] = 0;
  uint16_t index = 0;
  ColorRGB rgb{};
  if (ParseColor(text, &index, &rgb) != 0) return 0;
  SessionGlobals* g = c->session->globals;
  // An RGB text keeps its form (the cell reads back as it was written); a
  // standard colour named otherwise is its palette entry.
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  const bool rgbForm = strncasecmp(p, "RGB", 3) == 0;
  const bool standard = !rgbForm && index < 16 && PaletteColor(index) == rgb;
  g->CellColorIndex = standard ? index : 0;
  g->CellColorRgb = standard ? 0
                              : uint32_t(rgb.red) | uint32_t(rgb.green) << 8 |
                                    uint32_t(rgb.blue) << 16 | SessionGlobals::kCellColorRgbGiven;
  const NnStatus st =
      c->RunFrame(2394, kCodeCellColor, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  g->CellColorIndex = 0;
  g->CellColorRgb = 0;
  return st == 0 ? 1 : 0;
}

// A font property takes the words of its own part and nothing else: a colour
// for the font colour, attributes and highlights for the text attributes. A
// face or a size given there would be dropped; a word that reads as nothing
// would leave the run as it was.
bool FontPartOnly(TorvoRTChunk* c, uint16_t code, const char* value, uint16_t length) {
  const std::string text(value, strnlen(value, length));
  FontState state;
  uint32_t mask = 0;
  const ColorNames names = ItemColorNaming(c->item) ? ColorNames::Standard : ColorNames::Web;
  if (ParseFontSpec(text.c_str(), nullptr, c->item, &state, &mask, names) != 0) return false;
  const uint32_t own =
      code == kCodeFontColor ? FONT_MASK_COLOR : FONT_MASK_STYLES | FONT_MASK_HIGHLIGHT;
  return (mask & ~own) == 0 && (mask != 0 || code == kCodeTextAttributes);
}

}  // namespace

// ---- get -------------------------------------------------------------------------------

uint16_t TorvoRTChunk::GetPropertyInternal(const char* name, char* buffer, uint16_t size,
                                           double* number, uint16_t mode) {
  if (buffer && size) buffer[0] = 0;
  if (!session || !session->IsValid()) return 0;
  const ChunkPropertyRow* row = FindChunkProperty(name);
  if (!row) return 0;
  LSXLsiSession* s = session;
  SessionGlobals* g = s->globals;
  ClearGroup(s, row->group);

  // Without a caller buffer the text is still needed for its number.
  char local[64];
  if (!buffer || size == 0) {
    buffer = local;
    size = sizeof local;
    buffer[0] = 0;
  }
  uint16_t written = 0;
  double value = 0;
  bool haveNumber = false;

  if (!row->chunkHandled || EngineReads(row)) {
    if (row->code == kCodeCellColor) {
      g->CellColorIndex = kNoCellColor;
      g->CellColorRgb = 0;
    }
    if (AnswersInResultText(row->code)) s->ClearResultText();
    if (ReadCode(row))
      RunFrame(ReadCode(row), row->code, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    else if (row->code == kCodeInsideHotspot || row->code == kCodeRecordType)
      AnswerFromTarget(this, row->code);
    if (IsHideFormula(row)) DecompileResult(s);
    if (IsRunText(row)) LineBreaksToNewlines(s);
    if (row->code == kCodeCellColor) CellColorText(s);
    if (AnswersInResultText(row->code) && s->ResultTextLength && GroupBuffer(s, row->group))
      CopyOut(s->ResultText, s->ResultTextLength, GroupBuffer(s, row->group), kTextBufferSize);
    if (row->group <= 10) {
      const char* text;
      uint32_t capacity;
      if (row->group == 0 || row->group == 10) {
        text = s->ResultText;
        capacity = uint32_t(s->ResultTextLength) + 1;
      } else {
        text = GroupBuffer(s, row->group);
        capacity = kTextBufferSize;
      }
      if (text) written = CopyOut(text, TextLength(s, text, capacity), buffer, size);
    } else {
      char numberText[32] = {};
      const char* text = numberText;
      switch (row->group) {
        case 11:
        case 13:
          text = GroupBuffer(s, row->group);
          value = strcasecmp(text, "TRUE") == 0 ? 1 : 0;
          break;
        case 14:
          value = g->FoundCount;
          std::snprintf(numberText, sizeof numberText, "%u", unsigned(g->FoundCount));
          break;
        case 15:
          value = g->FirstMatchRecord;
          std::snprintf(numberText, sizeof numberText, "%ld", long(g->FirstMatchRecord));
          break;
        case 16:
          value = g->LastMatchRecord;
          std::snprintf(numberText, sizeof numberText, "%ld", long(g->LastMatchRecord));
          break;
        case 18:
          value = g->recordTypeValue;
          std::snprintf(numberText, sizeof numberText, "%ld", long(g->recordTypeValue));
          break;
        case 19:
          text = GroupBuffer(s, row->group);
          value = std::atof(text);
          break;
        case 20:
          value = g->paraDefValue;
          std::snprintf(numberText, sizeof numberText, "%ld", long(g->paraDefValue));
          break;
        default:
          break;
      }
      haveNumber = true;
      if (mode == kModeText) written = CopyOut(text, Len(text), buffer, size);
    }
  } else {
    switch (row->code) {
      case PROPC_ACTION_FORMULA:
        s->ClearResultText();
        RunFrame(row->getStep, row->code, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        DecompileResult(s);
        written = CopyOut(s->ResultText, s->ResultTextLength, buffer, size);
        break;
      case PROPC_DEFINITION:
        if (definitionText) written = CopyOut(definitionText, Len(definitionText), buffer, size);
        break;
      case kCodeUnzoomed: {
        // The definition before the first zoom; the current one when not zoomed.
        const char* text = outerDefinitionText ? outerDefinitionText : definitionText;
        if (text) written = CopyOut(text, Len(text), buffer, size);
        break;
      }
      case kCodeTargetType: {
        const char* name = GetTargetTypeName(targetType, "");
        if (!name) name = targetType == PAGEBREAK ? "PageBreak" : "TaggedText";
        written = CopyOut(name, Len(name), buffer, size);
        break;
      }
      case kCodeExists:
        value = Exists();
        haveNumber = true;
        if (mode == kModeText)
          written = CopyOut(value ? "1" : "0", 1, buffer, size);
        break;
      case 2623:
        haveNumber = true;
        if (mode == kModeText) written = CopyOut("0", 1, buffer, size);
        break;
      default:
        if (uint16_t* field = OptionField(this, row->code)) {
          value = *field ? 1 : 0;
          haveNumber = true;
          if (mode == kModeText) {
            char text[32];
            int n = std::snprintf(text, sizeof text, "%f", value);
            written = CopyOut(text, uint32_t(n), buffer, size);
          }
        }
        // The other rows the chunk answers itself have no value here.
        break;
    }
  }
  if (mode == kModeNumber) {
    if (!haveNumber) value = std::atof(buffer);
    if (number) *number = value;
    return 0;
  }
  return buffer == local ? 0 : written;
}

double TorvoRTChunk::GetPropertyNumber(const char* name) {
  double value = 0;
  GetPropertyInternal(name, nullptr, 0, &value, kModeNumber);
  return value;
}

uint16_t TorvoRTChunk::GetPropertyText(const char* name, char* buffer, uint16_t size) {
  return GetPropertyInternal(name, buffer, size, nullptr, kModeText);
}

// ---- set -------------------------------------------------------------------------------

int TorvoRTChunk::SetPropertyNumber(const char* name, double value) {
  if (!session || !session->IsValid()) return 0;
  // A refusal before the engine runs is the caller's failure too; an engine
  // call sets its own status.
  lastStatus = NN_ERR_INVALID_ARG;
  const ChunkPropertyRow* row = FindChunkPropertyAnywhere(name);
  if (!row) return 0;
  if (row->readOnly) {
    Refuse(session, "%s: Unable to set read-only property '%s'", row->name);
    return 0;
  }
  if (!row->chunkHandled && !row->setStep) {
    Refuse(session, "%s: No handler enabled to set property '%s'", row->name);
    return 0;
  }
  // A number sets a number: a text property given one would be emptied (the
  // font colour alone takes a palette number, below).
  if ((row->valueType == kTextValue && row->setStep != 2363) || !std::isfinite(value)) return 0;
  if (row->group >= 1 && row->group <= 3)
    std::strcpy(GroupBuffer(session, row->group), value == 0 ? "TRUE" : "FALSE");
  if (row->setStep == 2363) {
    // A font property as a number: the font colour's palette entry; no
    // other font part is a number.
    if (row->code != kCodeFontColor || !(value >= 0 && value < kPaletteSize) ||
        value != std::floor(value))
      return 0;
    char colour[16];
    std::snprintf(colour, sizeof colour, "COLOR%d", int(value));
    return RunFrame(row->setStep, row->code, uint32_t(std::strlen(colour)), 0, 0, colour, nullptr,
                    nullptr, nullptr) == 0
               ? 1
               : 0;
  }
  if (!row->chunkHandled)
    return RunFrame(row->setStep, row->code, To16(value), 0, 0, nullptr, nullptr, nullptr,
                    nullptr) == 0
               ? 1
               : 0;
  if (uint16_t* field = OptionField(this, row->code)) {
    *field = To16(value);
    lastStatus = 0;
    return 1;
  }
  if (row->code == PROPC_PASSTHRU) {
    // 1 marks the target as pass-through HTML, 0 clears it. A target marked
    // wholly (for 1) or not at all (for 0) is left as it is: the tidying
    // after a change would otherwise rewrite what lies around it.
    const uint16_t mark = value != 0 ? 1 : 0;
    if (mark) {
      session->ClearResultText();
      RunFrame(row->getStep, 1, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
      if (strcasecmp(session->ResultText, "TRUE") == 0) return lastStatus = 0, 1;
    } else if (GetPropertyNumber(row->name) == 0) {
      return lastStatus = 0, 1;
    }
    if (RunFrame(48, mark, 0, 0, 0, nullptr, nullptr, nullptr, nullptr) != 0 ||
        RunFrame(STEP_CLEANUP_TEXT, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr) != 0)
      return 0;
    // The marking reads back, or the call failed.
    if ((GetPropertyNumber(row->name) != 0) == (mark != 0)) return 1;
    lastStatus = NN_ERR_INVALID_ARG;
    return 0;
  }
  return 0;
}

namespace {

// Compiles formula text; on failure logs "Zelko: " and the platform's text.
bool CompileFormula(LSXLsiSession* s, const char* text, uint16_t length, NnHandle* h,
                    uint16_t* compiledLen) {
  uint16_t errOffset = 0, errLength = 0;
  NnStatus st = NnFormulaCompile(text, length, h, compiledLen, &errOffset, &errLength);
  if (st == NN_OK) return true;
  char message[kStatusTextMax + 16];
  StatusText(st, "Zelko: ", message, sizeof message);
  LogMessage(s, message);
  return false;
}

}  // namespace

int TorvoRTChunk::SetPropertyText(const char* name, const char* value, uint16_t length) {
  if (!session || !session->IsValid() || !name) return 0;
  LSXLsiSession* s = session;
  lastStatus = NN_ERR_INVALID_ARG;  // as in SetPropertyNumber
  const ChunkPropertyRow* row = nullptr;
  if (!value) {
    // The name is an option string: the first settable property it names.
    if (!std::strchr(name, '=')) return 0;
    for (size_t i = 0; i < kChunkPropertyRows && ChunkPropertyTable[i].name; ++i) {
      const ChunkPropertyRow& r = ChunkPropertyTable[i];
      if (!r.setStep) continue;
      char key[64];
      std::snprintf(key, sizeof key, "%s=", r.name);
      if (GetOptionValue(name, key, s->PropertyText)) {
        row = &r;
        break;
      }
    }
    if (!row) return 0;
    value = s->PropertyText;
    length = uint16_t(strnlen(value, kTextBufferSize - 1));
  } else {
    row = FindChunkPropertyAnywhere(name);
    if (!row) return 0;
    if (length == 0) length = uint16_t(strnlen(value, 0xFFFF));
    if (row->readOnly) {
      Refuse(s, "%s: Unable to set read-only property '%s'", row->name);
      return 0;
    }
    if (!row->chunkHandled && !row->setStep) {
      Refuse(s, "%s: No handler enabled to set property '%s'", row->name);
      return 0;
    }
  }
  const bool actionFormula = row->chunkHandled && row->code == PROPC_ACTION_FORMULA;
  if (row->code == kCodeCellColor) return SetCellColor(this, value, length);
  if (row->chunkHandled && !actionFormula) return 0;
  if (actionFormula || IsHideFormula(row)) {
    // Formulas travel compiled; an empty hide formula removes it.
    NnHandle h = 0;
    uint16_t compiledLen = 0;
    if (length == 0 && !actionFormula) {
      s->ClearResultText();
    } else {
      if (!CompileFormula(s, value, length, &h, &compiledLen)) return 0;
      const void* compiled = NnMemLock(h);
      if (!compiled || compiledLen > kResultTextSize - 1) {
        if (compiled) NnMemUnlock(h);
        NnMemFree(h);
        return 0;
      }
      s->SetResultText(static_cast<const char*>(compiled), compiledLen);
      NnMemUnlock(h);
      NnMemFree(h);
    }
    return RunFrame(row->setStep, row->code, s->ResultTextLength, 0, 0, s->ResultText, nullptr,
                    nullptr, nullptr) == 0
               ? 1
               : 0;
  }
  if (row->setStep == 2363 && !FontPartOnly(this, row->code, value, length)) return 0;
  if (row->setStep == 2363 && row->code == kCodeTextAttributes) {
    // The attributes are the whole set the run takes, as the property reads
    // them: those not named go ("Bold" on an italic run gives bold alone).
    std::string whole = "Plain " + std::string(value, strnlen(value, length));
    return RunFrame(row->setStep, row->code, uint32_t(whole.size()), 0, 0, whole.c_str(), nullptr,
                    nullptr, nullptr) == 0
               ? 1
               : 0;
  }
  auto is = [&](const char* word) {
    return std::strlen(word) == length && strncasecmp(value, word, length) == 0;
  };
  // A value the target reads already is kept as it is, so that what the
  // property reads sets back: a picture's storage other than "inline" and
  // "storage" (the only ones that move it; others are refused), and a row
  // label (each row of a table takes a new label, though each holds its own).
  const bool storage = row->code == kCodeGraphicStorage && !is("inline") && !is("storage");
  const std::string given(value, strnlen(value, length));
  value = given.c_str();  // the reading below may reuse the buffer the value came in
  // A row label record holds 127 characters: a longer label would be cut.
  if (row->code == kCodeRowLabel && given.size() > kRowLabelMax) return 0;
  if (storage || row->code == kCodeRowLabel) {
    char now[kTextBufferSize] = {};
    GetPropertyText(row->name, now, sizeof now);
    if (now[0] && (storage ? strcasecmp(now, value) == 0 : given == now)) return lastStatus = 0, 1;
  }
  // The URL (read-only by name, reached through an option string) is set by
  // the step that follows the link change: the link change itself takes
  // identifiers only.
  const uint16_t step = row->code == PROPC_LINK_URL ? kStepUrlSet : row->setStep;
  if (IsRunText(row)) {
    std::string text(value, strnlen(value, length));
    for (char& c : text)
      if (c == '\n') c = 0;
    return RunFrame(step, row->code, uint32_t(text.size()), 0, 0, text.c_str(), nullptr, nullptr,
                    nullptr) == 0
               ? 1
               : 0;
  }
  return RunFrame(step, row->code, length, 0, 0, value, nullptr, nullptr, nullptr) == 0 ? 1 : 0;
}

// ---- queries ----------------------------------------------------------------------------

char* TorvoRTChunk::GetHTMLValue(const char* attribute, const char* element) {
  if (!session) return nullptr;
  lastInternalError = 0;
  session->ClearResultText();
  static const char* const kAttributes[6] = {"NAME", "ID", "CLASS", "STYLE", "TITLE", "OTHER"};
  uint32_t which = 0;
  for (uint32_t i = 0; attribute && i < 6; ++i)
    if (strcasecmp(attribute, kAttributes[i]) == 0) which = i + 1;
  if (!which) return session->ResultText;
  uint32_t elem = 0;
  if (element && strcasecmp(element, "Table") == 0) elem = 1;
  if (element && strcasecmp(element, "Cell") == 0) elem = 2;
  RunFrame(2421, which, elem, 0, 0, attribute, nullptr, nullptr, nullptr);
  return session->ResultText;
}

char* TorvoRTChunk::GetTargetProperties(const char* typeName, const char* propertyName) {
  if (!session) return nullptr;
  session->ClearResultText();
  uint16_t type = FindTargetTypeByName(typeName);
  uint32_t index = FindTargetPropertyIndex(type, propertyName);
  RunFrame(2436, index, type, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (propertyName && *propertyName) {
    char key[256];
    std::snprintf(key, sizeof key, "%s=", propertyName);
    char value[kOptionValueMax + 1];
    if (GetOptionValue(session->ResultText, key, value))
      session->SetResultText(value, uint32_t(std::strlen(value)));
    else
      session->ClearResultText();
  }
  return session->ResultText;
}

char* TorvoRTChunk::GetTableProperties(const char* propertyName) {
  if (!session) return nullptr;
  session->ClearResultText();
  RunFrame(2414, FindTargetPropertyIndex(TABLE, propertyName), 0, 0, 0, nullptr, nullptr, nullptr,
           nullptr);
  return session->ResultText;
}

char* TorvoRTChunk::GetEncodedValue(uint16_t size, uint16_t flagA, uint16_t flagB) {
  if (!session) return nullptr;
  lastInternalError = 0;
  uint32_t limit = size == 0 ? 4096 : size >= kResultTextSize ? kResultTextSize - 1 : size;
  if (limit < 128) return nullptr;
  session->ClearResultText();
  RunFrame(2825, limit, flagB == 1 ? 1 : 0, flagA == 1 ? 1 : 0, 0, nullptr, nullptr, nullptr,
           nullptr);
  return session->ResultTextLength ? session->ResultText : nullptr;
}

char* TorvoRTChunk::GetCellBorder(const char* side) {
  if (!session) return nullptr;
  lastInternalError = 0;
  session->ClearResultText();
  uint32_t n = 0;
  switch (side ? std::toupper(static_cast<unsigned char>(side[0])) : 0) {
    case 'L': n = 1; break;
    case 'R': n = 2; break;
    case 'T': n = 3; break;
    case 'B': n = 4; break;
    default: break;
  }
  RunFrame(2407, n, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  return session->ResultText;
}

long TorvoRTChunk::GetRichTextStat(uint16_t which) {
  if (!session || !session->IsValid()) return 0;
  session->globals->FirstMatchRecord = 0;
  RunFrame(77, which, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  return long(session->globals->FirstMatchRecord);
}

// ---- events -------------------------------------------------------------------------------

void TorvoRTChunk::SetEventRetString(uint16_t slot, const char* text, uint16_t length) {
  if (slot < 1 || slot > 6) return;
  char* copy = new (std::nothrow) char[size_t(length) + 1];
  if (!copy) return;
  if (text && length) std::memcpy(copy, text, length);
  else length = 0;
  copy[length] = 0;
  delete[] eventReturn[slot];
  eventReturn[slot] = copy;
}

void TorvoRTChunk::CleanupEventRetString(uint16_t slot) {
  if (slot < 1 || slot > 6) return;
  delete[] eventReturn[slot];
  eventReturn[slot] = nullptr;
}

void TorvoRTChunk::RaiseActOnText(const char* text, uint16_t length) {
  if (internal && internal->ActOnText) internal->ActOnText(this, text, length);
}

void TorvoRTChunk::RaiseQueryExportNames(const char* kind, char* path, char* url) {
  if (internal && internal->QueryExportNames) internal->QueryExportNames(this, kind, path, url);
}

void TorvoRTChunk::RaiseQueryLinkData(const char*, uint16_t, uint16_t kind, const char* replicaId,
                                      const char* viewId, const char* noteId, const char* text1,
                                      const char* text2, const char* text3) {
  if (!internal || !internal->QueryLinkData) return;
  tagTIMEDATE replica = {};
  UNIVERSALNOTEID_tag view = {}, note = {};
  const size_t n = replicaId ? std::strlen(replicaId) : 0;
  if (n == 16 && std::strchr(replicaId, ':')) {
    replica.Innards[0] = ParseHex(replicaId + 8, 8);
    replica.Innards[1] = ParseHex(replicaId, 8);
  } else if (n >= 18 && replicaId[0] == '_' && std::strchr(replicaId, ':')) {
    replica.Innards[1] = ParseHex(replicaId + 2, 8);
    replica.Innards[0] = ParseHex(replicaId + 10, 8);
  }
  ParseUnid(viewId, &view);
  ParseUnid(noteId, &note);
  internal->QueryLinkData(this, kind, replicaId, uint32_t(n), &replica, &view, &note, text1,
                          Len(text1), text2, Len(text2), text3, Len(text3));
}
