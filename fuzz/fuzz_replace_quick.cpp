// Fuzz target: ReplaceTextQuick with arbitrary find and replacement texts,
// lengths and scopes on an item from the input. Texts sit in buffers of
// their exact size (plus the terminating NUL), so reading past a text shows,
// whatever length is given; a failure leaves the item as it was, a change
// keeps it sound, reloadable and renderable.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzzsupport.h"

namespace {

const char* const kScopes[] = {"", "EVERYTHING", "TEXT", "FORMULAS", "HIDEWHEN", "URLS",
                               "TEXT,URLS", "NONTEXT"};
const char* const kDefinitions[] = {"", "Table 1", "Text 1", "Paragraph 2", "Hotspot 1",
                                    "Section 1", "Row 1"};

std::unique_ptr<char[]> ExactCopy(const std::string& s) {
  std::unique_ptr<char[]> b(new char[s.size() + 1]);
  std::memcpy(b.get(), s.data(), s.size());
  b[s.size()] = '\0';
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvfuzz::Reader in(data, size);
  kvfuzz::BoundItem target(in);
  if (!target.bound) return 0;
  TorvoRTItem& item = target.item;
  for (int step = 0; step < 4 && !in.empty(); ++step) {
    TorvoRTChunk* chunk =
        item.DefineChunk(kDefinitions[in.U8() % (sizeof kDefinitions / sizeof kDefinitions[0])]);
    if (!chunk) continue;
    std::string find = in.Text();
    std::string replace = in.Text();
    uint8_t flags = in.U8();
    // Any lengths, past the texts too (0 means "the text's own length"): the
    // method keeps to the text, whatever length it is given.
    uint16_t findLength = in.U8();
    uint16_t replaceLength = in.U8();
    if (flags & 1) findLength = uint16_t(find.size());
    if (flags & 2) replaceLength = uint16_t(replace.size());
    std::string scope = (flags & 4) ? in.Text() : kScopes[(flags >> 3) % 8];
    auto findBuffer = ExactCopy(find);
    auto replaceBuffer = ExactCopy(replace);
    auto scopeBuffer = ExactCopy(scope.c_str());
    std::vector<uint8_t> before = target.Stored();
    NnStatus st = chunk->ReplaceTextQuick(findBuffer.get(), findLength, replaceBuffer.get(),
                                          replaceLength, scopeBuffer.get());
    target.CheckWrite(before, st != NN_OK);
    delete chunk;
  }
  return 0;
}
