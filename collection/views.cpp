// The view look-up of link and wiki matching: find a view by name, collect
// the identifiers of its documents into the process-wide selection table, or
// find the documents whose key equals a text.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "collection.h"
#include "host/logging.h"
#include "lsxsessi.h"

namespace {

// The table lives from the collecting call until FreeSelectionTable. Sessions
// in other threads share it: every use takes the lock, and a hold keeps it
// from the collection to the release.
NnHandle g_selectionTable = 0;

std::recursive_mutex& SelectionLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;  // outlives every session
  return *lock;
}

// The session's message text, handed to its message routine.
void Report(LSXLsiSession* session, const char* format, const char* viewName) {
  std::snprintf(session->MessageText, sizeof session->MessageText, format, viewName);
  session->MessageTextLength = uint16_t(std::strlen(session->MessageText));
  LogMessage(session, session->MessageText);
}

}  // namespace

SelectionTableHold::SelectionTableHold() { SelectionLock().lock(); }

SelectionTableHold::~SelectionTableHold() {
  FreeSelectionTable();
  SelectionLock().unlock();
}

NnHandle SelectionTable() {
  std::lock_guard<std::recursive_mutex> lock(SelectionLock());
  return g_selectionTable;
}

void FreeSelectionTable() {
  std::lock_guard<std::recursive_mutex> lock(SelectionLock());
  if (g_selectionTable) NnIdTableFree(g_selectionTable);
  g_selectionTable = 0;
}

NnStatus FindViewAndCompileSelection(LSXLsiSession* session, NnHandle hDb, const char* viewName,
                                     const char* key, int /*reserved*/, NnHandle* outTable,
                                     int collect) {
  if (outTable) *outTable = 0;
  if (!hDb || !viewName || !*viewName) return NN_ERR_INVALID_ARG;
  const size_t nameLen = std::strlen(viewName);
  if (nameLen > 0xFFFF) return NN_ERR_INVALID_ARG;
  NOTEID viewId = 0;
  NnStatus st = NnDesignFindByNameFlags(hDb, NN_CLASS_VIEW, viewName, uint16_t(nameLen),
                                        "-G40n^", &viewId);
  if (st != NN_OK) {
    if (session) Report(session, "ZELKO: View '%s' not found", viewName);
    return st;
  }
  if (session && session->globals) session->globals->lookupViewId = viewId;

  NnHandle hCollection = 0;
  st = NnViewOpen(hDb, viewId, &hCollection);
  if (st != NN_OK) return st;
  // A selection this platform layer cannot evaluate selects every document:
  // callers rely on the lookup, so it goes on, and says so each time.
  bool evaluated = true;
  if (session && NnCollectionSelectionEvaluated(hCollection, &evaluated) == NN_OK && !evaluated)
    Report(session, "ZELKO: View '%s': its selection is not evaluated; every document is taken as selected",
           viewName);

  if (collect) {
    NnHandle all = 0;
    st = NnCollectionGetIds(hCollection, &all);
    if (st == NN_OK) {
      // The table keeps at most kMaxSelectionIds identifiers.
      NnHandle capped = 0;
      st = NnIdTableCreate(&capped);
      NOTEID id = 0;
      uint32_t n = 0;
      for (bool first = true; st == NN_OK && n < kMaxSelectionIds && NnIdTableScan(all, first, &id);
           first = false, ++n)
        st = NnIdTableInsert(capped, id);
      NnIdTableFree(all);
      if (st == NN_OK) {
        std::lock_guard<std::recursive_mutex> lock(SelectionLock());
        FreeSelectionTable();
        g_selectionTable = capped;
      } else if (capped) {
        NnIdTableFree(capped);
      }
    }
  }
  if (st == NN_OK && key && outTable) {
    NnHandle found = 0;
    st = NnCollectionFindByKey(hCollection, key, &found);
    if (st == NN_OK) *outTable = found;
  }
  NnCollectionClose(hCollection);
  return st;
}
