// Small helpers the composers share: little-endian stores into host records,
// a pool-backed record buffer, and the paragraph and text records that
// recur around composed elements.
#pragma once

#include <cstdint>
#include <cstring>

#include "host/pool.h"
#include "nn/nn.h"

struct RTProcessContext;
class LSXLsiSession;

namespace kv::compose {

inline void PutU16(uint8_t* p, uint32_t offset, uint16_t v) { std::memcpy(p + offset, &v, 2); }
inline void PutU32(uint8_t* p, uint32_t offset, uint32_t v) { std::memcpy(p + offset, &v, 4); }

// A zero-filled record area from the session's pool, freed on scope exit.
class RecordBuffer {
 public:
  RecordBuffer(LSXLsiSession* session, uint32_t size);
  ~RecordBuffer();
  RecordBuffer(const RecordBuffer&) = delete;
  RecordBuffer& operator=(const RecordBuffer&) = delete;
  bool ok() const { return data_ != nullptr; }
  uint8_t* data() { return data_; }
  uint32_t size() const { return size_; }

 private:
  LSXLsiSession* session_;
  uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
};

// The item's current text font (its default when there is no item context).
uint32_t CurrentFont(const RTProcessContext* ctx);
// The paragraph record {129, 2}.
NnStatus EmitParagraphStart(RTProcessContext* ctx);
// The default paragraph reference of the composition (131).
NnStatus EmitParagraphReference(RTProcessContext* ctx);
// An empty text in the item's current font.
NnStatus EmitEmptyText(RTProcessContext* ctx);
// Byte length of a file name's extension from its last "." (0 when none).
const char* FileExtension(const char* path);
// The part of a path after its last "\" or "/".
const char* FileBaseName(const char* path);

}  // namespace kv::compose
