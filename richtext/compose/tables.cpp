// Table composition: new tables, the table keys of option strings, border
// records and CSS-like lengths.
#include <strings.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/color.h"
#include "host/options.h"
#include "lsxsessi.h"
#include "richtext/compose/composers.h"
#include "richtext/compose/composeutil.h"
#include "richtext/engine/rtproc.h"
#include "richtext/engine/tablefields.h"
#include "rtitem.h"

using namespace kv::compose;

namespace {

constexpr NnStatus kStatusBadArgument = 20017;
constexpr uint32_t kPreTableLength = 48;
constexpr uint32_t kTableBeginLength = 14;
constexpr uint32_t kCellLength = 18;
constexpr uint32_t kTableEndLength = 8;
constexpr uint32_t kBorderLength = 60;
constexpr uint16_t kDefaultTableWidth = 9360;  // 6.5 inches

// Columns the table composer has laid out since the counter was cleared; a
// caller that builds several tables in one document clears it (2443).
std::atomic<uint32_t> g_columnCounter{0};

// A number at the start of a text; false when there is none.
bool LeadingNumber(const char* text, double* value, const char** rest) {
  if (!text) return false;
  while (*text == ' ') ++text;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || !std::isfinite(v)) return false;
  *value = v;
  if (rest) *rest = end;
  return true;
}

// The border style's code; false for a word that names none.
bool BorderStyleCode(const char* value, uint16_t* code) {
  static const char* const kNames[] = {"none", "solid", "double", "inset", "outset", "ridge",
                                       "groove", "dotted", "dashed", "picture", "graphic"};
  for (uint16_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i)
    if (!strcasecmp(value, kNames[i])) return *code = i, true;
  if (!strcasecmp(value, "single")) return *code = 1, true;
  return false;
}

// The cell attribute record of a column's option text: its CellHTMLId,
// CellHTMLClass, CellHTMLStyle, CellHTMLTitle, CellHTMLOther and CellHTMLName
// keys. Nothing when it has none of them.
NnStatus ComposeColumnCellAttributes(const char* options, RTProcessContext* ctx) {
  bool written = false;
  return ComposeHtmlAttributesFromOptions(0xFF7B, options, "Cell", nullptr, false, ctx, &written);
}

// The keys a new table takes besides the table keys: the border record's,
// and those the appending method reads itself.
bool IsBorderKey(const char* key, size_t n) {
  return OptionKeyAmong(key, n, {"BorderStyle", "BorderColor", "BorderThickness", "BorderInner",
                                 "BorderOuter", "BorderShadow"});
}
bool IsMethodKey(const char* key, size_t n) {
  return OptionKeyAmong(key, n, {"HideFormula", "PixelMultiplier", "DefaultWidthUnit"});
}

// 1028 for a word of the options that is no pair, or a key no new table
// takes; *bordered tells whether a border key is among them.
NnStatus CheckNewTableKeys(const char* options, bool* bordered) {
  *bordered = false;
  const char* p = options ? options : "";
  OptionPair pair;
  int r;
  while ((r = NextOptionPair(&p, &pair)) != 0) {
    if (r < 0) return NN_ERR_INVALID_ARG;
    const bool border = IsBorderKey(pair.key, pair.keyLength);
    *bordered |= border;
    if (!border && !IsTableKey(pair.key, pair.keyLength) && !IsMethodKey(pair.key, pair.keyLength))
      return NN_ERR_INVALID_ARG;
  }
  return 0;
}

}  // namespace

void ComposeTableResetColumnCounter() { g_columnCounter = 0; }

NnStatus ComposeTable(uint32_t columns, uint32_t rows, RTProcessContext* ctx) {
  if (!ctx || !ctx->Session) return NN_ERR_INVALID_ARG;
  if (columns < 1 || columns > kMaxTableColumns || rows < 1 || rows > 255)
    return kStatusBadArgument;
  SessionGlobals* g = ctx->Session->globals;
  const char* options = ctx->Text1;
  // The table takes the signatures of the depth it lands at.
  const bool nested = ctx->Compose.composedTables > 0;
  const uint8_t beginSig = nested ? 207 : 163;
  const uint8_t cellSig = nested ? 208 : 164;
  const uint8_t endSig = nested ? 209 : 165;

  // The method's compiled hide formula waits in the session's result.
  const bool hideFormula = g->tableHideFormulaFlag != 0;
  if (hideFormula && !ctx->Session->ResultTextLength) return NN_ERR_INVALID_ARG;

  uint16_t base = g->tableBaseWidth ? g->tableBaseWidth
                                    : (ctx->Item && ctx->Item->tableWidth ? ctx->Item->tableWidth
                                                                          : kDefaultTableWidth);
  uint16_t widths[kMaxTableColumns];
  for (uint32_t c = 0; c < columns; ++c) {
    widths[c] = g->columnWidths[c] ? g->columnWidths[c] : uint16_t(base / columns);
    if (widths[c] == 0) widths[c] = 1;
  }

  uint8_t pre[kPreTableLength] = {};
  PutU16(pre, 0, 0xFFFB);
  PutU16(pre, 2, kPreTableLength);
  pre[8] = uint8_t(rows);
  pre[9] = uint8_t(columns);
  // Fixed-width columns are marked in the sizing bits.
  uint32_t sizing1 = 0, sizing2 = 0;
  for (uint32_t c = 0; c < columns; ++c) {
    if (!g->columnFixed[c]) continue;
    if (c < 32) sizing1 |= 1u << c;
    else sizing2 |= 1u << (c - 32);
  }
  PutU32(pre, 12, sizing1);
  PutU32(pre, 16, sizing2);
  uint8_t begin[kTableBeginLength] = {beginSig, uint8_t(kTableBeginLength)};
  PutU16(begin, 4, 0);
  // Every key of the options is one a new table takes, with a value it can
  // hold: else nothing is composed (as ChangeTable refuses a change).
  NewTableRecords records;
  records.preTable.assign(pre, pre + sizeof pre);
  records.begin.assign(begin, begin + sizeof begin);
  uint8_t border[kBorderLength];
  bool bordered = false;
  NnStatus st = CheckNewTableKeys(options, &bordered);
  if (st == 0) st = ApplyNewTableOptions(options, ctx->Item, &records);
  if (st == 0 && bordered)
    st = ParseBorderProperties(ctx->Session, 0xFFFC, border, sizeof border, options, 1);
  if (st) return NN_ERR_INVALID_ARG;

  auto emit = [&](const std::vector<uint8_t>& rec, uint16_t sig) {
    return rec.empty() ? NnStatus(0)
                       : AppendRecord(rec.data(), sig, uint32_t(rec.size()), &ctx->Compose);
  };
  st = EmitBeginRecord(0xFFFB, 0, &ctx->Compose);
  if (st == 0) st = emit(records.preTable, 0xFFFB);
  if (st == 0) st = emit(records.attributes, 0xFF7A);
  if (st == 0 && bordered) st = AppendRecord(border, 0xFFFC, kBorderLength, &ctx->Compose);
  if (st == 0) st = EmitEndRecord(0xFFFB, 0, &ctx->Compose);
  if (st == 0) st = emit(records.begin, beginSig);
  if (st == 0) st = emit(records.rowCycle, 225);
  uint16_t hidden = 0;
  for (uint32_t r = 0; st == 0 && r < rows; ++r) {
    for (uint32_t c = 0; st == 0 && c < columns; ++c) {
      uint8_t cell[kCellLength] = {cellSig, uint8_t(kCellLength), uint8_t(r), uint8_t(c)};
      PutU16(cell, 4, 80);   // inner margins
      PutU16(cell, 6, 80);
      PutU16(cell, 8, widths[c]);
      cell[10] = 0x55;       // a single line on every side
      cell[14] = 1;
      cell[15] = 1;
      st = AppendRecord(cell, cellSig, kCellLength, &ctx->Compose);
      // The caller's option text of the column gives each of its cells
      // their HTML attributes.
      if (st == 0 && c < kCellTextSlots && g->cellText[c])
        st = ComposeColumnCellAttributes(g->cellText[c], ctx);
      // A hide formula hides every cell's paragraph: their definition, with
      // the formula, opens the first cell.
      if (st == 0 && hideFormula && !hidden)
        st = EmitHiddenParagraphDefinition(ctx->Session->ResultText,
                                           ctx->Session->ResultTextLength, true, ctx, &hidden);
      if (st == 0) st = EmitParagraphStart(ctx);
      if (st == 0) st = hidden ? EmitParagraphReferenceTo(hidden, ctx) : EmitParagraphReference(ctx);
      if (st == 0) {
        uint32_t font = CurrentFont(ctx);
        st = EmitTextRecord("", 0, &font, &ctx->Compose);
      }
    }
  }
  uint8_t end[kTableEndLength] = {endSig, uint8_t(kTableEndLength)};
  if (st == 0) st = AppendRecord(end, endSig, kTableEndLength, &ctx->Compose);
  if (st == 0) g_columnCounter += columns;
  return st;
}

// The table keys are those of the table properties' field map, which the
// property listing reads back.
NnStatus ComposeTableProps(LSXLsiSession* /*session*/, RTProcessContext* ctx,
                           uint16_t signature, uint8_t* record, uint32_t capacity,
                           const char* options, int /*flag*/) {
  if (signature != 163 && signature != 207 && signature != 0xFFFB) return NN_ERR_INVALID_ARG;
  return ApplyTableOptions(signature, record, capacity, options, ctx ? ctx->Item : nullptr);
}

NnStatus ParseBorderProperties(LSXLsiSession* /*session*/, uint16_t signature, uint8_t* record,
                               uint32_t capacity, const char* options, int build) {
  if (!record || signature != 0xFFFC || capacity < kBorderLength) return NN_ERR_INVALID_ARG;
  uint8_t work[kBorderLength];
  if (build) {
    std::memset(work, 0, sizeof work);
    PutU16(work, 0, 0xFFFC);
    PutU16(work, 2, kBorderLength);
    PutU16(work, 8, 1);  // solid
    for (uint32_t off = 10; off <= 16; off += 2) PutU16(work, off, 1);
  } else {
    uint16_t sig = 0, length = 0;
    std::memcpy(&sig, record, 2);
    std::memcpy(&length, record + 2, 2);
    if (sig != 0xFFFC || length < kBorderLength) return NN_ERR_CD_STRUCTURE;
    std::memcpy(work, record, kBorderLength);
  }
  bool any = false;
  char value[kOptionValueMax + 1] = {};
  if (GetOptionValue(options, "BorderStyle=", value)) {
    uint16_t code = 0;
    if (!BorderStyleCode(value, &code)) return NN_ERR_INVALID_ARG;
    PutU16(work, 8, code);
    any = true;
  }
  if (GetOptionValue(options, "BorderColor=", value)) {
    ColorRGB rgb{};
    uint16_t index = 0;
    if (ParseColor(value, &index, &rgb) != 0) return NN_ERR_INVALID_ARG;
    PutU16(work, 44, 0x0001);  // the colour is valid
    work[46] = rgb.red;
    work[47] = rgb.green;
    work[48] = rgb.blue;
    any = true;
  }
  // Side widths: one value for all sides, or "top,left,bottom,right".
  auto sides = [&](const char* key, uint32_t firstOffset) -> bool {
    if (!GetOptionValue(options, key, value)) return true;
    any = true;
    const char* p = value;
    long w[4];
    int n = 0;
    while (n < 4 && *p) {
      char* end = nullptr;
      long x = std::strtol(p, &end, 10);
      if (end == p || x < 0 || x > 1000) return false;
      w[n++] = x;
      p = end;
      while (*p == ',' || *p == ' ') ++p;
    }
    if (n == 0 || *p) return false;
    for (int i = n; i < 4; ++i) w[i] = w[n == 1 ? 0 : i % n];
    for (int i = 0; i < 4; ++i) PutU16(work, firstOffset + 2 * uint32_t(i), uint16_t(w[i]));
    return true;
  };
  if (!sides("BorderThickness=", 10) || !sides("BorderInner=", 28) || !sides("BorderOuter=", 36))
    return NN_ERR_INVALID_ARG;
  if (GetOptionValue(options, "BorderShadow=", value)) {
    long w = std::strtol(value, nullptr, 10);
    if (w < 0 || w > 1000) return NN_ERR_INVALID_ARG;
    PutU16(work, 26, uint16_t(w));
    uint16_t f = 0;
    std::memcpy(&f, work + 24, 2);
    PutU16(work, 24, uint16_t(w ? (f | 0x0001) : (f & ~0x0001u)));
    any = true;
  }
  if (!any) return NN_ERR_INVALID_ARG;
  std::memcpy(record, work, kBorderLength);
  return 0;
}

NnStatus ParseCssLength(uint8_t* lengthValue, size_t capacity, const char* text, int /*flag*/) {
  if (!lengthValue || capacity < 24 || !text) return NN_ERR_INVALID_ARG;
  double v = 0;
  const char* rest = nullptr;
  if (!LeadingNumber(text, &v, &rest)) return NN_ERR_INVALID_ARG;
  while (*rest == ' ') ++rest;
  uint8_t unit;
  if (!*rest || !strcasecmp(rest, "px")) {
    unit = 2;
  } else if (!strcasecmp(rest, "%")) {
    unit = 3;
  } else if (!strcasecmp(rest, "em")) {
    unit = 4;
  } else if (!strcasecmp(rest, "ex")) {
    unit = 5;
  } else if (!strcasecmp(rest, "ch")) {
    unit = 6;
  } else if (!strcasecmp(rest, "in")) {
    unit = 1;
    v *= 1440.0;
  } else if (!strcasecmp(rest, "cm")) {
    unit = 1;
    v *= 1440.0 / 2.54;
  } else if (!strcasecmp(rest, "pt")) {
    unit = 1;
    v *= 20.0;
  } else if (!strcasecmp(rest, "tw")) {
    unit = 1;
  } else {
    return NN_ERR_INVALID_ARG;
  }
  PutU16(lengthValue, 0, 0);
  std::memcpy(lengthValue + 8, &v, 8);
  lengthValue[16] = unit;
  lengthValue[17] = 0;
  return 0;
}
