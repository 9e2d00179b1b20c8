// Character sets. The platform's own text is LMBCS with group 1 (code page
// 850) as its single-byte set. ICU's "LMBCS-1" converter reads it; we write it
// ourselves (see encodeLmbcs) so that what we produce is predictable.
//
// LMBCS structure, as measured against ICU's converter byte by byte:
//   0x00                  NUL, one byte (the platform's line separator)
//   0x01-0x06, 0x08, 0x0B, 0x0F
//                         group bytes of two-byte characters: the group byte
//                         and one more byte, whatever that byte is
//   0x10-0x13             double-byte groups (Japanese, Korean, two Chinese):
//                         the group byte and two more bytes
//   0x14                  the Unicode group: 0x14 then the UTF-16 code unit,
//                         high byte first (0x14 0x20 0xAC is U+20AC); a
//                         supplementary character is two such units; a zero
//                         low byte is written as 0xF6 then the high byte
//                         (0x14 0xF6 0x20 is U+2000)
//   other 0x07-0x1F       one byte (0x09, 0x0A, 0x0D, 0x19 are the controls
//                         themselves; the rest are not valid alone)
//   0x0F                  also the control group: 0x0F then the control plus
//                         0x20 (C0) or the control itself (C1, 0x80-0x9F)
//   0x20-0x7F             ASCII, one byte
//   0x80-0xFF             group-1 characters, one byte
// A character cut short by the end of the text takes the bytes that remain.

#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "nn/nn.h"

struct NnCharsetInfo {
  uint16_t from;
  uint16_t to;
};

namespace {

// Bytes in an LMBCS character that starts with this byte.
uint32_t lmbcsLeadSize(uint8_t b) {
  if (b >= 0x20 || b == 0) return 1;
  if (b >= 0x10 && b <= 0x14) return 3;
  switch (b) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06:
    case 0x08: case 0x0B: case 0x0F:
      return 2;
    default:
      return 1;
  }
}

// Size of the character at p, never past `avail` bytes (avail > 0).
uint32_t lmbcsCharSize(const uint8_t* p, uint32_t avail) {
  uint32_t n = lmbcsLeadSize(p[0]);
  return n < avail ? n : avail;
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

// One converter per thread: a converter carries state and is not shareable.
UConverter* lmbcsConverter() {
  thread_local std::unique_ptr<UConverter, ConverterCloser> conv;
  if (!conv) {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open("LMBCS-1", &err);
    if (U_FAILURE(err)) return nullptr;
    conv.reset(c);
  }
  ucnv_reset(conv.get());
  return conv.get();
}

// Unicode to group-1 byte (0 when the character is not in group 1). Built from
// ICU's own reading of the bytes 0x80-0xFF so the two directions agree.
const std::array<uint8_t, 0x10000>& groupOneTable() {
  static const std::array<uint8_t, 0x10000>* table = [] {
    auto* t = new std::array<uint8_t, 0x10000>();
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open("LMBCS-1", &err);
    if (U_SUCCESS(err)) {
      for (int b = 0x80; b <= 0xFF; ++b) {
        char in = char(b);
        UChar u[4];
        UErrorCode e = U_ZERO_ERROR;
        ucnv_reset(c);
        int32_t n = ucnv_toUChars(c, u, 4, &in, 1, &e);
        if (U_SUCCESS(e) && n == 1 && u[0] != 0xFFFD && u[0] >= 0x80 && (*t)[u[0]] == 0)
          (*t)[u[0]] = uint8_t(b);
      }
      ucnv_close(c);
    }
    return t;
  }();
  return *table;
}

// ---- Decoding into UTF-16 -----------------------------------------------------

bool decodeLmbcs(const char* in, uint32_t len, std::u16string* out) {
  out->clear();
  if (len == 0) return true;
  UConverter* conv = lmbcsConverter();
  if (conv == nullptr) return false;
  // An LMBCS character nearly always yields one UTF-16 unit; grow if not.
  out->resize(size_t(len) + 16);
  UChar* start = reinterpret_cast<UChar*>(out->data());
  UChar* target = start;
  const char* source = in;
  for (;;) {
    UErrorCode err = U_ZERO_ERROR;
    ucnv_toUnicode(conv, &target, start + out->size(), &source, in + len, nullptr, true, &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
      size_t done = size_t(target - start);
      out->resize(out->size() * 2);
      start = reinterpret_cast<UChar*>(out->data());
      target = start + done;
      continue;
    }
    if (U_FAILURE(err)) return false;
    break;
  }
  out->resize(size_t(target - start));
  return true;
}

bool decodeUtf8(const char* in, uint32_t len, std::u16string* out) {
  out->clear();
  if (len == 0) return true;
  if (len > 0x7FFFFFFF) return false;
  out->resize(size_t(len));  // UTF-8 never needs more units than bytes
  int32_t written = 0;
  UErrorCode err = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out->data()), int32_t(out->size()), &written,
                       in, int32_t(len), 0xFFFD, nullptr, &err);
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) return false;
  out->resize(size_t(written));
  return true;
}

void decodeUtf16Le(const char* in, uint32_t len, std::u16string* out) {
  out->clear();
  out->reserve(len / 2 + 1);
  const auto* p = reinterpret_cast<const uint8_t*>(in);
  for (uint32_t i = 0; i + 1 < len; i += 2) out->push_back(char16_t(p[i] | (p[i + 1] << 8)));
  if (len % 2) out->push_back(u'\xFFFD');  // a stray last byte
}

void decodeLatin1(const char* in, uint32_t len, std::u16string* out) {
  out->assign(size_t(len), u'\0');
  for (uint32_t i = 0; i < len; ++i) (*out)[i] = char16_t(static_cast<uint8_t>(in[i]));
}

bool decode(uint16_t set, const char* in, uint32_t len, std::u16string* out) {
  switch (set) {
    case NN_CHARSET_LMBCS: return decodeLmbcs(in, len, out);
    case NN_CHARSET_UTF8: return decodeUtf8(in, len, out);
    case NN_CHARSET_UNICODE: decodeUtf16Le(in, len, out); return true;
    case NN_CHARSET_LATIN1: decodeLatin1(in, len, out); return true;
    default: return false;
  }
}

// ---- Encoding from UTF-16 -------------------------------------------------------
// Each encoder appends whole characters and records where each one ends, so
// a cut output never splits a character.

// One UTF-16 unit in ICU's own LMBCS spelling; U+FFFD when ICU has none.
void encodeLmbcsByIcu(char16_t u, std::string* out) {
  UConverter* conv = lmbcsConverter();
  char bytes[8];
  UErrorCode err = U_ZERO_ERROR;
  const UChar unit = u;
  int32_t n = conv ? ucnv_fromUChars(conv, bytes, sizeof bytes, &unit, 1, &err) : 0;
  if (conv == nullptr || U_FAILURE(err) || n <= 0 || std::memchr(bytes, 0, size_t(n)) != nullptr) {
    out->append("\x14\xFF\xFD", 3);
    return;
  }
  out->append(bytes, size_t(n));
}

// Characters outside group 1 go to the Unicode group rather than to the
// double-byte groups ICU would choose: every character then has one spelling,
// and text read from UTF-8 comes back byte for byte.
void encodeLmbcs(const std::u16string& in, std::string* out) {
  const auto& g1 = groupOneTable();
  out->reserve(in.size() * 3);
  for (char16_t u : in) {
    if (u == 0 || u == 0x09 || u == 0x0A || u == 0x0D || u == 0x19 || (u >= 0x20 && u < 0x80)) {
      out->push_back(char(u));
    } else if (u >= 0x80 && g1[u] != 0) {
      out->push_back(char(g1[u]));
    } else if (u < 0x20) {
      // The control group: a Unicode-group spelling would hold a NUL byte and
      // cut every NUL-terminated text at the control.
      out->push_back('\x0F');
      out->push_back(char(u + 0x20));
    } else if (u >= 0x80 && u < 0xA0) {
      out->push_back('\x0F');
      out->push_back(char(u));
    } else if ((u >> 8) == 0xF6) {
      // 0x14 0xF6 stands for a zero low byte (below): U+F601-F6FF take the
      // spelling ICU gives them.
      encodeLmbcsByIcu(u, out);
    } else {
      // A zero low byte would cut NUL-terminated texts: 0xF6 and the high byte.
      out->push_back('\x14');
      out->push_back((u & 0xFF) == 0 ? '\xF6' : char(u >> 8));
      out->push_back((u & 0xFF) == 0 ? char(u >> 8) : char(u & 0xFF));
    }
  }
}

void encodeUtf8(const std::u16string& in, std::string* out) {
  for (size_t i = 0; i < in.size();) {
    UChar32 c;
    U16_NEXT(in.data(), i, in.size(), c);
    if (U_IS_SURROGATE(c)) c = 0xFFFD;  // a lone half has no UTF-8 form
    if (c < 0x80) {
      out->push_back(char(c));
    } else if (c < 0x800) {
      out->push_back(char(0xC0 | (c >> 6)));
      out->push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out->push_back(char(0xE0 | (c >> 12)));
      out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(char(0x80 | (c & 0x3F)));
    } else {
      out->push_back(char(0xF0 | (c >> 18)));
      out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(char(0x80 | (c & 0x3F)));
    }
  }
}

void encodeUtf16Le(const std::u16string& in, std::string* out) {
  out->reserve(in.size() * 2);
  for (char16_t u : in) {
    out->push_back(char(u & 0xFF));
    out->push_back(char(u >> 8));
  }
}

void encodeLatin1(const std::u16string& in, std::string* out) {
  for (size_t i = 0; i < in.size();) {
    UChar32 c;
    U16_NEXT(in.data(), i, in.size(), c);
    out->push_back(c < 0x100 ? char(c) : '?');
  }
}

void encode(uint16_t set, const std::u16string& in, std::string* out) {
  out->clear();
  switch (set) {
    case NN_CHARSET_LMBCS: encodeLmbcs(in, out); break;
    case NN_CHARSET_UTF8: encodeUtf8(in, out); break;
    case NN_CHARSET_UNICODE: encodeUtf16Le(in, out); break;
    default: encodeLatin1(in, out); break;
  }
}

// The longest prefix of at most `limit` bytes that ends on a character boundary.
size_t boundaryWithin(uint16_t set, const std::string& s, size_t limit) {
  if (limit >= s.size()) return s.size();
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  switch (set) {
    case NN_CHARSET_LMBCS: {
      size_t pos = 0;
      while (pos < limit) {
        uint32_t n = lmbcsCharSize(p + pos, uint32_t(s.size() - pos));
        if (pos + n > limit) break;
        pos += n;
      }
      return pos;
    }
    case NN_CHARSET_UTF8: {
      size_t pos = limit;
      while (pos > 0 && (p[pos] & 0xC0) == 0x80) --pos;
      return pos;
    }
    case NN_CHARSET_UNICODE: {
      size_t pos = limit & ~size_t(1);
      // Keep a surrogate pair together.
      if (pos >= 2) {
        uint16_t last = uint16_t(p[pos - 2] | (p[pos - 1] << 8));
        if (last >= 0xD800 && last <= 0xDBFF) pos -= 2;
      }
      return pos;
    }
    default:
      return limit;
  }
}

bool knownSet(uint16_t set) { return set <= NN_CHARSET_LATIN1; }

struct TableRegistry {
  std::mutex mu;
  std::set<const NnCharsetInfo*> live;
};

TableRegistry& registry() {
  static TableRegistry* r = new TableRegistry;
  return *r;
}

bool isLive(const NnCharsetInfo* t) {
  TableRegistry& r = registry();
  std::lock_guard<std::mutex> lock(r.mu);
  return r.live.count(t) != 0;
}

}  // namespace

NnStatus NnCharsetTableLoad(uint16_t from, uint16_t to, NnCharsetInfo** out) {
  if (out == nullptr) return NN_ERR_INVALID_ARG;
  *out = nullptr;
  if (!knownSet(from) || !knownSet(to)) return NN_ERR_CHARSET;
  if ((from == NN_CHARSET_LMBCS || to == NN_CHARSET_LMBCS) && lmbcsConverter() == nullptr)
    return NN_ERR_CHARSET;
  auto* t = new (std::nothrow) NnCharsetInfo{from, to};
  if (t == nullptr) return NN_ERR_MEMORY;
  TableRegistry& r = registry();
  std::lock_guard<std::mutex> lock(r.mu);
  r.live.insert(t);
  *out = t;
  return NN_OK;
}

NnStatus NnCharsetTableFree(NnCharsetInfo* table) {
  TableRegistry& r = registry();
  std::lock_guard<std::mutex> lock(r.mu);
  if (table == nullptr || r.live.erase(table) == 0) return NN_ERR_BAD_HANDLE;
  delete table;
  return NN_OK;
}

NnStatus NnCharsetTranslate(NnCharsetInfo* table, uint16_t /*mode*/, const char* in,
                            uint32_t inLen, char* out, uint32_t outSize, uint32_t* outLen) {
  if (outLen != nullptr) *outLen = 0;
  if (table == nullptr || !isLive(table)) return NN_ERR_BAD_HANDLE;
  if ((in == nullptr && inLen != 0) || (out == nullptr && outSize != 0) || outLen == nullptr)
    return NN_ERR_INVALID_ARG;
  const uint16_t from = table->from, to = table->to;
  std::string result;
  if (from == to) {
    result.assign(in, inLen);
  } else {
    std::u16string units;
    if (!decode(from, in, inLen, &units)) return NN_ERR_CHARSET;
    encode(to, units, &result);
  }
  size_t fit = from == to ? (result.size() < outSize ? result.size() : outSize)
                          : boundaryWithin(to, result, outSize);
  if (fit > 0) std::memcpy(out, result.data(), fit);
  *outLen = uint32_t(fit);
  return fit < result.size() ? NN_ERR_MEMORY : NN_OK;
}

NnStatus NnCharsetByteSize(const char* text, uint32_t chars, uint32_t maxBytes, uint32_t* bytes,
                           const NnCharsetInfo* /*info*/) {
  if (bytes == nullptr) return NN_ERR_INVALID_ARG;
  *bytes = 0;
  if (text == nullptr) return maxBytes == 0 || chars == 0 ? NN_OK : NN_ERR_INVALID_ARG;
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  uint32_t pos = 0;
  for (uint32_t i = 0; i < chars && pos < maxBytes; ++i) {
    if (p[pos] == 0) {
      ++pos;  // the NUL ends the text and counts
      break;
    }
    pos += lmbcsCharSize(p + pos, maxBytes - pos);
  }
  *bytes = pos;
  return NN_OK;
}

NnStatus NnCharsetCharCount(const char* text, uint32_t bytes, uint32_t* chars,
                            const NnCharsetInfo* /*info*/) {
  if (chars == nullptr) return NN_ERR_INVALID_ARG;
  *chars = 0;
  if (text == nullptr) return bytes == 0 ? NN_OK : NN_ERR_INVALID_ARG;
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  uint32_t count = 0;
  for (uint32_t pos = 0; pos < bytes; ++count) pos += lmbcsCharSize(p + pos, bytes - pos);
  *chars = count;
  return NN_OK;
}

std::string NnLmbcsToUtf8(const char* text, size_t len) {
  std::string out;
  if (text == nullptr || len == 0 || len > 0xFFFFFFFFu) return out;
  // ASCII characters are the same bytes in both; only the stretches between
  // them go through the converter, a stretch never ending inside a character.
  auto ascii = [](uint8_t b) { return b >= 0x20 && b < 0x80; };
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  try {
    out.reserve(len);
    std::u16string units;
    size_t i = 0;
    constexpr uint64_t kHigh = 0x8080808080808080ull, kSpace = 0x2020202020202020ull;
    while (i < len) {
      size_t j = i;
      // Eight bytes at a time while none is below 0x20 or above 0x7F.
      for (uint64_t w; j + 8 <= len; j += 8) {
        std::memcpy(&w, p + j, 8);
        if ((w | ((w - kSpace) & ~w)) & kHigh) break;
      }
      while (j < len && ascii(p[j])) ++j;
      out.append(text + i, j - i);
      if (j == len) break;
      // The stretch ends before an ASCII byte that no multi-byte character
      // (at most three bytes, led by a control byte) can still take.
      size_t k = j;
      for (;;) {
        while (k < len && !ascii(p[k])) ++k;
        if (k >= len) break;
        bool reachable = false;
        for (size_t b = k >= j + 2 ? k - 2 : j; b < k; ++b)
          reachable |= p[b] < 0x20 && p[b] != '\t' && p[b] != '\n' && p[b] != '\r';
        if (!reachable) break;
        ++k;
      }
      if (!decodeLmbcs(text + j, uint32_t(k - j), &units)) return std::string();
      encodeUtf8(units, &out);
      i = k;
    }
  } catch (...) {
    out.clear();
  }
  return out;
}

std::string NnUtf8ToLmbcs(const char* text, size_t len) {
  std::string out;
  if (text == nullptr || len == 0 || len > 0x7FFFFFFFu) return out;
  try {
    std::u16string units;
    if (!decodeUtf8(text, uint32_t(len), &units)) return out;
    encodeLmbcs(units, &out);
  } catch (...) {
    out.clear();
  }
  return out;
}
