// RenderContext: the one block a render runs in — the render options, the
// output buffer with its cursor and limits, and the working state of one
// render. Zero-filled when allocated (value-initialised here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_set>

#include "nn/nn.h"
#include "render/render_states.h"

class LSXLsiSession;
class TorvoRTItem;
class TorvoRTChunk;
class TorvoCollection;
struct RTRecordNode;
struct RecordList;

// What an open element is where its closing text alone does not say it. A
// section's body is found by its kind and its opener, never by its text, so
// that each section is closed once, by the one that opened it.
enum class OpenElementKind : uint8_t {
  kMarkup,   // an element of the page's markup, recognised by its closing text
  kCell,     // a table cell: a section inside it never reaches past it
  kSection,  // the body of a collapsible section
};

// An entry of the open-element lists (block and inline).
struct OpenElement {
  OpenElement* next = nullptr;   // the element opened before it
  char* closingText = nullptr;   // e.g. "</div>": shortText, or a pool text when longer
  uint32_t level = 0;            // nesting level stored with the entry
  // Unique within the render: the writer that pushed the entry finds it
  // again even when another writer closed it and a new entry took its memory.
  uint32_t serial = 0;
  OpenElementKind kind = OpenElementKind::kMarkup;
  const void* opener = nullptr;  // a section: the hotspot whose end closes it (null: the page)
  char shortText[20] = {};       // a short closing text, kept in the entry itself
};

// A CSS class rule collected from the rich text's style records.
struct ClassRule {
  ClassRule* next = nullptr;
  char* selector = nullptr;      // pool text, e.g. ".note"
  char* element = nullptr;       // element name to write, pool text or null
  char* attributes = nullptr;
  uint16_t paragraphId = 0;
};

constexpr uint32_t kForcedFontSizeStated = 0x100;
constexpr uint32_t kForcedFontFaceSet = 0x100;

// Output kinds.
enum : uint16_t {
  kOutputPlain = 0,
  kOutputHtml = 2,
  kOutputXhtml = 4,
};

constexpr uint32_t kOutputReserve = 500;       // no writer passes capacity less this
constexpr uint32_t kScratchTextSize = 4104;
constexpr uint32_t kStringTableSize = 1024;     // at most 1,023 used
constexpr uint32_t kParagraphClassSlots = 2048;
constexpr uint32_t kHiddenParagraphSlots = 512;
constexpr uint32_t kBorderClassSlots = 64;
constexpr uint32_t kParagraphDefinitionSlots = 512;
constexpr uint32_t kMaxSectionLevels = 50;
constexpr uint32_t kMaxListLevels = 32;
constexpr uint32_t kFaceNameTextSize = 32;

struct RenderContext {
  // ---- record range and nesting ----
  LSXLsiSession* session = nullptr;
  RTRecordNode* currentRecord = nullptr;
  RTRecordNode* lastRecord = nullptr;
  RecordList* records = nullptr;          // the list the range belongs to
  TableWriterState table;
  uint32_t globalStyleActive = 0;
  uint32_t newlineOnParagraph = 0;
  uint32_t tableContinues = 0;
  uint32_t tableRowOpen = 0;
  uint32_t clearBreakPending = 0;
  uint32_t rightToLeftSeen = 0;
  RTRecordNode** definitionTable = nullptr;  // pool array, by index from 1
  uint16_t definitionCount = 0;
  uint16_t currentDefinitionIndex = 0;
  uint16_t previousDefinitionIndex = 0;
  uint16_t paragraphClassCount = 0;
  uint16_t stringTableCount = 0;
  uint16_t hiddenParagraphIdCount = 0;
  uint32_t outputCapacity = 0;
  uint16_t outputRestartOffset = 0;
  char scratchText[kScratchTextSize] = {};
  RTRecordNode* listDefinitions[kMaxListLevels + 1] = {};
  uint16_t listDepth = 0;
  uint8_t faceUsage[256] = {};
  uint8_t pointSizeUsage[256] = {};
  uint8_t colourUsage[256] = {};
  char* stringTable[kStringTableSize] = {};
  // Interned strings past the table's 1,023: a pool array that grows.
  char** stringOverflow = nullptr;
  uint32_t stringOverflowCount = 0;
  uint32_t stringOverflowCapacity = 0;
  char* paragraphClassCss[kParagraphClassSlots] = {};
  uint16_t paragraphClassIds[kParagraphClassSlots] = {};
  uint16_t hiddenParagraphIds[kHiddenParagraphSlots] = {};
  char* borderClassCss[kBorderClassSlots] = {};
  char borderClassCodes[kBorderClassSlots][5] = {};
  uint16_t borderClassCount = 0;
  uint16_t nestingCounters16[10] = {};
  uint32_t nestingCountersA[9] = {};
  uint32_t nestingCountersB[9] = {};
  uint16_t sectionCounter = 0;
  RTRecordNode* paragraphDefinitions[kParagraphDefinitionSlots] = {};
  uint16_t paragraphDefinitionCount = 0;
  uint16_t tableLevelValues[2][9] = {};
  char* outputCursor = nullptr;
  OpenElement* blockElementList = nullptr;
  OpenElement* inlineElementList = nullptr;
  uint32_t elementSerial = 0;             // the serial of the newest entry pushed
  TorvoRTItem* item = nullptr;
  uint16_t* paragraphIdMapStored = nullptr;   // pool arrays
  uint16_t* paragraphIdMapInForce = nullptr;
  uint32_t paragraphIdMapCount = 0;
  // One bit per mapped id (pool, 8 KiB), and whether every id maps to itself:
  // a paragraph lookup then costs no walk over the map.
  uint8_t* paragraphIdMapBits = nullptr;
  bool paragraphIdMapIdentity = false;
  const char* optionString = nullptr;
  char* outputBuffer = nullptr;
  const char* tableCloseText = nullptr;
  uint32_t flushThreshold = 0;
  uint16_t styleVariant = 0;
  // Forced fonts: a point size (or kForcedFontSizeStated), a face with
  // kForcedFontFaceSet, a colour as 0x01BBGGRR; 0 when not forced.
  uint32_t forcedFontSize = 0, forcedFontFace = 0, forcedFontColour = 0;
  uint8_t baseFont[4] = {1, 0, 0, 10};       // face, attributes, colour, point size
  uint16_t characterSet = 32;
  uint16_t tabSpaces = 0;
  uint16_t outputKind = kOutputHtml;
  uint32_t containerKind = 0;

  // Directory and URL options (pool texts or null).
  char* imageURLDirectory = nullptr;
  char* attachmentURLDirectory = nullptr;
  char* imageDirectory = nullptr;
  char* attachmentDirectory = nullptr;
  char* inPlaceAttachmentURLDirectory = nullptr;
  char* dbResource = nullptr;
  char* imageFilePath = nullptr;
  char* basePathname = nullptr;
  char* formName = nullptr;
  char* formPath = nullptr;
  uint32_t clearNextParagraph = 0;
  char* expandIcon = nullptr;
  char* collapseIcon = nullptr;
  char* bulletGraphics[4] = {};
  char* pendingAnchor = nullptr;           // into the output buffer; null when none
  const char* styleDelimiterOpen = "";
  const char* styleDelimiterClose = "";
  char* tabColours[4] = {};
  char* stylesheetUrl = nullptr;
  ClassRule* classRules = nullptr;
  uint16_t fontSizeThresholds[6] = {8, 10, 12, 14, 18, 24};
  uint16_t tableLevel = 0;
  uint16_t layerDepth = 0;
  uint32_t renderFlagsA = 0, renderFlagsB = 0, renderFlagsC = 0, renderFlagsD = 0,
           renderFlagsE = 0;
  uint32_t sectionLineFlags = 0;
  uint32_t css3Features = 0;
  uint32_t encodingFlags = 0;
  char faceNames[256][kFaceNameTextSize] = {};
  uint32_t localIcons = 0;
  uint32_t paragraphRightToLeft = 0;
  const char* paragraphElementRule = nullptr;

  // ---- further option values read by the writers ----
  uint32_t attachmentHandling = 1;         // IGNORE 0, DISK 2, NAME 4, REF 8, else 1
  uint32_t dataImages = 0;                 // 0 off; else the largest inline image in bytes
  uint16_t iconPointSize = 12;
  char iconFont[132] = "Arial";
  uint32_t substituteText = 0;             // ProcessXMLText writes the session scratch text
  uint32_t mimePartCount = 0;              // parts written by WriteMIMEHTMLPart
  NnCharsetInfo* charsetTable = nullptr;   // loaded for the render by the engine
  NnReplicaInfo replicaInfo{};
  uint16_t debugLevel = 0;

  uint16_t paragraphMarksOff = 0;
  uint16_t sectionLevel = 0;
  void* sectionSlots[kMaxSectionLevels] = {};
  uint32_t mimeRender = 0;
  TorvoCollection* collection = nullptr;
  uint32_t markerDatabase = 0;
  uint32_t markerNoteOpen = 0;
  uint32_t navigationImageWritten = 0;
  uint32_t imageDirectoryMade = 0;
  // The marker runs of the rendered list that the collection wrote itself,
  // found at the first marker run met; no other run switches the note.
  std::unique_ptr<std::unordered_set<const RTRecordNode*>> ownMarkers;

  // ---- engine hand-over (operation 2419) ----
  uint32_t subChunk = 0;                   // the render is of a sub-chunk (mode 1 ranges)
  uint16_t startsOrContainsType = 0;       // the innermost node's type for STARTS WITH / CONTAINS
  RTRecordNode* rangeFirst = nullptr;      // the render range the engine's handler records
  RTRecordNode* rangeLast = nullptr;
  TorvoRTChunk* chunk = nullptr;

  // ---- writer families ----
  GraphicWriterState graphics;
  HotspotWriterState hotspot;
  HeadWriterState head;
  DriverWriterState driver;
  OutputPartState outputPart;

  // Work texts of the HTML text writer (cursors 1 and 2).
  char workText1[4096] = {};
  char workText2[4096] = {};
  char* workCursor1 = nullptr;
  char* workCursor2 = nullptr;

  // MIME output: the parts written so far (collected by the caller).
  void (*partWriter)(RenderContext* ctx, const char* text, size_t length, int finalPart,
                     void* closure) = nullptr;
  void* partClosure = nullptr;
};

// Allocates a zeroed context with an output buffer of `capacity` bytes from
// the session's pool; null when out of memory.
RenderContext* RenderContextCreate(LSXLsiSession* session, uint32_t capacity);
// Frees the context, its output buffer and the pool texts it owns.
void RenderContextFree(RenderContext* ctx);
