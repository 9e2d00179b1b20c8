// Fuzz target: arbitrary bytes as HTML imported into rich-text records; the
// records it composes must write back to stored segments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "import/import.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/compose.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 200000) return 0;
  LSXLsiSession session;
  TorvoRTItem item(&session);
  ComposeContext ctx;
  ComposeInit(&ctx, &session, &item);
  // A length of 0 means a NUL-terminated text: keep one terminated copy.
  std::string text(reinterpret_cast<const char*>(data), size);
  if (ImportHTMLFromBuffer(text.c_str(), uint32_t(size), "", &ctx, nullptr, 0) == NN_OK) {
    RecordList* list = ComposeTakeList(&ctx);
    std::vector<std::vector<uint8_t>> segments;
    if (list && RecordListToSegments(list, &segments) != NN_OK) __builtin_trap();
    RecordListFreeWithAllocator(&session, list);
  }
  ComposeReleaseHandles(&ctx, 0);
  return 0;
}
