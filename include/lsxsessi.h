// An engine session: owns every item, chunk and collection made over it, the
// memory pool, the shared text buffers and the session globals.
//
// Threads: sessions in separate threads work side by side (README, Threads).
// One session, with everything it owns, is used by one thread at a time; it
// may move to another thread between calls.
//
// Ownership of listed objects
// - TorvoRTItem, TorvoRTChunk and TorvoCollection derive (publicly) from
//   SessionListed. Their constructor sets `sessionDelete` to a function that
//   deletes the object as its own class, then calls AddTo...List(this); their
//   destructor calls RemoveFrom...List(this).
// - The session destructor deletes what is left: collections first, then
//   items, then chunks (owners before what they own). It unlinks each object
//   before calling its deleter, so the object's own RemoveFrom... call finds
//   nothing and is harmless; objects that the deleted one owns unlink
//   themselves as usual.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nn/nn.h"

class TorvoRTItem;
class TorvoRTChunk;
class TorvoCollection;
class zipstorage;
struct RenderContext;
struct LinkMatchContext;
struct MemoryPool;  // host/pool.h

// The link every session-owned object carries.
struct SessionListed {
  SessionListed* sessionNext = nullptr;
  // Deletes the object as its most derived class; null means "not owned":
  // the session then only unlinks it.
  void (*sessionDelete)(SessionListed* self) = nullptr;
};

// Sizes that recur across the engine.
constexpr uint32_t kWorkBlockSize = 65406;        // work block / largest pool class
constexpr uint32_t kResultTextSize = 65342;       // ResultText capacity
constexpr uint32_t kTextBufferSize = 4096;        // PropertyText, OptionValue, LinkText
constexpr uint32_t kMessageTextSize = 4096;
constexpr uint32_t kMaxSavedParaDefs = 1000;
constexpr uint32_t kParaDefCopySize = 92;
constexpr uint32_t kCellTextSlots = 20;
constexpr uint32_t kMaxTableColumns = 64;
constexpr uint32_t kCachedBufferSize = 1024 * 1024;

// Receives the texts of LogMessage; `context` is the one given with it.
using LsxMessageProc = void (*)(void* context, const char* text);

// New identifiers a link option string asked for; each marker is 'Y' once set.
struct LinkChangeBlock {
  tagTIMEDATE replicaId = {};
  char replicaSet = 0;
  UNIVERSALNOTEID_tag viewId = {};
  char viewSet = 0;
  UNIVERSALNOTEID_tag noteId = {};
  char noteSet = 0;
};

// The session's large global block. Zero-initialised at construction; fields
// that hold platform handles or pool memory are released by the session
// destructor (see LSXLsiSession::~LSXLsiSession).
struct SessionGlobals {
  // ---- current call ------------------------------------------------------
  const char* optionString = nullptr;       // option string of the current operation
  RenderContext* renderContext = nullptr;   // current render context
  const NnCharsetInfo* charsetInfo = nullptr;  // last passed to NnCharsetByteSize/CharCount

  // ---- paragraph definitions ---------------------------------------------
  void* savedParaDefs[kMaxSavedParaDefs] = {};   // saved paragraph-definition list
  uint16_t savedParaDefCount = 0;
  uint16_t nextParagraphId = 0;
  void* deletedParaDefs[kMaxSavedParaDefs] = {};  // deleted paragraph definitions
  uint16_t deletedParaDefCount = 0;
  // Copies of paragraph definitions that a paragraph change replaced.
  uint8_t ObsoletedParagraphs[kMaxSavedParaDefs][kParaDefCopySize] = {};
  uint16_t ObsoletedParagraphCount = 0;
  uint16_t paraDefValue = 0;                 // 16-bit paragraph-definition value (group 20)
  uint16_t paraExtTextLength = 0;            // paragraph extension text
  char paraExtText[kTextBufferSize] = {};

  // ---- record range and step results -------------------------------------
  uint32_t FirstMatchRecord = 0;  // first record of the current target (0: nothing matched)
  uint32_t LastMatchRecord = 0;
  uint16_t stepResult = 0;        // set by the loading step
  uint16_t textCut = 0;           // the text step left text out: the result text was full
  uint16_t FoundCount = 0;        // 16-bit match counter (property group 14)
  uint32_t counter1 = 0;
  uint32_t counter2 = 0;
  uint16_t recordTypeValue = 0;   // 16-bit record-type value (property group 18)
  uint16_t linkStyleSwitch = 0;
  // Raised around an append whose source node the engine built, so the copy
  // keeps that mark.
  uint16_t adoptFlag = 0;

  // ---- colour left by FontApplyChanges / ParseColor ----------------------
  uint32_t fontColor = 0;         // 0 when no colour change
  uint16_t fontHighlight = 0;     // 0 when no highlight change
  uint16_t parsedColorIndex = 0;
  uint32_t parsedColor = 0;       // 0x00BBGGRR
  uint16_t CellColorIndex = 0;    // palette index, 0 = none
  // 0xBBGGRR with kCellColorRgbGiven set when the colour is an RGB value
  // (black included); 0 = none, the palette index holds.
  uint32_t CellColorRgb = 0;
  static constexpr uint32_t kCellColorRgbGiven = 0x1000000;
  uint16_t CellMargins[2] = {};

  // ---- link matching ------------------------------------------------------
  LinkMatchContext* linkMatch = nullptr;
  char* propertiesText = nullptr;       // pool text (freed with the pool)
  NnHandle resultFormula = 0;           // started computations (NnComputeStop)
  NnHandle propertiesFormula = 0;
  NnHandle hDb = 0;                     // open database (NnDbClose)
  NnHandle hMatchedNote = 0;            // matched document (NnNoteClose)
  NnHandle hViewCollection = 0;         // open view collection (NnCollectionClose)
  NnReplicaInfo replicaInfo = {};
  ORIGINATORID_tag viewOriginatorId = {};
  uint16_t keyTotal = 0;
  uint16_t MatchActionFlag = 0;
  LinkChangeBlock linkChange;
  // lookup cache
  char lookupServer[256] = {};
  char lookupDbPath[256] = {};
  char lookupViewName[256] = {};
  char lookupRefField[256] = {};
  char lookupResultField[256] = {};
  NOTEID lookupViewId = 0;
  tagTIMEDATE lookupBuildTime = {};

  // ---- item copy source ----------------------------------------------------
  NnHandle srcDb = 0;             // not owned
  NnHandle srcNote = 0;           // not owned
  char srcItemName[256] = {};

  // ---- hotspots and tables ------------------------------------------------
  uint16_t hotspotType = 0;
  uint32_t codeKind = 0;
  char* hotspotLanguage = nullptr;  // not owned
  uint32_t hotspotExtra = 0;
  char* cellText[kCellTextSlots] = {};  // pool texts (freed with the pool)
  uint16_t tableBaseWidth = 0;    // twips
  uint16_t columnWidths[kMaxTableColumns] = {};  // twips
  uint16_t columnFixed[kMaxTableColumns] = {};   // fixed-width flags
  uint32_t tableMethodFlag = 0;   // the table method's flag argument
  uint32_t tableHideFormulaFlag = 0;

  // ---- packages, MIME, attachments ---------------------------------------
  zipstorage* package = nullptr;      // open package
  char packageFileName[260] = {};     // file it was loaded from
  void (*packageRelease)(zipstorage*) = nullptr;  // closes and deletes `package`
  void* packageFileList = nullptr;    // not owned
  void* pendingMimePart = nullptr;    // not owned
  NnBlockId attachmentItemBlock = {}; // left by step 65
  char* epubManifest = nullptr;       // null when no EPUB export runs; pool text

  // ---- settings ------------------------------------------------------------
  uint16_t kitType = 0;
  uint16_t releaseMemory = 0;     // KestrelvaultReleaseMemory
  uint16_t oldMemoryModel = 0;    // KestrelvaultOldMemoryModel

  // ---- buffers -------------------------------------------------------------
  char workBuffer1[kWorkBlockSize] = {};
  char workBuffer2[kWorkBlockSize] = {};
  char workBuffer3[kWorkBlockSize] = {};
  void* cachedBuffers[2] = {};    // 1 MB buffers, pool memory (freed with the pool)
};

class LSXLsiSession {
 public:
  static constexpr double kVersion = 5.31;

  // Creates the pool and the globals. Check IsValid(): false when memory ran out.
  LSXLsiSession();
  // Deletes leftover collections, items and chunks, closes the package and the
  // platform handles held in the globals, and releases the pool with its usage
  // report.
  ~LSXLsiSession();
  LSXLsiSession(const LSXLsiSession&) = delete;
  LSXLsiSession& operator=(const LSXLsiSession&) = delete;

  bool IsValid() const { return pool != nullptr && globals != nullptr; }
  double Version() const { return kVersion; }

  // ---- the session lists (push at head; remove of an unknown object does nothing)
  void AddToRTITEMList(SessionListed* item);
  void RemoveFromRTITEMList(SessionListed* item);
  void AddToRTCHUNKList(SessionListed* chunk);
  void RemoveFromRTCHUNKList(SessionListed* chunk);
  void AddToCollectionList(SessionListed* collection);
  void RemoveFromCollectionList(SessionListed* collection);
  SessionListed* FirstRTItem() const { return itemList; }
  SessionListed* FirstRTChunk() const { return chunkList; }
  SessionListed* FirstCollection() const { return collectionList; }
  uint32_t RTItemCount() const;
  uint32_t RTChunkCount() const;
  uint32_t CollectionCount() const;

  // ---- text buffers
  // Text buffer 1 = PropertyText, 2 = OptionValue, 3 = LinkText; null otherwise.
  char* TextBuffer(int number);
  // Copies text into ResultText (cut to its capacity), NUL-terminated, sets the length.
  void SetResultText(const char* text, uint32_t length);
  void ClearResultText() { ResultTextLength = 0; ResultText[0] = 0; }

  NnStatus PreprocessXMLProperties(RenderContext* ctx, uint16_t outputKind, const char* fileName, const char* optionString);

  // ---- product name (default "Zelko"); cut to 63 characters; null restores the default
  const char* ProductName() const { return productName; }
  void SetProductName(const char* name);

  // ---- host message routine (LogMessage); null drops messages
  void SetMessageProc(LsxMessageProc proc, void* context) {
    messageProc = proc;
    messageContext = context;
  }

  // ======== engine fields below this line (layout fixed; callers leave them alone
  // except where a comment names a caller's use) ========
  // ---- data (plain fields: callers read and write them directly)
  MemoryPool* pool = nullptr;
  SessionGlobals* globals = nullptr;

  uint16_t ResultTextLength = 0;
  char ResultText[kResultTextSize] = {};   // NUL-terminated when it fits

  char PropertyText[kTextBufferSize] = {};  // text buffer 1
  char OptionValue[kTextBufferSize] = {};   // text buffer 2
  char LinkText[kTextBufferSize] = {};      // text buffer 3

  uint16_t MessageTextLength = 0;
  char MessageText[kMessageTextSize] = {};

  LsxMessageProc messageProc = nullptr;
  void* messageContext = nullptr;

 private:
  static void AddTo(SessionListed*& head, SessionListed* obj);
  static void RemoveFrom(SessionListed*& head, SessionListed* obj);
  static uint32_t Count(const SessionListed* head);
  static void DeleteAll(SessionListed*& head);

  SessionListed* itemList = nullptr;
  SessionListed* chunkList = nullptr;
  SessionListed* collectionList = nullptr;
  char productName[64] = "Zelko";
};

// Returns to the session's pool what a method handed out from it (a rendered
// page, a message); null is ignored. Whatever is not returned goes with the
// session.
void PoolFree(LSXLsiSession* session, void* ptr);
