// TorvoRTChunk: a selection inside one rich-text item, its definition chain
// (chunkdef_info) and its internal block (_internal_RTChunk).
//
// What a caller needs to know:
// - Character set. Every text a chunk method takes or gives back (texts to
//   insert, find or replace, cell texts, labels, the match texts of a
//   definition, option strings, property values, GetText's result) is in the
//   platform's character set (LMBCS), not UTF-8. ASCII is the same in both;
//   convert anything else with NnUtf8ToLmbcs on the way in and NnLmbcsToUtf8
//   on the way out (nn/nn.h). A stored byte 0xFF, for instance, is the
//   platform's non-breaking space and reads as U+00A0 once converted. Two
//   exceptions: the pages of the render methods are UTF-8, and AppendHTML
//   takes its HTML in UTF-8 unless it names another character set.
// - Results. A method returning NnStatus (or a uint16_t status) gives 0 for
//   success, else a status that NnLoadStatusText names. A failure of the work
//   itself is also left in `lastStatus`; a refused argument (1028, 20016,
//   20017) may only be returned. Methods with another result say which value
//   means success; `lastStatus` tells their failures apart. Every method
//   clears `lastStatus` first. A write that fails leaves the item as it was;
//   a write whose target does not exist fails with 546 (NN_ERR_ITEM_NOT_FOUND).
//   On an item of structured rich text every method fails with 556
//   (TorvoRTItem::ConnectBackend). A formula is stored whenever it compiles;
//   one that reaches a function not evaluated here fails only when it is
//   evaluated, with 1542 and a line in the platform log naming it.
// - Ownership. A chunk from TorvoRTItem::DefineChunk or DefineSubChunk is the
//   caller's: delete it before its item and its session (what is left when
//   the session goes, the session deletes). The char* results of the queries
//   are the session's result text: read or copy them before the next call on
//   the session, and never free them. Rendered pages are pool texts of the
//   session: free them with PoolFree(session, page).
// - What callers use first: TorvoRTItem::DefineChunk, then the methods of
//   TorvoRTChunk from "method frame and navigation" on, and the fields
//   marked "caller" below the engine line. The structures before the class
//   (chunkdef_info, _internal_RTChunk) and the members marked "(engine ...)"
//   are the engine's.
// - Vocabulary. The definition grammar, the target type names, the property
//   names (and which setter each takes), the keys of table strings and the
//   grammar of option, paragraph and font strings are in reference.md,
//   installed with the package in its documentation folder.
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
  // Of an INSIDE node whose element's head was met: the record numbers of
  // the first record after the head and of the record that closes the
  // element (0: the walk's own tests find them).
  uint32_t insideFirst = 0;
  uint32_t insideClose = 0;
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

// GetText's status when the text did not fit (the caller's buffer, or the
// 65,340 bytes one call gathers): the buffer holds what fitted. Distinct from
// every failure status, so a cut text is never mistaken for a lack of memory.
constexpr NnStatus kStatusTextCut = NN_ERR_TEXT_CUT;

class TorvoRTChunk : public SessionListed {
 public:
  // An empty chunk (no definition) over `item`, listed in `session`. Callers
  // get chunks from TorvoRTItem::DefineChunk instead.
  TorvoRTChunk(LSXLsiSession* session, TorvoRTItem* item);
  ~TorvoRTChunk();
  TorvoRTChunk(const TorvoRTChunk&) = delete;
  TorvoRTChunk& operator=(const TorvoRTChunk&) = delete;

  // A new chunk whose definition is this one's followed by `definition`
  // ("Row 2" under "Table 1"); null when it does not parse or memory runs
  // out. The new chunk is the caller's; this one is unchanged.
  TorvoRTChunk* DefineSubChunk(const char* definition);
  // Writes the text of a chain into out (4,096 bytes); "Everything" for null.
  static void CalculateDefinition(const chunkdef_info* chain, char* out);
  // Replaces the definition text by the chain's text.
  void RewriteDefinition();
  // The innermost node of the chain, or null.
  chunkdef_info* InnermostNode() const;

  // ---- method frame and navigation ----
  // (engine entry) Runs operation `code` on the chunk (with `definition`,
  // when not empty, appended for this call only): `subCode` and `number1` to
  // `number3` are the operation's numbers and `text`, `text2` its texts (0
  // and null where the operation takes none); `other` a second chunk for
  // the operations that copy from one (else null). No result: the status is
  // in lastStatus (1028 for a code the engine has no operation for). Callers
  // use the named methods, which pass these for them.
  void AlterRichText(uint16_t code, uint32_t subCode, uint32_t number1, uint32_t number2,
                     uint32_t number3, const char* text, const char* text2,
                     const char* definition, TorvoRTChunk* other);
  // 1 when the chunk's target exists, else 0 (also when the walk failed).
  // Leaves lastStatus 0.
  int Exists();
  // Move every occurrence of the innermost definition part one on, one back,
  // or to the last one that exists ("Table 1" becomes "Table 2"). 1 when the
  // new target exists, else 0; the definition changes either way (not for a
  // part that names every occurrence, "*", which returns 0). The argument is
  // not used.
  int GetNextTarget(int unused = 0);
  int GetPreviousTarget(int unused = 0);
  int GetLastTarget(int unused = 0);
  // The number of targets of `definition` inside the chunk ("Table" counts
  // the tables; "Table 3" counts on from the third). -1 when the definition
  // does not parse; a failed walk ends the count early, with lastStatus set.
  // The chunk's own definition is unchanged.
  long GetCount(const char* definition);
  // Appends `definition` to the chunk's definition for good: 1, or 0 when it
  // does not parse. ZoomOut returns to the definition before the first ZoomIn.
  int ZoomIn(const char* definition);
  void ZoomOut();
  // Finds `text` (`length` bytes; `mode` "Exact", "Starts", "Ends" or
  // "Substr", any other a match anywhere) in the chunk's target (`inside`
  // non-zero) or after it, in the font `font` names (empty: any font). The
  // position of the match, 0 when there is none. A definition that names
  // more than one place gives 0 with lastStatus 20017.
  unsigned long FindTextChunk(int inside, const char* text, uint16_t length, const char* mode,
                              const char* font);
  // As FindTextChunk for an element of the type `typeName` names ("Field",
  // "Anchor", ...) whose name matches `name`.
  unsigned long FindNamedChunk(int inside, const char* typeName, const char* name,
                               uint16_t length, const char* mode, const char* font);
  // Replaces the text of the target `definition` names inside this chunk
  // ("Column 2" under "Table 1; Row 2"; "Text 1" for the chunk's first text)
  // with `text` (LMBCS; `length` characters, 0 for all of it); `options` may
  // give a font ("+Bold Red"). 0 on success (the item is written back into
  // the note; store the note with NnNoteUpdate), else the failure status. A
  // null or empty definition names no target: 1028.
  uint16_t SetText(const char* definition, const char* text, uint16_t length,
                   const char* options);
  // Copies the text of the chunk (with `definition` appended, when not
  // empty) into `buffer` (`size` bytes), NUL-terminated and in LMBCS: its
  // first text run, or with a non-zero `flag` every run joined by `options`
  // (the separator; null for none). Returns the number of bytes copied without
  // the NUL; 0 with lastStatus set when the walk failed. A text that did not
  // fit is cut to size - 1 bytes, the buffer filled, and lastStatus is
  // kStatusTextCut; a text that fits leaves lastStatus 0. A size of 0 copies
  // nothing.
  unsigned long GetText(const char* definition, char* buffer, unsigned long size, int flag,
                        const char* options);

  // (engine entry) The frame every method runs: the engine once with these
  // arguments, as AlterRichText takes them (`extra`: the second chunk, or
  // null). Returns the status; 1298 (a completed read-only call) is turned
  // into 0. A write on an item the note does not hold fails with 546 unless
  // the item's context->modeWord is 3.
  NnStatus RunFrame(uint16_t code, uint32_t subCode, uint32_t number1, uint32_t number2,
                    uint32_t number3, const char* text, const char* text2, const char* definition,
                    void* extra);

  // ---- HTML generation (export/generate.cpp) ----
  // The chunk as a whole page: GenerateHTML writes HTML, GenerateXML XHTML
  // (well-formed XML). 0 on success, and then *page is a pool text of the
  // session (free it with PoolFree), UTF-8, NUL-terminated, *length bytes
  // without the NUL. `fileName` (may be null) names the page; `options` is
  // the Key=value render option string (the page title is the note's
  // Subject); `collection` is set for a multi-document render. The output
  // buffer starts at 1 MB and grows fourfold up to 256 MB; a page that does
  // not fit gives 263 and no page. A render never comes back truncated as
  // success. A chunk whose definition names nothing the item holds ("Table 9"
  // of an item with one table) gives NN_ERR_ITEM_NOT_FOUND and no page; the
  // whole item (an empty definition, "Everything") always renders, even empty.
  // A render key given a value it cannot use (reference.md, Render options)
  // gives 1028 and no page; keys the renderer does not know are passed over.
  // The status of every render is also left in lastStatus.
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
  // Properties by name (reference.md lists them). GetPropertyText copies the
  // value as text (LMBCS) into `buffer` (`size` bytes, NUL-terminated, cut to
  // fit) and returns its length; GetPropertyNumber gives it as a number. An
  // unknown name gives 0 and the empty text. GetPropertyInternal serves both
  // (mode 0 text, 1 number).
  uint16_t GetPropertyInternal(const char* name, char* buffer, uint16_t size, double* number,
                               uint16_t mode);
  double GetPropertyNumber(const char* name);
  uint16_t GetPropertyText(const char* name, char* buffer, uint16_t size);
  // The setters return 1 on success and 0 on refusal (an unknown or
  // read-only name, no handler: the refusal goes to the session's message
  // routine) or failure; lastStatus then says why (1028 for a refusal, and
  // for a target that holds no record of the property and has no place for
  // one: a section title set on plain text, a row label on a paragraph).
  // The item is then as it was. reference.md says which setter each
  // property takes. By number, "FontColor" takes a palette
  // entry (0-239), and "PassthruHTML" 1 marks the target as pass-through
  // HTML and 0 clears it; the chunk's search options ("CaseSensitive" ...)
  // are set by number only.
  int SetPropertyNumber(const char* name, double value);
  // `value` is LMBCS; `length` 0 means all of it. With a null value, `name`
  // is an option string and the first settable property whose "Name=" key it
  // holds is set to that key's value.
  int SetPropertyText(const char* name, const char* value, uint16_t length);
  // Queries. Each returns the session's result text (a Key=value text or a
  // value; the empty text when there is nothing), valid until the next call
  // on the session and not to be freed. GetHTMLValue: the HTML attribute
  // ("NAME", "ID", "CLASS", "STYLE", "TITLE", "OTHER") of the table or cell
  // ("Table", "Cell"); GetTargetProperties: the properties of the target type
  // `typeName` (one by name, or all for an empty name); GetTableProperties:
  // the table's; GetCellBorder: the border of one side ("Left", "Right",
  // "Top", "Bottom"); GetEncodedValue: the base64 text of the target's image
  // data (with `ofAttachment` 1, of its hotspot's attachment; 0 for the
  // image) when it fits in `size` bytes (0: 4,096; null when there is none,
  // or when `size` is below 128), in lines of 76 characters with `mimeLines`
  // 1 (0: one line).
  char* GetHTMLValue(const char* attribute, const char* element);
  char* GetTargetProperties(const char* typeName, const char* propertyName);
  char* GetTableProperties(const char* propertyName);
  char* GetEncodedValue(uint16_t size, uint16_t mimeLines, uint16_t ofAttachment);
  char* GetCellBorder(const char* side);
  // A statistic of the chunk's text: 1 bytes of text, 2 characters, 3 words.
  long GetRichTextStat(uint16_t which);
  // Answers of event handlers, in slots 1 to 6 (other slots do nothing):
  // SetEventRetString keeps a copy of `length` bytes of `text`;
  // CleanupEventRetString frees a slot (the destructor does not).
  void SetEventRetString(uint16_t slot, const char* text, uint16_t length);
  void CleanupEventRetString(uint16_t slot);
  // (engine entries) Call the callbacks installed in `internal` (nothing
  // when none is set). RaiseQueryLinkData's first two arguments are not
  // used: pass null and 0.
  void RaiseActOnText(const char* text, uint16_t length);
  void RaiseQueryExportNames(const char* kind, char* path, char* url);
  void RaiseQueryLinkData(const char* unusedText, uint16_t unusedNumber, uint16_t kind,
                          const char* replicaId, const char* viewId, const char* noteId,
                          const char* text1, const char* text2, const char* text3);

  // ---- editing and appending (richtext/chunk/editing.cpp, appending.cpp) ----
  // Each returns 0 on success or the failure status, and works at the chunk's
  // target: appended content goes after it (insertPosition 1), inserted
  // content before it (0). A write that succeeds writes the item back into
  // the note (store the note with NnNoteUpdate, the database with
  // NnDbSaveDxl) and raises TorvoRTItem::modified. Texts are LMBCS; a length
  // of 0 means the whole text. Refusals of missing texts return 20017 or 1028
  // without touching the item.
  // Remove the sections (keeping their content), the links (keeping their
  // text; with `keepText` non-zero, URL hotspots stay), the hotspots
  // (keeping their text), or the fields (all, or those named `name`) of the
  // chunk.
  NnStatus RemoveSections();
  NnStatus RemoveLinks(int keepText);
  NnStatus RemoveHotspots();
  NnStatus RemoveFields(const char* name, uint16_t length);
  // Highlight the chunk, or the occurrences of `text` in it, in the item's
  // highlight style; with `titlesToo` non-zero also the section titles and
  // button labels in it (0 for the text alone).
  NnStatus Highlight(int titlesToo);
  NnStatus HighlightText(const char* text, uint16_t length);
  int FontInUse(const char* font);  // 1 when the font is used in the chunk, else 0
  // Check the chunk's pictures (a status when one is damaged) and repair them.
  // `flags` is passed to the repair and read by none of its steps: pass 0;
  // `options` is not read either (null).
  NnStatus VerifyGraphics(uint16_t flags);
  NnStatus FixupGraphics(uint16_t flags, const char* options);
  // Kept callable: no OLE object is extracted here, and the walk changes
  // nothing. Pass null for both.
  NnStatus ExtractOLEFile(const char* unusedObject, const char* unusedFile);
  // Writes the chunk's picture to `file`.
  NnStatus ExportGraphic(const char* file, const char* options);
  void ConvertBitmaps(const char* options);
  void ExpandPabDefs(const char* options);
  // Change the table (a table string of Key=value pairs), the paragraphs (a
  // paragraph string) or the font ("+Bold Red 12pt", "-Italic") of the
  // chunk; reference.md gives the three grammars. ChangeTable refuses a key
  // no table takes, or a value this table cannot take, with 1028; ChangeFont
  // refuses with 1028 a word shaped like a font word that does not read as
  // one ("+Bogus", "COLOR999", "12px"); the item is then left as it was.
  // `moreProperties` and `moreFont` are a second string read after the
  // first (null or "" for none); ChangeFont's `titlesToo` non-zero also
  // changes the font of the section titles and button labels in the chunk
  // (0 for the text alone). ChangeTable's `unused` and ChangeParagraph's
  // `unusedFlag` are not read: pass 0.
  NnStatus ChangeTable(const char* properties, uint16_t unused);
  NnStatus ChangeParagraph(const char* properties, const char* moreProperties, int unusedFlag);
  NnStatus ChangeFont(const char* font, const char* moreFont, int titlesToo);
  // Removes the chunk's content. A row of a table whose cells span rows is
  // not removed: 1027, and the table is left as it is.
  NnStatus Remove();
  // Insert `text` before the chunk or append it after it, in `font` (null or
  // empty: the font at the target).
  NnStatus InsertText(const char* text, uint16_t length, const char* font);
  NnStatus AppendText(const char* text, uint16_t length, const char* font);
  // Insert or append the whole rich text of another bound item (20017 when
  // it is not bound), or of an item of another note.
  NnStatus InsertRTItem(TorvoRTItem* other);
  NnStatus AppendRTItem(TorvoRTItem* other);
  NnStatus AppendRTItemInternal(TorvoRTItem* other, int position);
  NnStatus AppendRTItem(const char* server, const char* database, unsigned long noteId,
                        const char* itemName);
  // Insert or append a paragraph of `text` in `font`, hidden by the formula
  // when one is given (257 when it does not compile).
  NnStatus InsertParagraph(const char* text, const char* font, const char* formula,
                           uint16_t formulaLength);
  NnStatus AppendParagraph(const char* text, const char* font, const char* formula,
                           uint16_t formulaLength);
  NnStatus AppendParagraphInternal(const char* text, const char* font, const char* formula,
                                   uint16_t formulaLength, int position);
  NnStatus AppendTabs(uint16_t count);
  NnStatus AppendPageBreak();
  // `count` line breaks; with `newParagraph` non-zero a new paragraph begins
  // after them (0: they stay in the paragraph).
  NnStatus AppendNewLines(uint16_t count, int newParagraph);
  // Append the body ("$Body") of the subform, page or form of that name
  // (a null name: 1028).
  NnStatus AppendSubformBody(const char* name);
  NnStatus AppendPageBody(const char* name);
  NnStatus AppendFormBody(const char* name);
  // Appends a file (HTML, text, GIF, JPEG or PNG, or a file of records).
  // `filter` gives a text file "LineLength=", an HTML file the import keys of
  // AppendHTML but "Package="; a picture or a file of records takes none
  // (null or ""). Another key, or a filter name, gives 1028.
  NnStatus AppendImportFile(const char* file, const char* filter);
  // An anchor named `name`; `unusedFlag` is not read (pass 0).
  NnStatus AppendAnchor(const char* name, uint16_t unusedFlag);
  // Appends a link to `target` (a URL when it holds ':', else a database or
  // document link as "replica[/view[/note]]" in hex, or an option string
  // naming them: "URL=", "ReplicaID=", "ViewID=", "NoteID=", "UNID=",
  // "Server=", "Anchor=", "Text="), showing `shownText` (null: the target,
  // or "Link" for a document link). `server` names the server of a database
  // or document link (null or "" for none), `anchor` the anchor it goes to
  // (null for none). The other arguments are not read: pass 0 and null.
  // 0 on success, else the failure (also in lastStatus): 1028 for an empty
  // target or an option string that names no URL, database, view or
  // document, 546 when the chunk's target does not exist.
  NnStatus AppendLink(const char* server, uint16_t unusedNumber1, const char* target,
                      const char* shownText, const char* anchor, const char* unusedText4,
                      uint16_t unusedNumber2, const char* unusedText5, uint16_t unusedNumber3,
                      const char* unusedText6, uint16_t unusedNumber4);
  // Attach the file at `file` to the note (named after `name`, null for the
  // file's own name) and show it at the chunk; rename an attachment to
  // `name` (its icon follows; a missing name, or one over 130 characters,
  // 1028); reset a picture's size; redraw an attachment's icon. A chunk
  // without an attachment (or picture) to act on gives 546. `options` is an
  // option string: the attachment takes "AlreadyAttached=" (Yes: the note
  // holds the file already; or No); the icon's redraw (refresh and rename)
  // "FileIcon=" (an image resource of the database), else "PrefixText=" and
  // "SuffixText=" drawn around the caption, and for a refresh the background
  // of the one given with its text, "PrefixColor=" or "SuffixColor=" (as
  // "rgba(r,g,b,a)"); the reset takes none. Another key, a value of another
  // form, texts beside "FileIcon=" (or a resource of the extension), or two
  // colours give 1028. `unusedFlag` is not read (pass 0).
  NnStatus AppendFileAttachment(const char* file, const char* name, int unusedFlag,
                                const char* options);
  NnStatus RenameAttachment(const char* name, int unusedFlag, const char* options);
  NnStatus ResetGraphicDimensions(int unusedFlag, const char* options);
  NnStatus RefreshAttachmentIcon(int unusedFlag, const char* options);
  // Notes the rich-text fields of the chunk as edited by the HTML editor;
  // with `keepData` non-zero each field keeps its data under its name
  // followed by "_WK" (0: the name stays). `unused` is not read (null).
  NnStatus SwitchRTFieldsToHTMLEditor(int keepData, const char* options, const char* unused);
  NnStatus SwitchRTFieldToNotSaveAsMIME(const char* field);
  // Replaces every `find` in the chunk by `replace`, in the parts `scope`
  // names (ReplaceScopeBits; empty: the text; a word that names no scope
  // gives 1028).
  NnStatus ReplaceTextQuick(const char* find, uint16_t findLength, const char* replace,
                            uint16_t replaceLength, const char* scope);
  // Kept for callers of the MIME form; does nothing but the frame's auto-save.
  // Only `definition` is read (parsed like a sub-definition, then dropped):
  // pass 0 and null for the rest.
  NnStatus AlterMIME(uint16_t unusedCode, uint16_t unusedNumber1, uint16_t unusedNumber2,
                     uint16_t unusedNumber3, uint16_t unusedNumber4, const char* unusedText,
                     const char* unusedText2, const char* definition, TorvoRTChunk* unusedOther);
  NnStatus AppendField();  // allocates the three field work blocks
  // Scope bits of ReplaceTextQuick's scope text (1 text, 2 non-text, 4
  // formulas, 8 hide-when, 16 URLs; "EVERYTHING" 31); 0 when a word of it
  // names no scope.
  static uint32_t ReplaceScopeBits(const char* scope);
  // (richtext/chunk/appending.cpp)
  // Appends a table of `rows` (1-255) by `columns` (1-64); `columnSpecs`
  // (null, or one text per column, null for none) gives each of the first 20
  // columns its options ("Width=2in", "Width=25%", "Width=-90px" fixed;
  // "DefaultWidthUnit=" in `options` gives widths without a unit theirs).
  // `options` take the table keys, the border keys, "HideFormula=" (hiding
  // the cells' paragraphs) and "PixelMultiplier=". 20017 for a size out of
  // range; 1028 for a key or a width no new table takes, as ChangeTable.
  // `unusedFlag` is not read (pass 0).
  NnStatus AppendTable(uint16_t rows, uint16_t columns, int unusedFlag, const char* options,
                       const char* const* columnSpecs);
  // Adds a row at the end of the addressed table, a copy of one of its rows:
  // of row `row` when the chunk is a table ("Table 2"; row 0 means row 1),
  // of the chunk's own row when it is a row ("Table 2; Row 3"; `row` is not
  // used). With a non-zero `keepTexts` the copy keeps the row's texts; with 0
  // `cellTexts` gives the new cells their texts (LMBCS): an array of 20 entries
  // (kCellTextSlots; all 20 are read, so declare `const char* texts[20] =
  // {"a", "b"};`), one per cell from the left, null for an empty cell (cells
  // past the 20th keep the copied texts). A null array keeps every text.
  // 20016 when the chunk is neither a table nor a row, a status when the row
  // does not exist.
  NnStatus AppendRow(int keepTexts, uint16_t row, const char* const* cellTexts);
  // Appends a layer at `top`, `left` of `height` by `width` (CSS lengths
  // without blanks or ";": 20017) holding `text`, `number` its stacking
  // order (z-index), `style` its CSS; hidden by the formula when one is
  // given (257 when it does not compile).
  NnStatus AppendLayer(const char* top, const char* left, const char* height, const char* width,
                       uint16_t number, const char* text, const char* style, const char* formula,
                       uint16_t formulaLength);
  // Imports HTML: `source` "IN" for the text `html`, "FILE" (or empty) for a
  // file of that path; 1028 for an unknown source. The HTML is read in the
  // character set "Charset=" of the options names ("utf-8", "iso-8859-1",
  // "windows-1252", "us-ascii", "iso-8859-15", "macintosh"; another name
  // gives 1028), else in the one the document declares in a meta element,
  // else as UTF-8. The options' other keys: "Package=" (an epub or zip file
  // whose entries FILE names), "IgnoreImages=", "IgnoreTables=",
  // "IgnoreLinks=" (1 or 0) and "Font="; "NONE" imports nothing and takes
  // "Package=" alone. Another key gives 1028; so does "URL" (an address is
  // not fetched).
  NnStatus AppendHTML(const char* source, const char* html, const char* options);
  // Appends a picture from a file ("FILE") or a link to one ("URL"); with
  // "Attach=Yes" in the options the file is also attached to the note
  // ("Attach=No": it is not). "AltText=" is the picture's alternate text (a
  // link's shown text). Another key, or another value of "Attach=", gives
  // 1028. "ATTACHMENT" and "BUFFER" sources are not read here: 1028.
  NnStatus AppendGraphic(const char* source, const char* file, const char* options);
  // Appends the chunk `definition` of the item `itemName` of another note.
  // With `keepParagraphIds` non-zero the copied paragraphs keep their
  // identifiers (0: they are numbered on from the item's own).
  NnStatus AppendRTChunk(const char* server, const char* database, unsigned long noteId,
                         const char* itemName, const char* definition, int keepParagraphIds);

  // ---- hotspots with code, sorting, comparison (richtext/chunk/hotspots.cpp, sorting.cpp) ----
  // Wraps the chunk in a new hotspot (action, button, popup, mouse-over, computed
  // text, subform, file upload) carrying a formula, KvScript or JavaScript;
  // `type` names both ("Button JavaScript"). `options` are the hotspot's
  // HTML attributes: "HotspotHTMLID=", "HotspotHTMLClass=",
  // "HotspotHTMLStyle=" (or "HotspotStyle=", not both), "HotspotHTMLTitle=",
  // "HotspotHTMLOther=", "HotspotHTMLName=". 0 on success; refusals: 1028
  // (another key, or a formula that does not compile, among them; one that
  // compiles is stored, whatever functions it calls).
  uint16_t AppendHotspot(const char* type, const char* code, uint16_t codeLength,
                         const char* options, const char* label, uint16_t labelLength);
  // Gives the chunk's image a click action in `language` ("Formula",
  // "KvScript", "JavaScript"; else 257), opening in the frame `target` (null
  // or "Default": the picture's own) or the options' "Target=". 0 on
  // success; 1028 for another key, two different frames, or a frame name
  // over 1,024 characters.
  uint16_t SetImageHotspot(const char* language, const char* code, uint16_t codeLength,
                           const char* options, const char* target, uint16_t number);
  // Sorts the rows of the addressed table by column `column` (from 1), after up
  // to five secondary keys of the options ("SecondaryCol1=" ...); numbers
  // with `numeric` non-zero (0: texts), last first with `reverse` non-zero.
  // With `keepTitleRows` non-zero the first rows ("TitleRows=", default 1)
  // stay on top (0: every row is sorted). 0 on
  // success (also when no row has a key to sort by); 20020 when the chunk
  // does not address a table; 1027 when a cell of the table spans rows (the
  // table is left as it is); 1028 for column 0 or an option it cannot use.
  uint16_t SortByRow(uint16_t column, int keepTitleRows, int numeric, int reverse,
                     const char* options);

  // ---- link and wiki matching (richtext/chunk/matching.cpp, wiki.cpp) ----
  // Matches the delimited texts of the chunk against keys taken from the
  // documents of a view (server "@DbName" or "" for local) and acts on each
  // match as `mode` says (2801 Append, 2802 Highlight, 2803 Insert, 2804
  // Keyword, 2805 Popup, 2806 Replace, anything else a document link).
  // `referenceField` is an item name or, starting with '"', '@' or '(', a
  // formula giving each document's keys; `resultField` (optional) a formula
  // evaluated per match; `properties` an option string ("MinLength=",
  // "WikiDelimiters=", "MatchText=", "ReplaceExtra=", "SingleMatch=",
  // "Separator=", "Hotspot=", "MatchFont=") or a formula; another key, a
  // value it cannot use, or Append, Insert or Replace without a result field
  // give 1028. 0 or a status (546 for a target the item does not hold); a
  // match whose result formula gives no value keeps its text.
  // KeywordMatching leaves the keyword list in the session's result text.
  // The six named methods are LinkMatching with their mode.
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
  // Kept callable for the note workflows and the importer; they do nothing,
  // read no argument (pass null and 0) and return 0.
  uint16_t RegexLink(const char* unusedText1, const char* unusedText2, const char* unusedText3,
                     uint16_t unusedNumber);
  uint16_t RegexHighlight(const char* unusedText1, const char* unusedText2,
                          const char* unusedText3);
  uint16_t RegexKeywords(const char* unusedText1, const char* unusedText2,
                         const char* unusedText3);
  uint16_t RegexPopup(const char* unusedText1, const char* unusedText2, const char* unusedText3);
  uint16_t RegexReplace(const char* unusedText1, const char* unusedText2,
                        const char* unusedText3);
  int RaiseReplaceHTMLScripting(const char* unusedText1, const char* unusedText2,
                                const char* unusedText3, const char* unusedText4,
                                const char* unusedText5);
  // Turns wiki texts ("((Page))", "((Page|shown))", "((https://...))",
  // "((attach:file))") into document links, URL links, attachment icons or,
  // for pages that do not exist yet, compose hotspots. Properties: "Tag=",
  // "WikiDelimiters=", "OneWayOnly=", "ResolveTags=", "Form=". 0 or a status.
  uint16_t WikiMatching(const char* server, const char* database, const char* view,
                        const char* referenceField, const char* resultField,
                        const char* properties);

  // ======== engine fields below this line (layout fixed; callers leave them alone
  // except those marked "caller") ========
  // ---- state ----
  LSXLsiSession* session = nullptr;
  TorvoRTItem* item = nullptr;
  char* definitionText = nullptr;       // owned (new[])
  char* outerDefinitionText = nullptr;  // owned; kept by the first ZoomIn
  uint16_t targetType = 0;
  NnStatus lastStatus = 0;             // caller: the status of the last method
  uint16_t lastInternalError = 0;
  uint16_t AccentSensitive = 1;         // caller: the six search options (also properties)
  uint16_t CaseSensitive = 0;
  uint16_t RegularExpression = 0;
  uint16_t SearchWordBoundaries = 0;
  uint16_t SetImpliedProperties = 0;
  uint16_t TextWildcards = 0;
  uint32_t insertPosition = 1;          // caller: 1 appends after the chunk; 0 before
  uint16_t linkKind = 0;
  uint16_t stopSwitch = 0;              // stop the walk after the first element
  char* eventReturn[7] = {};            // slots 1..6, owned
  _internal_RTChunk* internal = nullptr;
  char errorText[256] = {};
};
