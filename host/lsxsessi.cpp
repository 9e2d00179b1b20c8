#include "lsxsessi.h"

#include <cstring>
#include <new>

#include "host/pool.h"
#include "nn/nn.h"

LSXLsiSession::LSXLsiSession() {
  pool = PoolCreate(this);
  globals = new (std::nothrow) SessionGlobals;
}

LSXLsiSession::~LSXLsiSession() {
  // Owners before what they own: a collection may own items, an item its chunks.
  DeleteAll(collectionList);
  DeleteAll(itemList);
  DeleteAll(chunkList);
  if (globals) {
    SessionGlobals& g = *globals;
    if (g.package && g.packageRelease) g.packageRelease(g.package);
    g.package = nullptr;
    if (g.resultFormula) NnComputeStop(g.resultFormula);
    if (g.propertiesFormula) NnComputeStop(g.propertiesFormula);
    if (g.hViewCollection) NnCollectionClose(g.hViewCollection);
    if (g.hMatchedNote) NnNoteClose(g.hMatchedNote);
    if (g.hDb) NnDbClose(g.hDb);
    delete globals;
    globals = nullptr;
  }
  // Pool texts held in the globals (properties text, cell texts, cached
  // buffers, manifest) go with the pool.
  PoolRelease(pool);
  pool = nullptr;
}

void LSXLsiSession::AddTo(SessionListed*& head, SessionListed* obj) {
  if (!obj) return;
  obj->sessionNext = head;
  head = obj;
}

void LSXLsiSession::RemoveFrom(SessionListed*& head, SessionListed* obj) {
  if (!obj) return;
  for (SessionListed** link = &head; *link; link = &(*link)->sessionNext) {
    if (*link == obj) {
      *link = obj->sessionNext;
      obj->sessionNext = nullptr;
      return;
    }
  }
}

uint32_t LSXLsiSession::Count(const SessionListed* head) {
  uint32_t n = 0;
  for (; head; head = head->sessionNext) n++;
  return n;
}

void LSXLsiSession::DeleteAll(SessionListed*& head) {
  // Unlink before deleting: the object's own RemoveFrom call then finds
  // nothing, and whatever it deletes in turn unlinks itself from the head on.
  while (head) {
    SessionListed* obj = head;
    head = obj->sessionNext;
    obj->sessionNext = nullptr;
    if (obj->sessionDelete) obj->sessionDelete(obj);
  }
}

void LSXLsiSession::AddToRTITEMList(SessionListed* item) { AddTo(itemList, item); }
void LSXLsiSession::RemoveFromRTITEMList(SessionListed* item) { RemoveFrom(itemList, item); }
void LSXLsiSession::AddToRTCHUNKList(SessionListed* chunk) { AddTo(chunkList, chunk); }
void LSXLsiSession::RemoveFromRTCHUNKList(SessionListed* chunk) { RemoveFrom(chunkList, chunk); }
void LSXLsiSession::AddToCollectionList(SessionListed* collection) {
  AddTo(collectionList, collection);
}
void LSXLsiSession::RemoveFromCollectionList(SessionListed* collection) {
  RemoveFrom(collectionList, collection);
}
uint32_t LSXLsiSession::RTItemCount() const { return Count(itemList); }
uint32_t LSXLsiSession::RTChunkCount() const { return Count(chunkList); }
uint32_t LSXLsiSession::CollectionCount() const { return Count(collectionList); }

char* LSXLsiSession::TextBuffer(int number) {
  switch (number) {
    case 1: return PropertyText;
    case 2: return OptionValue;
    case 3: return LinkText;
    default: return nullptr;
  }
}

void LSXLsiSession::SetResultText(const char* text, uint32_t length) {
  if (!text) length = 0;
  // Keep room for the NUL.
  if (length > kResultTextSize - 1) length = kResultTextSize - 1;
  if (length) std::memmove(ResultText, text, length);
  ResultText[length] = 0;
  ResultTextLength = static_cast<uint16_t>(length);
}

void LSXLsiSession::SetProductName(const char* name) {
  if (!name || !*name) name = "Zelko";
  size_t n = std::strlen(name);
  if (n > sizeof productName - 1) n = sizeof productName - 1;
  std::memcpy(productName, name, n);
  productName[n] = 0;
}
