// The table writer: a table's cell records become rows and cells, each cell's
// content rendered by a nested driver call.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "host/color.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

using kv::cd::ReadU16;
using kv::cd::ReadU32;

constexpr uint16_t kPreTable = 0xFFFB;
constexpr uint16_t kBegin = 0x00A3, kNestedBegin = 0x00CF;
constexpr uint16_t kCell = 0x00A4, kNestedCell = 0x00D0;
constexpr uint16_t kEnd = 0x00A5, kNestedEnd = 0x00D1;
constexpr uint16_t kCellColor = 0x00D3, kCellIdName = 0xFF7B, kIdName = 0xFF7A;
constexpr uint16_t kGroupBegin = 0x00DD, kGroupEnd = 0x00DE;

bool IsTableBegin(uint16_t s) { return s == kBegin || s == kNestedBegin; }
bool IsTableEnd(uint16_t s) { return s == kEnd || s == kNestedEnd; }
bool IsCell(uint16_t s) { return s == kCell || s == kNestedCell; }

uint16_t GroupType(const RTRecordNode* n) {
  uint16_t t = 0;
  ReadU16(n->data, n->length, 4, &t);
  return t;
}

uint32_t TwipsToPixels(uint32_t twips) { return twips * 96 / 1440; }

// What the cell's trailing property records say: its colour and attributes.
struct CellExtras {
  const RTRecordNode* color = nullptr;
  const RTRecordNode* idName = nullptr;
};

// Scans a cell's content (nested tables skipped) up to the next boundary of
// its own table for the property records that trail it.
CellExtras ScanCell(const RenderContext* ctx, const RTRecordNode* cell) {
  CellExtras x;
  int nesting = 0;
  for (const RTRecordNode* n = cell->next; RecordInRange(ctx, n); n = n->next) {
    const uint16_t s = n->signature;
    if (IsTableBegin(s)) {
      ++nesting;
    } else if (IsTableEnd(s)) {
      if (nesting == 0) break;
      --nesting;
    } else if (nesting == 0) {
      if (IsCell(s)) break;
      if (s == kCellColor) x.color = n;
      if (s == kCellIdName) x.idName = n;
    }
  }
  return x;
}

// Calls fn with each cell record of the table's first row, at its own level.
// The row is the table's whole first row, also where the rendered range ends
// inside it: every range of a table writes it with the same widths.
template <typename Fn>
void ForFirstRowCells(const RTRecordNode* from, Fn fn) {
  int nesting = 0;
  int row = -1;
  for (const RTRecordNode* n = from; n; n = n->next) {
    const uint16_t s = n->signature;
    if (n != from && IsTableBegin(s)) {
      ++nesting;
    } else if (IsTableEnd(s)) {
      if (nesting == 0) break;
      --nesting;
    } else if (nesting == 0 && IsCell(s) && n->length >= 18) {
      if (row < 0) row = n->data[2];
      if (n->data[2] != row) break;
      fn(n);
    }
  }
}

bool IsFixedColumn(uint64_t fixedColumns, uint8_t column) {
  return column < 64 && ((fixedColumns >> column) & 1) != 0;
}

// The sum of the first row's column widths, the fixed columns' left out.
uint32_t FirstRowWidth(const RTRecordNode* from, uint64_t fixedColumns = 0) {
  uint32_t total = 0;
  ForFirstRowCells(from, [&](const RTRecordNode* n) {
    uint16_t w = 0;
    ReadU16(n->data, n->length, 8, &w);
    if (!IsFixedColumn(fixedColumns, n->data[3])) total += w;
  });
  return total;
}

// A table's width in twips by its first row: the row's outer edges where
// the cells hold them in order (then *edges is set), else the column widths
// (total) counted as twips.
uint32_t FirstRowTwips(const RTRecordNode* from, uint32_t total,
                       bool* edges) {
  uint16_t left = 0, right = 0;
  bool ordered = true;
  ForFirstRowCells(from, [&](const RTRecordNode* n) {
    uint16_t l = 0, r = 0;
    ReadU16(n->data, n->length, 4, &l);
    ReadU16(n->data, n->length, 6, &r);
    if (r <= l || (right && l < right)) ordered = false;
    if (!right) left = l;
    right = r;
  });
  *edges = ordered && right > left;
  return *edges ? uint32_t(right - left) : total;
}

// The columns a table keeps at their own widths whatever the window's (the
// sizing bits of its pre-table record, one per column); 0 without the record.
uint64_t FixedColumns(const RTRecordNode* preTable) {
  uint32_t low = 0, high = 0;
  if (!preTable || !ReadU32(preTable->data, preTable->length, 12, &low)) return 0;
  ReadU32(preTable->data, preTable->length, 16, &high);
  return uint64_t(high) << 32 | low;
}

// The begin record of the table a cell belongs to (the tables closed on the
// way back stepped over); null when it has none.
const RTRecordNode* TableOfCell(const RTRecordNode* cell) {
  int closed = 0;
  for (const RTRecordNode* n = cell->prev; n; n = n->prev) {
    if (IsTableEnd(n->signature)) ++closed;
    else if (IsTableBegin(n->signature) && closed-- == 0) return n;
  }
  return nullptr;
}

// The pre-table record of a table begin, and the table's attribute record
// within its group; both null when the begin stands alone.
void FindPreTable(const RTRecordNode* begin, const RTRecordNode** preTable,
                  const RTRecordNode** idName) {
  *preTable = nullptr;
  *idName = nullptr;
  int steps = 0;
  for (const RTRecordNode* n = begin->prev; n && steps < 16; n = n->prev, ++steps) {
    const uint16_t s = n->signature;
    if (s == kPreTable) {
      *preTable = n;
      return;
    }
    if (s == kIdName && !*idName) *idName = n;
    else if (s != kGroupBegin && s != kGroupEnd && s != 0xFF5C && s != 0xFFFC && s != kIdName)
      return;
  }
}

// The cell a nested table sits in, when the render holds none (the table is
// rendered on its own): the nearest cell before it at the enclosing level,
// the tables closed on the way stepped over.
const RTRecordNode* EnclosingCell(const RTRecordNode* begin) {
  int closed = 0;
  for (const RTRecordNode* n = begin->prev; n; n = n->prev) {
    const uint16_t s = n->signature;
    if (IsTableEnd(s)) ++closed;
    else if (IsTableBegin(s) && closed-- == 0) return nullptr;
    else if (IsCell(s) && closed == 0) return n;
  }
  return nullptr;
}

// A table's left margin in pixels. Its record counts from the page: a table
// on the page is offset from the page's one-inch margin, a nested table from
// the left edge of the cell that holds it (what the cell's own paragraphs
// count from), so that it stays inside that cell.
uint32_t LeftMarginPixels(const RenderContext* ctx, const RTRecordNode* begin) {
  uint16_t margin = 0;
  if (!ReadU16(begin->data, begin->length, 2, &margin)) return 0;
  const RTRecordNode* cell = ctx->table.cellInForce;
  if (!cell && begin->signature == kNestedBegin) cell = EnclosingCell(begin);
  uint16_t origin = 1440;
  if (cell && !ReadU16(cell->data, cell->length, 4, &origin)) origin = margin;
  return margin > origin ? TwipsToPixels(uint32_t(margin - origin)) : 0;
}

struct Writer {
  RenderContext* ctx;
  bool ok = true;
  void Put(const char* t) { ok = ok && RenderAppend(ctx, t); }
};

// Appends to the text in `style` what fits of `text`, always terminated.
void AppendStyle(char* style, size_t size, std::string_view text) {
  const size_t used = std::strlen(style);
  if (used + 1 >= size) return;
  const size_t n = std::min(text.size(), size - used - 1);
  std::memcpy(style + used, text.data(), n);
  style[used + n] = 0;
}

void AppendBackground(char* style, size_t size, const uint8_t* rgb) {
  char colour[8];
  FormatHexColor(rgb[0], rgb[1], rgb[2], colour);
  std::string text = "background-color:";
  text += colour;
  text += ';';
  AppendStyle(style, size, text);
}

void AppendBorders(char* style, size_t size, const uint8_t* cell, uint32_t length) {
  uint16_t v42 = 0;
  ReadU16(cell, length, 12, &v42);
  const uint8_t border = cell[10];
  static const char* const kSides[4] = {"left", "right", "top", "bottom"};
  for (int side = 0; side < 4; ++side) {
    uint32_t width = 0;
    const char* kind = "solid";
    const uint32_t twoBit = (border >> (2 * side)) & 0x3u;
    if (v42) {
      width = (v42 >> (4 * side)) & 0xFu;
      if (width && twoBit == 2) kind = "double";
    } else if (twoBit) {
      width = twoBit == 2 ? 3 : 1;
      if (twoBit == 2) kind = "double";
    }
    if (width == 0) continue;
    std::string text = "border-";
    text += kSides[side];
    text += ':';
    text += std::to_string(width);
    text += "px ";
    text += kind;
    text += " #000;";
    AppendStyle(style, size, text);
  }
}

void AppendColor(char* style, size_t size, const RTRecordNode* color) {
  if (!color || color->length < 8) return;
  uint16_t flags = 0;
  ReadU16(color->data, color->length, 2, &flags);
  if (flags & 0x4) return;  // no colour: transparent
  const uint8_t* d = color->data;
  const size_t used = std::strlen(style);
  if ((flags & 0x10) && color->length >= 14) {
    std::snprintf(style + used, size - used,
                  "background-color:#%02x%02x%02x;background-image:linear-gradient(to bottom, "
                  "#%02x%02x%02x, #%02x%02x%02x);",
                  d[4], d[5], d[6], d[4], d[5], d[6], d[10], d[11], d[12]);
  } else {
    AppendBackground(style, size, d + 4);
  }
}

// A cell without a colour record: the palette colour its own record names
// (flag 0x01, background colour word; 0 is no colour).
void AppendCellPaletteColor(char* style, size_t size, const uint8_t* cell, uint32_t length) {
  uint16_t index = 0;
  if (length < 18 || !(cell[11] & 0x01) || !ReadU16(cell, length, 16, &index) || index == 0 ||
      index >= kPaletteSize)
    return;
  AppendBackground(style, size, PaletteRgbTable[index]);
}

// Closes what the cell's content left open, down to and including its own
// "</td>" (the entry with serial `cell`; 0 when there was no memory to push
// it). Only a closing that did not fit the output fails the cell: whatever
// the content closed on its own was written when it was closed.
void CloseCell(RenderContext* ctx, OpenElement* inlineHead, uint32_t cell, bool* ok) {
  if (ctx->inlineElementList != inlineHead) {
    char closing[2048] = {};
    PopOpenElementsInto(ctx, 1, inlineHead, closing, sizeof closing);
    *ok = *ok && RenderAppend(ctx, closing);
  }
  if (!cell) {
    *ok = *ok && RenderAppend(ctx, "</td>");
    return;
  }
  if (IsOpenElementListed(ctx, 0, cell) && !CloseOpenElementsThrough(ctx, 0, cell)) *ok = false;
}

// Renders a cell's content: nested driver calls until the next boundary of
// this table; a call that stops early on a stray record steps past it.
NnStatus RenderCellContent(RenderContext* ctx, uint16_t cellSig, uint16_t depth) {
  NnStatus st = NN_OK;
  while (st == NN_OK && RecordInRange(ctx, ctx->currentRecord)) {
    RTRecordNode* at = ctx->currentRecord;
    const uint16_t s = at->signature;
    if (IsCell(s) || IsTableEnd(s)) break;
    st = PrXMLStr(ctx, cellSig, uint16_t(depth + 1), 0);
    if (st == NN_OK && ctx->currentRecord == at) ctx->currentRecord = at->next;
  }
  return st;
}

}  // namespace

bool RangeContinuesTable(const RenderContext* ctx, const RTRecordNode* node) {
  return ctx->tableContinues && node && IsCell(node->signature) && ctx->table.continuedTable &&
         TableOfCell(node) == ctx->table.continuedTable;
}

NnStatus RenderTableHTML(RenderContext* ctx, uint16_t endType, uint16_t depth) {
  RTRecordNode* node = ctx->currentRecord;
  if (!node || !node->data) return NN_OK;

  // A pre-table record: on to the table begin. When the pre-table records sit
  // in a group of their own, its end returns the driver's nested call first;
  // the driver then meets the table begin and calls again.
  if (node->signature == kPreTable) {
    RTRecordNode* n = node->next;
    for (int steps = 0; RecordInRange(ctx, n) && steps < 32; n = n->next, ++steps) {
      if (IsTableBegin(n->signature)) break;
      if (n->signature == kGroupEnd && endType != 0 && GroupType(n) == endType) {
        ctx->currentRecord = n->next;
        return NN_OK;
      }
    }
    if (!RecordInRange(ctx, n) || !IsTableBegin(n->signature)) {
      ctx->currentRecord = node->next;
      return NN_OK;
    }
    node = n;
  }

  RTRecordNode* begin = nullptr;
  uint16_t cellSig, endSig;
  if (IsTableBegin(node->signature)) {
    begin = node;
    cellSig = node->signature == kBegin ? kCell : kNestedCell;
    endSig = node->signature == kBegin ? kEnd : kNestedEnd;
  } else if (IsCell(node->signature)) {
    cellSig = node->signature;
    endSig = node->signature == kCell ? kEnd : kNestedEnd;
  } else {
    ctx->currentRecord = node->next;
    return NN_OK;
  }

  // Too deep: the table's text, flat, with no further nesting.
  if (depth > kElementDepthLimit) {
    int nesting = 0;
    RTRecordNode* n = begin ? begin->next : node;
    for (; RecordInRange(ctx, n); n = n->next) {
      if (IsTableBegin(n->signature)) ++nesting;
      else if (IsTableEnd(n->signature) && nesting-- == 0) break;
    }
    ctx->currentRecord = begin ? begin->next : node;
    NnStatus st = RenderRecordsFlat(ctx, n);
    if (st == NN_OK && RecordInRange(ctx, n)) ctx->currentRecord = n->next;
    return st;
  }

  const uint16_t savedLevel = ctx->tableLevel;
  const uint16_t level = savedLevel >= 8 ? 8 : uint16_t(savedLevel + 1);
  ctx->tableLevel = level;
  const bool outermost = depth <= 1 && savedLevel == 0;
  const bool continuing = !begin && outermost && ctx->tableContinues;
  if (outermost) ctx->tableContinues = 0;

  Writer w{ctx};
  // A range that starts inside a table (its rows, its cells) writes it as the
  // whole table is written: from its begin record, which lies before the range.
  const RTRecordNode* table = begin ? begin : TableOfCell(node);
  uint16_t hSpace = 0, vSpace = 0, tableFlags = 1;
  if (table) {
    ReadU16(table->data, table->length, 12, &tableFlags);
    ReadU16(table->data, table->length, 8, &hSpace);
    ReadU16(table->data, table->length, 10, &vSpace);
    ctx->tableLevelValues[0][level] = hSpace;
    ctx->tableLevelValues[1][level] = vSpace;
  }
  RTRecordNode* first = begin ? begin->next : node;
  const RTRecordNode* firstRow = table ? table->next : node;
  const uint32_t total = FirstRowWidth(firstRow);
  // Automatic width clear: the table keeps its own width, and where its
  // cells hold their edges each cell keeps its own too.
  const bool fixedWidth = (tableFlags & 1) == 0;
  bool cellEdges = false;
  const uint32_t edgeTwips = FirstRowTwips(firstRow, total, &cellEdges);
  const uint32_t fixedTwips = fixedWidth ? edgeTwips : 0;
  // A table that fits the window but whose columns hold no share of it
  // (a fixed table made to fit) shares it out by its cells' edges.
  const bool edgeShares = !fixedWidth && total == 0 && cellEdges;

  const RTRecordNode *preTable = nullptr, *idName = nullptr;
  if (table) FindPreTable(table, &preTable, &idName);
  // Fixed columns keep their own widths; the others share what is left, so
  // that the window's width goes to them, not to a fixed column.
  const uint64_t fixedColumns = FixedColumns(preTable);
  const uint32_t flexible = fixedColumns ? FirstRowWidth(firstRow, fixedColumns) : total;

  bool rowOpen = false;
  uint32_t row = 0;
  if (continuing) {
    rowOpen = ctx->tableRowOpen != 0;
    row = ctx->table.continuedRow;
  } else {
    char style[96] = "border-collapse:collapse;";
    if (const uint32_t margin = table ? LeftMarginPixels(ctx, table) : 0) {
      const size_t used = std::strlen(style);
      std::snprintf(style + used, sizeof style - used, "margin-left:%upx;", margin);
    }
    if (!fixedWidth && (total || table)) {
      std::strcat(style, "width:100%;");
    } else if (fixedTwips) {
      const size_t used = std::strlen(style);
      std::snprintf(style + used, sizeof style - used, "width:%upx;", TwipsToPixels(fixedTwips));
    }
    w.Put("<table");
    if (w.ok && idName) {
      WriteElementIdAttributesStyled(idName->data, idName->length, ctx, style);
    } else if (w.ok) {
      w.Put(" style=\"");
      w.Put(style);
      w.Put("\"");
    }
    w.Put(">");
    ++ctx->table.tableCounter;
  }

  NnStatus st = NN_OK;
  bool ended = false;
  RTRecordNode* n = first;
  while (w.ok && st == NN_OK && RecordInRange(ctx, n)) {
    const uint16_t s = n->signature;
    if (s == cellSig && n->length >= 18) {
      const uint8_t* c = n->data;
      if (!rowOpen || c[2] != row) {
        if (rowOpen) w.Put("</tr>");
        w.Put("<tr>");
        rowOpen = true;
        row = c[2];
      }
      const CellExtras extras = ScanCell(ctx, n);
      char attrs[64] = "";
      if (c[14] > 1)
        AppendStyle(attrs, sizeof attrs, " rowspan=\"" + std::to_string(unsigned(c[14])) + "\"");
      if (c[15] > 1)
        AppendStyle(attrs, sizeof attrs, " colspan=\"" + std::to_string(unsigned(c[15])) + "\"");
      char style[512] = "";
      uint16_t fw = 0;
      ReadU16(c, n->length, 8, &fw);
      uint16_t left = 0, right = 0;
      ReadU16(c, n->length, 4, &left);
      ReadU16(c, n->length, 6, &right);
      if (fixedWidth && cellEdges) {
        if (right > left)
          AppendStyle(style, sizeof style,
                      "width:" + std::to_string(TwipsToPixels(right - left)) + "px;");
      } else if (IsFixedColumn(fixedColumns, c[3]) && fw) {
        // A fixed column keeps its own width, not a share of the table (the
        // least width too: a browser gives a share of the window first).
        const std::string px = std::to_string(TwipsToPixels(fw)) + "px;";
        AppendStyle(style, sizeof style, "width:" + px + "min-width:" + px);
      } else if ((flexible && fw) || (edgeShares && right > left)) {
        const uint32_t share = flexible ? fw : uint32_t(right - left);
        const uint32_t whole = flexible ? flexible : edgeTwips;
        uint32_t pct = (share * 100 + whole / 2) / whole;
        if (pct == 0) pct = 1;
        if (pct > 100) pct = 100;
        AppendStyle(style, sizeof style, "width:" + std::to_string(pct) + "%;");
      }
      // "CSSBorders=": a cell whose borders have a class in the head uses it
      // (unless the cell's own attributes may name a class).
      char borderClass[16] = "";
      if (extras.idName || !CellBorderClass(ctx, n, borderClass, sizeof borderClass)) {
        borderClass[0] = 0;
        AppendBorders(style, sizeof style, c, n->length);
      }
      if (extras.color) AppendColor(style, sizeof style, extras.color);
      else AppendCellPaletteColor(style, sizeof style, c, n->length);
      w.Put("<td");
      w.Put(attrs);
      if (borderClass[0]) {
        w.Put(" class=\"");
        w.Put(borderClass);
        w.Put("\"");
      }
      if (w.ok && extras.idName) {
        WriteElementIdAttributesStyled(extras.idName->data, extras.idName->length, ctx, style);
      } else if (*style) {
        w.Put(" style=\"");
        w.Put(style);
        w.Put("\"");
      }
      w.Put(">");
      if (!w.ok) break;
      OpenElement* inlineHead = ctx->inlineElementList;
      OpenElement* cellEntry = PushOpenElement(ctx, 0, "</td>", level);
      if (cellEntry) cellEntry->kind = OpenElementKind::kCell;
      const uint32_t cell = cellEntry ? cellEntry->serial : 0;
      const uint16_t listsAround = ctx->listDepth;
      const RTRecordNode* const cellAround = ctx->table.cellInForce;
      ctx->table.cellInForce = n;
      ctx->currentRecord = n->next;
      st = RenderCellContent(ctx, cellSig, depth);
      ctx->table.cellInForce = cellAround;
      CloseCell(ctx, inlineHead, cell, &w.ok);
      // Lists opened inside the cell closed with it.
      if (ctx->listDepth > listsAround) ctx->listDepth = listsAround;
      n = ctx->currentRecord;
      continue;
    }
    if (s == endSig) {
      if (rowOpen) w.Put("</tr>");
      w.Put("</table>");
      rowOpen = false;
      ended = true;
      n = n->next;
      break;
    }
    // A boundary of an enclosing table: this one was never ended.
    if (endSig == kNestedEnd && (s == kCell || s == kEnd)) break;
    n = n->next;
  }

  if (!ended && w.ok && st == NN_OK) {
    if (outermost && !RecordInRange(ctx, n)) {
      // The range ends inside the table: a later range continues it.
      ctx->tableContinues = 1;
      ctx->tableRowOpen = rowOpen ? 1 : 0;
      ctx->table.continuedRow = row;
      ctx->table.continuedTable = table;
    } else {
      if (rowOpen) w.Put("</tr>");
      w.Put("</table>");
    }
  } else if (ended) {
    ctx->tableRowOpen = 0;
  }
  ctx->currentRecord = n;
  ctx->tableLevel = savedLevel;
  if (!w.ok && st == NN_OK) st = NN_ERR_MEMORY;
  return st;
}
