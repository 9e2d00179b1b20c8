// TorvoRTItem: binding, loading, the font table and the write-back.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/fonts.h"
#include "host/noteops.h"
#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/itemhelpers.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace {

// Faces every item knows before its "$Fonts" table is read. Face 3 is a text
// face: real forms set ordinary labels in it.
struct BuiltinFace {
  uint8_t id;
  uint8_t family;
  const char* name;
};
constexpr BuiltinFace kBuiltinFaceTable[kBuiltinFaces] = {
    {0, 0x12, "Times New Roman"}, {1, 0x22, "Arial"},     {2, 0x22, "Arial Unicode MS"},
    {3, 0x22, "Arial"},          {4, 0x32, "Courier New"}, {5, 0x22, "Helvetica"},
    {6, 0x22, "Verdana"},         {7, 0x22, "Tahoma"},
};

// Font strings given with an item name their faces through that item's table.
// Installed once, when the library loads: before any session exists, so that
// sessions in other threads only ever read it.
int ResolveFaceThroughItem(void* item, const char* name) {
  return item ? static_cast<TorvoRTItem*>(item)->FindFaceByName(name, true) : -1;
}
const bool kFaceResolverInstalled = (SetFontFaceResolver(ResolveFaceThroughItem), true);

constexpr uint16_t kSigFontTable = 0xFF8B;
constexpr uint32_t kFaceRecordSize = 34;  // id, family, 32-byte name

void SetFace(FontFace* faces, uint8_t id, uint8_t family, const char* name, size_t nameLen) {
  FontFace& f = faces[id];
  f.id = id;
  f.family = family;
  f.inUse = 1;
  size_t n = 0;
  while (n < nameLen && n < kFaceNameSize && name[n]) ++n;
  std::memcpy(f.name, name, n);
  f.name[n] = 0;
}

void CountFaces(RTItemContext* ctx) {
  ctx->faceCount = 0;
  for (const auto& f : ctx->faces) ctx->faceCount += f.inUse;
}

void ResetFaces(RTItemContext* ctx) {
  ReadFaceTable(0, ctx->faces);
  CountFaces(ctx);
  ctx->fontsChanged = 0;
}

// Reads the note's "$Fonts" table over the built-in faces.
void LoadFontTable(TorvoRTItem* item) {
  RTItemContext* ctx = item->context;
  ReadFaceTable(item->hNote, ctx->faces);
  CountFaces(ctx);
  ctx->fontsChanged = 0;
}

// Writes the faces that are not built in as the note's "$Fonts" table.
NnStatus StoreFontTable(TorvoRTItem* item) {
  RTItemContext* ctx = item->context;
  std::vector<uint8_t> rec(6, 0);
  uint16_t count = 0;
  for (const auto& f : ctx->faces) {
    if (!f.inUse || f.id < kBuiltinFaces) continue;
    rec.push_back(f.id);
    rec.push_back(f.family);
    char name[kFaceNameSize] = {};
    std::memcpy(name, f.name, std::strlen(f.name));
    rec.insert(rec.end(), name, name + kFaceNameSize);
    ++count;
  }
  uint16_t total = uint16_t(rec.size());
  rec[0] = uint8_t(kSigFontTable);
  rec[1] = uint8_t(kSigFontTable >> 8);
  rec[2] = uint8_t(total);
  rec[3] = uint8_t(total >> 8);
  rec[4] = uint8_t(count);
  rec[5] = uint8_t(count >> 8);
  // Appended beside the old table: the caller deletes that one once every new
  // item is in place.
  return NnItemAppend(item->hNote, 0, "$Fonts", 6, NN_TYPE_COMPOSITE, rec.data(),
                      uint32_t(rec.size()));
}

// The blocks of every item of the name, in note order.
std::vector<NnBlockId> ItemBlocks(NnHandle hNote, const char* name) {
  std::vector<NnBlockId> blocks;
  NnBlockId item;
  uint16_t nameLen = uint16_t(std::strlen(name));
  for (NnStatus f = NnItemInfo(hNote, name, nameLen, &item, nullptr, nullptr, nullptr);
       f == NN_OK;
       f = NnItemInfoNext(hNote, blocks.back(), name, nameLen, &item, nullptr, nullptr, nullptr))
    blocks.push_back(item);
  return blocks;
}

// True when two record lists hold the same records, byte for byte.
bool SameRecords(const RecordList* a, const RecordList* b) {
  if (!a || !b) return a == b;
  if (a->count != b->count) return false;
  const RTRecordNode* x = a->first;
  const RTRecordNode* y = b->first;
  for (; x && y; x = x->next, y = y->next) {
    if (x->signature != y->signature || x->length != y->length) return false;
    if (x->length && (!x->data || !y->data || std::memcmp(x->data, y->data, x->length) != 0))
      return false;
  }
  return !x && !y;
}

// Deletes the segments of the item from the `from`-th to before the `to`-th,
// last first, so the earlier blocks stay valid.
void DeleteSegments(NnHandle hNote, const char* name, size_t from, size_t to) {
  std::vector<NnBlockId> blocks = ItemBlocks(hNote, name);
  for (size_t i = std::min(to, blocks.size()); i-- > from;) NnItemDeleteByBlock(hNote, blocks[i]);
}

void FreePoolText(LSXLsiSession* session, char*& text) {
  if (text) PoolFree(session, text);
  text = nullptr;
}

void FreeStyleMappings(LSXLsiSession* session, _StyleMapping_Info*& head) {
  while (head) {
    _StyleMapping_Info* next = head->next;
    FreePoolText(session, head->styleName);
    FreePoolText(session, head->elementName);
    FreePoolText(session, head->className);
    FreePoolText(session, head->closingTags);
    FreePoolText(session, head->listClosingTags);
    head->~_StyleMapping_Info();
    PoolFree(session, head);
    head = next;
  }
}

}  // namespace

void ReadFaceTable(NnHandle hNote, FontFace* faces) {
  for (uint32_t id = 0; id <= kFontTableSize; ++id) faces[id] = FontFace();
  for (const auto& b : kBuiltinFaceTable)
    SetFace(faces, b.id, b.family, b.name, std::strlen(b.name));
  NnBlockId value;
  uint16_t type = 0;
  uint32_t len = 0;
  if (!hNote || NnItemInfo(hNote, "$Fonts", 6, nullptr, &type, &value, &len) != NN_OK) return;
  if (type != NN_TYPE_COMPOSITE || len < 2) return;
  const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
  if (!p) return;
  const uint8_t* data = p + 2;
  uint32_t size = len - 2;
  uint16_t sig;
  kv::cd::HeaderKind kind;
  uint32_t recLen, headerSize;
  // A damaged table is read as far as it is whole.
  if (kv::cd::ReadCanonicalHeader(data, size, &sig, &kind, &recLen, &headerSize) &&
      sig == kSigFontTable && recLen <= size && recLen >= headerSize + 2) {
    uint16_t count = uint16_t(data[headerSize] | (data[headerSize + 1] << 8));
    uint32_t off = headerSize + 2;
    for (uint16_t i = 0; i < count && off + kFaceRecordSize <= recLen; ++i, off += kFaceRecordSize)
      SetFace(faces, data[off], data[off + 1], reinterpret_cast<const char*>(data + off + 2),
              kFaceNameSize);
  }
  NnBlockUnlock(value);
}

TorvoRTItem::TorvoRTItem(LSXLsiSession* s) : session(s) {
  sessionDelete = [](SessionListed* self) { delete static_cast<TorvoRTItem*>(self); };
  if (!session) return;
  void* mem = POOL_ALLOC(session, sizeof(RTItemContext), true);
  if (mem) {
    context = new (mem) RTItemContext();
    context->item = this;
    context->scratch1 = static_cast<uint8_t*>(POOL_ALLOC(session, kWorkBlockSize, true));
    context->scratch2 = static_cast<uint8_t*>(POOL_ALLOC(session, kWorkBlockSize, true));
    context->currentFont = 0x0A000001u;  // face 1, plain, colour 0, 10 points
    ResetFaces(context);
  }
  session->AddToRTITEMList(this);
}

TorvoRTItem::~TorvoRTItem() {
  if (session) {
    ReleaseRecords();
    if (context) {
      FreeStyleMappings(session, context->styleMappings);
      FreeStyleMappings(session, context->internalStyleMappings);
      if (context->scratch1) PoolFree(session, context->scratch1);
      if (context->scratch2) PoolFree(session, context->scratch2);
      context->~RTItemContext();
      PoolFree(session, context);
      context = nullptr;
    }
    FreePoolText(session, defaultFontSpec);
    FreePoolText(session, linkStyle);
    FreePoolText(session, linkStyle2);
    FreePoolText(session, highlightStyle);
    FreePoolText(session, wikiLinkStyle);
    FreePoolText(session, styleText);
  }
  if (hRenderNote && hRenderNote != hNote) NnNoteClose(hRenderNote);
  if (ownsNote && hNote) NnNoteClose(hNote);
  if (ownsDb && hDb) NnDbClose(hDb);
  if (session) session->RemoveFromRTITEMList(this);
}

NnStatus TorvoRTItem::Connect(const char* server, const char* path, NOTEID noteId,
                              const char* name, uint16_t) {
  if (!session || !context || !path || !name || !*name) return lastStatus = NN_ERR_INVALID_ARG;
  NnHandle db = 0, note = 0;
  NnStatus st = kv::OpenDatabaseByName(session, server ? server : "", path, &db);
  if (st != NN_OK) return lastStatus = st;
  st = NnNoteOpen(db, noteId, 0, &note);
  if (st != NN_OK) {
    NnDbClose(db);
    return lastStatus = st;
  }
  st = ConnectBackend(db, note, name);
  // Structured rich text binds all the same (ConnectBackend says why).
  if (st != NN_OK && st != NN_ERR_STRUCTURED_RICHTEXT) {
    NnNoteClose(note);
    NnDbClose(db);
    return st;
  }
  ownsDb = ownsNote = 1;
  std::strncpy(dbPath, path, sizeof dbPath - 1);
  return st;
}

NnStatus TorvoRTItem::ConnectBackend(NnHandle db, NnHandle note, const char* name) {
  if (!session || !context || !note || !name || !*name || std::strlen(name) >= sizeof itemName)
    return lastStatus = NN_ERR_INVALID_ARG;
  ReleaseRecords();
  if (ownsNote && hNote && hNote != note) NnNoteClose(hNote);
  if (ownsDb && hDb && hDb != db) NnDbClose(hDb);
  ownsNote = ownsDb = 0;
  hDb = db;
  hNote = note;
  std::strcpy(itemName, name);
  if (db) NnDbGetPath(db, dbPath, sizeof dbPath);
  uint16_t noteClass = NN_CLASS_DOCUMENT;
  NnNoteGetInfo(note, NN_NOTE_INFO_CLASS, &noteClass);
  context->designNote = noteClass != NN_CLASS_DOCUMENT;
  LoadFontTable(this);
  connected = 1;
  modified = 0;
  // Rich text a DXL file held in its structured form is listed, not read.
  // The item is bound all the same, so that every chunk method on it fails
  // with this status (its records do not load) rather than find nothing.
  uint16_t type = 0;
  if (NnItemInfo(note, name, 0, nullptr, &type, nullptr, nullptr) == NN_OK &&
      type == NN_TYPE_STRUCTURED_RICHTEXT)
    return lastStatus = NN_ERR_STRUCTURED_RICHTEXT;
  return lastStatus = NN_OK;
}

NnStatus TorvoRTItem::LoadRecords() {
  if (!context) return NN_ERR_INVALID_ARG;
  if (context->records) return NN_OK;
  NnStatus st = NN_OK;
  RecordList* list = RecordListLoad(this, 0, &context->loadArea, 0, &st);
  if (!list) return lastStatus = st;
  context->records = list;
  ++context->recordsGeneration;
  return NN_OK;
}

void TorvoRTItem::ReleaseRecords() {
  if (!context) return;
  ++context->recordsGeneration;
  if (context->records) RecordListFreeWithAllocator(session, context->records);
  if (context->newRecords && context->newRecords != context->records)
    RecordListFreeWithAllocator(session, context->newRecords);
  context->records = context->newRecords = context->loadArea = nullptr;
}

void TorvoRTItem::InstallRecords(RecordList* list) {
  if (!context) return;
  ++context->recordsGeneration;
  // Whichever operation built them, records that differ from the ones they
  // replace change the item.
  if (context->records != list && !SameRecords(context->records, list)) modified = 1;
  if (context->records && context->records != list)
    RecordListFreeWithAllocator(session, context->records);
  context->records = list;
  context->loadArea = list;
  context->newRecords = nullptr;
}

NnStatus TorvoRTItem::Commit() {
  if (!context || !hNote) return lastStatus = NN_ERR_INVALID_ARG;
  if (!context->records) return lastStatus = NN_OK;  // nothing loaded: nothing to write
  ++context->recordsGeneration;
  std::vector<std::vector<uint8_t>> segments;
  NnStatus st = RecordListToSegments(context->records, &segments);
  if (st != NN_OK) return lastStatus = st;

  // The new segments go in after the old ones of their name (the note keeps
  // an item's segments together). The old ones (and the old font table) stay
  // until all the new are in, so that a failure leaves the note as it was;
  // their deletion then leaves the item where it stood.
  const std::vector<NnBlockId> old = ItemBlocks(hNote, itemName);
  const size_t oldSegments = old.size();
  const size_t oldFonts = ItemBlocks(hNote, "$Fonts").size();
  auto takeBack = [&](NnStatus failure, const char* what) {
    DeleteSegments(hNote, itemName, oldSegments, SIZE_MAX);
    DeleteSegments(hNote, "$Fonts", oldFonts, SIZE_MAX);
    NnLogMessage(failure, "ZELKO: Unable to write %s %s", what, itemName);
    return lastStatus = failure;
  };
  // The item keeps its flags (signed, summary ...): records composed anew
  // carry none of their own.
  // It keeps its stored name too: names are matched without regard to case,
  // and the caller's spelling ("$Body" for a stored "$BODY") must not rename
  // it. An item the write creates takes the bound name.
  uint16_t flags = context->records->itemFlags;
  std::string name = itemName;
  for (uint32_t i = 0, n = NnNoteItemCount(hNote); !old.empty() && i < n; ++i) {
    NnItemDesc d;
    if (NnNoteItemAt(hNote, i, &d) == NN_OK && d.item == old.front()) {
      flags = d.flags;
      name = d.name;
    }
  }
  for (const auto& seg : segments) {
    st = NnItemAppend(hNote, flags, name.c_str(), uint16_t(name.size()), NN_TYPE_COMPOSITE,
                      seg.data(), uint32_t(seg.size()));
    if (st != NN_OK) return takeBack(st, "rich text item");
  }
  if (context->fontsChanged) {
    st = StoreFontTable(this);
    if (st != NN_OK) return takeBack(st, "the font table of");
    DeleteSegments(hNote, "$Fonts", 0, oldFonts);
    context->fontsChanged = 0;
  }
  DeleteSegments(hNote, itemName, 0, oldSegments);
  // `modified` stays: the note now holds a changed item, still to be stored.
  return lastStatus = NN_OK;
}

int TorvoRTItem::FindFaceByID(uint8_t faceId, char* name) const {
  const char* face = name ? FaceNameOf(faceId) : nullptr;
  if (!face) return 0;
  std::strcpy(name, face);
  return 1;
}

const char* TorvoRTItem::FaceNameOf(uint8_t faceId) const {
  if (!context) return nullptr;
  const FontFace& f = context->faces[faceId];
  return f.inUse ? f.name : nullptr;
}

int TorvoRTItem::FindFaceByName(const char* name, bool add) {
  if (!context || !name || !*name) return -1;
  for (const auto& f : context->faces)
    if (f.inUse && strcasecmp(f.name, name) == 0) return f.id;
  if (!add) return -1;
  for (uint32_t id = kBuiltinFaces; id < kFontTableSize; ++id) {
    if (context->faces[id].inUse) continue;
    SetFace(context->faces, uint8_t(id), 0x22, name, std::strlen(name));
    ++context->faceCount;
    context->fontsChanged = 1;
    return int(id);
  }
  return -1;
}
