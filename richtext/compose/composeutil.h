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
// The hide-when record (0xFFBB) of paragraph definition `id`: the compiled
// formula after the record's 14-byte head. A formula the record cannot hold
// whole is refused (NN_ERR_INVALID_ARG), never cut.
NnStatus EmitHideWhenRecord(uint16_t id, const void* formula, uint32_t length,
                            RTProcessContext* ctx);
// A paragraph definition of its own for composed content that `formula`
// hides (a table's cells, a layer's text): the definition the composition
// references by default, under a new identifier (*id), with the hide flag,
// followed by its hide-when record. The caller references *id. In a box (a
// cell, a layer) the margins count from the box's edge.
NnStatus EmitHiddenParagraphDefinition(const void* formula, uint32_t length, bool inBox,
                                       RTProcessContext* ctx, uint16_t* id);
// The reference (131) to paragraph definition `id`.
NnStatus EmitParagraphReferenceTo(uint16_t id, RTProcessContext* ctx);
// Byte length of a file name's extension from its last "." (0 when none).
const char* FileExtension(const char* path);
// The part of a path after its last "\" or "/".
const char* FileBaseName(const char* path);

}  // namespace kv::compose
