// Fuzz target: arbitrary bytes as a stored rich-text item, walked by chunk
// operations: counting and reading targets of several types, then a text
// change. A write either fails and leaves the item as it was, or gives
// records that load again.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

std::vector<uint8_t> Stored(NnHandle note) {
  std::vector<uint8_t> all;
  NnBlockId item, value;
  uint16_t type;
  uint32_t len;
  for (NnStatus st = NnItemInfo(note, "Body", 4, &item, &type, &value, &len); st == NN_OK;
       st = NnItemInfoNext(note, item, "Body", 4, &item, &type, &value, &len)) {
    const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
    if (p) all.insert(all.end(), p, p + len);
    NnBlockUnlock(value);
  }
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 63358) return 0;
  static NnHandle db = 0;
  if (!db) NnDbOpen("mem-fuzz-chunk.nsf", NN_DB_CREATE, &db);
  NnHandle note = 0;
  if (NnNoteCreate(db, NN_CLASS_DOCUMENT, &note) != NN_OK) return 0;
  // The first byte picks the operations' target type.
  static const char* const kTypes[] = {"Table", "Text", "Paragraph", "Hotspot", "Section",
                                       "Graphic", "Row", "Field", "Layer", "PassthruHTML"};
  const char* type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
  NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, data + 1, uint32_t(size - 1));
  {
    LSXLsiSession session;
    TorvoRTItem item(&session);
    if (item.ConnectBackend(db, note, "Body") == NN_OK) {
      TorvoRTChunk* all = item.DefineChunk("");
      if (all) {
        all->GetCount(type);
        char text[8192];
        all->GetText("", text, sizeof text, 1, "|");
        delete all;
      }
      char definition[64];
      std::snprintf(definition, sizeof definition, "%s 1", type);
      TorvoRTChunk* chunk = item.DefineChunk(definition);
      if (chunk && chunk->Exists()) {
        std::vector<uint8_t> before = Stored(note);
        NnStatus st = chunk->SetText("", "fuzz", 4, "");
        if (st != NN_OK && Stored(note) != before) __builtin_trap();
        if (st == NN_OK) {
          RecordList* list = RecordListLoadFromNote(&session, note, "Body", nullptr);
          if (!list) __builtin_trap();
          RecordListFreeWithAllocator(&session, list);
        }
      }
      delete chunk;
    }
  }
  NnNoteClose(note);
  return 0;
}
