#include "host/pool.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <unordered_map>

#include "host/logging.h"
#include "lsxsessi.h"
#include "nn/nn.h"

// The free blocks of one size, oldest first: the oldest is reused first.
struct FreeList {
  PoolBlock* first = nullptr;
  PoolBlock* last = nullptr;
};

struct MemoryPool {
  std::unordered_map<const void*, PoolBlock*> byData;  // every block but the shared one
  // Blocks held for reuse, by size. A size keeps its (possibly empty) list:
  // blocks come and go without allocating.
  std::map<size_t, FreeList> freeBySize;
  PoolBlock sharedBlock;
  char sharedByte[1] = {0};
  PoolStats stats;
  long failAfter = -1;
  long failAt = -1;   // the request that fails once (tests)
  LSXLsiSession* owner = nullptr;
};

namespace {

size_t RoundUp(size_t size, size_t step) { return (size + step - 1) / step * step; }

// A block of several megabytes (the record list of a large item, the page
// buffer) asks for huge pages: it then faults in a few large pages instead of
// thousands of small ones. Only the whole huge pages inside the block are
// advised; the advice is a hint and its failure changes nothing.
void AdviseHugePages(void* data, size_t size) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (size < 2 * kHuge) return;
  const uintptr_t start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (start + size) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void NotePeak(MemoryPool* pool) {
  size_t held = pool->stats.liveBytes + pool->stats.freeBytes;
  if (held > pool->stats.peakBytes) pool->stats.peakBytes = held;
}

PoolBlock* Fail(MemoryPool* pool, size_t size) {
  if (pool) pool->stats.failures++;
  NnLogMessage(NN_ERR_MEMORY, "Zelko: Unable to allocate %lu bytes of memory",
               static_cast<unsigned long>(size));
  return nullptr;
}

// Takes a block record off the pool's books and gives its storage back.
void Destroy(MemoryPool* pool, PoolBlock* block) {
  pool->byData.erase(block->data);
  std::free(block->data);
  delete block;
}

}  // namespace

size_t PoolClassSize(size_t size) {
  if (size <= 1) return 1;
  if (size <= 32) return 32;
  if (size <= 256) return RoundUp(size, 128);
  if (size <= 4096) return RoundUp(size, 512);
  if (size <= 16384) return RoundUp(size, 2048);
  if (size <= 49152) return RoundUp(size, 16384);
  if (size <= kPoolLargestClass) return kPoolLargestClass;
  return size;
}

MemoryPool* PoolCreate(LSXLsiSession* owner) {
  MemoryPool* pool = new (std::nothrow) MemoryPool;
  if (!pool) return nullptr;
  pool->owner = owner;
  pool->sharedBlock.data = pool->sharedByte;
  pool->sharedBlock.size = 1;
  pool->sharedBlock.requested = 1;
  pool->sharedBlock.inUse = true;
  pool->sharedBlock.shared = true;
  return pool;
}

void PoolRelease(MemoryPool* pool) {
  if (!pool) return;
  const PoolStats& s = pool->stats;
  NnLogMessage(0,
               "Zelko: Memory pool released: %u blocks (%lu bytes) in use, %u free blocks "
               "(%lu bytes), %llu allocations, %llu reused, %llu failed, peak %lu bytes",
               s.liveBlocks, static_cast<unsigned long>(s.liveBytes), s.freeBlocks,
               static_cast<unsigned long>(s.freeBytes),
               static_cast<unsigned long long>(s.allocations),
               static_cast<unsigned long long>(s.reuses),
               static_cast<unsigned long long>(s.failures),
               static_cast<unsigned long>(s.peakBytes));
  bool trace = GetDebugLevel(pool->owner) > 2;
  for (auto& entry : pool->byData) {
    PoolBlock* block = entry.second;
    if (trace && block->inUse) {
      NnLogMessage(0, "Zelko: Block of %lu bytes from line %u in %s not freed",
                   static_cast<unsigned long>(block->requested), block->line,
                   block->file ? block->file : "?");
    }
    std::free(block->data);
    delete block;
  }
  delete pool;
}

PoolBlock* PoolAllocBlock(MemoryPool* pool, uint32_t line, const char* file, size_t size,
                          bool zero) {
  if (!pool) return Fail(nullptr, size);
  if (size <= 1) {
    pool->sharedByte[0] = 0;
    return &pool->sharedBlock;
  }
  if (pool->failAfter == 0) return Fail(pool, size);
  if (pool->failAt > 0 && --pool->failAt == 0) {
    pool->failAt = -1;
    return Fail(pool, size);
  }
  size_t cls = PoolClassSize(size);
  PoolBlock* block = nullptr;
  bool reused = false;
  if (cls <= kPoolLargestClass) {
    // Reuse a free block of this size or of up to twice it: the oldest of
    // the smallest size that has one.
    for (auto it = pool->freeBySize.lower_bound(cls);
         it != pool->freeBySize.end() && it->first <= 2 * cls; ++it) {
      FreeList& list = it->second;
      if (!list.first) continue;
      block = list.first;
      list.first = block->nextFree;
      if (!list.first) list.last = nullptr;
      block->nextFree = nullptr;
      break;
    }
    if (block) {
      pool->stats.freeBlocks--;
      pool->stats.freeBytes -= block->size;
      pool->stats.reuses++;
      reused = true;
    }
  }
  if (!block) {
    block = new (std::nothrow) PoolBlock;
    if (!block) return Fail(pool, size);
    // Fresh zeroed memory comes from calloc: large blocks then stay untouched
    // (and cost no memory) until they are written.
    block->data = zero ? std::calloc(1, cls) : std::malloc(cls);
    if (!block->data) {
      delete block;
      return Fail(pool, size);
    }
    block->size = cls;
    block->own = cls > kPoolLargestClass;
    AdviseHugePages(block->data, cls);
    try {
      pool->byData.emplace(block->data, block);
    } catch (...) {
      std::free(block->data);
      delete block;
      return Fail(pool, size);
    }
  }
  block->inUse = true;
  block->requested = size;
  block->line = line;
  block->file = file;
  if (zero && reused) std::memset(block->data, 0, block->size);
  pool->stats.liveBlocks++;
  pool->stats.liveBytes += block->size;
  pool->stats.allocations++;
  if (pool->failAfter > 0) pool->failAfter--;
  NotePeak(pool);
  return block;
}

void* PoolAlloc(LSXLsiSession* session, uint32_t line, const char* file, size_t size,
                bool zero) {
  PoolBlock* block = PoolAllocBlock(session ? session->pool : nullptr, line, file, size, zero);
  return block ? block->data : nullptr;
}

PoolBlock* PoolFindBlock(MemoryPool* pool, const void* ptr) {
  if (!pool || !ptr) return nullptr;
  if (ptr == pool->sharedByte) return &pool->sharedBlock;
  auto it = pool->byData.find(ptr);
  return it == pool->byData.end() ? nullptr : it->second;
}

void PoolFreeBlock(MemoryPool* pool, PoolBlock* block) {
  if (!pool || !block || block == &pool->sharedBlock) return;
  // Only records of this pool, and only once.
  PoolBlock* known = PoolFindBlock(pool, block->data);
  if (known != block || !block->inUse) {
    if (GetDebugLevel(pool->owner) > 2)
      NnLogMessage(0, "Zelko: Ignored free of an unknown or free pool block");
    return;
  }
  block->inUse = false;
  pool->stats.liveBlocks--;
  pool->stats.liveBytes -= block->size;
  if (block->own) {
    Destroy(pool, block);
    return;
  }
  try {
    FreeList& list = pool->freeBySize[block->size];
    block->nextFree = nullptr;
    if (list.last)
      list.last->nextFree = block;
    else
      list.first = block;
    list.last = block;
  } catch (...) {
    Destroy(pool, block);  // cannot keep it; give it back instead
    return;
  }
  pool->stats.freeBlocks++;
  pool->stats.freeBytes += block->size;
}

void PoolFreePtr(MemoryPool* pool, void* ptr) {
  if (!pool || !ptr || ptr == pool->sharedByte) return;
  PoolBlock* block = PoolFindBlock(pool, ptr);
  if (!block) {
    if (GetDebugLevel(pool->owner) > 2)
      NnLogMessage(0, "Zelko: Ignored free of a pointer not from the pool");
    return;
  }
  PoolFreeBlock(pool, block);
}

void PoolFree(LSXLsiSession* session, void* ptr) {
  if (session) PoolFreePtr(session->pool, ptr);
}

char* PoolStrDup(LSXLsiSession* session, uint32_t line, const char* file, const char* text) {
  if (!text) return nullptr;
  size_t len = std::strlen(text);
  char* copy = static_cast<char*>(PoolAlloc(session, line, file, len + 1, false));
  if (!copy) return nullptr;
  // An empty text lands in the shared block, which already holds its NUL.
  if (len) std::memcpy(copy, text, len + 1);
  return copy;
}

uint32_t PoolTrim(MemoryPool* pool) {
  if (!pool) return 0;
  uint32_t released = 0;
  for (auto& entry : pool->freeBySize) {
    for (PoolBlock* block = entry.second.first; block;) {
      PoolBlock* next = block->nextFree;
      pool->byData.erase(block->data);
      std::free(block->data);
      delete block;
      released++;
      block = next;
    }
  }
  pool->freeBySize.clear();
  pool->stats.freeBlocks = 0;
  pool->stats.freeBytes = 0;
  return released;
}

PoolStats PoolGetStats(const MemoryPool* pool) { return pool ? pool->stats : PoolStats{}; }

void PoolSetFailAfter(MemoryPool* pool, long n) {
  if (pool) pool->failAfter = n < 0 ? -1 : n;
}

void PoolSetFailAt(MemoryPool* pool, long n) {
  if (pool) pool->failAt = n <= 0 ? -1 : n;
}

bool PoolFailPending(const MemoryPool* pool) { return pool && pool->failAt > 0; }
