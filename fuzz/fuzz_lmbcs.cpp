// Fuzz target: text conversion both ways. Valid UTF-8 goes to LMBCS and back
// unchanged, C0 and C1 controls included, and its LMBCS holds a NUL byte only
// where the text does (texts are passed NUL-terminated). Arbitrary bytes read
// as LMBCS give valid UTF-8 that converts back to the same UTF-8, and the
// platform's size and count helpers stay inside the text they are given.
#include <unicode/ustring.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzzsupport.h"

namespace {

bool ValidUtf8(const std::string& s) {
  UErrorCode err = U_ZERO_ERROR;
  int32_t units = 0;
  u_strFromUTF8(nullptr, 0, &units, s.data(), int32_t(s.size()), &err);
  return err == U_BUFFER_OVERFLOW_ERROR || err == U_STRING_NOT_TERMINATED_WARNING || U_SUCCESS(err);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);

  // UTF-8 -> LMBCS -> UTF-8.
  if (ValidUtf8(text)) {
    std::string lmbcs = NnUtf8ToLmbcs(text.data(), text.size());
    std::string back = NnLmbcsToUtf8(lmbcs.data(), lmbcs.size());
    if (back != text) kvfuzz::Finding("UTF-8 does not come back from LMBCS");
    if (std::count(lmbcs.begin(), lmbcs.end(), '\0') != std::count(text.begin(), text.end(), '\0'))
      kvfuzz::Finding("LMBCS spelling holds a zero byte of its own");
  }

  // LMBCS -> UTF-8 -> LMBCS -> UTF-8: the second reading equals the first.
  std::vector<char> exact(text.begin(), text.end());  // no slack for over-reads
  std::string utf8 = NnLmbcsToUtf8(exact.data(), exact.size());
  if (!ValidUtf8(utf8)) kvfuzz::Finding("LMBCS reads as invalid UTF-8");
  std::string relmbcs = NnUtf8ToLmbcs(utf8.data(), utf8.size());
  std::string again = NnLmbcsToUtf8(relmbcs.data(), relmbcs.size());
  if (again != utf8) kvfuzz::Finding("LMBCS reading is not stable");

  // Sizes and counts inside the given bytes.
  if (!exact.empty()) {
    uint32_t chars = 0, bytes = 0;
    NnCharsetCharCount(exact.data(), uint32_t(exact.size()), &chars, nullptr);
    if (chars > exact.size()) kvfuzz::Finding("more characters than bytes");
    uint32_t want = data[0];
    NnCharsetByteSize(exact.data(), want, uint32_t(exact.size()), &bytes, nullptr);
    if (bytes > exact.size()) kvfuzz::Finding("byte size past the text");
    NnCharsetInfo* table = nullptr;
    if (NnCharsetTableLoad(NN_CHARSET_LMBCS, NN_CHARSET_UTF8, &table) == NN_OK) {
      std::vector<char> out(size_t(data[0]) + 1);
      uint32_t outLen = 0;
      NnCharsetTranslate(table, 0, exact.data(), uint32_t(exact.size()), out.data(),
                         uint32_t(out.size()), &outLen);
      if (outLen > out.size()) kvfuzz::Finding("translation past its buffer");
      NnCharsetTableFree(table);
    }
  }
  return 0;
}
