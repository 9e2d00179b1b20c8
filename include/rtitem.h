// TorvoRTItem: one rich-text item of one note or design element, and its
// working state, RTItemContext.
//
// A caller makes a session, an item over it, binds the item to a note's item
// by name (Connect, or ConnectBackend on a note of its own), and works on it
// through chunks (DefineChunk; rtchunk.h says how texts, statuses and
// ownership go). Declare the item after its session (or delete it first): the
// session deletes the items and chunks still listed when it goes.
//
// What callers use first: TorvoRTItem's constructor, Connect or
// ConnectBackend, DefineChunk, and the fields marked "caller" below the
// engine line (modified, autoSave, DeferCommitFlag, context->modeWord). The
// structures before the class and the other members are the engine's.
#pragma once

#include <cstdint>

#include "lsxsessi.h"
#include "nn/nn.h"

struct RecordList;
struct RTRecordNode;
struct ComposeContext;
struct LinkMatchContext;
class TorvoRTChunk;

// Font faces an item knows: its "$Fonts" table over the built-in faces.
constexpr uint32_t kFontTableSize = 255;
constexpr uint32_t kBuiltinFaces = 8;
constexpr uint32_t kFaceNameSize = 32;   // stored face names, NUL-padded
struct FontFace {
  uint8_t id = 0;
  uint8_t family = 0;
  uint8_t inUse = 0;
  char name[kFaceNameSize + 1] = {};
};

// A style mapping: paragraph settings (and optionally a font) that render as a
// given element and class. The renderer walks the item's list in order.
struct _StyleMapping_Info {
  _StyleMapping_Info* next = nullptr;
  uint32_t fontId = 0;             // the font to match (when hasFont)
  uint16_t hasFont = 0;
  uint16_t justify = 0xFFFF;       // paragraph settings to match; 0xFFFF any
  uint16_t leftMargin = 0xFFFF;
  char* styleName = nullptr;       // paragraph-style name (pool text) or null
  char* elementName = nullptr;     // element to write, e.g. "h1"
  char* className = nullptr;       // class attribute or null
  char* closingTags = nullptr;     // closing text of the element
  char* listClosingTags = nullptr; // closing text of its list, or null
};

struct RTItemContext {
  TorvoRTItem* item = nullptr;
  uint16_t modeWord = 0;          // caller: 3 runs writes without an item of the name
                                  // (the first creates it); 0 otherwise
  uint16_t designNote = 0;        // 0 for a data document
  uint32_t textFollowUp = 0;      // set by the engine's text insertion
  RecordList* records = nullptr;  // the loaded (or installed) record list
  RecordList* newRecords = nullptr;
  RecordList* loadArea = nullptr; // the list whose load area the records point into
  uint8_t defaultTextRun[8] = {}; // an empty text record in the default font (host layout):
                                  // what a write at a whole empty item walks
  uint32_t currentFont = 0;       // the item's current text font
  uint32_t recordsGeneration = 0; // changes whenever the records may have changed
  uint16_t cellRefit = 0;         // refit table cells to the page width
  uint16_t colorNaming = 1;       // 1: Black .. LightGray; 0: the web names
  FontFace faces[kFontTableSize + 1];  // by face id
  uint16_t faceCount = 0;         // faces in use, built-ins included
  uint16_t fontsChanged = 0;      // faces were added: "$Fonts" is written at commit
  uint8_t* scratch1 = nullptr;    // two record scratch buffers of kWorkBlockSize bytes
  uint8_t* scratch2 = nullptr;
  void* pendingMimeBodies = nullptr;
  _StyleMapping_Info* styleMappings = nullptr;          // the item's own
  _StyleMapping_Info* internalStyleMappings = nullptr;  // created by the engine
};

class TorvoRTItem : public SessionListed {
 public:
  // An unbound item listed in `session`.
  explicit TorvoRTItem(LSXLsiSession* session);
  // Closes what Connect opened (not what ConnectBackend was given).
  ~TorvoRTItem();
  TorvoRTItem(const TorvoRTItem&) = delete;
  TorvoRTItem& operator=(const TorvoRTItem&) = delete;

  // Opens the database (server "" for local) and the note, and binds the item
  // to the note's item `itemName` (the item closes both when it goes). 0 on
  // success, else the status of the opening or ConnectBackend's. `flags` is
  // not used.
  NnStatus Connect(const char* server, const char* dbPath, NOTEID noteId, const char* itemName,
                   uint16_t flags);
  // Binds the item to the item `itemName` of a note the caller keeps open
  // (the item closes neither). 0 on success; 1028 for a missing note or
  // name. 556 (NN_ERR_STRUCTURED_RICHTEXT) when the item is rich text a DXL
  // file held in its structured form (NN_TYPE_STRUCTURED_RICHTEXT), which is
  // not read: the item is bound all the same and every chunk method on it
  // fails with 556, leaving it as it was. Binding does not check that the
  // note holds an item of that name: on a note without one (a misspelt
  // name), reads find nothing and return 0, and a write fails with 546
  // (NN_ERR_ITEM_NOT_FOUND) and changes nothing; with context->modeWord 3
  // a write creates the item. Names match without regard to case, and an
  // edited item is written back under its stored name. Forms and pages call
  // their body "$Body", documents mostly "Body" (NnItemInfo tells, with the
  // type NN_TYPE_COMPOSITE).
  NnStatus ConnectBackend(NnHandle hDb, NnHandle hNote, const char* itemName);
  // Writes the record list back into the note as the item's segments
  // (replacing the old ones) and any pending MIME body; 0 on success. A
  // failure leaves the item as it was. Chunk methods commit by themselves
  // unless DeferCommitFlag is set.
  NnStatus Commit();
  // Loads the record list when it is not loaded; 0 when loaded, else the
  // status of the load.
  NnStatus LoadRecords();
  // Drops the loaded record list (the next use reloads it from the note).
  void ReleaseRecords();
  // Replaces the item's record list by a new one (which the item then owns).
  void InstallRecords(RecordList* list);

  // A new chunk over the item for `definition` ("Table 1; Row 2"; null or
  // empty for the whole item, "Everything"); null when the definition does
  // not parse. The chunk is the caller's to delete (before the item); the
  // item only remembers its first Everything chunk in `everything`.
  TorvoRTChunk* DefineChunk(const char* definition);

  // Copies the face name of the id into name (kFaceNameSize + 1 bytes); 0 when
  // the id is absent (name untouched).
  int FindFaceByID(uint8_t faceId, char* name) const;
  // The face name of the id where the table keeps it (NUL-terminated, at most
  // kFaceNameSize characters); null when the id is absent.
  const char* FaceNameOf(uint8_t faceId) const;
  // The id of a face name (case-insensitive), adding it to the table when
  // `add` and absent; -1 when absent and not added (or the table is full).
  int FindFaceByName(const char* name, bool add);

  // Parses a paragraph string (`spec`, then `spec2`; reference.md gives the
  // grammar) into the engine's paragraph outputs; 0, or 1028 for a malformed
  // value (the outputs untouched).
  NnStatus ParseParagraphString(const char* spec, const char* spec2, void* outputs);

  // The style mapping of a font: the engine's own list (`listSelector` 1) or
  // the item's; null when none. Nodes belong to the item.
  _StyleMapping_Info* GetStyleMappingByFontID(uint32_t fontId, int listSelector) const;
  // Adds a mapping of the font to the engine's list; null when memory runs out.
  _StyleMapping_Info* CreateInternalStyleMapping(const char* styleText, const char* closingTags,
                                                 uint32_t fontId);
  // Notes the field `fieldName` as edited by `editorName` (else the default
  // editor) on the item's note; 0 on success.
  NnStatus SetupAlternateEditor(const char* editorName, const char* fieldName,
                                uint16_t fieldNameLength, const char* defaultEditorName);

  // ======== engine fields below this line (layout fixed; callers leave them alone
  // except those marked "caller") ========
  // ---- state (plain fields; the engine reads and writes them) ----
  LSXLsiSession* session = nullptr;
  NnHandle hDb = 0;
  NnHandle hNote = 0;
  NnHandle hRenderNote = 0;         // 0: the item's own note
  uint16_t ownsDb = 0;              // Connect opened them: the destructor closes them
  uint16_t ownsNote = 0;
  uint16_t connected = 0;
  char itemName[256] = {};
  char dbPath[1024] = {};
  RTItemContext* context = nullptr;
  TorvoRTChunk* everything = nullptr;   // the item's own Everything chunk

  char* defaultFontSpec = nullptr;  // pool texts; null for the defaults
  char* linkStyle = nullptr;        // default "BLUE +UNDERLINE"
  char* linkStyle2 = nullptr;       // default "BLUE +UNDERLINE"
  char* highlightStyle = nullptr;   // default "RED +BOLD"
  char* wikiLinkStyle = nullptr;    // default "DARKGREEN +UNDERLINE"
  char* styleText = nullptr;        // the item's style text ("Web..." selects web colour names)

  uint16_t fontOverride = 0;
  uint16_t imageSwitch = 0;
  uint16_t DeferCommitFlag = 0;     // caller: 1 holds writes in memory until Commit
  uint16_t secondFlag = 0;          // cleared and restored by the matching passes
  uint16_t LookupCacheFlag = 0;
  uint16_t cleanupSwitch = 0;
  // caller: 1 once a call has changed the item since it was bound (a failed call
  // leaves it as it was). The change is in the open note (only in the
  // records in memory while DeferCommitFlag holds the commit back) until
  // NnNoteUpdate stores the note.
  uint16_t modified = 0;
  uint16_t changed = 0;             // set by every set step
  uint16_t autoSave = 0;            // caller: a successful chunk method saves the note
  uint16_t pageWidth = 8640;        // twips, for refitting table cells
  uint16_t tableWidth = 0;          // twips, base of AppendTable
  uint16_t pageWidthAllowance = 0;
  uint8_t defaultFace = 1;          // default text font: face, colour, point size
  uint8_t defaultColor = 0;
  uint8_t defaultPointSize = 10;
  char defaultExportName[256] = {};
  NnStatus lastStatus = 0;
  uint16_t lastInternalError = 0;
};

// Frees a link-matching context: its text lists, note-identifier block, the
// first-letter array and matched flags, then the context (`freeSelf` 1).
void LinkMatchContextDelete(LinkMatchContext* context, int freeSelf);
