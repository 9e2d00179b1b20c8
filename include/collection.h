// TorvoCollection: a collection of documents rendered as one, and the
// services the engine and the renderer use of it: its two events (link data
// and export names), the document markers written between documents, and the
// view look-up that link matching uses.
//
// Only what the callers need is here; the multi-document writers themselves
// are not part of this library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "lsxsessi.h"
#include "nn/nn.h"

class TorvoCollection;
class TorvoRTChunk;
struct CollectionMarkers;

// Asked for the URL of a link. The answer is given with
// collection->SetAnswer(text); `answer`/`answerSize` are the caller's buffer
// (may be null/0) and are filled by RaiseQueryLinkData, not by the callback.
using CollectionQueryLinkDataCallback = int (*)(TorvoCollection* collection,
                                                const char* linkText, void* reserved,
                                                uint16_t kind, const char* url, uint32_t flags,
                                                void* extra0, void* extra1, void* extra2);
// Asked for the file path and URL of an exported file of that kind ("image",
// "attachment", ...). Answers are given with collection->SetExportNames(path, url);
// either may be null to keep the given one.
using CollectionQueryExportNamesCallback = int (*)(TorvoCollection* collection, const char* kind,
                                                   const char* path, const char* url);

constexpr uint32_t kCollectionAnswerSize = 4096;

class TorvoCollection : public SessionListed {
 public:
  // Adds itself to the session's collection list (the session deletes what is
  // left at its end). A null session makes an unlisted collection.
  explicit TorvoCollection(LSXLsiSession* session);
  ~TorvoCollection();
  TorvoCollection(const TorvoCollection&) = delete;
  TorvoCollection& operator=(const TorvoCollection&) = delete;

  // Raises QueryLinkData when it is set: clears the answer, calls the callback
  // with (this, linkText, reserved, kind, url, flags, extra0..2). Returns 1 when
  // the callback answered (answerText holds the URL to use, and a copy goes to
  // `answer` when it is given and the text fits in answerSize with its NUL),
  // else 0. An answer that does not fit `answer` leaves it empty and returns 0.
  int RaiseQueryLinkData(const char* linkText, void* reserved, uint16_t kind, const char* url,
                         uint32_t flags, char* answer, uint32_t answerSize, void* extra1,
                         void* extra2);
  // Raises QueryExportNames when it is set. An answered path or URL replaces
  // the text in `path` / `url` (buffers of pathSize / urlSize bytes, may be
  // null) when it fits with its NUL; one that does not fit leaves that buffer
  // unchanged. Returns 1 when anything was replaced, else 0.
  int RaiseQueryExportNames(const char* kind, char* path, uint32_t pathSize, char* url,
                            uint32_t urlSize);

  // The collection writer: appends to `target` (a chunk of the item that
  // joins the documents) the document marker of document `documentNumber`
  // (the "$hDB=" marker naming hDb and the note's universal id, alone in its
  // text record and paragraph), then the rich text of the note's item
  // `itemName`. The database stays open as long as the joined item is
  // rendered: the renderer opens the note the marker names. Returns the
  // status of the first step that fails (a failed step keeps nothing of its
  // own; the marker stays when the copy of the item fails).
  NnStatus AppendDocument(TorvoRTChunk* target, NnHandle hDb, NOTEID noteId, const char* itemName,
                          int documentNumber);

  // The markers this collection wrote. A renderer honours a marker run only
  // when the collection wrote it: `text` is the run's whole text and
  // `occurrence` the number of runs of the very same text before it in the
  // item (an author's copy of a marker, anywhere, stays text). AppendDocument
  // records its own; a caller that writes a marker itself records it here.
  void RecordOwnMarker(const char* text, size_t length, uint32_t occurrence);
  bool IsOwnMarker(const char* text, size_t length, uint32_t occurrence) const;

  // Called from the callbacks. A text longer than the answer field is refused
  // (returns 0 and clears that answer); null clears it. 1 when stored.
  int SetAnswer(const char* text);
  int SetExportNames(const char* path, const char* url);
  void ClearAnswers();

  // ---- state ----
  LSXLsiSession* session = nullptr;
  CollectionQueryLinkDataCallback QueryLinkData = nullptr;
  CollectionQueryExportNamesCallback QueryExportNames = nullptr;
  void* userData = nullptr;             // for the callbacks

  uint16_t answerSet = 0;               // the last RaiseQueryLinkData was answered
  char answerText[kCollectionAnswerSize] = {};
  uint16_t exportPathSet = 0;
  char exportPath[kCollectionAnswerSize] = {};
  uint16_t exportUrlSet = 0;
  char exportUrl[kCollectionAnswerSize] = {};

 private:
  std::unique_ptr<CollectionMarkers> markers_;
};

// A text of the marker forms below (a run the renderer would take for a
// document marker): "[<!--$hDB=" or "[<!--$hNote=" ... "]".
bool IsDocumentMarkerText(const char* text, size_t length);

// Document markers the collection writers put, as the whole text of one text
// record, between two documents; the renderer recognises them when it renders
// for a collection. Each writes a NUL-terminated text into out (outSize
// bytes) and returns its length, or 0 (out untouched beyond out[0] = 0 when
// outSize > 0) when it does not fit.
//   "[<!--$hDB=<db>$unid=<32 hex>--><a name='zavedodAvu<n>'></a><div id='zavedodAvu<n>'></div>]"
uint32_t FormatCollectionDbMarker(char* out, uint32_t outSize, NnHandle hDb,
                                  const UNIVERSALNOTEID_tag* unid, int documentNumber);
//   "[<!--$hNote=<note>-->]"
uint32_t FormatCollectionNoteMarker(char* out, uint32_t outSize, NnHandle hNote);

// The largest number of note identifiers the process-wide selection table takes.
constexpr uint32_t kMaxSelectionIds = 16350;

// Finds the view `viewName` of the database (views only, by title or alias,
// without regard to case). With `collect` 1, the process-wide selection table
// (SelectionTable()) is refilled with the ids of the view's documents (at most
// kMaxSelectionIds; the rest are left out). With a key (not null), *outTable
// receives a new ID table (the caller frees it with NnIdTableFree) of the
// documents whose key equals it; NN_ERR_NOT_FOUND and no table when none does.
// `reserved` is 0. A view that is missing gives NN_ERR_NOT_FOUND and the message
// "ZELKO: View '<name>' not found" (LogMessage). *outTable (when given) is 0
// on every failure. A view whose selection cannot be evaluated here (held
// only in the platform's compiled form, or calling a function not evaluated
// here) takes every document as selected, and each such call says so through
// LogMessage: "ZELKO: View '<name>': its selection is not evaluated; every
// document is taken as selected".
NnStatus FindViewAndCompileSelection(LSXLsiSession* session, NnHandle hDb, const char* viewName,
                                     const char* key, int reserved, NnHandle* outTable,
                                     int collect);
// The process-wide selection table (0 when none was collected) and its release.
NnHandle SelectionTable();
void FreeSelectionTable();
// Sessions in other threads share the selection table. A caller that collects
// it and then reads it holds it from the collection on: other threads' holds
// and collections wait until the hold ends, and its end frees the table.
// One hold per thread at a time.
class SelectionTableHold {
 public:
  SelectionTableHold();
  ~SelectionTableHold();
  SelectionTableHold(const SelectionTableHold&) = delete;
  SelectionTableHold& operator=(const SelectionTableHold&) = delete;
};
