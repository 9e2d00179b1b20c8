// Fuzz target: arbitrary bytes as a stored rich-text item, loaded into the
// record list and written back. A load either refuses the bytes or gives
// records that write back without error.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/recordlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 63358) return 0;
  static NnHandle db = 0, note = 0;
  if (!db) {
    NnDbOpen("mem-fuzz.nsf", NN_DB_CREATE, &db);
    NnNoteCreate(db, NN_CLASS_DOCUMENT, &note);
  }
  while (NnItemDelete(note, "Body", 4) == NN_OK) {
  }
  NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, data, uint32_t(size));
  LSXLsiSession session;
  NnStatus st = NN_OK;
  RecordList* list = RecordListLoadFromNote(&session, note, "Body", &st);
  if (list) {
    std::vector<std::vector<uint8_t>> segments;
    if (RecordListToSegments(list, &segments) != NN_OK) __builtin_trap();
    RecordListFreeWithAllocator(&session, list);
  }
  return 0;
}
