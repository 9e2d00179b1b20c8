// Helpers of the rich-text item that the engine and the composers share:
// default paragraphs, table-cell positions, attachments referenced by file
// hotspots, appending another item's records, and the note's link table.
#pragma once

#include <cstdint>

#include "nn/nn.h"

struct ComposeContext;
struct RecordList;
class TorvoRTItem;

// Identifier meaning "the next free paragraph-definition id".
constexpr uint16_t kNextParagraphId = 4095;

// Fills the composition's default paragraph definition (id 1, host layout,
// 84 bytes) and paragraph reference (131, id 1).
void ComposePrimeParagraphRecords(ComposeContext* ctx);

// Writes the default paragraph definition into ctx->paragraphDefinition with
// the given identifier and returns the identifier used. kNextParagraphId picks
// one more than the highest paragraph-definition id of the item's loaded
// records and of the list being composed, and never less than
// ctx->nextParagraphId; ctx->nextParagraphId then becomes the id after it, so
// two calls before the definition is appended do not hand out the same id.
// `kind` is accepted for the callers and does not change the defaults.
// Returns 0 (and changes nothing) without a context.
uint16_t NewDefaultParagraph(uint16_t identifier, uint16_t kind, ComposeContext* ctx);

// The highest paragraph id that a list defines (0xFF82) or references (0x0083);
// 0 for none or null.
uint16_t HighestParagraphId(const RecordList* list);

// Row and column (0-based) of a table cell as a reader of the table sees it:
// rows change where a cell's stored row number changes; within a row each
// cell takes the first column that neither an earlier cell of the row (with
// its column span) nor a cell of an earlier row (with its row span) covers.
// `recordNumber` is a record's sequence number: a cell record (164, or 208 of
// a nested table) or any record of a cell's content (the cell is then the one
// that holds it; records of a nested table belong to the nested table's grid).
// NN_ERR_INVALID_ARG when the record is absent or not inside a table cell.
NnStatus LocateTableCell(uint32_t recordNumber, const RecordList* list, uint16_t* row,
                         uint16_t* column);

// Deletes the $FILE attachments of the item's note that file hotspots
// (0xFFA9/0xFFAD of type 4 or 10) among records first..last (sequence
// numbers) name, except those that a hotspot outside that range, or in
// another composite item of the note, still names.
// Returns the number deleted.
uint32_t DeleteReferencedObjects(TorvoRTItem* item, const RecordList* list, uint32_t first,
                                 uint32_t last);

// Appends the records of `source` (an item's list, host layout) through
// AppendRecord: face ids of fonts are mapped by face name from the source
// item's font table, else the source note's, to the target's (faces the
// target lacks are added to it; without either, as for a record file, the ids
// stay), table records take the signatures of the depth they land at, and
// paragraph-definition ids (0xFF82, 0x0083, 0x00BC, 0xFFBB, 0x00A6) are moved
// above the highest id of the target's loaded records and of the list being
// composed. Nodes marked for dropping are skipped. NN_ERR_CD_STRUCTURE when a
// renumbered id would not fit in 16 bits (nothing appended then); any status
// of AppendRecord (what was appended stays in the composition, which the
// caller releases on failure).
NnStatus AppendItemRecordsRenumbered(const RecordList* source, const TorvoRTItem* sourceItem,
                                     TorvoRTItem* target, ComposeContext* ctx,
                                     NnHandle sourceNote = 0);

struct FontFace;
// Fills `faces` (kFontTableSize + 1 entries, by face id) with the built-in
// faces and those of the note's "$Fonts" table (none for a note of 0).
void ReadFaceTable(NnHandle hNote, FontFace* faces);

// The identifiers of one document link of a note's "$Links" table.
struct LinkIdentifiers {
  tagTIMEDATE replicaId = {};
  UNIVERSALNOTEID_tag viewId = {};
  UNIVERSALNOTEID_tag noteId = {};
};

// Item type of the "$Links" table: u16 count, then count 40-byte entries
// (replica TIMEDATE, view UNID, note UNID).
constexpr uint16_t kTypeLinkTable = 0x0007;

// Fills `out` from entry `index` (0-based) of the note's "$Links" table.
// 0 when the entry exists and its identifiers are not all zero;
// NN_ERR_INVALID_ARG otherwise (no table, index past the count or past the
// stored bytes, an all-zero entry); `out` is untouched then. The last two
// arguments are accepted for the callers and not used.
NnStatus ResolveLinksReference(NnHandle hNote, LinkIdentifiers* out, uint16_t index, int,
                               int);
