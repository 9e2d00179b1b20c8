// The vocabulary of the chunk operation engine: operation codes and whether
// each rewrites the item, target types with their names and the record
// descriptors that recognise them, property-name lists, and small lookups.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Operation codes ---------------------------------------------------------
using ChunkOperationCode = uint16_t;

// Engine steps passed directly by chunk methods.
enum : ChunkOperationCode {
  STEP_LOCATE = 1,         // find or count, with a property code as sub-code
  STEP_POSITIONS = 2,      // collect the target positions
  STEP_TEXT_GET = 9,
  STEP_TEXT_SET = 10,
  STEP_SORT_KEYS = 11,
  STEP_NEXT_PARAGRAPH_ID = 37,
  STEP_CLEANUP_TEXT = 49,
  STEP_GRAPHIC_EXPORT = 68,
};

// Property codes used as sub-codes of the steps.
enum : uint32_t {
  PROP_EXISTS = 2315,
  PROP_FIRST_RECORD = 2316,
  PROP_LAST_RECORD = 2321,
  PROP_TEXT = 2332,
  PROP_FIND = 2427,
};

// Operations named by the chunk methods.
enum : ChunkOperationCode {
  OP_RENDER_HTML = 2419,
  OP_APPEND_HTML = 2448,
};

struct ChunkOperationRow {
  uint32_t code;
  uint32_t modifies;
  uint32_t opClass;
};
constexpr size_t kChunkOperationRows = 126;
// 2351..2449, then 2801..2827, then a row of zeros.
extern const ChunkOperationRow ChunkOperationTable[kChunkOperationRows + 1];

// The write mode of a call: 1 when the engine rebuilds the item.
uint32_t ChunkOperationWriteMode(ChunkOperationCode code, uint32_t subCode);

// ---- Target types ------------------------------------------------------------------
enum TargetType : uint16_t {
  EVERYTHING = 0,
  TABLE = 1,
  HOTSPOT = 2,
  BUTTON = 3,
  SECTION = 4,
  ROW = 5,
  COLUMN = 6,
  FILE_ATTACHMENT = 7,  // "File"
  DOCLINK = 8,
  TEXT = 9,
  STYLIZEDTEXT = 10,
  RAWTEXT = 11,
  RECORD = 12,
  OLEOBJECT = 13,
  ANCHOR = 14,
  GRAPHIC = 15,
  HYPERLINK = 16,
  ACTIONHOTSPOT = 17,
  POPUP = 18,
  FIELD = 19,
  EVENT = 20,
  PARAGRAPH = 21,
  XML = 22,
  SUBFORM = 23,
  COMPUTEDTEXT = 24,
  HTML = 25,
  XHTML = 26,
  HORIZONTALRULE = 27,
  PASSTHRUHTML = 28,
  LAYER = 29,
  LAYOUT = 30,
  URLLink = 31,
  ImageMap = 32,
  GraphicHotspot = 33,
  IGNORE = 34,
  NONBLANKTEXT = 35,
  PARAGRAPHLIST = 36,
  DELIMITEDHTML = 37,
  PAGEBREAK = 38,
  TAGGEDTEXT = 39,
};
constexpr uint16_t kTargetTypeCount = 40;

extern const char* const TargetTypeNames[kTargetTypeCount];

// One row per target type (row 0 unused). Field meanings as the engine's
// record walk reads them.
struct TargetTypeDescriptor {
  uint16_t targetType;
  uint16_t startSignatures[4];      // 0 = empty slot
  uint16_t beginSignatures[4];      // objects a BEGIN (221) may announce; the first three count
  uint16_t occurrenceOffset;        // byte of the start record giving the occurrence, +1
  uint8_t zero1[20];
  uint16_t selectOffset;            // 16-bit field of the start record to select on
  uint16_t selectCount;
  uint16_t selectValues[4];
  uint32_t excludeOffset;           // 32-bit flag word with exclusion masks
  uint16_t excludeCount;
  uint32_t excludeMasks[3];
  uint32_t requireOffset;           // 32-bit flag word with required masks
  uint16_t requireCount;
  uint32_t requireMasks[4];
  const char* leadText;             // a text element begins with it
  const char* leadText2;            // not consulted
  const char* closeText;            // a text element ends with it
  const char* closeText2;
  uint16_t endSignatures[7];
  uint16_t insideEndSignatures[7];
  uint32_t notRowOrColumn;
  uint32_t singleRecord;
  uint32_t endOutside;
  uint32_t layerLike;
};
extern TargetTypeDescriptor TargetTypeDescriptors[kTargetTypeCount];
// Fills the run-time fields of the descriptors the first time it is called
// (at start-up); later calls, from any thread, wait for that and write nothing.
void InitTargetTypeDescriptors();

struct TargetPropertyRow {
  uint16_t targetType;
  uint16_t count;
  const char* const* names;  // null when the type has no list
};
extern const TargetPropertyRow TargetPropertyNames[kTargetTypeCount];

extern const char* const JavaScriptReservedWords[];
struct MimeTypeRow {
  const char* extension;
  const char* mimeType;
};
extern const MimeTypeRow MimeTypeTable[];

// ---- Lookups -------------------------------------------------------------------------
const char* GetTargetTypeName(uint32_t type, const char* fallback);
uint16_t FindTargetTypeByName(const char* name);
uint32_t FindTargetPropertyIndex(uint32_t type, const char* name);
int IsNotJavaScriptReservedWord(const char* name);
const char* GetMimeTypeForExtension(const char* fileName);
char ChooseDelimiterChar(const char* text, long length);
