// The session's tracked memory pool.
//
// Size classes: a request of up to 32 bytes takes a 32-byte block, up to 256
// the next multiple of 128, up to 4,096 the next multiple of 512, up to 16,384
// the next multiple of 2,048, up to 49,152 the next multiple of 16,384, and up
// to 65,406 a 65,406-byte block. A larger request gets an allocation of its
// own, which is released at once when freed. A request of 0 or 1 byte shares
// one empty block (a single NUL byte) that is never freed.
//
// Freed blocks stay in the pool; a free block of the request's class size, or
// of at most twice that size, is reused before new storage is taken. PoolTrim
// gives the free blocks back. Releasing the pool frees everything and logs a
// usage report.
//
// A failed allocation logs "Zelko: Unable to allocate %lu bytes of memory"
// with status 263 and yields null. The pool is not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

class LSXLsiSession;
struct MemoryPool;

// The record of one block. `data` is the caller's storage of `size` bytes.
struct PoolBlock {
  void* data = nullptr;
  size_t size = 0;          // capacity (the class size, or the request for own blocks)
  size_t requested = 0;     // the size last asked for
  uint32_t line = 0;        // source line and file of the last allocation
  const char* file = nullptr;
  bool inUse = false;
  bool own = false;         // an allocation of its own (above 65,406 bytes)
  bool shared = false;      // the shared one-byte block
  PoolBlock* nextFree = nullptr;  // the block freed after it, of its size (while free)
};

// Largest class block; larger requests get their own allocation.
constexpr size_t kPoolLargestClass = 65406;

// The class size a request gets (0 and 1 give 1, the shared block).
size_t PoolClassSize(size_t size);

// `owner` (may be null) gives the debug level for the pool's traces.
MemoryPool* PoolCreate(LSXLsiSession* owner = nullptr);
// Frees every block (in use or not), logs the usage report and deletes the pool.
void PoolRelease(MemoryPool* pool);

// Storage of `size` bytes (zero-filled when `zero`), or null on failure.
void* PoolAlloc(LSXLsiSession* session, uint32_t line, const char* file, size_t size,
                bool zero);
PoolBlock* PoolAllocBlock(MemoryPool* pool, uint32_t line, const char* file, size_t size,
                          bool zero);
// Returns the block of `ptr` to the pool. Null, the shared block and pointers
// the pool does not know are ignored (the last logged above debug level 2).
void PoolFree(LSXLsiSession* session, void* ptr);
void PoolFreePtr(MemoryPool* pool, void* ptr);
void PoolFreeBlock(MemoryPool* pool, PoolBlock* block);
// A pool copy of text (NUL-terminated), or null (null text or failure).
char* PoolStrDup(LSXLsiSession* session, uint32_t line, const char* file, const char* text);
// The block record of a pointer the pool handed out, or null.
PoolBlock* PoolFindBlock(MemoryPool* pool, const void* ptr);

// Gives free blocks back; returns how many were released.
uint32_t PoolTrim(MemoryPool* pool);

// Counters.
struct PoolStats {
  uint32_t liveBlocks = 0;     // blocks in use (the shared block not counted)
  size_t liveBytes = 0;        // their capacity
  uint32_t freeBlocks = 0;     // blocks held free for reuse
  size_t freeBytes = 0;
  uint64_t allocations = 0;    // successful requests
  uint64_t reuses = 0;         // requests served by a free block
  uint64_t failures = 0;
  size_t peakBytes = 0;        // largest live + free capacity held
};
PoolStats PoolGetStats(const MemoryPool* pool);

// For tests: after `n` more requests succeed, every further request fails
// (the shared one-byte block never fails). A negative n turns this off.
void PoolSetFailAfter(MemoryPool* pool, long n);
// For tests: the n-th request from now (n >= 1) fails, that one only; 0 or a
// negative n turns this off. PoolFailPending: that request has not come yet.
void PoolSetFailAt(MemoryPool* pool, long n);
bool PoolFailPending(const MemoryPool* pool);

// Convenience with the caller's source position.
#define POOL_ALLOC(session, size, zero) PoolAlloc((session), __LINE__, __FILE__, (size), (zero))
#define POOL_STRDUP(session, text) PoolStrDup((session), __LINE__, __FILE__, (text))
