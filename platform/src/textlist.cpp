// Text lists in canonical layout: u16 count, count u16 lengths, then the texts
// packed one after another without terminators.
#include <cstring>
#include <string>
#include <vector>

#include "nn/nn.h"
#include "store.h"

using nnstore::rd16;

namespace {

constexpr uint32_t kMaxEntries = 0xFFFF;

// Walks a list of known byte size; on success gives the count, the start of
// entry `index` and its length (when index < count) and the list's used size.
// Every length is checked against size before the bytes it names are touched.
NnStatus walkList(const uint8_t* p, uint32_t size, uint32_t index, uint16_t* count,
                  uint32_t* entryOffset, uint16_t* entryLen, uint32_t* usedSize) {
  if (size < 2) return NN_ERR_BAD_ITEM;
  uint16_t n = rd16(p);
  uint64_t textStart = 2 + 2 * uint64_t(n);
  if (textStart > size) return NN_ERR_BAD_ITEM;
  uint64_t offset = textStart;
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t len = rd16(p + 2 + 2 * i);
    if (i == index) {
      if (entryOffset) *entryOffset = uint32_t(offset);
      if (entryLen) *entryLen = len;
    }
    offset += len;
    if (offset > size) return NN_ERR_BAD_ITEM;
  }
  if (count) *count = n;
  if (usedSize) *usedSize = uint32_t(offset);
  return NN_OK;
}

}  // namespace

NnStatus NnTextListAllocate(uint16_t count, uint16_t /*quota*/, NnHandle* out, uint32_t* size) {
  if (!out) return NN_ERR_INVALID_ARG;
  // The block holds exactly the list; it grows as entries are added, so the
  // text quota needs no reserve here.
  uint32_t bytes = 2 + 2 * uint32_t(count);
  NnHandle h = 0;
  NnStatus st = NnMemAlloc(bytes, NN_MEM_GROWABLE, &h);
  if (st != NN_OK) return st;
  auto* p = static_cast<uint8_t*>(NnMemLock(h));
  if (!p) {
    NnMemFree(h);
    return NN_ERR_MEMORY;
  }
  std::memset(p, 0, bytes);
  p[0] = uint8_t(count);
  p[1] = uint8_t(count >> 8);
  NnMemUnlock(h);
  *out = h;
  if (size) *size = bytes;
  return NN_OK;
}

NnStatus NnTextListAddEntry(NnHandle hList, const char* text, uint16_t len, uint32_t* size) {
  if (!text && len) return NN_ERR_INVALID_ARG;
  auto* p = static_cast<const uint8_t*>(NnMemLock(hList));
  if (!p) return NN_ERR_BAD_HANDLE;
  uint32_t blockSize = NnMemSize(hList);
  uint16_t count = 0;
  uint32_t used = 0;
  NnStatus st = walkList(p, blockSize, kMaxEntries, &count, nullptr, nullptr, &used);
  if (st == NN_OK && count == kMaxEntries) st = NN_ERR_MEMORY;
  if (st != NN_OK) {
    NnMemUnlock(hList);
    return st;
  }
  // Build the new list apart first: the text may point into this very block,
  // and a failed grow must leave the list as it was.
  uint32_t header = 2 + 2 * uint32_t(count);
  std::vector<uint8_t> next;
  next.reserve(size_t(used) + 2 + len);
  nnstore::wr16(next, uint16_t(count + 1));
  next.insert(next.end(), p + 2, p + header);
  nnstore::wr16(next, len);
  next.insert(next.end(), p + header, p + used);
  if (len) next.insert(next.end(), reinterpret_cast<const uint8_t*>(text),
                       reinterpret_cast<const uint8_t*>(text) + len);
  NnMemUnlock(hList);
  if (next.size() > 0xFFFFFFFFu) return NN_ERR_MEMORY;
  uint32_t newSize = uint32_t(next.size());
  if (newSize > blockSize) {
    st = NnMemRealloc(hList, newSize);
    if (st != NN_OK) return st;
  }
  auto* w = static_cast<uint8_t*>(NnMemLock(hList));
  if (!w) return NN_ERR_BAD_HANDLE;
  std::memcpy(w, next.data(), newSize);
  NnMemUnlock(hList);
  if (size) *size = newSize;
  return NN_OK;
}

uint16_t NnTextListCount(const void* list) {
  return list ? rd16(static_cast<const uint8_t*>(list)) : 0;
}

NnStatus NnTextListGetEntry(const void* list, uint16_t index, const char** text, uint16_t* len) {
  if (!list) return NN_ERR_INVALID_ARG;
  // The caller vouches for the list (one this layer built); only the index is checked.
  const auto* p = static_cast<const uint8_t*>(list);
  uint16_t count = rd16(p);
  if (index >= count) return NN_ERR_INVALID_ARG;
  uint32_t offset = 2 + 2 * uint32_t(count);
  for (uint32_t i = 0; i < index; ++i) offset += rd16(p + 2 + 2 * i);
  if (text) *text = reinterpret_cast<const char*>(p + offset);
  if (len) *len = rd16(p + 2 + 2 * uint32_t(index));
  return NN_OK;
}

NnStatus NnTextListCountChecked(const void* list, uint32_t size, uint16_t* count) {
  if (!list || !count) return NN_ERR_INVALID_ARG;
  uint16_t n = 0;
  NnStatus st = walkList(static_cast<const uint8_t*>(list), size, kMaxEntries, &n, nullptr,
                         nullptr, nullptr);
  if (st == NN_OK) *count = n;
  return st;
}

NnStatus NnTextListGetEntryChecked(const void* list, uint32_t size, uint16_t index,
                                   const char** text, uint16_t* len) {
  if (!list) return NN_ERR_INVALID_ARG;
  const auto* p = static_cast<const uint8_t*>(list);
  uint16_t count = 0;
  uint32_t offset = 0;
  uint16_t entryLen = 0;
  NnStatus st = walkList(p, size, index, &count, &offset, &entryLen, nullptr);
  if (st != NN_OK) return st;
  if (index >= count) return NN_ERR_INVALID_ARG;
  if (text) *text = reinterpret_cast<const char*>(p + offset);
  if (len) *len = entryLen;
  return NN_OK;
}

namespace nnstore {

bool textListEntries(const uint8_t* p, size_t n, std::vector<std::string>* out, size_t* used) {
  if (n < 2) return false;
  uint16_t count = rd16(p);
  size_t off = 2 + size_t(count) * 2;
  if (off > n) return false;
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t len = rd16(p + 2 + 2 * i);
    if (len > n - off) return false;
    out->emplace_back(reinterpret_cast<const char*>(p + off), len);
    off += len;
  }
  if (used) *used = off;
  return true;
}

std::vector<uint8_t> textListValue(const std::vector<std::string>& entries) {
  std::vector<uint8_t> v;
  wr16(v, NN_TYPE_TEXT_LIST);
  wr16(v, uint16_t(entries.size()));
  for (const auto& e : entries) wr16(v, uint16_t(e.size()));
  for (const auto& e : entries) v.insert(v.end(), e.begin(), e.end());
  return v;
}

}  // namespace nnstore
