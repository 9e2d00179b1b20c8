// Status texts. A status number's low 14 bits select its text; the high bits
// carry flags (for example "already reported") that do not change the meaning.

#include <cstdio>
#include <cstring>

#include "nn/nn.h"

namespace {

struct StatusText {
  uint16_t code;  // already masked to 14 bits
  const char* text;
};

constexpr uint16_t kStatusMask = 0x3FFF;

// Sorted by code so the lookup can stop early; kept small and plain on purpose.
constexpr StatusText kTexts[] = {
    {257, "An unexpected error occurred (catastrophic failure)"},
    {263, "Insufficient memory"},
    {546, "Item not found"},
    {549, "Note not found"},
    {550, "Invalid handle"},
    {551, "No more entries"},
    {552, "File does not exist"},
    {553, "File cannot be read or written"},
    {554, "DXL document could not be parsed"},
    {555, "Item value is malformed"},
    {556, "Structured rich text is not read (export with raw item data)"},
    {1026, "No usable sort key"},
    {1027, "Invalid rich text record structure"},
    {1028, "Invalid argument"},
    {1029, "Text cut to fit the buffer"},
    {1298, "Read-only operation completed"},
    {1540, "Formula syntax error"},
    {1541, "Formula evaluation error"},
    {1542, "Formula function is not evaluated here"},
    {1600, "Character set translation failed"},
    {1601, "Object not found"},
    {20014 & kStatusMask, "Formula could not be compiled"},
    {20016 & kStatusMask, "Invalid column or cell position"},
    {20017 & kStatusMask, "Invalid argument passed to rich text method"},
    {20020 & kStatusMask, "Chunk does not address a table"},
    {NN_ERR_FT_NO_MATCH & kStatusMask, "No documents found matching the search"},
    {14409, "HTML import failed"},
};

}  // namespace

uint16_t NnLoadStatusText(NnStatus status, char* buf, uint16_t bufSize) {
  if (buf == nullptr || bufSize == 0) return 0;
  const uint16_t code = status & kStatusMask;
  const char* text = nullptr;
  for (const StatusText& entry : kTexts) {
    if (entry.code == code) {
      text = entry.text;
      break;
    }
  }
  char unknown[40];
  if (code == 0) {
    text = "No error";
  } else if (text == nullptr) {
    std::snprintf(unknown, sizeof unknown, "Unknown status %u", unsigned(code));
    text = unknown;
  }
  size_t len = std::strlen(text);
  if (len > size_t(bufSize) - 1) len = size_t(bufSize) - 1;
  std::memcpy(buf, text, len);
  buf[len] = '\0';
  return uint16_t(len);
}
