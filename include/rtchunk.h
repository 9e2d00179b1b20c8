// TorvoRTChunk: a selection inside one rich-text item, its definition chain
// (chunkdef_info) and its internal block (_internal_RTChunk).
#pragma once

#include <cstdint>
#include <memory>

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
  // Occurrence probe of the locate cache: with probeFrom set, the walk notes
  // that it asked about an occurrence number at all (probeTested) and about
  // one of probeFrom or above (probeHit).
  uint32_t probeFrom = 0;
  mutable uint32_t probeTested = 0;
  mutable uint32_t probeHit = 0;
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
// The link data a handler is asked about: the kind, the replica identifier as
// given and as read, the view and note identifiers as read, and three further
// texts with their lengths (0 for a null text).
using QueryLinkDataCallback = int (*)(TorvoRTChunk* chunk, uint16_t kind, const char* replicaText,
                                      uint32_t replicaLength, const tagTIMEDATE* replicaId,
                                      const UNIVERSALNOTEID_tag* viewId,
                                      const UNIVERSALNOTEID_tag* noteId, const char* text1,
                                      uint32_t length1, const char* text2, uint32_t length2,
                                      const char* text3, uint32_t length3);
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
  // Field modification (2416): which records go into the work blocks (bit 0
  // the field into block 0; bits 1-4 its companions 0xFFB0, 0xFFFE, 0xFFF7 and
  // 0xFF7A into blocks 1-4), the busy word (set, the operation does nothing)
  // and the number of events met after the field.
  uint16_t fieldBufferMask = 0x1;
  uint16_t fieldBusy = 0;
  uint16_t fieldEventCount = 0;
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
  // What earlier locates of this chunk learned (richtext/engine/locatecache.h).
  std::shared_ptr<void> locateCache;
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
  // An XHTML page for an EPUB package (as GenerateXML): paragraph alignment
  // is written in styles rather than align attributes, and the body opens
  // with the "_TOP_" anchor instead of a text colour.
  NnStatus GenerateHTMLToEPub(const char* fileName, const char* options, char** page,
                              uint32_t* length, TorvoCollection* collection = nullptr);
  // A multipart/related MIME message (pool text as above): the HTML page as the
  // first part, then one part per inline image, referenced from the page by
  // "cid:" URLs.
  NnStatus GenerateHTMLToMime(const char* options, char** message, uint32_t* length);
  // Operation 2419 into a prepared context (options read, output buffer and
  // cursor set; the caller's prologue may already stand in it): the engine's
  // render, then the finishing call. 263 when the output did not fit.
  NnStatus RenderIntoContext(RenderContext* ctx);

  // ---- properties, queries and events (richtext/chunk/properties.cpp) ----
  // Properties by name (richtext/engine/properties.h lists them). The getters
  // give 0 or the empty text for an unknown name; the setters 1 on success, 0
  // on refusal (read-only, no handler: logged) or failure.
  uint16_t GetPropertyInternal(const char* name, char* buffer, uint16_t size, double* number,
                               uint16_t mode);
  double GetPropertyNumber(const char* name);
  uint16_t GetPropertyText(const char* name, char* buffer, uint16_t size);
  int SetPropertyNumber(const char* name, double value);
  // A null value: `name` is an option string and the first settable property
  // whose "Name=" key it holds is set to that key's value. Length 0: the whole text.
  int SetPropertyText(const char* name, const char* value, uint16_t length);
  // Queries: each returns the session's result text (GetEncodedValue null when empty).
  char* GetHTMLValue(const char* attribute, const char* element);
  char* GetTargetProperties(const char* typeName, const char* propertyName);
  char* GetTableProperties(const char* propertyName);
  char* GetEncodedValue(uint16_t size, uint16_t flagA, uint16_t flagB);
  char* GetCellBorder(const char* side);
  // 1 bytes of text, 2 characters, 3 words.
  long GetRichTextStat(uint16_t which);
  // Event answers in slots 1..6 (other slots do nothing), and raising events.
  void SetEventRetString(uint16_t slot, const char* text, uint16_t length);
  void CleanupEventRetString(uint16_t slot);
  void RaiseActOnText(const char* text, uint16_t length);
  void RaiseQueryExportNames(const char* kind, char* path, char* url);
  void RaiseQueryLinkData(const char* unused1, uint16_t unused2, uint16_t kind,
                          const char* replicaId, const char* viewId, const char* noteId,
                          const char* text1, const char* text2, const char* text3);

  // ---- editing and appending (richtext/chunk/editing.cpp, appending.cpp) ----
  // Each runs the method frame with its operation and returns its status
  // unless said otherwise. Refusals of missing texts return 20017 or 1028
  // without touching the item.
  NnStatus RemoveSections();
  NnStatus RemoveLinks(int keepText);
  NnStatus RemoveHotspots();
  NnStatus RemoveFields(const char* name, uint16_t length);
  NnStatus Highlight(int flag);
  NnStatus HighlightText(const char* text, uint16_t length);
  int FontInUse(const char* font);  // 1 when the font is used in the chunk
  NnStatus VerifyGraphics(uint16_t flags);
  NnStatus FixupGraphics(uint16_t flags, const char* options);
  NnStatus ExtractOLEFile(const char* a, const char* b);
  NnStatus ExportGraphic(const char* file, const char* options);
  void ConvertBitmaps(const char* options);
  void ExpandPabDefs(const char* options);
  NnStatus ChangeTable(const char* properties, uint16_t unused);
  NnStatus ChangeParagraph(const char* properties, const char* b, int flag);
  NnStatus ChangeFont(const char* font, const char* b, int flag);
  NnStatus Remove();
  NnStatus InsertText(const char* text, uint16_t length, const char* font);
  NnStatus AppendText(const char* text, uint16_t length, const char* font);
  NnStatus InsertRTItem(TorvoRTItem* other);
  NnStatus AppendRTItem(TorvoRTItem* other);
  NnStatus AppendRTItemInternal(TorvoRTItem* other, int position);
  NnStatus AppendRTItem(const char* server, const char* database, unsigned long noteId,
                        const char* itemName);
  NnStatus InsertParagraph(const char* text, const char* font, const char* formula,
                           uint16_t formulaLength);
  NnStatus AppendParagraph(const char* text, const char* font, const char* formula,
                           uint16_t formulaLength);
  NnStatus AppendParagraphInternal(const char* text, const char* font, const char* formula,
                                   uint16_t formulaLength, int position);
  NnStatus AppendTabs(uint16_t count);
  NnStatus AppendPageBreak();
  NnStatus AppendNewLines(uint16_t count, int flag);
  NnStatus AppendSubformBody(const char* name);
  NnStatus AppendPageBody(const char* name);
  NnStatus AppendFormBody(const char* name);
  NnStatus AppendImportFile(const char* file, const char* filter);
  NnStatus AppendAnchor(const char* name, uint16_t flag);
  // Returns 1028 for an empty target, else 0 (the frame's status is in lastStatus).
  NnStatus AppendLink(const char* a, uint16_t n1, const char* target, const char* s2,
                      const char* s3, const char* s4, uint16_t n2, const char* s5, uint16_t n3,
                      const char* s6, uint16_t n4);
  NnStatus AppendFileAttachment(const char* file, const char* name, int flag,
                                const char* options);
  NnStatus RenameAttachment(const char* name, int flag, const char* options);
  NnStatus ResetGraphicDimensions(int flag, const char* options);
  NnStatus RefreshAttachmentIcon(int flag, const char* options);
  NnStatus SwitchRTFieldsToHTMLEditor(int flag, const char* options, const char* unused);
  NnStatus SwitchRTFieldToNotSaveAsMIME(const char* field);
  NnStatus ReplaceTextQuick(const char* find, uint16_t findLength, const char* replace,
                            uint16_t replaceLength, const char* scope);
  NnStatus AlterMIME(uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, const char*, const char*,
                     const char* definition, TorvoRTChunk* other);
  NnStatus AppendField();  // allocates the three field work blocks
  // Scope bits of ReplaceTextQuick's scope text (1 text, 2 non-text, 4
  // formulas, 8 hide-when, 16 URLs; "EVERYTHING" 31).
  static uint32_t ReplaceScopeBits(const char* scope);
  // (richtext/chunk/appending.cpp)
  NnStatus AppendTable(uint16_t rows, uint16_t columns, int flag, const char* options,
                       const char* const* columnSpecs);
  // Adds a row after row `row` (the first row when 0) of the addressed table.
  // With `flag` 0, `cellTexts` holds the texts of the new row's cells: 20
  // entries (kCellTextSlots), null where a cell stays empty; all 20 are read.
  NnStatus AppendRow(int flag, uint16_t row, const char* const* cellTexts);
  NnStatus AppendLayer(const char* top, const char* left, const char* height, const char* width,
                       uint16_t number, const char* text, const char* style, const char* formula,
                       uint16_t formulaLength);
  NnStatus AppendHTML(const char* source, const char* html, const char* options);
  NnStatus AppendGraphic(const char* source, const char* file, const char* options);
  NnStatus AppendRTChunk(const char* server, const char* database, unsigned long noteId,
                         const char* itemName, const char* definition, int flag);

  // ---- hotspots with code, sorting, comparison (richtext/chunk/hotspots.cpp, sorting.cpp) ----
  // Wraps the chunk in a new hotspot (action, button, popup, mouse-over, computed
  // text, subform, file upload) carrying a formula, LotusScript or JavaScript;
  // `type` names both. Refusals: 1028. Runs operation 2423.
  uint16_t AppendHotspot(const char* type, const char* code, uint16_t codeLength,
                         const char* options, const char* label, uint16_t labelLength);
  // Gives the chunk's image a click action in `language` ("Formula",
  // "LotusScript", "JavaScript"; else 257). Runs operation 2447.
  uint16_t SetImageHotspot(const char* language, const char* code, uint16_t codeLength,
                           const char* options, const char* target, uint16_t number);
  // Sorts the rows of the addressed table by column `column` (from 1), after up
  // to five secondary keys of the options ("SecondaryCol1=" ...). 20020 when
  // the chunk does not address a table.
  uint16_t SortByRow(uint16_t column, int flag, int numeric, int reverse, const char* options);

  // ---- link and wiki matching (richtext/chunk/matching.cpp, wiki.cpp) ----
  // Matches the delimited texts of the chunk against keys taken from the
  // documents of a view (server "@DbName" or "" for local) and acts on each
  // match as `mode` says (2801 Append, 2802 Highlight, 2803 Insert, 2804
  // Keyword, 2805 Popup, 2806 Replace, anything else a document link).
  // `referenceField` is an item name or, starting with '"', '@' or '(', a
  // formula giving each document's keys; `resultField` (optional) a formula
  // evaluated per match; `properties` an option string ("MinLength=",
  // "WikiDelimiters=", "MatchText=", "ReplaceExtra=", "SingleMatch=",
  // "Separator=", "Hotspot=", "MatchFont=") or a formula. 0 or a status;
  // KeywordMatching leaves the keyword list in the session's result text.
  uint16_t LinkMatching(const char* server, const char* database, const char* view,
                        const char* referenceField, const char* resultField,
                        const char* properties, uint16_t mode);
  uint16_t AppendMatching(const char* server, const char* database, const char* view,
                          const char* referenceField, const char* resultField,
                          const char* properties);
  uint16_t HighlightMatching(const char* server, const char* database, const char* view,
                             const char* referenceField, const char* resultField,
                             const char* properties);
  uint16_t InsertMatching(const char* server, const char* database, const char* view,
                          const char* referenceField, const char* resultField,
                          const char* properties);
  uint16_t KeywordMatching(const char* server, const char* database, const char* view,
                           const char* referenceField, const char* resultField,
                           const char* properties);
  uint16_t PopupMatching(const char* server, const char* database, const char* view,
                         const char* referenceField, const char* resultField,
                         const char* properties);
  uint16_t ReplaceMatching(const char* server, const char* database, const char* view,
                           const char* referenceField, const char* resultField,
                           const char* properties);
  // Kept callable for the note workflows and the importer; they do nothing.
  uint16_t RegexLink(const char* a, const char* b, const char* c, uint16_t d);
  uint16_t RegexHighlight(const char* a, const char* b, const char* c);
  uint16_t RegexKeywords(const char* a, const char* b, const char* c);
  uint16_t RegexPopup(const char* a, const char* b, const char* c);
  uint16_t RegexReplace(const char* a, const char* b, const char* c);
  int RaiseReplaceHTMLScripting(const char* a, const char* b, const char* c, const char* d,
                                const char* e);
  // Turns wiki texts ("((Page))", "((Page|shown))", "((https://...))",
  // "((attach:file))") into document links, URL links, attachment icons or,
  // for pages that do not exist yet, compose hotspots. Properties: "Tag=",
  // "WikiDelimiters=", "OneWayOnly=", "ResolveTags=", "Form=".
  uint16_t WikiMatching(const char* server, const char* database, const char* view,
                        const char* referenceField, const char* resultField,
                        const char* properties);

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
