#include "host/base64.h"

#include <cstring>

namespace kv {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DecodeChar(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

uint64_t Base64EncodedLength(uint64_t len, uint32_t lineWidth) {
  uint64_t chars = (len + 2) / 3 * 4;
  if (lineWidth > 0 && chars > 0) chars += (chars - 1) / lineWidth * 2;
  return chars;
}

uint32_t Base64EncodeOut(char* out, const void* data, uint32_t len, uint32_t lineWidth,
                         uint32_t /*reserved1*/, uint32_t /*reserved2*/) {
  if (out == nullptr) return 0;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  if (p == nullptr) len = 0;
  uint32_t w = 0;
  uint32_t col = 0;
  auto put = [&](char c) {
    if (lineWidth > 0 && col == lineWidth) {
      out[w++] = '\r';
      out[w++] = '\n';
      col = 0;
    }
    out[w++] = c;
    ++col;
  };
  uint32_t i = 0;
  for (; i + 3 <= len; i += 3) {
    uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put(kAlphabet[v & 63]);
  }
  if (len - i == 1) {
    uint32_t v = uint32_t(p[i]) << 16;
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put('=');
    put('=');
  } else if (len - i == 2) {
    uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8);
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put('=');
  }
  out[w] = '\0';
  return w;
}

NnStatus Base64EncodeChecked(char* out, uint32_t outSize, const void* data, uint32_t len,
                             uint32_t lineWidth, uint32_t* written) {
  if (written) *written = 0;
  if (out == nullptr) return NN_ERR_INVALID_ARG;
  uint64_t need = Base64EncodedLength(data ? len : 0, lineWidth) + 1;
  if (need > outSize) return NN_ERR_MEMORY;
  uint32_t n = Base64EncodeOut(out, data, len, lineWidth);
  if (written) *written = n;
  return NN_OK;
}

std::string Base64Encode(const void* data, size_t len) {
  std::string s;
  if (data == nullptr || len == 0) return s;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  s.reserve((len + 2) / 3 * 4);
  // In slices that the 32-bit encoder takes, each a multiple of 3 bytes.
  const size_t slice = 3u << 20;
  std::string buf(Base64EncodedLength(slice) + 1, '\0');
  while (len > 0) {
    size_t n = len < slice ? len : slice;
    uint32_t w = Base64EncodeOut(buf.data(), p, uint32_t(n));
    s.append(buf.data(), w);
    p += n;
    len -= n;
  }
  return s;
}

uint32_t Base64DecodeN(const char* text, size_t textLen, void* out, uint32_t size) {
  if (text == nullptr || out == nullptr) return 0;
  unsigned char* o = static_cast<unsigned char*>(out);
  uint32_t w = 0;
  uint32_t acc = 0;
  int bits = 0;
  for (size_t i = 0; i < textLen; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsSpace(c)) continue;
    int v = DecodeChar(c);
    if (v < 0) break;  // "=" padding or a foreign character ends the data
    acc = ((acc << 6) | uint32_t(v)) & 0xFFFFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (w >= size) return w;
      o[w++] = static_cast<unsigned char>(acc >> bits);
    }
  }
  return w;
}

uint32_t Base64DecodeBuffer(const char* text, void* out, uint32_t size) {
  if (text == nullptr) return 0;
  return Base64DecodeN(text, std::strlen(text), out, size);
}

}  // namespace kv
