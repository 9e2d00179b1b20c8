// TorvoRTChunk: a selection inside one rich-text item, its definition chain
// (chunkdef_info) and its internal block (_internal_RTChunk).
#pragma once

#include <cstdint>

#include "lsxsessi.h"
#include "nn/nn.h"

class TorvoRTItem;
class TorvoRTChunk;
class TorvoCollection;
struct RenderContext;
namespace kv {
struct SortKeyEntry;
}

// Relations of a definition node.
enum ChunkRelation : uint16_t {
  REL_EVERYTHING = 1,
  REL_CONTAINS = 2,
  REL_INSIDE = 3,
  REL_OUTSIDE = 4,
  REL_BEFORE = 5,
  REL_AFTER = 6,
  REL_STARTS_WITH = 7,
  REL_ENDS_WITH = 8,
};

// Match modes of a definition node.
enum ChunkMatchMode : uint16_t {
  MATCH_NONE = 0,
  MATCH_TEXT = 1,
  MATCH_STARTS = 2,
  MATCH_ENDS = 3,
  MATCH_SUBSTR = 4,
  MATCH_EVENT = 5,
  MATCH_ID = 6,
  MATCH_NAME = 7,
};

constexpr uint32_t kMaxOccurrences = 100;

// One part of a chunk definition. Heap memory (operator new), zero-filled.
struct chunkdef_info {
  uint16_t relation = 0;           // ChunkRelation
  uint16_t targetType = 0;         // TargetType 0..39
  uint32_t occurrenceCount = 0;    // 0: every occurrence ("*")
  uint32_t occurrences[kMaxOccurrences] = {};
  uint32_t rangeEnds[kMaxOccurrences] = {};  // > occurrence: a range
  char* matchText = nullptr;       // owned (new[]); the caller's letter case
  uint16_t matchMode = 0;          // ChunkMatchMode
  char* attachedText = nullptr;    // owned (new[]); set by the wiki matching
  chunkdef_info* next = nullptr;   // the next, inner node

  // Engine fields, zeroed at every engine call.
  uint32_t runningCount = 0;       // running occurrence counter
  uint32_t satisfied = 0;
  uint32_t inside = 0;
  uint32_t rearmRecord = 0;        // satisfied when the walk reaches this record number
  uint32_t savedHotspotDepth = 0;  // depth snapshot taken when satisfied
  uint32_t savedLayerDepth = 0;
  uint32_t savedTableDepth = 0;
  uint32_t savedFlagFF68 = 0;
  uint32_t savedBeginDepth = 0;
  uint32_t stylizedFont = 0;       // font of a stylized-text start
  chunkdef_info* inner = nullptr;  // walk links for one call
  chunkdef_info* outer = nullptr;
};

// Frees a chain from `head` on, with every node's texts.
void FreeChunkDefinition(chunkdef_info* head);
// Parses a definition text into a new chain; null when it does not parse.
// `previous` is the node the first new node follows (null for a fresh chain).
// `simpleFlag` (may be null) is set to 1 when every new node is a CONTAINS node
// with one single occurrence, else 0.
chunkdef_info* ParseChunkDefinition(LSXLsiSession* session, const chunkdef_info* previous,
                                    const char* text, uint32_t* simpleFlag);

using ActOnTextCallback = int (*)(TorvoRTChunk* chunk, const char* text, uint32_t length);
using QueryLinkDataCallback = int (*)(TorvoRTChunk* chunk, const char* linkText, void* reserved,
                                      uint16_t kind, const char* url, uint32_t flags, char* answer,
                                      uint32_t answerSize, void* extra1, void* extra2);
using QueryExportNamesCallback = int (*)(TorvoRTChunk* chunk, const char* kind, char* path,
                                         char* url);

// A record of up to four buffers the engine leaves on the chunk.
struct HeldBuffers {
  void* buffers[4] = {};
  HeldBuffers* next = nullptr;
};

constexpr uint16_t kChunkBlockMarker = 2648;

struct _internal_RTChunk {
  uint16_t marker = kChunkBlockMarker;
  chunkdef_info* chain = nullptr;        // head of the definition chain
  char* workBuffer1 = nullptr;           // owned (new[])
  char* workBuffer2 = nullptr;
  NnHandle workBlocks[5] = {};           // 65,406-byte platform blocks (2416, AppendField)
  void* workBlockAddress[5] = {};
  HeldBuffers* held = nullptr;
  RenderContext* renderContext = nullptr;  // not owned
  uint32_t simpleDefinition = 0;
  ActOnTextCallback ActOnText = nullptr;
  QueryLinkDataCallback QueryLinkData = nullptr;
  QueryExportNamesCallback QueryExportNames = nullptr;
  uint16_t rowKeyCount = 0;
  kv::SortKeyEntry* rowKeys = nullptr;  // pool array; each key text a pool buffer
  // Target positions collected by step 2 (count and pool array of 24-byte entries).
  uint16_t positionCount = 0;
  kv::SortKeyEntry* positions = nullptr;
};

// Releases the block's held-buffer list, resets the block (marker 2648) and,
// with `freeBlock`, frees it.
void ReleaseChunkContext(_internal_RTChunk* block, int freeBlock);

class TorvoRTChunk : public SessionListed {
 public:
  TorvoRTChunk(LSXLsiSession* session, TorvoRTItem* item);
  ~TorvoRTChunk();
  TorvoRTChunk(const TorvoRTChunk&) = delete;
  TorvoRTChunk& operator=(const TorvoRTChunk&) = delete;

  // A new chunk whose chain is this one's followed by `definition`; null when
  // it does not parse or memory runs out.
  TorvoRTChunk* DefineSubChunk(const char* definition);
  // Writes the text of a chain into out (4,096 bytes); "Everything" for null.
  static void CalculateDefinition(const chunkdef_info* chain, char* out);
  // Replaces the definition text by the chain's text.
  void RewriteDefinition();
  // The innermost node of the chain, or null.
  chunkdef_info* InnermostNode() const;

  // ---- method frame and navigation ----
  void AlterRichText(uint16_t code, uint32_t n1, uint32_t n2, uint32_t n3, uint32_t n4,
                     const char* text, const char* text2, const char* definition,
                     TorvoRTChunk* other);
  int Exists();
  int GetNextTarget(int unused = 0);
  int GetPreviousTarget(int unused = 0);
  int GetLastTarget(int unused = 0);
  long GetCount(const char* definition);
  int ZoomIn(const char* definition);
  void ZoomOut();
  unsigned long FindTextChunk(int inside, const char* text, uint16_t length, const char* mode,
                              const char* font);
  unsigned long FindNamedChunk(int inside, const char* typeName, const char* name,
                               uint16_t length, const char* mode, const char* font);
  uint16_t SetText(const char* definition, const char* text, uint16_t length,
                   const char* options);
  unsigned long GetText(const char* definition, char* buffer, unsigned long size, int flag,
                        const char* options);

  // The frame: runs the engine once with these arguments (see the method frame
  // in richtext/chunk). Returns the status; 1298 is turned into 0.
  NnStatus RunFrame(uint16_t code, uint32_t subCode, uint32_t n1, uint32_t n2, uint32_t n3,
                    const char* text, const char* text2, const char* definition, void* extra);

  // ---- HTML generation (export/generate.cpp) ----
  // The chunk as a whole page: GenerateHTML writes HTML, GenerateXML XHTML
  // (well-formed XML). On success *page is a pool text of the session (free it
  // with PoolFree), UTF-8, NUL-terminated, *length bytes without the NUL.
  // `fileName` (may be null) names the page; `options` is the Key=value render
  // option string (the page title is the note's Subject);
  // `collection` is set for a multi-document render. The output buffer starts
  // at 1 MB and grows fourfold up to 256 MB; a page that does not fit gives 263
  // and no page. A render never comes back truncated as success.
  NnStatus GenerateHTML(const char* fileName, const char* options, char** page, uint32_t* length,
                        TorvoCollection* collection = nullptr);
  NnStatus GenerateXML(const char* fileName, const char* options, char** page, uint32_t* length,
                       TorvoCollection* collection = nullptr);
  // A multipart/related MIME message (pool text as above): the HTML page as the
  // first part, then one part per inline image, referenced from the page by
  // "cid:" URLs.
  NnStatus GenerateHTMLToMime(const char* options, char** message, uint32_t* length);
  // Operation 2419 into a prepared context (options read, output buffer and
  // cursor set; the caller's prologue may already stand in it): the engine's
  // render, then the finishing call. 263 when the output did not fit.
  NnStatus RenderIntoContext(RenderContext* ctx);

  // ---- properties, queries and events (richtext/chunk/properties.cpp) ----
  // (declarations of the property family go here)

  // ---- editing and appending (richtext/chunk/editing.cpp, appending.cpp) ----
  // (declarations of the editing family go here)

  // ---- hotspots with code, sorting, comparison (richtext/chunk/hotspots.cpp, sorting.cpp) ----
  // (declarations of that family go here)

  // ---- link and wiki matching (richtext/chunk/matching.cpp, wiki.cpp) ----
  // (declarations of the matching family go here)

  // ---- state ----
  LSXLsiSession* session = nullptr;
  TorvoRTItem* item = nullptr;
  char* definitionText = nullptr;       // owned (new[])
  char* outerDefinitionText = nullptr;  // owned; kept by the first ZoomIn
  uint16_t targetType = 0;
  NnStatus lastStatus = 0;
  uint16_t lastInternalError = 0;
  uint16_t AccentSensitive = 1;
  uint16_t CaseSensitive = 0;
  uint16_t RegularExpression = 0;
  uint16_t SearchWordBoundaries = 0;
  uint16_t SetImpliedProperties = 0;
  uint16_t TextWildcards = 0;
  uint32_t insertPosition = 1;          // 1: after the chunk; 0: before
  uint16_t linkKind = 0;
  uint16_t stopSwitch = 0;              // stop the walk after the first element
  char* eventReturn[7] = {};            // slots 1..6, owned
  _internal_RTChunk* internal = nullptr;
  char errorText[256] = {};
};
