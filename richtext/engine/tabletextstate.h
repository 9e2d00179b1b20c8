// Working state of the table, cell, text-run, paragraph and graphic
// operations, kept inside the engine's per-call context (RTProcessContext).
#pragma once

#include <cstdint>

#include "host/fonts.h"
#include "richtext/engine/tablefields.h"
#include "richtext/item/parastring.h"

struct RTRecordNode;

struct TableTextOpsState {
  // The requested paragraph properties (2364, 2417, 2442), parsed at set-up;
  // RTProcessContext::ParagraphSpec points here when a paragraph text was given.
  ParagraphSpec ParagraphChange;

  // Work copy of one paragraph definition (host layout, room for the largest form).
  uint8_t ParagraphDefinition[kPabFullLength] = {};
  // 2364: the identifier of the last definition of the target that was handled.
  uint16_t RememberedParagraphId = 0;
  uint16_t RememberedParagraphSet = 0;

  // 2405: the merged cell's paragraph definition and the merged-content state.
  uint8_t MergedDefinition[kPabFullLength] = {};
  uint16_t MergedDefinitionLength = 0;
  uint16_t MergedColumnOffset = 0;   // left margin of the first cell's column definition
  uint16_t MergedContent = 0;
  int32_t CellDepth = -1;          // table depth of the cells the operation acts on

  // 38 and 2394: a cell of the target's own table is open (its trailing
  // colour record, 211, lies before the next cell); for 2394, whether it
  // shows the colour already (it is left as it is) and whether its own
  // colour record was met.
  uint16_t CellColorOpen = 0;
  uint16_t CellColorKept = 0;
  uint16_t CellColorRecordMet = 0;

  // 2422 on cells: whether a cell of the target is open and whether it had
  // its own record; for either kind, the attribute record of the element the
  // target starts with, once known.
  uint16_t HtmlCellOpen = 0;
  uint16_t HtmlOwnKnown = 0;
  const RTRecordNode* HtmlOwn = nullptr;
  uint16_t HtmlCellSeen = 0;

  // 2413 (and 2422 on a table): the change the option text asks for; the table it acts on now
  // (its own records), what of the change that table does not show yet, and
  // the records to add to it (an attribute record in its pre-table group, a
  // row-cycle record before its end).
  TableChange TableChangeAsked;
  TableChange TableChangeNow;
  TableParts TableNow;
  const RTRecordNode* TableGroupEnd = nullptr;
  uint16_t TableActive = 0;
  uint16_t TableAddsAttributes = 0;
  uint16_t TableAddsRowCycle = 0;

  // 2437: the BEGIN depth of the element's own group (its attribute record
  // lies directly inside it), 0 before the group is met.
  int32_t ElementGroupDepth = 0;
  // A layer's head (its records before its first paragraph) has been read;
  // it held a background image record.
  uint16_t LayerHeadDone = 0;
  uint16_t LayerBackgroundSeen = 0;
  uint16_t LayerColorSeen = 0;

  // 2392, 2399: the text run being gathered (consecutive records of the
  // walked list from RunFirst on), replaced as one text when it ends.
  const RTRecordNode* RunFirst = nullptr;
  uint32_t RunCount = 0;

  // 2355: the sequence numbers of the addressed table's pre-table record (0
  // when it has none) and end record, the row index the new row takes, and
  // whether the row was written.
  uint32_t RowPreTable = 0;
  uint32_t RowTableEnd = 0;
  uint8_t RowNewIndex = 0;
  uint16_t RowWritten = 0;

  // 2447: the picture's first and last record (sequence numbers), the begin
  // record of the action hotspot already around it (0 for none) and the last
  // record of that hotspot's action, and whether the new hotspot was written.
  uint32_t ImageFirst = 0;
  uint32_t ImageLast = 0;
  uint32_t ImageOldBegin = 0;
  uint32_t ImageOldActionLast = 0;
  uint16_t ImageWritten = 0;

  // Small replacement records (cells, references, colour records) emitted
  // instead of the walked one.
  uint8_t Record[96] = {};

  // Text-run operations: inside a BEGIN/END pair that wraps a text run.
  uint16_t InTextWrap = 0;
  // Text-run changes: what of the colour record of the wrapped run being
  // rebuilt changes (the colour and highlight parts of the font change's
  // mask), to what (an RGB value, and flags: 1 for an RGB colour and the
  // highlight bits), and whether the run's colour record was met.
  uint32_t WrapMask = 0;
  uint32_t WrapColor = 0;
  uint16_t WrapHighlight = 0;
  uint16_t WrapColorMet = 0;

  // Section titles and button labels change only in fonts that match this
  // pattern ("MatchFont=" of the option string; an empty mask matches all).
  uint16_t MatchPatternReady = 0;
  uint32_t MatchMask = 0;
  FontState MatchPattern;

  // 47, 48: whether pass-through is open at the record in hand, as the item
  // stands; marking: whether the target's region is open yet, and a region
  // end held back until what follows it shows whether the region goes on.
  uint16_t PassthruInside = 0;
  uint16_t PassthruOpened = 0;
  uint16_t PassthruEndHeld = 0;

  // Graphic operations: the operation ran once (2367, 2447).
  uint16_t Once = 0;
};
