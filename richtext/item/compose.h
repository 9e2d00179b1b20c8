// Record composition: builds a new record list in host layout, record by record.
//
// Appended records are copied into segment buffers (platform memory handles of
// kComposeSegmentSize bytes); ComposeBufferGrow starts a new one when a record
// does not fit. The new list's nodes point into those buffers and own their
// data; the buffers pass to the list when it is installed, or are released
// with ComposeReleaseHandles when the composition fails.
#pragma once

#include <cstdint>

#include "nn/nn.h"
#include "richtext/item/recordlist.h"

class LSXLsiSession;
class TorvoRTItem;

constexpr uint32_t kComposeSegmentSize = kMaxRecordLength;  // 64,382
constexpr uint32_t kMaxTableNesting = 8;

struct ComposeContext {
  LSXLsiSession* session = nullptr;
  TorvoRTItem* item = nullptr;
  NnHandle hNote = 0;
  const char* itemName = nullptr;
  const char* optionString = nullptr;   // the operation's option string

  // The list being built and its segment buffers.
  RecordList* newList = nullptr;
  NnHandle currentSegment = 0;
  uint8_t* segmentData = nullptr;       // locked address of the current segment
  uint32_t segmentFill = 0;             // bytes used in the current segment
  uint32_t lastSegmentFill = 0;         // stored by ComposeSaveFill
  uint32_t composedCount = 0;           // records appended so far

  // Element state the appender keeps.
  uint16_t hotspotOpen = 0;             // a hotspot (0xFFA9, 0xFF7E, 0xFF74) is open
  uint16_t linkOpen = 0;                // a link hotspot (0xFFAD) is open
  uint16_t attachmentHotspot = 0;       // inside a hotspot of kind 4 or 10
  uint16_t tableDepth = 0;              // 0..kMaxTableNesting
  uint16_t composedTables = 0;          // tables open at the end of the new list
  uint16_t composedHotspots = 0;        // hotspots open there
  uint16_t flag = 0;                    // set to 1 by the engine
  uint16_t appendRows = 0;
  uint16_t cleanup = 0;
  uint16_t newParagraph = 0;
  uint16_t internalError = 0;           // last internal error (200xx)

  // Paragraph state: the default definition and reference, and the definition
  // under construction (host layout).
  uint8_t defaultParagraphDefinition[92] = {};
  uint8_t defaultParagraphReference[4] = {};
  uint8_t paragraphDefinition[92] = {};
  uint16_t paragraphDefinitionLength = 0;
  uint16_t nextParagraphId = 0;
  // The definition (host layout) whose margins new imported paragraphs take,
  // such as a cell's own; null: the defaults.
  const uint8_t* marginDefinition = nullptr;
  uint32_t marginDefinitionLength = 0;

  // Font-identifier remapping for records brought in from another item: a
  // face id of the source maps to faceMap[id] in this item.
  uint8_t faceMap[256] = {};
  uint16_t faceMapActive = 0;
};

// Prepares a composition for an item (session, item, note and name taken from it).
void ComposeInit(ComposeContext* ctx, LSXLsiSession* session, TorvoRTItem* item);

// Starts a new output segment (and the new list, the first time); NN_ERR_MEMORY
// when out of memory.
NnStatus ComposeBufferGrow(ComposeContext* ctx);
// Stores the fill of the last segment.
NnStatus ComposeSaveFill(ComposeContext* ctx);
// Frees the composition's segment buffers and its unfinished list (after a
// failure). `keepList` 1 leaves the list and its buffers alone (they were handed on).
void ComposeReleaseHandles(ComposeContext* ctx, uint16_t keepList);
// Hands the finished list to the caller, who owns it from then on.
RecordList* ComposeTakeList(ComposeContext* ctx);

// Appends a copy of a host-layout record. NN_ERR_CD_STRUCTURE when the record
// is malformed (null data, a length below its header, above the largest
// record, or a header that disagrees with the signature and length given),
// NN_ERR_MEMORY when out of memory.
NnStatus AppendRecord(const void* data, uint16_t signature, uint32_t length, ComposeContext* ctx);
// Appends text as text records (0xFF85) in that font (the item's current text
// font when null); long texts are split between characters. An empty text
// gives one empty record.
NnStatus EmitTextRecord(const char* text, uint32_t length, const uint32_t* fontId,
                        ComposeContext* ctx);
// BEGIN (221) and END (222) records naming the element's signature.
NnStatus EmitBeginRecord(uint16_t signature, uint16_t flag, ComposeContext* ctx);
NnStatus EmitEndRecord(uint16_t signature, uint16_t flag, ComposeContext* ctx);
// An 8-byte record of that type: the 16-bit value at 2, the 24-bit value's
// three bytes at 4 (low byte first), a zero at 7. Used for colours (210, 211).
NnStatus EmitRecord8(uint8_t type, uint32_t value24, uint16_t value16, ComposeContext* ctx);
// Text in the font of the current text record (the item's current font when it
// is not a text record), followed by the records of `pending` (may be null).
NnStatus EmitTextWithRecords(const char* text, uint32_t length, const RTRecordNode* current,
                             ComposeContext* ctx, const RecordList* pending = nullptr);
// Re-emits a kept list from `node` to its end through AppendRecord.
NnStatus EmitRecordList(const RTRecordNode* node, ComposeContext* ctx);
