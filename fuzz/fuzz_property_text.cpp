// Fuzz target: property texts. An item from the input, then pairs of calls on
// chunks of it: GetPropertyText with arbitrary names into buffers of
// arbitrary size (always terminated inside the buffer), and SetPropertyText
// with arbitrary names, values and lengths (a refusal leaves the item as it
// was; a change keeps it sound, reloadable and renderable).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzzsupport.h"
#include "richtext/engine/properties.h"

namespace {

const char* const kDefinitions[] = {"",          "Table 1", "Text 1",    "Paragraph 1", "Hotspot 1",
                                    "Section 1", "Graphic 1", "Row 1",   "Cell 1",      "Field 1",
                                    "Layer 1",   "Link 1",  "Table 1; Row 1; Column 1"};
constexpr size_t kDefinitionCount = sizeof kDefinitions / sizeof kDefinitions[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvfuzz::Reader in(data, size);
  kvfuzz::BoundItem target(in);
  if (!target.bound) return 0;
  TorvoRTItem& item = target.item;
  for (int step = 0; step < 8 && !in.empty(); ++step) {
    TorvoRTChunk* chunk = item.DefineChunk(kDefinitions[in.U8() % kDefinitionCount]);
    if (!chunk) continue;
    uint8_t pick = in.U8();
    std::string name;
    if (pick < kChunkPropertyRows && ChunkPropertyTable[pick].name) {
      name = ChunkPropertyTable[pick].name;
    } else {
      name = in.Text();
      name = name.c_str();
    }
    uint8_t mode = in.U8();
    std::vector<uint8_t> before = target.Stored();
    if (mode & 1) {
      // The value in a buffer of its exact size: a length past it would be
      // the caller's fault, so lengths stay inside.
      std::string value = in.Text();
      uint16_t length = uint16_t(in.U8());
      if (length > value.size()) length = uint16_t(value.size());
      std::vector<char> buffer(value.begin(), value.end());
      buffer.push_back('\0');
      int ok = (mode & 2) ? chunk->SetPropertyText(name.c_str(), buffer.data(), length)
                          : chunk->SetPropertyText((name + "=" + buffer.data()).c_str(), nullptr, 0);
      target.CheckWrite(before, ok == 0);
    } else {
      uint16_t capacity = uint16_t(in.U8() % 64 == 0 ? 4096 : in.U8() + 1);
      std::vector<char> buffer(capacity, '\x55');
      uint16_t got = chunk->GetPropertyText(name.c_str(), buffer.data(), capacity);
      size_t len = strnlen(buffer.data(), capacity);
      if (len == capacity) kvfuzz::Finding("property text unterminated");
      if (got > capacity) kvfuzz::Finding("property length past the buffer");
      if (target.Stored() != before) kvfuzz::Finding("reading a property changed the item");
    }
    delete chunk;
  }
  return 0;
}
