// The chunk operation engine: its entry, its per-call context and the record
// walk. Every chunk method reaches the item's records through
// ProcessChunkOperation.
#pragma once

#include <cstdint>

#include "host/fonts.h"
#include "nn/nn.h"
#include "richtext/engine/opcodes.h"
#include "richtext/engine/tabletextstate.h"
#include "richtext/item/compose.h"
#include "richtext/item/recordlist.h"

class LSXLsiSession;
class TorvoRTChunk;
class TorvoRTItem;
struct chunkdef_info;
namespace kv {
struct SortKeyEntry;
}

constexpr uint32_t kMaxBeginDepth = 50;
// BEGIN records open past kMaxBeginDepth whose objects the walk still knows.
constexpr uint32_t kMaxOverflowObjects = 200;
constexpr uint32_t kMaxEngineTableDepth = 8;
constexpr uint32_t kInvalidRecordLength = 0x10000;
constexpr uint32_t kMinRecordSignature = 82;

namespace kv::removal {
class CutFrames;
}

// The engine's per-call working context. Zeroed at allocation, owned by one
// call of ProcessChunkOperation and freed before it returns.
struct RTProcessContext {
  LSXLsiSession* Session = nullptr;
  ComposeContext Compose;

  // The call's arguments.
  ChunkOperationCode OperationCode = 0;
  uint32_t SubCode = 0;
  uint32_t Number1 = 0, Number2 = 0, Number3 = 0;
  const char* Text1 = nullptr;
  const char* Text2 = nullptr;
  void* Extra = nullptr;            // the calling chunk (2358, 2808, 2809), sort arguments (2396)
  NnHandle NoteHandle = 0;

  // Walk counters.
  uint32_t RecordNumber = 0;        // records handed to the dispatcher so far, from 1
  uint32_t LastProcessedRecord = 0;
  uint16_t PreviousSignature = 0;

  // Collected positions (steps 2 and 11): 24-byte entries.
  uint16_t PositionCount = 0;
  uint16_t PositionCursor = 0;
  kv::SortKeyEntry* Positions = nullptr;

  // Record range of a stretch of the item.
  uint32_t RangeFirst = 0, RangeLast = 0;

  // Nesting counters kept by the dispatcher.
  int32_t HotspotDepth = 0;
  int32_t LayerDepth = 0;
  int32_t OpenSignatureDepth = 0;   // BEGIN/END depth, at most kMaxBeginDepth
  int32_t TableBeginCount = 0;      // table depth
  uint16_t FlagFF68 = 0;
  uint16_t OpenSignatures[kMaxBeginDepth + 1] = {};  // slots 1..50

  uint32_t TableBeginFlag = 0;
  uint32_t TargetDone = 0;          // result flag
  uint32_t AtTarget = 0;            // insertion reached (the first record of an element)
  uint32_t TargetReached = 0;       // an element of the target was met during the walk
  // A property's set step met a record of its kind in the target (changed
  // it, or found it holding the value) or composed one where it belongs. A
  // property set that ends without it changed nothing: the call fails.
  uint32_t SetRecordMet = 0;

  uint32_t ElementActionPending = 0;
  uint32_t PendingRunStart = 0;     // first record not yet copied; 0 = none

  // Definition nodes.
  chunkdef_info* FirstNode = nullptr;
  chunkdef_info* LastMatchedNode = nullptr;
  chunkdef_info* NodeUnderTest = nullptr;

  // Paragraph state.
  uint8_t ParagraphRecord[2] = {129, 2};
  uint32_t ParagraphStartPending = 0;
  uint32_t ParagraphDefinitionPending = 0;
  uint32_t ParagraphReferencePending = 0;
  uint16_t NewParagraphId = 0;
  uint16_t DefaultParagraphId = 0;
  uint8_t PendingParagraphDefinition[96] = {};  // host layout, copied from the walk
  uint8_t PendingParagraphReference[4] = {};

  // Chunk options copied at entry.
  uint32_t TextWildcards = 0;
  uint32_t SetImpliedProperties = 0;

  uint32_t WriteMode = 0;

  uint32_t RecordHandled = 0;
  uint32_t ElementHandled = 0;
  uint32_t StopRequested = 0;

  // Font and paragraph set-up of the call.
  FontState Font;
  uint32_t FontMask = 0;
  uint32_t FontId = 0;
  uint16_t FontGiven = 0;
  void* ParagraphSpec = nullptr;    // parsed paragraph string (pool), when any

  char WikiOpen[3] = "((";
  char WikiClose[3] = "))";
  uint32_t ClosingTextSeen = 0;

  void** SavedParagraphDefinitions = nullptr;

  RTRecordNode* CurrentNode = nullptr;
  RecordList* Records = nullptr;    // the item's list being walked
  TorvoRTChunk* Chunk = nullptr;
  TorvoRTItem* Item = nullptr;

  uint32_t SkipThroughRecord = 0;
  uint8_t* ScratchRecord = nullptr; // a record-sized work area (pool), allocated on demand
  uint32_t ReferenceFont = 0;       // complex-text reference font (2644); 0 none
  uint32_t KeyTableDepth = 0;       // table depth of the first cell (step 11)

  // Walk state of the dispatcher beyond the fields above.
  RTRecordNode* PendingRunNode = nullptr;  // node of PendingRunStart
  uint32_t BeginOverflow = 0;       // BEGIN records past kMaxBeginDepth still open
  // Their objects, outermost first (slots 0..kMaxOverflowObjects - 1): what is
  // nested deeper still knows the element it lies in.
  uint16_t OverflowSignatures[kMaxOverflowObjects] = {};
  uint32_t SatisfiedThisRecord = 0; // nodes satisfied while handling the current record
  uint32_t EndingRecordOutside = 0; // the record ending the element belongs to what follows
  uint32_t CurrentCellColumn = 0;   // column (from 1) of the last cell record; 0 outside tables
  uint16_t PendingParagraphDefinitionLength = 0;
  uint32_t ComposeParagraphPending = 0;  // a paragraph the composition still has to start
  uint32_t ReferenceFontSet = 0;    // ReferenceFont holds the complex-text reference
  NnStatus SetupStatus = 0;

  // Link data, replacement and removal operations (linkops, replaceops,
  // removeops). Records the removals mark ahead carry kNodeDrop on the walked
  // list; when the call fails and that list stays the item's, the guard
  // clears the marks so that no later call loses those records.
  struct DropMarkGuard {
    TorvoRTItem* item = nullptr;
    RecordList* list = nullptr;
    DropMarkGuard() = default;
    DropMarkGuard(const DropMarkGuard&) = delete;
    DropMarkGuard& operator=(const DropMarkGuard&) = delete;
    ~DropMarkGuard();
  } DropMarks;
  // 2366 on table rows: for each removed row, the begin record of its table
  // in the composition and its row index. After the walk the later rows of
  // each such table are renumbered and its row count lowered; a table goes
  // with its last row.
  struct RemovedRow {
    RTRecordNode* composedTableBegin = nullptr;
    uint8_t row = 0;
  };
  static constexpr uint16_t kMaxRemovedRows = 256;
  RemovedRow RemovedRows[kMaxRemovedRows] = {};
  uint16_t RemovedRowCount = 0;
  // 2366: the frame of the structures the range cuts (removeframes), made by
  // the removal's set-up and owned here (the context is copied as bytes).
  struct CutFramesOwner {
    kv::removal::CutFrames* frames = nullptr;
    CutFramesOwner() = default;
    CutFramesOwner(const CutFramesOwner&) = delete;
    CutFramesOwner& operator=(const CutFramesOwner&) = delete;
    ~CutFramesOwner();
  } RemovalFrames;
  uint32_t FieldSwitchMark = 0;     // step 71: the next field record is marked
  uint32_t PropertyOnceDone = 0;    // 2437: bits of the once-per-target changes
  uint32_t LinkRewriteCount = 0;    // 2362: links rewritten

  // Link and wiki matching (matchops, wikiops): the session's key context,
  // the "MatchFont=" pattern a run's font must match, and the hotspot state
  // the read-only keyword pass keeps itself.
  struct LinkMatchContext* LinkMatch = nullptr;
  FontState MatchFontPattern;
  uint32_t MatchFontMask = 0;

  // Table, cell, text-run, paragraph and graphic operations (tableops,
  // textops): the requested paragraph change and their working state.
  TableTextOpsState TableText;

  // Properties and queries (properties, queries): the written flags of the
  // property writers, the margins of step 36, the table levels of steps 34
  // and 42, and the hide-when state of step 25.
  uint8_t PropWritten[32] = {};
  uint32_t PropMaxRight = 0;
  uint32_t PropMinLeft = 0;
  int32_t PropTableDepth = 0;
  int32_t PropFirstLevel = 0;       // level of the first table met (step 42); 0 none
  uint32_t PropRowOpen = 0;         // step 42: a row of that level is being walked
  uint8_t PropRefit[kMaxEngineTableDepth + 2] = {};
  uint16_t PropRowEdge[kMaxEngineTableDepth + 2] = {};
  uint32_t PropHideWritten = 0;
  uint16_t PropFormulaHolder = 0;
  uint16_t PropHighestId = 0;
  uint16_t PropNextId = 0;
  uint16_t PropIdMapCount = 0;
  uint16_t PropIdMap[32][2] = {};   // step 25: replaced definition ids, old and new

  // Graphic and attachment operations (graphicops): the caption of the icons
  // drawn in the current attachment hotspot (2814, 2815), and whether the old
  // picture of a redrawn icon is still to be dropped.
  char GraphicCaption[132] = {};
  uint32_t GraphicDropPicture = 0;

  // Insertions and element actions (insertops): the once-per-element option
  // flags, the once-per-call records, and the cell positions per table level.
  uint32_t AltTextWritten = 0;
  uint32_t CaptionWritten = 0;
  uint32_t HtmlAttributesWritten = 0;
  uint32_t BorderWritten = 0;
  uint32_t GraphicBeginOpen = 0;
  uint32_t InsertOnceDone = 0;      // 2394, 2422, 2447, step 42 wrote their record
  uint8_t InsertCellColumn[kMaxEngineTableDepth + 2] = {};
  uint8_t InsertCellRow[kMaxEngineTableDepth + 2] = {};
  // The paragraph in force where the walk stands, per table level (0 none
  // seen yet), kept in the composition's paragraph reference; the open OLE
  // objects (0xFFA7 without its 0xFFA8); whether this call wrote the default
  // paragraph definition for an item that lacked the one referenced.
  uint16_t ParagraphIdAtLevel[kMaxEngineTableDepth + 2] = {};
  int32_t ParagraphIdLevel = 0;
  int32_t OleDepth = 0;
  uint32_t DefaultDefinitionWritten = 0;
  // An insertion at a cell (text also at a paragraph start) waits for the
  // content; the record an insertion goes in front of.
  uint32_t LeadTextPending = 0;
  RTRecordNode* InsertionPlace = nullptr;

  // Graphic storage and export steps (graphicsteps): the attachments that
  // step 68 "storage" made in this call. When the call does not install its
  // new records (the walked list is still the item's), the guard removes them.
  struct GraphicAttachmentGuard {
    TorvoRTItem* item = nullptr;
    RecordList* list = nullptr;
    NnHandle note = 0;
    void* names = nullptr;          // owned: the names made (richtext/compose/attachments.cpp)
    GraphicAttachmentGuard() = default;
    GraphicAttachmentGuard(const GraphicAttachmentGuard&) = delete;
    GraphicAttachmentGuard& operator=(const GraphicAttachmentGuard&) = delete;
    ~GraphicAttachmentGuard();
  } GraphicAttachments;
};

// The object that the innermost open BEGIN names; 0 when none is open, or
// when it lies deeper than the walk keeps objects.
inline uint16_t InnermostOpenObject(const RTProcessContext* ctx) {
  if (ctx->BeginOverflow)
    return ctx->BeginOverflow <= kMaxOverflowObjects
               ? ctx->OverflowSignatures[ctx->BeginOverflow - 1]
               : 0;
  const int32_t d = ctx->OpenSignatureDepth;
  return d > 0 && d <= int32_t(kMaxBeginDepth) ? ctx->OpenSignatures[d] : 0;
}

// Sets the engine's process-wide progress callback (null removes it). It is
// asked at records 1, 101, 201 ... of every walk, in the walking session's
// thread; a non-zero answer interrupts the walk.
using ChunkProgressCallback = int (*)(uint32_t recordNumber);
void SetChunkProgressCallback(ChunkProgressCallback callback);
ChunkProgressCallback GetChunkProgressCallback();

// The engine entry. Returns 0 on success (546 from the walk counts as 0); sets
// the chunk's last status to 1298 after a read-only call.
NnStatus ProcessChunkOperation(TorvoRTChunk* chunk, NnHandle hNote, const char* itemName,
                               ChunkOperationCode code, uint32_t subCode, uint32_t number1,
                               uint32_t number2, uint32_t number3, const char* text1,
                               const char* text2, uint64_t reserved, chunkdef_info* extraDefinition,
                               void* extra);

// The innermost node of the call's chain (its sub-definition included):
// what the call addresses. Null for a call on the whole item.
const chunkdef_info* InnermostCallNode(const RTProcessContext* ctx);

// The record walk (one record).
NnStatus ProcessChunkRecord(uint8_t* data, uint16_t signature, uint32_t length,
                            RTProcessContext* ctx);
int TestChunkRecordBoundary(chunkdef_info* node, const uint8_t* data, uint16_t signature,
                            uint16_t previousSignature, uint32_t* singleRecord,
                            RTProcessContext* ctx);
int MatchRecordToTarget(chunkdef_info* node, const uint8_t* data, uint16_t signature,
                        uint16_t previousSignature, uint32_t* counted, uint32_t* endOutside,
                        uint32_t alreadyStarted, RTProcessContext* ctx);
// Unlinks the node from the walked list, frees what it owns, returns the next node.
RTRecordNode* UnlinkRecordNode(RTProcessContext* ctx, RTRecordNode* node);

// Where the target begins, inside it, and where an element of it ends.
NnStatus ApplyOperationAtTarget(uint8_t* data, uint16_t signature, uint32_t length,
                                RTProcessContext* ctx);
NnStatus ApplyOperationToRecord(uint8_t* data, uint16_t signature, uint32_t length,
                                RTProcessContext* ctx);
NnStatus ApplyChunkElementAction(uint8_t* data, uint16_t signature, uint32_t length,
                                 RTProcessContext* ctx);

// Appends the run of untouched records from the pending run start up to (not
// including) `upTo` (0: to the end of the list); closes the run.
NnStatus FlushPendingRun(RTProcessContext* ctx, uint32_t upTo);
