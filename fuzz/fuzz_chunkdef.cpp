// Fuzz target: arbitrary text as a chunk definition. What parses is written
// back and must parse again to the same text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "lsxsessi.h"
#include "rtchunk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 5000) return 0;
  static LSXLsiSession session;
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.c_str();  // up to the first NUL, as callers pass it
  chunkdef_info* chain = ParseChunkDefinition(&session, nullptr, text.c_str(), nullptr);
  if (!chain) return 0;
  char first[4096];
  TorvoRTChunk::CalculateDefinition(chain, first);
  FreeChunkDefinition(chain);
  chunkdef_info* again = ParseChunkDefinition(&session, nullptr, first, nullptr);
  if (!again) __builtin_trap();
  char second[4096];
  TorvoRTChunk::CalculateDefinition(again, second);
  FreeChunkDefinition(again);
  if (std::strcmp(first, second) != 0) __builtin_trap();
  return 0;
}
