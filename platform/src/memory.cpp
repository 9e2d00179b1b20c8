// Memory handles: numbered blocks the engine locks to get an address. Handle
// numbers are never reused, so a stale handle is refused instead of reaching
// someone else's block.

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "nn/nn.h"
#include "store.h"

namespace {

// Anything larger is a corrupt length, not a real request.
constexpr uint32_t kMaxBlock = 1u << 30;

struct Block {
  std::unique_ptr<uint8_t[]> data;  // at least one byte, so a lock is never null
  uint32_t size = 0;
  uint32_t locks = 0;
};

struct MemoryTable {
  std::mutex mu;
  std::map<NnHandle, Block> blocks;
  uint32_t nextSerial = 1;
};

MemoryTable& table() {
  static MemoryTable* t = new MemoryTable;  // outlives static destructors of callers
  return *t;
}

bool isMemoryHandle(NnHandle h) {
  return (h & nnstore::kHandleKindMask) == nnstore::kMemoryHandle;
}

std::unique_ptr<uint8_t[]> zeroedBytes(uint32_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size ? size : 1]());
}

}  // namespace

NnStatus NnMemAlloc(uint32_t size, uint16_t /*flags*/, NnHandle* out) {
  if (out == nullptr) return NN_ERR_INVALID_ARG;
  if (size > kMaxBlock) return NN_ERR_MEMORY;
  std::unique_ptr<uint8_t[]> data = zeroedBytes(size);
  if (!data) return NN_ERR_MEMORY;
  MemoryTable& t = table();
  std::lock_guard<std::mutex> lock(t.mu);
  if (t.nextSerial > ~nnstore::kHandleKindMask) return NN_ERR_MEMORY;  // numbers exhausted
  NnHandle h = nnstore::kMemoryHandle | t.nextSerial++;
  Block& b = t.blocks[h];
  b.data = std::move(data);
  b.size = size;
  *out = h;
  return NN_OK;
}

void* NnMemLock(NnHandle h) {
  if (!isMemoryHandle(h)) return nullptr;
  MemoryTable& t = table();
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.blocks.find(h);
  if (it == t.blocks.end()) return nullptr;
  ++it->second.locks;
  return it->second.data.get();
}

NnStatus NnMemUnlock(NnHandle h) {
  if (!isMemoryHandle(h)) return NN_ERR_BAD_HANDLE;
  MemoryTable& t = table();
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.blocks.find(h);
  if (it == t.blocks.end()) return NN_ERR_BAD_HANDLE;
  if (it->second.locks > 0) --it->second.locks;
  return NN_OK;
}

NnStatus NnMemFree(NnHandle h) {
  if (!isMemoryHandle(h)) return NN_ERR_BAD_HANDLE;
  MemoryTable& t = table();
  std::unique_ptr<uint8_t[]> doomed;  // released outside the lock
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.blocks.find(h);
  if (it == t.blocks.end()) return NN_ERR_BAD_HANDLE;
  doomed = std::move(it->second.data);
  t.blocks.erase(it);
  return NN_OK;
}

NnStatus NnMemRealloc(NnHandle h, uint32_t newSize) {
  if (!isMemoryHandle(h)) return NN_ERR_BAD_HANDLE;
  if (newSize > kMaxBlock) {
    // Still tell a bad handle apart from a bad size.
    MemoryTable& t = table();
    std::lock_guard<std::mutex> lock(t.mu);
    return t.blocks.count(h) ? NN_ERR_MEMORY : NN_ERR_BAD_HANDLE;
  }
  std::unique_ptr<uint8_t[]> fresh = zeroedBytes(newSize);
  if (!fresh) return NN_ERR_MEMORY;
  MemoryTable& t = table();
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.blocks.find(h);
  if (it == t.blocks.end()) return NN_ERR_BAD_HANDLE;
  Block& b = it->second;
  std::memcpy(fresh.get(), b.data.get(), b.size < newSize ? b.size : newSize);
  // The old block is swapped out (and freed when `fresh` goes): the block
  // moves, as a reallocation may, so addresses taken by earlier locks go stale.
  b.data.swap(fresh);
  b.size = newSize;
  return NN_OK;
}

uint32_t NnMemSize(NnHandle h) {
  if (!isMemoryHandle(h)) return 0;
  MemoryTable& t = table();
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.blocks.find(h);
  return it == t.blocks.end() ? 0 : it->second.size;
}

size_t NnMemLiveCount() {
  MemoryTable& t = table();
  std::lock_guard<std::mutex> lock(t.mu);
  return t.blocks.size();
}
