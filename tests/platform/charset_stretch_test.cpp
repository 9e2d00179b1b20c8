// Text converted to UTF-8 in one call is what the general translation gives
// for the whole text: the ASCII stretches and the stretches between them join
// without a seam, whatever bytes a multi-byte character carries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nn/nn.h"

namespace {

std::string Translated(const std::string& text) {
  NnCharsetInfo* table = nullptr;
  EXPECT_EQ(NnCharsetTableLoad(NN_CHARSET_LMBCS, NN_CHARSET_UTF8, &table), NN_OK);
  std::string out(text.size() * 4 + 16, '\0');
  uint32_t n = 0;
  EXPECT_EQ(NnCharsetTranslate(table, 0, text.data(), uint32_t(text.size()), out.data(),
                               uint32_t(out.size()), &n),
            NN_OK);
  NnCharsetTableFree(table);
  out.resize(n);
  return out;
}

TEST(LmbcsToUtf8, AgreesWithTheWholeTextTranslation) {
  // Single bytes of both halves, controls, group characters whose trailing
  // bytes look like ASCII, a surrogate pair, and leads cut short.
  const std::vector<std::string> pieces = {
      "a", " ", "~", "\x7f", "\x82", "\xe9", "\x99", "\t", "\r\n", std::string(1, '\0'),
      "\x01\x41", "\x02\x61", "\x06\x20", "\x10\x41\x42", "\x14\x20\xac", "\x14\x00\x41",
      "\x14\xd8\x3d\x14\xde\x00", "\x0b", "\x1f", "\x10", "<p>plain text</p>", "&amp;"};
  for (size_t round = 0; round < 5; ++round) {
    std::string text;
    for (size_t i = 0; i < 60; ++i) text += pieces[(i * (round + 3) + round) % pieces.size()];
    EXPECT_EQ(NnLmbcsToUtf8(text.data(), text.size()), Translated(text)) << round;
  }
  for (const auto& piece : pieces) {
    const std::string text = "ab" + piece + "cdef" + piece;
    EXPECT_EQ(NnLmbcsToUtf8(text.data(), text.size()), Translated(text));
  }
  EXPECT_EQ(NnLmbcsToUtf8("only ascii", 10), "only ascii");
  EXPECT_EQ(NnLmbcsToUtf8("", 0), "");
}

}  // namespace
