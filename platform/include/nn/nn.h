// The platform layer: the runtime operations the engine calls, named Nn...
//
// Everything the library does with storage, settings, the log, character sets,
// formulas and time goes through these calls. Databases live in memory; a
// database opened by the path of a DXL file is loaded from that file.
//
// Conventions
// - Operations return an NnStatus: 0 for success, otherwise a status number
//   whose low 14 bits select the text NnLoadStatusText gives.
// - Databases, notes, memory blocks, collections, computations and ID tables
//   are 32-bit handles. A handle that is unknown or already released is
//   refused with NN_ERR_BAD_HANDLE; it never crashes.
// - Item values are held in canonical (on-disk) layout: a 16-bit type word
//   followed by the data, little-endian and packed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using NnStatus = uint16_t;
using NnHandle = uint32_t;
using NOTEID = uint32_t;

// ---- Status numbers ------------------------------------------------------
enum : NnStatus {
  NN_OK = 0,
  NN_ERR_CATASTROPHIC = 257,        // an unexpected failure
  NN_ERR_MEMORY = 263,              // out of memory, or a buffer too small
  NN_ERR_ITEM_NOT_FOUND = 546,      // no item of that name
  NN_ERR_NOTE_NOT_FOUND = 549,      // no note of that id / universal id
  NN_ERR_BAD_HANDLE = 550,          // unknown or released handle
  NN_ERR_NO_MORE = 551,             // the end of a walk
  NN_ERR_FILE_NOT_FOUND = 552,      // a database or file that does not exist
  NN_ERR_FILE_IO = 553,             // a file that cannot be read or written
  NN_ERR_DXL = 554,                 // a DXL document that does not parse
  NN_ERR_BAD_ITEM = 555,            // an item value that is malformed
  NN_ERR_STRUCTURED_RICHTEXT = 556, // rich text held as structured XML, which is not read
  NN_ERR_CD_STRUCTURE = 1027,       // a refused record structure
  NN_ERR_INVALID_ARG = 1028,        // an invalid argument
  NN_ERR_TEXT_CUT = 1029,           // a text cut to fit the caller's buffer
  NN_ERR_READONLY_DONE = 1298,      // a completed read-only call
  NN_ERR_FORMULA_SYNTAX = 1540,     // a formula that does not compile
  NN_ERR_FORMULA_EVAL = 1541,       // a formula that fails while it runs
  NN_ERR_FORMULA_FUNCTION = 1542,   // a formula reaching a function that is not evaluated here
  NN_ERR_CHARSET = 1600,            // a character-set table or translation failure
  NN_ERR_NOT_FOUND = 1601,          // a design note, view or object not found
  NN_ERR_FT_NO_MATCH = 0x4E40,      // a full-text search that matched nothing
};

// Copies the text of a status (low 14 bits) into buf, NUL-terminated, cut to
// bufSize - 1 bytes; returns the number of bytes written without the NUL.
uint16_t NnLoadStatusText(NnStatus status, char* buf, uint16_t bufSize);

// ---- Shared platform records --------------------------------------------
struct tagTIMEDATE {
  uint32_t Innards[2];  // [0] ticks of 1/100 s since midnight UTC, [1] Julian day (low 24 bits)
};
struct UNIVERSALNOTEID_tag {
  tagTIMEDATE File;
  tagTIMEDATE Note;
};
struct ORIGINATORID_tag {
  tagTIMEDATE File;
  tagTIMEDATE Note;
  uint32_t Sequence;
  tagTIMEDATE SequenceTime;
};
struct NnReplicaInfo {
  tagTIMEDATE ID;  // replica id
  uint16_t Flags;
  uint16_t CutoffInterval;
  tagTIMEDATE Cutoff;
};

// ---- Memory handles -------------------------------------------------------
constexpr uint16_t NN_MEM_GROWABLE = 0x8000;
NnStatus NnMemAlloc(uint32_t size, uint16_t flags, NnHandle* out);
void* NnMemLock(NnHandle h);         // null for a bad or freed handle
NnStatus NnMemUnlock(NnHandle h);
NnStatus NnMemFree(NnHandle h);
NnStatus NnMemRealloc(NnHandle h, uint32_t newSize);
uint32_t NnMemSize(NnHandle h);      // 0 for a bad handle
size_t NnMemLiveCount();             // memory handles allocated and not freed

// ---- Settings (nn.ini) -------------------------------------------------
// Text of a setting into buf (cut to bufSize - 1); true when the setting exists.
bool NnIniGetText(const char* name, char* buf, uint16_t bufSize);
// Number of a setting (decimal text); 0 when absent or not a number.
long NnIniGetNumber(const char* name);
void NnIniSet(const char* name, const char* value);   // value null removes it
void NnIniClear();
// Loads "Name=Value" lines from a file into the settings; 0 on success.
NnStatus NnIniLoadFile(const char* path);

// ---- Log --------------------------------------------------------------------
// Formats the text; a non-zero status appends ": " and that status's text.
void NnLogMessage(NnStatus status, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
std::string NnLogCaptured();      // every line logged since the last clear, '\n' after each
void NnLogClear();
void NnLogSetEcho(bool toStderr); // echo each line to stderr

// ---- Directories ------------------------------------------------------------
// The data directory (setting "Directory", else the current directory), no trailing separator.
void NnGetDataDirectory(char* buf, uint16_t bufSize);

// ---- Databases ----------------------------------------------------------------
// Opens a database by path. A path already open in this process shares its
// database (a new handle to it); a path of an existing DXL file loads that file
// (every note element, whatever its class; a file that is no DXL database or note
// is refused with NN_ERR_DXL and NnDbLastLoadError says why); a path that names
// nothing creates an empty in-memory database only when NN_DB_CREATE is given.
constexpr uint16_t NN_DB_CREATE = 0x0001;
NnStatus NnDbOpen(const char* path, uint16_t flags, NnHandle* out);
NnStatus NnDbClose(NnHandle hDb);
NnStatus NnDbGetPath(NnHandle hDb, char* canonical, uint16_t bufSize);
NnStatus NnDbGetReplicaInfo(NnHandle hDb, NnReplicaInfo* out);
// Writes the whole database as one DXL document. What its file held is written
// back as it stood (items, note elements and their other content), except what
// the database changed since; a file of one note is written as one note while
// the database holds just that note.
NnStatus NnDbSaveDxl(NnHandle hDb, const char* path);
// Notes in document order: index 0..count-1 gives note ids.
uint32_t NnDbNoteCount(NnHandle hDb);
NnStatus NnDbNoteIdAt(NnHandle hDb, uint32_t index, NOTEID* out);
// Originator id, last modified time and class of a note without opening it.
NnStatus NnDbGetNoteInfo(NnHandle hDb, NOTEID id, ORIGINATORID_tag* oid,
                         tagTIMEDATE* modified, uint16_t* noteClass);
// Size of a stored object ($FILE attachment) by its file name.
NnStatus NnDbGetObjectSize(NnHandle hDb, NOTEID id, const char* fileName, uint32_t* size);
// The calling thread's last DXL load error ("file:line: message"), empty
// when its last load of a file succeeded.
std::string NnDbLastLoadError();

// ---- Note classes -----------------------------------------------------------
enum : uint16_t {
  NN_CLASS_DOCUMENT = 0x0001,
  NN_CLASS_INFO = 0x0002,    // about document
  NN_CLASS_FORM = 0x0004,    // forms, subforms, pages, shared resources
  NN_CLASS_VIEW = 0x0008,
  NN_CLASS_ICON = 0x0010,
  NN_CLASS_DESIGN = 0x0020,
  NN_CLASS_ACL = 0x0040,
  NN_CLASS_HELP_INDEX = 0x0080,
  NN_CLASS_HELP = 0x0100,    // using document
  NN_CLASS_FILTER = 0x0200,  // agents
  NN_CLASS_FIELD = 0x0400,   // shared fields
  NN_CLASS_REPLFORMULA = 0x0800,
};

// ---- Notes --------------------------------------------------------------------
NnStatus NnNoteOpen(NnHandle hDb, NOTEID id, uint16_t flags, NnHandle* out);
NnStatus NnNoteOpenByUnid(NnHandle hDb, const UNIVERSALNOTEID_tag* unid, uint16_t flags,
                          NnHandle* out);
NnStatus NnNoteCreate(NnHandle hDb, uint16_t noteClass, NnHandle* out);
NnStatus NnNoteClose(NnHandle hNote);
// Stores the open note's items in its database (a new note gets its id then).
NnStatus NnNoteUpdate(NnHandle hNote, uint16_t flags);
enum : uint16_t {
  NN_NOTE_INFO_DB = 0,        // NnHandle of the database
  NN_NOTE_INFO_ID = 1,        // NOTEID
  NN_NOTE_INFO_OID = 2,       // ORIGINATORID_tag (its File/Note pair is the universal id)
  NN_NOTE_INFO_CLASS = 3,     // uint16_t
  NN_NOTE_INFO_MODIFIED = 4,  // tagTIMEDATE
};
NnStatus NnNoteGetInfo(NnHandle hNote, uint16_t selector, void* out);

// ---- Items ----------------------------------------------------------------------
enum : uint16_t {
  NN_TYPE_ERROR = 0x0100,
  NN_TYPE_COMPOSITE = 0x0001,   // rich text: canonical CD records
  NN_TYPE_OBJECT = 0x0003,      // $FILE objects
  NN_TYPE_NUMBER = 0x0300,
  NN_TYPE_NUMBER_RANGE = 0x0301,
  NN_TYPE_TIME = 0x0400,
  NN_TYPE_TIME_RANGE = 0x0401,
  NN_TYPE_TEXT = 0x0500,
  NN_TYPE_TEXT_LIST = 0x0501,
  NN_TYPE_FORMULA = 0x0600,     // compiled formula
  NN_TYPE_INVALID_OR_UNKNOWN = 0x0000,
  // Rich text a DXL file holds in its structured form (<richtext> in an item,
  // or a form's or page's <body>): listed, and written back as it stood, but
  // not read; its value is the type word alone. Reading it as records fails
  // with NN_ERR_STRUCTURED_RICHTEXT.
  NN_TYPE_STRUCTURED_RICHTEXT = 0x7F01,
};
enum : uint16_t {
  NN_ITEM_SUMMARY = 0x0004,
  NN_ITEM_READERS = 0x0400,
  NN_ITEM_NAMES = 0x0040,
  NN_ITEM_PROTECTED = 0x0200,
  NN_ITEM_SIGN = 0x0001,
  NN_ITEM_SEAL = 0x0002,
  NN_ITEM_PLACEHOLDER = 0x0800, // DXL placeholder='true'
};
// A block of a note: the item record or the item value. Zero means none.
struct NnBlockId {
  NnHandle note = 0;
  uint32_t index = 0;   // item index + 1 within the note
  bool value = false;   // the value block rather than the item block
  bool operator==(const NnBlockId&) const = default;
};
// The value (type word first) of a value block, or the name of an item block;
// null for an unknown block. Valid until the item changes.
void* NnBlockLock(NnBlockId block);
void NnBlockUnlock(NnBlockId block);

// First item of that name (case-insensitive). Any output may be null.
// NN_ERR_ITEM_NOT_FOUND when the note has none.
NnStatus NnItemInfo(NnHandle hNote, const char* name, uint16_t nameLen, NnBlockId* item,
                    uint16_t* type, NnBlockId* value, uint32_t* valueLen);
// Next item after prevItem with the same name.
NnStatus NnItemInfoNext(NnHandle hNote, NnBlockId prevItem, const char* name, uint16_t nameLen,
                        NnBlockId* item, uint16_t* type, NnBlockId* value, uint32_t* valueLen);
// Every item in order.
struct NnItemDesc {
  std::string name;
  uint16_t type = 0;
  uint16_t flags = 0;
  NnBlockId item;
  NnBlockId value;
  uint32_t valueLen = 0;   // with the type word
};
uint32_t NnNoteItemCount(NnHandle hNote);
NnStatus NnNoteItemAt(NnHandle hNote, uint32_t index, NnItemDesc* out);

// Text of the first item of that name (text, or the first entry of a text list),
// cut to bufLen - 1; returns its length (0 when absent).
uint16_t NnItemGetText(NnHandle hNote, const char* name, char* buf, uint16_t bufLen);
// Any item as text: text lists joined with the separator, numbers "%g",
// times by NnTimeToText; cut to bufLen - 1; returns the length.
uint16_t NnItemConvertToText(NnHandle hNote, const char* name, char* buf, uint16_t bufLen,
                             char separator);
// A value (its type word first, as NnComputeEvaluate gives a result) as text,
// the same way: every entry of a list, joined with the separator.
uint16_t NnValueConvertToText(const void* value, uint32_t valueLen, char* buf, uint16_t bufLen,
                              char separator);
// Appends an entry to a text-list item, creating it (as a text list) when absent.
NnStatus NnItemAppendTextList(NnHandle hNote, const char* name, const char* text,
                              uint16_t textLen, bool allowDuplicates);
// Appends a new item with its value (the type word is given separately; data
// excludes it). When items of that name exist it is a new segment, placed after
// the last of them; else it goes at the end.
NnStatus NnItemAppend(NnHandle hNote, uint16_t flags, const char* name, uint16_t nameLen,
                      uint16_t type, const void* data, uint32_t dataLen);
// Replaces every item of that name by one text / number / time item.
NnStatus NnItemSetText(NnHandle hNote, const char* name, const char* text, uint16_t textLen);
NnStatus NnItemSetNumber(NnHandle hNote, const char* name, double value);
NnStatus NnItemSetTime(NnHandle hNote, const char* name, const tagTIMEDATE* value);
// Deletes the first item of that name; NN_ERR_ITEM_NOT_FOUND when none.
NnStatus NnItemDelete(NnHandle hNote, const char* name, uint16_t nameLen);
NnStatus NnItemDeleteByBlock(NnHandle hNote, NnBlockId item);

// ---- Text lists (canonical: u16 count, count u16 lengths, the texts) ------------
NnStatus NnTextListAllocate(uint16_t count, uint16_t quota, NnHandle* out, uint32_t* size);
NnStatus NnTextListAddEntry(NnHandle hList, const char* text, uint16_t len, uint32_t* size);
uint16_t NnTextListCount(const void* list);   // list points at the count word
NnStatus NnTextListGetEntry(const void* list, uint16_t index, const char** text, uint16_t* len);
// Length-checked forms for lists read from untrusted bytes: size is the number of
// bytes readable at list. NN_ERR_BAD_ITEM when the count or a length runs past size;
// NN_ERR_INVALID_ARG for an index past the end.
NnStatus NnTextListCountChecked(const void* list, uint32_t size, uint16_t* count);
NnStatus NnTextListGetEntryChecked(const void* list, uint32_t size, uint16_t index,
                                   const char** text, uint16_t* len);

// ---- ID tables ------------------------------------------------------------------
NnStatus NnIdTableCreate(NnHandle* out);
NnStatus NnIdTableInsert(NnHandle hTable, NOTEID id);   // keeps the ids sorted, once each
uint32_t NnIdTableEntries(NnHandle hTable);
// first=true starts the scan; false at the end.
bool NnIdTableScan(NnHandle hTable, bool first, NOTEID* id);
NnStatus NnIdTableFree(NnHandle hTable);

// ---- Design notes -------------------------------------------------------------
// Finds a design note of the class whose title ($TITLE, any "|" alias, without
// regard to case) is name and whose "$Flags" fit flagsPattern: null or empty
// for any, "+" then characters the flags must all hold ("+U" a subform), "-"
// then characters they must not hold. NN_ERR_NOT_FOUND when none.
NnStatus NnDesignFindByNameFlags(NnHandle hDb, uint16_t noteClass, const char* name,
                                 uint16_t nameLen, const char* flagsPattern, NOTEID* out);

// ---- Views ------------------------------------------------------------------------
// A view is a design note of class NN_CLASS_VIEW. Its selection formula is the
// text item "$SelectionFormula" (a leading "SELECT" is dropped), else the item
// "$Formula" when it holds formula text; without either it selects all
// documents. A selection held only in the platform's compiled form, or one that
// reaches a function not evaluated here, is not evaluated: the view then selects
// all documents, and NnCollectionSelectionEvaluated says so. Its key column is
// the formula text item "$KeyColumn" (absent: the key is empty). The collection
// holds the selected documents sorted by key.
NnStatus NnViewOpen(NnHandle hDb, NOTEID viewId, NnHandle* hCollection);
NnStatus NnCollectionClose(NnHandle hCollection);
// Ids of every document of the collection, in a new ID table (which holds them
// sorted by id, like every ID table).
NnStatus NnCollectionGetIds(NnHandle hCollection, NnHandle* idTable);
// Ids of the documents whose key equals key (without regard to case), in a new ID table;
// NN_ERR_NOT_FOUND, and no table, when no document has that key.
NnStatus NnCollectionFindByKey(NnHandle hCollection, const char* key, NnHandle* idTable);
// Whether the view's selection was evaluated (see above).
NnStatus NnCollectionSelectionEvaluated(NnHandle hCollection, bool* evaluated);

// ---- Attachments ($FILE objects) ------------------------------------------------
// A $FILE item value (type NN_TYPE_OBJECT) holds, canonical: u16 object type (2 = file),
// u32 object id, u16 file-name length, u16 host type, u16 compression, u16 file
// attributes, u16 flags, u32 file size, two TIMEDATE (created, modified), the name.
// The file's bytes are held by the database as the object of that id.
struct NnFileObject {
  uint16_t objectType;
  uint32_t objectId;
  uint16_t fileNameLength;
  uint16_t hostType;
  uint16_t compressionType;
  uint16_t fileAttributes;
  uint16_t flags;
  uint32_t fileSize;
  tagTIMEDATE fileCreated;
  tagTIMEDATE fileModified;
};
// Writes the attachment of that file name (case-insensitive) to a file.
NnStatus NnNoteExtractFile(NnHandle hNote, const char* fileName, const char* outPath);
// Reads the attachment's bytes into a new memory handle.
NnStatus NnNoteExtractFileToMemory(NnHandle hNote, const char* fileName, NnHandle* out,
                                   uint32_t* size);
// Attaches bytes to the note under that file name.
NnStatus NnNoteAttachData(NnHandle hNote, const char* fileName, const void* data, uint32_t size);

// ---- On-disk structures ---------------------------------------------------------------
enum : uint16_t {
  NN_ODS_FILEOBJECT = 1,    // NnFileObject
  NN_ODS_DOCUMENT = 114,    // NnDocumentRecord ($Info of a form)
};
// Canonical: u8 signature 0x86, u8 length (24 with the header), then the fields
// below in order, then a spare u16. A longer record is skipped whole.
struct NnDocumentRecord {
  uint8_t signature;        // 0x86
  uint8_t length;           // record length with its header
  uint16_t paperColor;      // palette index
  uint16_t formFlags;
  uint16_t notePrivileges;
  uint16_t formFlags2;
  uint16_t inherFieldNameLength;
  uint16_t paperColorExt;
  uint16_t paperColorFlags; // flags of the colour value
  uint8_t paperColorRed, paperColorGreen, paperColorBlue, paperColorUnused;
  uint16_t formFlags3;
  uint16_t spare;
};
// Converts a canonical structure at *pp to host form in out, advancing *pp;
// reads at most avail bytes (NN_ERR_BAD_ITEM when too short).
NnStatus NnOdsRead(const void** pp, uint32_t avail, uint16_t structType, void* out);

// ---- Character sets ------------------------------------------------------------------
enum : uint16_t {
  NN_CHARSET_LMBCS = 0,     // the platform's own text
  NN_CHARSET_UTF8 = 1,
  NN_CHARSET_UNICODE = 2,   // two-byte Unicode, little-endian
  NN_CHARSET_LATIN1 = 3,    // ISO-8859-1
};
struct NnCharsetInfo;  // opaque
// Loads a translation table from one set to another.
NnStatus NnCharsetTableLoad(uint16_t from, uint16_t to, NnCharsetInfo** out);
NnStatus NnCharsetTableFree(NnCharsetInfo* table);
// Translates; writes at most outSize bytes and sets *outLen; NN_ERR_MEMORY when the output
// does not fit (what fitted is written, never more than outSize). mode is accepted for
// compatibility.
NnStatus NnCharsetTranslate(NnCharsetInfo* table, uint16_t mode, const char* in, uint32_t inLen,
                            char* out, uint32_t outSize, uint32_t* outLen);
// Byte size of the first `chars` characters of an LMBCS text (at most maxBytes bytes, a
// NUL ends the text and is counted as one character of one byte).
NnStatus NnCharsetByteSize(const char* text, uint32_t chars, uint32_t maxBytes, uint32_t* bytes,
                           const NnCharsetInfo* info);
// Number of characters in `bytes` bytes of LMBCS text.
NnStatus NnCharsetCharCount(const char* text, uint32_t bytes, uint32_t* chars,
                            const NnCharsetInfo* info);
// Convenience translations for the tool and tests.
std::string NnLmbcsToUtf8(const char* text, size_t len);
std::string NnUtf8ToLmbcs(const char* text, size_t len);

// ---- Time --------------------------------------------------------------------------
// Our fixed format: "YYYY-MM-DD HH:MM:SS" in UTC; a date-only value (ticks
// 0xFFFFFFFF) gives "YYYY-MM-DD", a time-only value (day 0xFFFFFF) "HH:MM:SS".
NnStatus NnTimeToText(const tagTIMEDATE* td, char* buf, uint16_t bufSize, uint16_t* len);
// A range: "first - second".
NnStatus NnTimeRangeToText(const tagTIMEDATE* first, const tagTIMEDATE* second, char* buf,
                           uint16_t bufSize, uint16_t* len);
// Builds a time value from a calendar time in UTC.
tagTIMEDATE NnTimeFromParts(int year, int month, int day, int hour, int minute, int second,
                            int hundredths);
// Parses "YYYYMMDDTHHMMSS,hh[+-]zz" (DXL datetime); false when malformed.
bool NnTimeFromDxl(const char* text, tagTIMEDATE* out);
std::string NnTimeToDxl(const tagTIMEDATE& td);
tagTIMEDATE NnTimeNow();

// ---- Formulas -------------------------------------------------------------------------
// Compiles formula text into a memory handle. On a syntax error returns
// NN_ERR_FORMULA_SYNTAX with the position (0-based byte offset) and length of the
// offending part.
NnStatus NnFormulaCompile(const char* text, uint16_t textLen, NnHandle* hFormula,
                          uint16_t* compiledLen, uint16_t* errorOffset, uint16_t* errorLength);
// The source text of a compiled formula, exactly as compiled, in a new memory handle.
NnStatus NnFormulaToText(const void* compiled, uint16_t compiledLen, NnHandle* hText,
                         uint16_t* textLen);
NnStatus NnComputeStart(const void* compiled, NnHandle* hCompute);
// Evaluates on a note (0: no note, every item is ""). The result is a memory handle
// whose block is the typed value: a 16-bit type word (text, text list, number, number
// range, time, time range) followed by the canonical data.
NnStatus NnComputeEvaluate(NnHandle hCompute, NnHandle hNote, NnHandle* hResult,
                           uint32_t* resultLen);
NnStatus NnComputeStop(NnHandle hCompute);

// ---- The sibling library ------------------------------------------------------------------
// Draws a file-icon GIF with the caption under it into buf (*bufSize in: capacity,
// out: GIF size). NN_ERR_MEMORY when it does not fit (nothing is promised in buf then).
NnStatus AnnotateGifToBuffer(const char* caption, const char* fontName, uint16_t pointSize,
                             const char* extension, uint32_t backgroundRgb, uint8_t* buf,
                             uint32_t* bufSize, uint16_t* width, uint16_t* height);
// Natural size of an image named by a URL; here always 0 by 0.
NnStatus GetImageSizeFromURL(const char* url, uint16_t* width, uint16_t* height);
