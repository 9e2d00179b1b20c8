// The text encodings of DXL: base64 item data and XML escapes.
#include <bit>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "dxl.h"

namespace nnstore::dxl {

namespace {

constexpr uint8_t kB64Pad = 64, kB64Space = 65, kB64Bad = 66;

struct Base64Table {
  uint8_t v[256];
  constexpr Base64Table() : v() {
    for (int c = 0; c < 256; ++c) v[c] = kB64Bad;
    for (int c = 'A'; c <= 'Z'; ++c) v[c] = uint8_t(c - 'A');
    for (int c = 'a'; c <= 'z'; ++c) v[c] = uint8_t(c - 'a' + 26);
    for (int c = '0'; c <= '9'; ++c) v[c] = uint8_t(c - '0' + 52);
    v[int('+')] = 62;
    v[int('/')] = 63;
    v[int('=')] = kB64Pad;
    v[int(' ')] = v[int('\t')] = v[int('\r')] = v[int('\n')] = kB64Space;
  }
};
constexpr Base64Table kB64;

// Each character's six bits already in their place in a group's 24 bits, one
// table per place; a character that is not a digit sets a bit above them, so
// that one test of the four values together finds it.
struct Base64Places {
  uint32_t v[4][256];
  constexpr Base64Places() : v() {
    for (int place = 0; place < 4; ++place)
      for (int c = 0; c < 256; ++c)
        v[place][c] = kB64.v[c] < 64 ? uint32_t(kB64.v[c]) << (18 - 6 * place) : 1u << 24;
  }
};
constexpr Base64Places kB64Places;
static_assert(std::endian::native == std::endian::little,
              "a group's bytes are stored as a byte-swapped word");

// The three bytes of a whole group's 24 bits; the place after them.
uint8_t* putGroup(uint8_t* o, uint32_t bits) {
  o[0] = uint8_t(bits >> 16);
  o[1] = uint8_t(bits >> 8);
  o[2] = uint8_t(bits);
  return o + 3;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Sixteen characters at a time where the processor has SSSE3 (looked up at
// run time: the build targets every x86-64): while each of them is a base64
// digit, their twelve bytes go to o in one sixteen-byte store, which needs
// four bytes of room after them. Returns how many characters it took, a
// multiple of sixteen; it stops at the first block that holds anything else.
__attribute__((target("ssse3"))) size_t decodeBlocksSsse3(const uint8_t* p, size_t n,
                                                            uint8_t* o) {
  // Character classes by low and by high nibble: a digit's two classes share
  // no bit (see the table of kB64 for which characters are digits).
  const __m128i lowClasses = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                           0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m128i highClasses = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10,
                                            0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  // What a digit's value is off its character, by high nibble ('/' by its own).
  const __m128i offsets = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m128i slash = _mm_set1_epi8(0x2F);  // also the nibble mask: the shuffle ignores bit 5
  const __m128i zero = _mm_setzero_si128();
  const __m128i pairs = _mm_set1_epi32(0x01400140);   // a * 64 + b, c * 64 + d
  const __m128i groups = _mm_set1_epi32(0x00011000);  // ab * 4096 + cd
  const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  size_t i = 0;
  for (; i + 16 <= n; i += 16, o += 12) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i high = _mm_and_si128(_mm_srli_epi32(x, 4), slash);
    const __m128i classes = _mm_and_si128(_mm_shuffle_epi8(lowClasses, _mm_and_si128(x, slash)),
                                          _mm_shuffle_epi8(highClasses, high));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(classes, zero)) != 0xFFFF) break;
    const __m128i offset = _mm_shuffle_epi8(offsets, _mm_add_epi8(_mm_cmpeq_epi8(x, slash), high));
    const __m128i values = _mm_add_epi8(x, offset);
    const __m128i bits = _mm_madd_epi16(_mm_maddubs_epi16(values, pairs), groups);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(bits, order));
  }
  return i;
}

bool hasSsse3() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
  return has;
}
#endif

// Decodes what the one-pass decoder could not, or says why it is no base64.
bool decodeBase64Strict(const char* text, size_t size, std::vector<uint8_t>* out, std::string* why,
                        size_t at) {
  // The values of the characters that count, whitespace left out.
  std::vector<uint8_t> v(size);
  size_t n = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t x = kB64.v[uint8_t(text[i])];
    if (x == kB64Space) continue;
    if (x == kB64Bad) {
      *why = "bad base64 character";
      return false;
    }
    v[n++] = x;
  }
  if (n % 4) {
    *why = "truncated base64 data";
    return false;
  }
  out->resize(at + n / 4 * 3);
  uint8_t* o = out->data() + at;
  size_t i = 0;
  // Every group but the last is whole: no padding.
  for (; i + 4 < n; i += 4) {
    const uint8_t a = v[i], b = v[i + 1], c = v[i + 2], d = v[i + 3];
    if ((a | b | c | d) & kB64Pad) {
      *why = "bad base64 padding";
      return false;
    }
    o = putGroup(o, (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | d);
  }
  if (i < n) {
    // The last group: up to two "=" at its end.
    int pad = 0;
    uint32_t bits = 0;
    for (int k = 0; k < 4; ++k) {
      const uint8_t x = v[i + size_t(k)];
      if (x == kB64Pad) {
        ++pad;
      } else if (pad) {
        *why = "bad base64 padding";
        return false;
      }
      bits = (bits << 6) | (x == kB64Pad ? 0u : x);
    }
    if (pad > 2) {
      *why = "bad base64 padding";
      return false;
    }
    *o++ = uint8_t(bits >> 16);
    if (pad < 2) *o++ = uint8_t(bits >> 8);
    if (pad < 1) *o++ = uint8_t(bits);
  }
  out->resize(size_t(o - out->data()));
  return true;
}

}  // namespace

// One pass over well-formed text (whole groups, then at most one group with
// its padding); anything else goes to the strict decoder for its verdict. The
// bytes go into out from `at` on; what lies before stays.
bool decodeBase64(const char* text, size_t n, std::vector<uint8_t>* out, std::string* why,
                  size_t at) {
  // Room for the stores that write past the bytes they decode; the final
  // size cuts it off.
  out->resize(at + n / 4 * 3 + 4);
  uint8_t* o = out->data() + at;
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  uint32_t acc = 0;
  int k = 0;
  size_t i = 0;
#if defined(__x86_64__) && defined(__GNUC__)
  const bool blocks = hasSsse3();
#endif
  for (; i < n; ++i) {
#if defined(__x86_64__) && defined(__GNUC__)
    // Whole blocks of sixteen first when a group starts here.
    if (blocks && k == 0) {
      const size_t taken = decodeBlocksSsse3(p + i, n - i, o);
      i += taken;
      o += taken / 4 * 3;
    }
#endif
    // A whole group of four at once when it starts here. Its three bytes go
    // out in one four-byte store: the room past the groups takes the fourth,
    // which the next group or the final size covers.
    while (k == 0 && i + 4 <= n) {
      const uint32_t bits = kB64Places.v[0][p[i]] | kB64Places.v[1][p[i + 1]] |
                            kB64Places.v[2][p[i + 2]] | kB64Places.v[3][p[i + 3]];
      if (bits >> 24) break;
      const uint32_t bytes = __builtin_bswap32(bits << 8);  // the three, high byte first
      std::memcpy(o, &bytes, 4);
      o += 3;
      i += 4;
    }
    if (i >= n) break;
    const uint8_t x = kB64.v[p[i]];
    if (x < 64) {
      acc = (acc << 6) | x;
      if (++k == 4) {
        o = putGroup(o, acc);
        k = 0;
        acc = 0;
      }
    } else if (x != kB64Space) {
      break;
    }
  }
  bool done = i == n && k == 0;
  if (i < n && kB64.v[p[i]] == kB64Pad && (k == 2 || k == 3)) {
    size_t pads = 0;
    bool clean = true;
    for (size_t j = i; j < n && clean; ++j) {
      const uint8_t y = kB64.v[p[j]];
      if (y == kB64Pad)
        ++pads;
      else
        clean = y == kB64Space;
    }
    if (clean && size_t(k) + pads == 4) {
      acc <<= 6 * pads;
      *o++ = uint8_t(acc >> 16);
      if (k == 3) *o++ = uint8_t(acc >> 8);
      done = true;
    }
  }
  if (!done) return decodeBase64Strict(text, n, out, why, at);
  out->resize(size_t(o - out->data()));
  return true;
}

void encodeBase64(const std::vector<uint8_t>& in, std::string& out) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t col = 0;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t b = uint32_t(in[i]) << 16;
    if (i + 1 < in.size()) b |= uint32_t(in[i + 1]) << 8;
    if (i + 2 < in.size()) b |= in[i + 2];
    char q[4] = {a[(b >> 18) & 63], a[(b >> 12) & 63], i + 1 < in.size() ? a[(b >> 6) & 63] : '=',
                 i + 2 < in.size() ? a[b & 63] : '='};
    out.append(q, 4);
    col += 4;
    if (col == 72) {
      out += '\n';
      col = 0;
    }
  }
  if (col) out += '\n';
}

void escapeText(const std::string& s, std::string& out, bool breaks) {
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += breaks ? "<break/>" : "\n"; break;
      default: out += c;
    }
  }
}

void escapeAttr(const std::string& s, std::string& out) {
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += "&#10;"; break;
      case '\t': out += "&#9;"; break;
      default: out += c;
    }
  }
}

}  // namespace nnstore::dxl
