// The record list: an item's rich-text records in host layout, in order.
//
// Nodes loaded from an item point into the list's load area (the joined,
// converted records) and do not own their data; nodes built by the
// composition carry kNodeOwnsData and point into the composition's segment
// buffers, which the list then owns. The matching operations rely on that
// difference to tell records they wrote from records they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nn/nn.h"

class LSXLsiSession;
class TorvoRTItem;

enum : uint16_t {
  kNodeDrop = 0x1,          // drop the record when the walk reaches it
  kNodeOwnsData = 0x2,      // data built by the composition, not the load area
  kNodeBuiltByEngine = 0x4, // built while the session's adopt flag was raised
  kNodeAuxHandle = 0x8,     // the auxiliary block holds a platform handle to free first
  kNodeInserted = 0x10,     // written by the last text insertion: its clean-up stays next to it
  kNodeInBlock = 0x20,      // one of the list's node block: freed with the list, not alone
  kNodeTypedMarkup = 0x40,  // pass-through begin marked from typed text: its markup is filtered
  kNodeDelimiter = 0x80,    // text of a marked delimiter: its marker and the typed "<" or ">"
};

struct RTRecordNode {
  uint16_t signature = 0;   // byte-header records without their length byte
  uint32_t length = 0;      // host-layout length, header included
  uint32_t sequence = 0;    // position in the list, from 1
  // Where the record was stored: its byte offset within its stored segment and
  // the segment's number (0 for records built in memory).
  uint32_t position = 0;
  uint16_t segment = 0;
  uint16_t flags = 0;
  uint8_t* data = nullptr;  // the host-layout record, from its own header on
  void* aux = nullptr;      // auxiliary block of the handlers (text runs, tables, graphics)
  RTRecordNode* next = nullptr;
  RTRecordNode* prev = nullptr;
};

struct RecordList {
  RTRecordNode* first = nullptr;
  RTRecordNode* last = nullptr;
  uint32_t count = 0;
  uint8_t* loadArea = nullptr;       // pool block with the converted records
  size_t loadAreaSize = 0;
  RTRecordNode* nodeBlock = nullptr; // pool block with the loaded records' nodes
  std::vector<NnHandle> segments;    // composition buffers the list owns
  uint16_t storedSegments = 0;       // item segments it was loaded from
  // The item flags of the first stored segment, kept for the write-back.
  uint16_t itemFlags = 0;
};

// Loads the records of the item's rich-text segments (items of its name, in
// order), converting each from the stored to the host layout. Returns an empty
// list when the note has no item of that name. Returns null, after logging the
// reason with NN_ERR_CD_STRUCTURE (or NN_ERR_MEMORY), when a record does not fit
// its segment, is shorter than its header or its fixed part; the item is not
// touched. `status` (may be null) receives the status.
RecordList* RecordListLoad(TorvoRTItem* item, uint32_t reserved, RecordList** loadArea,
                           uint32_t reserved2, NnStatus* status = nullptr);
// The same over a note handle and item name (used by item copies).
RecordList* RecordListLoadFromNote(LSXLsiSession* session, NnHandle hNote, const char* itemName,
                                   NnStatus* status);

// First node for null, else the node's successor; null at the end.
RTRecordNode* RecordListNext(const RecordList* list, const RTRecordNode* node);
// The node's predecessor; null when none or when no node is given.
RTRecordNode* RecordListPrev(const RecordList* list, const RTRecordNode* node);
// The END (222) that closes the BEGIN (221) at `begin`, and the BEGIN that
// the END at `end` closes, counting the groups nested between; null when the
// list holds none.
RTRecordNode* RecordGroupEnd(RTRecordNode* begin);
RTRecordNode* RecordGroupBegin(RTRecordNode* end);
// The end record (127, 170, 174) of the hotspot begun at `begin`, counting the
// hotspots nested in it; null when the list holds none.
RTRecordNode* RecordHotspotEnd(RTRecordNode* begin);

// Frees the nodes, the load area and the segment buffers of the list, then the list.
void RecordListFreeWithAllocator(LSXLsiSession* session, RecordList* list);

// A new empty list from the pool; null when out of memory.
RecordList* RecordListCreate(LSXLsiSession* session);
// Appends a node for data that stays where it is (no copy); null when out of memory.
RTRecordNode* RecordListAppendNode(LSXLsiSession* session, RecordList* list, uint16_t signature,
                                   uint8_t* data, uint32_t length, uint16_t flags);
// Removes a node from its list (its data stays where it is) and frees it.
void RecordListUnlink(LSXLsiSession* session, RecordList* list, RTRecordNode* node);
// Renumbers the sequence numbers from 1.
void RecordListRenumber(RecordList* list);

// Converts the list back to the stored layout and packs it into segments of at
// most kMaxItemSegment bytes, records never straddling two, odd lengths kept in
// the header and followed by a zero pad byte. Nodes marked kNodeDrop are left
// out. NN_ERR_CD_STRUCTURE when a record cannot be converted or does not fit a
// segment; nothing is returned then.
constexpr uint32_t kMaxItemSegment = 63358;
constexpr uint32_t kMaxRecordLength = 64382;
NnStatus RecordListToSegments(const RecordList* list, std::vector<std::vector<uint8_t>>* segments);
