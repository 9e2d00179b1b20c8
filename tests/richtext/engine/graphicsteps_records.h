// Canonical picture records and small pictures for the graphic storage and
// package step tests.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "nn/nn.h"

namespace enginetest {
namespace pictures {

inline Bytes Graphic(uint16_t w, uint16_t h, uint16_t resized = 1, uint8_t flags = 1) {
  Bytes b;
  Put16(b, 0x0099);
  Put32(b, 28);
  Put16(b, w);
  Put16(b, h);
  b.resize(22, 0);
  Put16(b, resized);
  b.push_back(2);
  b.push_back(flags);
  Put16(b, 0);
  return b;
}
inline Bytes ImageHeader(uint16_t type, uint16_t w, uint16_t h, uint32_t segments,
                         uint32_t size = 0) {
  Bytes b;
  Put16(b, 0x007D);
  Put32(b, 28);
  Put16(b, type);
  Put16(b, w);
  Put16(b, h);
  Put32(b, size);
  Put32(b, segments);
  b.resize(28, 0);
  return b;
}
inline Bytes ImageSegment(const Bytes& data) {
  Bytes b;
  const uint16_t stored = uint16_t((data.size() + 1) & ~size_t(1));
  Put16(b, 0x007C);
  Put32(b, 10 + stored);
  Put16(b, uint16_t(data.size()));
  Put16(b, stored);
  b.insert(b.end(), data.begin(), data.end());
  b.resize(10 + stored, 0);
  return b;
}
// The image data record (82) with its segment count.
inline Bytes ImageData(uint16_t type, uint32_t segments) {
  Bytes b{82, 20};
  Put16(b, type);
  Put32(b, 0);
  Put32(b, segments);
  b.resize(20, 0);
  return b;
}
inline Bytes BitmapHeader(uint16_t w, uint16_t h) {
  Bytes b;
  Put16(b, 0x0095);
  Put32(b, 38);
  b.resize(22, 0);
  Put16(b, w);
  Put16(b, h);
  b.resize(38, 0);
  return b;
}
inline Bytes BitmapSegment() {
  Bytes b;
  Put16(b, 0x0096);
  Put32(b, 22);
  b.resize(22, 0x11);
  return b;
}
inline Bytes StorageLink(uint16_t type, const std::string& name) {
  Bytes b;
  Put16(b, 0xFFC4);
  Put16(b, uint16_t(24 + name.size() + 1));
  Put16(b, type);
  b.resize(10, 0);
  Put16(b, uint16_t(name.size() + 1));
  b.resize(24, 0);
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(0);
  return b;
}
inline Bytes SharedImage(const std::string& name, uint32_t flags) {
  Bytes b;
  Put16(b, 0xFFF6);
  Put16(b, uint16_t(26 + 8 + name.size()));
  Put32(b, flags);
  Put16(b, 3);
  Put16(b, 19);
  Put16(b, uint16_t(name.size()));
  Put16(b, 0);
  Put16(b, 0);
  b.resize(26 + 8, 0);
  b.insert(b.end(), name.begin(), name.end());
  return b;
}

inline Bytes AltText(const std::string& text) { return HeadAndText(0xFFCA, text); }

// A GIF drawn by the platform.
inline Bytes Gif(const char* caption = "pic") {
  Bytes buf(65406);
  uint32_t size = uint32_t(buf.size());
  uint16_t w = 0, h = 0;
  if (AnnotateGifToBuffer(caption, "", 12, "txt", 0xFFFFFF, buf.data(), &size, &w, &h) != NN_OK)
    return {};
  buf.resize(size);
  return buf;
}

inline void PutBe32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
inline uint32_t Crc32(const Bytes& b) {
  uint32_t c = 0xFFFFFFFFu;
  for (uint8_t byte : b) {
    c ^= byte;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}
inline void PngChunk(Bytes& png, const char* type, const Bytes& data) {
  PutBe32(png, uint32_t(data.size()));
  Bytes body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  PutBe32(png, Crc32(body));
}
// A real w x h grey PNG (its pixels in one stored deflate block).
inline Bytes Png(uint32_t w, uint32_t h) {
  Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  PutBe32(ihdr, w);
  PutBe32(ihdr, h);
  ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});
  PngChunk(png, "IHDR", ihdr);
  Bytes raw;
  for (uint32_t y = 0; y < h; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), w, uint8_t(y * 7));
  }
  Bytes z{0x78, 0x01, 0x01};
  const uint16_t n = uint16_t(raw.size());
  z.insert(z.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
  z.insert(z.end(), raw.begin(), raw.end());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBe32(z, (b << 16) | a);
  PngChunk(png, "IDAT", z);
  PngChunk(png, "IEND", {});
  return png;
}
// The marker frame of a JPEG of w x h (start, frame header, end).
inline Bytes Jpeg(uint16_t w, uint16_t h) {
  Bytes j{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
  j.insert(j.end(), {0xFF, 0xC0, 0, 11, 8, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8),
                     uint8_t(w), 1, 1, 0x11, 0});
  j.insert(j.end(), {0xFF, 0xD9});
  return j;
}

// Splits picture bytes into image segment records of at most `part` bytes.
inline std::vector<Bytes> Segments(const Bytes& data, size_t part) {
  std::vector<Bytes> out;
  for (size_t at = 0; at < data.size(); at += part)
    out.push_back(ImageSegment(
        Bytes(data.begin() + long(at), data.begin() + long(std::min(data.size(), at + part)))));
  return out;
}

// The bytes of the note's attachment of that name; empty when there is none.
inline Bytes Attachment(NnHandle note, const char* name) {
  NnHandle h = 0;
  uint32_t size = 0;
  if (NnNoteExtractFileToMemory(note, name, &h, &size) != NN_OK) return {};
  const uint8_t* p = static_cast<const uint8_t*>(NnMemLock(h));
  Bytes out(p, p + size);
  NnMemUnlock(h);
  NnMemFree(h);
  return out;
}

// True when `needle` occurs in `hay`.
inline bool Contains(const Bytes& hay, const Bytes& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

}  // namespace pictures
}  // namespace enginetest
